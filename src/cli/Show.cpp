// `show`: each file's tag as text for a person, or as one JSON document. The output is UTF-8
// built in one buffer and written in large pieces; a run over many files does no more per file
// than read its tag and format its texts.
#include <QString>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <iterator>

#include "Cli.h"
#include "Commands.h"
#include "core/fields/Fields.h"
#include "core/fields/Id3v2Fields.h"
#include "core/plans/Plans.h"
#include "core/text/Rules.h"
#include "core/utils/Reasons.h"
#include "tags/id3v2/TId3v2Tag.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

namespace cli {
namespace {

// Standard output in pieces of at least 64 KiB.
class Output {
 public:
  ~Output() { Flush(); }
  std::string& Buffer() { return buffer_; }
  void MaybeFlush() {
    if (buffer_.size() >= 65536) Flush();
  }
  void Flush() {
    std::fwrite(buffer_.data(), 1, buffer_.size(), stdout);
    buffer_.clear();
  }

 private:
  std::string buffer_;
};

void Append(std::string& out, const QString& text) { out += text.toUtf8().toStdString(); }

// A path as a person reads it: its bytes when they are UTF-8, else as the file system's names are
// shown, with the system's separator.
void AppendPath(std::string& out, const std::string& path) {
  if (rules::IsUtf8(path)) {
    out += path;
#ifdef _WIN32
    std::replace(out.end() - static_cast<std::ptrdiff_t>(path.size()), out.end(), '/', '\\');
#endif
  } else {
    Append(out, Shown(path));
  }
}

// ID3v1 texts are GBK, or UTF-8 where ffmpeg wrote them; ASCII reads the same in all. A slot's
// text ends at its first zero byte.
void SetFromGbk(std::string& utf8, const std::string& slot) {
  const std::string_view gbk = rules::Id3v1Bytes(slot);
  for (char c : gbk) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      utf8 = rules::FromId3v1Text(slot).toUtf8().toStdString();
      return;
    }
  }
  utf8.assign(gbk);
}

void SetFromUtf16(std::string& utf8, const std::u16string& text) {
  for (char16_t c : text) {
    if (c >= 0x80) {
      utf8 = rules::FromUtf16(text).toUtf8().toStdString();
      return;
    }
  }
  utf8.assign(text.begin(), text.end());
}

// A JSON string of UTF-8 text.
void AppendJson(std::string& out, const std::string& text) {
  out += '"';
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      static const char* const kShort[] = {"b", "t", "n", nullptr, "f", "r"};
      if (u >= 8 && u <= 13 && kShort[u - 8] != nullptr) {
        out += '\\';
        out += kShort[u - 8];
      } else {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
        out += escaped;
      }
    } else {
      out += c;
    }
  }
  out += '"';
}

// The labels of the fields, in UTF-8, translated once for a whole run.
struct Labels {
  std::string title, artist, album, year, comment, track, genre, copyright, url, userUrl, lyrics,
      encodedBy, version, format;
};
Labels MakeLabels() {
  auto l = [](const QString& text) { return text.toUtf8().toStdString(); };
  return {l(Cli::tr("Title")),    l(Cli::tr("Artist")),    l(Cli::tr("Album")),
          l(Cli::tr("Year")),     l(Cli::tr("Comment")),   l(Cli::tr("Track")),
          l(Cli::tr("Genre")),    l(Cli::tr("Copyright")), l(Cli::tr("URL")),
          l(Cli::tr("User URL")), l(Cli::tr("Lyrics")),    l(Cli::tr("Encoded by")),
          l(Cli::tr("Version")),  l(Cli::tr("Format"))};
}

// One field as shown: its key in JSON, its label for a person, its text in UTF-8.
struct ShownField {
  const char* key;
  const std::string* label;
  std::string value;
};

struct ShownTag {
  const char* format = "";  // "MP3", "WMA", or "" for a path that is neither
  std::vector<ShownField> fields;
  // An MP3 file: the ID3v1 block's version ("1.0", "1.1"; empty when the file has none), and the
  // ID3v2 tag at its start: its version ("2.3"; empty when it has none), whether it could be
  // read, and its fields that hold a text.
  std::string v1Version, v2Version;
  bool v2Readable = false;
  std::vector<ShownField> v2Fields;
  int track = 0;              // the number the track's text begins with, 0 when none
  bool trackIsNumber = true;  // the track's text is that number's digits, or empty
  int genreId = -1;           // the ID3v1 genre byte: an MP3 file's, or the genre a WMA name names
  QString error;              // why the tag could not be read
  // The fields players show garbled (legacy text): their key, label, what players show and our
  // reading.
  struct Garbled {
    const char* key;
    const std::string* label;
    std::string players, reading;
  };
  std::vector<Garbled> garbled;
};

