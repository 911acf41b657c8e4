#include "ReportExpr.h"

#include <cmath>

#include "LocaleConvert.h"

namespace tessaly::report {

namespace {

void Warn(const TExprContext& ctx, const QString& text) {
  if (ctx.Warnings && !ctx.Warnings->contains(text)) ctx.Warnings->append(text);
}

// Index of the bar that starts a format, outside quotes; -1 when none.
qsizetype FormatBar(const QString& expr) {
  bool quoted = false;
  for (qsizetype i = 0; i < expr.size(); ++i) {
    if (expr[i] == '"') quoted = !quoted;
    else if (expr[i] == '|' && !quoted) return i;
  }
  return -1;
}

// End of the bracketed expression opened at `open` (index of ']'), or -1.
qsizetype ClosingBracket(const QString& text, qsizetype open) {
  bool quoted = false;
  for (qsizetype i = open + 1; i < text.size(); ++i) {
    QChar c = text[i];
    if (c == '"') quoted = !quoted;
    else if (c == ']' && !quoted) return i;
    else if (c == '\n' && !quoted) return -1;
  }
  return -1;
}

}  // namespace

bool IsTruthy(const QVariant& v) {
  if (!v.isValid() || v.isNull()) return false;
  switch (v.typeId()) {
    case QMetaType::Bool: return v.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double: return v.toDouble() != 0;
    case QMetaType::QString: return !v.toString().isEmpty();
    case QMetaType::QByteArray: return !v.toByteArray().isEmpty();
    default: return true;
  }
}

QVariant EvaluateExpression(const QString& raw, const TExprContext& ctx) {
  QString expr = raw.trimmed();
  qsizetype bar = FormatBar(expr);
  if (bar >= 0) expr = expr.left(bar).trimmed();
  if (expr.compare(QLatin1String("Page#"), Qt::CaseInsensitive) == 0) return ctx.Page;
  if (expr.compare(QLatin1String("TotalPages#"), Qt::CaseInsensitive) == 0) return kTotalPagesMark;
  if (expr.compare(QLatin1String("Line#"), Qt::CaseInsensitive) == 0) return ctx.Line;
  if (expr.compare(QLatin1String("Date"), Qt::CaseInsensitive) == 0) return ctx.Now.date();
  if (expr.compare(QLatin1String("Time"), Qt::CaseInsensitive) == 0) return ctx.Now.time();
  // Dataset name."Alias"
  qsizetype dot = expr.indexOf(QLatin1String(".\""));
  if (dot > 0 && expr.endsWith('"') && expr.size() > dot + 2) {
    QString dataset = expr.left(dot).trimmed();
    QString alias = expr.mid(dot + 2, expr.size() - dot - 3);
    bool found = false;
    QVariant v = ctx.Field ? ctx.Field(dataset, alias, &found) : QVariant();
    if (!found) Warn(ctx, QStringLiteral("unknown field %1.\"%2\"").arg(dataset, alias));
    return v;
  }
  Warn(ctx, QStringLiteral("unknown expression [%1]").arg(raw));
  return QVariant();
}

QString FormatValue(const QVariant& v, const QString& format, const QLocale& locale) {
  if (!v.isValid() || v.isNull()) return QString();
  const QString f = format.trimmed();
  auto decimals = [&](int def) {
    bool ok = false;
    int d = f.mid(1).toInt(&ok);
    return ok && d >= 0 && d <= 10 ? d : def;
  };
  const int type = v.typeId();
  const bool numeric = type == QMetaType::Double || type == QMetaType::Int || type == QMetaType::LongLong ||
                       type == QMetaType::Float;
  if (numeric && !f.isEmpty() && (f[0] == 'N' || f[0] == 'n' || f[0] == 'F' || f[0] == 'f')) {
    QLocale loc = locale;
    if (f[0] == 'F' || f[0] == 'f') loc.setNumberOptions(QLocale::OmitGroupSeparator);
    else loc.setNumberOptions(QLocale::DefaultNumberOptions);
    return loc.toString(v.toDouble(), 'f', decimals(2));
  }
  if ((type == QMetaType::QDate || type == QMetaType::QDateTime) && !f.isEmpty() && (f[0] == 'D' || f[0] == 'd')) {
    QDate d = type == QMetaType::QDate ? v.toDate() : v.toDateTime().date();
    if (f.size() > 2 && f[1] == ':') return locale.toString(d, f.mid(2));
    return DateToText(d, locale);
  }
  switch (type) {
    case QMetaType::Double:
    case QMetaType::Float: return FloatToText(v.toDouble(), locale);
    case QMetaType::Int:
    case QMetaType::LongLong: return QString::number(v.toLongLong());
    case QMetaType::QDate: return DateToText(v.toDate(), locale);
    case QMetaType::QDateTime: return DateTimeToText(v.toDateTime(), locale);
    case QMetaType::QTime: return locale.toString(v.toTime(), QLocale::ShortFormat);
    case QMetaType::Bool: return v.toBool() ? QStringLiteral("Oui") : QStringLiteral("Non");
    case QMetaType::QByteArray: return QString();
    default: break;
  }
  QString s = v.toString();
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  s.replace('\r', '\n');
  return s;
}

QString ExpandText(const QString& text, const TExprContext& ctx, const QString& defaultFormat) {
  if (!text.contains('[')) return text;
  QString out;
  out.reserve(text.size());
  qsizetype i = 0;
  while (i < text.size()) {
    qsizetype open = text.indexOf('[', i);
    if (open < 0) {
      out += QStringView(text).mid(i);
      break;
    }
    out += QStringView(text).mid(i, open - i);
    qsizetype close = ClosingBracket(text, open);
    if (close < 0) {
      out += text.mid(open);
      break;
    }
    QString inner = text.mid(open + 1, close - open - 1);
    qsizetype bar = FormatBar(inner);
    QString format = bar >= 0 ? inner.mid(bar + 1).trimmed() : defaultFormat;
    out += FormatValue(EvaluateExpression(inner, ctx), format, ctx.Locale);
    i = close + 1;
  }
  return out;
}

namespace {

// Splits on a keyword (" and ", " or ") outside brackets and quotes.
QStringList SplitOn(const QString& s, const QString& word) {
  QStringList parts;
  int depth = 0;
  bool quoted = false;
  qsizetype start = 0;
  for (qsizetype i = 0; i < s.size(); ++i) {
    QChar c = s[i];
    if (c == '"') quoted = !quoted;
    else if (!quoted && c == '[') ++depth;
    else if (!quoted && c == ']') --depth;
    else if (!quoted && depth == 0 && c == ' ' && s.mid(i, word.size()).compare(word, Qt::CaseInsensitive) == 0) {
      parts << s.mid(start, i - start);
      i += word.size() - 1;
      start = i + 1;
    }
  }
  parts << s.mid(start);
  return parts;
}

QVariant Operand(const QString& raw, const TExprContext& ctx) {
  QString s = raw.trimmed();
  if (s.startsWith('[') && s.endsWith(']')) return EvaluateExpression(s.mid(1, s.size() - 2), ctx);
  if (s.size() >= 2 && ((s.startsWith('"') && s.endsWith('"')) || (s.startsWith('\'') && s.endsWith('\''))))
    return s.mid(1, s.size() - 2);
  if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
  if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
  bool ok = false;
  double d = s.toDouble(&ok);
  if (ok) return d;
  Warn(ctx, QStringLiteral("unknown operand \"%1\" in a condition").arg(s));
  return s;
}

int Compare(const QVariant& a, const QVariant& b) {
  auto isNum = [](const QVariant& v) {
    int t = v.typeId();
    return t == QMetaType::Double || t == QMetaType::Int || t == QMetaType::LongLong || t == QMetaType::Bool ||
           t == QMetaType::Float;
  };
  if (!a.isValid() || a.isNull() || !b.isValid() || b.isNull()) {
    bool an = !a.isValid() || a.isNull(), bn = !b.isValid() || b.isNull();
    return an == bn ? 0 : (an ? -1 : 1);
  }
  if (isNum(a) && isNum(b)) {
    double x = a.toDouble(), y = b.toDouble();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (a.typeId() == QMetaType::QDate && b.typeId() == QMetaType::QDate) {
    QDate x = a.toDate(), y = b.toDate();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  return QString::compare(a.toString(), b.toString(), Qt::CaseSensitive);
}

bool Term(const QString& raw, const TExprContext& ctx) {
  QString s = raw.trimmed();
  if (s.startsWith(QLatin1String("not "), Qt::CaseInsensitive)) return !Term(s.mid(4), ctx);
  static const char* const kOps[] = {"<>", "<=", ">=", "=", "<", ">"};
  int depth = 0;
  bool quoted = false;
  for (qsizetype i = 0; i < s.size(); ++i) {
    QChar c = s[i];
    if (c == '"') quoted = !quoted;
    else if (!quoted && c == '[') ++depth;
    else if (!quoted && c == ']') --depth;
    else if (!quoted && depth == 0) {
      for (const char* op : kOps) {
        QLatin1String o(op);
        if (s.mid(i, o.size()) == o) {
          int cmp = Compare(Operand(s.left(i), ctx), Operand(s.mid(i + o.size()), ctx));
          if (o == QLatin1String("<>")) return cmp != 0;
          if (o == QLatin1String("<=")) return cmp <= 0;
          if (o == QLatin1String(">=")) return cmp >= 0;
          if (o == QLatin1String("=")) return cmp == 0;
          if (o == QLatin1String("<")) return cmp < 0;
          return cmp > 0;
        }
      }
    }
  }
  return IsTruthy(Operand(s, ctx));
}

}  // namespace

bool EvaluateCondition(const QString& condition, const TExprContext& ctx) {
  if (condition.trimmed().isEmpty()) return true;
  for (const QString& alternative : SplitOn(condition, QStringLiteral(" or "))) {
    bool all = true;
    for (const QString& term : SplitOn(alternative, QStringLiteral(" and ")))
      if (!Term(term, ctx)) {
        all = false;
        break;
      }
    if (all) return true;
  }
  return false;
}

}  // namespace tessaly::report
