// Draws the README's pictures from the real window: the main window with a few tracks in it
// (docs/screenshot-main.png), its About box (docs/screenshot-about.png), the rename question
// with its plan shown (docs/screenshot-rename-plan.png), the window after a batch edit with its
// marks, an optional column and the closing line in the status bar (docs/screenshot-batch.png),
// a file whose ID3v2 tag says more than its ID3v1 block (docs/screenshot-id3v2.png), and the
// summary of an undo that left a file another program changed (docs/screenshot-undo.png), the
// rename by a template with its preview in the list (docs/screenshot-template.png), the
// plan of a conversion to Unicode tags (docs/screenshot-convert.png), and the plan of repairing
// garbled file and folder names (docs/screenshot-fix-names.png).
// Usage, from the repository's root: xvfb-run -a build/tests/ui/ui_screenshots docs
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include <filesystem>

#include "About.h"
#include "FixNames.h"
#include "core/text/Rules.h"

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
  // Answers the next message box with `answer`, its details shown first when `name` is given and
  // the window and the box grabbed together into that picture.
  auto answerNext = [&](QMessageBox::StandardButton answer, const QString& name, bool& saved) {
    auto* poll = new QTimer(&form);
    poll->setInterval(50);
    QObject::connect(poll, &QTimer::timeout, [&, poll, answer, name] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible()) return;
      poll->stop();
      poll->deleteLater();
      if (!name.isEmpty()) {
        for (QAbstractButton* b : box->buttons()) {
          if (box->buttonRole(b) == QMessageBox::ActionRole) b->click();  // "显示详细信息..."
        }
        QTest::qWait(400);
        const QRect area = form.frameGeometry().united(box->frameGeometry());
        saved = form.screen()
                    ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                    .save(out + QStringLiteral("/") + name);
      }
      box->button(answer)->click();
    });
    poll->start();
  };
  bool planSaved = false, unused = false;
  answerNext(QMessageBox::No, QStringLiteral("screenshot-rename-plan.png"), planSaved);
  form.BtnRenameClick();

  // A batch edit of the album, answered Yes: the marks, the album column and the status bar.
  form.LV->ShowColumn(core::TrackListModel::kAlbum, true);
  form.EdtAlbum->setText(QStringLiteral("精选集"));
  form.ChkAlbum->setChecked(true);
  answerNext(QMessageBox::Yes, {}, unused);
  form.BtnBatchClick();
  form.ChkAlbum->setChecked(false);
  QTest::qWait(300);
  const bool batchSaved = form.grab().save(out + QStringLiteral("/screenshot-batch.png"));

  // A file from ffmpeg: its ID3v2 title longer than the ID3v1 block's 30 bytes.
  uitest::CopyData(QStringLiteral("id3v2_v24_ffmpeg.mp3"), music + QStringLiteral("07.mp3"));
  form.AddTrack(music + QStringLiteral("07.mp3"));
  QTest::qWait(300);
  const bool id3v2Saved = form.grab().save(out + QStringLiteral("/screenshot-id3v2.png"));

  // Another program changes one file of the batch; the undo's question is answered Yes and its
  // summary grabbed with its details shown.
  uitest::MakeMp3(
      music + QStringLiteral("02.mp3"),
      {QStringLiteral("青花瓷"), QStringLiteral("周杰伦"), QStringLiteral("另一个程序")});
  bool undoSaved = false;
  QPointer<QMessageBox> question;
  bool asked = false;
  auto* poll = new QTimer(&form);
  poll->setInterval(50);
  QObject::connect(poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible() || box == question) return;
    if (!asked) {
      asked = true;
      question = box;
      box->button(QMessageBox::Yes)->click();
      return;
    }
    poll->stop();
    answerNext(QMessageBox::Ok, QStringLiteral("screenshot-undo.png"), undoSaved);
  });
  poll->start();
  form.N12Click();
  QTest::qWait(300);

  // The rename by a template: the dialog with a template typed, the 新文件名 column showing the
  // template's name of every row meanwhile; the dialog is closed without renaming.
  form.LV->ShowColumn(core::TrackListModel::kNewName, true);
  bool templateSaved = false;
  auto* typing = new QTimer(&form);
  typing->setInterval(50);
  QObject::connect(typing, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible() ||
        dialog->objectName() != QLatin1String("FrmFormatRename")) {
      return;
    }
    typing->stop();
    if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("EdtFormat"))) {
      edit->setText(QStringLiteral("%a - %2n %t"));
    }
    QTest::qWait(400);
    const QRect area = form.frameGeometry().united(dialog->frameGeometry());
    templateSaved = form.screen()
                        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                        .save(out + QStringLiteral("/screenshot-template.png"));
    dialog->reject();
  });
  typing->start();
  form.NFormatRenameClick();
  form.LV->ShowColumn(core::TrackListModel::kNewName, false);

  // The plan of "转换为 Unicode 标签": the GBK files, and a close call between GBK and Big5.
  uitest::MakeMp3(music + QStringLiteral("08.mp3"), {QStringLiteral("啊阿")});
  form.AddTrack(music + QStringLiteral("08.mp3"));
  form.NCheckAllClick();
  bool convertSaved = false;
  auto* plan = new QTimer(&form);
  plan->setInterval(50);
  QObject::connect(plan, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible() ||
        dialog->objectName() != QLatin1String("FrmConvert")) {
      return;
    }
    plan->stop();
    QTimer::singleShot(300, dialog, [&, dialog] {
      convertSaved = dialog->grab().save(out + QStringLiteral("/screenshot-convert.png"));
      dialog->reject();
    });
  });
  plan->start();
  form.NConvertClick();

  // The plan of repairing garbled names: a folder of GBK bytes as an old Windows disk left it,
  // with its songs, lyrics and cover, and a CP1252 mojibake file beside a Big5 one in another.
  form.N6Click();
  const std::string garbled = rules::NativePath(demo.path()) +
                              "/\xD6\xDC\xBD\xDC\xC2\xD7 - "
                              "\xC6\xDF\xC0\xEF\xCF\xE3/";
  QDir().mkpath(QString::fromStdString(rules::NativePath(demo.path()) + "/mix"));
  std::filesystem::create_directory(std::filesystem::path(garbled));
  auto write = [](const std::string& path, const char* bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return;
    std::fputs(bytes, f);
    std::fclose(f);
  };
  write(garbled + "01 \xC6\xDF\xC0\xEF\xCF\xE3.mp3", "\xFF\xFB");
  write(garbled + "01 \xC6\xDF\xC0\xEF\xCF\xE3.lrc", "[00:00]");
  write(garbled + "02 \xC7\xE7\xCC\xEC.mp3", "\xFF\xFB");
  write(garbled + "cover.jpg", "JPEG");
  const std::string mix = rules::NativePath(demo.path()) + "/mix/";
  write(mix + "\xA7\x6B\xA7\x4F.mp3", "\xFF\xFB");                  // Big5 吻別
  write(mix + "\xC3\x8D\xC3\xB5\xC2\xB7\xC3\x86.mp3", "\xFF\xFB");  // "Íõ·Æ" (王菲)
  write(mix + "\xC2\xBA\xC3\xAC\xC2\xB6\xC2\xB9.mp3", "\xFF\xFB");  // "ºì¶¹" (红豆)
  form.AddNativeFolder(garbled);
  form.AddNativeFolder(mix);
  bool namesSaved = false;
  auto* names = new QTimer(&form);
  names->setInterval(50);
  QObject::connect(names, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<TFrmFixNames*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return;
    names->stop();
    QTest::qWait(400);
    const QRect area = form.frameGeometry().united(dialog->frameGeometry());
    namesSaved = form.screen()
                     ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                     .save(out + QStringLiteral("/screenshot-fix-names.png"));
    dialog->reject();
  });
  names->start();
  form.NFixNamesClick();

  std::printf(
      "main %d, about %d, plan %d, batch %d, id3v2 %d, undo %d, template %d, convert %d, names %d "
      "(1: saved)\n",
      mainSaved, aboutSaved, planSaved, batchSaved, id3v2Saved, undoSaved, templateSaved,
      convertSaved, namesSaved);
  demo.removeRecursively();
  return mainSaved && aboutSaved && planSaved && batchSaved && id3v2Saved && undoSaved &&
                 templateSaved && convertSaved && namesSaved
             ? 0
             : 1;
}
