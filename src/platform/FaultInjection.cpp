#include "platform/FaultInjection.h"

namespace platform::fault {
namespace {
int64_t g_budget = -1;  // bytes still allowed; -1 when the hook is off
int g_error = 0;
int64_t g_corruptAfter = -1;  // bytes still written right; -1 when the hook is off
WriteFailure g_mode = WriteFailure::kWhole;
unsigned g_refused = 0;  // Feature bits
int g_chmodError = 0;
int g_syncError = 0;
int (*g_stepHook)(Step) = nullptr;
std::string g_only;  // the suffix of the paths the hooks act on; empty: every path

bool Targets(const std::string& path) {
  return g_only.empty() || (path.size() >= g_only.size() &&
                            path.compare(path.size() - g_only.size(), g_only.size(), g_only) == 0);
}
}  // namespace

void FailWritesAfter(int64_t bytes, int err, WriteFailure mode) {
  g_budget = bytes < 0 ? 0 : bytes;
  g_error = err;
  g_mode = mode;
}

void Refuse(Feature feature) { g_refused |= static_cast<unsigned>(feature); }

bool Refused(Feature feature) { return (g_refused & static_cast<unsigned>(feature)) != 0; }

void FailChmod(int err) { g_chmodError = err; }

int TakeChmod() { return g_chmodError; }

void FailSyncs(int err) { g_syncError = err; }

int Flushed(int result, const std::string& path) {
  const int err = result == 0 ? 0 : errno;
  return Targets(path) && g_syncError != 0 ? g_syncError : err;
}

void OnStep(int (*hook)(Step)) { g_stepHook = hook; }

int AtStep(Step step) { return g_stepHook != nullptr ? g_stepHook(step) : 0; }

void OnlyFor(const std::string& suffix) { g_only = suffix; }

void Reset() {
  g_corruptAfter = -1;
  g_budget = -1;
  g_error = 0;
  g_mode = WriteFailure::kWhole;
  g_refused = 0;
  g_chmodError = 0;
  g_syncError = 0;
  g_stepHook = nullptr;
  g_only.clear();
}

int TakeWrite(size_t count, size_t& allowed, const std::string& path) {
  allowed = count;
  if (g_budget < 0 || !Targets(path)) return 0;
  if (static_cast<uint64_t>(count) <= static_cast<uint64_t>(g_budget)) {
    g_budget -= static_cast<int64_t>(count);
    return 0;
  }
  int err = g_error;
  if (g_mode == WriteFailure::kPartialOnce) {
    allowed = static_cast<size_t>(g_budget);
    g_budget = -1;  // the hook is spent
  } else {
    allowed = 0;
    g_budget = 0;
  }
  return err;
}

void CorruptWriteAfter(int64_t bytes) { g_corruptAfter = bytes < 0 ? 0 : bytes; }

const unsigned char* AsLanding(const unsigned char* data, size_t count, const std::string& path,
                               std::vector<unsigned char>& wrong) {
  if (g_corruptAfter < 0 || !Targets(path)) return data;
  if (static_cast<uint64_t>(count) <= static_cast<uint64_t>(g_corruptAfter)) {
    g_corruptAfter -= static_cast<int64_t>(count);
    return data;
  }
  wrong.assign(data, data + count);
  wrong[static_cast<size_t>(g_corruptAfter)] ^= 0xFF;
  g_corruptAfter = -1;  // once
  return wrong.data();
}

int TakeWrite(size_t count, const std::string& path) {
  size_t allowed = 0;
  return TakeWrite(count, allowed, path);
}

}  // namespace platform::fault
