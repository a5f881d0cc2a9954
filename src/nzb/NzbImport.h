#pragma once
// NZB files in and out of the header store: each NZB file entry becomes an item whose
// parts are fetched by message-id, queued in the NZB's order (data first, the par2 index
// after, recovery volumes only when a repair needs them).
#include "NzbFile.h"
#include "headers/NzbOrigins.h"
#include <QString>
#include <QStringList>
#include <vector>

namespace vt {

class BatchSink;
class HeaderStore;
class GroupNames;
struct HeaderItem;

// The three kinds of par2 file by name: not par2, the index, a recovery volume.
enum class Par2Kind { None, Index, Volume };
Par2Kind par2KindOf(const QByteArray &fileName);
// The file name a subject gives: the text in double quotes when there is one.
QByteArray fileNameInSubject(const QByteArray &subject);
// The file an item's post carries, by its subject.
QByteArray fileNameOfItem(const HeaderItem &it);

struct NzbImport {
    bool ok = false;
    QString message;            // the error, or what was imported (for the log)
    std::vector<int> items;     // in the NZB's order
    std::vector<int> queued;    // what went into the batch
    int segments = 0;
};

NzbImport importNzbDocument(const NzbDocument &doc, const QString &nzbName, HeaderStore &store, BatchSink &batch,
                            NzbCatalog &catalog);
NzbImport importNzbFile(const QString &path, HeaderStore &store, BatchSink &batch, NzbCatalog &catalog,
                        const NzbLimits &limits = {});

// The items as an NZB file (the groups a part was scanned in, or those its NZB listed).
NzbDocument exportNzb(const HeaderStore &store, const GroupNames *groups, const NzbCatalog &catalog,
                      const std::vector<int> &items);
bool writeNzbFile(const QString &path, const NzbDocument &doc, QString *error);

} // namespace vt
