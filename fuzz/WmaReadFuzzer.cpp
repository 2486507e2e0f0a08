// The header walk over any bytes: it must end, stay inside the bytes and either succeed, give
// false, or raise the read error.
#include <cstddef>
#include <cstdint>

#include "tags/wma/TWmaTag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TIDwma tag;
  try {
    wma::ReadFromImage(tag, data, size);
  } catch (const EReadError&) {
  }
  return 0;
}
