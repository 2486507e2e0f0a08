#include "core/Rules.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>

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

QString FromGbk(const std::string& bytes) {
  // A field cut to its byte width may end in the first byte of a two-byte character; the
  // converter would drop it silently, so it is shown as a replacement character instead.
  size_t whole = 0;
  bool dangling = false;
  for (size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    const size_t width = byte >= 0x81 && byte <= 0xFE ? 2 : 1;
    if (i + width > bytes.size()) {
      dangling = true;
      break;
    }
    i += width;
    whole = i;
  }
  // Opening the converter costs more than a field's conversion: one serves the whole run.
  static QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
  decoder.resetState();
  QString text = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(whole)));
  if (dangling) text += QChar(QChar::ReplacementCharacter);
  return text;
}

std::string ToGbk(const QString& text) {
  static QStringEncoder encoder("GBK", QStringConverter::Flag::Stateless);
  encoder.resetState();
  QByteArray bytes = encoder.encode(text);
  // Some converters mark a character they lack with the substitute control code; the tag gets
  // "?" for it, as it does from the converters that substitute "?" themselves.
  if (encoder.hasError()) bytes.replace('\x1A', '?');
  return bytes.toStdString();
}

GbkFit MeasureGbk(const QString& text) {
  GbkFit fit;
  fit.bytes = static_cast<int>(ToGbk(text).size());
  for (char32_t code : text.toUcs4()) {
    if (code == U'?') continue;
    const QString one = QString::fromUcs4(&code, 1);
    if (ToGbk(one) == "?" && !fit.missing.contains(one)) fit.missing += one;
  }
  return fit;
}

QString FromUtf16(const std::u16string& text) { return QString::fromStdU16String(text); }

std::u16string ToUtf16(const QString& text) { return text.toStdU16String(); }

std::string NativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString FromNativePath(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace rules
