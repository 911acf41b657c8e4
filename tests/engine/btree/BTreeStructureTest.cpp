// Page layout, splits, merges and positions of the tree, observed through
// the bytes of its pages.
#include <algorithm>
#include <random>

#include "BTreeTestUtil.h"

using namespace sdb;
using namespace sdbtest;

namespace {

// The 18-byte page header and the entries of a tree page with 4-byte keys.
struct RawNode {
  bool IsRoot, IsLeaf;
  int32_t Left, Right;
  int HasKeys, KeyPrefixSize, Count;
  std::vector<int32_t> Keys;      // keys as integers
  std::vector<int32_t> Children;  // interior pages only
};

RawNode ReadRaw(TSDBPageManager& pm, int32_t pageNo, int refSize) {
  TSDBPageGuard g = SDBGetPageGuard(pm, 0, pageNo, ptTableIndex);
  const uint8_t* d = g->Data();
  RawNode n{d[0] != 0, d[1] != 0, GetLEI32(d + 2), GetLEI32(d + 6), d[10], GetLE16(d + 12), GetLE16(d + 14), {}, {}};
  EXPECT_EQ(d[11], 0);
  EXPECT_EQ(GetLE16(d + 16), 0);
  int e = 4 + (n.IsLeaf ? refSize : 4);
  for (int i = 0; i < n.Count; ++i) {
    n.Keys.push_back(GetLEI32(d + 18 + i * e));
    if (!n.IsLeaf) n.Children.push_back(GetLEI32(d + 18 + i * e + 4));
  }
  return n;
}

// A tree of page-index entries (int keys, 2-byte values) on 256-byte pages:
// 33 leaf entries and 27 interior entries fit on a page.
class PageKeyTree : public ::testing::Test {
 protected:
  void SetUp() override { root = tree.CreateRoot(0); }
  void Insert(int32_t k) {
    uint8_t key[4], ref[2];
    PutLEI32(key, k);
    PutLE16(ref, static_cast<uint16_t>(k & 0xFFFF));
    TSDBKeyPath p;
    tree.InsertLeafEntry(0, key, ref, p);
  }
  bool Delete(int32_t k) {
    uint8_t key[4], ref[2];
    PutLEI32(key, k);
    PutLE16(ref, static_cast<uint16_t>(k & 0xFFFF));
    TSDBKeyPath p;
    return tree.DeleteLeafEntry(0, key, ref, p);
  }
  std::vector<int32_t> AllKeys() {
    std::vector<int32_t> out;
    TSDBKeyPath p;
    if (!tree.GetFirstPosition(0, p)) return out;
    do {
      uint8_t key[4];
      tree.GetEntry(0, p, key, nullptr);
      out.push_back(GetLEI32(key));
    } while (tree.GotoNextEntry(0, p));
    return out;
  }
  TMemoryPageManager pm{256};
  TSDBPageKeyRef keyRef;
  TSDBBTreePage tree{keyRef, pm};
  int32_t root = -1;
};

TEST_F(PageKeyTree, EmptyRootLayoutAndEmptyTree) {
  RawNode r = ReadRaw(pm, root, 2);
  EXPECT_TRUE(r.IsRoot);
  EXPECT_TRUE(r.IsLeaf);
  EXPECT_EQ(r.Left, -1);
  EXPECT_EQ(r.Right, -1);
  EXPECT_EQ(r.HasKeys, 1);
  EXPECT_EQ(r.KeyPrefixSize, 4);
  EXPECT_EQ(r.Count, 0);
  TSDBKeyPath p;
  EXPECT_FALSE(tree.GetFirstPosition(0, p));
  EXPECT_FALSE(tree.GetLastPosition(0, p));
  uint8_t key[4] = {};
  EXPECT_FALSE(tree.FindByCondition(0, true, scGreaterEqual, key, p));
  EXPECT_EQ(NativeOf([&] { tree.GotoNextEntry(0, p); }), 20069);
}

TEST_F(PageKeyTree, RootSplitKeepsPageNumberAndLinksTheHalves) {
  for (int k = 0; k < 33; ++k) Insert(k * 10);
  EXPECT_TRUE(ReadRaw(pm, root, 2).IsLeaf);
  Insert(5);  // the 34th entry overflows the root
  RawNode r = ReadRaw(pm, root, 2);
  EXPECT_TRUE(r.IsRoot);
  EXPECT_FALSE(r.IsLeaf);
  ASSERT_EQ(r.Count, 2);
  EXPECT_EQ(r.Keys[0], 0);  // entry 0 carries an all-zero key
  RawNode a = ReadRaw(pm, r.Children[0], 2), b = ReadRaw(pm, r.Children[1], 2);
  EXPECT_FALSE(a.IsRoot);
  EXPECT_TRUE(a.IsLeaf && b.IsLeaf);
  EXPECT_EQ(a.Count, 17);
  EXPECT_EQ(b.Count, 17);
  EXPECT_EQ(r.Keys[1], b.Keys[0]);
  EXPECT_EQ(a.Left, -1);
  EXPECT_EQ(a.Right, r.Children[1]);
  EXPECT_EQ(b.Left, r.Children[0]);
  EXPECT_EQ(b.Right, -1);
  EXPECT_EQ(tree.RootPageNo(), root);
  tree.CheckIntegrity(0);
}

TEST_F(PageKeyTree, DeepTreeKeepsRootAndOrder) {
  std::vector<int32_t> keys(3000);
  for (int i = 0; i < 3000; ++i) keys[i] = i * 3;
  std::mt19937 rng(7);
  std::shuffle(keys.begin(), keys.end(), rng);
  for (int32_t k : keys) Insert(k);
  EXPECT_EQ(tree.RootPageNo(), root);
  EXPECT_GE(tree.GetDepth(0), 3);
  tree.CheckIntegrity(0);
  std::vector<int32_t> all = AllKeys();
  ASSERT_EQ(all.size(), 3000u);
  EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
  pm.ApplyChanges(0);
  // Delete everything: merges all the way up and the depth shrinks to one.
  std::shuffle(keys.begin(), keys.end(), rng);
  for (size_t i = 0; i < keys.size(); ++i) {
    ASSERT_TRUE(Delete(keys[i]));
    if (i % 500 == 0) tree.CheckIntegrity(0);
  }
  EXPECT_FALSE(Delete(keys[0]));
  EXPECT_EQ(tree.GetDepth(0), 1);
  RawNode r = ReadRaw(pm, root, 2);
  EXPECT_TRUE(r.IsRoot && r.IsLeaf);
  EXPECT_EQ(r.Count, 0);
  pm.ApplyChanges(0);
  EXPECT_EQ(pm.Disk.size(), 1u);  // every other page went back
}

TEST_F(PageKeyTree, UnderflowMergesIntoLeftSiblingAndRootAbsorbsLastChild) {
  for (int k = 0; k < 34; ++k) Insert(k);  // A: 0..16, B: 17..33
  RawNode r = ReadRaw(pm, root, 2);
  int32_t a = r.Children[0], b = r.Children[1];
  ASSERT_TRUE(Delete(33));  // B: 16 entries underflows, but 33 do not fit together
  EXPECT_EQ(ReadRaw(pm, root, 2).Count, 2);
  EXPECT_EQ(ReadRaw(pm, b, 2).Count, 16);
  ASSERT_TRUE(Delete(32));  // B: 15 entries; 32 fit: B goes into A
  // The root had A alone left and took it over: one level less.
  r = ReadRaw(pm, root, 2);
  EXPECT_TRUE(r.IsRoot);
  EXPECT_TRUE(r.IsLeaf);
  EXPECT_EQ(r.Count, 32);
  EXPECT_EQ(r.Left, -1);
  EXPECT_EQ(r.Right, -1);
  pm.ApplyChanges(0);
  EXPECT_EQ(pm.Disk.count(a), 0u);
  EXPECT_EQ(pm.Disk.count(b), 0u);
  std::vector<int32_t> expect(32);
  for (int i = 0; i < 32; ++i) expect[i] = i;
  EXPECT_EQ(AllKeys(), expect);
}

// Three leaves under the root: a middle leaf merges into its left
// neighbour, the leftmost leaf (no left neighbour) into its right one.
TEST_F(PageKeyTree, MergeDirectionFollowsSiblingsAndRoom) {
  for (int k = 0; k < 34; ++k) Insert(k * 2);    // A: 0..32, B: 34..66 (17 each)
  for (int k = 0; k < 16; ++k) Insert(100 + k);  // B full (33)
  // A underflows at 14 but cannot join the full B.
  for (int k : {0, 2, 4}) ASSERT_TRUE(Delete(k));
  ASSERT_EQ(ReadRaw(pm, root, 2).Count, 2);
  Insert(116);  // B splits: B 34..66, C 100..116
  RawNode r = ReadRaw(pm, root, 2);
  ASSERT_EQ(r.Count, 3);
  int32_t a = r.Children[0], b = r.Children[1], c = r.Children[2];
  RawNode ra = ReadRaw(pm, a, 2), rb = ReadRaw(pm, b, 2);
  ASSERT_EQ(ra.Count, 14);
  ASSERT_EQ(rb.Count, 17);
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(Delete(rb.Keys[static_cast<size_t>(i)]));
  // B had 15 entries left: merged into A, C's left link now points at A.
  r = ReadRaw(pm, root, 2);
  ASSERT_EQ(r.Count, 2);
  EXPECT_EQ(r.Children[0], a);
  EXPECT_EQ(r.Children[1], c);
  ra = ReadRaw(pm, a, 2);
  EXPECT_EQ(ra.Count, 29);
  EXPECT_EQ(ra.Right, c);
  EXPECT_EQ(ReadRaw(pm, c, 2).Left, a);
  tree.CheckIntegrity(0);

  // Now the leftmost leaf: A shrinks until it fits into C on its right.
  RawNode rc = ReadRaw(pm, c, 2);
  while (ReadRaw(pm, root, 2).Count == 2) {
    ra = ReadRaw(pm, a, 2);
    ASSERT_TRUE(Delete(ra.Keys[0]));
  }
  r = ReadRaw(pm, root, 2);
  EXPECT_TRUE(r.IsLeaf);  // root absorbed C
  EXPECT_EQ(r.Count, ra.Count - 1 + rc.Count);
  tree.CheckIntegrity(0);
  std::vector<int32_t> all = AllKeys();
  EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
}

TEST_F(PageKeyTree, PositionsMoveAcrossPagesBothWays) {
  for (int k = 0; k < 1000; ++k) Insert(k);
  ASSERT_GE(tree.GetDepth(0), 3);
  TSDBKeyPath p;
  ASSERT_TRUE(tree.GetFirstPosition(0, p));
  EXPECT_DOUBLE_EQ(p.GetApproxRecNoInPercents(), 0.0);
  int expected = 0;
  double lastFraction = -1;
  TSDBKeyPath prevPath;
  do {
    uint8_t key[4];
    tree.GetEntry(0, p, key, nullptr);
    ASSERT_EQ(GetLEI32(key), expected);
    double f = p.GetApproxRecNoInPercents();
    EXPECT_GT(f, lastFraction);
    EXPECT_LT(f, 1.0);
    lastFraction = f;
    ++expected;
  } while (tree.GotoNextEntry(0, p));
  EXPECT_EQ(expected, 1000);
  ASSERT_TRUE(tree.GetLastPosition(0, p));
  for (int k = 999; k >= 0; --k) {
    uint8_t key[4];
    tree.GetEntry(0, p, key, nullptr);
    ASSERT_EQ(GetLEI32(key), k);
    EXPECT_EQ(tree.GotoPriorEntry(0, p), k > 0);
  }
  // Comparing positions: by entry, and only within one tree shape.
  TSDBKeyPath x, y;
  uint8_t k1[4], k2[4];
  PutLEI32(k1, 100);
  PutLEI32(k2, 700);
  ASSERT_TRUE(tree.FindByCondition(0, true, scEqual, k1, x));
  ASSERT_TRUE(tree.FindByCondition(0, true, scEqual, k2, y));
  EXPECT_EQ(x.Compare(y), -1);
  EXPECT_EQ(y.Compare(x), 1);
  EXPECT_EQ(x.Compare(x), 0);
  TSDBKeyPath shorter = x;
  shorter.DeleteLastItem();
  std::string msg;
  EXPECT_EQ(NativeOf([&] { x.Compare(shorter); }, &msg), 20051);
  EXPECT_EQ(msg, "Invalid index key path");
}

TEST(KeyPathTest, ApproximatePositionIsTheWeightedSumOfLevels) {
  TSDBKeyPath p;
  p.AddItem(1, 1, 4);   // 1/4
  p.AddItem(2, 2, 10);  // + 2/40
  EXPECT_DOUBLE_EQ(p.GetApproxRecNoInPercents(), 0.25 + 0.05);
  TSDBKeyPath deep;
  for (int i = 0; i < kSDBMaxKeyPathDepth; ++i) deep.AddItem(i, 0, 2);
  EXPECT_EQ(NativeOf([&] { deep.AddItem(99, 0, 1); }), 20068);
}

TEST_F(PageKeyTree, ConditionSearchFindsFirstAndLastQualifying) {
  for (int k = 0; k < 600; ++k) Insert(k * 2);  // even keys 0..1198
  struct Case {
    TSDBSearchCondition op;
    int32_t key;
    bool first;
    int32_t expect;  // -1: none
  } cases[] = {
      {scEqual, 500, true, 500},           {scEqual, 501, true, -1},
      {scGreater, 500, true, 502},         {scGreater, 501, true, 502},
      {scGreaterEqual, 500, true, 500},    {scGreaterEqual, 501, true, 502},
      {scLower, 500, false, 498},          {scLowerEqual, 500, false, 500},
      {scLowerEqual, 501, false, 500},     {scLower, 0, false, -1},
      {scGreater, 1198, true, -1},         {scLower, 500, true, 0},
      {scGreater, 500, false, 1198},       {scNone, 0, false, 1198},
      {scNone, 0, true, 0},                {scGreaterEqual, -5, true, 0},
  };
  for (const Case& c : cases) {
    uint8_t key[4];
    PutLEI32(key, c.key);
    TSDBKeyPath p;
    bool found = tree.FindByCondition(0, c.first, c.op, key, p);
    SCOPED_TRACE(::testing::Message() << "op " << int(c.op) << " key " << c.key << " first " << c.first);
    ASSERT_EQ(found, c.expect >= 0);
    if (found) {
      uint8_t k[4];
      tree.GetEntry(0, p, k, nullptr);
      EXPECT_EQ(GetLEI32(k), c.expect);
    }
  }
}

// ---- integrity check -----------------------------------------------------------------

class DamagedTree : public PageKeyTree {
 protected:
  void SetUp() override {
    PageKeyTree::SetUp();
    for (int k = 0; k < 200; ++k) Insert(k);
    tree.CheckIntegrity(0);
    r = ReadRaw(pm, root, 2);
    ASSERT_GE(r.Count, 3);
  }
  // Changes the data bytes of a page inside the cache.
  void Patch(int32_t pageNo, const std::function<void(uint8_t*)>& f) {
    TSDBPageGuard g = SDBGetPageGuard(pm, 0, pageNo, ptTableIndex);
    f(g->Data());
    g->MarkDirty();
  }
  std::string Check(int& code) {
    std::string msg;
    code = NativeOf([&] { tree.CheckIntegrity(0); }, &msg);
    return msg;
  }
  RawNode r;
};

TEST_F(DamagedTree, BrokenSiblingLinkIsReported) {
  Patch(r.Children[1], [&](uint8_t* d) { PutLEI32(d + 6, r.Children[0]); });  // RightPageNo
  int code;
  std::string msg = Check(code);
  EXPECT_EQ(code, 20033);
  EXPECT_EQ(msg, "Index integrity error. Invlaid leaf link. PageNo=" + std::to_string(root) + " EntryNo=1");
}

TEST_F(DamagedTree, MisorderedKeyIsReported) {
  int32_t leaf = r.Children[1];
  Patch(leaf, [](uint8_t* d) {
    // Swap the keys of entries 2 and 3.
    uint8_t t[4];
    std::memcpy(t, d + 18 + 2 * 6, 4);
    std::memcpy(d + 18 + 2 * 6, d + 18 + 3 * 6, 4);
    std::memcpy(d + 18 + 3 * 6, t, 4);
  });
  int code;
  std::string msg = Check(code);
  EXPECT_EQ(code, 20028);
  EXPECT_EQ(msg, "Index integrity error. PageNo=" + std::to_string(leaf) + " EntryNo=2");
}

TEST_F(DamagedTree, CircularChildLinkIsReported) {
  Patch(root, [&](uint8_t* d) { PutLEI32(d + 18 + 8 + 4, root); });  // entry 1's child = root
  int code;
  std::string msg = Check(code);
  EXPECT_EQ(code, 20032);
  EXPECT_EQ(msg, "Index integrity error. Circular links. PageNo=" + std::to_string(root) + " EntryNo=1");
}

TEST_F(DamagedTree, ImpossibleEntryCountIsRefusedNotRead) {
  Patch(r.Children[0], [](uint8_t* d) { PutLE16(d + 14, 60000); });
  int code;
  Check(code);
  EXPECT_EQ(code, 20194);
  // Searches refuse the page too instead of reading past it.
  uint8_t key[4];
  PutLEI32(key, 1);
  TSDBKeyPath p;
  EXPECT_EQ(NativeOf([&] { tree.FindByCondition(0, true, scEqual, key, p); }), 20194);
}

TEST(BTreeSetupTest, OperationsOnATreeWithoutRootFail) {
  TMemoryPageManager pm(256);
  TSDBPageKeyRef keyRef;
  TSDBBTreePage tree(keyRef, pm);
  TSDBKeyPath p;
  std::string msg;
  EXPECT_EQ(NativeOf([&] { tree.GetFirstPosition(0, p); }, &msg), 20115);
  EXPECT_EQ(msg, "Index error: invalid page number");
  EXPECT_EQ(NativeOf([&] { tree.GetEntry(0, p, nullptr, nullptr); }, &msg), 20099);
  EXPECT_EQ(msg, "Index error: invalid position");
}

// Keys arriving in any order: each insert answers the new entry's position,
// every key is found again, the tree checks clean, and every page keeps
// zeros after its entries (a page changed in place looks as one written
// whole).
TEST(PageKeyTreeOrders, EveryArrivalOrderKeepsKeysFindableAndPagesClean) {
  constexpr int kKeys = 2000;
  auto ascending = [] {
    std::vector<int32_t> v(kKeys);
    for (int i = 0; i < kKeys; ++i) v[i] = i * 2;
    return v;
  };
  struct Case {
    const char* name;
    std::function<std::vector<int32_t>()> keys;
  };
  const Case cases[] = {
      {"ascending", ascending},
      {"descending",
       [&] {
         auto v = ascending();
         std::reverse(v.begin(), v.end());
         return v;
       }},
      {"shuffled",
       [&] {
         auto v = ascending();
         std::shuffle(v.begin(), v.end(), std::mt19937(5));
         return v;
       }},
      // Ascending runs that interleave: each run appends at the right edge
      // of a different subtree, the first at the tree's end.
      {"interleaved runs",
       [&] {
         std::vector<int32_t> v;
         for (int r = 0; r < 4; ++r)
           for (int i = 0; i < kKeys / 4; ++i) v.push_back((r * (kKeys / 4) + i) * 2);
         std::rotate(v.begin(), v.begin() + kKeys / 4 * 3, v.end());
         return v;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryPageManager pm{256};
    TSDBPageKeyRef keyRef;
    TSDBBTreePage tree{keyRef, pm};
    tree.CreateRoot(0);
    const std::vector<int32_t> keys = c.keys();
    for (int32_t k : keys) {
      uint8_t key[4], ref[2], got[4];
      PutLEI32(key, k);
      PutLE16(ref, static_cast<uint16_t>(k & 0xFFFF));
      TSDBKeyPath p;
      tree.InsertLeafEntry(0, key, ref, p);
      tree.GetEntry(0, p, got, nullptr);
      ASSERT_EQ(GetLEI32(got), k);
    }
    EXPECT_GE(tree.GetDepth(0), 3);
    tree.CheckIntegrity(0);
    for (int32_t k : keys) {
      uint8_t key[4], ref[2], got[4];
      PutLEI32(key, k);
      PutLE16(ref, static_cast<uint16_t>(k & 0xFFFF));
      TSDBKeyPath p;
      ASSERT_TRUE(tree.FindEntry(0, key, ref, p)) << k;
      ASSERT_TRUE(tree.FindByCondition(0, true, scEqual, key, p)) << k;
      tree.GetEntry(0, p, got, nullptr);
      ASSERT_EQ(GetLEI32(got), k);
      PutLEI32(key, k + 1);  // between two keys: not there
      ASSERT_FALSE(tree.FindByCondition(0, true, scEqual, key, p)) << k + 1;
    }
    std::vector<int32_t> all;
    TSDBKeyPath p;
    ASSERT_TRUE(tree.GetFirstPosition(0, p));
    do {
      uint8_t key[4];
      tree.GetEntry(0, p, key, nullptr);
      all.push_back(GetLEI32(key));
    } while (tree.GotoNextEntry(0, p));
    EXPECT_EQ(all, ascending());
    pm.ApplyChanges(0);
    for (const auto& [pageNo, bytes] : pm.Disk) {
      const uint8_t* d = bytes.data() + kSDBPageHeaderSize;
      const int e = 4 + (d[1] != 0 ? 2 : 4);
      const size_t used = kSDBBTreePageHeaderSize + static_cast<size_t>(GetLE16(d + 14) * e);
      ASSERT_LE(used, bytes.size() - kSDBPageHeaderSize);
      EXPECT_TRUE(std::all_of(d + used, bytes.data() + bytes.size(), [](uint8_t b) { return b == 0; }))
          << "page " << pageNo;
    }
  }
}

}  // namespace
