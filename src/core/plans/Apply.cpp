#include "core/plans/Apply.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <map>

#include "core/fields/Fields.h"
#include "core/fields/Id3v2Fields.h"
#include "core/journal/PreImages.h"
#include "core/journal/Records.h"
#include "core/journal/Recovery.h"
#include "core/plans/TagWrites.h"
#include "core/text/Rules.h"
#include "core/utils/Reasons.h"
#include "core/utils/Tr.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/ReplacementFile.h"
#include "tags/id3v2/TId3v2Tag.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

namespace core {

void (*onActionStep)(ActionStep step) = nullptr;

namespace {

void Step(ActionStep step) {
  if (onActionStep != nullptr) onActionStep(step);
}

// Puts the tag that `state` holds into `tag`, as ReadFromFile would have read it.
void LoadState(TIDmp3& tag, const Mp3Snapshot& state) {
  tag.Clear();
  if (!state.tagged) return;
  tag.HasTag = true;
  DecodeBlock(state.last, tag);
}

QByteArray BytesOf(const TagBlock& block) {
  return QByteArray(reinterpret_cast<const char*>(block.data()),
                    static_cast<qsizetype>(block.size()));
}

// ---- One file's write, planned before the action's begin record

// An MP3 file about to get `fresh` (the block as the fields encode it).
Entry Mp3Entry(const Place& place, const Mp3Snapshot& state, const TagBlock& fresh) {
  Entry e;
  e.kind = Entry::Kind::kMp3;
  e.folder = place.folder;
  e.name = place.name;
  e.size = state.read ? state.size : -1;
  e.readOnly = state.readOnly;
  if (state.tagged) e.oldBlock = BytesOf(state.last);
  if (state.read) e.newBlock = BytesOf(fresh);
  return e;
}

QByteArray BytesOf(const std::vector<uint8_t>& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qsizetype>(bytes.size()));
}

// An MP3 file's ID3v2 tag, planned for a write.
struct StartWrite {
  bool writes = false;  // the tag changes
  id3v2::SavePlan plan;
  QString failure;  // set: the file cannot take the write, and nothing of it is written
};

// Plans the changes `wanted` of the ID3v2 tag of the MP3 file at `path` (a real path), whose end
// `state` holds: nothing for a file without a tag or a tag that says them already.
StartWrite PlanStartWrite(const std::string& path, const Mp3Snapshot& state,
                          const id3v2::Changes& wanted) {
  StartWrite w;
  if (!AnyChange(wanted)) return w;
  id3v2::TagInfo tag;
  errno = 0;
  const id3v2::Result r = id3v2::PlanUpdate(
      path, [&](const id3v2::TagInfo& t) { return ChangesFor(t, wanted); }, tag, w.plan);
  if (r == id3v2::Result::kOk && w.plan.newTag.empty()) return w;  // the tag says them already
  if (r == id3v2::Result::kNoTag) return w;
  if (r != id3v2::Result::kOk) {
    w.failure = Id3v2Reason(r, errno);
  } else if (static_cast<int64_t>(w.plan.oldTag.size()) + (state.tagged ? 128 : 0) > state.size) {
    // A tag that reaches into the ID3v1 block. (A file changed since its end was read is found
    // by the write, which looks at both again.)
    w.failure = Id3v2Reason(id3v2::Result::kRefused, 0);
  } else {
    w.writes = true;
  }
  return w;
}

// An MP3 file about to get a new ID3v2 tag (`plan`, in place when `inPlace`) and the block
// `fresh` (none: the block stays as it is).
Entry TaggedMp3Entry(const Place& place, const Mp3Snapshot& state, const TagBlock* fresh,
                     const id3v2::SavePlan& plan, bool inPlace) {
  Entry e;
  e.kind = Entry::Kind::kMp3;
  e.folder = place.folder;
  e.name = place.name;
  e.size = state.size;
  e.readOnly = state.readOnly;
  e.startTag = true;
  if (fresh != nullptr) {
    if (state.tagged) e.oldBlock = BytesOf(state.last);
    e.newBlock = BytesOf(*fresh);
  }
  DescribeRegions(e, BytesOf(plan.oldTag), BytesOf(plan.newTag), inPlace && plan.InPlace());
  const int64_t appended = fresh != nullptr && !state.tagged ? 128 : 0;
  e.newSize = state.size - static_cast<int64_t>(plan.oldTag.size()) +
              static_cast<int64_t>(plan.newTag.size()) + appended;
  return e;
}

// A WMA file about to get the header of `plan`, in place when `inPlace`.
Entry WmaEntry(const Place& place, const wma::SavePlan& plan, bool inPlace) {
  Entry e;
  e.kind = Entry::Kind::kWma;
  e.folder = place.folder;
  e.name = place.name;
  e.size = plan.fileSize;
  const QByteArray fresh(reinterpret_cast<const char*>(plan.newHeader.data()),
                         static_cast<qsizetype>(plan.newHeader.size()));
  DescribeRegions(e, BytesOf(plan.oldHeader), fresh, inPlace);
  e.newSize = plan.fileSize - static_cast<int64_t>(plan.oldHeader.size()) + fresh.size();
  return e;
}

QString SaveFailure(int err, bool mp3) {
  return ReasonOf(
      err, mp3 ? Core::tr("文件太短，不是MP3文件") : Core::tr("不是WMA文件，或标签放不进文件头"));
}

char CodeOf(Outcome o) {
  return o == Outcome::kDone     ? static_cast<char>(Code::kDone)
         : o == Outcome::kFailed ? static_cast<char>(Code::kFailed)
                                 : static_cast<char>(Code::kUnchanged);
}

// The warning of an action whose changes are made but not known to be on the disk: a folder's
// flush failed after its renames, or after a replaced file took the old one's place.
QString UnconfirmedOnDisk(int err, bool renamed) {
  return renamed ? Core::tr("文件已改名，但无法确认已写入磁盘（%1），断电后可能恢复原名")
                       .arg(ReasonOf(err))
                 : Core::tr("文件已写入，但无法确认已写入磁盘（%1），断电后可能恢复原样")
                       .arg(ReasonOf(err));
}

// The journal's side of an action: its begin record before the first change, its done record
// after the last, and the pre-image file of its writes in place that change more bytes than its
// record keeps (PreImages.h).
class Recorder {
 public:
  Recorder(const ApplyOptions& options, ApplyReport& report)
      : journal_(options.journal), report_(report) {
    platform::TakeUnconfirmedReplacement();  // what an earlier write left is not this action's
  }

