// Trees of record keys: equal keys spread over pages, case-insensitive
// columns, prefix bounds, and a randomized comparison with a model.
#include <algorithm>
#include <climits>
#include <iterator>
#include <random>
#include <set>

#include "BTreeTestUtil.h"

using namespace sdb;
using namespace sdbtest;

namespace {

// Record: null bitmap byte; "Num" bftSignedInt32 at 1; "Name" bftVarchar(60) at 5.
constexpr int kRecordSize = 66;

std::vector<uint8_t> Record(std::optional<int32_t> num, std::optional<std::string> name) {
  return sdbtest::Record(num, std::move(name), kRecordSize);
}

class RecordTree {
 public:
  explicit RecordTree(std::vector<TSDBKeyColumnInfo> cols, uint16_t pageSize = 512) : pm(pageSize) {
    keyRef.Assign(cols, {{"Num", 0, bftSignedInt32, 4, 1}, {"Name", 1, bftVarchar, 61, 5}}, &store);
    tree.CreateRoot(0);
  }
  TSDBPageItemID Insert(const std::vector<uint8_t>& rec, TSDBPageItemID id) {
    const std::vector<uint8_t>& stored = store.Records[id] = rec;
    auto key = keyRef.AllocShortKeyBuffer();
    keyRef.MakeShortKeyFromRecordBuffer(stored.data(), key.data());
    uint8_t ref[6];
    id.Save(ref);
    TSDBKeyPath p;
    tree.InsertLeafEntry(0, key.data(), ref, p);
    // The answered position is the new entry.
    uint8_t got[6];
    tree.GetEntry(0, p, nullptr, got);
    EXPECT_EQ(std::memcmp(got, ref, 6), 0);
    return id;
  }
  bool Delete(TSDBPageItemID id) {
    auto it = store.Records.find(id);
    std::vector<uint8_t> rec = it != store.Records.end() ? it->second : Record(0, "");
    auto key = keyRef.AllocShortKeyBuffer();
    keyRef.MakeShortKeyFromRecordBuffer(rec.data(), key.data());
    uint8_t ref[6];
    id.Save(ref);
    TSDBKeyPath p;
    return tree.DeleteLeafEntry(0, key.data(), ref, p);
  }
  std::vector<TSDBPageItemID> Walk(TSDBKeyPath p, bool forward, int limit = 1 << 30) {
    std::vector<TSDBPageItemID> out;
    if (p.Empty()) return out;
    do {
      uint8_t ref[6];
      tree.GetEntry(0, p, nullptr, ref);
      TSDBPageItemID id;
      id.Load(ref);
      out.push_back(id);
    } while (--limit > 0 && (forward ? tree.GotoNextEntry(0, p) : tree.GotoPriorEntry(0, p)));
    return out;
  }
  std::vector<TSDBPageItemID> All() {
    TSDBKeyPath p;
    tree.GetFirstPosition(0, p);
    return Walk(p, true);
  }
  // First or last entry matching `op` against the key of `bound`.
  bool Find(const std::vector<uint8_t>& bound, TSDBSearchCondition op, bool first, TSDBKeyPath& p) {
    auto key = keyRef.AllocShortKeyBuffer();
    keyRef.MakeShortKeyFromRecordBuffer(bound.data(), key.data());
    return tree.FindByCondition(0, first, op, key.data(), p);
  }

