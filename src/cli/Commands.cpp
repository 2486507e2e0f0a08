#include "Commands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <exception>

#include "Cli.h"
#include "core/Batch.h"
#include "core/Journal.h"
#include "core/Plans.h"
#include "core/Reasons.h"
#include "core/Rules.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

namespace cli {
namespace {

// ---- show

// One field as shown: its key in JSON, its label for a person, its text.
struct ShownField {
  const char* key;
  QString label;
  QString value;
};

struct ShownTag {
  QString format;  // "MP3" or "WMA"
  std::vector<ShownField> fields;
  int genreId = -1;  // MP3 only
  QString error;     // why the tag could not be read
};

QString GenreName(uint8_t id) {
  return id < ID3Genres.size() ? QString::fromLatin1(ID3Genres[id].data(),
                                                     static_cast<qsizetype>(ID3Genres[id].size()))
                               : QString();
}

// The labels of the fields, translated once for a whole run.
struct Labels {
  QString title = Cli::tr("Title"), artist = Cli::tr("Artist"), album = Cli::tr("Album"),
          year = Cli::tr("Year"), comment = Cli::tr("Comment"), track = Cli::tr("Track"),
          genre = Cli::tr("Genre"), copyright = Cli::tr("Copyright"), url = Cli::tr("URL"),
          userUrl = Cli::tr("User URL"), lyrics = Cli::tr("Lyrics"),
          encodedBy = Cli::tr("Encoded by"), version = Cli::tr("Version"),
          format = Cli::tr("Format");
};
const Labels& TheLabels() {
  static const Labels labels;  // made on first use, after the translations are installed
  return labels;
}

// The tag as the window shows it: MP3 texts decoded from GBK, the track number, the genre's name.
ShownTag ReadMp3(TIDmp3& tag, const std::string& path) {
  ShownTag shown{QStringLiteral("MP3"), {}, -1, {}};
  errno = 0;
  if (!tag.ReadFromFile(path)) {
    shown.error = core::ReasonOf(errno, Cli::tr("the file is too short to be an MP3 file"));
    return shown;
  }
  using rules::FromGbk;
  const Labels& L = TheLabels();
  shown.fields = {
      {"title", L.title, FromGbk(tag.Title)},       {"artist", L.artist, FromGbk(tag.Artist)},
      {"album", L.album, FromGbk(tag.Album)},       {"year", L.year, FromGbk(tag.Year)},
      {"comment", L.comment, FromGbk(tag.Comment)}, {"track", L.track, QString::number(tag.Track)},
      {"genre", L.genre, GenreName(tag.GenreID)}};
  shown.genreId = tag.GenreID;
  return shown;
}

ShownTag ReadWma(TIDwma& tag, const std::string& path) {
  ShownTag shown{QStringLiteral("WMA"), {}, -1, {}};
  try {
    if (!tag.ReadFromFile(path)) {
      shown.error = Cli::tr("not a WMA file");
      return shown;
    }
  } catch (const std::exception& e) {
    shown.error = QString::fromUtf8(e.what());
    return shown;
  }
  using rules::FromUtf16;
  const Labels& L = TheLabels();
  shown.fields = {{"title", L.title, FromUtf16(tag.Title)},
                  {"artist", L.artist, FromUtf16(tag.Artist)},
                  {"album", L.album, FromUtf16(tag.Album)},
                  {"year", L.year, FromUtf16(tag.Year)},
                  {"comment", L.comment, FromUtf16(tag.Comment)},
                  {"track", L.track, FromUtf16(tag.Track)},
                  {"genre", L.genre, FromUtf16(tag.Genre)},
                  {"copyright", L.copyright, FromUtf16(tag.Copyright)},
                  {"url", L.url, FromUtf16(tag.Url)},
                  {"userUrl", L.userUrl, FromUtf16(tag.UserUrl)},
                  {"lyrics", L.lyrics, FromUtf16(tag.Lyrics)},
                  {"encodedBy", L.encodedBy, FromUtf16(tag.EncodedBy)},
                  {"version", L.version, FromUtf16(tag.Version)}};
  return shown;
}

QString AsText(const QString& path, const ShownTag& tag) {
  QString text;
  text.reserve(400);
  auto line = [&text](const QString& label, const QString& value) {
    text += QLatin1String("  ") + label + QLatin1Char(':');
    if (!value.isEmpty()) text += QLatin1Char(' ') + value;
    text += QLatin1Char('\n');
  };
  text += path + QLatin1Char('\n');
  line(TheLabels().format, tag.format);
  for (const ShownField& f : tag.fields) {
    if (!f.value.contains(QLatin1Char('\n'))) {
      line(f.label, f.value);
      continue;
    }
    QString value = f.value;  // lyrics: their lines under the label
    value.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    value.replace(QLatin1Char('\n'), QStringLiteral("\n    "));
    line(f.label, value);
  }
  return text;
}

// The path as JSON: "path" holds its text; when its bytes are not UTF-8 that text is only for
// showing, and "pathBase64" holds the bytes themselves.
QJsonObject AsJson(const std::string& path, const ShownTag& tag) {
  QJsonObject o{{QStringLiteral("path"), Shown(path)},
                {QStringLiteral("format"), tag.format.toLower()}};  // "" when not audio
  if (!rules::IsUtf8(path)) {
    o.insert(QStringLiteral("pathBase64"),
             QString::fromLatin1(QByteArray::fromStdString(path).toBase64()));
  }
  if (!tag.error.isEmpty()) {
    o.insert(QStringLiteral("error"), tag.error);
    return o;
  }
  QJsonObject fields;
  for (const ShownField& f : tag.fields) fields.insert(QLatin1String(f.key), f.value);
  if (tag.genreId >= 0) {
    fields.insert(QStringLiteral("track"),
                  fields.value(QStringLiteral("track")).toString().toInt());
    fields.insert(QStringLiteral("genreId"), tag.genreId);
  }
  o.insert(QStringLiteral("fields"), fields);
  return o;
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

int Show(const std::vector<std::string>& paths, bool json) {
  const Files files = Expand(paths);
  bool failed = files.failed;
  TIDmp3 mp3;
  TIDwma wma;
  QJsonArray list;
  for (const auto& [path, reason] : files.failures) {
    list.append(AsJson(path, ShownTag{QString(), {}, -1, reason}));
  }
  Progress progress;
  const int total = static_cast<int>(files.paths.size());
  for (int i = 0; i < total; ++i) {
    const std::string& path = files.paths[static_cast<size_t>(i)];
    progress.Step(i, total, path);
    const QString shown = Shown(path);
    const bool isMp3 = rules::FormatKey(shown) == rules::kMp3Key;
    const ShownTag tag = isMp3 ? ReadMp3(mp3, path) : ReadWma(wma, path);
    if (!tag.error.isEmpty()) {
      Failure(path, tag.error);
      failed = true;
    }
    if (json) {
      list.append(AsJson(path, tag));
    } else if (tag.error.isEmpty()) {
      Out(AsText(shown, tag));
    }
  }
  if (json) {
    Out(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("files"), list}})
                              .toJson(QJsonDocument::Indented)));
  }
  return failed ? kSomeFailed : kDone;
}

