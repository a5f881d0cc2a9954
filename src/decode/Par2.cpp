#include "Par2.h"
#include "FileNames.h"
#include "core/AppPaths.h"
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>
#include <cstring>
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

QStringList par2FileNames(const QByteArray &d)
{
    static const char magic[8] = {'P', 'A', 'R', '2', '\0', 'P', 'K', 'T'};
    static const char fileDesc[16] = {'P', 'A', 'R', ' ', '2', '.', '0', '\0', 'F', 'i', 'l', 'e', 'D', 'e', 's', 'c'};
    QStringList names;
    const qsizetype n = d.size();
    qsizetype pos = 0;
    while (pos + 64 <= n) {
        if (std::memcmp(d.constData() + pos, magic, 8) != 0) {
            pos += 4;
            continue;
        }
        quint64 len = 0;
        for (int i = 7; i >= 0; --i) len = (len << 8) | uchar(d[pos + 8 + i]);
        if (len < 64 || len % 4 != 0 || len > quint64(n - pos)) {
            pos += 4;
            continue;
        }
        if (std::memcmp(d.constData() + pos + 48, fileDesc, 16) == 0 && len >= 64 + 56) {
            QByteArray name = d.mid(pos + 64 + 56, qsizetype(len) - 64 - 56);
            while (name.endsWith('\0')) name.chop(1);
            const QString s = QString::fromUtf8(name);
            if (!names.contains(s)) names << s;
        }
        pos += qsizetype(len);
    }
    return names;
}

bool isSafePar2Name(const QString &name)
{
    if (name.isEmpty() || name.startsWith(u'.') || name.startsWith(u'-')) return false;
    const QByteArray b = name.toUtf8();
    return safeNameChars(b) == b && !b.contains(':');
}

std::pair<int, int> par2VolumeBlocks(const QString &fileName)
{
    static const QRegularExpression vol(QStringLiteral("\\.vol(\\d+)[+-](\\d+)\\.par2$"), QRegularExpression::CaseInsensitiveOption);
    const auto m = vol.match(fileName);
    if (!m.hasMatch()) return {-1, 0};
    return {m.captured(1).toInt(), m.captured(2).toInt()};
}

std::vector<size_t> chooseRecoveryVolumes(int needed, const std::vector<int> &blockCounts)
{
    std::vector<size_t> order(blockCounts.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return blockCounts[a] < blockCounts[b]; });
    std::vector<size_t> out;
    int have = 0;
    for (size_t i : order) {
        if (have >= needed) break;
        if (blockCounts[i] <= 0) continue;
        out.push_back(i);
        have += blockCounts[i];
    }
    if (have < needed) return {};
    // Fewer blocks fetched: a larger volume found late can stand in for the small ones
    // before it that it covers alone.
    while (out.size() > 1) {
        int withoutFirst = have - blockCounts[out.front()];
        if (withoutFirst < needed) break;
        have = withoutFirst;
        out.erase(out.begin());
    }
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
