#include "Commands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <exception>
#include <iterator>
#include <map>

#include "Cli.h"
#include "core/Batch.h"
#include "core/fields/Fields.h"
#include "core/journal/Journal.h"
#include "core/plans/Plans.h"
#include "core/text/Rules.h"
#include "core/utils/Reasons.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"
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

// What became of each file that `set` or `tag-from-name` writes: what its tag will not hold as
// given, and why it was not written. Only the files that have either are held.
struct Written {
  bool failed = false;
  bool applied = false;  // a plan was carried out (some file was not refused before it)
  int written = 0;
  std::map<size_t, std::vector<Loss>> losses;  // by file
  std::map<size_t, QString> reasons;           // by file, for those not written

  bool WasWritten(size_t i) const { return applied && reasons.count(i) == 0; }
};

// Writes the fields into the files `paths` as one action of the journal, through the batch edit:
// `common` into every file, or without it each file's own (`each`). An MP3 file whose tag would
// not hold a text as given is left unwritten under `strict`, and written with a warning otherwise.
// Prints every failure and warning on standard error. Each file is planned as the batch reaches
// it, so that nothing of a library is held but its paths and what went wrong.
Written WriteFields(core::Journal& journal, const std::vector<std::string>& paths,
                    const SetFields* common, const std::vector<SetFields>& each, bool strict) {
  Written w;
  std::vector<size_t> kept;  // the files the batch covers
  kept.reserve(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string& path = paths[i];
    const SetFields& f = common != nullptr ? *common : each[i];
    const bool isMp3 = core::TagKindOf(path, true) == core::TagKind::kMp3;
    if (isMp3 && !f.wmaOnly.isEmpty()) {
      w.reasons[i] = Cli::tr("not written: an MP3 tag has no field for %1 (WMA files only)")
                         .arg(f.wmaOnly.join(QStringLiteral(", ")));
      Failure(path, w.reasons[i]);
      w.failed = true;
      continue;
    }
    std::vector<Loss> losses = isMp3 ? Mp3Losses(path, f) : std::vector<Loss>();
    if (strict && !losses.empty()) {
      for (const Loss& loss : losses) {
        w.reasons[i] = Cli::tr("not written (--strict): %1").arg(Describe(loss));
        Failure(path, w.reasons[i]);
      }
      w.losses[i] = std::move(losses);
      w.failed = true;
      continue;
    }
    if (!losses.empty()) w.losses[i] = std::move(losses);
    kept.push_back(i);
  }
  if (kept.empty()) return w;

  // The paths of the batch: all of them, unless some were left out above.
  std::vector<std::string> some;
  if (kept.size() != paths.size()) {
    for (size_t i : kept) some.push_back(paths[i]);
  }
  const std::vector<std::string>& batch = kept.size() != paths.size() ? some : paths;
  std::vector<core::EditFields> fields;
  if (common == nullptr) {
    for (size_t i : kept) fields.push_back(EditFieldsOf(each[i]));
  }
  Progress progress;
  TIDmp3 mp3;
  TIDwma wma;
  const core::ApplyReport report =
      core::ApplyEdit(batch, common != nullptr ? EditFieldsOf(*common) : core::EditFields{}, fields,
                      mp3, wma, OptionsWith(journal, progress));
  w.applied = true;
  for (size_t k = 0; k < kept.size(); ++k) {
    const size_t i = kept[k];
    const core::EntryResult& r = report.results[k];
    if (r.outcome != core::Outcome::kDone) {
      w.reasons[i] = r.outcome == core::Outcome::kFailed ? r.reason
                     : report.error                      ? QString::fromUtf8(report.error->c_str())
                                                         : Cli::tr("not done: stopped");
      continue;
    }
    ++w.written;
    auto lost = w.losses.find(i);
    if (lost == w.losses.end()) continue;
    for (const Loss& loss : lost->second) {
      Err(QStringLiteral("velomi-tag: %1: %2\n")
              .arg(Shown(paths[i]), Cli::tr("warning: %1").arg(Describe(loss))));
    }
  }
  if (!ReportResults(report, batch, std::vector<bool>(batch.size(), true))) w.failed = true;
  return w;
}

}  // namespace

