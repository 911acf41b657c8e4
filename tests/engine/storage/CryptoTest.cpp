// Key hashes, the cmCTS mode, page ciphers and the password control block.
#include <gtest/gtest.h>

#include <crypto++/aes.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/SDBCRC.h"
#include "storage/file/SDBCrypto.h"

namespace sdb {
namespace {

template <size_t N>
std::string Hex(const std::array<uint8_t, N>& bytes) {
  std::string s;
  char buf[3];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", b);
    s += buf;
  }
  return s;
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 131 + seed * 7) ^ (i >> 5));
  return v;
}

TEST(CryptoTest, RipeMDPublishedVectors) {
  EXPECT_EQ(Hex(SDBRipeMD128("", 0)), "cdf26213a150dc3ecb610f18f6b38b46");
  EXPECT_EQ(Hex(SDBRipeMD128("abc", 3)), "c14a12199c66e4ba84636b0f69144c77");
  EXPECT_EQ(Hex(SDBRipeMD256("", 0)), "02ba4c4e5f8ecd1877fc52d64d30e37a2d9774fb1e5d026380ae0168e3c5522d");
  EXPECT_EQ(Hex(SDBRipeMD256("abc", 3)), "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65");
}

// The mode computed by hand with the plain AES block function: key from
// RIPEMD-128 of the password, vector = E(all 0xFF), whole blocks
// C = E(P xor F), F = C xor F, and the tail P xor E(F).
TEST(CryptoTest, Rijndael128MatchesTheModeDefinition) {
  const std::string password = "Tessaly";
  auto key = SDBRipeMD128(password.data(), password.size());
  CryptoPP::AES::Encryption aes(key.data(), 16);
  uint8_t f[16], ones[16];
  std::memset(ones, 0xFF, 16);
  aes.ProcessBlock(ones, f);

  auto plain = Pattern(4056, 1);
  std::vector<uint8_t> expected(plain.size());
  size_t pos = 0;
  for (; pos + 16 <= plain.size(); pos += 16) {
    uint8_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = plain[pos + i] ^ f[i];
    aes.ProcessBlock(x, &expected[pos]);
    for (int i = 0; i < 16; ++i) f[i] ^= expected[pos + i];
  }
  uint8_t b[16];
  aes.ProcessBlock(f, b);
  for (size_t i = 0; pos + i < plain.size(); ++i) expected[pos + i] = plain[pos + i] ^ b[i];

  auto data = plain;
  ASSERT_TRUE(EncodePageBuffer(craRijndael_128, data.data(), data.size(), password));
  EXPECT_EQ(data, expected);
}

TEST(CryptoTest, EveryCipherRoundTripsAndLocalisesTailDamage) {
  const auto plain = Pattern(4056, 9);
  for (int alg = 0; alg < kSDBCryptoAlgorithmCount; ++alg) {
    SCOPED_TRACE(SDBCryptoAlgorithmName(static_cast<TSDBCryptoAlgorithm>(alg)));
    auto a = static_cast<TSDBCryptoAlgorithm>(alg);
    auto data = plain;
    ASSERT_TRUE(EncodePageBuffer(a, data.data(), data.size(), "pass"));
    EXPECT_NE(data, plain);
    auto cipher = data;
    ASSERT_TRUE(DecodePageBuffer(a, data.data(), data.size(), "pass"));
    EXPECT_EQ(data, plain);
    // Another password gives another cipher text.
    auto other = plain;
    EncodePageBuffer(a, other.data(), other.size(), "pasS");
    EXPECT_NE(other, cipher);

    // Flip a byte of the last 8: nothing before the last block changes.
    const size_t block = TSDBCipher::Create(a, "pass")->BlockSize();
    const size_t tail = plain.size() % block;            // partial tail (8 for 16-byte blocks)
    const size_t damaged = tail ? tail : block;          // bytes that may change
    auto flipped = cipher;
    flipped[4056 - 3] ^= 0x40;
    ASSERT_TRUE(DecodePageBuffer(a, flipped.data(), flipped.size(), "pass"));
    EXPECT_EQ(0, std::memcmp(flipped.data(), plain.data(), 4056 - damaged));
    if (tail) {
      // In the tail the key stream does not depend on the cipher text: only that byte changes.
      for (size_t i = 4056 - tail; i < 4056; ++i)
        EXPECT_EQ(flipped[i], i == 4056 - 3 ? (plain[i] ^ 0x40) : plain[i]) << i;
    }
  }
  // The block sizes and keys of the table.
  struct Shape {
    TSDBCryptoAlgorithm alg;
    size_t block, key;
  } shapes[] = {{craRijndael_128, 16, 16}, {craRijndael_256, 16, 32}, {craDES_Single, 8, 8},
                {craDES_Triple, 24, 16},   {craBlowfish, 8, 32},      {craTwofish_128, 16, 16},
                {craTwofish_256, 16, 32},  {craSquare, 16, 16}};
  for (const auto& s : shapes) {
    auto c = TSDBCipher::Create(s.alg, "x");
    EXPECT_EQ(c->BlockSize(), s.block) << int(s.alg);
    EXPECT_EQ(c->KeySize(), s.key) << int(s.alg);
  }
}

