// Reading the tag of a WMA file: the header walk, the metadata objects, the text rule and the
// errors of broken headers.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "AsfFiles.h"
#include "TestFiles.h"
#include "tags/wma/AsfObjects.h"
#include "tags/wma/TWmaTag.h"

using namespace asffiles;
using testfiles::TempDir;

namespace {

// Writes `file` into a fresh temporary folder and reads it.
struct ReadResult {
  bool ok = false;
  bool raised = false;
  std::string message;
  TIDwma tag;
};

ReadResult Read(const Bytes& file) {
  TempDir dir;
  ReadResult r;
  std::string path = dir.Write("a.wma", file);
  try {
    r.ok = r.tag.ReadFromFile(path);
  } catch (const EReadError& e) {
    r.raised = true;
    r.message = e.what();
  }
  EXPECT_EQ(testfiles::ReadAll(path), file) << "reading must never write";
  // The in-memory entry point walks the same bytes the same way.
  TIDwma image;
  bool imageRaised = false;
  try {
    bool ok = wma::ReadFromImage(image, file.data(), file.size());
    EXPECT_EQ(ok, r.ok);
  } catch (const EReadError&) {
    imageRaised = true;
  }
  EXPECT_EQ(imageRaised, r.raised);
  EXPECT_EQ(image.Title, r.tag.Title);
  EXPECT_EQ(image.Genre, r.tag.Genre);
  return r;
}

void ExpectAllEmpty(const TIDwma& t) {
  for (const std::u16string* f :
       {&t.Version, &t.Title, &t.Artist, &t.Copyright, &t.Comment, &t.Album, &t.Year, &t.Genre,
        &t.Track, &t.WmTrack, &t.UserUrl, &t.Url, &t.Lyrics, &t.EncodedBy}) {
    EXPECT_TRUE(f->empty()) << std::string(f->begin(), f->end());
  }
}

}  // namespace

TEST(WmaRead, FillsEveryFieldFromBothMetadataObjects) {
  Bytes file = File({
      Opaque(kFilePropertiesId, 80, 1),
      Content(u"Title", u"Artist", u"Copyright", u"Comment", u"Rating"),
      Extended({StringDesc(u"WM/AlbumTitle", u"Album"), StringDesc(u"WM/EncodedBy", u"Enc"),
                StringDesc(u"WM/Genre", u"Genre"), StringDesc(u"WM/Lyrics", u"La la"),
                StringDesc(u"WM/Track", u"4"), StringDesc(u"WM/Year", u"2004"),
                StringDesc(u"WM/URL", u"http://a"), StringDesc(u"WM/UserWebURL", u"http://b"),
                StringDesc(u"WMFSDKVersion", u"9.00"), StringDesc(u"WM/TrackNumber", u"05"),
                StringDesc(u"WM/Composer", u"not a field")}),
      Opaque(kStreamPropertiesId, 40, 2),
  });
  ReadResult r = Read(file);
  ASSERT_TRUE(r.ok);
  const TIDwma& t = r.tag;
  EXPECT_EQ(t.HeaderSize, int64_t(HeaderSizeOf(file)));
  EXPECT_EQ(t.Title, u"Title");
  EXPECT_EQ(t.Artist, u"Artist");
  EXPECT_EQ(t.Copyright, u"Copyright");
  EXPECT_EQ(t.Comment, u"Comment");
  EXPECT_EQ(t.Album, u"Album");
  EXPECT_EQ(t.EncodedBy, u"Enc");
  EXPECT_EQ(t.Genre, u"Genre");
  EXPECT_EQ(t.Lyrics, u"La la");
  EXPECT_EQ(t.WmTrack, u"4");
  EXPECT_EQ(t.Year, u"2004");
  EXPECT_EQ(t.Url, u"http://a");
  EXPECT_EQ(t.UserUrl, u"http://b");
  EXPECT_EQ(t.Version, u"9.00");
  EXPECT_EQ(t.Track, u"05");
}

