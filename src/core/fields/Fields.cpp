#include "core/fields/Fields.h"

#include <utility>

#include "core/text/Rules.h"
#include "core/utils/Tr.h"
#include "platform/FileSystem.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

namespace core {
namespace {

const std::array<FieldInfo, 13> kFields = {{
    {TagField::kTitle, "title", "title", "Title", "EdtTitle", true, &TIDwma::Title,
     &TIDwma::SetTitle},
    {TagField::kArtist, "artist", "artist", "Artist", "EdtArtist", true, &TIDwma::Artist,
     &TIDwma::SetArtist},
    {TagField::kAlbum, "album", "album", "Album", "EdtAlbum", true, &TIDwma::Album,
     &TIDwma::SetAlbum},
    {TagField::kYear, "year", "year", "Year", "EdtYear", true, &TIDwma::Year, &TIDwma::SetYear},
    {TagField::kComment, "comment", "comment", "Comment", "EdtComment", true, &TIDwma::Comment,
     &TIDwma::SetComment},
    {TagField::kTrack, "track", "track", "Track", "EdtTrack", true, &TIDwma::Track,
     &TIDwma::SetTrack},
    {TagField::kGenre, "genre", "genre", "Genre", "ComboGenreID", true, &TIDwma::Genre,
     &TIDwma::SetGenre},
    {TagField::kCopyright, "copyright", "copyright", "Copyright", "EdtCopyright", false,
     &TIDwma::Copyright, &TIDwma::SetCopyright},
    {TagField::kUrl, "url", "url", "URL", "EdtUrl", false, &TIDwma::Url, &TIDwma::SetUrl},
    {TagField::kUserUrl, "userUrl", "user-url", "User URL", "EdtUserURL", false, &TIDwma::UserUrl,
     &TIDwma::SetUserUrl},
    {TagField::kLyrics, "lyrics", "lyrics", "Lyrics", "MLyrics", false, &TIDwma::Lyrics,
     &TIDwma::SetLyrics},
    {TagField::kEncodedBy, "encodedBy", "encoded-by", "Encoded by", "EdtEncodedBy", false,
     &TIDwma::EncodedBy, &TIDwma::SetEncodedBy},
    {TagField::kVersion, "version", "version", "Version", "EdtVersion", false, &TIDwma::Version,
     &TIDwma::SetVersion},
}};

// The extension of a path's last name: from its last "." on, upper-cased (ASCII letters).
std::string UpperExtension(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot);
  for (char& c : ext) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return ext;
}

}  // namespace

FileKey FileKeyOf(const std::string& path, bool wholeExtension) {
  const std::string ext = UpperExtension(path);
  const std::string key = wholeExtension ? ext : ext.substr(0, 4);
  return key == ".MP3" ? FileKey::kMp3 : key == ".WMA" ? FileKey::kWma : FileKey::kOther;
}

TagKind TagKindOf(const std::string& path, bool wholeExtension) {
  return FileKeyOf(path, wholeExtension) == FileKey::kMp3 ? TagKind::kMp3 : TagKind::kWma;
}

std::vector<std::string> AudioFileNames(const std::vector<std::string>& files) {
  std::vector<std::string> names;
  for (const char* suffix : {".mp3", ".wma"}) {
    for (const std::string& name : files) {
      if (platform::EndsWithFoldAscii(name, suffix)) names.push_back(name);
    }
  }
  return names;
}

const std::array<FieldInfo, 13>& Fields() { return kFields; }

const FieldInfo& InfoOf(TagField field) { return kFields[static_cast<size_t>(field)]; }

QString ShownFieldName(TagField field) {
  switch (field) {
    case TagField::kTitle:
      return Core::tr("标题");
    case TagField::kTrack:
      return Core::tr("音轨");
    case TagField::kGenre:
      return Core::tr("流派");
    case TagField::kArtist:
      return Core::tr("歌手");
    case TagField::kAlbum:
      return Core::tr("专辑");
    case TagField::kYear:
      return Core::tr("年份");
    case TagField::kComment:
      return Core::tr("说明");
    default:
      return {};
  }
}