std::optional<uint8_t> Mp3GenreOf(const QString& text) {
  if (text.isEmpty()) return uint8_t{255};
  bool number = false;
  const int n = text.toInt(&number);
  if (number) {
    if (n >= 0 && n < static_cast<int>(ID3Genres.size())) return static_cast<uint8_t>(n);
    return std::nullopt;
  }
  for (size_t i = 0; i < ID3Genres.size(); ++i) {
    const QString name =
        QString::fromLatin1(ID3Genres[i].data(), static_cast<qsizetype>(ID3Genres[i].size()));
    if (name.compare(text, Qt::CaseInsensitive) == 0) return static_cast<uint8_t>(i);
  }
  return std::nullopt;
}

QString CheckFields(SetFields& fields) {
  if (fields.year) {
    for (const QChar c : rules::TrimControl(*fields.year)) {
      if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
        return Cli::tr("the year may hold digits only: \"%1\"").arg(*fields.year);
      }
    }
  }
  if (fields.track) {
    const QString track = rules::TrimControl(*fields.track);
    const int64_t n = rules::StrToIntDef(track, -1);
    if (!track.isEmpty() && (n < 0 || n > 255)) {
      return Cli::tr("the track must be a number from 0 to 255: \"%1\"").arg(*fields.track);
    }
  }
  if (fields.genre) {
    const QString genre = rules::TrimControl(*fields.genre);
    const std::optional<uint8_t> id = Mp3GenreOf(genre);
    bool number = false;
    genre.toInt(&number);
    // A number must be a genre's; a name that is none is a WMA file's text, and no MP3 genre.
    if (!id && number) return Cli::tr("no such genre: \"%1\"").arg(*fields.genre);
    fields.genreUnknown = !id;
    fields.mp3Genre = id.value_or(255);
    // A number names its genre in a WMA file too, as choosing it from the list does.
    if (number) {
      fields.genre =
          QString::fromLatin1(ID3Genres[*id].data(), static_cast<qsizetype>(ID3Genres[*id].size()));
    }
  }
  return {};
}

int Set(core::Journal& journal, const Files& files, const SetFields& f, bool strict) {
  const Written w = WriteFields(journal, files.paths, &f, {}, strict);
  if (w.applied) Out(Cli::tr("%n file(s) written.", nullptr, w.written) + QLatin1Char('\n'));
  return files.failed || w.failed ? kSomeFailed : kDone;
}

int Rename(core::Journal& journal, const Files& files, const Naming& naming, bool dryRun) {
  bool failed = files.failed;
  std::vector<core::Track> tracks;
  tracks.reserve(files.paths.size());
  for (const std::string& path : files.paths) {
    try {
      tracks.push_back(core::ReadTrack(path, static_cast<int>(tracks.size())));
    } catch (const std::exception& e) {
      // A file whose tag cannot be read is no row of the list: it takes no number.
      Failure(path, QString::fromUtf8(e.what()));
      failed = true;
    }
  }
  const core::RenamePlan plan =
      naming.format
          ? core::PlanRename(tracks, *naming.format, naming.characters, core::PlaceWord::kFile)
          : core::PlanRename(tracks, naming.rule, core::PlaceWord::kFile);
  std::vector<core::Track>().swap(tracks);  // the plan holds them now
  std::vector<std::string> olds;
  olds.reserve(plan.entries.size());
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
    Out(core::SummarizeRenamePlan(plan) + QLatin1Char('\n'));  // a dry run ends with its counts
    return failed ? kSomeFailed : kDone;
  }
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

