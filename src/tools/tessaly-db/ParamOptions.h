// The "--param" options of the SQL commands (lex, parse, sql, plan): one
// parser, so that every command accepts the same forms with the same
// errors.
//   --param NAME=VALUE         a text
//   --param NAME:int=VALUE     an integer
//   --param NAME:float=VALUE   a floating-point number
//   --param NAME:bool=VALUE    1, true or TRUE is true; anything else false
//   --param NAME:date=Y-M-D    a date
//   --param NAME:null          a null text
#pragma once

#include <string>
#include <vector>

#include "Commands.h"
#include "sdb/SDBVariant.h"

namespace tessdb {

enum class TParamType { Text, Int, Float, Bool, Date, Null };

struct TParamOption {
  std::string Name;
  TParamType Type = TParamType::Text;
  // The text after '=' as given.
  std::string Text;
  // The value converted to its type (null for TParamType::Null).
  sdb::TSDBVariant Value;
};

// The help lines of the option, for the commands' usage texts.
extern const char* const kParamOptionHelp;

// Takes every "--param" option out of args, in order. A missing name or
// value, an unknown type, or a value that does not read as its type raises
// std::invalid_argument naming the option.
std::vector<TParamOption> TakeParamOptions(Args& args);

}  // namespace tessdb
