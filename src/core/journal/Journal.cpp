#include "core/journal/Journal.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

#include "core/text/Rules.h"
#include "core/utils/Reasons.h"
#include "core/utils/Tr.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"
#include "platform/PrivateFiles.h"
#include "platform/Process.h"

namespace core {
namespace {

constexpr int kVersion = 2;
const char kFileName[] = "journal.jsonl";
constexpr int64_t kChunk = int64_t{1} << 20;

const QString kType = QStringLiteral("#");
const QString kId = QStringLiteral("id");

std::string Native(const QString& path) { return rules::NativePath(path); }

QString SelfTag() { return QString::fromStdString(platform::ThisProcess().Tag()); }

// What this process holds for every journal it writes: the ids of its actions in flight (begun
// and not yet finished, or being undone) and its owner locks, one a journal folder. A child made
// by fork() is another writer, and starts afresh.
struct ProcessState {
  std::mutex mutex;
  long long pid = -1;
  std::set<QString> inFlight;
  std::map<std::string, std::unique_ptr<platform::FileLock>> owners;

  // Called with the mutex held.
  void Adopt() {
    const long long now = platform::ThisProcess().pid;
    if (pid == now) return;
    pid = now;
    inFlight.clear();
    owners.clear();  // the parent's locks stay with the parent: closing our copies keeps them
  }
};

ProcessState& State() {
  static ProcessState state;
  return state;
}

bool InFlightHere(const QString& id) {
  ProcessState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.Adopt();
  return s.inFlight.count(id) != 0;
}

void SetInFlight(const QString& id, bool on) {
  ProcessState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.Adopt();
  if (on) {
    s.inFlight.insert(id);
  } else {
    s.inFlight.erase(id);
  }
}

// True when a line holds nothing but zero bytes: what a crash leaves where an append had grown the
// file but its data never reached the disk.
bool ZeroFilled(const char* data, size_t size) {
  return std::all_of(data, data + size, [](char c) { return c == '\0'; });
}

// The id of a compact record: the value of its key "id". Record values are base64, numbers or
// plain ASCII words, so a quote never stands inside one.
QByteArray IdOf(const char* data, size_t size) {
  static const QByteArray key = "\"id\":\"";
  const QByteArrayView line(data, static_cast<qsizetype>(size));
  qsizetype at = line.indexOf(key);
  if (at < 0) return {};
  at += key.size();
  const qsizetype end = line.indexOf('"', at);
  return end < 0 ? QByteArray() : line.sliced(at, end - at).toByteArray();
}

QByteArray LineOf(QJsonObject record) {
  QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact);
  line.append('\n');
  return line;
}

}  // namespace

// Holds the journal's writer lock (`journal.jsonl.lock`) for a scope, so that no two processes
// read and rewrite or append to the journal at the same time. Where no lock file can be made (the
// folder cannot be written) the journal goes unlocked, and its writes fail by themselves.
// The lock is taken once however deep the calls that ask for it go (a refresh under a lock may set
// the journal aside, which locks too).
class Journal::Lock {
 public:
  explicit Lock(Journal& journal) : journal_(journal) {
    if (journal_.lockDepth_++ == 0)
      journal_.writerLock_->Lock(journal_.NativePath() + ".lock", true);
  }
  ~Lock() {
    if (--journal_.lockDepth_ == 0) journal_.writerLock_->Unlock();
  }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  Journal& journal_;
};

int Journal::Action::Changed() const { return static_cast<int>(codes.count(QLatin1Char('1'))); }

Journal::Journal(QString folder)
    : folder_(std::move(folder)), writerLock_(std::make_unique<platform::FileLock>()) {}

Journal::~Journal() = default;

QString Journal::DefaultFolder() { return rules::FromNativePath(platform::StateFolder()); }

QString Journal::NewId() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

QString Journal::FilePath() const { return folder_ + QLatin1Char('/') + QLatin1String(kFileName); }

std::string Journal::NativePath() const { return Native(FilePath()); }

std::string Journal::OwnersFolder() const { return Native(folder_) + "/owners"; }

QString Journal::TakeMessage() { return std::exchange(message_, QString()); }

void Journal::Refuse(const QString& message) { message_ = message; }

bool Journal::EnsureFolder() {
  const int err = platform::EnsurePrivateFolder(Native(folder_));
  if (err == 0) return true;
  if (err == ELOOP || err == ENOTDIR || err == EPERM) {
    Refuse(Core::tr("撤销记录文件夹 %1 不是当前用户自己的文件夹（或是符号链接），已拒绝使用")
               .arg(folder_));
  } else {
    Refuse(Core::tr("无法建立撤销记录文件夹 %1：%2").arg(folder_, ReasonOf(err)));
  }
  return false;
}

