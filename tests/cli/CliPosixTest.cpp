// velomi-tag where POSIX systems differ: names whose bytes are not UTF-8, and a save killed in a
// child made by fork().
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>

#include "CliTest.h"
#include "core/Batch.h"
#include "core/journal/Journal.h"
#include "tags/wma/TWmaTag.h"

using clitest::CliTest;
using clitest::Result;
using testfiles::ReadAll;

namespace {

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

TEST_F(CliTest, AListOfNulSeparatedNamesKeepsTheirBytesAndIsOneAction) {
  const std::string gbk = "\xB8\xE8.mp3";  // GBK for 歌
  dir.CopyData("mp3_v11_ascii.mp3", gbk);
  dir.CopyData("wma_chinese.wma", "b.wma");
  const std::string list = dir.path() + "/" + gbk + '\0' + dir.File("b.wma") + '\0';
  const std::string listFile = state.Write("list", testfiles::FromString(list));
  const Result r = Tag({"rename", "--rule", "3", "--files-from", listFile, "-0"});
  ASSERT_EQ(r.status, 0) << r.err.constData();
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"Some Artist - (0)Hello Song.mp3",
                                                   "邓丽君 - (1)月亮代表我的心.wma"}));
  EXPECT_EQ(Tag({"undo"}).status, 0);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"b.wma", gbk}));
  // Lines, from standard input, a CR before each LF.
  QProcess p;
  p.start(QStringLiteral(VELOMI_TAG), {"show", "--json", "--files-from", "-"});
  p.write(QByteArray::fromStdString(dir.File("b.wma") + "\r\n\n" + dir.File(gbk) + "\r\n"));
  p.closeWriteChannel();
  p.waitForFinished(60000);
  const QJsonArray files = QJsonDocument::fromJson(p.readAllStandardOutput())["files"].toArray();
  ASSERT_EQ(files.size(), 2);
  EXPECT_EQ(files[1]["fields"]["title"].toString(), "Hello Song");
}

// A list with no end, or longer than any library, is refused as a usage error before anything is
// done, instead of growing until the memory runs out.
TEST_F(CliTest, AnEndlessOrHugeListIsRefused) {
  std::string many;
  for (int i = 0; i <= 1000000; ++i) many += "x\n";
  const std::string manyFile = state.Write("many", testfiles::FromString(many));
  struct Case {
    std::vector<std::string> args;
    const char* reason;
  };
  for (const Case& c : {Case{{"--files-from", "/dev/zero", "-0"}, "longer than 128 MiB"},
                        Case{{"--files-from", "/dev/zero"}, "longer than 128 MiB"},
                        Case{{"--files-from", manyFile}, "names more than 1000000 paths"}}) {
    std::vector<std::string> args = {"show"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.args[1]);
    const Result r = Tag(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.indexOf(c.reason), -1) << r.err.constData();
  }
}

// A FIFO or a device under a song's name is no song file, and the reason says what it is.
TEST_F(CliTest, AFifoOrADeviceIsNamedForWhatItIs) {
  ASSERT_EQ(::mkfifo(dir.File("pipe.mp3").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(dir.File("pipe.wma").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/null", dir.File("null.mp3").c_str()), 0);
  const struct {
    std::string path;
    const char* lang;
    const char* reason;
  } cases[] = {
      {dir.File("pipe.mp3"), "C.UTF-8", "it is a FIFO (named pipe), not a song file"},
      {dir.File("pipe.mp3"), "zh_CN.UTF-8", "这是一个命名管道（FIFO），不是歌曲文件"},
      {dir.File("null.mp3"), "C.UTF-8", "it is a device, not a song file"},
      {dir.File("null.mp3"), "zh_CN.UTF-8", "这是一个设备，不是歌曲文件"},
      // The WMA reader's own message, which names the system's reason.
      {dir.File("pipe.wma"), "C.UTF-8", "Is a FIFO, not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + c.lang);
    const Result r = Tag({"set", "--title", "x", c.path}, c.lang);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.indexOf(c.reason), -1) << r.err.constData();
  }
}

}  // namespace

namespace {

// fix-names: a dry run prints the plan with each old name as its bytes and changes nothing; the
// run repairs files of any kind and folders as one action, which an undo from another folder
// takes back byte for byte.
TEST_F(CliTest, FixNamesRepairsFilesAndFoldersAndUndoesThemFromAnotherFolder) {
  const std::string gbk = "\xD6\xDC\xBD\xDC\xC2\xD7";   // 周杰伦
  const std::string song = "\xC6\xDF\xC0\xEF\xCF\xE3";  // 七里香
  testfiles::MakeFolder(dir.File(gbk));
  dir.Write(gbk + "/" + song + ".mp3", testfiles::FromString("\xFF\xFB song"));
  dir.Write(gbk + "/" + song + ".lrc", testfiles::FromString("lyrics"));
  dir.Write("Beyoncé - Halo.mp3", testfiles::FromString("\xFF\xFB halo"));
  const auto names = [&] { return dir.Names(); };
  const std::vector<std::string> before = names();

  const Result plan = Tag({"fix-names", "-r", "--dry-run", dir.path()});
  EXPECT_EQ(plan.status, 0) << plan.err.constData();
  EXPECT_NE(plan.out.indexOf("/\\xd6\\xdc\\xbd\\xdc\\xc2\\xd7/ → 周杰伦  (GBK)"), -1)
      << plan.out.constData();
  EXPECT_NE(plan.out.indexOf("\\xc6\\xdf\\xc0\\xef\\xcf\\xe3.lrc → 七里香.lrc  (GBK)"), -1);
  EXPECT_EQ(names(), before);
  EXPECT_EQ(Tag({"fix-names", "--encoding", "latin-9", dir.path()}).status, 2);

  const Result run = Tag({"fix-names", "-r", dir.path()});
  EXPECT_EQ(run.status, 0) << run.err.constData();
  EXPECT_NE(run.out.indexOf("3 name(s) repaired."), -1) << run.out.constData();
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(dir.File("周杰伦/七里香.lrc"))));
  EXPECT_NE(Tag({"undo", "--list"}).out.indexOf("name repair, 3 of 3"), -1);
  QProcess sh;
  sh.start("sh", {"-c", QStringLiteral("cd / && \"%1\" undo").arg(VELOMI_TAG)});
  sh.waitForFinished(60000);
  EXPECT_EQ(sh.exitCode(), 0) << sh.readAllStandardError().constData();
  EXPECT_EQ(names(), before);
  EXPECT_EQ(testfiles::ReadAll(dir.File(gbk + "/" + song + ".lrc")),
            testfiles::FromString("lyrics"));
}

}  // namespace
