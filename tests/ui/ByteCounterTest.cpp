// The byte counters of the MP3 tag boxes: GBK bytes left in each ID3v1 slot, and the marks of a
// text that will be cut or that GBK cannot hold.
#include <QLineEdit>
#include <QTemporaryDir>

#include "ByteCounter.h"
#include "UiTestSupport.h"
#include "Unit1.h"

using namespace uitest;

class ByteCounterTest : public QObject {
  Q_OBJECT

 private slots:
  void theMp3SlotsCountGbkBytes() {
    QTemporaryDir dir;
    TForm1 form;
    form.AddTrack(MakeMp3(dir.filePath("a.mp3"), {"周杰伦", "", "", "2005", "", 3}));
    const auto [title, artist, album, year, comment] = form.ByteCounters;
    Q_UNUSED(album);
    const QString han15(15, QChar(0x5468));  // 30 bytes
    const struct {
      TByteCounter* counter;
      QLineEdit* box;
      QString text;
      int left;
      bool warns;
      QString tip;
    } cases[] = {
        {title, form.EdtTitle, QStringLiteral("周杰伦"), 24, false, "还剩 24 字节"},
        {title, form.EdtTitle, han15, 0, false, "还剩 0 字节"},
        {title, form.EdtTitle, han15 + "a", -1, true, "超出 1 字节"},
        {artist, form.EdtArtist, " Beyond\t", 24, false, "还剩 24 字节"},
        {artist, form.EdtArtist, QStringLiteral("Beyond😀"), 23, true, QStringLiteral("😀")},
        {year, form.EdtYear, "2005", 0, false, "最多 4 字节"},
        {year, form.EdtYear, "20051", -1, true, "超出 1 字节"},
        // The track byte takes the comment's last two bytes.
        {comment, form.EdtComment, QString(14, QChar(0x5468)), 0, false, "最多 28 字节"},
        {comment, form.EdtComment, QString(14, QChar(0x5468)) + "a", -1, true, "超出 1 字节"},
    };
    for (const auto& c : cases) {
      c.box->setText(c.text);
      QVERIFY(!c.counter->isHidden());
      QCOMPARE(c.counter->text(), QString::number(c.left));
      QCOMPARE(c.counter->Warns(), c.warns);
      QVERIFY2(c.box->toolTip().contains(c.tip), qPrintable(c.box->toolTip()));
      QCOMPARE(c.box->palette().color(QPalette::Active, QPalette::Base) !=
                   form.EdtUrl->palette().color(QPalette::Active, QPalette::Base),
               c.warns);
    }
    // Without a track number the comment has all 30 bytes.
    form.EdtTrack->setText("0");
    QCOMPARE(comment->Left(), 1);
    QVERIFY(!comment->Warns());

    // A WMA file shown: no counters, no marks.
    form.AddTrack(CopyData("ui_song.wma", dir.filePath("b.wma")));
    form.EdtTitle->setText(han15 + "abc");
    for (TByteCounter* counter : form.ByteCounters) QVERIFY(counter->isHidden());
    QVERIFY(form.EdtTitle->toolTip().isEmpty());
    QCOMPARE(form.EdtTitle->palette().color(QPalette::Active, QPalette::Base),
             form.EdtUrl->palette().color(QPalette::Active, QPalette::Base));
  }
};

VELOMI_QTEST_MAIN(ByteCounterTest)
#include "ByteCounterTest.moc"
