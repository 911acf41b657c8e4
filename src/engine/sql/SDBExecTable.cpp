#include "sql/SDBExecTable.h"

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "sdb/SDBText.h"

namespace sdb {

TSDBVariant SDBExecReadField(TSDBCursor& Cursor, std::vector<uint8_t>& Buffer, int FieldNo) {
  TSDBDiskTableData& t = *Cursor.TableData;
  TSDBBaseFieldManager& fm = t.FieldManager();
  const TSDBFieldDef& def = fm.Field(FieldNo);
  if (!def.IsBlob()) return t.GetFieldValue(Buffer, FieldNo);
  if (fm.IsNull(Buffer.data(), FieldNo)) return TSDBVariant(def.FBaseFieldType);
  return SDBBlobValue(def.FBaseFieldType, t.ReadBlobField(Cursor, Buffer, FieldNo));
}


void SDBExecWriteField(TSDBCursor& Cursor, std::vector<uint8_t>& Buffer, int FieldNo, const TSDBVariant& Value) {
  TSDBDiskTableData& t = *Cursor.TableData;
  TSDBBaseFieldManager& fm = t.FieldManager();
  const TSDBFieldDef& def = fm.Field(FieldNo);
  if (!def.IsBlob()) {
    if (Value.IsNull()) {
      fm.SetNull(Buffer.data(), FieldNo, true);
      return;
    }
    t.SetFieldValue(Buffer, FieldNo, SDBColumnValue(Value, def.FBaseFieldType, def.FName));
    return;
  }
  if (Value.IsNull()) {
    t.ClearBLOBFieldInRecordBuffer(Buffer, FieldNo);
    fm.SetNull(Buffer.data(), FieldNo, true);
    return;
  }
  t.WriteBLOBFieldToRecordBuffer(Buffer, FieldNo, SDBBlobBytes(def, Value));
  fm.SetNull(Buffer.data(), FieldNo, false);
}

bool SDBExecPositionOn(TSDBCursor& Cursor, const TSDBPageItemID& RecordID) {
  Cursor.CurrentRecordID = RecordID;
  Cursor.FirstPosition = false;
  Cursor.LastPosition = false;
  if (Cursor.TableData->GetRecordBuffer(Cursor, grmCurrent) != grrOK) return false;
  return Cursor.CurrentRecordID == RecordID;
}

std::vector<TSDBResultColumn> SDBExecTableColumns(TSDBCursor& Cursor, const std::string& TableName) {
  std::vector<TSDBResultColumn> cols;
  TSDBBaseFieldManager& fm = Cursor.TableData->FieldManager();
  for (int i = 0; i < fm.FieldCount(); ++i) {
    const TSDBFieldDef& d = fm.Field(i);
    TSDBResultColumn c;
    c.Name = d.FName;
    c.TableName = TableName;
    c.DataType = d.FBaseFieldType;
    c.AdvancedType = d.FAdvancedFieldType;
    c.Size = d.FFieldSize;
    cols.push_back(std::move(c));
  }
  return cols;
}

TSDBResultRow SDBExecCurrentRow(TSDBCursor& Cursor) {
  const int n = Cursor.TableData->FieldManager().FieldCount();
  TSDBResultRow row;
  row.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) row.push_back(SDBExecReadField(Cursor, Cursor.CurrentRecordBuffer, i));
  return row;
}

void SDBExecReadTable(TSDBCursor& Cursor, const std::string& TableName, TSDBResultSet& Result) {
  Result.Columns = SDBExecTableColumns(Cursor, TableName);
  Result.Rows.clear();
  Result.RecordIDs.clear();
  Result.Live = true;
  Result.LiveTableName = Cursor.TableData->TableName();
  Cursor.FirstPosition = true;
  Cursor.LastPosition = false;
  Cursor.CurrentRecordID = {};
  for (;;) {
    TSDBGetRecordResult r = Cursor.TableData->GetRecordBuffer(Cursor, grmNext);
    if (r == grrError) throw ESDBEngineError::Make(kSDBRecErrTableLocked);
    if (r != grrOK) break;
    Result.Rows.push_back(SDBExecCurrentRow(Cursor));
    Result.RecordIDs.push_back(Cursor.CurrentRecordID);
  }
}

}  // namespace sdb

namespace sdb {

int TSDBResultSet::FieldIndex(const std::string& Name, const std::string& Table) const {
  for (size_t i = 0; i < Columns.size(); ++i) {
    if (!SDBSameName(Columns[i].Name, Name)) continue;
    if (!Table.empty() && !SDBSameName(Columns[i].TableName, Table) && !SDBSameName(Columns[i].BaseTableName, Table))
      continue;
    return static_cast<int>(i);
  }
  return -1;
}

}  // namespace sdb
