#include "Commands.h"

#include <cerrno>
#include <exception>
#include <iterator>

#include "Cli.h"
#include "core/Batch.h"
#include "core/Fields.h"
#include "core/Journal.h"
#include "core/Plans.h"
#include "core/Reasons.h"
#include "core/Rules.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

namespace cli {
namespace {

// ---- Losses: what an MP3 tag holds of the texts a `set` gives it

// A text of the tag that will not hold what was meant for it.
struct Loss {
  QString label;        // the field, as `show` names it
  QString stored;       // what the tag will hold
  QString missing;      // the characters GBK lacks, each stored as "?"
  bool cut = false;     // cut to fit its slot (the comment: 28 bytes beside a track number)
  bool mapped = false;  // a genre name that is no genre: none stored
};

QString Describe(const Loss& loss) {
  if (loss.mapped) {
    return Cli::tr("%1 \"%2\" is no ID3v1 genre: none stored").arg(loss.label, loss.stored);
  }
  if (!loss.missing.isEmpty() && loss.cut) {
    return Cli::tr(
               "%1 holds characters GBK lacks (%2), stored as \"?\", and was cut to fit the "
               "tag: \"%3\"")
        .arg(loss.label, loss.missing, loss.stored);
  }
  if (!loss.missing.isEmpty()) {
    return Cli::tr("%1 holds characters GBK lacks (%2), stored as \"?\": \"%3\"")
        .arg(loss.label, loss.missing, loss.stored);
  }
  return Cli::tr("%1 was cut to fit the tag: \"%2\"").arg(loss.label, loss.stored);
}

std::string_view TrimmedBytes(const std::string& bytes) {
  size_t n = bytes.size();
  while (n > 0 && static_cast<unsigned char>(bytes[n - 1]) <= 0x20) --n;
  return std::string_view(bytes).substr(0, n);
}

// The texts of an MP3 file that a `set` of `f` would not store as given, or not keep as they are
// (the comment cut to 28 bytes when a track number comes beside it). The file's tag is set as the
// batch sets it and its block made and read back, as the next read of the file will.
// The batch edit that `set` makes of its options.
core::EditFields EditFieldsOf(const SetFields& f) {
  core::EditFields fields;
  fields.artist = f.artist;
  fields.album = f.album;
  fields.year = f.year;
  fields.comment = f.comment;
  fields.title = f.title;
  fields.track = f.track;
  fields.genre = f.genre;
  using rules::TrimControl;
  fields.moreMp3 = [f](TIDmp3& tag) {
    if (f.track) tag.SetTrack(rules::Mp3TrackOf(TrimControl(*f.track)));
    if (f.genre) tag.SetGenreID(f.mp3Genre);
    if (f.title) core::SetMp3Text(tag, core::TagField::kTitle, *f.title);
  };
  fields.moreWma = [f](TIDwma& tag) {
    const std::pair<const std::optional<QString>*, core::TagField> texts[] = {
        {&f.title, core::TagField::kTitle},    {&f.track, core::TagField::kTrack},
        {&f.genre, core::TagField::kGenre},    {&f.copyright, core::TagField::kCopyright},
        {&f.url, core::TagField::kUrl},        {&f.userUrl, core::TagField::kUserUrl},
        {&f.lyrics, core::TagField::kLyrics},  {&f.encodedBy, core::TagField::kEncodedBy},
        {&f.version, core::TagField::kVersion}};
    for (const auto& [value, field] : texts) {
      if (*value) (tag.*core::InfoOf(field).setWma)(rules::ToUtf16(TrimControl(**value)));
    }
  };
  return fields;
}

std::vector<Loss> Mp3Losses(const std::string& path, const SetFields& f) {
  TIDmp3 tag;
  if (!tag.ReadFromFile(path)) return {};  // the write fails and says why
  const TIDmp3 before = tag;
  core::SetEditFields(tag, EditFieldsOf(f));
  TIDmp3 stored;
  DecodeBlock(EncodeBlock(tag), stored);

  using rules::TrimControl;
  const std::pair<const std::optional<QString>&, core::TagField> texts[] = {
      {f.title, core::TagField::kTitle},
      {f.artist, core::TagField::kArtist},
      {f.album, core::TagField::kAlbum},
      {f.year, core::TagField::kYear},
      {f.comment, core::TagField::kComment}};
  std::vector<Loss> losses;
  for (const auto& [given, field] : texts) {
    // A field not given may lose its end too: the comment, to a track number set beside it.
    const QString meant = given ? TrimControl(*given) : core::FieldText(before, field);
    Loss loss{Cli::tr(core::InfoOf(field).label), core::FieldText(stored, field), {}, false, false};
    if (given) loss.missing = rules::MeasureGbk(meant).missing;
    loss.cut = TrimmedBytes(rules::ToGbk(core::FieldText(stored, field))) !=
               TrimmedBytes(rules::ToGbk(meant));
    if (loss.cut || !loss.missing.isEmpty()) losses.push_back(loss);
  }
  if (f.genre && f.genreUnknown) {
    losses.push_back({Cli::tr("Genre"), TrimControl(*f.genre), {}, false, true});
  }
  return losses;
}

// ---- set, rename, undo

// Prints what a batch left undone: each failed file with its reason, and the files it did not
// get to when it was stopped or ended by an error. True when every file was done.
bool ReportResults(const core::ApplyReport& report, const std::vector<std::string>& paths,
                   const std::vector<bool>& wanted) {
  bool all = true;
  bool errorShown = false;
  for (size_t i = 0; i < report.results.size(); ++i) {
    const core::EntryResult& r = report.results[i];
    if (r.outcome == core::Outcome::kFailed) {
      Failure(paths[i], r.reason);
      all = false;
    } else if (r.outcome == core::Outcome::kNotTried && wanted[i]) {
      if (report.error && !errorShown) {
        Failure(paths[i], QString::fromUtf8(report.error->c_str()));
        errorShown = true;
      } else {
        Failure(paths[i], report.error ? Cli::tr("not done: the batch ended at an earlier error")
                                       : Cli::tr("not done: stopped"));
      }
      all = false;
    }
  }
  if (!report.journalMessage.isEmpty()) {
    Err((report.undoable
             ? Cli::tr("velomi-tag: warning: %1")
             : Cli::tr("velomi-tag: warning: the action could not be recorded and cannot be "
                       "undone: %1"))
            .arg(report.journalMessage) +
        QLatin1Char('\n'));
  }
  if (!report.warning.isEmpty()) {
    Err(Cli::tr("velomi-tag: warning: %1").arg(report.warning) + QLatin1Char('\n'));
    all = false;
  }
  return all;
}

core::ApplyOptions OptionsWith(core::Journal& journal, Progress& progress) {
  core::ApplyOptions options;
  options.journal = &journal;
  options.progress = [&progress](int done, int total, const std::string& name) {
    progress.Step(done, total, name);
    return true;
  };
  options.cancel = &Interrupted();
  return options;
}

}  // namespace

int Set(const Files& files, const SetFields& f, bool strict) {
  bool failed = files.failed;
  std::vector<std::string> targets;
  std::vector<std::vector<Loss>> losses;  // each target's
  for (const std::string& path : files.paths) {
    const bool isMp3 = core::TagKindOf(path, true) == core::TagKind::kMp3;
    if (isMp3 && !f.wmaOnly.isEmpty()) {
      Failure(path, Cli::tr("not written: an MP3 tag has no field for %1 (WMA files only)")
                        .arg(f.wmaOnly.join(QStringLiteral(", "))));
      failed = true;
      continue;
    }
    std::vector<Loss> lost = isMp3 ? Mp3Losses(path, f) : std::vector<Loss>();
    if (strict && !lost.empty()) {
      for (const Loss& loss : lost) {
        Failure(path, Cli::tr("not written (--strict): %1").arg(Describe(loss)));
      }
      failed = true;
      continue;
    }
    targets.push_back(path);
    losses.push_back(std::move(lost));
  }
  if (targets.empty()) return failed ? kSomeFailed : kDone;

  const core::EditFields fields = EditFieldsOf(f);
  const core::EditPlan plan = core::PlanEdit(targets, fields);
  core::Journal journal;
  Progress progress;
  TIDmp3 mp3;
  TIDwma wma;
  const core::ApplyReport report = core::ApplyEdit(plan, mp3, wma, OptionsWith(journal, progress));
  int written = 0;
  for (size_t i = 0; i < report.results.size(); ++i) {
    if (report.results[i].outcome != core::Outcome::kDone) continue;
    ++written;
    for (const Loss& loss : losses[i]) {
      Err(QStringLiteral("velomi-tag: %1: %2\n")
              .arg(Shown(targets[i]), Cli::tr("warning: %1").arg(Describe(loss))));
    }
  }
  if (!ReportResults(report, targets, std::vector<bool>(targets.size(), true))) failed = true;
  Out(Cli::tr("%n file(s) written.", nullptr, written) + QLatin1Char('\n'));
  return failed ? kSomeFailed : kDone;
}

int Rename(const Files& files, const Naming& naming, bool dryRun) {
  bool failed = files.failed;
  std::vector<core::Track> tracks;
  for (const std::string& path : files.paths) {
    try {
      tracks.push_back(core::ReadTrack(path, static_cast<int>(tracks.size())));
    } catch (const std::exception& e) {
      // A file whose tag cannot be read is no row of the list: it takes no number.
      Failure(path, QString::fromUtf8(e.what()));
      failed = true;
    }
  }
  const core::RenamePlan plan = naming.format
                                    ? core::PlanRename(tracks, *naming.format, naming.characters)
                                    : core::PlanRename(tracks, naming.rule);
  std::vector<std::string> olds;
  std::vector<bool> wanted;
  for (const core::RenameEntry& e : plan.entries) {
    olds.push_back(e.track.Path());
    // A name that is already right is done; another skip (an empty field) is a failure.
    const bool same = e.status == core::RenameStatus::kSkipped && !e.newName.empty();
    wanted.push_back(!same);
    if (e.status == core::RenameStatus::kSkipped && !same) {
      Failure(e.track.Path(), e.reason);
      failed = true;
    }
  }
  if (dryRun) {
    for (const core::RenameEntry& e : plan.entries) {
      if (e.status == core::RenameStatus::kRename) {
        Out(QStringLiteral("%1 → %2\n").arg(Shown(e.track.Path()), Shown(e.newName)));
      } else if (e.status != core::RenameStatus::kSkipped) {
        Failure(e.track.Path(), Cli::tr("would fail (%1 → %2): %3")
                                    .arg(Shown(e.track.fileName), Shown(e.newName), e.reason));
        failed = true;
      }
    }
    return failed ? kSomeFailed : kDone;
  }
  core::Journal journal;
  Progress progress;
  const core::ApplyReport report = core::ApplyRename(plan, OptionsWith(journal, progress));
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const core::RenameEntry& e = plan.entries[i];
    if (report.results[i].outcome == core::Outcome::kDone) {
      Out(QStringLiteral("%1 → %2\n").arg(Shown(e.track.Path()), Shown(e.newName)));
    }
    // Skips were printed with the plan.
    if (e.status == core::RenameStatus::kSkipped) wanted[i] = false;
  }
  if (!ReportResults(report, olds, wanted)) failed = true;
  return failed ? kSomeFailed : kDone;
}

