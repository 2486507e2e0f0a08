// Small helpers of the POSIX implementation: a path's folder and a folder listing's closer.
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

}  // namespace platform
