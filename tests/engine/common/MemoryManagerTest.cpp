#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "sdb/SDBException.h"
#include "common/SDBMemoryManager.h"

namespace sdb {
namespace {

int ErrorOf(const std::function<void()>& f, std::string* message = nullptr) {
  try {
    f();
  } catch (const ESDBException& e) {
    if (message) *message = e.RawMessage();
    return e.NativeError();
  }
  return 0;
}

TEST(MemoryManagerTest, BlocksAreZeroFilledAndKeepContentOnRealloc) {
  TSDBMemoryManager mm;
  auto* p = static_cast<uint8_t*>(mm.GetMem(100));
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0);
  EXPECT_EQ(mm.BlockSize(p), 100u);
  std::memset(p, 0xAB, 100);
  p = static_cast<uint8_t*>(mm.ReallocMem(p, 200));
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0xAB);
  for (int i = 100; i < 200; ++i) ASSERT_EQ(p[i], 0);
  EXPECT_EQ(mm.AllocatedSize(), 200);
  mm.FreeMem(p);
  EXPECT_EQ(mm.AllocatedSize(), 0);
  mm.FreeMem(nullptr);
}

TEST(MemoryManagerTest, GuardsCatchOverrunsAndBadPointers) {
  TSDBMemoryManager mm;
  std::string message;
  auto* p = static_cast<uint8_t*>(mm.GetMem(64));
  // A pointer into the middle of a block is not a block.
  EXPECT_EQ(ErrorOf([&] { mm.FreeMem(p + 32); }, &message), kSDBErrInvalidPointer);
  EXPECT_EQ(message, "Invalid pointer");
  p[64] = 0x55;  // one byte past the end (lands on the trailing guard)
  EXPECT_EQ(ErrorOf([&] { mm.FreeMem(p); }, &message), kSDBErrMemoryOverrun);
  EXPECT_EQ(message, "Memory overrun detected");
  // Put the trailing guard back (every block has the same one) to free cleanly.
  auto* q = static_cast<uint8_t*>(mm.GetMem(8));
  std::memcpy(p + 64, q + 8, 4);
  mm.FreeMem(p);
  mm.FreeMem(q);
  EXPECT_EQ(mm.AllocatedSize(), 0);
}

TEST(MemoryManagerTest, LimitIsEnforced) {
  TSDBMemoryManager mm;
  mm.SetLimit(1000);
  void* a = mm.GetMem(600);
  std::string message;
  EXPECT_EQ(ErrorOf([&] { mm.GetMem(401); }, &message), kSDBErrMemoryLimit);
  EXPECT_EQ(message, "Memory limit exceeded (Limit = 1000 bytes)");
  void* b = mm.GetMem(400);
  mm.FreeMem(a);
  mm.FreeMem(b);
  mm.SetLimit(0);
  mm.FreeMem(mm.GetMem(5000));
}

TEST(MemoryManagerTest, ThreadsShareTheAllocator) {
  TSDBMemoryManager& mm = TSDBMemoryManager::Instance();
  const int64_t before = mm.AllocatedSize();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&mm, t] {
      for (int i = 0; i < 2000; ++i) {
        auto* p = static_cast<uint8_t*>(mm.GetMem(static_cast<size_t>(16 + (i % 50) + t)));
        p[0] = 1;
        mm.FreeMem(p);
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(mm.AllocatedSize(), before);
}

}  // namespace
}  // namespace sdb
