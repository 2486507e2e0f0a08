// What an action's records keep of each file it changes, and how the records hold it.
//
// A begin record lists the action's entries column by column: one text of all names joined by NUL
// bytes, one of all 128-byte blocks, each in base64, cost far less to build and to write than an
// object a file. Each file is kept as its folder's real absolute path (resolved once a folder when
// the action starts) and its name in that folder, so that undo and recovery act on that very file
// from anywhere, and on nothing outside that folder.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/journal/Journal.h"

namespace core {

// One file of an action.
struct Entry {
  enum class Kind { kRename, kMp3, kWma };
  Kind kind = Kind::kRename;
  std::string folder;     // the folder's real path, ending in "/"
  std::string name;       // the file's name in it; for a rename, its name before
  std::string newName;    // a rename: the name after
  int64_t size = -1;      // the file's size before; -1 when it could not be read
  bool readOnly = false;  // the save cleared the file's read-only mark, which undo puts back
  // An MP3 save: the last 128 bytes before when they were a tag (empty: the block is appended),
  // and the block written (empty when the file could not be read).
  QByteArray oldBlock, newBlock;
  // An MP3 save that changes the ID3v2 tag at the file's start too (`startTag`), and a WMA save:
  // the region at the file's start that the save rewrites (the ID3v2 tag with its padding; the
  // ASF header). An entry keeps of them the SHA-256 of each (`oldDigest`, `newDigest`), the old
  // one's size, and the old one as a delta against the new one (`oldDelta`, see Delta.h), from
  // which undo rebuilds it out of what the file holds. `newSize` is the file's size after. An MP3
  // entry with `newBlock` empty leaves the block at the end as it is. (Records of older versions
  // hold both regions whole; their old region becomes a delta of literal bytes.)
  bool startTag = false;
  QByteArray oldDigest, newDigest, oldDelta;
  int64_t oldHeaderSize = -1;  // -1: the file could not be read
  int64_t newSize = -1;
  // Written over the old region in place (same size): the bytes that differ, `spanSize` of them
  // from `spanAt`, before (`oldSpan`) and after (`newSpan`). The record holds them
  // (`spansInRecord`) while they are few (an action keeps up to a budget of them in its record);
  // else the action's pre-image file holds them while it runs (PreImages.h) and the entry has
  // them only once they are loaded from it.
  bool inPlace = false;
  bool spansInRecord = false;
  int64_t spanAt = 0, spanSize = 0;
  QByteArray oldSpan, newSpan;

  bool InPlace() const { return inPlace; }
  bool HasRegion() const { return oldHeaderSize >= 0; }
  bool SpansKnown() const { return oldSpan.size() == spanSize && newSpan.size() == spanSize; }
  bool SpansInRecord() const { return inPlace && spansInRecord; }
  // A rename of the action that repairs garbled names: the entry is a folder (`isFolder`), and
  // the file or folder is known by its identity (`identified`: `device` and `inode`, and a file's
  // size too), whatever it holds.
  bool identified = false;
  bool isFolder = false;
  uint64_t device = 0, inode = 0;

  std::string Path() const { return folder + name; }
};

// The kinds of action that rename: the batch rename ("rename") and the repair of garbled names
// ("fix-names").
bool IsRenameKind(const QString& kind);

// The entries of an action of many files, kept compactly: each folder once, the names and byte
// strings of all entries in one buffer, a digest as its 32 bytes. An entry is taken out whole.
class EntryList {
 public:
  void Add(const Entry& e);
  void Reserve(size_t count) { items_.reserve(count); }
  size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  Entry At(size_t k) const;
  Entry::Kind KindOf(size_t k) const { return static_cast<Entry::Kind>(items_[k].kind); }
  const std::string& FolderOf(size_t k) const { return folders_[items_[k].folder]; }
  const std::vector<std::string>& Folders() const { return folders_; }
  uint32_t FolderIndexOf(size_t k) const { return items_[k].folder; }

