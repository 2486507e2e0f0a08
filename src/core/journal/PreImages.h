// The bytes that an action's writes in place change, while the action runs, when they are too many
// for its record: one file an action, `preimages/<id>` in the journal's folder (0600, never
// through a link), written and flushed before the action's begin record, so that a write torn by
// a crash can be told from a change by another program and its old bytes put back. Undo does not
// need them (a record rebuilds an old region from the new one), so the file goes once the
// action's writes are on the disk; whatever a gone process left is swept at the next start.
//
// An undo writes in place too, under a pre-image file of its own, `<id>.undo`, which a later undo
// reads when this one was cut short. Each file is written under a temporary name (`.tmp` after
// it) and renamed into place once flushed.
//
// The file: "VPI1", then for each entry its number, where its span starts and its size (each
// 8 bytes, little-endian), the old bytes and the new bytes (as the action wrote them: an undo
// writes the old ones).
#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>

#include "core/journal/Records.h"
#include "platform/File.h"

namespace core {

class PreImageWriter {
 public:
  // Starts the file of action `id` in the journal folder `journalFolder`; `undo`: its undo's.
  // 0, or the errno.
  int Open(const QString& journalFolder, const QString& id, bool undo = false);
  bool IsOpen() const { return file_.IsOpen(); }
  // Adds the spans of entry `k` (which must be known); gives where they start in the file, or -1
  // when the write failed.
  int64_t Add(size_t k, const Entry& e);
  // Flushes the file and the folder's entry for it. 0, or the errno of the first failure.
  int Seal();
  // Loads into `e` the spans added at `at` (Add's result). False when they cannot be read.
  bool Load(int64_t at, Entry& e) const;

 private:
  bool Flush();

  platform::File file_, reader_;
  std::string path_;  // the name it gets once sealed
  std::string buffer_;
  int64_t written_ = 0;
  int error_ = 0;
};

// The spans of the entries of action `id` that its pre-image files hold (the action's and its
// undo's), by entry.
class PreImageReader {
 public:
  // False when there is no such file or none is one of ours.
  bool Open(const QString& journalFolder, const QString& id);
  // Loads the spans of entry `k` into `e`; false when the file has none that fit the entry.
  bool Load(size_t k, Entry& e) const;

 private:
  bool Index(size_t file);

  platform::File files_[3];
  // Entry: which file, where its spans start, their size.
  std::map<size_t, std::tuple<size_t, int64_t, int64_t>> index_;
};

// Removes the pre-image files of action `id` (its own and its undo's).
void RemovePreImages(const QString& journalFolder, const QString& id);
// Removes the pre-image files that no action needs: an action's own once `actions` (the
// journal's, by id: true once finished) lists it as finished, or when it does not list it and
// the file is older than an hour (a younger one may belong to an action about to write its begin
// record); an undo's once the journal no longer lists its action (the undo took it out).
void SweepPreImages(const QString& journalFolder, const std::map<QString, bool>& actions);

}  // namespace core
