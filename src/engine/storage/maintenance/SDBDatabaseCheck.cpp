#include "storage/maintenance/SDBDatabaseCheck.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "common/SDBBytes.h"
#include "sdb/SDBException.h"
#include "storage/table/SDBBTree.h"
#include "storage/table/SDBBlobManager.h"
#include "storage/file/SDBDiskPageCache.h"
#include "storage/file/SDBInternalFile.h"
#include "storage/table/SDBMetadata.h"
#include "storage/table/SDBRecordIndex.h"
#include "storage/table/SDBRecordManager.h"
#include "storage/maintenance/SDBRepair.h"
#include "storage/file/SDBSystemDirectory.h"
#include "storage/database/SDBTableDatabase.h"

namespace sdb {

std::vector<bool> SDBReadPFSBits(TSDBDiskPageManager& pm, TSDBDatabaseFreeSpaceManager& fsm, int32_t total,
                                 std::vector<std::string>* problems) {
  std::vector<bool> used(static_cast<size_t>(std::max(total, 0)), false);
  const int32_t perPFS = fsm.PFSPagesAddressed();
  std::vector<uint8_t> page(pm.PageSize());
  for (int32_t pfs = 0; pfs < total; pfs += perPFS) {
    try {
      pm.ReadPageRegion(page.data(), pfs, 0, pm.PageSize());
    } catch (const ESDBException& e) {
      if (problems) problems->push_back("PFS page " + std::to_string(pfs) + " cannot be read: " + e.what());
      continue;
    }
    if (SDBGetPageType(page.data()) != ptPFS) {
      if (problems)
        problems->push_back("page " + std::to_string(pfs) + " should be a PFS page but is a " +
                            SDBCheckPageTypeName(SDBGetPageType(page.data())));
      continue;
    }
    for (int32_t r = 0; r < perPFS && pfs + r < total; ++r)
      used[static_cast<size_t>(pfs + r)] = (page[kSDBPageHeaderSize + r / 8] >> (r % 8)) & 1;
  }
  return used;
}

std::string SDBCheckPageTypeName(uint16_t type) {
  try {
    return SDBPageTypeName(type);
  } catch (const ESDBException&) {
    return "Unknown Page Type: (" + std::to_string(type) + ")";
  }
}

namespace {

std::string TypeName(uint16_t type) { return SDBCheckPageTypeName(type); }

class TChecker {
 public:
  // TablePages: every page the tables' structures reach, when the walk of
  // the tables was complete (then table pages outside it are orphans).
  TChecker(TSDBDiskPageCache& cache, const std::set<int32_t>* tablePages = nullptr, TSDBDatabaseWalk* walk = nullptr)
      : FCache(cache), FPM(cache.DiskPageManager()), FFSM(cache.FreeSpaceManager()), FTablePages(tablePages),
        FWalk(walk) {}

  std::vector<std::string> Problems;
  // Pages marked used that nothing refers to and that no commit ever wrote:
  // allocated by a writer that failed or was killed before committing.
  std::vector<int32_t> Reclaimable;

  void Run() {
    const TSDBDBHeader& h = FPM.DBHeader();
    FTotal = h.TotalPageCount;
    if (h.HeaderSize != kSDBDBHeaderSize) Problem("HeaderSize is " + std::to_string(h.HeaderSize) + ", expected 76");
    if (FPM.CryptoHeader().CryptoHeaderSize != kSDBCryptoHeaderSize)
      Problem("CryptoHeaderSize is " + std::to_string(FPM.CryptoHeader().CryptoHeaderSize) + ", expected 280");
    if (FPM.LockedBytes().LockedByteSize != kSDBLockedBytesSize)
      Problem("LockedByteSize is " + std::to_string(FPM.LockedBytes().LockedByteSize) + ", expected 20");
    // A walk for repair records the header state itself: it is what the
    // repair is for, not damage it found.
    if (h.WriteChangesState != kSDBWriteChangesConsistent && !FWalk)
      Problem("WriteChangesState is " + std::to_string(h.WriteChangesState) +
              ": a commit was interrupted, the database needs repair");
    if (h.Version < kSDBMinVersionWithoutRepair && !FWalk)
      Problem("Version " + std::to_string(h.Version) + " is an old format");
    if (FTotal < 0) Problem("TotalPageCount is negative (" + std::to_string(FTotal) + ")");
    int64_t present = (FPM.DatabaseFile().GetSize() - FPM.OffsetToFirstPage()) / FPM.PageSize();
    int64_t expected = FPM.OffsetToFirstPage() + int64_t{std::max(FTotal, 0)} * FPM.PageSize();
    if (FPM.DatabaseFile().GetSize() != expected)
      Problem("file size is " + std::to_string(FPM.DatabaseFile().GetSize()) + " bytes, expected " +
              std::to_string(expected) + " for " + std::to_string(FTotal) + " pages");
    FScan = static_cast<int32_t>(std::clamp<int64_t>(present, 0, std::max(FTotal, 0)));
    if (FScan < FTotal) Problem("the file ends after " + std::to_string(FScan) + " of its " + std::to_string(FTotal) + " pages");

    FUsed = SDBReadPFSBits(FPM, FFSM, FScan, &Problems);
    CheckBitmapPages();
    CheckPages();
    FollowFiles();
    CheckUsage();
    if (FWalk) {
      for (const auto& r : FReachable) FWalk->Reached.insert(r.first);
      FWalk->Used = FUsed;
    }
  }

