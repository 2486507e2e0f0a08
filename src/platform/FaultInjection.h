// A hook through which tests make the platform's writes fail, as a full disk or a pulled USB
// stick would. Off unless a test turns it on; one check per write when off.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace platform::fault {

// From now on, the write that would take the total written past `bytes` fails with `err`, and so
// does every write after it, until Reset().
void FailWritesAfter(int64_t bytes, int err = ENOSPC);
void Reset();

// Called by every write path of the platform before it writes `count` bytes: 0 when the write may
// go ahead, otherwise the errno it must fail with.
int TakeWrite(size_t count);

}  // namespace platform::fault
