#include "core/Batch.h"

#include <sys/stat.h>

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonObject>
#include <cerrno>
#include <exception>

#include "core/HeaderLog.h"
#include "core/Reasons.h"
#include "core/Rules.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/ReplacementFile.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

namespace core {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- Values in records: bytes in base64

QString B64(const void* data, size_t size) {
  return QString::fromLatin1(
      QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(size)).toBase64());
}
QString B64(const std::string& s) { return B64(s.data(), s.size()); }
QByteArray FromB64(const QJsonValue& v) { return QByteArray::fromBase64(v.toString().toLatin1()); }
std::string StringOf(const QJsonValue& v) { return FromB64(v).toStdString(); }

QString Digest(const Bytes& bytes) {
  return QString::fromLatin1(
      QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                               QCryptographicHash::Sha256)
          .toHex());
}

int64_t SizeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : -1;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// ---- What a file holds where a save changes it

// The last 128 bytes of an MP3 file and its size.
struct Mp3State {
  bool read = false;
  int64_t size = 0;
  bool tagged = false;
  TagBlock last{};
};

Mp3State ReadMp3State(const std::string& path) {
  Mp3State state;
  platform::File file;
  if (!file.OpenRead(path)) return state;
  state.size = file.SizeAtOpen();
  if (state.size < static_cast<int64_t>(state.last.size())) return state;
  state.read = file.ReadAt(state.size - 128, state.last.data(), state.last.size());
  state.tagged = state.read && IsTagBlock(state.last);
  return state;
}

// The whole ASF header of a WMA file (its first object, as long as its Object Size says) and the
// file's size. False when the file does not start with a header that fits in it.
bool ReadWmaHeader(const std::string& path, Bytes& header, int64_t& size) {
  platform::File file;
  if (!file.OpenRead(path)) return false;
  size = file.SizeAtOpen();
  uint8_t start[24];
  if (size < 30 || !file.ReadAt(0, start, sizeof start)) return false;
  if (!std::equal(HeaderObjectId.begin(), HeaderObjectId.end(), start)) return false;
  uint64_t headerSize = 0;
  for (int i = 7; i >= 0; --i) headerSize = (headerSize << 8) | start[16 + i];
  if (headerSize < 30 || headerSize > static_cast<uint64_t>(size)) return false;
  header.resize(static_cast<size_t>(headerSize));
  return file.ReadAt(0, header.data(), header.size());
}

// ---- The batch edit's fields, set as the window's batch sets them

void SetFields(TIDmp3& tag, const EditFields& f) {
  using rules::ToGbk;
  using rules::TrimControl;
  if (f.artist) tag.SetArtist(ToGbk(TrimControl(*f.artist)));
  if (f.album) tag.SetAlbum(ToGbk(TrimControl(*f.album)));
  if (f.comment) tag.SetComment(ToGbk(TrimControl(*f.comment)));
  if (f.year) tag.SetYear(ToGbk(TrimControl(*f.year)));
}

void SetFields(TIDwma& tag, const EditFields& f) {
  using rules::ToUtf16;
  using rules::TrimControl;
  if (f.artist) tag.SetArtist(ToUtf16(TrimControl(*f.artist)));
  if (f.album) tag.SetAlbum(ToUtf16(TrimControl(*f.album)));
  if (f.comment) tag.SetComment(ToUtf16(TrimControl(*f.comment)));
  if (f.year) tag.SetYear(ToUtf16(TrimControl(*f.year)));
}

// Puts the tag that `state` holds into `tag`, as ReadFromFile would have read it.
void LoadState(TIDmp3& tag, const Mp3State& state) {
  tag.Clear();
  if (!state.tagged) return;
  tag.HasTag = true;
  DecodeBlock(state.last, tag);
}

// ---- Undo records of one saved file

const QString kMp3Save = QStringLiteral("mp3");
const QString kWmaSave = QStringLiteral("wma");

// The begin record's entry of an MP3 file about to get `fresh` as its tag; none when the file
// could not be read (its save is tried all the same, and cannot be undone).
QJsonObject Mp3Entry(const std::string& path, const Mp3State& state, const TagBlock& fresh) {
  QJsonObject e{{QStringLiteral("f"), kMp3Save}, {QStringLiteral("p"), B64(path)}};
  if (!state.read) return e;
  e.insert(QStringLiteral("s"), static_cast<qint64>(state.size));
  e.insert(QStringLiteral("old"), state.tagged ? B64(state.last.data(), 128) : QString());
  e.insert(QStringLiteral("new"), B64(fresh.data(), fresh.size()));
  return e;
}