TEST(WmaRead, HeadersWithoutMetadataReadAsEmpty) {
  // Children that are not metadata, and a header with no children at all.
  for (const Bytes& file : {File({Opaque(kFilePropertiesId, 80, 1)}), File({})}) {
    ReadResult r = Read(file);
    EXPECT_TRUE(r.ok);
    EXPECT_FALSE(r.raised);
    ExpectAllEmpty(r.tag);
  }
}

TEST(WmaRead, EmptyContentStringsKeepTheWalkInStep) {
  // A lone NUL (length 2) is an empty text and leaves its field as it was; everything after it,
  // the Rating and the next object included, is read in step.
  Bytes file = File({
      ContentRaw({Str(u""), Str(u"Author"), Bytes{}, Str(u""), Str(u"R")}),
      Extended({StringDesc(u"WM/Genre", u"Pop")}),
  });
  ReadResult r = Read(file);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.tag.Title, u"");
  EXPECT_EQ(r.tag.Artist, u"Author");
  EXPECT_EQ(r.tag.Comment, u"");
  EXPECT_EQ(r.tag.Genre, u"Pop");
}

TEST(WmaRead, DwordTrackAttributesBecomeSignedDecimalText) {
  // The integer comes from a value's first four bytes; each value is consumed by its stated
  // length, so the descriptor after one of another length is read in step; fewer than four bytes
  // give no value. A DWORD of another table name gives its unsigned decimal text.
  ReadResult r = Read(File({Extended({
      {Str(u"WM/TrackNumber"), 3, Dword(12) + Word(0xFFFF) + Word(0x0041)},
      StringDesc(u"WM/Genre", u"Jazz"),
      DwordDesc(u"WM/Track", 0xFFFFFFFFu),
      {Str(u"WM/Track"), 3, Word(9)},
      {Str(u"WM/Track"), 3, Bytes{}},
      StringDesc(u"WM/AlbumTitle", u"Blue"),
      DwordDesc(u"WM/Year", 1999),
      DwordDesc(u"WM/Lyrics", 0x00410041),
  })}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.tag.Track, u"12");
  EXPECT_EQ(r.tag.Genre, u"Jazz");
  EXPECT_EQ(r.tag.WmTrack, u"-1");
  EXPECT_EQ(r.tag.Album, u"Blue");
  EXPECT_EQ(r.tag.Year, u"1999");
  EXPECT_EQ(r.tag.Lyrics, u"4259905");

  r = Read(
      File({Extended({DwordDesc(u"WM/TrackNumber", 0x80000000u), DwordDesc(u"WM/Track", 7)})}));
  EXPECT_EQ(r.tag.Track, u"-2147483648");
  EXPECT_EQ(r.tag.WmTrack, u"7");

  // A track number stored as a string keeps its units, leading zero included.
  r = Read(File({Extended({StringDesc(u"WM/TrackNumber", u"07")})}));
  EXPECT_EQ(r.tag.Track, u"07");
}

TEST(WmaRead, NumbersUnderFieldNamesGiveDecimalTextAndOtherTypesNothing) {
  Bytes file = File({Extended({
      StringDesc(u"WM/Genre", u"Pop"),
      {Str(u"WM/Genre"), 1, Units(u"AB") + Word(0x4343)},  // byte array: not shown
      {Str(u"WM/Lyrics"), 4, Qword(0x0000004300420041)},   // QWORD
      {Str(u"WM/Year"), 2, Dword(1)},                      // BOOL: not shown
      {Str(u"WM/URL"), 5, Word(0x41)},                     // WORD
      {Str(u"WM/EncodedBy"), 5, Bytes{7}},                 // a WORD of one byte: not shown
      {Str(u"WMFSDKVersion"), 6, Bytes(16, 1)},            // a GUID: not shown
  })});
  ReadResult r = Read(file);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.tag.Genre, u"Pop");
  EXPECT_EQ(r.tag.Lyrics, u"287767134273");
  EXPECT_EQ(r.tag.Year, u"");
  EXPECT_EQ(r.tag.Url, u"65");
  EXPECT_EQ(r.tag.EncodedBy, u"");
  EXPECT_EQ(r.tag.Version, u"");
}

