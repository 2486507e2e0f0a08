// The main window as it starts: its controls, places, captions, states, fonts and tab order; the
// context menu and the status bar links (what they hand to the desktop, never the desktop's own
// windows); closing.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <cstdio>

#include "Shell.h"
#include "StatusBar.h"
#include "TrackList.h"
#include "UiTestSupport.h"
#include "Unit1.h"
#include "core/text/Rules.h"

using namespace uitest;

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void theWindowItself() {
    TForm1 form;
    QCOMPARE(form.windowTitle(), QStringLiteral("VelomiMP3批量更名"));
    QCOMPARE(form.size(), QSize(671, 461));
    QCOMPARE(form.minimumSize(), QSize(671, 461));
    QCOMPARE(form.maximumSize(), QSize(671, 461));
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(form.pos(), QPoint(220, 145));
    QVERIFY(form.acceptDrops());
    QCOMPARE(form.RenameRule, 1);
    QVERIFY(form.Mp3Info && form.WmaInfo);
    QCOMPARE(form.Mp3Info->GenreID, 255);
  }

  void everyControlInItsPlaceWithItsCaption() {
    TForm1 form;
    struct Place {
      const char* name;
      QRect rect;
      const char* caption;
    };
    const Place places[] = {
        {"LV", {8, 5, 656, 161}, nullptr},
        {"GroupBox1", {8, 168, 656, 243}, "歌曲信息"},
        {"BtnAddfile", {8, 414, 75, 25}, "添加文件"},
        {"Button2", {87, 414, 75, 25}, "添加文件夹"},
        {"BtnBatch", {166, 414, 75, 25}, "批量修改"},
        {"BtnSave", {245, 414, 75, 25}, "修改信息"},
        {"Button7", {347, 414, 75, 25}, "关于"},
        {"BtnRename", {590, 414, 75, 25}, "文件改名"},
        {"StatusBar1", {0, 442, 671, 19}, nullptr},
        {"EdtTitle", {55, 15, 246, 20}, nullptr},
        {"EdtArtist", {55, 36, 246, 20}, nullptr},
        {"EdtAlbum", {55, 57, 246, 20}, nullptr},
        {"EdtYear", {55, 78, 246, 20}, nullptr},
        {"EdtComment", {55, 99, 246, 20}, nullptr},
        {"EdtTrack", {55, 120, 94, 20}, nullptr},
        {"ComboGenreID", {196, 120, 105, 20}, nullptr},
        {"EdtUserURL", {55, 141, 94, 20}, nullptr},
        {"EdtCopyright", {196, 141, 105, 20}, nullptr},
        {"EdtUrl", {55, 162, 246, 20}, nullptr},
        {"EdtEncodedBy", {55, 183, 246, 20}, nullptr},
        {"EdtVersion", {340, 15, 306, 20}, nullptr},
        {"EdtPath", {340, 36, 306, 20}, nullptr},
        {"MLyrics", {340, 57, 306, 89}, nullptr},
        {"GroupBox2", {340, 150, 306, 86}, "批量改名规则"},
        {"R1", {3, 16, 300, 17}, "歌手+歌曲标题: “Talvino - 发如雪.mp3”"},
        {"R2", {3, 37, 300, 17}, "歌曲标题+歌手: “发如雪 - Talvino.mp3”"},
        {"R3", {3, 58, 300, 17}, "歌手+(序号)+歌曲标题: “Talvino - (1)发如雪.mp3”"},
        {"GbBatch4", {14, 205, 288, 31}, "批量修改信息"},
        {"ChkArtist", {42, 11, 49, 17}, "歌手"},
        {"ChkAlbum", {99, 11, 49, 17}, "专辑"},
        {"ChkYear", {156, 11, 49, 17}, "年份"},
        {"ChkComment", {213, 11, 49, 17}, "说明"},
    };
    for (const Place& place : places) {
      auto* widget = form.findChild<QWidget*>(QString::fromLatin1(place.name));
      QVERIFY2(widget != nullptr, place.name);
      QCOMPARE(widget->geometry(), place.rect);
      if (place.caption == nullptr) continue;
      QString caption;
      if (auto* box = qobject_cast<QGroupBox*>(widget)) caption = box->title();
      if (auto* button = qobject_cast<QAbstractButton*>(widget)) caption = button->text();
      QCOMPARE(caption, QString::fromUtf8(place.caption));
    }
    QCOMPARE(form.R1->parentWidget(), form.GroupBox2);
    QCOMPARE(form.ChkYear->parentWidget(), form.GbBatch4);
    QCOMPARE(form.GbBatch4->parentWidget(), form.GroupBox1);

    // Labels: left and top as placed, the path label left-aligned, the others right-aligned.
    struct LabelPlace {
      const char* name;
      QPoint at;
      const char* caption;
    };
    const LabelPlace labels[] = {
        {"LTitle", {22, 19}, "标题:"},     {"LArtist", {22, 40}, "歌手:"},
        {"LAlbum", {22, 61}, "专辑:"},     {"LYear", {22, 82}, "年份:"},
        {"LComment", {22, 103}, "说明:"},  {"LTrack", {22, 124}, "音轨:"},
        {"LGenre", {162, 124}, "流派:"},   {"Label2", {10, 145}, "作曲家:"},
        {"Label3", {162, 145}, "版权:"},   {"Label4", {22, 166}, "网址:"},
        {"Label5", {22, 187}, "编码:"},    {"Label6", {308, 19}, "版本:"},
        {"LFilePath", {308, 40}, "路径:"}, {"Label1", {308, 61}, "歌词:"},
    };
    for (const LabelPlace& place : labels) {
      auto* label = form.GroupBox1->findChild<QLabel*>(QString::fromLatin1(place.name));
      QVERIFY2(label != nullptr, place.name);
      QCOMPARE(label->pos(), place.at);
      QCOMPARE(label->text(), QString::fromUtf8(place.caption));
      const Qt::Alignment horizontal = label->alignment() & Qt::AlignHorizontal_Mask;
      QCOMPARE(horizontal, label == form.LFilePath ? Qt::AlignLeft : Qt::AlignRight);
      QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::black));
    }
    QVERIFY(form.EdtPath->isReadOnly());
    QCOMPARE(form.MLyrics->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  }

  void fontsAndColours() {
    TForm1 form;
    QCOMPARE(form.font().family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(form.font().pixelSize(), 11);
    QCOMPARE(form.LV->font().pixelSize(), 11);
    for (QWidget* widget :
         QList<QWidget*>{form.BtnAddfile, form.LTitle, form.GroupBox1, form.GroupBox2,
                         form.EdtTitle, form.ChkArtist, form.MLyrics}) {
      QCOMPARE(widget->font().family(), QStringLiteral("宋体"));
      QCOMPARE(widget->font().pixelSize(), 12);
    }
    QCOMPARE(form.R3->font().family(), QStringLiteral("宋体"));
    QCOMPARE(form.R3->font().pixelSize(), 11);
    const QColor teal(0, 128, 128);
    QCOMPARE(form.EdtTitle->palette().color(QPalette::Text), teal);
    QCOMPARE(form.MLyrics->palette().color(QPalette::Text), teal);
    QCOMPARE(form.ChkArtist->palette().color(QPalette::WindowText), teal);
    QCOMPARE(form.R3->palette().color(QPalette::WindowText), teal);
    QCOMPARE(form.GroupBox1->palette().color(QPalette::WindowText), teal);
    // The substitutes are installed fonts that hold the CJK glyphs.
    QVERIFY(QFont::substitutes(QStringLiteral("宋体"))
                .contains(QStringLiteral("AR PL UMing CN"), Qt::CaseInsensitive));
    QCOMPARE(QFontInfo(form.BtnAddfile->font()).family(), QStringLiteral("AR PL UMing CN"));
    QVERIFY(!QFont::substitutes(QStringLiteral("MS Sans Serif")).isEmpty());
  }

  // Run also with QT_SCALE_FACTOR=2 (ui_window_test_scale2).
  void everyCaptionIsWhole() {
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QStringList cut;
    auto check = [&](QWidget* w, const QString& text, int room) {
      const int need = w->fontMetrics().horizontalAdvance(QString(text).remove('&'));
      if (!text.isEmpty() && need > room)
        cut << QStringLiteral("%1 %2>%3").arg(w->objectName()).arg(need).arg(room);
    };
    for (QLabel* l : form.findChildren<QLabel*>()) {
      check(l, l->text(), l->contentsRect().width());
    }
    for (QAbstractButton* b : form.findChildren<QAbstractButton*>()) {
      QStyleOptionButton option;
      option.initFrom(b);
      option.text = b->text();
      const QStyle::SubElement text = qobject_cast<QRadioButton*>(b)
                                          ? QStyle::SE_RadioButtonContents
                                      : qobject_cast<QCheckBox*>(b) ? QStyle::SE_CheckBoxContents
                                                                    : QStyle::SE_PushButtonContents;
      check(b, b->text(), b->style()->subElementRect(text, &option, b).width());
    }
    for (QGroupBox* g : form.findChildren<QGroupBox*>()) {
      QStyleOptionGroupBox option;
      option.initFrom(g);
      option.text = g->title();
      option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
      const QRect label =
          g->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, g);
      check(g, g->title(), qMin(label.width(), g->width() - label.left()));
      const QRect frame =
          g->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, g);
      // The frame is drawn where the style says, not further down across the controls.
      const QImage image = g->grab().toImage();
      const QPoint onTopLine = QPoint(frame.left() + 3, frame.top()) * image.devicePixelRatio();
      if (image.pixelColor(onTopLine) == g->palette().color(QPalette::Window)) {
        cut << g->objectName() + " has no line on its frame's top";
      }
    }
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(", ")));
  }

  void startUpStates() {
    TForm1 form;
    QCOMPARE(form.LV->rowCount(), 0);
    for (QLineEdit* box : form.GroupBox1->findChildren<QLineEdit*>()) {
      if (box->parent() == form.ComboGenreID) continue;
      QVERIFY2(box->text().isEmpty(), qPrintable(box->objectName()));
    }
    QVERIFY(form.MLyrics->toPlainText().isEmpty());
    QVERIFY(!form.ComboGenreID->isEnabled());
    QCOMPARE(form.ComboGenreID->currentIndex(), -1);
    QVERIFY(form.ComboGenreID->currentText().isEmpty());
    QVERIFY(form.R1->isChecked());
    QVERIFY(!form.R2->isChecked() && !form.R3->isChecked());
    for (QCheckBox* check : {form.ChkArtist, form.ChkAlbum, form.ChkYear, form.ChkComment}) {
      QVERIFY(!check->isChecked());
    }
    QVERIFY(form.BtnAddfile->isEnabled());
    QVERIFY(form.Button2->isEnabled());
    QVERIFY(form.Button7->isEnabled());
    QVERIFY(!form.BtnBatch->isEnabled());
    QVERIFY(!form.BtnSave->isEnabled());
    QVERIFY(!form.BtnRename->isEnabled());
    QVERIFY(form.findChildren<QWidget*>(QStringLiteral("Frm_About")).isEmpty());
  }

  void theGenreBoxHolds149Entries() {
    TForm1 form;
    QCOMPARE(form.ComboGenreID->count(), 149);
    QCOMPARE(form.ComboGenreID->itemText(0), QString());
    QCOMPARE(form.ComboGenreID->itemText(1), QStringLiteral("Blues"));
    for (int genre = 0; genre < 148; ++genre) {
      QCOMPARE(form.ComboGenreID->itemText(genre + 1),
               QString::fromLatin1(ID3Genres[genre].data(),
                                   static_cast<qsizetype>(ID3Genres[genre].size())));
    }
    QVERIFY(form.ComboGenreID->isEditable());
    QCOMPARE(form.ComboGenreID->insertPolicy(), QComboBox::NoInsert);
  }

  void theTrackList() {
    TForm1 form;
    TTrackList* lv = form.LV;
    const QStringList headers = {"文件名", "歌曲标题", "歌手", "路径"};
    QStringList shown;
    for (int column = 0; column < lv->model()->columnCount(); ++column) {
      if (lv->isColumnHidden(column)) continue;
      shown << lv->model()->headerData(column, Qt::Horizontal).toString();
    }
    QCOMPARE(shown, headers);
    QVERIFY(lv->showGrid());
    QVERIFY(!lv->horizontalHeader()->sectionsClickable());
    QCOMPARE(lv->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(lv->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(lv->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(lv->iconSize(), QSize(16, 16));
    QCOMPARE(lv->palette().color(QPalette::Inactive, QPalette::Highlight),
             lv->palette().color(QPalette::Active, QPalette::Highlight));

    // The three marks are 16 x 16 pictures, each different.
    QImage images[3];
    for (int mark = 0; mark < 3; ++mark) {
      QVERIFY(!form.ImageList1[mark].isNull());
      images[mark] = form.ImageList1[mark].pixmap(16, 16).toImage();
      QCOMPARE(images[mark].size(), QSize(16, 16));
    }
    QVERIFY(images[0] != images[1] && images[1] != images[2] && images[0] != images[2]);
    // The note and the tick are green, the cross red.
    auto dominant = [](const QImage& image) {
      int red = 0, green = 0;
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
          const QColor c = image.pixelColor(x, y);
          if (c.alpha() < 128) continue;
          (c.red() > c.green() ? red : green)++;
        }
      return green > red ? 'g' : 'r';
    };
    QCOMPARE(dominant(images[0]), 'g');
    QCOMPARE(dominant(images[1]), 'g');
    QCOMPARE(dominant(images[2]), 'r');

    lv->AppendRow(QStringLiteral("a.mp3"), QStringLiteral("t"), QStringLiteral("a"),
                  QStringLiteral("/m/"));
    const QModelIndex first = lv->model()->index(0, 0);
    QVERIFY(first.flags() & Qt::ItemIsUserCheckable);
    QVERIFY(!(first.flags() & Qt::ItemIsEditable));
    QCOMPARE(first.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(first.data(Qt::UserRole).toInt(), 0);
    lv->SetMark(0, 2);
    QCOMPARE(first.data(Qt::UserRole).toInt(), 2);
    QCOMPARE(first.data(Qt::DecorationRole).value<QIcon>().pixmap(16, 16).toImage(), images[2]);
  }

  void tabOrder() {
    TForm1 form;
    const QStringList expected = {
        "BtnAddfile", "Button2",    "BtnSave",      "LV",        "EdtTitle",     "EdtArtist",
        "EdtAlbum",   "EdtYear",    "EdtComment",   "EdtTrack",  "ComboGenreID", "EdtPath",
        "R1",         "R2",         "R3",           "MLyrics",   "EdtUserURL",   "EdtCopyright",
        "EdtUrl",     "EdtVersion", "EdtEncodedBy", "ChkArtist", "ChkAlbum",     "ChkComment",
        "ChkYear",    "BtnRename",  "Button7",      "BtnBatch"};
    QStringList chain;
    QWidget* widget = form.BtnAddfile;
    for (int step = 0; step < 200 && chain.size() < expected.size(); ++step) {
      if (expected.contains(widget->objectName()) && !chain.contains(widget->objectName())) {
        chain << widget->objectName();
      }
      widget = widget->nextInFocusChain();
    }
    QCOMPARE(chain, expected);
  }

  void theContextMenu() {
    TForm1 form;
    QCOMPARE(form.PopupMenu2->objectName(), QStringLiteral("PopupMenu2"));
    const QList<QAction*> actions = form.PopupMenu2->actions();
    QCOMPARE(actions.size(), 17);
    QCOMPARE(actions[0], form.N11);
    QCOMPARE(form.N11->text(), QStringLiteral("打开文件所在路径(&P)   "));
    QCOMPARE(form.N10->text(), QStringLiteral("打开文件(&O)"));
    QCOMPARE(form.N7->text(), QStringLiteral("文件属性(&R)"));
    QVERIFY(form.N9->isSeparator());
    QCOMPARE(actions[3], form.N9);
    QCOMPARE(form.N6->text(), QStringLiteral("清空列表(&L)"));
    QCOMPARE(form.N9->objectName(), QStringLiteral("N9"));
    for (QAction* action : actions.mid(0, 5)) QVERIFY(action->isEnabled());
    // After the list's own items and a separator: undo, disabled while the journal holds nothing.
    QVERIFY(actions[5]->isSeparator());
    QCOMPARE(actions[6], form.N12);
    QCOMPARE(form.N12->text(), QStringLiteral("撤销上次操作"));
    QCOMPARE(form.N12->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
    QVERIFY(!form.N12->isEnabled());
    QCOMPARE(actions[7], form.NFormatRename);
    QCOMPARE(actions[8], form.NConvert);
    QCOMPARE(form.NConvert->text(), QStringLiteral("转换为 Unicode 标签"));
    QCOMPARE(actions[9], form.NFixNames);
    QCOMPARE(form.NFixNames->text(), QStringLiteral("修复乱码文件名…"));
    QCOMPARE(form.LV->contextMenuPolicy(), Qt::CustomContextMenu);
  }

  void theCheckMarkItems() {
    TForm1 form;
    QCOMPARE(form.PopupMenu2->actions().mid(10, 5),
             (QList<QAction*>{form.NCheckSeparator, form.NCheckAll, form.NCheckNone,
                              form.NCheckInvert, form.NCheckGarbled}));
    QCOMPARE(form.NCheckAll->text(), QStringLiteral("全选(&A)"));
    for (int row = 0; row < 3; ++row) form.LV->AppendRow("a.mp3", "", "", "/m/");
    SetChecked(form, 1, false);
    const struct {
      QAction* item;
      QList<bool> checks;
    } steps[] = {
        {form.NCheckInvert, {false, true, false}},
        {form.NCheckAll, {true, true, true}},
        {form.NCheckNone, {false, false, false}},
        {form.NCheckInvert, {true, true, true}},
    };
    for (const auto& step : steps) {
      step.item->trigger();
      QList<bool> checks;
      for (int row = 0; row < 3; ++row) checks << form.LV->Checked(row);
      QCOMPARE(checks, step.checks);
    }
  }

  void whenNothingOpensALinkAMessageGivesTheAddress() {
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    bool opens = false;
    form.OpenUrl = [&](const QUrl&) { return opens; };
    form.LV->AppendRow("b c.wma", "", "", "/m/二 三/");
    SelectRows(form, {0});
    BoxAnswerer answerer(QMessageBox::Ok);
    const struct {
      std::function<void()> open;
      QString address;
    } links[] = {
        {[&] { form.N11->trigger(); }, QStringLiteral("/m/二 三/")},
        {[&] { form.N10->trigger(); }, QStringLiteral("/m/二 三/b c.wma")},
        {[&] { QTest::mouseClick(form.StatusBar1, Qt::LeftButton, {}, QPoint(10, 9)); },
         QStringLiteral("http://www.example.com/")},
    };
    for (const auto& link : links) {
      const int before = answerer.count();
      link.open();
      QCOMPARE(answerer.count(), before + 1);
      QCOMPARE(answerer.boxes().last().title, QStringLiteral("系统提示"));
      QVERIFY(answerer.boxes().last().text.endsWith("\n" + link.address));
      // Once something opens it, no message.
      opens = true;
      link.open();
      QCOMPARE(answerer.count(), before + 1);
      opens = false;
    }
  }

  void theRowActionsActOnTheTopmostSelectedRow() {
    TForm1 form;
    QList<QUrl> opened;
    std::vector<std::string> sheets;
    form.OpenUrl = [&](const QUrl& url) {
      opened << url;
      return true;
    };
    form.ShowFileProperties = [&](const std::string& path) {
      sheets.push_back(path);
      return true;
    };
    form.LV->AppendRow("a.mp3", "", "", "/m/一/");
    form.LV->AppendRow("b c.wma", "", "", "/m/二 三/");
    form.LV->AppendRow("d.mp3", "", "", "/m/四/");

    // No row selected: nothing.
    form.N11->trigger();
    form.N10->trigger();
    form.N7->trigger();
    QVERIFY(opened.isEmpty() && sheets.empty());

    SelectRows(form, {2, 1});
    form.N11->trigger();
    form.N10->trigger();
    form.N7->trigger();
    QCOMPARE(opened.size(), 2);
    QCOMPARE(opened[0], QUrl::fromLocalFile(QStringLiteral("/m/二 三/")));
    QCOMPARE(opened[0].toLocalFile(), QStringLiteral("/m/二 三/"));
    QCOMPARE(opened[1].toLocalFile(), QStringLiteral("/m/二 三/b c.wma"));
    QCOMPARE(sheets, std::vector<std::string>{"/m/二 三/b c.wma"});
  }

  void thePropertiesSheetRequest() {
    // What the file manager is asked for: the file's URL and an empty startup id.
    const QList<QVariant> args = shell::PropertiesArguments("/m/二 三/b#c.wma");
    QCOMPARE(args.size(), 2);
    QCOMPARE(args[0].toStringList(),
             QStringList{QStringLiteral("file:///m/%E4%BA%8C%20%E4%B8%89/b%23c.wma")});
    QCOMPARE(args[1].toString(), QString());

    // Our own sheet, where no file manager answers.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("发如雪.mp3"));
    WriteFile(path, QByteArray(1234, 'x'));
    auto values = [](const TFileProperties& sheet) {
      QStringList texts;
      for (QLineEdit* box : sheet.findChildren<QLineEdit*>()) {
        if (box->isReadOnly()) texts << box->text();
      }
      return texts;
    };
    TFileProperties sheet(path);
    QCOMPARE(sheet.windowTitle(), QStringLiteral("发如雪.mp3 属性"));
    QCOMPARE(values(sheet).mid(0, 4),
             (QStringList{"发如雪.mp3", QDir::toNativeSeparators(dir.path()), "MP3 文件",
                          "1,234 字节"}));
    QCOMPARE(values(sheet).size(), sheet.findChildren<QLineEdit*>().size());
  }

  void thePropertiesSheetOfANameInGbkBytes() {
    // A name in GBK bytes is found by its bytes and shown as GBK.
    if (!FileNamesAreBytes()) QSKIP("file names here are text, never GBK bytes");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("发如雪.mp3"));
    WriteFile(path, QByteArray(1234, 'x'));
    auto values = [](const TFileProperties& sheet) {
      QStringList texts;
      for (QLineEdit* box : sheet.findChildren<QLineEdit*>()) {
        if (box->isReadOnly()) texts << box->text();
      }
      return texts;
    };
    const std::string gbk = rules::NativePath(dir.path()) + "/" + rules::ToGbk("七里香") + ".mp3";
    QCOMPARE(std::rename(rules::NativePath(path).c_str(), gbk.c_str()), 0);
    TFileProperties gbkSheet(gbk);
    QCOMPARE(values(gbkSheet).mid(0, 4),
             (QStringList{"七里香.mp3", dir.path(), "MP3 文件", "1,234 字节"}));
    std::remove(gbk.c_str());
  }

  void clearingTheList() {
    QTemporaryDir dir;
    const QString wma = CopyData("ui_song.wma", dir.filePath("a.wma"));
    TForm1 form;
    form.AddTrack(wma);
    form.AddTrack(wma);
    form.ChkAlbum->setChecked(true);
    form.R2->setChecked(true);
    form.RenameRule = 2;
    form.EdtYear->setText("1999");
    form.N6->trigger();
    QCOMPARE(form.LV->rowCount(), 0);
    for (QLineEdit* box : form.GroupBox1->findChildren<QLineEdit*>()) {
      QVERIFY2(box->text().isEmpty(), qPrintable(box->objectName()));
    }
    QVERIFY(form.ComboGenreID->currentText().isEmpty());
    QCOMPARE(form.ComboGenreID->currentIndex(), -1);
    QVERIFY(form.MLyrics->toPlainText().isEmpty());
    QVERIFY(form.BtnBatch->isEnabled());
    QVERIFY(!form.BtnSave->isEnabled());
    QVERIFY(!form.BtnRename->isEnabled());
    // Everything else stays as it was.
    QVERIFY(form.ComboGenreID->isEnabled());
    for (QWidget* control : form.WmaOnlyControls()) QVERIFY(control->isEnabled());
    QVERIFY(form.ChkAlbum->isChecked());
    QVERIFY(form.R2->isChecked());
    QCOMPARE(form.RenameRule, 2);
    QVERIFY(QFile::exists(wma));

    // Clearing an empty list still empties the boxes and sets the buttons.
    form.EdtTitle->setText("x");
    form.BtnSave->setEnabled(true);
    form.N6->trigger();
    QVERIFY(form.EdtTitle->text().isEmpty());
    QVERIFY(!form.BtnSave->isEnabled());
  }

  void theStatusBarLinks() {
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QList<QUrl> opened;
    form.OpenUrl = [&](const QUrl& url) {
      opened << url;
      return true;
    };
    QCOMPARE(form.StatusBar1->PanelWidths(), (std::vector<int>{200, 50}));
    QCOMPARE(form.StatusBar1->PanelTexts(),
             (QStringList{QStringLiteral("  作者网站:www.example.com"),
                          QStringLiteral("  邮箱:velomi@example.com")}));
    QCOMPARE(form.StatusBar1->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(form.StatusBar1, Qt::LeftButton, Qt::NoModifier, QPoint(199, 9));
    QTest::mouseClick(form.StatusBar1, Qt::LeftButton, Qt::NoModifier, QPoint(200, 9));
    QTest::mouseClick(form.StatusBar1, Qt::LeftButton, Qt::NoModifier, QPoint(660, 9));
    QTest::mouseClick(form.StatusBar1, Qt::RightButton, Qt::NoModifier, QPoint(10, 9));
    QCOMPARE(opened.size(), 3);
    QCOMPARE(opened[0], QUrl(QStringLiteral("http://www.example.com/")));
    QCOMPARE(opened[1].scheme(), QStringLiteral("mailto"));
    QCOMPARE(opened[1].toString(),
             QStringLiteral(
                 "mailto:velomi@example.com?subject=VelomiMP3批量更名软件用户意见或建议&cc="));
    QCOMPARE(opened[2], opened[1]);
  }

  void closingFreesTheTagObjects() {
    TForm1 form;
    form.show();
    QVERIFY(form.close());
    QVERIFY(!form.Mp3Info && !form.WmaInfo);
    // A handler that still arrives does nothing.
    form.LV->AppendRow("a.mp3", "", "", "/nowhere/");
    SelectRows(form, {0});
    form.LVClick();
    form.WMDropFiles({QStringLiteral("/nowhere/b.mp3")});
    QCOMPARE(form.LV->rowCount(), 1);
  }

  void standardButtonsAreChinese() {
    // Qt's own translations are loaded: the access keys read as Chinese Windows shows them,
    // 是(Y) and 否(N).
    QMessageBox box(QMessageBox::Question, "t", "x", QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.button(QMessageBox::Yes)->text(), QStringLiteral("是(&Y)"));
    QCOMPARE(box.button(QMessageBox::No)->text(), QStringLiteral("否(&N)"));
    QMessageBox ok(QMessageBox::Critical, "t", "x", QMessageBox::Ok);
    QCOMPARE(ok.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
  }
};

VELOMI_QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
