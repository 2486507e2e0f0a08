#include "core/text/Rules.h"

#include <QDir>
#include <algorithm>

#include "core/text/Gbk.h"

namespace rules {

QString FolderOf(const QString& path) { return path.left(path.lastIndexOf(QLatin1Char('/')) + 1); }

QString FileNameOf(const QString& path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

QString ExtensionOf(const QString& path) {
  const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
  if (dot < 0 || path.lastIndexOf(QLatin1Char('/')) > dot) return QString();
  return path.mid(dot);
}

QString FormatKey(const QString& path) { return ExtensionOf(path).toUpper().left(4); }

QString WholeExtensionKey(const QString& path) { return ExtensionOf(path).toUpper(); }

int GenreEntryOf(uint8_t genreId) { return genreId < kGenreEntries - 1 ? genreId + 1 : 0; }

uint8_t GenreIdOfEntry(int entry) {
  // Entry 0 is "no genre" (255); entry k + 1 is genre k; no entry (-1) ends up as the byte of -2.
  const int value = entry == 0 ? 255 : entry - 1;
  return static_cast<uint8_t>(value & 0xFF);
}

int64_t StrToIntDef(const QString& text, int64_t fallback) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && text[i] == QLatin1Char(' ')) ++i;
  bool negative = false;
  if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  int base = 10;
  if (i < n &&
      (text[i] == QLatin1Char('$') || text[i] == QLatin1Char('x') || text[i] == QLatin1Char('X'))) {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == QLatin1Char('0') &&
             (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
    base = 16;
    i += 2;
  }
  if (i >= n) return fallback;
  // The value is a 32-bit integer: decimal numbers must fit it, hexadecimal ones may use all
  // 32 bits (FFFFFFFF is -1).
  const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  uint64_t value = 0;
  for (; i < n; ++i) {
    const char16_t c = text[i].unicode();
    int digit;
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (base == 16 && c >= u'a' && c <= u'f') {
      digit = c - u'a' + 10;
    } else if (base == 16 && c >= u'A' && c <= u'F') {
      digit = c - u'A' + 10;
    } else {
      return fallback;
    }
    value = value * base + digit;
    if (value > limit) return fallback;
  }
  int64_t result =
      base == 16 ? static_cast<int32_t>(static_cast<uint32_t>(value)) : static_cast<int64_t>(value);
  return negative ? -result : result;
}

uint8_t Mp3TrackOf(const QString& text) {
  const int64_t value = StrToIntDef(text, 0);
  return value > 0 ? static_cast<uint8_t>(value & 0xFF) : 0;
}

bool YearKeyPasses(char32_t code) {
  return (code >= U'0' && code <= U'9') || code == 8 || code == 13;
}

QString TrimControl(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && text[begin].unicode() <= 32) ++begin;
  while (end > begin && text[end - 1].unicode() <= 32) --end;
  return text.mid(begin, end - begin);
}

QString RenameExtension(const QString& path) { return ExtensionOf(path).left(4); }

std::optional<QString> NewFileName(int rule, const QString& artist, const QString& title,
                                   int sequence, const QString& extension) {
  switch (rule) {
    case 1:
      return artist + QStringLiteral(" - ") + title + extension;
    case 2:
      return title + QStringLiteral(" - ") + artist + extension;
    case 3:
      return artist + QStringLiteral(" - (") + QString::number(sequence) + QLatin1Char(')') +
             title + extension;
    default:
      return std::nullopt;
  }
}

QString FromGbk(const std::string& bytes) { return gbk::Decode(bytes); }

namespace {

// The length of the UTF-8 sequence a lead byte begins (0 when it begins none), and the range its
// second byte must lie in, which keeps out overlong forms, surrogates and codes past U+10FFFF.
size_t Utf8Sequence(unsigned char lead, unsigned char& low, unsigned char& high) {
  low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    return 4;
  }
  return 0;
}

// Whether the bytes are UTF-8 with a multi-byte sequence, the last one possibly cut off by the
// end; `whole` is the length of the bytes before a cut sequence.
bool IsSlotUtf8(const std::string& bytes, size_t& whole) {
  bool multiByte = false;
  for (size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    unsigned char low, high;
    const size_t length = Utf8Sequence(lead, low, high);
    if (length == 0) return false;
    for (size_t k = 1; k < length; ++k) {
      if (i + k == bytes.size()) {  // cut off by the slot's end
        whole = i;
        return true;
      }
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return false;
    }
    multiByte = true;
    i += length;
  }
  whole = bytes.size();
  return multiByte;
}

}  // namespace

std::string_view Id3v1Bytes(std::string_view slot) {
  slot = slot.substr(0, slot.find('\0'));
  while (!slot.empty() && static_cast<unsigned char>(slot.back()) <= 0x20) slot.remove_suffix(1);
  return slot;
}

