#include <gtest/gtest.h>

#include <unicode/ucol.h>
#include <unicode/uset.h>

#include <algorithm>
#include <random>
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

// 8-bit texts of printable ASCII are ordered without ICU; the order must
// stay exactly ICU's (stored indexes were built with it), which is not
// byte order: case is weaker than letters, punctuation and spaces come
// before digits and letters.
TEST(Collation, AsciiTextsKeepLinguisticOrder) {
  struct Case {
    const char* a;
    const char* b;
    bool ci;
    int expected;
  };
  const Case cases[] = {
      {"a", "A", false, -1},         {"B", "a", false, 1},         {"ab", "Aa", false, 1},
      {"Aa", "aB", false, -1},       {"_", "A", false, -1},        {"a b", "ab", false, -1},
      {"K10", "K2", false, -1},      {"K1", "K10", false, -1},     {"S1", "s1", false, 1},
      {"DUPONT", "dupont", true, 0}, {"Dupont", "dupond", true, 1}, {"ab", "AB", true, 0},
      {"aB", "Ab", true, 0},         {"a", "", false, 1},          {"value 1", "value_1", false, -1},
  };
  for (const char* locale : {"", "fr_FR"}) {
    TSDBCollation coll(locale);
    EXPECT_TRUE(coll.HasAsciiShortcut()) << locale;
    for (const Case& c : cases) {
      EXPECT_EQ(coll.CompareAnsi(c.a, c.b, c.ci), c.expected) << locale << ": " << c.a << " / " << c.b;
      EXPECT_EQ(coll.CompareAnsi(c.b, c.a, c.ci), -c.expected) << locale << ": " << c.b << " / " << c.a;
    }
  }
}

// Every pair of a pool of short texts compares as ICU compares their wide
// forms, in locales whose tailorings touch ASCII letters (contractions such
// as Danish "aa", Czech "ch", Hungarian "dzs", Spanish "ll"; the Turkish
// dotless i; Lithuanian "y"; upper case first) and in the root collation.
// Texts with characters the shortcut leaves to ICU (control characters,
// 8-bit letters) are in the pool too.
TEST(Collation, AsciiShortcutAgreesWithIcuInTailoredLocales) {
  std::vector<std::string> pool = {"",   "a",  "A",  "aa", "AA",  "Aa",  "aA",  "ch", "Ch",  "CH",      "cH",
                                   "ll", "LL", "cs", "dz", "dzs", "ij",  "IJ",  "i",  "I",   "y",       "v",
                                   "w",  "K1", "K10", "K2", "a b", "a-b", "a\x01", "\xE9" "a", "a\xB7" "l"};
  std::mt19937 rng(7);
  const std::string alphabet = "aAbBcChHiIjJlLyYzZsSvVwWdDoO019 _-.'~@";
  while (pool.size() < 160) {
    std::string s(rng() % 6, ' ');
    for (char& ch : s) ch = alphabet[rng() % alphabet.size()];
    pool.push_back(s);
  }
  for (const char* locale : {"", "fr_FR", "da_DK", "cs_CZ", "hu_HU", "es_ES", "tr_TR", "lt_LT", "sv_SE", "th_TH"}) {
    TSDBCollation coll(locale);
    int mismatches = 0;
    for (const std::string& x : pool)
      for (const std::string& y : pool)
        for (bool ci : {false, true}) {
          const int icu = coll.Compare(SDBAnsiToWide(x), SDBAnsiToWide(y), ci);
          if (coll.CompareAnsi(x, y, ci) != icu && ++mismatches <= 5)
            ADD_FAILURE() << locale << ": '" << x << "' / '" << y << "' ci=" << ci << " ICU says " << icu;
        }
  }
}

// The shortcut trusts the root collation to give every printable ASCII
// character one collation element of its own: no contraction or expansion
// of the root collation may be made of such characters only.
TEST(Collation, RootHasNoAsciiContractionOrExpansion) {
  UErrorCode status = U_ZERO_ERROR;
  UCollator* root = ucol_open("", &status);
  ASSERT_TRUE(U_SUCCESS(status));
  USet* contractions = uset_openEmpty();
  USet* expansions = uset_openEmpty();
  ucol_getContractionsAndExpansions(root, contractions, expansions, true, &status);
  ASSERT_TRUE(U_SUCCESS(status));
  for (USet* set : {contractions, expansions}) {
    for (int32_t i = 0; i < uset_getItemCount(set); ++i) {
      UChar32 start = 0, end = 0;
      UChar text[64];
      UErrorCode itemStatus = U_ZERO_ERROR;
      const int32_t n = uset_getItem(set, i, &start, &end, text, 64, &itemStatus);
      if (n == 0) {
        EXPECT_TRUE(end < 0x20 || start > 0x7E) << std::hex << start << "-" << end;
        continue;
      }
      bool plain = U_SUCCESS(itemStatus);
      for (int32_t k = 0; k < n && plain; ++k) plain = text[k] >= 0x20 && text[k] <= 0x7E;
      EXPECT_FALSE(plain) << "item " << i;
    }
  }
  uset_close(contractions);
  uset_close(expansions);
  ucol_close(root);
}

TEST(Collation, DefaultIsSharedAndNamesTheLocale) {
  auto a = TSDBCollation::Default();
  auto b = TSDBCollation::Default();
  EXPECT_EQ(a.get(), b.get());
  EXPECT_FALSE(a->LocaleName().empty());
  EXPECT_EQ(TSDBCollation("C").LocaleName(), "root");
}

}  // namespace
