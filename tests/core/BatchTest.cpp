// Plans, applying them through the journal, and undo, on real files in temporary folders. The
// journal lives in a temporary state folder, never in the real home.
#include <QCryptographicHash>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "BatchTest.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

using namespace core;
using batchtest::BatchTest;
using batchtest::U;
using testfiles::ReadAll;
using testfiles::TempDir;

namespace {

TEST_F(BatchTest, ThePlanGivesEachEntryItsStatusAndReason) {
  std::vector<Track> t = {
      Make("a.mp3", "", "X"),                             // no title
      Make("b.mp3", "T", ""),                             // no artist
      Make("X - Same.mp3", "Same", "X"),                  // already so named
      Make("c.mp3", "Why?", "X"),                         // a character names cannot hold
      Make("d.mp3", std::string(300, 'x').c_str(), "X"),  // over 255 bytes
      Make("e%1.mp3", "Dup", "X"),                        // will rename ("%1" stays in reasons)
      Make("f.mp3", "Dup", "X"),                          // the same new name as e
      Make("g.mp3", "Taken", "X"),                        // a file outside the plan holds it
  };
  files.Write("X - Taken.mp3", {});
  Track gone{folder, "gone.mp3", U("T"), U("A"), 9};  // not on disk
  t.push_back(gone);
  const RenamePlan plan = PlanRename(t, 1);
  const std::vector<std::pair<RenameStatus, const char*>> want = {
      {RenameStatus::kSkipped, "歌曲标题为空"},
      {RenameStatus::kSkipped, "歌手为空"},
      {RenameStatus::kSkipped, "文件名已经相同"},
      {RenameStatus::kRefused, "新文件名含有文件名不允许的字符“?”"},
      {RenameStatus::kRefused, "新文件名超过255字节"},
      {RenameStatus::kRename, ""},
      {RenameStatus::kConflict, "与“e%1.mp3”（第 1 行）的新文件名相同"},
      {RenameStatus::kConflict, "目标文件已存在"},
      {RenameStatus::kRefused, "文件不存在"},
  };
  ASSERT_EQ(plan.entries.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(plan.entries[i].status, want[i].first) << i;
    EXPECT_EQ(plan.entries[i].reason, U(want[i].second)) << i;
  }
  EXPECT_EQ(files.Names().size(), 9u);  // planning touched nothing
}

TEST_F(BatchTest, ThePlansDescriptionOpensWithItsCountsAndNeverCutsAConflict) {
  std::vector<Track> t;
  for (int i = 0; i < 5; ++i) {
    const std::string n = std::to_string(i);
    t.push_back(Make("f" + n + ".mp3", i == 4 ? "" : ("T" + n).c_str(), "A", i));  // f4 skipped
  }
  files.Write("A - U.mp3", {});
  t.push_back(Make("g.mp3", "U", "A", 5));  // in conflict with the file on disk
  const QStringList lines = DescribeRenamePlan(PlanRename(t, 1), 1).split('\n');
  EXPECT_EQ(lines.value(0), U("共 6 个文件：改名 4，跳过 1，冲突 1，拒绝 0"));
  EXPECT_EQ(lines.value(1), U("[冲突] g.mp3 → A - U.mp3：目标文件已存在"));
  EXPECT_EQ(lines.value(2), U("f0.mp3 → A - T0.mp3"));
  EXPECT_EQ(lines.value(3), U("……另有 4 个文件未列出"));
  EXPECT_EQ(lines.size(), 4);
}

TEST_F(BatchTest, AChainIsFreeOnlyWhenItsTargetMovesAwayFirst) {
  // b -> "X - c.mp3" frees "b"; a -> b follows it: both rename. In the other order a's target is
  // still held by b, as the rename itself would find.
  Track b = Make("X - b.mp3", "c", "X", 1);
  Track a = Make("a.mp3", "b", "X", 0);
  EXPECT_EQ(PlanRename({b, a}, 1).Count(RenameStatus::kRename), 2);
  const RenamePlan late = PlanRename({a, b}, 1);
  EXPECT_EQ(late.entries[0].status, RenameStatus::kConflict);
  EXPECT_EQ(late.entries[0].reason,
            U("目标文件名是“X - b.mp3”（第 2 行）的现名，它在此之后才改名"));
  const ApplyReport r = ApplyRename(late, {});  // carried out as planned: a fails, b renames
  EXPECT_EQ(r.results[0].outcome, Outcome::kFailed);
  EXPECT_EQ(r.results[0].reason, U("目标文件已存在"));
  EXPECT_EQ(r.results[1].outcome, Outcome::kDone);
}

TEST_F(BatchTest, ARenameIsUndoneAfterTheProgramStartsAgain) {
  std::vector<Track> t;
  for (int i = 0; i < 100; ++i) {
    t.push_back(
        Make("0" + std::to_string(i) + ".mp3", ("T" + std::to_string(i)).c_str(), "发如雪", i));
  }
  const auto before = files.Names();
  {
    Journal journal;
    ApplyOptions options;
    options.journal = &journal;
    const ApplyReport r = ApplyRename(PlanRename(t, 3), options);
    EXPECT_TRUE(r.undoable);
    for (const auto& e : r.results) EXPECT_EQ(e.outcome, Outcome::kDone);
  }
  EXPECT_NE(files.Names(), before);
  Journal again;  // a new start: only the file on disk is left
  ASSERT_EQ(ListActions(again).size(), 1u);
  const UndoReport u = UndoLast(again);
  ASSERT_TRUE(u.action);
  EXPECT_EQ(u.action->kind, U("rename"));
  for (const auto& e : u.entries) EXPECT_EQ(e.outcome, Outcome::kDone) << e.reason.toStdString();
  EXPECT_EQ(files.Names(), before);
  EXPECT_TRUE(ListActions(again).empty());
}

QByteArray DigestOf(const std::string& path) {
  const auto bytes = ReadAll(path);
  return QCryptographicHash::hash(
      QByteArrayView(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
      QCryptographicHash::Sha256);
}

TEST_F(BatchTest, UndoOfABatchEditRestoresEveryFileByteForByte) {
  const char* fixtures[] = {"mp3_v11_ascii.mp3", "mp3_untagged.mp3", "mp3_v11_gbk.mp3",
                            "wma_ascii.wma",     "wma_chinese.wma",  "wma_no_metadata.wma"};
  std::vector<std::string> paths;
  for (int i = 0; i < 100; ++i) {
    const std::string fixture = fixtures[i % 6];
    paths.push_back(
        files.CopyData(fixture, std::to_string(i) + fixture.substr(fixture.size() - 4)));
  }
  std::vector<QByteArray> digests;
  for (const auto& p : paths) digests.push_back(DigestOf(p));
  EditFields fields;
  fields.artist = U(" 新歌手 ");
  fields.year = U("2024");
  const EditPlan plan = PlanEdit(paths, fields);
  EXPECT_EQ(plan.entries[0].changes.at(0).newValue, U("新歌手"));
  Journal journal;
  TIDmp3 mp3;
  TIDwma wma;
  ApplyOptions options;
  options.journal = &journal;
  const ApplyReport r = ApplyEdit(plan, mp3, wma, options);
  ASSERT_TRUE(r.undoable) << r.journalMessage.toStdString();
  for (size_t i = 0; i < paths.size(); ++i) {
    EXPECT_EQ(r.results[i].outcome, Outcome::kDone)
        << paths[i] << r.results[i].reason.toStdString();
    EXPECT_NE(DigestOf(paths[i]), digests[i]);
  }
  const UndoReport u = UndoLast(journal);
  for (const auto& e : u.entries) EXPECT_EQ(e.outcome, Outcome::kDone) << e.reason.toStdString();
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(DigestOf(paths[i]), digests[i]) << paths[i];
}

TEST_F(BatchTest, UndoRefusesAFileChangedSinceAndTouchesNothingOfIt) {
  const std::string mp3Path = files.CopyData("mp3_v11_ascii.mp3", "a.mp3");
  const std::string wmaPath = files.CopyData("wma_ascii.wma", "b.wma");
  Journal journal;
  ApplyOptions options;
  options.journal = &journal;
  EditFields fields;
  fields.album = U("Album");
  TIDmp3 mp3;
  TIDwma wma;
  ApplyEdit(PlanEdit({mp3Path, wmaPath}, fields), mp3, wma, options);
  // Both files change again, outside the batch.
  mp3.ReadFromFile(mp3Path);
  mp3.SetTitle("Other");
  ASSERT_TRUE(mp3.SaveToFile(mp3Path));
  wma.ReadFromFile(wmaPath);
  wma.SetTitle(u"Other");
  ASSERT_TRUE(wma.SaveToFile(wmaPath));
  const auto mp3Now = ReadAll(mp3Path), wmaNow = ReadAll(wmaPath);
  const UndoReport u = UndoLast(journal);
  ASSERT_EQ(u.entries.size(), 2u);
  for (const auto& e : u.entries) {
    EXPECT_EQ(e.outcome, Outcome::kFailed);
    EXPECT_EQ(e.reason, U("文件在此之后已被改动，未撤销"));
  }
  EXPECT_EQ(ReadAll(mp3Path), mp3Now);
  EXPECT_EQ(ReadAll(wmaPath), wmaNow);
}

TEST_F(BatchTest, UndoOfARenameRefusesATakenOldNameOrAChangedFile) {
  std::vector<Track> t = {Make("a.mp3", "T1", "A"), Make("b.mp3", "T2", "A")};
  Journal journal;
  ApplyOptions options;
  options.journal = &journal;
  ApplyRename(PlanRename(t, 1), options);
  files.Write("a.mp3", testfiles::FromString("a new file"));              // the old name is taken
  files.Write("A - T2.mp3", testfiles::FromString("rewritten, longer"));  // its size changed
  const UndoReport u = UndoLast(journal);
  ASSERT_EQ(u.entries.size(), 2u);
  EXPECT_EQ(u.entries[0].reason, U("文件在此之后已被改动，未撤销"));  // b, undone first
  EXPECT_EQ(u.entries[1].reason, U("原文件名已被另一个文件占用"));
  EXPECT_EQ(files.Names(), (std::vector<std::string>{"A - T1.mp3", "A - T2.mp3", "a.mp3"}));
}

TEST_F(BatchTest, ASaveOfOneTagIsUndoneAndTheCancelFlagStopsABatch) {
  const std::string m = files.CopyData("mp3_untagged.mp3", "m.mp3");
  const std::string w = files.CopyData("wma_ascii.wma", "w.wma");
  const auto mBefore = ReadAll(m), wBefore = ReadAll(w);
  Journal journal;
  ApplyOptions options;
  options.journal = &journal;
  TIDmp3 mp3;
  mp3.SetTitle("Saved");
  EXPECT_EQ(SaveTag(mp3, m, options).results.at(0).outcome, Outcome::kDone);
  TIDwma wma;
  ASSERT_TRUE(wma.ReadFromFile(w));
  wma.SetTitle(u"Saved, and longer than before");
  EXPECT_EQ(SaveTag(wma, w, options).results.at(0).outcome, Outcome::kDone);
  EXPECT_EQ(ListActions(journal).at(0).kind, U("save"));
  for (const auto& [path, before] : {std::pair{w, wBefore}, std::pair{m, mBefore}}) {
    EXPECT_NE(ReadAll(path), before);
    EXPECT_EQ(UndoLast(journal).entries.at(0).outcome, Outcome::kDone);
    EXPECT_EQ(ReadAll(path), before) << path;
  }

  std::atomic<bool> cancel{true};
  options.cancel = &cancel;
  EditFields fields;
  fields.year = U("1999");
  const ApplyReport r = ApplyEdit(PlanEdit({m}, fields), mp3, wma, options);
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.results.at(0).outcome, Outcome::kNotTried);
  EXPECT_EQ(ReadAll(m), mBefore);
}

// Drops the journal's last line, as if the program had died before writing it.
void DropLastRecord(const std::string& path) {
  std::string text;
  {
    std::ifstream in(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), {});
  }
  text.pop_back();
  text.erase(text.rfind('\n') + 1);
  std::ofstream(path, std::ios::trunc | std::ios::binary) << text;
}

