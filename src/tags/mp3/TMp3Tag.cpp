#include "tags/mp3/TMp3Tag.h"

#include <algorithm>
#include <cstring>

#include "platform/File.h"
#include "platform/FileSystem.h"

const std::array<std::string_view, 148> ID3Genres = {
    "Blues",
    "Classic Rock",
    "Country",
    "Dance",
    "Disco",
    "Funk",
    "Grunge",
    "Hip-Hop",
    "Jazz",
    "Metal",
    //
    "New Age",
    "Oldies",
    "Other",
    "Pop",
    "R&B",
    "Rap",
    "Reggae",
    "Rock",
    "Techno",
    "Industrial",
    //
    "Alternative",
    "Ska",
    "Death Metal",
    "Pranks",
    "Soundtrack",
    "Euro-Techno",
    "Ambient",
    "Trip-Hop",
    "Vocal",
    "Jazz+Funk",
    //
    "Fusion",
    "Trance",
    "Classical",
    "Instrumental",
    "Acid",
    "House",
    "Game",
    "Sound Clip",
    "Gospel",
    "Noise",
    //
    "AlternRock",
    "Bass",
    "Soul",
    "Punk",
    "Space",
    "Meditative",
    "Instrumental Pop",
    "Instrumental Rock",
    "Ethnic",
    "Gothic",
    //
    "Darkwave",
    "Techno-Industrial",
    "Electronic",
    "Pop-Folk",
    "Eurodance",
    "Dream",
    "Southern Rock",
    "Comedy",
    "Cult",
    "Gangsta",
    //
    "Top 40",
    "Christian Rap",
    "Pop/Funk",
    "Jungle",
    "Native American",
    "Cabaret",
    "New Wave",
    "Psychadelic",
    "Rave",
    "Showtunes",
    //
    "Trailer",
    "Lo-Fi",
    "Tribal",
    "Acid Punk",
    "Acid Jazz",
    "Polka",
    "Retro",
    "Musical",
    "Rock & Roll",
    "Hard Rock",
    //
    "Folk",
    "Folk-Rock",
    "National Folk",
    "Swing",
    "Fast Fusion",
    "Bebob",
    "Latin",
    "Revival",
    "Celtic",
    "Bluegrass",
    //
    "Avantgarde",
    "Gothic Rock",
    "Progessive Rock",
    "Psychedelic Rock",
    "Symphonic Rock",
    "Slow Rock",
    "Big Band",
    "Chorus",
    "Easy Listening",
    "Acoustic",
    //
    "Humour",
    "Speech",
    "Chanson",
    "Opera",
    "Chamber Music",
    "Sonata",
    "Symphony",
    "Booty Bass",
    "Primus",
    "Porn Groove",
    //
    "Satire",
    "Slow Jam",
    "Club",
    "Tango",
    "Samba",
    "Folklore",
    "Ballad",
    "Power Ballad",
    "Rhythmic Soul",
    "Freestyle",
    //
    "Duet",
    "Punk Rock",
    "Drum Solo",
    "A capella",
    "Euro-House",
    "Dance Hall",
    "Goa",
    "Drum & Bass",
    "Club-House",
    "Hardcore",
    //
    "Terror",
    "Indie",
    "BritPop",
    "Negerpunk",
    "Polsk Punk",
    "Beat",
    "Christian Gangsta Rap",
    "Heavy Metal",
    "Black Metal",
    "Crossover",
    //
    "Contemporary Christian",
    "Christian Rock",
    "Merengue",
    "Salsa",
    "Trash Metal",
    "Anime",
    "JPop",
    "Synthpop",
};

namespace {

// Slots of the block: offset and width.
constexpr size_t kTitleAt = 3, kArtistAt = 33, kAlbumAt = 63, kYearAt = 93, kCommentAt = 97;
constexpr size_t kTextWidth = 30, kYearWidth = 4, kCommentV11Width = 28;
constexpr size_t kZeroAt = 125, kTrackAt = 126, kGenreAt = 127;
constexpr int64_t kBlockSize = 128;

// The text without its trailing bytes 0x00-0x20.
std::string_view TrimTrailing(std::string_view text) {
  size_t n = text.size();
  while (n > 0 && static_cast<unsigned char>(text[n - 1]) <= 0x20) --n;
  return text.substr(0, n);
}

std::string DecodeSlot(const TagBlock& block, size_t at, size_t width) {
  std::string_view slot(reinterpret_cast<const char*>(block.data()) + at, width);
  return std::string(TrimTrailing(slot));
}

void EncodeSlot(TagBlock& block, size_t at, const std::string& text, size_t width) {
  std::memcpy(block.data() + at, text.data(), std::min(text.size(), width));
}

std::string Fit(std::string_view text, size_t capacity) {
  std::string_view t = TrimTrailing(text);
  return std::string(t.substr(0, std::min(t.size(), capacity)));
}

// Opens the file, takes its size and checks that it can hold a block.
bool OpenWithBlock(platform::File& file, const std::string& path, bool write, int64_t& size) {
  bool opened = write ? file.OpenReadWrite(path) : file.OpenRead(path);
  if (!opened) return false;
  size = file.SizeAtOpen();
  return size >= kBlockSize;
}

// Opens a file that can hold a block for writing and makes it writable for its owner (no longer
// read-only). A file that cannot be opened for writing is made writable first, but only once it
// is known to be a file that can take a tag at all, so that a refused file keeps its mode.
bool OpenForTagWrite(platform::File& file, const std::string& path, int64_t& size) {
  if (OpenWithBlock(file, path, true, size)) {
    file.AddOwnerWrite();  // the outcome is ignored, as when the mode is changed by path
    return true;
  }
  TagBlock probe;
  if (!ReadLastBlock(path, probe)) return false;
  platform::ClearReadOnly(path);
  return OpenWithBlock(file, path, true, size);
}

}  // namespace

