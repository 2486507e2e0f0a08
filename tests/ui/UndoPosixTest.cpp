// The window's side of recovery where another process is made by fork(): a save another program
// left cut short is rolled back before its file is shown or its folder added.
#include <QLineEdit>
#include <QTemporaryDir>

#include <sys/wait.h>
#include <unistd.h>

#include "TrackList.h"
#include "UiTestSupport.h"
#include "Unit1.h"
#include "core/Batch.h"
#include "core/journal/Journal.h"
#include "tags/wma/TWmaTag.h"

using namespace uitest;

class UndoPosixTest : public QObject {
  Q_OBJECT

 private slots:
  void aWmaHeaderWriteCutShortIsRolledBackWhenItsRowIsShownOrItsFolderAdded() {
    // A save through the core (another program) died while it wrote the new header in place;
    // showing the file's row, or adding its folder, puts the old header back before the file is
    // read.
    const struct {
      const char* what;
      void (*show)(TForm1& form, const QString& folder);
    } ways[] = {
        {"its row shown", [](TForm1& form, const QString&) { form.LVCurrentRowChosen(0); }},
        {"its folder added", [](TForm1& form, const QString& folder) { form.AddFolder(folder); }},
    };
    for (const auto& way : ways) {
      QTemporaryDir dir;
      const QString path = CopyData("wma_ascii.wma", dir.path() + "/song.wma");
      const QByteArray old = ReadFile(path);
      TForm1 form;
      form.AddTrack(path);
      const pid_t pid = ::fork();
      if (pid == 0) {
        core::onActionStep = [](core::ActionStep step) {
          if (step == core::ActionStep::kWritten) ::_exit(0);
        };
        core::Journal journal;
        TIDwma tag;
        tag.ReadFromFile(path.toStdString());
        tag.SetTitle(u"Cut");
        core::ApplyOptions options;
        options.journal = &journal;
        core::SaveTag(tag, path.toStdString(), options);
        ::_exit(1);
      }
      int status = 0;
      QCOMPARE(::waitpid(pid, &status, 0), pid);
      QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      QByteArray torn = ReadFile(path);  // the first part of the new header only
      QVERIFY(torn != old);
      torn.replace(200, 800, old.mid(200, 800));
      WriteFile(path, torn);
      way.show(form, dir.path());
      QVERIFY2(ReadFile(path) == old, way.what);
      QVERIFY2(form.EdtTitle->text() != QStringLiteral("Cut"), way.what);
    }
  }
};

VELOMI_QTEST_MAIN(UndoPosixTest)
#include "UndoPosixTest.moc"
