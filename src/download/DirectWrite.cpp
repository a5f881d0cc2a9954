#include "DirectWrite.h"
#include "PartCache.h"
#include "core/Text.h"
#include <QFile>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMetaObject>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace vt {

namespace {

QByteArray opt(const std::optional<qint64> &v) { return v ? QByteArray::number(*v) : QByteArray("-"); }
QByteArray optHex(const std::optional<uint32_t> &v) { return v ? QByteArray::number(*v, 16) : QByteArray("-"); }
QByteArray hexOr(const QByteArray &b) { return b.isEmpty() ? QByteArray("-") : b.toHex(); }

// The line with its check after it.
QByteArray checked(QByteArray line)
{
    return line + ' ' + QByteArray::number(yencCrc32(line.constData(), size_t(line.size())), 16) + '\n';
}

// The words of a line whose check is right; empty when it is not.
QList<QByteArray> wordsOf(QByteArrayView line)
{
    const qsizetype sp = line.lastIndexOf(' ');
    if (sp <= 0) return {};
    bool ok = false;
    const uint32_t want = line.sliced(sp + 1).toByteArray().toUInt(&ok, 16);
    if (!ok || yencCrc32(line.data(), size_t(sp)) != want) return {};
    return line.first(sp).toByteArray().split(' ');
}

std::optional<qint64> number(const QByteArray &w, bool *ok)
{
    if (w == "-") return std::nullopt;
    bool good = false;
    const qint64 v = w.toLongLong(&good);
    if (!good || v < 0) *ok = false;
    return v;
}

std::optional<uint32_t> hex(const QByteArray &w, bool *ok)
{
    if (w == "-") return std::nullopt;
    bool good = false;
    const uint32_t v = w.toUInt(&good, 16);
    if (!good) *ok = false;
    return v;
}

QByteArray unhex(const QByteArray &w) { return w == "-" ? QByteArray() : QByteArray::fromHex(w); }

bool writeAll(int fd, const char *p, size_t n, qint64 at = -1)
{
    while (n) {
        const ssize_t w = at >= 0 ? ::pwrite(fd, p, n, at) : ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = ENOSPC;
            return false;
        }
        p += w;
        n -= size_t(w);
        if (at >= 0) at += w;
    }
    return true;
}

} // namespace

QByteArray directJournalHeader(const QString &dataPath) { return checked("VTJ1 " + QFile::encodeName(dataPath).toHex()); }

QByteArray directJournalLine(const DirectPart &p)
{
    const YencPartInfo &i = p.info;
    return checked("P " + QByteArray::number(p.part) + ' ' + QByteArray::number(i.begin) + ' ' + QByteArray::number(i.decoded)
                   + ' ' + QByteArray::number(i.crc, 16) + ' ' + (i.multipart ? "m" : "-") + ' ' + opt(i.fileSize) + ' '
                   + opt(i.end) + ' ' + opt(i.partSize) + ' ' + optHex(i.pcrc32) + ' ' + optHex(i.crc32) + ' '
                   + hexOr(i.partText) + ' ' + hexOr(i.name));
}

QByteArray directJournalSyncMark() { return checked("S"); }

std::optional<DirectJournal> readDirectJournal(QByteArrayView text)
{
    DirectJournal j;
    qsizetype at = 0;
    bool first = true;
    while (at < text.size()) {
        const qsizetype nl = text.indexOf('\n', at);
        if (nl < 0) {
            j.whole = false;   // a line cut by a kill
            break;
        }
        const QList<QByteArray> w = wordsOf(text.sliced(at, nl - at));
        at = nl + 1;
        if (first) {
            if (w.size() != 2 || w[0] != "VTJ1") return std::nullopt;
            j.data = QFile::decodeName(QByteArray::fromHex(w[1]));
            if (j.data.isEmpty()) return std::nullopt;
            first = false;
            continue;
        }
        if (w.size() == 1 && w[0] == "S") {
            j.synced = j.parts.size();
            continue;
        }
        bool ok = w.size() == 13 && w[0] == "P";
        DirectPart p;
        if (ok) {
            p.part = w[1].toInt(&ok);
            YencPartInfo &i = p.info;
            i.begin = number(w[2], &ok).value_or(-1);
            i.decoded = number(w[3], &ok).value_or(-1);
            i.crc = hex(w[4], &ok).value_or(0);
            i.multipart = w[5] == "m";
            i.fileSize = number(w[6], &ok);
            i.end = number(w[7], &ok);
            i.partSize = number(w[8], &ok);
            i.pcrc32 = hex(w[9], &ok);
            i.crc32 = hex(w[10], &ok);
            i.partText = unhex(w[11]);
            i.name = unhex(w[12]);
            ok = ok && p.part >= 1 && i.begin >= 0 && i.decoded >= 0;
        }
        if (!ok) {
            j.whole = false;
            break;
        }
        j.parts.push_back(std::move(p));
    }
    if (first) return std::nullopt;
    return j;
}

