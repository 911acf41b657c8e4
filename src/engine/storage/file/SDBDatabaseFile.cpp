#include "storage/file/SDBDatabaseFile.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/SDBBytes.h"
#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"
#include "platform/SDBPlatform.h"
#include "storage/file/SDBPageFormat.h"

namespace sdb {

namespace {

// A read that met the end of the file before Count bytes.
constexpr int kShortRead = ENODATA;
constexpr int kReopenAttempts = 3;
constexpr uint32_t kReopenPauseMs = 1000;
// Signature scan window; consecutive windows overlap by the length of the
// pattern (signature + HeaderSize word) so that none is missed at a border.
constexpr int64_t kScanWindow = 10000;
constexpr int64_t kPatternSize = kSDBSignatureSize + 2;

TSDBFileAccess ToAccess(TSDBAccessMode mode) {
  return mode == amReadOnly ? TSDBFileAccess::Read : TSDBFileAccess::ReadWrite;
}

TSDBFileShare ToShare(TSDBShareMode mode) {
  switch (mode) {
    case smExclusive: return TSDBFileShare::Exclusive;
    case smShareDenyWrite: return TSDBFileShare::DenyWrite;
    default: return TSDBFileShare::DenyNone;
  }
}

bool IsHeaderAt(const uint8_t* p) {
  return std::memcmp(p, kSDBSignature, kSDBSignatureSize) == 0 &&
         GetLEI16(p + kSDBSignatureSize) == kSDBDBHeaderSize;
}

}  // namespace

TSDBDatabaseFile::~TSDBDatabaseFile() {
  if (FIsOpened) FHandle.Close();
}

void TSDBDatabaseFile::CheckOpened(const char* Operation) const {
  if (!FIsOpened)
    throw ESDBException(kSDBErrFileClosed, "Cannot perform this operation (%s) on a closed file", {std::string(Operation)});
}

bool TSDBDatabaseFile::TryReopen() {
  FHandle.Close();
  for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
    if (attempt > 0) SDBSleep(kReopenPauseMs);
    if (FHandle.Open(FFileName, ToAccess(FAccessMode), ToShare(FShareMode)) == 0 && FHandle.IsValid()) return true;
    FHandle.Close();
  }
  return false;
}

template <class Op>
int TSDBDatabaseFile::WithReopen(Op op) {
  int err = op();
  if (err != 0 && err != kShortRead) {
    uint64_t size;
    if (FHandle.GetSize(size) != 0 && TryReopen()) err = op();
  }
  return err;
}

void TSDBDatabaseFile::CreateAndOpenFile(const std::string& FileName) {
  if (FIsOpened)
    throw ESDBException(kSDBErrFileAlreadyOpen, "Cannot perform this operation (%s) on a opened file", {std::string("CreateAndOpenFile")});
  if (FileName.empty()) throw ESDBException(kSDBErrBlankFileName, "Cannot create file with blank FileName");
  if (SDBFileExists(FileName)) {
    SDBSetFileReadOnly(FileName, false);
    int err = SDBDeleteFile(FileName);
    if (err != 0)
      throw ESDBException(kSDBErrDeleteFile, "Cannot delete file: '%s' Error code: %d. ErrorMessage: %s",
                          {FileName, static_cast<int64_t>(err), SDBSystemErrorMessage(err)});
  }
  int err = FHandle.Create(FileName);
  if (err != 0)
    throw ESDBException(kSDBErrCreateFile, "Cannot create file: '%s' Error code: %d. ErrorMessage: %s",
                        {FileName, static_cast<int64_t>(err), SDBSystemErrorMessage(err)});
  FFileName = FileName;
  FAccessMode = amReadWrite;
  FShareMode = smExclusive;
  FIsOpened = true;
  FWasCriticalError = false;
  FPosition = 0;
}

void TSDBDatabaseFile::OpenFile(const std::string& FileName, TSDBAccessMode AccessMode, TSDBShareMode ShareMode) {
  if (FIsOpened)
    throw ESDBException(kSDBErrFileAlreadyOpen, "Cannot perform this operation (%s) on a opened file", {std::string("OpenFile")});
  if (AccessMode != amReadOnly && AccessMode != amReadWrite)
    throw ESDBException(kSDBErrUnknownAccessMode, "Unknown Access mode: '%d'", {static_cast<int64_t>(AccessMode)});
  if (ShareMode != smExclusive && ShareMode != smShareDenyNone && ShareMode != smShareDenyWrite)
    throw ESDBException(kSDBErrUnknownShareMode, "Unknown Share mode: '%d'", {static_cast<int64_t>(ShareMode)});
  int err = FHandle.Open(FileName, ToAccess(AccessMode), ToShare(ShareMode));
  if (err != 0)
    throw ESDBException(kSDBErrOpenFile, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s",
                        {FileName, static_cast<int64_t>(err), SDBSystemErrorMessage(err)});
  FFileName = FileName;
  FAccessMode = AccessMode;
  FShareMode = ShareMode;
  FIsOpened = true;
  FWasCriticalError = false;
  FPosition = 0;
}

