// On file systems that share blocks between files (xfs, btrfs), a save that replaces the file
// clones the data after the header instead of copying it. Needs root, the mkfs tools and loop
// devices: an image is made and mounted for each file system, and the test skips where the machine
// cannot.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "AsfFiles.h"
#include "LoopMount.h"
#include "TestFiles.h"
#include "tags/wma/TWmaTag.h"

using namespace asffiles;
using testfiles::LoopMount;
using testfiles::ReadAll;
using testfiles::TempDir;

namespace {

// The bytes of the file that share their blocks with another file, by FIEMAP; -1 when the file
// system cannot tell.
int64_t SharedBytes(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return -1;
  constexpr unsigned kExtents = 512;
  std::vector<char> buffer(sizeof(fiemap) + kExtents * sizeof(fiemap_extent));
  auto* map = reinterpret_cast<fiemap*>(buffer.data());
  map->fm_length = FIEMAP_MAX_OFFSET;
  map->fm_flags = FIEMAP_FLAG_SYNC;
  map->fm_extent_count = kExtents;
  const int rc = ::ioctl(fd, FS_IOC_FIEMAP, map);
  ::close(fd);
  if (rc != 0) return -1;
  int64_t shared = 0;
  for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
    if (map->fm_extents[i].fe_flags & FIEMAP_EXTENT_SHARED) {
      shared += int64_t(map->fm_extents[i].fe_length);
    }
  }
  return shared;
}

}  // namespace

TEST(WmaReflink, AReplaceSharesTheDataBlocksWithTheOldFile) {
  TempDir dir;
  int tried = 0;
  for (const std::string type : {"xfs", "btrfs"}) {
    SCOPED_TRACE(type);
    LoopMount mount(dir, type);
    if (!mount.mounted) continue;
    ++tried;
    const Bytes old =
        File({Content(u"Old", u"A"), Opaque(kFilePropertiesId, 80, 1)}, Payload(size_t{4} << 20));
    const std::string path = mount.point + "/a.wma";
    testfiles::WriteAll(path, old);
    ASSERT_EQ(SharedBytes(path), 0);
    // The old file stays open, so its blocks stay in use and sharing them shows.
    const int keep = ::open(path.c_str(), O_RDONLY);
    TIDwma tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    tag.SetTitle(u"A title that does not fit in the old header");
    ASSERT_TRUE(tag.SaveToFile(path));
    EXPECT_EQ(AfterHeader(ReadAll(path)), AfterHeader(old));
    // All but the partial first block of the data (and the last, partial one) are shared.
    EXPECT_GE(SharedBytes(path), int64_t(AfterHeader(old).size()) - 2 * 65536);
    ::close(keep);
  }
  if (tried == 0) GTEST_SKIP() << "no xfs or btrfs image could be mounted here";
}
