#include "tags/id3v2/TId3v2Tag.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/File.h"
#include "platform/ReplacementFile.h"
#include "tags/id3v2/Id3v2Codec.h"
#include "tags/id3v2/Id3v2Layout.h"
#include "tags/mp3/TMp3Tag.h"

namespace id3v2 {

namespace {

using layout::Frame;
using layout::HeaderKind;
using layout::Span;
using layout::TagHeader;

// ---- Which frame holds which field

struct FieldFrameId {
  const char* id;    // 2.3 and 2.4
  const char* id22;  // 2.2
  Field field;
};
constexpr FieldFrameId kFieldFrames[] = {
    {"TIT2", "TT2", kTitle}, {"TPE1", "TP1", kArtist}, {"TALB", "TAL", kAlbum},
    {"TYER", "TYE", kYear},  {"TDRC", "", kYear},      {"COMM", "COM", kComment},
    {"TRCK", "TRK", kTrack}, {"TCON", "TCO", kGenre},
};

// The field a frame identifier names, and its rank: where two frames hold the same field (TYER
// and TDRC), the frame of the lower rank gives the value (TDRC in a 2.4 tag, TYER otherwise).
bool FieldOfId(std::string_view id, int version, Field& field, int& rank) {
  for (const FieldFrameId& f : kFieldFrames) {
    if (id == (version == 2 ? f.id22 : f.id)) {
      field = f.field;
      rank = (id == "TDRC") == (version == 4) ? 0 : 1;
      if (field != kYear) rank = 0;
      return true;
    }
  }
  return false;
}

bool IsCommentId(std::string_view id) { return id == "COMM" || id == "COM"; }

// ---- Frame bodies

enum class BodyKind {
  kPlain,   // the body's bytes are the frame's content
  kTagLib,  // compressed: only TagLib reads it
  kNone,    // encrypted, or too short for what its flags announce
};

// The content of a frame's body as a reader sees it: past the bytes its format flags add (group,
// encryption method, data length, decompressed size) and resynchronised when the frame, or a 2.4
// tag as a whole, is unsynchronised.
BodyKind PlainBody(const Frame& frame, int version, uint8_t tagFlags, std::vector<uint8_t>& scratch,
                   Span& body) {
  const uint8_t format = uint8_t(frame.flags & 0xFF);
  size_t extra = 0;
  bool compressed, encrypted, unsync = false;
  if (version == 3) {
    compressed = format & 0x80;
    encrypted = format & 0x40;
    extra = (compressed ? 4 : 0) + (encrypted ? 1 : 0) + ((format & 0x20) ? 1 : 0);
  } else if (version == 4) {
    compressed = format & 0x08;
    encrypted = format & 0x04;
    unsync = (format & 0x02) || (tagFlags & layout::kFlagUnsync);
    extra = ((format & 0x40) ? 1 : 0) + (encrypted ? 1 : 0) + ((format & 0x01) ? 4 : 0);
  } else {
    compressed = encrypted = false;
  }
  if (encrypted) return BodyKind::kNone;
  if (compressed) return BodyKind::kTagLib;
  if (frame.body.size < extra) return BodyKind::kNone;
  body = frame.body.From(extra);
  if (unsync) {
    scratch = layout::Resynchronise(body);
    body = Span{scratch.data(), scratch.size()};
  }
  return BodyKind::kPlain;
}

bool IsAscii(Span bytes) {
  return std::all_of(bytes.data, bytes.data + bytes.size, [](uint8_t b) { return b < 0x80; });
}

// Sets a field's value from a string's bytes, reusing the value's room.
void SetValue(uint8_t encoding, Span bytes, FieldValue& value) {
  if (encoding == layout::kLatin1) {
    value.kind = FieldValue::kLatin1;
    value.latin1.assign(reinterpret_cast<const char*>(bytes.data), bytes.size);
    value.text.clear();
  } else {
    value.kind = FieldValue::kUnicode;
    layout::DecodeUnicode(encoding, bytes, value.text);
    value.latin1.clear();
  }
}

// Whether a string's bytes hold no text: none at all, or a byte order mark alone.
bool IsEmptyString(uint8_t encoding, Span bytes) {
  switch (encoding) {
    case layout::kUtf16:
      return bytes.size < 2 ||
             (bytes.size < 4 && ((bytes.data[0] == 0xFF && bytes.data[1] == 0xFE) ||
                                 (bytes.data[0] == 0xFE && bytes.data[1] == 0xFF)));
    case layout::kUtf16Be:
      return bytes.size < 2;
    case layout::kUtf8:
      return bytes.size == 0 ||
             (bytes.size == 3 && std::memcmp(bytes.data, "\xEF\xBB\xBF", 3) == 0);
    default:
      return bytes.size == 0;
  }
}

// Reads a text frame's first value, or a comment frame's text, from the frame's content into
// `value`; `emptyDescription` tells whether a comment's description is empty, and a comment whose
// description is not leaves `value` as it was. False for content that holds no encoding byte we
// know.
bool ValueFromBody(Span body, bool comment, FieldValue& value, bool& emptyDescription) {
  if (body.size < 1 || body.data[0] > layout::kUtf8) return false;
  const uint8_t encoding = body.data[0];
  Span rest = body.From(1);
  emptyDescription = true;
  if (comment) {
    if (rest.size < 3) return false;
    Span description;
    layout::SplitString(encoding, rest.From(3), description, rest);
    emptyDescription = IsEmptyString(encoding, description);
    if (!emptyDescription) return true;
  }
  Span first, unused;
  layout::SplitString(encoding, rest, first, unused);
  SetValue(encoding, first, value);
  return true;
}

// Reads a frame as a field value, through TagLib when only TagLib can read it; as ValueFromBody.
bool ValueOfFrame(const Frame& frame, int version, uint8_t tagFlags, FieldValue& value,
                  bool& emptyDescription) {
  std::vector<uint8_t> scratch;
  Span body;
  switch (PlainBody(frame, version, tagFlags, scratch, body)) {
    case BodyKind::kPlain:
      return ValueFromBody(body, IsCommentId(frame.id), value, emptyDescription);
    case BodyKind::kTagLib: {
      FieldValue read;
      if (!codec::ReadWithTagLib(frame.whole, version, read, emptyDescription)) return false;
      if (emptyDescription) value = std::move(read);
      return true;
    }
    case BodyKind::kNone:
      break;
  }
  return false;
}

// ---- Genres

// The genre name that the reference text[begin, end) stands for ("13", "RX", "CR"); false when it
// is none.
template <typename Text>
bool Reference(const Text& text, size_t begin, size_t end, Text& name) {
  const size_t length = end - begin;
  unsigned n = 0;
  bool digits = length >= 1 && length <= 3;
  for (size_t i = begin; digits && i < end; ++i) {
    digits = text[i] >= '0' && text[i] <= '9';
    n = 10 * n + unsigned(text[i] - '0');
  }
  const char* word = nullptr;
  if (digits) {
    if (n >= ID3Genres.size()) return false;
    name.assign(ID3Genres[n].begin(), ID3Genres[n].end());
    return true;
  }
  if (length == 2 && text[begin] == 'R' && text[begin + 1] == 'X') word = "Remix";
  if (length == 2 && text[begin] == 'C' && text[begin + 1] == 'R') word = "Cover";
  if (word == nullptr) return false;
  name.assign(word, word + 5);
  return true;
}

// Resolves a genre's references to genre numbers in place: "13" and "(13)" give "Pop";
// "(4)Eurodisco" gives its refinement "Eurodisco"; "((text" is the text "(text".
template <typename Text>
void ResolveGenre(Text& text) {
  if (text.empty() || !(text[0] == '(' || (text[0] >= '0' && text[0] <= '9'))) return;
  Text name;
  if (Reference(text, 0, text.size(), name)) {
    text = std::move(name);
    return;
  }
  size_t at = 0;
  Text first;
  while (at < text.size() && text[at] == '(') {
    if (at + 1 < text.size() && text[at + 1] == '(') break;
    const size_t close = text.find(')', at);
    if (close == Text::npos || !Reference(text, at + 1, close, name)) break;
    if (first.empty()) first = name;
    at = close + 1;
  }
  if (at + 1 < text.size() && text[at] == '(' && text[at + 1] == '(') ++at;
  if (at == text.size() && !first.empty()) {
    text = std::move(first);
  } else {
    text.erase(0, at);
  }
}

void ResolveGenre(FieldValue& value) {
  if (value.kind == FieldValue::kLatin1) ResolveGenre(value.latin1);
  if (value.kind == FieldValue::kUnicode) ResolveGenre(value.text);
}

// ---- Reading

// The first read of a file takes this many bytes: the header and the text frames of nearly every
// tag, so that one read serves.
constexpr size_t kFirstRead = 4096;

// Where the reader finds a tag's bytes: the first bytes of the file, already read, and the file
// itself for the rest (none when the whole file is in memory).
class Source {
 public:
  Source(const platform::File* file, Span first, int64_t fileSize)
      : file_(file), first_(first), fileSize_(fileSize) {}

