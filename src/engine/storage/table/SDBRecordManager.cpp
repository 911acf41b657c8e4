#include "storage/table/SDBRecordManager.h"

#include <algorithm>
#include <cstring>

#include "common/SDBBytes.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "sdb/SDBText.h"

namespace sdb {

// ---- Field manager ----------------------------------------------------------------------

TSDBBaseFieldManager::TSDBBaseFieldManager(TSDBFieldDefs FieldDefs) : FFieldDefs(std::move(FieldDefs)) {
  RecalcFieldOffsets();
  InitLastAutoIncValues();
}

TSDBFieldDef& TSDBBaseFieldManager::Field(int FieldNo) {
  CheckFieldNo(FieldNo);
  return FFieldDefs[FieldNo];
}

void TSDBBaseFieldManager::CheckFieldNo(int FieldNo) const {
  if (FieldNo < 0 || FieldNo >= FieldCount())
    throw ESDBException(kSDBErrInvalidFieldNumber, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {int64_t{FieldNo}, int64_t{FieldCount()}});
}

void TSDBBaseFieldManager::RecalcFieldOffsets() {
  FNullBitmapSize = (FieldCount() + 7) / 8;
  int32_t disk = FNullBitmapSize, mem = FNullBitmapSize;
  for (int i = 0; i < FieldCount(); ++i) {
    TSDBFieldDef& f = FFieldDefs[i];
    f.RecalcDataSizes();
    f.FDiskOffset = disk;
    f.FMemoryOffset = mem;
    f.FFieldNoReference = i;
    disk += f.FDiskDataSize;
    mem += f.FMemoryDataSize;
  }
  FDiskRecordBufferSize = disk;
  FMemoryRecordBufferSize = mem;
}

void TSDBBaseFieldManager::InitLastAutoIncValues() {
  FLastAutoIncValues.assign(static_cast<size_t>(FieldCount()), 0);
  for (int i = 0; i < FieldCount(); ++i)
    if (FFieldDefs[i].IsAutoInc()) FLastAutoIncValues[static_cast<size_t>(i)] = FFieldDefs[i].FAutoincInitialValue;
}

bool TSDBBaseFieldManager::IsNull(const uint8_t* B, int FieldNo) const {
  CheckFieldNo(FieldNo);
  return (B[FieldNo / 8] >> (FieldNo % 8)) & 1;
}

void TSDBBaseFieldManager::SetNull(uint8_t* B, int FieldNo, bool Null) const {
  CheckFieldNo(FieldNo);
  const auto bit = static_cast<uint8_t>(1u << (FieldNo % 8));
  if (Null)
    B[FieldNo / 8] |= bit;
  else
    B[FieldNo / 8] &= static_cast<uint8_t>(~bit);
}

std::vector<uint8_t> TSDBBaseFieldManager::NewMemRecordBuffer() const {
  std::vector<uint8_t> b(static_cast<size_t>(FMemoryRecordBufferSize), 0);
  for (int i = 0; i < FieldCount(); ++i) SetNull(b.data(), i, true);
  // BLOB references start as "no stored value".
  for (int i = 0; i < FieldCount(); ++i)
    if (FFieldDefs[i].IsBlob()) TSDBPageItemID{-1, 0xFFFF}.Save(b.data() + FFieldDefs[i].FMemoryOffset);
  return b;
}

TSDBVariant TSDBBaseFieldManager::GetFieldValue(const uint8_t* Mem, int FieldNo) const {
  CheckFieldNo(FieldNo);
  const TSDBFieldDef& f = FFieldDefs[FieldNo];
  if (f.IsBlob()) throw ESDBException(kSDBErrBlobFieldNotFound, "Cannot find blob field");
  if (IsNull(Mem, FieldNo)) return TSDBVariant(f.FBaseFieldType);
  return SDBReadFieldValue(Mem + f.FMemoryOffset, f.FMemoryDataSize, f.FBaseFieldType);
}

void TSDBBaseFieldManager::SetFieldValue(uint8_t* Mem, int FieldNo, const TSDBVariant& Value) const {
  CheckFieldNo(FieldNo);
  const TSDBFieldDef& f = FFieldDefs[FieldNo];
  if (f.IsBlob()) throw ESDBException(kSDBErrBlobFieldNotFound, "Cannot find blob field");
  if (Value.IsNull()) {
    std::memset(Mem + f.FMemoryOffset, 0, static_cast<size_t>(f.FMemoryDataSize));
    SetNull(Mem, FieldNo, true);
    return;
  }
  // A value of the field's own type is written as it is, without a copy;
  // an integer of another width only needs the range check of its new type.
  if (Value.DataType() == f.FBaseFieldType)
    SDBWriteFieldValue(Mem + f.FMemoryOffset, f.FMemoryDataSize, f.FBaseFieldType, Value);
  else if (SDBIsIntegerType(f.FBaseFieldType) && SDBIsIntegerType(Value.DataType()))
    SDBWriteFieldValue(Mem + f.FMemoryOffset, f.FMemoryDataSize, f.FBaseFieldType,
                       TSDBVariant::FromInt(Value.AsInt64(), f.FBaseFieldType));
  else
    SDBWriteFieldValue(Mem + f.FMemoryOffset, f.FMemoryDataSize, f.FBaseFieldType,
                       SDBColumnValue(Value, f.FBaseFieldType, f.FName));
  SetNull(Mem, FieldNo, false);
}

void TSDBBaseFieldManager::DiskRecordBufferToMemRecordBuffer(const uint8_t* Disk, uint8_t* Mem) const {
  std::memset(Mem, 0, static_cast<size_t>(FMemoryRecordBufferSize));
  std::memcpy(Mem, Disk, static_cast<size_t>(FNullBitmapSize));
  for (int i = 0; i < FieldCount(); ++i) {
    const TSDBFieldDef& f = FFieldDefs[i];
    std::memcpy(Mem + f.FMemoryOffset, Disk + f.FDiskOffset, static_cast<size_t>(f.FDiskDataSize));
  }
}

void TSDBBaseFieldManager::MemRecordBufferToDiskRecordBuffer(const uint8_t* Mem, uint8_t* Disk) const {
  std::memset(Disk, 0, static_cast<size_t>(FDiskRecordBufferSize));
  std::memcpy(Disk, Mem, static_cast<size_t>(FNullBitmapSize));
  for (int i = 0; i < FieldCount(); ++i) {
    const TSDBFieldDef& f = FFieldDefs[i];
    std::memcpy(Disk + f.FDiskOffset, Mem + f.FMemoryOffset, static_cast<size_t>(f.FDiskDataSize));
  }
}

bool TSDBBaseFieldManager::CompareRecordBuffers(const uint8_t* A, const uint8_t* B) const {
  if (std::memcmp(A, B, static_cast<size_t>(FNullBitmapSize)) != 0) return false;
  for (int i = 0; i < FieldCount(); ++i) {
    const TSDBFieldDef& f = FFieldDefs[i];
    if (std::memcmp(A + f.FMemoryOffset, B + f.FMemoryOffset, static_cast<size_t>(f.FDiskDataSize)) != 0) return false;
  }
  return true;
}

bool TSDBBaseFieldManager::BlobFieldsPresent() const {
  bool present = false;
  for (int i = 0; i < FieldCount(); ++i) {
    const TSDBFieldDef& f = FFieldDefs[i];
    if (!f.IsBlob()) continue;
    if (f.FBLOBBlockSize <= 0) throw ESDBException(kSDBErrBlobBlockSizeZero, "BLOB block size should be > 0 for field %s", {f.FName});
    present = true;
  }
  return present;
}

namespace {
TSDBDefaultExpressionEvaluator& DefaultExpressionEvaluator() {
  static TSDBDefaultExpressionEvaluator e;
  return e;
}
}  // namespace

void SDBSetDefaultExpressionEvaluator(TSDBDefaultExpressionEvaluator Evaluator) {
  DefaultExpressionEvaluator() = std::move(Evaluator);
}

void TSDBBaseFieldManager::ApplyDefaultValuesToRecordBuffer(uint8_t* Mem) const {
  for (int i = 0; i < FieldCount(); ++i) {
    const TSDBFieldDef& f = FFieldDefs[i];
    if (f.IsBlob()) continue;
    if (!f.FDefaultValueExpr.empty()) {
      // Evaluated for each record: CURRENT_TIMESTAMP is the time of the insert.
      const auto& eval = DefaultExpressionEvaluator();
      if (!eval) continue;
      const TSDBVariant v = eval(f.FDefaultValueExpr);
      if (!v.IsNull()) SetFieldValue(Mem, i, v.ConvertedTo(f.FBaseFieldType));
      continue;
    }
    if (f.FDefaultValue.IsNull()) continue;
    SetFieldValue(Mem, i, f.FDefaultValue.ConvertedTo(f.FBaseFieldType));
  }
}

int64_t TSDBBaseFieldManager::GetNextAutoinc(int FieldNo) {
  CheckFieldNo(FieldNo);
  const TSDBFieldDef& f = FFieldDefs[FieldNo];
  int64_t inc = f.FAutoincIncrement == 0 ? 1 : f.FAutoincIncrement;
  int64_t next = FLastAutoIncValues[static_cast<size_t>(FieldNo)] + inc;
  if (f.FAutoincMaxValue != 0 && next > f.FAutoincMaxValue) {
    if (!f.FAutoincCycled) throw ESDBException(kSDBErrAutoincOverflow, "Autoinc max value exceeded for field '%s'", {f.FName});
    next = f.FAutoincMinValue;
  }
  FLastAutoIncValues[static_cast<size_t>(FieldNo)] = next;
  return next;
}

int64_t TSDBBaseFieldManager::GetLastAutoinc(int FieldNo) const {
  CheckFieldNo(FieldNo);
  return FLastAutoIncValues[static_cast<size_t>(FieldNo)];
}

void TSDBBaseFieldManager::UpdateLastAutoinc(int FieldNo, int64_t Value) {
  CheckFieldNo(FieldNo);
  FLastAutoIncValues[static_cast<size_t>(FieldNo)] = Value;
}

void TSDBBaseFieldManager::ApplyAutoincsToRecordBuffer(uint8_t* Mem, std::vector<std::pair<int, int64_t>>* Generated) {
  for (int i = 0; i < FieldCount(); ++i) {
    const TSDBFieldDef& f = FFieldDefs[i];
    if (!f.IsAutoInc()) continue;
    if (IsNull(Mem, i)) {
      int64_t v = GetNextAutoinc(i);
      SetFieldValue(Mem, i, TSDBVariant::FromInt(v, f.FBaseFieldType));
      if (Generated) Generated->emplace_back(i, v);
    } else {
      int64_t v = GetFieldValue(Mem, i).AsInt64();
      if (v > GetLastAutoinc(i)) UpdateLastAutoinc(i, v);
    }
  }
}

// ---- Record page ----------------------------------------------------------------------------

int32_t SDBMaxRecordsOnPage(int32_t PageDataSize, int32_t R) {
  // trunc((D - 1) / (R + 1/8)) in integers: (8 (D - 1)) div (8 R + 1).
  if (R <= 0) return 0;
  return static_cast<int32_t>((int64_t{8} * (PageDataSize - 1)) / (int64_t{8} * R + 1));
}

TSDBSmallRecordPage::TSDBSmallRecordPage(TSDBPage* Page, int32_t RecordBufferSize, int32_t MaxRecordsOnPage)
    : LPage(Page),
      FRecordBufferSize(RecordBufferSize),
      FMaxRecordsOnPage(MaxRecordsOnPage),
      FRecordDataOffset((MaxRecordsOnPage + 7) / 8) {}

bool TSDBSmallRecordPage::SlotUsed(int s) const { return (LPage->Data()[s / 8] >> (s % 8)) & 1; }

void TSDBSmallRecordPage::SetSlotUsed(int s, bool used) {
  const auto bit = static_cast<uint8_t>(1u << (s % 8));
  if (used)
    LPage->Data()[s / 8] |= bit;
  else
    LPage->Data()[s / 8] &= static_cast<uint8_t>(~bit);
}

uint8_t* TSDBSmallRecordPage::Slot(int s) const {
  return LPage->Data() + FRecordDataOffset + static_cast<size_t>(s) * static_cast<size_t>(FRecordBufferSize);
}

int TSDBSmallRecordPage::RecordCount() const {
  int n = 0;
  for (int s = 0; s < FMaxRecordsOnPage; ++s) n += SlotUsed(s);
  return n;
}

int TSDBSmallRecordPage::NextUsed(int From) const {
  for (int s = From < 0 ? 0 : From; s < FMaxRecordsOnPage; ++s)
    if (SlotUsed(s)) return s;
  return -1;
}

int TSDBSmallRecordPage::PriorUsed(int From) const {
  for (int s = From >= FMaxRecordsOnPage ? FMaxRecordsOnPage - 1 : From; s >= 0; --s)
    if (SlotUsed(s)) return s;
  return -1;
}

int TSDBSmallRecordPage::FreeSlot() const {
  for (int s = 0; s < FMaxRecordsOnPage; ++s)
    if (!SlotUsed(s)) return s;
  return -1;
}

int TSDBSmallRecordPage::NthUsed(int k) const {
  for (int s = 0; s < FMaxRecordsOnPage; ++s)
    if (SlotUsed(s) && k-- == 0) return s;
  return -1;
}

int TSDBSmallRecordPage::UsedBefore(int Slot) const {
  int n = 0;
  for (int s = 0; s < Slot && s < FMaxRecordsOnPage; ++s) n += SlotUsed(s);
  return n;
}

// ---- Disk record manager ----------------------------------------------------------------

TSDBDiskRecordManager::TSDBDiskRecordManager(TSDBPageManager& PageManager, TSDBBaseFieldManager& FieldManager,
                                             int32_t TableID)
    : LPageManager(PageManager), LFieldManager(FieldManager), FTableID(TableID) {}

void TSDBDiskRecordManager::Init(int32_t RecordBufferSize, int32_t DiskRecordBufferSize, int /*FieldCount*/) {
  FRecordBufferSize = RecordBufferSize;
  FDiskRecordBufferSize = DiskRecordBufferSize;
  FMaxRecordsOnPage = SDBMaxRecordsOnPage(LPageManager.PageDataSize(), DiskRecordBufferSize);
  if (FMaxRecordsOnPage <= 0)
    throw ESDBException(kSDBErrRecordTooLargeForPage,
                        "Cannot create table. Record is too large to fit in current database page. Please increase "
                        "page size of database file or decrease record size");
  FTempDiskRecordBuffer.assign(static_cast<size_t>(DiskRecordBufferSize), 0);
}

void TSDBDiskRecordManager::CreateRecordPageIndex(int SessionID) {
  FRecordPageIndex = SDBCreateRecordPageIndex(LPageManager, FMaxRecordsOnPage);
  FRecordPageIndex->CreateIndex(SessionID);
}

void TSDBDiskRecordManager::OpenRecordPageIndex(int32_t RootPageNo) {
  FRecordPageIndex = SDBCreateRecordPageIndex(LPageManager, FMaxRecordsOnPage);
  FRecordPageIndex->OpenIndex(RootPageNo);
}

void TSDBDiskRecordManager::ValidateRecordPageIndex(int SessionID) {
  if (!FRecordPageIndex) throw ESDBException(kSDBErrNoRecordPageIndex, "Nil pointer occured");
  FRecordPageIndex->Validate(SessionID, FRecordCount);
}

TSDBPageGuard TSDBDiskRecordManager::GetRecordPage(int SessionID, int32_t PageNo, int Code) {
  TSDBPageGuard g = SDBGetPageGuard(LPageManager, SessionID, PageNo, ptTableRecord);
  const uint8_t* h = g->Buffer();
  const int32_t state = SDBGetPageState(h);
  if (state < 0 || state >= 0x7FFFFFFE || GetLEI32(h + TSDBDiskPageHeader::kObjectIDOffset) != FTableID) {
    if (!LPageManager.IgnoreCRCErrors())
      throw ESDBException(Code, "Record not found. PageNo=%d, PageRecordCount=%d", {int64_t{PageNo}, int64_t{-1}});
  }
  return g;
}

bool TSDBDiskRecordManager::AddRecord(int SessionID, const uint8_t* Mem, TSDBPageItemID& RecordID) {
  if (!FRecordPageIndex) throw ESDBException(kSDBErrAddRecordNoPage, "Nil pointer occured");
  LFieldManager.MemRecordBufferToDiskRecordBuffer(Mem, FTempDiskRecordBuffer.data());
  int32_t pageNo = -1;
  TSDBPageGuard g;
  TSDBPageIndexSlot found;
  if (FRecordPageIndex->FindPageForNewRecord(SessionID, pageNo, &found)) {
    g = GetRecordPage(SessionID, pageNo, kSDBErrRecordPageMissing);
  } else {
    g = SDBAddPageGuard(LPageManager, SessionID, ptTableRecord);
    std::memset(g->Data(), 0, g->DataSize());
    PutLEI32(g->Buffer() + TSDBDiskPageHeader::kObjectIDOffset, FTableID);
    pageNo = g->PageNo();
  }
  TSDBSmallRecordPage page = View(g);
  const int slot = page.FreeSlot();
  if (slot < 0) throw ESDBException(kSDBErrRecordPageFull, "Cannot add record to page. Page is full");
  std::memcpy(page.Slot(slot), FTempDiskRecordBuffer.data(), FTempDiskRecordBuffer.size());
  page.SetSlotUsed(slot, true);
  g->MarkDirty();
  g.Release();
  FRecordPageIndex->AddRecord(SessionID, pageNo, 1, &found);
  ++FRecordCount;
  ++FTableState;
  RecordID = {pageNo, static_cast<uint16_t>(slot)};
  return true;
}

void TSDBDiskRecordManager::UpdateRecord(int SessionID, const uint8_t* Mem, const TSDBPageItemID& RecordID) {
  if (RecordID.PageNo < 0 || RecordID.PageItemNo >= FMaxRecordsOnPage) throw ESDBException(kSDBErrUpdateRecordNotFound, "Record not found");
  TSDBPageGuard g = GetRecordPage(SessionID, RecordID.PageNo, kSDBErrRecordPageMissing);
  TSDBSmallRecordPage page = View(g);
  if (!page.SlotUsed(RecordID.PageItemNo)) throw ESDBException(kSDBErrUpdateRecordSlotFree, "Record not found");
  LFieldManager.MemRecordBufferToDiskRecordBuffer(Mem, page.Slot(RecordID.PageItemNo));
  g->MarkDirty();
  ++FTableState;
}

void TSDBDiskRecordManager::DeleteRecord(int SessionID, const TSDBPageItemID& RecordID) {
  if (RecordID.PageNo < 0 || RecordID.PageItemNo >= FMaxRecordsOnPage) throw ESDBException(kSDBErrDeleteRecordNotFound, "Record not found");
  TSDBPageGuard g = GetRecordPage(SessionID, RecordID.PageNo, kSDBErrRecordPageMissing);
  TSDBSmallRecordPage page = View(g);
  if (!page.SlotUsed(RecordID.PageItemNo)) throw ESDBException(kSDBErrDeleteRecordSlotFree, "Record not found");
  page.SetSlotUsed(RecordID.PageItemNo, false);
  std::memset(page.Slot(RecordID.PageItemNo), 0, static_cast<size_t>(FDiskRecordBufferSize));
  g->MarkDirty();
  const int left = page.RecordCount();
  g.Release();
  if (left == 0) {
    LPageManager.RemovePage(SessionID, RecordID.PageNo);
    FRecordPageIndex->DeleteRecord(SessionID, RecordID.PageNo, 0);
  } else {
    FRecordPageIndex->DeleteRecord(SessionID, RecordID.PageNo, left);
  }
  --FRecordCount;
  ++FTableState;
}

bool TSDBDiskRecordManager::ReadRecord(int SessionID, const TSDBPageItemID& RecordID, uint8_t* Mem) {
  if (RecordID.PageNo < 0 || RecordID.PageItemNo >= FMaxRecordsOnPage) return false;
  TSDBPageGuard g = GetRecordPage(SessionID, RecordID.PageNo, kSDBErrRecordPageMissing);
  TSDBSmallRecordPage page = View(g);
  if (!page.SlotUsed(RecordID.PageItemNo)) return false;
  LFieldManager.DiskRecordBufferToMemRecordBuffer(page.Slot(RecordID.PageItemNo), Mem);
  return true;
}

bool TSDBDiskRecordManager::ReadAt(int SessionID, int32_t PageNo, int Slot, TSDBNavigationInfo& Info) {
  TSDBPageGuard g = GetRecordPage(SessionID, PageNo, kSDBErrRecordPageMissing);
  return ReadFrom(g, PageNo, Slot, Info);
}

bool TSDBDiskRecordManager::ReadFrom(TSDBPageGuard& g, int32_t PageNo, int Slot, TSDBNavigationInfo& Info) {
  TSDBSmallRecordPage page = View(g);
  if (Slot < 0 || Slot >= FMaxRecordsOnPage || !page.SlotUsed(Slot)) return false;
  if (Info.RecordBuffer) LFieldManager.DiskRecordBufferToMemRecordBuffer(page.Slot(Slot), Info.RecordBuffer);
  Info.RecordID = {PageNo, static_cast<uint16_t>(Slot)};
  Info.GetRecordResult = grrOK;
  return true;
}

void TSDBDiskRecordManager::GetRecordBuffer(int SessionID, TSDBNavigationInfo& Info) {
  if (!FRecordPageIndex) throw ESDBException(kSDBErrRecordBufferMissing, "Nil pointer occured");
  int32_t pageNo = -1;
  // Walks pages from `p` on (inclusive) in the direction until one holds a
  // record; each page is taken once to find the record and read it.
  auto scanFrom = [&](int32_t p, bool forward) -> bool {
    for (;;) {
      {
        TSDBPageGuard g = GetRecordPage(SessionID, p, kSDBErrRecordPageMissing);
        TSDBSmallRecordPage page = View(g);
        const int s = forward ? page.NextUsed(0) : page.PriorUsed(FMaxRecordsOnPage - 1);
        if (s >= 0) return ReadFrom(g, p, s, Info);
      }
      int32_t next = -1;
      bool more = forward ? FRecordPageIndex->GetNextRecordPage(SessionID, p, next)
                          : FRecordPageIndex->GetPriorRecordPage(SessionID, p, next);
      if (!more) return false;
      p = next;
    }
  };

  if (Info.FirstPosition || Info.LastPosition) {
    const bool forward = Info.FirstPosition ? Info.GetRecordMode != grmPrior : Info.GetRecordMode == grmNext;
    if (Info.FirstPosition && Info.GetRecordMode == grmPrior) {
      Info.GetRecordResult = grrBOF;
      return;
    }
    if (Info.LastPosition && Info.GetRecordMode == grmNext) {
      Info.GetRecordResult = grrEOF;
      return;
    }
    (void)forward;
    const bool fromStart = Info.FirstPosition;
    bool found = FRecordCount > 0 && (fromStart ? FRecordPageIndex->GetFirstRecordPage(SessionID, pageNo)
                                                : FRecordPageIndex->GetLastRecordPage(SessionID, pageNo));
    if (found) found = scanFrom(pageNo, fromStart);
    if (!found) Info.GetRecordResult = fromStart ? grrEOF : grrBOF;
    return;
  }

  const TSDBPageItemID cur = Info.RecordID;
  if (FRecordCount == 0) {
    Info.GetRecordResult = Info.GetRecordMode == grmPrior ? grrBOF : grrEOF;
    return;
  }
  switch (Info.GetRecordMode) {
    case grmCurrent:
      if (cur.PageNo < 0 || !ReadAt(SessionID, cur.PageNo, cur.PageItemNo, Info)) Info.GetRecordResult = grrError;
      return;
    case grmNext:
    case grmPrior: {
      const bool forward = Info.GetRecordMode == grmNext;
      bool readable = true;
      {
        TSDBPageGuard g;
        try {
          g = GetRecordPage(SessionID, cur.PageNo, kSDBErrRecordPageMissing);
        } catch (const ESDBException&) {
          readable = false;
        }
        if (readable) {
          // The neighbour on the same page is read while the page is held.
          const int s = forward ? View(g).NextUsed(cur.PageItemNo + 1)
                                : (cur.PageItemNo == 0 ? -1 : View(g).PriorUsed(cur.PageItemNo - 1));
          if (s >= 0 && ReadFrom(g, cur.PageNo, s, Info)) return;
        }
      }
      int32_t neighbour = -1;
      bool more = false, inIndex = readable;
      if (readable) {
        try {
          more = forward ? FRecordPageIndex->GetNextRecordPage(SessionID, cur.PageNo, neighbour)
                         : FRecordPageIndex->GetPriorRecordPage(SessionID, cur.PageNo, neighbour);
        } catch (const ESDBException&) {
          inIndex = false;
        }
      }
      if (!inIndex) {
        // The current page is gone (another cursor deleted its last record):
        // continue from the nearest page that still exists.
        const std::vector<int32_t> pages = RecordPages(SessionID);
        const auto it = std::lower_bound(pages.begin(), pages.end(), cur.PageNo);
        more = forward ? it != pages.end() : it != pages.begin();
        if (more) neighbour = forward ? *it : *(it - 1);
      }
      if (more && scanFrom(neighbour, forward)) return;
      Info.GetRecordResult = forward ? grrEOF : grrBOF;
      return;
    }
  }
  Info.GetRecordResult = grrError;
}

int TSDBDiskRecordManager::CompareRecordID(const TSDBPageItemID& a, const TSDBPageItemID& b) {
  if (a < b) return -1;
  if (b < a) return 1;
  return 0;
}

TSDBPageItemID TSDBDiskRecordManager::SetRecNo(int SessionID, int64_t RecNo) {
  if (RecNo < 1 || RecNo > FRecordCount) throw ESDBException(kSDBErrRecNoTooLarge, "Cannot set RecNo greater than RecordCount");
  int32_t pageNo = -1, onPage = 0;
  FRecordPageIndex->GetRecordByRecNo(SessionID, pageNo, onPage, RecNo - 1);
  TSDBPageGuard g = GetRecordPage(SessionID, pageNo, kSDBErrRecordPageMissing);
  int s = View(g).NthUsed(onPage);
  if (s < 0) throw ESDBException(kSDBErrSetRecNoNotFound, "Record not found");
  return {pageNo, static_cast<uint16_t>(s)};
}

int64_t TSDBDiskRecordManager::GetRecNo(int SessionID, const TSDBPageItemID& RecordID) {
  int before;
  {
    TSDBPageGuard g = GetRecordPage(SessionID, RecordID.PageNo, kSDBErrRecordPageMissing);
    before = View(g).UsedBefore(RecordID.PageItemNo);
  }
  int64_t recNo = 0;
  FRecordPageIndex->GetRecNoByRecord(SessionID, RecordID.PageNo, recNo, before);
  return recNo + 1;
}

int64_t TSDBDiskRecordManager::GetMaxPhysicalRecordNo(int SessionID) {
  int32_t last = -1;
  if (!FRecordPageIndex->GetLastRecordPage(SessionID, last)) return 0;
  return (int64_t{last} + 1) * FMaxRecordsOnPage;
}

int64_t TSDBDiskRecordManager::RecordIDToPhysicalRecordNo(const TSDBPageItemID& id) const {
  return int64_t{id.PageNo} * FMaxRecordsOnPage + id.PageItemNo;
}

TSDBPageItemID TSDBDiskRecordManager::PhysicalRecordNoToRecordID(int64_t no) const {
  return {static_cast<int32_t>(no / FMaxRecordsOnPage), static_cast<uint16_t>(no % FMaxRecordsOnPage)};
}

std::vector<int32_t> TSDBDiskRecordManager::RecordPages(int SessionID) {
  std::vector<int32_t> pages;
  int32_t p = -1;
  if (!FRecordPageIndex->GetFirstRecordPage(SessionID, p)) return pages;
  do pages.push_back(p);
  while (FRecordPageIndex->GetNextRecordPage(SessionID, pages.back(), p));
  return pages;
}

std::vector<TSDBPageItemID> TSDBDiskRecordManager::RecordIDs(int SessionID) {
  std::vector<TSDBPageItemID> ids;
  ids.reserve(static_cast<size_t>(std::max<int64_t>(FRecordCount, 0)));
  for (int32_t p : RecordPages(SessionID)) {
    TSDBPageGuard g = GetRecordPage(SessionID, p, kSDBErrRecordPageMissing);
    const TSDBSmallRecordPage page = View(g);
    for (int slot = page.NextUsed(0); slot >= 0; slot = page.NextUsed(slot + 1))
      ids.push_back({p, static_cast<uint16_t>(slot)});
  }
  return ids;
}

void TSDBDiskRecordManager::Empty(int SessionID) {
  for (int32_t p : RecordPages(SessionID)) LPageManager.RemovePage(SessionID, p);
  FRecordPageIndex->EmptyIndex(SessionID);
  FRecordCount = 0;
  ++FTableState;
}

void TSDBDiskRecordManager::Delete(int SessionID) {
  for (int32_t p : RecordPages(SessionID)) LPageManager.RemovePage(SessionID, p);
  FRecordPageIndex->DropIndex(SessionID);
  FRecordCount = 0;
}

void TSDBDiskRecordManager::RebuildRecordPageIndex(int SessionID, int32_t PageCount,
                                                   const std::function<bool(int32_t)>& PageInUse,
                                                   const std::function<bool(int32_t, uint8_t*)>& ReadHeader,
                                                   const std::string& TableName) {
  if (FDiskRecordBufferSize + 1 >= LPageManager.PageDataSize())
    throw ESDBException(kSDBErrRepairLargePageIndex, "Cannot repair page index for large table. Table name: \"" + TableName + "\"");
  // The old index may be what is damaged: its pages are given back when they
  // can still be walked, otherwise left alone; a new index is built.
  if (FRecordPageIndex) {
    try {
      FRecordPageIndex->DropIndex(SessionID);
    } catch (const ESDBException&) {
    }
  }
  FRecordPageIndex = SDBCreateRecordPageIndex(LPageManager, FMaxRecordsOnPage);
  FRecordPageIndex->CreateIndex(SessionID);
  int64_t count = 0;
  uint8_t header[kSDBPageHeaderSize];
  for (int32_t p = 0; p < PageCount; ++p) {
    if (!PageInUse(p) || !ReadHeader(p, header)) continue;
    TSDBDiskPageHeader h;
    h.Load(header);
    if (!h.HasValidSignature() || h.PageType != ptTableRecord || h.ObjectID != FTableID || h.State < 0 ||
        h.State >= 0x7FFFFFFE)
      continue;
    int n;
    {
      TSDBPageGuard g = SDBGetPageGuard(LPageManager, SessionID, p, ptTableRecord);
      n = View(g).RecordCount();
    }
    if (n == 0) continue;
    FRecordPageIndex->AddRecord(SessionID, p, n);
    count += n;
  }
  FRecordCount = count;
  ++FTableState;
}

}  // namespace sdb
