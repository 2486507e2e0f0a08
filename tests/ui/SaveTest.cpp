// Saving the shown tag: what lands in MP3 and WMA files byte for byte, which row shows it, and
// the year box's key filter.
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include "Rules.h"
#include "StatusBar.h"
#include "TrackList.h"
#include "UiTestSupport.h"
#include "Unit1.h"

using namespace uitest;

namespace {

// The ID3v1 block that the fields make: ID3v1.1 (a 28-byte comment, a zero, the track) when the
// track is not 0.
QByteArray Block(const QByteArray& title, const QByteArray& artist, const QByteArray& album,
                 const QByteArray& year, const QByteArray& comment, int track, int genre) {
  auto field = [](const QByteArray& text, int size) {
    QByteArray bytes = text.left(size);
    bytes.append(QByteArray(size - bytes.size(), '\0'));
    return bytes;
  };
  QByteArray block =
      "TAG" + field(title, 30) + field(artist, 30) + field(album, 30) + field(year, 4);
  if (track != 0) {
    block += field(comment, 28) + '\0' + static_cast<char>(track);
  } else {
    block += field(comment, 30);
  }
  block += static_cast<char>(genre);
  return block;
}

QByteArray Tail(const QString& path) { return ReadFile(path).right(128); }

}  // namespace

class SaveTest : public QObject {
  Q_OBJECT

 private:
  // A window showing one MP3 file (clicked, so its row is selected).
  struct Shown {
    QTemporaryDir dir;
    TForm1 form;
    QString path;
  };
  static void ShowMp3(Shown& s, const QString& name, const Mp3Fields& fields) {
    s.path = MakeMp3(s.dir.filePath(name), fields);
    s.form.AddTrack(s.path);
    SelectRows(s.form, {s.form.LV->rowCount() - 1});
    s.form.LVClick();
  }

 private slots:
  void theQuestion() {
    Shown s;
    ShowMp3(s, "a.mp3", {"Title"});
    const QByteArray before = ReadFile(s.path);
    s.form.EdtTitle->setText("Changed");
    BoxAnswerer answerer(QMessageBox::No);
    s.form.BtnSaveClick();
    QCOMPARE(answerer.count(), 1);
    const SeenBox& box = answerer.boxes()[0];
    QCOMPARE(box.title, QStringLiteral("系统询问"));
    QCOMPARE(box.text, QStringLiteral("确定要保存更改后的信息吗？"));
    QCOMPARE(box.icon, QMessageBox::Question);
    QCOMPARE(box.buttons.size(), 2);
    // No: nothing written, the row as it was.
    QCOMPARE(ReadFile(s.path), before);
    QCOMPARE(s.form.LV->Title(0), QStringLiteral("Title"));
    QCOMPARE(Marks(s.form), QList<int>{0});
  }

