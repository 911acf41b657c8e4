#include "common/SDBNames.h"

namespace sdb {

std::string SDBUpperName(std::string_view Name) {
  std::string r(Name);
  for (char& c : r) c = SDBUpperNameChar(c);
  return r;
}

bool SDBSameName(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (SDBUpperNameChar(a[i]) != SDBUpperNameChar(b[i])) return false;
  return true;
}

}  // namespace sdb
