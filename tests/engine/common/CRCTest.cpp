#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/SDBCRC.h"

namespace sdb {
namespace {

// The register update one bit at a time: the definition the fast routines
// must match, whatever length, alignment or starting register.
uint32_t BitwiseCRC(uint32_t crc, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

TEST(CRCTest, InitialZeroWithoutFinalInversion) {
  EXPECT_EQ(CRC(0, "abc", 3), 0xCA6598D0u);  // the common CRC-32 would be 0x352441C2
  EXPECT_EQ(CRC(0, "", 0), 0u);
  const std::string text = "The quick brown fox jumps over the lazy dog";
  // Continuing from a partial result equals one pass.
  uint32_t part = CRC(0, text.data(), 10);
  EXPECT_EQ(CRC(part, text.data() + 10, text.size() - 10), CRC(0, text.data(), text.size()));
}

// Lengths around the block sizes of the folding routine (16 and 64 bytes)
// and the page data sizes it is used for, at every alignment, from several
// starting registers.
TEST(CRCTest, EqualsTheBitwiseDefinition) {
  std::mt19937 gen(7);
  std::vector<uint8_t> data(70000 + 16);
  for (auto& b : data) b = static_cast<uint8_t>(gen());
  const size_t lengths[] = {1, 15, 16, 17, 63, 64, 65, 79, 80, 127, 128, 129, 200, 255, 256, 1000, 4056, 4096, 8152, 65536 + 7};
  const uint32_t initials[] = {0, 1, 0xFFFFFFFFu, 0x12345678u};
  for (size_t len : lengths)
    for (size_t offset : {0, 1, 3, 8})
      for (uint32_t initial : initials)
        ASSERT_EQ(CRC(initial, data.data() + offset, len), BitwiseCRC(initial, data.data() + offset, len))
            << "length " << len << ", offset " << offset << ", initial " << initial;
  // All zero bytes and all one bytes (no carry-less product may drop a bit).
  for (uint8_t fill : {uint8_t{0}, uint8_t{0xFF}}) {
    std::vector<uint8_t> same(4056, fill);
    EXPECT_EQ(CRC(0, same.data(), same.size()), BitwiseCRC(0, same.data(), same.size()));
  }
}

}  // namespace
}  // namespace sdb
