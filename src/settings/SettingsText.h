// The line-break encoding of multi-line settings texts: a value is stored
// as one line, each line break (a CR LF pair, or the bare LF of a text box)
// written as "%". Reading turns every "%" back into CR LF, so a "%" typed in
// such a text reads back as a line break; a lone CR is kept as it is.
#pragma once

#include <string>
#include <string_view>

namespace tessaly {

std::string EncodeSettingsLineBreaks(std::string_view Text);
std::string DecodeSettingsLineBreaks(std::string_view Text);

}  // namespace tessaly
