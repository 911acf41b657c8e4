// B+-trees over index pages (page type 12).
//
// Every ordered structure of the engine is one of these trees: the record
// indexes (keys built from record fields, 6-byte record identifiers as
// references) and the two per-table page indexes (page number keys with a
// 2-byte count as reference).
//
// A tree page holds an 18-byte tree header (root and leaf flags, the left
// and right neighbours, the key size K and the entry count n) and n entries
// of K key bytes followed by the reference: the tree's reference on leaves,
// the child's 4-byte page number on interior pages (byte layout:
// docs/database-file-format.md, section 15).
// Leaf entries ascend by (key, reference). Entry i >= 1 of an interior page
// carries the first key of child i's subtree as it was when the entry was
// made; the key of entry 0 is never compared. Every level is a doubly linked
// list in key order. The root keeps its page number for the life of the tree.
//
// Every operation takes the pages it needs from the page cache under the
// calling session and gives them back before it returns (also on failure),
// so changes become that session's pending page changes. A failed operation
// does not undo the page changes it made before failing; the caller recovers
// by cancelling the session's pending changes.
//
// Thread safety: none of its own. Trees are used inside the critical section
// of the database object; a key description carries per-operation state, so
// one key description serves one operation at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sdb/SDBCollation.h"
#include "sdb/SDBFieldTypes.h"
#include "storage/file/SDBPageCache.h"
#include "storage/file/SDBPageFormat.h"

namespace sdb {

// Search conditions of range scans and condition searches.
enum TSDBSearchCondition : uint8_t {
  scNone = 0,
  scEqual = 1,
  scLower = 2,
  scGreater = 3,
  scLowerEqual = 4,
  scGreaterEqual = 5,
};

inline constexpr int kSDBBTreePageHeaderSize = 18;  // EntriesOffset
inline constexpr int kSDBMaxKeyPathDepth = 32;

// ---- Key descriptions -----------------------------------------------------------

// One part (column) of a key. A part is a null-flag byte followed by the
// value's memory image (see SDBKeyFormat.h). Offsets are byte offsets inside
// the short key, the full key and the record buffer.
struct TSDBKeyPart {
  int OffsetInShortKeyBuffer = 0;
  int OffsetInFullKeyBuffer = 0;
  int OffsetInRecordBuffer = 0;
  int FieldNo = 0;
  int ShortSize = 0;  // null flag + stored value bytes + AddedSize
  int FullSize = 0;   // null flag + whole memory image
  int AddedSize = 0;  // 2 when the short part holds a truncated prefix, else 0
  TSDBBaseFieldType DataType = bftUnknown;
  bool Descending = false;
  bool CaseInsensitive = false;
};

using TSDBKeyBuffer = std::vector<uint8_t>;

// Describes the keys and references of one tree and orders them.
class TSDBBTreeKeyRef {
 public:
  TSDBBTreeKeyRef();
  virtual ~TSDBBTreeKeyRef() = default;

  // -1, 0 or 1: KeyBuffer1 against KeyBuffer2 (short keys). Reference2 is
  // the reference stored with KeyBuffer2 and Reference1 the one behind
  // KeyBuffer1 (either may be null). When two truncated prefixes tie and
  // MayUseFullKeys is set, the full values decide (see TSDBRecordKeyRef).
  virtual int CompareShortKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2, const uint8_t* Reference2,
                               const uint8_t* Reference1, int SessionID, bool MayUseFullKeys);
  // -1, 0 or 1 over the first FCompareFieldCount parts of two full keys.
  virtual int CompareFullKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2);

  // Size 6: record identifiers (PageNo signed, then PageItemNo unsigned);
  // other sizes: bytes compared unsigned, first to last.
  static int CompareReferences(const uint8_t* Reference1, const uint8_t* Reference2, int Size);

  // Zero-filled buffers of the key sizes.
  TSDBKeyBuffer AllocShortKeyBuffer() const { return TSDBKeyBuffer(static_cast<size_t>(FShortKeySize), 0); }
  TSDBKeyBuffer AllocFullKeyBuffer() const { return TSDBKeyBuffer(static_cast<size_t>(FFullKeySize), 0); }

  // Whether some part holds a truncated prefix (then equal short keys may
  // stand for different full values).
  bool HasTruncatedParts() const;
  int PartCount() const { return static_cast<int>(Parts.size()); }
  void SetCollation(TSDBCollationPtr Collation) { FCollation = std::move(Collation); }
  const TSDBCollation& Collation() const { return *FCollation; }

  int FShortKeySize = 0;
  int FFullKeySize = 0;
  uint16_t FReferenceSize = 0;
  bool FKeyIsReference = false;
  int FCompareFieldCount = 0;
  std::vector<TSDBKeyPart> Parts;

 protected:
  // Compares one part; `CompareLength` -1 = whole strings.
  int ComparePart(const TSDBKeyPart& Part, const uint8_t* Part1, const uint8_t* Part2, int Size,
                  int CompareLength) const;
  TSDBCollationPtr FCollation;
};

