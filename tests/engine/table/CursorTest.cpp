// The table cursor: order, ranges, navigation, editing with the lock
// protocol, record errors, fields, BLOBs and batch updates.
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "TableTestUtil.h"
#include "storage/table/SDBTableCursor.h"

using namespace sdb;
using namespace sdbtest;

namespace {

// A database whose lock hooks record every call and refuse on demand.
class LockRecordingDatabase : public TSDBTableDatabase {
 public:
  LockRecordingDatabase() : TSDBTableDatabase(200) {}
  struct Call {
    std::string What;
    int Type;
    int TryCount;
    int DelayMs;
  };
  bool LockTable(TSDBDiskTableData&, int, TSDBLockType LockType, int TryCount, int DelayMs, bool) override {
    {
      std::lock_guard<std::mutex> g(CallsLock);
      Calls.push_back({"LockTable", LockType, TryCount, DelayMs});
    }
    return !(RefuseTable && LockType != ltIS && LockType != ltS);
  }
  bool UnlockTable(TSDBDiskTableData&, int, TSDBLockType LockType, bool) override {
    {
      std::lock_guard<std::mutex> g(CallsLock);
      Calls.push_back({"UnlockTable", LockType, 0, 0});
    }
    return true;
  }
  bool LockRecord(TSDBDiskTableData&, int, const TSDBPageItemID&, int TryCount, int DelayMs) override {
    {
      std::lock_guard<std::mutex> g(CallsLock);
      Calls.push_back({"LockRecord", -1, TryCount, DelayMs});
    }
    return !RefuseRecord;
  }
  bool UnlockRecord(TSDBDiskTableData&, int, const TSDBPageItemID&) override {
    {
      std::lock_guard<std::mutex> g(CallsLock);
      Calls.push_back({"UnlockRecord", -1, 0, 0});
    }
    return true;
  }
  // The edit-related calls only (reads take ltS and opening ltIS).
  std::vector<std::string> EditCalls() const {
    std::vector<std::string> out;
    for (const auto& c : Calls) {
      if ((c.What == "LockTable" || c.What == "UnlockTable") && (c.Type == ltS || c.Type == ltIS)) continue;
      std::string s = c.What;
      if (c.Type >= 0) s += ":" + std::to_string(c.Type);
      if (c.TryCount) s += " " + std::to_string(c.TryCount) + "x" + std::to_string(c.DelayMs);
      out.push_back(s);
    }
    return out;
  }
  std::mutex CallsLock;  // cursors of several threads call the hooks
  std::vector<Call> Calls;
  bool RefuseTable = false;
  bool RefuseRecord = false;
};

class CursorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = (std::filesystem::temp_directory_path() / ("h1_cursor_" + std::to_string(::getpid()) + ".sdb")).string();
    TSDBCreateDatabaseParams p;
    p.FileName = path;
    p.MaxConnections = 20;
    db.CreateDatabase(p);
    TSDBIndexDefs idx;
    idx.Add(IndexDef("BYNAME", {{"NAME", false, true}}));
    idx.Add(IndexDef("BYNUM", {{"NUM"}}, true));
    db.CreateTable("T", Fields({{"ID", aftInteger}, {"NAME", aftString, 40}, {"NUM", aftInteger}, {"NOTE", aftMemo}}),
                   {}, std::move(idx));
  }
  void TearDown() override {
    cur.reset();
    other.reset();
    db.CloseDatabase();
    std::filesystem::remove(path);
  }
  std::unique_ptr<TSDBTableCursor> NewCursor(int session = 0) {
    auto c = std::make_unique<TSDBTableCursor>(SDBTableOpener(db), session);
    c->Open("T");
    return c;
  }
  void Add(TSDBTableCursor& c, int id, std::optional<std::string> name, int num) {
    c.Insert();
    c.SetFieldByName("ID", TSDBVariant::FromInt(id));
    if (name) c.SetFieldByName("NAME", TSDBVariant::FromString(*name));
    c.SetFieldByName("NUM", TSDBVariant::FromInt(num));
    c.Post();
  }
  // IDs from the current position to the end (or start).
  std::vector<int64_t> Walk(TSDBTableCursor& c, bool forward = true) {
    std::vector<int64_t> out;
    if (forward)
      for (c.First(); !c.Eof(); c.Next()) out.push_back(c.FieldByName("ID").AsInt64());
    else
      for (c.Last(); !c.Bof(); c.Prior()) out.push_back(c.FieldByName("ID").AsInt64());
    return out;
  }
  static int EngineCode(const std::function<void()>& f, std::string* what = nullptr) {
    try {
      f();
    } catch (const ESDBEngineError& e) {
      if (what) *what = e.what();
      return e.ErrorCode();
    }
    return 0;
  }
  void Fill() {
    cur = NewCursor();
    // NUM = id * 10; names with mixed case.
    const char* names[] = {"delta", "Alpha", "charlie", "bravo", "Echo"};
    for (int i = 0; i < 5; ++i) Add(*cur, i + 1, std::string(names[i]), (i + 1) * 10);
  }

  std::string path;
  LockRecordingDatabase db;
  std::unique_ptr<TSDBTableCursor> cur, other;
};