bool Journal::TakeOwnerLock() {
  ProcessState& s = State();
  std::lock_guard<std::mutex> guard(s.mutex);
  s.Adopt();
  const std::string owners = OwnersFolder();
  if (s.owners.count(owners) != 0) return true;
  int err = platform::EnsurePrivateFolder(owners);
  auto lock = std::make_unique<platform::FileLock>();
  if (err == 0) {
    err = lock->Lock(owners + "/" + platform::ThisProcess().Tag() + ".lock", false);
  }
  if (err != 0) {
    Refuse(Core::tr("无法在撤销记录文件夹中登记本程序：%1").arg(ReasonOf(err)));
    return false;
  }
  s.owners.emplace(owners, std::move(lock));
  return true;
}

bool Journal::Running(const Action& action) const {
  const QString self = SelfTag();
  auto alive = [&](const QString& writer) {
    if (writer == self) return InFlightHere(action.id);
    return platform::FileLock::HeldByAnother(OwnersFolder() + "/" + writer.toStdString() + ".lock");
  };
  if (!action.undoer.isEmpty() && alive(action.undoer)) return true;
  if (action.finished || action.writer.isEmpty()) return false;
  return alive(action.writer);
}

Journal::Action* Journal::Find(const QString& id) {
  for (Action& a : actions_) {
    if (a.id == id) return &a;
  }
  return nullptr;
}

// Drops the index of a journal that can no longer be read or trusted: what it listed before is
// not offered from then on.
void Journal::Forget() {
  actions_.clear();
  indexedSize_ = -1;
  indexedInode_ = 0;
}

void Journal::SetAside(const QString& why) {
  const Lock lock(*this);
  const QString stamp =
      FilePath() + QStringLiteral(".damaged-") +
      QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss-zzz"));
  QString aside = stamp;
  int err = 0;
  // Only the file that was read: a journal rewritten meanwhile is another file. Two journals set
  // aside within one millisecond get names of their own.
  const platform::EntryInfo now = platform::StatPath(NativePath(), false);
  if (now.exists && now.device == indexedDevice_ && now.inode == indexedInode_) {
    for (int n = 1; !platform::RenameNoReplace(NativePath(), Native(aside)); ++n) {
      err = errno;
      if (err != EEXIST || n > 99) break;
      aside = stamp + QLatin1Char('-') + QString::number(n);
      err = 0;
    }
  }
  Forget();
  if (err != 0) {
    Refuse(Core::tr("撤销记录已损坏或不是本程序的记录（%1），且无法移走：%2，其中的操作无法撤销")
               .arg(why, ReasonOf(err)));
    return;
  }
  Refuse(Core::tr("撤销记录已损坏或不是本程序的记录（%1），已移到 %2，其中的操作无法撤销")
             .arg(why, aside));
}

// Reads the records of `bytes`, which stand at `base` in the file, into the index. A line cut off
// at the end is left for a later read; so are zero bytes that reach the end (a crash's leftover).
// `consumed` gets the bytes of whole records read. False when the journal was set aside.
bool Journal::Parse(const std::string& bytes, int64_t base, bool whole, int64_t& consumed) {
  consumed = 0;
  size_t from = 0;
  while (from < bytes.size()) {
    const size_t nl = bytes.find('\n', from);
    if (nl == std::string::npos) break;  // cut off: not yet, or never, complete
    const char* data = bytes.data() + from;
    const size_t size = nl + 1 - from;
    if (ZeroFilled(data, size - 1)) {
      // Zero bytes are a crash's leftover only where nothing but zero bytes follows them.
      if (!whole) break;  // decided once the rest is read
      if (bytes.find_first_not_of(std::string("\0\n", 2), from) == std::string::npos) break;
      SetAside(Core::tr("第 %1 字节处有零字节").arg(base + static_cast<int64_t>(from)));
      return false;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray::fromRawData(data, static_cast<qsizetype>(size)), &error);
    const QJsonObject record = doc.object();
    const QString type = record.value(kType).toString();
    const QString id = record.value(kId).toString();
    const int version = record.value(QStringLiteral("v")).toInt();
    const bool known = type == QLatin1String("begin") || type == QLatin1String("done") ||
                       type == QLatin1String("undo");
    if (error.error != QJsonParseError::NoError || !doc.isObject() || id.isEmpty() || !known ||
        version < 1 || version > kVersion) {
      SetAside(Core::tr("第 %1 字节处的记录").arg(base + static_cast<int64_t>(from)));
      return false;
    }
    const int64_t at = base + static_cast<int64_t>(from);
    if (type == QLatin1String("begin")) {
      Action a;
      a.id = id;
      a.kind = record.value(QStringLiteral("kind")).toString();
      a.time = record.value(QStringLiteral("time")).toString();
      a.writer = record.value(QStringLiteral("w")).toString();
      a.version = version;
      a.entries = record.value(QStringLiteral("n")).toInt();
      a.beginAt = at;
      a.beginSize = static_cast<int64_t>(size);
      actions_.push_back(std::move(a));
    } else if (type == QLatin1String("done")) {
      Action* a = Find(id);
      if (a == nullptr) {
        SetAside(Core::tr("完成记录没有对应的开始记录"));
        return false;
      }
      if (!a->finished) {  // a second one (two recoveries at once) says nothing new
        a->finished = true;
        a->codes = record.value(QStringLiteral("r")).toString();
        a->doneAt = at;
        a->doneSize = static_cast<int64_t>(size);
      }
    } else if (Action* a = Find(id)) {
      a->undoer = record.value(QStringLiteral("w")).toString();
    }
    from = nl + 1;
    consumed = static_cast<int64_t>(from);
  }
  return true;
}

