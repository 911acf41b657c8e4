// Shared fixture of the table tests: a fresh database file per test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "sdb/SDBException.h"
#include "storage/database/SDBTableDatabase.h"

namespace sdbtest {

inline int NativeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const sdb::ESDBException& e) {
    return e.NativeError();
  }
  return 0;
}

struct FieldSpec {
  const char* Name;
  sdb::TSDBAdvancedFieldType Type;
  int32_t Size = 0;
};

inline sdb::TSDBFieldDefs Fields(const std::vector<FieldSpec>& specs) {
  sdb::TSDBFieldDefs defs;
  for (const auto& s : specs) defs.Emplace(s.Name, s.Type, s.Size);
  return defs;
}

inline std::vector<uint8_t> Bytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return v;
}

struct ColumnSpec {
  const char* Field;
  bool Descending = false;
  bool CaseInsensitive = false;
  int32_t MaxIndexedSize = 20;
};

inline std::unique_ptr<sdb::TSDBIndexDef> IndexDef(const std::string& name, const std::vector<ColumnSpec>& cols,
                                                   bool unique = false, bool primary = false) {
  auto d = std::make_unique<sdb::TSDBIndexDef>();
  d->FName = name;
  d->FUnique = unique;
  d->FPrimary = primary;
  for (const auto& c : cols) d->FColumns.push_back({c.Field, c.Descending, c.CaseInsensitive, c.MaxIndexedSize});
  return d;
}

inline sdb::TSDBIndexDefs Indexes(std::vector<std::unique_ptr<sdb::TSDBIndexDef>> defs) {
  sdb::TSDBIndexDefs out;
  for (auto& d : defs) out.Add(std::move(d));
  return out;
}

// A row of an (ID, NAME, NOTE) table: the note's BLOB value is empty when
// the record has none.
using IdNameNoteRow = std::tuple<int64_t, std::string, std::vector<uint8_t>>;

// Every row of such a table, sorted by ID, read through the table data.
inline std::vector<IdNameNoteRow> ReadIdNameNoteRows(sdb::TSDBTableDatabase& db, const std::string& table) {
  std::vector<IdNameNoteRow> rows;
  sdb::TSDBCursor c;
  db.OpenTable(c, table);
  sdb::TSDBDiskTableData& t = *c.TableData;
  while (t.GetRecordBuffer(c, sdb::grmNext) == sdb::grrOK) {
    std::vector<uint8_t> note;
    if (t.GetDirectBlobInfo(c.CurrentRecordBuffer, 2).PageNo > 0) note = t.ReadBlobField(c, c.CurrentRecordBuffer, 2);
    rows.emplace_back(t.GetFieldValue(c.CurrentRecordBuffer, 0).AsInt64(),
                      t.GetFieldValue(c.CurrentRecordBuffer, 1).AsString(), std::move(note));
  }
  db.CloseTable(c);
  std::sort(rows.begin(), rows.end());
  return rows;
}

class TableFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    path = (std::filesystem::temp_directory_path() /
            ("h7_table_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + ".sdb"))
               .string();
    sdb::TSDBCreateDatabaseParams p;
    p.FileName = path;
    p.MaxConnections = 20;
    db.CreateDatabase(p);
  }
  void TearDown() override {
    db.CloseDatabase();
    std::filesystem::remove(path);
  }
  void Reopen() {
    db.CloseDatabase();
    db.OpenDatabase(path);
  }
  sdb::TSDBDiskTableData& Open(sdb::TSDBCursor& c, const std::string& table, bool repair = false) {
    db.OpenTable(c, table, repair);
    return *c.TableData;
  }
  // Inserts one record built by `fill` from a fresh record buffer.
  void Insert(sdb::TSDBCursor& c, const std::function<void(sdb::TSDBDiskTableData&, std::vector<uint8_t>&)>& fill) {
    sdb::TSDBDiskTableData& t = *c.TableData;
    c.EditRecordBuffer = t.NewRecordBuffer();
    fill(t, c.EditRecordBuffer);
    ASSERT_TRUE(t.InsertRecord(c));
  }
  // Every value of field `fieldNo` in physical order.
  std::vector<sdb::TSDBVariant> Column(sdb::TSDBCursor& c, int fieldNo) {
    std::vector<sdb::TSDBVariant> out;
    sdb::TSDBDiskTableData& t = *c.TableData;
    c.FirstPosition = true;
    c.LastPosition = false;
    while (t.GetRecordBuffer(c, sdb::grmNext) == sdb::grrOK) out.push_back(t.GetFieldValue(c.CurrentRecordBuffer, fieldNo));
    return out;
  }

  // Every value of field `fieldNo` in the order of the index (physical
  // order for -1), walking forward or backward.
  std::vector<sdb::TSDBVariant> Ordered(sdb::TSDBCursor& c, int32_t indexID, int fieldNo, bool forward = true) {
    std::vector<sdb::TSDBVariant> out;
    sdb::TSDBDiskTableData& t = *c.TableData;
    c.CurrentIndexID = indexID;
    c.FirstPosition = forward;
    c.LastPosition = !forward;
    while (t.GetRecordBuffer(c, forward ? sdb::grmNext : sdb::grmPrior) == sdb::grrOK)
      out.push_back(t.GetFieldValue(c.CurrentRecordBuffer, fieldNo));
    return out;
  }
  static std::vector<std::string> Texts(const std::vector<sdb::TSDBVariant>& v) {
    std::vector<std::string> out;
    for (const auto& x : v) out.push_back(x.IsNull() ? "<null>" : x.AsString());
    return out;
  }

  static inline int counter = 0;
  std::string path;
  sdb::TSDBTableDatabase db{200};
};

}  // namespace sdbtest
