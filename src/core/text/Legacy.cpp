#include "core/text/Legacy.h"

#include <algorithm>

namespace legacy {
namespace {

bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// What CP1252 puts at 0x80 to 0x9F (0 where it has no character).
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// A character no reading of a tag should ever hold.
bool Forbidden(char16_t c) {
  if (c == u'\t' || c == u'\n' || c == u'\r') return false;
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xFFFD || (c >= 0xE000 && c <= 0xF8FF) ||
         (c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF;
}

std::u16string_view ViewOf(const QString& text) {
  return std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                             static_cast<size_t>(text.size()));
}

unsigned Byte(std::string_view bytes, size_t i) { return static_cast<unsigned char>(bytes[i]); }

bool AsciiLetterByte(unsigned b) { return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z'); }

// What the bytes around a double-byte unit at `i` say: real titles put a space between a CJK
// character and a Latin word, while a Western word misread as CJK ("Björk" as "Bj鰎k") has a unit
// inside a run of letters, or one whose trail byte is a letter that the word goes on after.
int Surroundings(std::string_view b, size_t i) {
  const bool letterBefore = i > 0 && AsciiLetterByte(Byte(b, i - 1));
  const bool letterAfter = i + 2 < b.size() && AsciiLetterByte(Byte(b, i + 2));
  int score = 0;
  if (letterBefore && letterAfter) score -= 2;
  if (AsciiLetterByte(Byte(b, i + 1)) && letterAfter) score -= 1;
  return score;
}

// ---- Scores of the double-byte encodings, from their bytes (the code tables are ordered so
// that ranges of lead bytes tell common characters from rare ones).

// GB2312's first level (3755 common characters) B0A1-D7FE, its second level D8A1-F7FE, its
// symbols A1A1-A9FE (punctuation A1, full-width forms A3); GBK's extension (trail bytes below A1
// or leads 81-A0, AA-AF, F8-FE) holds rare characters; four-byte GB18030 codes rarer still.
int GbkUnit(unsigned lead, unsigned trail) {
  if (trail >= 0xA1) {
    if (lead >= 0xB0 && lead <= 0xD7) return 3;
    if (lead >= 0xD8 && lead <= 0xF7) return 1;
    if (lead == 0xA1 || lead == 0xA3) return 0;
    if (lead >= 0xA2 && lead <= 0xA9) return -1;
  }
  return -3;
}

int ScoreGbk(std::string_view b) {
  int score = 0;
  for (size_t i = 0; i < b.size();) {
    if (Byte(b, i) < 0x80) {
      ++i;
    } else if (i + 1 < b.size() && Byte(b, i + 1) >= 0x30 && Byte(b, i + 1) <= 0x39) {
      score -= 4;  // a four-byte code
      i += 4;
    } else if (i + 1 < b.size()) {
      score += GbkUnit(Byte(b, i), Byte(b, i + 1)) + Surroundings(b, i);
      i += 2;
    } else {
      ++i;
    }
  }
  return score;
}

// Big5: its common characters (5401, by stroke count, the most frequent with the fewest strokes
// first) A440-C67E, the less common ones C940-F9D5,
// punctuation A140-A1FE, other symbols A240-A3BF; the rest are extensions and rarities.
int ScoreBig5(std::string_view b) {
  int score = 0;
  for (size_t i = 0; i < b.size();) {
    if (Byte(b, i) < 0x80 || i + 1 >= b.size()) {
      ++i;
      continue;
    }
    const unsigned lead = Byte(b, i);
    const unsigned code = lead << 8 | Byte(b, i + 1);
    score += Surroundings(b, i);
    if (code >= 0xA440 && code <= 0xAFFE) {
      score += 3;  // the fewest strokes: the most frequent characters
    } else if (code >= 0xB040 && code <= 0xC67E) {
      score += 2;
    } else if (code >= 0xC940 && code <= 0xF9D5) {
      score += 1;
    } else if (lead == 0xA1) {
      score += 0;
    } else if (lead == 0xA2 || lead == 0xA3) {
      score -= 1;
    } else {
      score -= 3;
    }
    i += 2;
  }
  return score;
}

// Shift-JIS (CP932): hiragana 82xx and katakana 83xx, JIS level-1 kanji 889F-9872 (common), level 2
// 989F-EAA4, symbols 81xx; half-width katakana A1-DF are single bytes (seldom in titles, and what
// other encodings' bytes often look like); NEC and IBM extensions 84-87, ED-EE, FA-FC are rare.
int ScoreShiftJis(std::string_view b) {
  int score = 0;
  for (size_t i = 0; i < b.size();) {
    const unsigned lead = Byte(b, i);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if (lead >= 0xA1 && lead <= 0xDF) {
      score -= 1;
      ++i;
      continue;
    }
    if (i + 1 >= b.size()) break;
    const unsigned code = lead << 8 | Byte(b, i + 1);
    score += Surroundings(b, i);
    if (lead == 0x82 || lead == 0x83) {
      score += 3;
    } else if (code >= 0x889F && code <= 0x9872) {
      score += 2;
    } else if (lead == 0x81 || (code >= 0x989F && code <= 0xEAA4)) {
      score += 0;
    } else {
      score -= 3;
    }
    i += 2;
  }
  return score;
}

// ---- Scores of the single-byte and Unicode readings, from their characters.

bool AccentedLetter(char16_t c) {
  return (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7) || c == 0x152 || c == 0x153 ||
         c == 0x160 || c == 0x161 || c == 0x178 || c == 0x17D || c == 0x17E;
}
bool AsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool Lower(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= 0xDF && c <= 0xFF && c != 0xF7) || c == 0x153 ||
         c == 0x161 || c == 0x17E;
}
bool Upper(char16_t c) { return AccentedLetter(c) && !Lower(c); }

// The symbols real titles hold: © ® ° ¡ ¿ « » quotes, dashes, "…", "€", "£".
bool PlainSymbol(char16_t c) {
  switch (c) {
    case 0xA9:
    case 0xAE:
    case 0xB0:
    case 0xA1:
    case 0xBF:
    case 0xAB:
    case 0xBB:
    case 0x2018:
    case 0x2019:
    case 0x201C:
    case 0x201D:
    case 0x2013:
    case 0x2014:
    case 0x2026:
    case 0x20AC:
    case 0xA3:
      return true;
    default:
      return false;
  }
}

// CP1252: an accented letter inside a word that has plain letters ("Björk", "Canção") scores; an
// accented letter among other non-ASCII characters only, a capital after a small letter ("ÈçÑ")
// and the symbols that real titles seldom hold (¤ ¦ ¨ ¯ ´ ¸ ¹ ² ³ ¼ ½ ¾ ...) cost.
int ScoreCp1252(std::u16string_view t) {
  int score = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    const char16_t c = t[i];
    if (c < 0x80) continue;
    const char16_t before = i > 0 ? t[i - 1] : u' ';
    const char16_t after = i + 1 < t.size() ? t[i + 1] : u' ';
    if (AccentedLetter(c)) {
      if (Upper(c) && Lower(before)) {
        score -= 2;
      } else if (AsciiLetter(before) || AsciiLetter(after)) {
        score += 1 + 2 * AsciiLetter(before) + 2 * AsciiLetter(after);
      } else if (AccentedLetter(before) || AccentedLetter(after)) {
        score -= 1;
      } else {
        score += 0;  // a word of one letter ("à", "é")
      }
      continue;
    }
    if (!PlainSymbol(c)) score -= 2;
  }
  return score;
}

// The same score of bytes read as CP1252, from what each byte's character is (a table made once).
int ScoreCp1252Bytes(std::string_view b) {
  enum : uint8_t { kAscii = 1, kAccented = 2, kUpper = 4, kLower = 8, kPlain = 16, kSkip = 32 };
  static const std::array<uint8_t, 256> kClass = [] {
    std::array<uint8_t, 256> table{};
    for (unsigned u = 0; u < 256; ++u) {
      const char16_t c = u >= 0x80 && u <= 0x9F ? kCp1252High[u - 0x80] : char16_t(u);
      table[u] =
          static_cast<uint8_t>((AsciiLetter(c) ? kAscii : 0) | (AccentedLetter(c) ? kAccented : 0) |
                               (Upper(c) ? kUpper : 0) | (Lower(c) ? kLower : 0) |
                               (PlainSymbol(c) ? kPlain : 0) | (c < 0x80 ? kSkip : 0));
    }
    return table;
  }();
  const auto at = [&](size_t i) { return kClass[static_cast<unsigned char>(b[i])]; };
  const uint8_t space = kClass[' '];
  int score = 0;
  for (size_t i = 0; i < b.size(); ++i) {
    const uint8_t c = at(i);
    if ((c & kSkip) != 0) continue;
    const uint8_t before = i > 0 ? at(i - 1) : space;
    const uint8_t after = i + 1 < b.size() ? at(i + 1) : space;
    if ((c & kAccented) != 0) {
      if ((c & kUpper) != 0 && (before & kLower) != 0) {
        score -= 2;
      } else if (((before | after) & kAscii) != 0) {
        score += 1 + 2 * ((before & kAscii) != 0) + 2 * ((after & kAscii) != 0);
      } else if (((before | after) & kAccented) != 0) {
        score -= 1;
      }
      continue;
    }
    if ((c & kPlain) == 0) score -= 2;
  }
  return score;
}

// UTF-8: a valid multi-byte sequence by chance is rare, and rarer still one that reads as a CJK
// character or as an accented letter inside a Latin word; other characters score a little.
int ScoreUtf8(std::u16string_view t) {
  int score = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    const char16_t c = t[i];
    if (c < 0x80 || QChar::isLowSurrogate(c)) continue;
    const bool word =
        (i > 0 && AsciiLetter(t[i - 1])) || (i + 1 < t.size() && AsciiLetter(t[i + 1]));
    if (c >= 0x0800 || (AccentedLetter(c) && word)) {
      score += 6;
    } else {
      score += 1;
    }
  }
  return score;
}

}  // namespace

