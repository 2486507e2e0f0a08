#include "core/model/TrackListModel.h"

#include <QCollator>
#include <algorithm>
#include <numeric>

#include "core/text/Rules.h"
#include "core/utils/Tr.h"
#include "platform/Folder.h"

namespace core {
namespace {

// The parts of a row's string: its file name, then the texts in this order.
constexpr const std::array<TagField, 7>& kTexts = kTrackFields;

size_t PartOf(TagField field) {
  for (size_t i = 0; i < kTexts.size(); ++i) {
    if (kTexts[i] == field) return i + 1;
  }
  return 0;
}

const char* const kHeaders[TrackListModel::kColumnCount] = {
    QT_TRANSLATE_NOOP("Core", "文件名"),  QT_TRANSLATE_NOOP("Core", "歌曲标题"),
    QT_TRANSLATE_NOOP("Core", "歌手"),    QT_TRANSLATE_NOOP("Core", "路径"),
    QT_TRANSLATE_NOOP("Core", "专辑"),    QT_TRANSLATE_NOOP("Core", "年份"),
    QT_TRANSLATE_NOOP("Core", "音轨"),    QT_TRANSLATE_NOOP("Core", "流派"),
    QT_TRANSLATE_NOOP("Core", "新文件名")};

uint64_t Hash(uint32_t folder, std::string_view name) {
  uint64_t h = 1469598103934665603ull ^ folder;  // FNV-1a over the folder's id and the name
  for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
  return h;
}

}  // namespace

TrackListModel::TrackListModel(QObject* parent) : QAbstractTableModel(parent) {
  reasons_.emplace_back();
  reasonIds_.emplace(QString(), 0);
}

namespace {

// Appends `text` to `out` in UTF-8; a lone surrogate becomes U+FFFD, as QString::toUtf8 makes it.
void AppendUtf8(const QString& text, std::string& out) {
  const char16_t* u = reinterpret_cast<const char16_t*>(text.utf16());
  const size_t n = static_cast<size_t>(text.size());
  for (size_t i = 0; i < n; ++i) {
    char32_t c = u[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
      const bool pair = c <= 0xDBFF && i + 1 < n && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF;
      c = pair ? 0x10000 + ((c - 0xD800) << 10) + (u[++i] - 0xDC00) : 0xFFFD;
    }
    if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    }
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

TrackListModel::Row TrackListModel::MakeRow(std::string_view name, const TrackFields& fields,
                                            uint32_t folder) {
  // The parts are put together in a buffer kept from row to row, and the row gets its exact size
  // in one allocation.
  static thread_local std::string parts;
  parts.assign(name.data(), name.size());
  Row row;
  row.folder = folder;
  row.ends[0] = static_cast<uint16_t>(std::min<size_t>(parts.size(), 0xFFFF));
  for (size_t i = 0; i < kTexts.size(); ++i) {
    const size_t before = parts.size();
    AppendUtf8(fields.Get(kTexts[i]), parts);
    if (parts.size() > 0xFFFF) parts.resize(before);  // a text beyond the row's bound is left out
    row.ends[i + 1] = static_cast<uint16_t>(parts.size());
  }
  row.data = parts;
  return row;
}

std::string_view TrackListModel::Part(const Row& row, size_t part) const {
  const size_t from = part == 0 ? 0 : row.ends[part - 1];
  return std::string_view(row.data).substr(from, row.ends[part] - from);
}

uint32_t TrackListModel::FolderId(const std::string& folder) {
  auto [it, added] = folderIds_.emplace(folder, static_cast<uint32_t>(folders_.size()));
  if (added) folders_.push_back({folder, rules::ShownPath(folder)});
  return it->second;
}

void TrackListModel::Append(const std::vector<NewRow>& rows) {
  if (rows.empty()) return;
  const int first = static_cast<int>(rows_.size());
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(rows.size()) - 1);
  rows_.reserve(rows_.size() + rows.size());
  // The rows of a folder come together: its id is looked up once for them.
  std::string_view lastFolder;
  uint32_t lastId = 0;
  bool known = false;
  for (const NewRow& r : rows) {
    const std::string_view path(r.path);
    const size_t slash = path.rfind('/');
    const std::string_view folder =
        slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (!known || folder != lastFolder) {
      lastId = FolderId(std::string(folder));
      lastFolder = folder;
      known = true;
    }
    rows_.push_back(MakeRow(name, r.fields, lastId));
    if (!r.garbled.isEmpty()) {
      Row& added = rows_.back();
      added.garbled = true;
      added.mark = kGarbled;
      auto [it, fresh] = reasonIds_.emplace(r.garbled, static_cast<uint32_t>(reasons_.size()));
      if (fresh) reasons_.push_back(r.garbled);
      added.reason = it->second;
    }
    if (indexed_) IndexRow(static_cast<int>(rows_.size()) - 1);
  }
  endInsertRows();
}

void TrackListModel::Clear() {
  beginResetModel();
  rows_.clear();
  rows_.shrink_to_fit();
  folders_.clear();
  folderIds_.clear();
  reasons_.resize(1);
  reasonIds_.clear();
  reasonIds_.emplace(QString(), 0);
  slots_.clear();
  realFolders_.clear();
  indexed_ = false;
  endResetModel();
}

int TrackListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TrackListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant TrackListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const int row = index.row();
  const Row& r = rows_[static_cast<size_t>(row)];
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole:
      switch (column) {
        case kFileName:
          return ShownFileName(row);
        case kTitle:
          return Text(row, TagField::kTitle);
        case kArtist:
          return Text(row, TagField::kArtist);
        case kFolder:
          return folders_[r.folder].text;
        case kAlbum:
          return Text(row, TagField::kAlbum);
        case kYear:
          return Text(row, TagField::kYear);
        case kTrack:
          return Text(row, TagField::kTrack);
        case kGenre:
          return Text(row, TagField::kGenre);
        case kNewName: {
          if (previewTemplate_) {
            const NameTemplate::Naming naming = previewTemplate_->Expand(TrackOf(row), {});
            if (!naming.skipped.isEmpty()) return {};
            return naming.stem + rules::RenameExtension(ShownFileName(row));
          }
          if (previewRule_ == 0) return {};
          const Track t = TrackOf(row);
          if (t.title.isEmpty() || t.artist.isEmpty()) return {};
          return rules::NewFileName(previewRule_, t.artist, t.title, row,
                                    rules::RenameExtension(ShownFileName(row)))
              .value_or(QString());
        }
        default:
          return {};
      }
    case Qt::CheckStateRole:
      return column == kFileName ? QVariant(r.checked ? Qt::Checked : Qt::Unchecked) : QVariant();
    case Qt::ToolTipRole:
      return column == kFileName && r.reason != 0 ? QVariant(reasons_[r.reason]) : QVariant();
    case kMarkRole:
      return static_cast<int>(r.mark);
    case kBytesRole:
      if (column == kFileName) return QByteArray::fromStdString(FileNameOf(row));
      if (column == kFolder) return QByteArray::fromStdString(folders_[r.folder].bytes);
      return {};
    default:
      return {};
  }
}

