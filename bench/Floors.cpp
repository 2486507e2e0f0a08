#include "Floors.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace floors {

bool ReadLastBlock(const char* path, unsigned char block[128], bool& tagged) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && st.st_size >= 128 &&
            ::pread(fd, block, 128, st.st_size - 128) == 128;
  ::close(fd);
  tagged = ok && block[0] == 'T' && block[1] == 'A' && block[2] == 'G';
  return ok;
}

bool ReadFirstAndLastBlock(const char* path, unsigned char first[4096], unsigned char block[128],
                           bool& tagged) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && st.st_size >= 4096 + 128 &&
            ::pread(fd, first, 4096, 0) == 4096 && ::pread(fd, block, 128, st.st_size - 128) == 128;
  ::close(fd);
  tagged = ok && std::memcmp(first, "ID3", 3) == 0 && std::memcmp(block, "TAG", 3) == 0;
  return ok;
}

bool WriteLastBlock(const char* path, const unsigned char block[128]) {
  int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && st.st_size >= 128 &&
            ::pwrite(fd, block, 128, st.st_size - 128) == 128;
  return ::close(fd) == 0 && ok;
}

bool WriteLastBlockFlushed(const char* path, const unsigned char block[128]) {
  int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && st.st_size >= 128 &&
            ::pwrite(fd, block, 128, st.st_size - 128) == 128 && ::fdatasync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

bool SyncFileSystemOf(const char* path) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::syncfs(fd) == 0;
  return ::close(fd) == 0 && ok;
}

namespace {

// Reads the ASF header of the open file in one or two reads, then closes the file.
int64_t ReadAsfHeaderFrom(int fd, std::vector<unsigned char>& buffer) {
  static const unsigned char kHeaderId[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  constexpr size_t kFirst = 4096;
  if (buffer.size() < kFirst) buffer.resize(kFirst);
  int64_t size = -1;
  ssize_t n = ::pread(fd, buffer.data(), kFirst, 0);
  if (n >= 30 && std::memcmp(buffer.data(), kHeaderId, 16) == 0) {
    uint64_t header = 0;
    std::memcpy(&header, buffer.data() + 16, 8);  // little-endian on the machines measured
    if (header <= static_cast<uint64_t>(n)) {
      size = static_cast<int64_t>(header);
    } else if (header < (uint64_t{1} << 30)) {
      if (buffer.size() < header) buffer.resize(header);
      size_t rest = header - static_cast<size_t>(n);
      if (::pread(fd, buffer.data() + n, rest, n) == static_cast<ssize_t>(rest)) {
        size = static_cast<int64_t>(header);
      }
    }
  }
  ::close(fd);
  return size;
}

}  // namespace

int64_t ReadAsfHeader(const char* path, std::vector<unsigned char>& buffer) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  return ReadAsfHeaderFrom(fd, buffer);
}

int64_t ReadAsfHeaderAsPlatformFile(const char* path, std::vector<unsigned char>& buffer) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return ReadAsfHeaderFrom(fd, buffer);
}

bool Rename(const char* from, const char* to) {
  return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0;
}

}  // namespace floors
