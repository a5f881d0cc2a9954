// Parts decoded as they arrive, straight into their item's file, with the item's journal:
// real files written and read back, a new writer standing for the next start.
#include "Posts.h"
#include "download/ArticleText.h"
#include "download/DirectWrite.h"
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

using namespace vt;
using namespace vt::test;

namespace {

// A part as the server sends it: status line, dot-stuffed body, terminator.
QByteArray wire(const QByteArray &body) { return "222 0 <p@x> body\r\n" + onTheWire(body); }

// Part k of `file` posted in parts of `size` bytes, as the server sends it.
QByteArray partOf(const QByteArray &file, int k, int size, const QByteArray &name)
{
    const int total = int((file.size() + size - 1) / size);
    return wire(yencPart(file, qint64(k - 1) * size + 1, std::min<qint64>(qint64(k) * size, file.size()), k, total, name));
}

struct Rig {
    QTemporaryDir dir;
    DirectWriter::Paths pathsFor(const QString &name, const QString &folder = {}) const
    {
        const QString journal = dir.path() + '/' + name + ".JOURNAL";
        return {(folder.isEmpty() ? dir.path() : folder) + '/' + DirectWriter::dataFileName(journal), journal};
    }
    DirectWriter::Paths paths = pathsFor("post");
    std::map<quint64, DirectWriter::Result> results;
    quint64 tickets = 0;
    std::unique_ptr<DirectWriter> writer = fresh();

    std::unique_ptr<DirectWriter> fresh()
    {
        auto w = std::make_unique<DirectWriter>();
        w->setHandler(this, [this](DirectWriter::Result r) { results[r.ticket] = std::move(r); });
        return w;
    }
    // The writer as the next start finds things.
    void restart()
    {
        writer.reset();
        results.clear();
        writer = fresh();
    }
    DirectWriter::Result put(int part, const QByteArray &raw, bool single = false)
    {
        const quint64 t = ++tickets;
        writer->submit(this, t, paths, part, single, raw);
        EXPECT_TRUE(waitFor([&] { return results.count(t) > 0; }, 10000));
        return results[t];
    }
};

} // namespace

TEST(DirectWrite, PartsInAnyOrderTwiceAndCopiesThatCannotBePlaced)
{
    const QByteArray file = randomBytes(5 * 40000 - 123, 3);
    auto part = [&](int k) { return partOf(file, k, 40000, "post.bin"); };
    Rig r;
    // Out of order, part 3 twice at once and once more later: written once.
    const quint64 first = r.tickets + 1;
    for (int k : {3, 3, 1, 5})
        r.writer->submit(&r, ++r.tickets, r.paths, k, false, part(k));
    ASSERT_TRUE(waitFor([&] { return r.results.size() == 4; }, 10000));
    int written = 0, twice = 0;
    for (quint64 t = first; t < first + 4; ++t) {
        written += r.results[t].outcome == DirectWriter::Outcome::Written;
        twice += r.results[t].outcome == DirectWriter::Outcome::Duplicate;
    }
    EXPECT_EQ(written, 3);
    EXPECT_EQ(twice, 1);
    EXPECT_EQ(r.put(3, part(3)).outcome, DirectWriter::Outcome::Duplicate);

    // Copies that cannot be placed are refused and the good bytes stay: one over part 1's
    // bytes, one whose begin/end disagree with its size, one cut before =yend.
    QByteArray over = yencPart(file, 30001, 70000, 2, 5, "post.bin");
    EXPECT_EQ(r.put(2, wire(over)).outcome, DirectWriter::Outcome::Refused);
    EXPECT_EQ(r.results[r.tickets].why, "it overlaps part 1");
    QByteArray disagree = yencPart(file, 40001, 80000, 2, 5, "post.bin").replace("end=80000", "end=79000");
    EXPECT_EQ(r.put(2, wire(disagree)).outcome, DirectWriter::Outcome::Refused);
    const QByteArray cut = part(4);
    EXPECT_EQ(r.put(4, cut.left(cut.indexOf("=yend"))).outcome, DirectWriter::Outcome::Refused);
    // Not a part that says where it goes: for the part cache.
    EXPECT_EQ(r.put(4, "222 0 <p@x> body\r\nbegin 644 x\r\n`\r\nend\r\n.\r\n").outcome, DirectWriter::Outcome::NotDirect);
    EXPECT_EQ(r.put(2, part(2)).outcome, DirectWriter::Outcome::Written);
    EXPECT_EQ(r.put(4, part(4)).outcome, DirectWriter::Outcome::Written);

    r.restart();
    for (int k = 1; k <= 5; ++k) EXPECT_TRUE(r.writer->has(r.paths.journal, k)) << k;
    r.writer->settle(r.paths.journal);
    EXPECT_TRUE(readFile(r.paths.data) == file);
    const std::optional<DirectJournal> j = readDirectJournal(readFile(r.paths.journal));
    ASSERT_TRUE(j && j->whole);
    EXPECT_EQ(j->data, r.paths.data);
    EXPECT_EQ(j->parts.size(), 5u);
    EXPECT_EQ(j->synced, 5u);
    EXPECT_EQ(j->parts[0].info.name, "post.bin");
    r.writer->forget(r.paths.journal);
    EXPECT_FALSE(QFile::exists(r.paths.journal));
    EXPECT_FALSE(r.writer->has(r.paths.journal, 1));
}

