// The platform's file calls where POSIX systems differ: FIFOs and symbolic links, permission
// bits, case-sensitive names, the ways of renaming without replacing that some file systems lack,
// and a save killed in a forked child.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "PlatformTest.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"

namespace {

using platform::fault::Feature;
using platformtest::Names;
using platformtest::Refusing;
using platformtest::Replace;
using testfiles::FromString;
using testfiles::ReadAll;
using testfiles::TempDir;

TEST(File, NeverWaitsOnAFifoAndFollowsLinks) {
  TempDir dir;
  dir.Write("f.bin", FromString("0123456789"));
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("f.bin", dir.File("link").c_str()), 0);
  platform::File f;
  EXPECT_FALSE(f.OpenRead(dir.File("fifo")));  // must not block waiting for a writer
  ASSERT_TRUE(f.OpenRead(dir.File("link")));
  EXPECT_EQ(f.SizeAtOpen(), 10);
}

TEST(FileSystem, ExistsFollowsLinksAndClearReadOnlyAddsTheOwnersWriteBit) {
  TempDir dir;
  std::string path = dir.Write("f", FromString("x"));
  ASSERT_EQ(::symlink("f", dir.File("good").c_str()), 0);
  ASSERT_EQ(::symlink("nothing", dir.File("broken").c_str()), 0);
  EXPECT_TRUE(platform::FileExists(dir.File("good")));
  EXPECT_FALSE(platform::FileExists(dir.File("broken")));

  ASSERT_EQ(::chmod(path.c_str(), 0440), 0);
  platform::ClearReadOnly(path);
  EXPECT_EQ(testfiles::Mode(path), 0640u);
}

TEST(FileSystem, ListFolderTakesLinksToFilesOnly) {
  TempDir dir;
  dir.Write("c.Mp3", FromString("x"));
  ASSERT_EQ(::mkdir(dir.File("folder.mp3").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("folder.mp3", dir.File("linked.mp3").c_str()), 0);
  ASSERT_EQ(::symlink("c.Mp3", dir.File("d.mp3").c_str()), 0);
  EXPECT_EQ(platform::ListFolder(dir.path(), ".mp3"), (Names{"c.Mp3", "d.mp3"}));
}

TEST(FileSystem, ACaseOnlyRenameSparesAnotherFileOfThatSpelling) {
  // On a case-sensitive file system the other spelling may be another file: it survives.
  TempDir dir;
  std::string folder = dir.path() + "/";
  dir.Write("Song.MP3", FromString("S"));
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

TEST(FileSystem, TheRootIsTheSlashAndNamesMayHoldWhatWindowsRefuses) {
  for (const char* path : {"/", "/music/a.mp3", "//nas/music"}) {
    EXPECT_EQ(platform::RootLength(path), 1u) << path;
  }
  for (const char* path : {"", "music/a.mp3", "C:/music"}) {
    EXPECT_EQ(platform::RootLength(path), 0u) << path;
  }
  EXPECT_TRUE(platform::IsPlainName("a\\b:c.mp3"));
  EXPECT_EQ(platform::GenericPath("a\\b/c"), "a\\b/c");
}

TEST(FileSystem, StateFolderFollowsTheXdgVariable) {
  const char* saved = std::getenv("XDG_STATE_HOME");
  const std::string keep = saved ? saved : "";
  ::setenv("XDG_STATE_HOME", "/var/tmp/state", 1);
  EXPECT_EQ(platform::StateFolder(), "/var/tmp/state/velomi");
  ::setenv("XDG_STATE_HOME", "relative/state", 1);  // not absolute: passed over
  EXPECT_EQ(platform::StateFolder(), std::string(std::getenv("HOME")) + "/.local/state/velomi");
  if (saved) {
    ::setenv("XDG_STATE_HOME", keep.c_str(), 1);
  } else {
    ::unsetenv("XDG_STATE_HOME");
  }
}

TEST(ReplacementFile, KeepsModeAndLinks) {
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

TEST(ReplacementFile, ReplacesAFileThatThisProgramHasOpen) {
  TempDir dir;
  std::string path = dir.Write("f.wma", FromString("old content"));
  platform::File reader;
  ASSERT_TRUE(reader.OpenRead(path));
  ASSERT_TRUE(Replace(path));
  char buf[3];
  ASSERT_TRUE(reader.ReadAt(0, buf, 3));
  EXPECT_EQ(std::string(buf, 3), "old");  // the reader keeps the old content
  EXPECT_EQ(ReadAll(path), FromString("NEWld content"));
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

TEST(FileSystem, ListEntriesGivesFilesAndFoldersInOneReading) {
  TempDir dir;
  for (const char* name : {"b.MP3", "A.mp3", "c.Mp3", "a.wma", "x.mp3.txt", "mp3", "Zz.mp3"}) {
    dir.Write(name, FromString("x"));
  }
  ASSERT_EQ(::mkdir(dir.File("folder.mp3").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("folder.mp3", dir.File("linked.mp3").c_str()), 0);
  ASSERT_EQ(::symlink("c.Mp3", dir.File("d.mp3").c_str()), 0);
  EXPECT_EQ(platform::ListFolder(dir.path(), ".mp3"),
            (Names{"A.mp3", "b.MP3", "c.Mp3", "d.mp3", "Zz.mp3"}));
  // All entries in one reading, in the same order; links to folders are folders.
  dir.Write("a.MP3", FromString("x"));  // equal to a.mp3 once folded: ordered by bytes
  const platform::FolderEntries all = platform::ListEntries(dir.path());
  EXPECT_EQ(all.files, (Names{"A.mp3", "a.MP3", "a.wma", "b.MP3", "c.Mp3", "d.mp3", "mp3",
                              "x.mp3.txt", "Zz.mp3"}));
  EXPECT_EQ(all.folders, (Names{"folder.mp3", "linked.mp3"}));
  EXPECT_TRUE(platform::ListEntries(dir.File("missing")).files.empty());
}

}  // namespace
