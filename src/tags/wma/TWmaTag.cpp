#include "tags/wma/TWmaTag.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "platform/Errno.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/ReplacementFile.h"
#include "tags/wma/AsfBytes.h"
#include "tags/wma/AsfObjects.h"

const std::array<uint8_t, 16> HeaderObjectId = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const std::array<uint8_t, 16> ContentDescriptionObjectId = {
    0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const std::array<uint8_t, 16> ExtendedContentDescriptionObjectId = {
    0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11, 0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};

const std::array<uint8_t, 16> PaddingObjectId = {0x74, 0xD4, 0x06, 0x18, 0xDF, 0xCA, 0x09, 0x45,
                                                 0xA4, 0xBA, 0x9A, 0xAB, 0xCB, 0x96, 0xAA, 0xE8};

const std::array<std::u16string_view, 10> AttributeNames = {
    u"WM/AlbumTitle", u"WM/EncodedBy", u"WM/Genre",      u"WM/Lyrics",     u"WM/Track",
    u"WM/Year",       u"WM/URL",       u"WM/UserWebURL", u"WMFSDKVersion", u"WM/TrackNumber",
};

EFOpenError::EFOpenError(const std::string& path, const std::string& reason)
    : std::runtime_error("Cannot open file \"" + path + "\". " + reason) {}

EReadError::EReadError() : std::runtime_error("Stream read error") {}

namespace {

using asf::ByteSpan;

// The field that each row of AttributeNames fills, row by row.
constexpr std::array<std::u16string TIDwma::*, 10> kAttributeFields = {
    &TIDwma::Album, &TIDwma::EncodedBy, &TIDwma::Genre,   &TIDwma::Lyrics,  &TIDwma::WmTrack,
    &TIDwma::Year,  &TIDwma::Url,       &TIDwma::UserUrl, &TIDwma::Version, &TIDwma::Track,
};
constexpr size_t kTrackRow = 4;        // "WM/Track"
constexpr size_t kTrackNumberRow = 9;  // "WM/TrackNumber"

// The fields held in the Content Description Object, in the order of its first four strings.
constexpr std::array<std::u16string TIDwma::*, 4> kContentFields = {
    &TIDwma::Title, &TIDwma::Artist, &TIDwma::Copyright, &TIDwma::Comment};

std::u16string TrimTrailing(std::u16string_view text) {
  size_t n = text.size();
  while (n > 0 && text[n - 1] <= 0x0020) --n;
  return std::u16string(text.substr(0, n));
}

// The row of AttributeNames whose name the stored name equals, or AttributeNames.size().
size_t AttributeRow(ByteSpan name) {
  size_t units = asf::TextUnits(name);
  for (size_t row = 0; row < AttributeNames.size(); ++row) {
    if (AttributeNames[row].size() == units && asf::TextEquals(name, AttributeNames[row])) {
      return row;
    }
  }
  return AttributeNames.size();
}

// The path as the open error shows it: made absolute, "." and ".." resolved.
std::string ExpandedPath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(std::filesystem::u8path(path), ec);
  return ec ? path : full.lexically_normal().u8string();
}

// Opens an existing regular file for reading. False when there is none at the path (a folder does
// not count); raises the open error when there is one that cannot be opened. The open comes
// first and the existence test only after a failure, which spares a path lookup on every read.
bool OpenExisting(platform::File& file, const std::string& path) {
  if (file.OpenRead(path)) return true;
  if (!platform::FileExists(path)) return false;
  throw EFOpenError(ExpandedPath(path), platform::ErrorText(file.error()));
}

// The first read of a file takes this many bytes at most: enough for the whole header of most
// files, so that one read serves where two would otherwise be needed.
constexpr int64_t kFirstRead = 4096;

// Reads the start of an open file, up to kFirstRead bytes, into `buffer`; gives how many.
size_t ReadFirst(const platform::File& file, uint8_t* buffer) {
  size_t count = static_cast<size_t>(std::min(file.SizeAtOpen(), kFirstRead));
  if (!file.ReadAt(0, buffer, count)) throw EReadError();
  return count;
}

// What the first bytes of a file are and, when it holds at least 24 bytes, the QWORD at 16.
asf::FileStart Identify(const uint8_t* first, size_t count, int64_t& headerSize) {
  return asf::IdentifyStart(ByteSpan{first, std::min(count, asf::kHeaderStartSize)}, headerSize);
}

// The whole header, offsets 0 up to its Object Size, checked against the file's size before
// anything is allocated for it: the first bytes already read when they hold it all, otherwise
// those completed from the file in `storage`. A header too large for the memory left is a header
// that cannot be read.
ByteSpan WholeHeader(const platform::File& file, int64_t headerSize, const uint8_t* first,
                     size_t count, std::vector<uint8_t>& storage) {
  asf::CheckHeaderSize(headerSize, file.SizeAtOpen());
  const size_t size = static_cast<size_t>(headerSize);
  if (size <= count) return ByteSpan{first, size};
  try {
    storage.resize(size);
  } catch (const std::bad_alloc&) {
    throw EReadError();
  }
  std::memcpy(storage.data(), first, count);
  if (!file.ReadAt(static_cast<int64_t>(count), storage.data() + count, size - count)) {
    throw EReadError();
  }
  return ByteSpan{storage.data(), size};
}

void ApplyContentDescription(const asf::ContentDescription& content, TIDwma& tag) {
  for (size_t i = 0; i < kContentFields.size(); ++i) {
    if (!content.strings[i].empty()) tag.*kContentFields[i] = content.strings[i];
  }
}

// The byte width of a number value type (WORD, DWORD, QWORD); 0 for every other type.
size_t NumberWidth(uint16_t type) {
  switch (type) {
    case asf::kTypeWord:
      return 2;
    case asf::kTypeDword:
      return 4;
    case asf::kTypeQword:
      return 8;
    default:
      return 0;
  }
}

// The number held in the first `width` bytes of a value.
uint64_t NumberOf(ByteSpan value, size_t width) {
  asf::ByteReader reader(value);
  switch (width) {
    case 2:
      return reader.ReadWord();
    case 4:
      return reader.ReadDword();
    default:
      return reader.ReadQword();
  }
}

template <typename Number>
std::u16string DecimalText(Number value) {
  std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

bool IsTrackRow(size_t row) { return row == kTrackRow || row == kTrackNumberRow; }

// The text that a descriptor under the name of table row `row` gives its field; false when it
// gives none. A string gives its text (an empty one too); a number gives its decimal text, taken
// from the value's first bytes, and a DWORD of the two track rows is read as a signed integer. A
// value of length 0, a number shorter than its type, a BOOL, a byte array or a type of no known
// meaning gives nothing: it is not shown, and a save carries it over while its field is empty.
bool FieldText(const asf::ContentDescriptor& d, size_t row, std::u16string& text) {
  if (d.type == asf::kTypeString) {
    if (d.value.size == 0) return false;
    text = asf::TextOf(d.value);
    return true;
  }
  const size_t width = NumberWidth(d.type);
  if (width == 0 || d.value.size < width) return false;
  const uint64_t number = NumberOf(d.value, width);
  if (d.type == asf::kTypeDword && IsTrackRow(row)) {
    text = DecimalText(static_cast<int32_t>(static_cast<uint32_t>(number)));
  } else {
    text = DecimalText(number);
  }
  return true;
}

// Whether a save writes an unchanged number back with its own type and bytes. The DWORD track
// numbers are the exception: they are written as strings.
bool KeepsItsType(const asf::ContentDescriptor& d, size_t row) {
  return NumberWidth(d.type) != 0 && !(d.type == asf::kTypeDword && IsTrackRow(row));
}

void ApplyDescriptor(const asf::ContentDescriptor& d, TIDwma& tag) {
  const size_t row = AttributeRow(d.name);
  if (row == AttributeNames.size()) return;
  std::u16string text;
  if (FieldText(d, row, text)) tag.*kAttributeFields[row] = std::move(text);
}

// Walks a whole header and fills the tag's fields from its metadata objects. What was read before
// a broken part stays in the fields when EReadError is raised.
void ReadHeader(ByteSpan header, TIDwma& tag) {
  asf::HeaderWalk walk(header);
  asf::ChildObject child;
  while (walk.Next(child)) {
    if (child.id == ContentDescriptionObjectId) {
      asf::ContentDescription content;
      try {
        asf::ContentDescription::Parse(child.Body(), content);
      } catch (const EReadError&) {
        ApplyContentDescription(content, tag);
        throw;
      }
      ApplyContentDescription(content, tag);
    } else if (child.id == ExtendedContentDescriptionObjectId) {
      asf::ExtendedContentDescription::ForEachDescriptor(
          child.Body(), [&](const asf::ContentDescriptor& d) { ApplyDescriptor(d, tag); });
    }
  }
}

// Names under which some writers (ffmpeg among them) keep a copy of one of the tag's fields as a
// descriptor too: the four Content Description strings, and the year as "date". Readers that
// take both (ffmpeg, for one) let the descriptor win, so a stale copy would hide the new text.
struct FieldCopy {
  std::u16string_view name;
  std::u16string TIDwma::*field;
};
const std::array<FieldCopy, 5> kFieldCopies = {{{u"Title", &TIDwma::Title},
                                                {u"Author", &TIDwma::Artist},
                                                {u"Copyright", &TIDwma::Copyright},
                                                {u"Description", &TIDwma::Comment},
                                                {u"date", &TIDwma::Year}}};

bool EqualIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  auto fold = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c; };
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// For a string descriptor that holds a copy of one of the tag's fields (its name one of
// kFieldCopies in any letter case), that field's new text when the save changes the field's
// value (`before` holds the values the old header gave); otherwise nullptr. A copy of a field the
// save leaves as it was keeps its own text: ffmpeg's "date" holds a whole date, of which the year
// field shows only the year.
const std::u16string* CopiedField(const asf::ContentDescriptor& d, const TIDwma& tag,
                                  const TIDwma& before) {
  if (d.type != asf::kTypeString) return nullptr;
  std::u16string name = d.Name();
  for (const FieldCopy& copy : kFieldCopies) {
    if (EqualIgnoringAsciiCase(name, copy.name)) {
      return tag.*copy.field == before.*copy.field ? nullptr : &(tag.*copy.field);
    }
  }
  return nullptr;
}

// Writes a new Extended Content Description Object: the tag's own attributes in table order, then
// the old descriptors that carry a value, as they were. Of the old descriptors under a table name,
// the one that gave a field its value on reading is written again with its own type and bytes
// when it is a number that still reads as the field's text; one that gives no field a value (a
// BOOL, bytes) stays while its field is empty. A copy of a field takes the field's new text when
// the save changes the field to a text that is not empty. False when there are more descriptors
// than a count can hold.
bool WriteExtendedContentDescription(asf::ByteWriter& out, const TIDwma& tag, const TIDwma& before,
                                     const std::vector<asf::ContentDescriptor>& old) {
  // For each table row, the old descriptor whose value the field took on reading, and its text.
  std::array<const asf::ContentDescriptor*, AttributeNames.size()> read{};
  std::array<std::u16string, AttributeNames.size()> readText;
  for (const asf::ContentDescriptor& d : old) {
    const size_t row = AttributeRow(d.name);
    if (row != AttributeNames.size() && FieldText(d, row, readText[row])) read[row] = &d;
  }

  asf::ExtendedContentDescriptionWriter writer(out);
  for (size_t row = 0; row < AttributeNames.size(); ++row) {
    const std::u16string& text = tag.*kAttributeFields[row];
    if (text.empty()) continue;
    if (read[row] != nullptr && KeepsItsType(*read[row], row) && readText[row] == text) {
      writer.AppendDescriptor(*read[row]);
    } else {
      writer.AppendDescriptor(AttributeNames[row], text);
    }
  }
  for (const asf::ContentDescriptor& d : old) {
    if (d.value.size == 0) continue;
    const size_t row = AttributeRow(d.name);
    if (row != AttributeNames.size()) {
      std::u16string unused;
      if (!(tag.*kAttributeFields[row]).empty() || FieldText(d, row, unused)) continue;
    }
    if (writer.count() == asf::kMaxDescriptors) return false;
    const std::u16string* field = CopiedField(d, tag, before);
    if (field != nullptr && !field->empty()) {
      asf::ByteWriter value;
      value.WriteUtf16(*field);
      writer.AppendDescriptor(
          asf::ContentDescriptor{d.name, d.type, ByteSpan{value.bytes().data(), value.Position()}});
    } else {
      writer.AppendDescriptor(d);
    }
  }
  return writer.Finish();
}

// The Rating string of the old header's Content Description Objects: the last one that is not
// empty, as reading takes the other four strings. A broken object gives what was read of it.
std::u16string OldRating(const std::vector<asf::ChildObject>& children) {
  std::u16string rating;
  for (const auto& child : children) {
    if (child.id != ContentDescriptionObjectId) continue;
    asf::ContentDescription content;
    try {
      asf::ContentDescription::Parse(child.Body(), content);
    } catch (const EReadError&) {
    }
    std::u16string& text = content.strings[asf::ContentDescription::kRating];
    if (!text.empty() && text.size() <= asf::kMaxTextUnits) rating = std::move(text);
  }
  return rating;
}

bool TextsFit(const TIDwma& tag) {
  for (auto field : kContentFields) {
    if ((tag.*field).size() > asf::kMaxTextUnits) return false;
  }
  for (auto field : kAttributeFields) {
    if ((tag.*field).size() > asf::kMaxTextUnits) return false;
  }
  return true;
}

// The size of a header whose children take `used` bytes, when the old header took `room` bytes:
// `room` when the children fit in it exactly or leave room for a Padding Object (24 bytes at
// least); otherwise the smallest size past `used` plus a Padding Object of kMinGrownPadding
// bytes that keeps `room` modulo `block`, so that the data after the header keeps its offset
// modulo the block size and a replacement can share its blocks.
uint64_t FittedSize(uint64_t used, uint64_t room, uint64_t block) {
  if (used == room || used + asf::kObjectHeadSize <= room) return room;
  const uint64_t least = used + asf::kObjectHeadSize + wma::kMinGrownPadding;
  return least + (room % block + block - least % block) % block;
}

// Writes a Padding Object of `size` bytes (24 at least): its head and zero bytes.
void WritePadding(asf::ByteWriter& out, uint64_t size) {
  out.WriteGuid(PaddingObjectId);
  out.WriteQword(size);
  const std::vector<uint8_t> zeros(static_cast<size_t>(size) - asf::kObjectHeadSize, 0);
  out.WriteBytes(zeros.data(), zeros.size());
}

// The File Properties Object, whose File Size field holds the whole file's size, and where in it
// that field and the Flags field lie; a Broadcast flag says that the File Size is not valid.
const std::array<uint8_t, 16> kFilePropertiesObjectId = {
    0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr size_t kFileSizeAt = 40;
constexpr size_t kFlagsAt = 88;
constexpr uint32_t kBroadcastFlag = 0x1;

// The File Size field of a File Properties Object copied to `at` in `out`, moved by the header's
// change of size, so that it keeps telling the file's size (readers such as ffmpeg work out the
// duration from it). Left alone in an object too short to hold its fields, under the Broadcast
// flag, and where the result would not be a size.
void ShiftFileSize(asf::ByteWriter& out, size_t at, int64_t change) {
  asf::ByteReader fields(out.bytes().data() + at, kFlagsAt + 4);
  fields.Skip(kFileSizeAt);
  const uint64_t fileSize = fields.ReadQword();
  fields.Skip(kFlagsAt - kFileSizeAt - 8);
  if ((fields.ReadDword() & kBroadcastFlag) ||
      fileSize > uint64_t(std::numeric_limits<int64_t>::max()) ||
      static_cast<int64_t>(fileSize) + change < 0) {
    return;
  }
  out.PatchQword(at + kFileSizeAt, static_cast<uint64_t>(static_cast<int64_t>(fileSize) + change));
}

// Builds the header that replaces `old` (a whole header): its first 30 bytes, a new Content
// Description Object first (the old Rating carried over), each Extended Content Description Object
// rebuilt in its place (one added after the Content Description Object when there was none), the
// old Content Description and Padding Objects left out, every other child copied byte for byte, and
// last a Padding Object that gives the header the size FittedSize() chooses (none when the children
// fill the old room exactly); then the Object Size and the Number of Header Objects set to what was
// written, and the File Size of the File Properties Object moved by the header's change of size.
// False when the tag does not fit the header's fields; EReadError when the old header is broken.
bool RenderHeader(ByteSpan old, const TIDwma& tag, uint64_t block, std::vector<uint8_t>& rendered) {
  std::vector<asf::ChildObject> children;
  asf::HeaderWalk walk(old);
  for (asf::ChildObject child; walk.Next(child);) children.push_back(child);
  if (!TextsFit(tag)) return false;
  // The fields as the old header gives them, for the copies that follow a field only when the
  // save changes it. A broken object leaves what was read before it.
  TIDwma before;
  try {
    ReadHeader(old, before);
  } catch (const EReadError&) {
  }

  bool hasExtended = false;
  for (const auto& child : children) {
    hasExtended = hasExtended || child.id == ExtendedContentDescriptionObjectId;
  }

  asf::ByteWriter out;
  out.WriteBytes(old.data, asf::kHeaderStartSize);
  uint64_t written = 0;

  asf::ContentDescription content;
  for (size_t i = 0; i < kContentFields.size(); ++i) content.strings[i] = tag.*kContentFields[i];
  content.strings[asf::ContentDescription::kRating] = OldRating(children);
  content.Render(out);
  ++written;
  if (!hasExtended) {
    if (!WriteExtendedContentDescription(out, tag, before, {})) return false;
    ++written;
  }
  std::vector<size_t> fileProperties;  // where each File Properties Object was copied to
  for (const auto& child : children) {
    if (child.id == ContentDescriptionObjectId || child.id == PaddingObjectId) continue;
    if (child.id == kFilePropertiesObjectId && child.bytes.size >= kFlagsAt + 4) {
      fileProperties.push_back(out.Position());
    }
    if (child.id == ExtendedContentDescriptionObjectId) {
      asf::ExtendedContentDescription extended;
      asf::ExtendedContentDescription::Parse(child.Body(), extended);
      if (!WriteExtendedContentDescription(out, tag, before, extended.descriptors)) return false;
    } else {
      out.WriteBytes(child.bytes);
    }
    ++written;
  }
  const uint64_t size = FittedSize(out.Position(), old.size, block);
  if (size != out.Position()) {
    WritePadding(out, size - out.Position());
    ++written;
  }
  if (written > std::numeric_limits<uint32_t>::max()) return false;
  out.PatchQword(asf::kObjectSizeAt, out.Position());
  out.PatchDword(asf::kChildCountAt, static_cast<uint32_t>(written));
  const int64_t change = static_cast<int64_t>(out.Position()) - static_cast<int64_t>(old.size);
  if (change != 0) {
    for (size_t at : fileProperties) ShiftFileSize(out, at, change);
  }
  rendered = out.Take();
  return true;
}

}  // namespace

void TIDwma::Clear() {
  Version.clear();
  HeaderSize = 0;
  Title.clear();
  Artist.clear();
  Copyright.clear();
  Comment.clear();
  Album.clear();
  Year.clear();
  Genre.clear();
  Track.clear();
  WmTrack.clear();
  UserUrl.clear();
  Url.clear();
  Lyrics.clear();
  EncodedBy.clear();
}

void TIDwma::SetTitle(std::u16string_view text) { Title = TrimTrailing(text); }
void TIDwma::SetArtist(std::u16string_view text) { Artist = TrimTrailing(text); }
void TIDwma::SetCopyright(std::u16string_view text) { Copyright = TrimTrailing(text); }
void TIDwma::SetComment(std::u16string_view text) { Comment = TrimTrailing(text); }
void TIDwma::SetAlbum(std::u16string_view text) { Album = TrimTrailing(text); }
void TIDwma::SetYear(std::u16string_view text) { Year = TrimTrailing(text); }
void TIDwma::SetGenre(std::u16string_view text) { Genre = TrimTrailing(text); }
void TIDwma::SetTrack(std::u16string_view text) { Track = TrimTrailing(text); }
void TIDwma::SetUserUrl(std::u16string_view text) { UserUrl = TrimTrailing(text); }
void TIDwma::SetUrl(std::u16string_view text) { Url = TrimTrailing(text); }
void TIDwma::SetLyrics(std::u16string_view text) { Lyrics = TrimTrailing(text); }
void TIDwma::SetEncodedBy(std::u16string_view text) { EncodedBy = TrimTrailing(text); }
void TIDwma::SetVersion(std::u16string_view text) { Version = TrimTrailing(text); }

bool TIDwma::ReadFromFile(const std::string& path) {
  Clear();
  platform::File file;
  if (!OpenExisting(file, path)) return false;
  std::array<uint8_t, kFirstRead> first;  // only the bytes read are ever looked at
  const size_t count = ReadFirst(file, first.data());
  int64_t headerSize = 0;
  if (Identify(first.data(), count, headerSize) != asf::FileStart::kHeader) return false;
  HeaderSize = headerSize;
  std::vector<uint8_t> storage;
  const ByteSpan header = WholeHeader(file, headerSize, first.data(), count, storage);
  file.Close();
  ReadHeader(header, *this);
  return true;
}

bool TIDwma::SaveToFile(const std::string& path) {
  wma::SavePlan plan;
  return PlanSave(path, plan) && wma::ReplaceFile(path, plan);
}

bool TIDwma::PlanSave(const std::string& path, wma::SavePlan& plan) {
  platform::File source;
  if (!OpenExisting(source, path)) return false;
  return PlanSave(source, plan);
}

bool TIDwma::PlanSave(const platform::File& source, wma::SavePlan& plan) {
  std::array<uint8_t, kFirstRead> first;
  const size_t count = ReadFirst(source, first.data());
  int64_t headerSize = 0;
  const asf::FileStart start = Identify(first.data(), count, headerSize);
  if (start == asf::FileStart::kTooShort) return false;
  HeaderSize = headerSize;
  if (start != asf::FileStart::kHeader) return false;

  std::vector<uint8_t> storage;
  const ByteSpan old = WholeHeader(source, headerSize, first.data(), count, storage);
  if (storage.empty()) storage.assign(old.data, old.data + old.size);
  return PlanFromHeader(std::move(storage), source.SizeAtOpen(), source.BlockSizeAtOpen(), plan);
}

bool TIDwma::ReadFromOpenFile(const platform::File& file, std::vector<uint8_t>& header) {
  Clear();
  std::array<uint8_t, kFirstRead> first;
  const size_t count = ReadFirst(file, first.data());
  int64_t headerSize = 0;
  if (Identify(first.data(), count, headerSize) != asf::FileStart::kHeader) return false;
  HeaderSize = headerSize;
  std::vector<uint8_t> storage;
  const ByteSpan whole = WholeHeader(file, headerSize, first.data(), count, storage);
  if (storage.empty()) storage.assign(whole.data, whole.data + whole.size);
  header = std::move(storage);
  ReadHeader(ByteSpan{header.data(), header.size()}, *this);
  return true;
}

bool TIDwma::PlanFromHeader(std::vector<uint8_t> header, int64_t fileSize, int64_t blockSize,
                            wma::SavePlan& plan) {
  const uint64_t block = static_cast<uint64_t>(platform::ShareableBlock(blockSize));
  if (!RenderHeader(ByteSpan{header.data(), header.size()}, *this, block, plan.newHeader)) {
    return false;
  }
  plan.oldHeader = std::move(header);
  plan.fileSize = fileSize;
  return true;
}

namespace wma {

bool ReadFromImage(TIDwma& tag, const uint8_t* data, size_t size) {
  tag.Clear();
  int64_t headerSize = 0;
  ByteSpan first{data, std::min<size_t>(size, asf::kHeaderStartSize)};
  if (asf::IdentifyStart(first, headerSize) != asf::FileStart::kHeader) return false;
  tag.HeaderSize = headerSize;
  asf::CheckHeaderSize(headerSize, static_cast<int64_t>(size));
  ReadHeader(ByteSpan{data, static_cast<size_t>(headerSize)}, tag);
  return true;
}

namespace {

// Opens `path` for the write of a plan: the file must still have the plan's size and begin with
// its old header. False (errno set) otherwise.
bool OpenAsPlanned(platform::File& file, const std::string& path, const SavePlan& plan,
                   bool readWrite) {
  if (!(readWrite ? file.OpenReadWrite(path) : file.OpenRead(path))) return false;
  std::vector<uint8_t> now(plan.oldHeader.size());
  if (file.SizeAtOpen() == plan.fileSize) {
    if (!file.ReadAt(0, now.data(), now.size())) return false;  // errno tells the read's failure
    if (now == plan.oldHeader) return true;
  }
  errno = ESTALE;  // changed since the plan was made
  return false;
}

}  // namespace

bool ReplaceFile(const std::string& path, const SavePlan& plan) {
  platform::File source;
  if (!OpenAsPlanned(source, path, plan, false)) return false;
  const int64_t oldSize = static_cast<int64_t>(plan.oldHeader.size());
  platform::ReplacementFile replacement;
  // The old file is closed before the new one takes its place: Windows renames over an open
  // file only where it has POSIX rename semantics.
  const bool ok = replacement.Begin(path) &&
                  replacement.Write(plan.newHeader.data(), plan.newHeader.size()) &&
                  replacement.CopyFrom(source, oldSize, plan.fileSize - oldSize) &&
                  source.Close() && replacement.Commit();
  if (!ok) errno = replacement.error() != 0 ? replacement.error() : source.error();
  return ok;
}

int WriteHeaderInPlace(platform::File& file, int64_t at, asf::ByteSpan oldBytes,
                       asf::ByteSpan newBytes, bool flush, const std::function<bool()>& check) {
  if (oldBytes.size != newBytes.size || at < 0) return EINVAL;
  if (int err = file.RefusesChange()) return err;
  const bool written = newBytes.size == 0 || file.WriteAt(at, newBytes.data, newBytes.size);
  const bool checked = written && (!check || check());
  if (checked && (!flush || file.SyncData())) return 0;
  const int err = written && !checked ? EIO : file.error() != 0 ? file.error() : EIO;
  // Put the old bytes back; where even that fails, the caller's record of them remains.
  if (oldBytes.size == 0 || file.WriteAt(at, oldBytes.data, oldBytes.size)) file.SyncData();
  return err;
}

}  // namespace wma