// The begin record's entry of a WMA file: its old header and size.
QJsonObject WmaEntry(const std::string& path, const Bytes& header, int64_t size, bool read) {
  QJsonObject e{{QStringLiteral("f"), kWmaSave}, {QStringLiteral("p"), B64(path)}};
  if (!read) return e;
  e.insert(QStringLiteral("s"), static_cast<qint64>(size));
  e.insert(QStringLiteral("h"), B64(header.data(), header.size()));
  return e;
}

// What a WMA save left, for the done record: the size and the digest of the new header.
void NoteWmaResult(const std::string& path, QJsonArray& sizes, QJsonArray& digests) {
  Bytes header;
  int64_t size = 0;
  if (ReadWmaHeader(path, header, size)) {
    sizes.append(static_cast<qint64>(size));
    digests.append(Digest(header));
  } else {
    sizes.append(-1);
    digests.append(QString());
  }
}

int Code(Outcome o) { return static_cast<int>(o); }

// Opens the journal's action, when there is a journal; notes in the report why it is not undoable
// otherwise.
std::optional<QString> BeginAction(const ApplyOptions& options, const QString& kind,
                                   const QJsonArray& entries, bool complete, ApplyReport& report) {
  if (options.journal == nullptr) return std::nullopt;
  if (!complete) {
    report.journalMessage =
        QStringLiteral("此操作的撤销记录超过 %1 MiB，无法撤销").arg(Journal::kMaxBytes >> 20);
    return std::nullopt;
  }
  std::optional<QString> id = options.journal->Begin(
      QJsonObject{{QStringLiteral("kind"), kind}, {QStringLiteral("e"), entries}});
  if (!id) report.journalMessage = options.journal->TakeMessage();
  report.undoable = id.has_value();
  return id;
}

void FinishAction(const ApplyOptions& options, const std::optional<QString>& id, QJsonObject done,
                  ApplyReport& report) {
  if (!id) return;
  if (!options.journal->Finish(*id, std::move(done))) {
    // The begin record stands: the action reads as cut short, and undo finds out from the disk.
    report.journalMessage = options.journal->TakeMessage();
  }
}

bool GoOn(const ApplyOptions& options, int done, int total, const std::string& name) {
  if (options.cancel != nullptr && options.cancel->load()) return false;
  return !options.progress || options.progress(done, total, name);
}

QString SaveFailure(int err, bool mp3) {
  return ReasonOf(err, mp3 ? QStringLiteral("文件太短，不是MP3文件")
                           : QStringLiteral("不是WMA文件，或标签放不进文件头"));
}

}  // namespace

// ---- Apply

ApplyReport ApplyRename(const RenamePlan& plan, const ApplyOptions& options) {
  ApplyReport report;
  const size_t n = plan.entries.size();
  report.results.resize(n);
  QJsonArray entries;
  std::vector<size_t> tried;  // the plan entries that are tried, in the journal's order
  for (size_t i = 0; i < n; ++i) {
    const RenameEntry& e = plan.entries[i];
    if (e.status == RenameStatus::kRefused) {
      report.results[i] = {Outcome::kFailed, e.reason};
    }
    if (e.status != RenameStatus::kRename && e.status != RenameStatus::kConflict) continue;
    tried.push_back(i);
    entries.append(QJsonObject{{QStringLiteral("d"), B64(e.track.folder)},
                               {QStringLiteral("o"), B64(e.track.fileName)},
                               {QStringLiteral("n"), B64(e.newName)},
                               {QStringLiteral("s"), static_cast<qint64>(SizeOf(e.track.Path()))}});
  }
  const std::optional<QString> id =
      tried.empty() ? std::nullopt
                    : BeginAction(options, QStringLiteral("rename"), entries, true, report);

  QJsonArray codes;
  for (size_t k = 0; k < tried.size(); ++k) {
    const RenameEntry& e = plan.entries[tried[k]];
    if (report.stopped ||
        !GoOn(options, static_cast<int>(k), static_cast<int>(tried.size()), e.track.fileName)) {
      report.stopped = true;
      codes.append(Code(Outcome::kNotTried));
      continue;
    }
    errno = 0;
    const bool ok = platform::RenameInFolder(e.track.folder, e.track.fileName, e.newName);
    const int err = errno;
    report.results[tried[k]] =
        ok ? EntryResult{Outcome::kDone, {}} : EntryResult{Outcome::kFailed, ReasonOf(err)};
    codes.append(Code(report.results[tried[k]].outcome));
  }
  FinishAction(options, id, QJsonObject{{QStringLiteral("r"), codes}}, report);
  return report;
}

