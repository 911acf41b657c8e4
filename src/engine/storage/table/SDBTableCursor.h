// TSDBTableCursor: a navigable, editable view of one table for the
// components above the table layer (the table component, the query
// executor). It wraps a TSDBCursor and adds what a dataset needs: an order
// (physical, an index by name, or field names answered by a fitting or
// temporary index), a key range, Bof/Eof, record editing with the table
// and record lock protocol, field access by number and name, BLOBs and
// batch updates.
//
// Record-level failures raise ESDBEngineError (codes -1 .. -13); other
// engine failures pass through as ESDBException.
//
// Thread safety: one cursor serves one thread at a time; the table data
// underneath takes the database critical section for each call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sdb/SDBVariant.h"
#include "storage/table/SDBRecordIndex.h"
#include "storage/table/SDBTableData.h"

namespace sdb {

// How a cursor opens and closes its table: a database, a session or a
// connection supplies them (SDBTableOpener adapts any object that has
// OpenTable(Cursor, Name) and CloseTable(Cursor)).
struct TSDBTableOpenFunctions {
  std::function<void(TSDBCursor&, const std::string&)> Open;
  std::function<void(TSDBCursor&)> Close;
};

template <class D>
TSDBTableOpenFunctions SDBTableOpener(D& Database) {
  return {[&Database](TSDBCursor& c, const std::string& n) { Database.OpenTable(c, n); },
          [&Database](TSDBCursor& c) { Database.CloseTable(c); }};
}

// Waits of the cursor-level lock protocol (attempts x pause in ms).
inline constexpr int kSDBEditTableLockTryCount = 900;
inline constexpr int kSDBEditTableLockDelayMs = 100;
inline constexpr int kSDBRecordLockTryCount = 15;
inline constexpr int kSDBRecordLockDelayMs = 100;
inline constexpr int kSDBPostLockTryCount = 2250;
inline constexpr int kSDBPostLockDelayMs = 40;
inline constexpr int kSDBDeleteLockTryCount = 900;
inline constexpr int kSDBDeleteLockDelayMs = 100;
inline constexpr int kSDBReadLockTryCount = 2250;
inline constexpr int kSDBReadLockDelayMs = 40;

enum TSDBCursorState : uint8_t { csInactive, csBrowse, csEdit, csInsert };

class TSDBTableCursor {
 public:
  explicit TSDBTableCursor(TSDBTableOpenFunctions Opener, int SessionID = 0);
  ~TSDBTableCursor();
  TSDBTableCursor(const TSDBTableCursor&) = delete;
  TSDBTableCursor& operator=(const TSDBTableCursor&) = delete;

  // ---- Open and close ------------------------------------------------------------------------

  // Opens the table in physical order and moves to the first record; not
  // Positioned, it stays before the first record until the caller moves it
  // (a query positions it once, on its range).
  void Open(const std::string& TableName, bool Exclusive = false, bool Positioned = true);
  // Cancels a pending edit, ends a batch (its changes are committed) and
  // closes the table.
  void Close();
  bool Active() const noexcept { return FState != csInactive; }
  TSDBCursorState State() const noexcept { return FState; }
  int SessionID() const noexcept { return FCursor.SessionID; }
  // Inside a transaction changes wait for the session's commit and the
  // locks taken are the transaction's.
  void SetInTransaction(bool InTransaction) noexcept { FCursor.FInTransaction = InTransaction; }
  bool InTransaction() const noexcept { return FCursor.FInTransaction; }
  TSDBCursor& Cursor() noexcept { return FCursor; }
  TSDBDiskTableData& Table();
  const std::string& TableName() const noexcept { return FCursor.TableName; }

  // ---- Order -------------------------------------------------------------------------------------

  // An index by name; empty = physical order. "Index not found" (20018).
  // The cursor stays on its record; a range is cancelled.
  void SetIndexName(const std::string& IndexName);
  // The order of the fields (per field "ASC"/"DESC" and "CASE"/"NO_CASE";
  // empty lists: ascending, case-sensitive): a fitting index, else a
  // temporary index of the session. Empty FieldNames = physical order.
  void SetIndexFieldNames(const std::vector<std::string>& FieldNames, const std::vector<std::string>& AscDesc = {},
                          const std::vector<std::string>& CaseSensitivity = {});
  // -1 = physical order.
  void SetIndexID(int32_t IndexID);
  int32_t IndexID() const noexcept { return FCursor.CurrentIndexID; }
  std::string IndexName() const;
  // The index of the current order (ESDBException 20018 in physical order).
  TSDBBTreeRecordIndex& CurrentIndex();

