// Items 1 and 4: the ID3v1 tags of many small MP3 files, read and saved by TIDmp3, by the system
// call floor and by TagLib.
#include <id3v1tag.h>
#include <mpegfile.h>
#include <tstring.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Floors.h"
#include "Items.h"
#include "tags/mp3/TMp3Tag.h"

namespace bench {
namespace {

// The audio: ten MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz, no padding, 417 bytes each) with
// pseudo-random payloads. A file that starts with a valid frame, as real MP3 files do, spares a
// reader that looks for other tags a scan for frame headers.
constexpr size_t kFrameBytes = 417;
constexpr size_t kFrames = 10;
constexpr size_t kAudioBytes = kFrameBytes * kFrames;

// A 128-byte ID3v1 block with texts that differ from file to file: ASCII, and GBK bytes in every
// third file; an ID3v1.1 track byte in every other file.
TagBlock MakeBlock(size_t i) {
  TagBlock b{};
  std::memcpy(b.data(), "TAG", 3);
  char text[31];
  std::snprintf(text, sizeof text, "Title %05zu", i);
  std::memcpy(b.data() + 3, text, std::strlen(text));
  if (i % 3 == 0) {
    std::memcpy(b.data() + 33, "\xB8\xE8\xCA\xD6 \xC3\xFB", 7);  // GBK "歌手 名"
  } else {
    std::snprintf(text, sizeof text, "Artist %zu", i % 97);
    std::memcpy(b.data() + 33, text, std::strlen(text));
  }
  std::snprintf(text, sizeof text, "Album %zu", i % 13);
  std::memcpy(b.data() + 63, text, std::strlen(text));
  std::snprintf(text, sizeof text, "%04zu", 1970 + i % 50);
  std::memcpy(b.data() + 93, text, 4);
  std::memcpy(b.data() + 97, "comment", 7);
  if (i % 2 == 0) b[126] = static_cast<uint8_t>(1 + i % 20);
  b[127] = static_cast<uint8_t>(i % 148);
  return b;
}

// What every reader must agree on: TIDmp3 and TagLib decode the same titles.
void CheckAgreement(const std::vector<std::string>& paths) {
  TIDmp3 tag;
  for (size_t i = 0; i < paths.size(); i += 97) {
    TagLib::MPEG::File f(paths[i].c_str(), false);
    TagLib::ID3v1::Tag* t = f.ID3v1Tag(false);
    if (!tag.ReadFromFile(paths[i]) || !tag.HasTag || t == nullptr ||
        tag.Title != t->title().to8Bit(false) || tag.Track != t->track()) {
      Die("TIDmp3 and TagLib read " + paths[i] + " differently");
    }
  }
}

}  // namespace

std::vector<std::string> MakeMp3Corpus(const TempDir& dir, size_t files) {
  std::vector<std::string> paths;
  Random random(1);
  std::string bytes(kAudioBytes + 128, '\0');
  for (size_t i = 0; i < files; ++i) {
    random.Fill(bytes.data(), kAudioBytes);
    for (size_t f = 0; f < kFrames; ++f) {
      std::memcpy(bytes.data() + f * kFrameBytes, "\xFF\xFB\x90\x64", 4);
    }
    TagBlock b = MakeBlock(i);
    std::memcpy(bytes.data() + kAudioBytes, b.data(), b.size());
    char name[32];
    std::snprintf(name, sizeof name, "track-%05zu.mp3", i);
    paths.push_back(dir.File(name));
    WriteFile(paths.back(), bytes);
  }
  return paths;
}

namespace {

void ReadItem(const Config& config, const std::vector<std::string>& paths, Table& table) {
  const size_t n = paths.size();
  auto Files = [&](size_t part) { return PartOf(paths, part, config.parts); };
  TIDmp3 tag;
  std::vector<Side> reads = {
      {"TIDmp3::ReadFromFile",
       [&](size_t part) {
         uint64_t found = 0;
         for (const auto& p : Files(part)) found += tag.ReadFromFile(p) && tag.HasTag;
         return found;
       },
       {}},
      {"floor: open+fstat+pread 128+close",
       [&](size_t part) {
         uint64_t found = 0;
         unsigned char block[128];
         bool tagged = false;
         for (const auto& p : Files(part)) {
           found += floors::ReadLastBlock(p.c_str(), block, tagged) && tagged;
         }
         return found;
       },
       {}},
      {"TagLib MPEG::File, ID3v1, no audio properties",
       [&](size_t part) {
         uint64_t found = 0;
         for (const auto& p : Files(part)) {
           TagLib::MPEG::File f(p.c_str(), false);
           TagLib::ID3v1::Tag* t = f.ID3v1Tag(false);
           found += t != nullptr && !t->isEmpty();
         }
         return found;
       },
       {}},
  };
  Timings r = Alternate(reads, config.rounds, config.parts);
  for (uint64_t c : r.checksums) {
    if (c != n) Die("item 1: a reader missed tags");
  }
  std::string item = "1 MP3 read, " + CountOf(n, "files");
  table.Add({item, PerFile(r.Median(0), n), reads[1].name, PerFile(r.Median(1), n),
             RatioRange(r, 0, 1), "<= 1.3x", Verdict(r.Ratio(0, 1), 1.3)});
  table.Add({"", "", reads[2].name, PerFile(r.Median(2), n), RatioRange(r, 0, 2), "", ""});
}

void SaveItem(const Config& config, const std::vector<std::string>& allPaths, Table& table) {
  // Each save waits for the disk, so fewer files than the reads take.
  const std::vector<std::string> paths(
      allPaths.begin(), allPaths.begin() + std::min(config.mp3SaveFiles, allPaths.size()));
  const size_t n = paths.size();
  auto Files = [&](size_t part) { return PartOf(paths, part, config.parts); };

  // Item 4: saves. Every file has a tag, so every side writes over the last 128 bytes in place.
  TIDmp3 edit;
  edit.SetTitle("Saved title");
  edit.SetArtist("\xB8\xE8\xCA\xD6");
  edit.SetAlbum("Saved album");
  edit.SetYear("2024");
  edit.SetComment("saved");
  edit.SetTrack(7);
  edit.SetGenreID(13);
  const TagBlock fresh = EncodeBlock(edit);
  std::vector<Side> saves = {
      {"TIDmp3::SaveToFile",
       [&](size_t part) {
         uint64_t ok = 0;
         for (const auto& p : Files(part)) ok += edit.SaveToFile(p);
         return ok;
       },
       {}},
      {"floor: open+fstat+pwrite 128+fdatasync+close",
       [&](size_t part) {
         uint64_t ok = 0;
         for (const auto& p : Files(part)) {
           ok += floors::WriteLastBlockFlushed(p.c_str(), fresh.data());
         }
         return ok;
       },
       {}},
      {"floor: open+fstat+pwrite 128+close (no flush)",
       [&](size_t part) {
         uint64_t ok = 0;
         for (const auto& p : Files(part)) ok += floors::WriteLastBlock(p.c_str(), fresh.data());
         return ok;
       },
       {}},
      {"floor without flush, one syncfs per " + std::to_string(n / config.parts) + " files",
       [&](size_t part) {
         uint64_t ok = 0;
         const auto files = Files(part);
         for (const auto& p : files) ok += floors::WriteLastBlock(p.c_str(), fresh.data());
         if (files.begin() != files.end() && !floors::SyncFileSystemOf(files.begin()->c_str())) {
           ok = 0;
         }
         return ok;
       },
       {}},
      {"TagLib MPEG::File::save, ID3v1 only (no flush)",
       [&](size_t part) {
         uint64_t ok = 0;
         for (const auto& p : Files(part)) {
           TagLib::MPEG::File f(p.c_str(), false);
           TagLib::ID3v1::Tag* t = f.ID3v1Tag(true);
           t->setTitle("Saved title");
           t->setAlbum("Saved album");
           t->setTrack(7);
           ok += f.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripNone);
         }
         return ok;
       },
       {}},
  };
  Timings s = Alternate(saves, config.rounds, config.parts);
  for (uint64_t c : s.checksums) {
    if (c != n) Die("item 4: a save failed");
  }
  for (size_t i = 0; i < n; i += 997) {
    if (ReadFile(paths[i]).size() != kAudioBytes + 128) Die("item 4: a save changed a file's size");
  }
  std::string item = "4 MP3 save, " + CountOf(n, "files");
  table.Add({item, PerFile(s.Median(0), n), saves[1].name, PerFile(s.Median(1), n),
             RatioRange(s, 0, 1), "", ""});
  for (size_t k = 2; k < saves.size(); ++k) {
    table.Add({"", "", saves[k].name, PerFile(s.Median(k), n), RatioRange(s, 0, k), "", ""});
  }
}

}  // namespace

void BenchMp3(const Config& config, Table& table) {
  TempDir dir(config.tmp, "velomi-bench-mp3");
  const std::vector<std::string> paths = MakeMp3Corpus(dir, config.mp3Files);
  CheckAgreement(paths);
  if (config.mp3Read) ReadItem(config, paths, table);
  if (config.mp3Save) SaveItem(config, paths, table);
}

}  // namespace bench
