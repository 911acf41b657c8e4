// BLOB values stored in compressed blocks over an in-memory stored stream.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "common/SDBBytes.h"
#include "common/SDBCRC.h"
#include "sdb/SDBException.h"
#include "storage/file/SDBCompressedBlobStream.h"

namespace sdb {
namespace {

std::vector<uint8_t> Data(size_t n, uint32_t seed = 1) {
  std::vector<uint8_t> v(n);
  uint32_t x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    // Compressible but not trivial.
    v[i] = static_cast<uint8_t>((i % 97 < 60) ? 'a' + (i % 23) : (x >> 24));
  }
  return v;
}

std::vector<uint8_t> ReadAllOf(TSDBStream& s) {
  std::vector<uint8_t> out(static_cast<size_t>(s.GetSize()));
  s.Seek(0, soBeginning);
  EXPECT_EQ(s.Read(out.data(), static_cast<int64_t>(out.size())), static_cast<int64_t>(out.size()));
  return out;
}

int ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ESDBException& e) {
    return e.NativeError();
  }
  return 0;
}

// Checks every block of the stored stream by hand: header chain, sizes and CRCs.
void ExpectBlocksValid(TSDBMemoryStream& stored, const TSDBBLOBDescriptor& d) {
  int64_t pos = d.StartPosition;
  int64_t total = 0;
  const auto& mem = stored.Memory();
  for (int64_t i = 0; i < d.NumBlocks; ++i) {
    ASSERT_LE(pos + 20, static_cast<int64_t>(mem.size()));
    TSDBCompressedStreamBlockHeader h;
    h.Load(mem.data() + pos);
    ASSERT_EQ(h.OffsetToNextHeader, h.CompressedSize + 20);
    if (i + 1 < d.NumBlocks) {
      EXPECT_EQ(h.UncompressedSize, d.BlockSize);
    }
    std::vector<uint8_t> out;
    int64_t size = h.UncompressedSize;
    ASSERT_TRUE(DecompressBuffer(static_cast<TSDBCompressionAlgorithm>(d.CompressionAlgorithm), mem.data() + pos + 20,
                                 h.CompressedSize, size, out));
    EXPECT_EQ(size, h.UncompressedSize);
    EXPECT_EQ(CRC(0, out.data(), out.size()), h.Crc32) << "block " << i;
    total += h.UncompressedSize;
    pos += h.OffsetToNextHeader;
  }
  EXPECT_EQ(pos, static_cast<int64_t>(mem.size()));  // nothing after the last block
  EXPECT_EQ(total, d.UncompressedSize);
}

TEST(CompressedBlobStreamTest, BlockBoundaryOfADefaultZlibBlob) {
  TSDBMemoryStream stored;
  TSDBBLOBDescriptor d;
  d.CompressionAlgorithm = acaZLIB;
  d.CompressionMode = 2;
  auto value = Data(524289);
  {
    TSDBCompressedBLOBStream blob(stored, false, true, d);
    EXPECT_EQ(d.BlockSize, 524288);
    ASSERT_EQ(blob.Write(value.data(), 524288), 524288);
    EXPECT_EQ(d.NumBlocks, 1);
    ASSERT_EQ(blob.Write(value.data() + 524288, 1), 1);
    EXPECT_EQ(d.NumBlocks, 2);
    EXPECT_EQ(blob.Headers().Headers[1].UncompressedSize, 1);
    EXPECT_EQ(d.UncompressedSize, 524289);
    EXPECT_GT(blob.GetCompressionRate(), 10.0);
  }
  ExpectBlocksValid(stored, d);
  TSDBCompressedBLOBStream reopened(stored, false, false, d);
  EXPECT_EQ(ReadAllOf(reopened), value);
}

struct Mode {
  TSDBCompressionAlgorithm alg;
  uint8_t mode;
};

class BlobModes : public ::testing::TestWithParam<Mode> {};

