// The track list: one row per added file with a check box and a mark, the file name, the title,
// the artist and the folder (ending in "/"). The folder followed by the file name is the file's
// full path; nothing else keeps it. The file name and the folder are kept as the file system's
// bytes, which reach the system calls unchanged; their columns show them as text (see
// rules::DisplayName), which is never turned back into a path.
#pragma once

#include <QIcon>
#include <QString>
#include <QTableWidget>
#include <array>
#include <string>
#include <vector>

class QKeyEvent;
class QMouseEvent;

class TTrackList : public QTableWidget {
  Q_OBJECT

 public:
  enum Column { kFileName = 0, kTitle = 1, kArtist = 2, kFolder = 3 };

  TTrackList(const std::array<QIcon, 3>& images, QWidget* parent = nullptr);

  // The contents of one row: the file name and the folder as the file system's bytes.
  struct RowTexts {
    std::string fileName;
    QString title;
    QString artist;
    std::string folder;
  };

  // Appends a checked row with the note mark; neither selects nor scrolls to it. The file name and
  // the folder are taken as UTF-8 names.
  void AppendRow(const QString& fileName, const QString& title, const QString& artist,
                 const QString& folder);
  // Appends many such rows at once, which costs less than appending them one by one.
  void AppendRows(const std::vector<RowTexts>& rows);

  // The texts shown: for showing only, never for finding the file.
  QString FileName(int row) const { return Text(row, kFileName); }
  QString Title(int row) const { return Text(row, kTitle); }
  QString Artist(int row) const { return Text(row, kArtist); }
  QString Folder(int row) const { return Text(row, kFolder); }
  QString FullPath(int row) const { return Folder(row) + FileName(row); }
  // The file name, the folder and the full path as the file system's bytes.
  std::string NativeFileName(int row) const { return Bytes(row, kFileName); }
  std::string NativeFolder(int row) const { return Bytes(row, kFolder); }
  std::string NativePath(int row) const { return NativeFolder(row) + NativeFileName(row); }
  bool Checked(int row) const;
  // The row's mark, 0 (note), 1 (tick) or 2 (cross), kept under Qt::UserRole of its first column.
  int Mark(int row) const;

  // A new file name: its bytes, or a text taken as a UTF-8 name.
  void SetNativeFileName(int row, const std::string& name);
  void SetFileName(int row, const QString& name);
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
  // Where the file name's and the folder's cells keep their bytes.
  static constexpr int kNativeRole = Qt::UserRole + 1;
  // Runs the list's own handling of one input event, then tells whether it chose a current row.
  template <class Handle>
  void ReportChosenRow(Handle handle);

  QString Text(int row, int column) const;
  void SetText(int row, int column, const QString& text);
  std::string Bytes(int row, int column) const;

  // Fills the cells of a row that exists already; the folder's text and bytes are given.
  void FillRow(int row, const RowTexts& texts, const QString& folderText,
               const QByteArray& folderBytes);

  std::array<QIcon, 3> images_;
};
