// The strict decoders of Qt's converter (ICU underneath).
#include <QStringDecoder>
#include <array>
#include <optional>

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
  // Opening a converter costs more than a field's decoding: one per encoding serves the thread,
  // until it meets an error, which stays with it past resetState(); then a fresh one, made in place
  // (ICU reports to the converter at the address it was made at, so it is never moved).
  thread_local std::array<std::optional<QStringDecoder>, kEncodingCount> decoders;
  std::optional<QStringDecoder>& slot = decoders[static_cast<size_t>(encoding)];
  if (!slot || slot->hasError()) {
    slot.reset();
    slot.emplace(name, QStringConverter::Flag::Stateless);
  }
  QStringDecoder& decoder = *slot;
  decoder.resetState();
  const QString text =
      decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (!decoder.isValid() || decoder.hasError() ||
      text.contains(QChar(QChar::ReplacementCharacter))) {
    return std::nullopt;
  }
  return text;
}

}  // namespace legacy::system
