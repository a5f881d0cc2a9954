#include "HeaderFile.h"
#include "BatchSink.h"
#include "HeaderStore.h"
#include "core/OpsLog.h"
#include "core/PageWarmer.h"
#include "core/Prompter.h"
#include "core/StopWatch.h"
#include "core/Text.h"
#include <QDate>
#include <QFile>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QTimer>
#include <algorithm>
#include <mutex>
#include <deque>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <unordered_map>

namespace vt {

namespace {

constexpr qint64 kEpochJd = 2440588;   // 1970-01-01
// Bytes handed to the file at once: small enough that a write the kernel holds back (too
// much not yet on disk) does not hold a save step long.
constexpr qsizetype kWriteChunk = 1 << 20;

// The decimal text of v, written backwards to end; returns where it starts.
char *numberBefore(char *end, qint64 v)
{
    char *p = end;
    const bool neg = v < 0;
    quint64 u = neg ? quint64(-(v + 1)) + 1 : quint64(v);
    do {
        *--p = char('0' + u % 10);
        u /= 10;
    } while (u);
    if (neg) *--p = '-';
    return p;
}

void putNum(QByteArray &out, qint64 v)
{
    char buf[24];
    const char *p = numberBefore(buf + sizeof buf, v);
    out.append(p, buf + sizeof buf - p);
}

void putLine(QByteArray &out, const QByteArray &text)
{
    out.append(text);
    out.append("\r\n", 2);
}

void putNumLine(QByteArray &out, qint64 v)
{
    putNum(out, v);
    out.append("\r\n", 2);
}

// Writes straight into a byte array's room, grown as needed: a 10,000,000-part file is
// about 80 bytes a part in five lines, and this is what a save spends most on.
class Writer {
public:
    explicit Writer(QByteArray &out) : m_out(out) { open(out.size(), 0); }
    ~Writer() { finish(); }
    void room(qsizetype n)
    {
        if (m_end - m_at >= n) return;
        const qsizetype used = m_at - m_out.data();
        m_out.resize(used);
        open(used, n);
    }
    void put(QByteArrayView v)
    {
        const qsizetype n = v.size();
        copySmall(m_at, v.data(), size_t(n));
        m_at += n;
    }
    void line(QByteArrayView v)
    {
        put(v);
        endLine();
    }
    void endLine()
    {
        m_at[0] = '\r';
        m_at[1] = '\n';
        m_at += 2;
    }
    void number(qint64 v)
    {
        char buf[24];
        const char *p = numberBefore(buf + sizeof buf, v);
        put(QByteArrayView(p, buf + sizeof buf - p));
        endLine();
    }
    void finish() { m_out.resize(m_at - m_out.data()); }

private:
    void open(qsizetype used, qsizetype need)
    {
        m_out.resize(std::max(m_out.capacity(), used + std::max<qsizetype>(need, 1 << 16)));
        m_at = m_out.data() + used;
        m_end = m_out.data() + m_out.size();
    }
    QByteArray &m_out;
    char *m_at = nullptr, *m_end = nullptr;
};

QByteArray dateText(DateValue v)
{
    const QDate d = QDate::fromJulianDay(kEpochJd + (v >= 0 ? v / 86400 : -((-v + 86399) / 86400)));
    char buf[16];
    snprintf(buf, sizeof buf, "%02d-%02d-%04d", d.month(), d.day(), d.year());
    return QByteArray(buf);
}

DateValue parseDateLine(const char *p, qsizetype n)
{
    // mm-dd-yyyy, whatever the locale; anything else gives day zero.
    int f[3] = {0, 0, 0}, k = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (p[i] >= '0' && p[i] <= '9') {
            f[k] = f[k] * 10 + (p[i] - '0');
            if (f[k] > 99999) break;
        } else if (p[i] == '-' || p[i] == '/') {
            if (++k == 3) break;   // a fourth field is not a date's
        } else if (p[i] != ' ') {
            break;
        }
    }
    const QDate d(f[2], f[0], f[1]);
    if (!d.isValid()) return (QDate(1899, 12, 30).toJulianDay() - kEpochJd) * 86400;
    return (d.toJulianDay() - kEpochJd) * 86400;
}

// Reads lines from a whole file in memory; past the end every line is empty.
struct Lines {
    const char *d;
    qsizetype n, pos = 0;
    bool overran = false;   // a line was asked for past the end: the file was cut short
    bool atEnd() const { return pos >= n; }
    QByteArrayView next()
    {
        if (pos >= n) {
            overran = true;
            return {};
        }
        const void *nl = memchr(d + pos, '\n', size_t(n - pos));
        const qsizetype e = nl ? static_cast<const char *>(nl) - d : n;
        if (!nl) overran = true;   // every line of a whole file ends with its line break
        qsizetype le = e;
        if (le > pos && d[le - 1] == '\r') --le;
        QByteArrayView v(d + pos, le - pos);
        pos = e + 1;
        return v;
    }
    qint64 number()
    {
        const QByteArrayView v = next();
        qsizetype i = 0;
        while (i < v.size() && v[i] == ' ') ++i;
        bool neg = false;
        if (i < v.size() && (v[i] == '-' || v[i] == '+')) neg = v[i++] == '-';
        qint64 x = 0;
        for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i)
            if (x < (qint64(1) << 40)) x = x * 10 + (v[i] - '0');
        return neg ? -x : x;
    }
    // Lines left, at least: used to refuse counts the file cannot hold.
    qint64 linesLeftAtMost() const { return n - pos; }
};

} // namespace

