// The platform's file calls where POSIX systems differ: FIFOs and symbolic links, permission
// bits, case-sensitive names, the ways of renaming without replacing that some file systems lack,
// and a save killed in a forked child.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>

#include "PlatformTest.h"
#include "platform/Errno.h"
#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"
#include "platform/PrivateFiles.h"
#include "platform/Process.h"
#include "platform/ReplacementFile.h"

namespace {

using platform::fault::Feature;
using platformtest::Names;
using platformtest::Refusing;
using platformtest::Replace;
using testfiles::Bytes;
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
  EXPECT_EQ(f.error(), platform::kErrFifo);    // and says what it is
  EXPECT_FALSE(f.OpenReadWrite("/dev/null"));
  EXPECT_EQ(f.error(), platform::kErrDevice);
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
  dir.Write("Song.MP3", FromString("S"));
  dir.Write("song.mp3", FromString("other"));
  platform::Folder folder;
  ASSERT_TRUE(folder.Open(dir.path()));
  EXPECT_FALSE(folder.Rename("Song.MP3", "song.mp3"));
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
    dir.Write("a.mp3", FromString("A"));
    dir.Write("b.mp3", FromString("B"));
    platform::Folder folder;
    ASSERT_TRUE(folder.Open(dir.path()));
    Refusing refusing(way.refused);
    EXPECT_FALSE(platform::RenameNoReplace(dir.File("a.mp3"), dir.File("b.mp3")));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_FALSE(platform::RenameNoReplace(dir.File("missing"), dir.File("c.mp3")));
    EXPECT_EQ(dir.Names(), (Names{"a.mp3", "b.mp3"}));  // no placeholder is left
    EXPECT_EQ(ReadAll(dir.File("b.mp3")), FromString("B"));

    ASSERT_TRUE(folder.Rename("a.mp3", "c.mp3"));
    EXPECT_EQ(dir.Names(), (Names{"b.mp3", "c.mp3"}));
    EXPECT_EQ(ReadAll(dir.File("c.mp3")), FromString("A"));

