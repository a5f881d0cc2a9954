#include "HostGroupList.h"
#include "NewsgroupTable.h"
#include "core/AppCore.h"
#include "core/ListRoles.h"
#include "nntp/ReplyKind.h"
#include "nntp/Session.h"
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <cstring>
#include <memory>

namespace vt {

// ---- results ----

QVariant HostGroupResults::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size())) return {};
    const Row &r = m_rows[size_t(index.row())];
    const QString *cells[] = {&r.name, &r.total, &r.first, &r.last};
    if (role == Qt::DisplayRole) return *cells[index.column()];
    if (role == Qt::UserRole) {
        // Numbers sort as numbers; " ? " goes last.
        if (index.column() == 0) return r.name;
        bool ok = false;
        const qlonglong v = cells[index.column()]->trimmed().toLongLong(&ok);
        return ok ? v : std::numeric_limits<qlonglong>::max();
    }
    if (role == IconKeyRole && index.column() == 0) return QStringLiteral("unknown");
    return {};
}

QVariant HostGroupResults::headerData(int section, Qt::Orientation o, int role) const
{
    static const char *titles[] = {"Newsgroup Name", "Total (est.)", "First", "Last"};
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 4) return QString::fromLatin1(titles[section]);
    return {};
}

void HostGroupResults::clear()
{
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    endResetModel();
}

void HostGroupResults::append(std::vector<Row> &rows)
{
    if (rows.empty()) return;
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + rows.size()) - 1);
    m_rows.insert(m_rows.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    endInsertRows();
    rows.clear();
}

// ---- the list ----

HostGroupList::HostGroupList(AppCore &core, Session &session, NewsgroupTable &groups, QObject *parent)
    : QObject(parent), m_core(core), m_session(session), m_groups(groups)
{
    conn.setStreaming(true);   // lists run to many megabytes: straight to the file
    connect(&conn, &Connection::replyReceived, this, &HostGroupList::onReply);
    connect(&conn, &Connection::bodyReceived, this, &HostGroupList::onBody);
    connect(&conn, &Connection::socketError, this, [this](const QString &e) {
        Status(QStringLiteral("Error: ") + e);
        conn.close();
        endDownload();
    });
    connect(&conn, &Connection::peerClosed, this, [this] {
        // A broken transfer keeps what arrived; the list loads whatever is there.
        if (!m_downloading) return;
        WriteGroupPacket();
        conn.close();
        endDownload();
        Preload_groups();
    });
}

QString HostGroupList::filePath() const { return m_core.paths.hostGroups(); }

QString HostGroupList::kbText(qint64 bytes, bool tenths)
{
    const qint64 tenthsOfKb = (bytes * 10 + 512) / 1024;
    qint64 whole = tenths ? tenthsOfKb / 10 : (bytes + 512) / 1024;
    QString digits = QString::number(whole);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, u',');
    return tenths ? digits + u'.' + QString::number(tenthsOfKb % 10) : digits;
}

void HostGroupList::Status(const QString &text, int panel)
{
    (panel == 0 ? m_status0 : m_status1) = text;
    emit statusChanged(text, panel, hostGroupsForAssistant && panel == 0);
}

void HostGroupList::Preload_groups()
{
    // A search over the list being replaced ends here: its rows go with the old list.
    if (m_searching) {
        m_search.reset();
        m_searching = false;
        m_abort = false;
        m_matches = 0;
    }
    results.clear();
    Status(QStringLiteral("Loading..."));
    QFile f(filePath());
    if (f.exists() && f.open(QIODevice::ReadOnly)) {
        hostGroupText = f.readAll();
        Status(QStringLiteral("HOSTGRPS.TXT ready; ") + kbText(f.size(), true) + QStringLiteral(" kb "));
        m_loaded = true;
    } else {
        hostGroupText.clear();
        Status(QStringLiteral("HOSTGRPS.TXT file not found.  Download to create."));
        m_loaded = false;
    }
    emit stateChanged();
}

// ---- download ----

bool HostGroupList::download(bool forAssistant)
{
    // Without a server nothing can replace the file: ask nothing and keep it.
    if (m_core.settings.News_Host.trimmed().isEmpty())
        return m_session.connectFeature(conn, [](const QString &) {});
    if (!QFileInfo::exists(filePath())) return startDownload(forAssistant);
    if (m_asking) return false;   // the question is open already
    m_asking = true;
    // True when the answer came at once and the download started.
    auto started = std::make_shared<bool>(false);
    m_core.prompter.askYesNo(QStringLiteral("Ok to delete existing HOSTGRPS.TXT? \r\n Answer no to abort if you want to back up the file first."),
                             this, [this, forAssistant, started](bool yes) {
                                 m_asking = false;
                                 if (!yes || m_downloading) return;
                                 QFile::remove(filePath());
                                 *started = startDownload(forAssistant);
                             });
    return *started;
}