TEST_F(BatchTest, AnActionCutShortIsUndoneFromWhatIsOnDisk) {
  const std::string a = files.CopyData("mp3_v11_ascii.mp3", "a.mp3");
  const std::string b = files.CopyData("mp3_untagged.mp3", "b.mp3");
  const std::string w = files.CopyData("wma_chinese.wma", "w.wma");
  const std::string c = files.CopyData("mp3_v11_gbk.mp3", "c.mp3");
  std::vector<std::vector<uint8_t>> before = {ReadAll(a), ReadAll(b), ReadAll(w), ReadAll(c)};
  Journal journal;
  ApplyOptions options;
  options.journal = &journal;
  options.progress = [](int done, int, const std::string&) { return done < 3; };  // c is left
  EditFields fields;
  fields.comment = U("cut");
  TIDmp3 mp3;
  TIDwma wma;
  const ApplyReport r = ApplyEdit(PlanEdit({a, b, w, c}, fields), mp3, wma, options);
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.results[3].outcome, Outcome::kNotTried);
  DropLastRecord(Journalled());
  std::ofstream(Journalled(), std::ios::app | std::ios::binary)
      << "{\"id\":\"x";  // died while writing it
  ASSERT_TRUE(ListActions(journal).at(0).cutShort);
  const UndoReport u = UndoLast(journal);
  int restored = 0;
  for (const auto& e : u.entries) restored += e.outcome == Outcome::kDone;
  EXPECT_EQ(restored, 3);
  EXPECT_EQ((std::vector<std::vector<uint8_t>>{ReadAll(a), ReadAll(b), ReadAll(w), ReadAll(c)}),
            before);
  // The cut-off record does not spoil the journal for the next action.
  ApplyEdit(PlanEdit({a}, fields), mp3, wma, options);
  EXPECT_EQ(ListActions(journal).size(), 1u);
  EXPECT_TRUE(journal.TakeMessage().isEmpty());
}

