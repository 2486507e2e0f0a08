#include "TrackList.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>

#include "core/Rules.h"

namespace {

// A name's bytes and its text, made once for all the rows that share it (the rows of one folder
// share one copy of each).
struct SharedName {
  std::string bytes;
  QByteArray data;
  QString text;
  bool made = false;

  void Take(const std::string& name) {
    if (made && name == bytes) return;
    bytes = name;
    data = QByteArray::fromStdString(name);
    text = rules::DisplayName(name);
    made = true;
  }
};

// A cell that shows a name and keeps its bytes.
void SetNameCell(QTableWidgetItem& item, int role, const SharedName& name) {
  item.setText(name.text);
  item.setData(role, name.data);
}

void SetNameCell(QTableWidgetItem& item, int role, const std::string& bytes) {
  SharedName name;
  name.Take(bytes);
  SetNameCell(item, role, name);
}

}  // namespace

TTrackList::TTrackList(const std::array<QIcon, 3>& images, QWidget* parent)
    : QTableWidget(0, 4, parent), images_(images) {
  setHorizontalHeaderLabels({QStringLiteral("文件名"), QStringLiteral("歌曲标题"),
                             QStringLiteral("歌手"), QStringLiteral("路径")});
  horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setSortIndicatorShown(false);
  horizontalHeader()->setHighlightSections(false);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(18);
  setSortingEnabled(false);
  setShowGrid(true);
  setWordWrap(false);
  setIconSize(QSize(16, 16));
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTextElideMode(Qt::ElideRight);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // Tab and Shift+Tab go to the next control; the arrow keys move inside the list.
  setTabKeyNavigation(false);

  // The selection stays visible while the list does not have the focus.
  QPalette pal = palette();
  pal.setColor(QPalette::Inactive, QPalette::Highlight,
               pal.color(QPalette::Active, QPalette::Highlight));
  pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
               pal.color(QPalette::Active, QPalette::HighlightedText));
  setPalette(pal);
}

void TTrackList::AppendRow(const QString& fileName, const QString& title, const QString& artist,
                           const QString& folder) {
  AppendRows({RowTexts{rules::NativePath(fileName), title, artist, rules::NativePath(folder)}});
}

void TTrackList::AppendRows(const std::vector<RowTexts>& rows) {
  if (rows.empty()) return;
  const int first = rowCount();
  setRowCount(first + static_cast<int>(rows.size()));
  SharedName folder;
  for (size_t i = 0; i < rows.size(); ++i) {
    folder.Take(rows[i].folder);
    FillRow(first + static_cast<int>(i), rows[i], folder.text, folder.data);
  }
}

void TTrackList::FillRow(int row, const RowTexts& texts, const QString& folderText,
                         const QByteArray& folderBytes) {
  auto* first = new QTableWidgetItem(images_[0], QString());
  SetNameCell(*first, kNativeRole, texts.fileName);
  first->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  first->setCheckState(Qt::Checked);
  first->setData(Qt::UserRole, 0);
  setItem(row, kFileName, first);
  const QString* rest[] = {&texts.title, &texts.artist};
  for (int column = kTitle; column <= kArtist; ++column) {
    auto* item = new QTableWidgetItem(*rest[column - kTitle]);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    setItem(row, column, item);
  }
  auto* folder = new QTableWidgetItem(folderText);
  folder->setData(kNativeRole, folderBytes);
  folder->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  setItem(row, kFolder, folder);
}

bool TTrackList::Checked(int row) const {
  const QTableWidgetItem* it = item(row, kFileName);
  return it != nullptr && it->checkState() == Qt::Checked;
}

int TTrackList::Mark(int row) const {
  const QTableWidgetItem* it = item(row, kFileName);
  return it != nullptr ? it->data(Qt::UserRole).toInt() : 0;
}

void TTrackList::SetNativeFileName(int row, const std::string& name) {
  if (QTableWidgetItem* it = item(row, kFileName)) SetNameCell(*it, kNativeRole, name);
}

void TTrackList::SetFileName(int row, const QString& name) {
  SetNativeFileName(row, rules::NativePath(name));
}

void TTrackList::SetMark(int row, int mark) {
  QTableWidgetItem* it = item(row, kFileName);
  if (it == nullptr || mark < 0 || mark > 2) return;
  it->setData(Qt::UserRole, mark);
  it->setIcon(images_[mark]);
}

void TTrackList::SetChecked(int row, bool checked) {
  if (QTableWidgetItem* it = item(row, kFileName)) {
    it->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
  }
}

int TTrackList::SelectedRow() const {
  int first = -1;
  const QModelIndexList rows = selectionModel()->selectedRows();
  for (const QModelIndex& index : rows) {
    if (first < 0 || index.row() < first) first = index.row();
  }
  return first;
}

template <class Handle>
void TTrackList::ReportChosenRow(Handle handle) {
  const int before = currentRow();
  const bool wasSelected = before >= 0 && selectionModel()->isRowSelected(before, QModelIndex());
  handle();
  const int row = currentRow();
  if (row < 0 || !selectionModel()->isRowSelected(row, QModelIndex())) return;
  if (row != before || !wasSelected) emit currentRowChosen(row);
}

void TTrackList::mousePressEvent(QMouseEvent* event) {
  // A left click shows its file when the button is released (leftClicked).
  if (event->button() == Qt::LeftButton) {
    QTableWidget::mousePressEvent(event);
    return;
  }
  ReportChosenRow([&] { QTableWidget::mousePressEvent(event); });
}

void TTrackList::keyPressEvent(QKeyEvent* event) {
  ReportChosenRow([&] { QTableWidget::keyPressEvent(event); });
}

QModelIndex TTrackList::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  if (action == MoveHome || action == MoveEnd) modifiers |= Qt::ControlModifier;
  return QTableWidget::moveCursor(action, modifiers);
}

void TTrackList::mouseReleaseEvent(QMouseEvent* event) {
  QTableWidget::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton) emit leftClicked();
}

QString TTrackList::Text(int row, int column) const {
  const QTableWidgetItem* it = item(row, column);
  return it != nullptr ? it->text() : QString();
}

void TTrackList::SetText(int row, int column, const QString& text) {
  if (QTableWidgetItem* it = item(row, column)) it->setText(text);
}

std::string TTrackList::Bytes(int row, int column) const {
  const QTableWidgetItem* it = item(row, column);
  return it != nullptr ? it->data(kNativeRole).toByteArray().toStdString() : std::string();
}
