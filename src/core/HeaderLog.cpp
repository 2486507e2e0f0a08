#include "core/HeaderLog.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <QFile>
#include <QJsonObject>
#include <cerrno>
#include <memory>
#include <optional>

#include "core/Base64.h"
#include "platform/File.h"
#include "tags/wma/TWmaTag.h"

namespace core {

void (*onHeaderStep)(HeaderStep step) = nullptr;

namespace {

const QString kHeaderKind = QStringLiteral("header");

// The file's path with links and "." and ".." resolved, so that a record names it from anywhere;
// the path as given when it cannot be resolved.
std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&::free)> real(::realpath(path.c_str(), nullptr), &::free);
  return real ? std::string(real.get()) : path;
}

void Step(HeaderStep step) {
  if (onHeaderStep != nullptr) onHeaderStep(step);
}

// Where a file stands against a record: which header its header region holds.
enum class Holds { kOld, kNewOrTorn, kOther, kUnreachable };

Holds Classify(const platform::File& file, const QByteArray& oldHeader, const QByteArray& newHeader,
               int64_t size) {
  if (file.SizeAtOpen() != size || oldHeader.size() != newHeader.size()) return Holds::kOther;
  QByteArray now(oldHeader.size(), '\0');
  if (!file.ReadAt(0, now.data(), static_cast<size_t>(now.size()))) return Holds::kOther;
  if (now == oldHeader) return Holds::kOld;
  for (qsizetype i = 0; i < now.size(); ++i) {
    if (now[i] != oldHeader[i] && now[i] != newHeader[i]) return Holds::kOther;
  }
  return Holds::kNewOrTorn;
}

// Rolls back the write that `record` describes, as far as the file allows now.
HeaderRecovery::Result RollBack(const QJsonObject& record, const std::string& path) {
  using Result = HeaderRecovery::Result;
  const QByteArray oldHeader = FromB64(record.value(QStringLiteral("h")));
  const QByteArray newHeader = FromB64(record.value(QStringLiteral("n")));
  const int64_t size = record.value(QStringLiteral("s")).toInteger(-1);
  platform::File file;
  if (!file.OpenRead(path)) return Result::kPending;
  const Holds holds = Classify(file, oldHeader, newHeader, size);
  if (holds != Holds::kNewOrTorn) return Result::kUntouched;
  // Open again for writing only now: a file that already holds its old header is left alone even
  // where it cannot be written.
  if (!file.OpenReadWrite(path) || Classify(file, oldHeader, newHeader, size) != holds) {
    return Result::kPending;
  }
  if (!file.WriteAt(0, oldHeader.constData(), static_cast<size_t>(oldHeader.size())) ||
      !file.SyncData() || !file.Close()) {
    return Result::kPending;
  }
  return Result::kRestored;
}

// Rolls back the unfinished records of the log, all of them or those of `only` (a real path), and
// marks each settled one done. Empties the log once none is left unfinished.
std::vector<HeaderRecovery> Recover(const Journal& journal, const std::string* only) {
  std::vector<HeaderRecovery> report;
  Journal log = HeaderLog(journal);
  struct stat st;
  if (::stat(QFile::encodeName(log.FilePath()).constData(), &st) != 0 || st.st_size == 0) {
    return report;
  }
  std::vector<Journal::Action> records;
  if (!log.Load(records)) return report;
  bool unfinished = false;
  for (const Journal::Action& record : records) {
    if (record.done || record.Kind() != kHeaderKind) continue;
    const std::string path = FromB64(record.begin.value(QStringLiteral("p"))).toStdString();
    if (only != nullptr && path != *only) {
      unfinished = true;
      continue;
    }
    const HeaderRecovery::Result result = RollBack(record.begin, path);
    if (result == HeaderRecovery::Result::kPending || !log.Finish(record.Id(), QJsonObject())) {
      unfinished = true;
    }
    report.push_back({path, result});
  }
  if (!unfinished) log.Clear();
  return report;
}

}  // namespace

Journal HeaderLog(const Journal& journal) {
  return Journal(journal.Folder(), QStringLiteral("headers.jsonl"));
}

std::vector<HeaderRecovery> RecoverHeaders(const Journal& journal) {
  return Recover(journal, nullptr);
}

std::vector<HeaderRecovery> RecoverHeadersOf(const Journal& journal, const std::string& path) {
  const std::string real = RealPath(path);
  return Recover(journal, &real);
}

bool SaveWmaTag(TIDwma& tag, const std::string& path, Journal* journal, int& err) {
  const std::string real = RealPath(path);
  if (journal != nullptr) Recover(*journal, &real);
  wma::SavePlan plan;
  errno = 0;
  if (!tag.PlanSave(path, plan)) {
    err = errno;
    return false;
  }
  std::optional<Journal> log;
  std::optional<QString> id;
  if (journal != nullptr && plan.InPlace()) {
    log.emplace(HeaderLog(*journal));
    id = log->Begin(QJsonObject{{QStringLiteral("kind"), kHeaderKind},
                                {QStringLiteral("p"), B64(real)},
                                {QStringLiteral("s"), static_cast<qint64>(plan.fileSize)},
                                {QStringLiteral("h"), B64(plan.oldHeader)},
                                {QStringLiteral("n"), B64(plan.newHeader)}});
    log->TakeMessage();
  }
  if (!id) {
    errno = 0;
    const bool ok = wma::ReplaceFile(path, plan);
    err = errno;
    return ok;
  }
  Step(HeaderStep::kRecorded);
  errno = 0;
  const bool ok = wma::WriteHeaderInPlace(path, plan);
  err = errno;
  if (ok) {
    Step(HeaderStep::kWritten);
    log->Finish(*id, QJsonObject());
  } else {
    // The write put the old header back where it could; recovery settles what it could not.
    Recover(*journal, &real);
  }
  return ok;
}

}  // namespace core
