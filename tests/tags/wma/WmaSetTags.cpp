// A small driver for checking saved files with other readers (ffprobe, mutagen) by hand:
//   wma_set_tags FILE TITLE ARTIST ALBUM YEAR GENRE TRACK
// reads FILE's tag, sets the six fields from the UTF-8 arguments and saves it.
#include <cstdio>
#include <exception>
#include <string>

#include "tags/wma/TWmaTag.h"

namespace {

// UTF-8 to UTF-16; a malformed byte becomes U+FFFD.
std::u16string FromUtf8(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    char32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    bool ok = extra >= 0 && i + static_cast<size_t>(extra) < s.size();
    for (int k = 1; ok && k <= extra; ++k) {
      auto n = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
      ok = (n >> 6) == 2;
      c = (c << 6) | (n & 0x3F);
    }
    if (!ok) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    i += static_cast<size_t>(extra) + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 8) {
    std::fprintf(stderr, "usage: %s FILE TITLE ARTIST ALBUM YEAR GENRE TRACK\n", argv[0]);
    return 2;
  }
  try {
    TIDwma tag;
    if (!tag.ReadFromFile(argv[1])) {
      std::fprintf(stderr, "not a WMA file: %s\n", argv[1]);
      return 1;
    }
    tag.SetTitle(FromUtf8(argv[2]));
    tag.SetArtist(FromUtf8(argv[3]));
    tag.SetAlbum(FromUtf8(argv[4]));
    tag.SetYear(FromUtf8(argv[5]));
    tag.SetGenre(FromUtf8(argv[6]));
    tag.SetTrack(FromUtf8(argv[7]));
    bool saved = tag.SaveToFile(argv[1]);
    std::printf("%s: %s, old header %lld bytes\n", argv[1], saved ? "saved" : "NOT saved",
                static_cast<long long>(tag.HeaderSize));
    return saved ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