  int64_t fileSize() const { return fileSize_; }

  // `count` bytes at `offset`: inside the first bytes when they hold them, else read into
  // `scratch`. False when the file does not hold them or cannot be read.
  bool Get(int64_t offset, size_t count, std::vector<uint8_t>& scratch, Span& out) const {
    if (offset < 0 || offset + static_cast<int64_t>(count) > fileSize_) return false;
    if (static_cast<size_t>(offset) + count <= first_.size) {
      out = first_.Sub(static_cast<size_t>(offset), count);
      return true;
    }
    if (file_ == nullptr) return false;
    scratch.resize(count);
    if (!file_->ReadAt(offset, scratch.data(), count)) return false;
    out = Span{scratch.data(), count};
    return true;
  }

 private:
  const platform::File* file_;
  Span first_;
  int64_t fileSize_;
};

// Collects the fields from frames as the walk meets them.
class FieldCollector {
 public:
  FieldCollector(int version, uint8_t tagFlags) : version_(version), tagFlags_(tagFlags) {
    ranks_.fill(2);
  }

  // Whether a frame of this identifier may give a field a value the collector still lacks.
  bool Wants(std::string_view id, Field& field, int& rank) const {
    return FieldOfId(id, version_, field, rank) && rank < ranks_[field];
  }

