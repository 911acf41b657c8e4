#include "storage/file/SDBPageCache.h"

#include <algorithm>
#include <cstring>
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

// A few are enough: a full cache drops one page per page it reads.
constexpr size_t kMaxSparePages = 8;

void CheckSession(int sessionID) {
  if (sessionID == kSDBInvalidSessionID) throw ESDBException(kSDBErrInvalidSessionID, "Invalid Session ID");
}

}  // namespace

TSDBPage::TSDBPage(TSDBPageManager* pageManager, int32_t pageNo, size_t pageSize)
    : LPageManager(pageManager),
      FPageNo(pageNo),
      FSize(pageSize),
      FPageBuffer(std::make_unique_for_overwrite<uint8_t[]>(pageSize)) {}

void TSDBPage::Reuse(int32_t pageNo) noexcept {
  FPageNo = pageNo;
  FIsDirty = false;
  FUseCount = 0;
  FParentList = nullptr;
  FOlder = FNewer = FHashNext = nullptr;
  FSessionID = kSDBInvalidSessionID;
  FReloaded = false;
  FEncryptionEnabled = true;
  FStale = false;
  FTableStates.clear();
}

void TSDBPage::SetTableState(int SessionID, const TSDBPageTableStateInfo& Info) {
  for (auto& [id, info] : FTableStates)
    if (id == SessionID) {
      info = Info;
      return;
    }
  FTableStates.emplace_back(SessionID, Info);
}

void TSDBPage::ForgetTableState(int SessionID) noexcept {
  for (size_t i = 0; i < FTableStates.size(); ++i)
    if (FTableStates[i].first == SessionID) {
      FTableStates[i] = FTableStates.back();
      FTableStates.pop_back();
      return;
    }
}

// ---------------------------------------------------------------------------

void TSDBPageList::Grow() {
  const size_t size = FBuckets.empty() ? 64 : FBuckets.size() * 2;
  std::vector<TSDBPage*> buckets(size, nullptr);
  FBuckets.swap(buckets);
  FShift = 32;
  for (size_t n = size; n > 1; n >>= 1) --FShift;
  for (TSDBPage* p = FOldest; p; p = p->FNewer) {
    TSDBPage*& head = FBuckets[Bucket(p->FPageNo)];
    p->FHashNext = head;
    head = p;
  }
}

bool TSDBPageList::UnhashPage(TSDBPage* page) noexcept {
  if (FBuckets.empty()) return false;
  for (TSDBPage** link = &FBuckets[Bucket(page->FPageNo)]; *link; link = &(*link)->FHashNext)
    if (*link == page) {
      *link = page->FHashNext;
      page->FHashNext = nullptr;
      return true;
    }
  return false;
}

TSDBPage* TSDBPageList::Insert(std::unique_ptr<TSDBPage> page) {
  // One page number, one copy: the newer replaces the older.
  if (TSDBPage* old = Get(page->FPageNo)) Extract(old->FPageNo);
  if (FCount >= FBuckets.size()) Grow();
  TSDBPage* raw = page.release();
  TSDBPage*& head = FBuckets[Bucket(raw->FPageNo)];
  raw->FHashNext = head;
  head = raw;
  ++FCount;
  raw->FParentList = this;
  LinkNewest(raw);
  return raw;
}

std::unique_ptr<TSDBPage> TSDBPageList::Extract(int32_t pageNo) {
  if (FCount == 0) throw ESDBException(kSDBErrSortedPageListEmpty, "TSortedPageList.Delete - no elements in array!");
  TSDBPage* page = Get(pageNo);
  if (!page)
    throw ESDBException(kSDBErrSortedPageListMissing, "TSortedPageList.Delete - element not found, key = %d, itemCount = %d",
                        {int64_t{pageNo}, int64_t{Count()}});
  return Extract(page);
}

std::unique_ptr<TSDBPage> TSDBPageList::Extract(TSDBPage* page) noexcept {
  UnhashPage(page);
  --FCount;
  Unlink(page);
  page->FParentList = nullptr;
  return std::unique_ptr<TSDBPage>(page);
}

