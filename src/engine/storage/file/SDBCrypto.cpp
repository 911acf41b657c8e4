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

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define SDB_AES_NI 1
#endif

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

#ifdef SDB_AES_NI

// AES on the processor's AES instructions. The library's block function
// costs about as much in calls and checks per block as in rounds, and the
// mode enciphers one block at a time (each block's input depends on the
// previous output); here the whole run of blocks is one loop over the
// expanded keys.
#define SDB_AES_TARGET __attribute__((target("aes")))

bool HasAesInstructions() {
  static const bool has = __builtin_cpu_supports("aes");
  return has;
}

// Clears key material; volatile stores, since the compiler may drop a
// clearing it sees no later use of.
void Wipe(void* Data, size_t Size) {
  volatile uint8_t* p = static_cast<volatile uint8_t*>(Data);
  for (size_t i = 0; i < Size; ++i) p[i] = 0;
}

SDB_AES_TARGET inline __m128i LoadBlock(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
SDB_AES_TARGET inline void StoreBlock(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// The S-box applied to the four bytes of a word (the key schedule's
// SubWord): the key-assist instruction substitutes its second word.
SDB_AES_TARGET inline uint32_t SubWord(uint32_t w) {
  return static_cast<uint32_t>(
      _mm_cvtsi128_si32(_mm_aeskeygenassist_si128(_mm_set_epi32(0, 0, static_cast<int>(w), 0), 0)));
}

// Round keys of Rounds + 1 blocks: the standard key expansion (words read
// little-endian, so that a word's first byte is its low byte and the
// rotation of its bytes is a right rotation by 8), and the deciphering
// keys of the equivalent inverse cipher.
template <int Rounds>
SDB_AES_TARGET void ExpandAesKey(const uint8_t* Key, __m128i* Enc, __m128i* Dec) {
  constexpr int nk = Rounds - 6;  // key words: 4, 6 or 8
  constexpr int words = 4 * (Rounds + 1);
  uint32_t w[words];
  std::memcpy(w, Key, 4 * nk);
  uint32_t rcon = 1;
  for (int i = nk; i < words; ++i) {
    uint32_t t = w[i - 1];
    if (i % nk == 0) {
      t = SubWord((t >> 8) | (t << 24)) ^ rcon;
      rcon = (rcon << 1) ^ ((rcon & 0x80) ? 0x11B : 0);
    } else if (nk > 6 && i % nk == 4) {
      t = SubWord(t);
    }
    w[i] = w[i - nk] ^ t;
  }
  for (int r = 0; r <= Rounds; ++r) Enc[r] = LoadBlock(reinterpret_cast<const uint8_t*>(w + 4 * r));
  Dec[0] = Enc[Rounds];
  for (int r = 1; r < Rounds; ++r) Dec[r] = _mm_aesimc_si128(Enc[Rounds - r]);
  Dec[Rounds] = Enc[0];
  Wipe(w, sizeof w);
}

template <int Rounds>
SDB_AES_TARGET inline __m128i EncryptAes(const __m128i* k, __m128i x) {
  x = _mm_xor_si128(x, k[0]);
#pragma GCC unroll 16
  for (int r = 1; r < Rounds; ++r) x = _mm_aesenc_si128(x, k[r]);
  return _mm_aesenclast_si128(x, k[Rounds]);
}

// The chained enciphering: C = E(P xor F), F := F xor C. Only the rounds
// are on the path from one block to the next: the last round of block i
// takes its key xor F xor (P[i+1] xor K0), which makes its output the next
// block's state after the first round key (C[i] xor F xor P[i+1] xor K0,
// that is F' xor P[i+1] xor K0), and C[i] and F' are taken from it aside.
template <int Rounds>
SDB_AES_TARGET void EncipherAesChain(const __m128i* k, const uint8_t* In, uint8_t* Out, size_t Count,
                                     uint8_t* Feedback) {
  __m128i f = LoadBlock(Feedback);
  __m128i q = _mm_xor_si128(LoadBlock(In), k[0]);  // P xor K0
  __m128i x = _mm_xor_si128(q, f);
  for (size_t b = 0;; ++b) {
  #pragma GCC unroll 16
  for (int r = 1; r < Rounds; ++r) x = _mm_aesenc_si128(x, k[r]);
    if (b + 1 == Count) {
      const __m128i c = _mm_aesenclast_si128(x, k[Rounds]);
      StoreBlock(Out + 16 * b, c);
      f = _mm_xor_si128(f, c);
      break;
    }
    // Read before block b is stored: in place, Out + 16 * b is In + 16 * b.
    const __m128i qNext = _mm_xor_si128(LoadBlock(In + 16 * (b + 1)), k[0]);
    const __m128i xNext = _mm_aesenclast_si128(x, _mm_xor_si128(k[Rounds], _mm_xor_si128(f, qNext)));
    const __m128i fNext = _mm_xor_si128(xNext, qNext);
    StoreBlock(Out + 16 * b, _mm_xor_si128(fNext, f));
    f = fNext;
    x = xNext;
  }
  StoreBlock(Feedback, f);
}

// Deciphering has no chain through the rounds: P[i] = D(C[i]) xor F[i],
// with F[i] the feedback xor every earlier cipher block. Eight blocks go
// through the rounds side by side; F[i] rides in the last round's key.
template <int Rounds, int Lanes>
SDB_AES_TARGET inline void DecipherAesLanes(const __m128i* k, uint8_t* Buffer, __m128i& f) {
  __m128i x[Lanes];
#pragma GCC unroll 8
  for (int l = 0; l < Lanes; ++l) x[l] = _mm_xor_si128(LoadBlock(Buffer + 16 * l), k[0]);
#pragma GCC unroll 16
  for (int r = 1; r < Rounds; ++r)
#pragma GCC unroll 8
    for (int l = 0; l < Lanes; ++l) x[l] = _mm_aesdec_si128(x[l], k[r]);
  // The cipher blocks are read again rather than kept: the registers hold
  // the lanes' states.
#pragma GCC unroll 8
  for (int l = 0; l < Lanes; ++l) {
    x[l] = _mm_aesdeclast_si128(x[l], _mm_xor_si128(k[Rounds], f));
    f = _mm_xor_si128(f, LoadBlock(Buffer + 16 * l));
  }
#pragma GCC unroll 8
  for (int l = 0; l < Lanes; ++l) StoreBlock(Buffer + 16 * l, x[l]);
}

template <int Rounds>
SDB_AES_TARGET void DecipherAesChain(const __m128i* k, uint8_t* Buffer, size_t Count, uint8_t* Feedback) {
  __m128i f = LoadBlock(Feedback);
  size_t b = 0;
  for (; b + 8 <= Count; b += 8) DecipherAesLanes<Rounds, 8>(k, Buffer + 16 * b, f);
  if (b + 4 <= Count) {
    DecipherAesLanes<Rounds, 4>(k, Buffer + 16 * b, f);
    b += 4;
  }
  for (; b < Count; ++b) DecipherAesLanes<Rounds, 1>(k, Buffer + 16 * b, f);
  StoreBlock(Feedback, f);
}

class TAesCipher final : public TSDBCipher {
 public:
  // KeySize 16, 24 or 32.
  TAesCipher(const uint8_t* Key, size_t KeySize) : TSDBCipher(16, KeySize), FRounds(static_cast<int>(KeySize / 4 + 6)) {
    switch (FRounds) {
      case 10: ExpandAesKey<10>(Key, FEnc, FDec); break;
      case 12: ExpandAesKey<12>(Key, FEnc, FDec); break;
      default: ExpandAesKey<14>(Key, FEnc, FDec); break;
    }
  }
  ~TAesCipher() override {
    Wipe(FEnc, sizeof FEnc);
    Wipe(FDec, sizeof FDec);
  }
  bool InHardware() const override { return true; }

 protected:
  SDB_AES_TARGET void EncryptBlock(const uint8_t* In, uint8_t* Out) override {
    switch (FRounds) {
      case 10: StoreBlock(Out, EncryptAes<10>(FEnc, LoadBlock(In))); break;
      case 12: StoreBlock(Out, EncryptAes<12>(FEnc, LoadBlock(In))); break;
      default: StoreBlock(Out, EncryptAes<14>(FEnc, LoadBlock(In))); break;
    }
  }
  SDB_AES_TARGET void DecryptBlocksXor(const uint8_t* In, const uint8_t* Xor, uint8_t* Out, size_t Count) override {
    for (size_t b = 0; b < Count; ++b) {
      __m128i x = _mm_xor_si128(LoadBlock(In + 16 * b), FDec[0]);
      for (int r = 1; r < FRounds; ++r) x = _mm_aesdec_si128(x, FDec[r]);
      StoreBlock(Out + 16 * b, _mm_aesdeclast_si128(x, _mm_xor_si128(FDec[FRounds], LoadBlock(Xor + 16 * b))));
    }
  }
  void EncipherBlocks(const uint8_t* In, uint8_t* Out, size_t Count, uint8_t* Feedback) override {
    switch (FRounds) {
      case 10: EncipherAesChain<10>(FEnc, In, Out, Count, Feedback); break;
      case 12: EncipherAesChain<12>(FEnc, In, Out, Count, Feedback); break;
      default: EncipherAesChain<14>(FEnc, In, Out, Count, Feedback); break;
    }
  }
  void DecipherBlocks(uint8_t* Buffer, size_t Count, uint8_t* Feedback) override {
    switch (FRounds) {
      case 10: DecipherAesChain<10>(FDec, Buffer, Count, Feedback); break;
      case 12: DecipherAesChain<12>(FDec, Buffer, Count, Feedback); break;
      default: DecipherAesChain<14>(FDec, Buffer, Count, Feedback); break;
    }
  }

 private:
  int FRounds;
  __m128i FEnc[15];
  __m128i FDec[15];
};

#endif

}  // namespace

std::unique_ptr<TSDBCipher> TSDBCipher::Create(TSDBCryptoAlgorithm Algorithm, const std::string& Password,
                                               TEngine Engine) {
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
  auto cipher = CreateWithKey(Algorithm, digest, keySize, Engine);
  std::memset(digest, 0, sizeof digest);
  std::fill(bytes.begin(), bytes.end(), '\0');
  return cipher;
}

std::unique_ptr<TSDBCipher> TSDBCipher::CreateWithKey(TSDBCryptoAlgorithm Algorithm, const uint8_t* Key,
                                                      size_t KeySize, TEngine Engine) {
  std::unique_ptr<TSDBCipher> cipher;
  try {
    switch (Algorithm) {
      case craRijndael_128:
      case craRijndael_256:
#ifdef SDB_AES_NI
        if (Engine == TEngine::kFastest && HasAesInstructions() && (KeySize == 16 || KeySize == 24 || KeySize == 32)) {
          cipher = std::make_unique<TAesCipher>(Key, KeySize);
          break;
        }
#endif
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
void TSDBCipher::XorTail(const uint8_t* In, uint8_t* Out, size_t Count) {
  uint8_t b[kMaxBlockSize];
  EncryptBlock(FFeedback, b);
  for (size_t i = 0; i < Count; ++i) Out[i] = In[i] ^ b[i];
  XorWords(FFeedback, b, FBlockSize);
}

void TSDBCipher::Encode(const uint8_t* In, uint8_t* Out, size_t Size) {
  const size_t blocks = Size / FBlockSize;
  if (blocks > 0) EncipherBlocks(In, Out, blocks, FFeedback);
  const size_t pos = blocks * FBlockSize;
  if (pos < Size) XorTail(In + pos, Out + pos, Size - pos);
}

void TSDBCipher::Decode(uint8_t* Buffer, size_t Size) {
  const size_t blocks = Size / FBlockSize;
  if (blocks > 0) DecipherBlocks(Buffer, blocks, FFeedback);
  const size_t pos = blocks * FBlockSize;
  if (pos < Size) XorTail(Buffer + pos, Buffer + pos, Size - pos);
}

void TSDBCipher::EncipherBlocks(const uint8_t* In, uint8_t* Out, size_t Count, uint8_t* Feedback) {
  switch (FBlockSize) {
    case 8: EncodeBlocks<8>(In, Out, Count, Feedback); break;
    case 16: EncodeBlocks<16>(In, Out, Count, Feedback); break;
    default: EncodeBlocks<24>(In, Out, Count, Feedback); break;
  }
}

void TSDBCipher::DecipherBlocks(uint8_t* Buffer, size_t Count, uint8_t* Feedback) {
  switch (FBlockSize) {
    case 8: DecodeBlocks<8>(Buffer, Count, Feedback); break;
    case 16: DecodeBlocks<16>(Buffer, Count, Feedback); break;
    default: DecodeBlocks<24>(Buffer, Count, Feedback); break;
  }
}

// The block size is a template argument so that the copies and xors of a
// block compile to a few word moves.
template <size_t N>
void TSDBCipher::EncodeBlocks(const uint8_t* In, uint8_t* Out, size_t Count, uint8_t* Feedback) {
  uint8_t* f = Feedback;
  uint8_t tmp[N];
  for (size_t b = 0; b < Count; ++b) {
    const uint8_t* p = In + b * N;
    uint8_t* c = Out + b * N;
    for (size_t i = 0; i < N; i += 8) Store64(tmp + i, Load64(p + i) ^ Load64(f + i));
    EncryptBlock(tmp, c);
    for (size_t i = 0; i < N; i += 8) Store64(f + i, Load64(f + i) ^ Load64(c + i));
  }
}

template <size_t N>
void TSDBCipher::DecodeBlocks(uint8_t* Buffer, size_t Count, uint8_t* Feedback) {
  uint8_t* f = Feedback;
  // The feedback before block i is the vector xor every earlier cipher
  // block, known without deciphering anything: the blocks can then be
  // deciphered all at once.
  const size_t whole = Count * N;
  alignas(16) uint8_t stackBuf[8192];
  std::vector<uint8_t> heapBuf;
  uint8_t* feedbacks = stackBuf;
  if (whole > sizeof stackBuf) {
    heapBuf.resize(whole);
    feedbacks = heapBuf.data();
  }
  uint64_t w[N / 8];
  for (size_t i = 0; i < N / 8; ++i) w[i] = Load64(f + i * 8);
  for (size_t b = 0; b < Count; ++b) {
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
  DecryptBlocksXor(Buffer, feedbacks, Buffer, Count);
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

template <class F>
bool TSDBPageCipher::Run(TSDBCryptoAlgorithm Algorithm, const std::string& Password, F&& Step) {
  try {
    TSDBCipher* cipher = Keyed(Algorithm, Password);
    if (!cipher) return false;
    Step(*cipher);
    return true;
  } catch (...) {
    Forget();
    return false;
  }
}

bool TSDBPageCipher::Encode(TSDBCryptoAlgorithm Algorithm, const uint8_t* In, uint8_t* Out, size_t Size,
                            const std::string& Password) {
  return Run(Algorithm, Password, [&](TSDBCipher& c) { c.Encode(In, Out, Size); });
}

bool TSDBPageCipher::Decode(TSDBCryptoAlgorithm Algorithm, uint8_t* Buffer, size_t Size, const std::string& Password) {
  return Run(Algorithm, Password, [&](TSDBCipher& c) { c.Decode(Buffer, Size); });
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
