#include "NzbOrigins.h"
#include "HeaderStore.h"
#include "GroupNames.h"
#include <QFile>
#include <QSaveFile>
#include <QSet>

namespace vt {

QByteArray nzbBareId(const QByteArray &id)
{
    QByteArray t = id.trimmed();
    if (t.startsWith('<') && t.endsWith('>')) t = t.mid(1, t.size() - 2);
    return t;
}

// The bare message-id of an imported item's first part, or nothing for a scanned item.
QByteArray nzbKeyOf(const HeaderItem &it)
{
    if (it.deleted || it.parts.empty() || it.parts.front().groupKey() != kNzbGroupKey) return {};
    const PartRecord &p = it.parts.front();
    return nzbBareId(p.messageId());
}

const NzbOrigin *NzbCatalog::originOfDecoded(const HeaderItem &it) const
{
    if (it.parts.empty() || it.parts.front().groupKey() != kNzbGroupKey) return nullptr;
    const auto f = m_origins.constFind(nzbBareId(it.parts.front().messageId()));
    return f == m_origins.cend() ? nullptr : &*f;
}

const NzbOrigin *NzbCatalog::originOf(const HeaderItem &it) const
{
    const QByteArray key = nzbKeyOf(it);
    if (key.isEmpty()) return nullptr;
    const auto f = m_origins.constFind(key);
    return f == m_origins.cend() ? nullptr : &*f;
}

qint32 NzbCatalog::takeNumbers(int n)
{
    const qint32 first = m_nextNumber;
    m_nextNumber += n;
    if (m_nextNumber < first) m_nextNumber = 1;   // wrapped after two thousand million parts
    return first;
}

// One line per item: message-id TAB NZB name TAB groups joined by commas [TAB password,
// percent-encoded]; the first line keeps the next article number.
bool NzbCatalog::load(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (i == 0) {
            if (line.startsWith("next ")) m_nextNumber = std::max<qint32>(1, line.mid(5).toInt());
            continue;
        }
        const QList<QByteArray> cols = line.split('\t');
        if (cols.size() < 3 || cols[0].isEmpty() || cols[0].contains(' ')) continue;
        NzbOrigin o;
        o.nzbName = QString::fromUtf8(cols[1]);
        // Names go to the server on a command line: printable, no blanks.
        for (const QByteArray &g : cols[2].split(','))
            if (!g.isEmpty() && !g.contains(' ') && !g.contains('\r')) o.groups << QString::fromLatin1(g);
        auto col = [&](int n) { return cols.size() > n ? QString::fromUtf8(QByteArray::fromPercentEncoding(cols[n])) : QString(); };
        o.password = col(3);
        o.category = col(4);
        // Only an absolute folder: the file never sends files elsewhere by a relative path.
        o.folder = col(5);
        if (!o.folder.startsWith(u'/') || !o.folder.endsWith(u'/') || o.folder.contains(QLatin1String("/../"))) o.folder.clear();
        o.job = col(6);
        m_origins.insert(cols[0], o);
    }
    return true;
}

bool NzbCatalog::save(const QString &path) const
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    QByteArray out = "next " + QByteArray::number(m_nextNumber) + '\n';
    for (auto it = m_origins.cbegin(); it != m_origins.cend(); ++it) {
        QString name = it->nzbName;
        name.replace(u'\t', u' ').replace(u'\n', u' ');
        out += it.key() + '\t' + name.toUtf8() + '\t' + it->groups.join(u',').toLatin1();
        const bool more = !it->category.isEmpty() || !it->folder.isEmpty() || !it->job.isEmpty();
        if (!it->password.isEmpty() || more) out += '\t' + it->password.toUtf8().toPercentEncoding();
        if (more)
            out += '\t' + it->category.toUtf8().toPercentEncoding() + '\t' + it->folder.toUtf8().toPercentEncoding() + '\t'
                   + it->job.toUtf8().toPercentEncoding();
        out += '\n';
    }
    f.write(out);
    return f.commit();
}

void NzbCatalog::prune(const HeaderStore &store)
{
    QSet<QByteArray> live;
    for (int i = 1; i <= store.itemCount(); ++i) {
        const QByteArray key = nzbKeyOf(store.item(i));
        if (!key.isEmpty()) live.insert(key);
    }
    for (auto it = m_origins.begin(); it != m_origins.end();) it = live.contains(it.key()) ? std::next(it) : m_origins.erase(it);
}

QString itemGroupText(const HeaderItem &it, const GroupNames *groups, const NzbCatalog *nzb)
{
    if (it.parts.empty()) return {};
    if (it.parts.front().groupKey() == kNzbGroupKey) {
        const NzbOrigin *o = nzb ? nzb->originOf(it) : nullptr;
        return o ? QStringLiteral("NZB: ") + o->nzbName : QStringLiteral("NZB");
    }
    return groups ? groups->nameByKey(it.parts.front().groupKey()) : QString();
}

} // namespace vt