bool HasCp1252Only(std::string_view bytes) {
  return std::any_of(bytes.begin(), bytes.end(), [](char c) {
    return static_cast<unsigned char>(c) >= 0x80 && static_cast<unsigned char>(c) <= 0x9F;
  });
}

const char* NameOf(Encoding encoding) {
  switch (encoding) {
    case Encoding::kGbk:
      return "GBK";
    case Encoding::kBig5:
      return "Big5";
    case Encoding::kShiftJis:
      return "Shift-JIS";
    case Encoding::kCp1252:
      return "CP1252";
    case Encoding::kUtf8:
      return "UTF-8";
  }
  return "";
}

namespace {

// False when `bytes` cannot be valid in `encoding` by the shape of its byte sequences alone (a
// lead byte without its trail, a trail byte out of range): refused here at once, before the
// system's decoder, which costs far more to fail (a converter that met an error is made anew).
bool Shaped(Encoding encoding, std::string_view b) {
  const auto at = [&](size_t i) { return static_cast<unsigned char>(b[i]); };
  switch (encoding) {
    case Encoding::kGbk:
      for (size_t i = 0; i < b.size();) {
        const unsigned c = at(i);
        if (c < 0x80) {
          ++i;
        } else if (c == 0x80 || c == 0xFF || i + 1 >= b.size()) {
          return false;
        } else if (at(i + 1) >= 0x30 && at(i + 1) <= 0x39) {
          if (i + 3 >= b.size() || at(i + 2) < 0x81 || at(i + 2) == 0xFF || at(i + 3) < 0x30 ||
              at(i + 3) > 0x39) {
            return false;
          }
          i += 4;
        } else if (at(i + 1) < 0x40 || at(i + 1) == 0x7F || at(i + 1) == 0xFF) {
          return false;
        } else {
          i += 2;
        }
      }
      return true;
    case Encoding::kBig5:
      for (size_t i = 0; i < b.size();) {
        const unsigned c = at(i);
        if (c < 0x80) {
          ++i;
          continue;
        }
        if (c == 0x80 || c == 0xFF || i + 1 >= b.size()) return false;
        const unsigned t = at(i + 1);
        if (!((t >= 0x40 && t <= 0x7E) || (t >= 0xA1 && t <= 0xFE))) return false;
        i += 2;
      }
      return true;
    case Encoding::kShiftJis:
      for (size_t i = 0; i < b.size();) {
        const unsigned c = at(i);
        if (c < 0x80 || (c >= 0xA1 && c <= 0xDF)) {
          ++i;
          continue;
        }
        if (c == 0x80 || c == 0xA0 || c >= 0xFD || i + 1 >= b.size()) return false;
        const unsigned t = at(i + 1);
        if (t < 0x40 || t == 0x7F || t > 0xFC) return false;
        i += 2;
      }
      return true;
    case Encoding::kUtf8:
      return IsValidUtf8(b);
    case Encoding::kCp1252:
      return std::none_of(b.begin(), b.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 0x80 && u <= 0x9F && kCp1252High[u - 0x80] == 0;
      });
  }
  return true;
}

}  // namespace

