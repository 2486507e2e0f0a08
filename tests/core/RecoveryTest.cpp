// Saves in place and their recovery after a crash; two processes at once (a second window, a
// script): one never settles, undoes or drops what the other is still doing. The other process is
// a child made by fork(), held at a step of its action until the test lets it go on.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <utility>

#include "ActionChild.h"
#include "TestFiles.h"
#include "core/Batch.h"
#include "platform/FaultInjection.h"
#include "platform/Internal.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

using namespace core;
using testfiles::Bytes;
using testfiles::Child;
using testfiles::ReadAll;
using testfiles::TempDir;

namespace {

// What another program writes into a file while recovery looks at it (onRecoveryStep).
const Bytes* g_written = nullptr;
void WriteMeanwhile(const std::string& path) { testfiles::WriteAll(path, *g_written); }

ino_t Inode(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_ino;
}

class RecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override { testfiles::UseStateFolder(state.path()); }
  void TearDown() override {
    onActionStep = nullptr;
    onRecoveryStep = nullptr;
    platform::fault::Reset();
  }

  // Saves the title through the core, as the window does; "Best Title" fits the old header.
  ApplyReport Save(const std::string& file, const std::u16string& title = u"Best Title") {
    TIDwma tag;
    tag.ReadFromFile(file);
    tag.SetTitle(title);
    ApplyOptions options;
    options.journal = &journal;
    return SaveTag(tag, file, options);
  }
  std::u16string Title(const std::string& file) {
    TIDwma tag;
    EXPECT_TRUE(tag.ReadFromFile(file));
    return tag.Title;
  }
  bool SetAside() {
    for (const std::string& name : TempDirNames(state.path() + "/velomi")) {
      if (name.find("damaged") != std::string::npos) return true;
    }
    return false;
  }
  static std::vector<std::string> TempDirNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
      names.push_back(e.path().filename().string());
    }
    return names;
  }

  TempDir files, state;
  Journal journal{QString::fromStdString(state.path() + "/velomi")};
  std::string path = files.CopyData("wma_ascii.wma", "song.wma");
  const Bytes old = ReadAll(path);
};

TEST_F(RecoveryTest, AHeaderThatFitsIsWrittenInPlaceAndAGrownOneMakesRoomForTheNext) {
  const ino_t inode = Inode(path);
  ASSERT_EQ(Save(path).results.at(0).outcome, Outcome::kDone);
  EXPECT_EQ(Inode(path), inode);
  EXPECT_EQ(Title(path), u"Best Title");
  EXPECT_TRUE(RecoverActions(journal).empty()) << "the action is finished";

  // A longer title is a replace, after which the next, longer still, fits in place.
  ASSERT_EQ(Save(path, u"A much longer title").results.at(0).outcome, Outcome::kDone);
  const ino_t grown = Inode(path);
  EXPECT_NE(grown, inode);
  ASSERT_EQ(Save(path, u"A much longer title, and longer still").results.at(0).outcome,
            Outcome::kDone);
  EXPECT_EQ(Inode(path), grown);
  EXPECT_EQ(UndoLast(journal).entries.at(0).outcome, Outcome::kDone);
  EXPECT_EQ(Title(path), u"A much longer title");
}

