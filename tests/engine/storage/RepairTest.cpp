// Repair of damaged files: after the repair the check finds nothing and
// every row, BLOB value and index entry is as it was before the damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <tuple>

#include "../table/TableTestUtil.h"
#include "common/SDBBytes.h"
#include "storage/table/SDBBlobManager.h"
#include "storage/maintenance/SDBCompact.h"
#include "storage/maintenance/SDBDatabaseCheck.h"
#include "storage/file/SDBFreeSpace.h"
#include "storage/maintenance/SDBRepair.h"
#include "platform/SDBFileHandle.h"

using namespace sdb;
using namespace sdbtest;

namespace {

constexpr int kRows = 400;
using Row = IdNameNoteRow;

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class RepairFixture : public TableFixture {
 public:
  void SetUp() override {
    TableFixture::SetUp();
    std::vector<std::unique_ptr<TSDBIndexDef>> ix;
    ix.push_back(IndexDef("BYID", {{"ID"}}, true));
    ix.push_back(IndexDef("BYNAME", {{"NAME", true}}));
    db.CreateTable("T", Fields({{"ID", aftInteger}, {"NAME", aftString, 50}, {"NOTE", aftMemo}}), {},
                   Indexes(std::move(ix)));
    TSDBCursor c;
    TSDBDiskTableData& t = Open(c, "T");
    c.FInTransaction = true;
    for (int i = 0; i < kRows; ++i)
      Insert(c, [&](TSDBDiskTableData& td, std::vector<uint8_t>& b) {
        td.SetFieldValue(b, 0, TSDBVariant::FromInt(i));
        td.SetFieldValue(b, 1, TSDBVariant::FromString("name " + std::to_string(i * 7919 % kRows)));
        if (i % 7) td.WriteBLOBFieldToRecordBuffer(b, 2, Bytes(i % 10 == 0 ? 9000 : 200, static_cast<uint32_t>(i)));
      });
    db.Commit(c.SessionID);
    RecordPageIndexRoot = t.RecordManager().RecordPageIndexRoot();
    IndexRoot = t.IndexDefs()[0].FRootPageNo;
    db.CloseTable(c);
    Expected = ReadRows();
    ASSERT_EQ(Expected.size(), size_t{kRows});
    auto& pm = db.Cache().DiskPageManager();
    FirstPageOffset = pm.OffsetToFirstPage();
    PageSize = pm.PageSize();
    db.CloseDatabase();
  }

  // Every row sorted by ID, with its BLOB value, read through the table.
  std::vector<Row> ReadRows() { return ReadIdNameNoteRows(db, "T"); }


  void Write(int64_t offset, const std::vector<uint8_t>& bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offset);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  void ZeroPageData(int32_t pageNo) {
    Write(FirstPageOffset + int64_t{pageNo} * PageSize + kSDBPageHeaderSize,
          std::vector<uint8_t>(static_cast<size_t>(PageSize - kSDBPageHeaderSize), 0));
  }

  // The open file gives what the indexes hold: IDs in BYID order and
  // names in (descending) BYNAME order must follow the rows.
  void ExpectIndexesFollowTheRows() {
    db.OpenDatabase(path);
    TSDBCursor c;
    TSDBDiskTableData& t = Open(c, "T");
    t.CheckIndexes(0);
    std::vector<std::string> ids, names;
    for (const auto& r : Expected) {
      ids.push_back(std::to_string(std::get<0>(r)));
      names.push_back(std::get<1>(r));
    }
    std::sort(names.begin(), names.end(), std::greater<>());
    EXPECT_EQ(Texts(Ordered(c, t.IndexIDByName("BYID"), 0)), ids);
    EXPECT_EQ(Texts(Ordered(c, t.IndexIDByName("BYNAME"), 1)), names);
    db.CloseTable(c);
    EXPECT_EQ(ReadRows(), Expected);
    db.CloseDatabase();
  }

  // Pages a crash left allocated: typed pages no structure names, and bare
  // allocations never written.
  void LeakPages() {
    db.OpenDatabase(path);
    for (uint16_t type : {ptTableRecord, ptTableBlob, ptTableIndex}) SDBAddPageGuard(db.Cache(), 0, type);
    db.Commit(0);
    db.Cache().FreeSpaceManager().GetPage();
    db.Cache().FreeSpaceManager().GetPage();
    db.CloseDatabase();
  }

  // Every BLOB page names no owner (-1), as other writers of the format
  // leave them: sound, not damage.
  void UnownBlobPages() {
    db.OpenDatabase(path);
    const int32_t total = db.Cache().DiskPageManager().GetPageCount();
    int changed = 0;
    for (int32_t p = 0; p < total; ++p) {
      TSDBPageGuard g;
      try {
        g = SDBGetPageGuard(db.Cache(), 0, p, kSDBAnyPageType, false);
      } catch (const ESDBException&) {
        continue;
      }
      if (g->PageType() != ptTableBlob) continue;
      PutLEI32(g->Buffer() + TSDBDiskPageHeader::kObjectIDOffset, -1);
      g->MarkDirty();
      ++changed;
    }
    db.Commit(0);
    db.CloseDatabase();
    ASSERT_GT(changed, 0);
  }

  std::vector<Row> Expected;
  int32_t RecordPageIndexRoot = -1, IndexRoot = -1;
  int64_t FirstPageOffset = 0;
  int32_t PageSize = 0;
};

struct TDamageCase {
  const char* Name;
  void (*Apply)(RepairFixture&);
  bool LogEmpty;  // what the repair log must be
};

class RepairDamage : public RepairFixture, public ::testing::WithParamInterface<TDamageCase> {};

const TDamageCase kDamage[] = {
    {"SoundFile", [](RepairFixture&) {}, true},
    {"LostRecordPageIndex", [](RepairFixture& f) { f.ZeroPageData(f.RecordPageIndexRoot); }, false},
    {"BrokenIndexTree", [](RepairFixture& f) { f.ZeroPageData(f.IndexRoot); }, false},
    {"OrphanedPages",
     [](RepairFixture& f) {
       f.LeakPages();
     },
     false},
    {"UnownedBlobPages", [](RepairFixture& f) { f.UnownBlobPages(); }, true},
    {"InterruptedCommit", [](RepairFixture& f) { f.Write(42, {kSDBWriteChangesWriting}); }, true},
    {"OldFormatHeader",
     [](RepairFixture& f) {
       std::vector<uint8_t> v(8);
       PutLEDouble(v.data(), 2.5);
       f.Write(18, v);
     },
     true},
};

TEST_P(RepairDamage, RepairLeavesACleanFileWithEveryRowAndIndex) {
  const TDamageCase& d = GetParam();
  d.Apply(*this);
  const bool damaged = std::string(d.Name) != "SoundFile" && std::string(d.Name) != "UnownedBlobPages";
  EXPECT_EQ(!SDBCheckDatabase(path).Ok(), damaged) << "the check must see the damage";

  std::vector<int> progress;
  const TSDBRepairReport report = SDBRepairDatabase(path, "", [&](int p) { progress.push_back(p); });
  EXPECT_EQ(report.Log.empty(), d.LogEmpty) << report.Log;
  ASSERT_EQ(report.Tables.size(), 1u);
  EXPECT_EQ(report.Tables[0].Records, kRows);
  EXPECT_EQ(report.Tables[0].IndexesRebuilt, 2);
  EXPECT_EQ(report.Tables[0].RecordPageIndexRebuilt, std::string(d.Name) == "LostRecordPageIndex");
  if (std::string(d.Name) == "OrphanedPages") {
    EXPECT_GE(report.PagesReclaimed, 5);
  }
  EXPECT_EQ(report.OldFormat, std::string(d.Name) == "OldFormatHeader");
  EXPECT_EQ(report.InterruptedCommit, std::string(d.Name) == "InterruptedCommit");
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(), 100);