  const QString& Id() const { return id_; }

  // Decides where the spans of entry `k`, a write in place, are kept: in the record while the
  // action's budget for them lasts, else in the pre-image file, and then drops them from `e`
  // (Unstash loads them again). Gives where they went in that file, or -1 when they stay.
  int64_t Stash(size_t k, Entry& e) {
    const int64_t at = Keep(k, e);
    if (at < 0) return -1;
    e.oldSpan.clear();
    e.newSpan.clear();
    return at;
  }
  bool Unstash(int64_t at, Entry& e) const { return at < 0 || preImages_.Load(at, e); }

  // Writes the begin record of `entries` (and first flushes their pre-image file); false when
  // there is no journal, or (the report says why) when the record could not be written: the
  // action must then change nothing.
  bool Begin(const QString& kind, std::vector<Entry>& entries) {
    if (journal_ == nullptr || entries.empty()) return false;
    EntryList list;
    for (size_t k = 0; k < entries.size(); ++k) {
      Keep(k, entries[k]);
      list.Add(entries[k]);
    }
    return Begin(kind, list);
  }
  // The same for entries whose spans were placed as they were added (Stash).
  bool Begin(const QString& kind, const EntryList& entries) {
    if (journal_ == nullptr || entries.empty()) return false;
    int err = preImageError_;
    if (err == 0 && preImages_.IsOpen()) err = preImages_.Seal();
    if (err != 0) {
      Refuse(ReasonOf(err));
      RemovePreImages(journal_->Folder(), id_);
      return false;
    }
    const BeginBody body(kind, id_, entries);
    recorded_ = journal_->Begin(body.Head(), body).has_value();
    if (!recorded_) {
      Refuse(journal_->TakeMessage());
      RemovePreImages(journal_->Folder(), id_);
      return false;
    }
    report_.undoable = true;
    Step(ActionStep::kRecorded);
    return true;
  }
  bool Recorded() const { return recorded_; }
  // The done record; its failure is told, and changes nothing of what was done: the action then
  // reads as cut short, and recovery settles it from what the files hold. `durable`: every write
  // is known to be on the disk, so that the pre-image file is no longer needed.
  void Finish(const std::string& codes, bool durable = true) {
    // A replaced file whose folder's flush failed is done, as a rename is, and said to be unsure.
    if (const int err = platform::TakeUnconfirmedReplacement();
        err != 0 && report_.warning.isEmpty()) {
      report_.warning = UnconfirmedOnDisk(err, false);
    }
    if (!recorded_) return;
    Step(ActionStep::kWritten);
    if (!journal_->Finish(id_, EncodeDone(codes))) {
      report_.journalMessage = Core::tr("完成记录未能写入（%1），此操作将在下次启动时从磁盘核对")
                                   .arg(journal_->TakeMessage());
    }
    if (durable && preImages_.IsOpen()) RemovePreImages(journal_->Folder(), id_);
    recorded_ = false;
  }
  // Why the action was refused: every file it would have changed fails with that reason.
  const QString& Refusal() const { return refusal_; }

 private:
  // The spans of one action's record: at most this many bytes, this many a file.
  static constexpr int64_t kSpanBudget = int64_t{256} << 10;
  static constexpr int64_t kSpanInRecord = int64_t{64} << 10;

