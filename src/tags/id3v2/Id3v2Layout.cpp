#include "tags/id3v2/Id3v2Layout.h"

#include <algorithm>
#include <cstring>

namespace id3v2::layout {

bool Cursor::Take(size_t count, Span& out) {
  if (count > Remaining()) return false;
  out = bytes_.Sub(pos_, count);
  pos_ += count;
  return true;
}

bool Cursor::Skip(size_t count) {
  Span unused;
  return Take(count, unused);
}

uint32_t PlainInt(const uint8_t* bytes, size_t width) {
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) value = (value << 8) | bytes[i];
  return value;
}

bool IsSyncsafe(const uint8_t* bytes, size_t width) {
  for (size_t i = 0; i < width; ++i) {
    if (bytes[i] & 0x80) return false;
  }
  return true;
}

uint32_t SyncsafeInt(const uint8_t* bytes, size_t width) {
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) value = (value << 7) | (bytes[i] & 0x7F);
  return value;
}

void PutPlainInt(uint32_t value, uint8_t* out, size_t width) {
  for (size_t i = 0; i < width; ++i) out[i] = uint8_t(value >> (8 * (width - 1 - i)));
}

void PutSyncsafeInt(uint32_t value, uint8_t* out) {
  for (size_t i = 0; i < 4; ++i) out[i] = uint8_t((value >> (7 * (3 - i))) & 0x7F);
}

namespace {

// The flag bits each version defines; a tag with any other bit set is not read.
uint8_t KnownFlags(int version) {
  switch (version) {
    case 2:
      return kFlagUnsync;  // 0x40 is compression, which no reader has ever defined
    case 3:
      return kFlagUnsync | kFlagExtended | kFlagExperimental;
    default:
      return kFlagUnsync | kFlagExtended | kFlagExperimental | kFlagFooter;
  }
}

}  // namespace

HeaderKind ParseHeader(Span first, TagHeader& header) {
  if (first.size < 3 || std::memcmp(first.data, "ID3", 3) != 0) return HeaderKind::kNone;
  if (first.size < kHeaderSize) return HeaderKind::kUnreadable;
  const uint8_t* b = first.data;
  header.version = b[3];
  header.flags = b[5];
  if (header.version < 2 || header.version > 4 || b[4] == 0xFF || !IsSyncsafe(b + 6, 4) ||
      (header.flags & ~KnownFlags(header.version)) != 0) {
    return HeaderKind::kUnreadable;
  }
  header.size = SyncsafeInt(b + 6, 4);
  return HeaderKind::kTag;
}

