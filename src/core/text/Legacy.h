// Legacy text: bytes that old taggers wrote in the encoding of their system (GBK, Big5,
// Shift-JIS, CP1252) or in UTF-8, in ID3v1 slots and Latin-1 ID3v2 frames, or that a later tool
// read as CP1252 and stored as Unicode (mojibake such as "·¢ÈçÑ©"). One place decides what such
// bytes say: each candidate decodes them strictly, the decoded characters are scored by how common
// they are in their script, and one file's fields are decided together.
#pragma once

#include <QString>
#include <QStringView>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace legacy {

// The candidates, in the order that breaks a tie (GBK first, for this program's users).
enum class Encoding : uint8_t { kGbk, kBig5, kShiftJis, kCp1252, kUtf8 };
constexpr size_t kEncodingCount = 5;
constexpr std::array<Encoding, kEncodingCount> kEncodings = {
    Encoding::kGbk, Encoding::kBig5, Encoding::kShiftJis, Encoding::kCp1252, Encoding::kUtf8};

// True when `bytes` are valid UTF-8 (no overlong form, no surrogate).
bool IsValidUtf8(std::string_view bytes);

// "GBK", "Big5", "Shift-JIS", "CP1252", "UTF-8".
const char* NameOf(Encoding encoding);

// The text of `bytes` in `encoding`, or none when a byte sequence is not valid there, or when it
// decodes to a replacement, private-use or control character (tab and line breaks aside).
std::optional<QString> Decode(Encoding encoding, std::string_view bytes);

// How likely `bytes` read as `encoding` are to be real text: points for characters common in
// their script, penalties for rare ones; ASCII counts nothing. Only meaningful where Decode gives
// a text.
int Score(Encoding encoding, std::string_view bytes, const QString& text);

// The bytes that text shown from a Latin-1 or CP1252 reading came from: each character as its
// CP1252 byte (U+0080 to U+009F and the Latin-1 range as their own byte); none for a character
// beyond both, or for text that is ASCII only.
std::optional<std::string> MojibakeBytes(QStringView text);

// True when bytes read as CP1252 hold a character Latin-1 lacks (a byte 0x80 to 0x9F): players
// that read Latin-1 show those wrong.
bool HasCp1252Only(std::string_view bytes);

// The reading of one file's legacy fields, decided over all of them together.
struct Detection {
  bool any = false;  // the file has a field beyond ASCII at all
  Encoding encoding = Encoding::kGbk;
  int score = 0;                                            // the best reading's score
  int margin = 0;                                           // its lead over the second best
  std::optional<Encoding> second;                           // the second best, when one decodes
  bool ambiguous = false;                                   // too close to decide: needs a look
  std::array<std::optional<int>, kEncodingCount> scores{};  // none: does not decode every field
  std::vector<size_t> undecodable;  // fields no candidate decodes: left as they are
};

// The reading margin under which two readings are too close to choose between.
constexpr int kClearMargin = 3;

// A set of candidates: one bit for each encoding, by its place in kEncodings.
using Candidates = unsigned;
constexpr Candidates kAllCandidates = (1u << kEncodingCount) - 1;
constexpr Candidates Only(Encoding encoding) { return 1u << static_cast<unsigned>(encoding); }

// The candidates among `candidates` whose byte sequences `bytes` have the shape of (lead and
// trail bytes in their ranges, UTF-8 valid, no byte CP1252 lacks): one left out cannot decode
// them, one kept may still not (a code with no character). Costs a walk over the bytes, where a
// decoding costs the system's converter.
Candidates ShapedAs(std::string_view bytes, Candidates candidates = kAllCandidates);

// Decides the encoding of a file's legacy fields (each the bytes of one field; ASCII-only fields
// are ignored) among `candidates`. A candidate that cannot decode a field another candidate
// decodes is out.
Detection Detect(const std::vector<std::string>& fields, Candidates candidates = kAllCandidates);

// The readings of one field by each of `candidates`, worked out once: Decide takes them for the
// same decision as Detect (for a field that takes part in several decisions).
using FieldScores = std::array<std::optional<int>, kEncodingCount>;  // none: does not decode
struct FieldReadings {
  bool ascii = false;
  FieldScores scores{};
  std::array<QString, kEncodingCount> texts{};
};
FieldReadings ReadField(std::string_view bytes, Candidates candidates = kAllCandidates);
Detection Decide(const std::vector<FieldReadings>& fields, Candidates candidates = kAllCandidates);
// The same decision over the scores of fields beyond ASCII alone.
Detection Decide(const std::vector<const FieldScores*>& fields,
                 Candidates candidates = kAllCandidates);

