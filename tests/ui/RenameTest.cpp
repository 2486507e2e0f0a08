// The batch rename: the three rules on real files, the marks, and the names that must never
// replace, move or escape anything.
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>

#include <QCheckBox>
#include <QHeaderView>

#include <QApplication>
#include <QLabel>
#include <QTableWidget>
#include <QTimer>

#include "FixNames.h"
#include "TrackList.h"
#include "UiTestSupport.h"
#include "Unit1.h"
#include "core/plans/Plans.h"
#include "core/text/Rules.h"

using namespace uitest;

namespace {

// A window whose list holds rows for files made in a temporary folder.
struct Renamer {
  QTemporaryDir dir;
  TForm1 form;
  QString folder = dir.path() + "/";

  // Makes the file (holding its own name, so that a test can tell files apart) and its row.
  int Add(const QString& name, const QString& title, const QString& artist, bool checked = true) {
    WriteFile(folder + name, name.toUtf8());
    return AddRowOnly(name, title, artist, checked);
  }
  int AddRowOnly(const QString& name, const QString& title, const QString& artist,
                 bool checked = true) {
    form.LV->AppendRow(name, title, artist, folder);
    const int row = form.LV->rowCount() - 1;
    SetChecked(form, row, checked);
    return row;
  }
  void Rename(QMessageBox::StandardButton answer = QMessageBox::Yes) {
    BoxAnswerer answerer(answer);
    form.BtnRenameClick();
    boxes = answerer.boxes();
  }
  QStringList Files() const {
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
  }
  QString Content(const QString& name) const { return QString::fromUtf8(ReadFile(folder + name)); }

  QList<SeenBox> boxes;
};

}  // namespace

class RenameTest : public QObject {
  Q_OBJECT

