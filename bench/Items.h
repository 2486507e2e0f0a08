// The items of the suite. Each builds its own corpus in a temporary folder, runs its sides in
// turns and adds its rows to the table.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Harness.h"

namespace bench {

struct Config {
  std::string tmp = "/tmp";  // where the corpora are built
  size_t mp3Files = 10000;
  size_t windowFiles = 100000;   // item 6: the window's list
  size_t id3v2EditFiles = 1000;  // item 12: the batch edit of files with both tags
  size_t mp3SaveFiles = 400;  // the first of them, saved by item 4 (each save waits for the disk)
  size_t wmaFiles = 2000;
  size_t bigMiB = 300;
  int rounds = 15;        // rounds of each side for the items over many files
  int bigRounds = 7;      // rounds of each side for the large-file save
  size_t parts = 50;      // parts of a run over many files, in which the sides take turns
  std::string saveChild;  // the program that measures one save's peak memory
  bool mp3Read = true, mp3Save = true;  // items 1 and 4
  bool wmaRead = true, wmaSave = true;  // items 2 and 3
  bool wmaInPlace = true;               // item 9
};

// Writes `files` small MP3 files with ID3v1 tags (each a few KB of MPEG frames and a tag whose
// texts differ from file to file) into the folder and gives their paths.
std::vector<std::string> MakeMp3Corpus(const TempDir& dir, size_t files);

// Writes `files` MP3 files as taggers leave them: an ID3v2.3 tag (text frames, GBK bytes in
// Latin-1 frames in every third, a cover in every tenth, 1 KiB of padding) when `withId3v2`, a few
// KB of MPEG frames and an ID3v1 block.
std::vector<std::string> MakeId3v2Corpus(const TempDir& dir, size_t files, bool withId3v2);

// 1: reading the ID3v1 tags of many MP3 files; 4: saving them.
void BenchMp3(const Config& config, Table& table);
// 10: reading both tags (ID3v2 and ID3v1) of many MP3 files.
void BenchId3v2(const Config& config, Table& table);
// 2: reading the WMA tags of many small WMA files; 3: saving the tag of one large WMA file;
// 7: saving it in place where its header fits, and the replace.
void BenchWma(const Config& config, Table& table);
// 5: renaming many files without replacing.
void BenchRename(const Config& config, Table& table);
// 6: the window adds a folder of many MP3 files. `self` is this program, which measures the
// window's memory in a fresh process of its own (WindowMemoryChild).
void BenchWindow(const Config& config, Table& table, const std::string& self);
// 7: the batch rename and the batch edit through the core's plans and the journal, against the
// window's loops as they were.
void BenchJournal(const Config& config, Table& table);
// 12: the journalled batch edit of MP3 files with both tags (the ID3v2 tag kept in step),
// against the same batch over files with an ID3v1 block only.
void BenchId3v2Edit(const Config& config, Table& table);
// 8: velomi-tag (`program`) shows a folder of many MP3 files.
void BenchCli(const Config& config, Table& table, const std::string& program);
// 13: velomi-tag (`program`) shows one file with a large journal, against the same with none.
void BenchCliJournal(const Config& config, Table& table, const std::string& program);
// 11: the window undoes a rename of 10,000 files, against `velomi-tag undo` (`program`) of the
// same.
void BenchWindowUndo(const Config& config, Table& table, const std::string& program);
// Adds `folder` to a new window and prints the resident memory before and after and the peak.
int WindowMemoryChild(const std::string& folder);

}  // namespace bench
