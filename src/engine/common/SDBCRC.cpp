#include "SDBCRC.h"

#include <array>

namespace sdb {

namespace {

constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
    t[i] = c;
  }
  return t;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

}  // namespace

uint32_t CRC(uint32_t Initial, const void* Buffer, size_t Size) {
  const auto* p = static_cast<const uint8_t*>(Buffer);
  uint32_t crc = Initial;
  for (size_t i = 0; i < Size; ++i) crc = kTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

}  // namespace sdb
