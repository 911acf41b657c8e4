#include <cmath>
#include <cstring>
#include <set>
#include <thread>

#include "TableTestUtil.h"
#include "common/SDBBytes.h"
#include "storage/table/SDBRecordManager.h"

using namespace sdb;
using namespace sdbtest;

namespace {

// ---- Record layout ----------------------------------------------------------------------

struct LayoutCase {
  const char* Name;
  std::vector<FieldSpec> Specs;
  int32_t DiskSize;
  int32_t MemorySize;
  int32_t RecordsPerPage;
};

class RecordLayout : public TableFixture, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(RecordLayout, SizesAndRecordsPerPageFollowTheFieldTypes) {
  const LayoutCase& lc = GetParam();
  db.CreateTable("T", Fields(lc.Specs));
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  EXPECT_EQ(t.FieldManager().DiskRecordBufferSize(), lc.DiskSize);
  EXPECT_EQ(t.FieldManager().MemoryRecordBufferSize(), lc.MemorySize);
  EXPECT_EQ(t.RecordManager().MaxRecordsOnPage(), lc.RecordsPerPage);
  EXPECT_EQ(c.RecordBufferSize, lc.MemorySize);
  EXPECT_EQ(c.FirstFieldOffset, (static_cast<int>(lc.Specs.size()) + 7) / 8);

