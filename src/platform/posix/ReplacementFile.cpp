#include "platform/ReplacementFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/FaultInjection.h"
#include "platform/Internal.h"
#include "platform/posix/PathParts.h"

namespace platform {

namespace internal {

long long ProcessId() { return ::getpid(); }

// The start time of process `pid`: clock ticks after boot, the 22nd field of /proc/PID/stat.
long long ProcessStart(long long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return kProcessGone;
  size_t close = line.rfind(')');  // the command name in parentheses may hold anything
  if (close == std::string::npos) return kProcessGone;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  for (int i = 3; i <= 22; ++i) {
    if (!(fields >> field)) return kProcessGone;
  }
  char* end = nullptr;
  long long start = std::strtoll(field.c_str(), &end, 10);
  return (end != field.c_str() && *end == '\0') ? start : kProcessGone;
}

std::string HostName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return std::string();
  return host;
}

}  // namespace internal

namespace {

using internal::TempName;

// The errno of the first folder flush after a replacement that failed since it was last taken.
int unconfirmed = 0;

// Flushes a folder's entries, so that a rename in it survives a crash. 0, or the errno.
int SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int err = fault::Flushed(::fsync(fd), folder);
  ::close(fd);
  return err;
}

// Removes from `folder` the temporary files that a process of this machine left when it was
// killed: regular files of this user, named as ours, whose process is gone (or whose process id
// now belongs to a process that started at another time). Nothing else is touched, and nothing
// at all when this process cannot see its own start time.
void RemoveOrphans(const std::string& folder) {
  std::unique_ptr<DIR, DirCloser> d(::opendir(folder.c_str()));
  if (!d) return;
  const int dfd = ::dirfd(d.get());
  while (struct dirent* e = ::readdir(d.get())) {
    if (!internal::IsLeftover(e->d_name)) continue;
    struct stat st;
    if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid()) {
      continue;
    }
    ::unlinkat(dfd, e->d_name, 0);
  }
}

// Errors of fchmod that mean the file system keeps no permission bits (FAT through FUSE).
bool NoPermissionBits(int err) { return err == ENOSYS || err == EOPNOTSUPP; }

}  // namespace

void RemoveLeftoversIn(const std::string& folder) {
  if (internal::FirstSaveIn(folder)) RemoveOrphans(folder);
}

ReplacementFile::~ReplacementFile() { Abandon(); }

bool ReplacementFile::Fail(int err) {
  error_ = err;
  Abandon();
  errno = err;
  return false;
}

bool ReplacementFile::Begin(const std::string& path) {
  Abandon();
  error_ = 0;
  written_ = 0;
  std::unique_ptr<char, decltype(&::free)> real(::realpath(path.c_str(), nullptr), &::free);
  if (!real) return Fail(errno);
  target_ = real.get();

  struct stat st;
  if (::stat(target_.c_str(), &st) != 0) return Fail(errno);
  if (!S_ISREG(st.st_mode)) return Fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  if (!(st.st_mode & S_IWUSR) || ::access(target_.c_str(), W_OK) != 0) return Fail(EACCES);
  if (st.st_nlink > 1) return Fail(EMLINK);
  mode_ = st.st_mode & 07777;
  uid_ = st.st_uid;
  gid_ = st.st_gid;

  const std::string folder = FolderOf(target_);
  if (internal::FirstSaveIn(folder)) RemoveOrphans(folder);
  return CreateTemp(folder);
}

bool ReplacementFile::CreateTemp(const std::string& folder) {
  // An unnamed file gets its name through /proc/self/fd, so it is used only where that is there.
  static const bool canName = ::access("/proc/self/fd", X_OK) == 0;
  if (canName && !fault::Refused(fault::Feature::kUnnamedTemp)) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
      unnamed_ = true;
      return temp_.Adopt(fd, target_) ? true : Fail(temp_.error());
    }
    // Not offered here (EOPNOTSUPP, or EISDIR from older kernels): a named file instead.
  }
  std::string templ = folder + TempName(internal::Self(), "XXXXXX");
  std::vector<char> name(templ.begin(), templ.end());
  name.push_back('\0');
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return Fail(errno);
  tempPath_ = name.data();
  return temp_.Adopt(fd, target_) ? true : Fail(temp_.error());
}

