#include <cstring>

#include "TableTestUtil.h"
#include "common/SDBBytes.h"
#include "storage/table/SDBBlobManager.h"

using namespace sdb;
using namespace sdbtest;

namespace {

constexpr int kD = kSDBDefaultPageSize - kSDBPageHeaderSize;  // 4056

enum class Kind { Small, Large };

struct BlobCase {
  const char* Name;
  size_t Size;
  Kind Expected;
  TSDBCompressionAlgorithm Algorithm = acaNone;
};

class BlobStorage : public TableFixture, public ::testing::WithParamInterface<BlobCase> {
 protected:
  void MakeTable(TSDBCompressionAlgorithm alg) {
    TSDBFieldDefs defs = Fields({{"ID", aftInteger}, {"NAME", aftString, 50}, {"NOTE", aftMemo}});
    defs[2].FBLOBCompressionAlgorithm = alg;
    defs[2].FBLOBCompressionMode = alg == acaNone ? 0 : 6;
    defs[2].FBLOBBlockSize = 1000;  // several blocks for the larger values
    db.CreateTable("T", std::move(defs));
  }
};

TEST_P(BlobStorage, ValueIsStoredReadBackAndItsPagesFreedWhenCleared) {
  const BlobCase& bc = GetParam();
  MakeTable(bc.Algorithm);
  // Compressible data for the zlib case, noise otherwise, so that the
  // stored size is the one the case is about.
  std::vector<uint8_t> value = Bytes(bc.Size, 7);
  if (bc.Algorithm == acaZLIB)
    for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<uint8_t>('a' + (i / 97) % 5);
  TSDBPageItemID ref;
  {
    TSDBCursor c;
    TSDBDiskTableData& t = Open(c, "T");
    Insert(c, [&](TSDBDiskTableData& td, std::vector<uint8_t>& b) {
      td.SetFieldValue(b, 0, TSDBVariant::FromInt(1));
      td.WriteBLOBFieldToRecordBuffer(b, 2, value);
    });
    ref = t.GetDirectBlobInfo(c.CurrentRecordBuffer, 2);
    EXPECT_GT(ref.PageNo, 0);
    if (bc.Expected == Kind::Large)
      EXPECT_EQ(ref.PageItemNo, kSDBLargeBlobItemID);
    else
      EXPECT_NE(ref.PageItemNo, kSDBLargeBlobItemID);
    db.CloseTable(c);
  }
  Reopen();
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  ASSERT_EQ(t.GetRecordBuffer(c, grmNext), grrOK);
  EXPECT_EQ(t.ReadBlobField(c, c.CurrentRecordBuffer, 2), value);
  std::vector<int32_t> pages{ref.PageNo};
  if (bc.Expected == Kind::Large) {
    pages = t.BlobManager()->LargeBlobPages(0, ref.PageNo);
    if (bc.Algorithm == acaNone) {
      // data pages plus the page-list pages that did not fit after the data
      const size_t data = bc.Size <= size_t{kD - 32} ? 1 : 1 + (bc.Size - (kD - 32) + kD - 1) / kD;
      EXPECT_GE(pages.size(), data);
      EXPECT_LE(pages.size(), data + 1 + data * 4 / kD);
    }
  }
  for (int32_t p : pages) EXPECT_TRUE(db.PageInUse(p));

  // Clearing the memo removes the stored value and leaves (-1, 0xFFFF).
  c.EditRecordBuffer = c.CurrentRecordBuffer;
  t.ClearBLOBFieldInRecordBuffer(c.EditRecordBuffer, 2);
  ASSERT_TRUE(t.UpdateRecord(c));
  ASSERT_EQ(t.GetRecordBuffer(c, grmCurrent), grrOK);
  const TSDBPageItemID cleared = t.GetDirectBlobInfo(c.CurrentRecordBuffer, 2);
  EXPECT_EQ(cleared.PageNo, -1);
  EXPECT_EQ(cleared.PageItemNo, 0xFFFF);
  EXPECT_TRUE(t.FieldManager().IsNull(c.CurrentRecordBuffer.data(), 2));
  EXPECT_TRUE(t.ReadBlobField(c, c.CurrentRecordBuffer, 2).empty());
  for (int32_t p : pages) EXPECT_FALSE(db.PageInUse(p)) << p;
  db.CloseTable(c);
}

std::vector<BlobCase> BlobCases() {
  return {BlobCase{"FewHundredBytes", 300, Kind::Small},
                      // stored size + 24 < D is the small limit
                      BlobCase{"LargestSmall", kD - 25, Kind::Small}, BlobCase{"SmallestLarge", kD - 24, Kind::Large},
                      // the page list has no room after the data and needs a page of its own
                      BlobCase{"FillsTwoPagesExactly", kD - 32 + kD, Kind::Large},
                      BlobCase{"ListRightAtTheEnd", kD - 32 + kD - 4, Kind::Large},
                      // 1200 data pages: the list spans two pages chained by NextPageNo
                      BlobCase{"LongPageList", size_t{kD} * 1200, Kind::Large},
                      BlobCase{"CompressedSmall", 20000, Kind::Small, acaZLIB},
                      BlobCase{"CompressedLarge", 20000, Kind::Large, acaBZIP}};
}

INSTANTIATE_TEST_SUITE_P(Sizes, BlobStorage, ::testing::ValuesIn(BlobCases()),
                         [](const auto& tc) { return std::string(tc.param.Name); });

TEST_F(TableFixture, SmallBlobsShareAPageAndTheLastOneOutRemovesIt) {
  db.CreateTable("T", Fields({{"ID", aftInteger}, {"NOTE", aftMemo}}));
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  std::vector<TSDBPageItemID> refs;
  for (int i = 0; i < 5; ++i) {
    Insert(c, [&](TSDBDiskTableData& td, std::vector<uint8_t>& b) {
      td.SetFieldValue(b, 0, TSDBVariant::FromInt(i));
      td.WriteBLOBFieldToRecordBuffer(b, 1, Bytes(100 + static_cast<size_t>(i), static_cast<uint32_t>(i)));
    });
    refs.push_back(t.GetDirectBlobInfo(c.CurrentRecordBuffer, 1));
  }
  for (int i = 1; i < 5; ++i) {
    EXPECT_EQ(refs[static_cast<size_t>(i)].PageNo, refs[0].PageNo);
    EXPECT_EQ(refs[static_cast<size_t>(i)].PageItemNo, i);  // identifier = entry count at the time
  }
  // Delete the records in the middle first: later entries move down, every value stays readable.
  for (int r : {3, 1}) {
    t.SetRecNo(c, r);
    ASSERT_TRUE(t.DeleteRecord(c));
  }
  std::vector<int64_t> ids;
  c.FirstPosition = true;
  while (t.GetRecordBuffer(c, grmNext) == grrOK) {
    const int64_t id = t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64();
    ids.push_back(id);
    EXPECT_EQ(t.ReadBlobField(c, c.CurrentRecordBuffer, 1), Bytes(100 + static_cast<size_t>(id), static_cast<uint32_t>(id)));
  }
  EXPECT_EQ(ids, (std::vector<int64_t>{1, 3, 4}));
  // A new value takes the entry count (3), increased past the identifiers in use (3, 4).
  Insert(c, [&](TSDBDiskTableData& td, std::vector<uint8_t>& b) { td.WriteBLOBFieldToRecordBuffer(b, 1, Bytes(50, 1)); });
  EXPECT_EQ(t.GetDirectBlobInfo(c.CurrentRecordBuffer, 1).PageItemNo, 5);
  while (t.GetRecordCount(0) > 0) {
    t.SetRecNo(c, 1);
    ASSERT_TRUE(t.DeleteRecord(c));
  }
  EXPECT_FALSE(db.PageInUse(refs[0].PageNo));
  db.CloseTable(c);
}

TEST_F(TableFixture, UpdatingOtherFieldsKeepsTheStoredBlobAndReplacingItFreesTheOldOne) {
  db.CreateTable("T", Fields({{"ID", aftInteger}, {"NOTE", aftMemo}}));
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  const auto big = Bytes(9000, 3);
  Insert(c, [&](TSDBDiskTableData& td, std::vector<uint8_t>& b) { td.WriteBLOBFieldToRecordBuffer(b, 1, big); });
  const TSDBPageItemID first = t.GetDirectBlobInfo(c.CurrentRecordBuffer, 1);
  const auto firstPages = t.BlobManager()->LargeBlobPages(0, first.PageNo);

  c.EditRecordBuffer = c.CurrentRecordBuffer;
  t.SetFieldValue(c.EditRecordBuffer, 0, TSDBVariant::FromInt(8));
  ASSERT_TRUE(t.UpdateRecord(c));
  ASSERT_EQ(t.GetRecordBuffer(c, grmCurrent), grrOK);
  EXPECT_EQ(t.GetDirectBlobInfo(c.CurrentRecordBuffer, 1), first);
  EXPECT_EQ(t.ReadBlobField(c, c.CurrentRecordBuffer, 1), big);

  c.EditRecordBuffer = c.CurrentRecordBuffer;
  t.WriteBLOBFieldToRecordBuffer(c.EditRecordBuffer, 1, Bytes(40, 9));
  ASSERT_TRUE(t.UpdateRecord(c));
  for (int32_t p : firstPages) EXPECT_FALSE(db.PageInUse(p));
  ASSERT_EQ(t.GetRecordBuffer(c, grmCurrent), grrOK);
  EXPECT_EQ(t.ReadBlobField(c, c.CurrentRecordBuffer, 1), Bytes(40, 9));

  // A copy of a record inserted as a new one gets values of its own:
  // deleting the original must not take the copy's value with it.
  const TSDBPageItemID original = t.GetDirectBlobInfo(c.CurrentRecordBuffer, 1);
  c.EditRecordBuffer = c.CurrentRecordBuffer;
  ASSERT_TRUE(t.InsertRecord(c));
  EXPECT_NE(t.GetDirectBlobInfo(c.CurrentRecordBuffer, 1), original);
  t.SetRecNo(c, 1);
  ASSERT_TRUE(t.DeleteRecord(c));
  ASSERT_EQ(t.GetRecordCount(0), 1);
  t.SetRecNo(c, 1);
  EXPECT_EQ(t.ReadBlobField(c, c.CurrentRecordBuffer, 1), Bytes(40, 9));
  t.ClearBlobsCacheInRecordBuffer(c.EditRecordBuffer);
  EXPECT_EQ(NativeOf([&] { t.ReadBlobField(c, c.CurrentRecordBuffer, 0); }), 20171);  // not a BLOB field
  db.CloseTable(c);
}

// Pages written as earlier versions did: a large value referenced with item
// 255, and a small entry that really has identifier 255.
TEST_F(TableFixture, ItemTwoFiftyFiveIsReadAsWhicheverKindThePageHolds) {
  db.CreateTable("T", Fields({{"ID", aftInteger}, {"NOTE", aftBlob}}));
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  TSDBDiskBlobManager& bm = *t.BlobManager();
  auto stored = [](const std::vector<uint8_t>& v) {
    TSDBDiskBLOBCache e;
    e.UncompressedSize = static_cast<int64_t>(v.size());
    e.BlobData = v;
    return e;
  };
  const auto big = Bytes(10000, 1), small = Bytes(77, 2);
  const TSDBPageItemID large = bm.StoreBlob(0, stored(big));
  const TSDBPageItemID smallRef = bm.StoreBlob(0, stored(small));
  ASSERT_EQ(smallRef.PageItemNo, 0);
  {
    TSDBPageGuard g = SDBGetPageGuard(db.Cache(), 0, smallRef.PageNo, ptTableBlob);
    PutLE16(g->Data() + 2, 255);  // the first entry's identifier
    g->MarkDirty();
  }
  db.Commit(0);

  TSDBDiskBLOBCache out;
  bm.LoadStoredBlob(0, {large.PageNo, 255}, out);
  EXPECT_EQ(out.BlobData, big);
  bm.LoadStoredBlob(0, {smallRef.PageNo, 255}, out);
  EXPECT_EQ(out.BlobData, small);
  EXPECT_EQ(NativeOf([&] { bm.LoadStoredBlob(0, {smallRef.PageNo, 4000}, out); }), 20291);
  // Removing through the ambiguous reference frees the pages of either kind.
  auto pages = bm.LargeBlobPages(0, large.PageNo);
  bm.RemoveStoredBlob(0, {large.PageNo, 255});
  bm.RemoveStoredBlob(0, {smallRef.PageNo, 255});
  db.Commit(0);
  for (int32_t p : pages) EXPECT_FALSE(db.PageInUse(p));
  EXPECT_FALSE(db.PageInUse(smallRef.PageNo));
  db.CloseTable(c);
}

TEST_F(TableFixture, DamagedBlobPagesReadAsAnErrorNotACrash) {
  db.CreateTable("T", Fields({{"ID", aftInteger}, {"NOTE", aftMemo}}));
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  Insert(c, [&](TSDBDiskTableData& td, std::vector<uint8_t>& b) { td.WriteBLOBFieldToRecordBuffer(b, 1, Bytes(300, 1)); });
  const TSDBPageItemID small = t.GetDirectBlobInfo(c.CurrentRecordBuffer, 1);
  Insert(c, [&](TSDBDiskTableData& td, std::vector<uint8_t>& b) { td.WriteBLOBFieldToRecordBuffer(b, 1, Bytes(30000, 1)); });
  const TSDBPageItemID large = t.GetDirectBlobInfo(c.CurrentRecordBuffer, 1);
  struct Damage {
    int32_t Page;
    int Offset;
    int64_t Value;
  };
  for (const Damage& d : {Damage{small.PageNo, 2 + 6, int64_t{1} << 40},  // entry size beyond the page
                          Damage{small.PageNo, 2 + 6, -5}, Damage{large.PageNo, 28, 1000000},  // page count
                          Damage{large.PageNo, 22, -7}}) {                                      // list page
    TSDBPageGuard g = SDBGetPageGuard(db.Cache(), 0, d.Page, ptTableBlob);
    if (d.Offset == 28 || d.Offset == 22)
      PutLEI32(g->Data() + d.Offset, static_cast<int32_t>(d.Value));
    else
      PutLEI64(g->Data() + d.Offset, d.Value);
    g->MarkDirty();
    g.Release();
    TSDBDiskBLOBCache out;
    EXPECT_EQ(NativeOf([&] { t.BlobManager()->LoadStoredBlob(0, d.Page == small.PageNo ? small : large, out); }), 20291);
    db.Rollback(0);
  }
  db.CloseTable(c);
}

}  // namespace

