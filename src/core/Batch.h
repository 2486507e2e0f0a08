// Carrying out plans, journalled, and undoing them: the batch rename, the batch edit and the save
// of one tag, for the window and the command line alike.
//
// Each action writes its begin record to the journal before its first change and its done record
// after its last (see Journal.h); without a journal nothing is recorded. The changes go through
// the platform's no-replace rename and the tag objects, with their marks and semantics unchanged:
// a file the tag object could not write is a failed entry and the batch goes on; a WMA stream
// error ends the batch at that file (ApplyReport::error), as it ends the window's handler.
#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Journal.h"
#include "core/Plans.h"

class TIDmp3;
class TIDwma;

namespace core {

enum class Outcome {
  kNotTried,  // left alone: skipped by the plan, or after the batch was stopped
  kDone,      // changed (undo: restored)
  kFailed,    // tried or refused, and not changed; `reason` tells why
};

struct EntryResult {
  Outcome outcome = Outcome::kNotTried;
  QString reason;
};

struct ApplyOptions {
  Journal* journal = nullptr;  // none: nothing is recorded, nothing can be undone
  // Called before each entry that will be tried, with the entries handled so far, all of them and
  // the file's name; false stops the batch before that entry.
  std::function<bool(int done, int total, const std::string& name)> progress;
  // Set from anywhere (a signal handler, another thread) to stop before the next entry.
  const std::atomic<bool>* cancel = nullptr;
};

struct ApplyReport {
  std::vector<EntryResult> results;  // one per plan entry
  bool stopped = false;              // stopped by the progress callback or the cancel flag
  bool undoable = false;             // the action is in the journal
  QString journalMessage;            // why it is not, when a journal was given and it is not
  std::optional<std::string> error;  // the error that ended the batch, when one did
};

ApplyReport ApplyRename(const RenamePlan& plan, const ApplyOptions& options);

// The batch edit through the given tag objects (after it they hold what the batch last read).
ApplyReport ApplyEdit(const EditPlan& plan, TIDmp3& mp3, TIDwma& wma, const ApplyOptions& options);

// Saves the fields that `tag` holds to `path`, journalled as one action. The WMA save lets its
// stream errors through, after the journal has been closed.
ApplyReport SaveTag(TIDmp3& tag, const std::string& path, const ApplyOptions& options);
ApplyReport SaveTag(TIDwma& tag, const std::string& path, const ApplyOptions& options);

// ---- Undo

struct ActionInfo {
  QString id;
  QString kind;  // "rename", "edit" or "save"
  QString time;  // ISO 8601, local time
  int entries = 0;
  int changed = 0;        // entries the action changed (cut short: the entries it meant to change)
  bool cutShort = false;  // the program ended before the action's done record
};

// The journal's actions, newest first.
std::vector<ActionInfo> ListActions(Journal& journal);

struct UndoEntry {
  std::string path;          // where the file is now
  std::string restoredPath;  // where it is after the undo (a rename's old name; else `path`)
  Outcome outcome = Outcome::kNotTried;
  QString reason;  // why it was refused
};

struct UndoReport {
  std::optional<ActionInfo> action;  // none: nothing to undo
  std::vector<UndoEntry> entries;
  QString message;  // a problem with the journal itself
};

// Undoes the newest action in the journal, entry by entry, newest entry first, and takes it out
// of the journal. Each entry is checked first: a renamed file must still have its new name and
// size and its old name must be free; a saved file must still have the size and the bytes that the
// save gave it (the MP3 block, the digest of the WMA header). Otherwise the entry is refused and
// the file is not touched. An MP3 block goes back in place; a WMA header goes back through the
// safe replace, the audio after it copied untouched. An action cut short is undone the same way,
// its entries' outcomes read from the disk.
UndoReport UndoLast(Journal& journal);

}  // namespace core