// The file about to be replaced stays as the backup: a hard link, so that the file at the
// path is never missing; a copy where the file system has no links.
void HeaderFile::keepBackup(const QString &path)
{
    const QString bak = backupPath(path), fresh = bak + QStringLiteral(".new");
    QFile::remove(fresh);
    const bool linked = ::link(QFile::encodeName(path).constData(), QFile::encodeName(fresh).constData()) == 0;
    if (!linked && !QFile::copy(path, fresh)) return;
    ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(bak).constData());
}

// A save's writes, on a thread of their own: the kernel's part of a write (new page cache,
// the disk when too much waits for it) never lands on a step of the event loop. Written
// chunks come back to be filled again, so a save of any size cycles through a few buffers.
class HeaderFile::ChunkWriter {
public:
    static constexpr size_t kQueued = 4;
    explicit ChunkWriter(QSaveFile &file) : m_file(file), m_thread([this] { run(); }) {}
    // Stops: a chunk being written is finished, the rest are dropped.
    ~ChunkWriter()
    {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    // Queues chunk and hands back an empty buffer in its place. Never waits.
    void put(QByteArray &chunk)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        QByteArray next;
        if (!m_spare.empty()) {
            next = std::move(m_spare.back());
            m_spare.pop_back();
        } else {
            next.reserve(chunk.capacity());
        }
        m_queue.push_back(std::exchange(chunk, std::move(next)));
        m_wake.notify_one();
    }
    bool behind()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_queue.size() >= kQueued;
    }
    void waitForRoom()
    {
        std::unique_lock<std::mutex> hold(m_lock);
        m_room.wait(hold, [&] { return m_queue.size() < kQueued || m_failed; });
    }
    // Waits for every chunk queued. False when a write failed; error() says why.
    bool finish()
    {
        std::unique_lock<std::mutex> hold(m_lock);
        m_room.wait(hold, [&] { return (m_queue.empty() && !m_writing) || m_failed; });
        return !m_failed;
    }
    bool failed()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_failed;
    }
    QString error(const QString &path)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return fileErrorText(path, m_error, m_errno);
    }

private:
    void run()
    {
        WriteBehind behind;
        qint64 bytes = 0;
        std::unique_lock<std::mutex> hold(m_lock);
        for (;;) {
            m_wake.wait(hold, [&] { return m_stop || (!m_queue.empty() && !m_failed); });
            if (m_stop) return;
            QByteArray chunk = std::move(m_queue.front());
            m_queue.pop_front();
            m_writing = true;
            hold.unlock();
            const bool ok = m_file.write(chunk) == chunk.size() && m_file.flush();
            const int err = errno;
            const QString why = ok ? QString() : m_file.errorString();
            if (ok) behind.written(m_file.handle(), bytes += chunk.size());
            chunk.resize(0);
            hold.lock();
            m_writing = false;
            if (ok) {
                m_spare.push_back(std::move(chunk));
            } else {
                m_failed = true;
                m_error = why;
                m_errno = err;
            }
            m_room.notify_all();
        }
    }

    QSaveFile &m_file;
    std::mutex m_lock;
    std::condition_variable m_wake, m_room;
    std::deque<QByteArray> m_queue;
    std::vector<QByteArray> m_spare;
    bool m_writing = false, m_failed = false, m_stop = false;
    QString m_error;
    int m_errno = 0;
    std::thread m_thread;   // last: started once the rest is there
};

