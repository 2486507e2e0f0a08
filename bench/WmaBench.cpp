// Items 2 and 3: the WMA tags of many small WMA files read by TIDwma, by the system call floor and
// by TagLib's ASF reader; the save of one large WMA-shaped file by TIDwma, by TagLib and by cp.
// Item 9: the save of that file in place when its header fits, and the replace.
#include <asffile.h>
#include <asftag.h>
#include <fcntl.h>
#include <tstring.h>
#include <unistd.h>

#include <sys/statfs.h>

#include <cstdio>
#include <cstring>

#include "Floors.h"
#include "Items.h"
#include "platform/File.h"
#include "tags/wma/TWmaTag.h"
#if VELOMI_BENCH_CORE
#include "core/Batch.h"
#include "core/journal/Journal.h"
#endif

namespace bench {
namespace {

// The write of a header that fits, as the core makes it, without the core's record.
bool WriteInPlace(const std::string& path, const wma::SavePlan& plan) {
  platform::File file;
  return file.OpenReadWrite(path) &&
         wma::WriteHeaderInPlace(file, 0, {plan.oldHeader.data(), plan.oldHeader.size()},
                                 {plan.newHeader.data(), plan.newHeader.size()}, true) == 0 &&
         file.Close();
}

std::string Utf8(const std::u16string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Eight small WMA files made by ffmpeg (one second of a tone), each with other tags: texts of
// different lengths, Chinese texts, and more or fewer descriptors.
std::vector<std::string> MakeVariants(const TempDir& dir) {
  struct Tags {
    const char* title;
    const char* artist;
    const char* album;
    const char* extra;  // key=value, or empty
  };
  const Tags variants[] = {
      {"Morning", "Artist", "Album", ""},
      {"测试歌曲", "歌手", "专辑名称", "composer=作曲家"},
      {"A title of some length, as long titles go", "The Band", "Greatest Hits", "track=7"},
      {"夜曲", "周", "十一月的萧邦", "copyright=(C) 2005"},
      {"Song", "Singer", "", "encoded_by=Windows Media Player"},
      {"Lied", "Sänger", "Album", "WM/Lyrics=Long lyrics text that goes on and on for a while"},
      {"x", "y", "z", "publisher=Label"},
      {"最后一首歌", "歌手乙", "精选集", "track=12"},
  };
  std::vector<std::string> paths;
  int i = 0;
  for (const Tags& t : variants) {
    char name[32];
    std::snprintf(name, sizeof name, "variant-%d.wma", i);
    std::string path = dir.File(name);
    std::vector<std::string> argv = {
        "ffmpeg",
        "-nostdin",
        "-hide_banner",
        "-loglevel",
        "error",
        "-f",
        "lavfi",
        "-i",
        "sine=frequency=" + std::to_string(330 + 55 * i) + ":duration=1",
        "-c:a",
        "wmav2",
        "-b:a",
        "64k",
        "-metadata",
        std::string("title=") + t.title,
        "-metadata",
        std::string("artist=") + t.artist,
        "-metadata",
        std::string("album=") + t.album,
        "-metadata",
        "date=" + std::to_string(1990 + i),
        "-metadata",
        "genre=Pop",
        "-metadata",
        "comment=variant " + std::to_string(i)};
    if (*t.extra != '\0') {
      argv.push_back("-metadata");
      argv.push_back(t.extra);
    }
    argv.push_back("-y");
    argv.push_back(path);
    RunChild(argv);
    paths.push_back(path);
    ++i;
  }
  return paths;
}

bool OursRead(TIDwma& tag, const std::string& path) {
  try {
    return tag.ReadFromFile(path);
  } catch (const std::exception&) {
    return false;
  }
}

// What every reader must agree on: TIDwma and TagLib read the same titles and artists.
void CheckAgreement(const std::vector<std::string>& paths) {
  TIDwma tag;
  for (const auto& p : paths) {
    TagLib::ASF::File f(p.c_str(), false);
    if (!OursRead(tag, p) || !f.isValid() || Utf8(tag.Title) != f.tag()->title().to8Bit(true) ||
        Utf8(tag.Artist) != f.tag()->artist().to8Bit(true)) {
      Die("TIDwma and TagLib read " + p + " differently");
    }
  }
}

// The last `count` bytes of a file.
std::string ReadTail(const std::string& path, size_t count) {
  std::string bytes(count, '\0');
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  off_t end = fd < 0 ? -1 : ::lseek(fd, 0, SEEK_END);
  if (end < static_cast<off_t>(count) ||
      ::pread(fd, bytes.data(), count, end - static_cast<off_t>(count)) !=
          static_cast<ssize_t>(count)) {
    Die("cannot read the end of " + path);
  }
  ::close(fd);
  return bytes;
}

// The Object Size of a file's ASF Header Object.
int64_t HeaderSize(const std::string& path) {
  std::vector<unsigned char> buffer;
  return floors::ReadAsfHeader(path.c_str(), buffer);
}

// One save's peak memory, measured by the child program in a fresh process of its own.
int64_t SavePeakKiB(const Config& config, const std::string& how, const std::string& path) {
  std::vector<std::string> argv = {config.saveChild, how};
  if (!path.empty()) argv.push_back(path);
  return std::atoll(RunChild(argv).c_str());
}

// Item 2: reads of many small files, copies of the variants in turn.
void ReadItem(const Config& config, const TempDir& dir, const std::vector<std::string>& variants,
              Table& table) {
  const size_t n = config.wmaFiles;
  std::vector<std::string> paths;
  for (size_t i = 0; i < n; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "song-%05zu.wma", i);
    paths.push_back(dir.File(name));
    CopyFile(variants[i % variants.size()], paths.back());
  }
  auto Files = [&](size_t part) { return PartOf(paths, part, config.parts); };
  TIDwma tag;
  std::vector<unsigned char> buffer;
  std::vector<Side> reads = {
      {"TIDwma::ReadFromFile",
       [&](size_t part) {
         uint64_t found = 0;
         for (const auto& p : Files(part)) found += OursRead(tag, p) && !tag.Title.empty();
         return found;
       },
       {}},
      {"floor: open+pread header (1 or 2 reads)+close",
       [&](size_t part) {
         uint64_t found = 0;
         for (const auto& p : Files(part)) found += floors::ReadAsfHeader(p.c_str(), buffer) > 0;
         return found;
       },
       {}},
      {"floor + fstat (the call TIDwma adds)",
       [&](size_t part) {
         uint64_t found = 0;
         for (const auto& p : Files(part)) {
           found += floors::ReadAsfHeaderAsPlatformFile(p.c_str(), buffer) > 0;
         }
         return found;
       }},
      {"TagLib ASF::File, no audio properties",
       [&](size_t part) {
         uint64_t found = 0;
         for (const auto& p : Files(part)) {
           TagLib::ASF::File f(p.c_str(), false);
           found += f.isValid() && !f.tag()->title().isEmpty();
         }
         return found;
       },
       {}},
  };
  Timings r = Alternate(reads, config.rounds, config.parts);
  for (uint64_t c : r.checksums) {
    if (c != n) Die("item 2: a reader missed tags");
  }
  table.Add({"2 WMA read, " + CountOf(n, "files"), PerFile(r.Median(0), n), reads[1].name,
             PerFile(r.Median(1), n), RatioRange(r, 0, 1), "<= 1.5x", Verdict(r.Ratio(0, 1), 1.5)});
  table.Add({"", "", reads[3].name, PerFile(r.Median(3), n), RatioRange(r, 0, 3), "< 1x",
             r.Ratio(0, 3) < 1 ? "met" : "MISSED"});
  table.Add({"", "", reads[2].name, PerFile(r.Median(2), n), RatioRange(r, 0, 2), "", ""});
}

// A large WMA-shaped file: a real header (the whole of `variant`) followed by pseudo-random data.
void MakeBigFile(const Config& config, const std::string& variant, const std::string& big) {
  {
    std::string head = ReadFile(variant);
    int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, head.data(), head.size()) != static_cast<ssize_t>(head.size())) {
      Die("cannot write " + big);
    }
    Random random(3);
    std::vector<char> chunk(size_t{8} << 20);
    for (size_t left = config.bigMiB << 20; left > 0;) {
      size_t m = std::min(left, chunk.size());
      random.Fill(chunk.data(), m);
      if (::write(fd, chunk.data(), m) != static_cast<ssize_t>(m)) Die("cannot write " + big);
      left -= m;
    }
    ::fsync(fd);
    ::close(fd);
  }
}

