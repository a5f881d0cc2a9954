#include "ArticleText.h"
#include <cstring>

namespace vt {

namespace {

// The first CR LF followed by `prefix`, from `from` on. Lines are short and line ends
// common, so this walks them with memchr, which is much faster here than a substring
// search that keeps half-matching every CR LF.
qsizetype findAfterLineEnd(const QByteArray &s, const char *prefix, size_t len, qsizetype from = 0)
{
    const char *d = s.constData();
    const qsizetype n = s.size();
    qsizetype k = from + 1;
    while (k < n) {
        const void *nl = memchr(d + k, '\n', size_t(n - k));
        if (!nl) return -1;
        k = static_cast<const char *>(nl) - d;
        if (d[k - 1] == '\r' && size_t(n - k - 1) >= len && d[k + 1] == prefix[0] && memcmp(d + k + 1, prefix, len) == 0) return k - 1;
        ++k;
    }
    return -1;
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
    const qsizetype end = findAfterLineEnd(s, ".\r\n", 3);
    if (end >= 0) s.truncate(end + 2);
    dropFirstLineIf(s, "220 ");
    dropFirstLineIf(s, "222 ");
    // Every CR LF ".." becomes CR LF ".", in one compacting pass.
    qsizetype w = findAfterLineEnd(s, "..", 2);
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
        const qsizetype next = findAfterLineEnd(s, "..", 2, r);
        const qsizetype stop = next >= 0 ? next : n;
        memmove(d + w, d + r, size_t(stop - r));
        w += stop - r;
        r = stop;
    }
    s.truncate(w);
    return s;
}

bool IsCorruptArticle(const QByteArray &s, const QByteArray &messageId)
{
    if (findAfterLineEnd(s, "220 0", 5) >= 0) return true;
    // The id is nearly always in the header: look there before searching the whole body.
    const qsizetype head = s.indexOf("\r\n\r\n");
    if (head >= 0 && QByteArrayView(s.constData(), head + 2).contains(messageId)) return false;
    return !s.contains(messageId);
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
