// The page cache: every page a session reads or changes is taken from it and
// given back to it (through TSDBPageGuard, so that an exception cannot leak a
// use). Clean pages live in one shared list, bounded by the cache capacity
// with least-recently-used eviction; a page a session changed moves to that
// session's dirty list and stays invisible to other sessions until the
// session commits (ApplyChanges) or rolls back (CancelChanges). Pages a
// session adds or removes are remembered and settled at commit or rollback.
//
// The cache has no lock of its own: it is used under the database object's
// critical section. Subclasses supply the page I/O (the disk page cache over
// the database file; memory-backed managers for temporary data).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "storage/file/SDBPageFormat.h"

namespace sdb {

class TSDBPageManager;
class TSDBPageList;

// Session identifiers: 0 .. N-1 are user sessions.
inline constexpr int kSDBInvalidSessionID = -1;
inline constexpr int kSDBEngineSessionID = -2;

// What a session knew of a page: the table it was working with and that
// table's state when it last read or checked the page.
struct TSDBPageTableStateInfo {
  int32_t TableID = -1;
  int64_t TableState = 0;
  bool IsTableStateValueAssigned = false;
};

class TSDBPage {
 public:
  // The buffer's bytes are undefined until the page is read or initialised.
  TSDBPage(TSDBPageManager* pageManager, int32_t pageNo, size_t pageSize);

  int32_t PageNo() const noexcept { return FPageNo; }
  TSDBPageManager* PageManager() const noexcept { return LPageManager; }
  uint8_t* Buffer() noexcept { return FPageBuffer.get(); }
  const uint8_t* Buffer() const noexcept { return FPageBuffer.get(); }
  // The data area after the 40-byte page header.
  uint8_t* Data() noexcept { return FPageBuffer.get() + kSDBPageHeaderSize; }
  const uint8_t* Data() const noexcept { return FPageBuffer.get() + kSDBPageHeaderSize; }
  size_t Size() const noexcept { return FSize; }
  size_t DataSize() const noexcept { return FSize - kSDBPageHeaderSize; }

  uint16_t PageType() const { return SDBGetPageType(Buffer()); }
  void SetPageType(uint16_t type) { SDBSetPageType(Buffer(), type); }
  int32_t NextPageNo() const { return SDBGetNextPageNo(Buffer()); }
  void SetNextPageNo(int32_t pageNo) { SDBSetNextPageNo(Buffer(), pageNo); }
  int32_t State() const { return SDBGetPageState(Buffer()); }
  void SetState(int32_t state) { SDBSetPageState(Buffer(), state); }

  // A holder that changed the page marks it; the change then stays in the
  // holder's session until commit.
  void MarkDirty() noexcept { FIsDirty = true; }
  bool IsDirty() const noexcept { return FIsDirty; }
  int UseCount() const noexcept { return FUseCount; }
  int SessionID() const noexcept { return FSessionID; }
  // Set when the page was read from disk during the current use.
  bool Reloaded() const noexcept { return FReloaded; }
  void SetReloaded(bool v) noexcept { FReloaded = v; }
  bool EncryptionEnabled() const noexcept { return FEncryptionEnabled; }
  void SetEncryptionEnabled(bool v) noexcept { FEncryptionEnabled = v; }

  // What each session knew of the page (multi-user change detection).
  // Few sessions of one process share a cache, so a short list does.
  const TSDBPageTableStateInfo* FindTableState(int SessionID) const noexcept {
    for (const auto& [id, info] : FTableStates)
      if (id == SessionID) return &info;
    return nullptr;
  }
  void SetTableState(int SessionID, const TSDBPageTableStateInfo& Info);
  void ForgetTableState(int SessionID) noexcept;
  void ForgetTableStates() noexcept { FTableStates.clear(); }

 private:
  friend class TSDBPageManager;
  friend class TSDBPageList;
  // Makes the object a fresh, unused copy of another page (its buffer is
  // reused as it is: the caller reads or initialises it).
  void Reuse(int32_t pageNo) noexcept;

