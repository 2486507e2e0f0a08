// A save planned before it writes: the new header in the old one's room with a Padding Object,
// or grown with room for later edits, the data keeping its offset modulo the block size; and the
// write in place, byte for byte, refused where the file changed or may not be changed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "AsfFiles.h"
#include "TestFiles.h"
#include "platform/FaultInjection.h"
#include "platform/ReplacementFile.h"
#include "tags/wma/TWmaTag.h"

using namespace asffiles;
using testfiles::ReadAll;
using testfiles::TempDir;

namespace {

const Bytes kFileProperties = Opaque(kFilePropertiesId, 80, 1);
const Bytes kExtended = Extended({StringDesc(u"WM/Genre", u"Pop"), StringDesc(u"Other", u"x")});

Bytes Padding(size_t size) { return Object(PaddingObjectId, Bytes(size - 24, 0)); }
std::u16string Letters(size_t n) { return std::u16string(n, u'a'); }

struct Case {
  const char* name;
  std::vector<Bytes> old;    // the old header's children
  std::u16string title;      // the title saved
  std::vector<Bytes> fresh;  // the new header's children, its padding left out
  long padding;              // the Padding Object that fills the old room; -1: it grows
};

ino_t Inode(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_ino;
}

}  // namespace

TEST(WmaPadding, TheNewHeaderFillsItsRoomOrGrowsWithRoomToSpare) {
  const Bytes title8 = Content(Letters(8), u"A");
  const std::vector<Case> cases = {
      {"same size",
       {Content(u"Abcdef", u"A"), kFileProperties, kExtended},
       u"Uvwxyz",
       {Content(u"Uvwxyz", u"A"), kFileProperties, kExtended},
       0},
      {"smaller by 24",
       {Content(Letters(20), u"A"), kFileProperties, kExtended},
       Letters(8),
       {title8, kFileProperties, kExtended},
       24},
      {"smaller by 22: no room for a Padding Object",
       {Content(Letters(19), u"A"), kExtended},
       Letters(8),
       {title8, kExtended},
       -1},
      {"larger",
       {title8, kFileProperties, kExtended},
       Letters(60),
       {Content(Letters(60), u"A"), kFileProperties, kExtended},
       -1},
      {"old padding is room",
       {title8, kExtended, Padding(200), kFileProperties},
       Letters(40),
       {Content(Letters(40), u"A"), kExtended, kFileProperties},
       200 - 64},
      {"old padding moves last",
       {title8, Padding(100), kFileProperties, kExtended},
       Letters(8),
       {title8, kFileProperties, kExtended},
       100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const Bytes old = File(c.old, Payload(20000));
    const std::string path = dir.Write("a.wma", old);
    const ino_t inode = Inode(path);
    TIDwma tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    tag.SetTitle(c.title);
    wma::SavePlan plan;
    ASSERT_TRUE(tag.PlanSave(path, plan));
    EXPECT_EQ(plan.oldHeader, Header(c.old));
    EXPECT_EQ(plan.InPlace(), c.padding >= 0);
    const Bytes planned = plan.newHeader + AfterHeader(old);
    EXPECT_EQ(WithoutPadding(planned), Header(c.fresh) + AfterHeader(old));

    const uint64_t used = Header(c.fresh).size();
    if (c.padding > 0) {
      EXPECT_EQ(Bytes(plan.newHeader.begin() + long(used), plan.newHeader.end()),
                Padding(size_t(c.padding)));
    } else if (c.padding < 0) {
      // The data keeps its offset modulo the block size, and the room left is 2 KiB at least and
      // less than one block more.
      struct stat st {};
      ::stat(path.c_str(), &st);
      const uint64_t block = uint64_t(platform::ShareableBlock(st.st_blksize));
      const uint64_t size = plan.newHeader.size();
      EXPECT_EQ(size % block, Header(c.old).size() % block);
      EXPECT_GE(size - used, 24u + 2048u);
      EXPECT_LT(size - used, 24u + 2048u + block);
    }

    // In place: the file is the same file, its header replaced and nothing else touched.
    ASSERT_EQ(c.padding >= 0 ? wma::WriteHeaderInPlace(path, plan) : wma::ReplaceFile(path, plan),
              true);
    EXPECT_EQ(ReadAll(path), planned);
    EXPECT_EQ(Inode(path) == inode, c.padding >= 0);
    TIDwma back;
    ASSERT_TRUE(back.ReadFromFile(path));
    EXPECT_EQ(back.Title, c.title);
    EXPECT_EQ(back.Genre, u"Pop");

    // The next save of the same fields fits where the last one left room.
    ASSERT_TRUE(back.PlanSave(path, plan));
    EXPECT_TRUE(plan.InPlace());
    EXPECT_EQ(plan.newHeader, plan.oldHeader);
  }
}

TEST(WmaPadding, TheWriteInPlaceIsRefusedWhereItWouldNotBeSafe) {
  const Bytes old = File({Content(u"Old", u"A"), kFileProperties, kExtended});
  struct Refusal {
    const char* name;
    void (*before)(const std::string& path);
    int err;
  };
  const std::vector<Refusal> refusals = {
      {"changed since the plan",
       [](const std::string& path) {
         Bytes b = ReadAll(path);
         b[40] ^= 1;
         testfiles::WriteAll(path, b);
       },
       ESTALE},
      {"grown since the plan",
       [](const std::string& path) { testfiles::WriteAll(path, ReadAll(path) + Bytes{1}); },
       ESTALE},
      {"read-only", [](const std::string& path) { ::chmod(path.c_str(), 0444); }, EACCES},
      {"write fails part way",
       [](const std::string&) {
         platform::fault::FailWritesAfter(10, EIO, platform::fault::WriteFailure::kPartialOnce);
       },
       EIO},
      {"flush fails", [](const std::string&) { platform::fault::FailSyncs(EIO); }, EIO},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.name);
    TempDir dir;
    const std::string path = dir.Write("a.wma", old);
    TIDwma tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    tag.SetTitle(u"New");
    wma::SavePlan plan;
    ASSERT_TRUE(tag.PlanSave(path, plan));
    ASSERT_TRUE(plan.InPlace());
    r.before(path);
    const Bytes before = ReadAll(path);
    errno = 0;
    EXPECT_FALSE(wma::WriteHeaderInPlace(path, plan));
    EXPECT_EQ(errno, r.err);
    platform::fault::Reset();
    EXPECT_EQ(ReadAll(path), before) << "the old header is back";
  }
}
