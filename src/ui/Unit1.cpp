#include "Unit1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTextEdit>
#include <exception>

#include "About.h"
#include "ByteCounter.h"
#include "Rules.h"
#include "StatusBar.h"
#include "TrackList.h"
#include "core/Batch.h"
#include "core/journal/Journal.h"

// ---- Start and end

void TForm1::FormCreate() {
  setAcceptDrops(true);
  RenameRule = 1;
  LV->Model()->SetPreviewRule(RenameRule);
  Mp3Info = std::make_unique<TIDmp3>();
  WmaInfo = std::make_unique<TIDwma>();
  ComboGenreID->clear();
  ComboGenreID->addItem(QString());
  for (std::string_view name : ID3Genres) {
    ComboGenreID->addItem(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
  }
  ComboGenreID->setCurrentIndex(-1);
  journal_ = std::make_unique<core::Journal>();
  core::RecoverActions(*journal_);  // actions that a crash cut short are settled from the disk
  UpdateUndo();
}

void TForm1::FormClose() {
  Mp3Info.reset();
  WmaInfo.reset();
}

void TForm1::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

// ---- Message boxes

void TForm1::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowErrorBox(QString::fromUtf8(e.what()));
  }
}

void TForm1::ShowErrorBox(const QString& message) {
  QMessageBox box(QMessageBox::Critical, rules::kApplicationTitle, rules::ErrorBoxText(message),
                  QMessageBox::Ok, this);
  box.exec();
}

namespace {

// A message box whose details (a batch's plan, the files an undo left) can be read in full: the
// box can be resized, and its details grow with it.
class ReadableBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  bool event(QEvent* event) override {
    const bool handled = QMessageBox::event(event);
    // The box fixes its size on every layout; the details keep theirs loose all the same.
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (auto* details = findChild<QTextEdit*>()) {
      details->setMaximumHeight(QWIDGETSIZE_MAX);
      details->setMinimumHeight(160);
      details->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    return handled;
  }
};

}  // namespace

bool TForm1::Ask(const QString& text, const QString& details, const QString& summary) {
  return Ask(text, details, summary, {}, nullptr);
}

bool TForm1::Ask(const QString& text, const QString& details, const QString& summary,
                 const QString& checkText, bool* checked) {
  ReadableBox box(QMessageBox::Question, QStringLiteral("系统询问"), text,
                  QMessageBox::Yes | QMessageBox::No, this);
  if (!checkText.isEmpty()) {
    auto* check = new QCheckBox(checkText, &box);
    check->setObjectName(QStringLiteral("ChkAlsoConvert"));
    check->setChecked(true);
    box.setCheckBox(check);
  }
  if (!summary.isEmpty()) box.setInformativeText(summary);
  if (!details.isEmpty()) {
    box.setDetailedText(details);
    box.setSizeGripEnabled(true);
  }
  box.setDefaultButton(QMessageBox::Yes);
  const bool yes = box.exec() == QMessageBox::Yes;
  if (checked != nullptr) *checked = box.checkBox() != nullptr && box.checkBox()->isChecked();
  return yes;
}

void TForm1::Tell(const QString& text, const QString& details, bool problem) {
  if (!problem) {
    StatusBar1->SetMessage(text);
    return;
  }
  ReadableBox box(QMessageBox::Warning, QStringLiteral("系统提示"), text, QMessageBox::Ok, this);
  if (!details.isEmpty()) {
    box.setDetailedText(details);
    box.setSizeGripEnabled(true);
  }
  StatusBar1->SetMessage(text);
  box.exec();
}

void TForm1::Hint(const QString& text) {
  QMessageBox box(QMessageBox::Information, QStringLiteral("系统提示"), text, QMessageBox::Ok,
                  this);
  box.exec();
}

void TForm1::OpenOrSay(const QUrl& url) {
  if (OpenUrl(url)) return;
  const QString address = url.isLocalFile() ? url.toLocalFile() : url.toString();
  QMessageBox box(
      QMessageBox::Information, QStringLiteral("系统提示"),
      QStringLiteral("没有找到可以打开它的程序。请复制下面的地址，自己打开：\n\n") + address,
      QMessageBox::Ok, this);
  box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  box.exec();
}

void TForm1::ReportAddErrors() {
  if (addErrors_.isEmpty()) return;
  constexpr int kShown = 20;
  QStringList lines = addErrors_.mid(0, kShown);
  if (addErrors_.size() > kShown) {
    lines << QStringLiteral("……另有 %1 个文件").arg(addErrors_.size() - kShown);
  }
  addErrors_.clear();
  ShowErrorBox(QStringLiteral("这些文件无法读取，没有加入列表：\n\n") +
               lines.join(QLatin1Char('\n')));
}

void TForm1::EnableEditButtons() {
  Button2->setEnabled(true);
  BtnBatch->setEnabled(true);
  BtnSave->setEnabled(true);
  BtnRename->setEnabled(true);
}

