// Saving the tag of a WMA file: the rebuilt header, what is carried over unchanged, the limits,
// and the file left as it was by every failure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AsfFiles.h"
#include "TestFiles.h"
#include "platform/FaultInjection.h"
#include "tags/wma/TWmaTag.h"

using namespace asffiles;
using testfiles::ReadAll;
using testfiles::TempDir;

namespace {

// The old header of the tests below: metadata objects among opaque ones, descriptors of every
// value type, names outside the table, a value of length 0 and a DWORD track number.
const Bytes kFileProperties = Opaque(kFilePropertiesId, 80, 1);
const Bytes kStreamProperties = Opaque(kStreamPropertiesId, 50, 2);
const std::vector<Descriptor> kOtherDescriptors = {
    StringDesc(u"Other", u"kept"),       DwordDesc(u"Custom", 0x01020304),
    {Str(u"Flag"), 2, Dword(1)},         {Str(u"Blob"), 1, Bytes{1, 2, 3}},
    {Str(u"Big"), 4, Qword(1ull << 40)}, {Str(u"Small"), 5, Word(9)},
};

Bytes OldFile() {
  std::vector<Descriptor> descriptors = {StringDesc(u"WM/Genre", u"Old genre"),
                                         DwordDesc(u"WM/TrackNumber", 3),
                                         {Str(u"Empty"), 0, Bytes{}}};
  descriptors.insert(descriptors.begin() + 1, kOtherDescriptors.begin(), kOtherDescriptors.end());
  return File({kFileProperties, Content(u"Old title", u"Old artist", u"", u"", u"Rating"),
               Extended(descriptors), kStreamProperties});
}

// Saves `tag` into a copy of `file` and gives the new content; `ok` is SaveToFile's result.
Bytes SaveCopy(TIDwma& tag, const Bytes& file, bool* ok = nullptr) {
  TempDir dir;
  std::string path = dir.Write("a.wma", file);
  bool saved = tag.SaveToFile(path);
  if (ok) *ok = saved;
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"a.wma"}) << "no temporary file is left";
  return ReadAll(path);
}

TIDwma ReadImage(const Bytes& file) {
  TIDwma tag;
  EXPECT_TRUE(wma::ReadFromImage(tag, file.data(), file.size()));
  return tag;
}

}  // namespace

TEST(WmaSave, RebuildsTheMetadataAndCopiesEverythingElse) {
  // As a batch edit does: read, change some fields, save.
  Bytes old = OldFile();
  TIDwma tag = ReadImage(old);
  ASSERT_EQ(tag.Track, u"3");
  tag.SetTitle(u"New title");
  tag.SetComment(u"Note");
  tag.SetAlbum(u"Album");
  tag.SetGenre(u"");  // emptying a field removes its attribute
  tag.SetVersion(u"12.0");
  bool ok = false;
  Bytes saved = SaveCopy(tag, old, &ok);
  ASSERT_TRUE(ok);

  // The new Content Description Object first, then the old children in order with the Extended
  // Content Description Object rebuilt in its place: own attributes in table order (the DWORD
  // track number now a string), then the other descriptors, type and bytes unchanged. The old
  // Rating is carried over; the value of length 0 and the emptied genre are gone.
  std::vector<Descriptor> rebuilt = {StringDesc(u"WM/AlbumTitle", u"Album"),
                                     StringDesc(u"WMFSDKVersion", u"12.0"),
                                     StringDesc(u"WM/TrackNumber", u"3")};
  rebuilt.insert(rebuilt.end(), kOtherDescriptors.begin(), kOtherDescriptors.end());
  Bytes expected = Header({Content(u"New title", u"Old artist", u"", u"Note", u"Rating"),
                           kFileProperties, Extended(rebuilt), kStreamProperties}) +
                   AfterHeader(old);
  EXPECT_EQ(WithoutPadding(saved), expected);
  EXPECT_EQ(tag.HeaderSize, int64_t(HeaderSizeOf(old)));

  // Reading the result gives the fields back, and saving it again changes nothing.
  TIDwma again = ReadImage(saved);
  EXPECT_EQ(again.Title, u"New title");
  EXPECT_EQ(again.Artist, u"Old artist");
  EXPECT_EQ(again.Comment, u"Note");
  EXPECT_EQ(again.Album, u"Album");
  EXPECT_EQ(again.Genre, u"");
  EXPECT_EQ(again.Track, u"3");
  EXPECT_EQ(SaveCopy(again, saved), saved);
}

