// tessaly-db lex / parse: show how the engine's SQL lexer cuts a text into
// commands and tokens, and the statement trees its parsers build.
#include <iostream>
#include <stdexcept>

#include "Commands.h"
#include "ParamOptions.h"
#include "sdb/SDBException.h"
#include "sql/SDBSQLErrors.h"
#include "sql/SDBLexer.h"
#include "sql/SDBSQLStatements.h"

namespace tessdb {

namespace {

const char* kNoParamsHelp = "  --no-params               ':' and '?' words are plain words\n";

// Reads the parameter options; what remains in args is the SQL text.
sdb::TSDBSQLParams TakeParams(Args& args, bool& noParams) {
  noParams = false;
  for (size_t i = 0; i < args.size();) {
    if (args[i] == "--no-params") {
      noParams = true;
      args.erase(args.begin() + static_cast<long>(i));
      continue;
    }
    ++i;
  }
  sdb::TSDBSQLParams params;
  for (TParamOption& o : TakeParamOptions(args)) {
    // The lexer shows integers as the 32-bit values a query would bind.
    if (o.Type == TParamType::Int) o.Value = sdb::TSDBVariant::FromInt(o.Value.AsInt64(), sdb::bftSignedInt32);
    params.Add(o.Name, o.Value);
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
              << kParamOptionHelp << kNoParamsHelp;
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
              << kParamOptionHelp << kNoParamsHelp;
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
