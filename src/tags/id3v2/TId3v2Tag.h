// The ID3v2 tag at the start of an MP3 file (versions 2.2, 2.3 and 2.4): the fields the window
// shows, read from the file, and new tags rendered in memory for the core to write. The tag code
// reads the tag's bytes itself and never writes a file; TagLib serves as the codec for the frames
// it renders and for the tags it converts, always in memory.
//
// A tag is the region from its header to the end of its padding or footer: the bytes a rewrite
// replaces. Every render keeps the bytes of each frame it does not change.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TIDmp3;

namespace platform {
class File;
}

namespace id3v2 {

// The fields the window shows, in this order.
enum Field : size_t { kTitle, kArtist, kAlbum, kYear, kComment, kTrack, kGenre };
constexpr size_t kFieldCount = 7;

// One field as the tag stores it: the first value of its frame (title TIT2, artist TPE1, album
// TALB, year TYER or TDRC, comment the COMM frame with an empty description, track TRCK, genre
// TCON; their three-letter names in a 2.2 tag). A genre's references to the ID3v1 genre numbers,
// "(13)" or "13", are resolved to the genre's name; a refinement after them ("(4)Eurodisco")
// wins. Nothing is trimmed; a track stays as stored ("3/12"), a 2.4 date too ("2005-03-01").
struct FieldValue {
  enum Kind : uint8_t {
    kAbsent,   // no such frame, or one that cannot be read
    kLatin1,   // a frame stored as Latin-1: `latin1` holds its raw bytes, which old Chinese
               // taggers filled with GBK; the caller decides how to show them
    kUnicode,  // a frame stored in UTF-16 or UTF-8: `text` holds its text
  };
  Kind kind = kAbsent;
  std::string latin1;
  std::u16string text;
};

enum class Presence : uint8_t {
  kNone,        // the file does not begin with an ID3v2 tag
  kTag,         // a tag, read
  kUnreadable,  // it begins with an ID3v2 tag header, but the tag cannot be read: larger than the
                // file or than kMaxTagSize, or of a kind the tag code does not read. Nothing may
                // be written over it, and no new tag put before it.
};

struct TagInfo {
  Presence presence = Presence::kNone;
  int version = 0;   // the major version (2, 3 or 4) of a tag header, read or not
  int64_t size = 0;  // kTag: the region's bytes, header to the end of its padding or footer
  std::array<FieldValue, kFieldCount> fields;
};

// The largest tag the tag code reads: far above any real one with cover art, small enough that a
// file claiming a huge tag cannot make it take that much memory.
constexpr int64_t kMaxTagSize = int64_t{64} << 20;

// The room a tag keeps for later edits when it grows: at least this many bytes of padding, and up
// to one block more, so that the audio after the tag keeps its offset modulo the block size.
constexpr int64_t kMinGrownPadding = 2048;

// ---- Reading

// Reads the tag at the start of the file: its fields, version and size. Reads only the frames it
// shows (a cover is stepped over, not read). False, with `tag` empty, when the file cannot be
// opened or read; errno tells why.
bool ReadFromFile(const std::string& path, TagInfo& tag);
// The same through a file already open for reading.
bool ReadFromOpenFile(const platform::File& file, TagInfo& tag);

// Reads both tags of an MP3 file with one open: the ID3v1 block at its end as
// TIDmp3::ReadFromFile does (false when the last 128 bytes cannot be read), and the ID3v2 tag at
// its start, as ReadFromFile above.
bool ReadBothTags(const std::string& path, TIDmp3& v1, TagInfo& v2);

// Reads the tag from a whole file's bytes held in memory, as ReadFromFile reads a file that holds
// them (for tests and fuzzing).
void ReadFromImage(const uint8_t* data, size_t size, TagInfo& tag);

// ---- Rendering

// The fields a render writes: for each field, nothing (left as it is) or its new text; an empty
// text removes the field's frames.
using Changes = std::array<std::optional<std::u16string>, kFieldCount>;

// Given the raw bytes of one Latin-1 string that holds a byte above 0x7F, gives true and the text
// it stands for when it is to become Unicode (the core decodes GBK), else false.
using LegacyText = std::function<bool(std::string_view bytes, std::u16string& text)>;
// Given the text of one string of a Unicode frame that holds a character beyond ASCII, gives true
// and the text it stands for when it is legacy bytes that a tool read as CP1252 and stored as
// Unicode ("·¢ÈçÑ©" for "发如雪"), else false.
using MojibakeText = std::function<bool(const std::u16string& shown, std::u16string& text)>;

enum class Result : uint8_t {
  kOk,
  kNoTag,       // an update or a conversion of a file without an ID3v2 tag
  kHasTag,      // a new tag for a file that has one (or an unreadable one: see Presence)
  kRefused,     // a tag that cannot be rewritten safely: a frame that cannot be walked, bytes
                // after the frames that are not padding, a 2.4 frame size that is not syncsafe,
                // a 2.2 tag whose conversion would lose frames, a tag past kMaxTagSize
  kReadFailed,  // the file could not be opened or read; errno tells why
};

// The tag that replaces `old` (a whole tag region): each changed field's frames replaced by one
// frame in Unicode, UTF-16 with a byte order mark in a 2.3 tag and UTF-8 in a 2.4 tag, where the
// field's first frame stood (a field the tag lacked goes after the last frame); every other frame
// copied byte for byte, in its order. A 2.3 or 2.4 tag keeps its version; a 2.2 tag becomes a 2.3
// tag (TagLib converts its frames). The new tag drops an extended header, a footer and the
// unsynchronisation of a 2.2 or 2.3 tag (its frames are written resynchronised).
//
// Size: when the frames fit in the old region, the new tag takes exactly its size, padding
// filling the rest, so that it can be written in place. Otherwise it grows to the smallest size
// with kMinGrownPadding bytes of padding or more whose difference from the old size is a multiple
// of `block` (so that the audio keeps its offset modulo the block size).
Result RenderUpdate(const std::vector<uint8_t>& old, const Changes& changes, int64_t block,
                    std::vector<uint8_t>& rendered);

// The tag that replaces `old` with its legacy text turned to Unicode: each Latin-1 text frame
// (T***, TXXX included), comment (COMM) and unsynchronised lyrics frame (USLT) whose strings are
// either ASCII or accepted by `decode` (one at least) becomes the same frame in Unicode, as
// RenderUpdate writes its frames; with `mojibake`, so does each such Unicode frame one of whose
// strings it turns into other text (the others kept). Every other frame is copied byte for
// byte. `converted` counts the frames that changed. Size, version and refusals as RenderUpdate.
Result RenderConversion(const std::vector<uint8_t>& old, const LegacyText& decode, int64_t block,
                        std::vector<uint8_t>& rendered, size_t& converted,
                        const MojibakeText& mojibake = nullptr);

// A new ID3v2.3 tag for a file that has none: the non-empty fields of `fields` in UTF-16 with a
// byte order mark, then padding, kMinGrownPadding bytes or more, up to a multiple of `block`.
std::vector<uint8_t> RenderNewTag(const Changes& fields, int64_t block);

// What a write of a tag will do to one file, worked out before anything is written: the region
// at the file's start as it stands (empty for a file without a tag) and the bytes that replace
// it, the rest of the file following unchanged.
struct SavePlan {
  std::vector<uint8_t> oldTag;
  std::vector<uint8_t> newTag;
  int64_t fileSize = 0;  // the file's size when the plan was made
  // The new tag takes exactly the old one's room, so it can be written over it in place.
  bool InPlace() const { return newTag.size() == oldTag.size(); }
};

// Plans on a file, with the block of its file system: RenderUpdate (kNoTag when it has no tag),
// RenderConversion (kNoTag likewise; `converted` 0 means nothing to change) followed by
// RenderUpdate of `added` (fields the conversion brings in beside the frames it turns to Unicode;
// each counts as one converted frame) and RenderNewTag (kHasTag when the file begins with a tag
// header).
Result PlanUpdate(const std::string& path, const Changes& changes, SavePlan& plan);
// PlanUpdate with the changes decided from the tag itself, with one open and one read of its
// region: `tag` is read from that region as ReadFromFile reads it (empty for a file without a tag
// or with one that cannot be read), then `changesFor(tag)` is rendered. When they change nothing,
// kOk with `plan.newTag` empty.
Result PlanUpdate(const std::string& path, const std::function<Changes(const TagInfo&)>& changesFor,
                  TagInfo& tag, SavePlan& plan);
Result PlanConversion(const std::string& path, const LegacyText& decode, SavePlan& plan,
                      size_t& converted, const MojibakeText& mojibake = nullptr,
                      const Changes& added = {});
Result PlanNewTag(const std::string& path, const Changes& fields, SavePlan& plan);

}  // namespace id3v2
