// The fields of a tag, once for the whole program: which tag object a file goes to, each field's
// names (the command line's option and JSON key, the window's box), and its text as the list, the
// window and `velomi-tag show` give it.
#pragma once

#include <QString>
#include <array>
#include <string>
#include <string_view>
#include <vector>

class TIDmp3;
class TIDwma;

namespace core {

// The tag object a file goes to.
enum class TagKind { kMp3, kWma };

// A path's extension as the program tells files apart: upper-cased and cut to its first four
// characters (or whole, for the batch edit), ".MP3", ".WMA" or anything else.
enum class FileKey { kMp3, kWma, kOther };
FileKey FileKeyOf(const std::string& path, bool wholeExtension = false);

// The tag object of a path's file by its extension: ".MP3" (the extension upper-cased and cut to
// its first four characters) picks the MP3 object, every other one (".WMA", "" ...) the WMA object.
// With `wholeExtension` (the batch edit's choice) only the whole extension ".MP3" picks MP3.
TagKind TagKindOf(const std::string& path, bool wholeExtension = false);
// The names among a folder's `files` that adding the folder adds (ending in ".mp3" or ".wma", in
// any letter case): its MP3 files, then its WMA files, each in the order given.
std::vector<std::string> AudioFileNames(const std::vector<std::string>& files);

enum class TagField {
  kTitle,
  kArtist,
  kAlbum,
  kYear,
  kComment,
  kTrack,
  kGenre,
  kCopyright,
  kUrl,
  kUserUrl,
  kLyrics,
  kEncodedBy,
  kVersion,
};

struct FieldInfo {
  TagField field;
  const char* key;     // the JSON key: "title", "userUrl" ...
  const char* option;  // velomi-tag's option: "title", "user-url" ...
  const char* label;   // for a person, in English ("Title"); the command line translates it
  const char* box;     // the window's control that shows it: "EdtTitle" ...
  bool mp3;            // an MP3 tag has the field
  std::u16string TIDwma::*wma;                  // the WMA tag's text
  void (TIDwma::*setWma)(std::u16string_view);  // its setter
};

// Every field, in the order the window and `velomi-tag show` give them.
const std::array<FieldInfo, 13>& Fields();
const FieldInfo& InfoOf(TagField field);

// The fields a batch edit copies, in the order of its question
// ("［歌手］［专辑］［年份］［说明］"), and the order in which it sets them on each file.
inline constexpr std::array<TagField, 4> kBatchFields = {TagField::kArtist, TagField::kAlbum,
                                                         TagField::kYear, TagField::kComment};
inline constexpr std::array<TagField, 4> kBatchSetOrder = {TagField::kArtist, TagField::kAlbum,
                                                           TagField::kComment, TagField::kYear};
// A field's name in the window ("标题", "歌手", "专辑", "年份", "说明", "音轨", "流派"); empty for
// the WMA-only fields.
QString ShownFieldName(TagField field);

// A field's text as shown: MP3 texts decoded from their slot, the track number (empty for none)
// and the genre's name (empty for none or a number without one); WMA texts as they are.
QString FieldText(const TIDmp3& tag, TagField field);
QString FieldText(const TIDwma& tag, TagField field);

// ---- Writing a text into an MP3 tag

// The room of a field's slot in an ID3v1 block: 30 bytes, the year 4, the comment 28 when the tag
// carries a track number (the ID3v1.1 track byte takes the comment's last two).
size_t Mp3Room(TagField field, uint8_t track);
// The bytes a slot of `room` bytes holds of `bytes` (GBK): the longest run of whole characters
// that fits, so that a Chinese character is never cut in two.
std::string CutGbk(const std::string& bytes, size_t room);
// Sets an MP3 text field (title, artist, album, year, comment) as a save writes it: trimmed of
// codes 0 to 32 at both ends, in GBK (a character GBK lacks as "?"), cut to the slot's room at a
// character's end. Set the track number first: the comment's room depends on it.
void SetMp3Text(TIDmp3& tag, TagField field, const QString& text);
// Cuts the comment to its room at a character's end, for a tag whose track number was set after
// it (the ID3v1.1 track byte would otherwise cut a character in two).
void FitMp3Comment(TIDmp3& tag);

// What the list shows of a file's tag: the texts of its fields as the file holds them.
// The seven fields the list shows of a file, in the order of its columns.
inline constexpr std::array<TagField, 7> kTrackFields = {
    TagField::kTitle,   TagField::kArtist, TagField::kAlbum, TagField::kYear,
    TagField::kComment, TagField::kTrack,  TagField::kGenre};

struct TrackFields {
  QString title, artist, album, year, comment, track, genre;

  // The text of one of kTrackFields (empty for any other field); Set ignores any other field.
  QString Get(TagField field) const;
  void Set(TagField field, QString text);
  bool operator==(const TrackFields& o) const {
    return title == o.title && artist == o.artist && album == o.album && year == o.year &&
           comment == o.comment && track == o.track && genre == o.genre;
  }
};
TrackFields FieldsOf(const TIDmp3& tag);
TrackFields FieldsOf(const TIDwma& tag);

// One file of a batch, as the track list shows it.
struct Track {
  std::string folder;    // ends in "/"
  std::string fileName;  // without the folder
  QString title;
  QString artist;
  int position = 0;  // the row's place in the whole list, counted from 0 (the number of rule 3)
  // The other texts a name template can use, as `show` prints them: the track number as text
  // (MP3: empty for 0), the genre by name (MP3: empty for none).
  QString album = {}, year = {}, track = {}, comment = {}, genre = {};

  std::string Path() const { return folder + fileName; }
  // Takes the texts of a tag as the list shows them.
  void SetTexts(const TrackFields& f);
};

// Splits a path into a track's folder and file name (the folder of "a.mp3" is "./").
Track TrackAt(const std::string& path, int position);

}  // namespace core
