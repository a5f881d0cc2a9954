// The small text files of the program's folder from outside: favs.txt, WATCH.TXT,
// VANTREL.INI and an item's journal of parts decoded on arrival, one target each
// (FUZZ_FILE 0, 1, 2, 3). Each loads without harm, gives rows that can be
// used (every newsgroup row a key from 1 to 255, no key twice, every server a host and
// its numbers in range), and a load, save, load, save gives the same file twice (but for
// the scrambled passwords).
#include "FuzzSupport.h"
#include "core/AppCore.h"
#include "groups/NewsgroupTable.h"
#include "headers/WatchList.h"
#include "download/DirectWrite.h"
#include <QDir>
#include <set>

using namespace vt;

static QByteArray favsRound(const QString &from, const QString &to)
{
    QuietPrompter p;
    OpsLog log;
    UiState ui;
    NewsgroupTable t(log, p, ui);
    t.loadFavourites(from);
    std::set<qint32> keys;
    for (int r = 1; r <= t.rows(); ++r) {
        const qint32 k = t.rowKey(r);
        FUZZ_CHECK(k >= 1 && k <= 255);
        FUZZ_CHECK(keys.insert(k).second);
        FUZZ_CHECK(NewsgroupTable::isSafeGroupName(t.nameByKey(k)));
    }
    QFile::remove(to);
    t.saveFavourites(to);
    return fuzz::readFile(to);
}

static QByteArray watchRound(const QString &from, const QString &to)
{
    WatchList w;
    w.LoadWatchList(from);
    QFile::remove(to);
    w.SaveWatchList(to);
    return fuzz::readFile(to);
}

static QByteArray settingsRound(const QString &fromDir, const QString &toDir)
{
    QuietPrompter p;
    AppCore from(AppPaths(fromDir), p);
    from.settingsFile.LoadSettings(from.settings);
    from.settingsFile.LoadWindowSizes(from.settings);
    from.settingsFile.LoadColumnSizes(from.settings);
    FUZZ_CHECK(from.settings.sldXOVER >= 1 && from.settings.sldTimeout >= 1);
    FUZZ_CHECK(ServerEntry::connectionsInRange(from.settings.News_Connections) && from.settings.Download_Limit >= 0);
    for (const ServerEntry &e : from.settings.servers)
        FUZZ_CHECK(!e.host.isEmpty() && ServerEntry::connectionsInRange(e.connections) && e.level >= 0);
    AppCore to(AppPaths(toDir), p);
    QFile::remove(to.paths.ini());
    to.settingsFile.SaveSettings(from.settings);
    to.settingsFile.SaveWindowSizes(from.settings);
    to.settingsFile.SaveColumnSizes(from.settings);
    // Passwords are scrambled with random fillers: the same password, other bytes.
    QByteArray out;
    for (const QByteArray &line : fuzz::readFile(to.paths.ini()).split('\n')) {
        const QByteArray key = line.left(line.indexOf('=')).toUpper();
        if (key == "USER_PWX" || (key.startsWith("PWX") && key.size() > 3)) continue;
        out += line + '\n';
    }
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString dir = fuzz::scratch();
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    switch (FUZZ_FILE) {
    case 0: {
        fuzz::writeFile(dir + "/favs.txt", body);
        const QByteArray a = favsRound(dir + "/favs.txt", dir + "/favs.a");
        FUZZ_CHECK(favsRound(dir + "/favs.a", dir + "/favs.b") == a);
        break;
    }
    case 1: {
        fuzz::writeFile(dir + "/WATCH.TXT", body);
        const QByteArray a = watchRound(dir + "/WATCH.TXT", dir + "/watch.a");
        FUZZ_CHECK(watchRound(dir + "/watch.a", dir + "/watch.b") == a);
        break;
    }
    case 3: {
        // What is read writes back to the same reading; the writer trusts only parts whose
        // bytes the item's own file holds.
        if (const std::optional<DirectJournal> j = readDirectJournal(body)) {
            QByteArray again = directJournalHeader(j->data);
            for (const DirectPart &p : j->parts) again += directJournalLine(p);
            const std::optional<DirectJournal> k = readDirectJournal(again);
            FUZZ_CHECK(k && k->whole && k->data == j->data && k->parts.size() == j->parts.size());
            for (size_t i = 0; i < j->parts.size(); ++i)
                FUZZ_CHECK(directJournalLine(k->parts[i]) == directJournalLine(j->parts[i]));
        }
        const QString journal = dir + "/1.JOURNAL", data = dir + '/' + DirectWriter::dataFileName(journal);
        fuzz::writeFile(data, body.left(4096));
        // The journal as the fuzzer made it, but naming this file.
        const qsizetype nl = body.indexOf('\n');
        fuzz::writeFile(journal, directJournalHeader(data) + (nl >= 0 ? body.mid(nl + 1) : QByteArray()));
        DirectWriter w;
        for (const DirectPart &p : w.parts(journal))
            FUZZ_CHECK(p.info.decoded >= 0 && std::max<qint64>(p.info.begin, 1) - 1 + p.info.decoded <= 4096);
        break;
    }
    default: {
        for (const char *d : {"/s0", "/s1", "/s2"}) QDir().mkpath(dir + d);
        fuzz::writeFile(dir + "/s0/VANTREL.INI", body);
        const QByteArray a = settingsRound(dir + "/s0", dir + "/s1");
        FUZZ_CHECK(settingsRound(dir + "/s1", dir + "/s2") == a);
        break;
    }
    }
    return 0;
}
