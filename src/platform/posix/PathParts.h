// Small helpers of the POSIX implementation: a path's folder, a folder listing's closer, and the
// rename without replacing, relative to open folders.
#pragma once

#include <dirent.h>

#include <string>

namespace platform {

// The folder of `path`, up to and including its last "/"; "." when it has none.
inline std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// Closes a folder listing at the end of its scope (std::unique_ptr<DIR, DirCloser>).
struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

namespace detail {

// Renames `from` in the folder `fromDir` to `to` in the folder `toDir` (AT_FDCWD for paths) unless
// `to` exists, with the fallbacks of RenameNoReplace. 0, or the errno of the failure.
int RenameNoReplaceAt(int fromDir, const std::string& from, int toDir, const std::string& to);

}  // namespace detail
}  // namespace platform
