// A batch edit of every WMA file in a folder, as the window's batch edit makes it (the plan, then
// applying it journalled), timed: velomi_bench_batch FOLDER STATE-FOLDER ALBUM. Prints the seconds
// the batch took and how many files it changed. For timing the batch on a given file system (an
// exFAT FUSE mount, a USB stick) by hand; see README.md.
#include <dirent.h>

#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "core/Batch.h"
#include "core/journal/Journal.h"
#include "core/plans/Plans.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: velomi_bench_batch FOLDER STATE-FOLDER ALBUM\n");
    return 2;
  }
  const std::string folder = argv[1];
  std::vector<std::string> paths;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".wma") == 0) {
        paths.push_back(folder + "/" + name);
      }
    }
    ::closedir(d);
  }
  std::sort(paths.begin(), paths.end());
  core::Journal journal(QString::fromLocal8Bit(argv[2]));
  core::EditFields fields;
  fields.album = QString::fromLocal8Bit(argv[3]);
  TIDmp3 mp3;
  TIDwma wma;
  const auto start = std::chrono::steady_clock::now();
  const core::EditPlan plan = core::PlanEdit(paths, fields);
  core::ApplyOptions options;
  options.journal = &journal;
  const core::ApplyReport report = core::ApplyEdit(plan, mp3, wma, options);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  int changed = 0;
  for (const auto& r : report.results) changed += r.outcome == core::Outcome::kDone;
  std::printf("%.3f s, %d of %zu files changed\n", seconds, changed, paths.size());
  return changed == static_cast<int>(paths.size()) ? 0 : 1;
}
