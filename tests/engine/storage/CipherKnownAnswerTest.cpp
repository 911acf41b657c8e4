// Known answers for the eight page ciphers: published test vectors of each
// block algorithm (key, plaintext, ciphertext), run through the page
// cipher's own object so that the key schedule and the byte order it uses
// are the standard ones.
//
// A fresh cipher enciphers its first whole block as C = E(P xor V), V being
// its vector; feeding it the vector's xor with a published plaintext thus
// yields the published ciphertext.
#include <gtest/gtest.h>

#include <crypto++/des.h>

#include <string>
#include <vector>

#include "storage/file/SDBCrypto.h"

namespace sdb {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

Bytes Xor(const Bytes& a, const Bytes& b) {
  Bytes out(a.size());
  for (size_t i = 0; i < a.size(); ++i) out[i] = a[i] ^ b[i];
  return out;
}

// The block algorithm alone: the first block enciphered by a freshly keyed
// cipher, with the feedback cancelled out.
Bytes EncipherBlock(TSDBCryptoAlgorithm Algorithm, const Bytes& Key, const Bytes& Plain) {
  auto cipher = TSDBCipher::CreateWithKey(Algorithm, Key.data(), Key.size());
  if (!cipher) return {};
  EXPECT_EQ(cipher->BlockSize(), Plain.size());
  Bytes data = Xor(Plain, cipher->Vector());
  cipher->Encode(data.data(), data.size());
  return data;
}

Bytes DecipherBlock(TSDBCryptoAlgorithm Algorithm, const Bytes& Key, const Bytes& Cipher) {
  auto cipher = TSDBCipher::CreateWithKey(Algorithm, Key.data(), Key.size());
  if (!cipher) return {};
  Bytes data = Cipher;
  cipher->Decode(data.data(), data.size());
  return Xor(data, cipher->Vector());
}

struct TVector {
  TSDBCryptoAlgorithm Algorithm;
  const char* Source;
  const char* Key;
  const char* Plain;
  const char* Cipher;
};

// Key lengths are those the page cipher uses (16 bytes for the RIPEMD-128
// algorithms, 32 for the RIPEMD-256 ones, 8 for DES), plus the published
// lengths where the algorithm's own vectors use another one.
const TVector kVectors[] = {
    {craRijndael_128, "FIPS-197 C.1", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {craRijndael_128, "FIPS-197 C.2, 24-byte key", "000102030405060708090a0b0c0d0e0f1011121314151617",
     "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {craRijndael_256, "FIPS-197 C.3", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
    {craDES_Single, "DES worked example", "133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
    {craDES_Single, "DES, 'Now is t'", "0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},
    {craBlowfish, "Blowfish ECB, zero key", "0000000000000000", "0000000000000000", "4ef997456198dd78"},
    {craBlowfish, "Blowfish ECB, all ones", "ffffffffffffffff", "ffffffffffffffff", "51866fd5b85ecb8a"},
    {craBlowfish, "Blowfish ECB", "3000000000000000", "1000000000000001", "7d856f9a613063f2"},
    {craBlowfish, "Blowfish set_key, 24 bytes", "f0e1d2c3b4a5968778695a4b3c2d1e0f0011223344556677",
     "fedcba9876543210", "05044b62fa52d080"},
    {craTwofish_128, "Twofish ECB_TBL 128 I=1", "00000000000000000000000000000000",
     "00000000000000000000000000000000", "9f589f5cf6122c32b6bfec2f2ae8c35a"},
    {craTwofish_128, "Twofish ECB_TBL 128 I=2", "00000000000000000000000000000000",
     "9f589f5cf6122c32b6bfec2f2ae8c35a", "d491db16e7b1c39e86cb086b789f5419"},
    {craTwofish_256, "Twofish ECB_TBL 256 I=1", "0000000000000000000000000000000000000000000000000000000000000000",
     "00000000000000000000000000000000", "57ff739d4dc92c1bd7fc01700cc8216f"},
    {craSquare, "Square reference", "000102030405060708090a0b0c0d0e0f", "000102030405060708090a0b0c0d0e0f",
     "7c3491d94994e70f0ec2e7a5ccb5a14f"},
};

TEST(CipherKnownAnswerTest, EachBlockAlgorithmGivesThePublishedCiphertext) {
  for (const auto& v : kVectors) {
    SCOPED_TRACE(std::string(SDBCryptoAlgorithmName(v.Algorithm)) + ": " + v.Source);
    EXPECT_EQ(EncipherBlock(v.Algorithm, FromHex(v.Key), FromHex(v.Plain)), FromHex(v.Cipher));
    EXPECT_EQ(DecipherBlock(v.Algorithm, FromHex(v.Key), FromHex(v.Cipher)), FromHex(v.Plain));
  }
}

// The 24-byte triple-DES block is three chained two-key EDE lanes. With
// both key halves equal each lane is single DES, so the published DES
// vectors give the answer lane by lane: lane l gets the published
// plaintext xor the previous lane's ciphertext.
TEST(CipherKnownAnswerTest, TripleDesBlockIsThreeChainedLanesOfPublishedDes) {
  const Bytes k = FromHex("0123456789abcdef");
  Bytes key = k;
  key.insert(key.end(), k.begin(), k.end());
  // Three published (plaintext, ciphertext) pairs under key 0123456789abcdef.
  const Bytes p[3] = {FromHex("4e6f772069732074"), FromHex("68652074696d6520"), FromHex("666f7220616c6c20")};
  const Bytes c[3] = {FromHex("3fa40e8a984d4815"), FromHex("6a271787ab8883f9"), FromHex("893d51ec4b563b53")};
  Bytes plain, expected;
  for (int l = 0; l < 3; ++l) {
    Bytes lane = l == 0 ? p[0] : Xor(p[l], c[l - 1]);
    plain.insert(plain.end(), lane.begin(), lane.end());
    expected.insert(expected.end(), c[l].begin(), c[l].end());
  }
  EXPECT_EQ(EncipherBlock(craDES_Triple, key, plain), expected);
  EXPECT_EQ(DecipherBlock(craDES_Triple, key, expected), plain);
}

// Distinct key halves: K1 enciphers first and last, K2 deciphers in the
// middle, in every lane.
TEST(CipherKnownAnswerTest, TripleDesLanesUseTheFirstKeyHalfOutside) {
  const Bytes k1 = FromHex("133457799bbcdff1");
  const Bytes k2 = FromHex("0123456789abcdef");
  Bytes key = k1;
  key.insert(key.end(), k2.begin(), k2.end());
  CryptoPP::DES::Encryption e1(k1.data(), 8);
  CryptoPP::DES::Decryption d2(k2.data(), 8);
  auto ede = [&](const Bytes& x) {
    Bytes a(8), b(8), out(8);
    e1.ProcessBlock(x.data(), a.data());
    d2.ProcessBlock(a.data(), b.data());
    e1.ProcessBlock(b.data(), out.data());
    return out;
  };
  const Bytes plain = FromHex("0123456789abcdef1122334455667788a1b2c3d4e5f60718");
  Bytes expected;
  Bytes prev;
  for (int l = 0; l < 3; ++l) {
    Bytes lane(plain.begin() + l * 8, plain.begin() + l * 8 + 8);
    Bytes out = ede(l == 0 ? lane : Xor(lane, prev));
    expected.insert(expected.end(), out.begin(), out.end());
    prev = out;
  }
  // Single DES of the first lane under K1 alone must differ: the halves are
  // really both used.
  Bytes single(8);
  e1.ProcessBlock(plain.data(), single.data());
  ASSERT_NE(Bytes(expected.begin(), expected.begin() + 8), single);
  EXPECT_EQ(EncipherBlock(craDES_Triple, key, plain), expected);
  EXPECT_EQ(DecipherBlock(craDES_Triple, key, expected), plain);
}

TEST(CipherKnownAnswerTest, KeysTheAlgorithmCannotTakeAreRefused) {
  const Bytes key(7, 0x11);
  EXPECT_EQ(TSDBCipher::CreateWithKey(craRijndael_128, key.data(), key.size()), nullptr);
  EXPECT_EQ(TSDBCipher::CreateWithKey(craDES_Triple, key.data(), key.size()), nullptr);
  EXPECT_EQ(TSDBCipher::CreateWithKey(static_cast<TSDBCryptoAlgorithm>(kSDBCryptoAlgorithmCount), key.data(),
                                      key.size()),
            nullptr);
}

}  // namespace
}  // namespace sdb
