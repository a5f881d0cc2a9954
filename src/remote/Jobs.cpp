#include "Jobs.h"
#include "core/Settings.h"
#include "engine/Engine.h"
#include "nzb/NzbFile.h"
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <unordered_set>

namespace vt {

QString safeJobName(const QString &wanted)
{
    QString out;
    for (const QChar c : wanted) {
        if (c == u'/' || c == u'\\' || c.unicode() < 32 || c.unicode() == 127) out += u'_';
        else out += c;
    }
    out = out.trimmed();
    while (out.startsWith(u'.') || out.startsWith(u'-')) out.remove(0, 1);
    while (out.toUtf8().size() > 200) out.chop(1);
    return out.isEmpty() ? QStringLiteral("job") : out;
}

Jobs::Jobs(Engine &engine) : m_engine(engine) {}

namespace {
QByteArray field(const QString &s) { return s.toUtf8().toPercentEncoding(); }
QString text(const QByteArray &b) { return QString::fromUtf8(QByteArray::fromPercentEncoding(b)); }
const char *stateName(Job::State s) { return s == Job::State::Queued ? "queued" : s == Job::State::Completed ? "completed" : "failed"; }
} // namespace

bool Jobs::load(const QString &path)
{
    m_path = path;
    m_jobs.clear();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> c = line.split('\t');
        if (c.size() < 10 || c[0].isEmpty()) continue;
        Job j;
        j.id = text(c[0]);
        j.name = text(c[1]);
        j.category = text(c[2]);
        j.folder = text(c[3]);
        if (!j.folder.startsWith(u'/') || !j.folder.endsWith(u'/')) continue;
        j.state = c[4] == "completed" ? Job::State::Completed : c[4] == "failed" ? Job::State::Failed : Job::State::Queued;
        j.bytes = c[5].toLongLong();
        j.added = c[6].toLongLong();
        j.completed = c[7].toLongLong();
        j.failMessage = text(c[8]);
        for (const QByteArray &k : c[9].split(','))
            if (!k.isEmpty()) j.keys << QByteArray::fromPercentEncoding(k);
        m_jobs.push_back(std::move(j));
    }
    m_indexed = -1;
    return true;
}

