#pragma once
// The decode driver: turns an item whose parts are all in the cache into files in the
// download folder (yEnc with our own decoder, everything else through libuu), reports the
// outcome and takes the item out of the batch.
#include "Yenc.h"
#include <QString>
#include <atomic>
#include <functional>
#include <vector>

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

// What one decode needs, copied from the store when it is queued: the file work never
// reads the store, the batch or the widgets, so it can run on its own thread while they
// change.
struct DecodeJob {
    int item = 0;
    QByteArray subject;              // tells, at the end, whether the item is still this one
    QByteArray displayName;
    QString folder;                  // the download folder for it, ending with "/"
    std::vector<QString> parts;      // cache files of parts 1..n
    std::vector<bool> partZero;      // a part numbered 0 (no file data)
    bool oldRenameStyle = false;
    bool keepFailedParts = false;    // a failed decode leaves its parts in the cache
};

struct DecodeOutcome {
    bool ok = false;
    QString status, out;
    QString localFailure;   // not the post's fault: nothing changes, the item stays
    int libraryCode = -1;   // the library's return code when it failed (for its sound)
    bool cancelled = false;
    bool partsRemoved = false;   // the cache files went with the decode
};

// The file work of one decode (yEnc with our decoder, everything else through libuu).
// Reports through the callbacks; one object per thread.
class DecodeWork {
public:
    std::function<void(const QString &, bool record)> log = [](const QString &, bool) {};
    std::function<void(qint64 value, qint64 max)> fileProgress = [](qint64, qint64) {};
    // Called while decoding: keeps the download watchdog quiet.
    std::function<void()> activity;
    // Set to end the decode early (the program is exiting).
    const std::atomic<bool> *cancel = nullptr;
    YencDecoder yenc;

    DecodeOutcome run(const DecodeJob &job);
    // The job's cache files go, each said in the log.
    void removeParts(const DecodeJob &job);

private:
    bool yencPath(const DecodeJob &job, DecodeOutcome &o);
    bool libraryPath(const DecodeJob &job, DecodeOutcome &o);
};

class Decoder {
public:
    Decoder(AppCore &core, HeaderStore &store, NewsgroupTable &groups, BatchQueue &batch, ProcessedList &processed,
            PartCache &cache);

    // Decodes here and now. False when the decode could not be done for a local reason
    // (the download folder not writable or full, the library busy with a preview): the item
    // keeps its cached parts and its place in the batch, and localFailure() says why.
    bool DecodeItem(int item);
    QString localFailure() const { return m_localFailure; }
    // The file the last decode wrote (also a damaged one that was kept), or empty.
    QString lastDecodedFile;

    // The two halves, for a decode on another thread: the job (false with localFailure()
    // set when the folder cannot be written), and the outcome applied to the item, the
    // processed list and the batch. False when the outcome was a local failure.
    bool prepare(int item, DecodeJob *job);
    bool finish(const DecodeJob &job, const DecodeOutcome &o);

    // The library's return-code text; plays the sound that goes with it.
    QString DecodeResultText(int code);
    static QString resultText(int code);
    QString DecodeFolder(int item);
    void FinishDecode(const DecodeJob &job, bool ok, const QString &status, const QString &out, bool partsRemoved = false);
    // Double click on a processed row (0-based, -1 = none selected).
    void LaunchProcessed(int row);

    // Opens a path with the desktop's opener; false when it could not be started.
    std::function<bool(const QString &path)> RunAssociated;
    // Called while decoding: keeps the download watchdog quiet.
    std::function<void()> activity;

    // Reports of a decode on another thread, arriving here.
    void logFromWork(const QString &msg, bool record) { log(msg, record); }
    void fileProgressFromWork(qint64 value, qint64 max) { m_work.fileProgress(value, max); }

private:
    bool partZero(int item, int part) const;
    void log(const QString &msg, bool record = true);

    AppCore &m_core;
    HeaderStore &m_store;
    NewsgroupTable &m_groups;
    BatchQueue &m_batch;
    ProcessedList &m_processed;
    PartCache &m_cache;
    DecodeWork m_work;
    QString m_localFailure;

public:
    // The decoder of decodes made here (its settings go to the decode thread's too).
    YencDecoder &yenc = m_work.yenc;
};

} // namespace vt
