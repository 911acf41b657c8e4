#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sdb/SDBCollation.h"

using namespace sdb;

namespace {

// A French collation, the locale the application is used in; the same rules
// hold for the root collation used under the C locale.
class CollationTest : public ::testing::TestWithParam<const char*> {
 protected:
  TSDBCollation coll{GetParam()};
  int Cmp(const std::u16string& a, const std::u16string& b, bool ci = false) {
    return coll.Compare(a, b, ci);
  }
};

TEST_P(CollationTest, AccentsAndCaseFollowLinguisticOrder) {
  // Plain code-point order would put "Zèbre" before "abricot" and "école"
  // after "zoo".
  std::vector<std::u16string> words = {u"zoo", u"Zèbre", u"école", u"abricot", u"Ecole", u"ecole", u"élan"};
  std::sort(words.begin(), words.end(), [&](auto& a, auto& b) { return Cmp(a, b) < 0; });
  EXPECT_EQ(words.front(), u"abricot");
  EXPECT_EQ(words.back(), u"zoo");
  auto pos = [&](const std::u16string& w) { return std::find(words.begin(), words.end(), w) - words.begin(); };
  EXPECT_LT(pos(u"ecole"), pos(u"élan"));
  EXPECT_LT(pos(u"école"), pos(u"élan"));
  EXPECT_LT(pos(u"Ecole"), pos(u"élan"));
}

TEST_P(CollationTest, CaseInsensitiveVariantIgnoresCaseButNotAccents) {
  EXPECT_NE(Cmp(u"DUPONT", u"dupont"), 0);
  // Ties that ICU reports are still ordered, deterministically, so the
  // order is total: "DUPONT" and "dupont" differ even case-insensitively only
  // by their folded forms, which are equal.
  EXPECT_EQ(Cmp(u"DUPONT", u"dupont", true), 0);
  EXPECT_EQ(Cmp(u"ÉCOLE", u"école", true), 0);
  EXPECT_NE(Cmp(u"eleve", u"élève", true), 0);
  EXPECT_LT(Cmp(u"dupont", u"Durand", true), 0);
}

TEST_P(CollationTest, ControlCharactersWeighAsTieBreak) {
  // ICU ignores U+0001; the tie-break makes it count, so a key with a 0x01
  // after a prefix sorts after the bare prefix and the order stays total.
  EXPECT_GT(Cmp(u"abc\u0001", u"abc"), 0);
  EXPECT_LT(Cmp(u"abc", u"abc\u0001"), 0);
  EXPECT_NE(Cmp(u"a\u0001b", u"ab"), 0);
  EXPECT_EQ(Cmp(u"a\u0001b", u"ab"), -Cmp(u"ab", u"a\u0001b"));
  EXPECT_GT(coll.CompareAnsi(std::string("abc\x01", 4), "abc", true), 0);
  // The linguistic order still wins over the tie-break.
  EXPECT_LT(Cmp(u"abc\u0001", u"abd"), 0);
}

TEST_P(CollationTest, CompareLengthLimitsBothSides) {
  EXPECT_EQ(coll.Compare(u"Dupont", u"Dupuis", false, 3), 0);
  EXPECT_LT(coll.Compare(u"Dupont", u"Dupuis", false, 4), 0);
  EXPECT_EQ(coll.CompareAnsi("Martin", "Mar", false, 3), 0);
}

TEST_P(CollationTest, AnsiTextsUseWindows1252) {
  // 0xE9 = 'é', 0x80 = '€', 0x9C = 'œ' in the 8-bit code page.
  EXPECT_EQ(SDBAnsiToWide("\xE9\x80\x9C"), u"é€œ");
  EXPECT_EQ(SDBWideToAnsi(u"é€œ"), "\xE9\x80\x9C");
  EXPECT_EQ(SDBWideToAnsi(u"日"), "?");
  EXPECT_LT(coll.CompareAnsi("\xE9" "cole", "ecz", false), 0);  // école < ecz
  EXPECT_EQ(SDBWideToUtf8(u"é€"), "é€");
  EXPECT_EQ(SDBUtf8ToWide("é€"), u"é€");
}

INSTANTIATE_TEST_SUITE_P(Locales, CollationTest, ::testing::Values("fr_FR", "C", ""));

TEST(Collation, OrderIsTotalAndConsistentOverMixedSet) {
  TSDBCollation coll("fr_FR");
  std::vector<std::u16string> v = {u"a", u"A", u"à", u"À", u"a\u0001", u"A\u0001", u"b", u"", u"\u0001",
                                   u"ab", u"aB", u"Ab", u"œuvre", u"oeuvre", u"Oeuvre"};
  for (bool ci : {false, true}) {
    for (auto& x : v)
      for (auto& y : v) {
        int a = coll.Compare(x, y, ci), b = coll.Compare(y, x, ci);
        EXPECT_EQ(a, -b);
        if (!ci) {
          EXPECT_EQ(a == 0, x == y);
        }
        for (auto& z : v) {
          if (a < 0 && coll.Compare(y, z, ci) < 0) {
            EXPECT_LT(coll.Compare(x, z, ci), 0);
          }
        }
      }
  }
}

TEST(Collation, DefaultIsSharedAndNamesTheLocale) {
  auto a = TSDBCollation::Default();
  auto b = TSDBCollation::Default();
  EXPECT_EQ(a.get(), b.get());
  EXPECT_FALSE(a->LocaleName().empty());
  EXPECT_EQ(TSDBCollation("C").LocaleName(), "root");
}

}  // namespace
