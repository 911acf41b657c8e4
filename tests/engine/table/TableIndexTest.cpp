// Record indexes kept in step with the records, uniqueness and the
// constraint checks of inserts and updates.
#include <optional>

#include "TableTestUtil.h"
#include "storage/table/SDBRecordIndex.h"

using namespace sdb;
using namespace sdbtest;

namespace {

constexpr int kID = 0, kName = 1, kNum = 2;

class IndexTable : public TableFixture {
 protected:
  void Create(TSDBIndexDefs indexes, TSDBConstraintDefs constraints = {}) {
    db.CreateTable("T", Fields({{"ID", aftInteger}, {"NAME", aftString, 60}, {"NUM", aftInteger}}),
                   std::move(constraints), std::move(indexes));
    Open(c, "T");
  }
  TSDBDiskTableData& T() { return *c.TableData; }
  // Inserts (id, name, num); answers the native code of a failure, 0 on success.
  int Add(int id, std::optional<std::string> name, std::optional<int> num = std::nullopt) {
    return NativeOf([&] {
      c.EditRecordBuffer = T().NewRecordBuffer();
      T().SetFieldValue(c.EditRecordBuffer, kID, TSDBVariant::FromInt(id));
      if (name) T().SetFieldValue(c.EditRecordBuffer, kName, TSDBVariant::FromString(*name));
      if (num) T().SetFieldValue(c.EditRecordBuffer, kNum, TSDBVariant::FromInt(*num));
      T().InsertRecord(c);
    });
  }
  // Positions the cursor on the record with that ID (physical scan).
  void Seek(int id) {
    c.CurrentIndexID = -1;
    c.FirstPosition = true;
    c.LastPosition = false;
    while (T().GetRecordBuffer(c, grmNext) == grrOK)
      if (T().GetFieldValue(c.CurrentRecordBuffer, kID).AsInt64() == id) return;
    FAIL() << "no record " << id;
  }
  int SetName(int id, std::optional<std::string> name) {
    Seek(id);
    return NativeOf([&] {
      c.EditRecordBuffer = c.CurrentRecordBuffer;
      T().SetFieldValue(c.EditRecordBuffer, kName, name ? TSDBVariant::FromString(*name) : TSDBVariant());
      T().UpdateRecord(c);
    });
  }
  std::vector<int64_t> Ids(int32_t indexID) {
    std::vector<int64_t> out;
    for (const auto& v : Ordered(c, indexID, kID)) out.push_back(v.AsInt64());
    return out;
  }
  int32_t Id(const char* index) { return T().IndexIDByName(index); }
  int64_t Entries(const char* index) { return T().IndexManager().OpenIndex(Id(index)).GetEntryCount(0); }

  TSDBCursor c;
};

// ---- Uniqueness -----------------------------------------------------------------------------------

struct UniqueCase {
  const char* Name;
  bool Unique;
  std::vector<std::optional<std::string>> Values;
  std::vector<int> Codes;  // per insert
};

class UniqueIndex : public IndexTable, public ::testing::WithParamInterface<UniqueCase> {};

TEST_P(UniqueIndex, RefusesEqualKeysWhereNullEqualsNull) {
  const UniqueCase& uc = GetParam();
  Create(Indexes([&] {
    std::vector<std::unique_ptr<TSDBIndexDef>> v;
    v.push_back(IndexDef("BYNAME", {{"NAME"}}, uc.Unique));
    return v;
  }()));
  int accepted = 0;
  for (size_t i = 0; i < uc.Values.size(); ++i) {
    const int code = Add(static_cast<int>(i), uc.Values[i]);
    EXPECT_EQ(code, uc.Codes[i]) << "insert " << i;
    if (code == 0) ++accepted;
  }
  // A refused insert leaves neither a record nor an entry behind.
  EXPECT_EQ(T().GetRecordCount(0), accepted);
  EXPECT_EQ(Entries("BYNAME"), accepted);
  T().CheckIndexes(0);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, UniqueIndex,
    ::testing::Values(UniqueCase{"SameText", true, {"a", "b", "a"}, {0, 0, 30320}},
                      UniqueCase{"TwoNulls", true, {std::nullopt, "x", std::nullopt}, {0, 0, 30320}},
                      UniqueCase{"NonUniqueKeepsBoth", false, {"a", "a", std::nullopt, std::nullopt}, {0, 0, 0, 0}},
                      // Long values that share the indexed prefix still differ.
                      UniqueCase{"TruncatedPrefixesTie",
                                 true,
                                 {std::string(30, 'p') + "1", std::string(30, 'p') + "2", std::string(30, 'p') + "1"},
                                 {0, 0, 30320}}),
    [](const auto& p) { return std::string(p.param.Name); });

TEST_F(IndexTable, NonUniqueEqualKeysFollowRecordOrder) {
  Create(Indexes([] {
    std::vector<std::unique_ptr<TSDBIndexDef>> v;
    v.push_back(IndexDef("BYNAME", {{"NAME"}}));
    return v;
  }()));
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Add(i, i % 2 ? "b" : "a"), 0);
  EXPECT_EQ(Ids(Id("BYNAME")), (std::vector<int64_t>{0, 2, 4, 1, 3}));
}

