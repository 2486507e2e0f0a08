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
  // A line whose "len" is set to `size`, or to the line's own size.
  auto withSize = [](std::string& line, int64_t size = -1) {
    const size_t at = line.find("\"len\":\"") + 7;
    std::string digits = std::to_string(size < 0 ? static_cast<int64_t>(line.size()) : size);
    line.replace(at, 12, digits.insert(0, 12 - digits.size(), '0'));
  };
  struct Case {
    const char* what;
    std::function<void(std::string& begin, std::string& done)> spoil;  // the rename's records
    bool kept;                                                         // false: set aside
    bool undone;                                                       // the rename is undone
  };
  const std::vector<Case> cases = {
      {"a payload that only a whole parse finds broken",
       [](std::string& begin, std::string&) { begin[begin.find("\"p\":\"") + 5] = '"'; }, true,
       false},
      {"a line of an older journal (keys in sorted order, no size)",
       [](std::string& begin, std::string&) {
         QJsonObject record = QJsonDocument::fromJson(QByteArray::fromStdString(begin)).object();
         record.remove("len");
         begin = QJsonDocument(record).toJson(QJsonDocument::Compact).toStdString() + "\n";
       },
       true, true},
      {"a size that ends the line short of its newline (the line is parsed whole)",
       [&](std::string& begin, std::string&) {
         withSize(begin, static_cast<int64_t>(begin.size()) - 3);
       },
       true, true},
      {"a kind of record that is none of ours",
       [](std::string&, std::string& done) { done.replace(done.find("done"), 4, "dune"); }, false,
       false},
      {"a record of a newer version",
       [](std::string& begin, std::string&) { begin[begin.find("\"v\":") + 4] = '9'; }, false,
       false},
      {"records without their id, of the right size",
       [&](std::string& begin, std::string& done) {
         for (std::string* line : {&begin, &done}) {
           const size_t at = line->find("\"id\":\"") + 6;
           line->erase(at, line->find('"', at) - at);
           withSize(*line);
         }
       },
       false, false},
      {"a line cut off in its payload, another record after it",
       [](std::string& begin, std::string&) { begin = begin.substr(0, 200) + "\n"; }, false, false},
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
    c.spoil(begin, done);
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

// A done record's outcome codes reach past the first bytes a start reads of a line: it reads on as
// far as they go, and the payload after them is still not parsed.
TEST_F(JournalTest, ALargeActionsOutcomeIsReadWithoutItsPayload) {
  const int n = 20000;
  const std::optional<QString> id = journal.Begin({{"kind", "edit"}, {"n", n}});
  ASSERT_TRUE(id);
  ASSERT_TRUE(journal.Finish(*id, {{"r", QString(n, '1')}, {"z", "payload"}}));
  std::string bytes = ReadAll(Path());
  bytes[bytes.find("\"z\":\"") + 5] = '"';  // only a whole parse of the done record finds it
  WriteAll(Path(), bytes);
  Journal fresh{QString::fromStdString(state.path() + "/velomi")};
  ASSERT_TRUE(fresh.Refresh()) << fresh.TakeMessage().toStdString();
  ASSERT_EQ(fresh.Actions().size(), 1u);
  EXPECT_EQ(fresh.Actions()[0].Changed(), n);
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

// A record written in pieces (the columns of a large action) is whole in the journal, or not there
// at all when the disk fills part way: the pieces already written are taken out again.
TEST_F(JournalTest, ARecordWrittenInPiecesIsWholeOrNotThere) {
  struct Large : RecordBody {
    void Write(const std::function<void(const char*, size_t)>& put) const override {
      put("\"b\":\"", 5);
      const std::string piece(100000, 'x');
      for (int i = 0; i < 30; ++i) put(piece.data(), piece.size());  // past the writes' 1 MiB
      put("\"", 1);
    }
  } body;
  Act();
  const size_t before = ReadAll(Path()).size();
  platform::fault::OnlyFor("journal.jsonl");
  platform::fault::FailWritesAfter(int64_t{2} << 20, ENOSPC,
                                   platform::fault::WriteFailure::kPartialOnce);
  EXPECT_FALSE(journal.Begin({{"kind", "edit"}, {"n", 1}}, body));
  EXPECT_FALSE(journal.TakeMessage().isEmpty());
  EXPECT_EQ(ReadAll(Path()).size(), before);
  platform::fault::Reset();

  const std::optional<QString> id = journal.Begin({{"kind", "edit"}, {"n", 1}}, body);
  ASSERT_TRUE(id);
  Journal fresh{QString::fromStdString(state.path() + "/velomi")};
  ASSERT_TRUE(fresh.Refresh()) << fresh.TakeMessage().toStdString();
  ASSERT_EQ(fresh.Actions().size(), 2u);
  EXPECT_EQ(fresh.Actions()[1].kind, "edit");
  QJsonObject begin;
  std::optional<QJsonObject> done;
  ASSERT_TRUE(fresh.ReadRecords(fresh.Actions()[1], begin, done));
  EXPECT_EQ(begin.value("b").toString(), QString(3000000, 'x'));
  EXPECT_EQ(begin.value("id").toString(), *id);
}

}  // namespace
