// The active-sessions file: one byte per session identifier, locked while
// that session is connected (the values are never written). Connecting and
// disconnecting run under the lock of the whole file, so two sessions never
// race for one identifier. A single-user connection locks every byte, which
// keeps multi-user sessions out and shows as "full" to them.
#pragma once

#include <cstdint>
#include <memory>

#include "storage/file/SDBInternalFile.h"

namespace sdb {

class TSDBActiveSessionsFile {
 public:
  explicit TSDBActiveSessionsFile(TSDBDiskPageManager& PageManager);

  // Answers the first page number.
  int32_t CreateFile(int32_t aMaxSessionCount);
  void OpenFile(int32_t aStartPageNo);
  void CloseFile();
  bool IsOpen() const { return FHandle.IsOpen(); }
  int32_t MaxSessionCount() const { return FMaxSessionCount; }

  // The lowest identifier whose byte could be locked. Outside multi-user
  // mode answers 0.
  int MultiUserConnect();
  void MultiUserDisconnect(int SessionID);
  // Takes every byte when no byte is locked; answers whether it could.
  bool SingleUserConnect();
  void SingleUserDisconnect();
  // Locked bytes, by whoever holds them (a single-user holder counts N).
  int GetDBFileConnectionsCount();
  // Whether session s's byte is locked (tools; held through this handle too).
  bool IsSessionConnected(int SessionID);

  // Waits of the file lock (tests shorten them).
  int LockTryCount = 4500;
  uint32_t LockDelayMs = 20;

 private:
  bool LockWholeFile();
  void UnlockWholeFile(int ErrorCode);

  TSDBDiskPageManager& LPageManager;
  TSDBInternalDBDirectAccessFile FHandle;
  int32_t FMaxSessionCount = 0;
};

}  // namespace sdb