TEST_F(CursorTest, EmptyTableIsBothBofAndEof) {
  cur = NewCursor();
  EXPECT_TRUE(cur->Eof());
  EXPECT_TRUE(cur->Bof());
  EXPECT_TRUE(cur->IsEmpty());
  cur->SetIndexName("BYNAME");
  cur->Last();
  EXPECT_TRUE(cur->Eof() && cur->Bof());
  EXPECT_TRUE(cur->FieldByName("ID").IsNull());
  EXPECT_EQ(cur->RecNo(), 0);
}

TEST_F(CursorTest, IndexOrderNavigationAndRecordNumbers) {
  Fill();
  EXPECT_EQ(Walk(*cur), (std::vector<int64_t>{1, 2, 3, 4, 5}));
  cur->SetIndexName("BYNAME");
  EXPECT_EQ(cur->IndexName(), "BYNAME");
  EXPECT_EQ(Walk(*cur), (std::vector<int64_t>{2, 4, 3, 1, 5}));
  EXPECT_EQ(Walk(*cur, false), (std::vector<int64_t>{5, 1, 3, 4, 2}));
  // Off the end the cursor stays on the last record.
  cur->Last();
  cur->Next();
  EXPECT_TRUE(cur->Eof());
  EXPECT_EQ(cur->FieldByName("ID").AsInt64(), 5);
  EXPECT_EQ(cur->RecNo(), 5);
  cur->SetRecNo(2);
  EXPECT_EQ(cur->FieldByName("ID").AsInt64(), 4);
  EXPECT_EQ(cur->MoveBy(2), 2);
  EXPECT_EQ(cur->FieldByName("ID").AsInt64(), 1);
  EXPECT_EQ(cur->RecNo(), 4);
  // Changing the order keeps the record.
  cur->SetIndexName("BYNUM");
  EXPECT_EQ(cur->FieldByName("ID").AsInt64(), 1);
  EXPECT_EQ(cur->RecNo(), 1);
  EXPECT_EQ(NativeOf([&] { cur->SetRecNo(6); }), 20075);
  EXPECT_EQ(NativeOf([&] { cur->SetIndexName("NOPE"); }), 20018);
}

TEST_F(CursorTest, FindKeyFindNearestAndLocate) {
  Fill();
  cur->SetIndexName("BYNAME");
  EXPECT_TRUE(cur->FindKey({TSDBVariant::FromString("CHARLIE")}));
  EXPECT_EQ(cur->FieldByName("ID").AsInt64(), 3);
  EXPECT_FALSE(cur->FindKey({TSDBVariant::FromString("c")}));
  EXPECT_EQ(cur->FieldByName("ID").AsInt64(), 3);
  EXPECT_TRUE(cur->FindNearest({TSDBVariant::FromString("c")}));
  EXPECT_EQ(cur->FieldByName("ID").AsInt64(), 3);
  EXPECT_FALSE(cur->FindNearest({TSDBVariant::FromString("zulu")}));
  EXPECT_TRUE(cur->Locate({"NUM"}, {TSDBVariant::FromInt(40)}));
  EXPECT_EQ(cur->FieldByName("NAME").AsString(), "bravo");
  EXPECT_TRUE(cur->Locate({"NAME"}, {TSDBVariant::FromString("ECH")}, true, true));
  EXPECT_EQ(cur->FieldByName("ID").AsInt64(), 5);
  EXPECT_FALSE(cur->Locate({"NAME"}, {TSDBVariant::FromString("ECH")}, false, true));
  EXPECT_EQ(cur->FieldByName("ID").AsInt64(), 5);
}

