#include "platform/File.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/Errno.h"
#include "platform/FaultInjection.h"
#include "platform/windows/Win32.h"

namespace platform {
namespace {

HANDLE H(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// One read or write of the system moves at most this many bytes.
constexpr size_t kMaxTransfer = size_t{1} << 30;

// The position of a positioned read or write, as the system takes it.
OVERLAPPED At(int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  return at;
}

}  // namespace

bool File::Open(const std::string& path, int flags) {
  Close();
  std::wstring wide;
  if (!win::WidePath(path, wide)) return Fail(errno);
  // Others may read, write, rename and delete the file while it is open, as on POSIX systems: a
  // player that has the file open does not stop a save, nor does this open stop the player.
  HANDLE h = win::OpenExisting(wide, static_cast<DWORD>(flags), FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return Fail(EISDIR);
    }
    return Fail(win::ErrnoOf(error));
  }
  return Adopt(reinterpret_cast<NativeHandle>(h), path);
}

bool File::Adopt(NativeHandle handle, std::string path) {
  Close();
  path_ = std::move(path);
  BY_HANDLE_FILE_INFORMATION info;
  int err = 0;
  const DWORD type = ::GetFileType(H(handle));
  if (type == FILE_TYPE_PIPE) {
    err = kErrFifo;
  } else if (type != FILE_TYPE_DISK) {
    err = kErrDevice;  // a device or a console
  } else if (!::GetFileInformationByHandle(H(handle), &info)) {
    err = win::LastErrno();
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    err = EISDIR;
  }
  if (err != 0) {
    ::CloseHandle(H(handle));
    return Fail(err);
  }
  fd_ = handle;
  sizeAtOpen_ = static_cast<int64_t>((uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
  blockSizeAtOpen_ = 4096;  // the cluster of NTFS volumes of every size a music folder has
  modeAtOpen_ = info.dwFileAttributes;
  linksAtOpen_ = info.nNumberOfLinks;
  deviceAtOpen_ = info.dwVolumeSerialNumber;
  inodeAtOpen_ = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return true;
}

int File::RefusesChange() const {
  if (modeAtOpen_ & FILE_ATTRIBUTE_READONLY) return EACCES;
  return linksAtOpen_ > 1 ? EMLINK : 0;
}

bool File::OpenRead(const std::string& path) { return Open(path, GENERIC_READ); }

bool File::OpenReadWrite(const std::string& path) {
  return Open(path, GENERIC_READ | GENERIC_WRITE);
}

bool File::Size(int64_t& size) const {
  if (fd_ < 0) return Fail(EBADF);
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(H(fd_), &value)) return Fail(win::LastErrno());
  size = value.QuadPart;
  return true;
}

bool File::ReadAt(int64_t offset, void* data, size_t count) const {
  if (fd_ < 0) return Fail(EBADF);
  if (offset < 0) return Fail(EINVAL);
  auto* out = static_cast<unsigned char*>(data);
  while (count > 0) {
    OVERLAPPED at = At(offset);
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min(count, kMaxTransfer));
    if (!::ReadFile(H(fd_), out, chunk, &n, &at)) {
      const DWORD error = ::GetLastError();
      return Fail(error == ERROR_HANDLE_EOF ? EIO : win::ErrnoOf(error));
    }
    if (n == 0) return Fail(EIO);  // the file ended before `count` bytes
    out += n;
    offset += n;
    count -= n;
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

// Writes at `offset`, or at the file's end when `offset` is negative: the system's own append,
// in one step with finding the end, so that two processes appending at once never write over
// each other's bytes.
bool File::Write(int64_t offset, const void* data, size_t count) {
  size_t allowed = count;
  const int injected = fault::TakeWrite(count, allowed, path_);
  if (injected != 0) count = allowed;  // a test's fault: only the bytes it allows, then a failure
  std::vector<unsigned char> wrong;    // a test's fault: the bytes as they land
  const unsigned char* in =
      fault::AsLanding(static_cast<const unsigned char*>(data), count, path_, wrong);
  while (count > 0) {
    OVERLAPPED at = At(offset < 0 ? 0 : offset);
    if (offset < 0) at.Offset = at.OffsetHigh = 0xFFFFFFFF;  // the end of the file
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min(count, kMaxTransfer));
    if (!::WriteFile(H(fd_), in, chunk, &n, &at)) return Fail(win::LastErrno());
    if (n == 0) return Fail(ENOSPC);
    in += n;
    if (offset >= 0) offset += n;
    count -= n;
  }
  return injected == 0 ? true : Fail(injected);
}

bool File::Truncate(int64_t size) {
  if (fd_ < 0) return Fail(EBADF);
  if (size < 0) return Fail(EINVAL);
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = size;
  if (!::SetFileInformationByHandle(H(fd_), FileEndOfFileInfo, &end, sizeof end)) {
    return Fail(win::LastErrno());
  }
  return true;
}

bool File::AddOwnerWrite() {
  if (fd_ < 0) return Fail(EBADF);
  if (!(modeAtOpen_ & FILE_ATTRIBUTE_READONLY)) return true;
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandleEx(H(fd_), FileBasicInfo, &basic, sizeof basic)) {
    return Fail(win::LastErrno());
  }
  basic.FileAttributes &= ~DWORD{FILE_ATTRIBUTE_READONLY};
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileInformationByHandle(H(fd_), FileBasicInfo, &basic, sizeof basic)) {
    return Fail(win::LastErrno());
  }
  modeAtOpen_ &= ~unsigned{FILE_ATTRIBUTE_READONLY};
  return true;
}

bool File::Sync() {
  if (fd_ < 0) return Fail(EBADF);
  const bool flushed = ::FlushFileBuffers(H(fd_));
  const int system = flushed ? 0 : win::LastErrno();
  errno = system;
  if (int err = fault::Flushed(flushed ? 0 : -1, path_)) return Fail(err);
  return true;
}

// Windows flushes a file's data and metadata in one call.
bool File::SyncData() { return Sync(); }

bool File::Close() {
  if (fd_ < 0) return true;
  const NativeHandle handle = std::exchange(fd_, -1);
  if (!::CloseHandle(H(handle))) return Fail(win::LastErrno());
  return true;
}

std::string ErrorText(int err) {
  switch (err) {
    case ESTALE:
      return "Stale file handle";
    case EDQUOT:
      return "Disk quota exceeded";
    // The C library's table ends at the values of ISO C.
    case EOPNOTSUPP:
      return "Operation not supported";
    case ELOOP:
      return "Too many levels of symbolic links";
    case ETXTBSY:
      return "Text file busy";
    case kErrFifo:
      return "Is a pipe, not a regular file";
    case kErrDevice:
      return "Is a device, not a regular file";
    default:
      return std::strerror(err);
  }
}

}  // namespace platform