namespace {

// The fields a file name gives, as `set` takes them.
SetFields SetFieldsOf(const core::NameTemplate::Fields& named) {
  SetFields f;
  for (const auto& [field, value] : named) {
    switch (field) {
      case core::NameField::kArtist:
        f.artist = value;
        break;
      case core::NameField::kTitle:
        f.title = value;
        break;
      case core::NameField::kAlbum:
        f.album = value;
        break;
      case core::NameField::kYear:
        f.year = value;
        break;
      case core::NameField::kTrack:
        f.track = value;
        break;
      case core::NameField::kComment:
        f.comment = value;
        break;
      case core::NameField::kGenre:
        f.genre = value;
        break;
      case core::NameField::kPosition:
        break;  // refused before: it is no field of the tag
    }
  }
  return f;
}

// The JSON key of a field, as `show --json` names it.
QString KeyOf(core::NameField field) {
  switch (field) {
    case core::NameField::kArtist:
      return QStringLiteral("artist");
    case core::NameField::kTitle:
      return QStringLiteral("title");
    case core::NameField::kAlbum:
      return QStringLiteral("album");
    case core::NameField::kYear:
      return QStringLiteral("year");
    case core::NameField::kTrack:
      return QStringLiteral("track");
    case core::NameField::kComment:
      return QStringLiteral("comment");
    case core::NameField::kGenre:
      return QStringLiteral("genre");
    case core::NameField::kPosition:
      break;  // no field of the tag
  }
  return {};
}

// A file of tag-from-name's JSON: its path, the fields its name gave (the track a number, the
// genre's ID3v1 number where it names one), and what became of it.
QJsonObject JsonOf(const std::string& path, const core::NameTemplate::Fields* named,
                   const SetFields* fields) {
  QJsonObject file{{QStringLiteral("path"), Shown(path)}};
  if (!rules::IsUtf8(path)) {
    file[QStringLiteral("pathBase64")] =
        QString::fromLatin1(QByteArray::fromStdString(path).toBase64());
  }
  if (named == nullptr) return file;
  QJsonObject values;
  for (const auto& [field, value] : *named) {
    if (KeyOf(field).isEmpty()) continue;
    values[KeyOf(field)] =
        field == core::NameField::kTrack ? QJsonValue(value.toInt()) : QJsonValue(value);
  }
  if (fields != nullptr && fields->genre && !fields->genreUnknown && fields->mp3Genre != 255) {
    values[QStringLiteral("genreId")] = fields->mp3Genre;
  }
  file[QStringLiteral("fields")] = values;
  return file;
}

}  // namespace

int TagFromName(core::Journal& journal, const Files& files, const core::NameTemplate& format,
                const NameWrite& how) {
  bool failed = files.failed;
  const std::pair<core::NameField, QString> labels[] = {
      {core::NameField::kArtist, Cli::tr("Artist")},
      {core::NameField::kTitle, Cli::tr("Title")},
      {core::NameField::kAlbum, Cli::tr("Album")},
      {core::NameField::kYear, Cli::tr("Year")},
      {core::NameField::kTrack, Cli::tr("Track")},
      {core::NameField::kComment, Cli::tr("Comment")},
      {core::NameField::kGenre, Cli::tr("Genre")}};
  // Each file's name read by the template: the files it gives fields to become targets; the
  // others, and those left out at expansion, keep their place in the JSON with their reason.
  std::vector<std::string> targets;
  std::vector<SetFields> targetFields;            // each target's
  std::vector<core::NameTemplate::Fields> named;  // each target's
  struct Place {
    std::string path;
    QString error;
    int target = -1;
  };
  std::vector<Place> order;
  size_t leftOut = 0;
  auto addLeftOut = [&](size_t at) {
    for (; leftOut < files.failures.size() && files.failures[leftOut].at == at; ++leftOut) {
      order.push_back({files.failures[leftOut].path, files.failures[leftOut].reason});
    }
  };
  for (size_t i = 0; i < files.paths.size(); ++i) {
    addLeftOut(i);
    const std::string& path = files.paths[i];
    const QString name = rules::FileNameOf(rules::DisplayName(path));
    const QString stem = name.left(name.size() - rules::ExtensionOf(name).size());
    const std::optional<core::NameTemplate::Fields> fields = format.Match(stem);
    SetFields f;
    QString problem = Cli::tr("the name does not match the template");
    if (fields) {
      f = SetFieldsOf(*fields);
      problem = CheckFields(f);
    }
    if (!problem.isEmpty()) {
      Failure(path, problem);
      failed = true;
      order.push_back({path, problem});
      continue;
    }
    order.push_back({path, {}, static_cast<int>(targets.size())});
    targets.push_back(path);
    targetFields.push_back(f);
    named.push_back(*fields);
    for (auto& [field, value] : named.back()) {
      if (field == core::NameField::kGenre) value = *f.genre;  // a number as its genre's name
    }
  }
  addLeftOut(files.paths.size());

  Written w;
  if (!how.dryRun) {
    w = WriteFields(journal, targets, nullptr, targetFields, how.strict);
    failed = failed || w.failed;
  }
  if (how.json) {
    QJsonArray list;
    for (const Place& p : order) {
      const bool target = p.target >= 0;
      const size_t t = target ? static_cast<size_t>(p.target) : 0;
      QJsonObject file =
          JsonOf(p.path, target ? &named[t] : nullptr, target ? &targetFields[t] : nullptr);
      if (target && !how.dryRun) {
        file[QStringLiteral("written")] = w.WasWritten(t);
        if (!w.WasWritten(t)) file[QStringLiteral("error")] = w.reasons[t];
        QJsonArray warnings;
        for (const Loss& loss : w.losses[t]) warnings.append(Describe(loss));
        if (!warnings.isEmpty()) file[QStringLiteral("warnings")] = warnings;
      } else if (!target) {
        file[QStringLiteral("error")] = p.error;
      }
      list.append(file);
    }
    const QJsonObject document{{QStringLiteral("version"), 1}, {QStringLiteral("files"), list}};
    Out(QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented)));
  } else if (how.dryRun) {
    for (size_t k = 0; k < targets.size(); ++k) {
      QString text = Shown(targets[k]) + QLatin1Char('\n');
      for (const auto& [field, value] : named[k]) {
        for (const auto& [f, label] : labels) {
          if (f == field) text += QStringLiteral("  %1: %2\n").arg(label, value);
        }
      }
      Out(text);
    }
  } else if (w.applied) {
    Out(Cli::tr("%n file(s) written.", nullptr, w.written) + QLatin1Char('\n'));
  }
  return failed ? kSomeFailed : kDone;
}

