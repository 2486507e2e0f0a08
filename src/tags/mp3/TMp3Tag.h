// The ID3v1 tag of an MP3 file: the 128-byte block at the file's end, the genre table, and the tag
// object that reads, writes and removes the block. Text fields are raw GBK bytes, never converted.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// The last 128 bytes of a tagged MP3 file.
using TagBlock = std::array<uint8_t, 128>;

// The 148 genre names that the genre byte indexes (0..147).
extern const std::array<std::string_view, 148> ID3Genres;

// 2 for an ID3v1.1 block (one that carries a track byte), else 1 for ID3v1.0.
uint8_t DetectVersion(const TagBlock& block);

// True when the block starts with the magic "TAG" (case-sensitive).
bool IsTagBlock(const TagBlock& block);

class TIDmp3;

// Decodes a block that starts with "TAG" into the tag's fields (version, texts, track, genre).
void DecodeBlock(const TagBlock& block, TIDmp3& tag);
// Encodes the tag's fields into a block: "TAG", the texts zero-padded, the ID3v1.1 track byte when
// the track is not 0, the genre byte.
TagBlock EncodeBlock(const TIDmp3& tag);

// The file routines under the tag object: each opens the file, does its steps and closes it again,
// giving false at the first step that fails.
bool ReadLastBlock(const std::string& path, TagBlock& block);
bool CutLastBlock(const std::string& path);
bool AppendBlock(const std::string& path, const TagBlock& block);

class TIDmp3 {
 public:
  static constexpr size_t kTextCapacity = 30;
  static constexpr size_t kYearCapacity = 4;

  TIDmp3() { Clear(); }

  bool HasTag;
  uint8_t TagVersion;
  std::string Title;
  std::string Artist;
  std::string Album;
  std::string Year;
  std::string Comment;
  uint8_t Track;
  uint8_t GenreID;

  void Clear();

  // Each setter removes trailing bytes 0x00-0x20, then cuts to the field's capacity in bytes.
  void SetTitle(std::string_view text);
  void SetArtist(std::string_view text);
  void SetAlbum(std::string_view text);
  void SetYear(std::string_view text);
  void SetComment(std::string_view text);
  void SetTrack(uint8_t track) { Track = track; }
  void SetGenreID(uint8_t genre) { GenreID = genre; }

  // True when the last 128 bytes were read, tag or no tag; false when they could not be.
  bool ReadFromFile(const std::string& path);
  // Strips the tag from the end of the file; true when there was none or it was removed and the
  // change is on the disk.
  bool RemoveFromFile(const std::string& path);
  // Writes the fields as the file's tag; true when it was written and flushed to the disk. A
  // failed save leaves the file as it was.
  bool SaveToFile(const std::string& path);

  // A batch of saves may leave the flush to its end: while on, SaveToFile does not wait for the
  // disk, and the caller flushes every file system it wrote to (platform::SyncFileSystemsOf)
  // before it reports any of those saves as done.
  void SetFlushLeftToCaller(bool on) { flushLeftToCaller_ = on; }

 private:
  bool flushLeftToCaller_ = false;
};