TEST(CryptoTest, EveryCallStartsFromTheSameState) {
  // Two calls on the same bytes give the same result (feedback reset to the vector).
  auto a = Pattern(100, 3), b = a;
  EncodePageBuffer(craBlowfish, a.data(), a.size(), "k");
  EncodePageBuffer(craBlowfish, b.data(), b.size(), "k");
  EXPECT_EQ(a, b);
  // Sizes shorter than a block and not a multiple of it round-trip too.
  for (size_t n : {1u, 7u, 15u, 17u, 25u, 256u}) {
    auto p = Pattern(n, 5), q = p;
    ASSERT_TRUE(EncodePageBuffer(craDES_Triple, q.data(), n, "k"));
    ASSERT_TRUE(DecodePageBuffer(craDES_Triple, q.data(), n, "k"));
    EXPECT_EQ(p, q) << n;
  }
  uint8_t x[4] = {};
  EXPECT_FALSE(EncodePageBuffer(static_cast<TSDBCryptoAlgorithm>(8), x, 4, "k"));
  EXPECT_FALSE(DecodePageBuffer(static_cast<TSDBCryptoAlgorithm>(200), x, 4, "k"));
}

// The cipher kept for a database's pages gives, call after call, exactly
// what a freshly keyed cipher gives, and keys again when the algorithm or
// the password changes; deciphering in place undoes enciphering.
TEST(CryptoTest, KeptPageCipherActsAsAFreshOneEveryCall) {
  struct {
    TSDBCryptoAlgorithm alg;
    const char* password;
  } calls[] = {{craRijndael_128, "one"}, {craRijndael_128, "one"}, {craRijndael_128, "two"},
               {craDES_Triple, "two"},   {craBlowfish, "two"},      {craRijndael_128, "one"},
               {craSquare, ""},          {craSquare, ""},           {craTwofish_256, "three"}};
  TSDBPageCipher kept;
  for (const auto& c : calls) {
    SCOPED_TRACE(std::string(SDBCryptoAlgorithmName(c.alg)) + "/" + c.password);
    for (size_t n : {4056u, 4057u, 100u}) {
      const auto plain = Pattern(n, static_cast<uint8_t>(c.alg));
      auto fresh = plain, reused = plain;
      ASSERT_TRUE(EncodePageBuffer(c.alg, fresh.data(), n, c.password));
      ASSERT_TRUE(kept.Encode(c.alg, reused.data(), n, c.password));
      EXPECT_EQ(reused, fresh) << n;
      ASSERT_TRUE(kept.Decode(c.alg, reused.data(), n, c.password));
      EXPECT_EQ(reused, plain) << n;
    }
  }
  // A key that cannot be made is refused, and the next good call keys again.
  uint8_t x[16] = {};
  EXPECT_FALSE(kept.Decode(static_cast<TSDBCryptoAlgorithm>(200), x, sizeof x, "k"));
  auto a = Pattern(64, 1), b = a;
  ASSERT_TRUE(kept.Encode(craRijndael_256, a.data(), a.size(), "k"));
  ASSERT_TRUE(EncodePageBuffer(craRijndael_256, b.data(), b.size(), "k"));
  EXPECT_EQ(a, b);
}

