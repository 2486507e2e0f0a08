#include "TrackList.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPalette>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionViewItem>

#include "core/text/Rules.h"

namespace {

QSettings Settings() { return QSettings(QStringLiteral("velomi"), QStringLiteral("velomi")); }

QString ColumnKey(int column) { return QStringLiteral("ListColumn%1").arg(column); }

}  // namespace

TTrackListModel::TTrackListModel(const std::array<QIcon, rowicons::kMarkCount>& images,
                                 QObject* parent)
    : core::TrackListModel(parent), images_(images) {}

QVariant TTrackListModel::data(const QModelIndex& index, int role) const {
  if (role == Qt::DecorationRole && index.isValid() && index.column() == kFileName) {
    const int mark = MarkOf(index.row());
    return mark >= 0 && mark < static_cast<int>(images_.size()) ? images_[mark] : images_[0];
  }
  return core::TrackListModel::data(index, role);
}

TTrackList::TTrackList(const std::array<QIcon, rowicons::kMarkCount>& images, QWidget* parent)
    : QTableView(parent), model_(new TTrackListModel(images, this)) {
  setModel(model_);
  QHeaderView* header = horizontalHeader();
  // Every column's border can be dragged, as in the system's list view; the list scrolls
  // sideways when the columns grow wider than it.
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setStretchLastSection(true);
  header->setMinimumSectionSize(24);
  connect(header, &QHeaderView::sectionResized, this, [this] {
    if (!sharing_ && QApplication::mouseButtons() != Qt::NoButton) userSized_ = true;
  });
  // A click on a header sorts by it; nothing else sorts the list (showing a column keeps the
  // order the rows were added in).
  header->setSortIndicator(-1, Qt::AscendingOrder);
  connect(header, &QHeaderView::sortIndicatorChanged, this,
          [this](int column, Qt::SortOrder order) {
            if (column >= 0 && horizontalHeader()->sectionsClickable()) model_->sort(column, order);
          });
  header->setSortIndicatorShown(false);
  header->setHighlightSections(false);
  header->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(header, &QWidget::customContextMenuRequested, this, &TTrackList::HeaderMenu);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(18);
  setShowGrid(true);
  setWordWrap(false);
  setIconSize(QSize(16, 16));
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTextElideMode(Qt::ElideRight);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  // Tab and Shift+Tab go to the next control; the arrow keys move inside the list.
  setTabKeyNavigation(false);

  // The selection stays visible while the list does not have the focus.
  QPalette pal = palette();
  pal.setColor(QPalette::Inactive, QPalette::Highlight,
               pal.color(QPalette::Active, QPalette::Highlight));
  pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
               pal.color(QPalette::Active, QPalette::HighlightedText));
  setPalette(pal);

  const QSettings settings = Settings();
  for (int column = core::TrackListModel::kFirstOptional;
       column < core::TrackListModel::kColumnCount; ++column) {
    setColumnHidden(column, !settings.value(ColumnKey(column), false).toBool());
  }
  ColumnsChanged();
}

void TTrackList::AppendRow(const QString& fileName, const QString& title, const QString& artist,
                           const QString& folder) {
  core::TrackFields fields;
  fields.title = title;
  fields.artist = artist;
  model_->Append({{rules::NativePath(folder) + rules::NativePath(fileName), fields}});
}

void TTrackList::SetFileName(int row, const QString& name) {
  SetNativeFileName(row, rules::NativePath(name));
}

int TTrackList::SelectedRow() const {
  int first = -1;
  const QModelIndexList rows = selectionModel()->selectedRows();
  for (const QModelIndex& index : rows) {
    if (first < 0 || index.row() < first) first = index.row();
  }
  return first;
}

void TTrackList::ShowColumn(int column, bool shown) {
  if (column < core::TrackListModel::kFirstOptional ||
      column >= core::TrackListModel::kColumnCount) {
    return;
  }
  setColumnHidden(column, !shown);
  Settings().setValue(ColumnKey(column), shown);
  ColumnsChanged();
}

