#include "core/journal/PreImages.h"

#include <QDateTime>
#include <cerrno>
#include <cstring>

#include "core/text/Rules.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"
#include "platform/PrivateFiles.h"

namespace core {
namespace {

constexpr char kMagic[] = "VPI1";
constexpr int64_t kMagicSize = 4;
constexpr int64_t kEntryHead = 24;
constexpr size_t kBuffer = size_t{1} << 20;
constexpr int64_t kOrphanMsecs = int64_t{3600} * 1000;

std::string FolderOf(const QString& journalFolder) {
  return rules::NativePath(journalFolder) + "/preimages";
}

// The names of an action's pre-image files, after its id, in the order they are read.
const char* const kSuffixes[] = {"", ".undo", ".undo.tmp"};

// Only names an action id can have: letters, digits and '-'.
bool IdName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-'))
      return false;
  }
  return true;
}

std::string PathOf(const QString& journalFolder, const QString& id) {
  return FolderOf(journalFolder) + "/" + id.toStdString();
}

void PutU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint64_t GetU64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

bool ReadSpans(const platform::File& file, int64_t at, int64_t size, Entry& e) {
  e.oldSpan.resize(static_cast<qsizetype>(size));
  e.newSpan.resize(static_cast<qsizetype>(size));
  return size == 0 || (file.ReadAt(at, e.oldSpan.data(), static_cast<size_t>(size)) &&
                       file.ReadAt(at + size, e.newSpan.data(), static_cast<size_t>(size)));
}

}  // namespace

int PreImageWriter::Open(const QString& journalFolder, const QString& id, bool undo) {
  if (!IdName(id.toStdString())) return EINVAL;
  if (int err = platform::EnsurePrivateFolder(FolderOf(journalFolder))) return err;
  path_ = PathOf(journalFolder, id) + (undo ? ".undo" : "");
  const std::string temp = path_ + ".tmp";
  if (int err = platform::OpenPrivateFile(temp, platform::PrivateOpen::kAppend, file_)) return err;
  if (!file_.Truncate(0)) return file_.error();
  buffer_.assign(kMagic, kMagicSize);
  written_ = 0;
  return 0;
}

bool PreImageWriter::Flush() {
  if (buffer_.empty() || error_ != 0) return error_ == 0;
  if (!file_.Append(buffer_.data(), buffer_.size())) {
    error_ = file_.error() != 0 ? file_.error() : EIO;
    return false;
  }
  written_ += static_cast<int64_t>(buffer_.size());
  buffer_.clear();
  return true;
}

int64_t PreImageWriter::Add(size_t k, const Entry& e) {
  if (!e.SpansKnown() || error_ != 0) return -1;
  PutU64(buffer_, k);
  PutU64(buffer_, static_cast<uint64_t>(e.spanAt));
  PutU64(buffer_, static_cast<uint64_t>(e.spanSize));
  const int64_t at = written_ + static_cast<int64_t>(buffer_.size());
  buffer_.append(e.oldSpan.constData(), static_cast<size_t>(e.oldSpan.size()));
  buffer_.append(e.newSpan.constData(), static_cast<size_t>(e.newSpan.size()));
  if (buffer_.size() >= kBuffer && !Flush()) return -1;
  return at;
}

int PreImageWriter::Seal() {
  if (!Flush()) return error_;
  if (!file_.SyncData()) return file_.error();
  // Whole and on the disk: it takes the place of one an undo cut short may have left.
  const int gone = platform::RemoveFile(path_);
  if (gone != 0 && gone != ENOENT) return gone;
  if (!platform::RenameNoReplace(path_ + ".tmp", path_)) return errno != 0 ? errno : EIO;
  platform::Folder folder;
  if (!folder.Open(path_.substr(0, path_.rfind('/')))) return folder.error();
  if (!folder.Sync()) return folder.error();
  if (int err = platform::OpenPrivateFile(path_, platform::PrivateOpen::kRead, reader_)) return err;
  return 0;
}

bool PreImageWriter::Load(int64_t at, Entry& e) const {
  return at >= 0 && reader_.IsOpen() && ReadSpans(reader_, at, e.spanSize, e);
}

bool PreImageReader::Open(const QString& journalFolder, const QString& id) {
  index_.clear();
  if (!IdName(id.toStdString())) return false;
  bool any = false;
  for (size_t f = 0; f < 3; ++f) {
    const std::string path = PathOf(journalFolder, id) + kSuffixes[f];
    if (platform::OpenPrivateFile(path, platform::PrivateOpen::kRead, files_[f]) == 0) {
      any = Index(f) || any;
    }
  }
  return any;
}

bool PreImageReader::Index(size_t f) {
  const platform::File& file = files_[f];
  const int64_t size = file.SizeAtOpen();
  char magic[kMagicSize];
  if (size < kMagicSize || !file.ReadAt(0, magic, kMagicSize) ||
      std::memcmp(magic, kMagic, kMagicSize) != 0) {
    return false;
  }
  int64_t at = kMagicSize;
  while (at + kEntryHead <= size) {
    unsigned char head[kEntryHead];
    if (!file.ReadAt(at, head, kEntryHead)) return false;
    const uint64_t k = GetU64(head), spanSize = GetU64(head + 16);
    if (spanSize > static_cast<uint64_t>(size)) break;  // cut short: the rest is not whole
    const int64_t bytes = static_cast<int64_t>(spanSize);
    if (at + kEntryHead + 2 * bytes > size) break;
    index_[static_cast<size_t>(k)] = {f, at + kEntryHead, bytes};
    at += kEntryHead + 2 * bytes;
  }
  return true;
}

bool PreImageReader::Load(size_t k, Entry& e) const {
  auto it = index_.find(k);
  if (it == index_.end()) return false;
  const auto [f, at, size] = it->second;
  unsigned char head[8];
  if (size != e.spanSize || !files_[f].ReadAt(at - 16, head, 8) ||
      GetU64(head) != static_cast<uint64_t>(e.spanAt)) {
    return false;
  }
  return ReadSpans(files_[f], at, e.spanSize, e);
}

void RemovePreImages(const QString& journalFolder, const QString& id) {
  if (!IdName(id.toStdString())) return;
  for (const char* suffix : kSuffixes) platform::RemoveFile(PathOf(journalFolder, id) + suffix);
  platform::RemoveFile(PathOf(journalFolder, id) + ".tmp");
}

void SweepPreImages(const QString& journalFolder, const std::map<QString, bool>& actions) {
  const std::string folder = FolderOf(journalFolder) + "/";
  const int64_t now = QDateTime::currentMSecsSinceEpoch();
  for (const std::string& name : platform::ListFolder(folder, "")) {
    const std::string id = name.substr(0, name.find('.'));
    if (!IdName(id)) continue;
    auto it = actions.find(QString::fromStdString(id));
    const bool undo = name.find(".undo") != std::string::npos;
    const bool remove =
        undo ? it == actions.end()
        : it != actions.end()
            ? it->second
            : now - platform::StatPath(folder + name, false).modifiedMsecs > kOrphanMsecs;
    if (remove) platform::RemoveFile(folder + name);
  }
}

}  // namespace core