struct RangeCase {
  const char* Name;
  std::vector<int> Start, End;
  bool StartExclusive, EndExclusive;
  std::vector<int64_t> Ids;
};

class CursorRange : public CursorTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(CursorRange, LimitsNavigationAndCounts) {
  const RangeCase& rc = GetParam();
  Fill();
  cur->SetIndexName("BYNUM");
  auto vals = [](const std::vector<int>& v) {
    std::vector<TSDBVariant> out;
    for (int x : v) out.push_back(TSDBVariant::FromInt(x));
    return out;
  };
  cur->SetRange(vals(rc.Start), vals(rc.End), rc.StartExclusive, rc.EndExclusive);
  EXPECT_EQ(Walk(*cur), rc.Ids);
  std::vector<int64_t> back(rc.Ids.rbegin(), rc.Ids.rend());
  EXPECT_EQ(Walk(*cur, false), back);
  EXPECT_EQ(cur->RecordCount(), static_cast<int64_t>(rc.Ids.size()));
  EXPECT_EQ(cur->IsEmpty(), rc.Ids.empty());
  const int64_t approx = cur->ApproxRangeRecordCount();
  EXPECT_GE(approx, 0);
  EXPECT_LE(approx, 5);
  cur->CancelRange();
  EXPECT_EQ(cur->RecordCount(), 5);

  // A query's cursor: opened without a position, the estimate of the range
  // taken from the index alone (the cursor stays where it was), then ordered
  // and limited in one move, on the range's first record.
  other = std::make_unique<TSDBTableCursor>(SDBTableOpener(db), 0);
  other->Open("T", false, false);
  EXPECT_TRUE(other->Eof());
  EXPECT_EQ(other->ApproxIndexRangeRecordCount("BYNUM", vals(rc.Start), vals(rc.End), rc.StartExclusive,
                                               rc.EndExclusive),
            approx);
  EXPECT_TRUE(other->Eof());
  EXPECT_FALSE(other->HasRange());
  other->SetIndexRange("BYNUM", vals(rc.Start), vals(rc.End), rc.StartExclusive, rc.EndExclusive);
  std::vector<int64_t> ids;
  for (; !other->Eof(); other->Next()) ids.push_back(other->FieldByName("ID").AsInt64());
  EXPECT_EQ(ids, rc.Ids);
  // From another order, with a record current, the range still starts at its first record.
  cur->SetIndexName("BYNAME");
  cur->Last();
  cur->SetIndexRange("BYNUM", vals(rc.Start), vals(rc.End), rc.StartExclusive, rc.EndExclusive);
  ids.clear();
  for (; !cur->Eof(); cur->Next()) ids.push_back(cur->FieldByName("ID").AsInt64());
  EXPECT_EQ(ids, rc.Ids);
  EXPECT_EQ(cur->IndexName(), "BYNUM");
  EXPECT_EQ(NativeOf([&] { other->SetIndexRange("NOPE", {}, {}, false, false); }), 20018);
  EXPECT_EQ(NativeOf([&] { other->ApproxIndexRangeRecordCount("NOPE", {}, {}, false, false); }), 20018);
}

INSTANTIATE_TEST_SUITE_P(Bounds, CursorRange,
                         ::testing::Values(RangeCase{"StartOnly", {30}, {}, false, false, {3, 4, 5}},
                                           RangeCase{"EndOnly", {}, {20}, false, false, {1, 2}},
                                           RangeCase{"Both", {20}, {40}, false, false, {2, 3, 4}},
                                           RangeCase{"BothExclusive", {20}, {40}, true, true, {3}},
                                           RangeCase{"BetweenKeys", {21}, {29}, false, false, {}},
                                           RangeCase{"Reversed", {40}, {20}, false, false, {}}),
                         [](const auto& p) { return std::string(p.param.Name); });

