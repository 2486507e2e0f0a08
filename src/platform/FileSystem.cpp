#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {
namespace {

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualFoldAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

bool LessFoldAscii(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(FoldAscii(a[i]));
    auto y = static_cast<unsigned char>(FoldAscii(b[i]));
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;  // names that differ in case only: a fixed order all the same
}

bool EndsWithFoldAscii(std::string_view name, std::string_view suffix) {
  return name.size() >= suffix.size() &&
         EqualFoldAscii(name.substr(name.size() - suffix.size()), suffix);
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void ClearReadOnly(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) {
    ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
  }
}

std::vector<std::string> ListFolder(const std::string& folder, std::string_view suffix) {
  std::vector<std::string> names;
  std::string dir = folder.empty() ? std::string(".") : folder;
  std::unique_ptr<DIR, DirCloser> d(::opendir(dir.c_str()));
  if (!d) return names;
  int dfd = ::dirfd(d.get());
  while (struct dirent* e = ::readdir(d.get())) {
    std::string_view name(e->d_name);
    if (name == "." || name == ".." || !EndsWithFoldAscii(name, suffix)) continue;
    bool isFolder = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st;
      isFolder = ::fstatat(dfd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    if (!isFolder) names.emplace_back(name);
  }
  std::sort(names.begin(), names.end(), LessFoldAscii);
  return names;
}

bool IsPortableFileName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (u < 32) return false;
    switch (c) {
      case '\\':
      case '/':
      case ':':
      case '*':
      case '?':
      case '"':
      case '<':
      case '>':
      case '|':
        return false;
      default:
        break;
    }
  }
  return true;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
  // The file system cannot rename without replacing: a hard link fails when `to` exists.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  if (::unlink(from.c_str()) != 0) {
    ::unlink(to.c_str());
    return false;
  }
  return true;
}

bool RenameInFolder(const std::string& folder, const std::string& from, const std::string& to) {
  if (!IsPortableFileName(to) || from.empty()) return false;
  const std::string oldPath = folder + from;
  const std::string newPath = folder + to;
  if (!EqualFoldAscii(from, to)) return RenameNoReplace(oldPath, newPath);

  // The names differ in letter case only. On a case-insensitive file system the new name already
  // names this very file, so a direct rename without replacing would fail: go through a free
  // temporary name, and come back to the old name when the second step is refused.
  struct stat st;
  if (::lstat(oldPath.c_str(), &st) != 0) return false;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string tmp = folder + ".velomi-rename-" + std::to_string(::getpid()) + "-" +
                      std::to_string(attempt) + ".tmp";
    if (!RenameNoReplace(oldPath, tmp)) {
      if (errno == EEXIST) continue;
      return false;
    }
    if (RenameNoReplace(tmp, newPath)) return true;
    RenameNoReplace(tmp, oldPath);
    return false;
  }
  return false;
}

}  // namespace platform