  // Fill exactly one page: the next record opens a second page.
  for (int i = 0; i < lc.RecordsPerPage + 1; ++i) Insert(c, [](TSDBDiskTableData&, std::vector<uint8_t>&) {});
  EXPECT_EQ(t.RecordManager().RecordPages(0).size(), 2u);
  db.CloseTable(c);
}

std::vector<LayoutCase> LayoutCases() {
  return {
        // bitmap 1 + 4 + 51 + 6 on disk; the memo takes 10 bytes in memory.
        LayoutCase{"IntVarcharMemo", {{"ID", aftInteger}, {"NAME", aftString, 50}, {"NOTE", aftMemo}}, 62, 66, 65},
        // 100-byte record: 40 per page.
        LayoutCase{"HundredBytes", {{"TXT", aftChar, 98}}, 100, 100, 40},
        LayoutCase{"AllFixedTypes",
                   {{"A", aftShortint},
                    {"B", aftSmallint},
                    {"C", aftLargeint},
                    {"D", aftWord},
                    {"E", aftCardinal},
                    {"F", aftSingle},
                    {"G", aftDouble},
                    {"H", aftExtended},
                    {"I", aftBoolean},
                    {"J", aftCurrency},
                    {"K", aftDate},
                    {"L", aftTime},
                    {"M", aftDateTime},
                    {"N", aftWideString, 3}},
                   2 + 1 + 2 + 8 + 2 + 4 + 4 + 8 + 10 + 2 + 8 + 4 + 4 + 8 + 8,
                   2 + 1 + 2 + 8 + 2 + 4 + 4 + 8 + 10 + 2 + 8 + 4 + 4 + 8 + 8, 4055 * 8 / (75 * 8 + 1)}};
}

INSTANTIATE_TEST_SUITE_P(Tables, RecordLayout, ::testing::ValuesIn(LayoutCases()),
                         [](const auto& tc) { return std::string(tc.param.Name); });

TEST_F(TableFixture, RecordPageStartsWithTheOccupancyBitmapAndCarriesTheTableID) {
  db.CreateTable("T", Fields({{"ID", aftInteger}, {"NAME", aftString, 50}, {"NOTE", aftMemo}}));
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  for (int i = 0; i < 3; ++i)
    Insert(c, [i](TSDBDiskTableData& td, std::vector<uint8_t>& b) { td.SetFieldValue(b, 0, TSDBVariant::FromInt(i + 7)); });
  ASSERT_EQ(t.RecordManager().RecordPages(0).size(), 1u);
  const int32_t pageNo = t.RecordManager().RecordPages(0)[0];
  db.CloseTable(c);
  db.CloseDatabase();

  // Read the committed page straight from the file.
  TSDBDiskPageCache cache(10);
  bool ro = false, repair = false, multi = false;
  cache.OpenDatabase(path, {}, ro, repair, false, multi);
  std::vector<uint8_t> page(cache.PageSize());
  ASSERT_TRUE(cache.DiskPageManager().InternalReadPage(pageNo, page.data()));
  EXPECT_EQ(SDBGetPageType(page.data()), ptTableRecord);
  const uint8_t* d = page.data() + kSDBPageHeaderSize;
  EXPECT_EQ(d[0], 0x07);  // three slots used
  for (int i = 1; i < 9; ++i) EXPECT_EQ(d[i], 0);
  // Slot 1 begins after the 9-byte bitmap and one 62-byte record; the
  // record's own null bitmap has bit 0 (ID) clear and NAME, NOTE NULL.
  const uint8_t* slot1 = d + 9 + 62;
  EXPECT_EQ(slot1[0], 0x06);
  EXPECT_EQ(GetLEI32(slot1 + 1), 8);
  cache.CloseDatabase();
}

TEST_F(TableFixture, TooLargeRecordsAndEmptyFieldListsAreRefused) {
  EXPECT_EQ(NativeOf([&] { db.CreateTable("BIG", Fields({{"TXT", aftChar, 4055}})); }), 20174);
  EXPECT_EQ(NativeOf([&] { db.CreateTable("NONE", TSDBFieldDefs{}); }), 20128);
  TSDBFieldDefs zeroBlock = Fields({{"B", aftBlob}});
  zeroBlock[0].FBLOBBlockSize = 0;
  EXPECT_EQ(NativeOf([&] { db.CreateTable("ZB", std::move(zeroBlock)); }), 10421);
  TSDBFieldDefs badMode = Fields({{"B", aftBlob}});
  badMode[0].FBLOBCompressionAlgorithm = acaZLIB;
  badMode[0].FBLOBCompressionMode = 0;
  EXPECT_NE(NativeOf([&] { db.CreateTable("BM", std::move(badMode)); }), 0);
  // None of the failed attempts left a catalogue entry or a held page.
  EXPECT_TRUE(db.GetTablesList().empty());
  EXPECT_FALSE(db.Cache().HasChanges(kSDBEngineSessionID));
  // The largest record that fits makes a table of one record per page.
  db.CreateTable("ONE", Fields({{"TXT", aftChar, 4052}}));  // 4054 bytes
  TSDBCursor c;
  EXPECT_EQ(Open(c, "ONE").RecordManager().MaxRecordsOnPage(), 1);
  db.CloseTable(c);
}

// ---- Catalogue ------------------------------------------------------------------------------

TEST_F(TableFixture, TableNamesCompareCaseInsensitively) {
  db.CreateTable("Parametres", Fields({{"ID", aftInteger}}));
  EXPECT_EQ(NativeOf([&] { db.CreateTable("PARAMETRES", Fields({{"ID", aftInteger}})); }), 30395);
  EXPECT_TRUE(db.TableExists("parametres"));
  TSDBCursor c;
  Open(c, "pArAmEtReS");
  EXPECT_EQ(c.TableName, "Parametres");
  db.CloseTable(c);
  EXPECT_EQ(NativeOf([&] {
              TSDBCursor c2;
              db.OpenTable(c2, "Missing");
            }),
            30405);
}

TEST_F(TableFixture, CatalogueSurvivesReopenRenameAndDelete) {
  db.CreateTable("A", Fields({{"ID", aftInteger}}));
  db.CreateTable("B", Fields({{"ID", aftInteger}, {"M", aftMemo}}));
  db.CreateTable("C", Fields({{"ID", aftInteger}}));
  Reopen();
  EXPECT_EQ(db.GetTablesList(), (std::vector<std::string>{"A", "B", "C"}));

  db.RenameTable("a", "Z");
  EXPECT_EQ(NativeOf([&] { db.RenameTable("B", "c"); }), 30395);
  const int32_t pagesBefore = db.Cache().DiskPageManager().DBHeader().LastUsedPageNo;
  {
    TSDBCursor c;
    Open(c, "B");
    for (int i = 0; i < 200; ++i)
      Insert(c, [&](TSDBDiskTableData& t, std::vector<uint8_t>& b) {
        t.SetFieldValue(b, 0, TSDBVariant::FromInt(i));
        t.WriteBLOBFieldToRecordBuffer(b, 1, Bytes(i % 3 == 0 ? 9000 : 300, static_cast<uint32_t>(i)));
      });
    // A table in use cannot be deleted.
    EXPECT_EQ(NativeOf([&] { db.DeleteTable("B"); }), 20017);
    db.CloseTable(c);
  }
  db.DeleteTable("B");
  Reopen();
  EXPECT_EQ(db.GetTablesList(), (std::vector<std::string>{"Z", "C"}));
  // Every page the table used went back to the free-space manager.
  int used = 0;
  for (int32_t p = 0; p < db.Cache().GetPageCount(); ++p) used += db.PageInUse(p);
  EXPECT_LE(db.Cache().DiskPageManager().DBHeader().LastUsedPageNo, pagesBefore + 1);
  EXPECT_LT(used, 30);
  EXPECT_EQ(NativeOf([&] { db.DeleteTable("B"); }), 30405);
}

// ---- Records and navigation ----------------------------------------------------------

TEST_F(TableFixture, NavigationAndRecordNumbersFollowPhysicalOrder) {
  db.CreateTable("T", Fields({{"N", aftInteger}, {"PAD", aftChar, 300}}));  // 12 records a page
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  EXPECT_EQ(t.GetRecordBuffer(c, grmNext), grrEOF);
  c.FirstPosition = true;
  EXPECT_EQ(t.GetRecordBuffer(c, grmPrior), grrBOF);
  const int n = 50;
  for (int i = 1; i <= n; ++i)
    Insert(c, [i](TSDBDiskTableData& td, std::vector<uint8_t>& b) { td.SetFieldValue(b, 0, TSDBVariant::FromInt(i)); });
  EXPECT_EQ(t.GetRecordCount(0), n);

  std::vector<int64_t> forward, backward;
  for (const auto& v : Column(c, 0)) forward.push_back(v.AsInt64());
  ASSERT_EQ(forward.size(), static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) EXPECT_EQ(forward[static_cast<size_t>(i)], i + 1);
  c.FirstPosition = false;
  c.LastPosition = true;
  while (t.GetRecordBuffer(c, grmPrior) == grrOK) backward.push_back(t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64());
  EXPECT_EQ(backward, std::vector<int64_t>(forward.rbegin(), forward.rend()));

  for (int64_t r : {1, 12, 13, 37, 50}) {
    t.SetRecNo(c, r);
    EXPECT_EQ(t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64(), r);
    EXPECT_EQ(t.GetRecNo(c), r);
  }
  EXPECT_NE(NativeOf([&] { t.SetRecNo(c, n + 1); }), 0);

  // Delete every third record; navigation, numbering and the count follow.
  for (int r = n; r >= 1; r -= 3) {
    t.SetRecNo(c, r);
    ASSERT_TRUE(t.DeleteRecord(c));
  }
  std::vector<int64_t> left;
  for (const auto& v : Column(c, 0)) left.push_back(v.AsInt64());
  EXPECT_EQ(static_cast<int64_t>(left.size()), t.GetRecordCount(0));
  for (int64_t v : left) EXPECT_NE((n - v) % 3, 0);
  t.SetRecNo(c, 20);
  EXPECT_EQ(t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64(), left[19]);
  EXPECT_EQ(t.GetRecNo(c), 20);

  // Update in place.
  c.EditRecordBuffer = c.CurrentRecordBuffer;
  t.SetFieldValue(c.EditRecordBuffer, 0, TSDBVariant::FromInt(-5));
  ASSERT_TRUE(t.UpdateRecord(c));
  t.SetRecNo(c, 20);
  EXPECT_EQ(t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64(), -5);
  db.CloseTable(c);
}

TEST_F(TableFixture, DeletingTheLastRecordOfAPageRemovesThePage) {
  db.CreateTable("T", Fields({{"N", aftInteger}, {"PAD", aftChar, 1000}}));  // 4 records a page
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  ASSERT_EQ(t.RecordManager().MaxRecordsOnPage(), 4);
  for (int i = 0; i < 5; ++i)
    Insert(c, [i](TSDBDiskTableData& td, std::vector<uint8_t>& b) { td.SetFieldValue(b, 0, TSDBVariant::FromInt(i)); });
  auto pages = t.RecordManager().RecordPages(0);
  ASSERT_EQ(pages.size(), 2u);
  const int32_t lonely = pages[1];
  EXPECT_TRUE(db.PageInUse(lonely));

  t.SetRecNo(c, 5);
  ASSERT_TRUE(t.DeleteRecord(c));
  EXPECT_EQ(t.RecordManager().RecordPages(0), std::vector<int32_t>{pages[0]});
  EXPECT_FALSE(db.PageInUse(lonely));
  // The cursor moved to the neighbouring record.
  EXPECT_EQ(t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64(), 3);

  // A freed slot on the remaining page is reused before a new page is made.
  t.SetRecNo(c, 2);
  ASSERT_TRUE(t.DeleteRecord(c));
  Insert(c, [](TSDBDiskTableData& td, std::vector<uint8_t>& b) { td.SetFieldValue(b, 0, TSDBVariant::FromInt(99)); });
  EXPECT_EQ(c.CurrentRecordID.PageNo, pages[0]);
  EXPECT_EQ(c.CurrentRecordID.PageItemNo, 1);
  EXPECT_EQ(t.RecordManager().RecordPages(0).size(), 1u);

  // Deleting everything leaves an empty table; the cursor is before the first record.
  while (t.GetRecordCount(0) > 0) {
    t.SetRecNo(c, 1);
    ASSERT_TRUE(t.DeleteRecord(c));
  }
  EXPECT_TRUE(c.FirstPosition);
  EXPECT_TRUE(t.RecordManager().RecordPages(0).empty());
  EXPECT_EQ(t.GetRecordBuffer(c, grmNext), grrEOF);
  EXPECT_EQ(NativeOf([&] { t.DeleteRecord(c); }), 20146);
  db.CloseTable(c);
}

// ---- Values ---------------------------------------------------------------------------------

struct ValueCase {
  const char* Name;
  TSDBAdvancedFieldType Type;
  int32_t Size;
  TSDBVariant Value;
  TSDBVariant Expected;  // what reads back (texts longer than the field are cut)
};

class FieldValues : public TableFixture, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(FieldValues, SurviveAReopenOfTheFile) {
  const ValueCase& vc = GetParam();
  db.CreateTable("T", Fields({{"K", aftInteger}, {"V", vc.Type, vc.Size}}));
  {
    TSDBCursor c;
    Open(c, "T");
    Insert(c, [&](TSDBDiskTableData& t, std::vector<uint8_t>& b) {
      t.SetFieldValue(b, 0, TSDBVariant::FromInt(1));
      t.SetFieldValue(b, 1, vc.Value);
    });
    Insert(c, [&](TSDBDiskTableData& t, std::vector<uint8_t>& b) { t.SetFieldValue(b, 0, TSDBVariant::FromInt(2)); });
    db.CloseTable(c);
  }
  Reopen();
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  auto values = Column(c, 1);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].Compare(vc.Expected), 0) << values[0].AsString() << " vs " << vc.Expected.AsString();
  EXPECT_TRUE(values[1].IsNull());
  EXPECT_EQ(t.GetRecordCount(0), 2);
  db.CloseTable(c);
}