ApplyReport ApplyEdit(const EditPlan& plan, TIDmp3& mp3, TIDwma& wma, const ApplyOptions& options) {
  ApplyReport report;
  const size_t n = plan.entries.size();
  report.results.resize(n);

  // What each file holds now, and for an MP3 file the block it will get, before anything changes.
  std::vector<Mp3State> states(n);
  QJsonArray entries;
  bool complete = true;
  int64_t bytes = 0;
  for (size_t i = 0; i < n; ++i) {
    const EditEntry& e = plan.entries[i];
    if (e.mp3) {
      states[i] = ReadMp3State(e.path);
      TIDmp3 scratch;
      LoadState(scratch, states[i]);
      SetFields(scratch, plan.fields);
      if (complete) entries.append(Mp3Entry(e.path, states[i], EncodeBlock(scratch)));
      bytes += 400 + static_cast<int64_t>(e.path.size());
    } else if (complete && options.journal != nullptr) {
      RecoverHeadersOf(*options.journal, e.path);
      Bytes header;
      int64_t size = 0;
      const bool read = ReadWmaHeader(e.path, header, size);
      bytes += 200 + static_cast<int64_t>(e.path.size() + header.size() * 4 / 3);
      entries.append(WmaEntry(e.path, header, size, read));
    }
    if (bytes > Journal::kMaxBytes) {
      complete = false;  // too large to record: carried out, but it cannot be undone
      entries = QJsonArray();
    }
  }
  const std::optional<QString> id =
      BeginAction(options, QStringLiteral("edit"), entries, complete, report);

  QJsonArray codes, sizes, digests;
  for (size_t i = 0; i < n; ++i) {
    const EditEntry& e = plan.entries[i];
    auto pad = [&] {
      codes.append(Code(report.results[i].outcome));
      sizes.append(-1);
      digests.append(QString());
    };
    if (report.stopped || report.error ||
        !GoOn(options, static_cast<int>(i), static_cast<int>(n), e.path)) {
      report.stopped = report.stopped || !report.error;
      pad();
      continue;
    }
    bool ok = false;
    int err = 0;
    if (e.mp3) {
      LoadState(mp3, states[i]);  // what ReadFromFile gives, from the bytes read above
      SetFields(mp3, plan.fields);
      errno = 0;
      ok = mp3.SaveToFile(e.path);
      err = errno;
    } else {
      try {
        wma.ReadFromFile(e.path);
        SetFields(wma, plan.fields);
        ok = SaveWmaTag(wma, e.path, options.journal, err);
      } catch (const std::exception& ex) {
        report.error = ex.what();
        pad();
        continue;
      }
    }
    report.results[i] = ok ? EntryResult{Outcome::kDone, {}}
                           : EntryResult{Outcome::kFailed, SaveFailure(err, e.mp3)};
    codes.append(Code(report.results[i].outcome));
    if (ok && !e.mp3 && id) {
      NoteWmaResult(e.path, sizes, digests);
    } else {
      sizes.append(-1);
      digests.append(QString());
    }
  }
  FinishAction(options, id,
               QJsonObject{{QStringLiteral("r"), codes},
                           {QStringLiteral("z"), sizes},
                           {QStringLiteral("g"), digests}},
               report);
  return report;
}

ApplyReport SaveTag(TIDmp3& tag, const std::string& path, const ApplyOptions& options) {
  ApplyReport report;
  const Mp3State state = ReadMp3State(path);
  const std::optional<QString> id =
      BeginAction(options, QStringLiteral("save"),
                  QJsonArray{Mp3Entry(path, state, EncodeBlock(tag))}, true, report);
  errno = 0;
  const bool ok = tag.SaveToFile(path);
  const int err = errno;
  report.results = {ok ? EntryResult{Outcome::kDone, {}}
                       : EntryResult{Outcome::kFailed, SaveFailure(err, true)}};
  FinishAction(options, id,
               QJsonObject{{QStringLiteral("r"), QJsonArray{Code(report.results[0].outcome)}},
                           {QStringLiteral("z"), QJsonArray{-1}},
                           {QStringLiteral("g"), QJsonArray{QString()}}},
               report);
  return report;
}

