// Name templates: a file name made of a track's tag fields and fixed text ("%a - %t"), and the
// reverse, the fields read back out of a file name. A template is parsed once and then expanded
// for each track of a batch.
//
//   %a artist   %t title   %b album   %y year   %c comment   %g genre
//   %n track number, %2n zero-padded to two digits (and so on)
//   %i the track's place in the list, counted from 0 as rule 3 numbers it (%3i padded)
//   %% a percent sign
#pragma once

#include <QRegularExpression>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

#include "core/plans/Plans.h"

namespace core {

enum class NameField { kArtist, kTitle, kAlbum, kYear, kTrack, kComment, kGenre, kPosition };

// The field's name for a person: "歌手", "歌曲标题", "专辑", "年份", "音轨", "说明", "流派",
// "序号".
QString NameFieldName(NameField field);
// The text the track holds for the field (the position in decimal).
QString ValueOf(const Track& track, NameField field);

// What the values of a template may not bring into a file name, and what stands in for it.
struct NameCharacters {
  // What replaces each such character (one character, or nothing at all); none: a name that
  // holds one is refused, as a name of the three rules is.
  std::optional<QString> replacement;
  // Besides "/", also replace what Windows names cannot hold: \ : * ? " < > | and codes below 32.
  // Without it a name that holds one of them is refused.
  bool windowsSet = false;
};

// Why a template could not be parsed.
struct TemplateError {
  enum Kind {
    kEmpty,          // no text at all
    kUnknown,        // "%x": no such placeholder (`what` holds it)
    kDangling,       // a "%" at the end, or a width with no letter after it
    kWidth,          // a width on a placeholder other than %n and %i (`what` holds it)
    kSlash,          // the text holds "/": a template names a file, not a folder
    kNoPlaceholder,  // fixed text only: every file would get the same name
    kAdjacent,       // two placeholders with no text between them (matching names only)
    kRepeated,       // one field twice (matching names only; `what` holds it)
  };
  Kind kind = kEmpty;
  QString what;

  QString Describe() const;  // as the core's reasons are: Chinese, or their translation
};

class NameTemplate {
 public:
  struct Part {
    QString text;                    // fixed text, when `field` is none
    std::optional<NameField> field;  // a placeholder
    int width = 0;                   // the digits a number is padded to with zeros (%2n)
  };

  // Parses `text`; nothing, and `error` set, when it is no template.
  static std::optional<NameTemplate> Parse(const QString& text, TemplateError& error);

  const QString& Text() const { return text_; }
  const std::vector<Part>& Parts() const { return parts_; }

  // The file name, without its extension, that the template gives the track, or, when it gives
  // none, why: a field it names is empty (or blanks only), or the name would hold nothing but the
  // template's own text, blanks and replacement characters. Characters that `characters` covers
  // are replaced in the fields' values only; anything else file names cannot hold is left for the
  // plan to refuse.
  struct Naming {
    QString stem;
    QString skipped;  // empty when there is a name
  };
  Naming Expand(const Track& track, const NameCharacters& characters) const;

  // ---- The reverse: the fields a file name gives

  // Why names cannot be matched against the template (no text between two placeholders, a field
  // named twice); none when they can.
  std::optional<TemplateError> MatchProblem() const;
  // The fields that a file name without its extension gives, in the template's order, each
  // trimmed of blanks; %n and %y take digits only, %i digits that are not kept. Nothing when the
  // name does not match, or the template cannot be matched (MatchProblem).
  using Fields = std::vector<std::pair<NameField, QString>>;
  std::optional<Fields> Match(const QString& stem) const;

 private:
  QString text_;
  std::vector<Part> parts_;
  QRegularExpression matcher_;  // valid only when MatchProblem() is none
};

// The plan of renaming `tracks` by a template: as PlanRename by a rule, the extension kept as the
// rules keep it, a track the template gives no name skipped with the reason.
RenamePlan PlanRename(const std::vector<Track>& tracks, const NameTemplate& name,
                      const NameCharacters& characters, PlaceWord places = PlaceWord::kRow);

}  // namespace core
