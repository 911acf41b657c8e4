#include "storage/SDBRecordPageIndex.h"

#include <algorithm>

#include "common/SDBBytes.h"
#include "common/SDBException.h"

namespace sdb {

TSDBListPageIndex::TSDBListPageIndex(TSDBPageManager& PageManager)
    : LPageManager(PageManager), FFile(PageManager, ptTableIndex) {}

void TSDBListPageIndex::CreateIndex(int SessionID) {
  FFile.CloseFile();
  FFile.CreateFile(SessionID);
  FFile.WriteFile(SessionID, nullptr, 0);
}

void TSDBListPageIndex::OpenIndex(int32_t RootPageNo) {
  if (RootPageNo < 0) throw ESDBException(20115, "Index error: invalid page number");
  FFile.OpenFile(RootPageNo);
}

void TSDBListPageIndex::EmptyIndex(int SessionID) { Save(SessionID, {}); }

void TSDBListPageIndex::DropIndex(int SessionID) {
  if (!FFile.IsOpen()) return;
  FFile.DeleteFile(SessionID, FFile.StartPageNo());
  FFile.CloseFile();
}

TSDBListPageIndex::TEntries TSDBListPageIndex::Load(int SessionID) {
  if (!FFile.IsOpen()) throw ESDBException(20116, "Index error: invalid page number");
  std::vector<uint8_t> raw = FFile.ReadAll(SessionID);
  TEntries e;
  e.reserve(raw.size() / 6);
  for (size_t p = 0; p + 6 <= raw.size(); p += 6) e.emplace_back(GetLEI32(raw.data() + p), GetLE16(raw.data() + p + 4));
  return e;
}

void TSDBListPageIndex::Save(int SessionID, const TEntries& Entries) {
  std::vector<uint8_t> raw(Entries.size() * 6);
  for (size_t i = 0; i < Entries.size(); ++i) {
    PutLEI32(raw.data() + 6 * i, Entries[i].first);
    PutLE16(raw.data() + 6 * i + 4, Entries[i].second);
  }
  FFile.WriteFile(SessionID, raw.data(), static_cast<int32_t>(raw.size()));
}

int TSDBListPageIndex::Find(const TEntries& e, int32_t PageNo) {
  auto it = std::lower_bound(e.begin(), e.end(), PageNo,
                             [](const std::pair<int32_t, uint16_t>& a, int32_t p) { return a.first < p; });
  return it != e.end() && it->first == PageNo ? static_cast<int>(it - e.begin()) : -1;
}

bool TSDBListPageIndex::FindPageWithRoom(int SessionID, int32_t Amount, int32_t& PageNo) {
  TEntries e = Load(SessionID);
  // The last pages first (where the table grows), then the first ones.
  for (size_t k = 0; k < e.size(); ++k) {
    const auto& it = e[e.size() - 1 - k];
    if (CanAdd(it.second, Amount)) {
      PageNo = it.first;
      return true;
    }
  }
  return false;
}

void TSDBListPageIndex::AddAmount(int SessionID, int32_t PageNo, int32_t Amount) {
  TEntries e = Load(SessionID);
  int i = Find(e, PageNo);
  if (i < 0) {
    auto it = std::lower_bound(e.begin(), e.end(), PageNo,
                               [](const std::pair<int32_t, uint16_t>& a, int32_t p) { return a.first < p; });
    e.insert(it, {PageNo, static_cast<uint16_t>(Amount)});
  } else {
    auto& v = e[static_cast<size_t>(i)].second;
    if (!CanAdd(v, Amount)) throw ESDBException(20106, "Cannot add data item to page. Page is full");
    v = static_cast<uint16_t>(v + Amount);
  }
  Save(SessionID, e);
}

void TSDBListPageIndex::RemoveAmount(int SessionID, int32_t PageNo, int32_t Amount, int32_t NewValue) {
  TEntries e = Load(SessionID);
  int i = Find(e, PageNo);
  if (i < 0) throw ESDBException(20104, "Invalid page number");
  auto& v = e[static_cast<size_t>(i)].second;
  if (NewValue < 0) {
    if (v == 0 || v < Amount) throw ESDBException(20112, "Index error: page is empty");
    NewValue = v - Amount;
  }
  if (NewValue == 0)
    e.erase(e.begin() + i);
  else
    v = static_cast<uint16_t>(NewValue);
  Save(SessionID, e);
}

// ---- Record page index --------------------------------------------------------------

bool TSDBListRecordPageIndex::FindPageForNewRecord(int SessionID, int32_t& PageNo) {
  return FindPageWithRoom(SessionID, 1, PageNo);
}

void TSDBListRecordPageIndex::AddRecord(int SessionID, int32_t PageNo, int AddCount) {
  AddAmount(SessionID, PageNo, AddCount);
}

void TSDBListRecordPageIndex::DeleteRecord(int SessionID, int32_t PageNo, int NewItemCount) {
  RemoveAmount(SessionID, PageNo, 1, NewItemCount);
}

bool TSDBListRecordPageIndex::GetFirstRecordPage(int SessionID, int32_t& PageNo) {
  TEntries e = Load(SessionID);
  if (e.empty()) return false;
  PageNo = e.front().first;
  return true;
}

bool TSDBListRecordPageIndex::GetLastRecordPage(int SessionID, int32_t& PageNo) {
  TEntries e = Load(SessionID);
  if (e.empty()) return false;
  PageNo = e.back().first;
  return true;
}

bool TSDBListRecordPageIndex::GetNextRecordPage(int SessionID, int32_t CurrentPageNo, int32_t& PageNo) {
  TEntries e = Load(SessionID);
  int i = Find(e, CurrentPageNo);
  if (i < 0) throw ESDBException(20110, "Invalid page number");
  if (static_cast<size_t>(i) + 1 >= e.size()) return false;
  PageNo = e[static_cast<size_t>(i) + 1].first;
  return true;
}

bool TSDBListRecordPageIndex::GetPriorRecordPage(int SessionID, int32_t CurrentPageNo, int32_t& PageNo) {
  TEntries e = Load(SessionID);
  int i = Find(e, CurrentPageNo);
  if (i < 0) throw ESDBException(20111, "Invalid page number");
  if (i == 0) return false;
  PageNo = e[static_cast<size_t>(i) - 1].first;
  return true;
}

void TSDBListRecordPageIndex::GetRecordByRecNo(int SessionID, int32_t& PageNo, int32_t& RecNoOnPage, int64_t RecNo) {
  TEntries e = Load(SessionID);
  int64_t before = 0;
  for (const auto& it : e) {
    if (RecNo >= 0 && RecNo < before + it.second) {
      PageNo = it.first;
      RecNoOnPage = static_cast<int32_t>(RecNo - before);
      return;
    }
    before += it.second;
  }
  throw ESDBException(20113, "Cannot set RecNo greater than RecordCount");
}

void TSDBListRecordPageIndex::GetRecNoByRecord(int SessionID, int32_t PageNo, int64_t& RecNo, int32_t RecNoOnPage) {
  TEntries e = Load(SessionID);
  int64_t before = 0;
  for (const auto& it : e) {
    if (it.first == PageNo) {
      RecNo = before + RecNoOnPage;
      return;
    }
    before += it.second;
  }
  throw ESDBException(20114, "Invalid page number");
}

void TSDBListRecordPageIndex::Validate(int SessionID, int64_t StoredRecordCount) {
  TEntries e = Load(SessionID);
  int64_t sum = 0;
  for (const auto& it : e) sum += it.second;
  if (sum != StoredRecordCount)
    throw ESDBException(20292,
                        "Invalid table RecordPageIndex or MostUpdated. RecordPageIndex.RecordCount=%d, "
                        "MostUpdated.RecordCount=%d",
                        {sum, StoredRecordCount});
}

int32_t TSDBListBlobPageIndex::GetBlobPageAllocatedSpace(int SessionID, int32_t PageNo) {
  TEntries e = Load(SessionID);
  int i = Find(e, PageNo);
  return i < 0 ? 0 : e[static_cast<size_t>(i)].second;
}

}  // namespace sdb
