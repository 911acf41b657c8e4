// On-disk records of a database file: the database header, the crypto
// header, the lock-byte block, the page header, and the page types. Their
// byte layout, and where each sits in the file, is written down in
// docs/database-file-format.md (sections 1 to 5).
//
// All integers are little-endian and records are packed; each record is
// (de)serialised field by field with Load/Save.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/SDBBytes.h"

namespace sdb {

inline constexpr char kSDBSignature[] = "EMBEDDEDDATABASE";  // 16 characters, no terminator on disk
inline constexpr int kSDBSignatureSize = 16;
inline constexpr int kSDBDBHeaderSize = 76;
inline constexpr int kSDBCryptoHeaderSize = 280;
inline constexpr int kSDBLockedBytesSize = 20;
inline constexpr int kSDBControlBlockSize = 256;
inline constexpr int kSDBPageHeaderSize = 40;
inline constexpr double kSDBCurrentVersion = 7.92;
// Versions below this need a repair before use.
inline constexpr double kSDBMinVersionWithoutRepair = 2.99;
inline constexpr uint16_t kSDBDefaultPageSize = 4096;
inline constexpr uint16_t kSDBDefaultPageCountInExtent = 8;
inline constexpr int32_t kSDBMaxInt = 2147483647;
// Page states written to disk stay in 0 .. kSDBMaxPageState.
inline constexpr int32_t kSDBMaxPageState = 0x7FFFFFFC;

// WriteChangesState values.
inline constexpr uint8_t kSDBWriteChangesConsistent = 2;
inline constexpr uint8_t kSDBWriteChangesWriting = 1;

// Record identifier: page number and slot (or BLOB item identifier). 6 bytes.
struct TSDBPageItemID {
  int32_t PageNo = -1;
  uint16_t PageItemNo = 0;

  static constexpr int kSize = 6;
  void Load(const uint8_t* p);
  void Save(uint8_t* p) const;
  friend bool operator==(const TSDBPageItemID&, const TSDBPageItemID&) = default;
  // Order by page number, then slot.
  friend bool operator<(const TSDBPageItemID& a, const TSDBPageItemID& b) {
    return a.PageNo != b.PageNo ? a.PageNo < b.PageNo : a.PageItemNo < b.PageItemNo;
  }
};

struct TSDBDBHeader {
  std::array<char, 16> Signature{};
  int16_t HeaderSize = kSDBDBHeaderSize;
  double Version = kSDBCurrentVersion;
  uint16_t PageSize = kSDBDefaultPageSize;
  uint16_t PageCountInExtent = kSDBDefaultPageCountInExtent;
  int32_t TotalPageCount = 0;
  int32_t LastUsedPageNo = -1;
  int32_t State = 0;
  uint8_t WriteChangesState = kSDBWriteChangesConsistent;
  bool Encrypted = false;
  std::array<uint8_t, 32> Reserved{};

  static constexpr int kSize = kSDBDBHeaderSize;
  void Load(const uint8_t* p);
  void Save(uint8_t* p) const;
  // A fresh header with the signature and the given geometry.
  static TSDBDBHeader Make(uint16_t PageSize, uint16_t PageCountInExtent, bool Encrypted);
  bool HasValidSignature() const;
  // The signature characters as a text, up to the first zero byte.
  std::string SignatureText() const;
};

struct TSDBCryptoHeader {
  int16_t CryptoHeaderSize = kSDBCryptoHeaderSize;
  uint8_t CryptoAlgorithm = 0;
  uint8_t CryptoMode = 0;
  std::array<uint8_t, kSDBControlBlockSize> ControlBlock{};
  uint32_t ControlBlockCRC = 0;
  std::array<uint8_t, 16> Reserverd{};

  static constexpr int kSize = kSDBCryptoHeaderSize;
  void Load(const uint8_t* p);
  void Save(uint8_t* p) const;
};

struct TSDBLockedBytes {
  int16_t LockedByteSize = kSDBLockedBytesSize;
  uint8_t FSMByte = 0;
  uint8_t TablesByte = 0;
  uint8_t DBHeaderByte = 0;
  std::array<uint8_t, 15> Reserved{};