  TSDBPageManager* LPageManager;
  int32_t FPageNo;
  size_t FSize;
  std::unique_ptr<uint8_t[]> FPageBuffer;
  bool FIsDirty = false;
  int FUseCount = 0;
  TSDBPageList* FParentList = nullptr;
  // The parent list's least-recently-used chain and hash bucket chain.
  TSDBPage* FOlder = nullptr;
  TSDBPage* FNewer = nullptr;
  TSDBPage* FHashNext = nullptr;
  int FSessionID = kSDBInvalidSessionID;
  bool FReloaded = false;
  bool FEncryptionEnabled = true;
  bool FStale = false;  // a newer committed copy exists; re-read at next use
  std::vector<std::pair<int, TSDBPageTableStateInfo>> FTableStates;
};

// The pages of one list (the shared clean pages, or one session's dirty
// pages), owned by it and found by page number through a hash whose chains
// run through the pages themselves, each also linked into a
// least-recently-used chain: lookups, insertions, removals, refreshes and
// the choice of the page to drop are all constant time, whatever the cache
// capacity, and none of them allocates (but for the bucket table growing).
class TSDBPageList {
 public:
  TSDBPageList() = default;
  ~TSDBPageList() { Clear(); }
  TSDBPageList(const TSDBPageList&) = delete;
  TSDBPageList& operator=(const TSDBPageList&) = delete;

  TSDBPage* Get(int32_t pageNo) const noexcept {
    if (FCount == 0) return nullptr;
    for (TSDBPage* p = FBuckets[Bucket(pageNo)]; p; p = p->FHashNext)
      if (p->FPageNo == pageNo) return p;
    return nullptr;
  }
  bool Contains(int32_t pageNo) const noexcept { return Get(pageNo) != nullptr; }
  int Count() const noexcept { return static_cast<int>(FCount); }
  // Inserts (as the most recently used); the list becomes the page's parent.
  TSDBPage* Insert(std::unique_ptr<TSDBPage> page);
  // Removes and hands back the page. Raises "TSortedPageList.Delete - no
  // elements in array!" (20165) on an empty list and "TSortedPageList.Delete -
  // element not found, key = %d, itemCount = %d" (20166) when absent.
  std::unique_ptr<TSDBPage> Extract(int32_t pageNo);
  // Removes and hands back a page of this list.
  std::unique_ptr<TSDBPage> Extract(TSDBPage* page) noexcept;
  void Delete(int32_t pageNo) { Extract(pageNo); }
  // The page becomes the most recently used.
  void Touch(TSDBPage* page) noexcept {
    if (page == FNewest) return;
    Unlink(page);
    LinkNewest(page);
  }
  // The least recently used page that nobody uses, null when none.
  TSDBPage* FindLRU() const noexcept;
  // Every page, in page-number order (a commit writes in file order).
  std::vector<TSDBPage*> Pages() const;
  // Calls f(page) for every page, least recently used first; f must not
  // change the list.
  template <class F>
  void ForEach(F&& f) const {
    for (TSDBPage* p = FOldest; p; p = p->FNewer) f(p);
  }
  void Clear() noexcept;

 private:
  size_t Bucket(int32_t pageNo) const noexcept {
    // Fibonacci hashing: neighbouring page numbers land far apart.
    return (static_cast<uint32_t>(pageNo) * 0x9E3779B1u) >> FShift;
  }
  void Grow();
  void Unlink(TSDBPage* page) noexcept {
    (page->FOlder ? page->FOlder->FNewer : FOldest) = page->FNewer;
    (page->FNewer ? page->FNewer->FOlder : FNewest) = page->FOlder;
    page->FOlder = page->FNewer = nullptr;
  }
  void LinkNewest(TSDBPage* page) noexcept {
    page->FOlder = FNewest;
    page->FNewer = nullptr;
    (FNewest ? FNewest->FNewer : FOldest) = page;
    FNewest = page;
  }
  // Takes the page out of its bucket chain; false when absent.
  bool UnhashPage(TSDBPage* page) noexcept;

  std::vector<TSDBPage*> FBuckets;  // power-of-two size, or empty
  unsigned FShift = 32;             // 32 - log2(bucket count)
  size_t FCount = 0;
  TSDBPage* FOldest = nullptr;
  TSDBPage* FNewest = nullptr;
};

struct TSDBSessionPageInfo {
  int SessionID = kSDBInvalidSessionID;
  TSDBPageList DirtyPages;
  std::vector<int32_t> AddedPageNumbers;
  std::vector<int32_t> RemovedPageNumbers;
  // Work that must reach the session's pages before they are committed
  // (see TSDBPageManager::DeferUntilCommit), by owner.
  std::vector<std::pair<const void*, std::function<void()>>> Deferred;
};

class TSDBPageManager {
 public:
  // `cacheCapacity` <= 0: min(available physical memory / 65536, 1000).
  TSDBPageManager(uint16_t pageSize, int cacheCapacity = 0);
  virtual ~TSDBPageManager();
  TSDBPageManager(const TSDBPageManager&) = delete;
  TSDBPageManager& operator=(const TSDBPageManager&) = delete;