bool Journal::Refresh() {
  const platform::EntryInfo folder = platform::StatPath(Native(folder_), false);
  if (!folder.exists) {  // no journal yet; reading it creates nothing
    actions_.clear();
    indexedSize_ = cleanSize_ = 0;
    indexedInode_ = 0;
    return true;
  }
  if (folder.link || !folder.ours) {
    Refuse(Core::tr("撤销记录文件夹 %1 不是当前用户自己的文件夹（或是符号链接），已拒绝使用")
               .arg(folder_));
    Forget();
    return false;
  }
  platform::File file;
  const int err = platform::OpenPrivateFile(NativePath(), platform::PrivateOpen::kRead, file);
  if (err == ENOENT) {
    actions_.clear();
    indexedSize_ = cleanSize_ = 0;
    indexedInode_ = 0;
    return true;
  }
  if (err != 0) {
    Refuse(err == ELOOP ? Core::tr("撤销记录 %1 是符号链接，已拒绝使用").arg(FilePath())
           : err == EPERM || err == EINVAL
               ? Core::tr("撤销记录 %1 不是当前用户自己的普通文件，已拒绝使用").arg(FilePath())
               : Core::tr("无法打开撤销记录 %1：%2").arg(FilePath(), ReasonOf(err)));
    Forget();
    return false;
  }
  const int64_t size = file.SizeAtOpen();
  const bool same = file.DeviceAtOpen() == indexedDevice_ && file.InodeAtOpen() == indexedInode_ &&
                    indexedSize_ >= 0 && size >= indexedSize_;
  indexedDevice_ = file.DeviceAtOpen();
  indexedInode_ = file.InodeAtOpen();
  if (size > kReadBound) {
    SetAside(Core::tr("文件大小 %1 MiB，远超上限").arg(size >> 20));
    return false;
  }
  if (!same) {
    actions_.clear();
    indexedSize_ = 0;
  }
  // The new records, a chunk at a time; a record is never longer than the bound of the journal.
  std::string pending;
  int64_t at = indexedSize_;
  while (at + static_cast<int64_t>(pending.size()) < size) {
    const int64_t next = at + static_cast<int64_t>(pending.size());
    const size_t count = static_cast<size_t>(std::min<int64_t>(kChunk, size - next));
    const size_t old = pending.size();
    pending.resize(old + count);
    if (!file.ReadAt(next, pending.data() + old, count)) {
      Refuse(Core::tr("无法读取撤销记录：%1").arg(ReasonOf(file.error())));
      indexedSize_ = -1;
      return false;
    }
    const bool whole = next + static_cast<int64_t>(count) >= size;
    int64_t consumed = 0;
    if (!Parse(pending, at, whole, consumed)) return false;
    pending.erase(0, static_cast<size_t>(consumed));
    at += consumed;
    if (pending.size() > static_cast<size_t>(kMaxBytes + kChunk)) {
      SetAside(Core::tr("第 %1 字节处的记录过长").arg(at));
      return false;
    }
  }
  indexedSize_ = at;
  cleanSize_ = at;
  return true;
}

