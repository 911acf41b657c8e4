// Records of a table: the field manager (record buffer layout, conversion
// between the disk and memory forms, defaults and auto-increment values)
// and the disk record manager (record pages, record identifiers, physical
// navigation and record numbers).
//
// Record page (page type 10, ObjectID = the table's identifier): an
// occupancy bitmap of ceil(M / 8) bytes (bit i set = slot i holds a record)
// followed by M slots of the disk record size R, with
// M = trunc((PageDataSize - 1) / (R + 0.125)).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "storage/table/SDBFieldDef.h"
#include "storage/table/SDBMetadata.h"
#include "storage/file/SDBPageCache.h"
#include "storage/table/SDBRecordPageIndex.h"

namespace sdb {

enum TSDBGetRecordMode : uint8_t { grmCurrent, grmNext, grmPrior };
enum TSDBGetRecordResult : uint8_t { grrOK, grrBOF, grrEOF, grrError };

struct TSDBNavigationInfo {
  TSDBGetRecordMode GetRecordMode = grmCurrent;
  int IndexID = -1;
  TSDBPageItemID RecordID;
  uint8_t* RecordBuffer = nullptr;  // memory layout; filled when a record is found
  bool FirstPosition = false;
  bool LastPosition = false;
  TSDBGetRecordResult GetRecordResult = grrError;
};

// Evaluates the text of a field's default expression (CURRENT_TIMESTAMP,
// arithmetic...) when a record buffer receives its defaults. The statement
// layer installs it; without it such a field gets no default.
using TSDBDefaultExpressionEvaluator = std::function<TSDBVariant(const std::string& ExpressionText)>;
void SDBSetDefaultExpressionEvaluator(TSDBDefaultExpressionEvaluator Evaluator);

class TSDBBaseFieldManager {
 public:
  explicit TSDBBaseFieldManager(TSDBFieldDefs FieldDefs);

  TSDBFieldDefs FFieldDefs;
  std::vector<int64_t> FLastAutoIncValues;

  int FieldCount() const { return FFieldDefs.Count(); }
  TSDBFieldDef& Field(int FieldNo);
  // Field number by name (case-insensitive), -1 when absent.
  int FieldNo(const std::string& Name) const { return FFieldDefs.IndexOfName(Name); }
  int32_t NullBitmapSize() const { return FNullBitmapSize; }
  int32_t DiskRecordBufferSize() const { return FDiskRecordBufferSize; }
  int32_t MemoryRecordBufferSize() const { return FMemoryRecordBufferSize; }

  void RecalcFieldOffsets();
  void InitLastAutoIncValues();
  // Raises "Invalid field number - FieldNo = %d, FieldCount = %d" (10000).
  void CheckFieldNo(int FieldNo) const;

  // Null bits (same bitmap in both layouts).
  bool IsNull(const uint8_t* Buffer, int FieldNo) const;
  void SetNull(uint8_t* Buffer, int FieldNo, bool Null) const;
  // A memory record with every field NULL.
  std::vector<uint8_t> NewMemRecordBuffer() const;
  // Value of a non-BLOB field of a memory record (a null variant of the
  // field's type when NULL).
  TSDBVariant GetFieldValue(const uint8_t* MemBuffer, int FieldNo) const;
  // Stores a non-BLOB value (a null value sets the null bit).
  void SetFieldValue(uint8_t* MemBuffer, int FieldNo, const TSDBVariant& Value) const;

  void DiskRecordBufferToMemRecordBuffer(const uint8_t* Disk, uint8_t* Mem) const;
  void MemRecordBufferToDiskRecordBuffer(const uint8_t* Mem, uint8_t* Disk) const;
  // Bitmap and every field compared byte-wise over its disk size (memory
  // layout); true when equal.
  bool CompareRecordBuffers(const uint8_t* Mem1, const uint8_t* Mem2) const;
  // Raises "BLOB block size should be > 0 for field %s" (10421).
  bool BlobFieldsPresent() const;
  void ApplyDefaultValuesToRecordBuffer(uint8_t* Mem) const;
  // NULL auto-increment fields get their next value, explicit larger values
  // raise the last value. Generated values are reported per field.
  void ApplyAutoincsToRecordBuffer(uint8_t* Mem, std::vector<std::pair<int, int64_t>>* Generated = nullptr);
  // Raises "Autoinc max value exceeded for field '%s'" (20160).
  int64_t GetNextAutoinc(int FieldNo);
  int64_t GetLastAutoinc(int FieldNo) const;
  void UpdateLastAutoinc(int FieldNo, int64_t Value);

 private:
  int32_t FNullBitmapSize = 0;
  int32_t FDiskRecordBufferSize = 0;
  int32_t FMemoryRecordBufferSize = 0;
};

// A view of a record page.
class TSDBSmallRecordPage {
 public:
  TSDBSmallRecordPage(TSDBPage* Page, int32_t RecordBufferSize, int32_t MaxRecordsOnPage);
  bool SlotUsed(int Slot) const;
  void SetSlotUsed(int Slot, bool Used);
  uint8_t* Slot(int Slot) const;
  int RecordCount() const;
  // First used slot at or after From (-1 when none); last used slot at or before From.
  int NextUsed(int From) const;
  int PriorUsed(int From) const;
  int FreeSlot() const;
  // The slot of the k-th (0-based) record, -1 when the page has fewer.
  int NthUsed(int k) const;
  // Records on the page before Slot.
  int UsedBefore(int Slot) const;

