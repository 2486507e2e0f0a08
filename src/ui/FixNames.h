// The dialog of the list's "修复乱码文件名…": the plan of repairing the garbled names of the
// checked rows' files (and the files that share their names' stems) and folders, one row a name:
// the name as it is now, the repaired name, the encoding and what becomes of it. An ambiguous name
// is left unless the user picks one of its readings in its row; the conflicts follow the picks.
#pragma once

#include <QDialog>

#include "core/plans/Plans.h"

class QDialogButtonBox;
class QLabel;
class QTableWidget;

class TFrmFixNames : public QDialog {
  Q_OBJECT

 public:
  enum Column { kOld, kNew, kEncoding, kStatus, kColumns };

  TFrmFixNames(QWidget* parent, core::NamePlan plan);

  QLabel* LSummary = nullptr;
  QTableWidget* LvNames = nullptr;
  QDialogButtonBox* Buttons = nullptr;

  // The plan with the user's picks.
  const core::NamePlan& Plan() const { return plan_; }
  // Picks reading `choice` of the row's ambiguous name (-1: leave it).
  void Pick(int row, int choice);

 private:
  void Refresh();

  core::NamePlan plan_;
  core::NamePlan original_;  // before any pick: a pick taken back starts from it
  std::vector<int> picks_;   // each row's pick, -1 for none
};
