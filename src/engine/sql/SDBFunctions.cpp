#include "sql/SDBFunctions.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <cctype>
#include <cfloat>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "sdb/SDBException.h"
#include "sdb/SDBVariant.h"
#include "common/SDBNames.h"

namespace sdb {

std::u16string SDBMapCase(std::u16string_view s, TSDBCaseMapping mapping) {
  if (s.empty()) return {};
  std::u16string out(s.size() + 8, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode err = U_ZERO_ERROR;
    auto* dst = reinterpret_cast<UChar*>(out.data());
    const auto* src = reinterpret_cast<const UChar*>(s.data());
    const auto cap = static_cast<int32_t>(out.size());
    const auto len = static_cast<int32_t>(s.size());
    int32_t n = mapping == cmUpper   ? u_strToUpper(dst, cap, src, len, "", &err)
                : mapping == cmLower ? u_strToLower(dst, cap, src, len, "", &err)
                                     : u_strFoldCase(dst, cap, src, len, U_FOLD_CASE_DEFAULT, &err);
    if (err == U_BUFFER_OVERFLOW_ERROR) {
      out.assign(static_cast<size_t>(n) + 1, u'\0');
      continue;
    }
    if (U_FAILURE(err)) return std::u16string(s);
    out.resize(static_cast<size_t>(n));
    return out;
  }
  return std::u16string(s);
}

std::u16string SDBTrimChars(std::u16string_view s, std::u16string_view chars, bool leading, bool trailing) {
  size_t b = 0, e = s.size();
  if (leading)
    while (b < e && chars.find(s[b]) != std::u16string_view::npos) ++b;
  if (trailing)
    while (e > b && chars.find(s[e - 1]) != std::u16string_view::npos) --e;
  return std::u16string(s.substr(b, e - b));
}

namespace {

struct LikeItem {
  enum Kind : uint8_t { Literal, One, Any } K;
  char16_t C;
};

}  // namespace

std::optional<bool> SDBLikeMatch(std::u16string_view text, std::u16string_view pattern,
                                 std::optional<char16_t> escape) {
  std::vector<LikeItem> items;
  items.reserve(pattern.size());
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char16_t c = pattern[i];
    if (escape && c == *escape) {
      if (i + 1 >= pattern.size()) return std::nullopt;
      const char16_t n = pattern[++i];
      if (n != u'%' && n != u'_' && n != *escape) return std::nullopt;
      items.push_back({LikeItem::Literal, n});
    } else if (c == u'%') {
      if (items.empty() || items.back().K != LikeItem::Any) items.push_back({LikeItem::Any, 0});
    } else if (c == u'_') {
      items.push_back({LikeItem::One, 0});
    } else {
      items.push_back({LikeItem::Literal, c});
    }
  }
  // Greedy match with one back-track point (the last '%'): linear in
  // practice, O(text * pattern) at worst.
  size_t t = 0, p = 0;
  size_t starP = SIZE_MAX, starT = 0;
  while (t < text.size()) {
    if (p < items.size() && items[p].K != LikeItem::Any &&
        (items[p].K == LikeItem::One || items[p].C == text[t])) {
      ++t;
      ++p;
    } else if (p < items.size() && items[p].K == LikeItem::Any) {
      starP = p++;
      starT = t;
    } else if (starP != SIZE_MAX) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < items.size() && items[p].K == LikeItem::Any) ++p;
  return p == items.size();
}

namespace {

double RoundUnit(double y, TReservedWord mode) {
  const double nearest = std::nearbyint(y);
  const double eps = std::max(1e-9, std::fabs(y) * 8 * DBL_EPSILON);
  if (std::fabs(y - nearest) < eps) return nearest;  // already whole, up to representation noise
  const double fl = std::floor(y);
  const double frac = y - fl;
  const bool half = std::fabs(frac - 0.5) < eps;
  const bool pos = y > 0;
  switch (mode) {
    case rwRNDNEG: return fl;
    case rwRNDPOS: return fl + 1;
    case rwRNDDOWN: return std::trunc(y);
    case rwRNDUP: return pos ? fl + 1 : fl;
    default: break;
  }
  if (!half) return frac < 0.5 ? fl : fl + 1;
  switch (mode) {
    case rwHALFEVEN: return std::fmod(fl, 2.0) == 0 ? fl : fl + 1;
    case rwHALFPOS: return fl + 1;
    case rwHALFNEG: return fl;
    case rwHALFDOWN: return pos ? fl : fl + 1;
    default: return pos ? fl + 1 : fl;  // rwHALFUP and the default: away from zero
  }
}

}  // namespace