TEST_F(IndexTable, UpdateMovesTheEntryAndKeepsUniqueness) {
  Create(Indexes([] {
    std::vector<std::unique_ptr<TSDBIndexDef>> v;
    v.push_back(IndexDef("BYNAME", {{"NAME"}}, true));
    v.push_back(IndexDef("BYNUM", {{"NUM"}}));
    return v;
  }()));
  ASSERT_EQ(Add(1, "c", 1), 0);
  ASSERT_EQ(Add(2, "a", 2), 0);
  ASSERT_EQ(Add(3, "b", 3), 0);
  EXPECT_EQ(Ids(Id("BYNAME")), (std::vector<int64_t>{2, 3, 1}));
  EXPECT_EQ(SetName(2, "d"), 0);
  EXPECT_EQ(Ids(Id("BYNAME")), (std::vector<int64_t>{3, 1, 2}));
  // Its own key again is no duplicate; another record's is.
  EXPECT_EQ(SetName(2, "d"), 0);
  EXPECT_EQ(SetName(2, "b"), 30320);
  EXPECT_EQ(Ids(Id("BYNAME")), (std::vector<int64_t>{3, 1, 2}));
  EXPECT_EQ(Entries("BYNAME"), 3);
  EXPECT_EQ(Entries("BYNUM"), 3);
  // Deleting removes the entries of every index.
  Seek(1);
  T().DeleteRecord(c);
  EXPECT_EQ(Ids(Id("BYNAME")), (std::vector<int64_t>{3, 2}));
  EXPECT_EQ(Ids(Id("BYNUM")), (std::vector<int64_t>{2, 3}));
  T().CheckIndexes(0);
}

TEST_F(IndexTable, IndexesSurviveReopenAndAreRebuiltNowhere) {
  Create(Indexes([] {
    std::vector<std::unique_ptr<TSDBIndexDef>> v;
    v.push_back(IndexDef("BYNAME", {{"NAME", true}}));
    return v;
  }()));
  for (int i = 0; i < 300; ++i) ASSERT_EQ(Add(i, "n" + std::to_string(1000 + i)), 0);
  const int32_t root = T().IndexDefs()[0].FRootPageNo;
  EXPECT_GT(root, 0);
  db.CloseTable(c);
  Reopen();
  Open(c, "T");
  EXPECT_EQ(T().IndexDefs()[0].FRootPageNo, root);
  auto ids = Ids(Id("BYNAME"));
  ASSERT_EQ(ids.size(), 300u);
  EXPECT_EQ(ids.front(), 299);
  EXPECT_EQ(ids.back(), 0);
  T().CheckIndexes(0);
}

// ---- Order ---------------------------------------------------------------------------------------------

struct OrderCase {
  const char* Name;
  ColumnSpec Column;
  std::vector<std::string> Expected;
};

class IndexOrder : public IndexTable, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(IndexOrder, FollowsDirectionAndCase) {
  const OrderCase& oc = GetParam();
  Create(Indexes([&] {
    std::vector<std::unique_ptr<TSDBIndexDef>> v;
    v.push_back(IndexDef("X", {oc.Column}));
    return v;
  }()));
  int id = 0;
  for (const char* s : {"b", "B", "a", "C", "A", "c"}) ASSERT_EQ(Add(id++, std::string(s)), 0);
  ASSERT_EQ(Add(id++, std::nullopt), 0);
  auto forward = Texts(Ordered(c, Id("X"), kName));
  // Equal keys (case-insensitive) keep record order; compare case-folded there.
  if (oc.Column.CaseInsensitive)
    for (auto& s : forward) s = s == "<null>" ? s : std::string(1, static_cast<char>(std::tolower(s[0])));
  EXPECT_EQ(forward, oc.Expected);
  auto backward = Texts(Ordered(c, Id("X"), kName, false));
  EXPECT_EQ(backward.size(), oc.Expected.size());
}

INSTANTIATE_TEST_SUITE_P(
    Columns, IndexOrder,
    ::testing::Values(OrderCase{"AscCaseInsensitive", {"NAME", false, true}, {"<null>", "a", "a", "b", "b", "c", "c"}},
                      OrderCase{"DescCaseInsensitive", {"NAME", true, true}, {"c", "c", "b", "b", "a", "a", "<null>"}},
                      // Case-sensitive: the two cases of a letter are apart but next to each other.
                      OrderCase{"AscCaseSensitiveGroupsLetters",
                                {"NAME", false, false},
                                {"<null>", "a", "A", "b", "B", "c", "C"}}),
    [](const auto& p) { return std::string(p.param.Name); });

// ---- Constraints --------------------------------------------------------------------------------------

