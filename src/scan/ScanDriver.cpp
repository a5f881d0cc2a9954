#include "ScanDriver.h"
#include "core/Buffers.h"
#include <QTimer>
#include "core/AppCore.h"
#include "core/Text.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"

namespace vt {

ScanDriver::ScanDriver(AppCore &core, Session &session, NewsgroupTable &groups, HeaderStore &store, QObject *parent)
    : QObject(parent), m_core(core), m_session(session), m_groups(groups), m_store(store), m_pool(core)
{
    m_pool.certificateCheck = session.certificateCheck();
    m_pool.burst = [this](const ScanTask &t, const QByteArray &lines) { pooledBurst(t, lines); };
    m_pool.empty = [this](const ScanTask &t) {
        pooledFiled(t);
        endPooledIfOver();
    };
    m_pool.gaveUp = [this](const QString &) {
        m_poolGaveUp = true;
        endPooledIfOver();
    };
    m_pool.activity = [this] { m_session.noteActivity(ConnectionId::Scan); };
}

void ScanDriver::log(const QString &m, bool record) { m_core.LogOp(m, record); }

bool ScanDriver::hasGroups() const { return m_groups.rows() > 0; }

void ScanDriver::resetNewFlags()
{
    for (int i = 1; i <= m_store.itemCount(); ++i) m_store.item(i).isNew = false;
    emit newFlagsReset();
}

QString ScanDriver::readCounterText() const { return QStringLiteral("Read:") + num(m_store.partsReadTotal); }
QString ScanDriver::itemCounterText() const { return QStringLiteral("Items:") + num(m_store.itemCount()); }

void ScanDriver::ScanHeaders(bool advance)
{
    UiState &ui = m_core.ui;
    if (groupListIndex == 0) {
        groupListIndex = 1;
        m_session.scanInProgress = true;
        log(QStringLiteral("Scan Initiated..."));
        m_core.sounds.PlaySound(QStringLiteral("vtv016.wav"));
        scanStartTime = QDateTime::currentDateTimeUtc();
        scanHeaderTotal = 0;
        ui.setBarMax(UiState::ScanOverall, m_groups.rows());
    } else if (advance) {
        ++groupListIndex;
        if (batchLifeUpdate) batchLifeUpdate();
    }
    int pos = groupListIndex;
    for (; pos <= m_groups.rows(); ++pos) {
        if (ui.bar(UiState::ScanOverall).max >= pos) ui.setBar(UiState::ScanOverall, pos);
        if (m_groups.rowGreyed(pos)) continue;
        // A row with no usable key would be selected and never asked for: skipped, said.
        const qint32 key = m_groups.rowKey(pos);
        if (key >= 1 && key <= 255 && !m_groups.nameByKey(quint8(key)).isEmpty()) break;
        log(QStringLiteral("Skipping row") + num(pos) + QStringLiteral(" of the newsgroup list: it has no group key"));
    }
    if (pos > m_groups.rows()) {
        finishScan();
        return;
    }
    groupListIndex = pos;
    currentGroupKey = quint8(m_groups.rowKey(pos));
    m_currentGroupName = m_groups.nameByKey(currentGroupKey);
    groupReplyTaken = false;
    // "No progress" is judged within one group: another group may start where this one did.
    forgetRequestAhead();
    m_haveRange = false;
    overviewRangeStart = 0;
    m_session.sendScan("GROUP " + m_currentGroupName.toUtf8());
    m_session.scanStage = ScanStage::GroupAsked;
    m_groups.setScanIcon(pos);
}

// Rates come from milliseconds: a scan of a few seconds is not rounded to whole ones.
QString ScanDriver::scanTimeText(qint64 ms) const { return u' ' + fmt(double(ms) / 1000.0, 1, false); }

QString ScanDriver::speedText(qint64 ms) const
{
    const double speed = ms > 0 ? double(scanHeaderTotal) * 1000.0 / double(ms) : 0.0;
    return num(scanHeaderTotal) + QStringLiteral(" headers read in") + scanTimeText(ms) + QStringLiteral(" seconds, averaging ")
           + fmt(speed, 1, false) + QStringLiteral(" HPS.");
}

// What went round while the scan ran is freed once it is over.
void ScanDriver::releaseBuffers()
{
    m_parser.dropSpares();
    dropReusedBuffers();
}

void ScanDriver::finishScan()
{
    m_core.ui.resetScanBars();
    m_groups.setScanIcon(0);
    groupListIndex = 0;
    forgetRequestAhead();
    const qint64 ms = scanStartTime.msecsTo(QDateTime::currentDateTimeUtc());
    const QString said = scanHeaderTotal >= 1 ? QStringLiteral("Scan Complete.") + speedText(ms)
                                               : QStringLiteral("Scan Complete. No new headers read in") + scanTimeText(ms) + QStringLiteral(" seconds.");
    log(said);
    emit scanOver(said);
    m_core.sounds.PlaySound(QStringLiteral("vtv003.wav"));
    if (batchLifeUpdate) batchLifeUpdate();
    m_session.scanInProgress = false;
    m_session.disconnect(ConnectionId::Scan);
    if (m_core.settings.chkSaveAfterScan) {
        if (m_store.headersDirty && saveHeaders) saveHeaders();
        if (saveFavourites) saveFavourites();
    }
    releaseBuffers();
    if (scanEnded) scanEnded();
    if (m_core.settings.chkAutodownload && startBatchDownload) startBatchDownload();
    m_core.ui.setScanEnabled(true);
}

void ScanDriver::onGroupSelected(const QByteArray &reply)
{
    if (m_session.scanStage != ScanStage::GroupAsked) {
        ScanHeaders(true);
        return;
    }
    QByteArray t = trimBlanks(reply);
    const qsizetype sp = t.indexOf(' ');
    t = sp >= 0 ? t.mid(sp + 1) : QByteArray();
    qint32 nums[3] = {0, 0, 0};
    for (qint32 &n : nums) {
        const qsizetype b = t.indexOf(' ');
        n = qint32(leadingInt(b >= 0 ? t.left(b) : t));
        t = b >= 0 ? t.mid(b + 1) : QByteArray();
    }
    groupFirst = nums[1];
    groupLast = nums[2];
    groupArticleCount = groupLast - groupFirst;
    groupReplyTaken = true;
    m_session.scanStage = ScanStage::GroupSelected;
    const qint32 h = m_groups.lastReadByKey(currentGroupKey);
    qint32 newCount;
    if (groupFirst - 2 <= h && h <= groupLast + 2) {
        newCount = groupLast - h;
    } else {
        // A group not read before starts before its first article, which is read too.
        m_groups.set_high_msg(currentGroupKey, groupFirst - 1, true);
        newCount = groupLast - groupFirst + 1;
    }
    if (newCount < 1) log(QStringLiteral("0 new articles in ") + m_currentGroupName);
    else log(QString::number(newCount) + QStringLiteral(" new articles in ") + m_currentGroupName);
    newToFetch = m_groups.rangeUpdate(currentGroupKey, groupFirst, groupLast);
    if (newToFetch < 1) ScanHeaders(true);
    else if (!startPool()) requestNextBurst();
}

void ScanDriver::onNoSuchGroup(const QByteArray &)
{
    log(QStringLiteral("Error, no such news group ") + m_currentGroupName);
    m_session.scanStage = ScanStage::Idle;
    ScanHeaders(true);
}

void ScanDriver::onGroupLost()
{
    m_groups.set_high_msg(currentGroupKey, groupLast, false);
    ScanHeaders(true);
}

void ScanDriver::clearOverviewRangeStart()
{
    stopPool();
    overviewRangeStart = 0;
    m_haveRange = false;
    // A new connection: nothing sent before is still on its way.
    m_ahead.clear();
    m_stale.clear();
}

void ScanDriver::forgetRequestAhead()
{
    for (QByteArray &c : m_ahead) m_stale.push_back(std::move(c));
    m_ahead.clear();
}

bool ScanDriver::dropStaleReply(const QByteArray &command)
{
    if (m_stale.empty() || command.isEmpty() || m_stale.front() != command) return false;
    m_stale.erase(m_stale.begin());
    return true;
}

QByteArray ScanDriver::xoverCommand(qint32 start, qint32 end) const
{
    return m_session.overviewVerb() + ' ' + QByteArray::number(start + 1) + '-' + QByteArray::number(end);
}

// Compressed headers take about a quarter of the bytes: a burst asks for four times as many
// in the same time on the wire.
int ScanDriver::burstSize() const { return m_core.settings.sldXOVER * (m_session.scanCompressed() ? 4 : 1); }

void ScanDriver::requestNextBurst()
{
    m_session.dropScanReplies();
    m_session.scanStage = ScanStage::Overview;
    qint32 start = m_groups.lastReadByKey(currentGroupKey);
    if (start == 0) start = groupFirst - 1;
    if (m_haveRange && start == overviewRangeStart) {
        if (!(groupLast > start)) m_groups.set_high_msg(currentGroupKey, groupLast, true);
        ScanHeaders(true);
        return;
    }
    if (m_haveRange && start >= groupLast) {
        // The group is read to its end: asking beyond it only gets nothing, 420 or 423.
        ScanHeaders(true);
        return;
    }
    overviewRangeEnd = start + burstSize();
    overviewRangeStart = start;
    m_haveRange = true;
    const QByteArray cmd = xoverCommand(start, overviewRangeEnd);
    if (!m_ahead.empty() && m_ahead.front() == cmd) {
        m_ahead.pop_front();   // already on its way
        return;
    }
    forgetRequestAhead();
    m_session.sendScan(cmd);
}

void ScanDriver::onBurst(const QByteArray &burst)
{
    // The next bursts are asked for before this one is crunched, so that the server's round
    // trip overlaps the work here. They go on from where this one ends whenever the group
    // goes on beyond it; anything else is found out after the crunch, and the replies dropped.
    if (m_ahead.empty()) m_aheadEnd = overviewRangeEnd;
    while (m_ahead.size() < kAhead && burstSize() < newToFetch && m_aheadEnd < groupLast) {
        m_ahead.push_back(xoverCommand(m_aheadEnd, m_aheadEnd + burstSize()));
        m_aheadEnd += burstSize();
        m_session.sendScan(m_ahead.back());
    }
    beginCrunch(burst);
    crunchStep();
}

void ScanDriver::onNoOverview(const QByteArray &reply)
{
    log(QStringLiteral("No overview for articles") + num(overviewRangeStart + 1) + QStringLiteral(" to") + num(overviewRangeEnd)
        + QStringLiteral(" in ") + m_currentGroupName + QStringLiteral(": ") + QString::fromLatin1(reply));
    m_groups.set_high_msg(currentGroupKey, std::min(overviewRangeEnd, groupLast), false);
    afterBurst();
}

// A burst is crunched in slices of kSliceLines lines, each its own turn of the event loop
// (the window answers, a save goes on). Until the burst is done, the scan connection
// holds back its next replies, so that they are taken in the order they came, as if the
// burst had been crunched at once.
void ScanDriver::parse_xoverdata(const QByteArray &burst)
{
    beginCrunch(burst);
    while (!crunchLines(0)) {
    }
    endCrunch();
}

void ScanDriver::beginCrunch(const QByteArray &burst)
{
    m_crunch = std::make_unique<Crunch>();
    m_crunch->burst = burst;
    m_watch.Reset();
    burstHeaderCount = 0;
    burstHighArticle = 0;
}

void ScanDriver::beginCrunch(std::shared_ptr<ParsedBurst> parsed)
{
    beginCrunch(parsed->burst);
    m_crunch->parsed = std::move(parsed);
}

// Handed to the parser as it arrives, so that its parse overlaps the filing before it.
std::shared_ptr<ParsedBurst> ScanDriver::parseAhead(const QByteArray &lines)
{
    return m_parser.submit(lines, [this](ParsedBurst *b) {
        if (!m_crunch || m_crunch->parsed.get() != b || !m_crunch->awaitingParse) return;
        m_crunch->awaitingParse = false;
        crunchStep();
    });
}

// The progress line: the first of a burst, then at most ten a second, which is all
// anyone can read.
void ScanDriver::lineCrunched(Crunch &c, int everyN)
{
    if (++yieldCounter > everyN) {
        yieldCounter = 0;
        if (!c.reported || m_progressShown.elapsed() >= 100) {
            ReportCrunchProgress();
            c.reported = true;
            m_progressShown.restart();
        }
    }
    c.first = false;
}

bool ScanDriver::crunchLines(int most)
{
    Crunch &c = *m_crunch;
    const int N = m_core.settings.chkAgressiveHeaderCrunch ? 100 : 4;
    int lines = 0;
    if (c.parsed) {
        if (!c.parsed->done) return false;
        const std::vector<ParsedHeader> &parsed = c.parsed->lines;
        while (c.next < parsed.size()) {
            if (most > 0 && lines++ >= most) return false;
            fileHeader(parsed[c.next++]);
            lineCrunched(c, N);
        }
        return true;
    }
    const char *d = c.burst.constData();
    if (c.cr == -2) c.cr = overviewLineEnd(c.burst, 0);
    while (c.cr >= 0) {
        if (most > 0 && lines++ >= most) return false;
        const qsizetype lineEnd = c.first ? c.cr + 1 : c.cr;   // the first line keeps its CR
        const qsizetype len = lineEnd - c.lineStart;
        if (len == 0 || (len == 1 && d[c.lineStart] == '.')) break;
        xover_proccess(c.burst, c.lineStart, lineEnd);
        lineCrunched(c, N);
        c.lineStart = c.cr + 2;
        c.cr = overviewLineEnd(c.burst, c.lineStart);
    }
    return true;
}

void ScanDriver::endCrunch()
{
    // The crunch's own hold on the burst goes first, so that its buffer can be reused.
    std::shared_ptr<ParsedBurst> parsed = std::move(m_crunch->parsed);
    m_crunch.reset();
    m_parser.recycle(std::move(parsed));
    if (m_pooled) {
        const qint64 ms = m_watch.Elapsed();
        if (burstHeaderCount > 0) log(crunchMessage(burstHeaderCount, ms));
        pooledFiled(m_crunchTask);
        emit countersChanged();
        emit burstFiled();
        if (!m_waiting.empty()) {
            auto [t, parsed] = std::move(m_waiting.front());
            m_waiting.pop_front();
            m_crunchTask = t;
            beginCrunch(std::move(parsed));
            QTimer::singleShot(0, this, &ScanDriver::crunchStep);
        }
        m_pool.setHeld(m_waiting.size() >= waitingLimit());
        endPooledIfOver();
        return;
    }
    // The server has nothing more up to the range's end (or the group's, when that comes
    // first): a burst that ends early, even an empty one, still moves the mark that far.
    m_groups.set_high_msg(currentGroupKey, std::min(overviewRangeEnd, groupLast), false);
    const qint64 ms = m_watch.Elapsed();
    if (burstHeaderCount > 0) {
        log(crunchMessage(burstHeaderCount, ms));
        if (ms > 0) speedHint(ms);
    }
    m_groups.set_high_msg(currentGroupKey, burstHighArticle, false);
    afterBurst();
}

void ScanDriver::crunchStep()
{
    if (!m_crunch) return;   // the scan was stopped meanwhile
    if (m_crunch->parsed && !m_crunch->parsed->done) {
        m_crunch->awaitingParse = true;
        return;
    }
    m_session.noteActivity(ConnectionId::Scan);
    if (!crunchLines(kSliceLines)) {
        if (!m_pooled) m_session.TCP1.setHold(true);
        QTimer::singleShot(0, this, &ScanDriver::crunchStep);
        return;
    }
    const bool pooled = m_pooled;
    endCrunch();
    if (!pooled) m_session.TCP1.setHold(false);
}

bool ScanDriver::crunching() const { return bool(m_crunch); }

void ScanDriver::afterBurst()
{
    m_session.noteActivity(ConnectionId::Scan);
    emit countersChanged();
    emit burstFiled();
    if (burstSize() < newToFetch) requestNextBurst();
    else ScanHeaders(false);
}

// ---- many connections ----

int ScanDriver::taskSize(qint64 range, int connections) const
{
    // As other newsreaders do: a thousand articles a task, ten thousand when compressed;
    // a smaller range is cut so that every connection has a few, never below a burst.
    const qint64 most = m_core.settings.chkCompress ? 10000 : 1000;
    return int(std::max<qint64>(burstSize(), std::min(most, range / (4 * std::max(1, connections)))));
}

bool ScanDriver::startPool()
{
    const Settings &s = m_core.settings;
    int n = std::clamp(s.Scan_Connections, 1, 50);
    if (n < 2) return false;
    // The download's connections to the main server count against its limit too.
    const int limit = std::clamp(s.News_Connections, 1, 50) - (downloadConnections ? downloadConnections() : 0);
    n = std::min(n, std::max(1, limit));
    qint32 mark = m_groups.lastReadByKey(currentGroupKey);
    if (mark == 0) mark = groupFirst - 1;
    const int size = taskSize(qint64(groupLast) - mark, n);
    // One task's worth is the scan connection's own work.
    if (groupLast - mark <= size) return false;
    m_plan.start(mark, groupLast, size, m_filedBeyond[currentGroupKey]);
    n = std::min<qint64>(n, (qint64(groupLast) - mark + size - 1) / size);
    m_pooled = true;
    m_poolGaveUp = false;
    m_waiting.clear();
    m_session.scanStage = ScanStage::GroupSelected;
    ScanPool::Target t;
    t.server = s.firstServer();
    if (trimBlanks(t.server.port).isEmpty()) t.server.port = QStringLiteral("119");
    t.login = m_session.loginOptions(s.chkModeReader);
    t.login.compress = s.chkCompress;
    t.connections = n;
    t.group = m_currentGroupName.toUtf8();
    log(QStringLiteral("Scanning ") + m_currentGroupName + QStringLiteral(" over") + num(n) + QStringLiteral(" connections, ")
        + QString::number(size) + QStringLiteral(" articles a task"));
    m_watch.Reset();
    m_pool.start(t, &m_plan);
    return true;
}

// Bursts waiting for the filing hold the pool back at a few: the connections' own tasks in
// flight keep coming meanwhile, and every burst more in memory is one more set of fresh
// pages for the kernel to fault in instead of a buffer that goes round.
size_t ScanDriver::waitingLimit() const
{
    return size_t(std::min(4, 2 * std::max(1, m_pool.openConnections())));
}

void ScanDriver::pooledBurst(const ScanTask &t, const QByteArray &lines)
{
    if (!m_pooled) return;
    std::shared_ptr<ParsedBurst> parsed = parseAhead(lines);
    if (m_crunch) {
        m_waiting.emplace_back(t, std::move(parsed));
        m_pool.setHeld(m_waiting.size() >= waitingLimit());
        return;
    }
    m_crunchTask = t;
    beginCrunch(std::move(parsed));
    crunchStep();
}

void ScanDriver::pooledFiled(const ScanTask &t)
{
    m_plan.filed(t);
    m_groups.set_high_msg(currentGroupKey, m_plan.mark(), false);
}

// The group is over when every task is filed; when the pool gave up, once what it brought
// is crunched, the scan connection goes on from the mark.
void ScanDriver::endPooledIfOver()
{
    if (!m_pooled || m_crunch || !m_waiting.empty()) return;
    if (m_plan.done()) {
        m_pool.stop();
        m_pooled = false;
        m_filedBeyond.erase(currentGroupKey);
        m_session.noteActivity(ConnectionId::Scan);
        ScanHeaders(true);
    } else if (m_poolGaveUp) {
        m_pooled = false;
        m_filedBeyond[currentGroupKey] = m_plan.filedBeyond();
        m_haveRange = false;
        requestNextBurst();
    }
}

// Stopped in the middle: what was filed beyond the mark is remembered, so that the next
// scan asks for exactly the rest.
void ScanDriver::stopPool()
{
    if (!m_pooled) return;
    m_pool.stop();
    for (auto &w : m_waiting) w.second->dropped = true;
    m_waiting.clear();
    m_filedBeyond[currentGroupKey] = m_plan.filedBeyond();
    m_pooled = false;
}

QString crunchMessage(qint64 count, qint64 ms)
{
    const QString head = QStringLiteral("Crunched burst of ") + QString::number(count);
    if (ms <= 0) return head + QStringLiteral(" headers.");
    const QString rate = fmt(double(count) / double(ms) * 1000.0, 1, false);
    if (ms > 1000)
        return head + QStringLiteral(" headers in ") + fmt(double(ms) / 1000.0, 2, false) + QStringLiteral(" seconds (") + rate
               + QStringLiteral(" HPS)");
    return head + QStringLiteral(" headers in ") + fmt(double(ms), 0, true) + QStringLiteral(" milliseconds (") + rate
           + QStringLiteral(" HPS)");
}

int ScanDriver::speedHint(qint64 ms)
{
    Settings &s = m_core.settings;
    if (double(ms) / 1000.0 > double(s.sldTimeout - 10) && s.sldXOVER > 199) {
        log(QStringLiteral("WARNING: That crunch took within 10 seconds of your timeout setting.  Decreasing burst size.  Suggest you might need to increase timeout setting."));
        s.sldXOVER -= 100;
    }
    return s.sldXOVER;
}

void ScanDriver::xover_proccess(const QByteArray &burst, qsizetype from, qsizetype to)
{
    fileHeader(parseOverviewLine(burst.constData() + from, to - from));
}

void ScanDriver::fileHeader(const ParsedHeader &h)
{
    if (!h.file) return;
    if (h.number > burstHighArticle) burstHighArticle = h.number;
    for (const QString &e : h.errors) log(e);
    m_store.headersDirty = true;
    ++m_store.partsReadTotal;
    ++scanHeaderTotal;
    ++burstHeaderCount;
    m_store.maketree(h.name, h.subject, h.number, h.total, h.bytes, currentGroupKey, h.poster, h.date, h.msgid);
}

void ScanDriver::ReportCrunchProgress()
{
    const qint64 scanMs = scanStartTime.msecsTo(QDateTime::currentDateTimeUtc());
    const qint64 secs = scanMs / 1000;
    const double avg = scanMs > 0 ? double(scanHeaderTotal + 1) * 1000.0 / double(scanMs) : 0.0;
    const qint64 ms = m_watch.Elapsed();
    const double cur = ms != 0 ? double(burstHeaderCount) / double(ms) * 1000.0 : 0.0;
    if (scanHeaderTotal > 5 && ms > 1)
        log(QStringLiteral("Crunching header burst; averaging ") + fmt(avg, 0, false) + QStringLiteral(" HPS.  Crunching @ ")
                + fmt(cur, 0, false) + QStringLiteral(" HPS.  Crunch Time: ") + fmt(double(ms) / 1000.0, 1, true) + u's',
            false);
    else if (scanHeaderTotal > 5)
        log(QStringLiteral("Crunching header burst; averaging ") + fmt(avg, 0, false) + QStringLiteral(" HPS.  Scan time:")
                + num(secs) + u's',
            false);
    else
        log(QStringLiteral("Crunching header burst... Scan Time:") + num(secs) + u's', false);
}

void ScanDriver::abortScan(bool byUser)
{
    // A burst half crunched stays so: what was filed is kept, the rest comes again with
    // the next scan (the mark has not moved past it).
    stopPool();
    if (m_crunch && m_crunch->parsed) m_crunch->parsed->dropped = true;
    m_crunch.reset();
    m_session.TCP1.setHold(false);
    m_session.disconnect(ConnectionId::Scan);
    releaseBuffers();
    clearOverviewRangeStart();
    if (m_session.scanInProgress) {
        m_session.scanInProgress = false;
        const qint64 ms = scanStartTime.msecsTo(QDateTime::currentDateTimeUtc());
        if (scanHeaderTotal > 1 && byUser) log(QStringLiteral("Scan Aborted by user.") + speedText(ms));
        else if (byUser) log(QStringLiteral("Scan Aborted by user."));
    }
    m_groups.setScanIcon(0);
    groupListIndex = 0;
    m_core.countdown.cancel();
    overviewRangeStart = 0;
}

void ScanDriver::AutoExpire(quint8 key, qint32 first)
{
    if (!m_core.settings.chkAutoExpire) return;
    log(QStringLiteral("Auto-expire: ") + m_currentGroupName, false);
    const int count = expireBelow(m_store, key, first, removeFromBatch);
    if (count > 0) {
        emit itemsExpired(key);
        if (count == 1) log(QStringLiteral("Auto-expire: ") + m_currentGroupName + QStringLiteral(", 1 article expired"));
        else log(QStringLiteral("Auto-expire: ") + m_currentGroupName + u',' + num(count) + QStringLiteral(" articles expired"));
        m_store.headersDirty = true;
    } else {
        log(QStringLiteral("Auto-expire: ") + m_currentGroupName + QStringLiteral(", nothing expired"));
    }
}

} // namespace vt
