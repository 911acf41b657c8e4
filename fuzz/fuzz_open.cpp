// Arbitrary bytes opened as a database file, with and without a password:
// opening and reading its pages must fail cleanly (ESDBException), never
// crash or hang, and must never change the file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sdb/SDBException.h"
#include "storage/file/SDBPageManager.h"

namespace {

std::string TempFile() {
  static const std::string name = "/tmp/sdb_fuzz_open_" + std::to_string(getpid()) + ".sdb";
  return name;
}

std::vector<uint8_t> ReadBack(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void TryOpen(const std::string& file, const std::string& password, bool readOnly) {
  sdb::TSDBDiskPageManager pm;
  pm.LockTryCount = 1;
  try {
    bool ro = readOnly, repair = false, multi = true;
    pm.OpenDatabase(file, sdb::TSDBPassword{password, sdb::craRijndael_128}, ro, repair, false, multi);
    std::vector<uint8_t> page(pm.PageSize());
    const int32_t pages = pm.DBHeader().TotalPageCount < 8 ? pm.DBHeader().TotalPageCount : 8;
    for (int32_t p = 0; p < pages; ++p) {
      try {
        pm.InternalReadPage(p, page.data());
      } catch (const sdb::ESDBException&) {
      }
    }
    uint8_t region[16];
    try {
      pm.ReadPageRegion(region, 0, 0, sizeof region);
    } catch (const sdb::ESDBException&) {
    }
    pm.InternalReadPageState(1);
  } catch (const sdb::ESDBException&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = TempFile();
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  TryOpen(file, "", false);
  TryOpen(file, "fuzz password", false);
  TryOpen(file, "", true);
  const auto after = ReadBack(file);
  if (after.size() != size || (size > 0 && std::memcmp(after.data(), data, size) != 0)) {
    std::fprintf(stderr, "the database file was modified by opening it\n");
    std::abort();
  }
  return 0;
}
