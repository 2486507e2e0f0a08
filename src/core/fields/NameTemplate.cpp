#include "core/fields/NameTemplate.h"

#include <algorithm>
#include <set>

#include "core/text/Rules.h"
#include "core/utils/Tr.h"

namespace core {
namespace {

// The placeholders' letters.
constexpr std::pair<char16_t, NameField> kLetters[] = {
    {u'a', NameField::kArtist}, {u't', NameField::kTitle},   {u'b', NameField::kAlbum},
    {u'y', NameField::kYear},   {u'n', NameField::kTrack},   {u'c', NameField::kComment},
    {u'g', NameField::kGenre},  {u'i', NameField::kPosition}};

std::optional<NameField> FieldOfLetter(QChar letter) {
  for (const auto& [c, field] : kLetters) {
    if (letter == QChar(c)) return field;
  }
  return std::nullopt;
}

QString Placeholder(NameField field) {
  for (const auto& [c, f] : kLetters) {
    if (f == field) return QStringLiteral("%") + QChar(c);
  }
  return {};
}

bool IsNumber(NameField field) {
  return field == NameField::kTrack || field == NameField::kPosition;
}

bool AllDigits(const QString& text) {
  if (text.isEmpty()) return false;
  for (QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  }
  return true;
}

// A number's digits without leading zeros, then zero-padded to `width`.
QString Padded(const QString& digits, int width) {
  qsizetype first = 0;
  while (first + 1 < digits.size() && digits[first] == QLatin1Char('0')) ++first;
  return digits.mid(first).rightJustified(width, QLatin1Char('0'));
}

bool Blank(QChar c) { return c.unicode() <= 32 || c.isSpace(); }

bool ReplacedBy(QChar c, const NameCharacters& characters) {
  if (!characters.replacement) return false;
  if (c == QLatin1Char('/')) return true;
  if (!characters.windowsSet) return false;
  return c.unicode() < 32 || QStringView(u"\\:*?\"<>|").contains(c);
}

}  // namespace

QString NameFieldName(NameField field) {
  switch (field) {
    case NameField::kArtist:
      return Core::tr("歌手");
    case NameField::kTitle:
      return Core::tr("歌曲标题");
    case NameField::kAlbum:
      return Core::tr("专辑");
    case NameField::kYear:
      return Core::tr("年份");
    case NameField::kTrack:
      return Core::tr("音轨");
    case NameField::kComment:
      return Core::tr("说明");
    case NameField::kGenre:
      return Core::tr("流派");
    case NameField::kPosition:
      return Core::tr("序号");
  }
  return {};
}

QString ValueOf(const Track& track, NameField field) {
  switch (field) {
    case NameField::kArtist:
      return track.artist;
    case NameField::kTitle:
      return track.title;
    case NameField::kAlbum:
      return track.album;
    case NameField::kYear:
      return track.year;
    case NameField::kTrack:
      return track.track;
    case NameField::kComment:
      return track.comment;
    case NameField::kGenre:
      return track.genre;
    case NameField::kPosition:
      return QString::number(track.position);
  }
  return {};
}

QString TemplateError::Describe() const {
  switch (kind) {
    case kEmpty:
      return Core::tr("格式为空");
    case kUnknown:
      return Core::tr("格式里有未知的占位符“%1”").arg(what);
    case kDangling:
      return Core::tr("格式以不完整的“%”结尾");
    case kWidth:
      return Core::tr("只有%n和%i可以指定位数：“%1”").arg(what);
    case kSlash:
      return Core::tr("格式不能含有“/”");
    case kNoPlaceholder:
      return Core::tr("格式里没有占位符");
    case kAdjacent:
      return Core::tr("两个占位符之间须有文字才能从文件名取出信息");
    case kRepeated:
      return Core::tr("从文件名取信息时每个占位符只能用一次：“%1”").arg(what);
  }
  return {};
}

std::optional<NameTemplate> NameTemplate::Parse(const QString& text, TemplateError& error) {
  NameTemplate parsed;
  parsed.text_ = text;
  auto fail = [&error](TemplateError::Kind kind, QString what = {}) {
    error = {kind, std::move(what)};
    return std::nullopt;
  };
  if (text.isEmpty()) return fail(TemplateError::kEmpty);
  if (text.contains(QLatin1Char('/'))) return fail(TemplateError::kSlash);
  QString literal;
  auto endLiteral = [&] {
    if (!literal.isEmpty()) parsed.parts_.push_back({literal, std::nullopt, 0});
    literal.clear();
  };
  bool anyField = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] != QLatin1Char('%')) {
      literal += text[i];
      continue;
    }
    const qsizetype start = i++;
    int width = 0;
    while (i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
      width = std::min(width * 10 + (text[i].unicode() - u'0'), 255);
      ++i;
    }
    if (i >= text.size()) return fail(TemplateError::kDangling);
    const QString spelled = text.mid(start, i - start + 1);
    if (text[i] == QLatin1Char('%') && i == start + 1) {
      literal += QLatin1Char('%');
      continue;
    }
    const std::optional<NameField> field = FieldOfLetter(text[i]);
    if (!field) return fail(TemplateError::kUnknown, spelled);
    if (i > start + 1 && !IsNumber(*field)) return fail(TemplateError::kWidth, spelled);
    endLiteral();
    parsed.parts_.push_back({{}, field, width});
    anyField = true;
  }
  endLiteral();
  if (!anyField) return fail(TemplateError::kNoPlaceholder);

  if (!parsed.MatchProblem()) {
    QString pattern = QStringLiteral("^");
    for (const Part& part : parsed.parts_) {
      if (!part.field) {
        pattern += QRegularExpression::escape(part.text);
      } else if (*part.field == NameField::kPosition) {
        pattern += QStringLiteral("[0-9]+");
      } else if (*part.field == NameField::kTrack || *part.field == NameField::kYear) {
        pattern += QStringLiteral("([0-9]+)");
      } else {
        pattern += QStringLiteral("(.+?)");
      }
    }
    pattern += QLatin1Char('$');
    parsed.matcher_.setPattern(pattern);
    parsed.matcher_.setPatternOptions(QRegularExpression::DotMatchesEverythingOption);
  }
  return parsed;
}

