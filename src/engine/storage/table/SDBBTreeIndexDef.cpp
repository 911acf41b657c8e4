#include "storage/table/SDBBTreeIndexDef.h"

namespace sdb {

void SDBAssignRecordKeyRef(TSDBRecordKeyRef& KeyRef, const TSDBIndexDef& IndexDef, const TSDBFieldDefs& FieldDefs,
                           TSDBIndexRecordSource* RecordSource) {
  std::vector<TSDBKeyFieldInfo> fields;
  fields.reserve(static_cast<size_t>(FieldDefs.Count()));
  for (int i = 0; i < FieldDefs.Count(); ++i) {
    const TSDBFieldDef& f = FieldDefs[i];
    fields.push_back({f.FName, i, f.FBaseFieldType, f.FMemoryDataSize, f.FMemoryOffset});
  }
  std::vector<TSDBKeyColumnInfo> columns;
  columns.reserve(IndexDef.FColumns.size());
  for (const TSDBIndexColumn& c : IndexDef.FColumns)
    columns.push_back({c.FFieldName, c.FDescending, c.FCaseInsensitive, c.FMaxIndexedSize});
  KeyRef.Assign(columns, fields, RecordSource);
}

}  // namespace sdb