// The fields of a tag just read that players show garbled.
void SetGarbled(ShownTag& shown, core::TagKind kind, const TIDmp3& mp3, const TIDwma& wma,
                const id3v2::TagInfo& start) {
  shown.garbled.clear();
  for (const core::ConvertText& t : core::GarbledTexts(kind, mp3, wma, start)) {
    for (const ShownField& f : shown.fields) {
      if (std::string_view(f.key) != core::InfoOf(t.field).key) continue;
      shown.garbled.push_back(
          {f.key, f.label, t.now.toUtf8().toStdString(), t.after.toUtf8().toStdString()});
    }
  }
}

// The genre byte that a WMA genre's name stands for, any letter case; -1 for none.
int GenreIdOfName(const std::u16string& name) {
  if (name.empty() || name.size() > 32) return -1;
  for (size_t i = 0; i < ID3Genres.size(); ++i) {
    const std::string_view g = ID3Genres[i];
    if (g.size() != name.size()) continue;
    bool same = true;
    for (size_t k = 0; k < g.size() && same; ++k) {
      const char16_t c = name[k];
      same = c < 0x80 &&
             std::tolower(static_cast<int>(c)) == std::tolower(static_cast<unsigned char>(g[k]));
    }
    if (same) return static_cast<int>(i);
  }
  return -1;
}

// The tag as the window shows it: MP3 texts decoded from GBK, the track number, the genre's name.
// `shown` is reused from file to file, so that its texts keep their room.
void ReadMp3(TIDmp3& tag, id3v2::TagInfo& start, const std::string& path, const Labels& L,
             ShownTag& shown) {
  shown.format = "MP3";
  shown.error.clear();
  errno = 0;
  if (!id3v2::ReadBothTags(path, tag, start)) {
    shown.error = core::ReasonOf(errno, Cli::tr("the file is too short to be an MP3 file"));
    shown.fields.clear();
    return;
  }
  if (shown.fields.size() != 7 || shown.fields[0].label != &L.title) {
    shown.fields = {{"title", &L.title, {}}, {"artist", &L.artist, {}},   {"album", &L.album, {}},
                    {"year", &L.year, {}},   {"comment", &L.comment, {}}, {"track", &L.track, {}},
                    {"genre", &L.genre, {}}};
  }
  const std::string* texts[] = {&tag.Title, &tag.Artist, &tag.Album, &tag.Year, &tag.Comment};
  for (size_t i = 0; i < 5; ++i) SetFromGbk(shown.fields[i].value, *texts[i]);
  shown.fields[5].value = std::to_string(tag.Track);
  shown.fields[6].value.assign(tag.GenreID < ID3Genres.size() ? ID3Genres[tag.GenreID] : "");
  shown.track = tag.Track;
  shown.trackIsNumber = true;
  shown.genreId = tag.GenreID;
  shown.v1Version = !tag.HasTag ? "" : tag.Track != 0 ? "1.1" : "1.0";
  // The ID3v2 tag, as players show it.
  shown.v2Fields.clear();
  shown.v2Version.clear();
  shown.v2Readable = start.presence == id3v2::Presence::kTag;
  SetGarbled(shown, core::TagKind::kMp3, tag, TIDwma(), start);
  if (start.presence == id3v2::Presence::kNone) return;
  shown.v2Version = "2." + std::to_string(start.version);
  if (!shown.v2Readable) return;
  for (size_t i = 0; i < 7; ++i) {
    const id3v2::FieldValue& value = start.fields[*core::Id3v2FieldOf(core::Fields()[i].field)];
    if (value.kind == id3v2::FieldValue::kAbsent) continue;
    shown.v2Fields.push_back({shown.fields[i].key, shown.fields[i].label,
                              core::Id3v2Text(value).toUtf8().toStdString()});
  }
}

