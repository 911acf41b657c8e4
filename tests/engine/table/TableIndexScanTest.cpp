// Index-level operations over a table: range scans, range estimates,
// record numbers, DISTINCT, creating and dropping indexes on a filled
// table and temporary indexes.
#include <algorithm>
#include <cmath>
#include <optional>

#include "TableTestUtil.h"
#include "storage/table/SDBRecordIndex.h"

using namespace sdb;
using namespace sdbtest;

namespace {

constexpr int kID = 0, kName = 1, kNum = 2;

class IndexScan : public TableFixture {
 protected:
  void Create(TSDBIndexDefs indexes = {}) {
    db.CreateTable("T", Fields({{"ID", aftInteger}, {"NAME", aftString, 60}, {"NUM", aftInteger}}), {},
                   std::move(indexes));
    Open(c, "T");
  }
  TSDBDiskTableData& T() { return *c.TableData; }
  void Add(int id, std::optional<std::string> name, int num) {
    c.EditRecordBuffer = T().NewRecordBuffer();
    T().SetFieldValue(c.EditRecordBuffer, kID, TSDBVariant::FromInt(id));
    if (name) T().SetFieldValue(c.EditRecordBuffer, kName, TSDBVariant::FromString(*name));
    T().SetFieldValue(c.EditRecordBuffer, kNum, TSDBVariant::FromInt(num));
    ASSERT_TRUE(T().InsertRecord(c));
  }
  TSDBBTreeRecordIndex& Index(const char* name) { return T().IndexManager().OpenIndex(T().IndexIDByName(name)); }
  TSDBScanSearchCondition Bound(TSDBSearchCondition cond, int num) {
    TSDBScanSearchCondition s;
    s.Condition = cond;
    s.KeyRecordBuffer = T().NewRecordBuffer();
    T().SetFieldValue(s.KeyRecordBuffer, kNum, TSDBVariant::FromInt(num));
    s.KeyFieldCount = 1;
    return s;
  }
  int64_t IdOf(const TSDBPageItemID& rid) {
    std::vector<uint8_t> rec;
    EXPECT_TRUE(T().ReadRecordForIndex(0, rid, rec));
    return T().GetFieldValue(rec, kID).AsInt64();
  }
  int PagesInUse() {
    int n = 0;
    for (int32_t p = 0; p < db.PageManager().GetPageCount(); ++p) n += db.PageInUse(p) ? 1 : 0;
    return n;
  }
  static TSDBIndexDefs NumIndex(bool unique = false) {
    TSDBIndexDefs d;
    d.Add(IndexDef("BYNUM", {{"NUM"}}, unique));
    return d;
  }

