// Repair of a database file: the maintenance work a user runs on a file
// that a crash left with an interrupted commit, that an older engine wrote,
// or whose structures are damaged.
//
// Repair needs the file for itself: it opens it exclusively, and a file
// another connection holds is refused with "Error - database file %s is in
// use." (10461) before anything is read or written.
//
// What it does, in order:
//  1. The file is marked as being repaired (WriteChangesState 1), so that a
//     repair that is interrupted leaves a file the next open reports as
//     needing repair again.
//  2. The whole file is walked (the same walk the check runs). Pages a
//     structure reaches but the free-space map calls free are marked used
//     first, before anything allocates a page that would overwrite them.
//  3. Each table: the record page index is rebuilt when it is damaged, every
//     record and BLOB is read (what cannot be read is reported, nothing
//     readable is dropped), and every index is rebuilt from the records. A
//     unique index whose records now collide is reported; the records stay
//     and the index keeps every one of them. The table's changes are
//     committed through the normal commit.
//  4. The file is walked again; pages marked used that nothing reaches are
//     freed. When a table could not be walked completely, pages of the
//     table page types are left alone (they may still hold its data).
//  5. The header gets the current version and the consistent state.
//
// The report lists what was found and done; its log holds the problems
// found, one per line, and is empty when the file was sound.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sdb/SDBErrors.h"

#include "storage/table/SDBTableData.h"
#include "storage/database/SDBTableDatabase.h"

namespace sdb {

// Progress of a long maintenance operation, in percent (0 .. 100).
using TSDBProgressCallback = std::function<void(int Percent)>;

// A database file opened for maintenance by this process alone (single
// user, exclusive, read-write).
class TSDBMaintenanceDatabase : public TSDBTableDatabase {
 public:
  explicit TSDBMaintenanceDatabase(int CacheCapacity = 0) : TSDBTableDatabase(CacheCapacity) {}

  // Opens the file exclusively for reading and writing. A file another
  // connection holds raises "Error - database file %s is in use." (10461),
  // a file that cannot be written kSDBErrMaintenanceReadOnly; other open
  // errors (wrong password, not a database) pass on.
  void OpenDatabase(const std::string& FileName, const std::string& Password);
  const std::string& FileName() const { return FFileName; }

 private:
  std::string FFileName;
};

struct TSDBRepairTableReport {
  std::string TableName;
  int64_t Records = 0;               // records read
  int64_t BlobsRead = 0;             // stored BLOB values read
  bool RecordPageIndexRebuilt = false;
  int IndexesRebuilt = 0;
  std::vector<std::string> Problems;  // what was found wrong in this table
};

struct TSDBRepairReport {
  double OldVersion = 0;
  bool InterruptedCommit = false;  // the header said a commit was interrupted
  bool OldFormat = false;          // converted from a version below 2.99
  std::vector<TSDBRepairTableReport> Tables;
  // Marked used but reached by nothing before the repair: now free. (The
  // replaced trees of rebuilt indexes are freed too, and not counted.)
  int32_t PagesReclaimed = 0;
  int32_t PagesMarkedUsed = 0;  // reached by a structure, marked free: now used
  int32_t PagesBefore = 0;
  int32_t PagesAfter = 0;
  // Problems found, one per line; empty when the file was sound.
  std::string Log;
  // A readable account of what was done (for tools).
  std::string Summary() const;
};

TSDBRepairReport SDBRepairDatabase(const std::string& FileName, const std::string& Password,
                                   const TSDBProgressCallback& Progress = {});

}  // namespace sdb
