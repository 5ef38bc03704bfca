#include "chunkit_/chunkit_.h"
#include "runtime/run.h"

int main(int argc, char** argv) {
  rt::Status status = rt::start_runtime(argc, argv);
  if (status.ok()) status = chunkit::chunkit_main();
  rt::exit_run(rt::end_run(status, chunkit::ending_form()));
}
