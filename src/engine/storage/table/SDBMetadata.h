// The two per-table contents that are kept as byte streams:
//
// Metadata (the metadata file, compressed with zlib level 1), in order:
//   Integer field count, each field definition;
//   Integer count of non-temporary indexes, each index definition;
//   Integer constraint count, per constraint its type byte and definition;
//   Integer record page index root; Integer BLOB page index root (-1: none).
//
// Most-updated counters (the most-updated file): Integer field count, per
// field its last auto-increment value (Int64), Integer table state, record
// count (4 bytes).
#pragma once

#include <cstdint>
#include <vector>

#include "storage/table/SDBFieldDef.h"

namespace sdb {

struct TSDBTableMetadata {
  TSDBFieldDefs FieldDefs;
  TSDBIndexDefs IndexDefs;
  TSDBConstraintDefs ConstraintDefs;
  int32_t RecordPageIndexRoot = -1;
  int32_t BlobPageIndexRoot = -1;

  std::vector<uint8_t> Save() const;
  // Raises the stream read messages on a short or malformed stream.
  void Load(const std::vector<uint8_t>& Data);
};

struct TSDBMostUpdatedData {
  std::vector<int64_t> LastAutoIncValues;
  int32_t TableState = 0;
  int32_t RecordCount = 0;

  std::vector<uint8_t> Save() const;
  // Raises "Invalid table header data" (20164) when the content does not
  // match the table's field count or is larger than its buffer.
  void Load(const std::vector<uint8_t>& Data, int FieldCount);
};

}  // namespace sdb
