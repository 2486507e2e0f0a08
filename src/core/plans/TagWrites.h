// The files of an action's entries: where a path's file is as records keep it, what a file holds
// against its entry, how a write cut short is settled, and how an entry is taken back.
#pragma once

#include <QString>
#include <map>
#include <string>
#include <vector>

#include "core/journal/Records.h"
#include "platform/File.h"
#include "platform/Folder.h"

namespace core {

// What a file holds now against an entry of a record.
enum class Holds {
  kOld,          // what it held before the action
  kNew,          // exactly what the action wrote (a rename: the file under its new name)
  kTorn,         // a write cut short: part old, part new; a rename's placeholder or temporary name
  kOther,        // anything else: changed since
  kMissing,      // no such file
  kBlocked,      // renamed, and its old name taken by another file since
  kUnreachable,  // the folder or the file cannot be reached now (a pulled USB stick)
};

// A file as records keep it: its folder's real path (ending in "/") and its name there, links
// followed. `err` is set, and the folder empty, when the path cannot be resolved.
struct Place {
  std::string folder;
  std::string name;
  int err = 0;
};
Place Resolve(const std::string& path);

// Resolve for the files of a batch: each folder resolved once, and a file's name looked up in it
// without following links; only a name that is a link is resolved whole. No path lookups of the
// folder's names a file.
class Resolver {
 public:
  Place Of(const std::string& path);

 private:
  std::map<std::string, std::pair<std::string, int>> folders_;  // as given: real path, errno
};

// The folders of a batch, each opened once.
class Folders {
 public:
  // The open folder `path`; null when it cannot be opened (`err` tells why).
  platform::Folder* Get(const std::string& path, int& err);
  // Flushes every folder opened; 0, or the errno of the first failure.
  int SyncAll();
  // Flushes and closes the folders opened at `path` (ending in "/") and below it, so that the
  // folder can be renamed (Windows refuses to rename a folder that is held open, or whose
  // contents are). 0, or the errno of the first failed flush.
  int Release(const std::string& path);

 private:
  std::map<std::string, platform::Folder> open_;
};

// Where the entries of an action that renames folders are now: a path recorded under a folder
// that the action renamed is under that folder's new name while the folder holds it (a kill or a
// refused undo can leave the folder so, its contents under their own names either way). Paths as
// the record keeps them, ending in "/".
class Relocations {
 public:
  explicit Relocations(const std::vector<Entry>& entries);  // kept by reference
  // The folder that the recorded folder `path` is now.
  std::string Now(const std::string& path) const;

 private:
  std::vector<const Entry*> folders_;
};

// What the file of entry `k` holds now. `recorded`: a done record says the action changed it.
Holds Classify(const Entry& e, const platform::Folder& folder, const QString& casePrefix, size_t k,
               bool recorded);
// Settles a write cut short (the file holds Holds::kTorn): the old header or block goes back, a
// rename's placeholder goes, a rename's temporary name becomes the name it was meant to get.
// Gives what the file holds afterwards.
Holds Repair(const Entry& e, const platform::Folder& folder, const QString& casePrefix, size_t k);
// Takes back entry `k`, whose file holds what the action wrote: the old name, the old block (and
// the read-only mark), the old bytes of a write in place where the entry has them (flushed when
// `flush`), else the old tag or header through a new file. 0, or the errno of the failure.
int PutBack(const Entry& e, const platform::Folder& folder, const QString& casePrefix, size_t k,
            bool flush = true);
// Readies an entry written in place for its undo: the bytes to write back, rebuilt from what the
// file holds when the record does not keep them. 0; ESTALE when the file does not hold what the
// action wrote; else the errno of the failure.
int LoadSpansForUndo(Entry& e, const platform::Folder& folder);

// Writes the entry's new header over the old one in `file` (open for reading and writing),
// having checked, when `verify`, that the file still holds the old header at its recorded size
// (ESTALE otherwise). Flushes the file when `flush`. When the write or the flush fails, the old
// header is written back. 0, or the errno of the failure.
int WriteHeaderInPlace(platform::File& file, const Entry& e, bool verify, bool flush);

// Writes an MP3 entry whose ID3v2 tag changes (Entry::startTag): in place, the entry's new tag
// over the old one and its block, flushed when `flush`; otherwise a new file in the old one's
// place holding `newTag`, the audio and the block (always flushed). Checks first that the file
// still holds what the entry says it held (ESTALE otherwise), and clears a read-only mark the
// entry records. A write that fails leaves the file as it was. 0, or the errno of the failure.
int WriteTaggedMp3(const Entry& e, const std::vector<uint8_t>& newTag, bool flush);

// The whole ASF header at the start of `file`, as the tag code identifies and bounds it. False
// when the file does not start with one.
bool ReadWmaHeader(const platform::File& file, QByteArray& header);

}  // namespace core
