// The domain rules shared by the window and the command line, called directly.
#include <gtest/gtest.h>

#include "core/fields/Fields.h"
#include "core/fields/Id3v2Fields.h"
#include "core/text/Rules.h"
#include "tags/mp3/TMp3Tag.h"

using namespace rules;

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

TEST(PathRules, FolderAndFileNameSplitAtTheLastSlash) {
  EXPECT_EQ(FolderOf(U("/music/周杰伦/发如雪.mp3")), U("/music/周杰伦/"));
  EXPECT_EQ(FileNameOf(U("/music/周杰伦/发如雪.mp3")), U("发如雪.mp3"));
  EXPECT_EQ(FolderOf(U("/a.mp3")), U("/"));
  EXPECT_EQ(FileNameOf(U("/a.mp3")), U("a.mp3"));
  // A backslash or a colon is an ordinary character of a Linux file name.
  EXPECT_EQ(FileNameOf(U("/m/a\\b:c.mp3")), U("a\\b:c.mp3"));
  EXPECT_EQ(FolderOf(U("noslash.mp3")), QString());
  EXPECT_EQ(FileNameOf(U("noslash.mp3")), U("noslash.mp3"));
  EXPECT_EQ(FolderOf(U("/m/")) + FileNameOf(U("/m/")), U("/m/"));
}

TEST(PathRules, NativePathsAreShownAsUtf8ThenGbkAndKeptAsBytes) {
  // "发如雪.mp3" in GBK bytes; 0xB7 0xA2 is not UTF-8.
  const std::string gbk = "/m/\xB7\xA2\xC8\xE7\xD1\xA9.mp3";
  const struct {
    std::string bytes;
    QString shown;
  } cases[] = {
      {"/m/发如雪.mp3", U("/m/发如雪.mp3")},  // valid UTF-8 wins, also where GBK would do
      {gbk, U("/m/发如雪.mp3")},
      {"/m/\xC3\xA9", U("/m/é")},  // UTF-8, though also GBK-shaped
      {"a\xFF"
       "b",
       U("a\uFFFDb")},          // neither: a replacement mark
      {"a\xB7", U("a\uFFFD")},  // a GBK lead byte with no trail byte
      {"", QString()},
      {"/发如雪/" + gbk.substr(3) + "/\xFF", U("/发如雪/发如雪.mp3/\uFFFD")},  // name by name
  };
  for (const auto& c : cases) EXPECT_EQ(DisplayName(c.bytes), c.shown) << c.bytes;
    // A path is shown with the system's separator; inside, "/" stays.
#ifdef _WIN32
  EXPECT_EQ(ShownPath("Z:/m/" + gbk.substr(3)), U("Z:\\m\\发如雪.mp3"));
#else
  EXPECT_EQ(ShownPath(gbk + "\\x"), U("/m/发如雪.mp3\\x"));  // a backslash is a name's character
#endif

  EXPECT_EQ(NativeFolderOf(gbk), "/m/");
  EXPECT_EQ(NativeFileNameOf(gbk), "\xB7\xA2\xC8\xE7\xD1\xA9.mp3");
  EXPECT_EQ(NativeFolderOf("a.mp3"), "");
  EXPECT_EQ(NativeFileNameOf("a.mp3"), "a.mp3");

  // A drop's URL holds the name's bytes percent-encoded; the URL of a path gives them back.
  for (const std::string& path : {gbk, std::string("/m/二 三/b#c%d.wma")}) {
    EXPECT_EQ(NativePathOfUrl(FileUrlOf(path)), path);
    EXPECT_EQ(NativePathOfUrl(QUrl::fromEncoded(FileUrlOf(path).toEncoded())), path);
  }
  EXPECT_EQ(NativePathOfUrl(QUrl::fromEncoded("file:///m/%B7%A2.mp3")), "/m/\xB7\xA2.mp3");
  EXPECT_EQ(NativePathOfUrl(QUrl::fromLocalFile(U("/m/发 如.mp3"))), "/m/发 如.mp3");
  EXPECT_EQ(NativePathOfUrl(QUrl(U("http://example.com/a.mp3"))), "");
}

TEST(PathRules, FormatKeyIsTheUpperCasedExtensionCutToFourCharacters) {
  EXPECT_EQ(FormatKey(U("/m/a.mp3")), U(".MP3"));
  EXPECT_EQ(FormatKey(U("/m/a.Mp3x")), U(".MP3"));
  EXPECT_EQ(FormatKey(U("/m/a.wma")), U(".WMA"));
  EXPECT_EQ(FormatKey(U("/m/a.wav")), U(".WAV"));
  EXPECT_EQ(FormatKey(U("/m/x.y/readme")), QString());  // the dot is in a folder's name
  EXPECT_EQ(FormatKey(U("/m/readme")), QString());
  EXPECT_EQ(FormatKey(U("/m/a.")), U("."));
  EXPECT_EQ(FormatKey(U("/m/a.b.mp3")), U(".MP3"));
  EXPECT_EQ(FormatKey(U("/m/.mp3")), U(".MP3"));
  EXPECT_EQ(FormatKey(U("/m/a.mp3\\x")), U(".MP3"));  // a backslash does not end the extension
  EXPECT_EQ(FormatKey(U("/m/a.ümp3")), U(".ÜMP"));
}

