// velomi_bench_legacy: how many files of a mixed library read right in players after one
// conversion, per kind of legacy text, with the GBK-only reading the conversion had before and
// with the detection. Builds the library in a temporary folder, converts each file as the core's
// plans do (the plan, then the tag it writes), and judges each file as players show it: the
// ID3v2 tag's title and artist when it has them (a Latin-1 frame as Latin-1), else the ID3v1
// block as Latin-1. A file that read right before must also be byte for byte untouched.
#include <unistd.h>
#include <QStringDecoder>
#include <QStringEncoder>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/fields/Id3v2Fields.h"
#include "core/plans/Plans.h"
#include "core/text/Gbk.h"
#include "tags/id3v2/TId3v2Tag.h"
#include "tags/mp3/TMp3Tag.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---- Names and titles of each script, combined into many songs.

struct Names {
  std::vector<const char*> titles, artists;
};
const Names kSimplified = {
    {"七里香",       "晴天",     "稻香",   "夜曲",     "青花瓷", "简单爱",     "东风破",
     "说好的幸福呢", "菊花台",   "老男孩", "平凡之路", "演员",   "小苹果",     "成都",
     "那些年",       "匆匆那年", "后来",   "红豆",     "传奇",   "突然好想你", "倔强",
     "知足",         "丑八怪",   "生僻字", "水手"},
    {"周杰伦", "王菲", "林俊杰", "薛之谦", "筷子兄弟", "朴树", "李健", "许嵩", "汪峰", "张靓颖",
     "赵雷", "胡夏", "王力宏", "五月天", "郑智化"}};
const Names kTraditional = {
    {"愛你",     "情非得已", "童話",   "至少還有你", "鐵窗", "真的愛你", "光輝歲月",
     "千千闕歌", "一生何求", "喜歡你", "講不出再見", "紅日", "富士山下", "淘汰",
     "浮誇",     "好久不見", "小情歌", "遇見",       "倒數", "說愛你"},
    {"張學友", "劉德華", "黎明", "郭富城", "陳奕迅", "蘇打綠", "孫燕姿", "蔡依林", "鄧紫棋",
     "張國榮", "梅艷芳", "譚詠麟", "李克勤", "王傑", "羅大佑"}};
const Names kJapanese = {{"春よ、来い",   "ありがとう",      "世界に一つだけの花",
                          "桜坂",         "涙そうそう",      "チェリー",
                          "ロビンソン",   "小さな恋のうた",  "天体観測",
                          "栄光の架橋",   "ハナミズキ",      "糸",
                          "島唄",         "紅蓮華",          "怪物",
                          "白日",         "マリーゴールド",  "レモン",
                          "夜空ノムコウ", "赤いスイートピー"},
                         {"松任谷由実", "いきものがかり", "福山雅治", "スピッツ", "一青窈",
                          "中島みゆき", "米津玄師", "あいみょん", "松田聖子", "嵐", "宇多田ヒカル",
                          "浜崎あゆみ", "安室奈美恵", "King Gnu", "サザンオールスターズ"}};
const Names kWestern = {
    {"Café del Mar",
     "Jóga",
     "Hyperballad",
     "Mañana",
     "Déjà vu",
     "Amélie",
     "Für Elise",
     "Hoppípolla",
     "Señorita",
     "Canção do Mar",
     "Dónde Estás Corazón",
     "Niña Bonita",
     "Les Champs-Élysées",
     "Dans la peau",
     "Über den Wolken",
     "Tränen lügen nicht",
     "À quoi ça sert",
     "Je t'aime… moi non plus",
     "Cœur de pirate",
     "Ça plane pour moi"},
    {"Björk", "Mötley Crüe", "Sigur Rós", "Beyoncé", "Plácido Domingo", "Céline Dion",
     "Mylène Farmer", "Motörhead", "Françoise Hardy", "Édith Piaf", "Mägo de Oz", "Röyksopp",
     "Hüsker Dü", "José González", "Maître Gims"}};

struct Song {
  QString title, artist;
};
std::vector<Song> Songs(const Names& names, size_t count) {
  std::vector<Song> songs;
  for (size_t i = 0; i < count; ++i) {
    songs.push_back({QString::fromUtf8(names.titles[i % names.titles.size()]),
                     QString::fromUtf8(names.artists[(i * 7 + i / 5) % names.artists.size()])});
  }
  return songs;
}

