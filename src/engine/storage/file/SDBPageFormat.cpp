#include "storage/file/SDBPageFormat.h"

#include <cstring>

#include "common/SDBBytes.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"

namespace sdb {

void TSDBPageItemID::Load(const uint8_t* p) {
  PageNo = GetLEI32(p);
  PageItemNo = GetLE16(p + 4);
}

void TSDBPageItemID::Save(uint8_t* p) const {
  PutLEI32(p, PageNo);
  PutLE16(p + 4, PageItemNo);
}

void TSDBDBHeader::Load(const uint8_t* p) {
  std::memcpy(Signature.data(), p, 16);
  HeaderSize = GetLEI16(p + 16);
  Version = GetLEDouble(p + 18);
  PageSize = GetLE16(p + 26);
  PageCountInExtent = GetLE16(p + 28);
  TotalPageCount = GetLEI32(p + 30);
  LastUsedPageNo = GetLEI32(p + 34);
  State = GetLEI32(p + 38);
  WriteChangesState = p[42];
  Encrypted = p[43] != 0;
  std::memcpy(Reserved.data(), p + 44, 32);
}

void TSDBDBHeader::Save(uint8_t* p) const {
  std::memcpy(p, Signature.data(), 16);
  PutLEI16(p + 16, HeaderSize);
  PutLEDouble(p + 18, Version);
  PutLE16(p + 26, PageSize);
  PutLE16(p + 28, PageCountInExtent);
  PutLEI32(p + 30, TotalPageCount);
  PutLEI32(p + 34, LastUsedPageNo);
  PutLEI32(p + 38, State);
  p[42] = WriteChangesState;
  p[43] = Encrypted ? 0xFF : 0;
  std::memcpy(p + 44, Reserved.data(), 32);
}

TSDBDBHeader TSDBDBHeader::Make(uint16_t aPageSize, uint16_t aPageCountInExtent, bool aEncrypted) {
  TSDBDBHeader h;
  std::memcpy(h.Signature.data(), kSDBSignature, 16);
  h.PageSize = aPageSize;
  h.PageCountInExtent = aPageCountInExtent;
  h.Encrypted = aEncrypted;
  return h;
}

bool TSDBDBHeader::HasValidSignature() const {
  return std::memcmp(Signature.data(), kSDBSignature, 16) == 0;
}

std::string TSDBDBHeader::SignatureText() const {
  size_t n = 0;
  while (n < Signature.size() && Signature[n] != 0) ++n;
  return std::string(Signature.data(), n);
}

void TSDBCryptoHeader::Load(const uint8_t* p) {
  CryptoHeaderSize = GetLEI16(p);
  CryptoAlgorithm = p[2];
  CryptoMode = p[3];
  std::memcpy(ControlBlock.data(), p + 4, kSDBControlBlockSize);
  ControlBlockCRC = GetLE32(p + 260);
  std::memcpy(Reserverd.data(), p + 264, 16);
}

void TSDBCryptoHeader::Save(uint8_t* p) const {
  PutLEI16(p, CryptoHeaderSize);
  p[2] = CryptoAlgorithm;
  p[3] = CryptoMode;
  std::memcpy(p + 4, ControlBlock.data(), kSDBControlBlockSize);
  PutLE32(p + 260, ControlBlockCRC);
  std::memcpy(p + 264, Reserverd.data(), 16);
}

void TSDBLockedBytes::Load(const uint8_t* p) {
  LockedByteSize = GetLEI16(p);
  FSMByte = p[2];
  TablesByte = p[3];
  DBHeaderByte = p[4];
  std::memcpy(Reserved.data(), p + 5, 15);
}

void TSDBLockedBytes::Save(uint8_t* p) const {
  PutLEI16(p, LockedByteSize);
  p[2] = FSMByte;
  p[3] = TablesByte;
  p[4] = DBHeaderByte;
  std::memcpy(p + 5, Reserved.data(), 15);
}

std::string SDBPageTypeName(uint16_t PageType) {
  static const char* const kNames[] = {"Unknown Page",
                                       "Empty Page",
                                       "EAM Page",
                                       "PFS Page",
                                       "FileSystemDirectory Page",
                                       "ActiveSessionList Page",
                                       "TableList Page",
                                       "TableLocks Page",
                                       "TableMetaData Page",
                                       "TableMostUpdated Page",
                                       "TableRecord Page",
                                       "TableBlob Page",
                                       "TableIndex Page"};
  if (PageType > kSDBLastPageType)
    throw ESDBException(kSDBErrUnknownPageType, "Unknown Page Type: (%d)", {static_cast<int64_t>(PageType)});
  return kNames[PageType];
}

void TSDBDiskPageHeader::Load(const uint8_t* p) {
  std::memcpy(Signature.data(), p, 4);
  State = GetLEI32(p + 4);
  PageType = GetLE16(p + 8);
  NextPageNo = GetLEI32(p + 10);
  CRC32 = GetLE32(p + 14);
  CRCType = p[18];
  HashType = p[19];
  Cipherype = p[20];
  MACType = p[21];
  ObjectID = GetLEI32(p + 22);
  RecordID.Load(p + 26);
  std::memcpy(Reserved.data(), p + 32, 8);
}

void TSDBDiskPageHeader::Save(uint8_t* p) const {
  std::memcpy(p, Signature.data(), 4);
  PutLEI32(p + 4, State);
  PutLE16(p + 8, PageType);
  PutLEI32(p + 10, NextPageNo);
  PutLE32(p + 14, CRC32);
  p[18] = CRCType;
  p[19] = HashType;
  p[20] = Cipherype;
  p[21] = MACType;
  PutLEI32(p + 22, ObjectID);
  RecordID.Save(p + 26);
  std::memcpy(p + 32, Reserved.data(), 8);
}

bool TSDBDiskPageHeader::HasValidSignature() const {
  return std::memcmp(Signature.data(), "SDBP", 4) == 0;
}

void SDBInitPageHeader(uint8_t* Page) { TSDBDiskPageHeader().Save(Page); }

int32_t SDBNextPageState(int32_t State) {
  int64_t next = static_cast<int64_t>(State) + 1;
  if (next > kSDBMaxPageState || next < 0) next = 0;
  return static_cast<int32_t>(next);
}

}  // namespace sdb
