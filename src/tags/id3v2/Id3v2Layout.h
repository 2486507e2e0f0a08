// The byte layout of an ID3v2 tag (versions 2.2, 2.3 and 2.4) as the tag code walks it: the tag
// header, the extended header, the frames and the padding or footer, read with a bounds-checked
// cursor. Nothing here opens a file or allocates for bytes it has not been given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace id3v2::layout {

// A run of bytes inside a buffer that outlives it.
struct Span {
  const uint8_t* data = nullptr;
  size_t size = 0;

  Span Sub(size_t at, size_t count) const { return Span{data + at, count}; }
  Span From(size_t at) const { return Span{data + at, size - at}; }
};

// Reads big-endian fields front to back. A read past the end fails (false) and leaves the cursor
// where it was.
class Cursor {
 public:
  explicit Cursor(Span bytes) : bytes_(bytes) {}

  size_t Position() const { return pos_; }
  size_t Remaining() const { return bytes_.size - pos_; }
  bool Take(size_t count, Span& out);
  bool Skip(size_t count);
  uint8_t Peek() const { return bytes_.data[pos_]; }  // only with Remaining() > 0

 private:
  Span bytes_;
  size_t pos_ = 0;
};

// Big-endian integers of `width` bytes: plain (8 bits a byte) and syncsafe (7 bits a byte, the
// high bit of every byte clear).
uint32_t PlainInt(const uint8_t* bytes, size_t width);
bool IsSyncsafe(const uint8_t* bytes, size_t width);
uint32_t SyncsafeInt(const uint8_t* bytes, size_t width);
void PutPlainInt(uint32_t value, uint8_t* out, size_t width);
void PutSyncsafeInt(uint32_t value, uint8_t* out);  // 4 bytes, value below 2^28

// The tag header's flags.
constexpr uint8_t kFlagUnsync = 0x80;
constexpr uint8_t kFlagExtended = 0x40;  // 2.3, 2.4 (in 2.2 this bit says "compressed")
constexpr uint8_t kFlagExperimental = 0x20;
constexpr uint8_t kFlagFooter = 0x10;  // 2.4
constexpr size_t kHeaderSize = 10;

// The tag header: "ID3", the major version, the revision, the flags and the syncsafe size of
// what follows it (less a footer).
struct TagHeader {
  int version = 0;
  uint8_t flags = 0;
  uint32_t size = 0;  // the bytes after the header, footer excluded

  bool HasFooter() const { return version == 4 && (flags & kFlagFooter); }
  // The whole tag: header, extended header, frames, padding and footer.
  int64_t RegionSize() const { return int64_t{kHeaderSize} + size + (HasFooter() ? 10 : 0); }
};

enum class HeaderKind {
  kNone,        // the bytes do not begin with an ID3v2 tag header
  kTag,         // a tag header that the tag code reads
  kUnreadable,  // a tag header of a kind the tag code does not read (a compressed 2.2 tag,
                // flags it does not know)
};

// Looks at the first 10 bytes of a file (fewer: no tag).
HeaderKind ParseHeader(Span first, TagHeader& header);

// One frame as it stands in the tag's (resynchronised) bytes.
struct Frame {
  std::string_view id;  // 3 characters in 2.2, 4 in 2.3 and 2.4
  uint16_t flags = 0;   // the two flag bytes of 2.3 and 2.4; 0 in 2.2
  Span whole;           // header and body
  Span body;            // the bytes after the frame header
};

// The frame header's size for a version: 6 in 2.2, else 10.
inline size_t FrameHeaderSize(int version) { return version == 2 ? 6 : 10; }

// A frame header's fields.
struct FrameHead {
  std::string_view id;
  uint16_t flags = 0;
  uint32_t size = 0;  // the body's bytes
};

// Reads the frame header at `head` (FrameHeaderSize(version) bytes); false when its identifier is
// not one, or, unless `lenient`, a 2.4 size is not syncsafe.
bool ParseFrameHead(const uint8_t* head, int version, bool lenient, FrameHead& out);

enum class FrameStep {
  kFrame,    // a frame
  kPadding,  // a zero byte where the next frame would begin: padding to the end
  kEnd,      // no bytes left
  kBroken,   // not a frame: an identifier that is not one, a size past the end
};

// Reads the frame header at the cursor and, when it is a frame's, steps over the frame. In 2.4 the
// frame sizes are syncsafe; `lenient` also takes a 2.4 size that is not syncsafe as a plain one,
// as some writers stored it (reading only: a rewrite refuses such a tag).
FrameStep NextFrame(Cursor& cursor, int version, bool lenient, Frame& frame);

// Whether the frame header bytes (at least FrameHeaderSize) name a frame: capital letters and
// digits.
bool IsFrameId(const uint8_t* bytes, size_t width);

// Removes the unsynchronisation escapes: every 0x00 that follows a 0xFF.
std::vector<uint8_t> Resynchronise(Span bytes);

// The frames of a whole tag, with the bytes they point into.
struct Layout {
  TagHeader header;
  std::vector<uint8_t> storage;  // the resynchronised frames of an unsynchronised tag
  std::vector<Frame> frames;
};

// Walks a whole tag region (RegionSize() bytes from its header on). In `strict` mode a rewrite
// depends on it: false for any frame that cannot be walked (a broken frame header, a size past
// the end, a 2.4 size that is not syncsafe) or bytes after the frames that are not padding. In
// lenient mode the walk stops at the first broken frame and gives what it found before it.
bool ParseLayout(Span region, bool strict, Layout& layout);

// ---- Text

// Text encodings of a text frame's first byte.
constexpr uint8_t kLatin1 = 0;
constexpr uint8_t kUtf16 = 1;    // with a byte order mark
constexpr uint8_t kUtf16Be = 2;  // 2.4
constexpr uint8_t kUtf8 = 3;     // 2.4

// Splits off the first string of `bytes` in `encoding`: its bytes without the terminator, and
// what follows the terminator (nothing when there is none).
void SplitString(uint8_t encoding, Span bytes, Span& first, Span& rest);
// The text of a string's bytes in a Unicode encoding (UTF-16 with or without a byte order mark,
// UTF-16BE, UTF-8); a sequence that is not valid gives U+FFFD.
std::u16string DecodeUnicode(uint8_t encoding, Span bytes);
// The same into `out`, reusing its room.
void DecodeUnicode(uint8_t encoding, Span bytes, std::u16string& out);

}  // namespace id3v2::layout
