// Undo and the journal as users meet them: undo from another folder, files that come back, another
// tool's edit after a batch cut short, records that name places they cannot have made, the
// read-only mark, renames left halfway by a kill, and file systems that fold letter case.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonDocument>
#include <filesystem>
#include <fstream>
#include <functional>

#include "LoopMount.h"
#include "TestFiles.h"
#include "core/Batch.h"
#include "core/Records.h"
#include "platform/FaultInjection.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

using namespace core;
using testfiles::Bytes;
using testfiles::ReadAll;
using testfiles::TempDir;
using Names = std::vector<std::string>;
using platform::fault::Feature;

namespace {

QString U(const char* s) { return QString::fromUtf8(s); }

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

int DieAtStep(platform::fault::Step) { ::_exit(0); }

// A file that another program writes while recovery looks at an action (onRecoveryStep).
std::string g_meanwhile;
void WriteMeanwhile(const std::string&) {
  testfiles::WriteAll(g_meanwhile, testfiles::FromString("another song"));
}

class UndoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
    folder = files.path() + "/";
  }
  void TearDown() override {
    onActionStep = nullptr;
    onRecoveryStep = nullptr;
    platform::fault::Reset();
  }
  ApplyOptions Options() {
    ApplyOptions options;
    options.journal = &journal;
    return options;
  }
  Track Make(const std::string& name, const char* title, const char* artist) {
    files.Write(name, testfiles::FromString("audio of " + name));
    return {folder, name, U(title), U(artist), 0};
  }
  // Appends a record to the journal as another program (or an attacker) would write it.
  void Append(QJsonObject record, const char* type, const QString& id) {
    record.insert("#", type);
    record.insert("v", 2);
    record.insert("id", id);
    record.insert("w", "elsewhere-1-1");
    record.insert("time", "2026-01-01T00:00:00.000");
    std::filesystem::create_directories(state.path() + "/velomi");
    std::ofstream(state.path() + "/velomi/journal.jsonl", std::ios::app)
        << QJsonDocument(record).toJson(QJsonDocument::Compact).toStdString() << "\n";
  }
  int Done(const UndoReport& u) {
    int n = 0;
    for (const auto& e : u.entries) n += e.outcome == Outcome::kDone;
    return n;
  }

  TempDir files, state;
  std::string folder;
  Journal journal{QString::fromStdString(state.path() + "/velomi")};
};

TEST_F(UndoTest, UndoActsOnTheRecordedFolderFromAnywhere) {
  // A script renames in a/ through a path relative to a/; undo runs later from b/, which holds a
  // file of the same new name. Only a/'s file goes back.
  const std::string a = folder + "a/", b = folder + "b/";
  std::filesystem::create_directories(a);
  std::filesystem::create_directories(b);
  testfiles::WriteAll(a + "x.mp3", testfiles::FromString("a's song"));
  testfiles::WriteAll(b + "A - T.mp3", testfiles::FromString("b's song"));
  const std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::current_path(a);
  ApplyRename(PlanRename({Track{"./", "x.mp3", U("T"), U("A"), 0}}, 1), Options());
  std::filesystem::current_path(b);
  const UndoReport u = UndoLast(journal);
  std::filesystem::current_path(home);
  EXPECT_EQ(Done(u), 1);
  EXPECT_EQ(ReadAll(a + "x.mp3"), testfiles::FromString("a's song"));
  EXPECT_EQ(ReadAll(b + "A - T.mp3"), testfiles::FromString("b's song"));
  EXPECT_FALSE(std::filesystem::exists(b + "x.mp3"));
}

TEST_F(UndoTest, FilesNotUndoneStayForTheNextUndo) {
  std::vector<std::string> paths;
  std::vector<Bytes> before;
  for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
    paths.push_back(files.CopyData("mp3_v11_ascii.mp3", name));
    before.push_back(ReadAll(paths.back()));
  }
  EditFields fields;
  fields.album = U("New");
  TIDmp3 mp3;
  TIDwma wma;
  ASSERT_TRUE(ApplyEdit(PlanEdit(paths, fields), mp3, wma, Options()).undoable);
  const std::string away = state.File("b.mp3");
  std::filesystem::rename(paths[1], away);  // on a stick that was pulled, say
  const UndoReport first = UndoLast(journal);
  EXPECT_EQ(Done(first), 2);
  EXPECT_EQ(first.remaining, 1);
  ASSERT_EQ(ListActions(journal).size(), 1u);
  EXPECT_EQ(ListActions(journal)[0].entries, 1);
  std::filesystem::rename(away, paths[1]);
  const UndoReport again = UndoLast(journal);
  EXPECT_EQ(Done(again), 1);
  EXPECT_EQ(again.remaining, 0);
  EXPECT_TRUE(ListActions(journal).empty());
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(ReadAll(paths[i]), before[i]) << i;
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

