// A file system in an image file, mounted while a test runs (POSIX systems, as root).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "TestFiles.h"

namespace testfiles {

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
