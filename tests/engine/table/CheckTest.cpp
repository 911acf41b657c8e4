// The database check over damaged tables: every kind of damage is named
// with its table and page, and the tool exits non-zero instead of crashing.
#include <gtest/gtest.h>

#include <fstream>

#include "../ToolRun.h"
#include "TableTestUtil.h"
#include "common/SDBBytes.h"
#include "storage/maintenance/SDBDatabaseCheck.h"

using namespace sdb;
using namespace sdbtest;

namespace {

constexpr int kRows = 1000;  // several leaves in the ID index, 16 record pages

struct TDamage {
  const char* Name;
  // Changes the file; answers the texts the report must contain.
  std::vector<std::string> (*Apply)(class CheckFixture&);
};

class CheckFixture : public TableFixture, public ::testing::WithParamInterface<TDamage> {
 public:
  void SetUp() override {
    TableFixture::SetUp();
    std::vector<std::unique_ptr<TSDBIndexDef>> ix;
    ix.push_back(IndexDef("BYID", {{"ID"}}));
    db.CreateTable("T", Fields({{"ID", aftInteger}, {"NAME", aftString, 50}, {"NOTE", aftMemo}}), {},
                   Indexes(std::move(ix)));
    TSDBCursor c;
    TSDBDiskTableData& t = Open(c, "T");
    c.FInTransaction = true;
    for (int i = 0; i < kRows; ++i)
      Insert(c, [&](TSDBDiskTableData& td, std::vector<uint8_t>& b) {
        td.SetFieldValue(b, 0, TSDBVariant::FromInt(i));
        td.SetFieldValue(b, 1, TSDBVariant::FromString("name " + std::to_string(i)));
        td.WriteBLOBFieldToRecordBuffer(b, 2, Bytes(i % 10 == 0 ? 9000 : 200, static_cast<uint32_t>(i)));
      });
    db.Commit(c.SessionID);
    RecordPages = t.RecordManager().RecordPages(0);
    IndexRoot = t.IndexDefs()[0].FRootPageNo;
    MaxRecords = t.RecordManager().MaxRecordsOnPage();
    RecordSize = t.FieldManager().DiskRecordBufferSize();
    NoteOffset = t.FieldManager().FFieldDefs[2].FDiskOffset;
    MostUpdatedPage = t.ListItem().MostUpdatedFilePageNo;
    db.CloseTable(c);
    auto& pm = db.Cache().DiskPageManager();
    FirstPageOffset = pm.OffsetToFirstPage();
    PageSize = pm.PageSize();
    for (int32_t p = pm.DBHeader().TotalPageCount - 1; p > 0 && FreePage < 0; --p)
      if (!pm.IsSystemPage(p) && !db.PageInUse(p)) FreePage = p;
    db.CloseDatabase();
  }