namespace {

// The one thing the window keeps between runs, in ~/.config/velomi/velomi.conf.
QSettings Settings() { return QSettings(QStringLiteral("velomi"), QStringLiteral("velomi")); }

}  // namespace

QString TForm1::LastFolder() { return Settings().value(QStringLiteral("LastFolder")).toString(); }

void TForm1::RememberFolder(const QString& folder) {
  Settings().setValue(QStringLiteral("LastFolder"), folder);
}

// ---- Context menu and status bar

void TForm1::N11Click() {
  const int row = LV->SelectedRow();
  if (row < 0) return;
  OpenOrSay(rules::FileUrlOf(LV->NativeFolder(row)));
}

void TForm1::N10Click() {
  const int row = LV->SelectedRow();
  if (row < 0) return;
  OpenOrSay(rules::FileUrlOf(LV->NativePath(row)));
}

void TForm1::N7Click() {
  const int row = LV->SelectedRow();
  if (row < 0) return;
  ShowFileProperties(LV->NativePath(row));
}

void TForm1::N6Click() {
  LV->Clear();
  StatusBar1->SetMessage(QString());  // the last batch's line spoke of rows no longer listed
  shownPath_.clear();
  for (QLineEdit* box : {EdtTitle, EdtArtist, EdtAlbum, EdtYear, EdtComment, EdtTrack, EdtPath,
                         EdtUserURL, EdtCopyright, EdtUrl, EdtVersion, EdtEncodedBy}) {
    box->clear();
  }
  ComboGenreID->setCurrentIndex(-1);
  ComboGenreID->clearEditText();
  MLyrics->clear();
  lyricsUseCrLf_ = false;
  SetByteCounters(false);
  BtnBatch->setEnabled(true);
  BtnSave->setEnabled(false);
  BtnRename->setEnabled(false);
}

void TForm1::NCheckAllClick() {
  for (int row = 0; row < LV->rowCount(); ++row) LV->SetChecked(row, true);
}

void TForm1::NCheckNoneClick() {
  for (int row = 0; row < LV->rowCount(); ++row) LV->SetChecked(row, false);
}

void TForm1::NCheckInvertClick() {
  for (int row = 0; row < LV->rowCount(); ++row) LV->SetChecked(row, !LV->Checked(row));
}

void TForm1::NCheckGarbledClick() {
  for (int row = 0; row < LV->rowCount(); ++row) LV->SetChecked(row, LV->Model()->Garbled(row));
}

void TForm1::StatusBar1Click(int x) {
  switch (rules::StatusPanelAt(x, StatusBar1->PanelWidths(), StatusBar1->width())) {
    case 0:
      OpenOrSay(rules::AuthorWebUrl());
      break;
    case 1:
      OpenOrSay(rules::AuthorMailUrl());
      break;
    default:
      break;
  }
}

// ---- Editing

bool TForm1::EdtYearKeyPress(const QKeyEvent& event) const {
  // Copy, paste and cut type control characters: they are discarded like every other one.
  if (event.matches(QKeySequence::Copy) || event.matches(QKeySequence::Paste) ||
      event.matches(QKeySequence::Cut)) {
    return false;
  }
  switch (event.key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
      // Focus keys and Delete type no character.
      return true;
    default:
      break;
  }
  const Qt::KeyboardModifiers mods = event.modifiers();
  if ((mods & Qt::ControlModifier) && !(mods & Qt::AltModifier) && event.key() >= Qt::Key_A &&
      event.key() <= Qt::Key_Z) {
    return rules::YearKeyPasses(static_cast<char32_t>(event.key() - Qt::Key_A + 1));
  }
  const QString text = event.text();
  if (text.isEmpty()) return true;  // arrows, Home, End and the like type nothing
  return rules::YearKeyPasses(text.toUcs4().value(0));
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == EdtYear) {
    if (event->type() == QEvent::KeyPress) {
      return !EdtYearKeyPress(*static_cast<QKeyEvent*>(event));
    }
    if (event->type() == QEvent::InputMethod) {
      const QString text = static_cast<QInputMethodEvent*>(event)->commitString();
      for (char32_t code : text.toUcs4()) {
        if (!rules::YearKeyPasses(code)) return true;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::EdtYearTextEdited(const QString& text) {
  // Typed keys are filtered before they arrive; a paste from the box's menu is not.
  QString kept;
  int cursor = EdtYear->cursorPosition();
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c.unicode() >= 32 && rules::YearKeyPasses(c.unicode())) {
      kept += c;
    } else if (i < EdtYear->cursorPosition()) {
      --cursor;
    }
  }
  if (kept == text) return;
  EdtYear->setText(kept);
  EdtYear->setCursorPosition(cursor);
}

// ---- About

void TForm1::Button7Click() {
  auto* about = new TFrm_About(this);
  about->show();
}