QString FromId3v1Text(const std::string& slot) {
  const std::string bytes(Id3v1Bytes(slot));
  size_t whole = 0;
  if (!IsSlotUtf8(bytes, whole)) return FromGbk(bytes);
  QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(whole));
  if (whole < bytes.size()) text += QChar(QChar::ReplacementCharacter);
  return text;
}

std::string ToGbk(const QString& text) { return gbk::Encode(text); }

GbkFit MeasureGbk(const QString& text) {
  GbkFit fit;
  fit.bytes = static_cast<int>(gbk::Encode(text, &fit.missing).size());
  return fit;
}

QString FromUtf16(const std::u16string& text) { return QString::fromStdU16String(text); }

std::u16string ToUtf16(const QString& text) { return text.toStdU16String(); }

// UTF-8 on every system: what Linux takes a name's bytes as, and on Windows the platform's text of
// the system's UTF-16 names (Qt's own encoding of file names there is the ANSI code page).
std::string NativePath(const QString& path) {
  // Written straight into a string of its exact size, without a QByteArray in between; text with
  // surrogates (characters beyond the BMP, or halves of them) goes through Qt's encoder.
  size_t size = 0;
  for (QChar qc : path) {
    const char16_t c = qc.unicode();
    if (c >= 0xD800 && c <= 0xDFFF) return path.toStdString();
    size += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
  }
  std::string out(size, '\0');
  char* at = out.data();
  for (QChar qc : path) {
    const char16_t c = qc.unicode();
    if (c < 0x80) {
      *at++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *at++ = static_cast<char>(0xC0 | (c >> 6));
      *at++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *at++ = static_cast<char>(0xE0 | (c >> 12));
      *at++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *at++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

QString FromNativePath(const std::string& path) { return QString::fromStdString(path); }

namespace {

// Valid UTF-8 is exactly what survives a decoding and encoding unchanged.
bool IsValidUtf8(const std::string& bytes, QString& text) {
  if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; })) {
    text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return true;
  }
  text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
  const QByteArray back = text.toUtf8();
  return static_cast<size_t>(back.size()) == bytes.size() &&
         std::equal(bytes.begin(), bytes.end(), back.begin());
}

}  // namespace

bool IsGbkShaped(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) continue;
    if (lead == 0x80 || lead == 0xFF || i + 1 == bytes.size()) return false;
    const auto trail = static_cast<unsigned char>(bytes[++i]);
    if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return false;
  }
  return true;
}

bool IsUtf8(const std::string& bytes) {
  QString text;
  return IsValidUtf8(bytes, text);
}

namespace {

QString DisplaySegment(const std::string& bytes) {
  QString utf8;
  if (IsValidUtf8(bytes, utf8)) return utf8;
  if (IsGbkShaped(bytes)) {
    QString gbk = FromGbk(bytes);
    if (!gbk.contains(QChar(QChar::ReplacementCharacter))) return gbk;
  }
  return utf8;
}

}  // namespace

QString DisplayName(const std::string& bytes) {
  // Each name of a path is decoded on its own: a GBK file name may lie in a UTF-8 folder.
  QString text;
  size_t start = 0;
  for (size_t slash; (slash = bytes.find('/', start)) != std::string::npos; start = slash + 1) {
    text += DisplaySegment(bytes.substr(start, slash - start));
    text += QLatin1Char('/');
  }
  return text + DisplaySegment(bytes.substr(start));
}

QString ShownPath(const std::string& bytes) { return QDir::toNativeSeparators(DisplayName(bytes)); }

std::string NativeFolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NativeFileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string NativePathOfUrl(const QUrl& url) {
  if (!url.isLocalFile()) return std::string();
  std::string path =
      QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
  // Qt knows the system's forms of a local path: a share ("file://server/share/x" is
  // "//server/share/x"), and on Windows a drive ("file:///C:/x" is "C:/x").
  const QString local = url.toLocalFile();
  if (local.startsWith(QLatin1String("//")) && !url.host().isEmpty()) {
    path = "//" + url.host(QUrl::FullyEncoded).toStdString() + path;
  } else if (!path.empty() && path[0] == '/' && !local.startsWith(QLatin1Char('/'))) {
    path.erase(0, 1);
  }
  return path;
}

QUrl FileUrlOf(const std::string& path) {
  // A path from the root "/" follows an empty host; a share's server is the host; a drive ("C:/")
  // follows an empty host and a "/".
  const char* prefix = path.rfind("//", 0) == 0  ? "file:"
                       : path.rfind('/', 0) == 0 ? "file://"
                                                 : "file:///";
  return QUrl::fromEncoded(prefix + QByteArray::fromStdString(path).toPercentEncoding("/"),
                           QUrl::StrictMode);
}

}  // namespace rules
