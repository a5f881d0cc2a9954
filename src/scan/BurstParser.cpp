#include "BurstParser.h"
#include "core/Buffers.h"
#include "core/Text.h"
#include "headers/SubjectParser.h"
#include <algorithm>
#include <bit>
#include <cstring>
#include <pthread.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vt {

// Every step of the reduction cuts the text at its ends: the poster is a slice of the From.
QByteArrayView posterOf(QByteArrayView t, const std::function<void(const QString &)> &onError)
{
    if (t.startsWith('<')) {
        t = t.sliced(1);
        if (t.endsWith('>')) t.chop(1);
    }
    const qsizetype lt = t.indexOf('<');
    if (lt >= 0) {
        if (t.contains('>')) {
            if (lt < 1) {
                // Nothing before the bracket to keep: the reduction fails here.
                if (onError) onError(QStringLiteral("Invalid procedure call or argument"));
                return t;
            }
            t = t.first(lt - 1);
            if (t.contains('"')) t = t.sliced(std::min<qsizetype>(1, t.size()));
        }
    } else if (t.contains('(') && t.contains(')')) {
        t = t.sliced(t.indexOf('(') + 1);
        if (!t.isEmpty()) t.chop(1);   // a view, unlike a byte array, cannot chop what it has not
    }
    const qsizetype at = t.indexOf('@');
    if (at >= 4) t = t.first(at);
    if (t.endsWith('"')) t.chop(1);
    return t;
}

QByteArray parseFrom(const QByteArray &from, const std::function<void(const QString &)> &onError)
{
    return posterOf(from, onError).toByteArray();
}

// One pass over an overview line: where its first tabs are, and whether it holds a byte
// the header file cannot keep (a bare CR or LF, or a NUL). Sixteen bytes a step where the
// processor allows.
static int lineTabs(const char *p, qsizetype n, qsizetype *tabs, int want, bool *odd)
{
    int found = 0;
    bool bad = false;
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i tab = _mm_set1_epi8('\t'), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'), nul = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        unsigned t = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, tab)));
        bad |= _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)), _mm_cmpeq_epi8(v, nul))) != 0;
        for (; t && found < want; t &= t - 1) tabs[found++] = i + std::countr_zero(t);
    }
#endif
    for (; i < n; ++i) {
        const char c = p[i];
        if (c == '\t') {
            if (found < want) tabs[found++] = i;
        } else if (c == '\r' || c == '\n' || c == '\0') {
            bad = true;
        }
    }
    *odd = bad;
    return found;
}

QByteArray TextArena::keep(const QByteArray &t)
{
    const size_t n = size_t(t.size());
    if (n == 0) return t;
    if (n > m_left) {
        // The next kept block where it is large enough, else a new one (not zeroed: written
        // before read).
        m_block = m_blocks.empty() || m_at == nullptr ? 0 : m_block + 1;
        if (m_block < m_blocks.size() && m_blocks[m_block].size < n) m_blocks.resize(m_block);
        if (m_block >= m_blocks.size()) {
            const size_t size = std::max<size_t>(n, 64 * 1024);
            m_blocks.push_back(Block{std::unique_ptr<char[]>(new char[size]), size});
            m_block = m_blocks.size() - 1;
        }
        m_at = m_blocks[m_block].at.get();
        m_left = m_blocks[m_block].size;
    }
    memcpy(m_at, t.constData(), n);
    const QByteArray kept = QByteArray::fromRawData(m_at, qsizetype(n));
    m_at += n;
    m_left -= n;
    return kept;
}

void TextArena::rewind()
{
    m_block = 0;
    m_at = nullptr;
    m_left = 0;
}

ParsedHeader parseOverviewLine(const char *d, qsizetype n, TextArena *arena)
{
    ParsedHeader h;
    qsizetype tabs[7];
    bool odd = false;
    const int tabCount = lineTabs(d, n, tabs, 7, &odd);
    if (tabCount == 0) return h;
    h.file = true;
    h.number = qint32(leadingInt(QByteArray::fromRawData(d, tabs[0])));
    auto note = [&h](const QString &m) { h.errors << m; };
    // Fields 2..7 lie between consecutive TABs; a missing TAB leaves the rest empty. They
    // borrow the burst: the store keeps its own copies of what it files.
    QByteArray f[8];
    qsizetype prev = tabs[0];
    for (int k = 2; k <= 7; ++k) {
        if (prev < 0) {
            note(QStringLiteral("xover_proccess: 5  Invalid procedure call or argument"));
            break;
        }
        const qsizetype next = k - 1 < tabCount ? tabs[k - 1] : -1;
        const qsizetype end = next < 0 ? (k == 7 ? n : -1) : next;
        if (end < 0) {
            if (k != 7) note(QStringLiteral("xover_proccess: 5  Invalid procedure call or argument"));
            prev = -1;
            continue;
        }
        if (k != 6) f[k] = QByteArray::fromRawData(d + prev + 1, end - prev - 1);
        prev = next;
    }
    // The header file is line-based: a bare CR or LF (or a NUL) inside a field would split
    // a stored text in two. They become blanks here, before anything is filed (writing
    // to a borrowed field copies it first).
    if (odd) {
        for (int k : {2, 3, 4, 5, 7}) {
            QByteArray &t = f[k];
            for (qsizetype i = 0; i < t.size(); ++i)
                if (t.at(i) == '\r' || t.at(i) == '\n' || t.at(i) == '\0') t[i] = ' ';
        }
    }
    const QByteArrayView poster = posterOf(f[3], [&](const QString &e) { note(QStringLiteral("parseFromErr:") + e); });
    // A changed From is a copy of its own, which the line does not keep.
    h.poster = odd ? poster.toByteArray() : QByteArray::fromRawData(poster.data(), poster.size());
    ParsedSubject p = parseSubject(f[2], [&](const QString &e) { note(QStringLiteral("add_articleheader: 5  ") + e); });
    h.name = trimBlanks(p.name);   // trimmed here, the store's trim has nothing left to copy
    h.total = std::move(p.total);
    if (arena) {
        h.name = arena->keep(h.name);
        h.total = arena->keep(h.total);
        if (odd) h.poster = arena->keep(h.poster);
    }
    h.subject = std::move(p.fullSubject);
    h.bytes = std::move(f[7]);
    h.date = std::move(f[4]);
    h.msgid = std::move(f[5]);
    return h;
}

