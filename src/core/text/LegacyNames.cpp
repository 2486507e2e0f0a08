// Names of files and folders read by the legacy-text detection: the legacy bytes a garbled name
// holds in each of its forms, and the reading of a folder's names together.
#include <algorithm>
#include <limits>

#include "core/text/Legacy.h"

namespace legacy {
namespace {

// What CP437 puts at 0x80 to 0xFF.
constexpr std::array<char16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

// The Greek and mathematical letters that converters give some CP437 bytes instead of the
// table's (µ as the Greek mu, ß as beta, the Ohm sign, the empty set...).
std::optional<char> Cp437Alike(char16_t c) {
  static constexpr std::pair<char16_t, uint8_t> kAlike[] = {
      {0x03B2, 0xE1}, {0x2211, 0xE4}, {0x03BC, 0xE6}, {0x2126, 0xEA}, {0x00F0, 0xEB},
      {0x2205, 0xED}, {0x03D5, 0xED}, {0x2300, 0xED}, {0x2208, 0xEE}, {0x2203, 0xEE}};
  for (const auto& [character, byte] : kAlike) {
    if (character == c) return static_cast<char>(byte);
  }
  return std::nullopt;
}

bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The readings of each form: bytes may be any single- or double-byte text; mojibake is what a
// tool made of bytes it read wrong, and these are the double-byte encodings and UTF-8 (a tool
// that read UTF-8 as CP1252 makes "BeyoncÃ©").
constexpr Candidates kBytesCandidates = Only(Encoding::kGbk) | Only(Encoding::kBig5) |
                                        Only(Encoding::kShiftJis) | Only(Encoding::kCp1252);
constexpr Candidates kMojibakeCandidates = Only(Encoding::kGbk) | Only(Encoding::kBig5) |
                                           Only(Encoding::kShiftJis) | Only(Encoding::kUtf8);

// The readings of one name's legacy bytes by a form's candidates, each decoded only when it is
// asked for. A candidate the bytes have the shape of is scored at once, from the bytes or from
// the characters a table gives (ShapeScore); the system's converter then decodes a candidate
// only where its reading decides something, and a candidate it refuses is out. The bytes are a
// name's own (`name`, which must outlive the readings) or the bytes of mojibake (`bytes`).
class Readings {
 public:
  Readings() = default;
  static Readings OfName(std::string_view name, Candidates candidates) {
    Readings r;
    r.view_ = name;
    r.Shape(candidates);
    return r;
  }
  static Readings OfBytes(std::string bytes, Candidates candidates) {
    Readings r;
    r.owned_ = std::move(bytes);
    r.Shape(candidates);
    return r;
  }

  std::string_view bytes() const { return view_.data() != nullptr ? view_ : owned_; }
  // The scores by the shape of the bytes; none for a candidate that cannot decode them.
  const FieldScores& Likely() const { return likely_; }
  // The score of a candidate that decodes the bytes, none for one that does not: decoded once.
  std::optional<int> Score(size_t e) {
    if (!likely_[e] || decoded_[e] < 0) return std::nullopt;
    if (decoded_[e] == 0) {
      std::optional<QString> text = Decode(kEncodings[e], bytes());
      decoded_[e] = text ? 1 : -1;
      if (!text) return std::nullopt;
      texts_[e] = std::move(*text);
      scores_[e] = legacy::Score(kEncodings[e], bytes(), texts_[e]);
    }
    return scores_[e];
  }
  // The text of a candidate whose Score is given.
  const QString& Text(size_t e) const { return texts_[e]; }
  // True when the candidate decodes the bytes with the score their shape gave.
  bool Confirmed(size_t e) { return Score(e) == likely_[e]; }

  // The best score of a candidate that decodes the bytes, or the lowest int when none does.
  int Best() {
    int best = std::numeric_limits<int>::min();
    for (size_t e = 0; e < kEncodingCount; ++e) {
      if (likely_[e] && *likely_[e] > best) {
        if (const std::optional<int> s = Score(e)) best = std::max(best, *s);
      }
    }
    return best;
  }

  // Every candidate decoded, as ReadField gives them.
  FieldReadings Decoded() {
    FieldReadings r;
    for (size_t e = 0; e < kEncodingCount; ++e) {
      r.scores[e] = Score(e);
      if (r.scores[e]) r.texts[e] = texts_[e];
    }
    return r;
  }

 private:
  void Shape(Candidates candidates) {
    const std::string_view b = bytes();
    const Candidates shaped = ShapedAs(b, candidates);
    for (size_t e = 0; e < kEncodingCount; ++e) {
      if ((shaped & Only(kEncodings[e])) != 0) likely_[e] = ShapeScore(kEncodings[e], b);
    }
  }

