#include "platform/Folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/FaultInjection.h"
#include "platform/Internal.h"
#include "platform/posix/PathParts.h"

namespace platform {
namespace {

int64_t Msecs(const struct timespec& at) {
  return static_cast<int64_t>(at.tv_sec) * 1000 + at.tv_nsec / 1000000;
}

EntryInfo InfoOf(const struct stat& st) {
  EntryInfo info;
  info.exists = true;
  info.regular = S_ISREG(st.st_mode);
  info.folder = S_ISDIR(st.st_mode);
  info.link = S_ISLNK(st.st_mode);
  info.ours = st.st_uid == ::geteuid();
  info.size = static_cast<int64_t>(st.st_size);
  info.mode = st.st_mode & 07777;
  info.device = static_cast<uint64_t>(st.st_dev);
  info.inode = static_cast<uint64_t>(st.st_ino);
  info.changedSeconds = static_cast<int64_t>(st.st_ctim.tv_sec);
  info.modifiedMsecs = Msecs(st.st_mtim);
  info.accessedMsecs = Msecs(st.st_atim);
  return info;
}

// The descriptor of an open folder.
int Fd(NativeHandle handle) { return static_cast<int>(handle); }

}  // namespace

bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

size_t RootLength(std::string_view path) { return !path.empty() && path[0] == '/' ? 1 : 0; }

EntryInfo StatPath(const std::string& path, bool follow) {
  struct stat st;
  const int r = follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
  return r == 0 ? InfoOf(st) : EntryInfo{};
}

std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&::free)> real(::realpath(path.c_str(), nullptr), &::free);
  return real ? std::string(real.get()) : std::string();
}

void Folder::Close() {
  if (fd_ >= 0) ::close(Fd(std::exchange(fd_, -1)));
}

bool Folder::Open(const std::string& path) {
  Close();
  const std::string at = path.empty() ? std::string(".") : path;
  int fd = ::open(at.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    // A path ending in "/" follows a link at its last name whatever O_NOFOLLOW says: look at the
    // name itself as well.
    return Fail(errno == ENOTDIR && StatPath(at, false).link ? ELOOP : errno);
  }
  if (!at.empty() && at.back() == '/' && at.size() > 1 &&
      StatPath(at.substr(0, at.size() - 1), false).link) {
    ::close(fd);
    return Fail(ELOOP);
  }
  fd_ = fd;
  path_ = at.back() == '/' ? at : at + "/";
  return true;
}

EntryInfo Folder::Stat(const std::string& name) const {
  struct stat st;
  if (fd_ < 0 || !IsPlainName(name) ||
      ::fstatat(Fd(fd_), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    error_ = fd_ < 0 ? EBADF : IsPlainName(name) ? errno : EINVAL;
    return {};
  }
  return InfoOf(st);
}

bool Folder::Lists(const std::string& name) const {
  if (fd_ < 0) return false;
  int fd = ::openat(Fd(fd_), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  std::unique_ptr<DIR, DirCloser> d(::fdopendir(fd));
  if (!d) {
    ::close(fd);
    return false;
  }
  while (struct dirent* e = ::readdir(d.get())) {
    if (name == e->d_name) return true;
  }
  return false;
}

bool Folder::OpenFile(const std::string& name, bool write, File& file) const {
  if (fd_ < 0) return Fail(EBADF);
  if (!IsPlainName(name)) return Fail(EINVAL);
  if (const int err = fault::AtStep(fault::Step::kOpening)) return Fail(err);
  const int flags = (write ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = ::openat(Fd(fd_), name.c_str(), flags);
  if (fd < 0) return Fail(errno);
  if (!file.Adopt(fd, path_ + name)) return Fail(file.error());
  return true;
}

bool Folder::Rename(const std::string& from, const std::string& to,
                    const std::string& caseTemp) const {
  if (fd_ < 0) return Fail(EBADF);
  if (!IsPlainName(from) || !IsPlainName(to)) return Fail(EINVAL);
  if (!internal::EqualFoldAscii(from, to)) {
    const int err = detail::RenameNoReplaceAt(Fd(fd_), from, Fd(fd_), to);
    return err == 0 ? true : Fail(err);
  }
  // The names differ in letter case only. Where the file system folds case the new name already
  // names this very file, so a direct rename without replacing would fail: go through a free
  // temporary name, and come back to the old name when the second step is refused.
  struct stat st;
  if (::fstatat(Fd(fd_), from.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Fail(errno);
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string tmp = !caseTemp.empty() ? caseTemp
                                              : ".velomi-rename-" + std::to_string(::getpid()) +
                                                    "-" + std::to_string(attempt) + ".tmp";
    if (!IsPlainName(tmp)) return Fail(EINVAL);
    int err = detail::RenameNoReplaceAt(Fd(fd_), from, Fd(fd_), tmp);
    if (err == EEXIST && caseTemp.empty()) continue;
    if (err != 0) return Fail(err);
    err = fault::AtStep(fault::Step::kCaseTempNamed);
    if (err == 0) err = detail::RenameNoReplaceAt(Fd(fd_), tmp, Fd(fd_), to);
    if (err == 0) return true;
    detail::RenameNoReplaceAt(Fd(fd_), tmp, Fd(fd_), from);
    return Fail(err);
  }
  return Fail(EEXIST);
}

bool Folder::Remove(const std::string& name) const {
  if (fd_ < 0) return Fail(EBADF);
  if (!IsPlainName(name)) return Fail(EINVAL);
  return ::unlinkat(Fd(fd_), name.c_str(), 0) == 0 ? true : Fail(errno);
}

bool Folder::SetMode(File& file, unsigned mode) {
  return file.IsOpen() &&
         ::fchmod(static_cast<int>(file.fd()), static_cast<mode_t>(mode & 07777)) == 0;
}

bool Folder::Sync() const {
  if (fd_ < 0) return Fail(EBADF);
  if (const int err = fault::Flushed(::fsync(Fd(fd_)), path_)) return Fail(err);
  return true;
}

}  // namespace platform
