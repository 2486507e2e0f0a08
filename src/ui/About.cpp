#include "About.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>

#include "AppSetup.h"
#include "Rules.h"

namespace {

const QColor kCream(255, 251, 240);
const QColor kMaroon(128, 0, 0);
const QColor kShadow(84, 86, 97);

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& place,
                  const QColor& color, const QFont& font) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(place);
  label->setFont(font);
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, color);
  label->setPalette(pal);
  return label;
}

}  // namespace

QStringList TFrm_About::TextLines() {
  return {rules::kApplicationTitle,
          QStringLiteral("本软件为免费软件"),
          QStringLiteral("版本: ") + QStringLiteral(VELOMI_VERSION),
          QStringLiteral("作者: Velomi"),
          QStringLiteral("邮箱: ") + rules::kAuthorMail,
          QStringLiteral("网站: ") + rules::kAuthorWebText,
          QString(),
          QStringLiteral("感谢您的使用与支持！")};
}

TFrm_About::TFrm_About(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Frm_About"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QStringLiteral("关于") + rules::kApplicationTitle);
  setModal(false);
  setFixedSize(372, 214);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, kCream);
  setPalette(pal);
  setAutoFillBackground(true);

  InitUiResources();
  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(0, 0, 150, 214);
  Image1->setPixmap(QPixmap(QStringLiteral(":/velomi/about.png")));

  QFont brand(QStringLiteral("GungsuhChe"));
  brand.setPixelSize(56);
  brand.setBold(true);
  // The shadow first, so that the front copy is drawn over it; clicks on the shadow reach
  // whatever lies under it.
  Label3 =
      MakeLabel(this, "Label3", QStringLiteral("Velomi"), QRect(160, 19, 174, 56), kShadow, brand);
  Label3->setAttribute(Qt::WA_TransparentForMouseEvents);
  Label1 =
      MakeLabel(this, "Label1", QStringLiteral("Velomi"), QRect(158, 16, 174, 56), kMaroon, brand);

  QFont text(QStringLiteral("宋体"));
  text.setPixelSize(13);
  Label2 = MakeLabel(this, "Label2", QString(), QRect(160, 80, 178, 104), kMaroon, text);
  Label2->setWordWrap(true);
  Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // Eight lines of 13 pixels fill the 104-pixel label exactly.
  QString html = QStringLiteral("<div style=\"line-height:13px\">");
  for (const QString& line : TextLines()) html += line.toHtmlEscaped() + QStringLiteral("<br>");
  html.chop(4);
  html += QStringLiteral("</div>");
  Label2->setTextFormat(Qt::RichText);
  Label2->setTextInteractionFlags(Qt::NoTextInteraction);
  Label2->setText(html);

  if (QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void TFrm_About::Image1Click() { close(); }

void TFrm_About::mouseReleaseEvent(QMouseEvent* event) {
  // The picture and the labels do not take clicks, so every click lands here.
  if (event->button() == Qt::LeftButton) {
    Image1Click();
    return;
  }
  QDialog::mouseReleaseEvent(event);
}