int TagFromName(const Files& files, const core::NameTemplate& format) {
  bool failed = files.failed;
  const std::pair<core::NameField, QString> labels[] = {
      {core::NameField::kArtist, Cli::tr("Artist")},
      {core::NameField::kTitle, Cli::tr("Title")},
      {core::NameField::kAlbum, Cli::tr("Album")},
      {core::NameField::kYear, Cli::tr("Year")},
      {core::NameField::kTrack, Cli::tr("Track")},
      {core::NameField::kComment, Cli::tr("Comment")},
      {core::NameField::kGenre, Cli::tr("Genre")}};
  for (const std::string& path : files.paths) {
    const QString name = rules::FileNameOf(Shown(path));
    const QString stem = name.left(name.size() - rules::ExtensionOf(name).size());
    const std::optional<core::NameTemplate::Fields> fields = format.Match(stem);
    if (!fields) {
      Failure(path, Cli::tr("the name does not match the template"));
      failed = true;
      continue;
    }
    QString text = Shown(path) + QLatin1Char('\n');
    for (const auto& [field, value] : *fields) {
      for (const auto& [f, label] : labels) {
        if (f == field) text += QStringLiteral("  %1: %2\n").arg(label, value);
      }
    }
    Out(text);
  }
  return failed ? kSomeFailed : kDone;
}