bool IsFrameId(const uint8_t* bytes, size_t width) {
  for (size_t i = 0; i < width; ++i) {
    const uint8_t c = bytes[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

bool ParseFrameHead(const uint8_t* head, int version, bool lenient, FrameHead& out) {
  const size_t idWidth = version == 2 ? 3 : 4;
  if (!IsFrameId(head, idWidth)) return false;
  if (version == 2) {
    out.size = PlainInt(head + 3, 3);
  } else if (version == 3 || !IsSyncsafe(head + 4, 4)) {
    if (version == 4 && !lenient) return false;
    out.size = PlainInt(head + 4, 4);
  } else {
    out.size = SyncsafeInt(head + 4, 4);
  }
  out.id = std::string_view(reinterpret_cast<const char*>(head), idWidth);
  out.flags = version == 2 ? 0 : uint16_t(PlainInt(head + 8, 2));
  return true;
}

FrameStep NextFrame(Cursor& cursor, int version, bool lenient, Frame& frame) {
  if (cursor.Remaining() == 0) return FrameStep::kEnd;
  if (cursor.Peek() == 0) return FrameStep::kPadding;
  Span head;
  FrameHead parsed;
  if (!cursor.Take(FrameHeaderSize(version), head) ||
      !ParseFrameHead(head.data, version, lenient, parsed)) {
    return FrameStep::kBroken;
  }
  Span body;
  if (!cursor.Take(parsed.size, body)) return FrameStep::kBroken;
  frame.id = parsed.id;
  frame.flags = parsed.flags;
  frame.whole = Span{head.data, head.size + body.size};
  frame.body = body;
  return FrameStep::kFrame;
}

std::vector<uint8_t> Resynchronise(Span bytes) {
  std::vector<uint8_t> out;
  out.reserve(bytes.size);
  for (size_t i = 0; i < bytes.size; ++i) {
    out.push_back(bytes.data[i]);
    if (bytes.data[i] == 0xFF && i + 1 < bytes.size && bytes.data[i + 1] == 0x00) ++i;
  }
  return out;
}

namespace {

// Steps over the extended header at the start of `cursor`; false when it does not fit or its
// size is not one the version allows.
bool SkipExtendedHeader(Cursor& cursor, int version) {
  Span size;
  if (!cursor.Take(4, size)) return false;
  if (version == 3) {
    // The size counts the bytes after the size field: 6, or 10 with a CRC.
    const uint32_t rest = PlainInt(size.data, 4);
    return (rest == 6 || rest == 10) && cursor.Skip(rest);
  }
  // 2.4: a syncsafe size that counts the whole extended header, 6 bytes at least.
  if (!IsSyncsafe(size.data, 4)) return false;
  const uint32_t whole = SyncsafeInt(size.data, 4);
  return whole >= 6 && cursor.Skip(whole - 4);
}

}  // namespace

bool ParseLayout(Span region, bool strict, Layout& layout) {
  layout.frames.clear();
  layout.storage.clear();
  if (ParseHeader(region, layout.header) != HeaderKind::kTag) return false;
  const TagHeader& header = layout.header;
  if (static_cast<int64_t>(region.size) != header.RegionSize()) return false;
  Span body = region.Sub(kHeaderSize, header.size);
  if ((header.flags & kFlagUnsync) && header.version <= 3) {
    layout.storage = Resynchronise(body);
    body = Span{layout.storage.data(), layout.storage.size()};
  }
  Cursor cursor(body);
  if (header.version >= 3 && (header.flags & kFlagExtended) &&
      !SkipExtendedHeader(cursor, header.version)) {
    return false;
  }
  for (;;) {
    Frame frame;
    switch (NextFrame(cursor, header.version, !strict, frame)) {
      case FrameStep::kFrame:
        layout.frames.push_back(frame);
        continue;
      case FrameStep::kPadding: {
        // Padding is zeros to the end of the frames; a zero byte with anything else after it is
        // not padding, and a rewrite would drop those bytes.
        Span rest;
        cursor.Take(cursor.Remaining(), rest);
        return !strict ||
               std::all_of(rest.data, rest.data + rest.size, [](uint8_t b) { return b == 0; });
      }
      case FrameStep::kEnd:
        return true;
      case FrameStep::kBroken:
        return !strict;
    }
  }
}

// ---- Text

void SplitString(uint8_t encoding, Span bytes, Span& first, Span& rest) {
  const bool wide = encoding == kUtf16 || encoding == kUtf16Be;
  const size_t step = wide ? 2 : 1;
  for (size_t i = 0; i + step <= bytes.size; i += step) {
    if (bytes.data[i] == 0 && (!wide || bytes.data[i + 1] == 0)) {
      first = bytes.Sub(0, i);
      rest = bytes.From(i + step);
      return;
    }
  }
  first = bytes;
  rest = Span{bytes.data + bytes.size, 0};
}

namespace {

void AppendCodePoint(char32_t c, std::u16string& out) {
  if (c < 0x10000) {
    out.push_back(char16_t(c));
  } else {
    c -= 0x10000;
    out.push_back(char16_t(0xD800 + (c >> 10)));
    out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
  }
}

void DecodeUtf8(Span bytes, std::u16string& out) {
  out.clear();
  size_t i = 0;
  if (bytes.size >= 3 && std::memcmp(bytes.data, "\xEF\xBB\xBF", 3) == 0) i = 3;
  while (i < bytes.size) {
    const uint8_t lead = bytes.data[i];
    size_t extra;
    char32_t c;
    char32_t least;
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, c = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, c = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, c = lead & 0x07, least = 0x10000;
    } else {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    size_t n = 1;
    while (n <= extra && i + n < bytes.size && (bytes.data[i + n] & 0xC0) == 0x80) {
      c = (c << 6) | (bytes.data[i + n] & 0x3F);
      ++n;
    }
    if (n <= extra || c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back(u'\uFFFD');
    } else {
      AppendCodePoint(c, out);
    }
    i += n;
  }
}

void DecodeUtf16(Span bytes, bool bigEndian, std::u16string& out) {
  out.resize(bytes.size / 2);
  const uint8_t* b = bytes.data;
  for (size_t i = 0; i < out.size(); ++i, b += 2) {
    out[i] = bigEndian ? char16_t((b[0] << 8) | b[1]) : char16_t((b[1] << 8) | b[0]);
  }
}

}  // namespace

void DecodeUnicode(uint8_t encoding, Span bytes, std::u16string& out) {
  switch (encoding) {
    case kUtf16:
      if (bytes.size >= 2 && bytes.data[0] == 0xFF && bytes.data[1] == 0xFE) {
        return DecodeUtf16(bytes.From(2), false, out);
      }
      if (bytes.size >= 2 && bytes.data[0] == 0xFE && bytes.data[1] == 0xFF) {
        return DecodeUtf16(bytes.From(2), true, out);
      }
      return DecodeUtf16(bytes, false, out);  // no byte order mark: as Windows writers meant it
    case kUtf16Be:
      return DecodeUtf16(bytes, true, out);
    default:
      return DecodeUtf8(bytes, out);
  }
}

std::u16string DecodeUnicode(uint8_t encoding, Span bytes) {
  std::u16string out;
  DecodeUnicode(encoding, bytes, out);
  return out;
}

}  // namespace id3v2::layout
