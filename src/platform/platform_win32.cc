// The platform on Windows: Win32 handles, 64-bit offsets, GetLastError mapped onto `Err`,
// the command line as the system hands it over, and console control events (Ctrl-C,
// Ctrl-Break, closing the console) that only record that they came.
//
// The run-time's text is bytes in one code page: the console's output code page when the
// program has a console (what the user sees and types there), else the ANSI code page. The
// command line and typed lines are converted into it from the system's wide characters, and
// file names out of it into wide characters, so that the file opened is the one whose name
// the user gave or typed, and the echo shows that name.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace {

// The exit status Windows gives a console program that ends by Ctrl-C.
constexpr UINT kInterruptedStatus = 0xC000013A;

std::atomic<int> g_signal{0};
HANDLE g_main_thread = nullptr;
// Set by the control handler once an event has been recorded.
HANDLE g_control_event = nullptr;
// A console read that Ctrl-C cancels may return no characters before the handler has run; it
// is taken as the end of input only when no event comes within this time.
constexpr DWORD kControlWaitMs = 50;

// The code page of the run-time's text.
UINT g_code_page = CP_ACP;

// The main thread's waiting calls are cancelled until it has seen the event (one cancel made
// just before it enters a call would find nothing to cancel), and never after: the writes of its
// ending must not be cut short. The lock orders each cancel before or after the seeing.
SRWLOCK g_cancel_lock = SRWLOCK_INIT;
bool g_seen = false;  // under g_cancel_lock

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
  if (g_control_event != nullptr) SetEvent(g_control_event);
  for (bool seen = false; !seen; Sleep(kControlWaitMs)) {
    AcquireSRWLockExclusive(&g_cancel_lock);
    seen = g_seen;
    if (!seen && g_main_thread != nullptr) CancelSynchronousIo(g_main_thread);
    ReleaseSRWLockExclusive(&g_cancel_lock);
  }
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

// A name in the run-time's code page as wide characters; empty when it is no text of that code
// page (a name the system could not be given).
std::wstring wide_name(const char* name) {
  const int n = MultiByteToWideChar(g_code_page, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(g_code_page, MB_ERR_INVALID_CHARS, name, -1, w.data(), n);
  w.pop_back();  // the terminating zero
  return w;
}

// Wide characters in the run-time's code page, appended to out; a character the code page
// lacks becomes "?", which no file name holds.
void append_narrow(const wchar_t* w, int n, std::string* out) {
  if (n <= 0) return;
  const int size = WideCharToMultiByte(g_code_page, 0, w, n, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return;
  const std::size_t at = out->size();
  out->resize(at + static_cast<std::size_t>(size));
  WideCharToMultiByte(g_code_page, 0, w, n, out->data() + at, size, nullptr, nullptr);
}

OpenResult open_file(const char* name, Access access, Share share, DWORD creation) {
  const std::wstring w = wide_name(name);
  if (w.empty()) return {kNoHandle, Err::kInvalid};
  HANDLE h = CreateFileW(w.c_str(), access_rights(access), share_mode(share), nullptr, creation,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    // A folder is refused as access denied; say what it is.
    const DWORD attributes = GetFileAttributesW(w.c_str());
    if (e == ERROR_ACCESS_DENIED && creation == OPEN_EXISTING &&
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return {kNoHandle, Err::kIsFolder};
    }
    return {kNoHandle, from_error(e)};
  }
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
    DWORD mode = 0;
    if (GetConsoleMode(win(h), &mode)) return read_console(win(h), static_cast<char*>(buf), n);
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
    // A pipe or a console has no position, though moving the pointer of one may not fail.
    if (GetFileType(win(h)) != FILE_TYPE_DISK) return Err::kInvalid;
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
    const std::wstring w = wide_name(name);
    if (w.empty()) return Err::kInvalid;
    return DeleteFileW(w.c_str()) ? Err::kOk : from_error(GetLastError());
  }

  bool exists(const char* name) override {
    const std::wstring w = wide_name(name);
    return !w.empty() && GetFileAttributesW(w.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  // Devices such as NUL have no identity; they are told apart by name.
  std::int64_t size(Handle h) override {
    LARGE_INTEGER n;
    if (GetFileType(win(h)) != FILE_TYPE_DISK || !GetFileSizeEx(win(h), &n)) return -1;
    return n.QuadPart;
  }

  bool identity(Handle h, FileId* id) override {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(win(h), &info)) return false;
    *id = {info.dwVolumeSerialNumber,
           (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return true;
  }

  const char* command_line() override {
    arm();
    const wchar_t* line = GetCommandLineW();
    wchar_t own[MAX_PATH + 1] = {};
    if (line == nullptr || *line == L'\0') {
      const DWORD n = GetModuleFileNameW(nullptr, own, MAX_PATH);
      own[n <= MAX_PATH ? n : 0] = L'\0';
      line = own;
    }
    command_line_.clear();
    append_narrow(line, static_cast<int>(wcslen(line)), &command_line_);
    return command_line_.c_str();
  }

  bool is_lead_byte(unsigned char b) override { return IsDBCSLeadByteEx(g_code_page, b) != 0; }

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
    const int sig = g_signal;
    if (sig != 0) {
      AcquireSRWLockExclusive(&g_cancel_lock);
      g_seen = true;
      ReleaseSRWLockExclusive(&g_cancel_lock);
    }
    return sig;
  }

  [[noreturn]] void exit_process(int status) override { ExitProcess(static_cast<UINT>(status)); }

  // Windows has no death by a signal: a console program interrupted by its console ends with
  // the status the system gives it for Ctrl-C, whichever event it was.
  [[noreturn]] void exit_by_signal(int) override { ExitProcess(kInterruptedStatus); }

 private:
  // A console read: the typed characters as wide characters, converted to the run-time's code
  // page, whatever the console's input code page. What does not fit waits for the next read.
  IoResult read_console(HANDLE h, char* buf, std::size_t n) {
    if (typed_.empty()) {
      wchar_t wide[512];
      const DWORD want =
          static_cast<DWORD>(std::min<std::size_t>(std::max<std::size_t>(n, 1), 512));
      DWORD got = 0;
      if (!ReadConsoleW(h, wide, want, &got, nullptr)) return {0, from_error(GetLastError())};
      // Ctrl-C ends a console read with no characters, and may do so before its handler runs.
      if (got == 0) {
        if (WaitForSingleObject(g_control_event, kControlWaitMs) == WAIT_OBJECT_0 ||
            g_signal != 0) {
          return {0, Err::kInterrupted};
        }
        return {0, Err::kOk};
      }
      append_narrow(wide, static_cast<int>(got), &typed_);
    }
    const std::size_t count = std::min(n, typed_.size());
    std::copy_n(typed_.data(), count, buf);
    typed_.erase(0, count);
    return {count, Err::kOk};
  }

  // The handler goes in at start, or at the first read, write or interrupt test, as on POSIX.
  void arm() {
    if (armed_) return;
    armed_ = true;
    const UINT console_page = GetConsoleOutputCP();
    g_code_page = console_page != 0 ? console_page : CP_ACP;
    g_control_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_main_thread, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
    SetConsoleCtrlHandler(on_control, TRUE);
  }

  bool armed_ = false;
  std::string command_line_;
  std::string typed_;  // converted console input not yet handed over
};

}  // namespace

Platform& native() {
  static Win32Platform win32;
  return win32;
}

}  // namespace platform