 private:
  void Problem(const std::string& text) { Problems.push_back(text); }
  bool InFile(int32_t n) const { return n >= 0 && n < FScan; }
  bool Used(int32_t n) const { return InFile(n) && FUsed[static_cast<size_t>(n)]; }

  // A page no commit wrote since it was allocated: fresh from file growth
  // (zeros), or freed before (its State was set to MaxInt then).
  static bool NeverWritten(const uint8_t* header) {
    if (std::all_of(header, header + kSDBPageHeaderSize, [](uint8_t b) { return b == 0; })) return true;
    return std::memcmp(header, "SDBP", 4) == 0 && SDBGetPageState(header) == kSDBMaxInt;
  }

  bool ReadHeader(int32_t n, uint8_t* header) {
    try {
      FPM.ReadPageRegion(header, n, 0, kSDBPageHeaderSize);
      return true;
    } catch (const ESDBException& e) {
      Problem("page " + std::to_string(n) + " cannot be read: " + e.what());
      return false;
    }
  }

  void CheckBitmapPages() {
    uint8_t header[kSDBPageHeaderSize];
    for (int32_t n = 0; n < FScan; ++n) {
      if (!FFSM.IsSystemPage(n)) continue;
      bool pfs = n % FFSM.PFSPagesAddressed() == 0;
      if (!ReadHeader(n, header)) continue;
      if (!pfs && SDBGetPageType(header) != ptEAM)
        Problem("page " + std::to_string(n) + " should be an EAM page but is a " + TypeName(SDBGetPageType(header)));
      if (std::memcmp(header, "SDBP", 4) != 0) Problem("page " + std::to_string(n) + " has no page signature");
      if (!FUsed[static_cast<size_t>(n)])
        Problem("bitmap page " + std::to_string(n) + " is marked free in the PFS");
    }
  }

  void CheckPages() {
    uint8_t header[kSDBPageHeaderSize];
    std::vector<uint8_t> page(FPM.PageSize());
    for (int32_t n = 0; n < FScan; ++n) {
      if (FFSM.IsSystemPage(n) || !FUsed[static_cast<size_t>(n)]) continue;
      if (!ReadHeader(n, header)) continue;
      uint16_t type = SDBGetPageType(header);
      FTypes[n] = type;
      // Allocations update the bitmaps and LastUsedPageNo together, so a
      // writer's unfinished pages never lie beyond it.
      if (NeverWritten(header) && n <= FPM.DBHeader().LastUsedPageNo) {
        FUnwritten.insert(n);
        continue;
      }
      if (std::memcmp(header, "SDBP", 4) != 0) {
        Problem("page " + std::to_string(n) + " has no page signature");
        continue;
      }
      if (type < ptFileSystemDirectory || type > kSDBLastPageType)
        Problem("page " + std::to_string(n) + " has page type " + std::to_string(type) + " (" + TypeName(type) + ")");
      bool direct = type == ptActiveSessionList || type == ptTableLocks;
      if (FPM.Encrypted() && !direct) {
        try {
          if (!FPM.InternalReadPage(n, page.data(), true)) Problem("page " + std::to_string(n) + " cannot be read");
        } catch (const ESDBException& e) {
          Problem("page " + std::to_string(n) + ": " + e.RawMessage());
        }
      }
    }
  }