ApplyReport SaveTag(TIDwma& tag, const std::string& path, const ApplyOptions& options) {
  ApplyReport report;
  if (options.journal != nullptr) RecoverHeadersOf(*options.journal, path);
  Bytes header;
  int64_t size = 0;
  const bool read = ReadWmaHeader(path, header, size);
  const QJsonObject entry = WmaEntry(path, header, size, read);
  const bool fits = Journal::RecordSize(entry) < Journal::kMaxBytes;
  const std::optional<QString> id =
      BeginAction(options, QStringLiteral("save"), QJsonArray{entry}, fits, report);
  bool ok = false;
  int err = 0;
  try {
    ok = SaveWmaTag(tag, path, options.journal, err);
  } catch (...) {
    FinishAction(options, id, QJsonObject{{QStringLiteral("r"), QJsonArray{0}}}, report);
    throw;
  }
  report.results = {ok ? EntryResult{Outcome::kDone, {}}
                       : EntryResult{Outcome::kFailed, SaveFailure(err, false)}};
  QJsonArray sizes, digests;
  if (ok) {
    NoteWmaResult(path, sizes, digests);
  } else {
    sizes.append(-1);
    digests.append(QString());
  }
  FinishAction(options, id,
               QJsonObject{{QStringLiteral("r"), QJsonArray{Code(report.results[0].outcome)}},
                           {QStringLiteral("z"), sizes},
                           {QStringLiteral("g"), digests}},
               report);
  return report;
}

// ---- Undo

namespace {

// The outcome an entry's done record gives; none when the action was cut short.
std::optional<Outcome> RecordedOutcome(const Journal::Action& action, int k) {
  if (!action.done) return std::nullopt;
  return static_cast<Outcome>(action.done->value(QStringLiteral("r")).toArray().at(k).toInt());
}

const QString kChanged = QStringLiteral("文件在此之后已被改动，未撤销");

UndoEntry UndoRename(const QJsonObject& e, std::optional<Outcome> recorded) {
  const std::string folder = StringOf(e.value(QStringLiteral("d")));
  const std::string oldName = StringOf(e.value(QStringLiteral("o")));
  const std::string newName = StringOf(e.value(QStringLiteral("n")));
  UndoEntry u{folder + newName, folder + oldName, Outcome::kNotTried, {}};
  const bool atNew = Exists(folder + newName);
  const bool atOld = Exists(folder + oldName);
  // Cut short: the rename never replaces, so the file was renamed when its new name is taken and
  // its old name free.
  if (recorded ? *recorded != Outcome::kDone : !(atNew && !atOld)) {
    u.path = u.restoredPath;
    return u;
  }
  if (!atNew) return {u.path, u.path, Outcome::kFailed, QStringLiteral("文件不存在")};
  if (atOld)
    return {u.path, u.path, Outcome::kFailed, QStringLiteral("原文件名已被另一个文件占用")};
  if (SizeOf(u.path) != e.value(QStringLiteral("s")).toInteger(-2)) {
    return {u.path, u.path, Outcome::kFailed, kChanged};
  }
  errno = 0;
  const bool ok = platform::IsPortableFileName(oldName)
                      ? platform::RenameInFolder(folder, newName, oldName)
                      : platform::RenameNoReplace(u.path, u.restoredPath);
  if (!ok) return {u.path, u.path, Outcome::kFailed, ReasonOf(errno)};
  u.outcome = Outcome::kDone;
  return u;
}

UndoEntry UndoMp3(const std::string& path, const QJsonObject& e, std::optional<Outcome> recorded) {
  UndoEntry u{path, path, Outcome::kNotTried, {}};
  if (recorded && *recorded != Outcome::kDone) return u;
  if (!e.contains(QStringLiteral("new"))) {
    return {path, path, Outcome::kFailed, QStringLiteral("保存前无法读取此文件，没有撤销数据")};
  }
  const QByteArray old = FromB64(e.value(QStringLiteral("old")));
  const QByteArray fresh = FromB64(e.value(QStringLiteral("new")));
  const int64_t oldSize = e.value(QStringLiteral("s")).toInteger();
  const int64_t newSize = old.isEmpty() ? oldSize + 128 : oldSize;
  const Mp3State now = ReadMp3State(path);
  const bool asWritten =
      now.read && now.size == newSize &&
      QByteArrayView(reinterpret_cast<const char*>(now.last.data()), 128) == fresh;
  if (!asWritten) {
    if (!recorded) return u;  // cut short before this file: nothing to take back
    return {path, path, Outcome::kFailed,
            now.read || Exists(path) ? kChanged : QStringLiteral("文件不存在")};
  }
  platform::File file;
  bool ok = file.OpenReadWrite(path);
  if (ok && old.isEmpty()) {
    ok = file.Truncate(oldSize);
  } else if (ok) {
    ok = old.size() == 128 && file.WriteAt(oldSize - 128, old.constData(), 128);
  }
  ok = ok && file.Sync() && file.Close();
  if (!ok) return {path, path, Outcome::kFailed, ReasonOf(file.error())};
  u.outcome = Outcome::kDone;
  return u;
}

UndoEntry UndoWma(const std::string& path, const QJsonObject& e, const Journal::Action& action,
                  int k) {
  UndoEntry u{path, path, Outcome::kNotTried, {}};
  const std::optional<Outcome> recorded = RecordedOutcome(action, k);
  if (recorded && *recorded != Outcome::kDone) return u;
  if (!e.contains(QStringLiteral("h"))) {
    return {path, path, Outcome::kFailed, QStringLiteral("保存前无法读取此文件，没有撤销数据")};
  }
  const QByteArray oldHeader = FromB64(e.value(QStringLiteral("h")));
  const int64_t oldSize = e.value(QStringLiteral("s")).toInteger();
  Bytes header;
  int64_t size = 0;
  if (!ReadWmaHeader(path, header, size)) {
    if (!recorded && !Exists(path)) return u;
    return {path, path, Outcome::kFailed, Exists(path) ? kChanged : QStringLiteral("文件不存在")};
  }
  const int64_t audio = size - static_cast<int64_t>(header.size());
  if (recorded) {
    const QJsonObject& done = *action.done;
    if (size != done.value(QStringLiteral("z")).toArray().at(k).toInteger(-2) ||
        Digest(header) != done.value(QStringLiteral("g")).toArray().at(k).toString()) {
      return {path, path, Outcome::kFailed, kChanged};
    }
  } else {
    // Cut short: the save replaces the file in one step, so it holds the old header or a new one.
    if (QByteArrayView(reinterpret_cast<const char*>(header.data()),
                       static_cast<qsizetype>(header.size())) == oldHeader) {
      return u;
    }
    if (audio != oldSize - oldHeader.size()) return {path, path, Outcome::kFailed, kChanged};
  }
  platform::File source;
  platform::ReplacementFile replacement;
  const bool ok = source.OpenRead(path) && replacement.Begin(path) &&
                  replacement.Write(oldHeader.constData(), static_cast<size_t>(oldHeader.size())) &&
                  replacement.CopyFrom(source, static_cast<int64_t>(header.size()), audio) &&
                  replacement.Commit();
  if (!ok) {
    const int err = replacement.error() != 0 ? replacement.error() : source.error();
    return {path, path, Outcome::kFailed, ReasonOf(err)};
  }
  u.outcome = Outcome::kDone;
  return u;
}

ActionInfo InfoOf(const Journal::Action& action) {
  ActionInfo info;
  info.id = action.Id();
  info.kind = action.Kind();
  info.time = action.begin.value(QStringLiteral("time")).toString();
  const QJsonArray entries = action.begin.value(QStringLiteral("e")).toArray();
  info.entries = static_cast<int>(entries.size());
  info.cutShort = !action.done;
  if (action.done) {
    for (const QJsonValue& r : action.done->value(QStringLiteral("r")).toArray()) {
      info.changed += r.toInt() == Code(Outcome::kDone);
    }
  } else {
    info.changed = info.entries;
  }
  return info;
}

}  // namespace

