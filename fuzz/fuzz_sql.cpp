// Runs the SQL lexer and the statement parsers on arbitrary bytes. Every
// input must end in a parsed statement or an ESDBException: no crash, no
// hang, no memory error.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sdb/SDBException.h"
#include "sql/SDBLexer.h"
#include "sql/SDBSQLStatements.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  // The first byte picks the parameter mode; the rest is the SQL text.
  const bool noParams = size > 0 && (data[0] & 1);
  std::string sql(reinterpret_cast<const char*>(data) + (size > 0 ? 1 : 0), size > 0 ? size - 1 : 0);
  sdb::TSDBSQLParams params;
  params.Add("a", sdb::TSDBVariant::FromString("x"));
  params.Add("b", sdb::TSDBVariant::FromString(""));
  params.Add("n", sdb::TSDBVariant::FromInt(3, sdb::bftSignedInt32));
  params.Add("d", sdb::TSDBVariant(sdb::bftDate));
  try {
    sdb::TSDBLexer lex(sql, noParams, &params);
    (void)lex.Test();
    while (lex.GetNextCommand()) {
      try {
        auto stmt = sdb::SDBCreateSQLCommand(lex, nullptr);
        (void)stmt->DumpText();
      } catch (const sdb::ESDBException&) {
      }
    }
  } catch (const sdb::ESDBException&) {
  }
  return 0;
}
