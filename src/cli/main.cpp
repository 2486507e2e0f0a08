// velomi-tag: shows, sets and renames the tags of MP3 and WMA files from the command line, with the
// same rules, plans and journal as the window.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <algorithm>
#include <cstdio>

#include "Cli.h"
#include "Commands.h"
#include "core/Batch.h"
#include "core/fields/NameTemplate.h"
#include "core/journal/Journal.h"
#include "core/text/Rules.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "tags/mp3/TMp3Tag.h"

namespace cli {
namespace {

const char* const kCommands[] = {"show",    "set",       "rename", "tag-from-name",
                                 "convert", "fix-names", "undo"};

QString Overview() {
  return Cli::tr(
      "Shows, sets and renames the tags of MP3 and WMA files, as the VelomiMP3 window does, and "
      "undoes the last change of either.\n"
      "\n"
      "Commands:\n"
      "  show [--json] PATH...        each file's tag\n"
      "  set [FIELD OPTIONS] [--strict] PATH...\n"
      "                               writes the given fields (one action)\n"
      "  rename --rule 1|2|3 | --format TEMPLATE [--dry-run] PATH...\n"
      "                               renames files from their tags (one action)\n"
      "  tag-from-name --format TEMPLATE [--dry-run] [--json] [--strict] PATH...\n"
      "                               writes the fields each file's name gives (one action)\n"
      "  convert [--encoding E] [--dry-run] [--json] PATH...\n"
      "                               turns legacy tag texts (GBK, Big5, Shift-JIS, CP1252) of\n"
      "                               MP3 and WMA files into Unicode, which players show (one\n"
      "                               action)\n"
      "  fix-names [--encoding auto|gbk|big5|shift-jis] [--dry-run] PATH...\n"
      "                               repairs garbled file and folder names (GBK, Big5 or\n"
      "                               Shift-JIS bytes, or their mojibake), any file (one action)\n"
      "  undo [--list | --forget]     undoes the last action, or lists the recent ones\n"
      "\n"
      "A folder stands for its MP3 and WMA files (-r: and its subfolders'); --files-from FILE "
      "reads more paths from a file (- for standard input), one a line, or NUL-separated with "
      "-0. 'velomi-tag COMMAND --help' shows the options of a command.\n"
      "Templates: %a artist, %t title, %b album, %y year, %n track (%2n: two digits), %c comment, "
      "%g genre, %i the file's place in the list from 0, %% a percent sign.\n"
      "Exit status: 0 when everything was done, 1 when some file failed, 2 for a usage error.");
}

// The options of `set`: name, value name, description; the WMA-only ones last.
struct FieldOption {
  const char* name;
  QString valueName;
  QString help;
  bool wmaOnly;
};

std::vector<FieldOption> FieldOptions() {
  return {{"title", Cli::tr("TEXT"), Cli::tr("the title"), false},
          {"artist", Cli::tr("TEXT"), Cli::tr("the artist"), false},
          {"album", Cli::tr("TEXT"), Cli::tr("the album"), false},
          {"year", Cli::tr("DIGITS"), Cli::tr("the year (digits only)"), false},
          {"comment", Cli::tr("TEXT"), Cli::tr("the comment"), false},
          {"track", Cli::tr("N"), Cli::tr("the track number, 0 to 255 (0: none)"), false},
          {"genre", Cli::tr("G"),
           Cli::tr("the genre, by name or by number 0 to 147; empty for none"), false},
          {"copyright", Cli::tr("TEXT"), Cli::tr("the copyright (WMA only)"), true},
          {"url", Cli::tr("TEXT"), Cli::tr("the web address (WMA only)"), true},
          {"user-url", Cli::tr("TEXT"), Cli::tr("the user's web address (WMA only)"), true},
          {"lyrics", Cli::tr("TEXT"), Cli::tr("the lyrics (WMA only)"), true},
          {"encoded-by", Cli::tr("TEXT"), Cli::tr("who encoded the file (WMA only)"), true},
          {"version", Cli::tr("TEXT"), Cli::tr("the version text (WMA only)"), true}};
}

// Checks the field options of `set` into `fields`; a message for the first bad one.
QString ReadFields(const QCommandLineParser& parser, const Arguments& args, SetFields& fields) {
  std::optional<QString>* values[] = {
      &fields.title,  &fields.artist,    &fields.album,     &fields.year, &fields.comment,
      &fields.track,  &fields.genre,     &fields.copyright, &fields.url,  &fields.userUrl,
      &fields.lyrics, &fields.encodedBy, &fields.version};
  const std::vector<FieldOption> options = FieldOptions();
  for (size_t i = 0; i < options.size(); ++i) {
    const QString name = QLatin1String(options[i].name);
    if (!parser.isSet(name)) continue;
    *values[i] = args.ToText(parser.value(name));
    if (options[i].wmaOnly) fields.wmaOnly << QStringLiteral("--") + name;
  }
  if (const QString problem = CheckFields(fields); !problem.isEmpty()) return problem;
  bool any = false;
  for (auto* value : values) any = any || value->has_value();
  if (!any) return Cli::tr("set: no field given");
  return {};
}

// Under a Chinese locale the messages of velomi-tag in Chinese and the core's texts as they are;
// under any other (C, POSIX, en...) both in English.
void LoadTranslations(QCoreApplication& app) {
  const QLocale locale;
  if (locale.language() != QLocale::Chinese) {
    auto* core = new QTranslator(&app);
    if (core->load(QStringLiteral(":/i18n/velomi-core_en.qm"))) {
      QCoreApplication::installTranslator(core);
    }
    return;
  }
  auto* own = new QTranslator(&app);
  if (own->load(locale, QStringLiteral("velomi-tag"), QStringLiteral("_"),
                QStringLiteral(":/i18n"))) {
    QCoreApplication::installTranslator(own);
  }
  auto* qt = new QTranslator(&app);
  if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(qt);
  }
}

// An action that a crash cut short (of this program or of the window) is settled from what its
// files hold before any file is read or written.
void RecoverCutShortSaves(core::Journal& journal) { core::RecoverActions(journal); }

QString TemplateProblem(const core::TemplateError& error) {
  switch (error.kind) {
    case core::TemplateError::kEmpty:
      return Cli::tr("the template is empty");
    case core::TemplateError::kUnknown:
      return Cli::tr("the template holds an unknown placeholder: %1").arg(error.what);
    case core::TemplateError::kDangling:
      return Cli::tr("the template ends in an unfinished %");
    case core::TemplateError::kWidth:
      return Cli::tr("only %n and %i take a width: %1").arg(error.what);
    case core::TemplateError::kSlash:
      return Cli::tr("the template may not hold \"/\": it names files, not folders");
    case core::TemplateError::kNoPlaceholder:
      return Cli::tr("the template holds no placeholder");
    case core::TemplateError::kAdjacent:
      return Cli::tr("to read fields from names, two placeholders need text between them");
    case core::TemplateError::kRepeated:
      return Cli::tr("to read fields from names, each placeholder may stand once: %1")
          .arg(error.what);
  }
  return {};
}

// The template of --format; a usage message when there is none or it is no template.
std::optional<core::NameTemplate> FormatOf(const QCommandLineParser& parser, const Arguments& args,
                                           QString& problem) {
  core::TemplateError error;
  std::optional<core::NameTemplate> format =
      core::NameTemplate::Parse(args.ToText(parser.value(QStringLiteral("format"))), error);
  if (!format) problem = TemplateProblem(error);
  return format;
}

// The number of single-character edits that turn `a` into `b`.
int EditDistance(const QString& a, const QString& b) {
  std::vector<int> row(static_cast<size_t>(b.size()) + 1);
  for (size_t j = 0; j < row.size(); ++j) row[j] = static_cast<int>(j);
  for (qsizetype i = 1; i <= a.size(); ++i) {
    int diagonal = row[0];
    row[0] = static_cast<int>(i);
    for (qsizetype j = 1; j <= b.size(); ++j) {
      const int above = row[static_cast<size_t>(j)];
      row[static_cast<size_t>(j)] =
          std::min({above + 1, row[static_cast<size_t>(j - 1)] + 1,
                    diagonal + (a[i - 1].toLower() == b[j - 1].toLower() ? 0 : 1)});
      diagonal = above;
    }
  }
  return row.back();
}

// Names an unknown command, with the nearest known one when it is a typo away.
QString UnknownCommand(const Arguments& args, const QString& command) {
  QString nearest;
  int best = 3;  // at most two edits
  for (const char* known : kCommands) {
    const int d = EditDistance(command, QString::fromLatin1(known));
    if (d < best) best = d, nearest = QString::fromLatin1(known);
  }
  const QString text = Cli::tr("unknown command: %1").arg(args.ToText(command));
  return nearest.isEmpty() ? text : text + Cli::tr("; did you mean %1?").arg(nearest);
}

int Run(const Arguments& args) {
  // The process's one journal: its index is read at the recovery before the command, and the
  // command reads only what was appended since.
  core::Journal journal;
  const QStringList& list = args.List();
  QString command;
  for (qsizetype i = 1; i < list.size(); ++i) {
    if (list[i] == QLatin1String("--")) break;
    if (!list[i].startsWith(QLatin1Char('-'))) {
      command = list[i];
      break;
    }
  }

  QCommandLineParser parser;
  parser.setApplicationDescription(Overview());
  const QCommandLineOption help = parser.addHelpOption();
  // "set --version TEXT" is a WMA field; elsewhere --version prints the program's version.
  const QCommandLineOption version(QStringLiteral("version"), Cli::tr("print the version"));
  if (command != QLatin1String("set")) parser.addOption(version);
  parser.addPositionalArgument(
      QStringLiteral("command"),
      Cli::tr("show, set, rename, tag-from-name, convert, fix-names or undo"));
  const bool known = std::find(std::begin(kCommands), std::end(kCommands), command.toStdString()) !=
                     std::end(kCommands);
  const QString templateHelp = Cli::tr(
      "a name template: %a artist, %t title, %b album, %y year, %n track (%2n: two "
      "digits), %c comment, %g genre, %i place in the list, %% a percent sign");
  if (command == QLatin1String("show")) {
    parser.addOption({QStringLiteral("json"), Cli::tr("print one JSON document")});
  } else if (command == QLatin1String("set")) {
    for (const FieldOption& o : FieldOptions()) {
      parser.addOption({QLatin1String(o.name), o.help, o.valueName});
    }
    parser.addOption({QStringLiteral("strict"),
                      Cli::tr("leave unwritten each file whose tag would not hold a text as "
                              "given (cut, a character GBK lacks, no such genre)")});
  } else if (command == QLatin1String("rename")) {
    parser.addOption({QStringLiteral("rule"),
                      Cli::tr("1: artist - title, 2: title - artist, 3: artist - (number)title"),
                      QStringLiteral("1|2|3")});
    parser.addOption({QStringLiteral("format"), templateHelp, Cli::tr("TEMPLATE")});
    parser.addOption({QStringLiteral("replace-with"),
                      Cli::tr("with --format: put C (one character, or nothing) for each \"/\" "
                              "of a field instead of refusing the name"),
                      QStringLiteral("C")});
    parser.addOption({QStringLiteral("replace-windows"),
                      Cli::tr("with --replace-with: replace \\ : * ? \" < > | and control "
                              "characters too")});
    parser.addOption({QStringLiteral("dry-run"), Cli::tr("print the plan and change nothing")});
  } else if (command == QLatin1String("tag-from-name")) {
    parser.addOption({QStringLiteral("format"), templateHelp, Cli::tr("TEMPLATE")});
    parser.addOption({QStringLiteral("dry-run"),
                      Cli::tr("print the fields each file would get and change nothing")});
    parser.addOption(
        {QStringLiteral("json"), Cli::tr("print one JSON document of the files and their fields")});
    parser.addOption({QStringLiteral("strict"),
                      Cli::tr("leave unwritten each file whose tag would not hold a text as "
                              "given (cut, a character GBK lacks, no such genre)")});
  } else if (command == QLatin1String("convert")) {
    parser.addOption({QStringLiteral("encoding"),
                      Cli::tr("read every file's legacy text in this encoding instead of each "
                              "file's own detected one (auto, the default)"),
                      QStringLiteral("auto|gbk|big5|shift-jis|cp1252")});
    parser.addOption({QStringLiteral("dry-run"),
                      Cli::tr("print each file's encoding and fields, before and after, and "
                              "change nothing")});
    parser.addOption({QStringLiteral("json"),
                      Cli::tr("print one JSON document of the files, their candidate encodings "
                              "with their scores, and their fields")});
  } else if (command == QLatin1String("fix-names")) {
    parser.addOption({QStringLiteral("encoding"),
                      Cli::tr("what the garbled names were written in: auto (the default: each "
                              "folder's names decide), gbk, big5 or shift-jis"),
                      QStringLiteral("auto|gbk|big5|shift-jis"), QStringLiteral("auto")});
    parser.addOption({QStringLiteral("dry-run"), Cli::tr("print the plan and change nothing")});
  } else if (command == QLatin1String("undo")) {
    parser.addOption({QStringLiteral("list"), Cli::tr("list the recent actions")});
    parser.addOption({QStringLiteral("forget"),
                      Cli::tr("drop the last action from the journal without undoing it")});
  }
  if (known && command != QLatin1String("undo")) {
    parser.addOption({{QStringLiteral("r"), QStringLiteral("recursive")},
                      Cli::tr("take in the files of each folder's subfolders too")});
    parser.addOption({QStringLiteral("files-from"),
                      Cli::tr("read more paths from FILE, one a line (- for standard input)"),
                      Cli::tr("FILE")});
    parser.addOption({{QStringLiteral("0"), QStringLiteral("null")},
                      Cli::tr("with --files-from: the paths are separated by NUL bytes")});
    parser.addPositionalArgument(QStringLiteral("paths"), Cli::tr("files and folders"),
                                 Cli::tr("PATH..."));
  }

  // An unknown command that leads the line is named before its options, which only a known
  // command would take.
  if (!known && list.size() > 1 && list[1] == command) return Usage(UnknownCommand(args, command));
  if (!parser.parse(list)) return Usage(parser.errorText());
  if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
    Out(parser.helpText());
    return kDone;
  }
  if (command != QLatin1String("set") && parser.isSet(version)) {
    Out(QStringLiteral("velomi-tag %1\n").arg(QCoreApplication::applicationVersion()));
    return kDone;
  }
  if (command.isEmpty()) return Usage(Cli::tr("no command given"));
  if (!known) return Usage(UnknownCommand(args, command));

