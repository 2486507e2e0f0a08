#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "TestFiles.h"
#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/ReplacementFile.h"

namespace {

using testfiles::Bytes;
using testfiles::FromString;
using testfiles::ReadAll;
using testfiles::TempDir;
using Names = std::vector<std::string>;
using platform::fault::Feature;

// Takes the features away, as a file system without them would, for the scope's life.
struct Refusing {
  explicit Refusing(std::initializer_list<Feature> features) {
    for (Feature f : features) platform::fault::Refuse(f);
  }
  ~Refusing() { platform::fault::Reset(); }
};

TEST(File, OpensRegularFilesOnlyAndReadsExactly) {
  TempDir dir;
  std::string path = dir.Write("f.bin", FromString("0123456789"));
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("f.bin", dir.File("link").c_str()), 0);

  platform::File f;
  EXPECT_FALSE(f.OpenRead(dir.path()));  // a folder
  EXPECT_EQ(f.error(), EISDIR);
  EXPECT_FALSE(f.OpenRead(dir.File("fifo")));  // must not block waiting for a writer
  EXPECT_FALSE(f.OpenReadWrite(dir.File("missing")));
  EXPECT_EQ(f.error(), ENOENT);
  EXPECT_EQ(dir.Names(), (Names{"f.bin", "fifo", "link"}));  // opening never creates a file

  ASSERT_TRUE(f.OpenRead(dir.File("link")));
  int64_t size = 0;
  ASSERT_TRUE(f.Size(size));
  EXPECT_EQ(size, 10);
  char buf[4];
  ASSERT_TRUE(f.ReadAt(6, buf, 4));
  EXPECT_EQ(std::string(buf, 4), "6789");
  EXPECT_FALSE(f.ReadAt(7, buf, 4));  // fewer bytes than asked is a failure
  EXPECT_FALSE(f.ReadAt(-1, buf, 1));
  EXPECT_FALSE(f.WriteAt(0, "x", 1));  // opened for reading only
  EXPECT_TRUE(f.Close());
  EXPECT_FALSE(f.IsOpen());
}

TEST(File, WritesTruncatesAndHonoursInjectedFaults) {
  TempDir dir;
  std::string path = dir.Write("f.bin", FromString("abcdef"));
  platform::File f;
  ASSERT_TRUE(f.OpenReadWrite(path));
  ASSERT_TRUE(f.WriteAt(6, "gh", 2));
  ASSERT_TRUE(f.Truncate(4));
  platform::fault::FailWritesAfter(1);
  EXPECT_FALSE(f.WriteAt(4, "xy", 2));
  EXPECT_EQ(f.error(), ENOSPC);
  EXPECT_FALSE(f.WriteAt(4, "x", 1));  // once full, every later write fails too
  platform::fault::Reset();
  ASSERT_TRUE(f.Close());
  EXPECT_EQ(ReadAll(path), FromString("abcd"));
}

TEST(FileSystem, ExistsAndClearReadOnly) {
  TempDir dir;
  std::string path = dir.Write("f", FromString("x"));
  ASSERT_EQ(::symlink("f", dir.File("good").c_str()), 0);
  ASSERT_EQ(::symlink("nothing", dir.File("broken").c_str()), 0);
  EXPECT_TRUE(platform::FileExists(path));
  EXPECT_TRUE(platform::FileExists(dir.File("good")));
  EXPECT_FALSE(platform::FileExists(dir.File("broken")));
  EXPECT_FALSE(platform::FileExists(dir.path()));

  ASSERT_EQ(::chmod(path.c_str(), 0440), 0);
  platform::ClearReadOnly(path);
  EXPECT_EQ(testfiles::Mode(path), 0640u);
  platform::ClearReadOnly(dir.File("missing"));  // ignored
}

