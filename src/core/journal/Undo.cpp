#include "core/journal/Undo.h"

#include <cerrno>

#include "core/journal/Records.h"
#include "core/journal/Recovery.h"
#include "core/plans/TagWrites.h"
#include "core/utils/Reasons.h"
#include "core/utils/Tr.h"

namespace core {
namespace {

const char* const kChanged = QT_TRANSLATE_NOOP("Core", "文件在此之后已被改动，未撤销");
const char* const kBusy = QT_TRANSLATE_NOOP("Core", "另一个窗口或命令正在执行此操作");

ActionInfo InfoOf(const Journal& journal, const Journal::Action& action) {
  ActionInfo info;
  info.id = action.id;
  info.kind = action.kind;
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
  std::vector<Entry> remaining;
  std::vector<size_t> remainingAt;
  const size_t n = decoded.entries.size();
  for (size_t step = 0; step < n; ++step) {
    const size_t k = n - 1 - step;  // the last changed first
    const Entry& e = decoded.entries[k];
    const bool recorded = action.finished && k < static_cast<size_t>(action.codes.size()) &&
                          action.codes[static_cast<qsizetype>(k)] == QLatin1Char('1');
    UndoEntry u{e.kind == Entry::Kind::kRename ? e.folder + e.newName : e.Path(),
                e.Path(),
                Outcome::kNotTried,
                {}};
    if (action.finished && !recorded) continue;  // the action did not change this file
    auto keep = [&](const QString& reason) {
      u.outcome = Outcome::kFailed;
      u.reason = reason;
      u.restoredPath = u.path;
      remaining.push_back(e);
      remainingAt.push_back(k);
    };
    if (report.stopped || (options.cancel != nullptr && options.cancel->load()) ||
        (options.progress &&
         !options.progress(static_cast<int>(step), static_cast<int>(n), e.name))) {
      report.stopped = true;
      remaining.push_back(e);
      remainingAt.push_back(k);
      continue;
    }
    int err = 0;
    platform::Folder* folder = decoded.untrusted[k] ? nullptr : folders.Get(e.folder, err);
    if (decoded.untrusted[k]) {
      keep(Core::tr("记录中的位置不可信，未撤销"));
    } else if (folder == nullptr) {
      keep(err == ENOENT ? Core::tr("文件夹不存在") : ReasonOf(err));
    } else {
      const Holds holds = Classify(e, *folder, decoded.casePrefix, k, recorded);
      if (holds == Holds::kNew) {
        err = PutBack(e, *folder, decoded.casePrefix, k);
        if (err == 0) {
          u.outcome = Outcome::kDone;
        } else {
          keep(err == ESTALE ? Core::tr(kChanged) : ReasonOf(err));
        }
      } else if (holds == Holds::kOld) {
        u.path = u.restoredPath;  // already as it was
      } else {
        keep(RefusalOf(holds));
      }
    }
    report.entries.push_back(std::move(u));
  }
  folders.SyncAll();  // undone renames reach the disk before the journal forgets them

  report.remaining = static_cast<int>(remaining.size());
  bool rewritten;
  if (remaining.empty()) {
    rewritten = journal.Rewrite(action.id);
  } else {
    // The files still to undo stay as a smaller action, in the journal's order.
    std::vector<Entry> ordered(remaining.rbegin(), remaining.rend());
    QJsonObject smaller = EncodeBegin(action.kind, action.id, ordered);
    smaller.insert(QStringLiteral("time"), action.time);
    smaller.insert(QStringLiteral("w"), action.writer);
    if (!decoded.casePrefix.isEmpty()) smaller.insert(QStringLiteral("tp"), decoded.casePrefix);
    rewritten =
        journal.Rewrite(action.id, smaller,
                        EncodeDone(std::string(ordered.size(), static_cast<char>(Code::kDone))));
  }
  if (!rewritten) report.message = journal.TakeMessage();
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
