// Crash safety of truncating a database file: a process killed at every
// write or size change of the truncation (or with that write torn), and a
// disk that fails at each of them. The next open must find the file either
// as it was or truncated, its header's page count matching its size, its
// rows intact and its structure sound.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "CrashTestUtil.h"
#include "FaultFileIO.h"

using namespace sdbcrash;
using sdb::TSDBDurability;

namespace {

// TotalPageCount of the header and the file's size.
std::pair<int32_t, uint64_t> Shape(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  uint8_t b[4] = {};
  in.seekg(30);
  in.read(reinterpret_cast<char*>(b), 4);
  const int32_t total = static_cast<int32_t>(b[0] | b[1] << 8 | b[2] << 16 | uint32_t{b[3]} << 24);
  return {total, std::filesystem::file_size(path)};
}

class TruncateCrash : public ::testing::Test {
 protected:
  void SetUp() override {
    templ = CrashPath("truncate_template");
    work = CrashPath("truncate_work");
    {
      TDb db(templ, TSDBDurability::Off, true);
      db.Exec("CREATE TABLE acct (id INTEGER, label VARCHAR(40))");
      for (int i = 0; i < 50; ++i) db.Exec("INSERT INTO acct VALUES (" + std::to_string(i) + ", 'account')");
      db.Exec("CREATE TABLE big (id INTEGER, body BLOB)");
      for (int i = 0; i < 30; ++i)
        db.Exec("INSERT INTO big VALUES (:i, :b)", {{"i", std::to_string(i)}, {"b", std::string(5000 + i, 'b')}});
      db.Exec("DROP TABLE big");
      rows = db.Rows("SELECT id, label FROM acct ORDER BY id");
    }
    before = Shape(templ);
    CopyDatabase(templ, work);
    Truncate();
    after = Shape(work);
    ASSERT_LT(after.first, before.first) << "the dropped table should leave free pages to cut";
    const auto [total, size] = after;
    EXPECT_EQ(size, 380 + uint64_t(total) * 4096);
  }
  void TearDown() override {
    RemoveDatabase(templ);
    RemoveDatabase(work);
  }
  void Truncate() {
    sdb::TSDBDatabase db;
    db.SetDatabaseName("TruncateCrash");
    db.SetDatabaseFileName(work);
    db.Durability = TSDBDurability::Full;
    db.TruncateDatabase();
  }
  // Runs the truncation of a fresh copy with io installed; answers whether
  // it failed.
  bool RunWith(TFaultFileIO& io) {
    CopyDatabase(templ, work);
    TFileIOScope scope(&io);
    try {
      Truncate();
    } catch (const std::exception&) {
      return true;
    }
    return false;
  }
  // The file as the next process finds it.
  void ExpectSound(const std::string& what) {
    {
      TDb db(work, TSDBDurability::Full);
      EXPECT_FALSE(db.Db().RepairNeeded()) << what;
      EXPECT_EQ(db.Rows("SELECT id, label FROM acct ORDER BY id"), rows) << what;
    }
    const auto shape = Shape(work);
    EXPECT_TRUE(shape == before || shape == after)
        << what << ": " << shape.first << " pages in the header, " << shape.second << " bytes";
    sdb::TSDBDatabaseCheckResult check = sdb::SDBCheckDatabase(work);
    EXPECT_TRUE(check.Ok()) << what << ": " << (check.Problems.empty() ? "" : check.Problems.front());
  }

  std::string templ, work, rows;
  std::pair<int32_t, uint64_t> before, after;
};

TEST_F(TruncateCrash, KilledTornOrFailingAtEveryWriteAndSizeChange) {
  TFaultFileIO counted;
  {
    CopyDatabase(templ, work);
    TFileIOScope scope(&counted);
    Truncate();
  }
  const struct {
    TOp Op;
    TAction Action;
    const char* Name;
  } faults[] = {
      {TOp::Write, TAction::Kill, "killed at write"},
      {TOp::Write, TAction::Tear, "torn at write"},
      {TOp::Write, TAction::Fail, "disk failing at write"},
      {TOp::SetSize, TAction::Kill, "killed at size change"},
      {TOp::SetSize, TAction::Fail, "disk failing at size change"},
  };
  ASSERT_GE(counted.Calls[static_cast<int>(TOp::SetSize)], 1);
  for (const auto& f : faults) {
    const int calls = counted.Calls[static_cast<int>(f.Op)];
    for (int at = 1; at <= calls; ++at) {
      TFaultFileIO io;
      io.ArmOp = f.Op;
      io.ArmAt = at;
      io.ArmAction = f.Action;
      const bool failed = RunWith(io);
      ASSERT_TRUE(io.Fired);
      const std::string what = std::string(f.Name) + " " + std::to_string(at);
      // A truncation that reported success is complete.
      if (!failed && !io.Dead) {
        EXPECT_EQ(Shape(work), after) << what;
      }
      ExpectSound(what);
      if (HasFailure()) return;
    }
  }
}

}  // namespace
