// Sessions of one process: connection modes and identifiers, the table lock
// compatibility between sessions, physical and non-physical grants, record
// locks and commits that cannot get their write locks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "MultiUserTestUtil.h"
#include "storage/database/SDBDatabaseData.h"
#include "storage/database/SDBLockManager.h"

namespace {

using namespace sdb;
using sdbmu::NativeOf;

class SessionFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    path = (std::filesystem::temp_directory_path() /
            ("mu_sess_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + ".sdb"))
               .string();
  }
  void TearDown() override { std::filesystem::remove(path); }

  void Create(int maxConnections = 8, const std::string& password = {}) {
    TSDBCreateDatabaseParams p;
    p.FileName = path;
    p.MaxConnections = maxConnections;
    p.Password = password;
    TSDBLocalSession creator;
    creator.CreateDatabase(p);
    TSDBLocalSession s;
    Connect(s, true, "setup", password);
    s.CreateTable("T", sdbmu::KVFields());
    s.Disconnect();
  }
  void Connect(TSDBLocalSession& s, bool multi, const std::string& name = {}, const std::string& password = {}) {
    TSDBConnectParams p;
    p.FileName = path;
    p.MultiUser = multi;
    p.SessionName = name;
    p.Password = password;
    s.Connect(p);
  }

  static inline int counter = 0;
  std::string path;
};

TEST_F(SessionFixture, ConnectionLimitAndLowestFreeIdentifier) {
  Create(3);
  TSDBLocalSession a, b, c, d;
  Connect(a, true);
  Connect(b, true);
  Connect(c, true);
  EXPECT_EQ(a.SessionID(), 0);
  EXPECT_EQ(b.SessionID(), 1);
  EXPECT_EQ(c.SessionID(), 2);
  EXPECT_EQ(a.MaxSessionCount(), 3);
  // The three share one database data object (same file, same session name).
  EXPECT_EQ(&a.DatabaseData(), &c.DatabaseData());
  EXPECT_EQ(a.DatabaseData().GetDBFileConnectionsCount(), 3);
  EXPECT_EQ(NativeOf([&] { Connect(d, true, "other"); }), 20094);
  EXPECT_FALSE(d.Connected());
  b.Disconnect();
  Connect(d, true, "other");
  EXPECT_EQ(d.SessionID(), 1);
  EXPECT_NE(&a.DatabaseData(), &d.DatabaseData());
}

TEST_F(SessionFixture, SingleUserExcludesMultiUserAndFallsBackToReadOnly) {
  Create(4);
  {
    TSDBLocalSession single, multi, second;
    Connect(single, false, "a");
    EXPECT_EQ(single.SessionID(), 0);
    EXPECT_FALSE(single.ReadOnly());
    EXPECT_EQ(single.DatabaseData().GetDBFileConnectionsCount(), 4);
    // A multi-user connect sees a full file.
    EXPECT_EQ(NativeOf([&] { Connect(multi, true, "b"); }), 20094);
    // Another single-user session of the same database data shares identifier 0.
    Connect(second, false, "a");
    EXPECT_EQ(second.SessionID(), 0);
    // A session of another mode cannot join the open database data.
    TSDBLocalSession mixed;
    EXPECT_EQ(NativeOf([&] { Connect(mixed, true, "a"); }), 20235);
  }
  TSDBLocalSession multi, single;
  Connect(multi, true, "b");
  Connect(single, false, "c");
  EXPECT_TRUE(single.ReadOnly());
  EXPECT_EQ(multi.DatabaseData().GetDBFileConnectionsCount(), 1);
}

TEST_F(SessionFixture, PasswordOfFurtherSessions) {
  Create(4, "secret");
  TSDBLocalSession a, b, c;
  EXPECT_EQ(NativeOf([&] { Connect(a, true, "x", "wrong"); }), 30445);
  Connect(a, true, "x", "secret");
  EXPECT_EQ(NativeOf([&] { Connect(b, true, "x", "wrong"); }), 20298);
  Connect(c, true, "x", "secret");
  EXPECT_EQ(c.SessionID(), 1);
}

// Two sessions with their tables open; the pair shares one database data or
// has one each (then they meet only through the file, like two processes).
class LockPair : public SessionFixture, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    SessionFixture::SetUp();
    Create(8);
    Connect(a, true, "a");
    Connect(b, true, GetParam() ? "a" : "b");
    a.OpenTable(ca, "T");
    b.OpenTable(cb, "T");
  }
  TSDBDiskTableData& A() { return *ca.TableData; }
  TSDBDiskTableData& B() { return *cb.TableData; }
  std::vector<TSDBTableLockItem> Locks(TSDBLocalSession& s) {
    return s.DatabaseData().TableLockManager()->SessionLocks(s.SessionID());
  }
  // Cursors are declared first so that they outlive the sessions that close them.
  TSDBCursor ca, cb, extra;
  TSDBLocalSession a, b;
};

