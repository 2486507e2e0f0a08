// Undo and the journal where POSIX systems differ: a save or a rename killed in a child made by
// fork(), records that name a place through a symbolic link, the permission bits of the read-only
// mark, another user's file, and a file system that folds letter case (exFAT through FUSE).
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "LoopMount.h"
#include "UndoTest.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

using namespace core;
using testfiles::Bytes;
using testfiles::ReadAll;
using undotest::U;
using undotest::UndoTest;
using Names = std::vector<std::string>;
using platform::fault::Feature;

namespace {

// Runs `work` in a child process that dies (exits at once) where `die` says so.
void InChildThatDies(const std::function<void()>& work) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    work();
    ::_exit(1);  // it should have died on the way
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child did not die there";
}

// Dies at the first step of a file's rename or open (the journal's locks go ahead).
int DieAtStep(platform::fault::Step step) {
  if (step != platform::fault::Step::kLocked) ::_exit(0);
  return 0;
}

// A file that another program writes while recovery looks at an action (onRecoveryStep).
std::string g_meanwhile;
void WriteMeanwhile(const std::string&) {
  testfiles::WriteAll(g_meanwhile, testfiles::FromString("another song"));
}

TEST_F(UndoTest, AnInterruptedWmaBatchNeverTakesBackAnotherToolsEdit) {
  std::vector<std::string> paths;
  std::vector<Bytes> before;
  for (const char* name : {"1.wma", "2.wma", "3.wma"}) {
    paths.push_back(files.CopyData("wma_ascii.wma", name));
    before.push_back(ReadAll(paths.back()));
  }
  InChildThatDies([&] {
    onActionStep = [](ActionStep s) {
      if (s == ActionStep::kFileWritten) ::_exit(0);  // killed after the first file
    };
    EditFields fields;
    fields.album = U("Batch");
    TIDmp3 mp3;
    TIDwma wma;
    ApplyEdit(PlanEdit(paths, fields), mp3, wma, Options());
  });
  ASSERT_NE(ReadAll(paths[0]), before[0]);
  TIDwma other;  // another program edits a file the batch never reached
  ASSERT_TRUE(other.ReadFromFile(paths[2]));
  other.SetAlbum(u"Another tool's album");
  ASSERT_TRUE(other.SaveToFile(paths[2]));
  const Bytes edited = ReadAll(paths[2]);

  const UndoReport u = UndoLast(journal);
  EXPECT_EQ(Done(u), 1);
  EXPECT_EQ(ReadAll(paths[0]), before[0]);
  EXPECT_EQ(ReadAll(paths[1]), before[1]);
  EXPECT_EQ(ReadAll(paths[2]), edited);
  EXPECT_TRUE(ListActions(journal).empty());
}

TEST_F(UndoTest, ARecordActsOnlyInsideItsOwnFolder) {
  // Records that name a place they cannot have made: a name that leaves the folder, a folder
  // with "..", a folder that is a symbolic link. Undo refuses each and moves nothing.
  std::filesystem::create_directories(folder + "in");
  std::filesystem::create_directories(folder + "outside");
  testfiles::WriteAll(folder + "outside/victim.mp3", testfiles::FromString("victim"));
  std::filesystem::create_directory_symlink(folder + "outside", folder + "link");
  auto rename = [](const std::string& dir, const std::string& from, const std::string& to) {
    Entry e;
    e.folder = dir;
    e.name = from;
    e.newName = to;
    e.size = 6;
    return e;
  };
  const std::vector<Entry> crafted = {
      rename(folder + "in/", "x.mp3", "../outside/victim.mp3"),
      rename(folder + "in/../outside/", "gone.mp3", "victim.mp3"),
      rename(folder + "link/", "gone.mp3", "victim.mp3"),
  };
  Append(EncodeBegin("rename", "crafted", crafted), "begin", "crafted");
  Append(EncodeDone("111"), "done", "crafted");
  const UndoReport u = UndoLast(journal);
  ASSERT_EQ(u.entries.size(), 3u);
  for (const auto& e : u.entries) EXPECT_EQ(e.outcome, Outcome::kFailed) << e.path;
  // The first two (the last two undone first) are refused for what their record says, before
  // any file is looked at.
  for (size_t k : {1u, 2u}) EXPECT_EQ(u.entries[k].reason, U("记录中的位置不可信，未撤销")) << k;
  EXPECT_EQ(ReadAll(folder + "outside/victim.mp3"), testfiles::FromString("victim"));
  EXPECT_FALSE(std::filesystem::exists(folder + "outside/gone.mp3"));

  // Cut-short saves whose record names a file through a symbolic link, or a folder through "..":
  // recovery never writes there, though the file's last bytes look like a write torn between the
  // record's two blocks.
  Bytes torn(172, 'x');
  torn.insert(torn.end(), 64, 'o');
  torn.insert(torn.end(), 64, 'n');
  testfiles::WriteAll(folder + "notes.txt", torn);
  testfiles::WriteAll(folder + "outside/victim.mp3", torn);
  std::filesystem::create_symlink(folder + "notes.txt", folder + "song.mp3");
  auto save = [&](const std::string& dir, const std::string& name) {
    Entry e;
    e.kind = Entry::Kind::kMp3;
    e.folder = dir;
    e.name = name;
    e.size = 300;
    e.oldBlock = QByteArray(128, 'o');
    e.newBlock = QByteArray(128, 'n');
    return e;
  };
  Append(EncodeBegin("save", "linked", {save(folder, "song.mp3")}), "begin", "linked");
  Append(EncodeBegin("save", "dotted", {save(folder + "in/../outside/", "victim.mp3")}), "begin",
         "dotted");
  RecoverActions(journal);
  EXPECT_EQ(ReadAll(folder + "notes.txt"), torn);
  EXPECT_EQ(ReadAll(folder + "outside/victim.mp3"), torn);
}

