#include "Text.h"
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <QLocale>
#include <cmath>
#include <limits>

namespace vt {

QString trimBlanks(const QString &s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && s[b] == u' ') ++b;
    while (e > b && s[e - 1] == u' ') --e;
    return s.mid(b, e - b);
}

QByteArray trimBlanks(const QByteArray &s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return s.mid(b, e - b);
}

QString num(qint64 v)
{
    return v < 0 ? QString::number(v) : QLatin1Char(' ') + QString::number(v);
}

QString fmt(double v, int decimals, bool grouping)
{
    QLocale c = QLocale::c();
    if (grouping)
        c.setNumberOptions(QLocale::DefaultNumberOptions);
    else
        c.setNumberOptions(QLocale::OmitGroupSeparator);
    double r = std::round(v * std::pow(10.0, decimals)) / std::pow(10.0, decimals);
    if (r == 0) r = 0; // no "-0.0"
    return c.toString(r, 'f', decimals);
}

static inline int code(QChar c) { return c.unicode(); }
static inline int code(char c) { return (unsigned char)c; }

template <typename Str>
static qint64 leadingIntImpl(const Str &t)
{
    qsizetype i = 0, n = t.size();
    while (i < n && code(t[i]) == ' ') ++i;
    bool neg = false;
    if (i < n && (code(t[i]) == '-' || code(t[i]) == '+')) { neg = code(t[i]) == '-'; ++i; }
    qint64 v = 0;
    bool any = false;
    for (; i < n; ++i) {
        const int c = code(t[i]);
        if (c < '0' || c > '9') break;
        any = true;
        if (v > (std::numeric_limits<qint64>::max() - 9) / 10) { v = std::numeric_limits<qint64>::max(); continue; }
        v = v * 10 + (c - '0');
    }
    if (!any) return 0;
    return neg ? -v : v;
}

qint64 leadingInt(const QString &s) { return leadingIntImpl(s); }
qint64 leadingInt(const QByteArray &s) { return leadingIntImpl(s); }

QString withSlash(const QString &path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(u'/')) p.chop(1);
    if (!p.endsWith(u'/')) p += u'/';
    return p;
}

QString fileErrorText(const QString &path, const QString &qtText, int savedErrno)
{
    const QString folder = QFileInfo(path).absolutePath();
    // Qt's text is the system's word for the call that failed; errno may be a later one's.
    const bool full = savedErrno == ENOSPC || savedErrno == EDQUOT || qtText == QString::fromLocal8Bit(strerror(ENOSPC))
                      || qtText == QString::fromLocal8Bit(strerror(EDQUOT));
    if (full) return QStringLiteral("the disk is full (no space left for ") + folder + u')';
    if (!qtText.isEmpty() && qtText != QLatin1String("Unknown error")) return qtText + QStringLiteral(" (") + path + u')';
    if (savedErrno != 0) return QString::fromLocal8Bit(strerror(savedErrno)) + QStringLiteral(" (") + path + u')';
    if (!qtText.isEmpty() && qtText != QLatin1String("Unknown error")) return qtText + QStringLiteral(" (") + path + u')';
    return QStringLiteral("cannot write ") + path;
}

bool portNumber(const QString &text, quint16 *port)
{
    const QString t = text.trimmed();
    bool ok = !t.isEmpty() && t.size() <= 5;
    for (const QChar c : t) ok = ok && c >= u'0' && c <= u'9';
    const uint v = ok ? t.toUInt() : 0;
    if (v < 1 || v > 65535) return false;
    *port = quint16(v);
    return true;
}

} // namespace vt
