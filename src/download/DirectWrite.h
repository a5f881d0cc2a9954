#pragma once
// yEnc parts decoded as they arrive, on worker threads (as many as cores), each written at
// its offset straight into its item's file. A small journal per item lists the parts in
// that file, a line as each is written. About once a second the data is synced, then a
// sync mark is added to the journal and it is synced too: the parts before the last mark
// are on disk for certain. Those after it (what a power cut may have lost) are trusted at
// the next start only when their bytes in the file still give their CRC; the rest is
// fetched again.
#include "decode/Yenc.h"
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace vt {

// One part in an item's file.
struct DirectPart {
    int part = 0;
    YencPartInfo info;
};

// The journal's text: a header naming the data file, then a line per part, each with its
// own check. Reading stops at the first line that is cut or damaged.
QByteArray directJournalHeader(const QString &dataPath);
QByteArray directJournalLine(const DirectPart &p);
QByteArray directJournalSyncMark();
struct DirectJournal {
    QString data;
    std::vector<DirectPart> parts;
    size_t synced = 0;   // parts before the last sync mark
    bool whole = true;   // false: a damaged or cut line ended the reading
};
std::optional<DirectJournal> readDirectJournal(QByteArrayView text);

class DirectWriter {
public:
    struct Paths {
        QString data, journal;
    };
    enum class Outcome {
        Written,        // in the file (info says whether its own size and CRC matched)
        Duplicate,      // the part was already in the file or on its way there
        Refused,        // a copy that cannot be placed safely: another server may do better
        NotDirect,      // not a part that says where it goes: for the part cache
        LocalFailure,   // the disk or the folder: the run stops
    };
    struct Result {
        quint64 ticket = 0;
        Outcome outcome = Outcome::NotDirect;
        QString why;
        YencPartInfo info;
        QByteArray raw;   // NotDirect: the article as it came
    };
    using Handler = std::function<void(Result)>;

    // The hidden name of an item's file, from its journal's path: a journal naming any
    // other file is not ours.
    static QString dataFileName(const QString &journal);

    DirectWriter();
    ~DirectWriter();   // waits for the parts in flight and makes what was written durable

    // Decodes part `part` of the item whose files are `paths` on a worker; `owner`'s
    // handler gets the result on this thread. `single`: the item has one part (a yEnc
    // post without "=ypart" can only go direct then).
    void submit(const void *owner, quint64 ticket, const Paths &paths, int part, bool single, QByteArray raw);
    void setHandler(const void *owner, Handler h);
    void removeHandler(const void *owner);

    // Whether the part is in the item's file; its record. The journal is read the first
    // time an item is asked about.
    bool has(const QString &journal, int part);
    std::vector<DirectPart> parts(const QString &journal);
    QString dataFile(const QString &journal);
    // The item's files closed (before its final decode).
    void settle(const QString &journal);
    // The item is done with: its journal goes (its data file has become the decoded file),
    // and copies of its parts still on their way are dropped until it is fetched again.
    void forget(const QString &journal);
    void fetchingAgain(const QString &journal);
    // Waits for the parts in flight.
    void drain();
    // Article bytes with the workers now.
    qint64 backlog() const { return m_backlog; }
    // Every journal under the folder read once: one whose file is gone (its decode named it
    // and a kill came before the journal went) goes.
    void sweep(const QString &folder);

    static constexpr qint64 kSyncMs = 1000;

private:
    struct Item;
    std::shared_ptr<Item> item(const QString &journal);
    Result work(quint64 ticket, const Paths &paths, int part, bool single, const QByteArray &raw);
    void deliver(const void *owner, Result r);
    static bool note(Item &it, const QByteArray &line, QString *error);
    static bool flush(Item &it, QString *error);
    static void close(Item &it);

    std::mutex m_mutex;   // guards m_items (each item has its own lock)
    std::map<QString, std::shared_ptr<Item>> m_items;
    std::set<QString> m_done;   // items whose decode named their file in this run
    std::map<const void *, Handler> m_handlers;   // this thread only
    QObject m_home;                               // results come back through its thread
    std::atomic<qint64> m_backlog{0};
    QThreadPool m_threads;
};

} // namespace vt
