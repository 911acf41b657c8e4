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
#include <optional>
#include <string>

#include "sdb/SDBCryptoAlgorithm.h"
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

// Settings a rewrite gives the new file; an unset one keeps the original's.
// A password, cipher, page size or extent cannot change in place (every
// page is enciphered and laid out with them), so changing one is a
// compaction into a file made with the new settings.
struct TSDBRewriteSettings {
  std::optional<std::string> Password;  // empty: not enciphered
  std::optional<TSDBCryptoAlgorithm> CryptoAlgorithm;
  std::optional<uint16_t> PageSize;
  std::optional<uint16_t> PagesPerExtent;
};

TSDBCompactReport SDBRewriteDatabase(const std::string& FileName, const std::string& Password,
                                     const TSDBRewriteSettings& Settings, const TSDBProgressCallback& Progress = {});

}  // namespace sdb