TEST_F(UndoTest, UndoPutsBackTheReadOnlyMarkThatASaveTookAway) {
  const std::string path = files.CopyData("mp3_v11_ascii.mp3", "ro.mp3");
  const Bytes before = ReadAll(path);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  TIDmp3 tag;
  ASSERT_TRUE(tag.ReadFromFile(path));
  tag.SetTitle("Changed");
  ASSERT_EQ(SaveTag(tag, path, Options()).results.at(0).outcome, Outcome::kDone);
  EXPECT_EQ(testfiles::Mode(path), 0644u);
  EXPECT_EQ(Done(UndoLast(journal)), 1);
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_EQ(testfiles::Mode(path), 0444u);
}

TEST_F(UndoTest, RenamesLeftHalfwayByAKillAreSettledAtTheNextStart) {
  // Where the file system can neither rename without replacing nor link (exFAT through FUSE, SMB),
  // a kill between the placeholder and the rename over it leaves an empty file under the new
  // name: the next start removes it. A kill inside a case-only rename leaves the file under its
  // temporary name: it gets the name it was meant to get.
  const Track t = Make("song.mp3", "T", "A");
  auto killedOverPlaceholder = [&] {
    InChildThatDies([&] {
      platform::fault::Refuse(Feature::kRenameNoReplace);
      platform::fault::Refuse(Feature::kHardLink);
      platform::fault::OnStep(DieAtStep);
      ApplyRename(PlanRename({t}, 1), Options());
    });
    EXPECT_EQ(files.Names(), (Names{"A - T.mp3", "song.mp3"}));
  };
  killedOverPlaceholder();
  RecoverActions(journal);
  EXPECT_EQ(files.Names(), (Names{"song.mp3"}));
  EXPECT_TRUE(ListActions(journal).empty());
  // Another program's file put in the placeholder's place while recovery looks is not ours.
  killedOverPlaceholder();
  g_meanwhile = folder + "A - T.mp3";
  onRecoveryStep = WriteMeanwhile;
  RecoverActions(journal);
  onRecoveryStep = nullptr;
  EXPECT_EQ(ReadAll(folder + "A - T.mp3"), testfiles::FromString("another song"));
  EXPECT_TRUE(ListActions(journal).empty());
  std::filesystem::remove(folder + "A - T.mp3");
  // Another program's file under the new name is no placeholder of ours, even when it is empty.
  files.Write("A - T.mp3", {});
  Entry rename;
  rename.folder = folder;
  rename.name = "song.mp3";
  rename.newName = "A - T.mp3";
  rename.size = static_cast<int64_t>(ReadAll(folder + "song.mp3").size());
  ::chown((folder + "A - T.mp3").c_str(), 12345, 12345);
  Append(EncodeBegin("rename", "someone", {rename}), "begin", "someone");
  RecoverActions(journal);
  EXPECT_EQ(files.Names(), (Names{"A - T.mp3", "song.mp3"}));
  std::filesystem::remove(folder + "A - T.mp3");

  std::filesystem::remove(folder + "song.mp3");
  auto killedInCaseOnlyRename = [&] {
    const Track lower = Make("a - t.mp3", "T", "A");
    InChildThatDies([&] {
      platform::fault::OnStep(DieAtStep);
      ApplyRename(PlanRename({lower}, 1), Options());
    });
    const Names names = files.Names();
    EXPECT_EQ(names.size(), 1u);
    EXPECT_EQ(names.at(0).rfind(".velomi-rename-", 0), 0u);
    return names.at(0);
  };
  // A file of another size under the temporary name is not the one renamed: left where it is.
  const std::string temp = killedInCaseOnlyRename();
  testfiles::WriteAll(folder + temp, testfiles::FromString("another size"));
  RecoverActions(journal);
  EXPECT_EQ(files.Names(), (Names{temp}));
  std::filesystem::remove(folder + temp);
  killedInCaseOnlyRename();
  RecoverActions(journal);
  EXPECT_EQ(files.Names(), (Names{"A - T.mp3"}));
  EXPECT_EQ(Done(UndoLast(journal)), 1);
  EXPECT_EQ(files.Names(), (Names{"a - t.mp3"}));
}

