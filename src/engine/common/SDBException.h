// Engine error type: every failure of the engine raises ESDBException with
// its native error code; the text shown to users carries the code too.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace sdb {

// One argument of a formatted engine message: an integer, a floating-point
// number or a text, as the format's conversions expect them.
using TSDBFormatArg = std::variant<int64_t, double, std::string>;
using TSDBFormatArgs = std::vector<TSDBFormatArg>;

// Formats `fmt` with Pascal-style conversions (%d %u %x %s %f %g %e %n %m
// %p, with optional "index:", "-", width and ".precision", "*" taken from
// the arguments). Raises std::invalid_argument when a conversion has no
// argument or an argument of the wrong kind, or the format is malformed.
std::string SDBFormat(const std::string& fmt, const TSDBFormatArgs& args);

class ESDBException : public std::runtime_error {
 public:
  // Plain message: "<text> - Native error: 00042".
  ESDBException(int nativeError, const std::string& message);
  // Formatted message: "<formatted text> - Native error:    42"; when the
  // arguments do not fit the format, the raw text followed by
  // " Arguments are invalid!" is used instead.
  ESDBException(int nativeError, const std::string& format, const TSDBFormatArgs& args);

  int NativeError() const noexcept { return FNativeError; }
  // The message without the " - Native error: ..." suffix.
  const std::string& RawMessage() const noexcept { return FRawMessage; }

 private:
  struct Built {};
  ESDBException(Built, int nativeError, std::string raw, std::string full);
  static ESDBException MakeFormatted(int nativeError, const std::string& format,
                                     const TSDBFormatArgs& args);
  int FNativeError;
  std::string FRawMessage;
};

}  // namespace sdb
