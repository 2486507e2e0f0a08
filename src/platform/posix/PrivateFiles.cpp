#include "platform/PrivateFiles.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/FaultInjection.h"
#include "platform/Internal.h"
#include "platform/posix/PathParts.h"

namespace platform {
namespace {

// Makes each missing parent of `path` (not `path` itself), as mkdir -p would.
void MakeParents(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (slash + 1 >= path.size()) break;
    ::mkdir(path.substr(0, slash).c_str(), 0755);
  }
}

}  // namespace

std::string StateFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/velomi";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.local/state/velomi";
}

int EnsurePrivateFolder(const std::string& path) {
  MakeParents(path);
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno;
  if (S_ISLNK(st.st_mode)) return ELOOP;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  if (st.st_uid != ::geteuid()) return EPERM;
  if ((st.st_mode & 077) != 0) ::chmod(path.c_str(), 0700);
  return 0;
}

int OpenPrivateFile(const std::string& path, PrivateOpen how, File& file) {
  const int flags = how == PrivateOpen::kRead ? O_RDONLY : (O_WRONLY | O_APPEND | O_CREAT);
  int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  if (fd < 0) return errno;
  struct stat st;
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode)) {
    err = EINVAL;
  } else if (st.st_uid != ::geteuid()) {
    err = EPERM;
  }
  if (err != 0) {
    ::close(fd);
    return err;
  }
  if ((st.st_mode & 077) != 0) ::fchmod(fd, 0600);
  return file.Adopt(fd, path) ? 0 : file.error();
}

int ReplacePrivateFile(const std::string& path, const std::string& bytes) {
  const std::string temp = path + ".new";
  ::unlink(temp.c_str());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  File file;
  if (!file.Adopt(fd, temp)) return file.error();
  int err = 0;
  if (!file.WriteAt(0, bytes.data(), bytes.size()) || !file.Sync() || !file.Close()) {
    err = file.error();
  } else if (::rename(temp.c_str(), path.c_str()) != 0) {
    err = errno;
  }
  if (err != 0) {
    ::unlink(temp.c_str());
    return err;
  }
  // The rename itself reaches the disk too: a record taken out must not come back after a crash.
  const std::string folder = FolderOf(path);
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    err = fault::Flushed(::fsync(dir), folder);
    ::close(dir);
  }
  return err;
}

int RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

int FileLock::Lock(const std::string& path, bool wait) {
  Unlock();
  for (int attempt = 0; attempt < 100; ++attempt) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    int r;
    while ((r = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB))) != 0 && errno == EINTR) {
    }
    if (r != 0) {
      const int err = errno;
      ::close(fd);
      return err;
    }
    if (const int err = fault::AtStep(fault::Step::kLocked)) {
      ::close(fd);
      return err;
    }
    struct stat held, named;
    if (::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      fd_ = fd;
      return 0;
    }
    ::close(fd);  // removed while we waited: the lock must be on the file the name holds
  }
  return EAGAIN;
}

void FileLock::Unlock() {
  if (fd_ >= 0)
    ::close(static_cast<int>(std::exchange(fd_, -1)));  // closing the descriptor releases the lock
}

bool FileLock::HeldByAnother(const std::string& path) {
  // Only a lock file that is gone tells that its holder is gone: a file that cannot be opened or
  // locked for another reason (no descriptor left, no permission) may be held by a live writer.
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno != ENOENT;
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
  ::close(fd);  // a shared lock taken here goes with the descriptor
  return held;
}

bool FileLock::RemoveIfFree(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  const bool removed = free && ::unlink(path.c_str()) == 0;
  ::close(fd);
  return removed;
}

}  // namespace platform
