// GBK through Qt's converter (ICU's windows-936-2000 table).
#include <QStringDecoder>
#include <QStringEncoder>
#include <optional>

#include "core/text/Gbk.h"

namespace gbk::system {

QString DecodeUnits(std::string_view units) {
  if (units.empty()) return QString();
  // Opening a converter costs more than a field's conversion: one serves the thread's whole run.
  thread_local QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
  decoder.resetState();
  return decoder.decode(QByteArrayView(units.data(), static_cast<qsizetype>(units.size())));
}

bool EncodeAll(QStringView text, std::string& out) {
  // Qt's converter keeps an error past resetState(): after one, a fresh converter, made in place
  // (ICU reports to the converter at the address it was made at, so it is never moved).
  thread_local std::optional<QStringEncoder> encoder;
  if (!encoder || encoder->hasError()) {
    encoder.reset();
    encoder.emplace("GBK", QStringConverter::Flag::Stateless);
  }
  const QByteArray bytes = encoder->encode(text);
  if (encoder->hasError()) return false;
  out.append(bytes.constData(), static_cast<size_t>(bytes.size()));
  return true;
}

}  // namespace gbk::system
