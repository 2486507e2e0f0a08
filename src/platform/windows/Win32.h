// Helpers of the Windows implementation: paths between UTF-8 and the system's UTF-16, long paths,
// Win32 errors as errno values, and a handle closed at the end of its scope.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

namespace platform::win {

// The UTF-16 text of UTF-8 `text`; a three-byte sequence of a surrogate code gives that lone
// surrogate, so that every name the system holds comes back as it was. False (and nothing
// written) when `text` is not such UTF-8.
bool Widen(std::string_view text, std::wstring& wide);
// The UTF-8 text of UTF-16 `wide`; a surrogate without its partner becomes its three-byte
// sequence.
std::string Narrow(std::wstring_view wide);

// The path the system's calls take for `path`: its UTF-16 text, "/" and "\" both separating names.
// A path of 248 characters or more (the classic limit of the calls that make folders is 248, of the
// others 260) is made absolute and given the "\\?\" prefix, which lifts the limit. False (errno
// EINVAL) when `path` is empty or not valid UTF-8.
bool WidePath(const std::string& path, std::wstring& wide);

// `path` made absolute, with the "\\?\" prefix (a path that has it stays as it is).
bool VerbatimPath(const std::wstring& path, std::wstring& verbatim);

// The folder of `path`, up to and including its last "/" or "\"; "." when it has none.
std::string FolderOf(const std::string& path);

// The errno value for a Win32 error code, and for the calling thread's last error.
int ErrnoOf(DWORD error);
int LastErrno();

// Errors by which a call says that this system or file system does not offer it.
bool Unsupported(DWORD error);

// A HANDLE closed at the end of its scope.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }
  void Reset(HANDLE h = INVALID_HANDLE_VALUE) {
    if (Valid()) ::CloseHandle(h_);
    h_ = h;
  }
  // Gives the handle up to the caller, who closes it from then on.
  HANDLE Release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }

 private:
  HANDLE h_;
};

// Every share mode: others may read, write, rename and delete the file while it is open, as they
// may on POSIX systems.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens an existing file or folder at `wide` with `access`, every share mode, following links.
HANDLE OpenExisting(const std::wstring& wide, DWORD access, DWORD flags = 0);

// The flags that open a file or a folder itself, never what a link at its name points to.
constexpr DWORD kNoFollow = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// True when the open file or folder `h`, whose attributes are `attributes`, is a symbolic link or a
// junction: a reparse point that stands for another name. Other reparse points (a cloud file not
// yet on the disk, a deduplicated file) are the file itself, served by the system's filters.
bool IsLink(HANDLE h, DWORD attributes);

// True when the open file or folder `h` belongs to the user this process runs as (its owner is the
// user, or the owner this process gives the files it makes: the Administrators group for an
// elevated process), or lies on a file system that keeps no owners (FAT). Needs READ_CONTROL.
bool OwnedByThisUser(HANDLE h);

// The path of the open file or folder `h` as the system resolves it (every link followed), with
// the "\\?\" prefix; false when the system cannot tell.
bool FinalPath(HANDLE h, std::wstring& path);

// A path of the system ("\\?\C:\x", "\\?\UNC\server\share\x", "C:\x") as the code above the
// platform holds paths: UTF-8, "/" between names, without the prefix ("C:/x", "//server/share/x").
std::string GenericPath(std::wstring_view path);

// Marks an open file to go when its last handle closes, or takes the mark back. While marked,
// the file goes with the process, even one that is killed. `h` needs DELETE access.
bool MarkForDeletion(HANDLE h, bool mark);

// Renames the open file `h` to `target` in one step, replacing the file there even while others
// have it open (they keep reading the old content), as rename(2) does: the renames by handle of
// Windows 10 and later, with POSIX semantics. False with the system's error when it cannot.
bool RenameOverOpenFile(HANDLE h, const std::wstring& target);

}  // namespace platform::win