std::vector<ValueCase> ValueCases() {
  return {
        ValueCase{"Char", aftChar, 5, TSDBVariant::FromString("abcdefgh"), TSDBVariant::FromString("abcde")},
        ValueCase{"Varchar", aftString, 50, TSDBVariant::FromString("Bonjour \xE9t\xE9"),
                  TSDBVariant::FromString("Bonjour \xE9t\xE9")},
        ValueCase{"WideString", aftWideString, 10, TSDBVariant::FromWideString(u"\u00e9\u4e2d\u6587"),
                  TSDBVariant::FromWideString(u"\u00e9\u4e2d\u6587")},
        ValueCase{"Shortint", aftShortint, 0, TSDBVariant::FromInt(-100), TSDBVariant::FromInt(-100)},
        ValueCase{"Word", aftWord, 0, TSDBVariant::FromInt(65000), TSDBVariant::FromInt(65000)},
        ValueCase{"Cardinal", aftCardinal, 0, TSDBVariant::FromInt(4000000000LL), TSDBVariant::FromInt(4000000000LL)},
        ValueCase{"Largeint", aftLargeint, 0, TSDBVariant::FromInt(-(int64_t{1} << 60)),
                  TSDBVariant::FromInt(-(int64_t{1} << 60))},
        ValueCase{"Single", aftSingle, 0, TSDBVariant::FromDouble(1.5), TSDBVariant::FromDouble(1.5)},
        ValueCase{"Double", aftDouble, 0, TSDBVariant::FromDouble(-3.25e-7), TSDBVariant::FromDouble(-3.25e-7)},
        ValueCase{"Extended", aftExtended, 0, TSDBVariant::FromDouble(1e300), TSDBVariant::FromDouble(1e300)},
        ValueCase{"Currency", aftCurrency, 0, TSDBVariant::FromCurrency(12.34), TSDBVariant::FromCurrency(12.34)},
        ValueCase{"Boolean", aftBoolean, 0, TSDBVariant::FromBool(true), TSDBVariant::FromBool(true)},
        ValueCase{"Date", aftDate, 0, TSDBVariant::FromDateTime(SDBEncodeDate(2024, 2, 29), bftDate),
                  TSDBVariant::FromDateTime(SDBEncodeDate(2024, 2, 29), bftDate)},
        ValueCase{"Time", aftTime, 0, TSDBVariant::FromDateTime(SDBEncodeTime(13, 45, 7, 250), bftTime),
                  TSDBVariant::FromDateTime(SDBEncodeTime(13, 45, 7, 250), bftTime)},
        ValueCase{"DateTime", aftDateTime, 0,
                  TSDBVariant::FromDateTime(SDBEncodeDate(1999, 12, 31) + SDBEncodeTime(23, 59, 59, 999)),
                  TSDBVariant::FromDateTime(SDBEncodeDate(1999, 12, 31) + SDBEncodeTime(23, 59, 59, 999))},
        ValueCase{"BeforeEpochDate", aftDate, 0, TSDBVariant::FromDateTime(SDBEncodeDate(1700, 1, 1), bftDate),
                  TSDBVariant::FromDateTime(SDBEncodeDate(1700, 1, 1), bftDate)}};
}

