#include "ToolDatabase.h"

#include <iostream>

namespace tessdb {

void OpenToolDatabase(sdb::TSDBDatabase& db, const std::string& file, const std::string& password,
                      sdb::TSDBDurability durability, bool readOnly) {
  db.SetDatabaseName(kToolDatabaseName);
  db.SetDatabaseFileName(file);
  db.Password = password;
  db.MultiUser = !readOnly;
  db.SilentMode = true;
  db.Durability = durability;
  db.SetReadOnly(readOnly);
  db.Open();
  // What the file holds may be half a change. It can still be read (to see
  // or save what is there), never written, until repaired.
  if (db.RepairNeeded() && !db.ReadOnly()) {
    db.Close();
    db.SetReadOnly(true);
    db.Open();
  }
  if (db.RepairNeeded())
    std::cerr << "warning: database " << file
              << " needs repair (a commit was interrupted): opened read-only, changes are refused until "
                 "tessaly-db repair "
              << file << " has run\n";
}

}  // namespace tessdb
