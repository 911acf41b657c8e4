#include "LocaleConvert.h"

#include <QRegularExpression>
#include <QStringList>
#include <cmath>

namespace tessaly {

std::optional<double> TextToFloat(const QString& text, const QLocale& locale) {
  QString t = text.trimmed();
  if (t.isEmpty()) return std::nullopt;
  const QString dec = locale.decimalPoint();
  // Rewrite to the C form; anything other than digits, one separator, sign
  // and exponent is refused (as the regional conversion does).
  QString c;
  c.reserve(t.size());
  bool seenSep = false;
  for (int i = 0; i < t.size(); ++i) {
    if (t.mid(i, dec.size()) == dec) {
      if (seenSep) return std::nullopt;
      seenSep = true;
      c += '.';
      i += static_cast<int>(dec.size()) - 1;
      continue;
    }
    QChar ch = t[i];
    if (ch.isDigit() && ch.unicode() < 128) {
      c += ch;
    } else if (ch == '+' || ch == '-' || ch == 'e' || ch == 'E') {
      c += ch;
    } else {
      return std::nullopt;
    }
  }
  static const QRegularExpression re(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
  if (!re.match(c).hasMatch()) return std::nullopt;
  bool ok = false;
  double v = QLocale::c().toDouble(c, &ok);
  if (!ok || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<qint32> TextToInteger(const QString& text) {
  QString t = text.trimmed();
  if (t.isEmpty()) return std::nullopt;
  bool neg = false;
  if (t[0] == '-' || t[0] == '+') {
    neg = t[0] == '-';
    t = t.mid(1);
  }
  int base = 10;
  if (t.startsWith('$')) {
    base = 16;
    t = t.mid(1);
  } else if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
    base = 16;
    t = t.mid(2);
  }
  if (t.isEmpty()) return std::nullopt;
  for (QChar ch : t) {
    bool digit = ch.unicode() < 128 && (base == 16 ? std::isxdigit(ch.unicode()) : std::isdigit(ch.unicode()));
    if (!digit) return std::nullopt;
  }
  bool ok = false;
  qint64 v = t.toLongLong(&ok, base);
  if (!ok) return std::nullopt;
  if (neg) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
  return static_cast<qint32>(v);
}

namespace {

// The order of day (d), month (M) and year (y) in a date format.
QString DateOrder(const QLocale& locale) {
  QString fmt = locale.dateFormat(QLocale::ShortFormat);
  QString order;
  for (QChar ch : fmt) {
    char c = static_cast<char>(ch.unicode());
    if ((c == 'd' || c == 'M' || c == 'y') && !order.contains(ch)) order += ch;
  }
  if (order.size() != 3) order = QStringLiteral("dMy");
  return order;
}

}  // namespace

std::optional<QDate> TextToDate(const QString& text, const QLocale& locale) {
  QString t = text.trimmed();
  if (t.isEmpty()) return std::nullopt;
  static const QRegularExpression sep(QStringLiteral("[^0-9]+"));
  static const QRegularExpression allowed(QStringLiteral("^[0-9]+([ ./\\-][0-9]+){1,2}$"));
  if (!allowed.match(t).hasMatch()) return std::nullopt;
  QStringList parts = t.split(sep, Qt::SkipEmptyParts);
  QString order = DateOrder(locale);
  if (parts.size() == 2) {
    // Day and month only: the year is this year's.
    order.remove('y');
  }
  int d = 0, m = 0, y = QDate::currentDate().year();
  bool twoDigitYear = false;
  for (int i = 0; i < parts.size(); ++i) {
    if (parts[i].size() > 4) return std::nullopt;
    int v = parts[i].toInt();
    switch (order[i].unicode()) {
      case 'd': d = v; break;
      case 'M': m = v; break;
      default:
        y = v;
        twoDigitYear = parts[i].size() <= 2;
    }
  }
  if (twoDigitYear) {
    // Within 50 years either side of the current year.
    int now = QDate::currentDate().year();
    int century = (now - 50) / 100 * 100;
    y += century;
    if (y < now - 50) y += 100;
  }
  QDate date(y, m, d);
  if (!date.isValid()) return std::nullopt;
  return date;
}

std::optional<bool> TextToBool(const QString& text, const QLocale& locale) {
  QString t = text.trimmed();
  if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
  if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
  if (auto i = TextToInteger(t)) return *i != 0;
  if (auto f = TextToFloat(t, locale)) return *f != 0.0;
  return std::nullopt;
}

QString FloatToText(double value, const QLocale& locale) {
  // Shortest text that reads back the same (up to 15 significant digits),
  // without group separators.
  QString s = QString::number(value, 'g', 15);
  if (s.contains('e')) {
    s = s.toUpper();
  }
  s.replace('.', locale.decimalPoint());
  return s;
}

QString DateToText(const QDate& date, const QLocale& locale) {
  return locale.toString(date, locale.dateFormat(QLocale::ShortFormat));
}

QString DateTimeToText(const QDateTime& value, const QLocale& locale) {
  if (value.time() == QTime(0, 0)) return DateToText(value.date(), locale);
  return DateToText(value.date(), locale) + ' ' + locale.toString(value.time(), locale.timeFormat(QLocale::ShortFormat));
}

}  // namespace tessaly
