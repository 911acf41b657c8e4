// The parameter list a query hands to the engine: named engine values in
// the order the query declares them. The lexer copies the values into the
// parameter tokens when it cuts the text, so a run sees the values of the
// moment it started.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sdb/SDBVariant.h"

namespace sdb {

struct TSDBSQLParam {
  std::string Name;
  TSDBVariant Value;
};

class TSDBSQLParams {
 public:
  void Clear() { FParamList.clear(); }
  void Reserve(size_t n) { FParamList.reserve(n); }
  void Add(std::string name, TSDBVariant value) {
    FParamList.push_back(TSDBSQLParam{std::move(name), std::move(value)});
  }
  size_t Count() const noexcept { return FParamList.size(); }
  const TSDBSQLParam& operator[](size_t i) const { return FParamList.at(i); }
  TSDBSQLParam& operator[](size_t i) { return FParamList.at(i); }
  // First parameter whose name equals `name` without regard to (ASCII) case.
  const TSDBSQLParam* FindParam(std::string_view name) const;

 private:
  std::vector<TSDBSQLParam> FParamList;
};

}  // namespace sdb
