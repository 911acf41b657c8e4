// tessaly-db create / info / check: make a new database file, show its
// header areas and page usage, and verify its structure.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "Commands.h"
#include "common/SDBBytes.h"
#include "common/SDBException.h"
#include "storage/SDBDiskPageCache.h"
#include "storage/SDBSystemDirectory.h"

namespace tessdb {

using namespace sdb;

namespace {

struct TCipherName {
  const char* Name;
  TSDBCryptoAlgorithm Algorithm;
};
constexpr TCipherName kCiphers[] = {
    {"rijndael128", craRijndael_128}, {"rijndael256", craRijndael_256}, {"des", craDES_Single},
    {"3des", craDES_Triple},          {"blowfish", craBlowfish},        {"twofish128", craTwofish_128},
    {"twofish256", craTwofish_256},   {"square", craSquare}};

int ParseInt(const std::string& option, const std::string& text, int low, int high) {
  size_t used = 0;
  long v = 0;
  try {
    v = std::stol(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || text.empty() || v < low || v > high)
    throw std::invalid_argument(option + " needs a whole number from " + std::to_string(low) + " to " +
                                std::to_string(high) + ", not '" + text + "'");
  return static_cast<int>(v);
}

// The one positional argument left after the options were taken.
std::string TakeFile(Args& args, const char* usage) {
  for (const auto& a : args)
    if (a.size() > 1 && a[0] == '-') throw std::invalid_argument("unknown option " + a + "\n" + usage);
  if (args.size() != 1) throw std::invalid_argument(std::string("expected one FILE\n") + usage);
  return args[0];
}

std::string TypeName(uint16_t type) {
  try {
    return SDBPageTypeName(type);
  } catch (const ESDBException&) {
    return "Unknown Page Type: (" + std::to_string(type) + ")";
  }
}

std::string CipherName(uint8_t algorithm) {
  for (const auto& c : kCiphers)
    if (c.Algorithm == algorithm) return c.Name;
  return "unknown (" + std::to_string(algorithm) + ")";
}

// Opens a database read-only, so that neither info nor check ever writes.
void OpenReadOnly(TSDBDiskPageCache& cache, const std::string& file, const std::string& password, bool& repairNeeded) {
  bool readOnly = true, multiUser = false;
  repairNeeded = false;
  cache.OpenDatabase(file, TSDBPassword{password, kSDBDefaultCryptoAlgorithm}, readOnly, repairNeeded, false,
                     multiUser);
}

// Page usage as the PFS pages record it (bits of pages below the end).
std::vector<bool> ReadPFSBits(TSDBDiskPageManager& pm, TSDBDatabaseFreeSpaceManager& fsm, int32_t total,
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
                            TypeName(SDBGetPageType(page.data())));
      continue;
    }
    for (int32_t r = 0; r < perPFS && pfs + r < total; ++r)
      used[static_cast<size_t>(pfs + r)] = (page[kSDBPageHeaderSize + r / 8] >> (r % 8)) & 1;
  }
  return used;
}

// ---------------------------------------------------------------------------

const char* kCreateUsage =
    "usage: tessaly-db create FILE [--password P] [--cipher NAME] [--page-size N] [--max-connections N]\n"
    "  Creates a new database file (an existing file is replaced).\n"
    "  --password P         encipher the pages with password P\n"
    "  --cipher NAME        rijndael128 (default), rijndael256, des, 3des, blowfish,\n"
    "                       twofish128, twofish256, square\n"
    "  --page-size N        bytes per page, 512 to 65535 (default 4096)\n"
    "  --max-connections N  sessions that may connect at once (default 500)\n";

const char* kInfoUsage =
    "usage: tessaly-db info FILE [--password P]\n"
    "  Shows the database header, the crypto header, the counters and how many\n"
    "  pages of each type the file holds. The file is opened read-only.\n";

const char* kCheckUsage =
    "usage: tessaly-db check FILE [--password P]\n"
    "  Verifies the header areas, every page's signature (and check value when\n"
    "  enciphered), the PFS and EAM bitmaps against the pages in use, and every\n"
    "  internal file reachable from the system directory. Prints each problem\n"
    "  and exits with 1 when there is any. The file is opened read-only.\n";

}  // namespace

