#include "core/journal/Journal.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <iterator>
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

// The small fields of a record, read from its line's first bytes.
struct Journal::Head {
  QByteArray type, id, writer, kind, time, codes;
  int version = 0;
  int entries = 0;
  int64_t size = -1;  // "len": the line's size
};

namespace {

using Head = Journal::Head;

constexpr int kVersion = 2;
const char kFileName[] = "journal.jsonl";
constexpr int64_t kChunk = int64_t{1} << 20;

const QString kType = QStringLiteral("#");
const QString kId = QStringLiteral("id");

std::string Native(const QString& path) { return rules::NativePath(path); }

// A path of the journal's as the user reads it, with the system's separator.
QString Shown(const QString& path) { return QDir::toNativeSeparators(path); }

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

// A record's line starts with its small fields, in this order, so that the index reads them from
// the line's first bytes and skips the rest: "#" (the kind of record), "len" (the line's size in
// bytes, newline included, as kLenDigits digits), "id", "v", "w", "kind", "time", "n" (the
// entries) and "r" (a done record's outcome of each entry). The payload follows; the line stays
// one JSON object, so a reader that parses it whole (ReadRecords, an older build) reads it as
// before. Lines of older journals, whose keys stand in JSON's sorted order, are parsed whole.
const char* const kHeadKeys[] = {"#", "len", "id", "v", "w", "kind", "time", "n", "r"};
constexpr int kLenDigits = 12;
const QString kLen = QStringLiteral("len");
// How much of a line is read first to find its small fields.
constexpr size_t kHeadRead = 4096;

QByteArray ValueText(const QJsonValue& value) {
  QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
  return text.mid(1, text.size() - 2);  // without the array's brackets
}

// Puts the line's size into its "len" field.
void SetLen(QByteArray& line, int64_t size) {
  const QByteArray digits = QByteArray::number(size).rightJustified(kLenDigits, '0');
  line.replace(line.indexOf("\"len\":\"") + 7, kLenDigits, digits);
}

QByteArray LineOf(QJsonObject record) {
  record.remove(kLen);
  QByteArray line = "{";
  for (const char* key : kHeadKeys) {
    const QString name = QString::fromLatin1(key);
    if (name == kLen) {
      line += "\"len\":\"" + QByteArray(kLenDigits, '0') + "\",";
    } else if (record.contains(name)) {
      line += ValueText(name) + ':' + ValueText(record.take(name)) + ',';
    }
  }
  if (record.isEmpty()) {
    line.back() = '}';
  } else {
    line += QJsonDocument(record).toJson(QJsonDocument::Compact).mid(1);
  }
  line.append('\n');
  SetLen(line, line.size());
  return line;
}

// A body that adds nothing.
class NoBody : public RecordBody {
 public:
  void Write(const std::function<void(const char*, size_t)>&) const override {}
};

enum class HeadScan {
  kRead,   // the small fields were read
  kShort,  // more bytes of the line are needed
  kNot,    // the line does not start as our records do: it is to be parsed whole
};

bool IsHeadKey(QByteArrayView key) {
  return std::any_of(std::begin(kHeadKeys), std::end(kHeadKeys),
                     [&](const char* k) { return key == QByteArrayView(k); });
}

// Reads the small fields at the start of `data` (the start of a line) up to the first key that is
// none of them, or the record's end. A value with an escape, or of another type than a plain
// string or number, makes the line one to parse whole.
HeadScan ScanHead(const char* data, size_t size, Head& head) {
  size_t at = 0;
  auto expect = [&](char c) { return at < size && data[at++] == c; };
  if (size == 0) return HeadScan::kShort;
  if (!expect('{')) return HeadScan::kNot;
  for (bool first = true;; first = false) {
    if (at >= size) return HeadScan::kShort;
    if (data[at] != '"') return HeadScan::kNot;
    const size_t keyAt = ++at;
    while (at < size && data[at] != '"') {
      if (data[at] == '\\' || static_cast<unsigned char>(data[at]) < 0x20) return HeadScan::kNot;
      ++at;
    }
    if (at >= size) return HeadScan::kShort;
    const QByteArrayView key(data + keyAt, static_cast<qsizetype>(at - keyAt));
    ++at;
    if (first != (key == "#")) return HeadScan::kNot;
    if (!IsHeadKey(key)) break;  // the payload starts
    if (at >= size) return HeadScan::kShort;
    if (!expect(':')) return HeadScan::kNot;
    if (at >= size) return HeadScan::kShort;
    QByteArray text;
    bool number = false;
    if (data[at] == '"') {
      const size_t from = ++at;
      while (at < size && data[at] != '"') {
        if (data[at] == '\\' || static_cast<unsigned char>(data[at]) < 0x20) {
          return HeadScan::kNot;
        }
        ++at;
      }
      if (at >= size) return HeadScan::kShort;
      text = QByteArray(data + from, static_cast<qsizetype>(at - from));
      ++at;
    } else {
      const size_t from = at;
      while (at < size && data[at] >= '0' && data[at] <= '9') ++at;
      if (at >= size) return HeadScan::kShort;
      if (at == from || at - from > 18) return HeadScan::kNot;
      text = QByteArray(data + from, static_cast<qsizetype>(at - from));
      number = true;
    }
    const bool wantsNumber = key == "v" || key == "n";
    if (number != wantsNumber) return HeadScan::kNot;
    if (key == "#") {
      head.type = text;
    } else if (key == "len") {
      bool ok = false;
      head.size = text.size() == kLenDigits ? text.toLongLong(&ok) : -1;
      if (!ok) return HeadScan::kNot;
    } else if (key == "id") {
      head.id = text;
    } else if (key == "v") {
      head.version = text.toInt();
    } else if (key == "w") {
      head.writer = text;
    } else if (key == "kind") {
      head.kind = text;
    } else if (key == "time") {
      head.time = text;
    } else if (key == "n") {
      head.entries = text.toInt();
    } else {
      head.codes = text;
    }
    if (at >= size) return HeadScan::kShort;
    if (data[at] == '}') break;
    if (!expect(',')) return HeadScan::kNot;
  }
  return head.size > 0 ? HeadScan::kRead : HeadScan::kNot;
}

// Reads a journal's bytes by position through a buffer of kHeadRead bytes, so that the end of one
// line and the small fields of the next one come in one read.
class HeadReader {
 public:
  HeadReader(platform::File& file, int64_t size) : file_(file), size_(size) {}