  const TSDBDatabaseCheckResult check = SDBCheckDatabase(path);
  EXPECT_TRUE(check.Ok()) << (check.Problems.empty() ? "" : check.Problems.front());
  ExpectIndexesFollowTheRows();
  // The next open finds nothing to repair.
  db.OpenDatabase(path);
  EXPECT_FALSE(db.RepairNeeded());
  EXPECT_DOUBLE_EQ(db.Cache().DiskPageManager().DBHeader().Version, kSDBCurrentVersion);
}

INSTANTIATE_TEST_SUITE_P(Damage, RepairDamage, ::testing::ValuesIn(kDamage),
                         [](const auto& p) { return std::string(p.param.Name); });

TEST_F(RepairFixture, ARepairOfASoundFileChangesNoRow) {
  SDBRepairDatabase(path, "");
  const TSDBRepairReport again = SDBRepairDatabase(path, "");
  EXPECT_EQ(again.Log, "");
  EXPECT_EQ(again.PagesReclaimed, 0);
  EXPECT_EQ(again.PagesMarkedUsed, 0);
  ExpectIndexesFollowTheRows();
}

// Records whose keys now collide in a unique index (two identical records,
// as a damaged page can leave them) are reported and kept, each indexed.
TEST_F(RepairFixture, CollidingKeysOfAUniqueIndexAreReportedAndKept) {
  db.OpenDatabase(path);
  std::vector<std::unique_ptr<TSDBIndexDef>> ix;
  ix.push_back(IndexDef("UID", {{"ID"}}, true));
  db.CreateTable("U", Fields({{"ID", aftInteger}, {"NAME", aftString, 10}}), {}, Indexes(std::move(ix)));
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "U");
  for (int i = 0; i < 3; ++i)
    Insert(c, [&](TSDBDiskTableData& td, std::vector<uint8_t>& b) {
      td.SetFieldValue(b, 0, TSDBVariant::FromInt(i));
      td.SetFieldValue(b, 1, TSDBVariant::FromString("u" + std::to_string(i)));
    });
  const int32_t page = t.RecordManager().RecordPages(0).front();
  const int32_t size = t.FieldManager().DiskRecordBufferSize();
  const int32_t slots = (t.RecordManager().MaxRecordsOnPage() + 7) / 8;
  db.CloseTable(c);
  db.CloseDatabase();
  // Record 1 becomes a copy of record 0.
  const int64_t at = FirstPageOffset + int64_t{page} * PageSize + kSDBPageHeaderSize + slots;
  std::vector<uint8_t> record(static_cast<size_t>(size));
  {
    std::ifstream f(path, std::ios::binary);
    f.seekg(at);
    f.read(reinterpret_cast<char*>(record.data()), size);
  }
  Write(at + size, record);

  const TSDBRepairReport r = SDBRepairDatabase(path, "");
  ASSERT_EQ(r.Tables.size(), 2u);
  const TSDBRepairTableReport& u = r.Tables[0].TableName == "U" ? r.Tables[0] : r.Tables[1];
  EXPECT_EQ(u.Records, 3);
  ASSERT_EQ(u.Problems.size(), 1u) << r.Log;
  EXPECT_NE(u.Problems[0].find("unique index 'UID'"), std::string::npos) << u.Problems[0];
  EXPECT_NE(r.Log.find("unique index 'UID'"), std::string::npos);
  EXPECT_TRUE(SDBCheckDatabase(path).Ok());
  db.OpenDatabase(path);
  TSDBDiskTableData& t2 = Open(c, "U");
  EXPECT_EQ(Texts(Ordered(c, t2.IndexIDByName("UID"), 1)), (std::vector<std::string>{"u0", "u0", "u2"}));
  db.CloseTable(c);
}

