// Who a process is, as the files it leaves name it: this machine, the process id and the time the
// process started, so that a later process can tell whether the one that left a file still runs.
#pragma once

#include <string>

namespace platform {

struct ProcessId {
  std::string host;  // this machine's name: letters, digits and "_" only
  long long pid = 0;
  long long start = 0;  // clock ticks after boot; 0 when it could not be known

  // "HOST-PID-START", the form a file name or a record carries.
  std::string Tag() const;
  bool operator==(const ProcessId& o) const {
    return host == o.host && pid == o.pid && start == o.start;
  }
};

// This process. Asked again in a child made by fork(), which is another process.
ProcessId ThisProcess();

// The start time of process `pid` (as ProcessId::start), or -1 when there is no such process or
// it cannot be seen.
long long ProcessStart(long long pid);

}  // namespace platform
