// A cursor over the bytes of an ASF header held in memory, and a writer that builds new header
// bytes. Every integer is little-endian. Strings follow the header's text rule: UTF-16LE units
// ended by one NUL unit, their length counted in bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace asf {

using Guid = std::array<uint8_t, 16>;

// A run of bytes inside a buffer that outlives it.
struct ByteSpan {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

bool operator==(ByteSpan a, ByteSpan b);

// The text of a stored string of `bytes.size` bytes. An even length gives every unit but the last,
// which is the terminating NUL and is dropped unexamined. An odd length gives its whole units, less
// the last of them when that one is a NUL; the odd byte belongs to no unit.
std::u16string TextOf(ByteSpan bytes);
// True when TextOf(bytes) equals `text`: the same number of units and the same units in the same
// places. Case matters and nothing is trimmed.
bool TextEquals(ByteSpan bytes, std::u16string_view text);
// The number of units of TextOf(bytes).
size_t TextUnits(ByteSpan bytes);

// Raises EReadError.
[[noreturn]] void RaiseReadError();

// Reads fields from a fixed run of bytes, front to back. A read that would run past the end raises
// EReadError and leaves the position where it was.
class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit ByteReader(ByteSpan bytes) : ByteReader(bytes.data, bytes.size) {}

  size_t Position() const { return pos_; }
  size_t Remaining() const { return size_ - pos_; }

  uint16_t ReadWord() {
    const uint8_t* b = Take(2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
  }
  uint32_t ReadDword() {
    const uint8_t* b = Take(4);
    return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
  }
  uint64_t ReadQword() {
    uint64_t low = ReadDword();
    return low | (uint64_t{ReadDword()} << 32);
  }
  Guid ReadGuid();
  ByteSpan ReadBytes(size_t count) { return ByteSpan{Take(count), count}; }
  // Reads a string of `length` bytes and gives its text (see TextOf).
  std::u16string ReadUtf16(size_t length) { return TextOf(ReadBytes(length)); }
  void Skip(size_t count) { ReadBytes(count); }

 private:
  const uint8_t* Take(size_t count) {
    if (count > size_ - pos_) RaiseReadError();
    const uint8_t* at = data_ + pos_;
    pos_ += count;
    return at;
  }

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
};

// Appends fields to a growing byte buffer, and patches fields written earlier (sizes and counts
// that are known only once an object is complete).
class ByteWriter {
 public:
  size_t Position() const { return bytes_.size(); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

  void WriteWord(uint16_t value);
  void WriteDword(uint32_t value);
  void WriteQword(uint64_t value);
  void WriteGuid(const Guid& id);
  void WriteBytes(ByteSpan bytes);
  void WriteBytes(const uint8_t* data, size_t count) { WriteBytes(ByteSpan{data, count}); }
  // Writes the text's units followed by one NUL unit: 2 * text.size() + 2 bytes.
  void WriteUtf16(std::u16string_view text);

  void PatchWord(size_t at, uint16_t value);
  void PatchDword(size_t at, uint32_t value);
  void PatchQword(size_t at, uint64_t value);

 private:
  void Patch(size_t at, uint64_t value, size_t width);

  std::vector<uint8_t> bytes_;
};

// The byte length of a non-empty text written as a string: its units and a NUL unit.
inline size_t StringLength(std::u16string_view text) { return 2 * text.size() + 2; }

}  // namespace asf
