#include "core/Batch.h"

#include <sys/stat.h>

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonObject>
#include <cerrno>
#include <exception>

#include "core/Base64.h"
#include "core/HeaderLog.h"
#include "core/Reasons.h"
#include "core/Rules.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/ReplacementFile.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/AsfObjects.h"
#include "tags/wma/TWmaTag.h"

namespace core {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- Values in records

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

// The whole ASF header of a WMA file (its first object, as long as its Object Size says) and the
// file's size. False when the file does not start with a header the tag code would read (the same
// identification and size bounds, so a file claiming a huge header takes no memory for it).
bool ReadWmaHeader(const std::string& path, Bytes& header, int64_t& size) {
  platform::File file;
  if (!file.OpenRead(path)) return false;
  size = file.SizeAtOpen();
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
  header.resize(static_cast<size_t>(headerSize));
  return file.ReadAt(0, header.data(), header.size());
}

// ---- The batch edit's fields, set as the window's batch sets them

// The texts of a batch edit, trimmed and converted once for every file: GBK for the MP3 object,
// UTF-16 for the WMA object.
struct FieldTexts {
  explicit FieldTexts(const EditFields& f) {
    const std::optional<QString>* in[] = {&f.artist, &f.album, &f.comment, &f.year};
    for (size_t i = 0; i < 4; ++i) {
      if (!*in[i]) continue;
      const QString text = rules::TrimControl(**in[i]);
      gbk[i] = rules::ToGbk(text);
      utf16[i] = rules::ToUtf16(text);
    }
    moreMp3 = f.moreMp3;
    moreWma = f.moreWma;
  }
  // In the batch's order: artist, album, comment, year.
  std::optional<std::string> gbk[4];
  std::optional<std::u16string> utf16[4];
  // The further setters of the command line, after the four fields.
  std::function<void(TIDmp3&)> moreMp3;
  std::function<void(TIDwma&)> moreWma;
};

void SetFields(TIDmp3& tag, const FieldTexts& f) {
  if (f.gbk[0]) tag.SetArtist(*f.gbk[0]);
  if (f.gbk[1]) tag.SetAlbum(*f.gbk[1]);
  if (f.gbk[2]) tag.SetComment(*f.gbk[2]);
  if (f.gbk[3]) tag.SetYear(*f.gbk[3]);
  if (f.moreMp3) f.moreMp3(tag);
}

void SetFields(TIDwma& tag, const FieldTexts& f) {
  if (f.utf16[0]) tag.SetArtist(*f.utf16[0]);
  if (f.utf16[1]) tag.SetAlbum(*f.utf16[1]);
  if (f.utf16[2]) tag.SetComment(*f.utf16[2]);
  if (f.utf16[3]) tag.SetYear(*f.utf16[3]);
  if (f.moreWma) f.moreWma(tag);
}

// Puts the tag that `state` holds into `tag`, as ReadFromFile would have read it.
void LoadState(TIDmp3& tag, const Mp3Snapshot& state) {
  tag.Clear();
  if (!state.tagged) return;
  tag.HasTag = true;
  DecodeBlock(state.last, tag);
}

// ---- Undo records of one saved file

const QString kMp3Save = QStringLiteral("mp3");
const QString kWmaSave = QStringLiteral("wma");

// The begin record of an action, written column by column: one text of all names joined by NUL
// bytes and one of all 128-byte blocks, each in base64, cost far less to build and to write than
// an object per file. EntriesOf() gives back one object per entry for undo.
class Columns {
 public:
  // A rename: the file `folder` + `from` about to become `folder` + `to`.
  void AddRename(const std::string& folder, const std::string& from, const std::string& to) {
    Join(folders_, folder);
    Join(paths_, from);
    Join(news_, to);
    sizes_.append(static_cast<qint64>(SizeOf(folder + from)));
    ++count_;
  }
  // An MP3 file about to get `fresh` as its tag.
  void AddMp3(const std::string& path, const Mp3Snapshot& state, const TagBlock& fresh) {
    kinds_ += 'm';
    Join(paths_, path);
    sizes_.append(static_cast<qint64>(state.read ? state.size : -1));
    states_ += !state.read ? '-' : state.tagged ? 'T' : 'N';
    if (state.tagged) olds_.append(reinterpret_cast<const char*>(state.last.data()), 128);
    if (state.read) news_.append(reinterpret_cast<const char*>(fresh.data()), 128);
    ++count_;
  }
  // A WMA file and its old header (`read`: the header could be read).
  void AddWma(const std::string& path, const Bytes& header, int64_t size, bool read) {
    kinds_ += 'w';
    Join(paths_, path);
    sizes_.append(static_cast<qint64>(read ? size : -1));
    states_ += read ? 'H' : '-';
    if (read) headers_.append(B64(header.data(), header.size()));
    bytes_ += static_cast<int64_t>(header.size()) * 4 / 3;
    ++count_;
  }
  // About how many bytes the record will take.
  int64_t Size() const {
    return bytes_ + (folders_.size() + paths_.size() + news_.size() + olds_.size()) * 4 / 3 +
           static_cast<int64_t>(count_) * 8;
  }
  QJsonObject Record(const QString& kind) const {
    QJsonObject r{{QStringLiteral("kind"), kind},
                  {QStringLiteral("n"), count_},
                  {QStringLiteral("p"), B64(paths_.data(), paths_.size())},
                  {QStringLiteral("s"), sizes_}};
    if (kind == QLatin1String("rename")) {
      r.insert(QStringLiteral("d"), B64(folders_.data(), folders_.size()));
      r.insert(QStringLiteral("to"), B64(news_.data(), news_.size()));
      return r;
    }
    r.insert(QStringLiteral("k"), QString::fromLatin1(kinds_));
    r.insert(QStringLiteral("st"), QString::fromLatin1(states_));
    r.insert(QStringLiteral("old"), B64(olds_.data(), olds_.size()));
    r.insert(QStringLiteral("new"), B64(news_.data(), news_.size()));
    r.insert(QStringLiteral("h"), headers_);
    return r;
  }

