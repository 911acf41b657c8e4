// tessaly-db sql / plan: run SQL texts against a database file through the
// engine's query component, and show the operator tree a query would use.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Commands.h"
#include "ParamOptions.h"
#include "ToolDatabase.h"
#include "sdb/SDBException.h"
#include "sdb/SDBComponents.h"
#include "sdb/SDBText.h"

namespace tessdb {

namespace {

// Characters of a UTF-8 text (what a terminal gives a column to), not bytes.
size_t Chars(const std::string& Utf8) {
  return static_cast<size_t>(std::count_if(Utf8.begin(), Utf8.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// Binds the options the text uses to the query's parameters.
void ApplyParams(sdb::TSDBQuery& q, const std::vector<TParamOption>& options) {
  for (const auto& o : options) {
    sdb::TSDBParam* p = q.Params.FindParam(o.Name);
    if (!p) continue;  // the text does not use it
    switch (o.Type) {
      case TParamType::Text: p->SetAsString(o.Text); break;
      case TParamType::Int: p->SetAsLargeInt(o.Value.AsInt64()); break;
      case TParamType::Float: p->SetAsFloat(o.Value.AsDouble()); break;
      case TParamType::Bool: p->SetAsBoolean(o.Value.AsBoolean()); break;
      case TParamType::Date: p->SetAsDate(o.Value.AsDateTime()); break;
      case TParamType::Null:
        p->DataType = sdb::ftString;
        p->Value = o.Value;
        break;
    }
  }
}

std::string CsvField(const std::string& v) {
  if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
  std::string out = "\"";
  for (char c : v) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

void PrintResult(sdb::TSDBQuery& q, bool csv) {
  const int n = q.FieldCount();
  std::vector<std::vector<std::string>> rows;
  std::vector<std::vector<bool>> nulls;
  for (q.First(); !q.Eof(); q.Next()) {
    std::vector<std::string> row;
    std::vector<bool> isNull;
    for (int i = 0; i < n; ++i) {
      sdb::TSDBVariant v = q.Fields(i).Value();
      isNull.push_back(v.IsNull());
      row.push_back(sdb::SDBValueUtf8(v));
    }
    rows.push_back(std::move(row));
    nulls.push_back(std::move(isNull));
  }
  if (csv) {
    for (int i = 0; i < n; ++i) std::cout << (i ? "," : "") << CsvField(q.Fields(i).FieldName());
    std::cout << "\n";
    for (const auto& r : rows) {
      for (int i = 0; i < n; ++i) std::cout << (i ? "," : "") << CsvField(r[static_cast<size_t>(i)]);
      std::cout << "\n";
    }
    return;
  }
  std::vector<size_t> width(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) width[static_cast<size_t>(i)] = Chars(q.Fields(i).FieldName());
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t i = 0; i < rows[r].size(); ++i) {
      if (nulls[r][i]) rows[r][i] = "NULL";
      width[i] = std::max(width[i], Chars(rows[r][i]));
    }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string s;
    for (size_t i = 0; i < cells.size(); ++i) {
      if (i) s += " | ";
      s += cells[i] + std::string(width[i] - Chars(cells[i]), ' ');
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    std::cout << s << "\n";
  };
  std::vector<std::string> head;
  for (int i = 0; i < n; ++i) head.push_back(q.Fields(i).FieldName());
  line(head);
  std::string sep;
  for (size_t i = 0; i < width.size(); ++i) sep += (i ? "-+-" : "") + std::string(width[i], '-');
  std::cout << sep << "\n";
  for (const auto& r : rows) line(r);
  std::cout << "(" << rows.size() << (rows.size() == 1 ? " row)" : " rows)") << "\n";
}

// Runs one text; prints its result or the rows it changed.
void RunText(const std::string& sql, const std::vector<TParamOption>& params, bool csv) {
  sdb::TSDBQuery q;
  q.DatabaseName = kToolDatabaseName;
  q.SetSQL(sql);
  ApplyParams(q, params);
  if (q.OpenOrExec()) {
    PrintResult(q, csv);
    q.Close();
  } else {
    const int n = q.RowsAffected();
    std::cout << n << (n == 1 ? " row affected" : " rows affected") << "\n";
  }
}

sdb::TSDBDurability TakeDurability(Args& args) {
  std::string value;
  sdb::TSDBDurability d = sdb::kSDBDefaultDurability;
  if (TakeOption(args, "--durability", value) && !sdb::SDBParseDurability(value, d))
    throw std::invalid_argument("--durability must be off, normal or full");
  return d;
}

// Statements of the interactive shell end with ";" at the end of a line.
void Shell(const std::vector<TParamOption>& params, bool csv) {
  const bool tty = ::isatty(0);
  std::string text, line;
  int failures = 0;
  auto flush = [&] {
    std::string t = text;
    text.clear();
    if (t.find_first_not_of(" \t\r\n;") == std::string::npos) return;
    try {
      RunText(t, params, csv);
    } catch (const std::exception& e) {
      ++failures;
      std::cerr << "error: " << e.what() << "\n";
    }
  };
  if (tty) std::cout << "sql> " << std::flush;
  while (std::getline(std::cin, line)) {
    text += line + "\n";
    std::string trimmed = line;
    while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t' || trimmed.back() == '\r'))
      trimmed.pop_back();
    if (!trimmed.empty() && trimmed.back() == ';') flush();
    if (tty) std::cout << (text.empty() ? "sql> " : "...> ") << std::flush;
  }
  flush();
  if (failures) throw std::runtime_error(std::to_string(failures) + " statement(s) failed");
}

}  // namespace

int CmdSql(const Args& argsIn) {
  Args args = argsIn;
  if (WantsHelp(args) || args.empty()) {
    std::cout << "usage: tessaly-db sql FILE [--password P] [--durability off|normal|full] [--param NAME=VALUE ...]\n"
                 "                        [--csv] [\"SQL\"]\n"
                 "  Runs the statements of the text (separated by ';') and prints the last result\n"
                 "  as an aligned table (or CSV), or the number of rows the statements changed.\n"
                 "  Without SQL, reads statements from standard input (each ends with ';' at the\n"
                 "  end of a line).\n"
              << kParamOptionHelp
              << "  --durability LEVEL        what a commit flushes: off (safe when the process is\n"
                 "                            killed, not on power loss), normal (the file stays\n"
                 "                            consistent on power loss; the last commit may be\n"
                 "                            undone), full (default: a finished commit survives)\n"
                 "  A file whose commit was interrupted without a journal to undo it is opened\n"
                 "  read-only, with a warning, until repaired.\n";
    return args.empty() ? 2 : 0;
  }
  try {
    std::string password;
    TakeOption(args, "--password", password);
    const sdb::TSDBDurability durability = TakeDurability(args);
    std::vector<TParamOption> params = TakeParamOptions(args);
    bool csv = false;
    args.erase(std::remove_if(args.begin(), args.end(),
                              [&](const std::string& a) { return a == "--csv" ? (csv = true) : false; }),
               args.end());
    if (args.empty() || args.size() > 2) throw std::invalid_argument("expected FILE and at most one SQL text");
    sdb::TSDBDatabase db;
    OpenToolDatabase(db, args[0], password, durability);
    if (args.size() == 2)
      RunText(args[1], params, csv);
    else
      Shell(params, csv);
  } catch (const std::exception& e) {
    std::cerr << "error: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

int CmdPlan(const Args& argsIn) {
  Args args = argsIn;
  if (WantsHelp(args) || args.size() < 2) {
    std::cout << "usage: tessaly-db plan FILE [--password P] [--param NAME=VALUE ...] \"SELECT ...\"\n"
                 "  Prints the operator tree of each query and the index chosen for each table.\n"
              << kParamOptionHelp;
    return args.size() < 2 && !WantsHelp(args) ? 2 : 0;
  }
  try {
    std::string password;
    TakeOption(args, "--password", password);
    std::vector<TParamOption> params = TakeParamOptions(args);
    if (args.size() != 2) throw std::invalid_argument("expected FILE and one SQL text");
    sdb::TSDBDatabase db;
    OpenToolDatabase(db, args[0], password);
    sdb::TSDBQuery q;
    q.DatabaseName = kToolDatabaseName;
    q.SetSQL(args[1]);
    ApplyParams(q, params);
    std::cout << q.Plan();
  } catch (const std::exception& e) {
    std::cerr << "error: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace tessdb