 private:
  friend class BeginBody;
  // Where entry `k`'s strings lie in its block, in this order: name, new name, old and new block,
  // old and new digest, old delta, old and new span.
  enum Part {
    kName,
    kNewName,
    kOldBlock,
    kNewBlock,
    kOldDigest,
    kNewDigest,
    kDelta,
    kOldSpan,
    kNewSpan,
    kParts
  };
  struct Item {
    int64_t size, oldHeaderSize, newSize, spanAt, spanSize;
    uint32_t block, at;  // where its strings start: a block of `blocks_`, a place in it
    uint32_t lengths[kParts];
    uint32_t folder;
    uint64_t device, inode;  // an identified rename's file or folder
    uint8_t kind;
    uint8_t flags;  // kReadOnly...
  };
  enum Flag : uint8_t {
    kReadOnly = 1,
    kStartTag = 2,
    kInPlace = 4,
    kSpansInRecord = 8,
    kOldHex = 16,  // the old digest is kept as the 32 bytes its hexadecimal text stands for
    kNewHex = 32,
    kIdentified = 64,
    kIsFolder = 128,
  };
  std::string_view ViewOf(const Item& item, Part part) const;
  QByteArray PartOf(const Item& item, Part part) const;
  QByteArray DigestOf(const Item& item, Part part, Flag hex) const;

  std::vector<Item> items_;
  std::vector<std::string> folders_;
  std::map<std::string, uint32_t> folderIndex_;
  // The strings, in blocks of about kBlock bytes (an entry's all in one), so that the list grows
  // without copying what it holds.
  static constexpr size_t kBlock = size_t{1} << 20;
  std::vector<std::string> blocks_;
};

// The outcome of an entry as a done record gives it.
enum class Code : char {
  kUnchanged = '0',  // not tried: skipped, not reached, or stopped before it
  kDone = '1',       // the file was changed as the entry says
  kFailed = '2',     // tried, and the file was left as it was
  kUnknown =
      '3',  // settled after a crash: the file holds neither what it held nor what was written
};

// The begin record of an action of `kind` ("rename", "fix-names", "edit", "save", "convert") over
// `entries`, with the id it will have (the temporary names of its renames are made from it).
QJsonObject EncodeBegin(const QString& kind, const QString& id, const std::vector<Entry>& entries);
// The same record for the journal to write in pieces (Journal::Begin with a body): its small
// fields (`Head()`), and its columns written from `entries` as they are asked for, so that the
// record is never held whole. `entries` must outlive it.
class BeginBody : public RecordBody {
 public:
  BeginBody(QString kind, QString id, const EntryList& entries)
      : kind_(std::move(kind)), id_(std::move(id)), entries_(entries) {}
  QJsonObject Head() const;
  void Write(const std::function<void(const char*, size_t)>& put) const override;

 private:
  QString kind_, id_;
  const EntryList& entries_;
};
// The done record: each entry's outcome; `settled` when recovery wrote it after a crash.
QJsonObject EncodeDone(const std::string& codes, bool settled = false);

// The entries of a begin record (and, for records of the first version, what its done record
// adds). False when the record is not whole. An entry whose folder is not an absolute path free of
// "." and ".." or whose names are not single names gets `untrusted` set.
struct Decoded {
  std::vector<Entry> entries;
  std::vector<bool> untrusted;
  QString casePrefix;  // the start of the temporary names of case-only renames
};
bool DecodeBegin(const QJsonObject& begin, const std::optional<QJsonObject>& done, Decoded& out);

// The temporary name that the case-only rename of entry `k` of action `id` goes through.
std::string CaseTempName(const QString& prefix, size_t k);
QString CaseTempPrefix(const QString& id);

// The SHA-256 of `bytes`, in hexadecimal.
QByteArray Digest(const QByteArray& bytes);

// Describes the regions of `e` from the old region `oldRegion` and the new one `newRegion`
// (written in place when `inPlace`, which needs the same size): their digests, the old one as a
// delta, and for a write in place the bytes that differ. `newSize` is set by the caller.
void DescribeRegions(Entry& e, const QByteArray& oldRegion, const QByteArray& newRegion,
                     bool inPlace);
// Where two regions of one size differ: the first byte that differs and how many bytes from there
// to the last one that does (0 when they are alike).
std::pair<int64_t, int64_t> ChangedSpan(const QByteArray& a, const QByteArray& b);
// The old region of `e`, rebuilt from `newRegion` (what the file holds where the new region was
// written) and checked against its digest. False when it cannot be rebuilt exactly.
bool RebuildOld(const Entry& e, const QByteArray& newRegion, QByteArray& oldRegion);

}  // namespace core
