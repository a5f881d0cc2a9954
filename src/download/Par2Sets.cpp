#include "Par2Sets.h"
#include "BatchQueue.h"
#include "ProcessedList.h"
#include "core/AppCore.h"
#include "headers/HeaderStore.h"
#include "nzb/NzbImport.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <sys/stat.h>
#include <unistd.h>
#include "decode/FileNames.h"

namespace vt {

namespace {

QString baseOf(const QString &par2Name)
{
    QString b = QFileInfo(par2Name).fileName();
    const auto [first, count] = par2VolumeBlocks(b);
    if (count > 0) b.truncate(b.lastIndexOf(QLatin1String(".vol"), -1, Qt::CaseInsensitive));
    else if (b.endsWith(QLatin1String(".par2"), Qt::CaseInsensitive)) b.chop(5);
    return b;
}

} // namespace

Par2Sets::Par2Sets(AppCore &core, HeaderStore &store, BatchQueue &batch, ProcessedList &processed, QObject *parent)
    : QObject(parent), m_core(core), m_store(store), m_batch(batch), m_processed(processed)
{
}

Par2Sets::~Par2Sets()
{
    m_cancelUnpack = true;
    if (m_unpackThread.joinable()) m_unpackThread.join();
}

bool Par2Sets::busy() const { return (m_run && m_run->running()) || m_unpacking || !m_unpacks.empty(); }

void Par2Sets::log(const QString &msg, bool record) { m_core.LogOp(msg, record); }

void Par2Sets::fileDecoded(const QString &decoded, const QString &password)
{
    if (!password.isEmpty()) m_passwords.insert(decoded, password);
    if (decoded.isEmpty() || !m_core.settings.chkPar2Verify) return;
    QString path = decoded;
    const QString name = QFileInfo(path).fileName();
    bool isPar2 = par2KindOf(name.toUtf8()) != Par2Kind::None;
    if (!isPar2) {
        QFile f(path);
        isPar2 = f.open(QIODevice::ReadOnly) && startsLikePar2(f.read(8));
    }
    const Par2FileInfo info = isPar2 ? scanPar2File(path) : Par2FileInfo{};
    if (info.setId.isEmpty()) {
        m_decoded << path;
        save();
        return;
    }
    if (!name.endsWith(QLatin1String(".par2"), Qt::CaseInsensitive)) {
        // par2 reads the blocks of another file of the set only when it is named so.
        QString named = path + QStringLiteral(".par2");
        if (QFileInfo::exists(named)) named = UniqueName(named, false);
        if (QFile::rename(path, named)) {
            m_processed.renameFile(path, named);
            path = named;
        }
    }
    for (Set &s : m_sets) {
        if (s.id != info.setId) continue;
        if (!s.par2Files.contains(path)) s.par2Files << path;
        if (info.recoveryBlocks < s.indexBlocks) {
            s.index = path;
            s.indexBlocks = info.recoveryBlocks;
            s.base = baseOf(path);
        }
        for (const QString &n : info.names)
            if (!s.names.contains(n)) s.names << n;
        for (const auto &f : info.foreignNames)
            if (std::find(s.foreignNames.begin(), s.foreignNames.end(), f) == s.foreignNames.end()) s.foreignNames.push_back(f);
        save();
        return;
    }
    Set s;
    s.id = info.setId;
    s.index = path;
    s.indexBlocks = info.recoveryBlocks;
    s.base = baseOf(path);
    s.par2Files << path;
    s.names = info.names;
    s.foreignNames = info.foreignNames;
    m_sets.push_back(std::move(s));
    save();
}

// What par2 is given beside the index: the set's other par2 files (their blocks count)
// and the files decoded beside it.
QStringList Par2Sets::extraFor(const Set &s) const
{
    QStringList out = s.par2Files;
    out.removeAll(s.index);
    out += s.extra;
    // par2's backups of a repair cut short hold blocks too.
    const QString folder = QFileInfo(s.index).absolutePath() + u'/';
    static const QRegularExpression numbered(QStringLiteral("^(.+)\\.\\d+$"));
    for (const QString &f : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        if (const auto m = numbered.match(f); m.hasMatch() && s.names.contains(m.captured(1)) && !out.contains(folder + f))
            out << folder + f;
    return out;
}

// One line a fact, fields percent-encoded: "set" starts a set; its par2 files, names,
// extra files and queued volumes (by name and poster) follow; "decoded" lines are files
// not yet given to a set.
void Par2Sets::save() const
{
    if (m_keepPath.isEmpty()) return;
    if (m_sets.empty() && m_decoded.isEmpty() && m_unpacks.empty()) {
        QFile::remove(m_keepPath);
        return;
    }
    auto field = [](const QString &s) { return s.toUtf8().toPercentEncoding(); };
    QByteArray out;
    for (const Set &s : m_sets) {
        out += "set\t" + s.id.toHex() + '\t' + (s.fetching ? '1' : '0') + '\t' + QByteArray::number(s.blocksNeeded) + '\t'
               + QByteArray::number(s.indexBlocks) + '\t' + field(s.index) + '\n';
        for (const QString &f : s.par2Files) out += "par2\t" + field(f) + '\n';
        for (const QString &n : s.names) out += "name\t" + field(n) + '\n';
        for (const QString &f : s.extra) out += "extra\t" + field(f) + '\n';
        for (ItemRef v : s.volumes)
            if (const int i = m_store.resolve(v))
                out += "volume\t" + m_store.item(i).subject.toPercentEncoding() + '\t' + m_store.item(i).poster.toPercentEncoding() + '\n';
    }
    for (const QString &f : m_decoded) out += "decoded\t" + field(f) + '\n';
    // Archives still to unpack (the one being unpacked first): "unpack" and its volumes.
    for (const Unpack &u : m_unpacks) {
        out += "unpack\t" + QByteArray::number(int(u.archive.kind)) + '\t' + (u.lastOfPost ? '1' : '0') + '\t' + field(u.folder) + '\t'
               + field(u.rowName) + '\t' + field(u.rowFile) + '\t' + field(u.status) + '\n';
        for (const QString &v : u.archive.volumes) out += "uvolume\t" + field(v) + '\n';
        for (const QString &f : u.par2Files) out += "upar2\t" + field(f) + '\n';
    }
    QSaveFile file(m_keepPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit())
        m_core.LogOp(QStringLiteral("Error: par2 work not kept in ") + m_keepPath + QStringLiteral(": ") + file.errorString(), true);
}

void Par2Sets::keepIn(const QString &path)
{
    m_keepPath = path;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return;
    auto text = [](const QByteArray &b) { return QString::fromUtf8(QByteArray::fromPercentEncoding(b)); };
    for (const QByteArray &raw : f.readAll().split('\n')) {
        const QList<QByteArray> p = raw.split('\t');
        if (p[0] == "set" && p.size() == 6) {
            Set s;
            s.id = QByteArray::fromHex(p[1]);
            s.fetching = p[2] == "1";
            s.blocksNeeded = p[3].toInt();
            s.indexBlocks = p[4].toInt();
            s.index = text(p[5]);
            s.base = baseOf(s.index);
            s.ready = true;   // taken up at the next start, as they were left
            m_sets.push_back(std::move(s));
        } else if (p[0] == "decoded" && p.size() == 2) {
            m_decoded << text(p[1]);
        } else if (p[0] == "unpack" && p.size() == 7) {
            Unpack u;
            u.archive.kind = ArchiveKind(std::clamp(p[1].toInt(), 0, int(ArchiveKind::Zip)));
            u.lastOfPost = p[2] == "1";
            u.folder = text(p[3]);
            u.rowName = text(p[4]);
            u.rowFile = text(p[5]);
            u.status = text(p[6]);
            u.again = true;
            m_unpacks.push_back(std::move(u));
        } else if (!m_unpacks.empty() && p[0] == "uvolume" && p.size() == 2) {
            m_unpacks.back().archive.volumes << text(p[1]);
            m_unpacks.back().cleanup << text(p[1]);
        } else if (!m_unpacks.empty() && p[0] == "upar2" && p.size() == 2) {
            m_unpacks.back().par2Files << text(p[1]);
            m_unpacks.back().again = true;
        } else if (!m_sets.empty() && p.size() == 2) {
            Set &s = m_sets.back();
            if (p[0] == "par2") s.par2Files << text(p[1]);
            else if (p[0] == "name") s.names << text(p[1]);
            else if (p[0] == "extra") s.extra << text(p[1]);
        } else if (!m_sets.empty() && p[0] == "volume" && p.size() == 3) {
            const int i = m_store.FindHash(QByteArray::fromPercentEncoding(p[1]), QByteArray::fromPercentEncoding(p[2]));
            if (i > 0) m_sets.back().volumes.push_back(m_store.ref(i));
        }
    }
    // Names as the set writes them come from its file again.
    for (Set &s : m_sets) s.foreignNames = scanPar2File(s.index).foreignNames;
}

void Par2Sets::takeUp()
{
    // A set whose files went meanwhile has nothing to work on.
    std::erase_if(m_sets, [](const Set &s) { return !QFileInfo::exists(s.index); });
    std::erase_if(m_unpacks, [](const Unpack &u) { return u.archive.volumes.isEmpty() || !QFileInfo::exists(u.archive.volumes.front()); });
    save();
    if (!m_unpacks.empty()) {
        log(QStringLiteral("%1 archive(s) not unpacked when the program ended are unpacked again").arg(m_unpacks.size()), true);
        nextUnpack();
    }
    if (m_sets.empty()) return;
    log(QStringLiteral("par2: %1 set(s) not finished when the program ended are taken up again").arg(m_sets.size()), true);
    if (!(m_run && m_run->running())) next();
}

QStringList Par2Sets::postFiles(const QString &file) const
{
    const QFileInfo fi(file);
    if (file.isEmpty() || !fi.isFile()) return {};
    const QString folder = fi.absolutePath() + u'/';
    QStringList files;
    for (const QString &f : QDir(folder).entryList(QDir::Files, QDir::Name)) files << folder + f;
    QFile head(file);
    if (par2KindOf(fi.fileName().toUtf8()) != Par2Kind::None || (head.open(QIODevice::ReadOnly) && startsLikePar2(head.read(8)))) {
        const QByteArray id = scanPar2File(file).setId;
        QStringList set;
        if (!id.isEmpty())
            for (const QString &f : files)
                if (par2KindOf(QFileInfo(f).fileName().toUtf8()) != Par2Kind::None && scanPar2File(f).setId == id) set << f;
        return set;
    }
    for (const ArchiveSet &a : findArchives(files))
        if (a.volumes.contains(fi.absoluteFilePath())) return a.volumes;
    return {};
}

void Par2Sets::retry(const QStringList &files)
{
    if (files.isEmpty()) return;
    log(QStringLiteral("Retry: ") + QFileInfo(files.front()).fileName(), true);
    for (const QString &f : files) fileDecoded(f);
    downloadEnded();
}

void Par2Sets::downloadEnded()
{
    filesIn({});
    if (!busy()) next();
}

void Par2Sets::folderDone(const QString &folder)
{
    filesIn(QDir::cleanPath(folder));
    if (!busy()) next();
}

void Par2Sets::filesIn(const QString &folder)
{
    auto inFolder = [&](const QString &f) { return folder.isEmpty() || QFileInfo(f).absolutePath() == folder; };
    // Files decoded beside a set may be its files under other names; archives with no set
    // beside them are unpacked at once.
    QStringList loose, kept;
    for (const QString &f : m_decoded) {
        if (!inFolder(f)) {
            kept << f;
            continue;
        }
        bool inSet = false;
        for (Set &s : m_sets)
            if (QFileInfo(f).absolutePath() == QFileInfo(s.index).absolutePath()) {
                inSet = true;
                if (!s.extra.contains(f)) s.extra << f;
            }
        if (!inSet) loose << f;
    }
    m_decoded = kept;
    for (Set &s : m_sets)
        if (inFolder(s.index)) s.ready = true;
    // One unpack a folder: loose files of several folders each unpack where they are.
    QMap<QString, QStringList> byFolder;
    for (const QString &f : loose) byFolder[QFileInfo(f).absolutePath() + u'/'] << f;
    for (auto it = byFolder.cbegin(); it != byFolder.cend(); ++it) queueUnpacks(it.value(), it.key(), {}, {}, {}, {});
    save();
}

bool Par2Sets::busyWith(const QString &folder) const
{
    const QString f = QDir::cleanPath(folder);
    auto in = [&](const QString &path) { return QFileInfo(path).absolutePath() == f; };
    if (std::any_of(m_sets.begin(), m_sets.end(), [&](const Set &s) { return in(s.index); })) return true;
    if (std::any_of(m_decoded.begin(), m_decoded.end(), in)) return true;
    return std::any_of(m_unpacks.begin(), m_unpacks.end(), [&](const Unpack &u) { return QDir::cleanPath(u.folder) == f; });
}

// The front set's next step: verify a new set, or repair one whose volumes are all in.
void Par2Sets::next()
{
    // The sets whose files are all in go first, in the order they came.
    std::stable_partition(m_sets.begin(), m_sets.end(), [](const Set &s) { return s.ready; });
    while (!m_sets.empty() && m_sets.front().ready) {
        Set &s = m_sets.front();
        if (s.fetching) {
            // Volumes still in the batch: the next end of the download brings them.
            bool waiting = false;
            for (ItemRef v : s.volumes)
                if (const int item = m_store.resolve(v)) waiting = waiting || m_batch.batchPositionOf(item) > 0;
            if (waiting) return;
            s.fetching = false;
            m_mode = Par2Run::Mode::Repair;
        } else {
            m_mode = Par2Run::Mode::Verify;
        }
        if (!QFileInfo(s.index).isReadable()) {
            finish(QStringLiteral("par2: cannot read ") + s.index, false);
            continue;
        }
        // par2 writes the names its set gives: a name that could leave the folder stops it,
        // through a folder that is a link as much as through "..".
        const QString folder = QFileInfo(s.index).absolutePath();
        const QString real = QFileInfo(folder).canonicalFilePath() + u'/';
        QString unsafe;
        for (const QString &n : s.names) {
            bool ok = isSafePar2Name(n);
            for (qsizetype slash = n.indexOf(u'/'); ok && slash > 0; slash = n.indexOf(u'/', slash + 1)) {
                const QString within = QFileInfo(folder + u'/' + n.left(slash)).canonicalFilePath();
                ok = within.isEmpty() || (within + u'/').startsWith(real);
            }
            if (unsafe.isEmpty() && !ok) unsafe = n;
        }
        if (!unsafe.isEmpty()) {
            finish(QStringLiteral("par2: not run, the set names a file unsafely: ") + unsafe, false);
            continue;
        }
        if (!m_run) {
            m_run = std::make_unique<Par2Run>();
            connect(m_run.get(), &Par2Run::progress, this, [this](const QString &what, double pct) {
                if (m_sets.empty()) return;
                log(QStringLiteral("par2 ") + QFileInfo(m_sets.front().index).fileName() + QStringLiteral(": ") + what
                        + u' ' + QString::number(pct, 'f', 1) + u'%',
                    false);
            });
            connect(m_run.get(), &Par2Run::finished, this, [this](const Par2Report &r, int code, const QString &failure) {
                if (m_mode == Par2Run::Mode::Verify) verified(r, code, failure);
                else repaired(r, code, failure);
            });
        }
        log((m_mode == Par2Run::Mode::Verify ? QStringLiteral("par2: verifying ") : QStringLiteral("par2: repairing "))
                + s.index,
            true);
        if (m_mode == Par2Run::Mode::Repair) repairStarts(s);
        lendForeignNames(s);
        m_run->start(m_mode, s.index, extraFor(s), m_core.settings.chkPar2Delete);
        return;
    }
}

void Par2Sets::verified(const Par2Report &r, int code, const QString &failure)
{
    if (m_sets.empty()) return;
    Set &s = m_sets.front();
    settleForeignNames(s);
    if (!failure.isEmpty()) {
        finish(QStringLiteral("par2: ") + failure, false);
    } else if (r.allCorrect && code == 0) {
        finish(QStringLiteral("par2: all files correct"), true);
    } else if (!r.repairNeeded && code != 1) {
        finish(QStringLiteral("par2: verify failed (exit code ") + QString::number(code) + u')', false);
    } else if (!m_core.settings.chkPar2Repair) {
        finish(QStringLiteral("par2: repair needed (") + QString::number(r.blocksNeeded) + QStringLiteral(" blocks missing)"),
               false);
    } else if (r.repairPossible) {
        m_mode = Par2Run::Mode::Repair;
        log(QStringLiteral("par2: repairing ") + s.index, true);
        repairStarts(s);
        lendForeignNames(s);
        m_run->start(m_mode, s.index, extraFor(s), m_core.settings.chkPar2Delete);
        return;
    } else {
        int available = 0;
        if (fetchVolumes(s, r.blocksNeeded, &available)) {
            s.fetching = true;
            s.blocksNeeded = r.blocksNeeded;
            save();
            emit downloadWanted();
            return;
        }
        finish(QStringLiteral("par2: cannot repair: ") + QString::number(r.blocksNeeded - available)
                   + QStringLiteral(" more blocks needed"),
               false);
    }
    next();
}

// Queues the smallest recovery volumes of the set that give `needed` blocks; false (with
// what all of them give) when they are not enough.
bool Par2Sets::fetchVolumes(Set &s, int needed, int *available)
{
    std::vector<int> items, counts;
    std::vector<qint64> bytes;
    QStringList have;
    for (const QString &f : s.par2Files) have << QFileInfo(f).fileName();
    for (int i = 1; i <= m_store.itemCount(); ++i) {
        const HeaderItem &it = m_store.item(i);
        if (it.deleted || it.inBatch) continue;
        const QString name = QString::fromLatin1(fileNameOfItem(it));
        if (par2KindOf(name.toUtf8()) != Par2Kind::Volume || baseOf(name).compare(s.base, Qt::CaseInsensitive) != 0) continue;
        if (have.contains(name, Qt::CaseInsensitive)) continue;   // decoded already: par2 counted it
        items.push_back(i);
        counts.push_back(par2VolumeBlocks(name).second);
        qint64 size = 0;
        for (const PartRecord &p : it.parts) size += p.byteCount;
        bytes.push_back(size);
    }
    *available = 0;
    for (int c : counts) *available += c;
    const std::vector<size_t> pick = chooseRecoveryVolumes(needed, counts, bytes);
    if (pick.empty()) return false;
    int blocks = 0;
    for (size_t k : pick) {
        m_batch.AddToBatch(items[k]);
        s.volumes.push_back(m_store.ref(items[k]));
        blocks += counts[k];
    }
    log(QStringLiteral("par2: ") + QString::number(needed) + QStringLiteral(" blocks needed for ") + s.base
            + QStringLiteral(", fetching ") + QString::number(pick.size()) + QStringLiteral(" recovery volume(s) of ")
            + QString::number(items.size()) + QStringLiteral(" (") + QString::number(blocks) + QStringLiteral(" blocks)"),
        true);
    return true;
}

void Par2Sets::repaired(const Par2Report &r, int code, const QString &failure)
{
    if (m_sets.empty()) return;
    const QString folder = QFileInfo(m_sets.front().index).absolutePath() + u'/';
    settleForeignNames(m_sets.front());
    // par2 said the names as written; the files now carry them as read.
    auto asRead = [&](const QString &said) {
        for (const auto &[raw, read] : m_sets.front().foreignNames)
            if (said == QString::fromUtf8(raw)) return read;
        return said;
    };
    if (!failure.isEmpty()) {
        finish(QStringLiteral("par2: ") + failure, false);
    } else if (r.repairComplete && code == 0) {
        // Misnamed files now have their real names; the processed rows follow them.
        for (const auto &[from, to] : r.renamed)
            m_processed.renameFile(QFileInfo(from).isAbsolute() ? from : folder + from, folder + asRead(to));
        if (!m_core.settings.chkPar2KeepBackups) cleanUp(m_sets.front(), r);
        QString status = QStringLiteral("par2: repaired ") + QString::number(r.blocksUsed) + QStringLiteral(" blocks");
        if (!r.renamed.empty()) status += QStringLiteral(", ") + QString::number(r.renamed.size()) + QStringLiteral(" file(s) renamed");
        finish(status, true);
    } else if (r.blocksNeeded > 0) {
        finish(QStringLiteral("par2: cannot repair: ") + QString::number(r.blocksNeeded) + QStringLiteral(" more blocks needed"),
               false);
    } else {
        finish(QStringLiteral("par2: repair failed (exit code ") + QString::number(code) + u')', false);
    }
    next();
}

// A set made where names are not UTF-8 (Latin-1) names its files in bytes this system reads
// otherwise: par2 would take the file under its right name for a misnamed one and give it
// the foreign bytes. For the run, the foreign name is a second link to the file as named
// here; afterwards the name as read is the one that stays, with what par2 left under the
// other (a repaired file) put in its place.
void Par2Sets::lendForeignNames(const Set &s)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(s.index).absolutePath()) + '/';
    for (const auto &[raw, read] : s.foreignNames) {
        const QByteArray foreign = folder + raw, own = folder + QFile::encodeName(read);
        struct stat st;
        if (::stat(foreign.constData(), &st) != 0 && ::stat(own.constData(), &st) == 0) (void)::link(own.constData(), foreign.constData());
    }
}

