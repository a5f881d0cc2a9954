#include "Par2.h"
#include "FileNames.h"
#include "core/AppPaths.h"
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>

namespace vt {

Par2Report parsePar2Output(const QByteArray &output)
{
    Par2Report r;
    QByteArray text = output;
    text.replace('\r', '\n');
    static const QRegularExpression target(QStringLiteral("^Target: \"(.*)\" - (found|damaged|missing)"));
    static const QRegularExpression match(QStringLiteral("^File: \"(.*)\" - is a match for \"(.*)\"\\."));
    static const QRegularExpression need(QStringLiteral("^You need (\\d+) more recovery blocks"));
    static const QRegularExpression used(QStringLiteral("^(\\d+) recovery blocks will be used"));
    static const QRegularExpression have(QStringLiteral("^You have (\\d+) out of (\\d+) data blocks available"));
    static const QRegularExpression part(QStringLiteral("^File: \"(.*)\" - found \\d+ of \\d+ data blocks from \"(.*)\"\\."));
    for (const QByteArray &raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty()) continue;
        if (line.startsWith(QLatin1String("All files are correct"))) r.allCorrect = true;
        else if (line == QLatin1String("Repair is required.")) r.repairNeeded = true;
        else if (line == QLatin1String("Repair is possible.")) r.repairPossible = true;
        else if (line == QLatin1String("Repair is not possible.")) r.repairPossible = false;
        else if (line == QLatin1String("Repair complete.")) r.repairComplete = true;
        else if (auto m = target.match(line); m.hasMatch()) {
            if (m.captured(2) == QLatin1String("damaged") && !r.damaged.contains(m.captured(1))) r.damaged << m.captured(1);
            if (m.captured(2) == QLatin1String("missing") && !r.missing.contains(m.captured(1))) r.missing << m.captured(1);
        } else if (auto m2 = match.match(line); m2.hasMatch()) {
            r.renamed.emplace_back(m2.captured(1), m2.captured(2));
        } else if (auto m3 = need.match(line); m3.hasMatch()) {
            r.blocksNeeded = m3.captured(1).toInt();
        } else if (auto m4 = used.match(line); m4.hasMatch()) {
            r.blocksUsed = m4.captured(1).toInt();
        } else if (auto m5 = have.match(line); m5.hasMatch()) {
            r.dataBlocksAvailable = m5.captured(1).toInt();
            r.dataBlocks = m5.captured(2).toInt();
        } else if (auto m6 = part.match(line); m6.hasMatch()) {
            if (m6.captured(1) != m6.captured(2) && !r.partialCopies.contains(m6.captured(1))) r.partialCopies << m6.captured(1);
        }
    }
    // A renamed file is not missing once its match is known.
    for (const auto &rn : r.renamed) r.missing.removeAll(rn.second);
    return r;
}

double lastPar2Percent(const QByteArray &chunk, QString *what)
{
    const qsizetype pct = chunk.lastIndexOf('%');
    if (pct < 0) return -1;
    const qsizetype colon = chunk.lastIndexOf(':', pct);
    if (colon < 0) return -1;
    bool ok = false;
    const double v = chunk.mid(colon + 1, pct - colon - 1).trimmed().toDouble(&ok);
    if (!ok) return -1;
    if (what) {
        qsizetype start = colon;
        while (start > 0 && chunk[start - 1] != '\r' && chunk[start - 1] != '\n' && chunk[start - 1] != '%') --start;
        *what = QString::fromLatin1(chunk.mid(start, colon - start)).trimmed();
    }
    return v;
}

