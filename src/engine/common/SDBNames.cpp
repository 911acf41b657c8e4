#include "common/SDBNames.h"

namespace sdb {

std::string SDBUpperName(std::string_view Name) {
  std::string r(Name);
  for (char& c : r) c = SDBUpperNameChar(c);
  return r;
}

std::vector<std::string> SDBSplitNames(std::string_view Names) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= Names.size()) {
    const size_t semi = Names.find(';', start);
    std::string_view n = Names.substr(start, semi == std::string_view::npos ? std::string_view::npos : semi - start);
    while (!n.empty() && n.front() == ' ') n.remove_prefix(1);
    while (!n.empty() && n.back() == ' ') n.remove_suffix(1);
    if (!n.empty()) out.emplace_back(n);
    if (semi == std::string_view::npos) break;
    start = semi + 1;
  }
  return out;
}

}  // namespace sdb
