// Several processes running statements on one shared file at once: none
// fails and no change is lost.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "../ToolRun.h"
#include "../components/ExecFixture.h"

using namespace sdbtest;

TEST(ExecProcesses, ConcurrentUpdatesAndInsertsLoseNothing) {
  const std::string path = TempPath("exec_processes");
  ASSERT_EQ(Tool("create " + path).Code, 0);
  ASSERT_EQ(Tool("sql " + path + " \"CREATE TABLE C (K VARCHAR(10), N INTEGER, P INTEGER)\"").Code, 0);
  ASSERT_EQ(Tool("sql " + path + " \"INSERT INTO C VALUES ('c', 0, 0)\"").Code, 0);

  // Each text updates the shared counter and inserts a row: a process that
  // opens the table while another commits must still see one consistent
  // state of its counters and record pages.
  constexpr int kProcesses = 4, kRuns = 20;
  pid_t children[kProcesses];
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < kRuns; ++i) {
        TRun r = Tool("sql " + path + " \"UPDATE C SET N = N + 1 WHERE K = 'c'; INSERT INTO C VALUES ('p', " +
                      std::to_string(i) + ", " + std::to_string(p) + ")\"");
        if (r.Code != 0) {
          fprintf(stderr, "process %d, run %d: %s", p, i, r.Output.c_str());
          ++failures;
        }
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children[p] = pid;
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  TRun r = Tool("sql " + path + " --csv \"SELECT N FROM C WHERE K = 'c'\"");
  EXPECT_EQ(r.Output, "N\n" + std::to_string(kProcesses * kRuns) + "\n");
  r = Tool("sql " + path + " --csv \"SELECT COUNT(*) AS R FROM C WHERE K = 'p'\"");
  EXPECT_EQ(r.Output, "R\n" + std::to_string(kProcesses * kRuns) + "\n");
  r = Tool("check " + path);
  EXPECT_EQ(r.Code, 0) << r.Output;
  std::filesystem::remove(path);
}

// A connection that stays open keeps the pages it read cached between
// statements. Whatever another process commits in between (a changed
// value, new rows that split index and record pages, deleted rows) must be
// what the next statement reads, through the index and through a scan.
TEST(ExecProcesses, NextStatementSeesWhatAnotherProcessCommitted) {
  const std::string path = TempPath("exec_seen");
  ASSERT_EQ(Tool("create " + path).Code, 0);
  ASSERT_EQ(Tool("sql " + path + " \"CREATE TABLE P (K VARCHAR(20), V VARCHAR(40)); CREATE INDEX ByK ON P (K)\"").Code,
            0);
  std::string rows = "INSERT INTO P VALUES ('k0', 'v0')";
  for (int i = 1; i < 300; ++i) rows += ", ('k" + std::to_string(i) + "', 'v" + std::to_string(i) + "')";
  ASSERT_EQ(Tool("sql " + path + " \"" + rows + "\"").Code, 0);

  sdb::TSDBDatabase db;
  db.SetDatabaseName("SeenByNextStatement");
  db.SetDatabaseFileName(path);
  db.MultiUser = true;
  db.Open();
  auto query = [&](const std::string& sql) {
    sdb::TSDBQuery q;
    q.DatabaseName = db.DatabaseName();
    q.ReadOnly = true;
    q.SetSQL(sql);
    q.Open();
    Rows out = RowsOf(q);
    q.Close();
    return out;
  };
  const std::string byKey = "SELECT V FROM P WHERE K = 'k7'";
  const std::string scan = "SELECT COUNT(*) FROM P WHERE V LIKE 'w%'";
  struct Case {
    const char* change;   // run by another process
    const char* byKey;    // then seen through the index
    const char* scanned;  // and by a scan
  } cases[] = {
      {"UPDATE P SET V = 'w1' WHERE K = 'k7'", "w1", "1"},
      {"UPDATE P SET V = 'w2' WHERE K = 'k7'; INSERT INTO P VALUES ('k7', 'w3')", "w2|w3", "2"},
      {"DELETE FROM P WHERE K = 'k7' AND V = 'w2'", "w3", "1"},
      {"UPDATE P SET V = 'w4' WHERE K <> 'k7'", "w3", "300"},
  };
  for (const Case& c : cases) {
    // Read first, so that the pages are cached when the change comes.
    query(byKey);
    query(scan);
    ASSERT_EQ(Tool("sql " + path + " \"" + c.change + "\"").Code, 0) << c.change;
    std::string seen;
    for (const auto& r : query(byKey)) seen += (seen.empty() ? "" : "|") + r[0];
    // Order by value for the two-row case.
    if (seen == "w3|w2") seen = "w2|w3";
    EXPECT_EQ(seen, c.byKey) << c.change;
    EXPECT_EQ(query(scan), Rows{{c.scanned}}) << c.change;
  }
  db.Close();
  std::filesystem::remove(path);
}

