#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/FaultInjection.h"
#include "platform/Internal.h"
#include "platform/posix/PathParts.h"

namespace platform {

using internal::EndsWithFoldAscii;
using internal::EqualFoldAscii;
using internal::LessFoldAscii;

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void ClearReadOnly(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) {
    ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
  }
}

std::vector<std::string> ListFolder(const std::string& folder, std::string_view suffix) {
  std::vector<std::string> names;
  std::string dir = folder.empty() ? std::string(".") : folder;
  std::unique_ptr<DIR, DirCloser> d(::opendir(dir.c_str()));
  if (!d) return names;
  int dfd = ::dirfd(d.get());
  while (struct dirent* e = ::readdir(d.get())) {
    std::string_view name(e->d_name);
    if (name == "." || name == ".." || !EndsWithFoldAscii(name, suffix)) continue;
    bool isFolder = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st;
      isFolder = ::fstatat(dfd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    if (!isFolder) names.emplace_back(name);
  }
  std::sort(names.begin(), names.end(), LessFoldAscii);
  return names;
}

namespace {

std::string_view LastName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string_view(path)
                                    : std::string_view(path).substr(slash + 1);
}

// True when a test has made names that differ in ASCII letter case only name one file, as on FAT
// and exFAT, and an entry of `to`'s folder has `to`'s name in any letter case.
bool CaseFoldedClash(const std::string& to) {
  if (!fault::Refused(fault::Feature::kCaseSensitivity)) return false;
  std::unique_ptr<DIR, DirCloser> d(::opendir(FolderOf(to).c_str()));
  if (!d) return false;
  while (struct dirent* e = ::readdir(d.get())) {
    if (EqualFoldAscii(e->d_name, LastName(to))) return true;
  }
  return false;
}

// Each call below gives 0 or the errno of its failure, and answers as the test hooks say.

int RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (fault::Refused(fault::Feature::kRenameNoReplace)) return EINVAL;
  if (CaseFoldedClash(to)) return EEXIST;
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0
                                                                                          : errno;
}

int HardLink(const std::string& from, const std::string& to) {
  if (fault::Refused(fault::Feature::kHardLink)) return EPERM;
  if (CaseFoldedClash(to)) return EEXIST;
  return ::link(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Creates an empty file at `to` when nothing holds that name, and gives its identity.
int ReservePlaceholder(const std::string& to, struct stat& placeholder) {
  if (CaseFoldedClash(to)) return EEXIST;
  int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  int err = ::fstat(fd, &placeholder) == 0 ? 0 : errno;
  ::close(fd);
  if (err != 0) ::unlink(to.c_str());
  return err;
}

bool IsSameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Fails with `err` left in errno.
bool FailWith(int err) {
  errno = err;
  return false;
}

// The file system can neither rename without replacing nor link: reserve the new name with an
// empty file of our own, then rename over that placeholder. On failure the placeholder goes again,
// unless something else has taken its name in the meantime.
bool RenameOverPlaceholder(const std::string& from, const std::string& to) {
  struct stat placeholder;
  if (int err = ReservePlaceholder(to, placeholder)) return FailWith(err);
  struct stat now;
  int err = 0;
  if (::lstat(to.c_str(), &now) != 0) {
    err = errno;
  } else if (!IsSameFile(now, placeholder)) {
    return FailWith(EEXIST);  // another process replaced it: that file is not ours to replace
  } else if (::rename(from.c_str(), to.c_str()) == 0) {
    return true;
  } else {
    err = errno;
  }
  if (::lstat(to.c_str(), &now) == 0 && IsSameFile(now, placeholder)) ::unlink(to.c_str());
  return FailWith(err);
}

bool Unsupported(int err) { return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP; }

}  // namespace

bool RenameNoReplace(const std::string& from, const std::string& to) {
  int err = RenameWithoutReplacing(from, to);
  if (err == 0) return true;
  if (!Unsupported(err)) return FailWith(err);
  // The file system cannot rename without replacing: a hard link fails when `to` exists.
  err = HardLink(from, to);
  if (err == 0) {
    if (::unlink(from.c_str()) == 0) return true;
    err = errno;
    ::unlink(to.c_str());
    return FailWith(err);
  }
  if (!Unsupported(err) && err != EPERM) return FailWith(err);
  return RenameOverPlaceholder(from, to);
}

bool SyncFileSystemsOf(const std::vector<std::string>& paths) {
  std::vector<dev_t> flushed;
  int err = 0;
  for (const std::string& path : paths) {
    // The file itself, links followed, names the file system that holds its bytes; a file gone
    // since it was written leaves its folder to name it.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
      err = errno;
      if (fd >= 0) ::close(fd);
      continue;
    }
    if (std::find(flushed.begin(), flushed.end(), st.st_dev) == flushed.end()) {
      flushed.push_back(st.st_dev);
      if (int injected = fault::TakeSync()) {
        err = injected;
      } else if (::syncfs(fd) != 0) {
        err = errno;
      }
    }
    ::close(fd);
  }
  if (err != 0) return FailWith(err);
  return true;
}

std::string StateFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/velomi";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') return std::string();
  return std::string(home) + "/.local/state/velomi";
}

}  // namespace platform