  uint16_t PageSize() const noexcept { return FPageSize; }
  uint16_t PageDataSize() const noexcept { return static_cast<uint16_t>(FPageSize - FPageHeaderSize); }
  int CacheCapacity() const noexcept { return FCacheCapacity; }
  void SetCacheCapacity(int capacity) noexcept { FCacheCapacity = capacity < 1 ? 1 : capacity; }
  bool IgnoreCRCErrors() const noexcept { return FIgnoreCRCErrors; }
  virtual void SetIgnoreCRCErrors(bool v) { FIgnoreCRCErrors = v; }
  bool MultiUser() const noexcept { return FMultiUser; }
  void SetMultiUser(bool v) noexcept { FMultiUser = v; }

  virtual int32_t GetPageCount() = 0;
  // Whether the file has fewer than Count pages: a bound for sizes and
  // chain walks read from pages. Cheaper than GetPageCount where the count
  // known already shows the bound is kept.
  virtual bool HasFewerPagesThan(int64_t Count) { return GetPageCount() < Count; }

  // A new page of `pageType`, dirty, with a random State, held once.
  TSDBPage* AddPage(int SessionID, uint16_t PageType);
  // The page with one more use. PageType kSDBAnyPageType accepts any type.
  virtual TSDBPage* GetPage(int SessionID, int32_t PageNo, uint16_t PageType, bool SynchronizeAllowed = true);
  void PutPage(TSDBPage* Page);
  // The page is freed when the session commits.
  virtual void RemovePage(int SessionID, int32_t PageNo);
  // Commit and rollback of the session's page changes.
  virtual void ApplyChanges(int SessionID);
  virtual void CancelChanges(int SessionID);
  // Page writes an owner would repeat at every change of a long batch (a
  // table's counters) are done once, right before the session commits:
  // Work runs first thing in ApplyChanges, or earlier through
  // RunDeferred. CancelChanges forgets it with the session's pages. One
  // piece of work per owner and session; a second one replaces the first.
  void DeferUntilCommit(int SessionID, const void* Owner, std::function<void()> Work);
  // Runs now what the owner deferred for the session (every session when
  // SessionID is kSDBInvalidSessionID); nothing when there is none.
  void RunDeferred(int SessionID, const void* Owner);
  // Whether the owner has work deferred for the session.
  bool HasDeferred(int SessionID, const void* Owner) const;

  // Raises "Cannot free non-committed pages" (20097) when a session still
  // has uncommitted pages. Destruction discards such pages silently, since a
  // destructor cannot report; owners call this before closing.
  void CheckAllCommitted() const;
  // True when the session has added, removed or dirty pages.
  bool HasChanges(int SessionID) const;

  // Introspection (tests, tools).
  int SharedPageCount() const noexcept { return FSharedPages.Count(); }
  bool IsPageCached(int32_t PageNo) const { return FSharedPages.Contains(PageNo); }
  int DirtyPageCount(int SessionID) const;

  // Byte locks inside a page (internal files use byte 0 of their first
  // page). The base answers true: memory pages are never shared.
  virtual bool LockPageByte(int32_t PageNo, int32_t Offset);
  virtual bool UnlockPageByte(int32_t PageNo, int32_t Offset);

 protected:
  // Table-state hooks of multi-user change detection.
  virtual bool IsPageTableStateCurrent(int SessionID, TSDBPage& Page);
  virtual void StampPageTableState(int SessionID, TSDBPage& Page);
  // Page I/O supplied by the subclass.
  virtual int32_t InternalAddPage() = 0;
  virtual void InternalRemovePage(int32_t PageNo) = 0;
  virtual bool InternalReadPage(TSDBPage& Page) = 0;
  virtual void InternalWritePage(TSDBPage& Page) = 0;
  // The page's State on disk; MaxInt when unknown (single-user: always).
  virtual int32_t InternalReadPageState(int32_t PageNo);
  // Whether a page number is a free-space bitmap page (never cached).
  virtual bool IsSystemPage(int32_t PageNo) const;

