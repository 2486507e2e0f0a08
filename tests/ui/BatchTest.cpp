// The batch edit: the hint, the question, and what every checked MP3 and WMA file gets.
#include <QCheckBox>
#include <QLineEdit>
#include <QTemporaryDir>

#include "TrackList.h"
#include "UiTestSupport.h"
#include "Unit1.h"

using namespace uitest;

class BatchTest : public QObject {
  Q_OBJECT

 private slots:
  void withoutAFieldOnlyTheHint() {
    QTemporaryDir dir;
    TForm1 form;
    const QString a = MakeMp3(dir.filePath("a.mp3"), {"A", "Artist"});
    form.AddTrack(a);
    const QByteArray before = ReadFile(a);
    BoxAnswerer answerer(QMessageBox::Ok);
    form.BtnBatchClick();
    QCOMPARE(answerer.count(), 1);
    QCOMPARE(answerer.boxes()[0].title, QStringLiteral("系统提示"));
    QCOMPARE(answerer.boxes()[0].text, QStringLiteral("请先勾选需要批量修改的信息！"));
    QCOMPARE(answerer.boxes()[0].icon, QMessageBox::Information);
    QCOMPARE(answerer.boxes()[0].buttons, QStringList{QStringLiteral("确定")});
    QCOMPARE(ReadFile(a), before);
    QCOMPARE(Marks(form), QList<int>{0});
  }

  void theQuestionNamesTheChosenFields() {
    TForm1 form;
    BoxAnswerer answerer(QMessageBox::No);
    form.ChkAlbum->setChecked(true);
    form.BtnBatchClick();
    form.ChkArtist->setChecked(true);
    form.ChkYear->setChecked(true);
    form.ChkComment->setChecked(true);
    form.BtnBatchClick();
    QCOMPARE(answerer.count(), 2);
    QCOMPARE(answerer.boxes()[0].title, QStringLiteral("系统询问"));
    QCOMPARE(answerer.boxes()[0].icon, QMessageBox::Question);
    QCOMPARE(answerer.boxes()[0].text,
             QStringLiteral("确定要用当前歌曲的［专辑］\n信息批量修改选中文件的相关信息吗？"));
    QCOMPARE(answerer.boxes()[1].text,
             QStringLiteral("确定要用当前歌曲的［歌手］［专辑］［年份］［说明］\n"
                            "信息批量修改选中文件的相关信息吗？"));
  }

  void noWritesNothing() {
    QTemporaryDir dir;
    TForm1 form;
    const QString a = MakeMp3(dir.filePath("a.mp3"), {"A", "Artist"});
    const QString w = CopyData("ui_song.wma", dir.filePath("w.wma"));
    form.AddTrack(a);
    form.AddTrack(w);
    const QByteArray before = ReadFile(a);
    form.EdtArtist->setText("Someone else");
    form.ChkArtist->setChecked(true);
    BoxAnswerer answerer(QMessageBox::No);
    form.BtnBatchClick();
    QCOMPARE(ReadFile(a), before);
    QCOMPARE(ReadFile(w), ReadFile(DataFile("ui_song.wma")));
    QCOMPARE(Marks(form), (QList<int>{0, 0}));
    QCOMPARE(Column(form, 2), (QStringList{"Artist", "Talvino"}));
  }

  void checkedMp3AndWmaFilesGetTheChosenFields() {
    QTemporaryDir dir;
    TForm1 form;
    const QString m1 = MakeMp3(dir.filePath("1.mp3"), {"T1", "A1", "Al1", "2001", "C1", 4, 17});
    const QString skipped = MakeMp3(dir.filePath("2.mp3"), {"T2", "A2", "Al2", "2002", "C2"});
    const QString w = CopyData("ui_song.wma", dir.filePath("3.wma"));
    const QString untagged = MakeUntaggedMp3(dir.filePath("4.MP3"));
    const QString mp3x = MakeMp3(dir.filePath("5.mp3x"), {"T5"});
    for (const QString& path : {m1, skipped, w, untagged, mp3x}) form.AddTrack(path);
    SetChecked(form, 1, false);
    const QByteArray skippedBefore = ReadFile(skipped);
    const QByteArray mp3xBefore = ReadFile(mp3x);

    form.EdtArtist->setText(" 新歌手 ");
    form.EdtAlbum->setText("Album");
    form.EdtYear->setText("1999");
    form.EdtComment->setText(QString(35, 'c'));
    form.ChkArtist->setChecked(true);
    form.ChkComment->setChecked(true);
    BoxAnswerer answerer(QMessageBox::Yes);
    form.BtnBatchClick();
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);

    // MP3: the chosen fields trimmed and cut, the others as read.
    const TIDmp3 t1 = ReadMp3(m1);
    QCOMPARE(Gbk(t1.Title), QStringLiteral("T1"));
    QCOMPARE(Gbk(t1.Artist), QStringLiteral("新歌手"));
    QCOMPARE(Gbk(t1.Album), QStringLiteral("Al1"));
    QCOMPARE(Gbk(t1.Year), QStringLiteral("2001"));
    QCOMPARE(t1.Comment, std::string(28, 'c'));  // the track byte takes two of the 30
    QCOMPARE(t1.Track, 4);
    QCOMPARE(t1.GenreID, 17);
    QCOMPARE(ReadFile(skipped), skippedBefore);
    // WMA: all 35 characters.
    const TIDwma t3 = ReadWma(w);
    QCOMPARE(t3.Artist, u"新歌手");
    QCOMPARE(t3.Comment, std::u16string(35, u'c'));
    QCOMPARE(t3.Title, u"发如雪");
    QCOMPARE(t3.Album, u"十一月的萧邦");
    QCOMPARE(t3.WmTrack, u"2");
    // A file without a tag gets one, the other fields empty.
    const TIDmp3 t4 = ReadMp3(untagged);
    QVERIFY(t4.HasTag);
    QCOMPARE(Gbk(t4.Artist), QStringLiteral("新歌手"));
    QCOMPARE(t4.Comment, std::string(30, 'c'));
    QCOMPARE(t4.Title, std::string());
    QCOMPARE(t4.GenreID, 255);
    // .mp3x is not .mp3 here: handed to the WMA object, which refuses it.
    QCOMPARE(ReadFile(mp3x), mp3xBefore);