TEST_F(UndoTest, UndoRefusesAFileAnotherProgramResizedSince) {
  // The bytes undo compares are the same, but the file grew around them (another tagger put an
  // ID3v2 tag in front, audio was appended): the old bytes would land in the audio.
  struct Case {
    const char* what;
    const char* fixture;
    std::u16string title;  // for a WMA file: short keeps the header's size, long replaces it
    bool prepend;
  };
  const std::vector<Case> cases = {
      {"an MP3 file with bytes put in front", "mp3_v11_ascii.mp3", u"", true},
      {"a WMA header written in place, the file grown", "wma_ascii.wma", u"Short", false},
      {"a WMA file replaced, then grown", "wma_ascii.wma", std::u16string(5000, u'x'), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = files.CopyData(c.fixture, "f.bin");
    ApplyReport r;
    if (c.title.empty()) {
      TIDmp3 tag;
      tag.ReadFromFile(path);
      tag.SetTitle("Saved");
      r = SaveTag(tag, path, Options());
    } else {
      TIDwma tag;
      tag.ReadFromFile(path);
      tag.SetTitle(u"Made room");  // grows the header, with padding for the next save
      ASSERT_TRUE(tag.SaveToFile(path));
      tag.SetTitle(c.title);
      r = SaveTag(tag, path, Options());
    }
    ASSERT_EQ(r.results.at(0).outcome, Outcome::kDone);
    Bytes changed = ReadAll(path);
    const Bytes extra(1000, 'x');
    changed.insert(c.prepend ? changed.begin() : changed.end(), extra.begin(), extra.end());
    testfiles::WriteAll(path, changed);
    const UndoReport u = UndoLast(journal);
    ASSERT_EQ(u.entries.size(), 1u);
    EXPECT_EQ(u.entries[0].outcome, Outcome::kFailed);
    EXPECT_EQ(ReadAll(path), changed);
    std::optional<ActionInfo> gone;
    ASSERT_TRUE(ForgetLast(journal, gone));
  }
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

TEST_F(UndoTest, OnlyWhatChangedAFileIsAnUndoStep) {
  TIDmp3 tag;
  tag.SetTitle("Nowhere");
  EXPECT_EQ(SaveTag(tag, files.File("missing.mp3"), Options()).results.at(0).outcome,
            Outcome::kFailed);
  TIDmp3 mp3;
  TIDwma wma;
  ApplyEdit(PlanEdit({}, EditFields{}), mp3, wma, Options());  // a batch on an empty list
  EXPECT_TRUE(ListActions(journal).empty());
  // A batch stopped after two of four files counts two.
  std::vector<std::string> paths;
  for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"}) {
    paths.push_back(files.CopyData("mp3_v11_ascii.mp3", name));
  }
  EditFields fields;
  fields.year = U("1999");
  ApplyOptions options = Options();
  options.progress = [](int done, int, const std::string&) { return done < 2; };
  ApplyEdit(PlanEdit(paths, fields), mp3, wma, options);
  ASSERT_EQ(ListActions(journal).size(), 1u);
  EXPECT_EQ(ListActions(journal)[0].changed, 2);
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

  const Track lower = Make("a - t.mp3", "T", "A");
  std::filesystem::remove(folder + "song.mp3");
  InChildThatDies([&] {
    platform::fault::OnStep(DieAtStep);
    ApplyRename(PlanRename({lower}, 1), Options());
  });
  ASSERT_EQ(files.Names().size(), 1u);
  EXPECT_EQ(files.Names()[0].rfind(".velomi-rename-", 0), 0u);
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
  testfiles::WriteAll(dir + "a - t.mp3", testfiles::FromString("song"));
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

TEST_F(UndoTest, ARenameIsReportedOnlyWithItsFolderOnTheDisk) {
  const Track t = Make("x.mp3", "T", "A");
  platform::fault::OnlyFor(std::filesystem::canonical(files.path()).string() + "/");
  platform::fault::FailSyncs(EIO);
  const ApplyReport r = ApplyRename(PlanRename({t}, 1), Options());
  platform::fault::Reset();
  EXPECT_EQ(r.results.at(0).outcome, Outcome::kDone);
  EXPECT_TRUE(r.warning.contains(U("无法确认已写入磁盘"))) << r.warning.toStdString();
  EXPECT_TRUE(ApplyRename(PlanRename({Make("y.mp3", "U", "A")}, 1), Options()).warning.isEmpty());
}

TEST_F(UndoTest, TheJournalDropsACrashsLeftoverAndSetsAsideOnlyWhatItCannotTrust) {
  const std::string path = state.path() + "/velomi/journal.jsonl";
  struct Case {
    const char* what;
    std::function<void()> spoil;
    bool setAside;
  };
  const std::vector<Case> cases = {
      {"a zero-filled last line",
       [&] { std::ofstream(path, std::ios::app) << std::string(4096, '\0') << "\n"; }, false},
      {"a last line cut off", [&] { std::ofstream(path, std::ios::app) << "{\"#\":\"be"; }, false},
      {"a done record without its begin",
       [&] { Append(EncodeDone("1"), "done", "no-such-action"); }, true},
      {"zero bytes before a record",
       [&] {
         std::ofstream(path, std::ios::app) << std::string(10, '\0') << "\n";
         Append(EncodeDone("1"), "done", "x");
       },
       true},
      {"a file far beyond the bound",
       [&] { std::filesystem::resize_file(path, Journal::kReadBound + 1); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(state.path() + "/velomi");
    Journal fresh{QString::fromStdString(state.path() + "/velomi")};
    ApplyOptions options;
    options.journal = &fresh;
    ApplyRename(PlanRename({Make("f.mp3", "T", "A")}, 1), options);
    c.spoil();
    EXPECT_EQ(ListActions(fresh).size(), c.setAside ? 0u : 1u);
    EXPECT_EQ(std::filesystem::exists(path), !c.setAside);
    if (c.setAside) continue;
    ApplyRename(PlanRename({Make("g.mp3", "U", "A")}, 1), options);  // the next record is whole
    EXPECT_EQ(ListActions(fresh).size(), 2u);
    EXPECT_TRUE(fresh.TakeMessage().isEmpty());
    EXPECT_EQ(Done(UndoLast(fresh)) + Done(UndoLast(fresh)), 2);
  }
}

}  // namespace
