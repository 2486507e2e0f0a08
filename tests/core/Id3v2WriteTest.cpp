// The ID3v2 tag at an MP3 file's start kept in step by the core's writes, on files that ffmpeg,
// mutagen and id3lib tagged: a save and a batch edit write the fields the user changed and keep
// every other frame and the audio; a conversion turns legacy text into Unicode; undo and recovery
// bring back the old tag byte for byte.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "../tags/id3v2/Id3v2Files.h"
#include "ActionChild.h"
#include "Meanwhile.h"
#include "TestFiles.h"
#include "core/Batch.h"
#include "core/fields/Id3v2Fields.h"
#include "platform/FaultInjection.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

using namespace core;
using id3files::Frames;
using id3files::TagSize;
using testfiles::Bytes;
using testfiles::Child;
using testfiles::ReadAll;
using testfiles::TempDir;

namespace {

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[256];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    if (::pclose(pipe) != 0) out.clear();
  }
  return out;
}
// What ffprobe shows of a file's title and artist; empty without ffprobe.
std::string Ffprobe(const std::string& path) {
  return Output("ffprobe -v error -show_entries format_tags=title,artist -of default=nw=1 '" +
                path + "'");
}
bool HaveFfprobe() { return !Output("command -v ffprobe").empty(); }

id3v2::TagInfo ReadStart(const std::string& path) {
  id3v2::TagInfo tag;
  EXPECT_TRUE(id3v2::ReadFromFile(path, tag));
  return tag;
}
QString StartText(const std::string& path, id3v2::Field field) {
  return Id3v2Text(ReadStart(path).fields[field]);
}

Bytes Slice(const Bytes& b, size_t from, size_t to) {
  return Bytes(b.begin() + long(from), b.begin() + long(to));
}
// The audio: what lies between the ID3v2 tag and the ID3v1 block.
Bytes Audio(const Bytes& file) {
  const size_t end = file.size() >= 128 && file[file.size() - 128] == 'T' &&
                             file[file.size() - 127] == 'A' && file[file.size() - 126] == 'G'
                         ? file.size() - 128
                         : file.size();
  return Slice(file, TagSize(file), end);
}
// The frames of a file's tag other than those named.
std::vector<std::pair<std::string, Bytes>> OtherFrames(const Bytes& file,
                                                       const std::vector<std::string>& changed) {
  std::vector<std::pair<std::string, Bytes>> frames;
  for (auto& frame : Frames(Slice(file, 0, TagSize(file)))) {
    if (std::find(changed.begin(), changed.end(), frame.first) == changed.end()) {
      frames.push_back(std::move(frame));
    }
  }
  return frames;
}

class Id3v2WriteTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("XDG_STATE_HOME", state.path().c_str(), 1); }
  void TearDown() override {
    onActionStep = nullptr;
    platform::fault::Reset();
  }

  // A save as the window makes it: the boxes' texts into the ID3v1 block, the changed ones into
  // the ID3v2 tag.
  ApplyReport Save(const std::string& path,
                   const std::vector<std::pair<TagField, QString>>& boxes) {
    TIDmp3 tag;
    id3v2::TagInfo start;
    id3v2::ReadBothTags(path, tag, start);
    id3v2::Changes changes;
    for (const auto& [field, text] : boxes) {
      SetMp3Text(tag, field, text);
      SetChange(changes, field, text);
    }
    return SaveTag(tag, path, Options(), changes);
  }
  ApplyOptions Options() {
    ApplyOptions options;
    options.journal = &journal;
    return options;
  }

  TempDir files, state;
  Journal journal{QString::fromStdString(state.path() + "/velomi")};
};

