// Real WMA files made by ffmpeg: what it wrote is read, and a save keeps the audio and the
// metadata of other names.
#include <gtest/gtest.h>

#include <algorithm>
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