TEST(PathRules, TheBatchEditComparesTheWholeExtension) {
  EXPECT_EQ(WholeExtensionKey(U("/m/a.mp3")), U(".MP3"));
  EXPECT_EQ(WholeExtensionKey(U("/m/a.Mp3x")), U(".MP3X"));
  EXPECT_EQ(WholeExtensionKey(U("/m.d/a")), QString());
}

TEST(GenreRules, EntryKPlusOneNamesGenreK) {
  EXPECT_EQ(GenreEntryOf(0), 1);
  EXPECT_EQ(GenreEntryOf(13), 14);
  EXPECT_EQ(GenreEntryOf(147), 148);
  EXPECT_EQ(GenreEntryOf(148), 0);
  EXPECT_EQ(GenreEntryOf(254), 0);
  EXPECT_EQ(GenreEntryOf(255), 0);

  EXPECT_EQ(GenreIdOfEntry(0), 255);
  EXPECT_EQ(GenreIdOfEntry(1), 0);
  EXPECT_EQ(GenreIdOfEntry(148), 147);
  EXPECT_EQ(GenreIdOfEntry(-1), 254);  // no entry chosen
  for (int genre = 0; genre < 148; ++genre) {
    EXPECT_EQ(GenreIdOfEntry(GenreEntryOf(static_cast<uint8_t>(genre))), genre);
  }
}

TEST(NumberRules, StrToIntDefReadsDecimalAndHexadecimalNumbers) {
  EXPECT_EQ(StrToIntDef(U("7"), -9), 7);
  EXPECT_EQ(StrToIntDef(U("   7"), -9), 7);
  EXPECT_EQ(StrToIntDef(U("+7"), -9), 7);
  EXPECT_EQ(StrToIntDef(U("-3"), -9), -3);
  EXPECT_EQ(StrToIntDef(U("007"), -9), 7);
  EXPECT_EQ(StrToIntDef(U("$1F"), -9), 31);
  EXPECT_EQ(StrToIntDef(U("x1f"), -9), 31);
  EXPECT_EQ(StrToIntDef(U("X10"), -9), 16);
  EXPECT_EQ(StrToIntDef(U("0x10"), -9), 16);
  EXPECT_EQ(StrToIntDef(U("0X10"), -9), 16);
  EXPECT_EQ(StrToIntDef(U("-$10"), -9), -16);
  EXPECT_EQ(StrToIntDef(U("$FFFFFFFF"), -9), -1);
  EXPECT_EQ(StrToIntDef(U("2147483647"), -9), 2147483647);
  EXPECT_EQ(StrToIntDef(U("-2147483648"), -9), -2147483648LL);
  for (const char* invalid : {"", " ", "7 ", "abc", "1a", "- 3", "+-3", "$", "0x", "x", "$G",
                              "2147483648", "$100000000", "\t7", "７", "1.5"}) {
    EXPECT_EQ(StrToIntDef(U(invalid), -9), -9) << invalid;
  }
}

TEST(NumberRules, Mp3TrackKeepsTheLowEightBitsOfAPositiveNumber) {
  EXPECT_EQ(Mp3TrackOf(U("7")), 7);
  EXPECT_EQ(Mp3TrackOf(U(" 7")), 7);
  EXPECT_EQ(Mp3TrackOf(U("7 ")), 0);
  EXPECT_EQ(Mp3TrackOf(U("")), 0);
  EXPECT_EQ(Mp3TrackOf(U("abc")), 0);
  EXPECT_EQ(Mp3TrackOf(U("0")), 0);
  EXPECT_EQ(Mp3TrackOf(U("-3")), 0);
  EXPECT_EQ(Mp3TrackOf(U("255")), 255);
  EXPECT_EQ(Mp3TrackOf(U("256")), 0);
  EXPECT_EQ(Mp3TrackOf(U("300")), 44);
  EXPECT_EQ(Mp3TrackOf(U("$FF")), 255);
}

TEST(KeyRules, TheYearBoxTakesDigitsBackspaceAndEnter) {
  for (char32_t c = U'0'; c <= U'9'; ++c) EXPECT_TRUE(YearKeyPasses(c));
  EXPECT_TRUE(YearKeyPasses(8));
  EXPECT_TRUE(YearKeyPasses(13));
  for (char32_t c : {U'a', U' ', U'-', U'.', char32_t(3), char32_t(22), char32_t(24), char32_t(10),
                     char32_t(27), U'\uFF11', U'年'}) {
    EXPECT_FALSE(YearKeyPasses(c)) << static_cast<int>(c);
  }
}

