// Runs a real program for end-to-end tests: in a directory, with given arguments and standard
// input (a pipe, or a pseudo-terminal for both standard input and output), capturing standard
// output, standard error and the exit status exactly.
#pragma once

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
// tool under Wine, Wine starts it.
Result run(const std::string& dir, const std::vector<std::string>& args,
           const std::string& input = "");

// Standard input and output are one pseudo-terminal; `input` is typed line by line, each
// line only after the program has asked for input (its output has gone quiet).
Result run_in_terminal(const std::string& dir, const std::vector<std::string>& args,
                       const std::vector<std::string>& lines = {});

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
