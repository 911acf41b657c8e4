// tessaly-db schema / dump: a table's definition as the file stores it
// (record layout, offsets and sizes, compression) and its records in
// physical order. These inspect the file, so they read the table layer
// directly rather than through the components, which do not show the
// layout and read records in an order of their choosing.
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Commands.h"
#include "sdb/SDBText.h"
#include "sdb/SDBException.h"
#include "sdb/SDBFieldTypes.h"
#include "storage/database/SDBTableDatabase.h"
#include "common/SDBNames.h"

namespace tessdb {

using namespace sdb;

namespace {

const char* kSchemaUsage = "usage: tessaly-db schema FILE TABLE [--password P]\n";
const char* kDumpUsage =
    "usage: tessaly-db dump FILE TABLE [--limit N] [--password P]\n"
    "  prints the records in physical order, one a line, fields separated by tabs\n";
std::string TypeText(const TSDBFieldDef& f) {
  std::string name = SDBAdvancedFieldTypeName(f.FAdvancedFieldType);
  if (name.rfind("aft", 0) == 0) name = name.substr(3);
  name = sdb::SDBUpperName(name);
  if (SDBIsStringFieldType(f.FBaseFieldType) || f.FBaseFieldType == bftBytes || f.FBaseFieldType == bftVarBytes)
    name += "(" + std::to_string(f.FFieldSize) + ")";
  return name;
}

// Tabs, line breaks and backslashes escaped so that a record stays on one line.
std::string Escape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\t')
      out += "\\t";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\\')
      out += "\\\\";
    else
      out += static_cast<char>(c);
  }
  return out;
}

}  // namespace

int CmdSchema(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << kSchemaUsage;
    return 0;
  }
  Args args = argsIn;
  std::string password;
  TakeOption(args, "--password", password);
  Positional(args, 2, kSchemaUsage);
  TSDBTableDatabase db(100);
  db.OpenDatabase(args[0], password, true);
  TSDBCursor c;
  db.OpenTable(c, args[1]);
  TSDBDiskTableData& t = *c.TableData;
  TSDBBaseFieldManager& fm = t.FieldManager();
  std::cout << "table " << t.TableName() << " (id " << t.TableID() << ")\n";
  std::cout << "record: " << fm.DiskRecordBufferSize() << " bytes on disk, " << fm.MemoryRecordBufferSize()
            << " in memory, " << t.RecordManager().MaxRecordsOnPage() << " per page; " << t.GetRecordCount(0)
            << " records\n";
  for (int i = 0; i < fm.FieldCount(); ++i) {
    const TSDBFieldDef& f = fm.FFieldDefs[i];
    std::cout << "  " << f.FName << "\t" << TypeText(f) << "\toffset " << f.FDiskOffset << ", " << f.FDiskDataSize
              << " bytes";
    if (f.IsBlob() && f.FBLOBCompressionAlgorithm != acaNone)
      std::cout << ", compression " << int{f.FBLOBCompressionAlgorithm} << " mode " << int{f.FBLOBCompressionMode};
    if (!f.FDefaultValue.IsNull()) {
      const TSDBVariant& d = f.FDefaultValue;
      std::cout << ", default '" << Escape(SDBIsTextType(d.DataType()) ? SDBValueUtf8(d) : d.AsString()) << "'";
    }
    std::cout << "\n";
  }
  for (int i = 0; i < t.IndexDefs().Count(); ++i) {
    const TSDBIndexDef& ix = t.IndexDefs()[i];
    std::cout << "  index " << ix.FName << (ix.FPrimary ? " primary" : "") << (ix.FUnique ? " unique" : "") << " (";
    for (size_t k = 0; k < ix.FColumns.size(); ++k)
      std::cout << (k ? ", " : "") << ix.FColumns[k].FFieldName << (ix.FColumns[k].FDescending ? " desc" : "");
    std::cout << ")\n";
  }
  db.CloseTable(c);
  return 0;
}

int CmdDump(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << kDumpUsage;
    return 0;
  }
  Args args = argsIn;
  std::string password, limitText;
  TakeOption(args, "--password", password);
  long long limit = -1;
  if (TakeOption(args, "--limit", limitText)) {
    size_t used = 0;
    try {
      limit = std::stoll(limitText, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used != limitText.size() || limit < 0) throw std::invalid_argument("--limit needs a whole number >= 0");
  }
  Positional(args, 2, kDumpUsage);
  TSDBTableDatabase db(200);
  db.OpenDatabase(args[0], password, true);
  TSDBCursor c;
  db.OpenTable(c, args[1]);
  TSDBDiskTableData& t = *c.TableData;
  TSDBBaseFieldManager& fm = t.FieldManager();
  for (int i = 0; i < fm.FieldCount(); ++i) std::cout << (i ? "\t" : "") << fm.FFieldDefs[i].FName;
  std::cout << "\n";
  long long n = 0;
  while ((limit < 0 || n < limit) && t.GetRecordBuffer(c, grmNext) == grrOK) {
    for (int i = 0; i < fm.FieldCount(); ++i) {
      if (i) std::cout << "\t";
      const TSDBFieldDef& f = fm.FFieldDefs[i];
      if (fm.IsNull(c.CurrentRecordBuffer.data(), i)) {
        std::cout << "NULL";
      } else if (f.IsBlob()) {
        std::vector<uint8_t> v = t.ReadBlobField(c, c.CurrentRecordBuffer, i);
        if (SDBIsTextType(f.FBaseFieldType))
          std::cout << Escape(SDBValueUtf8(SDBBlobValue(f.FBaseFieldType, v)));
        else
          std::cout << "<" << v.size() << " bytes>";
      } else {
        const TSDBVariant v = t.GetFieldValue(c.CurrentRecordBuffer, i);
        std::cout << Escape(SDBIsTextType(f.FBaseFieldType) ? SDBValueUtf8(v) : v.AsString());
      }
    }
    std::cout << "\n";
    ++n;
  }
  db.CloseTable(c);
  return 0;
}

}  // namespace tessdb
