// Plans: what a batch rename or a batch edit will do to each file, worked out before anything is
// changed. Building a plan reads the disk and never writes it. Folders and file names are the
// file system's bytes; the new names that the rename rules make are the UTF-8 bytes of the rule's
// text.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/fields/Fields.h"
#include "core/text/Legacy.h"
#include "platform/File.h"
#include "tags/id3v2/TId3v2Tag.h"

class TIDmp3;
class TIDwma;

namespace core {

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
};

// Splits a path into a track's folder and file name (the folder of "a.mp3" is "./").
Track TrackAt(const std::string& path, int position);
// The track of `path` with the texts of its tag, the title and artist as the list shows them when
// the file is added. Lets a WMA read error through.
Track ReadTrack(const std::string& path, int position);

// ---- Renaming

enum class RenameStatus {
  kRename,    // will be renamed
  kSkipped,   // left alone: empty title or artist, the same name, no such rule
  kRefused,   // never tried: a name files cannot hold, a file that is not there
  kConflict,  // tried all the same, and it fails unless the disk changed meanwhile
};

struct RenameEntry {
  Track track;
  std::string newName;  // empty when there is none (empty title or artist, no such rule)
  RenameStatus status = RenameStatus::kSkipped;
  QString reason;  // why it is skipped, refused or in conflict; empty for kRename
};

struct RenamePlan {
  int rule = 1;                      // 0: a name template's plan
  std::vector<RenameEntry> entries;  // one per track, in the tracks' order

  int Count(RenameStatus status) const;
};

// The plan of renaming `tracks` (the checked rows, in list order) by `rule` (1 to 3). The entries
// are worked out in order, as the renames will run: a name is free when no file holds it on disk,
// or when an earlier entry renames its file away; it is taken by a file that is not renamed, by a
// later entry's file that still holds it, or by an earlier entry's new name. Two tracks of the
// same file are not foreseen. A conflict names the other file with its place, counted from 1: its
// row in the list (the window), or its place among the files (the command line).
enum class PlaceWord { kRow, kFile };
RenamePlan PlanRename(const std::vector<Track>& tracks, int rule,
                      PlaceWord places = PlaceWord::kRow);

// The plan as lines for a person: "old → new" for each rename, then every skipped, refused or
// conflicting entry with its reason. At most `maxLines` lines, then a count of the rest.
// Its first line is SummarizeRenamePlan's counts (of files); every conflict and refusal follows,
// never cut off, then the renames and the skipped files, at most `maxLines` of them.
QString DescribeRenamePlan(const RenamePlan& plan, int maxLines = 1000);
// "共 N 个文件：改名 N，跳过 N，冲突 N，拒绝 N".
QString SummarizeRenamePlan(const RenamePlan& plan);

// ---- Garbled names

// The files and folders whose names a repair looks at, as the file system's bytes.
struct NameTargets {
  // Each one's own name; a folder given here decides its name with its contents' names.
  std::vector<std::string> paths;
  // Folders whose entries' names are looked at, each file and each folder in them (and, when
  // `recursive`, in every folder below them, links to folders not followed).
  std::vector<std::string> folders;
  bool recursive = false;
};

// The targets of the command line: each path's own name (unless it is "." or ".."), and for a
// folder its entries.
NameTargets NameTargetsOf(const std::vector<std::string>& paths, bool recursive);
// The targets of the window's checked rows: each file, the files beside it whose names start with
// its name's stem ("01 晴天.lrc" beside "01 晴天.mp3": they keep their pairing), and its folder.
NameTargets NameTargetsOfFiles(const std::vector<std::string>& files);

enum class NameStatus {
  kRepair,       // will get its repaired name
  kAmbiguous,    // its readings are too close to choose: left unless one is picked
  kUndecodable,  // no encoding reads its bytes: left
  kConflict,     // its repaired name is taken, or given to another name too: left
  kRefused,      // its repaired name could not be a name (longer than 255 bytes): left
};

