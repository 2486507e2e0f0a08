// Reading and saving a WMA file where POSIX systems differ: permission bits, hard and symbolic
// links, and another user.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "AsfFiles.h"
#include "TestFiles.h"
#include "tags/wma/TWmaTag.h"

using namespace asffiles;
using testfiles::ReadAll;
using testfiles::TempDir;

namespace {

Bytes OldFile() { return File({Content(u"Old title", u"Old artist", u"", u"", u"Rating")}); }

}  // namespace

// Runs `body` in a child process as the unprivileged user "nobody" (or as this user when it is
// not root) and gives its exit code.
template <typename F>
int AsUnprivileged(F body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

TEST(WmaRead, AFileThatCannotBeOpenedRaisesTheOpenError) {
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  std::string path = dir.Write("locked.wma", File({Content(u"T", u"A")}));
  ::chmod(path.c_str(), 0);
  Bytes before = testfiles::ReadAll(path);
  std::string expected = "Cannot open file \"" + path + "\". Permission denied";
  int code = AsUnprivileged([&] {
    TIDwma tag;
    tag.SetTitle(u"left from before");
    int failures = 0;
    try {
      tag.ReadFromFile(path);
      failures += 1;
    } catch (const EFOpenError& e) {
      if (e.what() != expected || !tag.Title.empty()) failures += 1;
    }
    try {
      tag.SetTitle(u"new");
      tag.SaveToFile(path);
      failures += 1;
    } catch (const EFOpenError& e) {
      if (e.what() != expected) failures += 1;
    }
    return failures;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(testfiles::ReadAll(path), before);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"locked.wma"});
}

TEST(WmaSave, PermissionsLinksAndReadOnlyFiles) {
  TempDir dir;
  Bytes old = OldFile();
  TIDwma tag;
  tag.SetTitle(u"New");

  // A read-only file is refused, even for root.
  std::string readOnly = dir.Write("ro.wma", old);
  ::chmod(readOnly.c_str(), 0444);
  EXPECT_FALSE(tag.SaveToFile(readOnly));
  EXPECT_EQ(ReadAll(readOnly), old);
  EXPECT_EQ(testfiles::Mode(readOnly), 0444u);

  // A file with a second hard link is refused: replacing it would split the two names.
  std::string linked = dir.Write("linked.wma", old);
  ASSERT_EQ(::link(linked.c_str(), dir.File("other-name.wma").c_str()), 0);
  EXPECT_FALSE(tag.SaveToFile(linked));
  EXPECT_EQ(ReadAll(linked), old);
  struct stat st {};
  ::stat(linked.c_str(), &st);
  EXPECT_EQ(st.st_nlink, 2u);

  // A symbolic link is followed: the file it names is rewritten, keeping its permission bits, and
  // the link stays a link.
  ::mkdir(dir.File("music").c_str(), 0755);
  std::string target = dir.Write("music/real.wma", old);
  ::chmod(target.c_str(), 0640);
  std::string link = dir.File("link.wma");
  ASSERT_EQ(::symlink("music/real.wma", link.c_str()), 0);
  ASSERT_TRUE(tag.SaveToFile(link));
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(testfiles::Mode(target), 0640u);
  TIDwma back;
  ASSERT_TRUE(back.ReadFromFile(link));
  EXPECT_EQ(back.Title, u"New");
  EXPECT_EQ(AfterHeader(ReadAll(target)), AfterHeader(old));

  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"link.wma", "linked.wma", "music",
                                                   "other-name.wma", "ro.wma"}));
}
