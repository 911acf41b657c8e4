// tessaly-db tables / schema / dump / create-table / import / export: list
// the tables of a database file, show a table's definition, print its
// records in physical order, create a table from a column list, and move a
// table's rows from and to CSV files.
#include <cctype>
#include <charconv>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
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

const char* kTablesUsage = "usage: tessaly-db tables FILE [--password P]\n";
const char* kSchemaUsage = "usage: tessaly-db schema FILE TABLE [--password P]\n";
const char* kDumpUsage =
    "usage: tessaly-db dump FILE TABLE [--limit N] [--password P]\n"
    "  prints the records in physical order, one a line, fields separated by tabs\n";
const char* kImportUsage =
    "usage: tessaly-db import FILE TABLE DATA.csv [--password P]\n"
    "  Adds the rows of a CSV file to the table, all in one transaction: a bad\n"
    "  value stops the import with its line and column and nothing is added.\n"
    "  The first row names the fields (any order, any subset; fields left out\n"
    "  get their default or NULL). Fields are separated by commas, rows end\n"
    "  with CR LF or LF; a field in double quotes may hold commas, line breaks\n"
    "  and doubled quotes (\"\"). An empty unquoted field is NULL; an empty\n"
    "  quoted field \"\" is an empty text, which the engine stores as NULL too.\n"
    "  Values are read as the field's type: integers, decimal numbers (point\n"
    "  or a lone comma), dates YYYY-MM-DD or DD/MM/YYYY, times HH:MM[:SS[.mmm]],\n"
    "  logicals TRUE/FALSE/1/0/YES/NO; texts and BLOBs take the bytes as they\n"
    "  are (texts are 8-bit, Windows-1252).\n";
const char* kExportUsage =
    "usage: tessaly-db export FILE TABLE OUT.csv [--password P]\n"
    "  Writes the table's rows in physical order as CSV: a header row of field\n"
    "  names, then one row per record, CR LF line ends, fields quoted when they\n"
    "  hold a comma, a quote or a line break. NULL is an empty field; BLOBs are\n"
    "  written as their bytes. import reads the file back.\n";
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

// ---- CSV ---------------------------------------------------------------------

// One CSV record: its fields, whether each was quoted, and the line it
// starts on.
struct TCsvRow {
  std::vector<std::string> Fields;
  std::vector<bool> Quoted;
  int64_t Line = 0;
};

class TCsvError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TCsvReader {
 public:
  explicit TCsvReader(std::string text) : FText(std::move(text)) {
    if (FText.compare(0, 3, "\xEF\xBB\xBF") == 0) FPos = 3;  // a UTF-8 byte-order mark
  }

  // The next record; false at the end of the text.
  bool Next(TCsvRow& row) {
    row = TCsvRow{};
    if (FPos >= FText.size()) return false;
    row.Line = FLine;
    for (;;) {
      std::string field;
      bool quoted = false;
      if (FPos < FText.size() && FText[FPos] == '"') {
        quoted = true;
        const int64_t startLine = FLine;
        ++FPos;
        for (;;) {
          if (FPos >= FText.size())
            throw TCsvError("line " + std::to_string(startLine) + ", column " + std::to_string(row.Fields.size() + 1) +
                            ": quoted field is not closed");
          const char c = FText[FPos++];
          if (c == '"') {
            if (FPos < FText.size() && FText[FPos] == '"') {
              field += '"';
              ++FPos;
              continue;
            }
            break;
          }
          if (c == '\n') ++FLine;
          field += c;
        }
        if (FPos < FText.size() && FText[FPos] != ',' && FText[FPos] != '\n' && FText[FPos] != '\r')
          throw TCsvError("line " + std::to_string(FLine) + ", column " + std::to_string(row.Fields.size() + 1) +
                          ": text after the closing quote");
      } else {
        while (FPos < FText.size() && FText[FPos] != ',' && FText[FPos] != '\n' && FText[FPos] != '\r') {
          if (FText[FPos] == '"')
            throw TCsvError("line " + std::to_string(FLine) + ", column " + std::to_string(row.Fields.size() + 1) +
                            ": a quote inside an unquoted field");
          field += FText[FPos++];
        }
      }
      row.Fields.push_back(std::move(field));
      row.Quoted.push_back(quoted);
      if (FPos >= FText.size()) return true;
      const char sep = FText[FPos++];
      if (sep == ',') continue;
      if (sep == '\r') {
        if (FPos < FText.size() && FText[FPos] == '\n') ++FPos;
        else
          throw TCsvError("line " + std::to_string(FLine) + ": a carriage return without a line feed");
      }
      ++FLine;
      return true;
    }
  }