struct NameEntry {
  std::string folder;  // the folder as given or walked, ending in "/"
  std::string name;    // the name now
  bool isFolder = false;
  std::string newName;  // the repaired name in UTF-8; empty while there is none
  legacy::NameForm form = legacy::NameForm::kBytes;
  legacy::Encoding encoding = legacy::Encoding::kGbk;
  std::vector<std::pair<legacy::Encoding, QString>> choices;  // an ambiguous name's readings
  NameStatus status = NameStatus::kRepair;
  QString reason;  // why it is left; empty for kRepair
  // Where it is and what it is, as the plan found it: the folder's real path, the identity and
  // the size (a folder's size is not looked at).
  std::string realFolder;
  uint64_t device = 0, inode = 0;
  int64_t size = 0;

  std::string Path() const { return folder + name; }
};

struct NamePlan {
  // The garbled names, in the order their renames run: whatever lies in a folder before the folder.
  std::vector<NameEntry> entries;
  int looked = 0;  // the names looked at, those that read right included

  int Count(NameStatus status) const;
};

// The plan of repairing the garbled names of `targets`: each folder's names read together
// (legacy::ReadNames), the bytes as `forced` says when it is given. Reads the disk, never writes.
NamePlan PlanFixNames(const NameTargets& targets,
                      std::optional<legacy::Encoding> forced = std::nullopt);
// Gives the ambiguous entry `i` its reading `choice` (an index into its choices), and settles the
// plan's conflicts again.
void PickReading(NamePlan& plan, size_t i, size_t choice);
// "共 N 个乱码名称：修复 N，需要确认 N，冲突 N，无法识别 N".
QString SummarizeNamePlan(const NamePlan& plan);
// The counts, every conflict, refusal and ambiguous name with its readings, then each repair
// "old → new（GBK）", at most `maxLines` of them. An old name is shown as a file manager shows it:
// its bytes as UTF-8, each byte that is not UTF-8 as "\xNN".
QString DescribeNamePlan(const NamePlan& plan, int maxLines = 1000);
// A name as a file manager shows it (see DescribeNamePlan).
QString ShownAsIs(const std::string& name);
// The name of an entry's encoding and form for a person: "GBK", "GBK，经 CP437 乱码".
QString EncodingLabel(const NameEntry& entry);

// ---- Batch edit

// One field a conversion changes: what players show of it now ("·¢ÈçÑ©"; empty where the tag
// they read lacks it) and what it will read ("发如雪").
struct ConvertText {
  TagField field;
  QString now;
  QString after;
  bool operator==(const ConvertText& o) const {
    return field == o.field && now == o.now && after == o.after;
  }
};

enum class Field { kArtist, kAlbum, kYear, kComment };

// What an MP3 file held when it was read: its size and its last 128 bytes (a tag when they start
// with "TAG").
struct Mp3Snapshot {
  bool read = false;  // false: the file could not be opened or is shorter than 128 bytes
  int64_t size = 0;
  bool tagged = false;
  bool readOnly = false;  // the file lacks its owner's write permission (a save clears that)
  std::array<uint8_t, 128> last{};
};
Mp3Snapshot ReadMp3Snapshot(const std::string& path);
// The same through `file`, opened here and left open for the caller's further reads.
Mp3Snapshot ReadMp3Snapshot(const std::string& path, platform::File& file);

// The fields a batch edit copies, as the boxes hold them (each is trimmed of codes 0 to 32 before
// it is set); a field without a value is left as each file holds it.
struct EditFields {
  std::optional<QString> artist, album, year, comment;
  // Further fields, set after the four above on each file the batch writes (the command line's
  // title, track, genre and WMA-only texts). The plan's changes do not list them.
  std::function<void(TIDmp3&)> moreMp3;
  std::function<void(TIDwma&)> moreWma;
  // The further fields that an MP3 file's ID3v2 tag takes, as given (moreMp3 writes them into the
  // ID3v1 block): the title, the track and the genre by name.
  std::optional<QString> title, track, genre;

  bool Empty() const { return !artist && !album && !year && !comment; }
  // One of the four fields a batch edit copies (core::kBatchFields).
  const std::optional<QString>& Get(TagField field) const;
  void Set(TagField field, const QString& text);
};

