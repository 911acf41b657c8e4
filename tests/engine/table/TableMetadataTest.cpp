#include "TableTestUtil.h"
#include "common/SDBBytes.h"
#include "storage/table/SDBMetadata.h"

using namespace sdb;
using namespace sdbtest;

namespace {

TSDBTableMetadata SampleMetadata() {
  TSDBTableMetadata m;
  m.FieldDefs = Fields({{"ID", aftAutoInc},
                        {"Nom", aftString, 40},
                        {"Prix", aftCurrency},
                        {"Quand", aftDateTime},
                        {"Photo", aftGraphic},
                        {"Notes", aftWideMemo},
                        {"Actif", aftBoolean}});
  m.FieldDefs[0].FObjectID = 11;
  m.FieldDefs[0].FAutoincIncrement = 5;
  m.FieldDefs[0].FAutoincInitialValue = 100;
  m.FieldDefs[0].FAutoincMinValue = -3;
  m.FieldDefs[0].FAutoincMaxValue = int64_t{1} << 40;
  m.FieldDefs[0].FAutoincCycled = true;
  m.FieldDefs[1].FDefaultValue = TSDBVariant::FromString("sans nom");
  m.FieldDefs[2].FDefaultValue = TSDBVariant::FromCurrency(9.5);
  m.FieldDefs[3].FDefaultValue = TSDBVariant::FromDateTime(SDBEncodeDate(2020, 5, 17) + SDBEncodeTime(8, 0, 0, 0));
  m.FieldDefs[4].FBLOBCompressionAlgorithm = acaBZIP;
  m.FieldDefs[4].FBLOBCompressionMode = 9;
  m.FieldDefs[4].FBLOBBlockSize = 65536;
  m.FieldDefs[6].FDefaultValue = TSDBVariant::FromBool(true);

  auto& ix = m.IndexDefs.Emplace();
  ix.FName = "PK_T";
  ix.FObjectID = 20;
  ix.FUnique = ix.FPrimary = true;
  ix.FRootPageNo = 77;
  ix.FColumns = {{"ID", false, false, 20}, {"Nom", true, true, 12}};
  auto& tmp = m.IndexDefs.Emplace();
  tmp.FName = "TEMP";
  tmp.FTemporary = true;  // never stored

  auto pk = std::make_unique<TSDBConstraintDefPrimary>();
  pk->FName = "PK_T";
  pk->FObjectID = 21;
  pk->FTableObjectID = 9;
  pk->FTableName = "T";
  pk->FIndexObjectID = 20;
  pk->FIndexName = "PK_T";
  pk->FColumns = {{11, "ID"}};
  m.ConstraintDefs.Add(std::move(pk));
  auto nn = std::make_unique<TSDBConstraintDefNotNull>();
  nn->FName = "NN_Nom";
  nn->FColumnObjectID = 12;
  nn->FColumnName = "Nom";
  nn->FTableSchemaName = "dbo";
  m.ConstraintDefs.Add(std::move(nn));
  auto ck = std::make_unique<TSDBConstraintDefCheck>();
  ck->FName = "CK_Prix";
  ck->FColumnName = "Prix";
  ck->FMinValue = TSDBVariant::FromDouble(0);
  ck->FMaxValue = TSDBVariant::FromDouble(1e6);
  m.ConstraintDefs.Add(std::move(ck));
  auto uq = std::make_unique<TSDBConstraintDefUnique>();
  uq->FName = "UQ";
  uq->FColumns = {{11, "ID"}, {12, "Nom"}};
  m.ConstraintDefs.Add(std::move(uq));
  m.RecordPageIndexRoot = 33;
  m.BlobPageIndexRoot = 34;
  return m;
}

TEST(TableMetadata, StreamRoundTripsEveryDefinitionKind) {
  const TSDBTableMetadata m = SampleMetadata();
  const std::vector<uint8_t> bytes = m.Save();
  TSDBTableMetadata back;
  back.Load(bytes);
  EXPECT_EQ(back.Save(), bytes);

  ASSERT_EQ(back.FieldDefs.Count(), 7);
  const TSDBFieldDef& id = back.FieldDefs[0];
  EXPECT_EQ(id.FName, "ID");
  EXPECT_EQ(id.FObjectID, 11);
  EXPECT_EQ(id.FAdvancedFieldType, aftAutoInc);
  EXPECT_EQ(id.FBaseFieldType, bftSignedInt32);
  EXPECT_EQ(id.FAutoincIncrement, 5);
  EXPECT_EQ(id.FAutoincMaxValue, int64_t{1} << 40);
  EXPECT_TRUE(id.FAutoincCycled);
  EXPECT_EQ(back.FieldDefs[1].FDefaultValue.AsString(), "sans nom");
  EXPECT_EQ(back.FieldDefs[3].FDefaultValue.Compare(m.FieldDefs[3].FDefaultValue), 0);
  EXPECT_EQ(back.FieldDefs[4].FBLOBCompressionAlgorithm, acaBZIP);
  EXPECT_EQ(back.FieldDefs[4].FBLOBBlockSize, 65536);
  EXPECT_TRUE(back.FieldDefs[5].FDefaultValue.IsNull());
  ASSERT_EQ(back.IndexDefs.Count(), 1);  // the temporary index is not stored
  EXPECT_EQ(back.IndexDefs[0].FRootPageNo, 77);
  ASSERT_EQ(back.IndexDefs[0].FColumns.size(), 2u);
  EXPECT_TRUE(back.IndexDefs[0].FColumns[1].FCaseInsensitive);
  EXPECT_EQ(back.IndexDefs[0].FColumns[1].FMaxIndexedSize, 12);
  ASSERT_EQ(back.ConstraintDefs.Count(), 4);
  EXPECT_EQ(back.ConstraintDefs[0].ConstraintType(), ctPK);
  EXPECT_EQ(dynamic_cast<const TSDBConstraintDefNotNull&>(back.ConstraintDefs[1]).FTableSchemaName, "dbo");
  EXPECT_EQ(dynamic_cast<const TSDBConstraintDefCheck&>(back.ConstraintDefs[2]).FMaxValue.AsDouble(), 1e6);
  EXPECT_EQ(dynamic_cast<const TSDBConstraintDefUnique&>(back.ConstraintDefs[3]).FColumns[1].ColumnName, "Nom");
  EXPECT_EQ(back.RecordPageIndexRoot, 33);
  EXPECT_EQ(back.BlobPageIndexRoot, 34);
  EXPECT_EQ(back.FieldDefs.FindByName("nom"), &back.FieldDefs[1]);
  EXPECT_EQ(back.FieldDefs.FindByID(11), &back.FieldDefs[0]);
}

TEST(TableMetadata, ExactBytesOfAFieldDefinition) {
  TSDBTableMetadata m;
  m.FieldDefs = Fields({{"AB", aftMemo}});
  m.FieldDefs[0].FObjectID = 0x0102;
  m.FieldDefs[0].FBLOBCompressionAlgorithm = acaZLIB;
  m.FieldDefs[0].FBLOBCompressionMode = 3;
  m.FieldDefs[0].FBLOBBlockSize = 4096;
  const std::vector<uint8_t> b = m.Save();
  const std::vector<uint8_t> head = {1, 0, 0, 0,                 // field count
                                     2, 'A', 'B', 2, 1, 0, 0,    // name, object id
                                     bftClob, aftMemo, 0, 0, 0, 0,  // types, size
                                     acaZLIB, 3, 0, 0x10, 0, 0};  // compression, block size
  ASSERT_GT(b.size(), head.size());
  EXPECT_TRUE(std::equal(head.begin(), head.end(), b.begin()));
  // increment 1, initial/min/max 0, not cycled, null default of unknown type
  const size_t p = head.size();
  EXPECT_EQ(GetLEI64(b.data() + p), 1);
  EXPECT_EQ(b[p + 32], 0);
  EXPECT_EQ(b[p + 33], bftUnknown);
  EXPECT_EQ(b[p + 34], 1);
  // then: no index, no constraint, the two roots
  EXPECT_EQ(b.size(), p + 35 + 4 + 4 + 4 + 4);
}

TEST(TableMetadata, TruncatedOrMalformedStreamsFailCleanly) {
  const std::vector<uint8_t> bytes = SampleMetadata().Save();
  for (size_t n = 0; n < bytes.size(); ++n) {
    TSDBTableMetadata m;
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_THROW(m.Load(cut), ESDBException) << n;
  }
  // Byte flips anywhere either load or raise; none may crash.
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::vector<uint8_t> bad = bytes;
    bad[i] ^= 0xA5;
    TSDBTableMetadata m;
    try {
      m.Load(bad);
    } catch (const ESDBException&) {
    }
  }
  struct Case {
    uint8_t Type;
    int Code;
  };
  for (const Case& c : {Case{ctFK, 30040}, Case{7, 30316}})
    EXPECT_EQ(NativeOf([&] { TSDBConstraintDef::Create(c.Type); }), c.Code);
  EXPECT_EQ(NativeOf([] { TSDBFieldDef("X", aftUnknown); }), 30007);
}

