// Legacy text in each script and each place where old taggers left it: what the detection reads,
// and what it leaves alone.
#include <gtest/gtest.h>

#include <QStringDecoder>
#include <QStringEncoder>

#include "../tags/id3v2/Id3v2Files.h"
#include "../tags/wma/AsfFiles.h"
#include "TestFiles.h"
#include "core/fields/Id3v2Fields.h"
#include "core/journal/Undo.h"
#include "core/plans/Apply.h"
#include "core/plans/Plans.h"
#include "core/text/Legacy.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

namespace {

using id3files::operator+;
using legacy::Encoding;
using legacy::Place;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// The bytes an old tagger wrote for `text` in `codec` (a name Qt's converter knows).
std::string Encoded(const char* codec, const QString& text) {
  QStringEncoder encoder(codec);
  const QByteArray b = encoder.encode(text);
  EXPECT_FALSE(encoder.hasError()) << codec << " " << text.toStdString();
  return b.toStdString();
}

// What a later tool stored as Unicode after reading those bytes as CP1252.
QString AsCp1252(const std::string& bytes) {
  QStringDecoder decoder("windows-1252");
  return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

// Reads one file's fields at one place as the conversion does: the detection over all of them,
// then each field's reading (none: left as it is).
std::vector<std::optional<QString>> ReadFile(const std::vector<std::string>& bytes, Place place) {
  std::vector<std::string> fields;
  for (const std::string& b : bytes) {
    if (place == Place::kMojibake) {
      fields.push_back(legacy::MojibakeBytes(AsCp1252(b)).value_or(b));
    } else {
      fields.push_back(b);
    }
  }
  const legacy::Detection d = legacy::Detect(fields);
  std::vector<std::optional<QString>> out;
  for (const std::string& f : fields) out.push_back(legacy::Reading(d, f, place));
  return out;
}

struct Song {
  const char* codec;  // how its tags were written
  const char* title;
  const char* artist;
  bool western;  // CP1252 text: reads right in a frame already, and is left there
};

// Real-looking titles and artists; each file's two fields decided together.
const Song kSongs[] = {
    {"GBK", "发如雪", "周杰伦", false},
    {"GBK", "十年", "陈奕迅", false},
    {"GBK", "后来", "刘若英", false},
    {"GBK", "童话", "光良", false},
    {"GBK", "月亮代表我的心", "邓丽君", false},
    {"GBK", "光辉岁月", "Beyond", false},
    {"GBK", "小幸运", "田馥甄", false},
    {"Big5", "發如雪", "周杰倫", false},
    {"Big5", "愛的代價", "張艾嘉", false},
    {"Big5", "海闊天空", "黃家駒", false},
    {"Big5", "吻別", "張學友", false},
    {"Big5", "聽海", "張惠妹", false},
    {"Big5", "月亮代表我的心", "鄧麗君", false},
    {"Shift_JIS", "千本桜", "初音ミク", false},
    {"Shift_JIS", "さくらんぼ", "大塚愛", false},
    {"Shift_JIS", "ファーストラヴ", "宇多田ヒカル", false},
    {"Shift_JIS", "残酷な天使のテーゼ", "高橋洋子", false},
    {"Shift_JIS", "夜に駆ける", "YOASOBI", false},
    {"Shift_JIS", "栄光の架橋", "ゆず", false},
    {"windows-1252", "Café del Mar", "Energy 52", true},
    {"windows-1252", "Jóga", "Björk", true},
    {"windows-1252", "Kickstart My Heart", "Mötley Crüe", true},
    {"windows-1252", "Mañana", "Gipsy Kings", true},
    {"windows-1252", "Hoppípolla", "Sigur Rós", true},
    {"windows-1252", "Déjà vu", "Beyoncé", true},
    {"windows-1252", "Canção do Mar", "Dulce Pontes", true},
    {"windows-1252", "Über den Wolken", "Reinhard Mey", true},
    {"UTF-8", "发如雪", "周杰伦", false},
    {"UTF-8", "Jóga", "Björk", false},
};

TEST(Legacy, EachScriptReadsRightInEachPlace) {
  for (Place place : {Place::kSlot, Place::kLatin1, Place::kMojibake}) {
    for (const Song& s : kSongs) {
      const QString title = U(s.title), artist = U(s.artist);
      const auto read = ReadFile({Encoded(s.codec, title), Encoded(s.codec, artist)}, place);
      SCOPED_TRACE(std::string(s.codec) + " " + s.title + " place " +
                   std::to_string(static_cast<int>(place)));
      // Western text in a frame reads right already and is left; anywhere else the text
      // itself comes out (an ASCII field is always left).
      const bool left = s.western && place != Place::kSlot;
      const auto expect = [&](const QString& text) -> std::optional<QString> {
        if (left || text.toLatin1() == text.toUtf8()) return std::nullopt;
        return text;
      };
      EXPECT_EQ(read[0], expect(title));
      EXPECT_EQ(read[1], expect(artist));
    }
  }
}

bool Clean(const QString& text) {
  for (QChar ch : text) {
    if (ch == QChar::ReplacementCharacter || ch.category() == QChar::Other_PrivateUse ||
        ch.category() == QChar::Other_Control) {
      return false;
    }
  }
  return true;
}

TEST(Legacy, NothingWorseIsEverProduced) {
  // Every pair of bytes beyond ASCII, in every candidate: a text without a replacement,
  // private-use or control character, or none.
  for (Encoding e : legacy::kEncodings) {
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
      for (int trail = 0x20; trail <= 0xFF; ++trail) {
        const std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
        if (std::optional<QString> text = legacy::Decode(e, bytes)) {
          ASSERT_TRUE(Clean(*text)) << legacy::NameOf(e) << " " << lead << " " << trail;
        }
      }
    }
  }
  const struct {
    std::string bytes;
    const char* read;  // null: left as it is
  } cases[] = {
      {"\x81\x20\x8D", nullptr},  // no candidate decodes it
      {"\xB7\xA2\xC8\xE7\xD1\xA9", "发如雪"},
      {"Hello", nullptr},  // ASCII is never touched
      // CP1252's own characters, which Latin-1 players lack: the frame becomes Unicode.
      {"Je t'aime\x85 moi non plus", "Je t'aime… moi non plus"},
  };
  for (const auto& c : cases) {
    const legacy::Detection d = legacy::Detect({c.bytes});
    const std::optional<QString> r = legacy::Reading(d, c.bytes, Place::kLatin1);
    EXPECT_EQ(r, c.read ? std::optional<QString>(U(c.read)) : std::nullopt) << c.bytes;
  }
  // A field no candidate decodes is reported, and the file's other fields still decide.
  const std::string garbled = "\x81\x20\x8D";
  const legacy::Detection d = legacy::Detect({garbled, Encoded("GBK", U("周杰伦")), "ASCII"});
  EXPECT_EQ(d.undecodable, std::vector<size_t>{0});
  EXPECT_EQ(d.encoding, Encoding::kGbk);
  EXPECT_FALSE(d.ambiguous);
  EXPECT_EQ(legacy::Reading(d, garbled, Place::kLatin1), std::nullopt);
}

TEST(Legacy, CloseReadingsNeedALookAndGbkWinsATie) {
  // Two GB2312 first-level characters that are common Big5 characters too: both read well.
  const std::string both = "\xB0\xA1\xB0\xA2";
  const legacy::Detection d = legacy::Detect({both});
  EXPECT_EQ(d.encoding, Encoding::kGbk);
  EXPECT_EQ(d.second, Encoding::kBig5);
  EXPECT_TRUE(d.ambiguous);
  EXPECT_EQ(legacy::Reading(d, both, Place::kLatin1), std::nullopt);
}

// Names are decided first by the shape of their bytes, and decoded only where that decides: a
// candidate left out by its shape never decodes, and one kept scores as its decoded text does,
// or a decision by shape would differ from the decoded one.
TEST(Legacy, AReadingByShapeScoresAsItsDecodedTextDoes) {
  std::vector<std::string> cases;
  for (unsigned a = 0x80; a < 0x100; ++a) {
    for (unsigned b = 0x20; b < 0x100; ++b) {
      const std::string pair{static_cast<char>(a), static_cast<char>(b)};
      cases.push_back(pair);
      cases.push_back("Bj" + pair + "rk " + pair);
    }
  }
  for (const char* utf8 : {"Beyonc\xC3\xA9", "\xE5\x91\xA8\xE6\x9D\xB0\xE4\xBC\xA6 - x",
                           "\xC3\xA0 la \xF0\x9F\x8E\xB5"}) {
    cases.push_back(utf8);
  }
  for (const std::string& bytes : cases) {
    const legacy::Candidates shaped = legacy::ShapedAs(bytes);
    for (Encoding e : legacy::kEncodings) {
      const std::optional<QString> text = legacy::Decode(e, bytes);
      if ((shaped & legacy::Only(e)) == 0) {
        EXPECT_FALSE(text) << legacy::NameOf(e) << " " << bytes;
      } else if (text) {
        EXPECT_EQ(legacy::ShapeScore(e, bytes), legacy::Score(e, bytes, *text))
            << legacy::NameOf(e) << " " << bytes;
      }
    }
  }
}

// A name whose best reading by shape has no character there (D7FA lies in GBK's common range but
// is unassigned) is decided on every reading decoded, as a tag's fields are.
TEST(Legacy, ANameWhoseBestReadingByShapeDoesNotDecodeIsDecidedOnItsDecodedReadings) {
  const legacy::Candidates bytes = legacy::Only(Encoding::kGbk) | legacy::Only(Encoding::kBig5) |
                                   legacy::Only(Encoding::kShiftJis) |
                                   legacy::Only(Encoding::kCp1252);
  for (const std::string name : {"\xD7\xFA", "\xD7\xFA\xC6\xDF\xC0\xEF", "\xB0\xA1\xD7\xFA"}) {
    ASSERT_TRUE(legacy::ShapedAs(name) & legacy::Only(Encoding::kGbk));
    ASSERT_FALSE(legacy::Decode(Encoding::kGbk, name));
    const legacy::Detection d = legacy::Detect({name}, bytes);
    const legacy::NameReading r = legacy::ReadNames({name}, std::nullopt, true)[0];
    EXPECT_EQ(r.kind == legacy::NameReading::Kind::kAmbiguous, d.ambiguous) << name;
    if (!d.ambiguous) {
      EXPECT_EQ(r.encoding, d.encoding) << name;
    }
  }
  const legacy::NameReading alone = legacy::ReadNames({"\xD7\xFA"}, std::nullopt, true)[0];
  EXPECT_EQ(alone.kind, legacy::NameReading::Kind::kRepair);
  EXPECT_EQ(alone.encoding, Encoding::kBig5);
}

// Files as taggers leave them, converted: the plan's reading of each, the tag the conversion
// writes as read back, and files that read right kept byte for byte.
TEST(Legacy, AConversionReadsEachFileAsAWholeAndLeavesWhatReadsRight) {
  using id3files::B;
  using id3files::Frame;
  testfiles::TempDir dir;
  enum Kind { kLatin1Frames, kUtf16Mojibake, kBlockOnly, kBlockBehindEncoderTag, kBlockBehindTag };
  const struct {
    const char* name;
    Kind kind;
    const char* codec;
    const char* title;
    const char* artist;
    bool converts;
  } cases[] = {
      {"gbk-frames", kLatin1Frames, "GBK", "发如雪", "周杰伦", true},
      {"big5-frames", kLatin1Frames, "Big5", "海闊天空", "黃家駒", true},
      {"sjis-frames", kLatin1Frames, "Shift_JIS", "千本桜", "初音ミク", true},
      {"western-frames", kLatin1Frames, "windows-1252", "Jóga", "Björk", false},
      {"gbk-mojibake", kUtf16Mojibake, "GBK", "发如雪", "周杰伦", true},
      {"big5-mojibake", kUtf16Mojibake, "Big5", "愛的代價", "張艾嘉", true},
      {"unicode", kUtf16Mojibake, "UTF-16", "Café del Mar", "Mötley Crüe", false},
      {"big5-block", kBlockOnly, "Big5", "吻別", "張學友", true},
      {"sjis-block", kBlockOnly, "Shift_JIS", "さくらんぼ", "大塚愛", true},
      {"western-block", kBlockOnly, "windows-1252", "Mañana", "Gipsy Kings", false},
      // What ffmpeg writes: an ID3v2 tag of the encoder's name alone, players show no title.
      {"gbk-block-lavf", kBlockBehindEncoderTag, "GBK", "发如雪", "周杰伦", true},
      // A tag that reads right keeps its bytes, whatever else only the block holds.
      {"gbk-block-unicode-tag", kBlockBehindTag, "GBK", "发如雪", "周杰伦", false},
  };
  std::vector<std::string> paths;
  std::vector<testfiles::Bytes> before;
  for (const auto& c : cases) {
    const QString title = U(c.title), artist = U(c.artist);
    const bool unicode = std::string(c.codec) == "UTF-16";
    testfiles::Bytes tag;
    if (c.kind == kLatin1Frames) {
      tag = id3files::Tag(3,
                          Frame("TIT2", id3files::Latin1(Encoded(c.codec, title))) +
                              Frame("TPE1", id3files::Latin1(Encoded(c.codec, artist))),
                          256);
    } else if (c.kind == kUtf16Mojibake) {
      const auto shown = [&](const QString& t) {
        return unicode ? t.toStdU16String() : AsCp1252(Encoded(c.codec, t)).toStdU16String();
      };
      tag = id3files::Tag(3,
                          Frame("TIT2", id3files::Utf16(shown(title))) +
                              Frame("TPE1", id3files::Utf16(shown(artist))),
                          256);
    }
    if (c.kind == kBlockBehindEncoderTag) {
      tag = id3files::Tag(3, Frame("TSSE", id3files::Latin1("Lavf58.76.100")), 256);
    } else if (c.kind == kBlockBehindTag) {
      tag = id3files::Tag(3,
                          Frame("TIT2", id3files::Utf16(title.toStdU16String())) +
                              Frame("TPE1", id3files::Utf16(artist.toStdU16String())),
                          256);
    }
    TIDmp3 v1;
    if (c.kind == kBlockOnly || c.kind == kBlockBehindEncoderTag || c.kind == kBlockBehindTag) {
      v1.Title = Encoded(c.codec, title);
      v1.Artist = Encoded(c.codec, artist);
      if (c.kind == kBlockBehindTag) v1.Comment = Encoded(c.codec, U("好歌"));
    } else {
      v1.Title = "Track";
    }
    const TagBlock block = EncodeBlock(v1);
    const std::string path = dir.path() + "/" + c.name + ".mp3";
    testfiles::WriteAll(path,
                        tag + id3files::Audio() + testfiles::Bytes(block.begin(), block.end()));
    paths.push_back(path);
    before.push_back(testfiles::ReadAll(path));
  }

  const core::ConvertPlan plan = core::PlanConvert(paths);
  for (size_t i = 0; i < paths.size(); ++i) {
    const auto& c = cases[i];
    const core::ConvertEntry& e = plan.entries[i];
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(e.NeedsALook());
    ASSERT_EQ(e.status == core::ConvertStatus::kConvert, c.converts) << e.reason.toStdString();
    if (!c.converts) continue;
    ASSERT_EQ(e.texts.size(), 2u);
    EXPECT_EQ(e.texts[0].field, core::TagField::kTitle);
    EXPECT_EQ(e.texts[0].after, U(c.title));
    EXPECT_EQ(e.texts[1].after, U(c.artist));
    // Players show the bytes as Latin-1 now (nothing, where the tag they read lacks the field).
    const bool absent = c.kind == kBlockBehindEncoderTag;
    EXPECT_EQ(e.texts[0].now,
              absent ? QString() : legacy::AsPlayersShow(Encoded(c.codec, U(c.title))));
    // What the conversion writes, as Apply plans it again from the plan's detection.
    id3v2::SavePlan save;
    size_t frames = 0;
    if (e.newTag) {
      TIDmp3 v1;
      id3v2::TagInfo unused;
      ASSERT_TRUE(id3v2::ReadBothTags(paths[i], v1, unused));
      ASSERT_EQ(id3v2::PlanNewTag(paths[i], core::ConversionFieldsOf(v1), save),
                id3v2::Result::kOk);
    } else {
      TIDmp3 v1;
      id3v2::TagInfo v2;
      ASSERT_TRUE(id3v2::ReadBothTags(paths[i], v1, v2));
      ASSERT_EQ(core::PlanTagConversion(paths[i], v1, v2, e.detection, save, frames),
                id3v2::Result::kOk);
      EXPECT_EQ(frames, 2u);
    }
    id3files::WritePlan(paths[i], save);
    id3v2::TagInfo after;
    ASSERT_TRUE(id3v2::ReadFromFile(paths[i], after));
    EXPECT_EQ(after.fields[id3v2::kTitle].kind, id3v2::FieldValue::kUnicode);
    EXPECT_EQ(core::Id3v2Text(after.fields[id3v2::kTitle]), U(c.title));
    EXPECT_EQ(core::Id3v2Text(after.fields[id3v2::kArtist]), U(c.artist));
    if (c.kind == kBlockBehindEncoderTag) {  // the encoder's frame is kept
      EXPECT_EQ(id3files::Frames(testfiles::ReadAll(paths[i]))[0].first, "TSSE");
    }
    // Converted once, nothing is left to convert.
    EXPECT_EQ(core::PlanConvert({paths[i]}).entries[0].status, core::ConvertStatus::kNothing);
  }
  for (size_t i = 0; i < paths.size(); ++i) {
    if (!cases[i].converts) {
      EXPECT_EQ(testfiles::ReadAll(paths[i]), before[i]) << cases[i].name;
    }
  }
}

// A WMA file whose attributes an earlier tool filled with GBK bytes read as CP1252: converted in
// one action, undone byte for byte; correct Unicode attributes are left.
TEST(Legacy, WmaAttributesHoldingLegacyBytesGetTheirText) {
  testfiles::TempDir dir;
  const std::u16string title = AsCp1252(Encoded("GBK", U("发如雪"))).toStdU16String();
  const std::u16string artist = AsCp1252(Encoded("GBK", U("周杰伦"))).toStdU16String();
  const std::string garbled = dir.path() + "/garbled.wma", right = dir.path() + "/right.wma";
  testfiles::WriteAll(garbled, asffiles::File({asffiles::Content(title, artist)}));
  testfiles::WriteAll(right, asffiles::File({asffiles::Content(u"Jóga", u"Björk")}));
  const testfiles::Bytes before = testfiles::ReadAll(garbled), kept = testfiles::ReadAll(right);

  const core::ConvertPlan plan = core::PlanConvert({garbled, right});
  ASSERT_EQ(plan.entries[0].status, core::ConvertStatus::kConvert);
  EXPECT_EQ(plan.entries[0].texts,
            (std::vector<core::ConvertText>{
                {core::TagField::kTitle, QString::fromStdU16String(title), U("发如雪")},
                {core::TagField::kArtist, QString::fromStdU16String(artist), U("周杰伦")}}));
  EXPECT_EQ(plan.entries[1].status, core::ConvertStatus::kNothing);
  // A file that changed since its plan is not written.
  const std::string changed = dir.path() + "/changed.wma";
  testfiles::WriteAll(changed, before);
  const core::ConvertPlan stale = core::PlanConvert({changed});
  testfiles::WriteAll(changed, kept);
  EXPECT_EQ(core::ApplyConvert(stale, {}).results[0].outcome, core::Outcome::kFailed);
  EXPECT_EQ(testfiles::ReadAll(changed), kept);

  testfiles::TempDir home;
  core::Journal journal(QString::fromStdString(home.path() + "/journal"));
  const core::ApplyReport report = core::ApplyConvert(plan, {&journal, {}, nullptr});
  ASSERT_EQ(report.results[0].outcome, core::Outcome::kDone)
      << report.results[0].reason.toStdString();
  TIDwma tag;
  ASSERT_TRUE(tag.ReadFromFile(garbled));
  EXPECT_EQ(tag.Title, U("发如雪").toStdU16String());
  EXPECT_EQ(tag.Artist, U("周杰伦").toStdU16String());
  EXPECT_EQ(testfiles::ReadAll(right), kept);
  EXPECT_EQ(core::PlanConvert({garbled}).entries[0].status, core::ConvertStatus::kNothing);
  ASSERT_TRUE(core::UndoLast(journal, {}).action);
  EXPECT_EQ(testfiles::ReadAll(garbled), before);
}

// A batch edit of a file whose other frames are legacy text lists them, and writes them as they
// read in the same write when asked to.
TEST(Legacy, ABatchEditCanConvertTheOtherLegacyFieldsInTheSameWrite) {
  using id3files::Frame;
  testfiles::TempDir dir;
  const std::string path = dir.path() + "/a.mp3";
  const auto tag = id3files::Tag(3,
                                 Frame("TIT2", id3files::Latin1(Encoded("GBK", U("发如雪")))) +
                                     Frame("TPE1", id3files::Latin1(Encoded("GBK", U("周杰伦")))),
                                 256);
  testfiles::WriteAll(path, tag + id3files::Audio());
  core::EditFields fields;
  fields.album = U("十一月的萧邦");
  for (bool convert : {false, true}) {
    core::EditPlan plan = core::PlanEdit({path}, fields);
    ASSERT_EQ(plan.LegacyFiles(), 1);
    EXPECT_EQ(plan.entries[0].legacy.size(), 2u);
    plan.convertLegacy = convert;
    TIDmp3 mp3;
    TIDwma wma;
    ASSERT_EQ(core::ApplyEdit(plan, mp3, wma, {}).results[0].outcome, core::Outcome::kDone);
    id3v2::TagInfo after;
    ASSERT_TRUE(id3v2::ReadFromFile(path, after));
    EXPECT_EQ(core::Id3v2Text(after.fields[id3v2::kAlbum]), U("十一月的萧邦"));
    EXPECT_EQ(after.fields[id3v2::kTitle].kind,
              convert ? id3v2::FieldValue::kUnicode : id3v2::FieldValue::kLatin1);
    EXPECT_EQ(core::Id3v2Text(after.fields[id3v2::kTitle]), U("发如雪"));
  }
}

}  // namespace
