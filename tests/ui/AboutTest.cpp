// The About box: its look, several at once, and closing on any click.
#include <QDir>
#include <QLabel>
#include <QLineEdit>

#include "About.h"
#include "TrackList.h"
#include "UiTestSupport.h"
#include "Unit1.h"

using namespace uitest;

namespace {

QList<TFrm_About*> OpenBoxes(TForm1& form) {
  QList<TFrm_About*> open;
  for (TFrm_About* box : form.findChildren<TFrm_About*>()) {
    if (box->isVisible()) open << box;
  }
  return open;
}

}  // namespace

class AboutTest : public QObject {
  Q_OBJECT

 private slots:
  void itsLook() {
    TFrm_About about;
    QCOMPARE(QString(about.metaObject()->className()), QStringLiteral("TFrm_About"));
    QCOMPARE(about.size(), QSize(372, 214));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    QVERIFY(!(about.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(about.windowFlags() & Qt::WindowMinimizeButtonHint));
    QCOMPARE(about.windowTitle(), QStringLiteral("关于VelomiMP3批量更名"));
    QCOMPARE(about.palette().color(QPalette::Window), QColor(255, 251, 240));
    QVERIFY(about.autoFillBackground());
    QVERIFY(!about.isModal());

    QCOMPARE(about.Image1->geometry(), QRect(0, 0, 150, 214));
    QCOMPARE(about.Image1->pixmap().size(), QSize(150, 214));
    QCOMPARE(about.Label1->geometry(), QRect(158, 16, 174, 56));
    QCOMPARE(about.Label3->geometry(), QRect(160, 19, 174, 56));
    QCOMPARE(about.Label2->geometry(), QRect(160, 80, 178, 104));
    QCOMPARE(about.Label1->text(), QStringLiteral("Velomi"));
    QCOMPARE(about.Label3->text(), QStringLiteral("Velomi"));
    QCOMPARE(about.Label1->font().pixelSize(), 56);
    QVERIFY(about.Label1->font().bold());
    QCOMPARE(about.Label1->palette().color(QPalette::WindowText), QColor(128, 0, 0));
    QCOMPARE(about.Label3->palette().color(QPalette::WindowText), QColor(84, 86, 97));
    QCOMPARE(about.Label2->palette().color(QPalette::WindowText), QColor(128, 0, 0));
    QCOMPARE(about.Label2->font().pixelSize(), 13);
    QVERIFY(about.Label2->wordWrap());
    // The shadow lies under the front copy and lets clicks through.
    QVERIFY(about.Label3->testAttribute(Qt::WA_TransparentForMouseEvents));
    QVERIFY(about.children().indexOf(about.Label3) < about.children().indexOf(about.Label1));

    const QStringList lines = TFrm_About::TextLines();
    QCOMPARE(lines.size(), 8);
    QCOMPARE(lines[0], QStringLiteral("VelomiMP3批量更名"));
    QCOMPARE(lines[2], QStringLiteral("版本: ") + QStringLiteral(VELOMI_VERSION));
    QVERIFY(lines.join('\n').contains(QStringLiteral("velomi@example.com")));
    QVERIFY(lines.join('\n').contains(QStringLiteral("www.example.com")));
    QVERIFY(lines[6].isEmpty());
    for (const QString& line : lines) QVERIFY(about.Label2->text().contains(line));
  }

  void severalAtOnceAndAnyClickClosesOne() {
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.AddTrack(QStringLiteral("/nowhere/a.mp3"));
    form.Button7Click();
    form.Button7Click();
    QTest::mouseClick(form.Button7, Qt::LeftButton);
    QList<TFrm_About*> open = OpenBoxes(form);
    QCOMPARE(open.size(), 3);
    // The main window stays usable: no box is modal.
    QCOMPARE(QApplication::activeModalWidget(), nullptr);

    // A click on the picture, on the text, on the shadow's place, on the background.
    QTest::mouseClick(open[0]->Image1, Qt::LeftButton, Qt::NoModifier, QPoint(70, 100));
    QTest::mouseClick(open[1]->Label2, Qt::LeftButton, Qt::NoModifier, QPoint(20, 10));
    QTRY_COMPARE(OpenBoxes(form).size(), 1);
    TFrm_About* last = OpenBoxes(form)[0];
    QTest::mouseClick(last, Qt::LeftButton, Qt::NoModifier, QPoint(333, 73));
    QTRY_COMPARE(OpenBoxes(form).size(), 0);

    form.Button7Click();
    TFrm_About* another = OpenBoxes(form)[0];
    QTest::mouseClick(another->Label1, Qt::LeftButton, Qt::NoModifier, QPoint(30, 30));
    QTRY_COMPARE(OpenBoxes(form).size(), 0);
    form.Button7Click();
    another = OpenBoxes(form)[0];
    QTest::mouseClick(another, Qt::LeftButton, Qt::NoModifier, QPoint(360, 200));
    QTRY_COMPARE(OpenBoxes(form).size(), 0);
    // The main window is as it was.
    QCOMPARE(form.LV->rowCount(), 1);
    QCOMPARE(form.EdtPath->text(), QDir::toNativeSeparators(QStringLiteral("/nowhere/a.mp3")));
  }
};

VELOMI_QTEST_MAIN(AboutTest)
#include "AboutTest.moc"
