#include "core/TagWrites.h"

#include <QByteArrayView>
#include <algorithm>
#include <cerrno>

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

Holds Unreached(int err) { return err == ENOENT ? Holds::kMissing : Holds::kUnreachable; }

bool SameLetters(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a == b) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

Holds ClassifyRename(const Entry& e, const platform::Folder& folder, const QString& casePrefix,
                     size_t k, bool recorded) {
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

Holds ClassifyWma(const Entry& e, const platform::File& file) {
  const int64_t size = file.SizeAtOpen();
  if (e.oldHeader.isEmpty()) return Holds::kOther;
  QByteArray now;
  if (e.InPlace()) {
    if (size != e.size || !ReadAt(file, 0, e.oldHeader.size(), now)) return Holds::kOther;
    if (now == e.newHeader) return Holds::kNew;
    if (now == e.oldHeader) return Holds::kOld;
    return EachOldOrNew(now, e.oldHeader, e.newHeader) ? Holds::kTorn : Holds::kOther;
  }
  // Replaced in one step: the file holds the old header or the new one, or was changed since.
  if (!ReadWmaHeader(file, now)) return Holds::kOther;
  if (size == e.newSize && Digest(now) == e.newDigest) return Holds::kNew;
  if (size == e.size && now == e.oldHeader) return Holds::kOld;
  return Holds::kOther;
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

int Folders::SyncAll() {
  int first = 0;
  for (auto& [path, folder] : open_) {
    if (!folder.Sync() && first == 0) first = folder.error();
  }
  return first;
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
  return e.kind == Entry::Kind::kMp3 ? ClassifyMp3(e, file) : ClassifyWma(e, file);
}

Holds Repair(const Entry& e, const platform::Folder& folder, const QString& casePrefix, size_t k) {
  if (e.kind == Entry::Kind::kRename) {
    if (folder.Stat(e.name).exists) return folder.Remove(e.newName) ? Holds::kOld : Holds::kTorn;
    const std::string temp = CaseTempName(casePrefix, k);
    if (folder.Rename(temp, e.newName)) return Holds::kNew;
    return folder.Rename(temp, e.name) ? Holds::kOld : Holds::kTorn;
  }
  // Opened again for writing only now, and looked at again through that very descriptor: a file
  // that holds anything else by now is left alone.
  platform::File file;
  if (!folder.OpenFile(e.name, true, file)) return Unreached(folder.error());
  const Holds holds = e.kind == Entry::Kind::kMp3 ? ClassifyMp3(e, file) : ClassifyWma(e, file);
  if (holds != Holds::kTorn) return holds;
  bool ok;
  if (e.kind == Entry::Kind::kWma) {
    ok = file.WriteAt(0, e.oldHeader.constData(), static_cast<size_t>(e.oldHeader.size()));
  } else if (!e.oldBlock.isEmpty()) {
    ok = file.WriteAt(e.size - kBlock, e.oldBlock.constData(), kBlock);
  } else {
    ok = file.Truncate(e.size);
  }
  return ok && file.SyncData() && file.Close() ? Holds::kOld : Holds::kTorn;
}

int PutBack(const Entry& e, const platform::Folder& folder, const QString& casePrefix, size_t k) {
  if (e.kind == Entry::Kind::kRename) {
    const std::string temp = casePrefix.isEmpty() ? std::string() : CaseTempName(casePrefix, k);
    return folder.Rename(e.newName, e.name, temp) ? 0 : folder.error();
  }
  if (e.kind == Entry::Kind::kMp3) {
    platform::File file;
    if (!folder.OpenFile(e.name, true, file)) return folder.error();
    // Looked at again through the descriptor that writes: the size decides where the block goes.
    if (ClassifyMp3(e, file) != Holds::kNew) return ESTALE;
    const bool ok = e.oldBlock.isEmpty()
                        ? file.Truncate(e.size)
                        : file.WriteAt(e.size - kBlock, e.oldBlock.constData(), kBlock);
    if (!ok) return file.error();
    if (e.readOnly) {
      const platform::EntryInfo now = folder.Stat(e.name);
      if (!platform::Folder::SetMode(file, now.mode & ~0200u)) return EPERM;
    }
    return file.SyncData() && file.Close() ? 0 : file.error();
  }
  // A WMA header goes back through a new file: the old header, then the audio after the new one.
  platform::File source;
  if (!folder.OpenFile(e.name, false, source)) return folder.error();
  QByteArray header;
  if (ClassifyWma(e, source) != Holds::kNew || !ReadWmaHeader(source, header)) return ESTALE;
  const int64_t audio = source.SizeAtOpen() - header.size();
  platform::ReplacementFile replacement;
  // The file is closed before the new one takes its place: Windows renames over an open file
  // only where it has POSIX rename semantics (not on FAT drives).
  const bool ok =
      replacement.Begin(e.Path()) &&
      replacement.Write(e.oldHeader.constData(), static_cast<size_t>(e.oldHeader.size())) &&
      replacement.CopyFrom(source, header.size(), audio) && source.Close() && replacement.Commit();
  return ok ? 0 : replacement.error() != 0 ? replacement.error() : EIO;
}

int WriteHeaderInPlace(platform::File& file, const Entry& e, bool verify, bool flush) {
  if (!e.InPlace()) return EINVAL;
  if (verify) {
    QByteArray now;
    if (file.SizeAtOpen() != e.size || !ReadAt(file, 0, e.oldHeader.size(), now)) return ESTALE;
    if (now != e.oldHeader) return ESTALE;  // changed since the plan was made
  }
  if (int err = file.RefusesChange()) return err;
  if (file.WriteAt(0, e.newHeader.constData(), static_cast<size_t>(e.newHeader.size())) &&
      (!flush || file.SyncData())) {
    return 0;
  }
  const int err = file.error();
  // Put the old header back; where even that fails, the record of it remains for recovery.
  if (file.WriteAt(0, e.oldHeader.constData(), static_cast<size_t>(e.oldHeader.size()))) {
    file.SyncData();
  }
  return err;
}

}  // namespace core
