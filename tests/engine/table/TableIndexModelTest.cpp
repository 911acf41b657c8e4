// Randomized inserts, updates and deletes through the table layer with two
// indexes, checked against an in-memory model: a long VARCHAR index whose
// truncated prefixes tie, and a unique integer index that refuses
// duplicates. The trees are verified after each batch; the database is
// closed and reopened half-way.
#include <algorithm>
#include <map>
#include <random>

#include "TableTestUtil.h"
#include "storage/table/SDBRecordIndex.h"

using namespace sdb;
using namespace sdbtest;

namespace {

constexpr int kID = 0, kName = 1, kNum = 2;

struct Row {
  std::string Name;
  int Num;
  TSDBPageItemID RecordID;
};

class IndexModel : public TableFixture {
 protected:
  TSDBDiskTableData& T() { return *c.TableData; }

  std::string RandomName() {
    // A shared 10-letter start longer than the indexed 8 bytes: most keys
    // tie on their stored prefix and only the full values tell them apart.
    std::string s = std::uniform_int_distribution<int>(0, 9)(rng) == 0 ? "b" : "aaaaaaaaaa";
    const int n = std::uniform_int_distribution<int>(0, 30)(rng);
    for (int i = 0; i < n; ++i) s += static_cast<char>('a' + std::uniform_int_distribution<int>(0, 2)(rng));
    return s;
  }
  bool NumTaken(int num, int exceptId) {
    for (const auto& [id, r] : model)
      if (id != exceptId && r.Num == num) return true;
    return false;
  }
  void Fill(std::vector<uint8_t>& buf, int id, const std::string& name, int num) {
    T().SetFieldValue(buf, kID, TSDBVariant::FromInt(id));
    T().SetFieldValue(buf, kName, TSDBVariant::FromString(name));
    T().SetFieldValue(buf, kNum, TSDBVariant::FromInt(num));
  }
  void Position(const TSDBPageItemID& rid) {
    c.CurrentIndexID = -1;
    c.CurrentRecordID = rid;
    c.FirstPosition = c.LastPosition = false;
    ASSERT_EQ(T().GetRecordBuffer(c, grmCurrent), grrOK);
  }

  void Insert() {
    const int id = nextId++;
    const std::string name = RandomName();
    const int num = std::uniform_int_distribution<int>(0, 5000)(rng);
    c.EditRecordBuffer = T().NewRecordBuffer();
    Fill(c.EditRecordBuffer, id, name, num);
    const int code = NativeOf([&] { T().InsertRecord(c); });
    if (NumTaken(num, -1)) {
      ASSERT_EQ(code, 30320);
      return;
    }
    ASSERT_EQ(code, 0);
    model[id] = {name, num, c.CurrentRecordID};
  }
  void Update() {
    auto it = std::next(model.begin(), std::uniform_int_distribution<size_t>(0, model.size() - 1)(rng));
    Position(it->second.RecordID);
    Row next = it->second;
    const int what = std::uniform_int_distribution<int>(0, 2)(rng);
    if (what != 1) next.Name = RandomName();
    if (what != 0) next.Num = std::uniform_int_distribution<int>(0, 5000)(rng);
    c.EditRecordBuffer = c.CurrentRecordBuffer;
    Fill(c.EditRecordBuffer, it->first, next.Name, next.Num);
    const int code = NativeOf([&] { T().UpdateRecord(c); });
    if (NumTaken(next.Num, it->first)) {
      ASSERT_EQ(code, 30320);
      return;
    }
    ASSERT_EQ(code, 0);
    it->second = next;
  }
  void Delete() {
    auto it = std::next(model.begin(), std::uniform_int_distribution<size_t>(0, model.size() - 1)(rng));
    Position(it->second.RecordID);
    ASSERT_TRUE(T().DeleteRecord(c));
    model.erase(it);
  }

  void Verify() {
    T().CheckIndexes(0);
    ASSERT_EQ(T().GetRecordCount(0), static_cast<int64_t>(model.size()));
    // Names: by value, equal values by record identifier.
    std::vector<std::pair<std::string, TSDBPageItemID>> names;
    std::vector<int> nums;
    for (const auto& [id, r] : model) {
      names.push_back({r.Name, r.RecordID});
      nums.push_back(r.Num);
    }
    std::sort(names.begin(), names.end());
    std::sort(nums.begin(), nums.end());
    const int32_t byName = T().IndexIDByName("BYNAME"), byNum = T().IndexIDByName("BYNUM");
    std::vector<std::pair<std::string, TSDBPageItemID>> gotNames;
    c.CurrentIndexID = byName;
    c.FirstPosition = true;
    c.LastPosition = false;
    while (T().GetRecordBuffer(c, grmNext) == grrOK)
      gotNames.push_back({T().GetFieldValue(c.CurrentRecordBuffer, kName).AsString(), c.CurrentRecordID});
    ASSERT_EQ(gotNames, names);
    std::vector<int> gotNums;
    for (const auto& v : Ordered(c, byNum, kNum, false)) gotNums.push_back(static_cast<int>(v.AsInt64()));
    std::reverse(gotNums.begin(), gotNums.end());
    ASSERT_EQ(gotNums, nums);
    // Record numbers in index order agree with the model's ranks.
    if (!names.empty()) {
      const size_t k = std::uniform_int_distribution<size_t>(0, names.size() - 1)(rng);
      c.CurrentIndexID = byName;
      T().SetRecNo(c, static_cast<int64_t>(k + 1));
      EXPECT_EQ(c.CurrentRecordID, names[k].second);
      EXPECT_EQ(T().GetRecNo(c), static_cast<int64_t>(k + 1));
    }
  }

  TSDBCursor c;
  std::mt19937 rng{20261210};
  std::map<int, Row> model;
  int nextId = 0;
};

TEST_F(IndexModel, RandomChangesKeepBothIndexesEqualToTheModel) {
  TSDBIndexDefs idx;
  idx.Add(IndexDef("BYNAME", {{"NAME", false, false, 8}}));
  idx.Add(IndexDef("BYNUM", {{"NUM"}}, true));
  db.CreateTable("T", Fields({{"ID", aftInteger}, {"NAME", aftString, 60}, {"NUM", aftInteger}}), {}, std::move(idx));
  Open(c, "T");
  constexpr int kBatches = 16, kBatchSize = 600;
  for (int b = 0; b < kBatches; ++b) {
    for (int i = 0; i < kBatchSize; ++i) {
      const int r = std::uniform_int_distribution<int>(0, 99)(rng);
      // Grow first, then churn.
      if (model.empty() || r < (b < kBatches / 2 ? 60 : 40))
        Insert();
      else if (r < 80)
        Update();
      else
        Delete();
      if (HasFatalFailure()) return;
    }
    Verify();
    if (HasFatalFailure()) return;
    if (b == kBatches / 2) {
      db.CloseTable(c);
      Reopen();
      Open(c, "T");
      Verify();
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(model.size(), 500u);
  db.CloseTable(c);
}

}  // namespace