  void Write(int32_t pageNo, int32_t offset, const std::vector<uint8_t>& bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(FirstPageOffset + int64_t{pageNo} * PageSize + offset);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<uint8_t> Read(int32_t pageNo, int32_t offset, int32_t count) {
    std::vector<uint8_t> out(static_cast<size_t>(count));
    std::ifstream f(path, std::ios::binary);
    f.seekg(FirstPageOffset + int64_t{pageNo} * PageSize + offset);
    f.read(reinterpret_cast<char*>(out.data()), count);
    return out;
  }
  static std::vector<uint8_t> LE32(int32_t v) {
    std::vector<uint8_t> b(4);
    PutLEI32(b.data(), v);
    return b;
  }
  // Offset inside a record page of a record slot's field.
  int32_t SlotOffset(int slot, int32_t fieldOffset) const {
    return kSDBPageHeaderSize + (MaxRecords + 7) / 8 + slot * RecordSize + fieldOffset;
  }

  std::vector<int32_t> RecordPages;
  int32_t IndexRoot = -1, MaxRecords = 0, RecordSize = 0, NoteOffset = 0, MostUpdatedPage = -1, FreePage = -1;
  int64_t FirstPageOffset = 0;
  int32_t PageSize = 0;
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

TEST_F(CheckFixture, SoundTablesHaveNoProblems) {
  TSDBDatabaseCheckResult r = SDBCheckDatabase(path);
  EXPECT_TRUE(r.Ok()) << Joined(r.Problems);
  EXPECT_EQ(r.TableCount, 1);
  TRun run = Tool("check " + path);
  EXPECT_EQ(run.Code, 0) << run.Output;
  EXPECT_NE(run.Output.find("1 table(s)"), std::string::npos) << run.Output;
}

TEST_P(CheckFixture, DamageIsNamedWithTableAndPage) {
  const std::vector<std::string> expected = GetParam().Apply(*this);
  TSDBDatabaseCheckResult r = SDBCheckDatabase(path);
  ASSERT_FALSE(r.Ok());
  const std::string report = Joined(r.Problems);
  for (const auto& e : expected) EXPECT_NE(report.find(e), std::string::npos) << "missing '" << e << "' in\n" << report;
  TRun run = Tool("check " + path);
  EXPECT_EQ(run.Code, 1) << run.Output;
  for (const auto& e : expected) EXPECT_NE(run.Output.find(e), std::string::npos) << run.Output;
}

const TDamage kDamages[] = {
    {"RecordPageOwner",
     [](CheckFixture& f) -> std::vector<std::string> {
       const int32_t p = f.RecordPages[1];
       f.Write(p, TSDBDiskPageHeader::kObjectIDOffset, CheckFixture::LE32(9999));
       return {"table 'T': record page " + std::to_string(p) + " belongs to table id 9999"};
     }},
    {"RecordPageType",
     [](CheckFixture& f) -> std::vector<std::string> {
       const int32_t p = f.RecordPages[2];
       f.Write(p, TSDBDiskPageHeader::kPageTypeOffset, {ptTableBlob, 0});
       return {"table 'T': record page " + std::to_string(p) + " is a "};
     }},
    {"IndexSiblingLink",
     [](CheckFixture& f) -> std::vector<std::string> {
       // Down the left edge of the tree to the first leaf; link it to itself.
       int32_t p = f.IndexRoot;
       for (int depth = 0; depth < 8; ++depth) {
         auto d = f.Read(p, kSDBPageHeaderSize, 18 + 64);
         if (d[1]) break;  // a leaf
         const int k = GetLE16(d.data() + 12);
         p = GetLEI32(d.data() + 18 + k);
       }
       EXPECT_NE(p, f.IndexRoot) << "the index should have several leaves";
       f.Write(p, kSDBPageHeaderSize + 6, CheckFixture::LE32(p));
       return {"table 'T': index 'BYID' (root page " + std::to_string(f.IndexRoot) + ")", "PageNo="};
     }},
    {"BlobReferenceToFreePage",
     [](CheckFixture& f) -> std::vector<std::string> {
       EXPECT_GT(f.FreePage, 0);
       const int32_t p = f.RecordPages[0];
       f.Write(p, f.SlotOffset(3, f.NoteOffset), CheckFixture::LE32(f.FreePage));
       return {"table 'T': record page " + std::to_string(p) + " slot 3 field 'NOTE': BLOB reference (page " +
               std::to_string(f.FreePage)};
     }},
    {"LargeBlobReferenceToARecordPage",
     [](CheckFixture& f) -> std::vector<std::string> {
       const int32_t p = f.RecordPages[0];
       f.Write(p, f.SlotOffset(0, f.NoteOffset), CheckFixture::LE32(f.RecordPages[3]));
       return {"table 'T': record page " + std::to_string(p) + " slot 0 field 'NOTE': BLOB reference (page " +
               std::to_string(f.RecordPages[3]) + ", item 65535) names a TableRecord"};
     }},
    {"MostUpdatedRecordCount",
     [](CheckFixture& f) -> std::vector<std::string> {
       // Content after the 10-byte file header: field count, three Int64
       // auto-increment values, table state, record count.
       f.Write(f.MostUpdatedPage, kSDBPageHeaderSize + 10 + 4 + 3 * 8 + 4, CheckFixture::LE32(7));
       return {"table 'T': the record page index", "counts " + std::to_string(kRows) +
               " records but the most-updated file (page " + std::to_string(f.MostUpdatedPage) + ") records 7"};
     }},
};

INSTANTIATE_TEST_SUITE_P(Damage, CheckFixture, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<TDamage>& i) { return std::string(i.param.Name); });

}  // namespace
