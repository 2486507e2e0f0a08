// Real MP3 files tagged by ffmpeg, mutagen and id3lib: what they wrote is read, and a render
// written back keeps every frame it does not change, the audio, and what other readers show.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "Id3v2Files.h"
#include "TestFiles.h"
#include "platform/ReplacementFile.h"
#include "tags/mp3/TMp3Tag.h"

using namespace id3files;
using id3v2::FieldValue;
using testfiles::ReadAll;
using testfiles::TempDir;

namespace {

// Text between two encodings through iconv; empty when it is not valid in `from`.
std::string Convert(const std::string& text, const char* from, const char* to) {
  iconv_t cd = iconv_open(to, from);
  std::string out(text.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(text.data());
  char* o = out.data();
  size_t inLeft = text.size(), outLeft = out.size();
  const bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != size_t(-1);
  iconv_close(cd);
  return ok ? out.substr(0, out.size() - outLeft) : std::string();
}
std::string Utf8Of(const std::u16string& text) {
  return Convert(std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2),
                 "UTF-16LE", "UTF-8");
}
// The GBK decoder the core hands to a conversion.
bool DecodeGbk(std::string_view bytes, std::u16string& text) {
  const std::string utf16 = Convert(std::string(bytes), "GBK", "UTF-16LE");
  if (utf16.empty()) return false;
  text.assign(reinterpret_cast<const char16_t*>(utf16.data()), utf16.size() / 2);
  return true;
}

// A field as the tests write it: "L:" and the Latin-1 bytes read as GBK, "U:" and the text.
std::string Show(const FieldValue& v) {
  if (v.kind == FieldValue::kAbsent) return "";
  return v.kind == FieldValue::kLatin1 ? "L:" + Convert(v.latin1, "GBK", "UTF-8")
                                       : "U:" + Utf8Of(v.text);
}
std::vector<std::string> Shown(const id3v2::TagInfo& tag) {
  std::vector<std::string> fields;
  for (const FieldValue& v : tag.fields) fields.push_back(Show(v));
  return fields;
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
bool HavePeers() {
  return !Output("command -v ffprobe && /usr/bin/python3 -c 'import mutagen.id3'").empty();
}
std::string FfprobeTags(const std::string& path) {
  return Output("ffprobe -v error -show_entries format_tags=title,artist -of default=nw=1 '" +
                path + "'");
}
std::string MutagenTags(const std::string& path) {
  return Output(
      "/usr/bin/python3 -c 'import sys, mutagen.id3 as m; t = m.ID3(sys.argv[1]); "
      "print(t.version[1], t[\"TIT2\"].text[0], t[\"TPE1\"].text[0])' '" +
      path + "'");
}

// The frames of a file's tag, less those of the given identifiers.
std::vector<std::pair<std::string, Bytes>> FramesBut(const Bytes& file,
                                                     const std::set<std::string>& ids) {
  std::vector<std::pair<std::string, Bytes>> kept;
  for (auto& frame : Frames(Bytes(file.begin(), file.begin() + long(TagSize(file))))) {
    if (!ids.count(frame.first)) kept.push_back(frame);
  }
  return kept;
}

struct Fixture {
  const char* name;
  int version;
  std::vector<std::string> fields;  // title, artist, album, year, comment, track, genre
};
const std::vector<Fixture> kFixtures = {
    {"id3v2_v24_ffmpeg.mp3",
     4,
     {"U:一首标题很长的中文歌曲名字超过三十个字节", "U:周杰伦", "U:十一月的萧邦", "U:2005", "",
      "U:3", "U:Pop"}},
    {"id3v2_v23_gbk.mp3",
     3,
     {"L:发如雪", "L:周杰伦", "L:十一月的萧邦", "L:2005", "L:好听的歌", "L:3/12", "L:Pop"}},
    {"id3v2_v23_unsync.mp3", 3, {"U:月亮代表我的心", "U:邓丽君", "", "U:1977", "", "", ""}},
    {"id3v2_v23_id3lib.mp3",
     3,
     {"L:Hello Song", "L:Some Artist", "L:First Album", "L:2001", "L:a comment", "L:7/12",
      "L:Rock"}},
};

}  // namespace

TEST(Id3v2Fixture, ReadsWhatEachToolWrote) {
  for (const Fixture& f : kFixtures) {
    SCOPED_TRACE(f.name);
    id3v2::TagInfo tag;
    TIDmp3 v1;
    ASSERT_TRUE(id3v2::ReadBothTags(testfiles::DataFile(f.name), v1, tag));
    EXPECT_EQ(tag.presence, id3v2::Presence::kTag);
    EXPECT_EQ(tag.version, f.version);
    EXPECT_EQ(size_t(tag.size), TagSize(ReadAll(testfiles::DataFile(f.name))));
    EXPECT_EQ(Shown(tag), f.fields);
  }
  // ffmpeg's ID3v1 block holds the title's UTF-8 bytes, cut at the slot's 30 bytes.
  TIDmp3 v1;
  id3v2::TagInfo unused;
  ASSERT_TRUE(id3v2::ReadBothTags(testfiles::DataFile("id3v2_v24_ffmpeg.mp3"), v1, unused));
  EXPECT_EQ(v1.Title, std::string("一首标题很长的中文歌曲名字超过三十个字节").substr(0, 30));
}

TEST(Id3v2Fixture, ARenderOfTitleAndArtistKeepsEverythingElse) {
  const bool peers = HavePeers();
  for (const Fixture& f : kFixtures) {
    SCOPED_TRACE(f.name);
    TempDir dir;
    const std::string path = dir.CopyData(f.name, "song.mp3");
    const Bytes before = ReadAll(path);
    id3v2::SavePlan plan;
    ASSERT_EQ(id3v2::PlanUpdate(
                  path, Set({{id3v2::kTitle, u"新标题 New"}, {id3v2::kArtist, u"歌手"}}), plan),
              id3v2::Result::kOk);
    WritePlan(path, plan);
    const Bytes after = ReadAll(path);

    EXPECT_EQ(Bytes(after.begin() + long(TagSize(after)), after.end()),
              Bytes(before.begin() + long(TagSize(before)), before.end()))
        << "the audio and the ID3v1 block";
    EXPECT_EQ(FramesBut(after, {"TIT2", "TPE1"}), FramesBut(before, {"TIT2", "TPE1"}));
    id3v2::TagInfo tag;
    ASSERT_TRUE(id3v2::ReadFromFile(path, tag));
    std::vector<std::string> expected = f.fields;
    expected[0] = "U:新标题 New";
    expected[1] = "U:歌手";
    EXPECT_EQ(Shown(tag), expected);
    EXPECT_EQ(tag.version, f.version);
    if (!peers) continue;
    EXPECT_EQ(FfprobeTags(path), "TAG:title=新标题 New\nTAG:artist=歌手\n");
    EXPECT_EQ(MutagenTags(path), std::to_string(f.version) + " 新标题 New 歌手\n");
  }
  if (!peers) GTEST_SKIP() << "ffprobe or /usr/bin/python3 with mutagen is missing";
}

TEST(Id3v2Fixture, ATitleLongerThanTheOldSlotSurvivesARenderOfTheArtist) {
  TempDir dir;
  const std::string path = dir.CopyData("id3v2_v24_ffmpeg.mp3", "song.mp3");
  id3v2::SavePlan plan;
  ASSERT_EQ(id3v2::PlanUpdate(path, Set({{id3v2::kArtist, u"歌手"}}), plan), id3v2::Result::kOk);
  WritePlan(path, plan);
  id3v2::TagInfo tag;
  ASSERT_TRUE(id3v2::ReadFromFile(path, tag));
  EXPECT_EQ(Show(tag.fields[id3v2::kTitle]), kFixtures[0].fields[0]);
}

TEST(Id3v2Fixture, LegacyTextBecomesUnicodeAndTheRestStays) {
  TempDir dir;
  const std::string path = dir.CopyData("id3v2_v23_gbk.mp3", "song.mp3");
  const Bytes before = ReadAll(path);
  id3v2::SavePlan plan;
  size_t converted = 0;
  // A decoder that accepts nothing leaves every frame as it was.
  const auto refuse = [](std::string_view, std::u16string&) { return false; };
  ASSERT_EQ(id3v2::PlanConversion(path, refuse, plan, converted), id3v2::Result::kOk);
  EXPECT_EQ(converted, 0u);
  EXPECT_EQ(Frames(plan.newTag), Frames(plan.oldTag));

  ASSERT_EQ(id3v2::PlanConversion(path, DecodeGbk, plan, converted), id3v2::Result::kOk);
  EXPECT_EQ(converted, 5u) << "title, artist, album, the comment and the lyrics";
  EXPECT_TRUE(plan.InPlace());
  WritePlan(path, plan);
  const std::set<std::string> changed = {"TIT2", "TPE1", "TALB", "COMM", "USLT"};
  EXPECT_EQ(FramesBut(ReadAll(path), changed), FramesBut(before, changed));
  id3v2::TagInfo tag;
  ASSERT_TRUE(id3v2::ReadFromFile(path, tag));
  EXPECT_EQ(Shown(tag), (std::vector<std::string>{"U:发如雪", "U:周杰伦", "U:十一月的萧邦",
                                                  "L:2005", "U:好听的歌", "L:3/12", "L:Pop"}));
  if (!HavePeers()) GTEST_SKIP() << "ffprobe or /usr/bin/python3 with mutagen is missing";
  EXPECT_EQ(FfprobeTags(path), "TAG:title=发如雪\nTAG:artist=周杰伦\n");
  EXPECT_EQ(Output("/usr/bin/python3 -c 'import sys, mutagen.id3 as m; t = m.ID3(sys.argv[1]); "
                   "print(t[\"USLT::chi\"].text, t[\"COMM:iTunNORM:eng\"].text[0])' '" +
                   path + "'"),
            "狼牙月 伊人憔悴  00000A1B 00000B2C\n");
}

TEST(Id3v2Fixture, AFileWithoutATagGetsANewOneBeforeItsAudio) {
  TempDir dir;
  const std::string path = dir.CopyData("mp3_v11_gbk.mp3", "song.mp3");
  const Bytes before = ReadAll(path);
  id3v2::SavePlan plan;
  EXPECT_EQ(id3v2::PlanUpdate(path, Set({{id3v2::kTitle, u"x"}}), plan), id3v2::Result::kNoTag);
  ASSERT_EQ(id3v2::PlanNewTag(path,
                              Set({{id3v2::kTitle, u"发如雪"},
                                   {id3v2::kArtist, u"周杰伦"},
                                   {id3v2::kYear, u"2005"},
                                   {id3v2::kComment, u""}}),
                              plan),
            id3v2::Result::kOk);
  EXPECT_TRUE(plan.oldTag.empty());
  struct stat st {};
  ::stat(path.c_str(), &st);
  EXPECT_EQ(plan.newTag.size() % size_t(platform::ShareableBlock(st.st_blksize)), 0u);
  WritePlan(path, plan);
  EXPECT_EQ(id3v2::PlanNewTag(path, {}, plan), id3v2::Result::kHasTag);
  const Bytes after = ReadAll(path);
  EXPECT_EQ(Bytes(after.begin() + long(TagSize(after)), after.end()), before);
  id3v2::TagInfo tag;
  ASSERT_TRUE(id3v2::ReadFromFile(path, tag));
  EXPECT_EQ(Shown(tag),
            (std::vector<std::string>{"U:发如雪", "U:周杰伦", "", "U:2005", "", "", ""}));
  if (!HavePeers()) GTEST_SKIP() << "ffprobe or /usr/bin/python3 with mutagen is missing";
  EXPECT_EQ(FfprobeTags(path), "TAG:title=发如雪\nTAG:artist=周杰伦\n");
  EXPECT_EQ(MutagenTags(path), "3 发如雪 周杰伦\n");
}
