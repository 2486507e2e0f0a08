// The window and the ID3v2 tag that players show: a file without an ID3v1 block shows its ID3v2
// values, the label says when the two differ, a save writes only the changed fields into it, and
// "转换为 Unicode 标签" asks with its plan, writes, and is undone by Ctrl+Z.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTableView>

#include "ConvertDialog.h"
#include "StatusBar.h"
#include "TrackList.h"
#include "UiTestSupport.h"
#include "Unit1.h"
#include "core/fields/Id3v2Fields.h"
#include "core/model/TrackListModel.h"
#include "core/text/Rules.h"
#include "tags/id3v2/TId3v2Tag.h"

using namespace uitest;

namespace {

QString StartText(const QString& path, id3v2::Field field) {
  id3v2::TagInfo tag;
  id3v2::ReadFromFile(rules::NativePath(path), tag);
  return core::Id3v2Text(tag.fields[field]);
}

// Once the conversion's plan dialog shows, runs `act` on it (which accepts or rejects it).
void WhenConvertDialog(std::function<void(TFrmConvert*)> act) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, timer, [=] {
    auto* dialog = qobject_cast<TFrmConvert*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    act(dialog);
  });
  timer->start();
}

QStringList ColumnOf(QTableView* table, int column) {
  QStringList out;
  for (int r = 0; r < table->model()->rowCount(); ++r) {
    out << table->model()->index(r, column).data().toString();
  }
  return out;
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
    // Its frames hold GBK bytes as Latin-1: players show them garbled, and the row, its
    // tooltip and the label say so with both readings.
    const QString garbled = QString::fromLatin1("\xB7\xA2\xC8\xE7\xD1\xA9");  // "·¢ÈçÑ©"
    QCOMPARE(form.LV->Model()->MarkOf(0), int(core::TrackListModel::kGarbled));
    QVERIFY(form.LV->Model()->ReasonOf(0).contains(garbled + QStringLiteral("”，应为“发如雪")));
    QVERIFY(!form.LId3v2->isHidden());
    QVERIFY(form.LId3v2->toolTip().contains(garbled));
    const QString clean = MakeMp3(dir.path() + "/clean.mp3", {QStringLiteral("Plain")});
    form.AddTrack(clean);
    QCOMPARE(form.LV->Model()->MarkOf(1), int(core::TrackListModel::kNote));
    form.NCheckGarbled->trigger();
    QVERIFY(form.LV->Checked(0));
    QVERIFY(!form.LV->Checked(1));

    // A save of the artist says the other fields are legacy text and converts them too.
    ClickRow(form, 0);
    form.EdtArtist->setText(QStringLiteral("王菲"));
    BoxAnswerer answerer;
    form.BtnSaveClick();
    QCOMPARE(answerer.count(), 1);
    QVERIFY(answerer.boxes()[0].text.contains(QStringLiteral("标题：") + garbled +
                                              QStringLiteral(" → 发如雪")));
    id3v2::TagInfo after;
    QVERIFY(id3v2::ReadFromFile(rules::NativePath(path), after));
    QCOMPARE(after.fields[id3v2::kTitle].kind, id3v2::FieldValue::kUnicode);
    QCOMPARE(StartText(path, id3v2::kArtist), QStringLiteral("王菲"));
    QCOMPARE(StartText(path, id3v2::kTrack), QStringLiteral("3/12"));
    QCOMPARE(StartText(path, id3v2::kComment), QStringLiteral("好听的歌"));
    QCOMPARE(Gbk(ReadMp3(path).Artist), QStringLiteral("王菲"));
    QVERIFY(form.LId3v2->isHidden());
    QVERIFY(!form.LV->Model()->Garbled(0));
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
    QString summary, fields;
    WhenConvertDialog([&](TFrmConvert* dialog) {
      summary = dialog->LSummary->text();
      fields = ColumnOf(dialog->TblConvert, ConvertPlanModel::kFields).join("|");
      dialog->Buttons->button(QDialogButtonBox::Ok)->click();
    });
    form.NConvert->trigger();
    QCOMPARE(answerer.count(), 0);
    QCOMPARE(summary,
             QStringLiteral("共 2 个文件：转换 1，无需转换 1，无法转换 0；已勾选 1 个文件"));
    QVERIFY2(fields.contains(QStringLiteral("→ 发如雪")), qPrintable(fields));
    QCOMPARE(StartText(a, id3v2::kTitle), QStringLiteral("发如雪"));
    QCOMPARE(form.StatusBar1->Message(), QStringLiteral("已转换 1 个文件的标签，可撤销（Ctrl+Z）"));
    QCOMPARE(form.N12->text(), QStringLiteral("撤销：转换为 Unicode 标签 1 个文件"));
    form.N12->trigger();
    QCOMPARE(ReadFile(a), before);
  }

  void thePlanTableFiltersTheCloseCallsAndAnEncodingDecidesThem() {
    QTemporaryDir dir;
    const QString clear = MakeMp3(dir.path() + "/clear.mp3", {QStringLiteral("发如雪")});
    // GBK "啊阿" are common Big5 characters too: a close call.
    const QString close = MakeMp3(dir.path() + "/close.mp3", {QStringLiteral("啊阿")});
    const QByteArray clearBefore = ReadFile(clear);
    TForm1 form;
    form.AddTrack(clear);
    form.AddTrack(close);
    BoxAnswerer answerer;
    int rows = -1, marked = -1;
    QString both;  // the close call's fields, in both readings
    bool okAtFirst = false;
    WhenConvertDialog([&](TFrmConvert* dialog) {
      rows = dialog->TblConvert->model()->rowCount();
      dialog->ChkOnlyMarked->setChecked(true);
      marked = dialog->TblConvert->model()->rowCount();
      both = dialog->TblConvert->model()->index(0, ConvertPlanModel::kFields).data().toString();
      okAtFirst = dialog->Buttons->button(QDialogButtonBox::Ok)->isEnabled();
      dialog->ComboEncoding->setCurrentText(QStringLiteral("Big5"));
      dialog->BtnEncodingMarked->click();
      dialog->ChkOnlyMarked->setChecked(false);
      // The clear file unchecked: only the close call, as Big5, is converted.
      QAbstractItemModel* model = dialog->TblConvert->model();
      QVERIFY(model->setData(model->index(0, ConvertPlanModel::kFile), Qt::Unchecked,
                             Qt::CheckStateRole));
      dialog->Buttons->button(QDialogButtonBox::Ok)->click();
    });
    form.NConvert->trigger();
    QCOMPARE(rows, 2);
    QCOMPARE(marked, 1);
    QVERIFY2(both.contains(QStringLiteral("→ 啊阿 或 陛陝")), qPrintable(both));
    QVERIFY(okAtFirst);
    QCOMPARE(StartText(close, id3v2::kTitle), QStringLiteral("陛陝"));
    QCOMPARE(ReadFile(clear), clearBefore);
  }
};

QTEST_MAIN(Id3v2Test)
#include "Id3v2Test.moc"
