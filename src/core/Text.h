#pragma once
// Small text helpers shared by every subsystem: the program's own number formats,
// blank-only trimming, and numeric parsing of leading digits.
#include <QString>
#include <QByteArray>
#include <cstring>

namespace vt {

// Trim blanks (spaces) only; other control characters are data.
QString trimBlanks(const QString &s);
QByteArray trimBlanks(const QByteArray &s);

// Decimal text of a number with one leading blank when not negative (" 5", "-5").
QString num(qint64 v);

// Picture formats: decimals after the point, and thousands grouping.
// fmt(1234.5, 1, true) -> "1,234.5"; fmt(0.25, 2, false) -> "0.25".
QString fmt(double v, int decimals, bool grouping);

// Leading decimal number of a text after trimming blanks ("12abc" -> 12, "x" -> 0,
// "-3" -> -3). Saturates at the 64-bit range.
qint64 leadingInt(const QString &s);
// A TCP port as typed: digits only (blanks around them allowed), 1 to 65535.
bool portNumber(const QString &text, quint16 *port);
qint64 leadingInt(const QByteArray &s);

// A path with exactly one trailing "/".
QString withSlash(const QString &path);
// What a failed open or write of a file says, errno taken right after it: a full disk is
// named with the folder it holds, anything else in the system's words (never "Unknown error").
QString fileErrorText(const QString &path, const QString &qtText, int savedErrno);

// Copies n bytes in words, inline: for the dozen-byte texts copied per header or per part,
// a library call costs more than the copy.
inline void copySmall(char *to, const char *from, size_t n)
{
    if (n >= 8) {
        size_t i = 0;
        for (; i + 8 <= n; i += 8) memcpy(to + i, from + i, 8);
        memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
        memcpy(to, from, 4);
        memcpy(to + n - 4, from + n - 4, 4);
    } else {
        for (size_t i = 0; i < n; ++i) to[i] = from[i];
    }
}

} // namespace vt
