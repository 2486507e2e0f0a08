// Undo and the journal as users meet them: undo from another folder, files that come back, a file
// another program resized, actions that changed nothing, and a journal a crash left damaged. What
// POSIX systems alone have (fork, links, permission bits, loop mounts) is in UndoPosixTest.cpp.
#include <filesystem>
#include <fstream>
#include <functional>

#include "Meanwhile.h"
#include "UndoTest.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

using namespace core;
using testfiles::Bytes;
using testfiles::Meanwhile;
using testfiles::ReadAll;
using testfiles::TempDir;
using undotest::U;
using undotest::UndoTest;

namespace {

TEST_F(UndoTest, UndoActsOnTheRecordedFolderFromAnywhere) {
  // A script renames in a/ through a path relative to a/; undo runs later from b/, which holds a
  // file of the same new name. Only a/'s file goes back.
  const std::string a = folder + "a/", b = folder + "b/";
  std::filesystem::create_directories(a);
  std::filesystem::create_directories(b);
  testfiles::WriteAll(a + "x.mp3", testfiles::FromString("ID3 a's song"));
  testfiles::WriteAll(b + "A - T.mp3", testfiles::FromString("ID3 b's song"));
  const std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::current_path(a);
  ApplyRename(PlanRename({Track{"./", "x.mp3", U("T"), U("A"), 0}}, 1), Options());
  std::filesystem::current_path(b);
  const UndoReport u = UndoLast(journal);
  std::filesystem::current_path(home);
  EXPECT_EQ(Done(u), 1);
  EXPECT_EQ(ReadAll(a + "x.mp3"), testfiles::FromString("ID3 a's song"));
  EXPECT_EQ(ReadAll(b + "A - T.mp3"), testfiles::FromString("ID3 b's song"));
  EXPECT_FALSE(std::filesystem::exists(b + "x.mp3"));
}

TEST_F(UndoTest, ARenameWhoseOldNameAnotherFileOfItsSizeTookIsRefused) {
  // A new song of the very same size took the old name since: undo must neither rename over it
  // nor take it for the file already back.
  Make("a.mp3", "T", "A");
  ASSERT_EQ(ApplyRename(PlanRename({Track{folder, "a.mp3", U("T"), U("A"), 0}}, 1), Options())
                .results.at(0)
                .outcome,
            Outcome::kDone);
  const Bytes moved = ReadAll(folder + "A - T.mp3");
  Bytes other = moved;
  other.back() ^= 1;
  testfiles::WriteAll(folder + "a.mp3", other);
  const UndoReport u = UndoLast(journal);
  ASSERT_EQ(u.entries.size(), 1u);
  EXPECT_EQ(u.entries[0].outcome, Outcome::kFailed);
  EXPECT_EQ(u.remaining, 1);
  EXPECT_EQ(ReadAll(folder + "a.mp3"), other);
  EXPECT_EQ(ReadAll(folder + "A - T.mp3"), moved);
}

TEST_F(UndoTest, FilesNotUndoneStayForTheNextUndo) {
  std::vector<std::string> paths;
  std::vector<Bytes> before;
  for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
    paths.push_back(files.CopyData("mp3_v11_ascii.mp3", name));
    before.push_back(ReadAll(paths.back()));
  }
  EditFields fields;
  fields.album = U("New");
  TIDmp3 mp3;
  TIDwma wma;
  ASSERT_TRUE(ApplyEdit(PlanEdit(paths, fields), mp3, wma, Options()).undoable);
  const std::string away = state.File("b.mp3");
  std::filesystem::rename(paths[1], away);  // on a stick that was pulled, say
  const UndoReport first = UndoLast(journal);
  EXPECT_EQ(Done(first), 2);
  EXPECT_EQ(first.remaining, 1);
  ASSERT_EQ(ListActions(journal).size(), 1u);
  EXPECT_EQ(ListActions(journal)[0].entries, 1);
  std::filesystem::rename(away, paths[1]);
  const UndoReport again = UndoLast(journal);
  EXPECT_EQ(Done(again), 1);
  EXPECT_EQ(again.remaining, 0);
  EXPECT_TRUE(ListActions(journal).empty());
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(ReadAll(paths[i]), before[i]) << i;
}

