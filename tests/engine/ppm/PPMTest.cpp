// PPM (variant G) buffer compression: known answers from an independent
// implementation of the variant, round trips, header word, level clamping,
// model reuse, damaged input and concurrent use.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "common/SDBCRC.h"
#include "sdb/SDBException.h"
#include "storage/file/ppm/SDBPPM.h"

namespace sdb {
namespace {

using Bytes = std::vector<uint8_t>;

// Deterministic generator shared with the known answers below.
Bytes Lcg(size_t n, uint32_t seed) {
  Bytes out(n);
  uint32_t x = seed;
  for (auto& b : out) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return out;
}

Bytes Text(size_t n) {
  static const char* const words[] = {"le",     "vif",   "zéphyr", "jubile", "sur",   "les",      "kumquats",
                                      "du",     "clown", "the",    "quick",  "brown", "fox",      "jumps",
                                      "over",   "lazy",  "dog",    "base",   "table", "contexte", "données"};
  Bytes out;
  out.reserve(n + 16);
  uint32_t x = 99;
  while (out.size() < n) {
    x = x * 1103515245u + 12345u;
    const std::string w = words[(x >> 16) % (sizeof words / sizeof *words)];
    out.insert(out.end(), w.begin(), w.end());
    out.push_back(((x >> 8) & 15) == 0 ? '\n' : ' ');
  }
  out.resize(n);
  return out;
}

Bytes Binary(size_t n) {
  // Fixed-size records: a counter, a slowly changing value and a flag byte.
  Bytes out;
  uint32_t x = 5;
  for (uint32_t i = 0; out.size() < n; i++) {
    x = x * 1103515245u + 12345u;
    const uint32_t v = 100000 + i * 3 + ((x >> 20) & 7);
    for (int k = 0; k < 4; k++) out.push_back(static_cast<uint8_t>(i >> (8 * k)));
    for (int k = 0; k < 4; k++) out.push_back(static_cast<uint8_t>(v >> (8 * k)));
    out.push_back(static_cast<uint8_t>((x >> 24) & 1));
    out.insert(out.end(), 7, 0);
  }
  out.resize(n);
  return out;
}

Bytes Runs(size_t n) {
  Bytes out;
  uint32_t x = 3;
  while (out.size() < n) {
    x = x * 1103515245u + 12345u;
    out.insert(out.end(), 1 + ((x >> 16) % 5000), static_cast<uint8_t>(x >> 24));
  }
  out.resize(n);
  return out;
}

Bytes AllSymbols(size_t n) {
  Bytes out(n);
  for (size_t i = 0; i < n; i++) out[i] = static_cast<uint8_t>(i * 7 + i / 256);
  return out;
}

Bytes Compress(uint8_t level, const Bytes& in) {
  Bytes out;
  EXPECT_TRUE(PPMCompressBuffer(level, in.data(), static_cast<int64_t>(in.size()), out));
  return out;
}

Bytes Decompress(const Bytes& in, int64_t size) {
  Bytes out;
  EXPECT_TRUE(PPMDecompressBuffer(in.data(), static_cast<int64_t>(in.size()), size, out));
  return out;
}

// The native code of the error raised by `f`, or -1 when it does not raise.
template <class F>
int ErrorOf(F f) {
  try {
    f();
  } catch (const ESDBException& e) {
    return e.NativeError();
  }
  return -1;
}

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// ---------------------------------------------------------------------------
// Known answers, produced by an independent implementation of variant G
// (model order and memory as in the level table; stream after the header).

Bytes KnownText() {
  const std::string s =
      "Le vif zephyr jubile sur les kumquats du clown gracieux. The quick brown fox jumps over the lazy dog; ";
  std::string slow = s;
  slow.replace(slow.find("quick"), 5, "slow");
  const std::string t = s + slow + s + "PPM predicts each byte from its context.\n";
  return Bytes(t.begin(), t.end());
}

TEST(PPMTest, MatchesKnownAnswersOfTheVariant) {
  struct Case {
    uint8_t Level;
    std::string Header, Stream;
  };
  const Case cases[] = {
      {1, "11600000",
       "67eb15c069e018ade13dfc11c45a73d3515ee243af82b5ad5b39261e19a09b8d2368a5eae38c41156fb2e201199a40d44b885bc02"
       "0a75e1ef5f38d9cd32d17dea59bd5284d38f95a4a9a11042e78b3c54525200014767b72b2cd86420a7efb8cef7acaffd89cfbe96b4"
       "e1f197187500421a0e8d76b6ca65c8c1777cd962f0b8aa48b3910aba25dfbe318b25d6afd79b3f94e2f3820bc00"},
      {4, "f4600000",
       "aa21c32d6b35f8c7d835264807216551a466c5658017ea97cff14744d0f53ad39ba61a7f5779930537f64d5227e2516e2ffc53a3de"
       "94f2fd02b051c18449899ce05b476e685663fead5dac1cbe58068367abad04aae3be96ff9b000263836872f3818b8b7684e523c144"
       "223df20d5c9b398d0d1f8efbd1363576637800"},
      {9, "3f660000",
       "aa21c32d6b35f8c7d835264807216551a466c5658017ea97cff14744d0f53ad39ba61a7f5779930537f64d5227e2516e2ffc53a3de"
       "94f2fd02b051c18449899ce05b476e685663fead5dac1cbe58068367abad08eabd079cf5fc002657a0bc5b56c3f1a27d23ac74a538"
       "8dd363d379f98718e984c85de0dc6e1f79b200"},
  };
  const Bytes text = KnownText();
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Level));
    Bytes expected = FromHex(c.Header + c.Stream);
    EXPECT_EQ(Compress(c.Level, text), expected);
    EXPECT_EQ(Decompress(expected, static_cast<int64_t>(text.size())), text);
  }
}

