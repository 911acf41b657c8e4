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
#include "sdb/SDBException.h"
#include "storage/maintenance/SDBDatabaseCheck.h"
#include "storage/file/SDBDiskPageCache.h"
#include "storage/file/SDBSystemDirectory.h"

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

std::string TypeName(uint16_t type) { return SDBCheckPageTypeName(type); }

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
    "  internal file reachable from the system directory; then every table: its\n"
    "  metadata and counters, the record page index against the stored record\n"
    "  count, each record page's type and owner, every BLOB reference, the BLOB\n"
    "  page index and every index tree. Prints each problem (naming the table\n"
    "  and the page) and exits with 1 when there is any. The file is opened\n"
    "  read-only.\n";

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
  // The same judgement as the check's: pages a writer allocated and never
  // committed are reclaimable, not lost.
  try {
    std::cout << "reclaimable pages    " << SDBCheckDatabase(file, password).Reclaimable.size() << "\n";
  } catch (const ESDBException&) {
  }

  TSDBDatabaseFreeSpaceManager& fsm = cache.FreeSpaceManager();
  const int32_t total = h.TotalPageCount;
  int64_t present = (pm.DatabaseFile().GetSize() - pm.OffsetToFirstPage()) / std::max<int>(pm.PageSize(), 1);
  const auto scan = static_cast<int32_t>(std::clamp<int64_t>(present, 0, std::max(total, 0)));
  std::vector<bool> used = SDBReadPFSBits(pm, fsm, scan, nullptr);
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

int CmdCheck(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << kCheckUsage;
    return 0;
  }
  Args args = argsIn;
  std::string password;
  TakeOption(args, "--password", password);
  std::string file = TakeFile(args, kCheckUsage);
  TSDBDatabaseCheckResult result;
  try {
    result = SDBCheckDatabase(file, password);
  } catch (const ESDBException& e) {
    std::cout << file << ": " << e.what() << "\n";
    return 1;
  }
  for (const auto& p : result.Problems) std::cout << file << ": " << p << "\n";
  if (!result.Reclaimable.empty())
    std::cout << file << ": " << result.Reclaimable.size()
              << " page(s) reclaimable: allocated by a writer that stopped before committing (repair frees them)\n";
  if (result.Problems.empty()) {
    std::cout << file << ": no problems found (" << result.TableCount << " table(s))\n";
    return 0;
  }
  std::cout << result.Problems.size() << " problem(s) found\n";
  return 1;
}

}  // namespace tessdb
