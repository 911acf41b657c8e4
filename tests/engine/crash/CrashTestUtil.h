// A database file for crash tests, driven through the database and query
// components as the application drives it, and the fingerprint of its
// content that tells "before" from "after" a statement.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/SDBConnection.h"
#include "sdb/SDBComponents.h"
#include "storage/maintenance/SDBDatabaseCheck.h"
#include "storage/file/SDBJournal.h"

namespace sdbcrash {

inline std::string CrashPath(const std::string& stem) {
  static int counter = 0;
  return (std::filesystem::temp_directory_path() /
          (stem + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + ".sdb"))
      .string();
}

inline void RemoveDatabase(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  std::filesystem::remove(sdb::TSDBJournal::FileNameFor(path), ec);
}

inline void CopyDatabase(const std::string& from, const std::string& to) {
  RemoveDatabase(to);
  std::filesystem::copy_file(from, to);
}

// One open database component.
class TDb {
 public:
  TDb(const std::string& path, sdb::TSDBDurability durability, bool create = false, bool multiUser = false) {
    static int counter = 0;
    FName = "CrashDB" + std::to_string(++counter);
    FDb = std::make_unique<sdb::TSDBDatabase>();
    FDb->SetDatabaseName(FName);
    FDb->SetDatabaseFileName(path);
    FDb->Durability = durability;
    FDb->SilentMode = true;
    FDb->MultiUser = multiUser;
    if (create) FDb->CreateDatabase();
    FDb->Open();
  }
  sdb::TSDBDatabase& Db() { return *FDb; }
  int Exec(const std::string& sql, const std::vector<std::pair<std::string, std::string>>& params = {}) {
    sdb::TSDBQuery q;
    q.DatabaseName = FName;
    q.SetSQL(sql);
    for (const auto& [k, v] : params) q.ParamByName(k).SetAsString(v);
    q.ExecSQL();
    return q.RowsAffected();
  }
  // Every row of a query, one text per row.
  std::string Rows(const std::string& sql) {
    sdb::TSDBQuery q;
    q.DatabaseName = FName;
    q.SetSQL(sql);
    q.Open();
    std::string out;
    for (q.First(); !q.Eof(); q.Next()) {
      for (int i = 0; i < q.FieldCount(); ++i) {
        const sdb::TSDBVariant& v = q.Fields(i).Value();
        out += v.IsNull() ? std::string("NULL") : v.AsString();
        out += '|';
      }
      out += '\n';
    }
    q.Close();
    return out;
  }
  std::string Plan(const std::string& sql) {
    sdb::TSDBQuery q;
    q.DatabaseName = FName;
    q.SetSQL(sql);
    return q.Plan();
  }

 private:
  std::string FName;
  std::unique_ptr<sdb::TSDBDatabase> FDb;
};

}  // namespace sdbcrash