TEST(WmaSave, EmptyFieldsGiveTheSmallestObjects) {
  TIDwma tag;
  Bytes saved =
      WithoutPadding(SaveCopy(tag, File({Content(u"T", u"A"), Extended({}), kFileProperties})));
  // The Content Description Object: 34 bytes, five zero lengths; the Extended one: 26 bytes.
  Bytes content = IdBytes(ContentDescriptionObjectId) + Qword(34) + Bytes(10, 0);
  Bytes extended = IdBytes(ExtendedContentDescriptionObjectId) + Qword(26) + Word(0);
  EXPECT_EQ(Bytes(saved.begin(), saved.begin() + 30 + 34 + 26),
            HeaderStart(30 + 34 + 26 + kFileProperties.size(), 3) + content + extended);

  // A title of the two letters A and b: lengths 6, 0, 0, 0, 0, the string, Object Size 40.
  tag.SetTitle(u"Ab");
  saved = SaveCopy(tag, File({Content(u"T", u"A")}));
  Bytes title =
      IdBytes(ContentDescriptionObjectId) +
      Bytes{40, 0, 0, 0, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x41, 0, 0x62, 0, 0, 0};
  EXPECT_EQ(Bytes(saved.begin() + 30, saved.begin() + 70), title);
}

TEST(WmaSave, AHeaderWithoutMetadataGainsBothObjects) {
  // Without an Extended Content Description Object, one is added right after the new Content
  // Description Object, so that album, year, genre and track are stored, and it is counted.
  TIDwma tag;
  tag.SetTitle(u"Title");
  tag.SetAlbum(u"Album");
  tag.SetYear(u"1999");
  tag.SetTrack(u"2");
  Bytes old = File({kFileProperties, kStreamProperties});
  bool ok = false;
  Bytes saved = SaveCopy(tag, old, &ok);
  ASSERT_TRUE(ok);
  Bytes extended = Extended({StringDesc(u"WM/AlbumTitle", u"Album"),
                             StringDesc(u"WM/Year", u"1999"), StringDesc(u"WM/TrackNumber", u"2")});
  EXPECT_EQ(WithoutPadding(saved),
            Header({Content(u"Title", u""), extended, kFileProperties, kStreamProperties}) +
                AfterHeader(old));
  TIDwma back = ReadImage(saved);
  EXPECT_EQ(back.Album, u"Album");
  EXPECT_EQ(back.Year, u"1999");
  EXPECT_EQ(back.Track, u"2");
  EXPECT_EQ(SaveCopy(back, saved), saved);
}

TEST(WmaSave, SeveralMetadataObjectsOfOneKind) {
  // Two Content Description Objects become one, placed first; each Extended Content Description
  // Object is rebuilt where it stood, with the tag's own attributes in each.
  Bytes old = File({Content(u"One", u"A"), kFileProperties, Content(u"Two", u"B"),
                    Extended({StringDesc(u"First", u"1")}),
                    Extended({StringDesc(u"WM/Genre", u"x"), StringDesc(u"Second", u"2")})});
  TIDwma tag = ReadImage(old);
  ASSERT_EQ(tag.Title, u"Two");
  Bytes saved = SaveCopy(tag, old);
  EXPECT_EQ(WithoutPadding(saved),
            Header({Content(u"Two", u"B"), kFileProperties,
                    Extended({StringDesc(u"WM/Genre", u"x"), StringDesc(u"First", u"1")}),
                    Extended({StringDesc(u"WM/Genre", u"x"), StringDesc(u"Second", u"2")})}) +
                AfterHeader(old));
  EXPECT_EQ(SaveCopy(tag, saved), saved);
}

TEST(WmaSave, CarriedDescriptorsKeepTheirExactBytes) {
  // Odd lengths are carried as they stand; a name of no bytes becomes a lone NUL unit.
  Descriptor oddName{Units(u"Odd") + Bytes{0}, 0, Units(u"v") + Bytes{0x7F}};
  Descriptor noName{Bytes{}, 1, Bytes{5, 6}};
  Descriptor oddTableName{Units(u"WM/Genre") + Bytes{0}, 0, Str(u"dropped: a table name")};
  Bytes old = File({Extended({oddName, noName, oddTableName})});
  TIDwma tag;
  Bytes saved = SaveCopy(tag, old);
  Descriptor lonelyNul{Word(0), 1, Bytes{5, 6}};
  EXPECT_EQ(WithoutPadding(saved),
            Header({Content(u"", u""), Extended({oddName, lonelyNul})}) + AfterHeader(old));
}