INSTANTIATE_TEST_SUITE_P(Types, FieldValues, ::testing::ValuesIn(ValueCases()),
                         [](const auto& tc) { return std::string(tc.param.Name); });

TEST(FieldEncoding, DatesAreDayNumbersFromYearOneAndExtendedIsEightyBits) {
  uint8_t b[10];
  SDBWriteFieldValue(b, 4, bftDate, TSDBVariant::FromDateTime(0, bftDate));  // 30 December 1899
  EXPECT_EQ(GetLEI32(b), 693594);
  SDBWriteFieldValue(b, 4, bftTime, TSDBVariant::FromDateTime(SDBEncodeTime(0, 0, 1, 500), bftTime));
  EXPECT_EQ(GetLEI32(b), 1500);
  SDBDoubleToExtended(1.0, b);
  EXPECT_EQ(GetLE64(b), uint64_t{1} << 63);
  EXPECT_EQ(GetLE16(b + 8), 0x3FFF);
  for (double d : {0.0, -2.5, 1e-310, 6.02214076e23, -1e308}) {
    SDBDoubleToExtended(d, b);
    EXPECT_EQ(SDBExtendedToDouble(b), d);
  }
}

// An integer of any width written to an integer field: kept exactly at the
// bounds of the field's type, refused one beyond them ("out of range",
// 30049) with the field left as it was; a text is converted as before.
TEST(FieldEncoding, IntegersOfAnotherWidthAreRangeCheckedForTheField) {
  TSDBBaseFieldManager fm(Fields({{"S8", aftShortint},
                                  {"S16", aftSmallint},
                                  {"S32", aftInteger},
                                  {"U8", aftByte},
                                  {"U16", aftWord},
                                  {"U32", aftCardinal},
                                  {"S64", aftLargeint}}));
  struct Case {
    int Field;
    int64_t Low, High;
  };
  const Case cases[] = {{0, INT8_MIN, INT8_MAX},   {1, INT16_MIN, INT16_MAX}, {2, INT32_MIN, INT32_MAX},
                        {3, 0, UINT8_MAX},         {4, 0, UINT16_MAX},        {5, 0, int64_t{UINT32_MAX}},
                        {6, INT64_MIN, INT64_MAX}};
  std::vector<uint8_t> b = fm.NewMemRecordBuffer();
  for (const Case& c : cases) {
    SCOPED_TRACE(fm.Field(c.Field).FName);
    for (TSDBBaseFieldType from : {bftSignedInt64, bftSignedInt32, bftUnsignedInt32}) {
      for (int64_t v : {c.Low, c.High}) {
        // Only values the source type holds.
        if (from == bftSignedInt32 && (v < INT32_MIN || v > INT32_MAX)) continue;
        if (from == bftUnsignedInt32 && (v < 0 || v > int64_t{UINT32_MAX})) continue;
        fm.SetFieldValue(b.data(), c.Field, TSDBVariant::FromInt(v, from));
        EXPECT_EQ(fm.GetFieldValue(b.data(), c.Field).AsInt64(), v);
      }
    }
    if (c.Field == 6) continue;
    fm.SetFieldValue(b.data(), c.Field, TSDBVariant::FromInt(c.High, bftSignedInt64));
    for (int64_t beyond : {c.Low - 1, c.High + 1}) {
      try {
        fm.SetFieldValue(b.data(), c.Field, TSDBVariant::FromInt(beyond, bftSignedInt64));
        ADD_FAILURE() << beyond << " was accepted";
      } catch (const ESDBException& e) {
        EXPECT_EQ(e.NativeError(), kEvalErrRange) << e.what();
      }
      EXPECT_EQ(fm.GetFieldValue(b.data(), c.Field).AsInt64(), c.High);
    }
  }
  fm.SetFieldValue(b.data(), 2, TSDBVariant::FromString("-17"));
  EXPECT_EQ(fm.GetFieldValue(b.data(), 2).AsInt64(), -17);
  EXPECT_EQ(fm.GetFieldValue(b.data(), 2).DataType(), bftSignedInt32);
}

