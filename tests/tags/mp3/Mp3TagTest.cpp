#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "TestFiles.h"
#include "platform/FaultInjection.h"
#include "tags/mp3/TMp3Tag.h"

namespace {

using testfiles::Bytes;
using testfiles::ReadAll;
using testfiles::TempDir;

// A block with the magic, the given track bytes at 125/126 and the comment slot filled with 'c'.
TagBlock BlockWith(uint8_t b125, uint8_t b126) {
  TagBlock b{};
  b[0] = 'T';
  b[1] = 'A';
  b[2] = 'G';
  for (size_t i = 97; i < 125; ++i) b[i] = 'c';
  b[125] = b125;
  b[126] = b126;
  b[127] = 200;
  return b;
}

TIDmp3 Decoded(const TagBlock& b) {
  TIDmp3 t;
  DecodeBlock(b, t);
  return t;
}

Bytes Audio(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(0xFF - i % 7);
  return b;
}

Bytes Tail(const Bytes& b) { return Bytes(b.end() - 128, b.end()); }

TEST(Id3v1Block, VersionRuleAndTrackByte) {
  struct Case {
    uint8_t b125, b126, version, track;
    size_t commentLength;
  } cases[] = {
      {0x00, 0x07, 2, 7, 28},   // ID3v1.1, track 7
      {0x20, 0x41, 2, 65, 28},  // a space and "A": ID3v1.1 with track 65
      {0x20, 0x20, 1, 0, 28},   // both spaces: ID3v1.0, all 30 bytes taken, the spaces trimmed
      {0x00, 0x00, 1, 0, 28},   // both zero: ID3v1.0, trailing zeros trimmed
      {0x20, 0x00, 2, 0, 28},   // ID3v1.1 whose track byte is 0
      {'x', 0x00, 1, 0, 29},    // any other byte 125: ID3v1.0, whatever byte 126 holds
      {'x', 'y', 1, 0, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.b125) << "/" << int(c.b126));
    TagBlock b = BlockWith(c.b125, c.b126);
    EXPECT_EQ(DetectVersion(b), c.version);
    TIDmp3 t = Decoded(b);
    EXPECT_EQ(t.TagVersion, c.version);
    EXPECT_EQ(t.Track, c.track);
    EXPECT_EQ(t.Comment.size(), c.commentLength);
    EXPECT_EQ(t.GenreID, 200);
  }
}

TEST(Id3v1Block, DecodingTrimsTrailingBlanksOnly) {
  TagBlock b = BlockWith(0, 0);
  const char spaced[] = "Title   ";
  std::memcpy(b.data() + 3, spaced, 8);
  std::memset(b.data() + 11, ' ', 22);  // space padding to the slot's end
  const uint8_t inner[] = {'A', 'B', 0, 'C'};
  std::memcpy(b.data() + 33, inner, 4);  // zero padding, with a zero byte inside the text
  const uint8_t controls[] = {' ', ' ', 'x', 0x09, 0x1F, 0x0A};
  std::memcpy(b.data() + 63, controls, sizeof controls);
  std::memcpy(b.data() + 93, "99 \x01", 4);
  TIDmp3 t = Decoded(b);
  EXPECT_EQ(t.Title, "Title");
  EXPECT_EQ(t.Artist, std::string("AB\0C", 4));
  EXPECT_EQ(t.Album, "  x");  // leading blanks stay
  EXPECT_EQ(t.Year, "99");
}

TEST(Id3v1Block, EncodingLayout) {
  TIDmp3 t;
  t.SetTitle("T");
  t.SetArtist("Ar");
  t.SetAlbum("Al");
  t.SetYear("1999");
  t.SetComment(std::string(30, 'k'));
  t.SetGenreID(254);
  TagBlock b = EncodeBlock(t);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "TAGT");
  EXPECT_EQ(b[4], 0);  // the rest of each slot is zero
  EXPECT_EQ(std::string(b.begin() + 33, b.begin() + 36), std::string("Ar\0", 3));
  EXPECT_EQ(std::string(b.begin() + 93, b.begin() + 97), "1999");
  EXPECT_EQ(b[125], 'k');  // track 0 leaves the comment's last bytes in place
  EXPECT_EQ(b[126], 'k');
  EXPECT_EQ(b[127], 254);

  t.SetTrack(3);  // a track overwrites the comment's 29th and 30th bytes
  b = EncodeBlock(t);
  EXPECT_EQ(b[125], 0);
  EXPECT_EQ(b[126], 3);
  EXPECT_EQ(Decoded(b).Comment, std::string(28, 'k'));
}

