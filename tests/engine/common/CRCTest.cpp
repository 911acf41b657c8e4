#include <gtest/gtest.h>

#include <string>

#include "common/SDBCRC.h"

namespace sdb {
namespace {

TEST(CRCTest, InitialZeroWithoutFinalInversion) {
  EXPECT_EQ(CRC(0, "abc", 3), 0xCA6598D0u);  // the common CRC-32 would be 0x352441C2
  EXPECT_EQ(CRC(0, "", 0), 0u);
  const std::string text = "The quick brown fox jumps over the lazy dog";
  // Continuing from a partial result equals one pass.
  uint32_t part = CRC(0, text.data(), 10);
  EXPECT_EQ(CRC(part, text.data() + 10, text.size() - 10), CRC(0, text.data(), text.size()));
}

}  // namespace
}  // namespace sdb