  // Where the spans of entry `k` go (see Stash); they stay in `e` either way.
  int64_t Keep(size_t k, Entry& e) {
    if (journal_ == nullptr || !e.InPlace() || e.SpansInRecord() || !e.SpansKnown()) return -1;
    if (e.spanSize <= kSpanInRecord && spanBytes_ + 2 * e.spanSize <= kSpanBudget) {
      spanBytes_ += 2 * e.spanSize;
      e.spansInRecord = true;
      return -1;
    }
    if (!preImages_.IsOpen() && preImageError_ == 0) {
      preImageError_ = preImages_.Open(journal_->Folder(), id_);
    }
    const int64_t at = preImageError_ == 0 ? preImages_.Add(k, e) : -1;
    if (at < 0 && preImageError_ == 0) preImageError_ = EIO;
    return at;
  }
  void Refuse(const QString& why) {
    refusal_ = Core::tr("撤销记录无法写入，未做任何修改：%1").arg(why);
  }

  Journal* journal_;
  ApplyReport& report_;
  const QString id_ = Journal::NewId();
  bool recorded_ = false;
  PreImageWriter preImages_;
  int preImageError_ = 0;
  int64_t spanBytes_ = 0;
  QString refusal_;
};

bool GoOn(const ApplyOptions& options, int done, int total, const std::string& name) {
  if (options.cancel != nullptr && options.cancel->load()) return false;
  return !options.progress || options.progress(done, total, name);
}

// True when the batch stops before entry `done` of `total`: it was stopped, or is cancelled now.
// The entry is then recorded as unchanged.
bool StopsAt(ApplyReport& report, const ApplyOptions& options, size_t done, size_t total,
             const std::string& name, std::string& codes) {
  if (!report.stopped && GoOn(options, static_cast<int>(done), static_cast<int>(total), name)) {
    return false;
  }
  report.stopped = true;
  codes += static_cast<char>(Code::kUnchanged);
  return true;
}

// An action the journal could not record changes nothing: each file it would have changed fails
// with the reason. True when it was refused so.
bool Refused(const Recorder& recorder, const ApplyOptions& options, ApplyReport& report,
             const std::vector<size_t>& index) {
  if (options.journal == nullptr || recorder.Recorded()) return false;
  for (size_t i : index) report.results[i] = {Outcome::kFailed, recorder.Refusal()};
  return true;
}

// The folder's real path, resolved once a folder for a batch.
class RealFolders {
 public:
  const std::string& Of(const std::string& folder, int& err) {
    auto it = real_.find(folder);
    if (it == real_.end()) {
      errno = 0;
      std::string real = platform::RealPath(folder.empty() ? std::string(".") : folder);
      if (!real.empty() && real.back() != '/') real += '/';
      it = real_.emplace(folder, std::make_pair(real, errno)).first;
    }
    err = it->second.second;
    return it->second.first;
  }

 private:
  std::map<std::string, std::pair<std::string, int>> real_;
};

}  // namespace

// ---- Rename

ApplyReport ApplyRename(const RenamePlan& plan, const ApplyOptions& options) {
  ApplyReport report;
  report.results.resize(plan.entries.size());
  RealFolders real;
  EntryList entries;
  std::vector<size_t> index;  // the plan entry of each record entry
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const RenameEntry& e = plan.entries[i];
    if (e.status == RenameStatus::kRefused) report.results[i] = {Outcome::kFailed, e.reason};
    if (e.status != RenameStatus::kRename && e.status != RenameStatus::kConflict) continue;
    int err = 0;
    const std::string& folder = real.Of(e.track.folder, err);
    if (folder.empty()) {
      report.results[i] = {Outcome::kFailed, ReasonOf(err)};
      continue;
    }
    Entry entry;
    entry.folder = folder;
    entry.name = e.track.fileName;
    entry.newName = e.newName;
    entry.size = platform::StatPath(folder + e.track.fileName, false).size;
    entries.Add(entry);
    index.push_back(i);
  }
  if (entries.empty()) return report;
  Recorder recorder(options, report);
  recorder.Begin(QStringLiteral("rename"), entries);
  if (Refused(recorder, options, report, index)) return report;
  const QString casePrefix = CaseTempPrefix(recorder.Id());

  Folders folders;
  std::string codes;
  bool renamed = false;
  for (size_t k = 0; k < entries.size(); ++k) {
    const Entry e = entries.At(k);
    EntryResult& result = report.results[index[k]];
    if (StopsAt(report, options, k, entries.size(), e.name, codes)) continue;
    int err = 0;
    platform::Folder* folder = folders.Get(e.folder, err);
    if (folder != nullptr && folder->Rename(e.name, e.newName, CaseTempName(casePrefix, k))) {
      result = {Outcome::kDone, {}};
      renamed = true;
    } else {
      result = {Outcome::kFailed, ReasonOf(folder != nullptr ? folder->error() : err)};
    }
    codes += CodeOf(result.outcome);
    Step(ActionStep::kFileWritten);
  }
  // The renames reach the disk before any is reported: one flush of each folder.
  if (renamed) {
    if (const int err = folders.SyncAll()) {
      report.warning = UnconfirmedOnDisk(err, true);
    }
  }
  recorder.Finish(codes);
  return report;
}

