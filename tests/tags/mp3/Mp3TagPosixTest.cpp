// The MP3 tag object where POSIX systems differ: permission bits, and another user.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "TestFiles.h"
#include "tags/mp3/TMp3Tag.h"

namespace {

using testfiles::Bytes;
using testfiles::ReadAll;
using testfiles::TempDir;

TEST(Mp3TagObject, ReadOnlyFile) {
  TempDir dir;
  std::string path = dir.CopyData("mp3_v11_ascii.mp3", "ro.mp3");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  TIDmp3 t;
  ASSERT_TRUE(t.ReadFromFile(path));
  EXPECT_EQ(testfiles::Mode(path), 0444u);  // reading leaves the mode alone
  t.SetTitle("Changed");
  ASSERT_TRUE(t.SaveToFile(path));
  EXPECT_EQ(testfiles::Mode(path), 0644u);  // saving makes it writable for its owner
  ASSERT_TRUE(t.ReadFromFile(path));
  EXPECT_EQ(t.Title, "Changed");

  // A file too short for a tag keeps its read-only mode: it is refused before anything changes.
  std::string shortFile = dir.Write("short.mp3", Bytes(10, 1));
  ASSERT_EQ(::chmod(shortFile.c_str(), 0444), 0);
  EXPECT_FALSE(t.SaveToFile(shortFile));
  EXPECT_EQ(testfiles::Mode(shortFile), 0444u);
}

TEST(Mp3TagObject, RefusedForAnUnprivilegedUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  std::string path = dir.CopyData("mp3_v11_ascii.mp3", "other.mp3");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);  // root's read-only file
  const Bytes before = ReadAll(path);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // As nobody, the file can be read but neither made writable nor written.
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    TIDmp3 t;
    if (!t.ReadFromFile(path) || t.Title != "Hello Song") ::_exit(4);
    t.SetTitle("Intruder");
    ::_exit(t.SaveToFile(path) ? 5 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_EQ(testfiles::Mode(path), 0444u);
}

}  // namespace