  // Follows a chain through the page headers; every page must be in the
  // file, in use, of the file's type and visited once.
  std::vector<int32_t> Chain(int32_t start, uint16_t type, const std::string& label) {
    std::vector<int32_t> pages;
    std::set<int32_t> seen;
    uint8_t header[kSDBPageHeaderSize];
    int32_t n = start;
    while (n != -1) {
      std::string where = label + ": page " + std::to_string(pages.size()) + " of the chain (page " + std::to_string(n) + ")";
      if (n < 0 || n >= FTotal) {
        Problem(where + " lies outside the file (" + std::to_string(FTotal) + " pages)");
        break;
      }
      if (!InFile(n)) break;  // already reported as a short file
      if (FFSM.IsSystemPage(n)) {
        Problem(where + " is a PFS or EAM page");
        break;
      }
      if (!seen.insert(n).second) {
        Problem(where + " links back into the chain");
        break;
      }
      if (!ReadHeader(n, header)) break;
      if (SDBGetPageType(header) != type) {
        Problem(where + " is a " + TypeName(SDBGetPageType(header)) + ", expected " + TypeName(type));
        break;
      }
      pages.push_back(n);
      FReachable[n] = label;
      n = SDBGetNextPageNo(header);
    }
    return pages;
  }

  // The first page's file header, read as the file's own pages are read.
  bool FileHeader(int32_t start, bool enciphered, int32_t& stored, int32_t& uncompressed, uint8_t& algorithm) {
    std::vector<uint8_t> page(FPM.PageSize());
    try {
      if (enciphered) {
        if (!FPM.InternalReadPage(start, page.data(), FPM.Encrypted())) return false;
      } else {
        FPM.ReadPageRegion(page.data(), start, 0, FPM.PageSize());
      }
    } catch (const ESDBException&) {
      return false;  // reported by the page scan
    }
    const uint8_t* d = page.data() + kSDBPageHeaderSize;
    stored = GetLEI32(d + 1);
    uncompressed = GetLEI32(d + 5);
    algorithm = d[9];
    return d[0] == kSDBInternalFileHeaderSize;
  }

  // A transacted file: its chain, and a length that fits the stored size.
  std::vector<int32_t> Transacted(int32_t start, uint16_t type, const std::string& label) {
    std::vector<int32_t> pages = Chain(start, type, label);
    if (pages.empty() || pages.front() != start) return pages;
    int32_t stored = 0, uncompressed = 0;
    uint8_t algorithm = 0;
    if (!FileHeader(start, true, stored, uncompressed, algorithm)) {
      Problem(label + ": the file header of page " + std::to_string(start) + " is damaged");
      return pages;
    }
    if (stored < 0 || algorithm > 3) {
      Problem(label + ": the file header records size " + std::to_string(stored) + " and compression " +
              std::to_string(algorithm));
      return pages;
    }
    int64_t needed = std::max<int64_t>(1, (int64_t{stored} + 10 + FPM.PageDataSize() - 1) / FPM.PageDataSize());
    if (static_cast<int64_t>(pages.size()) < needed)
      Problem(label + ": the chain has " + std::to_string(pages.size()) + " pages but its " + std::to_string(stored) +
              " bytes need " + std::to_string(needed));
    else if (static_cast<int64_t>(pages.size()) > needed)
      Problem(label + ": the chain has " + std::to_string(pages.size() - static_cast<size_t>(needed)) +
              " pages more than its " + std::to_string(stored) + " bytes need");
    return pages;
  }

  void Direct(int32_t start, uint16_t type, const std::string& label) {
    std::vector<int32_t> pages = Chain(start, type, label);
    if (pages.empty()) return;
    int32_t size = 0, unused = 0;
    uint8_t alg = 0;
    if (!FileHeader(start, false, size, unused, alg)) {
      Problem(label + ": the file header of page " + std::to_string(start) + " is damaged");
      return;
    }
    int64_t capacity = static_cast<int64_t>(pages.size()) * FPM.PageDataSize() - 10;
    if (size < 0 || size > capacity)
      Problem(label + ": size " + std::to_string(size) + " does not fit its " + std::to_string(pages.size()) + " pages");
  }