namespace {

constexpr char kMagic[8] = {'P', 'A', 'R', '2', '\0', 'P', 'K', 'T'};
constexpr char kFileDesc[16] = {'P', 'A', 'R', ' ', '2', '.', '0', '\0', 'F', 'i', 'l', 'e', 'D', 'e', 's', 'c'};
constexpr char kRecovery[16] = {'P', 'A', 'R', ' ', '2', '.', '0', '\0', 'R', 'e', 'c', 'v', 'S', 'l', 'i', 'c'};

// Walks the packets of a par2 file read through `read(pos, n)` of `size` bytes: only
// their headers, and the bodies of file descriptions. A damaged stretch is passed over to
// the next packet start found.
Par2FileInfo walkPar2(qint64 size, const std::function<QByteArray(qint64, qint64)> &read)
{
    Par2FileInfo info;
    qint64 pos = 0;
    while (pos + 64 <= size) {
        const QByteArray head = read(pos, 64);
        if (head.size() < 64) break;
        quint64 len = 0;
        for (int i = 7; i >= 0; --i) len = (len << 8) | uchar(head[8 + i]);
        if (std::memcmp(head.constData(), kMagic, 8) != 0 || len < 64 || len % 4 != 0 || len > quint64(size - pos)) {
            // Look for the next packet start a window at a time.
            const QByteArray window = read(pos + 1, 64 * 1024);
            const qsizetype at = window.indexOf(QByteArray(kMagic, 8));
            if (at >= 0) pos += 1 + at;
            else if (window.size() < 64 * 1024) break;
            else pos += 64 * 1024 - 7;
            continue;
        }
        if (info.setId.isEmpty()) info.setId = head.mid(32, 16);
        if (head.mid(32, 16) == info.setId) {
            if (std::memcmp(head.constData() + 48, kRecovery, 16) == 0) ++info.recoveryBlocks;
            else if (std::memcmp(head.constData() + 48, kFileDesc, 16) == 0 && len >= 64 + 56 && len <= 64 + 56 + 64 * 1024) {
                QByteArray name = read(pos + 64 + 56, qint64(len) - 64 - 56);
                while (name.endsWith('\0')) name.chop(1);
                const QString n = fileNameFromBytes(name);
                if (!info.names.contains(n)) {
                    info.names << n;
                    if (n.toUtf8() != name) info.foreignNames.emplace_back(name, n);
                }
            }
        }
        pos += qint64(len);
    }
    return info;
}

} // namespace

Par2FileInfo readPar2File(const QByteArray &d)
{
    return walkPar2(d.size(), [&](qint64 pos, qint64 n) { return d.mid(pos, n); });
}

Par2FileInfo scanPar2File(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return walkPar2(f.size(), [&](qint64 pos, qint64 n) { return f.seek(pos) ? f.read(n) : QByteArray(); });
}

bool startsLikePar2(const QByteArray &head) { return head.startsWith(QByteArray(kMagic, 8)); }

bool isSafePar2Name(const QString &name)
{
    if (name.isEmpty() || name.startsWith(u'/') || name.contains(u'\\') || name.contains(u':')) return false;
    for (const QString &part : name.split(u'/')) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..")) return false;
        const QByteArray b = part.toUtf8();
        if (safeNameChars(b) != b) return false;
    }
    return true;
}

std::pair<int, int> par2VolumeBlocks(const QString &fileName)
{
    static const QRegularExpression vol(QStringLiteral("\\.vol(\\d+)[+-](\\d+)\\.par2$"), QRegularExpression::CaseInsensitiveOption);
    const auto m = vol.match(fileName);
    if (!m.hasMatch()) return {-1, 0};
    return {m.captured(1).toInt(), m.captured(2).toInt()};
}