TEST_P(LockPair, CompatibilityOfHeldAndRequestedTypes) {
  struct Case {
    TSDBLockType Held, Requested;
    bool Allow;  // AllowXIRWAfterSIRW of the request
    bool Granted;
  };
  const Case cases[] = {
      {ltS, ltRW, true, false},      {ltRW, ltS, true, false},       {ltRW, ltRW, true, false},
      {ltXIRW, ltSIRW, true, false}, {ltXIRW, ltS, true, true},      {ltSIRW, ltSIRW, true, true},
      {ltSIRW, ltXIRW, true, true},  {ltSIRW, ltXIRW, false, false}, {ltXIRW, ltXIRW, true, false},
      {ltS, ltS, true, true},        {ltSIRW, ltRW, true, true},     {ltIS, ltX, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(SDBLockTypeName(c.Held)) + " held, " + SDBLockTypeName(c.Requested) + " requested");
    ASSERT_TRUE(A().LockTable(a.SessionID(), c.Held, 1, 10));
    EXPECT_EQ(B().LockTable(b.SessionID(), c.Requested, 2, 10, c.Allow), c.Granted);
    if (c.Granted) {
      EXPECT_TRUE(B().UnlockTable(b.SessionID(), c.Requested));
    }
    // A refused request leaves nothing behind.
    for (const auto& item : Locks(b)) EXPECT_EQ(item.LockType, ltIS);
    EXPECT_TRUE(A().UnlockTable(a.SessionID(), c.Held));
  }
}

// A session asking for a lock on top of one it holds only skips the bytes
// its own lock keeps out; ltXIRW granted next to ltSIRW keeps nothing out
// of the other, either way round. A grant made without looking still takes
// its byte, which the other session then meets.
TEST_P(LockPair, GrantOnTopOfOwnLockStillMeetsWhatThatLockDoesNotKeepOut) {
  struct Case {
    TSDBLockType BHolds, AHolds;
    bool AAllow;  // AllowXIRWAfterSIRW of A's lock
    TSDBLockType BRequests;
    bool Granted;
    TSDBLockType AThenRefused;  // ltIS: nothing to ask
  };
  const Case cases[] = {
      {ltRW, ltIS, true, ltXIRW, true, ltSIRW},   {ltRW, ltIS, true, ltXIRW, true, ltS},
      {ltSIRW, ltXIRW, true, ltRW, false, ltIS},  {ltSIRW, ltXIRW, true, ltXIRW, false, ltIS},
      {ltS, ltS, true, ltRW, false, ltIS},        {ltS, ltIS, true, ltRW, true, ltS},
      {ltXIRW, ltS, true, ltRW, false, ltIS},     {ltXIRW, ltIS, true, ltRW, true, ltS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("B holds ") + SDBLockTypeName(c.BHolds) + ", A holds " + SDBLockTypeName(c.AHolds) +
                 ", B requests " + SDBLockTypeName(c.BRequests));
    ASSERT_TRUE(B().LockTable(b.SessionID(), c.BHolds, 1, 10));
    ASSERT_TRUE(A().LockTable(a.SessionID(), c.AHolds, 1, 10, c.AAllow));
    EXPECT_EQ(B().LockTable(b.SessionID(), c.BRequests, 2, 10), c.Granted);
    if (c.AThenRefused != ltIS) {
      EXPECT_FALSE(A().LockTable(a.SessionID(), c.AThenRefused, 2, 10));
    }
    if (c.Granted) {
      EXPECT_TRUE(B().UnlockTable(b.SessionID(), c.BRequests));
    }
    EXPECT_TRUE(A().UnlockTable(a.SessionID(), c.AHolds));
    EXPECT_TRUE(B().UnlockTable(b.SessionID(), c.BHolds));
    for (const auto& item : Locks(b)) EXPECT_EQ(item.LockType, ltIS);
    for (const auto& item : Locks(a)) EXPECT_EQ(item.LockType, ltIS);
  }
}

