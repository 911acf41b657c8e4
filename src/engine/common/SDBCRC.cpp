#include "common/SDBCRC.h"

#include <zlib.h>

#include <climits>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define SDB_CRC_FOLDING 1
#endif

namespace sdb {

namespace {

// zlib's crc32 is the same polynomial with the register inverted on entry
// and on exit; inverting around it gives the plain register update, and
// zlib computes it several bytes at a time.
uint32_t CRCByZlib(uint32_t Initial, const uint8_t* p, size_t Size) {
  uLong crc = Initial ^ 0xFFFFFFFFu;
  while (Size > 0) {
    uInt chunk = Size > UINT_MAX ? UINT_MAX : static_cast<uInt>(Size);
    crc = crc32(crc, p, chunk);
    p += chunk;
    Size -= chunk;
  }
  return static_cast<uint32_t>(crc ^ 0xFFFFFFFFu);
}

#ifdef SDB_CRC_FOLDING

// The register update over a whole number of 16-byte blocks (at least 64
// bytes) by carry-less multiplication: the message is folded 64 bytes at a
// time onto four 128-bit accumulators with x^(512±32) mod P, those onto one
// with x^(128±32) mod P, and the 128 remaining bits are reduced to 32 by
// Barrett reduction. The constants are those powers of x modulo the
// reflected polynomial 0x104C11DB7 (bit-reflected, as the register is), so
// the result equals the bytewise update exactly; the tests compare both on
// many lengths and starting registers.
#define SDB_CRC_TARGET __attribute__((target("pclmul,sse4.1")))

SDB_CRC_TARGET inline __m128i Load(const uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); }

// x (128 bits) times the two halves of k, added to the next 128 bits.
SDB_CRC_TARGET inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

SDB_CRC_TARGET uint32_t CRCByFolding(uint32_t Initial, const uint8_t* p, size_t Size) {
  const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
  const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
  const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);

  __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(Initial)));
  __m128i x2 = Load(p + 16);
  __m128i x3 = Load(p + 32);
  __m128i x4 = Load(p + 48);
  p += 64;
  Size -= 64;
  while (Size >= 64) {
    x1 = Fold(x1, k1k2, Load(p));
    x2 = Fold(x2, k1k2, Load(p + 16));
    x3 = Fold(x3, k1k2, Load(p + 32));
    x4 = Fold(x4, k1k2, Load(p + 48));
    p += 64;
    Size -= 64;
  }
  x1 = Fold(x1, k3k4, x2);
  x1 = Fold(x1, k3k4, x3);
  x1 = Fold(x1, k3k4, x4);
  while (Size >= 16) {
    x1 = Fold(x1, k3k4, Load(p));
    p += 16;
    Size -= 16;
  }
  // 128 bits to 64 (appending 32 zero bits), then to 32 bits...
  __m128i t = _mm_clmulepi64_si128(x1, k3k4, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), t);
  t = _mm_srli_si128(x1, 4);
  x1 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k5, 0x00);
  x1 = _mm_xor_si128(x1, t);
  // ...and the Barrett reduction to the register.
  t = x1;
  x1 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
  x1 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x00);
  x1 = _mm_xor_si128(x1, t);
  return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

bool HasFolding() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}

#endif

}  // namespace

uint32_t CRC(uint32_t Initial, const void* Buffer, size_t Size) {
  const auto* p = static_cast<const uint8_t*>(Buffer);
#ifdef SDB_CRC_FOLDING
  // Pages and BLOB blocks: the multiplication folds all whole 16-byte
  // blocks, the table routine the few bytes after them.
  if (Size >= 64 && HasFolding()) {
    const size_t whole = Size & ~size_t{15};
    const uint32_t crc = CRCByFolding(Initial, p, whole);
    return whole == Size ? crc : CRCByZlib(crc, p + whole, Size - whole);
  }
#endif
  return CRCByZlib(Initial, p, Size);
}

}  // namespace sdb
