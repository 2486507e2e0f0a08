// The track list: one row per added file with a check box and a mark, the file name, the title,
// the artist and the folder (ending in "/"). The folder followed by the file name is the file's
// full path; nothing else keeps it.
#pragma once

#include <QIcon>
#include <QString>
#include <QTableWidget>
#include <array>

class QMouseEvent;

class TTrackList : public QTableWidget {
  Q_OBJECT

 public:
  enum Column { kFileName = 0, kTitle = 1, kArtist = 2, kFolder = 3 };

  TTrackList(const std::array<QIcon, 3>& images, QWidget* parent = nullptr);

  // Appends a checked row with the note mark; neither selects nor scrolls to it.
  void AppendRow(const QString& fileName, const QString& title, const QString& artist,
                 const QString& folder);

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

  // The first selected row in list order, or -1 when none is selected.
  int SelectedRow() const;

 signals:
  // A click of the left mouse button anywhere in the list, after the list has handled it (its
  // selection and check boxes are up to date).
  void leftClicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QString Text(int row, int column) const;
  void SetText(int row, int column, const QString& text);

  std::array<QIcon, 3> images_;
};
