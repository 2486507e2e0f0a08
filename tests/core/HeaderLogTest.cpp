// In-place WMA saves through the core: the header log's record around the write, and the recovery
// of a save killed at each point where a crash matters. Killed saves run in a child process.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "TestFiles.h"
#include "core/Batch.h"
#include "core/HeaderLog.h"
#include "core/Journal.h"
#include "tags/wma/TWmaTag.h"

using namespace core;
using testfiles::Bytes;
using testfiles::ReadAll;
using testfiles::TempDir;

namespace {

HeaderStep g_killAt;

class HeaderLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = files.CopyData("wma_ascii.wma", "song.wma");
    old = ReadAll(path);
  }
  // Saves the title (the same length as the old one, so the header fits) through the core.
  ApplyReport Save(const std::u16string& title) {
    TIDwma tag;
    EXPECT_TRUE(tag.ReadFromFile(path));
    tag.SetTitle(title);
    ApplyOptions options;
    options.journal = &journal;
    return SaveTag(tag, path, options);
  }
  // Saves in a child process that is killed at `step`.
  void SaveKilledAt(HeaderStep step) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      g_killAt = step;
      onHeaderStep = [](HeaderStep s) {
        if (s == g_killAt) ::_exit(0);
      };
      Save(u"Best Title");
      ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "killed at the step";
  }
  Bytes NewHeader() {
    TIDwma tag;
    tag.ReadFromFile(path);
    tag.SetTitle(u"Best Title");
    wma::SavePlan plan;
    EXPECT_TRUE(tag.PlanSave(path, plan));
    return plan.newHeader;
  }
  std::string Log() { return state.path() + "/velomi/headers.jsonl"; }
  std::u16string Title() {
    TIDwma tag;
    EXPECT_TRUE(tag.ReadFromFile(path));
    return tag.Title;
  }

  TempDir files, state;
  Journal journal{QString::fromStdString(state.path() + "/velomi")};
  std::string path;
  Bytes old;
};

Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

ino_t Inode(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_ino;
}

}  // namespace

TEST_F(HeaderLogTest, AHeaderThatFitsIsWrittenInPlaceAndAGrownOneMakesRoomForTheNext) {
  const ino_t inode = Inode(path);
  ASSERT_EQ(Title(), u"Test Title");
  ASSERT_EQ(Save(u"Best Title").results.at(0).outcome, Outcome::kDone);
  EXPECT_EQ(Inode(path), inode);
  EXPECT_EQ(Title(), u"Best Title");
  EXPECT_TRUE(RecoverHeaders(journal).empty()) << "the record is done once the write is";
  EXPECT_EQ(ReadAll(Log()), Bytes{});

  // A longer title does not fit: the file is replaced, and the next edits fit in its new room.
  ASSERT_EQ(Save(u"A much longer title than before").results.at(0).outcome, Outcome::kDone);
  const ino_t grown = Inode(path);
  EXPECT_NE(grown, inode);
  ASSERT_EQ(Save(u"A much longer title than before, and longer still").results.at(0).outcome,
            Outcome::kDone);
  EXPECT_EQ(Inode(path), grown);
  EXPECT_EQ(Title(), u"A much longer title than before, and longer still");

  // The undo of an in-place save still gives the file back as it was.
  EXPECT_EQ(UndoLast(journal).entries.at(0).outcome, Outcome::kDone);
  EXPECT_EQ(Title(), u"A much longer title than before");
}

TEST_F(HeaderLogTest, ASaveKilledAtAnyPointIsRolledBackAtTheNextStart) {
  using Result = HeaderRecovery::Result;
  const Bytes fresh = NewHeader();
  TIDwma tag;
  ASSERT_TRUE(tag.ReadFromFile(path));
  ASSERT_EQ(int64_t(fresh.size()), tag.HeaderSize) << "the new header fits in place";
  const Bytes saved = Join(fresh, Bytes(old.begin() + tag.HeaderSize, old.end()));
  const Bytes torn = Join(Bytes(fresh.begin(), fresh.begin() + long(fresh.size() / 2)),
                          Bytes(old.begin() + long(fresh.size() / 2), old.end()));
  Bytes foreign = old;
  foreign[fresh.size() / 2] ^= 0xFF;  // neither header's byte: someone else changed the file
  struct Case {
    const char* name;
    HeaderStep step;
    std::function<void()> meanwhile;  // what happened to the file before the next start
    Bytes expected;
    Result result;
  };
  const std::vector<Case> cases = {
      {"before the write", HeaderStep::kRecorded, [] {}, old, Result::kUntouched},
      {"during the write", HeaderStep::kRecorded, [&] { testfiles::WriteAll(path, torn); }, old,
       Result::kRestored},
      {"after the write, before the done mark", HeaderStep::kWritten, [] {}, old,
       Result::kRestored},
      {"changed by another program since", HeaderStep::kRecorded,
       [&] { testfiles::WriteAll(path, foreign); }, foreign, Result::kUntouched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testfiles::WriteAll(path, old);
    SaveKilledAt(c.step);
    EXPECT_EQ(ReadAll(path), c.step == HeaderStep::kWritten ? saved : old);
    c.meanwhile();
    const std::vector<HeaderRecovery> report = RecoverHeaders(journal);
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].result, c.result);
    EXPECT_EQ(ReadAll(path), c.expected);
    EXPECT_EQ(ReadAll(Log()), Bytes{});
    EXPECT_TRUE(RecoverHeaders(journal).empty());
  }
  EXPECT_EQ(Title(), u"Test Title");
}

TEST_F(HeaderLogTest, AFileOutOfReachKeepsItsRecordUntilItIsBack) {
  SaveKilledAt(HeaderStep::kWritten);
  const std::string away = files.File("away.wma");
  ASSERT_EQ(std::rename(path.c_str(), away.c_str()), 0);
  const std::vector<HeaderRecovery> report = RecoverHeaders(journal);
  ASSERT_EQ(report.size(), 1u);
  EXPECT_EQ(report[0].result, HeaderRecovery::Result::kPending);
  EXPECT_TRUE(RecoverHeadersOf(journal, away).empty()) << "another file's record is not its";

  // Back in its place, it is rolled back before it is read or saved.
  ASSERT_EQ(std::rename(away.c_str(), path.c_str()), 0);
  ASSERT_EQ(Save(u"Last Title").results.at(0).outcome, Outcome::kDone);
  EXPECT_EQ(Title(), u"Last Title");
  ASSERT_EQ(UndoLast(journal).entries.at(0).outcome, Outcome::kDone);
  EXPECT_EQ(ReadAll(path), old);
}
