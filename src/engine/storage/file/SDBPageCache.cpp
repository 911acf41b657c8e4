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

TSDBPage* TSDBPageList::Get(int32_t pageNo) const {
  auto it = FItems.find(pageNo);
  return it == FItems.end() ? nullptr : it->second.get();
}

void TSDBPageList::Unlink(TSDBPage* page) noexcept {
  (page->FOlder ? page->FOlder->FNewer : FOldest) = page->FNewer;
  (page->FNewer ? page->FNewer->FOlder : FNewest) = page->FOlder;
  page->FOlder = page->FNewer = nullptr;
}

void TSDBPageList::LinkNewest(TSDBPage* page) noexcept {
  page->FOlder = FNewest;
  page->FNewer = nullptr;
  (FNewest ? FNewest->FNewer : FOldest) = page;
  FNewest = page;
}

TSDBPage* TSDBPageList::Insert(std::unique_ptr<TSDBPage> page) {
  TSDBPage* raw = page.get();
  auto [it, added] = FItems.try_emplace(raw->PageNo(), std::move(page));
  if (!added) {
    // One page number, one copy: the newer replaces the older.
    Unlink(it->second.get());
    it->second->FParentList = nullptr;
    it->second = std::move(page);
  }
  raw->FParentList = this;
  LinkNewest(raw);
  return raw;
}

std::unique_ptr<TSDBPage> TSDBPageList::Extract(int32_t pageNo) {
  if (FItems.empty()) throw ESDBException(kSDBErrSortedPageListEmpty, "TSortedPageList.Delete - no elements in array!");
  auto it = FItems.find(pageNo);
  if (it == FItems.end())
    throw ESDBException(kSDBErrSortedPageListMissing, "TSortedPageList.Delete - element not found, key = %d, itemCount = %d",
                        {int64_t{pageNo}, int64_t{Count()}});
  std::unique_ptr<TSDBPage> page = std::move(it->second);
  FItems.erase(it);
  Unlink(page.get());
  page->FParentList = nullptr;
  return page;
}

void TSDBPageList::Touch(TSDBPage* page) noexcept {
  if (page == FNewest) return;
  Unlink(page);
  LinkNewest(page);
}

TSDBPage* TSDBPageList::FindLRU() const noexcept {
  // Pages in use cannot go; they are few, so the walk stops early.
  for (TSDBPage* p = FOldest; p; p = p->FNewer)
    if (p->UseCount() == 0) return p;
  return nullptr;
}

std::vector<TSDBPage*> TSDBPageList::Pages() const {
  std::vector<TSDBPage*> pages;
  pages.reserve(FItems.size());
  for (const auto& [no, page] : FItems) pages.push_back(page.get());
  std::sort(pages.begin(), pages.end(), [](const TSDBPage* a, const TSDBPage* b) { return a->PageNo() < b->PageNo(); });
  return pages;
}

