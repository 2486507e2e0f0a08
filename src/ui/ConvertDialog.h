// The plan of "转换为 Unicode 标签" as a table a person can read at library size: each file with
// the encoding its text is read in and its fields before → after, a check box per file, a filter
// to the files marked "需要确认", and a choice of encoding for the selected files or for every
// marked one. The window converts the checked files of the plan the dialog ends with.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <vector>

#include "core/plans/Plans.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

// The plan's rows: the files a conversion changes or that need a look, and those it refuses.
class ConvertPlanModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kFile, kEncoding, kState, kFields, kColumnCount };

  explicit ConvertPlanModel(core::ConvertPlan plan, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Reads the row's file again in `encoding` (none: as detected); a file that then converts is
  // checked.
  void Choose(int row, std::optional<legacy::Encoding> encoding);
  bool NeedsALook(int row) const;
  // The plan with only the checked files left to convert.
  core::ConvertPlan CheckedPlan() const;
  int CheckedCount() const;
  const core::ConvertPlan& Plan() const { return plan_; }

 signals:
  void checksChanged();

 private:
  const core::ConvertEntry& EntryOf(int row) const { return plan_.entries[rows_[row]]; }

  core::ConvertPlan plan_;
  std::vector<size_t> rows_;   // the plan entry of each row
  std::vector<bool> checked_;  // per plan entry
};

class TFrmConvert : public QDialog {
  Q_OBJECT

 public:
  TFrmConvert(QWidget* parent, core::ConvertPlan plan);

  ConvertPlanModel* Model = nullptr;
  QTableView* TblConvert = nullptr;
  QCheckBox* ChkOnlyMarked = nullptr;  // "只看需要确认的文件"
  QComboBox* ComboEncoding = nullptr;  // 自动, GBK, Big5, Shift-JIS, CP1252, UTF-8
  QPushButton* BtnEncodingSelected = nullptr;
  QPushButton* BtnEncodingMarked = nullptr;
  QLabel* LSummary = nullptr;
  QDialogButtonBox* Buttons = nullptr;

  core::ConvertPlan CheckedPlan() const { return Model->CheckedPlan(); }

 private:
  std::optional<legacy::Encoding> ChosenEncoding() const;
  void ChooseForSelected();
  void ChooseForMarked();
  void UpdateSummary();

  QSortFilterProxyModel* filter_ = nullptr;
};
