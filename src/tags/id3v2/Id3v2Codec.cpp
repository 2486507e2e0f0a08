#include "tags/id3v2/Id3v2Codec.h"

#include <taglib/commentsframe.h>
#include <taglib/id3v2frame.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/tbytevector.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfile.h>
#include <taglib/unsynchronizedlyricsframe.h>

#include <memory>

namespace id3v2::codec {

namespace {

using TagLib::ByteVector;
using TagLib::String;
using TagLib::StringList;

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    out.push_back(char(0xC0 | (c >> 6)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(char(0xE0 | (c >> 12)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (c >> 18)));
    out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The string TagLib renders for a text: given as UTF-8 for a 2.4 frame, so that TagLib holds whole
// code points, and as UTF-16 units for a 2.3 frame, which TagLib writes back unit for unit.
String ToTagLib(std::u16string_view text, int version) {
  if (version == 4) return String(ToUtf8(text), String::UTF8);
  ByteVector units;
  units.resize(static_cast<unsigned int>(2 * text.size()));
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = (IsHigh(text[i]) && !(i + 1 < text.size() && IsLow(text[i + 1]))) ||
                               (IsLow(text[i]) && !(i > 0 && IsHigh(text[i - 1])))
                           ? u'\uFFFD'
                           : text[i];
    units[static_cast<unsigned int>(2 * i)] = char(u & 0xFF);
    units[static_cast<unsigned int>(2 * i + 1)] = char(u >> 8);
  }
  return String(units, String::UTF16LE);
}

StringList ToTagLib(const std::vector<std::u16string>& values, int version) {
  StringList list;
  for (const auto& value : values) list.append(ToTagLib(value, version));
  return list;
}

String::Type UnicodeEncoding(int version) { return version == 4 ? String::UTF8 : String::UTF16; }

// The whole frame for a tag of `version`: TagLib renders a new frame with a 2.4 header, whose
// body is the same in 2.3 for the encodings we write; the header is made for the version here.
std::vector<uint8_t> Render(const TagLib::ID3v2::Frame& frame, int version) {
  const ByteVector bytes = frame.render();
  std::vector<uint8_t> whole(bytes.begin(), bytes.end());
  const uint32_t size = static_cast<uint32_t>(whole.size() - layout::kHeaderSize);
  if (version == 4) {
    layout::PutSyncsafeInt(size, &whole[4]);
  } else {
    layout::PutPlainInt(size, &whole[4], 4);
  }
  whole[8] = whole[9] = 0;  // no status or format flags
  return whole;
}

ByteVector Bytes(Span span) {
  return ByteVector(reinterpret_cast<const char*>(span.data), static_cast<unsigned int>(span.size));
}

std::u16string FromTagLib(const String& s) {
  const ByteVector bytes = s.data(String::UTF16LE);
  std::u16string text;
  for (unsigned int i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8)));
  }
  return text;
}

FieldValue ValueOf(const String& s, String::Type encoding) {
  FieldValue value;
  if (encoding == String::Latin1) {
    value.kind = FieldValue::kLatin1;
    const ByteVector bytes = s.data(String::Latin1);
    value.latin1.assign(bytes.data(), bytes.size());
  } else {
    value.kind = FieldValue::kUnicode;
    value.text = FromTagLib(s);
  }
  return value;
}

// A TagLib file over bytes in memory, so that TagLib's tag reader can read a tag from them.
class MemoryFile : public TagLib::File {
 public:
  explicit MemoryFile(TagLib::IOStream* stream) : TagLib::File(stream) {}
  TagLib::Tag* tag() const override { return nullptr; }
  TagLib::AudioProperties* audioProperties() const override { return nullptr; }
  bool save() override { return false; }
};

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (IsHigh(u) && i + 1 < text.size() && IsLow(text[i + 1])) {
      AppendUtf8(0x10000 + ((char32_t(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00), out);
      ++i;
    } else if (IsHigh(u) || IsLow(u)) {
      AppendUtf8(0xFFFD, out);
    } else {
      AppendUtf8(u, out);
    }
  }
  return out;
}

std::vector<uint8_t> TextFrame(std::string_view id, const std::vector<std::u16string>& values,
                               int version) {
  TagLib::ID3v2::TextIdentificationFrame frame(
      ByteVector(id.data(), static_cast<unsigned int>(id.size())), UnicodeEncoding(version));
  frame.setText(ToTagLib(values, version));
  return Render(frame, version);
}

std::vector<uint8_t> UserTextFrame(const std::u16string& description,
                                   const std::vector<std::u16string>& values, int version) {
  TagLib::ID3v2::UserTextIdentificationFrame frame(
      ToTagLib(description, version), ToTagLib(values, version), UnicodeEncoding(version));
  return Render(frame, version);
}

std::vector<uint8_t> CommentFrame(std::string_view id, std::string_view language,
                                  const std::u16string& description, const std::u16string& text,
                                  int version) {
  const ByteVector lang(language.data(), static_cast<unsigned int>(language.size()));
  if (id == "USLT") {
    TagLib::ID3v2::UnsynchronizedLyricsFrame frame(UnicodeEncoding(version));
    frame.setLanguage(lang);
    frame.setDescription(ToTagLib(description, version));
    frame.setText(ToTagLib(text, version));
    return Render(frame, version);
  }
  TagLib::ID3v2::CommentsFrame frame(UnicodeEncoding(version));
  frame.setLanguage(lang);
  frame.setDescription(ToTagLib(description, version));
  frame.setText(ToTagLib(text, version));
  return Render(frame, version);
}

bool ReadWithTagLib(Span whole, int version, FieldValue& value, bool& emptyDescription) {
  TagLib::ID3v2::Header header;
  header.setMajorVersion(static_cast<unsigned int>(version));
  std::unique_ptr<TagLib::ID3v2::Frame> frame(
      TagLib::ID3v2::FrameFactory::instance()->createFrame(Bytes(whole), &header));
  if (auto* text = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(frame.get())) {
    const StringList fields = text->fieldList();
    if (fields.isEmpty()) return false;
    value = ValueOf(fields.front(), text->textEncoding());
    emptyDescription = true;
    return true;
  }
  if (auto* comment = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(frame.get())) {
    value = ValueOf(comment->text(), comment->textEncoding());
    emptyDescription = comment->description().isEmpty();
    return true;
  }
  return false;
}

bool ConvertTo23(Span region, size_t frames, std::vector<uint8_t>& converted) {
  ByteVector bytes = Bytes(region);
  TagLib::ByteVectorStream stream(bytes);
  MemoryFile file(&stream);
  TagLib::ID3v2::Tag tag(&file, 0);
  if (tag.header()->majorVersion() != 2 || tag.frameList().size() < frames) return false;
  // Frames TagLib would leave out of its render (the 2.2 frames that 2.4 has no place for, empty
  // ones) are missed by the caller's count of the frames rendered.
  const ByteVector rendered = tag.render(TagLib::ID3v2::v3);
  converted.assign(rendered.begin(), rendered.end());
  return true;
}

}  // namespace id3v2::codec