// A BLOB value that cannot be read is reported with its record and field;
// the record stays, and no page of the table is freed on a guess.
TEST_F(RepairFixture, AnUnreadableBlobIsReportedAndNothingIsDropped) {
  db.OpenDatabase(path);
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  while (t.GetRecordBuffer(c, grmNext) == grrOK && t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64() != 10) {
  }
  const TSDBPageItemID ref = t.GetDirectBlobInfo(c.CurrentRecordBuffer, 2);  // ID 10: a large value
  ASSERT_EQ(ref.PageItemNo, kSDBLargeBlobItemID);
  const int32_t blobPage = ref.PageNo;
  db.CloseTable(c);
  db.CloseDatabase();
  // The locator of its page list names a page far beyond the file.
  Write(FirstPageOffset + int64_t{blobPage} * PageSize + kSDBPageHeaderSize + kSDBBlobEntryHeaderSize,
        {0x3F, 0x42, 0x0F, 0x00});

  const TSDBRepairReport r = SDBRepairDatabase(path, "");
  ASSERT_EQ(r.Tables.size(), 1u);
  EXPECT_EQ(r.Tables[0].Records, kRows);
  ASSERT_FALSE(r.Tables[0].Problems.empty());
  EXPECT_NE(r.Tables[0].Problems[0].find("field 'NOTE'"), std::string::npos) << r.Tables[0].Problems[0];
  EXPECT_EQ(r.PagesReclaimed, 0);
  db.OpenDatabase(path);
  EXPECT_FALSE(db.RepairNeeded());
  TSDBDiskTableData& t2 = Open(c, "T");
  EXPECT_EQ(t2.GetRecordCount(0), kRows);
  db.CloseTable(c);
}