TEST(Id3v1Block, CommentEndsDecideTheVersionWhenThereIsNoTrack) {
  TIDmp3 t;
  t.SetComment(std::string(28, 'k') + "m");  // 29 bytes, track 0
  TagBlock b = EncodeBlock(t);
  EXPECT_EQ(b[125], 'm');
  EXPECT_EQ(b[126], 0);
  EXPECT_EQ(Decoded(b).TagVersion, 1);
  EXPECT_EQ(Decoded(b).Comment, t.Comment);

  t.SetComment(std::string(28, 'k') + " Z");  // a space then a letter reads back as ID3v1.1
  b = EncodeBlock(t);
  TIDmp3 back = Decoded(b);
  EXPECT_EQ(back.TagVersion, 2);
  EXPECT_EQ(back.Track, 'Z');
  EXPECT_EQ(back.Comment, std::string(28, 'k'));
}

TEST(Id3v1Block, MagicIsCaseSensitive) {
  TagBlock b = BlockWith(0, 0);
  EXPECT_TRUE(IsTagBlock(b));
  b[0] = 't';
  b[1] = 'a';
  b[2] = 'g';
  EXPECT_FALSE(IsTagBlock(b));
}

TEST(GenreTable, MatchesId3libApartFromTheHistoricSpellings) {
  std::ifstream in(testfiles::DataFile("id3v2_genres.txt"));
  std::string line;
  size_t index = 0;
  while (std::getline(in, line)) {
    std::string name = line.substr(line.find(':') + 2);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    ASSERT_LT(index, ID3Genres.size());
    switch (index) {  // the table keeps the names as the original Winamp list spells them
      case 67:
        EXPECT_EQ(ID3Genres[index], "Psychadelic");
        break;
      case 92:
        EXPECT_EQ(ID3Genres[index], "Progessive Rock");
        break;
      case 132:
        EXPECT_EQ(ID3Genres[index], "BritPop");
        break;
      case 144:
        EXPECT_EQ(ID3Genres[index], "Trash Metal");
        break;
      default:
        EXPECT_EQ(ID3Genres[index], name) << "genre " << index;
    }
    ++index;
  }
  EXPECT_EQ(index, 148u);
}

TEST(Mp3TagObject, SettersTrimThenCutInBytes) {
  TIDmp3 t;
  t.SetYear("20015");
  EXPECT_EQ(t.Year, "2001");
  t.SetYear("01  ");
  EXPECT_EQ(t.Year, "01");
  t.SetTitle("  hi  ");
  EXPECT_EQ(t.Title, "  hi");
  t.SetTitle(std::string(29, 'a') + " b");  // 31 bytes, the 30th a space: the cut keeps it
  EXPECT_EQ(t.Title, std::string(29, 'a') + " ");
  t.SetTitle(" \t\r\n");
  EXPECT_EQ(t.Title, "");
  // 14 GBK characters (28 bytes), then one more: the cut at 30 bytes splits no character, but 15
  // characters and an ASCII letter in front split the last one and leave its lead byte alone.
  std::string gbk;
  for (int i = 0; i < 15; ++i) gbk += "\xB7\xA2";
  t.SetArtist("x" + gbk);
  EXPECT_EQ(t.Artist.size(), 30u);
  EXPECT_EQ(static_cast<uint8_t>(t.Artist.back()), 0xB7);
  t.SetGenreID(254);
  t.SetTrack(255);
  EXPECT_EQ(t.GenreID, 254);
  EXPECT_EQ(t.Track, 255);
  t.Clear();
  EXPECT_EQ(t.Artist, "");
  EXPECT_EQ(t.GenreID, 255);
  EXPECT_EQ(t.TagVersion, 1);
  EXPECT_FALSE(t.HasTag);
}

