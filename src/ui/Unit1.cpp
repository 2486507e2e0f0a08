#include "Unit1.h"

#include <sys/stat.h>

#include <qdrawutil.h>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStyleOptionGroupBox>
#include <QTimer>
#include <exception>
#include <stdexcept>

#include "About.h"
#include "ByteCounter.h"
#include "RowIcons.h"
#include "Rules.h"
#include "Shell.h"
#include "StatusBar.h"
#include "TrackList.h"
#include "WaitCursor.h"
#include "core/Batch.h"
#include "core/Journal.h"
#include "core/Plans.h"
#include "platform/FileSystem.h"

using rules::FromGbk;
using rules::FromUtf16;
using rules::NativePath;
using rules::ToGbk;
using rules::ToUtf16;

namespace {

// True when `path` names a folder, following symbolic links.
bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

const QColor kTeal(0, 128, 128);

// The progress of a batch: a dialog that shows itself once the batch has run for about half a
// second (files done of all, the current name) and whose cancel button stops the batch after the
// current file. The window keeps handling its events meanwhile.
class BatchProgress {
 public:
  BatchProgress(QWidget* parent, int total)
      : dialog_(QString(), QStringLiteral("取消"), 0, total, parent) {
    dialog_.setObjectName(QStringLiteral("BatchProgress"));
    dialog_.setWindowTitle(QStringLiteral("正在处理"));
    dialog_.setWindowModality(Qt::WindowModal);
    dialog_.setMinimumDuration(500);
    dialog_.setAutoClose(false);
    dialog_.setAutoReset(false);
    clock_.start();
  }
  // The callback of core::ApplyOptions: false once the user has cancelled.
  bool Step(int done, int total, const std::string& name) {
    if (done == 0 || clock_.elapsed() - shownAt_ >= 30) {
      shownAt_ = clock_.elapsed();
      dialog_.setLabelText(QStringLiteral("%1 / %2\n%3")
                               .arg(done)
                               .arg(total)
                               .arg(rules::DisplayName(name.substr(name.rfind('/') + 1))));
      dialog_.setValue(done);
      QCoreApplication::processEvents();
    }
    return !dialog_.wasCanceled();
  }

 private:
  QProgressDialog dialog_;
  QElapsedTimer clock_;
  qint64 shownAt_ = 0;
};

QString UndoNote(const core::ApplyReport& report) {
  if (report.undoable || report.journalMessage.isEmpty()) return {};
  return QStringLiteral("\n无法撤销：") + report.journalMessage;
}

// "宋体" at 12 pixels, the font of the buttons, the labels and the two group boxes.
QFont SongFont() {
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(12);
  return font;
}

// The width a caption takes in a 12-pixel "宋体": 12 for a full-width character, 6 for the rest.
int NominalWidth(const QString& text) {
  int width = 0;
  for (QChar c : text) width += c.unicode() >= 0x2E80 ? 12 : 6;
  return width;
}

// Group boxes whose caption sits on the top frame line, so that the room above their controls
// is what their places count on. The frame is an etched line drawn on exactly that rectangle,
// with a gap for the caption; the base style would push it further down, across the controls.
class GroupBoxStyle : public QProxyStyle {
 public:
  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                          QPainter* painter, const QWidget* widget) const override {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control != CC_GroupBox || box == nullptr) {
      QProxyStyle::drawComplexControl(control, option, painter, widget);
      return;
    }
    const QRect frame = subControlRect(control, option, SC_GroupBoxFrame, widget);
    const QRect label = subControlRect(control, option, SC_GroupBoxLabel, widget);
    painter->save();
    painter->setClipRegion(QRegion(box->rect).subtracted(label));
    qDrawShadeRect(painter, frame, box->palette, true, 1, 0);
    painter->setClipping(false);
    painter->setPen(box->palette.color(QPalette::WindowText));
    painter->setFont(widget != nullptr ? widget->font() : painter->font());
    painter->drawText(label, Qt::AlignCenter | Qt::TextShowMnemonic, box->text);
    painter->restore();
  }

  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                       const QWidget* widget) const override {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control != CC_GroupBox || box == nullptr) {
      return QProxyStyle::subControlRect(control, option, sub, widget);
    }
    const int textHeight = box->fontMetrics.height();
    const int textWidth = box->fontMetrics.horizontalAdvance(box->text) + 4;
    switch (sub) {
      case SC_GroupBoxFrame:
        return box->rect.adjusted(0, textHeight / 2, 0, 0);
      case SC_GroupBoxLabel:
        return QRect(box->rect.left() + 7, box->rect.top(), textWidth, textHeight);
      case SC_GroupBoxContents:
        return box->rect.adjusted(2, textHeight, -2, -2);
      default:
        return QProxyStyle::subControlRect(control, option, sub, widget);
    }
  }
};

template <class T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent), groupBoxStyle_(std::make_unique<GroupBoxStyle>()) {
  ImageList1 = rowicons::MakeImageList();
  OpenUrl = [](const QUrl& url) { return shell::OpenUrl(url); };
  ShowFileProperties = [this](const std::string& path) {
    return shell::ShowFileProperties(path, this);
  };
  CreateControls();
  FormCreate();
}

TForm1::~TForm1() {
  // The group boxes go before the style that draws them.
  delete GroupBox1;
}

// ---- Layout