struct DirectWriter::Item {
    std::mutex m;
    QString journal, data;
    int fd = -1, jfd = -1;
    bool journalOnDisk = false;
    std::map<int, DirectPart> parts;                   // in the file
    std::map<int, std::pair<qint64, qint64>> claims;   // on their way: [from, to)
    int unsynced = 0;                                  // lines since the last sync mark
    QElapsedTimer sinceSync;
};

QString DirectWriter::dataFileName(const QString &journal)
{
    const QFileInfo j(journal);
    return u'.' + j.dir().dirName() + u'-' + j.completeBaseName() + QStringLiteral(".vtdirect");
}

DirectWriter::DirectWriter() { m_threads.setMaxThreadCount(std::max(1, QThread::idealThreadCount())); }

DirectWriter::~DirectWriter()
{
    m_threads.waitForDone();
    for (auto &[path, it] : m_items) {
        QString error;
        flush(*it, &error);
        close(*it);
    }
}

// The item's state, read from its journal the first time. A journal whose data file is
// gone stands for nothing; one with a damaged tail is written again without it, so that
// lines added later can be read.
std::shared_ptr<DirectWriter::Item> DirectWriter::item(const QString &journal)
{
    std::lock_guard lock(m_mutex);
    std::shared_ptr<Item> &slot = m_items[journal];
    if (slot) return slot;
    slot = std::make_shared<Item>();
    Item &it = *slot;
    it.journal = journal;
    QFile f(journal);
    if (!f.open(QIODevice::ReadOnly)) return slot;
    const std::optional<DirectJournal> j = readDirectJournal(f.readAll());
    f.close();
    const qint64 size = j ? QFileInfo(j->data).size() : 0;
    if (!j || QFileInfo(j->data).fileName() != dataFileName(journal) || !QFileInfo(j->data).isFile()) {
        QFile::remove(journal);
        return slot;
    }
    it.data = j->data;
    it.journalOnDisk = true;
    bool dropped = !j->whole || j->synced < j->parts.size();
    QFile data(it.data);
    const bool readable = data.open(QIODevice::ReadOnly);
    for (size_t k = 0; k < j->parts.size(); ++k) {
        const DirectPart &p = j->parts[k];
        const qint64 from = std::max<qint64>(p.info.begin, 1) - 1;
        // A part the file does not hold whole (shortened by hand), or one written after the
        // last sync whose bytes did not all reach the disk, is fetched again.
        bool keep = from + p.info.decoded <= size;
        if (keep && k >= j->synced) {
            keep = readable && data.seek(from);
            const QByteArray bytes = keep ? data.read(p.info.decoded) : QByteArray();
            keep = keep && bytes.size() == p.info.decoded && yencCrc32(bytes.constData(), size_t(bytes.size())) == p.info.crc;
        }
        if (keep) it.parts[p.part] = p;
        else dropped = true;
    }
    if (dropped) {
        // Written again with what stands, all of it now known good.
        QByteArray text = directJournalHeader(it.data);
        for (const auto &[n, p] : it.parts) text += directJournalLine(p);
        text += directJournalSyncMark();
        QString error;
        if (!writeWhole(journal, text, &error)) QFile::remove(journal);
    }
    return slot;
}

void DirectWriter::setHandler(const void *owner, Handler h) { m_handlers[owner] = std::move(h); }
void DirectWriter::removeHandler(const void *owner) { m_handlers.erase(owner); }

