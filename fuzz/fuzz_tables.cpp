// A damaged database file with tables: the check, and opening every table
// and reading all of it (records in physical and in index order, BLOB
// values), must fail cleanly (ESDBException), never crash, hang or leak,
// and must never change the file.
//
// Seed: SDB_FUZZ_WRITE_SEED=FILE ./fuzz_tables writes a small database with
// two tables (one with BLOBs, one with an index) to FILE and exits.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sdb/SDBException.h"
#include "storage/maintenance/SDBDatabaseCheck.h"
#include "storage/database/SDBTableDatabase.h"

namespace {

using namespace sdb;

// More steps than any table of a fuzzed file can hold: navigation that goes
// on longer is going round in circles.
constexpr int kMaxSteps = 100000;

std::string TempFile() {
  static const std::string name = "/tmp/sdb_fuzz_tables_" + std::to_string(getpid()) + ".sdb";
  return name;
}

std::vector<uint8_t> ReadBack(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void Walk(TSDBDiskTableData& t, TSDBCursor& c, int indexID) {
  c.CurrentIndexID = indexID;
  c.FirstPosition = true;
  c.LastPosition = false;
  TSDBBaseFieldManager& fm = t.FieldManager();
  for (int steps = 0;; ++steps) {
    if (steps > kMaxSteps) {
      std::fprintf(stderr, "navigation of table %s (index %d) does not end\n", t.TableName().c_str(), indexID);
      std::abort();
    }
    if (t.GetRecordBuffer(c, grmNext) != grrOK) break;
    for (int f = 0; f < fm.FieldCount(); ++f) {
      try {
        if (fm.FFieldDefs[f].IsBlob())
          t.ReadBlobField(c, c.CurrentRecordBuffer, f);
        else
          t.GetFieldValue(c.CurrentRecordBuffer, f);
      } catch (const ESDBException&) {
      }
    }
    t.ClearBlobsCacheInRecordBuffer(c.CurrentRecordBuffer);
  }
}

void ReadTables(const std::string& file) {
  TSDBTableDatabase db(64);
  try {
    db.OpenDatabase(file, {}, true);
  } catch (const ESDBException&) {
    return;
  }
  std::vector<std::string> names;
  try {
    names = db.GetTablesList();
  } catch (const ESDBException&) {
    return;
  }
  for (const auto& name : names) {
    TSDBCursor c;
    try {
      db.OpenTable(c, name);
    } catch (const ESDBException&) {
      continue;
    }
    TSDBDiskTableData& t = *c.TableData;
    try {
      t.GetRecordCount(c.SessionID);
      Walk(t, c, -1);
    } catch (const ESDBException&) {
    }
    for (int i = 0; i < t.IndexDefs().Count(); ++i) {
      try {
        Walk(t, c, t.IndexDefs()[i].FObjectID);
      } catch (const ESDBException&) {
      }
    }
    try {
      db.CloseTable(c);
    } catch (const ESDBException&) {
    }
  }
}

void WriteSeed(const std::string& file) {
  TSDBTableDatabase db(64);
  TSDBCreateDatabaseParams p;
  p.FileName = file;
  p.PageSize = 512;
  p.PageCountInExtent = 4;
  p.MaxConnections = 1;
  db.CreateDatabase(p);
  TSDBFieldDefs notes;
  notes.Emplace("ID", aftInteger, 0);
  notes.Emplace("NOTE", aftMemo, 0);
  notes.Emplace("DATA", aftBlob, 0);
  notes[2].FBLOBCompressionAlgorithm = acaZLIB;
  notes[2].FBLOBCompressionMode = 1;
  notes[2].FBLOBBlockSize = 300;
  db.CreateTable("Notes", std::move(notes));
  TSDBFieldDefs lines;
  lines.Emplace("NUM", aftInteger, 0);
  lines.Emplace("NAME", aftString, 30);
  TSDBIndexDefs indexes;
  auto ix = std::make_unique<TSDBIndexDef>();
  ix->FName = "BYNAME";
  ix->FColumns.push_back({"NAME", false, true, 20});
  indexes.Add(std::move(ix));
  db.CreateTable("Lines", std::move(lines), {}, std::move(indexes));
  TSDBCursor c;
  db.OpenTable(c, "Notes");
  for (int i = 0; i < 6; ++i) {
    TSDBDiskTableData& t = *c.TableData;
    c.EditRecordBuffer = t.NewRecordBuffer();
    t.SetFieldValue(c.EditRecordBuffer, 0, TSDBVariant::FromInt(i));
    std::string memo(i == 3 ? 1500 : 40 + i, static_cast<char>('a' + i));
    t.WriteBLOBFieldToRecordBuffer(c.EditRecordBuffer, 1, std::vector<uint8_t>(memo.begin(), memo.end()));
    if (i % 2) t.WriteBLOBFieldToRecordBuffer(c.EditRecordBuffer, 2, std::vector<uint8_t>(700, static_cast<uint8_t>(i)));
    t.InsertRecord(c);
  }
  db.CloseTable(c);
  db.OpenTable(c, "Lines");
  for (int i = 0; i < 30; ++i) {
    TSDBDiskTableData& t = *c.TableData;
    c.EditRecordBuffer = t.NewRecordBuffer();
    t.SetFieldValue(c.EditRecordBuffer, 0, TSDBVariant::FromInt(i * 7 % 30));
    t.SetFieldValue(c.EditRecordBuffer, 1, TSDBVariant::FromString("line " + std::to_string(i * 7 % 30)));
    t.InsertRecord(c);
  }
  db.CloseTable(c);
  db.CloseDatabase();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* seed = std::getenv("SDB_FUZZ_WRITE_SEED")) {
    try {
      WriteSeed(seed);
    } catch (const ESDBException& e) {
      std::fprintf(stderr, "%s\n", e.what());
      std::exit(1);
    }
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = TempFile();
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    SDBCheckDatabase(file);
  } catch (const ESDBException&) {
  }
  ReadTables(file);
  const auto after = ReadBack(file);
  if (after.size() != size || (size > 0 && std::memcmp(after.data(), data, size) != 0)) {
    std::fprintf(stderr, "the database file was modified by reading it\n");
    std::abort();
  }
  return 0;
}