// A save in steps. The items to save are decided when it starts, so the count line always
// matches the item blocks; each block is written whole in one step, so an item changed
// between steps is saved as it was or as it is, never half. The batch pairs are taken from
// the batch as it is at the end. Clearing the store ends the save (the file stays as it was).
struct HeaderFile::SaveJob {
    QString path;
    const BatchSink *batch = nullptr;
    QSaveFile file;
    std::vector<int> items;
    std::vector<quint32> uses;   // the post each slot held when written
    size_t next = 0;
    QByteArray out;
    qint64 parts = 0;
    quint64 generation = 0;
    CStopWatch watch;
    bool commitElsewhere = false;   // the last step leaves the commit to a thread
    bool waitingForDisk = false;    // the last step ended because the writer was behind
    std::unique_ptr<ChunkWriter> writer;   // after file: gone before it
    explicit SaveJob(const QString &p) : path(p), file(p) {}
    // Stops the writer, then drops what was written.
    void cancel()
    {
        writer.reset();
        file.cancelWriting();
    }
};

HeaderFile::HeaderFile(HeaderStore &store, OpsLog &log, Prompter &prompter, QObject *parent)
    : QObject(parent), m_store(store), m_log(log), m_prompter(prompter)
{
}

HeaderFile::~HeaderFile()
{
    if (m_commitThread.joinable()) m_commitThread.join();
    backupDropped();
}

void HeaderFile::backupDropped()
{
    if (m_dropBackup.joinable()) m_dropBackup.join();
}

void HeaderFile::saveFailed(const QString &why)
{
    m_job->cancel();
    m_job.reset();
    m_store.headersDirty = true;
    m_prompter.message(QStringLiteral("Error: ") + why);
    m_log.LogOp(QStringLiteral("Error: headers not saved: ") + why, true);
}

bool HeaderFile::beginSave(const QString &path, const BatchSink *batch, Keep keep)
{
    m_job.reset();
    backupDropped();
    HeaderStore &s = m_store;
    auto saved = [&](int i) {
        const HeaderItem &it = s.item(i);
        if (it.deleted && !it.inBatch) return false;
        return keep == Keep::All || it.onDisk || it.inBatch;
    };
    std::vector<int> items;
    for (int i = 1; i <= s.itemCount(); ++i)
        if (saved(i)) items.push_back(i);
    if (items.empty()) {
        QFile::remove(path);
        QFile::remove(backupPath(path));
        m_mainWhole = false;
        s.headersDirty = false;
        return true;
    }
    m_job = std::make_unique<SaveJob>(path);
    SaveJob &j = *m_job;
    j.batch = batch;
    j.items = std::move(items);
    j.uses.reserve(j.items.size());
    for (int i : j.items) j.uses.push_back(s.item(i).use);
    j.generation = s.generation();
    j.out.reserve(kWriteChunk + (1 << 20));
    if (!j.file.open(QIODevice::WriteOnly)) {
        saveFailed(fileErrorText(j.path, j.file.errorString(), errno));
        return false;
    }
    j.writer = std::make_unique<ChunkWriter>(j.file);
    // The backup this save replaces goes now, on a thread: freeing a large file's pages
    // takes the kernel a while, and the pages it frees are the ones the new file reuses.
    // Until the commit the file at the path is whole, so there is always one good copy.
    if (m_mainWhole) {
        backupDropped();
        m_dropBackup = std::thread([bak = QFile::encodeName(backupPath(path))] { ::unlink(bak.constData()); });
    }
    putLine(j.out, "VTLHF15");
    putNumLine(j.out, qint64(j.items.size()));
    // What changes from now on is for the next save.
    s.headersDirty = false;
    if (progress) progress(QStringLiteral("Saving Headers"), 0, qint64(j.items.size()));
    return true;
}