bool TrackListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != kFileName || role != Qt::CheckStateRole) return false;
  SetChecked(index.row(), value.toInt() == Qt::Checked);
  return true;
}

Qt::ItemFlags TrackListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == kFileName) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant TrackListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= kColumnCount) {
    return {};
  }
  return Core::tr(kHeaders[section]);
}

void TrackListModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= kColumnCount || rows_.size() < 2) return;
  std::vector<QString> keys(rows_.size());
  for (size_t i = 0; i < rows_.size(); ++i) {
    const QModelIndex at = index(static_cast<int>(i), column);
    keys[i] = column == kTrack
                  ? QStringLiteral("%1").arg(data(at).toString().toInt(), 10, 10, QLatin1Char('0'))
                  : data(at).toString();
  }
  QCollator collator;
  collator.setNumericMode(true);
  std::vector<size_t> order_(rows_.size());
  std::iota(order_.begin(), order_.end(), 0);
  std::stable_sort(order_.begin(), order_.end(), [&](size_t a, size_t b) {
    const int c = collator.compare(keys[a], keys[b]);
    return order == Qt::AscendingOrder ? c < 0 : c > 0;
  });
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<int> newRowOf(rows_.size());
  std::vector<Row> sorted;
  sorted.reserve(rows_.size());
  for (size_t to = 0; to < order_.size(); ++to) {
    newRowOf[order_[to]] = static_cast<int>(to);
    sorted.push_back(std::move(rows_[order_[to]]));
  }
  rows_ = std::move(sorted);
  const QModelIndexList persistent = persistentIndexList();
  QModelIndexList moved;
  for (const QModelIndex& i : persistent) {
    moved << index(newRowOf[static_cast<size_t>(i.row())], i.column());
  }
  changePersistentIndexList(persistent, moved);
  indexed_ = false;
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

const std::string& TrackListModel::FolderOf(int row) const {
  return folders_[rows_[static_cast<size_t>(row)].folder].bytes;
}

std::string TrackListModel::FileNameOf(int row) const {
  return std::string(Part(rows_[static_cast<size_t>(row)], 0));
}

std::string TrackListModel::PathOf(int row) const { return FolderOf(row) + FileNameOf(row); }

