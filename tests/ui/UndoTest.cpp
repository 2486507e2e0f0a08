// The window on the batch engine: the plan in the questions, the marks' reasons, and undo from the
// list's context menu, also in a window started anew.
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTimer>

#include "StatusBar.h"
#include "TrackList.h"
#include "UiTestSupport.h"
#include "Unit1.h"
#include "core/Batch.h"
#include "core/journal/Journal.h"
#include "tags/wma/TWmaTag.h"

using namespace uitest;

class UndoTest : public QObject {
  Q_OBJECT

 private slots:
  void aRenameShowsItsPlanAndIsUndoneAfterARestart() {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    QStringList before;
    {
      TForm1 form;
      for (int i = 0; i < 100; ++i) {
        const QString name = QStringLiteral("%1.mp3").arg(i, 3, 10, QLatin1Char('0'));
        WriteFile(folder + name, "ID3" + name.toUtf8());  // a song by its start
        form.LV->AppendRow(name, QStringLiteral("歌%1").arg(i), QStringLiteral("Talvino"), folder);
      }
      form.LV->AppendRow("gone.mp3", "T", "", folder);  // skipped: no artist
      before = QDir(folder).entryList(QDir::Files, QDir::Name);
      BoxAnswerer answerer;
      form.BtnRenameClick();
      QCOMPARE(answerer.count(), 1);
      const QStringList plan = answerer.boxes()[0].details.split('\n');
      QCOMPARE(plan.size(), 102);
      QCOMPARE(plan[0], QStringLiteral("共 101 个文件：改名 100，跳过 1，冲突 0，拒绝 0"));
      QCOMPARE(plan[1], QStringLiteral("000.mp3 → Talvino - 歌0.mp3"));
      QCOMPARE(plan[101], QStringLiteral("[跳过] gone.mp3：歌手为空"));
      QCOMPARE(form.LV->FileName(7), QStringLiteral("Talvino - 歌7.mp3"));
      QCOMPARE(form.LV->ToolTip(7), QStringLiteral("已改名：007.mp3 → Talvino - 歌7.mp3"));
      QVERIFY(form.N12->isEnabled());
    }
    QVERIFY(QDir(folder).entryList(QDir::Files, QDir::Name) != before);

    TForm1 again;  // the program started anew, with the renamed files added
    for (int i = 0; i < 100; ++i) {
      again.LV->AppendRow(QStringLiteral("Talvino - 歌%1.mp3").arg(i), "", "", folder);
    }
    QVERIFY(again.N12->isEnabled());
    BoxAnswerer answerer;
    again.N12->trigger();
    QCOMPARE(answerer.count(), 1);
    QCOMPARE(answerer.boxes()[0].text, QStringLiteral("确定要撤销上次操作吗？"));
    QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name), before);
    QCOMPARE(again.LV->FileName(42), QStringLiteral("042.mp3"));
    QCOMPARE(Marks(again), QList<int>(100, 3));  // the mark of an undone file
    QCOMPARE(again.StatusBar1->Message(), QStringLiteral("已撤销 100 个文件"));
    QVERIFY(!again.N12->isEnabled());
  }

  void theBatchEditQuestionListsTheValuesThatChange() {
    QTemporaryDir dir;
    const QString a = MakeMp3(dir.path() + "/a.mp3", Mp3Fields("T", "Old"));
    const QString gone = dir.path() + "/gone.mp3";
    TForm1 form;
    form.LV->AppendRow("a.mp3", "T", "Old", dir.path() + "/");
    form.LV->AppendRow("gone.mp3", "T", "Old", dir.path() + "/");
    form.ChkArtist->setChecked(true);
    form.EdtArtist->setText(" New");
    BoxAnswerer answerer;
    form.BtnBatchClick();
    QCOMPARE(answerer.boxes()[0].details,
             QStringLiteral("共 2 个文件：修改 1，无需修改 0，无法读取 1\n[无法读取] ") +
                 QDir::toNativeSeparators(gone) + QStringLiteral("：无法读取标签\n") +
                 QDir::toNativeSeparators(a) + QStringLiteral("\n    歌手：Old → New"));
    QCOMPARE(Marks(form), (QList<int>{1, 2}));
    QCOMPARE(form.LV->ToolTip(1), QStringLiteral("修改失败：文件不存在"));
    QCOMPARE(Gbk(ReadMp3(a).Artist), QStringLiteral("New"));
  }

  void anUndoSaysWhatItRefusedAndTheBoxesShowTheFileAsItNowIs() {
    // A batch edit writes a wrong album into two files; another program changes one of them; the
    // undo restores the other, says which it refused and why, and the boxes show the restored
    // file, so that saving another field does not write the wrong album back.
    QTemporaryDir dir;
    const QString a = MakeMp3(dir.filePath("a.mp3"), Mp3Fields("A", "X", "Right"));
    const QString b = MakeMp3(dir.filePath("b.mp3"), Mp3Fields("B", "X", "Right"));
    TForm1 form;
    form.AddTrack(b);
    form.AddTrack(a);  // shown
    form.AddTrack(a);  // a second row of the same file
    form.EdtAlbum->setText("WRONGALBUM");
    form.ChkAlbum->setChecked(true);
    {
      BoxAnswerer yes(QMessageBox::Yes);
      form.BtnBatchClick();
    }
    QCOMPARE(form.StatusBar1->Message(), QStringLiteral("已批量修改 3 个文件，可撤销（Ctrl+Z）"));
    QCOMPARE(form.N12->text(), QStringLiteral("撤销：批量修改 3 个文件"));
    MakeMp3(b, Mp3Fields("B", "Another tool"));
    BoxAnswerer answerer(QMessageBox::Yes);
    answerer.Queue({QMessageBox::Yes, QMessageBox::Ok});
    form.N12->trigger();
    QCOMPARE(answerer.count(), 2);
    const SeenBox& summary = answerer.boxes()[1];
    QCOMPARE(summary.text,
             QStringLiteral("已撤销 1 个文件，1 个未撤销（留在撤销记录中，下次撤销会再试）"));
    QVERIFY(summary.details.contains(QStringLiteral("b.mp3：文件在此之后已被改动，未撤销")));
    QCOMPARE(Marks(form), (QList<int>{2, 3, 3}));  // both rows of a: undone, none a failure
    QCOMPARE(form.EdtAlbum->text(), QStringLiteral("Right"));
    form.EdtTitle->setText("A2");
    {
      BoxAnswerer yes(QMessageBox::Yes);
      form.BtnSaveClick();
    }
    QCOMPARE(Gbk(ReadMp3(a).Album), QStringLiteral("Right"));
    QCOMPARE(Gbk(ReadMp3(a).Title), QStringLiteral("A2"));
  }

  void theUndoOfARenameTakesThePathBoxBack() {
    QTemporaryDir dir;
    const QString path = MakeMp3(dir.filePath("01.mp3"), Mp3Fields("Song", "Singer"));
    TForm1 form;
    form.AddTrack(path);
    {
      BoxAnswerer yes(QMessageBox::Yes);
      form.BtnRenameClick();
    }
    QCOMPARE(form.EdtPath->text(), QDir::toNativeSeparators(dir.filePath("Singer - Song.mp3")));
    {
      BoxAnswerer yes(QMessageBox::Yes);
      form.N12->trigger();
    }
    QCOMPARE(form.EdtPath->text(), QDir::toNativeSeparators(path));
    QCOMPARE(form.LV->FileName(0), QStringLiteral("01.mp3"));
    form.EdtArtist->setText("Another");
    BoxAnswerer answerer(QMessageBox::Yes);
    form.BtnSaveClick();
    QCOMPARE(answerer.count(), 1);  // the question only: no "renamed or moved" hint
    QCOMPARE(Gbk(ReadMp3(path).Artist), QStringLiteral("Another"));
  }

  void noProgressDialogShowsOverOrAfterTheReport() {
    // The report of a rename with a conflict, then of an undo with a refusal, each left up for
    // longer than the progress dialog's delay: no progress dialog shows while it is up or after.
    QTemporaryDir dir;
    TForm1 form;
    int overReport = 0, after = 0;
    QString firstLabel;
    QTimer watch;  // at every pass of the event loop
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      const bool reporting =
          qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr;
      for (auto* d : form.findChildren<QProgressDialog*>()) {
        if (!d->isVisible()) continue;
        if (firstLabel.isEmpty()) firstLabel = d->labelText();
        overReport += reporting;
      }
    });
    watch.start();
    auto settle = [&] {
      QTest::qWait(form.ProgressDelayMs + 200);
      for (auto* d : form.findChildren<QProgressDialog*>()) after += d->isVisible();
    };

    const QString a = MakeMp3(dir.filePath("a.mp3"), Mp3Fields("T", "X"));
    const QString b = MakeMp3(dir.filePath("b.mp3"), Mp3Fields("T", "X"));  // the same new name
    form.AddTrack(a);
    form.AddTrack(b);
    SetChecked(form, 0, true);
    SetChecked(form, 1, true);
    for (int delay : {500, 0}) {  // the second time the dialog shows at once
      form.ProgressDelayMs = delay;
      BoxAnswerer answerer(QMessageBox::Yes);
      answerer.HoldEachBox(delay + 500);
      answerer.Queue({QMessageBox::Yes, QMessageBox::Ok});
      form.BtnRenameClick();
      QCOMPARE(answerer.count(), 2);
      // The result in the plan's words; the second time a.mp3 already has its name.
      QCOMPARE(answerer.boxes()[1].text,
               delay == 500 ? QStringLiteral("已改名 1 个文件，冲突 1 个，可撤销（Ctrl+Z）")
                            : QStringLiteral("已改名 0 个文件，冲突 1 个，跳过 1 个"));
      settle();
    }
    QCOMPARE(overReport, 0);
    QCOMPARE(after, 0);
    // The dialog had its label from its first show.
    QVERIFY2(firstLabel.startsWith(QStringLiteral("0 / 1")), qPrintable(firstLabel));

    // The undo finds the old name taken since, and refuses; its dialog shows at once.
    WriteFile(a, "another file");
    {
      BoxAnswerer answerer(QMessageBox::Yes);
      answerer.HoldEachBox(700);
      answerer.Queue({QMessageBox::Yes, QMessageBox::Ok});
      form.N12->trigger();
      QCOMPARE(answerer.count(), 2);
      settle();
    }
    QCOMPARE(overReport, 0);
    QCOMPARE(after, 0);
  }

  void aCancelledBatchMarksWhatItNeverReached() {
    QTemporaryDir dir;
    TForm1 form;
    form.ProgressDelayMs = 0;
    for (int i = 0; i < 40; ++i)
      form.AddTrack(MakeMp3(dir.filePath(QStringLiteral("%1.mp3").arg(i)), {}));
    form.LV->SetMark(39, 1, QStringLiteral("an earlier batch's tick"));
    form.EdtYear->setText("1999");
    form.ChkYear->setChecked(true);
    // Cancels the progress dialog as soon as it shows.
    QTimer cancel;
    cancel.setInterval(1);
    QObject::connect(&cancel, &QTimer::timeout, [&] {
      if (auto* d = form.findChild<QProgressDialog*>(QStringLiteral("BatchProgress"))) {
        if (d->isVisible()) d->cancel();
      }
    });
    cancel.start();
    BoxAnswerer yes(QMessageBox::Yes);
    form.BtnBatchClick();
    const QList<int> marks = Marks(form);
    const int done = static_cast<int>(marks.count(1));
    QVERIFY(done < 40);
    QCOMPARE(marks.count(5), 40 - done);
    QCOMPARE(marks.last(), 5);  // the earlier tick is gone
    QCOMPARE(form.LV->ToolTip(39), QStringLiteral("已取消，未修改"));
    QVERIFY(form.StatusBar1->Message().startsWith(
        QStringLiteral("已取消：已完成 %1 / 40，其余未修改").arg(done)));
  }
};

VELOMI_QTEST_MAIN(UndoTest)
#include "UndoTest.moc"
