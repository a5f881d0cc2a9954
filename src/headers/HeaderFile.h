#pragma once
// npending.dat: the items, their parts and the batch order, as lines of text. Version 15
// is written; 14, 12 and 11 are read and converted. Saving replaces the file only once the
// new one is complete.
#include <QString>
#include <functional>

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
    // Loads into the (empty) store, re-indexes, and rebuilds the batch through batch.
    bool LoadHeaders(const QString &path, BatchSink *batch);

    qint64 lastPartsWritten() const { return m_partsWritten; }

    // Test hook: called after every item block written (a crash can be simulated here).
    std::function<void(int written)> afterItemWritten;

private:
    HeaderStore &m_store;
    OpsLog &m_log;
    Prompter &m_prompter;
    qint64 m_partsWritten = 0;
};

} // namespace vt