double SDBRoundTo(double v, int digits, TReservedWord mode) {
  if (!std::isfinite(v)) return v;
  if (digits > 300 || digits < -300) return digits > 0 ? v : 0.0;
  const double scale = std::pow(10.0, std::abs(digits));
  const double y = digits >= 0 ? v * scale : v / scale;
  if (!std::isfinite(y) || std::fabs(y) >= 9007199254740992.0) return v;  // no fraction left to round
  const double r = RoundUnit(y, mode);
  return digits >= 0 ? r / scale : r * scale;
}

bool SDBRoundInt(int64_t v, int digits, TReservedWord mode, int64_t& out) {
  if (digits >= 0 || v == 0) {
    out = v;
    return true;
  }
  if (digits < -18) {
    // Every value is below half the unit.
    const bool away = mode == rwRNDUP || (mode == rwRNDPOS && v > 0) || (mode == rwRNDNEG && v < 0);
    out = 0;
    return !away;
  }
  int64_t scale = 1;
  for (int i = 0; i < -digits; ++i) scale *= 10;
  const int64_t q = v / scale, r = v % scale;
  if (r == 0) {
    out = v;
    return true;
  }
  const int64_t base = q * scale;
  int64_t away = 0;
  const bool awayOk = !__builtin_add_overflow(base, v > 0 ? scale : -scale, &away);
  const int64_t twice = r < 0 ? -r : r;
  const int cmp = (twice > scale - twice) ? 1 : (twice < scale - twice ? -1 : 0);
  const bool pos = v > 0;
  bool takeAway;
  switch (mode) {
    case rwRNDDOWN: takeAway = false; break;
    case rwRNDUP: takeAway = true; break;
    case rwRNDNEG: takeAway = !pos; break;
    case rwRNDPOS: takeAway = pos; break;
    default:
      if (cmp != 0) {
        takeAway = cmp > 0;
      } else {
        switch (mode) {
          case rwHALFEVEN: takeAway = q % 2 != 0; break;
          case rwHALFPOS: takeAway = pos; break;
          case rwHALFNEG: takeAway = !pos; break;
          case rwHALFDOWN: takeAway = false; break;
          default: takeAway = true; break;
        }
      }
  }
  if (!takeAway) {
    out = base;
    return true;
  }
  out = away;
  return awayOk;
}

