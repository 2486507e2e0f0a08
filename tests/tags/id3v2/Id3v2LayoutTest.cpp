// Tags built byte by byte: every version and layout read and rendered, the values as stored, the
// size of a render, and tags that are broken or hostile refused.
#include <gtest/gtest.h>

#include <string>

#include "Id3v2Files.h"
#include "TestFiles.h"

using namespace id3files;
using id3v2::FieldValue;
using id3v2::Result;

namespace {

std::string Show(const FieldValue& v) {
  if (v.kind == FieldValue::kAbsent) return "";
  if (v.kind == FieldValue::kLatin1) return "L:" + v.latin1;
  std::string utf8;
  for (char16_t u : v.text)
    utf8 += u < 0x80 ? std::string(1, char(u)) : "<" + std::to_string(u) + ">";
  return "U:" + utf8;
}

id3v2::TagInfo Read(const Bytes& file) {
  id3v2::TagInfo tag;
  id3v2::ReadFromImage(file.data(), file.size(), tag);
  return tag;
}

Bytes TagOf(const Bytes& file) { return Bytes(file.begin(), file.begin() + long(TagSize(file))); }

// Escapes as unsynchronisation does: a 0x00 after every 0xFF followed by 0x00 or 0xE0 and above.
Bytes Unsync(const Bytes& plain) {
  Bytes out;
  for (size_t i = 0; i < plain.size(); ++i) {
    out.push_back(plain[i]);
    if (plain[i] == 0xFF && (i + 1 == plain.size() || plain[i + 1] == 0 || plain[i + 1] >= 0xE0)) {
      out.push_back(0);
    }
  }
  return out;
}

const Bytes kPicture = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0xFF, 0x00, 0xFF};
const Bytes kApic = Frame("APIC", B("\0image/jpeg\0\x03\0", 14) + kPicture);
const Bytes kTitle = Frame("TIT2", Latin1("Old"));
const Bytes kZlibTitle = {0x78, 0x9C, 0x63, 0x08, 0x48, 0x4C, 0xCE, 0x4E, 0x4D, 0x51, 0x28,
                          0xC9, 0x2C, 0xC9, 0x49, 0x05, 0x00, 0x1C, 0xBE, 0x04, 0x8B};
Bytes Footer(const Bytes& tag) { return B("3DI") + Bytes(tag.begin() + 3, tag.begin() + 10); }

}  // namespace

TEST(Id3v2Layout, EveryVersionAndLayoutIsReadAndRendered) {
  const Bytes footed =
      Tag(4, Frame("TIT2", Utf8("Old"), 4) + Frame("XYZW", B("keep me"), 4), 0, 0x10);
  const Bytes utf16Unsync = Utf16(u"\u00FF Old");
  struct Case {
    const char* name;
    Bytes file;
    int version;        // the tag's version after the render
    std::string title;  // as read before the render
  };
  const std::vector<Case> cases = {
      {"2.2, with a picture and a comment",
       Tag(2,
           Frame("TT2", Latin1("Old")) + Frame("TP1", Utf16(u"A")) +
               Frame("COM", Comment("eng", "", "c")) + Frame("PIC", B("\0JPG\x03\0", 6) + kPicture),
           20),
       3, "L:Old"},
      {"2.3, extended header", Tag(3, Be(6, 4) + Bytes(6, 0) + kTitle + kApic, 10, 0x40), 3,
       "L:Old"},
      {"2.3, extended header with a CRC", Tag(3, Be(10, 4) + Bytes(10, 1) + kTitle, 0, 0x40), 3,
       "L:Old"},
      {"2.4, extended header", Tag(4, Syncsafe(6) + Bytes{1, 0} + kTitle + kApic, 0, 0x40), 4,
       "L:Old"},
      {"2.4, footer", footed + Footer(footed), 4, "U:Old"},
      {"2.3, unsynchronised", Tag(3, Unsync(kTitle + kApic), 0, 0x80), 3, "L:Old"},
      {"2.4, a frame unsynchronised with its data length",
       Tag(4,
           Frame("TIT2", Syncsafe(uint32_t(utf16Unsync.size())) + Unsync(utf16Unsync), 4, 3) +
               kApic,
           4),
       4, "U:<255> Old"},
      {"2.3, a compressed frame", Tag(3, Frame("TIT2", Be(13, 4) + kZlibTitle, 3, 0x80) + kApic), 3,
       "L:Packed title"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = c.file + Audio();
    const id3v2::TagInfo tag = Read(file);
    ASSERT_EQ(tag.presence, id3v2::Presence::kTag);
    EXPECT_EQ(size_t(tag.size), c.file.size());
    EXPECT_EQ(Show(tag.fields[id3v2::kTitle]), c.title);

    Bytes rendered;
    ASSERT_EQ(id3v2::RenderUpdate(c.file, Set({{id3v2::kTitle, u"New \U0001F3B5"}}), 512, rendered),
              Result::kOk);
    const id3v2::TagInfo back = Read(rendered + Audio());
    EXPECT_EQ(back.version, c.version);
    EXPECT_EQ(Show(back.fields[id3v2::kTitle]), "U:New <55356><57269>");
    EXPECT_EQ(rendered[5] & 0xD0, 0) << "no extended header, footer or 2.3 unsynchronisation";
    // Every other frame is kept, byte for byte where the version stays.
    const auto after = Frames(rendered);
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after.front().first, "TIT2");
    if (c.file[3] == 2) {
      EXPECT_EQ(after.size(), 4u) << "TPE1, COMM and APIC converted from 2.2";
    } else {
      auto before = Frames(TagOf(c.file));
      ASSERT_FALSE(before.empty());
      before.erase(before.begin());
      EXPECT_EQ(decltype(before)(after.begin() + 1, after.end()), before);
    }
  }
}