TEST(PPMTest, MatchesKnownAnswerWhenTheModelRunsOutOfMemory) {
  // 300 000 random bytes fill the 2 MB model of level 1 several times over:
  // the reserve is released and the model restarts, at the same moments as
  // in any other implementation of the variant.
  const Bytes in = Lcg(300000, 7);
  ASSERT_EQ(CRC(0, in.data(), in.size()), 0x4987F103u);
  const Bytes out = Compress(1, in);
  ASSERT_EQ(out.size(), 4u + 307009u);
  EXPECT_EQ(CRC(0, out.data() + 4, out.size() - 4), 0x4871185Au);
  EXPECT_EQ(Decompress(out, static_cast<int64_t>(in.size())), in);
}

// ---------------------------------------------------------------------------
// Round trips

TEST(PPMTest, RoundTripsVariedInputsAtEveryLevel) {
  struct Input {
    const char* Name;
    Bytes Data;
  };
  const Input inputs[] = {
      {"one byte", {0x41}},
      {"text", Text(40000)},
      {"binary records", Binary(40000)},
      {"long runs", Runs(100000)},
      {"random", Lcg(30000, 11)},
      {"all byte values", AllSymbols(20000)},
  };
  for (int level = 1; level <= 9; level++) {
    for (const Input& in : inputs) {
      SCOPED_TRACE(std::string(in.Name) + " at level " + std::to_string(level));
      const Bytes packed = Compress(static_cast<uint8_t>(level), in.Data);
      EXPECT_LE(packed.size(), in.Data.size() + in.Data.size() / 20 + 50);
      EXPECT_EQ(Decompress(packed, static_cast<int64_t>(in.Data.size())), in.Data);
    }
  }
}

TEST(PPMTest, RoundTripsOneMegabyte) {
  const Bytes text = Text(1 << 20);
  for (uint8_t level : {1, 5, 9}) {
    SCOPED_TRACE(static_cast<int>(level));
    const Bytes packed = Compress(level, text);
    EXPECT_LT(packed.size(), text.size() / 3);  // a small vocabulary compresses well
    EXPECT_EQ(Decompress(packed, static_cast<int64_t>(text.size())), text);
  }
  const Bytes noise = Lcg(1 << 18, 1);
  const Bytes packed = Compress(3, noise);
  EXPECT_LE(packed.size(), noise.size() + noise.size() / 20 + 50);
  EXPECT_EQ(Decompress(packed, static_cast<int64_t>(noise.size())), noise);
}