TEST_P(LockPair, WeakerGrantRidesOnStrongerLockAndTakesItsByteWhenItGoes) {
  b.CloseTable(cb);
  a.CloseTable(ca);
  a.OpenTable(ca, "T", true);  // ltX
  TSDBCursor& second = extra;
  // The exclusive cursor's own session may take weaker locks without a byte.
  ASSERT_TRUE(A().LockTable(a.SessionID(), ltIS, 1, 10));
  ASSERT_TRUE(A().LockRecord(a.SessionID(), {4, 2}, 1, 10));
  auto items = Locks(a);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_FALSE(items[2].HasPhysicalLock);
  items.pop_back();
  EXPECT_TRUE(items[0].HasPhysicalLock);
  EXPECT_FALSE(items[1].HasPhysicalLock);
  TSDBTableLocksFile view(A().TableLocksFile());
  EXPECT_FALSE(view.IsLockByteHeld(a.SessionID(), ltIS));
  EXPECT_TRUE(view.IsFileLockHeld());
  EXPECT_EQ(NativeOf([&] { b.OpenTable(second, "T"); }), 20209);
  // Closing the exclusive cursor releases ltX: the ltIS grant takes its byte first.
  EXPECT_TRUE(A().UnlockTable(a.SessionID(), ltX));
  items = Locks(a);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].LockType, ltIS);
  EXPECT_TRUE(items[0].HasPhysicalLock);
  // The record lock taken under ltX has its own byte and slot now.
  EXPECT_EQ(items[1].LockType, ltU);
  EXPECT_TRUE(items[1].HasPhysicalLock);
  EXPECT_TRUE(view.IsRecordByteHeld(a.SessionID()));
  EXPECT_EQ(view.RecordSlot(a.SessionID()), (TSDBPageItemID{4, 2}));
  EXPECT_TRUE(A().UnlockRecord(a.SessionID(), {4, 2}));
  EXPECT_FALSE(view.IsRecordByteHeld(a.SessionID()));
  EXPECT_TRUE(view.IsLockByteHeld(a.SessionID(), ltIS));
  EXPECT_FALSE(view.IsFileLockHeld());
  // (A shared table data still has the exclusive cursor open: only a
  // session of another database data can be let in at this point.)
  if (GetParam()) return;
  b.OpenTable(second, "T");
  EXPECT_FALSE(second.TableData->LockTable(b.SessionID(), ltX, 1, 10));
}

TEST_P(LockPair, SecondEditOfOneTableBySameSessionIsRefused) {
  ASSERT_TRUE(A().LockTable(a.SessionID(), ltSIRW, 1, 10));
  TSDBCursor& other = extra;
  a.OpenTable(other, "T");
  EXPECT_FALSE(other.TableData->LockTable(a.SessionID(), ltSIRW, 1, 10));
  // Counted types are granted again.
  EXPECT_TRUE(A().LockTable(a.SessionID(), ltS, 1, 10));
  EXPECT_TRUE(A().LockTable(a.SessionID(), ltS, 1, 10));
  EXPECT_FALSE(B().LockTable(b.SessionID(), ltRW, 1, 10));
  EXPECT_TRUE(A().UnlockTable(a.SessionID(), ltS));
  EXPECT_FALSE(B().LockTable(b.SessionID(), ltRW, 1, 10));
  EXPECT_TRUE(A().UnlockTable(a.SessionID(), ltS));
  EXPECT_TRUE(B().LockTable(b.SessionID(), ltRW, 1, 10));
  EXPECT_EQ(NativeOf([&] { A().UnlockTable(a.SessionID(), ltS); }), 20202);
  EXPECT_TRUE(A().UnlockTable(a.SessionID(), ltS, true));
}

TEST_P(LockPair, RecordLocks) {
  const TSDBPageItemID r1{5, 1}, r2{5, 2};
  ASSERT_TRUE(A().LockRecord(a.SessionID(), r1, 1, 10));
  EXPECT_FALSE(A().LockRecord(a.SessionID(), r2, 1, 10));  // one record per table and session
  EXPECT_TRUE(B().IsRecordLocked(b.SessionID(), r1));
  EXPECT_FALSE(A().IsRecordLocked(a.SessionID(), r1));
  EXPECT_FALSE(B().LockRecord(b.SessionID(), r1, 2, 10));
  EXPECT_TRUE(B().LockRecord(b.SessionID(), r2, 1, 10));
  EXPECT_TRUE(B().UnlockRecord(b.SessionID(), r2));
  EXPECT_TRUE(A().UnlockRecord(a.SessionID(), r1));
  EXPECT_FALSE(A().UnlockRecord(a.SessionID(), r1));
  // A's slot still names r1, but its byte is free: the stale slot does not count.
  EXPECT_FALSE(B().IsRecordLocked(b.SessionID(), r1));
  EXPECT_TRUE(B().LockRecord(b.SessionID(), r1, 1, 10));
}