  void FollowFiles() {
    if (FTotal <= kSDBSystemDirectoryPageNo) {
      Problem("the file has no system directory (page 2)");
      return;
    }
    Transacted(kSDBSystemDirectoryPageNo, ptFileSystemDirectory, "system directory");
    TSDBSystemDirectory dir(FCache);
    try {
      dir.LoadDirectory();
    } catch (const ESDBException& e) {
      Problem("system directory cannot be read: " + e.RawMessage());
      return;
    }
    std::set<int> types;
    for (const auto& item : dir.FileList()) {
      if (!types.insert(item.FileID).second) Problem("system directory lists file type " + std::to_string(item.FileID) + " twice");
      if (item.FileID == dbftActiveSessionsList) {
        Direct(item.FirstPageNo, ptActiveSessionList, "active sessions file");
      } else if (item.FileID == dbftTablesList) {
        Transacted(item.FirstPageNo, ptTableList, "table list");
        FollowTables(item.FirstPageNo);
      } else {
        Problem("system directory lists an unknown file type " + std::to_string(item.FileID) + " at page " +
                std::to_string(item.FirstPageNo));
      }
    }
    if (!types.count(dbftActiveSessionsList)) Problem("system directory has no active sessions file");
    if (!types.count(dbftTablesList)) Problem("system directory has no table list");
  }

  // Each table owns a metadata file, a most-updated file and a locks file.
  void FollowTables(int32_t start) {
    TSDBInternalDBTransactedAccessFile list(FCache, ptTableList);
    std::vector<uint8_t> content;
    try {
      list.OpenFile(start);
      content = list.ReadAll(kSDBEngineSessionID);
    } catch (const ESDBException& e) {
      Problem("table list cannot be read: " + e.RawMessage());
      return;
    }
    constexpr size_t kItem = 272;
    if (content.size() % kItem) Problem("table list size " + std::to_string(content.size()) + " is not a multiple of 272");
    for (size_t i = 0; i + kItem <= content.size(); i += kItem) {
      FHasTables = true;
      const uint8_t* p = content.data() + i;
      std::string name(reinterpret_cast<const char*>(p + 1), std::min<size_t>(p[0], 255));
      std::string label = "table '" + name + "'";
      Transacted(GetLEI32(p + 260), ptTableMetaData, label + " metadata");
      Transacted(GetLEI32(p + 264), ptTableMostUpdated, label + " most-updated file");
      Direct(GetLEI32(p + 268), ptTableLocks, label + " locks file");
    }
  }

  void CheckUsage() {
    int32_t highest = -1;
    for (int32_t n = 0; n < FScan; ++n) {
      bool sys = FFSM.IsSystemPage(n);
      bool used = FUsed[static_cast<size_t>(n)];
      if (used && !sys) highest = n;
      auto reach = FReachable.find(n);
      const bool byTable = FTablePages && FTablePages->count(n);
      if ((reach != FReachable.end() || byTable) && used && FUnwritten.count(n) && !FWalk)
        Problem("page " + std::to_string(n) + " (" + (byTable ? std::string("table data") : reach->second) +
                ") is referenced but was never written");
      if ((reach != FReachable.end() || byTable) && !used && !sys) {
        if (FWalk)
          FWalk->FreeButReached.push_back(n);
        else
          Problem("page " + std::to_string(n) + " (" + (byTable ? std::string("table data") : reach->second) +
                  ") is in use but marked free in the PFS");
      }
      if (used && !sys && reach == FReachable.end() && !byTable) {
        auto type = FTypes.find(n);
        // Record, BLOB and index pages are reached through the tables;
        // without a complete walk of them they cannot be judged.
        bool tableData = type != FTypes.end() && type->second >= ptTableRecord && type->second <= ptTableIndex;
        if (FWalk) {
          if (!(tableData && !FTablePages)) FWalk->Orphans.push_back(n);
        } else if (FUnwritten.count(n)) {
          Reclaimable.push_back(n);
        } else if (!(FHasTables && tableData && !FTablePages)) {
          Problem("page " + std::to_string(n) + " (" + (type == FTypes.end() ? std::string("?") : TypeName(type->second)) +
                  ") is marked used but belongs to no file");
        }
      }
    }
    if (FScan == FTotal && highest != FPM.DBHeader().LastUsedPageNo && !FWalk)
      Problem("LastUsedPageNo is " + std::to_string(FPM.DBHeader().LastUsedPageNo) + " but the highest page in use is " +
              std::to_string(highest));
    // EAM entries against the PFS bits.
    const int32_t extent = std::max<int32_t>(1, FPM.PageCountInExtent());
    for (int32_t x = 0; x * extent < FScan; ++x) {
      int used = 0, free = 0;
      for (int32_t n = x * extent; n < std::min((x + 1) * extent, FScan); ++n) (FUsed[static_cast<size_t>(n)] ? used : free)++;
      int entry;
      try {
        entry = FFSM.GetExtentUsageFromEAM(x);
      } catch (const ESDBException& e) {
        Problem("EAM entry of extent " + std::to_string(x) + " cannot be read: " + e.RawMessage());
        return;
      }
      if (entry == 3 && free)
        Problem("EAM marks extent " + std::to_string(x) + " full but " + std::to_string(free) + " of its pages are free");
      if (entry == 0 && used)
        Problem("EAM marks extent " + std::to_string(x) + " empty but " + std::to_string(used) + " of its pages are in use");
      if (entry == 2) Problem("EAM entry of extent " + std::to_string(x) + " has the invalid value 2");
    }
  }

