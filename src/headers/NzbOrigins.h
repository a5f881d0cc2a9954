#pragma once
// Where imported items came from: the NZB file and the groups it listed, kept by the
// message-id of an item's first part (which does not change when the header file is saved
// and loaded again), in nzb.dat beside the header file.
#include <QHash>
#include <QString>
#include <QStringList>

namespace vt {

class HeaderStore;
struct HeaderItem;

// Parts of imported items carry this group key: they belong to no group of the list.
constexpr quint8 kNzbGroupKey = 0;

struct NzbOrigin {
    QString nzbName;
    QStringList groups;
    QString password;   // for its archives: the NZB's own, or "{{...}}" in its name
    // Set for a job handed over with a category or by the remote control: its category,
    // the folder its files go to (absolute, ending with "/") and the job's id.
    QString category, folder, job;
};

class NzbCatalog {
public:
    const NzbOrigin *originOf(const HeaderItem &it) const;
    NzbOrigin *originOf(const HeaderItem &it) { return const_cast<NzbOrigin *>(std::as_const(*this).originOf(it)); }
    // Also for an item already decoded (marked deleted), by its first part.
    const NzbOrigin *originOfDecoded(const HeaderItem &it) const;
    void add(const QByteArray &firstMessageId, NzbOrigin o) { m_origins.insert(firstMessageId, std::move(o)); }
    // Article numbers for imported parts: they only name the parts' cache files.
    qint32 takeNumbers(int n);
    int size() const { return int(m_origins.size()); }

    // nzb.dat beside the header file. prune: origins of items no longer in the store go.
    bool load(const QString &path);
    bool save(const QString &path) const;
    void prune(const HeaderStore &store);

private:
    QHash<QByteArray, NzbOrigin> m_origins;
    qint32 m_nextNumber = 1;
};

// A message-id without its angle brackets; the first part's, for an imported item (empty
// for a scanned one): the key of its origin.
QByteArray nzbBareId(const QByteArray &id);
QByteArray nzbKeyOf(const HeaderItem &it);

// The group column's text for an item: its group, or the NZB file it came from.
class GroupNames;
QString itemGroupText(const HeaderItem &it, const GroupNames *groups, const NzbCatalog *nzb);

} // namespace vt
