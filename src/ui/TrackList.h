// The track list `LV`: a table view of the core's track list model (core::TrackListModel), with
// the four columns of the window (file name, title, artist, folder), a check box and a mark before
// each file name, and the optional columns a right click on the header offers (专辑, 年份, 音轨,
// 流派, 新文件名; off at first, the choice remembered). While an optional column is shown, a click
// on a header sorts by it; otherwise header clicks do nothing. A click on a row's check box
// toggles the mark only: the current row and the selection stay as they are.
#pragma once

#include <QIcon>
#include <QString>
#include <QTableView>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "RowIcons.h"
#include "core/model/TrackListModel.h"

class QKeyEvent;
class QMouseEvent;

// The core's model with the row marks as icons.
class TTrackListModel : public core::TrackListModel {
 public:
  TTrackListModel(const std::array<QIcon, rowicons::kMarkCount>& images, QObject* parent);
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  std::array<QIcon, rowicons::kMarkCount> images_;
};

class TTrackList : public QTableView {
  Q_OBJECT

 public:
  enum Column { kFileName = 0, kTitle = 1, kArtist = 2, kFolder = 3 };

  TTrackList(const std::array<QIcon, rowicons::kMarkCount>& images, QWidget* parent = nullptr);

  TTrackListModel* Model() const { return model_; }
  int rowCount() const { return model_->rowCount(); }

  // Appends a checked row with the note mark; neither selects nor scrolls to it. The file name and
  // the folder are taken as UTF-8 names.
  void AppendRow(const QString& fileName, const QString& title, const QString& artist,
                 const QString& folder);
  // Appends many rows at once, which costs far less than appending them one by one.
  void AppendRows(const std::vector<core::TrackListModel::NewRow>& rows) { model_->Append(rows); }
  void Clear() { model_->Clear(); }

  // The texts shown: for showing only, never for finding the file.
  QString FileName(int row) const { return model_->ShownFileName(row); }
  QString Title(int row) const { return model_->Text(row, core::TagField::kTitle); }
  QString Artist(int row) const { return model_->Text(row, core::TagField::kArtist); }
  QString Folder(int row) const { return model_->ShownFolder(row); }
  QString FullPath(int row) const { return Folder(row) + FileName(row); }
  QString ToolTip(int row) const { return model_->ReasonOf(row); }
  // The file name, the folder and the full path as the file system's bytes.
  std::string NativeFileName(int row) const { return model_->FileNameOf(row); }
  std::string NativeFolder(int row) const { return model_->FolderOf(row); }
  std::string NativePath(int row) const { return model_->PathOf(row); }
  bool Checked(int row) const { return model_->Checked(row); }
  // The row's mark: core::TrackListModel::Mark.
  int Mark(int row) const { return model_->MarkOf(row); }

  // A new file name: its bytes, or a text taken as a UTF-8 name.
  void SetNativeFileName(int row, const std::string& name) { model_->SetFileName(row, name); }
  void SetFileName(int row, const QString& name);
  void SetMark(int row, int mark, const QString& reason = QString()) {
    model_->SetMark(row, mark, reason);
  }
  void SetChecked(int row, bool checked) { model_->SetChecked(row, checked); }

  // The first selected row in list order, or -1 when none is selected.
  int SelectedRow() const;

  // Which optional columns are shown (by core::TrackListModel::Column), as chosen from the
  // header's menu; remembered across runs.
  bool ColumnShown(int column) const { return !isColumnHidden(column); }
  void ShowColumn(int column, bool shown);

 signals:
  // A click of the left mouse button anywhere in the list but on a check box, after the list has
  // handled it (its selection is up to date).
  void leftClicked();
  // The user moved the current row with a key or a right or middle click, and that row is
  // highlighted.
  void currentRowChosen(int row);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // Home and End go to the first and the last row, as in a list, not along the row.
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  // Until the user drags a column's border, the shown columns share the list's width.
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Runs the list's own handling of one input event, then tells whether it chose a current row.
  template <class Handle>
  void ReportChosenRow(Handle handle);
  // True when `pos` (viewport coordinates) is on the check box of a row; gives the row.
  bool OnCheckBox(const QPoint& pos, int& row) const;
  void HeaderMenu(const QPoint& pos);
  void ColumnsChanged();
  // Gives the shown columns equal widths that fill the list.
  void ShareWidth();

  TTrackListModel* model_;
  bool sharing_ = false;     // ShareWidth is resizing the columns
  bool userSized_ = false;   // the user has dragged a column's border
  bool checkPress_ = false;  // the press went to a check box: the release is no click on the row
};
