// File-system calls of the tag code and the window: existence, permissions, folder listing and
// renaming without replacing. Paths are the file system's bytes; on Windows they are the UTF-8
// text of the system's UTF-16 names (a name that is not valid UTF-16 keeps its lone surrogates as
// three-byte sequences, so that it comes back unchanged), with "/" or "\" between names, and
// paths of any length.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// `path` as the code above the platform holds paths, with "/" between names: as it is; on Windows,
// where a person may type "\" as well, with each "\" made a "/".
std::string GenericPath(std::string path);

// Opens `path` for reading as a C stream, as fopen(path, "rb") does (a pipe or a FIFO too); on
// Windows by the path's UTF-16. Null on failure, errno telling why.
std::FILE* OpenForReading(const std::string& path);

// True when `path` names a regular file, following symbolic links; a folder does not count.
bool FileExists(const std::string& path);

// True when this user may write the file at `path` (access(2) with W_OK; on Windows, the file is
// not read-only).
bool MayWrite(const std::string& path);

// Gives the file's owner write permission (the file is no longer read-only); on Windows clears its
// read-only attribute. Best effort: the caller ignores the result, and a later open for writing
// tells whether it worked.
void ClearReadOnly(const std::string& path);

// True when the names are the same but for the letter case of ASCII letters, as the listings
// below compare names; `EndsWithFoldAscii`: when `name` ends in `suffix` so.
bool EqualFoldAscii(std::string_view a, std::string_view b);
bool EndsWithFoldAscii(std::string_view name, std::string_view suffix);

// The names of the entries of `folder` whose names end in `suffix` (".mp3"), compared without
// regard to ASCII letter case, folders left out, sorted by name without regard to letter case.
// `folder` may end in "/" or not. An unreadable folder gives no names.
std::vector<std::string> ListFolder(const std::string& folder, std::string_view suffix);

// The entries of `folder` in one reading: the names of its files (every entry but a folder) and of
// its folders (symbolic links followed), each sorted by name without regard to ASCII letter case;
// "." and ".." left out. An unreadable folder gives no names.
struct FolderEntries {
  std::vector<std::string> files;
  std::vector<std::string> folders;
};
FolderEntries ListEntries(const std::string& folder);

// True where the file system's names are bytes that need not be UTF-8 (POSIX: a name from a
// Windows archive or a FAT drive may be GBK); false where names are UTF-16 (Windows), which reach
// the code above as UTF-8.
#ifdef _WIN32
constexpr bool kNamesAreBytes = false;
#else
constexpr bool kNamesAreBytes = true;
#endif

// True when `name` may be a file name on every system the files travel to: not empty, not "." or
// "..", at most 255 bytes, and free of the characters \ / : * ? " < > | and of codes below 32.
bool IsPortableFileName(std::string_view name);

// Renames `from` to `to` unless `to` exists, and never replaces a file: renameat2 with
// RENAME_NOREPLACE; where the file system lacks it, a hard link and an unlink; where it lacks hard
// links too (FAT and exFAT through FUSE, SMB shares), `to` is reserved with an empty file created
// only when the name is free, and `from` is renamed over that placeholder. On Windows,
// MoveFileExW without MOVEFILE_REPLACE_EXISTING. On failure errno tells why (EEXIST when `to` is
// taken), and no placeholder is left.
bool RenameNoReplace(const std::string& from, const std::string& to);

// Flushes to the disk every file system that holds one of `paths` (one syncfs for each; up to
// kFlushedEach files, and on Windows, which flushes a whole volume only for administrators, every
// file, each file on its own instead), so that a batch whose writes did not wait for the disk is on
// it. False when a flush failed (a write that could not reach the disk); errno tells why.
constexpr size_t kFlushedEach = 4;
bool SyncFileSystemsOf(const std::vector<std::string>& paths);

// The folder where the program keeps its state between runs (the journal): $XDG_STATE_HOME/velomi
// when that variable holds an absolute path, else ~/.local/state/velomi; on Windows
// %LOCALAPPDATA%\velomi. Empty when the system names no such place. The folder may not exist yet.
std::string StateFolder();

}  // namespace platform