TEST_F(BatchTest, AFailedWriteGivesItsReasonAndTheBatchGoesOn) {
  const std::string a = files.CopyData("mp3_v11_ascii.mp3", "a.mp3");
  const std::string b = files.CopyData("mp3_v11_ascii.mp3", "b.mp3");
  const std::string tiny = files.Write("tiny.mp3", testfiles::FromString("short"));
  EditFields fields;
  fields.artist = U("A");
  TIDmp3 mp3;
  TIDwma wma;
  ApplyOptions options;
  options.progress = [&](int done, int, const std::string&) {
    if (done == 1) platform::fault::FailWritesAfter(0, ENOSPC);
    return true;
  };
  const ApplyReport r =
      ApplyEdit(PlanEdit({a, b, tiny, files.File("none.mp3")}, fields), mp3, wma, options);
  EXPECT_EQ(r.results[0].outcome, Outcome::kDone);
  const std::pair<int, const char*> failed[] = {
      {1, "磁盘已满"}, {2, "文件太短，不是MP3文件"}, {3, "文件不存在"}};
  for (const auto& [i, reason] : failed) {
    EXPECT_EQ(r.results[i].outcome, Outcome::kFailed) << i;
    EXPECT_EQ(r.results[i].reason, U(reason)) << i;
  }
}

