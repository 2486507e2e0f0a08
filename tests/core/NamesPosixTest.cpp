// Garbled file and folder names: how each script and form reads, the plan over a tree of files
// of any kind and folders, conflicts, kills at every step of the action, and undo after a restart.
// Names whose bytes are not UTF-8 are POSIX systems' (on Windows only mojibake applies).
#include <sys/wait.h>
#include <unistd.h>

#include <QStringDecoder>
#include <QStringEncoder>
#include <map>
#include <set>

#include "UndoTest.h"
#include "core/text/Legacy.h"

using namespace core;
using legacy::NameReading;
using undotest::U;
using undotest::UndoTest;

namespace {

namespace fs = std::filesystem;

// The bytes `text` has in `codec`, and those bytes as a tool that read them as `as` shows them.
std::string Encoded(const char* codec, const char* text) {
  QStringEncoder encoder(codec);
  return QByteArray(encoder.encode(U(text))).toStdString();
}
std::string Mojibake(const std::string& bytes, const char* as) {
  QStringDecoder decoder(as);
  return QString(decoder.decode(QByteArray::fromStdString(bytes))).toStdString();
}

// One folder's names in one script and form: each reads back as it was written, or (nullptr) is
// left alone.
TEST(NameReadingTest, EachScriptAndFormReadsBackOrIsLeftAlone) {
  struct Case {
    const char* codec;
    const char* form;  // nullptr: the bytes themselves, else what read them
    std::vector<const char*> names;
  };
  const Case cases[] = {
      {"GBK", nullptr, {"周杰伦 - 七里香", "01 晴天.mp3", "七里香.lrc"}},
      {"GBK", "windows-1252", {"王菲 - 红豆", "红豆.mp3", "传奇.mp3"}},
      {"GBK", "ISO-8859-1", {"朴树 - 平凡之路", "那些花儿.mp3"}},
      {"GBK", "IBM437", {"周杰伦.mp3", "稻香.lrc"}},
      {"Big5", nullptr, {"張學友 - 吻別", "吻別.mp3", "每天愛你多一些.mp3"}},
      {"Big5", "windows-1252", {"陳奕迅 - 浮誇", "浮誇.mp3", "好久不見.mp3"}},
      {"Big5", "IBM437", {"蘇打綠 - 小情歌", "小情歌.mp3"}},
      {"Shift_JIS", nullptr, {"宇多田ヒカル", "ファーストラヴ.mp3", "桜流し.mp3"}},
      {"Shift_JIS", "windows-1252", {"スピッツ - ロビンソン.mp3", "チェリー.mp3"}},
      {"Shift_JIS", "IBM437", {"中島みゆき - 糸.mp3", "時代.mp3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.codec) + " as " + (c.form ? c.form : "bytes"));
    std::vector<std::string> names;
    for (const char* text : c.names) {
      const std::string bytes = Encoded(c.codec, text);
      names.push_back(c.form ? Mojibake(bytes, c.form) : bytes);
    }
    names.push_back("cover.jpg");
    const std::vector<NameReading> readings = legacy::ReadNames(names, std::nullopt, true);
    for (size_t i = 0; i < c.names.size(); ++i) {
      EXPECT_EQ(readings[i].kind, NameReading::Kind::kRepair) << c.names[i];
      EXPECT_EQ(readings[i].text, U(c.names[i]));
    }
    EXPECT_EQ(readings.back().kind, NameReading::Kind::kFine);
  }
  // Names that read right are left alone, whatever else is in their folder; UTF-8 read as CP1252
  // is mojibake too.
  const std::vector<std::string> fine = {
      "Beyoncé - Halo.mp3", "周杰伦 - 七里香.mp3", "Mötley Crüe - Kickstart My Heart.mp3",
      "ASCII.mp3",          "Björk - Jóga.mp3",    "Sigur Rós - Hoppípolla.mp3"};
  std::vector<std::string> mixed = fine;
  mixed.push_back(Encoded("GBK", "七里香.mp3"));
  mixed.push_back(Mojibake("Beyoncé - Halo.mp3", "windows-1252"));
  const std::vector<NameReading> readings = legacy::ReadNames(mixed, std::nullopt, true);
  for (size_t i = 0; i < fine.size(); ++i) {
    EXPECT_EQ(readings[i].kind, NameReading::Kind::kFine) << fine[i];
  }
  EXPECT_EQ(readings[fine.size()].text, U("七里香.mp3"));
  EXPECT_EQ(readings[fine.size() + 1].text, U("Beyoncé - Halo.mp3"));
  // Where names are UTF-16 (Windows) bytes never come; an encoding given reads every name.
  EXPECT_EQ(legacy::ReadNames({Encoded("GBK", "七里香")}, std::nullopt, false)[0].kind,
            NameReading::Kind::kFine);
  EXPECT_EQ(legacy::ReadNames({Encoded("Big5", "晴天")}, legacy::Encoding::kBig5, true)[0].text,
            U("晴天"));
}

// Every entry of a tree with its bytes: a path (as the folder's bytes) and what the file holds,
// "/" for a folder.
using Tree = std::map<std::string, std::string>;
Tree Snapshot(const std::string& root) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(root))) {
    const std::string path = entry.path().native().substr(root.size());  // root ends in "/"
    const testfiles::Bytes bytes =
        entry.is_directory() ? testfiles::Bytes{'/'} : testfiles::ReadAll(entry.path().native());
    tree[path] = std::string(bytes.begin(), bytes.end());
  }
  return tree;
}

