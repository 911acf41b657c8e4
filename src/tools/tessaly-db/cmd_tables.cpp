// tessaly-db tables / schema / dump / create-table: list the tables of a
// database file, show a table's definition, print its records in physical
// order, and create a table from a column list.
#include <cctype>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Commands.h"
#include "common/SDBException.h"
#include "common/SDBFieldTypes.h"
#include "storage/SDBTableDatabase.h"

namespace tessdb {

using namespace sdb;

namespace {

const char* kTablesUsage = "usage: tessaly-db tables FILE [--password P]\n";
const char* kSchemaUsage = "usage: tessaly-db schema FILE TABLE [--password P]\n";
const char* kDumpUsage =
    "usage: tessaly-db dump FILE TABLE [--limit N] [--password P]\n"
    "  prints the records in physical order, one a line, fields separated by tabs\n";
const char* kCreateTableUsage =
    "usage: tessaly-db create-table FILE TABLE \"FIELD TYPE[(SIZE)], ...\" [--password P]\n"
    "  TYPE is an SQL type name (INTEGER, VARCHAR(50), MEMO, AUTOINC, ...)\n";

std::vector<std::string> Positional(const Args& args, size_t count, const char* usage) {
  for (const auto& a : args)
    if (a.size() > 1 && a[0] == '-') throw std::invalid_argument("unknown option " + a + "\n" + usage);
  if (args.size() != count) throw std::invalid_argument(std::string("wrong number of arguments\n") + usage);
  return args;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

std::string TypeText(const TSDBFieldDef& f) {
  std::string name = SDBAdvancedFieldTypeName(f.FAdvancedFieldType);
  if (name.rfind("aft", 0) == 0) name = name.substr(3);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
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

// Parses "NAME TYPE[(SIZE)], ..." into field definitions.
TSDBFieldDefs ParseColumns(const std::string& text) {
  TSDBFieldDefs defs;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t comma = pos;
    int depth = 0;
    while (comma < text.size() && (text[comma] != ',' || depth > 0)) {
      if (text[comma] == '(') ++depth;
      if (text[comma] == ')') --depth;
      ++comma;
    }
    const std::string col = Trim(text.substr(pos, comma - pos));
    pos = comma + 1;
    if (col.empty()) throw std::invalid_argument("empty column definition in '" + text + "'");
    size_t sp = 0;
    while (sp < col.size() && !std::isspace(static_cast<unsigned char>(col[sp]))) ++sp;
    const std::string name = col.substr(0, sp);
    std::string type = Trim(col.substr(sp));
    if (name.empty() || type.empty()) throw std::invalid_argument("column '" + col + "' needs a name and a type");
    int32_t size = 0;
    const size_t open = type.find('(');
    if (open != std::string::npos) {
      const size_t close = type.find(')', open);
      if (close == std::string::npos || Trim(type.substr(close + 1)) != "")
        throw std::invalid_argument("bad size in column '" + col + "'");
      const std::string digits = Trim(type.substr(open + 1, close - open - 1));
      if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        throw std::invalid_argument("bad size in column '" + col + "'");
      size = std::stoi(digits);
      type = Trim(type.substr(0, open));
    }
    auto t = SDBFindSQLTypeName(type);
    if (!t) throw std::invalid_argument("unknown type '" + type + "' in column '" + col + "'");
    const bool sized = SDBIsStringFieldType(t->BaseType) || t->BaseType == bftBytes || t->BaseType == bftVarBytes;
    if (sized && t->AdvancedType != aftGuid && size <= 0)
      throw std::invalid_argument("column '" + col + "' needs a size");
    if (!sized && open != std::string::npos) throw std::invalid_argument("type " + type + " takes no size");
    defs.Emplace(name, t->AdvancedType, size);
    if (pos > text.size()) break;
  }
  return defs;
}

}  // namespace

int CmdTables(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << kTablesUsage;
    return 0;
  }
  Args args = argsIn;
  std::string password;
  TakeOption(args, "--password", password);
  Positional(args, 1, kTablesUsage);
  TSDBTableDatabase db(100);
  db.OpenDatabase(args[0], password, true);
  for (const auto& name : db.GetTablesList()) {
    TSDBCursor c;
    db.OpenTable(c, name);
    std::cout << name << "\t" << c.TableData->GetRecordCount(c.SessionID) << " records\n";
    db.CloseTable(c);
  }
  return 0;
}

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
    if (!f.FDefaultValue.IsNull()) std::cout << ", default '" << Escape(f.FDefaultValue.AsString()) << "'";
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
        if (f.FBaseFieldType == bftClob)
          std::cout << Escape(std::string(v.begin(), v.end()));
        else
          std::cout << "<" << v.size() << " bytes>";
      } else {
        std::cout << Escape(t.GetFieldValue(c.CurrentRecordBuffer, i).AsString());
      }
    }
    std::cout << "\n";
    ++n;
  }
  db.CloseTable(c);
  return 0;
}

int CmdCreateTable(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << kCreateTableUsage;
    return 0;
  }
  Args args = argsIn;
  std::string password;
  TakeOption(args, "--password", password);
  Positional(args, 3, kCreateTableUsage);
  TSDBFieldDefs defs = ParseColumns(args[2]);
  TSDBTableDatabase db(100);
  db.OpenDatabase(args[0], password, false);
  db.CreateTable(args[1], std::move(defs));
  std::cout << "table " << args[1] << " created\n";
  return 0;
}

}  // namespace tessdb
