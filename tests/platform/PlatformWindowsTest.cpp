// The platform's file calls where Windows differs: names that fold case, share modes, the
// read-only attribute and the others a replacement keeps, the state folder, and a save killed in a
// child process.
//
// Run under wine, two differences from Windows show (see the notes at each test): a rename that
// changes only the letter case is reported as done but keeps the old name (Folder::Rename goes
// through a temporary name, so it is not affected), and an administrator (root) may open a
// read-only file for writing.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "PlatformTest.h"
#include "platform/Errno.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"
#include "platform/PrivateFiles.h"

namespace {

using platform::fault::Feature;
using platformtest::Names;
using platformtest::Refusing;
using platformtest::Replace;
using testfiles::FromString;
using testfiles::ReadAll;
using testfiles::TempDir;

std::wstring Wide(const std::string& path) { return testfiles::Fs(path).wstring(); }

DWORD Attributes(const std::string& path) { return ::GetFileAttributesW(Wide(path).c_str()); }

bool UnderWine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// A handle of another program on `path`, sharing as `share` says: a player that lets others read
// only, or one that lets them do anything.
struct OtherReader {
  OtherReader(const std::string& path, DWORD share)
      : h(::CreateFileW(Wide(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0,
                        nullptr)) {}
  ~OtherReader() { ::CloseHandle(h); }
  std::string Read() const {
    char buf[64];
    DWORD n = 0;
    OVERLAPPED at{};
    return ::ReadFile(h, buf, sizeof buf, &n, &at) ? std::string(buf, n) : "<failed>";
  }
  HANDLE h;
};

TEST(WindowsFileSystem, NamesThatDifferInCaseOnlyAreOneName) {
  TempDir dir;
  dir.Write("a.mp3", FromString("A"));
  dir.Write("b.mp3", FromString("B"));
  platform::Folder folder;
  ASSERT_TRUE(folder.Open(dir.path()));
  EXPECT_TRUE(platform::FileExists(dir.File("A.MP3")));
  EXPECT_FALSE(folder.Rename("a.mp3", "B.MP3"));  // b.mp3 has that name
  EXPECT_EQ(errno, EEXIST);
  EXPECT_FALSE(platform::RenameNoReplace(dir.File("a.mp3"), dir.File("B.mp3")));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(dir.Names(), (Names{"a.mp3", "b.mp3"}));
  EXPECT_EQ(ReadAll(dir.File("b.mp3")), FromString("B"));
  // The case-only rename, through its temporary name, really changes the name (a direct
  // MoveFileExW does on Windows; wine reports it done and keeps the old name).
  ASSERT_TRUE(folder.Rename("a.mp3", "A.Mp3"));
  EXPECT_EQ(dir.Names(), (Names{"A.Mp3", "b.mp3"}));
}

// Devices are not files, and a file that is gone cannot be known to be on the disk.
TEST(WindowsFileSystem, DevicesAndFilesThatAreGone) {
  TempDir dir;
  const std::string pipe = "\\\\.\\pipe\\velomi-test-" + std::to_string(::GetCurrentProcessId());
  HANDLE server = ::CreateNamedPipeW(Wide(pipe).c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1,
                                     4096, 4096, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  platform::File f;
  EXPECT_FALSE(f.OpenRead("NUL"));
  EXPECT_EQ(f.error(), platform::kErrDevice);
  EXPECT_FALSE(f.OpenRead(pipe));
  EXPECT_EQ(f.error(), platform::kErrFifo);
  ::CloseHandle(server);
  EXPECT_FALSE(platform::FileExists("NUL"));
  std::string path = dir.Write("f.mp3", FromString("x"));
  EXPECT_TRUE(platform::SyncFileSystemsOf({path}));
  EXPECT_FALSE(platform::SyncFileSystemsOf({path, dir.File("gone.mp3")}));
  EXPECT_EQ(errno, ENOENT);
}

// Roots of drives and shares, with either separator; real paths in that form; names that hold a
// separator or a stream's colon are no names of a folder.
TEST(WindowsFileSystem, RootsRealPathsAndPlainNames) {
  struct Root {
    const char* path;
    size_t length;
  };
  for (const Root& r : {Root{"C:/Music/a.mp3", 3}, Root{"c:\\", 3}, Root{"//nas/music/a.mp3", 12},
                        Root{"\\\\nas\\music", 11}, Root{"//nas", 0}, Root{"//?/C:/x", 0},
                        Root{"/Music", 0}, Root{"C:Music", 0}, Root{"Music/a.mp3", 0}}) {
    EXPECT_EQ(platform::RootLength(r.path), r.length) << r.path;
  }
  for (const char* bad : {"a\\b.mp3", "a.mp3:stream", "C:"}) {
    EXPECT_FALSE(platform::IsPlainName(bad)) << bad;
  }
  TempDir dir;
  dir.Write("a.mp3", FromString("x"));
  const std::string real = platform::RealPath(dir.path() + "\\.\\a.mp3");
  EXPECT_EQ(platform::RootLength(real), 3u) << real;
  EXPECT_EQ(real.find('\\'), std::string::npos) << real;
  EXPECT_EQ(platform::GenericPath("C:\\Music\\a.mp3"), "C:/Music/a.mp3");
}

TEST(WindowsFileSystem, ReadOnlyAttribute) {
  TempDir dir;
  std::string path = dir.Write("f.mp3", FromString("x"));
  ASSERT_TRUE(
      ::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  platform::File f;
  ASSERT_TRUE(f.OpenRead(path));
  EXPECT_EQ(f.RefusesChange(), EACCES);
  f.Close();
  platform::ClearReadOnly(path);
  EXPECT_EQ(Attributes(path) & ~DWORD{FILE_ATTRIBUTE_ARCHIVE}, DWORD{FILE_ATTRIBUTE_HIDDEN});
  ASSERT_TRUE(f.OpenRead(path));
  EXPECT_EQ(f.RefusesChange(), 0);
}

TEST(WindowsFileSystem, StateFolderIsInLocalAppData) {
  const char* saved = std::getenv("LOCALAPPDATA");
  const std::string keep = saved ? saved : "";
  ::_putenv_s("LOCALAPPDATA", "C:\\Users\\u\\AppData\\Local");
  EXPECT_EQ(platform::StateFolder(), "C:\\Users\\u\\AppData\\Local\\velomi");
  ::_putenv_s("LOCALAPPDATA", keep.c_str());
}

TEST(WindowsReplacementFile, KeepsAttributesAndCreationTime) {
  TempDir dir;
  std::string path = dir.Write("f.wma", FromString("old content"));
  const std::wstring wide = Wide(path);
  ASSERT_TRUE(::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  WIN32_FILE_ATTRIBUTE_DATA before, after;
  ASSERT_TRUE(::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &before));
  ::Sleep(20);
  ASSERT_TRUE(Replace(path));
  ASSERT_TRUE(::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &after));
  EXPECT_EQ(after.dwFileAttributes, before.dwFileAttributes);
  if (!UnderWine()) {  // wine keeps no creation time of its own on a Linux file system
    EXPECT_EQ(::CompareFileTime(&after.ftCreationTime, &before.ftCreationTime), 0);
  }
  EXPECT_EQ(ReadAll(path), FromString("NEWld content"));
}

// Another program reads the file while it is replaced. One that does not share deletion (most
// players) keeps it from being replaced on every Windows: the save is refused before it writes
// anything. One that shares everything, as this program's own reads do, lets it be replaced where
// the system renames with POSIX semantics (Windows 10 on NTFS), and goes on reading the old
// content; elsewhere (older systems, FAT, wine) the replacement is refused. Either way the file
// is whole and no temporary file is left.
TEST(WindowsReplacementFile, ReplacedWhileAnotherHandleReadsIt) {
  struct Case {
    const char* what;
    DWORD share;
    bool refuseOpenRename;
  };
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  for (const Case& c :
       {Case{"player", FILE_SHARE_READ, false}, Case{"sharing reader", kShareAll, false},
        Case{"sharing reader, closed-file rename only", kShareAll, true}}) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::string path = dir.Write("f.wma", FromString("old content"));
    OtherReader reader(path, c.share);
    ASSERT_NE(reader.h, INVALID_HANDLE_VALUE);
    if (c.refuseOpenRename) platform::fault::Refuse(Feature::kReplaceOpenFile);
    const bool replaced = Replace(path);
    platform::fault::Reset();
    if (c.share == FILE_SHARE_READ || c.refuseOpenRename) {
      EXPECT_FALSE(replaced);
    }
    if (replaced) {
      EXPECT_EQ(ReadAll(path), FromString("NEWld content"));
    } else {
      EXPECT_TRUE(errno == EBUSY || errno == EACCES) << errno;
      EXPECT_EQ(ReadAll(path), FromString("old content"));
    }
    EXPECT_EQ(reader.Read(), "old content");
    EXPECT_EQ(dir.Names(), (Names{"f.wma"}));
  }
}

// The child's part of the tests below: begins a replacement of the file the parent names, writes
// part of it, and is killed; or takes the lock the parent names, and is killed.
TEST(WindowsChild, IsKilled) {
  const char* path = std::getenv("VELOMI_KILLED_SAVE");
  const char* lockPath = std::getenv("VELOMI_KILLED_LOCK");
  if (path == nullptr && lockPath == nullptr) GTEST_SKIP() << "run by the tests below only";
  platform::FileLock lock;
  if (lockPath != nullptr && lock.Lock(lockPath, false) == 0) {
    ::TerminateProcess(::GetCurrentProcess(), 9);
  }
  if (std::getenv("VELOMI_KILLED_SAVE_NAMED")) platform::fault::Refuse(Feature::kUnnamedTemp);
  platform::ReplacementFile r;
  if (path != nullptr && r.Begin(path) && r.Write("partial", 7)) {
    ::TerminateProcess(::GetCurrentProcess(), 9);
  }
  ::ExitProcess(1);
}

// Runs this test program again as a child that dies in the middle of a save of `path`, or
// holding the lock `lockPath`.
DWORD KillASave(const std::string& path, bool named, const std::string& lockPath = "") {
  ::_putenv_s("VELOMI_KILLED_SAVE", path.c_str());
  ::_putenv_s("VELOMI_KILLED_SAVE_NAMED", named ? "1" : "");
  ::_putenv_s("VELOMI_KILLED_LOCK", lockPath.c_str());
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=WindowsChild.IsKilled";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  DWORD code = 0;
  if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &child)) {
    ::WaitForSingleObject(child.hProcess, INFINITE);
    ::GetExitCodeProcess(child.hProcess, &code);
    ::CloseHandle(child.hProcess);
    ::CloseHandle(child.hThread);
  }
  ::_putenv_s("VELOMI_KILLED_SAVE", "");
  ::_putenv_s("VELOMI_KILLED_SAVE_NAMED", "");
  ::_putenv_s("VELOMI_KILLED_LOCK", "");
  return code;
}

