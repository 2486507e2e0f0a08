// The track list: one row per added file (a file added twice has two rows), with its check mark,
// its mark of the last action and the reason of it, its file name and folder as the file system's
// bytes, and its tag's texts as the file holds them. The window shows it in a table view; the
// rename and batch-edit plans take their tracks from it; after every write the window puts in the
// row what the file now holds, so that the window's rename and `velomi-tag rename` give the same
// names. Rows are found by path through an index of their own.
//
// Memory: a row keeps its folder as an index into the list's folders, and its name and texts in
// one UTF-8 string, so that a folder of 100,000 files costs well under 200 bytes a row.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/fields/Fields.h"
#include "core/fields/NameTemplate.h"
#include "core/plans/Plans.h"

namespace core {

class TrackListModel : public QAbstractTableModel {
 public:
  // The four columns of the window, then those a user may add (off at first).
  enum Column {
    kFileName,
    kTitle,
    kArtist,
    kFolder,
    kAlbum,
    kYear,
    kTrack,
    kGenre,
    kNewName,  // what the chosen rename rule would name the file
    kColumnCount
  };
  static constexpr int kFirstOptional = kAlbum;

  // The marks a row carries: as added, the last write or rename done, failed, and what the
  // window tells after a batch or an undo.
  enum Mark : uint8_t {
    kNote = 0,
    kTick = 1,
    kCross = 2,
    kUndone = 3,
    kSkipped = 4,
    kNotReached = 5,
    kGarbled = 6,  // as added: players show the file's tag garbled (legacy text)
  };
  static constexpr int kMarkRole = Qt::UserRole;       // the row's mark, as an int
  static constexpr int kBytesRole = Qt::UserRole + 1;  // a name's or folder's bytes

  explicit TrackListModel(QObject* parent = nullptr);

  // One file to append: its path as the file system's bytes and its tag's texts.
  struct NewRow {
    std::string path;
    TrackFields fields;
    // What players show garbled of the file's tag, for its mark's tooltip; empty: it reads right.
    QString garbled = {};
  };
  // Appends checked rows with the note mark, in one go.
  void Append(const std::vector<NewRow>& rows);
  void Clear();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  // Sorts the rows by a column's text (names by their shown text, the track number by its value).
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  // ---- One row
  const std::string& FolderOf(int row) const;  // ends in "/"
  std::string FileNameOf(int row) const;
  std::string PathOf(int row) const;
  QString ShownFileName(int row) const;
  QString ShownFolder(int row) const;
  TrackFields FieldsOf(int row) const;
  QString Text(int row, TagField field) const;
  bool Checked(int row) const;
  int MarkOf(int row) const;
  // The file's tag holds legacy text that players show garbled, as it was read when added.
  bool Garbled(int row) const;
  void SetGarbled(int row, bool garbled);
  QString ReasonOf(int row) const;
  // The track a plan takes from the row: its place in the list is the number of rule 3.
  Track TrackOf(int row) const;

  void SetChecked(int row, bool checked);
  void SetMark(int row, int mark, const QString& reason = QString());
  void SetFields(int row, const TrackFields& fields);
  void SetFileName(int row, const std::string& name);

  // Every row of the file `path` (its folder and name as the rows keep them), in list order.
  std::vector<int> RowsOf(const std::string& path) const;
  // The same for a file named by its folder's real path (as the journal keeps it): rows whose
  // folder resolves to that folder.
  std::vector<int> RowsOfRealPath(const std::string& path) const;
  std::vector<int> CheckedRows() const;

  // A folder renamed: every row in it or below it follows, `from` and `to` ending in "/". The
  // rows' folders are matched as they keep them, or (`real`) by their real paths (as the journal
  // names them), which PrimeRealFolders must have noted while the folders held their names.
  void MoveFolder(const std::string& from, const std::string& to, bool real);
  void PrimeRealFolders() const;

  // What the "新文件名" column previews: rule 1 to 3 (0: nothing).
  void SetPreviewRule(int rule);
  // While set, the column previews the names this template gives instead of the rule's.
  void SetPreviewTemplate(std::optional<NameTemplate> format);

  // The bytes the rows take (their own room, their strings' and the index's), for benchmarks.
  int64_t MemoryBytes() const;

 private:
  struct Row {
    std::string data;  // the file name, then the seven texts in UTF-8, each ending at ends[i]
    std::array<uint16_t, 8> ends{};
    uint32_t folder = 0;
    uint32_t reason = 0;  // index into reasons_ (0: none)
    uint8_t mark = kNote;
    bool checked = true;
    bool garbled = false;
  };
  struct Folder {
    std::string bytes;
    QString text;
  };

  static Row MakeRow(std::string_view name, const TrackFields& fields, uint32_t folder);
  std::string_view Part(const Row& row, size_t part) const;
  uint32_t FolderId(const std::string& folder);
  void IndexRow(int row) const;
  void UnindexRow(int row) const;
  void BuildIndex() const;
  void Changed(int row, int firstColumn, int lastColumn);

  std::vector<Row> rows_;
  std::vector<Folder> folders_;
  std::unordered_map<std::string, uint32_t> folderIds_;
  std::vector<QString> reasons_;
  std::unordered_map<QString, uint32_t> reasonIds_;
  int previewRule_ = 0;
  std::optional<NameTemplate> previewTemplate_;
  // The path index: open addressing over row numbers plus one, rebuilt when the rows move; a
  // renamed row's old slot is marked gone.
  static constexpr uint32_t kEmpty = 0, kGone = 0xFFFFFFFF;
  mutable std::vector<uint32_t> slots_;
  mutable size_t used_ = 0;                       // slots that are not empty (rows and gone ones)
  mutable std::vector<std::string> realFolders_;  // each folder's real path, once asked for
  mutable bool indexed_ = false;
};

}  // namespace core