// Page indexes: one signed 32-bit part (the page number, no null flag) and
// a 2-byte value as the reference.
class TSDBPageKeyRef : public TSDBBTreeKeyRef {
 public:
  TSDBPageKeyRef();
  int CompareShortKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2, const uint8_t* Reference2,
                       const uint8_t* Reference1, int SessionID, bool MayUseFullKeys) override;
  int CompareFullKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2) override;
};

// What a record key description needs from its table: the record behind a
// record identifier, to build full keys when truncated prefixes tie.
class TSDBIndexRecordSource {
 public:
  virtual ~TSDBIndexRecordSource() = default;
  // The memory record buffer of the record; false when it cannot be read.
  virtual bool ReadRecordForIndex(int SessionID, const TSDBPageItemID& RecordID,
                                  std::vector<uint8_t>& RecordBuffer) = 0;
};

// One field a record key may use, as the table's field definitions give it.
struct TSDBKeyFieldInfo {
  std::string Name;
  int FieldNo = 0;                // bit of the record's null bitmap
  TSDBBaseFieldType DataType = bftUnknown;
  int MemoryDataSize = 0;         // bytes of the memory image
  int OffsetInRecordBuffer = 0;   // absolute offset of the image in the buffer
};

// One index column.
struct TSDBKeyColumnInfo {
  std::string FieldName;
  bool Descending = false;
  bool CaseInsensitive = false;
  int MaxIndexedSize = 20;
};

// Record indexes: keys built from record buffers, 6-byte record identifiers
// as references.
//
// Short part of a column: when MaxIndexedSize < the memory size, the null
// flag, the first MaxIndexedSize bytes of the image and 2 zero bytes
// (AddedSize 2); otherwise the null flag and the whole image. Full part:
// the null flag and the whole image.
//
// When two short keys tie on a truncated part and full keys may be used,
// the part is probed once more with the first added byte of KeyBuffer1 set
// to 0x01: that byte follows a prefix that fills the whole indexed size (so
// the probe differs) but lies after the terminator of a shorter value (so
// short values still tie). A differing probe means the full values must
// decide: the first full key comes from the record Reference1 names, or
// from LRecordBuffer when Reference1 is null; the second from the record
// Reference2 names.
class TSDBRecordKeyRef : public TSDBBTreeKeyRef {
 public:
  TSDBRecordKeyRef();

  // Builds the parts from the index columns and the table's fields. Raises
  // "Cannot find index field '%s'" (20043) and "Cannot index BLOB field
  // '%s'. ..." (20295). `RecordSource` may be null (then tied prefixes
  // count as equal).
  void Assign(const std::vector<TSDBKeyColumnInfo>& Columns, const std::vector<TSDBKeyFieldInfo>& Fields,
              TSDBIndexRecordSource* RecordSource);

  // Both also remember RecordBuffer as LRecordBuffer.
  void MakeShortKeyFromRecordBuffer(const uint8_t* RecordBuffer, uint8_t* KeyBuffer);
  void MakeFullKeyFromRecordBuffer(const uint8_t* RecordBuffer, uint8_t* KeyBuffer) const;
  // Whether two records hold the same bytes in the first PartCount key
  // parts (-1: all), nulls alike: then their keys are equal, without
  // building them. False says nothing (a case-insensitive part may still
  // compare equal).
  bool SameKeyBytes(const uint8_t* RecordBuffer1, const uint8_t* RecordBuffer2, int PartCount = -1) const;

