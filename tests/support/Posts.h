#pragma once
// Posts for decode and download tests: files, the real encoder's output, yEnc parts as
// posters write them, and the core objects that hold items and the batch.
#include "TestSupport.h"
#include "Synth.h"
#include "EngineRig.h"
#include "download/BatchQueue.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"
#include "nzb/NzbFile.h"
#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>

namespace vt::test {

inline QByteArray readFile(const QString &p)
{
    QFile f(p);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeFile(const QString &p, const QByteArray &d)
{
    QFile f(p);
    return f.open(QIODevice::WriteOnly) && f.write(d) == d.size();
}

// A tool (7zz, par2, ...) run in a folder to its end; true when it said it succeeded.
inline bool runTool(const QString &dir, const QString &program, const QStringList &args)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(program, args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

inline QByteArray randomBytes(int n, quint32 seed)
{
    QRandomGenerator g(seed);
    QByteArray b(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i) b[i] = char(g.bounded(256));
    return b;
}

inline QByteArray crlf(QByteArray s)
{
    s.replace("\r\n", "\n");
    return s.replace("\n", "\r\n");
}

inline QStringList filesIn(const QString &dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) out << it.next();
    out.sort();
    return out;
}

// Runs the real encoder on `data` saved as `name`; returns its parts in order.
inline QList<QByteArray> uuenview(const QString &mode, const QString &name, const QByteArray &data, int lines = 200)
{
    QTemporaryDir d;
    writeFile(d.path() + '/' + name, data);
    QDir().mkpath(d.path() + "/out");
    QProcess p;
    p.setWorkingDirectory(d.path());
    p.start("uuenview", {mode, "-od", d.path() + "/out", '-' + QString::number(lines), name});
    p.waitForFinished(20000);
    QList<QByteArray> parts;
    for (const QString &f : filesIn(d.path() + "/out")) parts << crlf(readFile(f));
    return parts;
}

// A yEnc part as posters write it.
inline QByteArray yencPart(const QByteArray &file, qint64 begin, qint64 end, int part, int total, const QByteArray &name,
                    bool withCrc = true)
{
    const QByteArray slice = file.mid(begin - 1, end - begin + 1);
    QByteArray s = "=ybegin part=" + QByteArray::number(part) + " total=" + QByteArray::number(total)
                   + " line=128 size=" + QByteArray::number(file.size()) + " name=" + name + "\r\n";
    s += "=ypart begin=" + QByteArray::number(begin) + " end=" + QByteArray::number(end) + "\r\n";
    s += QByteArray::fromStdString(synth::yencEncode(slice.constData(), size_t(slice.size())));
    s += "=yend size=" + QByteArray::number(slice.size()) + " part=" + QByteArray::number(part);
    if (withCrc) {
        s += " pcrc32=" + QByteArray::number(synth::crc32(slice.constData(), size_t(slice.size())), 16).rightJustified(8, '0');
        if (part == total)
            s += " crc32=" + QByteArray::number(synth::crc32(file.constData(), size_t(file.size())), 16).rightJustified(8, '0');
    }
    return s + "\r\n";
}

// Lines as the server sends them: CR LF, a dot that starts a line doubled, then the lone
// dot that ends the reply.
inline QByteArray onTheWire(const QByteArray &text)
{
    QByteArray w;
    w.reserve(text.size() + text.size() / 50 + 16);
    for (qsizetype at = 0; at < text.size();) {
        qsizetype nl = text.indexOf('\n', at);
        if (nl < 0) nl = text.size();
        const qsizetype end = nl > at && text[nl - 1] == '\r' ? nl - 1 : nl;
        if (end > at || nl < text.size()) {
            if (text[at] == '.') w += '.';
            w.append(text.constData() + at, end - at);
            w += "\r\n";
        }
        at = nl + 1;
    }
    return w + ".\r\n";
}

// An NZB listing `files` files "file<f>.bin" of `segments` segments each, with the ids
// "<tag><f><k>@x", in alt.binaries.x: for tests that import without downloading.
inline NzbDocument listedFiles(int files, int segments, const QByteArray &tag)
{
    NzbDocument doc;
    for (int f = 1; f <= files; ++f) {
        NzbFileEntry e;
        e.poster = "P";
        e.subject = "\"file" + QByteArray::number(f) + ".bin\" yEnc (1/" + QByteArray::number(segments) + ")";
        e.groups << "alt.binaries.x";
        for (int k = 1; k <= segments; ++k) e.segments.push_back({1000, k, tag + QByteArray::number(f) + QByteArray::number(k) + "@x"});
        doc.files.push_back(e);
    }
    return doc;
}

// A file posted as yEnc articles <number>.art in dir (as --article-dir serves them), one
// article per partBytes; returns the NZB entry that lists them. Message-ids are made of the
// name (percent-encoded where it is not ASCII).
inline NzbFileEntry writeYencPost(const QString &dir, const QByteArray &name, const QByteArray &data, int partBytes,
                                  int firstNumber, const QString &group)
{
    QByteArray idStem;
    for (char c : name) idStem += uchar(c) < 0x80 ? QByteArray(1, c) : '%' + QByteArray::number(uchar(c), 16);
    NzbFileEntry f;
    const int total = int((data.size() + partBytes - 1) / partBytes);
    f.poster = "poster@example.com (Poster)";
    f.date = 1700000000;
    f.subject = "[1/1] - \"" + name + "\" yEnc (1/" + QByteArray::number(total) + ")";
    f.groups << group;
    for (int k = 1; k <= total; ++k) {
        const qint64 begin = qint64(k - 1) * partBytes + 1, end = std::min<qint64>(qint64(k) * partBytes, data.size());
        NzbSegment s;
        s.number = k;
        s.messageId = idStem + ".part" + QByteArray::number(k) + "@post.test";
        const QByteArray subject = "[1/1] - \"" + name + "\" yEnc (" + QByteArray::number(k) + "/" + QByteArray::number(total) + ")";
        const QByteArray article = "From: " + f.poster + "\r\nNewsgroups: " + group.toLatin1() + "\r\nSubject: " + subject
                                   + "\r\nMessage-ID: <" + s.messageId + ">\r\nDate: Tue, 14 Nov 2023 22:13:20 +0000\r\n\r\n"
                                   + yencPart(data, begin, end, k, total, name);
        s.bytes = article.size();
        writeFile(dir + '/' + QString::number(firstNumber + k - 1) + ".art", article);
        f.segments.push_back(s);
    }
    return f;
}

// The same for the real uuencoder's parts, `lines` lines each.
inline NzbFileEntry writeUuPost(const QString &dir, const QByteArray &name, const QByteArray &data, int lines, int firstNumber,
                                const QString &group)
{
    const QList<QByteArray> parts = uuenview("-u", QString::fromLatin1(name), data, lines);
    NzbFileEntry f;
    f.poster = "poster@example.com (Poster)";
    f.date = 1700000000;
    f.groups << group;
    const QByteArray total = QByteArray::number(parts.size());
    f.subject = name + " (1/" + total + ")";
    for (int k = 1; k <= int(parts.size()); ++k) {
        NzbSegment s;
        s.number = k;
        s.messageId = name + ".uu" + QByteArray::number(k) + "@post.test";
        const QByteArray article = "From: " + f.poster + "\r\nNewsgroups: " + group.toLatin1() + "\r\nSubject: " + name + " ("
                                   + QByteArray::number(k) + "/" + total + ")\r\nMessage-ID: <" + s.messageId + ">\r\n\r\n"
                                   + parts[k - 1];
        s.bytes = article.size();
        writeFile(dir + '/' + QString::number(firstNumber + k - 1) + ".art", article);
        f.segments.push_back(s);
    }
    return f;
}

// The objects an item lives in, without a connection.
struct StoreRig : EngineRig {
    QStringList logged;
    StoreRig() : EngineRig(true)
    {
        QObject::connect(&core.log, &OpsLog::statusChanged, [this](const QString &m) { logged << m; });
    }
    int count(const QString &line) const { return int(logged.filter(line).size()); }
};

} // namespace vt::test
