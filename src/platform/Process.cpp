#include "platform/Process.h"

#include <mutex>

#include "platform/Internal.h"

namespace platform {
std::string ProcessId::Tag() const {
  return host + "-" + std::to_string(pid) + "-" + std::to_string(start < 0 ? 0 : start);
}

long long ProcessStart(long long pid) {
  const long long start = internal::ProcessStart(pid);
  return start < 0 ? -1 : start;
}

ProcessId ThisProcess() {
  static std::mutex mutex;
  static ProcessId self{"", -1, -1};
  std::lock_guard<std::mutex> lock(mutex);
  const long long pid = internal::ProcessId();
  if (self.pid != pid) {
    const long long start = ProcessStart(pid);
    self = ProcessId{internal::HostTag(), pid, start < 0 ? 0 : start};
  }
  return self;
}

}  // namespace platform
