#include "common/SDBCRC.h"

#include <zlib.h>

#include <climits>

namespace sdb {

// zlib's crc32 is the same polynomial with the register inverted on entry
// and on exit; inverting around it gives the plain register update, and
// zlib computes it several bytes at a time.
uint32_t CRC(uint32_t Initial, const void* Buffer, size_t Size) {
  const auto* p = static_cast<const Bytef*>(Buffer);
  uLong crc = Initial ^ 0xFFFFFFFFu;
  while (Size > 0) {
    uInt chunk = Size > UINT_MAX ? UINT_MAX : static_cast<uInt>(Size);
    crc = crc32(crc, p, chunk);
    p += chunk;
    Size -= chunk;
  }
  return static_cast<uint32_t>(crc ^ 0xFFFFFFFFu);
}

}  // namespace sdb