    platform::fault::Refuse(Feature::kCaseSensitivity);
    ASSERT_TRUE(folder.Rename("c.mp3", "C.MP3"));
    EXPECT_EQ(dir.Names(), (Names{"C.MP3", "b.mp3"}));
    EXPECT_FALSE(folder.Rename("C.MP3", "B.mp3"));
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

// A user id that no file of the tests belongs to.
constexpr uid_t kOtherUser = 12345;

using platform::fault::Step;

// What another process does, or what fails, at one step of a rename.
struct AtStep {
  Step step;
  std::string takes;  // a path that another process fills with a file of its own there
  std::string bytes;  // what that file holds
  int err;            // what the step then fails with
};
AtStep g_atStep;

int ActAtStep(Step step) {
  if (step != g_atStep.step) return 0;
  if (!g_atStep.takes.empty()) {
    ::unlink(g_atStep.takes.c_str());
    testfiles::WriteAll(g_atStep.takes, FromString(g_atStep.bytes));
  }
  return g_atStep.err;
}

// Another process acting inside a rename, or a step that fails: a file that took the new name
// meanwhile is neither replaced nor removed, and a failed rename leaves the names as they were.
TEST(FileSystem, ARenameStoppedAtAStepLeavesEveryFileAsItWas) {
  const std::vector<Feature> placeholder = {Feature::kRenameNoReplace, Feature::kHardLink};
  const std::vector<Feature> link = {Feature::kRenameNoReplace};
  struct Case {
    const char* what;
    std::vector<Feature> refused;
    Step step;
    const char* to;
    const char* taken;  // what another process puts under the new name at the step; null: none
    int err;
  };
  const std::vector<Case> cases = {
      {"the placeholder's name taken", placeholder, Step::kPlaceholderReserved, "c.mp3", "other",
       0},
      {"the placeholder's name taken by an empty file", placeholder, Step::kPlaceholderReserved,
       "c.mp3", "", 0},
      {"the placeholder's name taken, then a failure", placeholder, Step::kPlaceholderReserved,
       "c.mp3", "other", EIO},
      {"a failure over the placeholder", placeholder, Step::kPlaceholderReserved, "c.mp3", nullptr,
       EIO},
      {"the old name not removed after the link", link, Step::kLinked, "c.mp3", nullptr, EIO},
      {"a case-only rename's second step fails", {}, Step::kCaseTempNamed, "A.mp3", nullptr, EIO},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    dir.Write("a.mp3", FromString("A"));
    for (Feature f : c.refused) platform::fault::Refuse(f);
    g_atStep = {c.step, c.taken ? dir.File(c.to) : std::string(), c.taken ? c.taken : "", c.err};
    platform::fault::OnStep(ActAtStep);
    platform::Folder folder;
    ASSERT_TRUE(folder.Open(dir.path()));
    EXPECT_FALSE(folder.Rename("a.mp3", c.to));
    EXPECT_EQ(errno, c.err != 0 ? c.err : EEXIST);
    platform::fault::Reset();
    EXPECT_EQ(ReadAll(dir.File("a.mp3")), FromString("A"));
    EXPECT_EQ(dir.Names(), c.taken ? (Names{"a.mp3", c.to}) : (Names{"a.mp3"}));
    if (c.taken) {
      EXPECT_EQ(ReadAll(dir.File(c.to)), FromString(c.taken));
    }
  }
}

// The sweep of a save's leftovers takes only regular files of this user that a process of this
// machine left and that process is gone (or its id now belongs to a later process); nothing that
// merely looks alike.
TEST(ReplacementFile, TheSweepTakesOnlyWhatOurOwnGoneProcessesLeft) {
  const platform::ProcessId self = platform::ThisProcess();
  ASSERT_GT(self.start, 0);
  const std::string ours = ".velomi-" + self.host + "-";
  const std::string gone = ours + "99999999-5-";  // a process id above any pid_max
  const std::string running = ours + std::to_string(self.pid) + "-";
  enum Kind { kFile, kFolder, kLink, kOtherUsers };
  struct Case {
    std::string name;
    Kind kind;
    bool removed;
  };
  const std::vector<Case> cases = {
      {gone + "Ab12Cd", kFile, true},
      {running + std::to_string(self.start + 1) + "-Ab12Cd", kFile, true},  // its id reused
      {running + std::to_string(self.start) + "-Ab12Cd", kFile, false},     // still at work
      {".velomi-x" + self.host + "-99999999-5-Ab12Cd", kFile, false},       // another machine's
      {gone + "Other1", kOtherUsers, false},
      {gone + "Folder", kFolder, false},
      {gone + "Linked", kLink, false},
      {ours + "99999999-0-Ab12Cd", kFile, false},  // its process could not tell its start
      {gone + "Ab-12", kFile, false},
      {gone, kFile, false},
      {"x" + gone.substr(1) + "Ab12Cd", kFile, false},
      {ours + "9999999x-5-Ab12Cd", kFile, false},
      {ours + "-5-Ab12Cd", kFile, false},
  };
  TempDir dir;
  Names kept = {"f.wma", "target"};
  dir.Write("target", FromString("t"));
  for (const Case& c : cases) {
    const std::string path = dir.File(c.name);
    if (c.kind == kFolder) {
      ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    } else if (c.kind == kLink) {
      ASSERT_EQ(::symlink("target", path.c_str()), 0);
    } else {
      dir.Write(c.name, FromString("x"));
      if (c.kind == kOtherUsers && ::chown(path.c_str(), kOtherUser, kOtherUser) != 0) {
        ::unlink(path.c_str());  // only root can give a file away
        continue;
      }
    }
    if (!c.removed) kept.push_back(c.name);
  }
  std::sort(kept.begin(), kept.end());
  ASSERT_TRUE(Replace(dir.Write("f.wma", FromString("old"))));  // the first save in the folder
  EXPECT_EQ(dir.Names(), kept);
  EXPECT_EQ(ReadAll(dir.File("target")), FromString("t"));
}

// A flush that fails is never taken for done, whatever it flushes.
TEST(FileSystem, AFailingFlushIsReported) {
  TempDir dir;
  const std::string path = dir.Write("f.wma", FromString("old"));
  std::vector<std::string> many;  // enough files to be flushed by their file system
  for (size_t i = 0; i <= platform::kFlushedEach; ++i) {
    many.push_back(dir.Write(std::to_string(i) + ".mp3", FromString("x")));
  }
  platform::File file;
  ASSERT_TRUE(file.OpenReadWrite(path));
  platform::Folder folder;
  ASSERT_TRUE(folder.Open(dir.path()));
  auto replacePrivate = [&] { return platform::ReplacePrivateFile(dir.File("p"), "p") == 0; };
  struct Flush {
    const char* what;
    std::function<bool()> flush;
    const char* only = "";  // the flushes that fail: of paths that end so
  };
  const std::vector<Flush> flushes = {
      {"a replacement's new file", [&] { return Replace(path); }},
      {"a file's data", [&] { return file.SyncData(); }},
      {"a file", [&] { return file.Sync(); }},
      {"a folder", [&] { return folder.Sync(); }},
      {"a few files, each", [&] { return platform::SyncFileSystemsOf({path}); }},
      {"many files, by their file system", [&] { return platform::SyncFileSystemsOf(many); }},
      {"a private file", replacePrivate},
      {"a private file's folder", replacePrivate, "/"},
  };
  for (const auto& [what, flush, only] : flushes) {
    SCOPED_TRACE(what);
    EXPECT_TRUE(flush());
    const Names names = dir.Names();
    const Bytes content = ReadAll(path);
    platform::fault::OnlyFor(only);
    platform::fault::FailSyncs(EIO);
    EXPECT_FALSE(flush());
    platform::fault::Reset();
    EXPECT_EQ(dir.Names(), names);
    EXPECT_EQ(ReadAll(path), content);
  }
}

// The program's private folder and files: never reached through a symbolic link, never another
// user's, and made private when they were more open.
TEST(PrivateFiles, RefusedUnlessOursAndMadePrivate) {
  enum Made { kMissing, kReadable, kLink, kFile, kFifo, kOtherUsers };  // what `path` is
  struct Case {
    const char* what;
    bool folder;  // EnsurePrivateFolder; else OpenPrivateFile
    Made made;
    int err;
  };
  const std::vector<Case> cases = {
      {"a missing folder", true, kMissing, 0},
      {"a folder others may read", true, kReadable, 0},
      {"a link to a folder", true, kLink, ELOOP},
      {"a file for a folder", true, kFile, ENOTDIR},
      {"another user's folder", true, kOtherUsers, EPERM},
      {"a missing file", false, kMissing, ENOENT},
      {"a file others may read", false, kReadable, 0},
      {"a link to a file", false, kLink, ELOOP},
      {"a FIFO", false, kFifo, EINVAL},
      {"another user's file", false, kOtherUsers, EPERM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.File("velomi");
    const std::string target = dir.File("target");
    if (c.made == kLink || c.made == kReadable || c.made == kOtherUsers) {
      if (c.folder) {
        ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
      } else {
        dir.Write("target", {});
        ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
      }
      ASSERT_EQ(c.made == kLink ? ::symlink(target.c_str(), path.c_str())
                                : ::rename(target.c_str(), path.c_str()),
                0);
    } else if (c.made == kFile) {
      dir.Write("velomi", {});
    } else if (c.made == kFifo) {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    }
    if (c.made == kOtherUsers && ::chown(path.c_str(), kOtherUser, kOtherUser) != 0) {
      continue;  // only root can give a file away
    }
    platform::File file;
    const int err = c.folder ? platform::EnsurePrivateFolder(path)
                             : platform::OpenPrivateFile(path, platform::PrivateOpen::kRead, file);
    EXPECT_EQ(err, c.err);
    if (err == 0) {
      EXPECT_EQ(testfiles::Mode(path), c.folder ? 0700u : 0600u);
    }
    if (c.made == kLink) {
      EXPECT_EQ(testfiles::Mode(target), c.folder ? 0755u : 0644u);  // left as it was
    }
  }
}

// Only a missing lock file tells that its holder is gone. A process out of descriptors cannot
// open a lock file at all, and must not take a live holder's lock for a dead one.
TEST(FileLock, HeldWhenItsFileCannotBeOpened) {
  TempDir dir;
  const std::string path = dir.File("owner.lock");
  platform::FileLock lock;
  ASSERT_EQ(lock.Lock(path, false), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    const struct rlimit none = {0, 0};
    const bool cut = ::setrlimit(RLIMIT_NOFILE, &none) == 0 && ::open(path.c_str(), O_RDONLY) < 0;
    ::_exit(cut && platform::FileLock::HeldByAnother(path) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  lock.Unlock();
  EXPECT_FALSE(platform::FileLock::HeldByAnother(path));
  EXPECT_FALSE(platform::FileLock::HeldByAnother(dir.File("missing.lock")));
}

std::string g_lockPath;
int g_locked = 0;

// The lock is on the file that the lock file's name holds once it is taken: a lock file removed
// just as its lock was taken (by RemoveIfFree in another process) and made again by a third one is
// locked anew, so that no second lock can be taken beside this one. (Windows keeps a removed name
// while a handle is open, and wine reports such a file as the one the name holds: POSIX only.)
TEST(FileLock, IsOnTheFileTheNameHoldsOnceTaken) {
  TempDir dir;
  g_lockPath = dir.File("owner.lock");
  g_locked = 0;
  platform::fault::OnStep([](platform::fault::Step step) {
    if (step == platform::fault::Step::kLocked && g_locked++ == 0) {
      std::filesystem::remove(testfiles::Fs(g_lockPath));
      testfiles::WriteAll(g_lockPath, {});
    }
    return 0;
  });
  platform::FileLock lock, second;
  ASSERT_EQ(lock.Lock(g_lockPath, false), 0);
  platform::fault::Reset();
  EXPECT_EQ(g_locked, 2);
  EXPECT_TRUE(platform::FileLock::HeldByAnother(g_lockPath));
  EXPECT_EQ(second.Lock(g_lockPath, false), EWOULDBLOCK);
}

}  // namespace
