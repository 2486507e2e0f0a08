// velomi-tag run as a program on real files in temporary folders, with its journal in a temporary
// state folder.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "TestFiles.h"
#include "core/Batch.h"
#include "core/Journal.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

namespace {

using testfiles::ReadAll;
using testfiles::TempDir;

struct Result {
  int status = -1;
  QByteArray out, err;
  QJsonObject Json() const { return QJsonDocument::fromJson(out).object(); }
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("XDG_STATE_HOME", state.path().c_str(), 1); }

  Result Tag(const std::vector<std::string>& args, const char* lang = "C.UTF-8") {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LANG"), QString::fromLatin1(lang));
    env.remove(QStringLiteral("LC_ALL"));
    env.remove(QStringLiteral("LANGUAGE"));
    p.setProcessEnvironment(env);
    QStringList list;
    // Arguments as bytes: QProcess encodes them back with the locale's codec (UTF-8 here), so
    // names that are not UTF-8 go through a shell instead.
    for (const auto& a : args) list << QString::fromStdString(a);
    p.start(QStringLiteral(VELOMI_TAG), list);
    p.waitForFinished(60000);
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
  }

  TempDir state, dir;
};

TEST_F(CliTest, ShowsMp3AndWmaTagsAsTextAndJson) {
  dir.CopyData("mp3_v11_gbk.mp3", "a.mp3");
  dir.CopyData("wma_chinese.wma", "b.WMA");
  const Result json = Tag({"show", "--json", dir.path()});
  ASSERT_EQ(json.status, 0) << json.err.constData();
  EXPECT_TRUE(json.err.isEmpty());  // no progress line when standard error is not a terminal
  const QJsonArray files = json.Json().value("files").toArray();
  ASSERT_EQ(files.size(), 2);
  const QJsonObject mp3 = files[0].toObject(), wma = files[1].toObject();
  EXPECT_EQ(mp3["path"].toString().toStdString(), dir.File("a.mp3"));
  EXPECT_EQ(mp3["format"].toString(), "mp3");
  EXPECT_EQ(mp3["fields"]["title"].toString(), QStringLiteral("发如雪"));
  EXPECT_EQ(mp3["fields"]["track"].toInt(), 3);
  EXPECT_EQ(mp3["fields"]["genre"].toString(), "Pop");
  EXPECT_EQ(wma["fields"]["artist"].toString(), QStringLiteral("邓丽君"));
  EXPECT_EQ(wma["fields"].toObject().size(), 13);
  const Result text = Tag({"show", dir.File("a.mp3")});
  EXPECT_TRUE(text.out.contains("  Title: 发如雪\n")) << text.out.constData();
  EXPECT_TRUE(Tag({"show", dir.File("a.mp3")}, "zh_CN.UTF-8").out.contains("  歌曲标题: 发如雪"));
}

TEST_F(CliTest, JsonKeepsTheBytesOfANameThatIsNotUtf8) {
  const std::string name = "\xB8\xE8.mp3";  // GBK for 歌
  dir.CopyData("mp3_v11_ascii.mp3", name);
  QProcess sh;  // the name's bytes reach the program unchanged through the shell
  sh.start("sh", {"-c", QStringLiteral("\"%1\" show --json \"$(printf '%2/\\270\\350.mp3')\"")
                            .arg(VELOMI_TAG, QString::fromStdString(dir.path()))});
  sh.waitForFinished(60000);
  const QJsonObject file =
      QJsonDocument::fromJson(sh.readAllStandardOutput())["files"][0].toObject();
  EXPECT_EQ(QByteArray::fromBase64(file["pathBase64"].toString().toLatin1()).toStdString(),
            dir.File(name));
  EXPECT_EQ(file["fields"]["title"].toString(), "Hello Song");
}