// Gives the complete, flushed unnamed temporary file a name of our form in `folder`, so that it
// can take the old file's place.
bool ReplacementFile::NameTemp(const std::string& folder) {
  static std::atomic<unsigned> serial{0};
  const std::string fdPath = "/proc/self/fd/" + std::to_string(temp_.fd());
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string name = folder + TempName(internal::Self(), "n" + std::to_string(serial++));
    if (::linkat(AT_FDCWD, fdPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      tempPath_ = name;
      unnamed_ = false;
      return true;
    }
    if (errno != EEXIST) return Fail(errno);
  }
  return Fail(EEXIST);
}

bool ReplacementFile::Write(const void* data, size_t count) {
  if (!temp_.IsOpen()) return Fail(EBADF);
  if (!temp_.WriteAt(written_, data, count)) return Fail(temp_.error());
  written_ += static_cast<int64_t>(count);
  return true;
}

bool ReplacementFile::CopyFrom(const File& source, int64_t offset, int64_t count) {
  if (!temp_.IsOpen()) return Fail(EBADF);
  if (offset < 0 || count < 0) return Fail(EINVAL);
  // The kernel copies without passing the bytes through this process where it can, a slice at a
  // time; each slice copied is handed to the disk at once, so that the flush before the rename
  // has little left to wait for. Where the file system can share blocks (xfs, btrfs) the kernel
  // clones instead of copying, but only a slice that starts on a block boundary in both files:
  // the first slice therefore ends at the source's next boundary, and when the caller placed the
  // bytes at the same offset modulo the block size, every later slice is cloned.
  constexpr int64_t kSlice = int64_t{8} << 20;
  const int64_t block = ShareableBlock(source.BlockSizeAtOpen());
  bool kernelCopy = true;
  while (count > 0 && kernelCopy) {
    int64_t slice = kSlice;
    if (offset % block != 0) slice = block - offset % block;
    size_t chunk = static_cast<size_t>(std::min<int64_t>(count, slice));
    if (int err = fault::TakeWrite(chunk, target_)) return Fail(err);
    loff_t in = offset;
    loff_t out = written_;
    ssize_t n = ::copy_file_range(source.fd(), &in, temp_.fd(), &out, chunk, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL) {
        return Fail(errno);
      }
      kernelCopy = false;
      break;
    }
    if (n == 0) return Fail(EIO);  // the source ended early
    ::sync_file_range(temp_.fd(), written_, n, SYNC_FILE_RANGE_WRITE);
    offset += n;
    written_ += n;
    count -= n;
  }
  std::vector<unsigned char> buffer;
  while (count > 0) {
    if (buffer.empty()) buffer.resize(size_t{1} << 20);
    size_t chunk = static_cast<size_t>(std::min<int64_t>(count, int64_t(buffer.size())));
    if (!source.ReadAt(offset, buffer.data(), chunk)) return Fail(source.error());
    if (!Write(buffer.data(), chunk)) return false;
    offset += static_cast<int64_t>(chunk);
    count -= static_cast<int64_t>(chunk);
  }
  return true;
}

bool ReplacementFile::Commit() {
  if (!temp_.IsOpen()) return Fail(EBADF);
  if (::fchown(temp_.fd(), uid_, gid_) != 0) {
    // Only the owner's own files can be kept as they were; another owner's file keeps its bits.
  }
  int err = fault::TakeChmod();
  if (err == 0 && ::fchmod(temp_.fd(), mode_) != 0) err = errno;
  if (err != 0 && !NoPermissionBits(err)) return Fail(err);
  if (!temp_.Sync()) return Fail(temp_.error());
  if (unnamed_ && !NameTemp(FolderOf(target_))) return false;
  if (!temp_.Close()) return Fail(temp_.error());
  if (::rename(tempPath_.c_str(), target_.c_str()) != 0) return Fail(errno);
  tempPath_.clear();
  // The new content is in place whatever the folder's flush gives: a failure is told apart.
  if (const int err = SyncFolder(FolderOf(target_)); err != 0 && unconfirmed == 0) {
    unconfirmed = err;
  }
  return true;
}

int TakeUnconfirmedReplacement() { return std::exchange(unconfirmed, 0); }

void ReplacementFile::Abandon() {
  temp_.Close();  // an unnamed temporary file goes with its last descriptor
  unnamed_ = false;
  if (!tempPath_.empty()) {
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
  }
}

}  // namespace platform