  std::vector<std::string> paths;
  const QStringList positional = parser.positionalArguments();
  for (qsizetype i = 1; i < positional.size(); ++i) paths.push_back(args.ToBytes(positional[i]));

  if (command == QLatin1String("undo")) {
    if (!paths.empty()) return Usage(Cli::tr("undo takes no paths"));
    RecoverCutShortSaves(journal);
    return Undo(journal, parser.isSet(QStringLiteral("list")),
                parser.isSet(QStringLiteral("forget")));
  }
  const bool fromFile = parser.isSet(QStringLiteral("files-from"));
  if (parser.isSet(QStringLiteral("null")) && !fromFile) {
    return Usage(Cli::tr("-0 goes with --files-from"));
  }
  if (fromFile) {
    const std::string file = args.ToBytes(parser.value(QStringLiteral("files-from")));
    QString error;
    if (!ReadPathList(file, parser.isSet(QStringLiteral("null")), paths, error)) {
      return Usage(Cli::tr("cannot read the list %1: %2").arg(Shown(file), error));
    }
  } else if (paths.empty()) {
    return Usage(Cli::tr("%1: no path given").arg(command));
  }
  const bool recursive = parser.isSet(QStringLiteral("recursive"));

  if (command == QLatin1String("show")) {
    RecoverCutShortSaves(journal);
    return Show(Expand(paths, recursive), parser.isSet(QStringLiteral("json")));
  }
  if (command == QLatin1String("set")) {
    SetFields fields;
    const QString problem = ReadFields(parser, args, fields);
    if (!problem.isEmpty()) return Usage(problem);
    RecoverCutShortSaves(journal);
    return Set(journal, Expand(paths, recursive), fields, parser.isSet(QStringLiteral("strict")));
  }
  if (command == QLatin1String("convert")) {
    ConvertHow how{parser.isSet(QStringLiteral("dry-run")), parser.isSet(QStringLiteral("json")),
                   std::nullopt};
    const QString encoding = parser.value(QStringLiteral("encoding"));
    if (parser.isSet(QStringLiteral("encoding")) &&
        encoding.compare(QLatin1String("auto"), Qt::CaseInsensitive) != 0) {
      how.encoding = legacy::EncodingNamed(encoding.toStdString());
      if (!how.encoding) {
        return Usage(Cli::tr("convert: --encoding must be auto, gbk, big5, shift-jis or cp1252"));
      }
    }
    RecoverCutShortSaves(journal);
    return Convert(journal, Expand(paths, recursive), how);
  }
  if (command == QLatin1String("fix-names")) {
    const QString encoding = parser.value(QStringLiteral("encoding")).toLower();
    std::optional<legacy::Encoding> forced;
    if (encoding == QLatin1String("gbk")) {
      forced = legacy::Encoding::kGbk;
    } else if (encoding == QLatin1String("big5")) {
      forced = legacy::Encoding::kBig5;
    } else if (encoding == QLatin1String("shift-jis") || encoding == QLatin1String("sjis")) {
      forced = legacy::Encoding::kShiftJis;
    } else if (encoding != QLatin1String("auto")) {
      return Usage(Cli::tr("fix-names: --encoding must be auto, gbk, big5 or shift-jis"));
    }
    RecoverCutShortSaves(journal);
    return FixNames(journal, paths, recursive, forced, parser.isSet(QStringLiteral("dry-run")));
  }
  QString problem;
  if (command == QLatin1String("tag-from-name")) {
    if (!parser.isSet(QStringLiteral("format"))) return Usage(Cli::tr("--format is needed"));
    const std::optional<core::NameTemplate> format = FormatOf(parser, args, problem);
    if (!format) return Usage(problem);
    if (const auto matchProblem = format->MatchProblem()) {
      return Usage(TemplateProblem(*matchProblem));
    }
    for (const core::NameTemplate::Part& part : format->Parts()) {
      if (part.field == core::NameField::kPosition) {
        return Usage(
            Cli::tr("tag-from-name: %i is the file's place in the list, no field of "
                    "its tag"));
      }
    }
    RecoverCutShortSaves(journal);
    return TagFromName(
        journal, Expand(paths, recursive), *format,
        {parser.isSet(QStringLiteral("dry-run")), parser.isSet(QStringLiteral("json")),
         parser.isSet(QStringLiteral("strict"))});
  }