int Convert(const Files& files, bool dryRun) {
  bool failed = files.failed;
  const core::ConvertPlan plan = core::PlanConvert(files.paths);
  // What each file gets: the texts players will show.
  auto describe = [](const core::ConvertEntry& e, bool done) {
    QString text =
        e.newTag
            ? (done ? Cli::tr("%1: new ID3v2.3 tag") : Cli::tr("%1: would get a new ID3v2.3 tag"))
                  .arg(Shown(e.path))
            : (done ? Cli::tr("%1: %n frame(s) turned to Unicode", nullptr, int(e.frames))
                    : Cli::tr("%1: %n frame(s) would turn to Unicode", nullptr, int(e.frames)))
                  .arg(Shown(e.path));
    text += QLatin1Char('\n');
    for (const auto& [field, value] : e.texts) {
      text += QStringLiteral("  %1: %2\n").arg(Cli::tr(core::InfoOf(field).label), value);
    }
    return text;
  };
  const bool writes = !dryRun && plan.Count(core::ConvertStatus::kConvert) > 0;
  for (const core::ConvertEntry& e : plan.entries) {
    if (e.status == core::ConvertStatus::kRefused) {
      if (!writes) Failure(e.path, e.reason);  // else with the results
      failed = true;
    } else if (e.status == core::ConvertStatus::kNothing) {
      Out(Cli::tr("%1: nothing to convert (%2)").arg(Shown(e.path), e.reason) + QLatin1Char('\n'));
    } else if (dryRun) {
      Out(describe(e, false));
    }
  }
  if (!writes) return failed ? kSomeFailed : kDone;
  core::Journal journal;
  Progress progress;
  const core::ApplyReport report = core::ApplyConvert(plan, OptionsWith(journal, progress));
  std::vector<std::string> paths;
  std::vector<bool> wanted;
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const core::ConvertEntry& e = plan.entries[i];
    paths.push_back(e.path);
    wanted.push_back(e.status == core::ConvertStatus::kConvert);
    if (report.results[i].outcome == core::Outcome::kDone) Out(describe(e, true));
  }
  if (!ReportResults(report, paths, wanted)) failed = true;
  return failed ? kSomeFailed : kDone;
}

