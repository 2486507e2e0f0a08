// The actions that write files: saving the shown tag, the batch edit, the batch rename and undo,
// each through the core, with its plan asked first and its outcome on every row of its files.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cerrno>
#include <exception>
#include <limits>
#include <memory>
#include <stdexcept>

#include "ByteCounter.h"
#include "ConvertDialog.h"
#include "RowIcons.h"
#include "Rules.h"
#include "StatusBar.h"
#include "TrackList.h"
#include "Unit1.h"
#include "WaitCursor.h"
#include "core/Batch.h"
#include "core/fields/Fields.h"
#include "core/fields/Id3v2Fields.h"
#include "core/journal/Journal.h"
#include "core/plans/Plans.h"
#include "core/plans/TagWrites.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

using rules::ToUtf16;

namespace {

// The progress of a batch: a dialog that shows itself once the batch has run for about half a
// second (files done of all, the current name) and whose cancel button stops the batch after the
// current file. The window keeps handling its events meanwhile. The dialog shows only from a step,
// never from a timer of its own, and Close() ends it before the batch reports: nothing of it is
// left to show over or after the report.
class BatchProgress {
 public:
  BatchProgress(QWidget* parent, int total, int delayMs)
      : dialog_(
            std::make_unique<QProgressDialog>(QString(), QStringLiteral("取消"), 0, total, parent)),
        delayMs_(delayMs) {
    dialog_->setObjectName(QStringLiteral("BatchProgress"));
    dialog_->setWindowTitle(QStringLiteral("正在处理"));
    dialog_->setWindowModality(Qt::WindowModal);
    dialog_->setMinimumDuration(std::numeric_limits<int>::max());
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    clock_.start();
  }
  // The callback of core::ApplyOptions: false once the user has cancelled.
  bool Step(int done, int total, const std::string& name) {
    if (dialog_ == nullptr) return !canceled_;
    if (done == 0 || clock_.elapsed() - shownAt_ >= 30) {
      shownAt_ = clock_.elapsed();
      dialog_->setLabelText(QStringLiteral("%1 / %2\n%3")
                                .arg(done)
                                .arg(total)
                                .arg(rules::DisplayName(name.substr(name.rfind('/') + 1))));
      dialog_->setValue(done);
      if (!dialog_->isVisible() && clock_.elapsed() >= delayMs_) Show();
      QCoreApplication::processEvents();
    }
    return !dialog_->wasCanceled();
  }
  // Ends the dialog; the batch reports after this.
  void Close() {
    if (dialog_ == nullptr) return;
    canceled_ = dialog_->wasCanceled();
    dialog_.reset();
  }

 private:
  // Shows the dialog and paints its label and bar at once: the window system is given the time to
  // map it, so that the first paint is not lost on a window that is not there yet.
  void Show() {
    dialog_->show();
    QElapsedTimer wait;
    wait.start();
    while (dialog_->windowHandle() != nullptr && !dialog_->windowHandle()->isExposed() &&
           wait.elapsed() < 250) {
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    }
    dialog_->repaint();
  }

  std::unique_ptr<QProgressDialog> dialog_;
  QElapsedTimer clock_;
  int delayMs_;
  qint64 shownAt_ = 0;
  bool canceled_ = false;
};

// The kind of a journal's action, as the window names it.
QString KindName(const QString& kind) {
  return kind == QLatin1String("rename")      ? QStringLiteral("批量改名")
         : kind == QLatin1String("fix-names") ? QStringLiteral("修复乱码文件名")
         : kind == QLatin1String("edit")      ? QStringLiteral("批量修改")
         : kind == QLatin1String("convert")   ? QStringLiteral("转换为 Unicode 标签")
                                              : QStringLiteral("保存信息");
}

// What a batch did, for its closing summary: the count of each outcome and each failure.
struct Tally {
  int done = 0, failed = 0, skipped = 0, notReached = 0;
  QStringList failures;

  void Failed(const std::string& path, const QString& reason) {
    ++failed;
    failures << QStringLiteral("%1：%2").arg(rules::ShownPath(path), reason);
  }
};

QString UndoNote(const core::ApplyReport& report) {
  if (report.undoable || report.journalMessage.isEmpty()) return {};
  return QStringLiteral("\n无法撤销：") + report.journalMessage;
}

}  // namespace