TEST_F(UndoTest, UndoRefusesAFileAnotherProgramResizedSince) {
  // The bytes undo compares are the same, but the file grew around them (another tagger put an
  // ID3v2 tag in front, audio was appended): the old bytes would land in the audio. Also when it
  // grows after undo's first look, before the open that writes.
  struct Case {
    const char* what;
    const char* fixture;
    std::u16string title;  // for a WMA file: short keeps the header's size, long replaces it
    bool prepend;
    bool meanwhile = false;
  };
  const std::vector<Case> cases = {
      {"an MP3 file with bytes put in front", "mp3_v11_ascii.mp3", u"", true},
      {"an MP3 file's appended block, then bytes after it", "mp3_untagged.mp3", u"", false},
      {"a WMA header written in place, the file grown", "wma_ascii.wma", u"Short", false},
      {"a WMA file replaced, then grown", "wma_ascii.wma", std::u16string(5000, u'x'), false},
      {"an MP3 file grown while undo runs", "mp3_v11_ascii.mp3", u"", false, true},
      {"a replaced WMA file grown while undo runs", "wma_ascii.wma", std::u16string(5000, u'x'),
       false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = files.CopyData(c.fixture, "f.bin");
    ApplyReport r;
    if (c.title.empty()) {
      TIDmp3 tag;
      tag.ReadFromFile(path);
      tag.SetTitle("Saved");
      r = SaveTag(tag, path, Options());
    } else {
      TIDwma tag;
      tag.ReadFromFile(path);
      tag.SetTitle(u"Made room");  // grows the header, with padding for the next save
      ASSERT_TRUE(tag.SaveToFile(path));
      tag.SetTitle(c.title);
      r = SaveTag(tag, path, Options());
    }
    ASSERT_EQ(r.results.at(0).outcome, Outcome::kDone);
    Bytes changed = ReadAll(path);
    const Bytes extra(1000, 'x');
    changed.insert(c.prepend ? changed.begin() : changed.end(), extra.begin(), extra.end());
    if (c.meanwhile) {
      Meanwhile::Arm(path, changed);
    } else {
      testfiles::WriteAll(path, changed);
    }
    const UndoReport u = UndoLast(journal);
    platform::fault::Reset();
    if (c.meanwhile) {
      EXPECT_GE(Meanwhile::opens, 2);
    }
    ASSERT_EQ(u.entries.size(), 1u);
    EXPECT_EQ(u.entries[0].outcome, Outcome::kFailed);
    EXPECT_EQ(ReadAll(path), changed);
    std::optional<ActionInfo> gone;
    ASSERT_TRUE(ForgetLast(journal, gone));
  }
}

TEST_F(UndoTest, OnlyWhatChangedAFileIsAnUndoStep) {
  TIDmp3 tag;
  tag.SetTitle("Nowhere");
  EXPECT_EQ(SaveTag(tag, files.File("missing.mp3"), Options()).results.at(0).outcome,
            Outcome::kFailed);
  TIDmp3 mp3;
  TIDwma wma;
  ApplyEdit(PlanEdit({}, EditFields{}), mp3, wma, Options());  // a batch on an empty list
  EXPECT_TRUE(ListActions(journal).empty());
  // A batch stopped after two of four files counts two.
  std::vector<std::string> paths;
  for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"}) {
    paths.push_back(files.CopyData("mp3_v11_ascii.mp3", name));
  }
  EditFields fields;
  fields.year = U("1999");
  ApplyOptions options = Options();
  options.progress = [](int done, int, const std::string&) { return done < 2; };
  ApplyEdit(PlanEdit(paths, fields), mp3, wma, options);
  ASSERT_EQ(ListActions(journal).size(), 1u);
  EXPECT_EQ(ListActions(journal)[0].changed, 2);
}