std::string Encode(const char* codec, const QString& text) {
  QStringEncoder encoder(codec);
  const QByteArray bytes = encoder.encode(text);
  return bytes.toStdString();
}
QString AsCp1252(const std::string& bytes) {
  QStringDecoder decoder("windows-1252");
  return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

// ---- Files

void Append(Bytes& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }
void Be(Bytes& out, uint32_t v, int width) {
  for (int i = width - 1; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}
Bytes Frame(const std::string& id, const Bytes& body) {
  Bytes f;
  Append(f, id);
  Be(f, uint32_t(body.size()), 4);
  Be(f, 0, 2);
  f.insert(f.end(), body.begin(), body.end());
  return f;
}
Bytes Latin1(const std::string& bytes) {
  Bytes b{0};
  Append(b, bytes);
  return b;
}
Bytes Utf16(const QString& text) {
  Bytes b{1, 0xFF, 0xFE};
  for (QChar c : text) {
    b.push_back(uint8_t(c.unicode()));
    b.push_back(uint8_t(c.unicode() >> 8));
  }
  return b;
}
Bytes Tag(const Bytes& frames) {
  const size_t size = frames.size() + 512;
  Bytes t{'I', 'D', '3', 3, 0, 0};
  for (int shift : {21, 14, 7, 0}) t.push_back(uint8_t((size >> shift) & 0x7F));
  t.insert(t.end(), frames.begin(), frames.end());
  t.resize(t.size() + 512, 0);
  return t;
}
Bytes Audio() {
  Bytes a;
  for (int i = 0; i < 4; ++i) {
    a.insert(a.end(), {0xFF, 0xFB, 0x90, 0x64});
    a.resize(a.size() + 413, uint8_t(i));
  }
  return a;
}
Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
void WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}
void Write(const std::string& path, const id3v2::SavePlan& plan) {
  const Bytes file = ReadAll(path);
  Bytes out(plan.newTag.begin(), plan.newTag.end());
  out.insert(out.end(), file.begin() + static_cast<long>(plan.oldTag.size()), file.end());
  WriteAll(path, out);
}

// ---- The kinds of the library

// kBlockBehindEncoder: the ID3v1 block, behind an ID3v2 tag that holds only the encoder's name
// (what ffmpeg and many rippers write).
enum class Where { kBlock, kLatin1Frames, kUnicodeFrames, kBlockBehindEncoder };
struct Kind {
  const char* name;
  const Names* names;
  const char* codec;  // how the text was written; "UTF-16" for correct Unicode frames
  Where where;
  bool mojibake = false;  // the codec's bytes read as CP1252 and stored in UTF-16 frames
};
const Kind kKinds[] = {
    {"GBK in the ID3v1 block", &kSimplified, "GBK", Where::kBlock},
    {"GBK in Latin-1 frames", &kSimplified, "GBK", Where::kLatin1Frames},
    {"GBK in the ID3v1 block, encoder's ID3v2", &kSimplified, "GBK", Where::kBlockBehindEncoder},
    {"Big5 in the ID3v1 block", &kTraditional, "Big5", Where::kBlock},
    {"Big5 in Latin-1 frames", &kTraditional, "Big5", Where::kLatin1Frames},
    {"Shift-JIS in the ID3v1 block", &kJapanese, "Shift_JIS", Where::kBlock},
    {"Shift-JIS in Latin-1 frames", &kJapanese, "Shift_JIS", Where::kLatin1Frames},
    {"UTF-8 in the ID3v1 block", &kSimplified, "UTF-8", Where::kBlock},
    {"Western text in the ID3v1 block", &kWestern, "windows-1252", Where::kBlock},
    {"Western text in Latin-1 frames", &kWestern, "windows-1252", Where::kLatin1Frames},
    {"correct Unicode frames", &kTraditional, "UTF-16", Where::kUnicodeFrames},
    {"GBK stored as CP1252 in UTF-16", &kSimplified, "GBK", Where::kUnicodeFrames, true},
    {"Big5 stored as CP1252 in UTF-16", &kTraditional, "Big5", Where::kUnicodeFrames, true},
    {"Shift-JIS stored as CP1252 in UTF-16", &kJapanese, "Shift_JIS", Where::kUnicodeFrames, true},
};

void MakeFile(const std::string& path, const Kind& kind, const Song& song) {
  Bytes file;
  TIDmp3 v1;
  if (kind.where == Where::kBlock || kind.where == Where::kBlockBehindEncoder) {
    v1.Title = Encode(kind.codec, song.title).substr(0, 30);
    v1.Artist = Encode(kind.codec, song.artist).substr(0, 30);
    if (kind.where == Where::kBlockBehindEncoder)
      file = Tag(Frame("TSSE", Latin1("Lavf58.76.100")));
  } else {
    v1.Title = "Track";
    Bytes frames;
    for (const auto& [id, text] : {std::pair{"TIT2", song.title}, std::pair{"TPE1", song.artist}}) {
      if (kind.where == Where::kLatin1Frames) {
        const Bytes f = Frame(id, Latin1(Encode(kind.codec, text)));
        frames.insert(frames.end(), f.begin(), f.end());
      } else {
        const QString shown = kind.mojibake ? AsCp1252(Encode(kind.codec, text)) : text;
        const Bytes f = Frame(id, Utf16(shown));
        frames.insert(frames.end(), f.begin(), f.end());
      }
    }
    file = Tag(frames);
  }
  const Bytes audio = Audio();
  file.insert(file.end(), audio.begin(), audio.end());
  const TagBlock block = EncodeBlock(v1);
  file.insert(file.end(), block.begin(), block.end());
  WriteAll(path, file);
}

// What players show of a field: the ID3v2 frame when there is one (Latin-1 as Latin-1), else the
// ID3v1 slot as Latin-1.
QString Shown(const id3v2::FieldValue& value, const std::string& slot) {
  switch (value.kind) {
    case id3v2::FieldValue::kUnicode:
      return QString::fromStdU16String(value.text).trimmed();
    case id3v2::FieldValue::kLatin1:
      return QString::fromLatin1(value.latin1.data(), qsizetype(value.latin1.size())).trimmed();
    case id3v2::FieldValue::kAbsent:
      break;
  }
  const std::string bytes = core::SlotBytes(slot);
  return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}
bool ReadsRight(const std::string& path, const Song& song) {
  TIDmp3 v1;
  id3v2::TagInfo v2;
  id3v2::ReadBothTags(path, v1, v2);
  return Shown(v2.fields[id3v2::kTitle], v1.Title) == song.title &&
         Shown(v2.fields[id3v2::kArtist], v1.Artist) == song.artist;
}

// The conversion as it was: GBK only, in Latin-1 frames and the ID3v1 block.
void ConvertGbkOnly(const std::string& path) {
  TIDmp3 v1;
  id3v2::TagInfo v2;
  id3v2::ReadBothTags(path, v1, v2);
  id3v2::SavePlan plan;
  size_t frames = 0;
  const auto gbkOnly = [](std::string_view bytes, std::u16string& text) {
    const std::string b(bytes);
    for (size_t i = 0; i < b.size(); ++i) {
      const auto c = static_cast<unsigned char>(b[i]);
      if (c < 0x80) continue;
      const auto t = i + 1 < b.size() ? static_cast<unsigned char>(b[i + 1]) : 0;
      if (c < 0x81 || c > 0xFE || t < 0x40 || t > 0xFE || t == 0x7F) return false;
      ++i;
    }
    const QString gbk = gbk::Decode(b);
    if (gbk.contains(QChar::ReplacementCharacter)) return false;
    text = gbk.toStdU16String();
    return true;
  };
  if (v2.presence == id3v2::Presence::kTag) {
    if (id3v2::PlanConversion(path, gbkOnly, plan, frames) == id3v2::Result::kOk && frames > 0) {
      Write(path, plan);
    }
    return;
  }
  const core::TrackFields shown = core::FieldsOf(v1);
  if (shown.title.toLatin1() == shown.title && shown.artist.toLatin1() == shown.artist &&
      std::string(shown.title.toLatin1()) == core::SlotBytes(v1.Title)) {
    return;  // ASCII only
  }
  id3v2::Changes fields;
  core::SetChange(fields, core::TagField::kTitle, shown.title);
  core::SetChange(fields, core::TagField::kArtist, shown.artist);
  if (id3v2::PlanNewTag(path, fields, plan) == id3v2::Result::kOk) Write(path, plan);
}

// The conversion with the detection, as the plan decides and the apply writes.
int ConvertDetected(const std::string& path) {
  const core::ConvertPlan plan = core::PlanConvert({path});
  const core::ConvertEntry& e = plan.entries[0];
  if (std::getenv("VELOMI_VERBOSE") && e.NeedsALook()) {
    std::fprintf(stderr, "%s\n", e.reason.toStdString().c_str());
  }
  if (e.status != core::ConvertStatus::kConvert) return e.NeedsALook() ? 1 : 0;
  id3v2::SavePlan save;
  size_t frames = 0;
  TIDmp3 v1;
  id3v2::TagInfo v2;
  id3v2::ReadBothTags(path, v1, v2);
  if (e.newTag) {
    if (id3v2::PlanNewTag(path, core::ConversionFieldsOf(v1, e.Decided()), save) ==
        id3v2::Result::kOk) {
      Write(path, save);
    }
  } else if (core::PlanTagConversion(path, v1, v2, e.Decided(), save, frames) ==
                 id3v2::Result::kOk &&
             frames > 0) {
    Write(path, save);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t perKind = argc > 1 ? std::stoul(argv[1]) : 40;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("velomi-legacy-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::printf("%-38s %6s %8s %8s %8s %9s\n", "what the files hold", "files", "before", "after",
              "a look", "worse");
  size_t total = 0, before = 0, after = 0, looks = 0, worse = 0;
  std::vector<std::string> library;  // one file of each kind and song, as it was made
  for (const Kind& kind : kKinds) {
    const std::vector<Song> songs = Songs(*kind.names, perKind);
    size_t okBefore = 0, okAfter = 0, look = 0, bad = 0;
    for (size_t i = 0; i < songs.size(); ++i) {
      const std::string a = (dir / ("a" + std::to_string(i) + ".mp3")).string();
      const std::string b = (dir / ("b" + std::to_string(i) + ".mp3")).string();
      MakeFile(a, kind, songs[i]);
      MakeFile(b, kind, songs[i]);
      library.push_back((dir / ("lib" + std::to_string(library.size()) + ".mp3")).string());
      MakeFile(library.back(), kind, songs[i]);
      const bool rightAtFirst = ReadsRight(a, songs[i]);
      const Bytes original = ReadAll(a);
      ConvertGbkOnly(a);
      look += ConvertDetected(b);
      okBefore += ReadsRight(a, songs[i]);
      const bool right = ReadsRight(b, songs[i]);
      okAfter += right;
      // Worse: a file that read right reads wrong, or is no longer byte for byte the same.
      bad += rightAtFirst && (!right || ReadAll(b) != original);
      if (std::getenv("VELOMI_VERBOSE") && !right) {
        std::fprintf(stderr, "%s: %s / %s\n", kind.name, songs[i].title.toStdString().c_str(),
                     songs[i].artist.toStdString().c_str());
      }
    }
    std::printf("%-38s %6zu %7.0f%% %7.0f%% %8zu %9zu\n", kind.name, songs.size(),
                100.0 * double(okBefore) / double(songs.size()),
                100.0 * double(okAfter) / double(songs.size()), look, bad);
    total += songs.size();
    before += okBefore;
    after += okAfter;
    looks += look;
    worse += bad;
  }
  // What the detection costs beside reading the tags, over the whole library (warm cache).
  const auto seconds = [&](bool detect) {
    const auto start = std::chrono::steady_clock::now();
    size_t any = 0;
    for (const std::string& path : library) {
      TIDmp3 v1;
      id3v2::TagInfo v2;
      id3v2::ReadBothTags(path, v1, v2);
      if (detect) any += core::DetectLegacy(v1, v2).any;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count() + double(any) * 0.0;
  };
  seconds(true);
  const double read = seconds(false), detected = seconds(true);
  const auto planStart = std::chrono::steady_clock::now();
  core::PlanConvert(library);
  const std::chrono::duration<double> plan = std::chrono::steady_clock::now() - planStart;
  std::printf(
      "over %zu files: reading both tags %.3f s, with the detection %.3f s; the plan %.3f s\n",
      library.size(), read, detected, plan.count());
  std::printf("%-38s %6zu %7.1f%% %7.1f%% %8zu %9zu\n", "all", total,
              100.0 * double(before) / double(total), 100.0 * double(after) / double(total), looks,
              worse);
  std::filesystem::remove_all(dir);
  return 0;
}