  std::string_view view_;
  std::string owned_;
  FieldScores likely_{};
  std::array<int8_t, kEncodingCount> decoded_{};  // 0: not yet, 1: decodes, -1: does not
  std::array<int, kEncodingCount> scores_{};
  std::array<QString, kEncodingCount> texts_{};
};

// Decide's encoding and ambiguity for `fields`, decoding as little as it can. It decides first as
// though every candidate a field has the shape of decoded it, then decodes the best in every
// field: when it decodes them all, the fields it decodes are the same and the others can only
// lose candidates, so the best stays the best. The second best is decoded only when the margin
// to it decides; when either fails, every field is decoded and Decide decides. Only the
// encoding and the ambiguity are meant: `second` and `margin` may be against a candidate that
// does not decode.
Detection DecideLazily(const std::vector<Readings*>& fields, Candidates candidates) {
  std::vector<const FieldScores*> shaped;
  shaped.reserve(fields.size());
  for (Readings* f : fields) shaped.push_back(&f->Likely());
  const Detection d = Decide(shaped, candidates);
  auto decodesAll = [&](Encoding encoding) {
    const size_t e = static_cast<size_t>(encoding);
    return std::all_of(fields.begin(), fields.end(),
                       [&](Readings* f) { return !f->Likely()[e] || f->Confirmed(e); });
  };
  const bool best = d.scores[static_cast<size_t>(d.encoding)].has_value();
  const bool close = d.second && (d.margin < kClearMargin || d.score <= 0);
  if (!d.any || (best && decodesAll(d.encoding) && (!close || decodesAll(*d.second)))) return d;
  std::vector<FieldReadings> decoded;
  decoded.reserve(fields.size());
  for (Readings* f : fields) decoded.push_back(f->Decoded());
  return Decide(decoded, candidates);
}

// One garbled name: its place among the names, its form and its legacy bytes, and for mojibake
// how likely the name is as it stands.
struct Garbled {
  size_t at = 0;
  NameForm form = NameForm::kBytes;
  int asIs = std::numeric_limits<int>::min();
  Readings readings;  // of its legacy bytes, by the form's candidates
};

// How likely a mojibake name is as it stands, as Western text: the CP1252 reading's score, less
// for each accented letter that follows another within two characters: real words hold few of
// them ("Björk", "élève"), while mojibake of double-byte text repeats them ("ânâiâ~âYâL").
int AsIs(const QString& text) {
  int score = Score(Encoding::kCp1252, std::string(), text);
  auto accented = [&](qsizetype i) {
    const char16_t c = text[i].unicode();
    return (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7);
  };
  for (qsizetype i = 1; i < text.size(); ++i) {
    if (accented(i) && (accented(i - 1) || (i >= 2 && accented(i - 2)))) score -= 4;
  }
  return score;
}

// The form of a name, when it is garbled at all, with its readings.
std::optional<Garbled> GarbledOf(std::string_view name, bool namesAreBytes) {
  if (IsAscii(name)) return std::nullopt;
  const std::optional<QString> text =
      IsValidUtf8(name) ? system::DecodeStrict(Encoding::kUtf8, name) : std::optional<QString>();
  if (!text) {
    if (!namesAreBytes) return std::nullopt;
    Garbled g;
    g.readings = Readings::OfName(name, kBytesCandidates);
    return g;
  }
  const std::optional<std::string> cp1252 = MojibakeBytes(*text);
  const std::optional<std::string> cp437 = Cp437Bytes(*text);
  if (!cp1252 && !cp437) return std::nullopt;  // characters no such reading makes: real text
  Garbled g;
  g.form = cp1252 ? NameForm::kCp1252 : NameForm::kCp437;
  g.readings = Readings::OfBytes(cp1252 ? *cp1252 : *cp437, kMojibakeCandidates);
  // A name both readings could have made ("ÄÖ") takes the one whose bytes read better.
  if (cp1252 && cp437) {
    Readings other = Readings::OfBytes(*cp437, kMojibakeCandidates);
    if (other.Best() > g.readings.Best()) {
      g.form = NameForm::kCp437;
      g.readings = std::move(other);
    }
  }
  // The name as it stands, judged as Western text: accented letters inside words score, the
  // symbols and box pieces that mojibake is made of cost.
  g.asIs = AsIs(*text);
  return g;
}

// The readings that decode a name, the best first.
std::vector<std::pair<Encoding, QString>> Choices(const FieldReadings& r) {
  std::vector<std::pair<int, size_t>> ranked;
  for (size_t e = 0; e < kEncodingCount; ++e) {
    if (r.scores[e]) ranked.emplace_back(*r.scores[e], e);
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::pair<Encoding, QString>> choices;
  for (const auto& [score, e] : ranked) choices.emplace_back(kEncodings[e], r.texts[e]);
  return choices;
}

// The reading of one garbled name by `encoding`: mojibake that reads as well as it stands stays.
NameReading Repaired(Garbled& g, Encoding encoding, bool forced) {
  NameReading r;
  r.form = g.form;
  const size_t e = static_cast<size_t>(encoding);
  std::optional<QString> text;
  std::optional<int> score = g.readings.Score(e);
  if (score) {
    text = g.readings.Text(e);
  } else if (forced && (text = Decode(encoding, g.readings.bytes()))) {
    score = Score(encoding, g.readings.bytes(), *text);  // an encoding the form does not read
  }
  if (!text) {
    r.kind =
        g.form == NameForm::kBytes ? NameReading::Kind::kUndecodable : NameReading::Kind::kFine;
    return r;
  }
  if (g.form != NameForm::kBytes && g.asIs > 0 && (forced || g.asIs >= *score)) {
    return r;  // fine as it is
  }
  r.kind = NameReading::Kind::kRepair;
  r.encoding = encoding;
  r.text = *text;
  return r;
}

}  // namespace

const char* NameOf(NameForm form) {
  switch (form) {
    case NameForm::kBytes:
      return "bytes";
    case NameForm::kCp1252:
      return "CP1252";
    case NameForm::kCp437:
      return "CP437";
  }
  return "";
}

std::optional<std::string> Cp437Bytes(QStringView text) {
  std::string bytes;
  bool beyond = false;
  for (QChar qc : text) {
    const char16_t c = qc.unicode();
    if (c < 0x80) {
      bytes.push_back(static_cast<char>(c));
      continue;
    }
    const auto at = std::find(kCp437High.begin(), kCp437High.end(), c);
    if (at != kCp437High.end()) {
      bytes.push_back(static_cast<char>(0x80 + (at - kCp437High.begin())));
    } else if (const std::optional<char> alike = Cp437Alike(c)) {
      bytes.push_back(*alike);
    } else {
      return std::nullopt;
    }
    beyond = true;
  }
  if (!beyond) return std::nullopt;
  return bytes;
}

std::vector<NameReading> ReadNames(const std::vector<std::string>& names,
                                   std::optional<Encoding> forced, bool namesAreBytes,
                                   const std::vector<std::string>& context) {
  return ReadNameViews(std::vector<std::string_view>(names.begin(), names.end()), forced,
                       namesAreBytes,
                       std::vector<std::string_view>(context.begin(), context.end()));
}

std::vector<NameReading> ReadNameViews(const std::vector<std::string_view>& names,
                                       std::optional<Encoding> forced, bool namesAreBytes,
                                       const std::vector<std::string_view>& context) {
  std::vector<NameReading> out(names.size());
  std::vector<Garbled> garbled;
  garbled.reserve(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    if (std::optional<Garbled> g = GarbledOf(names[i], namesAreBytes)) {
      g->at = i;
      out[i].form = g->form;
      garbled.push_back(std::move(*g));
    }
  }
  // The context's bytes join the detection of their form only.
  std::vector<Garbled> known;
  for (std::string_view name : context) {
    if (std::optional<Garbled> g = GarbledOf(name, namesAreBytes)) known.push_back(std::move(*g));
  }
  for (NameForm form : {NameForm::kBytes, NameForm::kCp1252, NameForm::kCp437}) {
    const Candidates candidates = form == NameForm::kBytes ? kBytesCandidates : kMojibakeCandidates;
    // Mojibake that reads as well as it stands is fine, and stays out of the detection of the
    // others ("Beyoncé" beside "ÖÜ½Ü").
    std::vector<Garbled*> group;
    std::vector<Readings*> readings;
    for (Garbled& g : garbled) {
      if (g.form != form) continue;
      if (!forced && form != NameForm::kBytes && g.asIs > 0 && g.asIs >= g.readings.Best()) {
        continue;
      }
      group.push_back(&g);
      readings.push_back(&g.readings);
    }
    if (group.empty()) continue;
    if (forced) {
      for (Garbled* g : group) out[g->at] = Repaired(*g, *forced, true);
      continue;
    }
    for (Garbled& g : known) {
      if (g.form == form) readings.push_back(&g.readings);
    }
    const Detection together = DecideLazily(readings, candidates);
    for (Garbled* g : group) {
      NameReading& r = out[g->at];
      if (!together.ambiguous && g->readings.Score(static_cast<size_t>(together.encoding))) {
        r = Repaired(*g, together.encoding, false);
        continue;
      }
      const Detection own = DecideLazily({&g->readings}, candidates);
      if (!own.ambiguous) {
        r = Repaired(*g, own.encoding, false);
        continue;
      }
      r.choices = Choices(g->readings.Decoded());
      r.kind = !r.choices.empty()         ? NameReading::Kind::kAmbiguous
               : form == NameForm::kBytes ? NameReading::Kind::kUndecodable
                                          : NameReading::Kind::kFine;
    }
  }
  return out;
}

}  // namespace legacy