// ---- Garbled names

ApplyReport ApplyFixNames(const NamePlan& plan, const ApplyOptions& options) {
  ApplyReport report;
  report.results.resize(plan.entries.size());
  if (options.journal != nullptr) RecoverActions(*options.journal);
  RealFolders real;
  std::vector<Entry> entries;
  std::vector<size_t> index;  // the plan entry of each record entry
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const NameEntry& n = plan.entries[i];
    if (n.status != NameStatus::kRepair) continue;
    // Every folder resolved before the first rename, while each holds its old name.
    int err = 0;
    const std::string& folder = real.Of(n.folder, err);
    if (folder.empty()) {
      report.results[i] = {Outcome::kFailed, ReasonOf(err)};
      continue;
    }
    Entry entry;
    entry.folder = folder;
    entry.name = n.name;
    entry.newName = n.newName;
    entry.identified = true;
    entry.isFolder = n.isFolder;
    entry.device = n.device;
    entry.inode = n.inode;
    entry.size = n.size;
    entries.push_back(std::move(entry));
    index.push_back(i);
  }
  if (entries.empty()) return report;
  Recorder recorder(options, report);
  recorder.Begin(QStringLiteral("fix-names"), entries);
  if (Refused(recorder, options, report, index)) return report;

  Folders folders;
  std::string codes;
  bool renamed = false;
  for (size_t k = 0; k < entries.size(); ++k) {
    const Entry& e = entries[k];
    EntryResult& result = report.results[index[k]];
    if (StopsAt(report, options, k, entries.size(), e.name, codes)) continue;
    int err = 0;
    platform::Folder* folder = folders.Get(e.folder, err);
    // The entry is the one the plan found (another may have taken its name since).
    if (folder != nullptr && Classify(e, *folder, {}, k, false) != Holds::kOld) {
      result = {Outcome::kFailed, ReasonOf(ESTALE)};
    } else {
      // Windows renames no folder that is held open, its contents' folders included.
      if (folder != nullptr && e.isFolder) folders.Release(e.folder + e.name + '/');
      if (folder != nullptr && folder->Rename(e.name, e.newName)) {
        result = {Outcome::kDone, {}};
        renamed = true;
      } else {
        result = {Outcome::kFailed, ReasonOf(folder != nullptr ? folder->error() : err)};
      }
    }
    codes += CodeOf(result.outcome);
    Step(ActionStep::kFileWritten);
  }
  if (renamed) {
    if (const int err = folders.SyncAll()) {
      report.warning =
          Core::tr("名称已修复，但无法确认已写入磁盘（%1），断电后可能恢复原名").arg(ReasonOf(err));
    }
  }
  recorder.Finish(codes);
  return report;
}

// ---- Batch edit