TEST(FileSystem, ListFolderMatchesCaseInsensitivelyAndSortsByName) {
  TempDir dir;
  for (const char* name : {"b.MP3", "A.mp3", "c.Mp3", "a.wma", "x.mp3.txt", "mp3", "Zz.mp3"}) {
    dir.Write(name, FromString("x"));
  }
  ASSERT_EQ(::mkdir(dir.File("folder.mp3").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("folder.mp3", dir.File("linked.mp3").c_str()), 0);
  ASSERT_EQ(::symlink("c.Mp3", dir.File("d.mp3").c_str()), 0);
  EXPECT_EQ(platform::ListFolder(dir.path(), ".mp3"),
            (Names{"A.mp3", "b.MP3", "c.Mp3", "d.mp3", "Zz.mp3"}));
  EXPECT_EQ(platform::ListFolder(dir.path() + "/", ".wma"), (Names{"a.wma"}));
  EXPECT_TRUE(platform::ListFolder(dir.File("missing"), ".mp3").empty());

  // All entries in one reading, in the same order; links to folders are folders.
  dir.Write("a.MP3", FromString("x"));  // equal to a.mp3 once folded: ordered by bytes
  const platform::FolderEntries all = platform::ListEntries(dir.path());
  EXPECT_EQ(all.files, (Names{"A.mp3", "a.MP3", "a.wma", "b.MP3", "c.Mp3", "d.mp3", "mp3",
                              "x.mp3.txt", "Zz.mp3"}));
  EXPECT_EQ(all.folders, (Names{"folder.mp3", "linked.mp3"}));
  EXPECT_TRUE(platform::ListEntries(dir.File("missing")).files.empty());
}

TEST(FileSystem, PortableNames) {
  for (const char* ok : {"Talvino - 发如雪.mp3", "a", "x y (3).WMA", ".hidden"}) {
    EXPECT_TRUE(platform::IsPortableFileName(ok)) << ok;
  }
  for (const std::string& bad :
       Names{"", ".", "..", "a/b", "../x", "a\\b", "c:d", "a*", "why?", "\"q\"", "<", ">", "a|b",
             std::string("tab\there"), std::string(256, 'n')}) {
    EXPECT_FALSE(platform::IsPortableFileName(bad)) << bad;
  }
}

TEST(FileSystem, RenameNeverReplaces) {
  TempDir dir;
  std::string folder = dir.path() + "/";
  dir.Write("a.mp3", FromString("A"));
  dir.Write("b.mp3", FromString("B"));
  EXPECT_FALSE(platform::RenameInFolder(folder, "a.mp3", "b.mp3"));
  EXPECT_FALSE(platform::RenameNoReplace(dir.File("a.mp3"), dir.File("b.mp3")));
  EXPECT_EQ(ReadAll(dir.File("b.mp3")), FromString("B"));
  EXPECT_EQ(ReadAll(dir.File("a.mp3")), FromString("A"));

  ASSERT_TRUE(platform::RenameInFolder(folder, "a.mp3", "Talvino - 发如雪.mp3"));
  EXPECT_EQ(dir.Names(), (Names{"Talvino - 发如雪.mp3", "b.mp3"}));
  EXPECT_FALSE(platform::RenameInFolder(folder, "missing.mp3", "c.mp3"));
}

TEST(FileSystem, RenameRefusesNamesThatLeaveTheFolderOrDoNotTravel) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.File("sub").c_str(), 0755), 0);
  std::string folder = dir.File("sub") + "/";
  dir.Write("sub/a.mp3", FromString("A"));
  for (const char* bad : {"../x.mp3", "x/y.mp3", "what?.mp3", "a*b.mp3", ".."}) {
    EXPECT_FALSE(platform::RenameInFolder(folder, "a.mp3", bad)) << bad;
  }
  EXPECT_EQ(dir.Names(), (Names{"sub"}));
  EXPECT_EQ(ReadAll(dir.File("sub/a.mp3")), FromString("A"));
}