void TSDBPageList::Clear() noexcept {
  FItems.clear();
  FOldest = FNewest = nullptr;
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
    page = FSharedPages.Get(PageNo);
    if (!page) {
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
  if (TSDBPage* old = FSharedPages.Get(pageNo)) {
    if (old->FUseCount == 0)
      FSharedPages.Delete(pageNo);
    else
      old->FStale = true;
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
    if (FSharedPages.Get(Page->PageNo()) != Page) throw ESDBException(kSDBErrPageNotFound, "Page not found");
    if (Page->FIsDirty) {
      Session(Page->FSessionID).DirtyPages.Insert(FSharedPages.Extract(Page->PageNo()));
      return;
    }
    FSharedPages.Touch(Page);
    DropLRUIfOverCapacity();
  }
}

void TSDBPageManager::DropLRUIfOverCapacity() {
  while (FSharedPages.Count() > FCacheCapacity) {
    TSDBPage* lru = FSharedPages.FindLRU();
    if (!lru) return;  // every cached page is in use
    FSharedPages.Delete(lru->PageNo());
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

void TSDBPageManager::DeferUntilCommit(int SessionID, const void* Owner, std::function<void()> Work) {
  CheckSession(SessionID);
  auto& deferred = Session(SessionID).Deferred;
  for (auto& d : deferred)
    if (d.first == Owner) {
      d.second = std::move(Work);
      return;
    }
  deferred.emplace_back(Owner, std::move(Work));
}

void TSDBPageManager::RunDeferred(int SessionID, const void* Owner) {
  for (auto& s : FSessions) {
    if (SessionID != kSDBInvalidSessionID && s->SessionID != SessionID) continue;
    auto& deferred = s->Deferred;
    for (size_t i = 0; i < deferred.size(); ++i) {
      if (deferred[i].first != Owner) continue;
      // Taken out first: the work may defer again or raise.
      std::function<void()> work = std::move(deferred[i].second);
      deferred.erase(deferred.begin() + static_cast<std::ptrdiff_t>(i));
      work();
      break;
    }
  }
}

void TSDBPageManager::RunAllDeferred(int SessionID) {
  for (auto& s : FSessions) {
    if (s->SessionID != SessionID) continue;
    while (!s->Deferred.empty()) {
      std::function<void()> work = std::move(s->Deferred.front().second);
      s->Deferred.erase(s->Deferred.begin());
      work();
    }
    return;
  }
}

void TSDBPageManager::ApplyChanges(int SessionID) {
  CheckSession(SessionID);
  RunAllDeferred(SessionID);
  TSDBSessionPageInfo* s = nullptr;
  for (auto& p : FSessions)
    if (p->SessionID == SessionID) s = p.get();
  if (!s) return;
  FSharedPages.ForEach([&](const TSDBPage* p) {
    if (p->FSessionID == SessionID && p->FUseCount > 0) throw ESDBException(kSDBErrSessionPagesNotReleased, "Some session pages not released");
  });
  // Check every dirty page before anything reaches the file, so that a
  // caller's mistake cannot leave half a commit behind.
  std::vector<int32_t> dirty;
  dirty.reserve(static_cast<size_t>(s->DirtyPages.Count()));
  for (TSDBPage* p : s->DirtyPages.Pages()) {
    dirty.push_back(p->PageNo());
    if (!p->FIsDirty) throw ESDBException(kSDBErrInvalidPage, "Invalid page");
    if (p->FUseCount > 0) throw ESDBException(kSDBErrWriteUsedPage, "Cannot write used page");
  }
  BeforeCommitWrites(*s);
  for (int32_t pageNo : s->RemovedPageNumbers) {
    InternalRemovePage(pageNo);
    if (s->DirtyPages.Contains(pageNo)) s->DirtyPages.Delete(pageNo);
    if (TSDBPage* old = FSharedPages.Get(pageNo)) {
      if (old->FUseCount == 0)
        FSharedPages.Delete(pageNo);
      else
        old->FStale = true;
    }
  }
  s->AddedPageNumbers.clear();
  s->RemovedPageNumbers.clear();
  // In page-number order; a page freed above is no longer in the list.
  for (int32_t no : dirty) {
    TSDBPage* p = s->DirtyPages.Get(no);
    if (!p) continue;
    InternalWritePage(*p);
    std::unique_ptr<TSDBPage> page = s->DirtyPages.Extract(p->PageNo());
    page->FIsDirty = false;
    page->FTableStates.clear();
    if (TSDBPage* old = FSharedPages.Get(page->PageNo())) {
      // Another session read the page before this commit: its copy is old.
      if (old->FUseCount == 0) {
        FSharedPages.Delete(page->PageNo());
      } else {
        old->FStale = true;
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
  s->Deferred.clear();
  FSharedPages.ForEach([&](const TSDBPage* p) {
    if (p->FSessionID == SessionID && p->FUseCount > 0 && p->FIsDirty)
      throw ESDBException(kSDBErrSessionPagesNotReleased, "Some session pages not released");
  });
  s->DirtyPages.ForEach([](const TSDBPage* p) {
    if (!p->FIsDirty) throw ESDBException(kSDBErrInvalidIndexPage, "Invalid index page");
    if (p->FUseCount > 0) throw ESDBException(kSDBErrRemoveUsedPage, "Cannot remove used page");
  });
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