  // Whether every field has its value from a frame no later frame can beat.
  bool Complete() const {
    return std::all_of(ranks_.begin(), ranks_.end(), [](int rank) { return rank == 0; });
  }

  void Take(const Frame& frame, Field field, int rank, TagInfo& tag) {
    FieldValue& value = tag.fields[field];
    bool emptyDescription = true;
    if (!ValueOfFrame(frame, version_, tagFlags_, value, emptyDescription) || !emptyDescription) {
      return;
    }
    if (field == kGenre) ResolveGenre(value);
    ranks_[field] = rank;
  }

 private:
  int version_;
  uint8_t tagFlags_;
  std::array<int, kFieldCount> ranks_;
};

// The walk of a tag that is not unsynchronised: frame by frame, each frame header fetched where
// it lies and the body of only the frames that hold a field, so that a cover is never read.
void ReadFramesSparse(const Source& source, const TagHeader& header, TagInfo& tag) {
  const int version = header.version;
  const int64_t end = int64_t{layout::kHeaderSize} + header.size;
  int64_t at = layout::kHeaderSize;
  std::vector<uint8_t> scratch;
  Span bytes;
  if (version >= 3 && (header.flags & layout::kFlagExtended)) {
    // The extended header's size: plain and counting the bytes after it in 2.3, syncsafe and
    // counting itself in 2.4.
    if (!source.Get(at, 4, scratch, bytes)) return;
    if (version == 3) {
      at += 4 + layout::PlainInt(bytes.data, 4);
    } else {
      if (!layout::IsSyncsafe(bytes.data, 4)) return;
      at += std::max<uint32_t>(layout::SyncsafeInt(bytes.data, 4), 6);
    }
  }
  const size_t headSize = layout::FrameHeaderSize(version);
  FieldCollector collector(version, header.flags);
  while (at + static_cast<int64_t>(headSize) <= end && !collector.Complete()) {
    if (!source.Get(at, headSize, scratch, bytes) || bytes.data[0] == 0) return;
    layout::FrameHead head;
    if (!layout::ParseFrameHead(bytes.data, version, true, head)) return;
    const int64_t next = at + static_cast<int64_t>(headSize) + head.size;
    if (next > end) return;
    Field field;
    int rank;
    if (collector.Wants(head.id, field, rank)) {
      const std::string id(head.id);  // the head's bytes may be replaced by the body's fetch
      Span whole;
      if (!source.Get(at, static_cast<size_t>(next - at), scratch, whole)) return;
      Frame frame{id, head.flags, whole, whole.From(headSize)};
      collector.Take(frame, field, rank, tag);
    }
    at = next;
  }
}

// Empties a tag's record, keeping the room its texts took, for the next file's.
void Reset(TagInfo& tag) {
  tag.presence = Presence::kNone;
  tag.version = 0;
  tag.size = 0;
  for (FieldValue& value : tag.fields) {
    value.kind = FieldValue::kAbsent;
    value.latin1.clear();
    value.text.clear();
  }
}

// Reads the tag at the start of `source`. False when the file could not be read.
bool ReadTag(const Source& source, TagInfo& tag) {
  Reset(tag);
  std::vector<uint8_t> scratch;
  Span first;
  if (!source.Get(0, static_cast<size_t>(std::min<int64_t>(source.fileSize(), 10)), scratch,
                  first)) {
    return false;
  }
  TagHeader header;
  switch (layout::ParseHeader(first, header)) {
    case HeaderKind::kNone:
      return true;
    case HeaderKind::kUnreadable:
      tag.presence = Presence::kUnreadable;
      tag.version = first.size > 3 ? first.data[3] : 0;
      return true;
    case HeaderKind::kTag:
      break;
  }
  tag.version = header.version;
  if (header.RegionSize() > source.fileSize() || header.RegionSize() > kMaxTagSize) {
    tag.presence = Presence::kUnreadable;
    return true;
  }
  tag.presence = Presence::kTag;
  tag.size = header.RegionSize();
  if (!(header.flags & layout::kFlagUnsync) || header.version == 4) {
    ReadFramesSparse(source, header, tag);
    return true;
  }
  // An unsynchronised 2.2 or 2.3 tag is resynchronised as a whole before its frames can be found.
  std::vector<uint8_t> whole;
  Span region;
  if (!source.Get(0, static_cast<size_t>(header.RegionSize()), whole, region)) return false;
  layout::Layout parsed;
  layout::ParseLayout(region, false, parsed);
  FieldCollector collector(header.version, header.flags);
  for (const Frame& frame : parsed.frames) {
    Field field;
    int rank;
    if (collector.Wants(frame.id, field, rank)) collector.Take(frame, field, rank, tag);
  }
  return true;
}

// Opens a file and reads its first bytes into `first`.
bool OpenAndReadFirst(const std::string& path, platform::File& file,
                      std::array<uint8_t, kFirstRead>& first, size_t& count) {
  if (!file.OpenRead(path)) return false;
  count = static_cast<size_t>(std::min<int64_t>(file.SizeAtOpen(), kFirstRead));
  return file.ReadAt(0, first.data(), count);
}

// ---- Rendering

// A tag's frames made ready for a render: a 2.2 tag converted to 2.3 first.
struct Prepared {
  layout::Layout layout;
  std::vector<uint8_t> converted;  // the 2.3 tag of a 2.2 one
  int64_t oldSize = 0;
};

Result Prepare(const std::vector<uint8_t>& old, Prepared& prepared) {
  prepared.oldSize = static_cast<int64_t>(old.size());
  if (prepared.oldSize > kMaxTagSize) return Result::kRefused;
  const Span region{old.data(), old.size()};
  TagHeader header;
  if (layout::ParseHeader(region, header) == HeaderKind::kNone) return Result::kNoTag;
  if (!layout::ParseLayout(region, true, prepared.layout)) return Result::kRefused;
  if (header.version != 2) return Result::kOk;
  // TagLib turns a 2.2 tag into a 2.3 one; it must keep every frame.
  const size_t frames = prepared.layout.frames.size();
  if (!codec::ConvertTo23(region, frames, prepared.converted) ||
      !layout::ParseLayout(Span{prepared.converted.data(), prepared.converted.size()}, true,
                           prepared.layout) ||
      prepared.layout.frames.size() < frames) {
    return Result::kRefused;
  }
  return Result::kOk;
}

// The flags a rewritten tag keeps: the experimental mark, and in 2.4 the unsynchronisation of its
// frames (each frame copied keeps its own bytes, so their meaning must not change). The extended
// header and the footer are dropped, and a 2.3 tag is written resynchronised.
uint8_t KeptFlags(const TagHeader& old, int version) {
  if (old.version == 2) return 0;
  const uint8_t kept =
      version == 4 ? (layout::kFlagUnsync | layout::kFlagExperimental) : layout::kFlagExperimental;
  return old.flags & kept;
}

// The whole tag: header, frames and padding, sized as RenderUpdate says. False when it would
// pass the largest size a tag header can give.
bool Assemble(int version, uint8_t flags, const std::vector<uint8_t>& frames, int64_t oldSize,
              int64_t block, std::vector<uint8_t>& tag) {
  const int64_t used = int64_t{layout::kHeaderSize} + static_cast<int64_t>(frames.size());
  int64_t total = oldSize;
  if (used > oldSize) {
    block = std::max<int64_t>(block, 1);
    const int64_t least = used + kMinGrownPadding;
    total = least + (oldSize % block + block - least % block) % block;
  }
  if (total - int64_t{layout::kHeaderSize} >= (int64_t{1} << 28) || total > kMaxTagSize) {
    return false;
  }
  tag.assign(static_cast<size_t>(total), 0);
  std::memcpy(tag.data(), "ID3", 3);
  tag[3] = uint8_t(version);
  tag[4] = 0;
  tag[5] = flags;
  layout::PutSyncsafeInt(static_cast<uint32_t>(total - int64_t{layout::kHeaderSize}), &tag[6]);
  std::copy(frames.begin(), frames.end(), tag.begin() + layout::kHeaderSize);
  return true;
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}
void Append(std::vector<uint8_t>& out, Span bytes) {
  out.insert(out.end(), bytes.data, bytes.data + bytes.size);
}

// The language of a comment frame's content, when it is three letters.
std::string LanguageOf(const Frame& frame, int version, uint8_t tagFlags) {
  std::vector<uint8_t> scratch;
  Span body;
  if (PlainBody(frame, version, tagFlags, scratch, body) == BodyKind::kPlain && body.size >= 4) {
    const std::string lang(reinterpret_cast<const char*>(body.data + 1), 3);
    if (std::all_of(lang.begin(), lang.end(),
                    [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); })) {
      return lang;
    }
  }
  return "eng";
}

// The frame that holds a field's new text in a tag of `version`.
std::vector<uint8_t> FieldFrame(Field field, const std::u16string& text, int version,
                                const std::string& language) {
  static constexpr const char* kIds[kFieldCount] = {"TIT2", "TPE1", "TALB", "TYER",
                                                    "COMM", "TRCK", "TCON"};
  if (field == kComment) return codec::CommentFrame("COMM", language, u"", text, version);
  const char* id = field == kYear && version == 4 ? "TDRC" : kIds[field];
  return codec::TextFrame(id, {text}, version);
}

// The field whose value a frame holds, when it is one a render may change: any frame of the
// field's identifiers, and of the comments only those with an empty description.
bool ChangeableField(const Frame& frame, int version, uint8_t tagFlags, Field& field) {
  int rank;
  if (!FieldOfId(frame.id, version, field, rank)) return false;
  if (field != kComment) return true;
  FieldValue value;
  bool emptyDescription = false;
  return ValueOfFrame(frame, version, tagFlags, value, emptyDescription) && emptyDescription;
}

// ---- Turning legacy text to Unicode

// The strings of a string list in `encoding`, split at its terminators; a last empty string (a
// terminator) is dropped.
std::vector<Span> SplitAll(uint8_t encoding, Span bytes) {
  std::vector<Span> strings;
  while (bytes.size > 0) {
    Span first;
    layout::SplitString(encoding, bytes, first, bytes);
    strings.push_back(first);
  }
  return strings;
}

// The text of one Latin-1 string: ASCII as it is, other bytes as `decode` gives them. False when
// `decode` refuses; `decoded` is set when it was asked.
bool LegacyString(Span bytes, const LegacyText& decode, std::u16string& text, bool& decoded) {
  if (IsAscii(bytes)) {
    text.assign(bytes.data, bytes.data + bytes.size);
    return true;
  }
  decoded = true;
  return decode(std::string_view(reinterpret_cast<const char*>(bytes.data), bytes.size), text);
}

bool LegacyStrings(const std::vector<Span>& strings, const LegacyText& decode,
                   std::vector<std::u16string>& texts, bool& decoded) {
  texts.resize(strings.size());
  for (size_t i = 0; i < strings.size(); ++i) {
    if (!LegacyString(strings[i], decode, texts[i], decoded)) return false;
  }
  return true;
}

// The texts of a Unicode frame's strings, each replaced by what `mojibake` makes of it where it
// gives something; `decoded` is set when it did for one string at least. False for a string that
// is not valid in its encoding: the frame keeps its bytes.
bool MojibakeStrings(uint8_t encoding, const std::vector<Span>& strings,
                     const MojibakeText& mojibake, std::vector<std::u16string>& texts,
                     bool& decoded) {
  texts.resize(strings.size());
  for (size_t i = 0; i < strings.size(); ++i) {
    texts[i] = layout::DecodeUnicode(encoding, strings[i]);
    if (texts[i].find(u'\uFFFD') != std::u16string::npos) return false;
    std::u16string text;
    if (mojibake(texts[i], text)) {
      texts[i] = std::move(text);
      decoded = true;
    }
  }
  return true;
}

// The texts of a frame's strings as the conversion makes them: a Latin-1 frame's when `decode`
// accepts each of its strings beyond ASCII, a Unicode frame's when `mojibake` (if given) turns one
// of them at least into other text; false when the frame stays as it is.
bool ConvertStrings(uint8_t encoding, const std::vector<Span>& strings, const LegacyText& decode,
                    const MojibakeText& mojibake, std::vector<std::u16string>& texts) {
  bool decoded = false;
  if (encoding == layout::kLatin1) {
    return LegacyStrings(strings, decode, texts, decoded) && decoded;
  }
  if (!mojibake) return false;
  return MojibakeStrings(encoding, strings, mojibake, texts, decoded) && decoded;
}

// The Unicode frame that replaces a text, comment or lyrics frame whose legacy strings the
// conversion reads; false for any other frame, which stays as it is.
bool ConvertFrame(const Frame& frame, int version, uint8_t tagFlags, const LegacyText& decode,
                  const MojibakeText& mojibake, std::vector<uint8_t>& converted) {
  const std::string id(frame.id);
  const bool commentLike = id == "COMM" || id == "USLT";
  if (!(commentLike || id[0] == 'T')) return false;
  std::vector<uint8_t> scratch;
  Span body;
  if (PlainBody(frame, version, tagFlags, scratch, body) != BodyKind::kPlain || body.size < 1 ||
      body.data[0] > layout::kUtf8 || (body.data[0] != layout::kLatin1 && !mojibake)) {
    return false;
  }
  const uint8_t encoding = body.data[0];
  std::vector<std::u16string> texts;
  if (commentLike) {
    if (body.size < 4) return false;
    const std::string language(reinterpret_cast<const char*>(body.data + 1), 3);
    Span description, text, unused;
    layout::SplitString(encoding, body.From(4), description, text);
    layout::SplitString(encoding, text, text, unused);
    if (!ConvertStrings(encoding, {description, text}, decode, mojibake, texts)) return false;
    converted = codec::CommentFrame(id, language, texts[0], texts[1], version);
    return true;
  }
  const std::vector<Span> strings = SplitAll(encoding, body.From(1));
  if (strings.empty() || !ConvertStrings(encoding, strings, decode, mojibake, texts)) {
    return false;
  }
  if (id == "TXXX") {
    const std::u16string description = texts.front();
    texts.erase(texts.begin());
    converted = codec::UserTextFrame(description, texts, version);
  } else {
    converted = codec::TextFrame(id, texts, version);
  }
  return true;
}

// ---- Plans

// Opens a file and reads the tag region at its start: `kind` tells what the file begins with;
// `region` holds the whole tag when it is one that can be read.
Result ReadRegion(const std::string& path, platform::File& file, HeaderKind& kind,
                  std::vector<uint8_t>& region) {
  if (!file.OpenRead(path)) return Result::kReadFailed;
  uint8_t first[layout::kHeaderSize];
  const size_t count =
      static_cast<size_t>(std::min<int64_t>(file.SizeAtOpen(), layout::kHeaderSize));
  if (!file.ReadAt(0, first, count)) return Result::kReadFailed;
  TagHeader header;
  kind = layout::ParseHeader(Span{first, count}, header);
  region.clear();
  if (kind != HeaderKind::kTag) return Result::kOk;
  if (header.RegionSize() > file.SizeAtOpen() || header.RegionSize() > kMaxTagSize) {
    kind = HeaderKind::kUnreadable;
    return Result::kOk;
  }
  region.resize(static_cast<size_t>(header.RegionSize()));
  if (!file.ReadAt(0, region.data(), region.size())) return Result::kReadFailed;
  return Result::kOk;
}

int64_t BlockOf(const platform::File& file) {
  return platform::ShareableBlock(file.BlockSizeAtOpen());
}

}  // namespace

