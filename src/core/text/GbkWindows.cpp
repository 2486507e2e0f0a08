// GBK through code page 936 of the Windows API, which refuses what it cannot convert instead of
// guessing (MB_ERR_INVALID_CHARS, WC_NO_BEST_FIT_CHARS).
#include <windows.h>

#include "core/text/Gbk.h"

namespace gbk::system {
namespace {

constexpr UINT kGbk = 936;

// The text of one unit, or U+FFFD when code page 936 has no character for it.
QString DecodeUnit(std::string_view unit) {
  wchar_t wide[2];
  const int n = ::MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, unit.data(),
                                      static_cast<int>(unit.size()), wide, 2);
  if (n == 1) return QString(QChar(static_cast<char16_t>(wide[0])));
  // 0xFF has no character in code page 936; Qt's table gives U+F8F5, which code page 936 turns
  // back into 0xFF: the same here, so that the byte survives a save.
  if (unit == "\xFF") return QString(QChar(0xF8F5));
  return QString(QChar(QChar::ReplacementCharacter));
}

}  // namespace

QString DecodeUnits(std::string_view units) {
  if (units.empty()) return QString();
  QString text(static_cast<qsizetype>(units.size()), Qt::Uninitialized);
  const int n = ::MultiByteToWideChar(
      kGbk, MB_ERR_INVALID_CHARS, units.data(), static_cast<int>(units.size()),
      reinterpret_cast<wchar_t*>(text.data()), static_cast<int>(text.size()));
  if (n > 0) {
    text.resize(n);
    return text;
  }
  // A unit the code page refuses: each unit on its own.
  text.clear();
  for (size_t i = 0; i < units.size();) {
    const auto b = static_cast<unsigned char>(units[i]);
    const size_t length = b >= 0x81 && b <= 0xFE ? 2 : 1;
    text += DecodeUnit(units.substr(i, length));
    i += length;
  }
  return text;
}

bool EncodeAll(QStringView text, std::string& out) {
  if (text.isEmpty()) return true;
  const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
  const int units = static_cast<int>(text.size());
  const size_t before = out.size();
  out.resize(before + 2 * static_cast<size_t>(units));
  BOOL defaulted = FALSE;
  const int n = ::WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, wide, units, out.data() + before,
                                      2 * units, nullptr, &defaulted);
  if (n <= 0 || defaulted) {
    out.resize(before);
    return false;
  }
  out.resize(before + static_cast<size_t>(n));
  return true;
}

}  // namespace gbk::system
