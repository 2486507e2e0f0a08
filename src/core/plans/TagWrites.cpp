#include "core/plans/TagWrites.h"

#include <QByteArrayView>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/FileSystem.h"
#include "platform/ReplacementFile.h"
#include "tags/wma/AsfBytes.h"
#include "tags/wma/AsfObjects.h"
#include "tags/wma/TWmaTag.h"

namespace core {
namespace {

constexpr qsizetype kBlock = 128;

// True when each byte of `now` is the byte of `before` or of `after` at its place: a write of
// `after` over `before` cut short (or either one whole).
bool EachOldOrNew(const QByteArray& now, const QByteArray& before, const QByteArray& after) {
  if (now.size() != before.size() || now.size() != after.size()) return false;
  for (qsizetype i = 0; i < now.size(); ++i) {
    if (now[i] != before[i] && now[i] != after[i]) return false;
  }
  return true;
}

bool ReadAt(const platform::File& file, int64_t at, qsizetype count, QByteArray& bytes) {
  bytes.resize(count);
  return at >= 0 && file.ReadAt(at, bytes.data(), static_cast<size_t>(count));
}

// What the region at the file's start (`now`, as many bytes as the old region) holds against an
// entry written in place: the old region, the new one, the new bytes written over the old ones in
// part (each byte of the changed span old or new, and the rest as both had it), or else.
Holds ClassifySpan(const Entry& e, const QByteArray& now) {
  if (now.size() != e.oldHeaderSize || !e.InPlace()) return Holds::kOther;
  const QByteArray digest = Digest(now);
  if (digest == e.newDigest) return Holds::kNew;
  if (digest == e.oldDigest) return Holds::kOld;
  if (!e.SpansKnown()) return Holds::kOther;  // no bytes at hand to tell a torn write by
  if (!EachOldOrNew(now.mid(e.spanAt, e.spanSize), e.oldSpan, e.newSpan)) return Holds::kOther;
  QByteArray before = now;
  before.replace(e.spanAt, e.spanSize, e.oldSpan);
  return Digest(before) == e.oldDigest ? Holds::kTorn : Holds::kOther;
}

// Writes the span of an entry written in place: its new bytes, or its old ones when `back`.
bool WriteSpan(platform::File& file, const Entry& e, bool back) {
  if (e.spanSize == 0) return true;
  if (!e.SpansKnown()) {
    errno = EINVAL;
    return false;
  }
  const QByteArray& bytes = back ? e.oldSpan : e.newSpan;
  return file.WriteAt(e.spanAt, bytes.constData(), static_cast<size_t>(bytes.size()));
}

// The ID3v2 tag or the ASF header that starts `region` says that it is the whole region: a player
// finds the audio (the first MPEG frame; the ASF data object) right after it, where it was.
bool DeclaresItsSize(const Entry& e, const QByteArray& region) {
  const auto byte = [&](qsizetype i) { return static_cast<uint8_t>(region[i]); };
  if (e.kind == Entry::Kind::kMp3) {
    if (region.size() < 10 || !region.startsWith("ID3")) return false;
    int64_t size = 10 + ((int64_t{byte(6)} << 21) | (int64_t{byte(7)} << 14) |
                         (int64_t{byte(8)} << 7) | byte(9));
    if (byte(3) == 4 && (byte(5) & 0x10) != 0) size += 10;  // a footer
    return size == region.size();
  }
  static constexpr uint8_t kHeaderId[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                            0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  if (region.size() < 30 || std::memcmp(region.constData(), kHeaderId, 16) != 0) return false;
  uint64_t size = 0;
  for (int i = 7; i >= 0; --i) size = (size << 8) | byte(16 + i);
  return size == static_cast<uint64_t>(region.size());
}

// Reads back what a write left in `file` (the file itself, or the new content before it takes
// the file's place): the new region of `regionSize` bytes at its start, declaring its own size,
// and an MP3 file's block at `blockAt`. No tag editor looks; a disk that acknowledges bytes it
// does not keep is caught here, before anything is reported.
bool ReadsBack(const platform::File& file, const Entry& e, int64_t regionSize, int64_t blockAt) {
  QByteArray now;
  if (!ReadAt(file, 0, regionSize, now) || Digest(now) != e.newDigest || !DeclaresItsSize(e, now)) {
    return false;
  }
  QByteArray last;
  return e.kind != Entry::Kind::kMp3 || e.newBlock.size() != kBlock ||
         (ReadAt(file, blockAt, kBlock, last) && last == e.newBlock);
}

// An MP3 or WMA file by its content: an ID3v2 tag or an MPEG frame at its start, an ID3v1 block
// at its end, or an ASF header. Undo and recovery rename nothing else, whatever a record says.
bool LooksLikeSong(const platform::Folder& folder, const std::string& name) {
  platform::File file;
  if (!folder.OpenFile(name, false, file)) return false;
  const int64_t size = file.SizeAtOpen();
  uint8_t head[4] = {};
  if (size >= 4 && file.ReadAt(0, head, 4)) {
    static constexpr uint8_t kAsf[4] = {0x30, 0x26, 0xB2, 0x75};
    if (std::memcmp(head, "ID3", 3) == 0 || (head[0] == 0xFF && (head[1] & 0xE0) == 0xE0) ||
        std::memcmp(head, kAsf, 4) == 0) {
      return true;
    }
  }
  char tag[3];
  return size >= 128 && file.ReadAt(size - 128, tag, 3) && std::memcmp(tag, "TAG", 3) == 0;
}

asf::ByteSpan Span(const QByteArray& bytes) {
  return {reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())};
}

Holds Unreached(int err) { return err == ENOENT ? Holds::kMissing : Holds::kUnreachable; }

// True when the two names differ in ASCII letter case only.
bool SameLetters(const std::string& a, const std::string& b) {
  return a != b && platform::EqualFoldAscii(a, b);
}

// The song of a case-only rename under its temporary name: the rename was cut short between its
// two steps (a finished one leaves no temporary name). What the two names say then is not to be
// trusted: on FUSE a stale lookup may still show the song under either.
bool AtCaseTemp(const Entry& e, const platform::Folder& folder, const QString& casePrefix,
                size_t k) {
  if (casePrefix.isEmpty() || !SameLetters(e.name, e.newName)) return false;
  const std::string temp = CaseTempName(casePrefix, k);
  const platform::EntryInfo info = folder.Stat(temp);
  return info.exists && info.regular && info.size == e.size && folder.Lists(temp);
}

// True when `info` is the very file or folder of an identified entry: its identity, its kind, and
// a file's size.
bool IsEntrysOwn(const Entry& e, const platform::EntryInfo& info) {
  return info.exists && !info.link && info.device == e.device && info.inode == e.inode &&
         info.folder == e.isFolder && (e.isFolder || info.size == e.size);
}

// An identified entry (the repair of garbled names) by what stands under its two names.
Holds ClassifyIdentified(const Entry& e, const platform::Folder& folder, bool recorded) {
  const platform::EntryInfo atOld = folder.Stat(e.name);
  const platform::EntryInfo atNew = folder.Stat(e.newName);
  const bool oldIs = IsEntrysOwn(e, atOld), newIs = IsEntrysOwn(e, atNew);
  if (newIs && !atOld.exists) return Holds::kNew;
  if (oldIs && !atNew.exists) return Holds::kOld;
  if (oldIs) {
    // A kill inside a rename over a placeholder leaves the placeholder: empty, ours, and the
    // entry still under its old name.
    if (!recorded && atNew.regular && atNew.ours && atNew.size == 0) return Holds::kTorn;
    return Holds::kOld;  // another file took the new name since
  }
  if (newIs) return Holds::kBlocked;
  if (!atOld.exists && !atNew.exists) return Holds::kMissing;
  return Holds::kOther;
}

Holds ClassifyRename(const Entry& e, const platform::Folder& folder, const QString& casePrefix,
                     size_t k, bool recorded) {
  if (e.identified) return ClassifyIdentified(e, folder, recorded);
  if (AtCaseTemp(e, folder, casePrefix, k)) return Holds::kTorn;
  const platform::EntryInfo atOld = folder.Stat(e.name);
  const platform::EntryInfo atNew = folder.Stat(e.newName);
  // On a file system that folds letter case both spellings name the one entry; its listing tells
  // which spelling it has (the identity may not tell: FUSE gives each spelling a node of its own).
  if (SameLetters(e.name, e.newName) && atOld.exists && atNew.exists &&
      (atOld.SameFile(atNew) || !folder.Lists(e.name) || !folder.Lists(e.newName))) {
    if (folder.Lists(e.newName)) return atNew.size == e.size ? Holds::kNew : Holds::kOther;
    return folder.Lists(e.name) ? Holds::kOld : Holds::kOther;
  }
  if (atNew.exists && !atOld.exists) return atNew.size == e.size ? Holds::kNew : Holds::kOther;
  if (atOld.exists && !atNew.exists) return Holds::kOld;
  if (atOld.exists && atNew.exists) {
    // A kill inside a rename over a placeholder leaves the placeholder: empty, ours, and the file
    // still under its old name.
    if (!recorded && atNew.regular && atNew.ours && atNew.size == 0 && e.size > 0 &&
        atOld.size == e.size) {
      return Holds::kTorn;
    }
    if (recorded || (atNew.size == e.size && atOld.size != e.size)) return Holds::kBlocked;
    return Holds::kOld;
  }
  if (!casePrefix.isEmpty()) {
    const platform::EntryInfo temp = folder.Stat(CaseTempName(casePrefix, k));
    if (temp.exists && temp.size == e.size) return Holds::kTorn;
  }
  return Holds::kMissing;
}

Holds ClassifyMp3(const Entry& e, const platform::File& file) {
  const int64_t size = file.SizeAtOpen();
  if (e.newBlock.size() != kBlock) return size == e.size ? Holds::kOld : Holds::kOther;
  QByteArray now;
  if (!e.oldBlock.isEmpty()) {
    if (size != e.size || !ReadAt(file, size - kBlock, kBlock, now)) return Holds::kOther;
    if (now == e.newBlock) return Holds::kNew;
    if (now == e.oldBlock) return Holds::kOld;
    return EachOldOrNew(now, e.oldBlock, e.newBlock) ? Holds::kTorn : Holds::kOther;
  }
  // The block was appended.
  if (size == e.size) return Holds::kOld;
  if (size > e.size && size < e.size + kBlock) return Holds::kTorn;
  if (size != e.size + kBlock || !ReadAt(file, e.size, kBlock, now)) return Holds::kOther;
  if (now == e.newBlock) return Holds::kNew;
  return EachOldOrNew(now, QByteArray(kBlock, '\0'), e.newBlock) ? Holds::kTorn : Holds::kOther;
}

// ---- An MP3 file whose ID3v2 tag changes too

bool WritesBlock(const Entry& e) { return e.newBlock.size() == kBlock; }

// Where the block goes: over the old one, or after the old end.
int64_t BlockAt(const Entry& e) { return e.oldBlock.isEmpty() ? e.size : e.size - kBlock; }

// The size of the new tag at the start of a replaced file.
int64_t NewTagSize(const Entry& e) {
  const int64_t appended = WritesBlock(e) && e.oldBlock.isEmpty() ? kBlock : 0;
  return e.newSize - e.size + e.oldHeaderSize - appended;
}

// Combines what the two regions of one file hold; nullopt stands for a region the entry leaves
// alone.
Holds Combine(std::optional<Holds> start, std::optional<Holds> end) {
  if (!start) return end.value_or(Holds::kOld);
  if (!end) return *start;
  if (*start == Holds::kOther || *end == Holds::kOther) return Holds::kOther;
  if (*start == *end && (*start == Holds::kNew || *start == Holds::kOld)) return *start;
  return Holds::kTorn;
}

Holds ClassifyTaggedMp3(const Entry& e, const platform::File& file) {
  const int64_t size = file.SizeAtOpen();
  QByteArray head, last;
  if (e.newDigest.isEmpty() || e.size < 0 || e.oldHeaderSize < 0) return Holds::kOther;
  if (e.InPlace()) {
    // The tag written over the old one, and the block at the end, each old, new or cut short.
    if (!ReadAt(file, 0, e.oldHeaderSize, head)) return Holds::kOther;
    const Holds start = ClassifySpan(e, head);
    if (WritesBlock(e)) return Combine(start, ClassifyMp3(e, file));
    return size == e.size ? start : Holds::kOther;
  }
  // Replaced in one step: the whole file is the old one or the new one.
  const int64_t tagSize = NewTagSize(e);
  if (size == e.newSize && tagSize > 0 && ReadAt(file, 0, tagSize, head) &&
      Digest(head) == e.newDigest &&
      (!WritesBlock(e) || (ReadAt(file, size - kBlock, kBlock, last) && last == e.newBlock))) {
    return Holds::kNew;
  }
  if (size == e.size && ReadAt(file, 0, e.oldHeaderSize, head) && Digest(head) == e.oldDigest &&
      (!WritesBlock(e) || e.oldBlock.isEmpty() ||
       (ReadAt(file, size - kBlock, kBlock, last) && last == e.oldBlock))) {
    return Holds::kOld;
  }
  return Holds::kOther;
}

// What an MP3 entry's file holds, with or without a change of its ID3v2 tag.
Holds ClassifyAnyMp3(const Entry& e, const platform::File& file) {
  return e.startTag ? ClassifyTaggedMp3(e, file) : ClassifyMp3(e, file);
}

// Writes the old block back over the new one, or cuts the appended one off.
bool RestoreBlock(const Entry& e, platform::File& file) {
  return e.oldBlock.isEmpty() ? file.Truncate(e.size)
                              : file.WriteAt(e.size - kBlock, e.oldBlock.constData(), kBlock);
}

// Takes the read-only mark back, as the file had it before the save cleared it.
bool PutReadOnlyBack(const Entry& e, const platform::Folder& folder, platform::File& file) {
  if (!e.readOnly) return true;
  const platform::EntryInfo now = folder.Stat(e.name);
  return platform::Folder::SetMode(file, now.mode & ~0200u);
}

// The write in place of an MP3 entry, for a save, a batch and a conversion alike (a WMA header
// goes through the tag code's own, wma::WriteHeaderInPlace): the changed bytes of its tag and its
// block, read back, flushed when `flush`. When any of it
// fails the old bytes go back (where even that fails, the record of them remains for recovery).
// 0, or the errno of the failure (EIO for bytes that did not read back as written).
int WriteInPlace(platform::File& file, const Entry& e, bool flush) {
  if (const int err = file.RefusesChange()) return err;
  bool ok = WriteSpan(file, e, false);
  if (ok && WritesBlock(e)) ok = file.WriteAt(BlockAt(e), e.newBlock.constData(), kBlock);
  const bool checked = ok && ReadsBack(file, e, e.oldHeaderSize, BlockAt(e));
  if (checked && (!flush || file.SyncData())) return 0;
  const int err = ok && !checked ? EIO : file.error() != 0 ? file.error() : EIO;
  if (WriteSpan(file, e, true) && (!WritesBlock(e) || RestoreBlock(e, file))) {
    file.SyncData();
  }
  return err;
}

Holds ClassifyWma(const Entry& e, const platform::File& file) {
  const int64_t size = file.SizeAtOpen();
  if (!e.HasRegion()) return Holds::kOther;
  QByteArray now;
  if (e.InPlace()) {
    if (size != e.size || !ReadAt(file, 0, e.oldHeaderSize, now)) return Holds::kOther;
    return ClassifySpan(e, now);
  }
  // Replaced in one step: the file holds the old header or the new one, or was changed since.
  if (!ReadWmaHeader(file, now)) return Holds::kOther;
  if (size == e.newSize && Digest(now) == e.newDigest) return Holds::kNew;
  if (size == e.size && now.size() == e.oldHeaderSize && Digest(now) == e.oldDigest) {
    return Holds::kOld;
  }
  return Holds::kOther;
}

// Puts back the old region of `e` through a new file in the old one's place: the old region
// (rebuilt from the new one, `region`, which `source` holds at its start), the audio after it,
// and for an MP3 file the old block (or none). 0, or the errno of the failure.
int ReplaceWithOld(const Entry& e, const platform::Folder& folder, platform::File& source,
                   const QByteArray& region) {
  QByteArray old;
  if (!RebuildOld(e, region, old)) return ESTALE;
  const bool mp3 = e.kind == Entry::Kind::kMp3;
  const int64_t tailEnd = source.SizeAtOpen() - (mp3 && WritesBlock(e) ? kBlock : 0);
  const int64_t from = region.size();
  if (tailEnd < from) return ESTALE;
  platform::ReplacementFile replacement;
  // The file is closed before the new one takes its place: Windows renames over an open file
  // only where it has POSIX rename semantics (not on FAT drives).
  bool ok = replacement.Begin(e.Path()) &&
            replacement.Write(old.constData(), static_cast<size_t>(old.size())) &&
            replacement.CopyFrom(source, from, tailEnd - from) &&
            (!mp3 || !WritesBlock(e) || e.oldBlock.isEmpty() ||
             replacement.Write(e.oldBlock.constData(), kBlock)) &&
            source.Close() && replacement.Commit();
  if (!ok) return replacement.error() != 0 ? replacement.error() : EIO;
  platform::File restored;
  if (e.readOnly &&
      !(folder.OpenFile(e.name, false, restored) && PutReadOnlyBack(e, folder, restored))) {
    return EPERM;
  }
  return 0;
}

}  // namespace

Place Resolve(const std::string& path) {
  Place place;
  errno = 0;
  const std::string real = platform::RealPath(path);
  if (real.empty()) {
    place.err = errno != 0 ? errno : ENOENT;
    return place;
  }
  const size_t slash = real.rfind('/');
  place.folder = real.substr(0, slash + 1);
  place.name = real.substr(slash + 1);
  return place;
}

Place Resolver::Of(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  if (!platform::IsPlainName(leaf)) return Resolve(path);
  const std::string given = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  auto it = folders_.find(given);
  if (it == folders_.end()) {
    if (folders_.size() >= 4096) folders_.clear();  // a batch over many folders stays small
    errno = 0;
    std::string real = platform::RealPath(given.empty() ? std::string(".") : given);
    const int err = real.empty() ? (errno != 0 ? errno : ENOENT) : 0;
    if (!real.empty() && real.back() != '/') real += '/';
    it = folders_.emplace(given, std::make_pair(std::move(real), err)).first;
  }
  Place place;
  if (it->second.second != 0) {
    place.err = it->second.second;
    return place;
  }
  const platform::EntryInfo info = platform::StatPath(it->second.first + leaf, false);
  if (!info.exists) {
    place.err = ENOENT;
    return place;
  }
  if (info.link) return Resolve(path);  // a link: where it leads
  place.folder = it->second.first;
  place.name = leaf;
  return place;
}

platform::Folder* Folders::Get(const std::string& path, int& err) {
  auto it = open_.find(path);
  if (it != open_.end()) return &it->second;
  if (open_.size() >= 256) open_.clear();  // a batch over many folders keeps few descriptors
  platform::Folder folder;
  if (!folder.Open(path)) {
    err = folder.error();
    return nullptr;
  }
  return &open_.emplace(path, std::move(folder)).first->second;
}

int Folders::Release(const std::string& path) {
  int first = 0;
  for (auto it = open_.begin(); it != open_.end();) {
    if (it->first.compare(0, path.size(), path) != 0) {
      ++it;
      continue;
    }
    if (!it->second.Sync() && first == 0) first = it->second.error();
    it = open_.erase(it);
  }
  return first;
}

Relocations::Relocations(const std::vector<Entry>& entries) {
  for (const Entry& e : entries) {
    if (e.kind == Entry::Kind::kRename && e.identified && e.isFolder) folders_.push_back(&e);
  }
}

std::string Relocations::Now(const std::string& path) const {
  // The innermost folder renamed by the action that holds `path`.
  const Entry* holder = nullptr;
  size_t length = 0;
  for (const Entry* f : folders_) {
    const std::string old = f->folder + f->name + '/';
    if (old.size() > length && path.compare(0, old.size(), old) == 0) {
      holder = f;
      length = old.size();
    }
  }
  if (holder == nullptr) return path;
  const std::string parent = Now(holder->folder);
  const std::string rest = path.substr(length);
  if (!IsEntrysOwn(*holder, platform::StatPath(parent + holder->name, false)) &&
      IsEntrysOwn(*holder, platform::StatPath(parent + holder->newName, false))) {
    return parent + holder->newName + '/' + rest;
  }
  return parent + holder->name + '/' + rest;
}

int Folders::SyncAll() {
  int first = 0;
  for (auto& [path, folder] : open_) {
    if (!folder.Sync() && first == 0) first = folder.error();
  }
  return first;
}

int WriteTaggedMp3(const Entry& e, const std::vector<uint8_t>& newTag, bool flush) {
  const std::string path = e.Path();
  if (!e.startTag || e.kind != Entry::Kind::kMp3) return EINVAL;
  if (e.readOnly) platform::ClearReadOnly(path);
  if (e.InPlace()) {
    platform::File file;
    if (!file.OpenReadWrite(path)) return file.error();
    if (ClassifyTaggedMp3(e, file) != Holds::kOld) return ESTALE;  // changed since the plan
    if (const int err = WriteInPlace(file, e, flush)) return err;
    return file.Close() ? 0 : file.error();
  }
  // A new file: the new tag, the audio after the old one, and the block.
  platform::File source;
  if (!source.OpenRead(path)) return source.error();
  if (ClassifyTaggedMp3(e, source) != Holds::kOld) return ESTALE;
  const int64_t from = e.oldHeaderSize;
  const int64_t tailEnd = e.size - (WritesBlock(e) && !e.oldBlock.isEmpty() ? kBlock : 0);
  if (tailEnd < from) return EINVAL;
  platform::ReplacementFile replacement;
  bool ok = replacement.Begin(path) && replacement.Write(newTag.data(), newTag.size()) &&
            replacement.CopyFrom(source, from, tailEnd - from) &&
            (!WritesBlock(e) || replacement.Write(e.newBlock.constData(), kBlock));
  if (ok && !ReadsBack(replacement.Content(), e, static_cast<int64_t>(newTag.size()),
                       e.newSize - kBlock)) {
    return EIO;  // abandoned: the old file stays as it was
  }
  ok = ok && source.Close() && replacement.Commit();
  if (ok) return 0;
  return replacement.error() != 0 ? replacement.error()
         : source.error() != 0    ? source.error()
                                  : EIO;
}

bool ReadWmaHeader(const platform::File& file, QByteArray& header) {
  const int64_t size = file.SizeAtOpen();
  uint8_t start[asf::kHeaderStartSize];
  const size_t count = static_cast<size_t>(std::min<int64_t>(size, sizeof start));
  int64_t headerSize = 0;
  if (!file.ReadAt(0, start, count) ||
      asf::IdentifyStart(asf::ByteSpan{start, count}, headerSize) != asf::FileStart::kHeader) {
    return false;
  }
  try {
    asf::CheckHeaderSize(headerSize, size);
  } catch (const EReadError&) {
    return false;
  }
  return ReadAt(file, 0, static_cast<qsizetype>(headerSize), header);
}

Holds Classify(const Entry& e, const platform::Folder& folder, const QString& casePrefix, size_t k,
               bool recorded) {
  if (e.kind == Entry::Kind::kRename) return ClassifyRename(e, folder, casePrefix, k, recorded);
  platform::File file;
  if (!folder.OpenFile(e.name, false, file)) return Unreached(folder.error());
  return e.kind == Entry::Kind::kMp3 ? ClassifyAnyMp3(e, file) : ClassifyWma(e, file);
}

Holds Repair(const Entry& e, const platform::Folder& folder, const QString& casePrefix, size_t k) {
  if (e.kind == Entry::Kind::kRename) {
    // Looked at again just before: another program may have put a file of its own under the
    // placeholder's name meanwhile.
    const Holds holds = ClassifyRename(e, folder, casePrefix, k, false);
    if (holds != Holds::kTorn) return holds;
    const std::string temp = CaseTempName(casePrefix, k);
    if (AtCaseTemp(e, folder, casePrefix, k)) {
      // The empty placeholder of the second step, where one was made, goes first.
      const platform::EntryInfo placeholder = folder.Stat(e.newName);
      if (folder.Lists(e.newName) && placeholder.regular && placeholder.ours &&
          placeholder.size == 0 && !folder.Remove(e.newName)) {
        return Holds::kTorn;
      }
    } else if (folder.Stat(e.name).exists) {
      return folder.Remove(e.newName) ? Holds::kOld : Holds::kTorn;
    }
    if (e.identified ? !IsEntrysOwn(e, folder.Stat(temp)) : !LooksLikeSong(folder, temp)) {
      return Holds::kOther;
    }
    if (folder.Rename(temp, e.newName)) return Holds::kNew;
    return folder.Rename(temp, e.name) ? Holds::kOld : Holds::kTorn;
  }
  // Opened again for writing only now, and looked at again through that very descriptor: a file
  // that holds anything else by now is left alone.
  platform::File file;
  if (!folder.OpenFile(e.name, true, file)) return Unreached(folder.error());
  const Holds holds = e.kind == Entry::Kind::kMp3 ? ClassifyAnyMp3(e, file) : ClassifyWma(e, file);
  if (holds != Holds::kTorn) return holds;
  // Only a write in place can be cut short: its old bytes go back.
  bool ok = true;
  if (e.kind == Entry::Kind::kWma || e.startTag) ok = WriteSpan(file, e, true);
  if (ok && e.kind == Entry::Kind::kMp3 && WritesBlock(e)) ok = RestoreBlock(e, file);
  return ok && file.SyncData() && file.Close() ? Holds::kOld : Holds::kTorn;
}

int LoadSpansForUndo(Entry& e, const platform::Folder& folder) {
  if (!e.InPlace() || e.SpansKnown()) return 0;
  platform::File file;
  if (!folder.OpenFile(e.name, false, file)) return folder.error();
  QByteArray now, old;
  if (!ReadAt(file, 0, e.oldHeaderSize, now) || Digest(now) != e.newDigest ||
      !RebuildOld(e, now, old)) {
    return ESTALE;
  }
  if (ChangedSpan(old, now) != std::make_pair(e.spanAt, e.spanSize)) return ESTALE;
  e.oldSpan = old.mid(e.spanAt, e.spanSize);
  e.newSpan = now.mid(e.spanAt, e.spanSize);
  return 0;
}

int PutBack(const Entry& e, const platform::Folder& folder, const QString& casePrefix, size_t k,
            bool flush) {
  if (e.kind == Entry::Kind::kRename) {
    // Undo renames back only what it renamed: the very entry, known by its identity, or a song.
    if (e.identified ? !IsEntrysOwn(e, folder.Stat(e.newName))
                     : !LooksLikeSong(folder, e.newName)) {
      return ESTALE;
    }
    const std::string temp = casePrefix.isEmpty() ? std::string() : CaseTempName(casePrefix, k);
    return folder.Rename(e.newName, e.name, temp) ? 0 : folder.error();
  }
  // In place where the record holds the bytes to write back (a write cut short there can be
  // told and settled from them), else through a new file.
  const bool inPlace =
      e.kind == Entry::Kind::kMp3 ? !e.startTag || e.SpansInRecord() : e.SpansInRecord();
  platform::File file;
  if (!folder.OpenFile(e.name, inPlace, file)) return folder.error();
  // Looked at again through the descriptor that writes: the size decides where the block goes.
  const Holds holds = e.kind == Entry::Kind::kMp3 ? ClassifyAnyMp3(e, file) : ClassifyWma(e, file);
  if (holds != Holds::kNew) return ESTALE;
  if (inPlace) {
    bool ok = true;
    if (e.kind == Entry::Kind::kWma || e.startTag) ok = WriteSpan(file, e, true);
    if (ok && e.kind == Entry::Kind::kMp3 && (!e.startTag || WritesBlock(e))) {
      ok = RestoreBlock(e, file);
    }
    if (!ok) return file.error() != 0 ? file.error() : EIO;
    if (!PutReadOnlyBack(e, folder, file)) return EPERM;
    return (!flush || file.SyncData()) && file.Close() ? 0 : file.error();
  }
  QByteArray region;
  if (e.kind == Entry::Kind::kWma) {
    if (!ReadWmaHeader(file, region)) return ESTALE;
  } else if (!ReadAt(file, 0, e.InPlace() ? e.oldHeaderSize : NewTagSize(e), region)) {
    return ESTALE;
  }
  return ReplaceWithOld(e, folder, file, region);
}

int WriteHeaderInPlace(platform::File& file, const Entry& e, bool verify, bool flush) {
  if (!e.InPlace()) return EINVAL;
  if (verify) {
    QByteArray now;
    if (file.SizeAtOpen() != e.size || !ReadAt(file, 0, e.oldHeaderSize, now)) return ESTALE;
    if (ClassifySpan(e, now) != Holds::kOld) return ESTALE;  // changed since the plan was made
  }
  if (!e.SpansKnown()) return EINVAL;
  return wma::WriteHeaderInPlace(file, e.spanAt, Span(e.oldSpan), Span(e.newSpan), flush,
                                 [&] { return ReadsBack(file, e, e.oldHeaderSize, 0); });
}

}  // namespace core