// A range ends where the next index entry lies beyond its bound; that is
// judged on the stored key, so it must agree with the record's values
// where keys hold only a prefix (4 characters here: values that share it
// are ordered by their full values), ignore case, or run descending. The
// orders are: SHORT abc(4) abcdX1(1) abcdX2(2) abcdY(3) ABCDX1(5) abce(6)
// b(7); SHORTCI the same but ABCDX1 ties with abcdX1 (record order);
// DESC b abce abcdY abcdX2 ABCDX1 abcdX1 abc.
TEST_F(CursorTest, StringRangesEndAtTheirBoundInEveryKeyForm) {
  {
    TSDBIndexDefs idx;
    idx.Add(IndexDef("SHORT", {{"NAME", false, false, 4}}));
    idx.Add(IndexDef("SHORTCI", {{"NAME", false, true, 4}}));
    idx.Add(IndexDef("DESC", {{"NAME", true, false, 20}}));
    db.CreateTable("R", Fields({{"ID", aftInteger}, {"NAME", aftString, 40}}), {}, std::move(idx));
  }
  auto c = std::make_unique<TSDBTableCursor>(SDBTableOpener(db), 0);
  c->Open("R");
  const std::pair<int, const char*> rows[] = {{1, "abcdX1"}, {2, "abcdX2"}, {3, "abcdY"}, {4, "abc"},
                                              {5, "ABCDX1"}, {6, "abce"},   {7, "b"}};
  for (const auto& [id, name] : rows) {
    c->Insert();
    c->SetFieldByName("ID", TSDBVariant::FromInt(id));
    c->SetFieldByName("NAME", TSDBVariant::FromString(name));
    c->Post();
  }
  struct Case {
    const char* Index;
    const char* Start;  // null: no bound
    const char* End;
    bool StartExclusive, EndExclusive, Partial;
    std::vector<int64_t> Ids;
  };
  const Case cases[] = {
      {"SHORT", "abcdX1", "abcdX2", false, false, false, {1, 2}},
      {"SHORT", "abcdX1", "abcdY", false, true, false, {1, 2}},
      {"SHORT", "abcdX1", "abcdX2", true, false, false, {2}},
      {"SHORT", "abc", "abcdX2", false, false, false, {4, 1, 2}},
      {"SHORT", "abcdY", "abcdY", false, false, false, {3}},
      {"SHORT", "abce", nullptr, false, false, false, {6, 7}},
      {"SHORT", nullptr, "abcdX1", false, false, false, {4, 1}},
      {"SHORT", "abcdX3", "abcdX9", false, false, false, {}},
      {"SHORTCI", "abcdx1", "ABCDX1", false, false, false, {1, 5}},
      {"SHORTCI", "ABCDX2", "abcdy", false, false, false, {2, 3}},
      {"SHORTCI", "ABCD", "abcd", false, false, true, {1, 5, 2, 3}},
      {"DESC", "abcdY", "ABCDX1", false, false, false, {3, 2, 5}},
      {"DESC", "abcdY", "abcdX1", true, false, false, {2, 5, 1}},
  };
  auto bound = [](const char* v) {
    std::vector<TSDBVariant> out;
    if (v) out.push_back(TSDBVariant::FromString(v));
    return out;
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.Index) + " " + (k.Start ? k.Start : "-") + ".." + (k.End ? k.End : "-"));
    c->SetIndexName(k.Index);
    c->SetRange(bound(k.Start), bound(k.End), k.StartExclusive, k.EndExclusive, k.Partial);
    std::vector<int64_t> ids;
    for (c->First(); !c->Eof(); c->Next()) ids.push_back(c->FieldByName("ID").AsInt64());
    EXPECT_EQ(ids, k.Ids);
    // Off the end the cursor stays on the range's last record.
    if (!k.Ids.empty()) {
      EXPECT_EQ(c->FieldByName("ID").AsInt64(), k.Ids.back());
    }
    ids.clear();
    for (c->Last(); !c->Bof(); c->Prior()) ids.push_back(c->FieldByName("ID").AsInt64());
    EXPECT_EQ(ids, std::vector<int64_t>(k.Ids.rbegin(), k.Ids.rend()));
    if (!k.Ids.empty()) {
      EXPECT_EQ(c->FieldByName("ID").AsInt64(), k.Ids.front());
    }
    c->CancelRange();
  }
  c->Close();
}

