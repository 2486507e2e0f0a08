// The track list as a model in the core: rows found by path through its index (a file added twice
// has two rows), sorting that keeps each row whole, and rows that follow their file.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <filesystem>

#include "TestFiles.h"
#include "core/model/TrackListModel.h"

using namespace core;
using Model = TrackListModel;

namespace {

TrackFields Texts(const char* title, const char* artist, const char* track = "") {
  TrackFields f;
  f.title = QString::fromUtf8(title);
  f.artist = QString::fromUtf8(artist);
  f.track = QString::fromUtf8(track);
  return f;
}

std::vector<int> Rows(std::initializer_list<int> rows) { return rows; }

TEST(TrackListModel, FindsEveryRowOfAFileThroughItsIndex) {
  Model model;
  model.Append({{"/m/a.mp3", Texts("A", "X")},
                {"/m/b.mp3", Texts("B", "X")},
                {"/n/a.mp3", Texts("A2", "X")},
                {"/m/a.mp3", Texts("A", "X")}});
  EXPECT_EQ(model.RowsOf("/m/a.mp3"), Rows({0, 3}));
  EXPECT_EQ(model.RowsOf("/n/a.mp3"), Rows({2}));
  EXPECT_TRUE(model.RowsOf("/m/c.mp3").empty());
  EXPECT_TRUE(model.RowsOf("/o/a.mp3").empty());
  // Many more rows than the index first had room for, then a renamed row.
  std::vector<Model::NewRow> more;
  for (int i = 0; i < 5000; ++i) more.push_back({"/p/" + std::to_string(i) + ".mp3", {}});
  model.Append(more);
  EXPECT_EQ(model.RowsOf("/p/4999.mp3"), Rows({5003}));
  model.SetFileName(3, "z.mp3");
  EXPECT_EQ(model.RowsOf("/m/a.mp3"), Rows({0}));
  EXPECT_EQ(model.RowsOf("/m/z.mp3"), Rows({3}));
  EXPECT_EQ(model.TrackOf(3).Path(), "/m/z.mp3");
  EXPECT_EQ(model.TrackOf(3).title, "A");  // the texts stay with the row
}

// Rows of one folder share the index's probe chains (100 names in 256 slots collide): a rename
// takes its row out of the middle of a chain, and every row after it in the chain is still found.
TEST(TrackListModel, ARenameLeavesEveryOtherRowFoundWhereSlotsCollide) {
  Model model;
  std::vector<Model::NewRow> rows;
  for (int i = 0; i < 100; ++i) rows.push_back({"/m/" + std::to_string(i) + ".mp3", {}});
  model.Append(rows);
  ASSERT_EQ(model.RowsOf("/m/0.mp3"), Rows({0}));
  for (int i = 0; i < 100; ++i) {
    model.SetFileName(i, "renamed-" + std::to_string(i) + ".mp3");
    EXPECT_TRUE(model.RowsOf("/m/" + std::to_string(i) + ".mp3").empty()) << i;
    for (int k = 0; k < 100; ++k) {
      EXPECT_EQ(model.RowsOf(model.TrackOf(k).Path()), Rows({k})) << i << " " << k;
    }
  }
}

TEST(TrackListModel, TextsOfEveryWidthComeBackAsTheyWentIn) {
  const struct {
    QString in, out;
  } cases[] = {
      {QStringLiteral("Hello"), QStringLiteral("Hello")},
      {QStringLiteral("Café ÿ"), QStringLiteral("Café ÿ")},                // two bytes
      {QStringLiteral("发如雪 周杰伦"), QStringLiteral("发如雪 周杰伦")},  // three bytes
      {QStringLiteral("이소라 😀 𠀀"), QStringLiteral("이소라 😀 𠀀")},      // four bytes
      {QString(QChar(0xD83D)) + "x", QString(QChar(0xFFFD)) + "x"},        // a lone surrogate
      {QString(1, QChar(0xDC00)), QString(1, QChar(0xFFFD))},
  };
  for (const auto& c : cases) {
    Model model;
    TrackFields f;
    f.title = c.in;
    f.genre = c.in;
    model.Append({{"/m/a.mp3", f}});
    EXPECT_EQ(model.TrackOf(0).title, c.out) << c.in.toStdString();
    EXPECT_EQ(model.FieldsOf(0).genre, c.out) << c.in.toStdString();
  }
}

TEST(TrackListModel, ARealFolderFindsTheRowsOfALinkedOne) {
  testfiles::TempDir dir;
  testfiles::MakeFolder(dir.File("real"));
  if (!testfiles::MakeLink(dir.File("real"), dir.File("link"), true)) {
    GTEST_SKIP() << "this user may not make symbolic links here";
  }
  Model model;
  model.Append({{dir.File("link") + "/a.mp3", {}}, {dir.File("real") + "/a.mp3", {}}});
  const std::string real =
      std::filesystem::canonical(testfiles::Fs(dir.File("real"))).generic_u8string();
  EXPECT_EQ(model.RowsOfRealPath(real + "/a.mp3"), Rows({0, 1}));
}

TEST(TrackListModel, SortingMovesWholeRowsAndTheirMarks) {
  Model model;
  model.Append({{"/m/1.mp3", Texts("b", "X", "10")},
                {"/m/2.mp3", Texts("a", "X", "9")},
                {"/m/3.mp3", Texts("c", "X", "")}});
  model.SetMark(0, Model::kTick, QStringLiteral("done"));
  model.SetChecked(1, false);
  const QPersistentModelIndex second = model.index(1, 0);
  model.sort(Model::kTrack);  // by number, not by text
  EXPECT_EQ(model.FileNameOf(0), "3.mp3");
  EXPECT_EQ(model.FileNameOf(1), "2.mp3");
  EXPECT_EQ(model.FileNameOf(2), "1.mp3");
  EXPECT_EQ(second.row(), 1);
  EXPECT_FALSE(model.Checked(1));
  EXPECT_EQ(model.MarkOf(2), Model::kTick);
  EXPECT_EQ(model.ReasonOf(2), "done");
  EXPECT_EQ(model.RowsOf("/m/1.mp3"), Rows({2}));
  EXPECT_EQ(model.TrackOf(2).position, 2);  // rule 3 numbers the rows as the list shows them
  model.sort(Model::kTitle, Qt::DescendingOrder);
  EXPECT_EQ(model.FileNameOf(0), "3.mp3");
  EXPECT_EQ(model.FileNameOf(2), "2.mp3");
}

TEST(TrackListModel, TheNewNameColumnPreviewsTheChosenRule) {
  Model model;
  model.Append({{"/m/01.MP3", Texts("发如雪", "Talvino")}, {"/m/02.mp3", Texts("", "Talvino")}});
  const QModelIndex first = model.index(0, Model::kNewName);
  EXPECT_TRUE(model.data(first).toString().isEmpty());
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  model.SetPreviewRule(3);
  EXPECT_EQ(changed.size(), 1);
  EXPECT_EQ(model.data(first).toString(), "Talvino - (0)发如雪.MP3");
  EXPECT_TRUE(model.data(model.index(1, Model::kNewName)).toString().isEmpty());
  model.SetPreviewRule(2);
  EXPECT_EQ(model.data(first).toString(), "发如雪 - Talvino.MP3");
}

}  // namespace
