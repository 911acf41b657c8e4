// ==== Storage level 2 of 4: tables, records, BLOBs and B-trees (storage/table) ====
//
// This level owns one table's content: its field, constraint and index
// definitions and their stored form (SDBFieldDef, SDBMetadata), the table
// list (SDBTableList), record pages and the record page index
// (SDBRecordManager, SDBRecordPageIndex), BLOB values (SDBBlobManager),
// the B-trees and their key formats (SDBBTree, SDBBTreeKeys, SDBKeyFormat,
// SDBBTreeIndexDef), the record indexes built on them (SDBRecordIndex), the
// table data object that holds all of it (this header) and the cursors that
// read and change records (SDBTableCursor).
//
// It may use the file level (storage/file) below it, common/, platform/
// and include/sdb's value and error headers. It does not know how sessions
// are counted, how tables are locked between sessions or how a database is
// opened: it sees its database through TSDBTableDatabaseContext, which the
// database level implements.
//
// Table data: one object per open table and database, shared by the
// cursors that have the table open. It owns the table's three internal
// files (metadata, most-updated counters, locks), its field, record and
// BLOB managers, and runs every record operation under the critical
// section of the database it belongs to.
//
// The database is seen through TSDBTableDatabaseContext, so the table layer
// works the same under the single-user database of this file and under the
// multi-user database data that coordinates sessions and locks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "storage/table/SDBBlobManager.h"
#include "storage/table/SDBFieldDef.h"
#include "storage/file/SDBInternalFile.h"
#include "storage/table/SDBMetadata.h"
#include "storage/file/SDBPageManager.h"
#include "storage/table/SDBRecordIndex.h"
#include "storage/table/SDBRecordManager.h"
#include "storage/table/SDBTableList.h"

namespace sdb {

class TSDBDiskTableData;

// Table lock types (their compatibility and use belong to the lock manager).
enum TSDBLockType : uint8_t { ltIS, ltS, ltSIRW, ltXIRW, ltRW, ltU, ltX };

// Waits of the table-level operations (tries x pause in ms).
inline constexpr int kSDBTableOpenLockTryCount = 50;
inline constexpr int kSDBTableOpenLockDelayMs = 100;

// What a table needs from its database.
class TSDBTableDatabaseContext {
 public:
  virtual ~TSDBTableDatabaseContext() = default;
  virtual TSDBPageManager& PageManager() = 0;
  // The file underneath (direct internal files, repair scans).
  virtual TSDBDiskPageManager& DiskPageManager() = 0;
  virtual TSDBTableListFile& TableListFile() = 0;
  // The database critical section.
  virtual std::recursive_mutex& CriticalSection() = 0;
  // The database-wide tables lock, tried TryCount times DelayMs apart.
  virtual bool LockTables(int TryCount, int DelayMs) = 0;
  virtual void UnlockTables() = 0;
  virtual int32_t GetNewObjectId() = 0;
  virtual int32_t MaxSessionCount() const = 0;
  virtual bool MultiUser() const = 0;
  // Whether a page's PFS bit is set (repair scans).
  virtual bool PageInUse(int32_t PageNo) = 0;