void TTrackList::ColumnsChanged() {
  bool optional = false;
  for (int column = core::TrackListModel::kFirstOptional;
       column < core::TrackListModel::kColumnCount; ++column) {
    optional = optional || !isColumnHidden(column);
  }
  // Header clicks sort only while an optional column is shown; the window as it was opens with
  // its four columns and a header that does nothing.
  horizontalHeader()->setSectionsClickable(optional);
  horizontalHeader()->setSortIndicatorShown(optional);
  if (!userSized_) ShareWidth();
}

void TTrackList::ShareWidth() {
  QHeaderView* header = horizontalHeader();
  const int shown = header->count() - header->hiddenSectionCount();
  if (shown == 0 || viewport()->width() <= 0) return;
  sharing_ = true;
  const int width = viewport()->width() / shown;
  for (int column = 0; column < header->count(); ++column) {
    if (!isColumnHidden(column)) header->resizeSection(column, width);
  }
  sharing_ = false;
}

void TTrackList::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  if (!userSized_) ShareWidth();
}

void TTrackList::HeaderMenu(const QPoint& pos) {
  QMenu menu(this);
  menu.setObjectName(QStringLiteral("ListColumns"));
  for (int column = core::TrackListModel::kFirstOptional;
       column < core::TrackListModel::kColumnCount; ++column) {
    QAction* action = menu.addAction(model_->headerData(column, Qt::Horizontal).toString());
    action->setCheckable(true);
    action->setChecked(!isColumnHidden(column));
    connect(action, &QAction::toggled, this, [this, column](bool on) { ShowColumn(column, on); });
  }
  menu.exec(horizontalHeader()->viewport()->mapToGlobal(pos));
}

bool TTrackList::OnCheckBox(const QPoint& pos, int& row) const {
  const QModelIndex index = indexAt(pos);
  if (!index.isValid() || index.column() != kFileName) return false;
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.rect = visualRect(index);
  option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay |
                     QStyleOptionViewItem::HasDecoration;
  option.checkState = model_->Checked(index.row()) ? Qt::Checked : Qt::Unchecked;
  const QRect box = style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
  row = index.row();
  return box.contains(pos);
}

template <class Handle>
void TTrackList::ReportChosenRow(Handle handle) {
  const QModelIndex current = currentIndex();
  const int before = current.isValid() ? current.row() : -1;
  const bool wasSelected = before >= 0 && selectionModel()->isRowSelected(before, QModelIndex());
  handle();
  const int row = currentIndex().isValid() ? currentIndex().row() : -1;
  if (row < 0 || !selectionModel()->isRowSelected(row, QModelIndex())) return;
  if (row != before || !wasSelected) emit currentRowChosen(row);
}

void TTrackList::mousePressEvent(QMouseEvent* event) {
  int row = -1;
  checkPress_ = event->button() == Qt::LeftButton && OnCheckBox(event->position().toPoint(), row);
  if (checkPress_) {
    // The mark toggles; the current row, the selection and the boxes stay as they are.
    model_->SetChecked(row, !model_->Checked(row));
    event->accept();
    return;
  }
  // A left click shows its file when the button is released (leftClicked).
  if (event->button() == Qt::LeftButton) {
    QTableView::mousePressEvent(event);
    return;
  }
  ReportChosenRow([&] { QTableView::mousePressEvent(event); });
}

void TTrackList::mouseReleaseEvent(QMouseEvent* event) {
  if (checkPress_ && event->button() == Qt::LeftButton) {
    checkPress_ = false;
    event->accept();
    return;
  }
  QTableView::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton) emit leftClicked();
}

void TTrackList::mouseDoubleClickEvent(QMouseEvent* event) {
  int row = -1;
  if (event->button() == Qt::LeftButton && OnCheckBox(event->position().toPoint(), row)) {
    model_->SetChecked(row, !model_->Checked(row));  // a second quick click toggles again
    checkPress_ = true;
    event->accept();
    return;
  }
  QTableView::mouseDoubleClickEvent(event);
}

void TTrackList::keyPressEvent(QKeyEvent* event) {
  ReportChosenRow([&] { QTableView::keyPressEvent(event); });
}

QModelIndex TTrackList::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  if (action == MoveHome || action == MoveEnd) modifiers |= Qt::ControlModifier;
  return QTableView::moveCursor(action, modifiers);
}
