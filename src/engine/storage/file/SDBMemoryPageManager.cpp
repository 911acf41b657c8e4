#include "storage/file/SDBMemoryPageManager.h"

#include <cstring>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"

namespace sdb {

TSDBMemoryPageManager::TSDBMemoryPageManager(uint16_t PageSize, int CacheCapacity)
    : TSDBPageManager(PageSize, CacheCapacity < 1 ? 1 : CacheCapacity) {
  // The smallest page a database file may have.
  if (PageSize < 128) throw ESDBException(kSDBErrInvalidDatabaseFormat, "Invalid database format");
  // Page 0 is reserved.
  FPages.resize(1);
  FAllocated.assign(1, true);
}

TSDBMemoryPageManager::~TSDBMemoryPageManager() = default;

int32_t TSDBMemoryPageManager::GetPageCount() { return static_cast<int32_t>(FPages.size()); }

bool TSDBMemoryPageManager::PageInUse(int32_t PageNo) const {
  return PageNo > 0 && static_cast<size_t>(PageNo) < FAllocated.size() && FAllocated[static_cast<size_t>(PageNo)];
}

const uint8_t* TSDBMemoryPageManager::StoredPage(int32_t PageNo) const {
  if (!PageInUse(PageNo)) return nullptr;
  return FPages[static_cast<size_t>(PageNo)].get();
}

uint8_t* TSDBMemoryPageManager::StoredPage(int32_t PageNo) {
  if (!PageInUse(PageNo)) return nullptr;
  return FPages[static_cast<size_t>(PageNo)].get();
}

int32_t TSDBMemoryPageManager::InternalAddPage() {
  int32_t pageNo;
  if (!FFreePageNumbers.empty()) {
    pageNo = *FFreePageNumbers.begin();
    FFreePageNumbers.erase(FFreePageNumbers.begin());
  } else {
    if (FPages.size() >= static_cast<size_t>(kSDBMaxInt - 1)) throw ESDBException(kSDBErrInvalidCachePageNumber, "Invalid page number");
    pageNo = static_cast<int32_t>(FPages.size());
    FPages.emplace_back();
    FAllocated.push_back(false);
  }
  FAllocated[static_cast<size_t>(pageNo)] = true;
  ++FUsedPageCount;
  return pageNo;
}

void TSDBMemoryPageManager::InternalRemovePage(int32_t PageNo) {
  if (!PageInUse(PageNo)) return;  // freeing twice is harmless here
  const auto i = static_cast<size_t>(PageNo);
  FPages[i].reset();
  FAllocated[i] = false;
  --FUsedPageCount;
  // Trailing free pages shrink the store instead of waiting for reuse.
  if (i + 1 == FPages.size()) {
    FPages.pop_back();
    FAllocated.pop_back();
    while (FPages.size() > 1 && !FAllocated.back()) {
      FFreePageNumbers.erase(static_cast<int32_t>(FPages.size() - 1));
      FPages.pop_back();
      FAllocated.pop_back();
    }
  } else {
    FFreePageNumbers.insert(PageNo);
  }
}

bool TSDBMemoryPageManager::InternalReadPage(TSDBPage& Page) {
  const uint8_t* stored = StoredPage(Page.PageNo());
  if (!stored) {
    SDBSetPageState(Page.Buffer(), kSDBMaxInt);
    return false;
  }
  std::memcpy(Page.Buffer(), stored, Page.Size());
  return true;
}

void TSDBMemoryPageManager::InternalWritePage(TSDBPage& Page) {
  const int32_t pageNo = Page.PageNo();
  if (!PageInUse(pageNo)) throw ESDBException(kSDBErrInvalidPage, "Invalid page");
  auto& slot = FPages[static_cast<size_t>(pageNo)];
  if (!slot) slot = std::make_unique<uint8_t[]>(PageSize());
  SDBSetPageState(Page.Buffer(), SDBNextPageState(Page.State()));
  std::memcpy(slot.get(), Page.Buffer(), Page.Size());
}

void TSDBMemoryPageManager::Clear() {
  auto check = [](const TSDBPage* p) {
    if (p->UseCount() > 0) throw ESDBException(kSDBErrSessionPagesNotReleased, "Some session pages not released");
  };
  FSharedPages.ForEach(check);
  for (const auto& s : FSessions) s->DirtyPages.ForEach(check);
  ClearSessionsAndPages();
  FPages.clear();
  FPages.resize(1);
  FAllocated.assign(1, true);
  FFreePageNumbers.clear();
  FUsedPageCount = 0;
}

}  // namespace sdb