namespace {

// What Mp3Entry and TaggedMp3Entry kept of the file's end: the snapshot the plan read.
Mp3Snapshot SnapshotOf(const Entry& e) {
  Mp3Snapshot state;
  state.read = e.size >= 0;
  state.size = e.size;
  state.readOnly = e.readOnly;
  state.tagged = e.oldBlock.size() == static_cast<qsizetype>(state.last.size());
  if (state.tagged) std::copy(e.oldBlock.begin(), e.oldBlock.end(), state.last.begin());
  return state;
}

// Where a batch edit's files come from: a plan made before (the window's), or paths each planned
// as the batch reaches it (the command line's), so that no plan of every file is held.
struct EditSource {
  size_t count = 0;
  // The plan entry of file `i`; asked once a file, in order.
  std::function<const EditEntry&(size_t)> entry;
  std::function<const std::string&(size_t)> path;
  std::function<const EditFields&(size_t)> fields;
  bool convertLegacy = false;  // the entries' legacy fields are rewritten as Unicode too
};

// One file of a batch edit, planned: its record entry, and the new tag or header of a file that is
// replaced rather than written in place.
struct EditJob {
  Entry entry;
  wma::SavePlan wmaPlan;
  std::vector<uint8_t> newTag;  // an MP3 file's new ID3v2 tag (Entry::startTag)
  bool planned = false;         // false: the file cannot take the tag; `reason` tells why
  QString reason;
};

// What the batch keeps of a file between its plan and its write: the entry itself waits in the
// action's entry list, its spans in the record or the pre-image file.
struct Waiting {
  int64_t stashedAt = -1;  // where the pre-image file holds the spans of its write in place
  bool planned = false;
};

ApplyReport ApplyEditFrom(const EditSource& source, TIDmp3& mp3, TIDwma& wma,
                          const ApplyOptions& options) {
  ApplyReport report;
  const size_t n = source.count;
  report.results.resize(n);
  if (n == 0) return report;
  if (options.journal != nullptr) RecoverActions(*options.journal);

  // Each file is read and its new tag worked out before anything is written.
  Resolver resolver;
  auto planOne = [&](size_t i, bool inPlace, EditJob& job) {
    const EditEntry& e = source.entry(i);
    const EditFields& fields = source.fields(i);
    const Place place = resolver.Of(e.path);
    // A file that cannot take the tag still has its entry, with nothing to restore.
    job.entry.kind = e.mp3 ? Entry::Kind::kMp3 : Entry::Kind::kWma;
    job.entry.folder = place.folder;
    job.entry.name = place.name;
    if (e.mp3) {
      TIDmp3 scratch;
      LoadState(scratch, e.snapshot);
      SetEditFields(scratch, fields);
      if (place.err != 0) {
        job.reason = SaveFailure(place.err, true);
        return;
      }
      const TagBlock fresh = EncodeBlock(scratch);
      if (e.snapshot.read) {
        id3v2::Changes wanted = StartChangesOf(fields);
        if (source.convertLegacy) {
          for (const ConvertText& t : e.legacy) SetChange(wanted, t.field, t.after);
        }
        StartWrite start = PlanStartWrite(place.folder + place.name, e.snapshot, wanted);
        if (!start.failure.isEmpty()) {
          job.reason = start.failure;
          return;
        }
        if (start.writes) {
          job.entry = TaggedMp3Entry(place, e.snapshot, &fresh, start.plan, inPlace);
          job.newTag = std::move(start.plan.newTag);
          job.planned = true;
          return;
        }
      }
      job.entry = Mp3Entry(place, e.snapshot, fresh);
      job.planned = true;
      return;
    }
    platform::File file;
    if (place.err != 0 || !file.OpenRead(place.folder + place.name)) {
      const int err = place.err != 0 ? place.err : file.error();
      if (err != ENOENT) throw EFOpenError(e.path, platform::ErrorText(err));
      job.reason = SaveFailure(err, false);
      return;
    }
    std::vector<uint8_t> header;
    if (!wma.ReadFromOpenFile(file, header)) {
      job.reason = SaveFailure(0, false);
      return;
    }
    SetEditFields(wma, fields);
    if (source.convertLegacy) {
      for (const ConvertText& t : e.legacy) (wma.*InfoOf(t.field).setWma)(t.after.toStdU16String());
    }
    if (!wma.PlanFromHeader(std::move(header), file.SizeAtOpen(), file.BlockSizeAtOpen(),
                            job.wmaPlan)) {
      job.reason = SaveFailure(0, false);
      return;
    }
    const bool fits = job.wmaPlan.InPlace() && file.RefusesChange() == 0;
    job.entry = WmaEntry(place, job.wmaPlan, inPlace && fits);
    job.planned = true;
  };

  // Writes one planned file; the in-place header and the MP3 block wait for the flush at the end.
  std::vector<std::string> unflushed;
  auto writeOne = [&](size_t i, const EditJob& job) -> EntryResult {
    const bool isMp3 = job.entry.kind == Entry::Kind::kMp3;
    if (!job.planned)
      return {Outcome::kFailed, job.reason.isEmpty() ? SaveFailure(0, isMp3) : job.reason};
    const std::string path = job.entry.Path();
    int err = 0;
    bool ok = false;
    if (isMp3) {
      LoadState(mp3, SnapshotOf(job.entry));  // what ReadFromFile gave the plan
      SetEditFields(mp3, source.fields(i));
      if (job.entry.startTag) {
        err = WriteTaggedMp3(job.entry, job.newTag, false);
        ok = err == 0;
      } else {
        errno = 0;
        ok = mp3.SaveToFile(path);
        err = errno;
      }
    } else if (job.entry.InPlace()) {
      platform::File file;
      err = file.OpenReadWrite(path) ? WriteHeaderInPlace(file, job.entry, true, false)
                                     : file.error();
      ok = err == 0;
    } else {
      errno = 0;
      ok = wma::ReplaceFile(path, job.wmaPlan);
      err = errno;
    }
    // A replaced file is flushed before it takes the old one's place; the rest wait for the end.
    const bool replaced = isMp3 ? job.entry.startTag && !job.entry.InPlace() : !job.entry.InPlace();
    if (ok && !replaced) unflushed.push_back(path);
    return ok ? EntryResult{Outcome::kDone, {}}
              : EntryResult{Outcome::kFailed, SaveFailure(err, isMp3)};
  };

  // The MP3 blocks reach the disk together at the end (one flush per file system instead of one
  // per file); no entry counts as done before that.
  struct FlushAtEnd {
    TIDmp3& tag;
    explicit FlushAtEnd(TIDmp3& t) : tag(t) { tag.SetFlushLeftToCaller(true); }
    ~FlushAtEnd() { tag.SetFlushLeftToCaller(false); }
  } flushAtEnd(mp3);

  // Recorded: every file planned first (up to a stream error, which ends the batch there), then
  // one begin record, then the writes. The entries wait in a compact list, the bytes of a write
  // in place that the record does not hold in the pre-image file, and a file that is replaced
  // keeps its new tag or header aside; nothing else of a file is held between its plan and its
  // write.
  std::vector<Waiting> waiting;
  std::map<size_t, EditJob> aside;  // unplanned files, and those that are replaced
  EntryList entries;
  bool recorded = false;
  Recorder recorder(options, report);
  if (options.journal != nullptr) {
    waiting.reserve(n);
    entries.Reserve(n);
    for (size_t i = 0; i < n && !report.error; ++i) {
      EditJob job;
      try {
        planOne(i, true, job);
      } catch (const std::exception& ex) {
        report.error = ex.what();
        break;
      }
      Waiting w;
      w.planned = job.planned;
      w.stashedAt = recorder.Stash(i, job.entry);
      entries.Add(job.entry);
      // An ID3v1 block is made again from the entry's old one; a write in place has its spans.
      const bool replaced =
          !job.entry.InPlace() && (job.entry.startTag || job.entry.kind == Entry::Kind::kWma);
      if (!job.planned || replaced) {
        job.entry = Entry();
        aside.emplace(i, std::move(job));
      }
      waiting.push_back(w);
    }
    if (waiting.empty()) return report;
    recorded = recorder.Begin(QStringLiteral("edit"), entries);
    if (!recorded) {
      std::vector<size_t> all(n);
      for (size_t i = 0; i < n; ++i) all[i] = i;
      Refused(recorder, options, report, all);
      report.error.reset();
      return report;
    }
  }

  std::string codes;
  if (recorded) {
    for (size_t i = 0; i < waiting.size(); ++i) {
      if (StopsAt(report, options, i, n, source.path(i), codes)) continue;
      EditJob job;
      auto it = aside.find(i);
      if (it != aside.end()) {
        job = std::move(it->second);
        aside.erase(it);
      }
      job.entry = entries.At(i);
      job.planned = waiting[i].planned;
      if (recorder.Unstash(waiting[i].stashedAt, job.entry)) {
        report.results[i] = writeOne(i, job);
      } else {
        report.results[i] = {Outcome::kFailed, ReasonOf(EIO)};
      }
      codes += CodeOf(report.results[i].outcome);
      Step(ActionStep::kFileWritten);
    }
    if (report.error) report.stopped = false;
  } else {
    // Unrecorded: one file at a time, planned and written, through the replace only.
    for (size_t i = 0; i < n; ++i) {
      if (report.stopped || report.error ||
          !GoOn(options, static_cast<int>(i), static_cast<int>(n), source.path(i))) {
        report.stopped = report.stopped || !report.error;
        continue;
      }
      EditJob job;
      try {
        planOne(i, false, job);
      } catch (const std::exception& ex) {
        report.error = ex.what();
        continue;
      }
      report.results[i] = writeOne(i, job);
    }
  }
  // Written, but not known to be on the disk when the flush fails: done, and said to be unsure.
  // The done record says they were written, and their pre-images stay, so that undo can take
  // back whatever did reach the disk.
  const bool durable = unflushed.empty() || platform::SyncFileSystemsOf(unflushed);
  if (!durable) report.warning = UnconfirmedOnDisk(errno, false);
  recorder.Finish(codes, durable);
  return report;
}

}  // namespace

