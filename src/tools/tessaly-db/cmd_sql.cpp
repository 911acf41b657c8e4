// tessaly-db lex / parse: show how the engine's SQL lexer cuts a text into
// commands and tokens, and the statement trees its parsers build.
#include <iostream>
#include <stdexcept>

#include "Commands.h"
#include "sdb/SDBException.h"
#include "sql/SDBSQLErrors.h"
#include "sql/SDBLexer.h"
#include "sql/SDBSQLStatements.h"

namespace tessdb {

namespace {

const char* kParamHelp =
    "  --param NAME=VALUE        a text parameter (repeat for several; '?' takes them in order)\n"
    "  --param NAME:int=VALUE    an integer parameter (also :float, :bool, :date for yyyy-mm-dd)\n"
    "  --param NAME:null         a null text parameter\n"
    "  --no-params               ':' and '?' words are plain words\n";

// Reads the parameter options; what remains in args is the SQL text.
sdb::TSDBSQLParams TakeParams(Args& args, bool& noParams) {
  sdb::TSDBSQLParams params;
  noParams = false;
  for (size_t i = 0; i < args.size();) {
    if (args[i] == "--no-params") {
      noParams = true;
      args.erase(args.begin() + static_cast<long>(i));
      continue;
    }
    ++i;
  }
  std::string spec;
  while (TakeOption(args, "--param", spec)) {
    const size_t eq = spec.find('=');
    std::string head = spec.substr(0, eq);
    std::string value = eq == std::string::npos ? "" : spec.substr(eq + 1);
    std::string type = "text";
    if (const size_t colon = head.find(':'); colon != std::string::npos) {
      type = head.substr(colon + 1);
      head.resize(colon);
    }
    if (head.empty()) throw std::invalid_argument("--param needs NAME=VALUE");
    if (type == "null") {
      params.Add(head, sdb::TSDBVariant(sdb::bftVarchar));
    } else if (eq == std::string::npos) {
      throw std::invalid_argument("--param " + spec + ": missing '=VALUE'");
    } else if (type == "text") {
      params.Add(head, sdb::TSDBVariant::FromString(value));
    } else if (type == "int") {
      params.Add(head, sdb::TSDBVariant::FromInt(std::stoll(value), sdb::bftSignedInt32));
    } else if (type == "float") {
      params.Add(head, sdb::TSDBVariant::FromDouble(std::stod(value)));
    } else if (type == "bool") {
      params.Add(head, sdb::TSDBVariant::FromBool(value == "1" || value == "true" || value == "TRUE"));
    } else if (type == "date") {
      int y = 0, m = 0, d = 0;
      if (std::sscanf(value.c_str(), "%d-%d-%d", &y, &m, &d) != 3)
        throw std::invalid_argument("--param " + spec + ": date is yyyy-mm-dd");
      params.Add(head, sdb::TSDBVariant::FromDateTime(sdb::SDBEncodeDate(y, m, d), sdb::bftDate));
    } else {
      throw std::invalid_argument("--param " + spec + ": unknown type '" + type + "'");
    }
  }
  return params;
}

std::string TakeSql(const Args& args, const char* command) {
  if (args.size() != 1) throw std::invalid_argument(std::string("usage: tessaly-db ") + command + " \"SQL\" [options]");
  return args[0];
}

}  // namespace

int CmdLex(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << "usage: tessaly-db lex \"SQL\" [options]\n"
                 "Prints the commands and tokens of the SQL text.\n"
              << kParamHelp;
    return 0;
  }
  Args args = argsIn;
  bool noParams = false;
  sdb::TSDBSQLParams params = TakeParams(args, noParams);
  sdb::TSDBLexer lex(TakeSql(args, "lex"), noParams, &params);
  std::cout << lex.Test();
  return 0;
}

int CmdParse(const Args& argsIn) {
  if (WantsHelp(argsIn)) {
    std::cout << "usage: tessaly-db parse \"SQL\" [options]\n"
                 "Prints the statement tree of every command of the SQL text.\n"
              << kParamHelp;
    return 0;
  }
  Args args = argsIn;
  bool noParams = false;
  sdb::TSDBSQLParams params = TakeParams(args, noParams);
  sdb::TSDBLexer lex(TakeSql(args, "parse"), noParams, &params);
  if (lex.NumCommands() == 0) throw sdb::ESDBException(sdb::kSqlErrNoCommand, "Blank SQL command");
  int n = 0;
  while (lex.GetNextCommand()) {
    auto stmt = sdb::SDBCreateSQLCommand(lex, nullptr);
    std::cout << "Command " << ++n << ":\n" << stmt->DumpText();
  }
  return 0;
}

}  // namespace tessdb