TEST_F(BatchTest, AJournalThatIsDamagedOrNotOursIsNeverTrusted) {
  Track t = Make("a.mp3", "T", "A");
  Journal journal;
  ApplyOptions options;
  options.journal = &journal;
  ApplyRename(PlanRename({t}, 1), options);
  { std::ofstream(Journalled(), std::ios::app | std::ios::binary) << "{\"not\":\"ours\"}\n"; }
  EXPECT_EQ(UndoLast(journal).action, std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(Journalled()));  // set aside
  EXPECT_EQ(files.Names(), std::vector<std::string>{"A - T.mp3"});
}

TEST_F(BatchTest, AJournalThatIsALinkIsRefusedAndTheBatchChangesNothing) {
  Journal journal;
  ApplyOptions options;
  options.journal = &journal;
  ApplyRename(PlanRename({Make("a.mp3", "T", "A")}, 1), options);
  std::filesystem::remove(testfiles::Fs(Journalled()));
  const std::string elsewhere = state.File("elsewhere");
  files.Write("x.mp3", {});
  if (!testfiles::MakeLink(elsewhere, Journalled(), false)) {
    GTEST_SKIP() << "this user may not make symbolic links here";
  }
  const ApplyReport r = ApplyRename(PlanRename({Make("b.mp3", "T2", "A")}, 1), options);
  EXPECT_FALSE(r.undoable);
  EXPECT_EQ(r.results[0].outcome, Outcome::kFailed);
  EXPECT_TRUE(r.results[0].reason.contains(U("符号链接"))) << r.results[0].reason.toStdString();
  EXPECT_TRUE(std::filesystem::exists(files.File("b.mp3")));
  EXPECT_FALSE(std::filesystem::exists(elsewhere));
}