// ---- Reading

bool ReadFromFile(const std::string& path, TagInfo& tag) {
  Reset(tag);
  platform::File file;
  return file.OpenRead(path) && ReadFromOpenFile(file, tag);
}

bool ReadFromOpenFile(const platform::File& file, TagInfo& tag) {
  Reset(tag);
  std::array<uint8_t, kFirstRead> first;
  const size_t count = static_cast<size_t>(std::min<int64_t>(file.SizeAtOpen(), kFirstRead));
  if (!file.ReadAt(0, first.data(), count)) return false;
  return ReadTag(Source(&file, Span{first.data(), count}, file.SizeAtOpen()), tag);
}

bool ReadBothTags(const std::string& path, TIDmp3& v1, TagInfo& v2) {
  v1.Clear();
  Reset(v2);
  platform::File file;
  std::array<uint8_t, kFirstRead> first;
  size_t count = 0;
  if (!OpenAndReadFirst(path, file, first, count)) return false;
  const int64_t size = file.SizeAtOpen();
  const bool readV2 = ReadTag(Source(&file, Span{first.data(), count}, size), v2);
  TagBlock block;
  if (size < static_cast<int64_t>(block.size())) {
    errno = EINVAL;
    return false;
  }
  const int64_t at = size - static_cast<int64_t>(block.size());
  if (size <= static_cast<int64_t>(count)) {
    std::memcpy(block.data(), first.data() + at, block.size());
  } else if (!file.ReadAt(at, block.data(), block.size())) {
    return false;
  }
  if (IsTagBlock(block)) {
    v1.HasTag = true;
    DecodeBlock(block, v1);
  }
  return readV2;
}