  // ---- Range (index order) ----------------------------------------------------------------------

  // Limits the cursor to keys between the bounds: values for the leading
  // index fields (fewer values than index fields bound a prefix of the
  // key; an empty list leaves that side open). Exclusive bounds leave out
  // the bound itself; PartialCompare lets a string bound match as a prefix.
  // Moves to the first record of the range. Raises 20018 in physical order.
  void SetRange(const std::vector<TSDBVariant>& StartValues, const std::vector<TSDBVariant>& EndValues,
                bool StartExclusive = false, bool EndExclusive = false, bool PartialCompare = false);
  // Orders the cursor by the index and limits it to the range in one
  // move: positioned once, on the first record of the range.
  void SetIndexRange(const std::string& IndexName, const std::vector<TSDBVariant>& StartValues,
                     const std::vector<TSDBVariant>& EndValues, bool StartExclusive, bool EndExclusive);
  void CancelRange();
  bool HasRange() const noexcept { return FHasRange; }
  // The planner's estimate of the records in the range (or in the table).
  int64_t ApproxRangeRecordCount();
  // The same estimate for a range of any index of the table, from the
  // index alone: neither the cursor nor its range moves, no record is read.
  int64_t ApproxIndexRangeRecordCount(const std::string& IndexName, const std::vector<TSDBVariant>& StartValues,
                                      const std::vector<TSDBVariant>& EndValues, bool StartExclusive,
                                      bool EndExclusive);

  // ---- Navigation ------------------------------------------------------------------------------

  void First();
  void Last();
  void Next();
  void Prior();
  // Moves by Distance records (negative: backwards); answers the moves made.
  int64_t MoveBy(int64_t Distance);
  bool Eof() const noexcept { return FEof; }
  bool Bof() const noexcept { return FBof; }
  // No record in the cursor's view.
  bool IsEmpty();
  // Records in the view (the range counted exactly when one is set).
  int64_t RecordCount();
  // 1-based in the current order (0 when there is no current record).
  int64_t RecNo();
  void SetRecNo(int64_t RecNo);
  // Identifier of the current record (a bookmark) and the way back to it.
  TSDBPageItemID RecordID() const noexcept { return FCursor.CurrentRecordID; }
  bool HasCurrentRecord() const noexcept { return FHasRecord; }
  bool GotoRecordID(const TSDBPageItemID& RecordID);
  // Re-reads the current record (false when it is gone).
  bool Refresh();

  // The first record, in the current order, whose fields equal the values
  // (texts optionally case-insensitive and/or as prefixes). The cursor
  // stays where it was when none matches.
  bool Locate(const std::vector<std::string>& FieldNames, const std::vector<TSDBVariant>& Values,
              bool CaseInsensitive = false, bool PartialKey = false);
  // In index order: the first record whose leading key fields equal the
  // values (FindKey) or the first at or after them (FindNearest).
  bool FindKey(const std::vector<TSDBVariant>& KeyValues);
  bool FindNearest(const std::vector<TSDBVariant>& KeyValues);

  // ---- Editing -------------------------------------------------------------------------------------

  // A new record (defaults applied); Post stores it.
  void Insert();
  void Append() { Insert(); }
  // Starts editing the current record: table lock, record lock, and a
  // check that the record is still as the cursor read it.
  void Edit();
  // Moves to the record and starts editing it, as GotoRecordID then Edit
  // would, reading it once, under the edit's locks. False (the cursor where
  // it was) when the record is gone.
  bool EditRecordID(const TSDBPageItemID& RecordID);
  // Stores the insert or edit; the cursor moves to the stored record.
  void Post();
  // Drops the pending insert or edit and releases its locks.
  void Cancel();
  // Deletes the current record; the cursor moves to its neighbour.
  void Delete();

  // Batch updates: changes are committed once, at EndBatchUpdate (or
  // discarded with Commit false).
  void BeginBatchUpdate();
  void EndBatchUpdate(bool Commit = true);
  bool InBatchUpdate() const noexcept { return FCursor.FBatchUpdate; }

  // ---- Fields --------------------------------------------------------------------------------------

