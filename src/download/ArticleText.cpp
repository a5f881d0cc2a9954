#include "ArticleText.h"
#include <cstring>

namespace vt {

namespace {

// memmem: Qt's search of a short needle walks an article of this size byte by byte.
qsizetype find(const QByteArray &s, const char *needle, size_t len, qsizetype from = 0)
{
    if (len == 0) return from;
    if (from >= s.size()) return -1;
    const void *p = memmem(s.constData() + from, size_t(s.size() - from), needle, len);
    return p ? static_cast<const char *>(p) - s.constData() : -1;
}

void dropFirstLineIf(QByteArray &s, const char *status)
{
    if (!s.startsWith(status)) return;
    const qsizetype nl = s.indexOf("\r\n");
    if (nl >= 0) s.remove(0, nl + 2);
}

// Replaces the first n-1 of n occurrences of `from` in [a, b) by `to`.
bool tameAll(QByteArray &s, qsizetype a, qsizetype b, char from, char to)
{
    qsizetype n = 0;
    for (qsizetype i = a; i < b; ++i) n += s[i] == from;
    if (n <= 1) return false;
    for (qsizetype i = a; i < b && n > 1; ++i)
        if (s[i] == from) {
            s[i] = to;
            --n;
        }
    return true;
}

} // namespace

QByteArray StripArticle(QByteArray s)
{
    const qsizetype end = find(s, "\r\n.\r\n", 5);
    if (end >= 0) s.truncate(end + 2);
    dropFirstLineIf(s, "220 ");
    dropFirstLineIf(s, "222 ");
    // Every CR LF ".." becomes CR LF ".", in one compacting pass.
    qsizetype w = find(s, "\r\n..", 4);
    if (w < 0) return s;
    char *d = s.data();
    const qsizetype n = s.size();
    qsizetype r = w;
    while (r < n) {
        // d[r..] starts with "\r\n..": copy "\r\n." and skip the stuffed dot.
        d[w++] = '\r';
        d[w++] = '\n';
        d[w++] = '.';
        r += 4;
        const char *next = static_cast<const char *>(memmem(d + r, size_t(n - r), "\r\n..", 4));
        const qsizetype stop = next ? next - d : n;
        memmove(d + w, d + r, size_t(stop - r));
        w += stop - r;
        r = stop;
    }
    s.truncate(w);
    return s;
}

bool IsCorruptArticle(const QByteArray &s, const QByteArray &messageId)
{
    return find(s, "\r\n220 0", 7) >= 0 || find(s, messageId.constData(), size_t(messageId.size())) < 0;
}

QByteArray TameSubjectParens(QByteArray s)
{
    const qsizetype a = s.indexOf("Subject:");
    if (a < 0) return s;
    qsizetype b = s.indexOf("\r\n", a);
    if (b < 0) b = s.size();
    if (tameAll(s, a, b, '(', '[')) tameAll(s, a, b, ')', ']');
    return s;
}

} // namespace vt
