#include "SubjectParser.h"
#include "core/Text.h"
#include <QVarLengthArray>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vt {

// The marker of a total from 0 to 9,999,999 in its 13 characters.
static void fillMarker(char *buf, qint64 total)
{
    memcpy(buf, " [xx/0000000]", 13);
    for (int i = 11; total > 0; --i, total /= 10) buf[i] = char('0' + total % 10);
}

QByteArray totalMarker(qint64 total)
{
    if (total < 0 || total > 9999999) {
        char buf[32];
        snprintf(buf, sizeof buf, " [xx/%07lld]", (long long)total);
        return QByteArray(buf);
    }
    char buf[13];
    fillMarker(buf, total);
    return QByteArray(buf, 13);
}

void RemoveAllOccurrences(QByteArray &s, const QByteArray &what)
{
    if (what.isEmpty()) return;
    for (;;) {
        const qsizetype p = s.toLower().indexOf(what.toLower());
        if (p < 0) return;
        s.remove(p, what.size());
    }
}

namespace {

// Positions of the first three "d)" (or "d]") for each digit d, found in one pass.
struct DigitHits {
    qsizetype pos[10][3];
    int count[10] = {};
    DigitHits(const char *w, qsizetype n, char close)
    {
        for (qsizetype i = 1; i < n; ++i) {
            if (w[i] != close) continue;
            const char d = w[i - 1];
            if (d < '0' || d > '9') continue;
            int &c = count[d - '0'];
            if (c < 3) pos[d - '0'][c++] = i - 1;
        }
    }
};

qsizetype lastIn(const char *w, qsizetype from, qsizetype to, char c)
{
    for (qsizetype i = to - 1; i >= from; --i)
        if (w[i] == c) return i;
    return -1;
}

// The total text of a cut counter: what follows the last blank, then the last opening
// bracket, then the last "/", without the closing bracket; empty when there is no "/".
QByteArrayView totalOf(const char *w, qsizetype n, char open, char close)
{
    qsizetype from = lastIn(w, 0, n, ' ') + 1;
    from = std::max(from, lastIn(w, from, n, open) + 1);
    const qsizetype slash = lastIn(w, from, n, '/');
    if (slash < 0) return {};
    const qsizetype t0 = slash + 1;
    if (lastIn(w, t0, n, close) < 0) return {};
    return QByteArrayView(w + t0, n - t0 - 1);
}

// The name before the counter: up to the last opening bracket (when asked) or through
// the last blank; "(no subject?)" when nothing is left.
QByteArrayView nameBefore(const char *w, qsizetype n, bool toParen)
{
    if (toParen) {
        const qsizetype p = lastIn(w, 0, n, '(');
        if (p >= 0) return p == 0 ? QByteArrayView("(no subject?)") : QByteArrayView(w, p);
    }
    const qsizetype b = lastIn(w, 0, n, ' ');
    return b < 0 ? QByteArrayView("(no subject?)") : QByteArrayView(w, b + 1);
}

QByteArrayView trimmed(QByteArrayView v)
{
    while (!v.isEmpty() && v.front() == ' ') v = v.sliced(1);
    while (!v.isEmpty() && v.back() == ' ') v.chop(1);
    return v;
}

} // namespace

ParsedSubject parseSubject(const QByteArray &subject, const std::function<void(const QString &)> &onError)
{
    ParsedSubject out;
    out.fullSubject = trimBlanks(subject);
    const QByteArray &S = out.fullSubject;
    // W: the subject and a blank, on the stack for the usual lengths (every header passes).
    QVarLengthArray<char, 512> W(S.size() + 1);
    if (!S.isEmpty()) memcpy(W.data(), S.constData(), size_t(S.size()));
    W[S.size()] = ' ';
    const char *w = W.constData();
    const qsizetype wn = W.size();
    auto whole = [&] { return QByteArray(w, wn); };

    if (memmem(w, size_t(wn), "(1/1)", 5)) {
        out.name = whole();
        RemoveAllOccurrences(out.name, "(1/1)");
        out.total = "1";
        return out;
    }
    if (wn <= 4) {
        out.name = whole();
        return out;
    }

    qsizetype cut = -1;
    {
        const DigitHits hits(w, wn, ')');
        for (int d = 0; d < 10 && cut < 0; ++d) {
            if (!hits.count[d]) continue;
            const qsizetype p = hits.pos[d][0];
            bool window = false;
            if (p + 1 <= 5) {
                if (onError) onError(QStringLiteral("Invalid procedure call or argument"));
            } else {
                window = memchr(w + p - 5, '/', 5) != nullptr;
            }
            if (hits.count[d] >= 2) cut = hits.pos[d][hits.count[d] - 1] + 2;
            else if (window) cut = p + 2;
        }
    }
    bool found = cut >= 0;
    if (!found) {
        const DigitHits hits(w, wn, ']');
        for (int d = 0; d < 10 && !found; ++d) {
            if (!hits.count[d]) continue;
            if (hits.count[d] >= 2) cut = hits.pos[d][hits.count[d] - 1] + 2;
            else if (memchr(w, '/', size_t(wn))) cut = hits.pos[d][0] + 2;
            found = true;
        }
    }
    if (!found) {
        out.name = whole();
        return out;
    }
    const qsizetype n = cut >= 0 ? cut : wn;
    QByteArrayView T;
    QByteArrayView name;
    if (w[n - 1] == ')') {
        T = trimmed(totalOf(w, n, '(', ')'));
        name = T.isEmpty() ? QByteArrayView(w, n) : nameBefore(w, n, true);
    } else if (w[n - 1] == ']') {
        T = totalOf(w, n, '[', ']');
        name = nameBefore(w, n, false);
    } else {
        T = QByteArrayView(w, n);
        name = QByteArrayView(w, n);
    }
    T = T.size() >= 10 ? QByteArrayView() : trimmed(T);
    // The marker holds seven characters: a total that does not fit them (ten million parts
    // or more, or a large negative number) is no part counter.
    const qint64 v = leadingInt(QByteArray::fromRawData(T.data(), T.size()));
    if (v > 9999999 || v < -999999) {
        out.name = whole();
        return out;
    }

    name = trimmed(name);
    if (T.isEmpty()) {
        out.name = name.toByteArray();
    } else {
        out.name = QByteArray(name.size() + kMarkerLength, Qt::Uninitialized);
        memcpy(out.name.data(), name.data(), size_t(name.size()));
        if (v >= 0) fillMarker(out.name.data() + name.size(), v);
        else memcpy(out.name.data() + name.size(), totalMarker(v).constData(), kMarkerLength);
    }
    out.total = T.toByteArray();
    return out;
}

} // namespace vt