TEST_F(Id3v2WriteTest, ASaveWritesTheChangedFieldsAndKeepsEveryOtherFrameAndTheAudio) {
  struct Case {
    const char* fixture;
    QString title;
    bool inPlace;  // the new frames fit the old tag's padding
  };
  const QString title = QStringLiteral("新的标题 New");
  const QString longTitle = QString(200, QChar(0x6B4C));  // 歌, beyond any fixture's padding
  for (const Case& c :
       {Case{"id3v2_v23_gbk.mp3", title, true}, Case{"id3v2_v24_ffmpeg.mp3", longTitle, false},
        Case{"id3v2_v23_unsync.mp3", longTitle, false},
        Case{"id3v2_v23_id3lib.mp3", title, true}}) {
    SCOPED_TRACE(c.fixture);
    const std::string path = files.CopyData(c.fixture, "song.mp3");
    const Bytes before = ReadAll(path);
    const auto kept = OtherFrames(before, {"TIT2", "TPE1"});
    ASSERT_EQ(Save(path, {{TagField::kTitle, c.title}, {TagField::kArtist, QStringLiteral("王菲")}})
                  .results.at(0)
                  .outcome,
              Outcome::kDone);
    const Bytes after = ReadAll(path);
    EXPECT_EQ(StartText(path, id3v2::kTitle), c.title);
    EXPECT_EQ(StartText(path, id3v2::kArtist), QStringLiteral("王菲"));
    EXPECT_EQ(OtherFrames(after, {"TIT2", "TPE1"}), kept);
    EXPECT_EQ(Audio(after), Audio(before));
    EXPECT_EQ(TagSize(after) == TagSize(before), c.inPlace);
    if (!c.inPlace) {  // a grown tag keeps room for the next edit
      const auto frames = Frames(Slice(after, 0, TagSize(after)));
      size_t used = 10;
      for (const auto& f : frames) used += f.second.size();
      EXPECT_GE(TagSize(after) - used, 2048u);
    }
    if (HaveFfprobe()) {
      EXPECT_EQ(Ffprobe(path), "TAG:title=" + c.title.toStdString() + "\nTAG:artist=王菲\n");
    }
    ASSERT_EQ(UndoLast(journal).entries.at(0).outcome, Outcome::kDone);
    EXPECT_EQ(ReadAll(path), before);
  }
}

TEST_F(Id3v2WriteTest, AFieldTheUserDidNotChangeKeepsItsId3v2Value) {
  // The ID3v1 block holds the title cut to 30 bytes; a save of the artist leaves the ID3v2
  // title whole, and a file without an ID3v2 tag gets none.
  const std::string path = files.CopyData("id3v2_v24_ffmpeg.mp3", "long.mp3");
  const QString title = StartText(path, id3v2::kTitle);
  ASSERT_GT(title.toUtf8().size(), 30);
  ASSERT_EQ(Save(path, {{TagField::kArtist, QStringLiteral("张学友")}}).results.at(0).outcome,
            Outcome::kDone);
  EXPECT_EQ(StartText(path, id3v2::kTitle), title);
  EXPECT_EQ(StartText(path, id3v2::kArtist), QStringLiteral("张学友"));

  const std::string plain = files.CopyData("mp3_v11_gbk.mp3", "plain.mp3");
  const Bytes before = ReadAll(plain);
  ASSERT_EQ(Save(plain, {{TagField::kArtist, QStringLiteral("张学友")}}).results.at(0).outcome,
            Outcome::kDone);
  EXPECT_EQ(TagSize(ReadAll(plain)), 0u);
  EXPECT_EQ(Slice(ReadAll(plain), 0, before.size() - 128), Slice(before, 0, before.size() - 128));
}