HeaderFile::SaveStep HeaderFile::saveStep(qint64 budgetMs, int maxItems)
{
    if (!m_job) return SaveStep::Done;
    SaveJob &j = *m_job;
    HeaderStore &s = m_store;
    if (s.generation() != j.generation) {
        j.cancel();
        m_job.reset();
        s.headersDirty = true;
        m_log.LogOp(QStringLiteral("Headers not saved: the header list was cleared while saving"), true);
        return SaveStep::Failed;
    }
    QElapsedTimer step;
    step.start();
    int written = 0;
    j.waitingForDisk = false;
    while (j.next < j.items.size()) {
        if (j.out.size() > kWriteChunk) {
            // A step never waits for the disk: while the writer is behind, it ends.
            if (budgetMs > 0 && j.writer->behind()) {
                j.waitingForDisk = true;
                break;
            }
            j.writer->waitForRoom();
            if (j.writer->failed()) {
                saveFailed(j.writer->error(j.path));
                return SaveStep::Failed;
            }
            j.writer->put(j.out);
        }
        const int i = j.items[j.next++];
        const HeaderItem &it = s.item(i);
        {
            Writer w(j.out);
            const QByteArray date = dateText(it.postDate);
            w.room(it.subject.size() + date.size() + it.poster.size() + 64);
            w.line(it.subject);
            w.line(date);
            w.line(it.poster);
            w.number(it.declaredTotal);
            w.number(qint64(it.parts.size()));
            for (const PartRecord &p : it.parts) {
                const PartRecord::Views v = p.views();
                w.room(v.tail.size() + v.idStart.size() + v.idMiddle.size() + v.idEnd.size() + 80);
                w.number(p.byteCount);
                w.number(p.articleNumber);
                w.number(p.groupKey());
                w.line(v.tail);
                w.put(v.idStart);
                w.put(v.idMiddle);
                w.line(v.idEnd);
            }
        }
        j.parts += qint64(it.parts.size());
        if (afterItemWritten) afterItemWritten(int(j.next));
        if ((budgetMs > 0 && step.elapsed() >= budgetMs) || (maxItems > 0 && ++written >= maxItems)) break;
    }
    if (progress) progress(QString(), qint64(j.next), qint64(j.items.size()));
    if (j.next < j.items.size()) return SaveStep::More;

    // The batch as it is now: (position, ordinal) for every saved item in it.
    if (batchTaken) batchTaken();
    std::unordered_map<int, int> positions;
    if (j.batch) {
        const std::vector<int> rows = j.batch->batchItems();
        for (size_t r = 0; r < rows.size(); ++r) positions.emplace(rows[r], int(r) + 1);
    }
    QByteArray pairs;
    int pairCount = 0;
    for (size_t k = 0; k < j.items.size(); ++k) {
        const auto p = positions.find(j.items[k]);
        if (p == positions.end()) continue;
        pairs += num(p->second).toLatin1() + "\r\n" + num(qint64(k) + 1).toLatin1() + "\r\n";
        ++pairCount;
    }
    j.out += ' ';
    putNum(j.out, pairCount);
    j.out += " \r\n";
    j.out += pairs;
    j.out += "\r\n";
    j.writer->put(j.out);
    // Putting it in place waits for the disk (the last writes, a sync of the whole file, and
    // the old backup freed): a save in steps does that on a thread of its own.
    if (j.commitElsewhere) return SaveStep::Written;
    backupDropped();
    const bool ok = commit(j, m_mainWhole);
    return committed(ok, m_commitError);
}

// Waits for the last writes, keeps the file being replaced as the backup, and puts the new
// one in place: on the commit thread of a save in steps.
bool HeaderFile::commit(SaveJob &j, bool keepOld)
{
    if (!j.writer->finish()) {
        m_commitError = j.writer->error(j.path);
        return false;
    }
    j.writer.reset();
    if (keepOld) keepBackup(j.path);
    const bool ok = j.file.commit();
    m_commitError = ok ? QString() : fileErrorText(j.path, j.file.errorString(), errno);
    return ok;
}