 private:
  TSDBPage* LPage;
  int32_t FRecordBufferSize;
  int32_t FMaxRecordsOnPage;
  int32_t FRecordDataOffset;
};

// MaxRecordsOnPage for a disk record of R bytes (0 when it cannot fit).
int32_t SDBMaxRecordsOnPage(int32_t PageDataSize, int32_t RecordSize);

class TSDBDiskRecordManager {
 public:
  TSDBDiskRecordManager(TSDBPageManager& PageManager, TSDBBaseFieldManager& FieldManager, int32_t TableID);

  // Raises "Cannot create table. Record is too large ..." (20174).
  void Init(int32_t RecordBufferSize, int32_t DiskRecordBufferSize, int FieldCount);
  int32_t MaxRecordsOnPage() const { return FMaxRecordsOnPage; }

  void CreateRecordPageIndex(int SessionID);
  void OpenRecordPageIndex(int32_t RootPageNo);
  int32_t RecordPageIndexRoot() const { return FRecordPageIndex ? FRecordPageIndex->RootPageNo() : -1; }
  // Validates the index against FRecordCount (20292 on a mismatch).
  void ValidateRecordPageIndex(int SessionID);
  // Builds a new index from every record page of the table found in the
  // file and recounts the records. PageCount and the PFS test come from the
  // caller (the file-level view). Raises 10512 when a record fills a page.
  void RebuildRecordPageIndex(int SessionID, int32_t PageCount, const std::function<bool(int32_t)>& PageInUse,
                              const std::function<bool(int32_t, uint8_t*)>& ReadHeader, const std::string& TableName);

  // Adds the memory record; false when no record was added.
  bool AddRecord(int SessionID, const uint8_t* MemBuffer, TSDBPageItemID& RecordID);
  // The disk record the last AddRecord stored, byte for byte.
  const uint8_t* LastAddedDiskRecord() const noexcept { return FTempDiskRecordBuffer.data(); }
  // Raises "Record not found" when the slot is empty.
  void UpdateRecord(int SessionID, const uint8_t* MemBuffer, const TSDBPageItemID& RecordID);
  void DeleteRecord(int SessionID, const TSDBPageItemID& RecordID);
  // Reads a record into a memory buffer; false when the slot is empty.
  bool ReadRecord(int SessionID, const TSDBPageItemID& RecordID, uint8_t* MemBuffer);
  void GetRecordBuffer(int SessionID, TSDBNavigationInfo& Info);
  static int CompareRecordID(const TSDBPageItemID& a, const TSDBPageItemID& b);

  // 1-based record numbers in physical order.
  TSDBPageItemID SetRecNo(int SessionID, int64_t RecNo);
  int64_t GetRecNo(int SessionID, const TSDBPageItemID& RecordID);
  int64_t GetApproximateRecNo() const { return FRecordCount / 2; }
  int64_t GetMaxPhysicalRecordNo(int SessionID);
  int64_t RecordIDToPhysicalRecordNo(const TSDBPageItemID& id) const;
  TSDBPageItemID PhysicalRecordNoToRecordID(int64_t no) const;

  // Every record page in physical order.
  std::vector<int32_t> RecordPages(int SessionID);
  // The identifiers of every record, in physical order, without reading
  // the records.
  std::vector<TSDBPageItemID> RecordIDs(int SessionID);
  // Removes every record page and empties the index.
  void Empty(int SessionID);
  // Removes every record page and the index.
  void Delete(int SessionID);

  int64_t FRecordCount = 0;
  int32_t FTableState = 0;

 private:
  TSDBPageGuard GetRecordPage(int SessionID, int32_t PageNo, int Code);
  TSDBSmallRecordPage View(TSDBPageGuard& g) const { return TSDBSmallRecordPage(g.Get(), FDiskRecordBufferSize, FMaxRecordsOnPage); }
  bool ReadAt(int SessionID, int32_t PageNo, int Slot, TSDBNavigationInfo& Info);
  // ReadAt on the page already held by g.
  bool ReadFrom(TSDBPageGuard& g, int32_t PageNo, int Slot, TSDBNavigationInfo& Info);

  TSDBPageManager& LPageManager;
  TSDBBaseFieldManager& LFieldManager;
  int32_t FTableID;
  std::unique_ptr<TSDBRecordPageIndexBase> FRecordPageIndex;
  int32_t FMaxRecordsOnPage = 0;
  int32_t FRecordBufferSize = 0;
  int32_t FDiskRecordBufferSize = 0;
  std::vector<uint8_t> FTempDiskRecordBuffer;
};

}  // namespace sdb
