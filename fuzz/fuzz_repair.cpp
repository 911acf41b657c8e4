// Repair of a damaged database file: it must either fail cleanly
// (ESDBException) or leave a file that opens, and whatever the full check
// still finds there must have been reported in the repair's log — a repair
// that reports a sound file over one still damaged would send the user on
// with broken data. Never a crash, hang or leak.
//
// Seeds: the database fuzz_tables writes (SDB_FUZZ_WRITE_SEED=FILE
// ./fuzz_tables), and damaged copies of it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "sdb/SDBException.h"
#include "storage/maintenance/SDBDatabaseCheck.h"
#include "storage/maintenance/SDBRepair.h"

namespace {

std::string TempFile() {
  static const std::string name = "/tmp/sdb_fuzz_repair_" + std::to_string(getpid()) + ".sdb";
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sdb;
  const std::string file = TempFile();
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  TSDBRepairReport report;
  try {
    report = SDBRepairDatabase(file, {});
  } catch (const ESDBException&) {
    return 0;
  }
  TSDBDatabaseCheckResult check;
  try {
    check = SDBCheckDatabase(file);
  } catch (const ESDBException& e) {
    std::fprintf(stderr, "the repaired file does not open: %s\n", e.what());
    std::abort();
  }
  if (!check.Ok() && report.Log.empty()) {
    std::fprintf(stderr, "the repair reported a sound file, the check still finds:\n");
    for (const auto& p : check.Problems) std::fprintf(stderr, "  %s\n", p.c_str());
    std::abort();
  }
  return 0;
}