  TMemoryPageManager pm;
  TRecordStore store;
  TSDBRecordKeyRef keyRef;
  TSDBBTreePage tree{keyRef, pm};
};

TEST(RecordTreeTest, ManyEqualKeysStayOrderedByRecordAcrossPages) {
  RecordTree t({{"Num"}}, 256);
  std::vector<int> order(400);
  for (int i = 0; i < 400; ++i) order[i] = i;
  std::mt19937 rng(3);
  std::shuffle(order.begin(), order.end(), rng);
  for (int i : order) t.Insert(Record(i % 4 == 0 ? 1 : 7, "x"), {100 + i / 50, static_cast<uint16_t>(i % 50)});
  ASSERT_GE(t.tree.GetDepth(0), 3);
  t.tree.CheckIntegrity(0);
  std::vector<TSDBPageItemID> all = t.All();
  ASSERT_EQ(all.size(), 400u);
  // Key 1 first (100 records), then key 7, each run ordered by record.
  EXPECT_TRUE(std::is_sorted(all.begin(), all.begin() + 100));
  EXPECT_TRUE(std::is_sorted(all.begin() + 100, all.end()));
  TSDBKeyPath first, last;
  ASSERT_TRUE(t.Find(Record(7, "x"), scEqual, true, first));
  ASSERT_TRUE(t.Find(Record(7, "x"), scEqual, false, last));
  EXPECT_EQ(t.Walk(first, true, 1)[0], all[100]);
  EXPECT_EQ(t.Walk(last, true, 1)[0], all.back());
  EXPECT_EQ(first.Compare(last), -1);
  // Deleting finds the exact (key, record) entry wherever the run lies.
  for (size_t i = 150; i < 350; i += 3) ASSERT_TRUE(t.Delete(all[i]));
  EXPECT_FALSE(t.Delete(all[150]));
  t.tree.CheckIntegrity(0);
  EXPECT_EQ(t.tree.GetEntryCount(0), 400 - 67);
  TSDBKeyPath pos;
  uint8_t ref[6];
  all[151].Save(ref);
  auto key = t.keyRef.AllocShortKeyBuffer();
  t.keyRef.MakeShortKeyFromRecordBuffer(t.store.Records[all[151]].data(), key.data());
  ASSERT_TRUE(t.tree.FindEntry(0, key.data(), ref, pos));
  ASSERT_TRUE(t.tree.FindEntry(0, nullptr, ref, pos));  // by record alone
  EXPECT_EQ(t.Walk(pos, true, 1)[0], all[151]);
}

TEST(RecordTreeTest, CaseInsensitiveColumnTreatsCaseVariantsAsOneKey) {
  RecordTree t({{"Name", false, true}});
  uint16_t n = 0;
  for (const char* s : {"abc", "ABC", "Abd", "aBc", "abb", "zz", "AB"}) t.Insert(Record(0, s), {1, n++});
  TSDBKeyPath first;
  ASSERT_TRUE(t.Find(Record(0, "aBC"), scEqual, true, first));
  std::vector<TSDBPageItemID> run = t.Walk(first, true, 3);
  ASSERT_EQ(run.size(), 3u);
  EXPECT_EQ(run[0], (TSDBPageItemID{1, 0}));  // equal keys ordered by record
  EXPECT_EQ(run[1], (TSDBPageItemID{1, 1}));
  EXPECT_EQ(run[2], (TSDBPageItemID{1, 3}));
  TSDBKeyPath after;
  ASSERT_TRUE(t.Find(Record(0, "ABC"), scGreater, true, after));
  EXPECT_EQ(t.Walk(after, true, 1)[0], (TSDBPageItemID{1, 2}));  // "Abd"
}

TEST(RecordTreeTest, PrefixBoundFindsEveryValueThatBeginsWithIt) {
  RecordTree t({{"Name"}, {"Num", true}});
  std::mt19937 rng(11);
  const char* stems[] = {"Ab", "Abc", "Ac", "Aa", "B", "Abzzzzzzzzzzzzzzzzzzzzzzzz"};
  int expected = 0;
  for (uint16_t i = 0; i < 300; ++i) {
    std::string s = stems[rng() % 6];
    s += static_cast<char>('a' + rng() % 26);
    if (s.rfind("Ab", 0) == 0) ++expected;
    t.Insert(Record(static_cast<int32_t>(rng() % 5), s), {2, i});
  }
  std::vector<uint8_t> bound = Record(std::nullopt, "Ab");
  t.keyRef.SetPartialCompare(bound.data(), true, 1);
  TSDBKeyPath first, last;
  ASSERT_TRUE(t.Find(bound, scEqual, true, first));
  ASSERT_TRUE(t.Find(bound, scEqual, false, last));
  t.keyRef.SetPartialCompare(nullptr, false);
  std::vector<TSDBPageItemID> run = t.Walk(first, true);
  auto end = std::find(run.begin(), run.end(), t.Walk(last, true, 1)[0]);
  ASSERT_NE(end, run.end());
  run.erase(end + 1, run.end());
  EXPECT_EQ(static_cast<int>(run.size()), expected);
  for (const TSDBPageItemID& id : run) {
    const auto& rec = t.store.Records[id];
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rec.data() + 5), 2), "Ab");
  }
}

