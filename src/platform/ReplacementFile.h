// A new content for an existing file, written beside it and put in its place in one step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/File.h"

namespace platform {

// The block size by which the kernel shares blocks between two files (a clone, on xfs and btrfs)
// for a file system whose preferred block size (st_blksize) is `preferred`: that size when it is a
// power of two from 4 KiB to 64 KiB, else 4 KiB. Bytes keep their blocks shareable across a
// replacement when they keep their offset modulo this size.
int64_t ShareableBlock(int64_t preferred);

// Replaces an existing file safely: the new content goes to a temporary file in the same folder,
// is flushed to the disk, takes the old file's permission bits (and, where allowed, its owner; on
// Windows its attributes and creation time), and then replaces the old file in one atomic rename
// (rename(2); on Windows a rename with replacement, written through to the disk). Until Commit()
// succeeds the old file is untouched, and a replacement that is abandoned or fails removes its
// temporary file.
//
// Where the file system offers unnamed files (O_TMPFILE), the temporary file has no name until it
// is complete and flushed, so a process killed while writing it leaves nothing behind. Elsewhere it
// is named ".velomi-HOST-PID-START-XXXXXX" (this machine, the process id and the process's start
// time), and each Begin() removes the files of that form in its folder whose process is gone.
//
// A symbolic link is followed: the file it points to is replaced and the link stays. A file the
// user may not write (no owner write permission, or no write access) is refused, and so is a file
// with more than one hard link, since replacing it would split it from its other names. Where the
// file system has no permission bits at all (fchmod gives ENOSYS or EOPNOTSUPP), none are copied.
//
// On Windows a file can be replaced while others have it open only where they share deletion and
// the system offers POSIX rename semantics (Windows 10 on NTFS); elsewhere the replacement is
// refused (EACCES or EBUSY) and the old file stays as it was. Callers close their own handles on
// the old file before Commit().
// Removes from `folder` the temporary files of replacements whose process was killed (once a
// folder a process, as Begin() does): what recovery calls for the folders of an action cut short.
void RemoveLeftoversIn(const std::string& folder);

// The errno of the first flush of a folder that failed after a replacement took the old file's
// place in it, since the last call (0: none). Such a file holds its new content, but whether its
// folder's entry reached the disk is not known: after a power cut the old content may be back.
int TakeUnconfirmedReplacement();

class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Starts the replacement of the existing regular file `path`.
  bool Begin(const std::string& path);
  // Appends bytes to the new content.
  bool Write(const void* data, size_t count);
  // Appends `count` bytes of `source` from `offset` on to the new content.
  bool CopyFrom(const File& source, int64_t offset, int64_t count);
  // The new content as written so far, to read it back before Commit().
  const File& Content() const { return temp_; }
  // Flushes the new content and puts it in the old file's place.
  bool Commit();
  // Removes the temporary file; the old file stays as it was.
  void Abandon();

  // The errno value of the last failure; errno holds it too when the failing call returns.
  int error() const { return error_; }
  const std::string& target() const { return target_; }

 private:
  bool Fail(int err);
  bool CreateTemp(const std::string& folder);
  bool NameTemp(const std::string& folder);

  File temp_;
  std::string target_;    // the real path of the file being replaced
  std::string tempPath_;  // empty while the temporary file has no name, or when there is none
  // The temporary file goes by itself when it is closed: it has no name yet (O_TMPFILE), or on
  // Windows it is marked for deletion until it is complete.
  bool unnamed_ = false;
  int64_t written_ = 0;
  // What the new content takes over from the old file: its permission bits and owner on POSIX
  // systems; its attributes and creation time on Windows.
  uint32_t mode_ = 0;
#ifdef _WIN32
  int64_t created_ = 0;
#else
  uint32_t uid_ = 0;
  uint32_t gid_ = 0;
#endif
  int error_ = 0;
};

}  // namespace platform