std::vector<int> TForm1::RowsOfFile(const std::string& path) const {
  return LV->Model()->RowsOf(path);
}

void TForm1::SetFileFields(const std::string& path, const core::TrackFields& fields) {
  for (int row : RowsOfFile(path)) LV->Model()->SetFields(row, fields);
}

std::vector<core::ConvertText> TForm1::LegacyFieldsToConvert(bool mp3) const {
  // An MP3 file's legacy frames convert in the write of its ID3v2 tag; a file without one has
  // only its block, which the save writes in GBK.
  if (mp3 && shownStart_.presence != id3v2::Presence::kTag) return {};
  const id3v2::Changes changed = ChangedBoxes();
  std::vector<core::ConvertText> out;
  for (const core::ConvertText& t : core::GarbledTexts(
           mp3 ? core::TagKind::kMp3 : core::TagKind::kWma, *Mp3Info, *WmaInfo, shownStart_)) {
    const std::optional<id3v2::Field> f = core::Id3v2FieldOf(t.field);
    if (f && changed[*f]) continue;  // the user's text wins
    // A WMA box the user changed holds the user's text.
    if (!mp3 && BoxOf(t.field) != nullptr && BoxOf(t.field)->text() != t.now) continue;
    out.push_back(t);
  }
  return out;
}

core::ApplyReport TForm1::SaveMp3(const std::string& path,
                                  const std::vector<core::ConvertText>& convert) {
  // The track number first: the comment's room depends on it.
  Mp3Info->SetTrack(rules::Mp3TrackOf(EdtTrack->text()));
  Mp3Info->SetGenreID(rules::GenreIdOfEntry(ComboGenreID->currentIndex()));
  for (const core::FieldInfo& f : core::Fields()) {
    if (f.mp3 && f.field != core::TagField::kTrack && f.field != core::TagField::kGenre) {
      core::SetMp3Text(*Mp3Info, f.field, BoxOf(f.field)->text());
    }
  }
  // The ID3v2 tag that players show gets the fields whose box the user changed, and the legacy
  // fields to convert as they read.
  id3v2::Changes start = ChangedBoxes();
  for (const core::ConvertText& t : convert) core::SetChange(start, t.field, t.after);
  return core::SaveTag(*Mp3Info, path, JournalOptions(), start);
}

core::ApplyReport TForm1::SaveWma(const std::string& path,
                                  const std::vector<core::ConvertText>& convert) {
  // The one field without a box, WM/Track, must be this file's own: read its tag again first.
  WmaInfo->ReadFromFile(path);
  QString lyrics = MLyrics->toPlainText();
  if (lyricsUseCrLf_) lyrics.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  for (const core::FieldInfo& f : core::Fields()) {
    const QString text = f.field == core::TagField::kGenre    ? ComboGenreID->currentText()
                         : f.field == core::TagField::kLyrics ? lyrics
                                                              : BoxOf(f.field)->text();
    ((*WmaInfo).*f.setWma)(ToUtf16(text));
  }
  for (const core::ConvertText& t : convert) {
    ((*WmaInfo).*core::InfoOf(t.field).setWma)(ToUtf16(t.after));
  }
  return core::SaveTag(*WmaInfo, path, JournalOptions());
}
void TForm1::MarkRow(int row, int mark, const QString& tip) { LV->SetMark(row, mark, tip); }

void TForm1::MarkFile(const std::string& path, int mark, const QString& tip) {
  for (int row : RowsOfFile(path)) MarkRow(row, mark, tip);
}

core::ApplyOptions TForm1::JournalOptions() {
  core::ApplyOptions options;
  options.journal = journal_.get();
  return options;
}

void TForm1::UpdateUndo() {
  if (journal_ == nullptr) return;
  const std::vector<core::ActionInfo> actions = core::ListActions(*journal_);
  N12->setEnabled(!actions.empty());
  N12->setText(actions.empty() ? QStringLiteral("撤销上次操作")
                               : QStringLiteral("撤销：%1 %2 个文件")
                                     .arg(KindName(actions.front().kind))
                                     .arg(actions.front().changed));
  // A journal set aside or refused is told once, after the action that found it.
  const QString problem = journal_->TakeMessage();
  if (!problem.isEmpty()) QTimer::singleShot(0, this, [this, problem] { Hint(problem); });
}

bool TForm1::RefusesWrites(const std::string& path) {
  platform::File file;
  return file.OpenRead(path) && file.RefusesChange() == EACCES;
}