ApplyReport ApplyEdit(const EditPlan& plan, TIDmp3& mp3, TIDwma& wma, const ApplyOptions& options) {
  EditSource source;
  source.count = plan.entries.size();
  source.entry = [&](size_t i) -> const EditEntry& { return plan.entries[i]; };
  source.path = [&](size_t i) -> const std::string& { return plan.entries[i].path; };
  source.fields = [&](size_t i) -> const EditFields& { return plan.FieldsOf(plan.entries[i]); };
  source.convertLegacy = plan.convertLegacy;
  return ApplyEditFrom(source, mp3, wma, options);
}

ApplyReport ApplyEdit(const std::vector<std::string>& paths, const EditFields& fields,
                      const std::vector<EditFields>& each, TIDmp3& mp3, TIDwma& wma,
                      const ApplyOptions& options) {
  EditSource source;
  source.count = paths.size();
  // Of one file at a time, what applying a plan reads of its entry.
  EditEntry scratch;
  source.entry = [&](size_t i) -> const EditEntry& {
    scratch.path = paths[i];
    scratch.position = static_cast<int>(i);
    scratch.mp3 = TagKindOf(paths[i], true) == TagKind::kMp3;
    scratch.snapshot = scratch.mp3 ? ReadMp3Snapshot(paths[i]) : Mp3Snapshot();
    scratch.readable = !scratch.mp3 || scratch.snapshot.read;
    return scratch;
  };
  source.path = [&](size_t i) -> const std::string& { return paths[i]; };
  source.fields = [&](size_t i) -> const EditFields& { return i < each.size() ? each[i] : fields; };
  return ApplyEditFrom(source, mp3, wma, options);
}

// ---- Save of one tag