int Set(const std::vector<std::string>& paths, const SetFields& f) {
  const Files files = Expand(paths);
  bool failed = files.failed;
  std::vector<std::string> targets;
  for (const std::string& path : files.paths) {
    const bool isMp3 = rules::WholeExtensionKey(Shown(path)) == rules::kMp3Key;
    if (isMp3 && !f.wmaOnly.isEmpty()) {
      Failure(path, Cli::tr("not written: an MP3 tag has no field for %1 (WMA files only)")
                        .arg(f.wmaOnly.join(QStringLiteral(", "))));
      failed = true;
      continue;
    }
    targets.push_back(path);
  }
  if (targets.empty()) return failed ? kSomeFailed : kDone;

  core::EditFields fields;
  fields.artist = f.artist;
  fields.album = f.album;
  fields.year = f.year;
  fields.comment = f.comment;
  using rules::TrimControl;
  fields.moreMp3 = [&f](TIDmp3& tag) {
    if (f.title) tag.SetTitle(rules::ToGbk(TrimControl(*f.title)));
    if (f.track) tag.SetTrack(rules::Mp3TrackOf(TrimControl(*f.track)));
    if (f.genre) tag.SetGenreID(f.mp3Genre);
  };
  fields.moreWma = [&f](TIDwma& tag) {
    const std::pair<const std::optional<QString>*, void (TIDwma::*)(std::u16string_view)> texts[] =
        {{&f.title, &TIDwma::SetTitle},    {&f.track, &TIDwma::SetTrack},
         {&f.genre, &TIDwma::SetGenre},    {&f.copyright, &TIDwma::SetCopyright},
         {&f.url, &TIDwma::SetUrl},        {&f.userUrl, &TIDwma::SetUserUrl},
         {&f.lyrics, &TIDwma::SetLyrics},  {&f.encodedBy, &TIDwma::SetEncodedBy},
         {&f.version, &TIDwma::SetVersion}};
    for (const auto& [value, setter] : texts) {
      if (*value) (tag.*setter)(rules::ToUtf16(TrimControl(**value)));
    }
  };
  const core::EditPlan plan = core::PlanEdit(targets, fields);
  core::Journal journal;
  Progress progress;
  TIDmp3 mp3;
  TIDwma wma;
  const core::ApplyReport report = core::ApplyEdit(plan, mp3, wma, OptionsWith(journal, progress));
  int written = 0;
  for (const auto& r : report.results) written += r.outcome == core::Outcome::kDone;
  if (!ReportResults(report, targets, std::vector<bool>(targets.size(), true))) failed = true;
  Out(Cli::tr("%n file(s) written.", nullptr, written) + QLatin1Char('\n'));
  return failed ? kSomeFailed : kDone;
}

int Rename(const std::vector<std::string>& paths, int rule, bool dryRun) {
  const Files files = Expand(paths);
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
  const core::RenamePlan plan = core::PlanRename(tracks, rule);
  std::vector<std::string> olds;
  std::vector<bool> wanted;
  for (const core::RenameEntry& e : plan.entries) {
    olds.push_back(e.track.Path());
    // A name that is already right is done; another skip (no title, no artist) is a failure.
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
      const QString kind = a.kind == QLatin1String("rename") ? Cli::tr("rename")
                           : a.kind == QLatin1String("edit") ? Cli::tr("batch edit")
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