int CmdCreate(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << kCreateUsage;
    return 0;
  }
  Args args = argsIn;
  TSDBCreateDatabaseParams params;
  std::string value;
  if (TakeOption(args, "--password", value)) params.Password = value;
  if (TakeOption(args, "--cipher", value)) {
    bool found = false;
    for (const auto& c : kCiphers)
      if (value == c.Name) {
        params.CryptoAlgorithm = c.Algorithm;
        found = true;
      }
    if (!found) throw std::invalid_argument("unknown cipher '" + value + "'\n" + kCreateUsage);
  }
  if (TakeOption(args, "--page-size", value))
    params.PageSize = static_cast<uint16_t>(ParseInt("--page-size", value, 512, 65535));
  if (TakeOption(args, "--max-connections", value))
    params.MaxConnections = ParseInt("--max-connections", value, 1, 1000000);
  params.FileName = TakeFile(args, kCreateUsage);
  TSDBDiskPageCache cache;
  SDBCreateDatabase(cache, params);
  int32_t total = cache.DiskPageManager().DBHeader().TotalPageCount;
  cache.CloseDatabase();
  std::cout << "created " << params.FileName << ": page size " << params.PageSize << ", " << total << " pages, "
            << params.MaxConnections << " connections, "
            << (params.Password.empty() ? std::string("not enciphered") : "enciphered with " + CipherName(params.CryptoAlgorithm))
            << "\n";
  return 0;
}

int CmdInfo(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << kInfoUsage;
    return 0;
  }
  Args args = argsIn;
  std::string password;
  TakeOption(args, "--password", password);
  std::string file = TakeFile(args, kInfoUsage);
  TSDBDiskPageCache cache;
  bool repair = false;
  OpenReadOnly(cache, file, password, repair);
  TSDBDiskPageManager& pm = cache.DiskPageManager();
  pm.ReadDBHeader();
  const TSDBDBHeader& h = pm.DBHeader();
  const TSDBCryptoHeader& c = pm.CryptoHeader();
  uint8_t raw[4] = {};
  pm.DatabaseFile().ReadBuffer(raw, 30400, pm.OffsetToLastObjectID(), 4);

  std::cout << "file                 " << file << "\n"
            << "header offset        " << pm.OffsetToDBHeader() << "\n"
            << "database header\n"
            << "  Signature          " << h.SignatureText() << "\n"
            << "  HeaderSize         " << h.HeaderSize << "\n"
            << "  Version            " << h.Version << "\n"
            << "  PageSize           " << h.PageSize << "\n"
            << "  PageCountInExtent  " << h.PageCountInExtent << "\n"
            << "  TotalPageCount     " << h.TotalPageCount << "\n"
            << "  LastUsedPageNo     " << h.LastUsedPageNo << "\n"
            << "  State              " << h.State << "\n"
            << "  WriteChangesState  " << int{h.WriteChangesState}
            << (h.WriteChangesState == kSDBWriteChangesConsistent ? " (consistent)" : " (interrupted commit)") << "\n"
            << "  Encrypted          " << (h.Encrypted ? "yes" : "no") << "\n"
            << "crypto header\n"
            << "  CryptoHeaderSize   " << c.CryptoHeaderSize << "\n"
            << "  CryptoAlgorithm    " << int{c.CryptoAlgorithm} << " (" << CipherName(c.CryptoAlgorithm) << ")\n"
            << "  CryptoMode         " << int{c.CryptoMode} << "\n"
            << "  ControlBlockCRC    " << c.ControlBlockCRC << "\n"
            << "lock-byte block\n"
            << "  LockedByteSize     " << pm.LockedBytes().LockedByteSize << "\n"
            << "last object id       " << GetLEI32(raw) << "\n"
            << "file size            " << pm.DatabaseFile().GetSize() << "\n"
            << "repair needed        " << (repair ? "yes" : "no") << "\n";

  TSDBDatabaseFreeSpaceManager& fsm = cache.FreeSpaceManager();
  const int32_t total = h.TotalPageCount;
  int64_t present = (pm.DatabaseFile().GetSize() - pm.OffsetToFirstPage()) / std::max<int>(pm.PageSize(), 1);
  const auto scan = static_cast<int32_t>(std::clamp<int64_t>(present, 0, std::max(total, 0)));
  std::vector<bool> used = ReadPFSBits(pm, fsm, scan, nullptr);
  std::map<std::string, int> byType;
  int freePages = 0;
  uint8_t header[kSDBPageHeaderSize];
  for (int32_t n = 0; n < scan; ++n) {
    if (!fsm.IsSystemPage(n) && !used[static_cast<size_t>(n)]) {
      ++freePages;
      continue;
    }
    pm.ReadPageRegion(header, n, 0, kSDBPageHeaderSize);
    ++byType[TypeName(SDBGetPageType(header))];
  }
  std::cout << "pages by type\n";
  for (const auto& [name, count] : byType) std::cout << "  " << name << std::string(28 - std::min<size_t>(name.size(), 27), ' ') << count << "\n";
  std::cout << "  free" << std::string(24, ' ') << freePages << "\n";
  if (scan < total) std::cout << "  missing (file too short)   " << total - scan << "\n";
  cache.CloseDatabase();
  return 0;
}