// A query estimates its range, then positions on the range's first record;
// records added or deleted in between (by another session here) must not
// make it start anywhere but at the range's first record now.
TEST_F(CursorTest, ARangeStartsAtItsFirstRecordAfterChangesSinceItsEstimate) {
  Fill();  // ids 1..5, NUM = id * 10
  cur->SetIndexName("BYNUM");
  auto deleteNum = [&](int num) {
    ASSERT_TRUE(cur->FindKey({TSDBVariant::FromInt(num)}));
    cur->Delete();
  };
  struct Case {
    int Start, End;
    std::function<void()> Change;
    std::vector<int64_t> Ids;
  };
  const Case cases[] = {
      // Entries before the range's first one shift it along its leaf.
      {21, 40, [&] { Add(*cur, 9, std::string("x"), 5); }, {3, 4}},
      {21, 40, [&] { deleteNum(5); }, {3, 4}},
      {21, 40, [&] { deleteNum(10); }, {3, 4}},
      // A new first record inside the range; the last one going away.
      {21, 40, [&] { Add(*cur, 8, std::string("y"), 25); }, {8, 3, 4}},
      {41, 60, [&] { deleteNum(20); }, {5}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.Start) + ".." + std::to_string(k.End));
    other = std::make_unique<TSDBTableCursor>(SDBTableOpener(db), 1);
    other->Open("T", false, false);
    const std::vector<TSDBVariant> start{TSDBVariant::FromInt(k.Start)}, end{TSDBVariant::FromInt(k.End)};
    other->ApproxIndexRangeRecordCount("BYNUM", start, end, false, false);
    k.Change();
    other->SetIndexRange("BYNUM", start, end, false, false);
    std::vector<int64_t> ids;
    for (; !other->Eof(); other->Next()) ids.push_back(other->FieldByName("ID").AsInt64());
    EXPECT_EQ(ids, k.Ids);
    other.reset();
  }
}

TEST_F(CursorTest, PostingADuplicateRaisesEngineErrorEightAndLeavesNothing) {
  Fill();
  std::string what;
  EXPECT_EQ(EngineCode([&] { Add(*cur, 9, std::string("x"), 30); }, &what), -8);
  EXPECT_EQ(what, "Engine Error # -8 Constraint unique 'BYNUM' violated. Duplicate found.");
  EXPECT_EQ(cur->State(), csInsert);
  cur->Cancel();
  EXPECT_EQ(cur->RecordCount(), 5);
  try {
    Add(*cur, 9, std::string("x"), 30);
  } catch (const ESDBException& e) {
    EXPECT_EQ(e.NativeError(), 30320);
  }
  cur->Cancel();
  EXPECT_EQ(ESDBEngineError::Make(-13).what(), std::string("Engine Error # -13 Table is locked"));
}

TEST_F(CursorTest, EditChecksTheRecordAgainstOtherCursors) {
  Fill();
  other = NewCursor(1);
  cur->First();
  other->First();
  // Another cursor changed the record: editing the stale copy is refused.
  other->Edit();
  other->SetFieldByName("NAME", TSDBVariant::FromString("changed"));
  other->Post();
  EXPECT_EQ(EngineCode([&] { cur->Edit(); }), -4);
  EXPECT_EQ(cur->FieldByName("NAME").AsString(), "changed");
  // Changed between Edit and Post.
  cur->Edit();
  other->Edit();
  other->SetFieldByName("NUM", TSDBVariant::FromInt(11));
  other->Post();
  cur->SetFieldByName("NUM", TSDBVariant::FromInt(12));
  EXPECT_EQ(EngineCode([&] { cur->Post(); }), -4);
  cur->Cancel();
  // Deleted by the other cursor.
  cur->First();
  other->First();
  other->Delete();
  EXPECT_EQ(EngineCode([&] { cur->Edit(); }), -6);
  cur->First();
  other->First();
  other->Edit();
  other->SetFieldByName("NAME", TSDBVariant::FromString("again"));
  other->Post();
  EXPECT_EQ(EngineCode([&] { cur->Delete(); }), -5);
  cur->Refresh();
  other->Delete();
  EXPECT_EQ(EngineCode([&] { cur->Delete(); }), -7);
  EXPECT_EQ(other->RecordCount(), 3);
  // Between Edit and Post another record changed, or this one changed and
  // then back: the record is as the edit read it and the post goes through.
  auto setNum = [](TSDBTableCursor& c, int v) {
    c.Edit();
    c.SetFieldByName("NUM", TSDBVariant::FromInt(v));
    c.Post();
  };
  cur->First();
  cur->Edit();
  other->Last();
  ASSERT_NE(other->RecordID(), cur->RecordID());
  setNum(*other, 99);
  cur->SetFieldByName("NUM", TSDBVariant::FromInt(13));
  cur->Post();
  cur->Edit();
  other->First();
  setNum(*other, 14);
  setNum(*other, 13);
  cur->SetFieldByName("NUM", TSDBVariant::FromInt(15));
  cur->Post();
  ASSERT_TRUE(other->Refresh());
  EXPECT_EQ(other->FieldByName("NUM").AsInt64(), 15);
  // Deleted between Edit and Post.
  cur->Edit();
  other->Delete();
  cur->SetFieldByName("NUM", TSDBVariant::FromInt(16));
  EXPECT_EQ(EngineCode([&] { cur->Post(); }), -6);
  cur->Cancel();
  EXPECT_EQ(other->RecordCount(), 2);
  cur->Table().CheckIndexes(0);
}

