#include "core/fields/Id3v2Fields.h"

#include <QStringList>
#include <algorithm>

#include "core/journal/Recovery.h"
#include "core/text/Gbk.h"
#include "core/text/Rules.h"
#include "core/utils/Reasons.h"
#include "core/utils/Tr.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

namespace core {
namespace {

constexpr std::array<std::pair<TagField, id3v2::Field>, 7> kShared = {{
    {TagField::kTitle, id3v2::kTitle},
    {TagField::kArtist, id3v2::kArtist},
    {TagField::kAlbum, id3v2::kAlbum},
    {TagField::kYear, id3v2::kYear},
    {TagField::kComment, id3v2::kComment},
    {TagField::kTrack, id3v2::kTrack},
    {TagField::kGenre, id3v2::kGenre},
}};

// True for bytes that are ASCII and whole GBK pairs only, with one pair at least.
bool GbkPairsOnly(std::string_view bytes) {
  return rules::IsGbkShaped(bytes) && std::any_of(bytes.begin(), bytes.end(), [](char c) {
           return static_cast<unsigned char>(c) >= 0x80;
         });
}

// The GBK text of bytes that GbkPairsOnly accepts, when every pair is a character.
std::optional<QString> GbkText(std::string_view bytes) {
  if (!GbkPairsOnly(bytes)) return std::nullopt;
  QString text = gbk::Decode(bytes);
  if (text.contains(QChar(QChar::ReplacementCharacter))) return std::nullopt;
  return text;
}

// The number a track text starts with ("3/12" gives 3); -1 for none.
int LeadingNumber(const QString& text) {
  int n = 0, digits = 0;
  for (QChar c : text) {
    if (!c.isDigit() || digits >= 6) break;
    n = n * 10 + c.digitValue();
    ++digits;
  }
  return digits == 0 ? -1 : n;
}

}  // namespace

std::optional<id3v2::Field> Id3v2FieldOf(TagField field) {
  for (const auto& [tag, v2] : kShared) {
    if (tag == field) return v2;
  }
  return std::nullopt;
}

QString Id3v2Text(const id3v2::FieldValue& value) {
  switch (value.kind) {
    case id3v2::FieldValue::kAbsent:
      return {};
    case id3v2::FieldValue::kUnicode:
      return rules::TrimControl(QString::fromStdU16String(value.text));
    case id3v2::FieldValue::kLatin1:
      break;
  }
  if (std::optional<QString> text = GbkText(value.latin1)) return rules::TrimControl(*text);
  return rules::TrimControl(
      QString::fromLatin1(value.latin1.data(), static_cast<qsizetype>(value.latin1.size())));
}

bool DecodeLegacyText(std::string_view bytes, std::u16string& text) {
  const std::string field(bytes);
  const std::optional<QString> reading =
      legacy::Reading(legacy::Detect({field}), field, legacy::Place::kLatin1);
  if (!reading) return false;
  text = reading->toStdU16String();
  return true;
}

std::string SlotBytes(const std::string& slot) { return std::string(rules::Id3v1Bytes(slot)); }

namespace {

bool BeyondAscii(std::string_view bytes) {
  return std::any_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// The legacy bytes of one ID3v2 field, or none.
std::optional<std::string> LegacyBytesOf(const id3v2::FieldValue& value) {
  switch (value.kind) {
    case id3v2::FieldValue::kAbsent:
      return std::nullopt;
    case id3v2::FieldValue::kLatin1:
      if (!BeyondAscii(value.latin1)) return std::nullopt;
      return value.latin1;
    case id3v2::FieldValue::kUnicode:
      break;
  }
  return legacy::MojibakeBytes(QStringView(value.text));
}

}  // namespace

std::vector<std::string> LegacyFieldsOf(const TIDmp3& v1, const id3v2::TagInfo& v2) {
  std::vector<std::string> fields;
  if (v1.HasTag) {
    for (const std::string* slot : {&v1.Title, &v1.Artist, &v1.Album, &v1.Year, &v1.Comment}) {
      std::string bytes = SlotBytes(*slot);
      if (BeyondAscii(bytes)) fields.push_back(std::move(bytes));
    }
  }
  if (v2.presence == id3v2::Presence::kTag) {
    for (const auto& [tag, field] : kShared) {
      if (std::optional<std::string> bytes = LegacyBytesOf(v2.fields[field])) {
        fields.push_back(std::move(*bytes));
      }
    }
  }
  return fields;
}

legacy::Detection DetectLegacy(const TIDmp3& v1, const id3v2::TagInfo& v2) {
  return legacy::Detect(LegacyFieldsOf(v1, v2));
}

id3v2::LegacyText LegacyDecoder(const legacy::Detection& detection) {
  return [detection](std::string_view bytes, std::u16string& text) {
    const std::optional<QString> reading =
        legacy::Reading(detection, bytes, legacy::Place::kLatin1);
    if (!reading) return false;
    text = reading->toStdU16String();
    return true;
  };
}

id3v2::MojibakeText MojibakeDecoder(const legacy::Detection& detection) {
  return [detection](const std::u16string& shown, std::u16string& text) {
    const std::optional<std::string> bytes = legacy::MojibakeBytes(QStringView(shown));
    if (!bytes) return false;
    const std::optional<QString> reading =
        legacy::Reading(detection, *bytes, legacy::Place::kMojibake);
    if (!reading) return false;
    text = reading->toStdU16String();
    return true;
  };
}

std::optional<QString> ConvertedText(const legacy::Detection& detection,
                                     const id3v2::FieldValue& value) {
  const std::optional<std::string> bytes = LegacyBytesOf(value);
  if (!bytes) return std::nullopt;
  const legacy::Place place =
      value.kind == id3v2::FieldValue::kLatin1 ? legacy::Place::kLatin1 : legacy::Place::kMojibake;
  std::optional<QString> reading = legacy::Reading(detection, *bytes, place);
  if (!reading) return std::nullopt;
  return rules::TrimControl(*reading);
}

bool IsLegacyText(const id3v2::FieldValue& value) {
  return value.kind == id3v2::FieldValue::kLatin1 && GbkText(value.latin1).has_value();
}

TrackFields FieldsOf(const id3v2::TagInfo& tag) {
  TrackFields f;
  if (tag.presence != id3v2::Presence::kTag) return f;
  f.title = Id3v2Text(tag.fields[id3v2::kTitle]);
  f.artist = Id3v2Text(tag.fields[id3v2::kArtist]);
  f.album = Id3v2Text(tag.fields[id3v2::kAlbum]);
  f.year = Id3v2Text(tag.fields[id3v2::kYear]);
  f.comment = Id3v2Text(tag.fields[id3v2::kComment]);
  f.track = Id3v2Text(tag.fields[id3v2::kTrack]);
  f.genre = Id3v2Text(tag.fields[id3v2::kGenre]);
  return f;
}

TrackFields ShownFields(const TIDmp3& v1, const id3v2::TagInfo& v2) {
  if (!v1.HasTag && v2.presence == id3v2::Presence::kTag) return FieldsOf(v2);
  return FieldsOf(v1);
}

TagKind ReadTag(const std::string& path, TIDmp3& mp3, TIDwma& wma, Journal* journal,
                id3v2::TagInfo* start) {
  const TagKind kind = TagKindOf(path);
  if (start != nullptr) *start = id3v2::TagInfo{};
  // A header, tag or block written in place and cut short is put back first.
  if (journal != nullptr) RecoverFile(*journal, path);
  if (kind == TagKind::kWma) {
    wma.ReadFromFile(path);
  } else if (start != nullptr) {
    id3v2::ReadBothTags(path, mp3, *start);
  } else {
    mp3.ReadFromFile(path);
  }
  return kind;
}

TrackFields ShownFields(TagKind kind, const TIDmp3& mp3, const TIDwma& wma,
                        const id3v2::TagInfo& start) {
  return kind == TagKind::kMp3 ? ShownFields(mp3, start) : FieldsOf(wma);
}

TrackFields ReadFields(const std::string& path, Journal* journal) {
  TIDmp3 mp3;
  TIDwma wma;
  id3v2::TagInfo start;
  const TagKind kind = ReadTag(path, mp3, wma, journal, &start);
  return ShownFields(kind, mp3, wma, start);
}

bool Id3v2Says(TagField field, const QString& stored, const QString& text) {
  const QString a = rules::TrimControl(stored), b = rules::TrimControl(text);
  if (a == b) return true;
  if (field == TagField::kYear) {
    // A date "2011-09-27" says the year "2011".
    return b.size() == 4 && a.startsWith(b) && a.size() > 4 && a[4] == QLatin1Char('-');
  }
  if (field == TagField::kTrack) return !b.isEmpty() && LeadingNumber(a) == LeadingNumber(b);
  return false;
}

std::vector<Id3v2Difference> Id3v2Differences(const TrackFields& shown, const id3v2::TagInfo& v2) {
  std::vector<Id3v2Difference> out;
  if (v2.presence != id3v2::Presence::kTag) return out;
  // Legacy text in the tag, read as one over all its fields (a close call as its best reading).
  legacy::Detection d = legacy::Detect(LegacyFieldsOf(TIDmp3{}, v2));
  if (d.ambiguous) d = legacy::WithEncoding(d, d.encoding);
  for (const auto& [field, v2field] : kShared) {
    const id3v2::FieldValue& value = v2.fields[v2field];
    const QString boxes = shown.Get(field);
    if (std::optional<QString> reading = d.any ? ConvertedText(d, value) : std::nullopt) {
      const QString players = value.kind == id3v2::FieldValue::kLatin1
                                  ? rules::TrimControl(legacy::AsPlayersShow(value.latin1))
                                  : rules::TrimControl(QString::fromStdU16String(value.text));
      out.push_back({field, boxes, players, *reading});
      continue;
    }
    const QString stored = Id3v2Text(value);
    if (!Id3v2Says(field, stored, boxes)) out.push_back({field, boxes, stored, {}});
  }
  return out;
}

QString DescribeDifferences(const std::vector<Id3v2Difference>& differences) {
  QStringList lines;
  for (const Id3v2Difference& d : differences) {
    if (!d.reading.isEmpty()) {
      lines << Core::tr("%1：播放器显示乱码“%2”（旧编码文字，应为“%3”），此处为“%4”")
                   .arg(ShownFieldName(d.field), d.id3v2, d.reading, d.shown);
    } else {
      lines << Core::tr("%1：ID3v2 为“%2”，此处为“%3”")
                   .arg(ShownFieldName(d.field), d.id3v2, d.shown);
    }
  }
  return lines.join(QLatin1Char('\n'));
}

void SetChange(id3v2::Changes& changes, TagField field, const QString& text) {
  if (std::optional<id3v2::Field> f = Id3v2FieldOf(field)) {
    changes[*f] = rules::TrimControl(text).toStdU16String();
  }
}

bool AnyChange(const id3v2::Changes& changes) {
  for (const auto& change : changes) {
    if (change) return true;
  }
  return false;
}

id3v2::Changes ChangesFor(const id3v2::TagInfo& tag, const id3v2::Changes& changes) {
  id3v2::Changes out;
  if (tag.presence != id3v2::Presence::kTag) return out;
  for (const auto& [field, v2field] : kShared) {
    const auto& change = changes[v2field];
    if (!change) continue;
    const id3v2::FieldValue& now = tag.fields[v2field];
    const QString text = QString::fromStdU16String(*change);
    // A Latin-1 frame we read as legacy text says it in players' eyes only as Unicode.
    const bool legacyFrame =
        now.kind == id3v2::FieldValue::kLatin1 &&
        Id3v2Text(now) != rules::TrimControl(QString::fromLatin1(
                              now.latin1.data(), static_cast<qsizetype>(now.latin1.size())));
    if (now.kind != id3v2::FieldValue::kAbsent && !legacyFrame &&
        Id3v2Says(field, Id3v2Text(now), text)) {
      continue;
    }
    if (now.kind == id3v2::FieldValue::kAbsent && text.isEmpty()) continue;
    out[v2field] = change;
  }
  return out;
}

std::vector<TagField> ChangedFields(const id3v2::Changes& changes) {
  std::vector<TagField> out;
  for (const auto& [field, v2field] : kShared) {
    if (changes[v2field]) out.push_back(field);
  }
  return out;
}

QString Id3v2Reason(id3v2::Result result, int err) {
  switch (result) {
    case id3v2::Result::kRefused:
      return Core::tr("ID3v2 标签无法安全改写");
    case id3v2::Result::kReadFailed:
      return ReasonOf(err, Core::tr("无法读取标签"));
    case id3v2::Result::kHasTag:
      return Core::tr("文件已有 ID3v2 标签");
    default:
      return Core::tr("文件没有 ID3v2 标签");
  }
}

}  // namespace core
