#pragma once
// What happened to the batch since the headers were last saved, a line a change, written
// at once: an item queued or taken out (decoded, skipped, removed by the user). At start-up
// it is replayed over the batch the header file holds, so a kill never brings back an item
// already decoded, nor loses one just queued whose post was saved; once a header save is on
// disk it starts over. Items are named as the header file knows them: name and poster.
// A decode's line carries its row for the Processed page; an 'r' line follows once that
// row is on disk, so a kill between the two still lists the decode.
#include "BatchSink.h"
#include <QFile>
#include <QString>
#include <functional>
#include <mutex>

namespace vt {

class HeaderStore;

struct JournalRow {
    QString name, status, file;
    bool ok = false;
};

class BatchJournal {
public:
    explicit BatchJournal(QString path) : m_path(std::move(path)) {}
    // '+' queued, '-' taken out, 'x' taken out and hidden (decoded with auto-delete).
    void changed(char change, const HeaderStore &store, int item);
    // The same by name and poster, from any thread (a decode just over, with its row).
    void note(char change, const QByteArray &name, const QByteArray &poster, const JournalRow &row = {});
    // A header save takes the batch now: what is written so far is in it.
    void checkpoint();
    // That save is on disk: the lines up to its checkpoint go (all of them without one);
    // a decode noted on its thread meanwhile stays.
    void clear();
    // Applies what it holds to the batch just loaded; returns how many lines applied.
    // Rows of decodes whose Processed row the kill took go to lostRow.
    int replay(HeaderStore &store, BatchSink &batch, const std::function<void(const JournalRow &)> &lostRow = {});

private:
    QString m_path;
    std::mutex m_lock;
    QFile m_file;
    bool m_replaying = false;   // what is replayed is in the file already
    qint64 m_checkpoint = -1;
};

} // namespace vt
