#pragma once
// NZB files (the 1.1 layout): what an index site hands out instead of a scan. Reading is
// pure and bounded, since the file comes from outside; writing gives what reading takes.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

namespace vt {

struct NzbSegment {
    qint64 bytes = 0;
    int number = 0;
    QByteArray messageId;   // without the angle brackets
};

struct NzbFileEntry {
    QByteArray poster;
    qint64 date = 0;        // seconds since 1970, UTC
    QByteArray subject;
    QStringList groups;
    std::vector<NzbSegment> segments;   // sorted by number, one each
};

struct NzbDocument {
    std::vector<std::pair<QString, QString>> meta;   // <head><meta type="...">value</meta>
    std::vector<NzbFileEntry> files;
};

struct NzbLimits {
    qint64 maxBytes = 256LL * 1024 * 1024;
    qint64 maxSegments = 2'000'000;
    int maxSegmentsPerFile = 32767;
};

struct NzbParse {
    bool ok = false;
    QString error;   // said to the user as it stands
    NzbDocument doc;
    int segmentsDropped = 0;   // repeated numbers, bad message-ids
    std::vector<std::pair<QString, int>> droppedWhy;   // why, how many: in the order first met
    // "N segment(s) left out: N with ..., N with ..."; empty when none was.
    QString droppedText() const;
};

NzbParse parseNzb(const QByteArray &data, const NzbLimits &limits = {});
QByteArray writeNzb(const NzbDocument &doc);

// A message-id as a server takes it on a command line: printable, no blanks or brackets
// inside, at most 250 bytes with its brackets.
bool isUsableMessageId(const QByteArray &id);
// What is wrong with a message-id, said as "a ... in a message-id"; empty when it is usable.
QString messageIdFault(const QByteArray &id);
// An NZB file's bytes as written: gzip-compressed ones (".nzb.gz") are unpacked, within
// maxBytes; false with the reason otherwise.
bool unpackNzbBytes(QByteArray &data, qint64 maxBytes, QString *error);

} // namespace vt
