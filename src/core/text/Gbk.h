// GBK (code page 936), the encoding of the ID3v1 texts: the one place where bytes become text and
// text becomes bytes. The walk over the bytes and the characters is shared; the mapping of each
// valid unit comes from the system: Qt's converter on Linux, code page 936 of the Windows API on
// Windows (the two give the same characters for all 23,940 double-byte codes).
#pragma once

#include <QString>
#include <QStringView>
#include <string>
#include <string_view>

namespace gbk {

// The text of GBK bytes. ASCII, 0x80 (the euro sign), 0xFF (U+F8F5, so that it comes back as the
// same byte) and each lead byte 0x81 to 0xFE with a trail byte 0x40 to 0xFE other than 0x7F are
// characters; a lead byte without a trail byte (at the end, or before a byte that cannot follow
// it) becomes U+FFFD, and the byte after it is read again on its own.
QString Decode(std::string_view bytes);

// The GBK bytes of a text. Each character GBK lacks (every character beyond U+FFFF, and a lone
// surrogate) becomes one "?"; when `missing` is given, each such character is appended to it
// once, in the order of first appearance (a lone surrogate as U+FFFD).
std::string Encode(QStringView text, QString* missing = nullptr);

// What the system's converter gives; the shared walk above calls these only.
namespace system {

// The text of `units`: ASCII, 0x80, 0xFF and double-byte units only, whole. A unit the converter
// has no character for becomes U+FFFD.
QString DecodeUnits(std::string_view units);
// Appends the GBK bytes of `text`, which holds no surrogate, to `out`; false (and `out` as it was)
// when GBK lacks one of its characters.
bool EncodeAll(QStringView text, std::string& out);

}  // namespace system
}  // namespace gbk