void ReadFromImage(const uint8_t* data, size_t size, TagInfo& tag) {
  ReadTag(Source(nullptr, Span{data, size}, static_cast<int64_t>(size)), tag);
}

// ---- Rendering

Result RenderUpdate(const std::vector<uint8_t>& old, const Changes& changes, int64_t block,
                    std::vector<uint8_t>& rendered) {
  Prepared prepared;
  if (Result r = Prepare(old, prepared); r != Result::kOk) return r;
  const layout::Layout& layout = prepared.layout;
  const int version = layout.header.version;
  std::vector<uint8_t> frames;
  std::array<bool, kFieldCount> written{};
  for (const Frame& frame : layout.frames) {
    Field field;
    if (!ChangeableField(frame, version, layout.header.flags, field) || !changes[field]) {
      Append(frames, frame.whole);
      continue;
    }
    // The field's first frame gives way to the new one; the field's other frames go.
    if (written[field]) continue;
    written[field] = true;
    if (changes[field]->empty()) continue;
    const std::string language =
        field == kComment ? LanguageOf(frame, version, layout.header.flags) : "";
    Append(frames, FieldFrame(field, *changes[field], version, language));
  }
  for (size_t f = 0; f < kFieldCount; ++f) {
    if (changes[f] && !written[f] && !changes[f]->empty()) {
      Append(frames, FieldFrame(Field(f), *changes[f], version, "eng"));
    }
  }
  return Assemble(version, KeptFlags(layout.header, version), frames, prepared.oldSize, block,
                  rendered)
             ? Result::kOk
             : Result::kRefused;
}

