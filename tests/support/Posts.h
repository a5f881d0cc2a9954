#pragma once
// Posts for decode and download tests: files, the real encoder's output, yEnc parts as
// posters write them, and the core objects that hold items and the batch.
#include "TestSupport.h"
#include "Synth.h"
#include "core/AppCore.h"
#include "download/BatchQueue.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"
#include <QDirIterator>
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

// The objects an item lives in, without a connection.
struct StoreRig {
    QTemporaryDir dir;
    QuietPrompter prompter{true};
    AppCore core{AppPaths(dir.path()), prompter};
    NewsgroupTable groups{core.log, prompter, core.ui};
    HeaderStore store;
    BatchQueue batch{store, &groups, &core.log};
    QStringList logged;
    StoreRig()
    {
        QObject::connect(&core.log, &OpsLog::statusChanged, [this](const QString &m) { logged << m; });
    }
    int count(const QString &line) const { return int(logged.filter(line).size()); }
};

} // namespace vt::test
