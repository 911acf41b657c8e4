#include "storage/table/SDBTableList.h"

#include <cstring>

#include "common/SDBBytes.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "sdb/SDBText.h"
#include "storage/table/SDBFieldDef.h"

namespace sdb {

void TSDBTableListItem::Load(const uint8_t* p) {
  TableName = SDBNameFromAnsi(std::string_view(reinterpret_cast<const char*>(p + 1), p[0]));
  TableID = GetLEI32(p + 256);
  MetaDataFilePageNo = GetLEI32(p + 260);
  MostUpdatedFilePageNo = GetLEI32(p + 264);
  LocksFilePageNo = GetLEI32(p + 268);
}

void TSDBTableListItem::Save(uint8_t* p) const {
  const std::string name = SDBNameToAnsi(TableName);
  std::memset(p, 0, kSize);
  const size_t n = name.size() > 255 ? 255 : name.size();
  p[0] = static_cast<uint8_t>(n);
  std::memcpy(p + 1, name.data(), n);
  PutLEI32(p + 256, TableID);
  PutLEI32(p + 260, MetaDataFilePageNo);
  PutLEI32(p + 264, MostUpdatedFilePageNo);
  PutLEI32(p + 268, LocksFilePageNo);
}

TSDBTableListFile::TSDBTableListFile(TSDBPageManager& PageManager) : FHandle(PageManager, ptTableList) {}

void TSDBTableListFile::OpenFile(int32_t StartPageNo) {
  if (FHandle.IsOpen()) throw ESDBException(kSDBErrTableListOpen, "Table list file already opened.");
  FHandle.OpenFile(StartPageNo);
}

void TSDBTableListFile::CloseFile() noexcept {
  FHandle.CloseFile();
  FItems.clear();
}

void TSDBTableListFile::Load(int SessionID) {
  std::vector<uint8_t> raw = FHandle.ReadAll(SessionID);
  if (raw.size() % TSDBTableListItem::kSize != 0) throw ESDBException(kSDBErrInvalidDatabaseFormat, "Invalid database format");
  FItems.clear();
  for (size_t p = 0; p < raw.size(); p += TSDBTableListItem::kSize) {
    TSDBTableListItem item;
    item.Load(raw.data() + p);
    FItems.push_back(std::move(item));
  }
}

void TSDBTableListFile::Save(int SessionID) {
  std::vector<uint8_t> raw(FItems.size() * TSDBTableListItem::kSize);
  for (size_t i = 0; i < FItems.size(); ++i) FItems[i].Save(raw.data() + i * TSDBTableListItem::kSize);
  FHandle.WriteFile(SessionID, raw.data(), static_cast<int32_t>(raw.size()));
}

int TSDBTableListFile::Find(const std::string& TableName) const {
  const std::string key = SDBUpperName(TableName);
  for (size_t i = 0; i < FItems.size(); ++i)
    if (SDBUpperName(FItems[i].TableName) == key) return static_cast<int>(i);
  return -1;
}

const TSDBTableListItem* TSDBTableListFile::FindTable(const std::string& TableName) const {
  int i = Find(TableName);
  return i < 0 ? nullptr : &FItems[static_cast<size_t>(i)];
}

void TSDBTableListFile::AddTable(const TSDBTableListItem& Item) {
  if (Find(Item.TableName) >= 0)
    throw ESDBException(kSDBErrTableExists, "Cannot create table. Table '%s' already exists", {Item.TableName});
  FItems.push_back(Item);
}

void TSDBTableListFile::DeleteTable(const std::string& TableName) {
  int i = Find(TableName);
  if (i < 0) throw ESDBException(kSDBErrDropMissingTable, "Table '%s' does not exist.", {TableName});
  FItems.erase(FItems.begin() + i);
}

void TSDBTableListFile::RenameTable(const std::string& OldName, const std::string& NewName) {
  int i = Find(OldName);
  if (i < 0) throw ESDBException(kSDBErrRenameMissingTable, "Table '%s' does not exist.", {OldName});
  int j = Find(NewName);
  if (j >= 0 && j != i) throw ESDBException(kSDBErrTableExists, "Cannot create table. Table '%s' already exists", {NewName});
  FItems[static_cast<size_t>(i)].TableName = NewName;
}

void TSDBTableListFile::ReplaceTable(const TSDBTableListItem& Item) {
  int i = Find(Item.TableName);
  if (i < 0) throw ESDBException(kSDBErrLoadMissingTable, "Table '%s' does not exist.", {Item.TableName});
  FItems[static_cast<size_t>(i)] = Item;
}

std::vector<std::string> TSDBTableListFile::GetTablesList() const {
  std::vector<std::string> names;
  for (const auto& i : FItems) names.push_back(i.TableName);
  return names;
}

}  // namespace sdb