TEST(Mp3TagObject, ReadsFilesTaggedById3v2) {
  TIDmp3 t;
  ASSERT_TRUE(t.ReadFromFile(testfiles::DataFile("mp3_v11_ascii.mp3")));
  EXPECT_TRUE(t.HasTag);
  EXPECT_EQ(t.TagVersion, 2);
  EXPECT_EQ(t.Title, "Hello Song");
  EXPECT_EQ(t.Artist, "Some Artist");
  EXPECT_EQ(t.Album, "First Album");
  EXPECT_EQ(t.Year, "2001");
  EXPECT_EQ(t.Comment, "a comment");
  EXPECT_EQ(t.Track, 7);
  EXPECT_EQ(t.GenreID, 17);

  ASSERT_TRUE(t.ReadFromFile(testfiles::DataFile("mp3_v11_gbk.mp3")));
  EXPECT_EQ(t.Title, "\xB7\xA2\xC8\xE7\xD1\xA9");  // 发如雪 in GBK
  EXPECT_EQ(t.Artist, "\xD6\xDC\xBD\xDC\xC2\xD7");
  EXPECT_EQ(t.Album.size(), 12u);
  EXPECT_EQ(t.Track, 3);
  EXPECT_EQ(t.GenreID, 13);
  EXPECT_EQ(t.Comment, "");  // nothing of the earlier file survives

  ASSERT_TRUE(t.ReadFromFile(testfiles::DataFile("mp3_v10_long.mp3")));
  EXPECT_EQ(t.TagVersion, 1);
  EXPECT_EQ(t.Title, "A title that is longer than th");
  EXPECT_EQ(t.Comment, "A comment of exactly thirty b.");
  EXPECT_EQ(t.Track, 0);
  EXPECT_EQ(t.GenreID, 80);

  ASSERT_TRUE(t.ReadFromFile(testfiles::DataFile("mp3_untagged.mp3")));
  EXPECT_FALSE(t.HasTag);
  EXPECT_EQ(t.Title, "");
  EXPECT_EQ(t.GenreID, 255);
}

TEST(Mp3TagObject, UnreadablePathsGiveFalseAndEmptyFields) {
  TempDir dir;
  TIDmp3 t;
  t.SetTitle("stale");
  EXPECT_FALSE(t.ReadFromFile(dir.File("missing.mp3")));
  EXPECT_EQ(t.Title, "");
  EXPECT_EQ(t.GenreID, 255);
  EXPECT_FALSE(t.ReadFromFile(dir.path()));  // a folder
  std::string shortFile = dir.Write("short.mp3", Bytes(127, 'T'));
  EXPECT_FALSE(t.ReadFromFile(shortFile));
  t.SetTitle("x");
  EXPECT_FALSE(t.SaveToFile(shortFile));
  EXPECT_FALSE(t.SaveToFile(dir.File("missing.mp3")));
  EXPECT_FALSE(t.SaveToFile(dir.path()));
  EXPECT_FALSE(t.RemoveFromFile(shortFile));
  EXPECT_EQ(ReadAll(shortFile), Bytes(127, 'T'));
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"short.mp3"});  // nothing was created
}

TEST(Mp3TagObject, SaveAppendsOnceThenReplacesInPlace) {
  TempDir dir;
  const Bytes audio = Audio(1000);
  std::string path = dir.Write("a.mp3", audio);
  TIDmp3 t;
  t.SetTitle("New");
  t.SetTrack(9);
  t.SetGenreID(0);
  ASSERT_TRUE(t.SaveToFile(path));
  Bytes once = ReadAll(path);
  ASSERT_EQ(once.size(), 1128u);
  EXPECT_EQ(Bytes(once.begin(), once.begin() + 1000), audio);
  TagBlock expected = EncodeBlock(t);
  EXPECT_EQ(Tail(once), Bytes(expected.begin(), expected.end()));

  t.SetTitle("Newer");
  ASSERT_TRUE(t.SaveToFile(path));  // the second save replaces the block: no growth
  Bytes twice = ReadAll(path);
  ASSERT_EQ(twice.size(), 1128u);
  EXPECT_EQ(Bytes(twice.begin(), twice.begin() + 1000), audio);
  TIDmp3 back;
  ASSERT_TRUE(back.ReadFromFile(path));
  EXPECT_EQ(back.Title, "Newer");
  EXPECT_EQ(back.Track, 9);
  EXPECT_EQ(back.GenreID, 0);

  ASSERT_TRUE(back.RemoveFromFile(path));
  EXPECT_EQ(ReadAll(path), audio);
  ASSERT_TRUE(back.RemoveFromFile(path));  // no tag: untouched, true
  EXPECT_EQ(ReadAll(path), audio);
}