TEST_F(Id3v2WriteTest, AKilledWriteInPlaceIsRolledBackAndATagThatCannotBeReadIsLeftAlone) {
  const std::string path = files.CopyData("id3v2_v23_gbk.mp3", "song.mp3");
  const Bytes old = ReadAll(path);
  auto save = [&] { Save(path, {{TagField::kTitle, QStringLiteral("半途")}}); };
  ASSERT_EQ(Child(ActionStep::kWritten, true, save).Join(), 0);
  const Bytes saved = ReadAll(path);
  ASSERT_EQ(TagSize(saved), TagSize(old));  // written in place, the block appended
  ASSERT_EQ(saved.size(), old.size() + 128);
  // Killed inside the write: part of the new tag on the disk, or all of it and not the block.
  Bytes halfTag = old, wholeTag = old;
  std::copy(saved.begin(), saved.begin() + long(TagSize(old) / 2), halfTag.begin());
  std::copy(saved.begin(), saved.begin() + long(TagSize(old)), wholeTag.begin());
  for (const Bytes* torn : {&halfTag, &wholeTag}) {
    testfiles::WriteAll(path, old);
    ASSERT_EQ(Child(ActionStep::kRecorded, true, save).Join(), 0);
    ASSERT_NE(*torn, old);
    testfiles::WriteAll(path, *torn);
    ASSERT_EQ(RecoverActions(journal).size(), 1u);
    EXPECT_EQ(ReadAll(path), old);
  }

  // A tag whose header claims more than the file holds, or that reaches into the ID3v1 block (a
  // frame holding the file's last 128 bytes): the save is refused before anything is written.
  using id3files::operator+;
  using id3files::B;
  const Bytes block = B("TAG") + Bytes(125, 'b');
  const Bytes broken =
      B("ID3") + id3files::Bytes{3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F} + id3files::Audio();
  const Bytes reaching = id3files::Tag(
      3, id3files::Frame("TIT2", id3files::Latin1("Old")) +
             id3files::Frame("PRIV", B("x") + Bytes{0} + id3files::Audio(300) + block));
  for (const Bytes* tag : {&broken, &reaching}) {
    testfiles::WriteAll(path, *tag);
    const ApplyReport report = Save(path, {{TagField::kTitle, QStringLiteral("x")}});
    EXPECT_EQ(report.results.at(0).outcome, Outcome::kFailed);
    EXPECT_EQ(report.results.at(0).reason, Id3v2Reason(id3v2::Result::kRefused, 0));
    EXPECT_EQ(ReadAll(path), *tag);
  }
}

TEST_F(Id3v2WriteTest, ABatchEditWritesTheCopiedFieldsIntoEachTagAndOneUndoTakesThemBack) {
  const std::vector<std::string> paths = {files.CopyData("id3v2_v23_gbk.mp3", "a.mp3"),
                                          files.CopyData("id3v2_v24_ffmpeg.mp3", "b.mp3"),
                                          files.CopyData("mp3_v11_gbk.mp3", "c.mp3")};
  std::vector<Bytes> before;
  for (const auto& p : paths) before.push_back(ReadAll(p));
  EditFields fields;
  fields.artist = QStringLiteral("孙燕姿");
  fields.year = QStringLiteral("2005");  // what both tags say already: no frame of it changes
  const EditPlan plan = PlanEdit(paths, fields);
  ASSERT_EQ(plan.entries[0].startChanges.size(), 1u);
  EXPECT_EQ(plan.entries[0].startChanges[0].oldValue, QStringLiteral("周杰伦"));
  EXPECT_TRUE(plan.entries[2].startChanges.empty());
  TIDmp3 mp3;
  TIDwma wma;
  const ApplyReport report = ApplyEdit(plan, mp3, wma, Options());
  for (size_t i = 0; i < paths.size(); ++i) {
    ASSERT_EQ(report.results[i].outcome, Outcome::kDone) << report.results[i].reason.toStdString();
  }
  EXPECT_EQ(StartText(paths[0], id3v2::kArtist), QStringLiteral("孙燕姿"));
  EXPECT_EQ(StartText(paths[1], id3v2::kArtist), QStringLiteral("孙燕姿"));
  EXPECT_EQ(StartText(paths[1], id3v2::kYear), QStringLiteral("2005"));
  EXPECT_EQ(TagSize(ReadAll(paths[2])), 0u);
  ASSERT_EQ(UndoLast(journal).remaining, 0);
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(ReadAll(paths[i]), before[i]) << i;
}

