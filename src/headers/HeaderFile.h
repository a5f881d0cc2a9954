#pragma once
// npending.dat: the items, their parts and the batch order, as lines of text. Version 15
// is written; 14, 12 and 11 are read and converted. Saving replaces the file only once the
// new one is complete.
#include <QString>
#include <functional>
#include <utility>
#include <vector>

namespace vt {

class BatchSink;
class HeaderStore;
class OpsLog;
class Prompter;

class HeaderFile {
public:
    HeaderFile(HeaderStore &store, OpsLog &log, Prompter &prompter) : m_store(store), m_log(log), m_prompter(prompter) {}

    // status text, value, maximum: the splash window's label and bar.
    std::function<void(const QString &, qint64, qint64)> progress;

    bool SaveHeaders(const QString &path, const BatchSink *batch);
    // Loads into the (empty) store, re-indexes, and rebuilds the batch through batch. A
    // damaged file (cut short) gives every whole item and batch entry it still holds, or the
    // previous save when that is whole; it is kept beside as "npending.dat.damaged".
    bool LoadHeaders(const QString &path, BatchSink *batch);
    // Where a save keeps the file it replaces.
    static QString backupPath(const QString &path);

    qint64 lastPartsWritten() const { return m_partsWritten; }

    // Test hook: called after every item block written (a crash can be simulated here).
    std::function<void(int written)> afterItemWritten;

private:
    struct Loaded {
        qint64 declared = 0;   // items the file says it holds
        qint64 loaded = 0;     // whole items read
        qint64 batchRows = 0;
        std::vector<std::pair<qint64, qint64>> pairs;
        bool whole = false, batchWhole = false;
    };
    bool parse(const QString &path, Loaded &out);
    void applyBatch(const Loaded &l, BatchSink *batch);
    void keepBackup(const QString &path);

    HeaderStore &m_store;
    OpsLog &m_log;
    Prompter &m_prompter;
    qint64 m_partsWritten = 0;
    bool m_mainWhole = false;     // the file at the path was read whole or written by us
    bool m_convertSaid = false;
};

} // namespace vt
