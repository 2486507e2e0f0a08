// Settling actions that a crash cut short. An action without its done record whose writer is gone
// (Journal::Running) may have stopped anywhere: before a write, in the middle of one, or after its
// last write and before its done record. Recovery looks at each file of such an action and keeps
// what a finished write left (the whole new header, the new block, the new name), puts the old
// bytes back where a write was torn (part old, part new), removes a rename's placeholder and gives
// a rename's temporary name the name it was meant to get; a file that holds anything else was
// changed by someone since and is not touched. Then it appends the action's done record with each
// entry's real outcome, after which undo treats the action as any other. An action with a file
// that cannot be reached now (a pulled USB stick) stays as it is for a later recovery. An action
// still running in another process is never touched.
#pragma once

#include <string>
#include <vector>

#include "core/journal/Journal.h"

namespace core {

// What recovery did with one file.
struct Recovered {
  std::string path;
  enum class Result {
    kKept,       // the finished write (or rename) stays
    kRestored,   // a torn write: the old bytes are back
    kUntouched,  // it held what it held before, or something else: nothing written
    kPending,    // cannot be reached now; the action stays unsettled
  } result = Result::kUntouched;
};

// Settles every cut-short action of the journal whose writer is gone, and removes the lock files
// of writers that are gone and left nothing unsettled. The window calls it when it starts, the
// command line too, before anything else.
std::vector<Recovered> RecoverActions(Journal& journal);
// The same before the file `path` is read or saved, when an unsettled action may hold it. Costs a
// look at the journal's size when nothing is unsettled.
std::vector<Recovered> RecoverFile(Journal& journal, const std::string& path);

// For tests: called with the path of a file that recovery found written in part, before it looks
// at the file again to repair it (another program may change the file in between).
extern void (*onRecoveryStep)(const std::string& path);

}  // namespace core
