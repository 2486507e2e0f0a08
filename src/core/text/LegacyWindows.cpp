// The strict decoders of the Windows API: code pages 936 (GBK, as the rest of the program), 950,
// 932, 1252 and 65001, which refuse an invalid sequence (MB_ERR_INVALID_CHARS) instead of guessing.
#include <windows.h>

#include "core/text/Legacy.h"

namespace legacy::system {

std::optional<QString> DecodeStrict(Encoding encoding, std::string_view bytes) {
  UINT page = CP_UTF8;
  switch (encoding) {
    case Encoding::kGbk:
      page = 936;
      break;
    case Encoding::kBig5:
      page = 950;
      break;
    case Encoding::kShiftJis:
      page = 932;
      break;
    case Encoding::kCp1252:
      page = 1252;
      break;
    case Encoding::kUtf8:
      page = CP_UTF8;
      break;
  }
  if (bytes.empty()) return QString();
  const int size = static_cast<int>(bytes.size());
  const int n = ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  if (::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(), n) != n) {
    return std::nullopt;
  }
  const QString text = QString::fromWCharArray(wide.data(), n);
  if (text.contains(QChar(QChar::ReplacementCharacter))) return std::nullopt;
  return text;
}

}  // namespace legacy::system