bool HostGroupList::startDownload(bool forAssistant)
{
    hostGroupsForAssistant = forAssistant;
    hostGroupText.clear();
    Status({}, 0);
    Status({}, 1);
    m_received = 0;
    m_downloading = true;
    emit stateChanged();
    login.start(m_session.loginOptions(false));
    const bool started = m_session.connectFeature(conn, [this](const QString &t) {
        Status(t);
        m_core.LogOp(t, false);
    });
    if (!started) endDownload();
    return started;
}

void HostGroupList::send(const QByteArray &line) { m_session.sendOn(ConnectionId::HostGroups, line); }

void HostGroupList::endDownload()
{
    if (!m_downloading) return;
    m_downloading = false;
    emit stateChanged();
}

void HostGroupList::onBody(const QByteArray &bytes)
{
    hostGroupText += bytes;
    m_received += bytes.size();
    Status(QStringLiteral("Download in progress...  ") + QString::number(m_received) + QStringLiteral(" bytes received"));
    WriteGroupPacket();
}

void HostGroupList::onReply(const Reply &r)
{
    if (r.multiline) {
        hostGroupText += r.data;
        m_received += r.data.size();
        SaveGroupPacket();
        send("QUIT");
        conn.close();
        return;
    }
    switch (m_session.login(ConnectionId::HostGroups, login, r, [this](const QString &t) { m_core.LogOp(t, false); })) {
    case Session::LoginStep::Ready: send("LIST"); return;
    case Session::LoginStep::Taken: return;
    case Session::LoginStep::NotMine: break;
    }
    const QString line = QString::fromLatin1(r.firstLine());
    const ReplyKind kind = replyKind(r.code);
    switch (kind == ReplyKind::ServerError && r.code != 500 ? ReplyKind::Unknown : kind) {
    case ReplyKind::GroupLost:
        // The server is going away; the scan connection is not this window's business.
        Status(line);
        break;
    case ReplyKind::ServerError:
        m_core.LogOp(line, false);
        Status(QStringLiteral("Login Error, setup login from scan window"));
        break;
    case ReplyKind::SlaveOk:
        m_core.LogOp(line, false);
        send("LIST");
        break;
    case ReplyKind::Stat: m_core.LogOp(QStringLiteral("223 article retrieved - request text separately"), false); break;
    case ReplyKind::Head: break;
    case ReplyKind::Goodbye: m_core.LogOp(line + QStringLiteral("  (disconnected)"), false); break;
    case ReplyKind::Refused:
        m_core.LogOp(line + QStringLiteral("(disconnected)"), false);
        Status(QStringLiteral("Authentication Error.  Check Username/Password..."));
        send("QUIT");
        conn.close();
        endDownload();
        break;
    default:
        // A refusal (481, 503, ...) is not list data: it must not go into the file.
        m_core.LogOp(line, true);
        Status(line);
        send("QUIT");
        conn.close();
        endDownload();
        break;
    }
}

void HostGroupList::WriteGroupPacket()
{
    if (hostGroupText.isEmpty()) return;
    QFile f(filePath());
    if (f.open(QIODevice::WriteOnly | QIODevice::Append)) f.write(hostGroupText);
    else Status(QStringLiteral("Error: ") + f.errorString());
    hostGroupText.clear();
}

void HostGroupList::SaveGroupPacket()
{
    WriteGroupPacket();
    const QString kb = kbText(QFileInfo(filePath()).size(), false);
    Status(QStringLiteral("Download complete!  HOSTGRPS.TXT (") + kb + QStringLiteral(" Kb) Saved and ready."));
    m_core.LogOp(QStringLiteral("Groups download complete: HOSTGRPS.TXT (") + kb + QStringLiteral(" Kb) Saved and ready."), true);
    hostGroupsReady = true;
    endDownload();
    Preload_groups();
}

void HostGroupList::closed()
{
    m_abort = m_searching;
    if (m_downloading) {
        conn.close();
        WriteGroupPacket();
        endDownload();
    }
}

// ---- search ----

namespace {

qsizetype findIn(const char *d, qsizetype from, qsizetype n, const QByteArray &needle)
{
    if (from >= n) return -1;
    const void *hit = memmem(d + from, size_t(n - from), needle.constData(), size_t(needle.size()));
    return hit ? qsizetype(static_cast<const char *>(hit) - d) : -1;
}

// "name last first flag": the row of the result list.
HostGroupResults::Row rowOf(const char *a, const char *b)
{
    QList<QByteArray> f = QByteArray(a, b - a).simplified().split(' ');
    while (f.size() < 3) f << QByteArray();
    const qint64 last = f[1].toLongLong(), first = f[2].toLongLong();
    const qint64 diff = last - first;
    QString total;
    if (diff == -1 || diff > 90999) total = QStringLiteral(" ? ");
    else total = (diff < 0 ? QStringLiteral("-") : QString()) + QString::number(std::abs(diff)).rightJustified(5, u'0');
    return {QString::fromLatin1(f[0]), total, QString::fromLatin1(f[2]), QString::fromLatin1(f[1])};
}

} // namespace

