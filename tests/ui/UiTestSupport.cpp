#include "UiTestSupport.h"

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>

#include "AppSetup.h"
#include "Rules.h"
#include "TrackList.h"
#include "Unit1.h"

namespace uitest {

void PrepareEnvironment() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The journal of changes goes to a state folder of the test's own, never to the real home.
  static QTemporaryDir state;
  qputenv("XDG_STATE_HOME", state.path().toUtf8());
  qputenv("LOCALAPPDATA", QDir::toNativeSeparators(state.path()).toUtf8());  // on Windows
  // Settings the window keeps between runs go to a folder of this test run, not the user's own
  // nor one that tests running side by side share. On Windows they are in the registry, of the
  // test machine's wine prefix: emptied at the start, and the tests run one at a time.
  static QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
  QSettings(QStringLiteral("velomi"), QStringLiteral("velomi")).clear();
}

void SetupApplication(QApplication& app) { appsetup::SetupApplication(app); }

bool FileNamesAreBytes() {
#ifdef Q_OS_WIN
  return false;
#else
  return true;
#endif
}

bool NamesFoldCase(const QString& folder) {
  const QString probe = folder + QStringLiteral("/case-probe");
  WriteFile(probe, "x");
  const bool folds = QFile::exists(folder + QStringLiteral("/CASE-PROBE"));
  QFile::remove(probe);
  return folds;
}

BoxAnswerer::BoxAnswerer(QMessageBox::StandardButton answer) : last_(answer) {
  timer_.setInterval(5);
  connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::Poll);
  timer_.start();
}

void BoxAnswerer::Poll() {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (box == nullptr || !box->isVisible() || box->property("answered").toBool()) return;
  if (held_ != box) {
    held_ = box;
    heldFor_.start();
  }
  if (heldFor_.elapsed() < holdMs_) return;
  box->setProperty("answered", true);
  SeenBox seen;
  seen.title = box->windowTitle();
  seen.text = box->text();
  seen.details = box->detailedText();
  seen.info = box->informativeText();
  seen.icon = box->icon();
  for (QAbstractButton* b : box->buttons()) seen.buttons << b->text();
  boxes_ << seen;
  QMessageBox::StandardButton answer = last_;
  if (!answers_.isEmpty()) answer = last_ = answers_.takeFirst();
  QAbstractButton* button = box->button(answer);
  if (button == nullptr) button = box->buttons().value(0);
  if (button != nullptr) button->click();
}

void WhenFileDialog(std::function<void(QFileDialog*)> act) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, act] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    act(dialog);
  });
  timer->start();
}

void AnswerFolder(const QString& folder) {
  WhenFileDialog([folder](QFileDialog* dialog) {
    if (folder.isEmpty()) {
      dialog->reject();
      return;
    }
    dialog->setDirectory(folder);
    static_cast<QDialog*>(dialog)->accept();
  });
}

void AnswerFiles(const QString& folder, const QStringList& names) {
  WhenFileDialog([folder, names](QFileDialog* dialog) {
    dialog->setDirectory(folder);
    QStringList quoted;
    for (const QString& name : names) quoted << QLatin1Char('"') + name + QLatin1Char('"');
    dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(quoted.join(' '));
    static_cast<QDialog*>(dialog)->accept();
  });
}

QString DataFile(const QString& name) { return QStringLiteral(VELOMI_TEST_DATA "/") + name; }

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write a test file");
  file.write(bytes);
}

QString CopyData(const QString& fixture, const QString& path) {
  WriteFile(path, ReadFile(DataFile(fixture)));
  return path;
}

QString MakeUntaggedMp3(const QString& path) { return CopyData("mp3_untagged.mp3", path); }

QString MakeMp3(const QString& path, const Mp3Fields& fields) {
  MakeUntaggedMp3(path);
  TIDmp3 tag;
  tag.SetTitle(rules::ToGbk(fields.title));
  tag.SetArtist(rules::ToGbk(fields.artist));
  tag.SetAlbum(rules::ToGbk(fields.album));
  tag.SetYear(rules::ToGbk(fields.year));
  tag.SetComment(rules::ToGbk(fields.comment));
  tag.SetTrack(static_cast<uint8_t>(fields.track));
  tag.SetGenreID(static_cast<uint8_t>(fields.genre));
  if (!tag.SaveToFile(rules::NativePath(path))) qFatal("cannot tag a test file");
  return path;
}

QString MakeBrokenWma(const QString& path) {
  WriteFile(path, ReadFile(DataFile("ui_song.wma")).left(300));
  return path;
}

TIDmp3 ReadMp3(const QString& path) {
  TIDmp3 tag;
  tag.ReadFromFile(rules::NativePath(path));
  return tag;
}

TIDwma ReadWma(const QString& path) {
  TIDwma tag;
  tag.ReadFromFile(rules::NativePath(path));
  return tag;
}

QString Gbk(const std::string& bytes) { return rules::FromGbk(bytes); }

void SelectRows(TForm1& form, const QList<int>& rows) {
  form.LV->clearSelection();
  for (int row : rows) {
    form.LV->selectionModel()->select(form.LV->model()->index(row, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
}

void ClickRow(TForm1& form, int row, Qt::KeyboardModifiers modifiers) {
  const QRect cell = form.LV->visualRect(form.LV->model()->index(row, 1));
  QTest::mouseClick(form.LV->viewport(), Qt::LeftButton, modifiers, cell.center());
}

void Drop(TForm1& form, const QStringList& paths) {
  QList<QUrl> urls;
  for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
  DropUrls(form, urls);
}

void DropUrls(TForm1& form, const QList<QUrl>& urls) {
  auto* mime = new QMimeData;
  mime->setUrls(urls);
  const QPointF at(300, 80);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&form, &enter);
  QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&form, &drop);
  // The window adds the files once the drop is answered.
  QCoreApplication::processEvents();
  QTest::qWait(20);
  delete mime;
}

QStringList Column(TForm1& form, int column) {
  QStringList texts;
  for (int row = 0; row < form.LV->rowCount(); ++row) {
    texts << form.LV->model()->index(row, column).data().toString();
  }
  return texts;
}

QList<int> Marks(TForm1& form) {
  QList<int> marks;
  for (int row = 0; row < form.LV->rowCount(); ++row) {
    marks << form.LV->model()->index(row, 0).data(Qt::UserRole).toInt();
  }
  return marks;
}

void SetChecked(TForm1& form, int row, bool checked) {
  form.LV->model()->setData(form.LV->model()->index(row, 0), checked ? Qt::Checked : Qt::Unchecked,
                            Qt::CheckStateRole);
}

}  // namespace uitest
