// What a record keeps of a file: the old tag or header as a delta against the new one, rebuilt
// exactly from it and from nothing that is not whole.
#include <gtest/gtest.h>

#include <QByteArray>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "core/journal/Delta.h"
#include "core/journal/PreImages.h"
#include "core/journal/Records.h"

using namespace core;

namespace {

QByteArray Noise(int size, unsigned seed) {
  QByteArray b(size, '\0');
  for (int i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    b[i] = static_cast<char>(seed >> 16);
  }
  return b;
}

TEST(Delta, RebuildsEachTargetAndKeepsOnlyWhatTheSourceLacks) {
  const QByteArray cover = Noise(300000, 7);
  const QByteArray head = QByteArray("ID3\3\0\0\0\0\0\0TIT2\0\0\0\x0a\0\0\0Old title");
  const QByteArray newHead = QByteArray("ID3\3\0\0\0\0\0\0TIT2\0\0\0\x0d\0\0\0A newer title");
  struct Case {
    const char* what;
    QByteArray source, target;
    int most;  // the delta's size may not pass it
  };
  const std::vector<Case> cases = {
      {"alike", cover, cover, 16},
      {"no source", QByteArray(), Noise(100, 1), 110},
      {"no target", cover, QByteArray(), 0},
      {"a title that grew before a cover (the cover moves)", newHead + cover + QByteArray(500, 0),
       head + cover + QByteArray(503, 0), 80},
      {"frames in another order", cover.mid(0, 100000) + cover.mid(200000),
       cover.mid(200000) + cover.mid(0, 100000), 40},
      {"a byte changed in every block", cover,
       [&] {
         QByteArray t = cover;
         for (int i = 0; i < t.size(); i += 4096) t[i] = static_cast<char>(t[i] ^ 1);
         return t;
       }(),
       74 * 20 + 30 * 74},
      {"shorter than a block", QByteArray("abc"), QByteArray("abd"), 12},
      {"unlike", Noise(5000, 3), Noise(5000, 4), 5010},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QByteArray delta = EncodeDelta(c.source, c.target);
    EXPECT_LE(delta.size(), c.most);
    QByteArray rebuilt;
    ASSERT_TRUE(ApplyDelta(c.source, delta, rebuilt));
    EXPECT_TRUE(rebuilt == c.target);
  }
}

TEST(Delta, RefusesADeltaThatIsNotWholeOrReachesOutside) {
  const QByteArray source = "0123456789";
  const std::vector<std::pair<const char*, QByteArray>> cases = {
      {"an unknown operation", QByteArray("X")},
      {"a copy past the source's end", QByteArray("C\x05\x06", 3)},
      {"a copy from past the end", QByteArray("C\x0b\x00", 3)},
      {"a number cut off", QByteArray("C\x85", 2)},
      {"a literal longer than the delta", QByteArray("L\x09"
                                                     "abc",
                                                     5)},
      {"a number of more than 64 bits",
       QByteArray("C\xff\xff\xff\xff\xff\xff\xff\xff\xff\x7f\x01", 12)},
  };
  for (const auto& [what, delta] : cases) {
    QByteArray out;
    EXPECT_FALSE(ApplyDelta(source, delta, out)) << what;
  }
  // A delta that copies the source again and again stops at the size asked for.
  QByteArray many;
  for (int i = 0; i < 100; ++i) many += QByteArray("C\x00\x0a", 3);
  QByteArray out;
  EXPECT_TRUE(ApplyDelta(source, many, out, 1000));
  EXPECT_FALSE(ApplyDelta(source, many, out, 999));
}

TEST(PreImages, TheSweepKeepsWhatAnActionMayStillNeed) {
  testfiles::TempDir state;
  const QString journal = QString::fromStdString(state.path());
  const std::string folder = state.path() + "/preimages/";
  std::filesystem::create_directories(folder);
  struct Case {
    const char* name;
    bool stays;
  };
  const std::vector<Case> cases = {
      {"finished", false},      // its writes are on the disk
      {"running", true},        // listed, without its done record
      {"young", true},          // not listed yet: its begin record may be on its way
      {"old", false},           // not listed, and an hour old: a writer gone before recording
      {"finished.undo", true},  // an undo cut short that the next undo finishes
      {"gone.undo", false},     // its action left the journal: the undo was done
      {"young.tmp", true},      // half written, of an action not listed yet
      {"not an id", true},      // no file of ours
  };
  for (const Case& c : cases) testfiles::WriteAll(folder + c.name, testfiles::Bytes(8, 1));
  const auto hourAgo = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(61);
  std::filesystem::last_write_time(folder + "old", hourAgo);
  const std::map<QString, bool> actions = {{QStringLiteral("finished"), true},
                                           {QStringLiteral("running"), false}};
  core::SweepPreImages(journal, actions);
  for (const Case& c : cases) {
    EXPECT_EQ(std::filesystem::exists(folder + c.name), c.stays) << c.name;
  }
}

// Every kind of entry goes through the compact list and its record's columns as it came: the
// record read back gives each field again (the spans only where the record holds them).
TEST(Records, EachKindOfEntryComesBackFromItsRecord) {
  auto block = [](char c) { return QByteArray(128, c); };
  auto make = [](Entry::Kind kind, const std::string& folder, const std::string& name) {
    Entry e;
    e.kind = kind;
    e.folder = folder;
    e.name = name;
    e.size = 5000;
    return e;
  };
  const QByteArray oldTag = Noise(900, 1), newTag = Noise(400, 1) + Noise(500, 2);
  std::vector<Entry> edits;
  Entry e = make(Entry::Kind::kMp3, "/m/\xB7\xA2/", "tagged.mp3");  // a GBK folder name
  e.readOnly = true;
  e.oldBlock = block('o');
  e.newBlock = block('n');
  edits.push_back(e);
  e = make(Entry::Kind::kMp3, "/m/", "appended.mp3");
  e.newBlock = block('n');
  edits.push_back(e);
  e = make(Entry::Kind::kMp3, "/m/", "unreadable.mp3");
  e.size = -1;
  edits.push_back(e);
  e = make(Entry::Kind::kMp3, "/m/", "in place.mp3");  // spans in the record
  e.startTag = true;
  e.oldBlock = block('o');
  e.newBlock = block('n');
  DescribeRegions(e, oldTag, newTag, true);
  e.spansInRecord = true;
  e.newSize = 5000;
  edits.push_back(e);
  e = make(Entry::Kind::kMp3, "/m/", "replaced.mp3");  // the block stays as it is
  e.startTag = true;
  DescribeRegions(e, oldTag, newTag + "more", false);
  e.newSize = 5004;
  edits.push_back(e);
  e = make(Entry::Kind::kWma, "/w/", "in place.wma");  // spans in the pre-image file
  DescribeRegions(e, oldTag, newTag, true);
  e.oldSpan.clear();
  e.newSpan.clear();
  edits.push_back(e);
  e = make(Entry::Kind::kWma, "/w/", "replaced.wma");
  DescribeRegions(e, oldTag, QByteArray(), false);
  e.newDigest = "an older record's digest";  // not a digest's hexadecimal text
  edits.push_back(e);
  edits.push_back(make(Entry::Kind::kWma, "/w/", "unreadable.wma"));
  Entry rename = make(Entry::Kind::kRename, "/m/", "a.mp3");
  rename.newName = "b.mp3";
  // The repair of names knows its files and folders by identity: 64-bit numbers, kept whole.
  std::vector<Entry> repairs(2, make(Entry::Kind::kRename, "/m/", "\xD6\xDC"));
  repairs[0].newName = "周";
  repairs[0].identified = true;
  repairs[0].device = 0xFEDCBA9876543210u;
  repairs[0].inode = 42;
  repairs[1].name += ".mp3";
  repairs[1].newName = "周.mp3";
  repairs[1].identified = repairs[1].isFolder = true;
  repairs[1].inode = 0xFFFFFFFFFFFFFFFFu;

  auto same = [](const Entry& a, const Entry& b, bool spans) {
    EXPECT_EQ(a.kind, b.kind);
    EXPECT_EQ(a.folder + a.name + "|" + a.newName, b.folder + b.name + "|" + b.newName);
    EXPECT_EQ(a.size, b.size);
    EXPECT_EQ(a.readOnly, b.readOnly);
    EXPECT_EQ(a.identified, b.identified);
    EXPECT_EQ(a.isFolder, b.isFolder);
    EXPECT_EQ(a.device, b.device);
    EXPECT_EQ(a.inode, b.inode);
    EXPECT_TRUE(a.oldBlock == b.oldBlock && a.newBlock == b.newBlock);
    EXPECT_EQ(a.startTag, b.startTag);
    EXPECT_TRUE(a.oldDigest == b.oldDigest && a.newDigest == b.newDigest) << a.newDigest.data();
    EXPECT_TRUE(a.oldDelta == b.oldDelta);
    EXPECT_EQ(a.oldHeaderSize, b.oldHeaderSize);
    EXPECT_EQ(a.inPlace, b.inPlace);
    EXPECT_EQ(a.spanAt, b.spanAt);
    EXPECT_EQ(a.spanSize, b.spanSize);
    EXPECT_TRUE(!spans || (a.oldSpan == b.oldSpan && a.newSpan == b.newSpan));
    EXPECT_TRUE((a.kind == Entry::Kind::kMp3 && !a.startTag) || a.newSize == b.newSize);
  };
  for (const auto& [kind, entries] : {std::make_pair(QString("edit"), edits),
                                      std::make_pair(QString("rename"), std::vector{rename}),
                                      std::make_pair(QString("fix-names"), repairs)}) {
    EntryList list;
    for (const Entry& one : entries) list.Add(one);
    Decoded decoded;
    QJsonObject record = EncodeBegin(kind, "id", entries);
    record.insert("v", 2);  // as the journal writes it
    ASSERT_TRUE(DecodeBegin(record, std::nullopt, decoded));
    ASSERT_EQ(decoded.entries.size(), entries.size());
    for (size_t k = 0; k < entries.size(); ++k) {
      SCOPED_TRACE(entries[k].name);
      same(list.At(k), entries[k], true);
      same(decoded.entries[k], entries[k], entries[k].SpansInRecord());
      EXPECT_EQ(decoded.entries[k].SpansInRecord(), entries[k].SpansInRecord());
    }
  }
}

}  // namespace

namespace {

// The kinds of action by the words their records give them; a word of a later version that this
// one does not know is taken as a save, whose entries write tags and rename nothing.
TEST(Records, AnActionsKindComesBackFromItsWord) {
  const std::pair<const char*, ActionKind> words[] = {{"rename", ActionKind::kRename},
                                                      {"fix-names", ActionKind::kFixNames},
                                                      {"edit", ActionKind::kEdit},
                                                      {"save", ActionKind::kSave},
                                                      {"convert", ActionKind::kConvert}};
  for (const auto& [word, kind] : words) {
    EXPECT_EQ(ActionKindOf(word), kind) << word;
    EXPECT_EQ(KindWord(kind), word);
    EXPECT_EQ(IsRenameKind(word), kind == ActionKind::kRename || kind == ActionKind::kFixNames);
  }
  EXPECT_EQ(ActionKindOf("retag"), ActionKind::kSave);
  EXPECT_FALSE(IsRenameKind("retag"));
}

}  // namespace
