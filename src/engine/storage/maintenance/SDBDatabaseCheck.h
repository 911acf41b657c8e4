// ==== Storage level 4 of 4: check, repair and compaction (storage/maintenance) ====
//
// This level owns the work done on a whole file from outside normal use:
// the consistency check (this header), repair (SDBRepair) and compaction
// (SDBCompact). It walks every structure of the levels below and may use
// all of them (storage/database, storage/table, storage/file) as well as
// common/, platform/ and include/sdb's value and error headers. Nothing
// below it includes it; the components and the tool call it.
//
// Consistency checks of a database file, for the check command, tests and
// repair: the file structure (header areas, page signatures and check
// values, PFS and EAM bitmaps, internal file chains) and every table (its
// metadata and counters, record page index against the stored record
// count, each record page's type and owner, every BLOB reference, the
// BLOB page index and every record index tree). Nothing is written.
//
// Each problem is one line of text naming where it is: the table and the
// page. A check never stops at the first problem and never raises for
// damage it finds; only a file that cannot be opened at all raises.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace sdb {

class TSDBDatabaseFreeSpaceManager;
class TSDBDiskPageCache;
class TSDBDiskPageManager;
class TSDBTableDatabase;
class TSDBMaintenanceDatabase;

// The file structure of a database opened (read-only) in Cache.
void SDBCheckFileStructure(TSDBDiskPageCache& Cache, std::vector<std::string>& Problems);
// Every table of an open database; answers the number of tables checked.
int SDBCheckTables(TSDBTableDatabase& Database, std::vector<std::string>& Problems);

struct TSDBDatabaseCheckResult {
  std::vector<std::string> Problems;
  // Pages allocated by a writer that failed or was killed before it
  // committed: marked used, referenced by nothing, never written. Not
  // damage; repair (or compaction) gives them back.
  std::vector<int32_t> Reclaimable;
  int TableCount = 0;
  bool Ok() const { return Problems.empty(); }
};

// The walk repair runs: the same checks over a database open for
// maintenance, answering what they reached instead of judging it.
struct TSDBDatabaseWalk {
  std::vector<std::string> Problems;       // file structure (header state and page usage left out)
  std::vector<std::string> TableProblems;  // tables
  std::set<int32_t> Reached;               // every page a structure reaches
  std::vector<bool> Used;                  // PFS bits of the pages in the file
  std::vector<int32_t> Orphans;            // marked used, reached by nothing (ascending)
  std::vector<int32_t> FreeButReached;     // reached, marked free (ascending)
  // Whether every table could be walked: only then are record, BLOB and
  // index pages outside Reached known to be orphans.
  bool TablesComplete = false;
  int TableCount = 0;
};
TSDBDatabaseWalk SDBWalkDatabase(TSDBMaintenanceDatabase& Database);

// Opens the file read-only and runs both checks. A file that cannot be
// opened raises its open error (wrong password, not a database, ...).
TSDBDatabaseCheckResult SDBCheckDatabase(const std::string& FileName, const std::string& Password = {});

// Page usage as the PFS pages record it (bits of the pages below Total);
// PFS pages that cannot be read or are not PFS pages are reported.
std::vector<bool> SDBReadPFSBits(TSDBDiskPageManager& PageManager, TSDBDatabaseFreeSpaceManager& FreeSpace,
                                 int32_t Total, std::vector<std::string>* Problems);

// The page type's name, also for values no page should hold.
std::string SDBCheckPageTypeName(uint16_t PageType);

}  // namespace sdb
