#include "FileNames.h"
#include <QRegularExpression>
#include <cstring>
#include "UuLibrary.h"
#include <QFileInfo>
#include <QStringDecoder>

namespace vt {

QByteArray safeFileNameBytes(const QByteArray &proposed) { return shortenedName(safeNameChars(proposed)); }

QByteArray safeNameChars(const QByteArray &proposed)
{
    qsizetype from = 0;
    for (qsizetype i = 0; i < proposed.size(); ++i)
        if (proposed[i] == '/' || proposed[i] == '\\') from = i + 1;
    QByteArray out;
    out.reserve(proposed.size() - from);
    for (qsizetype i = from; i < proposed.size(); ++i) {
        const uchar c = uchar(proposed[i]);
        if (c < 0x20 || c == 0x7f) continue;
        out += char(c);
    }
    out = out.trimmed();
    if (out == "." || out == "..") return {};
    return out;
}

// A name the file system takes: at most 200 bytes (its limit is 255, and room is kept for
// ".2" and the temporary names beside it), the extension kept whole (".part01.rar",
// ".vol03+04.par2"), never cut inside a UTF-8 character.
QByteArray shortenedName(const QByteArray &name)
{
    constexpr qsizetype kMax = 200, kTail = 40;
    if (name.size() <= kMax) return name;
    qsizetype dot = -1;
    for (qsizetype i = name.size() - 1; i > 0 && name.size() - i <= kTail; --i)
        if (name[i] == '.') dot = i;
    const QByteArray tail = dot > 0 ? name.mid(dot) : QByteArray();
    qsizetype keep = kMax - tail.size();
    // Back to the start of a character.
    while (keep > 0 && (uchar(name[keep]) & 0xC0) == 0x80) --keep;
    return name.left(keep) + tail;
}

QString fileNameFromBytes(const QByteArray &b)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString s = utf8(b);
    return utf8.hasError() ? QString::fromLatin1(b) : s;
}

bool fileExists(const QString &path)
{
    const QFileInfo fi(path);
    return fi.exists() && fi.isFile();
}

QString fileExtension(const QString &fileName)
{
    // Names whose kind takes two parts: a volume of a set or archive, a packed tar.
    static const QRegularExpression compound(
        QStringLiteral("(\\.vol\\d+[+-]\\d+\\.par2|\\.part\\d+\\.rar|\\.(7z|zip|rar)\\.\\d+|\\.tar\\.(gz|bz2|xz|zst|lz|lzma))$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression single(QStringLiteral("\\.[A-Za-z0-9]{1,6}$"));
    if (const auto m = compound.match(fileName); m.hasMatch() && m.capturedStart() > 0) return m.captured(0);
    if (const auto m = single.match(fileName); m.hasMatch() && m.capturedStart() > 0) return m.captured(0);
    return {};
}

QString UniqueName(const QString &path, bool oldRenameStyle)
{
    auto exists = [](const QString &p) { return QFileInfo::exists(p); };
    auto oldStyle = [&]() -> QString {
        for (int k = 2; k <= 90000; ++k) {
            const QString c = path + u'.' + QString::number(k);
            if (!exists(c)) return c;
        }
        return {};
    };
    if (!oldRenameStyle) {
        const qsizetype slash = path.lastIndexOf(u'/');
        const QString tail = fileExtension(path.mid(slash + 1));
        const QString base = path.chopped(tail.size());
        for (int k = 2; k <= 90000; ++k) {
            const QString c = base + u'.' + QString::number(k) + tail;
            if (!exists(c)) return c;
        }
    }
    QString c = oldStyle();
    if (!c.isEmpty()) return c;
    // Every numbered name is taken: count on past them.
    for (qint64 k = 90001;; ++k) {
        c = path + u'.' + QString::number(k);
        if (!exists(c)) return c;
    }
}

QString StripUnderscores(const QString &name)
{
    if (!name.endsWith(u'_')) return name;
    QString n = name.chopped(1);
    if (n.startsWith(u'_')) n.remove(0, 1);
    return n;
}

QByteArray wholeNameFromPost(const QByteArray &postText, const QByteArray &proposed)
{
    if (proposed.isEmpty() || proposed == "(NULL)") return proposed;
    const QByteArray wanted = proposed + ' ';
    for (const QByteArray &raw : postText.split('\n')) {
        const QByteArray line = raw.trimmed();
        QByteArray name;
        if (line.startsWith("begin ")) {
            const qsizetype sp = line.indexOf(' ', 6);
            if (sp > 6) name = line.mid(sp + 1);
        } else if (line.startsWith("_=_ Part ")) {
            const qsizetype of = line.indexOf(" of file ");
            if (of > 0) name = line.mid(of + 9);
        } else {
            for (const char *key : {"filename=\"", "name=\""}) {
                const qsizetype k = line.indexOf(key);
                const qsizetype q = k < 0 ? -1 : line.indexOf('"', k + qsizetype(strlen(key)));
                if (q > 0) {
                    name = line.mid(k + qsizetype(strlen(key)), q - k - qsizetype(strlen(key)));
                    break;
                }
            }
        }
        name = name.trimmed();
        if (name.startsWith(wanted)) return name;
    }
    return proposed;
}

QByteArray libraryOutputName(const QByteArray &proposed, const QByteArray &subject)
{
    QByteArray p = proposed;
    if (p.isEmpty() || p == "(NULL)") {
        const QByteArray t = subject.trimmed();
        if (t.size() > 16 && t.right(12).left(6) == "[xx/00") p = t.left(t.size() - 12).trimmed();
        else p = t;
    }
    p = UuLibrary::fileFilter(p);
    const QString stripped = StripUnderscores(QString::fromLatin1(p));
    return UuLibrary::fileFilter(stripped.toLatin1());
}

} // namespace vt