TEST(FileSystem, CaseOnlyRenameGoesThroughATemporaryName) {
  TempDir dir;
  std::string folder = dir.path() + "/";
  dir.Write("song.mp3", FromString("S"));
  ASSERT_TRUE(platform::RenameInFolder(folder, "song.mp3", "Song.MP3"));
  EXPECT_EQ(dir.Names(), (Names{"Song.MP3"}));

  // On a case-sensitive file system the other spelling may be another file: it survives.
  dir.Write("song.mp3", FromString("other"));
  EXPECT_FALSE(platform::RenameInFolder(folder, "Song.MP3", "song.mp3"));
  EXPECT_EQ(dir.Names(), (Names{"Song.MP3", "song.mp3"}));
  EXPECT_EQ(ReadAll(dir.File("song.mp3")), FromString("other"));
  EXPECT_EQ(ReadAll(dir.File("Song.MP3")), FromString("S"));
}

// Each way of renaming without replacing, reached by refusing the ways before it as FAT and exFAT
// through FUSE and SMB shares do; and the case-only rename on a file system that folds case.
TEST(FileSystem, EveryWayOfRenamingNeverReplaces) {
  struct Way {
    const char* what;
    std::initializer_list<Feature> refused;
  };
  for (const Way& way : {Way{"renameat2", {}}, Way{"hard link", {Feature::kRenameNoReplace}},
                         Way{"placeholder", {Feature::kRenameNoReplace, Feature::kHardLink}}}) {
    SCOPED_TRACE(way.what);
    TempDir dir;
    std::string folder = dir.path() + "/";
    dir.Write("a.mp3", FromString("A"));
    dir.Write("b.mp3", FromString("B"));
    Refusing refusing(way.refused);
    EXPECT_FALSE(platform::RenameNoReplace(dir.File("a.mp3"), dir.File("b.mp3")));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_FALSE(platform::RenameNoReplace(dir.File("missing"), dir.File("c.mp3")));
    EXPECT_EQ(dir.Names(), (Names{"a.mp3", "b.mp3"}));  // no placeholder is left
    EXPECT_EQ(ReadAll(dir.File("b.mp3")), FromString("B"));

    ASSERT_TRUE(platform::RenameInFolder(folder, "a.mp3", "c.mp3"));
    EXPECT_EQ(dir.Names(), (Names{"b.mp3", "c.mp3"}));
    EXPECT_EQ(ReadAll(dir.File("c.mp3")), FromString("A"));

    platform::fault::Refuse(Feature::kCaseSensitivity);
    ASSERT_TRUE(platform::RenameInFolder(folder, "c.mp3", "C.MP3"));
    EXPECT_EQ(dir.Names(), (Names{"C.MP3", "b.mp3"}));
    EXPECT_FALSE(platform::RenameInFolder(folder, "C.MP3", "B.mp3"));
    EXPECT_EQ(dir.Names(), (Names{"C.MP3", "b.mp3"}));
  }
}

// Writes "NEW" plus the old file's bytes from offset 1 through a replacement of `path`.
bool Replace(const std::string& path) {
  platform::File old;
  int64_t size = 0;
  if (!old.OpenRead(path) || !old.Size(size)) return false;
  platform::ReplacementFile r;
  return r.Begin(path) && r.Write("NEW", 3) && r.CopyFrom(old, 1, size - 1) && r.Commit();
}

TEST(ReplacementFile, ReplacesInOneStepKeepingModeAndLinks) {
  TempDir dir;
  std::string path = dir.Write("f.wma", FromString("old content"));
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_EQ(::symlink("f.wma", dir.File("link.wma").c_str()), 0);
  ASSERT_TRUE(Replace(dir.File("link.wma")));
  EXPECT_EQ(ReadAll(path), FromString("NEWld content"));
  EXPECT_EQ(testfiles::Mode(path), 0640u);
  struct stat st;
  ASSERT_EQ(::lstat(dir.File("link.wma").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));  // the link still points to the replaced file
  EXPECT_EQ(dir.Names(), (Names{"f.wma", "link.wma"}));
}

