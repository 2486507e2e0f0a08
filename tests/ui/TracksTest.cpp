// Adding tracks (the folder browser, the file dialog, drops), what the boxes show for MP3, WMA
// and other files, clicks in the list, and the error boxes on the way.
#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>

#include "TrackList.h"
#include "UiTestSupport.h"
#include "Unit1.h"
#include "core/text/Rules.h"

using namespace uitest;

namespace {

QStringList FieldTexts(TForm1& form) {
  return {form.EdtTitle->text(),
          form.EdtArtist->text(),
          form.EdtAlbum->text(),
          form.EdtYear->text(),
          form.EdtComment->text(),
          form.EdtTrack->text(),
          form.ComboGenreID->currentText(),
          form.EdtCopyright->text(),
          form.EdtUrl->text(),
          form.EdtEncodedBy->text(),
          form.MLyrics->toPlainText(),
          form.EdtUserURL->text(),
          form.EdtVersion->text()};
}

bool WmaOnlyEnabled(TForm1& form) {
  bool all = true, none = true;
  for (QWidget* control : form.WmaOnlyControls()) {
    all = all && control->isEnabled();
    none = none && !control->isEnabled();
  }
  if (all == none) qFatal("the WMA-only controls disagree");
  return all;
}

}  // namespace

class TracksTest : public QObject {
  Q_OBJECT

 private slots:
  void addingAFolder() {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    MakeMp3(folder + "b.mp3", {"Bee", "周杰伦"});
    MakeMp3(folder + "A.MP3", {"发如雪", "Talvino", "", "", "", 0, 13});
    CopyData("ui_song.wma", folder + "c.wma");
    CopyData("ui_plain.wma", folder + "B.Wma");
    QDir(folder).mkdir("sub.mp3");  // a folder is skipped
    WriteFile(folder + "d.txt", "text");
    MakeMp3(folder + "e.mp3x", {"x"});  // not found by *.mp3

    TForm1 form;
    AnswerFolder(dir.path());
    form.Button2Click();
    QCOMPARE(Column(form, 0), (QStringList{"A.MP3", "b.mp3", "B.Wma", "c.wma"}));
    QCOMPARE(Column(form, 1), (QStringList{"发如雪", "Bee", "", "发如雪"}));
    QCOMPARE(Column(form, 2), (QStringList{"Talvino", "周杰伦", "", "Talvino"}));
    QCOMPARE(Column(form, 3), QStringList(4, QDir::toNativeSeparators(folder)));  // "\\" on Windows
    // The MP3 files' GBK blocks are garbled in players that read Latin-1: they carry that mark.
    QCOMPARE(Marks(form), (QList<int>{6, 6, 0, 0}));
    for (int row = 0; row < 4; ++row) QVERIFY(form.LV->Checked(row));
    // The boxes show the last file added, and nothing is selected.
    QCOMPARE(form.EdtPath->text(), QDir::toNativeSeparators(folder + "c.wma"));
    QCOMPARE(form.EdtAlbum->text(), QStringLiteral("十一月的萧邦"));
    QCOMPARE(form.LV->SelectedRow(), -1);
    QVERIFY(form.BtnBatch->isEnabled() && form.BtnSave->isEnabled() && form.BtnRename->isEnabled());
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);