TEST(TableMetadata, MostUpdatedContentIsCheckedAgainstTheFieldCount) {
  TSDBMostUpdatedData mu;
  mu.LastAutoIncValues = {0, 42};
  mu.TableState = 7;
  mu.RecordCount = 3;
  const auto bytes = mu.Save();
  EXPECT_EQ(bytes.size(), 4u + 16 + 8);
  TSDBMostUpdatedData back;
  back.Load(bytes, 2);
  EXPECT_EQ(back.LastAutoIncValues[1], 42);
  EXPECT_EQ(back.TableState, 7);
  EXPECT_EQ(back.RecordCount, 3);
  std::vector<uint8_t> tooLong(static_cast<size_t>((2 * 8 + 8) * 4 + 1), 0);
  PutLEI32(tooLong.data(), 2);
  for (const auto& bad : {std::vector<uint8_t>(bytes.begin(), bytes.end() - 1), std::vector<uint8_t>{}, tooLong})
    EXPECT_EQ(NativeOf([&] { TSDBMostUpdatedData().Load(bad, 2); }), 20164);
  EXPECT_EQ(NativeOf([&] { TSDBMostUpdatedData().Load(bytes, 3); }), 20164);
}

TEST_F(TableFixture, StoredMetadataMatchesTheDefinitionsAfterReopen) {
  TSDBTableMetadata m = SampleMetadata();
  m.IndexDefs.Delete(1);
  db.CreateTable("T", std::move(m.FieldDefs), std::move(m.ConstraintDefs), std::move(m.IndexDefs));
  std::vector<uint8_t> before;
  {
    TSDBCursor c;
    before = Open(c, "T").BuildMetadata().Save();
    db.CloseTable(c);
  }
  Reopen();
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T");
  EXPECT_EQ(t.BuildMetadata().Save(), before);
  EXPECT_GT(t.BuildMetadata().RecordPageIndexRoot, 0);
  EXPECT_GT(t.BuildMetadata().BlobPageIndexRoot, 0);
  // Constraints were bound to the table when it was created.
  EXPECT_EQ(t.ConstraintDefs()[0].FTableName, "T");
  EXPECT_EQ(t.ConstraintDefs()[0].FTableObjectID, t.TableID());
  // The metadata file is stored compressed with zlib.
  TSDBInternalDBTransactedAccessFile f(db.Cache(), ptTableMetaData);
  f.OpenFile(t.ListItem().MetaDataFilePageNo);
  int32_t size = 0, decompressed = 0;
  uint8_t alg = 0;
  bool changed = false;
  f.GetFileSize(0, size, decompressed, alg, changed);
  EXPECT_EQ(alg, acaZLIB);
  EXPECT_EQ(decompressed, static_cast<int32_t>(before.size()));
  db.CloseTable(c);
}

