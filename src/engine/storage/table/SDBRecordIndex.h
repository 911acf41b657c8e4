// Record indexes of a table: B-trees whose keys are built from record
// fields and whose references are the 6-byte record identifiers, so equal
// keys are allowed in the tree itself and uniqueness is checked before a
// change is made.
//
// TSDBBTreeRecordIndex is one index (declared or temporary); the index
// manager keeps every index of one table data in step with the records and
// creates, opens, drops and rebuilds them. The root page number of a
// declared index lives in its definition, which the table writes into its
// metadata; temporary indexes live in a page manager of their own and are
// never written to the file.
//
// Thread safety: none of its own. Everything runs inside the critical
// section of the table's database, taken by the table layer; an index
// holds per-operation state in its key description.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "storage/table/SDBBTree.h"
#include "storage/table/SDBFieldDef.h"
#include "storage/table/SDBRecordManager.h"

namespace sdb {

class TSDBDiskTableData;
class TSDBBaseIndexManager;

// Where a cursor last was in an index; spares the search for the current
// record's entry on consecutive moves while the table has not changed.
struct TSDBIndexPositionCache {
  TSDBKeyPath Position;
  int32_t IndexID = -1;
  TSDBPageItemID RecordID;
  int32_t TableState = -1;
  void Clear() noexcept {
    Position.Clear();
    IndexID = -1;
    TableState = -1;
  }
};

// A bound of a range scan or range count: the bound values sit in a memory
// record buffer of the table; KeyFieldCount leading index columns take
// part (-1: all). With PartialCompare, string bounds match as prefixes.
struct TSDBScanSearchCondition {
  TSDBSearchCondition Condition = scNone;
  std::vector<uint8_t> KeyRecordBuffer;
  int KeyFieldCount = -1;
  int32_t IndexID = -1;
  bool PartialCompare = false;
};

// State of one range scan (FindRecord).
struct TSDBIndexSearchInfo {
  bool GoForward = true;
  bool Started = false;
  bool HasEnd = false;
  bool Finished = false;
  TSDBKeyPath Current;
  TSDBKeyPath End;
};

// Visibility of records by physical record number (filters, DISTINCT).
class TSDBRecordBitmap {
 public:
  explicit TSDBRecordBitmap(int64_t Size = 0, bool Visible = true) : FBits(static_cast<size_t>(Size), Visible) {}
  int64_t Size() const noexcept { return static_cast<int64_t>(FBits.size()); }
  // New bits take `Visible`.
  void Resize(int64_t Size, bool Visible = false) { FBits.resize(static_cast<size_t>(Size), Visible); }
  // Numbers outside the bitmap are not visible.
  bool IsVisible(int64_t No) const noexcept {
    return No >= 0 && No < Size() && FBits[static_cast<size_t>(No)];
  }
  // Grows the bitmap when a number beyond its end is made visible.
  void SetVisible(int64_t No, bool Visible);
  int64_t VisibleCount() const;

 private:
  std::vector<bool> FBits;
};

// Evaluates the condition of a CHECK constraint against a memory record;
// answers whether the record satisfies it. The statement layer registers
// one (storage cannot evaluate expressions itself).
class TSDBConstraintDefCheck;
using TSDBCheckConstraintEvaluator =
    std::function<bool(TSDBDiskTableData&, const uint8_t* MemoryRecord, const TSDBConstraintDefCheck&)>;
// Registers the process-wide evaluator (an empty function removes it).
// Without one, CHECK constraints are checked only against their stored
// minimum and maximum.
void SDBSetCheckConstraintEvaluator(TSDBCheckConstraintEvaluator Evaluator);
const TSDBCheckConstraintEvaluator& SDBGetCheckConstraintEvaluator();

class TSDBBTreeRecordIndex {
 public:
  TSDBBTreeRecordIndex(TSDBBaseIndexManager& Manager, TSDBIndexDef& IndexDef);

  TSDBIndexDef& IndexDef() noexcept { return *FIndexDef; }
  int32_t IndexID() const noexcept { return FIndexDef->FObjectID; }
  TSDBRecordKeyRef& KeyRef() noexcept { return FKeyRef; }
  // The database's page manager, or the temporary one for temporary indexes.
  TSDBPageManager& PageManager();

  // Builds the key description (raises 20043 / 20295 for unusable columns).
  void OpenIndex();
  // A new empty root (its number goes into the definition); with Fill,
  // every record of the table is inserted, one by one.
  void CreateIndex(int SessionID, bool Fill);
  void EmptyIndex(int SessionID);
  // Frees every page including the root; FRootPageNo becomes -1.
  void DropIndex(int SessionID);
  void RebuildTemporaryIndex(int SessionID);

  // Navigation in index order (modes and results as in physical order).
  void GetRecordBuffer(int SessionID, TSDBNavigationInfo& Info, TSDBIndexPositionCache& Cache, int32_t TableState);
  // For a navigation record that is gone: the nearest entry after (grmNext)
  // or before (grmPrior) its key.
  void GetClosestRecordBuffer(int SessionID, TSDBNavigationInfo& Info, TSDBIndexPositionCache& Cache,
                              int32_t TableState);