// ---------------------------------------------------------------------------
// Header word and levels

TEST(PPMTest, HeaderWordCarriesOrderMemoryAndVariant) {
  const int order[9] = {2, 3, 4, 5, 7, 8, 10, 13, 16};
  const int memory[9] = {2, 3, 7, 16, 22, 25, 40, 100, 100};
  const Bytes in = Text(100);
  for (int level = 1; level <= 9; level++) {
    SCOPED_TRACE(level);
    const Bytes out = Compress(static_cast<uint8_t>(level), in);
    ASSERT_GE(out.size(), 4u);
    const uint32_t word = out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<uint32_t>(out[3]) << 24);
    EXPECT_EQ(word & 0xF, static_cast<uint32_t>(order[level - 1] - 1));
    EXPECT_EQ((word >> 4) & 0xFF, static_cast<uint32_t>(memory[level - 1] - 1));
    EXPECT_EQ((word >> 12) & 0xF, 6u);
    EXPECT_EQ(word >> 16, 0u);
  }
}

TEST(PPMTest, LevelsOutsideOneToNineAreClamped) {
  const Bytes in = Text(5000);
  EXPECT_EQ(Compress(0, in), Compress(1, in));
  EXPECT_EQ(Compress(10, in), Compress(9, in));
  EXPECT_EQ(Compress(255, in), Compress(9, in));
  EXPECT_NE(Compress(1, in), Compress(9, in));
}

TEST(PPMTest, ReusedModelCodesLikeAFreshOne) {
  // The known answers above hold whatever ran before; here the same input is
  // coded again after other data, after a change of model memory and after
  // a decompression, and must come out the same each time.
  const Bytes a = Text(30000), b = Binary(30000);
  const Bytes first = Compress(5, a);
  Compress(5, b);
  EXPECT_EQ(Compress(5, a), first);
  Compress(9, b);
  Compress(1, Lcg(200000, 3));  // exhausts and restarts the model
  EXPECT_EQ(Compress(5, a), first);
  Decompress(Compress(2, b), static_cast<int64_t>(b.size()));
  EXPECT_EQ(Compress(5, a), first);
}

// ---------------------------------------------------------------------------
// Refusals and damaged input

TEST(PPMTest, RefusesAnotherVariant) {
  const Bytes in = Text(2000);
  Bytes packed = Compress(5, in);
  for (uint8_t variant : {0, 5, 7, 8, 15}) {  // 'H' and 'I' are 7 and 8
    SCOPED_TRACE(static_cast<int>(variant));
    Bytes other = packed;
    other[1] = static_cast<uint8_t>((other[1] & 0x0F) | (variant << 4));
    Bytes out;
    EXPECT_EQ(ErrorOf([&] { PPMDecompressBuffer(other.data(), static_cast<int64_t>(other.size()), 2000, out); }),
              kSDBPPMDecompressionError);
  }
}

TEST(PPMTest, DecompressionNeedsTheOutputSize) {
  const Bytes packed = Compress(3, Text(100));
  for (int64_t size : {int64_t{0}, int64_t{-1}}) {
    Bytes out;
    try {
      PPMDecompressBuffer(packed.data(), static_cast<int64_t>(packed.size()), size, out);
      ADD_FAILURE() << "no error for OutputSize " << size;
    } catch (const ESDBException& e) {
      EXPECT_EQ(e.NativeError(), kSDBPPMOutputSizeNotSetError);
      EXPECT_EQ(e.RawMessage(), "PPM DecpmpressBuf: OutSize must be set");
    }
  }
}

