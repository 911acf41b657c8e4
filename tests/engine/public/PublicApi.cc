// Builds against the engine's public headers only (the target adds no
// private folder): creates a database, writes and reads a table with a
// query, and reports a wrong result or an engine error through its exit code.
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "sdb/SDBComponents.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"

int main() {
  namespace fs = std::filesystem;
  const fs::path path = fs::temp_directory_path() / ("sdb_public_api_" + std::to_string(getpid()) + ".sdb");
  int rc = 0;
  try {
    sdb::TSDBDatabase db;
    db.SetDatabaseName("PublicApi");
    db.SetDatabaseFileName(path.string());
    db.CreateDatabase();
    db.Open();
    sdb::TSDBQuery q;
    q.DatabaseName = "PublicApi";
    q.SetSQL("CREATE TABLE T (ID INTEGER, NAME VARCHAR(20))");
    q.ExecSQL();
    q.SetSQL("INSERT INTO T (ID, NAME) VALUES (:ID, :NAME)");
    q.ParamByName("ID").SetAsInteger(7);
    q.ParamByName("NAME").SetAsString("seven");
    q.ExecSQL();
    q.SetSQL("SELECT NAME FROM T WHERE ID = 7");
    q.Open();
    if (q.RecordCount() != 1 || q.FieldByName("NAME").AsString() != "seven") {
      std::fprintf(stderr, "unexpected result\n");
      rc = 1;
    }
    q.Close();
    try {
      q.FieldByName("NAME");
      std::fprintf(stderr, "a closed dataset gave a field\n");
      rc = 1;
    } catch (const sdb::ESDBException& e) {
      if (e.NativeError() != sdb::kSDBErrDataSetClosed) {
        std::fprintf(stderr, "unexpected error %d: %s\n", e.NativeError(), e.what());
        rc = 1;
      }
    }
    db.Close();
  } catch (const sdb::ESDBException& e) {
    std::fprintf(stderr, "engine error: %s\n", e.what());
    rc = 1;
  }
  std::error_code ec;
  fs::remove(path, ec);
  return rc;
}