HeaderFile::SaveStep HeaderFile::committed(bool ok, const QString &error)
{
    if (!ok) {
        saveFailed(error);
        return SaveStep::Failed;
    }
    SaveJob &j = *m_job;
    m_mainWhole = true;
    m_partsWritten = j.parts;
    if (m_store.generation() == j.generation)
        for (size_t k = 0; k < j.items.size(); ++k)
            if (m_store.item(j.items[k]).use == j.uses[k]) m_store.item(j.items[k]).onDisk = true;
    const qint64 ms = j.watch.Elapsed();
    if (ms > 0) {
        const double secs = double(ms) / 1000.0;
        m_log.LogOp(QStringLiteral("Saved") + num(j.parts) + QStringLiteral(" headers in ") + fmt(secs, 2, false)
                        + QStringLiteral(" seconds (") + fmt(double(j.parts) / secs, 0, true) + QStringLiteral(" HPS)"),
                    true);
    }
    m_job.reset();
    return SaveStep::Done;
}

bool HeaderFile::SaveHeaders(const QString &path, const BatchSink *batch, Keep keep)
{
    if (m_committing) finishSave();   // its thread holds the job: let it end first
    cancelSave();
    if (!beginSave(path, batch, keep)) return false;
    for (;;) {
        const SaveStep st = saveStep(0);
        if (st != SaveStep::More) return st == SaveStep::Done;
    }
}

void HeaderFile::startSave(const QString &path, const BatchSink *batch)
{
    if (m_job) {
        // One at a time: the one running ends, then one more takes what changed since.
        m_saveAgain = true;
        return;
    }
    m_saveAgain = false;
    if (!beginSave(path, batch)) {
        emit saveFinished(false);
        return;
    }
    if (!m_job) {
        emit saveFinished(true);
        return;
    }
    m_job->commitElsewhere = true;
    QTimer::singleShot(0, this, [this, path, batch] { continueSave(path, batch); });
}

void HeaderFile::continueSave(const QString &path, const BatchSink *batch)
{
    if (!m_job || m_committing) return;   // finished, cancelled or ending meanwhile
    const SaveStep st = saveStep(kSaveStepMs);
    if (st == SaveStep::More) {
        // While the disk is behind, the loop idles a moment rather than spin.
        QTimer::singleShot(m_job->waitingForDisk ? 2 : 0, this, [this, path, batch] { continueSave(path, batch); });
        return;
    }
    if (st == SaveStep::Written) {
        m_committing = true;
        SaveJob *job = m_job.get();
        const bool backup = m_mainWhole;
        m_commitThread = std::thread([this, job, path, batch, backup, drop = std::move(m_dropBackup)]() mutable {
            if (drop.joinable()) drop.join();
            m_commitOk = commit(*job, backup);
            QMetaObject::invokeMethod(this, [this, path, batch] {
                if (!m_committing) return;   // finishSave took it
                m_commitThread.join();
                m_committing = false;
                emit saveFinished(committed(m_commitOk, m_commitError) == SaveStep::Done);
                if (m_saveAgain) startSave(path, batch);
            }, Qt::QueuedConnection);
        });
        return;
    }
    emit saveFinished(st == SaveStep::Done);
    if (m_saveAgain) startSave(path, batch);
}

void HeaderFile::finishSave()
{
    if (!m_job) return;
    m_saveAgain = false;
    SaveStep st = SaveStep::More;
    if (m_committing) {
        m_commitThread.join();
        m_committing = false;
        st = committed(m_commitOk, m_commitError);
    } else {
        m_job->commitElsewhere = false;
        while (st == SaveStep::More) st = saveStep(0);
    }
    emit saveFinished(st == SaveStep::Done);
}

void HeaderFile::cancelSave()
{
    if (!m_job || m_committing) return;   // a file being put in place is left to finish
    m_job->cancel();
    m_job.reset();
    m_store.headersDirty = true;
    m_saveAgain = false;
}