TEST(DirectWrite, TheNextStartTrustsOnlyWhatTheFileHolds)
{
    const QByteArray file = randomBytes(4 * 30000, 4);
    auto part = [&](int k) { return partOf(file, k, 30000, "kept.bin"); };
    Rig r;
    for (int k = 1; k <= 3; ++k) ASSERT_EQ(r.put(k, part(k)).outcome, DirectWriter::Outcome::Written);
    r.writer.reset();   // a plain exit: everything synced and marked
    QByteArray journal = readFile(r.paths.journal);
    ASSERT_TRUE(journal.endsWith(directJournalSyncMark()));

    // Lines after the last mark stand only where their bytes give their CRC: part 2's
    // bytes never reached the disk, part 3's did. A line cut by the kill ends the journal.
    const std::vector<DirectPart> was = readDirectJournal(journal)->parts;
    ASSERT_EQ(was.size(), 3u);
    std::map<int, DirectPart> byPart;
    for (const DirectPart &p : was) byPart[p.part] = p;
    QByteArray text = directJournalHeader(r.paths.data) + directJournalLine(byPart[1]) + directJournalSyncMark();
    text += directJournalLine(byPart[2]) + directJournalLine(byPart[3]) + directJournalLine(byPart[3]).left(20);
    writeFile(r.paths.journal, text);
    {
        QFile data(r.paths.data);
        ASSERT_TRUE(data.open(QIODevice::ReadWrite));
        data.seek(30000 + 100);
        data.write(QByteArray(50, '\0'));
    }
    r.restart();
    for (int k = 1; k <= 4; ++k) EXPECT_EQ(r.writer->has(r.paths.journal, k), k == 1 || k == 3) << k;
    // The journal was written again with what stands, and takes new lines after it.
    const std::optional<DirectJournal> again = readDirectJournal(readFile(r.paths.journal));
    ASSERT_TRUE(again && again->whole);
    EXPECT_EQ(again->parts.size(), 2u);
    EXPECT_EQ(r.put(2, part(2)).outcome, DirectWriter::Outcome::Written);
    EXPECT_EQ(r.put(4, part(4)).outcome, DirectWriter::Outcome::Written);
    r.restart();
    for (int k = 1; k <= 4; ++k) EXPECT_TRUE(r.writer->has(r.paths.journal, k)) << k;
    EXPECT_TRUE(readFile(r.paths.data) == file);

    // A journal naming a file that is not its item's stands for nothing.
    r.writer.reset();
    const QString other = r.dir.path() + "/other.bin";
    ASSERT_TRUE(QFile::copy(r.paths.data, other));
    writeFile(r.paths.journal, directJournalHeader(other) + directJournalLine(byPart[1]) + directJournalSyncMark());
    r.restart();
    EXPECT_FALSE(r.writer->has(r.paths.journal, 1));
    EXPECT_FALSE(QFile::exists(r.paths.journal));
    writeFile(r.paths.journal, journal);
    // A journal whose file is gone (its decode named it, then a kill came before the
    // journal went) stands for nothing, and a run's sweep takes it away.
    r.writer.reset();
    QFile::remove(r.paths.data);
    r.restart();
    r.writer->sweep(r.dir.path());
    EXPECT_FALSE(QFile::exists(r.paths.journal));
    EXPECT_FALSE(r.writer->has(r.paths.journal, 1));
}

TEST(DirectWrite, DamageTheDiskAndTheFolder)
{
    const QByteArray file = randomBytes(2 * 30000, 5);
    auto part = [&](int k) { return partOf(file, k, 30000, "full.bin"); };
    Rig r;
    // A damaged copy is written all the same (the file keeps what came) and says so.
    QByteArray damaged = part(1);
    const qsizetype plain = damaged.indexOf('A', damaged.indexOf("=ypart") + 200);
    ASSERT_GT(plain, 0);
    damaged[plain] = 'B';
    const DirectWriter::Result bad = r.put(1, damaged);
    EXPECT_EQ(bad.outcome, DirectWriter::Outcome::Written);
    EXPECT_EQ(bad.why, "CRC mismatch");
    // The disk fills: the run stops with its name, and the part does not count as in.
    r.paths = r.pathsFor("full");
    ASSERT_TRUE(QFile::link("/dev/full", r.paths.data));
    const DirectWriter::Result full = r.put(2, part(2));
    EXPECT_EQ(full.outcome, DirectWriter::Outcome::LocalFailure);
    EXPECT_EQ(full.why, "the disk is full (no space left for " + r.dir.path() + ")");
    EXPECT_FALSE(r.writer->has(r.paths.journal, 2));
    // A folder that cannot take the file: the part goes to the part cache instead.
    r.paths = r.pathsFor("x", r.dir.path() + "/missing");
    EXPECT_EQ(r.put(1, part(1)).outcome, DirectWriter::Outcome::NotDirect);
}
