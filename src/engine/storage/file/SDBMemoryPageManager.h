// TSDBMemoryPageManager: a page cache whose pages never leave memory. It
// serves temporary indexes, query results and memory tables: the same page
// operations (sessions, dirty lists, commit, rollback) as the disk page
// cache, with committed pages kept in a page store instead of a file.
//
// Page 0 is never handed out: several structures read page number 0 as
// "no page" (BLOB references, chains). Freed page numbers are reused, the
// lowest first, so a store that grows and shrinks stays compact.
//
// Like the disk page cache it has no lock of its own: its owner calls it
// under its critical section.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "storage/file/SDBPageCache.h"

namespace sdb {

class TSDBMemoryPageManager : public TSDBPageManager {
 public:
  // The cache in front of the store only saves copies; a small one is enough.
  explicit TSDBMemoryPageManager(uint16_t PageSize = kSDBDefaultPageSize, int CacheCapacity = 64);
  ~TSDBMemoryPageManager() override;

  // One past the highest page number ever handed out (page numbers below it
  // may be free).
  int32_t GetPageCount() override;

  // Pages currently allocated (committed or pending), and their bytes.
  int32_t UsedPageCount() const noexcept { return FUsedPageCount; }
  int64_t UsedMemory() const noexcept { return static_cast<int64_t>(FUsedPageCount) * PageSize(); }
  // Whether a page number is allocated (committed or added by a session).
  bool PageInUse(int32_t PageNo) const;
  // The committed bytes of a page (PageSize bytes) or nullptr when the page
  // has not been committed; for checks and tests.
  const uint8_t* StoredPage(int32_t PageNo) const;
  uint8_t* StoredPage(int32_t PageNo);

  // Drops every page, pending changes included. Raises 20152 "Some session
  // pages not released" while a page is held.
  void Clear();

 protected:
  int32_t InternalAddPage() override;
  void InternalRemovePage(int32_t PageNo) override;
  bool InternalReadPage(TSDBPage& Page) override;
  void InternalWritePage(TSDBPage& Page) override;

 private:
  // Committed pages by number; an allocated page not yet written is an
  // empty slot with its allocated flag set.
  std::vector<std::unique_ptr<uint8_t[]>> FPages;
  std::vector<bool> FAllocated;
  std::set<int32_t> FFreePageNumbers;
  int32_t FUsedPageCount = 0;
};

}  // namespace sdb
