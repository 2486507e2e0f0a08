#include "platform/Console.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

namespace platform {
namespace {

std::atomic<void (*)()> g_onInterrupt{nullptr};

extern "C" void CallOnInterrupt(int) {
  if (void (*handler)() = g_onInterrupt.load()) handler();
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void PrepareStandardStreams() {}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void OnInterrupt(void (*handler)()) {
  g_onInterrupt.store(handler);
  std::signal(SIGINT, CallOnInterrupt);
}

}  // namespace platform
