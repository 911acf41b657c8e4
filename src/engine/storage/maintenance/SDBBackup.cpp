#include "storage/maintenance/SDBBackup.h"

#include <algorithm>
#include <vector>

#include "platform/SDBFileHandle.h"
#include "platform/SDBFileIO.h"
#include "platform/SDBPlatform.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "storage/file/SDBPageManager.h"

namespace sdb {

namespace {

constexpr int64_t kChunk = 1 << 20;

struct THeaderLock {
  TSDBDiskPageManager& PM;
  explicit THeaderLock(TSDBDiskPageManager& pm) : PM(pm) {
    if (!PM.WaitLockDBHeader()) throw ESDBException(kSDBErrDatabaseLocked, "Database is locked");
  }
  ~THeaderLock() { PM.UnlockDBHeader(); }
  THeaderLock(const THeaderLock&) = delete;
  THeaderLock& operator=(const THeaderLock&) = delete;
};

[[noreturn]] void WriteError(const std::string& file, int err) {
  throw ESDBException(kSDBErrBackupWrite, "Cannot write the backup '%s'. ErrorCode:%d. ErrorMessage: %s",
                      {file, static_cast<int64_t>(err), SDBSystemErrorMessage(err)});
}

}  // namespace

TSDBBackupReport SDBBackupDatabase(const std::string& FileName, const std::string& Destination,
                                   const std::string& Password) {
  TSDBBackupReport report;
  const std::string temp = Destination + kSDBBackupSuffix;
  TSDBDiskPageManager pm;
  bool readOnly = false, repairNeeded = false, multiUser = true;
  pm.OpenDatabase(FileName, TSDBPassword{Password, kSDBDefaultCryptoAlgorithm}, readOnly, repairNeeded, false,
                  multiUser);
  try {
    {
      THeaderLock lock(pm);
      // Taking the lock applied any journal of a committer that died; what
      // remains interrupted was left by a program without the journal.
      pm.ReadDBHeader();
      if (pm.DBHeader().WriteChangesState != kSDBWriteChangesConsistent)
        throw ESDBException(kSDBErrBackupNeedsRepair, "Cannot back up database file '%s': it needs repair first",
                            {FileName});
      TSDBFileHandle out;
      if (int err = out.Create(temp)) WriteError(temp, err);
      TSDBDatabaseFile& in = pm.DatabaseFile();
      const int64_t size = in.GetSize();
      std::vector<uint8_t> buf(static_cast<size_t>(std::min(size, kChunk)));
      for (int64_t pos = 0; pos < size; pos += kChunk) {
        const int64_t n = std::min(kChunk, size - pos);
        in.ReadBuffer(buf.data(), kSDBErrReadDatabasePage, pos, n);
        size_t done = 0;
        if (int err = out.Write(buf.data(), static_cast<uint64_t>(pos), static_cast<size_t>(n), done))
          WriteError(temp, err);
      }
      if (int err = out.Flush()) WriteError(temp, err);
      out.Close();
      report.Bytes = size;
    }
    pm.CloseDatabase();
    if (int err = SDBRenameFile(temp, Destination)) WriteError(Destination, err);
    // The new name is part of the backup: make it durable too.
    if (int err = SDBFlushDirectoryOf(Destination)) WriteError(Destination, err);
  } catch (...) {
    try {
      pm.CloseDatabase();
    } catch (...) {
    }
    SDBDeleteFile(temp);
    throw;
  }
  return report;
}

}  // namespace sdb