bool TForm1::ShownFileIsThere() {
  const std::string& path = ShownPath();
  if (path.empty() || platform::FileExists(path)) return true;
  MarkFile(path, rowicons::kCross, QStringLiteral("文件不存在"));
  Hint(QStringLiteral("要保存的文件已经不在了（被改名、移动或删除），没有保存：\n\n") +
       rules::ShownPath(path));
  return false;
}

void TForm1::BtnSaveClick() {
  Guarded([this] {
    if (!TagObjectsAlive()) return;
    if (!ShownFileIsThere()) return;
    const std::string path = ShownPath();
    const bool mp3 = core::TagKindOf(path) == core::TagKind::kMp3;
    // Other fields still in legacy text: players show them garbled, whatever the save writes.
    std::vector<core::ConvertText> legacy = LegacyFieldsToConvert(mp3);
    if (legacy.empty()) {
      if (!Ask(QStringLiteral("确定要保存更改后的信息吗？"))) return;
    } else {
      QStringList lines;
      for (const core::ConvertText& t : legacy) {
        lines << QStringLiteral("%1：%2 → %3")
                     .arg(core::ConvertFieldName(t.field),
                          t.now.isEmpty() ? QStringLiteral("（无）") : t.now, t.after);
      }
      bool convert = false;
      if (!Ask(QStringLiteral("确定要保存更改后的信息吗？\n\n此文件另有 %1 项文字是旧编码，"
                              "播放器显示为乱码：\n%2")
                   .arg(legacy.size())
                   .arg(lines.join(QLatin1Char('\n'))),
               {}, {}, QStringLiteral("同时把这些文字转换为 Unicode（播放器将显示正确的文字）"),
               &convert)) {
        return;
      }
      if (!convert) legacy.clear();
    }
    // The fields whose text the ID3v1 slot will cut, as their counters say now.
    static constexpr std::array<core::TagField, 5> kCounted = {
        core::TagField::kTitle, core::TagField::kArtist, core::TagField::kAlbum,
        core::TagField::kYear, core::TagField::kComment};
    std::vector<core::TagField> cut;
    for (size_t i = 0; i < kCounted.size(); ++i) {
      if (mp3 && ByteCounters[i]->Capacity() > 0 && ByteCounters[i]->Left() < 0) {
        cut.push_back(kCounted[i]);
      }
    }
    const bool readOnly = RefusesWrites(path);
    core::ApplyReport report;
    try {
      report = mp3 ? SaveMp3(path, legacy) : SaveWma(path, legacy);
    } catch (...) {
      UpdateUndo();
      throw;
    }
    UpdateUndo();
    if (report.results.at(0).outcome == core::Outcome::kDone) {
      // The rows hold what the file now holds: the texts as the tag object stored them.
      const core::TrackFields fields = mp3 ? core::FieldsOf(*Mp3Info) : core::FieldsOf(*WmaInfo);
      SetFileFields(path, fields);
      // The boxes now show what was saved; the ID3v2 tag is read again for the label.
      if (mp3 && !id3v2::ReadFromFile(path, shownStart_)) shownStart_ = {};
      RememberShownTexts();
      ShowId3v2Differences(fields);
      // The line names what the file did not take as typed: the boxes keep the whole texts.
      QString line = QStringLiteral("已保存");
      if (readOnly) line += QStringLiteral("；已取消只读属性");
      for (core::TagField field : cut) {
        line += QStringLiteral("；%1被截短为 %2 字节")
                    .arg(core::ShownFieldName(field))
                    .arg(rules::MeasureGbk(fields.Get(field)).bytes);
      }
      if (!legacy.empty())
        line += QStringLiteral("；另有 %1 项旧编码文字已转换").arg(legacy.size());
      MarkFile(path, rowicons::kTick, line + UndoNote(report));
      if (LegacyFieldsToConvert(mp3).empty()) {
        for (int row : RowsOfFile(path)) LV->Model()->SetGarbled(row, false);
      }
      StatusBar1->SetMessage(line);
    } else {
      MarkFile(path, rowicons::kCross, QStringLiteral("保存失败：") + report.results.at(0).reason);
      StatusBar1->SetMessage(QStringLiteral("保存失败：") + report.results.at(0).reason);
    }
  });
}

