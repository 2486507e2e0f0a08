#include "tags/wma/AsfBytes.h"

#include <cstring>

#include "tags/wma/TWmaTag.h"

namespace asf {

bool operator==(ByteSpan a, ByteSpan b) {
  return a.size == b.size && (a.size == 0 || std::memcmp(a.data, b.data, a.size) == 0);
}

namespace {

char16_t UnitAt(ByteSpan bytes, size_t i) {
  return static_cast<char16_t>(bytes.data[2 * i] | (bytes.data[2 * i + 1] << 8));
}

}  // namespace

size_t TextUnits(ByteSpan bytes) {
  size_t units = bytes.size / 2;
  if (bytes.size % 2 == 0) {
    if (units > 0) --units;
  } else if (units > 0 && UnitAt(bytes, units - 1) == 0) {
    --units;
  }
  return units;
}

std::u16string TextOf(ByteSpan bytes) {
  std::u16string text(TextUnits(bytes), u'\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = UnitAt(bytes, i);
  return text;
}

bool TextEquals(ByteSpan bytes, std::u16string_view text) {
  if (TextUnits(bytes) != text.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (UnitAt(bytes, i) != text[i]) return false;
  }
  return true;
}

void RaiseReadError() { throw EReadError(); }

Guid ByteReader::ReadGuid() {
  Guid id;
  std::memcpy(id.data(), Take(id.size()), id.size());
  return id;
}

void ByteWriter::WriteWord(uint16_t value) {
  bytes_.push_back(static_cast<uint8_t>(value));
  bytes_.push_back(static_cast<uint8_t>(value >> 8));
}

void ByteWriter::WriteDword(uint32_t value) {
  WriteWord(static_cast<uint16_t>(value));
  WriteWord(static_cast<uint16_t>(value >> 16));
}

void ByteWriter::WriteQword(uint64_t value) {
  WriteDword(static_cast<uint32_t>(value));
  WriteDword(static_cast<uint32_t>(value >> 32));
}

void ByteWriter::WriteGuid(const Guid& id) { bytes_.insert(bytes_.end(), id.begin(), id.end()); }

void ByteWriter::WriteBytes(ByteSpan bytes) {
  if (bytes.size > 0) bytes_.insert(bytes_.end(), bytes.data, bytes.data + bytes.size);
}

void ByteWriter::WriteUtf16(std::u16string_view text) {
  bytes_.reserve(bytes_.size() + StringLength(text));
  for (char16_t unit : text) WriteWord(unit);
  WriteWord(0);
}

void ByteWriter::Patch(size_t at, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) bytes_.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

void ByteWriter::PatchWord(size_t at, uint16_t value) { Patch(at, value, 2); }
void ByteWriter::PatchDword(size_t at, uint32_t value) { Patch(at, value, 4); }
void ByteWriter::PatchQword(size_t at, uint64_t value) { Patch(at, value, 8); }

}  // namespace asf
