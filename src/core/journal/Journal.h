// The journal of changes: what each action (one save, one batch edit, one batch rename) changed,
// so that it can be undone, also after the program was closed and started again, and so that a
// write cut short by a crash can be settled by the next process.
//
// It is one file of JSON lines, `journal.jsonl` in the user's state folder
// ($XDG_STATE_HOME/velomi, else ~/.local/state/velomi), shared by every window and command line
// of the user. An action writes a "begin" record before its first change, with everything undo and
// recovery need (Records.h), flushed to the disk; and a "done" record after its last change, with
// each entry's real outcome, not flushed: when a crash takes it, the action reads as cut short and
// the next process settles it from what the files hold (Recovery.h). An undo in progress appends
// an "undo" marker. Every record names its writer (host, process id and start time).
//
// Owners: a process that writes a begin record first takes an exclusive lock on a lock file of its
// own, `owners/<writer>.lock`, and holds it while it runs. An action without its done record is
// running while its writer holds that lock (or, for this process, while it is in flight here);
// only then is it left alone by recovery and undo. Otherwise it was cut short.
//
// Bounds: the last kMaxActions actions and at most kMaxBytes bytes; the oldest actions are dropped
// first, actions that changed nothing before them, and never one that is still running. So that
// the file is not rewritten on every action, it is cut only when it would hold more than
// kMaxActions + kSpareActions actions or pass kMaxBytes, and then down to kMaxActions actions and
// three quarters of kMaxBytes. The begin record of an action that alone would pass kMaxBytes is
// refused, and the action with it (it changes nothing). Reading: each line starts with its record's
// small fields (Journal.cpp) and the line's size, and the index reads only those, skipping the
// payload to where the size says the line ends; a record's payload is parsed only by ReadRecords,
// when its action is settled or undone. Lines that do not start so (older journals) are parsed
// whole. Only what was appended since the last read is read; a file larger than kReadBound is set
// aside without being read. A process keeps one Journal, so that the index is read once.
//
// Safety: the journal names the user's files and holds their old tags. Its folder is made 0700 and
// its files 0600; a journal file or folder that is a symbolic link, is not ours, or is not a
// regular file is refused. A journal that cannot be read as ours (a line that is not one of our
// records, a done record without its begin) is set aside as `journal.jsonl.damaged-<time>` and
// never trusted; a last line cut off or zero-filled by a crash is dropped.
#pragma once

#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class File;
class FileLock;
}  // namespace platform

namespace core {

// The large part of a record, written in pieces rather than built whole (the columns of an action
// of many files): JSON members, `"key":value` separated by commas, without the braces. Each call
// of Write hands the same bytes to `put`, in order.
class RecordBody {
 public:
  virtual ~RecordBody() = default;
  virtual void Write(const std::function<void(const char* data, size_t size)>& put) const = 0;
};

class Journal {
 public:
  static constexpr int kMaxActions = 50;
  static constexpr int kSpareActions = 10;
  static constexpr int64_t kMaxBytes = int64_t{64} << 20;    // 64 MiB
  static constexpr int64_t kReadBound = int64_t{256} << 20;  // 256 MiB

  // The journal in `folder`; by default the user's state folder.
  explicit Journal(QString folder = DefaultFolder());
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // $XDG_STATE_HOME/velomi when XDG_STATE_HOME is an absolute path, else ~/.local/state/velomi.
  static QString DefaultFolder();
  // A new action's id.
  static QString NewId();

  QString FilePath() const;
  const QString& Folder() const { return folder_; }

  // One action as the journal's index holds it: its small fields; the records themselves are read
  // when needed (ReadRecords).
  struct Action {
    QString id;
    QString kind;    // "rename", "fix-names", "edit", "save" or "convert"
    QString time;    // ISO 8601, local time
    QString writer;  // the writer's tag (platform::ProcessId::Tag); empty for older records
    int version = 0;
    int entries = 0;
    bool finished = false;  // it has its done record
    QString codes;          // the done record's outcome of each entry, one digit an entry
    QString undoer;         // the writer of an undo marker, when one was appended
    int64_t beginAt = 0, beginSize = 0, doneAt = 0, doneSize = 0;

    int Changed() const;  // the entries the done record counts as changed
    // Finished without changing any file: not an action to undo.
    bool Empty() const { return finished && Changed() == 0; }
  };

  // Reads what the journal holds now: only the records appended since the last call when the file
  // only grew, else all of it. A journal that cannot be trusted is set aside (TakeMessage()).
  // False when the journal could not be read or was refused.
  bool Refresh();
  // Every action of the last Refresh(), oldest first, those that changed nothing included.
  const std::vector<Action>& Actions() const { return actions_; }
  // The records of `action`, read again from the file. False when they are no longer there.
  bool ReadRecords(const Action& action, QJsonObject& begin, std::optional<QJsonObject>& done);

  // True while `action` is being carried out or undone: in flight in this process, or by another
  // process that still runs.
  bool Running(const Action& action) const;

  // Appends an action's begin record and flushes it; gives the action's id, or nothing when the
  // journal refused it or could not write it (TakeMessage() tells why). `begin` gets the fields
  // "#" (the record's kind), "id" (unless it holds one), "time", "v" and "w" added. From then on
  // the action is in flight in this process until Finish().
  std::optional<QString> Begin(QJsonObject begin);
  // The same with the members of `body` after those of `head`, streamed into the file in pieces
  // (measured once first, for the record's size and the journal's bounds).
  std::optional<QString> Begin(QJsonObject head, const RecordBody& body);
  // Appends the done record of action `id`, not flushed, and ends its flight.
  bool Finish(const QString& id, QJsonObject done);
  // Marks action `id` as being undone by this process (until Rewrite() takes the action out).
  bool MarkUndo(const QString& id);
  // Rewrites the journal with the records of action `id` replaced, in their place, by `begin` and
  // `done` (a smaller action that keeps its id), or taken out when `begin` is empty.
  bool Rewrite(const QString& id, const QJsonObject& begin = {}, const QJsonObject& done = {});
  // Appends the done record that settles a cut-short action, unless one came meanwhile.
  bool Settle(const QString& id, QJsonObject done);

  // What went wrong last (a refused path, a damaged journal set aside, a failed write), for a
  // person; empty when nothing did. Taking it clears it.
  QString TakeMessage();

  // The small fields of a record as the index reads them.
  struct Head;

 private:
  class Lock;
  bool EnsureFolder();
  std::string NativePath() const;
  std::string OwnersFolder() const;
  bool TakeOwnerLock();
  bool AppendRecord(const QByteArray& line, bool flush, const RecordBody* body = nullptr);
  bool Compact(int64_t room);
  bool ReadAll(std::string& bytes);
  void Forget();
  void SetAside(const QString& why);
  void Refuse(const QString& message);
  bool Index(const Head& head, int64_t at);
  bool ParseLine(platform::File& file, int64_t at, int64_t size, int64_t& consumed);
  Action* Find(const QString& id);

  QString folder_;
  QString message_;
  std::unique_ptr<platform::FileLock> writerLock_;
  int lockDepth_ = 0;
  std::vector<Action> actions_;
  // The file as the index last read it: its identity and how far its records were read.
  uint64_t indexedDevice_ = 0, indexedInode_ = 0;
  int64_t indexedSize_ = -1;
  // Where the file's records end: past it lies a last line cut off or zero-filled by a crash.
  int64_t cleanSize_ = 0;
};

}  // namespace core
