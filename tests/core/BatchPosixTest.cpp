// Plans, the journal and undo where POSIX systems differ: the journal's permission bits, and
// another process made by fork(), files given to another user, symbolic links.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "BatchTest.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

using namespace core;
using batchtest::BatchTest;
using testfiles::ReadAll;

TEST_F(BatchTest, TheJournalIsItsUsersAlone) {
  Journal journal;
  ApplyOptions options;
  options.journal = &journal;
  ASSERT_TRUE(ApplyRename(PlanRename({Make("a.mp3", "T", "A")}, 1), options).undoable);
  EXPECT_EQ(testfiles::Mode(Journalled()), 0600u);
  EXPECT_EQ(testfiles::Mode(state.path() + "/velomi"), 0700u);
}

TEST_F(BatchTest, TwoProgramsWritingTheJournalAtOnceLoseNoRecord) {
  // The window and velomi-tag may record actions at the same time; a rewrite of the journal (its
  // cut to the last actions) must not drop a record the other wrote meanwhile, which would leave
  // a done record without its begin and the whole journal set aside.
  auto record = [](const char* who) {
    Journal journal;
    for (int i = 0; i < 3 * Journal::kMaxActions; ++i) {
      const std::optional<QString> id = journal.Begin(QJsonObject{{"kind", who}, {"n", 1}});
      if (!id || !journal.Finish(*id, QJsonObject{{"r", "1"}})) return false;
    }
    return true;
  };
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(record("child") ? 0 : 1);
  EXPECT_TRUE(record("parent"));
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  Journal journal;
  ASSERT_TRUE(journal.Refresh()) << journal.TakeMessage().toStdString();
  EXPECT_EQ(ListActions(journal).size(), static_cast<size_t>(Journal::kMaxActions));
  for (const auto& a : journal.Actions()) EXPECT_TRUE(a.finished);
}

TEST_F(BatchTest, AJournalOrStateFolderOfAnotherUserOrThroughALinkIsRefused) {
  const std::string velomi = state.path() + "/velomi", real = velomi + "-real";
  struct Case {
    const char* what;
    std::function<int()> spoil;  // 0 when it could be done
    std::string journal;         // where the journal file is then
  };
  const std::vector<Case> cases = {
      {"the journal is another user's", [&] { return ::chown(Journalled().c_str(), 12345, 12345); },
       Journalled()},
      {"the state folder is another user's", [&] { return ::chown(velomi.c_str(), 12345, 12345); },
       Journalled()},
      {"the state folder is a symbolic link",
       [&] {
         return std::rename(velomi.c_str(), real.c_str()) ||
                ::symlink(real.c_str(), velomi.c_str());
       },
       real + "/journal.jsonl"},
      {"the journal's lock file is a symbolic link",
       [&] {
         const std::string lock = Journalled() + ".lock";
         return std::remove(lock.c_str()) ||
                ::symlink((velomi + "/elsewhere").c_str(), lock.c_str());
       },
       Journalled()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(velomi);
    std::filesystem::remove_all(real);
    Journal journal;
    ApplyOptions options;
    options.journal = &journal;
    ASSERT_TRUE(ApplyRename(PlanRename({Make("a.mp3", "T", "A")}, 1), options).undoable);
    if (c.spoil() != 0) continue;  // only root can give a file away
    const auto before = ReadAll(c.journal);
    EXPECT_TRUE(ListActions(journal).empty());
    EXPECT_FALSE(journal.TakeMessage().isEmpty());
    // Not recorded, so not carried out: the file keeps its name.
    const ApplyReport r = ApplyRename(PlanRename({Make("b.mp3", "U", "A")}, 1), options);
    EXPECT_EQ(r.results.at(0).outcome, Outcome::kFailed);
    EXPECT_FALSE(r.undoable);
    EXPECT_FALSE(UndoLast(journal).action.has_value());
    EXPECT_EQ(ReadAll(c.journal), before);
    EXPECT_EQ(files.Names(), (std::vector<std::string>{"A - T.mp3", "b.mp3"}));
    for (const std::string& name : files.Names()) std::filesystem::remove(files.File(name));
  }
}

namespace {

TEST_F(BatchTest, AFileGivenThroughALinkIsEditedWhereTheLinkLeadsAndTheLinkStays) {
  const std::string real = files.CopyData("mp3_v11_ascii.mp3", "real.mp3");
  const std::string link = files.File("link.mp3");
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  const auto before = ReadAll(real);
  EditFields fields;
  fields.album = batchtest::U("Linked");
  Journal journal;
  TIDmp3 mp3;
  TIDwma wma;
  ApplyOptions options;
  options.journal = &journal;
  const ApplyReport r = ApplyEdit(PlanEdit({link}, fields), mp3, wma, options);
  ASSERT_EQ(r.results.at(0).outcome, Outcome::kDone) << r.results[0].reason.toStdString();
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_NE(ReadAll(real), before);
  EXPECT_EQ(UndoLast(journal).remaining, 0);
  EXPECT_EQ(ReadAll(real), before);
}

}  // namespace