TEST(Id3v2Layout, FieldValuesAreGivenAsStored) {
  struct Case {
    Bytes frames;
    int version;
    id3v2::Field field;
    std::string shown;
  };
  const auto tcon = [](const std::string& text) { return Frame("TCON", Latin1(text)); };
  const std::vector<Case> cases = {
      {Frame("TIT2", Utf8(std::string("A\0B", 3)), 4), 4, id3v2::kTitle, "U:A"},
      {Frame("TIT2", Bytes{2, 0, 'B', 0x4E, 0x2D}, 4), 4, id3v2::kTitle, "U:B<20013>"},
      {Frame("TIT2", Utf16(u"Be", true)), 3, id3v2::kTitle, "U:Be"},
      {Frame("TIT2", Latin1("\xB7\xA2")), 3, id3v2::kTitle, "L:\xB7\xA2"},
      {tcon("(13)"), 3, id3v2::kGenre, "L:Pop"},
      {tcon("13"), 3, id3v2::kGenre, "L:Pop"},
      {tcon("(4)Eurodisco"), 3, id3v2::kGenre, "L:Eurodisco"},
      {tcon("(17)(13)"), 3, id3v2::kGenre, "L:Rock"},
      {tcon("((foo"), 3, id3v2::kGenre, "L:(foo"},
      {tcon("(200)"), 3, id3v2::kGenre, "L:(200)"},
      {tcon("(RX)"), 3, id3v2::kGenre, "L:Remix"},
      {Frame("TCON", Utf16(u"(9)")), 3, id3v2::kGenre, "U:Metal"},
      {Frame("TYER", Utf8("1999"), 4) + Frame("TDRC", Utf8("2005-03"), 4), 4, id3v2::kYear,
       "U:2005-03"},
      {Frame("TDRC", Latin1("2005")) + Frame("TYER", Latin1("1999")), 3, id3v2::kYear, "L:1999"},
      {Frame("COMM", Comment("eng", "iTunNORM", "x")) + Frame("COMM", Comment("chi", "", "y")), 3,
       id3v2::kComment, "L:y"},
      {Frame("TRCK", Latin1("3/12")), 3, id3v2::kTrack, "L:3/12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(Show(Read(Tag(c.version, c.frames, 4) + Audio()).fields[c.field]), c.shown);
  }
}

TEST(Id3v2Layout, ARenderFitsTheOldRoomOrGrowsWithPadding) {
  struct Case {
    size_t padding;  // of the old tag
    size_t title;    // letters of the new title
    int64_t block;
    bool inPlace;
  };
  // The old title frame takes 4 bytes of body, a new one of n letters 3 + 2n (UTF-16).
  const std::vector<Case> cases = {
      {0, 0, 4096, true},      {10, 5, 4096, true}, {10, 6, 4096, false},  {100, 40, 4096, true},
      {100, 200, 4096, false}, {0, 4, 512, false},  {5000, 10, 512, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.padding << " " << c.title << " " << c.block);
    const Bytes old = Tag(3, kTitle + kApic, c.padding);
    Bytes rendered;
    ASSERT_EQ(id3v2::RenderUpdate(old, Set({{id3v2::kTitle, std::u16string(c.title, u'n')}}),
                                  c.block, rendered),
              Result::kOk);
    EXPECT_EQ(rendered.size() == old.size(), c.inPlace);
    size_t used = 10;
    for (const auto& frame : Frames(rendered)) used += frame.second.size();
    if (!c.inPlace) {
      EXPECT_EQ((rendered.size() - old.size()) % size_t(c.block), 0u);
      EXPECT_GE(rendered.size() - used, 2048u);
      EXPECT_LT(rendered.size() - used, 2048u + size_t(c.block));
    }
    EXPECT_TRUE(std::all_of(rendered.begin() + long(used), rendered.end(),
                            [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(TagSize(rendered), rendered.size());
  }
}

TEST(Id3v2Layout, BrokenAndHostileTagsAreRefused) {
  struct Case {
    const char* name;
    Bytes tag;
    id3v2::Presence presence;
    std::string title;  // what reading still gives
  };
  const Bytes v22 = Frame("TT2", Latin1("Old"));
  const std::vector<Case> cases = {
      {"a frame past the tag's end", Tag(3, kTitle + B("TPE1") + Be(500, 4) + Bytes{0, 0, 0, 'x'}),
       id3v2::Presence::kTag, "L:Old"},
      {"a frame header cut short", Tag(3, kTitle + B("TPE")), id3v2::Presence::kTag, "L:Old"},
      {"an identifier that is not one", Tag(3, Frame("tit2", Latin1("x")) + kTitle),
       id3v2::Presence::kTag, ""},
      {"bytes after the frames that are not padding", Tag(3, kTitle + B("junk")),
       id3v2::Presence::kTag, "L:Old"},
      // A zero byte where a frame would begin starts padding only when zeros follow it to the end.
      {"a frame after a zero byte", Tag(3, kTitle + Bytes{0} + Frame("TPE1", Latin1("Art"))),
       id3v2::Presence::kTag, "L:Old"},
      {"bytes after padding", Tag(3, kTitle + Bytes(16, 0) + B("junk")), id3v2::Presence::kTag,
       "L:Old"},
      {"a last non-zero byte after padding", Tag(4, kTitle + Bytes(31, 0) + Bytes{1}),
       id3v2::Presence::kTag, "L:Old"},
      {"a 2.2 frame after padding", Tag(2, v22 + Bytes(4, 0) + Frame("TP1", Latin1("Art"))),
       id3v2::Presence::kTag, "L:Old"},
      {"bytes after the padding of an unsynchronised tag",
       Tag(3, kTitle + Bytes(4, 0) + Bytes{0xFF, 0x00, 0x01}, 0, 0x80), id3v2::Presence::kTag,
       "L:Old"},
      {"a 2.4 frame size that is not syncsafe",
       Tag(4, B("TIT2") + Be(200, 4) + Bytes{0, 0} + Latin1("Old") + Bytes(196, ' ')),
       id3v2::Presence::kTag, "L:Old" + std::string(196, ' ')},
      {"an extended header of a wrong size", Tag(3, Be(7, 4) + Bytes(7, 0) + kTitle, 0, 0x40),
       id3v2::Presence::kTag, "L:Old"},
      {"a 2.2 frame that TagLib would drop", Tag(2, v22 + Frame("TDA", Latin1("0101"))),
       id3v2::Presence::kTag, "L:Old"},
      {"an unknown header flag", Tag(3, kTitle, 0, 0x01), id3v2::Presence::kUnreadable, ""},
      {"a size that is not syncsafe", B("ID3\x03\0\0\x80\0\0\x10", 10) + kTitle,
       id3v2::Presence::kUnreadable, ""},
      {"a size past the file's end", B("ID3\x03\0\0\0\0\x7F\x7F", 10) + kTitle,
       id3v2::Presence::kUnreadable, ""},
      {"a size of 200 MiB", B("ID3\x04\0\0\x64\0\0\0", 10) + kTitle, id3v2::Presence::kUnreadable,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const id3v2::TagInfo tag = Read(c.tag + Audio(64));
    EXPECT_EQ(tag.presence, c.presence);
    EXPECT_EQ(Show(tag.fields[id3v2::kTitle]), c.title);
    Bytes rendered;
    EXPECT_EQ(id3v2::RenderUpdate(c.tag, Set({{id3v2::kArtist, u"x"}}), 4096, rendered),
              Result::kRefused);
    size_t converted;
    EXPECT_EQ(id3v2::RenderConversion(c.tag, nullptr, 4096, rendered, converted), Result::kRefused);
    EXPECT_TRUE(rendered.empty());

    testfiles::TempDir dir;
    const std::string path = dir.Write("a.mp3", c.tag + Audio(64));
    id3v2::SavePlan plan;
    EXPECT_EQ(id3v2::PlanUpdate(path, Set({{id3v2::kArtist, u"x"}}), plan), Result::kRefused);
    EXPECT_EQ(id3v2::PlanNewTag(path, {}, plan), Result::kHasTag);
  }
}

TEST(Id3v2Layout, ARenderReplacesTheChangedFieldsFramesAndNoOthers) {
  const Bytes norm = Frame("COMM", Comment("eng", "iTunNORM", "1"));
  const Bytes unknown = Frame("XYZW", B("unknown"));
  const Bytes old =
      Tag(3,
          kTitle + norm + Frame("COMM", Comment("chi", "", "old")) + Frame("TDRC", Latin1("1999")) +
              unknown + Frame("COMM", Comment("eng", "", "again")) + Frame("TYER", Latin1("1999")),
          64);
  Bytes rendered;
  ASSERT_EQ(id3v2::RenderUpdate(
                old, Set({{id3v2::kComment, u"新"}, {id3v2::kYear, u"2024"}, {id3v2::kTitle, u""}}),
                4096, rendered),
            Result::kOk);
  const auto frames = Frames(rendered);
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[0].second, norm);
  EXPECT_EQ(frames[1].second, Frame("COMM", Bytes{1} + B("chi") + Bytes{0xFF, 0xFE, 0, 0} +
                                                Bytes{0xFF, 0xFE, 0xB0, 0x65}))
      << "in the first comment's place and language";
  EXPECT_EQ(frames[2].second, Frame("TYER", Utf16(u"2024")));
  EXPECT_EQ(frames[3].second, unknown);
}
