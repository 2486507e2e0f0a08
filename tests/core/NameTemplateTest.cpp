// Name templates: parsing, the name each track gets, and the fields read back out of a name.
#include <gtest/gtest.h>

#include "core/fields/NameTemplate.h"

using core::NameCharacters;
using core::NameField;
using core::NameTemplate;
using core::TemplateError;

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

NameTemplate Parsed(const char* text) {
  TemplateError error;
  const std::optional<NameTemplate> t = NameTemplate::Parse(U(text), error);
  EXPECT_TRUE(t) << text << ": " << error.Describe().toStdString();
  return t.value_or(*NameTemplate::Parse(QStringLiteral("%t"), error));
}

core::Track Song() {
  core::Track t = core::TrackAt("/m/01.mp3", 4);
  t.artist = U("周杰伦");
  t.title = U("发如雪");
  t.album = U("十一月的萧邦");
  t.year = U("2005");
  t.track = U("3");
  t.comment = U("好");
  t.genre = U("Pop");
  return t;
}

}  // namespace

TEST(NameTemplate, ParseRefusesWhatIsNoTemplate) {
  const struct {
    const char* text;
    TemplateError::Kind kind;
    const char* what;
  } cases[] = {
      {"", TemplateError::kEmpty, ""},
      {"%a - %x", TemplateError::kUnknown, "%x"},
      {"%A", TemplateError::kUnknown, "%A"},
      {"%t %", TemplateError::kDangling, ""},
      {"%t %12", TemplateError::kDangling, ""},
      {"%2a", TemplateError::kWidth, "%2a"},
      {"%a/%t", TemplateError::kSlash, ""},
      {"song", TemplateError::kNoPlaceholder, ""},
      {"100%%", TemplateError::kNoPlaceholder, ""},
  };
  for (const auto& c : cases) {
    TemplateError error;
    EXPECT_FALSE(NameTemplate::Parse(U(c.text), error)) << c.text;
    EXPECT_EQ(error.kind, c.kind) << c.text;
    EXPECT_EQ(error.what, U(c.what)) << c.text;
    EXPECT_FALSE(error.Describe().isEmpty());
  }
}

TEST(NameTemplate, ExpandsEveryPlaceholder) {
  const struct {
    const char* text;
    const char* stem;
  } cases[] = {
      {"%a - %t", "周杰伦 - 发如雪"}, {"%b (%y) %2n. %t", "十一月的萧邦 (2005) 03. 发如雪"},
      {"%n|%3n|%1n", "3|003|3"},      {"[%g] %c", "[Pop] 好"},
      {"%i-%3i %t", "4-004 发如雪"},  {"100%% %t%%", "100% 发如雪%"},
  };
  for (const auto& c : cases) {
    const NameTemplate::Naming n = Parsed(c.text).Expand(Song(), {});
    EXPECT_EQ(n.stem, U(c.stem)) << c.text;
    EXPECT_TRUE(n.skipped.isEmpty()) << c.text;
  }
}

TEST(NameTemplate, TrackTextsAreNumbersWhereTheyAreDigits) {
  const struct {
    const char* track;
    const char* stem;
  } cases[] = {{"7", "07"}, {"007", "07"}, {"123", "123"}, {"0", "00"}, {"3 of 9", "3 of 9"}};
  for (const auto& c : cases) {
    core::Track t = Song();
    t.track = U(c.track);
    EXPECT_EQ(Parsed("%2n").Expand(t, {}).stem, U(c.stem)) << c.track;
  }
}

