// The journal of changes: what each action (one save, one batch edit, one batch rename) changed,
// so that it can be undone, also after the program was closed and started again.
//
// It is one file of JSON lines, `journal.jsonl` in the user's state folder
// ($XDG_STATE_HOME/velomi, else ~/.local/state/velomi), shared by the window and the command line.
// An action writes two records: before its first change a "begin" record with everything undo
// needs (for a rename the folder, the old and the new name and the size; for an MP3 save the old
// 128-byte block, or none, and the new one; for a WMA save the old header bytes), flushed to the
// disk once; after its last change a "done" record with each entry's outcome (and for a WMA save
// the size and a SHA-256 of the new header), flushed once. An action with no done record was cut
// short; what it did is then read from the disk. Names and bytes are stored in base64, so any
// name survives.
//
// Bounds: the last kMaxActions actions and at most kMaxBytes bytes; the oldest actions are dropped
// first. So that the file is not rewritten on every action, it is cut only when it would hold
// more than kMaxActions + kSpareActions actions or pass kMaxBytes, and then down to kMaxActions
// actions and three quarters of kMaxBytes; Load() never gives more than the last kMaxActions. An
// action whose begin record alone would pass kMaxBytes is carried out without a record and cannot
// be undone.
//
// Safety: the journal names the user's files and holds their old tags. Its folder is made 0700 and
// the file 0600; a journal file or folder that is a symbolic link, is not ours, or is not a
// regular file (a folder) is refused. A journal that cannot be read as ours (a line that is not
// one of our records) is set aside as `journal.jsonl.damaged-<time>` and never trusted.
#pragma once

#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace core {

class Journal {
 public:
  static constexpr int kMaxActions = 50;
  static constexpr int kSpareActions = 10;
  static constexpr int64_t kMaxBytes = int64_t{64} << 20;  // 64 MiB

  // The journal in `folder`; by default the user's state folder.
  explicit Journal(QString folder = DefaultFolder());
  // Another log of the same form, safety and bounds in `folder`, in the file `fileName` (the
  // header log of in-place WMA writes, see HeaderLog.h).
  Journal(QString folder, QString fileName);

  // $XDG_STATE_HOME/velomi when XDG_STATE_HOME is an absolute path, else ~/.local/state/velomi.
  static QString DefaultFolder();

  QString FilePath() const;
  const QString& Folder() const { return folder_; }

  // One action as the journal holds it.
  struct Action {
    QJsonObject begin;
    std::optional<QJsonObject> done;  // none: the action was cut short
    QString Id() const;
    QString Kind() const;  // "rename", "edit" or "save"
  };

  // Every action, oldest first. A journal that cannot be trusted is set aside (see TakeMessage()).
  // False when the journal could not be read or was refused.
  bool Load(std::vector<Action>& actions);

  // Appends an action's begin record and flushes it; gives the action's id, or nothing when the
  // journal refused it or could not write it (TakeMessage() tells why). Drops the oldest actions
  // first when the bounds would be passed. `begin` gets the fields "#" (the record's kind), "id",
  // "time" and "v" added.
  std::optional<QString> Begin(QJsonObject begin);
  // Appends the done record of action `id` and flushes it.
  bool Finish(const QString& id, QJsonObject done);
  // Rewrites the journal without the action `id` (after it was undone).
  bool Remove(const QString& id);
  // Empties the journal (once nothing in it is needed any more). Not flushed: what it held may
  // come back after a crash.
  bool Clear();

  // What went wrong last (a refused path, a damaged journal set aside), for a person; empty when
  // nothing did. Taking it clears it.
  QString TakeMessage();

 private:
  bool EnsureFolder();
  int OpenChecked(int flags);
  bool ReadAll(QByteArray& bytes);
  bool Parse(const QByteArray& bytes, std::vector<Action>& actions);
  bool AppendLine(const QByteArray& line);
  bool Compact(int64_t room);
  void SetAside(const QString& why);
  void Refuse(const QString& message);

  QString folder_;
  QString fileName_;
  QString message_;
  // The journal's size and action count as this object last wrote or read them: while the file
  // keeps that size, no other writer came between, and it need not be read again.
  int64_t knownSize_ = -1;
  int knownActions_ = 0;
};

}  // namespace core
