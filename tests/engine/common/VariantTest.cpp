#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "sdb/SDBException.h"
#include "sdb/SDBVariant.h"

using namespace sdb;

namespace {

int NativeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ESDBException& e) {
    return e.NativeError();
  }
  return 0;
}

TEST(Variant, BaseTypeOrderIsTheStoredOne) {
  EXPECT_EQ(bftUnknown, 0);
  EXPECT_EQ(bftWideVarchar, 4);
  EXPECT_EQ(bftUnsignedInt32, 11);
  EXPECT_EQ(bftDateTime, 17);
  EXPECT_EQ(bftLogical, 21);
  EXPECT_EQ(bftBFile, 25);
  EXPECT_EQ(SDBBaseFieldTypeName(bftVarchar), "bftVarchar");
}

TEST(Variant, NullRules) {
  EXPECT_TRUE(TSDBVariant().IsNull());
  TSDBVariant typed(bftSignedInt32);
  EXPECT_TRUE(typed.IsNull());
  EXPECT_EQ(typed.DataType(), bftSignedInt32);
  // An empty text holds no data, so it is null, 8-bit or wide.
  EXPECT_TRUE(TSDBVariant::FromString("").IsNull());
  EXPECT_TRUE(TSDBVariant::FromWideString(u"").IsNull());
  EXPECT_FALSE(TSDBVariant::FromString(" ").IsNull());
  EXPECT_FALSE(TSDBVariant::FromInt(0).IsNull());
  EXPECT_FALSE(TSDBVariant::FromBool(false).IsNull());
  TSDBVariant v = TSDBVariant::FromInt(5, bftSignedInt32);
  v.SetNull();
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), bftSignedInt32);
  EXPECT_EQ(NativeOf([&] { (void)v.AsInt64(); }), 30140);
  // Converting a null keeps it null under the new type.
  v.ConvertTo(bftVarchar);
  EXPECT_TRUE(v.IsNull());
  EXPECT_EQ(v.DataType(), bftVarchar);
}

struct ConvCase {
  TSDBVariant from;
  TSDBBaseFieldType to;
  std::string expectedText;  // AsString of the converted value
};

TEST(Variant, ConversionsBetweenBaseTypes) {
  const ConvCase cases[] = {
      {TSDBVariant::FromString("42"), bftSignedInt32, "42"},
      {TSDBVariant::FromString(" -7 "), bftSignedInt8, "-7"},
      {TSDBVariant::FromString("4294967295"), bftUnsignedInt32, "4294967295"},
      {TSDBVariant::FromString("3.25"), bftDouble, "3.25"},
      {TSDBVariant::FromString("3,25"), bftDouble, "3.25"},
      {TSDBVariant::FromDouble(3.75), bftSignedInt32, "3"},
      {TSDBVariant::FromDouble(-3.75), bftSignedInt64, "-3"},
      {TSDBVariant::FromInt(12), bftCurrency, "12"},
      {TSDBVariant::FromInt(1), bftLogical, "True"},
      {TSDBVariant::FromBool(true), bftSignedInt16, "1"},
      {TSDBVariant::FromString("false"), bftLogical, "False"},
      {TSDBVariant::FromString("2024-02-29"), bftDate, "2024-02-29"},
      {TSDBVariant::FromString("29/02/2024"), bftDate, "2024-02-29"},
      {TSDBVariant::FromString("2024-02-29 13:45:07.5"), bftDateTime, "2024-02-29 13:45:07.500"},
      {TSDBVariant::FromString("2024-02-29 13:45:07"), bftTime, "13:45:07"},
      {TSDBVariant::FromString("08:05"), bftTime, "08:05:00"},
      {TSDBVariant::FromDateTime(45351.5), bftDate, "2024-02-29"},
      {TSDBVariant::FromDateTime(45351.5), bftTime, "12:00:00"},
      {TSDBVariant::FromInt(2), bftDateTime, "1900-01-01 00:00:00"},
      {TSDBVariant::FromWideString(u"é€"), bftVarchar, "\xE9\x80"},
      {TSDBVariant::FromString("\xE9"), bftWideVarchar, "\xE9"},
      {TSDBVariant::FromString("abc"), bftBytes, "abc"},
      {TSDBVariant::FromBytes("xyz"), bftClob, "xyz"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SDBBaseFieldTypeName(c.from.DataType()) + " -> " + SDBBaseFieldTypeName(c.to));
    TSDBVariant v = c.from.ConvertedTo(c.to);
    EXPECT_EQ(v.DataType(), c.to);
    EXPECT_EQ(v.AsString(), c.expectedText);
  }
  EXPECT_EQ(TSDBVariant::FromString("\xE9").ConvertedTo(bftWideVarchar).AsWideString(), u"é");
  // A date keeps the day, a time keeps the time of day.
  EXPECT_DOUBLE_EQ(TSDBVariant::FromString("2024-02-29 12:00").ConvertedTo(bftDateTime).AsDouble(), 45351.5);
  EXPECT_EQ(SDBDateTimeToDayNumber(0), 693594);
  EXPECT_EQ(SDBDateTimeToMSecs(0.5), 43200000);
  EXPECT_DOUBLE_EQ(SDBDayNumberMSecsToDateTime(693594 + 45351, 43200000), 45351.5);
  EXPECT_DOUBLE_EQ(SDBEncodeDate(1899, 12, 30), 0);
  EXPECT_DOUBLE_EQ(SDBEncodeDate(1, 1, 1), -693593);
}

TEST(Variant, SingleRoundsToSinglePrecision) {
  auto v = TSDBVariant::FromDouble(0.1, bftSingle);
  EXPECT_EQ(v.AsDouble(), static_cast<double>(0.1f));
}

