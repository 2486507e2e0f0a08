#include "ConvertDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include "WaitCursor.h"
#include "core/text/Rules.h"

namespace {

// The role that tells the filter a row needs a look.
constexpr int kNeedsALookRole = Qt::UserRole + 1;

QString EncodingText(const core::ConvertEntry& e) {
  if (!e.detection.any && !e.chosen) return {};
  const legacy::Detection d = e.Decided();
  QString text = QString::fromLatin1(legacy::NameOf(d.encoding));
  if (e.NeedsALook() && d.second) {
    text += QStringLiteral(" / ") + QString::fromLatin1(legacy::NameOf(*d.second));
  }
  if (e.chosen) text += QStringLiteral("（手选）");
  return text;
}

QString StateText(const core::ConvertEntry& e) {
  if (e.NeedsALook()) return QStringLiteral("需要确认");
  switch (e.status) {
    case core::ConvertStatus::kConvert:
      return QStringLiteral("转换");
    case core::ConvertStatus::kRefused:
      return QStringLiteral("无法转换：") + e.reason;
    case core::ConvertStatus::kNothing:
      break;
  }
  return QStringLiteral("无需转换：") + e.reason;
}

QString FieldsText(const core::ConvertEntry& e, const QString& separator) {
  QStringList parts;
  for (const core::ConvertText& t : e.texts) {
    QString after = t.after;
    // A close call shows both readings.
    for (const core::ConvertText& second : e.secondTexts) {
      if (e.NeedsALook() && second.field == t.field) after += QStringLiteral(" 或 ") + second.after;
    }
    parts << QStringLiteral("%1：%2 → %3")
                 .arg(core::ConvertFieldName(t.field),
                      t.now.isEmpty() ? QStringLiteral("（无）") : t.now, after);
  }
  return parts.join(separator);
}

}  // namespace

ConvertPlanModel::ConvertPlanModel(core::ConvertPlan plan, QObject* parent)
    : QAbstractTableModel(parent), plan_(std::move(plan)), checked_(plan_.entries.size()) {
  for (size_t i = 0; i < plan_.entries.size(); ++i) {
    const core::ConvertEntry& e = plan_.entries[i];
    if (e.status != core::ConvertStatus::kNothing || e.NeedsALook()) rows_.push_back(i);
    checked_[i] = e.status == core::ConvertStatus::kConvert;
  }
}

int ConvertPlanModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ConvertPlanModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant ConvertPlanModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const core::ConvertEntry& e = EntryOf(index.row());
  if (role == kNeedsALookRole) return e.NeedsALook();
  if (role == Qt::CheckStateRole && index.column() == kFile) {
    return checked_[rows_[index.row()]] ? Qt::Checked : Qt::Unchecked;
  }
  if (role == Qt::ToolTipRole) {
    return index.column() == kFields ? FieldsText(e, QStringLiteral("\n"))
                                     : rules::DisplayName(e.path);
  }
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case kFile:
      return rules::DisplayName(e.path.substr(e.path.rfind('/') + 1));
    case kEncoding:
      return EncodingText(e);
    case kState:
      return StateText(e);
    case kFields:
      return FieldsText(e, QStringLiteral("；"));
    default:
      return {};
  }
}

bool ConvertPlanModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != kFile || role != Qt::CheckStateRole) return false;
  const size_t entry = rows_[index.row()];
  if (plan_.entries[entry].status != core::ConvertStatus::kConvert) return false;
  checked_[entry] = value.toInt() == Qt::Checked;
  emit dataChanged(index, index, {Qt::CheckStateRole});
  emit checksChanged();
  return true;
}

Qt::ItemFlags ConvertPlanModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && index.column() == kFile &&
      EntryOf(index.row()).status == core::ConvertStatus::kConvert) {
    f |= Qt::ItemIsUserCheckable;
  }
  return f;
}

QVariant ConvertPlanModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kFile:
      return QStringLiteral("文件");
    case kEncoding:
      return QStringLiteral("编码");
    case kState:
      return QStringLiteral("状态");
    case kFields:
      return QStringLiteral("播放器现在显示 → 转换后");
    default:
      return {};
  }
}

void ConvertPlanModel::Choose(int row, std::optional<legacy::Encoding> encoding) {
  const size_t entry = rows_[row];
  core::ChooseEncoding(plan_.entries[entry], encoding);
  checked_[entry] = plan_.entries[entry].status == core::ConvertStatus::kConvert;
  emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
  emit checksChanged();
}

bool ConvertPlanModel::NeedsALook(int row) const { return EntryOf(row).NeedsALook(); }

core::ConvertPlan ConvertPlanModel::CheckedPlan() const {
  core::ConvertPlan plan = plan_;
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    core::ConvertEntry& e = plan.entries[i];
    if (e.status == core::ConvertStatus::kConvert && !checked_[i]) {
      e.status = core::ConvertStatus::kNothing;
      e.reason = QStringLiteral("未勾选");
    }
  }
  return plan;
}