  int CompareShortKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2, const uint8_t* Reference2,
                       const uint8_t* Reference1, int SessionID, bool MayUseFullKeys) override;
  int CompareFullKeys(const uint8_t* KeyBuffer1, const uint8_t* KeyBuffer2) override;

  // Prefix bounds: with PartialCompare, each string part within the first
  // KeyFieldCount parts whose bound value (in RecordBuffer) is not NULL
  // compares only the bound's length in characters, so stored values that
  // begin with the bound compare equal; FCompareFieldCount becomes
  // KeyFieldCount (-1: all parts). Without PartialCompare every length goes
  // back to -1 and FCompareFieldCount to the part count.
  void SetPartialCompare(const uint8_t* RecordBuffer, bool PartialCompare, int KeyFieldCount = -1);

  const uint8_t* LRecordBuffer = nullptr;
  TSDBIndexRecordSource* LTableData = nullptr;
  std::vector<int> FCompareLengths;

 private:
  static bool IsNullInRecord(const uint8_t* RecordBuffer, int FieldNo);
  // Short-key compare length of a truncated part, in characters.
  static int ShortCompareLength(const TSDBKeyPart& Part);
  bool BuildFullKeyFor(int SessionID, const uint8_t* Reference, TSDBKeyBuffer& FullKey);
};

// ---- Positions -------------------------------------------------------------------------

struct TSDBKeyPathItem {
  int32_t PageNo = -1;
  int32_t EntryNo = 0;
  int32_t EntryCount = 0;
};

// A position in a tree: the pages from the root down to a leaf entry, each
// with the entry number taken and the page's entry count when recorded.
class TSDBKeyPath {
 public:
  void Clear() noexcept { Count = 0; ItemNo = 0; }
  void Assign(const TSDBKeyPath& Source) { *this = Source; }
  // Raises "Index error: invalid position" (20068) beyond 32 levels.
  void AddItem(int32_t aPageNo, int32_t aEntryNo, int32_t aEntryCount);
  void DeleteLastItem() noexcept { if (Count > 0) --Count; }
  void IncLevel() noexcept { ++ItemNo; }
  void DecLevel() noexcept { --ItemNo; }
  int32_t GetCurrentPageNo() const;
  void SetCurrentPageNo(int32_t PageNo);
  bool PageExists(int32_t aPageNo) const;
  // -1, 0 or 1 by the first level whose entry numbers differ; paths of
  // different depth or through different pages raise "Invalid index key
  // path" (20051, 20052).
  int Compare(const TSDBKeyPath& aKeyPath) const;
  // The relative position in [0, 1).
  double GetApproxRecNoInPercents() const;

  bool Empty() const noexcept { return Count == 0; }
  TSDBKeyPathItem& Last() { return Items[static_cast<size_t>(Count - 1)]; }
  const TSDBKeyPathItem& Last() const { return Items[static_cast<size_t>(Count - 1)]; }

  TSDBKeyPathItem Items[kSDBMaxKeyPathDepth];
  int Count = 0;
  int ItemNo = 0;
};

// ---- The tree -----------------------------------------------------------------------------

// Operations on the tree whose root is RootPageNo. Keys are short keys of
// the key description (FShortKeySize bytes), references FReferenceSize bytes.
class TSDBBTreePage {
 public:
  TSDBBTreePage(TSDBBTreeKeyRef& KeyRef, TSDBPageManager& PageManager, int32_t RootPageNo = -1);

  int32_t RootPageNo() const noexcept { return FRootPageNo; }
  void SetRootPageNo(int32_t PageNo) noexcept { FRootPageNo = PageNo; }

  // A new empty root page (a type-12 page initialised as an empty root
  // leaf); becomes this tree's root and is answered.
  int32_t CreateRoot(int SessionID);

  // Adds (Key, Reference); KeyPath answers the new entry's position.
  void InsertLeafEntry(int SessionID, const uint8_t* Key, const uint8_t* Reference, TSDBKeyPath& KeyPath);
  // Removes the exact entry; false when there is none.
  bool DeleteLeafEntry(int SessionID, const uint8_t* Key, const uint8_t* Reference, TSDBKeyPath& KeyPath);
  // The exact entry (Key null: the first entry with that reference).
  bool FindEntry(int SessionID, const uint8_t* Key, const uint8_t* Reference, TSDBKeyPath& Position);
  bool GetFirstPosition(int SessionID, TSDBKeyPath& Position);
  bool GetLastPosition(int SessionID, TSDBKeyPath& Position);
  // The first (First) or last qualifying entry in key order for
  // `Operator` against Key (full keys allowed when prefixes tie).
  bool FindByCondition(int SessionID, bool First, TSDBSearchCondition Operator, const uint8_t* Key,
                       TSDBKeyPath& Position);
  bool GetFirstKey(int SessionID, uint8_t* Key);
  bool GetLastKey(int SessionID, uint8_t* Key);
  bool GetFirstEntry(int SessionID, uint8_t* Key, uint8_t* Reference);
  bool GetLastEntry(int SessionID, uint8_t* Key, uint8_t* Reference);