int Undo(bool list, bool forget) {
  core::Journal journal;
  if (forget) {
    std::optional<core::ActionInfo> forgotten;
    const bool ok = core::ForgetLast(journal, forgotten);
    const QString problem = journal.TakeMessage();
    if (!problem.isEmpty()) Err(QStringLiteral("velomi-tag: %1\n").arg(problem));
    if (!forgotten) {
      Err(Cli::tr("velomi-tag: nothing to forget") + QLatin1Char('\n'));
      return kSomeFailed;
    }
    if (!ok) return kSomeFailed;
    Out(Cli::tr("Forgot the action of %1; its files stay as they are.").arg(forgotten->time) +
        QLatin1Char('\n'));
    return kDone;
  }
  if (list) {
    const std::vector<core::ActionInfo> actions = core::ListActions(journal);
    const QString problem = journal.TakeMessage();
    if (!problem.isEmpty()) Err(QStringLiteral("velomi-tag: %1\n").arg(problem));
    if (actions.empty()) Out(Cli::tr("The journal holds no actions.") + QLatin1Char('\n'));
    for (const core::ActionInfo& a : actions) {
      const QString kind = a.kind == QLatin1String("rename")    ? Cli::tr("rename")
                           : a.kind == QLatin1String("edit")    ? Cli::tr("batch edit")
                           : a.kind == QLatin1String("convert") ? Cli::tr("convert")
                                                                : Cli::tr("save");
      QString line = Cli::tr("%1  %2, %3 of %4 file(s) changed")
                         .arg(a.time, kind)
                         .arg(a.changed)
                         .arg(a.entries);
      if (a.running) {
        line += Cli::tr(" (running)");
      } else if (a.cutShort) {
        line += Cli::tr(" (cut short)");
      }
      Out(line + QLatin1Char('\n'));
    }
    return problem.isEmpty() ? kDone : kSomeFailed;
  }
  const core::UndoReport report = core::UndoLast(journal, {{}, &Interrupted()});
  if (!report.message.isEmpty()) Err(QStringLiteral("velomi-tag: %1\n").arg(report.message));
  if (!report.action) {
    Err(Cli::tr("velomi-tag: nothing to undo") + QLatin1Char('\n'));
    return kSomeFailed;
  }
  if (report.busy) return kSomeFailed;
  bool failed = !report.message.isEmpty();
  int undone = 0;
  for (const core::UndoEntry& e : report.entries) {
    if (e.outcome == core::Outcome::kFailed) {
      Failure(e.path, e.reason);
      failed = true;
    } else if (e.outcome == core::Outcome::kDone) {
      ++undone;
      if (e.path != e.restoredPath) {
        Out(QStringLiteral("%1 → %2\n").arg(Shown(e.path), Shown(e.restoredPath)));
      } else {
        Out(Cli::tr("restored: %1").arg(Shown(e.path)) + QLatin1Char('\n'));
      }
    }
  }
  Out(Cli::tr("Undid the action of %1: %n file(s) restored.", nullptr, undone)
          .arg(report.action->time) +
      QLatin1Char('\n'));
  if (report.remaining > 0) {
    Err(Cli::tr("velomi-tag: %n file(s) not undone stay in the journal; \"velomi-tag undo\" tries "
                "them again, \"velomi-tag undo --forget\" drops them.",
                nullptr, report.remaining) +
        QLatin1Char('\n'));
    failed = true;
  }
  return failed ? kSomeFailed : kDone;
}

}  // namespace cli
