#include "chunkit_/chunkit_.h"
#include "runtime/run.h"
#include "runtime/stop.h"

int main(int argc, char** argv) {
  rt::start_runtime(argc, argv);
  chunkit::chunkit_main();
}
