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
      // A bare LF (what text boxes give) is a line break too; a lone CR is
      // stored unchanged.
      {"a\nb\n", "a%b%", "a\r\nb\r\n"},
      {"a\rb\nc", "a\rb%c", "a\rb\r\nc"},
      {"a\n\r\nb", "a%%b", "a\r\n\r\nb"},
      {"a\r\r\nb", "a\r%b", "a\r\r\nb"},
      // A "%" typed in the text reads back as a line break.
      {"50% off", "50% off", "50\r\n off"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(EncodeSettingsLineBreaks(c.text), c.stored);
    EXPECT_EQ(DecodeSettingsLineBreaks(EncodeSettingsLineBreaks(c.text)), c.readBack);
  }
}
