#include "platform/SDBFileHandle.h"

#include "platform/SDBFileIO.h"

#include <cerrno>
#include <climits>
#include <iterator>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sdb {

namespace {

int ShareFlock(TSDBFileShare Share) {
  return (Share == TSDBFileShare::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
}


}  // namespace

TSDBFileHandle::~TSDBFileHandle() { Close(); }

int TSDBFileHandle::Open(const std::string& FileName, TSDBFileAccess Access, TSDBFileShare Share) {
  if (FFd >= 0) return EBUSY;
  int flags = (Access == TSDBFileAccess::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC;
  int fd = ::open(FileName.c_str(), flags);
  if (fd < 0) return errno;
  // A directory opens for reading only (for writing the open itself fails
  // with EISDIR): only then is a look at the file needed to refuse it.
  if (Access != TSDBFileAccess::ReadWrite) {
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
      ::close(fd);
      return err;
    }
  }
  if (flock(fd, ShareFlock(Share)) != 0) {
    int err = errno;
    ::close(fd);
    return err;
  }
  FFd = fd;
  FWritable = Access == TSDBFileAccess::ReadWrite;
  FPath = FileName;
  return 0;
}

int TSDBFileHandle::Create(const std::string& FileName) {
  if (FFd >= 0) return EBUSY;
  int fd = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ftruncate(fd, 0) != 0) {
    int err = errno;
    ::close(fd);
    return err;
  }
  FFd = fd;
  FWritable = true;
  FPath = FileName;
  return 0;
}

int TSDBFileHandle::Close() {
  if (FFd < 0) return 0;
  {
    std::lock_guard<std::mutex> guard(FLocksLock);
    FHeldRanges.clear();
  }
  int fd = FFd;
  FFd = -1;
  FWritable = false;
  return ::close(fd) == 0 ? 0 : errno;
}

bool TSDBFileHandle::IsValid() const {
  if (FFd < 0) return false;
  struct stat st;
  return fstat(FFd, &st) == 0;
}

int TSDBFileHandle::Identity(uint64_t& Device, uint64_t& Inode) const {
  Device = Inode = 0;
  if (FFd < 0) return EBADF;
  struct stat st;
  if (fstat(FFd, &st) != 0) return errno;
  Device = static_cast<uint64_t>(st.st_dev);
  Inode = static_cast<uint64_t>(st.st_ino);
  return 0;
}

int TSDBFileHandle::Read(void* Buffer, uint64_t Position, size_t Count, size_t& Done) {
  Done = 0;
  if (FFd < 0) return EBADF;
  return SDBFileIO().Read(TSDBFileRef{FFd, FPath}, Buffer, Position, Count, Done);
}

int TSDBFileHandle::Write(const void* Buffer, uint64_t Position, size_t Count, size_t& Done) {
  Done = 0;
  if (FFd < 0) return EBADF;
  return SDBFileIO().Write(TSDBFileRef{FFd, FPath}, Buffer, Position, Count, Done);
}

int TSDBFileHandle::GetSize(uint64_t& Size) const {
  Size = 0;
  if (FFd < 0) return EBADF;
  return SDBFileIO().GetSize(TSDBFileRef{FFd, FPath}, Size);
}

int TSDBFileHandle::SetSize(uint64_t Size) {
  if (FFd < 0) return EBADF;
  return SDBFileIO().SetSize(TSDBFileRef{FFd, FPath}, Size);
}

int TSDBFileHandle::Flush() {
  if (FFd < 0) return EBADF;
  return SDBFileIO().Flush(TSDBFileRef{FFd, FPath});
}

bool TSDBFileHandle::IsLockableRange(uint64_t Offset, uint64_t Count) {
  return Count != 0 && Offset <= static_cast<uint64_t>(LLONG_MAX) && Count <= static_cast<uint64_t>(LLONG_MAX) - Offset;
}

bool TSDBFileHandle::OverlapsHeldRange(uint64_t Offset, uint64_t Count) const {
  auto it = FHeldRanges.upper_bound(Offset);
  if (it != FHeldRanges.end() && it->first < Offset + Count) return true;
  return it != FHeldRanges.begin() && std::prev(it)->first + std::prev(it)->second > Offset;
}

int TSDBFileHandle::Lock(uint64_t Offset, uint64_t Count) {
  if (FFd < 0) return EBADF;
  if (!IsLockableRange(Offset, Count)) return EINVAL;
  std::lock_guard<std::mutex> guard(FLocksLock);
  // Refuse any overlap with a range this handle already holds: the kernel
  // would accept it (same open file description) where LockFile refuses.
  if (OverlapsHeldRange(Offset, Count)) return EAGAIN;
  // A read-only descriptor cannot hold a write lock; it takes a read lock,
  // which still conflicts with every lock of a read/write opener.
  int err = SDBFileIO().Lock(TSDBFileRef{FFd, FPath}, FWritable ? F_WRLCK : F_RDLCK, Offset, Count);
  if (err == EACCES) err = EAGAIN;
  if (err == 0) FHeldRanges.emplace(Offset, Count);
  return err;
}

int TSDBFileHandle::TestLock(uint64_t Offset, uint64_t Count, bool& Locked) {
  Locked = false;
  if (FFd < 0) return EBADF;
  if (!IsLockableRange(Offset, Count)) return EINVAL;
  std::lock_guard<std::mutex> guard(FLocksLock);
  // The kernel does not report locks of this open file description: the
  // ranges this handle holds are looked up here, as Lock refuses them.
  if (OverlapsHeldRange(Offset, Count)) {
    Locked = true;
    return 0;
  }
  return SDBFileIO().TestLock(TSDBFileRef{FFd, FPath}, FWritable ? F_WRLCK : F_RDLCK, Offset, Count, Locked);
}

int TSDBFileHandle::Unlock(uint64_t Offset, uint64_t Count) {
  if (FFd < 0) return EBADF;
  std::lock_guard<std::mutex> guard(FLocksLock);
  auto it = FHeldRanges.find(Offset);
  if (it == FHeldRanges.end() || it->second != Count) return EINVAL;
  int err = SDBFileIO().Lock(TSDBFileRef{FFd, FPath}, F_UNLCK, Offset, Count);
  if (err == 0) FHeldRanges.erase(it);
  return err;
}

size_t TSDBFileHandle::HeldLockCount() const {
  std::lock_guard<std::mutex> guard(FLocksLock);
  return FHeldRanges.size();
}

bool SDBFileExists(const std::string& FileName) {
  struct stat st;
  return ::stat(FileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool SDBIsFileReadOnly(const std::string& FileName) {
  struct stat st;
  return ::stat(FileName.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

int SDBSetFileReadOnly(const std::string& FileName, bool ReadOnly) {
  struct stat st;
  if (::stat(FileName.c_str(), &st) != 0) return errno;
  mode_t mode = st.st_mode & 07777;
  mode = ReadOnly ? (mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
  return ::chmod(FileName.c_str(), mode) == 0 ? 0 : errno;
}

int SDBDeleteFile(const std::string& FileName) {
  return ::unlink(FileName.c_str()) == 0 ? 0 : errno;
}

int SDBRenameFile(const std::string& OldFileName, const std::string& NewFileName) {
  return ::rename(OldFileName.c_str(), NewFileName.c_str()) == 0 ? 0 : errno;
}

}  // namespace sdb
