#include "platform/Console.h"

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/windows/Win32.h"
// After windows.h, which it needs.
#include <shellapi.h>

namespace platform {
namespace {

std::atomic<void (*)()> g_onInterrupt{nullptr};
UINT g_outputCodePage = 0;

BOOL WINAPI CallOnInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;  // closing, logging off
  if (void (*handler)() = g_onInterrupt.load()) handler();
  return TRUE;
}

void RestoreOutputCodePage() { ::SetConsoleOutputCP(g_outputCodePage); }

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(win::Narrow(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

void PrepareStandardStreams() {
  ::_setmode(::_fileno(stdin), _O_BINARY);
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  const UINT now = ::GetConsoleOutputCP();
  if (now == 0 || now == CP_UTF8 || g_outputCodePage != 0) return;  // no console, or done
  if (!::SetConsoleOutputCP(CP_UTF8)) return;
  g_outputCodePage = now;  // the console is the user's: given back as it was
  std::atexit(RestoreOutputCodePage);
}

bool StandardErrorIsTerminal() {
  const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (error == nullptr || error == INVALID_HANDLE_VALUE || !::GetConsoleMode(error, &mode)) {
    return false;  // a file, a pipe, or the NUL device
  }
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
         ::SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

void OnInterrupt(void (*handler)()) {
  g_onInterrupt.store(handler);
  ::SetConsoleCtrlHandler(CallOnInterrupt, TRUE);
}

}  // namespace platform