void TSDBDatabaseFile::CloseFile() {
  CheckOpened("CloseFile");
  FIsOpened = false;
  int err = FHandle.Close();
  if (err != 0)
    throw ESDBException(kSDBErrCloseFile, "Cannot close file:'%s' Error code: %d. ErrorMessage: %s",
                        {FFileName, static_cast<int64_t>(err), SDBSystemErrorMessage(err)});
}

void TSDBDatabaseFile::DeleteFile(const std::string& FileName) {
  int err = SDBDeleteFile(FileName);
  if (err != 0)
    throw ESDBException(kSDBErrDeleteFile, "Cannot delete file: '%s' Error code: %d. ErrorMessage: %s",
                        {FileName, static_cast<int64_t>(err), SDBSystemErrorMessage(err)});
}

void TSDBDatabaseFile::RenameFile(const std::string& OldFileName, const std::string& NewFileName) {
  int err = SDBRenameFile(OldFileName, NewFileName);
  if (err != 0)
    throw ESDBException(kSDBErrRenameFile, "Cannot rename file '%s' to '%s' ErrorCode:%d. ErrorMessage: %s",
                        {OldFileName, NewFileName, static_cast<int64_t>(err), SDBSystemErrorMessage(err)});
}

bool TSDBDatabaseFile::ReadBuffer(void* Buffer, int64_t Position, int64_t Count) {
  if (!FIsOpened || Position < 0 || Count < 0 || !Buffer) return false;
  size_t done = 0;
  int err = WithReopen([&] {
    int e = FHandle.Read(Buffer, static_cast<uint64_t>(Position), static_cast<size_t>(Count), done);
    return (e == 0 && done != static_cast<size_t>(Count)) ? kShortRead : e;
  });
  if (err != 0) return false;
  FPosition = Position + Count;
  return true;
}

void TSDBDatabaseFile::ReadBuffer(void* Buffer, int ErrorCode, int64_t Position, int64_t Count) {
  CheckOpened("ReadBuffer");
  size_t done = 0;
  int err = EINVAL;
  if (Position >= 0 && Count >= 0 && Buffer) {
    err = WithReopen([&] {
      int e = FHandle.Read(Buffer, static_cast<uint64_t>(Position), static_cast<size_t>(Count), done);
      return (e == 0 && done != static_cast<size_t>(Count)) ? kShortRead : e;
    });
  }
  if (err != 0) {
    uint64_t size = 0;
    FHandle.GetSize(size);
    throw ESDBException(ErrorCode,
                        "Cannot Read from file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        {FFileName, Position, Count, FPosition, static_cast<int64_t>(size), static_cast<int64_t>(err),
                         SDBSystemErrorMessage(err)});
  }
  FPosition = Position + Count;
}

void TSDBDatabaseFile::WriteBuffer(const void* Buffer, int ErrorCode, int64_t Position, int64_t Count) {
  CheckOpened("WriteBuffer");
  // The operating system would answer "bad file descriptor"; say why.
  if (FAccessMode == amReadOnly)
    throw ESDBException(ErrorCode, "Cannot write to file '%s': it is open read-only", {FFileName});
  size_t done = 0;
  int err = EINVAL;
  if (Position >= 0 && Count >= 0 && Buffer) {
    err = WithReopen([&] {
      return FHandle.Write(Buffer, static_cast<uint64_t>(Position), static_cast<size_t>(Count), done);
    });
  }
  if (err != 0) {
    uint64_t size = 0;
    FHandle.GetSize(size);
    throw ESDBException(ErrorCode,
                        "Cannot Write to file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, "
                        "ErrorCode:%d. ErrorMessage: %s",
                        {FFileName, Position, Count, FPosition, static_cast<int64_t>(size), static_cast<int64_t>(err),
                         SDBSystemErrorMessage(err)});
  }
  FPosition = Position + Count;
}

