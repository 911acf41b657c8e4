// TSDBDatabaseFile: the database's operating-system file.
//
// Reads, writes, size, position, flush and lock operations are retried once
// after a reopen when the handle has gone bad (its size can no longer be
// read): the file is closed and reopened with its original access and share
// modes, up to 3 attempts 1 s apart. A byte-range lock refused with a
// critical platform error (see SDBIsCriticalError) sets WasCriticalError
// and reports the lock as taken, so that lock loops do not spin on a lost
// network connection; after a successful reopen the flag is cleared and the
// lock is tried once more.
#pragma once

#include <cstdint>
#include <string>

#include "platform/SDBFileHandle.h"
#include "sdb/SDBErrors.h"

namespace sdb {

enum TSDBAccessMode : uint8_t { amReadOnly, amReadWrite };
enum TSDBShareMode : uint8_t { smExclusive, smShareDenyNone, smShareDenyWrite };

class TSDBDatabaseFile {
 public:
  TSDBDatabaseFile() = default;
  ~TSDBDatabaseFile();
  TSDBDatabaseFile(const TSDBDatabaseFile&) = delete;
  TSDBDatabaseFile& operator=(const TSDBDatabaseFile&) = delete;

  // Creates the file read/write and exclusive; an existing file loses its
  // read-only attribute and is deleted first.
  void CreateAndOpenFile(const std::string& FileName);
  void OpenFile(const std::string& FileName, TSDBAccessMode AccessMode, TSDBShareMode ShareMode);
  // An error while closing only marks the file closed.
  void CloseFile();
  void DeleteFile(const std::string& FileName);
  void RenameFile(const std::string& OldFileName, const std::string& NewFileName);

  // Reads exactly Count bytes at Position; raises with ErrorCode otherwise.
  void ReadBuffer(void* Buffer, int ErrorCode, int64_t Position, int64_t Count);
  // Non-raising read: false unless exactly Count bytes were read.
  bool ReadBuffer(void* Buffer, int64_t Position, int64_t Count);
  void WriteBuffer(const void* Buffer, int ErrorCode, int64_t Position, int64_t Count);
  int64_t GetSize();
  // Truncates or extends the file to Size bytes.
  void SetSize(int64_t Size);
  int64_t GetPosition();
  void SetPosition(int64_t Position, int ErrorCode = kSDBErrSetFilePosition);
  void FlushFileBuffers();

  bool LockByte(int64_t Count, int64_t Offset);
  bool UnlockByte(int64_t Count, int64_t Offset);
  // Probe by locking and unlocking at once: true when the lock is refused.
  bool IsByteLocked(int64_t Offset);
  bool IsRegionLocked(int64_t Count, int64_t Offset);

  // Locates the database header in the file (it may follow leading bytes).
  // Offset is 0 when no signature is found; answers whether one was found.
  bool FindSignature(int64_t& Offset);

  const std::string& FileName() const { return FFileName; }
  TSDBAccessMode AccessMode() const { return FAccessMode; }
  TSDBShareMode ShareMode() const { return FShareMode; }
  bool IsOpened() const { return FIsOpened; }
  bool WasCriticalError() const { return FWasCriticalError; }
  // The platform handle (tests and platform-level tools only).
  TSDBFileHandle& Handle() { return FHandle; }

 private:
  void CheckOpened(const char* Operation) const;
  // Reopens after the handle went bad; true when the handle is valid again.
  bool TryReopen();
  // Runs Op; when it fails and the handle has gone bad, reopens and runs it once more.
  template <class Op>
  int WithReopen(Op op);

  std::string FFileName;
  TSDBAccessMode FAccessMode = amReadWrite;
  TSDBShareMode FShareMode = smShareDenyNone;
  uint32_t FAttrFlags = 0;
  TSDBFileHandle FHandle;
  bool FIsOpened = false;
  bool FWasCriticalError = false;
  int64_t FPosition = 0;
};

}  // namespace sdb