  static constexpr int kSize = kSDBLockedBytesSize;
  // Offsets of the three lock bytes inside the block.
  static constexpr int kFSMByteOffset = 2;
  static constexpr int kTablesByteOffset = 3;
  static constexpr int kDBHeaderByteOffset = 4;
  void Load(const uint8_t* p);
  void Save(uint8_t* p) const;
};

// Page types; the names are what messages print.
enum TSDBPageType : uint16_t {
  ptUnknown = 0,
  ptEmpty = 1,
  ptEAM = 2,
  ptPFS = 3,
  ptFileSystemDirectory = 4,
  ptActiveSessionList = 5,
  ptTableList = 6,
  ptTableLocks = 7,
  ptTableMetaData = 8,
  ptTableMostUpdated = 9,
  ptTableRecord = 10,
  ptTableBlob = 11,
  ptTableIndex = 12,
};
inline constexpr uint16_t kSDBLastPageType = ptTableIndex;
// Asking the page cache for this type accepts any page type.
inline constexpr uint16_t kSDBAnyPageType = 255;

// "TableRecord Page" etc. Raises "Unknown Page Type: (%d)" (30382) above 12.
std::string SDBPageTypeName(uint16_t PageType);

struct TSDBDiskPageHeader {
  std::array<char, 4> Signature{{'S', 'D', 'B', 'P'}};
  int32_t State = 0;
  uint16_t PageType = ptUnknown;
  int32_t NextPageNo = -1;
  uint32_t CRC32 = 0;
  uint8_t CRCType = 0;
  uint8_t HashType = 0;
  uint8_t Cipherype = 0;
  uint8_t MACType = 0;
  int32_t ObjectID = -1;
  TSDBPageItemID RecordID;
  std::array<uint8_t, 8> Reserved{};

  static constexpr int kSize = kSDBPageHeaderSize;
  // Byte offsets of the fields inside a page (for in-place access).
  static constexpr int kStateOffset = 4;
  static constexpr int kPageTypeOffset = 8;
  static constexpr int kNextPageNoOffset = 10;
  static constexpr int kCRC32Offset = 14;
  static constexpr int kCipheryeOffset = 20;
  static constexpr int kObjectIDOffset = 22;
  static constexpr int kRecordIDOffset = 26;

  void Load(const uint8_t* p);
  void Save(uint8_t* p) const;
  bool HasValidSignature() const;
};

// In-place accessors for the page header fields of a page buffer (inline:
// every page fetch checks the type).
inline int32_t SDBGetPageState(const uint8_t* Page) { return GetLEI32(Page + TSDBDiskPageHeader::kStateOffset); }
inline void SDBSetPageState(uint8_t* Page, int32_t State) { PutLEI32(Page + TSDBDiskPageHeader::kStateOffset, State); }
inline uint16_t SDBGetPageType(const uint8_t* Page) { return GetLE16(Page + TSDBDiskPageHeader::kPageTypeOffset); }
inline void SDBSetPageType(uint8_t* Page, uint16_t PageType) {
  PutLE16(Page + TSDBDiskPageHeader::kPageTypeOffset, PageType);
}
inline int32_t SDBGetNextPageNo(const uint8_t* Page) { return GetLEI32(Page + TSDBDiskPageHeader::kNextPageNoOffset); }
inline void SDBSetNextPageNo(uint8_t* Page, int32_t NextPageNo) {
  PutLEI32(Page + TSDBDiskPageHeader::kNextPageNoOffset, NextPageNo);
}
// Writes a freshly initialised header (State 0, PageType 0) into a page buffer.
void SDBInitPageHeader(uint8_t* Page);

// The State that a page write stores after `State`: one more, wrapping to 0
// past kSDBMaxPageState (a removed page's MaxInt or a damaged negative value
// also restarts at 0).
int32_t SDBNextPageState(int32_t State);

}  // namespace sdb