TEST_F(Id3v2WriteTest, AConversionTurnsLegacyTextIntoUnicodeAndUndoRestoresTheBytes) {
  const std::string gbkFrames = files.CopyData("id3v2_v23_gbk.mp3", "frames.mp3");
  const std::string gbkBlock = files.CopyData("mp3_v11_gbk.mp3", "block.mp3");
  const std::string unicode = files.CopyData("id3v2_v24_ffmpeg.mp3", "unicode.mp3");
  const std::vector<std::string> paths = {gbkFrames, gbkBlock, unicode};
  std::vector<Bytes> before;
  for (const auto& p : paths) before.push_back(ReadAll(p));
  const auto kept = OtherFrames(before[0], {"TIT2", "TPE1", "TALB", "COMM", "USLT", "TXXX"});

  const ConvertPlan plan = PlanConvert(paths);
  EXPECT_EQ(SummarizeConvertPlan(plan),
            QStringLiteral("共 3 个文件：转换 2，无需转换 1，无法转换 0"));
  EXPECT_FALSE(plan.entries[0].newTag);
  EXPECT_TRUE(plan.entries[1].newTag);
  const ApplyReport report = ApplyConvert(plan, Options());
  EXPECT_EQ(report.results[0].outcome, Outcome::kDone);
  EXPECT_EQ(report.results[1].outcome, Outcome::kDone);
  EXPECT_EQ(report.results[2].outcome, Outcome::kNotTried);

  const id3v2::TagInfo converted = ReadStart(gbkFrames);
  EXPECT_EQ(converted.fields[id3v2::kTitle].kind, id3v2::FieldValue::kUnicode);
  EXPECT_EQ(Id3v2Text(converted.fields[id3v2::kTitle]), QStringLiteral("发如雪"));
  EXPECT_EQ(OtherFrames(ReadAll(gbkFrames), {"TIT2", "TPE1", "TALB", "COMM", "USLT", "TXXX"}),
            kept);
  const id3v2::TagInfo made = ReadStart(gbkBlock);
  EXPECT_EQ(made.version, 3);
  EXPECT_EQ(Id3v2Text(made.fields[id3v2::kArtist]), QStringLiteral("周杰伦"));
  EXPECT_EQ(Slice(ReadAll(gbkBlock), TagSize(ReadAll(gbkBlock)), ReadAll(gbkBlock).size()),
            before[1]);  // the audio and the ID3v1 block follow the new tag unchanged
  if (HaveFfprobe()) {
    EXPECT_EQ(Ffprobe(gbkBlock), "TAG:title=发如雪\nTAG:artist=周杰伦\n");
  }

  EXPECT_EQ(ListActions(journal).at(0).kind, ActionKind::kConvert);
  ASSERT_EQ(UndoLast(journal).remaining, 0);
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(ReadAll(paths[i]), before[i]) << i;
}

TEST_F(Id3v2WriteTest, AFileChangedOrAWriteThatFailsIsLeftAsItWas) {
  // Each file is planned, then changed by another program before the batch writes it, or its
  // write fails: in place (the title fits the padding) and through a new file (it does not).
  static std::string path;
  static Bytes edited;
  struct Case {
    const char* name;
    const char* fixture;
    int fault;  // 0: another program changes the file; 1: a write fails
  };
  const QString longArtist = QString(300, QChar(0x738B));
  for (const Case& c : {Case{"changed, in place", "id3v2_v23_gbk.mp3", 0},
                        Case{"changed, replaced", "id3v2_v24_ffmpeg.mp3", 0},
                        Case{"the write fails", "id3v2_v23_gbk.mp3", 1}}) {
    SCOPED_TRACE(c.name);
    path = files.CopyData(c.fixture, "song.mp3");
    const Bytes old = ReadAll(path);
    edited = old;
    edited[20] ^= 1;  // a byte of the first frame
    onActionStep = [](ActionStep step) {
      if (step == ActionStep::kRecorded) testfiles::WriteAll(path, edited);
    };
    if (c.fault != 0) {
      onActionStep = nullptr;
      platform::fault::OnlyFor("/song.mp3");
      platform::fault::FailWritesAfter(40, EIO, platform::fault::WriteFailure::kPartialOnce);
    }
    EditFields fields;
    fields.artist = c.fault == 0 && std::string(c.fixture).find("ffmpeg") != std::string::npos
                        ? longArtist
                        : QStringLiteral("王菲");
    TIDmp3 mp3;
    TIDwma wma;
    const ApplyReport r = ApplyEdit(PlanEdit({path}, fields), mp3, wma, Options());
    onActionStep = nullptr;
    platform::fault::Reset();
    EXPECT_EQ(r.results.at(0).outcome, Outcome::kFailed);
    EXPECT_EQ(ReadAll(path), c.fault == 0 ? edited : old);
  }
}