    // The same folder again adds every file a second time.
    AnswerFolder(folder);
    form.Button2Click();
    QCOMPARE(form.LV->rowCount(), 8);
  }

  void addingAFolderWithTheFoldersBelowIt() {
    // A library by artist and album, with a link back to its root and a second way to an album:
    // every folder is walked once, its own files first, the folders below in name order.
    QTemporaryDir dir;
    const QString root = dir.path() + "/";
    MakeMp3(root + "z.mp3", {"Z"});
    QDir(root).mkpath("Artist/Album");
    QDir(root).mkpath("Bartist");
    MakeMp3(root + "Artist/Album/a.MP3", {"A"});
    CopyData("ui_song.wma", root + "Artist/Album/b.wma");
    MakeMp3(root + "Bartist/c.mp3", {"C"});
    QVERIFY(QFile::link(root, root + "Artist/Loop"));
    QVERIFY(QFile::link(root + "Artist/Album", root + "Bartist/Again"));

    TForm1 form;
    QVERIFY(form.PopupMenu2->actions().contains(form.NAddTree));
    QCOMPARE(form.NAddTree->text(), QStringLiteral("添加文件夹（含子文件夹）…"));
    AnswerFolder(dir.path());
    form.NAddTree->trigger();
    QCOMPARE(Column(form, 0), (QStringList{"z.mp3", "a.MP3", "b.wma", "c.mp3"}));
    const QString shown = QDir::toNativeSeparators(root);
    QCOMPARE(Column(form, 3), (QStringList{shown, QDir::toNativeSeparators(root + "Artist/Album/"),
                                           QDir::toNativeSeparators(root + "Artist/Album/"),
                                           QDir::toNativeSeparators(root + "Bartist/")}));
    QCOMPARE(form.EdtPath->text(), QDir::toNativeSeparators(root + "Bartist/c.mp3"));
    QVERIFY(form.BtnSave->isEnabled());
    // The folder button still adds the chosen folder's own files only.
    AnswerFolder(dir.path());
    form.Button2Click();
    QCOMPARE(form.LV->rowCount(), 5);

    // Its progress dialog, shown at once here, cancels the walk: the files found so far stay.
    TForm1 cancelled;
    cancelled.ProgressDelayMs = 0;
    QTimer cancel;
    cancel.setInterval(0);
    QObject::connect(&cancel, &QTimer::timeout, [&] {
      auto* d = cancelled.findChild<QProgressDialog*>(QStringLiteral("FolderProgress"));
      if (d != nullptr && d->isVisible()) d->cancel();
    });
    cancel.start();
    AnswerFolder(dir.path());
    cancelled.NAddTree->trigger();
    QCOMPARE(Column(cancelled, 0), QStringList{"z.mp3"});
    QVERIFY(cancelled.findChild<QProgressDialog*>(QStringLiteral("FolderProgress")) == nullptr);
  }

  void cancellingOrAnEmptyFolder() {
    QTemporaryDir dir;
    TForm1 form;
    AnswerFolder(QString());
    form.Button2Click();
    QVERIFY(!form.BtnSave->isEnabled());

    WhenFileDialog([](QFileDialog* dialog) { dialog->reject(); });
    form.BtnAddfileClick();
    QVERIFY(!form.BtnSave->isEnabled());

    // The folder browser's title and options.
    QString title;
    bool dirsOnly = false;
    WhenFileDialog([&](QFileDialog* dialog) {
      title = dialog->windowTitle();
      dirsOnly = dialog->testOption(QFileDialog::ShowDirsOnly) &&
                 dialog->fileMode() == QFileDialog::Directory;
      dialog->setDirectory(dir.path());
      static_cast<QDialog*>(dialog)->accept();
    });
    form.Button2Click();
    QCOMPARE(title, QStringLiteral("请选择MP3,WMA目录"));
    QVERIFY(dirsOnly);
    QCOMPARE(form.LV->rowCount(), 0);
    QVERIFY(form.BtnBatch->isEnabled() && form.BtnSave->isEnabled() && form.BtnRename->isEnabled());
  }

  void theFileDialog() {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    MakeMp3(folder + "a.mp3", {"Aa"});
    MakeMp3(folder + "B.MP3", {"Bb"});
    CopyData("ui_song.wma", folder + "c.Wma");
    WriteFile(folder + "d.txt", "text");

    TForm1 form;
    QStringList filters;
    QStringList listed;
    WhenFileDialog([&](QFileDialog* dialog) {
      filters = dialog->nameFilters();
      dialog->setDirectory(folder);
      auto* model = dialog->findChild<QFileSystemModel*>();
      // Wait until the folder is listed, then read what the filter lets through.
      QTRY_COMPARE_WITH_TIMEOUT(model->rowCount(model->index(dir.path())), 3, 5000);
      const QModelIndex root = model->index(dir.path());
      for (int row = 0; row < model->rowCount(root); ++row) {
        listed << model->index(row, 0, root).data().toString();
      }
      QStringList quoted = {"\"c.Wma\"", "\"a.mp3\""};
      dialog->findChild<QLineEdit*>("fileNameEdit")->setText(quoted.join(' '));
      static_cast<QDialog*>(dialog)->accept();
    });
    form.BtnAddfileClick();
    // The dialog shows the filter's name without its leading blank.
    QCOMPARE(filters, QStringList{"MP3,WMA Files(*.mp3 *.wma)"});
    listed.sort();
    QCOMPARE(listed, (QStringList{"B.MP3", "a.mp3", "c.Wma"}));
    // In the order the dialog gives them.
    QCOMPARE(Column(form, 0), (QStringList{"c.Wma", "a.mp3"}));
    QCOMPARE(Column(form, 1), (QStringList{"发如雪", "Aa"}));
    QVERIFY(form.BtnSave->isEnabled());
  }

  void dropping() {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    MakeMp3(folder + "a.MP3X", {"Mp3x"});
    WriteFile(folder + "b.ogg", "OggS");
    CopyData("ui_song.wma", folder + "c.wma");
    // A folder, even one named like an MP3 file, adds its files as the add folder button does.
    QDir(folder).mkdir("d.mp3");
    MakeMp3(folder + "d.mp3/f.mp3", {"F"});
    MakeMp3(folder + "d.mp3/e.mp3", {"E"});

    TForm1 form;
    BoxAnswerer answerer;
    Drop(form, {folder + "a.MP3X", folder + "d.mp3", folder + "b.ogg", folder + "c.wma"});
    QCOMPARE(answerer.count(), 0);
    QCOMPARE(Column(form, 0), (QStringList{"a.MP3X", "e.mp3", "f.mp3", "c.wma"}));
    QCOMPARE(Column(form, 1), (QStringList{"Mp3x", "E", "F", "发如雪"}));
    // A drop changes no button.
    QVERIFY(!form.BtnBatch->isEnabled() && !form.BtnSave->isEnabled() &&
            !form.BtnRename->isEnabled());
    QCOMPARE(form.EdtPath->text(), QDir::toNativeSeparators(folder + "c.wma"));
  }

  void aDroppedFileThatCannotBeReadGetsItsOwnBox() {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    MakeBrokenWma(folder + "bad1.wma");
    MakeMp3(folder + "ok.mp3", {"Ok"});
    MakeBrokenWma(folder + "bad2.WMA");
    CopyData("ui_plain.wma", folder + "ok.wma");

    TForm1 form;
    BoxAnswerer answerer(QMessageBox::Ok);
    Drop(form, {folder + "bad1.wma", folder + "ok.mp3", folder + "bad2.WMA", folder + "ok.wma"});
    QCOMPARE(answerer.count(), 2);
    for (const SeenBox& box : answerer.boxes()) {
      QCOMPARE(box.title, QStringLiteral("错误"));
      QCOMPARE(box.text, QStringLiteral("文件错误！                    "));
      QCOMPARE(box.icon, QMessageBox::Critical);
      QCOMPARE(box.buttons, QStringList{QStringLiteral("确定")});
    }
    QCOMPARE(Column(form, 0), (QStringList{"ok.mp3", "ok.wma"}));
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
  }

  void aBrokenFileDoesNotEndTheAdding() {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    MakeMp3(folder + "a.mp3", {"A"});
    CopyData("ui_song.wma", folder + "a.wma");
    MakeBrokenWma(folder + "b.wma");
    CopyData("ui_song.wma", folder + "c.wma");
    MakeBrokenWma(folder + "d.wma");

    TForm1 form;
    BoxAnswerer answerer(QMessageBox::Ok);
    AnswerFolder(folder);
    form.Button2Click();
    // One box, after the adding, naming each file that could not be read and why.
    QCOMPARE(answerer.count(), 1);
    QCOMPARE(answerer.boxes()[0].title, QStringLiteral("VelomiMP3批量更名"));
    const QString why = QStringLiteral("：Stream read error.");
    const QString shown = QDir::toNativeSeparators(folder);
    QVERIFY(answerer.boxes()[0].text.endsWith("\n" + shown + "b.wma" + why + "\n" + shown +
                                              "d.wma" + why));
    QCOMPARE(answerer.boxes()[0].icon, QMessageBox::Critical);
    QCOMPARE(answerer.boxes()[0].buttons, QStringList{QStringLiteral("确定")});
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QCOMPARE(Column(form, 0), (QStringList{"a.mp3", "a.wma", "c.wma"}));
    QVERIFY(form.BtnBatch->isEnabled() && form.BtnSave->isEnabled() && form.BtnRename->isEnabled());
    // The boxes show the last file added, though the failed read emptied the WMA tag object.
    QCOMPARE(form.EdtPath->text(), QDir::toNativeSeparators(folder + "c.wma"));
    QCOMPARE(form.EdtTitle->text(), QStringLiteral("发如雪"));
    QCOMPARE(form.MLyrics->toPlainText(), QStringLiteral("窗透初晓"));

    // The same from the file dialog: the files after the bad one are added too.
    AnswerFiles(folder, {"a.mp3", "b.wma", "c.wma"});
    form.BtnAddfileClick();
    QCOMPARE(answerer.count(), 2);
    QVERIFY(answerer.boxes()[1].text.endsWith("\n" + shown + "b.wma" + why));
    QCOMPARE(form.LV->rowCount(), 5);
    QCOMPARE(form.EdtPath->text(), QDir::toNativeSeparators(folder + "c.wma"));
  }

  void theDialogsOpenWhereTheUserLastAddedFrom() {
    QTemporaryDir dir;
    const QString one = dir.filePath("一"), two = dir.filePath("二");
    QDir().mkpath(one);
    QDir().mkpath(two);
    MakeMp3(two + "/b.mp3", {"B"});
    QString opened;
    auto note = [&opened](QFileDialog* dialog) {
      opened = dialog->directory().path();
      dialog->reject();
    };

    TForm1 form;
    AnswerFolder(one);
    form.Button2Click();
    WhenFileDialog(note);
    form.BtnAddfileClick();
    QCOMPARE(opened, one);
    AnswerFiles(two, {"b.mp3"});
    form.BtnAddfileClick();
    WhenFileDialog(note);
    form.Button2Click();
    QCOMPARE(opened, two);
    // Kept for the next run.
    QCOMPARE(QSettings("velomi", "velomi").value("LastFolder").toString(), two);
  }

  void whatTheBoxesShowForAnMp3File() {
    QTemporaryDir dir;
    TForm1 form;
    const QString gbk = CopyData("mp3_v11_gbk.mp3", dir.filePath("gbk.mp3"));
    form.AddTrack(gbk);
    QCOMPARE(Column(form, 1), QStringList{"发如雪"});
    QCOMPARE(Column(form, 2), QStringList{"周杰伦"});
    QCOMPARE(FieldTexts(form), (QStringList{"发如雪", "周杰伦", "十一月的萧邦", "2005", "", "3",
                                            "Pop", "", "", "", "", "", ""}));
    QCOMPARE(form.ComboGenreID->currentIndex(), 14);  // genre 13
    QVERIFY(form.ComboGenreID->isEnabled());
    QVERIFY(!WmaOnlyEnabled(form));
    QCOMPARE(form.EdtPath->text(), QDir::toNativeSeparators(gbk));

    // A file without a tag shows the empty genre entry, not the genre shown before.
    const QString untagged = MakeUntaggedMp3(dir.filePath("untagged.mp3"));
    form.AddTrack(untagged);
    QCOMPARE(FieldTexts(form), (QStringList{"", "", "", "", "", "0", "", "", "", "", "", "", ""}));
    QCOMPARE(form.ComboGenreID->currentIndex(), 0);

    // The genre's name comes back even after other text stood in the box.
    form.AddTrack(gbk);
    form.ComboGenreID->setEditText("Typed");
    form.AddTrack(gbk);
    QCOMPARE(form.ComboGenreID->currentText(), QStringLiteral("Pop"));
    MakeMp3(dir.filePath("last.mp3"), {"L", "", "", "", "", 0, 147});
    form.AddTrack(dir.filePath("last.mp3"));
    QCOMPARE(form.ComboGenreID->currentIndex(), 148);
    MakeMp3(dir.filePath("big.mp3"), {"L", "", "", "", "", 0, 148});
    form.AddTrack(dir.filePath("big.mp3"));
    QCOMPARE(form.ComboGenreID->currentIndex(), 0);
  }

  void whatTheBoxesShowForWmaAndOtherFiles() {
    QTemporaryDir dir;
    TForm1 form;
    const QString wma = CopyData("ui_song.wma", dir.filePath("song.wma"));
    form.AddTrack(wma);
    QCOMPARE(FieldTexts(form),
             (QStringList{"发如雪", "Talvino", "十一月的萧邦", "2005", "", "3", "Pop", "© 2005 ☃",
                          "http://www.example.com/song", "ffmpeg", "窗透初晓", "周杰伦", "12.0"}));
    QVERIFY(WmaOnlyEnabled(form));
    QVERIFY(form.ComboGenreID->isEnabled());

    // A .wav file is read by the WMA object: nothing in it, and the WMA boxes disabled.
    const QString wav = CopyData("ui_song.wma", dir.filePath("song.wav"));
    form.AddTrack(wav);
    QCOMPARE(FieldTexts(form)[0], QStringLiteral("发如雪"));
    QVERIFY(!WmaOnlyEnabled(form));
    QCOMPARE(form.EdtPath->text(), QDir::toNativeSeparators(wav));

    // A WMA file without metadata, or no file at all: every box empty.
    form.AddTrack(CopyData("ui_plain.wma", dir.filePath("plain.wma")));
    QCOMPARE(FieldTexts(form), QStringList(13, QString()));
    QVERIFY(WmaOnlyEnabled(form));
    form.AddTrack(wma);
    form.AddTrack(dir.filePath("missing.wma"));
    QCOMPARE(FieldTexts(form), QStringList(13, QString()));
    QCOMPARE(form.LV->rowCount(), 5);
  }

  void clicksShowTheTopmostSelectedRow() {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.AddTrack(MakeMp3(folder + "0.mp3", {"Zero"}));
    form.AddTrack(MakeMp3(folder + "1.mp3", {"One"}));
    form.AddTrack(CopyData("ui_song.wma", folder + "2.wma"));
    form.AddTrack(MakeMp3(folder + "3.mp3", {"Three"}));

    ClickRow(form, 1);
    QCOMPARE(form.EdtTitle->text(), QStringLiteral("One"));
    QVERIFY(!WmaOnlyEnabled(form));
    ClickRow(form, 2);
    QCOMPARE(form.EdtTitle->text(), QStringLiteral("发如雪"));
    QVERIFY(WmaOnlyEnabled(form));

    // Adding row 3 to the selection: the boxes show row 2, the topmost selected row.
    ClickRow(form, 3, Qt::ControlModifier);
    QCOMPARE(form.LV->selectionModel()->selectedRows().size(), 2);
    QCOMPARE(form.EdtTitle->text(), QStringLiteral("发如雪"));
    ClickRow(form, 1, Qt::ShiftModifier);
    QCOMPARE(form.EdtTitle->text(), QStringLiteral("One"));

    // A click on a check box toggles it only: the selection, the shown file and the boxes (with
    // what was typed into them) stay as they are.
    ClickRow(form, 0);
    form.EdtTitle->setText(QStringLiteral("typed"));
    const QRect cell = form.LV->visualRect(form.LV->model()->index(3, 0));
    QTest::mouseClick(form.LV->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(cell.left() + 10, cell.center().y()));
    QVERIFY(!form.LV->Checked(3));
    QCOMPARE(form.LV->SelectedRow(), 0);
    QCOMPARE(form.EdtTitle->text(), QStringLiteral("typed"));

    // A click below the rows clears the selection; the boxes keep what they show.
    QTest::mouseClick(form.LV->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(300, form.LV->viewport()->height() - 5));
    QCOMPARE(form.LV->SelectedRow(), -1);
    QCOMPARE(form.EdtTitle->text(), QStringLiteral("typed"));

    // The keys and a right click that move the highlight show its file, as a click does.
    ClickRow(form, 1);
    QCOMPARE(form.EdtTitle->text(), QStringLiteral("One"));
    const struct {
      std::function<void()> move;
      int row;
      QString title;
    } moves[] = {
        {[&] { QTest::keyClick(form.LV, Qt::Key_Down); }, 2, QStringLiteral("发如雪")},
        {[&] { QTest::keyClick(form.LV, Qt::Key_End); }, 3, QStringLiteral("Three")},
        {[&] { QTest::keyClick(form.LV, Qt::Key_Home); }, 0, QStringLiteral("Zero")},
        {[&] {
           QTest::mouseClick(form.LV->viewport(), Qt::RightButton, Qt::NoModifier,
                             form.LV->visualRect(form.LV->model()->index(1, 1)).center());
         },
         1, QStringLiteral("One")},
    };
    for (const auto& move : moves) {
      move.move();
      QCOMPARE(form.LV->SelectedRow(), move.row);
      QCOMPARE(form.EdtTitle->text(), move.title);
      QCOMPARE(form.EdtPath->text(), QDir::toNativeSeparators(form.LV->FullPath(move.row)));
    }
    form.PopupMenu2->close();

    // Tab and Shift+Tab leave the list; the arrow keys stay in it.
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.LV->setFocus();
    QTest::keyClick(form.LV, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), form.EdtTitle);
    form.LV->setFocus();
    QTest::keyClick(form.LV, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), form.Button2);  // the save button is disabled
  }

  void aClickReadsTheFileAfresh() {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    TForm1 form;
    form.AddTrack(MakeMp3(folder + "a.mp3", {"Old", "Artist", "", "", "", 0, 5}));
    form.AddTrack(MakeMp3(folder + "b.mp3", {"Gone"}));

    MakeMp3(folder + "a.mp3", {"New", "Other"});
    SelectRows(form, {0});
    form.LVClick();
    QCOMPARE(form.EdtTitle->text(), QStringLiteral("New"));
    QCOMPARE(form.ComboGenreID->currentIndex(), 0);
    // The row keeps what it got when it was added.
    QCOMPARE(form.LV->Title(0), QStringLiteral("Old"));

    QFile::remove(folder + "b.mp3");
    SelectRows(form, {1});
    form.LVClick();
    QCOMPARE(FieldTexts(form), (QStringList{"", "", "", "", "", "0", "", "", "", "", "", "", ""}));
    QCOMPARE(form.EdtPath->text(), QDir::toNativeSeparators(folder + "b.mp3"));
    QCOMPARE(form.LV->rowCount(), 2);
  }

  void aClickOnAnUnreadableWmaFileShowsTheErrorAndKeepsTheBoxes() {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    TForm1 form;
    form.AddTrack(CopyData("ui_song.wma", folder + "a.wma"));
    form.AddTrack(MakeMp3(folder + "b.mp3", {"Bee"}));
    MakeBrokenWma(folder + "a.wma");
    BoxAnswerer answerer(QMessageBox::Ok);
    SelectRows(form, {0});
    form.LVClick();
    QCOMPARE(answerer.count(), 1);
    QCOMPARE(answerer.boxes()[0].text, QStringLiteral("Stream read error."));
    QCOMPARE(answerer.boxes()[0].title, QStringLiteral("VelomiMP3批量更名"));
    QCOMPARE(form.EdtTitle->text(), QStringLiteral("Bee"));
    QCOMPARE(form.EdtPath->text(), QDir::toNativeSeparators(folder + "b.mp3"));
  }

  void gbkNamedFilesAreShownSavedAndRenamedUnderTheirBytes() {
    // Names in GBK bytes, as Windows archives and FAT drives hold them: not UTF-8.
    if (!FileNamesAreBytes()) QSKIP("file names here are text, never GBK bytes");
    QTemporaryDir dir;
    const std::string folder = rules::NativePath(dir.path()) + "/";
    const std::string mp3 = folder + rules::ToGbk(QStringLiteral("发如雪")) + ".mp3";
    const std::string wma = folder + rules::ToGbk(QStringLiteral("十一月")) + ".wma";
    const std::string dropped = folder + rules::ToGbk(QStringLiteral("七里香")) + ".mp3";
    // QTemporaryDir cannot remove what Qt cannot name.
    struct Remove {
      std::vector<std::string> paths;
      ~Remove() {
        for (const std::string& path : paths) std::remove(path.c_str());
      }
    } remove{{mp3, wma, dropped}};
    QCOMPARE(std::rename(MakeMp3(dir.filePath("a"), {"Song", "Singer"}).toUtf8(), mp3.c_str()), 0);
    QCOMPARE(std::rename(CopyData("ui_song.wma", dir.filePath("b")).toUtf8(), wma.c_str()), 0);

    TForm1 form;
    form.AddFolder(dir.path());
    QCOMPARE(Column(form, 0), (QStringList{"发如雪.mp3", "十一月.wma"}));
    QCOMPARE(form.LV->NativePath(0), mp3);
    QCOMPARE(form.LV->NativePath(1), wma);

    BoxAnswerer yes;
    ClickRow(form, 0);
    QCOMPARE(form.EdtTitle->text(), QStringLiteral("Song"));
    QCOMPARE(form.EdtPath->text(), QDir::toNativeSeparators(dir.path() + "/发如雪.mp3"));
    form.EdtTitle->setText("New");
    form.BtnSaveClick();
    ClickRow(form, 1);
    QCOMPARE(form.EdtTitle->text(), QStringLiteral("发如雪"));
    form.EdtArtist->setText("周杰伦");
    form.BtnSaveClick();
    QCOMPARE(Marks(form), (QList<int>{1, 1}));
    TIDmp3 mp3Tag;
    QVERIFY(mp3Tag.ReadFromFile(mp3) && mp3Tag.Title == "New");
    TIDwma wmaTag;
    QVERIFY(wmaTag.ReadFromFile(wma) && wmaTag.Artist == u"周杰伦");

    // Rule 1 renames both to UTF-8 names.
    form.BtnRenameClick();
    QCOMPARE(Column(form, 0), (QStringList{"Singer - New.mp3", "周杰伦 - 发如雪.wma"}));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
             (QStringList{"Singer - New.mp3", "周杰伦 - 发如雪.wma"}));

    // A drop names the file by its URL's percent-encoded bytes.
    QCOMPARE(std::rename(MakeMp3(dir.filePath("c"), {"Dropped"}).toUtf8(), dropped.c_str()), 0);
    DropUrls(form, {rules::FileUrlOf(dropped)});
    QCOMPARE(form.LV->rowCount(), 3);
    QCOMPARE(form.LV->NativePath(2), dropped);
    QCOMPARE(form.LV->FileName(2), QStringLiteral("七里香.mp3"));
    QCOMPARE(form.EdtTitle->text(), QStringLiteral("Dropped"));
  }
};

VELOMI_QTEST_MAIN(TracksTest)
#include "TracksTest.moc"
