#include "BatchJournal.h"
#include "HeaderStore.h"
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

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

void BatchJournal::note(char change, const QByteArray &name, const QByteArray &poster, const JournalRow &row)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_replaying) return;
    if (!m_file.isOpen()) {
        m_file.setFileName(m_path);
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) return;
    }
    // Unbuffered: each line reaches the system as it is written, so a kill keeps it.
    QByteArray line = QByteArray(1, change) + '\t' + field(name) + '\t' + field(poster);
    if (!row.name.isEmpty())
        line += '\t' + field(row.name.toUtf8()) + '\t' + (row.ok ? '1' : '0') + '\t' + field(row.status.toUtf8()) + '\t'
                + field(row.file.toUtf8());
    m_file.write(line + "\r\n");
}

void BatchJournal::checkpoint()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_checkpoint = m_file.isOpen() ? m_file.size() : QFileInfo(m_path).size();
}

void BatchJournal::clear()
{
    std::lock_guard<std::mutex> hold(m_lock);
    QByteArray after;
    if (m_checkpoint >= 0) {
        QFile f(m_path);
        if (f.open(QIODevice::ReadOnly) && f.seek(m_checkpoint)) after = f.readAll();
    }
    m_checkpoint = -1;
    m_file.close();
    if (after.isEmpty()) {
        QFile::remove(m_path);
        return;
    }
    QSaveFile rest(m_path);
    if (rest.open(QIODevice::WriteOnly) && rest.write(after) == after.size()) rest.commit();
}

int BatchJournal::replay(HeaderStore &store, BatchSink &batch, const std::function<void(const JournalRow &)> &lostRow)
{
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    int applied = 0;
    m_replaying = true;
    // Decodes whose row did not reach the Processed page yet, in the order they ended.
    std::vector<std::pair<QByteArray, JournalRow>> rows;
    for (const QByteArray &raw : f.readAll().split('\n')) {
        if (!raw.endsWith('\r')) continue;   // a line cut by the kill: passed over
        const QByteArray line = raw.chopped(1);
        const QList<QByteArray> p = line.split('\t');
        if ((p.size() != 3 && p.size() != 7) || p[0].size() != 1) continue;
        const QByteArray key = p[1] + '\t' + p[2];
        if (p[0] == "r") {
            const auto at = std::find_if(rows.begin(), rows.end(), [&](const auto &r) { return r.first == key; });
            if (at != rows.end()) rows.erase(at);
            continue;
        }
        if (p.size() == 7)
            rows.push_back({key, {QString::fromUtf8(p[3]), QString::fromUtf8(p[5]), QString::fromUtf8(p[6]), p[4] == "1"}});
        const int item = store.FindHash(p[1], p[2]);
        if (item < 1) continue;
        if (p[0] == "+") batch.AddToBatch(item);
        else if (p[0] == "-" || p[0] == "x") batch.RemoveFromBatch(item, p[0] == "x", false);
        else continue;
        ++applied;
    }
    m_replaying = false;
    if (lostRow)
        for (const auto &r : rows) lostRow(r.second);
    return applied;
}

} // namespace vt
