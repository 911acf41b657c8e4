#include "ParamOptions.h"

#include <charconv>
#include <cstdio>
#include <stdexcept>

#include "sdb/SDBText.h"

namespace tessdb {

const char* const kParamOptionHelp =
    "  --param NAME=VALUE        a text parameter (repeat for several; '?' takes them in order)\n"
    "  --param NAME:int=VALUE    an integer parameter (also :float, :bool, :date for yyyy-mm-dd)\n"
    "  --param NAME:null         a null text parameter\n";

namespace {

[[noreturn]] void Bad(const std::string& spec, const std::string& why) {
  throw std::invalid_argument("--param " + spec + ": " + why);
}

int64_t ReadInt(const std::string& spec, const std::string& text) {
  int64_t v = 0;
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || p != end || text.empty()) Bad(spec, "'" + text + "' is not an integer");
  return v;
}

double ReadFloat(const std::string& spec, const std::string& text) {
  size_t used = 0;
  double v = 0;
  try {
    v = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size()) Bad(spec, "'" + text + "' is not a number");
  return v;
}

}  // namespace

std::vector<TParamOption> TakeParamOptions(Args& args) {
  std::vector<TParamOption> out;
  std::string spec;
  while (TakeOption(args, "--param", spec)) {
    const size_t eq = spec.find('=');
    TParamOption p;
    p.Name = spec.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : spec.substr(eq + 1);
    p.Text = value;
    std::string type = "text";
    if (const size_t colon = p.Name.find(':'); colon != std::string::npos) {
      type = p.Name.substr(colon + 1);
      p.Name.resize(colon);
    }
    if (p.Name.empty()) throw std::invalid_argument("--param needs NAME=VALUE");
    if (type == "null") {
      p.Type = TParamType::Null;
      p.Value = sdb::TSDBVariant(sdb::bftVarchar);
    } else if (eq == std::string::npos) {
      Bad(spec, "missing '=VALUE'");
    } else if (type == "text") {
      p.Type = TParamType::Text;
      p.Value = sdb::SDBTextValue(value);
    } else if (type == "int") {
      p.Type = TParamType::Int;
      p.Value = sdb::TSDBVariant::FromInt(ReadInt(spec, value));
    } else if (type == "float") {
      p.Type = TParamType::Float;
      p.Value = sdb::TSDBVariant::FromDouble(ReadFloat(spec, value));
    } else if (type == "bool") {
      p.Type = TParamType::Bool;
      p.Value = sdb::TSDBVariant::FromBool(value == "1" || value == "true" || value == "TRUE");
    } else if (type == "date") {
      int y = 0, m = 0, d = 0;
      char tail = 0;
      if (std::sscanf(value.c_str(), "%d-%d-%d%c", &y, &m, &d, &tail) != 3) Bad(spec, "date is yyyy-mm-dd");
      p.Type = TParamType::Date;
      p.Value = sdb::TSDBVariant::FromDateTime(sdb::SDBEncodeDate(y, m, d), sdb::bftDate);
    } else {
      Bad(spec, "unknown type '" + type + "' (text, int, float, bool, date, null)");
    }
    out.push_back(std::move(p));
  }
  return out;
}

}  // namespace tessdb
