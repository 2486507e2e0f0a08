// The save of whatever header a file holds. Each input is written to a file in a temporary
// folder, read, edited and saved as a batch edit does. Then, when the save succeeded, the new
// file must read back without error and give exactly the saved fields, its bytes after the header
// must be the old file's bytes after the old header, and a second save must change nothing. When
// the save failed or raised, the file must be as it was and no temporary file may be left.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tags/wma/TWmaTag.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A folder of its own under $TMPDIR (a tmpfs such as /dev/shm keeps the runs fast), removed
// when the fuzzer exits.
char g_folder[4096];
// How the saves ended: refused (false), raised the read error, saved.
uint64_t g_refused = 0, g_raised = 0, g_saved = 0;

void RemoveFolder() {
  std::fprintf(stderr, "saves: %llu refused, %llu raised the read error, %llu saved\n",
               static_cast<unsigned long long>(g_refused),
               static_cast<unsigned long long>(g_raised), static_cast<unsigned long long>(g_saved));
  ::unlink((std::string(g_folder) + "/input.wma").c_str());
  ::rmdir(g_folder);
}

std::string Folder() {
  if (g_folder[0] == '\0') {
    const char* base = ::getenv("TMPDIR");
    std::snprintf(g_folder, sizeof g_folder, "%s/velomi-fuzz-XXXXXX", base ? base : "/tmp");
    if (::mkdtemp(g_folder) == nullptr) ::abort();
    std::atexit(RemoveFolder);
  }
  return g_folder;
}

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out.good()) ::abort();
}

size_t EntryCount(const std::string& folder) {
  size_t n = 0;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) ++n;
    }
    ::closedir(d);
  }
  return n;
}

uint64_t HeaderSizeOf(const Bytes& file) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | file[16 + i];
  return v;
}

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    ::abort();
  }
}

bool SameFields(const TIDwma& a, const TIDwma& b) {
  return a.Version == b.Version && a.Title == b.Title && a.Artist == b.Artist &&
         a.Copyright == b.Copyright && a.Comment == b.Comment && a.Album == b.Album &&
         a.Year == b.Year && a.Genre == b.Genre && a.Track == b.Track && a.WmTrack == b.WmTrack &&
         a.UserUrl == b.UserUrl && a.Url == b.Url && a.Lyrics == b.Lyrics &&
         a.EncodedBy == b.EncodedBy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = Folder() + "/input.wma";
  WriteAll(path, data, size);
  const Bytes old(data, data + size);

  TIDwma tag;
  try {
    tag.ReadFromFile(path);
  } catch (const EReadError&) {
  }
  tag.SetTitle(u"Fuzzed title");
  tag.SetAlbum(u"专辑");
  tag.SetGenre(u"");
  if (size > 0 && data[0] & 1) tag.SetTrack(u"3");

  bool saved = false;
  try {
    saved = tag.SaveToFile(path);
    ++(saved ? g_saved : g_refused);
  } catch (const EReadError&) {
    ++g_raised;
  }
  Check(EntryCount(Folder()) == 1, "no temporary file is left");
  if (!saved) {
    Check(ReadAll(path) == old, "a failed save leaves the file as it was");
    return 0;
  }

  const Bytes written = ReadAll(path);
  TIDwma back;
  bool readable = false;
  try {
    readable = back.ReadFromFile(path);
  } catch (const EReadError&) {
  }
  Check(readable, "the saved file reads without error");
  Check(back.HeaderSize == static_cast<int64_t>(HeaderSizeOf(written)), "header size");
  Check(SameFields(back, tag), "the saved fields read back");
  const Bytes after(written.begin() + back.HeaderSize, written.end());
  const Bytes oldAfter(old.begin() + static_cast<int64_t>(HeaderSizeOf(old)), old.end());
  Check(after == oldAfter, "the bytes after the header are unchanged");

  Check(back.SaveToFile(path), "a saved file saves again");
  Check(ReadAll(path) == written, "a second save with the same fields changes nothing");
  return 0;
}
