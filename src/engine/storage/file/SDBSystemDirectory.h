// The system directory: a transacted internal file starting at page 2 that
// locates the database-wide internal files (its entries:
// docs/database-file-format.md, section 8).
//
// SDBCreateDatabase builds a new database file: header areas, the system
// directory, the active-sessions file sized for the maximum number of
// sessions and the (empty) table list file, committed as the engine's own
// session.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/file/SDBCrypto.h"
#include "storage/file/SDBDiskPageCache.h"
#include "storage/file/SDBInternalFile.h"

namespace sdb {

enum TSDBDBFileType : uint8_t {
  dbftUnknown = 0,
  dbftTablesList = 1,
  dbftActiveSessionsList = 2,
};

struct TSDBSystemDirectoryListItem {
  uint8_t FileID = dbftUnknown;
  int32_t FirstPageNo = -1;
  static constexpr int kSize = 5;
};

inline constexpr int32_t kSDBSystemDirectoryPageNo = 2;
inline constexpr int32_t kSDBDefaultMaxConnections = 500;

class TSDBSystemDirectory {
 public:
  explicit TSDBSystemDirectory(TSDBPageManager& PageManager);

  // Creates the directory file; its first page must be page 2 ("Error
  // creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d.").
  void CreateDirectory(int SessionID = kSDBEngineSessionID);
  // Reads the entries of the directory at page 2. A content whose size is
  // not a whole number of entries raises "Invalid database format" (20237).
  void LoadDirectory(int SessionID = kSDBEngineSessionID);
  void SaveDirectory(int SessionID = kSDBEngineSessionID);
  // Appends an entry.
  void CreateFile(TSDBDBFileType FileType, int32_t FirstPageNo);
  // First page of the file of that type, -1 when absent.
  int32_t GetFileFirstPageNo(TSDBDBFileType FileType) const;

  const std::vector<TSDBSystemDirectoryListItem>& FileList() const noexcept { return FFileList; }
  TSDBInternalDBTransactedAccessFile& Handle() noexcept { return FHandle; }

 private:
  TSDBInternalDBTransactedAccessFile FHandle;
  std::vector<TSDBSystemDirectoryListItem> FFileList;
};

struct TSDBCreateDatabaseParams {
  std::string FileName;
  std::string Password;  // empty: not enciphered
  TSDBCryptoAlgorithm CryptoAlgorithm = kSDBDefaultCryptoAlgorithm;
  uint16_t PageSize = kSDBDefaultPageSize;
  uint16_t PageCountInExtent = kSDBDefaultPageCountInExtent;
  int32_t MaxConnections = kSDBDefaultMaxConnections;
};

// Creates the file and leaves it open in `cache`. Page sizes below 512 or
// above 65535 bytes, a zero extent and a maximum connection count below 1
// are refused with "Invalid database parameters: %s" (20239) before any file is
// touched.
void SDBCreateDatabase(TSDBDiskPageCache& cache, const TSDBCreateDatabaseParams& params);

}  // namespace sdb
