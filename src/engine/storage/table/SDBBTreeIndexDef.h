// Record key descriptions from a table's index and field definitions.
#pragma once

#include "storage/table/SDBBTree.h"
#include "storage/table/SDBFieldDef.h"

namespace sdb {

// Builds KeyRef from the index columns (in column order) and the field
// definitions: field number = position in FieldDefs, record offset =
// FMemoryOffset. Raises "Cannot find index field '%s'" (20043) and "Cannot
// index BLOB field '%s'. ..." (20295).
void SDBAssignRecordKeyRef(TSDBRecordKeyRef& KeyRef, const TSDBIndexDef& IndexDef, const TSDBFieldDefs& FieldDefs,
                           TSDBIndexRecordSource* RecordSource);

}  // namespace sdb