TEST_F(UndoTest, ACutShortRenameOfAFileChangedSinceIsLeftAsItIs) {
  const Track a = Make("a.mp3", "T", "A"), b = Make("b.mp3", "U", "A");
  InChildThatDies([&] {
    onActionStep = [](ActionStep s) {
      if (s == ActionStep::kFileWritten) ::_exit(0);  // killed after the first rename
    };
    ApplyRename(PlanRename({a, b}, 1), Options());
  });
  const Bytes other = testfiles::FromString("another program's longer song");
  testfiles::WriteAll(folder + "A - T.mp3", other);
  const std::vector<Recovered> report = RecoverActions(journal);
  ASSERT_EQ(report.size(), 2u);
  EXPECT_EQ(report[0].result, Recovered::Result::kUntouched);
  EXPECT_TRUE(ListActions(journal).empty());
  EXPECT_EQ(Done(UndoLast(journal)), 0);
  EXPECT_EQ(files.Names(), (Names{"A - T.mp3", "b.mp3"}));
  EXPECT_EQ(ReadAll(folder + "A - T.mp3"), other);
}

TEST_F(UndoTest, ACaseOnlyRenameIsUndoneWhereNamesFoldCase) {
  testfiles::LoopMount exfat(files, "exfat", 16);
  if (!exfat.mounted)
    GTEST_SKIP() << "no exFAT through FUSE here (needs root, exfatprogs, exfat-fuse)";
  const std::string dir = exfat.point + "/";
  testfiles::WriteAll(dir + "a - t.mp3", testfiles::FromString("ID3 song"));
  const RenamePlan plan = PlanRename({Track{dir, "a - t.mp3", U("T"), U("A"), 0}}, 1);
  ASSERT_EQ(plan.entries.at(0).status, RenameStatus::kRename)
      << plan.entries[0].reason.toStdString();
  ASSERT_EQ(ApplyRename(plan, Options()).results.at(0).outcome, Outcome::kDone);
  ASSERT_TRUE(std::filesystem::exists(dir + "A - T.mp3"));
  const UndoReport u = UndoLast(journal);
  ASSERT_EQ(u.entries.size(), 1u);
  EXPECT_EQ(u.entries[0].outcome, Outcome::kDone) << u.entries[0].reason.toStdString();
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  EXPECT_EQ(names, (Names{"a - t.mp3"}));
}

}  // namespace

namespace {

platform::fault::Step g_killAt;
bool g_named = false;

// Kills the process at `g_killAt` of a case-only rename's second step (after its temporary name).
int KillInSecondStep(platform::fault::Step step) {
  if (step == platform::fault::Step::kCaseTempNamed) g_named = true;
  if (g_named && step == g_killAt) ::_exit(0);
  return 0;
}

TEST_F(UndoTest, ACaseOnlyRenameKilledBetweenItsStepsGetsItsNameAtTheNextStart) {
  // On exFAT through FUSE the second step renames over a placeholder: a kill there leaves the
  // song under its temporary name and an empty file under the new one.
  testfiles::LoopMount exfat(files, "exfat", 16);
  if (!exfat.mounted)
    GTEST_SKIP() << "no exFAT through FUSE here (needs root, exfatprogs, exfat-fuse)";
  const std::string dir = exfat.point + "/";
  const Bytes song = testfiles::FromString("ID3 the song itself");
  for (auto step :
       {platform::fault::Step::kCaseTempNamed, platform::fault::Step::kPlaceholderReserved}) {
    SCOPED_TRACE(step == platform::fault::Step::kCaseTempNamed ? "at its temporary name"
                                                               : "over the placeholder");
    for (const auto& e : std::filesystem::directory_iterator(dir)) std::filesystem::remove(e);
    testfiles::WriteAll(dir + "a - t.mp3", song);
    const RenamePlan plan = PlanRename({Track{dir, "a - t.mp3", U("T"), U("A"), 0}}, 1);
    const pid_t child = ::fork();
    if (child == 0) {
      g_killAt = step;
      platform::fault::OnStep(KillInSecondStep);
      ApplyRename(plan, Options());
      ::_exit(1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0) << "killed at its step";
    ASSERT_EQ(RecoverActions(journal).size(), 1u);
    Names names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      names.push_back(e.path().filename().string());
    }
    EXPECT_EQ(names, (Names{"A - T.mp3"}));
    EXPECT_EQ(ReadAll(dir + "A - T.mp3"), song);
    const UndoReport undo = UndoLast(journal);  // and the rename is undone as any other
    ASSERT_EQ(undo.entries.size(), 1u);
    EXPECT_EQ(undo.entries[0].outcome, Outcome::kDone) << undo.entries[0].reason.toStdString();
  }
}

}  // namespace