  TSDBDiskPageCache& FCache;
  TSDBDiskPageManager& FPM;
  TSDBDatabaseFreeSpaceManager& FFSM;
  int32_t FTotal = 0, FScan = 0;
  bool FHasTables = false;
  const std::set<int32_t>* FTablePages;
  TSDBDatabaseWalk* FWalk;
  std::vector<bool> FUsed;
  std::map<int32_t, uint16_t> FTypes;
  std::set<int32_t> FUnwritten;
  std::map<int32_t, std::string> FReachable;
};


// ---------------------------------------------------------------------------

class TTableChecker {
 public:
  TTableChecker(TSDBTableDatabase& db, std::vector<std::string>& problems, std::set<int32_t>* reached)
      : FDB(db), FCache(db.Cache()), FPM(db.Cache().DiskPageManager()), Problems(problems), FReached(reached) {}

  void Run(const TSDBTableListItem& item) {
    FItem = item;
    FLabel = "table '" + item.TableName + "'";
    FTotal = FPM.DBHeader().TotalPageCount;
    TSDBTableMetadata m;
    try {
      TSDBInternalDBTransactedAccessFile f(FCache, ptTableMetaData);
      f.OpenFile(item.MetaDataFilePageNo);
      m.Load(f.ReadAll(kSession));
    } catch (const ESDBException& e) {
      Problem("metadata file (page " + std::to_string(item.MetaDataFilePageNo) + ") cannot be read: " + e.RawMessage());
      return;
    }
    std::unique_ptr<TSDBBaseFieldManager> fields;
    try {
      fields = std::make_unique<TSDBBaseFieldManager>(std::move(m.FieldDefs));
    } catch (const ESDBException& e) {
      Problem("field definitions are damaged: " + e.RawMessage());
      return;
    }
    FFields = fields.get();
    bool counted = false;
    int64_t stored = 0;
    try {
      TSDBInternalDBTransactedAccessFile f(FCache, ptTableMostUpdated);
      f.OpenFile(item.MostUpdatedFilePageNo);
      TSDBMostUpdatedData mu;
      mu.Load(f.ReadAll(kSession), FFields->FieldCount());
      stored = mu.RecordCount;
      counted = true;
    } catch (const ESDBException& e) {
      Problem("most-updated file (page " + std::to_string(item.MostUpdatedFilePageNo) +
              ") cannot be read: " + e.RawMessage());
    }
    const int32_t maxRecords = SDBMaxRecordsOnPage(FPM.PageDataSize(), FFields->DiskRecordBufferSize());
    if (maxRecords <= 0) {
      Problem("its " + std::to_string(FFields->DiskRecordBufferSize()) + "-byte records do not fit a page");
      return;
    }
    if (FFields->BlobFieldsPresent()) {
      FBlobs = std::make_unique<TSDBDiskBlobManager>(FCache, *FFields, item.TableID);
      if (m.BlobPageIndexRoot < 0) {
        Problem("has BLOB fields but no BLOB page index");
      } else if (PageUsable(m.BlobPageIndexRoot, "BLOB page index root")) {
        TSDBBTreeBlobPageIndex index(FCache);
        index.OpenIndex(m.BlobPageIndexRoot);
        try {
          index.CheckIntegrity(kSession);
          ReachTree(m.BlobPageIndexRoot);
          // Pages of small values stay the table's while the index lists them.
          for (const auto& entry : index.GetAllEntries(kSession)) Reach(entry.first);
        } catch (const ESDBException& e) {
          Problem("BLOB page index (root page " + std::to_string(m.BlobPageIndexRoot) + "): " + e.RawMessage());
        }
      }
    }

    // The record page index and every record page it lists.
    if (!PageUsable(m.RecordPageIndexRoot, "record page index root")) return;
    TSDBBTreeRecordPageIndex index(FCache, maxRecords);
    index.OpenIndex(m.RecordPageIndexRoot);
    std::vector<std::pair<int32_t, uint16_t>> entries;
    try {
      index.CheckIntegrity(kSession);
      entries = index.GetAllEntries(kSession);
      ReachTree(m.RecordPageIndexRoot);
    } catch (const ESDBException& e) {
      Problem("record page index (root page " + std::to_string(m.RecordPageIndexRoot) + "): " + e.RawMessage());
      return;
    }
    int64_t indexed = 0;
    for (const auto& [page, count] : entries) {
      indexed += count;
      CheckRecordPage(page, count, maxRecords);
    }
    if (counted && indexed != stored)
      Problem("the record page index (root page " + std::to_string(m.RecordPageIndexRoot) + ") counts " +
              std::to_string(indexed) + " records but the most-updated file (page " +
              std::to_string(item.MostUpdatedFilePageNo) + ") records " + std::to_string(stored));

    // Record index trees, through the table as it opens.
    if (m.IndexDefs.Count() == 0) return;
    for (int i = 0; i < m.IndexDefs.Count(); ++i)
      PageUsable(m.IndexDefs[i].FRootPageNo, "index '" + m.IndexDefs[i].FName + "' root");
    CheckIndexes();
  }

