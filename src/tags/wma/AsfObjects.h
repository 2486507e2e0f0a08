// The objects of an ASF header that the tag code reads and rebuilds, each with a parse and a
// render that mirror each other, and the walk over the Header Object's children. Everything works
// on the header's bytes in memory; a field that runs past the bytes it must lie in raises
// EReadError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tags/wma/AsfBytes.h"

namespace asf {

// The Header Object's own fields: identifier, Object Size, Number of Header Objects and two
// reserved bytes. Its first child follows them.
constexpr size_t kHeaderStartSize = 30;
constexpr size_t kObjectSizeAt = 16;
constexpr size_t kChildCountAt = 24;
// A child object's head: identifier and Object Size.
constexpr size_t kObjectHeadSize = 24;

// The longest text that a string can hold: 2 * 32,766 + 2 = 65,534 bytes, the largest even WORD.
constexpr size_t kMaxTextUnits = 32766;
// The most descriptors that one Extended Content Description Object can count.
constexpr size_t kMaxDescriptors = 65535;

// Descriptor value types that the tag code tells apart.
constexpr uint16_t kTypeString = 0;
constexpr uint16_t kTypeDword = 3;
constexpr uint16_t kTypeQword = 4;
constexpr uint16_t kTypeWord = 5;

// What a file's first bytes are.
enum class FileStart {
  kTooShort,  // fewer than 24 bytes
  kOther,     // not an ASF Header Object
  kHeader,    // an ASF Header Object; its Object Size is given
};

// Looks at the first bytes of a file (up to 30 of them); when there are at least 24, `headerSize`
// is the QWORD at offset 16, whatever the identifier.
FileStart IdentifyStart(ByteSpan first, int64_t& headerSize);

// The largest header the tag code reads: far above any real one with cover art, and small enough
// that a file claiming a huge header cannot make it take that much memory.
constexpr int64_t kMaxHeaderSize = int64_t{64} << 20;

// Raises EReadError unless a header of `headerSize` bytes can hold its own fields, is at most
// kMaxHeaderSize bytes and fits in a file of `fileSize` bytes.
void CheckHeaderSize(int64_t headerSize, int64_t fileSize);

// One child of the Header Object.
struct ChildObject {
  Guid id{};
  size_t offset = 0;  // from the start of the header
  ByteSpan bytes;     // the whole object, head included: Object Size bytes

  // A reader over the object's body, the bytes after its head.
  ByteReader Body() const;
};

// Walks the children of a whole header (its bytes from offset 0 up to its Object Size), each
// passed by its Object Size. A child whose Object Size is below 24, or which runs past the
// header's end, or a head that does not fit before the end, raises EReadError. Every step moves
// forward by at least 24 bytes, so the walk always ends.
class HeaderWalk {
 public:
  explicit HeaderWalk(ByteSpan header);
  // The next child; false at the header's end.
  bool Next(ChildObject& child);

 private:
  ByteReader reader_;
  ByteSpan header_;
};

// The Content Description Object: five strings, of which the first four hold the title, author,
// copyright and description, and the fifth the rating.
struct ContentDescription {
  enum Index { kTitle, kAuthor, kCopyright, kDescription, kRating };
  std::array<std::u16string, 5> strings;

  // Reads the five lengths, then the strings in order, each stored as soon as it is read, so
  // that a string that runs past the body leaves the strings before it in `into`.
  static void Parse(ByteReader body, ContentDescription& into);
  // Writes the whole object: identifier, Object Size, the five lengths (0 for an empty string)
  // and the non-empty strings. Each string must hold at most kMaxTextUnits units.
  void Render(ByteWriter& out) const;
};

// One content descriptor of the Extended Content Description Object, its bytes as stored.
struct ContentDescriptor {
  ByteSpan name;  // the name's bytes, the terminating NUL included
  uint16_t type = 0;
  ByteSpan value;

  static ContentDescriptor Parse(ByteReader& body);
  // Writes the descriptor as read; a name of no bytes is written as a lone NUL unit.
  void Render(ByteWriter& out) const;
  std::u16string Name() const { return TextOf(name); }
};

// The Extended Content Description Object: a count and that many descriptors.
struct ExtendedContentDescription {
  std::vector<ContentDescriptor> descriptors;

  // Reads the count, then the descriptors in order, handing each to `visit` as soon as it is
  // read: a descriptor that runs past the body raises after those before it were handed on.
  template <typename Visit>
  static void ForEachDescriptor(ByteReader body, Visit&& visit) {
    uint16_t count = body.ReadWord();
    for (uint16_t i = 0; i < count; ++i) visit(ContentDescriptor::Parse(body));
  }
  static void Parse(ByteReader body, ExtendedContentDescription& into);
};

// Builds a new Extended Content Description Object at the end of `out`: the head and the count
// are written as placeholders first and patched by Finish().
class ExtendedContentDescriptionWriter {
 public:
  explicit ExtendedContentDescriptionWriter(ByteWriter& out);

  // A string descriptor (type 0) of the given name and text; the text is not empty and both hold
  // at most kMaxTextUnits units.
  void AppendDescriptor(std::u16string_view name, std::u16string_view text);
  // A descriptor carried over from an old header, exactly as read.
  void AppendDescriptor(const ContentDescriptor& descriptor);

  size_t count() const { return count_; }
  // Patches the Object Size and the descriptor count; false when there are more descriptors than
  // a count can hold.
  bool Finish();

 private:
  ByteWriter& out_;
  size_t start_;
  size_t count_ = 0;
};

}  // namespace asf
