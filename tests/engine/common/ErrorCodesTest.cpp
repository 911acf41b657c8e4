// The error code table in docs/ lists exactly the codes the headers name,
// and no number is given two meanings unless the table says it is shared:
// a caller that tells errors apart by number needs each to mean one thing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {

const std::filesystem::path kRoot = std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "..";

// name -> code of every "inline constexpr int kName = N;" of a header.
std::map<std::string, int> HeaderCodes(const std::filesystem::path& file) {
  std::map<std::string, int> out;
  std::ifstream in(file);
  const std::regex line(R"(^\s*inline constexpr int (k\w+) = (-?\d+);)");
  std::smatch m;
  for (std::string s; std::getline(in, s);)
    if (std::regex_search(s, m, line)) out[m[1]] = std::stoi(m[2]);
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
  const std::regex row(R"(^\| (-?\d+) \| `(k\w+)` \|(.*)\|)");
  std::smatch m;
  for (std::string s; std::getline(in, s);) {
    if (!std::regex_search(s, m, row)) continue;
    documented[m[2]] = std::stoi(m[1]);
    if (m[3].str().find("(shared)") != std::string::npos) shared.insert(std::stoi(m[1]));
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