TEST(Mp3TagObject, ReadAndSaveAgainNormalisesTheBlock) {
  TempDir dir;
  // Space padding and a v1.1 tag with a zero track byte: read back and saved unchanged, the
  // slots come back zero-padded and the tag comes back as ID3v1.0 with its 28-byte comment.
  TagBlock b = BlockWith(0x20, 0x00);
  std::memset(b.data() + 3, ' ', 30);
  std::memcpy(b.data() + 3, "Song", 4);
  Bytes bytes = Audio(300);
  bytes.insert(bytes.end(), b.begin(), b.end());
  std::string path = dir.Write("v.mp3", bytes);
  TIDmp3 t;
  ASSERT_TRUE(t.ReadFromFile(path));
  EXPECT_EQ(t.TagVersion, 2);
  EXPECT_EQ(t.Track, 0);
  ASSERT_TRUE(t.SaveToFile(path));
  Bytes after = ReadAll(path);
  ASSERT_EQ(after.size(), bytes.size());
  const Bytes block = Tail(after);
  EXPECT_EQ(block[3 + 4], 0);
  EXPECT_EQ(block[125], 0);
  EXPECT_EQ(block[127], 200);  // the nameless genre 200 is kept
  TIDmp3 back;
  ASSERT_TRUE(back.ReadFromFile(path));
  EXPECT_EQ(back.TagVersion, 1);
  EXPECT_EQ(back.Comment, std::string(28, 'c'));
}

TEST(Mp3TagObject, FileThatIsAllTagBecomesTheNewBlock) {
  TempDir dir;
  TagBlock old = BlockWith(0, 5);
  std::string path = dir.Write("t.mp3", Bytes(old.begin(), old.end()));
  TIDmp3 t;
  ASSERT_TRUE(t.ReadFromFile(path));
  EXPECT_EQ(t.Track, 5);
  t.SetTitle("Only");
  ASSERT_TRUE(t.SaveToFile(path));
  TagBlock fresh = EncodeBlock(t);
  EXPECT_EQ(ReadAll(path), Bytes(fresh.begin(), fresh.end()));
}

TEST(Mp3TagObject, FailedWriteLeavesTheFileAsItWas) {
  TempDir dir;
  TIDmp3 t;
  t.SetTitle("Never written");
  // The disk has room for less than a block; the write stops after 100 bytes (a pulled stick
  // that comes back), which leaves half a block on the disk for the save to take back; the flush
  // to the disk fails after a whole block was written.
  enum Fault { kFull, kPartial, kFlush };
  for (Fault fault : {kFull, kPartial, kFlush}) {
    for (const char* fixture : {"mp3_untagged.mp3", "mp3_v11_gbk.mp3"}) {
      SCOPED_TRACE(std::string(fixture) + " fault " + std::to_string(fault));
      std::string path = dir.CopyData(fixture, "f.mp3");
      const Bytes before = ReadAll(path);
      if (fault == kFlush) {
        platform::fault::FailSyncs(EIO);
      } else {
        platform::fault::FailWritesAfter(100, EIO,
                                         fault == kFull
                                             ? platform::fault::WriteFailure::kWhole
                                             : platform::fault::WriteFailure::kPartialOnce);
      }
      EXPECT_FALSE(t.SaveToFile(path));
      platform::fault::Reset();
      EXPECT_EQ(ReadAll(path), before);
    }
  }
}

}  // namespace
