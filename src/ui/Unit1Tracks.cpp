// Adding tracks to the list (the file dialog, a folder, a drop) and showing a file's tag in the
// boxes.
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QTimer>
#include <algorithm>
#include <exception>
#include <limits>
#include <set>
#include <utility>

#include "ByteCounter.h"
#include "Rules.h"
#include "TrackList.h"
#include "Unit1.h"
#include "WaitCursor.h"
#include "core/fields/Fields.h"
#include "core/fields/Id3v2Fields.h"
#include "core/plans/Plans.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

using rules::NativePath;

// ---- Adding and showing tracks

QStringList TForm1::ChooseFiles() {
  QFileDialog dialog(this);
  dialog.setObjectName(QStringLiteral("OpenDialog1"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilter(QStringLiteral(" MP3,WMA Files(*.mp3 *.wma)"));
  dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
  dialog.setDefaultSuffix(QStringLiteral("mp3"));
  const QString last = LastFolder();
  if (!last.isEmpty() && QFileInfo(last).isDir()) dialog.setDirectory(last);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString TForm1::ChooseFolder() {
  QFileDialog dialog(this, QStringLiteral("请选择MP3,WMA目录"));
  dialog.setObjectName(QStringLiteral("FolderBrowser"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setFileMode(QFileDialog::Directory);
  const QString last = LastFolder();
  if (!last.isEmpty() && QFileInfo(last).isDir()) dialog.setDirectory(last);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles().value(0);
}

// Adds many tracks with one update of the window, when the adding ends: the rows are appended
// together, and the boxes show the last file added, as they would had every file been added and
// shown in turn, also when an error ends the adding part-way. Filling a dozen boxes costs far
// more than reading a tag, and appending rows one by one costs more than appending them at once,
// so a folder of thousands of files is added without doing either thousands of times.
namespace {

// The tooltip of a row's mark when players show its tag garbled; empty when it reads right.
QString GarbledNote(core::TagKind kind, const TIDmp3& mp3, const TIDwma& wma,
                    const id3v2::TagInfo& start) {
  const std::vector<core::ConvertText> texts = core::GarbledTexts(kind, mp3, wma, start);
  return texts.empty() ? QString() : core::DescribeGarbled(texts);
}

}  // namespace

class TForm1::TrackBatch {
 public:
  explicit TrackBatch(TForm1& form) : form_(form) { clock_.start(); }
  ~TrackBatch() { Show(); }
  TrackBatch(const TrackBatch&) = delete;
  TrackBatch& operator=(const TrackBatch&) = delete;

  void Add(const std::string& path) {
    core::TrackListModel::NewRow row{path, {}};
    // Read into objects of the batch's own: a later read that fails part-way leaves its object
    // half filled, and the window's objects get the last file read whole. A save that a crash cut
    // short is settled once, before the first file is read; the journal is not read again for
    // every file of a large folder.
    core::Journal* journal = recovered_ ? nullptr : form_.journal_.get();
    recovered_ = true;
    const core::TagKind kind = core::ReadTag(path, readMp3_, readWma_, journal, &readStart_);
    row.fields = core::ShownFields(kind, readMp3_, readWma_, readStart_);
    row.garbled = GarbledNote(kind, readMp3_, readWma_, readStart_);
    if (kind == core::TagKind::kMp3) {
      std::swap(readMp3_, lastMp3_);
    } else {
      std::swap(readWma_, lastWma_);
    }
    std::swap(readStart_, lastStart_);
    lastFields_ = row.fields;
    rows_.push_back(std::move(row));
    lastPath_ = path;
    lastKind_ = kind;
    pending_ = true;
    // The rows go to the list a few thousand at a time, so that a large folder keeps little aside.
    if (rows_.size() >= kRowsAtOnce) {
      form_.LV->AppendRows(rows_);
      rows_.clear();
    }
    // A large folder keeps the window painting (the rows grow as they come): its events are
    // handled a few times a second, the user's input left for after the adding.
    if (clock_.elapsed() >= kPaintEveryMs) {
      form_.LV->AppendRows(rows_);
      rows_.clear();
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
      clock_.restart();
    }
  }

  // Adds the file, or notes it for ReportAddErrors when it cannot be read.
  void AddOrNote(const std::string& path) {
    try {
      Add(path);
    } catch (const std::exception& e) {
      form_.addErrors_ << rules::ShownPath(path) + QStringLiteral("：") +
                              rules::ErrorBoxText(QString::fromUtf8(e.what()));
    }
  }

  // Appends the rows read since the last update and shows the last file added, if any.
  void Show() {
    form_.LV->AppendRows(rows_);
    rows_.clear();
    if (!pending_) return;
    if (lastKind_ == core::TagKind::kMp3) {
      *form_.Mp3Info = std::move(lastMp3_);
    } else {
      *form_.WmaInfo = std::move(lastWma_);
    }
    form_.ShowTrackFields(lastPath_, lastKind_, lastFields_, lastStart_);
    pending_ = false;
  }

 private:
  TForm1& form_;
  std::vector<core::TrackListModel::NewRow> rows_;
  bool pending_ = false;    // a file was added since the boxes were last filled
  bool recovered_ = false;  // the journal's cut-short actions were settled
  std::string lastPath_;
  core::TagKind lastKind_ = core::TagKind::kMp3;
  static constexpr size_t kRowsAtOnce = 4096;
  static constexpr qint64 kPaintEveryMs = 200;
  QElapsedTimer clock_;
  TIDmp3 readMp3_, lastMp3_;
  TIDwma readWma_, lastWma_;
  id3v2::TagInfo readStart_, lastStart_;
  core::TrackFields lastFields_;
};

void TForm1::BtnAddfileClick() {
  Guarded([this] {
    if (!TagObjectsAlive()) return;
    const QStringList files = ChooseFiles();
    if (files.isEmpty()) return;
    {
      WaitCursor wait;
      TrackBatch batch(*this);
      for (const QString& file : files) batch.AddOrNote(NativePath(file));
    }
    RememberFolder(QFileInfo(files.first()).absolutePath());
    EnableEditButtons();
    ReportAddErrors();
  });
}

void TForm1::Button2Click() {
  Guarded([this] {
    if (!TagObjectsAlive()) return;
    const QString folder = ChooseFolder();
    // A choice without a path is taken as no choice.
    if (folder.isEmpty()) return;
    RememberFolder(folder);
    AddFolder(folder);
    EnableEditButtons();
    ReportAddErrors();
  });
}

void TForm1::AddFolder(QString folder) { AddNativeFolder(NativePath(folder)); }

void TForm1::AddNativeFolder(std::string nativeFolder) {
  if (nativeFolder.empty() || nativeFolder.back() != '/') nativeFolder += '/';
  WaitCursor wait;
  TrackBatch batch(*this);
  for (const char* suffix : {".mp3", ".wma"}) {
    for (const std::string& name : platform::ListFolder(nativeFolder, suffix)) {
      batch.AddOrNote(nativeFolder + name);
    }
  }
}

void TForm1::NAddTreeClick() {
  Guarded([this] {
    if (!TagObjectsAlive()) return;
    const QString folder = ChooseFolder();
    if (folder.isEmpty()) return;
    RememberFolder(folder);
    AddNativeFolderTree(NativePath(folder));
    EnableEditButtons();
    ReportAddErrors();
  });
}

void TForm1::AddNativeFolderTree(std::string root) {
  if (root.empty() || root.back() != '/') root += '/';
  WaitCursor wait;
  QProgressDialog progress(QString(), QStringLiteral("取消"), 0, 0, this);
  progress.setObjectName(QStringLiteral("FolderProgress"));
  progress.setWindowTitle(QStringLiteral("正在添加"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(std::numeric_limits<int>::max());  // shown below, not by a timer
  QElapsedTimer clock;
  clock.start();
  qint64 steppedAt = -1;
  int found = 0;
  std::set<std::pair<uint64_t, uint64_t>> walked;  // device and inode: a link loop is walked once
  std::vector<std::string> folders{root};
  {
    TrackBatch batch(*this);
    while (!folders.empty() && !progress.wasCanceled()) {
      const std::string folder = std::move(folders.back());
      folders.pop_back();
      const platform::EntryInfo info = platform::StatPath(folder, true);
      if (!info.folder || !walked.insert({info.device, info.inode}).second) continue;
      const platform::FolderEntries entries = platform::ListEntries(folder);
      for (const char* suffix : {".mp3", ".wma"}) {
        for (const std::string& name : entries.files) {
          if (name.size() < 4 || QByteArray::fromStdString(name.substr(name.size() - 4))
                                         .compare(suffix, Qt::CaseInsensitive) != 0) {
            continue;
          }
          batch.AddOrNote(folder + name);
          ++found;
        }
      }
      // The folders below, first in name order first.
      for (auto it = entries.folders.rbegin(); it != entries.folders.rend(); ++it) {
        folders.push_back(folder + *it + '/');
      }
      if (clock.elapsed() < ProgressDelayMs) continue;
      // Past the delay each folder lets the cancel button through; the label follows a few times
      // a second.
      if (clock.elapsed() - steppedAt >= 30 || !progress.isVisible()) {
        steppedAt = clock.elapsed();
        progress.setLabelText(
            QStringLiteral("已找到 %1 个文件\n%2").arg(found).arg(rules::ShownPath(folder)));
        if (!progress.isVisible()) {
          progress.show();
          progress.repaint();
        }
      }
      QCoreApplication::processEvents();
    }
  }
  progress.hide();
}

void TForm1::WMDropFiles(const QStringList& paths) {
  std::vector<std::string> native;
  for (const QString& path : paths) native.push_back(NativePath(path));
  WMDropFiles(native);
}

void TForm1::WMDropFiles(const std::vector<std::string>& paths) {
  if (!TagObjectsAlive() || paths.empty()) return;
  {
    WaitCursor wait;
    TrackBatch batch(*this);
    for (const std::string& path : paths) {
      // A folder adds its MP3 and WMA files, as the add folder button does.
      if (platform::StatPath(path, true).folder) {
        batch.Show();
        AddNativeFolder(path);
        continue;
      }
      if (core::FileKeyOf(path) == core::FileKey::kOther) continue;
      try {
        batch.Add(path);
      } catch (const std::exception&) {
        batch.Show();  // the boxes show the last file added before the error, as the box appears
        wait.Pause();
        QMessageBox box(QMessageBox::Critical, QStringLiteral("错误"),
                        QStringLiteral("文件错误！") + QString(20, QLatin1Char(' ')),
                        QMessageBox::Ok, this);
        box.exec();
        wait.Resume();
      }
    }
  }
  ReportAddErrors();
}

core::TagKind TForm1::ReadTrack(const std::string& path, core::TrackFields& fields,
                                id3v2::TagInfo& start) {
  const core::TagKind kind = core::ReadTag(path, *Mp3Info, *WmaInfo, journal_.get(), &start);
  fields = core::ShownFields(kind, *Mp3Info, *WmaInfo, start);
  return kind;
}

void TForm1::ReadAndShow(const std::string& path) {
  core::TrackFields fields;
  id3v2::TagInfo start;
  const core::TagKind kind = ReadTrack(path, fields, start);
  ShowTrackFields(path, kind, fields, start);
}

void TForm1::AddTrack(const QString& path) { AddTrack(NativePath(path)); }

void TForm1::AddTrack(const std::string& path) {
  core::TrackListModel::NewRow row{path, {}};
  id3v2::TagInfo start;
  const core::TagKind kind = ReadTrack(path, row.fields, start);
  row.garbled = GarbledNote(kind, *Mp3Info, *WmaInfo, start);
  LV->AppendRows({row});
  ShowTrackFields(path, kind, row.fields, start);
}

void TForm1::ShowTrackFields(const std::string& path, core::TagKind kind,
                             const core::TrackFields& fields, const id3v2::TagInfo& start) {
  shownPath_ = path;
  shownStart_ = start;
  const bool mp3 = kind == core::TagKind::kMp3;
  // A file without an ID3v1 block shows its ID3v2 tag, as its row does.
  const bool fromStart = mp3 && !Mp3Info->HasTag && start.presence == id3v2::Presence::kTag;
  SetByteCounters(mp3);
  // The text boxes from the table of fields; a field an MP3 tag lacks is empty for an MP3 file.
  for (const core::FieldInfo& f : core::Fields()) {
    QLineEdit* box = BoxOf(f.field);
    if (box == nullptr) continue;
    box->setText(!mp3    ? core::FieldText(*WmaInfo, f.field)
                 : f.mp3 ? fields.Get(f.field)
                         : QString());
  }
  EdtPath->setText(rules::ShownPath(path));
  ComboGenreID->setEnabled(true);
  if (mp3) {
    // The track number as a number ("3/12" gives 3), the genre by its entry where it has one.
    EdtTrack->setText(
        QString::number(fromStart ? rules::Mp3TrackOf(fields.track.section(QLatin1Char('/'), 0, 0))
                                  : Mp3Info->Track));
    const int entry = fromStart
                          ? std::max(0, ComboGenreID->findText(fields.genre, Qt::MatchFixedString))
                          : rules::GenreEntryOf(Mp3Info->GenreID);
    ComboGenreID->setCurrentIndex(entry);
    // The box's text may have been typed or set from a WMA genre since the entry was chosen.
    ComboGenreID->setEditText(entry == 0 && fromStart ? fields.genre
                                                      : ComboGenreID->itemText(entry));
    MLyrics->clear();
    lyricsUseCrLf_ = false;
  } else {
    ComboGenreID->setEditText(core::FieldText(*WmaInfo, core::TagField::kGenre));
    const QString lyrics = core::FieldText(*WmaInfo, core::TagField::kLyrics);
    lyricsUseCrLf_ = lyrics.contains(QStringLiteral("\r\n"));
    MLyrics->setPlainText(
        lyricsUseCrLf_ ? QString(lyrics).replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                       : lyrics);
  }
  const bool wma = core::FileKeyOf(path) == core::FileKey::kWma;
  for (QWidget* control : WmaOnlyControls()) control->setEnabled(wma);
  RememberShownTexts();
  ShowId3v2Differences(fields);
}

namespace {

constexpr std::array<core::TagField, 7> kShownFields = {
    core::TagField::kTitle, core::TagField::kArtist,  core::TagField::kAlbum,
    core::TagField::kYear,  core::TagField::kComment, core::TagField::kTrack,
    core::TagField::kGenre};

}  // namespace

QString TForm1::ShownText(core::TagField field) const {
  return field == core::TagField::kGenre ? ComboGenreID->currentText() : BoxOf(field)->text();
}

void TForm1::RememberShownTexts() {
  for (size_t i = 0; i < kShownFields.size(); ++i) shownTexts_[i] = ShownText(kShownFields[i]);
}

id3v2::Changes TForm1::ChangedBoxes() const {
  id3v2::Changes changes;
  for (size_t i = 0; i < kShownFields.size(); ++i) {
    const QString now = ShownText(kShownFields[i]);
    if (now != shownTexts_[i]) core::SetChange(changes, kShownFields[i], now);
  }
  return changes;
}

void TForm1::ShowId3v2Differences(const core::TrackFields& fields) {
  const auto differences = core::Id3v2Differences(fields, shownStart_);
  LId3v2->setVisible(showsMp3_ && !differences.empty());
  LId3v2->setToolTip(core::DescribeDifferences(differences));
}

void TForm1::SetByteCounters(bool mp3) {
  showsMp3_ = mp3;
  const int text = mp3 ? static_cast<int>(TIDmp3::kTextCapacity) : 0;
  const int year = mp3 ? static_cast<int>(TIDmp3::kYearCapacity) : 0;
  const int comment = mp3 && rules::Mp3TrackOf(EdtTrack->text()) != 0 ? text - 2 : text;
  const std::array<int, 5> capacities = {text, text, text, year, comment};
  for (size_t i = 0; i < ByteCounters.size(); ++i) ByteCounters[i]->SetCapacity(capacities[i]);
}

void TForm1::ShowRow(int row) {
  // Read as when the file was added, a WMA header write cut short rolled back first.
  ReadAndShow(LV->NativePath(row));
}

void TForm1::LVClick() {
  Guarded([this] {
    if (!TagObjectsAlive()) return;
    const int row = LV->SelectedRow();
    if (row < 0) return;
    ShowRow(row);
  });
}

void TForm1::LVCurrentRowChosen(int row) {
  Guarded([this, row] {
    if (!TagObjectsAlive() || row < 0 || row >= LV->rowCount()) return;
    ShowRow(row);
  });
}

void TForm1::FileRenamed(const std::string& oldPath, const std::string& newPath) {
  if (shownPath_.empty() || shownPath_ != oldPath) return;
  shownPath_ = newPath;
  EdtPath->setText(rules::ShownPath(newPath));
}

void TForm1::FolderRenamed(const std::string& oldFolder, const std::string& newFolder) {
  if (shownPath_.compare(0, oldFolder.size(), oldFolder) != 0) return;
  shownPath_ = newFolder + shownPath_.substr(oldFolder.size());
  EdtPath->setText(rules::DisplayName(shownPath_));
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  // A URL's percent-encoded bytes are the file's name: decoded to bytes, never through text.
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths.push_back(rules::NativePathOfUrl(url));
  }
  event->acceptProposedAction();
  // The files are added once the drop has been answered, so that the program the files came from
  // is not kept waiting behind a message box.
  QTimer::singleShot(0, this, [this, paths] { WMDropFiles(paths); });
}