void TForm1::BtnBatchClick() {
  Guarded([this] {
    if (!TagObjectsAlive()) return;
    const std::array<QCheckBox*, 4> boxes = {ChkArtist, ChkAlbum, ChkYear, ChkComment};
    QString fields;
    core::EditFields values;
    for (size_t i = 0; i < core::kBatchFields.size(); ++i) {
      if (!boxes[i]->isChecked()) continue;
      const core::TagField field = core::kBatchFields[i];
      fields += QStringLiteral("［%1］").arg(core::ShownFieldName(field));
      values.Set(field, BoxOf(field)->text());
    }
    if (values.Empty()) {
      Hint(QStringLiteral("请先勾选需要批量修改的信息！"));
      return;
    }
    std::vector<std::string> paths;
    const std::vector<int> rows = LV->Model()->CheckedRows();
    for (int row : rows) paths.push_back(LV->NativePath(row));
    core::EditPlan plan = [&] {
      WaitCursor wait;
      return core::PlanEdit(paths, values, rows);
    }();
    const QString question = QStringLiteral("确定要用当前歌曲的") + fields +
                             QStringLiteral("\n信息批量修改选中文件的相关信息吗？");
    if (plan.LegacyFiles() == 0) {
      if (!Ask(question, core::DescribeEditPlan(plan), core::SummarizeEditPlan(plan))) return;
    } else {
      // Files whose other fields are legacy text: players show those garbled after the batch.
      bool convert = false;
      if (!Ask(question + QStringLiteral("\n\n其中 %1 个文件的其他文字是旧编码，播放器显示为乱码。")
                              .arg(plan.LegacyFiles()),
               core::DescribeEditPlan(plan), core::SummarizeEditPlan(plan),
               QStringLiteral("同时把这些文字转换为 Unicode（播放器将显示正确的文字）"),
               &convert)) {
        return;
      }
      plan.convertLegacy = convert;
    }

    WaitCursor wait;
    BatchProgress progress(this, static_cast<int>(paths.size()), ProgressDelayMs);
    core::ApplyOptions options = JournalOptions();
    options.progress = [&](int done, int total, const std::string& name) {
      return progress.Step(done, total, name);
    };
    const core::ApplyReport report = core::ApplyEdit(plan, *Mp3Info, *WmaInfo, options);
    progress.Close();
    UpdateUndo();
    // Every row the batch covered gets this batch's mark; the marks of earlier batches go.
    Tally tally;
    int unchanged = 0;  // done, with nothing to change, as the plan counted them
    for (size_t i = 0; i < plan.entries.size(); ++i) {
      const std::string& path = plan.entries[i].path;
      const core::EntryResult& result = report.results[i];
      if (result.outcome == core::Outcome::kDone) {
        ++tally.done;
        unchanged += plan.entries[i].changes.empty() && plan.entries[i].startChanges.empty();
        // The rows hold what the file now holds, read back: texts trimmed, cut, mapped.
        try {
          SetFileFields(path, core::ReadFields(path));
        } catch (const std::exception&) {
          // The rows keep their texts; the mark tells that the file was written.
        }
        QStringList changed;
        for (const auto& c : plan.entries[i].changes) {
          changed << QStringLiteral("%1：%2 → %3")
                         .arg(core::FieldName(c.field), c.oldValue, c.newValue);
        }
        for (const auto& c : plan.entries[i].startChanges) {
          changed << QStringLiteral("ID3v2 %1：%2 → %3")
                         .arg(core::ShownFieldName(c.field), c.oldValue, c.newValue);
        }
        MarkFile(path, rowicons::kTick,
                 QStringLiteral("已批量修改") +
                     (changed.isEmpty() ? QString() : QStringLiteral("\n") + changed.join('\n')) +
                     UndoNote(report));
      } else if (result.outcome == core::Outcome::kFailed) {
        tally.Failed(path, result.reason);
        MarkFile(path, rowicons::kCross, QStringLiteral("修改失败：") + result.reason);
      } else {
        ++tally.notReached;
        MarkFile(path, rowicons::kNotReached,
                 report.error ? QStringLiteral("未修改：批量修改在此之前因错误结束")
                              : QStringLiteral("已取消，未修改"));
      }
    }
    const int total = static_cast<int>(plan.entries.size());
    QString text =
        report.stopped
            ? QStringLiteral("已取消：已完成 %1 / %2，其余未修改").arg(tally.done).arg(total)
            : QStringLiteral("已批量修改 %1 个文件").arg(tally.done - unchanged);
    if (!report.stopped && unchanged > 0) text += QStringLiteral("，无需修改 %1 个").arg(unchanged);
    if (tally.failed > 0) text += QStringLiteral("，%1 个失败").arg(tally.failed);
    if (report.undoable && tally.done > 0) text += QStringLiteral("，可撤销（Ctrl+Z）");
    if (report.error) {
      Tell(text, {}, false);
      throw std::runtime_error(*report.error);
    }
    Tell(text, tally.failures.join(QLatin1Char('\n')), tally.failed > 0);
  });
}