TEST(ReplacementFile, RefusesWhatItMustNotReplace) {
  TempDir dir;
  std::string ro = dir.Write("ro.wma", FromString("read only"));
  ASSERT_EQ(::chmod(ro.c_str(), 0444), 0);
  std::string linked = dir.Write("linked.wma", FromString("two names"));
  ASSERT_EQ(::link(linked.c_str(), dir.File("other-name.wma").c_str()), 0);
  platform::ReplacementFile r;
  EXPECT_FALSE(r.Begin(ro));
  EXPECT_FALSE(r.Begin(linked));
  EXPECT_EQ(r.error(), EMLINK);
  EXPECT_FALSE(r.Begin(dir.path()));
  EXPECT_FALSE(r.Begin(dir.File("missing.wma")));
  EXPECT_EQ(ReadAll(ro), FromString("read only"));
  EXPECT_EQ(testfiles::Mode(ro), 0444u);
  EXPECT_EQ(dir.Names(), (Names{"linked.wma", "other-name.wma", "ro.wma"}));
}

TEST(ReplacementFile, FailureOrAbandonLeavesTheOriginalAndNoTemporaryFile) {
  TempDir dir;
  Bytes big(3 << 20);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 31);
  std::string path = dir.Write("big.wma", big);
  for (int64_t budget : {int64_t{0}, int64_t{2}, int64_t{1} << 20}) {
    SCOPED_TRACE(budget);
    platform::fault::FailWritesAfter(budget);
    EXPECT_FALSE(Replace(path));
    platform::fault::Reset();
    EXPECT_EQ(ReadAll(path), big);
    EXPECT_EQ(dir.Names(), (Names{"big.wma"}));
  }
  {
    platform::ReplacementFile r;
    ASSERT_TRUE(r.Begin(path));
    ASSERT_TRUE(r.Write("partial", 7));
  }  // dropped without Commit
  EXPECT_EQ(dir.Names(), (Names{"big.wma"}));
  EXPECT_EQ(ReadAll(path), big);
}

TEST(ReplacementFile, PermissionBitsAreSkippedOnlyWhereTheFileSystemHasNone) {
  struct Case {
    int err;
    bool saved;
  };
  for (const Case& c : {Case{ENOSYS, true}, Case{EOPNOTSUPP, true}, Case{EPERM, false}}) {
    SCOPED_TRACE(c.err);
    TempDir dir;
    std::string path = dir.Write("f.wma", FromString("old"));
    platform::fault::FailChmod(c.err);
    EXPECT_EQ(Replace(path), c.saved);
    platform::fault::Reset();
    EXPECT_EQ(ReadAll(path), FromString(c.saved ? "NEWld" : "old"));
    EXPECT_EQ(dir.Names(), (Names{"f.wma"}));
  }
}

// A save killed while it writes the new content: with an unnamed temporary file it leaves
// nothing; with a named one, the next save in the folder removes it, but neither another live
// save's temporary file nor files that only look alike.
TEST(ReplacementFile, AKilledSaveLeavesNothingForLong) {
  for (bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed);
    TempDir dir;
    std::string path = dir.Write("f.wma", FromString("old"));
    dir.Write(".velomi-Ab12Cd", FromString("keep"));
    dir.Write(".velomi-notes-1-2-x-y", FromString("keep"));
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (!unnamed) platform::fault::Refuse(Feature::kUnnamedTemp);
      platform::ReplacementFile r;
      if (r.Begin(path) && r.Write("partial", 7)) ::raise(SIGKILL);
      ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(dir.Names().size(), unnamed ? 3u : 4u);

    Refusing refusing({Feature::kUnnamedTemp});
    platform::ReplacementFile live;  // a save of this live process: its file must stay
    ASSERT_TRUE(live.Begin(dir.Write("g.wma", FromString("g"))));
    EXPECT_EQ(dir.Names().size(), 5u);
    ASSERT_TRUE(Replace(path));
    EXPECT_EQ(dir.Names().size(), 5u);
    live.Abandon();
    EXPECT_EQ(dir.Names(), (Names{".velomi-Ab12Cd", ".velomi-notes-1-2-x-y", "f.wma", "g.wma"}));
    EXPECT_EQ(ReadAll(path), FromString("NEWld"));
  }
}

}  // namespace