// ---- Repair -----------------------------------------------------------------------------------

class TableRepair : public TableFixture {
 protected:
  void MakeTable(int rows) {
    db.CreateTable("T", Fields({{"N", aftInteger}, {"PAD", aftChar, 200}, {"M", aftMemo}, {"ID", aftAutoInc}}));
    TSDBCursor c;
    TSDBDiskTableData& t = Open(c, "T");
    for (int i = 0; i < rows; ++i)
      Insert(c, [i](TSDBDiskTableData& td, std::vector<uint8_t>& b) {
        td.SetFieldValue(b, 0, TSDBVariant::FromInt(i));
        if (i % 10 == 0) td.WriteBLOBFieldToRecordBuffer(b, 2, Bytes(500, static_cast<uint32_t>(i)));
      });
    item = t.ListItem();
    db.CloseTable(c);
  }
  void WriteMostUpdated(const std::vector<uint8_t>& content) {
    TSDBInternalDBTransactedAccessFile f(db.Cache(), ptTableMostUpdated);
    f.OpenFile(item.MostUpdatedFilePageNo);
    f.WriteFile(kSDBEngineSessionID, content.data(), static_cast<int32_t>(content.size()));
    db.Commit(kSDBEngineSessionID);
  }
  TSDBTableListItem item;
};

