// Folders opened once, the program's private files and its lock files, as every system gives
// them: built for Linux and for Windows alike.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "PlatformTest.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"
#include "platform/PrivateFiles.h"

namespace {

using platformtest::Names;
using testfiles::FromString;
using testfiles::ReadAll;
using testfiles::TempDir;

std::string Read(const platform::File& file) {
  std::string bytes(static_cast<size_t>(file.SizeAtOpen()), '\0');
  return file.ReadAt(0, bytes.data(), bytes.size()) ? bytes : "<failed>";
}

TEST(Folder, ActsOnPlainNamesOnly) {
  for (const char* bad : {"", ".", "..", "a/b", "../x.mp3"}) {
    EXPECT_FALSE(platform::IsPlainName(bad)) << bad;
  }
  EXPECT_FALSE(platform::IsPlainName(std::string("a\0b", 3)));
  for (const char* good : {"a.mp3", ".hidden", "周杰伦 - 发如雪.mp3", "..x"}) {
    EXPECT_TRUE(platform::IsPlainName(good)) << good;
  }

  TempDir dir;
  testfiles::MakeFolder(dir.File("sub"));
  dir.Write("sub/a.mp3", FromString("A"));
  dir.Write("outside.mp3", FromString("O"));
  platform::Folder folder;
  ASSERT_TRUE(folder.Open(dir.File("sub")));
  EXPECT_EQ(folder.Path(), dir.File("sub") + "/");
  platform::File file;
  for (const char* bad : {"../outside.mp3", "", ".."}) {
    EXPECT_FALSE(folder.Stat(bad).exists) << bad;
    EXPECT_FALSE(folder.OpenFile(bad, false, file)) << bad;
    EXPECT_EQ(folder.error(), EINVAL) << bad;
    EXPECT_FALSE(folder.Rename("a.mp3", bad)) << bad;
    EXPECT_FALSE(folder.Remove(bad)) << bad;
  }
  EXPECT_EQ(dir.Names(), (Names{"outside.mp3", "sub"}));
  EXPECT_EQ(ReadAll(dir.File("sub/a.mp3")), FromString("A"));
}

TEST(Folder, StatsOpensRenamesAndRemovesInsideTheFolder) {
  TempDir dir;
  const std::string a = dir.Write("a.mp3", FromString("AAA"));
  dir.Write("b.mp3", FromString("B"));
  testfiles::MakeFolder(dir.File("sub"));
  platform::Folder folder;
  EXPECT_FALSE(folder.Open(a));
  EXPECT_EQ(folder.error(), ENOTDIR);
  EXPECT_FALSE(folder.Open(dir.File("missing")));
  EXPECT_EQ(folder.error(), ENOENT);
  ASSERT_TRUE(folder.Open(dir.path() + "/"));

  const platform::EntryInfo info = folder.Stat("a.mp3");
  EXPECT_TRUE(info.exists && info.regular && !info.folder && !info.link && info.ours);
  EXPECT_EQ(info.size, 3);
  EXPECT_NE(info.mode & 0200, 0u);
  EXPECT_TRUE(info.SameFile(platform::StatPath(a, false)));
  EXPECT_FALSE(info.SameFile(folder.Stat("b.mp3")));
  EXPECT_TRUE(folder.Stat("sub").folder);
  EXPECT_FALSE(folder.Stat("missing").exists);
  EXPECT_TRUE(folder.Lists("a.mp3"));
  EXPECT_FALSE(folder.Lists("A.MP3"));  // the spelling the listing has, whatever the system folds

  platform::File file;
  EXPECT_FALSE(folder.OpenFile("sub", false, file));
  EXPECT_EQ(folder.error(), EISDIR);
  ASSERT_TRUE(folder.OpenFile("a.mp3", true, file));
  EXPECT_EQ(file.DeviceAtOpen(), info.device);
  EXPECT_EQ(file.InodeAtOpen(), info.inode);
  ASSERT_TRUE(file.WriteAt(0, "x", 1));
  ASSERT_TRUE(platform::Folder::SetMode(file, info.mode & ~0200u));
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(folder.Stat("a.mp3").mode & 0200, 0u);
  EXPECT_TRUE(testfiles::IsReadOnly(a));
  ASSERT_TRUE(folder.OpenFile("a.mp3", false, file));
  EXPECT_EQ(Read(file), "xAA");
  ASSERT_TRUE(platform::Folder::SetMode(file, info.mode));
  file.Close();
  EXPECT_FALSE(testfiles::IsReadOnly(a));

  EXPECT_FALSE(folder.Rename("a.mp3", "b.mp3"));  // never over another file
  EXPECT_EQ(folder.error(), EEXIST);
  ASSERT_TRUE(folder.Rename("a.mp3", "c.mp3"));
  ASSERT_TRUE(folder.Rename("c.mp3", "C.mp3"));  // letter case only
  EXPECT_TRUE(folder.Lists("C.mp3"));
  ASSERT_TRUE(folder.Remove("b.mp3"));
  EXPECT_FALSE(folder.Remove("b.mp3"));
  EXPECT_EQ(folder.error(), ENOENT);
  EXPECT_TRUE(folder.Sync());
  platform::fault::FailSyncs(EIO);
  EXPECT_FALSE(folder.Sync());
  platform::fault::Reset();
  EXPECT_EQ(folder.error(), EIO);
  EXPECT_EQ(dir.Names(), (Names{"C.mp3", "sub"}));
  EXPECT_EQ(ReadAll(dir.File("C.mp3")), FromString("xAA"));
}

// A case-only rename stopped at its temporary name goes back to the old name; a taken temporary
// name given by the caller stops it before anything moves.
TEST(Folder, ACaseOnlyRenameStoppedHalfwayGoesBack) {
  TempDir dir;
  dir.Write("song.mp3", FromString("S"));
  dir.Write("taken.tmp", FromString("T"));
  platform::Folder folder;
  ASSERT_TRUE(folder.Open(dir.path()));
  platform::fault::OnStep([](platform::fault::Step) { return EIO; });
  EXPECT_FALSE(folder.Rename("song.mp3", "SONG.mp3"));
  platform::fault::Reset();
  EXPECT_EQ(folder.error(), EIO);
  EXPECT_FALSE(folder.Rename("song.mp3", "SONG.mp3", "taken.tmp"));
  EXPECT_EQ(folder.error(), EEXIST);
  EXPECT_EQ(dir.Names(), (Names{"song.mp3", "taken.tmp"}));
  ASSERT_TRUE(folder.Rename("song.mp3", "SONG.mp3", "free.tmp"));
  EXPECT_EQ(dir.Names(), (Names{"SONG.mp3", "taken.tmp"}));
}

// Once open, the folder is the one that was opened: either no one can move it away (Windows), or
// its calls follow it where it went (POSIX); no call reaches a folder put at its old path.
TEST(Folder, StaysTheFolderThatWasOpened) {
  TempDir dir;
  testfiles::MakeFolder(dir.File("music"));
  dir.Write("music/a.mp3", FromString("mine"));
  platform::Folder folder;
  ASSERT_TRUE(folder.Open(dir.File("music")));
  std::error_code moved;
  std::filesystem::rename(testfiles::Fs(dir.File("music")), testfiles::Fs(dir.File("moved")),
                          moved);
  if (!moved) {
    testfiles::MakeFolder(dir.File("music"));
    dir.Write("music/a.mp3", FromString("other"));
  }
  platform::File file;
  ASSERT_TRUE(folder.OpenFile("a.mp3", false, file));
  EXPECT_EQ(Read(file), "mine");
}

// Links are refused at the name a call takes, and followed where asked for. Skipped where this
// user may not make links (Windows without the privilege).
TEST(Folder, NeverFollowsALinkAtAName) {
  TempDir dir;
  const std::string target = dir.Write("target.mp3", FromString("T"));
  testfiles::MakeFolder(dir.File("real"));
  if (!testfiles::MakeLink(target, dir.File("link.mp3"), false)) {
    GTEST_SKIP() << "this user may not make symbolic links here";
  }
  ASSERT_TRUE(testfiles::MakeLink(dir.File("real"), dir.File("linked"), true));

  platform::Folder folder;
  EXPECT_FALSE(folder.Open(dir.File("linked")));
  EXPECT_EQ(folder.error(), ELOOP);
  ASSERT_TRUE(folder.Open(dir.path()));
  EXPECT_TRUE(folder.Stat("link.mp3").link);
  EXPECT_FALSE(folder.Stat("link.mp3").regular);
  platform::File file;
  EXPECT_FALSE(folder.OpenFile("link.mp3", false, file));
  EXPECT_EQ(folder.error(), ELOOP);
  EXPECT_TRUE(platform::StatPath(dir.File("link.mp3"), false).link);
  EXPECT_TRUE(platform::StatPath(dir.File("link.mp3"), true).regular);
  EXPECT_TRUE(platform::StatPath(dir.File("linked"), true).folder);
  EXPECT_EQ(platform::RealPath(dir.File("linked/../link.mp3")), platform::RealPath(target));
  EXPECT_EQ(platform::ListEntries(dir.path()).folders, (Names{"linked", "real"}));

  const std::string state = dir.File("state");
  ASSERT_TRUE(testfiles::MakeLink(dir.File("real"), state, true));
  EXPECT_EQ(platform::EnsurePrivateFolder(state), ELOOP);
  EXPECT_EQ(platform::OpenPrivateFile(dir.File("link.mp3"), platform::PrivateOpen::kAppend, file),
            ELOOP);
  EXPECT_EQ(ReadAll(target), FromString("T"));
}

TEST(FileSystem, RealPathsAndListings) {
  TempDir dir;
  testfiles::MakeFolder(dir.File("sub"));
  dir.Write("sub/b.mp3", FromString("x"));
  dir.Write("a.WMA", FromString("x"));
  dir.Write("C.mp3", FromString("x"));
  const std::string real = platform::RealPath(dir.File("sub/../sub/b.mp3"));
  ASSERT_FALSE(real.empty());
  EXPECT_GT(platform::RootLength(real), 0u);
  EXPECT_EQ(real.substr(real.size() - 10), "/sub/b.mp3");
  EXPECT_TRUE(
      platform::StatPath(real, false).SameFile(platform::StatPath(dir.File("sub/b.mp3"), false)));
  EXPECT_TRUE(platform::RealPath(dir.File("missing")).empty());
  EXPECT_EQ(errno, ENOENT);

  const platform::FolderEntries entries = platform::ListEntries(dir.path());
  EXPECT_EQ(entries.files, (Names{"a.WMA", "C.mp3"}));
  EXPECT_EQ(entries.folders, (Names{"sub"}));
  EXPECT_TRUE(platform::ListEntries(dir.File("missing")).files.empty());
}

TEST(PrivateFiles, AFolderAndFilesOfThisUserOnly) {
  TempDir dir;
  const std::string state = dir.File("a/b/velomi");
  EXPECT_EQ(platform::EnsurePrivateFolder(state), 0);  // its parents too
  EXPECT_EQ(platform::EnsurePrivateFolder(state), 0);
  EXPECT_TRUE(platform::StatPath(state, false).folder);
  EXPECT_TRUE(platform::StatPath(state, false).ours);
  EXPECT_EQ(platform::EnsurePrivateFolder(dir.Write("file", FromString("x"))), ENOTDIR);

  const std::string journal = state + "/journal.jsonl";
  platform::File file;
  EXPECT_EQ(platform::OpenPrivateFile(journal, platform::PrivateOpen::kRead, file), ENOENT);
  ASSERT_EQ(platform::OpenPrivateFile(journal, platform::PrivateOpen::kAppend, file), 0);
  ASSERT_TRUE(file.Append("one\n", 4));
  platform::File other;
  ASSERT_EQ(platform::OpenPrivateFile(journal, platform::PrivateOpen::kAppend, other), 0);
  ASSERT_TRUE(other.Append("two\n", 4));
  ASSERT_TRUE(file.Append("three\n", 6));  // at the end, after the other writer's record
  ASSERT_TRUE(file.SyncData() && file.Close() && other.Close());
  ASSERT_EQ(platform::OpenPrivateFile(journal, platform::PrivateOpen::kRead, file), 0);
  EXPECT_EQ(Read(file), "one\ntwo\nthree\n");
  file.Close();
  EXPECT_EQ(platform::OpenPrivateFile(state, platform::PrivateOpen::kRead, file), EINVAL);

  ASSERT_EQ(platform::ReplacePrivateFile(journal, "kept\n"), 0);
  EXPECT_EQ(ReadAll(journal), FromString("kept\n"));
  platform::fault::FailSyncs(EIO);
  EXPECT_EQ(platform::ReplacePrivateFile(journal, "lost\n"), EIO);
  platform::fault::Reset();
  EXPECT_EQ(ReadAll(journal), FromString("kept\n"));
  EXPECT_EQ(platform::ListEntries(state).files, (Names{"journal.jsonl"}));
  EXPECT_EQ(platform::RemoveFile(journal), 0);
  EXPECT_EQ(platform::RemoveFile(journal), ENOENT);
}

TEST(FileLock, HeldUntilUnlockedAndRemovedOnlyWhenFree) {
  TempDir dir;
  const std::string path = dir.File("owner.lock");
  EXPECT_FALSE(platform::FileLock::HeldByAnother(path));  // no file
  platform::FileLock lock, second;
  ASSERT_EQ(lock.Lock(path, false), 0);
  EXPECT_TRUE(lock.Held());
  EXPECT_TRUE(platform::FileLock::HeldByAnother(path));  // this process's own lock counts
  EXPECT_EQ(second.Lock(path, false), EWOULDBLOCK);
  EXPECT_FALSE(platform::FileLock::RemoveIfFree(path));
  EXPECT_EQ(dir.Names(), (Names{"owner.lock"}));
  lock.Unlock();
  EXPECT_FALSE(platform::FileLock::HeldByAnother(path));
  EXPECT_TRUE(platform::FileLock::RemoveIfFree(path));
  EXPECT_EQ(dir.Names(), Names{});
  EXPECT_FALSE(platform::FileLock::RemoveIfFree(path));
  ASSERT_EQ(second.Lock(path, true), 0);  // made again
  EXPECT_TRUE(platform::FileLock::HeldByAnother(path));
}

}  // namespace