bool HeaderFile::LoadHeaders(const QString &path, BatchSink *batch)
{
    backupDropped();
    const QString backup = backupPath(path);
    m_convertSaid = false;
    QString from = path;
    if (!QFile::exists(path)) {
        // A save that died between keeping the backup and writing the new file.
        if (!QFile::exists(backup)) return true;
        from = backup;
        m_log.LogOp(QStringLiteral("npending.dat is missing: loading the previous save from ") + backup, true);
    }
    Loaded main;
    if (!parse(from, main)) {
        if (!main.unknownVersion) return false;
        return loadInsteadOfUnreadable(path, from, batch);
    }
    m_mainWhole = main.whole && from == path;
    if (main.whole) {
        applyBatch(main, batch);
        return true;
    }

    // Damaged: the previous save is taken when it is whole; otherwise what could be read.
    const QString kept = path + QStringLiteral(".damaged");
    QFile::remove(kept);
    QFile::copy(from, kept);
    if (from == path && QFile::exists(backup)) {
        Loaded older;
        if (parse(backup, older) && older.whole) {
            const QString msg = QStringLiteral("npending.dat was damaged: the previous save (") + backup
                                + QStringLiteral(") was loaded instead; the damaged file is kept as ") + kept;
            m_log.LogOp(msg, true);
            m_prompter.message(msg);
            applyBatch(older, batch);
            m_store.headersDirty = true;   // the next save writes a whole file again
            return true;
        }
        if (!parse(from, main)) return false;
    }
    const qint64 lost = std::max<qint64>(0, main.declared - main.loaded);
    QString what;
    if (lost > 0) what = QString::number(lost) + (lost == 1 ? QStringLiteral(" item") : QStringLiteral(" items"));
    if (!main.batchWhole) what += (what.isEmpty() ? QString() : QStringLiteral(" and ")) + QStringLiteral("the batch order");
    if (what.isEmpty()) what = QStringLiteral("its end");
    const QString msg = QStringLiteral("npending.dat was damaged: ") + what + QStringLiteral(" could not be read; the damaged file is kept as ") + kept;
    m_log.LogOp(msg, true);
    m_prompter.message(msg);
    applyBatch(main, batch);
    m_store.headersDirty = true;
    return true;
}

// A file whose first line is not a version we read (empty, zeroed by a crash, another
// program's): kept aside as the damaged file, never deleted, and the previous save loaded
// in its place when that is whole. The next save then keeps the good backup as it is.
bool HeaderFile::loadInsteadOfUnreadable(const QString &path, const QString &from, BatchSink *batch)
{
    const QString kept = path + QStringLiteral(".damaged");
    QFile::remove(kept);
    QFile::rename(from, kept);
    const QString backup = backupPath(path);
    Loaded older;
    if (from == path && QFile::exists(backup) && parse(backup, older) && older.whole) {
        const QString msg = QStringLiteral("npending.dat could not be read (its first line names no known version): the previous save (")
                            + backup + QStringLiteral(") was loaded instead; the unreadable file is kept as ") + kept;
        m_log.LogOp(msg, true);
        m_prompter.message(msg);
        applyBatch(older, batch);
        m_store.headersDirty = true;
        return true;
    }
    m_store.clear();
    m_log.LogOp(QStringLiteral("Saved headers are unknown version, cannot be loaded; the file is kept as ") + kept, true);
    m_prompter.message(QStringLiteral("Saved headers are unknown version, cannot be loaded."));
    return false;
}

QString HeaderFile::backupPath(const QString &path) { return path + QStringLiteral(".bak"); }

void HeaderFile::applyBatch(const Loaded &l, BatchSink *batch)
{
    std::vector<std::pair<qint64, qint64>> pairs = l.pairs;
    std::stable_sort(pairs.begin(), pairs.end(), [](auto &x, auto &y) { return x.first < y.first; });
    if (batch) {
        std::vector<int> items;
        items.reserve(pairs.size());
        for (const auto &[pos, ord] : pairs)
            if (pos >= 1 && pos <= l.batchRows && ord >= 1 && ord <= m_store.itemCount()) items.push_back(int(ord));
        batch->addAllToBatch(items);
    }
    m_store.headersDirty = false;
}

