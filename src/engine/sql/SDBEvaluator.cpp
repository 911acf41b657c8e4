#include "sql/SDBEvaluator.h"

#include <chrono>
#include <ctime>

#include "common/SDBException.h"
#include "sql/SDBSQLParser.h"

namespace sdb {

// ---------------------------------------------------------------- TSDBRowColumnSource

int TSDBRowColumnSource::AddColumn(std::string name, TSDBVariant value) {
  Names.push_back(std::move(name));
  Types.push_back(value.DataType());
  Values.push_back(std::move(value));
  return static_cast<int>(Names.size()) - 1;
}

int TSDBRowColumnSource::FindColumn(std::string_view tableName, std::string_view fieldName) const {
  if (!tableName.empty() && !TableName.empty() && !SDBSameText(std::string(tableName), TableName)) return -1;
  int found = -1;
  const std::string f(fieldName);
  for (size_t i = 0; i < Names.size(); ++i) {
    if (!SDBSameText(Names[i], f)) continue;
    if (found >= 0) return kSDBColumnAmbiguous;
    found = static_cast<int>(i);
  }
  return found;
}

TSDBBaseFieldType TSDBRowColumnSource::ColumnType(int slot) const { return Types.at(static_cast<size_t>(slot)); }

TSDBVariant TSDBRowColumnSource::ColumnValue(int slot) const { return Values.at(static_cast<size_t>(slot)); }

// ---------------------------------------------------------------- TSDBEvalHost defaults

void TSDBEvalHost::RunSubquery(const TSDBSQLUnion&, const TSDBColumnSource&, int64_t, TSDBSubqueryResult&) {
  throw ESDBException(kEvalErrNoHost, "'%s' cannot be evaluated here", {std::string("Subquery")});
}

TSDBVariant TSDBEvalHost::LastAutoInc(const std::string&, const std::string&) {
  throw ESDBException(kEvalErrNoHost, "'%s' cannot be evaluated here", {std::string("LASTAUTOINC")});
}

int64_t TSDBEvalHost::RowNum() {
  throw ESDBException(kEvalErrNoHost, "'%s' cannot be evaluated here", {std::string("ROWNUM")});
}

double TSDBEvalHost::Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  return SDBEncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) +
         SDBEncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
}

}  // namespace sdb