TEST_F(CursorTest, EditPostAndDeleteFollowTheLockProtocol) {
  Fill();
  cur->First();
  db.Calls.clear();
  cur->Edit();
  cur->SetFieldByName("NAME", TSDBVariant::FromString("zz"));
  cur->Post();
  EXPECT_EQ(db.EditCalls(), (std::vector<std::string>{"LockTable:2 900x100", "LockRecord 15x100", "LockTable:4 1x0",
                                                      "UnlockRecord", "UnlockTable:2", "UnlockTable:4"}));
  db.Calls.clear();
  cur->Delete();
  EXPECT_EQ(db.EditCalls(), (std::vector<std::string>{"LockTable:4 1x0", "LockRecord 15x100", "UnlockRecord",
                                                      "UnlockTable:4"}));
  // Refused locks.
  db.RefuseRecord = true;
  EXPECT_EQ(EngineCode([&] { cur->Edit(); }), -12);
  EXPECT_EQ(cur->State(), csBrowse);
  db.RefuseRecord = false;
  db.RefuseTable = true;
  EXPECT_EQ(EngineCode([&] { cur->Edit(); }), -13);
  db.RefuseTable = false;
  // Cancel releases the edit's locks.
  cur->Edit();
  db.Calls.clear();
  cur->Cancel();
  EXPECT_EQ(db.EditCalls(), (std::vector<std::string>{"UnlockRecord", "UnlockTable:2"}));
}

// Editing by record identifier in a table without BLOBs: one read under the
// edit's locks, the same checks and lock protocol as Edit.
TEST_F(CursorTest, EditRecordIDReadsTheRecordUnderTheEditLocks) {
  TSDBIndexDefs idx;
  idx.Add(IndexDef("BYNUM", {{"NUM"}}, true));
  db.CreateTable("P", Fields({{"ID", aftInteger}, {"NUM", aftInteger}}), {}, std::move(idx));
  auto open = [&](int session) {
    auto c = std::make_unique<TSDBTableCursor>(SDBTableOpener(db), session);
    c->Open("P");
    return c;
  };
  cur = open(0);
  std::vector<TSDBPageItemID> ids;
  for (int i = 1; i <= 3; ++i) {
    cur->Insert();
    cur->SetFieldByName("ID", TSDBVariant::FromInt(i));
    cur->SetFieldByName("NUM", TSDBVariant::FromInt(i * 10));
    cur->Post();
    ids.push_back(cur->RecordID());
  }
  cur->First();
  db.Calls.clear();
  ASSERT_TRUE(cur->EditRecordID(ids[1]));
  EXPECT_EQ(cur->State(), csEdit);
  EXPECT_EQ(cur->FieldByName("ID").AsInt64(), 2);
  cur->SetFieldByName("NUM", TSDBVariant::FromInt(21));
  cur->Post();
  EXPECT_EQ(db.EditCalls(), (std::vector<std::string>{"LockTable:2 900x100", "LockRecord 15x100", "LockTable:4 1x0",
                                                      "UnlockRecord", "UnlockTable:2", "UnlockTable:4"}));
  // The stored record is current, as a fresh read shows it.
  EXPECT_EQ(cur->FieldByName("NUM").AsInt64(), 21);
  ASSERT_TRUE(cur->Refresh());
  EXPECT_EQ(cur->FieldByName("NUM").AsInt64(), 21);
  // A unique key taken by another record: nothing changes.
  ASSERT_TRUE(cur->EditRecordID(ids[0]));
  cur->SetFieldByName("NUM", TSDBVariant::FromInt(30));
  EXPECT_NE(EngineCode([&] { cur->Post(); }), 0);
  cur->Cancel();
  // Changed by another session between the edit and the post.
  other = open(1);
  ASSERT_TRUE(cur->EditRecordID(ids[0]));
  ASSERT_TRUE(other->GotoRecordID(ids[0]));
  other->Edit();
  other->SetFieldByName("NUM", TSDBVariant::FromInt(12));
  other->Post();
  cur->SetFieldByName("NUM", TSDBVariant::FromInt(11));
  EXPECT_EQ(EngineCode([&] { cur->Post(); }), -4);
  cur->Cancel();
  EXPECT_EQ(cur->FieldByName("NUM").AsInt64(), 12);
  // Gone: false, the cursor stays where it was, no lock kept.
  ASSERT_TRUE(other->GotoRecordID(ids[2]));
  other->Delete();
  ASSERT_TRUE(cur->GotoRecordID(ids[1]));
  db.Calls.clear();
  EXPECT_FALSE(cur->EditRecordID(ids[2]));
  EXPECT_EQ(cur->State(), csBrowse);
  EXPECT_EQ(cur->RecordID(), ids[1]);
  EXPECT_EQ(db.EditCalls(), (std::vector<std::string>{"LockTable:2 900x100", "LockRecord 15x100", "UnlockRecord",
                                                      "UnlockTable:2"}));
  // A record locked elsewhere: the engine's error, the table lock released.
  db.RefuseRecord = true;
  db.Calls.clear();
  EXPECT_EQ(EngineCode([&] { cur->EditRecordID(ids[0]); }), -12);
  EXPECT_EQ(cur->State(), csBrowse);
  EXPECT_EQ(db.EditCalls(), (std::vector<std::string>{"LockTable:2 900x100", "LockRecord 15x100", "UnlockTable:2"}));
  db.RefuseRecord = false;
  cur->Table().CheckIndexes(0);
}

