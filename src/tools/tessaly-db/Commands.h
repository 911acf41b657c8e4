// The commands of tessaly-db. Each command is one function in its own
// source file, and main.cpp's table is the one list of them. A command
// receives its arguments (without the program and command names) and
// returns the exit code.
#pragma once

#include <string>
#include <vector>

namespace tessdb {

using Args = std::vector<std::string>;

struct Command {
  const char* name;
  const char* summary;
  int (*run)(const Args& args);
};

// The commands, each defined in its own source file and listed once, in
// the order of the usage text, by main.cpp.
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
int CmdCompact(const Args& args);
int CmdBackup(const Args& args);
int CmdLocks(const Args& args);
int CmdPasswd(const Args& args);
int CmdPlan(const Args& args);
int CmdRepair(const Args& args);
int CmdSessions(const Args& args);
int CmdSettings(const Args& args);
int CmdSettingsInit(const Args& args);
int CmdSql(const Args& args);

// True when args holds "--help" or "-h".
bool WantsHelp(const Args& args);

// Returns the value following `option` ("--password P") and removes both
// from args; empty optional when absent. Raises std::invalid_argument when
// the option is last with no value.
bool TakeOption(Args& args, const std::string& option, std::string& value);

// The arguments left once the options are taken: exactly `count` of them
// and no unknown option, else std::invalid_argument with the usage text.
std::vector<std::string> Positional(const Args& args, size_t count, const char* usage);

}  // namespace tessdb
