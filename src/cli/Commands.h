// The commands of velomi-tag, on arguments already checked. Each gives the exit status. Those
// that change files or read the journal take the one journal of the process (main.cpp).
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Cli.h"
#include "core/fields/NameTemplate.h"
#include "core/text/Legacy.h"

namespace core {
class Journal;
}

namespace cli {

int Show(const Files& files, bool json);

// The fields that `set` writes; a field not given is left as each file holds it.
struct SetFields {
  std::optional<QString> title, artist, album, year, comment, track, genre;
  // WMA only.
  std::optional<QString> copyright, url, userUrl, lyrics, encodedBy, version;
  // The genre byte of an MP3 file (255: none), worked out from `genre`.
  uint8_t mp3Genre = 255;
  // The genre is a name that is no ID3v1 genre: an MP3 file gets none.
  bool genreUnknown = false;
  // The options given that an MP3 tag has no field for ("--lyrics" ...).
  QStringList wmaOnly;
};

// The genre byte of a name (any letter case) or a number; nothing for neither.
std::optional<uint8_t> Mp3GenreOf(const QString& text);
// Checks the year (digits only), the track (0 to 255) and the genre (a number must be a genre's)
// of `fields`, and works out the genre byte of an MP3 file; a message for the first bad one.
QString CheckFields(SetFields& fields);

// `strict`: a file whose tag would not hold a text as given (cut, a character GBK lacks, a genre
// that is none) is not written; without it such a file is written and the loss reported.
int Set(core::Journal& journal, const Files& files, const SetFields& fields, bool strict);

// How `rename` names files: by a rule (1 to 3), or by a template.
struct Naming {
  int rule = 0;
  std::optional<core::NameTemplate> format;
  core::NameCharacters characters;
};
int Rename(core::Journal& journal, const Files& files, const Naming& naming, bool dryRun);

// Writes into each file the fields its name (without its extension) gives by the template, as
// `set` writes them (one action of the journal, the same warnings and `strict`), or with `dryRun`
// prints them and writes nothing. A file whose name does not match, or gives a track above 255 or
// a genre number that is none, is left unwritten with its reason. `json`: one JSON document of
// the files, their fields and what became of them, in the order of the arguments.
struct NameWrite {
  bool dryRun = false;
  bool json = false;
  bool strict = false;
};
int TagFromName(core::Journal& journal, const Files& files, const core::NameTemplate& format,
                const NameWrite& how);

// Turns the legacy texts of MP3 files' tags into Unicode ID3v2 tags and WMA attributes that hold
// legacy bytes into their text (one action). Each file's encoding is detected, or `encoding` for
// every file; a file whose reading is not clear is listed and left out. `dryRun` prints what each
// file would get (each field as players show it now and as it will read) and changes nothing;
// `json` prints one JSON document of the files, their candidates and their fields.
struct ConvertHow {
  bool dryRun = false;
  bool json = false;
  std::optional<legacy::Encoding> encoding;
};
int Convert(core::Journal& journal, const Files& files, const ConvertHow& how);

// Repairs the garbled names of the paths (each path's own name, and a folder's entries; with
// `recursive` every name below it), files of any kind and folders, as one action; `forced` reads
// every name in that encoding. `dryRun` prints the plan and changes nothing.
int FixNames(core::Journal& journal, const std::vector<std::string>& paths, bool recursive,
             std::optional<legacy::Encoding> forced, bool dryRun);

// Undoes the last action; `list` lists the recent ones instead, `forget` drops the last one from
// the journal without undoing it.
int Undo(core::Journal& journal, bool list, bool forget);

}  // namespace cli
