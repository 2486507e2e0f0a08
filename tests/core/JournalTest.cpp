// The journal's index: what a start reads of each record, the cut that keeps unsettled actions,
// and which actions count as running.
#include <fstream>
#include <functional>
#include <sstream>

#include "UndoTest.h"

namespace {

using namespace undotest;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class JournalTest : public UndoTest {
 protected:
  std::string Path() const { return state.path() + "/velomi/journal.jsonl"; }
  // A small finished action of this process.
  void Act() {
    const std::optional<QString> id = journal.Begin({{"kind", "edit"}, {"n", 1}});
    ASSERT_TRUE(id);
    ASSERT_TRUE(journal.Finish(*id, {{"r", "1"}}));
  }
};

// A start reads of each record its small fields and checks where its line ends; the payload is
// parsed only when the action is undone or settled.
TEST_F(JournalTest, AStartReadsEachRecordsSmallFieldsOnly) {
  struct Case {
    const char* what;
    std::function<void(std::string& line)> spoil;
    bool kept;    // false: set aside
    bool undone;  // the rename is undone
    bool done;    // `spoil` gets the rename's done record, else its begin record
  };
  const std::vector<Case> cases = {
      {"a payload that only a whole parse finds broken",
       [](std::string& line) { line[line.find("\"p\":\"") + 5] = '"'; }, true, false, false},
      {"a line of an older journal (keys in sorted order, no size)",
       [](std::string& line) {
         QJsonObject record = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
         record.remove("len");
         line = QJsonDocument(record).toJson(QJsonDocument::Compact).toStdString() + "\n";
       },
       true, true, false},
      {"a size that ends the line short of its newline (the line is parsed whole)",
       [](std::string& line) {
         const size_t at = line.find("\"len\":\"") + 7;
         std::string size = std::to_string(std::stoll(line.substr(at, 12)) - 3);
         line.replace(at, 12, size.insert(0, 12 - size.size(), '0'));
       },
       true, true, false},
      {"a kind of record that is none of ours",
       [](std::string& line) { line.replace(line.find("done"), 4, "dune"); }, false, false, true},
      {"a record of a newer version",
       [](std::string& line) { line[line.find("\"v\":") + 4] = '9'; }, false, false, false},
      {"a line cut off in its payload, another record after it",
       [](std::string& line) { line = line.substr(0, 200) + "\n"; }, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(Path());
    for (const auto& entry : std::filesystem::directory_iterator(files.path())) {
      std::filesystem::remove(entry.path());
    }
    ApplyRename(PlanRename({Make("f.mp3", "T", "A")}, 1), Options());
    const std::string bytes = ReadAll(Path());
    std::string begin = bytes.substr(0, bytes.find('\n') + 1);
    std::string done = bytes.substr(begin.size());
    ASSERT_NE(done.find("\"done\""), std::string::npos);
    c.spoil(c.done ? done : begin);
    WriteAll(Path(), begin + done);

    Journal fresh{QString::fromStdString(state.path() + "/velomi")};
    ASSERT_EQ(fresh.Refresh(), c.kept);
    EXPECT_EQ(fresh.Actions().size(), c.kept ? 1u : 0u);
    EXPECT_EQ(std::filesystem::exists(Path()), c.kept);
    if (!c.kept) {
      EXPECT_TRUE(fresh.TakeMessage().contains(U("已损坏")));
      continue;
    }
    EXPECT_TRUE(fresh.TakeMessage().isEmpty());
    QJsonObject record;
    std::optional<QJsonObject> settled;
    EXPECT_EQ(fresh.ReadRecords(fresh.Actions()[0], record, settled), c.undone);
    const UndoReport undo = UndoLast(fresh);
    EXPECT_EQ(Done(undo), c.undone ? 1 : 0);
    EXPECT_EQ(std::filesystem::exists(files.path() + "/f.mp3"), c.undone);
  }
}

// The cut that keeps the journal within its bounds never drops an action without its done record
// (cut short by a writer that is gone, waiting to be settled).
TEST_F(JournalTest, TheCutKeepsAnActionWithoutItsDoneRecord) {
  Append({{"kind", "edit"}, {"n", 1}}, "begin", "cut-short");
  for (int i = 0; i < Journal::kMaxActions + Journal::kSpareActions; ++i) Act();
  ASSERT_TRUE(journal.Refresh());
  EXPECT_LE(journal.Actions().size(), static_cast<size_t>(Journal::kMaxActions + 1));
  EXPECT_EQ(journal.Actions().front().id, "cut-short");
  EXPECT_FALSE(journal.Actions().front().finished);
}

// An action of this process counts as running while it is in flight here: begun and not yet
// finished, or being undone.
TEST_F(JournalTest, ThisProcesssOwnActionInFlightIsRunning) {
  const std::optional<QString> id = journal.Begin({{"kind", "edit"}, {"n", 1}});
  ASSERT_TRUE(id);
  ASSERT_TRUE(journal.Refresh());
  EXPECT_TRUE(journal.Running(journal.Actions().back()));
  ASSERT_TRUE(journal.Finish(*id, {{"r", "1"}}));
  ASSERT_TRUE(journal.Refresh());
  EXPECT_FALSE(journal.Running(journal.Actions().back()));
  ASSERT_TRUE(journal.MarkUndo(*id));
  ASSERT_TRUE(journal.Refresh());
  EXPECT_TRUE(journal.Running(journal.Actions().back()));
}

}  // namespace
