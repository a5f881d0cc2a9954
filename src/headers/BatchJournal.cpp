#include "BatchJournal.h"
#include "HeaderStore.h"

namespace vt {

// A name or poster never holds a tab or a line end in the store, but a line is made safe
// all the same: such bytes become blanks.
static QByteArray field(QByteArray b)
{
    for (char &c : b)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    return b;
}

void BatchJournal::changed(char change, const HeaderStore &store, int item)
{
    if (item < 1 || item > store.itemCount()) return;
    note(change, store.item(item).subject, store.item(item).poster);
}

void BatchJournal::note(char change, const QByteArray &name, const QByteArray &poster)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_replaying) return;
    if (!m_file.isOpen()) {
        m_file.setFileName(m_path);
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) return;
    }
    // Unbuffered: each line reaches the system as it is written, so a kill keeps it.
    m_file.write(QByteArray(1, change) + '\t' + field(name) + '\t' + field(poster) + "\r\n");
}

void BatchJournal::clear()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_file.close();
    QFile::remove(m_path);
}

int BatchJournal::replay(HeaderStore &store, BatchSink &batch)
{
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    int applied = 0;
    m_replaying = true;
    for (const QByteArray &raw : f.readAll().split('\n')) {
        const QByteArray line = raw.endsWith('\r') ? raw.chopped(1) : raw;
        const QList<QByteArray> p = line.split('\t');
        if (p.size() != 3 || p[0].size() != 1) continue;   // a line cut by the kill: passed over
        const int item = store.FindHash(p[1], p[2]);
        if (item < 1) continue;
        if (p[0] == "+") batch.AddToBatch(item);
        else if (p[0] == "-" || p[0] == "x") batch.RemoveFromBatch(item, p[0] == "x", false);
        else continue;
        ++applied;
    }
    m_replaying = false;
    return applied;
}

} // namespace vt
