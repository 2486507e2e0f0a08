// The metadata of a WMA (ASF) file: the Content Description and Extended Content Description
// objects of the ASF header, read into UTF-16 text fields and written back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// The identifiers of the three objects that the tag code recognises, as they stand in the file;
// they are compared byte for byte.
extern const std::array<uint8_t, 16> HeaderObjectId;
extern const std::array<uint8_t, 16> ContentDescriptionObjectId;
extern const std::array<uint8_t, 16> ExtendedContentDescriptionObjectId;

// The descriptor names tied to the tag's fields, in the order in which a save writes them.
extern const std::array<std::u16string_view, 10> AttributeNames;

// Raised when the file cannot be opened: "Cannot open file "<path>". <reason>".
class EFOpenError : public std::runtime_error {
 public:
  EFOpenError(const std::string& path, const std::string& reason);
};

// Raised when the header ends before its walk does: "Stream read error".
class EReadError : public std::runtime_error {
 public:
  EReadError();
};

class TIDwma {
 public:
  TIDwma() { Clear(); }

  std::u16string Version;
  int64_t HeaderSize;
  std::u16string Title;
  std::u16string Artist;
  std::u16string Copyright;
  std::u16string Comment;
  std::u16string Album;
  std::u16string Year;
  std::u16string Genre;
  std::u16string Track;
  std::u16string WmTrack;
  std::u16string UserUrl;
  std::u16string Url;
  std::u16string Lyrics;
  std::u16string EncodedBy;

  void Clear();

  // Each setter stores the text with its trailing units of value 0x0020 or below removed.
  void SetTitle(std::u16string_view text);
  void SetArtist(std::u16string_view text);
  void SetCopyright(std::u16string_view text);
  void SetComment(std::u16string_view text);
  void SetAlbum(std::u16string_view text);
  void SetYear(std::u16string_view text);
  void SetGenre(std::u16string_view text);
  void SetTrack(std::u16string_view text);
  void SetUserUrl(std::u16string_view text);
  void SetUrl(std::u16string_view text);
  void SetLyrics(std::u16string_view text);
  void SetEncodedBy(std::u16string_view text);
  void SetVersion(std::u16string_view text);

  // True when the file begins with an ASF Header Object and its header was walked to the end;
  // false for no file, a file shorter than 24 bytes or one of another format. Raises EFOpenError
  // when the file cannot be opened and EReadError when the header is cut short or broken.
  bool ReadFromFile(const std::string& path);
  // Rewrites the header's metadata from the fields; false when the file is not an ASF file or
  // cannot be rewritten, and then it is left as it was. Raises as ReadFromFile does.
  bool SaveToFile(const std::string& path);
};

namespace wma {

// Reads `tag` from the bytes of a whole file held in memory, exactly as ReadFromFile reads a file
// that holds these bytes (for tests and fuzzing).
bool ReadFromImage(TIDwma& tag, const uint8_t* data, size_t size);

}  // namespace wma
