#pragma once
// What happened to the batch since the headers were last saved, a line a change, written
// at once: an item queued or taken out (decoded, skipped, removed by the user). At start-up
// it is replayed over the batch the header file holds, so a kill never brings back an item
// already decoded, nor loses one just queued whose post was saved; once a header save is on
// disk it starts over. Items are named as the header file knows them: name and poster.
#include "BatchSink.h"
#include <QFile>
#include <QString>
#include <mutex>

namespace vt {

class HeaderStore;

class BatchJournal {
public:
    explicit BatchJournal(QString path) : m_path(std::move(path)) {}
    // '+' queued, '-' taken out, 'x' taken out and hidden (decoded with auto-delete).
    void changed(char change, const HeaderStore &store, int item);
    // The same by name and poster, from any thread (a decode just over).
    void note(char change, const QByteArray &name, const QByteArray &poster);
    // The saved batch now holds all of it.
    void clear();
    // Applies what it holds to the batch just loaded; returns how many lines applied.
    int replay(HeaderStore &store, BatchSink &batch);

private:
    QString m_path;
    std::mutex m_lock;
    QFile m_file;
    bool m_replaying = false;   // what is replayed is in the file already
};

} // namespace vt
