#include "run_binary.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace e2e {

std::vector<std::string> concat(std::vector<std::string> head,
                                const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

std::string type1_records(int n, int first) {
  std::string data(static_cast<std::size_t>(n) * 4096, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<char>((i * 3 + (i / 4096 + static_cast<std::size_t>(first)) * 7) & 0x7F);
  }
  for (std::size_t r = 0; r < data.size(); r += 4096) data[r] = 0x01;
  return data;
}

void set_bytes(std::string& file, int rec, const std::string& bytes) {
  std::istringstream in(bytes);
  for (std::string item; in >> item;) {
    const std::size_t eq = item.find('=');
    file.at(static_cast<std::size_t>(rec - 1) * 4096 + std::stoul(item.substr(0, eq)) - 1) =
        static_cast<char>(std::stoi(item.substr(eq + 1), nullptr, 16));
  }
}

std::string three_day_file() {
  std::string data = type1_records(kThreeDayRecords);
  for (int r = 1; r <= kThreeDayRecords; ++r)
    std::fill_n(data.begin() + (r - 1) * 4096 + 1, 47, '\0');
  // Dated records: year, day of the year, hours, minutes, seconds, as the preface holds them.
  const struct {
    int rec;
    const char* bytes;
  } dated[] = {
      {1, "4=99 5=03 6=65 9=22 10=00 11=00"},  {3, "4=99 5=03 6=65 9=23 10=00 11=00"},
      {5, "4=00 5=00 6=01 9=00 10=00 11=00"},  {7, "4=00 5=00 6=01 9=01 10=00 11=00"},
      {9, "4=00 5=00 6=01 9=12 10=00 11=00"},  {11, "4=00 5=00 6=01 9=11 10=30 11=00"},
      {13, "4=00 5=00 6=01 9=13 10=00 11=00"}, {15, "4=00 5=00 6=01 9=25 10=00 11=00"},
      {17, "4=00 5=00 6=02 9=00 10=00 11=00"}, {19, "4=00 5=00 6=02 9=01 10=00 11=00 14=03 17=04"},
  };
  for (const auto& d : dated) set_bytes(data, d.rec, std::string("1=02 2=3C 3=FF ") + d.bytes);
  set_bytes(data, 20, "1=02 2=3C 3=00");
  data.resize(data.size() - 4096 + 1000);
  std::fill(data.end() - 300, data.end(), '\xFF');
  return data;
}

std::string read_all(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}
namespace {

const char* env_or(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? v : fallback;
}

std::string& wine() {
  static std::string path = env_or("CHUNKIT_WINE", "/usr/lib/wine/wine64");
  return path;
}

// Whether the program runs under Wine: the tool of a Windows build, or Wine named itself.
bool wine_runs(const std::vector<std::string>& args) {
  return !args.empty() && ((under_wine() && args[0] == tool()) || args[0] == wine());
}

std::vector<char*> argv_of(const std::vector<std::string>& args) {
  std::vector<char*> v;
  if (under_wine() && !args.empty() && args[0] == tool()) v.push_back(wine().data());
  for (const std::string& a : args) v.push_back(const_cast<char*>(a.c_str()));
  v.push_back(nullptr);
  return v;
}

void finish(pid_t pid, Result* r) {
  int ws = 0;
  waitpid(pid, &ws, 0);
  if (WIFEXITED(ws)) r->status = WEXITSTATUS(ws);
  if (WIFSIGNALED(ws)) r->signal = WTERMSIG(ws);
}

}  // namespace

const std::string& tool() {
  static const std::string path = env_or("CHUNKIT_EXE", CHUNKIT_BIN);
  return path;
}

bool under_wine() {
  return tool() != CHUNKIT_BIN;
}

namespace {

Result run_once(const std::string& dir, const std::vector<std::string>& args,
                const std::string& input, const std::function<void(pid_t)>& meanwhile) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) std::abort();
  std::vector<char*> argv = argv_of(args);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    if (chdir(dir.c_str()) != 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  std::thread beside;
  if (meanwhile) beside = std::thread(meanwhile, pid);
  Result r;
  std::size_t fed = 0;
  if (input.empty()) close(in[1]);
  fcntl(in[1], F_SETFL, O_NONBLOCK);
  bool in_open = !input.empty(), out_open = true, err_open = true;
  while (out_open || err_open) {
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in_open ? in[1] : -1, POLLOUT, 0}};
    poll(fds, 3, -1);
    char buf[65536];
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(n));
      } else {
        (i == 0 ? out_open : err_open) = false;
      }
    }
    if (in_open && fds[2].revents != 0) {
      ssize_t n = write(in[1], input.data() + fed, input.size() - fed);
      if (n > 0) fed += static_cast<std::size_t>(n);
      if (n < 0 || fed == input.size()) {
        close(in[1]);
        in_open = false;
      }
    }
  }
  if (in_open) close(in[1]);
  close(out[0]);
  close(err[0]);
  if (beside.joinable()) beside.join();
  finish(pid, &r);
  return r;
}

