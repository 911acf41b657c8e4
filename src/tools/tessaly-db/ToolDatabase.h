// The database component through which the tool's commands reach a file
// (sql, plan, tables, create-table, import, export).
#pragma once

#include <string>

#include "sdb/SDBComponents.h"
#include "sdb/SDBDurability.h"

namespace tessdb {

// The DatabaseName the commands' datasets use.
inline constexpr const char* kToolDatabaseName = "tessaly-db";

// Opens the file in db without dialogs. A writer shares the file with
// other processes in multi-user mode. A reader (readOnly) opens it as a
// single user, as the file inspection commands do: it takes no lock per
// record, which would make reading a large table several times slower,
// and in exchange a commit another process runs meanwhile may show in
// part. A file whose commit was interrupted and that no journal could undo
// is opened read-only, with a warning on standard error, until repaired.
void OpenToolDatabase(sdb::TSDBDatabase& db, const std::string& file, const std::string& password,
                      sdb::TSDBDurability durability = sdb::kSDBDefaultDurability, bool readOnly = false);

}  // namespace tessdb
