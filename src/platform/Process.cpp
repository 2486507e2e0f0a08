#include "platform/Process.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

namespace platform {
namespace {

// This machine's name as it goes into a file's name: letters, digits and "_" only.
std::string HostTag() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return "host";
  std::string tag;
  for (const char* c = host; *c != '\0' && tag.size() < 64; ++c) {
    tag += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  }
  return tag.empty() ? "host" : tag;
}

bool ParseNumber(std::string_view text, long long& value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

}  // namespace

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
  return ParseNumber(tag.substr(first + 1, second - first - 1), id.pid) &&
         ParseNumber(tag.substr(second + 1), id.start);
}

long long ProcessStart(long long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return -1;
  size_t close = line.rfind(')');  // the command name in parentheses may hold anything
  if (close == std::string::npos) return -1;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  for (int i = 3; i <= 22; ++i) {
    if (!(fields >> field)) return -1;
  }
  char* end = nullptr;
  long long start = std::strtoll(field.c_str(), &end, 10);
  return (end != field.c_str() && *end == '\0') ? start : -1;
}

ProcessId ThisProcess() {
  static std::mutex mutex;
  static ProcessId self{"", -1, -1};
  std::lock_guard<std::mutex> lock(mutex);
  const long long pid = ::getpid();
  if (self.pid != pid) {
    const long long start = ProcessStart(pid);
    self = ProcessId{HostTag(), pid, start < 0 ? 0 : start};
  }
  return self;
}

bool StillRunning(const ProcessId& id) {
  if (id.host != ThisProcess().host) return true;
  if (id.start == 0) return ProcessStart(id.pid) >= 0;  // its start was unknown: the pid decides
  return ProcessStart(id.pid) == id.start;
}

}  // namespace platform