  // Table and record locks of a session on one table. A single-user or
  // exclusive database takes none: every call succeeds at once and no
  // record is locked by anybody else. The multi-user database data takes
  // them in the table's locks file through its lock manager.
  virtual bool LockTable(TSDBDiskTableData& Table, int SessionID, TSDBLockType LockType, int TryCount, int DelayMs,
                         bool AllowXIRWAfterSIRW);
  virtual bool UnlockTable(TSDBDiskTableData& Table, int SessionID, TSDBLockType LockType, bool IgnoreIfNoLock);
  virtual bool LockRecord(TSDBDiskTableData& Table, int SessionID, const TSDBPageItemID& RecordID, int TryCount,
                          int DelayMs);
  virtual bool UnlockRecord(TSDBDiskTableData& Table, int SessionID, const TSDBPageItemID& RecordID);
  virtual bool IsRecordLocked(TSDBDiskTableData& Table, int SessionID, const TSDBPageItemID& RecordID);
  // Told each time a session has read the table's most-updated counters
  // (change detection keeps the first state seen in a lock period).
  virtual void MostUpdatedLoaded(TSDBDiskTableData& Table, int SessionID, int32_t TableState);
  // Whether the session read those counters in its current lock period:
  // nobody has changed them since, so their cached page needs no check.
  virtual bool MostUpdatedKnown(TSDBDiskTableData& Table, int SessionID);
};

// The caller's cursor: session, position and record buffers (memory layout).
struct TSDBCursor {
  int SessionID = 0;
  std::string TableName;
  TSDBPageItemID CurrentRecordID;
  int CurrentIndexID = -1;
  bool FirstPosition = true;
  bool LastPosition = false;
  std::vector<uint8_t> CurrentRecordBuffer;
  std::vector<uint8_t> EditRecordBuffer;
  bool FExclusive = false;
  bool FBatchUpdate = false;
  bool FDisableTempFiles = false;
  bool FInTransaction = false;
  // Where the cursor last was in its index (CurrentIndexID >= 0).
  TSDBIndexPositionCache PositionCache;
  // The filter's record bitmap (by physical record number), when filtered:
  // inserts show their record, deletes hide it.
  TSDBRecordBitmap* RecordBitmap = nullptr;
  // Set by InitCursorLayout.
  int32_t RecordBufferSize = 0;
  int32_t FirstFieldOffset = 0;
  TSDBDiskTableData* TableData = nullptr;
};

// What a rebuild copies: the records of the old table (a cursor on it)
// into its replacement (a cursor on the new table, in batch-update mode).
using TSDBTableFill = std::function<void(TSDBCursor& From, TSDBCursor& To)>;

class TSDBDiskTableData : public TSDBIndexRecordSource {
 public:
  TSDBDiskTableData(TSDBTableDatabaseContext& Database, const std::string& TableName);
  ~TSDBDiskTableData() override;
  TSDBDiskTableData(const TSDBDiskTableData&) = delete;
  TSDBDiskTableData& operator=(const TSDBDiskTableData&) = delete;

  // Enter / leave the database critical section.
  void Lock() { FDatabase.CriticalSection().lock(); }
  void Unlock() { FDatabase.CriticalSection().unlock(); }

  // ---- Table level -------------------------------------------------------------------

  // Creates the table (the cursor supplies the session). Raises 20128 (no
  // fields), 20174 (record too large), 10421 (zero BLOB block size), the
  // BLOB compression mode check and 30395 (name taken).
  void CreateTable(TSDBCursor& Cursor, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                   TSDBIndexDefs IndexDefs);
  // Opens the table for the cursor (the first cursor loads it).
  void OpenTable(TSDBCursor& Cursor);
  void CloseTable(TSDBCursor& Cursor);
  // Removes the table (every page and its catalogue entry). Raises 20017
  // while other cursors have it open.
  void DeleteTable(TSDBCursor& Cursor);
  // Removes every record and BLOB.
  void EmptyTable(TSDBCursor& Cursor);
  void RenameTable(const std::string& NewTableName, TSDBCursor& Cursor);
  // Replaces the table by a new one of these definitions under the same
  // name, filled by Fill from the old one. Cursor must be the table's only
  // cursor; it is closed when the rebuild succeeds. The new table and the
  // old one's removal are one commit: a failure leaves the old table whole.
  void RebuildTable(TSDBCursor& Cursor, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                    TSDBIndexDefs IndexDefs, const TSDBTableFill& Fill);
  void InitCursorLayout(TSDBCursor& Cursor) const;
  int CursorCount() const { return static_cast<int>(FCursorList.size()); }
  bool Active() const { return FActive; }
  // Changes whenever the definitions in memory are built anew (a load, a
  // reload after a schema change, a create), and never repeats in the
  // process: what was worked out from the definitions (a kept query plan)
  // holds while this answers the same.
  uint64_t DefinitionsGeneration() const { return FDefinitionsGeneration; }
  // Repair mode: a damaged record page index or most-updated file is rebuilt on open.
  void SetRepairing(bool v) { FIsRepairing = v; }

