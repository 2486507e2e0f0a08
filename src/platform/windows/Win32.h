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

 private:
  HANDLE h_;
};

// Every share mode: others may read, write, rename and delete the file while it is open, as they
// may on POSIX systems.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens an existing file or folder at `wide` with `access`, every share mode, following links.
HANDLE OpenExisting(const std::wstring& wide, DWORD access, DWORD flags = 0);

}  // namespace platform::win
