// "按格式改名…" from the list's context menu: the dialog with its template and the line of what it
// gives the shown file, the plan question, the renames and their marks, the template remembered.
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>

#include "FormatRename.h"
#include "TrackList.h"
#include "UiTestSupport.h"
#include "Unit1.h"

using namespace uitest;

namespace {

// Once the template dialog shows: types `format`, gives what its line and OK button say, then
// accepts it (or cancels it when `accept` is false).
struct DialogSeen {
  QString preview;
  bool okEnabled = false;
  QString shownFormat;   // the template the dialog opened with
  QStringList newNames;  // the list's 新文件名 column while the dialog is open
};

void AnswerFormatDialog(const QString& format, bool accept, DialogSeen* seen) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, timer, [=] {
    auto* dialog = qobject_cast<TFrmFormatRename*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    seen->shownFormat = dialog->EdtFormat->text();
    dialog->EdtFormat->setText(format);
    seen->preview = dialog->LPreview->text();
    seen->okEnabled = dialog->Buttons->button(QDialogButtonBox::Ok)->isEnabled();
    auto* form = qobject_cast<TForm1*>(dialog->parentWidget());
    seen->newNames = Column(*form, core::TrackListModel::kNewName);
    if (accept && seen->okEnabled) {
      dialog->accept();
    } else {
      dialog->reject();
    }
  });
  timer->start();
}

}  // namespace

class FormatRenameTest : public QObject {
  Q_OBJECT

 private slots:
  void theMenuRenamesTheCheckedFilesByTheTemplate() {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QRect geometry = form.geometry();
    Drop(form, {MakeMp3(folder + "a.mp3", {"发如雪", "周杰伦", "十一月的萧邦", "2005", "", 3}),
                MakeMp3(folder + "b.mp3", {"晴天", "周杰伦", "叶惠美", "2003", "", 0}),
                MakeMp3(folder + "c.mp3", {"七里香", "周杰伦", "七里香", "2004", "", 1})});
    SetChecked(form, 2, false);
    ClickRow(form, 0);
    QVERIFY(form.PopupMenu2->actions().contains(form.NFormatRename));
    QCOMPARE(form.NFormatRename->text(), QStringLiteral("按格式改名…"));

    // A template that does not parse: its reason in the line, OK disabled, nothing renamed.
    DialogSeen seen;
    AnswerFormatDialog("%a - %q", true, &seen);
    form.NFormatRename->trigger();
    QCOMPARE(seen.shownFormat, QStringLiteral("%a - %t"));  // the first time
    QVERIFY(!seen.okEnabled);
    QCOMPARE(seen.preview, QStringLiteral("格式里有未知的占位符“%q”"));

    // b.mp3 has no track: skipped with its reason, the others renamed and ticked.
    BoxAnswerer answerer;
    AnswerFormatDialog("%2n %t (%y)", true, &seen);
    form.NFormatRename->trigger();
    QCOMPARE(seen.preview, QStringLiteral("a.mp3 → 03 发如雪 (2005).mp3"));
    // Every row previews the template while the dialog is open, the rule's names after it.
    QCOMPARE(seen.newNames, (QStringList{"03 发如雪 (2005).mp3", "", "01 七里香 (2004).mp3"}));
    QCOMPARE(answerer.count(), 1);
    QVERIFY(answerer.boxes()[0].text.contains("%2n %t (%y)"));
    // The question's counts, as the rule rename's.
    QCOMPARE(answerer.boxes()[0].info,
             QStringLiteral("共 2 个文件：改名 1，跳过 1，冲突 0，拒绝 0"));
    QVERIFY(answerer.boxes()[0].details.contains(QStringLiteral("a.mp3 → 03 发如雪 (2005).mp3")));
    QVERIFY(answerer.boxes()[0].details.contains(QStringLiteral("b.mp3：音轨为空")));
    QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name),
             (QStringList{"03 发如雪 (2005).mp3", "b.mp3", "c.mp3"}));
    QCOMPARE(Column(form, 0), (QStringList{"03 发如雪 (2005).mp3", "b.mp3", "c.mp3"}));
    // b skipped (no track number), c unchecked: its GBK block keeps the garbled mark.
    QCOMPARE(Marks(form), (QList<int>{1, 4, 6}));
    QCOMPARE(form.EdtPath->text(),
             QDir::toNativeSeparators(folder + QStringLiteral("03 发如雪 (2005).mp3")));
    QCOMPARE(form.geometry(), geometry);

    // Remembered across windows; a No to the question renames nothing.
    TForm1 again;
    again.LV->AppendRow("b.mp3", "晴天", "周杰伦", folder);
    answerer.Queue({QMessageBox::No});
    AnswerFormatDialog("%t", true, &seen);
    again.NFormatRename->trigger();
    QCOMPARE(seen.shownFormat, QStringLiteral("%2n %t (%y)"));
    QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name),
             (QStringList{"03 发如雪 (2005).mp3", "b.mp3", "c.mp3"}));
  }
};

VELOMI_QTEST_MAIN(FormatRenameTest)
#include "FormatRenameTest.moc"