TEST_F(TableRepair, DamagedCountersFailOnOpenUnlessRepairingThenTheIndexIsRebuilt) {
  MakeTable(100);
  TSDBMostUpdatedData wrong;
  wrong.LastAutoIncValues = {0, 0, 0, 100};
  wrong.RecordCount = 7;
  struct Damage {
    const char* Name;
    std::vector<uint8_t> Content;
    int Code;
  };
  for (const Damage& d : {Damage{"count", wrong.Save(), 20292}, Damage{"garbage", {1, 2, 3}, 20164}}) {
    SCOPED_TRACE(d.Name);
    WriteMostUpdated(d.Content);
    Reopen();
    TSDBCursor c;
    EXPECT_EQ(NativeOf([&] { db.OpenTable(c, "T"); }), d.Code);
    TSDBDiskTableData& t = Open(c, "T", true);
    EXPECT_EQ(t.GetRecordCount(0), 100);
    std::vector<int64_t> ns;
    for (const auto& v : Column(c, 0)) ns.push_back(v.AsInt64());
    ASSERT_EQ(ns.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(ns[static_cast<size_t>(i)], i);
    t.SetRecNo(c, 41);
    EXPECT_EQ(t.ReadBlobField(c, c.CurrentRecordBuffer, 2), Bytes(500, 40));
    // The auto-increment counter lost with the file continues after the stored values.
    Insert(c, [](TSDBDiskTableData&, std::vector<uint8_t>&) {});
    EXPECT_EQ(t.GetFieldValue(c.CurrentRecordBuffer, 3).AsInt64(), 101);
    t.SetRecNo(c, 101);
    ASSERT_TRUE(t.DeleteRecord(c));
    db.CloseTable(c);
    // The repaired counters and index were written back.
    Reopen();
    TSDBCursor again;
    EXPECT_EQ(Open(again, "T").GetRecordCount(0), 100);
    db.CloseTable(again);
  }
}

TEST_F(TableRepair, RebuildFindsOnlyThisTablesRecordPages) {
  MakeTable(30);
  // A second table with pages of its own must not be counted.
  db.CreateTable("U", Fields({{"N", aftInteger}, {"PAD", aftChar, 200}, {"M", aftMemo}}));
  {
    TSDBCursor u;
    Open(u, "U");
    for (int i = 0; i < 50; ++i) Insert(u, [](TSDBDiskTableData&, std::vector<uint8_t>&) {});
    db.CloseTable(u);
  }
  TSDBMostUpdatedData wrong;
  wrong.LastAutoIncValues = {0, 0, 0, 30};
  wrong.RecordCount = 1;
  WriteMostUpdated(wrong.Save());
  Reopen();
  TSDBCursor c;
  TSDBDiskTableData& t = Open(c, "T", true);
  EXPECT_EQ(t.GetRecordCount(0), 30);
  EXPECT_EQ(Column(c, 0).size(), 30u);
  // Inserting after the repair uses the rebuilt index.
  Insert(c, [](TSDBDiskTableData& td, std::vector<uint8_t>& b) { td.SetFieldValue(b, 0, TSDBVariant::FromInt(1000)); });
  EXPECT_EQ(t.GetRecordCount(0), 31);
  db.CloseTable(c);
}

}  // namespace
