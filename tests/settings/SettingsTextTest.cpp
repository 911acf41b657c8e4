#include <gtest/gtest.h>

#include "settings/SettingsText.h"

using tessaly::DecodeSettingsLineBreaks;
using tessaly::EncodeSettingsLineBreaks;

TEST(SettingsText, LineBreakEncoding) {
  struct Case {
    const char* text;
    const char* stored;
    const char* readBack;
  } cases[] = {
      {"", "", ""},
      {"one line", "one line", "one line"},
      {"a\r\nb\r\n", "a%b%", "a\r\nb\r\n"},
      // Lone CR and LF are stored unchanged.
      {"a\rb\nc", "a\rb\nc", "a\rb\nc"},
      {"a\n\r\nb", "a\n%b", "a\n\r\nb"},
      // A "%" typed in the text reads back as a line break.
      {"50% off", "50% off", "50\r\n off"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(EncodeSettingsLineBreaks(c.text), c.stored);
    EXPECT_EQ(DecodeSettingsLineBreaks(EncodeSettingsLineBreaks(c.text)), c.readBack);
  }
}
