// The rows of the tables that correlated subqueries read, kept for the run
// of one SELECT statement. A correlated subquery runs once per outer row;
// without this every run would read its tables again from the file, and a
// nested pair of them would read the inner table once per pair of outer
// rows. With it each table is read once, and an equality between an integer
// column and an outer column finds its rows through a hash of that column.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sql/SDBExecResult.h"

namespace sdb {

class TSDBTableRowsCache {
 public:
  struct TEntry {
    TSDBResultSet Rows;
    // Per column: row numbers by integer value (nulls left out).
    std::map<int, std::unordered_map<int64_t, std::vector<size_t>>> IntIndex;
  };

  // The rows of a table read through Connection; nullptr when not read yet.
  TEntry* Find(const void* Connection, const std::string& TableName);
  TEntry& Add(const void* Connection, const std::string& TableName, TSDBResultSet Rows);
  // The rows whose integer column Column equals Key (hash built on first use).
  const std::vector<size_t>& Lookup(TEntry& Entry, int Column, int64_t Key);

 private:
  std::map<std::pair<const void*, std::string>, TEntry> FEntries;
  const std::vector<size_t> FNone;
};

// Integer column types whose values all fit in int64_t.
bool SDBIsHashableIntegerType(TSDBBaseFieldType Type);

}  // namespace sdb