// ---------------------------------------------------------------------------

namespace {

class TChecker {
 public:
  TChecker(TSDBDiskPageCache& cache) : FCache(cache), FPM(cache.DiskPageManager()), FFSM(cache.FreeSpaceManager()) {}

  std::vector<std::string> Problems;

  void Run() {
    const TSDBDBHeader& h = FPM.DBHeader();
    FTotal = h.TotalPageCount;
    if (h.HeaderSize != kSDBDBHeaderSize) Problem("HeaderSize is " + std::to_string(h.HeaderSize) + ", expected 76");
    if (FPM.CryptoHeader().CryptoHeaderSize != kSDBCryptoHeaderSize)
      Problem("CryptoHeaderSize is " + std::to_string(FPM.CryptoHeader().CryptoHeaderSize) + ", expected 280");
    if (FPM.LockedBytes().LockedByteSize != kSDBLockedBytesSize)
      Problem("LockedByteSize is " + std::to_string(FPM.LockedBytes().LockedByteSize) + ", expected 20");
    if (h.WriteChangesState != kSDBWriteChangesConsistent)
      Problem("WriteChangesState is " + std::to_string(h.WriteChangesState) +
              ": a commit was interrupted, the database needs repair");
    if (h.Version < kSDBMinVersionWithoutRepair) Problem("Version " + std::to_string(h.Version) + " is an old format");
    if (FTotal < 0) Problem("TotalPageCount is negative (" + std::to_string(FTotal) + ")");
    int64_t present = (FPM.DatabaseFile().GetSize() - FPM.OffsetToFirstPage()) / FPM.PageSize();
    int64_t expected = FPM.OffsetToFirstPage() + int64_t{std::max(FTotal, 0)} * FPM.PageSize();
    if (FPM.DatabaseFile().GetSize() != expected)
      Problem("file size is " + std::to_string(FPM.DatabaseFile().GetSize()) + " bytes, expected " +
              std::to_string(expected) + " for " + std::to_string(FTotal) + " pages");
    FScan = static_cast<int32_t>(std::clamp<int64_t>(present, 0, std::max(FTotal, 0)));
    if (FScan < FTotal) Problem("the file ends after " + std::to_string(FScan) + " of its " + std::to_string(FTotal) + " pages");

    FUsed = ReadPFSBits(FPM, FFSM, FScan, &Problems);
    CheckBitmapPages();
    CheckPages();
    FollowFiles();
    CheckUsage();
  }

 private:
  void Problem(const std::string& text) { Problems.push_back(text); }
  bool InFile(int32_t n) const { return n >= 0 && n < FScan; }
  bool Used(int32_t n) const { return InFile(n) && FUsed[static_cast<size_t>(n)]; }

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
      if (reach != FReachable.end() && !used)
        Problem("page " + std::to_string(n) + " (" + reach->second + ") is in use but marked free in the PFS");
      if (used && !sys && reach == FReachable.end()) {
        auto type = FTypes.find(n);
        // Record, BLOB and index pages are reached through the tables'
        // page indexes, which are not followed here.
        bool tableData = type != FTypes.end() && type->second >= ptTableRecord && type->second <= ptTableIndex;
        if (!(FHasTables && tableData))
          Problem("page " + std::to_string(n) + " (" + (type == FTypes.end() ? std::string("?") : TypeName(type->second)) +
                  ") is marked used but belongs to no file");
      }
    }
    if (FScan == FTotal && highest != FPM.DBHeader().LastUsedPageNo)
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
  std::vector<bool> FUsed;
  std::map<int32_t, uint16_t> FTypes;
  std::map<int32_t, std::string> FReachable;
};

}  // namespace

int CmdCheck(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << kCheckUsage;
    return 0;
  }
  Args args = argsIn;
  std::string password;
  TakeOption(args, "--password", password);
  std::string file = TakeFile(args, kCheckUsage);
  TSDBDiskPageCache cache;
  bool repair = false;
  try {
    OpenReadOnly(cache, file, password, repair);
  } catch (const ESDBException& e) {
    std::cout << file << ": " << e.what() << "\n";
    return 1;
  }
  TChecker checker(cache);
  checker.Run();
  cache.CloseDatabase();
  for (const auto& p : checker.Problems) std::cout << file << ": " << p << "\n";
  if (checker.Problems.empty()) {
    std::cout << file << ": no problems found\n";
    return 0;
  }
  std::cout << checker.Problems.size() << " problem(s) found\n";
  return 1;
}

}  // namespace tessdb