  // The `count` bytes at `at` (which must lie within the file), or null when they cannot be read.
  const char* Read(int64_t at, size_t count) {
    if (at < at_ || at + static_cast<int64_t>(count) > at_ + static_cast<int64_t>(bytes_.size())) {
      const size_t want = std::max(count, kHeadRead);
      bytes_.resize(static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(want), size_ - at)));
      if (!file_.ReadAt(at, bytes_.data(), bytes_.size())) {
        at_ = -1;
        bytes_.clear();
        return nullptr;
      }
      at_ = at;
    }
    return bytes_.data() + (at - at_);
  }

  // Reads the small fields of the record that starts at `at` and checks that the line ends where
  // its "len" says, with the end of a JSON object and a newline; the payload between is not read.
  // False for a line that is to be parsed whole: one of an older journal, or one that does not
  // hold what its first bytes promise.
  bool Head(int64_t at, Journal::Head& head) {
    // What the last read holds from `at` on, unless that is too little to hold the small fields.
    size_t want = at >= at_ && at < at_ + static_cast<int64_t>(bytes_.size())
                      ? bytes_.size() - static_cast<size_t>(at - at_)
                      : 0;
    if (want < kHeadRead / 8) want = static_cast<size_t>(std::min<int64_t>(kHeadRead, size_ - at));
    for (;;) {
      const char* data = Read(at, want);
      if (data == nullptr) return false;
      head = Journal::Head();
      const HeadScan scan = ScanHead(data, want, head);
      if (scan == HeadScan::kNot) return false;
      if (scan == HeadScan::kRead) break;
      // The small fields reach past what was read (the outcome codes of a large action).
      if (static_cast<int64_t>(want) >= size_ - at ||
          want > static_cast<size_t>(Journal::kMaxBytes)) {
        return false;
      }
      want = static_cast<size_t>(
          std::min<int64_t>(size_ - at, static_cast<int64_t>(std::max(want * 8, kHeadRead))));
    }
    const QByteArray& type = head.type;
    if ((type != "begin" && type != "done" && type != "undo") || head.id.isEmpty() ||
        head.version < 1 || head.version > kVersion || head.size < 2 || head.size > size_ - at) {
      return false;
    }
    const char* end = Read(at + head.size - 2, 2);
    return end != nullptr && end[0] == '}' && end[1] == '\n';
  }

 private:
  platform::File& file_;
  int64_t size_;
  std::string bytes_;
  int64_t at_ = -1;
};

}  // namespace