class NamesTest : public UndoTest {
 protected:
  // A library as an old Windows disk left it: a GBK folder with its songs, cover and lyrics, a
  // subfolder whose name unzip made CP437 mojibake, a Big5 file beside them, and names that read
  // right. The plan's entries: 5 renames, the subfolder's content first.
  void MakeTree() {
    root = folder + Encoded("GBK", "周杰伦 - 七里香") + "/";
    fs::create_directory(fs::path(root));
    const std::string sub = root + Mojibake(Encoded("GBK", "附赠"), "IBM437") + "/";
    fs::create_directory(fs::path(sub));
    files.Write(Encoded("GBK", "周杰伦 - 七里香") + "/" + Encoded("GBK", "01 七里香.mp3"),
                testfiles::FromString("\xFF\xFB song one"));
    files.Write(Encoded("GBK", "周杰伦 - 七里香") + "/" + Encoded("GBK", "01 七里香.lrc"),
                testfiles::FromString("[00:01] lyrics"));
    files.Write(Encoded("GBK", "周杰伦 - 七里香") + "/cover.jpg", testfiles::FromString("JPEG"));
    testfiles::WriteAll(sub + Encoded("GBK", "说明.txt"), testfiles::FromString("notes"));
    files.Write(Encoded("Big5", "張學友 - 吻別.mp3"), testfiles::FromString("\xFF\xFB big5"));
    files.Write("Beyoncé - Halo.mp3", testfiles::FromString("\xFF\xFB halo"));
  }
  NamePlan Plan() { return PlanFixNames(NameTargetsOf({folder}, true)); }

  std::string root;
};

TEST_F(NamesTest, AFolderAndItsFilesAreRepairedInOneActionAndUndoneAfterARestart) {
  MakeTree();
  const Tree before = Snapshot(folder);
  const NamePlan plan = Plan();
  ASSERT_EQ(plan.Count(NameStatus::kRepair), 6) << DescribeNamePlan(plan).toStdString();
  EXPECT_EQ(plan.entries.size(), 6u);
  const ApplyReport report = ApplyFixNames(plan, Options());
  for (const EntryResult& r : report.results) EXPECT_EQ(r.outcome, Outcome::kDone);
  const Tree after = Snapshot(folder);
  for (const char* path : {"周杰伦 - 七里香/01 七里香.mp3", "周杰伦 - 七里香/01 七里香.lrc",
                           "周杰伦 - 七里香/cover.jpg", "周杰伦 - 七里香/附赠/说明.txt",
                           "張學友 - 吻別.mp3", "Beyoncé - Halo.mp3"}) {
    EXPECT_EQ(after.count(path), 1u) << path;
  }
  EXPECT_EQ(after.size(), before.size());
  // Another process, started from another folder, undoes it in one step.
  {
    // First with the old name of the album's folder taken by another folder: the folder keeps
    // its new name, and its contents get theirs back inside it.
    const std::string album = folder + "周杰伦 - 七里香/";
    fs::create_directory(fs::path(root));
    Journal first{QString::fromStdString(state.path() + "/velomi")};
    EXPECT_EQ(Done(UndoLast(first)), 5);
    EXPECT_TRUE(fs::exists(album + Encoded("GBK", "01 七里香.mp3")));
    fs::remove(fs::path(root));
  }
  Journal restarted{QString::fromStdString(state.path() + "/velomi")};
  const fs::path here = fs::current_path();
  fs::current_path("/");
  const UndoReport u = UndoLast(restarted);
  fs::current_path(here);
  EXPECT_EQ(Done(u), 1);
  EXPECT_EQ(Snapshot(folder), before);
  EXPECT_TRUE(ListActions(restarted).empty());
}