  // ---- Records ---------------------------------------------------------------------------

  // A memory record with every field NULL and the defaults applied.
  std::vector<uint8_t> NewRecordBuffer() const;
  // Insert, update and delete the cursor's record (insert and update take
  // EditRecordBuffer). Each answers whether a record changed.
  bool InsertRecord(TSDBCursor& Cursor);
  bool UpdateRecord(TSDBCursor& Cursor);
  // The update of an edit: the record is changed only while it is still
  // stored as Expected (a memory record, as read from the table when its
  // TableState() was ExpectedTableState); otherwise nothing changes, the
  // answer is false and Found tells whether it is gone or was changed.
  // Every change of a record of the table raises the table state, so while
  // it has not moved the record is still as read and is not read again.
  enum class TSDBStoredRecord { Gone, Changed };
  bool UpdateRecord(TSDBCursor& Cursor, const uint8_t* Expected, int32_t ExpectedTableState,
                    TSDBStoredRecord& Found);
  bool DeleteRecord(TSDBCursor& Cursor);
  // Navigation into CurrentRecordBuffer: physical order, or the order of
  // the cursor's index when CurrentIndexID is set (grmCurrent re-reads the
  // current record in either case).
  TSDBGetRecordResult GetRecordBuffer(TSDBCursor& Cursor, TSDBGetRecordMode Mode);
  // 1-based record numbers (in the cursor's index order when it has one).
  void SetRecNo(TSDBCursor& Cursor, int64_t RecNo);
  int64_t GetRecNo(TSDBCursor& Cursor);
  int64_t GetRecordCount(int SessionID);
  int64_t GetMaxPhysicalRecordNo(int SessionID);
  // The identifiers of every record in physical order (the caller holds a
  // lock that keeps writers out).
  std::vector<TSDBPageItemID> GetRecordIDs(int SessionID);
  int64_t RecordIDToPhysicalRecordNo(const TSDBPageItemID& RecordID) const;
  TSDBPageItemID PhysicalRecordNoToRecordID(int64_t No) const;
  // The last auto-increment value generated in the session ("No
  // SequenceLastValue in session ..." (30012) in multi-user mode when the
  // session has generated none; the table's last value otherwise).
  int64_t LastAutoincValue(int SessionID, int FieldNo);

  // ---- Indexes and constraints -------------------------------------------------------------

