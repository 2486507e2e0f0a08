#include "core/journal/Recovery.h"

#include <chrono>
#include <map>
#include <mutex>
#include <set>

#include "core/journal/PreImages.h"
#include "core/journal/Records.h"
#include "core/plans/TagWrites.h"
#include "core/text/Rules.h"
#include "platform/FileSystem.h"
#include "platform/PrivateFiles.h"
#include "platform/Process.h"
#include "platform/ReplacementFile.h"

namespace core {

void (*onRecoveryStep)(const std::string& path) = nullptr;

namespace {

using Clock = std::chrono::steady_clock;

// Actions left unsettled because a file could not be reached are tried again at most this often
// by RecoverFile, so that reading many files does not look at them again and again.
constexpr auto kRetryPending = std::chrono::seconds(30);

std::map<QString, Clock::time_point>& PendingSince() {
  static std::map<QString, Clock::time_point> pending;
  return pending;
}
std::mutex& PendingMutex() {
  static std::mutex mutex;
  return mutex;
}

// Settles one action; false when a file could not be reached and the action stays unsettled.
bool Settle(Journal& journal, const Journal::Action& action, std::vector<Recovered>& report) {
  QJsonObject begin;
  std::optional<QJsonObject> done;
  Decoded decoded;
  if (!journal.ReadRecords(action, begin, done) || !DecodeBegin(begin, done, decoded)) {
    return false;
  }
  // The bytes of writes in place that the record leaves to the action's pre-image file.
  PreImageReader preImages;
  bool opened = false;
  for (size_t k = 0; k < decoded.entries.size(); ++k) {
    Entry& e = decoded.entries[k];
    if (!e.InPlace() || e.SpansKnown()) continue;
    if (!opened) preImages.Open(journal.Folder(), action.id);
    opened = true;
    preImages.Load(k, e);  // without them, a torn write counts as a change by someone else
  }
  Folders folders;
  const Relocations relocations(decoded.entries);
  std::string codes;
  bool pending = false;
  for (size_t k = 0; k < decoded.entries.size(); ++k) {
    const Entry& e = decoded.entries[k];
    Recovered r{e.Path(), Recovered::Result::kUntouched};
    Holds holds = Holds::kOther;
    int err = 0;
    platform::Folder* folder =
        decoded.untrusted[k] ? nullptr : folders.Get(relocations.Now(e.folder), err);
    if (decoded.untrusted[k]) {
      holds = Holds::kOther;  // a record that names a place it cannot have made: never acted on
    } else if (folder == nullptr) {
      holds = Holds::kUnreachable;  // the whole folder gone: a drive not mounted now, most likely
    } else {
      holds = Classify(e, *folder, decoded.casePrefix, k, false);
      if (holds == Holds::kTorn) {
        if (onRecoveryStep != nullptr) onRecoveryStep(e.Path());
        holds = Repair(e, *folder, decoded.casePrefix, k);
        r.result = holds == Holds::kOld ? Recovered::Result::kRestored : r.result;
      }
    }
    if (holds == Holds::kUnreachable || holds == Holds::kTorn) {
      pending = true;
      r.result = Recovered::Result::kPending;
    } else if (holds == Holds::kNew) {
      r.result = Recovered::Result::kKept;
    }
    codes += holds == Holds::kNew   ? static_cast<char>(Code::kDone)
             : holds == Holds::kOld ? static_cast<char>(Code::kUnchanged)
                                    : static_cast<char>(Code::kUnknown);
    report.push_back(std::move(r));
  }
  // What the action's replacements left when their process was killed goes too.
  std::set<std::string> swept;
  for (size_t k = 0; k < decoded.entries.size(); ++k) {
    if (!decoded.untrusted[k] && swept.insert(decoded.entries[k].folder).second) {
      platform::RemoveLeftoversIn(decoded.entries[k].folder);
    }
  }
  if (pending) return false;
  if (journal.Settle(action.id, EncodeDone(codes, true))) {
    RemovePreImages(journal.Folder(), action.id);
  }
  return true;
}

// Removes the lock files of writers that are gone and have no unsettled action left.
void RemoveGoneOwners(const Journal& journal) {
  const std::string owners = rules::NativePath(journal.Folder()) + "/owners/";
  const std::string self = platform::ThisProcess().Tag();
  for (const std::string& name : platform::ListFolder(owners, ".lock")) {
    const std::string tag = name.substr(0, name.size() - 5);
    if (tag == self) continue;
    bool unsettled = false;
    for (const Journal::Action& a : journal.Actions()) {
      unsettled = unsettled || (!a.finished && a.writer.toStdString() == tag);
    }
    if (!unsettled) platform::FileLock::RemoveIfFree(owners + name);
  }
}

}  // namespace

std::vector<Recovered> RecoverActions(Journal& journal) {
  std::vector<Recovered> report;
  if (!journal.Refresh()) return report;
  const std::vector<Journal::Action> actions = journal.Actions();
  bool allSettled = true;
  for (const Journal::Action& action : actions) {
    if (action.finished || journal.Running(action)) continue;
    const bool settled = Settle(journal, action, report);
    allSettled = allSettled && settled;
    std::lock_guard<std::mutex> lock(PendingMutex());
    if (settled) {
      PendingSince().erase(action.id);
    } else {
      PendingSince()[action.id] = Clock::now();
    }
  }
  if (allSettled) RemoveGoneOwners(journal);
  std::map<QString, bool> known;
  for (const Journal::Action& action : journal.Actions()) known[action.id] = action.finished;
  SweepPreImages(journal.Folder(), known);
  return report;
}

std::vector<Recovered> RecoverFile(Journal& journal, const std::string& path) {
  (void)path;  // an unsettled action is settled whole, whichever of its files is asked for
  if (!journal.Refresh()) return {};
  const auto now = Clock::now();
  for (const Journal::Action& action : journal.Actions()) {
    if (action.finished) continue;
    {
      std::lock_guard<std::mutex> lock(PendingMutex());
      auto tried = PendingSince().find(action.id);
      if (tried != PendingSince().end() && now - tried->second < kRetryPending) continue;
    }
    if (!journal.Running(action)) return RecoverActions(journal);
  }
  return {};
}

}  // namespace core
