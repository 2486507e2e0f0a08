// The track list: one row per added file with a check box and a mark, the file name, the title,
// the artist and the folder (ending in "/"). The folder followed by the file name is the file's
// full path; nothing else keeps it.
#pragma once

#include <QIcon>
#include <QString>
#include <QTableWidget>
#include <array>
#include <vector>

class QKeyEvent;
class QMouseEvent;

class TTrackList : public QTableWidget {
  Q_OBJECT

 public:
  enum Column { kFileName = 0, kTitle = 1, kArtist = 2, kFolder = 3 };

  TTrackList(const std::array<QIcon, 3>& images, QWidget* parent = nullptr);

  // The texts of one row.
  struct RowTexts {
    QString fileName;
    QString title;
    QString artist;
    QString folder;
  };

  // Appends a checked row with the note mark; neither selects nor scrolls to it.
  void AppendRow(const QString& fileName, const QString& title, const QString& artist,
                 const QString& folder);
  // Appends many such rows at once, which costs less than appending them one by one.
  void AppendRows(const std::vector<RowTexts>& rows);

  QString FileName(int row) const { return Text(row, kFileName); }
  QString Title(int row) const { return Text(row, kTitle); }
  QString Artist(int row) const { return Text(row, kArtist); }
  QString Folder(int row) const { return Text(row, kFolder); }
  QString FullPath(int row) const { return Folder(row) + FileName(row); }
  bool Checked(int row) const;
  // The row's mark, 0 (note), 1 (tick) or 2 (cross), kept under Qt::UserRole of its first column.
  int Mark(int row) const;

  void SetFileName(int row, const QString& name) { SetText(row, kFileName, name); }
  void SetTitle(int row, const QString& title) { SetText(row, kTitle, title); }
  void SetArtist(int row, const QString& artist) { SetText(row, kArtist, artist); }
  void SetMark(int row, int mark);
  void SetChecked(int row, bool checked);

  // The first selected row in list order, or -1 when none is selected.
  int SelectedRow() const;

 signals:
  // A click of the left mouse button anywhere in the list, after the list has handled it (its
  // selection and check boxes are up to date).
  void leftClicked();
  // The user moved the current row with a key or a right or middle click, and that row is
  // highlighted.
  void currentRowChosen(int row);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // Home and End go to the first and the last row, as in a list, not along the row.
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;

 private:
  // Runs the list's own handling of one input event, then tells whether it chose a current row.
  template <class Handle>
  void ReportChosenRow(Handle handle);

  QString Text(int row, int column) const;
  void SetText(int row, int column, const QString& text);

  // Fills the cells of a row that exists already.
  void FillRow(int row, const RowTexts& texts);

  std::array<QIcon, 3> images_;
};
