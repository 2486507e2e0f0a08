// The four commands of velomi-tag, on arguments already checked. Each gives the exit status.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

int Show(const std::vector<std::string>& paths, bool json);

// The fields that `set` writes; a field not given is left as each file holds it.
struct SetFields {
  std::optional<QString> title, artist, album, year, comment, track, genre;
  // WMA only.
  std::optional<QString> copyright, url, userUrl, lyrics, encodedBy, version;
  // The genre byte of an MP3 file (255: none), worked out from `genre`.
  uint8_t mp3Genre = 255;
  // The options given that an MP3 tag has no field for ("--lyrics" ...).
  QStringList wmaOnly;
};

int Set(const std::vector<std::string>& paths, const SetFields& fields);
int Rename(const std::vector<std::string>& paths, int rule, bool dryRun);
// Undoes the last action; `list` lists the recent ones instead, `forget` drops the last one from
// the journal without undoing it.
int Undo(bool list, bool forget);

}  // namespace cli