ApplyReport SaveTag(TIDmp3& tag, const std::string& path, const ApplyOptions& options,
                    const id3v2::Changes& start) {
  ApplyReport report;
  FitMp3Comment(tag);
  if (options.journal != nullptr && AnyChange(start)) RecoverFile(*options.journal, path);
  const Mp3Snapshot state = ReadMp3Snapshot(path);
  const Place place = Resolve(path);
  if (place.err == 0 && state.read && AnyChange(start)) {
    StartWrite write = PlanStartWrite(place.folder + place.name, state, start);
    if (!write.failure.isEmpty()) {
      report.results = {EntryResult{Outcome::kFailed, write.failure}};
      return report;
    }
    if (write.writes) {
      const TagBlock fresh = EncodeBlock(tag);
      // Without a journal, nothing is written in place: the file is replaced whole.
      std::vector<Entry> entries{
          TaggedMp3Entry(place, state, &fresh, write.plan, options.journal != nullptr)};
      Recorder recorder(options, report);
      recorder.Begin(QStringLiteral("save"), entries);
      report.results.resize(1);
      if (Refused(recorder, options, report, {0})) return report;
      const Entry& entry = entries[0];
      const int err = WriteTaggedMp3(entry, write.plan.newTag, true);
      if (entry.InPlace()) Step(ActionStep::kFileWritten);
      report.results = {err == 0 ? EntryResult{Outcome::kDone, {}}
                                 : EntryResult{Outcome::kFailed, SaveFailure(err, true)}};
      recorder.Finish(std::string(1, CodeOf(report.results[0].outcome)));
      return report;
    }
  }
  Recorder recorder(options, report);
  if (place.err == 0) {
    std::vector<Entry> entries{Mp3Entry(place, state, EncodeBlock(tag))};
    recorder.Begin(QStringLiteral("save"), entries);
    report.results.resize(1);
    if (Refused(recorder, options, report, {0})) return report;
  }
  errno = 0;
  const bool ok = tag.SaveToFile(place.err == 0 ? place.folder + place.name : path);
  const int err = errno;
  report.results = {ok ? EntryResult{Outcome::kDone, {}}
                       : EntryResult{Outcome::kFailed, SaveFailure(err, true)}};
  recorder.Finish(std::string(1, CodeOf(report.results[0].outcome)));
  return report;
}

ApplyReport SaveTag(TIDwma& tag, const std::string& path, const ApplyOptions& options) {
  ApplyReport report;
  auto fail = [&](int err) {
    report.results = {EntryResult{Outcome::kFailed, SaveFailure(err, false)}};
    return report;
  };
  if (options.journal != nullptr) RecoverFile(*options.journal, path);
  const Place place = Resolve(path);
  if (place.err != 0) return fail(place.err);
  // The file is opened once: read, planned and, where the header fits, written in place.
  platform::File file;
  const bool writable = file.OpenReadWrite(place.folder + place.name);
  if (!writable && !file.OpenRead(place.folder + place.name)) {
    if (file.error() == ENOENT) return fail(ENOENT);
    throw EFOpenError(path, platform::ErrorText(file.error()));
  }
  wma::SavePlan plan;
  errno = 0;
  if (!tag.PlanSave(file, plan)) return fail(0);
  const bool inPlace =
      options.journal != nullptr && plan.InPlace() && writable && file.RefusesChange() == 0;
  std::vector<Entry> entries{WmaEntry(place, plan, inPlace)};
  const Entry& entry = entries[0];
  Recorder recorder(options, report);
  const bool recorded = recorder.Begin(QStringLiteral("save"), entries);
  report.results.resize(1);
  if (Refused(recorder, options, report, {0})) return report;
  int err = 0;
  if (inPlace && recorded) {
    err = WriteHeaderInPlace(file, entry, false, true);
    Step(ActionStep::kFileWritten);
  } else {
    file.Close();
    errno = 0;
    err = wma::ReplaceFile(place.folder + place.name, plan) ? 0 : (errno != 0 ? errno : EIO);
  }
  report.results = {err == 0 ? EntryResult{Outcome::kDone, {}}
                             : EntryResult{Outcome::kFailed, SaveFailure(err, false)}};
  recorder.Finish(std::string(1, CodeOf(report.results[0].outcome)));
  return report;
}

// ---- Unicode tags

namespace {

// One file of a conversion, planned again: an MP3 file's new ID3v2 tag, or a WMA file's header.
struct ConvertJob {
  std::vector<uint8_t> tag;
  wma::SavePlan wmaPlan;
};

// A WMA file's header with the plan's texts, from what the file holds now; a failure's reason.
QString PlanWmaConversion(const ConvertEntry& c, const std::string& path, ConvertJob& job,
                          bool& fits) {
  platform::File file;
  if (!file.OpenRead(path)) return SaveFailure(file.error(), false);
  TIDwma tag;
  std::vector<uint8_t> header;
  try {
    if (!tag.ReadFromOpenFile(file, header)) return SaveFailure(0, false);
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  }
  const std::vector<ConvertText> texts = WmaConversionOf(tag, c.Decided());
  if (texts != c.texts) return ReasonOf(ESTALE);  // changed since the plan
  for (const ConvertText& t : texts) (tag.*InfoOf(t.field).setWma)(t.after.toStdU16String());
  if (!tag.PlanFromHeader(std::move(header), file.SizeAtOpen(), file.BlockSizeAtOpen(),
                          job.wmaPlan)) {
    return SaveFailure(0, false);
  }
  fits = job.wmaPlan.InPlace() && file.RefusesChange() == 0;
  return {};
}

}  // namespace

