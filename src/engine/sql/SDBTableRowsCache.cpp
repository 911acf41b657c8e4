#include "sql/SDBTableRowsCache.h"

#include "storage/table/SDBFieldDef.h"

namespace sdb {

TSDBTableRowsCache::TEntry* TSDBTableRowsCache::Find(const void* Connection, const std::string& TableName) {
  auto it = FEntries.find({Connection, SDBUpperName(TableName)});
  return it == FEntries.end() ? nullptr : &it->second;
}

TSDBTableRowsCache::TEntry& TSDBTableRowsCache::Add(const void* Connection, const std::string& TableName,
                                                     TSDBResultSet Rows) {
  TEntry& e = FEntries[{Connection, SDBUpperName(TableName)}];
  e.Rows = std::move(Rows);
  e.IntIndex.clear();
  return e;
}

const std::vector<size_t>& TSDBTableRowsCache::Lookup(TEntry& Entry, int Column, int64_t Key) {
  auto idx = Entry.IntIndex.find(Column);
  if (idx == Entry.IntIndex.end()) {
    idx = Entry.IntIndex.emplace(Column, std::unordered_map<int64_t, std::vector<size_t>>{}).first;
    const auto& rows = Entry.Rows.Rows;
    for (size_t i = 0; i < rows.size(); ++i) {
      const TSDBVariant& v = rows[i][static_cast<size_t>(Column)];
      if (!v.IsNull()) idx->second[v.AsInt64()].push_back(i);
    }
  }
  auto hit = idx->second.find(Key);
  return hit == idx->second.end() ? FNone : hit->second;
}

bool SDBIsHashableIntegerType(TSDBBaseFieldType Type) { return Type >= bftSignedInt8 && Type <= bftUnsignedInt32; }

}  // namespace sdb