void TForm1::CreateControls() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(rules::kApplicationTitle);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(671, 461);
  move(220, 145);
  QFont windowFont(QStringLiteral("MS Sans Serif"));
  windowFont.setPixelSize(11);
  setFont(windowFont);

  LV = Named(new TTrackList(ImageList1, this), "LV");
  LV->setGeometry(8, 5, 656, 161);
  LV->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(LV, &TTrackList::leftClicked, this, &TForm1::LVClick);
  connect(LV, &TTrackList::currentRowChosen, this, &TForm1::LVCurrentRowChosen);

  GroupBox1 = Named(new QGroupBox(QStringLiteral("歌曲信息"), this), "GroupBox1");
  GroupBox1->setGeometry(8, 168, 656, 243);
  GroupBox1->setFont(SongFont());
  QPalette teal = GroupBox1->palette();
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    teal.setColor(QPalette::Active, role, kTeal);
    teal.setColor(QPalette::Inactive, role, kTeal);
  }
  GroupBox1->setPalette(teal);
  GroupBox1->setStyle(groupBoxStyle_.get());

  auto button = [this](const char* name, const QString& caption, int left) {
    auto* b = Named(new QPushButton(caption, this), name);
    b->setGeometry(left, 414, 75, 25);
    b->setFont(SongFont());
    b->setAutoDefault(false);
    return b;
  };
  BtnAddfile = button("BtnAddfile", QStringLiteral("添加文件"), 8);
  Button2 = button("Button2", QStringLiteral("添加文件夹"), 87);
  BtnBatch = button("BtnBatch", QStringLiteral("批量修改"), 166);
  BtnSave = button("BtnSave", QStringLiteral("修改信息"), 245);
  Button7 = button("Button7", QStringLiteral("关于"), 347);
  BtnRename = button("BtnRename", QStringLiteral("文件改名"), 590);
  BtnBatch->setEnabled(false);
  BtnSave->setEnabled(false);
  BtnRename->setEnabled(false);
  connect(BtnAddfile, &QPushButton::clicked, this, &TForm1::BtnAddfileClick);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(BtnBatch, &QPushButton::clicked, this, &TForm1::BtnBatchClick);
  connect(BtnSave, &QPushButton::clicked, this, &TForm1::BtnSaveClick);
  connect(Button7, &QPushButton::clicked, this, &TForm1::Button7Click);
  connect(BtnRename, &QPushButton::clicked, this, &TForm1::BtnRenameClick);

  StatusBar1 = Named(new TStatusBar(this), "StatusBar1");
  StatusBar1->setGeometry(0, 442, 671, 19);
  StatusBar1->SetPanels({QStringLiteral("  作者网站:") + rules::kAuthorWebText,
                         QStringLiteral("  邮箱:") + rules::kAuthorMail},
                        {200, 50});
  connect(StatusBar1, &TStatusBar::clickedAt, this, &TForm1::StatusBar1Click);

  // Inside the song group box: each label stands left of its box, right-aligned (the path label
  // left-aligned), in black; the boxes take the group's teal.
  auto label = [this](const char* name, const QString& caption, int left, int top,
                      Qt::Alignment align) {
    auto* l = Named(new QLabel(caption, GroupBox1), name);
    l->setFont(SongFont());
    QPalette black = l->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    l->setPalette(black);
    l->setAlignment(align | Qt::AlignVCenter);
    l->setGeometry(left, top, NominalWidth(caption), 12);
    return l;
  };
  auto edit = [this](const char* name, int left, int top, int width) {
    auto* e = Named(new QLineEdit(GroupBox1), name);
    e->setGeometry(left, top, width, 20);
    // A file dropped on a box adds the file, as a drop anywhere on the window does.
    e->setAcceptDrops(false);
    return e;
  };
  const Qt::Alignment right = Qt::AlignRight;
  LTitle = label("LTitle", QStringLiteral("标题:"), 22, 19, right);
  EdtTitle = edit("EdtTitle", 55, 15, 246);
  LArtist = label("LArtist", QStringLiteral("歌手:"), 22, 40, right);
  EdtArtist = edit("EdtArtist", 55, 36, 246);
  LAlbum = label("LAlbum", QStringLiteral("专辑:"), 22, 61, right);
  EdtAlbum = edit("EdtAlbum", 55, 57, 246);
  LYear = label("LYear", QStringLiteral("年份:"), 22, 82, right);
  EdtYear = edit("EdtYear", 55, 78, 246);
  EdtYear->setAttribute(Qt::WA_InputMethodEnabled, false);
  EdtYear->installEventFilter(this);
  connect(EdtYear, &QLineEdit::textEdited, this, &TForm1::EdtYearTextEdited);
  LComment = label("LComment", QStringLiteral("说明:"), 22, 103, right);
  EdtComment = edit("EdtComment", 55, 99, 246);
  LTrack = label("LTrack", QStringLiteral("音轨:"), 22, 124, right);
  EdtTrack = edit("EdtTrack", 55, 120, 94);
  LGenre = label("LGenre", QStringLiteral("流派:"), 162, 124, right);
  ComboGenreID = Named(new QComboBox(GroupBox1), "ComboGenreID");
  ComboGenreID->setGeometry(196, 120, 105, 20);
  ComboGenreID->setEditable(true);
  ComboGenreID->setInsertPolicy(QComboBox::NoInsert);
  ComboGenreID->setMaxVisibleItems(8);
  ComboGenreID->setAcceptDrops(false);
  ComboGenreID->lineEdit()->setAcceptDrops(false);
  ComboGenreID->setEnabled(false);
  Label2 = label("Label2", QStringLiteral("作曲家:"), 10, 145, right);
  EdtUserURL = edit("EdtUserURL", 55, 141, 94);
  Label3 = label("Label3", QStringLiteral("版权:"), 162, 145, right);
  EdtCopyright = edit("EdtCopyright", 196, 141, 105);
  Label4 = label("Label4", QStringLiteral("网址:"), 22, 166, right);
  EdtUrl = edit("EdtUrl", 55, 162, 246);
  Label5 = label("Label5", QStringLiteral("编码:"), 22, 187, right);
  EdtEncodedBy = edit("EdtEncodedBy", 55, 183, 246);
  Label6 = label("Label6", QStringLiteral("版本:"), 308, 19, right);
  EdtVersion = edit("EdtVersion", 340, 15, 306);
  LFilePath = label("LFilePath", QStringLiteral("路径:"), 308, 40, Qt::AlignLeft);
  EdtPath = edit("EdtPath", 340, 36, 306);
  EdtPath->setReadOnly(true);
  Label1 = label("Label1", QStringLiteral("歌词:"), 308, 61, right);
  MLyrics = Named(new QPlainTextEdit(GroupBox1), "MLyrics");
  MLyrics->setGeometry(340, 57, 306, 89);
  MLyrics->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MLyrics->setAcceptDrops(false);
  MLyrics->setTabChangesFocus(true);
  ByteCounters = {new TByteCounter(EdtTitle), new TByteCounter(EdtArtist),
                  new TByteCounter(EdtAlbum), new TByteCounter(EdtYear),
                  new TByteCounter(EdtComment)};
  // With a track number the comment slot gives its last two bytes to the ID3v1.1 track byte.
  connect(EdtTrack, &QLineEdit::textChanged, this, [this] { SetByteCounters(showsMp3_); });

  GroupBox2 = Named(new QGroupBox(QStringLiteral("批量改名规则"), GroupBox1), "GroupBox2");
  GroupBox2->setGeometry(340, 150, 306, 86);
  GroupBox2->setFont(SongFont());
  GroupBox2->setPalette(teal);
  GroupBox2->setStyle(groupBoxStyle_.get());
  // The rules' captions a pixel smaller: in the CJK serif that stands for "宋体", the curly quotes
  // are full-width, and rule 3's caption would lose its end at 12 pixels.
  QFont ruleFont = SongFont();
  ruleFont.setPixelSize(11);
  auto radio = [this, ruleFont](const char* name, const QString& caption, int top, int tag) {
    auto* r = Named(new QRadioButton(caption, GroupBox2), name);
    r->setGeometry(3, top, 300, 17);
    r->setFont(ruleFont);
    r->setProperty("Tag", tag);
    connect(r, &QRadioButton::clicked, this, [this, r] { R1Click(r); });
    return r;
  };
  R1 = radio("R1", QStringLiteral("歌手+歌曲标题: “Talvino - 发如雪.mp3”"), 16, 1);
  R2 = radio("R2", QStringLiteral("歌曲标题+歌手: “发如雪 - Talvino.mp3”"), 37, 2);
  R3 = radio("R3", QStringLiteral("歌手+(序号)+歌曲标题: “Talvino - (1)发如雪.mp3”"), 58, 3);
  R1->setChecked(true);

  GbBatch4 = Named(new QGroupBox(QStringLiteral("批量修改信息"), GroupBox1), "GbBatch4");
  GbBatch4->setGeometry(14, 205, 288, 31);
  GbBatch4->setStyle(groupBoxStyle_.get());
  auto check = [this](const char* name, const QString& caption, int left) {
    auto* c = Named(new QCheckBox(caption, GbBatch4), name);
    c->setGeometry(left, 11, 49, 17);
    return c;
  };
  ChkArtist = check("ChkArtist", QStringLiteral("歌手"), 42);
  ChkAlbum = check("ChkAlbum", QStringLiteral("专辑"), 99);
  ChkYear = check("ChkYear", QStringLiteral("年份"), 156);
  ChkComment = check("ChkComment", QStringLiteral("说明"), 213);

  PopupMenu2 = Named(new QMenu(this), "PopupMenu2");
  N11 = Named(PopupMenu2->addAction(QStringLiteral("打开文件所在路径(&P)   ")), "N11");
  N10 = Named(PopupMenu2->addAction(QStringLiteral("打开文件(&O)")), "N10");
  N7 = Named(PopupMenu2->addAction(QStringLiteral("文件属性(&R)")), "N7");
  N9 = Named(PopupMenu2->addSeparator(), "N9");
  N6 = Named(PopupMenu2->addAction(QStringLiteral("清空列表(&L)")), "N6");
  N12 = Named(PopupMenu2->addAction(QStringLiteral("撤销上次操作")), "N12");
  N12->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
  N12->setShortcutContext(Qt::WindowShortcut);
  addAction(N12);  // Ctrl+Z works with the menu closed too
  connect(N12, &QAction::triggered, this, &TForm1::N12Click);
  NFormatRename = Named(PopupMenu2->addAction(QStringLiteral("按格式改名…")), "NFormatRename");
  connect(NFormatRename, &QAction::triggered, this, &TForm1::NFormatRenameClick);
  connect(N11, &QAction::triggered, this, &TForm1::N11Click);
  connect(N10, &QAction::triggered, this, &TForm1::N10Click);
  connect(N7, &QAction::triggered, this, &TForm1::N7Click);
  connect(N6, &QAction::triggered, this, &TForm1::N6Click);
  NCheckSeparator = Named(PopupMenu2->addSeparator(), "NCheckSeparator");
  NCheckAll = Named(PopupMenu2->addAction(QStringLiteral("全选(&A)")), "NCheckAll");
  NCheckNone = Named(PopupMenu2->addAction(QStringLiteral("全不选(&N)")), "NCheckNone");
  NCheckInvert = Named(PopupMenu2->addAction(QStringLiteral("反选(&I)")), "NCheckInvert");
  connect(NCheckAll, &QAction::triggered, this, &TForm1::NCheckAllClick);
  connect(NCheckNone, &QAction::triggered, this, &TForm1::NCheckNoneClick);
  connect(NCheckInvert, &QAction::triggered, this, &TForm1::NCheckInvertClick);
  connect(LV, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu2->popup(LV->viewport()->mapToGlobal(pos)); });

  SetTabOrder();
}

