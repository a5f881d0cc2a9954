#pragma once
// Turns an article's Date field into a date value, peeling off weekday names, time zones
// and comments until the date recogniser accepts what is left. Independent of the locale.
#include <QByteArray>
#include <QDateTime>
#include <optional>

namespace vt {

// Date values are seconds since 1970-01-01 00:00 in the poster's wall-clock time (no zone).
using DateValue = qint64;

// Accepts day, English month name (three letters or full) and year, in either order
// with the month, or numeric year-month-day and month/day/year, optionally followed by a
// time of day; or a time of day alone (on day zero, 1899-12-30). Nothing else may follow.
std::optional<DateValue> recogniseDate(const QByteArray &text);

DateValue ParseArticleDate(const QByteArray &text);

DateValue dateValueNow();
QDateTime toDateTime(DateValue v);
DateValue fromDateTime(const QDateTime &dt);

} // namespace vt