TEST(WmaSave, CopiesOfTheContentStringsFollowTheNewText) {
  // ffmpeg keeps the title, author, copyright and description as descriptors too, and lets them
  // win over the Content Description Object when it reads: a stale copy would hide the new text.
  // A string copy takes the field's new text; an empty field or a copy of another type leaves it.
  Bytes old =
      File({Content(u"Old", u"Old artist"), Extended({StringDesc(u"title", u"Old"),
                                                      StringDesc(u"Author", u"Old artist"),
                                                      {Str(u"COPYRIGHT"), 1, Bytes{1, 2}},
                                                      StringDesc(u"Description", u"only here"),
                                                      StringDesc(u"Titles", u"not a copy")})});
  TIDwma tag = ReadImage(old);
  tag.SetTitle(u"New");
  tag.SetArtist(u"New artist");
  tag.SetCopyright(u"(c)");
  Bytes saved = SaveCopy(tag, old);
  EXPECT_EQ(WithoutPadding(saved), Header({Content(u"New", u"New artist", u"(c)"),
                                           Extended({StringDesc(u"title", u"New"),
                                                     StringDesc(u"Author", u"New artist"),
                                                     {Str(u"COPYRIGHT"), 1, Bytes{1, 2}},
                                                     StringDesc(u"Description", u"only here"),
                                                     StringDesc(u"Titles", u"not a copy")})}) +
                                       AfterHeader(old));
}

TEST(WmaSave, TypedValuesUnderFieldNamesAndTheDateCopy) {
  // A number under a field's name that still reads as the field's text keeps its type and bytes;
  // a BOOL or bytes under one stays while its field is empty; ffmpeg's "date" copy of the year
  // keeps its whole date through a save of the title and follows a new year. The Rating of the
  // last Content Description Object that has one stays.
  const Descriptor year = DwordDesc(u"WM/Year", 2005);
  const Descriptor url{Str(u"WM/URL"), 5, Word(7)};
  const Descriptor flag{Str(u"WM/Genre"), 2, Dword(1)};
  const Descriptor blob{Str(u"WM/Lyrics"), 1, Bytes{1, 2, 3}};
  const Descriptor track = DwordDesc(u"WM/TrackNumber", 4);
  const Descriptor date = StringDesc(u"date", u"2005-09-27");
  Bytes old = File({Content(u"T", u"A", u"", u"", u"3"), Content(u"", u"", u"", u"", u""),
                    Extended({year, url, flag, blob, track, date})});
  TIDwma tag = ReadImage(old);
  ASSERT_EQ(tag.Year, u"2005");
  ASSERT_EQ(tag.Url, u"7");
  ASSERT_EQ(tag.Genre, u"");
  tag.SetTitle(u"New");
  Bytes saved = SaveCopy(tag, old);
  EXPECT_EQ(WithoutPadding(saved),
            Header({Content(u"New", u"A", u"", u"", u"3"),
                    Extended({year, url, StringDesc(u"WM/TrackNumber", u"4"), flag, blob, date})}) +
                AfterHeader(old));
  EXPECT_EQ(SaveCopy(tag, saved), saved);

  tag.SetYear(u"2006");
  tag.SetUrl(u"8");
  tag.SetGenre(u"Rock");
  saved = SaveCopy(tag, old);
  EXPECT_EQ(WithoutPadding(saved),
            Header({Content(u"New", u"A", u"", u"", u"3"),
                    Extended({StringDesc(u"WM/Genre", u"Rock"), StringDesc(u"WM/Year", u"2006"),
                              StringDesc(u"WM/URL", u"8"), StringDesc(u"WM/TrackNumber", u"4"),
                              blob, StringDesc(u"date", u"2006")})}) +
                AfterHeader(old));
}