Result RenderConversion(const std::vector<uint8_t>& old, const LegacyText& decode, int64_t block,
                        std::vector<uint8_t>& rendered, size_t& converted,
                        const MojibakeText& mojibake) {
  converted = 0;
  Prepared prepared;
  if (Result r = Prepare(old, prepared); r != Result::kOk) return r;
  const layout::Layout& layout = prepared.layout;
  const int version = layout.header.version;
  std::vector<uint8_t> frames;
  std::vector<uint8_t> unicode;
  for (const Frame& frame : layout.frames) {
    if (ConvertFrame(frame, version, layout.header.flags, decode, mojibake, unicode)) {
      Append(frames, unicode);
      ++converted;
    } else {
      Append(frames, frame.whole);
    }
  }
  return Assemble(version, KeptFlags(layout.header, version), frames, prepared.oldSize, block,
                  rendered)
             ? Result::kOk
             : Result::kRefused;
}

std::vector<uint8_t> RenderNewTag(const Changes& fields, int64_t block) {
  std::vector<uint8_t> frames;
  for (size_t f = 0; f < kFieldCount; ++f) {
    if (fields[f] && !fields[f]->empty()) {
      Append(frames, FieldFrame(Field(f), *fields[f], 3, "eng"));
    }
  }
  std::vector<uint8_t> tag;
  Assemble(3, 0, frames, 0, block, tag);
  return tag;
}

