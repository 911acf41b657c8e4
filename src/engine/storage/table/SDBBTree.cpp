// B+-tree operations: search, insertion with splits, deletion with merges,
// positions, integrity check.
//
// Each operation copies the pages it works on into in-memory images
// (TSDBBTreePage::Node), changes the images and writes them back. An image
// may hold one entry more than its page can (the entry that makes it
// overflow); the split that follows brings both halves back within a page.
// No page stays held between two steps, so a failure in the middle never
// leaves a page pinned in the cache.
#include "storage/table/SDBBTree.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "common/SDBBytes.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"

namespace sdb {

namespace {

constexpr int kOffIsRoot = 0;
constexpr int kOffIsLeaf = 1;
constexpr int kOffLeft = 2;
constexpr int kOffRight = 6;
constexpr int kOffHasKeys = 10;
constexpr int kOffHasSuffixes = 11;
constexpr int kOffKeyPrefixSize = 12;
constexpr int kOffEntryCount = 14;
constexpr int kOffPagePrefixSize = 16;
constexpr int kNodeRefSize = 4;

[[noreturn]] void RaiseIntegrity(int code, int32_t pageNo, int entryNo) {
  throw ESDBException(code, "Index integrity error. PageNo=%d EntryNo=%d", {int64_t{pageNo}, int64_t{entryNo}});
}
[[noreturn]] void RaiseInvalidPosition(int code) { throw ESDBException(code, "Index error: invalid position"); }
[[noreturn]] void RaiseInvalidIndexPageNo(int code) {
  throw ESDBException(code, "Index error: invalid page number");
}

}  // namespace

namespace {

// A read-only look at the entries of one page, in an image or in the page
// itself as the cache holds it: searches and descents read pages through
// it without copying them.
struct TEntries {
  const uint8_t* Base = nullptr;
  int N = 0;
  int K = 0;
  int RefSize = 0;
  bool IsLeaf = false;

  int Count() const { return N; }
  int E() const { return K + RefSize; }
  const uint8_t* Key(int i) const { return Base + static_cast<size_t>(i) * static_cast<size_t>(E()); }
  const uint8_t* Ref(int i) const { return Key(i) + K; }
  int32_t Child(int i) const { return GetLEI32(Ref(i)); }
};

}  // namespace

struct TSDBBTreePage::Node {
  int32_t PageNo = -1;
  bool IsRoot = false;
  bool IsLeaf = false;
  int32_t Left = -1;
  int32_t Right = -1;
  uint8_t HasKeys = 0;
  uint16_t KeyPrefixSize = 0;
  int K = 0;        // key size
  int LeafRef = 0;  // reference size on leaves
  std::vector<uint8_t> Entries;

  int RefSize() const { return IsLeaf ? LeafRef : kNodeRefSize; }
  int E() const { return K + RefSize(); }
  int Count() const { return static_cast<int>(Entries.size()) / E(); }
  uint8_t* Key(int i) { return Entries.data() + static_cast<size_t>(i) * static_cast<size_t>(E()); }
  const uint8_t* Key(int i) const { return Entries.data() + static_cast<size_t>(i) * static_cast<size_t>(E()); }
  uint8_t* Ref(int i) { return Key(i) + K; }
  const uint8_t* Ref(int i) const { return Key(i) + K; }
  int32_t Child(int i) const { return GetLEI32(Ref(i)); }
  void InsertEntry(int pos, const uint8_t* key, const uint8_t* ref) {
    std::vector<uint8_t> e(static_cast<size_t>(E()), 0);
    if (key) std::memcpy(e.data(), key, static_cast<size_t>(K));
    if (ref) std::memcpy(e.data() + K, ref, static_cast<size_t>(RefSize()));
    Entries.insert(Entries.begin() + static_cast<std::ptrdiff_t>(pos) * E(), e.begin(), e.end());
  }
  void InsertChild(int pos, const uint8_t* key, int32_t child) {
    uint8_t r[4];
    PutLEI32(r, child);
    InsertEntry(pos, key, r);
  }
  void RemoveEntry(int pos) {
    auto b = Entries.begin() + static_cast<std::ptrdiff_t>(pos) * E();
    Entries.erase(b, b + E());
  }
  // Entries [from, from + count) as a byte run.
  std::vector<uint8_t> Run(int from, int count) const {
    auto b = Entries.begin() + static_cast<std::ptrdiff_t>(from) * E();
    return std::vector<uint8_t>(b, b + static_cast<std::ptrdiff_t>(count) * E());
  }
  operator TEntries() const { return {Entries.data(), Count(), K, RefSize(), IsLeaf}; }
  // Takes over the 18-byte header of another page (links, flags, sizes).
  void CopyHeaderFrom(const Node& n) {
    IsRoot = n.IsRoot;
    IsLeaf = n.IsLeaf;
    Left = n.Left;
    Right = n.Right;
    HasKeys = n.HasKeys;
    KeyPrefixSize = n.KeyPrefixSize;
  }
};

using Node = TSDBBTreePage::Node;

// All algorithms, bound to one tree, one session and one operation.
struct TSDBBTreeImpl {
  TSDBBTreePage& T;
  TSDBBTreeKeyRef& KR;
  TSDBPageManager& PM;
  int S;
  int K;
  int RS;
  int D;

  TSDBBTreeImpl(TSDBBTreePage& t, int sessionID)
      : T(t),
        KR(t.LKeyRef),
        PM(t.LPageManager),
        S(sessionID),
        K(t.LKeyRef.FShortKeySize),
        RS(t.LKeyRef.FReferenceSize),
        D(t.LPageManager.PageDataSize()) {
    // At least three entries of the larger kind must fit on a page, or
    // splits could not make room.
    int entry = K + std::max(RS, kNodeRefSize);
    if (K <= 0 || 3 * entry + kSDBBTreePageHeaderSize > D) throw ESDBException(kSDBErrBTreeGeometry, "Internal index error");
  }

  void CheckRoot() const {
    if (T.FRootPageNo < 0) RaiseInvalidIndexPageNo(kSDBErrBTreeNoRoot);
  }

  // ---- pages ------------------------------------------------------------------------------

  // The header checks of Decode without copying the entries; answers the
  // entry count.
  int CheckedCount(int32_t pageNo, const uint8_t* d, bool isLeaf) const {
    int count = GetLE16(d + kOffEntryCount);
    int e = K + (isLeaf ? RS : kNodeRefSize);
    if (GetLE16(d + kOffKeyPrefixSize) != K || GetLE16(d + kOffPagePrefixSize) != 0 || d[kOffHasSuffixes] != 0 ||
        static_cast<long>(count) * e + kSDBBTreePageHeaderSize > D)
      RaiseIntegrity(kSDBErrBTreeIntegrity, pageNo, count);
    return count;
  }

  // Entry i of the leaf at the end of Position, in the page itself (one
  // key or reference is read or patched without decoding the page).
  uint8_t* LeafEntry(TSDBPageGuard& g, const TSDBKeyPath& Position) {
    const int32_t pageNo = Position.Last().PageNo;
    if (pageNo < 0) RaiseInvalidIndexPageNo(kSDBErrBTreeNoPage);
    g = SDBGetPageGuard(PM, S, pageNo, ptTableIndex);
    uint8_t* d = g->Data();
    const bool isLeaf = d[kOffIsLeaf] != 0;
    const int count = CheckedCount(pageNo, d, isLeaf);
    const int i = Position.Last().EntryNo;
    if (!isLeaf || i < 0 || i >= count) RaiseInvalidPosition(kSDBErrBTreeLeafEntry);
    return d + kSDBBTreePageHeaderSize + static_cast<size_t>(i) * static_cast<size_t>(K + RS);
  }

  // The leaf entry entryNo of page pageNo when that page is still a leaf of
  // this tree's geometry whose entry there holds `key`; null otherwise
  // (nothing is raised: a slot that no longer names the entry is simply
  // not used).
  uint8_t* RememberedLeafEntry(TSDBPageGuard& g, int32_t pageNo, int entryNo, const uint8_t* key) {
    if (pageNo < 0 || entryNo < 0) return nullptr;
    try {
      g = SDBGetPageGuard(PM, S, pageNo, kSDBAnyPageType);
    } catch (const ESDBException&) {
      return nullptr;
    }
    uint8_t* d = g->Data();
    const int e = K + RS;
    const int count = GetLE16(d + kOffEntryCount);
    if (g->PageType() != ptTableIndex || d[kOffIsLeaf] == 0 || GetLE16(d + kOffKeyPrefixSize) != K ||
        GetLE16(d + kOffPagePrefixSize) != 0 || d[kOffHasSuffixes] != 0 ||
        static_cast<long>(count) * e + kSDBBTreePageHeaderSize > D || entryNo >= count)
      return nullptr;
    uint8_t* entry = d + kSDBBTreePageHeaderSize + static_cast<size_t>(entryNo) * static_cast<size_t>(e);
    return std::memcmp(entry, key, static_cast<size_t>(K)) == 0 ? entry : nullptr;
  }