void ReadWma(TIDwma& tag, const std::string& path, const Labels& L, ShownTag& shown) {
  shown.format = "WMA";
  shown.error.clear();
  shown.fields.clear();
  try {
    if (!tag.ReadFromFile(path)) {
      shown.error = Cli::tr("not a WMA file");
      return;
    }
  } catch (const std::exception& e) {
    shown.error = QString::fromUtf8(e.what());
    return;
  }
  const std::pair<const char*, const std::string*> keys[] = {
      {"title", &L.title},     {"artist", &L.artist},       {"album", &L.album},
      {"year", &L.year},       {"comment", &L.comment},     {"track", &L.track},
      {"genre", &L.genre},     {"copyright", &L.copyright}, {"url", &L.url},
      {"userUrl", &L.userUrl}, {"lyrics", &L.lyrics},       {"encodedBy", &L.encodedBy},
      {"version", &L.version}};
  const std::u16string* texts[] = {&tag.Title,   &tag.Artist,  &tag.Album,  &tag.Year,
                                   &tag.Comment, &tag.Track,   &tag.Genre,  &tag.Copyright,
                                   &tag.Url,     &tag.UserUrl, &tag.Lyrics, &tag.EncodedBy,
                                   &tag.Version};
  for (size_t i = 0; i < std::size(keys); ++i) {
    shown.fields.push_back({keys[i].first, keys[i].second, {}});
    SetFromUtf16(shown.fields.back().value, *texts[i]);
  }
  shown.track = 0;
  size_t digits = 0;
  while (digits < tag.Track.size() && digits < 9 && tag.Track[digits] >= u'0' &&
         tag.Track[digits] <= u'9') {
    shown.track = shown.track * 10 + (tag.Track[digits++] - u'0');
  }
  shown.trackIsNumber = digits == tag.Track.size();
  shown.genreId = GenreIdOfName(tag.Genre);
  SetGarbled(shown, core::TagKind::kWma, TIDmp3(), tag, id3v2::TagInfo());
}

void AppendText(std::string& out, const std::string& path, const ShownTag& tag, const Labels& L) {
  auto line = [&out](const std::string& label, const std::string& value) {
    out += "  ";
    out += label;
    out += ':';
    if (!value.empty()) {
      out += ' ';
      out += value;
    }
    out += '\n';
  };
  AppendPath(out, path);
  out += '\n';
  line(L.format, tag.format);
  if (std::string_view(tag.format) == "MP3") {
    line("ID3v1", tag.v1Version.empty() ? Cli::tr("none").toUtf8().toStdString() : tag.v1Version);
  }
  for (const ShownField& f : tag.fields) {
    if (f.value.find('\n') == std::string::npos) {
      line(*f.label, f.value);
      continue;
    }
    std::string value;  // lyrics: their lines under the label
    for (size_t i = 0; i < f.value.size(); ++i) {
      if (f.value[i] == '\r' && i + 1 < f.value.size() && f.value[i + 1] == '\n') continue;
      value += f.value[i];
      if (f.value[i] == '\n') value += "    ";
    }
    line(*f.label, value);
  }
  if (!tag.garbled.empty()) {
    line(Cli::tr("Players show (legacy text)").toUtf8().toStdString(), {});
    for (const ShownTag::Garbled& g : tag.garbled) {
      line("  " + *g.label, g.players + " → " + g.reading);
    }
  }
  if (tag.v2Version.empty()) return;
  line("ID3v2",
       tag.v2Version + (tag.v2Readable
                            ? std::string()
                            : " (" + Cli::tr("cannot be read").toUtf8().toStdString() + ")"));
  for (const ShownField& f : tag.v2Fields) line("  " + *f.label, f.value);
}

