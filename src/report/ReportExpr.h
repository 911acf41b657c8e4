// Expressions inside templates.
//
// A text object's content is literal text with expressions in square
// brackets: [Dataset name."Alias"] (a field of the current row of a bound
// dataset), [Page#], [TotalPages#], [Date], [Time], [Line#]. An expression
// may carry a display format after a bar: [Données du dossier."Total HT"|N2].
// Formats: N<d> number with digit grouping and d decimals, F<d> number
// without grouping, D short date, D:<pattern> date with a Qt pattern
// ("dd/MM/yyyy"), T short time. Numbers and dates follow the report's locale.
//
// Conditions (object visibility, band filters) are alternatives joined by
// "or" of terms joined by "and"; a term is "[expr]" (true when the value is
// true, a non-zero number or a non-empty text), "not [expr]", or
// "[expr] OP literal" with OP one of = <> < > <= >= and the literal a number,
// a quoted text, true or false.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>

namespace tessaly::report {

// Stands for the total page count until the pages are counted.
inline const QString kTotalPagesMark = QStringLiteral("\x01TP\x01");

struct TExprContext {
  // Current value of a field: dataset user name and alias; sets *found to
  // false when the dataset or field does not exist.
  std::function<QVariant(const QString& dataset, const QString& alias, bool* found)> Field;
  int Page = 1;
  int Line = 0;  // row number within the current data band
  QDateTime Now = QDateTime::currentDateTime();
  QLocale Locale;
  // Problems met while evaluating (unknown datasets or fields, bad syntax).
  QStringList* Warnings = nullptr;
};

// Value of one expression (the text between brackets, without them).
QVariant EvaluateExpression(const QString& expr, const TExprContext& ctx);
// Text with every bracketed expression replaced by its formatted value.
QString ExpandText(const QString& text, const TExprContext& ctx, const QString& defaultFormat = QString());
// Formats a value for display ("" for null).
QString FormatValue(const QVariant& value, const QString& format, const QLocale& locale);
bool EvaluateCondition(const QString& condition, const TExprContext& ctx);
// Truth of a value: true, a non-zero number, a non-empty text.
bool IsTruthy(const QVariant& v);

}  // namespace tessaly::report