// A memo field compressed with PPM stores a large text and reads it back
// unchanged after the file is reopened.
TEST_F(TableFixture, PPMCompressedMemoRoundTrips) {
  TSDBFieldDefs defs = Fields({{"ID", aftInteger}, {"NOTE", aftMemo}});
  defs[1].FBLOBCompressionAlgorithm = acaPPM;
  defs[1].FBLOBCompressionMode = 5;
  defs[1].FBLOBBlockSize = 65536;
  db.CreateTable("T", std::move(defs));
  static const char* kWords[] = {"fenêtre ", "vantail ", "vitrage ", "isolant ", "argon ", "poignée ",
                                 "oscillo-battant ", "seuil ", "aluminium ", "PVC ", "Uw=1,3 ", "\r\n"};
  std::vector<uint8_t> value;
  uint32_t x = 12345;
  while (value.size() < 300000) {
    x = x * 1103515245u + 12345u;
    const char* w = kWords[(x >> 16) % 12];
    value.insert(value.end(), w, w + std::strlen(w));
  }
  {
    TSDBCursor c;
    Open(c, "T");
    Insert(c, [&](TSDBDiskTableData& td, std::vector<uint8_t>& b) {
      td.SetFieldValue(b, 0, TSDBVariant::FromInt(1));
      td.WriteBLOBFieldToRecordBuffer(b, 1, value);
    });
    db.CloseTable(c);
  }
  Reopen();
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  ASSERT_EQ(t.GetRecordBuffer(c, grmNext), grrOK);
  EXPECT_EQ(t.ReadBlobField(c, c.CurrentRecordBuffer, 1), value);
  db.CloseTable(c);
}