  Naming naming;
  const bool byRule = parser.isSet(QStringLiteral("rule"));
  if (byRule == parser.isSet(QStringLiteral("format"))) {
    return Usage(Cli::tr("rename: give either --rule or --format"));
  }
  if (byRule) {
    const QString rule = parser.value(QStringLiteral("rule"));
    if (rule != QLatin1String("1") && rule != QLatin1String("2") && rule != QLatin1String("3")) {
      return Usage(Cli::tr("rename: --rule must be 1, 2 or 3"));
    }
    naming.rule = rule.toInt();
  } else {
    naming.format = FormatOf(parser, args, problem);
    if (!naming.format) return Usage(problem);
  }
  if (parser.isSet(QStringLiteral("replace-with"))) {
    const QString with = args.ToText(parser.value(QStringLiteral("replace-with")));
    const std::string inName = rules::NativePath(QStringLiteral("x") + with);
    if (byRule || with.toUcs4().size() > 1 || !platform::IsPortableFileName(inName)) {
      return Usage(
          Cli::tr("--replace-with takes one character that file names can hold, or "
                  "nothing, and goes with --format"));
    }
    naming.characters.replacement = with;
  }
  naming.characters.windowsSet = parser.isSet(QStringLiteral("replace-windows"));
  if (naming.characters.windowsSet && !naming.characters.replacement) {
    return Usage(Cli::tr("--replace-windows goes with --replace-with"));
  }
  RecoverCutShortSaves(journal);
  return Rename(journal, Expand(paths, recursive), naming, parser.isSet(QStringLiteral("dry-run")));
}

}  // namespace
}  // namespace cli

int main(int argc, char** argv) {
  const cli::Arguments args(argc, argv);
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("velomi-tag"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VELOMI_VERSION));
  cli::LoadTranslations(app);
  cli::CatchInterrupt();
  platform::PrepareStandardStreams();
  cli::HoldForTests();
  const int status = cli::Run(args);
  std::fflush(stdout);
  return status;
}
