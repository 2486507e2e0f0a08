#include "FixNames.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "RowIcons.h"
#include "StatusBar.h"
#include "TrackList.h"
#include "Unit1.h"
#include "WaitCursor.h"
#include "core/Batch.h"
#include "core/journal/Journal.h"
#include "core/text/Rules.h"

namespace {

QString StatusText(const core::NameEntry& e) {
  switch (e.status) {
    case core::NameStatus::kRepair:
      return QStringLiteral("修复");
    case core::NameStatus::kAmbiguous:
      return QStringLiteral("需要确认：请选择读法，否则不改名");
    default:
      return e.reason;
  }
}

}  // namespace

TFrmFixNames::TFrmFixNames(QWidget* parent, core::NamePlan plan)
    : QDialog(parent), plan_(std::move(plan)), original_(plan_), picks_(plan_.entries.size(), -1) {
  setObjectName(QStringLiteral("FrmFixNames"));
  setWindowTitle(QStringLiteral("修复乱码文件名"));
  auto* layout = new QVBoxLayout(this);
  LSummary = new QLabel(this);
  LSummary->setObjectName(QStringLiteral("LSummary"));
  LvNames = new QTableWidget(static_cast<int>(plan_.entries.size()), kColumns, this);
  LvNames->setObjectName(QStringLiteral("LvNames"));
  LvNames->setHorizontalHeaderLabels({QStringLiteral("现在的名称"), QStringLiteral("修复后的名称"),
                                      QStringLiteral("编码"), QStringLiteral("状态")});
  LvNames->verticalHeader()->hide();
  LvNames->setEditTriggers(QAbstractItemView::NoEditTriggers);
  LvNames->setSelectionBehavior(QAbstractItemView::SelectRows);
  LvNames->horizontalHeader()->setStretchLastSection(true);
  for (int row = 0; row < LvNames->rowCount(); ++row) {
    const core::NameEntry& e = plan_.entries[static_cast<size_t>(row)];
    // The name as a file manager shows it; the whole path in its tooltip.
    const QString slash = e.isFolder ? QStringLiteral("/") : QString();
    auto* old = new QTableWidgetItem(core::ShownAsIs(e.name) + slash);
    old->setToolTip(core::ShownAsIs(e.folder + e.name) + slash);
    LvNames->setItem(row, kOld, old);
    if (e.status == core::NameStatus::kAmbiguous) {
      auto* choose = new QComboBox(LvNames);
      choose->setObjectName(QStringLiteral("ChooseReading%1").arg(row));
      choose->addItem(QStringLiteral("（不改名）"));
      for (const auto& [encoding, text] : e.choices) {
        choose->addItem(
            QStringLiteral("%1（%2）").arg(text, QLatin1String(legacy::NameOf(encoding))));
      }
      connect(choose, qOverload<int>(&QComboBox::currentIndexChanged), this,
              [this, row](int index) { Pick(row, index - 1); });
      LvNames->setCellWidget(row, kNew, choose);
    }
  }
  Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  Buttons->setObjectName(QStringLiteral("Buttons"));
  Buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("修复"));
  Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  layout->addWidget(LSummary);
  layout->addWidget(LvNames);
  layout->addWidget(Buttons);
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  resize(720, 360);
  Refresh();
  LvNames->resizeColumnsToContents();
  for (int column = kOld; column < kStatus; ++column) {
    LvNames->setColumnWidth(column, std::min(LvNames->columnWidth(column), 300));
  }
}

void TFrmFixNames::Pick(int row, int choice) {
  if (row < 0 || row >= static_cast<int>(picks_.size())) return;
  picks_[static_cast<size_t>(row)] = choice;
  // The plan again from what it was, with every pick made so far.
  plan_ = original_;
  for (size_t i = 0; i < picks_.size(); ++i) {
    if (picks_[i] >= 0) core::PickReading(plan_, i, static_cast<size_t>(picks_[i]));
  }
  Refresh();
}

