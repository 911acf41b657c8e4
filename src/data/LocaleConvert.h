// Text <-> value conversions with the user's regional settings (decimal
// separator, short date format), as the document data and the tables use
// them. All functions take the locale explicitly; callers pass
// QLocale::system() unless a test sets another one.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <optional>

namespace tessaly {

// A decimal number written with the locale's decimal separator (no group
// separators), optional sign and exponent; surrounding blanks ignored.
std::optional<double> TextToFloat(const QString& text, const QLocale& locale);
// A whole number in decimal, or hexadecimal with "$" or "0x"; 32-bit range.
std::optional<qint32> TextToInteger(const QString& text);
// A date in the order of the locale's short date format (day, month, year
// in that format's order), any non-digit separators; a two-digit year is
// placed within 50 years of today; the year may be left out (this year).
std::optional<QDate> TextToDate(const QString& text, const QLocale& locale);
// "true"/"false" in any letter case, or a number: 0 false, any other true.
std::optional<bool> TextToBool(const QString& text, const QLocale& locale);

QString FloatToText(double value, const QLocale& locale);
QString DateToText(const QDate& date, const QLocale& locale);
QString DateTimeToText(const QDateTime& value, const QLocale& locale);

}  // namespace tessaly
