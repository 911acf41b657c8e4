// Names of tables, fields, indexes, constraints, parameters, sessions and
// databases compare without regard to case, and always the same way: by
// the ASCII letters alone, whatever the process's locale. Names are stored
// in files that installations share and are typed in SQL texts, so "id"
// must find the field "ID" under every locale; the C library's toupper
// follows LC_CTYPE and under a Turkish locale upper-cases 'i' to a dotted
// capital I (or leaves it alone), which would make such names differ.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sdb {

// 'a' .. 'z' to 'A' .. 'Z'; every other byte unchanged.
constexpr char SDBUpperNameChar(char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The name with its ASCII letters upper-cased (the form names compare in).
std::string SDBUpperName(std::string_view Name);

// Whether two names are the same name. Inline: name lookups call it for
// every candidate, and most candidates differ in length.
inline bool SDBSameName(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && SDBUpperNameChar(a[i]) != SDBUpperNameChar(b[i])) return false;
  return true;
}

// The names of a ";"-separated list ("Cle;Section"), each without its
// surrounding spaces; empty entries are left out.
std::vector<std::string> SDBSplitNames(std::string_view Names);

}  // namespace sdb
