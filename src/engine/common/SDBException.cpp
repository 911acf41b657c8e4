#include "sdb/SDBException.h"

#include <cinttypes>
#include <cstdio>

#include "sdb/SDBErrors.h"

namespace sdb {

namespace {

[[noreturn]] void BadFormat() { throw std::invalid_argument("invalid format"); }

int64_t IntArg(const TSDBFormatArg& a) {
  if (const auto* v = std::get_if<int64_t>(&a)) return *v;
  BadFormat();
}

std::string Pad(std::string s, int width, bool left) {
  if (width > 0 && static_cast<int>(s.size()) < width) {
    std::string fill(static_cast<size_t>(width) - s.size(), ' ');
    s = left ? s + fill : fill + s;
  }
  return s;
}

// Inserts thousands separators into the integral part of a fixed number.
std::string Thousands(const std::string& fixed) {
  size_t start = (!fixed.empty() && fixed[0] == '-') ? 1 : 0;
  size_t dot = fixed.find('.');
  if (dot == std::string::npos) dot = fixed.size();
  std::string out = fixed.substr(0, start);
  std::string intPart = fixed.substr(start, dot - start);
  for (size_t i = 0; i < intPart.size(); ++i) {
    if (i > 0 && (intPart.size() - i) % 3 == 0) out += ',';
    out += intPart[i];
  }
  return out + fixed.substr(dot);
}

}  // namespace

std::string SDBFormat(const std::string& fmt, const TSDBFormatArgs& args) {
  std::string out;
  size_t next = 0;  // index of the next argument to consume
  for (size_t i = 0; i < fmt.size(); ++i) {
    char c = fmt[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (++i >= fmt.size()) BadFormat();
    if (fmt[i] == '%') {
      out += '%';
      continue;
    }
    // "%[index:][-][width][.prec]type"
    auto readNumber = [&](int& value) -> bool {
      if (i < fmt.size() && fmt[i] == '*') {
        if (next >= args.size()) BadFormat();
        int64_t v = IntArg(args[next++]);
        if (v < 0 || v > 1 << 20) BadFormat();
        value = static_cast<int>(v);
        ++i;
        return true;
      }
      bool any = false;
      value = 0;
      while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
        value = value * 10 + (fmt[i] - '0');
        if (value > 1 << 20) BadFormat();
        any = true;
        ++i;
      }
      return any;
    };
    size_t save = i;
    int n = 0;
    if (readNumber(n) && i < fmt.size() && fmt[i] == ':') {
      next = static_cast<size_t>(n);
      ++i;
    } else {
      i = save;
    }
    bool left = false;
    if (i < fmt.size() && fmt[i] == '-') {
      left = true;
      ++i;
    }
    int width = 0;
    readNumber(width);
    int prec = -1;
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      if (!readNumber(prec)) prec = 0;
    }
    if (i >= fmt.size()) BadFormat();
    char type = static_cast<char>(fmt[i] | 0x20);
    if (next >= args.size()) BadFormat();
    const TSDBFormatArg& arg = args[next++];
    std::string text;
    char buf[512];
    switch (type) {
      case 'd':
      case 'u': {
        int64_t v = IntArg(arg);
        if (type == 'u') v = static_cast<int64_t>(static_cast<uint32_t>(v));
        bool neg = v < 0;
        std::string digits = std::to_string(neg ? -static_cast<uint64_t>(v) : static_cast<uint64_t>(v));
        if (prec > 0 && static_cast<int>(digits.size()) < prec)
          digits = std::string(static_cast<size_t>(prec) - digits.size(), '0') + digits;
        text = (neg ? "-" : "") + digits;
        break;
      }
      case 'x': {
        int64_t v = IntArg(arg);
        std::snprintf(buf, sizeof buf, "%" PRIX64, static_cast<uint64_t>(v));
        text = buf;
        if (prec > 0 && static_cast<int>(text.size()) < prec)
          text = std::string(static_cast<size_t>(prec) - text.size(), '0') + text;
        break;
      }
      case 's': {
        const auto* s = std::get_if<std::string>(&arg);
        if (!s) BadFormat();
        text = (prec >= 0 && static_cast<size_t>(prec) < s->size()) ? s->substr(0, static_cast<size_t>(prec)) : *s;
        break;
      }
      case 'f':
      case 'e':
      case 'g':
      case 'n':
      case 'm': {
        double v;
        if (const auto* d = std::get_if<double>(&arg))
          v = *d;
        else
          BadFormat();
        int p = prec < 0 ? (type == 'g' ? 15 : (type == 'e' ? 15 : 2)) : prec;
        if (p > 100) p = 100;
        if (type == 'e') {
          std::snprintf(buf, sizeof buf, "%.*E", p > 0 ? p - 1 : 0, v);
        } else if (type == 'g') {
          std::snprintf(buf, sizeof buf, "%.*G", p, v);
        } else {
          std::snprintf(buf, sizeof buf, "%.*f", p, v);
        }
        text = buf;
        if (type == 'n' || type == 'm') text = Thousands(text);
        break;
      }
      case 'p': {
        std::snprintf(buf, sizeof buf, "%08" PRIX64, static_cast<uint64_t>(IntArg(arg)));
        text = buf;
        break;
      }
      default:
        BadFormat();
    }
    out += Pad(std::move(text), width, left);
  }
  return out;
}