// Sets the fields of a batch edit on a tag object as the batch writes them: the further setters
// first (the command line's title and track, on which the comment's room depends), then the four
// fields, trimmed of codes 0 to 32 at both ends (an MP3 text in GBK, cut to its slot at a
// character's end).
void SetEditFields(TIDmp3& tag, const EditFields& fields);
void SetEditFields(TIDwma& tag, const EditFields& fields);

struct FieldChange {
  Field field;
  QString oldValue;
  QString newValue;  // as the file will hold it: trailing blanks gone, an MP3 text cut to fit
};

struct StartChange {
  TagField field;
  QString oldValue, newValue;
};

struct EditEntry {
  std::string path;
  int position = 0;  // the row's place in the list
  bool mp3 = false;  // written by the MP3 tag object (the whole extension is ".MP3")
  bool readable = false;
  QString reason;                    // why the tag could not be read, when it could not
  std::vector<FieldChange> changes;  // the fields whose value changes
  // An MP3 file's end as the plan read it. Applying the plan starts from it, as the batch started
  // from a read of the file, and the journal keeps its block as the one to restore.
  Mp3Snapshot snapshot;
  // The fields that change in the ID3v2 tag at an MP3 file's start, which players show.
  std::vector<StartChange> startChanges;
  // The fields of this file alone (each file's from its own name), in place of the plan's.
  std::optional<EditFields> fields;
  // The file's other fields that hold legacy text players show garbled (those the ID3v2 tag or
  // the WMA header can take in the same write), as they read.
  std::vector<ConvertText> legacy;
};

struct EditPlan {
  EditFields fields;
  std::vector<EditEntry> entries;
  bool convertLegacy = false;  // each entry's `legacy` fields are written as they read too
  int LegacyFiles() const;     // the entries with such fields

  // The fields written into the entry's file.
  const EditFields& FieldsOf(const EditEntry& e) const { return e.fields ? *e.fields : fields; }
};

// The plan of copying `fields` into each file of `paths`; `positions` gives each path's row (or,
// when empty, its place in `paths`). Reads each file's tag; never raises. With `each` (one per
// path), each file gets its own fields instead.
EditPlan PlanEdit(const std::vector<std::string>& paths, const EditFields& fields,
                  const std::vector<int>& positions = {}, const std::vector<EditFields>& each = {});

// The plan as lines: each file and, under it, "field: old → new".
// Its first line is SummarizeEditPlan's counts; every file that cannot be read follows, never cut
// off, then the files and their changes, at most `maxFiles` files.
QString DescribeEditPlan(const EditPlan& plan, int maxFiles = 1000);
// "共 N 个文件：修改 N，无需修改 N，无法读取 N".
QString SummarizeEditPlan(const EditPlan& plan);

QString FieldName(Field field);  // "歌手", "专辑", "年份", "说明"

// The changes an MP3 file's ID3v2 tag takes from a batch edit: the fields it copies, each given
// field as given.
id3v2::Changes StartChangesOf(const EditFields& fields);

// ---- Unicode tags

enum class ConvertStatus {
  kConvert,  // the tag's legacy texts become Unicode, or the file gets a Unicode tag
  kNothing,  // nothing to convert: no legacy text, or not an MP3 or WMA file
  kRefused,  // cannot be converted safely, or cannot be read
};

struct ConvertEntry {
  std::string path;
  int position = 0;
  ConvertStatus status = ConvertStatus::kNothing;
  QString reason;       // why nothing is converted, or why it is refused
  bool wma = false;     // a WMA file: its attributes that hold legacy bytes become their text
  bool newTag = false;  // a new ID3v2.3 tag holding the ID3v1 block's fields
  size_t frames = 0;    // an existing tag: the frames that change (fields carried in included)
  // Each field the conversion changes, as players show it now and as it will read. A file that
  // needs a look: as the best reading gives them, and `secondTexts` as the second best does.
  std::vector<ConvertText> texts, secondTexts;
  // What the file's legacy text was found to be, decided over all its fields. A file whose best
  // two readings are close is left as it is (kNothing) and needs a look, unless an encoding was
  // chosen for it.
  legacy::Detection detection;
  std::optional<legacy::Encoding> chosen;  // the encoding the user chose for the file
  // The reading the conversion goes by: the detection, or the chosen encoding.
  legacy::Detection Decided() const {
    return chosen ? legacy::WithEncoding(detection, *chosen) : detection;
  }
  bool NeedsALook() const { return !chosen && detection.any && detection.ambiguous; }
};