// Holds the journal's writer lock (`journal.jsonl.lock`) for a scope, so that no two processes
// read and rewrite or append to the journal at the same time. Where no lock file can be made (the
// folder cannot be written) the journal goes unlocked, and its writes fail by themselves; a
// symbolic link in place of the lock file makes Refresh() refuse the journal.
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
               .arg(Shown(folder_)));
  } else {
    Refuse(Core::tr("无法建立撤销记录文件夹 %1：%2").arg(Shown(folder_), ReasonOf(err)));
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
             .arg(why, Shown(aside)));
}

// Adds one record to the index: a begin record's action, a done record's outcome, an undo marker.
// False when the journal was set aside (a done record without its begin).
bool Journal::Index(const Head& head, int64_t at) {
  const QString id = QString::fromLatin1(head.id);
  if (head.type == "begin") {
    Action a;
    a.id = id;
    a.kind = QString::fromUtf8(head.kind);
    a.time = QString::fromUtf8(head.time);
    a.writer = QString::fromUtf8(head.writer);
    a.version = head.version;
    a.entries = head.entries;
    a.beginAt = at;
    a.beginSize = head.size;
    actions_.push_back(std::move(a));
  } else if (head.type == "done") {
    Action* a = Find(id);
    if (a == nullptr) {
      SetAside(Core::tr("完成记录没有对应的开始记录"));
      return false;
    }
    if (!a->finished) {  // a second one (two recoveries at once) says nothing new
      a->finished = true;
      a->codes = QString::fromLatin1(head.codes);
      a->doneAt = at;
      a->doneSize = head.size;
    }
  } else if (Action* a = Find(id)) {
    a->undoer = QString::fromUtf8(head.writer);
  }
  return true;
}

// Reads the line at `at` whole, as far as its newline, and parses it. `consumed` gets its size,
// or 0 when it is the journal's cut-off or zero-filled end (a crash's leftover, not a record).
// False when the journal was set aside or could not be read.
bool Journal::ParseLine(platform::File& file, int64_t at, int64_t size, int64_t& consumed) {
  consumed = 0;
  std::string line;
  size_t nl = std::string::npos;
  while (nl == std::string::npos) {
    const int64_t next = at + static_cast<int64_t>(line.size());
    if (next >= size) return true;  // cut off: not yet, or never, complete
    const size_t count = static_cast<size_t>(std::min<int64_t>(kChunk, size - next));
    const size_t old = line.size();
    line.resize(old + count);
    if (!file.ReadAt(next, line.data() + old, count)) {
      Refuse(Core::tr("无法读取撤销记录：%1").arg(ReasonOf(file.error())));
      return false;
    }
    nl = line.find('\n', old);
    if (nl == std::string::npos && line.size() > static_cast<size_t>(kMaxBytes + kChunk)) {
      SetAside(Core::tr("第 %1 字节处的记录过长").arg(at));
      return false;
    }
  }
  line.resize(nl + 1);
  if (ZeroFilled(line.data(), nl)) {
    // Zero bytes are a crash's leftover only where nothing but zero bytes follows them.
    std::string rest(static_cast<size_t>(std::min<int64_t>(kChunk, size - at)), '\0');
    for (int64_t from = at; from < size; from += static_cast<int64_t>(rest.size())) {
      rest.resize(static_cast<size_t>(std::min<int64_t>(kChunk, size - from)));
      if (!file.ReadAt(from, rest.data(), rest.size())) {
        Refuse(Core::tr("无法读取撤销记录：%1").arg(ReasonOf(file.error())));
        return false;
      }
      if (rest.find_first_not_of(std::string("\0\n", 2)) != std::string::npos) {
        SetAside(Core::tr("第 %1 字节处有零字节").arg(at));
        return false;
      }
    }
    return true;
  }
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(
      QByteArray::fromRawData(line.data(), static_cast<qsizetype>(line.size())), &error);
  const QJsonObject record = doc.object();
  Head head;
  head.type = record.value(kType).toString().toLatin1();
  head.id = record.value(kId).toString().toLatin1();
  head.version = record.value(QStringLiteral("v")).toInt();
  const bool known = head.type == "begin" || head.type == "done" || head.type == "undo";
  if (error.error != QJsonParseError::NoError || !doc.isObject() || head.id.isEmpty() || !known ||
      head.version < 1 || head.version > kVersion) {
    SetAside(Core::tr("第 %1 字节处的记录").arg(at));
    return false;
  }
  head.kind = record.value(QStringLiteral("kind")).toString().toUtf8();
  head.time = record.value(QStringLiteral("time")).toString().toUtf8();
  head.writer = record.value(QStringLiteral("w")).toString().toUtf8();
  head.entries = record.value(QStringLiteral("n")).toInt();
  head.codes = record.value(QStringLiteral("r")).toString().toLatin1();
  head.size = static_cast<int64_t>(line.size());
  if (!Index(head, at)) return false;
  consumed = head.size;
  return true;
}

