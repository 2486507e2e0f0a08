// The window and the ID3v2 tag that players show: a file without an ID3v1 block shows its ID3v2
// values, the label says when the two differ, a save writes only the changed fields into it, and
// "转换为 Unicode 标签" asks with its plan, writes, and is undone by Ctrl+Z.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

#include "StatusBar.h"
#include "TrackList.h"
#include "UiTestSupport.h"
#include "Unit1.h"
#include "core/fields/Id3v2Fields.h"
#include "core/text/Rules.h"
#include "tags/id3v2/TId3v2Tag.h"

using namespace uitest;

namespace {

QString StartText(const QString& path, id3v2::Field field) {
  id3v2::TagInfo tag;
  id3v2::ReadFromFile(rules::NativePath(path), tag);
  return core::Id3v2Text(tag.fields[field]);
}

}  // namespace

class Id3v2Test : public QObject {
  Q_OBJECT

 private slots:
  void theBoxesShowTheTagPlayersShowWhereTheFileHasNoOther() {
    QTemporaryDir dir;
    const QString path = CopyData("id3v2_v23_gbk.mp3", dir.path() + "/a.mp3");
    TForm1 form;
    form.AddTrack(path);
    QCOMPARE(form.EdtTitle->text(), QStringLiteral("发如雪"));
    QCOMPARE(form.EdtArtist->text(), QStringLiteral("周杰伦"));
    QCOMPARE(form.EdtTrack->text(), QStringLiteral("3"));
    QCOMPARE(form.ComboGenreID->currentText(), QStringLiteral("Pop"));
    QCOMPARE(form.LV->Title(0), QStringLiteral("发如雪"));
    QVERIFY(form.LId3v2->isHidden());

    // A save of the artist: the ID3v2 tag gets it, its other fields stay; the ID3v1 block now
    // holds the boxes.
    form.EdtArtist->setText(QStringLiteral("王菲"));
    BoxAnswerer answerer;
    form.BtnSaveClick();
    QCOMPARE(StartText(path, id3v2::kArtist), QStringLiteral("王菲"));
    QCOMPARE(StartText(path, id3v2::kTrack), QStringLiteral("3/12"));
    QCOMPARE(StartText(path, id3v2::kComment), QStringLiteral("好听的歌"));
    QCOMPARE(Gbk(ReadMp3(path).Artist), QStringLiteral("王菲"));
    QVERIFY(form.LId3v2->isHidden());
  }

  void theLabelSaysWhereTheId3v2TagDiffersAndAnArtistSaveKeepsItsLongTitle() {
    QTemporaryDir dir;
    const QString path = CopyData("id3v2_v24_ffmpeg.mp3", dir.path() + "/a.mp3");
    const QString longTitle = StartText(path, id3v2::kTitle);
    TForm1 form;
    form.show();
    form.AddTrack(path);
    // The ID3v1 block holds the title cut to its 30 bytes, as UTF-8.
    QVERIFY(longTitle.startsWith(form.EdtTitle->text().chopped(1)));
    QVERIFY(form.LId3v2->isVisible());
    QCOMPARE(form.LId3v2->text(), QStringLiteral("播放器显示的 ID3v2 标签与此不同"));
    QVERIFY(form.LId3v2->toolTip().contains(longTitle));
    form.EdtArtist->setText(QStringLiteral("张学友"));
    BoxAnswerer answerer;
    form.BtnSaveClick();
    QCOMPARE(StartText(path, id3v2::kTitle), longTitle);
    QCOMPARE(StartText(path, id3v2::kArtist), QStringLiteral("张学友"));
  }

  void convertAsksWithItsPlanAndCtrlZTakesItBack() {
    QTemporaryDir dir;
    const QString a = CopyData("mp3_v11_gbk.mp3", dir.path() + "/a.mp3");
    const QString b = CopyData("id3v2_v24_ffmpeg.mp3", dir.path() + "/b.mp3");
    const QByteArray before = ReadFile(a);
    TForm1 form;
    form.AddTrack(a);
    form.AddTrack(b);
    BoxAnswerer answerer;
    form.NConvert->trigger();
    QCOMPARE(answerer.count(), 1);
    QCOMPARE(answerer.boxes()[0].info,
             QStringLiteral("共 2 个文件：转换 1，无需转换 1，无法转换 0"));
    QVERIFY(answerer.boxes()[0].details.contains(QStringLiteral("新建 ID3v2.3 标签")));
    QCOMPARE(StartText(a, id3v2::kTitle), QStringLiteral("发如雪"));
    QCOMPARE(form.StatusBar1->Message(), QStringLiteral("已转换 1 个文件的标签，可撤销（Ctrl+Z）"));
    QCOMPARE(form.N12->text(), QStringLiteral("撤销：转换为 Unicode 标签 1 个文件"));
    form.N12->trigger();
    QCOMPARE(ReadFile(a), before);
  }
};

QTEST_MAIN(Id3v2Test)
#include "Id3v2Test.moc"
