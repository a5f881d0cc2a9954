#pragma once
// The jobs handed over by automation tools and the watched folder: one NZB each, with its
// category and folder, in the queue while any of its items is in the batch, then in the
// history with how it ended. Kept in jobs.dat, written whenever a job changes.
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <vector>

namespace vt {

class Engine;

struct Job {
    QString id, name, category, folder;
    QList<QByteArray> keys;   // the first message-id of each of its items
    qint64 bytes = 0;
    qint64 added = 0, completed = 0;   // seconds since the epoch
    enum class State { Queued, Completed, Failed } state = State::Queued;
    QString failMessage;
};

class Jobs {
public:
    explicit Jobs(Engine &engine);

    bool load(const QString &path);
    bool save() const;
    const std::vector<Job> &all() const { return m_jobs; }
    Job *find(const QString &id);

    // An NZB file (already read and checked) as a new job: imported into the batch with
    // its category and a folder of its own named after `name`. The job's id, or empty
    // with `error` said.
    struct Add {
        QString name, category, password;
        int priority = 0;   // -2 paused, 1 and 2 to the top, the rest in turn
    };
    QString add(const QByteArray &nzb, const Add &how, QString *error);

    // The job's items in the batch now, and every item it has, by item number.
    std::vector<int> itemsOf(const Job &j);
    // Jobs with nothing left in the batch and no decode, par2 or unpack going on are
    // settled: Completed, or Failed with the first failed row of their folder.
    void settle();
    // A category chosen by hand for items of the batch that came from NZB files and have
    // nothing fetched yet: they go to that category's folder, as a job (their NZB's, or a
    // new one). What could not be done, said; empty when all was.
    QString setCategory(const std::vector<int> &items, const QString &category);
    // Out of the batch (its items are dropped) or out of the history.
    void remove(const QString &id);

private:
    void index();
    // A folder for a job named `name` inside `base` that no other job has and is not there
    // yet; empty when the name makes none inside it.
    QString freeFolder(const QString &base, const QString &name, const Job *self) const;
    Engine &m_engine;
    QString m_path;
    std::vector<Job> m_jobs;
    QHash<QByteArray, int> m_items;   // first message-id -> item
    int m_indexed = -1;               // the store's item count when m_items was made
};

// A name for a file or folder from what a request said: no path, no dot files, printable,
// at most 200 bytes; "job" when nothing is left.
QString safeJobName(const QString &wanted);

} // namespace vt
