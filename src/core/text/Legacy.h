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

// Decides the encoding of a file's legacy fields (each the bytes of one field; ASCII-only fields
// are ignored). A candidate that cannot decode a field another candidate decodes is out.
Detection Detect(const std::vector<std::string>& fields);

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

namespace system {
// The strict decoder of the platform: the text, or none when a byte sequence is invalid or has
// no character.
std::optional<QString> DecodeStrict(Encoding encoding, std::string_view bytes);
}  // namespace system

}  // namespace legacy
