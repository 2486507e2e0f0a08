#include "platform/Process.h"

#include <cctype>
#include <mutex>

#include "platform/Internal.h"

namespace platform {
std::string ProcessId::Tag() const {
  return host + "-" + std::to_string(pid) + "-" + std::to_string(start < 0 ? 0 : start);
}

bool ProcessId::FromTag(std::string_view tag, ProcessId& id) {
  const size_t second = tag.rfind('-');
  if (second == std::string_view::npos || second == 0) return false;
  const size_t first = tag.rfind('-', second - 1);
  if (first == std::string_view::npos || first == 0) return false;
  id.host = std::string(tag.substr(0, first));
  for (char c : id.host) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return internal::ParseNumber(tag.substr(first + 1, second - first - 1), id.pid) &&
         internal::ParseNumber(tag.substr(second + 1), id.start);
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

bool StillRunning(const ProcessId& id) {
  if (id.host != ThisProcess().host) return true;
  const long long start = internal::ProcessStart(id.pid);
  if (start == internal::kProcessUnknown) return true;        // cannot be seen: taken as running
  if (id.start == 0) return start != internal::kProcessGone;  // its start was unknown
  return start == id.start;
}

}  // namespace platform
