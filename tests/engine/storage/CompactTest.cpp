// Compaction: the file shrinks, every remaining row, BLOB value, index and
// counter stays, the password stays, and a compaction that fails leaves the
// original as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <tuple>

#include "../table/TableTestUtil.h"
#include "storage/maintenance/SDBCompact.h"
#include "storage/maintenance/SDBDatabaseCheck.h"

using namespace sdb;
using namespace sdbtest;

namespace {

constexpr int kRows = 3000;
const std::string kPassword = "s3cret";
using Row = IdNameNoteRow;

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class CompactFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    path = (std::filesystem::temp_directory_path() / ("h1_compact_" + std::to_string(::getpid()) + ".sdb")).string();
    TSDBCreateDatabaseParams p;
    p.FileName = path;
    p.Password = kPassword;
    p.CryptoAlgorithm = craBlowfish;
    p.MaxConnections = 30;
    db.CreateDatabase(p);
    std::vector<std::unique_ptr<TSDBIndexDef>> ix;
    ix.push_back(IndexDef("BYNAME", {{"NAME", true}}));
    db.CreateTable("T", Fields({{"ID", aftAutoInc}, {"NAME", aftString, 40}, {"NOTE", aftMemo}}), {},
                   Indexes(std::move(ix)));
    TSDBCursor c;
    c.FInTransaction = true;
    db.OpenTable(c, "T");
    TSDBDiskTableData& t = *c.TableData;
    for (int i = 0; i < kRows; ++i) {
      c.EditRecordBuffer = t.NewRecordBuffer();
      t.SetFieldValue(c.EditRecordBuffer, 1, TSDBVariant::FromString("n" + std::to_string(i * 7919 % kRows)));
      if (i % 3) t.WriteBLOBFieldToRecordBuffer(c.EditRecordBuffer, 2, Bytes(i % 50 == 0 ? 9000 : 300, i));
      ASSERT_TRUE(t.InsertRecord(c));
    }
    db.Commit(c.SessionID);
    // Most rows go, the last ones (highest counter values) among them.
    // (A delete moves the cursor on: passes repeat until none deletes.)
    for (bool deleted = true; deleted;) {
      deleted = false;
      c.FirstPosition = true;
      c.LastPosition = false;
      while (t.GetRecordBuffer(c, grmNext) == grrOK) {
        const int64_t id = t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64();
        if (id % 10 != 0 || id > kRows - 20) {
          ASSERT_TRUE(t.DeleteRecord(c));
          deleted = true;
        }
      }
    }
    db.Commit(c.SessionID);
    LastAutoinc = t.FieldManager().GetLastAutoinc(0);
    db.CloseTable(c);
    Expected = Rows();
    ASSERT_EQ(Expected.size(), size_t{kRows / 10 - 2});
    db.CloseDatabase();
  }
  void TearDown() override {
    db.CloseDatabase();
    std::filesystem::remove(path);
    std::filesystem::remove(path + kSDBCompactSuffix);
  }

  std::vector<Row> Rows() { return ReadIdNameNoteRows(db, "T"); }


  std::string path;
  TSDBTableDatabase db{200};
  std::vector<Row> Expected;
  int64_t LastAutoinc = 0;
};

TEST_F(CompactFixture, CompactionShrinksTheFileAndKeepsRowsIndexesCountersAndPassword) {
  const int64_t before = static_cast<int64_t>(std::filesystem::file_size(path));
  std::vector<int> progress;
  const TSDBCompactReport r = SDBCompactDatabase(path, kPassword, [&](int p) { progress.push_back(p); });
  EXPECT_EQ(r.SizeBefore, before);
  EXPECT_EQ(r.SizeAfter, static_cast<int64_t>(std::filesystem::file_size(path)));
  EXPECT_LT(r.SizeAfter * 3, before) << "most of the rows are gone";
  EXPECT_EQ(r.Records, static_cast<int64_t>(Expected.size()));
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(), 100);
  EXPECT_FALSE(std::filesystem::exists(path + kSDBCompactSuffix));

  const TSDBDatabaseCheckResult check = SDBCheckDatabase(path, kPassword);
  EXPECT_TRUE(check.Ok()) << (check.Problems.empty() ? "" : check.Problems.front());
  EXPECT_EQ(NativeOf([&] { db.OpenDatabase(path, "wrong"); }), 30445);
  db.OpenDatabase(path, kPassword);
  EXPECT_TRUE(db.Cache().DiskPageManager().Encrypted());
  EXPECT_EQ(db.Cache().DiskPageManager().CryptoHeader().CryptoAlgorithm, craBlowfish);
  EXPECT_EQ(db.MaxSessionCount(), 30);
  EXPECT_EQ(Rows(), Expected);

  TSDBCursor c;
  db.OpenTable(c, "T");
  TSDBDiskTableData& t = *c.TableData;
  // The index exists and holds every row in its (descending) order.
  std::vector<std::string> names;
  for (const auto& row : Expected) names.push_back(std::get<1>(row));
  std::sort(names.begin(), names.end(), std::greater<>());
  ASSERT_GE(t.IndexIDByName("BYNAME"), 0);
  c.CurrentIndexID = t.IndexIDByName("BYNAME");
  std::vector<std::string> ordered;
  c.FirstPosition = true;
  while (t.GetRecordBuffer(c, grmNext) == grrOK) ordered.push_back(t.GetFieldValue(c.CurrentRecordBuffer, 1).AsString());
  EXPECT_EQ(ordered, names);
  // The counter goes on where it was, past the deleted rows.
  c.CurrentIndexID = -1;
  c.EditRecordBuffer = t.NewRecordBuffer();
  t.SetFieldValue(c.EditRecordBuffer, 1, TSDBVariant::FromString("new"));
  ASSERT_TRUE(t.InsertRecord(c));
  EXPECT_EQ(t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64(), LastAutoinc + 1);
  db.CloseTable(c);
}

// A failure part-way (here the progress callback throws once the copy has
// begun) removes the partial copy and leaves the original byte for byte.
TEST_F(CompactFixture, AFailedCompactionLeavesTheOriginalUntouched) {
  const std::vector<uint8_t> before = FileBytes(path);
  struct TStop {};
  EXPECT_THROW(SDBCompactDatabase(path, kPassword,
                                  [](int p) {
                                    if (p > 0) throw TStop{};
                                  }),
               TStop);
  EXPECT_EQ(FileBytes(path), before);
  EXPECT_FALSE(std::filesystem::exists(path + kSDBCompactSuffix));
  EXPECT_EQ(NativeOf([&] { SDBCompactDatabase(path, "wrong"); }), 30445);
  EXPECT_EQ(FileBytes(path), before);
}

}  // namespace