TEST(TextRules, TrimRemovesCodesUpTo32FromBothEnds) {
  EXPECT_EQ(TrimControl(U("  a b \t\r\n")), U("a b"));
  EXPECT_EQ(TrimControl(QString(QChar(0)) + U("x") + QChar(31)), U("x"));
  EXPECT_EQ(TrimControl(U("\u3000x\u3000")), U("\u3000x\u3000"));  // the ideographic blank stays
  EXPECT_EQ(TrimControl(U(" \t ")), QString());
}

TEST(TextRules, GbkRoundTripAndMissingCharacters) {
  const std::string gbk = "\xB7\xA2\xC8\xE7\xD1\xA9";  // 发如雪
  EXPECT_EQ(FromGbk(gbk), U("发如雪"));
  EXPECT_EQ(ToGbk(U("发如雪")), gbk);
  EXPECT_EQ(ToGbk(U("a☃b😀c")), "a?b?c");
  EXPECT_EQ(ToGbk(U("Ab 1")), "Ab 1");
  // A lead byte at the end decodes to a replacement, never to nothing.
  EXPECT_EQ(FromGbk("a\xB7").size(), 2);
  EXPECT_EQ(FromUtf16(ToUtf16(U("☃ 发"))), U("☃ 发"));
}

TEST(TextRules, Id3v1SlotsAreUtf8WhenTheyHoldUtf8ElseGbk) {
  const QString cut = U("一首") + QChar(QChar::ReplacementCharacter);
  const std::vector<std::pair<std::string, QString>> cases = {
      {"\xE6\x97\xA7\xE6\xA0\x87\xE9\xA2\x98", U("旧标题")},  // UTF-8
      {"\xE4\xB8\x80\xE9\xA6\x96\xE6\xA0", cut},              // cut by the slot's end
      {"\xE4\xB8\x80\xE9\xA6\x96\xE6", cut},
      {"\xB7\xA2\xC8\xE7\xD1\xA9", U("发如雪")},  // GBK, not UTF-8
      {"Plain ASCII", U("Plain ASCII")},
      {"caf\xC3\xA9 \xD6\xD0", FromGbk("caf\xC3\xA9 \xD6\xD0")},  // UTF-8, then GBK
      {"\xC0\xAF", FromGbk("\xC0\xAF")},                          // an overlong form is not UTF-8
      {"\xED\xA0\x80", FromGbk("\xED\xA0\x80")},                  // nor is a surrogate
      {"\xE6\x97x", FromGbk("\xE6\x97x")},  // nor a sequence cut inside the slot
      // The text ends at the first zero byte: what follows is garbage an old tool left.
      {std::string("Song \0\x81\x20garbage", 15), U("Song")},
      {std::string("\xB7\xA2\xC8\xE7\xD1\xA9\0\xD6", 8), U("发如雪")},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(FromId3v1Text(bytes), text) << bytes;
}

TEST(RenameRules, TheThreeRulesAndTheExtension) {
  const QString title = U("发如雪");
  const QString artist = U("Talvino");
  EXPECT_EQ(*NewFileName(1, artist, title, 4, U(".mp3")), U("Talvino - 发如雪.mp3"));
  EXPECT_EQ(*NewFileName(2, artist, title, 4, U(".mp3")), U("发如雪 - Talvino.mp3"));
  EXPECT_EQ(*NewFileName(3, artist, title, 4, U(".mp3")), U("Talvino - (4)发如雪.mp3"));
  EXPECT_EQ(*NewFileName(3, artist, title, 0, U("")), U("Talvino - (0)发如雪"));
  EXPECT_EQ(*NewFileName(1, U(" a "), U(" t "), 0, U(".x")), U(" a  -  t .x"));
  EXPECT_FALSE(NewFileName(0, artist, title, 0, U(".mp3")));
  EXPECT_FALSE(NewFileName(4, artist, title, 0, U(".mp3")));

  EXPECT_EQ(RenameExtension(U("/m/01.mp3")), U(".mp3"));
  EXPECT_EQ(RenameExtension(U("/m/01.WMA")), U(".WMA"));
  EXPECT_EQ(RenameExtension(U("/m/01.flac")), U(".fla"));
  EXPECT_EQ(RenameExtension(U("/m/01")), QString());
  EXPECT_EQ(RenameExtension(U("/m.d/01")), QString());
}

TEST(Mp3Slots, AnMp3TextIsCutAtACharactersEnd) {
  // What each slot keeps: the longest run of whole GBK characters that fits (a Chinese character
  // takes two bytes), trimmed of blanks at both ends, a character GBK lacks as "?".
  const struct {
    core::TagField field;
    uint8_t track;  // the comment's room is 28 bytes beside a track number
    const char* text;
    const char* kept;
  } cases[] = {
      {core::TagField::kTitle, 0, "发如雪 Live版本现场录音特别收藏版",
       "发如雪 Live版本现场录音特别收"},
      {core::TagField::kTitle, 0, "一二三四五六七八九十一二三四五六",
       "一二三四五六七八九十一二三四五"},
      {core::TagField::kTitle, 0, "a一二三四五六七八九十一二三四五",
       "a一二三四五六七八九十一二三四"},
      {core::TagField::kTitle, 0, "  123456789012345678901234567890x  ",
       "123456789012345678901234567890"},
      {core::TagField::kArtist, 0, "이소라", "???"},
      {core::TagField::kComment, 0, "一二三四五六七八九十一二三四五",
       "一二三四五六七八九十一二三四五"},
      {core::TagField::kComment, 7, "一二三四五六七八九十一二三四五",
       "一二三四五六七八九十一二三四"},
      {core::TagField::kComment, 7, "a一二三四五六七八九十一二三四", "a一二三四五六七八九十一二三"},
      {core::TagField::kYear, 0, "二〇〇五", "二〇"},
      {core::TagField::kYear, 0, "2二〇", "2二"},
      {core::TagField::kYear, 0, "20051", "2005"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TIDmp3 tag;
    tag.SetTrack(c.track);
    core::SetMp3Text(tag, c.field, U(c.text));
    // Encoded into a block and read back, as the next read of the file gives it.
    TIDmp3 stored;
    DecodeBlock(EncodeBlock(tag), stored);
    EXPECT_EQ(core::FieldText(stored, c.field), U(c.kept));
  }
  // A comment set before the track number that cuts it.
  TIDmp3 tag;
  core::SetMp3Text(tag, core::TagField::kComment, U("一二三四五六七八九十一二三四五"));
  tag.SetTrack(3);
  core::FitMp3Comment(tag);
  EXPECT_EQ(FromGbk(tag.Comment), U("一二三四五六七八九十一二三四"));
}

TEST(TextRules, LegacyId3v2TextOnItsOwnIsReadWhereItReadsClearly) {
  const struct {
    const char* bytes;
    const char* text;  // null: not legacy text, left as Latin-1
  } cases[] = {
      {"\xB7\xA2\xC8\xE7\xD1\xA9", "发如雪"},
      {"Live \xB7\xA2\xC8\xE7\xD1\xA9", "Live 发如雪"},
      {"Hello", nullptr},     // ASCII only: nothing to convert
      {"Caf\xE9", nullptr},   // a lead byte at the end
      {"\xE9\x7F", nullptr},  // 0x7F is no trail byte
      {"\x80\xA1", "€¡"},     // nor 0x80 a lead byte: CP1252, whose euro sign Latin-1 lacks
      {"\xA1\xFF", nullptr},  // nor 0xFF a trail byte
  };
  for (const auto& c : cases) {
    std::u16string text;
    const bool legacy = core::DecodeLegacyText(c.bytes, text);
    EXPECT_EQ(legacy, c.text != nullptr) << c.bytes;
    if (legacy && c.text != nullptr) {
      EXPECT_EQ(QString::fromStdU16String(text), U(c.text));
    }
  }
}

// Which files are songs by their names: the tag object a path goes to (the first four characters
// of the extension, or with `wholeExtension` the whole of it), and what adding a folder takes.
TEST(Rules, ASongIsKnownByItsExtensionInAnyLetterCase) {
  using core::FileKey;
  struct Case {
    const char* path;
    FileKey key, whole;
  };
  const Case cases[] = {
      {"a.mp3", FileKey::kMp3, FileKey::kMp3},
      {"dir/A.Mp3", FileKey::kMp3, FileKey::kMp3},
      {"b.WMA", FileKey::kWma, FileKey::kWma},
      {"c.mp3x", FileKey::kMp3, FileKey::kOther},  // four characters decide the object
      {"d.mp", FileKey::kOther, FileKey::kOther},
      {"x.mp3/e", FileKey::kOther, FileKey::kOther},  // the dot of a folder's name
      {"mp3", FileKey::kOther, FileKey::kOther},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(core::FileKeyOf(c.path), c.key) << c.path;
    EXPECT_EQ(core::FileKeyOf(c.path, true), c.whole) << c.path;
  }
  // A folder's songs: MP3 files first, then WMA files, each in the listing's order.
  EXPECT_EQ(core::AudioFileNames({"b.WMA", "a.mp3", "cover.jpg", "C.MP3", "d.mp3.bak", "e.wma"}),
            (std::vector<std::string>{"a.mp3", "C.MP3", "b.WMA", "e.wma"}));
}
