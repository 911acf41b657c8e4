#include "storage/file/SDBCrypto.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>

#include <crypto++/aes.h>
#include <crypto++/blowfish.h>
#include <crypto++/des.h>
#include <crypto++/ripemd.h>
#include <crypto++/square.h>
#include <crypto++/twofish.h>

#include "common/SDBCRC.h"
#include "sdb/SDBText.h"

namespace sdb {

std::array<uint8_t, 16> SDBRipeMD128(const void* Data, size_t Size) {
  std::array<uint8_t, 16> out{};
  CryptoPP::RIPEMD128().CalculateDigest(out.data(), static_cast<const CryptoPP::byte*>(Data), Size);
  return out;
}

std::array<uint8_t, 32> SDBRipeMD256(const void* Data, size_t Size) {
  std::array<uint8_t, 32> out{};
  CryptoPP::RIPEMD256().CalculateDigest(out.data(), static_cast<const CryptoPP::byte*>(Data), Size);
  return out;
}

namespace {

// 64-bit word access to unaligned bytes.
inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }
// d[i] ^= s[i] for n bytes, n a multiple of 8.
inline void XorWords(uint8_t* d, const uint8_t* s, size_t n) {
  for (size_t i = 0; i < n; i += 8) Store64(d + i, Load64(d + i) ^ Load64(s + i));
}

// A standard block cipher from the library. The deciphering key schedule
// is made only when something is deciphered.
template <class Cipher>
class TStandardCipher final : public TSDBCipher {
 public:
  TStandardCipher(const uint8_t* Key, size_t KeySize) : TSDBCipher(Cipher::BLOCKSIZE, KeySize), FEnc(Key, KeySize) {
    std::memcpy(FKey, Key, KeySize);
  }
  ~TStandardCipher() override { std::memset(FKey, 0, sizeof FKey); }

 protected:
  void EncryptBlock(const uint8_t* In, uint8_t* Out) override { FEnc.ProcessBlock(In, Out); }
  void DecryptBlocksXor(const uint8_t* In, const uint8_t* Xor, uint8_t* Out, size_t Count) override {
    if (!FDec) FDec.emplace(FKey, KeySize());
    // Deciphering has no chaining through the cipher, so all blocks go in
    // one call and the library may process several in parallel.
    FDec->AdvancedProcessBlocks(In, Xor, Out, Count * Cipher::BLOCKSIZE,
                                CryptoPP::BlockTransformation::BT_AllowParallel);
  }

 private:
  typename Cipher::Encryption FEnc;
  std::optional<typename Cipher::Decryption> FDec;
  uint8_t FKey[64] = {};
};

// Triple DES over a 24-byte block. The key is the 16-byte password digest
// (the digest is shorter than the 24 bytes this cipher could take), read as
// two DES keys K1 = bytes 0..7 and K2 = bytes 8..15. Each 8-byte lane goes
// through two-key triple DES, E(x) = DES_K1(DES^-1_K2(DES_K1(x))), and the
// three lanes are chained to one another so that the 24 bytes behave as one
// block:
//   C0 = E(P0),  C1 = E(P1 xor C0),  C2 = E(P2 xor C1);
//   P0 = D(C0),  P1 = D(C1) xor C0,  P2 = D(C2) xor C1.
// Every DES step is the standard algorithm on big-endian 64-bit blocks, so
// with K1 = K2 a lane reduces to single DES; the known-answer tests pin
// both the lane order and the key halves.
class TCipher3TDES final : public TSDBCipher {
 public:
  TCipher3TDES(const uint8_t* Key, size_t KeySize) : TSDBCipher(24, KeySize), FEnc(Key, KeySize), FDec(Key, KeySize) {}