  Node Decode(int32_t pageNo, const uint8_t* d) const {
    Node n;
    n.PageNo = pageNo;
    n.K = K;
    n.LeafRef = RS;
    n.IsRoot = d[kOffIsRoot] != 0;
    n.IsLeaf = d[kOffIsLeaf] != 0;
    n.Left = GetLEI32(d + kOffLeft);
    n.Right = GetLEI32(d + kOffRight);
    n.HasKeys = d[kOffHasKeys];
    n.KeyPrefixSize = GetLE16(d + kOffKeyPrefixSize);
    int count = GetLE16(d + kOffEntryCount);
    int pagePrefix = GetLE16(d + kOffPagePrefixSize);
    // A page that does not describe entries of this tree, or claims more
    // entries than it can hold, is damaged: refuse it before reading it.
    if (n.KeyPrefixSize != K || pagePrefix != 0 || d[kOffHasSuffixes] != 0 ||
        static_cast<long>(count) * n.E() + kSDBBTreePageHeaderSize > D)
      RaiseIntegrity(kSDBErrBTreeIntegrity, pageNo, count);
    const uint8_t* e = d + kSDBBTreePageHeaderSize;
    n.Entries.assign(e, e + static_cast<size_t>(count) * static_cast<size_t>(n.E()));
    return n;
  }

  void Encode(const Node& n, uint8_t* d) const {
    if (static_cast<long>(n.Entries.size()) + kSDBBTreePageHeaderSize > D)
      throw ESDBException(kSDBErrBTreeGeometry, "Internal index error");
    // Every byte is written: the header fields, the entries, zeros after them.
    std::memset(d, 0, kSDBBTreePageHeaderSize);
    std::memset(d + kSDBBTreePageHeaderSize + n.Entries.size(), 0,
                static_cast<size_t>(D) - kSDBBTreePageHeaderSize - n.Entries.size());
    d[kOffIsRoot] = n.IsRoot ? 1 : 0;
    d[kOffIsLeaf] = n.IsLeaf ? 1 : 0;
    PutLEI32(d + kOffLeft, n.Left);
    PutLEI32(d + kOffRight, n.Right);
    d[kOffHasKeys] = n.HasKeys;
    d[kOffHasSuffixes] = 0;
    PutLE16(d + kOffKeyPrefixSize, n.KeyPrefixSize);
    PutLE16(d + kOffEntryCount, static_cast<uint16_t>(n.Count()));
    PutLE16(d + kOffPagePrefixSize, 0);
    if (!n.Entries.empty()) std::memcpy(d + kSDBBTreePageHeaderSize, n.Entries.data(), n.Entries.size());
  }

  Node Load(int32_t pageNo) {
    if (pageNo < 0) RaiseInvalidIndexPageNo(kSDBErrBTreeNoPage);
    TSDBPageGuard g = SDBGetPageGuard(PM, S, pageNo, ptTableIndex);
    return Decode(pageNo, g->Data());
  }

  // A page held in the cache and read in place, with the checks of Decode.
  struct Held {
    TSDBPageGuard G;
    uint8_t* D = nullptr;
    int32_t PageNo = -1;
    TEntries V;
    int32_t Left() const { return GetLEI32(D + kOffLeft); }
    int32_t Right() const { return GetLEI32(D + kOffRight); }
    bool IsRoot() const { return D[kOffIsRoot] != 0; }
  };

  Held Fetch(int32_t pageNo) {
    if (pageNo < 0) RaiseInvalidIndexPageNo(kSDBErrBTreeNoPage);
    Held h;
    h.G = SDBGetPageGuard(PM, S, pageNo, ptTableIndex);
    h.D = h.G->Data();
    h.PageNo = pageNo;
    const bool leaf = h.D[kOffIsLeaf] != 0;
    h.V = {h.D + kSDBBTreePageHeaderSize, CheckedCount(pageNo, h.D, leaf), K, leaf ? RS : kNodeRefSize, leaf};
    return h;
  }

  void Store(const Node& n) {
    TSDBPageGuard g = SDBGetPageGuard(PM, S, n.PageNo, ptTableIndex);
    Encode(n, g->Data());
    g->MarkDirty();
  }

  // A new type-12 page with a fresh header; its image is answered.
  Node AddIndexPage() {
    TSDBPageGuard g = SDBAddPageGuard(PM, S, ptTableIndex);
    Node n;
    n.PageNo = g->PageNo();
    n.K = K;
    n.LeafRef = RS;
    Encode(n, g->Data());
    g->MarkDirty();
    return n;
  }

  void RemoveIndexPage(int32_t pageNo) { PM.RemovePage(S, pageNo); }

  Node EmptyRoot(int32_t pageNo) const {
    Node n;
    n.PageNo = pageNo;
    n.K = K;
    n.LeafRef = RS;
    n.IsRoot = true;
    n.IsLeaf = true;
    n.HasKeys = 1;
    n.KeyPrefixSize = static_cast<uint16_t>(K);
    return n;
  }

  // ---- room rules -------------------------------------------------------------------------

  bool Overflows(const Node& n) const { return n.Count() * n.E() + kSDBBTreePageHeaderSize > D; }
  bool Underflows(const Node& n) const { return n.Count() * n.E() < (D - kSDBBTreePageHeaderSize) / 2; }
  bool CanMerge(const Node& a, const Node& b) const {
    return (a.Count() + b.Count()) * a.E() + kSDBBTreePageHeaderSize < D;
  }

  // ---- comparisons and search inside a page ----------------------------------------------

  int CompareAt(const uint8_t* key, const TEntries& n, int i, bool mayFull) {
    return KR.CompareShortKeys(key, n.Key(i), n.IsLeaf ? n.Ref(i) : nullptr, nullptr, S, mayFull);
  }

  // The first entry of a subtree (key and reference); false when empty.
  bool FirstEntryOf(int32_t pageNo, std::vector<uint8_t>& key, std::vector<uint8_t>& ref) {
    for (int depth = 0; depth <= kSDBMaxKeyPathDepth; ++depth) {
      Held h = Fetch(pageNo);
      const TEntries& n = h.V;
      if (n.Count() == 0) return false;
      if (n.IsLeaf) {
        key.assign(n.Key(0), n.Key(0) + K);
        ref.assign(n.Ref(0), n.Ref(0) + RS);
        return true;
      }
      pageNo = n.Child(0);
    }
    RaiseInvalidPosition(kSDBErrBTreePathTooDeep);
  }
  bool LastEntryOf(int32_t pageNo, std::vector<uint8_t>& key, std::vector<uint8_t>& ref) {
    for (int depth = 0; depth <= kSDBMaxKeyPathDepth; ++depth) {
      Node n = Load(pageNo);
      if (n.Count() == 0) return false;
      int last = n.Count() - 1;
      if (n.IsLeaf) {
        key.assign(n.Key(last), n.Key(last) + K);
        ref.assign(n.Ref(last), n.Ref(last) + RS);
        return true;
      }
      pageNo = n.Child(last);
    }
    RaiseInvalidPosition(kSDBErrBTreePathTooDeep);
  }

  // Slot 0 of the controllers: order of the searched (key, reference)
  // against entry i once the short keys are equal.
  int CompareEqualKeyEntry(const uint8_t* key, const uint8_t* ref, const TEntries& n, int i) {
    if (n.IsLeaf) return TSDBBTreeKeyRef::CompareReferences(ref, n.Ref(i), RS);
    std::vector<uint8_t> k, r;
    if (!FirstEntryOf(n.Child(i), k, r)) return 1;
    int c = KR.CompareShortKeys(key, k.data(), r.data(), nullptr, S, true);
    return c != 0 ? c : TSDBBTreeKeyRef::CompareReferences(ref, r.data(), RS);
  }

  enum class Mode { Any, First, Last };
  struct Found {
    bool found;
    int pos;
  };

  Found Search(const TEntries& n, const uint8_t* key, const uint8_t* ref, bool mayFull, int firstNo, Mode mode) {
    int count = n.Count();
    if (count == 0) return {false, 0};
    int lo = firstNo, hi = count - 1;
    while (lo <= hi) {
      int mid = lo + (hi - lo) / 2;
      int c = CompareAt(key, n, mid, mayFull);
      if (c == 0 && ref) c = CompareEqualKeyEntry(key, ref, n, mid);
      if (c < 0) {
        hi = mid - 1;
      } else if (c > 0) {
        lo = mid + 1;
      } else {
        if (mode == Mode::First)
          while (mid - 1 >= firstNo && CompareAt(key, n, mid - 1, mayFull) == 0) --mid;
        else if (mode == Mode::Last)
          while (mid + 1 < count && CompareAt(key, n, mid + 1, mayFull) == 0) ++mid;
        return {true, mid};
      }
    }
    return {false, lo};
  }

