// A file opened for positioned reads and writes, closed on every path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Errno.h"

namespace platform {

// The system's own handle of an open file: a file descriptor, or on Windows a HANDLE, in an
// integer wide enough for either; negative when there is none.
using NativeHandle = intptr_t;

// An existing regular file, opened for reading or for reading and writing. Opening never creates a
// file, and never succeeds on a folder (EISDIR), a FIFO (kErrFifo) or a device (kErrDevice, of
// platform/Errno.h). Reads and writes are positioned and exact: transferring fewer bytes than
// asked is a failure. Every failure records its errno, which error() gives until the next failure;
// errno holds it too when the failing call returns.
class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  bool OpenRead(const std::string& path);
  bool OpenReadWrite(const std::string& path);
  // Takes charge of `fd`, a handle open on a regular file (at `path`, when known), which it
  // closes from then on, on every path (at once when it is not a regular file).
  bool Adopt(NativeHandle fd, std::string path = std::string());
  bool IsOpen() const { return fd_ >= 0; }

  bool Size(int64_t& size) const;
  // The file's size as the open found it, without asking the system again.
  int64_t SizeAtOpen() const { return sizeAtOpen_; }
  // The file's identity as the open found it: its file system and its inode.
  uint64_t DeviceAtOpen() const { return deviceAtOpen_; }
  uint64_t InodeAtOpen() const { return inodeAtOpen_; }
  // The file system's preferred block size for the file as the open found it (st_blksize).
  int64_t BlockSizeAtOpen() const { return blockSizeAtOpen_; }
  // Whether the file may be changed where it stands, as a replacement of it may be (see
  // ReplacementFile): it has its owner's write permission and no other hard link. EACCES or
  // EMLINK otherwise, else 0.
  int RefusesChange() const;
  bool ReadAt(int64_t offset, void* data, size_t count) const;
  bool WriteAt(int64_t offset, const void* data, size_t count);
  // Writes at the file's end, for a file opened to append (see OpenPrivateFile).
  bool Append(const void* data, size_t count);
  // Ends the file at `size` bytes.
  bool Truncate(int64_t size);
  // Gives the file's owner write permission when it lacks it (the file is no longer read-only).
  bool AddOwnerWrite();
  // Flushes the file's data and metadata to the disk.
  bool Sync();
  // Flushes the file's data, and of its metadata what reading the data back needs (its size).
  bool SyncData();
  // Closes the file; false when the close reported an error (a delayed write failure).
  bool Close();

  NativeHandle fd() const { return fd_; }
  // The path the file was opened by (empty when adopted without one).
  const std::string& path() const { return path_; }
  int error() const { return error_; }

 private:
  bool Open(const std::string& path, int flags);
  bool Write(int64_t offset, const void* data, size_t count);
  bool Fail(int err) const;

  NativeHandle fd_ = -1;
  std::string path_;
  mutable int error_ = 0;
  int64_t sizeAtOpen_ = 0;
  int64_t blockSizeAtOpen_ = 0;
  unsigned modeAtOpen_ = 0;  // st_mode when opened; on Windows the file's attributes
  uint64_t linksAtOpen_ = 0;
  uint64_t deviceAtOpen_ = 0;
  uint64_t inodeAtOpen_ = 0;
};

// The system's text for an errno value, as strerror gives it.
std::string ErrorText(int err);

}  // namespace platform