QString TrackListModel::ShownFileName(int row) const { return rules::DisplayName(FileNameOf(row)); }

QString TrackListModel::ShownFolder(int row) const {
  return folders_[rows_[static_cast<size_t>(row)].folder].text;
}

QString TrackListModel::Text(int row, TagField field) const {
  const std::string_view text = Part(rows_[static_cast<size_t>(row)], PartOf(field));
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

TrackFields TrackListModel::FieldsOf(int row) const {
  TrackFields f;
  for (TagField field : kTexts) f.Set(field, Text(row, field));
  return f;
}

bool TrackListModel::Checked(int row) const { return rows_[static_cast<size_t>(row)].checked; }

int TrackListModel::MarkOf(int row) const { return rows_[static_cast<size_t>(row)].mark; }

bool TrackListModel::Garbled(int row) const { return rows_[static_cast<size_t>(row)].garbled; }

void TrackListModel::SetGarbled(int row, bool garbled) {
  rows_[static_cast<size_t>(row)].garbled = garbled;
}

QString TrackListModel::ReasonOf(int row) const {
  return reasons_[rows_[static_cast<size_t>(row)].reason];
}

Track TrackListModel::TrackOf(int row) const {
  Track t;
  t.folder = FolderOf(row);
  t.fileName = FileNameOf(row);
  const TrackFields f = FieldsOf(row);
  t.title = f.title;
  t.artist = f.artist;
  t.album = f.album;
  t.year = f.year;
  t.track = f.track;
  t.comment = f.comment;
  t.genre = f.genre;
  t.position = row;
  return t;
}

void TrackListModel::Changed(int row, int firstColumn, int lastColumn) {
  emit dataChanged(index(row, firstColumn), index(row, lastColumn));
}

void TrackListModel::SetChecked(int row, bool checked) {
  Row& r = rows_[static_cast<size_t>(row)];
  if (r.checked == checked) return;
  r.checked = checked;
  Changed(row, kFileName, kFileName);
}

void TrackListModel::SetMark(int row, int mark, const QString& reason) {
  Row& r = rows_[static_cast<size_t>(row)];
  r.mark = static_cast<uint8_t>(mark);
  auto [it, added] = reasonIds_.emplace(reason, static_cast<uint32_t>(reasons_.size()));
  if (added) reasons_.push_back(reason);
  r.reason = it->second;
  Changed(row, kFileName, kFileName);
  // Reasons of earlier actions that no row shows any more go, now and then.
  if (reasons_.size() > rows_.size() * 2 + 1024) {
    std::vector<QString> kept{QString()};
    std::unordered_map<QString, uint32_t> ids{{QString(), 0}};
    for (Row& each : rows_) {
      auto [at, fresh] = ids.emplace(reasons_[each.reason], static_cast<uint32_t>(kept.size()));
      if (fresh) kept.push_back(reasons_[each.reason]);
      each.reason = at->second;
    }
    reasons_ = std::move(kept);
    reasonIds_ = std::move(ids);
  }
}

void TrackListModel::SetFields(int row, const TrackFields& fields) {
  Row& r = rows_[static_cast<size_t>(row)];
  r = [&] {
    Row fresh = MakeRow(FileNameOf(row), fields, r.folder);
    fresh.reason = r.reason;
    fresh.mark = r.mark;
    fresh.checked = r.checked;
    return fresh;
  }();
  Changed(row, kTitle, kNewName);
}

void TrackListModel::SetFileName(int row, const std::string& name) {
  if (indexed_) UnindexRow(row);
  Row& r = rows_[static_cast<size_t>(row)];
  Row fresh = MakeRow(name, FieldsOf(row), r.folder);
  fresh.reason = r.reason;
  fresh.mark = r.mark;
  fresh.checked = r.checked;
  r = std::move(fresh);
  if (indexed_) IndexRow(row);
  Changed(row, kFileName, kNewName);
}

void TrackListModel::UnindexRow(int row) const {
  const Row& r = rows_[static_cast<size_t>(row)];
  const size_t mask = slots_.size() - 1;
  for (size_t at = Hash(r.folder, Part(r, 0)) & mask; slots_[at] != kEmpty; at = (at + 1) & mask) {
    if (slots_[at] == static_cast<uint32_t>(row) + 1) {
      slots_[at] = kGone;  // a lookup goes on past it; an insert may take it
      return;
    }
  }
}

void TrackListModel::IndexRow(int row) const {
  const Row& r = rows_[static_cast<size_t>(row)];
  const size_t mask = slots_.size() - 1;
  for (size_t at = Hash(r.folder, Part(r, 0)) & mask;; at = (at + 1) & mask) {
    if (slots_[at] == kEmpty || slots_[at] == kGone) {
      used_ += slots_[at] == kEmpty;
      slots_[at] = static_cast<uint32_t>(row) + 1;
      break;
    }
  }
  // Past three quarters used, the table grows and every row goes in again.
  if (used_ * 4 > slots_.size() * 3) indexed_ = false;
}

void TrackListModel::BuildIndex() const {
  size_t size = 64;
  while (size < rows_.size() * 2) size *= 2;
  slots_.assign(size, kEmpty);
  used_ = 0;
  indexed_ = true;
  for (size_t row = 0; row < rows_.size(); ++row) IndexRow(static_cast<int>(row));
  indexed_ = true;
}

std::vector<int> TrackListModel::RowsOf(const std::string& path) const {
  std::vector<int> found;
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string_view name =
      std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
  const auto id = folderIds_.find(folder);
  if (id == folderIds_.end()) return found;
  if (!indexed_) BuildIndex();
  const size_t mask = slots_.size() - 1;
  for (size_t at = Hash(id->second, name) & mask; slots_[at] != kEmpty; at = (at + 1) & mask) {
    if (slots_[at] == kGone) continue;
    const int row = static_cast<int>(slots_[at]) - 1;
    const Row& r = rows_[static_cast<size_t>(row)];
    if (r.folder == id->second && Part(r, 0) == name) found.push_back(row);
  }
  std::sort(found.begin(), found.end());
  return found;
}

void TrackListModel::PrimeRealFolders() const {
  while (realFolders_.size() < folders_.size()) {
    std::string real = platform::RealPath(folders_[realFolders_.size()].bytes.empty()
                                              ? std::string(".")
                                              : folders_[realFolders_.size()].bytes);
    if (!real.empty() && real.back() != '/') real += '/';
    realFolders_.push_back(std::move(real));
  }
}

void TrackListModel::MoveFolder(const std::string& from, const std::string& to, bool real) {
  if (real) PrimeRealFolders();
  auto under = [&](const std::string& folder) { return folder.compare(0, from.size(), from) == 0; };
  bool moved = false;
  for (size_t id = 0; id < folders_.size(); ++id) {
    Folder& f = folders_[id];
    const bool realUnder = id < realFolders_.size() && under(realFolders_[id]);
    if (real ? !realUnder : !under(f.bytes)) continue;
    if (realUnder) realFolders_[id] = to + realFolders_[id].substr(from.size());
    // A row found by its real path takes the real path as its folder.
    f.bytes = real ? realFolders_[id] : to + f.bytes.substr(from.size());
    f.text = rules::DisplayName(f.bytes);
    moved = true;
  }
  if (!moved) return;
  folderIds_.clear();
  for (size_t id = 0; id < folders_.size(); ++id) {
    folderIds_.emplace(folders_[id].bytes, static_cast<uint32_t>(id));
  }
  indexed_ = false;
  if (!rows_.empty()) {
    emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, kColumnCount - 1));
  }
}

