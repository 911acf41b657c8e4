#include "sdb/SDBCollation.h"

#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/uset.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "sdb/SDBErrors.h"
#include "sdb/SDBException.h"

namespace sdb {

namespace {

// Code points of Windows-1252 bytes 0x80..0x9F; the five bytes without a
// character keep their own value, as Windows' conversion does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t WideFor(unsigned char c) {
  return (c >= 0x80 && c < 0xA0) ? kCp1252High[c - 0x80] : static_cast<char16_t>(c);
}

char AnsiFor(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == c) return static_cast<char>(0x80 + i);
  return '?';
}

[[noreturn]] void UnicodeFailure() {
  throw ESDBException(kSDBErrUnicodeCompareUnsupported, "Unicode string comparison is not supported by the system");
}

std::u16string FoldCase(std::u16string_view s) {
  if (s.empty()) return {};
  std::u16string out(s.size() + 8, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = u_strFoldCase(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                              reinterpret_cast<const UChar*>(s.data()), static_cast<int32_t>(s.size()),
                              U_FOLD_CASE_DEFAULT, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.assign(static_cast<size_t>(n), u'\0');
      continue;
    }
    if (U_FAILURE(status)) UnicodeFailure();
    out.resize(static_cast<size_t>(n));
    return out;
  }
  UnicodeFailure();
}

// Strict code-point order of UTF-16 strings (surrogates sort above the BMP's
// private and compatibility ranges, as code points do).
int CodePointCompare(std::u16string_view a, std::u16string_view b) {
  int r = u_strCompare(reinterpret_cast<const UChar*>(a.data()), static_cast<int32_t>(a.size()),
                       reinterpret_cast<const UChar*>(b.data()), static_cast<int32_t>(b.size()), true);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

// The locale named by the environment, as a POSIX name without codeset or
// modifier; empty for C/POSIX.
std::string EnvironmentLocale() {
  const char* names[] = {"LC_ALL", "LC_COLLATE", "LANG"};
  std::string value;
  for (const char* n : names) {
    const char* v = std::getenv(n);
    if (v && *v) {
      value = v;
      break;
    }
  }
  value = value.substr(0, value.find_first_of(".@"));
  if (value == "C" || value == "POSIX") value.clear();
  return value;
}

UCollator* OpenCollator(const std::string& locale, bool caseInsensitive) {
  UErrorCode status = U_ZERO_ERROR;
  UCollator* c = ucol_open(locale.empty() ? "" : locale.c_str(), &status);
  if (U_FAILURE(status) || !c) {
    if (c) ucol_close(c);
    status = U_ZERO_ERROR;
    c = ucol_open("", &status);  // root
    if (U_FAILURE(status) || !c) UnicodeFailure();
  }
  // Secondary strength: accents still count, letter case does not.
  ucol_setStrength(c, caseInsensitive ? UCOL_SECONDARY : UCOL_TERTIARY);
  return c;
}

std::u16string_view Limit(std::u16string_view s, long maxChars) {
  if (maxChars >= 0 && static_cast<size_t>(maxChars) < s.size()) return s.substr(0, static_cast<size_t>(maxChars));
  return s;
}

}  // namespace

std::u16string SDBAnsiToWide(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char ch : text) out += WideFor(static_cast<unsigned char>(ch));
  return out;
}

std::string SDBWideToAnsi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (U16_IS_LEAD(c) && i + 1 < text.size() && U16_IS_TRAIL(text[i + 1])) {
      out += '?';
      ++i;
      continue;
    }
    out += AnsiFor(c);
  }
  return out;
}

