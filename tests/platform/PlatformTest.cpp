// The platform's file calls as every system gives them: built for Linux and for Windows alike.
// What only one system has (links, modes and forks; attributes, share modes and child processes)
// is in PlatformPosixTest.cpp and PlatformWindowsTest.cpp.
#include "PlatformTest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"
#include "platform/ReplacementFile.h"

namespace {

using platformtest::Names;
using platformtest::Replace;
using testfiles::Bytes;
using testfiles::FromString;
using testfiles::ReadAll;
using testfiles::TempDir;

TEST(File, OpensRegularFilesOnlyAndReadsExactly) {
  TempDir dir;
  std::string path = dir.Write("f.bin", FromString("0123456789"));

  platform::File f;
  EXPECT_FALSE(f.OpenRead(dir.path()));  // a folder
  EXPECT_EQ(f.error(), EISDIR);
  EXPECT_FALSE(f.OpenReadWrite(dir.File("missing")));
  EXPECT_EQ(f.error(), ENOENT);
  EXPECT_EQ(dir.Names(), (Names{"f.bin"}));  // opening never creates a file

  ASSERT_TRUE(f.OpenRead(path));
  int64_t size = 0;
  ASSERT_TRUE(f.Size(size));
  EXPECT_EQ(size, 10);
  EXPECT_EQ(f.SizeAtOpen(), 10);
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
  platform::fault::FailSyncs(EIO);
  EXPECT_FALSE(f.SyncData());
  EXPECT_EQ(f.error(), EIO);
  platform::fault::Reset();
  ASSERT_TRUE(f.Close());
  EXPECT_EQ(ReadAll(path), FromString("abcd"));
}

TEST(FileSystem, ExistsAndClearReadOnly) {
  TempDir dir;
  std::string path = dir.Write("f", FromString("x"));
  EXPECT_TRUE(platform::FileExists(path));
  EXPECT_FALSE(platform::FileExists(dir.path()));
  EXPECT_FALSE(platform::FileExists(dir.File("missing")));

  testfiles::MakeReadOnly(path);
  ASSERT_TRUE(testfiles::IsReadOnly(path));
  platform::ClearReadOnly(path);
  EXPECT_FALSE(testfiles::IsReadOnly(path));
  platform::ClearReadOnly(dir.File("missing"));  // ignored
}

TEST(FileSystem, ListFolderMatchesCaseInsensitivelyAndSortsByName) {
  TempDir dir;
  for (const char* name : {"b.MP3", "A.mp3", "c.Mp3", "a.wma", "x.mp3.txt", "mp3", "Zz.mp3",
                           "周杰伦 - 发如雪.mp3", "\xF0\x9F\x8E\xB5 note.mp3"}) {
    dir.Write(name, FromString("x"));
  }
  testfiles::MakeFolder(dir.File("folder.mp3"));
  EXPECT_EQ(platform::ListFolder(dir.path(), ".mp3"),
            (Names{"A.mp3", "b.MP3", "c.Mp3", "Zz.mp3", "周杰伦 - 发如雪.mp3",
                   "\xF0\x9F\x8E\xB5 note.mp3"}));
  EXPECT_EQ(platform::ListFolder(dir.path() + "/", ".wma"), (Names{"a.wma"}));
  EXPECT_TRUE(platform::ListFolder(dir.File("missing"), ".mp3").empty());
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
  dir.Write("a.mp3", FromString("A"));
  dir.Write("b.mp3", FromString("B"));
  platform::Folder folder;
  ASSERT_TRUE(folder.Open(dir.path()));
  EXPECT_FALSE(folder.Rename("a.mp3", "b.mp3"));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_FALSE(platform::RenameNoReplace(dir.File("a.mp3"), dir.File("b.mp3")));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(ReadAll(dir.File("b.mp3")), FromString("B"));
  EXPECT_EQ(ReadAll(dir.File("a.mp3")), FromString("A"));

  ASSERT_TRUE(folder.Rename("a.mp3", "Talvino - 发如雪.mp3"));
  EXPECT_EQ(dir.Names(), (Names{"Talvino - 发如雪.mp3", "b.mp3"}));
  EXPECT_EQ(ReadAll(dir.File("Talvino - 发如雪.mp3")), FromString("A"));
  EXPECT_FALSE(folder.Rename("missing.mp3", "c.mp3"));
  EXPECT_EQ(errno, ENOENT);
}

// Names that leave the folder are refused by the folder itself; names that do not travel
// (`IsPortableFileName`, above) are refused by the rename plan before any rename.
TEST(FileSystem, RenameRefusesNamesThatLeaveTheFolder) {
  TempDir dir;
  testfiles::MakeFolder(dir.File("sub"));
  dir.Write("sub/a.mp3", FromString("A"));
  platform::Folder folder;
  ASSERT_TRUE(folder.Open(dir.File("sub")));
  for (const char* bad : {"../x.mp3", "x/y.mp3", "..", "."}) {
    EXPECT_FALSE(folder.Rename("a.mp3", bad)) << bad;
    EXPECT_EQ(folder.error(), EINVAL) << bad;
  }
  EXPECT_EQ(dir.Names(), (Names{"sub"}));
  EXPECT_EQ(ReadAll(dir.File("sub/a.mp3")), FromString("A"));
}

TEST(FileSystem, CaseOnlyRenameGoesThroughATemporaryName) {
  TempDir dir;
  dir.Write("song.mp3", FromString("S"));
  platform::Folder folder;
  ASSERT_TRUE(folder.Open(dir.path()));
  ASSERT_TRUE(folder.Rename("song.mp3", "Song.MP3"));
  EXPECT_EQ(dir.Names(), (Names{"Song.MP3"}));
  EXPECT_EQ(ReadAll(dir.File("Song.MP3")), FromString("S"));
}

// A name of 240 bytes in the test's folder: a path past the 260 characters of Windows' classic
// calls, which every call must take all the same.
TEST(FileSystem, LongPaths) {
  TempDir dir;
  std::string folder = dir.path() + "/";
  const std::string name = std::string(220, 'n') + " 周杰伦 - 发如雪.wma";
  ASSERT_GT(folder.size() + name.size(), 260u);
  dir.Write("short.wma", FromString("old content"));
  platform::Folder opened;
  ASSERT_TRUE(opened.Open(folder));
  ASSERT_TRUE(opened.Rename("short.wma", name));
  const std::string path = folder + name;
  EXPECT_TRUE(platform::FileExists(path));
  EXPECT_EQ(platform::ListFolder(folder, ".wma"), (Names{name}));
  ASSERT_TRUE(Replace(path));
  platform::File f;
  ASSERT_TRUE(f.OpenReadWrite(path));
  ASSERT_TRUE(f.WriteAt(0, "L", 1));
  ASSERT_TRUE(f.Close());
  ASSERT_TRUE(platform::SyncFileSystemsOf({path}));
  ASSERT_TRUE(opened.Rename(name, "back.wma"));
  EXPECT_EQ(dir.Names(), (Names{"back.wma"}));
  EXPECT_EQ(ReadAll(dir.File("back.wma")), FromString("LEWld content"));
}

TEST(ReplacementFile, ReplacesInOneStep) {
  TempDir dir;
  std::string path = dir.Write("f.wma", FromString("old content"));
  ASSERT_TRUE(Replace(path));
  EXPECT_EQ(ReadAll(path), FromString("NEWld content"));
  EXPECT_EQ(dir.Names(), (Names{"f.wma"}));
}

TEST(ReplacementFile, RefusesWhatItMustNotReplace) {
  TempDir dir;
  std::string ro = dir.Write("ro.wma", FromString("read only"));
  testfiles::MakeReadOnly(ro);
  std::string linked = dir.Write("linked.wma", FromString("two names"));
  std::filesystem::create_hard_link(testfiles::Fs(linked), testfiles::Fs(dir.File("other.wma")));
  platform::ReplacementFile r;
  EXPECT_FALSE(r.Begin(ro));
  EXPECT_EQ(r.error(), EACCES);
  EXPECT_FALSE(r.Begin(linked));
  EXPECT_EQ(r.error(), EMLINK);
  EXPECT_FALSE(r.Begin(dir.path()));
  EXPECT_EQ(r.error(), EISDIR);
  EXPECT_FALSE(r.Begin(dir.File("missing.wma")));
  EXPECT_EQ(r.error(), ENOENT);
  EXPECT_EQ(ReadAll(ro), FromString("read only"));
  EXPECT_TRUE(testfiles::IsReadOnly(ro));
  EXPECT_EQ(dir.Names(), (Names{"linked.wma", "other.wma", "ro.wma"}));
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
  platform::fault::FailSyncs(EIO);  // the new content cannot be known to be on the disk
  EXPECT_FALSE(Replace(path));
  platform::fault::Reset();
  EXPECT_EQ(ReadAll(path), big);
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

}  // namespace
