// Archives from outside: one file (or, split at its first byte's value, two volumes)
// looked for and unpacked into a fresh folder. Whatever it holds, nothing lands outside
// that folder and nothing past the room given is written.
#include "FuzzSupport.h"
#include "decode/Unpack.h"
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

using namespace vt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir root;
    const QByteArray in(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString dir = root.path() + QStringLiteral("/in"), out = root.path() + QStringLiteral("/out");
    QDir(dir).removeRecursively();
    QDir(out).removeRecursively();
    QDir().mkpath(dir);
    const qsizetype cut = in.isEmpty() ? 0 : std::min<qsizetype>(in.size(), 8 + uchar(in[0]) * 16);
    QStringList files{dir + QStringLiteral("/a.part1.rar"), dir + QStringLiteral("/b")};
    {
        QFile f(files[0]);
        f.open(QIODevice::WriteOnly);
        f.write(in.left(cut));
        QFile g(files[1]);
        g.open(QIODevice::WriteOnly);
        g.write(in.mid(cut));
    }
    UnpackOptions o;
    o.freeBytes = 1 << 20;
    o.toolQuietMs = 2000;   // a tool a hostile archive makes spin is ended well inside the time limit
    for (const ArchiveSet &set : findArchives(files)) {
        FUZZ_CHECK(!set.volumes.isEmpty());
        const UnpackOutcome r = unpackArchive(set, out, o);
        qint64 written = 0;
        for (const QString &f : r.written) {
            FUZZ_CHECK(f.startsWith(out + u'/'));
            written += QFileInfo(f).size();
        }
        FUZZ_CHECK(written <= o.freeBytes);
    }
    // Nothing outside the two folders.
    QDirIterator it(root.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    while (it.hasNext()) {
        const QString name = QFileInfo(it.next()).fileName();
        FUZZ_CHECK(name == QLatin1String("in") || name == QLatin1String("out"));
    }
    (void)safeArchivePath(in);
    return 0;
}
