// Item 5: the batch rename of many files through the platform, against plain renameat2 calls.
#include <sys/stat.h>

#include <cstdio>

#include "Floors.h"
#include "Items.h"
#include "platform/Folder.h"

namespace bench {
namespace {

// A folder of empty files and the two sets of names each side renames them between: "Artist -
// Title.mp3" and "Title - Artist.mp3", as two rename rules give them.
struct RenameFolder {
  std::string folder;  // ends in "/"
  std::vector<std::string> a, b;
  std::vector<std::string> fullA, fullB;
  std::vector<char> atB;  // for each part: its files carry the second names
};

RenameFolder MakeFolder(const TempDir& dir, const std::string& sub, size_t files, size_t parts) {
  RenameFolder f;
  f.atB.assign(parts, 0);
  f.folder = dir.File(sub) + "/";
  std::string mk = dir.File(sub);
  if (::mkdir(mk.c_str(), 0755) != 0) Die("cannot make " + mk);
  for (size_t i = 0; i < files; ++i) {
    char a[64], b[64];
    std::snprintf(a, sizeof a, "Artist %05zu - Title %05zu.mp3", i, i);
    std::snprintf(b, sizeof b, "Title %05zu - Artist %05zu.mp3", i, i);
    f.a.push_back(a);
    f.b.push_back(b);
    f.fullA.push_back(f.folder + a);
    f.fullB.push_back(f.folder + b);
    WriteFile(f.fullA.back(), "", 0);
  }
  return f;
}

}  // namespace

void BenchRename(const Config& config, Table& table) {
  TempDir dir(config.tmp, "velomi-bench-rename");
  const size_t n = config.mp3Files;
  // Each side renames its own folder of the same shape back and forth, so the order in which the
  // sides run does not matter.
  RenameFolder ours = MakeFolder(dir, "ours", n, config.parts);
  RenameFolder plain = MakeFolder(dir, "plain", n, config.parts);
  platform::Folder opened;
  if (!opened.Open(ours.folder)) Die("item 5: cannot open " + ours.folder);
  std::vector<Side> sides = {
      {"platform::Folder::Rename",
       [&](size_t part) {
         uint64_t ok = 0;
         const auto& from = ours.atB[part] ? ours.b : ours.a;
         const auto& to = ours.atB[part] ? ours.a : ours.b;
         Slice s = PartOf(n, part, config.parts);
         for (size_t i = s.begin; i < s.end; ++i) {
           ok += opened.Rename(from[i], to[i]);
         }
         ours.atB[part] ^= 1;
         return ok;
       },
       {}},
      {"floor: renameat2(RENAME_NOREPLACE)",
       [&](size_t part) {
         uint64_t ok = 0;
         const auto& from = plain.atB[part] ? plain.fullB : plain.fullA;
         const auto& to = plain.atB[part] ? plain.fullA : plain.fullB;
         Slice s = PartOf(n, part, config.parts);
         for (size_t i = s.begin; i < s.end; ++i) {
           ok += floors::Rename(from[i].c_str(), to[i].c_str());
         }
         plain.atB[part] ^= 1;
         return ok;
       },
       {}},
  };
  Timings t = Alternate(sides, config.rounds, config.parts);
  for (uint64_t c : t.checksums) {
    if (c != n) Die("item 5: a rename failed");
  }
  table.Add({"5 rename, " + CountOf(n, "files"), PerFile(t.Median(0), n), sides[1].name,
             PerFile(t.Median(1), n), RatioRange(t, 0, 1), "", ""});
}

}  // namespace bench