TEST_F(CliTest, BadInputGivesItsStatusAndTouchesNothing) {
  dir.CopyData("mp3_v11_ascii.mp3", "a.mp3");
  dir.Write("notes.mp3.txt", testfiles::FromString("not audio"));
  ::mkdir(dir.File("empty").c_str(), 0755);
  const std::string a = dir.File("a.mp3");
  const auto before = ReadAll(a);
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{"undo"}, 1, "nothing to undo"},
      {{"show", dir.File("missing.mp3")}, 1, "no such file or folder"},
      {{"show", dir.File("empty")}, 1, "the folder holds no MP3 or WMA files"},
      {{"show", "--bogus", a}, 2, "Unknown option 'bogus'"},
      {{"set", "--year", "19a8", a}, 2, "digits only"},
      {{"set", "--track", "300", a}, 2, "0 to 255"},
      {{"set", "--genre", "Nope", a}, 2, "no such genre"},
      {{"set", a}, 2, "no field given"},
      {{"rename", "--rule", "4", a}, 2, "must be 1, 2 or 3"},
      {{"frobnicate", a}, 2, "unknown command"},
      {{"set", "--title", "x", dir.File("notes.mp3.txt"), a}, 1, "not an MP3 or WMA file"},
  };
  for (const auto& c : cases) {
    const Result r = Tag(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args[1];
    EXPECT_TRUE(r.err.contains(c.message)) << r.err.constData();
  }
  // Only the last case, a good file beside a bad one, wrote anything: one action, on a.mp3.
  EXPECT_NE(ReadAll(a), before);
  EXPECT_EQ(Tag({"undo", "--list"}).out.count('\n'), 1);
  EXPECT_TRUE(Tag({"set", "--year", "x", a}, "zh_CN.UTF-8").err.contains("年份只能是数字"));
}

TEST_F(CliTest, SetWritesAsTheBatchEditDoesInOneActionThatUndoTakesBack) {
  const std::string mp3 = dir.CopyData("mp3_v11_gbk.mp3", "a.mp3");
  const std::string wma = dir.CopyData("wma_chinese.wma", "b.wma");
  const auto mp3Before = ReadAll(mp3), wmaBefore = ReadAll(wma);
  const std::string longTitle = "一二三四五六七八九十一二三四五六七八";  // 36 GBK bytes
  Result r = Tag({"set", "--title", longTitle, "--track", "12", "--genre", "17", "--artist",
                  " 某人 ", dir.path()});
  ASSERT_EQ(r.status, 0) << r.err.constData();
  TIDmp3 m;
  ASSERT_TRUE(m.ReadFromFile(mp3));
  EXPECT_EQ(m.Title.size(), 30u);           // cut to the slot's 30 bytes: fifteen characters
  EXPECT_EQ(m.Artist, "\xC4\xB3\xC8\xCB");  // trimmed, in GBK
  EXPECT_EQ(m.Track, 12);
  EXPECT_EQ(m.GenreID, 17);
  TIDwma w;
  ASSERT_TRUE(w.ReadFromFile(wma));
  EXPECT_EQ(w.Genre, u"Rock");  // a genre number names its genre in a WMA file too
  EXPECT_EQ(w.Title.size(), 18u);

  // A WMA-only field: the MP3 file is refused with a reason, the WMA file written.
  r = Tag({"set", "--lyrics", "la la", mp3, wma});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains("--lyrics")) << r.err.constData();
  ASSERT_TRUE(w.ReadFromFile(wma));
  EXPECT_EQ(w.Lyrics, u"la la");

  EXPECT_EQ(Tag({"undo"}).status, 0);
  EXPECT_EQ(Tag({"undo"}).status, 0);
  EXPECT_EQ(ReadAll(mp3), mp3Before);
  EXPECT_EQ(ReadAll(wma), wmaBefore);
}

TEST_F(CliTest, RenameNumbersTheFilesInTheOrderGivenAndDryRunChangesNothing) {
  dir.CopyData("mp3_v11_ascii.mp3", "x.mp3");  // Some Artist - Hello Song
  dir.CopyData("wma_chinese.wma", "y.wma");    // 邓丽君 - 月亮代表我的心
  const std::vector<std::string> before = dir.Names();
  Result r = Tag({"rename", "--rule", "3", "--dry-run", dir.File("y.wma"), dir.File("x.mp3")});
  ASSERT_EQ(r.status, 0) << r.err.constData();
  EXPECT_TRUE(r.out.contains("x.mp3 → Some Artist - (1)Hello Song.mp3")) << r.out.constData();
  EXPECT_EQ(dir.Names(), before);

  r = Tag({"rename", "--rule", "3", dir.File("y.wma"), dir.File("x.mp3")});
  ASSERT_EQ(r.status, 0) << r.err.constData();
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"Some Artist - (1)Hello Song.mp3",
                                                   "邓丽君 - (0)月亮代表我的心.wma"}));
  EXPECT_TRUE(Tag({"undo", "--list"}).out.contains("rename, 2 of 2 file(s) changed"));
  EXPECT_EQ(Tag({"undo"}).status, 0);
  EXPECT_EQ(dir.Names(), before);
}