std::vector<int> TrackListModel::RowsOfRealPath(const std::string& path) const {
  std::vector<int> found = RowsOf(path);
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return found;
  const std::string folder = path.substr(0, slash + 1);
  const std::string name = path.substr(slash + 1);
  PrimeRealFolders();
  for (size_t id = 0; id < folders_.size(); ++id) {
    if (realFolders_[id] != folder || folders_[id].bytes == folder) continue;
    for (int row : RowsOf(folders_[id].bytes + name)) found.push_back(row);
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::vector<int> TrackListModel::CheckedRows() const {
  std::vector<int> rows;
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].checked) rows.push_back(static_cast<int>(i));
  }
  return rows;
}

void TrackListModel::SetPreviewRule(int rule) {
  if (rule == previewRule_) return;
  previewRule_ = rule;
  if (!rows_.empty()) emit dataChanged(index(0, kNewName), index(rowCount() - 1, kNewName));
}

void TrackListModel::SetPreviewTemplate(std::optional<NameTemplate> format) {
  previewTemplate_ = std::move(format);
  if (!rows_.empty()) emit dataChanged(index(0, kNewName), index(rowCount() - 1, kNewName));
}

int64_t TrackListModel::MemoryBytes() const {
  int64_t bytes =
      static_cast<int64_t>(rows_.capacity() * sizeof(Row) + slots_.capacity() * sizeof(uint32_t));
  for (const Row& r : rows_) {
    // A string's own room beyond the row, when it does not fit the row itself (libstdc++: 15).
    if (r.data.capacity() > 15) bytes += static_cast<int64_t>(r.data.capacity() + 1);
  }
  for (const Folder& f : folders_) {
    bytes += static_cast<int64_t>(sizeof(Folder) + f.bytes.capacity() + f.text.capacity() * 2);
  }
  return bytes;
}

}  // namespace core