  void mp3TrackNumbers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("track");
    QTest::newRow("7") << "7" << 7;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("abc") << "abc" << 0;
    QTest::newRow("0") << "0" << 0;
    QTest::newRow("-3") << "-3" << 0;
    QTest::newRow("300") << "300" << 44;
    QTest::newRow("255") << "255" << 255;
    QTest::newRow("leading blank") << " 7" << 7;
    QTest::newRow("trailing blank") << "7 " << 0;
    QTest::newRow("hex") << "$0A" << 10;
  }
  void mp3TrackNumbers() {
    QFETCH(QString, text);
    QFETCH(int, track);
    Shown s;
    ShowMp3(s, "a.mp3", {"T", "A", "Al", "1999", "C", 3, 7});
    const QByteArray audio = ReadFile(s.path).chopped(128);
    s.form.EdtTrack->setText(text);
    BoxAnswerer answerer(QMessageBox::Yes);
    s.form.BtnSaveClick();
    QCOMPARE(ReadFile(s.path).chopped(128), audio);
    QCOMPARE(Tail(s.path), Block("T", "A", "Al", "1999", "C", track, 7));
    QCOMPARE(Marks(s.form), QList<int>{1});
  }

  void mp3Genres_data() {
    QTest::addColumn<int>("entry");
    QTest::addColumn<int>("genre");
    QTest::newRow("empty entry") << 0 << 255;
    QTest::newRow("Blues") << 1 << 0;
    QTest::newRow("last entry") << 148 << 147;
    QTest::newRow("none chosen") << -1 << 254;
  }
  void mp3Genres() {
    QFETCH(int, entry);
    QFETCH(int, genre);
    Shown s;
    ShowMp3(s, "a.mp3", {"T", "", "", "", "", 0, 13});
    s.form.ComboGenreID->setCurrentIndex(entry);
    s.form.ComboGenreID->setEditText("Text plays no part");
    BoxAnswerer answerer(QMessageBox::Yes);
    s.form.BtnSaveClick();
    QCOMPARE(Tail(s.path), Block("T", "", "", "", "", 0, genre));
  }

  void mp3TextsAreTrimmedGbkAndCut() {
    Shown s;
    ShowMp3(s, "a.Mp3x", {"Old"});  // four characters decide: written as MP3
    const QString longTitle = "  " + QString(40, 'x');
    s.form.EdtTitle->setText(longTitle);
    s.form.EdtArtist->setText("\t发如雪☃ ");
    s.form.EdtAlbum->setText(" 专辑 ");
    s.form.EdtYear->setText("2005");
    s.form.EdtComment->setText("a comment that is longer than thirty bytes");
    s.form.EdtTrack->setText("");
    s.form.ComboGenreID->setCurrentIndex(0);
    BoxAnswerer answerer(QMessageBox::Yes);
    s.form.BtnSaveClick();
    QCOMPARE(Tail(s.path),
             Block(QByteArray(30, 'x'), "\xB7\xA2\xC8\xE7\xD1\xA9?", "\xD7\xA8\xBC\xAD", "2005",
                   "a comment that is longer than thirty bytes", 0, 255));
    // The row shows what the file now holds: trimmed, cut, a character GBK lacks as "?".
    QCOMPARE(s.form.LV->Title(0), QString(30, 'x'));
    QCOMPARE(s.form.LV->Artist(0), QStringLiteral("发如雪?"));
    QCOMPARE(Marks(s.form), QList<int>{1});
  }

  void aFailedWriteGetsTheCrossAndKeepsTheRow() {
    Shown s;
    ShowMp3(s, "a.mp3", {"Title", "Artist"});
    QFile::remove(s.path);
    s.form.EdtTitle->setText("New");
    BoxAnswerer answerer(QMessageBox::Yes);
    s.form.BtnSaveClick();
    QCOMPARE(Marks(s.form), QList<int>{2});
    QCOMPARE(s.form.LV->Title(0), QStringLiteral("Title"));
    QVERIFY(!QFile::exists(s.path));  // nothing is created
    // A later successful save of the same row sets the tick.
    MakeUntaggedMp3(s.path);
    s.form.BtnSaveClick();
    QCOMPARE(Marks(s.form), QList<int>{1});
    QCOMPARE(s.form.LV->Title(0), QStringLiteral("New"));
    QCOMPARE(Gbk(ReadMp3(s.path).Title), QStringLiteral("New"));
  }

  void everyRowOfTheSavedFileHoldsWhatTheFileHolds() {
    QTemporaryDir dir;
    TForm1 form;
    const QString a = MakeMp3(dir.filePath("a.mp3"), {"A"});
    const QString b = MakeMp3(dir.filePath("b.mp3"), {"B"});
    form.AddTrack(a);
    form.AddTrack(b);
    form.AddTrack(a);
    BoxAnswerer answerer(QMessageBox::Yes);

    // A file added twice has two rows: both show what the file now holds.
    form.EdtTitle->setText("A1 ");
    form.BtnSaveClick();
    QCOMPARE(Column(form, 1), (QStringList{"A1", "B", "A1"}));
    QCOMPARE(Marks(form), (QList<int>{1, 0, 1}));

    // The selection moved to another file without a click: the shown file is saved, never the
    // selected row's other file.
    SelectRows(form, {1});
    form.EdtTitle->setText("A3");
    form.BtnSaveClick();
    QCOMPARE(Column(form, 1), (QStringList{"A3", "B", "A3"}));
    QCOMPARE(Gbk(ReadMp3(b).Title), QStringLiteral("B"));
    QCOMPARE(Gbk(ReadMp3(a).Title), QStringLiteral("A3"));

    // No row names the file any more (it was renamed behind the window's back): nothing is
    // written, and the list stays as it was.
    QFile::rename(a, dir.filePath("renamed.mp3"));
    form.LV->SetFileName(0, "renamed.mp3");
    form.LV->SetFileName(2, "renamed.mp3");
    form.EdtTitle->setText("A4");
    form.BtnSaveClick();
    QCOMPARE(Column(form, 1), (QStringList{"A3", "B", "A3"}));
    QCOMPARE(Marks(form), (QList<int>{1, 0, 1}));
    QVERIFY(!QFile::exists(a));
  }

  void wmaSaveWritesAllThirteenBoxes() {
    QTemporaryDir dir;
    TForm1 form;
    const QString path = CopyData("ui_song.wma", dir.filePath("s.wma"));
    form.AddTrack(path);
    SelectRows(form, {0});
    form.LVClick();
    form.EdtTitle->setText(" 新标题 ");
    form.EdtArtist->setText("Artist☃");
    form.EdtAlbum->setText("Album");
    form.EdtYear->setText("1999");
    form.ComboGenreID->setEditText("Chinese Pop");
    form.EdtComment->setText("Comment");
    form.EdtCopyright->setText("");
    form.EdtUrl->setText("http://example.com/u");
    form.EdtEncodedBy->setText("enc");
    form.MLyrics->setPlainText("line 1\nline 2\n");
    form.EdtTrack->setText("abc");
    form.EdtUserURL->setText("composer");
    form.EdtVersion->setText("v2");
    BoxAnswerer answerer(QMessageBox::Yes);
    form.BtnSaveClick();
    QCOMPARE(Marks(form), QList<int>{1});
    const TIDwma tag = ReadWma(path);
    QCOMPARE(tag.Title, u" 新标题");   // leading blanks kept, trailing ones cut by the setter
    QCOMPARE(tag.Artist, u"Artist☃");  // no trip through GBK
    QCOMPARE(tag.Album, u"Album");
    QCOMPARE(tag.Year, u"1999");
    QCOMPARE(tag.Genre, u"Chinese Pop");
    QCOMPARE(tag.Comment, u"Comment");
    QCOMPARE(tag.Copyright, u"");
    QCOMPARE(tag.Url, u"http://example.com/u");
    QCOMPARE(tag.EncodedBy, u"enc");
    QCOMPARE(tag.Lyrics, u"line 1\nline 2");
    QCOMPARE(tag.Track, u"abc");
    QCOMPARE(tag.UserUrl, u"composer");
    QCOMPARE(tag.Version, u"v2");
    QCOMPARE(tag.WmTrack, u"2");
    QCOMPARE(form.LV->Title(0), QStringLiteral(" 新标题"));  // as the file holds it
    QCOMPARE(form.LV->Artist(0), QStringLiteral("Artist☃"));

    // An unchanged save leaves the file as the first save left it.
    const QByteArray once = ReadFile(path);
    form.LVClick();
    form.BtnSaveClick();
    QCOMPARE(ReadFile(path), once);

    // Lyrics with Windows line breaks keep them.
    TIDwma crlf = ReadWma(path);
    crlf.SetLyrics(u"a\r\nb");
    QVERIFY(crlf.SaveToFile(rules::NativePath(path)));
    form.LVClick();
    QCOMPARE(form.MLyrics->toPlainText(), QStringLiteral("a\nb"));
    form.BtnSaveClick();
    QCOMPARE(ReadWma(path).Lyrics, u"a\r\nb");
  }

  void wmaSaveKeepsTheShownFilesOwnTrack() {
    QTemporaryDir dir;
    TForm1 form;
    const QString song = CopyData("ui_song.wma", dir.filePath("song.wma"));  // WM/Track 2
    const QString plain = CopyData("ui_plain.wma", dir.filePath("plain.wma"));
    form.AddTrack(song);
    form.AddTrack(plain);
    SelectRows(form, {0});
    form.LVClick();
    QCOMPARE(form.EdtPath->text(), QDir::toNativeSeparators(song));
    // A batch edit of the other file leaves the WMA object holding that file's tag.
    form.LV->SetChecked(0, false);
    form.ChkYear->setChecked(true);
    BoxAnswerer answerer(QMessageBox::Yes);
    form.BtnBatchClick();
    QCOMPARE(ReadWma(plain).Year, u"2005");
    QCOMPARE(form.WmaInfo->WmTrack, u"");
    form.BtnSaveClick();
    QCOMPARE(ReadWma(song).WmTrack, u"2");
    QCOMPARE(ReadWma(song).Title, u"发如雪");
  }

  void aWmaErrorShowsTheErrorBoxAndKeepsTheRow() {
    QTemporaryDir dir;
    TForm1 form;
    const QString path = CopyData("ui_song.wma", dir.filePath("s.wma"));
    form.AddTrack(path);
    SelectRows(form, {0});
    form.LVClick();
    MakeBrokenWma(path);
    const QByteArray broken = ReadFile(path);
    form.EdtTitle->setText("New");
    BoxAnswerer answerer(QMessageBox::Yes);
    answerer.Queue({QMessageBox::Yes, QMessageBox::Ok});
    form.BtnSaveClick();
    QCOMPARE(answerer.count(), 2);
    QCOMPARE(answerer.boxes()[1].title, QStringLiteral("VelomiMP3批量更名"));
    QCOMPARE(answerer.boxes()[1].text, QStringLiteral("Stream read error."));
    QCOMPARE(answerer.boxes()[1].icon, QMessageBox::Critical);
    QCOMPARE(Marks(form), QList<int>{0});
    QCOMPARE(form.LV->Title(0), QStringLiteral("发如雪"));
    QCOMPARE(ReadFile(path), broken);
  }

  void otherExtensionsAreWrittenAsWma() {
    QTemporaryDir dir;
    TForm1 form;
    // An MP3 file under a name the WMA object writes: not an ASF file, so the write fails and
    // leaves it alone.
    const QString path = MakeMp3(dir.filePath("a.mp"), {"T"});
    const QByteArray before = ReadFile(path);
    form.AddTrack(path);
    BoxAnswerer answerer(QMessageBox::Yes);
    form.BtnSaveClick();
    QCOMPARE(Marks(form), QList<int>{2});
    QCOMPARE(ReadFile(path), before);
  }

  void aRenameMovesThePathBoxAndAVanishedFileSaysSo() {
    Shown s;
    ShowMp3(s, "a.mp3", {"Title", "Artist"});
    BoxAnswerer answerer(QMessageBox::Yes);
    s.form.BtnRenameClick();
    const QString renamed = s.dir.filePath("Artist - Title.mp3");
    QCOMPARE(s.form.EdtPath->text(), QDir::toNativeSeparators(renamed));
    s.form.EdtTitle->setText("New");
    s.form.BtnSaveClick();
    QCOMPARE(Gbk(ReadMp3(renamed).Title), QStringLiteral("New"));
    QCOMPARE(Marks(s.form), QList<int>{1});

    // The file goes behind the window's back: no question, the cross and the reason.
    QFile::remove(renamed);
    const int boxes = answerer.count();
    s.form.BtnSaveClick();
    QCOMPARE(answerer.count(), boxes + 1);
    QCOMPARE(answerer.boxes().last().title, QStringLiteral("系统提示"));
    QVERIFY(answerer.boxes().last().text.endsWith("\n" + QDir::toNativeSeparators(renamed)));
    QCOMPARE(Marks(s.form), QList<int>{2});
    QVERIFY(!QFile::exists(renamed));
  }

  void aSaveAndABatchEndWithLinesOfTheirOwn() {
    QTemporaryDir dir;
    const QString a = MakeMp3(dir.filePath("a.mp3"), Mp3Fields("A", "X"));
    const QString b = MakeMp3(dir.filePath("b.mp3"), Mp3Fields("B", "Y"));
    TForm1 form;
    form.AddTrack(b);
    form.AddTrack(a);                                                // shown
    form.StatusBar1->SetMessage(QStringLiteral("已撤销 1 个文件"));  // a line from before
    // A title of 31 GBK bytes that the slot cuts to whole characters, in a read-only file.
    const QString title = QStringLiteral("a") + QString(15, QChar(0x6B4C));
    form.EdtTitle->setText(title);
    QFile::setPermissions(a, QFileDevice::ReadOwner);
    {
      BoxAnswerer yes(QMessageBox::Yes);
      form.BtnSaveClick();
    }
    QCOMPARE(form.StatusBar1->Message(),
             QStringLiteral("已保存；已取消只读属性；标题被截短为 29 字节"));
    QCOMPARE(form.EdtTitle->text(), title);  // the box keeps what was typed
    QVERIFY(QFileInfo(a).isWritable());
    form.EdtTitle->setText("A2");
    {
      BoxAnswerer yes(QMessageBox::Yes);
      form.BtnSaveClick();
    }
    QCOMPARE(form.StatusBar1->Message(), QStringLiteral("已保存"));

    // A batch counts as its plan does: b's artist changes, a's is already the same.
    form.EdtArtist->setText("Y");
    form.ChkArtist->setChecked(true);
    SetChecked(form, 0, true);
    SetChecked(form, 1, true);
    {
      BoxAnswerer yes(QMessageBox::Yes);
      form.BtnBatchClick();
    }
    QVERIFY2(
        form.StatusBar1->Message().startsWith(QStringLiteral("已批量修改 1 个文件，无需修改 1 个")),
        qPrintable(form.StatusBar1->Message()));
    form.N6->trigger();  // the list cleared, the line speaks of nothing
    QCOMPARE(form.StatusBar1->Message(), QString());
  }

  void theYearBoxTakesDigitsOnly() {
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QLineEdit* year = form.EdtYear;
    year->setFocus();
    QTest::keyClicks(year, "2a0- 0.b5x");
    QCOMPARE(year->text(), QStringLiteral("2005"));
    QTest::keyClick(year, Qt::Key_Backspace);
    QCOMPARE(year->text(), QStringLiteral("200"));
    QTest::keyClick(year, Qt::Key_Return);
    QTest::keyClick(year, Qt::Key_Left);
    QTest::keyClick(year, Qt::Key_Delete);
    QCOMPARE(year->text(), QStringLiteral("20"));

    // Paste, copy and cut do nothing here, while they work in the other boxes.
    QGuiApplication::clipboard()->setText("1999abc");
    QTest::keyClick(form.EdtTitle, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(form.EdtTitle->text(), QStringLiteral("1999abc"));
    QTest::keyClick(year, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(year->text(), QStringLiteral("20"));
    year->selectAll();
    QTest::keyClick(year, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(year->text(), QStringLiteral("20"));
    QTest::keyClick(year, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("1999abc"));

    // The paste of the box's own menu keeps the digits only, where the cursor was.
    year->setText("20");
    year->setCursorPosition(1);
    QGuiApplication::clipboard()->setText("1a9b9");
    std::unique_ptr<QMenu> menu(year->createStandardContextMenu());
    QAction* paste = nullptr;
    for (QAction* action : menu->actions()) {
      if (action->text().endsWith(QKeySequence(QKeySequence::Paste).toString())) paste = action;
    }
    QVERIFY(paste != nullptr && paste->isEnabled());
    paste->trigger();
    QCOMPARE(year->text(), QStringLiteral("21990"));
    QCOMPARE(year->cursorPosition(), 4);

    // What the program puts into the box passes unchecked.
    year->setText("MMV");
    QCOMPARE(year->text(), QStringLiteral("MMV"));
  }
};

VELOMI_QTEST_MAIN(SaveTest)
#include "SaveTest.moc"