 private:
  static constexpr int kSession = kSDBEngineSessionID;

  void Problem(const std::string& text) { Problems.push_back(FLabel + ": " + text); }

  void Reach(int32_t n) {
    if (FReached) FReached->insert(n);
  }

  // Every page of a tree, by the child links of its interior pages. Called
  // after the tree's own integrity check passed.
  void ReachTree(int32_t root) {
    if (!FReached) return;
    std::vector<int32_t> todo{root};
    std::set<int32_t> seen;
    const int32_t dataSize = FPM.PageDataSize();
    while (!todo.empty()) {
      const int32_t n = todo.back();
      todo.pop_back();
      if (n <= 0 || n >= FTotal || FPM.IsSystemPage(n) || !seen.insert(n).second) continue;
      Reach(n);
      TSDBPageGuard g = SDBGetPageGuard(FCache, kSession, n, ptTableIndex, false);
      const uint8_t* d = g->Buffer() + kSDBPageHeaderSize;
      if (d[1]) continue;  // a leaf
      const int32_t keySize = GetLE16(d + 12), count = GetLE16(d + 14);
      for (int32_t i = 0; i < count; ++i) {
        const int64_t at = kSDBBTreePageHeaderSize + int64_t{i} * (keySize + 4) + keySize;
        if (at + 4 > dataSize) break;
        todo.push_back(GetLEI32(d + at));
      }
    }
  }

  // A page a table structure refers to: inside the file, not a bitmap page,
  // and in use.
  bool PageUsable(int32_t n, const std::string& what) {
    if (n <= 0 || n >= FTotal) {
      Problem(what + " is page " + std::to_string(n) + ", outside the file (" + std::to_string(FTotal) + " pages)");
      return false;
    }
    if (FPM.IsSystemPage(n)) {
      Problem(what + " is page " + std::to_string(n) + ", a PFS or EAM page");
      return false;
    }
    if (!FDB.PageInUse(n)) {
      Problem(what + " is page " + std::to_string(n) + ", which is free");
      return false;
    }
    return true;
  }