// The fastest engine (AES on the processor's instructions where it has
// them) gives exactly the library's bytes: every algorithm and AES key
// length, the data lengths of pages of any size and of the control block,
// in place and into another buffer, and calls that continue a run.
TEST(CryptoTest, FastestEngineGivesTheLibrarysBytes) {
  using TEngine = TSDBCipher::TEngine;
  struct Keying {
    TSDBCryptoAlgorithm alg;
    size_t keySize;  // 0: from the password
  } keyings[] = {{craRijndael_128, 0}, {craRijndael_256, 0}, {craRijndael_128, 16}, {craRijndael_128, 24},
                 {craRijndael_128, 32}, {craDES_Single, 0},   {craDES_Triple, 0},    {craBlowfish, 0},
                 {craTwofish_128, 0},  {craTwofish_256, 0},  {craSquare, 0}};
  std::vector<size_t> lengths;
  for (size_t n = 1; n <= 72; ++n) lengths.push_back(n);
  for (size_t n : {127u, 128u, 129u, 255u, 472u, 984u, 4056u, 4057u, 8152u, 65495u}) lengths.push_back(n);
  auto make = [](const Keying& k, TEngine e) {
    if (k.keySize == 0) return TSDBCipher::Create(k.alg, "Clé du fichier", e);
    const auto key = Pattern(k.keySize, 77);
    return TSDBCipher::CreateWithKey(k.alg, key.data(), key.size(), e);
  };
  bool sawHardware = false;
  for (const auto& k : keyings) {
    SCOPED_TRACE(std::string(SDBCryptoAlgorithmName(k.alg)) + " key " + std::to_string(k.keySize));
    auto fast = make(k, TEngine::kFastest), lib = make(k, TEngine::kLibrary);
    ASSERT_TRUE(fast && lib);
    EXPECT_FALSE(lib->InHardware());
    sawHardware |= fast->InHardware();
    EXPECT_EQ(fast->Vector(), lib->Vector());
    for (size_t n : lengths) {
      SCOPED_TRACE(n);
      const auto plain = Pattern(n, static_cast<uint8_t>(n));
      auto expected = plain;
      lib->Reset();
      lib->Encode(expected.data(), n);

      auto inPlace = plain;
      fast->Reset();
      fast->Encode(inPlace.data(), n);
      ASSERT_EQ(inPlace, expected);

      // Into another buffer: exactly n bytes written, the input untouched.
      std::vector<uint8_t> out(n + 32, 0xA5);
      fast->Reset();
      fast->Encode(plain.data(), out.data() + 16, n);
      ASSERT_EQ(std::vector<uint8_t>(out.begin() + 16, out.begin() + 16 + static_cast<std::ptrdiff_t>(n)), expected);
      for (size_t i = 0; i < 16; ++i) ASSERT_TRUE(out[i] == 0xA5 && out[n + 16 + i] == 0xA5);

      auto back = expected;
      fast->Reset();
      fast->Decode(back.data(), n);
      ASSERT_EQ(back, plain);
      back = inPlace;
      lib->Reset();
      lib->Decode(back.data(), n);
      ASSERT_EQ(back, plain);
    }
    // A run in two calls continues from the feedback the first one left.
    const size_t block = fast->BlockSize();
    const auto plain = Pattern(40 * block + 5, 3);
    auto whole = plain, split = plain;
    lib->Reset();
    lib->Encode(whole.data(), whole.size());
    fast->Reset();
    fast->Encode(split.data(), 17 * block);
    fast->Encode(split.data() + 17 * block, split.data() + 17 * block, split.size() - 17 * block);
    EXPECT_EQ(split, whole);
    fast->Reset();
    fast->Decode(split.data(), 9 * block);
    fast->Decode(split.data() + 9 * block, split.size() - 9 * block);
    EXPECT_EQ(split, plain);
  }
  std::printf("[          ] AES on the processor's instructions: %s\n", sawHardware ? "yes" : "no");
}

// A page enciphered under one password does not decipher under another:
// the page's CRC refuses it (the control block's check is above).
TEST(CryptoTest, PageUnderAnotherPasswordFailsItsCRC) {
  for (int alg = 0; alg < kSDBCryptoAlgorithmCount; ++alg) {
    const auto a = static_cast<TSDBCryptoAlgorithm>(alg);
    SCOPED_TRACE(SDBCryptoAlgorithmName(a));
    const auto plain = Pattern(4056, 4);
    auto data = plain;
    TSDBPageCipher kept;
    ASSERT_TRUE(kept.Encode(a, data.data(), data.size(), "right"));
    ASSERT_TRUE(kept.Decode(a, data.data(), data.size(), "wrong"));
    EXPECT_NE(CRC(0, data.data(), data.size()), CRC(0, plain.data(), plain.size()));
    ASSERT_TRUE(kept.Encode(a, data.data(), data.size(), "wrong"));  // back to the cipher text
    ASSERT_TRUE(kept.Decode(a, data.data(), data.size(), "right"));
    EXPECT_EQ(data, plain);
  }
}

TEST(CryptoTest, ControlBlockVerifiesThePassword) {
  for (int alg = 0; alg < kSDBCryptoAlgorithmCount; ++alg) {
    TSDBCryptoHeader header;
    ASSERT_TRUE(SDBBuildControlBlock(header, {"Mot de passe", static_cast<TSDBCryptoAlgorithm>(alg)}));
    EXPECT_EQ(header.CryptoAlgorithm, alg);
    EXPECT_TRUE(SDBCheckControlBlock(header, "Mot de passe"));
    EXPECT_FALSE(SDBCheckControlBlock(header, "Mot de passE"));
    EXPECT_FALSE(SDBCheckControlBlock(header, ""));
    // The stored check value is the CRC of the plaintext bytes, each in 0 .. 254.
    auto block = header.ControlBlock;
    DecodePageBuffer(static_cast<TSDBCryptoAlgorithm>(alg), block.data(), block.size(), "Mot de passe");
    EXPECT_EQ(CRC(0, block.data(), block.size()), header.ControlBlockCRC);
    for (uint8_t b : block) ASSERT_NE(b, 255);
  }
}

}  // namespace
}  // namespace sdb
