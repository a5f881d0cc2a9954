#pragma once
#include <QObject>
// The decoder: turns an item whose parts are all in the cache into files in the download
// folder through the decode work, reports the outcome and takes the item out of the batch.
#include "decode/DecodeWork.h"
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
    // The folder of a row's file (the download folder for a row without one).
    void openProcessedFolder(int row);

    // Opens a path with the desktop's opener; false when it could not be started.
    std::function<bool(const QString &path)> RunAssociated;
    // xdg-open on a file, a folder or an address; false when it cannot start.
    static bool openWithDesktop(const QString &path);
    // The same for a file whose type has a program: said when nothing starts.
    void openOrSay(const QString &path);
    // Called while decoding: keeps the download watchdog quiet.
    // What the processed row adds about where an item's parts came from; empty: nothing.
    std::function<QString(int item)> sourceNote;
    std::function<void()> activity;
    // On the decode thread, the moment a decode is over: the batch's journal notes it, with
    // its row for the Processed page (rowListed says when that row is on disk).
    std::function<void(const DecodeJob &, const DecodeOutcome &)> decodeOver;
    std::function<void(const DecodeJob &)> rowListed;
    // Each decode's outcome as it is applied: decoded, or failed.
    std::function<void(bool ok)> counted;

    // Reports of a decode on another thread, arriving here.
    void logFromWork(const QString &msg, bool record) { log(msg, record); }
    void fileProgressFromWork(qint64 value, qint64 max) { m_work.fileProgress(value, max); }

private:
    // Opens a decoded file, after a question when its type could run something.
    void launchChecked(const QString &path);
    QObject m_questions;   // owns the answers to the launch questions
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