int ConvertPlanModel::CheckedCount() const {
  int n = 0;
  for (size_t i = 0; i < plan_.entries.size(); ++i) {
    n += checked_[i] && plan_.entries[i].status == core::ConvertStatus::kConvert;
  }
  return n;
}

// ---- The dialog

TFrmConvert::TFrmConvert(QWidget* parent, core::ConvertPlan plan) : QDialog(parent) {
  setObjectName(QStringLiteral("FrmConvert"));
  setWindowTitle(QStringLiteral("转换为 Unicode 标签"));
  Model = new ConvertPlanModel(std::move(plan), this);
  filter_ = new QSortFilterProxyModel(this);
  filter_->setSourceModel(Model);
  filter_->setFilterRole(kNeedsALookRole);

  auto* intro = new QLabel(
      QStringLiteral("勾选的文件将按所列编码转换为 Unicode 标签，播放器将显示“转换后”的文字。"
                     "标为“需要确认”的文件有两种相近的读法，请选择编码后再勾选。"),
      this);
  intro->setWordWrap(true);

  TblConvert = new QTableView(this);
  TblConvert->setObjectName(QStringLiteral("TblConvert"));
  TblConvert->setModel(filter_);
  TblConvert->setSelectionBehavior(QAbstractItemView::SelectRows);
  TblConvert->setWordWrap(false);
  TblConvert->verticalHeader()->hide();
  TblConvert->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  TblConvert->horizontalHeader()->setStretchLastSection(true);
  TblConvert->setColumnWidth(ConvertPlanModel::kFile, 220);
  TblConvert->setColumnWidth(ConvertPlanModel::kEncoding, 110);
  TblConvert->setColumnWidth(ConvertPlanModel::kState, 110);

  ChkOnlyMarked = new QCheckBox(QStringLiteral("只看需要确认的文件"), this);
  ChkOnlyMarked->setObjectName(QStringLiteral("ChkOnlyMarked"));
  connect(ChkOnlyMarked, &QCheckBox::toggled, this, [this](bool only) {
    filter_->setFilterFixedString(only ? QStringLiteral("true") : QString());
  });

  ComboEncoding = new QComboBox(this);
  ComboEncoding->setObjectName(QStringLiteral("ComboEncoding"));
  ComboEncoding->addItem(QStringLiteral("自动识别"));
  for (legacy::Encoding e : legacy::kEncodings) {
    ComboEncoding->addItem(QString::fromLatin1(legacy::NameOf(e)), static_cast<int>(e));
  }
  BtnEncodingSelected = new QPushButton(QStringLiteral("用于选中的文件"), this);
  BtnEncodingSelected->setObjectName(QStringLiteral("BtnEncodingSelected"));
  BtnEncodingMarked = new QPushButton(QStringLiteral("用于所有需要确认的文件"), this);
  BtnEncodingMarked->setObjectName(QStringLiteral("BtnEncodingMarked"));
  connect(BtnEncodingSelected, &QPushButton::clicked, this, &TFrmConvert::ChooseForSelected);
  connect(BtnEncodingMarked, &QPushButton::clicked, this, &TFrmConvert::ChooseForMarked);

  LSummary = new QLabel(this);
  LSummary->setObjectName(QStringLiteral("LSummary"));

  Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  Buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("转换勾选的文件"));
  Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(Model, &ConvertPlanModel::checksChanged, this, &TFrmConvert::UpdateSummary);

  auto* choice = new QHBoxLayout;
  choice->addWidget(ChkOnlyMarked);
  choice->addStretch();
  choice->addWidget(new QLabel(QStringLiteral("编码："), this));
  choice->addWidget(ComboEncoding);
  choice->addWidget(BtnEncodingSelected);
  choice->addWidget(BtnEncodingMarked);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro);
  layout->addLayout(choice);
  layout->addWidget(TblConvert, 1);
  layout->addWidget(LSummary);
  layout->addWidget(Buttons);
  resize(900, 520);
  UpdateSummary();
}

std::optional<legacy::Encoding> TFrmConvert::ChosenEncoding() const {
  const QVariant e = ComboEncoding->currentData();
  if (!e.isValid()) return std::nullopt;
  return static_cast<legacy::Encoding>(e.toInt());
}

void TFrmConvert::ChooseForSelected() {
  WaitCursor wait;
  for (const QModelIndex& index : TblConvert->selectionModel()->selectedRows()) {
    Model->Choose(filter_->mapToSource(index).row(), ChosenEncoding());
  }
}

void TFrmConvert::ChooseForMarked() {
  WaitCursor wait;
  for (int row = 0; row < Model->rowCount(); ++row) {
    if (Model->NeedsALook(row)) Model->Choose(row, ChosenEncoding());
  }
}

void TFrmConvert::UpdateSummary() {
  const core::ConvertPlan& plan = Model->Plan();
  LSummary->setText(core::SummarizeConvertPlan(plan) +
                    QStringLiteral("；已勾选 %1 个文件").arg(Model->CheckedCount()));
  Buttons->button(QDialogButtonBox::Ok)->setEnabled(Model->CheckedCount() > 0);
}
