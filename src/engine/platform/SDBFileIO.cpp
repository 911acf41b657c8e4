#include "platform/SDBFileIO.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sdb {

namespace {

TSDBFileIO gSystemFileIO;
std::atomic<TSDBFileIO*> gFileIO{&gSystemFileIO};

// One byte range of a lock request or probe, counted from the file's start.
struct flock RangeLock(short Type, uint64_t Offset, uint64_t Count) {
  struct flock fl = {};
  fl.l_type = Type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(Offset);
  fl.l_len = static_cast<off_t>(Count);
  fl.l_pid = 0;
  return fl;
}

}  // namespace

int TSDBFileIO::Read(const TSDBFileRef& File, void* Buffer, uint64_t Position, size_t Count, size_t& Done) {
  Done = 0;
  if (Position > static_cast<uint64_t>(LLONG_MAX)) return EINVAL;
  auto* p = static_cast<uint8_t*>(Buffer);
  while (Done < Count) {
    ssize_t n = ::pread(File.Fd, p + Done, Count - Done, static_cast<off_t>(Position + Done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    Done += static_cast<size_t>(n);
  }
  return 0;
}

int TSDBFileIO::Write(const TSDBFileRef& File, const void* Buffer, uint64_t Position, size_t Count, size_t& Done) {
  Done = 0;
  if (Position > static_cast<uint64_t>(LLONG_MAX)) return EINVAL;
  const auto* p = static_cast<const uint8_t*>(Buffer);
  while (Done < Count) {
    ssize_t n = ::pwrite(File.Fd, p + Done, Count - Done, static_cast<off_t>(Position + Done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    Done += static_cast<size_t>(n);
  }
  return 0;
}

int TSDBFileIO::GetSize(const TSDBFileRef& File, uint64_t& Size) {
  Size = 0;
  struct stat st;
  if (fstat(File.Fd, &st) != 0) return errno;
  Size = static_cast<uint64_t>(st.st_size);
  return 0;
}

int TSDBFileIO::SetSize(const TSDBFileRef& File, uint64_t Size) {
  if (Size > static_cast<uint64_t>(LLONG_MAX)) return EINVAL;
  while (ftruncate(File.Fd, static_cast<off_t>(Size)) != 0) {
    if (errno == EINTR) continue;
    return errno;
  }
  return 0;
}

int TSDBFileIO::Flush(const TSDBFileRef& File) {
  // The data and the size; other metadata (times) need not be durable.
  while (fdatasync(File.Fd) != 0) {
    if (errno == EINTR) continue;
    return errno;
  }
  return 0;
}

int TSDBFileIO::Lock(const TSDBFileRef& File, short Type, uint64_t Offset, uint64_t Count) {
  struct flock fl = RangeLock(Type, Offset, Count);
  while (fcntl(File.Fd, F_OFD_SETLK, &fl) != 0) {
    if (errno == EINTR) continue;
    return errno;
  }
  return 0;
}

int TSDBFileIO::TestLock(const TSDBFileRef& File, short Type, uint64_t Offset, uint64_t Count, bool& Locked) {
  Locked = false;
  struct flock fl = RangeLock(Type, Offset, Count);
  while (fcntl(File.Fd, F_OFD_GETLK, &fl) != 0) {
    if (errno == EINTR) continue;
    return errno;
  }
  Locked = fl.l_type != F_UNLCK;
  return 0;
}

TSDBFileIO& SDBFileIO() { return *gFileIO.load(std::memory_order_acquire); }

TSDBFileIO* SDBSetFileIO(TSDBFileIO* Io) {
  TSDBFileIO* previous = gFileIO.exchange(Io ? Io : &gSystemFileIO, std::memory_order_acq_rel);
  return previous == &gSystemFileIO ? nullptr : previous;
}

int SDBFlushDirectoryOf(const std::string& FileName) {
  std::filesystem::path dir = std::filesystem::path(FileName).parent_path();
  if (dir.empty()) dir = ".";
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  int err = fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  // Some file systems cannot flush a directory; the entry is then as
  // durable as they make it.
  return err == EINVAL ? 0 : err;
}

}  // namespace sdb