TSDBPage* TSDBPageList::FindLRU() const noexcept {
  // Pages in use cannot go; they are few, so the walk stops early.
  for (TSDBPage* p = FOldest; p; p = p->FNewer)
    if (p->UseCount() == 0) return p;
  return nullptr;
}

std::vector<TSDBPage*> TSDBPageList::Pages() const {
  std::vector<TSDBPage*> pages;
  pages.reserve(FCount);
  for (TSDBPage* p = FOldest; p; p = p->FNewer) pages.push_back(p);
  std::sort(pages.begin(), pages.end(), [](const TSDBPage* a, const TSDBPage* b) { return a->PageNo() < b->PageNo(); });
  return pages;
}

void TSDBPageList::Clear() noexcept {
  for (TSDBPage* p = FOldest; p;) {
    TSDBPage* next = p->FNewer;
    delete p;
    p = next;
  }
  std::fill(FBuckets.begin(), FBuckets.end(), nullptr);
  FCount = 0;
  FOldest = FNewest = nullptr;
}

// ---------------------------------------------------------------------------

TSDBPageManager::TSDBPageManager(uint16_t pageSize, int cacheCapacity) : FPageSize(pageSize) {
  if (cacheCapacity <= 0) {
    uint64_t byMemory = SDBAvailablePhysicalMemory() / 65536;
    cacheCapacity = static_cast<int>(std::min<uint64_t>(byMemory, 1000));
  }
  FCacheCapacity = std::max(cacheCapacity, 1);
  FSparePages.reserve(kMaxSparePages);
}

TSDBPageManager::~TSDBPageManager() = default;

TSDBSessionPageInfo& TSDBPageManager::FindOrAddSession(int SessionID) {
  for (auto& s : FSessions)
    if (s->SessionID == SessionID) return *(FLastSession = s.get());
  FSessions.push_back(std::make_unique<TSDBSessionPageInfo>());
  FSessions.back()->SessionID = SessionID;
  return *(FLastSession = FSessions.back().get());
}

void TSDBPageManager::ClearSessionsAndPages() noexcept {
  FLastSession = nullptr;
  FSharedInUse = 0;
  FSessions.clear();
  FSharedPages.Clear();
  FSparePages.clear();
}

std::unique_ptr<TSDBPage> TSDBPageManager::NewPage(int32_t PageNo) {
  while (!FSparePages.empty()) {
    std::unique_ptr<TSDBPage> page = std::move(FSparePages.back());
    FSparePages.pop_back();
    // Spares of another page size (a database opened since) are dropped.
    if (page->FSize != FPageSize) continue;
    page->Reuse(PageNo);
    return page;
  }
  return std::make_unique<TSDBPage>(this, PageNo, FPageSize);
}

void TSDBPageManager::KeepSpare(std::unique_ptr<TSDBPage> Page) noexcept {
  // Room for them is reserved up front, so keeping one cannot fail.
  if (FSparePages.size() < kMaxSparePages && Page->FSize == FPageSize) FSparePages.push_back(std::move(Page));
}

void TSDBPageManager::DropSharedPage(TSDBPage* Page) { KeepSpare(FSharedPages.Extract(Page)); }

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