TEST_F(CliTest, RenameReportsAFileItCannotNameAndRenamesTheOthers) {
  dir.CopyData("mp3_untagged.mp3", "bare.mp3");  // no title, no artist
  dir.CopyData("mp3_v11_ascii.mp3", "x.mp3");
  const Result r = Tag({"rename", "--rule", "2", dir.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains("bare.mp3: ")) << r.err.constData();
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"Hello Song - Some Artist.mp3", "bare.mp3"}));
}

TEST_F(CliTest, UndoTakesBackAnActionOfTheWindow) {
  const std::string mp3 = dir.CopyData("mp3_v11_gbk.mp3", "a.mp3");
  const auto before = ReadAll(mp3);
  core::EditFields fields;  // the window's batch edit, through the core as the window calls it
  fields.album = QStringLiteral("窗口");
  core::Journal journal;
  TIDmp3 m;
  TIDwma w;
  core::ApplyOptions options;
  options.journal = &journal;
  ASSERT_TRUE(core::ApplyEdit(core::PlanEdit({mp3}, fields), m, w, options).undoable);
  ASSERT_NE(ReadAll(mp3), before);
  const Result r = Tag({"undo"});
  EXPECT_EQ(r.status, 0) << r.err.constData();
  EXPECT_EQ(ReadAll(mp3), before);
}

}  // namespace

TEST_F(CliTest, AWmaSaveCutShortIsSettledBeforeTheFileIsShown) {
  // A save through the core dies after writing the new header in place, before its done record.
  // velomi-tag keeps a header written whole, and puts the old one back over a header written in
  // part, before it reads the file.
  const std::string path = dir.CopyData("wma_ascii.wma", "song.wma");
  const testfiles::Bytes old = ReadAll(path);
  for (const bool torn : {false, true}) {
    SCOPED_TRACE(torn ? "torn" : "whole");
    testfiles::WriteAll(path, old);
    const pid_t pid = ::fork();
    if (pid == 0) {
      core::onActionStep = [](core::ActionStep s) {
        if (s == core::ActionStep::kWritten) ::_exit(0);
      };
      core::Journal journal;
      TIDwma tag;
      tag.ReadFromFile(path);
      tag.SetTitle(u"Cut");
      core::ApplyOptions options;
      options.journal = &journal;
      core::SaveTag(tag, path, options);
      ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the save did not reach its end";
    testfiles::Bytes now = ReadAll(path);
    ASSERT_NE(now, old);
    if (torn) {
      std::copy(old.begin() + 200, old.begin() + 1000, now.begin() + 200);
      testfiles::WriteAll(path, now);
    }
    const Result shown = Tag({"show", "--json", path});
    EXPECT_EQ(shown.status, 0) << shown.err.constData();
    EXPECT_EQ(shown.Json()["files"][0]["fields"]["title"].toString() == "Cut", !torn);
    if (torn) {
      EXPECT_EQ(ReadAll(path), old);
    }
  }
}

TEST_F(CliTest, AShowInAnotherTerminalNeverRollsBackARunningSave) {
  // velomi-tag set is held between its record and its in-place write; velomi-tag show reads the
  // file meanwhile. The set then finishes and its file holds what it reported.
  const std::string path = dir.CopyData("wma_ascii.wma", "b.wma");
  ASSERT_EQ(Tag({"set", "--title", "First", path}).status, 0);  // saved once before
  const std::string hold = dir.File("hold");
  QProcess set;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("VELOMI_TEST_HOLD", QString::fromStdString("recorded:" + hold));
  env.insert("LANG", "C.UTF-8");
  set.setProcessEnvironment(env);
  set.start(QStringLiteral(VELOMI_TAG), {"set", "--title", "NEW", QString::fromStdString(path)});
  for (int i = 0; i < 3000 && !std::filesystem::exists(hold + ".held"); ++i) ::usleep(10000);
  ASSERT_TRUE(std::filesystem::exists(hold + ".held")) << "the set never reached its record";
  const Result shown = Tag({"show", "--json", path});
  EXPECT_EQ(shown.Json()["files"][0]["fields"]["title"].toString(), "First");
  EXPECT_EQ(Tag({"undo"}).status, 1) << "the running set cannot be undone";
  testfiles::WriteAll(hold + ".go", {});
  ASSERT_TRUE(set.waitForFinished(60000));
  EXPECT_EQ(set.exitCode(), 0) << set.readAllStandardError().constData();
  EXPECT_TRUE(set.readAllStandardOutput().contains("1 file(s) written"));
  EXPECT_EQ(Tag({"show", "--json", path}).Json()["files"][0]["fields"]["title"].toString(), "NEW");
  EXPECT_EQ(Tag({"undo", "--list"}).out.count("batch edit"), 2);
}
