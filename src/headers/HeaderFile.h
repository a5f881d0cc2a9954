#pragma once
// npending.dat: the items, their parts and the batch order, as lines of text. Version 15
// is written; 14, 12 and 11 are read and converted. Saving replaces the file only once the
// new one is complete.
#include <QObject>
#include <QString>
#include <memory>
#include <thread>
#include <functional>
#include <utility>
#include <vector>

namespace vt {

class BatchSink;
class HeaderStore;
class OpsLog;
class Prompter;

class HeaderFile : public QObject {
    Q_OBJECT
public:
    HeaderFile(HeaderStore &store, OpsLog &log, Prompter &prompter, QObject *parent = nullptr);
    ~HeaderFile() override;

    // status text, value, maximum: the splash window's label and bar.
    std::function<void(const QString &, qint64, qint64)> progress;

    // Saves here and now (the exit, the tests); a save in steps that is running goes.
    // What a save writes: every item, or (leaving without saving the headers) only what the
    // file already holds and the batch's items, so a queued post outlives the exit.
    enum class Keep { All, SavedAndBatch };
    bool SaveHeaders(const QString &path, const BatchSink *batch, Keep keep = Keep::All);
    // Saves in steps of about kSaveStepMs ms that return to the event loop; saveFinished
    // tells the end. Asked again while one runs, one more follows it.
    void startSave(const QString &path, const BatchSink *batch);
    bool saving() const { return bool(m_job); }
    void cancelSave();
    // Runs the rest of a save in steps here and now (the program is ending).
    void finishSave();
    static constexpr qint64 kSaveStepMs = 8;

    // The steps themselves (tests drive them one by one). beginSave false: failed at once;
    // true with nothing running: there was nothing to save.
    enum class SaveStep { More, Written, Done, Failed };
    bool beginSave(const QString &path, const BatchSink *batch, Keep keep = Keep::All);
    SaveStep saveStep(qint64 budgetMs, int maxItems = 0);   // 0, 0: to the end

    // Loads into the (empty) store, re-indexes, and rebuilds the batch through batch. A
    // damaged file (cut short) gives every whole item and batch entry it still holds, or the
    // previous save when that is whole; it is kept beside as "npending.dat.damaged".
    bool LoadHeaders(const QString &path, BatchSink *batch);
    // Where a save keeps the file it replaces.
    static QString backupPath(const QString &path);

    qint64 lastPartsWritten() const { return m_partsWritten; }

    // Called as a save takes the batch: what the batch's journal holds up to here is in it.
    std::function<void()> batchTaken;
    // Test hook: called after every item block written (a crash can be simulated here).
    std::function<void(int written)> afterItemWritten;

signals:
    void saveFinished(bool ok);

private:
    struct Loaded {
        qint64 declared = 0;   // items the file says it holds
        qint64 loaded = 0;     // whole items read
        qint64 batchRows = 0;
        std::vector<std::pair<qint64, qint64>> pairs;
        bool whole = false, batchWhole = false;
        bool unknownVersion = false;   // its first line names no version we read (empty, zeroed, other)
    };
    bool parse(const QString &path, Loaded &out);
    bool loadInsteadOfUnreadable(const QString &path, const QString &from, BatchSink *batch);
    void applyBatch(const Loaded &l, BatchSink *batch);
    void keepBackup(const QString &path);
    struct SaveJob;
    class ChunkWriter;
    bool commit(SaveJob &j, bool keepOld);
    void saveFailed(const QString &why);
    void continueSave(const QString &path, const BatchSink *batch);
    SaveStep committed(bool ok, const QString &error);
    std::unique_ptr<SaveJob> m_job;
    bool m_saveAgain = false;
    bool m_committing = false;
    std::thread m_commitThread;
    std::thread m_dropBackup;   // unlinks the backup a save is about to replace
    void backupDropped();
    bool m_commitOk = false;
    QString m_commitError;

    HeaderStore &m_store;
    OpsLog &m_log;
    Prompter &m_prompter;
    qint64 m_partsWritten = 0;
    bool m_mainWhole = false;     // the file at the path was read whole or written by us
    bool m_convertSaid = false;
};

} // namespace vt