TEST_F(RecoveryTest, ASaveKilledAtAnyPointIsSettledFromWhatTheFileHolds) {
  using Result = Recovered::Result;
  Child(ActionStep::kWritten, true, [&] { Save(path); }).Join();
  const Bytes saved = ReadAll(path);
  ASSERT_EQ(saved.size(), old.size());
  const size_t half = 300;  // inside the header, where the title changed
  Bytes torn = old;         // the first part of the new header written, the rest not
  std::copy(saved.begin(), saved.begin() + half, torn.begin());
  ASSERT_TRUE(torn != saved && torn != old);
  Bytes foreign = old;
  foreign[half] ^= 0xFF;  // neither header's byte: another program changed the file since
  Bytes tornGrown = torn;
  tornGrown.insert(tornGrown.end(), 1000, 'x');
  struct Case {
    const char* name;
    ActionStep step;
    const Bytes* meanwhile;  // what the file holds at the next start; null: what the save left
    const Bytes& expected;
    Result result;
    int undoable;                   // the files undo then takes back
    const Bytes* during = nullptr;  // what another program writes while recovery looks
  };
  const std::vector<Case> cases = {
      {"before the write", ActionStep::kRecorded, nullptr, old, Result::kUntouched, 0},
      {"during the write", ActionStep::kRecorded, &torn, old, Result::kRestored, 0},
      {"after the write, before the done record", ActionStep::kWritten, nullptr, saved,
       Result::kKept, 1},
      {"changed by another program", ActionStep::kWritten, &foreign, foreign, Result::kUntouched,
       0},
      {"torn, and grown since", ActionStep::kRecorded, &tornGrown, tornGrown, Result::kUntouched,
       0},
      {"torn, then changed while recovery looks", ActionStep::kRecorded, &torn, foreign,
       Result::kUntouched, 0, &foreign},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testfiles::WriteAll(path, old);
    ASSERT_EQ(Child(c.step, true, [&] { Save(path); }).Join(), 0);
    EXPECT_EQ(ReadAll(path), c.step == ActionStep::kWritten ? saved : old);
    if (c.meanwhile) testfiles::WriteAll(path, *c.meanwhile);
    g_written = c.during;
    onRecoveryStep = c.during != nullptr ? WriteMeanwhile : nullptr;
    const std::vector<Recovered> report = RecoverActions(journal);
    onRecoveryStep = nullptr;
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].result, c.result);
    EXPECT_EQ(ReadAll(path), c.expected);
    EXPECT_TRUE(RecoverActions(journal).empty()) << "settled once";
    const std::vector<ActionInfo> actions = ListActions(journal);
    EXPECT_EQ(actions.empty() ? 0 : actions[0].changed, c.undoable);
    if (c.undoable) {
      EXPECT_EQ(UndoLast(journal).entries.at(0).outcome, Outcome::kDone);
      EXPECT_EQ(ReadAll(path), old);
    }
  }
  EXPECT_FALSE(SetAside());
}

TEST_F(RecoveryTest, TheNextStartSweepsWhatAKilledSaveLeftInItsFolder) {
  // A save killed inside the new file of its replacement leaves that file under a hidden name of
  // ours; the next start settles the action and removes it, and nothing of a process that runs.
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  platform::internal::TempOwner dead = platform::internal::Self();
  dead.pid = gone;
  dead.start = 12345;
  const std::string left = files.File(platform::internal::TempName(dead, "k1ll3d"));
  const std::string live =
      files.File(platform::internal::TempName(platform::internal::Self(), "w0rk1n"));
  ASSERT_EQ(Child(ActionStep::kRecorded, true, [&] { Save(path); }).Join(), 0);
  testfiles::WriteAll(left, Bytes(100, 1));
  testfiles::WriteAll(live, Bytes(100, 2));
  ASSERT_EQ(RecoverActions(journal).size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(left));
  EXPECT_TRUE(std::filesystem::exists(live));
}

TEST_F(RecoveryTest, NothingIsWrittenWithoutARecordOnTheDisk) {
  // The journal's flush fails: the save is refused with the reason, and the file is untouched.
  platform::fault::OnlyFor("journal.jsonl");
  platform::fault::FailSyncs(EIO);
  const ino_t inode = Inode(path);
  const Bytes before = ReadAll(path);
  const ApplyReport r = Save(path);
  platform::fault::Reset();
  EXPECT_EQ(r.results.at(0).outcome, Outcome::kFailed);
  EXPECT_FALSE(r.results.at(0).reason.isEmpty());
  EXPECT_FALSE(r.undoable);
  EXPECT_EQ(Inode(path), inode);
  EXPECT_EQ(ReadAll(path), before);
}

TEST_F(RecoveryTest, AWriteInPlaceThatFailsPutsTheOldHeaderBack) {
  ASSERT_EQ(Save(path).results.at(0).outcome, Outcome::kDone);
  const Bytes saved = ReadAll(path);
  const size_t differ = size_t(std::mismatch(old.begin(), old.end(), saved.begin()).first -
                               old.begin());  // the headers' first 16 bytes are alike
  ASSERT_GT(differ, 16u);
  for (const bool flush : {false, true}) {
    SCOPED_TRACE(flush ? "the flush fails" : "the write stops past the first new byte");
    testfiles::WriteAll(path, old);
    platform::fault::OnlyFor("/song.wma");
    if (flush) {
      platform::fault::FailSyncs(EIO);
    } else {
      platform::fault::FailWritesAfter(int64_t(differ) + 1, EIO,
                                       platform::fault::WriteFailure::kPartialOnce);
    }
    const ApplyReport r = Save(path);
    platform::fault::Reset();
    EXPECT_EQ(r.results.at(0).outcome, Outcome::kFailed);
    EXPECT_EQ(ReadAll(path), old);
  }
}

