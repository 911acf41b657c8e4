// The engine's operating-system file: positioned reads and writes at 64-bit
// offsets, size, truncation, flushing, and non-blocking byte-range locks.
//
// Byte-range locks behave like Windows LockFile: a lock on a byte that is
// already locked is refused, also when the holder is this very process and
// even when it locked through the same handle; locks vanish when the holder
// process ends. On Linux this is built from open-file-description locks
// (F_OFD_SETLK), which other processes and other handles see, plus a record
// per handle of the ranges it holds, because the kernel would silently merge
// a second lock taken through the same open file description.
//
// Share modes are emulated with flock(): an exclusive open takes an
// exclusive flock, shared opens take a shared one, so an exclusive open and
// any other open of the same file exclude each other as on Windows.
//
// Data, size, flush and lock operations go through the process's file
// primitives (SDBFileIO.h), which tests replace to inject faults.
//
// Every operation answers 0 or the platform error code (errno).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace sdb {

enum class TSDBFileAccess { Read, ReadWrite };
enum class TSDBFileShare { Exclusive, DenyNone, DenyWrite };

class TSDBFileHandle {
 public:
  TSDBFileHandle() = default;
  ~TSDBFileHandle();
  TSDBFileHandle(const TSDBFileHandle&) = delete;
  TSDBFileHandle& operator=(const TSDBFileHandle&) = delete;

  // Opens an existing file.
  int Open(const std::string& FileName, TSDBFileAccess Access, TSDBFileShare Share);
  // Creates the file (truncating an existing one), read/write and exclusive.
  int Create(const std::string& FileName);
  // Closes the file; held locks are released. Closing a closed handle is 0.
  int Close();
  bool IsOpen() const { return FFd >= 0; }
  // False when the handle no longer refers to a usable file.
  bool IsValid() const;
  // The open file's device and inode numbers (to tell whether a name still
  // leads to it).
  int Identity(uint64_t& Device, uint64_t& Inode) const;
  bool IsWritable() const { return FWritable; }
  const std::string& Path() const { return FPath; }

  // Reads or writes up to Count bytes at Position; Done receives the bytes
  // moved. Reading past the end moves fewer bytes and is not an error here.
  int Read(void* Buffer, uint64_t Position, size_t Count, size_t& Done);
  int Write(const void* Buffer, uint64_t Position, size_t Count, size_t& Done);
  int GetSize(uint64_t& Size) const;
  int SetSize(uint64_t Size);
  int Flush();

  // Non-blocking exclusive lock of Count bytes at Offset. 0 = taken;
  // EAGAIN = refused (held by another process, another handle, or already
  // through this one); another code = the platform failed.
  int Lock(uint64_t Offset, uint64_t Count);
  // Releases a range exactly as it was locked; EINVAL when it is not held.
  int Unlock(uint64_t Offset, uint64_t Count);
  // Whether Lock(Offset, Count) would be refused because a byte of the range
  // is held (through this handle or elsewhere), found without taking and
  // giving back a lock: one look at the kernel's locks, none when this
  // handle holds a byte of the range itself.
  int TestLock(uint64_t Offset, uint64_t Count, bool& Locked);
  // Ranges currently held through this handle.
  size_t HeldLockCount() const;

 private:
  // A range the kernel can lock: not empty, within the largest offset.
  static bool IsLockableRange(uint64_t Offset, uint64_t Count);
  // Whether the range meets one this handle holds (FLocksLock held).
  bool OverlapsHeldRange(uint64_t Offset, uint64_t Count) const;

  int FFd = -1;
  bool FWritable = false;
  std::string FPath;
  mutable std::mutex FLocksLock;
  std::map<uint64_t, uint64_t> FHeldRanges;  // offset -> count
};

// File-system helpers; each answers 0 or the platform error code.
bool SDBFileExists(const std::string& FileName);
// The file's "read-only attribute": no write permission bit for its owner.
bool SDBIsFileReadOnly(const std::string& FileName);
int SDBSetFileReadOnly(const std::string& FileName, bool ReadOnly);
int SDBDeleteFile(const std::string& FileName);
int SDBRenameFile(const std::string& OldFileName, const std::string& NewFileName);

}  // namespace sdb