void DirectWriter::submit(const void *owner, quint64 ticket, const Paths &paths, int part, bool single, QByteArray raw)
{
    item(paths.journal);   // read on this thread: the workers never wait for a journal
    m_backlog += raw.size();
    m_threads.start([this, owner, ticket, paths, part, single, raw = std::move(raw)] {
        Result r = work(ticket, paths, part, single, raw);
        m_backlog -= raw.size();   // before the result is seen: it may release the connections
        deliver(owner, std::move(r));
    });
}

void DirectWriter::deliver(const void *owner, Result r)
{
    QMetaObject::invokeMethod(
        &m_home,
        [this, owner, r = std::move(r)]() mutable {
            auto h = m_handlers.find(owner);
            if (h != m_handlers.end()) h->second(std::move(r));
        },
        Qt::QueuedConnection);
}

DirectWriter::Result DirectWriter::work(quint64 ticket, const Paths &paths, int part, bool single, const QByteArray &raw)
{
    // Each worker keeps its buffer: only growing it touches new memory.
    thread_local YencBuffer buf;
    Result r;
    r.ticket = ticket;
    const QString why = yencDecodeRaw(raw, buf, r.info);
    r.why = why;
    const bool damaged = why == QLatin1String("CRC mismatch") || why == QLatin1String("size mismatch");
    // Where a part goes is the post's word: without it the part cache decides.
    const bool placed = r.info.multipart ? r.info.begin > 0 && r.info.fileSize : single;
    if (!placed || why == QLatin1String("no =ybegin") || why.startsWith(QLatin1String("=ypart"))
        || why == QLatin1String("no data") || why == QLatin1String("part without the file's size=")) {
        r.outcome = Outcome::NotDirect;
        r.raw = raw;
        return r;
    }
    if (!why.isEmpty() && !damaged) {
        r.outcome = Outcome::Refused;
        return r;
    }
    {
        // A copy that comes after its item's decode named the file has nowhere to go.
        std::lock_guard lock(m_mutex);
        if (m_done.count(paths.journal)) {
            r.outcome = Outcome::Duplicate;
            return r;
        }
    }
    const std::shared_ptr<Item> held = item(paths.journal);
    Item &it = *held;
    const qint64 from = std::max<qint64>(r.info.begin, 1) - 1, to = from + r.info.decoded;
    {
        std::lock_guard lock(it.m);
        if (it.parts.count(part) || it.claims.count(part)) {
            r.outcome = Outcome::Duplicate;
            return r;
        }
        // Never over bytes another part wrote or is writing.
        auto overlaps = [&](int other, qint64 a, qint64 b) {
            if (from < b && a < to) {
                r.outcome = Outcome::Refused;
                r.why = QStringLiteral("it overlaps part ") + QString::number(other);
                return true;
            }
            return false;
        };
        for (const auto &[n, p] : it.parts) {
            const qint64 a = std::max<qint64>(p.info.begin, 1) - 1;
            if (overlaps(n, a, a + p.info.decoded)) return r;
        }
        for (const auto &[n, c] : it.claims)
            if (overlaps(n, c.first, c.second)) return r;
        if (it.data.isEmpty()) it.data = paths.data;
        if (it.fd < 0) {
            it.fd = ::open(QFile::encodeName(it.data).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (it.fd < 0) {
                // The download folder cannot take it now: the part cache keeps the part,
                // and the decode says what is wrong with the folder.
                r.outcome = Outcome::NotDirect;
                r.why = fileErrorText(it.data, {}, errno);
                r.raw = raw;
                return r;
            }
        }
        it.claims[part] = {from, to};
    }
    // Parts of one item are written side by side, each to its own bytes.
    const bool wrote = writeAll(it.fd, reinterpret_cast<const char *>(buf.data()), size_t(r.info.decoded), from);
    const int err = errno;
    std::lock_guard lock(it.m);
    it.claims.erase(part);
    if (!wrote) {
        r.outcome = Outcome::LocalFailure;
        r.why = fileErrorText(it.data, {}, err);
        return r;
    }
    DirectPart done{part, r.info};
    QString error;
    if (!it.sinceSync.isValid()) it.sinceSync.start();   // the first sync a while after the first part
    if (!note(it, directJournalLine(done), &error) || (it.sinceSync.elapsed() >= kSyncMs && !flush(it, &error))) {
        r.outcome = Outcome::LocalFailure;
        r.why = error;
        return r;
    }
    it.parts[part] = std::move(done);
    r.outcome = Outcome::Written;
    return r;
}

// A line in the journal as soon as its part is written: a kill leaves both in the page
// cache, so the next start finds them.
bool DirectWriter::note(Item &it, const QByteArray &line, QString *error)
{
    QByteArray text;
    if (it.jfd < 0) {
        // Created once, with its header; gone since, it went with its item's decode.
        it.jfd = ::open(QFile::encodeName(it.journal).constData(),
                        O_WRONLY | O_APPEND | O_CLOEXEC | (it.journalOnDisk ? 0 : O_CREAT), 0644);
        if (it.jfd < 0 && errno == ENOENT && it.journalOnDisk) {
            it.unsynced = 0;
            return true;
        }
        if (it.jfd < 0) {
            *error = fileErrorText(it.journal, {}, errno);
            return false;
        }
        if (!it.journalOnDisk) text = directJournalHeader(it.data);
    }
    text += line;
    if (!writeAll(it.jfd, text.constData(), size_t(text.size()))) {
        *error = fileErrorText(it.journal, {}, errno);
        return false;
    }
    it.journalOnDisk = true;
    ++it.unsynced;
    return true;
}

// The data first, then the mark that says the lines before it stand for bytes on disk.
bool DirectWriter::flush(Item &it, QString *error)
{
    it.sinceSync.start();
    if (!it.unsynced) return true;
    if (it.fd >= 0 && ::fdatasync(it.fd) != 0) {
        *error = fileErrorText(it.data, {}, errno);
        return false;
    }
    if (!note(it, directJournalSyncMark(), error)) return false;
    if (it.jfd >= 0 && ::fdatasync(it.jfd) != 0) {
        *error = fileErrorText(it.journal, {}, errno);
        return false;
    }
    it.unsynced = 0;
    return true;
}

void DirectWriter::close(Item &it)
{
    if (it.fd >= 0) ::close(it.fd);
    if (it.jfd >= 0) ::close(it.jfd);
    it.fd = it.jfd = -1;
}

bool DirectWriter::has(const QString &journal, int part)
{
    const std::shared_ptr<Item> held = item(journal);
    Item &it = *held;
    std::lock_guard lock(it.m);
    return it.parts.count(part) > 0;
}

std::vector<DirectPart> DirectWriter::parts(const QString &journal)
{
    const std::shared_ptr<Item> held = item(journal);
    Item &it = *held;
    std::lock_guard lock(it.m);
    std::vector<DirectPart> v;
    for (const auto &[n, p] : it.parts) v.push_back(p);
    return v;
}

QString DirectWriter::dataFile(const QString &journal)
{
    const std::shared_ptr<Item> held = item(journal);
    Item &it = *held;
    std::lock_guard lock(it.m);
    return it.data;
}

// No sync: the decode that follows renames the file and the journal goes; should it not
// run, the next start checks what was not synced against the file.
void DirectWriter::settle(const QString &journal)
{
    const std::shared_ptr<Item> held = item(journal);
    Item &it = *held;
    std::lock_guard lock(it.m);
    close(it);
}

void DirectWriter::forget(const QString &journal)
{
    std::shared_ptr<Item> gone;
    {
        std::lock_guard lock(m_mutex);
        auto f = m_items.find(journal);
        if (f == m_items.end()) {
            QFile::remove(journal);
            return;
        }
        // A part still on its way keeps the item.
        std::lock_guard itemLock(f->second->m);
        if (!f->second->claims.empty()) return;
        close(*f->second);
        gone = std::move(f->second);
        m_items.erase(f);
        m_done.insert(journal);
    }
    QFile::remove(journal);
}

void DirectWriter::fetchingAgain(const QString &journal)
{
    std::lock_guard lock(m_mutex);
    m_done.erase(journal);
}

void DirectWriter::drain() { m_threads.waitForDone(); }

void DirectWriter::sweep(const QString &folder)
{
    QDirIterator it(folder, {QStringLiteral("*.JOURNAL")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) item(it.next());
}

} // namespace vt