  // Adds an index and fills it from the records; answers its object
  // identifier. A unique index the records violate is refused (30320 /
  // 30319) and leaves nothing behind; a taken name raises 20044.
  int32_t AddIndex(TSDBCursor& Cursor, const TSDBIndexDef& IndexDef);
  // Removes the index and frees its pages ("Index not found", 20018).
  void DeleteIndex(TSDBCursor& Cursor, const std::string& IndexName);
  // Removes every entry of the index (its root stays).
  void EmptyIndex(TSDBCursor& Cursor, const std::string& IndexName);
  bool IndexExists(const std::string& IndexName) const { return FIndexDefs.IndexOfName(IndexName) >= 0; }
  // Object identifier of the index of that name, -1 when absent.
  int32_t IndexIDByName(const std::string& IndexName) const;
  // An index giving the order (field names with "ASC"/"DESC" and
  // "CASE"/"NO_CASE" per field; empty lists: ascending, case-sensitive),
  // else a new temporary index of the cursor's session. Answers its object
  // identifier.
  int32_t FindOrCreateIndex(TSDBCursor& Cursor, const std::vector<std::string>& FieldNames, bool& IsCreated,
                            const std::vector<std::string>& CaseSensitivity = {},
                            const std::vector<std::string>& AscDesc = {});
  // Rebuilds temporary indexes the table has moved away from.
  bool RebuildTemporaryIndexes(int SessionID);
  void DropTemporaryIndexes(int SessionID);
  // The index objects (navigation, ranges, counts, DISTINCT).
  TSDBBaseIndexManager& IndexManager();
  // The checks run before a record is stored: NOT NULL, CHECK (stored
  // bounds, then the registered evaluator), UNIQUE and PRIMARY KEY
  // constraints and, with CheckUniqueIndexes, every other unique index.
  // Without RaiseException the answer is false at the first violation.
  bool CheckConstraints(int SessionID, const uint8_t* NewRecordBuffer, const uint8_t* OldRecordBuffer, bool ToInsert,
                        bool RaiseException, bool CheckUniqueIndexes);
  bool IsUniqueConstraintFailed(int SessionID, TSDBBTreeRecordIndex& Index, const uint8_t* NewRecordBuffer,
                                const uint8_t* OldRecordBuffer, bool ToInsert);
  // Verifies every index tree (raises at the first fault).
  void CheckIndexes(int SessionID);
  int32_t NewObjectId() { return FDatabase.GetNewObjectId(); }
  bool MultiUser() const { return FDatabase.MultiUser(); }

  // TSDBIndexRecordSource: the stored record as a memory record buffer.
  bool ReadRecordForIndex(int SessionID, const TSDBPageItemID& RecordID, std::vector<uint8_t>& RecordBuffer) override;

  // ---- Field values ------------------------------------------------------------------------

  TSDBVariant GetFieldValue(const std::vector<uint8_t>& Buffer, int FieldNo) const;
  void SetFieldValue(std::vector<uint8_t>& Buffer, int FieldNo, const TSDBVariant& Value) const;
  std::vector<uint8_t> ReadBlobField(TSDBCursor& Cursor, std::vector<uint8_t>& Buffer, int FieldNo);
  std::string ReadBlobFieldText(TSDBCursor& Cursor, std::vector<uint8_t>& Buffer, int FieldNo);
  void WriteBLOBFieldToRecordBuffer(std::vector<uint8_t>& Buffer, int FieldNo, const std::vector<uint8_t>& Value);
  void ClearBLOBFieldInRecordBuffer(std::vector<uint8_t>& Buffer, int FieldNo);
  void ClearBlobsCacheInRecordBuffer(std::vector<uint8_t>& Buffer);
  TSDBPageItemID GetDirectBlobInfo(const std::vector<uint8_t>& Buffer, int FieldNo) const;

  // ---- Commit ------------------------------------------------------------------------------

  // Outside a transaction the session's page changes are committed.
  void ApplyChanges(int SessionID, bool InTransaction);
  void CancelChanges(int SessionID, bool InTransaction);
  // Drops what the table holds for the session (counters reloaded).
  void Rollback(int SessionID);
  // Forgets the session (disconnected: its identifier may be given again).
  void ForgetSession(int SessionID);

  // ---- Locks (multi-user hooks) ------------------------------------------------------------

  // Outside multi-user mode each succeeds at once and IsRecordLocked answers false.
  bool LockTable(int SessionID, TSDBLockType LockType, int TryCount, int Delay, bool AllowXIRWAfterSIRW = true);
  bool UnlockTable(int SessionID, TSDBLockType LockType, bool IgnoreIfNoLock = false);
  bool LockRecord(int SessionID, const TSDBPageItemID& RecordID, int TryCount, int Delay);
  bool UnlockRecord(int SessionID, const TSDBPageItemID& RecordID);
  bool IsRecordLocked(int SessionID, const TSDBPageItemID& RecordID);
  // Reads the counters from the most-updated file.
  void LoadMostUpdated(int SessionID);
  // Multi-user: reads the table state stored in the most-updated file (the
  // counters in memory stay as they are) and records it for the session's
  // current lock period, so that cached pages stamped with that state are
  // trusted without a read each until the lock goes. Called right after a
  // statement took its shared or write lock.
  void LoadStoredTableState(int SessionID);
  void SaveMostUpdated(int SessionID);
  // The table state (raised by every change).
  int32_t TableState() const { return FRecordManager ? FRecordManager->FTableState : 0; }

