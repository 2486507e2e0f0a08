// velomi-tag run as a program on real files in temporary folders, with its journal in a temporary
// state folder.
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "CliTest.h"
#include "core/Batch.h"
#include "core/journal/Journal.h"
#include "core/text/Rules.h"
#include "platform/FileSystem.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

namespace {

using clitest::CliTest;
using clitest::Result;
using testfiles::ReadAll;
using testfiles::TempDir;

TEST_F(CliTest, ShowsMp3AndWmaTagsAsTextAndJson) {
  dir.CopyData("mp3_v11_gbk.mp3", "a.mp3");
  dir.CopyData("wma_chinese.wma", "b.WMA");
  const Result json = Tag({"show", "--json", dir.path()});
  ASSERT_EQ(json.status, 0) << json.err.constData();
  EXPECT_TRUE(json.err.isEmpty());  // no progress line when standard error is not a terminal
  const QJsonArray files = json.Json().value("files").toArray();
  ASSERT_EQ(files.size(), 2);
  const QJsonObject mp3 = files[0].toObject(), wma = files[1].toObject();
  // With the system's separator ("\\" on Windows).
  EXPECT_EQ(mp3["path"].toString(),
            QDir::toNativeSeparators(QString::fromStdString(dir.File("a.mp3"))));
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

TEST_F(CliTest, BadInputGivesItsStatusAndTouchesNothing) {
  dir.CopyData("mp3_v11_ascii.mp3", "a.mp3");
  dir.Write("notes.mp3.txt", testfiles::FromString("not audio"));
  testfiles::MakeFolder(dir.File("empty"));
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
      {{"set", "--genre", "200", a}, 2, "no such genre"},
      {{"set", a}, 2, "no field given"},
      {{"rename", "--rule", "4", a}, 2, "must be 1, 2 or 3"},
      {{"rename", a}, 2, "either --rule or --format"},
      {{"rename", "--rule", "1", "--format", "%t", a}, 2, "either --rule or --format"},
      {{"rename", "--format", "%a - %q", a}, 2, "unknown placeholder: %q"},
      {{"rename", "--format", "%a/%t", a}, 2, "may not hold \"/\""},
      {{"rename", "--format", "%t", "--replace-with", ":", a}, 2, "one character"},
      {{"rename", "--format", "%t", "--replace-windows", a}, 2, "goes with --replace-with"},
      {{"tag-from-name", "--format", "%a%t", "--dry-run", a}, 2, "text between them"},
      {{"tag-from-name", "--format", "%i. %a - %t", a}, 2, "%i is the file's place"},
      {{"show", "-0", a}, 2, "-0 goes with --files-from"},
      {{"show", "--files-from", dir.File("no-list")}, 2, "cannot read the list"},
      {{"frobnicate", a}, 2, "unknown command"},
      {{"renam", "--rule", "1", a}, 2, "unknown command: renam; did you mean rename?"},
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
  for (const char* help : {"--help", "--help-all"}) {  // as advertised
    const Result r = Tag({"rename", help});
    EXPECT_EQ(r.status, 0) << help;
    EXPECT_TRUE(r.out.contains("--format <TEMPLATE>")) << help;
  }
}

TEST_F(CliTest, SetWritesAsTheBatchEditDoesInOneActionThatUndoTakesBack) {
  const std::string mp3 = dir.CopyData("mp3_v11_gbk.mp3", "a.mp3");
  const std::string wma = dir.CopyData("wma_chinese.wma", "b.wma");
  const auto mp3Before = ReadAll(mp3), wmaBefore = ReadAll(wma);
  const std::string longTitle = "一二三四五六七八九十一二三四五六七八";  // 36 GBK bytes
  Result r = Tag({"set", "--title", longTitle, "--track", "12", "--genre", "17", "--artist",
                  " 某人 ", dir.path()});
  ASSERT_EQ(r.status, 0) << r.err.constData();
  EXPECT_TRUE(r.err.contains("a.mp3: warning: Title was cut")) << r.err.constData();
  EXPECT_FALSE(r.err.contains("b.wma")) << r.err.constData();
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
  EXPECT_TRUE(r.out.endsWith("2 file(s): rename 2, skip 0, conflict 0, refused 0\n"))
      << r.out.constData();  // a dry run ends with its counts
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
  dir.CopyData("mp3_v11_ascii.mp3", "z.mp3");  // the same new name: the plan names x.mp3
  const Result dry = Tag({"rename", "--rule", "2", "--dry-run", dir.path()});
  EXPECT_TRUE(dry.err.contains("the same as the new name of \"x.mp3\" (file 2)"))
      << dry.err.constData();
  const Result r = Tag({"rename", "--rule", "2", dir.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains("bare.mp3: ")) << r.err.constData();
  EXPECT_TRUE(r.err.contains("z.mp3: ")) << r.err.constData();
  EXPECT_EQ(dir.Names(),
            (std::vector<std::string>{"Hello Song - Some Artist.mp3", "bare.mp3", "z.mp3"}));
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
  for (int i = 0; i < 3000 && !std::filesystem::exists(hold + ".held"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
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

namespace {

// An MP3 file made from the untagged fixture with an ID3v1 tag of these (UTF-8) texts in GBK.
std::string MakeMp3(const TempDir& dir, const std::string& name, const char* title,
                    const char* artist, const char* comment = "") {
  const std::string path = dir.CopyData("mp3_untagged.mp3", name);
  TIDmp3 tag;
  tag.SetTitle(rules::ToGbk(QString::fromUtf8(title)));
  tag.SetArtist(rules::ToGbk(QString::fromUtf8(artist)));
  tag.SetComment(rules::ToGbk(QString::fromUtf8(comment)));
  EXPECT_TRUE(tag.SaveToFile(path));
  return path;
}

}  // namespace

TEST_F(CliTest, RenameByTemplate) {
  enum Third { kNone, kSameArtist, kOddTitle };  // a third file, x.mp3
  const struct {
    std::vector<std::string> options;
    Third third;
    int status;
    std::vector<std::string> names;  // the folder afterwards, sorted by bytes
    const char* err;                 // in standard error
  } cases[] = {
      {{"--format", "%a - %t"},
       kNone,
       0,
       {"周杰伦 - 发如雪.mp3", "邓丽君 - 月亮代表我的心.wma"},
       ""},
      {{"--format", "%b (%y) %2n %g %i"},
       kNone,
       0,
       {"中文专辑 (1977) 03 流行 1.wma", "十一月的萧邦 (2005) 03 Pop 0.mp3"},
       ""},
      {{"--format", "%t [%c]"}, kNone, 1, {"a.mp3", "b.wma"}, "a.mp3: Comment is empty"},
      {{"--format", "%a"}, kSameArtist, 1, {"x.mp3", "周杰伦.mp3", "邓丽君.wma"}, "x.mp3: "},
      {{"--format", "%%%t"},
       kOddTitle,
       1,
       {"%发如雪.mp3", "%月亮代表我的心.wma", "x.mp3"},
       "holds \"/\""},
      {{"--format", "%t", "--replace-with", "_"},
       kOddTitle,
       1,
       {"x.mp3", "发如雪.mp3", "月亮代表我的心.wma"},
       "holds \":\""},
      {{"--format", "%t", "--replace-with", "_", "--replace-windows"},
       kOddTitle,
       0,
       {"AC_DC_ Live_.mp3", "发如雪.mp3", "月亮代表我的心.wma"},
       ""},
  };
  for (const auto& c : cases) {
    TempDir d;
    d.CopyData("mp3_v11_gbk.mp3", "a.mp3");
    d.CopyData("wma_chinese.wma", "b.wma");
    if (c.third == kSameArtist) d.CopyData("mp3_v11_gbk.mp3", "x.mp3");
    if (c.third == kOddTitle) MakeMp3(d, "x.mp3", "AC/DC: Live?", "A");
    std::vector<std::string> args = {"rename"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(d.path());
    const Result r = Tag(args);
    const std::string what = c.options[1];
    EXPECT_EQ(r.status, c.status) << what << r.err.constData();
    EXPECT_EQ(d.Names(), c.names) << what;
    EXPECT_TRUE(r.err.contains(c.err)) << what << ": " << r.err.constData();
  }
}

TEST_F(CliTest, ARecursiveRenameIsOneActionThatOneUndoTakesBack) {
  testfiles::MakeFolder(dir.File("b"));
  testfiles::MakeFolder(dir.File("b/c"));
  testfiles::MakeFolder(dir.File("empty"));
  dir.CopyData("mp3_v11_gbk.mp3", "b/c/z.mp3");
  dir.CopyData("wma_chinese.wma", "b/y.wma");
  dir.CopyData("mp3_v11_ascii.mp3", "x.mp3");
  testfiles::MakeLink("../..", dir.File("b/c/up"), true);  // a loop, walked once, where links are
  const Result plain = Tag({"show", dir.path()});
  EXPECT_TRUE(plain.err.contains("note: ")) << plain.err.constData();
  EXPECT_EQ(plain.out.count("Format:"), 1);

  const Result r = Tag({"rename", "-r", "--rule", "3", dir.path()});
  ASSERT_EQ(r.status, 0) << r.err.constData();
  EXPECT_TRUE(testfiles::ReadAll(dir.File("Some Artist - (0)Hello Song.mp3")).size() > 0);
  EXPECT_TRUE(testfiles::ReadAll(dir.File("b/邓丽君 - (1)月亮代表我的心.wma")).size() > 0);
  EXPECT_TRUE(testfiles::ReadAll(dir.File("b/c/周杰伦 - (2)发如雪.mp3")).size() > 0);
  EXPECT_TRUE(Tag({"undo", "--list"}).out.contains("rename, 3 of 3 file(s) changed"));
  EXPECT_EQ(Tag({"undo"}).status, 0);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"b", "empty", "x.mp3"}));
  EXPECT_TRUE(testfiles::ReadAll(dir.File("b/c/z.mp3")).size() > 0);
  EXPECT_EQ(Tag({"undo"}).status, 1);  // nothing more: it was one action
}

TEST_F(CliTest, ALossySetIsReportedAndStrictLeavesSuchFilesUnwritten) {
  const struct {
    std::vector<std::string> options;
    const char* warning;  // for the MP3 file
  } cases[] = {
      {{"--title", "一二三四五六七八九十一二三四五六七八"},
       "Title was cut to fit the tag: \"一二三四五六七八九十一二三四五\""},
      {{"--artist", "이소라 😀"},
       "Artist holds characters GBK lacks (이소라😀), stored as \"?\": \"??? ?\""},
      {{"--year", "12345"}, "Year was cut to fit the tag: \"1234\""},
      {{"--genre", "流行"}, "Genre \"流行\" is no ID3v1 genre: none stored"},
      {{"--track", "5"}, "Comment was cut to fit the tag: \"A comment of exactly thirty\""},
  };
  for (const auto& c : cases) {
    for (const bool strict : {false, true}) {
      TempDir d;
      const std::string mp3 = d.CopyData("mp3_v10_long.mp3", "a.mp3");
      const std::string wma = d.CopyData("wma_chinese.wma", "b.wma");
      const auto mp3Before = ReadAll(mp3), wmaBefore = ReadAll(wma);
      std::vector<std::string> args = {"set"};
      args.insert(args.end(), c.options.begin(), c.options.end());
      if (strict) args.push_back("--strict");
      args.push_back(d.path());
      const Result r = Tag(args);
      const std::string what = c.options[0] + (strict ? " --strict" : "");
      EXPECT_EQ(r.status, strict ? 1 : 0) << what << r.err.constData();
      EXPECT_TRUE(r.err.contains(
          QByteArray(strict ? "a.mp3: not written (--strict): " : "a.mp3: warning: ") + c.warning))
          << what << ": " << r.err.constData();
      EXPECT_EQ(r.err.count('\n'), 1) << what << r.err.constData();
      EXPECT_EQ(ReadAll(mp3) == mp3Before, strict) << what;
      EXPECT_NE(ReadAll(wma), wmaBefore) << what;
    }
  }
}

TEST_F(CliTest, JsonKeepsTheArgumentsOrderWithOneTypePerKey) {
  const std::string mp3 = dir.CopyData("mp3_v11_gbk.mp3", "a.mp3");
  const std::string wma = dir.CopyData("wma_chinese.wma", "b.wma");
  TIDwma tag;  // a track the window may give a WMA file, and a genre of the table
  ASSERT_TRUE(tag.ReadFromFile(wma));
  tag.SetTrack(u"4/12");
  tag.SetGenre(u"rock");
  ASSERT_TRUE(tag.SaveToFile(wma));
  const Result r = Tag({"show", "--json", dir.File("gone.mp3"), wma, dir.File("x.txt"), mp3});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.startsWith("{\n    \"version\": 1,\n")) << r.out.constData();
  const QJsonArray files = r.Json()["files"].toArray();
  ASSERT_EQ(files.size(), 4);
  const char* paths[] = {"gone.mp3", "b.wma", "x.txt", "a.mp3"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(files[i]["path"].toString().endsWith(paths[i])) << i;
  }
  EXPECT_EQ(files[0]["format"].toString(), "");
  EXPECT_FALSE(files[0]["error"].toString().isEmpty());
  const QJsonObject w = files[1]["fields"].toObject(), m = files[3]["fields"].toObject();
  EXPECT_EQ(w["track"], QJsonValue(4));
  EXPECT_EQ(w["trackText"], QJsonValue("4/12"));
  EXPECT_EQ(w["genreId"], QJsonValue(17));
  EXPECT_EQ(m["track"], QJsonValue(3));
  EXPECT_EQ(m["genreId"], QJsonValue(13));
  EXPECT_FALSE(m.contains("trackText"));
  for (const QJsonObject& fields : {w, m}) {
    for (auto it = fields.begin(); it != fields.end(); ++it) {
      const bool number = it.key() == "track" || it.key() == "genreId";
      EXPECT_EQ(it.value().isDouble(), number) << it.key().toStdString();
      EXPECT_EQ(it.value().isString(), !number) << it.key().toStdString();
    }
  }
}

TEST_F(CliTest, TagFromNameDryRunPrintsTheFieldsAndWritesNothing) {
  dir.CopyData("mp3_untagged.mp3", "周杰伦 - 03. 发如雪.mp3");
  dir.CopyData("wma_chinese.wma", "No track - x.wma");
  const auto before = dir.Names();
  const Result r = Tag({"tag-from-name", "--format", "%a - %n. %t", "--dry-run", dir.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(
      r.out.endsWith("周杰伦 - 03. 发如雪.mp3\n  Artist: 周杰伦\n  Track: 3\n  Title: 发如雪\n"))
      << r.out.constData();
  EXPECT_TRUE(r.err.contains("No track - x.wma: the name does not match the template"));
  EXPECT_EQ(dir.Names(), before);
  EXPECT_EQ(Tag({"undo", "--list"}).out, "The journal holds no actions.\n");
}

TEST_F(CliTest, ShowsBothTagsSetKeepsTheId3v2TagInStepAndConvertIsUndone) {
  const std::string v2 = dir.CopyData("id3v2_v23_gbk.mp3", "a.mp3");
  const std::string v1 = dir.CopyData("mp3_v11_gbk.mp3", "b.mp3");
  const auto before = ReadAll(v1);
  auto file = [&](int i) { return Tag({"show", "--json", v2, v1}).Json()["files"][i]; };
  EXPECT_EQ(file(0)["id3v1"], QJsonValue());
  EXPECT_EQ(file(0)["id3v2"]["version"], QJsonValue("2.3"));
  EXPECT_EQ(file(0)["id3v2"]["fields"]["title"], QJsonValue(QStringLiteral("发如雪")));
  EXPECT_EQ(file(0)["id3v2"]["fields"]["track"], QJsonValue(3));
  EXPECT_EQ(file(0)["id3v2"]["fields"]["trackText"], QJsonValue("3/12"));
  EXPECT_EQ(file(1)["id3v1"], QJsonValue("1.1"));
  EXPECT_EQ(file(1)["id3v2"], QJsonValue());
  const Result text = Tag({"show", v2});
  EXPECT_TRUE(text.out.contains("  ID3v1: none\n")) << text.out.constData();
  EXPECT_TRUE(text.out.contains("  ID3v2: 2.3\n    Title: 发如雪\n")) << text.out.constData();

  ASSERT_EQ(Tag({"set", "--artist", "王菲", "--track", "5", v2}).status, 0);
  EXPECT_EQ(file(0)["id3v2"]["fields"]["artist"], QJsonValue(QStringLiteral("王菲")));
  EXPECT_EQ(file(0)["id3v2"]["fields"]["track"], QJsonValue(5));
  EXPECT_EQ(file(0)["id3v2"]["fields"]["album"], QJsonValue(QStringLiteral("十一月的萧邦")));

  const Result dry = Tag({"convert", "--dry-run", v1});
  EXPECT_EQ(dry.status, 0);
  EXPECT_TRUE(dry.out.contains("would get a new ID3v2.3 tag, read as GBK\n  Title: "))
      << dry.out.data();
  EXPECT_TRUE(dry.out.contains(" → 发如雪\n")) << dry.out.data();
  EXPECT_EQ(ReadAll(v1), before);
  ASSERT_EQ(Tag({"convert", v1}).status, 0);
  EXPECT_EQ(file(1)["id3v2"]["fields"]["artist"], QJsonValue(QStringLiteral("周杰伦")));
  EXPECT_TRUE(Tag({"undo", "--list"}).out.contains("convert, 1 of 1 file(s) changed"));
  ASSERT_EQ(Tag({"undo"}).status, 0);
  EXPECT_EQ(ReadAll(v1), before);
}

// An MP3 file of a little audio and an ID3v1 block with these slots' bytes.
std::string BlockFile(TempDir& dir, const std::string& name, const std::string& title,
                      const std::string& artist) {
  TIDmp3 v1;
  v1.Title = title;
  v1.Artist = artist;
  const TagBlock block = EncodeBlock(v1);
  testfiles::Bytes bytes(block.begin(), block.end());
  bytes.insert(bytes.begin(), 600, 0xFF);  // a little audio before the block
  const std::string path = dir.File(name);
  testfiles::WriteAll(path, bytes);
  return path;
}

TEST_F(CliTest, ConvertShowsEachReadingAndLeavesACloseCallUnlessAnEncodingIsGiven) {
  const std::string gbk = BlockFile(dir, "gbk.mp3", "\xB7\xA2\xC8\xE7\xD1\xA9", "Jay");
  const std::string close = BlockFile(dir, "close.mp3", "\xB0\xA1\xB0\xA2", "");
  // Garbage after a slot's first zero byte is no part of its text.
  const std::string zero = BlockFile(dir, "zero.mp3", std::string("Song\0\x81\x20junk", 11), "A");
  const auto before = ReadAll(close);

  const Result dry = Tag({"convert", "--dry-run", gbk, close, zero});
  EXPECT_EQ(dry.status, 0);
  EXPECT_TRUE(dry.out.contains("Title: ·¢ÈçÑ© → 发如雪\n")) << dry.out.data();
  EXPECT_TRUE(dry.out.contains("close.mp3: needs a look, left out: GBK")) << dry.out.data();
  EXPECT_TRUE(dry.out.contains("nothing to convert, 0 that cannot be converted, 1 need a look\n"))
      << dry.out.data();

  const QJsonObject json = Tag({"convert", "--dry-run", "--json", gbk, close, zero}).Json();
  const QJsonArray files = json["files"].toArray();
  ASSERT_EQ(files.size(), 3);
  EXPECT_EQ(files[0]["status"], QJsonValue("convert"));
  EXPECT_EQ(files[0]["encoding"], QJsonValue("GBK"));
  EXPECT_EQ(files[0]["fields"][0]["now"], QJsonValue(QStringLiteral("·¢ÈçÑ©")));
  EXPECT_EQ(files[0]["fields"][0]["after"], QJsonValue(QStringLiteral("发如雪")));
  EXPECT_EQ(files[1]["status"], QJsonValue("needsALook"));
  const QJsonArray candidates = files[1]["candidates"].toArray();
  ASSERT_GE(candidates.size(), 2);
  EXPECT_TRUE(candidates[0]["score"].isDouble());
  EXPECT_EQ(files[1]["fields"][0]["after"], QJsonValue(QStringLiteral("啊阿")));   // GBK
  EXPECT_EQ(files[1]["fields"][0]["second"], QJsonValue(QStringLiteral("陛陝")));  // Big5
  EXPECT_EQ(files[2]["status"], QJsonValue("nothing"));
  EXPECT_EQ(json["counts"]["needsALook"], QJsonValue(1));
  EXPECT_EQ(ReadAll(close), before);

  const QJsonObject shown = Tag({"show", "--json", zero, gbk}).Json();
  EXPECT_EQ(shown["files"][0]["fields"]["title"], QJsonValue("Song"));
  // show gives what players show beside our reading.
  EXPECT_EQ(shown["files"][1]["fields"]["title"], QJsonValue(QStringLiteral("发如雪")));
  EXPECT_EQ(shown["files"][1]["playersShow"]["title"], QJsonValue(QStringLiteral("·¢ÈçÑ©")));
  EXPECT_EQ(shown["files"][0]["playersShow"], QJsonValue(QJsonValue::Undefined));

  // The person's choice decides the close call.
  ASSERT_EQ(Tag({"convert", "--encoding", "big5", close}).status, 0);
  EXPECT_EQ(Tag({"show", "--json", close}).Json()["files"][0]["id3v2"]["fields"]["title"],
            QJsonValue(QStringLiteral("陛陝")));
  EXPECT_EQ(Tag({"convert", "--encoding", "klingon", close}).status, 2);
}

TEST_F(CliTest, ReasonsFollowTheLocale) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows gives a program its user's language, never one from the environment";
#endif
  // Under C every word is English: the names and tags here are ASCII, so no Chinese may appear.
  localeVariable = "LC_ALL";
  const std::string a = dir.CopyData("mp3_v11_ascii.mp3", "a.mp3");  // Some Artist - Hello Song
  dir.CopyData("mp3_untagged.mp3", "Some Artist - Hello Song.mp3");  // the name rule 1 gives a.mp3
  ASSERT_EQ(Tag({"set", "--comment", "x", a}).status, 0);
  TIDmp3 tag;  // changed since the set: its undo is refused
  ASSERT_TRUE(tag.ReadFromFile(a));
  tag.SetComment("changed since");
  ASSERT_TRUE(tag.SaveToFile(a));
  const struct {
    std::vector<std::string> args;
    const char* english;
    const char* chinese;
  } cases[] = {
      {{"rename", "--rule", "1", a},
       "a.mp3: a file of the new name exists",
       "a.mp3: 目标文件已存在"},
      {{"undo"},
       "a.mp3: the file was changed since: not undone",
       "a.mp3: 文件在此之后已被改动，未撤销"},
      {{"set", "--title", "A title far too long for its slot", a},
       "Title was cut to fit the tag: \"A title far too long for its s\"",
       "歌曲标题被截短以放进标签：“A title far too long for its s”"},
  };
  const QRegularExpression chinese(
      QStringLiteral("[\\x{3000}-\\x{303f}\\x{4e00}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
  for (const auto& c : cases) {
    const Result en = Tag(c.args, "C"), zh = Tag(c.args, "zh_CN.UTF-8");
    EXPECT_EQ(en.status, zh.status) << c.args[0];
    EXPECT_TRUE(en.err.contains(c.english)) << en.err.constData();
    EXPECT_FALSE(QString::fromUtf8(en.out + en.err).contains(chinese))
        << en.out.constData() << en.err.constData();
    EXPECT_TRUE(zh.err.contains(c.chinese)) << zh.err.constData();
  }
}

TEST_F(CliTest, TagFromNameWritesWhatEachNameGivesInOneActionThatUndoTakesBack) {
  enum Kind { kClean, kLossy, kRefused };
  const struct {
    const char* name;
    const char* fixture;
    Kind kind;
    const char* artist;
    const char* title;
    int track;
    const char* reason;  // of a lossy or refused file, in standard error
  } cases[] = {
      {"周杰伦 - 03 - 发如雪.mp3", "mp3_untagged.mp3", kClean, "周杰伦", "发如雪", 3, ""},
      // Traditional characters: GBK has them (GB2312 has not).
      {"鄧麗君 - 1 - 甜蜜蜜.mp3", "mp3_v11_ascii.mp3", kClean, "鄧麗君", "甜蜜蜜", 1, ""},
      {"邓丽君 - 4 - 月亮代表我的心.wma", "wma_ascii.wma", kClean, "邓丽君", "月亮代表我的心", 4,
       ""},
      {"A - 7 - 一二三四五六七八九十一二三四五六七八.mp3", "mp3_untagged.mp3", kLossy, "A",
       "一二三四五六七八九十一二三四五", 7, "Title was cut to fit the tag"},
      {"이소라 - 2 - Song.mp3", "mp3_untagged.mp3", kLossy, "???", "Song", 2,
       "Artist holds characters GBK lacks"},
      {"A - 300 - Far.mp3", "mp3_untagged.mp3", kRefused, "", "", 0,
       "the track must be a number from 0 to 255"},
      {"no match.wma", "wma_ascii.wma", kRefused, "", "", 0,
       "the name does not match the template"},
  };
  std::vector<testfiles::Bytes> before;
  for (const auto& c : cases) before.push_back(ReadAll(dir.CopyData(c.fixture, c.name)));
  auto entryOf = [](const QJsonArray& files, const char* name) {  // a folder lists MP3 files first
    for (const QJsonValue& file : files) {
      if (file["path"].toString().endsWith(QString::fromUtf8(name))) return file.toObject();
    }
    return QJsonObject();
  };
  auto run = [&](const char* option) {
    return Tag({"tag-from-name", "--format", "%a - %n - %t", option, dir.path()});
  };

  const Result dry = run("--dry-run");
  EXPECT_EQ(dry.out.count('\n'), 5 * 4) << dry.out.constData();     // a name and three fields each
  const QJsonArray json = run("--json").Json()["files"].toArray();  // written, as --json prints
  ASSERT_EQ(json.size(), 7);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const QJsonObject file = entryOf(json, cases[i].name);
    EXPECT_EQ(file["written"].toBool(), cases[i].kind != kRefused) << cases[i].name;
    EXPECT_EQ(file["fields"]["track"].isDouble(), cases[i].kind != kRefused) << cases[i].name;
  }
  ASSERT_EQ(Tag({"undo"}).status, 0);

  for (const bool strict : {false, true}) {
    SCOPED_TRACE(strict ? "--strict" : "plain");
    const Result r = run(strict ? "--strict" : "-r");  // -r: no subfolders, it changes nothing
    EXPECT_EQ(r.status, 1) << r.err.constData();
    EXPECT_TRUE(r.out.contains(strict ? "3 file(s) written." : "5 file(s) written."));
    const QJsonArray files = Tag({"show", "--json", dir.path()}).Json()["files"].toArray();
    for (size_t i = 0; i < std::size(cases); ++i) {
      const auto& c = cases[i];
      const QByteArray said = QByteArray(c.name) + (c.kind == kRefused ? ": "
                                                    : strict ? ": not written (--strict): "
                                                             : ": warning: ");
      EXPECT_EQ(r.err.contains(said + c.reason), c.kind != kClean) << c.name << r.err.constData();
      const bool written = c.kind == kClean || (c.kind == kLossy && !strict);
      EXPECT_EQ(ReadAll(dir.File(c.name)) != before[i], written) << c.name;
      if (!written) continue;
      const QJsonValue fields = entryOf(files, c.name)["fields"];
      EXPECT_EQ(fields["artist"].toString(), QString::fromUtf8(c.artist)) << c.name;
      EXPECT_EQ(fields["title"].toString(), QString::fromUtf8(c.title)) << c.name;
      EXPECT_EQ(fields["track"].toInt(), c.track) << c.name;
    }
    // One action: one undo puts back every byte of every file.
    ASSERT_EQ(Tag({"undo"}).status, 0);
    for (size_t i = 0; i < std::size(cases); ++i) {
      EXPECT_EQ(ReadAll(dir.File(cases[i].name)), before[i]) << cases[i].name;
    }
  }
  EXPECT_EQ(Tag({"undo"}).status, 1);  // nothing more to undo
}

// A folder path past the 260 characters of Windows' classic calls: every step of the program takes
// it all the same.
TEST_F(CliTest, AFileOnALongPathIsSetRenamedAndUndone) {
  testfiles::MakeFolder(dir.File("x"));
  testfiles::MakeFolder(dir.File("x/y"));
  dir.CopyData("mp3_v11_ascii.mp3", "x/y/a.mp3");
  const std::string inner = std::string(40, 'e'), outer = std::string(200, 'd');
  std::filesystem::rename(testfiles::Fs(dir.File("x/y")), testfiles::Fs(dir.File("x/" + inner)));
  std::filesystem::rename(testfiles::Fs(dir.File("x")), testfiles::Fs(dir.File(outer)));
  const std::string folder = dir.File(outer + "/" + inner);
  ASSERT_GT(folder.size() + 6, 260u);
  auto album = [&](const std::string& name) {
    return Tag({"show", "--json", folder + "/" + name}).Json()["files"][0]["fields"]["album"];
  };
  ASSERT_EQ(album("a.mp3").toString(), "First Album");
  ASSERT_EQ(Tag({"set", "--album", "长路径", folder}).status, 0);
  ASSERT_EQ(Tag({"rename", "--rule", "1", folder}).status, 0);
  EXPECT_EQ(platform::ListEntries(folder).files,
            std::vector<std::string>{"Some Artist - Hello Song.mp3"});
  EXPECT_EQ(album("Some Artist - Hello Song.mp3").toString(), QStringLiteral("长路径"));
  EXPECT_EQ(Tag({"undo"}).status, 0);
  EXPECT_EQ(Tag({"undo"}).status, 0);
  EXPECT_EQ(platform::ListEntries(folder).files, std::vector<std::string>{"a.mp3"});
  EXPECT_EQ(album("a.mp3").toString(), "First Album");
}
