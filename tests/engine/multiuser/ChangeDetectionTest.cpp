// Change detection bookkeeping: what a session read of a table's state is
// trusted only inside the lock period it was read in.
#include <gtest/gtest.h>

#include "storage/file/SDBTablePagesCache.h"

namespace {

using sdb::TSDBDiskTablePagesCacheManager;

TEST(ChangeDetection, StateIsTrustedOnlyWithinItsLockPeriod) {
  TSDBDiskTablePagesCacheManager m;
  int32_t table = 0;
  int64_t state = 0;
  // Read outside any lock: nothing is kept.
  m.BeginWorkWithTable(1, 7);
  m.SetIsMostUpdatedLoaded(1, 7, 10);
  EXPECT_FALSE(m.GetIsMostUpdatedLoaded(1, 7));
  EXPECT_FALSE(m.GetWorkTableState(1, table, state));
  // A read lock starts a period; the first state read in it is kept.
  m.TableIsSLocked(1, 7);
  EXPECT_FALSE(m.GetWorkTableState(1, table, state));
  m.SetIsMostUpdatedLoaded(1, 7, 11);
  m.SetIsMostUpdatedLoaded(1, 7, 12);
  ASSERT_TRUE(m.GetWorkTableState(1, table, state));
  EXPECT_EQ(table, 7);
  EXPECT_EQ(state, 11);
  // A write lock on top continues the period; the last release ends it.
  m.TableIsRWLocked(1, 7);
  m.TableIsSUnlocked(1, 7);
  EXPECT_TRUE(m.GetWorkTableState(1, table, state));
  m.TableIsRWUnlocked(1, 7);
  EXPECT_FALSE(m.GetWorkTableState(1, table, state));
  EXPECT_EQ(state, -1);
  // Another session and another table have their own records.
  m.TableIsSLocked(2, 7);
  m.SetIsMostUpdatedLoaded(2, 7, 20);
  m.BeginWorkWithTable(2, 7);
  EXPECT_TRUE(m.GetWorkTableState(2, table, state));
  m.BeginWorkWithTable(2, 8);
  EXPECT_FALSE(m.GetWorkTableState(2, table, state));
  EXPECT_EQ(table, 8);
  m.EndWorkWithTable(2, 8);
  EXPECT_TRUE(m.GetWorkTableState(2, table, state));
  EXPECT_EQ(state, 20);
}

}  // namespace
