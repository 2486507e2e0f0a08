// The program's own files in the user's state folder (the journal, its lock files): a folder and
// files of this user only, never reached through a symbolic link, and locks that tell whether the
// process that took them still runs.
#pragma once

#include <string>

#include "platform/File.h"

namespace platform {

// The folder where the program keeps its state: $XDG_STATE_HOME/velomi when XDG_STATE_HOME is an
// absolute path, else ~/.local/state/velomi; on Windows %LOCALAPPDATA%\velomi.
std::string StateFolder();

// Makes `path` a folder of this user's own, mode 0700, with its parents (made with the usual
// permissions) when they are missing. 0, or the errno of the refusal: ELOOP for a symbolic link,
// ENOTDIR for something else than a folder, EPERM for another user's folder. On Windows the folder
// keeps the permissions it inherits (in %LOCALAPPDATA%, its user's alone); a junction counts as a
// link.
int EnsurePrivateFolder(const std::string& path);

enum class PrivateOpen {
  kRead,    // an existing file, for reading; ENOENT when there is none
  kAppend,  // for writing at its end, made (0600) when missing
};

// Opens a file of a private folder: never through a symbolic link (ELOOP), only a regular file
// (EINVAL) of this user (EPERM), made 0600 when it was more open. 0, or the errno of the failure.
int OpenPrivateFile(const std::string& path, PrivateOpen how, File& file);

// Puts `bytes` in place of the private file `path` in one step: a new file beside it, flushed,
// renamed over it, the folder flushed, so that neither a crash nor a reader ever sees a part of it
// (on Windows the rename is written through to the disk instead). 0, or the errno of the failure;
// the old file then stays as it was.
int ReplacePrivateFile(const std::string& path, const std::string& bytes);

// Removes the file `path` (never a folder). 0, or the errno of the failure.
int RemoveFile(const std::string& path);

// An exclusive lock on a lock file, made 0600 when missing and never through a symbolic link,
// held until Unlock() or the end of the lock's life (or of the process): flock(2), on Windows
// LockFileEx on the file's first byte.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { Unlock(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the lock on `path`, waiting for it when `wait`, else failing at once with EWOULDBLOCK
  // when another holds it. The lock is on the file that `path` names once it is held (a lock file
  // removed by RemoveIfFree meanwhile is made again). 0, or the errno of the failure.
  int Lock(const std::string& path, bool wait);
  void Unlock();
  bool Held() const { return fd_ >= 0; }

  // Whether another open of `path` holds its lock now (this process's own lock counts): true while
  // its holder runs. False only when the file is missing or free: a file that cannot be opened or
  // locked for any other reason (no descriptor left, no permission, a link) counts as held.
  static bool HeldByAnother(const std::string& path);
  // Removes the lock file `path` when no one holds its lock (taking it for the removal, so that no
  // one takes it meanwhile). True when it was removed.
  static bool RemoveIfFree(const std::string& path);

 private:
  NativeHandle fd_ = -1;
};

}  // namespace platform
