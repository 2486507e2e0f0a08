// The strict decoders of Qt's converter (ICU underneath).
#include <QStringDecoder>

#include "core/text/Legacy.h"

namespace legacy::system {

std::optional<QString> DecodeStrict(Encoding encoding, std::string_view bytes) {
  const char* name = "UTF-8";
  switch (encoding) {
    case Encoding::kGbk:
      name = "GB18030";
      break;
    case Encoding::kBig5:
      name = "windows-950";
      break;
    case Encoding::kShiftJis:
      name = "windows-932";
      break;
    case Encoding::kCp1252:
      name = "windows-1252";
      break;
    case Encoding::kUtf8:
      name = "UTF-8";
      break;
  }
  // A converter's error stays with it: a fresh one for each text (opening one is cheap beside a
  // file's read).
  QStringDecoder decoder(name, QStringConverter::Flag::Stateless);
  const QString text =
      decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (!decoder.isValid() || decoder.hasError() ||
      text.contains(QChar(QChar::ReplacementCharacter))) {
    return std::nullopt;
  }
  return text;
}

}  // namespace legacy::system