// Item 3: the save of one large file: a real header (the first variant's whole file) followed by
// pseudo-random data.
void SaveItem(const Config& config, const TempDir& dir, const std::vector<std::string>& variants,
              Table& table) {
  const std::string big = dir.File("big.wma");
  const std::string copy = dir.File("copy.wma");
  MakeBigFile(config, variants[0], big);
  const std::string tail = ReadTail(big, size_t{1} << 16);
  // Our save and the first TagLib save change the title's length, so the header changes size, as
  // an edit usually does: a peer that edits the file in place then has to move everything after
  // the header. The second TagLib save changes one letter only.
  const std::u16string longTitle(120, u'長');
  bool oursLong = false;
  TIDwma edit;
  std::vector<Side> saves = {
      {"TIDwma::SaveToFile (writes a new file, fsync, rename)",
       [&](size_t) {
         edit.SetTitle((oursLong = !oursLong) ? longTitle : u"Short");
         edit.SetArtist(u"歌手");
         try {
           return static_cast<uint64_t>(edit.SaveToFile(big));
         } catch (const std::exception&) {
           return uint64_t{0};
         }
       },
       {}},
      {"cp (no fsync)",
       [&](size_t) {
         RunChild({"cp", big, copy});
         return uint64_t{1};
       },
       [&] {
         SyncFile(copy);  // cp's dirty pages are not charged to the next side
         ::unlink(copy.c_str());
       }},
      {"cp, then fsync of the copy",
       [&](size_t) {
         RunChild({"cp", big, copy});
         SyncFile(copy);
         return uint64_t{1};
       },
       [&] { ::unlink(copy.c_str()); }},
      {"cp, fsync, rename over the original (a safe replace by hand)",
       [&](size_t) {
         RunChild({"cp", big, copy});
         SyncFile(copy);
         if (::rename(copy.c_str(), big.c_str()) != 0) return uint64_t{0};
         SyncFile(dir.path());
         return uint64_t{1};
       }},
      {"TagLib ASF::File::save, header grows or shrinks (in place, no fsync)",
       [&](size_t) {
         TagLib::ASF::File f(big.c_str(), false);
         bool wasLong = f.tag()->title().size() > 60;
         f.tag()->setTitle(TagLib::String(wasLong ? std::string("Short") : Utf8(longTitle),
                                          TagLib::String::UTF8));
         return static_cast<uint64_t>(f.isValid() && f.save());
       },
       [&] { SyncFile(big); }},
      {"TagLib ASF::File::save, header keeps its size (in place, no fsync)",
       [&](size_t) {
         TagLib::ASF::File f(big.c_str(), false);
         TagLib::String title = f.tag()->title();
         if (title.isEmpty()) title = "X";
         title[0] = title[0] == L'X' ? L'Y' : L'X';
         f.tag()->setTitle(title);
         int64_t before = HeaderSize(big);
         bool ok = f.isValid() && f.save();
         return static_cast<uint64_t>(ok && HeaderSize(big) == before);
       },
       [&] { SyncFile(big); },
       // Untimed: TagLib first lays the header out its own way (after our save, that moves the
       // data), so that the timed save finds a header of its own layout.
       [&] {
         TagLib::ASF::File f(big.c_str(), false);
         f.save();
         SyncFile(big);
       }},
  };
  Timings s = Alternate(saves, config.bigRounds);
  for (size_t k = 0; k < saves.size(); ++k) {
    if (s.checksums[k] != 1) Die("item 3: a save failed: " + saves[k].name);
  }
  // Every side kept the data after the header, and both readers agree on the saved title.
  if (ReadTail(big, tail.size()) != tail) Die("item 3: a save changed the data after the header");
  TIDwma check;
  TagLib::ASF::File saved(big.c_str(), false);
  if (!OursRead(check, big) || !saved.isValid() ||
      Utf8(check.Title) != saved.tag()->title().to8Bit(true)) {
    Die("item 3: TIDwma and TagLib read the saved file differently");
  }
  table.Add({"3 WMA save, " + CountOf(config.bigMiB, "MiB file"), Seconds(s.Median(0)),
             saves[1].name, Seconds(s.Median(1)), RatioRange(s, 0, 1), "<= 1.5x",
             Verdict(s.Ratio(0, 1), 1.5)});
  for (size_t k = 2; k < saves.size(); ++k) {
    table.Add({"", "", saves[k].name, Seconds(s.Median(k)), RatioRange(s, 0, k), "", ""});
  }

  // Peak memory of one save, each in a fresh process: ours on the large file and on a small one
  // (the peak must not grow with the file), TagLib's, and a process that saves nothing.
  const int64_t idle = SavePeakKiB(config, "idle", "");
  const int64_t oursBig = SavePeakKiB(config, "ours", big);
  const std::string small = dir.File("small.wma");
  CopyFile(variants[0], small);
  const int64_t oursSmall = SavePeakKiB(config, "ours", small);
  const int64_t taglibBig = SavePeakKiB(config, "taglib", big);
  table.Add({"3 WMA save, peak memory", KiB(oursBig), "the same save of a 10 KB file",
             KiB(oursSmall), "", "< 16 MiB", Verdict(static_cast<double>(oursBig), 16 * 1024)});
  table.Add({"", "", "TagLib save of the large file", KiB(taglibBig), "", "", ""});
  table.Add({"", "", "a process that saves nothing", KiB(idle), "", "", ""});
}