TEST_P(LockPair, CommitThatCannotGetItsWriteLocksFailsAndWritesNothing) {
  a.DatabaseData().TableLockManager()->CommitLockTryCount = 3;
  a.DatabaseData().TableLockManager()->CommitLockDelayMs = 10;
  a.StartTransaction();
  ASSERT_TRUE(sdbmu::Put(ca, 1, 42, false));
  // The transaction's ltXIRW does not keep B from reading.
  EXPECT_FALSE(sdbmu::Get(cb, 1, 1).has_value());
  ASSERT_TRUE(B().LockTable(b.SessionID(), ltS, 1, 10));
  EXPECT_EQ(NativeOf([&] { a.Commit(); }), 20233);
  EXPECT_TRUE(a.InTransaction());
  for (const auto& item : Locks(a)) EXPECT_NE(item.LockType, ltRW);
  EXPECT_FALSE(sdbmu::Get(cb, 1, 1).has_value());
  ASSERT_TRUE(B().UnlockTable(b.SessionID(), ltS));
  a.Commit();
  EXPECT_FALSE(a.InTransaction());
  for (const auto& item : Locks(a)) EXPECT_EQ(item.LockType, ltIS);
  EXPECT_EQ(sdbmu::Get(cb, 1, 1), 42);
}

TEST_P(LockPair, RollbackDropsChangesAndTransactionLocks) {
  a.StartTransaction();
  ASSERT_TRUE(sdbmu::Put(ca, 7, 1, false));
  EXPECT_FALSE(B().LockTable(b.SessionID(), ltSIRW, 1, 10));
  a.Rollback();
  EXPECT_TRUE(B().LockTable(b.SessionID(), ltSIRW, 1, 10));
  EXPECT_FALSE(sdbmu::Get(cb, 7, 1).has_value());
  EXPECT_FALSE(sdbmu::Get(ca, 7, 1).has_value());
}

TEST_P(LockPair, WritersSerialiseAndSeeEachOthersChanges) {
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(sdbmu::Put(i % 2 ? ca : cb, 1, 1, true));
  }
  EXPECT_EQ(sdbmu::Get(ca, 1), 20);
  EXPECT_EQ(sdbmu::Get(cb, 1), 20);
}

TEST_P(LockPair, DisconnectReleasesTheSessionsLocks) {
  ASSERT_TRUE(A().LockTable(a.SessionID(), ltRW, 1, 10));
  ASSERT_TRUE(A().LockRecord(a.SessionID(), {3, 3}, 1, 10));
  EXPECT_FALSE(B().LockTable(b.SessionID(), ltS, 1, 10));
  a.Disconnect();
  EXPECT_TRUE(B().LockTable(b.SessionID(), ltS, 1, 10));
  EXPECT_TRUE(B().LockRecord(b.SessionID(), {3, 3}, 1, 10));
}

INSTANTIATE_TEST_SUITE_P(SharedAndSeparateDatabaseData, LockPair, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "Shared" : "Separate"; });

TEST(LockTypes, AtLeastAsStrong) {
  EXPECT_TRUE(SDBLockAtLeastAsStrong(ltX, ltIS));
  EXPECT_TRUE(SDBLockAtLeastAsStrong(ltX, ltRW));
  EXPECT_TRUE(SDBLockAtLeastAsStrong(ltS, ltIS));
  EXPECT_TRUE(SDBLockAtLeastAsStrong(ltIS, ltU));
  EXPECT_TRUE(SDBLockAtLeastAsStrong(ltU, ltIS));
  EXPECT_TRUE(SDBLockAtLeastAsStrong(ltXIRW, ltS));
  EXPECT_FALSE(SDBLockAtLeastAsStrong(ltS, ltRW));
  EXPECT_TRUE(SDBLockAtLeastAsStrong(ltRW, ltS));
  EXPECT_FALSE(SDBLockAtLeastAsStrong(ltIS, ltX));
}

}  // namespace