  // ---- Parts -------------------------------------------------------------------------------

  const std::string& TableName() const { return FTableName; }
  int32_t TableID() const { return FTableID; }
  TSDBBaseFieldManager& FieldManager() { return *FFieldManager; }
  TSDBDiskRecordManager& RecordManager() { return *FRecordManager; }
  TSDBDiskBlobManager* BlobManager() { return FBlobManager.get(); }
  const TSDBIndexDefs& IndexDefs() const { return FIndexDefs; }
  const TSDBConstraintDefs& ConstraintDefs() const { return FConstraintDefs; }
  const TSDBTableListItem& ListItem() const { return FListItem; }
  // The table's locks file (the lock manager's bytes and record slots).
  TSDBInternalDBDirectAccessFile& TableLocksFile() { return FTableLocksFile; }
  // The metadata as stored (round-trip checks and tools).
  TSDBTableMetadata BuildMetadata() const;

 private:
  void CreateManagers(TSDBFieldDefs FieldDefs);
  // Writes a new table (files, indexes, catalogue entry) as the session's
  // pending changes. LocksFilePageNo >= 0: the table replaces the catalogue
  // entry of its name and takes over that locks file; otherwise it gets a
  // locks file of its own and a new entry.
  void WriteNewTable(int SessionID, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                     TSDBIndexDefs IndexDefs, int32_t LocksFilePageNo);
  // Drops what WriteNewTable left pending (and its locks file when it made one).
  void DiscardNewTable(int SessionID, bool OwnLocksFile) noexcept;
  // Frees the pages of the table's records, BLOBs, indexes and internal
  // files (not its locks file or catalogue entry) as pending changes.
  void FreeTablePages(int SessionID);
  // Loads the table, or checks kept data against the catalogue and the
  // stored definitions and reloads only what changed.
  void LoadTable(int SessionID);
  // Reads the counters under a shared table lock (with the record page
  // index walk when asked); a repair rebuilds a damaged index.
  void LoadCounters(int SessionID, bool ValidatePageIndex);
  void SaveMetadata(int SessionID);
  void RepairRecordPageIndex(int SessionID);
  void CloseFiles() noexcept;
  // Writes now the counters deferred to a commit, for every session.
  void SettleDeferredCounters() noexcept;
  // Writes now the counters the session deferred, if any, so that a read
  // of the stored counters sees them.
  void SettleCounters(int SessionID);
  void TakeCounters(TSDBMostUpdatedData& Counters) const;
  void WriteCounters(int SessionID, const TSDBMostUpdatedData& Counters);
  // The counters of this change are written with the session's commit.
  void DeferCounters(int SessionID);
  void CheckActive() const;
  void AfterChange(TSDBCursor& Cursor);
  void SyncTemporaryIndexes(int SessionID);
  void FailedChange(TSDBCursor& Cursor);
  TSDBDiskBlobManager& Blobs();

