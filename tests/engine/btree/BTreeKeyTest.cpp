// Record keys: how they are built from record buffers and how they order
// (NULLs, descending parts, case, prefix bounds, truncated prefixes).
#include <algorithm>

#include "BTreeTestUtil.h"
#include "sdb/SDBVariant.h"
#include "storage/table/SDBKeyFormat.h"

using namespace sdb;
using namespace sdbtest;

namespace {

// Record layout of the test table: 1 null-bitmap byte, then
//   field 0 "Num"  bftSignedInt32 at 1 (4 bytes)
//   field 1 "Name" bftVarchar(60)  at 5 (61 bytes)
//   field 2 "Pic"  bftBlob         at 66 (10 bytes)
constexpr int kRecordSize = 76;

std::vector<TSDBKeyFieldInfo> Fields() {
  return {{"Num", 0, bftSignedInt32, 4, 1}, {"Name", 1, bftVarchar, 61, 5}, {"Pic", 2, bftBlob, 10, 66}};
}

// A record; nullopt = NULL.
std::vector<uint8_t> Record(std::optional<int32_t> num, std::optional<std::string> name) {
  return sdbtest::Record(num, std::move(name), kRecordSize);
}

struct KeyFixture {
  TSDBRecordKeyRef ref;
  TRecordStore store;
  explicit KeyFixture(std::vector<TSDBKeyColumnInfo> cols) { ref.Assign(cols, Fields(), &store); }
  std::vector<uint8_t> Short(const std::vector<uint8_t>& rec) {
    std::vector<uint8_t> k(static_cast<size_t>(ref.FShortKeySize));
    ref.MakeShortKeyFromRecordBuffer(rec.data(), k.data());
    return k;
  }
};

TEST(RecordKeyTest, LayoutOfShortAndFullParts) {
  KeyFixture f({{"num"}, {"NAME", false, false, 20}});
  ASSERT_EQ(f.ref.PartCount(), 2);
  const TSDBKeyPart& num = f.ref.Parts[0];
  const TSDBKeyPart& name = f.ref.Parts[1];
  EXPECT_EQ(num.ShortSize, 5);
  EXPECT_EQ(num.AddedSize, 0);
  EXPECT_EQ(name.ShortSize, 23);  // null flag + 20 bytes + 2 added
  EXPECT_EQ(name.AddedSize, 2);
  EXPECT_EQ(name.FullSize, 62);
  EXPECT_EQ(name.OffsetInShortKeyBuffer, 5);
  EXPECT_EQ(name.OffsetInFullKeyBuffer, 5);
  EXPECT_EQ(f.ref.FShortKeySize, 28);
  EXPECT_EQ(f.ref.FFullKeySize, 67);
  EXPECT_EQ(f.ref.FReferenceSize, 6);

  auto k = f.Short(Record(-2, std::string(30, 'x')));
  EXPECT_EQ(k[0], 0);
  EXPECT_EQ(GetLEI32(k.data() + 1), -2);
  EXPECT_EQ(k[5], 0);
  EXPECT_EQ(std::string(k.begin() + 6, k.begin() + 26), std::string(20, 'x'));
  EXPECT_EQ(k[26], 0);
  EXPECT_EQ(k[27], 0);
  auto n = f.Short(Record(std::nullopt, std::nullopt));
  EXPECT_EQ(n[0], 1);
  EXPECT_EQ(n[5], 1);
  EXPECT_TRUE(std::all_of(n.begin() + 6, n.end(), [](uint8_t b) { return b == 0; }));

  // A column that fits its indexed size is stored whole.
  KeyFixture whole({{"Name", false, false, 100}});
  EXPECT_EQ(whole.ref.Parts[0].AddedSize, 0);
  EXPECT_EQ(whole.ref.Parts[0].ShortSize, 62);
}

TEST(RecordKeyTest, AssignRejectsMissingAndBlobFields) {
  TSDBRecordKeyRef ref;
  std::string msg;
  EXPECT_EQ(NativeOf([&] { ref.Assign({{"Nope"}}, Fields(), nullptr); }, &msg), 20043);
  EXPECT_EQ(msg, "Cannot find index field 'Nope'");
  EXPECT_EQ(NativeOf([&] { ref.Assign({{"Pic"}}, Fields(), nullptr); }, &msg), 20295);
  EXPECT_EQ(msg.rfind("Cannot index BLOB field 'Pic'. Direct indexing of BLOB fields is not supported yet", 0), 0u);
  EXPECT_EQ(NativeOf([&] { ref.Assign({{"Num"}}, {}, nullptr); }), 20044);
}

TEST(RecordKeyTest, PartOrderNullsDescendingAndCase) {
  struct Case {
    const char* what;
    std::vector<TSDBKeyColumnInfo> cols;
    std::vector<uint8_t> a, b;
    int expect;
  } cases[] = {
      {"null before value", {{"Num"}}, Record(std::nullopt, "a"), Record(-100, "a"), -1},
      {"two nulls equal", {{"Num"}}, Record(std::nullopt, "a"), Record(std::nullopt, "b"), 0},
      {"signed order", {{"Num"}}, Record(-5, "a"), Record(3, "a"), -1},
      {"descending reverses", {{"Num", true}}, Record(-5, "a"), Record(3, "a"), 1},
      {"descending null last", {{"Num", true}}, Record(std::nullopt, "a"), Record(3, "a"), 1},
      {"later part keeps its direction", {{"Num", true}, {"Name"}}, Record(1, "a"), Record(1, "b"), -1},
      {"first part decides", {{"Num", true}, {"Name"}}, Record(2, "a"), Record(1, "b"), -1},
      {"case sensitive differs", {{"Name"}}, Record(1, "abc"), Record(1, "ABC"), -1},
      {"case insensitive equal", {{"Name", false, true}}, Record(1, "abc"), Record(1, "ABC"), 0},
      {"locale order", {{"Name"}}, Record(1, "\xE9t\xE9"), Record(1, "f"), -1},  // été < f
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    KeyFixture f(c.cols);
    auto ka = f.Short(c.a), kb = f.Short(c.b);
    EXPECT_EQ(f.ref.CompareShortKeys(ka.data(), kb.data(), nullptr, nullptr, 0, false), c.expect);
    std::vector<uint8_t> fa(static_cast<size_t>(f.ref.FFullKeySize)), fb(fa.size());
    f.ref.MakeFullKeyFromRecordBuffer(c.a.data(), fa.data());
    f.ref.MakeFullKeyFromRecordBuffer(c.b.data(), fb.data());
    EXPECT_EQ(f.ref.CompareFullKeys(fa.data(), fb.data()), c.expect);
  }
}

TEST(RecordKeyTest, TruncatedPrefixesGoToTheFullValuesOnlyWhenNeeded) {
  KeyFixture f({{"Name"}});
  const std::string prefix(20, 'm');
  std::vector<uint8_t> longA = Record(1, prefix + "a"), longB = Record(1, prefix + "b");
  std::vector<uint8_t> exact = Record(1, prefix), shortV = Record(1, "mmm");
  f.store.Records[{5, 1}] = longA;
  f.store.Records[{5, 2}] = longB;
  f.store.Records[{5, 3}] = exact;
  f.store.Records[{5, 4}] = shortV;
  auto r1 = Ref6(5, 1), r2 = Ref6(5, 2), r3 = Ref6(5, 3), r4 = Ref6(5, 4);
  auto kA = f.Short(longA), kB = f.Short(longB), kE = f.Short(exact), kS = f.Short(shortV);

  // Without full keys tied prefixes are equal.
  EXPECT_EQ(f.ref.CompareShortKeys(kA.data(), kB.data(), r2.data(), r1.data(), 0, false), 0);
  // With full keys and references the records decide.
  EXPECT_EQ(f.ref.CompareShortKeys(kA.data(), kB.data(), r2.data(), r1.data(), 0, true), -1);
  EXPECT_EQ(f.ref.CompareShortKeys(kB.data(), kA.data(), r1.data(), r2.data(), 0, true), 1);
  EXPECT_EQ(f.ref.CompareShortKeys(kE.data(), kA.data(), r1.data(), r3.data(), 0, true), -1);
  // The first key may come from the last record buffer a key was built from.
  f.ref.MakeShortKeyFromRecordBuffer(longB.data(), kB.data());
  EXPECT_EQ(f.ref.CompareShortKeys(kB.data(), kA.data(), r1.data(), nullptr, 0, true), 1);
  // A shorter value is whole in its key: no record is read.
  int reads = f.store.Reads;
  auto kS2 = f.Short(shortV);
  EXPECT_EQ(f.ref.CompareShortKeys(kS2.data(), kS.data(), r4.data(), nullptr, 0, true), 0);
  EXPECT_EQ(f.store.Reads, reads);
  // A needed record that cannot be read is an error.
  auto missing = Ref6(9, 9);
  std::string msg;
  EXPECT_EQ(NativeOf([&] { f.ref.CompareShortKeys(kA.data(), kB.data(), missing.data(), r1.data(), 0, true); }, &msg),
            20170);
  EXPECT_EQ(msg, "Cannot retrieve record for index");
}

TEST(RecordKeyTest, PrefixBoundComparesOnlyItsLength) {
  KeyFixture f({{"Name"}, {"Num"}});
  auto bound = Record(std::nullopt, "Ab");
  f.ref.SetPartialCompare(bound.data(), true, 1);
  EXPECT_EQ(f.ref.FCompareFieldCount, 1);
  EXPECT_EQ(f.ref.FCompareLengths[0], 2);
  EXPECT_EQ(f.ref.FCompareLengths[1], -1);
  auto kb = f.Short(bound);
  for (const char* v : {"Ab", "Abc", "Abzzzzzzzzzzzzzzzzzzzzzzzzzzz"}) {
    auto k = f.Short(Record(7, v));
    EXPECT_EQ(f.ref.CompareShortKeys(kb.data(), k.data(), nullptr, nullptr, 0, false), 0) << v;
  }
  auto kAa = f.Short(Record(7, "Aa"));
  EXPECT_EQ(f.ref.CompareShortKeys(kb.data(), kAa.data(), nullptr, nullptr, 0, false), 1);
  f.ref.SetPartialCompare(nullptr, false);
  EXPECT_EQ(f.ref.FCompareFieldCount, 2);
  auto kAbc = f.Short(Record(7, "Abc"));
  EXPECT_EQ(f.ref.CompareShortKeys(kb.data(), kAbc.data(), nullptr, nullptr, 0, false), -1);
}

TEST(KeyValueTest, ValueOrderByStoredType) {
  auto col = TSDBCollation::Default();
  struct Case {
    TSDBBaseFieldType type;
    std::vector<uint8_t> a, b;
    int expect;
  } cases[] = {
      {bftSignedInt8, {0xFF}, {0x01}, -1},
      {bftUnsignedInt8, {0xFF}, {0x01}, 1},
      {bftSignedInt16, {0x00, 0x80}, {0xFF, 0x7F}, -1},
      {bftUnsignedInt16, {0x00, 0x80}, {0xFF, 0x7F}, 1},
      {bftUnsignedInt32, {0, 0, 0, 0x80}, {1, 0, 0, 0}, 1},
      {bftSignedInt64, {0, 0, 0, 0, 0, 0, 0, 0x80}, {1, 0, 0, 0, 0, 0, 0, 0}, -1},
      {bftDateTime, {1, 0, 0, 0, 9, 0, 0, 0}, {1, 0, 0, 0, 10, 0, 0, 0}, -1},
      {bftDateTime, {2, 0, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 10, 0, 0, 0}, 1},
      {bftLogical, {0, 0}, {0, 1}, -1},
      {bftLogical, {1, 0}, {0, 2}, 0},
      // 80-bit extended: -2.0 < 1.0 < 1.5
      {bftExtended, {0, 0, 0, 0, 0, 0, 0, 0x80, 0x00, 0xC0}, {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}, -1},
      {bftExtended, {0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x3F}, {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}, 1},
      {bftWideVarchar, {'b', 0, 0, 0}, {'a', 0, 'z', 0}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(SDBBaseFieldTypeName(c.type));
    EXPECT_EQ(SDBCompareKeyValues(c.type, c.a.data(), c.b.data(), static_cast<int>(c.a.size()), false, -1, *col),
              c.expect);
  }
  double d1 = -0.5, d2 = 0.25;
  uint8_t a[8], b[8];
  PutLEDouble(a, d1);
  PutLEDouble(b, d2);
  EXPECT_EQ(SDBCompareKeyValues(bftCurrency, a, b, 8, false, -1, *col), -1);
  std::string msg;
  EXPECT_EQ(NativeOf([&] { SDBCompareKeyValues(bftVarBytes, a, b, 8, false, -1, *col); }, &msg), 30047);
  EXPECT_EQ(msg, "Unknown DataType: 'bftVarBytes'");
  // A string without terminator is read only within its area.
  uint8_t s1[3] = {'a', 'b', 'c'}, s2[3] = {'a', 'b', 'c'};
  EXPECT_EQ(SDBCompareKeyValues(bftVarchar, s1, s2, 3, false, -1, *col), 0);
}

}  // namespace

#include "storage/table/SDBBTreeIndexDef.h"

namespace {

TEST(RecordKeyTest, KeyFromIndexAndFieldDefinitions) {
  TSDBFieldDefs defs;
  defs.Emplace("Id", aftInteger);
  defs.Emplace("Label", aftString, 40);
  int32_t offset = 1;  // after the null bitmap of two fields
  for (int i = 0; i < defs.Count(); ++i) {
    defs[i].RecalcDataSizes();
    defs[i].FMemoryOffset = offset;
    offset += defs[i].FMemoryDataSize;
  }
  TSDBIndexDef index;
  index.FColumns.push_back({"label", true, true, 10});
  index.FColumns.push_back({"ID"});
  TSDBRecordKeyRef ref;
  SDBAssignRecordKeyRef(ref, index, defs, nullptr);
  ASSERT_EQ(ref.PartCount(), 2);
  EXPECT_EQ(ref.Parts[0].FieldNo, 1);
  EXPECT_EQ(ref.Parts[0].OffsetInRecordBuffer, 5);
  EXPECT_EQ(ref.Parts[0].ShortSize, 13);
  EXPECT_TRUE(ref.Parts[0].Descending);
  EXPECT_TRUE(ref.Parts[0].CaseInsensitive);
  EXPECT_EQ(ref.Parts[1].DataType, bftSignedInt32);
  EXPECT_EQ(ref.FShortKeySize, 13 + 5);
  index.FColumns.push_back({"Missing"});
  EXPECT_EQ(NativeOf([&] { SDBAssignRecordKeyRef(ref, index, defs, nullptr); }), 20043);
}

}  // namespace