// Another process rebuilds a table the connection has read, twice in a
// row: the rebuilds reuse the same page numbers for different contents, so
// nothing cached from the first layout may be taken for the second.
TEST(ExecProcesses, ATableRebuiltTwiceByAnotherProcessIsReadAsItIsNow) {
  struct Case {
    const char* changes[2];  // each run by another process, one after the other
    const char* rows;        // SELECT * FROM S WHERE K = 'a' afterwards
  } cases[] = {
      {{"ALTER TABLE S ADD W VARCHAR(5)", "ALTER TABLE S DROP V"}, "a,NULL"},
      {{"ALTER TABLE S ADD W VARCHAR(5); CREATE INDEX ByK ON S (K)", "ALTER TABLE S DROP V"}, "a,NULL"},
      {{"ALTER TABLE S MODIFY V VARCHAR(20)", "ALTER TABLE S ADD W INTEGER DEFAULT 4"}, "a,1,4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.changes[0]) + " then " + c.changes[1]);
    const std::string path = TempPath("exec_rebuilt");
    ASSERT_EQ(Tool("create " + path).Code, 0);
    sdb::TSDBDatabase db;
    db.SetDatabaseName("RebuiltTwice");
    db.SetDatabaseFileName(path);
    db.MultiUser = true;
    db.Open();
    auto run = [&](const std::string& sql) {
      sdb::TSDBQuery q;
      q.DatabaseName = db.DatabaseName();
      q.SetSQL(sql);
      std::string out;
      const int code = CodeOf([&] {
        if (sql.rfind("SELECT", 0) != 0) return q.ExecSQL();
        q.Open();
        for (const auto& row : RowsOf(q)) {
          for (const auto& v : row) out += (out.empty() ? "" : ",") + v;
        }
        q.Close();
      });
      return code ? "error " + std::to_string(code) : out;
    };
    ASSERT_EQ(run("CREATE TABLE S (K VARCHAR(10), V INTEGER)"), "");
    ASSERT_EQ(run("INSERT INTO S VALUES ('a', 1), ('b', 2)"), "");
    ASSERT_EQ(run("SELECT * FROM S WHERE K = 'a'"), "a,1");
    for (const char* change : c.changes) ASSERT_EQ(Tool("sql " + path + " \"" + change + "\"").Code, 0) << change;
    EXPECT_EQ(run("SELECT * FROM S WHERE K = 'a'"), c.rows);
    EXPECT_EQ(run("SELECT COUNT(*) FROM S"), "2");
    db.Close();
    std::filesystem::remove(path);
  }
}

// The settings store's statements on a kept connection: the read, the
// existence test and the update-or-insert each see what another process
// committed just before, and the next change of that process is not held
// up by anything a finished statement left locked. The other process also
// makes a new table, which grows the file beyond what this connection read
// of it before.
TEST(ExecProcesses, SettingsStatementsOfAKeptConnectionSeeAnotherProcess) {
  const std::string path = TempPath("exec_settings_seen");
  ASSERT_EQ(Tool("create " + path).Code, 0);
  ASSERT_EQ(Tool("sql " + path +
                 " \"CREATE TABLE S (Sec VARCHAR(20), K VARCHAR(20), V VARCHAR(40)); CREATE INDEX ByK ON S (K, Sec); "
                 "INSERT INTO S VALUES ('a', 'k1', 'v1'), ('a', 'k2', 'v2'), ('a', 'k3', 'v3')\"")
                .Code,
            0);
  sdb::TSDBDatabase db;
  db.SetDatabaseName("SettingsSeenByNextStatement");
  db.SetDatabaseFileName(path);
  db.MultiUser = true;
  db.Open();
  auto read = [&](const std::string& table, const std::string& key) {
    sdb::TSDBQuery q;
    q.DatabaseName = db.DatabaseName();
    q.ReadOnly = true;
    q.SetSQL("SELECT V FROM " + table + " WHERE Sec = :Sec AND K = :K");
    q.ParamByName("Sec").SetAsString("a");
    q.ParamByName("K").SetAsString(key);
    q.Open();
    Rows out = RowsOf(q);
    q.Close();
    return out;
  };
  auto exists = [&](const std::string& key) { return read("S", key).size(); };
  // The store's write: the existence test, then the update or the insert.
  auto put = [&](const std::string& key, const std::string& value) {
    const bool found = exists(key) == 1;
    sdb::TSDBQuery q;
    q.DatabaseName = db.DatabaseName();
    q.SetSQL(found ? "UPDATE S SET V = :V WHERE Sec = :Sec AND K = :K" : "INSERT INTO S VALUES (:Sec, :K, :V)");
    q.ParamByName("Sec").SetAsString("a");
    q.ParamByName("K").SetAsString(key);
    q.ParamByName("V").SetAsString(value);
    q.ExecSQL();
    EXPECT_EQ(q.RowsAffected(), 1) << key;
  };
  auto other = [&](const std::string& sql) {
    TRun r = Tool("sql " + path + " \"" + sql + "\"");
    EXPECT_EQ(r.Code, 0) << sql << ": " << r.Output;
  };
  auto otherReads = [&](const std::string& key) {
    return Tool("sql " + path + " --csv \"SELECT V FROM S WHERE K = '" + key + "'\"").Output;
  };

  // Everything read once, so that pages, counters and locks files are kept.
  ASSERT_EQ(read("S", "k1"), (Rows{{"v1"}}));
  ASSERT_EQ(exists("k4"), 0u);

  other("UPDATE S SET V = 'w1' WHERE K = 'k1'");
  EXPECT_EQ(read("S", "k1"), (Rows{{"w1"}}));

  other("INSERT INTO S VALUES ('a', 'k4', 'v4')");
  EXPECT_EQ(exists("k4"), 1u);
  other("DELETE FROM S WHERE K = 'k2'");
  EXPECT_EQ(exists("k2"), 0u);

  other("UPDATE S SET V = 'w3' WHERE K = 'k3'");
  put("k3", "mine3");
  EXPECT_EQ(otherReads("k3"), "V\nmine3\n");
  other("DELETE FROM S WHERE K = 'k3'");
  put("k3", "again3");
  EXPECT_EQ(otherReads("k3"), "V\nagain3\n");

  // A table made and filled elsewhere lies in pages this connection never
  // counted.
  std::string rows = "CREATE TABLE N (Sec VARCHAR(20), K VARCHAR(20), V VARCHAR(40)); INSERT INTO N VALUES ('a', 'n0', 'x0')";
  for (int i = 1; i < 400; ++i) rows += ", ('a', 'n" + std::to_string(i) + "', 'x" + std::to_string(i) + "')";
  other(rows);
  EXPECT_EQ(read("N", "n399"), (Rows{{"x399"}}));
  other("UPDATE N SET V = 'y' WHERE K = 'n399'");
  EXPECT_EQ(read("N", "n399"), (Rows{{"y"}}));
  db.Close();
  std::filesystem::remove(path);
}
