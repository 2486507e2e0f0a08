// The ID3v2 tag at an MP3 file's start as the list, the window and velomi-tag see it: its texts,
// how they compare with the ID3v1 block, and the fields a write puts into it. Players show this
// tag when a file has one, so every write that changes a field keeps it in step. A file is read
// here with both its tags, as the list shows it.
#pragma once

#include <QString>
#include <optional>
#include <string_view>
#include <vector>

#include "core/fields/Fields.h"
#include "core/text/Legacy.h"
#include "tags/id3v2/TId3v2Tag.h"

namespace core {

class Journal;

// The ID3v2 field that holds a tag field; none for the WMA-only fields.
std::optional<id3v2::Field> Id3v2FieldOf(TagField field);

// The text of an ID3v2 field: a Unicode frame's text; a Latin-1 frame's bytes as GBK when they
// are valid GBK with a byte above 0x7F (old Chinese taggers stored GBK there), else as Latin-1.
// Trimmed of codes 0 to 32 at both ends, as the ID3v1 texts are.
QString Id3v2Text(const id3v2::FieldValue& value);
// The legacy decoder of one string on its own: true, with the text, for bytes beyond ASCII that
// read clearly in one legacy encoding other than CP1252 (see legacy::Reading); a file's
// conversion decides over all its fields together instead (LegacyDecoder).
bool DecodeLegacyText(std::string_view bytes, std::u16string& text);

// ---- A file's legacy text, decided over all of it

// The bytes of an ID3v1 slot that count: those before its first zero byte, without the spaces
// that pad it.
std::string SlotBytes(const std::string& slot);
// The legacy fields of an MP3 file, each as bytes: its ID3v1 slots beyond ASCII, its Latin-1
// ID3v2 fields beyond ASCII, and its Unicode ID3v2 fields that are CP1252 text beyond ASCII (the
// bytes that text came from).
std::vector<std::string> LegacyFieldsOf(const TIDmp3& v1, const id3v2::TagInfo& v2);
// The detection over those fields.
legacy::Detection DetectLegacy(const TIDmp3& v1, const id3v2::TagInfo& v2);
// A conversion's decoders under a file's detection: of Latin-1 frames' strings, and of Unicode
// frames' strings that hold legacy bytes read as CP1252. Each leaves alone what reads right.
id3v2::LegacyText LegacyDecoder(const legacy::Detection& detection);
id3v2::MojibakeText MojibakeDecoder(const legacy::Detection& detection);
// What one ID3v2 field will read after a conversion under `detection`; none when it stays.
std::optional<QString> ConvertedText(const legacy::Detection& detection,
                                     const id3v2::FieldValue& value);
// True when a Latin-1 field holds GBK text, which players show as mojibake.
bool IsLegacyText(const id3v2::FieldValue& value);

// The list's texts of an ID3v2 tag: empty for a field it lacks; the track as stored ("3/12").
TrackFields FieldsOf(const id3v2::TagInfo& tag);
// What the list and the boxes show of an MP3 file: its ID3v1 block, or, when it has none, its
// ID3v2 tag (so that a save never writes empty boxes over a tag the user could not see).
TrackFields ShownFields(const TIDmp3& v1, const id3v2::TagInfo& v2);

// ---- Reading a file as the list shows it

// Reads the tag of `path` into the object its kind picks, as the window reads a file it adds or
// shows: an action a crash cut short that holds the file is settled first, when a journal is
// given. With `start`, an MP3 file's ID3v2 tag is read too, in the same open (for a WMA file it
// is left empty). Gives the kind. Lets a WMA read error through.
TagKind ReadTag(const std::string& path, TIDmp3& mp3, TIDwma& wma, Journal* journal = nullptr,
                id3v2::TagInfo* start = nullptr);
// The texts the list shows of `path`'s tag, read as ReadTag reads it (with the ID3v2 tag). Lets
// a WMA read error through.
TrackFields ReadFields(const std::string& path, Journal* journal = nullptr);
// What the list shows of a tag just read: a WMA file's tag; an MP3 file's ID3v1 block, or its
// ID3v2 tag when it has no block.
TrackFields ShownFields(TagKind kind, const TIDmp3& mp3, const TIDwma& wma,
                        const id3v2::TagInfo& start);

// True when an ID3v2 text says what `text` says for that field: the same text, a date that
// begins with the year, a track "3/12" for "3".
bool Id3v2Says(TagField field, const QString& stored, const QString& text);

// A field where the ID3v2 tag, which players show, says something else than the boxes: its text,
// or legacy text in it that players show garbled (`reading` is then what it says).
struct Id3v2Difference {
  TagField field;
  QString shown;    // what the boxes show
  QString id3v2;    // what players show of the ID3v2 tag ("" when it lacks the field)
  QString reading;  // legacy text: what its bytes say; empty otherwise
};
std::vector<Id3v2Difference> Id3v2Differences(const TrackFields& shown, const id3v2::TagInfo& v2);
// "标题：ID3v2 为“…”" lines of the differences, for a tooltip.
QString DescribeDifferences(const std::vector<Id3v2Difference>& differences);

// ---- Changes a write puts into an ID3v2 tag

// Sets a field's new text (trimmed of codes 0 to 32; empty removes the field).
void SetChange(id3v2::Changes& changes, TagField field, const QString& text);
bool AnyChange(const id3v2::Changes& changes);
// The changes that would alter `tag`: those whose field it does not already say (a Latin-1 frame
// read as legacy text never says it: players show it garbled); none for a file without a tag
// that can be read.
id3v2::Changes ChangesFor(const id3v2::TagInfo& tag, const id3v2::Changes& changes);
// The tag fields a change list holds, in the window's order.
std::vector<TagField> ChangedFields(const id3v2::Changes& changes);

// The reason for an ID3v2 plan that did not succeed: "ID3v2 标签无法安全改写" ...
QString Id3v2Reason(id3v2::Result result, int err);

}  // namespace core