  // Moves a position one entry on or back, following sibling links; false
  // at the end. An empty position raises "Index error: invalid position";
  // a missing sibling link "Index error: invalid page number".
  bool GotoNextEntry(int SessionID, TSDBKeyPath& Position);
  bool GotoPriorEntry(int SessionID, TSDBKeyPath& Position);
  // Key and/or reference at a position (either may be null).
  void GetEntry(int SessionID, const TSDBKeyPath& Position, uint8_t* Key, uint8_t* Reference);
  // The key and reference of the leaf entry after (Forward) or before the
  // one at Position, provided that one still holds Reference: 1 when
  // answered, 0 when it has no such neighbour, -1 when Position does not
  // (or no longer) name an entry holding Reference. Only the leaf and, at
  // its edge, its sibling are read: the path above the leaf is not trusted.
  int GetNeighbourEntry(int SessionID, const TSDBKeyPath& Position, const uint8_t* Reference, bool Forward,
                        uint8_t* Key, uint8_t* NeighbourReference);
  // From the leaf entry at Position onwards, the last entry of its leaf
  // before the first one for which Within answers false: Position moves
  // there and true is answered. False (Position unchanged) when the entry
  // at Position itself is not within, or every entry to the leaf's end is.
  bool LastWithinOnLeaf(int SessionID, TSDBKeyPath& Position,
                        const std::function<bool(const uint8_t* Key, const uint8_t* Reference)>& Within);
  // Key and reference of the leaf entry at Position; false (nothing
  // raised) when Position does not name a leaf entry (any more).
  bool GetLeafEntry(int SessionID, const TSDBKeyPath& Position, uint8_t* Key, uint8_t* Reference);
  // Replace the key or reference of the leaf entry at a position; the
  // caller keeps the order intact.
  void UpdateKey(int SessionID, const TSDBKeyPath& Position, const uint8_t* Key);
  void UpdateReference(int SessionID, const TSDBKeyPath& Position, const uint8_t* Reference);

  // Frees every page (children before parents); with KeepRootPage the root
  // stays and becomes an empty root again.
  void FreeAllPages(int SessionID, bool KeepRootPage);
  // Verifies the whole tree and raises at the first violation.
  void CheckIntegrity(int SessionID);

  // Number of leaf entries (walks the leaf level).
  int64_t GetEntryCount(int SessionID);
  // Depth in levels (1 for a lone root leaf).
  int GetDepth(int SessionID);

  TSDBBTreeKeyRef& KeyRef() noexcept { return LKeyRef; }
  TSDBPageManager& PageManager() noexcept { return LPageManager; }

  struct Node;  // in-memory image of one page (implementation detail)

 private:
  friend struct TSDBBTreeImpl;
  TSDBBTreeKeyRef& LKeyRef;
  TSDBPageManager& LPageManager;
  int32_t FRootPageNo;
};

// ---- Page indexes --------------------------------------------------------------------------

// Where a page index found room for a new item: the leaf entry of that page.
// Handed from the search to the add that follows it, it spares the add a
// second search; it is good only while nothing else changes the index (the
// add checks that the leaf still holds the page there and searches when it
// does not).
struct TSDBPageIndexSlot {
  int32_t PageNo = -1;
  int32_t LeafPageNo = -1;
  int32_t EntryNo = -1;
};

// A tree of (page number, 16-bit value) entries; its root page number is
// kept in the table metadata.
class TSDBBTreePageIndex {
 public:
  explicit TSDBBTreePageIndex(TSDBPageManager& PageManager);
  virtual ~TSDBBTreePageIndex() = default;

  // The values below which a page can take `Amount` more.
  virtual int RoomBelow(int Amount) const = 0;
  bool CanAdd(uint16_t Value, int Amount) const { return static_cast<int>(Value) < RoomBelow(Amount); }

  // A new empty index; FRootPageNo is set and answered.
  int32_t CreateIndex(int SessionID);
  void OpenIndex(int32_t RootPageNo) noexcept { FRootPageNo = RootPageNo; }
  // Frees every page but the root; the index becomes empty.
  void EmptyIndex(int SessionID);
  // Frees every page; FRootPageNo becomes -1.
  void DropIndex(int SessionID);
  void CheckIntegrity(int SessionID);

  int32_t RootPageNo() const noexcept { return FRootPageNo; }
  // The value stored for a page; false when the page is not in the index.
  bool GetPageValue(int SessionID, int32_t PageNo, uint16_t& Value);
  // All (page, value) entries in page order (tools and tests).
  std::vector<std::pair<int32_t, uint16_t>> GetAllEntries(int SessionID);