std::u16string SDBUtf8ToWide(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  int32_t i = 0;
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  auto len = static_cast<int32_t>(text.size());
  while (i < len) {
    UChar32 c;
    U8_NEXT(s, i, len, c);
    if (c < 0) c = 0xFFFD;
    if (c > 0xFFFF) {
      out += static_cast<char16_t>(U16_LEAD(c));
      out += static_cast<char16_t>(U16_TRAIL(c));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string SDBWideToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    UChar32 c = text[i++];
    if (U16_IS_LEAD(c) && i < text.size() && U16_IS_TRAIL(text[i]))
      c = U16_GET_SUPPLEMENTARY(c, text[i++]);
    else if (U16_IS_SURROGATE(c))
      c = 0xFFFD;
    uint8_t buf[4];
    int32_t n = 0;
    U8_APPEND_UNSAFE(buf, n, c);
    out.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
  }
  return out;
}

TSDBCollation::TSDBCollation(const std::string& localeName) {
  std::string name = localeName.empty() ? EnvironmentLocale() : localeName.substr(0, localeName.find_first_of(".@"));
  if (name == "C" || name == "POSIX") name.clear();
  FCaseSensitive = OpenCollator(name, false);
  try {
    FCaseInsensitive = OpenCollator(name, true);
  } catch (...) {
    ucol_close(FCaseSensitive);
    throw;
  }
  UErrorCode status = U_ZERO_ERROR;
  const char* actual = ucol_getLocaleByType(FCaseSensitive, ULOC_ACTUAL_LOCALE, &status);
  FLocaleName = (U_SUCCESS(status) && actual && *actual) ? actual : "root";
  BuildAsciiOrder();
}

// Index keys and condition values are mostly plain ASCII words, and ICU's
// entry costs far more than comparing such short texts. For texts made
// only of characters where each one is a single collation element with a
// non-zero primary weight (no contraction, no expansion, no ignorable, no
// numeric or case-level option), ICU's multi-level comparison reduces to:
// the primary ranks compared position by position, a shorter text first
// when one is a prefix of the other; then, at equal primaries (and so equal
// lengths), the case ranks position by position (tertiary strength only).
// The ranks are read from the collators themselves, so tailorings (Danish
// "aa", Czech "ch", Turkish dotless i, upper case first, ...) either shape
// the ranks or take the characters concerned out of the shortcut; and every
// pair of covered characters is checked against ICU before the shortcut is
// used at all.
void TSDBCollation::BuildAsciiOrder() {
  FAscii = TAsciiOrder{};
  UErrorCode status = U_ZERO_ERROR;
  for (UCollator* c : {FCaseSensitive, FCaseInsensitive}) {
    if (ucol_getAttribute(c, UCOL_NUMERIC_COLLATION, &status) != UCOL_OFF ||
        ucol_getAttribute(c, UCOL_CASE_LEVEL, &status) != UCOL_OFF ||
        ucol_getAttribute(c, UCOL_ALTERNATE_HANDLING, &status) != UCOL_NON_IGNORABLE || U_FAILURE(status))
      return;
  }
  constexpr int kFirst = 0x20, kLast = 0x7E;
  bool covered[128] = {};
  for (int ch = kFirst; ch <= kLast; ++ch) covered[ch] = true;
  // The root collation orders printable ASCII characters one collation
  // element each (tests guard that); a tailoring may change that, so every
  // character a tailoring names (alone, or within a contraction made only
  // of printable ASCII) is left to ICU.
  USet* tailored = ucol_getTailoredSet(FCaseSensitive, &status);
  const int32_t items = U_SUCCESS(status) ? uset_getItemCount(tailored) : 0;
  for (int32_t i = 0; i < items && U_SUCCESS(status); ++i) {
    UChar32 start = 0, end = 0;
    UChar text[64];
    const int32_t n = uset_getItem(tailored, i, &start, &end, text, 64, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {  // too long to be made of covered characters only
      status = U_ZERO_ERROR;
      continue;
    }
    if (n == 0) {
      for (UChar32 cp = std::max<UChar32>(start, kFirst); cp <= std::min<UChar32>(end, kLast); ++cp)
        covered[cp] = false;
      continue;
    }
    bool plain = true;
    for (int32_t k = 0; k < n; ++k) plain = plain && text[k] >= kFirst && text[k] <= kLast;
    if (plain)
      for (int32_t k = 0; k < n; ++k) covered[text[k]] = false;
  }
  if (tailored) uset_close(tailored);
  if (U_FAILURE(status)) return;
  // Primary weights: the sort key of the character up to the first level
  // separator (byte 1). An empty one means an ignorable character.
  std::map<std::string, std::vector<int>> classes;
  for (int ch = kFirst; ch <= kLast; ++ch) {
    if (!covered[ch]) continue;
    const UChar u = static_cast<UChar>(ch);
    uint8_t key[64];
    const int32_t n = ucol_getSortKey(FCaseSensitive, &u, 1, key, sizeof key);
    if (n <= 0 || n > static_cast<int32_t>(sizeof key)) continue;
    std::string primary;
    for (int32_t k = 0; k < n && key[k] > 1; ++k) primary += static_cast<char>(key[k]);
    if (!primary.empty()) classes[primary].push_back(ch);
  }
  if (classes.size() > 254) return;
  uint8_t rank = 0;
  for (auto& [primary, members] : classes) {
    ++rank;
    std::sort(members.begin(), members.end(), [this](int x, int y) {
      const UChar ux = static_cast<UChar>(x), uy = static_cast<UChar>(y);
      return ucol_strcoll(FCaseSensitive, &ux, 1, &uy, 1) == UCOL_LESS;
    });
    // Characters of one primary rank must differ only by case: equal at
    // secondary strength (or an accent-like difference would outweigh an
    // earlier case difference) and strictly ordered at tertiary strength.
    for (size_t k = 0; k < members.size(); ++k) {
      const UChar u = static_cast<UChar>(members[k]), first = static_cast<UChar>(members[0]);
      if (k > 0) {
        const UChar before = static_cast<UChar>(members[k - 1]);
        if (ucol_strcoll(FCaseInsensitive, &first, 1, &u, 1) != UCOL_EQUAL ||
            ucol_strcoll(FCaseSensitive, &before, 1, &u, 1) != UCOL_LESS) {
          FAscii = TAsciiOrder{};
          return;
        }
      }
      FAscii.Primary[members[k]] = rank;
      FAscii.Tertiary[members[k]] = static_cast<uint8_t>(k + 1);
    }
  }
  // Every pair of covered characters must compare as ICU compares it, at
  // both strengths; otherwise the shortcut stays off.
  FAscii.Usable = true;
  for (int x = kFirst; x <= kLast && FAscii.Usable; ++x) {
    if (!FAscii.Primary[x]) continue;
    for (int y = kFirst; y <= kLast; ++y) {
      if (!FAscii.Primary[y]) continue;
      const char ax = static_cast<char>(x), ay = static_cast<char>(y);
      const char16_t wx = static_cast<char16_t>(x), wy = static_cast<char16_t>(y);
      bool same = true;
      for (bool ci : {false, true})
        same = same && CompareAscii({&ax, 1}, {&ay, 1}, ci) == Compare({&wx, 1}, {&wy, 1}, ci);
      if (!same) {
        FAscii.Usable = false;
        break;
      }
    }
  }
}

int TSDBCollation::CompareAscii(std::string_view a, std::string_view b, bool caseInsensitive) const {
  const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
  const auto* pb = reinterpret_cast<const unsigned char*>(b.data());
  // Every character of both texts must be covered: one that is not could
  // weigh anywhere in the text (an ignorable, or the end of a contraction).
  for (size_t i = 0; i < a.size(); ++i)
    if (pa[i] >= 0x80 || FAscii.Primary[pa[i]] == 0) return kNoShortcut;
  for (size_t i = 0; i < b.size(); ++i)
    if (pb[i] >= 0x80 || FAscii.Primary[pb[i]] == 0) return kNoShortcut;
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const uint8_t x = FAscii.Primary[pa[i]], y = FAscii.Primary[pb[i]];
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  if (caseInsensitive) {
    // ICU calls the texts equal; the tie-break compares the case-folded
    // code points (ASCII folds A-Z to a-z).
    for (size_t i = 0; i < n; ++i) {
      const unsigned char x = pa[i] >= 'A' && pa[i] <= 'Z' ? pa[i] + 32 : pa[i];
      const unsigned char y = pb[i] >= 'A' && pb[i] <= 'Z' ? pb[i] + 32 : pb[i];
      if (x != y) return x < y ? -1 : 1;
    }
    return 0;
  }
  for (size_t i = 0; i < n; ++i) {
    const uint8_t x = FAscii.Tertiary[pa[i]], y = FAscii.Tertiary[pb[i]];
    if (x != y) return x < y ? -1 : 1;
  }
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

TSDBCollation::~TSDBCollation() {
  ucol_close(FCaseSensitive);
  ucol_close(FCaseInsensitive);
}

std::shared_ptr<const TSDBCollation> TSDBCollation::Default() {
  static std::once_flag once;
  static std::shared_ptr<const TSDBCollation> instance;
  std::call_once(once, [] { instance = std::make_shared<const TSDBCollation>(); });
  return instance;
}

int TSDBCollation::Compare(std::u16string_view a, std::u16string_view b, bool caseInsensitive,
                           long maxChars) const {
  a = Limit(a, maxChars);
  b = Limit(b, maxChars);
  if (a == b) return 0;
  UCollationResult r = ucol_strcoll(caseInsensitive ? FCaseInsensitive : FCaseSensitive,
                                    reinterpret_cast<const UChar*>(a.data()), static_cast<int32_t>(a.size()),
                                    reinterpret_cast<const UChar*>(b.data()), static_cast<int32_t>(b.size()));
  if (r == UCOL_LESS) return -1;
  if (r == UCOL_GREATER) return 1;
  if (caseInsensitive) return CodePointCompare(FoldCase(a), FoldCase(b));
  return CodePointCompare(a, b);
}

int TSDBCollation::CompareAnsi(std::string_view a, std::string_view b, bool caseInsensitive,
                               long maxChars) const {
  if (maxChars >= 0) {
    if (static_cast<size_t>(maxChars) < a.size()) a = a.substr(0, static_cast<size_t>(maxChars));
    if (static_cast<size_t>(maxChars) < b.size()) b = b.substr(0, static_cast<size_t>(maxChars));
  }
  // Identical bytes are equal in every order, ties included; equality
  // tests of keys and conditions mostly end here without ICU.
  if (a == b) return 0;
  if (FAscii.Usable) {
    const int c = CompareAscii(a, b, caseInsensitive);
    if (c != kNoShortcut) return c;
  }
  // Index keys and condition values are short: convert on the stack.
  constexpr size_t kStack = 128;
  if (a.size() <= kStack && b.size() <= kStack) {
    char16_t wa[kStack], wb[kStack];
    auto widen = [](std::string_view in, char16_t* out) {
      for (size_t i = 0; i < in.size(); ++i) {
        out[i] = WideFor(static_cast<unsigned char>(in[i]));
      }
    };
    widen(a, wa);
    widen(b, wb);
    return Compare(std::u16string_view(wa, a.size()), std::u16string_view(wb, b.size()), caseInsensitive);
  }
  return Compare(SDBAnsiToWide(a), SDBAnsiToWide(b), caseInsensitive);
}

}  // namespace sdb