// ---- Defaults and auto-increment ------------------------------------------------------------

TEST_F(TableFixture, DefaultValuesFillNewRecordsButNotBlobs) {
  TSDBFieldDefs defs = Fields({{"S", aftString, 10}, {"I", aftInteger}, {"D", aftDouble}, {"M", aftMemo}});
  defs[0].FDefaultValue = TSDBVariant::FromString("abc");
  defs[1].FDefaultValue = TSDBVariant::FromString("42");  // converted to the field type
  defs[3].FDefaultValue = TSDBVariant::FromString("ignored");
  db.CreateTable("T", std::move(defs));
  Reopen();
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  std::vector<uint8_t> b = t.NewRecordBuffer();
  EXPECT_EQ(t.GetFieldValue(b, 0).AsString(), "abc");
  EXPECT_EQ(t.GetFieldValue(b, 1).AsInt64(), 42);
  EXPECT_TRUE(t.GetFieldValue(b, 2).IsNull());
  EXPECT_TRUE(t.FieldManager().IsNull(b.data(), 3));
  db.CloseTable(c);
}

TEST_F(TableFixture, AutoIncrementTakesLastPlusIncrementAndFollowsLargerExplicitValues) {
  TSDBFieldDefs defs = Fields({{"ID", aftAutoInc}, {"SMALL", aftAutoIncByte}, {"X", aftInteger}});
  defs[1].FAutoincMaxValue = 3;
  defs[1].FAutoincMinValue = 1;
  defs[1].FAutoincCycled = true;
  db.CreateTable("T", std::move(defs));
  {
    TSDBCursor c;
    TSDBDiskTableData& t = Open(c, "T");
    auto add = [&](std::optional<int64_t> id) {
      Insert(c, [&](TSDBDiskTableData& td, std::vector<uint8_t>& b) {
        if (id) td.SetFieldValue(b, 0, TSDBVariant::FromInt(*id));
      });
      return t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64();
    };
    EXPECT_EQ(add({}), 1);
    EXPECT_EQ(add({}), 2);
    EXPECT_EQ(add(10), 10);
    EXPECT_EQ(add({}), 11);
    EXPECT_EQ(add(5), 5);  // smaller explicit values leave the last value alone
    EXPECT_EQ(add({}), 12);
    EXPECT_EQ(t.LastAutoincValue(0, 0), 12);
    // The cycled byte counter wrapped to its minimum after 3.
    std::vector<int64_t> small;
    for (const auto& v : Column(c, 1)) small.push_back(v.AsInt64());
    EXPECT_EQ(small, (std::vector<int64_t>{1, 2, 3, 1, 2, 3}));
    db.CloseTable(c);
  }
  Reopen();  // the last values live in the most-updated file
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  Insert(c, [](TSDBDiskTableData&, std::vector<uint8_t>&) {});
  EXPECT_EQ(t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64(), 13);
  db.CloseTable(c);
}

