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

 protected:
  struct Built {};
  ESDBException(Built, int nativeError, std::string raw, std::string full);

 private:
  static ESDBException MakeFormatted(int nativeError, const std::string& format,
                                     const TSDBFormatArgs& args);
  int FNativeError;
  std::string FRawMessage;
};

// Record-level errors of cursors (codes -1 .. -13). The message reads
// "Engine Error # <code> <text>". NativeError() is the code, except for -8
// (a constraint or other engine failure passed on), where it keeps the
// native code of the failure behind it so that callers can still tell
// the causes apart.
class ESDBEngineError : public ESDBException {
 public:
  ESDBEngineError(int ErrorCode, const std::string& Text, int NativeError = 0);
  // The standard text of a code (-1 .. -13 except -8), empty for others.
  static std::string ErrorText(int ErrorCode);
  // An error of that code with its standard text.
  static ESDBEngineError Make(int ErrorCode) { return ESDBEngineError(ErrorCode, ErrorText(ErrorCode)); }

  int ErrorCode() const noexcept { return FErrorCode; }

 private:
  int FErrorCode;
};

}  // namespace sdb
