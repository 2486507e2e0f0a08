#include "core/Journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArrayView>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>
#include <cerrno>
#include <utility>

#include "core/Reasons.h"

namespace core {
namespace {

constexpr int kVersion = 1;
const char kFileName[] = "journal.jsonl";

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

// Closes a descriptor at the end of a scope.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

// Holds an exclusive lock on `journal`.lock for a scope, so that the window and the command line
// never read and rewrite the journal at the same time (a rewrite would lose the other's record).
// Without a lock file (the folder cannot be written) the journal is used unlocked, as before.
class WriterLock {
 public:
  explicit WriterLock(const QString& journal) {
    fd_ = ::open(QFile::encodeName(journal + QStringLiteral(".lock")).constData(),
                 O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~WriterLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the descriptor releases the lock
  }
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;

 private:
  int fd_ = -1;
};

bool WriteAllFd(int fd, const QByteArray& bytes) {
  qsizetype done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

// Every record's first key is "#", its kind (keys are written in order, and "#" sorts first), so a
// line's first bytes tell a begin record from a done record.
constexpr QByteArrayView kBeginStart("{\"#\":\"begin\"");

// One line of the journal as the bounds see it, without parsing its JSON.
struct Line {
  qsizetype from = 0, to = 0;  // the line's bytes, its newline included
  QByteArray id;
  bool begin = false;
};

// The value of the key `"id":"` in a compact record. Record values are base64, numbers or plain
// ASCII words, so a quote never stands inside one.
QByteArray IdOf(QByteArrayView line) {
  static const QByteArray key = "\"id\":\"";
  qsizetype at = line.indexOf(key);
  if (at < 0) return {};
  at += key.size();
  qsizetype end = line.indexOf('"', at);
  return end < 0 ? QByteArray() : line.sliced(at, end - at).toByteArray();
}

std::vector<Line> SplitLines(const QByteArray& bytes) {
  std::vector<Line> lines;
  qsizetype from = 0;
  while (from < bytes.size()) {
    qsizetype nl = bytes.indexOf('\n', from);
    qsizetype to = nl < 0 ? bytes.size() : nl + 1;
    QByteArrayView view(bytes.constData() + from, to - from);
    lines.push_back({from, to, IdOf(view), view.startsWith(kBeginStart)});
    from = to;
  }
  return lines;
}

}  // namespace

QString Journal::Action::Id() const { return begin.value(QStringLiteral("id")).toString(); }
QString Journal::Action::Kind() const { return begin.value(QStringLiteral("kind")).toString(); }

Journal::Journal(QString folder) : Journal(std::move(folder), QLatin1String(kFileName)) {}

Journal::Journal(QString folder, QString fileName)
    : folder_(std::move(folder)), fileName_(std::move(fileName)) {}

QString Journal::DefaultFolder() {
  const QString state = qEnvironmentVariable("XDG_STATE_HOME");
  if (!state.isEmpty() && QDir::isAbsolutePath(state)) return state + QStringLiteral("/velomi");
  return QDir::homePath() + QStringLiteral("/.local/state/velomi");
}

QString Journal::FilePath() const { return folder_ + QLatin1Char('/') + fileName_; }

QString Journal::TakeMessage() { return std::exchange(message_, QString()); }

void Journal::Refuse(const QString& message) { message_ = message; }

bool Journal::EnsureFolder() {
  const QByteArray folder = Native(folder_);
  QDir().mkpath(QFileInfo(folder_).absolutePath());  // the parents, with the usual permissions
  if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
    Refuse(QStringLiteral("无法建立撤销记录文件夹 %1：%2").arg(folder_, ReasonOf(errno)));
    return false;
  }
  struct stat st;
  if (::lstat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
    Refuse(QStringLiteral("撤销记录文件夹 %1 不是当前用户自己的文件夹（或是符号链接），已拒绝使用")
               .arg(folder_));
    return false;
  }
  if ((st.st_mode & 077) != 0) ::chmod(folder.constData(), 0700);
  return true;
}

// Opens the journal file with `flags`, refusing a symbolic link, a file that is not regular and
// one of another user. -1 when refused or failed.
int Journal::OpenChecked(int flags) {
  struct stat folder;
  if (!(flags & O_CREAT) && ::lstat(Native(folder_).constData(), &folder) != 0 && errno == ENOENT) {
    return -2;  // no journal yet; reading it creates nothing
  }
  if (!EnsureFolder()) return -1;
  const QByteArray path = Native(FilePath());
  int fd = ::open(path.constData(), flags | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == ENOENT && !(flags & O_CREAT)) return -2;  // no journal yet
    Refuse(errno == ELOOP
               ? QStringLiteral("撤销记录 %1 是符号链接，已拒绝使用").arg(FilePath())
               : QStringLiteral("无法打开撤销记录 %1：%2").arg(FilePath(), ReasonOf(errno)));
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
    ::close(fd);
    Refuse(QStringLiteral("撤销记录 %1 不是当前用户自己的普通文件，已拒绝使用").arg(FilePath()));
    return -1;
  }
  if ((st.st_mode & 077) != 0) ::fchmod(fd, 0600);
  return fd;
}

bool Journal::ReadAll(QByteArray& bytes) {
  bytes.clear();
  int fd = OpenChecked(O_RDONLY);
  if (fd == -2) return true;
  if (fd < 0) return false;
  FdCloser closer{fd};
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      Refuse(QStringLiteral("无法读取撤销记录：%1").arg(ReasonOf(errno)));
      return false;
    }
    if (n == 0) return true;
    bytes.append(buffer, n);
  }
}