  // The child of an interior page to follow for (key, reference).
  int ChildFor(const TEntries& n, const uint8_t* key, const uint8_t* ref) {
    Found f = Search(n, key, ref, false, 1, Mode::Any);
    if (f.found) return f.pos;
    return std::max(0, f.pos - 1);
  }

  // Children of an interior page that may hold entries equal to key:
  // [lo, hi], plus the bounds for lower and greater conditions.
  void ChildRange(const TEntries& n, const uint8_t* key, int& firstGE, int& lastLE) {
    int count = n.Count();
    if (count <= 1) {
      firstGE = count;
      lastLE = 0;
      return;
    }
    Found f = Search(n, key, nullptr, false, 1, Mode::First);
    firstGE = f.pos;  // first separator not below key (count when none)
    // The last separator not above key (entry 0 at least): the end of the
    // run of equal separators, or the one before the first above key. One
    // search serves both bounds.
    lastLE = f.pos - 1;
    if (f.found) {
      lastLE = f.pos;
      while (lastLE + 1 < count && CompareAt(key, n, lastLE + 1, false) == 0) ++lastLE;
    }
    if (lastLE < 0) lastLE = 0;
  }

  // ---- positions -----------------------------------------------------------------------------

  // The leaf at one end of the tree, held; its view is empty when the tree is.
  Held EdgeLeaf(bool first) {
    CheckRoot();
    int32_t pageNo = T.FRootPageNo;
    for (int depth = 0;; ++depth) {
      if (depth >= kSDBMaxKeyPathDepth) RaiseInvalidPosition(kSDBErrBTreePathTooDeep);
      Held h = Fetch(pageNo);
      if (h.V.IsLeaf || h.V.Count() == 0) {
        if (!h.V.IsLeaf) h.V.N = 0;
        return h;
      }
      pageNo = h.V.Child(first ? 0 : h.V.Count() - 1);
    }
  }

  bool EdgePosition(bool first, TSDBKeyPath& path) {
    CheckRoot();
    path.Clear();
    int32_t pageNo = T.FRootPageNo;
    for (;;) {
      Held h = Fetch(pageNo);
      const TEntries& n = h.V;
      if (n.Count() == 0) {
        path.Clear();
        return false;
      }
      int i = first ? 0 : n.Count() - 1;
      path.AddItem(pageNo, i, n.Count());
      if (n.IsLeaf) return true;
      pageNo = n.Child(i);
    }
  }

  bool Move(TSDBKeyPath& path, bool forward) {
    if (path.Count == 0) RaiseInvalidPosition(forward ? kSDBErrBTreeNextEmptyPath : kSDBErrBTreePriorEmptyPath);
    int level = path.Count - 1;
    while (level >= 0) {
      const TSDBKeyPathItem& it = path.Items[level];
      if (forward ? it.EntryNo < it.EntryCount - 1 : it.EntryNo > 0) break;
      --level;
    }
    if (level < 0) return false;
    TSDBKeyPath moved = path;
    moved.Items[level].EntryNo += forward ? 1 : -1;
    for (int l = level + 1; l < moved.Count; ++l) {
      int32_t next;
      {
        Held cur = Fetch(moved.Items[l].PageNo);
        next = forward ? cur.Right() : cur.Left();
      }
      if (next < 0) RaiseInvalidIndexPageNo(forward ? kSDBErrBTreeNextPageMissing : kSDBErrBTreePriorPageMissing);
      Held nb = Fetch(next);
      const int count = nb.V.Count();
      // Only the root may be empty; an empty page inside a level is damage.
      if (count == 0) RaiseIntegrity(kSDBErrBTreeIntegrity, next, 0);
      moved.Items[l] = {next, forward ? 0 : count - 1, count};
    }
    path = moved;
    return true;
  }

  bool EntryAt(const TSDBKeyPath& path, uint8_t* key, uint8_t* ref) {
    if (path.Count == 0 || path.Last().PageNo < 0) return false;
    const int32_t pageNo = path.Last().PageNo;
    TSDBPageGuard g = SDBGetPageGuard(PM, S, pageNo, ptTableIndex);
    const uint8_t* d = g->Data();
    if (d[kOffIsLeaf] == 0) return false;
    const int count = CheckedCount(pageNo, d, true);
    const int i = path.Last().EntryNo;
    if (i < 0 || i >= count) return false;
    const uint8_t* entry = d + kSDBBTreePageHeaderSize + static_cast<size_t>(i) * static_cast<size_t>(K + RS);
    if (key) std::memcpy(key, entry, static_cast<size_t>(K));
    if (ref) std::memcpy(ref, entry + K, static_cast<size_t>(RS));
    return true;
  }

  int Neighbour(const TSDBKeyPath& path, const uint8_t* ref, bool forward, uint8_t* key, uint8_t* outRef) {
    if (path.Count == 0 || path.Last().PageNo < 0) return -1;
    const size_t e = static_cast<size_t>(K + RS);
    auto answer = [&](const uint8_t* d, int j) {
      const uint8_t* entry = d + kSDBBTreePageHeaderSize + static_cast<size_t>(j) * e;
      if (key) std::memcpy(key, entry, static_cast<size_t>(K));
      if (outRef) std::memcpy(outRef, entry + K, static_cast<size_t>(RS));
    };
    int32_t sibling;
    {
      const int32_t pageNo = path.Last().PageNo;
      TSDBPageGuard g = SDBGetPageGuard(PM, S, pageNo, ptTableIndex);
      const uint8_t* d = g->Data();
      if (d[kOffIsLeaf] == 0) return -1;
      const int count = CheckedCount(pageNo, d, true);
      const int i = path.Last().EntryNo;
      if (i < 0 || i >= count ||
          std::memcmp(d + kSDBBTreePageHeaderSize + static_cast<size_t>(i) * e + K, ref, static_cast<size_t>(RS)) != 0)
        return -1;
      const int j = forward ? i + 1 : i - 1;
      if (j >= 0 && j < count) {
        answer(d, j);
        return 1;
      }
      sibling = GetLEI32(d + (forward ? kOffRight : kOffLeft));
    }
    if (sibling < 0) return 0;
    TSDBPageGuard g = SDBGetPageGuard(PM, S, sibling, ptTableIndex);
    const uint8_t* d = g->Data();
    const int count = d[kOffIsLeaf] != 0 ? CheckedCount(sibling, d, true) : 0;
    // Only the root may be empty; an empty or interior page beside a leaf is damage.
    if (count == 0) RaiseIntegrity(kSDBErrBTreeIntegrity, sibling, 0);
    answer(d, forward ? 0 : count - 1);
    return 1;
  }

  // ---- finding entries ---------------------------------------------------------------------

  bool FindExactFast(const uint8_t* key, const uint8_t* ref, TSDBKeyPath& path) {
    path.Clear();
    int32_t pageNo = T.FRootPageNo;
    for (;;) {
      Held h = Fetch(pageNo);
      const TEntries& n = h.V;
      if (n.IsLeaf) {
        Found f = Search(n, key, ref, true, 0, Mode::Any);
        if (!f.found) return false;
        path.AddItem(pageNo, f.pos, n.Count());
        return true;
      }
      if (n.Count() == 0) return false;
      int i = ChildFor(n, key, ref);
      path.AddItem(pageNo, i, n.Count());
      pageNo = n.Child(i);
    }
  }

  // The exact entry by trying every child that may hold the key; finds it
  // even where the order of equal keys is not what a descent expects.
  bool FindExactScan(int32_t pageNo, const uint8_t* key, const uint8_t* ref, TSDBKeyPath& path) {
    Held h = Fetch(pageNo);
    const TEntries& n = h.V;
    int count = n.Count();
    if (n.IsLeaf) {
      Found f = Search(n, key, nullptr, true, 0, Mode::First);
      if (!f.found) return false;
      for (int j = f.pos; j < count && CompareAt(key, n, j, true) == 0; ++j)
        if (TSDBBTreeKeyRef::CompareReferences(ref, n.Ref(j), RS) == 0) {
          path.AddItem(pageNo, j, count);
          return true;
        }
      return false;
    }
    int firstGE, lastLE;
    ChildRange(n, key, firstGE, lastLE);
    for (int i = std::max(0, firstGE - 1); i <= lastLE && i < count; ++i) {
      path.AddItem(pageNo, i, count);
      if (FindExactScan(n.Child(i), key, ref, path)) return true;
      path.DeleteLastItem();
    }
    return false;
  }

