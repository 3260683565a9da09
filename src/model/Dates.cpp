#include "Dates.h"

#include <array>
#include <optional>

namespace store {

namespace {

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The number written by these ASCII digits; empty when a character is no digit.
std::optional<int> number(QStringView digits) {
    if (digits.isEmpty())
        return std::nullopt;
    int n = 0;
    for (const QChar c : digits) {
        if (!isAsciiDigit(c))
            return std::nullopt;
        n = n * 10 + (c.unicode() - u'0');
    }
    return n;
}

QDate checked(int year, int month, int day) {
    const QDate date(year, month, day); // invalid for 31/02, month 13, day 0
    return date.isValid() && year >= kFirstDateYear ? date : QDate();
}

// Day, month and a year of two or four digits, as typed.
QDate fromParts(QStringView day, QStringView month, QStringView year, const QDate& today) {
    const auto d = number(day);
    const auto m = number(month);
    const auto y = number(year);
    if (!d || !m || !y || day.size() > 2 || month.size() > 2)
        return {};
    if (year.size() == 4)
        return checked(*y, *m, *d);
    if (year.size() != 2 || !today.isValid())
        return {};
    // The century that keeps the date from lying in the future.
    const int century = today.year() / 100 * 100;
    const QDate sameCentury = checked(century + *y, *m, *d);
    if (sameCentury.isValid() && sameCentury <= today)
        return sameCentury;
    return checked(century - 100 + *y, *m, *d);
}

} // namespace

QDate parseDate(QStringView text, const QDate& today) {
    const QStringView t = text.trimmed();
    qsizetype separatorAt = 0;
    while (separatorAt < t.size() && isAsciiDigit(t[separatorAt]))
        ++separatorAt;
    if (separatorAt == t.size()) {
        // Digits alone: ddmmyyyy or ddmmyy.
        if (t.size() != 8 && t.size() != 6)
            return {};
        return fromParts(t.mid(0, 2), t.mid(2, 2), t.mid(4), today);
    }
    const QChar separator = t[separatorAt];
    if (separator != u'/' && separator != u'-' && separator != u'.')
        return {};
    const auto parts = t.split(separator);
    if (parts.size() != 3)
        return {};
    if (parts[0].size() == 4) { // yyyy-mm-dd
        const auto y = number(parts[0]);
        const auto m = number(parts[1]);
        const auto d = number(parts[2]);
        if (!y || !m || !d || parts[1].size() > 2 || parts[2].size() > 2)
            return {};
        return checked(*y, *m, *d);
    }
    return fromParts(parts[0], parts[1], parts[2], today);
}

} // namespace store