bool Journal::ReadRecords(const Action& action, QJsonObject& begin,
                          std::optional<QJsonObject>& done) {
  platform::File file;
  if (platform::OpenPrivateFile(NativePath(), platform::PrivateOpen::kRead, file) != 0 ||
      file.DeviceAtOpen() != indexedDevice_ || file.InodeAtOpen() != indexedInode_) {
    return false;
  }
  auto read = [&](int64_t at, int64_t size, QJsonObject& record) {
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    if (size <= 0 || !file.ReadAt(at, bytes.data(), static_cast<size_t>(size))) return false;
    record = QJsonDocument::fromJson(bytes).object();
    return record.value(kId).toString() == action.id;
  };
  if (!read(action.beginAt, action.beginSize, begin)) return false;
  done.reset();
  if (action.finished) {
    QJsonObject d;
    if (!read(action.doneAt, action.doneSize, d)) return false;
    done = d;
  }
  return true;
}

bool Journal::ReadAll(std::string& bytes) {
  bytes.clear();
  platform::File file;
  const int err = platform::OpenPrivateFile(NativePath(), platform::PrivateOpen::kRead, file);
  if (err == ENOENT) return true;
  const int64_t size = std::min(file.SizeAtOpen(), cleanSize_);
  if (err != 0 || file.InodeAtOpen() != indexedInode_ || size > kReadBound) return false;
  bytes.resize(static_cast<size_t>(size));
  return file.ReadAt(0, bytes.data(), bytes.size());
}

// Appends one record with the writer lock held. A last line cut off or zero-filled by a crash is
// cut away first, so that the record starts on a line of its own.
bool Journal::AppendRecord(const QByteArray& line, bool flush) {
  platform::File file;
  int err = platform::OpenPrivateFile(NativePath(), platform::PrivateOpen::kAppend, file);
  // Refresh() read this very file under the same lock: what lies past its records is a leftover.
  if (err == 0 && indexedSize_ >= 0 && file.DeviceAtOpen() == indexedDevice_ &&
      file.InodeAtOpen() == indexedInode_ && file.SizeAtOpen() > cleanSize_) {
    if (!file.Truncate(cleanSize_)) err = file.error();
  }
  if (err == 0 && (!file.Append(line.constData(), static_cast<size_t>(line.size())) ||
                   (flush && !file.SyncData()) || !file.Close())) {
    err = file.error();
    // A record not known to be whole on the disk is taken out again: it was not written.
    if (file.IsOpen() && indexedSize_ >= 0 && file.InodeAtOpen() == indexedInode_) {
      file.Truncate(cleanSize_);
    }
  }
  if (err != 0) {
    Refuse(Core::tr("无法写入撤销记录：%1").arg(ReasonOf(err)));
    return false;
  }
  return true;
}

bool Journal::Compact(int64_t room) {
  std::string bytes;
  if (!ReadAll(bytes)) {
    Refuse(Core::tr("无法整理撤销记录"));
    return false;
  }
  // Actions that changed nothing go first, then the oldest ones, down below the bounds; an action
  // without its done record stays (running, or waiting to be settled).
  std::set<QString> dropped;
  int kept = 0;
  int64_t keptBytes = 0;
  for (const Action& a : actions_) {
    if (a.Empty()) {
      dropped.insert(a.id);
    } else {
      ++kept;
      keptBytes += a.beginSize + a.doneSize;
    }
  }
  const int64_t target = keptBytes + room > kMaxBytes ? kMaxBytes / 4 * 3 : kMaxBytes;
  for (const Action& a : actions_) {
    if (kept + 1 <= kMaxActions && keptBytes + room <= target) break;
    if (dropped.count(a.id) != 0 || !a.finished || Running(a)) continue;
    dropped.insert(a.id);
    --kept;
    keptBytes -= a.beginSize + a.doneSize;
  }
  std::string keep;
  for (size_t from = 0; from < bytes.size();) {
    const size_t nl = bytes.find('\n', from);
    const size_t to = nl == std::string::npos ? bytes.size() : nl + 1;
    const QString id = QString::fromLatin1(IdOf(bytes.data() + from, to - from));
    if (dropped.count(id) == 0) keep.append(bytes, from, to - from);
    from = to;
  }
  if (const int err = platform::ReplacePrivateFile(NativePath(), keep)) {
    Refuse(Core::tr("无法整理撤销记录：%1").arg(ReasonOf(err)));
    return false;
  }
  indexedInode_ = 0;
  return Refresh();
}