bool Jobs::save() const
{
    if (m_path.isEmpty()) return false;
    QSaveFile f(m_path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    for (const Job &j : m_jobs) {
        QList<QByteArray> keys;
        for (const QByteArray &k : j.keys) keys << k.toPercentEncoding();
        f.write(field(j.id) + '\t' + field(j.name) + '\t' + field(j.category) + '\t' + field(j.folder) + '\t' + stateName(j.state)
                + '\t' + QByteArray::number(j.bytes) + '\t' + QByteArray::number(j.added) + '\t' + QByteArray::number(j.completed)
                + '\t' + field(j.failMessage) + '\t' + keys.join(',') + '\n');
    }
    return f.commit();
}

Job *Jobs::find(const QString &id)
{
    for (Job &j : m_jobs)
        if (j.id == id) return &j;
    return nullptr;
}

void Jobs::index()
{
    const HeaderStore &store = m_engine.store;
    if (m_indexed == store.itemCount()) return;
    m_items.clear();
    for (int n = 1; n <= store.itemCount(); ++n) {
        const HeaderItem &it = store.item(n);
        if (it.deleted) continue;
        const QByteArray key = nzbKeyOf(it);
        if (!key.isEmpty()) m_items.insert(key, n);
    }
    m_indexed = store.itemCount();
}

std::vector<int> Jobs::itemsOf(const Job &j)
{
    index();
    std::vector<int> out;
    for (const QByteArray &k : j.keys) {
        const int n = m_items.value(k);
        if (n > 0 && n <= m_engine.store.itemCount() && nzbKeyOf(m_engine.store.item(n)) == k) out.push_back(n);
    }
    return out;
}

QString Jobs::freeFolder(const QString &base, const QString &name, const Job *self) const
{
    // A folder of its own, never one another job has or one already there.
    QString folder = base + name + u'/';
    for (int n = 1; QFileInfo::exists(folder) || std::any_of(m_jobs.begin(), m_jobs.end(), [&](const Job &j) { return &j != self && j.folder == folder; }); ++n)
        folder = base + name + u'.' + QString::number(n) + u'/';
    MakeFolder(base);
    if (QFileInfo(QFileInfo(folder.chopped(1)).absolutePath()).canonicalFilePath() != QFileInfo(base).canonicalFilePath()) return {};
    return folder;
}

QString Jobs::add(const QByteArray &nzbBytes, const Add &how, QString *error)
{
    const NzbLimits limits;
    QByteArray data = nzbBytes;
    QString why;
    if (!unpackNzbBytes(data, limits.maxBytes, &why)) {
        *error = why;
        return {};
    }
    const NzbParse p = parseNzb(data, limits);
    if (!p.ok) {
        *error = p.error;
        return {};
    }
    Settings &s = m_engine.core.settings;
    // The caller's category when the user has it, else the NZB's own, else none.
    auto known = [&](const QString &name) {
        return std::any_of(s.categories.begin(), s.categories.end(), [&](const Category &c) { return c.name.compare(name.trimmed(), Qt::CaseInsensitive) == 0; });
    };
    QString category = known(how.category) ? how.category.trimmed() : QString();
    if (category.isEmpty())
        for (const auto &[type, value] : p.doc.meta)
            if (type.compare(QLatin1String("category"), Qt::CaseInsensitive) == 0 && known(value)) category = value.trimmed();
    QString name = how.name;
    if (name.endsWith(QLatin1String(".gz"), Qt::CaseInsensitive)) name.chop(3);
    if (name.endsWith(QLatin1String(".nzb"), Qt::CaseInsensitive)) name.chop(4);
    name = safeJobName(name);
    const QString base = s.categoryFolder(category);
    if (MakeFolder(base) != 0) {
        *error = QStringLiteral("cannot make the folder ") + base;
        return {};
    }
    const QString folder = freeFolder(base, name, nullptr);
    if (folder.isEmpty()) {
        *error = QStringLiteral("the name makes no folder inside ") + base;
        return {};
    }
    NzbImport r = importNzbDocument(p.doc, name + QStringLiteral(".nzb"), m_engine.store, m_engine.batch, m_engine.nzb);
    if (!r.ok || r.items.empty()) {
        *error = r.message.isEmpty() ? QStringLiteral("the NZB lists no file") : r.message;
        return {};
    }
    Job j;
    j.id = QStringLiteral("VANTREL_nzo_") + QString::number(QRandomGenerator::system()->generate64(), 36);
    j.name = name;
    j.category = category;
    j.folder = folder;
    j.added = QDateTime::currentSecsSinceEpoch();
    for (int i : r.items) {
        HeaderItem &it = m_engine.store.item(i);
        if (NzbOrigin *o = m_engine.nzb.originOf(it)) {
            o->category = category;
            o->folder = folder;
            o->job = j.id;
            if (o->password.isEmpty()) o->password = how.password;
        }
        j.keys << nzbKeyOf(it);
        for (const PartRecord &part : it.parts) j.bytes += part.byteCount;
    }
    m_engine.core.LogOp(r.message + QStringLiteral(" as job ") + j.id + (category.isEmpty() ? QString() : QStringLiteral(", category ") + category), true);
    if (how.priority == -2 || how.priority >= 1) {
        std::unordered_set<int> mine(r.queued.begin(), r.queued.end());
        std::vector<int> rows;
        const std::vector<int> order = m_engine.batch.batchItems();
        for (size_t n = 0; n < order.size(); ++n)
            if (mine.count(order[n])) rows.push_back(int(n));
        if (how.priority == -2) m_engine.batch.setPaused(rows, true);
        else m_engine.batch.MoveSelectedToTop(rows);
    }
    m_jobs.push_back(std::move(j));
    m_engine.nzb.save(m_engine.core.paths.nzbOrigins());
    m_engine.view.ViewRefresh(false);
    m_engine.batch.ShowBatchSize();
    save();
    return m_jobs.back().id;
}

QString Jobs::setCategory(const std::vector<int> &items, const QString &category)
{
    Settings &s = m_engine.core.settings;
    QString name = category.trimmed();
    if (std::none_of(s.categories.begin(), s.categories.end(), [&](const Category &c) { return c.name.compare(name, Qt::CaseInsensitive) == 0; }))
        name.clear();
    int scanned = 0, started = 0;
    QHash<QString, int> madeNow;   // NZB name -> index of the job made for it here
    for (int i : items) {
        if (i < 1 || i > m_engine.store.itemCount()) continue;
        const HeaderItem &it = m_engine.store.item(i);
        NzbOrigin *o = m_engine.nzb.originOf(it);
        if (!o) {
            ++scanned;
            continue;
        }
        // Parts already fetched lie in the folder the item had: it stays there.
        bool any = false;
        for (int part = 1; part <= int(it.parts.size()) && !any; ++part) any = m_engine.cache.isCached(i, part);
        if (any) {
            ++started;
            continue;
        }
        Job *j = o->job.isEmpty() ? nullptr : find(o->job);
        if (!j) {
            // The items of one NZB chosen together become one job.
            const auto made = madeNow.constFind(o->nzbName);
            if (made != madeNow.cend()) {
                j = &m_jobs[size_t(*made)];
            } else {
                QString jobName = o->nzbName;
                if (jobName.endsWith(QLatin1String(".gz"), Qt::CaseInsensitive)) jobName.chop(3);
                if (jobName.endsWith(QLatin1String(".nzb"), Qt::CaseInsensitive)) jobName.chop(4);
                Job fresh;
                fresh.id = QStringLiteral("VANTREL_nzo_") + QString::number(QRandomGenerator::system()->generate64(), 36);
                fresh.name = safeJobName(jobName);
                fresh.added = QDateTime::currentSecsSinceEpoch();
                madeNow.insert(o->nzbName, int(m_jobs.size()));
                m_jobs.push_back(std::move(fresh));
                j = &m_jobs.back();
            }
            j->keys << nzbKeyOf(it);
            for (const PartRecord &part : it.parts) j->bytes += part.byteCount;
            o->job = j->id;
        }
        if (j->category != name || j->folder.isEmpty()) {
            j->category = name;
            j->folder = freeFolder(s.categoryFolder(name), j->name, j);
        }
        o->category = name;
        o->folder = j->folder;
    }
    m_engine.nzb.save(m_engine.core.paths.nzbOrigins());
    save();
    QStringList said;
    if (scanned) said << QStringLiteral("%1 item(s) from a scan have no category: only items from NZB files take one").arg(scanned);
    if (started) said << QStringLiteral("%1 item(s) already partly downloaded keep their folder").arg(started);
    return said.join(QStringLiteral("; "));
}

void Jobs::settle()
{
    std::unordered_set<int> queued;
    for (int i : m_engine.batch.batchItems()) queued.insert(i);
    bool changed = false;
    for (Job &j : m_jobs) {
        if (j.state != Job::State::Queued) continue;
        const std::vector<int> items = itemsOf(j);
        if (std::any_of(items.begin(), items.end(), [&](int i) { return queued.count(i) > 0; })) continue;
        // par2 and unpacking run for its folder as its last item is decoded.
        if (m_engine.download.par2().busyWith(j.folder)) continue;
        // The rows of its folder: par2 and unpacking have the last word where they ran.
        QString firstFailure, postFailure;
        bool rows = false, post = false;
        for (const ProcessedEntry &e : m_engine.processed.entries()) {
            if (!e.fileName.startsWith(j.folder)) continue;
            rows = true;
            const bool isPost = e.status.startsWith(QLatin1String("par2")) || e.status.contains(QLatin1String("npack"));
            post |= isPost;
            if (!e.ok && firstFailure.isEmpty()) firstFailure = e.status;
            if (!e.ok && isPost && postFailure.isEmpty()) postFailure = e.status;
        }
        const QString failure = !rows ? QStringLiteral("Nothing was downloaded") : post ? postFailure : firstFailure;
        j.state = failure.isEmpty() ? Job::State::Completed : Job::State::Failed;
        j.failMessage = failure;
        j.completed = QDateTime::currentSecsSinceEpoch();
        changed = true;
    }
    if (changed) save();
}

void Jobs::remove(const QString &id)
{
    const auto at = std::find_if(m_jobs.begin(), m_jobs.end(), [&](const Job &j) { return j.id == id; });
    if (at == m_jobs.end()) return;
    if (at->state == Job::State::Queued) {
        for (int i : itemsOf(*at)) m_engine.batch.RemoveFromBatch(i, true, false);
        m_indexed = -1;
    }
    m_jobs.erase(at);
    save();
}

} // namespace vt