TEST_P(BlobModes, AppendsReadsAtRandomPlacesAndShrinks) {
  TSDBMemoryStream stored;
  stored.Write("prefix", 6);  // the value need not start at 0
  TSDBBLOBDescriptor d;
  d.CompressionAlgorithm = GetParam().alg;
  d.CompressionMode = GetParam().mode;
  d.BlockSize = 1000;
  d.StartPosition = 6;
  auto value = Data(10500, 7);
  {
    TSDBCompressedBLOBStream blob(stored, false, true, d);
    // Appends of odd sizes complete the partial last block each time.
    size_t at = 0;
    for (size_t n : {1u, 333u, 999u, 2500u, 17u, 6650u}) {
      ASSERT_EQ(blob.Write(value.data() + at, static_cast<int64_t>(n)), static_cast<int64_t>(n));
      at += n;
    }
    ASSERT_EQ(at, value.size());
    if (d.CompressionAlgorithm != acaNone) {
      EXPECT_EQ(d.NumBlocks, 11);
      ExpectBlocksValid(stored, d);
    }
    // A write inside the value writes nothing.
    blob.Seek(5, soBeginning);
    EXPECT_EQ(blob.Write("x", 1), 0);
  }
  EXPECT_EQ(std::string(stored.Memory().begin(), stored.Memory().begin() + 6), "prefix");
  TSDBCompressedBLOBStream blob(stored, false, false, d);
  EXPECT_EQ(blob.GetSize(), 10500);
  for (int64_t pos : {0, 999, 1000, 1001, 4321, 10499, 10000}) {
    uint8_t buf[1700];
    blob.Seek(pos, soBeginning);
    int64_t want = std::min<int64_t>(1700, 10500 - pos);
    ASSERT_EQ(blob.Read(buf, 1700), want) << pos;
    EXPECT_EQ(0, std::memcmp(buf, value.data() + pos, static_cast<size_t>(want))) << pos;
  }
  EXPECT_EQ(blob.Read(value.data(), 10), 0);  // at the end

  // Shrink to half, inside a block: the kept value reads back and every block checks.
  blob.SetSize(5250);
  EXPECT_EQ(d.UncompressedSize, 5250);
  if (d.CompressionAlgorithm != acaNone) {
    EXPECT_EQ(d.NumBlocks, 6);
    ExpectBlocksValid(stored, d);
  } else {
    EXPECT_EQ(stored.GetSize(), 6 + 5250);
  }
  TSDBCompressedBLOBStream shrunk(stored, false, false, d);
  EXPECT_EQ(ReadAllOf(shrunk), std::vector<uint8_t>(value.begin(), value.begin() + 5250));
  // Shrink on a block boundary, then grow with zeros.
  shrunk.SetSize(3000);
  shrunk.SetSize(4200);
  auto now = ReadAllOf(shrunk);
  ASSERT_EQ(now.size(), 4200u);
  EXPECT_EQ(0, std::memcmp(now.data(), value.data(), 3000));
  for (size_t i = 3000; i < 4200; ++i) ASSERT_EQ(now[i], 0);
  if (d.CompressionAlgorithm != acaNone) ExpectBlocksValid(stored, d);
  // Writing beyond the end fills the gap with zeros.
  shrunk.Seek(4500, soBeginning);
  ASSERT_EQ(shrunk.Write("end", 3), 3);
  now = ReadAllOf(shrunk);
  ASSERT_EQ(now.size(), 4503u);
  EXPECT_EQ(now[4499], 0);
  EXPECT_EQ(std::string(now.end() - 3, now.end()), "end");
  shrunk.SetSize(0);
  EXPECT_EQ(d.NumBlocks, 0);
  EXPECT_EQ(stored.GetSize(), 6);
}

INSTANTIATE_TEST_SUITE_P(Algorithms, BlobModes,
                         ::testing::Values(Mode{acaZLIB, 1}, Mode{acaZLIB, 9}, Mode{acaBZIP, 1}, Mode{acaPPM, 2},
                                           Mode{acaNone, 0}));

// Builds a 3-block zlib BLOB of 2500 bytes and returns its stored bytes.
std::vector<uint8_t> ThreeBlocks(TSDBBLOBDescriptor& d) {
  TSDBMemoryStream stored;
  d = TSDBBLOBDescriptor();
  d.CompressionAlgorithm = acaZLIB;
  d.CompressionMode = 6;
  d.BlockSize = 1000;
  TSDBCompressedBLOBStream blob(stored, false, true, d);
  auto value = Data(2500, 3);
  blob.Write(value.data(), 2500);
  return stored.Memory();
}

