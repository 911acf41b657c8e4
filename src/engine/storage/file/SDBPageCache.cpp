#include "storage/file/SDBPageCache.h"

#include <algorithm>
#include <random>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "platform/SDBPlatform.h"

namespace sdb {

namespace {

int32_t RandomPageState() {
  static thread_local std::mt19937 gen{std::random_device{}()};
  return static_cast<int32_t>(gen() % 0x3FFFFFFFu);
}

void CheckSession(int sessionID) {
  if (sessionID == kSDBInvalidSessionID) throw ESDBException(kSDBErrInvalidSessionID, "Invalid Session ID");
}

}  // namespace

TSDBPage::TSDBPage(TSDBPageManager* pageManager, int32_t pageNo, size_t pageSize)
    : LPageManager(pageManager), FPageNo(pageNo), FPageBuffer(pageSize, 0) {}

// ---------------------------------------------------------------------------

int TSDBSortedPageList::Find(int32_t pageNo) const {
  auto it = std::lower_bound(FItems.begin(), FItems.end(), pageNo,
                             [](const TSDBPageElement& e, int32_t n) { return e.Page->PageNo() < n; });
  if (it != FItems.end() && it->Page->PageNo() == pageNo) return static_cast<int>(it - FItems.begin());
  return -1;
}

TSDBPage* TSDBSortedPageList::Get(int32_t pageNo) const {
  int i = Find(pageNo);
  return i < 0 ? nullptr : FItems[static_cast<size_t>(i)].Page.get();
}

TSDBPage* TSDBSortedPageList::Insert(std::unique_ptr<TSDBPage> page) {
  auto it = std::lower_bound(FItems.begin(), FItems.end(), page->PageNo(),
                             [](const TSDBPageElement& e, int32_t n) { return e.Page->PageNo() < n; });
  TSDBPage* raw = page.get();
  raw->FParentList = this;
  FItems.insert(it, TSDBPageElement{std::move(page), ++LRUCount});
  return raw;
}

std::unique_ptr<TSDBPage> TSDBSortedPageList::Extract(int32_t pageNo) {
  if (FItems.empty()) throw ESDBException(kSDBErrSortedPageListEmpty, "TSortedPageList.Delete - no elements in array!");
  int i = Find(pageNo);
  if (i < 0)
    throw ESDBException(kSDBErrSortedPageListMissing, "TSortedPageList.Delete - element not found, key = %d, itemCount = %d",
                        {int64_t{pageNo}, int64_t{Count()}});
  std::unique_ptr<TSDBPage> page = std::move(FItems[static_cast<size_t>(i)].Page);
  FItems.erase(FItems.begin() + i);
  page->FParentList = nullptr;
  return page;
}

void TSDBSortedPageList::Touch(int index) { FItems[static_cast<size_t>(index)].LRUCount = ++LRUCount; }

int TSDBSortedPageList::FindLRU() const {
  int best = -1;
  for (int i = 0; i < Count(); ++i) {
    const auto& e = FItems[static_cast<size_t>(i)];
    if (e.Page->UseCount() > 0) continue;  // a page in use cannot go
    if (best < 0 || e.LRUCount < FItems[static_cast<size_t>(best)].LRUCount) best = i;
  }
  return best;
}

// ---------------------------------------------------------------------------

TSDBPageManager::TSDBPageManager(uint16_t pageSize, int cacheCapacity) : FPageSize(pageSize) {
  if (cacheCapacity <= 0) {
    uint64_t byMemory = SDBAvailablePhysicalMemory() / 65536;
    cacheCapacity = static_cast<int>(std::min<uint64_t>(byMemory, 1000));
  }
  FCacheCapacity = std::max(cacheCapacity, 1);
}

TSDBPageManager::~TSDBPageManager() = default;

TSDBSessionPageInfo& TSDBPageManager::Session(int SessionID) {
  for (auto& s : FSessions)
    if (s->SessionID == SessionID) return *s;
  FSessions.push_back(std::make_unique<TSDBSessionPageInfo>());
  FSessions.back()->SessionID = SessionID;
  return *FSessions.back();
}

const TSDBSessionPageInfo* TSDBPageManager::FindSession(int SessionID) const {
  for (const auto& s : FSessions)
    if (s->SessionID == SessionID) return s.get();
  return nullptr;
}

bool TSDBPageManager::IsPageTableStateCurrent(int, TSDBPage&) { return false; }
void TSDBPageManager::StampPageTableState(int, TSDBPage&) {}
int32_t TSDBPageManager::InternalReadPageState(int32_t) { return kSDBMaxInt; }
bool TSDBPageManager::IsSystemPage(int32_t) const { return false; }
bool TSDBPageManager::LockPageByte(int32_t, int32_t) { return true; }
bool TSDBPageManager::UnlockPageByte(int32_t, int32_t) { return true; }

void TSDBPageManager::ReadIntoCache(TSDBPage& page, uint16_t pageType, int sessionID) {
  if (!InternalReadPage(page))
    throw ESDBException(kSDBErrReadDatabasePage, "Error reading database file page. Page No: %d, type %d",
                        {int64_t{page.PageNo()}, int64_t{pageType}});
  page.FStale = false;
  uint16_t found = page.PageType();
  if (FIgnoreCRCErrors || pageType == kSDBAnyPageType || found == pageType) {
    StampPageTableState(sessionID, page);
    return;
  }
  throw ESDBException(kSDBErrUnexpectedPageType, "Invalid page type. Possible data corruption. Expecting type %d, but found %d",
                      {int64_t{pageType}, int64_t{found}});
}

TSDBPage* TSDBPageManager::GetPage(int SessionID, int32_t PageNo, uint16_t PageType, bool SynchronizeAllowed) {
  CheckSession(SessionID);
  if (PageNo < 0) throw ESDBException(kSDBErrInvalidCachePageNumber, "Invalid page number");
  if (IsSystemPage(PageNo)) throw ESDBException(kSDBErrDeleteSystemPage, "Cannot delete PFS or EAM page. PageNo=%d", {int64_t{PageNo}});
  TSDBSessionPageInfo& s = Session(SessionID);
  TSDBPage* page = s.DirtyPages.Get(PageNo);
  if (!page) {
    int idx = FSharedPages.Find(PageNo);
    if (idx < 0) {
      page = FSharedPages.Insert(std::make_unique<TSDBPage>(this, PageNo, FPageSize));
      try {
        ReadIntoCache(*page, PageType, SessionID);
      } catch (...) {
        // Never keep a page whose content could not be read or is of the
        // wrong kind: the next request reads it again.
        FSharedPages.Delete(PageNo);
        throw;
      }
    } else {
      page = FSharedPages.At(idx);
      if (page->FStale && page->FUseCount == 0) {
        try {
          ReadIntoCache(*page, PageType, SessionID);
        } catch (...) {
          FSharedPages.Delete(PageNo);
          throw;
        }
      } else if (SynchronizeAllowed && !IsPageTableStateCurrent(SessionID, *page)) {
        int32_t onDisk = InternalReadPageState(PageNo);
        if (onDisk != kSDBMaxInt && onDisk != page->State() && page->FUseCount == 0)
          ReadIntoCache(*page, PageType, SessionID);
        StampPageTableState(SessionID, *page);
      }
    }
  }
  // A cached page is held to the same type rule as one read from disk.
  if (!FIgnoreCRCErrors && PageType != kSDBAnyPageType && page->PageType() != PageType)
    throw ESDBException(kSDBErrUnexpectedPageType, "Invalid page type. Possible data corruption. Expecting type %d, but found %d",
                        {int64_t{PageType}, int64_t{page->PageType()}});
  if (page->FUseCount > 0 && page->FSessionID != SessionID)
    throw ESDBException(kSDBErrPageUsedByOtherSession, "Page is used by other session");
  page->FSessionID = SessionID;
  ++page->FUseCount;
  return page;
}

TSDBPage* TSDBPageManager::AddPage(int SessionID, uint16_t PageType) {
  CheckSession(SessionID);
  TSDBSessionPageInfo& s = Session(SessionID);
  int32_t pageNo = InternalAddPage();
  // A copy left from before the page was freed is outdated now.
  int idx = FSharedPages.Find(pageNo);
  if (idx >= 0) {
    if (FSharedPages.At(idx)->FUseCount == 0)
      FSharedPages.Delete(pageNo);
    else
      FSharedPages.At(idx)->FStale = true;
  }
  auto page = std::make_unique<TSDBPage>(this, pageNo, FPageSize);
  SDBInitPageHeader(page->Buffer());
  page->SetPageType(PageType);
  page->SetState(RandomPageState());
  page->FIsDirty = true;
  page->FSessionID = SessionID;
  page->FUseCount = 1;
  TSDBPage* raw = s.DirtyPages.Insert(std::move(page));
  s.AddedPageNumbers.push_back(pageNo);
  return raw;
}

void TSDBPageManager::PutPage(TSDBPage* Page) {
  if (!Page || Page->FUseCount <= 0 || !Page->FParentList) throw ESDBException(kSDBErrPageNotFound, "Page not found");
  if (--Page->FUseCount > 0) return;
  Page->FReloaded = false;
  if (Page->FParentList == &FSharedPages) {
    int idx = FSharedPages.Find(Page->PageNo());
    if (idx < 0) throw ESDBException(kSDBErrPageNotFound, "Page not found");
    if (Page->FIsDirty) {
      Session(Page->FSessionID).DirtyPages.Insert(FSharedPages.Extract(Page->PageNo()));
      return;
    }
    FSharedPages.Touch(idx);
    DropLRUIfOverCapacity();
  }
}

void TSDBPageManager::DropLRUIfOverCapacity() {
  while (FSharedPages.Count() > FCacheCapacity) {
    int lru = FSharedPages.FindLRU();
    if (lru < 0) return;  // every cached page is in use
    FSharedPages.Delete(FSharedPages.At(lru)->PageNo());
  }
}

void TSDBPageManager::RemovePage(int SessionID, int32_t PageNo) {
  CheckSession(SessionID);
  if (PageNo < 0) throw ESDBException(kSDBErrInvalidCachePageNumber, "Invalid page number");
  if (IsSystemPage(PageNo)) throw ESDBException(kSDBErrDeleteSystemPage, "Cannot delete PFS or EAM page. PageNo=%d", {int64_t{PageNo}});
  auto& removed = Session(SessionID).RemovedPageNumbers;
  if (std::find(removed.begin(), removed.end(), PageNo) == removed.end()) removed.push_back(PageNo);
}

bool TSDBPageManager::HasChanges(int SessionID) const {
  const TSDBSessionPageInfo* s = FindSession(SessionID);
  return s && (s->DirtyPages.Count() || !s->AddedPageNumbers.empty() || !s->RemovedPageNumbers.empty());
}

int TSDBPageManager::DirtyPageCount(int SessionID) const {
  const TSDBSessionPageInfo* s = FindSession(SessionID);
  return s ? s->DirtyPages.Count() : 0;
}

void TSDBPageManager::ApplyChanges(int SessionID) {
  CheckSession(SessionID);
  TSDBSessionPageInfo* s = nullptr;
  for (auto& p : FSessions)
    if (p->SessionID == SessionID) s = p.get();
  if (!s) return;
  for (int i = 0; i < FSharedPages.Count(); ++i) {
    TSDBPage* p = FSharedPages.At(i);
    if (p->FSessionID == SessionID && p->FUseCount > 0) throw ESDBException(kSDBErrSessionPagesNotReleased, "Some session pages not released");
  }
  // Check every dirty page before anything reaches the file, so that a
  // caller's mistake cannot leave half a commit behind.
  for (int i = 0; i < s->DirtyPages.Count(); ++i) {
    TSDBPage* p = s->DirtyPages.At(i);
    if (!p->FIsDirty) throw ESDBException(kSDBErrInvalidPage, "Invalid page");
    if (p->FUseCount > 0) throw ESDBException(kSDBErrWriteUsedPage, "Cannot write used page");
  }
  BeforeCommitWrites(*s);
  for (int32_t pageNo : s->RemovedPageNumbers) {
    InternalRemovePage(pageNo);
    if (s->DirtyPages.Find(pageNo) >= 0) s->DirtyPages.Delete(pageNo);
    int idx = FSharedPages.Find(pageNo);
    if (idx >= 0) {
      if (FSharedPages.At(idx)->FUseCount == 0)
        FSharedPages.Delete(pageNo);
      else
        FSharedPages.At(idx)->FStale = true;
    }
  }
  s->AddedPageNumbers.clear();
  s->RemovedPageNumbers.clear();
  while (s->DirtyPages.Count() > 0) {
    TSDBPage* p = s->DirtyPages.At(0);
    InternalWritePage(*p);
    std::unique_ptr<TSDBPage> page = s->DirtyPages.Extract(p->PageNo());
    page->FIsDirty = false;
    page->FTableStates.clear();
    int idx = FSharedPages.Find(page->PageNo());
    if (idx >= 0) {
      // Another session read the page before this commit: its copy is old.
      if (FSharedPages.At(idx)->FUseCount == 0) {
        FSharedPages.Delete(page->PageNo());
      } else {
        FSharedPages.At(idx)->FStale = true;
        continue;
      }
    }
    if (FSharedPages.Count() < FCacheCapacity) FSharedPages.Insert(std::move(page));
  }
}

void TSDBPageManager::CancelChanges(int SessionID) {
  CheckSession(SessionID);
  TSDBSessionPageInfo* s = nullptr;
  for (auto& p : FSessions)
    if (p->SessionID == SessionID) s = p.get();
  if (!s) return;
  for (int i = 0; i < FSharedPages.Count(); ++i) {
    TSDBPage* p = FSharedPages.At(i);
    if (p->FSessionID == SessionID && p->FUseCount > 0 && p->FIsDirty)
      throw ESDBException(kSDBErrSessionPagesNotReleased, "Some session pages not released");
  }
  for (int i = 0; i < s->DirtyPages.Count(); ++i) {
    TSDBPage* p = s->DirtyPages.At(i);
    if (!p->FIsDirty) throw ESDBException(kSDBErrInvalidIndexPage, "Invalid index page");
    if (p->FUseCount > 0) throw ESDBException(kSDBErrRemoveUsedPage, "Cannot remove used page");
  }
  s->DirtyPages.Clear();
  std::vector<int32_t> added;
  added.swap(s->AddedPageNumbers);
  s->RemovedPageNumbers.clear();
  for (int32_t pageNo : added) InternalRemovePage(pageNo);
}

void TSDBPageManager::CheckAllCommitted() const {
  for (const auto& s : FSessions)
    if (s->DirtyPages.Count() > 0) throw ESDBException(kSDBErrFreeUncommittedPages, "Cannot free non-committed pages");
}

// ---------------------------------------------------------------------------

void TSDBPageGuard::Release() noexcept {
  if (FPage && LManager) {
    try {
      LManager->PutPage(FPage);
    } catch (...) {
      // PutPage fails only on a page that is not held; nothing to give back.
    }
  }
  FPage = nullptr;
}

TSDBPageGuard SDBGetPageGuard(TSDBPageManager& manager, int SessionID, int32_t PageNo, uint16_t PageType,
                              bool SynchronizeAllowed) {
  return TSDBPageGuard(manager, manager.GetPage(SessionID, PageNo, PageType, SynchronizeAllowed));
}

TSDBPageGuard SDBAddPageGuard(TSDBPageManager& manager, int SessionID, uint16_t PageType) {
  return TSDBPageGuard(manager, manager.AddPage(SessionID, PageType));
}

}  // namespace sdb