TEST_F(Id3v2WriteTest, UndoPutsBackTheReadOnlyMarkAndLeavesAFileChangedSince) {
  const QString longTitle = QString(300, QChar(0x6B4C));
  for (const QString& title : {QStringLiteral("短"), longTitle}) {
    SCOPED_TRACE(title.size() > 1 ? "replaced" : "in place");
    const std::string path = files.CopyData("id3v2_v23_gbk.mp3", "song.mp3");
    const Bytes old = ReadAll(path);
    testfiles::MakeReadOnly(path);
    ASSERT_EQ(Save(path, {{TagField::kTitle, title}}).results.at(0).outcome, Outcome::kDone);
    EXPECT_EQ(StartText(path, id3v2::kTitle), title);
    ASSERT_EQ(UndoLast(journal).entries.at(0).outcome, Outcome::kDone);
    EXPECT_EQ(ReadAll(path), old);
    EXPECT_TRUE(testfiles::IsReadOnly(path));

    // Saved, then its tag changed by another program: undo leaves it alone. (A change of the
    // audio alone is kept: undo puts back the tag and the block only.)
    testfiles::WriteAll(path, old);
    ::chmod(path.c_str(), 0644);
    ASSERT_EQ(Save(path, {{TagField::kTitle, title}}).results.at(0).outcome, Outcome::kDone);
    Bytes changed = ReadAll(path);
    changed[20] ^= 1;  // a byte of the tag's first frame
    testfiles::WriteAll(path, changed);
    EXPECT_EQ(UndoLast(journal).entries.at(0).outcome, Outcome::kFailed);
    EXPECT_EQ(ReadAll(path), changed);
    std::optional<ActionInfo> forgotten;
    ForgetLast(journal, forgotten);

    // The same change made after undo's first look, before the open that writes.
    testfiles::WriteAll(path, old);
    ASSERT_EQ(Save(path, {{TagField::kTitle, title}}).results.at(0).outcome, Outcome::kDone);
    changed = ReadAll(path);
    changed[20] ^= 1;
    testfiles::Meanwhile::Arm(path, changed);
    EXPECT_EQ(UndoLast(journal).entries.at(0).outcome, Outcome::kFailed);
    platform::fault::Reset();
    EXPECT_GE(testfiles::Meanwhile::opens, 2);
    EXPECT_EQ(ReadAll(path), changed);
    ForgetLast(journal, forgotten);
  }
}

// A song as rippers tag it: title and artist before a cover, some padding, the audio.
Bytes SongWithCover(const std::string& title, size_t cover, uint8_t seed) {
  using namespace id3files;
  Bytes picture = B("image/jpeg") + Bytes{0, 3, 0};
  for (size_t i = 0; i < cover; ++i) picture.push_back(uint8_t(seed * 31 + i * 7 + (i >> 9)));
  return Tag(3,
             Frame("TIT2", Latin1(title)) + Frame("TPE1", Latin1("Artist")) +
                 Frame("APIC", Bytes{0} + picture),
             256) +
         id3files::Audio(1500, seed);
}

TEST_F(Id3v2WriteTest, ALibraryWithCoversIsJournalledInLittleAndUndoneByteForByte) {
  // A title longer by some bytes moves each cover: the record keeps a few dozen bytes a file,
  // the bytes the writes change wait in a pre-image file that goes once they are on the disk.
  constexpr int kFiles = 2000;
  std::vector<std::string> paths;
  std::vector<Bytes> before;
  for (int i = 0; i < kFiles; ++i) {
    before.push_back(SongWithCover("Old", 24 << 10, uint8_t(i)));
    paths.push_back(files.Write("song" + std::to_string(i) + ".mp3", before.back()));
  }
  EditFields fields;
  fields.title = QStringLiteral("A longer title");
  TIDmp3 mp3;
  TIDwma wma;
  const ApplyReport report = ApplyEdit(PlanEdit(paths, fields), mp3, wma, Options());
  ASSERT_TRUE(report.undoable) << report.journalMessage.toStdString();
  for (int i = 0; i < kFiles; ++i) {
    ASSERT_EQ(report.results[size_t(i)].outcome, Outcome::kDone)
        << report.results[size_t(i)].reason.toStdString();
  }
  EXPECT_EQ(StartText(paths[1999], id3v2::kTitle), QStringLiteral("A longer title"));
  const auto journalSize = std::filesystem::file_size(state.path() + "/velomi/journal.jsonl");
  EXPECT_LT(journalSize, kFiles * 1024 + (1 << 20)) << "a record of covers";
  EXPECT_TRUE(std::filesystem::is_empty(state.path() + "/velomi/preimages"));
  const UndoReport undo = UndoLast(journal);
  ASSERT_EQ(undo.remaining, 0);
  for (int i = 0; i < kFiles; ++i) ASSERT_EQ(ReadAll(paths[size_t(i)]), before[size_t(i)]) << i;
}

