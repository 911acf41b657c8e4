// The commands of tessaly-db. Each command is one function in its own
// source file; main.cpp lists the first ones, and a command file may
// instead register its commands itself with a static CommandRegistrar. A command receives its arguments
// (without the program and command names) and returns the exit code.
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

// Registers a command at start-up (listed after main.cpp's own, by name):
//   static const tessdb::CommandRegistrar kReg{"name", "summary", CmdName};
struct CommandRegistrar {
  CommandRegistrar(const char* name, const char* summary, int (*run)(const Args& args));
};
std::vector<Command>& RegisteredCommands();

// True when args holds "--help" or "-h".
bool WantsHelp(const Args& args);

// Returns the value following `option` ("--password P") and removes both
// from args; empty optional when absent. Raises std::invalid_argument when
// the option is last with no value.
bool TakeOption(Args& args, const std::string& option, std::string& value);

}  // namespace tessdb