namespace {

const char* StatusKey(const core::ConvertEntry& e) {
  if (e.NeedsALook()) return "needsALook";
  switch (e.status) {
    case core::ConvertStatus::kConvert:
      return "convert";
    case core::ConvertStatus::kNothing:
      return "nothing";
    case core::ConvertStatus::kRefused:
      break;
  }
  return "refused";
}

QString EncodingName(legacy::Encoding e) { return QString::fromLatin1(legacy::NameOf(e)); }

// "GBK 12, Big5 11": the readings that decode every field, best first.
QString Candidates(const legacy::Detection& d) {
  std::vector<std::pair<int, legacy::Encoding>> order;
  for (size_t i = 0; i < legacy::kEncodingCount; ++i) {
    if (d.scores[i]) order.emplace_back(*d.scores[i], legacy::kEncodings[i]);
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  QStringList parts;
  for (const auto& [score, e] : order)
    parts << QStringLiteral("%1 %2").arg(EncodingName(e)).arg(score);
  return parts.join(QStringLiteral(", "));
}

QJsonObject JsonOf(const core::ConvertEntry& e, const core::EntryResult* result) {
  QJsonObject file{{QStringLiteral("path"), Shown(e.path)},
                   {QStringLiteral("status"), QLatin1String(StatusKey(e))}};
  if (!rules::IsUtf8(e.path)) {
    file[QStringLiteral("pathBase64")] =
        QString::fromLatin1(QByteArray::fromStdString(e.path).toBase64());
  }
  if (!e.reason.isEmpty()) file[QStringLiteral("reason")] = e.reason;
  if (e.detection.any) {
    const legacy::Detection d = e.Decided();
    file[QStringLiteral("encoding")] = EncodingName(d.encoding);
    file[QStringLiteral("chosen")] = e.chosen.has_value();
    QJsonArray candidates;
    for (size_t i = 0; i < legacy::kEncodingCount; ++i) {
      if (!e.detection.scores[i]) continue;
      candidates.append(
          QJsonObject{{QStringLiteral("encoding"), EncodingName(legacy::kEncodings[i])},
                      {QStringLiteral("score"), *e.detection.scores[i]}});
    }
    file[QStringLiteral("candidates")] = candidates;
    if (!e.detection.undecodable.empty()) {
      file[QStringLiteral("undecodable")] = static_cast<int>(e.detection.undecodable.size());
    }
  }
  if (e.status == core::ConvertStatus::kConvert || e.NeedsALook()) {
    if (!e.NeedsALook()) file[QStringLiteral("newTag")] = e.newTag;
    QJsonArray texts;
    for (const core::ConvertText& t : e.texts) {
      QJsonObject text{{QStringLiteral("field"), QLatin1String(core::InfoOf(t.field).key)},
                       {QStringLiteral("now"), t.now},
                       {QStringLiteral("after"), t.after}};
      // A close call: "after" as the best reading gives it, "second" as the second best does.
      for (const core::ConvertText& second : e.secondTexts) {
        if (second.field == t.field) text[QStringLiteral("second")] = second.after;
      }
      texts.append(text);
    }
    file[QStringLiteral("fields")] = texts;
  }
  if (result != nullptr && e.status == core::ConvertStatus::kConvert) {
    file[QStringLiteral("written")] = result->outcome == core::Outcome::kDone;
    if (result->outcome == core::Outcome::kFailed) file[QStringLiteral("error")] = result->reason;
  }
  return file;
}

}  // namespace

int Convert(core::Journal& journal, const Files& files, const ConvertHow& how) {
  bool failed = files.failed;
  const core::ConvertPlan plan = core::PlanConvert(files.paths, {}, how.encoding);
  // What each file gets: its encoding, then each field as players show it now and as it will.
  auto describe = [](const core::ConvertEntry& e, bool done) {
    const QString encoding = EncodingName(e.Decided().encoding);
    QString text =
        e.wma ? (done ? Cli::tr("%1: %n text(s) read as %2", nullptr, int(e.texts.size()))
                      : Cli::tr("%1: %n text(s) would read as %2", nullptr, int(e.texts.size())))
                    .arg(Shown(e.path), encoding)
        : e.newTag ? (done ? Cli::tr("%1: new ID3v2.3 tag, read as %2")
                           : Cli::tr("%1: would get a new ID3v2.3 tag, read as %2"))
                         .arg(Shown(e.path), encoding)
                   : (done ? Cli::tr("%1: %n frame(s) turned to Unicode, read as %2", nullptr,
                                     int(e.frames))
                           : Cli::tr("%1: %n frame(s) would turn to Unicode, read as %2", nullptr,
                                     int(e.frames)))
                         .arg(Shown(e.path), encoding);
    text += QLatin1Char('\n');
    for (const core::ConvertText& t : e.texts) {
      text += QStringLiteral("  %1: %2 → %3\n")
                  .arg(Cli::tr(core::InfoOf(t.field).label),
                       t.now.isEmpty() ? Cli::tr("(nothing)") : t.now, t.after);
    }
    return text;
  };
  const bool writes = !how.dryRun && plan.Count(core::ConvertStatus::kConvert) > 0;
  int looks = 0;
  for (const core::ConvertEntry& e : plan.entries) {
    if (e.status == core::ConvertStatus::kRefused) {
      if (!writes && !how.json) Failure(e.path, e.reason);  // else with the results
      failed = true;
    } else if (e.NeedsALook()) {
      ++looks;
      if (!how.json) {
        QString text = Cli::tr("%1: needs a look, left out: %2 (choose one with --encoding)")
                           .arg(Shown(e.path), Candidates(e.detection)) +
                       QLatin1Char('\n');
        // Each field as the two readings give it.
        for (const core::ConvertText& t : e.texts) {
          QString after = t.after;
          for (const core::ConvertText& second : e.secondTexts) {
            if (second.field == t.field) after += QStringLiteral(" | ") + second.after;
          }
          text += QStringLiteral("  %1: %2 → %3\n")
                      .arg(Cli::tr(core::InfoOf(t.field).label),
                           t.now.isEmpty() ? Cli::tr("(nothing)") : t.now, after);
        }
        Out(text);
      }
    } else if (how.json) {
      continue;
    } else if (e.status == core::ConvertStatus::kNothing) {
      Out(Cli::tr("%1: nothing to convert (%2)").arg(Shown(e.path), e.reason) + QLatin1Char('\n'));
    } else if (how.dryRun) {
      Out(describe(e, false));
    }
  }
  auto summary = [&] { return core::SummarizeConvertPlan(plan) + QLatin1Char('\n'); };
  auto json = [&](const core::ApplyReport* report) {
    QJsonArray list;
    for (size_t i = 0; i < plan.entries.size(); ++i) {
      list.append(JsonOf(plan.entries[i], report != nullptr ? &report->results[i] : nullptr));
    }
    const QJsonObject counts{
        {QStringLiteral("convert"), plan.Count(core::ConvertStatus::kConvert)},
        {QStringLiteral("nothing"), plan.Count(core::ConvertStatus::kNothing) - looks},
        {QStringLiteral("needsALook"), looks},
        {QStringLiteral("refused"), plan.Count(core::ConvertStatus::kRefused)}};
    const QJsonObject document{{QStringLiteral("version"), 1},
                               {QStringLiteral("dryRun"), how.dryRun},
                               {QStringLiteral("counts"), counts},
                               {QStringLiteral("files"), list}};
    Out(QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented)));
  };
  if (!writes) {
    if (how.json) {
      json(nullptr);
    } else if (how.dryRun) {
      Out(summary());
    }
    return failed ? kSomeFailed : kDone;
  }
  Progress progress;
  const core::ApplyReport report = core::ApplyConvert(plan, OptionsWith(journal, progress));
  std::vector<std::string> paths;
  std::vector<bool> wanted;
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const core::ConvertEntry& e = plan.entries[i];
    paths.push_back(e.path);
    wanted.push_back(e.status == core::ConvertStatus::kConvert);
    if (!how.json && report.results[i].outcome == core::Outcome::kDone) Out(describe(e, true));
  }
  if (how.json) json(&report);
  if (!ReportResults(report, paths, wanted)) failed = true;
  return failed ? kSomeFailed : kDone;
}