// Bytes the process has read so far, from /proc/PID/io.
long long chars_read(pid_t pid) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string key;
  long long value = -1;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return -1;
}

// Whether /proc/PID/syscall shows this process's calls to us.
bool shows_calls(pid_t pid) {
  std::ifstream syscall("/proc/" + std::to_string(pid) + "/syscall");
  std::string first;
  return static_cast<bool>(syscall >> first);
}

}  // namespace

// The tool always writes something, to standard output or standard error. Under Wine a run
// that wrote nothing at all never started properly (seen once in many runs), so it is tried
// again; a tool that really writes nothing still fails.
Result run(const std::string& dir, const std::vector<std::string>& args, const std::string& input,
           const std::function<void(pid_t)>& meanwhile) {
  Result r = run_once(dir, args, input, meanwhile);
  for (int retry = 0; retry < 2 && under_wine() && r.out.empty() && r.err.empty(); ++retry) {
    r = run_once(dir, args, input, meanwhile);
  }
  return r;
}

Result run_in_terminal(const std::string& dir, const std::vector<std::string>& args,
                       const std::vector<std::string>& lines, unsigned short columns) {
  int err[2];
  if (pipe(err) != 0) std::abort();
  std::vector<char*> argv = argv_of(args);
  int master = -1;
  // Tall enough that no test's output scrolls.
  winsize size{};
  size.ws_row = 500;
  size.ws_col = columns;
  // The terminal as a user has it: lines typed are echoed and end with CR LF on the screen.
  pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid == 0) {
    dup2(err[1], 2);
    close(err[0]);
    close(err[1]);
    if (chdir(dir.c_str()) != 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(err[1]);
  char terminal[128] = "";
  if (ptsname_r(master, terminal, sizeof terminal) != 0) std::abort();
  // The program waits for the next line when it waits to read the terminal and has read
  // something since the line before was typed (that line has reached it): typed any earlier,
  // a line could meet the program anywhere before its prompt. Under Wine a console host reads
  // the terminal for the program and keeps what is typed until the program reads it, as a
  // Windows console does; it takes keys once it has switched the terminal to raw input.
  const bool console = wine_runs(args);
  const bool observed = console || (chars_read(pid) >= 0 && shows_calls(pid));
  auto console_takes_keys = [&] {
    termios now{};
    return tcgetattr(master, &now) == 0 && (now.c_lflag & ICANON) == 0;
  };
  long long read_before = -1;  // what the program had read when the last line was typed
  // The count is read first: a wait seen after it is a wait after the line before was taken.
  // Seen the other way round, the wait could be the one for that very line.
  auto waits_for_line = [&] {
    if (console) return console_takes_keys();
    const long long now = chars_read(pid);
    if (now <= read_before || !waits_on(pid, terminal, POLLIN)) return false;
    read_before = now;
    return true;
  };
  Result r;
  std::size_t next_line = 0;
  bool out_open = true, err_open = true;
  while (out_open || err_open) {
    const bool to_type = next_line < lines.size();
    pollfd fds[2] = {{out_open ? master : -1, POLLIN, 0}, {err_open ? err[0] : -1, POLLIN, 0}};
    const int ready = poll(fds, 2, !to_type ? -1 : observed ? 1 : 300);
    if (to_type && (observed ? waits_for_line() : ready == 0)) {
      // The console takes Enter as a carriage return; Ctrl-C goes as it is.
      std::string line = lines[next_line++];
      if (line != "\x03") line += console ? "\r" : "\n";
      if (write(master, line.data(), line.size()) < 0) break;
      continue;
    }
    char buf[65536];
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(n));
      } else {
        (i == 0 ? out_open : err_open) = false;
      }
    }
  }
  close(master);
  close(err[0]);
  finish(pid, &r);
  return r;
}

