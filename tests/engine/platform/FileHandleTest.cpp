// Byte-range locks with LockFile semantics, and the raw file primitives.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/SDBFileHandle.h"
#include "platform/SDBPlatform.h"
#include "storage/file/SDBDatabaseFile.h"

namespace sdb {
namespace {

namespace fs = std::filesystem;

class FileHandleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file = (fs::temp_directory_path() / ("sdb_fh_" + std::to_string(getpid()) + ".bin")).string();
    TSDBFileHandle h;
    ASSERT_EQ(h.Create(file), 0);
    size_t done;
    ASSERT_EQ(h.Write("0123456789", 0, 10, done), 0);
  }
  void TearDown() override { fs::remove(file); }
  std::string file;
};

TEST_F(FileHandleTest, ReadWriteSizeAtLargeOffsets) {
  TSDBFileHandle h;
  ASSERT_EQ(h.Open(file, TSDBFileAccess::ReadWrite, TSDBFileShare::DenyNone), 0);
  const uint64_t far = (uint64_t(1) << 32) + 5;  // beyond 32-bit offsets (sparse)
  size_t done = 0;
  ASSERT_EQ(h.Write("xyz", far, 3, done), 0);
  uint64_t size = 0;
  ASSERT_EQ(h.GetSize(size), 0);
  EXPECT_EQ(size, far + 3);
  char buf[8] = {};
  ASSERT_EQ(h.Read(buf, far, 8, done), 0);
  EXPECT_EQ(done, 3u);  // short at the end, not an error
  EXPECT_EQ(std::string(buf, 3), "xyz");
  ASSERT_EQ(h.SetSize(4), 0);
  ASSERT_EQ(h.GetSize(size), 0);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(h.Flush(), 0);
}

TEST_F(FileHandleTest, ADirectoryIsRefusedInEitherAccess) {
  const std::string dir = file + ".dir";
  ASSERT_TRUE(fs::create_directory(dir));
  for (TSDBFileAccess access : {TSDBFileAccess::Read, TSDBFileAccess::ReadWrite}) {
    TSDBFileHandle h;
    EXPECT_EQ(h.Open(dir, access, TSDBFileShare::DenyNone), EISDIR);
    EXPECT_FALSE(h.IsOpen());
  }
  fs::remove(dir);
}

TEST_F(FileHandleTest, LockRefusedThroughSameHandleAndOtherHandles) {
  TSDBFileHandle a, b;
  ASSERT_EQ(a.Open(file, TSDBFileAccess::ReadWrite, TSDBFileShare::DenyNone), 0);
  ASSERT_EQ(b.Open(file, TSDBFileAccess::ReadWrite, TSDBFileShare::DenyNone), 0);
  ASSERT_EQ(a.Lock(100, 10), 0);
  EXPECT_EQ(a.Lock(100, 10), EAGAIN);  // the same handle again
  EXPECT_EQ(a.Lock(105, 1), EAGAIN);   // overlapping
  EXPECT_EQ(a.Lock(95, 6), EAGAIN);
  EXPECT_EQ(a.Lock(110, 1), 0);        // adjacent is free
  EXPECT_EQ(b.Lock(109, 1), EAGAIN);   // another handle of this process
  EXPECT_EQ(b.Lock(111, 1), 0);
  EXPECT_EQ(a.Unlock(100, 5), EINVAL);  // must match the locked range
  EXPECT_EQ(a.Unlock(100, 10), 0);
  EXPECT_EQ(a.Unlock(100, 10), EINVAL);
  EXPECT_EQ(b.Lock(100, 10), 0);
  // Closing a handle releases its locks.
  b.Close();
  EXPECT_EQ(a.Lock(100, 10), 0);
}

// A test answers what a lock would, without taking one: the range counts
// as locked when any byte of it is held, through this handle (which the
// kernel does not report) or another one, and is still free afterwards.
TEST_F(FileHandleTest, TestLockAnswersAsALockWouldAndTakesNothing) {
  TSDBFileHandle a, b, ro;
  ASSERT_EQ(a.Open(file, TSDBFileAccess::ReadWrite, TSDBFileShare::DenyNone), 0);
  ASSERT_EQ(b.Open(file, TSDBFileAccess::ReadWrite, TSDBFileShare::DenyNone), 0);
  ASSERT_EQ(ro.Open(file, TSDBFileAccess::Read, TSDBFileShare::DenyNone), 0);
  ASSERT_EQ(a.Lock(100, 10), 0);
  ASSERT_EQ(ro.Lock(200, 1), 0);
  struct Case {
    TSDBFileHandle* Asker;
    uint64_t Offset, Count;
    bool Locked;
  } cases[] = {
      {&a, 100, 10, true}, {&a, 109, 5, true},  {&a, 90, 11, true},  {&a, 110, 5, false}, {&a, 90, 10, false},
      {&b, 105, 1, true},  {&b, 50, 100, true}, {&b, 110, 90, false}, {&b, 199, 2, true},  {&ro, 100, 1, true},
  };
  for (const Case& c : cases) {
    bool locked = !c.Locked;
    EXPECT_EQ(c.Asker->TestLock(c.Offset, c.Count, locked), 0);
    EXPECT_EQ(locked, c.Locked) << c.Offset << "+" << c.Count;
    EXPECT_EQ(c.Asker->Lock(c.Offset, c.Count), c.Locked ? EAGAIN : 0) << c.Offset << "+" << c.Count;
    if (!c.Locked) {
      EXPECT_EQ(c.Asker->Unlock(c.Offset, c.Count), 0);
    }
  }
  bool locked = false;
  EXPECT_EQ(a.TestLock(0, 0, locked), EINVAL);
}

