// The error code table in docs/ lists exactly the codes the headers name,
// and no number is given two meanings unless the table says it is shared:
// a caller that tells errors apart by number needs each to mean one thing.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

namespace {

const std::filesystem::path kRoot = std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "..";

// A name's characters, as C++ spells them.
bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The integer at the start of Text (an optional minus, then digits); false
// when there is none. (Plain parsing: std::regex trips a false
// maybe-uninitialized warning of GCC 12 in the sanitizer build.)
bool LeadingInt(const std::string& Text, int& Value, size_t& Length) {
  size_t i = Text.size() > 0 && Text[0] == '-' ? 1 : 0;
  const size_t digits = i;
  while (i < Text.size() && std::isdigit(static_cast<unsigned char>(Text[i]))) ++i;
  if (i == digits) return false;
  Value = std::stoi(Text.substr(0, i));
  Length = i;
  return true;
}

// name -> code of every "inline constexpr int kName = N;" of a header.
std::map<std::string, int> HeaderCodes(const std::filesystem::path& file) {
  std::map<std::string, int> out;
  std::ifstream in(file);
  const std::string head = "inline constexpr int k";
  for (std::string s; std::getline(in, s);) {
    const size_t start = s.find_first_not_of(" \t");
    if (start == std::string::npos || s.compare(start, head.size(), head) != 0) continue;
    size_t end = start + head.size() - 1;
    while (end < s.size() && IsNameChar(s[end])) ++end;
    const std::string name = s.substr(start + head.size() - 1, end - (start + head.size() - 1));
    if (s.compare(end, 3, " = ") != 0) continue;
    int value = 0;
    size_t length = 0;
    const std::string rest = s.substr(end + 3);
    if (!LeadingInt(rest, value, length) || rest.compare(length, 1, ";") != 0) continue;
    out[name] = value;
  }
  return out;
}

TEST(ErrorCodes, TheTableListsEveryNamedCodeAndNoNumberClashes) {
  std::map<std::string, int> named = HeaderCodes(kRoot / "src/engine/include/sdb/SDBErrors.h");
  const std::map<std::string, int> sql = HeaderCodes(kRoot / "src/engine/sql/SDBSQLErrors.h");
  ASSERT_GT(named.size(), 100u);
  ASSERT_GT(sql.size(), 10u);
  named.insert(sql.begin(), sql.end());

  std::map<std::string, int> documented;
  std::set<int> shared;
  std::ifstream in(kRoot / "docs/error-codes.md");
  // Rows "| N | `kName` | message | header |".
  for (std::string s; std::getline(in, s);) {
    if (s.compare(0, 2, "| ") != 0) continue;
    int code = 0;
    size_t length = 0;
    if (!LeadingInt(s.substr(2), code, length)) continue;
    const std::string rest = s.substr(2 + length);
    if (rest.compare(0, 5, " | `k") != 0) continue;
    const size_t close = rest.find('`', 4);
    if (close == std::string::npos || rest.compare(close, 3, "` |") != 0) continue;
    documented[rest.substr(4, close - 4)] = code;
    if (rest.find("(shared)", close) != std::string::npos) shared.insert(code);
  }
  EXPECT_EQ(documented, named);

  std::map<int, std::string> byCode;
  for (const auto& [name, code] : named) {
    const auto [it, fresh] = byCode.emplace(code, name);
    if (!fresh) {
      EXPECT_TRUE(shared.count(code)) << code << " names both " << it->second << " and " << name;
    }
  }
}

}  // namespace
