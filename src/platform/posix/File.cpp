#include "platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/Errno.h"
#include "platform/FaultInjection.h"

namespace platform {

bool File::Open(const std::string& path, int flags) {
  Close();
  // O_NONBLOCK keeps a FIFO or a device from blocking the open. Only regular files are kept open,
  // and on those Linux ignores the flag, so it needs no clearing afterwards.
  int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return Fail(errno);
  return Adopt(fd, path);
}

bool File::Adopt(NativeHandle handle, std::string path) {
  const int fd = static_cast<int>(handle);
  Close();
  path_ = std::move(path);
  struct stat st;
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
  } else if (S_ISDIR(st.st_mode)) {
    err = EISDIR;
  } else if (S_ISFIFO(st.st_mode)) {
    err = kErrFifo;
  } else if (!S_ISREG(st.st_mode)) {
    err = kErrDevice;
  }
  if (err != 0) {
    ::close(fd);
    return Fail(err);
  }
  fd_ = fd;
  sizeAtOpen_ = static_cast<int64_t>(st.st_size);
  blockSizeAtOpen_ = static_cast<int64_t>(st.st_blksize);
  modeAtOpen_ = st.st_mode;
  linksAtOpen_ = static_cast<uint64_t>(st.st_nlink);
  deviceAtOpen_ = static_cast<uint64_t>(st.st_dev);
  inodeAtOpen_ = static_cast<uint64_t>(st.st_ino);
  return true;
}

int File::RefusesChange() const {
  if (!(modeAtOpen_ & S_IWUSR)) return EACCES;
  return linksAtOpen_ > 1 ? EMLINK : 0;
}

bool File::OpenRead(const std::string& path) { return Open(path, O_RDONLY); }

bool File::OpenReadWrite(const std::string& path) { return Open(path, O_RDWR); }

bool File::Size(int64_t& size) const {
  if (fd_ < 0) return Fail(EBADF);
  struct stat st;
  if (::fstat(fd_, &st) != 0) return Fail(errno);
  size = static_cast<int64_t>(st.st_size);
  return true;
}

bool File::ReadAt(int64_t offset, void* data, size_t count) const {
  if (fd_ < 0) return Fail(EBADF);
  if (offset < 0) return Fail(EINVAL);
  auto* out = static_cast<unsigned char*>(data);
  while (count > 0) {
    ssize_t n = ::pread(fd_, out, count, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (n == 0) return Fail(EIO);  // the file ended before `count` bytes
    out += n;
    offset += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool File::WriteAt(int64_t offset, const void* data, size_t count) {
  if (fd_ < 0) return Fail(EBADF);
  if (offset < 0) return Fail(EINVAL);
  return Write(offset, data, count);
}

bool File::Append(const void* data, size_t count) {
  if (fd_ < 0) return Fail(EBADF);
  return Write(-1, data, count);
}

// Writes at `offset`, or at the end of a file opened to append when `offset` is negative.
bool File::Write(int64_t offset, const void* data, size_t count) {
  size_t allowed = count;
  const int injected = fault::TakeWrite(count, allowed, path_);
  if (injected != 0) count = allowed;  // a test's fault: only the bytes it allows, then a failure
  std::vector<unsigned char> wrong;    // a test's fault: the bytes as they land
  const unsigned char* in =
      fault::AsLanding(static_cast<const unsigned char*>(data), count, path_, wrong);
  while (count > 0) {
    ssize_t n =
        offset < 0 ? ::write(fd_, in, count) : ::pwrite(fd_, in, count, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (n == 0) return Fail(ENOSPC);
    in += n;
    if (offset >= 0) offset += n;
    count -= static_cast<size_t>(n);
  }
  return injected == 0 ? true : Fail(injected);
}

bool File::Truncate(int64_t size) {
  if (fd_ < 0) return Fail(EBADF);
  if (size < 0) return Fail(EINVAL);
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return Fail(errno);
  return true;
}

bool File::AddOwnerWrite() {
  if (fd_ < 0) return Fail(EBADF);
  if (modeAtOpen_ & S_IWUSR) return true;
  if (::fchmod(fd_, (modeAtOpen_ & 07777) | S_IWUSR) != 0) return Fail(errno);
  modeAtOpen_ |= S_IWUSR;
  return true;
}

bool File::Sync() {
  if (fd_ < 0) return Fail(EBADF);
  if (const int err = fault::Flushed(::fsync(fd_), path_)) return Fail(err);
  return true;
}

bool File::SyncData() {
  if (fd_ < 0) return Fail(EBADF);
  if (const int err = fault::Flushed(::fdatasync(fd_), path_)) return Fail(err);
  return true;
}

bool File::Close() {
  if (fd_ < 0) return true;
  int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0 && errno != EINTR) return Fail(errno);
  return true;
}

std::string ErrorText(int err) {
  switch (err) {
    case kErrFifo:
      return "Is a FIFO, not a regular file";
    case kErrDevice:
      return "Is a device, not a regular file";
    default:
      return std::strerror(err);
  }
}

}  // namespace platform