std::vector<size_t> chooseRecoveryVolumes(int needed, const std::vector<int> &blockCounts, const std::vector<qint64> &bytes)
{
    const size_t n = blockCounts.size();
    auto size = [&](size_t i) { return i < bytes.size() && bytes[i] > 0 ? bytes[i] : qint64(std::max(0, blockCounts[i])); };
    qint64 all = 0;
    for (int c : blockCounts) all += std::max(0, c);
    if (needed <= 0 || all < needed) return {};
    // A knapsack over the volumes: the fewest bytes (then volumes) for at least b blocks,
    // b capped at what is needed. Sets far beyond what posters make take the smallest
    // volumes in turn instead.
    const size_t width = size_t(needed) + 1;
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) { return blockCounts[x] < blockCounts[y]; });
    if (n * width > (size_t(1) << 22)) {
        std::vector<size_t> out;
        int have = 0;
        for (size_t i : order)
            if (have < needed && blockCounts[i] > 0) {
                out.push_back(i);
                have += blockCounts[i];
            }
        return out;
    }
    struct Cost {
        qint64 bytes = std::numeric_limits<qint64>::max();
        int volumes = 0;
        bool reached() const { return bytes != std::numeric_limits<qint64>::max(); }
        bool operator<(const Cost &o) const { return bytes != o.bytes ? bytes < o.bytes : volumes < o.volumes; }
    };
    std::vector<Cost> best(width);
    best[0] = {0, 0};
    std::vector<std::vector<int>> from(n, std::vector<int>(width, -1));   // where volume i took entry b from
    for (size_t i = 0; i < n; ++i) {
        if (blockCounts[i] <= 0) continue;
        for (size_t b = width; b-- > 0;) {
            if (!best[b].reached()) continue;
            const size_t to = std::min(width - 1, b + size_t(blockCounts[i]));
            const Cost with{best[b].bytes + size(i), best[b].volumes + 1};
            if (with < best[to]) {
                best[to] = with;
                from[i][to] = int(b);
            }
        }
    }
    std::vector<size_t> out;
    size_t b = width - 1;
    for (size_t i = n; i-- > 0 && b > 0;)
        if (from[i][b] >= 0) {
            out.push_back(i);
            b = size_t(from[i][b]);
        }
    std::stable_sort(out.begin(), out.end(), [&](size_t x, size_t y) { return blockCounts[x] < blockCounts[y]; });
    return out;
}

Par2Run::Par2Run(QObject *parent) : QObject(parent)
{
    m_proc.setProcessChannelMode(QProcess::MergedChannels);
    m_proc.setProcessEnvironment(AppPaths::childEnvironment());
    connect(&m_proc, &QProcess::readyRead, this, [this] {
        const QByteArray chunk = m_proc.readAll();
        m_out += chunk;
        QString what;
        const double p = lastPar2Percent(chunk, &what);
        if (p >= 0) emit progress(what, p);
    });
    connect(&m_proc, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        m_out += m_proc.readAll();
        const Par2Report r = parsePar2Output(m_out);
        emit finished(r, status == QProcess::NormalExit ? code : -1,
                      status == QProcess::NormalExit ? QString() : QStringLiteral("par2 ended abnormally"));
    });
    connect(&m_proc, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) emit finished({}, -1, QStringLiteral("par2 could not be started (is it installed?)"));
    });
}

Par2Run::~Par2Run() { cancel(); }

QString Par2Run::program()
{
    const QString p = QStandardPaths::findExecutable(QStringLiteral("par2"));
    return p.isEmpty() ? QStringLiteral("par2") : p;
}

void Par2Run::start(Mode mode, const QString &indexFile, const QStringList &extraFiles, bool purge)
{
    m_out.clear();
    const QFileInfo fi(indexFile);
    QStringList args{mode == Mode::Verify ? QStringLiteral("verify") : QStringLiteral("repair")};
    if (purge && mode == Mode::Repair) args << QStringLiteral("-p");
    // Everything par2 writes stays in the set's folder.
    args << QStringLiteral("-B") << fi.absolutePath() << QStringLiteral("--") << fi.absoluteFilePath();
    for (const QString &f : extraFiles) args << QFileInfo(f).absoluteFilePath();
    m_proc.setWorkingDirectory(fi.absolutePath());
    m_proc.start(program(), args);
}

void Par2Run::cancel()
{
    if (m_proc.state() == QProcess::NotRunning) return;
    m_proc.blockSignals(true);
    m_proc.kill();
    m_proc.waitForFinished(2000);
    m_proc.blockSignals(false);
}

} // namespace vt
