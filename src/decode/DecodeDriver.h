#pragma once
// The decode driver: turns an item whose parts are all in the cache into files in the
// download folder (yEnc with our own decoder, everything else through libuu), reports the
// outcome and takes the item out of the batch.
#include "Yenc.h"
#include <QString>
#include <functional>

namespace vt {

class AppCore;
class BatchQueue;
class HeaderStore;
class NewsgroupTable;
class PartCache;
class ProcessedList;

// One processed-list row for item i (its display name, the status, the output path).
void AddProcessedEntry(ProcessedList &list, const HeaderStore &store, int item, const QString &status,
                       const QString &file, bool ok);

class Decoder {
public:
    Decoder(AppCore &core, HeaderStore &store, NewsgroupTable &groups, BatchQueue &batch, ProcessedList &processed,
            PartCache &cache);

    // False when the decode could not be done for a local reason (the download folder not
    // writable or full, the library busy with a preview): the item keeps its cached parts
    // and its place in the batch, and localFailure() says why.
    bool DecodeItem(int item);
    QString localFailure() const { return m_localFailure; }
    // The library's return-code text; plays the sound that goes with it.
    QString DecodeResultText(int code);
    QString DecodeFolder(int item);
    void FinishDecode(int item, bool ok, const QString &status, const QString &out);
    // Double click on a processed row (0-based, -1 = none selected).
    void LaunchProcessed(int row);

    // Opens a path with the desktop's opener; false when it could not be started.
    std::function<bool(const QString &path)> RunAssociated;
    // Called while decoding: keeps the download watchdog quiet.
    std::function<void()> activity;

    YencDecoder yenc;

private:
    bool yencPath(int item, const QString &dest, QString *status, QString *out);
    bool libraryPath(int item, const QString &dest, QString *status, QString *out);
    bool partZero(int item, int part) const;
    void log(const QString &msg, bool record = true);

    AppCore &m_core;
    HeaderStore &m_store;
    NewsgroupTable &m_groups;
    BatchQueue &m_batch;
    ProcessedList &m_processed;
    PartCache &m_cache;
    QString m_localFailure;
};

} // namespace vt