bool HeaderFile::parse(const QString &path, Loaded &out)
{
    out = Loaded{};
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        m_log.LogOp(QStringLiteral("Error: cannot read ") + path + QStringLiteral(": ") + f.errorString(), true);
        return false;
    }
    const QByteArray data = f.readAll();
    f.close();
    Lines in{data.constData(), data.size()};
    const QByteArray version = trimBlanks(in.next().toByteArray());
    bool extraLine = false, cutFirstTail = false;
    QString status = QStringLiteral("Loading Headers");
    if (version == "VTLHF15") {
    } else if (version == "VTLHF14" || version == "VTLHF12" || version == "VTLHF11") {
        if (!m_convertSaid) {
            m_prompter.message(QStringLiteral("Saved headers are old version (") + QString::fromLatin1(version.mid(5))
                               + QStringLiteral("), will convert."));
            m_convertSaid = true;
        }
        extraLine = version == "VTLHF14" || version == "VTLHF11";
        cutFirstTail = version == "VTLHF12" || version == "VTLHF11";
        status = QStringLiteral("Converting Headers");
    } else {
        // The caller decides: the backup, or the file kept aside. Never deleted here.
        out.unknownVersion = true;
        return false;
    }

    HeaderStore &s = m_store;
    const qint64 declared = in.number();
    out.declared = std::max<qint64>(0, declared);
    // An item block takes at least five lines: no more items than the file could hold.
    const qint64 N = std::clamp<qint64>(declared, 0, in.linesLeftAtMost() / 5);
    bool whole = N == declared;
    s.clear();
    s.partsReadTotal = 0;
    if (progress) progress(status, 0, N);
    const qint64 step = std::max<qint64>(1, N / 40);
    for (qint64 i = 1; i <= N; ++i) {
        if (in.atEnd()) {
            whole = false;
            break;
        }
        HeaderItem it;
        it.onDisk = true;
        it.subject = in.next().toByteArray();
        if (extraLine) in.next();
        const QByteArrayView d = in.next();
        it.postDate = parseDateLine(d.data(), d.size());
        it.poster = in.next().toByteArray();
        it.declaredTotal = qint16(std::clamp<qint64>(in.number(), -32768, 32767));
        const qint64 declaredParts = in.number();
        // A part block is five lines: a count the rest of the file cannot hold is cut.
        const qint64 P = std::clamp<qint64>(declaredParts, 0, in.linesLeftAtMost() / 5);
        if (P != declaredParts) whole = false;
        it.parts.resize(size_t(P));
        for (qint64 j = 0; j < P; ++j) {
            PartRecord &p = it.parts[size_t(j)];
            p.byteCount = qint32(in.number());
            p.articleNumber = qint32(in.number());
            p.setGroupKey(quint8(std::clamp<qint64>(in.number(), 0, 255)));
            QByteArrayView tail = in.next();
            if (cutFirstTail && j == 0 && it.subject.contains("[xx/000")) {
                const qsizetype from = it.subject.size() - 13;   // 1-based position len - 12
                tail = from >= 0 && from <= tail.size() ? tail.sliced(from) : QByteArrayView();
            }
            s.setTexts(p, tail, in.next(), j ? &it.parts[size_t(j - 1)] : nullptr);
        }
        if (in.overran) {
            // The file ends inside this item: it is not whole, so it is not kept.
            whole = false;
            break;
        }
        s.partsReadTotal += qint64(it.parts.size());
        const QByteArray subject = it.subject, poster = it.poster;
        const int index = s.appendLoadedItem(std::move(it));
        s.AddHash(subject, poster, index);
        ++out.loaded;
        // Start-up, before the window: the splash hears how far it is.
        if (i % step == 0 && progress) progress(QString(), i, N);
    }
    // The batch: C rows, then (position, ordinal) pairs, then an empty line. Only what the
    // file holds whole counts; ordinals of items that were not read are dropped later.
    bool batchWhole = !in.atEnd();
    out.batchRows = std::clamp<qint64>(in.number(), 0, in.linesLeftAtMost());
    bool ended = false;
    while (!in.atEnd()) {
        const QByteArrayView a = in.next();
        if (trimBlanks(a.toByteArray()).isEmpty()) {
            ended = true;
            break;
        }
        const qint64 pos = leadingInt(a.toByteArray());
        const qint64 ord = in.number();
        if (in.overran) break;
        out.pairs.emplace_back(pos, ord);
    }
    batchWhole = batchWhole && ended && qint64(out.pairs.size()) >= out.batchRows;
    out.batchWhole = batchWhole && whole;
    out.whole = whole && batchWhole;
    return true;
}

} // namespace vt
