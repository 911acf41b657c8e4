// Shared pieces of the multi-user tests and their helper process: a table
// of (K, V) integer pairs and the read and write steps a session performs on
// it with the table and record locks of the multi-user protocol.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "sdb/SDBException.h"
#include "platform/SDBPlatform.h"
#include "storage/database/SDBSession.h"

namespace sdbmu {

inline sdb::TSDBFieldDefs KVFields() {
  sdb::TSDBFieldDefs defs;
  defs.Emplace("K", sdb::aftInteger, 0);
  defs.Emplace("V", sdb::aftInteger, 0);
  return defs;
}

// Positions the cursor on the record with key k (physical scan).
inline bool FindKey(sdb::TSDBCursor& c, int64_t k) {
  sdb::TSDBDiskTableData& t = *c.TableData;
  c.FirstPosition = true;
  c.LastPosition = false;
  while (t.GetRecordBuffer(c, sdb::grmNext) == sdb::grrOK)
    if (t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64() == k) return true;
  return false;
}

// A lock wait as the cursor does it for posts: one attempt at a time, the
// database critical section left between attempts.
inline bool WaitLock(sdb::TSDBCursor& c, sdb::TSDBLockType type, int tries, int delayMs) {
  for (int i = 0; i < tries; ++i) {
    if (c.TableData->LockTable(c.SessionID, type, 1, delayMs)) return true;
    sdb::SDBSleep(static_cast<uint32_t>(delayMs));
  }
  return false;
}

// Reads V of key k under a read lock; empty when absent. Throws when the
// read lock cannot be had.
inline std::optional<int64_t> Get(sdb::TSDBCursor& c, int64_t k, int tries = 2250) {
  sdb::TSDBDiskTableData& t = *c.TableData;
  if (!WaitLock(c, sdb::ltS, tries, 40)) throw sdb::ESDBException(20203, "Cannot set table lock");
  std::optional<int64_t> v;
  try {
    t.LoadMostUpdated(c.SessionID);
    if (FindKey(c, k)) v = t.GetFieldValue(c.CurrentRecordBuffer, 1).AsInt64();
  } catch (...) {
    t.UnlockTable(c.SessionID, sdb::ltS);
    throw;
  }
  t.UnlockTable(c.SessionID, sdb::ltS);
  return v;
}

// Sets V of key k (inserting the record when absent), or adds Delta to it,
// under ltRW (ltXIRW inside a transaction, kept until commit). Answers the
// value stored; false when the write lock could not be had.
// Append always inserts a new record.
inline bool Put(sdb::TSDBCursor& c, int64_t k, int64_t v, bool add, int64_t* stored = nullptr, int tries = 2250,
                bool append = false) {
  sdb::TSDBDiskTableData& t = *c.TableData;
  const sdb::TSDBLockType type = c.FInTransaction ? sdb::ltXIRW : sdb::ltRW;
  if (!WaitLock(c, type, tries, 40)) return false;
  try {
    t.LoadMostUpdated(c.SessionID);
    if (!append && FindKey(c, k)) {
      c.EditRecordBuffer = c.CurrentRecordBuffer;
      const int64_t nv = add ? t.GetFieldValue(c.CurrentRecordBuffer, 1).AsInt64() + v : v;
      t.SetFieldValue(c.EditRecordBuffer, 1, sdb::TSDBVariant::FromInt(nv));
      if (!t.UpdateRecord(c)) throw sdb::ESDBException(20144, "Record not found");
      if (stored) *stored = nv;
    } else {
      c.EditRecordBuffer = t.NewRecordBuffer();
      t.SetFieldValue(c.EditRecordBuffer, 0, sdb::TSDBVariant::FromInt(k));
      t.SetFieldValue(c.EditRecordBuffer, 1, sdb::TSDBVariant::FromInt(v));
      if (!t.InsertRecord(c)) throw sdb::ESDBException(20144, "Record not inserted");
      if (stored) *stored = v;
    }
  } catch (...) {
    if (type == sdb::ltRW) t.UnlockTable(c.SessionID, type);
    throw;
  }
  if (type == sdb::ltRW) t.UnlockTable(c.SessionID, type);
  return true;
}

// Records whose K equals k.
inline int64_t CountKey(sdb::TSDBCursor& c, int64_t k) {
  sdb::TSDBDiskTableData& t = *c.TableData;
  if (!WaitLock(c, sdb::ltS, 2250, 40)) throw sdb::ESDBException(20203, "Cannot set table lock");
  int64_t n = 0;
  t.LoadMostUpdated(c.SessionID);
  c.FirstPosition = true;
  c.LastPosition = false;
  while (t.GetRecordBuffer(c, sdb::grmNext) == sdb::grrOK)
    if (t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64() == k) ++n;
  t.UnlockTable(c.SessionID, sdb::ltS);
  return n;
}

inline int NativeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const sdb::ESDBException& e) {
    return e.NativeError();
  }
  return 0;
}

}  // namespace sdbmu