 protected:
  void EncryptBlock(const uint8_t* In, uint8_t* Out) override {
    uint8_t lane[8];
    FEnc.ProcessBlock(In, Out);
    for (int l = 1; l < 3; ++l) {
      for (int i = 0; i < 8; ++i) lane[i] = In[l * 8 + i] ^ Out[(l - 1) * 8 + i];
      FEnc.ProcessBlock(lane, Out + l * 8);
    }
  }
  void DecryptBlocksXor(const uint8_t* In, const uint8_t* Xor, uint8_t* Out, size_t Count) override {
    for (size_t b = 0; b < Count; ++b) {
      // A copy of the cipher block: Out may be In (deciphering in place).
      uint8_t c[24];
      std::memcpy(c, In + b * 24, 24);
      uint8_t* p = Out + b * 24;
      const uint8_t* x = Xor + b * 24;
      FDec.ProcessBlock(c, p);
      for (int l = 1; l < 3; ++l) {
        FDec.ProcessBlock(c + l * 8, p + l * 8);
        for (int i = 0; i < 8; ++i) p[l * 8 + i] ^= c[(l - 1) * 8 + i];
      }
      for (int i = 0; i < 24; ++i) p[i] ^= x[i];
    }
  }

 private:
  CryptoPP::DES_EDE2::Encryption FEnc;
  CryptoPP::DES_EDE2::Decryption FDec;
};

}  // namespace

std::unique_ptr<TSDBCipher> TSDBCipher::Create(TSDBCryptoAlgorithm Algorithm, const std::string& Password) {
  // Key hash and the cipher's largest key, per algorithm.
  bool ripemd256 = false;
  size_t largestKey = 0;
  switch (Algorithm) {
    case craRijndael_128: largestKey = 32; break;
    case craRijndael_256: ripemd256 = true; largestKey = 32; break;
    case craDES_Single: largestKey = 8; break;
    case craDES_Triple: largestKey = 24; break;
    case craBlowfish: ripemd256 = true; largestKey = 56; break;
    case craTwofish_128: largestKey = 32; break;
    case craTwofish_256: ripemd256 = true; largestKey = 32; break;
    case craSquare: largestKey = 16; break;
    default: return nullptr;
  }
  // The key is made from the password's Windows-1252 bytes, whatever the
  // program that shares the file runs on.
  std::string bytes;
  if (!SDBUtf8ToAnsi(Password, bytes)) return nullptr;
  uint8_t digest[32];
  size_t digestSize;
  if (ripemd256) {
    auto d = SDBRipeMD256(bytes.data(), bytes.size());
    std::memcpy(digest, d.data(), d.size());
    digestSize = d.size();
  } else {
    auto d = SDBRipeMD128(bytes.data(), bytes.size());
    std::memcpy(digest, d.data(), d.size());
    digestSize = d.size();
  }
  const size_t keySize = std::min(digestSize, largestKey);
  auto cipher = CreateWithKey(Algorithm, digest, keySize);
  std::memset(digest, 0, sizeof digest);
  std::fill(bytes.begin(), bytes.end(), '\0');
  return cipher;
}

std::unique_ptr<TSDBCipher> TSDBCipher::CreateWithKey(TSDBCryptoAlgorithm Algorithm, const uint8_t* Key,
                                                      size_t KeySize) {
  std::unique_ptr<TSDBCipher> cipher;
  try {
    switch (Algorithm) {
      case craRijndael_128:
      case craRijndael_256:
        cipher = std::make_unique<TStandardCipher<CryptoPP::AES>>(Key, KeySize);
        break;
      case craDES_Single:
        cipher = std::make_unique<TStandardCipher<CryptoPP::DES>>(Key, KeySize);
        break;
      case craDES_Triple:
        cipher = std::make_unique<TCipher3TDES>(Key, KeySize);
        break;
      case craBlowfish:
        cipher = std::make_unique<TStandardCipher<CryptoPP::Blowfish>>(Key, KeySize);
        break;
      case craTwofish_128:
      case craTwofish_256:
        cipher = std::make_unique<TStandardCipher<CryptoPP::Twofish>>(Key, KeySize);
        break;
      case craSquare:
        cipher = std::make_unique<TStandardCipher<CryptoPP::Square>>(Key, KeySize);
        break;
      default:
        return nullptr;
    }
  } catch (const CryptoPP::InvalidKeyLength&) {
    return nullptr;
  }
  cipher->InitVector();
  return cipher;
}