TSDBConstraintDefs Constraints() {
  TSDBConstraintDefs cs;
  auto& nn = cs.Emplace<TSDBConstraintDefNotNull>();
  nn.FName = "NN_ID";
  nn.FColumnName = "ID";
  auto& ck = cs.Emplace<TSDBConstraintDefCheck>();
  ck.FName = "CK_NUM";
  ck.FColumnName = "NUM";
  ck.FMinValue = TSDBVariant::FromInt(10);
  auto& pk = cs.Emplace<TSDBConstraintDefPrimary>();
  pk.FName = "PK_T";
  pk.FIndexName = "PKIDX";
  pk.FColumns = {{-1, "NAME"}, {-1, "NUM"}};
  return cs;
}

TEST_F(IndexTable, ConstraintsAreCheckedInOrderWithTheirMessages) {
  Create(Indexes([] {
           std::vector<std::unique_ptr<TSDBIndexDef>> v;
           v.push_back(IndexDef("PKIDX", {{"NAME"}, {"NUM"}}, true, true));
           return v;
         }()),
         Constraints());
  struct Step {
    std::optional<int> Id;
    std::optional<std::string> Name;
    std::optional<int> Num;
    int Code;
    const char* Message;
  };
  const std::vector<Step> steps = {
      {1, "a", 10, 0, ""},
      {std::nullopt, "b", 11, 30026, "Constraint 'NN_ID' violated. Value in field 'ID' cannot be null"},
      {2, "b", 9, 30029, "Constraint 'CK_NUM' violated. Value in field 'NUM' cannot be lower than '10'"},
      // Only a minimum: any larger value and NULL pass.
      {3, "c", 1000000, 0, ""},
      {4, "d", std::nullopt, 0, ""},
      {5, std::nullopt, std::nullopt, 30330, "Constraint 'PK_T' violated. Value in field 'NAME,NUM' cannot be null"},
      {6, "a", 10, 30319, "Primary Key constraint 'PK_T' violated. Duplicate found."},
      {7, "a", 11, 0, ""},
  };
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    std::string message;
    int code = 0;
    try {
      c.EditRecordBuffer = T().NewRecordBuffer();
      if (s.Id) T().SetFieldValue(c.EditRecordBuffer, kID, TSDBVariant::FromInt(*s.Id));
      if (s.Name) T().SetFieldValue(c.EditRecordBuffer, kName, TSDBVariant::FromString(*s.Name));
      if (s.Num) T().SetFieldValue(c.EditRecordBuffer, kNum, TSDBVariant::FromInt(*s.Num));
      T().InsertRecord(c);
    } catch (const ESDBException& e) {
      code = e.NativeError();
      message = e.RawMessage();
    }
    EXPECT_EQ(code, s.Code) << "step " << i;
    EXPECT_EQ(message, s.Message) << "step " << i;
  }
  EXPECT_EQ(T().GetRecordCount(0), 4);
  EXPECT_EQ(Entries("PKIDX"), 4);
  // The same checks without raising.
  auto rec = T().NewRecordBuffer();
  T().SetFieldValue(rec, kName, TSDBVariant::FromString("z"));
  EXPECT_FALSE(T().CheckConstraints(0, rec.data(), nullptr, true, false, true));
  T().SetFieldValue(rec, kID, TSDBVariant::FromInt(9));
  EXPECT_TRUE(T().CheckConstraints(0, rec.data(), nullptr, true, false, true));
}

TEST_F(IndexTable, CheckConstraintAsksTheRegisteredEvaluator) {
  TSDBConstraintDefs cs;
  auto& ck = cs.Emplace<TSDBConstraintDefCheck>();
  ck.FName = "CK_ODD";
  ck.FColumnName = "NUM";
  Create({}, std::move(cs));
  // Without an evaluator only the (absent) bounds are checked.
  EXPECT_EQ(Add(1, "a", 2), 0);
  int calls = 0;
  SDBSetCheckConstraintEvaluator([&](TSDBDiskTableData& t, const uint8_t* rec, const TSDBConstraintDefCheck& def) {
    ++calls;
    EXPECT_EQ(def.FName, "CK_ODD");
    const TSDBVariant v = t.FieldManager().GetFieldValue(rec, kNum);
    return v.IsNull() || v.AsInt64() % 2 == 1;
  });
  struct Reset {
    ~Reset() { SDBSetCheckConstraintEvaluator(nullptr); }
  } reset;
  EXPECT_EQ(Add(2, "b", 3), 0);
  EXPECT_EQ(Add(3, "c", 4), 30031);
  EXPECT_EQ(SetName(2, "bb"), 0);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(T().GetRecordCount(0), 2);
}

TEST_F(IndexTable, AnIndexWithoutRootRefusesWork) {
  Create(Indexes([] {
    std::vector<std::unique_ptr<TSDBIndexDef>> v;
    v.push_back(IndexDef("BYNAME", {{"NAME"}}));
    return v;
  }()));
  ASSERT_EQ(Add(1, "a"), 0);
  const_cast<TSDBIndexDef&>(T().IndexDefs()[0]).FRootPageNo = -1;
  EXPECT_EQ(Add(2, "b"), 20119);
  EXPECT_EQ(T().GetRecordCount(0), 1);
}

}  // namespace