// A lock goes with its process, however the process ends.
TEST(WindowsFileLock, AKilledHolderLeavesItFree) {
  TempDir dir;
  const std::string path = dir.File("owner.lock");
  ASSERT_EQ(KillASave("", false, path), 9u);
  EXPECT_EQ(dir.Names(), (Names{"owner.lock"}));
  EXPECT_FALSE(platform::FileLock::HeldByAnother(path));
  EXPECT_TRUE(platform::FileLock::RemoveIfFree(path));
}

// Only a missing lock file tells that its holder is gone: one that another program holds open
// without sharing cannot be opened, and counts as held.
TEST(WindowsFileLock, HeldWhenItsFileCannotBeOpened) {
  TempDir dir;
  const std::string path = dir.Write("owner.lock", {});
  HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(platform::FileLock::HeldByAnother(path));
  ::CloseHandle(h);
  EXPECT_FALSE(platform::FileLock::HeldByAnother(path));
  EXPECT_FALSE(platform::FileLock::HeldByAnother(dir.File("missing.lock")));
}

// A save killed while it writes the new content: with its file marked for deletion it leaves
// nothing; unmarked, the next save in the folder removes it, but neither another live save's
// temporary file nor files that only look alike.
TEST(WindowsReplacementFile, KilledSaveLeavesNothingForLong) {
  for (bool named : {false, true}) {
    SCOPED_TRACE(named);
    TempDir dir;
    std::string path = dir.Write("f.wma", FromString("old"));
    dir.Write(".velomi-Ab12Cd", FromString("keep"));
    dir.Write(".velomi-notes-1-2-x-y", FromString("keep"));
    ASSERT_EQ(KillASave(path, named), 9u);
    EXPECT_EQ(dir.Names().size(), named ? 4u : 3u);

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
