#include "storage/file/SDBSystemDirectory.h"

#include "common/SDBBytes.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"

namespace sdb {

TSDBSystemDirectory::TSDBSystemDirectory(TSDBPageManager& PageManager)
    : FHandle(PageManager, ptFileSystemDirectory) {}

void TSDBSystemDirectory::CreateDirectory(int SessionID) {
  FHandle.CreateFile(SessionID);
  if (FHandle.StartPageNo() != kSDBSystemDirectoryPageNo)
    throw ESDBException(kSDBErrSystemDirectoryPageNo, "Error creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d.",
                        {int64_t{kSDBSystemDirectoryPageNo}, int64_t{FHandle.StartPageNo()}});
  FFileList.clear();
}

void TSDBSystemDirectory::LoadDirectory(int SessionID) {
  FHandle.OpenFile(kSDBSystemDirectoryPageNo);
  std::vector<uint8_t> content = FHandle.ReadAll(SessionID);
  if (content.size() % TSDBSystemDirectoryListItem::kSize != 0)
    throw ESDBException(kSDBErrInvalidDatabaseFormat, "Invalid database format");
  FFileList.clear();
  for (size_t i = 0; i < content.size(); i += TSDBSystemDirectoryListItem::kSize) {
    TSDBSystemDirectoryListItem item;
    item.FileID = content[i];
    item.FirstPageNo = GetLEI32(content.data() + i + 1);
    FFileList.push_back(item);
  }
}

void TSDBSystemDirectory::SaveDirectory(int SessionID) {
  std::vector<uint8_t> content(FFileList.size() * TSDBSystemDirectoryListItem::kSize);
  for (size_t i = 0; i < FFileList.size(); ++i) {
    uint8_t* p = content.data() + i * TSDBSystemDirectoryListItem::kSize;
    p[0] = FFileList[i].FileID;
    PutLEI32(p + 1, FFileList[i].FirstPageNo);
  }
  FHandle.WriteFile(SessionID, content.data(), static_cast<int32_t>(content.size()));
}

void TSDBSystemDirectory::CreateFile(TSDBDBFileType FileType, int32_t FirstPageNo) {
  FFileList.push_back({FileType, FirstPageNo});
}

int32_t TSDBSystemDirectory::GetFileFirstPageNo(TSDBDBFileType FileType) const {
  for (const auto& item : FFileList)
    if (item.FileID == FileType) return item.FirstPageNo;
  return -1;
}

void SDBCreateDatabase(TSDBDiskPageCache& cache, const TSDBCreateDatabaseParams& params) {
  std::string problem;
  if (params.PageSize < 512)
    problem = "page size " + std::to_string(params.PageSize) + " is below 512 bytes";
  else if (params.PageCountInExtent < 1)
    problem = "pages per extent must be at least 1";
  else if (params.MaxConnections < 1)
    problem = "maximum connections must be at least 1";
  else if (params.CryptoAlgorithm >= kSDBCryptoAlgorithmCount)
    problem = "unknown cipher " + std::to_string(params.CryptoAlgorithm);
  if (!problem.empty()) throw ESDBException(kSDBErrInvalidDatabaseParameters, "Invalid database parameters: %s", {problem});

  TSDBPassword password{params.Password, params.CryptoAlgorithm};
  cache.CreateAndOpenDatabase(params.FileName, password, params.PageSize, params.PageCountInExtent);
  const int session = kSDBEngineSessionID;
  TSDBSystemDirectory directory(cache);
  directory.CreateDirectory(session);

  TSDBInternalDBDirectAccessFile sessions(cache.DiskPageManager(), ptActiveSessionList);
  sessions.CreateFile(params.MaxConnections);
  directory.CreateFile(dbftActiveSessionsList, sessions.StartPageNo());

  TSDBInternalDBTransactedAccessFile tables(cache, ptTableList);
  tables.CreateFile(session);
  tables.WriteFile(session, nullptr, 0);
  directory.CreateFile(dbftTablesList, tables.StartPageNo());

  directory.SaveDirectory(session);
  cache.ApplyChanges(session);
}

}  // namespace sdb