ESDBException::ESDBException(Built, int nativeError, std::string raw, std::string full)
    : std::runtime_error(full), FNativeError(nativeError), FRawMessage(std::move(raw)) {}

ESDBException::ESDBException(int nativeError, const std::string& message)
    : ESDBException(Built{}, nativeError, message, [&] {
        char code[32];
        std::snprintf(code, sizeof code, "%.5d", nativeError);
        return message + " - Native error: " + code;
      }()) {}

ESDBException ESDBException::MakeFormatted(int nativeError, const std::string& format,
                                           const TSDBFormatArgs& args) {
  std::string text;
  try {
    text = SDBFormat(format, args);
  } catch (const std::invalid_argument&) {
    text = format + " Arguments are invalid!";
  }
  char code[32];
  std::snprintf(code, sizeof code, "%5d", nativeError);
  return ESDBException(Built{}, nativeError, text, text + " - Native error: " + code);
}

ESDBException::ESDBException(int nativeError, const std::string& format, const TSDBFormatArgs& args)
    : ESDBException(MakeFormatted(nativeError, format, args)) {}

ESDBEngineError::ESDBEngineError(int ErrorCode, const std::string& Text, int NativeError)
    : ESDBException(Built{}, NativeError != 0 ? NativeError : ErrorCode, Text,
                    "Engine Error # " + std::to_string(ErrorCode) + " " + Text),
      FErrorCode(ErrorCode) {}

std::string ESDBEngineError::ErrorText(int ErrorCode) {
  switch (ErrorCode) {
    case kSDBRecErrAdd: return "Error adding record";
    case kSDBRecErrUpdate: return "Error updating record";
    case kSDBRecErrDelete: return "Error deleting record";
    case kSDBRecErrUpdateModified: return "Error updating record - record was modified by another process";
    case kSDBRecErrDeleteModified: return "Error deleting record - record was modified by another process";
    case kSDBRecErrUpdateDeleted: return "Error updating record - record was deleted by another process";
    case kSDBRecErrDeleteDeleted: return "Error deleting record - record was deleted by another process";
    case kSDBRecErrUpdateTemporary: return "Cannot update record in temporary mode";
    case kSDBRecErrDeleteTemporary: return "Cannot delete record in temporary mode";
    case kSDBRecErrCancelTemporary: return "Cannot cancel operation in temporary mode";
    case kSDBRecErrRecordLocked: return "Record is locked";
    case kSDBRecErrTableLocked: return "Table is locked";
    default: return {};
  }
}

}  // namespace sdb
