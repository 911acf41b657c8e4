// Internal files: variable-size data kept as a chain of pages of one page
// type linked through NextPageNo, the content after a 10-byte file header on
// the first page (layout: docs/database-file-format.md, section 7).
//
// Transacted files go through the page cache and take part in the session's
// transaction; their content is read and written whole, optionally
// compressed as one buffer. Direct files bypass the cache: their size is
// fixed at creation, their pages are never enciphered, and byte positions in
// them serve as lock targets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/file/SDBPageCache.h"
#include "storage/file/SDBPageManager.h"

namespace sdb {

inline constexpr int kSDBInternalFileHeaderSize = 10;

class TSDBInternalDBTransactedAccessFile {
 public:
  TSDBInternalDBTransactedAccessFile(TSDBPageManager& PageManager, uint16_t PageTypeID);

  int32_t StartPageNo() const noexcept { return FStartPageNo; }
  bool IsOpen() const noexcept { return FStartPageNo != -1; }
  uint16_t PageTypeID() const noexcept { return FPageTypeID; }

  // A new, empty file of one page (added under the session).
  void CreateFile(int SessionID);
  void OpenFile(int32_t StartPageNo);
  void CloseFile() noexcept { FStartPageNo = -1; }
  // Removes every page of the chain (freed when the session commits).
  void DeleteFile(int SessionID, int32_t StartPageNo);
  // Rewrites the first page's headers, ignoring check-value errors.
  void InitFileHeader(int SessionID);
  // Adds or cuts pages at the end of the chain and rewrites the file header.
  void SetFileSize(int SessionID, int32_t NewSize, int32_t DecompressedSize, uint8_t CompressionAlgorithm);
  void GetFileSize(int SessionID, int32_t& Size, int32_t& DecompressedSize, uint8_t& CompressionAlgorithm,
                   bool& FileWasChanged, bool SyncronizeAllowed = true);
  // The uncompressed size.
  int32_t GetSize(int SessionID);
  void ReadFile(int SessionID, uint8_t* Buffer, int32_t Count, bool SynchronizeAllowed = true);
  // Algorithm 0 stores the bytes as they are; otherwise they are compressed
  // as one block with that algorithm at level CompressionMode.
  void WriteFile(int SessionID, const uint8_t* Buffer, int32_t Count, uint8_t Algorithm = 0,
                 uint8_t CompressionMode = 0);
  // The whole uncompressed content.
  std::vector<uint8_t> ReadAll(int SessionID, bool SynchronizeAllowed = true);
  // The content as stored, without decompressing it: the compression
  // algorithm (Byte), the uncompressed size (Integer), then the stored
  // bytes. Equal answers mean equal content.
  std::vector<uint8_t> ReadStored(int SessionID);
  // The uncompressed content of what ReadStored answered.
  static std::vector<uint8_t> ContentOfStored(const std::vector<uint8_t>& Stored);
  // Page numbers of the chain, in order (stops with 20300 on a loop or a
  // page that cannot be reached).
  std::vector<int32_t> ChainPageNumbers(int SessionID);
  // Lock of byte 0 of the first page.
  bool LockFile();
  bool UnlockFile();

 private:
  void CheckOpen(const char* operation) const;
  TSDBPageGuard GetChainPage(int SessionID, int32_t pageNo, int32_t index, bool sync = true);
  static std::vector<uint8_t> Decompressed(uint8_t algorithm, const uint8_t* stored, size_t size,
                                           int32_t uncompressed);
  // The stored bytes of the content (all of them when compressed or All,
  // else the first Count), with the header's size and algorithm; First
  // holds the file's first page.
  void ReadStoredBytes(int SessionID, TSDBPageGuard First, int32_t Count, bool All, bool SynchronizeAllowed,
                       std::vector<uint8_t>& stored, int32_t& uncompressed, uint8_t& algorithm);
  // Reads Count content bytes; First holds the file's first page.
  void ReadContent(int SessionID, TSDBPageGuard First, uint8_t* Buffer, int32_t Count, bool SynchronizeAllowed);
  // Refuses a content size the file's pages could not hold.
  void CheckContentSize(int64_t Size);

  TSDBPageManager& LPageManager;
  uint16_t FPageTypeID;
  int32_t FStartPageNo = -1;
};

class TSDBInternalDBDirectAccessFile {
 public:
  TSDBInternalDBDirectAccessFile(TSDBDiskPageManager& PageManager, uint16_t PageTypeID);

  int32_t StartPageNo() const noexcept { return FStartPageNo; }
  bool IsOpen() const noexcept { return FStartPageNo != -1; }
  const std::vector<int32_t>& PageNumbers() const noexcept { return FPageNumbers; }

  // Allocates and writes every page of a file of Size content bytes at
  // once (zero content); the start page is then StartPageNo().
  void CreateFile(int32_t Size);
  // Reads the size and follows the chain, reading only page headers.
  // Owner, when not -1, names the file for good (see
  // TSDBDiskPageManager::FindDirectChain): its chain may then be kept
  // across opens also while other processes use the file.
  void OpenFile(int32_t StartPageNo, int64_t Owner = -1);
  void CloseFile() noexcept;
  // Frees every page of the chain at once.
  void DeleteFile(int32_t StartPageNo);
  int32_t GetSize() const;
  void ReadBuffer(void* Buffer, int32_t Count, int32_t Position);
  void WriteBuffer(const void* Buffer, int32_t Count, int32_t Position);
  // Byte 0 of the first page.
  bool LockFile();
  bool UnlockFile();
  // Content bytes as lock targets.
  bool LockByte(int32_t ByteNo);
  bool UnlockByte(int32_t ByteNo);
  bool IsByteLocked(int32_t ByteNo);
  bool IsRegionLocked(int32_t ByteNo, int32_t ByteCount);

 private:
  void CheckOpen(const char* operation) const;
  // Page number and in-page offset (header included) of a content byte.
  void Locate(int32_t position, int32_t& pageNo, int32_t& offset) const;

  TSDBDiskPageManager& LPageManager;
  uint16_t FPageTypeID;
  int32_t FStartPageNo = -1;
  int32_t FSize = 0;
  std::vector<int32_t> FPageNumbers;
};

}  // namespace sdb
