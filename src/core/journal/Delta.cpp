#include "core/journal/Delta.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace core {
namespace {

// Matches are sought between blocks of this size: shorter runs are kept as literal bytes.
constexpr int64_t kBlock = 32;
// The multiplier of the rolling hash over a block (an odd 64-bit constant; arithmetic mod 2^64).
constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

void PutNumber(QByteArray& out, uint64_t n) {
  do {
    const char low = static_cast<char>(n & 0x7F);
    n >>= 7;
    out += n != 0 ? static_cast<char>(low | 0x80) : low;
  } while (n != 0);
}

// A cursor over a delta's bytes.
struct Reader {
  const char* at;
  const char* end;

  bool Byte(char& c) {
    if (at == end) return false;
    c = *at++;
    return true;
  }
  bool Number(uint64_t& n) {
    n = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      char c;
      if (!Byte(c)) return false;
      n |= static_cast<uint64_t>(c & 0x7F) << shift;
      if ((c & 0x80) == 0) return true;
    }
    return false;
  }
};

class Writer {
 public:
  explicit Writer(QByteArray& out) : out_(out) {}
  void Copy(int64_t offset, int64_t length) {
    if (length <= 0) return;
    out_ += 'C';
    PutNumber(out_, static_cast<uint64_t>(offset));
    PutNumber(out_, static_cast<uint64_t>(length));
  }
  void Literal(const char* bytes, int64_t length) {
    if (length <= 0) return;
    out_ += 'L';
    PutNumber(out_, static_cast<uint64_t>(length));
    out_.append(bytes, static_cast<qsizetype>(length));
  }

 private:
  QByteArray& out_;
};

uint64_t HashBlock(const char* p) {
  uint64_t h = 0;
  for (int64_t i = 0; i < kBlock; ++i) h = h * kMultiplier + static_cast<unsigned char>(p[i]);
  return h;
}

// Encodes target[from, to) against source[sFrom, sTo) through an index of the source's blocks.
void EncodeMiddle(const char* source, int64_t sFrom, int64_t sTo, const char* target, int64_t from,
                  int64_t to, Writer& w) {
  if (to - from < kBlock || sTo - sFrom < kBlock) {
    w.Literal(target + from, to - from);
    return;
  }
  std::unordered_map<uint64_t, int64_t> index;
  index.reserve(static_cast<size_t>((sTo - sFrom) / kBlock));
  for (int64_t at = sFrom; at + kBlock <= sTo; at += kBlock)
    index.emplace(HashBlock(source + at), at);
  uint64_t top = 1;  // kMultiplier^(kBlock-1), to take the oldest byte out of the rolling hash
  for (int64_t i = 1; i < kBlock; ++i) top *= kMultiplier;

  int64_t literalFrom = from;
  int64_t i = from;
  uint64_t h = HashBlock(target + i);
  while (i + kBlock <= to) {
    auto hit = index.find(h);
    if (hit != index.end() && std::memcmp(target + i, source + hit->second, kBlock) == 0) {
      int64_t s = hit->second, t = i;
      // Grown backwards over the literal bytes before it, and forwards as far as it goes.
      while (t > literalFrom && s > sFrom && target[t - 1] == source[s - 1]) --t, --s;
      int64_t length = (i - t) + kBlock;
      length += CommonPrefix(target + t + length, source + s + length,
                             std::min(to - (t + length), sTo - (s + length)));
      w.Literal(target + literalFrom, t - literalFrom);
      w.Copy(s, length);
      i = t + length;
      literalFrom = i;
      if (i + kBlock <= to) h = HashBlock(target + i);
      continue;
    }
    if (i + kBlock < to) {
      h = (h - top * static_cast<unsigned char>(target[i])) * kMultiplier +
          static_cast<unsigned char>(target[i + kBlock]);
    }
    ++i;
  }
  w.Literal(target + literalFrom, to - literalFrom);
}

}  // namespace

int64_t CommonPrefix(const char* a, const char* b, int64_t size) {
  int64_t n = 0;
  while (n + 8 <= size && std::memcmp(a + n, b + n, 8) == 0) n += 8;
  while (n < size && a[n] == b[n]) ++n;
  return n;
}

int64_t CommonSuffix(const char* a, int64_t aSize, const char* b, int64_t bSize, int64_t limit) {
  const int64_t most = std::min({aSize, bSize, limit});
  int64_t n = 0;
  while (n + 8 <= most && std::memcmp(a + aSize - n - 8, b + bSize - n - 8, 8) == 0) n += 8;
  while (n < most && a[aSize - n - 1] == b[bSize - n - 1]) ++n;
  return n;
}

QByteArray EncodeDelta(const QByteArray& source, const QByteArray& target) {
  QByteArray out;
  Writer w(out);
  const int64_t sSize = source.size(), tSize = target.size();
  const int64_t prefix =
      CommonPrefix(source.constData(), target.constData(), std::min(sSize, tSize));
  const int64_t suffix = CommonSuffix(source.constData(), sSize, target.constData(), tSize,
                                      std::min(sSize, tSize) - prefix);
  w.Copy(0, prefix);
  EncodeMiddle(source.constData(), prefix, sSize - suffix, target.constData(), prefix,
               tSize - suffix, w);
  w.Copy(sSize - suffix, suffix);
  return out;
}

bool ApplyDelta(const QByteArray& source, const QByteArray& delta, QByteArray& target,
                int64_t maxSize) {
  target.clear();
  Reader r{delta.constData(), delta.constData() + delta.size()};
  const uint64_t sSize = static_cast<uint64_t>(source.size());
  char op;
  while (r.Byte(op)) {
    uint64_t a = 0, b = 0;
    if (op == 'C') {
      if (!r.Number(a) || !r.Number(b) || a > sSize || b > sSize - a) return false;
      if (target.size() + static_cast<int64_t>(b) > maxSize) return false;
      target.append(source.constData() + a, static_cast<qsizetype>(b));
    } else if (op == 'L') {
      if (!r.Number(a) || a > static_cast<uint64_t>(r.end - r.at)) return false;
      if (target.size() + static_cast<int64_t>(a) > maxSize) return false;
      target.append(r.at, static_cast<qsizetype>(a));
      r.at += a;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace core
