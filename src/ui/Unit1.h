// The main window: the track list, the tag boxes of the shown file, the buttons that add, save,
// batch-edit and rename files, the list's context menu and the status bar links. It owns the one
// MP3 tag object and the one WMA tag object and reuses them for every file.
#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TrackList.h"
#include "core/fields/Fields.h"
#include "core/plans/Plans.h"
#include "tags/id3v2/TId3v2Tag.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

namespace core {
class Journal;
struct RenamePlan;
struct NamePlan;
struct ApplyOptions;
struct ApplyReport;
}  // namespace core

class QAbstractButton;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QStyle;
class TByteCounter;
class TStatusBar;

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // ---- Controls (objectName = member name)
  TTrackList* LV = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QPushButton* BtnAddfile = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* BtnBatch = nullptr;
  QPushButton* BtnSave = nullptr;
  QPushButton* Button7 = nullptr;
  QPushButton* BtnRename = nullptr;
  TStatusBar* StatusBar1 = nullptr;

  QLabel* LTitle = nullptr;
  QLabel* LArtist = nullptr;
  QLabel* LAlbum = nullptr;
  QLabel* LYear = nullptr;
  QLabel* LComment = nullptr;
  QLabel* LTrack = nullptr;
  QLabel* LGenre = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label6 = nullptr;
  QLabel* LFilePath = nullptr;
  QLabel* Label1 = nullptr;
  // On the song group's frame, next to the boxes: shown when the ID3v2 tag that players show says
  // something else than the boxes, with the differing values in its tooltip.
  QLabel* LId3v2 = nullptr;

  QLineEdit* EdtTitle = nullptr;
  QLineEdit* EdtArtist = nullptr;
  QLineEdit* EdtAlbum = nullptr;
  QLineEdit* EdtYear = nullptr;
  QLineEdit* EdtComment = nullptr;
  QLineEdit* EdtTrack = nullptr;
  QComboBox* ComboGenreID = nullptr;
  QLineEdit* EdtUserURL = nullptr;
  QLineEdit* EdtCopyright = nullptr;
  QLineEdit* EdtUrl = nullptr;
  QLineEdit* EdtEncodedBy = nullptr;
  QLineEdit* EdtVersion = nullptr;
  QLineEdit* EdtPath = nullptr;
  QPlainTextEdit* MLyrics = nullptr;

  QGroupBox* GroupBox2 = nullptr;
  QRadioButton* R1 = nullptr;
  QRadioButton* R2 = nullptr;
  QRadioButton* R3 = nullptr;
  QGroupBox* GbBatch4 = nullptr;
  QCheckBox* ChkArtist = nullptr;
  QCheckBox* ChkAlbum = nullptr;
  QCheckBox* ChkYear = nullptr;
  QCheckBox* ChkComment = nullptr;

  QMenu* PopupMenu2 = nullptr;
  QAction* N11 = nullptr;
  QAction* N10 = nullptr;
  QAction* N7 = nullptr;
  QAction* N9 = nullptr;
  QAction* N6 = nullptr;
  QAction* NUndoSeparator = nullptr;  // 清空列表 and undo apart
  QAction* N12 = nullptr;             // "撤销上次操作" (Ctrl+Z)
  QAction* NFormatRename = nullptr;   // "按格式改名…"
  QAction* NConvert = nullptr;        // "转换为 Unicode 标签"
  QAction* NFixNames = nullptr;       // "修复乱码文件名…"
  // The check marks of every row.
  QAction* NCheckSeparator = nullptr;
  QAction* NCheckAll = nullptr;
  QAction* NCheckNone = nullptr;
  QAction* NCheckInvert = nullptr;
  QAction* NCheckGarbled = nullptr;  // checks only the rows whose tag players show garbled
  // "添加文件夹（含子文件夹）…": a folder with every folder below it.
  QAction* NAddTreeSeparator = nullptr;
  QAction* NAddTree = nullptr;

  // The bytes left in the ID3v1 slots of the title, artist, album, year and comment boxes, while
  // an MP3 file is shown.
  std::array<TByteCounter*, 5> ByteCounters{};

  // The three row marks: 0 a green note, 1 a green tick, 2 a red cross.
  std::array<QIcon, 3> ImageList1;

  // ---- State
  std::unique_ptr<TIDmp3> Mp3Info;
  std::unique_ptr<TIDwma> WmaInfo;
  // The chosen rename rule, 1 to 3.
  int RenameRule = 0;
  // How long a batch or an undo runs before its progress dialog shows (a test shows it at once).
  int ProgressDelayMs = 500;

  // What the window hands to the desktop. The defaults open the desktop's programs; a test may
  // put its own recorder here instead.
  std::function<bool(const QUrl&)> OpenUrl;
  // The file is named by the file system's bytes.
  std::function<bool(const std::string&)> ShowFileProperties;

  // The six boxes that only a WMA file fills.
  QList<QWidget*> WmaOnlyControls() const;

  // ---- Start and end
  void FormCreate();
  void FormClose();

  // ---- Adding and showing tracks
  void BtnAddfileClick();
  void Button2Click();
  // What the add folder button does once a folder is chosen: adds its MP3 files, then its WMA
  // files, each sorted by name. A file that cannot be read is left out and noted for
  // ReportAddErrors; the others are added.
  void AddFolder(QString folder);
  // The same for a folder given as the file system's bytes.
  void AddNativeFolder(std::string folder);
  // Chooses a folder and adds its MP3 and WMA files and those of every folder below it.
  void NAddTreeClick();
  // Adds the files of the folder, then those of each folder below it in name order, each folder
  // once however many links reach it. A progress dialog shows after ProgressDelayMs; its cancel
  // stops the walk, and the files found so far stay added.
  void AddNativeFolderTree(std::string folder);
  // Shows, in one error box, each file that the adding since the last report could not read,
  // with the reason.
  void ReportAddErrors();
  // The files of one drop, in the order given, as the file system's bytes; or as texts, taken as
  // UTF-8 paths.
  void WMDropFiles(const std::vector<std::string>& paths);
  // The files of one drop, in the order given.
  void WMDropFiles(const QStringList& paths);
  // Reads the file's tag, appends its row and shows the tag. Lets a WMA read error through. The
  // path is the file system's bytes, or a text taken as a UTF-8 path.
  void AddTrack(const std::string& path);
  void AddTrack(const QString& path);
  // Shows the tag just read by the object that `kind` picks: `fields` as the row shows them (an
  // MP3 file without an ID3v1 block shows its ID3v2 tag), `start` the file's ID3v2 tag.
  void ShowTrackFields(const std::string& path, core::TagKind kind, const core::TrackFields& fields,
                       const id3v2::TagInfo& start);
  // The path of the file whose tag the boxes show, as the file system's bytes; the path box shows
  // it as text.
  const std::string& ShownPath() const { return shownPath_; }
  void LVClick();
  // A key or a right click moved the highlight to `row`: the boxes show its file.
  void LVCurrentRowChosen(int row);
  // A rename of the file at oldPath succeeded: the path box follows it when it shows that file.
  void FileRenamed(const std::string& oldPath, const std::string& newPath);
  // The same for a folder (both ending in "/"): the shown file follows it when it lies inside.
  void FolderRenamed(const std::string& oldFolder, const std::string& newFolder);

  // ---- Context menu and status bar
  void N11Click();
  void N10Click();
  void N7Click();
  void N6Click();
  // Undoes the last action of the journal, after asking, and marks each row it restores.
  void N12Click();
  void NCheckAllClick();
  void NCheckNoneClick();
  void NCheckInvertClick();
  void NCheckGarbledClick();
  // A left click on the status bar at x in the bar's coordinates.
  void StatusBar1Click(int x);

  // ---- Editing and renaming
  void BtnSaveClick();
  // True when the key typed into the year box goes through; false when it is discarded.
  bool EdtYearKeyPress(const QKeyEvent& event) const;
  void BtnBatchClick();
  void R1Click(QAbstractButton* sender);
  void BtnRenameClick();
  // Renames the checked rows' files by a name template that a dialog asks for (FormatRename.cpp),
  // with the plan question and the marks of the rename button.
  void NFormatRenameClick();
  // Turns the legacy texts of the checked MP3 files into Unicode tags, with the plan question, the
  // marks and undo of a batch.
  void NConvertClick();
  // Repairs the garbled names of the checked rows' files (and of the files beside them that share
  // their names' stems) and of their folders, after the plan's dialog (FixNames.cpp); the rows
  // follow the new names.
  void NFixNamesClick();
  void Button7Click();

  // The file dialogs, built here so that a test can find and answer them.
  QStringList ChooseFiles();
  QString ChooseFolder();
  // The folder that the user last added from, remembered across runs; empty at first.
  static QString LastFolder();
  static void RememberFolder(const QString& folder);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void SetTabOrder();
  // Runs one handler; an error that escapes it ends it and is shown in the generic error box.
  void Guarded(const std::function<void()>& handler);
  void ShowErrorBox(const QString& message);
  // `details`, when given, is the box's detailed text (the plan of a batch).
  // `details`, when given, is the box's detailed text (the plan of a batch), readable in a box
  // that can be resized; `summary` a line under the question (the plan's counts).
  // With `checkText`, the box has a check box, checked at first, whose state `checked` gets.
  bool Ask(const QString& text, const QString& details, const QString& summary,
           const QString& checkText, bool* checked);
  bool Ask(const QString& text, const QString& details = QString(),
           const QString& summary = QString());
  // The closing summary of a batch or an undo: on the status bar, and in a message box with
  // `details` when anything was refused or failed (`problem`).
  void Tell(const QString& text, const QString& details, bool problem);
  void Hint(const QString& text);
  void EnableEditButtons();
  // Hands the address to the desktop; when nothing opens it, says so with the address to copy.
  void OpenOrSay(const QUrl& url);
  // Reads the row's file and shows its tag.
  void ShowRow(int row);
  // False, after marking the file's row with the cross and saying why, when the shown file is no
  // longer there to be saved.
  bool ShownFileIsThere();
  // Whether the file lacks its owner's write permission, which a save clears.
  static bool RefusesWrites(const std::string& path);
  // Keeps a pasted year to what the year box lets be typed.
  void EdtYearTextEdited(const QString& text);
  // The counters follow the shown file: MP3 slots for an MP3 file, none for a WMA file.
  void SetByteCounters(bool mp3);
  bool TagObjectsAlive() const { return Mp3Info != nullptr && WmaInfo != nullptr; }
  // Every row of the file `path` (a file added twice has two), in list order.
  std::vector<int> RowsOfFile(const std::string& path) const;
  // Puts in every row of the file what it now holds.
  void SetFileFields(const std::string& path, const core::TrackFields& fields);
  // Reads the file's tag into the tag object its kind picks, an action a crash cut short settled
  // first, then shows it. Lets a WMA read error through.
  void ReadAndShow(const std::string& path);
  // Reads the file's tag into the tag object its kind picks (and an MP3 file's ID3v2 tag into
  // `start`); `fields` receives what the file's row shows. Lets a WMA read error through.
  core::TagKind ReadTrack(const std::string& path, core::TrackFields& fields,
                          id3v2::TagInfo& start);
  // The ID3v2 label for the shown file, whose row shows `fields`.
  void ShowId3v2Differences(const core::TrackFields& fields);
  // The text of a field's box (the genre box's text for the genre).
  QString ShownText(core::TagField field) const;
  // Notes the boxes' texts as the shown file's: what a save compares them with.
  void RememberShownTexts();
  // The fields of the shown MP3 file whose box the user changed, for its ID3v2 tag.
  id3v2::Changes ChangedBoxes() const;
  // The text box that shows a field (none for the genre box and the lyrics).
  QLineEdit* BoxOf(core::TagField field) const;
  class TrackBatch;
  // Write the boxes into the file, journalled.
  // Each saves the boxes; `convert` are the other fields of the file that hold legacy text, to be
  // written as they read in the same write.
  core::ApplyReport SaveMp3(const std::string& path, const std::vector<core::ConvertText>& convert);
  core::ApplyReport SaveWma(const std::string& path, const std::vector<core::ConvertText>& convert);
  // The shown file's fields, other than those the user changed, that players show garbled and a
  // save can convert in the same write.
  std::vector<core::ConvertText> LegacyFieldsToConvert(bool mp3) const;
  // Carries out a rename plan whose question was answered Yes, and marks each row it tried.
  void ApplyRenamePlan(const core::RenamePlan& plan);
  // Carries out a plan of repairing names that the dialog accepted.
  void ApplyNamePlan(const core::NamePlan& plan);
  // A row's mark and the reason the mark's tooltip gives; the same for every row of a file.
  void MarkRow(int row, int mark, const QString& tip);
  void MarkFile(const std::string& path, int mark, const QString& tip);
  // The journal, and whether there is anything to undo.
  core::ApplyOptions JournalOptions();
  void UpdateUndo();

  std::unique_ptr<QStyle> groupBoxStyle_;
  std::unique_ptr<core::Journal> journal_;
  std::string shownPath_;
  // The shown file's ID3v2 tag as read, and the texts its boxes were given (the genre box's text
  // last), so that a save writes into the ID3v2 tag only the fields the user changed.
  id3v2::TagInfo shownStart_;
  std::array<QString, 7> shownTexts_;
  // Whether the lyrics last shown broke their lines with CR LF, as Windows programs write them.
  bool lyricsUseCrLf_ = false;
  // Each file that the adding could not read, with the reason, until ReportAddErrors shows them.
  QStringList addErrors_;
  bool showsMp3_ = false;
};