  bool FindByReference(const uint8_t* ref, TSDBKeyPath& path) {
    if (!EdgePosition(true, path)) return false;
    int32_t pageNo = path.Last().PageNo;
    for (int guard = 0; pageNo >= 0; ++guard) {
      if (guard > PM.GetPageCount()) RaiseInvalidIndexPageNo(kSDBErrIndexInvalidPageNumber);
      Node n = Load(pageNo);
      for (int j = 0; j < n.Count(); ++j)
        if (TSDBBTreeKeyRef::CompareReferences(ref, n.Ref(j), RS) == 0) {
          // Rebuild the full path by an exact search with the entry's key.
          std::vector<uint8_t> k(n.Key(j), n.Key(j) + K);
          if (FindExact(k.data(), ref, path)) return true;
          return false;
        }
      pageNo = n.Right;
    }
    return false;
  }

  bool FindExact(const uint8_t* key, const uint8_t* ref, TSDBKeyPath& path) {
    CheckRoot();
    if (!key) return FindByReference(ref, path);
    if (FindExactFast(key, ref, path)) return true;
    path.Clear();
    return FindExactScan(T.FRootPageNo, key, ref, path);
  }

  bool LeafCondition(const TEntries& n, bool first, TSDBSearchCondition op, const uint8_t* key, int& pos) {
    int count = n.Count();
    if (count == 0) return false;
    auto cmp = [&](int i) { return CompareAt(key, n, i, true); };  // key against entry i
    switch (op) {
      case scNone:
        pos = first ? 0 : count - 1;
        return true;
      case scEqual: {
        Found f = Search(n, key, nullptr, true, 0, first ? Mode::First : Mode::Last);
        pos = f.pos;
        return f.found;
      }
      case scLower:
        if (first) {
          pos = 0;
          return cmp(0) > 0;
        } else {
          Found f = Search(n, key, nullptr, true, 0, Mode::First);
          pos = f.pos - 1;
          return pos >= 0;
        }
      case scLowerEqual:
        if (first) {
          pos = 0;
          return cmp(0) >= 0;
        } else {
          Found f = Search(n, key, nullptr, true, 0, Mode::Last);
          pos = f.found ? f.pos : f.pos - 1;
          return pos >= 0;
        }
      case scGreater:
        if (first) {
          Found f = Search(n, key, nullptr, true, 0, Mode::Last);
          pos = f.found ? f.pos + 1 : f.pos;
          return pos < count;
        } else {
          pos = count - 1;
          return cmp(pos) < 0;
        }
      case scGreaterEqual:
        if (first) {
          Found f = Search(n, key, nullptr, true, 0, Mode::First);
          pos = f.pos;
          return pos < count;
        } else {
          pos = count - 1;
          return cmp(pos) <= 0;
        }
    }
    return false;
  }

  bool FindCondition(int32_t pageNo, bool first, TSDBSearchCondition op, const uint8_t* key, TSDBKeyPath& path) {
    Held h = Fetch(pageNo);
    const TEntries& n = h.V;
    int count = n.Count();
    if (count == 0) return false;
    if (n.IsLeaf) {
      int pos = 0;
      if (!LeafCondition(n, first, op, key, pos)) return false;
      path.AddItem(pageNo, pos, count);
      return true;
    }
    int lo = 0, hi = count - 1;
    if (op != scNone) {
      int firstGE, lastLE;
      ChildRange(n, key, firstGE, lastLE);
      if (op == scEqual || op == scGreater || op == scGreaterEqual) lo = std::max(0, firstGE - 1);
      if (op == scEqual || op == scLower || op == scLowerEqual) hi = lastLE;
    }
    for (int k = 0; k <= hi - lo; ++k) {
      int i = first ? lo + k : hi - k;
      path.AddItem(pageNo, i, count);
      if (FindCondition(n.Child(i), first, op, key, path)) return true;
      path.DeleteLastItem();
    }
    return false;
  }

  // ---- insertion -------------------------------------------------------------------------------

  // Whether (key, ref) sorts after the last entry of a page: keys that
  // arrive in ascending order (new page numbers, growing identifiers) are
  // placed with one comparison per level instead of a binary search.
  bool AfterLast(const TEntries& n, const uint8_t* key, bool mayFull) {
    return n.Count() > (n.IsLeaf ? 0 : 1) && CompareAt(key, n, n.Count() - 1, mayFull) > 0;
  }

  void Insert(const uint8_t* key, const uint8_t* ref, TSDBKeyPath& path) {
    CheckRoot();
    path.Clear();
    int32_t pageNo = T.FRootPageNo;
    for (;;) {
      Held h = Fetch(pageNo);
      const TEntries& n = h.V;
      const int count = n.Count();
      if (!n.IsLeaf) {
        if (count == 0) RaiseIntegrity(kSDBErrBTreeIntegrity, pageNo, 0);
        const int i = AfterLast(n, key, false) ? count - 1 : ChildFor(n, key, ref);
        path.AddItem(pageNo, i, count);
        pageNo = n.Child(i);
        continue;
      }
      const int pos = AfterLast(n, key, true) ? count : Search(n, key, ref, true, 0, Mode::Any).pos;
      const int e = n.E();
      if (static_cast<long>(count + 1) * e + kSDBBTreePageHeaderSize <= D) {
        // Room on the leaf: the entry goes in place, the page keeps its
        // header and the zeros after its entries.
        uint8_t* at = h.D + kSDBBTreePageHeaderSize + static_cast<size_t>(pos) * static_cast<size_t>(e);
        std::memmove(at + e, at, static_cast<size_t>(count - pos) * static_cast<size_t>(e));
        std::memcpy(at, key, static_cast<size_t>(K));
        std::memcpy(at + K, ref, static_cast<size_t>(RS));
        PutLE16(h.D + kOffEntryCount, static_cast<uint16_t>(count + 1));
        h.G->MarkDirty();
        path.AddItem(pageNo, pos, count + 1);
        return;
      }
      Node full = Decode(pageNo, h.D);
      h.G.Release();
      full.InsertEntry(pos, key, ref);
      path.AddItem(pageNo, pos, full.Count());
      SplitUp(full, path, path.Count - 1);
      // The split moved entries: find the new entry's position again.
      if (!FindExact(key, ref, path)) path.Clear();
      return;
    }
  }

  // n is the image at path level `level`; it overflows.
  void SplitUp(Node& n, TSDBKeyPath& path, int level) {
    for (;;) {
      if (!Overflows(n)) {
        Store(n);
        return;
      }
      int count = n.Count();
      int m = count / 2;
      if (n.IsRoot) {
        Node a = AddIndexPage(), b = AddIndexPage();
        a.CopyHeaderFrom(n);
        b.CopyHeaderFrom(n);
        a.IsRoot = b.IsRoot = false;
        a.Left = -1;
        a.Right = b.PageNo;
        b.Left = a.PageNo;
        b.Right = -1;
        a.Entries = n.Run(0, m);
        b.Entries = n.Run(m, count - m);
        Store(a);
        Store(b);
        std::vector<uint8_t> bKey(b.Key(0), b.Key(0) + K);
        n.IsLeaf = false;
        n.Left = n.Right = -1;
        n.Entries.clear();
        n.InsertChild(0, nullptr, a.PageNo);
        n.InsertChild(1, bKey.data(), b.PageNo);
        Store(n);
        return;
      }
      Node q = AddIndexPage();
      q.CopyHeaderFrom(n);
      q.Entries = n.Run(m, count - m);
      q.Left = n.PageNo;
      q.Right = n.Right;
      if (n.Right >= 0) {
        Node r = Load(n.Right);
        r.Left = q.PageNo;
        Store(r);
      }
      n.Right = q.PageNo;
      n.Entries.resize(static_cast<size_t>(m) * static_cast<size_t>(n.E()));
      Store(n);
      Store(q);
      if (level <= 0) RaiseInvalidPosition(kSDBErrBTreeNoPosition);
      const TSDBKeyPathItem& parentItem = path.Items[level - 1];
      Node parent = Load(parentItem.PageNo);
      if (parentItem.EntryNo >= parent.Count() || parent.Child(parentItem.EntryNo) != n.PageNo)
        RaiseIntegrity(kSDBErrBTreeIntegrity, parent.PageNo, parentItem.EntryNo);
      parent.InsertChild(parentItem.EntryNo + 1, q.Key(0), q.PageNo);
      n = std::move(parent);
      --level;
    }
  }

  // ---- deletion ----------------------------------------------------------------------------------

  bool Delete(const uint8_t* key, const uint8_t* ref, TSDBKeyPath& path) {
    CheckRoot();
    if (!FindExact(key, ref, path)) return false;
    Node n = Load(path.Last().PageNo);
    if (!n.IsLeaf) throw ESDBException(kSDBErrBTreeNodeKind, "Internal index error");
    if (n.Count() == 0) throw ESDBException(kSDBErrBTreePageEmpty, "Index error: page is empty");
    n.RemoveEntry(path.Last().EntryNo);
    FixUnderflow(n, path, path.Count - 1);
    return true;
  }