void Journal::SetAside(const QString& why) {
  const QString aside =
      FilePath() + QStringLiteral(".damaged-") +
      QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss-zzz"));
  ::rename(Native(FilePath()).constData(), Native(aside).constData());
  Refuse(QStringLiteral("撤销记录已损坏或不是本程序的记录（%1），已移到 %2，其中的操作无法撤销")
             .arg(why, aside));
}

bool Journal::Parse(const QByteArray& bytes, std::vector<Action>& actions) {
  actions.clear();
  const std::vector<Line> lines = SplitLines(bytes);
  for (const Line& line : lines) {
    QByteArray text = bytes.mid(line.from, line.to - line.from);
    if (!text.endsWith('\n')) break;  // a record cut off while it was written: never flushed
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    const QJsonObject record = doc.object();
    const QString type = record.value(QStringLiteral("#")).toString();
    const QString id = record.value(QStringLiteral("id")).toString();
    if (error.error != QJsonParseError::NoError || !doc.isObject() ||
        record.value(QStringLiteral("v")).toInt() != kVersion || id.isEmpty() ||
        (type != QLatin1String("begin") && type != QLatin1String("done"))) {
      SetAside(QStringLiteral("第 %1 行").arg(&line - lines.data() + 1));
      actions.clear();
      return false;
    }
    if (type == QLatin1String("begin")) {
      actions.push_back({record, std::nullopt});
      continue;
    }
    bool matched = false;
    for (Action& action : actions) {
      if (action.Id() == id && !action.done) {
        action.done = record;
        matched = true;
      }
    }
    if (!matched) {
      SetAside(QStringLiteral("完成记录没有对应的开始记录"));
      actions.clear();
      return false;
    }
  }
  return true;
}

bool Journal::Load(std::vector<Action>& actions) {
  actions.clear();
  QByteArray bytes;
  if (!ReadAll(bytes)) return false;
  if (!Parse(bytes, actions)) return false;
  // Between two cuts the file may hold a few more actions than the bound: they are not offered.
  if (actions.size() > static_cast<size_t>(kMaxActions)) {
    actions.erase(actions.begin(), actions.end() - kMaxActions);
  }
  return true;
}

bool Journal::AppendLine(const QByteArray& line) {
  int fd = OpenChecked(O_WRONLY | O_APPEND | O_CREAT);
  if (fd < 0) return false;
  FdCloser closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0 || st.st_size != knownSize_) knownSize_ = -1;
  if (!WriteAllFd(fd, line) || ::fdatasync(fd) != 0) {
    knownSize_ = -1;
    Refuse(QStringLiteral("无法写入撤销记录：%1").arg(ReasonOf(errno)));
    return false;
  }
  if (knownSize_ >= 0) knownSize_ += line.size();
  return true;
}