TEST(PPMTest, DamagedInputFailsCleanly) {
  const Bytes in = Text(20000);
  const Bytes packed = Compress(5, in);
  const auto n = static_cast<int64_t>(in.size());
  auto decompressError = [&](const Bytes& data, int64_t size) {
    Bytes out;
    return ErrorOf([&] { PPMDecompressBuffer(data.data(), static_cast<int64_t>(data.size()), size, out); });
  };

  // Any truncation: the stream is read to its last byte.
  for (size_t keep : {size_t{0}, size_t{3}, size_t{4}, size_t{5}, packed.size() / 2, packed.size() - 4,
                      packed.size() - 1}) {
    SCOPED_TRACE(keep);
    EXPECT_EQ(decompressError(Bytes(packed.begin(), packed.begin() + static_cast<long>(keep)), n),
              kSDBPPMDecompressionError);
  }
  // A size that does not match the data.
  EXPECT_EQ(decompressError(packed, n - 1), kSDBPPMDecompressionError);
  EXPECT_EQ(decompressError(packed, n + 1), kSDBPPMDecompressionError);
  // A huge size (from a damaged block header) is not allocated up front.
  EXPECT_EQ(decompressError(packed, int64_t{1} << 40), kSDBPPMDecompressionError);
  // An order the variant does not have (header nibble 0 = order 1).
  Bytes order1 = packed;
  order1[0] &= 0xF0;
  EXPECT_EQ(decompressError(order1, n), kSDBPPMDecompressionError);

  // Changed bytes: the error, or (when the change falls where the decoder
  // does not look) the original bytes, never anything else.
  int failures = 0, total = 0;
  for (size_t pos = 4; pos < packed.size(); pos += 11) {
    for (uint8_t mask : {0x01, 0xFF}) {
      Bytes bad = packed;
      bad[pos] ^= mask;
      Bytes out;
      const int error =
          ErrorOf([&] { PPMDecompressBuffer(bad.data(), static_cast<int64_t>(bad.size()), n, out); });
      total++;
      if (error == -1) {
        EXPECT_EQ(out, in) << "at " << pos;
      } else {
        EXPECT_EQ(error, kSDBPPMDecompressionError);
        EXPECT_TRUE(out.empty());
        failures++;
      }
    }
  }
  EXPECT_GT(failures, total * 9 / 10);
}

TEST(PPMTest, ForeignDataFailsCleanlyAtEveryLevel) {
  for (int level = 1; level <= 9; level++) {
    SCOPED_TRACE(level);
    const auto [order, memory] = PPMLevelParameters(static_cast<uint8_t>(level));
    Bytes data = Lcg(3000, static_cast<uint32_t>(level));
    const uint32_t word = static_cast<uint32_t>(order - 1) | (static_cast<uint32_t>(memory - 1) << 4) | (6u << 12);
    data[0] = static_cast<uint8_t>(word);
    data[1] = static_cast<uint8_t>(word >> 8);
    data[2] = data[3] = 0;
    Bytes out;
    EXPECT_EQ(ErrorOf([&] { PPMDecompressBuffer(data.data(), static_cast<int64_t>(data.size()), 100000, out); }),
              kSDBPPMDecompressionError);
  }
}

// ---------------------------------------------------------------------------
// Concurrency: one model for the process, used by one caller at a time.

TEST(PPMTest, ConcurrentCallersShareTheModelSafely) {
  std::vector<std::thread> threads;
  std::vector<int> bad(4, 0);
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([t, &bad] {
      const Bytes in = t % 2 ? Text(8000 + 1000 * static_cast<size_t>(t)) : Binary(8000 + 1000 * static_cast<size_t>(t));
      for (int i = 0; i < 6; i++) {
        const auto level = static_cast<uint8_t>(1 + (t + i) % 4);
        Bytes packed, out;
        PPMCompressBuffer(level, in.data(), static_cast<int64_t>(in.size()), packed);
        PPMDecompressBuffer(packed.data(), static_cast<int64_t>(packed.size()), static_cast<int64_t>(in.size()), out);
        if (out != in) bad[static_cast<size_t>(t)]++;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace sdb