TEST_F(Id3v2WriteTest, ATornWriteThatMovedACoverIsPutBackFromItsPreImage) {
  // A save killed inside its write in place, which moves a cover too large for the record: the
  // pre-image tells the torn tag from one another program changed, and gives its old bytes.
  using Result = Recovered::Result;
  const Bytes old = SongWithCover("Old", 200 << 10, 9);
  const std::string path = files.Write("song.mp3", old);
  auto save = [&] { Save(path, {{TagField::kTitle, QStringLiteral("A longer title")}}); };
  ASSERT_EQ(Child(ActionStep::kWritten, true, save).Join(), 0);
  const Bytes saved = ReadAll(path);
  ASSERT_EQ(saved.size(), old.size() + 128);  // in place, and the block appended
  Bytes torn = old;
  std::copy(saved.begin(), saved.begin() + 100000, torn.begin());
  Bytes changed = torn;
  changed[50000] ^= 0xFF;
  Bytes padding = torn;  // the tag torn, and a byte its write did not touch changed since
  padding[TagSize(old) - 1] = 1;
  const std::string preImages = state.path() + "/velomi/preimages";
  struct Case {
    const char* what;
    const Bytes& meanwhile;
    bool preImage;  // the pre-image file is still there
    const Bytes& expected;
    Result result;
  };
  const std::vector<Case> cases = {
      {"torn", torn, true, old, Result::kRestored},
      {"torn, then changed by another program", changed, true, changed, Result::kUntouched},
      {"torn, and a byte beside the write changed", padding, true, padding, Result::kUntouched},
      {"torn, its pre-image lost", torn, false, torn, Result::kUntouched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testfiles::WriteAll(path, old);
    ASSERT_EQ(Child(ActionStep::kRecorded, true, save).Join(), 0);
    ASSERT_FALSE(std::filesystem::is_empty(preImages));
    if (!c.preImage) {
      for (const auto& e : std::filesystem::directory_iterator(preImages)) {
        std::filesystem::remove(e.path());
      }
    }
    testfiles::WriteAll(path, c.meanwhile);
    const std::vector<Recovered> report = RecoverActions(journal);
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].result, c.result);
    EXPECT_EQ(ReadAll(path), c.expected);
    EXPECT_TRUE(std::filesystem::is_empty(preImages)) << "removed once settled";
  }
}

TEST_F(Id3v2WriteTest, AnUndoCutShortInsideAMovedCoverIsFinishedByTheNext) {
  const Bytes old = SongWithCover("Old", 200 << 10, 5);
  const std::string path = files.Write("song.mp3", old);
  const std::string undoPreImages = state.path() + "/velomi/preimages";
  for (bool preImage : {true, false}) {
    SCOPED_TRACE(preImage ? "with the undo's pre-image" : "without it");
    testfiles::WriteAll(path, old);
    ASSERT_EQ(
        Save(path, {{TagField::kTitle, QStringLiteral("A longer title")}}).results.at(0).outcome,
        Outcome::kDone);
    const Bytes saved = ReadAll(path);
    // The undo dies once its pre-image is on the disk; the file is then found half written back.
    ASSERT_EQ(Child(ActionStep::kRecorded, true, [&] { UndoLast(journal); }).Join(), 0);
    ASSERT_EQ(ReadAll(path), saved);
    ASSERT_FALSE(std::filesystem::is_empty(undoPreImages));
    if (!preImage) {
      for (const auto& e : std::filesystem::directory_iterator(undoPreImages)) {
        std::filesystem::remove(e.path());
      }
    }
    Bytes torn = saved;
    std::copy(old.begin(), old.begin() + 120000, torn.begin());
    testfiles::WriteAll(path, torn);
    const UndoReport undo = UndoLast(journal);
    ASSERT_EQ(undo.entries.size(), 1u);
    if (preImage) {
      EXPECT_EQ(undo.entries[0].outcome, Outcome::kDone);
      EXPECT_EQ(undo.remaining, 0);
      EXPECT_EQ(ReadAll(path), old);
    } else {
      EXPECT_EQ(undo.entries[0].outcome, Outcome::kFailed);  // nothing tells it from a change
      EXPECT_EQ(ReadAll(path), torn);
      std::optional<ActionInfo> forgotten;
      ForgetLast(journal, forgotten);
    }
  }
}