// The score of `bytes` read as `encoding`, for bytes of its shape (ShapedAs), without decoding
// them: from the bytes (the double-byte encodings), or from the characters CP1252's table gives
// or the UTF-8 they are. It is Score's wherever Decode gives a text.
int ShapeScore(Encoding encoding, std::string_view bytes);

// The detection with `encoding` taken for the file, as a person chose it: clear, whatever the
// scores say.
Detection WithEncoding(const Detection& detection, Encoding encoding);

// The encoding a person names: "gbk", "big5", "shift-jis" (or "sjis", "cp932"), "cp1252" (or
// "latin1"), "utf-8", in any letter case; none for any other name.
std::optional<Encoding> EncodingNamed(std::string_view name);

// What players that read bytes as Latin-1 (CP1252 on Windows) show of them: each byte as its
// CP1252 character, a byte CP1252 lacks as U+FFFD. For display only.
QString AsPlayersShow(std::string_view bytes);

// Where a field's bytes were found: an ID3v1 slot (carried into a new Unicode tag whatever it
// holds), a Latin-1 frame (players read it as Latin-1), or a Unicode frame holding the CP1252
// bytes of its characters.
enum class Place : uint8_t { kSlot, kLatin1, kMojibake };

// The text that replaces one field under a file's detection, or none when the field is to stay as
// it is: ASCII, a reading that is not clear, a CP1252 reading of a frame that reads the same as
// Latin-1 (it reads right already; a slot's CP1252 reading is its text), a field the chosen
// encoding cannot decode, or a field whose own CP1252 reading is clearly better than the file's
// choice ("Björk" beside GBK fields).
std::optional<QString> Reading(const Detection& detection, std::string_view bytes, Place place);

// ---- Names of files and folders
//
// A name garbled on its way between systems holds legacy bytes in one of three forms: the bytes
// themselves (a name that is not UTF-8, as a Windows archive or FAT drive leaves it on Linux), or
// the characters a tool made of them reading them as CP1252 or Latin-1 (Windows programs, many
// unpackers: "ÖÜ½ÜÂ×"), or as CP437 (unzip, for archives that do not say their encoding:
// "╓▄╜▄┬╫").
enum class NameForm : uint8_t { kBytes, kCp1252, kCp437 };

// "bytes", "CP1252", "CP437".
const char* NameOf(NameForm form);

// The bytes that text shown from a CP437 reading came from: each character as its CP437 byte;
// none for a character CP437 lacks (its pictures of control codes included), or for text that is
// ASCII only.
std::optional<std::string> Cp437Bytes(QStringView text);

// What one name reads as.
struct NameReading {
  enum class Kind : uint8_t {
    kFine,         // reads right as it is: ASCII, real text, or no reading of it says more
    kRepair,       // it says `text`, in `encoding`
    kAmbiguous,    // the readings are too close to choose: `choices`, the best first
    kUndecodable,  // bytes that are not UTF-8, and no candidate reads them
  };
  Kind kind = Kind::kFine;
  NameForm form = NameForm::kBytes;
  Encoding encoding = Encoding::kGbk;
  QString text;
  std::vector<std::pair<Encoding, QString>> choices;
};

// Reads the names of one folder together, as one file's fields are: names that share a folder
// came together from one system, so one encoding decides them, and a name that reading does not
// decode is decided alone. Bytes are read as GBK, Big5, Shift-JIS or CP1252, mojibake as GBK,
// Big5, Shift-JIS or UTF-8; a mojibake name that reads as well as it is (Western text such as
// "Beyoncé") is fine. `forced`: the user says what the bytes are, and each name that encoding
// decodes is repaired with it. `namesAreBytes`: the file system's names are bytes (POSIX); where
// they are UTF-16 (Windows), a name is never read as bytes. `context`: names that came with them
// (the folder's own name), which help decide their encoding and get no reading of their own.
std::vector<NameReading> ReadNames(const std::vector<std::string>& names,
                                   std::optional<Encoding> forced, bool namesAreBytes,
                                   const std::vector<std::string>& context = {});
// The same over names held elsewhere, which must outlive the call.
std::vector<NameReading> ReadNameViews(const std::vector<std::string_view>& names,
                                       std::optional<Encoding> forced, bool namesAreBytes,
                                       const std::vector<std::string_view>& context = {});

namespace system {
// The strict decoder of the platform: the text, or none when a byte sequence is invalid or has
// no character.
std::optional<QString> DecodeStrict(Encoding encoding, std::string_view bytes);
}  // namespace system

}  // namespace legacy