bool Journal::Refresh() {
  if (platform::StatPath(NativePath() + ".lock", false).link) {  // no lock keeps writers apart
    Refuse(Core::tr("撤销记录的锁文件 %1.lock 是符号链接，已拒绝使用").arg(Shown(FilePath())));
    Forget();
    return false;
  }
  const platform::EntryInfo folder = platform::StatPath(Native(folder_), false);
  if (!folder.exists) {  // no journal yet; reading it creates nothing
    actions_.clear();
    indexedSize_ = cleanSize_ = 0;
    indexedInode_ = 0;
    return true;
  }
  if (folder.link || !folder.ours) {
    Refuse(Core::tr("撤销记录文件夹 %1 不是当前用户自己的文件夹（或是符号链接），已拒绝使用")
               .arg(Shown(folder_)));
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
    Refuse(
        err == ELOOP ? Core::tr("撤销记录 %1 是符号链接，已拒绝使用").arg(Shown(FilePath()))
        : err == EPERM || err == EINVAL
            ? Core::tr("撤销记录 %1 不是当前用户自己的普通文件，已拒绝使用").arg(Shown(FilePath()))
            : Core::tr("无法打开撤销记录 %1：%2").arg(Shown(FilePath()), ReasonOf(err)));
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
  // The new records, one at a time: of each only its small fields, unless it is to be parsed whole.
  int64_t at = indexedSize_;
  HeadReader reader(file, size);
  while (at < size) {
    Head head;
    if (reader.Head(at, head)) {
      if (!Index(head, at)) return false;
      at += head.size;
      continue;
    }
    int64_t consumed = 0;
    if (!ParseLine(file, at, size, consumed)) {
      indexedSize_ = -1;
      return false;
    }
    if (consumed == 0) break;  // the cut-off or zero-filled end
    at += consumed;
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
    record.remove(kLen);
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
// With `body`, `line` is the record's start, and the body and the record's end follow it.
bool Journal::AppendRecord(const QByteArray& line, bool flush, const RecordBody* body) {
  platform::File file;
  int err = platform::OpenPrivateFile(NativePath(), platform::PrivateOpen::kAppend, file);
  // Refresh() read this very file under the same lock: what lies past its records is a leftover.
  if (err == 0 && indexedSize_ >= 0 && file.DeviceAtOpen() == indexedDevice_ &&
      file.InodeAtOpen() == indexedInode_ && file.SizeAtOpen() > cleanSize_) {
    if (!file.Truncate(cleanSize_)) err = file.error();
  }
  // The body goes in pieces of about kChunk bytes, never whole.
  auto appendBody = [&] {
    if (body == nullptr) return true;
    std::string buffer;
    buffer.reserve(static_cast<size_t>(2 * kChunk));
    bool ok = true;
    body->Write([&](const char* data, size_t size) {
      buffer.append(data, size);
      if (ok && buffer.size() >= static_cast<size_t>(kChunk)) {
        ok = file.Append(buffer.data(), buffer.size());
        buffer.clear();
      }
    });
    buffer += "}\n";
    return ok && file.Append(buffer.data(), buffer.size());
  };
  if (err == 0 && (!file.Append(line.constData(), static_cast<size_t>(line.size())) ||
                   !appendBody() || (flush && !file.SyncData()) || !file.Close())) {
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
  return Begin(std::move(begin), NoBody());
}

std::optional<QString> Journal::Begin(QJsonObject begin, const RecordBody& body) {
  if (!begin.contains(kId)) begin.insert(kId, NewId());
  const QString id = begin.value(kId).toString();
  begin.insert(QStringLiteral("v"), kVersion);
  begin.insert(kType, QStringLiteral("begin"));
  begin.insert(QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
  begin.insert(QStringLiteral("w"), SelfTag());
  int64_t bodySize = 0;
  body.Write([&](const char*, size_t n) { bodySize += static_cast<int64_t>(n); });
  QByteArray line = LineOf(begin);
  int64_t size = line.size();
  if (bodySize > 0) {  // the line's start, up to its small fields' end; the body and "}\n" follow
    line.chop(2);
    line += ',';
    size = line.size() + bodySize + 2;
    SetLen(line, size);
  }
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
  if (!AppendRecord(line, true, bodySize > 0 ? &body : nullptr)) return std::nullopt;
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
