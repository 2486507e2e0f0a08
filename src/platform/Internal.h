// What the POSIX and the Windows implementations of the platform share, and the few calls each of
// them gives the shared code. For src/platform only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"

namespace platform::internal {

// ---- Names compared without regard to ASCII letter case

using platform::EndsWithFoldAscii;
using platform::EqualFoldAscii;
// A fixed order of names by their letters, case folded, names that differ in case only after one
// another in byte order.
bool LessFoldAscii(const std::string& a, const std::string& b);
// Sorts as LessFoldAscii does, each name folded once rather than at every comparison.
void SortFoldAscii(std::vector<std::string>& names);

// A decimal number of 1 to 18 digits, nothing else.
bool ParseNumber(std::string_view text, long long& value);

// ---- This process and the machine, given by each implementation

long long ProcessId();
// A number for the moment process `pid` started, which a later process given the same id does
// not share: kProcessGone when there is no such process, kProcessUnknown when it cannot be seen.
constexpr long long kProcessGone = -1;
constexpr long long kProcessUnknown = -2;
long long ProcessStart(long long pid);
// The machine's name as the system gives it, and as our files' names carry it (letters, digits
// and "_" only).
std::string HostName();
std::string HostTag();

// ---- Our temporary files
//
// A temporary file is named ".velomi-HOST-PID-START-SUFFIX": this machine, the process id and the
// process's start, so that a later save can tell the files that a killed process left behind.

struct TempOwner {
  std::string host;
  long long pid = 0;
  long long start = 0;
};

// This process as its temporary files name it; start is -1 when it cannot be known. Asked again
// in a child made by fork(), which is another process.
TempOwner Self();
std::string TempName(const TempOwner& owner, const std::string& suffix);
// True when `name` has the form of our temporary files; fills `owner` from it.
bool ParseTempName(std::string_view name, TempOwner& owner);
// True when `name` is a temporary file of ours that a process of this machine left when it was
// killed: its process is gone, or its id now belongs to a process that started at another time.
// Never true while this process cannot tell its own start, nor for a file whose process could not
// tell its start, nor for a process that cannot be seen. The caller still checks that the entry
// is a regular file of this user before it removes it.
bool IsLeftover(std::string_view name);
// True the first time this process saves in `folder`: leftovers are looked for once a folder, not
// on every save of a batch (a listing per save would make a batch of n files read n^2 entries).
bool FirstSaveIn(const std::string& folder);

}  // namespace platform::internal