TEST(CompressedBlobStreamTest, DamagedValuesFailOrAreCutInRepairMode) {
  TSDBBLOBDescriptor d;
  const auto good = ThreeBlocks(d);
  TSDBCompressedStreamBlockHeader h0, h1;
  h0.Load(good.data());
  h1.Load(good.data() + h0.OffsetToNextHeader);
  const size_t block2 = static_cast<size_t>(h0.OffsetToNextHeader + h1.OffsetToNextHeader);

  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
    int openCode;     // without repair
    int64_t repairedBlocks;
  } cases[] = {
      {"cut in third header", [&](auto& b) { b.erase(b.begin() + static_cast<std::ptrdiff_t>(block2 + 10), b.end()); }, 10081, 2},
      {"cut in third data", [&](auto& b) { b.erase(b.end() - 3, b.end()); }, 10082, 2},
      {"second header size", [&](auto& b) { PutLEI32(&b[h0.OffsetToNextHeader], -7); }, 10082, 1},
      {"next header offset", [&](auto& b) { PutLEI64(&b[12], 1 << 30); }, 10082, 0},
  };
  for (const auto& c : cases) {
    auto bytes = good;
    c.damage(bytes);
    {
      TSDBMemoryStream stored(bytes);
      TSDBBLOBDescriptor copy = d;
      EXPECT_EQ(ErrorOf([&] { TSDBCompressedBLOBStream blob(stored, false, false, copy); }), c.openCode) << c.name;
      EXPECT_EQ(stored.Memory(), bytes) << c.name;  // no repair without asking
    }
    TSDBMemoryStream stored(bytes);
    TSDBBLOBDescriptor copy = d;
    TSDBCompressedBLOBStream blob(stored, true, false, copy);
    EXPECT_EQ(copy.NumBlocks, c.repairedBlocks) << c.name;
    EXPECT_EQ(copy.UncompressedSize, c.repairedBlocks * 1000) << c.name;
    ExpectBlocksValid(stored, copy);
    const auto value = Data(2500, 3);
    EXPECT_EQ(ReadAllOf(blob), std::vector<uint8_t>(value.begin(), value.begin() + c.repairedBlocks * 1000));
  }
}

TEST(CompressedBlobStreamTest, CorruptBlockContentIsReportedOnRead) {
  TSDBBLOBDescriptor d;
  const auto good = ThreeBlocks(d);
  TSDBCompressedStreamBlockHeader h0;
  h0.Load(good.data());
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
    int code;
  } cases[] = {
      {"crc", [](auto& b) { b[8] ^= 1; }, 10089},
      {"uncompressed size", [](auto& b) { PutLEI32(&b[4], 999); }, 10088},
      {"compressed bytes", [](auto& b) { b[22] ^= 0xFF; b[23] ^= 0xFF; }, 10087},
  };
  for (const auto& c : cases) {
    auto bytes = good;
    c.damage(bytes);
    TSDBMemoryStream stored(bytes);
    TSDBBLOBDescriptor copy = d;
    TSDBCompressedBLOBStream blob(stored, false, false, copy);
    uint8_t buf[10];
    EXPECT_EQ(ErrorOf([&] { blob.Read(buf, 10); }), c.code) << c.name;
    blob.Seek(1500, soBeginning);
    EXPECT_EQ(blob.Read(buf, 10), 10) << c.name;  // other blocks still read
  }
}