bool waits_on(pid_t pid, const std::string& path, short events) {
  const std::string proc = "/proc/" + std::to_string(pid);
  // "NR ARG1 ARG2 ..." while it sleeps in a call, else "running" or "-1 ...".
  std::ifstream syscall(proc + "/syscall");
  long nr = -1;
  std::string arg1, arg2;
  if (!(syscall >> nr >> arg1 >> arg2)) return false;
  const unsigned long long first = std::strtoull(arg1.c_str(), nullptr, 16);
  const unsigned long long second = std::strtoull(arg2.c_str(), nullptr, 16);
  struct stat want {};
  if (stat(path.c_str(), &want) != 0) return false;
  auto on_file = [&](unsigned long long fd) {
    struct stat st {};
    return stat((proc + "/fd/" + std::to_string(fd)).c_str(), &st) == 0 &&
           st.st_dev == want.st_dev && st.st_ino == want.st_ino;
  };
  if (nr == SYS_read || nr == SYS_readv || nr == SYS_pread64) {
    return (events & POLLIN) != 0 && on_file(first);
  }
  if (nr == SYS_write || nr == SYS_writev || nr == SYS_pwrite64) {
    return (events & POLLOUT) != 0 && on_file(first);
  }
  bool polls = nr == SYS_ppoll;
#ifdef SYS_poll
  polls = polls || nr == SYS_poll;
#endif
  if (!polls || second == 0 || second > 64) return false;
  std::vector<pollfd> fds(second);
  const std::size_t size = fds.size() * sizeof(pollfd);
  const int mem = open((proc + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
  if (mem < 0) return false;
  const bool got =
      pread(mem, fds.data(), size, static_cast<off_t>(first)) == static_cast<ssize_t>(size);
  close(mem);
  for (const pollfd& f : fds) {
    if (got && f.fd >= 0 && (f.events & events) != 0 && on_file(static_cast<unsigned>(f.fd))) {
      return true;
    }
  }
  return false;
}

pid_t spawn(const std::string& dir, const std::vector<std::string>& args, const Handle& in,
            const Handle& out, const Handle& err, const std::function<void()>& prepare) {
  std::vector<std::string> words = concat({CHUNKIT_BIN}, args);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const Handle* handles[3] = {&in, &out, &err};
  std::string paths[3];
  for (int i = 0; i < 3; ++i) {
    const std::string& name = handles[i]->file;
    paths[i] = name.empty() || name[0] == '/' ? name : dir + "/" + name;
  }
  pid_t pid = fork();
  if (pid != 0) return pid;
  // Every descriptor is moved above 2 first, so that none is overwritten before it is used.
  int fds[3];
  for (int i = 0; i < 3; ++i) {
    fds[i] = paths[i].empty()         ? handles[i]->fd
             : paths[i] == kNull.file ? open(paths[i].c_str(), O_RDWR)
                                      : open(paths[i].c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!paths[i].empty() && fds[i] < 0) _exit(125);
    if (fds[i] >= 0) fds[i] = fcntl(fds[i], F_DUPFD, 10);
  }
  for (int i = 0; i < 3; ++i) {
    if (fds[i] >= 0) {
      dup2(fds[i], i);
    } else {
      close(i);
    }
  }
  for (int fd = 3; fd < 1024; ++fd) close(fd);
  // The tool starts with the default actions (the test runner may ignore some), no core files.
  for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  rlimit no_core = {0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  if (prepare) prepare();
  if (chdir(dir.c_str()) != 0) _exit(126);
  execv(argv[0], argv.data());
  _exit(127);
}

Result wait_for(pid_t pid) {
  int ws = 0;
  while (waitpid(pid, &ws, 0) < 0 && errno == EINTR) {
  }
  Result r;
  if (WIFEXITED(ws)) r.status = WEXITSTATUS(ws);
  if (WIFSIGNALED(ws)) r.signal = WTERMSIG(ws);
  return r;
}

bool wait_until(pid_t pid, const std::function<bool()>& condition) {
  for (;;) {
    if (condition()) return true;
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid == pid) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

TempDir::TempDir(const std::map<std::string, std::string>& files) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "chunkit-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) std::abort();
  path_ = tmpl;
  for (const auto& [name, data] : files) write(name, data);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& data) const {
  std::ofstream(file(name), std::ios::binary) << data;
}

void TempDir::mkdir(const std::string& name) const {
  std::filesystem::create_directories(file(name));
}

std::string TempDir::read(const std::string& name) const {
  return read_all(file(name));
}

bool TempDir::exists(const std::string& name) const {
  return std::filesystem::exists(std::filesystem::symlink_status(file(name)));
}

Result TempDir::run(const std::vector<std::string>& args, const std::string& input) const {
  return e2e::run(path_, concat({tool()}, args), input);
}

Result TempDir::type(const std::vector<std::string>& args, const std::vector<std::string>& lines,
                     unsigned short columns) const {
  return run_in_terminal(path_, concat({tool()}, args), lines, columns);
}

std::set<std::string> TempDir::names() const {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(path_)) {
    names.insert(e.path().filename().string());
  }
  return names;
}

std::map<std::string, std::string> TempDir::contents() const {
  std::map<std::string, std::string> all;
  for (const auto& e : std::filesystem::recursive_directory_iterator(path_)) {
    const std::string name = std::filesystem::relative(e.path(), path_).string();
    all[name] = e.is_directory() ? "<folder>" : read(name);
  }
  return all;
}

}  // namespace e2e
