// Bytes told as a delta against other bytes: the old tag of a file as what it shares with the new
// tag (copies of places in it) and what it does not (literal bytes), so that a record keeps of a
// title edit a few dozen bytes and not the cover beside it.
//
// A delta is a list of operations, each a byte and LEB128 numbers: 'C' offset length copies
// `length` bytes of the source from `offset`; 'L' length bytes gives `length` bytes as they are.
#pragma once

#include <QByteArray>
#include <cstdint>

namespace core {

// The bytes at the start of `a` and `b` that they share.
int64_t CommonPrefix(const char* a, const char* b, int64_t size);
// The bytes at the end of `a` (of `aSize` bytes) and `b` (of `bSize`) that they share, at most
// `limit`.
int64_t CommonSuffix(const char* a, int64_t aSize, const char* b, int64_t bSize, int64_t limit);

// `target` as a delta against `source`.
QByteArray EncodeDelta(const QByteArray& source, const QByteArray& target);
// Rebuilds the target of `delta` from `source`. False for a delta that is not whole, names bytes
// outside the source, or would give more than `maxSize` bytes.
bool ApplyDelta(const QByteArray& source, const QByteArray& delta, QByteArray& target,
                int64_t maxSize = int64_t{256} << 20);

}  // namespace core