// ---- Unicode tags

void TForm1::NConvertClick() {
  Guarded([this] {
    if (!TagObjectsAlive()) return;
    std::vector<std::string> paths;
    const std::vector<int> rows = LV->Model()->CheckedRows();
    for (int row : rows) paths.push_back(LV->NativePath(row));
    if (paths.empty()) {
      Hint(QStringLiteral("请先勾选要转换的文件！"));
      return;
    }
    const core::ConvertPlan planned = [&] {
      WaitCursor wait;
      return core::PlanConvert(paths, rows);
    }();
    if (planned.Count(core::ConvertStatus::kConvert) == 0 && planned.NeedingALook() == 0) {
      Tell(QStringLiteral("勾选的文件没有需要转换的标签"), core::DescribeConvertPlan(planned),
           false);
      return;
    }
    // The plan as a table: the user reads it, unchecks files, picks encodings for close calls.
    TFrmConvert dialog(this, planned);
    if (dialog.exec() != QDialog::Accepted) return;
    const core::ConvertPlan plan = dialog.CheckedPlan();
    if (plan.Count(core::ConvertStatus::kConvert) == 0) return;
    WaitCursor wait;
    BatchProgress progress(this, plan.Count(core::ConvertStatus::kConvert), ProgressDelayMs);
    core::ApplyOptions options = JournalOptions();
    options.progress = [&](int done, int total, const std::string& name) {
      return progress.Step(done, total, name);
    };
    const core::ApplyReport report = core::ApplyConvert(plan, options);
    progress.Close();
    UpdateUndo();
    Tally tally;
    for (size_t i = 0; i < plan.entries.size(); ++i) {
      const core::ConvertEntry& e = plan.entries[i];
      const core::EntryResult& result = report.results[i];
      if (result.outcome == core::Outcome::kDone) {
        ++tally.done;
        MarkFile(e.path, rowicons::kTick,
                 QStringLiteral("已转换为 Unicode 标签") + UndoNote(report));
        for (int row : RowsOfFile(e.path)) LV->Model()->SetGarbled(row, false);
      } else if (result.outcome == core::Outcome::kFailed) {
        tally.Failed(e.path, result.reason);
        MarkFile(e.path, rowicons::kCross, QStringLiteral("转换失败：") + result.reason);
      } else if (e.status == core::ConvertStatus::kConvert) {
        ++tally.notReached;
        MarkFile(e.path, rowicons::kNotReached, QStringLiteral("已取消，未转换"));
      } else {
        ++tally.skipped;
        MarkFile(e.path, rowicons::kSkipped, QStringLiteral("未转换：") + e.reason);
      }
    }
    // The shown file's label follows its new tag.
    if (std::find(paths.begin(), paths.end(), shownPath_) != paths.end()) {
      try {
        ReadAndShow(shownPath_);
      } catch (const std::exception&) {
        // The boxes keep what they show; the row's mark tells what happened.
      }
    }
    const int total = plan.Count(core::ConvertStatus::kConvert);
    QString text =
        report.stopped
            ? QStringLiteral("已取消：已完成 %1 / %2，其余未转换").arg(tally.done).arg(total)
            : QStringLiteral("已转换 %1 个文件的标签").arg(tally.done);
    if (tally.failed > 0) text += QStringLiteral("，%1 个失败").arg(tally.failed);
    if (report.undoable && tally.done > 0) text += QStringLiteral("，可撤销（Ctrl+Z）");
    Tell(text, tally.failures.join(QLatin1Char('\n')), tally.failed > 0);
  });
}

// ---- Renaming

void TForm1::R1Click(QAbstractButton* sender) {
  if (sender != nullptr) RenameRule = sender->property("Tag").toInt();
  LV->Model()->SetPreviewRule(RenameRule);
}

