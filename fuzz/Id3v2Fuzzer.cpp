// The ID3v2 reader and renders over any bytes: reading must stay inside the bytes; a render that
// succeeds gives a tag that reads back with the new title, at least as large as the old one and
// of the old size when it says it fits; a conversion likewise.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tags/id3v2/TId3v2Tag.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// A render's result must be a whole tag that reads back.
void CheckRendered(const std::vector<uint8_t>& old, const std::vector<uint8_t>& rendered,
                   const std::u16string* title) {
  Check(rendered.size() >= old.size());
  id3v2::TagInfo back;
  id3v2::ReadFromImage(rendered.data(), rendered.size(), back);
  Check(back.presence == id3v2::Presence::kTag && size_t(back.size) == rendered.size());
  if (title != nullptr) {
    Check(back.fields[id3v2::kTitle].kind == id3v2::FieldValue::kUnicode &&
          back.fields[id3v2::kTitle].text == *title);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  id3v2::TagInfo tag;
  id3v2::ReadFromImage(data, size, tag);
  if (tag.presence != id3v2::Presence::kTag) return 0;
  Check(tag.size >= 10 && size_t(tag.size) <= size);
  const std::vector<uint8_t> old(data, data + tag.size);

  id3v2::Changes changes;
  const std::u16string title = u"Fuzzed \u6807\u9898";
  changes[id3v2::kTitle] = title;
  changes[id3v2::kComment] = u"";
  std::vector<uint8_t> rendered;
  if (id3v2::RenderUpdate(old, changes, 512, rendered) == id3v2::Result::kOk) {
    CheckRendered(old, rendered, &title);
  }
  size_t converted = 0;
  const auto widen = [](std::string_view bytes, std::u16string& text) {
    text.assign(bytes.begin(), bytes.end());
    return bytes.size() % 2 == 0;
  };
  if (id3v2::RenderConversion(old, widen, 4096, rendered, converted) == id3v2::Result::kOk) {
    CheckRendered(old, rendered, nullptr);
  }
  return 0;
}
