#include "FormatRename.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>
#include <exception>

#include "TrackList.h"
#include "Unit1.h"
#include "WaitCursor.h"
#include "core/text/Rules.h"

namespace {

// The window's settings (~/.config/velomi/velomi.conf).
QSettings Settings() { return QSettings(QStringLiteral("velomi"), QStringLiteral("velomi")); }

const QString kFormatKey = QStringLiteral("renameFormat");

}  // namespace

TFrmFormatRename::TFrmFormatRename(QWidget* parent, std::optional<core::Track> sample)
    : QDialog(parent), sample_(std::move(sample)) {
  setObjectName(QStringLiteral("FrmFormatRename"));
  setWindowTitle(QStringLiteral("按格式改名"));
  auto* layout = new QVBoxLayout(this);
  auto* help =
      new QLabel(QStringLiteral("%a 歌手　%t 歌曲标题　%b 专辑　%y 年份　%n 音轨（%2n 补足两位）\n"
                                "%c 说明　%g 流派　%i 列表中的序号（从0起）　%% 百分号"),
                 this);
  help->setObjectName(QStringLiteral("LFormatHelp"));
  EdtFormat = new QLineEdit(LastFormat(), this);
  EdtFormat->setObjectName(QStringLiteral("EdtFormat"));
  LPreview = new QLabel(this);
  LPreview->setObjectName(QStringLiteral("LPreview"));
  LPreview->setTextFormat(Qt::PlainText);
  Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  Buttons->setObjectName(QStringLiteral("Buttons"));
  layout->addWidget(help);
  layout->addWidget(EdtFormat);
  layout->addWidget(LPreview);
  layout->addWidget(Buttons);
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(EdtFormat, &QLineEdit::textChanged, this, &TFrmFormatRename::FormatEdited);
  resize(420, sizeHint().height());
  FormatEdited();
}

QString TFrmFormatRename::LastFormat() {
  return Settings().value(kFormatKey, QStringLiteral("%a - %t")).toString();
}

void TFrmFormatRename::RememberFormat(const QString& format) {
  Settings().setValue(kFormatKey, format);
}

void TFrmFormatRename::FormatEdited() {
  core::TemplateError error;
  template_ = core::NameTemplate::Parse(EdtFormat->text(), error);
  Buttons->button(QDialogButtonBox::Ok)->setEnabled(template_.has_value());
  emit templateChanged(template_);
  if (!template_) {
    LPreview->setText(error.Describe());
  } else if (!sample_) {
    LPreview->setText(QString());
  } else {
    const core::NameTemplate::Naming naming = template_->Expand(*sample_, {});
    const QString old = rules::DisplayName(sample_->fileName);
    LPreview->setText(
        naming.skipped.isEmpty()
            ? QStringLiteral("%1 → %2%3").arg(old, naming.stem, rules::RenameExtension(old))
            : QStringLiteral("%1：%2").arg(old, naming.skipped));
  }
}

// ---- The window's handler

void TForm1::NFormatRenameClick() {
  Guarded([this] {
    std::optional<core::Track> sample;
    const std::vector<int> shown = RowsOfFile(ShownPath());
    if (!shown.empty()) sample = LV->Model()->TrackOf(shown.front());
    TFrmFormatRename dialog(this, sample);
    // While the dialog is open the 新文件名 column previews the template on every row.
    LV->Model()->SetPreviewTemplate(dialog.Template());
    connect(&dialog, &TFrmFormatRename::templateChanged, this,
            [this](const std::optional<core::NameTemplate>& format) {
              LV->Model()->SetPreviewTemplate(format);
            });
    const int answer = dialog.exec();
    LV->Model()->SetPreviewTemplate(std::nullopt);
    if (answer != QDialog::Accepted || !dialog.Template()) return;
    const core::NameTemplate format = *dialog.Template();
    TFrmFormatRename::RememberFormat(format.Text());

    core::RenamePlan plan;
    {
      WaitCursor wait;
      // Each checked row, with the texts of its file's tag as the list holds them.
      std::vector<core::Track> tracks;
      for (int row : LV->Model()->CheckedRows()) tracks.push_back(LV->Model()->TrackOf(row));
      plan = core::PlanRename(tracks, format, {});
    }
    if (!Ask(QStringLiteral("确定要按格式“%1”更改勾选的文件名吗？").arg(format.Text()),
             core::DescribeRenamePlan(plan), core::SummarizeRenamePlan(plan))) {
      return;
    }
    ApplyRenamePlan(plan);
  });
}