 protected:
  // Adds Amount to the page's value (a new entry when the page is absent).
  // Raises "Cannot add data item to page. Page is full" (20106).
  void AddToPage(int SessionID, int32_t PageNo, int Amount, const TSDBPageIndexSlot* Found = nullptr);
  // Lowers the page's value to NewValue (>= 0) or by Amount (NewValue < 0);
  // a value of 0 removes the entry.
  void RemoveFromPage(int SessionID, int32_t PageNo, int Amount, int NewValue, int NotFoundCode);
  bool FindPageWithRoom(int SessionID, int Amount, int32_t& PageNo, TSDBPageIndexSlot* Found = nullptr);
  TSDBBTreePage Tree();
  void CheckOpen() const;

  int32_t FRootPageNo = -1;
  TSDBPageKeyRef FKeyRef;
  TSDBPageManager& LPageManager;
};

// Which record pages a table has and how many records each holds.
class TSDBBTreeRecordPageIndex : public TSDBBTreePageIndex {
 public:
  TSDBBTreeRecordPageIndex(TSDBPageManager& PageManager, int MaxRecordsOnPage)
      : TSDBBTreePageIndex(PageManager), FMaxRecordsOnPage(MaxRecordsOnPage) {}
  int RoomBelow(int Amount) const override { return FMaxRecordsOnPage - Amount + 1; }

  // A page with room for one more record; false when none (the caller adds
  // a page). Looks at the last leaf (backwards) and the first (forwards).
  // Found, when given, answers the slot for the AddRecord that follows.
  bool FindPageForNewRecord(int SessionID, int32_t& PageNo, TSDBPageIndexSlot* Found = nullptr);
  void AddRecord(int SessionID, int32_t PageNo, int AddCount = 1, const TSDBPageIndexSlot* Found = nullptr);
  // NewItemCount < 0: one record less; otherwise the page's new count.
  // Raises "Invalid page number" (20104) when the page is not in the index.
  void DeleteRecord(int SessionID, int32_t PageNo, int NewItemCount = -1);
  bool GetFirstRecordPage(int SessionID, int32_t& PageNo);
  bool GetLastRecordPage(int SessionID, int32_t& PageNo);
  // False at the end; "Invalid page number" (20110, 20111) when the current
  // page is not in the index.
  bool GetNextRecordPage(int SessionID, int32_t CurrentPageNo, int32_t& PageNo);
  bool GetPriorRecordPage(int SessionID, int32_t CurrentPageNo, int32_t& PageNo);
  // Zero-based RecNo -> page and zero-based number on it; "Cannot set RecNo
  // greater than RecordCount" (20113) beyond the end.
  void GetRecordByRecNo(int SessionID, int32_t& PageNo, int32_t& RecNoOnPage, int64_t RecNo);
  // Zero-based record number of slot ordinal RecNoOnPage on PageNo.
  void GetRecNoByRecord(int SessionID, int32_t PageNo, int64_t& RecNo, int32_t RecNoOnPage);
  int64_t GetRecordCount(int SessionID);
  // Raises "Invalid table RecordPageIndex or MostUpdated. ..." (20292) when
  // the sum of the counts differs from StoredRecordCount.
  void Validate(int SessionID, int64_t StoredRecordCount);

  int FMaxRecordsOnPage;
};

// Which small-BLOB pages a table has and how many bytes each uses.
class TSDBBTreeBlobPageIndex : public TSDBBTreePageIndex {
 public:
  // Room kept per stored BLOB beyond its data when looking for a page.
  static constexpr int kBlobItemOverhead = 22;
  explicit TSDBBTreeBlobPageIndex(TSDBPageManager& PageManager) : TSDBBTreePageIndex(PageManager) {}
  int RoomBelow(int Amount) const override { return static_cast<int>(LPageManager.PageDataSize()) - 2 - Amount; }

  // A page whose used bytes + BlobSize + 22 stay below D - 2.
  bool FindPageForNewBlob(int SessionID, int BlobSize, int32_t& PageNo, TSDBPageIndexSlot* Found = nullptr);
  // Adds / removes BlobSize bytes of the page's use, exactly as given.
  void AddBlob(int SessionID, int BlobSize, int32_t PageNo, const TSDBPageIndexSlot* Found = nullptr);
  void DeleteBlob(int SessionID, int BlobSize, int32_t PageNo);
  // The bytes used on the page (0 when it is not in the index).
  int GetBlobPageAllocatedSpace(int SessionID, int32_t PageNo);
};

}  // namespace sdb