TEST(NameTemplate, EmptyFieldsAndNamesOfSeparatorsOnlyGiveNoName) {
  const struct {
    const char* text;
    const char* title;
    const char* skipped;  // empty: a name
  } cases[] = {
      {"%a - %t", "", "歌曲标题为空"},
      {"%a - %t", " \t", "歌曲标题为空"},
      {"%a - %t", "\u3000", "歌曲标题为空"},  // the ideographic blank too
      {"%t", "/", ""},                        // "/" stays for the plan to refuse
      {" - %t - ", "-", ""},                  // a hyphen of the title's own is content
  };
  for (const auto& c : cases) {
    core::Track t = Song();
    t.title = U(c.title);
    EXPECT_EQ(Parsed(c.text).Expand(t, {}).skipped, U(c.skipped)) << c.text << " " << c.title;
  }
  core::Track t = Song();
  t.title = U("//");
  EXPECT_EQ(Parsed(" - %t").Expand(t, {QStringLiteral("_"), false}).skipped,
            U("新文件名只有格式里的分隔符"));
  t.album.clear();
  EXPECT_EQ(Parsed("%t %b").Expand(t, {}).skipped, U("专辑为空"));
}

TEST(NameTemplate, ReplacesWhatNamesCannotHoldInFieldsOnly) {
  core::Track t = Song();
  t.title = U("AC/DC: a\\b*?\"<>|\x01");
  const struct {
    NameCharacters characters;
    const char* stem;
  } cases[] = {
      {{}, "AC/DC: a\\b*?\"<>|\x01 :"},
      {{QStringLiteral("_"), false}, "AC_DC: a\\b*?\"<>|\x01 :"},
      {{QStringLiteral("_"), true}, "AC_DC_ a_b_______ :"},
      {{QString(), true}, "ACDC ab :"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Parsed("%t :").Expand(t, c.characters).stem, U(c.stem)) << c.stem;
  }
  // A dot that would begin the name (and hide the file) is replaced; others stay.
  t.title = U("..a.b");
  EXPECT_EQ(Parsed("%t").Expand(t, {QStringLiteral("_"), false}).stem, U("_.a.b"));
  EXPECT_EQ(Parsed("%t").Expand(t, {}).stem, U("..a.b"));  // for the plan to refuse
  EXPECT_EQ(Parsed("x%t").Expand(t, {QStringLiteral("_"), false}).stem, U("x..a.b"));
}

TEST(NameTemplate, MatchReadsFieldsBackOutOfNames) {
  using Fields = NameTemplate::Fields;
  const struct {
    const char* text;
    const char* stem;
    std::optional<Fields> fields;
  } cases[] = {
      {"%a - %t", "周杰伦 - 发如雪",
       Fields{{NameField::kArtist, U("周杰伦")}, {NameField::kTitle, U("发如雪")}}},
      {"%a - %t", "A - B - C",
       Fields{{NameField::kArtist, U("A")}, {NameField::kTitle, U("B - C")}}},
      {"%n. %t", "03. Song", Fields{{NameField::kTrack, U("3")}, {NameField::kTitle, U("Song")}}},
      {"%n. %t", "A. Song", std::nullopt},  // a track is digits
      {"%a - %t", "no separator", std::nullopt},
      {"%a - %t", " - B", std::nullopt},  // an empty artist
      {"(%i) %t [%y]", "(12) x [1999]",
       Fields{{NameField::kTitle, U("x")}, {NameField::kYear, U("1999")}}},
      {"%t (100%%)", "a.b (100%)", Fields{{NameField::kTitle, U("a.b")}}},
  };
  for (const auto& c : cases) {
    const NameTemplate t = Parsed(c.text);
    ASSERT_FALSE(t.MatchProblem()) << c.text;
    EXPECT_EQ(t.Match(U(c.stem)), c.fields) << c.text << " " << c.stem;
  }
  for (const auto& [text, kind] : {std::pair{"%a%t", TemplateError::kAdjacent},
                                   std::pair{"%t - %a - %t", TemplateError::kRepeated}}) {
    const NameTemplate t = Parsed(text);
    ASSERT_TRUE(t.MatchProblem()) << text;
    EXPECT_EQ(t.MatchProblem()->kind, kind) << text;
    EXPECT_FALSE(t.Match(U("a - b - c")));
  }
}
