// Helpers for tests that work on real files: a temporary folder removed at the end of the test,
// and whole-file reads and writes.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace testfiles {

using Bytes = std::vector<uint8_t>;

// A path as the tests hold it (the platform's: UTF-8 on Windows) for the standard library.
inline std::filesystem::path Fs(const std::string& path) { return std::filesystem::u8path(path); }

inline Bytes ReadAll(const std::string& path) {
  std::ifstream in(Fs(path), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream out(Fs(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline Bytes FromString(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Makes a folder; its parent must exist.
inline void MakeFolder(const std::string& path) {
  std::error_code ec;
  ASSERT_TRUE(std::filesystem::create_directory(Fs(path), ec)) << path << ": " << ec.message();
}

// Takes every write permission away (on Windows: sets the read-only attribute), or tells whether
// none is left.
inline void MakeReadOnly(const std::string& path) {
  std::filesystem::permissions(Fs(path),
                               std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
}
inline bool IsReadOnly(const std::string& path) {
  return (std::filesystem::status(Fs(path)).permissions() & std::filesystem::perms::owner_write) ==
         std::filesystem::perms::none;
}

inline unsigned Mode(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// Makes `link` a symbolic link to `target` (a folder when `folder`); false where this user may not
// make links (Windows without the privilege, wine).
bool MakeLink(const std::string& target, const std::string& link, bool folder);

// Points the program's state folder (platform::StateFolder) into `path`: $XDG_STATE_HOME, and on
// Windows %LOCALAPPDATA%.
void UseStateFolder(const std::string& path);

// The path of a committed fixture under tests/data.
inline std::string DataFile(const std::string& name) {
  return std::string(VELOMI_TEST_DATA) + "/" + name;
}

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    // A new name of random letters, made only by this process, open to its user alone.
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      std::string name = "velomi-test-";
      for (int i = 0; i < 8; ++i) name += "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
      std::error_code ec;
      if (std::filesystem::create_directory(base / name, ec)) {
        std::filesystem::permissions(base / name, std::filesystem::perms::owner_all, ec);
        path_ = (base / name).generic_u8string();  // "/" between names, as the program's paths
      }
    }
    if (path_.empty()) throw std::runtime_error("cannot make a temporary folder");
  }
  ~TempDir() {
    // Read-only entries are made writable first, so that the removal cannot fail on them. Each
    // entry is removed once, the deepest first: a file that this process still holds open (a
    // lock file of the journal) may stay on Windows until it is closed, and its folders with it.
    std::error_code ec, ignored;
    std::vector<std::filesystem::path> entries;
    for (auto it = std::filesystem::recursive_directory_iterator(Fs(path_), ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
      entries.push_back(it->path());
    }
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
      std::filesystem::remove(*entry, ignored);
    }
    std::filesystem::remove(Fs(path_), ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder's path, without a trailing "/".
  const std::string& path() const { return path_; }
  // The path of `name` inside the folder.
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Writes `bytes` to `name` inside the folder and gives its path.
  std::string Write(const std::string& name, const Bytes& bytes) const {
    std::string p = File(name);
    WriteAll(p, bytes);
    return p;
  }
  // Copies a committed fixture into the folder under `name` and gives its path.
  std::string CopyData(const std::string& fixture, const std::string& name) const {
    return Write(name, ReadAll(DataFile(fixture)));
  }
  // The names of the entries in the folder, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(Fs(path_))) {
      names.push_back(e.path().filename().u8string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

}  // namespace testfiles
