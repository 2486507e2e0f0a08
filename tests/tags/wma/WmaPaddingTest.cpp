// A save planned before it writes: the new header in the old one's room with a Padding Object, or
// grown with room for later edits and the data's offset kept modulo the block size; the write in
// place byte for byte, refused where the file changed or may not be changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string>

#include "AsfFiles.h"
#include "TestFiles.h"
#include "platform/Errno.h"
#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "platform/ReplacementFile.h"
#include "tags/wma/TWmaTag.h"

using namespace asffiles;
using testfiles::ReadAll;
using testfiles::TempDir;

namespace {

const Bytes kExtended = Extended({StringDesc(u"WM/Genre", u"Pop"), StringDesc(u"Other", u"x")});
Bytes Padding(size_t size) { return Object(PaddingObjectId, Bytes(size - 24, 0)); }
Bytes Titled(size_t n, char16_t letter = u'a') { return Content(std::u16string(n, letter), u"A"); }

// The first bytes of the file that `file` has open.
Bytes Start(const platform::File& file, size_t count) {
  Bytes bytes(count);
  return file.ReadAt(0, bytes.data(), count) ? bytes : Bytes{};
}

// The first offset where two headers of one size differ.
size_t FirstDifference(const Bytes& a, const Bytes& b) {
  return size_t(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
}

}  // namespace

TEST(WmaPadding, TheNewHeaderFillsItsRoomOrGrowsWithRoomToSpare) {
  struct Case {
    const char* name;
    std::vector<Bytes> old;  // the old header's children
    size_t title;            // the units of the new title
    long padding;            // the Padding Object that fills the old room; -1: the header grows
  };
  const std::vector<Case> cases = {
      {"same size", {Titled(8), kExtended}, 8, 0},
      {"smaller by 24", {Titled(20), kExtended}, 8, 24},
      {"smaller by 22: no room for a Padding Object", {Titled(19), kExtended}, 8, -1},
      {"larger", {Titled(8), kExtended}, 60, -1},
      {"old padding is room", {Titled(8), kExtended, Padding(200)}, 40, 200 - 64},
      {"old padding moves last", {Titled(8), Padding(100), kExtended}, 8, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const Bytes old = File(c.old, Payload(20000));
    const std::string path = dir.Write("a.wma", old);
    platform::File opened;  // open before the save: sees a write in place, not a replacement
    ASSERT_TRUE(opened.OpenRead(path));
    TIDwma tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    tag.SetTitle(std::u16string(c.title, u'b'));
    wma::SavePlan plan;
    ASSERT_TRUE(tag.PlanSave(path, plan));
    EXPECT_EQ(plan.oldHeader, Header(c.old));
    ASSERT_EQ(plan.InPlace(), c.padding >= 0);
    const Bytes fresh = Header({Titled(c.title, u'b'), kExtended});
    const Bytes planned = plan.newHeader + AfterHeader(old);
    EXPECT_EQ(WithoutPadding(planned), fresh + AfterHeader(old));
    const Bytes padding(plan.newHeader.begin() + long(fresh.size()), plan.newHeader.end());
    if (c.padding >= 0) {
      EXPECT_EQ(padding, c.padding > 0 ? Padding(size_t(c.padding)) : Bytes{});
      ASSERT_TRUE(asffiles::WriteInPlace(path, plan));
      EXPECT_EQ(Start(opened, plan.newHeader.size()), plan.newHeader)
          << "the same file, written in place";
    } else {
      // The data keeps its offset modulo the block size, with 2 KiB of room at least and less
      // than one block more.
      const size_t block = size_t(platform::ShareableBlock(opened.BlockSizeAtOpen()));
      EXPECT_EQ(plan.newHeader.size() % block, Header(c.old).size() % block);
      EXPECT_GE(padding.size(), 24u + 2048u);
      EXPECT_LT(padding.size(), 24u + 2048u + block);
      opened.Close();  // Windows replaces a file that others have open only where it may
      ASSERT_TRUE(wma::ReplaceFile(path, plan));
    }
    EXPECT_EQ(ReadAll(path), planned);

    // The next save of the same fields fits where this one left room.
    ASSERT_TRUE(tag.ReadFromFile(path));
    ASSERT_TRUE(tag.PlanSave(path, plan));
    EXPECT_EQ(plan.newHeader, plan.oldHeader);
  }
}

TEST(WmaPadding, AGrownHeaderKeepsItsRoomWhateverTheBlockSize) {
  // Block alignment alone may give a header more or less room than it keeps: each title here
  // leaves a different remainder of the block.
  const Bytes old = Header({Titled(8), kExtended});
  for (int64_t block : {4096, 65536}) {
    for (size_t title : {60, 700, 1100, 1700, 2100}) {
      SCOPED_TRACE(std::to_string(block) + " " + std::to_string(title));
      TIDwma tag;
      ASSERT_TRUE(wma::ReadFromImage(tag, old.data(), old.size()));
      tag.SetTitle(std::u16string(title, u'b'));
      wma::SavePlan plan;
      ASSERT_TRUE(tag.PlanFromHeader(old, int64_t(old.size()) + 3000, block, plan));
      ASSERT_FALSE(plan.InPlace());
      const size_t padding =
          plan.newHeader.size() - Header({Titled(title, u'b'), kExtended}).size();
      EXPECT_GE(padding, 24u + 2048u);
      EXPECT_LT(padding, 24u + 2048u + size_t(block));
      EXPECT_EQ(plan.newHeader.size() % size_t(block), old.size() % size_t(block));
    }
  }
}

TEST(WmaPadding, TheWriteInPlaceIsRefusedWhereItWouldNotBeSafe) {
  const Bytes old = File({Titled(3), kExtended});
  using platform::fault::WriteFailure;
  using Before = std::function<void(const std::string&, const wma::SavePlan&)>;
  // (That the file still holds the old header is the caller's check: the core's, before it.)
  const std::vector<std::pair<int, Before>> cases = {
      {EACCES, [](const std::string& p, const wma::SavePlan&) { testfiles::MakeReadOnly(p); }},
      {EIO,  // the write stops just past the first byte where the headers differ
       [](const std::string&, const wma::SavePlan& plan) {
         platform::fault::FailWritesAfter(FirstDifference(plan.oldHeader, plan.newHeader) + 1, EIO,
                                          WriteFailure::kPartialOnce);
       }},
      {EIO, [](const std::string&, const wma::SavePlan&) { platform::fault::FailSyncs(EIO); }},
  };
  for (const auto& [err, before] : cases) {
    SCOPED_TRACE(err);
    TempDir dir;
    const std::string path = dir.Write("a.wma", old);
    TIDwma tag;
    tag.SetTitle(u"New");
    wma::SavePlan plan;
    ASSERT_TRUE(tag.PlanSave(path, plan) && plan.InPlace());
    before(path, plan);  // the file changed since the plan, is read-only, or its write fails
    const Bytes now = ReadAll(path);
    EXPECT_FALSE(asffiles::WriteInPlace(path, plan));
    EXPECT_EQ(errno, err);
    platform::fault::Reset();
    EXPECT_EQ(ReadAll(path), now) << "untouched, or the old header back";
  }
}
