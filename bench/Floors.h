// The least the operating system allows for each kind of work the tag code does, in plain system
// calls: the floors that the tag code is measured against.
#pragma once

#include <cstdint>
#include <vector>

namespace floors {

// Opens the file for reading, finds its end (fstat), reads the last 128 bytes with one pread and
// closes it. Gives true when the bytes were read; `tagged` tells whether they begin with "TAG".
bool ReadLastBlock(const char* path, unsigned char block[128], bool& tagged);

// Opens the file for reading, finds its end (fstat), reads its first 4,096 bytes (an ID3v2 tag's
// header and text frames) and its last 128 bytes with one pread each and closes it. Gives true
// when both were read; `tagged` tells whether they begin with "ID3" and "TAG".
bool ReadFirstAndLastBlock(const char* path, unsigned char first[4096], unsigned char block[128],
                           bool& tagged);

// Opens the file for writing, finds its end (fstat), writes 128 bytes over its last 128 bytes
// with one pwrite and closes it.
bool WriteLastBlock(const char* path, const unsigned char block[128]);
// The same, with an fdatasync before the close.
bool WriteLastBlockFlushed(const char* path, const unsigned char block[128]);
// Flushes the whole file system that holds `path` (syncfs).
bool SyncFileSystemOf(const char* path);

// Opens the file for reading, reads its ASF header in one read (when the header fits in the
// first 4,096 bytes) or two (the first 4,096 bytes, then the rest of the header) and closes it.
// Gives the header's size, or -1 when the file does not start with an ASF Header Object.
int64_t ReadAsfHeader(const char* path, std::vector<unsigned char>& buffer);

// The floor's header read with the call that TIDwma::ReadFromFile adds around it through
// platform::File: the fstat of the open (which refuses what is not a regular file and gives the
// size). Not a floor: it shows how much of the tag code's time that call is.
int64_t ReadAsfHeaderAsPlatformFile(const char* path, std::vector<unsigned char>& buffer);

// One renameat2 without replacing.
bool Rename(const char* from, const char* to);

}  // namespace floors