  TSDBSessionPageInfo& Session(int SessionID) {
    if (FLastSession && FLastSession->SessionID == SessionID) return *FLastSession;
    return FindOrAddSession(SessionID);
  }
  const TSDBSessionPageInfo* FindSession(int SessionID) const;
  // Forgets every session and every cached page (a database closed or
  // opened).
  void ClearSessionsAndPages() noexcept;
  // Drops a cached copy nobody uses; its object is kept for the next page
  // read.
  void DropSharedPage(TSDBPage* Page);
  // Runs all the work the session deferred to its commit.
  void RunAllDeferred(int SessionID);
  // Called by ApplyChanges once the session's pages passed their checks and
  // before the first of them is written or freed.
  virtual void BeforeCommitWrites(TSDBSessionPageInfo& /*s*/) {}
  // The page's bytes are outdated: it is read again at its next use.
  static void MarkStale(TSDBPage& Page) noexcept { Page.FStale = true; }

  int FCacheCapacity;
  TSDBPageList FSharedPages;
  std::vector<std::unique_ptr<TSDBSessionPageInfo>> FSessions;
  uint16_t FPageSize;
  uint16_t FPageHeaderSize = kSDBPageHeaderSize;
  int32_t FPageCount = 0;
  bool FMultiUser = false;
  bool FIgnoreCRCErrors = false;

 private:
  TSDBSessionPageInfo& FindOrAddSession(int SessionID);
  void ReadIntoCache(TSDBPage& page, uint16_t pageType, int sessionID);
  // ReadIntoCache for a page of the shared list, dropped from it if the read fails.
  void ReadOrDrop(TSDBPage& page, uint16_t pageType, int sessionID);
  void DropLRUIfOverCapacity();
  // A page object for PageNo: one given back before, or a new one. Its
  // buffer holds whatever it held.
  std::unique_ptr<TSDBPage> NewPage(int32_t PageNo);
  void KeepSpare(std::unique_ptr<TSDBPage> Page) noexcept;
  // Page objects dropped from the cache, kept for the next pages read: a
  // cache that is full drops one page per page it reads, and the next read
  // takes the dropped object and its buffer instead of allocating them.
  std::vector<std::unique_ptr<TSDBPage>> FSparePages;
  TSDBSessionPageInfo* FLastSession = nullptr;
  // Shared pages held by someone: a commit or rollback looks for its
  // session's held pages only when there are any.
  int FSharedInUse = 0;
};

// Gives a page back to its cache when it goes out of scope.
class TSDBPageGuard {
 public:
  TSDBPageGuard() = default;
  TSDBPageGuard(TSDBPageManager& manager, TSDBPage* page) : LManager(&manager), FPage(page) {}
  ~TSDBPageGuard() { Release(); }
  TSDBPageGuard(TSDBPageGuard&& other) noexcept : LManager(other.LManager), FPage(other.FPage) {
    other.FPage = nullptr;
  }
  TSDBPageGuard& operator=(TSDBPageGuard&& other) noexcept {
    if (this != &other) {
      Release();
      LManager = other.LManager;
      FPage = other.FPage;
      other.FPage = nullptr;
    }
    return *this;
  }
  TSDBPageGuard(const TSDBPageGuard&) = delete;
  TSDBPageGuard& operator=(const TSDBPageGuard&) = delete;

  TSDBPage* operator->() const noexcept { return FPage; }
  TSDBPage& operator*() const noexcept { return *FPage; }
  TSDBPage* Get() const noexcept { return FPage; }
  explicit operator bool() const noexcept { return FPage != nullptr; }
  void Release() noexcept;

 private:
  TSDBPageManager* LManager = nullptr;
  TSDBPage* FPage = nullptr;
};

// Convenience: take a page under a guard.
TSDBPageGuard SDBGetPageGuard(TSDBPageManager& manager, int SessionID, int32_t PageNo, uint16_t PageType,
                              bool SynchronizeAllowed = true);
TSDBPageGuard SDBAddPageGuard(TSDBPageManager& manager, int SessionID, uint16_t PageType);

}  // namespace sdb
