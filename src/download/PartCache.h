#pragma once
// The part cache: one file per downloaded article, named by group and article number
// (imported posts, which belong to no group, under "_nzb"). yEnc parts decoded as they
// arrive go straight into their item's file instead, listed in its journal (beside the
// cache files, named after part 1). A part counts as downloaded exactly when its cache
// file exists or its item's journal lists it.
#include "DirectWrite.h"
#include <QByteArray>
#include <QSet>
#include <QString>

namespace vt {

class HeaderStore;
class NewsgroupTable;
struct Settings;

// Creates base + group when nothing is there yet; errors are ignored.
void EnsureCacheFolder(const QString &cacheFolder, const QString &group);
inline void EnsureDownloadFolder(const QString &downloadFolder, const QString &group)
{
    EnsureCacheFolder(downloadFolder, group);
}

// Writes a cache file whole or not at all (beside its name, then renamed).
bool writeWhole(const QString &name, const QByteArray &data, QString *error);

class NzbCatalog;

class PartCache {
public:
    PartCache(const Settings &settings, const NewsgroupTable &groups, const HeaderStore &store)
        : m_settings(settings), m_groups(groups), m_store(store)
    {
    }
    // Where imported items came from: a job's own folder.
    const NzbCatalog *nzb = nullptr;
    // Cache folder + group + "/" + article number + ".UUE"; creates the group's folder.
    QString PartCacheFile(int item, int part);
    bool isCached(int item, int part)
    {
        return QFileInfoExists(PartCacheFile(item, part)) || m_direct.has(directPaths(item).journal, part);
    }
    // Where the item's parts decoded on arrival go: its file in the download folder (a
    // hidden name until the decode names it) and its journal.
    DirectWriter::Paths directPaths(int item);
    // The download folder + the group's folder when files go by group, ending with "/".
    QString downloadFolder(int item);
    DirectWriter &direct() { return m_direct; }
    // A part of an imported post that no server or group had: its marker file stands in
    // for it, so that the rest decodes (and par2 can mend the gap).
    QString missingMarker(int item, int part);
    bool isMissing(int item, int part) { return QFileInfoExists(missingMarker(item, part)); }
    bool markMissing(int item, int part);
    // A later run asks the servers again.
    void unmarkMissing(int item, int part);
    QString groupOfPart(int item, int part) const;

private:
    static bool QFileInfoExists(const QString &path);
    const Settings &m_settings;
    const NewsgroupTable &m_groups;
    const HeaderStore &m_store;
    QSet<QString> m_ensured;   // folders already made in this run of the program
    DirectWriter m_direct;
};

} // namespace vt
