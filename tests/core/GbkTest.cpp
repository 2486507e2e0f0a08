// The GBK codec, built for Linux (Qt's converter) and for Windows (code page 936) from this one
// source: both must give the same texts and bytes.
#include <gtest/gtest.h>

#include <QString>
#include <string>

#include "core/text/Gbk.h"

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }
QString Units(std::u16string_view units) {
  return QString(reinterpret_cast<const QChar*>(units.data()),
                 static_cast<qsizetype>(units.size()));
}

TEST(Gbk, Decode) {
  struct Case {
    std::string bytes;
    QString text;
  };
  const Case cases[] = {
      {"", U("")},
      {"Hello 1", U("Hello 1")},
      {"\xB7\xA2\xC8\xE7\xD1\xA9", U("发如雪")},
      {"A\xB7\xA2 B", U("A发 B")},
      {"\xA1\xA1\xA8\xA6", U("\u3000é")},       // full-width space, pinyin é
      {"\x80", U("€")},                         // the euro sign of code page 936
      {"\xFF", Units(u"\uF8F5")},               // kept, to come back as 0xFF
      {"\xAA\xA1", Units(u"\uE000")},           // the user-defined area
      {"\xB7", U("\uFFFD")},                    // a lead byte cut off at the end
      {"a\xB7", U("a\uFFFD")},                  //
      {"\x81 x", U("\uFFFD x")},                // a lead byte before a space
      {"\x81\x7F\xB7\xA2", U("\uFFFD\x7F发")},  // 0x7F is no trail byte
      {"\x81\xFF", Units(u"\uFFFD\uF8F5")},     //
      {"\x81\x30\x81\x30", U("\uFFFD"
                             "0"
                             "\uFFFD"
                             "0")},  // GB18030's four-byte form
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(gbk::Decode(c.bytes), c.text);
  }
}

TEST(Gbk, Encode) {
  struct Case {
    QString text;
    std::string bytes;
    QString missing;
  };
  const Case cases[] = {
      {U(""), "", U("")},
      {U("Ab 1?"), "Ab 1?", U("")},  // a question mark of the text is no missing character
      {U("发如雪"), "\xB7\xA2\xC8\xE7\xD1\xA9", U("")},
      {U("\u3000é€"), "\xA1\xA1\xA8\xA6\x80", U("")},
      {Units(u"\uF8F5\uE000"), "\xFF\xAA\xA1", U("")},
      {U("a☃b☃한"), "a?b??", U("☃한")},               // each missing character once, in order
      {U("😀x"), "?x", U("😀")},                        // beyond U+FFFF: one character, one "?"
      {Units(u"\xD800x\xDC00"), "?x?", U("\uFFFD")},  // lone surrogates
      {U("\x1A☃"), "\x1A?", U("☃")},                  // a control code stays itself
      {U("\u0080\u00A0"), "??", U("\u0080\u00A0")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    QString missing;
    EXPECT_EQ(gbk::Encode(c.text, &missing), c.bytes);
    EXPECT_EQ(missing, c.missing);
    EXPECT_EQ(gbk::Encode(c.text), c.bytes);
  }
}

// Every double-byte code, and the single bytes above ASCII, decode to one character that encodes
// back to the same bytes.
TEST(Gbk, EveryCodeComesBack) {
  int failures = 0;
  auto check = [&](const std::string& bytes) {
    const QString text = gbk::Decode(bytes);
    if (text.size() != 1 || text[0] == QChar(QChar::ReplacementCharacter) ||
        gbk::Encode(text) != bytes) {
      ADD_FAILURE() << std::hex << int(static_cast<unsigned char>(bytes[0])) << " "
                    << int(static_cast<unsigned char>(bytes.back()));
      ++failures;
    }
  };
  check("\x80");
  check("\xFF");
  for (int lead = 0x81; lead <= 0xFE && failures < 10; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail != 0x7F) check({static_cast<char>(lead), static_cast<char>(trail)});
    }
  }
}

}  // namespace
