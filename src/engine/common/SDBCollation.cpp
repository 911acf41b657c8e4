#include "sdb/SDBCollation.h"

#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>

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
