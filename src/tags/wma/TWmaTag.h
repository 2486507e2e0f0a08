// The metadata of a WMA (ASF) file: the Content Description and Extended Content Description
// objects of the ASF header, read into UTF-16 text fields and written back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tags/wma/AsfBytes.h"

// The identifiers of the three objects that the tag code recognises, as they stand in the file;
// they are compared byte for byte.
extern const std::array<uint8_t, 16> HeaderObjectId;
extern const std::array<uint8_t, 16> ContentDescriptionObjectId;
extern const std::array<uint8_t, 16> ExtendedContentDescriptionObjectId;
// The Padding Object: room that readers step over by its size. A save drops the old ones and ends
// the header with one of its own where the header has room to spare.
extern const std::array<uint8_t, 16> PaddingObjectId;

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

namespace platform {
class File;
}

namespace wma {

// What a save of a tag will write into one file, worked out before anything is written.
struct SavePlan {
  std::vector<uint8_t> oldHeader;  // the file's header as it stands, offsets 0 to its Object Size
  std::vector<uint8_t> newHeader;  // the header the save writes in its place
  int64_t fileSize = 0;            // the file's size when the plan was made
  // The new header takes exactly the old one's room, so it can be written over it in place.
  bool InPlace() const { return newHeader.size() == oldHeader.size(); }
};

// The room a header keeps for later edits when it grows past the room it had: at least this many
// bytes of padding, and up to one block more, so that the data after the header keeps its offset
// modulo the block size.
constexpr int64_t kMinGrownPadding = 2048;

}  // namespace wma

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
  // Always through a new file that replaces the old one in one step (see wma::ReplaceFile).
  bool SaveToFile(const std::string& path);

  // The first half of a save: reads the file's header and renders the header that holds the
  // fields. The new header keeps the old one's size when it fits in it (the same size, or smaller
  // by at least 24 bytes, the rest then a Padding Object); otherwise it grows with padding (see
  // wma::kMinGrownPadding). False, and raises, where SaveToFile does; sets HeaderSize.
  bool PlanSave(const std::string& path, wma::SavePlan& plan);
  // The same from a file open for reading.
  bool PlanSave(const platform::File& source, wma::SavePlan& plan);

  // Reads the fields from a file open for reading, as ReadFromFile reads them, and gives the
  // whole header's bytes (offsets 0 to its Object Size). False where ReadFromFile is, after a
  // file could be opened; raises EReadError as it does.
  bool ReadFromOpenFile(const platform::File& file, std::vector<uint8_t>& header);
  // The second half of a save from a header already read (`header`, of a file of `fileSize`
  // bytes on a file system whose preferred block size is `blockSize`): renders the header that
  // holds the fields, as PlanSave does.
  bool PlanFromHeader(std::vector<uint8_t> header, int64_t fileSize, int64_t blockSize,
                      wma::SavePlan& plan);
};

namespace wma {

// Reads `tag` from the bytes of a whole file held in memory, exactly as ReadFromFile reads a file
// that holds these bytes (for tests and fuzzing).
bool ReadFromImage(TIDwma& tag, const uint8_t* data, size_t size);

// Carries out a plan through a new file beside the old one: the new header, then the old file's
// bytes after its header, flushed and renamed over the old file. A crash leaves the old file or
// the new one. False (errno set) when the file cannot be replaced; it is then left as it was.
bool ReplaceFile(const std::string& path, const SavePlan& plan);

// Writes `newBytes` over `oldBytes`, of the same size, at `at` in `file` (open for reading and
// writing): the bytes that a header that fits (SavePlan::InPlace()) changes, or the whole header.
// Refuses a file that may not change (File::RefusesChange()). After the write, `check` (when
// given) looks at what the file holds now: false fails the write (EIO). Then flushes the file when
// `flush`. When the write, the check or the flush fails, the old bytes are written back as far as
// the file allows. Nothing here checks that the file still holds the old bytes, nor protects it
// against a crash during the write: the caller checks and records them beforehand (the core's
// journal does). 0, or the errno of the failure.
int WriteHeaderInPlace(platform::File& file, int64_t at, asf::ByteSpan oldBytes,
                       asf::ByteSpan newBytes, bool flush,
                       const std::function<bool()>& check = nullptr);

}  // namespace wma