// A repair that stops part-way (here the progress callback throws once the
// tables are being worked on) leaves a file that asks for repair again; the
// next repair finishes the job.
TEST_F(RepairFixture, AnInterruptedRepairLeavesAFileThatNeedsRepair) {
  ZeroPageData(IndexRoot);
  struct TStop {};
  EXPECT_THROW(SDBRepairDatabase(path, "",
                                 [](int p) {
                                   if (p > 10) throw TStop{};
                                 }),
               TStop);
  db.OpenDatabase(path);
  EXPECT_TRUE(db.RepairNeeded());
  db.CloseDatabase();
  SDBRepairDatabase(path, "");
  EXPECT_TRUE(SDBCheckDatabase(path).Ok());
  ExpectIndexesFollowTheRows();
}

// Files maintenance must not touch are refused with their own error and
// keep every byte.
TEST_F(RepairFixture, RefusedMaintenanceLeavesTheFileAsItWas) {
  struct TCase {
    const char* Name;
    std::function<void()> Prepare, Undo;
    std::function<void()> Run;
    int Code;
  };
  const TCase cases[] = {
      {"repair of a read-only file", [&] { SDBSetFileReadOnly(path, true); }, [&] { SDBSetFileReadOnly(path, false); },
       [&] { SDBRepairDatabase(path, ""); }, kSDBErrMaintenanceReadOnly},
      {"compaction of a read-only file", [&] { SDBSetFileReadOnly(path, true); },
       [&] { SDBSetFileReadOnly(path, false); }, [&] { SDBCompactDatabase(path, ""); }, kSDBErrMaintenanceReadOnly},
      {"compaction of a file that needs repair", [&] { Write(42, {kSDBWriteChangesWriting}); }, [] {},
       [&] { SDBCompactDatabase(path, ""); }, kSDBErrCompactNeedsRepair},
  };
  for (const auto& c : cases) {
    c.Prepare();
    const std::vector<uint8_t> before = FileBytes(path);
    EXPECT_EQ(NativeOf(c.Run), c.Code) << c.Name;
    EXPECT_EQ(FileBytes(path), before) << c.Name;
    EXPECT_FALSE(std::filesystem::exists(path + kSDBCompactSuffix)) << c.Name;
    c.Undo();
  }
}

// A file another connection holds is neither repaired nor compacted, and
// not a byte of it changes.
TEST_F(RepairFixture, MaintenanceIsRefusedWhileAnotherConnectionHoldsTheFile) {
  db.OpenDatabase(path);
  const std::vector<uint8_t> before = FileBytes(path);
  EXPECT_EQ(NativeOf([&] { SDBRepairDatabase(path, ""); }), 10461);
  EXPECT_EQ(NativeOf([&] { SDBCompactDatabase(path, ""); }), 10461);
  EXPECT_EQ(FileBytes(path), before);
  EXPECT_FALSE(std::filesystem::exists(path + kSDBCompactSuffix));
  db.CloseDatabase();
}

}  // namespace