uint8_t DetectVersion(const TagBlock& block) {
  uint8_t zero = block[kZeroAt], track = block[kTrackAt];
  if ((zero == 0x00 && track != 0x00) || (zero == 0x20 && track != 0x20)) return 2;
  return 1;
}

bool IsTagBlock(const TagBlock& block) {
  return block[0] == 'T' && block[1] == 'A' && block[2] == 'G';
}

void DecodeBlock(const TagBlock& block, TIDmp3& tag) {
  tag.TagVersion = DetectVersion(block);
  tag.Title = DecodeSlot(block, kTitleAt, kTextWidth);
  tag.Artist = DecodeSlot(block, kArtistAt, kTextWidth);
  tag.Album = DecodeSlot(block, kAlbumAt, kTextWidth);
  tag.Year = DecodeSlot(block, kYearAt, kYearWidth);
  bool v11 = tag.TagVersion == 2;
  tag.Comment = DecodeSlot(block, kCommentAt, v11 ? kCommentV11Width : kTextWidth);
  tag.Track = v11 ? block[kTrackAt] : 0;
  tag.GenreID = block[kGenreAt];
}

TagBlock EncodeBlock(const TIDmp3& tag) {
  TagBlock block{};
  block[0] = 'T';
  block[1] = 'A';
  block[2] = 'G';
  EncodeSlot(block, kTitleAt, tag.Title, kTextWidth);
  EncodeSlot(block, kArtistAt, tag.Artist, kTextWidth);
  EncodeSlot(block, kAlbumAt, tag.Album, kTextWidth);
  EncodeSlot(block, kYearAt, tag.Year, kYearWidth);
  EncodeSlot(block, kCommentAt, tag.Comment, kTextWidth);
  if (tag.Track != 0) {
    block[kZeroAt] = 0x00;
    block[kTrackAt] = tag.Track;
  }
  block[kGenreAt] = tag.GenreID;
  return block;
}

bool ReadLastBlock(const std::string& path, TagBlock& block) {
  platform::File file;
  int64_t size = 0;
  return OpenWithBlock(file, path, false, size) &&
         file.ReadAt(size - kBlockSize, block.data(), block.size()) && file.Close();
}

bool CutLastBlock(const std::string& path) {
  platform::ClearReadOnly(path);
  platform::File file;
  int64_t size = 0;
  return OpenWithBlock(file, path, true, size) && file.Truncate(size - kBlockSize) &&
         file.SyncData() && file.Close();
}

bool AppendBlock(const std::string& path, const TagBlock& block) {
  platform::ClearReadOnly(path);
  platform::File file;
  int64_t size = 0;
  if (!file.OpenReadWrite(path) || !file.Size(size)) return false;
  if (!file.WriteAt(size, block.data(), block.size()) || !file.SyncData()) {
    file.Truncate(size);  // take back a partial write, so the file stays as it was
    return false;
  }
  return file.Close();
}

void TIDmp3::Clear() {
  HasTag = false;
  TagVersion = 1;
  Title.clear();
  Artist.clear();
  Album.clear();
  Year.clear();
  Comment.clear();
  Track = 0;
  GenreID = 255;
}

void TIDmp3::SetTitle(std::string_view text) { Title = Fit(text, kTextCapacity); }
void TIDmp3::SetArtist(std::string_view text) { Artist = Fit(text, kTextCapacity); }
void TIDmp3::SetAlbum(std::string_view text) { Album = Fit(text, kTextCapacity); }
void TIDmp3::SetYear(std::string_view text) { Year = Fit(text, kYearCapacity); }
void TIDmp3::SetComment(std::string_view text) { Comment = Fit(text, kTextCapacity); }

bool TIDmp3::ReadFromFile(const std::string& path) {
  Clear();
  TagBlock block;
  if (!ReadLastBlock(path, block)) return false;
  if (!IsTagBlock(block)) return true;
  HasTag = true;
  DecodeBlock(block, *this);
  return true;
}

bool TIDmp3::RemoveFromFile(const std::string& path) {
  TagBlock block;
  if (!ReadLastBlock(path, block)) return false;
  if (!IsTagBlock(block)) return true;
  return CutLastBlock(path);
}

bool TIDmp3::SaveToFile(const std::string& path) {
  const TagBlock fresh = EncodeBlock(*this);
  platform::File file;
  int64_t size = 0;
  if (!OpenForTagWrite(file, path, size)) return false;
  TagBlock last;
  if (!file.ReadAt(size - kBlockSize, last.data(), last.size())) return false;
  // A tagged file gets its block overwritten in place, so that it never goes without a tag; a
  // file without one gets the block appended.
  const bool tagged = IsTagBlock(last);
  const int64_t at = tagged ? size - kBlockSize : size;
  // The block is on the disk before success is reported, so that a power cut right after a save
  // cannot bring the old tag back (a batch that flushes at its end says so beforehand).
  if (!file.WriteAt(at, fresh.data(), fresh.size()) || (!flushLeftToCaller_ && !file.SyncData())) {
    // Put back what was there, so that a failed save leaves the file as it was.
    if (tagged) {
      file.WriteAt(at, last.data(), last.size());
    } else {
      file.Truncate(size);
    }
    return false;
  }
  return file.Close();
}
