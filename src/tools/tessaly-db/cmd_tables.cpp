// tessaly-db tables / create-table / import / export: list the tables of a
// database file, create a table from a column list, and move a table's
// rows from and to CSV files. These work through the engine's public
// components, as an application would (schema and dump, which inspect the
// file's layout, live in cmd_inspect.cpp).
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
#include "ToolDatabase.h"
#include "sdb/SDBCollation.h"
#include "sdb/SDBComponents.h"
#include "sdb/SDBException.h"
#include "sdb/SDBFieldTypes.h"
#include "sdb/SDBTableDefs.h"
#include "sdb/SDBText.h"

namespace tessdb {

using namespace sdb;

namespace {

const char* kTablesUsage = "usage: tessaly-db tables FILE [--password P]\n";
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
    "  logicals TRUE/FALSE/1/0/YES/NO; texts are read as UTF-8 and stored in\n"
    "  the column's encoding (a character it cannot hold stops the import);\n"
    "  BLOBs take the bytes as they are.\n";
const char* kExportUsage =
    "usage: tessaly-db export FILE TABLE OUT.csv [--password P]\n"
    "  Writes the table's rows in physical order as CSV: a header row of field\n"
    "  names, then one row per record, CR LF line ends, fields quoted when they\n"
    "  hold a comma, a quote or a line break. NULL is an empty field; BLOBs are\n"
    "  written as their bytes. import reads the file back.\n";
const char* kCreateTableUsage =
    "usage: tessaly-db create-table FILE TABLE \"FIELD TYPE[(SIZE)], ...\" [--password P]\n"
    "  TYPE is an SQL type name (INTEGER, VARCHAR(50), MEMO, AUTOINC, ...)\n";

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// Parses "NAME TYPE[(SIZE)], ..." into field definitions.
TSDBTableFieldDefs ParseColumns(const std::string& text) {
  TSDBTableFieldDefs defs;
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
    defs.Add(name, t->AdvancedType, size);
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
std::string ValueText(const TSDBTableFieldDef& f, const TSDBVariant& v) {
  const TSDBBaseFieldType type = f.BaseType();
  if (SDBIsTextType(type)) return SDBValueUtf8(v);
  if (SDBIsFloatType(type)) {
    // The shortest text that reads back as the same number.
    char buf[64];
    const double d = v.AsDouble();
    auto r = type == bftSingle ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(d))
                               : std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
  }
  // BLOBs and bytes as they are.
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

// Stores one CSV field into the record being inserted; raises TCsvError
// naming the line and column.
void PutValue(TSDBTable& t, int field, const std::string& text, const std::string& where) {
  const TSDBTableFieldDef& f = t.FieldDefs[field];
  const TSDBBaseFieldType type = f.BaseType();
  try {
    if (SDBIsBlobFieldType(type)) {
      t.Fields(field).SetValue(SDBIsTextType(type) ? SDBTextValue(text, bftClob) : TSDBVariant::FromBytes(text, type));
      return;
    }
    // The file holds UTF-8; the column decides the stored form.
    if (SDBIsTextType(type) || type == bftBytes || type == bftVarBytes) {
      const size_t length = SDBIsTextType(type) ? SDBUtf8ToWide(text).size() : text.size();
      if (f.Size > 0 && length > static_cast<size_t>(f.Size))
        throw TCsvError(where + ": the value is " + std::to_string(length) + " characters long, the field holds " +
                        std::to_string(f.Size));
    }
    t.Fields(field).SetValue(SDBColumnValue(SDBTextValue(text), type, f.Name));
  } catch (const ESDBException& e) {
    throw TCsvError(where + ": " + e.RawMessage());
  }
}

// A table component on the tool's database.
void UseTable(TSDBTable& t, const std::string& name) {
  t.DatabaseName = kToolDatabaseName;
  t.TableName = name;
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
  TSDBDatabase db;
  OpenToolDatabase(db, args[0], password, kSDBDefaultDurability, true);
  for (const auto& name : db.GetTablesList()) {
    TSDBTable t;
    UseTable(t, name);
    t.Open();
    std::cout << name << "\t" << t.RecordCount() << " records\n";
  }
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
  TSDBTableFieldDefs defs = ParseColumns(args[2]);
  TSDBDatabase db;
  OpenToolDatabase(db, args[0], password);
  TSDBTable t;
  UseTable(t, args[1]);
  t.FieldDefs = std::move(defs);
  t.CreateTable();
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
  TSDBDatabase db;
  OpenToolDatabase(db, args[0], password);
  TSDBTable t;
  UseTable(t, args[1]);
  t.Open();
  db.StartTransaction();
  int64_t rows = 0;
  try {
    TCsvRow header;
    if (!reader.Next(header)) throw TCsvError("line 1: the file has no header row");
    std::vector<int> columns;
    std::map<int, size_t> seen;
    for (size_t i = 0; i < header.Fields.size(); ++i) {
      const int f = t.FieldDefs.IndexOf(Trim(header.Fields[i]));
      const std::string where = "line 1, column " + std::to_string(i + 1);
      if (f < 0) throw TCsvError(where + ": table " + t.TableName + " has no field '" + header.Fields[i] + "'");
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
      t.Insert();
      for (size_t i = 0; i < columns.size(); ++i) {
        if (row.Fields[i].empty() && !row.Quoted[i]) {
          // NULL: the field keeps what a new record has (its default or NULL).
          continue;
        }
        const std::string where = "line " + std::to_string(row.Line) + ", column " + std::to_string(i + 1) + " (" +
                                  t.FieldDefs[columns[i]].Name + ")";
        PutValue(t, columns[i], row.Fields[i], where);
      }
      try {
        t.Post();
      } catch (const ESDBException& e) {
        throw TCsvError("line " + std::to_string(row.Line) + ": " + e.RawMessage());
      }
      ++rows;
    }
    db.Commit();
  } catch (const std::exception& e) {
    t.Cancel();
    db.Rollback();
    std::cerr << "tessaly-db import: " << csvName << ", " << e.what() << "; nothing was imported\n";
    return 1;
  }
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
  TSDBDatabase db;
  OpenToolDatabase(db, args[0], password, kSDBDefaultDurability, true);
  TSDBTable t;
  UseTable(t, args[1]);
  t.Open();
  std::ofstream out(args[2], std::ios::binary | std::ios::trunc);
  if (!out) throw std::invalid_argument("cannot create " + args[2]);
  const int count = t.FieldDefs.Count();
  for (int i = 0; i < count; ++i) out << (i ? "," : "") << CsvField(t.FieldDefs[i].Name);
  out << "\r\n";
  int64_t rows = 0;
  for (t.First(); !t.Eof(); t.Next()) {
    for (int i = 0; i < count; ++i) {
      if (i) out << ',';
      const TSDBVariant v = t.Fields(i).Value();
      if (!v.IsNull()) {
        const std::string text = ValueText(t.FieldDefs[i], v);
        // A value that is empty but not NULL is written quoted.
        out << (text.empty() ? std::string("\"\"") : CsvField(text));
      }
    }
    out << "\r\n";
    ++rows;
  }
  t.Close();
  out.close();
  if (!out) throw std::invalid_argument("cannot write " + args[2]);
  std::cout << rows << " row(s) exported from " << args[1] << "\n";
  return 0;
}

}  // namespace tessdb
