// WMA saves that write the new header over the old one in place, made safe against a crash by the
// header log, and the recovery of writes that a crash cut short.
//
// When a save's new header has exactly the old one's size (wma::SavePlan::InPlace()), writing it
// costs the header's bytes instead of a copy of the whole file. A crash during that write would
// leave a header that is part old, part new; so the write is recorded first. The header log is a
// second log of the journal's form (Journal.h), `headers.jsonl` in the journal's folder, with one
// record per write in progress:
//
//   {"kind":"header","p":<the file's real path>,"s":<its size>,"h":<old header>,"n":<new header>}
//
// (bytes and paths in base64). The record is appended and flushed before the write; the header is
// written and the file flushed; then the record's done mark is appended and flushed. The log is
// emptied, unflushed, before a later save once every record in it is done. A record without its
// done mark is a write that a crash may have cut short, at any point: before the write, during it,
// or after it but before the mark. Recovery rolls every such write back: when the file still has
// the recorded size and each byte of its header region is the old header's or the new header's byte
// at that place (the old header, the new one, or a write torn part way), the old header goes back
// in place and the file is flushed; when it holds anything else, someone changed the file since and
// nothing is touched. Either way the record is then marked done; only a file that cannot be reached
// now (a pulled USB stick) keeps its record unfinished for a later recovery.
//
// Without a journal, or when the log refuses the record (unwritable, or a header too large to
// record), the save goes through the replace instead, which is safe by itself.
#pragma once

#include <string>
#include <vector>

#include "core/Journal.h"

class TIDwma;

namespace core {

// The header log that goes with `journal`: "headers.jsonl" in its folder.
Journal HeaderLog(const Journal& journal);

// Saves the fields of `tag` to `path` as TIDwma::SaveToFile does, with the same results, but in
// place and recorded in the header log of `journal` when the new header fits; through the replace
// otherwise, or when `journal` is null. First rolls back any write of this file that was cut
// short. On false, `err` holds the reason's errno (0 when the file is not one to save). Raises as
// TIDwma::SaveToFile does.
bool SaveWmaTag(TIDwma& tag, const std::string& path, Journal* journal, int& err);

// What recovery did with one record.
struct HeaderRecovery {
  enum class Result {
    kRestored,   // the old header is back in place
    kUntouched,  // the file already held the old header, or something else: nothing written
    kPending,    // the file cannot be reached or written now; the record stays
  };
  std::string path;
  Result result = Result::kUntouched;
};

// Rolls back every write recorded in the header log of `journal` (see above). The window calls it
// when it starts, the command line too, before anything else.
std::vector<HeaderRecovery> RecoverHeaders(const Journal& journal);
// The same for the records of the file `path` only, before that file is read or saved. Costs one
// stat of the log when it is empty.
std::vector<HeaderRecovery> RecoverHeadersOf(const Journal& journal, const std::string& path);

// For tests: called at the two points of an in-place save where a crash matters, after the record
// is flushed and after the header is written and flushed (before the done mark).
enum class HeaderStep { kRecorded, kWritten };
extern void (*onHeaderStep)(HeaderStep step);

}  // namespace core