TEST_F(BatchTest, TheJournalKeepsTheLastFiftyActions) {
  Journal journal;
  ApplyOptions options;
  options.journal = &journal;
  auto begins = [&] {
    std::ifstream in(Journalled());
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line.rfind("{\"#\":\"begin\"", 0) == 0;
    return n;
  };
  const int cut = Journal::kMaxActions + Journal::kSpareActions + 1;  // the action that cuts
  const int actions = cut + 2;
  for (int i = 0; i < actions; ++i) {
    Track t = Make("f.mp3", ("T" + std::to_string(i)).c_str(), "A");
    ApplyRename(PlanRename({t}, 1), options);
    // Cut once it would pass the spare actions, the oldest first, down to the last fifty with
    // the new one among them.
    EXPECT_EQ(begins(), i + 1 < cut ? i + 1 : Journal::kMaxActions + (i + 1 - cut)) << i;
  }
  EXPECT_EQ(ListActions(journal).size(), static_cast<size_t>(Journal::kMaxActions));
  const UndoReport u = UndoLast(journal);  // the newest is kept: "A - T62" goes back to f.mp3
  ASSERT_EQ(u.entries.size(), 1u);
  EXPECT_EQ(u.entries[0].path, folder + "A - T" + std::to_string(actions - 1) + ".mp3");
}

}  // namespace

TEST_F(BatchTest, AChangeWhoseFlushFailsIsDoneSaidToBeUnsureAndStaysUndoable) {
  // The batch waits for the disk once, at its end; where a flush fails (the files' own, or a
  // folder's after a replaced file took the old one's place, or after undone renames) the files
  // hold their change, the report says it is not known to be on the disk, and the journal keeps
  // what takes it back. The tag object's own save flushes each file as before.
  const std::string dirName = folder.substr(folder.rfind('/', folder.size() - 2));  // "/x/"
  struct Case {
    const char* name;
    const char* fixture;
    QString album;
    std::string only;  // the flushes that fail, by the end of their path ("-": none)
  };
  for (const Case& c : {
           Case{"flushed", "mp3_v11_ascii.mp3", U("Flushed"), "-"},
           Case{"in place", "mp3_v11_ascii.mp3", U("Flushed"), ".mp3"},
#ifndef _WIN32  // there the replacement's rename is written through, with no folder to flush
           Case{"replaced", "id3v2_v24_ffmpeg.mp3", QString(300, 'x'), dirName},
#endif
       }) {
    SCOPED_TRACE(c.name);
    const std::string a = files.CopyData(c.fixture, "a.mp3");
    const std::string b = files.CopyData(c.fixture, "b.mp3");
    const auto before = ReadAll(b);
    if (c.only != "-") {
      platform::fault::OnlyFor(c.only);
      platform::fault::FailSyncs(EIO);
    }
    EditFields fields;
    fields.album = c.album;
    TIDmp3 mp3;
    TIDwma wma;
    Journal journal;
    ApplyOptions options;
    options.journal = &journal;
    const ApplyReport r = ApplyEdit(PlanEdit({a, b}, fields), mp3, wma, options);
    platform::fault::Reset();
    for (const EntryResult& e : r.results) EXPECT_EQ(e.outcome, Outcome::kDone);
    EXPECT_EQ(r.warning.contains(U("读写错误")), c.only != "-") << r.warning.toStdString();
    ASSERT_TRUE(mp3.ReadFromFile(b));
    EXPECT_EQ(mp3.Album, c.album.left(30).toStdString());
    ASSERT_EQ(UndoLast(journal).entries.size(), 2u);
    EXPECT_EQ(ReadAll(b), before);
  }
  files.CopyData("mp3_v11_ascii.mp3", "a.mp3");
  platform::fault::FailSyncs(EIO);
  TIDmp3 mp3;
  EXPECT_FALSE(mp3.SaveToFile(files.path() + "/a.mp3"));
  platform::fault::Reset();

  // Renames undone whose folder's flush fails stay in the journal; a later undo drops them.
  std::vector<Track> t = {Make("a.mp3", "T", "A")};
  Journal journal;
  ApplyOptions options;
  options.journal = &journal;
  ASSERT_EQ(ApplyRename(PlanRename(t, 1), options).results.at(0).outcome, Outcome::kDone);
  platform::fault::OnlyFor(dirName);
  platform::fault::FailSyncs(EIO);
  const UndoReport u = UndoLast(journal);
  platform::fault::Reset();
  ASSERT_EQ(u.entries.size(), 1u);
  EXPECT_EQ(u.entries[0].outcome, Outcome::kDone);
  EXPECT_FALSE(u.warning.isEmpty());
  EXPECT_EQ(u.remaining, 1);
  EXPECT_TRUE(std::filesystem::exists(files.path() + "/a.mp3"));
  UndoLast(journal);
  EXPECT_TRUE(ListActions(journal).empty());
}