int FixNames(core::Journal& journal, const std::vector<std::string>& paths, bool recursive,
             std::optional<legacy::Encoding> forced, bool dryRun) {
  bool failed = false;
  std::vector<std::string> present;
  for (const std::string& path : paths) {
    if (platform::StatPath(platform::GenericPath(path), false).exists) {
      present.push_back(path);
    } else {
      Failure(path, Cli::tr("no such file or folder"));
      failed = true;
    }
  }
  const core::NamePlan plan = core::PlanFixNames(core::NameTargetsOf(present, recursive), forced);
  auto old = [](const core::NameEntry& e) {
    return core::ShownAsIs(e.folder + e.name) + (e.isFolder ? QStringLiteral("/") : QString());
  };
  auto line = [&](const core::NameEntry& e) {
    return QStringLiteral("%1 → %2  (%3)\n")
        .arg(old(e), QString::fromStdString(e.newName), core::EncodingLabel(e));
  };
  // What is left garbled, with its reason: an ambiguous name lists its readings.
  int ambiguous = 0;
  for (const core::NameEntry& e : plan.entries) {
    if (e.status == core::NameStatus::kRepair) continue;
    ambiguous += e.status == core::NameStatus::kAmbiguous;
    Err(QStringLiteral("velomi-tag: %1: %2\n").arg(old(e), e.reason));
    failed = true;
  }
  if (ambiguous > 0) {
    Err(Cli::tr("velomi-tag: note: %n name(s) need a look; --encoding gbk, big5 or shift-jis "
                "reads them in that encoding",
                nullptr, ambiguous) +
        QLatin1Char('\n'));
  }
  if (dryRun || plan.Count(core::NameStatus::kRepair) == 0) {
    if (dryRun) {
      for (const core::NameEntry& e : plan.entries) {
        if (e.status == core::NameStatus::kRepair) Out(line(e));
      }
    }
    Out(core::SummarizeNamePlan(plan) + QLatin1Char('\n'));
    return failed ? kSomeFailed : kDone;
  }
  Progress progress;
  const core::ApplyReport report = core::ApplyFixNames(plan, OptionsWith(journal, progress));
  std::vector<std::string> olds;
  std::vector<bool> wanted;
  int done = 0;
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const core::NameEntry& e = plan.entries[i];
    olds.push_back(e.folder + e.name);
    wanted.push_back(e.status == core::NameStatus::kRepair);
    if (report.results[i].outcome == core::Outcome::kDone) {
      Out(line(e));
      ++done;
    }
  }
  if (!ReportResults(report, olds, wanted)) failed = true;
  Out(Cli::tr("%n name(s) repaired.", nullptr, done) + QLatin1Char('\n'));
  return failed ? kSomeFailed : kDone;
}

int Undo(core::Journal& journal, bool list, bool forget) {
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
      const QString kind = a.kind == QLatin1String("rename")      ? Cli::tr("rename")
                           : a.kind == QLatin1String("fix-names") ? Cli::tr("name repair")
                           : a.kind == QLatin1String("edit")      ? Cli::tr("batch edit")
                           : a.kind == QLatin1String("convert")   ? Cli::tr("convert")
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
        // Names given back their legacy bytes are shown as those bytes.
        const bool bytes = report.action->kind == QLatin1String("fix-names");
        Out(QStringLiteral("%1 → %2\n")
                .arg(bytes ? core::ShownAsIs(e.path) : Shown(e.path),
                     bytes ? core::ShownAsIs(e.restoredPath) : Shown(e.restoredPath)));
      } else {
        Out(Cli::tr("restored: %1").arg(Shown(e.path)) + QLatin1Char('\n'));
      }
    }
  }
  Out(Cli::tr("Undid the action of %1: %n file(s) restored.", nullptr, undone)
          .arg(report.action->time) +
      QLatin1Char('\n'));
  if (!report.warning.isEmpty()) {
    Err(Cli::tr("velomi-tag: warning: %1").arg(report.warning) + QLatin1Char('\n'));
  }
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