TEST(WmaRead, LaterValuesWinAndEmptyOnesFollowTheTextRule) {
  Bytes file = File({
      Content(u"First", u"Artist"),
      Extended({StringDesc(u"WM/Genre", u"Rock"),
                StringDesc(u"WM/Genre", u"Pop"),
                StringDesc(u"WM/Year", u"1990"),
                {Str(u"WM/Year"), 0, Bytes{}},
                StringDesc(u"WM/AlbumTitle", u"Old"),
                StringDesc(u"WM/AlbumTitle", u"")}),
      Content(u"Second", u""),  // a second object: its empty strings leave the fields alone
      Extended({StringDesc(u"WM/Lyrics", u"later object")}),
  });
  ReadResult r = Read(file);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.tag.Title, u"Second");
  EXPECT_EQ(r.tag.Artist, u"Artist");
  EXPECT_EQ(r.tag.Genre, u"Pop");
  EXPECT_EQ(r.tag.Year, u"1990");  // a value of length 0 changes nothing
  EXPECT_EQ(r.tag.Album, u"");     // a lone NUL is an empty text, and it is stored
  EXPECT_EQ(r.tag.Lyrics, u"later object");
}

TEST(WmaRead, NamesMustMatchExactly) {
  Bytes file = File({Extended({
      StringDesc(u"wm/genre", u"lower"),
      StringDesc(u"WM/Genre ", u"trailing blank"),
      StringDesc(u"WM/Gen", u"short"),
      {Bytes{}, 0, Str(u"no name")},
  })});
  ReadResult r = Read(file);
  ASSERT_TRUE(r.ok);
  ExpectAllEmpty(r.tag);
}

TEST(WmaRead, OddLengthStringsGiveTheirWholeUnits) {
  // Every byte is consumed; the text is the whole units, less a final NUL unit.
  Bytes file = File({
      ContentRaw(
          {Units(u"AB") + Bytes{0}, Units(u"C") + Word(0) + Bytes{0}, Bytes{0}, Bytes{}, Bytes{}}),
      Extended({
          {Units(u"WM/Genre") + Bytes{'x'}, 0, Units(u"Soul") + Bytes{0}},
          {Str(u"WM/Year") + Bytes{0}, 0, Units(u"1971") + Word(0) + Bytes{0}},
          StringDesc(u"WM/AlbumTitle", u"in step"),
      }),
  });
  ReadResult r = Read(file);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.tag.Title, u"AB");
  EXPECT_EQ(r.tag.Artist, u"C");
  EXPECT_EQ(r.tag.Copyright, u"");
  EXPECT_EQ(r.tag.Genre, u"Soul");
  EXPECT_EQ(r.tag.Year, u"1971");
  EXPECT_EQ(r.tag.Album, u"in step");
}

TEST(WmaRead, FilesThatAreNotAsfGiveFalseAndEmptyFields) {
  TempDir dir;
  Bytes mp3 = Payload(500);
  mp3[0] = 'I';
  mp3[1] = 'D';
  mp3[2] = '3';
  // The identifier written in its text form's reading order does not match.
  Bytes swapped = File({Content(u"T", u"A")});
  swapped[0] = 0x75;
  swapped[1] = 0xB2;
  swapped[2] = 0x26;
  swapped[3] = 0x30;
  Bytes tooShort = HeaderStart(100, 0);
  tooShort.resize(23);

  TIDwma tag;
  ASSERT_TRUE(tag.ReadFromFile(dir.Write("good.wma", File({Content(u"T", u"A")}))));
  for (const Bytes& file : {mp3, swapped, tooShort, Bytes{}}) {
    EXPECT_FALSE(tag.ReadFromFile(dir.Write("x.wma", file)));
    ExpectAllEmpty(tag);
    EXPECT_EQ(tag.HeaderSize, 0);
  }
  ASSERT_TRUE(tag.ReadFromFile(dir.File("good.wma")));
  EXPECT_FALSE(tag.ReadFromFile(dir.File("missing.wma")));
  ExpectAllEmpty(tag);
  testfiles::MakeFolder(dir.File("folder.wma"));
  EXPECT_FALSE(tag.ReadFromFile(dir.File("folder.wma")));
}

