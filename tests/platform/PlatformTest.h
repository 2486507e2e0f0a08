// What the platform's tests for every system share.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "platform/ReplacementFile.h"

namespace platformtest {

using Names = std::vector<std::string>;

// Takes the features away, as a file system without them would, for the scope's life.
struct Refusing {
  explicit Refusing(std::initializer_list<platform::fault::Feature> features) {
    for (platform::fault::Feature f : features) platform::fault::Refuse(f);
  }
  ~Refusing() { platform::fault::Reset(); }
};

// Writes "NEW" plus the old file's bytes from offset 1 through a replacement of `path`; the old
// file is closed before the replacement is committed.
inline bool Replace(const std::string& path) {
  platform::File old;
  int64_t size = 0;
  if (!old.OpenRead(path) || !old.Size(size)) return false;
  platform::ReplacementFile r;
  if (!r.Begin(path) || !r.Write("NEW", 3) || !r.CopyFrom(old, 1, size - 1)) return false;
  old.Close();
  return r.Commit();
}

}  // namespace platformtest
