// Hooks through which tests make the platform's calls fail, as a full disk, a pulled USB stick or
// a file system without some features (FAT and exFAT through FUSE, SMB shares) would. Off unless
// a test turns them on; one check per call when off.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::fault {

// How a write that takes the total written past the budget fails.
enum class WriteFailure {
  kWhole,        // it writes nothing, and every later write fails too (a full disk)
  kPartialOnce,  // it writes the bytes up to the budget, then fails; later writes go ahead
};

// From now on, the write that would take the total written past `bytes` fails with `err`, as
// `mode` says, until Reset().
void FailWritesAfter(int64_t bytes, int err = ENOSPC, WriteFailure mode = WriteFailure::kWhole);

// From now on, the write that would take the total written past `bytes` reports success but
// lands with the byte at that point inverted (a failing stick that acknowledges what it does not
// keep), once; until Reset().
void CorruptWriteAfter(int64_t bytes);

// File-system features a test can take away, each refused as such file systems refuse it.
enum class Feature : unsigned {
  kRenameNoReplace = 1u << 0,  // renameat2 with RENAME_NOREPLACE gives EINVAL
  kHardLink = 1u << 1,         // link gives EPERM
  // open with O_TMPFILE gives EOPNOTSUPP; on Windows the temporary file is not marked for
  // deletion, so a killed save leaves it as it does where there are no unnamed files
  kUnnamedTemp = 1u << 2,
  kCaseSensitivity = 1u << 3,  // names that differ in ASCII letter case only name one file
  // Windows: a rename cannot replace a file that is open (no POSIX rename semantics, as before
  // Windows 10 or on FAT), so a replacement takes the rename that needs the old file closed.
  kReplaceOpenFile = 1u << 4,
};
void Refuse(Feature feature);
bool Refused(Feature feature);

// From now on fchmod of a replacement fails with `err` (0: it goes ahead), until Reset().
void FailChmod(int err);
int TakeChmod();

// From now on every flush of a file to the disk fails with `err` (0: it goes ahead), until
// Reset().
void FailSyncs(int err);
// Called by every flush of the platform with its system call's result (0, or -1 with errno set),
// after the call: 0 when the flush succeeded, else the errno it fails with, a test's fault before
// the call's own. The call's result goes through here, so a caller that ignored it would ignore
// the test's fault too.
int Flushed(int result, const std::string& path = std::string());

// Points inside the platform's calls where a test may act as another process would, or make the
// call fail there.
enum class Step {
  kPlaceholderReserved,  // a rename's placeholder was made, before the rename over it
  kLinked,               // a rename's new link was made, before the old name is removed
  kCaseTempNamed,        // a case-only rename reached its temporary name, before its new one
  kOpening,              // a file is about to be opened in a folder (Folder::OpenFile)
  kLocked,               // a lock file's lock was taken, before the file's name is checked
};
// From now on `hook` runs at each step; it may change the disk, and gives 0 or the errno the step
// then fails with. Null: no hook.
void OnStep(int (*hook)(Step));
int AtStep(Step step);

// From now on the write and flush hooks above act only on files whose path ends in `suffix`
// (empty: on every file), until Reset().
void OnlyFor(const std::string& suffix);

// Turns every hook off.
void Reset();

// Called by every write path of the platform before it writes `count` bytes: 0 when the write may
// go ahead; otherwise the errno it must fail with, after writing the first `allowed` bytes.
// `path` names the file written (empty when unknown).
int TakeWrite(size_t count, size_t& allowed, const std::string& path = std::string());
int TakeWrite(size_t count, const std::string& path = std::string());
// Called by every write path of the platform before it writes `count` bytes of `data`: the bytes
// as they are to land, `data` itself or, under CorruptWriteAfter, a copy in `wrong` with one byte
// inverted.
const unsigned char* AsLanding(const unsigned char* data, size_t count, const std::string& path,
                               std::vector<unsigned char>& wrong);

}  // namespace platform::fault