Candidates ShapedAs(std::string_view bytes, Candidates candidates) {
  Candidates shaped = 0;
  for (Encoding e : kEncodings) {
    if ((candidates & Only(e)) != 0 && Shaped(e, bytes)) shaped |= Only(e);
  }
  return shaped;
}

bool IsValidUtf8(std::string_view b) {
  const auto at = [&](size_t i) { return static_cast<unsigned char>(b[i]); };
  for (size_t i = 0; i < b.size();) {
    const unsigned c = at(i);
    const size_t n = c < 0x80                 ? 1
                     : c >= 0xC2 && c <= 0xDF ? 2
                     : c >= 0xE0 && c <= 0xEF ? 3
                     : c >= 0xF0 && c <= 0xF4 ? 4
                                              : 0;
    if (n == 0 || i + n > b.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((at(i + k) & 0xC0) != 0x80) return false;
    }
    // No overlong form, no surrogate, nothing past U+10FFFF.
    if ((c == 0xE0 && at(i + 1) < 0xA0) || (c == 0xED && at(i + 1) >= 0xA0) ||
        (c == 0xF0 && at(i + 1) < 0x90) || (c == 0xF4 && at(i + 1) >= 0x90)) {
      return false;
    }
    i += n;
  }
  return true;
}

std::optional<QString> Decode(Encoding encoding, std::string_view bytes) {
  if (!Shaped(encoding, bytes)) return std::nullopt;
  std::optional<QString> text = system::DecodeStrict(encoding, bytes);
  if (!text) return std::nullopt;
  for (QChar c : *text) {
    if (Forbidden(c.unicode())) return std::nullopt;
  }
  return text;
}

