// Item 7: the batch rename and the batch edit carried out with the journal (a begin record
// flushed before the first change, a done record after the last), against the loops the window
// ran before (the no-replace rename, or read, set and save, per file; no journal). The plan that
// the question now shows is built untimed before each run of the journalled side; a third side
// times the plan and the journalled run together, as a click now costs. Each side does all the
// files as one action, as one click does.
#include <sys/stat.h>

#include <cstdio>

#include "Items.h"
#include "core/Batch.h"
#include "core/journal/Journal.h"
#include "core/plans/Plans.h"
#include "core/text/Rules.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

namespace bench {
namespace {

// A folder of empty files "NNNNN.mp3", which rule 1 renames to "A - TNNNNN.mp3". Before each run
// (untimed) the files get their first names back.
struct Folder {
  std::string path;  // ends in "/"
  std::vector<std::string> a, b;
  bool renamed = false;

  void Reset() {
    if (!renamed) return;
    platform::Folder folder;
    if (!folder.Open(path)) Die("item 7: cannot open " + path);
    for (size_t i = 0; i < a.size(); ++i) {
      if (!folder.Rename(b[i], a[i])) Die("item 7: cannot rename back");
    }
    renamed = false;
  }
};

Folder MakeFolder(const TempDir& dir, const std::string& sub, size_t files) {
  Folder f;
  f.path = dir.File(sub) + "/";
  if (::mkdir(dir.File(sub).c_str(), 0755) != 0) Die("cannot make " + dir.File(sub));
  for (size_t i = 0; i < files; ++i) {
    char a[32], b[32];
    std::snprintf(a, sizeof a, "%05zu.mp3", i);
    std::snprintf(b, sizeof b, "A - T%05zu.mp3", i);
    f.a.push_back(a);
    f.b.push_back(b);
    WriteFile(f.path + a, "", 0);
  }
  return f;
}

uint64_t Done(const core::ApplyReport& r) {
  uint64_t ok = 0;
  for (const auto& e : r.results) ok += e.outcome == core::Outcome::kDone;
  return ok;
}

// The rows of one comparison: side 0 is the loop as it was, side 1 the journalled run (the goal:
// at most 1.5 times the loop), side 2 the plan and the journalled run together.
void AddRows(Table& table, const std::string& item, const std::vector<Side>& sides,
             const Timings& t, size_t n) {
  table.Add({item, PerFile(t.Median(1), n), sides[0].name, PerFile(t.Median(0), n),
             RatioRange(t, 1, 0), "<= 1.5x", t.Median(1) <= 1.5 * t.Median(0) ? "met" : "MISSED"});
  table.Add({"  " + sides[2].name, PerFile(t.Median(2), n), sides[0].name, PerFile(t.Median(0), n),
             RatioRange(t, 2, 0), "", ""});
}

}  // namespace

void BenchJournal(const Config& config, Table& table) {
  TempDir dir(config.tmp, "velomi-bench-journal");
  const size_t n = config.mp3Files;
  core::Journal journal(QString::fromStdString(dir.File("state")));
  core::ApplyOptions options;
  options.journal = &journal;

  // ---- Rename
  Folder ours = MakeFolder(dir, "ours", n), before = MakeFolder(dir, "before", n);
  core::RenamePlan renamePlan;
  std::vector<core::Track> tracks;
  for (size_t i = 0; i < n; ++i) {
    tracks.push_back({ours.path, ours.a[i], QString::asprintf("T%05zu", i), QStringLiteral("A"),
                      static_cast<int>(i)});
  }
  std::vector<Side> renames = {
      {"before: platform::Folder::Rename per file, no plan, no journal",
       [&](size_t) {
         uint64_t ok = 0;
         platform::Folder folder;
         if (!folder.Open(before.path)) Die("item 7: cannot open " + before.path);
         for (size_t i = 0; i < n; ++i) {
           const QString name =
               *rules::NewFileName(1, QStringLiteral("A"), QString::asprintf("T%05zu", i),
                                   static_cast<int>(i), QStringLiteral(".mp3"));
           ok += folder.Rename(before.a[i], rules::NativePath(name));
         }
         before.renamed = true;
         return ok;
       },
       {},
       [&] { before.Reset(); }},
      {"journalled: core::ApplyRename (plan untimed)",
       [&](size_t) {
         const core::ApplyReport r = core::ApplyRename(renamePlan, options);
         ours.renamed = true;
         return Done(r);
       },
       {},
       [&] {
         ours.Reset();
         renamePlan = core::PlanRename(tracks, 1);
       }},
      {"plan + journalled: PlanRename, ApplyRename",
       [&](size_t) {
         const core::ApplyReport r = core::ApplyRename(core::PlanRename(tracks, 1), options);
         ours.renamed = true;
         return Done(r);
       },
       {},
       [&] { ours.Reset(); }},
  };
  Timings t = Alternate(renames, config.rounds, 1);
  for (uint64_t c : t.checksums) {
    if (c != n) Die("item 7: a rename failed");
  }
  AddRows(table, "7 journalled rename, " + CountOf(n, "files"), renames, t, n);

  // ---- Batch edit of MP3 files: the artist and the album, as the window copies them.
  const std::vector<std::string> paths = MakeMp3Corpus(dir, n);
  core::EditFields fields;
  fields.artist = QStringLiteral("批量歌手");
  fields.album = QStringLiteral("Album");
  TIDmp3 mp3;
  TIDwma wma;
  core::EditPlan editPlan;
  // The window's loop as it was before saves waited for the disk: no flush at all (a flush per
  // file costs milliseconds; the batch now flushes once, at its end).
  auto oldLoop = [&] {
    uint64_t ok = 0;
    const std::string artist = rules::ToGbk(*fields.artist);
    const std::string album = rules::ToGbk(*fields.album);
    mp3.SetFlushLeftToCaller(true);
    for (const auto& p : paths) {
      mp3.ReadFromFile(p);
      mp3.SetArtist(artist);
      mp3.SetAlbum(album);
      ok += mp3.SaveToFile(p);
    }
    mp3.SetFlushLeftToCaller(false);
    return ok;
  };
  std::vector<Side> edits = {
      {"before: ReadFromFile, two setters, SaveToFile per file, no flush",
       [&](size_t) { return oldLoop(); }},
      // The same loop made as durable as the batch: one syncfs at its end.
      {"before, then one syncfs: the loop above, its blocks flushed at its end",
       [&](size_t) {
         const uint64_t ok = oldLoop();
         return platform::SyncFileSystemsOf({paths.front()}) ? ok : 0;
       }},
      {"journalled: core::ApplyEdit (plan untimed)",
       [&](size_t) { return Done(core::ApplyEdit(editPlan, mp3, wma, options)); },
       {},
       [&] { editPlan = core::PlanEdit(paths, fields); }},
      {"plan + journalled: PlanEdit, ApplyEdit",
       [&](size_t) {
         return Done(core::ApplyEdit(core::PlanEdit(paths, fields), mp3, wma, options));
       }},
  };
  Timings e = Alternate(edits, config.rounds, 1);
  for (uint64_t c : e.checksums) {
    if (c != n) Die("item 7: a save failed");
  }
  // Side 2 is the journalled batch: against the loop as it was (the goal), the same loop made
  // durable with one flush, and with its plan.
  const std::string item = "7 journalled batch edit, " + CountOf(n, "MP3 files");
  table.Add({item, PerFile(e.Median(2), n), edits[0].name, PerFile(e.Median(0), n),
             RatioRange(e, 2, 0), "<= 1.5x", e.Median(2) <= 1.5 * e.Median(0) ? "met" : "MISSED"});
  table.Add({"", "", edits[1].name, PerFile(e.Median(1), n), RatioRange(e, 2, 1), "", ""});
  table.Add({"  " + edits[3].name, PerFile(e.Median(3), n), edits[0].name, PerFile(e.Median(0), n),
             RatioRange(e, 3, 0), "", ""});
}

void BenchId3v2Edit(const Config& config, Table& table) {
  TempDir dir(config.tmp, "velomi-bench-id3v2-edit");
  const size_t n = config.id3v2EditFiles;
  const std::vector<std::string> both = MakeId3v2Corpus(dir, n, true);
  const std::vector<std::string> plain = MakeId3v2Corpus(dir, n, false);
  core::Journal journal(QString::fromStdString(dir.File("state")));
  core::ApplyOptions options;
  options.journal = &journal;
  TIDmp3 mp3;
  TIDwma wma;
  // Each run gives the artist the other of two names, so that every run changes every tag.
  int turn = 0;
  core::EditFields fields;
  auto edit = [&](const std::vector<std::string>& paths) {
    return Done(core::ApplyEdit(core::PlanEdit(paths, fields), mp3, wma, options));
  };
  auto next = [&] {
    fields.artist = (turn++ % 2) ? QStringLiteral("歌手甲") : QStringLiteral("歌手乙");
  };
  std::vector<Side> sides = {
      {"plan + journalled batch edit, ID3v1 block only",
       [&](size_t) { return edit(plain); },
       {},
       next},
      {"plan + journalled batch edit, ID3v2 tag kept in step",
       [&](size_t) { return edit(both); },
       {},
       next},
  };
  Timings t = Alternate(sides, std::min(config.rounds, 7), 1);
  for (uint64_t c : t.checksums) {
    if (c != n) Die("item 12: a save failed");
  }
  table.Add({"12 batch edit, both tags, " + CountOf(n, "MP3 files"), PerFile(t.Median(1), n),
             sides[0].name, PerFile(t.Median(0), n), RatioRange(t, 1, 0), "", ""});
}

}  // namespace bench
