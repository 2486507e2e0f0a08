// The frames that TagLib renders or reads for the tag code, in memory: the Unicode frames a render
// writes, the frames only TagLib can read (compressed ones), and the conversion of a 2.2 tag to
// 2.3. No file is opened here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tags/id3v2/Id3v2Layout.h"
#include "tags/id3v2/TId3v2Tag.h"

namespace id3v2::codec {

using layout::Span;

// The encoding a render gives a Unicode frame: UTF-16 with a byte order mark in 2.3, UTF-8 in 2.4.
// Each function gives the whole frame, header and body, for a tag of `version` (3 or 4).

// A text frame (T*** other than TXXX) holding `values`.
std::vector<uint8_t> TextFrame(std::string_view id, const std::vector<std::u16string>& values,
                               int version);
// A user text frame (TXXX).
std::vector<uint8_t> UserTextFrame(const std::u16string& description,
                                   const std::vector<std::u16string>& values, int version);
// A comment (COMM) or unsynchronised lyrics (USLT) frame in the language of three bytes
// `language`.
std::vector<uint8_t> CommentFrame(std::string_view id, std::string_view language,
                                  const std::u16string& description, const std::u16string& text,
                                  int version);

// Reads a frame that only TagLib reads (a compressed one; `whole` is its header and body) as a
// field: the first value of a text frame, or of a comment frame the text, with `emptyDescription`
// telling whether its description is empty. False when TagLib cannot read it.
bool ReadWithTagLib(Span whole, int version, FieldValue& value, bool& emptyDescription);

// Converts a whole 2.2 tag (its region) to a whole 2.3 tag through TagLib. False when TagLib finds
// fewer than `frames` frames in it or would drop one of them.
bool ConvertTo23(Span region, size_t frames, std::vector<uint8_t>& converted);

// The UTF-8 bytes of a UTF-16 text; an unpaired surrogate gives U+FFFD.
std::string ToUtf8(std::u16string_view text);

}  // namespace id3v2::codec