void TFrmFixNames::Refresh() {
  LSummary->setText(core::SummarizeNamePlan(plan_));
  for (int row = 0; row < LvNames->rowCount(); ++row) {
    const core::NameEntry& e = plan_.entries[static_cast<size_t>(row)];
    const bool picked = picks_[static_cast<size_t>(row)] >= 0;
    if (LvNames->cellWidget(row, kNew) == nullptr) {
      LvNames->setItem(row, kNew, new QTableWidgetItem(QString::fromStdString(e.newName)));
    }
    const bool repaired = e.status == core::NameStatus::kRepair;
    LvNames->setItem(row, kEncoding,
                     new QTableWidgetItem(repaired || picked ? core::EncodingLabel(e) : QString()));
    auto* status = new QTableWidgetItem(StatusText(e));
    status->setToolTip(e.reason);
    LvNames->setItem(row, kStatus, status);
  }
  Buttons->button(QDialogButtonBox::Ok)->setEnabled(plan_.Count(core::NameStatus::kRepair) > 0);
}

// ---- The window's handler

void TForm1::NFixNamesClick() {
  Guarded([this] {
    std::vector<std::string> files;
    for (int row : LV->Model()->CheckedRows()) files.push_back(LV->NativePath(row));
    if (files.empty()) {
      Hint(QStringLiteral("请先勾选要修复文件名的文件！"));
      return;
    }
    core::NamePlan plan = [&] {
      WaitCursor wait;
      return core::PlanFixNames(core::NameTargetsOfFiles(files));
    }();
    if (plan.entries.empty()) {
      Tell(QStringLiteral("勾选的文件和它们的文件夹没有乱码的名称"), {}, false);
      return;
    }
    TFrmFixNames dialog(this, std::move(plan));
    if (dialog.exec() != QDialog::Accepted) return;
    ApplyNamePlan(dialog.Plan());
  });
}

void TForm1::ApplyNamePlan(const core::NamePlan& plan) {
  WaitCursor wait;
  core::ApplyOptions options = JournalOptions();
  const core::ApplyReport report = core::ApplyFixNames(plan, options);
  UpdateUndo();
  int done = 0, failed = 0;
  QStringList failures;
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const core::NameEntry& e = plan.entries[i];
    const core::EntryResult& result = report.results[i];
    const std::string oldPath = e.folder + e.name;
    if (result.outcome == core::Outcome::kDone) {
      ++done;
      // The rows follow: a file's rows get its new name, a folder's the new folder.
      if (e.isFolder) {
        LV->Model()->MoveFolder(oldPath + '/', e.folder + e.newName + '/', false);
        FolderRenamed(oldPath + '/', e.folder + e.newName + '/');
        continue;
      }
      const QString tip = QStringLiteral("已修复文件名：%1 → %2（%3）")
                              .arg(core::ShownAsIs(e.name), QString::fromStdString(e.newName),
                                   core::EncodingLabel(e));
      for (int row : RowsOfFile(oldPath)) {
        MarkRow(row, rowicons::kTick, tip);
        LV->SetNativeFileName(row, e.newName);
      }
      FileRenamed(oldPath, e.folder + e.newName);
    } else if (result.outcome == core::Outcome::kFailed) {
      ++failed;
      failures << QStringLiteral("%1：%2").arg(core::ShownAsIs(oldPath), result.reason);
      MarkFile(oldPath, rowicons::kCross, QStringLiteral("修复文件名失败：") + result.reason);
    }
  }
  QString text = QStringLiteral("已修复 %1 个名称").arg(done);
  if (failed > 0) text += QStringLiteral("，%1 个失败").arg(failed);
  const int left = static_cast<int>(plan.entries.size()) - plan.Count(core::NameStatus::kRepair);
  if (left > 0) text += QStringLiteral("，%1 个未改").arg(left);
  if (report.undoable && done > 0) text += QStringLiteral("，可撤销（Ctrl+Z）");
  if (!report.warning.isEmpty()) failures.prepend(report.warning);
  Tell(text, failures.join(QLatin1Char('\n')), failed > 0 || !report.warning.isEmpty());
}