  // The entry of the record (key from RecordBuffer); false when absent.
  bool GetIndexPosition(int SessionID, const TSDBPageItemID& RecordID, const uint8_t* RecordBuffer,
                        TSDBKeyPath& Position);
  static int CompareRecordPositionsInIndex(const TSDBKeyPath& Position1, const TSDBKeyPath& Position2);
  TSDBPageItemID GetRecordIDByIndexPosition(int SessionID, const TSDBKeyPath& Position);

  // 1-based record numbers in index order; -1 when the record has no entry.
  int64_t GetRecNoByRecordID(int SessionID, const TSDBPageItemID& RecordID, const uint8_t* RecordBuffer);
  TSDBPageItemID GetRecordIDByRecNo(int SessionID, int64_t RecNo);

  // Hides in the bitmap every visible record whose first DistinctFieldCount
  // key parts equal those of the last kept one.
  void ApplyDistinctToRecordBitmap(int SessionID, TSDBRecordBitmap* Bitmap, int DistinctFieldCount);

  std::unique_ptr<TSDBIndexSearchInfo> CreateSearchInfo() const { return std::make_unique<TSDBIndexSearchInfo>(); }
  // Range scan step; answers false when the scan is over. See the table
  // layer's cursor for the usual use.
  bool FindRecord(int SessionID, bool Restart, bool GoForward, const TSDBScanSearchCondition* StartScanCondition,
                  const TSDBScanSearchCondition* EndScanCondition, const uint8_t* RecordBuffer,
                  TSDBPageItemID& RecordID, TSDBIndexSearchInfo* SearchInfo);

  // Two memory records by their first IndexFieldCount key parts (full
  // values; -1: all parts).
  int CompareRecordBuffersByIndex(const uint8_t* Buffer1, const uint8_t* Buffer2, int IndexFieldCount);
  // -1 for a lower bound, 1 for an upper bound, else 0.
  static int CompareConditions(TSDBSearchCondition Condition1, TSDBSearchCondition Condition2);
  // Whether the record's key satisfies Condition against the bound.
  bool RecordSatisfies(const uint8_t* RecordBuffer, const TSDBScanSearchCondition& Condition);
  // LowerPosition, when given, answers where the lower bound's first entry
  // was found (left empty when there is none or no lower bound).
  int64_t GetApproxRangeRecordCount(int SessionID, int64_t TableRecordCount,
                                    const TSDBScanSearchCondition* RangeCondition1,
                                    const TSDBScanSearchCondition* RangeCondition2,
                                    TSDBKeyPath* LowerPosition = nullptr);
  // Whether Position (found earlier, perhaps before changes) names the first
  // (First) or last entry satisfying Condition: the entry there satisfies
  // it and its neighbour before (after) does not. RecordID answers the
  // entry's record. Checks only the leaf entries concerned.
  bool IsEdgeOfCondition(int SessionID, const TSDBKeyPath& Position, bool First,
                         const TSDBScanSearchCondition& Condition, TSDBPageItemID& RecordID);
  // The first (First) or last entry satisfying a condition.
  bool FindByCondition(int SessionID, bool First, const TSDBScanSearchCondition& Condition, TSDBKeyPath& Position);
  // Whether the entry after (Forward) or before the record's own entry lies
  // beyond Bound (an end bound going forward, a start bound going back),
  // judged on the stored key as a range search judges it, without reading
  // the record it names. False when that cannot be told (no such entry, the
  // record's entry not found): the caller then reads and checks as usual.
  // Known, when given, is where the record's entry was last seen (it is
  // checked, not trusted).
  bool NeighbourBeyondBound(int SessionID, const TSDBPageItemID& RecordID, const uint8_t* RecordBuffer,
                            const TSDBKeyPath* Known, bool Forward, const TSDBScanSearchCondition& Bound);

  bool CanInsertRecord(int SessionID, const uint8_t* RecordBuffer);
  bool CanUpdateRecord(int SessionID, const uint8_t* OldRecordBuffer, const uint8_t* NewRecordBuffer);
  void InsertRecord(int SessionID, const uint8_t* RecordBuffer, const TSDBPageItemID& RecordID);
  // Raises "Index error: cannot delete entry. Entry not found" (20027).
  void DeleteRecord(int SessionID, const uint8_t* RecordBuffer, const TSDBPageItemID& RecordID);
  // Called before the new record is stored (removes the old entry) and
  // after (adds the new one); nothing happens when the keys are equal.
  void UpdateRecord(int SessionID, const uint8_t* OldRecordBuffer, const uint8_t* NewRecordBuffer,
                    const TSDBPageItemID& RecordID, bool BeforeNewRecordIsStored);

  int64_t GetMaxEntriesPerPage();
  int64_t GetEntryCount(int SessionID);
  void CheckIntegrity(int SessionID);
  // Every record identifier in index order (tools and tests).
  std::vector<TSDBPageItemID> GetAllRecordIDs(int SessionID);

