// In-place WMA saves through the core: the header log's record around the write, and the recovery
// of a save killed at each point where a crash matters (in a child process).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "TestFiles.h"
#include "core/Batch.h"
#include "core/HeaderLog.h"
#include "tags/wma/TWmaTag.h"

using namespace core;
using testfiles::Bytes;
using testfiles::ReadAll;
using testfiles::TempDir;

namespace {

HeaderStep g_killAt;

ino_t Inode(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_ino;
}

class HeaderLogTest : public ::testing::Test {
 protected:
  // Saves the title through the core, as the window does; "Best Title" fits the old header.
  Outcome Save(const std::u16string& title = u"Best Title") {
    TIDwma tag;
    tag.ReadFromFile(path);
    tag.SetTitle(title);
    ApplyOptions options;
    options.journal = &journal;
    return SaveTag(tag, path, options).results.at(0).outcome;
  }
  void SaveKilledAt(HeaderStep step) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      g_killAt = step;
      onHeaderStep = [](HeaderStep s) {
        if (s == g_killAt) ::_exit(0);
      };
      Save();
      ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "killed at the step";
  }
  std::u16string Title() {
    TIDwma tag;
    EXPECT_TRUE(tag.ReadFromFile(path));
    return tag.Title;
  }

  TempDir files, state;
  Journal journal{QString::fromStdString(state.path() + "/velomi")};
  std::string path = files.CopyData("wma_ascii.wma", "song.wma");
  const Bytes old = ReadAll(path);
};

}  // namespace

TEST_F(HeaderLogTest, AHeaderThatFitsIsWrittenInPlaceAndAGrownOneMakesRoomForTheNext) {
  const ino_t inode = Inode(path);
  ASSERT_EQ(Save(), Outcome::kDone);
  EXPECT_EQ(Inode(path), inode);
  EXPECT_EQ(Title(), u"Best Title");
  EXPECT_TRUE(RecoverHeaders(journal).empty()) << "the record is done once the write is";

  // A longer title is a replace, after which the next, longer still, fits in place.
  ASSERT_EQ(Save(u"A much longer title"), Outcome::kDone);
  const ino_t grown = Inode(path);
  EXPECT_NE(grown, inode);
  ASSERT_EQ(Save(u"A much longer title, and longer still"), Outcome::kDone);
  EXPECT_EQ(Inode(path), grown);
  EXPECT_EQ(UndoLast(journal).entries.at(0).outcome, Outcome::kDone);
  EXPECT_EQ(Title(), u"A much longer title");
}

TEST_F(HeaderLogTest, ASaveKilledAtAnyPointIsRolledBackAtTheNextStart) {
  using Result = HeaderRecovery::Result;
  SaveKilledAt(HeaderStep::kWritten);
  const Bytes saved = ReadAll(path);
  ASSERT_EQ(saved.size(), old.size());
  const size_t half = 300;  // inside the header, where the title changed
  Bytes torn = old;         // the first part of the new header written, the rest not
  std::copy(saved.begin(), saved.begin() + half, torn.begin());
  ASSERT_TRUE(torn != saved && torn != old);
  Bytes foreign = old;
  foreign[half] ^= 0xFF;  // neither header's byte: another program changed the file since
  struct Case {
    const char* name;
    HeaderStep step;
    const Bytes* meanwhile;  // what the file holds at the next start; null: what the save left
    const Bytes& expected;
    Result result;
  };
  const std::vector<Case> cases = {
      {"before the write", HeaderStep::kRecorded, nullptr, old, Result::kUntouched},
      {"during the write", HeaderStep::kRecorded, &torn, old, Result::kRestored},
      {"after the write, before the done mark", HeaderStep::kWritten, nullptr, old,
       Result::kRestored},
      {"changed by another program", HeaderStep::kWritten, &foreign, foreign, Result::kUntouched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testfiles::WriteAll(path, old);
    SaveKilledAt(c.step);
    EXPECT_EQ(ReadAll(path), c.step == HeaderStep::kWritten ? saved : old);
    if (c.meanwhile) testfiles::WriteAll(path, *c.meanwhile);
    const std::vector<HeaderRecovery> report = RecoverHeaders(journal);
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].result, c.result);
    EXPECT_EQ(ReadAll(path), c.expected);
    EXPECT_EQ(ReadAll(state.path() + "/velomi/headers.jsonl"), Bytes{}) << "all settled";
  }
}

TEST_F(HeaderLogTest, AFileOutOfReachKeepsItsRecordUntilItIsBack) {
  SaveKilledAt(HeaderStep::kWritten);
  const std::string away = files.File("away.wma");
  ASSERT_EQ(std::rename(path.c_str(), away.c_str()), 0);
  ASSERT_EQ(RecoverHeaders(journal).at(0).result, HeaderRecovery::Result::kPending);
  EXPECT_TRUE(RecoverHeadersOf(journal, away).empty()) << "another file's record is not its";
  // Back in its place, it is rolled back before it is saved.
  ASSERT_EQ(std::rename(away.c_str(), path.c_str()), 0);
  ASSERT_EQ(Save(u"Last Title"), Outcome::kDone);
  ASSERT_EQ(UndoLast(journal).entries.at(0).outcome, Outcome::kDone);
  EXPECT_EQ(ReadAll(path), old);
}
