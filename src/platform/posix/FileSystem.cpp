#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/FaultInjection.h"
#include "platform/Internal.h"
#include "platform/posix/PathParts.h"

namespace platform {
using internal::EndsWithFoldAscii;
using internal::EqualFoldAscii;
using internal::LessFoldAscii;
using internal::SortFoldAscii;

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string GenericPath(std::string path) { return path; }

std::FILE* OpenForReading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

bool MayWrite(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

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

FolderEntries ListEntries(const std::string& folder) {
  FolderEntries entries;
  std::unique_ptr<DIR, DirCloser> d(::opendir(folder.empty() ? "." : folder.c_str()));
  if (!d) return entries;
  const int dfd = ::dirfd(d.get());
  while (struct dirent* e = ::readdir(d.get())) {
    const std::string_view name(e->d_name);
    if (name == "." || name == "..") continue;
    bool isFolder = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st;
      isFolder = ::fstatat(dfd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    (isFolder ? entries.folders : entries.files).emplace_back(name);
  }
  SortFoldAscii(entries.files);
  SortFoldAscii(entries.folders);
  return entries;
}

namespace {

// True when a test has made names that differ in ASCII letter case only name one file, as on FAT
// and exFAT, and an entry of the folder `dir` has `name` in any letter case.
bool CaseFoldedClash(int dir, const std::string& name) {
  if (!fault::Refused(fault::Feature::kCaseSensitivity)) return false;
  // A place given as a path (AT_FDCWD) names its folder in the path.
  const size_t slash = dir == AT_FDCWD ? name.rfind('/') : std::string::npos;
  const std::string folder = slash == std::string::npos ? std::string(".") : FolderOf(name);
  const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
  int fd = ::openat(dir, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  std::unique_ptr<DIR, DirCloser> d(::fdopendir(fd));
  if (!d) {
    ::close(fd);
    return false;
  }
  while (struct dirent* e = ::readdir(d.get())) {
    if (EqualFoldAscii(e->d_name, last)) return true;
  }
  return false;
}

// Each call below gives 0 or the errno of its failure, and answers as the test hooks say. A place
// is a folder (a descriptor, or AT_FDCWD for a path) and a name in it.

int RenameWithoutReplacing(int fromDir, const std::string& from, int toDir, const std::string& to) {
  if (fault::Refused(fault::Feature::kRenameNoReplace)) return EINVAL;
  if (CaseFoldedClash(toDir, to)) return EEXIST;
  return ::renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
}

int HardLink(int fromDir, const std::string& from, int toDir, const std::string& to) {
  if (fault::Refused(fault::Feature::kHardLink)) return EPERM;
  if (CaseFoldedClash(toDir, to)) return EEXIST;
  return ::linkat(fromDir, from.c_str(), toDir, to.c_str(), 0) == 0 ? 0 : errno;
}

// Creates an empty file at `to` when nothing holds that name, and gives it open in `fd` with its
// identity: while it is open its inode cannot go to another file (file systems hand a freed inode
// number to the next file made), so the name's identity tells whether it still holds this file.
int ReservePlaceholder(int toDir, const std::string& to, int& fd, struct stat& placeholder) {
  if (CaseFoldedClash(toDir, to)) return EEXIST;
  fd = ::openat(toDir, to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  if (::fstat(fd, &placeholder) == 0) return 0;
  const int err = errno;
  ::close(std::exchange(fd, -1));
  ::unlinkat(toDir, to.c_str(), 0);
  return err;
}

bool IsSameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when `name` in `dir` is still the placeholder `placeholder`: that very file, still empty.
bool StillPlaceholder(int dir, const std::string& name, const struct stat& placeholder) {
  struct stat now;
  return ::fstatat(dir, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
         IsSameFile(now, placeholder) && S_ISREG(now.st_mode) && now.st_size == 0;
}

// The file system can neither rename without replacing nor link: reserve the new name with an
// empty file of our own, then rename over that placeholder. On failure the placeholder goes again,
// unless something else has taken its name in the meantime.
int RenameOverPlaceholder(int fromDir, const std::string& from, int toDir, const std::string& to) {
  struct stat placeholder;
  int held = -1;
  if (int err = ReservePlaceholder(toDir, to, held, placeholder)) return err;
  int err = fault::AtStep(fault::Step::kPlaceholderReserved);
  // Looked at while the placeholder is still open, and closed before the rename over it: a FUSE
  // file system keeps a file renamed over while open under a hidden name until it is closed.
  bool ours = StillPlaceholder(toDir, to, placeholder);
  if (err == 0 && !ours) err = EEXIST;  // another process replaced it: not ours to replace
  if (err == 0) {
    ::close(std::exchange(held, -1));
    if (::renameat(fromDir, from.c_str(), toDir, to.c_str()) == 0) return 0;
    err = errno;
    ours = StillPlaceholder(toDir, to, placeholder);
  }
  if (ours) ::unlinkat(toDir, to.c_str(), 0);
  if (held >= 0) ::close(held);
  return err;
}

bool Unsupported(int err) { return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP; }

// Fails with `err` left in errno.
bool FailWith(int err) {
  errno = err;
  return false;
}

}  // namespace

namespace detail {

int RenameNoReplaceAt(int fromDir, const std::string& from, int toDir, const std::string& to) {
  int err = RenameWithoutReplacing(fromDir, from, toDir, to);
  if (err == 0 || !Unsupported(err)) return err;
  // The file system cannot rename without replacing: a hard link fails when `to` exists.
  err = HardLink(fromDir, from, toDir, to);
  if (err == 0) {
    err = fault::AtStep(fault::Step::kLinked);
    if (err == 0 && ::unlinkat(fromDir, from.c_str(), 0) == 0) return 0;
    if (err == 0) err = errno;
    ::unlinkat(toDir, to.c_str(), 0);  // the new link goes again: the file keeps its old name
    return err;
  }
  if (!Unsupported(err) && err != EPERM) return err;
  return RenameOverPlaceholder(fromDir, from, toDir, to);
}

}  // namespace detail

bool RenameNoReplace(const std::string& from, const std::string& to) {
  const int err = detail::RenameNoReplaceAt(AT_FDCWD, from, AT_FDCWD, to);
  return err == 0 ? true : FailWith(err);
}

bool SyncFileSystemsOf(const std::vector<std::string>& paths) {
  std::vector<dev_t> flushed;
  int err = 0;
  // A few files are flushed each on its own: a file system's flush would also wait for everything
  // else written there meanwhile.
  const bool each = paths.size() <= kFlushedEach;
  for (const std::string& path : paths) {
    // The file itself, links followed, names the file system that holds its bytes; a file gone
    // since it was written leaves its folder to name it. Only a file system not flushed yet is
    // opened.
    struct stat st;
    if (!each && (::stat(path.c_str(), &st) == 0 || ::stat(FolderOf(path).c_str(), &st) == 0) &&
        std::find(flushed.begin(), flushed.end(), st.st_dev) != flushed.end()) {
      continue;
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fstat(fd, &st) != 0) {
      err = errno;
      if (fd >= 0) ::close(fd);
      continue;
    }
    if (each || std::find(flushed.begin(), flushed.end(), st.st_dev) == flushed.end()) {
      flushed.push_back(st.st_dev);
      if (const int failed = fault::Flushed(each ? ::fdatasync(fd) : ::syncfs(fd), path)) {
        err = failed;
      }
    }
    ::close(fd);
  }
  if (err != 0) return FailWith(err);
  return true;
}

}  // namespace platform