TEST(WmaRead, ReadingAnotherFileForgetsTheFirst) {
  TempDir dir;
  TIDwma tag;
  ASSERT_TRUE(tag.ReadFromFile(dir.Write(
      "a.wma",
      File({Content(u"A title", u"A artist"),
            Extended({StringDesc(u"WM/Genre", u"A genre"), StringDesc(u"WM/Track", u"1")})}))));
  ASSERT_TRUE(tag.ReadFromFile(dir.Write("b.wma", File({Content(u"B title", u"")}))));
  EXPECT_EQ(tag.Title, u"B title");
  EXPECT_EQ(tag.Artist, u"");
  EXPECT_EQ(tag.Genre, u"");
  EXPECT_EQ(tag.WmTrack, u"");
}

// A header whose Object Size says `size` instead of the true one.
Bytes WithHeaderSize(Bytes file, uint64_t size) {
  Bytes q = Qword(size);
  std::copy(q.begin(), q.end(), file.begin() + 16);
  return file;
}

// Headers broken in each of the ways a damaged or hostile file can be: every one raises the read
// error, none hangs or reads out of bounds, and the fields read before the break are kept.
TEST(WmaRead, BrokenHeadersRaiseTheReadError) {
  Bytes good = Content(u"T", u"A");
  Bytes data = Payload(100);
  Bytes smallChild = IdBytes(kFilePropertiesId) + Qword(23) + Bytes(40, 0);
  Bytes zeroChild = IdBytes(kFilePropertiesId) + Qword(0) + Bytes(40, 0);
  Bytes hugeChild = IdBytes(kFilePropertiesId) + Qword(~uint64_t{0}) + Bytes(40, 0);
  Bytes longString =
      IdBytes(ContentDescriptionObjectId) + Qword(34 + 4) + Word(40) + Bytes(8, 0) + Units(u"AB");
  Bytes countTooLarge = Extended({StringDesc(u"WM/Genre", u"x")}, 2);
  Bytes valuePastObject = IdBytes(ExtendedContentDescriptionObjectId) + Qword(24 + 8) + Word(1) +
                          Word(2) + Word(0) + Word(0) + Word(100);
  Bytes withTail = Header({good, Opaque(kFilePropertiesId, 50, 3)}) + data;
  Bytes start = HeaderStart(30, 0);
  // Taken at its word, the object would end inside its own head, where an empty object (its
  // identifier starting with the Object Size's last byte) ends the header cleanly, with no texts.
  Bytes contentOf23 =
      IdBytes(ContentDescriptionObjectId) + Qword(23) + Bytes(10, 0) + Bytes(5, 0xEE) + Qword(24);

  struct Case {
    const char* what;
    Bytes file;
    bool titleKept;
  };
  std::vector<Case> cases = {
      {"child smaller than 24 bytes", Header({good, smallChild}) + data, true},
      {"child of size 0", Header({good, zeroChild}) + data, true},
      {"child of the largest size", Header({good, hugeChild}) + data, true},
      {"walk overshoots the header size", WithHeaderSize(withTail, HeaderSizeOf(withTail) - 10),
       true},
      {"head cut by the header's end", Header({good, Bytes(10, 0)}) + data, true},
      {"string past its object", Header({longString, good}) + data, false},
      {"descriptor count past its object", Header({good, countTooLarge}) + data, true},
      {"value past its object", Header({valuePastObject}) + data, false},
      {"header size below 30", WithHeaderSize(Header({}), 29) + data, false},
      {"header size negative", WithHeaderSize(Header({}), ~uint64_t{0}) + data, false},
      {"header beyond the file", WithHeaderSize(Header({good}), 30 + good.size() + 200) + data,
       false},
      {"file ends inside the first 30 bytes", Bytes(start.begin(), start.begin() + 26), false},
      {"Content Description Object of 23 bytes", Header({good, contentOf23}) + data, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReadResult r = Read(c.file);
    EXPECT_TRUE(r.raised);
    EXPECT_EQ(r.message, "Stream read error");
    EXPECT_EQ(r.tag.HeaderSize, int64_t(HeaderSizeOf(c.file)));
    EXPECT_EQ(r.tag.Title, c.titleKept ? u"T" : u"");
  }
}

// A header that claims more than the bound is refused before anything is allocated for it, on a
// sparse file whose claim is otherwise sound: every byte it claims is there.
TEST(WmaRead, HeadersAboveTheBoundAreRefused) {
  TempDir dir;
  const Bytes content = Content(u"T", u"A");
  struct Case {
    int64_t headerSize;
    bool accepted;
  };
  for (const Case& c : {Case{asf::kMaxHeaderSize, true}, Case{asf::kMaxHeaderSize + 1, false},
                        Case{int64_t{3900} << 20, false}}) {
    SCOPED_TRACE(c.headerSize);
    const uint64_t childSize = uint64_t(c.headerSize) - 30 - content.size();
    Bytes head = HeaderStart(uint64_t(c.headerSize), 2) + content + IdBytes(kFilePropertiesId) +
                 Qword(childSize);
    std::string path = dir.Write("sparse.wma", head);
    std::filesystem::resize_file(testfiles::Fs(path), c.headerSize + 4096);
    TIDwma tag;
    if (c.accepted) {
      EXPECT_TRUE(tag.ReadFromFile(path));
      EXPECT_EQ(tag.Title, u"T");
      continue;
    }
    EXPECT_THROW(tag.ReadFromFile(path), EReadError);
    EXPECT_EQ(tag.Title, u"");
    tag.SetTitle(u"New");
    EXPECT_THROW(tag.SaveToFile(path), EReadError);
    EXPECT_EQ(std::filesystem::file_size(testfiles::Fs(path)), uint64_t(c.headerSize + 4096));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"sparse.wma"});
  }
}