// A search runs in steps of about 10 ms that return to the event loop: results show as
// they come, and the button pressed again (or the window closed) ends it at the next step.
struct HostGroupList::Search {
    QByteArray text;   // held for the whole search: a reload cannot pull it away underneath
    QByteArray query, needle;
    bool starts = false;
    qsizetype reach = 0;
    qsizetype occurrence = -2;   // the next place the query occurs, once looked up
    qsizetype pos = 0;
    QElapsedTimer clock;
    std::vector<HostGroupResults::Row> batch;
};

HostGroupList::~HostGroupList() = default;

void HostGroupList::search(const QString &queryText, SearchType type)
{
    if (queryText.isEmpty()) {
        m_core.prompter.message(QStringLiteral("Enter some text and press search to find groups.\r\n"
                                               "...or click 'starts with' and search for group trees like 'alt.binaries.'"));
        return;
    }
    if (m_searching) {
        m_abort = true;
        return;
    }
    m_searching = true;
    m_abort = false;
    m_matches = 0;
    m_longestGap = 0;
    m_yields = 0;
    emit stateChanged();
    results.clear();
    m_search = std::make_unique<Search>();
    Search &q = *m_search;
    q.clock.start();
    q.text = hostGroupText;
    q.query = queryText.toLatin1();
    q.starts = type == StartsWith;
    q.needle = q.starts ? '\n' + q.query : q.query;
    q.reach = q.starts ? 512 : 2000;
    QTimer::singleShot(0, this, &HostGroupList::searchStep);
}

void HostGroupList::searchStep()
{
    if (!m_search) return;
    Search &q = *m_search;
    QElapsedTimer step;
    step.start();
    const char *d = q.text.constData();
    const qsizetype n = q.text.size();
    const QByteArray &query = q.query;
    const bool starts = q.starts;
    qsizetype pos = q.pos;
    bool over = false;
    int lines = 0;
    while (!m_abort) {
        if (pos >= n) {
            over = true;
            break;
        }
        const void *cr = memchr(d + pos, '\r', size_t(n - pos));
        const qsizetype end = cr ? static_cast<const char *>(cr) - d : n;
        qsizetype a = pos, b = end;
        if (a < b && d[a] == '\n') ++a;
        while (a < b && d[a] == ' ') ++a;
        while (b > a && d[b - 1] == ' ') --b;
        qsizetype next = end + 1;
        // The status line and the terminator are not groups.
        const bool group = a < b && !(b - a == 1 && d[a] == '.') && !(pos == 0 && b - a > 4 && d[a + 3] == ' '
                                                                         && QByteArray(d + a, 3).toInt() == 215);
        if (group) {
            const void *blank = memchr(d + a, ' ', size_t(b - a));
            const qsizetype cend = blank ? static_cast<const char *>(blank) - d + 1 : b;
            const qsizetype clen = cend - a;
            const bool match = starts ? query.size() <= clen && memcmp(d + a, query.constData(), size_t(query.size())) == 0
                                      : findIn(d + a, 0, clen, query) >= 0;
            if (match) {
                q.batch.push_back(rowOf(d + a, d + b));
                ++m_matches;
            } else {
                if (q.occurrence != -1 && q.occurrence < end) q.occurrence = findIn(d, end, n, q.needle);
                if (q.occurrence == -1) {   // nothing further can match
                    over = true;
                    break;
                }
                if (q.occurrence > pos + q.reach) {
                    const char *s = d + q.occurrence;
                    if (!starts) {
                        const void *prev = memrchr(d + end, '\r', size_t(q.occurrence - end));
                        s = prev ? static_cast<const char *>(prev) + 1 : d + end + 1;
                    }
                    next = std::max<qsizetype>(next, s - d);
                }
            }
        }
        pos = next;
        if ((++lines & 255) == 0 && step.elapsed() >= 10) break;
    }
    q.pos = pos;
    results.append(q.batch);
    q.batch.clear();
    m_longestGap = std::max(m_longestGap, step.elapsed());
    ++m_yields;
    auto elapsed = [&] { return QString::number(q.clock.elapsed() / 1000); };
    if (!over && !m_abort) {
        Status(QStringLiteral("Searching... (") + QString::number(m_matches) + QStringLiteral(" matching groups found)")
               + QStringLiteral("  Time:") + elapsed() + QStringLiteral(" seconds"));
        emit progressChanged(pos, n);
        QTimer::singleShot(0, this, &HostGroupList::searchStep);
        return;
    }
    emit progressChanged(n, n);
    const qint64 ms = q.clock.elapsed();
    Status((m_abort ? QStringLiteral("Search Aborted. (") : QStringLiteral("Done! (")) + QString::number(m_matches)
           + QStringLiteral(" matching groups found)")
           + (ms < 1000 ? QStringLiteral("  Time: Less than 1 second") : QStringLiteral("  Time:") + elapsed() + QStringLiteral(" seconds")));
    m_search.reset();
    m_searching = false;
    m_abort = false;
    emit stateChanged();
}

void HostGroupList::add(const std::vector<int> &rows)
{
    if (rows.empty()) {
        m_core.prompter.message(QStringLiteral("Error, no group(s) selected."));
        return;
    }
    for (int r : rows)
        if (r >= 0 && r < results.rowCount()) m_groups.addGroup(results.row(r).name);
}

} // namespace vt
