// velomi_bench: builds each item's corpus in a temporary folder, runs our code and its baselines
// in turns, and prints one table of medians and ratios.
//
//   velomi_bench [--tmp DIR] [--rounds N] [--items 1,4,5] [--quick]
//
// --quick makes every corpus ten times smaller and runs three rounds: a check that the suite
// works, not a measurement.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>
#include <string>

#include "Items.h"

namespace {

[[noreturn]] void Usage(int status) {
  (status == 0 ? std::cout : std::cerr)
      << "usage: velomi_bench [--tmp DIR] [--rounds N] [--items 1,2,...] [--quick] [--verbose]\n"
         "  --tmp DIR     build the corpora under DIR (default: $TMPDIR or /tmp)\n"
         "  --rounds N    runs of each side (default: 15, and 7 for the large WMA save)\n"
         "  --items LIST  run only these items (1 MP3 read, 2 WMA read, 3 WMA save,\n"
         "                4 MP3 save, 5 rename, 6 window, 7 journalled batches,\n"
         "                8 velomi-tag show, 9 WMA save in place and replace,\n"
         "                10 MP3 read of both tags, ID3v2 and ID3v1,\n"
         "                13 velomi-tag show of one file with a large journal)\n"
         "  --quick       corpora ten times smaller, 3 rounds: checks the suite, measures "
         "nothing\n";
  std::exit(status);
}

}  // namespace

int main(int argc, char** argv) {
#if VELOMI_BENCH_WINDOW
  if (argc == 3 && std::strcmp(argv[1], "--window-memory") == 0) {
    return bench::WindowMemoryChild(argv[2]);
  }
#endif
  bench::Config config;
  if (const char* t = std::getenv("TMPDIR"); t != nullptr && *t != '\0') config.tmp = t;
  std::set<int> items = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--tmp" && i + 1 < argc) {
      config.tmp = argv[++i];
    } else if (a == "--rounds" && i + 1 < argc) {
      config.rounds = std::atoi(argv[++i]);
      config.bigRounds = config.rounds;
      if (config.rounds < 1) Usage(2);
    } else if (a == "--items" && i + 1 < argc) {
      items.clear();
      for (char* s = std::strtok(argv[++i], ","); s != nullptr; s = std::strtok(nullptr, ",")) {
        items.insert(std::atoi(s));
      }
    } else if (a == "--quick") {
      config.mp3Files = 1000;
      config.windowFiles = 10000;
      config.mp3SaveFiles = 100;
      config.wmaFiles = 200;
      config.bigMiB = 30;
      config.rounds = 3;
      config.bigRounds = 3;
    } else if (a == "--verbose") {
      bench::verbose = true;
    } else if (a == "--help") {
      Usage(0);
    } else {
      Usage(2);
    }
  }
  config.saveChild = VELOMI_BENCH_SAVE_CHILD;

  bench::Table table;
  try {
    config.mp3Read = items.count(1) > 0;
    config.mp3Save = items.count(4) > 0;
    if (config.mp3Read || config.mp3Save) bench::BenchMp3(config, table);
    if (items.count(10)) bench::BenchId3v2(config, table);
    config.wmaRead = items.count(2) > 0;
    config.wmaSave = items.count(3) > 0;
    config.wmaInPlace = items.count(9) > 0;
    if (config.wmaRead || config.wmaSave || config.wmaInPlace) {
#if VELOMI_BENCH_WMA
      bench::BenchWma(config, table);
#else
      table.Note("Items 2 and 3 (WMA) are not built: the tag library has no WMA tag object yet.");
#endif
    }
    if (items.count(5)) bench::BenchRename(config, table);
    if (items.count(7)) {
#if VELOMI_BENCH_JOURNAL
      bench::BenchJournal(config, table);
#else
      table.Note(
          "Item 7 (journalled batches) is not built: there is no core library in this build.");
#endif
    }
    if (items.count(12)) {
#if VELOMI_BENCH_JOURNAL
      bench::BenchId3v2Edit(config, table);
#else
      table.Note("Item 12 (batch edit of both tags) is not built: there is no core library.");
#endif
    }
    if (items.count(6)) {
#if VELOMI_BENCH_WINDOW
      char self[4096];
      ssize_t len = ::readlink("/proc/self/exe", self, sizeof self - 1);
      if (len <= 0) bench::Die("cannot find this program's path");
      bench::BenchWindow(config, table, std::string(self, static_cast<size_t>(len)));
#else
      table.Note("Item 6 (window) is not built: there is no window library in this build.");
#endif
    }
    if (items.count(11)) {
#if VELOMI_BENCH_WINDOW
      if (std::strlen(VELOMI_BENCH_CLI) > 0) {
        bench::BenchWindowUndo(config, table, VELOMI_BENCH_CLI);
      } else {
        table.Note("Item 11 (undo) is not built: there is no velomi-tag in this build.");
      }
#else
      table.Note("Item 11 (undo) is not built: there is no window library in this build.");
#endif
    }
    if (items.count(8)) {
      if (std::strlen(VELOMI_BENCH_CLI) > 0) {
        bench::BenchCli(config, table, VELOMI_BENCH_CLI);
      } else {
        table.Note("Item 8 (velomi-tag) is not built: there is no velomi-tag in this build.");
      }
    }
    if (items.count(13) && std::strlen(VELOMI_BENCH_CLI) > 0) {
      bench::BenchCliJournal(config, table, VELOMI_BENCH_CLI);
    }
  } catch (const bench::Failure& e) {
    std::cerr << "velomi_bench: " << e.what() << "\n";
    return 1;
  }

  std::cout << "Medians of " << config.rounds << " runs of each side (" << config.bigRounds
            << " for the large WMA save), sides run in turns in one process after one untimed run "
               "each; every side works on the same files, already in the page cache. Range: the "
               "smallest and largest ratio of two runs in the same round.\n\n";
  table.Print();
  return 0;
}