int Score(Encoding encoding, std::string_view bytes, const QString& text) {
  switch (encoding) {
    case Encoding::kGbk:
      return ScoreGbk(bytes);
    case Encoding::kBig5:
      return ScoreBig5(bytes);
    case Encoding::kShiftJis:
      return ScoreShiftJis(bytes);
    case Encoding::kCp1252:
      return ScoreCp1252(ViewOf(text));
    case Encoding::kUtf8:
      return ScoreUtf8(ViewOf(text));
  }
  return 0;
}

int ShapeScore(Encoding encoding, std::string_view bytes) {
  switch (encoding) {
    case Encoding::kGbk:
    case Encoding::kBig5:
    case Encoding::kShiftJis:
      return Score(encoding, bytes, QString());
    case Encoding::kCp1252:
      return ScoreCp1252Bytes(bytes);
    case Encoding::kUtf8:
      return ScoreUtf8(
          ViewOf(QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()))));
  }
  return 0;
}

std::optional<std::string> MojibakeBytes(QStringView text) {
  // ASCII, the most common text, and text with a character beyond CP1252 (CJK) leave early.
  if (std::none_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x80; })) {
    return std::nullopt;
  }
  std::string bytes;
  bytes.reserve(static_cast<size_t>(text.size()));
  for (QChar qc : text) {
    const char16_t c = qc.unicode();
    if (c <= 0xFF) {
      bytes.push_back(static_cast<char>(c));
      continue;
    }
    const auto at = std::find(kCp1252High.begin(), kCp1252High.end(), c);
    if (at == kCp1252High.end()) return std::nullopt;
    bytes.push_back(static_cast<char>(0x80 + (at - kCp1252High.begin())));
  }
  return bytes;
}

FieldReadings ReadField(std::string_view bytes, Candidates candidates) {
  FieldReadings r;
  r.ascii = IsAscii(bytes);
  if (r.ascii) return r;
  for (size_t e = 0; e < kEncodingCount; ++e) {
    if ((candidates & Only(kEncodings[e])) == 0) continue;
    if (std::optional<QString> text = Decode(kEncodings[e], bytes)) {
      r.scores[e] = Score(kEncodings[e], bytes, *text);
      r.texts[e] = std::move(*text);
    }
  }
  return r;
}

Detection Detect(const std::vector<std::string>& fields, Candidates candidates) {
  std::vector<FieldReadings> readings;
  readings.reserve(fields.size());
  for (const std::string& f : fields) readings.push_back(ReadField(f, candidates));
  return Decide(readings, candidates);
}

