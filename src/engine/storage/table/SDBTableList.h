// The table catalogue: a transacted internal file (page type 6, never
// compressed) holding an array of 272-byte items, rewritten whole on every
// change (item layout: docs/database-file-format.md, section 10).
// Table names compare case-insensitively (both sides upper-cased).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/file/SDBInternalFile.h"

namespace sdb {

struct TSDBTableListItem {
  std::string TableName;
  int32_t TableID = -1;
  int32_t MetaDataFilePageNo = -1;
  int32_t MostUpdatedFilePageNo = -1;
  int32_t LocksFilePageNo = -1;

  static constexpr int kSize = 272;
  void Load(const uint8_t* p);
  void Save(uint8_t* p) const;
};

class TSDBTableListFile {
 public:
  explicit TSDBTableListFile(TSDBPageManager& PageManager);

  // Raises "Table list file already opened." (30393) when open.
  void OpenFile(int32_t StartPageNo);
  void CloseFile() noexcept;
  bool IsOpen() const noexcept { return FHandle.IsOpen(); }
  int32_t StartPageNo() const noexcept { return FHandle.StartPageNo(); }

  // Reads the items (other sessions and processes may have changed them).
  // A content that is not a whole number of items raises "Invalid
  // database format" (20237).
  void Load(int SessionID);
  void Save(int SessionID);

  // Index of the table, -1 when absent.
  int Find(const std::string& TableName) const;
  const TSDBTableListItem* FindTable(const std::string& TableName) const;
  // Raises "Cannot create table. Table '%s' already exists" (30395).
  void AddTable(const TSDBTableListItem& Item);
  // Raise "Table '%s' does not exist." (30396, 30397).
  void DeleteTable(const std::string& TableName);
  void RenameTable(const std::string& OldName, const std::string& NewName);
  // The entry of Item's name takes Item's content, keeping its place
  // ("Table '%s' does not exist." (30405) when there is none).
  void ReplaceTable(const TSDBTableListItem& Item);
  const std::vector<TSDBTableListItem>& Items() const noexcept { return FItems; }
  std::vector<std::string> GetTablesList() const;

 private:
  TSDBInternalDBTransactedAccessFile FHandle;
  std::vector<TSDBTableListItem> FItems;
};

}  // namespace sdb