TEST_F(CursorTest, DeleteMovesToTheNeighbourInIndexOrder) {
  Fill();
  cur->SetIndexName("BYNAME");
  ASSERT_TRUE(cur->FindKey({TSDBVariant::FromString("bravo")}));
  cur->Delete();
  EXPECT_EQ(cur->FieldByName("NAME").AsString(), "charlie");
  cur->Last();
  cur->Delete();
  EXPECT_EQ(cur->FieldByName("NAME").AsString(), "delta");
  EXPECT_EQ(Walk(*cur), (std::vector<int64_t>{2, 3, 1}));
}

TEST_F(CursorTest, ACursorWhoseRecordWasDeletedMovesToTheNearestKey) {
  Fill();
  other = NewCursor(1);
  for (bool forward : {true, false}) {
    cur->SetIndexName("BYNAME");
    other->SetIndexName("BYNAME");
    ASSERT_TRUE(cur->FindKey({TSDBVariant::FromString(forward ? "charlie" : "delta")}));
    ASSERT_TRUE(other->FindKey({TSDBVariant::FromString(forward ? "charlie" : "delta")}));
    other->Delete();
    if (forward)
      cur->Next();
    else
      cur->Prior();
    EXPECT_EQ(cur->FieldByName("NAME").AsString(), forward ? "delta" : "bravo");
  }
  EXPECT_EQ(Walk(*cur), (std::vector<int64_t>{2, 4, 5}));
}

TEST_F(CursorTest, FieldsByNameAndBlobs) {
  cur = NewCursor();
  cur->Insert();
  cur->SetFieldByName("ID", TSDBVariant::FromInt(1));
  cur->SetFieldByName("NUM", TSDBVariant::FromInt(5));
  const std::string note(10000, 'n');
  cur->WriteBlobText(cur->FieldNo("NOTE"), note);
  cur->Post();
  cur->First();
  EXPECT_EQ(cur->ReadBlobText(cur->FieldNo("NOTE")), note);
  EXPECT_TRUE(cur->IsNull(cur->FieldNo("NAME")));
  EXPECT_EQ(NativeOf([&] { cur->FieldByName("MISSING"); }), 10003);
  EXPECT_EQ(NativeOf([&] { cur->SetFieldByName("ID", TSDBVariant::FromInt(2)); }), 10004);
  cur->Edit();
  cur->ClearBlob(cur->FieldNo("NOTE"));
  cur->Post();
  EXPECT_EQ(cur->ReadBlobText(cur->FieldNo("NOTE")), "");
}

