#include "core/text/Gbk.h"

#include <algorithm>

namespace gbk {
namespace {

bool IsAscii(char c) { return (static_cast<unsigned char>(c) & 0x80) == 0; }
bool IsLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
bool IsTrail(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

// A cursor over GBK bytes that tells how long the unit at it is.
class UnitReader {
 public:
  explicit UnitReader(std::string_view bytes) : bytes_(bytes) {}
  bool AtEnd() const { return at_ == bytes_.size(); }
  size_t at() const { return at_; }
  // The length of the unit at the cursor: 1 or 2, or 0 for a lead byte without its trail byte.
  size_t UnitLength() const {
    const auto b = Byte(at_);
    if (!IsLead(b)) return 1;  // ASCII, 0x80 and 0xFF stand alone
    return at_ + 1 < bytes_.size() && IsTrail(Byte(at_ + 1)) ? 2 : 0;
  }
  void Skip(size_t n) { at_ += n; }

 private:
  unsigned char Byte(size_t i) const { return static_cast<unsigned char>(bytes_[i]); }

  std::string_view bytes_;
  size_t at_ = 0;
};

bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void NoteMissing(QStringView character, QString* missing) {
  if (missing != nullptr && !missing->contains(character)) missing->append(character);
}

// Encodes `text` one character at a time, each one GBK lacks as "?".
std::string EncodeEach(QStringView text, QString* missing) {
  std::string out;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1].unicode())) {
      out += '?';  // beyond U+FFFF: GBK has none of these
      NoteMissing(text.mid(i, 2), missing);
      ++i;
    } else if (IsSurrogate(c)) {
      out += '?';
      NoteMissing(QStringView(u"\uFFFD"), missing);
    } else if (!system::EncodeAll(text.mid(i, 1), out)) {
      out += '?';
      NoteMissing(text.mid(i, 1), missing);
    }
  }
  return out;
}

}  // namespace

QString Decode(std::string_view bytes) {
  if (std::all_of(bytes.begin(), bytes.end(), IsAscii)) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  }
  // Runs of whole units go to the converter together; a lead byte without its trail byte is
  // U+FFFD, whatever the converter would make of it.
  QString text;
  UnitReader reader(bytes);
  size_t runStart = 0;
  while (!reader.AtEnd()) {
    const size_t length = reader.UnitLength();
    if (length > 0) {
      reader.Skip(length);
      continue;
    }
    text += system::DecodeUnits(bytes.substr(runStart, reader.at() - runStart));
    text += QChar(QChar::ReplacementCharacter);
    reader.Skip(1);
    runStart = reader.at();
  }
  text += system::DecodeUnits(bytes.substr(runStart));
  return text;
}

std::string Encode(QStringView text, QString* missing) {
  std::string out;
  if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; })) {
    out.reserve(static_cast<size_t>(text.size()));
    for (QChar c : text) out += static_cast<char>(c.unicode());
    return out;
  }
  // The whole text in one step; only a text with a character GBK lacks goes one at a time.
  const bool surrogates =
      std::any_of(text.begin(), text.end(), [](QChar c) { return IsSurrogate(c.unicode()); });
  if (!surrogates && system::EncodeAll(text, out)) return out;
  return EncodeEach(text, missing);
}

}  // namespace gbk
