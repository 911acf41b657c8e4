// Locale-aware string order of the engine.
//
// Texts order by the ICU collation of the user's default locale (taken from
// the environment: LC_ALL, then LC_COLLATE, then LANG), with a
// case-insensitive variant. ICU treats control characters as ignorable and
// may call distinct strings equal; such ties are broken by comparing code
// points (of the case-folded strings in the case-insensitive variant), so the
// order is total and stable and a 0x01 byte placed in a key still weighs.
// One collation object serves every comparison of one database; it is
// immutable once built and may be used from several threads at once.
//
// 8-bit texts are held in the Windows-1252 code page (the ANSI code page of
// the installations that share the files); SDBAnsiToWide/SDBWideToAnsi
// convert them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct UCollator;

namespace sdb {

// Windows-1252 <-> UTF-16. Characters without an 8-bit form become '?'.
std::u16string SDBAnsiToWide(std::string_view text);
std::string SDBWideToAnsi(std::u16string_view text);
// UTF-8 <-> UTF-16 (invalid sequences become U+FFFD).
std::u16string SDBUtf8ToWide(std::string_view text);
std::string SDBWideToUtf8(std::u16string_view text);

class TSDBCollation {
 public:
  // `localeName` is an ICU/POSIX locale name ("fr_FR", "de_DE.UTF-8"); an
  // empty name means the user's default locale from the environment. The C
  // and POSIX locales use the root collation (ICU's POSIX tailoring is plain
  // code-unit order, which would defeat accent and case rules).
  explicit TSDBCollation(const std::string& localeName = std::string());
  ~TSDBCollation();
  TSDBCollation(const TSDBCollation&) = delete;
  TSDBCollation& operator=(const TSDBCollation&) = delete;

  // The collation of the user's default locale, built once per process.
  static std::shared_ptr<const TSDBCollation> Default();

  // -1, 0 or 1. `maxChars` >= 0 limits both strings to that many characters
  // (UTF-16 code units, or bytes for 8-bit texts) before comparing.
  int Compare(std::u16string_view a, std::u16string_view b, bool caseInsensitive,
              long maxChars = -1) const;
  int CompareAnsi(std::string_view a, std::string_view b, bool caseInsensitive,
                  long maxChars = -1) const;

  // The ICU locale actually used ("root" for C/POSIX).
  const std::string& LocaleName() const noexcept { return FLocaleName; }

  // Whether 8-bit texts made only of printable ASCII characters are ordered
  // without ICU (see CompareAscii); the order is the same either way.
  bool HasAsciiShortcut() const noexcept { return FAscii.Usable; }

 private:
  // The collation's order of printable ASCII characters, read from ICU
  // once: a primary rank per character (0: the character is left to ICU)
  // and, among characters of one primary rank, their tertiary (case) rank.
  struct TAsciiOrder {
    bool Usable = false;
    uint8_t Primary[128] = {};
    uint8_t Tertiary[128] = {};
  };
  void BuildAsciiOrder();
  // The result ICU and the tie-break would give, or kNoShortcut when a
  // text holds a character the shortcut does not cover.
  static constexpr int kNoShortcut = 2;
  int CompareAscii(std::string_view a, std::string_view b, bool caseInsensitive) const;

  std::string FLocaleName;
  UCollator* FCaseSensitive = nullptr;
  UCollator* FCaseInsensitive = nullptr;
  TAsciiOrder FAscii;
};

using TSDBCollationPtr = std::shared_ptr<const TSDBCollation>;

}  // namespace sdb