 private:
  std::string FText;
  size_t FPos = 0;
  int64_t FLine = 1;
};

std::string CsvField(const std::string& v) {
  if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
  std::string out = "\"";
  for (char c : v) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// A stored value as text, written so that import reads back the same value.
std::string ValueText(TSDBDiskTableData& t, TSDBCursor& c, int field) {
  TSDBBaseFieldManager& fm = t.FieldManager();
  const TSDBFieldDef& f = fm.FFieldDefs[field];
  if (f.IsBlob()) {
    const std::vector<uint8_t> v = t.ReadBlobField(c, c.CurrentRecordBuffer, field);
    if (SDBIsTextType(f.FBaseFieldType)) return SDBValueUtf8(SDBBlobValue(f.FBaseFieldType, v));
    return std::string(v.begin(), v.end());
  }
  const TSDBVariant v = t.GetFieldValue(c.CurrentRecordBuffer, field);
  if (SDBIsTextType(f.FBaseFieldType)) return SDBValueUtf8(v);
  if (SDBIsFloatType(f.FBaseFieldType)) {
    // The shortest text that reads back as the same number.
    char buf[64];
    const double d = v.AsDouble();
    auto r = f.FBaseFieldType == bftSingle ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(d))
                                            : std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
  }
  return v.AsString();
}

std::string ReadWholeFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) throw std::invalid_argument("cannot open " + name);
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) throw std::invalid_argument("cannot read " + name);
  return ss.str();
}