// Writes the kept lines to a new file beside the journal and puts it in the journal's place.
static bool ReplaceWith(const QString& journal, const QByteArray& bytes) {
  const QByteArray temp = Native(journal + QStringLiteral(".new"));
  ::unlink(temp.constData());
  int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = WriteAllFd(fd, bytes) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(temp.constData(), Native(journal).constData()) != 0) {
    ::unlink(temp.constData());
    return false;
  }
  // The rename itself reaches the disk too: a record taken out must not come back after a crash.
  const int folder = ::open(Native(QFileInfo(journal).absolutePath()).constData(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return true;
}

bool Journal::Compact(int64_t room) {
  QByteArray bytes;
  if (!ReadAll(bytes)) return false;
  const std::vector<Line> lines = SplitLines(bytes);
  std::vector<QByteArray> order;  // the ids of the actions, oldest first
  for (const Line& line : lines) {
    if (line.begin) order.push_back(line.id);
  }
  // Once a bound is passed the journal is cut below it (the last kMaxActions actions, three
  // quarters of the bytes), so that it is not rewritten on every action.
  int64_t kept = bytes.size();
  const int64_t target = kept + room > kMaxBytes ? kMaxBytes / 4 * 3 : kMaxBytes;
  size_t drop = 0;
  while (drop < order.size() &&
         (static_cast<int>(order.size() - drop) + 1 > kMaxActions || kept + room > target)) {
    for (const Line& line : lines) {
      if (line.id == order[drop]) kept -= line.to - line.from;
    }
    ++drop;
  }
  // A record cut off while it was written (the program died before its flush) goes too, so that
  // the next record starts on a line of its own.
  const bool partial = !bytes.isEmpty() && !bytes.endsWith('\n');
  QByteArray keep;
  for (const Line& line : lines) {
    if (partial && &line == &lines.back()) break;
    bool dropped = false;
    for (size_t i = 0; i < drop && !dropped; ++i) dropped = line.id == order[i];
    if (!dropped) keep.append(bytes.constData() + line.from, line.to - line.from);
  }
  if (!ReplaceWith(FilePath(), keep)) {
    knownSize_ = -1;
    Refuse(QStringLiteral("无法整理撤销记录：%1").arg(ReasonOf(errno)));
    return false;
  }
  knownSize_ = keep.size();
  knownActions_ = static_cast<int>(order.size() - drop);
  return true;
}

std::optional<QString> Journal::Begin(QJsonObject begin) {
  const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
  begin.insert(QStringLiteral("v"), kVersion);
  begin.insert(QStringLiteral("#"), QStringLiteral("begin"));
  begin.insert(QStringLiteral("id"), id);
  begin.insert(QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
  QByteArray line = QJsonDocument(begin).toJson(QJsonDocument::Compact);
  line.append('\n');
  const int64_t size = line.size();
  if (size > kMaxBytes) {
    Refuse(QStringLiteral("此操作的撤销记录超过 %1 MiB，无法撤销").arg(kMaxBytes >> 20));
    return std::nullopt;
  }
  // The done record to come is small; a tenth of the begin record is room enough for it.
  const int64_t room = size + size / 10 + 4096;
  if (!EnsureFolder()) return std::nullopt;
  const WriterLock lock(FilePath());

  // What the journal holds is read only when this object did not write all of it.
  struct stat st;
  const QByteArray path = Native(FilePath());
  const int64_t onDisk = ::lstat(path.constData(), &st) == 0 ? st.st_size : 0;
  if (onDisk != knownSize_) {
    QByteArray bytes;
    if (!ReadAll(bytes)) return std::nullopt;
    knownActions_ = 0;
    for (const Line& l : SplitLines(bytes)) knownActions_ += l.begin;
    knownSize_ = bytes.endsWith('\n') || bytes.isEmpty() ? bytes.size() : -2;  // -2: cut off
  }
  if (knownSize_ < 0 || knownActions_ + 1 > kMaxActions + kSpareActions ||
      knownSize_ + room > kMaxBytes) {
    if (!Compact(room)) return std::nullopt;
  }
  if (!AppendLine(line)) return std::nullopt;
  ++knownActions_;
  return id;
}

bool Journal::Finish(const QString& id, QJsonObject done) {
  done.insert(QStringLiteral("v"), kVersion);
  done.insert(QStringLiteral("#"), QStringLiteral("done"));
  done.insert(QStringLiteral("id"), id);
  QByteArray line = QJsonDocument(done).toJson(QJsonDocument::Compact);
  line.append('\n');
  if (!EnsureFolder()) return false;
  const WriterLock lock(FilePath());
  return AppendLine(line);
}

bool Journal::Clear() {
  const WriterLock lock(FilePath());
  const int fd = OpenChecked(O_WRONLY | O_TRUNC);
  if (fd == -2) return true;
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool Journal::Remove(const QString& id) {
  const WriterLock lock(FilePath());
  QByteArray bytes;
  if (!ReadAll(bytes)) return false;
  const QByteArray key = id.toLatin1();
  QByteArray keep;
  for (const Line& line : SplitLines(bytes)) {
    if (line.id != key) keep.append(bytes.constData() + line.from, line.to - line.from);
  }
  knownSize_ = -1;
  if (!ReplaceWith(FilePath(), keep)) {
    Refuse(QStringLiteral("无法改写撤销记录：%1").arg(ReasonOf(errno)));
    return false;
  }
  return true;
}

}  // namespace core
