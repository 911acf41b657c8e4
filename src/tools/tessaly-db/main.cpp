#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Commands.h"
#include "sdb/SDBException.h"

namespace tessdb {

bool WantsHelp(const Args& args) {
  for (const auto& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

bool TakeOption(Args& args, const std::string& option, std::string& value) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == option) {
      if (i + 1 >= args.size()) throw std::invalid_argument(option + " needs a value");
      value = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      return true;
    }
  }
  return false;
}

std::vector<Command>& RegisteredCommands() {
  static std::vector<Command> commands;
  return commands;
}

CommandRegistrar::CommandRegistrar(const char* name, const char* summary, int (*run)(const Args& args)) {
  RegisteredCommands().push_back({name, summary, run});
}

// Commands are declared here and defined in their own files.
// (Add new commands to this list.)
int CmdCreate(const Args& args);
int CmdInfo(const Args& args);
int CmdCheck(const Args& args);
int CmdLex(const Args& args);
int CmdParse(const Args& args);
int CmdTables(const Args& args);
int CmdSchema(const Args& args);
int CmdDump(const Args& args);
int CmdCreateTable(const Args& args);
int CmdImport(const Args& args);
int CmdExport(const Args& args);
static const Command kCommands[] = {
    {"create", "create a new database file", CmdCreate},
    {"info", "show a database file's header and page usage", CmdInfo},
    {"check", "verify a database file's structure", CmdCheck},
    {"lex", "print the commands and tokens of an SQL text", CmdLex},
    {"parse", "print the statement trees of an SQL text", CmdParse},
    {"tables", "list the tables of a database file", CmdTables},
    {"schema", "show a table's fields, record layout and indexes", CmdSchema},
    {"dump", "print a table's records in physical order", CmdDump},
    {"create-table", "create a table from a column list", CmdCreateTable},
    {"import", "add the rows of a CSV file to a table", CmdImport},
    {"export", "write a table's rows to a CSV file", CmdExport},
    {"version", "print the tool's version", [](const Args&) {
       std::puts("tessaly-db 1.0");
       return 0;
     }},
};

// main.cpp's list, then the registered commands by name.
static std::vector<Command> AllCommands() {
  std::vector<Command> all(std::begin(kCommands), std::end(kCommands));
  std::vector<Command> extra = RegisteredCommands();
  std::sort(extra.begin(), extra.end(),
            [](const Command& a, const Command& b) { return std::string(a.name) < b.name; });
  all.insert(all.end(), extra.begin(), extra.end());
  return all;
}

}  // namespace tessdb

static void Usage() {
  std::cout << "usage: tessaly-db COMMAND [ARGS...]   (COMMAND --help for details)\n\ncommands:\n";
  for (const auto& c : tessdb::AllCommands()) std::cout << "  " << c.name << "\t" << c.summary << "\n";
}

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
    Usage();
    return argc < 2 ? 2 : 0;
  }
  std::string name = argv[1];
  tessdb::Args args(argv + 2, argv + argc);
  for (const auto& c : tessdb::AllCommands()) {
    if (name == c.name) {
      try {
        return c.run(args);
      } catch (const sdb::ESDBException& e) {
        std::cerr << "tessaly-db " << name << ": " << e.what() << "\n";
        return 1;
      } catch (const std::exception& e) {
        std::cerr << "tessaly-db " << name << ": " << e.what() << "\n";
        return 2;
      }
    }
  }
  std::cerr << "tessaly-db: unknown command '" << name << "'\n";
  Usage();
  return 2;
}
