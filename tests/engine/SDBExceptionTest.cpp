#include <gtest/gtest.h>

#include "sdb/SDBException.h"

using sdb::ESDBException;

TEST(ESDBException, MessagesCarryTheNativeCode) {
  struct Case {
    ESDBException e;
    const char* what;
  } cases[] = {
      {ESDBException(42, "Page not found"), "Page not found - Native error: 00042"},
      {ESDBException(20223, "Table is locked"), "Table is locked - Native error: 20223"},
      {ESDBException(7, "Page %d of %s", {int64_t{12}, std::string("t.sdb")}),
       "Page 12 of t.sdb - Native error:     7"},
      {ESDBException(30044, "Cannot compare '%s' and '%s'", {std::string("a")}),
       "Cannot compare '%s' and '%s' Arguments are invalid! - Native error: 30044"},
      {ESDBException(1, "Value %d", {std::string("x")}), "Value %d Arguments are invalid! - Native error:     1"},
      {ESDBException(1, "%.5d|%5d|%-4s|%x|%%", {int64_t{42}, int64_t{-3}, std::string("ab"), int64_t{255}}),
       "00042|   -3|ab  |FF|% - Native error:     1"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(c.e.what(), c.what);
  }
  EXPECT_EQ(cases[1].e.NativeError(), 20223);
  EXPECT_EQ(cases[2].e.RawMessage(), "Page 12 of t.sdb");
}
