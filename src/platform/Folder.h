// A folder opened once, and the files, renames and checks of names inside it. Every call takes a
// single name (no "/", not "." or ".."), acts relative to the open folder and never follows a
// symbolic link at that name, so that a name stored in a record can act only inside its folder.
//
// On Windows, where no call acts relative to an open folder, the folder is held open without
// letting anyone rename, move or delete it (a handle that does not share deletion), and each call
// acts on the name in the folder's final path as the open resolved it: while the folder is open
// that path names the very folder that was opened. A symbolic link or a junction at a name is
// opened as itself (FILE_FLAG_OPEN_REPARSE_POINT) and refused, as POSIX's O_NOFOLLOW refuses a
// link.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/File.h"

namespace platform {

// What a name in a folder holds, the name itself when it is a symbolic link.
struct EntryInfo {
  bool exists = false;
  bool regular = false;
  bool folder = false;
  bool link = false;
  bool ours = false;  // owned by this process's user
  int64_t size = 0;
  unsigned mode = 0;  // permission bits; on Windows 0444 for a read-only file, else 0644
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t changedSeconds = 0;  // the last change of the entry's status (ctime)
  int64_t modifiedMsecs = 0;   // the last change of its content, in milliseconds after 1970
  int64_t accessedMsecs = 0;   // the last read of its content, in milliseconds after 1970

  bool SameFile(const EntryInfo& other) const {
    return exists && other.exists && device == other.device && inode == other.inode;
  }
};

// True when `name` is one name of a folder: not empty, not "." or "..", no "/" and no NUL; on
// Windows no "\" and no ":" either (a colon names a stream inside a file).
bool IsPlainName(std::string_view name);

// The length of the root that an absolute path starts with: "/"; on Windows a drive, "C:/", or a
// share, "//server/share/" (with "\" or "/"). 0 when `path` is not absolute.
size_t RootLength(std::string_view path);

// What `path` holds, following a symbolic link at its end (`follow`) or not.
EntryInfo StatPath(const std::string& path, bool follow);

// The path with every symbolic link and "." and ".." resolved, from the root; empty when it cannot
// be resolved (errno tells why). On Windows the path of the system's final name, with "/" between
// names and no "\\?\" prefix: "C:/Music/x.mp3", "//server/share/x.mp3".
std::string RealPath(const std::string& path);

class Folder {
 public:
  Folder() = default;
  ~Folder();
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;

  // Opens the folder `path`; a symbolic link at its last name is refused (ELOOP). False on
  // failure; error() tells why.
  bool Open(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  void Close();
  // The path as opened, ending in "/".
  const std::string& Path() const { return path_; }
  int error() const { return error_; }

  // What `name` holds; `exists` is false when nothing has that name (or the name is not plain).
  EntryInfo Stat(const std::string& name) const;
  // True when the folder's listing holds an entry spelled exactly `name`. Where the file system
  // folds letter case, Stat finds a name in any spelling; the listing tells the one it has.
  bool Lists(const std::string& name) const;
  // Opens the regular file `name` for reading, or reading and writing; a symbolic link is refused.
  bool OpenFile(const std::string& name, bool write, File& file) const;
  // Renames `from` to `to` inside the folder, never replacing another file, with the fallbacks of
  // RenameNoReplace. A rename that changes letter case only goes through the free name `caseTemp`
  // (a default of ours when empty), so that it works where names fold case. False on failure, the
  // names then as they were; error() and errno tell why.
  bool Rename(const std::string& from, const std::string& to,
              const std::string& caseTemp = std::string()) const;
  // Removes the file `name`.
  bool Remove(const std::string& name) const;
  // Gives the file `name` the permission bits `mode`, through `file` open on it (on Windows, the
  // file is read-only when `mode` lacks the owner's write bit 0200).
  static bool SetMode(File& file, unsigned mode);
  // Flushes the folder's entries to the disk, so that renames in it survive a power cut.
  bool Sync() const;

 private:
  bool Fail(int err) const;

  NativeHandle fd_ = -1;
  std::string path_;
  std::string final_;  // Windows: the folder's final path, where each call acts
  mutable int error_ = 0;
};

}  // namespace platform