TEST_F(RecoveryTest, ABatchLeavesAHeaderChangedBetweenItsPlanAndItsWrite) {
  // Another program edits the second file's title in place (the same size, other bytes) after
  // the batch planned it and before the batch writes it.
  static std::string changed;
  static Bytes edited;
  changed = files.CopyData("wma_ascii.wma", "two.wma");
  for (const std::string& p : {path, changed}) {
    ASSERT_EQ(Save(p, u"A title that grows the header").results.at(0).outcome, Outcome::kDone);
  }
  const ino_t inode = Inode(path);
  onActionStep = [](ActionStep s) {
    if (s != ActionStep::kRecorded) return;
    edited = ReadAll(changed);
    edited[30 + 24 + 10] ^= 1;  // the title's first byte
    testfiles::WriteAll(changed, edited);
  };
  EditFields fields;
  fields.album = QStringLiteral("Batch");
  TIDmp3 mp3;
  TIDwma wma;
  ApplyOptions options;
  options.journal = &journal;
  const ApplyReport r = ApplyEdit(PlanEdit({path, changed}, fields), mp3, wma, options);
  onActionStep = nullptr;
  EXPECT_EQ(r.results.at(0).outcome, Outcome::kDone);
  EXPECT_EQ(Inode(path), inode) << "written in place";
  EXPECT_EQ(r.results.at(1).outcome, Outcome::kFailed);
  EXPECT_EQ(ReadAll(changed), edited);
  EXPECT_EQ(Title(changed), u"@ title that grows the header");
}

TEST_F(RecoveryTest, ADoneRecordThatCannotBeWrittenNeverRevertsTheSave) {
  // The disk of the journal fills up between the write and the done record: the save stands, is
  // reported with the problem, and the next process keeps it.
  onActionStep = [](ActionStep s) {
    if (s != ActionStep::kWritten) return;
    platform::fault::OnlyFor("journal.jsonl");
    platform::fault::FailWritesAfter(0, ENOSPC);
  };
  const ApplyReport r = Save(path);
  onActionStep = nullptr;
  platform::fault::Reset();
  EXPECT_EQ(r.results.at(0).outcome, Outcome::kDone);
  EXPECT_TRUE(r.journalMessage.contains(QString::fromUtf8("磁盘已满")))
      << r.journalMessage.toStdString();
  const Bytes saved = ReadAll(path);
  ASSERT_NE(saved, old);
  ASSERT_EQ(Child(ActionStep::kRecorded, true,
                  [&] {
                    Journal other;
                    RecoverActions(other);
                    ::_exit(0);
                  })
                .Join(),
            0);
  EXPECT_EQ(ReadAll(path), saved);
  ASSERT_EQ(ListActions(journal).at(0).changed, 1);
  EXPECT_EQ(UndoLast(journal).entries.at(0).outcome, Outcome::kDone);
  EXPECT_EQ(ReadAll(path), old);
}

TEST_F(RecoveryTest, AnotherProcessesSaveIsNeverSettledUndoneOrDroppedWhileItRuns) {
  // A script saves in place; meanwhile a window starts, reads the file, saves another file and
  // tries to undo. None of that touches the script's save, which finishes as it reports.
  const std::string other = files.CopyData("wma_chinese.wma", "other.wma");
  Child script(ActionStep::kRecorded, false, [&] {
    Journal own;
    TIDwma tag;
    tag.ReadFromFile(path);
    tag.SetTitle(u"Script");
    ApplyOptions options;
    options.journal = &own;
    ::_exit(SaveTag(tag, path, options).results.at(0).outcome == Outcome::kDone ? 0 : 2);
  });
  ASSERT_TRUE(script.Held());
  EXPECT_TRUE(RecoverActions(journal).empty());
  EXPECT_TRUE(RecoverFile(journal, path).empty());
  ASSERT_EQ(ListActions(journal).size(), 1u);
  EXPECT_TRUE(ListActions(journal)[0].running);
  const UndoReport refused = UndoLast(journal);
  EXPECT_TRUE(refused.busy);
  EXPECT_EQ(refused.message, QString::fromUtf8("另一个窗口或命令正在执行此操作"));
  EXPECT_EQ(Save(other).results.at(0).outcome, Outcome::kDone);        // its own save goes on
  ASSERT_EQ(UndoLast(journal).entries.at(0).outcome, Outcome::kDone);  // the window's own
  // Enough actions of the window meanwhile that the journal is cut: the script's record stays.
  const std::string chain = files.Write("chain.mp3", testfiles::FromString("c"));
  for (int i = 0; i <= Journal::kMaxActions + Journal::kSpareActions; ++i) {
    const std::string from = i == 0 ? "chain.mp3" : "A - " + std::to_string(i - 1) + ".mp3";
    ApplyOptions options;
    options.journal = &journal;
    ApplyRename(PlanRename({Track{files.path() + "/", from, QString::number(i), "A", 0}}, 1),
                options);
  }
  script.Release();
  ASSERT_EQ(script.Join(), 0);
  EXPECT_EQ(Title(path), u"Script");
  EXPECT_FALSE(SetAside());
  ASSERT_TRUE(journal.Refresh());
  ASSERT_FALSE(journal.Actions().empty());
  EXPECT_EQ(journal.Actions().front().kind, "save") << "the script's save, the oldest, is kept";
  EXPECT_TRUE(journal.Actions().front().finished);
}