TEST(CompressedBlobStreamTest, FailedCompressionLeavesTheValueAsItWas) {
  TSDBMemoryStream stored;
  TSDBBLOBDescriptor d;
  d.CompressionAlgorithm = 7;  // no such algorithm: every compression fails
  d.CompressionMode = 4;
  TSDBCompressedBLOBStream blob(stored, false, true, d);
  EXPECT_EQ(d.BlockSize, 1048576);
  EXPECT_EQ(ErrorOf([&] { blob.Write("abc", 3); }), 10085);
  EXPECT_EQ(blob.GetSize(), 0);
  EXPECT_EQ(stored.GetSize(), 0);
  EXPECT_EQ(d.NumBlocks, 0);

  // Also for an append that would have rewritten the last block.
  TSDBBLOBDescriptor z;
  const auto good = ThreeBlocks(z);
  TSDBMemoryStream stored2(good);
  z.CompressionMode = 12;  // an invalid zlib level
  TSDBCompressedBLOBStream blob2(stored2, false, false, z);
  blob2.Seek(0, soEnd);
  EXPECT_EQ(ErrorOf([&] { blob2.Write("abc", 3); }), 10085);
  EXPECT_EQ(stored2.Memory(), good);
  EXPECT_EQ(z.NumBlocks, 3);
  EXPECT_EQ(z.UncompressedSize, 2500);
}

TEST(CompressedBlobStreamTest, ZeroBlockSizeAndStartBeyondTheEnd) {
  TSDBMemoryStream stored;
  TSDBBLOBDescriptor d;
  d.CompressionAlgorithm = acaZLIB;
  d.CompressionMode = 1;
  d.NumBlocks = 1;
  EXPECT_EQ(ErrorOf([&] { TSDBCompressedBLOBStream blob(stored, false, false, d); }), 10090);
  d.BlockSize = 100;
  EXPECT_EQ(ErrorOf([&] { TSDBCompressedBLOBStream blob(stored, false, false, d); }), 10081);
  // An uncompressed value longer than its stored stream.
  TSDBBLOBDescriptor raw;
  raw.BlockSize = 100;
  raw.UncompressedSize = 50;
  TSDBMemoryStream short10(std::vector<uint8_t>(10, 1));
  EXPECT_EQ(ErrorOf([&] { TSDBCompressedBLOBStream blob(short10, false, false, raw); }), 10082);
  TSDBCompressedBLOBStream repaired(short10, true, false, raw);
  EXPECT_EQ(raw.UncompressedSize, 10);
}

TEST(CompressedBlobStreamTest, DescriptorSerialisesIn32Bytes) {
  TSDBBLOBDescriptor d;
  d.BlockSize = 524288;
  d.NumBlocks = 0x100000002LL;
  d.UncompressedSize = 77;
  d.StartPosition = 5;
  d.CompressionAlgorithm = acaBZIP;
  d.CompressionMode = 9;
  uint8_t raw[32];
  d.Save(raw);
  EXPECT_EQ(GetLEI32(raw), 524288);
  EXPECT_EQ(GetLEI64(raw + 4), 0x100000002LL);
  EXPECT_EQ(raw[28], acaBZIP);
  TSDBBLOBDescriptor back;
  back.Load(raw);
  EXPECT_EQ(back.NumBlocks, d.NumBlocks);
  EXPECT_EQ(back.StartPosition, 5);
  EXPECT_EQ(back.CompressionMode, 9);
  for (auto [mode, size] : {std::pair{0, 102400}, {1, 524288}, {3, 524288}, {4, 1048576}, {6, 1048576}, {7, 1572864}, {9, 1572864}})
    EXPECT_EQ(SDBDefaultBlobBlockSize(static_cast<uint8_t>(mode)), size) << mode;
}

TEST(StreamTest, CopiesInChunks) {
  TSDBMemoryStream source(Data(100000, 4)), dest;
  source.SetBlockSize(4096);
  int calls = 0;
  dest.OnProgress = [&](int64_t, int64_t) { ++calls; };
  dest.SetBlockSize(4096);
  dest.LoadFromStream(source);
  EXPECT_EQ(dest.Memory(), source.Memory());
  EXPECT_EQ(calls, 25);
  source.Seek(99990, soBeginning);
  dest.LoadFromStreamWithPosition(source);
  EXPECT_EQ(dest.GetSize(), 10);
  dest.SetBlockSize(0);
  EXPECT_EQ(ErrorOf([&] { dest.LoadFromStream(source); }), 10090);
  EXPECT_EQ(dest.Seek(-1, soBeginning), -1);
}

}  // namespace
}  // namespace sdb