// Stores one CSV field into the record buffer; raises TCsvError naming the
// line and column.
void PutValue(TSDBDiskTableData& t, std::vector<uint8_t>& buf, int field, const std::string& text,
              const std::string& where) {
  TSDBBaseFieldManager& fm = t.FieldManager();
  const TSDBFieldDef& f = fm.FFieldDefs[field];
  try {
    if (f.IsBlob()) {
      t.WriteBLOBFieldToRecordBuffer(buf, field,
                                     SDBIsTextType(f.FBaseFieldType)
                                         ? SDBBlobBytes(f, SDBTextValue(text, bftClob))
                                         : std::vector<uint8_t>(text.begin(), text.end()));
      return;
    }
    // The file holds UTF-8; the column decides the stored form.
    TSDBVariant v = SDBTextValue(text);
    if (SDBIsTextType(f.FBaseFieldType) || f.FBaseFieldType == bftBytes || f.FBaseFieldType == bftVarBytes) {
      const size_t length = SDBIsTextType(f.FBaseFieldType) ? SDBUtf8ToWide(text).size() : text.size();
      if (f.FFieldSize > 0 && length > static_cast<size_t>(f.FFieldSize))
        throw TCsvError(where + ": the value is " + std::to_string(length) + " characters long, the field holds " +
                        std::to_string(f.FFieldSize));
    }
    t.SetFieldValue(buf, field, SDBColumnValue(v, f.FBaseFieldType, f.FName));
  } catch (const ESDBException& e) {
    throw TCsvError(where + ": " + e.RawMessage());
  }
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

int CmdImport(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << kImportUsage;
    return 0;
  }
  Args args = argsIn;
  std::string password;
  TakeOption(args, "--password", password);
  Positional(args, 3, kImportUsage);
  const std::string& csvName = args[2];
  TCsvReader reader(ReadWholeFile(csvName));
  TSDBTableDatabase db(200);
  db.OpenDatabase(args[0], password, false);
  TSDBCursor c;
  db.OpenTable(c, args[1]);
  TSDBDiskTableData& t = *c.TableData;
  TSDBBaseFieldManager& fm = t.FieldManager();
  c.FInTransaction = true;
  int64_t rows = 0;
  try {
    TCsvRow header;
    if (!reader.Next(header)) throw TCsvError("line 1: the file has no header row");
    std::vector<int> columns;
    std::map<int, size_t> seen;
    for (size_t i = 0; i < header.Fields.size(); ++i) {
      const int f = fm.FieldNo(Trim(header.Fields[i]));
      const std::string where = "line 1, column " + std::to_string(i + 1);
      if (f < 0) throw TCsvError(where + ": table " + t.TableName() + " has no field '" + header.Fields[i] + "'");
      if (seen.count(f))
        throw TCsvError(where + ": field '" + header.Fields[i] + "' is named twice (also column " +
                        std::to_string(seen[f] + 1) + ")");
      seen[f] = i;
      columns.push_back(f);
    }
    TCsvRow row;
    while (reader.Next(row)) {
      // A blank line between rows is skipped unless a row of one NULL is meant.
      if (columns.size() > 1 && row.Fields.size() == 1 && row.Fields[0].empty() && !row.Quoted[0]) continue;
      if (row.Fields.size() != columns.size())
        throw TCsvError("line " + std::to_string(row.Line) + ": " + std::to_string(row.Fields.size()) +
                        " fields, the header names " + std::to_string(columns.size()));
      c.EditRecordBuffer = t.NewRecordBuffer();
      for (size_t i = 0; i < columns.size(); ++i) {
        if (row.Fields[i].empty() && !row.Quoted[i]) {
          // NULL: the field keeps what a new record has (its default or NULL).
          continue;
        }
        const std::string where = "line " + std::to_string(row.Line) + ", column " + std::to_string(i + 1) + " (" +
                                  fm.FFieldDefs[columns[i]].FName + ")";
        PutValue(t, c.EditRecordBuffer, columns[i], row.Fields[i], where);
      }
      try {
        t.InsertRecord(c);
      } catch (const ESDBException& e) {
        throw TCsvError("line " + std::to_string(row.Line) + ": " + e.RawMessage());
      }
      ++rows;
    }
    db.Commit(c.SessionID);
  } catch (const std::exception& e) {
    db.Rollback(c.SessionID);
    db.CloseTable(c);
    std::cerr << "tessaly-db import: " << csvName << ", " << e.what() << "; nothing was imported\n";
    return 1;
  }
  db.CloseTable(c);
  std::cout << rows << " row(s) imported into " << args[1] << "\n";
  return 0;
}

int CmdExport(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << kExportUsage;
    return 0;
  }
  Args args = argsIn;
  std::string password;
  TakeOption(args, "--password", password);
  Positional(args, 3, kExportUsage);
  TSDBTableDatabase db(200);
  db.OpenDatabase(args[0], password, true);
  TSDBCursor c;
  db.OpenTable(c, args[1]);
  TSDBDiskTableData& t = *c.TableData;
  TSDBBaseFieldManager& fm = t.FieldManager();
  std::ofstream out(args[2], std::ios::binary | std::ios::trunc);
  if (!out) throw std::invalid_argument("cannot create " + args[2]);
  for (int i = 0; i < fm.FieldCount(); ++i) out << (i ? "," : "") << CsvField(fm.FFieldDefs[i].FName);
  out << "\r\n";
  int64_t rows = 0;
  while (t.GetRecordBuffer(c, grmNext) == grrOK) {
    for (int i = 0; i < fm.FieldCount(); ++i) {
      if (i) out << ',';
      if (!fm.IsNull(c.CurrentRecordBuffer.data(), i)) {
        const std::string v = ValueText(t, c, i);
        // A value that is empty but not NULL is written quoted.
        out << (v.empty() ? std::string("\"\"") : CsvField(v));
      }
    }
    out << "\r\n";
    ++rows;
  }
  db.CloseTable(c);
  out.close();
  if (!out) throw std::invalid_argument("cannot write " + args[2]);
  std::cout << rows << " row(s) exported from " << args[1] << "\n";
  return 0;
}

}  // namespace tessdb