void TSDBCipher::InitVector() {
  uint8_t ones[kMaxBlockSize];
  std::memset(ones, 0xFF, sizeof ones);
  EncryptBlock(ones, FVector);
  Reset();
}

void TSDBCipher::Reset() { std::memcpy(FFeedback, FVector, FBlockSize); }

// The partial last block, both ways: B = E(F); out = in xor B; F = B xor F.
void TSDBCipher::XorTail(uint8_t* Data, size_t Count) {
  uint8_t b[kMaxBlockSize];
  EncryptBlock(FFeedback, b);
  for (size_t i = 0; i < Count; ++i) Data[i] ^= b[i];
  XorWords(FFeedback, b, FBlockSize);
}

void TSDBCipher::Encode(uint8_t* Buffer, size_t Size) {
  switch (FBlockSize) {
    case 8: EncodeBlocks<8>(Buffer, Size); break;
    case 16: EncodeBlocks<16>(Buffer, Size); break;
    default: EncodeBlocks<24>(Buffer, Size); break;
  }
}

void TSDBCipher::Decode(uint8_t* Buffer, size_t Size) {
  switch (FBlockSize) {
    case 8: DecodeBlocks<8>(Buffer, Size); break;
    case 16: DecodeBlocks<16>(Buffer, Size); break;
    default: DecodeBlocks<24>(Buffer, Size); break;
  }
}

// The block size is a template argument so that the copies and xors of a
// block compile to a few word moves.
template <size_t N>
void TSDBCipher::EncodeBlocks(uint8_t* Buffer, size_t Size) {
  uint8_t* f = FFeedback;
  uint8_t tmp[N];
  size_t pos = 0;
  for (; pos + N <= Size; pos += N) {
    uint8_t* p = Buffer + pos;
    for (size_t i = 0; i < N; i += 8) Store64(tmp + i, Load64(p + i) ^ Load64(f + i));
    EncryptBlock(tmp, p);
    for (size_t i = 0; i < N; i += 8) Store64(f + i, Load64(f + i) ^ Load64(p + i));
  }
  if (pos < Size) XorTail(Buffer + pos, Size - pos);
}

template <size_t N>
void TSDBCipher::DecodeBlocks(uint8_t* Buffer, size_t Size) {
  uint8_t* f = FFeedback;
  const size_t blocks = Size / N;
  if (blocks > 0) {
    // The feedback before block i is the vector xor every earlier cipher
    // block, known without deciphering anything: the blocks can then be
    // deciphered all at once.
    const size_t whole = blocks * N;
    alignas(16) uint8_t stackBuf[8192];
    std::vector<uint8_t> heapBuf;
    uint8_t* feedbacks = stackBuf;
    if (whole > sizeof stackBuf) {
      heapBuf.resize(whole);
      feedbacks = heapBuf.data();
    }
    uint64_t w[N / 8];
    for (size_t i = 0; i < N / 8; ++i) w[i] = Load64(f + i * 8);
    for (size_t b = 0; b < blocks; ++b) {
      const uint8_t* c = Buffer + b * N;
      uint8_t* fb = feedbacks + b * N;
      for (size_t i = 0; i < N / 8; ++i) {
        Store64(fb + i * 8, w[i]);
        w[i] ^= Load64(c + i * 8);
      }
    }
    for (size_t i = 0; i < N / 8; ++i) Store64(f + i * 8, w[i]);
    // In place: each block is read before its plain text is stored, and
    // the feedbacks were taken from the cipher text above.
    DecryptBlocksXor(Buffer, feedbacks, Buffer, blocks);
  }
  const size_t pos = blocks * N;
  if (pos < Size) XorTail(Buffer + pos, Size - pos);
}

