// Helpers for tests that work on real files: a temporary folder removed at the end of the test,
// and whole-file reads and writes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testfiles {

using Bytes = std::vector<uint8_t>;

inline Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline Bytes FromString(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline unsigned Mode(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// The path of a committed fixture under tests/data.
inline std::string DataFile(const std::string& name) {
  return std::string(VELOMI_TEST_DATA) + "/" + name;
}

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "velomi-test-XXXXXX").string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
  }
  ~TempDir() {
    std::error_code ec;
    // Read-only entries are made writable first, so that the removal cannot fail on them.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
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
    for (const auto& e : std::filesystem::directory_iterator(path_)) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

// A file system of `type` ("xfs", "btrfs", "exfat") in an image file of `mib` MiB, mounted through
// a loop device while this lives (exFAT through FUSE, as Linux desktops mount USB sticks without
// the kernel's driver). Needs root and the mkfs tools: `mounted` is false where the machine lacks
// them, and the test then skips.
struct LoopMount {
  LoopMount(const TempDir& dir, const std::string& type, int mib = 320) : point(dir.File(type)) {
    const std::string image = dir.File(type + ".img");
    if (::geteuid() != 0 || ::mkdir(point.c_str(), 0755) != 0) return;
    const std::string make = "truncate -s " + std::to_string(mib) + "M '" + image + "' && mkfs." +
                             type + (type == "exfat" ? " '" : " -q '") + image +
                             "' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) return;
    if (type == "exfat") {
      device = dir.File("loop-device");
      mounted = std::system(("losetup -f --show '" + image + "' > '" + device +
                             "' 2>/dev/null && mount.exfat-fuse \"$(cat '" + device + "')\" '" +
                             point + "' >/dev/null 2>&1")
                                .c_str()) == 0;
    } else {
      mounted =
          std::system(("mount -o loop '" + image + "' '" + point + "' 2>/dev/null").c_str()) == 0;
    }
  }
  ~LoopMount() {
    if (mounted) std::system(("umount '" + point + "'").c_str());
    if (!device.empty())
      std::system(("losetup -d \"$(cat '" + device + "')\" 2>/dev/null").c_str());
  }
  LoopMount(const LoopMount&) = delete;
  LoopMount& operator=(const LoopMount&) = delete;

  std::string point;
  std::string device;  // a file naming the loop device, for exFAT
  bool mounted = false;
};

}  // namespace testfiles