TEST(RecordTreeTest, NullsComeFirstAndLastInDescendingColumns) {
  for (bool desc : {false, true}) {
    RecordTree t({{"Num", desc}});
    uint16_t n = 0;
    for (std::optional<int32_t> v : {std::optional<int32_t>(5), std::optional<int32_t>(), std::optional<int32_t>(-3),
                                     std::optional<int32_t>(), std::optional<int32_t>(0)})
      t.Insert(Record(v, "x"), {3, n++});
    std::vector<TSDBPageItemID> all = t.All();
    std::vector<TSDBPageItemID> expect =
        desc ? std::vector<TSDBPageItemID>{{3, 0}, {3, 4}, {3, 2}, {3, 1}, {3, 3}}
             : std::vector<TSDBPageItemID>{{3, 1}, {3, 3}, {3, 2}, {3, 4}, {3, 0}};
    EXPECT_EQ(all, expect) << "descending " << desc;
  }
}

// Thousands of random inserts and deletes against a model ordered by the
// full key and the record identifier. Long names share a 20-character
// prefix, so their stored prefixes tie and the records have to decide.
TEST(RecordTreeTest, RandomizedAgainstModel) {
  RecordTree t({{"Num"}, {"Name"}});
  TSDBRecordKeyRef modelRef;
  modelRef.Assign({{"Num"}, {"Name"}}, {{"Num", 0, bftSignedInt32, 4, 1}, {"Name", 1, bftVarchar, 61, 5}}, nullptr);
  auto fullKey = [&](const std::vector<uint8_t>& rec) {
    auto k = modelRef.AllocFullKeyBuffer();
    modelRef.MakeFullKeyFromRecordBuffer(rec.data(), k.data());
    return k;
  };
  auto less = [&](const std::pair<TSDBKeyBuffer, TSDBPageItemID>& a,
                  const std::pair<TSDBKeyBuffer, TSDBPageItemID>& b) {
    int c = modelRef.CompareFullKeys(a.first.data(), b.first.data());
    return c != 0 ? c < 0 : a.second < b.second;
  };
  std::set<std::pair<TSDBKeyBuffer, TSDBPageItemID>, decltype(less)> model(less);
  std::vector<TSDBPageItemID> live;
  std::mt19937 rng(20261210);
  const std::string longPrefix(20, 'q');
  auto randomRecord = [&]() {
    std::optional<int32_t> num;
    if (rng() % 8) num = static_cast<int32_t>(rng() % 4);
    std::optional<std::string> name;
    switch (rng() % 5) {
      case 0: break;  // NULL
      case 1: name = std::string(1, static_cast<char>('a' + rng() % 3)); break;
      default: {
        std::string tail;
        for (unsigned i = 0, n = rng() % 4; i < n; ++i) tail += static_cast<char>('a' + rng() % 3);
        name = longPrefix + tail;
      }
    }
    return Record(num, name);
  };
  int nextItem = 0;
  for (int batch = 0; batch < 16; ++batch) {
    for (int op = 0; op < 250; ++op) {
      if (live.empty() || rng() % 10 < 6) {
        TSDBPageItemID id{1000 + nextItem / 100, static_cast<uint16_t>(nextItem % 100)};
        ++nextItem;
        auto rec = randomRecord();
        t.Insert(rec, id);
        model.insert({fullKey(rec), id});
        live.push_back(id);
      } else {
        size_t i = rng() % live.size();
        TSDBPageItemID id = live[i];
        ASSERT_TRUE(t.Delete(id));
        model.erase({fullKey(t.store.Records[id]), id});
        live[i] = live.back();
        live.pop_back();
        ASSERT_FALSE(t.Delete(id));
        t.store.Records.erase(id);
      }
    }
    t.tree.CheckIntegrity(0);
    std::vector<TSDBPageItemID> expect;
    for (const auto& e : model) expect.push_back(e.second);
    ASSERT_EQ(t.All(), expect) << "batch " << batch;
    TSDBKeyPath last;
    if (t.tree.GetLastPosition(0, last)) {
      std::vector<TSDBPageItemID> back = t.Walk(last, false);
      std::reverse(back.begin(), back.end());
      ASSERT_EQ(back, expect);
    }
    // Equality searches land on the first and last entry of the key's run,
    // also where only the records tell tied prefixes apart.
    for (int probe = 0; probe < 20 && !live.empty(); ++probe) {
      const std::vector<uint8_t> rec = t.store.Records[live[rng() % live.size()]];
      TSDBKeyBuffer fk = fullKey(rec);
      auto lo = model.lower_bound({fk, TSDBPageItemID{INT32_MIN, 0}});
      auto hi = model.upper_bound({fk, TSDBPageItemID{INT32_MAX, 0xFFFF}});
      ASSERT_NE(lo, hi);
      TSDBKeyPath runFirst, runLast;
      ASSERT_TRUE(t.Find(rec, scEqual, true, runFirst));
      ASSERT_TRUE(t.Find(rec, scEqual, false, runLast));
      EXPECT_EQ(t.Walk(runFirst, true, 1)[0], lo->second);
      EXPECT_EQ(t.Walk(runLast, true, 1)[0], std::prev(hi)->second);
    }
    if (batch % 4 == 3) t.pm.ApplyChanges(0);
  }
  // Drain: the tree returns to a lone empty root.
  for (TSDBPageItemID id : live) ASSERT_TRUE(t.Delete(id));
  t.tree.CheckIntegrity(0);
  EXPECT_EQ(t.tree.GetDepth(0), 1);
  EXPECT_EQ(t.tree.GetEntryCount(0), 0);
}