std::vector<ActionInfo> ListActions(Journal& journal) {
  std::vector<Journal::Action> actions;
  journal.Load(actions);
  std::vector<ActionInfo> list;
  for (auto it = actions.rbegin(); it != actions.rend(); ++it) list.push_back(InfoOf(*it));
  return list;
}

UndoReport UndoLast(Journal& journal) {
  UndoReport report;
  std::vector<Journal::Action> actions;
  journal.Load(actions);
  report.message = journal.TakeMessage();
  if (actions.empty()) return report;
  const Journal::Action& action = actions.back();
  report.action = InfoOf(action);
  const QJsonArray entries = action.begin.value(QStringLiteral("e")).toArray();
  for (int k = static_cast<int>(entries.size()) - 1; k >= 0; --k) {
    const QJsonObject e = entries.at(k).toObject();
    if (action.Kind() == QLatin1String("rename")) {
      report.entries.push_back(UndoRename(e, RecordedOutcome(action, k)));
      continue;
    }
    const std::string path = StringOf(e.value(QStringLiteral("p")));
    if (e.value(QStringLiteral("f")).toString() == kMp3Save) {
      report.entries.push_back(UndoMp3(path, e, RecordedOutcome(action, k)));
    } else {
      report.entries.push_back(UndoWma(path, e, action, k));
    }
  }
  if (!journal.Remove(action.Id())) report.message = journal.TakeMessage();
  return report;
}

}  // namespace core
