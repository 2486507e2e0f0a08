// Item 10: both tags of many MP3 files, an ID3v2 tag at the start and an ID3v1 block at the end,
// read by the tag code, by the system call floor and by TagLib.
#include <id3v1tag.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <tstring.h>

#include <cstdio>
#include <cstring>

#include "Floors.h"
#include "Items.h"
#include "tags/id3v2/TId3v2Tag.h"
#include "tags/mp3/TMp3Tag.h"

namespace bench {
namespace {

constexpr size_t kFrameBytes = 417;  // MPEG-1 Layer III, 128 kbit/s, 44.1 kHz
constexpr size_t kFrames = 10;
constexpr size_t kCoverBytes = 16 * 1024;

std::string Be32(size_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
std::string Frame(const char* id, const std::string& body) {
  return std::string(id, 4) + Be32(body.size()) + std::string(2, '\0') + body;
}
std::string Latin1(const std::string& bytes) { return std::string(1, '\0') + bytes; }
// UTF-16 with a byte order mark, for ASCII text.
std::string Utf16(const std::string& ascii) {
  std::string b = "\x01\xFF\xFE";
  for (char c : ascii) b += std::string{c, '\0'};
  return b;
}

// An ID3v2.3 tag as taggers write them: the text frames, GBK bytes in Latin-1 frames in every
// third file and UTF-16 in the others, a comment in every other file, a cover of 16 KiB after the
// text frames in every tenth, and 1 KiB of padding.
std::string MakeTag(size_t i) {
  char text[64];
  std::snprintf(text, sizeof text, "Title %05zu", i);
  std::string frames = i % 3 == 0
                           ? Frame("TIT2", Latin1("\xB7\xA2\xC8\xE7\xD1\xA9 " + std::string(text)))
                           : Frame("TIT2", Utf16(text));
  std::snprintf(text, sizeof text, "Artist %zu", i % 97);
  frames +=
      i % 3 == 0 ? Frame("TPE1", Latin1("\xD6\xDC\xBD\xDC\xC2\xD7")) : Frame("TPE1", Utf16(text));
  std::snprintf(text, sizeof text, "Album %zu", i % 13);
  frames += Frame("TALB", Utf16(text));
  std::snprintf(text, sizeof text, "%04zu", 1970 + i % 50);
  frames += Frame("TYER", Latin1(text));
  std::snprintf(text, sizeof text, "%zu/12", 1 + i % 12);
  frames += Frame("TRCK", Latin1(text));
  frames += Frame("TCON", Latin1("(13)"));
  if (i % 2 == 0) frames += Frame("COMM", Latin1(std::string("eng\0a comment", 13)));
  if (i % 10 == 0) {
    frames +=
        Frame("APIC", std::string("\0image/jpeg\0\x03\0", 14) + std::string(kCoverBytes, 'c'));
  }
  const size_t size = frames.size() + 1024;
  const std::string header = std::string("ID3\x03\0\0", 6) +
                             std::string{char((size >> 21) & 0x7F), char((size >> 14) & 0x7F),
                                         char((size >> 7) & 0x7F), char(size & 0x7F)};
  return header + frames + std::string(1024, '\0');
}

}  // namespace

std::vector<std::string> MakeId3v2Corpus(const TempDir& dir, size_t files, bool withId3v2) {
  std::vector<std::string> paths;
  Random random(2);
  std::string audio(kFrameBytes * kFrames, '\0');
  for (size_t i = 0; i < files; ++i) {
    random.Fill(audio.data(), audio.size());
    for (size_t f = 0; f < kFrames; ++f)
      std::memcpy(&audio[f * kFrameBytes], "\xFF\xFB\x90\x64", 4);
    std::string block(128, '\0');
    std::memcpy(&block[0], "TAG", 3);
    std::snprintf(&block[3], 30, "Title %05zu", i);
    block[127] = char(i % 148);
    char name[32];
    std::snprintf(name, sizeof name, withId3v2 ? "track-%05zu.mp3" : "plain-%05zu.mp3", i);
    paths.push_back(dir.File(name));
    WriteFile(paths.back(), (withId3v2 ? MakeTag(i) : std::string()) + audio + block);
  }
  return paths;
}

namespace {

// The title as the tag code gives it, as wide text (Latin-1 bytes widened one by one, as TagLib
// reads them).
std::wstring TitleOf(const id3v2::TagInfo& tag) {
  const id3v2::FieldValue& v = tag.fields[id3v2::kTitle];
  if (v.kind == id3v2::FieldValue::kLatin1)
    return std::wstring(reinterpret_cast<const unsigned char*>(v.latin1.data()),
                        reinterpret_cast<const unsigned char*>(v.latin1.data()) + v.latin1.size());
  return std::wstring(v.text.begin(), v.text.end());
}

// What every reader must agree on: the tag code and TagLib read the same titles from both tags.
void CheckAgreement(const std::vector<std::string>& paths) {
  TIDmp3 v1;
  id3v2::TagInfo v2;
  for (size_t i = 0; i < paths.size(); i += 97) {
    TagLib::MPEG::File f(paths[i].c_str(), false);
    TagLib::ID3v1::Tag* t1 = f.ID3v1Tag(false);
    TagLib::ID3v2::Tag* t2 = f.ID3v2Tag(false);
    if (!id3v2::ReadBothTags(paths[i], v1, v2) || t1 == nullptr || t2 == nullptr ||
        v1.Title != t1->title().to8Bit(false) || TitleOf(v2) != t2->title().toWString() ||
        v2.fields[id3v2::kGenre].latin1 != "Pop") {
      Die("the tag code and TagLib read " + paths[i] + " differently");
    }
  }
}

}  // namespace

void BenchId3v2(const Config& config, Table& table) {
  TempDir dir(config.tmp, "velomi-bench-id3v2");
  const std::vector<std::string> paths = MakeId3v2Corpus(dir, config.mp3Files, true);
  CheckAgreement(paths);
  const size_t n = paths.size();
  auto Files = [&](size_t part) { return PartOf(paths, part, config.parts); };
  TIDmp3 v1;
  id3v2::TagInfo v2;
  std::vector<Side> reads = {
      {"id3v2::ReadBothTags",
       [&](size_t part) {
         uint64_t found = 0;
         for (const auto& p : Files(part)) {
           found += id3v2::ReadBothTags(p, v1, v2) && v1.HasTag &&
                    v2.fields[id3v2::kTitle].kind != id3v2::FieldValue::kAbsent;
         }
         return found;
       },
       {}},
      {"floor: open+fstat+pread 4096+pread 128+close",
       [&](size_t part) {
         uint64_t found = 0;
         unsigned char first[4096], block[128];
         bool tagged = false;
         for (const auto& p : Files(part)) {
           found += floors::ReadFirstAndLastBlock(p.c_str(), first, block, tagged) && tagged;
         }
         return found;
       },
       {}},
      {"TagLib MPEG::File, ID3v2 and ID3v1, no audio properties",
       [&](size_t part) {
         uint64_t found = 0;
         for (const auto& p : Files(part)) {
           TagLib::MPEG::File f(p.c_str(), false);
           TagLib::ID3v1::Tag* t1 = f.ID3v1Tag(false);
           TagLib::ID3v2::Tag* t2 = f.ID3v2Tag(false);
           found += t1 != nullptr && t2 != nullptr && !t2->title().isEmpty();
         }
         return found;
       },
       {}},
  };
  Timings r = Alternate(reads, config.rounds, config.parts);
  for (uint64_t c : r.checksums) {
    if (c != n) Die("item 10: a reader missed tags");
  }
  std::string item = "10 MP3 read, both tags, " + CountOf(n, "files");
  table.Add({item, PerFile(r.Median(0), n), reads[1].name, PerFile(r.Median(1), n),
             RatioRange(r, 0, 1), "<= 1.3x", Verdict(r.Ratio(0, 1), 1.3)});
  table.Add({"", "", reads[2].name, PerFile(r.Median(2), n), RatioRange(r, 0, 2), "", ""});
}

}  // namespace bench
