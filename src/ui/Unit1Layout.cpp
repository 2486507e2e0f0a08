// The window's controls: their places, captions, fonts and colours, and the tab order.
#include <qdrawutil.h>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionGroupBox>

#include "ByteCounter.h"
#include "RowIcons.h"
#include "Rules.h"
#include "Shell.h"
#include "StatusBar.h"
#include "TrackList.h"
#include "Unit1.h"
#include "core/journal/Journal.h"

namespace {

const QColor kTeal(0, 128, 128);

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

  LV = Named(new TTrackList(rowicons::MakeMarks(ImageList1), this), "LV");
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
  // On the group's frame, right of its caption and above the boxes it speaks of.
  const QString differs = QStringLiteral("播放器显示的 ID3v2 标签与此不同");
  LId3v2 = label("LId3v2", differs, 78, 0, Qt::AlignLeft);
  LId3v2->setGeometry(78, 0, NominalWidth(differs) + 8, 13);
  LId3v2->setAutoFillBackground(true);
  QPalette warning = LId3v2->palette();
  warning.setColor(QPalette::WindowText, QColor(0xB0, 0x30, 0x00));
  LId3v2->setPalette(warning);
  LId3v2->hide();
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
  NUndoSeparator = Named(PopupMenu2->addSeparator(), "NUndoSeparator");
  N12 = Named(PopupMenu2->addAction(QStringLiteral("撤销上次操作")), "N12");
  N12->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
  N12->setShortcutContext(Qt::WindowShortcut);
  addAction(N12);  // Ctrl+Z works with the menu closed too
  connect(N12, &QAction::triggered, this, &TForm1::N12Click);
  NFormatRename = Named(PopupMenu2->addAction(QStringLiteral("按格式改名…")), "NFormatRename");
  connect(NFormatRename, &QAction::triggered, this, &TForm1::NFormatRenameClick);
  NConvert = Named(PopupMenu2->addAction(QStringLiteral("转换为 Unicode 标签")), "NConvert");
  connect(NConvert, &QAction::triggered, this, &TForm1::NConvertClick);
  NFixNames = Named(PopupMenu2->addAction(QStringLiteral("修复乱码文件名…")), "NFixNames");
  connect(NFixNames, &QAction::triggered, this, &TForm1::NFixNamesClick);
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
  NCheckGarbled = Named(PopupMenu2->addAction(QStringLiteral("只勾选播放器显示乱码的文件(&G)")),
                        "NCheckGarbled");
  connect(NCheckGarbled, &QAction::triggered, this, &TForm1::NCheckGarbledClick);
  NAddTreeSeparator = Named(PopupMenu2->addSeparator(), "NAddTreeSeparator");
  NAddTree = Named(PopupMenu2->addAction(QStringLiteral("添加文件夹（含子文件夹）…")), "NAddTree");
  connect(NAddTree, &QAction::triggered, this, &TForm1::NAddTreeClick);
  connect(LV, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu2->popup(LV->viewport()->mapToGlobal(pos)); });

  SetTabOrder();
}

QLineEdit* TForm1::BoxOf(core::TagField field) const {
  return findChild<QLineEdit*>(QLatin1String(core::InfoOf(field).box));
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