 private:
  TSDBBTreePage Tree(int Code);
  // Key of the bound with the compare settings of the condition.
  void PrepareCondition(const TSDBScanSearchCondition& Condition, TSDBKeyBuffer& Key);
  void ResetCompare();
  void Answer(int SessionID, TSDBNavigationInfo& Info, TSDBIndexPositionCache& Cache, int32_t TableState,
              const TSDBKeyPath& Position);

  TSDBBaseIndexManager& FIndexManager;
  TSDBIndexDef* FIndexDef;
  TSDBRecordKeyRef FKeyRef;
  bool FOpened = false;
};

// The indexes of one table data.
class TSDBBaseIndexManager {
 public:
  TSDBBaseIndexManager(TSDBDiskTableData& TableData, TSDBIndexDefs& IndexDefs, TSDBPageManager& PageManager);
  ~TSDBBaseIndexManager();

  TSDBDiskTableData& TableData() noexcept { return FTableData; }
  TSDBIndexDefs& IndexDefs() noexcept { return FIndexDefs; }
  TSDBPageManager& GetPageManager(const TSDBIndexDef& Def);
  // The page manager of temporary indexes (created on first use).
  TSDBPageManager& TemporaryPageManager();
  bool HasTemporaryPageManager() const noexcept { return FTemporaryPageManager != nullptr; }

  // One index object per definition (no page is touched).
  void OpenIndexes();
  // Roots for every definition (table creation).
  void CreateIndexesByIndexDefs(int SessionID);
  // The open index of that object identifier ("Index not found", 20018).
  TSDBBTreeRecordIndex& OpenIndex(int32_t IndexID);
  TSDBBTreeRecordIndex* FindOpenIndex(int32_t IndexID);
  TSDBBTreeRecordIndex* FindIndexByName(const std::string& Name);
  int Count() const noexcept { return static_cast<int>(FOpenIndexList.size()); }
  TSDBBTreeRecordIndex& Index(int i) { return *FOpenIndexList[static_cast<size_t>(i)]; }

  // Adds the definition (a new object identifier when it has none) and
  // builds the index from the table's records. A unique index that the
  // records violate is refused (30320 / 30319) and nothing stays behind.
  TSDBBTreeRecordIndex& CreateIndex(int SessionID, std::unique_ptr<TSDBIndexDef> IndexDef, bool Fill);
  void DropIndex(int SessionID, int32_t IndexID);
  void DropAllIndexes(int SessionID);
  void EmptyIndex(int SessionID, int32_t IndexID);
  void EmptyAllIndexes(int SessionID);
  bool IsIndexExists(const std::string& Name) const { return FIndexDefs.IndexOfName(Name) >= 0; }

  // The first definition fitting the order (position in the definitions,
  // -1 when none). AscDesc holds "ASC"/"DESC", CaseSensitivity
  // "CASE"/"NO_CASE" per field (empty lists: ascending, case-sensitive).
  int FindIndex(const std::vector<std::string>& FieldNames, const std::vector<std::string>& AscDesc,
                int SessionID, const std::vector<std::string>& CaseSensitivity);
  // A fitting index, else a new temporary one of the session.
  TSDBBTreeRecordIndex& FindOrCreateIndex(int SessionID, const std::vector<std::string>& FieldNames,
                                          bool& IsCreated, const std::vector<std::string>& CaseSensitivity,
                                          const std::vector<std::string>& AscDesc);
  TSDBBTreeRecordIndex& CreateTemporaryIndex(int SessionID, const std::vector<std::string>& FieldNames,
                                             const std::vector<std::string>& CaseSensitivity,
                                             const std::vector<std::string>& AscDesc);
  void DropTemporaryIndexes(int SessionID);
  // Rebuilds the temporary indexes whose table state is behind the
  // table's; answers whether one was rebuilt.
  bool SynchronizeTemporaryIndexes(int SessionID);

  // Every index of the table, in definition order.
  void InsertRecord(int SessionID, const uint8_t* RecordBuffer, const TSDBPageItemID& RecordID);
  void DeleteRecord(int SessionID, const uint8_t* RecordBuffer, const TSDBPageItemID& RecordID);
  void UpdateRecord(int SessionID, const uint8_t* OldRecordBuffer, const uint8_t* NewRecordBuffer,
                    const TSDBPageItemID& RecordID, bool BeforeNewRecordIsStored);
  // Temporary indexes follow the table state they were kept in step with.
  void SetTemporaryTableState(int32_t TableState);

  void ApplyTemporaryChanges(int SessionID);
  void CancelTemporaryChanges(int SessionID);

 private:
  TSDBBTreeRecordIndex& AddIndexObject(TSDBIndexDef& Def);
  void RemoveIndexObject(int32_t IndexID);

  TSDBDiskTableData& FTableData;
  TSDBIndexDefs& FIndexDefs;
  TSDBPageManager& FPageManager;
  std::unique_ptr<TSDBPageManager> FTemporaryPageManager;
  std::vector<std::unique_ptr<TSDBBTreeRecordIndex>> FOpenIndexList;
  bool FSynchronizingTemporaryIndexes = false;
};

}  // namespace sdb