void TSDBPageManager::ReadOrDrop(TSDBPage& page, uint16_t pageType, int sessionID) {
  try {
    ReadIntoCache(page, pageType, sessionID);
  } catch (...) {
    // Never keep a page whose content could not be read or is of the wrong
    // kind: its buffer holds what the failed read left, and the next
    // request must read it again rather than trust it.
    DropSharedPage(&page);
    throw;
  }
}

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
  TSDBSessionPageInfo& s = Session(SessionID);
  TSDBPage* page = s.DirtyPages.Get(PageNo);
  if (!page) {
    page = FSharedPages.Get(PageNo);
    if (!page) {
      // Bitmap pages never enter the cache, so only a page not found there
      // can be one.
      if (IsSystemPage(PageNo))
        throw ESDBException(kSDBErrDeleteSystemPage, "Cannot delete PFS or EAM page. PageNo=%d", {int64_t{PageNo}});
      page = FSharedPages.Insert(NewPage(PageNo));
      ReadOrDrop(*page, PageType, SessionID);
    } else if (page->FStale && page->FUseCount == 0) {
      ReadOrDrop(*page, PageType, SessionID);
    } else if (SynchronizeAllowed && !IsPageTableStateCurrent(SessionID, *page)) {
      int32_t onDisk = InternalReadPageState(PageNo);
      if (onDisk != kSDBMaxInt && onDisk != page->State() && page->FUseCount == 0) {
        ReadOrDrop(*page, PageType, SessionID);
      } else {
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
  if (page->FUseCount++ == 0 && page->FParentList == &FSharedPages) ++FSharedInUse;
  return page;
}

TSDBPage* TSDBPageManager::AddPage(int SessionID, uint16_t PageType) {
  CheckSession(SessionID);
  TSDBSessionPageInfo& s = Session(SessionID);
  int32_t pageNo = InternalAddPage();
  // A copy left from before the page was freed is outdated now.
  if (TSDBPage* old = FSharedPages.Get(pageNo)) {
    if (old->FUseCount == 0)
      DropSharedPage(old);
    else
      old->FStale = true;
  }
  std::unique_ptr<TSDBPage> page = NewPage(pageNo);
  // A new page starts empty, whatever the reused buffer held.
  std::memset(page->Buffer(), 0, page->Size());
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
  // A list is the parent only of the pages it holds.
  if (Page->FParentList == &FSharedPages) {
    --FSharedInUse;
    if (Page->FIsDirty) {
      Session(Page->FSessionID).DirtyPages.Insert(FSharedPages.Extract(Page));
      return;
    }
    FSharedPages.Touch(Page);
    if (FSharedPages.Count() > FCacheCapacity) DropLRUIfOverCapacity();
  }
}

void TSDBPageManager::DropLRUIfOverCapacity() {
  while (FSharedPages.Count() > FCacheCapacity) {
    TSDBPage* lru = FSharedPages.FindLRU();
    if (!lru) return;  // every cached page is in use
    DropSharedPage(lru);
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

bool TSDBPageManager::HasDeferred(int SessionID, const void* Owner) const {
  const TSDBSessionPageInfo* s =
      FLastSession && FLastSession->SessionID == SessionID ? FLastSession : FindSession(SessionID);
  if (!s) return false;
  for (const auto& d : s->Deferred)
    if (d.first == Owner) return true;
  return false;
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
  if (FSharedInUse > 0)
    FSharedPages.ForEach([&](const TSDBPage* p) {
      if (p->FSessionID == SessionID && p->FUseCount > 0)
        throw ESDBException(kSDBErrSessionPagesNotReleased, "Some session pages not released");
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
        DropSharedPage(old);
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
    std::unique_ptr<TSDBPage> page = s->DirtyPages.Extract(p);
    page->FIsDirty = false;
    page->FTableStates.clear();
    if (TSDBPage* old = FSharedPages.Get(page->PageNo())) {
      // Another session read the page before this commit: its copy is old.
      if (old->FUseCount == 0) {
        DropSharedPage(old);
      } else {
        old->FStale = true;
        KeepSpare(std::move(page));
        continue;
      }
    }
    if (FSharedPages.Count() < FCacheCapacity)
      FSharedPages.Insert(std::move(page));
    else
      KeepSpare(std::move(page));
  }
}

void TSDBPageManager::CancelChanges(int SessionID) {
  CheckSession(SessionID);
  TSDBSessionPageInfo* s = nullptr;
  for (auto& p : FSessions)
    if (p->SessionID == SessionID) s = p.get();
  if (!s) return;
  s->Deferred.clear();
  if (FSharedInUse > 0)
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
