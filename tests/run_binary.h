// The harness of the end-to-end tests. It runs a real program in a directory, with given
// arguments and standard input (a pipe, or a pseudo-terminal for both standard input and
// output), capturing standard output, standard error and the exit status exactly, or starts it
// on given descriptors; it makes record files and temporary folders that run the tool and show
// what it left.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <set>
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

// The words of `head`, then those of `tail`.
std::vector<std::string> concat(std::vector<std::string> head,
                                const std::vector<std::string>& tail);

// The arguments of a whole copy of in.dat into out.dat that asks nothing.
inline const std::vector<std::string> kWholeCopy = {"in.dat", "out.dat", "0", "0", "0", "0"};

// A standard handle of a process that spawn starts: a descriptor of this process, closed
// (kClosed), or a file the process opens: the null device (kNull), or a file it creates in its
// folder.
struct Handle {
  Handle(int descriptor) : fd(descriptor) {}
  Handle(const char* name) : file(name) {}
  int fd = -1;
  std::string file;
};
inline const Handle kClosed = -1;
inline const Handle kNull = "/dev/null";

// Starts the native tool in `dir` with `args` after its name and the given standard handles,
// with the default signal actions, no signal blocked and no core file. `prepare` runs in the
// child just before the tool replaces it.
pid_t spawn(const std::string& dir, const std::vector<std::string>& args, const Handle& in,
            const Handle& out, const Handle& err, const std::function<void()>& prepare = {});

// Waits for child `pid` to end: its status and signal (out and err stay empty).
Result wait_for(pid_t pid);

// The bytes of the file at `path` ("" when it cannot be read).
std::string read_all(const std::string& path);

// Record files: n whole records of type 1 (no decoded preface) whose bytes tell record and
// position apart. Byte k (from 0) of the record numbered r is (3k + 7r) & 0x7F after the type
// byte; the records are numbered from `first`.
std::string type1_records(int n, int first = 0);

// Sets bytes of record `rec` (from 1) of `file`, given as "position=hex ..." with positions
// from 1 ("1=02 2=3C 3=00": type 2 without its dated preface), in that order.
void set_bytes(std::string& file, int rec, const std::string& bytes);

// Prefaces to give set_bytes. A dated preface of type 2 with its mark: year 99, day 123,
// 23:59:59; its two status values follow in bytes 12-14 and 15-17. A dated preface of type 15
// with its marks, for a record whose bytes 2 to 48 are 0: year 07, day 365, 01:02:03; its status
// values follow in bytes 19-21 and 22-24.
inline const std::string kDated = "1=02 2=3C 3=FF 4=99 5=01 6=23 7=00 8=00 9=23 10=59 11=59 ";
inline const std::string kDated15 = "1=0F 4=CC 5=CC 10=FF 11=07 12=03 13=65 16=01 17=02 18=03 ";

// A recording over three days, each dated record (type 2) followed by an undated one (type 1):
//   1-4    1999-365 22:00:00 and 23:00:00
//   5-8    2000-001 00:00:00 and 01:00:00  (the century: 99-365, then 00-001)
//   9-14   2000-001 12:00:00, 11:30:00, 13:00:00  (a second session, after a gap of 11 hours;
//          the clock goes back once, at record 11)
//   15-16  00-001 25:00:00, a time that does not exist: neither record has a time
//   17-18  2000-002 00:00:00
//   19     2000-002 01:00:00, its two status values unequal (3 and 4)
//   20     type 2 with its mark but no dated preface: a bad preface (type -98), time of 19
//   21     a short final record, undated: 1000 bytes, of which 700 are data, time of 19
std::string three_day_file();
inline constexpr int kThreeDayRecords = 21;

// A fresh, empty temporary directory, removed by the destructor, and the verbs of a test in it:
// make files and folders, run the tool there, look at what it left.
class TempDir {
 public:
  // Holds the given files, by name and bytes.
  explicit TempDir(const std::map<std::string, std::string>& files = {});
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& data) const;
  void mkdir(const std::string& name) const;  // with the folders above it
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

  // The tool, with `args` after its name and `input` as its standard input (run).
  Result run(const std::vector<std::string>& args, const std::string& input = "") const;
  // The tool at a terminal `columns` wide, with `args` and the lines typed (run_in_terminal).
  Result type(const std::vector<std::string>& args, const std::vector<std::string>& lines = {},
              unsigned short columns = 80) const;

  // The names of the entries in the folder itself.
  std::set<std::string> names() const;
  // Every file and folder under it, by path relative to it: its bytes, or "<folder>".
  std::map<std::string, std::string> contents() const;

 private:
  std::string path_;
};

}  // namespace e2e
