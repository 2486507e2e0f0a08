// velomi-tag run as a program on real files in temporary folders, with its journal in a temporary
// state folder.
#include <QJsonArray>
#include <chrono>
#include <filesystem>
#include <thread>

#include "CliTest.h"
#include "core/Batch.h"
#include "core/Journal.h"
#include "core/Rules.h"
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
      {{"tag-from-name", "--format", "%a - %t", a}, 2, "not yet available"},
      {{"show", "-0", a}, 2, "-0 goes with --files-from"},
      {{"show", "--files-from", dir.File("no-list")}, 2, "cannot read the list"},
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
      {{"--format", "%t [%c]"}, kNone, 1, {"a.mp3", "b.wma"}, "a.mp3: 说明为空"},
      {{"--format", "%a"}, kSameArtist, 1, {"x.mp3", "周杰伦.mp3", "邓丽君.wma"}, "x.mp3: "},
      {{"--format", "%%%t"}, kOddTitle, 1, {"%发如雪.mp3", "%月亮代表我的心.wma", "x.mp3"}, "“/”"},
      {{"--format", "%t", "--replace-with", "_"},
       kOddTitle,
       1,
       {"x.mp3", "发如雪.mp3", "月亮代表我的心.wma"},
       "“:”"},
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
