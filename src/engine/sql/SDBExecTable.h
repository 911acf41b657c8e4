// Record-level helpers of statement execution and the table component:
// field values of record buffers as engine values (BLOB values included),
// positioning on a record and reading a whole table into a result.
#pragma once

#include <string>
#include <vector>

#include "sql/SDBExecResult.h"
#include "storage/table/SDBTableData.h"

namespace sdb {

// The value of a field of a record buffer of the cursor's table (a typed
// null when the field is null). BLOB values are read in full.
TSDBVariant SDBExecReadField(TSDBCursor& Cursor, std::vector<uint8_t>& Buffer, int FieldNo);
// Stores a value into a field, converted to the field's type; a null value
// (an empty text included) makes the field null.
void SDBExecWriteField(TSDBCursor& Cursor, std::vector<uint8_t>& Buffer, int FieldNo, const TSDBVariant& Value);
// Makes the record current (its buffer in CurrentRecordBuffer); false when
// it no longer exists.
bool SDBExecPositionOn(TSDBCursor& Cursor, const TSDBPageItemID& RecordID);
// The columns of the cursor's table, named after `TableName` (the table or
// its pseudonym).
std::vector<TSDBResultColumn> SDBExecTableColumns(TSDBCursor& Cursor, const std::string& TableName);
// Every record in physical order, with record identifiers (a live result).
void SDBExecReadTable(TSDBCursor& Cursor, const std::string& TableName, TSDBResultSet& Result);
// The current record of the cursor as a row.
TSDBResultRow SDBExecCurrentRow(TSDBCursor& Cursor);

}  // namespace sdb
