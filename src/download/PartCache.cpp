#include "PartCache.h"
#include "core/Text.h"
#include <cstring>
#include <cstdio>
#include <cerrno>
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
    return m_groups.nameByKey(it.parts[size_t(part - 1)].groupKey());
}

QString PartCache::PartCacheFile(int item, int part)
{
    const HeaderItem &it = m_store.item(item);
    const bool inRange = part >= 1 && part <= int(it.parts.size());
    const QString group = inRange && it.parts[size_t(part - 1)].groupKey() == kNzbGroupKey ? QStringLiteral("_nzb")
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

DirectWriter::Paths PartCache::directPaths(int item)
{
    QString journal = PartCacheFile(item, 1);
    journal.chop(4);
    journal += QStringLiteral(".JOURNAL");
    return {downloadFolder(item) + DirectWriter::dataFileName(journal), journal};
}

QString PartCache::downloadFolder(int item)
{
    const QString base = m_settings.Download_Path;
    const HeaderItem &it = m_store.item(item);
    // A job's own folder, under its category's.
    if (const NzbOrigin *o = nzb ? nzb->originOf(it) : nullptr; o && !o->folder.isEmpty()) {
        MakeFolder(o->folder);
        return o->folder;
    }
    if (!m_settings.chkMakeSubDirs) return base;
    // An imported post belongs to no group: its files stay together in the folder itself.
    if (it.parts.empty() || it.parts.front().groupKey() == kNzbGroupKey) return base;
    const QString g = m_groups.nameByKey(it.parts.front().groupKey());
    if (g.isEmpty()) return base;
    EnsureDownloadFolder(base, g);
    return base + g + u'/';
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

void PartCache::unmarkMissing(int item, int part) { QFile::remove(missingMarker(item, part)); }

// Written whole or not at all: a half-written file would count as a downloaded part. The
// file is written beside its name and renamed; no sync to disk, which would cost more than
// the transfer (a part lost to a power cut is only downloaded again).
bool writeWhole(const QString &name, const QByteArray &data, QString *error)
{
    const QString temp = name + QStringLiteral(".part");
    QFile f(temp);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) || f.write(data) != data.size()) {
        *error = fileErrorText(name, f.errorString(), errno);
        f.close();
        QFile::remove(temp);
        return false;
    }
    f.close();
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(name).constData()) != 0) {
        *error = fileErrorText(name, {}, errno);
        QFile::remove(temp);
        return false;
    }
    return true;
}

} // namespace vt