  TSDBTableDatabaseContext& FDatabase;
  std::string FTableName;
  bool FIsRepairing = false;
  bool FActive = false;
  bool FExclusive = false;
  int32_t FTableID = -1;
  TSDBTableListItem FListItem;
  TSDBInternalDBTransactedAccessFile FTableMetadataFile;
  TSDBInternalDBTransactedAccessFile FTableMostUpdatedFile;
  TSDBInternalDBDirectAccessFile FTableLocksFile;
  std::unique_ptr<TSDBBaseFieldManager> FFieldManager;
  uint64_t FDefinitionsGeneration = 0;
  std::unique_ptr<TSDBDiskRecordManager> FRecordManager;
  std::unique_ptr<TSDBDiskBlobManager> FBlobManager;
  TSDBIndexDefs FIndexDefs;
  TSDBConstraintDefs FConstraintDefs;
  std::unique_ptr<TSDBBaseIndexManager> FIndexManager;
  std::vector<TSDBCursor*> FCursorList;
  int32_t FLastUsedTableState = -1;
  // The metadata file's bytes as stored (TSDBInternalDBTransactedAccessFile::
  // ReadStored) that the definitions in memory were built from; compared
  // as they are, without decompression. Empty when the definitions must be
  // loaded again.
  std::vector<uint8_t> FStoredMetadataAsStored;
  // Some session's counters were handed to its commit (DeferUntilCommit):
  // the work registered for this table must go before the table does.
  bool FCountersDeferred = false;
  // Those counters, by session.
  std::map<int, TSDBMostUpdatedData> FDeferredCounters;
  // UpdateRecord's copy of the record as stored.
  std::vector<uint8_t> FStoredRecord;
  // Last generated auto-increment value per session and field.
  std::map<int, std::map<int, int64_t>> FSessionLastAutoinc;
};

// The table data objects of one database: one per table (names compared
// without regard to case), shared by the table's cursors and kept after the
// last of them leaves, so that the next statement only checks what is
// stored instead of loading the table again. Data that failed to load or
// whose table went is freed.
class TSDBOpenTableList {
 public:
  explicit TSDBOpenTableList(TSDBTableDatabaseContext& Database) : FDatabase(Database) {}
  TSDBDiskTableData* Find(const std::string& TableName);
  TSDBDiskTableData& FindOrCreate(const std::string& TableName);
  // Frees the table data when no cursor has it open and it holds no
  // loaded table, or (Failed) an operation on it failed: what it holds
  // then may not be what is stored.
  void FreeIfNoCursorsConnected(TSDBDiskTableData& Data, bool Failed = false);
  void Clear() { FList.clear(); }
  // Frees kept data of that name that no cursor uses: a table about to be
  // created or renamed to the name is another one.
  void DropKept(const std::string& TableName);

  // The table operations every database runs alike, each under the
  // database's critical section.
  // Creates a table as the engine's own session.
  void CreateTable(const std::string& TableName, TSDBFieldDefs FieldDefs, TSDBConstraintDefs ConstraintDefs,
                   TSDBIndexDefs IndexDefs);
  // Opens the table for the cursor (Repairing: a damaged record page index
  // is rebuilt); a failed open leaves no table data behind that no cursor
  // uses.
  void OpenTable(TSDBCursor& Cursor, const std::string& TableName, bool Repairing = false);
  void CloseTable(TSDBCursor& Cursor);
  // Runs Op on the table's data (made for the call when no cursor has the
  // table open) and frees the data again when no cursor uses it, also when
  // Op fails.
  void WithTableData(const std::string& TableName, const std::function<void(TSDBDiskTableData&)>& Op);
  // Rebuilds the table (TSDBDiskTableData::RebuildTable) with the session
  // holding it exclusively: fails while any other cursor has it open.
  void RebuildTable(int SessionID, const std::string& TableName, TSDBFieldDefs FieldDefs,
                    TSDBConstraintDefs ConstraintDefs, TSDBIndexDefs IndexDefs, const TSDBTableFill& Fill);
  // "Table '%s' does not exist." when the table list does not name it.
  void CheckListed(const std::string& TableName);
  std::vector<std::string> GetTablesList();
  bool TableExists(const std::string& TableName);
  auto begin() { return FList.begin(); }
  auto end() { return FList.end(); }

 private:
  TSDBTableDatabaseContext& FDatabase;
  std::vector<std::unique_ptr<TSDBDiskTableData>> FList;
};

}  // namespace sdb