int64_t TSDBDatabaseFile::GetSize() {
  CheckOpened("GetSize");
  uint64_t size = 0;
  int err = FHandle.GetSize(size);
  if (err != 0 && TryReopen()) err = FHandle.GetSize(size);
  if (err != 0)
    throw ESDBException(kSDBErrGetFileSize, "Cannot Get File Size for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {FFileName, static_cast<int64_t>(err), SDBSystemErrorMessage(err)});
  return static_cast<int64_t>(size);
}

void TSDBDatabaseFile::SetSize(int64_t Size) {
  CheckOpened("SetSize");
  int err = Size < 0 ? EINVAL : WithReopen([&] { return FHandle.SetSize(static_cast<uint64_t>(Size)); });
  if (err != 0)
    throw ESDBException(kSDBErrTruncateFile, "Cannot Truncate File '%s' to %d bytes. ErrorCode:%d. ErrorMessage: %s",
                        {FFileName, Size, static_cast<int64_t>(err), SDBSystemErrorMessage(err)});
}

int64_t TSDBDatabaseFile::GetPosition() {
  CheckOpened("GetPosition");
  uint64_t size;
  int err = FHandle.GetSize(size);
  if (err != 0 && TryReopen()) err = FHandle.GetSize(size);
  if (err != 0)
    throw ESDBException(kSDBErrGetFilePosition, "Cannot Get File Position. FileName='%s' ErrorCode:%d. ErrorMessage: %s",
                        {FFileName, static_cast<int64_t>(err), SDBSystemErrorMessage(err)});
  return FPosition;
}

void TSDBDatabaseFile::SetPosition(int64_t Position, int ErrorCode) {
  CheckOpened("SetPosition");
  if (Position < 0) {
    uint64_t size = 0;
    FHandle.GetSize(size);
    throw ESDBException(ErrorCode, "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, FileSize = %d",
                        {Position, FFileName, FPosition, static_cast<int64_t>(size)});
  }
  FPosition = Position;
}

void TSDBDatabaseFile::FlushFileBuffers() {
  CheckOpened("FlushFileBuffers");
  int err = WithReopen([&] { return FHandle.Flush(); });
  if (err != 0)
    throw ESDBException(kSDBErrFlushFile, "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                        {FFileName, static_cast<int64_t>(err), SDBSystemErrorMessage(err)});
}

bool TSDBDatabaseFile::LockByte(int64_t Count, int64_t Offset) {
  CheckOpened("LockByte");
  if (Count <= 0 || Offset < 0) return false;
  int err = FHandle.Lock(static_cast<uint64_t>(Offset), static_cast<uint64_t>(Count));
  if (err == 0) return true;
  if (err == EAGAIN || err == EINVAL) return false;
  if (!FHandle.IsValid() && TryReopen()) {
    FWasCriticalError = false;
    err = FHandle.Lock(static_cast<uint64_t>(Offset), static_cast<uint64_t>(Count));
    if (err == 0) return true;
    if (err == EAGAIN) return false;
  }
  if (SDBIsCriticalError(err)) {
    FWasCriticalError = true;
    return true;
  }
  return false;
}

bool TSDBDatabaseFile::UnlockByte(int64_t Count, int64_t Offset) {
  CheckOpened("UnlockByte");
  if (Count <= 0 || Offset < 0) return false;
  int err = FHandle.Unlock(static_cast<uint64_t>(Offset), static_cast<uint64_t>(Count));
  if (err == 0) return true;
  if (err == EINVAL) return false;
  if (SDBIsCriticalError(err)) {
    // The handle (and with it the lock) is gone either way.
    FWasCriticalError = true;
    return true;
  }
  return false;
}

bool TSDBDatabaseFile::IsByteLocked(int64_t Offset) { return IsRegionLocked(1, Offset); }

bool TSDBDatabaseFile::IsRegionLocked(int64_t Count, int64_t Offset) {
  CheckOpened("IsRegionLocked");
  // Answers as a lock taken and given back at once would (a range that
  // cannot be locked counts as locked; a critical error as free, since
  // such a lock reports itself taken), with one look instead of two
  // changes of the file's locks.
  if (Count <= 0 || Offset < 0) return true;
  bool locked = false;
  int err = FHandle.TestLock(static_cast<uint64_t>(Offset), static_cast<uint64_t>(Count), locked);
  if (err == 0) return locked;
  if (err == EINVAL) return true;
  if (!FHandle.IsValid() && TryReopen()) {
    FWasCriticalError = false;
    err = FHandle.TestLock(static_cast<uint64_t>(Offset), static_cast<uint64_t>(Count), locked);
    if (err == 0) return locked;
  }
  if (SDBIsCriticalError(err)) {
    FWasCriticalError = true;
    return false;
  }
  return true;
}

bool TSDBDatabaseFile::FindSignature(int64_t& Offset) {
  CheckOpened("FindSignature");
  const int64_t savedPosition = FPosition;
  Offset = 0;
  bool found = false;
  uint8_t head[kSDBSignatureSize + kSDBDBHeaderSize];
  if (ReadBuffer(head, 0, sizeof head) && IsHeaderAt(head)) {
    found = true;
  } else {
    uint64_t size = 0;
    if (FHandle.GetSize(size) == 0) {
      std::vector<uint8_t> window(static_cast<size_t>(kScanWindow));
      for (int64_t pos = 0; !found && pos + kPatternSize <= static_cast<int64_t>(size);
           pos += kScanWindow - kPatternSize) {
        int64_t len = std::min<int64_t>(kScanWindow, static_cast<int64_t>(size) - pos);
        size_t done = 0;
        if (FHandle.Read(window.data(), static_cast<uint64_t>(pos), static_cast<size_t>(len), done) != 0) break;
        len = static_cast<int64_t>(done);
        for (int64_t i = 0; i + kPatternSize <= len; ++i) {
          if (window[static_cast<size_t>(i)] == static_cast<uint8_t>(kSDBSignature[0]) &&
              IsHeaderAt(window.data() + i)) {
            Offset = pos + i;
            found = true;
            break;
          }
        }
        if (len < kScanWindow) break;
      }
    }
  }
  FPosition = savedPosition;
  return found;
}

}  // namespace sdb
