// Password protection of a database: the eight block ciphers, the key
// derived from the password, the cipher-text-stealing feedback mode every
// page uses, and the control block that verifies a password.
//
// Keying (the same for every page and the control block):
//   key     = first min(digest size, largest key) bytes of RIPEMD-128 or
//             RIPEMD-256 of the password's Windows-1252 bytes (no terminator);
//   vector  = the all-0xFF block enciphered once with that key;
//   feedback starts at the vector.
// Mode cmCTS over blocks of n bytes with feedback F:
//   whole block P:   C = E(P xor F);  F = C xor F
//   partial tail r:  B = E(F); C = P xor B (r bytes); F = B xor F
// and the inverse when deciphering (P = D(C) xor F; F = C xor F). The output
// has the input's length.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sdb/SDBCryptoAlgorithm.h"
#include "storage/file/SDBPageFormat.h"

namespace sdb {

// Modes of the cipher library; the storage layer uses only cmCTS.
enum TCipherMode : uint8_t { cmCTS, cmCBC, cmCFB, cmOFB, cmECB, cmCTSMAC, cmCBCMAC, cmCFBMAC };

// A database password: the password text (UTF-8, as every public text of
// the engine; the key is made from its Windows-1252 bytes) and the
// algorithm for new files.
struct TSDBPassword {
  std::string Password;
  TSDBCryptoAlgorithm CryptoAlgorithm = kSDBDefaultCryptoAlgorithm;
};

std::array<uint8_t, 16> SDBRipeMD128(const void* Data, size_t Size);
std::array<uint8_t, 32> SDBRipeMD256(const void* Data, size_t Size);

// A cipher object keyed from a password, in mode cmCTS.
class TSDBCipher {
 public:
  static constexpr size_t kMaxBlockSize = 24;
  // Which implementation of the block algorithm a cipher runs. Both give
  // the same bytes; kLibrary is there so that the tests can hold the
  // fastest one to the library's.
  enum class TEngine : uint8_t { kFastest, kLibrary };
  // nullptr for an algorithm value outside the table or a password with a
  // character Windows-1252 cannot hold.
  static std::unique_ptr<TSDBCipher> Create(TSDBCryptoAlgorithm Algorithm, const std::string& Password,
                                            TEngine Engine = TEngine::kFastest);
  // The same cipher keyed directly with Key (no password hash), vector and
  // feedback set up as for Create; nullptr for an algorithm outside the
  // table or a key length the algorithm does not take.
  static std::unique_ptr<TSDBCipher> CreateWithKey(TSDBCryptoAlgorithm Algorithm, const uint8_t* Key, size_t KeySize,
                                                   TEngine Engine = TEngine::kFastest);
  virtual ~TSDBCipher() = default;

  size_t BlockSize() const { return FBlockSize; }
  size_t KeySize() const { return FKeySize; }
  // Whether the block algorithm runs on the processor's own instructions
  // (AES on x86-64 processors that have them).
  virtual bool InHardware() const { return false; }
  std::vector<uint8_t> Vector() const { return std::vector<uint8_t>(FVector, FVector + FBlockSize); }
  // Continue enciphering / deciphering from the current feedback. Encode
  // may write elsewhere: Out is In, or does not overlap it.
  void Encode(uint8_t* Buffer, size_t Size) { Encode(Buffer, Buffer, Size); }
  void Encode(const uint8_t* In, uint8_t* Out, size_t Size);
  void Decode(uint8_t* Buffer, size_t Size);
  // Feedback := vector, so the next call starts like a fresh object.
  void Reset();

