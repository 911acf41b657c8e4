// Helpers of the table, live-query and memory-table tests: two database
// components in two sessions on one multi-user file (they behave like two
// processes), and the engine error code of a call.
#pragma once

#include <memory>
#include <string>

#include "ExecFixture.h"

namespace sdbtest {

// The engine record error code (-1 .. -13) a call raised; 0 when it raised
// nothing, 1 for any other error.
inline int EngineCodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const sdb::ESDBEngineError& e) {
    return e.ErrorCode();
  } catch (const sdb::ESDBException&) {
    return 1;
  }
  return 0;
}

// One multi-user file shared by two sessions of this process.
class TwoSessionFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    ++counter;
    path = TempPath("h2_two");
    name = "TwoSessDB" + std::to_string(counter);
    {
      sdb::TSDBDatabase creator;
      creator.SetDatabaseName(name + "Creator");
      creator.SetDatabaseFileName(path);
      creator.CreateDatabase();
    }
    s1 = std::make_unique<sdb::TSDBSession>("H2First" + std::to_string(counter));
    s2 = std::make_unique<sdb::TSDBSession>("H2Second" + std::to_string(counter));
    d1 = Connect(*s1);
    d2 = Connect(*s2);
  }
  void TearDown() override {
    d1.reset();
    d2.reset();
    s1.reset();
    s2.reset();
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
  std::unique_ptr<sdb::TSDBDatabase> Connect(sdb::TSDBSession& s) {
    auto d = std::make_unique<sdb::TSDBDatabase>(&s);
    d->SetDatabaseName(name);
    d->SetDatabaseFileName(path);
    d->MultiUser = true;
    d->Open();
    return d;
  }
  // Runs a text without a result in the first (1) or second (2) session.
  int Exec(int session, const std::string& sql) {
    sdb::TSDBQuery q;
    Bind(q, session);
    q.SetSQL(sql);
    q.ExecSQL();
    return q.RowsAffected();
  }
  Rows Query(int session, const std::string& sql) {
    sdb::TSDBQuery q;
    Bind(q, session);
    q.SetSQL(sql);
    q.Open();
    return RowsOf(q);
  }
  void Bind(sdb::TSDBDataSet& ds, int session) {
    ds.DatabaseName = name;
    ds.SessionName = (session == 1 ? s1 : s2)->SessionName();
  }

  std::string path, name;
  std::unique_ptr<sdb::TSDBSession> s1, s2;
  std::unique_ptr<sdb::TSDBDatabase> d1, d2;
};

}  // namespace sdbtest
