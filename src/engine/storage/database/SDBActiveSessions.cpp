#include "storage/database/SDBActiveSessions.h"

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
    throw ESDBException(20237, "Invalid database format");
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
  if (!LockWholeFile()) throw ESDBException(20093, "Cannot unlock sessions file");
  int id = -1;
  try {
    for (int s = 0; s < FMaxSessionCount && id < 0; ++s)
      if (FHandle.LockByte(s)) id = s;
  } catch (...) {
    FHandle.UnlockFile();
    throw;
  }
  UnlockWholeFile(20093);
  if (id < 0)
    throw ESDBException(20094,
                        "Cannot connect session. Maximum connections quantity exceeded or database is open in "
                        "single-user mode");
  return id;
}

void TSDBActiveSessionsFile::MultiUserDisconnect(int SessionID) {
  if (!LockWholeFile()) throw ESDBException(20096, "Cannot unlock sessions file");
  const bool ok = SessionID >= 0 && SessionID < FMaxSessionCount && FHandle.UnlockByte(SessionID);
  UnlockWholeFile(20096);
  if (!ok) throw ESDBException(20095, "Cannot disconnect session");
}

bool TSDBActiveSessionsFile::SingleUserConnect() {
  if (!LockWholeFile()) throw ESDBException(20240, "Cannot unlock sessions file");
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
  UnlockWholeFile(20240);
  return taken;
}

void TSDBActiveSessionsFile::SingleUserDisconnect() {
  if (!LockWholeFile()) throw ESDBException(20241, "Cannot unlock sessions file");
  for (int s = 0; s < FMaxSessionCount; ++s) FHandle.UnlockByte(s);
  UnlockWholeFile(20241);
}

int TSDBActiveSessionsFile::GetDBFileConnectionsCount() {
  if (!LockWholeFile()) throw ESDBException(30484, "Cannot unlock sessions file");
  int count = 0;
  try {
    for (int s = 0; s < FMaxSessionCount; ++s)
      if (FHandle.IsByteLocked(s)) ++count;
  } catch (...) {
    FHandle.UnlockFile();
    throw;
  }
  UnlockWholeFile(30484);
  return count;
}

bool TSDBActiveSessionsFile::IsSessionConnected(int SessionID) {
  return SessionID >= 0 && SessionID < FMaxSessionCount && FHandle.IsByteLocked(SessionID);
}

}  // namespace sdb