// After the post of an insert the cursor holds the record as a read of it
// gives it, and BLOB text reads back the same whichever way the value is
// stored (none, small, large; plain and compressed).
TEST_F(CursorTest, AnInsertedRecordIsCurrentAsStoredAndItsBlobTextReadsBack) {
  TSDBFieldDefs f = Fields({{"ID", aftInteger}, {"PLAIN", aftMemo}, {"PACKED", aftMemo}});
  f[2].FBLOBCompressionAlgorithm = acaZLIB;
  f[2].FBLOBCompressionMode = 5;
  db.CreateTable("B", std::move(f), {}, {});
  cur = std::make_unique<TSDBTableCursor>(SDBTableOpener(db), 0);
  cur->Open("B");
  const std::vector<std::string> values = {"", "a", std::string(300, 's'), std::string(10000, 'L')};
  for (size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(values[i].size());
    cur->Insert();
    cur->SetFieldByName("ID", TSDBVariant::FromInt(static_cast<int64_t>(i)));
    cur->WriteBlobText(1, values[i]);
    cur->WriteBlobText(2, values[i]);
    cur->Post();
    EXPECT_EQ(cur->FieldByName("ID").AsInt64(), static_cast<int64_t>(i));
    EXPECT_EQ(cur->ReadBlobText(1), values[i]);
    EXPECT_EQ(cur->ReadBlobText(2), values[i]);
    const std::vector<uint8_t> shown = cur->Cursor().CurrentRecordBuffer;
    ASSERT_TRUE(cur->Refresh());
    EXPECT_EQ(cur->Cursor().CurrentRecordBuffer, shown);
  }
  size_t n = 0;
  for (cur->First(); !cur->Eof(); cur->Next(), ++n) {
    const std::string& v = values.at(static_cast<size_t>(cur->FieldByName("ID").AsInt64()));
    EXPECT_EQ(cur->ReadBlobText(1), v);
    EXPECT_EQ(cur->ReadBlobText(2), v);
  }
  EXPECT_EQ(n, values.size());
}

TEST_F(CursorTest, CursorsOfSeveralSessionsOnThreadsKeepTheIndexesWhole) {
  constexpr int kPerThread = 300;
  std::vector<std::thread> threads;
  std::vector<std::string> errors(2);
  for (int s = 0; s < 2; ++s)
    threads.emplace_back([&, s] {
      try {
        auto c = NewCursor(s);
        c->SetIndexName("BYNUM");
        for (int i = 0; i < kPerThread; ++i) {
          Add(*c, s * kPerThread + i, "t" + std::to_string(i), 2 * i + s);
          // Read through the index while the other thread writes.
          if (i % 50 == 0) c->FindKey({TSDBVariant::FromInt(2 * i + s)});
        }
        // Every other record of the session goes again.
        for (int i = 0; i < kPerThread; i += 2) {
          ASSERT_TRUE(c->FindKey({TSDBVariant::FromInt(2 * i + s)}));
          c->Delete();
        }
      } catch (const std::exception& e) {
        errors[static_cast<size_t>(s)] = e.what();
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(errors, (std::vector<std::string>{"", ""}));
  cur = NewCursor();
  cur->SetIndexName("BYNUM");
  std::vector<int64_t> nums;
  for (cur->First(); !cur->Eof(); cur->Next()) nums.push_back(cur->FieldByName("NUM").AsInt64());
  ASSERT_EQ(nums.size(), static_cast<size_t>(kPerThread));
  EXPECT_TRUE(std::is_sorted(nums.begin(), nums.end()));
  cur->Table().CheckIndexes(0);
}

TEST_F(CursorTest, BatchUpdateCommitsOnceAtTheEnd) {
  cur = NewCursor();
  cur->BeginBatchUpdate();
  for (int i = 0; i < 50; ++i) Add(*cur, i, "n" + std::to_string(i), i);
  cur->EndBatchUpdate(false);
  EXPECT_EQ(cur->RecordCount(), 0);
  cur->SetIndexName("BYNUM");
  EXPECT_TRUE(Walk(*cur).empty());
  cur->BeginBatchUpdate();
  for (int i = 0; i < 50; ++i) Add(*cur, i, "n" + std::to_string(i), i);
  cur->EndBatchUpdate(true);
  cur.reset();
  db.CloseDatabase();
  db.OpenDatabase(path);
  cur = NewCursor();
  // The counters the cancelled batch left for its commit went with it; the
  // second batch's reached the file.
  EXPECT_EQ(cur->RecordCount(), 50);
  cur->SetIndexName("BYNUM");
  EXPECT_EQ(Walk(*cur).size(), 50u);
  cur->Table().CheckIndexes(0);
}

}  // namespace