QString FieldText(const TIDmp3& tag, TagField field) {
  switch (field) {
    case TagField::kTitle:
      return rules::FromId3v1Text(tag.Title);
    case TagField::kArtist:
      return rules::FromId3v1Text(tag.Artist);
    case TagField::kAlbum:
      return rules::FromId3v1Text(tag.Album);
    case TagField::kYear:
      return rules::FromId3v1Text(tag.Year);
    case TagField::kComment:
      return rules::FromId3v1Text(tag.Comment);
    case TagField::kTrack:
      return tag.Track != 0 ? QString::number(tag.Track) : QString();
    case TagField::kGenre:
      if (tag.GenreID < ID3Genres.size()) {
        const std::string_view name = ID3Genres[tag.GenreID];
        return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
      }
      return {};
    default:
      return {};
  }
}

QString FieldText(const TIDwma& tag, TagField field) {
  return rules::FromUtf16(tag.*InfoOf(field).wma);
}

size_t Mp3Room(TagField field, uint8_t track) {
  if (field == TagField::kYear) return TIDmp3::kYearCapacity;
  if (field == TagField::kComment && track != 0) return TIDmp3::kTextCapacity - 2;
  return TIDmp3::kTextCapacity;
}

std::string CutGbk(const std::string& bytes, size_t room) {
  size_t end = 0;
  while (end < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[end]);
    const size_t width = lead >= 0x81 && lead <= 0xFE ? 2 : 1;
    // A lead byte without its trail byte (cut off already) is no whole character either.
    if (end + width > room || end + width > bytes.size()) break;
    end += width;
  }
  return bytes.substr(0, end);
}

void SetMp3Text(TIDmp3& tag, TagField field, const QString& text) {
  const std::string bytes = rules::ToGbk(rules::TrimControl(text));
  std::string* member = nullptr;
  switch (field) {
    case TagField::kTitle:
      tag.SetTitle(bytes);
      member = &tag.Title;
      break;
    case TagField::kArtist:
      tag.SetArtist(bytes);
      member = &tag.Artist;
      break;
    case TagField::kAlbum:
      tag.SetAlbum(bytes);
      member = &tag.Album;
      break;
    case TagField::kYear:
      tag.SetYear(bytes);
      member = &tag.Year;
      break;
    case TagField::kComment:
      tag.SetComment(bytes);
      member = &tag.Comment;
      break;
    default:
      return;
  }
  // The setter cut the bytes to the slot: a character it cut in two goes whole.
  *member = CutGbk(*member, Mp3Room(field, tag.Track));
}

void FitMp3Comment(TIDmp3& tag) {
  tag.Comment = CutGbk(tag.Comment, Mp3Room(TagField::kComment, tag.Track));
}

namespace {

QString TrackFields::*MemberOf(TagField field) {
  switch (field) {
    case TagField::kTitle:
      return &TrackFields::title;
    case TagField::kArtist:
      return &TrackFields::artist;
    case TagField::kAlbum:
      return &TrackFields::album;
    case TagField::kYear:
      return &TrackFields::year;
    case TagField::kComment:
      return &TrackFields::comment;
    case TagField::kTrack:
      return &TrackFields::track;
    case TagField::kGenre:
      return &TrackFields::genre;
    default:
      return nullptr;
  }
}

template <class Tag>
TrackFields FieldsFrom(const Tag& tag) {
  TrackFields f;
  for (TagField field : kTrackFields) f.Set(field, FieldText(tag, field));
  return f;
}

}  // namespace

QString TrackFields::Get(TagField field) const {
  QString TrackFields::*member = MemberOf(field);
  return member != nullptr ? this->*member : QString();
}

void TrackFields::Set(TagField field, QString text) {
  if (QString TrackFields::*member = MemberOf(field)) this->*member = std::move(text);
}

TrackFields FieldsOf(const TIDmp3& tag) { return FieldsFrom(tag); }
TrackFields FieldsOf(const TIDwma& tag) { return FieldsFrom(tag); }

void Track::SetTexts(const TrackFields& f) {
  title = f.title;
  artist = f.artist;
  album = f.album;
  year = f.year;
  comment = f.comment;
  track = f.track;
  genre = f.genre;
}

Track TrackAt(const std::string& path, int position) {
  Track track;
  const size_t slash = path.rfind('/');
  track.folder = slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
  track.fileName = slash == std::string::npos ? path : path.substr(slash + 1);
  track.position = position;
  return track;
}

}  // namespace core
