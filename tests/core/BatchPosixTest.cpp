// Plans, the journal and undo where POSIX systems differ: the journal's permission bits, and
// another process made by fork().
#include <sys/wait.h>
#include <unistd.h>

#include "BatchTest.h"

using namespace core;
using batchtest::BatchTest;

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