  // The key of the first leaf entry below a page (false when empty).
  bool FirstKeyOf(const Node& n, std::vector<uint8_t>& key) {
    if (n.Count() == 0) return false;
    if (n.IsLeaf) {
      key.assign(n.Key(0), n.Key(0) + K);
      return true;
    }
    std::vector<uint8_t> ref;
    return FirstEntryOf(n.Child(0), key, ref);
  }

  void FixUnderflow(Node& n, TSDBKeyPath& path, int level) {
    if (n.IsRoot) {
      // A root with a single child takes the child over: the tree loses a level.
      while (!n.IsLeaf && n.Count() == 1) {
        Node child = Load(n.Child(0));
        int32_t childNo = child.PageNo;
        n.CopyHeaderFrom(child);
        n.IsRoot = true;
        n.Left = n.Right = -1;
        n.Entries = child.Entries;
        RemoveIndexPage(childNo);
      }
      Store(n);
      return;
    }
    if (!Underflows(n) || level <= 0) {
      Store(n);
      return;
    }
    if (n.Left >= 0) {
      Node l = Load(n.Left);
      if (CanMerge(l, n)) {
        MergeIntoLeft(n, l, path, level);
        return;
      }
    }
    if (n.Right >= 0) {
      Node r = Load(n.Right);
      if (CanMerge(n, r)) {
        MergeIntoRight(n, r, path, level);
        return;
      }
    }
    Store(n);
  }

  void MergeIntoLeft(Node& p, Node& l, TSDBKeyPath& path, int level) {
    if (p.Right >= 0) {
      Node rr = Load(p.Right);
      rr.Left = l.PageNo;
      Store(rr);
    }
    if (!p.IsLeaf && p.Count() > 0) {
      std::vector<uint8_t> first;
      if (FirstKeyOf(p, first)) std::memcpy(p.Key(0), first.data(), static_cast<size_t>(K));
    }
    l.Entries.insert(l.Entries.end(), p.Entries.begin(), p.Entries.end());
    l.Right = p.Right;
    Store(l);
    RemoveIndexPage(p.PageNo);
    DeleteNodeEntry(path, level - 1, p.PageNo, true, nullptr);
  }

  void MergeIntoRight(Node& p, Node& r, TSDBKeyPath& path, int level) {
    std::vector<uint8_t> pFirst;
    bool hasFirst = FirstKeyOf(p, pFirst);
    if (p.Left >= 0) {
      Node ll = Load(p.Left);
      ll.Right = r.PageNo;
      Store(ll);
    }
    if (!r.IsLeaf && r.Count() > 0) {
      std::vector<uint8_t> first;
      if (FirstKeyOf(r, first)) std::memcpy(r.Key(0), first.data(), static_cast<size_t>(K));
    }
    r.Entries.insert(r.Entries.begin(), p.Entries.begin(), p.Entries.end());
    r.Left = p.Left;
    Store(r);
    RemoveIndexPage(p.PageNo);
    DeleteNodeEntry(path, level - 1, p.PageNo, false, hasFirst ? pFirst.data() : nullptr);
  }

  // Removes the entry of a merged-away child from the page at path level
  // `level`, keeping the ancestors' separators valid.
  void DeleteNodeEntry(TSDBKeyPath& path, int level, int32_t childNo, bool mergedLeft, const uint8_t* childFirst) {
    const TSDBKeyPathItem item = path.Items[level];
    Node parent = Load(item.PageNo);
    int j = item.EntryNo;
    if (parent.IsLeaf) throw ESDBException(kSDBErrBTreeNodeKind, "Internal index error");
    if (parent.Count() == 0) throw ESDBException(kSDBErrBTreePageEmpty, "Index error: page is empty");
    if (j >= parent.Count() || parent.Child(j) != childNo) RaiseIntegrity(kSDBErrBTreeIntegrity, parent.PageNo, j);
    if (mergedLeft) {
      // The child's keys went to the previous subtree: the subtree that
      // held the child now starts at the parent's entry 1.
      if (j == 0 && parent.Count() >= 2) {
        std::vector<uint8_t> key(parent.Key(1), parent.Key(1) + K);
        for (int a = level - 1; a >= 0; --a)
          if (path.Items[a].EntryNo >= 1) {
            Node anc = Load(path.Items[a].PageNo);
            if (path.Items[a].EntryNo < anc.Count()) {
              std::memcpy(anc.Key(path.Items[a].EntryNo), key.data(), static_cast<size_t>(K));
              Store(anc);
            }
            break;
          }
      }
    } else if (childFirst) {
      // The child's keys went to the next subtree: its separator must not
      // exceed them any more.
      for (int a = level; a >= 0; --a) {
        if (a == level) {
          if (j < parent.Count() - 1) {
            std::memcpy(parent.Key(j + 1), childFirst, static_cast<size_t>(K));
            break;
          }
          continue;
        }
        Node anc = Load(path.Items[a].PageNo);
        int e = path.Items[a].EntryNo;
        if (e < anc.Count() - 1) {
          std::memcpy(anc.Key(e + 1), childFirst, static_cast<size_t>(K));
          Store(anc);
          break;
        }
      }
    }
    parent.RemoveEntry(j);
    FixUnderflow(parent, path, level);
  }

  // ---- freeing ----------------------------------------------------------------------------------

  void FreeSubtree(int32_t pageNo, int depth, bool freeThis) {
    if (depth > kSDBMaxKeyPathDepth) RaiseIntegrity(kSDBErrBTreeCircularLinks, pageNo, 0);
    Node n = Load(pageNo);
    if (!n.IsLeaf)
      for (int i = 0; i < n.Count(); ++i) FreeSubtree(n.Child(i), depth + 1, true);
    if (freeThis) RemoveIndexPage(pageNo);
  }

  // ---- integrity ----------------------------------------------------------------------------------

  struct CheckState {
    std::vector<int32_t> stack;                 // pages on the current path
    std::map<int, int32_t> lastAtLevel;        // last page visited per level
    int leafLevel = -1;
  };

  void CheckPage(int32_t pageNo, int depth, CheckState& st, int32_t parentNo, int parentEntry) {
    Node n = Load(pageNo);
    int count = n.Count();
    // Level-wide links: pages of one level form one chain in key order,
    // across parent boundaries too.
    auto it = st.lastAtLevel.find(depth);
    int32_t prev = it == st.lastAtLevel.end() ? -1 : it->second;
    if (depth > 0 && n.Left != prev) RaiseIntegrity34(parentNo, parentEntry);
    if (prev >= 0) {
      Node p = Load(prev);
      if (p.Right != pageNo) RaiseIntegrity34(parentNo, parentEntry);
    }
    st.lastAtLevel[depth] = pageNo;
    if (n.IsLeaf) {
      if (st.leafLevel < 0) st.leafLevel = depth;
      if (st.leafLevel != depth) RaiseIntegrity(kSDBErrBTreeIntegrity, pageNo, 0);
      bool truncated = KR.HasTruncatedParts();
      for (int i = 0; i + 1 < count; ++i) {
        int c = KR.CompareShortKeys(n.Key(i), n.Key(i + 1), n.Ref(i + 1), n.Ref(i), S, false);
        if (!truncated && c == 0) c = TSDBBTreeKeyRef::CompareReferences(n.Ref(i), n.Ref(i + 1), RS) < 0 ? -1 : 1;
        if (truncated ? c > 0 : c >= 0) RaiseIntegrity(kSDBErrBTreeLeafOrder, pageNo, i);
      }
      return;
    }
    if (count == 0) RaiseIntegrity(kSDBErrBTreeIntegrity, pageNo, 0);
    if (depth >= kSDBMaxKeyPathDepth) RaiseIntegrity(kSDBErrBTreeCircularLinks, pageNo, 0);
    st.stack.push_back(pageNo);
    for (int i = 0; i < count; ++i)
      if (std::find(st.stack.begin(), st.stack.end(), n.Child(i)) != st.stack.end())
        throw ESDBException(kSDBErrBTreeCircularLinks, "Index integrity error. Circular links. PageNo=%d EntryNo=%d",
                            {int64_t{pageNo}, int64_t{i}});
    for (int i = 0; i < count; ++i) {
      int32_t child = n.Child(i);
      Node c = Load(child);
      if (i > 0 && c.Left != n.Child(i - 1)) RaiseIntegrity33(pageNo, i);
      if (i < count - 1 && c.Right != n.Child(i + 1)) RaiseIntegrity33(pageNo, i);
      CheckPage(child, depth + 1, st, pageNo, i);
    }
    st.stack.pop_back();
    bool truncated = KR.HasTruncatedParts();
    for (int i = 1; i + 1 < count; ++i) {
      if (KR.CompareShortKeys(n.Key(i), n.Key(i + 1), nullptr, nullptr, S, false) > 0)
        RaiseIntegrity(kSDBErrBTreeInteriorOrder, pageNo, i);
      std::vector<uint8_t> lastK, lastR, firstK, firstR;
      if (LastEntryOf(n.Child(i - 1), lastK, lastR) &&
          KR.CompareShortKeys(lastK.data(), n.Key(i), nullptr, nullptr, S, false) > 0)
        RaiseIntegrity(kSDBErrBTreeLeftChildAbove, pageNo, i);
      if (FirstEntryOf(n.Child(i + 1), firstK, firstR) &&
          KR.CompareShortKeys(firstK.data(), n.Key(i + 1), nullptr, nullptr, S, false) < 0)
        RaiseIntegrity(kSDBErrBTreeRightChildBelow, pageNo, i + 1);
      if (!truncated && !lastK.empty() && !firstK.empty() &&
          KR.CompareShortKeys(lastK.data(), firstK.data(), nullptr, nullptr, S, false) == 0 &&
          TSDBBTreeKeyRef::CompareReferences(lastR.data(), firstR.data(), RS) >= 0)
        RaiseIntegrity(kSDBErrBTreeIntegrity, pageNo, i);
    }
  }