// The same records arriving in different orders end in the same order:
// by key, then by record. Keys repeat, and long names tie on their stored
// 20-character prefix so that the records decide; keys that arrive in
// ascending order meet the equal and tied entries at the right edge.
TEST(RecordTreeTest, ArrivalOrderDoesNotChangeTheOrderOfEqualAndTiedKeys) {
  struct Item {
    std::vector<uint8_t> rec;
    TSDBPageItemID id;
  };
  std::vector<Item> items;  // in ascending (key, record) order
  const std::string tied(20, 'q');
  for (int i = 0; i < 480; ++i) {
    const int key = i / 12, name = i / 4 % 3;  // 3 names per key, 4 records per name
    items.push_back({Record(key, tied + static_cast<char>('a' + name)),
                     {3000 + i / 40, static_cast<uint16_t>(i % 40)}});
  }
  struct Case {
    const char* name;
    std::function<std::vector<size_t>()> order;
  };
  auto indexes = [&] {
    std::vector<size_t> v(items.size());
    for (size_t i = 0; i < v.size(); ++i) v[i] = i;
    return v;
  };
  const Case cases[] = {
      {"ascending", indexes},
      {"keys ascending, records of one key descending",
       [&] {
         auto v = indexes();
         for (size_t b = 0; b < v.size(); b += 12) std::reverse(v.begin() + b, v.begin() + b + 12);
         return v;
       }},
      {"descending",
       [&] {
         auto v = indexes();
         std::reverse(v.begin(), v.end());
         return v;
       }},
      {"shuffled",
       [&] {
         auto v = indexes();
         std::shuffle(v.begin(), v.end(), std::mt19937(17));
         return v;
       }},
  };
  std::vector<TSDBPageItemID> expect;
  for (const Item& it : items) expect.push_back(it.id);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordTree t({{"Num"}, {"Name"}}, 256);
    for (size_t i : c.order()) t.Insert(items[i].rec, items[i].id);
    ASSERT_GE(t.tree.GetDepth(0), 3);
    t.tree.CheckIntegrity(0);
    EXPECT_EQ(t.All(), expect);
    for (size_t i = 0; i < items.size(); i += 12) {
      TSDBKeyPath first, last;
      ASSERT_TRUE(t.Find(items[i].rec, scEqual, true, first));
      ASSERT_TRUE(t.Find(items[i].rec, scEqual, false, last));
      EXPECT_EQ(t.Walk(first, true, 1)[0], items[i].id);
      EXPECT_EQ(t.Walk(last, true, 1)[0], items[i + 3].id);
    }
  }
}

}  // namespace