TEST_F(FileHandleTest, ReadOnlyHandlesStillExcludeWriters) {
  TSDBFileHandle ro, rw;
  ASSERT_EQ(ro.Open(file, TSDBFileAccess::Read, TSDBFileShare::DenyNone), 0);
  ASSERT_EQ(rw.Open(file, TSDBFileAccess::ReadWrite, TSDBFileShare::DenyNone), 0);
  ASSERT_EQ(ro.Lock(7, 1), 0);
  EXPECT_EQ(ro.Lock(7, 1), EAGAIN);
  EXPECT_EQ(rw.Lock(7, 1), EAGAIN);
}

TEST_F(FileHandleTest, ExclusiveOpenExcludesOtherOpens) {
  TSDBFileHandle ex, other;
  ASSERT_EQ(ex.Open(file, TSDBFileAccess::ReadWrite, TSDBFileShare::Exclusive), 0);
  EXPECT_NE(other.Open(file, TSDBFileAccess::Read, TSDBFileShare::DenyNone), 0);
  ex.Close();
  ASSERT_EQ(other.Open(file, TSDBFileAccess::Read, TSDBFileShare::DenyNone), 0);
  EXPECT_NE(ex.Open(file, TSDBFileAccess::ReadWrite, TSDBFileShare::Exclusive), 0);
}

// Another process sees our locks, and its locks vanish when it dies.
TEST_F(FileHandleTest, LocksAcrossProcessesAndReleasedWhenHolderDies) {
  TSDBDatabaseFile mine;
  mine.OpenFile(file, amReadWrite, smShareDenyNone);
  ASSERT_TRUE(mine.LockByte(1, 3));

  int toParent[2], toChild[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(toChild), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Child: its own open of the file.
    TSDBFileHandle h;
    char verdict = 'E';
    if (h.Open(file, TSDBFileAccess::ReadWrite, TSDBFileShare::DenyNone) == 0) {
      bool refused = h.Lock(3, 1) == EAGAIN;
      bool taken = h.Lock(4, 1) == 0;
      verdict = refused && taken ? 'K' : 'F';
    }
    if (write(toParent[1], &verdict, 1) != 1) _exit(2);
    char wait;
    if (read(toChild[0], &wait, 1) < 0) _exit(3);  // hold the lock until killed
    _exit(0);
  }
  char verdict = 0;
  ASSERT_EQ(read(toParent[0], &verdict, 1), 1);
  EXPECT_EQ(verdict, 'K');
  EXPECT_TRUE(mine.IsByteLocked(4));    // held by the child
  EXPECT_FALSE(mine.LockByte(1, 4));
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(mine.LockByte(1, 4));     // gone with the child
  EXPECT_TRUE(mine.IsByteLocked(3));    // ours, even to ourselves
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) close(fd);
}

TEST(PlatformTest, RetryTicksAndMemory) {
  int calls = 0;
  EXPECT_TRUE(SDBRetry(5, 1, [&] { return ++calls == 3; }));
  EXPECT_EQ(calls, 3);
  calls = 0;
  EXPECT_FALSE(SDBRetry(4, 1, [&] { ++calls; return false; }));
  EXPECT_EQ(calls, 4);
  uint32_t t0 = SDBGetTickCount();
  SDBSleep(20);
  EXPECT_GE(SDBGetTickCount() - t0, 19u);
  EXPECT_GT(SDBAvailablePhysicalMemory(), 0u);
  EXPECT_TRUE(SDBIsCriticalError(EIO));
  EXPECT_FALSE(SDBIsCriticalError(EAGAIN));
  EXPECT_FALSE(SDBSystemErrorMessage(ENOENT).empty());
}

}  // namespace
}  // namespace sdb
