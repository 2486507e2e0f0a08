// The window on the batch engine: the plan in the questions, the marks' reasons, and undo from the
// list's context menu, also in a window started anew.
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>

#include "TrackList.h"
#include "UiTestSupport.h"
#include "Unit1.h"
#include "core/Batch.h"
#include "core/Journal.h"
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
        WriteFile(folder + name, name.toUtf8());
        form.LV->AppendRow(name, QStringLiteral("歌%1").arg(i), QStringLiteral("Talvino"), folder);
      }
      form.LV->AppendRow("gone.mp3", "T", "", folder);  // skipped: no artist
      before = QDir(folder).entryList(QDir::Files, QDir::Name);
      BoxAnswerer answerer;
      form.BtnRenameClick();
      QCOMPARE(answerer.count(), 1);
      const QStringList plan = answerer.boxes()[0].details.split('\n');
      QCOMPARE(plan.size(), 101);
      QCOMPARE(plan[0], QStringLiteral("000.mp3 → Talvino - 歌0.mp3"));
      QCOMPARE(plan[100], QStringLiteral("[跳过] gone.mp3：歌手为空"));
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
    QCOMPARE(Marks(again), QList<int>(100, 1));
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
    QCOMPARE(answerer.boxes()[0].details, a + QStringLiteral("\n    歌手：Old → New\n") + gone +
                                              QStringLiteral("（无法读取标签）\n    歌手： → New"));
    QCOMPARE(Marks(form), (QList<int>{1, 2}));
    QCOMPARE(form.LV->ToolTip(1), QStringLiteral("修改失败：文件不存在"));
    QCOMPARE(Gbk(ReadMp3(a).Artist), QStringLiteral("New"));
  }
};

VELOMI_QTEST_MAIN(UndoTest)
#include "UndoTest.moc"
