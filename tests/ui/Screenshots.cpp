// Draws the README's pictures from the real window: the main window with a few tracks in it
// (docs/screenshot-main.png), its About box (docs/screenshot-about.png) and the rename question
// with its plan shown (docs/screenshot-rename-plan.png).
// Usage, from the repository's root: xvfb-run -a build/tests/ui/ui_screenshots docs
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "About.h"

#include "AppSetup.h"
#include "TrackList.h"
#include "UiTestSupport.h"
#include "Unit1.h"

int main(int argc, char** argv) {
  // The journal of changes goes to a folder of its own, never to the real home.
  QTemporaryDir state;
  qputenv("XDG_STATE_HOME", state.path().toUtf8());
  QApplication app(argc, argv);
  appsetup::SetupApplication(app);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
  QDir().mkpath(out);

  // A fixed folder, so that the pictures do not change from one run to the next.
  QDir demo(QDir::tempPath() + QStringLiteral("/velomi-demo"));
  demo.removeRecursively();
  const QString music = demo.path() + QStringLiteral("/音乐/");
  QDir().mkpath(music);
  using uitest::Mp3Fields;
  uitest::MakeMp3(
      music + QStringLiteral("01.mp3"),
      {QStringLiteral("发如雪"), QStringLiteral("周杰伦"), QStringLiteral("十一月的萧邦"),
       QStringLiteral("2005"), QStringLiteral("好歌"), 3, 13});
  uitest::MakeMp3(music + QStringLiteral("02.mp3"),
                  {QStringLiteral("青花瓷"), QStringLiteral("周杰伦"), QStringLiteral("我很忙"),
                   QStringLiteral("2007"), QString(), 1, 13});
  uitest::MakeMp3(music + QStringLiteral("03.MP3"),
                  {QStringLiteral("月亮代表我的心"), QStringLiteral("邓丽君"),
                   QStringLiteral("岛国之情歌"), QStringLiteral("1977"), QString(), 2, 98});
  uitest::CopyData(QStringLiteral("ui_song.wma"), music + QStringLiteral("04.wma"));

  // The real window, filled through its own add folder button.
  TForm1 form;
  form.show();
  QTest::qWait(100);
  uitest::AnswerFolder(music);
  form.Button2Click();
  uitest::ClickRow(form, 0);
  QTest::qWait(300);
  const bool mainSaved = form.grab().save(out + QStringLiteral("/screenshot-main.png"));

  // The About box, opened by its button.
  QTest::mouseClick(form.Button7, Qt::LeftButton);
  QTest::qWait(300);
  TFrm_About* about = form.findChild<TFrm_About*>();
  const bool aboutSaved =
      about != nullptr && about->grab().save(out + QStringLiteral("/screenshot-about.png"));
  if (about != nullptr) about->close();

  // The rename question with its plan: two more files, one whose new name the first file takes
  // and one without an artist; the details shown, the question answered No.
  uitest::MakeMp3(music + QStringLiteral("05.mp3"),
                  {QStringLiteral("发如雪"), QStringLiteral("周杰伦")});
  uitest::MakeMp3(music + QStringLiteral("06.mp3"), {QStringLiteral("无名曲"), QString()});
  form.AddTrack(music + QStringLiteral("05.mp3"));
  form.AddTrack(music + QStringLiteral("06.mp3"));
  bool planSaved = false;
  QTimer poll;
  poll.setInterval(50);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    poll.stop();
    for (QAbstractButton* b : box->buttons()) {
      if (box->buttonRole(b) == QMessageBox::ActionRole) b->click();  // "显示详情..."
    }
    QTest::qWait(400);
    const QRect area = form.frameGeometry().united(box->frameGeometry());
    planSaved = form.screen()
                    ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                    .save(out + QStringLiteral("/screenshot-rename-plan.png"));
    box->button(QMessageBox::No)->click();
  });
  poll.start();
  form.BtnRenameClick();

  std::printf("%s %s %s\n", mainSaved ? "main saved" : "main FAILED",
              aboutSaved ? "about saved" : "about FAILED",
              planSaved ? "plan saved" : "plan FAILED");
  demo.removeRecursively();
  return mainSaved && aboutSaved && planSaved ? 0 : 1;
}