// The type of the file system that holds `path`, by statfs.
std::string FileSystemOf(const std::string& path) {
  struct statfs fs {};
  if (::statfs(path.c_str(), &fs) != 0) return "?";
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:
      return "ext4";
    case 0x58465342:
      return "xfs";
    case 0x9123683E:
      return "btrfs";
    case 0x01021994:
      return "tmpfs";
    case 0x65735546:
      return "FUSE";
    default:
      return "other";
  }
}

// Item 7: the save of a large file whose new header fits in the old one's room, written in place,
// against TagLib's same-size save; and the save that replaces the file, against a replace by hand
// with `cp --reflink=auto` (which clones on xfs and btrfs), on the file system of --tmp.
void InPlaceItem(const Config& config, const TempDir& dir, const std::vector<std::string>& variants,
                 Table& table) {
  const std::string ours = dir.File("big.wma");
  const std::string peer = dir.File("big-taglib.wma");
  const std::string copy = dir.File("copy.wma");
  MakeBigFile(config, variants[0], ours);
  const std::string tail = ReadTail(ours, size_t{1} << 16);
  TIDwma edit;
  if (!OursRead(edit, ours)) Die("item 7: cannot read " + ours);
  // Untimed: our header gets its room (a save that grows it), TagLib's file its own layout.
  edit.SetTitle(u"Title A, grown once");
  if (!edit.SaveToFile(ours)) Die("item 7: the first save failed");
  RunChild({"cp", "--reflink=auto", ours, peer});
  {
    TagLib::ASF::File f(peer.c_str(), false);
    f.save();
  }
  SyncFile(peer);
  core::Journal journal(QString::fromStdString(dir.File("state")));
  const int64_t room = HeaderSize(ours);
  bool flip = false;
  auto nextTitle = [&flip] { return (flip = !flip) ? u"Title A" : u"Title B"; };
  std::vector<Side> fits = {
      {"core::SaveTag (record flushed, header written, fdatasync, done record)",
       [&](size_t) {
         edit.SetTitle(nextTitle());
         core::ApplyOptions options;
         options.journal = &journal;
         return static_cast<uint64_t>(core::SaveTag(edit, ours, options).results.at(0).outcome ==
                                          core::Outcome::kDone &&
                                      HeaderSize(ours) == room);
       }},
      {"TagLib ASF::File::save, header keeps its size (in place, no fsync)",
       [&](size_t) {
         TagLib::ASF::File f(peer.c_str(), false);
         TagLib::String title = f.tag()->title();
         title[0] = title[0] == L'X' ? L'Y' : L'X';
         f.tag()->setTitle(title);
         int64_t before = HeaderSize(peer);
         return static_cast<uint64_t>(f.isValid() && f.save() && HeaderSize(peer) == before);
       },
       [&] { SyncFile(peer); }},
      {"TIDwma::PlanSave + wma::WriteHeaderInPlace (fdatasync, no record)",
       [&](size_t) {
         edit.SetTitle(nextTitle());
         wma::SavePlan plan;
         return static_cast<uint64_t>(edit.PlanSave(ours, plan) && plan.InPlace() &&
                                      WriteInPlace(ours, plan));
       }},
      {"TIDwma::PlanSave + pwrite of the header (no flush, no record)",
       [&](size_t) {
         edit.SetTitle(nextTitle());
         wma::SavePlan plan;
         if (!edit.PlanSave(ours, plan) || !plan.InPlace()) return uint64_t{0};
         int fd = ::open(ours.c_str(), O_WRONLY | O_CLOEXEC);
         bool ok = fd >= 0 && ::pwrite(fd, plan.newHeader.data(), plan.newHeader.size(), 0) ==
                                  static_cast<ssize_t>(plan.newHeader.size());
         if (fd >= 0) ::close(fd);
         return static_cast<uint64_t>(ok);
       },
       [&] { SyncFile(ours); }},
  };
  Timings f = Alternate(fits, config.rounds);
  for (size_t k = 0; k < fits.size(); ++k) {
    if (f.checksums[k] != 1) {
      Die("item 7: a save failed or did not stay in place: " + fits[k].name);
    }
  }
  const std::string where = " (" + FileSystemOf(dir.path()) + ")";
  table.Add({"9 WMA save, header fits, " + CountOf(config.bigMiB, "MiB file") + where,
             Seconds(f.Median(0)), fits[1].name, Seconds(f.Median(1)), RatioRange(f, 0, 1), "<= 2x",
             Verdict(f.Ratio(0, 1), 2)});
  for (size_t k = 2; k < fits.size(); ++k) {
    table.Add({"", "", fits[k].name, Seconds(f.Median(k)), RatioRange(f, 0, k), "", ""});
  }

  // The replace: the plain save always writes a new file; the data keeps its offset modulo the
  // block size, so where the file system shares blocks the copy is a clone.
  std::vector<Side> replaces = {
      {"TIDwma::SaveToFile (replace: new file, data cloned or copied, fsync, rename)",
       [&](size_t) {
         edit.SetTitle(nextTitle());
         return static_cast<uint64_t>(edit.SaveToFile(ours));
       }},
      {"cp --reflink=auto, fsync, rename over the original",
       [&](size_t) {
         RunChild({"cp", "--reflink=auto", ours, copy});
         SyncFile(copy);
         if (::rename(copy.c_str(), ours.c_str()) != 0) return uint64_t{0};
         SyncFile(dir.path());
         return uint64_t{1};
       }},
  };
  Timings r = Alternate(replaces, config.bigRounds);
  for (size_t k = 0; k < replaces.size(); ++k) {
    if (r.checksums[k] != 1) {
      Die("item 7: a replace failed: " + replaces[k].name);
    }
  }
  if (ReadTail(ours, tail.size()) != tail) Die("item 7: a save changed the data after the header");
  table.Add({"9 WMA replace, " + CountOf(config.bigMiB, "MiB file") + where, Seconds(r.Median(0)),
             replaces[1].name, Seconds(r.Median(1)), RatioRange(r, 0, 1), "", ""});
}

}  // namespace

void BenchWma(const Config& config, Table& table) {
  TempDir dir(config.tmp, "velomi-bench-wma");
  const std::vector<std::string> variants = MakeVariants(dir);
  CheckAgreement(variants);

  if (config.wmaRead) ReadItem(config, dir, variants, table);
  if (config.wmaSave) SaveItem(config, dir, variants, table);
#if VELOMI_BENCH_CORE
  if (config.wmaInPlace) InPlaceItem(config, dir, variants, table);
#else
  if (config.wmaInPlace)
    table.Note("Item 7 needs the core library (a build with VELOMI_BUILD_UI).");
#endif
}

}  // namespace bench
