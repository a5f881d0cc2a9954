#include "Unpack.h"
#include "FileNames.h"
#include "core/Text.h"
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QRegularExpression>
#include <QStorageInfo>
#include <archive.h>
#include <archive_entry.h>
#include <algorithm>
#include <map>
#include <memory>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vt {

ArchiveKind archiveKindOf(const QByteArray &head)
{
    if (head.startsWith(QByteArray("Rar!\x1a\x07\x01\x00", 8))) return ArchiveKind::Rar5;
    if (head.startsWith(QByteArray("Rar!\x1a\x07\x00", 7))) return ArchiveKind::Rar4;
    if (head.startsWith(QByteArray("7z\xbc\xaf\x27\x1c", 6))) return ArchiveKind::SevenZip;
    if (head.startsWith(QByteArray("PK\x03\x04", 4)) || head.startsWith(QByteArray("PK\x05\x06", 4))) return ArchiveKind::Zip;
    return ArchiveKind::None;
}

namespace {

ArchiveKind kindOfFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? archiveKindOf(f.read(8)) : ArchiveKind::None;
}

// What a RAR volume's headers say: its number in the set, and the names of its first
// and last files with whether they go on from the volume before and into the next.
struct RarVolume {
    bool volume = false;
    bool numbered = true;   // RAR 4 before 3.0 gives no numbers: the names alone chain them
    quint64 number = 0;
    QByteArray firstName, lastName;
    bool firstContinued = false, lastContinues = false;
    bool last = true;   // its end header says no volume follows
    bool locked = false, namesLocked = false;   // a file's data, or every header, under a password
};

bool readVint(QFile &f, quint64 &v)
{
    v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        char c;
        if (!f.getChar(&c)) return false;
        v |= quint64(uchar(c) & 0x7f) << shift;
        if (!(uchar(c) & 0x80)) return true;
    }
    return false;
}

quint64 vintAt(const QByteArray &b, qsizetype &at)
{
    quint64 v = 0;
    for (int shift = 0; shift < 64 && at < b.size(); shift += 7) {
        const uchar c = uchar(b[at++]);
        v |= quint64(c & 0x7f) << shift;
        if (!(c & 0x80)) break;
    }
    return v;
}

RarVolume readRar5Volume(const QString &path)
{
    RarVolume r;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(8)) return r;
    for (int headers = 0; headers < 100000 && !f.atEnd(); ++headers) {
        if (!f.seek(f.pos() + 4)) break;   // header CRC
        quint64 size = 0;
        if (!readVint(f, size) || size == 0 || size > (1 << 21)) break;
        const QByteArray h = f.read(qint64(size));
        if (h.size() != qsizetype(size)) break;
        qsizetype at = 0;
        const quint64 type = vintAt(h, at), flags = vintAt(h, at);
        const quint64 extra = (flags & 0x0001) ? vintAt(h, at) : 0;
        const quint64 data = (flags & 0x0002) ? vintAt(h, at) : 0;
        if (type == 4) {
            // Every header after this one is locked.
            r.locked = r.namesLocked = true;
            break;
        }
        if (type == 2 && extra > 0 && extra <= quint64(h.size())) {
            // The file's extra records: one of type 1 locks its data.
            for (qsizetype x = h.size() - qsizetype(extra); x < h.size();) {
                const quint64 size = vintAt(h, x);
                qsizetype y = x;
                if (vintAt(h, y) == 1) r.locked = true;
                if (size == 0) break;
                x += qsizetype(std::min<quint64>(size, quint64(h.size())));
            }
        }
        if (type == 1) {
            const quint64 archive = vintAt(h, at);
            r.volume = archive & 0x0001;
            if (archive & 0x0002) r.number = vintAt(h, at);
        } else if (type == 2) {
            const quint64 fileFlags = vintAt(h, at);
            vintAt(h, at);   // unpacked size
            vintAt(h, at);   // attributes
            if (fileFlags & 0x0002) at += 4;
            if (fileFlags & 0x0004) at += 4;
            vintAt(h, at);   // compression
            vintAt(h, at);   // host
            const quint64 len = vintAt(h, at);
            const QByteArray name = h.mid(at, qsizetype(std::min<quint64>(len, quint64(h.size()))));
            if (r.firstName.isEmpty()) {
                r.firstName = name;
                r.firstContinued = flags & 0x0008;
            }
            r.lastName = name;
            r.lastContinues = flags & 0x0010;
        } else if (type == 5) {
            r.last = !(vintAt(h, at) & 0x0001);
            break;
        }
        if (data > quint64(f.size() - f.pos()) || !f.seek(f.pos() + qint64(data))) break;   // past the end: cut or hostile
    }
    return r;
}