TEST_F(UndoTest, ARenameIsReportedOnlyWithItsFolderOnTheDisk) {
  const Track t = Make("x.mp3", "T", "A");
  platform::fault::OnlyFor(
      std::filesystem::canonical(testfiles::Fs(files.path())).generic_u8string() + "/");
  platform::fault::FailSyncs(EIO);
  const ApplyReport r = ApplyRename(PlanRename({t}, 1), Options());
  platform::fault::Reset();
  EXPECT_EQ(r.results.at(0).outcome, Outcome::kDone);
  EXPECT_TRUE(r.warning.contains(U("无法确认已写入磁盘"))) << r.warning.toStdString();
  EXPECT_TRUE(ApplyRename(PlanRename({Make("y.mp3", "U", "A")}, 1), Options()).warning.isEmpty());
}

TEST_F(UndoTest, TheJournalDropsACrashsLeftoverAndSetsAsideOnlyWhatItCannotTrust) {
  const std::string path = state.path() + "/velomi/journal.jsonl";
  struct Case {
    const char* what;
    std::function<void()> spoil;
    // Null: the journal is kept; else what its message says it was set aside for.
    const char* setAsideFor;
  };
  const std::vector<Case> cases = {
      {"a zero-filled last line",
       [&] {
         std::ofstream(path, std::ios::app | std::ios::binary) << std::string(4096, '\0') << "\n";
       },
       nullptr},
      {"a last line cut off",
       [&] { std::ofstream(path, std::ios::app | std::ios::binary) << "{\"#\":\"be"; }, nullptr},
      {"a done record without its begin",
       [&] { Append(EncodeDone("1"), "done", "no-such-action"); }, "完成记录没有对应的开始记录"},
      {"zero bytes before a record",
       [&] {
         std::ofstream(path, std::ios::app | std::ios::binary) << std::string(10, '\0') << "\n";
         Append(EncodeDone("1"), "done", "x");
       },
       "有零字节"},
      {"one unfinished line past the record bound",
       [&] { std::filesystem::resize_file(path, Journal::kMaxBytes + (int64_t{2} << 20)); },
       "记录过长"},
      // Refused by its size before any of it is read (the record-length bound would stop a read
      // only after 65 MiB of it).
      {"a file far beyond the bound",
       [&] { std::filesystem::resize_file(path, Journal::kReadBound + 1); }, "远超上限"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(path);  // a fresh journal; this process's lock files stay
    Journal fresh{QString::fromStdString(state.path() + "/velomi")};
    ApplyOptions options;
    options.journal = &fresh;
    ApplyRename(PlanRename({Make("f.mp3", "T", "A")}, 1), options);
    c.spoil();
    const bool setAside = c.setAsideFor != nullptr;
    EXPECT_EQ(ListActions(fresh).size(), setAside ? 0u : 1u);
    EXPECT_EQ(std::filesystem::exists(path), !setAside);
    if (setAside) {
      const QString message = fresh.TakeMessage();
      EXPECT_TRUE(message.contains(U(c.setAsideFor))) << message.toStdString();
      continue;
    }
    ApplyRename(PlanRename({Make("g.mp3", "U", "A")}, 1), options);  // the next record is whole
    EXPECT_EQ(ListActions(fresh).size(), 2u);
    EXPECT_TRUE(fresh.TakeMessage().isEmpty());
    EXPECT_EQ(Done(UndoLast(fresh)) + Done(UndoLast(fresh)), 2);
  }
}

}  // namespace

namespace {

TEST_F(UndoTest, UndoRenamesOnlyASongWhateverTheRecordSays) {
  // What stands under the new name now has the right size but is no MP3 or WMA file (a record
  // crafted to rename a document): it keeps its name.
  Make("a.mp3", "T", "A");
  ASSERT_EQ(ApplyRename(PlanRename({Track{folder, "a.mp3", U("T"), U("A"), 0}}, 1), Options())
                .results.at(0)
                .outcome,
            Outcome::kDone);
  const Bytes document(ReadAll(folder + "A - T.mp3").size(), 'd');
  testfiles::WriteAll(folder + "A - T.mp3", document);
  const UndoReport u = UndoLast(journal);
  ASSERT_EQ(u.entries.size(), 1u);
  EXPECT_EQ(u.entries[0].outcome, Outcome::kFailed);
  EXPECT_EQ(ReadAll(folder + "A - T.mp3"), document);
  EXPECT_FALSE(std::filesystem::exists(folder + "a.mp3"));
}

}  // namespace