NameTemplate::Naming NameTemplate::Expand(const Track& track,
                                          const NameCharacters& characters) const {
  Naming naming;
  bool content = false;  // a character of a field's own, not a blank nor a replacement
  for (const Part& part : parts_) {
    if (!part.field) {
      naming.stem += part.text;
      continue;
    }
    QString value = ValueOf(track, *part.field);
    if (std::all_of(value.begin(), value.end(), Blank)) {
      return {{}, Core::tr("%1为空").arg(NameFieldName(*part.field))};
    }
    if (IsNumber(*part.field) && AllDigits(value)) value = Padded(value, part.width);
    for (QChar c : value) {
      // A dot that would begin the name hides the file: it is replaced as the characters that
      // names cannot hold are.
      const bool hiding = c == QLatin1Char('.') && naming.stem.isEmpty();
      if (ReplacedBy(c, characters) || (hiding && characters.replacement)) {
        naming.stem += *characters.replacement;
      } else {
        naming.stem += c;
        content = content || !Blank(c);
      }
    }
  }
  if (!content) return {{}, Core::tr("新文件名只有格式里的分隔符")};
  return naming;
}

std::optional<TemplateError> NameTemplate::MatchProblem() const {
  std::set<NameField> seen;
  for (size_t i = 0; i < parts_.size(); ++i) {
    const Part& part = parts_[i];
    if (!part.field) continue;
    if (i > 0 && parts_[i - 1].field) return TemplateError{TemplateError::kAdjacent, {}};
    if (*part.field != NameField::kPosition && !seen.insert(*part.field).second) {
      return TemplateError{TemplateError::kRepeated, Placeholder(*part.field)};
    }
  }
  return std::nullopt;
}

std::optional<NameTemplate::Fields> NameTemplate::Match(const QString& stem) const {
  if (!matcher_.isValid() || matcher_.pattern().isEmpty()) return std::nullopt;
  const QRegularExpressionMatch match = matcher_.match(stem);
  if (!match.hasMatch()) return std::nullopt;
  Fields fields;
  int group = 1;
  for (const Part& part : parts_) {
    if (!part.field || *part.field == NameField::kPosition) continue;
    QString value = rules::TrimControl(match.captured(group++));
    if (value.isEmpty()) return std::nullopt;
    if (*part.field == NameField::kTrack) value = Padded(value, 0);
    fields.emplace_back(*part.field, value);
  }
  return fields;
}

}  // namespace core