TEST_F(NamesTest, ATakenOrSharedNameIsAConflictAndNothingIsOverwritten) {
  files.Write(Encoded("GBK", "七里香.mp3"), testfiles::FromString("garbled"));
  files.Write("七里香.mp3", testfiles::FromString("already there"));
  files.Write(Encoded("GBK", "晴天.mp3"), testfiles::FromString("bytes"));
  files.Write(Mojibake(Encoded("GBK", "晴天.mp3"), "windows-1252"), testfiles::FromString("moji"));
  const Tree before = Snapshot(folder);
  const NamePlan plan = Plan();
  ASSERT_EQ(plan.entries.size(), 3u);
  EXPECT_EQ(plan.Count(NameStatus::kConflict), 2) << DescribeNamePlan(plan).toStdString();
  EXPECT_EQ(plan.Count(NameStatus::kRepair), 1);
  EXPECT_NE(DescribeNamePlan(plan).indexOf(U("已有同名的文件或文件夹")), -1);
  EXPECT_NE(DescribeNamePlan(plan).indexOf(U("修复后的名称相同")), -1);
  ApplyFixNames(plan, Options());
  const Tree after = Snapshot(folder);
  EXPECT_EQ(after.at("七里香.mp3"), "already there");
  EXPECT_EQ(after.size(), before.size());
  // Undo renames back only the very file it renamed: a copy in its place keeps its name.
  fs::copy_file(folder + "晴天.mp3", folder + "copy");
  fs::rename(folder + "copy", folder + "晴天.mp3");
  EXPECT_EQ(Done(UndoLast(journal)), 0);
  EXPECT_TRUE(fs::exists(folder + "晴天.mp3"));
}

// Dies at one step of the action: its begin record, after a number of renames, or its last; or
// (`placeholder`, where the file system can neither rename without replacing nor link) inside
// the first rename, once its placeholder is made.
struct Kill {
  ActionStep step;
  int renames;  // the renames done before the kill, for kFileWritten
  bool placeholder = false;
};
int g_renames = 0;
Kill g_kill{};

TEST_F(NamesTest, AKillAtAnyStepLeavesEveryEntryUnderItsOldOrNewNameAndUndoTakesItBack) {
  MakeTree();
  const Tree before = Snapshot(folder);
  const NamePlan plan = Plan();
  std::vector<Kill> kills = {{ActionStep::kRecorded, 0}, {ActionStep::kWritten, 6}};
  for (int n = 1; n <= 6; ++n) kills.push_back({ActionStep::kFileWritten, n});
  kills.push_back({ActionStep::kWritten, 0, true});
  for (const Kill& kill : kills) {
    SCOPED_TRACE(std::to_string(static_cast<int>(kill.step)) + " after " +
                 std::to_string(kill.renames));
    g_kill = kill;
    g_renames = 0;
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (kill.placeholder) {
        platform::fault::Refuse(platform::fault::Feature::kRenameNoReplace);
        platform::fault::Refuse(platform::fault::Feature::kHardLink);
        platform::fault::OnStep([](platform::fault::Step s) {
          if (s == platform::fault::Step::kPlaceholderReserved) ::_exit(0);
          return 0;
        });
      }
      onActionStep = [](ActionStep s) {
        if (s == ActionStep::kFileWritten) ++g_renames;
        if (s == g_kill.step && (s != ActionStep::kFileWritten || g_renames == g_kill.renames)) {
          ::_exit(0);
        }
      };
      ApplyFixNames(plan, Options());
      ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // The next start settles it: every file still there with what it held, none hidden.
    Journal next{QString::fromStdString(state.path() + "/velomi")};
    RecoverActions(next);
    const Tree now = Snapshot(folder);
    ASSERT_EQ(now.size(), before.size());
    std::multiset<std::string> held, had;
    for (const auto& [path, bytes] : now) {
      held.insert(bytes);
      EXPECT_EQ(("/" + path).find("/."), std::string::npos) << path;
    }
    for (const auto& [path, bytes] : before) had.insert(bytes);
    EXPECT_EQ(held, had);
    // One undo gives every name back byte for byte (nothing to undo before the first rename).
    const UndoReport u = UndoLast(next);
    EXPECT_EQ(Done(u), kill.placeholder ? 0 : kill.step == ActionStep::kWritten ? 6 : kill.renames);
    EXPECT_EQ(Snapshot(folder), before);
    EXPECT_TRUE(ListActions(next).empty());
  }
}

}  // namespace
