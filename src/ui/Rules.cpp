#include "Rules.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QUrlQuery>

namespace rules {

QString FolderOf(const QString& path) { return path.left(path.lastIndexOf(QLatin1Char('/')) + 1); }

QString FileNameOf(const QString& path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

QString ExtensionOf(const QString& path) {
  const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
  if (dot < 0 || path.lastIndexOf(QLatin1Char('/')) > dot) return QString();
  return path.mid(dot);
}

QString FormatKey(const QString& path) { return ExtensionOf(path).toUpper().left(4); }

int GenreEntryOf(uint8_t genreId) { return genreId < kGenreEntries - 1 ? genreId + 1 : 0; }

uint8_t GenreIdOfEntry(int entry) {
  // Entry 0 is "no genre" (255); entry k + 1 is genre k; no entry (-1) ends up as the byte of -2.
  const int value = entry == 0 ? 255 : entry - 1;
  return static_cast<uint8_t>(value & 0xFF);
}

int StatusPanelAt(int x, const std::vector<int>& widths, int barWidth) {
  int left = 0;
  for (size_t i = 0; i < widths.size(); ++i) {
    const int width = i + 1 == widths.size() ? barWidth : widths[i];
    if (left <= x && x < left + width) return static_cast<int>(i);
    left += widths[i];
  }
  return -1;
}

QString ErrorBoxText(const QString& message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
  return message;
}

QUrl AuthorWebUrl() { return QUrl(kAuthorWebUrl); }

QUrl AuthorMailUrl() {
  QUrl url;
  url.setScheme(QStringLiteral("mailto"));
  url.setPath(kAuthorMail);
  QUrlQuery query;
  query.addQueryItem(QStringLiteral("subject"), kMailSubject);
  // An empty but present value: the link ends in "&cc=".
  query.addQueryItem(QStringLiteral("cc"), QStringLiteral(""));
  url.setQuery(query);
  return url;
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
  QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
  QString text = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(whole)));
  if (dangling) text += QChar(QChar::ReplacementCharacter);
  return text;
}

std::string ToGbk(const QString& text) {
  QStringEncoder encoder("GBK", QStringConverter::Flag::Stateless);
  QByteArray bytes = encoder.encode(text);
  // Some converters mark a character they lack with the substitute control code; the tag gets
  // "?" for it, as it does from the converters that substitute "?" themselves.
  if (encoder.hasError()) bytes.replace('\x1A', '?');
  return bytes.toStdString();
}

QString FromUtf16(const std::u16string& text) { return QString::fromStdU16String(text); }

std::u16string ToUtf16(const QString& text) { return text.toStdU16String(); }

std::string NativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString FromNativePath(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace rules
