#include "platform/ReplacementFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <vector>

#include "platform/FaultInjection.h"

namespace platform {
namespace {

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// Flushes a folder's entries, so that a rename in it survives a crash.
void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

ReplacementFile::~ReplacementFile() { Abandon(); }

bool ReplacementFile::Fail(int err) {
  error_ = err;
  Abandon();
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

  std::string templ = FolderOf(target_) + ".velomi-XXXXXX";
  std::vector<char> name(templ.begin(), templ.end());
  name.push_back('\0');
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return Fail(errno);
  tempPath_ = name.data();
  ::close(fd);
  if (!temp_.OpenReadWrite(tempPath_)) return Fail(temp_.error());
  return true;
}

bool ReplacementFile::Write(const void* data, size_t count) {
  if (tempPath_.empty()) return Fail(EBADF);
  if (!temp_.WriteAt(written_, data, count)) return Fail(temp_.error());
  written_ += static_cast<int64_t>(count);
  return true;
}

bool ReplacementFile::CopyFrom(const File& source, int64_t offset, int64_t count) {
  if (tempPath_.empty()) return Fail(EBADF);
  if (offset < 0 || count < 0) return Fail(EINVAL);
  // The kernel copies without passing the bytes through this process where it can, a slice at a
  // time; each slice copied is handed to the disk at once, so that the flush before the rename
  // has little left to wait for.
  constexpr int64_t kSlice = int64_t{8} << 20;
  bool kernelCopy = true;
  while (count > 0 && kernelCopy) {
    size_t chunk = static_cast<size_t>(std::min<int64_t>(count, kSlice));
    if (int err = fault::TakeWrite(chunk)) return Fail(err);
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
  if (tempPath_.empty()) return Fail(EBADF);
  if (::fchown(temp_.fd(), uid_, gid_) != 0) {
    // Only the owner's own files can be kept as they were; another owner's file keeps its bits.
  }
  if (::fchmod(temp_.fd(), mode_) != 0) return Fail(errno);
  if (!temp_.Sync()) return Fail(temp_.error());
  if (!temp_.Close()) return Fail(temp_.error());
  if (::rename(tempPath_.c_str(), target_.c_str()) != 0) return Fail(errno);
  tempPath_.clear();
  SyncFolder(FolderOf(target_));
  return true;
}

void ReplacementFile::Abandon() {
  temp_.Close();
  if (!tempPath_.empty()) {
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
  }
}

}  // namespace platform