void Par2Sets::settleForeignNames(const Set &s)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(s.index).absolutePath()) + '/';
    for (const auto &[raw, read] : s.foreignNames) {
        const QByteArray foreign = folder + raw, own = folder + QFile::encodeName(read);
        struct stat a, b;
        if (::stat(foreign.constData(), &a) != 0) continue;
        if (::stat(own.constData(), &b) == 0 && a.st_ino == b.st_ino && a.st_dev == b.st_dev) ::unlink(foreign.constData());
        else ::rename(foreign.constData(), own.constData());
    }
}

// par2 puts a file in the set's sub-folder only when that folder is there; what is in the
// folder now tells par2's backups from what was there before.
void Par2Sets::repairStarts(Set &s)
{
    const QString folder = QFileInfo(s.index).absolutePath() + u'/';
    for (const QString &n : s.names)
        if (n.contains(u'/')) QDir().mkpath(folder + n.left(n.lastIndexOf(u'/')));
    s.before = QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

// The set is whole again: par2's backups of the files it repaired (name.1, ...) and the
// damaged copies it took blocks from go. Only those: other files decoded beside the set
// stay.
void Par2Sets::cleanUp(const Set &s, const Par2Report &r)
{
    const QString folder = QFileInfo(s.index).absolutePath() + u'/';
    QStringList gone;
    static const QRegularExpression numbered(QStringLiteral("^(.+)\\.\\d+$"));
    for (const QString &f : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        if (s.before.contains(f)) continue;
        const auto m = numbered.match(f);
        if (m.hasMatch() && s.names.contains(m.captured(1))) gone << folder + f;
    }
    for (const QString &c : r.partialCopies) {
        const QString path = QFileInfo(c).isAbsolute() ? c : folder + c;
        if (!s.names.contains(QFileInfo(path).fileName()) && !s.par2Files.contains(path)) gone << path;
    }
    for (const QString &f : gone)
        if (QFile::remove(f)) log(QStringLiteral("par2: removed ") + f, true);
    // Backups under a name not in UTF-8: by their bytes.
    const QByteArray raw = QFile::encodeName(folder);
    for (const auto &[name, read] : s.foreignNames)
        for (int k = 1; k <= 9; ++k)
            if (::unlink((raw + name + '.' + QByteArray::number(k)).constData()) == 0)
                log(QStringLiteral("par2: removed ") + folder + read + u'.' + QString::number(k), true);
}

void Par2Sets::finish(const QString &status, bool ok)
{
    const Set s = std::move(m_sets.front());
    m_sets.pop_front();
    save();
    const QString name = QFileInfo(s.index).fileName();
    log(name + QStringLiteral(": ") + status, true);
    if (ok) {
        // The set is whole: its archives are unpacked, and the row says so once they are.
        // Other files that came beside it (not the set's) are posts of their own.
        const QString folder = QFileInfo(s.index).absolutePath() + u'/';
        QStringList own, others;
        for (const QString &n : s.names)
            if (QFileInfo::exists(folder + n)) own << folder + n;
        for (const QString &f : s.extra)
            if (QFileInfo::exists(f) && !own.contains(f) && !s.par2Files.contains(f)) others << f;
        const size_t before = m_unpacks.size();
        queueUnpacks(own, folder, name, s.index, status, s.par2Files);
        const bool waits = m_unpacks.size() > before;
        if (!others.isEmpty()) queueUnpacks(others, folder, {}, {}, {}, {});
        if (waits) return;
    }
    m_processed.add({name, status, s.index, ok});
    emit setFinished(s.index, status, ok);
}

void Par2Sets::queueUnpacks(const QStringList &files, const QString &folder, const QString &rowName, const QString &rowFile,
                            const QString &status, const QStringList &par2Files)
{
    if (!m_core.settings.chkUnpack) return;
    const std::vector<ArchiveSet> archives = findArchives(files);
    for (size_t k = 0; k < archives.size(); ++k) {
        Unpack u;
        u.archive = archives[k];
        u.folder = folder;
        u.rowName = rowName.isEmpty() ? QFileInfo(archives[k].volumes.front()).fileName() : rowName;
        u.rowFile = rowFile.isEmpty() ? archives[k].volumes.front() : rowFile;
        u.status = status;
        u.cleanup = archives[k].volumes;
        u.lastOfPost = k + 1 == archives.size() || rowName.isEmpty();
        if (u.lastOfPost) u.par2Files = par2Files;
        m_unpacks.push_back(std::move(u));
    }
    save();
    nextUnpack();
}

void Par2Sets::nextUnpack()
{
    if (m_unpacking || m_unpacks.empty()) return;
    m_unpacking = true;
    if (m_unpackThread.joinable()) m_unpackThread.join();
    const Unpack &u = m_unpacks.front();
    log(QStringLiteral("Unpacking ") + u.archive.volumes.front() + QStringLiteral(" (") + QString::number(u.archive.volumes.size())
            + QStringLiteral(" volume(s))"),
        true);
    UnpackOptions options;
    options.cancel = &m_cancelUnpack;
    options.overwrite = u.again;
    for (const QString &v : u.archive.volumes)
        if (const QString pw = m_passwords.value(v); !pw.isEmpty() && !options.passwords.contains(pw)) options.passwords << pw;
    for (const QString &pw : m_core.settings.Unpack_Passwords)
        if (!pw.isEmpty() && !options.passwords.contains(pw)) options.passwords << pw;
    const QString name = u.rowName;
    options.progress = [this, name](qint64 done, qint64 total) {
        thread_local qint64 shown = -1;
        const qint64 pct = total > 0 ? done * 100 / total : 0;
        if (pct == shown) return;
        shown = pct;
        QMetaObject::invokeMethod(this, [this, name, pct] { log(QStringLiteral("Unpacking ") + name + QStringLiteral(": ") + QString::number(pct) + u'%', false); },
                                  Qt::QueuedConnection);
    };
    const ArchiveSet archive = u.archive;
    const QString folder = u.folder;
    m_unpackThread = std::thread([this, archive, folder, options] {
        const UnpackOutcome o = unpackArchive(archive, folder, options);
        QMetaObject::invokeMethod(this, [this, o] { unpacked(o); }, Qt::QueuedConnection);
    });
}

void Par2Sets::unpacked(const UnpackOutcome &o)
{
    m_unpacking = false;
    if (m_unpacks.empty()) return;
    const Unpack u = std::move(m_unpacks.front());
    m_unpacks.pop_front();
    save();
    if (o.ok) {
        m_postWritten += int(o.written.size());
        if (!o.error.isEmpty()) m_postTrouble += QStringLiteral("; ") + o.error;
        // Only after a good unpack: the volumes (and with the post's last, its par2 files).
        if (!m_core.settings.chkUnpackKeepArchives)
            for (const QString &f : u.cleanup)
                if (QFile::remove(f)) log(QStringLiteral("Removed ") + f, false);
        // An archive inside the archive is unpacked once more, where it came out.
        if (!o.archives.isEmpty()) {
            const std::vector<ArchiveSet> inner = findArchives(o.archives);
            for (const ArchiveSet &a : inner) {
                Unpack again = u;
                again.archive = a;
                again.folder = QFileInfo(a.volumes.front()).absolutePath() + u'/';
                again.cleanup = a.volumes;
                again.par2Files.clear();
                again.lastOfPost = false;
                m_unpacks.push_front(std::move(again));
            }
            // The row waits for the inner ones: the last of them carries it.
            if (u.lastOfPost && !inner.empty()) {
                m_unpacks[inner.size() - 1].lastOfPost = true;
                m_unpacks[inner.size() - 1].par2Files = u.par2Files;
            }
        }
    } else {
        m_postTrouble += QStringLiteral("; unpack of ") + QFileInfo(u.archive.volumes.front()).fileName() + QStringLiteral(": ") + o.error;
    }
    const bool postOver = u.lastOfPost && (o.archives.isEmpty() || !o.ok);
    if (postOver) {
        const bool good = m_postTrouble.isEmpty() || (o.ok && !m_postTrouble.contains(QLatin1String("; unpack of ")));
        QString status = u.status;
        if (m_postWritten > 0) status += (status.isEmpty() ? QString() : QStringLiteral("; ")) + QStringLiteral("unpacked %1 file(s)").arg(m_postWritten);
        status += m_postTrouble;
        if (status.startsWith(QLatin1String("; "))) status.remove(0, 2);
        if (good && !m_core.settings.chkUnpackKeepArchives)
            for (const QString &f : u.par2Files)
                if (QFile::remove(f)) log(QStringLiteral("Removed ") + f, false);
        log(u.rowName + QStringLiteral(": ") + status, true);
        m_processed.add({u.rowName, status, u.rowFile, good});
        m_postWritten = 0;
        m_postTrouble.clear();
        emit setFinished(u.rowFile, status, good);
    }
    save();
    if (!m_unpacks.empty()) nextUnpack();
    else if (!m_sets.empty() && !(m_run && m_run->running())) next();
}

} // namespace vt
