// Real WMA files made by ffmpeg: what it wrote is read, and a save keeps the audio and the
// metadata of other names.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "AsfFiles.h"
#include "TestFiles.h"
#include "tags/wma/TWmaTag.h"

using namespace asffiles;
using testfiles::ReadAll;
using testfiles::TempDir;

namespace {

bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

// The standard output of a shell command; empty when it fails.
std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[256];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    if (::pclose(pipe) != 0) out.clear();
  }
  return out;
}

}  // namespace

TEST(WmaFixture, ReadsWhatFfmpegWrote) {
  TIDwma tag;
  ASSERT_TRUE(tag.ReadFromFile(testfiles::DataFile("wma_ascii.wma")));
  EXPECT_EQ(tag.Title, u"Test Title");
  EXPECT_EQ(tag.Artist, u"Test Artist");
  EXPECT_EQ(tag.Copyright, u"(c) 2001 Test");
  EXPECT_EQ(tag.Comment, u"");  // ffmpeg writes the comment as a "Description" descriptor
  EXPECT_EQ(tag.Album, u"Test Album");
  EXPECT_EQ(tag.Year, u"2001");
  EXPECT_EQ(tag.Genre, u"Rock");
  EXPECT_EQ(tag.Track, u"7");

  ASSERT_TRUE(tag.ReadFromFile(testfiles::DataFile("wma_chinese.wma")));
  EXPECT_EQ(tag.Title, u"月亮代表我的心");
  EXPECT_EQ(tag.Artist, u"邓丽君");
  EXPECT_EQ(tag.Album, u"中文专辑");
  EXPECT_EQ(tag.Genre, u"流行");
  EXPECT_EQ(tag.Year, u"1977");
  EXPECT_EQ(tag.Track, u"3");
  EXPECT_EQ(tag.Copyright, u"");

  ASSERT_TRUE(tag.ReadFromFile(testfiles::DataFile("wma_no_metadata.wma")));
  EXPECT_EQ(tag.Title, u"");
  EXPECT_GT(tag.HeaderSize, 30);
}

TEST(WmaFixture, SavingKeepsTheAudioAndReadsBack) {
  for (const char* name : {"wma_ascii.wma", "wma_chinese.wma", "wma_no_metadata.wma"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    std::string path = dir.CopyData(name, "song.wma");
    Bytes old = ReadAll(path);
    TIDwma tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    tag.SetTitle(u"新标题 New title");
    tag.SetArtist(u"歌手");
    tag.SetAlbum(u"专辑");
    tag.SetYear(u"2024");
    tag.SetGenre(u"Pop");
    tag.SetTrack(u"12");
    ASSERT_TRUE(tag.SaveToFile(path));
    Bytes saved = ReadAll(path);
    EXPECT_EQ(AfterHeader(saved), AfterHeader(old));

    TIDwma back;
    ASSERT_TRUE(back.ReadFromFile(path));
    EXPECT_EQ(back.Title, u"新标题 New title");
    EXPECT_EQ(back.Artist, u"歌手");
    EXPECT_EQ(back.Album, u"专辑");
    EXPECT_EQ(back.Year, u"2024");
    EXPECT_EQ(back.Genre, u"Pop");
    EXPECT_EQ(back.Track, u"12");
    EXPECT_EQ(back.Copyright, tag.Copyright);

    ASSERT_TRUE(back.SaveToFile(path));
    EXPECT_EQ(ReadAll(path), saved) << "a second save with the same fields changes nothing";
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"song.wma"});
  }
}

TEST(WmaFixture, DescriptorsOfOtherNamesSurvive) {
  TempDir dir;
  std::string path = dir.CopyData("wma_ascii.wma", "song.wma");
  TIDwma tag;
  ASSERT_TRUE(tag.ReadFromFile(path));
  tag.SetGenre(u"");
  tag.SetTitle(u"Another title");
  ASSERT_TRUE(tag.SaveToFile(path));
  Bytes saved = ReadAll(path);
  Bytes header(saved.begin(), saved.begin() + long(HeaderSizeOf(saved)));
  EXPECT_TRUE(Contains(header, StringDesc(u"Description", u"ffmpeg comment").Encoded()));
  EXPECT_TRUE(Contains(header, StringDesc(u"copyright", u"(c) 2001 Test").Encoded()));
  EXPECT_TRUE(Contains(header, StringDesc(u"Author", u"Test Artist").Encoded()));
  // ffmpeg's own copy of the title follows the new one.
  EXPECT_TRUE(Contains(header, StringDesc(u"title", u"Another title").Encoded()));
  EXPECT_FALSE(Contains(header, Str(u"Test Title")));
  EXPECT_FALSE(Contains(header, Str(u"WM/Genre")));
}