  int FieldCount();
  // "Field '%s' not found" (10003) for unknown names.
  int FieldNo(const std::string& FieldName);
  const TSDBFieldDef& FieldDef(int FieldNo);
  // Values of the record being edited or inserted, else of the current
  // record (a null value when there is none).
  TSDBVariant GetFieldValue(int FieldNo);
  TSDBVariant FieldByName(const std::string& FieldName) { return GetFieldValue(FieldNo(FieldName)); }
  bool IsNull(int FieldNo);
  // Only in edit or insert state ("Dataset not in edit or insert mode", 10004).
  void SetFieldValue(int FieldNo, const TSDBVariant& Value);
  void SetFieldByName(const std::string& FieldName, const TSDBVariant& Value) {
    SetFieldValue(FieldNo(FieldName), Value);
  }
  std::vector<uint8_t> ReadBlob(int FieldNo);
  std::string ReadBlobText(int FieldNo);
  void WriteBlob(int FieldNo, const std::vector<uint8_t>& Value);
  void WriteBlobText(int FieldNo, const std::string& Value);
  void ClearBlob(int FieldNo);

  // ---- Indexes of the table --------------------------------------------------------------------------

  int32_t AddIndex(const TSDBIndexDef& IndexDef);
  void DeleteIndex(const std::string& IndexName);
  void EmptyIndex(const std::string& IndexName);
  // DISTINCT over the first FieldCount fields of the current index: hides
  // in Bitmap (physical record numbers) every record equal to one kept
  // before it.
  void ApplyDistinct(TSDBRecordBitmap& Bitmap, int FieldCount);

 private:
  void CheckActive() const;
  void CheckBrowse(int Code) const;
  std::vector<uint8_t>& ValueBuffer();
  // Moves in the table's order; answers whether a record was found.
  bool Step(TSDBGetRecordMode Mode, bool FromEdge);
  bool PositionOn(const TSDBPageItemID& RecordID);
  bool InRange(const uint8_t* RecordBuffer);
  bool InStartBound(const uint8_t* RecordBuffer);
  bool InEndBound(const uint8_t* RecordBuffer);
  TSDBScanSearchCondition MakeBound(const std::vector<TSDBVariant>& Values, TSDBSearchCondition Condition,
                                    bool PartialCompare);
  TSDBScanSearchCondition MakeBound(TSDBBTreeRecordIndex& Index, const std::vector<TSDBVariant>& Values,
                                    TSDBSearchCondition Condition, bool PartialCompare);
  // The same into `Bound`, whose buffer is reused.
  void FillBound(TSDBScanSearchCondition& Bound, TSDBBTreeRecordIndex& Index, const std::vector<TSDBVariant>& Values,
                 TSDBSearchCondition Condition, bool PartialCompare);
  int32_t IndexIDOfName(const std::string& IndexName);
  bool ReadCurrent(std::vector<uint8_t>& Buffer);
  // The first (First) or last record of the current index satisfying the
  // condition, read under the database critical section and a shared
  // table lock (-13 when the lock cannot be had).
  bool FindInIndex(bool First, const TSDBScanSearchCondition& Condition, TSDBPageItemID& RecordID);
  // Whether the range ends at the current record going forward (or back),
  // the record First (Last) entered the range at: the neighbouring index
  // entry lies beyond the range, so nothing needs to be read to find the
  // end. False also when that cannot be told.
  bool RangeEndsHere(bool Forward);
  // Runs an index read under the critical section and a shared table lock.
  template <class F>
  auto IndexRead(F&& Read);
  bool LockTableForPost(int TryCount, int DelayMs, TSDBLockType& Taken);
  void ReleaseEditLocks();
  void ClearBuffers();
  [[noreturn]] void RaiseEngine(int Code);

  TSDBTableOpenFunctions FOpener;
  TSDBCursor FCursor;
  TSDBCursorState FState = csInactive;
  bool FEof = true;
  bool FBof = true;
  bool FHasRecord = false;
  bool FHasRange = false;
  std::vector<uint8_t> FBlankRecord;
  uint64_t FBlankGeneration = 0;
  TSDBScanSearchCondition FRangeStart;
  TSDBScanSearchCondition FRangeEnd;
  // The last edge of a condition found in an index (by FindInIndex or the
  // range estimate): the condition, which edge, where, and its record
  // when known. Checked against the leaf before any use.
  TSDBKeyPath FFoundPosition;
  int32_t FFoundIndexID = -1;
  TSDBPageItemID FFoundRecordID;
  TSDBScanSearchCondition FFoundBound;
  bool FFoundFirst = true;
  void RememberFound(int32_t IndexID, bool First, const TSDBScanSearchCondition& Bound, const TSDBKeyPath& Position,
                     const TSDBPageItemID& RecordID);
  // Edit state: the record as read when editing began, the table state
  // when it was read, and the locks held.
  std::vector<uint8_t> FEditOriginal;
  int32_t FEditTableState = 0;
  bool FRecordLocked = false;
  bool FEditTableLocked = false;
  TSDBLockType FEditLockType = ltSIRW;
};

}  // namespace sdb