  void CheckRecordPage(int32_t n, uint16_t count, int32_t maxRecords) {
    const std::string where = "record page " + std::to_string(n);
    if (!PageUsable(n, where)) return;
    Reach(n);
    TSDBPageGuard g;
    try {
      g = SDBGetPageGuard(FCache, kSession, n, kSDBAnyPageType, false);
    } catch (const ESDBException& e) {
      Problem(where + " cannot be read: " + e.RawMessage());
      return;
    }
    const uint8_t* b = g->Buffer();
    if (g->PageType() != ptTableRecord) {
      Problem(where + " is a " + TypeName(g->PageType()) + ", expected a " + TypeName(ptTableRecord));
      return;
    }
    const int32_t owner = GetLEI32(b + TSDBDiskPageHeader::kObjectIDOffset);
    if (owner != FItem.TableID)
      Problem(where + " belongs to table id " + std::to_string(owner) + ", not to this table's id " +
              std::to_string(FItem.TableID));
    if (g->State() >= 0x7FFFFFFE) Problem(where + " is marked removed (state " + std::to_string(g->State()) + ")");
    TSDBSmallRecordPage view(g.Get(), FFields->DiskRecordBufferSize(), maxRecords);
    const int onPage = view.RecordCount();
    if (onPage != count)
      Problem(where + " holds " + std::to_string(onPage) + " records but the record page index says " +
              std::to_string(count));
    if (!FBlobs) return;
    std::vector<int> blobFields;
    for (int f = 0; f < FFields->FieldCount(); ++f)
      if (FFields->FFieldDefs[f].IsBlob()) blobFields.push_back(f);
    for (int s = view.NextUsed(0); s >= 0; s = s + 1 < maxRecords ? view.NextUsed(s + 1) : -1) {
      const uint8_t* rec = view.Slot(s);
      for (int f : blobFields) {
        const TSDBFieldDef& def = FFields->FFieldDefs[f];
        TSDBPageItemID ref;
        ref.Load(rec + def.FDiskOffset);
        if (ref.PageNo == 0 || ref.PageNo == -1) continue;
        CheckBlob(ref, where + " slot " + std::to_string(s) + " field '" + def.FName + "'");
      }
    }
  }

  void CheckBlob(const TSDBPageItemID& ref, const std::string& where) {
    const std::string what = where + ": BLOB reference (page " + std::to_string(ref.PageNo) + ", item " +
                             std::to_string(ref.PageItemNo) + ")";
    if (!PageUsable(ref.PageNo, what)) return;
    Reach(ref.PageNo);
    try {
      TSDBPageGuard g = SDBGetPageGuard(FCache, kSession, ref.PageNo, kSDBAnyPageType, false);
      if (g->PageType() != ptTableBlob) {
        Problem(what + " names a " + TypeName(g->PageType()) + ", expected a " + TypeName(ptTableBlob));
        return;
      }
      // BLOB pages may carry no owner (-1): other writers of the format
      // leave it so; only record pages must name their table.
      const int32_t owner = GetLEI32(g->Buffer() + TSDBDiskPageHeader::kObjectIDOffset);
      if (owner != FItem.TableID && owner != -1) {
        Problem(what + " names a page of table id " + std::to_string(owner));
        return;
      }
    } catch (const ESDBException& e) {
      Problem(what + " cannot be read: " + e.RawMessage());
      return;
    }
    try {
      TSDBDiskBLOBCache value;
      FBlobs->LoadStoredBlob(kSession, ref, value);
      if (ref.PageItemNo == kSDBLargeBlobItemID)
        for (int32_t p : FBlobs->LargeBlobPages(kSession, ref.PageNo)) {
          if (!PageUsable(p, what + " data")) break;
          Reach(p);
        }
    } catch (const ESDBException& e) {
      Problem(what + " cannot be resolved: " + e.RawMessage());
    }
  }

  void CheckIndexes() {
    TSDBCursor cursor;
    cursor.SessionID = kSession;
    try {
      FDB.OpenTable(cursor, FItem.TableName);
    } catch (const ESDBException& e) {
      Problem("cannot be opened to check its indexes: " + e.RawMessage());
      return;
    }
    TSDBDiskTableData& table = *cursor.TableData;
    const TSDBIndexDefs& defs = table.IndexDefs();
    for (int i = 0; i < defs.Count(); ++i) {
      if (defs[i].FTemporary) continue;
      const std::string what = "index '" + defs[i].FName + "' (root page " + std::to_string(defs[i].FRootPageNo) + ")";
      try {
        TSDBBTreeRecordIndex& index = table.IndexManager().OpenIndex(defs[i].FObjectID);
        index.CheckIntegrity(kSession);
        ReachTree(defs[i].FRootPageNo);
        const int64_t entries = index.GetEntryCount(kSession);
        const int64_t records = table.GetRecordCount(kSession);
        if (entries != records)
          Problem(what + " holds " + std::to_string(entries) + " entries for " + std::to_string(records) + " records");
      } catch (const ESDBException& e) {
        Problem(what + ": " + e.RawMessage());
      }
    }
    try {
      FDB.CloseTable(cursor);
    } catch (const ESDBException&) {
    }
  }

