// Bytes in the journal's records: names and tag bytes are stored as base64 text, so that any name
// and any byte survive the JSON.
#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace core {

inline QString B64(const void* data, size_t size) {
  return QString::fromLatin1(
      QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(size)).toBase64());
}
inline QString B64(const std::string& s) { return B64(s.data(), s.size()); }
inline QString B64(const std::vector<uint8_t>& bytes) { return B64(bytes.data(), bytes.size()); }
inline QByteArray FromB64(const QJsonValue& v) {
  return QByteArray::fromBase64(v.toString().toLatin1());
}

}  // namespace core
