// Shared fixture of the component and execution tests: a fresh database
// file per test behind a database component, and helpers that run SQL
// through a query component.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "sdb/SDBException.h"
#include "sdb/SDBComponents.h"
// The component tests also look at the connection, the result set and the
// engine parameter list behind the components.
#include "components/SDBConnection.h"
#include "sql/SDBExecResult.h"
#include "sql/SDBSQLParams.h"

namespace sdbtest {

using Rows = std::vector<std::vector<std::string>>;
using Params = std::vector<std::pair<std::string, std::string>>;

inline int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const sdb::ESDBException& e) {
    return e.NativeError();
  }
  return 0;
}

inline std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return {};
}

inline std::string TempPath(const std::string& stem) {
  static int counter = 0;
  return (std::filesystem::temp_directory_path() /
          (stem + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + ".sdb"))
      .string();
}

// Text of a value for comparisons: NULL for null values.
inline std::string Text(const sdb::TSDBVariant& v) { return v.IsNull() ? "NULL" : v.AsString(); }

// Every row of an open dataset as texts, from the first.
inline Rows RowsOf(sdb::TSDBDataSet& q) {
  Rows out;
  for (q.First(); !q.Eof(); q.Next()) {
    std::vector<std::string> row;
    for (int i = 0; i < q.FieldCount(); ++i) row.push_back(Text(q.Fields(i).Value()));
    out.push_back(std::move(row));
  }
  return out;
}

// What a query gives: its rows as "v1,v2,|" per row when Open is true, ""
// after ExecSQL; "error <code>" when it fails.
inline std::string OutcomeOf(sdb::TSDBQuery& q, bool Open = true) {
  std::string out;
  const int code = CodeOf([&] {
    if (!Open) return q.ExecSQL();
    q.Open();
    for (const auto& row : RowsOf(q)) {
      for (const auto& v : row) out += v + ",";
      out += "|";
    }
    q.Close();
  });
  return code ? "error " + std::to_string(code) : out;
}

class ExecFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    path = TempPath("h5_exec");
    name = "ExecDB" + std::to_string(++dbCounter);
    db = std::make_unique<sdb::TSDBDatabase>();
    db->SetDatabaseName(name);
    db->SetDatabaseFileName(path);
    db->Password = password;
    db->CreateDatabase();
    db->Open();
  }
  void TearDown() override {
    db.reset();
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
  void Prepare(sdb::TSDBQuery& q, const std::string& sql, const Params& params) {
    q.DatabaseName = name;
    q.SetSQL(sql);
    for (const auto& [k, v] : params) q.ParamByName(k).SetAsString(v);
  }
  // Runs a text without a result; returns the rows affected.
  int Exec(const std::string& sql, const Params& params = {}) {
    sdb::TSDBQuery q;
    Prepare(q, sql, params);
    q.ExecSQL();
    return q.RowsAffected();
  }
  // Every row of the text's result as texts.
  Rows Query(const std::string& sql, const Params& params = {}) {
    sdb::TSDBQuery q;
    Prepare(q, sql, params);
    q.Open();
    Rows out = RowsOf(q);
    q.Close();
    return out;
  }
  std::string Plan(const std::string& sql) {
    sdb::TSDBQuery q;
    Prepare(q, sql, {});
    return q.Plan();
  }

  static inline int dbCounter = 0;
  std::string password;
  std::string path;
  std::string name;
  std::unique_ptr<sdb::TSDBDatabase> db;
};

}  // namespace sdbtest