quint32 le(const QByteArray &b, qsizetype at, int bytes)
{
    quint32 v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | (at + i < b.size() ? uchar(b[at + i]) : 0);
    return v;
}

RarVolume readRar4Volume(const QString &path)
{
    RarVolume r;
    r.numbered = false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(7)) return r;
    for (int headers = 0; headers < 100000 && !f.atEnd(); ++headers) {
        const QByteArray h7 = f.read(7);
        if (h7.size() < 7) break;
        const int type = uchar(h7[2]);
        const quint32 flags = le(h7, 3, 2), size = le(h7, 5, 2);
        if (size < 7) break;
        const QByteArray rest = f.read(size - 7);
        if (rest.size() != qsizetype(size - 7)) break;
        quint64 data = (flags & 0x8000) && rest.size() >= 4 ? le(rest, 0, 4) : 0;
        if (type == 0x73) {
            r.volume = flags & 0x0001;
            if (flags & 0x0100) r.numbered = true;   // the first volume, number 0
            if (flags & 0x0080) {
                r.locked = r.namesLocked = true;
                break;
            }
        } else if (type == 0x74) {
            if (flags & 0x0100) data |= quint64(le(rest, 25, 4)) << 32;
            const qsizetype nameAt = (flags & 0x0100) ? 33 : 25;
            QByteArray name = rest.mid(nameAt, le(rest, 19, 2));
            if (const qsizetype nul = name.indexOf('\0'); nul >= 0) name.truncate(nul);
            if (flags & 0x0004) r.locked = true;
            if (r.firstName.isEmpty()) {
                r.firstName = name;
                r.firstContinued = flags & 0x0001;
            }
            r.lastName = name;
            r.lastContinues = flags & 0x0002;
        } else if (type == 0x7b) {
            r.last = !(flags & 0x0001);
            if (flags & 0x0008) {
                r.number = le(rest, (flags & 0x0002) ? 4 : 0, 2);
                r.numbered = true;
            }
            break;
        }
        if (data > quint64(f.size() - f.pos()) || !f.seek(f.pos() + qint64(data))) break;
    }
    return r;
}

struct Named {
    QString stem;
    int number;
};

} // namespace

