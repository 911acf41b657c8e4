#include "storage/database/SDBActiveSessions.h"

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "platform/SDBPlatform.h"

namespace sdb {

TSDBActiveSessionsFile::TSDBActiveSessionsFile(TSDBDiskPageManager& PageManager)
    : LPageManager(PageManager), FHandle(PageManager, ptActiveSessionList) {}

int32_t TSDBActiveSessionsFile::CreateFile(int32_t aMaxSessionCount) {
  FHandle.CreateFile(aMaxSessionCount);
  FMaxSessionCount = aMaxSessionCount;
  return FHandle.StartPageNo();
}

void TSDBActiveSessionsFile::OpenFile(int32_t aStartPageNo) {
  FHandle.OpenFile(aStartPageNo);
  FMaxSessionCount = FHandle.GetSize();
  if (FMaxSessionCount < 1) {
    FHandle.CloseFile();
    throw ESDBException(kSDBErrInvalidDatabaseFormat, "Invalid database format");
  }
}

void TSDBActiveSessionsFile::CloseFile() {
  FHandle.CloseFile();
  FMaxSessionCount = 0;
}

bool TSDBActiveSessionsFile::LockWholeFile() {
  return SDBRetry(LockTryCount, LockDelayMs, [this] { return FHandle.LockFile(); });
}

void TSDBActiveSessionsFile::UnlockWholeFile(int ErrorCode) {
  if (!FHandle.UnlockFile()) throw ESDBException(ErrorCode, "Cannot unlock sessions file");
}

// When the file lock cannot be had, nothing is touched: a connect that did
// not hold the lock could race another one for the same identifier.
int TSDBActiveSessionsFile::MultiUserConnect() {
  if (!LPageManager.MultiUser()) return 0;
  if (!LockWholeFile()) throw ESDBException(kSDBErrSessionsFileUnlockConnect, "Cannot unlock sessions file");
  int id = -1;
  try {
    for (int s = 0; s < FMaxSessionCount && id < 0; ++s)
      if (FHandle.LockByte(s)) id = s;
  } catch (...) {
    FHandle.UnlockFile();
    throw;
  }
  UnlockWholeFile(kSDBErrSessionsFileUnlockConnect);
  if (id < 0)
    throw ESDBException(kSDBErrTooManyConnections,
                        "Cannot connect session. Maximum connections quantity exceeded or database is open in "
                        "single-user mode");
  return id;
}

void TSDBActiveSessionsFile::MultiUserDisconnect(int SessionID) {
  if (!LockWholeFile()) throw ESDBException(kSDBErrSessionsFileUnlockDisconnect, "Cannot unlock sessions file");
  const bool ok = SessionID >= 0 && SessionID < FMaxSessionCount && FHandle.UnlockByte(SessionID);
  UnlockWholeFile(kSDBErrSessionsFileUnlockDisconnect);
  if (!ok) throw ESDBException(kSDBErrDisconnectSession, "Cannot disconnect session");
}

bool TSDBActiveSessionsFile::SingleUserConnect() {
  if (!LockWholeFile()) throw ESDBException(kSDBErrSessionsFileUnlockSingleConnect, "Cannot unlock sessions file");
  bool taken = false;
  try {
    if (!FHandle.IsRegionLocked(0, FMaxSessionCount)) {
      int s = 0;
      while (s < FMaxSessionCount && FHandle.LockByte(s)) ++s;
      taken = s == FMaxSessionCount;
      if (!taken)
        while (s-- > 0) FHandle.UnlockByte(s);
    }
  } catch (...) {
    FHandle.UnlockFile();
    throw;
  }
  UnlockWholeFile(kSDBErrSessionsFileUnlockSingleConnect);
  return taken;
}

void TSDBActiveSessionsFile::SingleUserDisconnect() {
  if (!LockWholeFile()) throw ESDBException(kSDBErrSessionsFileUnlockSingleDisconnect, "Cannot unlock sessions file");
  for (int s = 0; s < FMaxSessionCount; ++s) FHandle.UnlockByte(s);
  UnlockWholeFile(kSDBErrSessionsFileUnlockSingleDisconnect);
}

int TSDBActiveSessionsFile::GetDBFileConnectionsCount() {
  if (!LockWholeFile()) throw ESDBException(kSDBErrSessionsFileUnlockCount, "Cannot unlock sessions file");
  int count = 0;
  try {
    for (int s = 0; s < FMaxSessionCount; ++s)
      if (FHandle.IsByteLocked(s)) ++count;
  } catch (...) {
    FHandle.UnlockFile();
    throw;
  }
  UnlockWholeFile(kSDBErrSessionsFileUnlockCount);
  return count;
}

bool TSDBActiveSessionsFile::IsSessionConnected(int SessionID) {
  return SessionID >= 0 && SessionID < FMaxSessionCount && FHandle.IsByteLocked(SessionID);
}

}  // namespace sdb