// ---- Plans

Result PlanUpdate(const std::string& path, const Changes& changes, SavePlan& plan) {
  platform::File file;
  HeaderKind kind;
  if (Result r = ReadRegion(path, file, kind, plan.oldTag); r != Result::kOk) return r;
  if (kind == HeaderKind::kNone) return Result::kNoTag;
  if (kind == HeaderKind::kUnreadable) return Result::kRefused;
  plan.fileSize = file.SizeAtOpen();
  return RenderUpdate(plan.oldTag, changes, BlockOf(file), plan.newTag);
}

Result PlanUpdate(const std::string& path, const std::function<Changes(const TagInfo&)>& changesFor,
                  TagInfo& tag, SavePlan& plan) {
  Reset(tag);
  platform::File file;
  HeaderKind kind;
  if (Result r = ReadRegion(path, file, kind, plan.oldTag); r != Result::kOk) return r;
  if (kind == HeaderKind::kNone) return Result::kNoTag;
  if (kind == HeaderKind::kUnreadable) {
    tag.presence = Presence::kUnreadable;
    return Result::kRefused;
  }
  ReadFromImage(plan.oldTag.data(), plan.oldTag.size(), tag);
  plan.fileSize = file.SizeAtOpen();
  const Changes changes = changesFor(tag);
  plan.newTag.clear();
  if (std::none_of(changes.begin(), changes.end(), [](const auto& c) { return c.has_value(); })) {
    return Result::kOk;
  }
  return RenderUpdate(plan.oldTag, changes, BlockOf(file), plan.newTag);
}

