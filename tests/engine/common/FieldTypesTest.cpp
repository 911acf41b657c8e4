#include <gtest/gtest.h>

#include <set>
#include <string>

#include "sdb/SDBException.h"
#include "sdb/SDBFieldTypes.h"

namespace sdb {
namespace {

TEST(FieldTypesTest, SQLNamesMapToAdvancedAndBaseTypes) {
  struct Case {
    const char* name;
    TSDBAdvancedFieldType advanced;
    TSDBBaseFieldType base;
  } cases[] = {
      {"varchar2", aftString, bftVarchar},        {"FixedWideChar", aftWideChar, bftWideChar},
      {"AUTOINC", aftAutoInc, bftSignedInt32},    {"AUTOINCWORD", aftAutoIncWord, bftUnsignedInt16},
      {"AUTOINCLARGEINT", aftAutoIncLargeint, bftSignedInt64},
      {"FLOAT", aftDouble, bftDouble},            {"BIT", aftBoolean, bftLogical},
      {"MONEY", aftCurrency, bftCurrency},        {"TIMESTAMP", aftTimeStamp, bftDateTime},
      {"GRAPHIC", aftGraphic, bftBlob},           {"CLOB", aftMemo, bftClob},
      {"FORMATTEDMEMO", aftFormattedMemo, bftClob}, {"WIDECLOB", aftWideMemo, bftWideClob},
      {"GUID", aftGuid, bftChar},                 {"VarBytes", aftVarBytes, bftVarBytes},
  };
  for (const auto& c : cases) {
    auto found = SDBFindSQLTypeName(c.name);
    ASSERT_TRUE(found.has_value()) << c.name;
    EXPECT_EQ(found->AdvancedType, c.advanced) << c.name;
    EXPECT_EQ(found->BaseType, c.base) << c.name;
  }
  EXPECT_FALSE(SDBFindSQLTypeName("NUMERIC").has_value());
  EXPECT_EQ(SDBSQLTypeNames().size(), 56u);
}

TEST(FieldTypesTest, TableAgreesWithTheAdvancedToBaseMapping) {
  std::set<std::string> names;
  for (const auto& entry : SDBSQLTypeNames()) {
    EXPECT_TRUE(names.insert(entry.Name).second) << entry.Name;
    EXPECT_EQ(SDBAdvancedToBaseFieldType(entry.AdvancedType), entry.BaseType) << entry.Name;
  }
  // Every declarable type has a base type; aftUnknown has none.
  for (int t = 1; t < kSDBAdvancedFieldTypeCount; ++t)
    EXPECT_NE(SDBAdvancedToBaseFieldType(static_cast<TSDBAdvancedFieldType>(t)), bftUnknown);
  try {
    SDBAdvancedToBaseFieldType(aftUnknown);
    FAIL();
  } catch (const ESDBException& e) {
    EXPECT_EQ(e.NativeError(), 30007);
    EXPECT_EQ(e.RawMessage(), "Unsupported data type 'aftUnknown'");
  }
  EXPECT_TRUE(SDBIsBlobFieldType(bftWideClob));
  EXPECT_FALSE(SDBIsBlobFieldType(bftBytes));
  EXPECT_TRUE(SDBIsStringFieldType(bftWideVarchar));
  EXPECT_FALSE(SDBIsStringFieldType(bftSignedInt8));
  EXPECT_EQ(static_cast<int>(bftBFile), 25);  // stored as a byte: order is fixed
}

}  // namespace
}  // namespace sdb
