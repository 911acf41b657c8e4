// The commands of tessaly-db. Each command is one function in its own
// source file; main.cpp lists them. A command receives its arguments
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

// True when args holds "--help" or "-h".
bool WantsHelp(const Args& args);

// Returns the value following `option` ("--password P") and removes both
// from args; empty optional when absent. Raises std::invalid_argument when
// the option is last with no value.
bool TakeOption(Args& args, const std::string& option, std::string& value);

}  // namespace tessdb