Result PlanConversion(const std::string& path, const LegacyText& decode, SavePlan& plan,
                      size_t& converted, const MojibakeText& mojibake, const Changes& added) {
  converted = 0;
  platform::File file;
  HeaderKind kind;
  if (Result r = ReadRegion(path, file, kind, plan.oldTag); r != Result::kOk) return r;
  if (kind == HeaderKind::kNone) return Result::kNoTag;
  if (kind == HeaderKind::kUnreadable) return Result::kRefused;
  plan.fileSize = file.SizeAtOpen();
  const int64_t block = BlockOf(file);
  Result r = RenderConversion(plan.oldTag, decode, block, plan.newTag, converted, mojibake);
  const size_t adding = static_cast<size_t>(
      std::count_if(added.begin(), added.end(), [](const auto& c) { return c.has_value(); }));
  if (r != Result::kOk || adding == 0) return r;
  // The fields come in after the conversion, into the tag it rendered (or the old one when it
  // changed no frame), so that the sizes still differ by whole blocks.
  const std::vector<uint8_t> base = converted > 0 ? std::move(plan.newTag) : plan.oldTag;
  r = RenderUpdate(base, added, block, plan.newTag);
  if (r == Result::kOk) converted += adding;
  return r;
}

Result PlanNewTag(const std::string& path, const Changes& fields, SavePlan& plan) {
  platform::File file;
  HeaderKind kind;
  if (Result r = ReadRegion(path, file, kind, plan.oldTag); r != Result::kOk) return r;
  if (kind != HeaderKind::kNone) return Result::kHasTag;
  plan.fileSize = file.SizeAtOpen();
  plan.newTag = RenderNewTag(fields, BlockOf(file));
  return Result::kOk;
}

}  // namespace id3v2
