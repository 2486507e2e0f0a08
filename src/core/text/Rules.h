// The domain rules that the window and the command line share: path splitting, the tag-object
// key, the genre entries, the track-number parse, the year filter, the rename rules and text
// conversion. Nothing here touches a widget or a file.
#pragma once

#include <QString>
#include <QUrl>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rules {

// ---- Paths

// The folder part of a path: everything up to and including its last "/" (empty when none).
QString FolderOf(const QString& path);
// The file-name part of a path: everything after its last "/".
QString FileNameOf(const QString& path);
// The extension of a path: from its last "." on, dot included, when no "/" follows that dot;
// otherwise empty. Letter case is kept.
QString ExtensionOf(const QString& path);

// The key that picks the tag object: the extension upper-cased and cut to its first four
// characters. ".MP3" picks the MP3 object, every other key (".WMA", "" ...) the WMA object.
QString FormatKey(const QString& path);
// The batch edit's key: the whole extension, upper-cased (".MP3X" is not ".MP3").
QString WholeExtensionKey(const QString& path);
inline const QString kMp3Key = QStringLiteral(".MP3");
inline const QString kWmaKey = QStringLiteral(".WMA");

// ---- Genre box

// The genre box holds an empty entry, then the 148 genre names: entry k + 1 names genre k.
constexpr int kGenreEntries = 149;
// The entry that shows a genre byte: genre + 1 below 148, else the empty entry 0.
int GenreEntryOf(uint8_t genreId);
// The genre byte that an entry stands for: entry 0 gives 255 (no genre), entry k + 1 gives k,
// no entry chosen (-1) gives 254.
uint8_t GenreIdOfEntry(int entry);

// ---- Numbers and keys

// Reads a whole number: leading blanks, one sign, then decimal digits, or hexadecimal digits after
// "$", "x", "X", "0x" or "0X", to the end of the text. Anything else (a trailing blank, an empty
// text, an overflow) gives `fallback`.
int64_t StrToIntDef(const QString& text, int64_t fallback);
// The MP3 track byte of the track box: an invalid text, 0 or a negative number give 0; a positive
// number keeps its low 8 bits (300 gives 44).
uint8_t Mp3TrackOf(const QString& text);

// The year box lets through the digits, backspace (8) and Enter (13); every other typed character
// is discarded.
bool YearKeyPasses(char32_t code);

// Removes every character of code 0 to 32 from both ends.
QString TrimControl(const QString& text);

// ---- Renaming

// The extension a renamed file keeps: the path's extension, letter case kept, cut to its first
// four characters (".flac" gives ".fla").
QString RenameExtension(const QString& path);
// The new file name by rule 1 (artist - title), 2 (title - artist) or 3 (artist - (n)title);
// nothing for any other rule.
std::optional<QString> NewFileName(int rule, const QString& artist, const QString& title,
                                   int sequence, const QString& extension);

// ---- Text and paths between the window and the tag code

// MP3 tag bytes are GBK: decoded for display, and encoded from the boxes with "?" for every
// character that GBK lacks.
QString FromGbk(const std::string& bytes);
// The text of an ID3v1 slot's bytes: UTF-8 when they are valid UTF-8 holding at least one
// multi-byte sequence (ffmpeg writes UTF-8 there), a last sequence cut off by the slot's end
// allowed and shown as a replacement character; GBK (FromGbk) for every other slot.
// The text is what the slot holds before its first zero byte (what every reader shows), without
// the blanks before that byte; the tag object keeps the bytes after it.
QString FromId3v1Text(const std::string& bytes);
// The bytes of an ID3v1 slot that are its text: those before its first zero byte, without the
// trailing codes 0 to 32.
std::string_view Id3v1Bytes(std::string_view slot);
// True when the bytes are single ASCII bytes and GBK pairs: a lead byte 0x81 to 0xFE and a trail
// byte 0x40 to 0xFE other than 0x7F.
bool IsGbkShaped(std::string_view bytes);
std::string ToGbk(const QString& text);
// How a text fits an MP3 tag slot: the GBK bytes it takes, and each character GBK lacks (saved as
// "?"), once.
struct GbkFit {
  int bytes = 0;
  QString missing;
};
GbkFit MeasureGbk(const QString& text);
// WMA texts stay UTF-16.
QString FromUtf16(const std::u16string& text);
std::u16string ToUtf16(const QString& text);
// Paths as the file system's bytes, and back.
std::string NativePath(const QString& path);
QString FromNativePath(const std::string& path);

// ---- Paths as the file system's bytes
//
// A path found in a folder listing or a drop stays bytes until the system call: names from
// Windows archives, CDs and FAT drives are often GBK, and a QString would lose them. The text
// made from a path is for showing only.

// The text that shows a name or path, each name between slashes on its own: its bytes as UTF-8
// when they are valid UTF-8, else as GBK when they are valid GBK, else as UTF-8 with a replacement
// mark for each faulty byte.
QString DisplayName(const std::string& bytes);
// A path as the user reads it: DisplayName with the system's separator between its names ("\\" on
// Windows, where the program keeps "/" inside). For showing only: the text is never a path again.
QString ShownPath(const std::string& bytes);
// True when the bytes are valid UTF-8 (as a name's bytes must be to be taken as text).
bool IsUtf8(const std::string& bytes);
// The folder part of a path's bytes, up to and including the last "/" (empty when none), and the
// file-name part after it.
std::string NativeFolderOf(const std::string& path);
std::string NativeFileNameOf(const std::string& path);
// The bytes of a local file URL's path: its percent-encoded bytes decoded, never through text
// (QUrl::toLocalFile replaces bytes that are not UTF-8). Empty for a URL of another kind.
std::string NativePathOfUrl(const QUrl& url);
// The file URL of a path's bytes; NativePathOfUrl gives the bytes back.
QUrl FileUrlOf(const std::string& path);

}  // namespace rules
