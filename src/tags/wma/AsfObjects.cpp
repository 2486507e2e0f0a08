#include "tags/wma/AsfObjects.h"

#include "tags/wma/TWmaTag.h"

namespace asf {

FileStart IdentifyStart(ByteSpan first, int64_t& headerSize) {
  if (first.size < kObjectHeadSize) return FileStart::kTooShort;
  ByteReader reader(first);
  Guid id = reader.ReadGuid();
  headerSize = static_cast<int64_t>(reader.ReadQword());
  return id == HeaderObjectId ? FileStart::kHeader : FileStart::kOther;
}

void CheckHeaderSize(int64_t headerSize, int64_t fileSize) {
  if (headerSize < static_cast<int64_t>(kHeaderStartSize) || headerSize > kMaxHeaderSize ||
      headerSize > fileSize) {
    throw EReadError();
  }
}

ByteReader ChildObject::Body() const {
  return ByteReader(bytes.data + kObjectHeadSize, bytes.size - kObjectHeadSize);
}

HeaderWalk::HeaderWalk(ByteSpan header) : reader_(header), header_(header) {
  reader_.Skip(kHeaderStartSize);
}

bool HeaderWalk::Next(ChildObject& child) {
  if (reader_.Remaining() == 0) return false;
  size_t offset = reader_.Position();
  ByteReader head = reader_;
  Guid id = head.ReadGuid();
  uint64_t size = head.ReadQword();
  if (size < kObjectHeadSize || size > reader_.Remaining()) throw EReadError();
  child.id = id;
  child.offset = offset;
  child.bytes = reader_.ReadBytes(static_cast<size_t>(size));
  return true;
}

void ContentDescription::Parse(ByteReader body, ContentDescription& into) {
  std::array<uint16_t, 5> lengths;
  for (uint16_t& length : lengths) length = body.ReadWord();
  for (size_t i = 0; i < lengths.size(); ++i) into.strings[i] = body.ReadUtf16(lengths[i]);
}

void ContentDescription::Render(ByteWriter& out) const {
  size_t start = out.Position();
  out.WriteGuid(ContentDescriptionObjectId);
  out.WriteQword(0);
  for (const std::u16string& s : strings) {
    out.WriteWord(s.empty() ? 0 : static_cast<uint16_t>(StringLength(s)));
  }
  for (const std::u16string& s : strings) {
    if (!s.empty()) out.WriteUtf16(s);
  }
  out.PatchQword(start + kObjectSizeAt, out.Position() - start);
}

ContentDescriptor ContentDescriptor::Parse(ByteReader& body) {
  ContentDescriptor d;
  d.name = body.ReadBytes(body.ReadWord());
  d.type = body.ReadWord();
  d.value = body.ReadBytes(body.ReadWord());
  return d;
}

void ContentDescriptor::Render(ByteWriter& out) const {
  if (name.size == 0) {
    out.WriteWord(2);
    out.WriteWord(0);
  } else {
    out.WriteWord(static_cast<uint16_t>(name.size));
    out.WriteBytes(name);
  }
  out.WriteWord(type);
  out.WriteWord(static_cast<uint16_t>(value.size));
  out.WriteBytes(value);
}

void ExtendedContentDescription::Parse(ByteReader body, ExtendedContentDescription& into) {
  ForEachDescriptor(body, [&](const ContentDescriptor& d) { into.descriptors.push_back(d); });
}

ExtendedContentDescriptionWriter::ExtendedContentDescriptionWriter(ByteWriter& out)
    : out_(out), start_(out.Position()) {
  out_.WriteGuid(ExtendedContentDescriptionObjectId);
  out_.WriteQword(0);
  out_.WriteWord(0);
}

void ExtendedContentDescriptionWriter::AppendDescriptor(std::u16string_view name,
                                                        std::u16string_view text) {
  out_.WriteWord(static_cast<uint16_t>(StringLength(name)));
  out_.WriteUtf16(name);
  out_.WriteWord(kTypeString);
  out_.WriteWord(static_cast<uint16_t>(StringLength(text)));
  out_.WriteUtf16(text);
  ++count_;
}

void ExtendedContentDescriptionWriter::AppendDescriptor(const ContentDescriptor& descriptor) {
  descriptor.Render(out_);
  ++count_;
}

bool ExtendedContentDescriptionWriter::Finish() {
  if (count_ > kMaxDescriptors) return false;
  out_.PatchQword(start_ + kObjectSizeAt, out_.Position() - start_);
  out_.PatchWord(start_ + kObjectHeadSize, static_cast<uint16_t>(count_));
  return true;
}

}  // namespace asf
