#include "SabApi.h"
#include "Multipart.h"
#include "core/CommandLine.h"
#include "engine/Engine.h"
#include "nzb/NzbFile.h"
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QStorageInfo>
#include <unordered_map>

namespace vt {

namespace {
HttpAnswer json(const QJsonObject &o, int status = 200) { return {status, "application/json", QJsonDocument(o).toJson(QJsonDocument::Compact)}; }
HttpAnswer failure(const QString &error, int status = 200)
{
    return json(QJsonObject{{"status", false}, {"error", error}}, status);
}
QString mb(qint64 bytes) { return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 2); }
QString sizeText(qint64 bytes)
{
    const double b = double(bytes);
    if (b >= 1024.0 * 1024 * 1024) return QString::number(b / (1024.0 * 1024 * 1024), 'f', 1) + QStringLiteral(" GB");
    if (b >= 1024.0 * 1024) return QString::number(b / (1024.0 * 1024), 'f', 1) + QStringLiteral(" MB");
    return QString::number(b / 1024.0, 'f', 1) + QStringLiteral(" KB");
}
QString timeLeft(qint64 seconds)
{
    if (seconds < 0) seconds = 0;
    return QStringLiteral("%1:%2:%3").arg(seconds / 3600).arg((seconds / 60) % 60, 2, 10, QLatin1Char('0')).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
qint64 itemBytes(const HeaderItem &it)
{
    qint64 b = 0;
    for (const PartRecord &p : it.parts) b += p.byteCount;
    return b;
}
} // namespace

struct SabApi::Request {
    const HttpCall &c;
    FormData form;
    QString get(const char *key) const
    {
        const QString k = QString::fromLatin1(key);
        for (const auto &[name, value] : c.query)
            if (name == k) return value;
        if (const FormPart *p = form.field(key); p && p->fileName.isEmpty()) return QString::fromUtf8(p->data);
        return {};
    }
};

SabApi::SabApi(Engine &engine, Jobs &jobs) : m_engine(engine), m_jobs(jobs) {}

bool sameSecret(const QByteArray &want, const QByteArray &got)
{
    // The same time for every wrong one of the right length.
    if (want.size() != got.size()) return false;
    unsigned diff = 0;
    for (qsizetype i = 0; i < want.size(); ++i) diff |= unsigned(want[i] ^ got[i]);
    return diff == 0;
}

bool SabApi::waiting(const QString &peer, qint64 *msLeft) const
{
    const auto t = m_tries.constFind(peer);
    if (t == m_tries.cend() || t->waitMs <= 0 || !t->since.isValid() || t->since.elapsed() >= t->waitMs) return false;
    if (msLeft) *msLeft = t->waitMs - t->since.elapsed();
    return true;
}

void SabApi::wrongTry(const QString &peer)
{
    Tries &t = m_tries[peer];
    if (++t.wrong >= kFreeTries) {
        t.waitMs = std::min<qint64>(60'000, 1000LL << std::min(t.wrong - kFreeTries, 6));
        t.since.start();
    }
}

QString SabApi::apiKey()
{
    QString &key = m_engine.core.settings.Remote_ApiKey;
    if (key.size() < 16) {
        key.clear();
        for (int i = 0; i < 4; ++i) key += QStringLiteral("%1").arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
        m_engine.core.settingsFile.SaveSettings(m_engine.core.settings);
    }
    return key;
}

HttpAnswer SabApi::handle(const HttpCall &call)
{
    Request r{call, {}};
    if (multipartBoundary(call.contentType).size() > 0) {
        r.form = parseMultipart(call.body, call.contentType);
        if (!r.form.ok) return failure(QStringLiteral("Bad upload: ") + r.form.error, 400);
    } else if (call.contentType.startsWith("application/x-www-form-urlencoded")) {
        // Form fields count as the query's.
        QList<QPair<QString, QString>> more = call.query;
        for (const QByteArray &pair : call.body.split('&')) {
            const qsizetype eq = pair.indexOf('=');
            if (eq <= 0) continue;
            auto decode = [](QByteArray b) { return QString::fromUtf8(QByteArray::fromPercentEncoding(b.replace('+', ' '))); };
            more.append({decode(pair.left(eq)), decode(pair.mid(eq + 1))});
        }
        HttpCall merged = call;
        merged.query = more;
        merged.contentType.clear();
        return handle(merged);
    }
    const QString mode = r.get("mode").toLower();
    if (mode == QLatin1String("version")) return json({{"version", kVersion}});

    // The key: wrong ones from one address make it wait, longer each time.
    qint64 left = 0;
    if (waiting(call.peer, &left)) return failure(QStringLiteral("Too many wrong API keys: wait %1 s").arg((left + 999) / 1000), 429);
    // Tools may send the web page's user name and password instead of the key.
    const Settings &set = m_engine.core.settings;
    bool signedIn = call.signedIn;
    if (!signedIn && !set.Remote_User.isEmpty() && !r.get("ma_username").isEmpty()) {
        signedIn = sameSecret((set.Remote_User + u':' + set.Remote_Password).toUtf8(), (r.get("ma_username") + u':' + r.get("ma_password")).toUtf8());
        if (!signedIn) {
            wrongTry(call.peer);
            return failure(QStringLiteral("Authentication failed"), 403);
        }
    }
    if (!signedIn) {
        QString given = r.get("apikey");
        if (given.isEmpty()) given = QString::fromLatin1(call.apiKeyHeader);
        if (given.isEmpty()) return failure(QStringLiteral("API Key Required"), 403);
        if (!sameSecret(apiKey().toUtf8(), given.toUtf8())) {
            wrongTry(call.peer);
            return failure(QStringLiteral("API Key Incorrect"), 403);
        }
        rightTry(call.peer);
    }

    if (mode == QLatin1String("queue")) return queue(r);
    if (mode == QLatin1String("history")) return history(r);
    if (mode == QLatin1String("get_config")) return config();
    if (mode == QLatin1String("get_cats")) {
        QJsonArray cats{"*"};
        for (const Category &c : m_engine.core.settings.categories) cats.append(c.name);
        return json({{"categories", cats}});
    }
    if (mode == QLatin1String("status") || mode == QLatin1String("fullstatus")) return status(mode == QLatin1String("fullstatus"));
    if (mode == QLatin1String("pause")) {
        m_paused = true;
        if (m_engine.download.running()) m_engine.download.stop();
        return json({{"status", true}});
    }
    if (mode == QLatin1String("resume")) {
        m_paused = false;
        startIfWanted();
        return json({{"status", true}});
    }
    if (mode == QLatin1String("addfile")) {
        const FormPart *f = r.form.field("name");
        if (!f || f->fileName.isEmpty()) f = r.form.field("nzbfile");
        if (!f) return failure(QStringLiteral("No NZB file in the upload (field \"name\" or \"nzbfile\")"), 400);
        return addNzb(f->data, QString::fromUtf8(f->fileName), r);
    }
    if (mode == QLatin1String("addlocalfile")) {
        // A file on this machine: only an NZB by its name, read as one, never anything else.
        const QString path = r.get("name");
        const QFileInfo fi(path);
        if (!fi.isAbsolute() || !isNzbFileName(fi.fileName()) || !fi.isFile())
            return failure(QStringLiteral("addlocalfile takes the absolute path of an .nzb or .nzb.gz file"), 400);
        QFile file(path);
        if (fi.size() > NzbLimits().maxBytes || !file.open(QIODevice::ReadOnly)) return failure(QStringLiteral("Cannot read that NZB file"), 400);
        return addNzb(file.readAll(), fi.fileName(), r);
    }
    return failure(QStringLiteral("not implemented"), 400);
}

HttpAnswer SabApi::addNzb(const QByteArray &nzb, const QString &fileName, const Request &r)
{
    if (nzb.size() > NzbLimits().maxBytes) return failure(QStringLiteral("The NZB file is too large"), 413);
    Jobs::Add how;
    how.name = r.get("nzbname").isEmpty() ? fileName : r.get("nzbname");
    how.category = r.get("cat");
    how.password = r.get("password");
    bool ok = false;
    const int priority = r.get("priority").toInt(&ok);
    how.priority = ok ? priority : 0;
    QString error;
    const QString id = m_jobs.add(nzb, how, &error);
    if (id.isEmpty()) return failure(error);
    startIfWanted();
    return json({{"status", true}, {"nzo_ids", QJsonArray{id}}});
}

void SabApi::startIfWanted()
{
    if (!m_paused && !m_engine.batch.batchItems().empty() && !m_engine.download.running()) m_engine.download.BOT1();
}

HttpAnswer SabApi::queue(const Request &r)
{
    const QString name = r.get("name").toLower();
    const QStringList ids = r.get("value").split(u',', Qt::SkipEmptyParts);
    if (name == QLatin1String("delete") || name == QLatin1String("pause") || name == QLatin1String("resume")) {
        QJsonArray done;
        std::vector<QString> chosen;
        for (const Job &j : m_jobs.all())
            if (j.state == Job::State::Queued && (ids.contains(j.id) || ids.contains(QStringLiteral("all")))) chosen.push_back(j.id);
        for (const QString &id : chosen) {
            done.append(id);
            if (name == QLatin1String("delete")) {
                m_jobs.remove(id);
                continue;
            }
            Job *j = m_jobs.find(id);
            std::unordered_map<int, int> rowOf;
            const std::vector<int> order = m_engine.batch.batchItems();
            for (size_t n = 0; n < order.size(); ++n) rowOf[order[n]] = int(n);
            std::vector<int> rows;
            for (int i : m_jobs.itemsOf(*j))
                if (rowOf.count(i)) rows.push_back(rowOf[i]);
            m_engine.batch.setPaused(rows, name == QLatin1String("pause"));
        }
        if (name == QLatin1String("resume")) startIfWanted();
        return json({{"status", true}, {"nzo_ids", done}});
    }
    m_jobs.settle();
    const std::vector<int> order = m_engine.batch.batchItems();
    std::unordered_map<int, int> rowOf;
    for (size_t n = 0; n < order.size(); ++n) rowOf[order[n]] = int(n);
    const DownloadDriver::Progress p = m_engine.download.progress();
    QJsonArray slotList;
    qint64 allBytes = 0, allLeft = 0;
    struct Slot {
        int first;
        QJsonObject o;
    };
    std::vector<Slot> list;
    const QString wanted = r.get("category");
    for (const Job &j : m_jobs.all()) {
        if (j.state != Job::State::Queued) continue;
        if (!wanted.isEmpty() && wanted != u'*' && wanted.compare(j.category, Qt::CaseInsensitive) != 0) continue;
        qint64 left = 0;
        int first = INT_MAX;
        bool anyQueued = false, allPaused = true, top = false;
        for (int i : m_jobs.itemsOf(j)) {
            const auto at = rowOf.find(i);
            if (at == rowOf.end()) continue;
            anyQueued = true;
            first = std::min(first, at->second);
            allPaused &= m_engine.batch.paused(i);
            top |= i == p.topItem;
            left += i == p.topItem ? std::max<qint64>(0, p.itemTotal - p.itemDone) : itemBytes(m_engine.store.item(i));
        }
        if (!anyQueued) continue;   // fetched: post-processing, shown in the history
        allBytes += j.bytes;
        allLeft += left;
        const QString state = allPaused ? QStringLiteral("Paused") : top && m_engine.download.running() ? QStringLiteral("Downloading")
                                                                                                        : QStringLiteral("Queued");
        const qint64 secs = p.rate > 0 ? qint64(double(left) / p.rate) : 0;
        list.push_back({first, QJsonObject{{"status", state},
                                           {"nzo_id", j.id},
                                           {"filename", j.name},
                                           {"cat", j.category.isEmpty() ? QStringLiteral("*") : j.category},
                                           {"priority", "Normal"},
                                           {"mb", mb(j.bytes)},
                                           {"mbleft", mb(left)},
                                           {"size", sizeText(j.bytes)},
                                           {"sizeleft", sizeText(left)},
                                           {"percentage", QString::number(j.bytes > 0 ? (100 * (j.bytes - left)) / j.bytes : 0)},
                                           {"timeleft", timeLeft(secs)},
                                           {"labels", QJsonArray()}}});
    }
    std::sort(list.begin(), list.end(), [](const Slot &a, const Slot &b) { return a.first < b.first; });
    const int start = std::max(0, r.get("start").toInt());
    const int limit = r.get("limit").toInt();
    for (size_t n = 0; n < list.size(); ++n) {
        list[n].o.insert("index", int(n));
        if (int(n) >= start && (limit <= 0 || int(n) < start + limit)) slotList.append(list[n].o);
    }
    const bool running = m_engine.download.running();
    const qint64 secs = p.rate > 0 ? qint64(double(allLeft) / p.rate) : 0;
    QJsonObject q{{"status", m_paused ? "Paused" : running ? "Downloading" : "Idle"},
                  {"paused", m_paused},
                  {"speed", sizeText(qint64(p.rate)) + QStringLiteral("/s")},
                  {"kbpersec", QString::number(p.rate / 1024.0, 'f', 2)},
                  {"mb", mb(allBytes)},
                  {"mbleft", mb(allLeft)},
                  {"size", sizeText(allBytes)},
                  {"sizeleft", sizeText(allLeft)},
                  {"timeleft", timeLeft(secs)},
                  {"noofslots", int(list.size())},
                  {"noofslots_total", int(list.size())},
                  {"version", kVersion},
                  {"slots", slotList}};
    return json({{"queue", q}});
}

HttpAnswer SabApi::history(const Request &r)
{
    if (r.get("name").toLower() == QLatin1String("delete")) {
        const QStringList ids = r.get("value").split(u',', Qt::SkipEmptyParts);
        std::vector<QString> chosen;
        for (const Job &j : m_jobs.all()) {
            if (j.state == Job::State::Queued) continue;
            if (ids.contains(j.id) || ids.contains(QStringLiteral("all")) || (ids.contains(QStringLiteral("failed")) && j.state == Job::State::Failed))
                chosen.push_back(j.id);
        }
        for (const QString &id : chosen) m_jobs.remove(id);
        return json({{"status", true}});
    }
    m_jobs.settle();
    const QString wanted = r.get("category");
    const std::vector<int> order = m_engine.batch.batchItems();
    std::unordered_set<int> queued(order.begin(), order.end());
    std::vector<const Job *> list;
    for (const Job &j : m_jobs.all()) {
        if (!wanted.isEmpty() && wanted != u'*' && wanted.compare(j.category, Qt::CaseInsensitive) != 0) continue;
        if (j.state == Job::State::Queued) {
            // Fetched, not yet settled: par2 or unpacking still at work.
            const std::vector<int> items = m_jobs.itemsOf(j);
            if (std::any_of(items.begin(), items.end(), [&](int i) { return queued.count(i) > 0; })) continue;
        }
        list.push_back(&j);
    }
    // The newest first, as the tools expect.
    std::sort(list.begin(), list.end(), [](const Job *a, const Job *b) {
        return (a->completed ? a->completed : LLONG_MAX) > (b->completed ? b->completed : LLONG_MAX);
    });
    const int start = std::max(0, r.get("start").toInt());
    const int limit = r.get("limit").toInt();
    QJsonArray slotList;
    qint64 total = 0;
    for (size_t n = 0; n < list.size(); ++n) {
        const Job &j = *list[n];
        total += j.bytes;
        if (int(n) < start || (limit > 0 && int(n) >= start + limit)) continue;
        const QString state = j.state == Job::State::Completed ? QStringLiteral("Completed")
                              : j.state == Job::State::Failed  ? QStringLiteral("Failed")
                                                               : QStringLiteral("Running");
        QString storage = j.folder;
        if (storage.endsWith(u'/')) storage.chop(1);
        slotList.append(QJsonObject{{"nzo_id", j.id},
                                 {"name", j.name},
                                 {"nzb_name", j.name + QStringLiteral(".nzb")},
                                 {"category", j.category.isEmpty() ? QStringLiteral("*") : j.category},
                                 {"status", state},
                                 {"fail_message", j.failMessage},
                                 {"storage", storage},
                                 {"path", storage},
                                 {"bytes", j.bytes},
                                 {"size", sizeText(j.bytes)},
                                 {"completed", j.completed},
                                 {"download_time", j.completed > j.added ? int(j.completed - j.added) : 0},
                                 {"postproc_time", 0},
                                 {"stage_log", QJsonArray()},
                                 {"script_log", ""},
                                 {"action_line", ""},
                                 {"retry", 0}});
    }
    return json({{"history", QJsonObject{{"noofslots", int(list.size())}, {"total_size", sizeText(total)}, {"slots", slotList}, {"version", kVersion}}}});
}

HttpAnswer SabApi::config()
{
    const Settings &s = m_engine.core.settings;
    QString complete = s.Download_Path;
    if (complete.endsWith(u'/')) complete.chop(1);
    QJsonArray cats{QJsonObject{{"name", "*"}, {"order", 0}, {"pp", "3"}, {"script", "None"}, {"dir", ""}, {"priority", 0}}};
    int order = 1;
    for (const Category &c : s.categories) {
        QString dir = s.categoryFolder(c.name);
        if (dir.endsWith(u'/')) dir.chop(1);
        cats.append(QJsonObject{{"name", c.name}, {"order", order++}, {"pp", "3"}, {"script", "None"}, {"dir", dir}, {"priority", -100}});
    }
    QJsonObject misc{{"complete_dir", complete},
                     {"download_dir", complete},
                     {"pre_check", 0},
                     {"history_retention", ""},
                     {"enable_tv_sorting", 0},
                     {"enable_movie_sorting", 0},
                     {"enable_date_sorting", 0},
                     {"tv_categories", QJsonArray()},
                     {"movie_categories", QJsonArray()},
                     {"date_categories", QJsonArray()}};
    return json({{"config", QJsonObject{{"misc", misc}, {"categories", cats}, {"sorters", QJsonArray()}}}});
}

HttpAnswer SabApi::status(bool full)
{
    const Settings &s = m_engine.core.settings;
    const DownloadDriver::Progress p = m_engine.download.progress();
    QString complete = s.Download_Path;
    if (complete.endsWith(u'/')) complete.chop(1);
    const QStorageInfo disk(s.Download_Path);
    const double freeGb = double(disk.bytesAvailable()) / (1024.0 * 1024 * 1024), totalGb = double(disk.bytesTotal()) / (1024.0 * 1024 * 1024);
    QJsonObject o{{"paused", m_paused},
                  {"speed", sizeText(qint64(p.rate)) + QStringLiteral("/s")},
                  {"kbpersec", QString::number(p.rate / 1024.0, 'f', 2)},
                  {"mbleft", mb(std::max<qint64>(0, p.batchTotal - p.batchDone))},
                  {"mb", mb(p.batchTotal)},
                  {"noofslots", int(m_engine.batch.batchItems().size())},
                  {"completedir", complete},
                  {"downloaddir", complete},
                  {"diskspace1", QString::number(freeGb, 'f', 2)},
                  {"diskspacetotal1", QString::number(totalGb, 'f', 2)},
                  {"diskspace2", QString::number(freeGb, 'f', 2)},
                  {"diskspacetotal2", QString::number(totalGb, 'f', 2)},
                  {"version", kVersion}};
    if (full) o.insert("servers", QJsonArray());
    return json({{"status", o}});
}

} // namespace vt