std::optional<QString> Journal::Begin(QJsonObject begin) {
  if (!begin.contains(kId)) begin.insert(kId, NewId());
  const QString id = begin.value(kId).toString();
  begin.insert(QStringLiteral("v"), kVersion);
  begin.insert(kType, QStringLiteral("begin"));
  begin.insert(QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
  begin.insert(QStringLiteral("w"), SelfTag());
  const QByteArray line = LineOf(begin);
  const int64_t size = line.size();
  if (size > kMaxBytes) {
    Refuse(Core::tr("此操作的撤销记录超过 %1 MiB，无法撤销").arg(kMaxBytes >> 20));
    return std::nullopt;
  }
  // The done record to come is small; a tenth of the begin record is room enough for it.
  const int64_t room = size + size / 10 + 4096;
  if (!EnsureFolder() || !TakeOwnerLock()) return std::nullopt;
  const Lock lock(*this);
  if (!Refresh()) return std::nullopt;
  if (static_cast<int>(actions_.size()) + 1 > kMaxActions + kSpareActions ||
      cleanSize_ + room > kMaxBytes) {
    if (!Compact(room)) return std::nullopt;
  }
  if (!AppendRecord(line, true)) return std::nullopt;
  SetInFlight(id, true);
  return id;
}

bool Journal::Finish(const QString& id, QJsonObject done) {
  done.insert(QStringLiteral("v"), kVersion);
  done.insert(kType, QStringLiteral("done"));
  done.insert(kId, id);
  const QByteArray line = LineOf(done);
  SetInFlight(id, false);  // from here on a cut-short action, should the record not be written
  if (!EnsureFolder()) return false;
  const Lock lock(*this);
  if (!Refresh()) indexedSize_ = -1;  // the record goes at the end all the same
  return AppendRecord(line, false);
}

bool Journal::MarkUndo(const QString& id) {
  if (!EnsureFolder() || !TakeOwnerLock()) return false;
  const QJsonObject mark{{QStringLiteral("v"), kVersion},
                         {kType, QStringLiteral("undo")},
                         {kId, id},
                         {QStringLiteral("w"), SelfTag()}};
  const Lock lock(*this);
  if (!Refresh()) return false;
  const Action* action = Find(id);
  if (action == nullptr || Running(*action)) return false;
  if (!AppendRecord(LineOf(mark), false)) return false;
  SetInFlight(id, true);
  return true;
}

bool Journal::Settle(const QString& id, QJsonObject done) {
  done.insert(QStringLiteral("v"), kVersion);
  done.insert(kType, QStringLiteral("done"));
  done.insert(kId, id);
  if (!EnsureFolder()) return false;
  const Lock lock(*this);
  if (!Refresh()) return false;
  const Action* action = Find(id);
  if (action == nullptr || action->finished) return true;  // settled meanwhile
  return AppendRecord(LineOf(done), false);
}

bool Journal::Rewrite(const QString& id, const QJsonObject& begin, const QJsonObject& done) {
  const Lock lock(*this);
  std::string bytes;
  if (!Refresh() || !ReadAll(bytes)) {
    SetInFlight(id, false);
    if (message_.isEmpty()) Refuse(Core::tr("无法改写撤销记录"));
    return false;
  }
  const Action* action = Find(id);
  const int64_t beginAt = action != nullptr ? action->beginAt : -1;
  std::string keep;
  for (size_t from = 0; from < bytes.size();) {
    const size_t nl = bytes.find('\n', from);
    const size_t to = nl == std::string::npos ? bytes.size() : nl + 1;
    if (QString::fromLatin1(IdOf(bytes.data() + from, to - from)) != id) {
      keep.append(bytes, from, to - from);
    } else if (static_cast<int64_t>(from) == beginAt && !begin.isEmpty()) {
      QJsonObject b = begin, d = done;
      for (QJsonObject* r : {&b, &d}) {
        r->insert(QStringLiteral("v"), kVersion);
        r->insert(kId, id);
      }
      b.insert(kType, QStringLiteral("begin"));
      d.insert(kType, QStringLiteral("done"));
      keep += LineOf(b).toStdString();
      keep += LineOf(d).toStdString();
    }
    from = to;
  }
  const int err = platform::ReplacePrivateFile(NativePath(), keep);
  SetInFlight(id, false);
  indexedInode_ = 0;
  if (err != 0) {
    Refuse(Core::tr("无法改写撤销记录：%1").arg(ReasonOf(err)));
    return false;
  }
  return true;
}

}  // namespace core