void TForm1::SetTabOrder() {
  const QList<QWidget*> order = {
      BtnAddfile, Button2,    BtnSave,    LV,           EdtTitle,  EdtArtist,  EdtAlbum,
      EdtYear,    EdtComment, EdtTrack,   ComboGenreID, EdtPath,   R1,         R2,
      R3,         MLyrics,    EdtUserURL, EdtCopyright, EdtUrl,    EdtVersion, EdtEncodedBy,
      ChkArtist,  ChkAlbum,   ChkComment, ChkYear,      BtnRename, Button7,    BtnBatch};
  for (qsizetype i = 0; i + 1 < order.size(); ++i) setTabOrder(order[i], order[i + 1]);
}

QList<QWidget*> TForm1::WmaOnlyControls() const {
  return {EdtCopyright, EdtUrl, EdtEncodedBy, MLyrics, EdtUserURL, EdtVersion};
}

// ---- Start and end

void TForm1::FormCreate() {
  setAcceptDrops(true);
  RenameRule = 1;
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

bool TForm1::Ask(const QString& text, const QString& details) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("系统询问"), text,
                  QMessageBox::Yes | QMessageBox::No, this);
  if (!details.isEmpty()) box.setDetailedText(details);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
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

// ---- Adding and showing tracks

QStringList TForm1::ChooseFiles() {
  QFileDialog dialog(this);
  dialog.setObjectName(QStringLiteral("OpenDialog1"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilter(QStringLiteral(" MP3,WMA Files(*.mp3 *.wma)"));
  dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
  dialog.setDefaultSuffix(QStringLiteral("mp3"));
  const QString last = LastFolder();
  if (!last.isEmpty() && QFileInfo(last).isDir()) dialog.setDirectory(last);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString TForm1::ChooseFolder() {
  QFileDialog dialog(this, QStringLiteral("请选择MP3,WMA目录"));
  dialog.setObjectName(QStringLiteral("FolderBrowser"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setFileMode(QFileDialog::Directory);
  const QString last = LastFolder();
  if (!last.isEmpty() && QFileInfo(last).isDir()) dialog.setDirectory(last);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles().value(0);
}

namespace {

// The one thing the window keeps between runs, in ~/.config/velomi/velomi.conf.
QSettings Settings() { return QSettings(QStringLiteral("velomi"), QStringLiteral("velomi")); }

}  // namespace

QString TForm1::LastFolder() { return Settings().value(QStringLiteral("LastFolder")).toString(); }

void TForm1::RememberFolder(const QString& folder) {
  Settings().setValue(QStringLiteral("LastFolder"), folder);
}

// Adds many tracks with one update of the window, when the adding ends: the rows are appended
// together, and the boxes show the last file added, as they would had every file been added and
// shown in turn, also when an error ends the adding part-way. Filling a dozen boxes costs far
// more than reading a tag, and appending rows one by one costs more than appending them at once,
// so a folder of thousands of files is added without doing either thousands of times.
class TForm1::TrackBatch {
 public:
  explicit TrackBatch(TForm1& form) : form_(form) {}
  ~TrackBatch() { Show(); }
  TrackBatch(const TrackBatch&) = delete;
  TrackBatch& operator=(const TrackBatch&) = delete;

  void Add(const std::string& path) {
    TTrackList::RowTexts row;
    const QString key = form_.ReadTrack(path, row);
    rows_.push_back(std::move(row));
    lastPath_ = path;
    lastKey_ = key;
    pending_ = true;
    // A later read that fails part-way leaves its object half filled: keep what this one read.
    if (key == rules::kMp3Key) {
      lastMp3_ = *form_.Mp3Info;
    } else {
      lastWma_ = *form_.WmaInfo;
    }
  }

  // Adds the file, or notes it for ReportAddErrors when it cannot be read.
  void AddOrNote(const std::string& path) {
    try {
      Add(path);
    } catch (const std::exception& e) {
      form_.addErrors_ << rules::DisplayName(path) + QStringLiteral("：") +
                              rules::ErrorBoxText(QString::fromUtf8(e.what()));
    }
  }

  // Appends the rows read since the last update and shows the last file added, if any.
  void Show() {
    form_.LV->AppendRows(rows_);
    rows_.clear();
    if (!pending_) return;
    if (lastKey_ == rules::kMp3Key) {
      *form_.Mp3Info = lastMp3_;
    } else {
      *form_.WmaInfo = lastWma_;
    }
    form_.ShowTrackFields(lastPath_, lastKey_);
    pending_ = false;
  }

 private:
  TForm1& form_;
  std::vector<TTrackList::RowTexts> rows_;
  bool pending_ = false;  // a file was added since the boxes were last filled
  std::string lastPath_;
  QString lastKey_;
  TIDmp3 lastMp3_;
  TIDwma lastWma_;
};

void TForm1::BtnAddfileClick() {
  Guarded([this] {
    if (!TagObjectsAlive()) return;
    const QStringList files = ChooseFiles();
    if (files.isEmpty()) return;
    {
      WaitCursor wait;
      TrackBatch batch(*this);
      for (const QString& file : files) batch.AddOrNote(NativePath(file));
    }
    RememberFolder(QFileInfo(files.first()).absolutePath());
    EnableEditButtons();
    ReportAddErrors();
  });
}

void TForm1::Button2Click() {
  Guarded([this] {
    if (!TagObjectsAlive()) return;
    const QString folder = ChooseFolder();
    // A choice without a path is taken as no choice.
    if (folder.isEmpty()) return;
    RememberFolder(folder);
    AddFolder(folder);
    EnableEditButtons();
    ReportAddErrors();
  });
}

void TForm1::AddFolder(QString folder) { AddNativeFolder(NativePath(folder)); }

void TForm1::AddNativeFolder(std::string nativeFolder) {
  if (nativeFolder.empty() || nativeFolder.back() != '/') nativeFolder += '/';
  WaitCursor wait;
  TrackBatch batch(*this);
  for (const char* suffix : {".mp3", ".wma"}) {
    for (const std::string& name : platform::ListFolder(nativeFolder, suffix)) {
      batch.AddOrNote(nativeFolder + name);
    }
  }
}

void TForm1::WMDropFiles(const QStringList& paths) {
  std::vector<std::string> native;
  for (const QString& path : paths) native.push_back(NativePath(path));
  WMDropFiles(native);
}

void TForm1::WMDropFiles(const std::vector<std::string>& paths) {
  if (!TagObjectsAlive() || paths.empty()) return;
  {
    WaitCursor wait;
    TrackBatch batch(*this);
    for (const std::string& path : paths) {
      // A folder adds its MP3 and WMA files, as the add folder button does.
      if (IsFolder(path)) {
        batch.Show();
        AddNativeFolder(path);
        continue;
      }
      const QString key = rules::FormatKey(rules::DisplayName(path));
      if (key != rules::kMp3Key && key != rules::kWmaKey) continue;
      try {
        batch.Add(path);
      } catch (const std::exception&) {
        batch.Show();  // the boxes show the last file added before the error, as the box appears
        wait.Pause();
        QMessageBox box(QMessageBox::Critical, QStringLiteral("错误"),
                        QStringLiteral("文件错误！") + QString(20, QLatin1Char(' ')),
                        QMessageBox::Ok, this);
        box.exec();
        wait.Resume();
      }
    }
  }
  ReportAddErrors();
}

QString TForm1::ReadTrack(const std::string& path, TTrackList::RowTexts& row) {
  const QString key = rules::FormatKey(rules::DisplayName(path));
  if (key == rules::kMp3Key) {
    Mp3Info->ReadFromFile(path);
    row.title = FromGbk(Mp3Info->Title);
    row.artist = FromGbk(Mp3Info->Artist);
  } else {
    if (journal_ != nullptr) core::RecoverFile(*journal_, path);
    WmaInfo->ReadFromFile(path);
    row.title = FromUtf16(WmaInfo->Title);
    row.artist = FromUtf16(WmaInfo->Artist);
  }
  row.fileName = rules::NativeFileNameOf(path);
  row.folder = rules::NativeFolderOf(path);
  return key;
}

void TForm1::AddTrack(const QString& path) { AddTrack(NativePath(path)); }

void TForm1::AddTrack(const std::string& path) {
  TTrackList::RowTexts row;
  const QString key = ReadTrack(path, row);
  LV->AppendRows({row});
  ShowTrackFields(path, key);
}

void TForm1::ShowTrackFields(const std::string& path, const QString& key) {
  shownPath_ = path;
  SetByteCounters(key == rules::kMp3Key);
  if (key == rules::kMp3Key) {
    EdtTitle->setText(FromGbk(Mp3Info->Title));
    EdtArtist->setText(FromGbk(Mp3Info->Artist));
    EdtAlbum->setText(FromGbk(Mp3Info->Album));
    EdtYear->setText(FromGbk(Mp3Info->Year));
    EdtComment->setText(FromGbk(Mp3Info->Comment));
    EdtTrack->setText(QString::number(Mp3Info->Track));
    EdtPath->setText(rules::DisplayName(path));
    const int entry = rules::GenreEntryOf(Mp3Info->GenreID);
    ComboGenreID->setCurrentIndex(entry);
    // The box's text may have been typed or set from a WMA genre since the entry was chosen.
    ComboGenreID->setEditText(ComboGenreID->itemText(entry));
    ComboGenreID->setEnabled(true);
    for (QLineEdit* box : {EdtCopyright, EdtUrl, EdtEncodedBy, EdtUserURL, EdtVersion}) {
      box->clear();
    }
    MLyrics->clear();
    lyricsUseCrLf_ = false;
  } else {
    EdtTitle->setText(FromUtf16(WmaInfo->Title));
    EdtArtist->setText(FromUtf16(WmaInfo->Artist));
    EdtAlbum->setText(FromUtf16(WmaInfo->Album));
    EdtYear->setText(FromUtf16(WmaInfo->Year));
    EdtComment->setText(FromUtf16(WmaInfo->Comment));
    EdtTrack->setText(FromUtf16(WmaInfo->Track));
    EdtPath->setText(rules::DisplayName(path));
    ComboGenreID->setEditText(FromUtf16(WmaInfo->Genre));
    ComboGenreID->setEnabled(true);
    EdtCopyright->setText(FromUtf16(WmaInfo->Copyright));
    EdtUrl->setText(FromUtf16(WmaInfo->Url));
    EdtEncodedBy->setText(FromUtf16(WmaInfo->EncodedBy));
    const QString lyrics = FromUtf16(WmaInfo->Lyrics);
    lyricsUseCrLf_ = lyrics.contains(QStringLiteral("\r\n"));
    MLyrics->setPlainText(
        lyricsUseCrLf_ ? QString(lyrics).replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                       : lyrics);
    EdtUserURL->setText(FromUtf16(WmaInfo->UserUrl));
    EdtVersion->setText(FromUtf16(WmaInfo->Version));
  }
  const bool wma = key == rules::kWmaKey;
  for (QWidget* control : WmaOnlyControls()) control->setEnabled(wma);
}

void TForm1::SetByteCounters(bool mp3) {
  showsMp3_ = mp3;
  const int text = mp3 ? static_cast<int>(TIDmp3::kTextCapacity) : 0;
  const int year = mp3 ? static_cast<int>(TIDmp3::kYearCapacity) : 0;
  const int comment = mp3 && rules::Mp3TrackOf(EdtTrack->text()) != 0 ? text - 2 : text;
  const std::array<int, 5> capacities = {text, text, text, year, comment};
  for (size_t i = 0; i < ByteCounters.size(); ++i) ByteCounters[i]->SetCapacity(capacities[i]);
}

void TForm1::ShowRow(int row) {
  // Read as when the file was added, a WMA header write cut short rolled back first.
  const std::string path = LV->NativePath(row);
  TTrackList::RowTexts texts;
  ShowTrackFields(path, ReadTrack(path, texts));
}

void TForm1::LVClick() {
  Guarded([this] {
    if (!TagObjectsAlive()) return;
    const int row = LV->SelectedRow();
    if (row < 0) return;
    ShowRow(row);
  });
}

void TForm1::LVCurrentRowChosen(int row) {
  Guarded([this, row] {
    if (!TagObjectsAlive() || row < 0 || row >= LV->rowCount()) return;
    ShowRow(row);
  });
}

void TForm1::FileRenamed(const std::string& oldPath, const std::string& newPath) {
  if (shownPath_.empty() || shownPath_ != oldPath) return;
  shownPath_ = newPath;
  EdtPath->setText(rules::DisplayName(newPath));
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  // A URL's percent-encoded bytes are the file's name: decoded to bytes, never through text.
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths.push_back(rules::NativePathOfUrl(url));
  }
  event->acceptProposedAction();
  // The files are added once the drop has been answered, so that the program the files came from
  // is not kept waiting behind a message box.
  QTimer::singleShot(0, this, [this, paths] { WMDropFiles(paths); });
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
  LV->setRowCount(0);
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

int TForm1::RowOfFile(const std::string& path) const {
  const int selected = LV->SelectedRow();
  if (selected >= 0 && LV->NativePath(selected) == path) return selected;
  for (int row = 0; row < LV->rowCount(); ++row) {
    if (LV->NativePath(row) == path) return row;
  }
  return -1;
}

core::ApplyReport TForm1::SaveMp3(const std::string& path) {
  using rules::TrimControl;
  Mp3Info->SetArtist(ToGbk(TrimControl(EdtArtist->text())));
  Mp3Info->SetTitle(ToGbk(TrimControl(EdtTitle->text())));
  Mp3Info->SetAlbum(ToGbk(TrimControl(EdtAlbum->text())));
  Mp3Info->SetYear(ToGbk(TrimControl(EdtYear->text())));
  Mp3Info->SetComment(ToGbk(TrimControl(EdtComment->text())));
  Mp3Info->SetTrack(rules::Mp3TrackOf(EdtTrack->text()));
  Mp3Info->SetGenreID(rules::GenreIdOfEntry(ComboGenreID->currentIndex()));
  return core::SaveTag(*Mp3Info, path, JournalOptions());
}

core::ApplyReport TForm1::SaveWma(const std::string& path) {
  // The one field without a box, WM/Track, must be this file's own: read its tag again first.
  WmaInfo->ReadFromFile(path);
  QString lyrics = MLyrics->toPlainText();
  if (lyricsUseCrLf_) lyrics.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  WmaInfo->SetTitle(ToUtf16(EdtTitle->text()));
  WmaInfo->SetArtist(ToUtf16(EdtArtist->text()));
  WmaInfo->SetAlbum(ToUtf16(EdtAlbum->text()));
  WmaInfo->SetYear(ToUtf16(EdtYear->text()));
  WmaInfo->SetGenre(ToUtf16(ComboGenreID->currentText()));
  WmaInfo->SetComment(ToUtf16(EdtComment->text()));
  WmaInfo->SetCopyright(ToUtf16(EdtCopyright->text()));
  WmaInfo->SetUrl(ToUtf16(EdtUrl->text()));
  WmaInfo->SetEncodedBy(ToUtf16(EdtEncodedBy->text()));
  WmaInfo->SetLyrics(ToUtf16(lyrics));
  WmaInfo->SetTrack(ToUtf16(EdtTrack->text()));
  WmaInfo->SetUserUrl(ToUtf16(EdtUserURL->text()));
  WmaInfo->SetVersion(ToUtf16(EdtVersion->text()));
  return core::SaveTag(*WmaInfo, path, JournalOptions());
}

void TForm1::MarkRow(int row, int mark, const QString& tip) {
  LV->SetMark(row, mark);
  if (QTableWidgetItem* item = LV->item(row, TTrackList::kFileName)) item->setToolTip(tip);
}

core::ApplyOptions TForm1::JournalOptions() {
  core::ApplyOptions options;
  options.journal = journal_.get();
  return options;
}

void TForm1::UpdateUndo() {
  if (journal_ == nullptr) return;
  N12->setEnabled(!core::ListActions(*journal_).empty());
  // A journal set aside or refused is told once, after the action that found it.
  const QString problem = journal_->TakeMessage();
  if (!problem.isEmpty()) QTimer::singleShot(0, this, [this, problem] { Hint(problem); });
}

bool TForm1::ShownFileIsThere() {
  const std::string& path = ShownPath();
  if (path.empty() || platform::FileExists(path)) return true;
  const int row = RowOfFile(path);
  if (row >= 0) MarkRow(row, rowicons::kCross, QStringLiteral("文件不存在"));
  Hint(QStringLiteral("要保存的文件已经不在了（被改名、移动或删除），没有保存：\n\n") +
       rules::DisplayName(path));
  return false;
}

void TForm1::BtnSaveClick() {
  Guarded([this] {
    if (!TagObjectsAlive()) return;
    if (!ShownFileIsThere()) return;
    if (!Ask(QStringLiteral("确定要保存更改后的信息吗？"))) return;
    const std::string path = ShownPath();
    const bool mp3 = rules::FormatKey(rules::DisplayName(path)) == rules::kMp3Key;
    core::ApplyReport report;
    try {
      report = mp3 ? SaveMp3(path) : SaveWma(path);
    } catch (...) {
      UpdateUndo();
      throw;
    }
    UpdateUndo();
    const int row = RowOfFile(path);
    if (row < 0) return;
    if (report.results.at(0).outcome == core::Outcome::kDone) {
      LV->SetTitle(row, EdtTitle->text());
      LV->SetArtist(row, EdtArtist->text());
      MarkRow(row, rowicons::kTick, QStringLiteral("已保存") + UndoNote(report));
    } else {
      MarkRow(row, rowicons::kCross, QStringLiteral("保存失败：") + report.results.at(0).reason);
    }
  });
}

void TForm1::BtnBatchClick() {
  Guarded([this] {
    if (!TagObjectsAlive()) return;
    const bool artist = ChkArtist->isChecked();
    const bool album = ChkAlbum->isChecked();
    const bool year = ChkYear->isChecked();
    const bool comment = ChkComment->isChecked();
    if (!artist && !album && !year && !comment) {
      Hint(QStringLiteral("请先勾选需要批量修改的信息！"));
      return;
    }
    QString fields;
    if (artist) fields += QStringLiteral("［歌手］");
    if (album) fields += QStringLiteral("［专辑］");
    if (year) fields += QStringLiteral("［年份］");
    if (comment) fields += QStringLiteral("［说明］");

    core::EditFields values;
    if (artist) values.artist = EdtArtist->text();
    if (album) values.album = EdtAlbum->text();
    if (year) values.year = EdtYear->text();
    if (comment) values.comment = EdtComment->text();
    std::vector<std::string> paths;
    std::vector<int> rows;
    for (int row = 0; row < LV->rowCount(); ++row) {
      if (!LV->Checked(row)) continue;
      paths.push_back(LV->NativePath(row));
      rows.push_back(row);
    }
    const core::EditPlan plan = [&] {
      WaitCursor wait;
      return core::PlanEdit(paths, values, rows);
    }();
    if (!Ask(QStringLiteral("确定要用当前歌曲的") + fields +
                 QStringLiteral("\n信息批量修改选中文件的相关信息吗？"),
             core::DescribeEditPlan(plan))) {
      return;
    }

    WaitCursor wait;
    BatchProgress progress(this, static_cast<int>(paths.size()));
    core::ApplyOptions options = JournalOptions();
    options.progress = [&](int done, int total, const std::string& name) {
      return progress.Step(done, total, name);
    };
    const core::ApplyReport report = core::ApplyEdit(plan, *Mp3Info, *WmaInfo, options);
    UpdateUndo();
    for (size_t i = 0; i < plan.entries.size(); ++i) {
      const int row = plan.entries[i].position;
      const core::EntryResult& result = report.results[i];
      if (result.outcome == core::Outcome::kDone) {
        if (artist) LV->SetArtist(row, EdtArtist->text());
        QStringList changed;
        for (const auto& c : plan.entries[i].changes) {
          changed << QStringLiteral("%1：%2 → %3")
                         .arg(core::FieldName(c.field), c.oldValue, c.newValue);
        }
        MarkRow(row, rowicons::kTick,
                QStringLiteral("已批量修改") +
                    (changed.isEmpty() ? QString() : QStringLiteral("\n") + changed.join('\n')) +
                    UndoNote(report));
      } else if (result.outcome == core::Outcome::kFailed) {
        MarkRow(row, rowicons::kCross, QStringLiteral("修改失败：") + result.reason);
      }
    }
    if (report.error) throw std::runtime_error(*report.error);
  });
}

// ---- Renaming

void TForm1::R1Click(QAbstractButton* sender) {
  if (sender != nullptr) RenameRule = sender->property("Tag").toInt();
}

void TForm1::BtnRenameClick() {
  Guarded([this] {
    std::vector<core::Track> tracks;
    for (int row = 0; row < LV->rowCount(); ++row) {
      if (!LV->Checked(row)) continue;
      tracks.push_back(
          {LV->NativeFolder(row), LV->NativeFileName(row), LV->Title(row), LV->Artist(row), row});
    }
    const core::RenamePlan plan = [&] {
      WaitCursor wait;
      return core::PlanRename(tracks, RenameRule);
    }();
    if (!Ask(QStringLiteral("确定要按指定规则更改选中的文件名吗？"),
             core::DescribeRenamePlan(plan))) {
      return;
    }
    ApplyRenamePlan(plan);
  });
}

void TForm1::ApplyRenamePlan(const core::RenamePlan& plan) {
  WaitCursor wait;
  BatchProgress progress(this, static_cast<int>(plan.entries.size()));
  core::ApplyOptions options = JournalOptions();
  options.progress = [&](int done, int total, const std::string& name) {
    return progress.Step(done, total, name);
  };
  // Never replaces another file, and refuses names that leave the folder or that Windows file
  // names cannot hold.
  const core::ApplyReport report = core::ApplyRename(plan, options);
  UpdateUndo();
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const core::RenameEntry& entry = plan.entries[i];
    const int row = entry.track.position;
    const core::EntryResult& result = report.results[i];
    if (result.outcome == core::Outcome::kDone) {
      const QString newName = rules::DisplayName(entry.newName);
      MarkRow(row, rowicons::kTick,
              QStringLiteral("已改名：%1 → %2").arg(LV->FileName(row), newName) + UndoNote(report));
      LV->SetNativeFileName(row, entry.newName);
      FileRenamed(entry.track.Path(), entry.track.folder + entry.newName);
    } else if (result.outcome == core::Outcome::kFailed) {
      MarkRow(row, rowicons::kCross, QStringLiteral("改名失败：") + result.reason);
    }
  }
  if (!report.warning.isEmpty()) Hint(report.warning);
}

// ---- Undo

void TForm1::N12Click() {
  Guarded([this] {
    const std::vector<core::ActionInfo> actions = core::ListActions(*journal_);
    const QString problem = journal_->TakeMessage();
    if (actions.empty()) {
      UpdateUndo();
      Hint(problem.isEmpty() ? QStringLiteral("没有可以撤销的操作。") : problem);
      return;
    }
    const core::ActionInfo& last = actions.front();
    const QString kind = last.kind == QLatin1String("rename") ? QStringLiteral("批量改名")
                         : last.kind == QLatin1String("edit") ? QStringLiteral("批量修改")
                                                              : QStringLiteral("保存信息");
    QString details = QStringLiteral("%1，%2，%3 个文件")
                          .arg(kind, QDateTime::fromString(last.time, Qt::ISODateWithMs)
                                         .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")))
                          .arg(last.changed);
    if (last.cutShort) details += QStringLiteral("（此操作曾被中断）");
    if (!Ask(QStringLiteral("确定要撤销上次操作吗？"), details)) return;

    WaitCursor wait;
    const core::UndoReport report = core::UndoLast(*journal_);
    UpdateUndo();
    for (const core::UndoEntry& e : report.entries) {
      if (e.outcome == core::Outcome::kNotTried) continue;
      const int row = RowOfFile(e.path);
      if (row < 0) continue;
      if (e.outcome == core::Outcome::kFailed) {
        MarkRow(row, rowicons::kCross, QStringLiteral("撤销失败：") + e.reason);
        continue;
      }
      if (e.restoredPath != e.path) {
        LV->SetNativeFileName(row, e.restoredPath.substr(e.restoredPath.rfind('/') + 1));
      } else {
        try {
          const core::Track track = core::ReadTrack(e.path, row);
          LV->SetTitle(row, track.title);
          LV->SetArtist(row, track.artist);
        } catch (const std::exception&) {
          // The row keeps its texts; the mark still tells that the file was restored.
        }
      }
      MarkRow(row, rowicons::kTick, QStringLiteral("已撤销：") + kind);
    }
    if (!report.message.isEmpty()) Hint(report.message);
  });
}

// ---- About

void TForm1::Button7Click() {
  auto* about = new TFrm_About(this);
  about->show();
}