qsizetype overviewLineEnd(const QByteArray &burst, qsizetype from)
{
    const char *d = burst.constData();
    const qsizetype n = burst.size();
    while (from < n) {
        const void *cr = memchr(d + from, '\r', size_t(n - from));
        if (!cr) return -1;
        const qsizetype p = static_cast<const char *>(cr) - d;
        if (p + 1 < n && d[p + 1] == '\n') return p;
        from = p + 1;
    }
    return -1;
}

void parseBurst(ParsedBurst &b)
{
    const char *d = b.burst.constData();
    // Counted with memchr: a byte-by-byte count took most of the parse.
    size_t lines = 0;
    for (const char *p = d, *e = d + b.burst.size(); (p = static_cast<const char *>(memchr(p, '\n', size_t(e - p)))); ++p) ++lines;
    b.lines.reserve(lines);
    qsizetype start = 0, cr = overviewLineEnd(b.burst, 0);
    for (bool first = true; cr >= 0; first = false) {
        const qsizetype end = first ? cr + 1 : cr;   // the first line keeps its CR
        const qsizetype len = end - start;
        if (len == 0 || (len == 1 && d[start] == '.')) break;
        b.lines.push_back(parseOverviewLine(d + start, len, &b.texts));
        start = cr + 2;
        cr = overviewLineEnd(b.burst, start);
    }
    b.done = true;
}

// Parsing is the slower half of a crunch, so a second thread helps where a core is left
// for it; on two cores it takes the one the filing and the sockets need (the event loop
// turned half as often, the scan no faster). A burst parsed out of turn waits, done, until
// the filing reaches it.
int BurstParser::threadCount()
{
    static const int n = std::clamp(int(std::thread::hardware_concurrency()) - 1, 1, 2);
    return n;
}

BurstParser::~BurstParser()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    for (std::thread &t : m_threads) t.join();
}

void BurstParser::recycle(std::shared_ptr<ParsedBurst> b)
{
    if (!b) return;
    b->dropped = true;
    {
        std::lock_guard lock(m_mutex);
        if (m_threads.empty()) return;
        m_jobs.push_back(Job{std::move(b), {}});
    }
    m_wake.notify_one();
}

std::shared_ptr<ParsedBurst> BurstParser::submit(const QByteArray &burst, std::function<void(ParsedBurst *)> ready)
{
    std::shared_ptr<ParsedBurst> b;
    {
        std::lock_guard lock(m_mutex);
        if (!m_spare.empty()) {
            b = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    if (!b) b = std::make_shared<ParsedBurst>();
    b->burst = burst;
    {
        std::lock_guard lock(m_mutex);
        while (m_threads.size() < size_t(threadCount())) m_threads.emplace_back([this] { run(); });
        m_jobs.push_back(Job{b, std::move(ready)});
    }
    m_wake.notify_one();
    return b;
}

// A burst nobody else holds is emptied and kept, with the memory its lines, texts and
// buffer took: the next bursts fill pages already there instead of fresh ones, which the
// system must fault in and zero one by one.
void BurstParser::spare(std::shared_ptr<ParsedBurst> b)
{
    if (b.use_count() != 1) return;
    b->lines.clear();
    b->texts.rewind();
    reuseBuffer(std::move(b->burst));
    b->burst = QByteArray();
    b->done = false;
    b->dropped = false;
    std::lock_guard lock(m_mutex);
    if (m_spare.size() < kMostSpare) m_spare.push_back(std::move(b));
}

void BurstParser::dropSpares()
{
    std::vector<std::shared_ptr<ParsedBurst>> spare;
    std::lock_guard lock(m_mutex);
    spare.swap(m_spare);
}

size_t BurstParser::spares()
{
    std::lock_guard lock(m_mutex);
    return m_spare.size();
}

void BurstParser::run()
{
    pthread_setname_np(pthread_self(), "vt-parse");
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || !m_jobs.empty(); });
            if (m_quit) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        if (job.burst->dropped) {
            // Emptied here, off the owner's thread; kept when it was filed, freed when a
            // stop dropped it before it was parsed.
            if (!job.ready) spare(std::move(job.burst));
            continue;
        }
        parseBurst(*job.burst);
        // Dropped while it was parsed: the owner's thread sets the mark, so it checks it too.
        QMetaObject::invokeMethod(m_owner, [ready = std::move(job.ready), b = job.burst] {
            if (!b->dropped) ready(b.get());
        }, Qt::QueuedConnection);
    }
}

} // namespace vt
