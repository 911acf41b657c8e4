// Compaction of a database file: a fresh file is written beside the
// original with the same page size, pages per extent, cipher, password and
// allowed connections, every table (definition, constraints, indexes,
// auto-increment counters, records and BLOB values) is copied into it, the
// copy is checked and flushed, and it replaces the original by a rename.
// Any failure removes the partial copy and leaves the original untouched.
//
// Like repair it needs the file for itself: a file another connection
// holds is refused with "Error - database file %s is in use." (10461).
#pragma once

#include <cstdint>
#include <string>

#include "storage/maintenance/SDBRepair.h"

namespace sdb {

struct TSDBCompactReport {
  int64_t SizeBefore = 0;  // bytes
  int64_t SizeAfter = 0;
  int32_t PagesBefore = 0;
  int32_t PagesAfter = 0;
  int Tables = 0;
  int64_t Records = 0;
  std::string Summary() const;
};

// The copy is written to FileName + kSDBCompactSuffix first.
inline constexpr const char* kSDBCompactSuffix = ".compact~";

TSDBCompactReport SDBCompactDatabase(const std::string& FileName, const std::string& Password,
                                     const TSDBProgressCallback& Progress = {});

}  // namespace sdb