struct ConvertPlan {
  std::vector<ConvertEntry> entries;
  int Count(ConvertStatus status) const;
  int NeedingALook() const;
};

// The plan of turning the legacy texts of `paths` into Unicode. Each file's legacy text (GBK,
// Big5, Shift-JIS, CP1252 or UTF-8 bytes in its ID3v1 slots and Latin-1 frames, or such bytes
// stored as CP1252 mojibake in Unicode frames and WMA attributes) is read as one encoding,
// decided over all its fields (or `encoding`, for every file, when given): an ID3v2 tag gets
// those frames in Unicode, and the ID3v1 block's fields it lacks when the block holds text beyond
// ASCII and the tag lacks the title or the artist; a file without an ID3v2 tag whose ID3v1 block
// holds text beyond ASCII gets a new ID3v2.3 tag with its fields in UTF-16; a WMA file's attributes
// get their text. Text that reads right is left; a file whose reading is not clear is left and
// needs a look. The ID3v1 block stays as it is. Reads each file; never writes.
ConvertPlan PlanConvert(const std::vector<std::string>& paths,
                        const std::vector<int>& positions = {},
                        std::optional<legacy::Encoding> encoding = std::nullopt);
// Plans one entry again from its file, in `encoding` (none: as detected).
void ChooseEncoding(ConvertEntry& entry, std::optional<legacy::Encoding> encoding);
// The fields a new ID3v2 tag of a conversion holds: the ID3v1 block's texts as `detection`
// reads them (a slot it cannot read clearly is left out; ASCII as it is), its track number and
// its genre's name. Without a detection, the one over the block's own slots.
id3v2::Changes ConversionFieldsOf(const TIDmp3& v1, const legacy::Detection& detection);
id3v2::Changes ConversionFieldsOf(const TIDmp3& v1);
// The conversion of an MP3 file's ID3v2 tag `v2` (read with the block `v1`) under `detection`:
// its legacy frames in Unicode, and the block's fields the tag lacks when the block holds text
// beyond ASCII and the tag lacks the title or the artist (`carried`: those fields). `frames`
// counts both.
id3v2::Result PlanTagConversion(const std::string& path, const TIDmp3& v1, const id3v2::TagInfo& v2,
                                const legacy::Detection& detection, id3v2::SavePlan& plan,
                                size_t& frames, id3v2::Changes* carried = nullptr);
// The fields of a tag just read (ReadTag with its ID3v2 tag) that players show garbled, each as
// players show it now and as it reads (a close call's best reading); empty for a tag that reads
// right. What the file's conversion would change, read without opening the file again.
std::vector<ConvertText> GarbledTexts(TagKind kind, const TIDmp3& v1, const TIDwma& wma,
                                      const id3v2::TagInfo& v2);
// "播放器显示为乱码……" and a line per field, for a tooltip.
QString DescribeGarbled(const std::vector<ConvertText>& texts);
// A field's name in a conversion's plan: the window's name, a WMA-only field's label.
QString ConvertFieldName(TagField field);
// The legacy bytes of a WMA tag's texts and the texts they become under `detection`.
std::vector<std::string> LegacyFieldsOf(const TIDwma& tag);
std::vector<ConvertText> WmaConversionOf(const TIDwma& tag, const legacy::Detection& detection);
// "共 N 个文件：转换 N，无需转换 N，无法转换 N", and "，需要确认 N" when files need a look.
QString SummarizeConvertPlan(const ConvertPlan& plan);
// The counts, every refused file, then each file to convert and the texts it will show.
QString DescribeConvertPlan(const ConvertPlan& plan, int maxFiles = 1000);

}  // namespace core