  TSDBTableDatabase& FDB;
  TSDBDiskPageCache& FCache;
  TSDBDiskPageManager& FPM;
  std::vector<std::string>& Problems;
  std::set<int32_t>* FReached;
  TSDBTableListItem FItem;
  std::string FLabel;
  int32_t FTotal = 0;
  TSDBBaseFieldManager* FFields = nullptr;
  std::unique_ptr<TSDBDiskBlobManager> FBlobs;
};

}  // namespace

void SDBCheckFileStructure(TSDBDiskPageCache& Cache, std::vector<std::string>& Problems) {
  TChecker checker(Cache);
  checker.Run();
  Problems.insert(Problems.end(), checker.Problems.begin(), checker.Problems.end());
}

namespace {

int CheckTables(TSDBTableDatabase& Database, std::vector<std::string>& Problems, std::set<int32_t>* Reached) {
  std::vector<TSDBTableListItem> items;
  try {
    Database.TableListFile().Load(kSDBEngineSessionID);
    items = Database.TableListFile().Items();
  } catch (const ESDBException& e) {
    Problems.push_back("table list cannot be read: " + e.RawMessage());
    return 0;
  }
  for (const auto& item : items) {
    TTableChecker checker(Database, Problems, Reached);
    try {
      checker.Run(item);
    } catch (const ESDBException& e) {
      // Damage the checks above did not foresee still names the table.
      Problems.push_back("table '" + item.TableName + "': " + e.RawMessage());
    }
  }
  return static_cast<int>(items.size());
}

}  // namespace

int SDBCheckTables(TSDBTableDatabase& Database, std::vector<std::string>& Problems) {
  return CheckTables(Database, Problems, nullptr);
}

TSDBDatabaseWalk SDBWalkDatabase(TSDBMaintenanceDatabase& Database) {
  TSDBDatabaseWalk walk;
  std::set<int32_t> tablePages;
  walk.TableCount = CheckTables(Database, walk.TableProblems, &tablePages);
  walk.TablesComplete = walk.TableProblems.empty();
  TChecker checker(Database.Cache(), walk.TablesComplete ? &tablePages : nullptr, &walk);
  checker.Run();
  walk.Problems = std::move(checker.Problems);
  walk.Reached.insert(tablePages.begin(), tablePages.end());
  return walk;
}

TSDBDatabaseCheckResult SDBCheckDatabase(const std::string& FileName, const std::string& Password) {
  TSDBDatabaseCheckResult result;
  // The tables first: when every table could be walked, the pages they
  // reach tell which table pages belong to nobody.
  std::vector<std::string> tableProblems;
  std::set<int32_t> tablePages;
  bool tablesWalked = false;
  {
    TSDBTableDatabase db(200);
    try {
      db.OpenDatabase(FileName, Password, true);
      tablesWalked = true;
    } catch (const ESDBException& e) {
      tableProblems.push_back("the tables cannot be checked: " + e.RawMessage());
    }
    if (tablesWalked) {
      result.TableCount = CheckTables(db, tableProblems, &tablePages);
      db.CloseDatabase();
    }
  }
  {
    TSDBDiskPageCache cache;
    bool readOnly = true, multiUser = false, repairNeeded = false;
    cache.OpenDatabase(FileName, TSDBPassword{Password, kSDBDefaultCryptoAlgorithm}, readOnly, repairNeeded, false,
                       multiUser);
    TChecker checker(cache, tablesWalked && tableProblems.empty() ? &tablePages : nullptr);
    checker.Run();
    result.Problems = std::move(checker.Problems);
    result.Reclaimable = std::move(checker.Reclaimable);
    cache.CloseDatabase();
  }
  result.Problems.insert(result.Problems.end(), tableProblems.begin(), tableProblems.end());
  return result;
}

}  // namespace sdb
