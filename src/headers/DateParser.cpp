#include "DateParser.h"
#include "core/Text.h"
#include <QDate>
#include <cctype>
#include <cstring>
#include <vector>

namespace vt {

namespace {

const char *kMonths[] = {"JANUARY", "FEBRUARY", "MARCH", "APRIL", "MAY", "JUNE", "JULY",
                         "AUGUST", "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};

struct Tok {
    enum Kind { Num, Word, Sep } kind;
    QByteArray text;
    int value = 0;
};

int monthOf(const QByteArray &w)
{
    const QByteArray u = w.toUpper();
    if (u.size() < 3) return 0;
    for (int m = 0; m < 12; ++m) {
        const char *full = kMonths[m];
        if (u == full) return m + 1;
        if (u.size() == 3 && strncmp(full, u.constData(), 3) == 0) return m + 1;
        if (u == "SEPT" && m == 8) return 9;
    }
    return 0;
}

constexpr qint64 kEpochJd = 2440588;   // 1970-01-01

std::optional<DateValue> make(int y, int mo, int d, int secs)
{
    if (y < 100) y += y < 30 ? 2000 : 1900;
    const QDate date(y, mo, d);
    if (!date.isValid()) return std::nullopt;
    return (date.toJulianDay() - kEpochJd) * 86400 + secs;
}

// Parses "hh:mm[:ss] [AM|PM]" from tokens[i...]; returns seconds or -1.
int parseTime(const std::vector<Tok> &t, size_t i, size_t &end)
{
    if (i >= t.size() || t[i].kind != Tok::Num) return -1;
    int h = t[i].value, m = 0, s = 0;
    size_t k = i + 1;
    if (k + 1 < t.size() && t[k].text == ":" && t[k + 1].kind == Tok::Num) {
        m = t[k + 1].value;
        k += 2;
        if (k + 1 < t.size() && t[k].text == ":" && t[k + 1].kind == Tok::Num) {
            s = t[k + 1].value;
            k += 2;
        }
    } else {
        return -1;
    }
    if (k < t.size() && t[k].kind == Tok::Word) {
        const QByteArray u = t[k].text.toUpper();
        if (u == "AM" || u == "PM") {
            if (h > 12) return -1;
            if (u == "PM" && h < 12) h += 12;
            if (u == "AM" && h == 12) h = 0;
            ++k;
        }
    }
    if (h > 23 || m > 59 || s > 59) return -1;
    end = k;
    return h * 3600 + m * 60 + s;
}

} // namespace

std::optional<DateValue> recogniseDate(const QByteArray &text)
{
    std::vector<Tok> t;
    const QByteArray s = trimBlanks(text);
    for (qsizetype i = 0; i < s.size();) {
        const unsigned char c = (unsigned char)s[i];
        if (c == ' ') { ++i; continue; }
        if (isdigit(c)) {
            qsizetype j = i;
            int v = 0;
            while (j < s.size() && isdigit((unsigned char)s[j])) {
                if (j - i < 6) v = v * 10 + (s[j] - '0');
                ++j;
            }
            if (j - i > 4) return std::nullopt;
            t.push_back({Tok::Num, s.mid(i, j - i), v});
            i = j;
        } else if (isalpha(c)) {
            qsizetype j = i;
            while (j < s.size() && isalpha((unsigned char)s[j])) ++j;
            t.push_back({Tok::Word, s.mid(i, j - i)});
            i = j;
        } else if (c == ':' || c == '/' || c == '-' || c == ',' || c == '.') {
            t.push_back({Tok::Sep, s.mid(i, 1)});
            ++i;
        } else {
            return std::nullopt;
        }
    }
    // A leading weekday name with its comma says nothing the date does not.
    static const char *days[] = {"SUNDAY", "MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY"};
    if (t.size() > 2 && t[0].kind == Tok::Word && t[1].text == ",") {
        const QByteArray u = t[0].text.toUpper();
        for (const char *d : days)
            if (u == d || (u.size() == 3 && strncmp(d, u.constData(), 3) == 0)) {
                t.erase(t.begin(), t.begin() + 2);
                break;
            }
    }
    if (t.empty()) return std::nullopt;

    int y = 0, mo = 0, d = 0;
    size_t i = 0;
    auto isNum = [&](size_t k) { return k < t.size() && t[k].kind == Tok::Num; };
    auto sepIs = [&](size_t k, const char *x) { return k < t.size() && t[k].kind == Tok::Sep && t[k].text == x; };
    auto skipSep = [&](size_t &k) {
        if (k < t.size() && t[k].kind == Tok::Sep && (t[k].text == "-" || t[k].text == "," || t[k].text == "."))
            ++k;
    };

    // Time of day alone.
    size_t tend = 0;
    if (isNum(0) && sepIs(1, ":")) {
        const int secs = parseTime(t, 0, tend);
        if (secs < 0 || tend != t.size()) return std::nullopt;
        return make(1899, 12, 30, secs);
    }
    if (isNum(0) && t.size() > 2 && t[1].kind == Tok::Word && monthOf(t[1].text)) {
        // 12 Mar 2002, 12-Mar-2002
        d = t[0].value;
        mo = monthOf(t[1].text);
        i = 2;
        skipSep(i);
        if (!isNum(i)) return std::nullopt;
        y = t[i].value;
        if (t[i].text.size() == 3) return std::nullopt;
        ++i;
    } else if (isNum(0) && sepIs(1, "-") && t[0].text.size() == 4) {
        // 2002-03-12
        if (!isNum(2) || !sepIs(3, "-") || !isNum(4)) return std::nullopt;
        y = t[0].value;
        mo = t[2].value;
        d = t[4].value;
        i = 5;
    } else if (isNum(0) && sepIs(1, "/")) {
        // 03/12/2002
        if (!isNum(2) || !sepIs(3, "/") || !isNum(4)) return std::nullopt;
        mo = t[0].value;
        d = t[2].value;
        y = t[4].value;
        i = 5;
    } else if (t[0].kind == Tok::Word && monthOf(t[0].text) && isNum(1)) {
        // Mar 12 2002, March 12, 2002
        mo = monthOf(t[0].text);
        d = t[1].value;
        i = 2;
        skipSep(i);
        if (!isNum(i)) return std::nullopt;
        y = t[i].value;
        ++i;
    } else {
        return std::nullopt;
    }
    int secs = 0;
    if (i < t.size()) {
        secs = parseTime(t, i, tend);
        if (secs < 0 || tend != t.size()) return std::nullopt;
    }
    if (mo < 1 || mo > 12 || d < 1 || d > 31) return std::nullopt;
    return make(y, mo, d, secs);
}

DateValue dateValueNow() { return fromDateTime(QDateTime::currentDateTime()); }

QDateTime toDateTime(DateValue v)
{
    return QDateTime::fromSecsSinceEpoch(v, Qt::UTC);
}

DateValue fromDateTime(const QDateTime &dt)
{
    const QDate d = dt.date();
    const QTime t = dt.time();
    return (d.toJulianDay() - kEpochJd) * 86400 + t.msecsSinceStartOfDay() / 1000;
}

// The form nearly every post has, "[Www, ]D Mmm YYYY HH:MM:SS ZONE", read in one pass. The
// general reading below turns it into the day at midnight (the zone word fails the first
// try, and the tries after drop the zone, then the time); this gives the same without a
// token list. Anything else, or a day that does not exist, goes the general way.
static std::optional<DateValue> commonForm(const QByteArray &text)
{
    const char *p = text.constData(), *e = p + text.size();
    auto upper = [](char c) { return char(c >= 'a' && c <= 'z' ? c - 32 : c); };
    if (e - p >= 5 && p[3] == ',' && p[4] == ' ') {
        static const char days[] = "SUNMONTUEWEDTHUFRISAT";
        bool day = false;
        for (int k = 0; k < 7 && !day; ++k)
            day = upper(p[0]) == days[3 * k] && upper(p[1]) == days[3 * k + 1] && upper(p[2]) == days[3 * k + 2];
        if (!day) return std::nullopt;
        p += 5;
    }
    int d = 0;
    const char *q = p;
    while (p < e && p - q < 2 && *p >= '0' && *p <= '9') d = d * 10 + (*p++ - '0');
    if (p == q || p >= e || *p++ != ' ' || e - p < 9) return std::nullopt;
    int mo = 0;
    for (int m = 0; m < 12 && !mo; ++m)
        if (upper(p[0]) == kMonths[m][0] && upper(p[1]) == kMonths[m][1] && upper(p[2]) == kMonths[m][2]) mo = m + 1;
    if (!mo || p[3] != ' ') return std::nullopt;
    p += 4;
    int y = 0;
    for (int k = 0; k < 4; ++k, ++p) {
        if (*p < '0' || *p > '9') return std::nullopt;
        y = y * 10 + (*p - '0');
    }
    if (p >= e || *p++ != ' ') return std::nullopt;
    // The time: digits and colons, starting and ending with a digit, with a colon and no
    // two together; then one zone word, the end.
    q = p;
    bool colon = false;
    while (p < e && ((*p >= '0' && *p <= '9') || *p == ':')) {
        if (*p == ':' && (p == q || p[-1] == ':')) return std::nullopt;
        colon |= *p++ == ':';
    }
    if (!colon || p[-1] == ':' || p >= e || *p++ != ' ' || p >= e) return std::nullopt;
    // A zone that the first try would read as part of the time is none: digits or a colon
    // there join the time (blanks do not part tokens), and "AM" or "PM" belong to it.
    if ((*p >= '0' && *p <= '9') || *p == ':') return std::nullopt;
    if (e - p == 2 && (upper(p[0]) == 'A' || upper(p[0]) == 'P') && upper(p[1]) == 'M') return std::nullopt;
    for (; p < e; ++p)
        if (*p == ' ' || !isgraph((unsigned char)*p)) return std::nullopt;
    if (d < 1 || d > 31) return std::nullopt;
    return make(y, mo, d, 0);
}

DateValue ParseArticleDate(const QByteArray &text)
{
    if (auto v = commonForm(text)) return *v;
    QByteArray t = text;
    if (auto v = recogniseDate(t)) return *v;
    static const char *shortDays[] = {"SUN, ", "MON, ", "TUE, ", "WED, ", "THU, ", "FRI, ", "SAT, "};
    for (const char *n : shortDays)
        if (t.left(5).toUpper() == n) t = t.mid(5);
    if (auto v = recogniseDate(t)) return *v;
    static const char *longDays[] = {"SUNDAY, ", "MONDAY, ", "TUESDAY, ", "WENESDAY, ", "THURSDAY, ", "FRIDAY, ", "SATURDAY, "};
    for (const char *n : longDays) {
        const qsizetype len = qsizetype(strlen(n));
        if (t.left(len).toUpper() == n) t = t.mid(len);
    }
    if (auto v = recogniseDate(t)) return *v;
    if (t.size() >= 4 && t[3] == ',') t = t.left(16).mid(5);
    if (auto v = recogniseDate(t)) return *v;
    auto dropLastWord = [](QByteArray &x) {
        while (!x.isEmpty() && !x.endsWith(' ')) x.chop(1);
        x = trimBlanks(x);
    };
    if (t.contains(' ')) dropLastWord(t);
    if (t.contains(':') && t.contains(' ')) dropLastWord(t);
    if (auto v = recogniseDate(t)) return *v;
    return dateValueNow();
}

} // namespace vt