namespace {

enum DatePart : uint8_t { dpNone, dpYear4, dpYear2, dpMonth, dpDay, dpHour, dpMinute, dpSecond, dpMSec };

// The date part token at `p` (and its length), dpNone for a literal character.
DatePart PartAt(std::string_view p, size_t& len) {
  auto starts = [&](const char* tok) {
    size_t n = std::char_traits<char>::length(tok);
    if (p.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
      if (SDBUpperNameChar(p[i]) != tok[i]) return false;
    len = n;
    return true;
  };
  if (starts("YYYY")) return dpYear4;
  if (starts("YY")) return dpYear2;
  if (starts("MM")) return dpMonth;
  if (starts("DD")) return dpDay;
  if (starts("HH24")) return dpHour;
  if (starts("HH")) return dpHour;
  if (starts("MI") || starts("NN")) return dpMinute;
  if (starts("SS")) return dpSecond;
  if (starts("ZZZ")) return dpMSec;
  len = 1;
  return dpNone;
}

}  // namespace

std::string SDBFormatDateTime(double dt, std::string_view pattern) {
  int y, mo, d, h, mi, s, ms;
  SDBDecodeDateTime(dt, y, mo, d, h, mi, s, ms);
  std::string out;
  char buf[16];
  while (!pattern.empty()) {
    size_t len = 1;
    const DatePart part = PartAt(pattern, len);
    switch (part) {
      case dpYear4: std::snprintf(buf, sizeof buf, "%04d", y); break;
      case dpYear2: std::snprintf(buf, sizeof buf, "%02d", y % 100); break;
      case dpMonth: std::snprintf(buf, sizeof buf, "%02d", mo); break;
      case dpDay: std::snprintf(buf, sizeof buf, "%02d", d); break;
      case dpHour: std::snprintf(buf, sizeof buf, "%02d", h); break;
      case dpMinute: std::snprintf(buf, sizeof buf, "%02d", mi); break;
      case dpSecond: std::snprintf(buf, sizeof buf, "%02d", s); break;
      case dpMSec: std::snprintf(buf, sizeof buf, "%03d", ms); break;
      case dpNone: buf[0] = pattern[0]; buf[1] = 0; break;
    }
    out += buf;
    pattern.remove_prefix(len);
  }
  return out;
}

bool SDBParseDateTime(std::string_view text, std::string_view pattern, double& out) {
  int y = 1899, mo = 12, d = 30, h = 0, mi = 0, s = 0, ms = 0;
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  auto num = [&](int maxDigits, int& v) {
    int n = 0;
    v = 0;
    while (n < maxDigits && !text.empty() && text.front() >= '0' && text.front() <= '9') {
      v = v * 10 + (text.front() - '0');
      text.remove_prefix(1);
      ++n;
    }
    return n > 0;
  };
  while (!pattern.empty()) {
    size_t len = 1;
    const DatePart part = PartAt(pattern, len);
    bool ok = true;
    switch (part) {
      case dpYear4: ok = num(4, y); break;
      case dpYear2:
        ok = num(2, y);
        y += y < 50 ? 2000 : 1900;
        break;
      case dpMonth: ok = num(2, mo); break;
      case dpDay: ok = num(2, d); break;
      case dpHour: ok = num(2, h); break;
      case dpMinute: ok = num(2, mi); break;
      case dpSecond: ok = num(2, s); break;
      case dpMSec: {
        const size_t before = text.size();
        ok = num(3, ms);
        for (size_t n = before - text.size(); ok && n < 3; ++n) ms *= 10;
        break;
      }
      case dpNone:
        ok = !text.empty() && text.front() == pattern.front();
        if (ok) text.remove_prefix(1);
        break;
    }
    if (!ok) return false;
    pattern.remove_prefix(len);
  }
  if (!text.empty() || h > 23 || mi > 59 || s > 59) return false;
  try {
    const double date = SDBEncodeDate(y, mo, d);
    const double time = SDBEncodeTime(h, mi, s, ms);
    out = date >= 0 ? date + time : date - time;
  } catch (const ESDBException&) {
    return false;
  }
  return true;
}

bool SDBFormatNumber(double v, std::string_view pattern, std::string& out) {
  const size_t first = pattern.find_first_of("0#");
  if (first == std::string_view::npos || !std::isfinite(v)) return false;
  size_t last = pattern.find_last_of("0#");
  // The number part runs over digits placeholders, '.' and ','.
  size_t b = first, e = last + 1;
  while (b > 0 && (pattern[b - 1] == '.' || pattern[b - 1] == ',')) --b;
  while (e < pattern.size() && (pattern[e] == '.' || pattern[e] == ',')) ++e;
  const std::string_view num = pattern.substr(b, e - b);
  const size_t dot = num.find('.');
  const std::string_view intPart = num.substr(0, dot);
  const std::string_view fracPart = dot == std::string_view::npos ? std::string_view() : num.substr(dot + 1);
  int maxDec = 0, minDec = 0, minInt = 0;
  for (char c : fracPart) {
    if (c == '0') minDec = ++maxDec;
    else if (c == '#') ++maxDec;
  }
  bool group = false;
  for (char c : intPart) {
    if (c == '0') ++minInt;
    if (c == ',') group = true;
  }
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", maxDec, std::fabs(v));
  std::string digits = buf;
  std::string ip = digits, fp;
  if (const size_t p = digits.find('.'); p != std::string::npos) {
    ip = digits.substr(0, p);
    fp = digits.substr(p + 1);
  }
  while (static_cast<int>(fp.size()) > minDec && !fp.empty() && fp.back() == '0') fp.pop_back();
  if (ip == "0" && minInt == 0) ip.clear();
  while (static_cast<int>(ip.size()) < minInt) ip.insert(ip.begin(), '0');
  if (group) {
    std::string g;
    for (size_t i = 0; i < ip.size(); ++i) {
      if (i > 0 && (ip.size() - i) % 3 == 0) g += ',';
      g += ip[i];
    }
    ip = g;
  }
  std::string body = ip;
  if (!fp.empty()) body += "." + fp;
  if (body.empty()) body = "0";
  const bool negative = v < 0 && body.find_first_not_of("0.,") != std::string::npos;
  out = std::string(pattern.substr(0, b)) + (negative ? "-" : "") + body + std::string(pattern.substr(e));
  return true;
}

bool SDBDecodeMime(std::string_view text, std::string& out) {
  out.clear();
  uint32_t acc = 0;
  int bits = 0, pad = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else if (c == '=') {
      ++pad;
      continue;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      continue;
    } else {
      return false;
    }
    if (pad) return false;  // data after padding
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  // Left-over bits must be padding zeros, and at most two '=' may close.
  return pad <= 2 && bits < 6 && (acc & ((1u << bits) - 1)) == 0;
}

}  // namespace sdb