TEST(WmaRead, PartOfABrokenObjectIsKept) {
  // The descriptors before the broken one are stored, the rest are not.
  Bytes broken = Extended({StringDesc(u"WM/Genre", u"Kept"), StringDesc(u"WM/Year", u"2000")});
  broken.resize(broken.size() - 4);
  Bytes size = Qword(broken.size());
  std::copy(size.begin(), size.end(), broken.begin() + 16);
  ReadResult r = Read(Header({broken}) + Payload(10));
  EXPECT_TRUE(r.raised);
  EXPECT_EQ(r.tag.Genre, u"Kept");
  EXPECT_EQ(r.tag.Year, u"");
}

TEST(WmaRead, SettersDropTrailingBlanksAndControlsOnly) {
  TIDwma tag;
  tag.SetTitle(u"  Song \t\r\n");
  EXPECT_EQ(tag.Title, u"  Song");
  tag.SetArtist(u" \t ");
  EXPECT_EQ(tag.Artist, u"");
  tag.SetGenre(std::u16string(u"Pop\0\0", 5));
  EXPECT_EQ(tag.Genre, u"Pop");
  tag.SetYear(u"2001\u3000");  // an ideographic space is above 0x20 and stays
  EXPECT_EQ(tag.Year, u"2001\u3000");
}