std::vector<ArchiveSet> findArchives(const QStringList &files)
{
    static const QRegularExpression partRar(QStringLiteral("^(.*)\\.part(\\d+)\\.rar$"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression oldRar(QStringLiteral("^(.*)\\.(rar|r(\\d\\d))$"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression split7z(QStringLiteral("^(.*)\\.7z\\.(\\d{3})$"), QRegularExpression::CaseInsensitiveOption);
    std::map<QString, std::map<int, QString>> byName;   // set key -> number -> path
    QStringList rest;
    for (const QString &path : files) {
        const QString dir = QFileInfo(path).absolutePath() + u'/', name = QFileInfo(path).fileName();
        if (auto m = partRar.match(name); m.hasMatch()) byName[dir + m.captured(1) + u'\x1'][m.captured(2).toInt()] = path;
        else if (auto o = oldRar.match(name); o.hasMatch())
            byName[dir + o.captured(1) + u'\x2'][o.captured(3).isEmpty() ? -1 : o.captured(3).toInt()] = path;
        else if (auto s = split7z.match(name); s.hasMatch()) byName[dir + s.captured(1) + u'\x3'][s.captured(2).toInt()] = path;
        else rest << path;
    }
    std::vector<ArchiveSet> out;
    for (const auto &[key, volumes] : byName) {
        ArchiveSet set;
        for (const auto &[n, path] : volumes) set.volumes << path;
        set.kind = kindOfFile(set.volumes.front());
        // Named like a volume but not an archive: perhaps an obfuscated one among the rest.
        if (set.kind == ArchiveKind::None) rest += set.volumes;
        else out.push_back(std::move(set));
    }
    // By their signatures: single archives, and RAR 5 volumes chained by their headers.
    // RAR volumes under other names are chained by their headers: the number each gives,
    // and the file going on from one volume into the next.
    struct Found {
        QString path;
        ArchiveKind kind;
        RarVolume v;
    };
    std::vector<Found> rars;
    for (const QString &path : rest) {
        const ArchiveKind k = kindOfFile(path);
        if (k == ArchiveKind::None) continue;
        if (k == ArchiveKind::Rar5 || k == ArchiveKind::Rar4) {
            const RarVolume v = k == ArchiveKind::Rar5 ? readRar5Volume(path) : readRar4Volume(path);
            if (v.volume) {
                rars.push_back({path, k, v});
                continue;
            }
        }
        out.push_back({k, {path}});
    }
    std::vector<bool> used(rars.size(), false);
    for (size_t s = 0; s < rars.size(); ++s) {
        const RarVolume &head = rars[s].v;
        if (used[s] || (head.numbered ? head.number != 0 : head.firstContinued)) continue;
        ArchiveSet set{rars[s].kind, {rars[s].path}};
        used[s] = true;
        size_t at = s;
        for (;;) {
            const RarVolume &cur = rars[at].v;
            if (cur.last) break;
            size_t next = rars.size();
            for (size_t k = 0; k < rars.size(); ++k) {
                const RarVolume &v = rars[k].v;
                if (used[k] || rars[k].kind != rars[s].kind) continue;
                const bool continues = v.firstContinued && v.firstName == cur.lastName;
                if (cur.numbered && v.numbered) {
                    if (v.number != cur.number + 1) continue;
                    // The file going on from this volume names the next one, when there is one.
                    if ((!cur.lastContinues || continues) && (next == rars.size() || cur.lastContinues)) next = k;
                } else if (cur.lastContinues && continues && next == rars.size()) {
                    next = k;
                }
            }
            if (next == rars.size()) break;
            used[next] = true;
            set.volumes << rars[next].path;
            at = next;
        }
        out.push_back(std::move(set));
    }
    return out;
}

QString unpackLibrary() { return QString::fromLatin1(archive_version_details()); }

QString safeArchivePath(const QByteArray &path)
{
    QByteArray p = path;
    p.replace('\\', '/');
    QStringList parts;
    for (const QByteArray &raw : p.split('/')) {
        if (raw.isEmpty() || raw == ".") continue;
        if (raw == "..") return {};   // never above the folder, whatever comes after
        const QByteArray safe = safeFileNameBytes(raw);
        if (safe.isEmpty()) return {};
        parts << fileNameFromBytes(safe);
    }
    if (path.startsWith('/') && parts.isEmpty()) return {};
    return parts.join(u'/');
}

namespace {

struct ToolRun {
    int code = -1;
    QByteArray out;
    bool cancelled = false;
    bool stuck = false;   // no sign of work for the options' quiet limit: ended
};

// A tool run to its end on this thread. progress() says how much it did so far (bytes
// written), or -1 to end it; a tool that shows no sign of work (output, progress) for the
// quiet limit is ended too: a hostile archive can make a tool spin for ever.
ToolRun runTool(const QString &program, const QStringList &args, const UnpackOptions &options, const std::function<qint64()> &progress = {})
{
    ToolRun r;
    if (options.cancel && options.cancel->load()) {
        r.cancelled = true;
        return r;
    }
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForStarted(10000)) return r;
    QElapsedTimer quiet;
    quiet.start();
    qint64 last = 0;
    auto end = [&] {
        p.kill();
        p.waitForFinished(5000);
    };
    while (!p.waitForFinished(200)) {
        if (p.state() == QProcess::NotRunning) break;
        if (const QByteArray more = p.readAllStandardOutput(); !more.isEmpty()) {
            r.out += more;
            quiet.restart();
        }
        const qint64 done = progress ? progress() : 0;
        if ((options.cancel && options.cancel->load()) || done < 0) {
            end();
            r.cancelled = true;
            return r;
        }
        if (done > last) {
            last = done;
            quiet.restart();
        }
        if (quiet.elapsed() > options.toolQuietMs) {
            end();
            r.stuck = true;
            return r;
        }
    }
    r.out += p.readAllStandardOutput();
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

} // namespace

// A locked RAR or 7z, which libarchive cannot open: unar unpacks it. Its listing comes
// first (with each password in turn when the names are locked too); only plain files and
// folders with safe names are asked for, into a fresh folder, and moved into place from
// there, so whatever the tool does with a name, nothing lands outside the target.
UnpackOutcome unpackLocked(const ArchiveSet &set, const QString &base, const UnpackOptions &options)
{
    UnpackOutcome o;
    auto failed = [&](const QString &why) {
        o.ok = false;
        o.error = why;
        return o;
    };
    const QString lsar = QStandardPaths::findExecutable(QStringLiteral("lsar")), unar = QStandardPaths::findExecutable(QStringLiteral("unar"));
    if (lsar.isEmpty() || unar.isEmpty()) {
        o.needsPassword = true;
        return failed(QStringLiteral("locked; unpacking a locked RAR or 7z needs unar, which is not installed"));
    }
    const QString first = set.volumes.front();
    QStringList tries{QString()};   // first without: are the names locked too?
    tries += options.passwords;
    bool namesLocked = false;
    for (const QString &pw : tries) {
        QStringList args{QStringLiteral("-j")};
        if (!pw.isEmpty()) args << QStringLiteral("-p") << pw;
        const ToolRun listing = runTool(lsar, args + QStringList{first}, options);
        if (listing.cancelled) return failed(QStringLiteral("cancelled"));
        if (listing.stuck) return failed(QStringLiteral("damaged: lsar gave no answer in %1 s").arg(options.toolQuietMs / 1000));
        const QJsonObject doc = QJsonDocument::fromJson(listing.out).object();
        if (listing.code != 0 || !doc.contains(QLatin1String("lsarContents"))) {
            namesLocked = true;
            continue;
        }
        QStringList indexes, refused;
        qint64 total = 0;
        bool encrypted = false;
        for (const QJsonValue &v : doc.value(QLatin1String("lsarContents")).toArray()) {
            const QJsonObject e = v.toObject();
            const QString name = e.value(QLatin1String("XADFileName")).toString();
            encrypted = encrypted || e.value(QLatin1String("XADIsEncrypted")).toInt() != 0;
            if (e.value(QLatin1String("XADIsLink")).toInt() || e.value(QLatin1String("XADIsHardLink")).toInt()
                || safeArchivePath(name.toUtf8()).isEmpty() || name.startsWith(u'/')) {
                refused << name;
                continue;
            }
            indexes << QString::number(e.value(QLatin1String("XADIndex")).toInteger());
            total += e.value(QLatin1String("XADFileSize")).toInteger();
        }
        if (pw.isEmpty() && encrypted) continue;   // names open, contents locked: a password is needed
        const qint64 room = options.freeBytes >= 0 ? options.freeBytes : QStorageInfo(base).bytesAvailable();
        if (total > room) return failed(QStringLiteral("not enough room in %1 (%2 bytes)").arg(base).arg(total));
        if (indexes.isEmpty()) break;
        // Into a folder of its own inside the target, so a failed try leaves nothing behind;
        // one unpack runs at a time, and one cut short by an exit is cleared by the next.
        const QString work = base + QStringLiteral(".vtunpack");
        QDir(work).removeRecursively();
        QDir().mkpath(work);
        auto writtenSoFar = [&] {
            qint64 n = 0;
            for (QDirIterator it(work, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) n += it.nextFileInfo().size();
            return n;
        };
        QStringList args2{QStringLiteral("-q"), QStringLiteral("-f"), QStringLiteral("-D"), QStringLiteral("-o"), work};
        if (!pw.isEmpty()) args2 << QStringLiteral("-p") << pw;
        args2 << first << QStringLiteral("-i") << indexes;
        // The listing's sizes are the archive's word: what is written is held to the room.
        const auto within = [&] {
            const qint64 n = writtenSoFar();
            if (options.progress) options.progress(std::min(n, total), total);
            return n <= room ? n : qint64(-1);
        };
        const ToolRun run = runTool(unar, args2, options, within);
        if (run.stuck) {
            QDir(work).removeRecursively();
            return failed(QStringLiteral("damaged: unar stopped working for %1 s").arg(options.toolQuietMs / 1000));
        }
        if (run.cancelled || within() < 0) {
            QDir(work).removeRecursively();
            const bool stopped = options.cancel && options.cancel->load();
            return failed(stopped ? QStringLiteral("cancelled") : QStringLiteral("not enough room in %1").arg(base));
        }
        if (run.code != 0) {
            QDir(work).removeRecursively();
            continue;   // a wrong password, or damage: the next password, if any
        }
        // Into place: plain files and folders only, each name made safe once more.
        for (QDirIterator it(work, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
             it.hasNext();) {
            const QFileInfo fi = it.nextFileInfo();
            if (fi.isSymLink() || !(fi.isFile() || fi.isDir())) {
                refused << fi.filePath().mid(work.size() + 1);
                continue;
            }
            const QString rel = safeArchivePath(fi.filePath().mid(work.size() + 1).toUtf8());
            if (rel.isEmpty()) continue;
            const QString target = base + rel;
            if (fi.isDir()) {
                QDir().mkpath(target);
                continue;
            }
            QDir().mkpath(QFileInfo(target).absolutePath());
            const QString final = fileExists(target) && !options.overwrite ? UniqueName(target, false) : target;
            if (::rename(QFile::encodeName(fi.filePath()).constData(), QFile::encodeName(final).constData()) != 0) {
                QDir(work).removeRecursively();
                return failed(QStringLiteral("cannot name ") + final);
            }
            o.written << final;
            QFile f(final);
            if (f.open(QIODevice::ReadOnly) && archiveKindOf(f.read(8)) != ArchiveKind::None) o.archives << final;
        }
        QDir(work).removeRecursively();
        if (!refused.isEmpty()) o.error = QStringLiteral("left out (unsafe or a link): ") + refused.join(QStringLiteral(", "));
        o.ok = true;
        return o;
    }
    o.needsPassword = true;
    return failed(namesLocked ? QStringLiteral("needs a password (its file names are locked too)") : QStringLiteral("needs a password"));
}

namespace {
// Reads of 64 KB: a block is still in the cache when it is written out (1 MB reads made a
// stored archive a quarter slower than bsdtar).
constexpr size_t kReadBlock = 64 * 1024;
UnpackOutcome unpackOnce(const ArchiveSet &set, const QString &base, const UnpackOptions &options);
}

UnpackOutcome unpackArchive(const ArchiveSet &set, const QString &folder, const UnpackOptions &options)
{
    const QString base = withSlash(QDir::cleanPath(folder));
    QDir().mkpath(base);
    // libarchive would hand out a locked RAR 5 file's data as it is stored, unread; a
    // locked RAR 4 it cannot read either.
    if ((set.kind == ArchiveKind::Rar5 ? readRar5Volume(set.volumes.front()) : set.kind == ArchiveKind::Rar4 ? readRar4Volume(set.volumes.front()) : RarVolume{}).locked)
        return unpackLocked(set, base, options);
    UnpackOutcome o = unpackOnce(set, base, options);
    // A zip's old encryption checks a password by one byte: now and then a wrong one gets
    // through and gives bytes whose CRC is wrong. With several passwords, each alone.
    if (!o.ok && o.needsPassword && options.passwords.size() > 1) {
        for (const QString &pw : options.passwords) {
            for (const QString &f : o.written) QFile::remove(f);
            UnpackOptions one = options;
            one.passwords = {pw};
            o = unpackOnce(set, base, one);
            if (o.ok || !o.needsPassword) break;
        }
    }
    return o;
}

namespace {

UnpackOutcome unpackOnce(const ArchiveSet &set, const QString &base, const UnpackOptions &options)
{
    UnpackOutcome o;
    std::unique_ptr<archive, decltype(&archive_read_free)> a(archive_read_new(), &archive_read_free);
    archive_read_support_format_rar(a.get());
    archive_read_support_format_rar5(a.get());
    archive_read_support_format_7zip(a.get());
    archive_read_support_format_zip(a.get());
    for (const QString &pw : options.passwords) archive_read_add_passphrase(a.get(), pw.toUtf8().constData());
    std::vector<QByteArray> names;
    qint64 total = 0;
    for (const QString &v : set.volumes) {
        names.push_back(QFile::encodeName(v));
        total += QFileInfo(v).size();
    }
    std::vector<const char *> list;
    for (const QByteArray &n : names) list.push_back(n.constData());
    list.push_back(nullptr);
    auto failed = [&](const QString &why) {
        o.ok = false;
        if (o.error.isEmpty()) o.error = why;
        return o;
    };
    auto libraryError = [&] { return QString::fromUtf8(archive_error_string(a.get()) ? archive_error_string(a.get()) : "unknown error"); };
    auto passwordTrouble = [&](archive_entry *e) {
        const QString why = libraryError();
        return (e && archive_entry_is_encrypted(e)) || why.contains(QLatin1String("assphrase")) || why.contains(QLatin1String("ncrypt"));
    };
    // libarchive reads locked zips only: a locked RAR or 7z goes to unar.
    auto locked = [&](archive_entry *e) {
        o.needsPassword = passwordTrouble(e);
        return o.needsPassword && set.kind != ArchiveKind::Zip;
    };
    if (archive_read_open_filenames(a.get(), list.data(), kReadBlock) != ARCHIVE_OK) {
        if (locked(nullptr) || set.kind == ArchiveKind::SevenZip) return unpackLocked(set, base, options);
        return failed(o.needsPassword ? QStringLiteral("needs a password") : QStringLiteral("cannot be opened: ") + libraryError());
    }
    qint64 room = options.freeBytes >= 0 ? options.freeBytes : QStorageInfo(base).bytesAvailable();
    QStringList refused;
    for (;;) {
        if (options.cancel && options.cancel->load()) return failed(QStringLiteral("cancelled"));
        archive_entry *e = nullptr;
        const int r = archive_read_next_header(a.get(), &e);
        if (r == ARCHIVE_EOF) break;
        if (r < ARCHIVE_WARN) {
            if (locked(e) || (set.kind == ArchiveKind::SevenZip && o.written.isEmpty())) return unpackLocked(set, base, options);
            return failed(o.needsPassword ? QStringLiteral("needs a password") : QStringLiteral("damaged: ") + libraryError());
        }
        const char *utf8 = archive_entry_pathname_utf8(e);
        const QByteArray raw = utf8 ? QByteArray(utf8) : QByteArray(archive_entry_pathname(e));
        const QString rel = safeArchivePath(raw);
        // No type at all is taken as a plain file: its bytes go to one, like any other's.
        const mode_t type = archive_entry_filetype(e) ? archive_entry_filetype(e) : mode_t(AE_IFREG);
        if (rel.isEmpty() || raw.startsWith('/') || archive_entry_hardlink(e) || (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK)) {
            refused << QString::fromUtf8(raw);
            continue;
        }
        const QString target = base + rel;
        if (type == AE_IFDIR) {
            QDir().mkpath(target);
            continue;
        }
        QDir().mkpath(QFileInfo(target).absolutePath());
        if (type == AE_IFLNK) {
            // A link only to what stays inside the folder.
            const QString to = QString::fromUtf8(archive_entry_symlink(e));
            const QString resolved = QDir::cleanPath(QFileInfo(target).absolutePath() + u'/' + to);
            if (to.startsWith(u'/') || !(resolved + u'/').startsWith(base) || QFileInfo::exists(target)
                || ::symlink(QFile::encodeName(to).constData(), QFile::encodeName(target).constData()) != 0)
                refused << QString::fromUtf8(raw);
            continue;
        }
        if (archive_entry_size_is_set(e) && archive_entry_size(e) > room)
            return failed(QStringLiteral("not enough room in %1 for %2 (%3 bytes)").arg(base, rel).arg(archive_entry_size(e)));
        const QString final = fileExists(target) && !options.overwrite ? UniqueName(target, false) : target;
        // Written straight to the file (no second buffer); every write and the close are
        // checked, so a full disk never leaves a short file under the final name.
        const QString part = final + QStringLiteral(".vtpart");
        const QByteArray partName = QFile::encodeName(part);
        const int fd = ::open(partName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return failed(fileErrorText(part, QString::fromLocal8Bit(strerror(errno)), errno));
        auto drop = [&] {
            ::close(fd);
            ::unlink(partName.constData());
        };
        auto put = [&](const char *p, qint64 n) {
            while (n > 0) {
                const ssize_t w = ::write(fd, p, size_t(n));
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) return false;
                p += w;
                n -= w;
            }
            return true;
        };
        const void *buf = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        qint64 written = 0;
        QByteArray head;
        for (;;) {
            const int d = archive_read_data_block(a.get(), &buf, &size, &offset);
            if (d == ARCHIVE_EOF) break;
            // A warning here is a file that is not what was packed (a bad CRC): never kept.
            if (d < ARCHIVE_OK) {
                drop();
                if (locked(e) && o.written.isEmpty()) return unpackLocked(set, base, options);
                o.needsPassword = o.needsPassword || archive_entry_is_encrypted(e);
                return failed(o.needsPassword ? QStringLiteral("needs a password") : QStringLiteral("damaged: ") + libraryError());
            }
            const qint64 hole = offset > written ? offset - written : 0;
            if (written + hole + qint64(size) > room) {
                drop();
                return failed(QStringLiteral("not enough room in %1 for %2").arg(base, rel));
            }
            // Holes (sparse entries) are written as the zeros they stand for.
            bool ok = true;
            for (qint64 left = hole; ok && left > 0;) {
                static const QByteArray zeros(1 << 16, '\0');
                const qint64 n = std::min<qint64>(left, zeros.size());
                ok = put(zeros.constData(), n);
                left -= n;
            }
            written += hole + qint64(size);
            if (!ok || !put(static_cast<const char *>(buf), qint64(size))) {
                const int err = errno;
                drop();
                return failed(fileErrorText(part, QString::fromLocal8Bit(strerror(err)), err));
            }
            if (head.size() < 8) head += QByteArray(static_cast<const char *>(buf), qsizetype(std::min<size_t>(size, 8)));
            if (options.cancel && options.cancel->load()) {
                drop();
                return failed(QStringLiteral("cancelled"));
            }
            if (options.progress) options.progress(archive_filter_bytes(a.get(), -1), total);
        }
        if (::close(fd) != 0) {
            const int err = errno;
            ::unlink(partName.constData());
            return failed(fileErrorText(part, QString::fromLocal8Bit(strerror(err)), err));
        }
        room -= written;
        if (::rename(partName.constData(), QFile::encodeName(final).constData()) != 0) {
            ::unlink(partName.constData());
            return failed(QStringLiteral("cannot name ") + final);
        }
        o.written << final;
        if (archiveKindOf(head) != ArchiveKind::None) o.archives << final;
    }
    if (!refused.isEmpty()) o.error = QStringLiteral("left out (unsafe): ") + refused.join(QStringLiteral(", "));
    o.ok = true;
    return o;
}

} // namespace

} // namespace vt