TEST_F(RecoveryTest, TwoUndosAtOnceNeverTakeBackOneActionTwice) {
  std::vector<std::string> paths;
  for (const char* name : {"a.mp3", "b.mp3"}) {
    paths.push_back(files.CopyData("mp3_v11_ascii.mp3", name));
  }
  const Bytes before = ReadAll(paths[0]);
  EditFields fields;
  fields.artist = QStringLiteral("Both");
  TIDmp3 mp3;
  TIDwma wma;
  ApplyOptions options;
  options.journal = &journal;
  ASSERT_TRUE(ApplyEdit(PlanEdit(paths, fields), mp3, wma, options).undoable);
  Child first(ActionStep::kRecorded, false, [&] {
    UndoOptions held;
    held.progress = [](int done, int, const std::string&) {
      if (done == 1 && onActionStep != nullptr) onActionStep(ActionStep::kRecorded);
      return true;
    };
    ::_exit(UndoLast(journal, held).remaining == 0 ? 0 : 2);
  });
  ASSERT_TRUE(first.Held());  // one file undone, one to go
  const UndoReport second = UndoLast(journal);
  EXPECT_TRUE(second.busy);
  EXPECT_TRUE(second.entries.empty());
  first.Release();
  ASSERT_EQ(first.Join(), 0);
  EXPECT_EQ(ReadAll(paths[0]), before);
  EXPECT_TRUE(ListActions(journal).empty());
}

TEST_F(RecoveryTest, UndoDuringAnotherProcessesBatchIsRefusedAndLosesNothing) {
  std::vector<std::string> paths;
  for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
    paths.push_back(files.CopyData("mp3_v11_ascii.mp3", name));
  }
  paths.push_back(path);
  std::vector<Bytes> before;
  for (const auto& p : paths) before.push_back(ReadAll(p));
  ASSERT_TRUE(Save(files.CopyData("wma_chinese.wma", "older.wma")).undoable);  // an older step
  Child batch(ActionStep::kFileWritten, false, [&] {
    Journal own;
    EditFields fields;
    fields.album = QStringLiteral("Batch");
    TIDmp3 mp3;
    TIDwma wma;
    ApplyOptions options;
    options.journal = &own;
    const ApplyReport r = ApplyEdit(PlanEdit(paths, fields), mp3, wma, options);
    ::_exit(std::all_of(r.results.begin(), r.results.end(),
                        [](const EntryResult& e) { return e.outcome == Outcome::kDone; })
                ? 0
                : 2);
  });
  ASSERT_TRUE(batch.Held());  // one file written, three to go
  const Bytes first = ReadAll(paths[0]);
  EXPECT_NE(first, before[0]);
  EXPECT_TRUE(UndoLast(journal).busy);
  EXPECT_EQ(ReadAll(paths[0]), first);
  batch.Release();
  ASSERT_EQ(batch.Join(), 0);
  EXPECT_FALSE(SetAside());
  ASSERT_EQ(ListActions(journal).size(), 2u);
  const UndoReport u = UndoLast(journal);
  EXPECT_EQ(u.entries.size(), 4u);
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(ReadAll(paths[i]), before[i]) << i;
  EXPECT_EQ(ListActions(journal).size(), 1u) << "the older step is still there";
}

TEST_F(RecoveryTest, AFolderOutOfReachKeepsItsActionUnsettledUntilItIsBack) {
  ASSERT_EQ(Child(ActionStep::kWritten, true, [&] { Save(path); }).Join(), 0);
  const std::string away = state.File("away");
  ASSERT_EQ(std::rename(files.path().c_str(), away.c_str()), 0);  // the drive is unplugged
  ASSERT_EQ(RecoverActions(journal).at(0).result, Recovered::Result::kPending);
  EXPECT_TRUE(ListActions(journal).at(0).cutShort);
  ASSERT_EQ(std::rename(away.c_str(), files.path().c_str()), 0);
  ASSERT_EQ(RecoverActions(journal).at(0).result, Recovered::Result::kKept);
  EXPECT_EQ(UndoLast(journal).entries.at(0).outcome, Outcome::kDone);
  EXPECT_EQ(ReadAll(path), old);
}

}  // namespace