TEST(WmaFixture, ValuesNotTouchedSurviveASave) {
  // wma_typed.wma: a Rating, numbers, a BOOL and bytes under field names, ffmpeg's "date". Saves
  // with a new title and artist keep every other value, as we read it and as mutagen does.
  TempDir dir;
  std::string before = dir.CopyData("wma_typed.wma", "before.wma");
  std::string path = dir.CopyData("wma_typed.wma", "song.wma");
  TIDwma tag;
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_TRUE(tag.ReadFromFile(path));
    EXPECT_EQ(tag.Year + u"," + tag.Track + u"," + tag.EncodedBy + u"," + tag.Url,
              u"2005,4,12,1234567890123");
    EXPECT_EQ(tag.Genre + tag.Lyrics, u"");  // a BOOL and bytes are not shown
    tag.SetTitle(u"新标题");
    tag.SetArtist(u"歌手");
    ASSERT_TRUE(tag.SaveToFile(path));
  }
  const std::string compare = testfiles::DataFile("../tags/wma/mutagen_listing.py") + " " + before +
                              " " + path + " --changed Title --changed title --changed Author";
  const int status = std::system(compare.c_str());
  if (WIFEXITED(status) && WEXITSTATUS(status) == 2) GTEST_SKIP() << "mutagen is missing";
  EXPECT_EQ(status, 0) << compare;
}

TEST(WmaFixture, OtherReadersStepOverThePadding) {
  // ffprobe (ffmpeg) and mutagen read the title and the audio of a header that ends in a Padding
  // Object: one written in the old header's room, one grown with room to spare.
  if (Output("command -v ffprobe && /usr/bin/python3 -c 'import mutagen.asf'").empty()) {
    GTEST_SKIP() << "ffprobe or /usr/bin/python3 with mutagen is missing";
  }
  for (const std::u16string title : {u"Short", u"A title too long for the header's old room"}) {
    TempDir dir;
    const std::string path = dir.CopyData("wma_ascii.wma", "song.wma");
    TIDwma tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    tag.SetTitle(title);
    wma::SavePlan plan;
    ASSERT_TRUE(tag.PlanSave(path, plan));
    ASSERT_TRUE(plan.InPlace() ? wma::WriteHeaderInPlace(path, plan)
                               : wma::ReplaceFile(path, plan));
    ASSERT_LT(WithoutPadding(ReadAll(path)).size(), ReadAll(path).size()) << "padded";
    const std::string text(title.begin(), title.end());
    EXPECT_EQ(Output("ffprobe -v error -show_entries format_tags=title:stream=codec_name "
                     "-of default=nw=1 '" +
                     path + "'"),
              "codec_name=wmav2\nTAG:title=" + text + "\n");
    EXPECT_EQ(
        Output("/usr/bin/python3 -c 'import mutagen.asf, sys; f = mutagen.asf.ASF(sys.argv[1]); "
               "print(f[\"Title\"][0], round(f.info.length))' '" +
               path + "'"),
        text + " 1\n");
  }
}

TEST(WmaFixture, AGrownHeaderKeepsTheFileSizeAndTheDuration) {
  // The File Properties Object's File Size moves with the file's size (mutagen left
  // wma_typed.wma's behind, and it stays as far behind); ffmpeg works out the duration from it.
  if (Output("command -v ffprobe").empty()) GTEST_SKIP() << "ffprobe is missing";
  for (const char* name : {"wma_ascii.wma", "wma_chinese.wma", "wma_no_metadata.wma",
                           "wma_typed.wma", "ui_song.wma", "ui_plain.wma"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    const std::string path = dir.CopyData(name, "song.wma");
    const std::string duration =
        "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'";
    const std::string before = Output(duration);
    const auto fileSizeField = [](const Bytes& file) {
      const auto at =
          std::search(file.begin(), file.end(), kFilePropertiesId.begin(), kFilePropertiesId.end());
      uint64_t value = 0;
      for (int i = 7; at != file.end() && i >= 0; --i) value = (value << 8) | at[40 + i];
      return int64_t(value);
    };
    const Bytes old = ReadAll(path);
    TIDwma tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    tag.SetTitle(std::u16string(300, u'长'));
    wma::SavePlan plan;
    ASSERT_TRUE(tag.PlanSave(path, plan));
    ASSERT_FALSE(plan.InPlace());
    ASSERT_TRUE(wma::ReplaceFile(path, plan));
    const Bytes saved = ReadAll(path);
    EXPECT_EQ(fileSizeField(saved) - fileSizeField(old), int64_t(saved.size() - old.size()));
    EXPECT_EQ(Output(duration), before);
  }
}