TEST(Variant, ConversionFailures) {
  struct Bad {
    TSDBVariant from;
    TSDBBaseFieldType to;
    int code;
  } cases[] = {
      {TSDBVariant::FromString("abc"), bftSignedInt32, 30048},
      {TSDBVariant::FromString("12abc"), bftDouble, 30048},
      {TSDBVariant::FromString("2024-02-30"), bftDate, 30048},
      {TSDBVariant::FromString("25:00"), bftTime, 30048},
      {TSDBVariant::FromString("maybe"), bftLogical, 30048},
      {TSDBVariant::FromInt(128), bftSignedInt8, 30049},
      {TSDBVariant::FromInt(-1), bftUnsignedInt32, 30049},
      {TSDBVariant::FromString("70000"), bftSignedInt16, 30049},
      {TSDBVariant::FromDouble(1e300), bftSignedInt64, 30049},
      {TSDBVariant::FromDouble(1e300), bftSingle, 30049},
      {TSDBVariant::FromBool(true), bftDate, 30048},
      {TSDBVariant::FromBytes("\x01\x02", bftBlob), bftSignedInt32, 30048},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(SDBBaseFieldTypeName(c.from.DataType()) + " -> " + SDBBaseFieldTypeName(c.to));
    EXPECT_EQ(NativeOf([&] { (void)c.from.ConvertedTo(c.to); }), c.code);
  }
}

struct CmpCase {
  TSDBVariant a, b;
  int expected;
};

TEST(Variant, CompareAcrossTypes) {
  const CmpCase cases[] = {
      // nulls: equal to each other, before everything else, whatever the type
      {TSDBVariant(), TSDBVariant(bftVarchar), 0},
      {TSDBVariant::FromString(""), TSDBVariant(bftSignedInt32), 0},
      {TSDBVariant(bftVarchar), TSDBVariant::FromString("a"), -1},
      {TSDBVariant::FromInt(-100), TSDBVariant(bftSignedInt32), 1},
      // numbers by value, across integer widths, signedness and floats
      {TSDBVariant::FromInt(-1, bftSignedInt8), TSDBVariant::FromInt(4000000000LL, bftUnsignedInt32), -1},
      {TSDBVariant::FromInt(9007199254740993LL), TSDBVariant::FromInt(9007199254740992LL), 1},
      {TSDBVariant::FromInt(2), TSDBVariant::FromDouble(2.0), 0},
      {TSDBVariant::FromDouble(2.5, bftCurrency), TSDBVariant::FromInt(2), 1},
      // texts against numbers, dates and logicals read the text in that type
      {TSDBVariant::FromString("10"), TSDBVariant::FromInt(9), 1},
      {TSDBVariant::FromInt(9), TSDBVariant::FromString("10"), -1},
      {TSDBVariant::FromString("2.5"), TSDBVariant::FromInt(2), 1},
      {TSDBVariant::FromString("2024-01-02"), TSDBVariant::FromDateTime(SDBEncodeDate(2024, 1, 2), bftDate), 0},
      {TSDBVariant::FromDateTime(SDBEncodeDate(2024, 1, 2), bftDate),
       TSDBVariant::FromDateTime(SDBEncodeDate(2024, 1, 2) + 0.25), -1},
      {TSDBVariant::FromString("true"), TSDBVariant::FromBool(false), 1},
      {TSDBVariant::FromBool(false), TSDBVariant::FromBool(true), -1},
      // texts by collation, 8-bit against wide
      {TSDBVariant::FromString("\xE9" "cole"), TSDBVariant::FromWideString(u"ecole"), 1},
      {TSDBVariant::FromString("abricot"), TSDBVariant::FromWideString(u"Zèbre"), -1},
      // raw byte strings byte by byte
      {TSDBVariant::FromBytes("\x01\xFF", bftVarBytes), TSDBVariant::FromBytes("\x02", bftBlob), -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(SDBBaseFieldTypeName(c.a.DataType()) + " vs " + SDBBaseFieldTypeName(c.b.DataType()));
    EXPECT_EQ(c.a.Compare(c.b), c.expected);
    EXPECT_EQ(c.b.Compare(c.a), -c.expected);
  }
}

TEST(Variant, CompareCaseModes) {
  auto a = TSDBVariant::FromString("Dupont"), b = TSDBVariant::FromString("DUPONT");
  EXPECT_NE(a.Compare(b), 0);
  EXPECT_EQ(a.Compare(b, true), 0);
  TSDBCollation fr("fr_FR");
  EXPECT_EQ(a.Compare(b, true, &fr), 0);
}

TEST(Variant, IncompatibleTypesRaise) {
  const std::pair<TSDBVariant, TSDBVariant> cases[] = {
      {TSDBVariant::FromBool(true), TSDBVariant::FromInt(1)},
      {TSDBVariant::FromBytes("x", bftBlob), TSDBVariant::FromInt(1)},
      {TSDBVariant::FromString("x"), TSDBVariant::FromBytes("x", bftBlob)},
      {TSDBVariant::FromDateTime(1), TSDBVariant::FromBool(true)},
  };
  for (const auto& [a, b] : cases) {
    try {
      (void)a.Compare(b);
      ADD_FAILURE() << "no exception";
    } catch (const ESDBException& e) {
      EXPECT_EQ(e.NativeError(), 30044);
      EXPECT_EQ(e.RawMessage(), "Cannot compare Incompatible DataTypes: '" + SDBBaseFieldTypeName(a.DataType()) +
                                    "' and '" + SDBBaseFieldTypeName(b.DataType()) + "'");
    }
  }
  // A text that does not read as a number is a conversion failure.
  EXPECT_EQ(NativeOf([] { (void)TSDBVariant::FromString("abc").Compare(TSDBVariant::FromInt(1)); }), 30048);
}

}  // namespace
