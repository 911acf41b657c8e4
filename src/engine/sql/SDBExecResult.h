// Result datasets of queries: named, typed columns and rows of engine
// values. A result of one base table read through a live query also keeps,
// for each row, the identifier of the record it came from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sdb/SDBFieldTypes.h"
#include "sdb/SDBVariant.h"
#include "storage/file/SDBPageFormat.h"

namespace sdb {

struct TSDBResultColumn {
  std::string Name;
  std::string TableName;  // table or pseudonym the column comes from (empty for computed columns)
  std::string BaseTableName;  // the table behind a pseudonym (SQL names the column by the pseudonym only)
  TSDBBaseFieldType DataType = bftUnknown;
  TSDBAdvancedFieldType AdvancedType = aftUnknown;
  int32_t Size = 0;
};

using TSDBResultRow = std::vector<TSDBVariant>;

class TSDBResultSet {
 public:
  std::vector<TSDBResultColumn> Columns;
  std::vector<TSDBResultRow> Rows;
  // Live results only: the record of each row and the table it belongs to.
  std::vector<TSDBPageItemID> RecordIDs;
  std::string LiveTableName;
  bool Live = false;

  int ColumnCount() const { return static_cast<int>(Columns.size()); }
  int64_t RowCount() const { return static_cast<int64_t>(Rows.size()); }
  // Column number by name (and table or pseudonym when given), compared
  // without regard to case; -1 when absent.
  int FieldIndex(const std::string& Name, const std::string& Table = {}) const;
};

}  // namespace sdb
