#include "core/journal/Undo.h"

#include <cerrno>

#include "core/journal/PreImages.h"
#include "core/journal/Records.h"
#include "core/journal/Recovery.h"
#include "core/plans/TagWrites.h"
#include "core/utils/Reasons.h"
#include "core/utils/Tr.h"
#include "platform/FileSystem.h"
#include "platform/ReplacementFile.h"

namespace core {
namespace {

const char* const kChanged = QT_TRANSLATE_NOOP("Core", "文件在此之后已被改动，未撤销");
const char* const kBusy = QT_TRANSLATE_NOOP("Core", "另一个窗口或命令正在执行此操作");

ActionInfo InfoOf(const Journal& journal, const Journal::Action& action) {
  ActionInfo info;
  info.id = action.id;
  info.kind = ActionKindOf(action.kind);
  info.time = action.time;
  info.entries = action.entries;
  info.cutShort = !action.finished;
  info.changed = action.finished ? action.Changed() : action.entries;
  info.running = journal.Running(action);
  return info;
}

// The newest action that changed a file.
const Journal::Action* Newest(const Journal& journal) {
  const auto& actions = journal.Actions();
  for (auto it = actions.rbegin(); it != actions.rend(); ++it) {
    if (!it->Empty()) return &*it;
  }
  return nullptr;
}

QString RefusalOf(Holds holds) {
  switch (holds) {
    case Holds::kMissing:
      return Core::tr("文件不存在");
    case Holds::kBlocked:
      return Core::tr("原文件名已被另一个文件占用");
    case Holds::kTorn:
      return Core::tr("此文件的写入曾被中断，尚未核对");
    case Holds::kUnreachable:
      return Core::tr("文件暂时无法访问");
    default:
      return Core::tr(kChanged);
  }
}

}  // namespace

std::vector<ActionInfo> ListActions(Journal& journal) {
  std::vector<ActionInfo> list;
  journal.Refresh();
  const auto& actions = journal.Actions();
  for (auto it = actions.rbegin(); it != actions.rend(); ++it) {
    if (it->Empty()) continue;
    list.push_back(InfoOf(journal, *it));
    if (static_cast<int>(list.size()) == Journal::kMaxActions) break;
  }
  return list;
}

UndoReport UndoLast(Journal& journal, const UndoOptions& options) {
  UndoReport report;
  RecoverActions(journal);
  journal.Refresh();
  report.message = journal.TakeMessage();
  const Journal::Action* newest = Newest(journal);
  if (newest == nullptr) return report;
  const Journal::Action action = *newest;
  report.action = InfoOf(journal, action);
  QJsonObject begin;
  std::optional<QJsonObject> done;
  Decoded decoded;
  if (!journal.ReadRecords(action, begin, done) || !DecodeBegin(begin, done, decoded)) {
    report.message = Core::tr("撤销记录中此操作的数据不完整，无法撤销");
    return report;
  }
  // The undo marker makes the action this process's own until the journal is rewritten: another
  // window or command that comes now is refused, as this one is while another undoes it or the
  // action still runs (the marker is refused then, under the journal's lock).
  if (!journal.MarkUndo(action.id)) {
    const QString problem = journal.TakeMessage();
    report.busy = problem.isEmpty();
    report.message = problem.isEmpty() ? Core::tr(kBusy) : problem;
    return report;
  }

  Folders folders;
  const size_t n = decoded.entries.size();
  std::vector<bool> remains(n, false);
  const bool renames = IsRenameKind(action.kind);
  const Relocations relocations(decoded.entries);
  // What the second pass does with an entry: the index of its line in the report, and for a tag
  // write what the file holds and where its bytes wait in the undo's pre-image file.
  struct Job {
    size_t k = 0;
    size_t step = 0;
    size_t line = 0;
    Holds holds = Holds::kNew;
    int64_t stashedAt = -1;
  };
  std::vector<Job> jobs;
  auto keep = [&](UndoEntry& u, size_t k, const QString& reason) {
    u.outcome = Outcome::kFailed;
    u.reason = reason;
    u.restoredPath = u.path;
    remains[k] = true;
  };
  // A tag write's bytes to put back are readied first, those the record lacks kept in the undo's
  // pre-image file (flushed once, with what an undo cut short left readied again); then every
  // file is written, and the files are flushed once per file system at the end.
  PreImageReader earlier;
  bool earlierOpened = false;
  PreImageWriter preImages;
  int preImageError = 0;
  for (size_t step = 0; step < n; ++step) {
    const size_t k = n - 1 - step;  // the last changed first
    Entry& e = decoded.entries[k];
    const bool recorded = action.finished && k < static_cast<size_t>(action.codes.size()) &&
                          action.codes[static_cast<qsizetype>(k)] == QLatin1Char('1');
    if (action.finished && !recorded) continue;  // the action did not change this file
    report.entries.push_back({e.kind == Entry::Kind::kRename ? e.folder + e.newName : e.Path(),
                              e.Path(),
                              Outcome::kNotTried,
                              {},
                              e.isFolder});
    UndoEntry& u = report.entries.back();
    Job job{k, step, report.entries.size() - 1};
    if (renames) {  // each looked at just before it is renamed: one may free another's name
      jobs.push_back(job);
      continue;
    }
    int err = 0;
    platform::Folder* folder = decoded.untrusted[k] ? nullptr : folders.Get(e.folder, err);
    if (decoded.untrusted[k]) {
      keep(u, k, Core::tr("记录中的位置不可信，未撤销"));
      continue;
    }
    if (folder == nullptr) {
      keep(u, k, err == ENOENT ? Core::tr("文件夹不存在") : ReasonOf(err));
      continue;
    }
    if (e.InPlace() && !e.SpansKnown()) {
      if (!earlierOpened) earlier.Open(journal.Folder(), action.id);
      earlierOpened = true;
      earlier.Load(k, e);  // an undo cut short in the middle of this file's write
    }
    job.holds = Classify(e, *folder, decoded.casePrefix, k, recorded);
    if (job.holds == Holds::kOld) {
      u.path = u.restoredPath;  // already as it was
      continue;
    }
    // Written in part and undone before: the write of that undo was cut short, and this one
    // finishes it. Without an earlier undo, a file in between was changed by someone.
    const bool undoCutShort = job.holds == Holds::kTorn && !action.undoer.isEmpty();
    if (job.holds == Holds::kNew) {
      err = LoadSpansForUndo(e, *folder);
    } else if (!undoCutShort) {
      keep(u, k, RefusalOf(job.holds));
      continue;
    }
    if (err != 0) {
      keep(u, k, err == ESTALE ? Core::tr(kChanged) : ReasonOf(err));
      continue;
    }
    if (e.InPlace() && !e.SpansInRecord() && e.SpansKnown() && preImageError == 0) {
      if (!preImages.IsOpen()) preImageError = preImages.Open(journal.Folder(), action.id, true);
      job.stashedAt = preImageError == 0 ? preImages.Add(k, e) : -1;
      if (job.stashedAt < 0 && preImageError == 0) preImageError = EIO;
      e.oldSpan.clear();
      e.newSpan.clear();
    }
    jobs.push_back(job);
  }
  if (preImageError == 0 && preImages.IsOpen()) preImageError = preImages.Seal();
  if (onActionStep != nullptr) onActionStep(ActionStep::kRecorded);

  std::vector<std::string> unflushed;
  std::vector<size_t> unflushedAt;         // their jobs
  std::vector<size_t> placedAt;            // the jobs put back by a rename, a file's or a folder's
  platform::TakeUnconfirmedReplacement();  // what an earlier write left is not this undo's
  std::vector<size_t> dropped;
  for (size_t j = 0; j < jobs.size(); ++j) {
    const Job& job = jobs[j];
    Entry& e = decoded.entries[job.k];
    UndoEntry& u = report.entries[job.line];
    if (report.stopped || (options.cancel != nullptr && options.cancel->load()) ||
        (options.progress &&
         !options.progress(static_cast<int>(job.step), static_cast<int>(n), e.name))) {
      report.stopped = true;
      dropped.push_back(job.line);  // not reached: not a line of the report
      remains[job.k] = true;
      continue;
    }
    int err = 0;
    // A folder the action renamed may still have its new name (its undo refused): its contents
    // are undone where they are.
    const std::string where = renames ? relocations.Now(e.folder) : e.folder;
    platform::Folder* folder = decoded.untrusted[job.k] ? nullptr : folders.Get(where, err);
    if (decoded.untrusted[job.k]) {
      keep(u, job.k, Core::tr("记录中的位置不可信，未撤销"));
      continue;
    }
    if (folder == nullptr) {
      keep(u, job.k, err == ENOENT ? Core::tr("文件夹不存在") : ReasonOf(err));
      continue;
    }
    if (renames) {
      const bool recorded = action.finished;
      const Holds holds = Classify(e, *folder, decoded.casePrefix, job.k, recorded);
      if (holds == Holds::kNew) {
        // Windows renames no folder that is held open: the undo's own handles below it go first.
        if (e.isFolder) folders.Release(where + e.newName + '/');
        err = PutBack(e, *folder, decoded.casePrefix, job.k);
        if (err == 0) {
          u.outcome = Outcome::kDone;
          placedAt.push_back(j);
        } else {
          keep(u, job.k, err == ESTALE ? Core::tr(kChanged) : ReasonOf(err));
        }
      } else if (holds == Holds::kOld) {
        u.path = u.restoredPath;
      } else {
        keep(u, job.k, RefusalOf(holds));
      }
      continue;
    }
    if (job.stashedAt >= 0 && (preImageError != 0 || !preImages.Load(job.stashedAt, e))) {
      keep(u, job.k, ReasonOf(preImageError != 0 ? preImageError : EIO));
      continue;
    }
    if (job.holds == Holds::kTorn) {
      // The write of an undo cut short: this one finishes it.
      const Holds holds = Repair(e, *folder, decoded.casePrefix, job.k);
      if (holds == Holds::kOld) {
        u.outcome = Outcome::kDone;
      } else {
        keep(u, job.k, RefusalOf(holds));
      }
      continue;
    }
    const bool inPlace = e.kind == Entry::Kind::kMp3 && !e.startTag ? true : e.InPlace();
    err = PutBack(e, *folder, decoded.casePrefix, job.k, !inPlace);
    if (job.stashedAt >= 0) {
      e.oldSpan.clear();
      e.newSpan.clear();
    }
    if (err == 0) {
      u.outcome = Outcome::kDone;
      if (inPlace) {
        unflushed.push_back(e.Path());
        unflushedAt.push_back(j);
      } else {
        placedAt.push_back(j);
      }
    } else if (err == ESTALE &&
               Classify(e, *folder, decoded.casePrefix, job.k, true) == Holds::kOld) {
      u.path = u.restoredPath;  // as it was already: a file the action names twice
    } else {
      keep(u, job.k, err == ESTALE ? Core::tr(kChanged) : ReasonOf(err));
    }
  }
  if (onActionStep != nullptr) onActionStep(ActionStep::kWritten);
  // The files written back reach the disk before the journal forgets them: one flush per file
  // system. Where it fails they stay in the journal, for a later undo to look at again.
  // Where a flush fails, the files are put back but not known to be on the disk: done, said to be
  // unsure, and kept in the journal.
  auto unsure = [&](const std::vector<size_t>& at, int err) {
    if (report.warning.isEmpty()) {
      report.warning = Core::tr("文件已恢复，但无法确认已写入磁盘（%1），它们仍留在撤销记录中")
                           .arg(ReasonOf(err));
    }
    for (size_t j : at) remains[jobs[j].k] = true;
  };
  const bool durable = unflushed.empty() || platform::SyncFileSystemsOf(unflushed);
  if (!durable) unsure(unflushedAt, errno);
  // Undone renames and replaced files reach the disk before the journal forgets them.
  int placed = platform::TakeUnconfirmedReplacement();
  if (renames && !placedAt.empty()) {
    if (const int err = folders.SyncAll(); err != 0 && placed == 0) placed = err;
  }
  if (placed != 0) unsure(placedAt, placed);

  for (auto it = dropped.rbegin(); it != dropped.rend(); ++it) {
    report.entries.erase(report.entries.begin() + static_cast<std::ptrdiff_t>(*it));
  }
  std::vector<Entry> remaining;
  for (size_t k = 0; k < n; ++k) {
    if (remains[k]) remaining.push_back(decoded.entries[k]);
  }
  report.remaining = static_cast<int>(remaining.size());
  bool rewritten;
  if (remaining.empty()) {
    rewritten = journal.Rewrite(action.id);
  } else {
    // The files still to undo stay as a smaller action, in the journal's order.
    const std::vector<Entry>& ordered = remaining;
    QJsonObject smaller = EncodeBegin(action.kind, action.id, ordered);
    smaller.insert(QStringLiteral("time"), action.time);
    smaller.insert(QStringLiteral("w"), action.writer);
    if (!decoded.casePrefix.isEmpty()) smaller.insert(QStringLiteral("tp"), decoded.casePrefix);
    rewritten =
        journal.Rewrite(action.id, smaller,
                        EncodeDone(std::string(ordered.size(), static_cast<char>(Code::kDone))));
  }
  if (!rewritten) {
    report.message = journal.TakeMessage();
  } else if (durable) {
    RemovePreImages(journal.Folder(), action.id);
  }
  return report;
}

bool ForgetLast(Journal& journal, std::optional<ActionInfo>& forgotten) {
  forgotten.reset();
  journal.Refresh();
  const Journal::Action* newest = Newest(journal);
  if (newest == nullptr || journal.Running(*newest)) return false;
  forgotten = InfoOf(journal, *newest);
  return journal.Rewrite(newest->id);
}

}  // namespace core
