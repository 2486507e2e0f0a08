// A test acting as another program between an action's look at a file and its write: once armed,
// the second open of a file in a folder writes `bytes` over `path` before the open is made.
#pragma once

#include <string>

#include "TestFiles.h"
#include "platform/FaultInjection.h"

namespace testfiles {

struct Meanwhile {
  static inline std::string path;
  static inline Bytes bytes;
  static inline int opens = 0;

  // Arms the hook until platform::fault::Reset().
  static void Arm(const std::string& target, const Bytes& content) {
    path = target;
    bytes = content;
    opens = 0;
    platform::fault::OnStep(&AtStep);
  }
  static int AtStep(platform::fault::Step step) {
    if (step == platform::fault::Step::kOpening && ++opens == 2) WriteAll(path, bytes);
    return 0;
  }
};

}  // namespace testfiles
