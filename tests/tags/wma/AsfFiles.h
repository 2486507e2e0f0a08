// Builders of ASF files for the WMA tests: header objects assembled field by field from the
// layouts, independent of the tag code's own writer.
#pragma once

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/File.h"
#include "tags/wma/TWmaTag.h"

namespace asffiles {

using Bytes = std::vector<uint8_t>;
using Id = std::array<uint8_t, 16>;

// The ASF File Properties and Stream Properties identifiers: objects the tag code must copy.
inline const Id kFilePropertiesId = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                     0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
inline const Id kStreamPropertiesId = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                       0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Bytes Word(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
inline Bytes Dword(uint32_t v) { return Word(uint16_t(v)) + Word(uint16_t(v >> 16)); }
inline Bytes Qword(uint64_t v) { return Dword(uint32_t(v)) + Dword(uint32_t(v >> 32)); }
inline Bytes IdBytes(const Id& id) { return Bytes(id.begin(), id.end()); }

// A text's units in UTF-16LE, without a terminator.
inline Bytes Units(std::u16string_view text) {
  Bytes b;
  b.reserve(2 * text.size());
  for (char16_t u : text) {
    b.push_back(uint8_t(u));
    b.push_back(uint8_t(u >> 8));
  }
  return b;
}
// A stored string: the units and one NUL unit.
inline Bytes Str(std::u16string_view text) { return Units(text) + Word(0); }

// A child object: identifier, Object Size (head and body) and body.
inline Bytes Object(const Id& id, const Bytes& body) {
  return IdBytes(id) + Qword(24 + body.size()) + body;
}

// An opaque child object with a recognisable body of `bodySize` bytes.
inline Bytes Opaque(const Id& id, size_t bodySize, uint8_t seed) {
  Bytes body(bodySize);
  for (size_t i = 0; i < bodySize; ++i) body[i] = uint8_t(seed + 7 * i);
  return Object(id, body);
}

// A Content Description Object from its five stored strings (title, author, copyright,
// description, rating), each given as its exact bytes; empty bytes give length 0.
inline Bytes ContentRaw(const std::array<Bytes, 5>& strings) {
  Bytes body;
  for (const Bytes& s : strings) body = body + Word(uint16_t(s.size()));
  for (const Bytes& s : strings) body = body + s;
  return Object(ContentDescriptionObjectId, body);
}

// A Content Description Object holding these texts; an empty text is stored with length 0.
inline Bytes Content(std::u16string_view title, std::u16string_view author,
                     std::u16string_view copyright = u"", std::u16string_view description = u"",
                     std::u16string_view rating = u"") {
  auto s = [](std::u16string_view t) { return t.empty() ? Bytes{} : Str(t); };
  return ContentRaw({s(title), s(author), s(copyright), s(description), s(rating)});
}

// One content descriptor, its fields given as stored.
struct Descriptor {
  Bytes name;
  uint16_t type;
  Bytes value;
  Bytes Encoded() const {
    return Word(uint16_t(name.size())) + name + Word(type) + Word(uint16_t(value.size())) + value;
  }
};

inline Descriptor StringDesc(std::u16string_view name, std::u16string_view value) {
  return {Str(name), 0, Str(value)};
}
inline Descriptor DwordDesc(std::u16string_view name, uint32_t value) {
  return {Str(name), 3, Dword(value)};
}

// An Extended Content Description Object with a count of its descriptors (or `count` when given).
inline Bytes Extended(const std::vector<Descriptor>& descriptors, int count = -1) {
  Bytes body = Word(uint16_t(count < 0 ? descriptors.size() : size_t(count)));
  for (const auto& d : descriptors) {
    Bytes e = d.Encoded();
    body.insert(body.end(), e.begin(), e.end());
  }
  return Object(ExtendedContentDescriptionObjectId, body);
}

// The Header Object's first 30 bytes.
inline Bytes HeaderStart(uint64_t size, uint32_t count, uint8_t reserved1 = 0x01,
                         uint8_t reserved2 = 0x02) {
  return IdBytes(HeaderObjectId) + Qword(size) + Dword(count) + Bytes{reserved1, reserved2};
}

// A header of these children, its size and count matching them.
inline Bytes Header(const std::vector<Bytes>& children) {
  Bytes body;
  for (const Bytes& c : children) body.insert(body.end(), c.begin(), c.end());
  return HeaderStart(30 + body.size(), uint32_t(children.size())) + body;
}

// Bytes standing for what follows the header (the Data Object and the audio).
inline Bytes Payload(size_t size = 3000) {
  Bytes b(size);
  uint32_t x = 12345;
  for (auto& v : b) {
    x = x * 1103515245 + 12345;
    v = uint8_t(x >> 16);
  }
  return b;
}

// A whole file: a header of these children and a payload after it.
inline Bytes File(const std::vector<Bytes>& children, const Bytes& payload = Payload()) {
  return Header(children) + payload;
}

// The Object Size of the header at the start of `file`.
inline uint64_t HeaderSizeOf(const Bytes& file) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | file.at(16 + i);
  return v;
}

// The bytes of `file` after its header.
inline Bytes AfterHeader(const Bytes& file) {
  return Bytes(file.begin() + long(HeaderSizeOf(file)), file.end());
}

// The file with the Padding Object that ends its header taken out, the header's Object Size and
// Number of Header Objects lowered to match: what a save wrote, less the room it keeps.
inline Bytes WithoutPadding(const Bytes& file) {
  const uint64_t size = HeaderSizeOf(file);
  uint64_t at = 30, last = 0;
  while (at + 24 <= size) {
    last = at;
    uint64_t objectSize = 0;
    for (int i = 7; i >= 0; --i) objectSize = (objectSize << 8) | file.at(at + 16 + i);
    at += objectSize;
  }
  if (last == 0 ||
      !std::equal(PaddingObjectId.begin(), PaddingObjectId.end(), file.begin() + long(last))) {
    return file;
  }
  Bytes out(file.begin(), file.begin() + long(last));
  uint32_t count = uint32_t(out[24] | out[25] << 8 | out[26] << 16 | uint32_t(out[27]) << 24) - 1;
  Bytes head = Qword(last) + Dword(count);
  std::copy(head.begin(), head.end(), out.begin() + 16);
  return out + AfterHeader(file);
}

// Carries out a plan whose header fits through the write the core makes: the file opened for
// reading and writing, the whole new header written over the old one and flushed. False (errno
// set) on failure.
inline bool WriteInPlace(const std::string& path, const wma::SavePlan& plan) {
  platform::File file;
  int err = file.OpenReadWrite(path)
                ? wma::WriteHeaderInPlace(file, 0, {plan.oldHeader.data(), plan.oldHeader.size()},
                                          {plan.newHeader.data(), plan.newHeader.size()}, true)
                : file.error();
  if (err == 0 && !file.Close()) err = file.error();
  errno = err;
  return err == 0;
}

}  // namespace asffiles