 private slots:
  void theRadioButtonsChooseTheRule() {
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.RenameRule, 1);
    QCOMPARE(form.R1->property("Tag").toInt(), 1);
    QTest::mouseClick(form.R3, Qt::LeftButton, Qt::NoModifier, QPoint(8, 8));
    QCOMPARE(form.RenameRule, 3);
    QVERIFY(form.R3->isChecked() && !form.R1->isChecked());
    QTest::mouseClick(form.R2, Qt::LeftButton, Qt::NoModifier, QPoint(8, 8));
    QCOMPARE(form.RenameRule, 2);
    form.R1Click(form.R1);
    QCOMPARE(form.RenameRule, 1);
  }

  void theQuestionAndNo() {
    Renamer r;
    r.Add("01.mp3", "发如雪", "Talvino");
    r.Rename(QMessageBox::No);
    QCOMPARE(r.boxes.size(), 1);
    QCOMPARE(r.boxes[0].title, QStringLiteral("系统询问"));
    QCOMPARE(r.boxes[0].text, QStringLiteral("确定要按指定规则更改选中的文件名吗？"));
    QCOMPARE(r.boxes[0].icon, QMessageBox::Question);
    QCOMPARE(r.Files(), QStringList{"01.mp3"});
    QCOMPARE(Column(r.form, 0), QStringList{"01.mp3"});
    QCOMPARE(Marks(r.form), QList<int>{0});
  }

  void theThreeRulesOnTheExampleRow() {
    Renamer r;
    for (int i = 0; i < 4; ++i) r.Add(QString("other%1.mp3").arg(i), "T", "A", false);
    r.Add("01.mp3", "发如雪", "Talvino");
    r.form.EdtPath->setText("/shown/path.mp3");
    SelectRows(r.form, {1});

    r.Rename();
    QCOMPARE(r.form.LV->FileName(4), QStringLiteral("Talvino - 发如雪.mp3"));
    QCOMPARE(Marks(r.form), (QList<int>{0, 0, 0, 0, 1}));
    QCOMPARE(r.Content("Talvino - 发如雪.mp3"), QStringLiteral("01.mp3"));

    r.form.R1Click(r.form.R2);
    r.Rename();
    QCOMPARE(r.form.LV->FileName(4), QStringLiteral("发如雪 - Talvino.mp3"));
    r.form.R1Click(r.form.R3);
    r.Rename();
    QCOMPARE(r.form.LV->FileName(4), QStringLiteral("Talvino - (4)发如雪.mp3"));
    QCOMPARE(r.Content("Talvino - (4)发如雪.mp3"), QStringLiteral("01.mp3"));
    QVERIFY(!QFile::exists(r.folder + "01.mp3"));
    QCOMPARE(r.Files().size(), 5);
    // The other columns, the order, the selection and the boxes stay.
    QCOMPARE(r.form.LV->Title(4), QStringLiteral("发如雪"));
    QCOMPARE(r.form.LV->Folder(4), QDir::toNativeSeparators(r.folder));
    QCOMPARE(r.form.LV->SelectedRow(), 1);
    QCOMPARE(r.form.EdtPath->text(), QStringLiteral("/shown/path.mp3"));
    QCOMPARE(r.form.LV->FileName(0), QStringLiteral("other0.mp3"));
  }

  void rule3NumbersRowsOverTheWholeListFromZero() {
    Renamer r;
    r.form.R1Click(r.form.R3);
    r.Add("a.mp3", "T0", "A");
    r.Add("b.mp3", "T1", "A", false);
    r.Add("c.mp3", "T2", "A");
    r.Add("d.mp3", "", "A");   // skipped: no title
    r.Add("e.mp3", "T4", "");  // skipped: no artist
    r.Add("f.mp3", "T5", "A");
    r.form.LV->SetMark(3, 2);
    r.form.LV->SetMark(4, 1);
    r.Rename();
    QCOMPARE(Column(r.form, 0), (QStringList{"A - (0)T0.mp3", "b.mp3", "A - (2)T2.mp3", "d.mp3",
                                             "e.mp3", "A - (5)T5.mp3"}));
    // The rows the rename skipped say so; the unchecked row keeps its mark.
    QCOMPARE(Marks(r.form), (QList<int>{1, 0, 1, 4, 4, 1}));
    QCOMPARE(r.form.LV->ToolTip(3), QStringLiteral("跳过：歌曲标题为空"));
  }

  void theSameRuleTwiceRenamesNothingTheSecondTime() {
    Renamer r;
    r.Add("1.mp3", "Song", "Singer");
    r.Add("2.mp3", "Song", "Singer");  // the same name: taken by the first row
    r.Add("3.wma", "Other", "Singer");
    r.Rename();
    QCOMPARE(Column(r.form, 0), (QStringList{"Singer - Song.mp3", "2.mp3", "Singer - Other.wma"}));
    QCOMPARE(Marks(r.form), (QList<int>{1, 2, 1}));
    QCOMPARE(r.Content("Singer - Song.mp3"), QStringLiteral("1.mp3"));
    QCOMPARE(r.Content("2.mp3"), QStringLiteral("2.mp3"));
    const QStringList files = r.Files();
    r.Rename();
    QCOMPARE(r.Files(), files);
    QCOMPARE(Column(r.form, 0), (QStringList{"Singer - Song.mp3", "2.mp3", "Singer - Other.wma"}));
    // The second run's marks: the names already right are skipped, the taken one fails again.
    QCOMPARE(Marks(r.form), (QList<int>{4, 2, 4}));
  }

  void anExistingFileIsNeverReplaced() {
    Renamer r;
    WriteFile(r.folder + "Talvino - 发如雪.mp3", "precious");
    r.Add("01.mp3", "发如雪", "Talvino");
    r.Rename();
    QCOMPARE(Marks(r.form), QList<int>{2});
    QCOMPARE(r.Content("Talvino - 发如雪.mp3"), QStringLiteral("precious"));
    QCOMPARE(r.Content("01.mp3"), QStringLiteral("01.mp3"));
    QCOMPARE(r.form.LV->FileName(0), QStringLiteral("01.mp3"));
    // A folder of that name is not replaced either.
    QDir(r.folder).mkdir("Talvino - x.mp3");
    r.Add("02.mp3", "x", "Talvino");
    r.Rename();
    QCOMPARE(Marks(r.form), (QList<int>{2, 2}));
    QVERIFY(QFileInfo(r.folder + "Talvino - x.mp3").isDir());
  }

  void namesThatFileNamesCannotHoldFailAndTouchNothing() {
    Renamer r;
    r.Add("1.mp3", "What?", "A");
    r.Add("2.mp3", "a/b", "A");
    r.Add("3.mp3", "../../x", "A");
    r.Add("4.mp3", "star*", "A");
    r.Add("5.mp3", "fine", "A");
    r.Add("6.mp3", "tab\there", "A");
    r.Add("7.mp3", QString(300, QChar(0x96EA)), "A");  // 900 bytes
    r.Add("8.mp3", "colon:", "A");
    QDir(r.folder).mkdir("A - a");
    r.Rename();
    QCOMPARE(Marks(r.form), (QList<int>{2, 2, 2, 2, 1, 2, 2, 2}));
    QCOMPARE(r.Files(), (QStringList{"1.mp3", "2.mp3", "3.mp3", "4.mp3", "6.mp3", "7.mp3", "8.mp3",
                                     "A - a", "A - fine.mp3"}));
    QVERIFY(QDir(r.folder + "A - a").isEmpty());
  }

  void aNameThatWouldBeginWithADotIsRefused() {
    // Rule 1 begins the name with the artist, rule 2 with the title.
    for (int rule : {1, 2}) {
      Renamer r;
      r.form.RenameRule = rule;
      r.Add("1.mp3", ".hidden", ".A");
      r.Add("2.mp3", "x.y", "A.");
      r.Rename();
      QCOMPARE(Marks(r.form), (QList<int>{2, 1}));
      QCOMPARE(r.form.LV->ToolTip(0), QStringLiteral("改名失败：新文件名以“.”开头，文件会被隐藏"));
      QVERIFY(r.Files().contains("1.mp3"));
    }
  }

  void extensionsKeepTheirCaseAndFourCharacters() {
    Renamer r;
    r.Add("01.MP3", "发如雪", "Talvino");
    r.Add("noext", "Song", "Singer");
    r.Add("x.flac", "Lossless", "Singer");
    r.Add("y.Wma", "Windows", "Singer");
    r.Rename();
    QCOMPARE(Column(r.form, 0), (QStringList{"Talvino - 发如雪.MP3", "Singer - Song",
                                             "Singer - Lossless.fla", "Singer - Windows.Wma"}));
    QCOMPARE(Marks(r.form), (QList<int>{1, 1, 1, 1}));
    QCOMPARE(r.Content("Singer - Lossless.fla"), QStringLiteral("x.flac"));
  }

  void aCaseOnlyRenameWorksAndReplacesNothing() {
    Renamer r;
    r.Add("talvino - 发如雪.mp3", "发如雪", "Talvino");
    r.Rename();
    QCOMPARE(Marks(r.form), QList<int>{1});
    QCOMPARE(r.Files(), QStringList{"Talvino - 发如雪.mp3"});
    QCOMPARE(r.Content("Talvino - 发如雪.mp3"), QStringLiteral("talvino - 发如雪.mp3"));
  }

  void aCaseOnlyTargetThatIsAnotherFileIsRefused() {
    // A different file already holds the new name (a case-sensitive file system): refused.
    Renamer s;
    if (NamesFoldCase(s.folder)) QSKIP("names that differ in case only are one file here");
    WriteFile(s.folder + "Singer - Song.mp3", "precious");
    s.Add("singer - song.mp3", "Song", "Singer");
    s.Rename();
    QCOMPARE(Marks(s.form), QList<int>{2});
    QCOMPARE(s.Content("Singer - Song.mp3"), QStringLiteral("precious"));
    QCOMPARE(s.Content("singer - song.mp3"), QStringLiteral("singer - song.mp3"));
    QCOMPARE(s.Files().size(), 2);
  }

  void blanksAreNotEmptyAndMissingFilesFail() {
    Renamer r;
    r.Add("1.mp3", " ", "A");
    r.AddRowOnly("gone.mp3", "Gone", "A");
    r.Rename();
    QCOMPARE(Column(r.form, 0), (QStringList{"A -  .mp3", "gone.mp3"}));
    QCOMPARE(Marks(r.form), (QList<int>{1, 2}));
    QVERIFY(!QFile::exists(r.folder + "A - Gone.mp3"));
  }

  void theWindowNamesFilesAsVelomiTagDoesAfterTheSameEdits() {
    // A batch edit of the artist " 新歌手 " (blanks around it), then the rename: the row holds
    // what the file holds, so the window's name is the one velomi-tag's plan gives the file.
    QTemporaryDir dir;
    TForm1 form;
    const QString path = CopyData("mp3_v11_ascii.mp3", dir.filePath("song.mp3"));
    form.AddTrack(path);
    form.EdtArtist->setText(QStringLiteral(" 新歌手 "));
    form.ChkArtist->setChecked(true);
    {
      BoxAnswerer yes(QMessageBox::Yes);
      form.BtnBatchClick();
    }
    const core::RenamePlan cli =
        core::PlanRename({core::ReadTrack(path.toStdString(), 0)}, form.RenameRule);
    {
      BoxAnswerer yes(QMessageBox::Yes);
      form.BtnRenameClick();
    }
    QCOMPARE(QString::fromStdString(cli.entries.at(0).newName),
             QStringLiteral("新歌手 - Hello Song.mp3"));
    QCOMPARE(form.LV->FileName(0), QStringLiteral("新歌手 - Hello Song.mp3"));
    QVERIFY(QFile::exists(dir.filePath("新歌手 - Hello Song.mp3")));
  }

  void columnBordersDragAndOnlyAHeaderClickSorts() {
    Renamer r;
    r.Add("b.mp3", "Beta", "A");
    r.Add("a.mp3", "Alpha", "A");
    r.Add("c.mp3", "Gamma", "A");
    TTrackList* lv = r.form.LV;
    QHeaderView* header = lv->horizontalHeader();
    r.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&r.form));
    const QStringList added = {"b.mp3", "a.mp3", "c.mp3"};
    for (int column : {core::TrackListModel::kAlbum, core::TrackListModel::kNewName}) {
      lv->ShowColumn(column, true);
      QCOMPARE(Column(r.form, 0), added);  // showing a column sorts nothing
    }
    for (int column = 0; column < header->count(); ++column) {
      QCOMPARE(header->sectionResizeMode(column), QHeaderView::Interactive);
    }
    // The shown columns fill the list until the user drags a border, which moves.
    QCOMPARE(header->length(), lv->viewport()->width());
    const int width = header->sectionSize(0);
    const QPoint border(header->sectionViewportPosition(0) + width - 1, header->height() / 2);
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, border);
    QTest::mouseMove(header->viewport(), border + QPoint(40, 0));
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, border + QPoint(40, 0));
    QCOMPARE(header->sectionSize(0), width + 40);
    QCOMPARE(Column(r.form, 0), added);
    // A header click sorts.
    const int title = core::TrackListModel::kTitle;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(title) + 10, header->height() / 2));
    const QStringList byTitle = Column(r.form, 1);
    QVERIFY(byTitle == (QStringList{"Alpha", "Beta", "Gamma"}) ||
            byTitle == (QStringList{"Gamma", "Beta", "Alpha"}));
    for (int column : {core::TrackListModel::kAlbum, core::TrackListModel::kNewName}) {
      lv->ShowColumn(column, false);
    }
  }

  void optionalColumnsShowTheTagsAndSortTheList() {
    Renamer r;
    r.Add("b.mp3", "Beta", "A");
    r.Add("a.mp3", "Alpha", "A");
    TTrackList* lv = r.form.LV;
    lv->ShowColumn(core::TrackListModel::kNewName, true);
    QVERIFY(lv->horizontalHeader()->sectionsClickable());
    QCOMPARE(lv->model()->index(0, core::TrackListModel::kNewName).data().toString(),
             QStringLiteral("A - Beta.mp3"));
    lv->sortByColumn(core::TrackListModel::kTitle, Qt::AscendingOrder);
    QCOMPARE(Column(r.form, 1), (QStringList{"Alpha", "Beta"}));
    {
      TForm1 again;  // the choice is remembered
      QVERIFY(!again.LV->isColumnHidden(core::TrackListModel::kNewName));
      again.LV->ShowColumn(core::TrackListModel::kNewName, false);
      QVERIFY(!again.LV->horizontalHeader()->sectionsClickable());
    }
    TForm1 fresh;
    QVERIFY(fresh.LV->isColumnHidden(core::TrackListModel::kNewName));
    QCOMPARE(fresh.geometry().size(), QSize(671, 461));
  }

  // "修复乱码文件名…": the plan's dialog lists the checked row's file, the lyrics beside it and
  // its folder; the rows follow the new names, and follow them back after an undo.
  void garbledNamesAreRepairedAndTheRowsFollow() {
    QTemporaryDir dir;
    // GBK bytes of "王菲 - 红豆" and "红豆" as a Windows program read them (CP1252).
    const QString folder = dir.path() + QStringLiteral("/Íõ·Æ - ºì¶¹/");
    QDir().mkpath(folder);
    MakeMp3(folder + QStringLiteral("ºì¶¹.mp3"), {QStringLiteral("红豆"), QStringLiteral("王菲")});
    WriteFile(folder + QStringLiteral("ºì¶¹.lrc"), "lyrics");
    TForm1 form;
    form.AddFolder(folder);
    QCOMPARE(form.LV->rowCount(), 1);
    int rows = -1;
    QString summary;
    QTimer::singleShot(0, &form, [&] {
      auto* dialog = qobject_cast<TFrmFixNames*>(QApplication::activeModalWidget());
      QVERIFY(dialog != nullptr);
      rows = dialog->LvNames->rowCount();
      summary = dialog->LSummary->text();
      dialog->accept();
    });
    form.NFixNamesClick();
    QCOMPARE(rows, 3);
    QCOMPARE(summary, QStringLiteral("共 3 个乱码名称：修复 3，需要确认 0，冲突 0，无法识别 0"));
    const QString fixed = dir.path() + QStringLiteral("/王菲 - 红豆/");
    QVERIFY(QFile::exists(fixed + QStringLiteral("红豆.lrc")));
    QCOMPARE(form.LV->FileName(0), QStringLiteral("红豆.mp3"));
    QCOMPARE(form.LV->Folder(0), fixed);
    QCOMPARE(form.ShownPath(), rules::NativePath(fixed + QStringLiteral("红豆.mp3")));
    BoxAnswerer answerer(QMessageBox::Yes);
    form.N12Click();
    QCOMPARE(form.LV->FileName(0), QStringLiteral("ºì¶¹.mp3"));
    QCOMPARE(form.LV->Folder(0), folder);
    QVERIFY(QFile::exists(folder + QStringLiteral("ºì¶¹.lrc")));
  }
};

VELOMI_QTEST_MAIN(RenameTest)
#include "RenameTest.moc"
