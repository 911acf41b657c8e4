// What the tool says and how it exits around interrupted writers: pages a
// killed writer allocated are reclaimable (check and info agree, repair
// frees them), a file whose commit was interrupted without a journal is
// only read by sql and repaired by repair, and a journal left by a killed
// writer is applied by the next check.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "../ToolRun.h"
#include "CrashTestUtil.h"
#include "FaultFileIO.h"
#include "sdb/SDBException.h"
#include "storage/file/SDBDiskPageCache.h"
#include "storage/file/SDBSystemDirectory.h"

using namespace sdbcrash;
using sdbtest::Tool;

namespace {

class ToolExit : public ::testing::Test {
 protected:
  void SetUp() override {
    path = CrashPath("tool_exit");
    TDb db(path, sdb::TSDBDurability::Off, true);
    db.Exec("CREATE TABLE t (id INTEGER, s VARCHAR(20))");
    db.Exec("INSERT INTO t (id, s) VALUES (1, 'one')");
  }
  void TearDown() override { RemoveDatabase(path); }
  std::string path;
};

TEST_F(ToolExit, PagesOfAKilledWriterAreReclaimableNotDamage) {
  {
    // A writer allocates pages and stops before committing them.
    sdb::TSDBDiskPageCache cache;
    bool readOnly = false, repair = false, multi = false;
    cache.OpenDatabase(path, {}, readOnly, repair, false, multi);
    for (int i = 0; i < 3; ++i) sdb::SDBAddPageGuard(cache, 0, sdb::ptTableRecord);
    cache.CloseDatabase();
  }
  sdbtest::TRun check = Tool("check " + path);
  EXPECT_EQ(check.Code, 0) << check.Output;
  EXPECT_NE(check.Output.find("3 page(s) reclaimable"), std::string::npos) << check.Output;
  sdbtest::TRun info = Tool("info " + path);
  EXPECT_NE(info.Output.find("reclaimable pages    3"), std::string::npos) << info.Output;
  sdbtest::TRun repair = Tool("repair " + path);
  EXPECT_EQ(repair.Code, 0) << repair.Output;
  EXPECT_NE(Tool("info " + path).Output.find("reclaimable pages    0"), std::string::npos);
}

TEST_F(ToolExit, ARepairThatLeavesProblemsExitsNonZeroAndSaysWhatIsLeft) {
  {
    // The table's definition is lost: nothing can rebuild it.
    sdb::TSDBDiskPageCache cache;
    bool readOnly = false, repair = false, multi = false;
    cache.OpenDatabase(path, {}, readOnly, repair, false, multi);
    int wiped = 0;
    for (int32_t p = 0; p < cache.GetPageCount(); ++p) {
      sdb::TSDBPageGuard g;
      try {
        g = sdb::SDBGetPageGuard(cache, 0, p, sdb::kSDBAnyPageType, false);
      } catch (const sdb::ESDBException&) {
        continue;
      }
      if (g->PageType() != sdb::ptTableMetaData) continue;
      std::memset(g->Data(), 0xA5, g->DataSize());
      g->MarkDirty();
      ++wiped;
    }
    cache.ApplyChanges(0);
    cache.CloseDatabase();
    ASSERT_GT(wiped, 0);
  }
  sdbtest::TRun repair = Tool("repair " + path);
  EXPECT_EQ(repair.Code, 1) << repair.Output;
  EXPECT_NE(repair.Output.find("still: "), std::string::npos) << repair.Output;
  EXPECT_NE(repair.Output.find("problem(s) remain"), std::string::npos) << repair.Output;
  EXPECT_EQ(Tool("check " + path).Code, 1);
}

TEST_F(ToolExit, InterruptedCommitWithoutJournalIsReadOnlyUntilRepaired) {
  {
    // Another program's commit stopped between its header writes.
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(42);
    f.put(1);
  }
  // Reads work, with a warning; every kind of write is refused and says why.
  sdbtest::TRun sql = Tool("sql " + path + " \"SELECT s FROM t\"");
  EXPECT_EQ(sql.Code, 0) << sql.Output;
  EXPECT_NE(sql.Output.find("one"), std::string::npos) << sql.Output;
  EXPECT_NE(sql.Output.find("warning: database " + path + " needs repair"), std::string::npos) << sql.Output;
  for (const char* write : {"INSERT INTO t (id, s) VALUES (2, 'two')", "UPDATE t SET s = 'x'", "DELETE FROM t",
                            "CREATE TABLE u (id INTEGER)", "DROP TABLE t"}) {
    sql = Tool("sql " + path + " \"" + write + "\"");
    EXPECT_EQ(sql.Code, 1) << write << "\n" << sql.Output;
    EXPECT_NE(sql.Output.find("it is open read-only"), std::string::npos) << write << "\n" << sql.Output;
  }
  sql = Tool("sql " + path + " \"SELECT COUNT(*) FROM t\"");
  EXPECT_NE(sql.Output.find("1 "), std::string::npos) << sql.Output;
  EXPECT_EQ(Tool("check " + path).Code, 1);
  sdbtest::TRun repair = Tool("repair " + path);
  EXPECT_EQ(repair.Code, 0) << repair.Output;
  sql = Tool("sql " + path + " --durability normal \"SELECT s FROM t\"");
  EXPECT_EQ(sql.Code, 0) << sql.Output;
  EXPECT_NE(sql.Output.find("one"), std::string::npos) << sql.Output;
  EXPECT_EQ(Tool("sql " + path + " --durability sometimes \"SELECT s FROM t\"").Code, 1);
}

TEST_F(ToolExit, CheckAppliesTheJournalOfAKilledWriter) {
  // Killed after the fourth write of the statement: inside the commit.
  {
    TFaultFileIO io;
    io.ArmOp = TOp::Write;
    io.ArmAt = 4;
    io.ArmAction = TAction::Kill;
    TFileIOScope scope(&io);
    try {
      TDb db(path, sdb::TSDBDurability::Off);
      db.Exec("UPDATE t SET s = 'two'");
    } catch (...) {
    }
    ASSERT_TRUE(io.Dead);
  }
  ASSERT_TRUE(sdb::TSDBJournal::IsHot(path));
  sdbtest::TRun check = Tool("check " + path);
  EXPECT_EQ(check.Code, 0) << check.Output;
  EXPECT_FALSE(sdb::TSDBJournal::IsHot(path));
  sdbtest::TRun sql = Tool("sql " + path + " \"SELECT s FROM t\"");
  EXPECT_NE(sql.Output.find("one"), std::string::npos) << sql.Output;
}

}  // namespace
