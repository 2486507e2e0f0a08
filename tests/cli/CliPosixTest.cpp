// velomi-tag where POSIX systems differ: names whose bytes are not UTF-8, and a save killed in a
// child made by fork().
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

}  // namespace
