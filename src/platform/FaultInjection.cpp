#include "platform/FaultInjection.h"

namespace platform::fault {
namespace {
int64_t g_budget = -1;  // bytes still allowed; -1 when the hook is off
int g_error = 0;
}  // namespace

void FailWritesAfter(int64_t bytes, int err) {
  g_budget = bytes < 0 ? 0 : bytes;
  g_error = err;
}

void Reset() {
  g_budget = -1;
  g_error = 0;
}

int TakeWrite(size_t count) {
  if (g_budget < 0) return 0;
  if (static_cast<uint64_t>(count) > static_cast<uint64_t>(g_budget)) {
    g_budget = 0;
    return g_error;
  }
  g_budget -= static_cast<int64_t>(count);
  return 0;
}

}  // namespace platform::fault
