// The platform on Windows: Win32 handles, 64-bit offsets, GetLastError mapped onto `Err`,
// the command line as the system hands it over, and console control events (Ctrl-C,
// Ctrl-Break, closing the console) that only record that they came.
#include <windows.h>

#include <atomic>
#include <csignal>

#include "platform/platform.h"

namespace platform {
namespace {

// The exit status Windows gives a console program that ends by Ctrl-C.
constexpr UINT kInterruptedStatus = 0xC000013A;

std::atomic<int> g_signal{0};
HANDLE g_main_thread = nullptr;

// Runs on a thread of its own. The main thread ends the run at its next block, or when the
// call it waits in is cancelled here; this thread then waits for the process to end.
BOOL WINAPI on_control(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      g_signal = SIGINT;
      break;
    case CTRL_BREAK_EVENT:
      g_signal = SIGBREAK;
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      g_signal = SIGTERM;
      break;
    default:
      return FALSE;
  }
  if (g_main_thread != nullptr) CancelSynchronousIo(g_main_thread);
  Sleep(INFINITE);
  return TRUE;
}

Err from_error(DWORD e) {
  switch (e) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return Err::kNotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Err::kExists;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return Err::kAccessDenied;
    case ERROR_TOO_MANY_OPEN_FILES:
      return Err::kTooManyFiles;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE:
      return Err::kDiskFull;
    case ERROR_OPERATION_ABORTED:  // cancelled by the console control handler
      return Err::kInterrupted;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_PARAMETER:
    case ERROR_DIRECTORY:
      return Err::kInvalid;
    default:
      return Err::kIo;
  }
}

HANDLE win(Handle h) {
  return reinterpret_cast<HANDLE>(h);
}

Handle ours(HANDLE h) {
  return reinterpret_cast<Handle>(h);
}

DWORD access_rights(Access access) {
  switch (access) {
    case Access::kRead:
      return GENERIC_READ;
    case Access::kWrite:
      return GENERIC_WRITE;
    case Access::kReadWrite:
      return GENERIC_READ | GENERIC_WRITE;
  }
  return GENERIC_READ;
}

// What other openers of the file may do meanwhile.
DWORD share_mode(Share share) {
  switch (share) {
    case Share::kDenyNone:
    case Share::kCompat:
      return FILE_SHARE_READ | FILE_SHARE_WRITE;
    case Share::kDenyRead:
      return FILE_SHARE_WRITE;
    case Share::kDenyWrite:
      return FILE_SHARE_READ;
    case Share::kDenyReadWrite:
      return 0;
  }
  return FILE_SHARE_READ | FILE_SHARE_WRITE;
}