bool EncodePageBuffer(TSDBCryptoAlgorithm Algorithm, uint8_t* Buffer, size_t Size, const std::string& Password) {
  try {
    auto cipher = TSDBCipher::Create(Algorithm, Password);
    if (!cipher) return false;
    cipher->Encode(Buffer, Size);
    return true;
  } catch (...) {
    return false;
  }
}

bool DecodePageBuffer(TSDBCryptoAlgorithm Algorithm, uint8_t* Buffer, size_t Size, const std::string& Password) {
  try {
    auto cipher = TSDBCipher::Create(Algorithm, Password);
    if (!cipher) return false;
    cipher->Decode(Buffer, Size);
    return true;
  } catch (...) {
    return false;
  }
}

TSDBCipher* TSDBPageCipher::Keyed(TSDBCryptoAlgorithm Algorithm, const std::string& Password) {
  if (FCipher && FAlgorithm == Algorithm && FPassword == Password) {
    FCipher->Reset();
    return FCipher.get();
  }
  Forget();
  FCipher = TSDBCipher::Create(Algorithm, Password);
  if (!FCipher) return nullptr;
  FAlgorithm = Algorithm;
  FPassword = Password;
  return FCipher.get();
}

void TSDBPageCipher::Forget() noexcept {
  FCipher.reset();
  std::fill(FPassword.begin(), FPassword.end(), '\0');
  FPassword.clear();
}

bool TSDBPageCipher::Run(TSDBCryptoAlgorithm Algorithm, const std::string& Password, uint8_t* Buffer, size_t Size,
                         void (TSDBCipher::*Step)(uint8_t*, size_t)) {
  try {
    TSDBCipher* cipher = Keyed(Algorithm, Password);
    if (!cipher) return false;
    (cipher->*Step)(Buffer, Size);
    return true;
  } catch (...) {
    Forget();
    return false;
  }
}

bool TSDBPageCipher::Encode(TSDBCryptoAlgorithm Algorithm, uint8_t* Buffer, size_t Size, const std::string& Password) {
  return Run(Algorithm, Password, Buffer, Size, &TSDBCipher::Encode);
}

bool TSDBPageCipher::Decode(TSDBCryptoAlgorithm Algorithm, uint8_t* Buffer, size_t Size, const std::string& Password) {
  return Run(Algorithm, Password, Buffer, Size, &TSDBCipher::Decode);
}

bool SDBBuildControlBlock(TSDBCryptoHeader& Header, const TSDBPassword& Password) {
  SDBPasswordBytes(Password.Password);  // a password the key cannot be made from is refused by name
  std::random_device device;
  std::mt19937 gen(device());
  std::uniform_int_distribution<int> byte(0, 254);
  for (auto& b : Header.ControlBlock) b = static_cast<uint8_t>(byte(gen));
  Header.CryptoAlgorithm = Password.CryptoAlgorithm;
  Header.CryptoMode = 0;
  Header.ControlBlockCRC = CRC(0, Header.ControlBlock.data(), Header.ControlBlock.size());
  return EncodePageBuffer(Password.CryptoAlgorithm, Header.ControlBlock.data(), Header.ControlBlock.size(),
                          Password.Password);
}

bool SDBCheckControlBlock(const TSDBCryptoHeader& Header, const std::string& Password) {
  SDBPasswordBytes(Password);
  auto block = Header.ControlBlock;
  if (!DecodePageBuffer(static_cast<TSDBCryptoAlgorithm>(Header.CryptoAlgorithm), block.data(), block.size(),
                        Password))
    return false;
  return CRC(0, block.data(), block.size()) == Header.ControlBlockCRC;
}

const char* SDBCryptoAlgorithmName(TSDBCryptoAlgorithm Algorithm) {
  static const char* const kNames[] = {"Rijndael_128", "Rijndael_256", "DES_Single", "DES_Triple",
                                       "Blowfish",     "Twofish_128",  "Twofish_256", "Square"};
  return Algorithm < kSDBCryptoAlgorithmCount ? kNames[Algorithm] : "";
}

}  // namespace sdb
