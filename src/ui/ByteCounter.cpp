#include "ByteCounter.h"

#include <QLineEdit>

#include "core/text/Rules.h"

namespace {

const QColor kWarningBase(255, 228, 225);
const QColor kWarningText(200, 0, 0);

}  // namespace

TByteCounter::TByteCounter(QLineEdit* box) : QLabel(box), box_(box), normal_(box->palette()) {
  setObjectName(box->objectName() + QStringLiteral("Bytes"));
  setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  QFont small = font();
  small.setPixelSize(10);
  setFont(small);
  hide();
  connect(box_, &QLineEdit::textChanged, this, &TByteCounter::Update);
}

void TByteCounter::SetCapacity(int capacity) {
  capacity_ = capacity;
  Update();
}

void TByteCounter::Update() {
  if (capacity_ <= 0) {
    left_ = 0;
    warns_ = false;
    hide();
    box_->setTextMargins(0, 0, 0, 0);
    box_->setPalette(normal_);
    box_->setToolTip(QString());
    return;
  }
  // The save trims the text as it does here, then cuts it to the slot.
  const rules::GbkFit fit = rules::MeasureGbk(rules::TrimControl(box_->text()));
  left_ = capacity_ - fit.bytes;
  warns_ = left_ < 0 || !fit.missing.isEmpty();

  QStringList tip;
  tip << QStringLiteral("此项最多 %1 字节（GBK 编码，一个汉字占 2 字节），还剩 %2 字节。")
             .arg(capacity_)
             .arg(qMax(left_, 0));
  if (left_ < 0) {
    tip << QStringLiteral("超出 %1 字节：保存时超出的部分会被截去。").arg(-left_);
  }
  if (!fit.missing.isEmpty()) {
    tip << QStringLiteral("GBK 无法表示这些字符，保存后会变成“?”：%1").arg(fit.missing);
  }
  box_->setToolTip(tip.join(QLatin1Char('\n')));

  setText(QString::number(left_));
  QPalette counterPalette = palette();
  counterPalette.setColor(QPalette::WindowText, warns_ ? kWarningText : QColor(Qt::gray));
  setPalette(counterPalette);
  QPalette boxPalette = normal_;
  if (warns_) {
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
      boxPalette.setColor(group, QPalette::Base, kWarningBase);
    }
  }
  box_->setPalette(boxPalette);

  const int width = fontMetrics().horizontalAdvance(QStringLiteral("-000")) + 2;
  setGeometry(box_->width() - width - 4, 0, width, box_->height());
  box_->setTextMargins(0, 0, width + 2, 0);
  show();
}