 private:
  static void Join(std::string& all, const std::string& one) {
    all += one;
    all += '\0';
  }
  int count_ = 0;
  std::string folders_, paths_, news_, olds_, kinds_, states_;
  QJsonArray sizes_, headers_;
  int64_t bytes_ = 0;
};

std::vector<std::string> SplitNul(const QJsonValue& v) {
  std::vector<std::string> parts;
  const QByteArray all = FromB64(v);
  qsizetype from = 0;
  while (from < all.size()) {
    qsizetype nul = all.indexOf('\0', from);
    if (nul < 0) nul = all.size();
    parts.emplace_back(all.constData() + from, static_cast<size_t>(nul - from));
    from = nul + 1;
  }
  return parts;
}

// One object per entry of a begin record: for a rename "d", "o", "n", "s"; for a save "f", "p",
// "s" and, when the file was read, "old" and "new" (MP3) or "h" (WMA).
std::vector<QJsonObject> EntriesOf(const QJsonObject& begin) {
  std::vector<QJsonObject> entries;
  const int n = begin.value(QStringLiteral("n")).toInt();
  const std::vector<std::string> paths = SplitNul(begin.value(QStringLiteral("p")));
  const QJsonArray sizes = begin.value(QStringLiteral("s")).toArray();
  if (static_cast<int>(paths.size()) != n || sizes.size() != n) return entries;
  if (begin.value(QStringLiteral("kind")).toString() == QLatin1String("rename")) {
    const auto folders = SplitNul(begin.value(QStringLiteral("d")));
    const auto news = SplitNul(begin.value(QStringLiteral("to")));
    if (static_cast<int>(folders.size()) != n || static_cast<int>(news.size()) != n) return {};
    for (int i = 0; i < n; ++i) {
      entries.push_back(QJsonObject{{QStringLiteral("d"), B64(folders[i])},
                                    {QStringLiteral("o"), B64(paths[i])},
                                    {QStringLiteral("n"), B64(news[i])},
                                    {QStringLiteral("s"), sizes[i]}});
    }
    return entries;
  }
  const QString kinds = begin.value(QStringLiteral("k")).toString();
  const QString states = begin.value(QStringLiteral("st")).toString();
  const QByteArray olds = FromB64(begin.value(QStringLiteral("old")));
  const QByteArray news = FromB64(begin.value(QStringLiteral("new")));
  const QJsonArray headers = begin.value(QStringLiteral("h")).toArray();
  if (kinds.size() != n || states.size() != n) return {};
  qsizetype oldAt = 0, newAt = 0, headerAt = 0;
  for (int i = 0; i < n; ++i) {
    const bool mp3 = kinds[i] == QLatin1Char('m');
    const QChar state = states[i];
    QJsonObject e{{QStringLiteral("f"), mp3 ? kMp3Save : kWmaSave},
                  {QStringLiteral("p"), B64(paths[i])},
                  {QStringLiteral("s"), sizes[i]}};
    if (mp3 && state != QLatin1Char('-')) {
      const bool tagged = state == QLatin1Char('T');
      if ((tagged && oldAt + 128 > olds.size()) || newAt + 128 > news.size()) return {};
      e.insert(QStringLiteral("old"),
               tagged ? QString::fromLatin1(olds.mid(oldAt, 128).toBase64()) : QString());
      e.insert(QStringLiteral("new"), QString::fromLatin1(news.mid(newAt, 128).toBase64()));
      oldAt += tagged ? 128 : 0;
      newAt += 128;
    } else if (!mp3 && state == QLatin1Char('H')) {
      if (headerAt >= headers.size()) return {};
      e.insert(QStringLiteral("h"), headers[headerAt++]);
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

// The done record: each entry's outcome as one digit of a text, and for each WMA file saved the
// size and the SHA-256 of its new header, keyed by the entry's index.
class DoneRecord {
 public:
  void Add(Outcome outcome) { codes_ += static_cast<char>('0' + static_cast<int>(outcome)); }
  void NoteWma(size_t k, const std::string& path) {
    Bytes header;
    int64_t size = 0;
    if (!ReadWmaHeader(path, header, size)) return;
    sizes_.insert(QString::number(k), static_cast<qint64>(size));
    digests_.insert(QString::number(k), Digest(header));
  }
  QJsonObject Record() const {
    return {{QStringLiteral("r"), QString::fromLatin1(codes_)},
            {QStringLiteral("z"), sizes_},
            {QStringLiteral("g"), digests_}};
  }

 private:
  std::string codes_;
  QJsonObject sizes_, digests_;
};

int Code(Outcome o) { return static_cast<int>(o); }

// Opens the journal's action, when there is a journal; notes in the report why it is not undoable
// otherwise.
std::optional<QString> BeginAction(const ApplyOptions& options, const QString& kind,
                                   const Columns& columns, ApplyReport& report) {
  if (options.journal == nullptr) return std::nullopt;
  if (columns.Size() > Journal::kMaxBytes) {
    report.journalMessage =
        QStringLiteral("此操作的撤销记录超过 %1 MiB，无法撤销").arg(Journal::kMaxBytes >> 20);
    return std::nullopt;
  }
  std::optional<QString> id = options.journal->Begin(columns.Record(kind));
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
  Columns columns;
  std::vector<size_t> tried;  // the plan entries that are tried, in the journal's order
  for (size_t i = 0; i < n; ++i) {
    const RenameEntry& e = plan.entries[i];
    if (e.status == RenameStatus::kRefused) {
      report.results[i] = {Outcome::kFailed, e.reason};
    }
    if (e.status != RenameStatus::kRename && e.status != RenameStatus::kConflict) continue;
    tried.push_back(i);
    if (options.journal != nullptr) columns.AddRename(e.track.folder, e.track.fileName, e.newName);
  }
  const std::optional<QString> id =
      tried.empty() ? std::nullopt
                    : BeginAction(options, QStringLiteral("rename"), columns, report);

  DoneRecord done;
  for (size_t k = 0; k < tried.size(); ++k) {
    const RenameEntry& e = plan.entries[tried[k]];
    if (report.stopped ||
        !GoOn(options, static_cast<int>(k), static_cast<int>(tried.size()), e.track.fileName)) {
      report.stopped = true;
      done.Add(Outcome::kNotTried);
      continue;
    }
    errno = 0;
    const bool ok = platform::RenameInFolder(e.track.folder, e.track.fileName, e.newName);
    const int err = errno;
    report.results[tried[k]] =
        ok ? EntryResult{Outcome::kDone, {}} : EntryResult{Outcome::kFailed, ReasonOf(err)};
    done.Add(report.results[tried[k]].outcome);
  }
  FinishAction(options, id, done.Record(), report);
  return report;
}

ApplyReport ApplyEdit(const EditPlan& plan, TIDmp3& mp3, TIDwma& wma, const ApplyOptions& options) {
  ApplyReport report;
  const size_t n = plan.entries.size();
  report.results.resize(n);

  const FieldTexts texts(plan.fields);
  // What each file holds, and for an MP3 file the block it will get, before anything changes. An
  // MP3 file's end is the one the plan read.
  Columns columns;
  for (size_t i = 0; i < n && options.journal != nullptr; ++i) {
    const EditEntry& e = plan.entries[i];
    if (e.mp3) {
      TIDmp3 scratch;
      LoadState(scratch, e.snapshot);
      SetFields(scratch, texts);
      columns.AddMp3(e.path, e.snapshot, EncodeBlock(scratch));
    } else {
      RecoverHeadersOf(*options.journal, e.path);
      Bytes header;
      int64_t size = 0;
      const bool read = ReadWmaHeader(e.path, header, size);
      columns.AddWma(e.path, header, size, read);
    }
    if (columns.Size() > Journal::kMaxBytes) break;  // too large to record: cannot be undone
  }
  const std::optional<QString> id = BeginAction(options, QStringLiteral("edit"), columns, report);

  // The MP3 blocks reach the disk together at the end (one flush per file system instead of one
  // per file); no entry counts as done before that.
  struct FlushAtEnd {
    TIDmp3& tag;
    explicit FlushAtEnd(TIDmp3& t) : tag(t) { tag.SetFlushLeftToCaller(true); }
    ~FlushAtEnd() { tag.SetFlushLeftToCaller(false); }
  } flushAtEnd(mp3);
  std::vector<size_t> unflushed;

  DoneRecord done;
  for (size_t i = 0; i < n; ++i) {
    const EditEntry& e = plan.entries[i];
    auto pad = [&] { done.Add(report.results[i].outcome); };
    if (report.stopped || report.error ||
        !GoOn(options, static_cast<int>(i), static_cast<int>(n), e.path)) {
      report.stopped = report.stopped || !report.error;
      pad();
      continue;
    }
    bool ok = false;
    int err = 0;
    if (e.mp3) {
      LoadState(mp3, e.snapshot);  // what ReadFromFile gave the plan
      SetFields(mp3, texts);
      errno = 0;
      ok = mp3.SaveToFile(e.path);
      err = errno;
    } else {
      try {
        wma.ReadFromFile(e.path);
        SetFields(wma, texts);
        ok = SaveWmaTag(wma, e.path, options.journal, err);
      } catch (const std::exception& ex) {
        report.error = ex.what();
        pad();
        continue;
      }
    }
    report.results[i] = ok ? EntryResult{Outcome::kDone, {}}
                           : EntryResult{Outcome::kFailed, SaveFailure(err, e.mp3)};
    done.Add(report.results[i].outcome);
    if (ok && e.mp3) unflushed.push_back(i);
    if (ok && !e.mp3 && id) done.NoteWma(i, e.path);
  }
  std::vector<std::string> paths;
  for (size_t i : unflushed) paths.push_back(plan.entries[i].path);
  if (!paths.empty() && !platform::SyncFileSystemsOf(paths)) {
    // Written, but not known to be on the disk: not reported as done. The journal still records
    // them as written, so that undo can take back whatever did reach the disk.
    const QString reason = ReasonOf(errno);
    for (size_t i : unflushed) report.results[i] = {Outcome::kFailed, reason};
  }
  FinishAction(options, id, done.Record(), report);
  return report;
}

ApplyReport SaveTag(TIDmp3& tag, const std::string& path, const ApplyOptions& options) {
  ApplyReport report;
  const Mp3Snapshot state = ReadMp3Snapshot(path);
  Columns columns;
  columns.AddMp3(path, state, EncodeBlock(tag));
  const std::optional<QString> id = BeginAction(options, QStringLiteral("save"), columns, report);
  errno = 0;
  const bool ok = tag.SaveToFile(path);
  const int err = errno;
  report.results = {ok ? EntryResult{Outcome::kDone, {}}
                       : EntryResult{Outcome::kFailed, SaveFailure(err, true)}};
  DoneRecord done;
  done.Add(report.results[0].outcome);
  FinishAction(options, id, done.Record(), report);
  return report;
}

ApplyReport SaveTag(TIDwma& tag, const std::string& path, const ApplyOptions& options) {
  ApplyReport report;
  if (options.journal != nullptr) RecoverHeadersOf(*options.journal, path);
  Bytes header;
  int64_t size = 0;
  const bool read = ReadWmaHeader(path, header, size);
  Columns columns;
  columns.AddWma(path, header, size, read);
  const std::optional<QString> id = BeginAction(options, QStringLiteral("save"), columns, report);
  bool ok = false;
  int err = 0;
  try {
    ok = SaveWmaTag(tag, path, options.journal, err);
  } catch (...) {
    DoneRecord none;
    none.Add(Outcome::kNotTried);
    FinishAction(options, id, none.Record(), report);
    throw;
  }
  report.results = {ok ? EntryResult{Outcome::kDone, {}}
                       : EntryResult{Outcome::kFailed, SaveFailure(err, false)}};
  DoneRecord done;
  done.Add(report.results[0].outcome);
  if (ok && id) done.NoteWma(0, path);
  FinishAction(options, id, done.Record(), report);
  return report;
}

// ---- Undo

namespace {

// The outcome an entry's done record gives; none when the action was cut short.
std::optional<Outcome> RecordedOutcome(const Journal::Action& action, int k) {
  if (!action.done) return std::nullopt;
  const QString codes = action.done->value(QStringLiteral("r")).toString();
  if (k >= codes.size()) return Outcome::kNotTried;
  return static_cast<Outcome>(codes[k].unicode() - '0');
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
  const Mp3Snapshot now = ReadMp3Snapshot(path);
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
    const QString key = QString::number(k);
    if (size != done.value(QStringLiteral("z")).toObject().value(key).toInteger(-2) ||
        Digest(header) != done.value(QStringLiteral("g")).toObject().value(key).toString()) {
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
  info.entries = action.begin.value(QStringLiteral("n")).toInt();
  info.cutShort = !action.done;
  if (action.done) {
    info.changed = static_cast<int>(action.done->value(QStringLiteral("r"))
                                        .toString()
                                        .count(QLatin1Char('0' + Code(Outcome::kDone))));
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
  const std::vector<QJsonObject> entries = EntriesOf(action.begin);
  if (static_cast<int>(entries.size()) != report.action->entries) {
    report.message = QStringLiteral("撤销记录中此操作的数据不完整，无法撤销");
  }
  for (int k = static_cast<int>(entries.size()) - 1; k >= 0; --k) {
    const QJsonObject& e = entries[static_cast<size_t>(k)];
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