ApplyReport ApplyConvert(const ConvertPlan& plan, const ApplyOptions& options) {
  ApplyReport report;
  report.results.resize(plan.entries.size());
  if (options.journal != nullptr) RecoverActions(*options.journal);
  // Each file planned again from what it holds now, before anything is written.
  std::vector<Entry> entries;
  std::vector<ConvertJob> jobs;
  std::vector<size_t> index;  // the plan entry of each record entry
  const bool inPlace = options.journal != nullptr;
  Resolver resolver;
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const ConvertEntry& c = plan.entries[i];
    if (c.status == ConvertStatus::kRefused) report.results[i] = {Outcome::kFailed, c.reason};
    if (c.status != ConvertStatus::kConvert) continue;
    const Place place = resolver.Of(c.path);
    if (place.err != 0) {
      report.results[i] = {Outcome::kFailed, ReasonOf(place.err)};
      continue;
    }
    const std::string path = place.folder + place.name;
    ConvertJob job;
    if (c.wma) {
      bool fits = false;
      const QString failure = PlanWmaConversion(c, path, job, fits);
      if (!failure.isEmpty()) {
        report.results[i] = {Outcome::kFailed, failure};
        continue;
      }
      entries.push_back(WmaEntry(place, job.wmaPlan, inPlace && fits));
      jobs.push_back(std::move(job));
      index.push_back(i);
      continue;
    }
    const Mp3Snapshot state = ReadMp3Snapshot(path);
    TIDmp3 v1;
    LoadState(v1, state);
    id3v2::SavePlan save;
    size_t frames = 0;
    errno = 0;
    // The file's legacy texts read in the encoding the plan decided for the whole file.
    id3v2::Result r = id3v2::Result::kOk;
    if (c.newTag) {
      r = id3v2::PlanNewTag(path, ConversionFieldsOf(v1, c.Decided()), save);
    } else {
      id3v2::TagInfo v2;
      r = id3v2::ReadFromFile(path, v2) ? PlanTagConversion(path, v1, v2, c.Decided(), save, frames)
                                        : id3v2::Result::kReadFailed;
    }
    QString failure;
    if (r != id3v2::Result::kOk) {
      failure = Id3v2Reason(r, errno);
    } else if (!state.read || (!c.newTag && frames == 0) ||
               (c.newTag && (!state.tagged || save.newTag.empty()))) {
      failure = ReasonOf(ESTALE);  // changed since the plan
    }
    if (!failure.isEmpty()) {
      report.results[i] = {Outcome::kFailed, failure};
      continue;
    }
    entries.push_back(TaggedMp3Entry(place, state, nullptr, save, inPlace));
    job.tag = std::move(save.newTag);
    jobs.push_back(std::move(job));
    index.push_back(i);
  }
  if (entries.empty()) return report;
  Recorder recorder(options, report);
  recorder.Begin(QStringLiteral("convert"), entries);
  if (Refused(recorder, options, report, index)) return report;

  std::string codes;
  std::vector<std::string> unflushed;
  for (size_t k = 0; k < entries.size(); ++k) {
    const Entry& e = entries[k];
    EntryResult& result = report.results[index[k]];
    if (StopsAt(report, options, k, entries.size(), e.name, codes)) continue;
    const bool wmaFile = e.kind == Entry::Kind::kWma;
    int err = 0;
    if (!wmaFile) {
      err = WriteTaggedMp3(e, jobs[k].tag, false);
    } else if (e.InPlace()) {
      platform::File file;
      err = file.OpenReadWrite(e.Path()) ? WriteHeaderInPlace(file, e, true, false) : file.error();
    } else {
      errno = 0;
      err = wma::ReplaceFile(e.Path(), jobs[k].wmaPlan) ? 0 : (errno != 0 ? errno : EIO);
    }
    result = err == 0 ? EntryResult{Outcome::kDone, {}}
                      : EntryResult{Outcome::kFailed, SaveFailure(err, !wmaFile)};
    if (err == 0 && e.InPlace()) unflushed.push_back(e.Path());
    codes += CodeOf(result.outcome);
    Step(ActionStep::kFileWritten);
  }
  const bool durable = unflushed.empty() || platform::SyncFileSystemsOf(unflushed);
  if (!durable) report.warning = UnconfirmedOnDisk(errno, false);
  recorder.Finish(codes, durable);
  return report;
}

}  // namespace core
