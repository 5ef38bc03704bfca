// Runs a real program for end-to-end tests: in a directory, with given arguments and standard
// input (a pipe, or a pseudo-terminal for both standard input and output), capturing standard
// output, standard error and the exit status exactly.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace e2e {

struct Result {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when ended by a signal
  int signal = 0;
};

// The tool under test: the Windows build named by CHUNKIT_EXE when that is set (it runs under
// the Wine named by CHUNKIT_WINE), else the native binary built with these tests.
const std::string& tool();
bool under_wine();

// Standard input and output are pipes; standard error is a separate pipe. When args[0] is the
// tool under Wine, Wine starts it. `meanwhile`, when given, runs on a thread of its own with the
// process id while the output is collected; it must not wait for the process to end.
Result run(const std::string& dir, const std::vector<std::string>& args,
           const std::string& input = "", const std::function<void(pid_t)>& meanwhile = {});

// Standard input and output are one pseudo-terminal, `columns` wide; `lines` are typed one by
// one, each only once the program waits for it: once it waits to read the terminal (waits_on)
// after taking the line before. Under Wine the program has a Windows console, drawn on the
// terminal by Wine's console host, which keeps typed keys until the program reads them: there
// the lines are typed once the host has switched the terminal to raw input. A line "\x03" is
// Ctrl-C, typed without a line end.
Result run_in_terminal(const std::string& dir, const std::vector<std::string>& args,
                       const std::vector<std::string>& lines = {}, unsigned short columns = 80);

// Whether process `pid` waits for the file at `path`: it sleeps in a read (events POLLIN) or a
// write (POLLOUT) on a descriptor open on that file, or in a poll for those events on one.
// Linux shows a call in /proc/PID/syscall only while the process sleeps in it; the poll's
// descriptors are read from the process's memory.
bool waits_on(pid_t pid, const std::string& path, short events);

// Polls `condition` until it holds (true) or child `pid` has ended (false). The child is not
// reaped.
bool wait_until(pid_t pid, const std::function<bool()>& condition);

// n whole records of type 1 (no decoded preface) whose bytes tell record and position apart.
std::string type1_records(int n);

// A fresh, empty temporary directory, removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& data) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace e2e