TEST(WmaSave, TextsAndCountsBeyondTheFieldsAreRefused) {
  TempDir dir;
  Bytes old = File({Content(u"T", u"A"), Extended({StringDesc(u"Other", u"o")})});
  std::string path = dir.Write("a.wma", old);

  // 32,766 units is the longest text a length can hold; one more is refused, never cut.
  TIDwma tag;
  tag.SetLyrics(std::u16string(32766, u'y'));
  tag.SetTitle(std::u16string(32766, u'z'));
  ASSERT_TRUE(tag.SaveToFile(path));
  Bytes saved = ReadAll(path);
  TIDwma back = ReadImage(saved);
  EXPECT_EQ(back.Lyrics.size(), 32766u);
  EXPECT_EQ(back.Title.size(), 32766u);
  for (auto set : {&TIDwma::SetComment, &TIDwma::SetEncodedBy, &TIDwma::SetUserUrl}) {
    TIDwma big;
    (big.*set)(std::u16string(32767, u'x'));
    EXPECT_FALSE(big.SaveToFile(path));
    EXPECT_EQ(ReadAll(path), saved);
  }

  // 65,535 descriptors is the most a count can hold.
  std::vector<Descriptor> many(65535, Descriptor{Str(u"n"), 1, Bytes{1}});
  Bytes full = File({Extended(many)});
  path = dir.Write("full.wma", full);
  TIDwma none;
  ASSERT_TRUE(none.SaveToFile(path));
  Bytes savedFull = ReadAll(path);
  EXPECT_EQ(AfterHeader(savedFull), AfterHeader(full));
  TIDwma oneMore;
  oneMore.SetGenre(u"g");
  EXPECT_FALSE(oneMore.SaveToFile(path));
  EXPECT_EQ(ReadAll(path), savedFull);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"a.wma", "full.wma"}));
}

TEST(WmaSave, FilesItCannotHandleAreLeftAlone) {
  TempDir dir;
  Bytes mp3 = Payload(400);
  Bytes broken = Header({Content(u"T", u"A"), IdBytes(kFilePropertiesId) + Qword(10)}) + Payload();
  Bytes beyond = File({Content(u"T", u"A")}, Bytes{});
  beyond[16] += 1;  // the header claims one byte more than the file holds
  TIDwma tag;
  tag.SetTitle(u"New");

  std::string mp3Path = dir.Write("song.mp3", mp3);
  EXPECT_FALSE(tag.SaveToFile(mp3Path));
  EXPECT_EQ(uint64_t(tag.HeaderSize), HeaderSizeOf(mp3));  // the QWORD at offset 16, as read
  Bytes shortFile = HeaderStart(30, 0);
  shortFile.resize(23);
  EXPECT_FALSE(tag.SaveToFile(dir.Write("short.wma", shortFile)));
  EXPECT_FALSE(tag.SaveToFile(dir.File("missing.wma")));
  testfiles::MakeFolder(dir.File("folder.wma"));
  EXPECT_FALSE(tag.SaveToFile(dir.File("folder.wma")));
  for (const Bytes& file : {broken, beyond}) {
    std::string path = dir.Write("broken.wma", file);
    EXPECT_THROW(tag.SaveToFile(path), EReadError);
    EXPECT_EQ(ReadAll(path), file);
  }
  EXPECT_EQ(ReadAll(mp3Path), mp3);
  EXPECT_EQ(dir.Names(),
            (std::vector<std::string>{"broken.wma", "folder.wma", "short.wma", "song.mp3"}));
}

TEST(WmaSave, AFailingWriteLeavesTheOriginal) {
  // The disk fills up at every stage of the rewrite: the new header, the copy of the data, the
  // last byte. Each time the original stays byte for byte and no temporary file is left.
  TempDir dir;
  Bytes old = OldFile();
  std::string path = dir.Write("a.wma", old);
  TIDwma tag = ReadImage(old);
  tag.SetTitle(u"Disk full");
  Bytes expected = SaveCopy(tag, old);
  int64_t total = int64_t(expected.size());
  int64_t header = int64_t(HeaderSizeOf(expected));
  for (int64_t budget : {int64_t{0}, int64_t{1}, header - 1, header, header + 1, total - 1}) {
    SCOPED_TRACE(budget);
    platform::fault::FailWritesAfter(budget);
    bool ok = tag.SaveToFile(path);
    platform::fault::Reset();
    EXPECT_FALSE(ok);
    EXPECT_EQ(ReadAll(path), old);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"a.wma"});
  }
  platform::fault::FailWritesAfter(total);
  EXPECT_TRUE(tag.SaveToFile(path));
  platform::fault::Reset();
  EXPECT_EQ(ReadAll(path), expected);
}