TEST_F(TableFixture, AutoIncrementBeyondItsMaximumFailsWithoutInsertingAnything) {
  TSDBFieldDefs defs = Fields({{"ID", aftAutoIncInteger}});
  defs[0].FAutoincMaxValue = 2;
  db.CreateTable("T", std::move(defs));
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  Insert(c, [](TSDBDiskTableData&, std::vector<uint8_t>&) {});
  Insert(c, [](TSDBDiskTableData&, std::vector<uint8_t>&) {});
  c.EditRecordBuffer = t.NewRecordBuffer();
  EXPECT_EQ(NativeOf([&] { t.InsertRecord(c); }), 20160);
  EXPECT_EQ(t.GetRecordCount(0), 2);
  EXPECT_EQ(t.LastAutoincValue(0, 0), 2);
  EXPECT_EQ(NativeOf([&] { t.LastAutoincValue(0, 7); }), 10000);
  db.CloseTable(c);
}

// ---- Transactions ------------------------------------------------------------------------------

TEST_F(TableFixture, InsertsInATransactionVanishOnRollbackAndStayAfterCommit) {
  db.CreateTable("T", Fields({{"ID", aftAutoInc}, {"M", aftMemo}}));
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  Insert(c, [](TSDBDiskTableData&, std::vector<uint8_t>&) {});  // committed at once
  c.FInTransaction = true;
  for (int i = 0; i < 30; ++i)
    Insert(c, [&](TSDBDiskTableData& td, std::vector<uint8_t>& b) {
      td.WriteBLOBFieldToRecordBuffer(b, 1, Bytes(i % 2 ? 200 : 6000, static_cast<uint32_t>(i)));
    });
  EXPECT_EQ(t.GetRecordCount(0), 31);
  db.Rollback(0);
  c.FInTransaction = false;
  EXPECT_EQ(t.GetRecordCount(0), 1);
  EXPECT_EQ(Column(c, 0).size(), 1u);
  EXPECT_FALSE(db.Cache().HasChanges(0));

  c.FInTransaction = true;
  Insert(c, [](TSDBDiskTableData&, std::vector<uint8_t>&) {});
  EXPECT_EQ(t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64(), 2);  // the rolled-back values are free again
  db.Commit(0);
  c.FInTransaction = false;
  db.CloseTable(c);
  Reopen();
  TSDBCursor c2;
  Open(c2, "T");
  auto ids = Column(c2, 0);
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(ids[1].AsInt64(), 2);
  db.CloseTable(c2);
}

