// Carrying out plans, journalled: the batch rename, the batch edit and the save of one tag, for the
// window and the command line alike.
//
// Each action writes its begin record to the journal (flushed) before its first change and its
// done record, with each entry's real outcome, after its last (see Journal.h); an action that
// changed no file leaves nothing to undo. An action the journal cannot record changes nothing:
// each of its files fails with the reason. (Without a journal at all, as some tests and tools
// run, nothing is recorded and nothing is written in place.) The changes go
// through the platform's no-replace rename and the tag objects, with their marks and semantics
// unchanged: a file the tag object could not write is a failed entry and the batch goes on; a WMA
// stream error ends the batch at that file (ApplyReport::error), as it ends the window's handler.
//
// Flushes: a tag or header that keeps its size is written over the old one in place, protected by
// the begin record and, for many changed bytes, a pre-image file (Records.h, PreImages.h; a crash
// is settled by recovery), and read back before it counts as written; a batch flushes its
// in-place writes and its MP3 blocks once per file system at its end, and its renames once per
// folder, before its done record and before any success is reported. A single in-place save costs
// the record's flush and the file's.
#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/journal/Journal.h"
#include "core/plans/Plans.h"

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
  QString journalMessage;            // why it is not, or why its done record was not written
  QString warning;                   // done, but not known to be on the disk (a flush failed)
  std::optional<std::string> error;  // the error that ended the batch, when one did
};

ApplyReport ApplyRename(const RenamePlan& plan, const ApplyOptions& options);

// Repairs the plan's garbled names (its entries to repair), journalled as one action
// ("fix-names") in the plan's order: a folder's contents before the folder, so that every path
// the action records stays valid while it runs. Each file and folder is known by its identity
// (undo and recovery rename it back whatever it holds, audio or not), and nothing is replaced.
ApplyReport ApplyFixNames(const NamePlan& plan, const ApplyOptions& options);

// The batch edit through the given tag objects (after it they hold what the batch last read).
// An MP3 file with an ID3v2 tag gets the fields the batch copies in that tag too; a tag that
// cannot take them safely fails the file.
ApplyReport ApplyEdit(const EditPlan& plan, TIDmp3& mp3, TIDwma& wma, const ApplyOptions& options);
// The batch edit of PlanEdit(paths, fields, {}, each) (`each`: one per path, or none), each file
// read and planned as the batch reaches it instead of all before (the command line's `set`): the
// same action, without a plan of every file in memory.
ApplyReport ApplyEdit(const std::vector<std::string>& paths, const EditFields& fields,
                      const std::vector<EditFields>& each, TIDmp3& mp3, TIDwma& wma,
                      const ApplyOptions& options);

// Saves the fields that `tag` holds to `path`, journalled as one action. An MP3 file with an
// ID3v2 tag gets `start`, the fields the user changed, in that tag too (in place when the new tag
// fits the old one's room and the action is recorded, else through a new file); a tag that
// cannot take them safely fails the save, and nothing is written. The WMA save lets its stream
// errors through, before anything is written.
ApplyReport SaveTag(TIDmp3& tag, const std::string& path, const ApplyOptions& options,
                    const id3v2::Changes& start = {});
ApplyReport SaveTag(TIDwma& tag, const std::string& path, const ApplyOptions& options);

// Turns the legacy texts of the plan's files into Unicode, journalled as one action ("convert"):
// each file is planned again, from what it holds now, and written in place where its new tag
// fits and the action is recorded, else replaced. The ID3v1 blocks stay as they are.
ApplyReport ApplyConvert(const ConvertPlan& plan, const ApplyOptions& options);

// For tests: called at the points of an action where a crash or another process matters: after
// its begin record is flushed, after each file's write, and after its last write and flush
// (before its done record); and of an undo: once its pre-image is flushed, before its first
// write, and after its last write (before its flush).
enum class ActionStep { kRecorded, kFileWritten, kWritten };
extern void (*onActionStep)(ActionStep step);

}  // namespace core