  TSDBCursor c;
};

// ---- Range scans -----------------------------------------------------------------------------------------

struct ScanCase {
  const char* Name;
  std::optional<std::pair<TSDBSearchCondition, int>> Start, End;
  bool Forward;
  std::vector<int64_t> Ids;
};

class RangeScan : public IndexScan, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(RangeScan, AnswersTheEntriesBetweenStartAndEnd) {
  const ScanCase& sc = GetParam();
  Create(NumIndex());
  for (int i = 1; i <= 10; ++i) Add(i, "r", i * 10);
  TSDBScanSearchCondition start, end;
  if (sc.Start) start = Bound(sc.Start->first, sc.Start->second);
  if (sc.End) end = Bound(sc.End->first, sc.End->second);
  TSDBBTreeRecordIndex& idx = Index("BYNUM");
  auto info = idx.CreateSearchInfo();
  std::vector<int64_t> got;
  TSDBPageItemID rid;
  for (bool restart = true; idx.FindRecord(0, restart, sc.Forward, sc.Start ? &start : nullptr,
                                           sc.End ? &end : nullptr, nullptr, rid, info.get());
       restart = false)
    got.push_back(IdOf(rid));
  EXPECT_EQ(got, sc.Ids);
}

INSTANTIATE_TEST_SUITE_P(
    Conditions, RangeScan,
    ::testing::Values(ScanCase{"Everything", std::nullopt, std::nullopt, true, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
                      ScanCase{"EverythingBackward", std::nullopt, std::nullopt, false, {10, 9, 8, 7, 6, 5, 4, 3, 2, 1}},
                      ScanCase{"StartAndEnd", {{scGreaterEqual, 30}}, {{scLowerEqual, 60}}, true, {3, 4, 5, 6}},
                      ScanCase{"StartOnlyRunsToItsLastMatch", {{scGreater, 75}}, std::nullopt, true, {8, 9, 10}},
                      ScanCase{"EqualStartIsItsOwnEnd", {{scEqual, 50}}, std::nullopt, true, {5}},
                      ScanCase{"Backward", {{scLowerEqual, 60}}, {{scGreaterEqual, 30}}, false, {6, 5, 4, 3}},
                      ScanCase{"NothingQualifies", {{scGreaterEqual, 200}}, std::nullopt, true, {}},
                      ScanCase{"EndBeforeStart", {{scGreaterEqual, 60}}, {{scLowerEqual, 30}}, true, {}}),
    [](const auto& p) { return std::string(p.param.Name); });

TEST_F(IndexScan, ScanContinuesAfterARecordAndRefusesARestart) {
  Create(NumIndex());
  for (int i = 1; i <= 10; ++i) Add(i, "r", i * 10);
  TSDBBTreeRecordIndex& idx = Index("BYNUM");
  TSDBScanSearchCondition start = Bound(scGreaterEqual, 30);
  // Continue after record 5 (which lies inside the range).
  c.CurrentIndexID = -1;
  c.FirstPosition = true;
  TSDBPageItemID five;
  std::vector<uint8_t> fiveRec;
  while (T().GetRecordBuffer(c, grmNext) == grrOK)
    if (T().GetFieldValue(c.CurrentRecordBuffer, kID).AsInt64() == 5) {
      five = c.CurrentRecordID;
      fiveRec = c.CurrentRecordBuffer;
      break;
    }
  auto info = idx.CreateSearchInfo();
  TSDBPageItemID rid = five;
  ASSERT_TRUE(idx.FindRecord(0, false, true, &start, nullptr, fiveRec.data(), rid, info.get()));
  EXPECT_EQ(IdOf(rid), 6);
  EXPECT_EQ(NativeOf([&] { idx.FindRecord(0, true, true, &start, nullptr, nullptr, rid, info.get()); }), 20078);
  EXPECT_EQ(NativeOf([&] { idx.FindRecord(0, true, true, &start, nullptr, nullptr, rid, nullptr); }), 20077);
}

// ---- Estimates, record numbers, DISTINCT -------------------------------------------------------------------

TEST_F(IndexScan, ApproximateRangeCountsStayNearTheTruth) {
  Create(NumIndex());
  TSDBScanSearchCondition lo = Bound(scGreaterEqual, 500), hi = Bound(scLowerEqual, 1499);
  EXPECT_EQ(Index("BYNUM").GetApproxRangeRecordCount(0, 0, &lo, &hi), 0);
  c.FBatchUpdate = true;
  for (int i = 0; i < 3000; ++i) Add(i, "r", (i * 7919) % 3000);
  c.FBatchUpdate = false;
  T().ApplyChanges(0, false);
  TSDBBTreeRecordIndex& idx = Index("BYNUM");
  const int64_t n = idx.GetApproxRangeRecordCount(0, 3000, &lo, &hi);
  EXPECT_NEAR(static_cast<double>(n), 1000.0, 100.0);
  // Bounds in either order give the same answer; an empty range gives 0.
  EXPECT_EQ(idx.GetApproxRangeRecordCount(0, 3000, &hi, &lo), n);
  TSDBScanSearchCondition none = Bound(scGreater, 5000);
  EXPECT_EQ(idx.GetApproxRangeRecordCount(0, 3000, &none, &hi), 0);
  EXPECT_NEAR(static_cast<double>(idx.GetApproxRangeRecordCount(0, 3000, nullptr, nullptr)), 3000.0, 1.0);
  EXPECT_GT(idx.GetMaxEntriesPerPage(), 100);
}

// A short range's end is looked for on the leaf where the range starts;
// the estimate must be the one both bounds' own searches give, wherever
// the range lies against the leaf edges and whichever bounds it has.
TEST_F(IndexScan, RangeEstimateMatchesTheBoundsOwnSearches) {
  Create(NumIndex());
  c.FBatchUpdate = true;
  for (int i = 0; i < 3000; ++i) Add(i, "r", (i * 7919) % 3000);
  c.FBatchUpdate = false;
  T().ApplyChanges(0, false);
  TSDBBTreeRecordIndex& idx = Index("BYNUM");
  auto bySearches = [&](const TSDBScanSearchCondition& lower, const TSDBScanSearchCondition& upper) -> int64_t {
    TSDBKeyPath a, b;
    if (!idx.FindByCondition(0, true, lower, a) || !idx.FindByCondition(0, false, upper, b)) return 0;
    const double span = b.GetApproxRecNoInPercents() - a.GetApproxRecNoInPercents();
    return std::clamp<int64_t>(std::llround(span * 3000.0), 0, 3000);
  };
  for (int from = -3; from < 3003; from += 7)
    for (int width : {0, 1, 5, 60})
      for (bool exclusive : {false, true}) {
        const TSDBScanSearchCondition lower = Bound(exclusive ? scGreater : scGreaterEqual, from);
        const TSDBScanSearchCondition upper = Bound(exclusive ? scLower : scLowerEqual, from + width);
        ASSERT_EQ(idx.GetApproxRangeRecordCount(0, 3000, &lower, &upper), bySearches(lower, upper))
            << from << " +" << width << (exclusive ? " exclusive" : "");
      }
}

TEST_F(IndexScan, RecordNumbersWalkTheLeaves) {
  Create(NumIndex());
  TSDBBTreeRecordIndex* idx = &Index("BYNUM");
  EXPECT_EQ(NativeOf([&] { idx->GetRecordIDByRecNo(0, 1); }), 20074);
  for (int i = 0; i < 1500; ++i) Add(i, "r", 1500 - i);
  idx = &Index("BYNUM");
  ASSERT_GT(TSDBBTreePage(idx->KeyRef(), db.PageManager(), T().IndexDefs()[0].FRootPageNo).GetDepth(0), 1);
  for (int64_t recNo : {1, 2, 700, 1499, 1500}) {
    const TSDBPageItemID rid = idx->GetRecordIDByRecNo(0, recNo);
    EXPECT_EQ(IdOf(rid), 1500 - recNo);
    std::vector<uint8_t> rec;
    T().ReadRecordForIndex(0, rid, rec);
    EXPECT_EQ(idx->GetRecNoByRecordID(0, rid, rec.data()), recNo);
  }
  EXPECT_EQ(NativeOf([&] { idx->GetRecordIDByRecNo(0, 1501); }), 20075);
}

TEST_F(IndexScan, DistinctHidesRepeatedKeysAmongVisibleRecords) {
  TSDBIndexDefs d;
  d.Add(IndexDef("BYNAME", {{"NAME", false, true, 8}, {"NUM"}}));
  Create(std::move(d));
  // Long names share the indexed prefix but differ after it.
  const std::string longA = "prefix-long-A", longB = "prefix-long-B";
  int id = 0;
  for (const auto& n : {longA, longB, longA, std::string("x"), std::string("X"), longB}) {
    Add(id, n, id % 2);
    ++id;
  }
  Add(id++, std::nullopt, 0);
  Add(id++, std::nullopt, 1);
  // Every record visible but the last one (filtered out).
  TSDBRecordBitmap all;
  c.CurrentIndexID = -1;
  c.FirstPosition = true;
  c.LastPosition = false;
  while (T().GetRecordBuffer(c, grmNext) == grrOK) all.SetVisible(T().RecordIDToPhysicalRecordNo(c.CurrentRecordID), true);
  all.SetVisible(T().RecordIDToPhysicalRecordNo(c.CurrentRecordID), false);
  ASSERT_EQ(all.VisibleCount(), 7);
  TSDBRecordBitmap bitmap = all;
  TSDBBTreeRecordIndex& idx = Index("BYNAME");
  idx.ApplyDistinctToRecordBitmap(0, &bitmap, 1);
  // NULL, longA, longB, x (case-insensitive).
  EXPECT_EQ(bitmap.VisibleCount(), 4);
  // By both columns (NUM = id mod 2): (NULL,0), (A,0) twice, (B,1) twice,
  // (x,1), (X,0) -> 5 kept.
  TSDBRecordBitmap both = all;
  idx.ApplyDistinctToRecordBitmap(0, &both, 2);
  EXPECT_EQ(both.VisibleCount(), 5);
  EXPECT_EQ(NativeOf([&] { idx.ApplyDistinctToRecordBitmap(0, nullptr, 1); }), 20076);
}

TEST_F(IndexScan, EmptyIndexNavigationAndRefusedRequests) {
  Create(NumIndex());
  TSDBBTreeRecordIndex& idx = Index("BYNUM");
  TSDBIndexPositionCache cache;
  std::vector<uint8_t> rec = T().NewRecordBuffer();
  struct Case {
    TSDBGetRecordMode Mode;
    bool First, Last;
    TSDBGetRecordResult Result;
  };
  for (const Case& k : {Case{grmNext, true, false, grrEOF}, Case{grmPrior, false, true, grrBOF},
                        Case{grmPrior, true, false, grrBOF}, Case{grmNext, false, true, grrEOF}}) {
    TSDBNavigationInfo info;
    info.GetRecordMode = k.Mode;
    info.FirstPosition = k.First;
    info.LastPosition = k.Last;
    info.RecordBuffer = rec.data();
    idx.GetRecordBuffer(0, info, cache, T().TableState());
    EXPECT_EQ(info.GetRecordResult, k.Result);
  }
  TSDBNavigationInfo current;
  current.GetRecordMode = grmCurrent;
  EXPECT_EQ(NativeOf([&] { idx.GetRecordBuffer(0, current, cache, 0); }), 20053);
  EXPECT_EQ(NativeOf([&] { T().IndexManager().OpenIndex(987654); }), 20018);
  EXPECT_EQ(TSDBBTreeRecordIndex::CompareConditions(scGreaterEqual, scLower), -1);
  EXPECT_EQ(TSDBBTreeRecordIndex::CompareConditions(scLowerEqual, scGreater), 1);
  EXPECT_EQ(TSDBBTreeRecordIndex::CompareConditions(scEqual, scGreater), 0);
}

// ---- Creating, emptying and dropping -----------------------------------------------------------------------

TEST_F(IndexScan, IndexesAddedToAFilledTableAndDroppedAgain) {
  Create();
  for (int i = 0; i < 600; ++i) Add(i, "name" + std::to_string(i % 50), i % 200);
  const int before = PagesInUse();
  const size_t defsBefore = static_cast<size_t>(T().IndexDefs().Count());

  // A unique index the records violate leaves nothing behind.
  auto unique = IndexDef("UNUM", {{"NUM"}}, true);
  EXPECT_EQ(NativeOf([&] { T().AddIndex(c, *unique); }), 30320);
  EXPECT_EQ(static_cast<size_t>(T().IndexDefs().Count()), defsBefore);
  EXPECT_EQ(PagesInUse(), before);

  auto byName = IndexDef("BYNAME", {{"NAME", true}});
  const int32_t id = T().AddIndex(c, *byName);
  EXPECT_EQ(NativeOf([&] { T().AddIndex(c, *byName); }), 20044);
  EXPECT_GT(PagesInUse(), before + 2);
  auto names = Texts(Ordered(c, id, kName));
  ASSERT_EQ(names.size(), 600u);
  EXPECT_EQ(names.front(), "name9");
  EXPECT_EQ(names.back(), "name0");
  // Kept in step afterwards and stored with the table.
  Add(600, "zzz", 1);
  db.CloseTable(c);
  Reopen();
  Open(c, "T");
  EXPECT_EQ(Texts(Ordered(c, T().IndexIDByName("BYNAME"), kName)).front(), "zzz");
  T().CheckIndexes(0);

  // Emptying keeps only the root; dropping frees that too.
  const int full = PagesInUse();
  T().EmptyIndex(c, "BYNAME");
  EXPECT_EQ(Index("BYNAME").GetEntryCount(0), 0);
  const int emptied = PagesInUse();
  EXPECT_LT(emptied, full - 1);
  T().DeleteIndex(c, "BYNAME");
  EXPECT_FALSE(T().IndexExists("BYNAME"));
  EXPECT_EQ(PagesInUse(), emptied - 1);
  EXPECT_EQ(NativeOf([&] { T().DeleteIndex(c, "BYNAME"); }), 20018);
  Add(601, "after", 2);
  EXPECT_EQ(T().GetRecordCount(0), 602);
}

// ---- Temporary indexes -------------------------------------------------------------------------------------

TEST_F(IndexScan, TemporaryIndexesAreSharedPerSessionAndFollowTheRecords) {
  TSDBIndexDefs d;
  d.Add(IndexDef("BYNAME", {{"NAME"}}));
  Create(std::move(d));
  for (int i = 0; i < 40; ++i) Add(i, "n" + std::to_string(100 + i), i % 7);
  bool created = false;
  // A declared index that fits is used as it is.
  EXPECT_EQ(T().FindOrCreateIndex(c, {"name"}, created, {"CASE"}, {"ASC"}), T().IndexIDByName("BYNAME"));
  EXPECT_FALSE(created);
  const int32_t tmp = T().FindOrCreateIndex(c, {"NUM", "NAME"}, created, {}, {"DESC", "ASC"});
  EXPECT_TRUE(created);
  EXPECT_EQ(T().FindOrCreateIndex(c, {"NUM", "NAME"}, created, {}, {"DESC", "ASC"}), tmp);
  EXPECT_FALSE(created);
  EXPECT_EQ(T().IndexDefs().FindByID(tmp)->FName.rfind("TEMPORARY_INDEX_{", 0), 0u);
  // Another session gets its own.
  TSDBCursor c1;
  c1.SessionID = 1;
  Open(c1, "T");
  const int32_t tmp1 = T().FindOrCreateIndex(c1, {"NUM", "NAME"}, created, {}, {"DESC", "ASC"});
  EXPECT_TRUE(created);
  EXPECT_NE(tmp1, tmp);
  EXPECT_EQ(NativeOf([&] { T().FindOrCreateIndex(c, {"NUM"}, created, {}, {"DESC", "ASC"}); }), 10276);

  // Changes of either session show in both.
  Add(100, "first", 99);
  auto nums = Ordered(c1, tmp1, kNum);
  ASSERT_EQ(nums.size(), 41u);
  EXPECT_EQ(nums.front().AsInt64(), 99);
  // Rolled-back changes disappear from the temporary order too.
  c.FInTransaction = true;
  Add(101, "gone", 1000);
  EXPECT_EQ(Ordered(c, tmp, kNum).front().AsInt64(), 1000);
  db.Rollback(0);
  c.FInTransaction = false;
  EXPECT_EQ(Ordered(c, tmp, kNum).front().AsInt64(), 99);
  EXPECT_EQ(Ordered(c, tmp, kNum).size(), 41u);
  T().CheckIndexes(0);

  T().DropTemporaryIndexes(1);
  EXPECT_EQ(T().IndexDefs().FindByID(tmp1), nullptr);
  EXPECT_NE(T().IndexDefs().FindByID(tmp), nullptr);
  db.CloseTable(c1);
  db.CloseTable(c);
  Reopen();
  Open(c, "T");
  EXPECT_EQ(T().IndexDefs().Count(), 1);
}

}  // namespace
