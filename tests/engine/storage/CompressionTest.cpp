// Buffer compression with zlib and bzip2.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "storage/file/SDBCompression.h"

namespace sdb {
namespace {

std::vector<uint8_t> Text(size_t n) {
  const std::string words = "Devis Variante Commande Facture fenêtre Uw=1.3 ";
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(words[(i * 7 + i / 13) % words.size()]);
  return v;
}

std::vector<uint8_t> Noise(size_t n) {
  std::vector<uint8_t> v(n);
  uint32_t x = 12345;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return v;
}

TEST(CompressionTest, RoundTripsByAlgorithmLevelAndData) {
  struct Case {
    TSDBCompressionAlgorithm alg;
    uint8_t mode;
    std::vector<uint8_t> data;
  } cases[] = {
      {acaZLIB, 1, Text(100000)}, {acaZLIB, 9, Text(3)},    {acaZLIB, 0, Text(5000)},
      {acaZLIB, 6, Noise(70000)}, {acaBZIP, 1, Text(250000)}, {acaBZIP, 9, Noise(10000)},
      {acaBZIP, 5, Text(1)},      {acaPPM, 1, Text(30000)},   {acaPPM, 9, Noise(5000)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.alg) + "/" + std::to_string(c.mode) + "/" + std::to_string(c.data.size()));
    TSDBCompressedStreamBlockHeader header;
    std::vector<uint8_t> packed;
    ASSERT_TRUE(CompressBuffer(c.alg, c.mode, c.data.data(), header, packed, static_cast<int64_t>(c.data.size())));
    EXPECT_EQ(header.CompressedSize, static_cast<int32_t>(packed.size()));
    if (c.alg == acaPPM) {
      // PPM needs the exact size.
      std::vector<uint8_t> back;
      int64_t outSize = 0;
      EXPECT_FALSE(DecompressBuffer(c.alg, packed.data(), static_cast<int64_t>(packed.size()), outSize, back));
      outSize = static_cast<int64_t>(c.data.size());
      ASSERT_TRUE(DecompressBuffer(c.alg, packed.data(), static_cast<int64_t>(packed.size()), outSize, back));
      EXPECT_EQ(back, c.data);
      continue;
    }
    for (int64_t hint : {static_cast<int64_t>(c.data.size()), int64_t{0}, int64_t{1}}) {
      std::vector<uint8_t> back;
      int64_t outSize = hint;
      ASSERT_TRUE(DecompressBuffer(c.alg, packed.data(), static_cast<int64_t>(packed.size()), outSize, back));
      EXPECT_EQ(outSize, static_cast<int64_t>(c.data.size()));
      EXPECT_EQ(back, c.data);
    }
  }
}

TEST(CompressionTest, ZlibOutputIsAStandardZlibStream) {
  auto data = Text(20000);
  TSDBCompressedStreamBlockHeader header;
  std::vector<uint8_t> packed;
  ASSERT_TRUE(CompressBuffer(acaZLIB, 1, data.data(), header, packed, static_cast<int64_t>(data.size())));
  EXPECT_EQ(packed[0] & 0x0F, 8);  // RFC 1950 header: deflate
  std::vector<uint8_t> back(data.size());
  uLongf n = back.size();
  ASSERT_EQ(uncompress(back.data(), &n, packed.data(), packed.size()), Z_OK);
  EXPECT_EQ(back, data);
  EXPECT_LT(packed.size(), data.size() / 4);
}

TEST(CompressionTest, FailuresAnswerFalse) {
  auto data = Text(1000);
  TSDBCompressedStreamBlockHeader header;
  std::vector<uint8_t> out;
  EXPECT_FALSE(CompressBuffer(acaNone, 5, data.data(), header, out, 1000));
  EXPECT_FALSE(CompressBuffer(static_cast<TSDBCompressionAlgorithm>(7), 5, data.data(), header, out, 1000));
  EXPECT_FALSE(CompressBuffer(acaZLIB, 5, data.data(), header, out, 0));
  EXPECT_FALSE(CompressBuffer(acaBZIP, 0, data.data(), header, out, 1000));  // no 0 kB blocks
  EXPECT_FALSE(CompressBuffer(acaZLIB, 10, data.data(), header, out, 1000));
  EXPECT_EQ(header.CompressedSize, 0);
  int64_t size = 1000;
  EXPECT_FALSE(DecompressBuffer(acaZLIB, data.data(), 1000, size, out));  // not a zlib stream
  EXPECT_EQ(size, 0);
  size = 1000;
  EXPECT_FALSE(DecompressBuffer(acaBZIP, data.data(), 1000, size, out));
  // A truncated stream does not decompress.
  ASSERT_TRUE(CompressBuffer(acaZLIB, 5, data.data(), header, out, 1000));
  std::vector<uint8_t> back;
  size = 1000;
  EXPECT_FALSE(DecompressBuffer(acaZLIB, out.data(), static_cast<int64_t>(out.size()) - 6, size, back));
}

}  // namespace
}  // namespace sdb
