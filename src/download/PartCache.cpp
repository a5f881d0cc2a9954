#include "PartCache.h"
#include "core/Settings.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderStore.h"
#include "headers/NzbOrigins.h"
#include <QFile>
#include <QDir>
#include <QFileInfo>

namespace vt {

void EnsureCacheFolder(const QString &base, const QString &group)
{
    const QString dir = base + group;
    if (!QFileInfo(dir).isDir()) QDir().mkpath(dir);
}

bool PartCache::QFileInfoExists(const QString &path) { return QFileInfo::exists(path); }

QString PartCache::groupOfPart(int item, int part) const
{
    const HeaderItem &it = m_store.item(item);
    if (part < 1 || part > int(it.parts.size())) return {};
    return m_groups.nameByKey(it.parts[size_t(part - 1)].groupKey);
}

QString PartCache::PartCacheFile(int item, int part)
{
    const HeaderItem &it = m_store.item(item);
    const bool inRange = part >= 1 && part <= int(it.parts.size());
    const QString group = inRange && it.parts[size_t(part - 1)].groupKey == kNzbGroupKey ? QStringLiteral("_nzb")
                                                                                         : groupOfPart(item, part);
    const QString base = m_settings.Cache_Path;
    const QString key = base + group;
    if (!m_ensured.contains(key)) {
        EnsureCacheFolder(base, group);
        m_ensured.insert(key);
    }
    const qint32 number = inRange ? it.parts[size_t(part - 1)].articleNumber : 0;
    return key + u'/' + QString::number(number) + QStringLiteral(".UUE");
}

QString PartCache::missingMarker(int item, int part)
{
    QString f = PartCacheFile(item, part);
    f.chop(4);
    return f + QStringLiteral(".MISSING");
}

bool PartCache::markMissing(int item, int part)
{
    QFile f(missingMarker(item, part));
    return f.open(QIODevice::WriteOnly);
}

} // namespace vt
