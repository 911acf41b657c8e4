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

std::vector<std::string> Positional(const Args& args, size_t count, const char* usage) {
  for (const auto& a : args)
    if (a.size() > 1 && a[0] == '-') throw std::invalid_argument("unknown option " + a + "\n" + usage);
  if (args.size() != count) throw std::invalid_argument(std::string("wrong number of arguments\n") + usage);
  return args;
}

// Every command, in the order the usage text lists them.
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
    {"compact", "rewrite a database file without its free space", CmdCompact},
    {"backup", "copy a database file that other processes may be using", CmdBackup},
    {"locks", "list the table and record locks held on a table", CmdLocks},
    {"passwd", "change or remove the password of a database file", CmdPasswd},
    {"plan", "show the operator tree and index choice of a query", CmdPlan},
    {"repair", "repair (or convert) a database file nobody else has open", CmdRepair},
    {"sessions", "list the sessions connected to a database file", CmdSessions},
    {"settings", "read, write or list settings values", CmdSettings},
    {"settings-init", "create a standalone settings database", CmdSettingsInit},
    {"sql", "run SQL statements against a database file", CmdSql},
};

}  // namespace tessdb

static void Usage() {
  std::cout << "usage: tessaly-db COMMAND [ARGS...]   (COMMAND --help for details)\n\ncommands:\n";
  for (const auto& c : tessdb::kCommands) std::cout << "  " << c.name << "\t" << c.summary << "\n";
}

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
    Usage();
    return argc < 2 ? 2 : 0;
  }
  std::string name = argv[1];
  tessdb::Args args(argv + 2, argv + argc);
  for (const auto& c : tessdb::kCommands) {
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
