// The flushes that saves cost, counted where they are made: in the system calls (strace). A flush
// the code asks for but never makes, or one more than a save needs, shows only there.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "../tags/id3v2/Id3v2Files.h"
#include "TestFiles.h"
#include "tags/wma/TWmaTag.h"

namespace {

using testfiles::TempDir;
using Flushes = std::vector<std::string>;

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// Saves a longer title through a new file, which leaves room in the header for the next save.
void Grow(const std::string& path) {
  TIDwma tag;
  ASSERT_TRUE(tag.ReadFromFile(path));
  tag.SetTitle(u"A title that grows the header");
  ASSERT_TRUE(tag.SaveToFile(path));
}

class FlushTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("strace -qq -o /dev/null true >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "strace is missing or cannot trace here (scripts/deps.sh installs it)";
    }
    ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
  }

  // The flushes that `command` makes, each as its call and what it flushes: "journal", "wma" (a
  // WMA file), "new file" (a file without a name yet) or "folder".
  Flushes Run(const std::string& command) {
    const std::string log = state.File("strace.log");
    // LeakSanitizer stops the world through ptrace, which strace holds already.
    const std::string run = "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -y -o " + Quoted(log) +
                            " -e trace=fsync,fdatasync,syncfs " + command + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(run.c_str()), 0) << command;
    // "PID CALL(FD<PATH>)", "(deleted)" after the path of a file without a name.
    static const std::regex call(R"(^\d+\s+(fsync|fdatasync|syncfs)\(\d+<([^>]*)>(\(deleted\))?)");
    Flushes flushes;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
      std::smatch m;
      if (!std::regex_search(line, m, call)) continue;
      const std::string path = m[2];
      auto endsWith = [&](const std::string& end) {
        return path.size() >= end.size() &&
               path.compare(path.size() - end.size(), end.size(), end) == 0;
      };
      const char* what = m[3].matched                ? "new file"
                         : endsWith("journal.jsonl") ? "journal"
                         : endsWith(".wma")          ? "wma"
                         : endsWith(".mp3")          ? "mp3"
                                                     : "folder";
      flushes.push_back(m[1].str() + " " + what);
    }
    std::sort(flushes.begin(), flushes.end());
    return flushes;
  }

  // A folder `name` of `count` copies of the fixture `fixture`.
  std::string Copies(const std::string& name, const std::string& fixture, int count) {
    const std::string folder = files.File(name);
    std::filesystem::create_directory(folder);
    for (int i = 0; i < count; ++i) {
      files.CopyData(fixture, name + "/" + std::to_string(i) + fixture.substr(fixture.size() - 4));
    }
    return folder;
  }

  // A folder `name` of `count` WMA files, each saved once before.
  std::string Saved(const std::string& name, int count) {
    const std::string folder = files.File(name);
    std::filesystem::create_directory(folder);
    for (int i = 0; i < count; ++i) {
      Grow(files.CopyData("wma_ascii.wma", name + "/" + std::to_string(i) + ".wma"));
    }
    return folder;
  }

  TempDir files, state;
};

TEST_F(FlushTest, EachSaveCostsItsBudgetOfFlushes) {
  const std::string roomy = files.CopyData("wma_ascii.wma", "roomy.wma");
  Grow(roomy);
  const std::string fresh = files.CopyData("wma_ascii.wma", "fresh.wma");
  const std::string tagged = files.CopyData("id3v2_v23_gbk.mp3", "tagged.mp3");
  using namespace id3files;
  const std::string covered = files.Write(
      "covered.mp3",
      Tag(3,
          Frame("TIT2", Latin1("Old")) + Frame("APIC", Bytes{0} + B("image/png") + Bytes{0, 3, 0} +
                                                           Bytes(150000, 7) + Audio(4000)),
          100) +
          Audio());
  const std::string saveOnce = std::string(SAVE_ONCE) + " ";
  const std::string set = std::string(VELOMI_TAG) + " set --album Batch ";
  const Flushes few(3, "fdatasync wma");
  struct Case {
    const char* what;
    std::string command;
    Flushes flushes;  // besides the journal record's
  };
  const std::vector<Case> cases = {
      // The record, then the header written over the old one.
      {"a save in place", saveOnce + Quoted(roomy) + " Short", {"fdatasync wma"}},
      // The record, then the new file and the rename in its folder.
      {"a save that grows the header",
       saveOnce + Quoted(fresh) + " 'A much longer title'",
       {"fsync folder", "fsync new file"}},
      // The record, then the ID3v2 tag written over the old one and the block appended.
      {"an MP3 save of its ID3v2 tag in place",
       saveOnce + Quoted(tagged) + " Short",
       {"fdatasync mp3"}},
      // The bytes a write in place changes, too many for the record (the cover moves): its
      // pre-image file and the folder's entry for it, the record, then the tag.
      {"an MP3 save that moves its cover",
       saveOnce + Quoted(covered) + " 'A longer title'",
       {"fdatasync folder", "fsync folder", "fdatasync mp3"}},
      // The record, then each file's data.
      {"a batch of a few files", set + Quoted(Saved("few", 3)), few},
      // The record, then their file system once.
      {"a batch of many files", set + Quoted(Saved("many", 100)), {"syncfs wma"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Flushes expected = c.flushes;
    expected.push_back("fdatasync journal");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Run(c.command), expected);
  }
}

TEST_F(FlushTest, UndoAndConvertFlushOncePerFileSystem) {
  // However many files: a conversion costs its record's flush and one of the file system; an
  // undo one of the file system and the journal's rewrite (the new file and its folder).
  const std::string tool = std::string(VELOMI_TAG) + " ";
  struct Case {
    const char* what;
    std::string before;  // run first, untraced
    std::string command;
    Flushes flushes;
  };
  const std::string wma = Saved("wma", 60);
  const std::string mp3 = Copies("mp3", "mp3_v11_gbk.mp3", 60);
  const std::string tagged = Copies("tagged", "id3v2_v23_gbk.mp3", 60);
  const Flushes rewrite = {"fsync folder", "fsync folder"};
  auto with = [](Flushes f, const std::string& more) {
    f.push_back(more);
    std::sort(f.begin(), f.end());
    return f;
  };
  const std::vector<Case> cases = {
      {"an undo of WMA headers written in place", tool + "set --album U " + Quoted(wma),
       tool + "undo", with(rewrite, "syncfs wma")},
      {"an undo of ID3v1 blocks", tool + "set --album U " + Quoted(mp3), tool + "undo",
       with(rewrite, "syncfs mp3")},
      {"a conversion", "", tool + "convert " + Quoted(tagged),
       with({"fdatasync journal"}, "syncfs mp3")},
      {"the undo of a conversion", "", tool + "undo", with(rewrite, "syncfs mp3")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.before.empty()) {
      ASSERT_EQ(std::system((c.before + " >/dev/null 2>&1").c_str()), 0);
    }
    EXPECT_EQ(Run(c.command), c.flushes);
  }
}

}  // namespace
