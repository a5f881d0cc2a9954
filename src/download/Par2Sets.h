#pragma once
// par2 sets among the decoded files, known by the set in their packets whatever they are
// called. When a download ends, each set is verified with every par2 file of it that was
// decoded; a set short of blocks gets only the recovery volumes it needs queued (the
// fewest bytes) and is repaired once they are in; after a repair, par2's backups and the
// damaged copies go. One par2 run at a time, as a process: the window never waits for it.
// Each set ends in one processed-list row.
#include "decode/Par2.h"
#include "decode/Unpack.h"
#include <atomic>
#include <thread>
#include "headers/HeaderStore.h"
#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <memory>
#include <vector>

namespace vt {

class AppCore;
class BatchQueue;
class HeaderStore;
class ProcessedList;

class Par2Sets : public QObject {
    Q_OBJECT
public:
    Par2Sets(AppCore &core, HeaderStore &store, BatchQueue &batch, ProcessedList &processed, QObject *parent = nullptr);
    ~Par2Sets() override;

    // A decode wrote this file (on the main thread, as its outcome is applied).
    // password: what its NZB gave for its archives.
    void fileDecoded(const QString &path, const QString &password = {});
    // The download ended with nothing left to fetch or decode.
    void downloadEnded();
    // Every file of one folder is in (a job's, while the run goes on with others): its sets
    // are verified and its archives unpacked now, not at the end of the run.
    void folderDone(const QString &folder);
    bool busy() const;
    // Work left for the files of this folder: a set, a decoded file not yet given to one,
    // or an archive to unpack.
    bool busyWith(const QString &folder) const;
    // A post's row asked to be done again (a password added, files put back): the files
    // of its par2 set or archive (none: the row's file is neither), then the step again.
    QStringList postFiles(const QString &file) const;
    void retry(const QStringList &files);
    int setsOpen() const { return int(m_sets.size()); }
    // The sets still to verify, fetch for or repair are kept in a file beside the batch
    // as they change; at start-up (the headers loaded) they are taken up where they were.
    void keepIn(const QString &path);
    void takeUp();

signals:
    // Recovery volumes went into the batch.
    void downloadWanted();
    void setFinished(const QString &indexFile, const QString &status, bool ok);

private:
    // An archive to unpack once its set is whole (or at once, without par2): one at a
    // time, on a thread of its own. The post's row is written when it is over.
    struct Unpack {
        ArchiveSet archive;
        QString folder;
        QString rowName, rowFile, status;   // the row so far: what par2 said
        QStringList cleanup;                // removed after a good unpack: its volumes
        QStringList par2Files;              // removed once every archive of the post unpacked
        bool lastOfPost = true;
        bool again = false;   // cut short by the exit: what it wrote then is written over
    };
    void queueUnpacks(const QStringList &files, const QString &folder, const QString &rowName, const QString &rowFile,
                      const QString &status, const QStringList &par2Files);
    void nextUnpack();
    void unpacked(const UnpackOutcome &o);
    std::deque<Unpack> m_unpacks;
    QHash<QString, QString> m_passwords;   // decoded file -> its NZB's password
    std::thread m_unpackThread;
    std::atomic<bool> m_cancelUnpack{false};
    bool m_unpacking = false;
    int m_postWritten = 0;   // files the post's archives gave so far
    QString m_postTrouble;
    struct Set {
        QByteArray id;           // the recovery set's id
        QString index;           // the par2 file par2 runs on: the one with the fewest recovery blocks
        int indexBlocks = 0;
        QString base;            // its name without ".par2"
        QStringList par2Files;   // every par2 file of the set decoded, the index among them
        QStringList names;       // the files the set describes
        std::vector<std::pair<QByteArray, QString>> foreignNames;   // names not in UTF-8: as written, as read
        QStringList extra;       // files decoded beside it, perhaps its files misnamed
        QStringList before;      // the folder as a repair starts: par2's backups are what is new
        std::vector<ItemRef> volumes;   // items queued for it
        int blocksNeeded = 0;
        bool fetching = false;
        bool ready = false;      // its files are all in: par2 may run on it
    };
    // The decoded files of `folder` (all when empty) go to their sets or are unpacked; those
    // sets become ready.
    void filesIn(const QString &folder);
    void next();
    void verified(const Par2Report &r, int code, const QString &failure);
    void repaired(const Par2Report &r, int code, const QString &failure);
    void finish(const QString &status, bool ok);
    bool fetchVolumes(Set &s, int needed, int *available);
    void log(const QString &msg, bool record);
    void cleanUp(const Set &s, const Par2Report &r);
    void repairStarts(Set &s);
    void lendForeignNames(const Set &s);
    void settleForeignNames(const Set &s);
    QStringList extraFor(const Set &s) const;
    void save() const;
    QString m_keepPath;

    AppCore &m_core;
    HeaderStore &m_store;
    BatchQueue &m_batch;
    ProcessedList &m_processed;
    std::deque<Set> m_sets;          // the front one is the one par2 runs on
    QStringList m_decoded;           // files decoded since the last check
    std::unique_ptr<Par2Run> m_run;
    Par2Run::Mode m_mode = Par2Run::Mode::Verify;
};

} // namespace vt