OpenResult open_file(const char* name, Access access, Share share, DWORD creation) {
  HANDLE h = CreateFileA(name, access_rights(access), share_mode(share), nullptr, creation,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {kNoHandle, from_error(GetLastError())};
  return {ours(h), Err::kOk};
}

class Win32Platform final : public Platform {
 public:
  OpenResult open_existing(const char* name, Access access, Share share) override {
    return open_file(name, access, share, OPEN_EXISTING);
  }

  // CREATE_NEW fails on any existing name, a symbolic link included.
  OpenResult create_new(const char* name, Access access, Share share) override {
    return open_file(name, access, share, CREATE_NEW);
  }

  IoResult read(Handle h, void* buf, std::size_t n) override {
    arm();
    DWORD got = 0;
    const DWORD want = n > MAXDWORD ? MAXDWORD : static_cast<DWORD>(n);
    if (ReadFile(win(h), buf, want, &got, nullptr)) return {got, Err::kOk};
    const DWORD e = GetLastError();
    // The writer of a pipe has closed its end: the end of the input.
    if (e == ERROR_BROKEN_PIPE || e == ERROR_HANDLE_EOF) return {0, Err::kOk};
    return {0, from_error(e)};
  }

  IoResult write(Handle h, const void* buf, std::size_t n) override {
    arm();
    const char* p = static_cast<const char*>(buf);
    std::size_t done = 0;
    while (done < n) {
      DWORD put = 0;
      const std::size_t left = n - done;
      const DWORD chunk = left > MAXDWORD ? MAXDWORD : static_cast<DWORD>(left);
      if (!WriteFile(win(h), p + done, chunk, &put, nullptr)) {
        return {done, from_error(GetLastError())};
      }
      // A write that moves nothing without an error cannot make progress.
      if (put == 0) return {done, Err::kIo};
      done += put;
    }
    return {done, Err::kOk};
  }

  Err seek(Handle h, std::int64_t offset) override {
    LARGE_INTEGER to;
    to.QuadPart = offset;
    if (!SetFilePointerEx(win(h), to, nullptr, FILE_BEGIN)) return from_error(GetLastError());
    return Err::kOk;
  }

  Err truncate_here(Handle h) override {
    return SetEndOfFile(win(h)) ? Err::kOk : from_error(GetLastError());
  }

  Err close(Handle h) override {
    return CloseHandle(win(h)) ? Err::kOk : from_error(GetLastError());
  }

  Err remove(const char* name) override {
    return DeleteFileA(name) ? Err::kOk : from_error(GetLastError());
  }

  bool exists(const char* name) override {
    return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
  }

  // Devices such as NUL have no identity; they are told apart by name.
  bool identity(Handle h, FileId* id) override {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(win(h), &info)) return false;
    *id = {info.dwVolumeSerialNumber,
           (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return true;
  }

  const char* command_line() override {
    const char* line = GetCommandLineA();
    if (line != nullptr && *line != '\0') return line;
    const DWORD n = GetModuleFileNameA(nullptr, own_name_, sizeof own_name_);
    own_name_[n < sizeof own_name_ ? n : 0] = '\0';
    return own_name_;
  }

  bool is_lead_byte(unsigned char b) override { return IsDBCSLeadByte(b) != 0; }

  Handle std_handle(StdStream s) override {
    constexpr DWORD kIds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE h = GetStdHandle(kIds[static_cast<int>(s)]);
    return h == nullptr || h == INVALID_HANDLE_VALUE ? kNoHandle : ours(h);
  }

  // A console, not any character device: NUL is one too, and it is no terminal.
  bool is_terminal(Handle h) override {
    DWORD mode = 0;
    return GetFileType(win(h)) == FILE_TYPE_CHAR && GetConsoleMode(win(h), &mode);
  }

  const char* null_device() override { return "NUL"; }
  bool reserves_device_names() override { return true; }

  std::size_t last_component(std::string_view path) override {
    std::size_t start = path.find_last_of("\\/") + 1;  // npos + 1 is 0: no folder
    if (start == 0 && path.size() >= 2 && path[1] == ':') start = 2;
    return start;
  }

  std::int64_t now_ms() override { return static_cast<std::int64_t>(GetTickCount64()); }

  // Closed standard handles cannot be taken over by a file here: nothing to open in their place.
  bool start_process() override {
    arm();
    return true;
  }

  int pending_interrupt() override {
    arm();
    return g_signal;
  }

  [[noreturn]] void exit_process(int status) override { ExitProcess(static_cast<UINT>(status)); }

  // Windows has no death by a signal: a console program interrupted by its console ends with
  // the status the system gives it for Ctrl-C, whichever event it was.
  [[noreturn]] void exit_by_signal(int) override { ExitProcess(kInterruptedStatus); }

 private:
  // The handler goes in at start, or at the first read, write or interrupt test, as on POSIX.
  void arm() {
    if (armed_) return;
    armed_ = true;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_main_thread, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
    SetConsoleCtrlHandler(on_control, TRUE);
  }

  bool armed_ = false;
  char own_name_[MAX_PATH + 1] = {};
};

}  // namespace

Platform& native() {
  static Win32Platform win32;
  return win32;
}

}  // namespace platform