 protected:
  TSDBCipher(size_t BlockSize, size_t KeySize) : FBlockSize(BlockSize), FKeySize(KeySize) {}
  // Called once by Create after the key schedule.
  void InitVector();
  virtual void EncryptBlock(const uint8_t* In, uint8_t* Out) = 0;
  // Out[i] = D(In[i]) xor Xor[i] for Count consecutive blocks; Out may be In.
  virtual void DecryptBlocksXor(const uint8_t* In, const uint8_t* Xor, uint8_t* Out, size_t Count) = 0;
  // Count whole blocks of the mode from Feedback, which is left as the
  // next block needs it. The defaults run the block functions above one
  // block at a time; a cipher that can do better overrides them.
  virtual void EncipherBlocks(const uint8_t* In, uint8_t* Out, size_t Count, uint8_t* Feedback);
  virtual void DecipherBlocks(uint8_t* Buffer, size_t Count, uint8_t* Feedback);

 private:
  void XorTail(const uint8_t* In, uint8_t* Out, size_t Count);
  template <size_t N>
  void EncodeBlocks(const uint8_t* In, uint8_t* Out, size_t Count, uint8_t* Feedback);
  template <size_t N>
  void DecodeBlocks(uint8_t* Buffer, size_t Count, uint8_t* Feedback);

  size_t FBlockSize;  // 8, 16 or 24: a whole number of 64-bit words
  size_t FKeySize;
  uint8_t FVector[kMaxBlockSize] = {};
  uint8_t FFeedback[kMaxBlockSize] = {};
};

// The cipher of a database's pages, keyed once and reused for every page:
// keying (the password's digest, the key schedules) costs more than
// deciphering a page. Every call starts from a fresh feedback, exactly as a
// newly keyed cipher would; a different algorithm or password keys again.
// Not shared between threads (its owner serialises its page I/O).
class TSDBPageCipher {
 public:
  TSDBPageCipher() = default;
  ~TSDBPageCipher() { Forget(); }
  TSDBPageCipher(const TSDBPageCipher&) = delete;
  TSDBPageCipher& operator=(const TSDBPageCipher&) = delete;

  // As EncodePageBuffer / DecodePageBuffer below.
  bool Encode(TSDBCryptoAlgorithm Algorithm, uint8_t* Buffer, size_t Size, const std::string& Password) {
    return Encode(Algorithm, Buffer, Buffer, Size, Password);
  }
  // Enciphers Size bytes of In into Out (Out is In, or does not overlap it).
  bool Encode(TSDBCryptoAlgorithm Algorithm, const uint8_t* In, uint8_t* Out, size_t Size, const std::string& Password);
  bool Decode(TSDBCryptoAlgorithm Algorithm, uint8_t* Buffer, size_t Size, const std::string& Password);
  // Drops the key (a database closed).
  void Forget() noexcept;

 private:
  TSDBCipher* Keyed(TSDBCryptoAlgorithm Algorithm, const std::string& Password);
  // One step of the keyed cipher; a failure drops the key, so the next call
  // keys afresh.
  template <class F>
  bool Run(TSDBCryptoAlgorithm Algorithm, const std::string& Password, F&& Step);
  std::unique_ptr<TSDBCipher> FCipher;
  TSDBCryptoAlgorithm FAlgorithm = kSDBDefaultCryptoAlgorithm;
  std::string FPassword;
};

// Encipher / decipher Size bytes in place with a freshly keyed cipher; false
// (never an exception) when the cipher cannot be made or fails.
bool EncodePageBuffer(TSDBCryptoAlgorithm Algorithm, uint8_t* Buffer, size_t Size, const std::string& Password);
bool DecodePageBuffer(TSDBCryptoAlgorithm Algorithm, uint8_t* Buffer, size_t Size, const std::string& Password);

// Fills the crypto header of a new encrypted database: algorithm, random
// control block (bytes 0 .. 254), its CRC, then the block enciphered.
bool SDBBuildControlBlock(TSDBCryptoHeader& Header, const TSDBPassword& Password);
// Whether Password deciphers the stored control block to its recorded CRC,
// with the header's algorithm. Both raise kSDBErrPasswordCharacter for a
// password with a character Windows-1252 cannot hold.
bool SDBCheckControlBlock(const TSDBCryptoHeader& Header, const std::string& Password);

// "Rijndael_128" etc.; "" out of range.
const char* SDBCryptoAlgorithmName(TSDBCryptoAlgorithm Algorithm);

}  // namespace sdb