TEST_F(TableFixture, ACursorWhosePageWasRemovedByAnotherMovesOnToTheNeighbours) {
  db.CreateTable("T", Fields({{"N", aftInteger}, {"PAD", aftChar, 1000}}));  // 4 records a page
  TSDBCursor a, b;
  TSDBDiskTableData& t = Open(a, "T");
  Open(b, "T");
  for (int i = 1; i <= 9; ++i)
    Insert(a, [i](TSDBDiskTableData& td, std::vector<uint8_t>& r) { td.SetFieldValue(r, 0, TSDBVariant::FromInt(i)); });
  // a sits on record 5, alone with 6..8 on the second page; b empties that page.
  t.SetRecNo(a, 5);
  for (int k = 0; k < 4; ++k) {
    t.SetRecNo(b, 5);
    ASSERT_TRUE(t.DeleteRecord(b));
  }
  ASSERT_EQ(t.RecordManager().RecordPages(0).size(), 2u);
  ASSERT_EQ(t.GetRecordBuffer(a, grmNext), grrOK);
  EXPECT_EQ(t.GetFieldValue(a.CurrentRecordBuffer, 0).AsInt64(), 9);
  t.SetRecNo(a, 5);  // record 9
  t.SetRecNo(b, 5);
  ASSERT_TRUE(t.DeleteRecord(b));
  ASSERT_EQ(t.GetRecordBuffer(a, grmPrior), grrOK);
  EXPECT_EQ(t.GetFieldValue(a.CurrentRecordBuffer, 0).AsInt64(), 4);
  EXPECT_EQ(t.GetRecordBuffer(a, grmCurrent), grrOK);
  db.CloseTable(a);
  db.CloseTable(b);
}