namespace {

// Decide over `count` fields, `scoresOf(f)` the scores of field `f` (none for an ASCII field).
template <class ScoresOf>
Detection DecideOver(size_t count, const ScoresOf& scoresOf, Candidates candidates) {
  Detection d;
  // Per candidate: the sum of its scores over the fields it decodes, and the fields it cannot.
  std::array<int, kEncodingCount> sum{};
  std::array<int, kEncodingCount> failed{};
  for (size_t f = 0; f < count; ++f) {
    const FieldScores* scores = scoresOf(f);
    if (scores == nullptr) continue;
    d.any = true;
    bool someone = false;
    for (size_t e = 0; e < kEncodingCount; ++e) {
      if ((*scores)[e] && (candidates & Only(kEncodings[e])) != 0) {
        someone = true;
        sum[e] += *(*scores)[e];
      }
    }
    if (!someone) {
      d.undecodable.push_back(f);
      continue;
    }
    for (size_t e = 0; e < kEncodingCount; ++e) failed[e] += !(*scores)[e];
  }
  if (!d.any) return d;
  for (size_t e = 0; e < kEncodingCount; ++e) {
    if (failed[e] == 0 && (candidates & Only(kEncodings[e])) != 0) d.scores[e] = sum[e];
  }
  // Best first; the candidates' order breaks a tie.
  int best = -1, second = -1;
  for (size_t e = 0; e < kEncodingCount; ++e) {
    if (!d.scores[e]) continue;
    if (best < 0 || *d.scores[e] > *d.scores[best]) {
      second = best;
      best = static_cast<int>(e);
    } else if (second < 0 || *d.scores[e] > *d.scores[second]) {
      second = static_cast<int>(e);
    }
  }
  if (best < 0) {
    // Every decodable field has one candidate at least, but none decodes them all.
    d.ambiguous = true;
    d.score = 0;
    return d;
  }
  d.encoding = kEncodings[best];
  d.score = *d.scores[best];
  if (second >= 0) {
    d.second = kEncodings[second];
    d.margin = d.score - *d.scores[second];
    d.ambiguous = d.margin < kClearMargin || d.score <= 0;
  } else {
    // The one clean reading: taken unless its characters are unlikely ones.
    d.margin = d.score;
    d.ambiguous = d.score < 0;
  }
  return d;
}

}  // namespace

Detection Decide(const std::vector<FieldReadings>& fields, Candidates candidates) {
  return DecideOver(
      fields.size(), [&](size_t f) { return fields[f].ascii ? nullptr : &fields[f].scores; },
      candidates);
}

Detection Decide(const std::vector<const FieldScores*>& fields, Candidates candidates) {
  return DecideOver(
      fields.size(), [&](size_t f) { return fields[f]; }, candidates);
}

Detection WithEncoding(const Detection& detection, Encoding encoding) {
  Detection d = detection;
  if (d.encoding != encoding) d.second = d.encoding;
  d.encoding = encoding;
  d.ambiguous = false;
  if (d.scores[static_cast<size_t>(encoding)]) d.score = *d.scores[static_cast<size_t>(encoding)];
  return d;
}

std::optional<Encoding> EncodingNamed(std::string_view name) {
  std::string n;
  for (char c : name) n.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  if (n == "gbk" || n == "gb18030" || n == "cp936") return Encoding::kGbk;
  if (n == "big5" || n == "cp950") return Encoding::kBig5;
  if (n == "shift-jis" || n == "shift_jis" || n == "sjis" || n == "cp932") {
    return Encoding::kShiftJis;
  }
  if (n == "cp1252" || n == "latin1" || n == "windows-1252") return Encoding::kCp1252;
  if (n == "utf-8" || n == "utf8") return Encoding::kUtf8;
  return std::nullopt;
}

QString AsPlayersShow(std::string_view bytes) {
  QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
  char16_t* out = reinterpret_cast<char16_t*>(text.data());
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    const char16_t c = b >= 0x80 && b <= 0x9F ? kCp1252High[b - 0x80] : char16_t{b};
    *out++ = b >= 0x80 && b <= 0x9F && c == 0 ? char16_t{QChar::ReplacementCharacter} : c;
  }
  return text;
}

std::optional<QString> Reading(const Detection& detection, std::string_view bytes, Place place) {
  if (IsAscii(bytes) || !detection.any || detection.ambiguous) return std::nullopt;
  const Encoding chosen = detection.encoding;
  // CP1252 in a frame reads right as Latin-1, but for the characters CP1252 puts at 0x80 to 0x9F
  // ("…", "œ", "€"), which Latin-1 lacks: those frames become Unicode.
  if (chosen == Encoding::kCp1252 && place != Place::kSlot && !HasCp1252Only(bytes)) {
    return std::nullopt;
  }
  std::optional<QString> text = Decode(chosen, bytes);
  if (!text || chosen == Encoding::kCp1252) return text;
  // A field that reads right as it is stays, whatever its file's other fields hold.
  if (std::optional<QString> western = Decode(Encoding::kCp1252, bytes)) {
    const int own = Score(chosen, bytes, *text);
    const int latin = Score(Encoding::kCp1252, bytes, *western);
    if (latin > 0 && latin >= own) return place == Place::kSlot ? western : std::nullopt;
  }
  return text;
}

}  // namespace legacy
