// Undoing the journal's actions, newest first, also after the program was closed and started
// again, from any window or command line of the user and from any folder.
#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/journal/Journal.h"
#include "core/journal/Records.h"
#include "core/plans/Apply.h"

namespace core {

struct ActionInfo {
  QString id;
  ActionKind kind = ActionKind::kSave;
  QString time;  // ISO 8601, local time
  int entries = 0;
  int changed = 0;        // the files the action changed (cut short: those it meant to change)
  bool cutShort = false;  // no done record: the action was cut short, or is running
  bool running = false;   // being carried out or undone by another window or command right now
};

// The journal's actions that changed a file, newest first.
std::vector<ActionInfo> ListActions(Journal& journal);

struct UndoEntry {
  std::string path;          // where the file is now
  std::string restoredPath;  // where it is after the undo (a rename's old name; else `path`)
  Outcome outcome = Outcome::kNotTried;  // kNotTried: already as it was, nothing to do
  QString reason;                        // why it was refused
  bool folder = false;                   // a folder's rename: the paths below it follow it
};

struct UndoReport {
  std::optional<ActionInfo> action;  // none: nothing to undo
  std::vector<UndoEntry> entries;
  bool busy = false;  // refused whole: the action is running elsewhere
  int remaining = 0;  // files refused or not reached, kept in the journal for a later undo
  bool stopped = false;
  QString message;  // a problem with the journal itself, or why nothing was undone
  // Put back, but not known to be on the disk (a flush failed): those files stay in the journal
  // too, for a later undo to look at again.
  QString warning;
};

struct UndoOptions {
  // As ApplyOptions: called before each file, false stops the undo there.
  std::function<bool(int done, int total, const std::string& name)> progress;
  const std::atomic<bool>* cancel = nullptr;
};

// Undoes the newest action of the journal, file by file, the last changed first. A file is taken
// back only when it holds exactly what the action left (its new name and size, the block or the
// header written); a file that holds what it held before is already as it was; any other file is
// refused and not touched. Files refused, not found or not reached stay in the journal as a
// smaller action that a later undo tries again; the action leaves the journal once none is left.
// An action still running in another window or command is refused whole.
UndoReport UndoLast(Journal& journal, const UndoOptions& options = {});

// Takes the newest action out of the journal without undoing it (what a later undo can no longer
// take back). False when there is none, or it is running.
bool ForgetLast(Journal& journal, std::optional<ActionInfo>& forgotten);

}  // namespace core
