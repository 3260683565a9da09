#pragma once

#include <QDate>
#include <QString>
#include <QStringView>

namespace store {

// The form dates are stored in: 25/12/2005.
inline const QString kDateFormat = QStringLiteral("dd/MM/yyyy");

// The earliest date a date field takes: a year before it is a typing slip on a pet's card (and
// 30/12/1899 is the empty date of the older database).
inline constexpr int kFirstDateYear = 1900;

// Reads a date as receptionists type it and as older files store it: day, month and year
// separated by '/', '-' or '.' (d/m/yyyy, dd-mm-yyyy, dd.mm.yyyy, one or two digits for day and
// month), the digits alone (ddmmyyyy, ddmmyy), or year first (yyyy-mm-dd). A two-digit year is
// the latest year ending in those digits that does not put the date after `today`. Anything else
// (31/02/2020, 1/13/2020, letters, a year before kFirstDateYear) is no date: invalid.
QDate parseDate(QStringView text, const QDate& today);

// The stored form of a date.
inline QString dateText(const QDate& date) {
    return date.toString(kDateFormat);
}

} // namespace store