// One file of the JSON document. "path" holds the path as text; when its bytes are not UTF-8
// that text is only for showing, and "pathBase64" holds the bytes themselves. Every field is a
// string but "track" and "genreId", numbers.
void AppendJson(std::string& out, const std::string& path, const ShownTag& tag, bool first) {
  out += first ? "\n        {" : ",\n        {";
  out += "\n            \"path\": ";
  std::string shown;
  AppendPath(shown, path);
  AppendJson(out, shown);
  if (!rules::IsUtf8(path)) {
    out += ",\n            \"pathBase64\": \"";
    out += QByteArray::fromStdString(path).toBase64().toStdString();
    out += '"';
  }
  out += ",\n            \"format\": ";
  AppendJson(out, QString::fromLatin1(tag.format).toLower().toStdString());
  if (!tag.error.isEmpty()) {
    out += ",\n            \"error\": ";
    AppendJson(out, tag.error.toUtf8().toStdString());
    out += "\n        }";
    return;
  }
  out += ",\n            \"fields\": {";
  bool firstField = true;
  auto key = [&](const char* name) {
    out += firstField ? "\n                \"" : ",\n                \"";
    firstField = false;
    out += name;
    out += "\": ";
  };
  for (const ShownField& f : tag.fields) {
    key(f.key);
    if (std::string_view(f.key) != "track") {
      AppendJson(out, f.value);
      continue;
    }
    out += std::to_string(tag.track);
    if (!tag.trackIsNumber) {
      key("trackText");
      AppendJson(out, f.value);
    }
  }
  if (tag.genreId >= 0) {
    key("genreId");
    out += std::to_string(tag.genreId);
  }
  out += "\n            }";
  if (!tag.garbled.empty()) {
    // What players show of the fields that hold legacy text, beside our reading in "fields".
    out += ",\n            \"playersShow\": {";
    for (size_t i = 0; i < tag.garbled.size(); ++i) {
      out += i == 0 ? "\n                \"" : ",\n                \"";
      out += tag.garbled[i].key;
      out += "\": ";
      AppendJson(out, tag.garbled[i].players);
    }
    out += "\n            }";
  }
  if (std::string_view(tag.format) == "MP3") {
    out += ",\n            \"id3v1\": ";
    if (tag.v1Version.empty()) {
      out += "null";
    } else {
      AppendJson(out, tag.v1Version);
    }
    out += ",\n            \"id3v2\": ";
    if (tag.v2Version.empty()) {
      out += "null";
    } else {
      out += "{\n                \"version\": ";
      AppendJson(out, tag.v2Version);
      out += ",\n                \"readable\": ";
      out += tag.v2Readable ? "true" : "false";
      out += ",\n                \"fields\": {";
      bool firstV2 = true;
      auto v2Key = [&](const char* name) {
        out += firstV2 ? "\n                    \"" : ",\n                    \"";
        firstV2 = false;
        out += name;
        out += "\": ";
      };
      for (const ShownField& f : tag.v2Fields) {
        v2Key(f.key);
        if (std::string_view(f.key) != "track") {
          AppendJson(out, f.value);
          continue;
        }
        // A number, as the track is elsewhere; the text beside it when it is more ("3/12").
        size_t digits = 0;
        while (digits < f.value.size() && digits < 9 && std::isdigit(uint8_t(f.value[digits]))) {
          ++digits;
        }
        out += digits == 0 ? "0" : f.value.substr(0, digits);
        if (digits != f.value.size()) {
          v2Key("trackText");
          AppendJson(out, f.value);
        }
      }
      out += firstV2 ? "}\n            }" : "\n                }\n            }";
    }
  }
  out += "\n        }";
}

}  // namespace

int Show(const Files& files, bool json) {
  const Labels labels = MakeLabels();
  bool failed = files.failed;
  TIDmp3 mp3;
  id3v2::TagInfo start;
  TIDwma wma;
  Output output;
  std::string& out = output.Buffer();
  if (json) out += "{\n    \"version\": 1,\n    \"files\": [";
  bool first = true;
  size_t leftOut = 0;
  auto addLeftOut = [&](size_t at) {
    for (; leftOut < files.failures.size() && files.failures[leftOut].at == at; ++leftOut) {
      if (!json) continue;
      ShownTag missing;
      missing.error = files.failures[leftOut].reason;
      AppendJson(out, files.failures[leftOut].path, missing, first);
      first = false;
    }
  };
  Progress progress;
  ShownTag tag;
  const int total = static_cast<int>(files.paths.size());
  for (int i = 0; i < total; ++i) {
    addLeftOut(static_cast<size_t>(i));
    const std::string& path = files.paths[static_cast<size_t>(i)];
    progress.Step(i, total, path);
    if (IsMp3Path(path)) {
      ReadMp3(mp3, start, path, labels, tag);
    } else {
      ReadWma(wma, path, labels, tag);
    }
    if (!tag.error.isEmpty()) {
      output.Flush();  // the failure after what was shown before it
      Failure(path, tag.error);
      failed = true;
    }
    if (json) {
      AppendJson(out, path, tag, first);
      first = false;
    } else if (tag.error.isEmpty()) {
      AppendText(out, path, tag, labels);
    }
    output.MaybeFlush();
  }
  addLeftOut(files.paths.size());
  if (json) out += first ? "]\n}\n" : "\n    ]\n}\n";
  return failed ? kSomeFailed : kDone;
}

}  // namespace cli