  [[noreturn]] static void RaiseIntegrity33(int32_t pageNo, int entryNo) {
    throw ESDBException(kSDBErrBTreeLeafLinkBack, "Index integrity error. Invlaid leaf link. PageNo=%d EntryNo=%d",
                        {int64_t{pageNo}, int64_t{entryNo}});
  }
  [[noreturn]] static void RaiseIntegrity34(int32_t pageNo, int entryNo) {
    throw ESDBException(kSDBErrBTreeLeafLinkForward, "Index integrity error. Invlaid leaf link. PageNo=%d EntryNo=%d",
                        {int64_t{pageNo}, int64_t{entryNo}});
  }

  void Check() {
    CheckRoot();
    Node root = Load(T.FRootPageNo);
    if (!root.IsRoot) RaiseIntegrity(kSDBErrBTreeIntegrity, root.PageNo, 0);
    CheckState st;
    CheckPage(T.FRootPageNo, 0, st, T.FRootPageNo, 0);
    for (const auto& [level, pageNo] : st.lastAtLevel) {
      Node n = Load(pageNo);
      if (n.Right != -1) RaiseIntegrity34(pageNo, n.Count());
    }
  }

  // ---- leaf walk ------------------------------------------------------------------------------------

  // Calls fn for every leaf from the first, left to right; fn answers false
  // to stop. The walk is bounded so that a cycle of links cannot hang it.
  void ForEachLeaf(const std::function<bool(const Node&)>& fn) {
    TSDBKeyPath path;
    if (!EdgePosition(true, path)) return;
    int32_t pageNo = path.Last().PageNo;
    int64_t limit = static_cast<int64_t>(PM.GetPageCount()) + 1;
    for (int64_t guard = 0; pageNo >= 0; ++guard) {
      if (guard > limit) RaiseInvalidIndexPageNo(kSDBErrBTreeCheckChainTooLong);
      Node n = Load(pageNo);
      if (!fn(n)) return;
      pageNo = n.Right;
    }
  }
};

// ---- TSDBKeyPath -------------------------------------------------------------------------------------

void TSDBKeyPath::AddItem(int32_t aPageNo, int32_t aEntryNo, int32_t aEntryCount) {
  if (Count >= kSDBMaxKeyPathDepth) RaiseInvalidPosition(kSDBErrBTreePathTooDeep);
  Items[Count++] = {aPageNo, aEntryNo, aEntryCount};
}

int32_t TSDBKeyPath::GetCurrentPageNo() const {
  if (ItemNo < 0 || ItemNo >= Count) RaiseInvalidPosition(kSDBErrKeyPathItemNo);
  return Items[ItemNo].PageNo;
}

void TSDBKeyPath::SetCurrentPageNo(int32_t PageNo) {
  if (ItemNo < 0 || ItemNo >= Count) RaiseInvalidPosition(kSDBErrKeyPathItemNo);
  Items[ItemNo].PageNo = PageNo;
}

bool TSDBKeyPath::PageExists(int32_t aPageNo) const {
  for (int i = 0; i < Count; ++i)
    if (Items[i].PageNo == aPageNo) return true;
  return false;
}

int TSDBKeyPath::Compare(const TSDBKeyPath& aKeyPath) const {
  if (Count != aKeyPath.Count) throw ESDBException(kSDBErrKeyPathLength, "Invalid index key path");
  for (int i = 0; i < Count; ++i) {
    if (Items[i].PageNo != aKeyPath.Items[i].PageNo) throw ESDBException(kSDBErrKeyPathPage, "Invalid index key path");
    if (Items[i].EntryNo != aKeyPath.Items[i].EntryNo) return Items[i].EntryNo < aKeyPath.Items[i].EntryNo ? -1 : 1;
  }
  return 0;
}

double TSDBKeyPath::GetApproxRecNoInPercents() const {
  // Sum of EntryNo(i) / (EntryCount(0) * ... * EntryCount(i)), accumulated
  // from the leaf upwards as b / a; floating point keeps deep trees with
  // large pages from overflowing the product.
  double a = 1, b = 0;
  for (int i = Count - 1; i >= 0; --i) {
    double count = Items[i].EntryCount > 0 ? Items[i].EntryCount : 1;
    double no = Items[i].EntryNo > 0 ? Items[i].EntryNo : 0;
    b += no * a;
    a *= count;
  }
  double r = b / a;
  return r < 0 ? 0 : (r >= 1 ? std::nextafter(1.0, 0.0) : r);
}

// ---- TSDBBTreePage --------------------------------------------------------------------------------------

TSDBBTreePage::TSDBBTreePage(TSDBBTreeKeyRef& KeyRef, TSDBPageManager& PageManager, int32_t RootPageNo)
    : LKeyRef(KeyRef), LPageManager(PageManager), FRootPageNo(RootPageNo) {}

int32_t TSDBBTreePage::CreateRoot(int SessionID) {
  TSDBBTreeImpl t(*this, SessionID);
  Node n = t.AddIndexPage();
  Node root = t.EmptyRoot(n.PageNo);
  t.Store(root);
  FRootPageNo = root.PageNo;
  return FRootPageNo;
}

void TSDBBTreePage::InsertLeafEntry(int SessionID, const uint8_t* Key, const uint8_t* Reference,
                                    TSDBKeyPath& KeyPath) {
  TSDBBTreeImpl(*this, SessionID).Insert(Key, Reference, KeyPath);
}

bool TSDBBTreePage::DeleteLeafEntry(int SessionID, const uint8_t* Key, const uint8_t* Reference,
                                    TSDBKeyPath& KeyPath) {
  return TSDBBTreeImpl(*this, SessionID).Delete(Key, Reference, KeyPath);
}

bool TSDBBTreePage::FindEntry(int SessionID, const uint8_t* Key, const uint8_t* Reference, TSDBKeyPath& Position) {
  return TSDBBTreeImpl(*this, SessionID).FindExact(Key, Reference, Position);
}

bool TSDBBTreePage::GetFirstPosition(int SessionID, TSDBKeyPath& Position) {
  return TSDBBTreeImpl(*this, SessionID).EdgePosition(true, Position);
}

bool TSDBBTreePage::GetLastPosition(int SessionID, TSDBKeyPath& Position) {
  return TSDBBTreeImpl(*this, SessionID).EdgePosition(false, Position);
}

bool TSDBBTreePage::FindByCondition(int SessionID, bool First, TSDBSearchCondition Operator, const uint8_t* Key,
                                    TSDBKeyPath& Position) {
  TSDBBTreeImpl t(*this, SessionID);
  t.CheckRoot();
  Position.Clear();
  if (!Key && Operator != scNone) throw ESDBException(kSDBErrBTreeInvalidPosition, "Index error: invalid position");
  if (t.FindCondition(FRootPageNo, First, Operator, Key, Position)) return true;
  Position.Clear();
  return false;
}

bool TSDBBTreePage::GetFirstKey(int SessionID, uint8_t* Key) { return GetFirstEntry(SessionID, Key, nullptr); }
bool TSDBBTreePage::GetLastKey(int SessionID, uint8_t* Key) { return GetLastEntry(SessionID, Key, nullptr); }

bool TSDBBTreePage::GetFirstEntry(int SessionID, uint8_t* Key, uint8_t* Reference) {
  TSDBKeyPath p;
  if (!GetFirstPosition(SessionID, p)) return false;
  GetEntry(SessionID, p, Key, Reference);
  return true;
}

bool TSDBBTreePage::GetLastEntry(int SessionID, uint8_t* Key, uint8_t* Reference) {
  TSDBKeyPath p;
  if (!GetLastPosition(SessionID, p)) return false;
  GetEntry(SessionID, p, Key, Reference);
  return true;
}

bool TSDBBTreePage::GotoNextEntry(int SessionID, TSDBKeyPath& Position) {
  return TSDBBTreeImpl(*this, SessionID).Move(Position, true);
}

bool TSDBBTreePage::GotoPriorEntry(int SessionID, TSDBKeyPath& Position) {
  return TSDBBTreeImpl(*this, SessionID).Move(Position, false);
}

bool TSDBBTreePage::LastWithinOnLeaf(int SessionID, TSDBKeyPath& Position,
                                     const std::function<bool(const uint8_t*, const uint8_t*)>& Within) {
  if (Position.Count == 0 || Position.Last().PageNo < 0) return false;
  TSDBBTreeImpl b(*this, SessionID);
  const int32_t pageNo = Position.Last().PageNo;
  TSDBPageGuard g = SDBGetPageGuard(LPageManager, SessionID, pageNo, ptTableIndex);
  const uint8_t* d = g->Data();
  if (d[kOffIsLeaf] == 0) return false;
  const int count = b.CheckedCount(pageNo, d, true);
  const int first = Position.Last().EntryNo;
  const size_t e = static_cast<size_t>(b.K + b.RS);
  for (int j = first; j >= 0 && j < count; ++j) {
    const uint8_t* entry = d + kSDBBTreePageHeaderSize + static_cast<size_t>(j) * e;
    if (Within(entry, entry + b.K)) continue;
    if (j == first) return false;
    Position.Last().EntryNo = j - 1;
    Position.Last().EntryCount = count;
    return true;
  }
  return false;
}

bool TSDBBTreePage::GetLeafEntry(int SessionID, const TSDBKeyPath& Position, uint8_t* Key, uint8_t* Reference) {
  TSDBBTreeImpl b(*this, SessionID);
  return b.EntryAt(Position, Key, Reference);
}

int TSDBBTreePage::GetNeighbourEntry(int SessionID, const TSDBKeyPath& Position, const uint8_t* Reference,
                                     bool Forward, uint8_t* Key, uint8_t* NeighbourReference) {
  TSDBBTreeImpl b(*this, SessionID);
  return b.Neighbour(Position, Reference, Forward, Key, NeighbourReference);
}

void TSDBBTreePage::GetEntry(int SessionID, const TSDBKeyPath& Position, uint8_t* Key, uint8_t* Reference) {
  if (Position.Count == 0) RaiseInvalidPosition(kSDBErrBTreeNoPosition);
  TSDBBTreeImpl t(*this, SessionID);
  TSDBPageGuard g;
  const uint8_t* e = t.LeafEntry(g, Position);
  if (Key) std::memcpy(Key, e, static_cast<size_t>(t.K));
  if (Reference) std::memcpy(Reference, e + t.K, static_cast<size_t>(t.RS));
}

void TSDBBTreePage::UpdateKey(int SessionID, const TSDBKeyPath& Position, const uint8_t* Key) {
  if (Position.Count == 0) RaiseInvalidPosition(kSDBErrBTreeNoPosition);
  TSDBBTreeImpl t(*this, SessionID);
  TSDBPageGuard g;
  uint8_t* e = t.LeafEntry(g, Position);
  std::memcpy(e, Key, static_cast<size_t>(t.K));
  g->MarkDirty();
}

void TSDBBTreePage::UpdateReference(int SessionID, const TSDBKeyPath& Position, const uint8_t* Reference) {
  if (Position.Count == 0) RaiseInvalidPosition(kSDBErrBTreeNoPosition);
  TSDBBTreeImpl t(*this, SessionID);
  TSDBPageGuard g;
  uint8_t* e = t.LeafEntry(g, Position);
  std::memcpy(e + t.K, Reference, static_cast<size_t>(t.RS));
  g->MarkDirty();
}

void TSDBBTreePage::FreeAllPages(int SessionID, bool KeepRootPage) {
  TSDBBTreeImpl t(*this, SessionID);
  t.CheckRoot();
  t.FreeSubtree(FRootPageNo, 0, !KeepRootPage);
  if (KeepRootPage)
    t.Store(t.EmptyRoot(FRootPageNo));
  else
    FRootPageNo = -1;
}

void TSDBBTreePage::CheckIntegrity(int SessionID) { TSDBBTreeImpl(*this, SessionID).Check(); }

int64_t TSDBBTreePage::GetEntryCount(int SessionID) {
  int64_t total = 0;
  TSDBBTreeImpl(*this, SessionID).ForEachLeaf([&](const Node& n) {
    total += n.Count();
    return true;
  });
  return total;
}

int TSDBBTreePage::GetDepth(int SessionID) {
  TSDBBTreeImpl t(*this, SessionID);
  t.CheckRoot();
  int depth = 1;
  Node n = t.Load(FRootPageNo);
  while (!n.IsLeaf && n.Count() > 0) {
    if (++depth > kSDBMaxKeyPathDepth) RaiseInvalidPosition(kSDBErrBTreePathTooDeep);
    n = t.Load(n.Child(0));
  }
  return depth;
}

// ---- Page indexes -----------------------------------------------------------------------------------------

namespace {

struct PageKey {
  uint8_t bytes[4];
  explicit PageKey(int32_t pageNo) { PutLEI32(bytes, pageNo); }
};

struct ValueRef {
  uint8_t bytes[2];
  explicit ValueRef(int value) { PutLE16(bytes, static_cast<uint16_t>(value)); }
};

}  // namespace

TSDBBTreePageIndex::TSDBBTreePageIndex(TSDBPageManager& PageManager) : LPageManager(PageManager) {}

TSDBBTreePage TSDBBTreePageIndex::Tree() { return TSDBBTreePage(FKeyRef, LPageManager, FRootPageNo); }

void TSDBBTreePageIndex::CheckOpen() const {
  if (FRootPageNo < 0) RaiseInvalidIndexPageNo(kSDBErrBTreeNoRoot);
}

int32_t TSDBBTreePageIndex::CreateIndex(int SessionID) {
  TSDBBTreePage t = Tree();
  FRootPageNo = t.CreateRoot(SessionID);
  return FRootPageNo;
}

void TSDBBTreePageIndex::EmptyIndex(int SessionID) {
  CheckOpen();
  Tree().FreeAllPages(SessionID, true);
}

void TSDBBTreePageIndex::DropIndex(int SessionID) {
  CheckOpen();
  Tree().FreeAllPages(SessionID, false);
  FRootPageNo = -1;
}

void TSDBBTreePageIndex::CheckIntegrity(int SessionID) {
  CheckOpen();
  Tree().CheckIntegrity(SessionID);
}

bool TSDBBTreePageIndex::GetPageValue(int SessionID, int32_t PageNo, uint16_t& Value) {
  CheckOpen();
  TSDBBTreePage t = Tree();
  TSDBBTreeImpl impl(t, SessionID);
  TSDBKeyPath path;
  PageKey key(PageNo);
  if (!impl.FindCondition(FRootPageNo, true, scEqual, key.bytes, path)) return false;
  TSDBPageGuard g;
  Value = GetLE16(impl.LeafEntry(g, path) + 4);
  return true;
}

std::vector<std::pair<int32_t, uint16_t>> TSDBBTreePageIndex::GetAllEntries(int SessionID) {
  CheckOpen();
  std::vector<std::pair<int32_t, uint16_t>> out;
  TSDBBTreePage t = Tree();
  TSDBBTreeImpl(t, SessionID).ForEachLeaf([&](const Node& n) {
    for (int i = 0; i < n.Count(); ++i) out.emplace_back(GetLEI32(n.Key(i)), GetLE16(n.Ref(i)));
    return true;
  });
  return out;
}

void TSDBBTreePageIndex::AddToPage(int SessionID, int32_t PageNo, int Amount, const TSDBPageIndexSlot* Found) {
  CheckOpen();
  TSDBBTreePage t = Tree();
  TSDBBTreeImpl impl(t, SessionID);
  PageKey key(PageNo);
  TSDBPageGuard g;
  uint8_t* entry = nullptr;
  if (Found && Found->PageNo == PageNo) entry = impl.RememberedLeafEntry(g, Found->LeafPageNo, Found->EntryNo, key.bytes);
  TSDBKeyPath path;
  if (!entry) {
    if (!impl.FindCondition(FRootPageNo, true, scEqual, key.bytes, path)) {
      if (Amount < 0 || Amount > 0xFFFF)
        throw ESDBException(kSDBErrBTreePageFull, "Cannot add data item to page. Page is full");
      ValueRef v(Amount);
      impl.Insert(key.bytes, v.bytes, path);
      return;
    }
    entry = impl.LeafEntry(g, path);
  }
  const int value = GetLE16(entry + 4);
  if (Amount < 0 || !CanAdd(static_cast<uint16_t>(value), Amount) || value + Amount > 0xFFFF)
    throw ESDBException(kSDBErrBTreePageFull, "Cannot add data item to page. Page is full");
  PutLE16(entry + 4, static_cast<uint16_t>(value + Amount));
  g->MarkDirty();
}

void TSDBBTreePageIndex::RemoveFromPage(int SessionID, int32_t PageNo, int Amount, int NewValue, int NotFoundCode) {
  CheckOpen();
  TSDBBTreePage t = Tree();
  TSDBBTreeImpl impl(t, SessionID);
  TSDBKeyPath path;
  PageKey key(PageNo);
  if (!impl.FindCondition(FRootPageNo, true, scEqual, key.bytes, path))
    throw ESDBException(NotFoundCode, "Invalid page number");
  TSDBPageGuard g;
  uint8_t* entry = impl.LeafEntry(g, path);
  const int value = GetLE16(entry + 4);
  int newValue;
  if (NewValue >= 0) {
    newValue = std::min(NewValue, 0xFFFF);
  } else {
    // Lowering below zero would wrap the stored count: refuse it.
    if (value == 0 || value < Amount) throw ESDBException(kSDBErrPageIndexPageEmpty, "Index error: page is empty");
    newValue = value - Amount;
  }
  if (newValue == 0) {
    uint8_t ref[2];
    std::memcpy(ref, entry + 4, 2);
    g.Release();
    impl.Delete(key.bytes, ref, path);
  } else {
    PutLE16(entry + 4, static_cast<uint16_t>(newValue));
    g->MarkDirty();
  }
}

bool TSDBBTreePageIndex::FindPageWithRoom(int SessionID, int Amount, int32_t& PageNo, TSDBPageIndexSlot* Found) {
  CheckOpen();
  TSDBBTreePage t = Tree();
  TSDBBTreeImpl impl(t, SessionID);
  // The last leaf from its end (new pages get the highest numbers, so the
  // page filled last is there), then the first leaf from its start; each
  // without its far-end entry unless it is the only one.
  for (const bool last : {true, false}) {
    auto leaf = impl.EdgeLeaf(!last);
    const TEntries& n = leaf.V;
    const int count = n.Count();
    if (count == 0) return false;
    const int examine = std::max(1, count - 1);
    const int below = RoomBelow(Amount);
    for (int k = 0; k < examine; ++k) {
      const int i = last ? count - 1 - k : k;
      if (GetLE16(n.Ref(i)) < below) {
        PageNo = GetLEI32(n.Key(i));
        if (Found) *Found = {PageNo, leaf.PageNo, i};
        return true;
      }
    }
  }
  return false;
}

// ---- record page index -----------------------------------------------------------------------------------------

bool TSDBBTreeRecordPageIndex::FindPageForNewRecord(int SessionID, int32_t& PageNo, TSDBPageIndexSlot* Found) {
  return FindPageWithRoom(SessionID, 1, PageNo, Found);
}

void TSDBBTreeRecordPageIndex::AddRecord(int SessionID, int32_t PageNo, int AddCount, const TSDBPageIndexSlot* Found) {
  AddToPage(SessionID, PageNo, AddCount, Found);
}

void TSDBBTreeRecordPageIndex::DeleteRecord(int SessionID, int32_t PageNo, int NewItemCount) {
  RemoveFromPage(SessionID, PageNo, 1, NewItemCount, kSDBErrPageIndexDeleteRecord);
}

bool TSDBBTreeRecordPageIndex::GetFirstRecordPage(int SessionID, int32_t& PageNo) {
  CheckOpen();
  uint8_t key[4];
  if (!Tree().GetFirstKey(SessionID, key)) return false;
  PageNo = GetLEI32(key);
  return true;
}

bool TSDBBTreeRecordPageIndex::GetLastRecordPage(int SessionID, int32_t& PageNo) {
  CheckOpen();
  uint8_t key[4];
  if (!Tree().GetLastKey(SessionID, key)) return false;
  PageNo = GetLEI32(key);
  return true;
}

bool TSDBBTreeRecordPageIndex::GetNextRecordPage(int SessionID, int32_t CurrentPageNo, int32_t& PageNo) {
  CheckOpen();
  TSDBBTreePage t = Tree();
  TSDBKeyPath path;
  PageKey key(CurrentPageNo);
  if (!t.FindByCondition(SessionID, true, scEqual, key.bytes, path)) throw ESDBException(kSDBErrPageIndexNextPage, "Invalid page number");
  if (!t.GotoNextEntry(SessionID, path)) return false;
  uint8_t k[4];
  t.GetEntry(SessionID, path, k, nullptr);
  PageNo = GetLEI32(k);
  return true;
}

bool TSDBBTreeRecordPageIndex::GetPriorRecordPage(int SessionID, int32_t CurrentPageNo, int32_t& PageNo) {
  CheckOpen();
  TSDBBTreePage t = Tree();
  TSDBKeyPath path;
  PageKey key(CurrentPageNo);
  if (!t.FindByCondition(SessionID, true, scEqual, key.bytes, path)) throw ESDBException(kSDBErrPageIndexPriorPage, "Invalid page number");
  if (!t.GotoPriorEntry(SessionID, path)) return false;
  uint8_t k[4];
  t.GetEntry(SessionID, path, k, nullptr);
  PageNo = GetLEI32(k);
  return true;
}

void TSDBBTreeRecordPageIndex::GetRecordByRecNo(int SessionID, int32_t& PageNo, int32_t& RecNoOnPage, int64_t RecNo) {
  CheckOpen();
  bool found = false;
  int64_t sum = 0;
  if (RecNo >= 0) {
    TSDBBTreePage t = Tree();
    TSDBBTreeImpl(t, SessionID).ForEachLeaf([&](const Node& n) {
      for (int i = 0; i < n.Count(); ++i) {
        int64_t v = GetLE16(n.Ref(i));
        if (RecNo < sum + v) {
          PageNo = GetLEI32(n.Key(i));
          RecNoOnPage = static_cast<int32_t>(RecNo - sum);
          found = true;
          return false;
        }
        sum += v;
      }
      return true;
    });
  }
  if (!found) throw ESDBException(kSDBErrRecNoTooLarge, "Cannot set RecNo greater than RecordCount");
}

void TSDBBTreeRecordPageIndex::GetRecNoByRecord(int SessionID, int32_t PageNo, int64_t& RecNo, int32_t RecNoOnPage) {
  CheckOpen();
  bool found = false;
  int64_t sum = 0;
  TSDBBTreePage t = Tree();
  TSDBBTreeImpl(t, SessionID).ForEachLeaf([&](const Node& n) {
    for (int i = 0; i < n.Count(); ++i) {
      if (GetLEI32(n.Key(i)) == PageNo) {
        found = true;
        return false;
      }
      sum += GetLE16(n.Ref(i));
    }
    return true;
  });
  if (!found) throw ESDBException(kSDBErrPageIndexRecNoPage, "Invalid page number");
  RecNo = sum + RecNoOnPage;
}

int64_t TSDBBTreeRecordPageIndex::GetRecordCount(int SessionID) {
  CheckOpen();
  int64_t sum = 0;
  TSDBBTreePage t = Tree();
  TSDBBTreeImpl(t, SessionID).ForEachLeaf([&](const Node& n) {
    for (int i = 0; i < n.Count(); ++i) sum += GetLE16(n.Ref(i));
    return true;
  });
  return sum;
}

void TSDBBTreeRecordPageIndex::Validate(int SessionID, int64_t StoredRecordCount) {
  int64_t sum = GetRecordCount(SessionID);
  if (sum != StoredRecordCount)
    throw ESDBException(
        kSDBErrPageIndexCountMismatch,
        "Invalid table RecordPageIndex or MostUpdated. RecordPageIndex.RecordCount=%d, MostUpdated.RecordCount=%d",
        {sum, StoredRecordCount});
}

// ---- BLOB page index ----------------------------------------------------------------------------------------------

bool TSDBBTreeBlobPageIndex::FindPageForNewBlob(int SessionID, int BlobSize, int32_t& PageNo,
                                                TSDBPageIndexSlot* Found) {
  return FindPageWithRoom(SessionID, BlobSize + kBlobItemOverhead, PageNo, Found);
}

void TSDBBTreeBlobPageIndex::AddBlob(int SessionID, int BlobSize, int32_t PageNo, const TSDBPageIndexSlot* Found) {
  AddToPage(SessionID, PageNo, BlobSize, Found);
}

void TSDBBTreeBlobPageIndex::DeleteBlob(int SessionID, int BlobSize, int32_t PageNo) {
  RemoveFromPage(SessionID, PageNo, BlobSize, -1, kSDBErrPageIndexDeleteBlob);
}

int TSDBBTreeBlobPageIndex::GetBlobPageAllocatedSpace(int SessionID, int32_t PageNo) {
  uint16_t v = 0;
  return GetPageValue(SessionID, PageNo, v) ? v : 0;
}

}  // namespace sdb