TEST_F(Id3v2WriteTest, AWriteThatLandsWrongIsPutBackAndReportedAsFailed) {
  // The disk acknowledges a write but keeps one byte of it wrong: the read-back after the write
  // finds it, the old bytes go back (or the new file is abandoned), and the save fails.
  const std::vector<std::tuple<const char*, const char*, std::function<ApplyReport(std::string)>>>
      cases = {
          {"an ID3v2 tag written in place", "id3v2_v23_gbk.mp3",
           [&](const std::string& path) {
             return Save(path, {{TagField::kTitle, QStringLiteral("短")}});
           }},
          {"an ID3v2 tag through a new file", "id3v2_v23_gbk.mp3",
           [&](const std::string& path) {
             return Save(path, {{TagField::kTitle, QString(300, QChar(0x6B4C))}});
           }},
          {"a WMA header written in place", "wma_ascii.wma",
           [&](const std::string& path) {
             TIDwma tag;
             EXPECT_TRUE(tag.ReadFromFile(path));
             tag.SetTitle(u"Best Title");
             return SaveTag(tag, path, Options());
           }},
      };
  for (const auto& [what, fixture, save] : cases) {
    SCOPED_TRACE(what);
    const std::string name =
        std::string("song") + (std::string(fixture).back() == 'a' ? ".wma" : ".mp3");
    const std::string path = files.CopyData(fixture, name);
    const Bytes before = ReadAll(path);
    platform::fault::OnlyFor(name);
    platform::fault::CorruptWriteAfter(3);
    const ApplyReport r = save(path);
    platform::fault::Reset();
    EXPECT_EQ(r.results.at(0).outcome, Outcome::kFailed);
    EXPECT_EQ(ReadAll(path), before);
    ASSERT_EQ(save(path).results.at(0).outcome, Outcome::kDone) << "the same save, on a sound disk";
    EXPECT_NE(ReadAll(path), before);
  }
}

TEST_F(Id3v2WriteTest, WithoutARecordOnTheDiskNothingIsWritten) {
  // A save and a conversion whose begin record cannot be flushed (a full disk, a failing one):
  // each is refused with the reason, and the file keeps every byte.
  const std::vector<std::pair<const char*, std::function<ApplyReport(const std::string&)>>> cases =
      {
          {"a save",
           [&](const std::string& path) {
             return Save(path, {{TagField::kTitle, QStringLiteral("短")}});
           }},
          {"a conversion",
           [&](const std::string& path) { return ApplyConvert(PlanConvert({path}), Options()); }},
      };
  for (const auto& [what, write] : cases) {
    SCOPED_TRACE(what);
    const std::string path = files.CopyData("id3v2_v23_gbk.mp3", "song.mp3");
    const auto before = testfiles::ReadAll(path);
    platform::fault::OnlyFor("journal.jsonl");
    platform::fault::FailSyncs(EIO);
    const ApplyReport r = write(path);
    platform::fault::Reset();
    EXPECT_EQ(r.results.at(0).outcome, Outcome::kFailed);
    EXPECT_TRUE(r.results.at(0).reason.contains(QStringLiteral("未做任何修改")));
    EXPECT_FALSE(r.undoable);
    EXPECT_EQ(testfiles::ReadAll(path), before);
  }
}

}  // namespace
