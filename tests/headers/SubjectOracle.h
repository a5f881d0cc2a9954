// The subject rule read literally, step by step: the oracle the fast parser is checked against.
#pragma once
#include "core/Text.h"
#include "headers/SubjectParser.h"
namespace vt::oracle {
namespace {

// Reduces the total text: keep what follows the last blank-separated word, the opening
// bracket and the last "/", then drop the closing bracket.
inline QByteArray reduceTotal(QByteArray t, char open, char close)
{
    qsizetype b;
    while ((b = t.indexOf(' ')) >= 0) t = t.mid(b + 1);
    while ((b = t.indexOf(open)) >= 0) t = t.mid(b + 1);
    const qsizetype slash = t.lastIndexOf('/');
    if (slash < 0) return {};
    t = t.mid(slash + 1);
    if (t.contains(close)) t.chop(1);
    else t.clear();
    return t;
}

inline void dropUntilEndsWith(QByteArray &w, char c)
{
    while (!w.isEmpty() && !w.endsWith(c)) w.chop(1);
}

inline void finishName(QByteArray &w)
{
    if (w == " ") w = "(no subject?)";
    else if (!w.isEmpty()) w.remove(0, 1);
}

} // namespace

inline ParsedSubject parseSubjectLiteral(const QByteArray &subject, const std::function<void(const QString &)> &onError = {})
{
    const QByteArray S = trimBlanks(subject);
    QByteArray W = S + ' ';
    ParsedSubject out;

    if (W.contains("(1/1)")) {
        RemoveAllOccurrences(W, "(1/1)");
        out.name = W;
        out.total = "1";
        return out;
    }
    if (W.size() <= 4) {
        out.name = W;
        return out;
    }

    bool found = false;
    for (char d = '0'; d <= '9' && !found; ++d) {
        const char pat[3] = {d, ')', 0};
        const qsizetype p = W.indexOf(pat);   // 0-based: the Part's position is p + 1
        if (p < 0) continue;
        bool window = false;
        if (p + 1 <= 5) {
            if (onError) onError(QStringLiteral("Invalid procedure call or argument"));
        } else {
            window = W.mid(p - 5, 5).contains('/');
        }
        const qsizetype q2 = W.indexOf(pat, p + 1);
        if (q2 >= 0) {
            const qsizetype q3 = W.indexOf(pat, q2 + 1);
            const qsizetype q = q3 >= 0 ? q3 : q2;
            W.truncate(q + 2);
            found = true;
        } else if (window) {
            W.truncate(p + 2);
            found = true;
        }
    }
    if (!found) {
        for (char d = '0'; d <= '9' && !found; ++d) {
            const char pat[3] = {d, ']', 0};
            const qsizetype p = W.indexOf(pat);
            if (p < 0) continue;
            const qsizetype q2 = W.indexOf(pat, p + 1);
            if (q2 >= 0) {
                const qsizetype q3 = W.indexOf(pat, q2 + 1);
                W.truncate((q3 >= 0 ? q3 : q2) + 2);
            } else if (W.contains('/')) {
                W.truncate(p + 2);
            }
            found = true;
        }
    }
    if (!found) {
        out.name = W;
        return out;
    }

    QByteArray T = W;
    if (W.endsWith(')')) {
        T = trimBlanks(reduceTotal(T, '(', ')'));
        if (!T.isEmpty()) {
            dropUntilEndsWith(W, ')');
            W.prepend(' ');
            if (W.contains('(')) {
                dropUntilEndsWith(W, '(');
                W.chop(1);
            } else {
                dropUntilEndsWith(W, ' ');
            }
            finishName(W);
        }
    } else if (W.endsWith(']')) {
        T = reduceTotal(T, '[', ']');
        dropUntilEndsWith(W, ']');
        W.prepend(' ');
        dropUntilEndsWith(W, ' ');
        finishName(W);
    }
    if (T.size() >= 10) T.clear();
    else T = trimBlanks(T);

    if (T.isEmpty()) out.name = trimBlanks(W);
    else out.name = trimBlanks(W) + totalMarker(leadingInt(T));
    out.total = T;
    return out;
}

} // namespace vt::oracle