TEST_F(TableFixture, CursorsOnSeveralThreadsShareTheTableSafely) {
  db.CreateTable("T", Fields({{"ID", aftAutoInc}, {"W", aftInteger}, {"M", aftMemo}}));
  constexpr int kThreads = 4, kRows = 60;
  std::vector<std::thread> threads;
  for (int w = 0; w < kThreads; ++w)
    threads.emplace_back([&, w] {
      TSDBCursor c;
      db.OpenTable(c, "T");
      for (int i = 0; i < kRows; ++i) {
        // Each step holds the database critical section, as a dataset does.
        std::lock_guard<std::recursive_mutex> lock(db.CriticalSection());
        TSDBDiskTableData& t = *c.TableData;
        c.EditRecordBuffer = t.NewRecordBuffer();
        t.SetFieldValue(c.EditRecordBuffer, 1, TSDBVariant::FromInt(w));
        t.WriteBLOBFieldToRecordBuffer(c.EditRecordBuffer, 2, Bytes(i % 5 ? 100 : 5000, static_cast<uint32_t>(w * 1000 + i)));
        t.InsertRecord(c);
      }
      db.CloseTable(c);
    });
  for (auto& th : threads) th.join();
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  EXPECT_EQ(t.GetRecordCount(0), kThreads * kRows);
  std::set<int64_t> ids;
  for (const auto& v : Column(c, 0)) ids.insert(v.AsInt64());
  EXPECT_EQ(ids.size(), static_cast<size_t>(kThreads * kRows));
  EXPECT_EQ(*ids.rbegin(), kThreads * kRows);
  db.CloseTable(c);
}

TEST_F(TableFixture, ExclusiveUseNeedsTheOnlyCursor) {
  db.CreateTable("T", Fields({{"ID", aftInteger}}));
  TSDBCursor a, b;
  Open(a, "T");
  b.FExclusive = true;
  EXPECT_EQ(NativeOf([&] { db.OpenTable(b, "T"); }), 20242);
  // Both cursors of one table share its table data.
  TSDBCursor shared;
  Open(shared, "T");
  EXPECT_EQ(shared.TableData, a.TableData);
  Insert(a, [](TSDBDiskTableData& t, std::vector<uint8_t>& r) { t.SetFieldValue(r, 0, TSDBVariant::FromInt(5)); });
  EXPECT_EQ(Column(shared, 0).size(), 1u);
  db.CloseTable(a);
  db.CloseTable(shared);
  Open(b, "T");
  TSDBCursor d;
  EXPECT_EQ(NativeOf([&] { db.OpenTable(d, "T"); }), 20209);
  db.CloseTable(b);
}

}  // namespace