void TForm1::BtnRenameClick() {
  Guarded([this] {
    std::vector<core::Track> tracks;
    for (int row : LV->Model()->CheckedRows()) tracks.push_back(LV->Model()->TrackOf(row));
    const core::RenamePlan plan = [&] {
      WaitCursor wait;
      return core::PlanRename(tracks, RenameRule);
    }();
    if (!Ask(QStringLiteral("确定要按指定规则更改选中的文件名吗？"), core::DescribeRenamePlan(plan),
             core::SummarizeRenamePlan(plan))) {
      return;
    }
    ApplyRenamePlan(plan);
  });
}

void TForm1::ApplyRenamePlan(const core::RenamePlan& plan) {
  WaitCursor wait;
  BatchProgress progress(this, static_cast<int>(plan.entries.size()), ProgressDelayMs);
  core::ApplyOptions options = JournalOptions();
  options.progress = [&](int done, int total, const std::string& name) {
    return progress.Step(done, total, name);
  };
  // Never replaces another file, and refuses names that leave the folder or that Windows file
  // names cannot hold.
  const core::ApplyReport report = core::ApplyRename(plan, options);
  progress.Close();
  UpdateUndo();
  Tally tally;
  int tried = 0;
  // The failures in the plan's words: its conflicts and refusals, then what failed besides.
  int conflicts = 0, refusals = 0;
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const core::RenameEntry& entry = plan.entries[i];
    const core::EntryResult& result = report.results[i];
    const std::string oldPath = entry.track.Path();
    const bool wanted = entry.status == core::RenameStatus::kRename ||
                        entry.status == core::RenameStatus::kConflict;
    tried += wanted;
    if (result.outcome == core::Outcome::kDone) {
      ++tally.done;
      const QString tip =
          QStringLiteral("已改名：%1 → %2")
              .arg(rules::DisplayName(entry.track.fileName), rules::DisplayName(entry.newName)) +
          UndoNote(report);
      // Every row of the file follows it to its new name.
      for (int row : RowsOfFile(oldPath)) {
        MarkRow(row, rowicons::kTick, tip);
        LV->SetNativeFileName(row, entry.newName);
      }
      FileRenamed(oldPath, entry.track.folder + entry.newName);
    } else if (result.outcome == core::Outcome::kFailed) {
      tally.Failed(oldPath, result.reason);
      conflicts += entry.status == core::RenameStatus::kConflict;
      refusals += entry.status == core::RenameStatus::kRefused;
      MarkFile(oldPath, rowicons::kCross, QStringLiteral("改名失败：") + result.reason);
    } else if (entry.status == core::RenameStatus::kSkipped) {
      ++tally.skipped;
      MarkFile(oldPath, rowicons::kSkipped, QStringLiteral("跳过：") + entry.reason);
    } else {
      ++tally.notReached;
      MarkFile(oldPath, rowicons::kNotReached, QStringLiteral("已取消，未改名"));
    }
  }
  QString text =
      report.stopped
          ? QStringLiteral("已取消：已完成 %1 / %2，其余未修改").arg(tally.done).arg(tried)
          : QStringLiteral("已改名 %1 个文件").arg(tally.done);
  if (conflicts > 0) text += QStringLiteral("，冲突 %1 个").arg(conflicts);
  if (refusals > 0) text += QStringLiteral("，拒绝 %1 个").arg(refusals);
  if (tally.failed > conflicts + refusals) {
    text += QStringLiteral("，%1 个失败").arg(tally.failed - conflicts - refusals);
  }
  if (tally.skipped > 0) text += QStringLiteral("，跳过 %1 个").arg(tally.skipped);
  if (report.undoable && tally.done > 0) text += QStringLiteral("，可撤销（Ctrl+Z）");
  QStringList details = tally.failures;
  if (!report.warning.isEmpty()) details.prepend(report.warning);
  Tell(text, details.join(QLatin1Char('\n')), tally.failed > 0 || !report.warning.isEmpty());
}

// ---- Undo

