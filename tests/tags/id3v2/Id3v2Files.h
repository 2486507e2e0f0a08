// Builders of ID3v2 tags for the tests, assembled field by field from the layout, and a walk of a
// tag's frames independent of the tag code's own; plus the write of a plan, as the core does it.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "TestFiles.h"
#include "tags/id3v2/TId3v2Tag.h"

namespace id3files {

using Bytes = std::vector<uint8_t>;

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
inline Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes B(const char* s, size_t n) { return Bytes(s, s + n); }
inline Bytes Syncsafe(uint32_t v) {
  return {uint8_t((v >> 21) & 0x7F), uint8_t((v >> 14) & 0x7F), uint8_t((v >> 7) & 0x7F),
          uint8_t(v & 0x7F)};
}
inline Bytes Be(uint32_t v, int width) {
  Bytes b;
  for (int i = width - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
  return b;
}

// Text frame bodies: the encoding byte and the text.
inline Bytes Latin1(const std::string& bytes) { return Bytes{0} + B(bytes); }
inline Bytes Utf16(const std::u16string& text, bool bigEndian = false) {
  Bytes b = {1, uint8_t(bigEndian ? 0xFE : 0xFF), uint8_t(bigEndian ? 0xFF : 0xFE)};
  for (char16_t u : text) {
    b.push_back(uint8_t(bigEndian ? u >> 8 : u));
    b.push_back(uint8_t(bigEndian ? u : u >> 8));
  }
  return b;
}
inline Bytes Utf8(const std::string& utf8) { return Bytes{3} + B(utf8); }
// A comment or lyrics body in Latin-1: language, description, text.
inline Bytes Comment(const std::string& lang, const std::string& desc, const std::string& text) {
  return Bytes{0} + B(lang) + B(desc) + Bytes{0} + B(text);
}

// A frame: a three-letter identifier makes a 2.2 frame; a 2.4 frame has a syncsafe size.
inline Bytes Frame(const std::string& id, const Bytes& body, int version = 3, uint16_t flags = 0) {
  if (id.size() == 3) return B(id) + Be(uint32_t(body.size()), 3) + body;
  const uint32_t n = uint32_t(body.size());
  return B(id) + (version == 4 ? Syncsafe(n) : Be(n, 4)) + Be(flags, 2) + body;
}

// A whole tag: header, `rest` (the frames, and an extended header before them), padding.
inline Bytes Tag(int version, const Bytes& rest, size_t padding = 0, uint8_t flags = 0) {
  return B("ID3") + Bytes{uint8_t(version), 0, flags} + Syncsafe(uint32_t(rest.size() + padding)) +
         rest + Bytes(padding, 0);
}

// Stand-in audio: MPEG frame headers and bytes that differ from file to file.
inline Bytes Audio(size_t size = 600, uint8_t seed = 1) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = uint8_t(seed + 13 * i);
  b[0] = 0xFF, b[1] = 0xFB, b[2] = 0x90, b[3] = 0x64;
  return b;
}

// The frames of a whole tag, identifier and bytes (header included), in order: the test's own
// walk, for 2.3 and 2.4 tags (a 2.3 tag resynchronised first when its flag says so), up to the
// padding or the footer.
inline std::vector<std::pair<std::string, Bytes>> Frames(const Bytes& tag) {
  std::vector<std::pair<std::string, Bytes>> frames;
  const int version = tag[3];
  Bytes body(tag.begin() + 10, tag.end());
  if ((tag[5] & 0x80) && version == 3) {
    Bytes plain;
    for (size_t i = 0; i < body.size(); ++i) {
      plain.push_back(body[i]);
      if (body[i] == 0xFF && i + 1 < body.size() && body[i + 1] == 0) ++i;
    }
    body = plain;
  }
  size_t at = 0;
  if (tag[5] & 0x40) {  // an extended header
    const uint8_t* s = &body[0];
    at = version == 4 ? (s[0] << 21) | (s[1] << 14) | (s[2] << 7) | s[3] : 4 + s[3];
  }
  while (at + 10 <= body.size() && std::isalnum(body[at]) &&
         std::isupper(body[at]) | std::isdigit(body[at])) {
    const uint8_t* s = &body[at + 4];
    const size_t size = version == 4 ? (s[0] << 21) | (s[1] << 14) | (s[2] << 7) | s[3]
                                     : (size_t(s[0]) << 24) | (s[1] << 16) | (s[2] << 8) | s[3];
    if (at + 10 + size > body.size()) break;
    frames.emplace_back(std::string(body.begin() + long(at), body.begin() + long(at) + 4),
                        Bytes(body.begin() + long(at), body.begin() + long(at + 10 + size)));
    at += 10 + size;
  }
  return frames;
}

// The size of the tag at the start of a file's bytes (0 for none).
inline size_t TagSize(const Bytes& file) {
  if (file.size() < 10 || file[0] != 'I' || file[1] != 'D' || file[2] != '3') return 0;
  return 10 + ((file[6] << 21) | (file[7] << 14) | (file[8] << 7) | file[9]) +
         ((file[3] == 4 && (file[5] & 0x10)) ? 10 : 0);
}

// Carries out a plan as the core does: the new tag over the old one in place when it fits, else
// a new file of the new tag and the old file's bytes after the old tag.
inline void WritePlan(const std::string& path, const id3v2::SavePlan& plan) {
  Bytes file = testfiles::ReadAll(path);
  ASSERT_EQ(file.size(), size_t(plan.fileSize));
  ASSERT_TRUE(std::equal(plan.oldTag.begin(), plan.oldTag.end(), file.begin()));
  if (plan.InPlace()) {
    FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(plan.newTag.data(), 1, plan.newTag.size(), f), plan.newTag.size());
    std::fclose(f);
  } else {
    testfiles::WriteAll(path,
                        plan.newTag + Bytes(file.begin() + long(plan.oldTag.size()), file.end()));
  }
}

// id3v2::Changes with some fields set.
inline id3v2::Changes Set(std::initializer_list<std::pair<id3v2::Field, std::u16string>> fields) {
  id3v2::Changes changes;
  for (const auto& [field, text] : fields) changes[field] = text;
  return changes;
}

}  // namespace id3files