    QCOMPARE(Marks(form), (QList<int>{1, 0, 1, 1, 2}));
    // The rows hold what the files now hold, trimmed as the tags store the texts.
    QCOMPARE(Column(form, 2), (QStringList{"新歌手", "A2", "新歌手", "新歌手", ""}));
    QCOMPARE(Column(form, 1), (QStringList{"T1", "T2", "发如雪", "", "T5"}));
    // The boxes keep their texts.
    QCOMPARE(form.EdtArtist->text(), QStringLiteral(" 新歌手 "));
  }

  void onlyTheAlbumLeavesTheArtistColumn() {
    QTemporaryDir dir;
    TForm1 form;
    const QString a = MakeMp3(dir.filePath("a.mp3"), {"A", "Artist"});
    form.AddTrack(a);
    form.EdtArtist->setText("Changed");
    form.EdtAlbum->setText("New album");
    form.ChkAlbum->setChecked(true);
    BoxAnswerer answerer(QMessageBox::Yes);
    form.BtnBatchClick();
    QCOMPARE(Gbk(ReadMp3(a).Album), QStringLiteral("New album"));
    QCOMPARE(Gbk(ReadMp3(a).Artist), QStringLiteral("Artist"));
    QCOMPARE(Column(form, 2), QStringList{"Artist"});
    QCOMPARE(Marks(form), QList<int>{1});
  }

  void aMissingFileGetsTheCrossAndTheOthersAreWritten() {
    QTemporaryDir dir;
    TForm1 form;
    const QString a = MakeMp3(dir.filePath("a.mp3"), {"A"});
    const QString gone = MakeMp3(dir.filePath("gone.mp3"), {"G"});
    const QString goneWma = CopyData("ui_plain.wma", dir.filePath("gone.wma"));
    const QString w = CopyData("ui_plain.wma", dir.filePath("w.wma"));
    for (const QString& path : {a, gone, goneWma, w}) form.AddTrack(path);
    QFile::remove(gone);
    QFile::remove(goneWma);
    form.EdtYear->setText("2020");
    form.ChkYear->setChecked(true);
    BoxAnswerer answerer(QMessageBox::Yes);
    form.BtnBatchClick();
    // The question, then the summary: a box, since two files failed.
    QCOMPARE(answerer.count(), 2);
    QCOMPARE(answerer.boxes()[1].text,
             QStringLiteral("已批量修改 2 个文件，2 个失败，可撤销（Ctrl+Z）"));
    QCOMPARE(answerer.boxes()[1].details.count('\n'), 1);  // each failed file on a line
    QCOMPARE(Marks(form), (QList<int>{1, 2, 2, 1}));
    QCOMPARE(Gbk(ReadMp3(a).Year), QStringLiteral("2020"));
    QCOMPARE(ReadWma(w).Year, u"2020");
    QVERIFY(!QFile::exists(gone) && !QFile::exists(goneWma));
  }

  void aWmaErrorEndsTheBatchAtItsRow() {
    QTemporaryDir dir;
    TForm1 form;
    const QString a = MakeMp3(dir.filePath("a.mp3"), {"A"});
    const QString bad = CopyData("ui_song.wma", dir.filePath("bad.wma"));
    const QString c = MakeMp3(dir.filePath("c.mp3"), {"C"});
    for (const QString& path : {a, bad, c}) form.AddTrack(path);
    MakeBrokenWma(bad);
    form.EdtComment->setText("note");
    form.ChkComment->setChecked(true);
    BoxAnswerer answerer(QMessageBox::Yes);
    answerer.Queue({QMessageBox::Yes, QMessageBox::Ok});
    form.BtnBatchClick();
    QCOMPARE(answerer.count(), 2);
    QCOMPARE(answerer.boxes()[1].text, QStringLiteral("Stream read error."));
    QCOMPARE(answerer.boxes()[1].icon, QMessageBox::Critical);
    QCOMPARE(Marks(form), (QList<int>{1, 5, 5}));  // not reached: the batch ended before them
    QCOMPARE(Gbk(ReadMp3(a).Comment), QStringLiteral("note"));
    QCOMPARE(Gbk(ReadMp3(c).Comment), QString());
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
  }

  void anEmptyListAfterClearing() {
    TForm1 form;
    form.N6Click();
    QVERIFY(form.BtnBatch->isEnabled());
    form.ChkArtist->setChecked(true);
    BoxAnswerer answerer(QMessageBox::Yes);
    form.BtnBatchClick();
    QCOMPARE(answerer.count(), 1);
    QCOMPARE(form.LV->rowCount(), 0);
  }
};

VELOMI_QTEST_MAIN(BatchTest)
#include "BatchTest.moc"
