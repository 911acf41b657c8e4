#include "settings/SettingsText.h"

namespace tessaly {

std::string EncodeSettingsLineBreaks(std::string_view Text) {
  std::string out;
  out.reserve(Text.size());
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') {
      out += '%';
      ++i;
    } else if (Text[i] == '\n') {
      // Text boxes break lines with a bare line feed.
      out += '%';
    } else {
      out += Text[i];
    }
  }
  return out;
}

std::string DecodeSettingsLineBreaks(std::string_view Text) {
  std::string out;
  out.reserve(Text.size() + 8);
  for (char c : Text) {
    if (c == '%')
      out += "\r\n";
    else
      out += c;
  }
  return out;
}

}  // namespace tessaly
