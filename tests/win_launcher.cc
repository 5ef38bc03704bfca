// A test-only Windows program that starts the tool with an exact command line and reports how
// it ended, for the end-to-end tests of the Windows build:
//   win_launcher TOOL TAIL [FILE BYTES]
// runs TOOL with the command line "Chunkit_.exe TAIL", its standard handles this program's,
// and writes "exit code 0xXXXXXXXX" on standard error once it has ended. With FILE and BYTES it
// sends Ctrl-C to the console once FILE holds at least BYTES bytes: it makes a console of its
// own for the tool and itself, and takes no notice of the Ctrl-C itself.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

BOOL WINAPI ignore_control(DWORD) {
  return TRUE;
}

long long file_size(const wchar_t* name) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(name, GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stderr), _O_BINARY);  // lines end in LF, as the tests expect
  if (argc != 3 && argc != 5) {
    std::fputs("usage: win_launcher TOOL TAIL [FILE BYTES]\n", stderr);
    return 2;
  }
  const bool interrupt = argc == 5;
  if (interrupt) {
    FreeConsole();
    if (!AllocConsole()) {
      std::fprintf(stderr, "no console: error %lu\n", GetLastError());
      return 2;
    }
    SetConsoleCtrlHandler(ignore_control, TRUE);
  }
  std::wstring line = std::wstring(L"Chunkit_.exe ") + argv[2];
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(argv[1], line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                      &pi)) {
    std::fprintf(stderr, "cannot start the tool: error %lu\n", GetLastError());
    return 2;
  }
  if (interrupt) {
    const long long bytes = std::wcstoll(argv[4], nullptr, 10);
    // Progress is watched, not timed: the tool has written that much when Ctrl-C goes.
    while (WaitForSingleObject(pi.hProcess, 1) == WAIT_TIMEOUT) {
      if (file_size(argv[3]) >= bytes) {
        if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
          std::fprintf(stderr, "no Ctrl-C: error %lu\n", GetLastError());
        }
        break;
      }
    }
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  std::fprintf(stderr, "exit code 0x%08lX\n", static_cast<unsigned long>(code));
  return 0;
}