void TForm1::N12Click() {
  Guarded([this] {
    const std::vector<core::ActionInfo> actions = core::ListActions(*journal_);
    const QString problem = journal_->TakeMessage();
    if (actions.empty()) {
      UpdateUndo();
      Hint(problem.isEmpty() ? QStringLiteral("没有可以撤销的操作。") : problem);
      return;
    }
    const core::ActionInfo& last = actions.front();
    const QString kind = KindName(last.kind);
    QString details = QStringLiteral("%1，%2，%3 个文件")
                          .arg(kind, QDateTime::fromString(last.time, Qt::ISODateWithMs)
                                         .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")))
                          .arg(last.changed);
    if (last.cutShort) details += QStringLiteral("（此操作曾被中断）");
    if (!Ask(QStringLiteral("确定要撤销上次操作吗？"), details)) return;

    // Where the shown file is, as the journal names files: its folder's real path.
    const core::Place shown = shownPath_.empty() ? core::Place{} : core::Resolve(shownPath_);
    WaitCursor wait;
    BatchProgress progress(this, last.changed, ProgressDelayMs);
    core::UndoOptions options;
    options.progress = [&](int done, int total, const std::string& name) {
      return progress.Step(done, total, name);
    };
    // The rows' folders as real paths while they still hold their names: an undone folder's
    // rows follow it.
    LV->Model()->PrimeRealFolders();
    const core::UndoReport report = core::UndoLast(*journal_, options);
    progress.Close();
    UpdateUndo();
    if (report.busy || !report.action) {
      Tell(report.message.isEmpty() ? QStringLiteral("没有可以撤销的操作。") : report.message, {},
           true);
      return;
    }
    Tally tally;
    bool shownTouched = false;
    // The shown file's real path, following the folders the undo renames back.
    std::string shownNow = shown.err == 0 && !shown.folder.empty() ? shown.folder + shown.name : "";
    for (const core::UndoEntry& e : report.entries) {
      const std::vector<int> rows = LV->Model()->RowsOfRealPath(e.path);
      const bool isShown = !shownNow.empty() && shownNow == e.path;
      shownTouched = shownTouched || isShown;
      if (e.outcome == core::Outcome::kFailed) {
        tally.Failed(e.path, e.reason);
        for (int row : rows)
          MarkRow(row, rowicons::kCross, QStringLiteral("撤销失败：") + e.reason);
        continue;
      }
      tally.done += e.outcome == core::Outcome::kDone;
      if (e.folder) {
        if (e.outcome == core::Outcome::kDone) {
          LV->Model()->MoveFolder(e.path + '/', e.restoredPath + '/', true);
          const std::string inside = e.path + '/';
          if (shownNow.compare(0, inside.size(), inside) == 0) {
            shownNow = e.restoredPath + '/' + shownNow.substr(inside.size());
            FolderRenamed(shownPath_, shownNow);
          }
        }
        continue;
      }
      const std::string name = e.restoredPath.substr(e.restoredPath.rfind('/') + 1);
      for (int row : rows) {
        if (e.restoredPath != e.path) {
          LV->SetNativeFileName(row, name);
        } else {
          try {
            LV->Model()->SetFields(row, core::ReadFields(e.path));
          } catch (const std::exception&) {
            // The row keeps its texts; the mark still tells that the file was restored.
          }
        }
        MarkRow(row, rowicons::kUndone, QStringLiteral("已撤销：") + kind);
      }
      if (isShown && e.restoredPath != e.path) {
        FileRenamed(shownPath_, rules::NativeFolderOf(shownPath_) + name);
      }
    }
    // The boxes and the path box show the shown file as it now is.
    if (shownTouched) {
      try {
        ReadAndShow(shownPath_);
      } catch (const std::exception&) {
        // The boxes keep what they show; the row's mark tells what happened.
      }
    }
    QString text = report.stopped
                       ? QStringLiteral("已取消：已撤销 %1 / %2 个文件，其余留在撤销记录中")
                             .arg(tally.done)
                             .arg(last.changed)
                       : QStringLiteral("已撤销 %1 个文件").arg(tally.done);
    if (report.remaining > 0 && !report.stopped) {
      text +=
          QStringLiteral("，%1 个未撤销（留在撤销记录中，下次撤销会再试）").arg(report.remaining);
    }
    QStringList details2 = tally.failures;
    if (!report.warning.isEmpty()) details2.prepend(report.warning);
    if (!report.message.isEmpty()) details2.prepend(report.message);
    Tell(text, details2.join(QLatin1Char('\n')),
         tally.failed > 0 || !report.message.isEmpty() || !report.warning.isEmpty());
  });
}
