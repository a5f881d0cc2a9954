// npending.dat: round trips, the batch order, older versions, bad input, a crash mid-save.
#include "Posts.h"
#include "TestSupport.h"
#include "core/AppCore.h"
#include "download/BatchQueue.h"
#include "headers/HeaderFile.h"
#include "headers/HeaderStore.h"
#include <QFile>
#include <gtest/gtest.h>
#include <random>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vt;

namespace {
struct Env {
    QTemporaryDir dir;
    QuietPrompter prompter;
    OpsLog log;
    HeaderStore store;
    BatchQueue batch{store};
    HeaderFile file{store, log, prompter};
    QString path() const { return dir.path() + "/npending.dat"; }
    void write(const QByteArray &b) const
    {
        QFile f(path());
        f.open(QIODevice::WriteOnly);
        f.write(b);
    }
    QByteArray read() const
    {
        QFile f(path());
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    int add(const QByteArray &name, int parts, int declared = 0)
    {
        HeaderItem it;
        it.subject = name;
        it.poster = "Jane";
        it.declaredTotal = qint16(declared);
        it.postDate = fromDateTime(QDateTime(QDate(2002, 3, 14), QTime(23, 10), Qt::UTC));
        for (int k = 0; k < parts; ++k) {
            PartRecord p;
            p.byteCount = 100 + k;
            p.articleNumber = 1000 + k;
            p.setGroupKey(3);
            store.setTexts(p, " (" + QByteArray::number(k + 1) + "/3)", "<" + name + QByteArray::number(k) + "@x>");
            it.parts.push_back(p);
        }
        return store.appendLoadedItem(it);
    }
};
} // namespace

TEST(HeaderFile, RoundTripWithBatchOrderAndDate)
{
    Env e;
    const int a = e.add("A [xx/0000003]", 3, 3), b = e.add("B", 1), c = e.add("C", 2);
    const int gone = e.add("gone", 1);
    e.store.item(gone).deleted = true;
    const int kept = e.add("deleted but queued", 1);
    e.batch.AddToBatch(c);
    e.batch.AddToBatch(a);
    e.batch.AddToBatch(b);
    e.batch.AddToBatch(kept);
    e.store.item(kept).deleted = true;
    e.store.headersDirty = true;
    ASSERT_TRUE(e.file.SaveHeaders(e.path(), &e.batch));
    EXPECT_FALSE(e.store.headersDirty);
    const QByteArray text = e.read();
    EXPECT_TRUE(text.startsWith("VTLHF15\r\n4\r\nA [xx/0000003]\r\n03-14-2002\r\nJane\r\n3\r\n3\r\n100\r\n1000\r\n3\r\n (1/3)\r\n"));
    EXPECT_TRUE(text.endsWith(" 4 \r\n 2\r\n 1\r\n 3\r\n 2\r\n 1\r\n 3\r\n 4\r\n 4\r\n\r\n")) << text.right(60).constData();

    Env r;
    QFile::copy(e.path(), r.path());
    ASSERT_TRUE(r.file.LoadHeaders(r.path(), &r.batch));
    ASSERT_EQ(r.store.itemCount(), 4);
    EXPECT_EQ(r.batch.rows(), std::vector<int>({3, 1, 2, 4})) << "C, A, B as before";
    EXPECT_EQ(r.store.item(1).parts[2].messageId(), "<A [xx/0000003]2@x>");
    EXPECT_EQ(toDateTime(r.store.item(1).postDate), QDateTime(QDate(2002, 3, 14), QTime(0, 0), Qt::UTC));
    EXPECT_FALSE(r.store.item(4).deleted) << "a deleted item in the batch comes back, in the batch";
    EXPECT_EQ(r.store.FindHash("B", "Jane"), 2);
    EXPECT_EQ(r.store.partsReadTotal, 7);
    EXPECT_FALSE(r.store.headersDirty);
}

TEST(HeaderFile, EmptySlotsAllDeletedAndUnknownVersion)
{
    Env e;
    const int i = e.add("slots [xx/0000015]", 15, 15);
    for (int k = 3; k < 15; ++k) e.store.item(i).parts[size_t(k)] = PartRecord{};
    ASSERT_TRUE(e.file.SaveHeaders(e.path(), &e.batch));
    Env r;
    QFile::copy(e.path(), r.path());
    r.file.LoadHeaders(r.path(), &r.batch);
    ASSERT_EQ(r.store.item(1).parts.size(), 15u);
    EXPECT_EQ(r.store.item(1).parts[14].articleNumber, 0);
    EXPECT_TRUE(r.store.item(1).parts[14].messageId().isEmpty());

    e.store.item(i).deleted = true;
    ASSERT_TRUE(e.file.SaveHeaders(e.path(), &e.batch));
    EXPECT_FALSE(QFile::exists(e.path())) << "nothing to save: no file";

    e.write("VTLHF99\r\n1\r\n");
    e.file.LoadHeaders(e.path(), &e.batch);
    EXPECT_EQ(e.prompter.messages.last(), "Saved headers are unknown version, cannot be loaded.");
    EXPECT_FALSE(QFile::exists(e.path()));
    EXPECT_EQ(vt::test::readFile(e.path() + ".damaged"), "VTLHF99\r\n1\r\n") << "kept aside, never deleted";
}

// A main file whose first line cannot be read (empty, zeroed by a crash, an unknown
// version) beside a whole backup: the backup is loaded, the bad file kept aside, the log
// says so, and the next save leaves the good backup as it was.
TEST(HeaderFile, AnUnreadableFileFallsBackToTheBackup)
{
    Env e;
    for (int i = 0; i < 5; ++i) e.add("item " + QByteArray::number(i), 2);
    e.batch.AddToBatch(2);
    ASSERT_TRUE(e.file.SaveHeaders(e.path(), &e.batch));
    const QByteArray good = e.read();
    QByteArray zeroed = good;
    zeroed.replace(0, std::min<qsizetype>(4096, zeroed.size()), QByteArray(std::min<qsizetype>(4096, zeroed.size()), '\0'));
    for (const QByteArray &bad : {QByteArray(), zeroed, QByteArray("VTLHF77\r\n5\r\n")}) {
        SCOPED_TRACE(bad.size());
        Env r;
        r.write(bad);
        ASSERT_TRUE(QFile::copy(e.path(), HeaderFile::backupPath(r.path())));
        QStringList logged;
        QObject::connect(&r.log, &OpsLog::statusChanged, [&](const QString &m) { logged << m; });
        ASSERT_TRUE(r.file.LoadHeaders(r.path(), &r.batch));
        EXPECT_EQ(r.store.itemCount(), 5);
        EXPECT_EQ(r.batch.rows(), std::vector<int>{2});
        EXPECT_EQ(vt::test::readFile(r.path() + ".damaged"), bad);
        EXPECT_EQ(logged.filter("npending.dat could not be read").size(), 1);
        ASSERT_TRUE(r.file.SaveHeaders(r.path(), &r.batch));
        EXPECT_EQ(vt::test::readFile(HeaderFile::backupPath(r.path())), good) << "the good backup stays";
        EXPECT_EQ(r.read(), good);
    }
}

TEST(HeaderFile, OlderVersionsConvert)
{
    Env e;
    // Version 14: an extra number after the subject.
    e.write("VTLHF14\r\n1\r\nOld post [xx/0000002]\r\n77\r\n03-14-2002\r\nBob\r\n2\r\n1\r\n500\r\n42\r\n1\r\n (1/2)\r\n<a@b>\r\n 0 \r\n\r\n");
    ASSERT_TRUE(e.file.LoadHeaders(e.path(), &e.batch));
    EXPECT_EQ(e.prompter.messages, QStringList({"Saved headers are old version (14), will convert."}));
    ASSERT_EQ(e.store.itemCount(), 1);
    EXPECT_EQ(e.store.item(1).poster, "Bob");
    EXPECT_EQ(e.store.item(1).parts[0].subjectTail(), " (1/2)");
    EXPECT_EQ(e.store.item(1).parts[0].articleNumber, 42);

    Env v11;
    v11.write("VTLHF11\r\n1\r\nOld post [xx/0000002]\r\n5\r\n03-14-2002\r\nBob\r\n2\r\n1\r\n500\r\n42\r\n1\r\nOld post (1/2)\r\n<a@b>\r\n 0 \r\n\r\n");
    ASSERT_TRUE(v11.file.LoadHeaders(v11.path(), &v11.batch));
    EXPECT_EQ(v11.store.item(1).parts[0].subjectTail(), " (1/2)") << "the whole subject is cut to its tail";
}

TEST(HeaderFile, CrashMidSaveKeepsThePreviousFile)
{
    Env e;
    for (int i = 0; i < 50; ++i) e.add("item " + QByteArray::number(i), 2);
    ASSERT_TRUE(e.file.SaveHeaders(e.path(), &e.batch));
    const QByteArray before = e.read();
    e.add("one more", 1);
    const pid_t pid = fork();
    if (pid == 0) {
        e.file.afterItemWritten = [](int k) {
            if (k == 25) _exit(7);   // the process dies in the middle of the save
        };
        e.file.SaveHeaders(e.path(), &e.batch);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7);
    EXPECT_EQ(e.read(), before);

    // A save that cannot be written keeps the old file and the dirty flag.
    e.store.headersDirty = true;
    QFile::setPermissions(e.dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    if (::geteuid() != 0) {
        EXPECT_FALSE(e.file.SaveHeaders(e.path(), &e.batch));
        EXPECT_TRUE(e.store.headersDirty);
        EXPECT_TRUE(e.prompter.messages.last().startsWith("Error: "));
    }
    QFile::setPermissions(e.dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(e.read(), before);

    // The disk fills in the middle of a save of some megabytes (writes past a file-size
    // limit fail), saved at once or in steps: it fails, says so and keeps the old file.
    for (int i = 0; i < 300; ++i) e.add("bulk " + QByteArray::number(i), 150);
    for (const bool steps : {false, true}) {
        const pid_t child = fork();
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{3 << 19, 3 << 19};
            setrlimit(RLIMIT_FSIZE, &limit);
            bool ok = true, done = false;
            if (steps) {
                QObject::connect(&e.file, &HeaderFile::saveFinished, [&](bool good) { ok = good, done = true; });
                e.file.startSave(e.path(), &e.batch);
                while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            } else {
                ok = e.file.SaveHeaders(e.path(), &e.batch);
            }
            _exit(!ok && e.store.headersDirty && e.prompter.messages.last().startsWith("Error: ") ? 3 : 4);
        }
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << "steps " << steps;
        EXPECT_EQ(e.read(), before);
    }
}

// A file cut short keeps every whole item and batch entry; the previous save is kept as a
// backup and taken instead when it is whole; the damaged file stays beside for the user.
TEST(HeaderFile, DamagedFileKeepsWhatItCanAndTheBackup)
{
    Env e;
    for (int i = 0; i < 20; ++i) e.add("item " + QByteArray::number(i), 2);
    for (int i : {7, 3, 12}) e.batch.AddToBatch(i);
    ASSERT_TRUE(e.file.SaveHeaders(e.path(), &e.batch));
    const QByteArray first = e.read();
    EXPECT_FALSE(QFile::exists(HeaderFile::backupPath(e.path()))) << "nothing to keep yet";
    e.batch.AddToBatch(e.add("item 20", 2));
    ASSERT_TRUE(e.file.SaveHeaders(e.path(), &e.batch));
    const QByteArray second = e.read();
    {
        QFile bak(HeaderFile::backupPath(e.path()));
        ASSERT_TRUE(bak.open(QIODevice::ReadOnly));
        EXPECT_EQ(bak.readAll(), first) << "the replaced file is the backup";
    }

    struct Cut {
        qsizetype keep;
        bool withBackup;
        int items;
        std::vector<int> batch;
        const char *says;
    } cuts[] = {
        {second.size() * 6 / 10, false, -1, {}, "npending.dat was damaged: "},
        {second.size() - 9, false, 21, {7, 3, 12}, "npending.dat was damaged: the batch order could not be read"},
        {second.size() * 6 / 10, true, 20, {7, 3, 12}, "npending.dat was damaged: the previous save ("},
    };
    for (const Cut &c : cuts) {
        SCOPED_TRACE(c.keep);
        Env r;
        r.write(second.left(c.keep));
        if (c.withBackup) QFile::copy(HeaderFile::backupPath(e.path()), HeaderFile::backupPath(r.path()));
        ASSERT_TRUE(r.file.LoadHeaders(r.path(), &r.batch));
        ASSERT_EQ(r.prompter.messages.size(), 1);
        EXPECT_TRUE(r.prompter.messages.first().startsWith(c.says)) << r.prompter.messages.first().toStdString();
        QFile kept(r.path() + ".damaged");
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), second.left(c.keep));
        if (c.items >= 0) EXPECT_EQ(r.store.itemCount(), c.items);
        else EXPECT_TRUE(r.store.itemCount() > 5 && r.store.itemCount() < 21);
        for (int i = 1; i <= r.store.itemCount(); ++i) {
            ASSERT_EQ(r.store.item(i).parts.size(), 2u) << "only whole items";
            EXPECT_EQ(r.store.item(i).parts[1].messageId(), "<item " + QByteArray::number(i - 1) + "1@x>");
        }
        EXPECT_EQ(r.batch.rows(), c.batch);
        if (c.items < 0) {
            const int lost = 21 - r.store.itemCount();
            EXPECT_TRUE(r.prompter.messages.first().startsWith("npending.dat was damaged: " + QString::number(lost)
                                                                + " items and the batch order could not be read"));
        }
        EXPECT_TRUE(r.store.headersDirty) << "the next save writes a whole file";
    }

    // A save in steps drops the old backup while it writes; the file it replaces is the new one.
    e.add("item 21", 2);
    bool finished = false;
    QObject::connect(&e.file, &HeaderFile::saveFinished, [&](bool ok) { finished = ok; });
    e.file.startSave(e.path(), &e.batch);
    ASSERT_TRUE(vt::test::waitFor([&] { return finished; }));
    EXPECT_EQ(vt::test::readFile(HeaderFile::backupPath(e.path())), second);
    EXPECT_NE(e.read(), second);
}

TEST(HeaderFile, MutatedFilesNeverCrash)
{
    Env e;
    for (int i = 0; i < 30; ++i) e.add("item [xx/0000003] " + QByteArray::number(i), 3, 3);
    e.batch.AddToBatch(5);
    ASSERT_TRUE(e.file.SaveHeaders(e.path(), &e.batch));
    const QByteArray good = e.read();
    std::mt19937 rng(9);
    const char *evil[] = {"-5", "999999999", "2147483647", "-2147483648", "", "x", "12abc", "99999999999999999999"};
    for (int round = 0; round < 3000; ++round) {
        QByteArray b = good;
        const int edits = 1 + int(rng() % 4);
        for (int k = 0; k < edits; ++k) {
            QList<QByteArray> lines = b.split('\n');
            const int at = int(rng() % uint32_t(lines.size()));
            switch (rng() % 5) {
            case 0: lines[at] = QByteArray(evil[rng() % 8]) + "\r"; break;
            case 1: lines.removeAt(at); break;
            case 2: lines.insert(at, lines[at]); break;
            case 3: b = b.left(qsizetype(rng() % uint32_t(b.size() + 1))); continue;
            case 4: if (!lines[at].isEmpty()) lines[at][int(rng() % uint32_t(lines[at].size()))] = char(rng()); break;
            }
            b = lines.join('\n');
        }
        Env r;
        r.write(b);
        r.file.LoadHeaders(r.path(), &r.batch);
        for (int i = 1; i <= r.store.itemCount(); ++i) ASSERT_LE(r.store.item(i).parts.size(), size_t(b.size()));
        for (int row : r.batch.rows()) ASSERT_TRUE(row >= 1 && row <= r.store.itemCount());
    }
}

// A save in steps while the store changes between them (a scan filing headers, deletes,
// the batch reordered, items downloaded out of it): the file holds exactly the items the
// save started with, each whole, and loads back whole with a batch that refers to them.
// Clearing the store ends the save and leaves the previous file as it was.
TEST(HeaderFile, SaveInStepsWhileTheStoreChanges)
{
    Env e;
    for (int i = 0; i < 8; ++i) e.add("Item" + QByteArray::number(i), 2 + i % 3);
    e.batch.AddToBatch(5);
    e.batch.AddToBatch(2);
    e.batch.AddToBatch(7);
    ASSERT_TRUE(e.file.SaveHeaders(e.path(), &e.batch));
    const QByteArray before = e.read();

    ASSERT_TRUE(e.file.beginSave(e.path(), &e.batch));
    EXPECT_FALSE(e.store.headersDirty);
    int steps = 0;
    for (HeaderFile::SaveStep st = HeaderFile::SaveStep::More; st == HeaderFile::SaveStep::More; ++steps) {
        st = e.file.saveStep(0, 1);
        ASSERT_NE(st, HeaderFile::SaveStep::Failed);
        switch (steps) {
        case 1: e.add("Filed during the save", 3); break;                        // a burst crunched
        case 2: e.store.item(1).deleted = true; break;                           // written already
        case 3: e.store.item(8).deleted = true; break;                           // not written yet
        case 4: e.batch.RemoveFromBatch(5, false, false); break;                 // decoded meanwhile
        case 5: e.store.item(7).parts.resize(1); break;                          // changed before it is written
        case 6: e.batch.AddToBatch(3); break;
        default: break;
        }
        e.store.headersDirty = true;
    }
    EXPECT_EQ(steps, 8);
    EXPECT_TRUE(e.store.headersDirty) << "changes made during the save are for the next one";

    Env l;
    l.write(e.read());
    ASSERT_TRUE(l.file.LoadHeaders(l.path(), &l.batch));
    EXPECT_FALSE(QFile::exists(l.path() + ".damaged"));
    ASSERT_EQ(l.store.itemCount(), 8);
    EXPECT_EQ(l.store.item(1).subject, "Item0");
    EXPECT_EQ(l.store.item(7).parts.size(), 1u);
    EXPECT_EQ(l.store.item(6).parts.size(), 4u);
    EXPECT_EQ(l.store.item(8).subject, "Item7");
    // The batch as it was at the end: 2, 7, 3 (5 left it).
    EXPECT_EQ(l.batch.rows(), (std::vector<int>{2, 7, 3}));

    // Save asked again while one runs: one more follows it and takes what changed.
    e.add("After the first save", 1);
    int finished = 0;
    QObject::connect(&e.file, &HeaderFile::saveFinished, [&](bool ok) { finished += ok; });
    e.file.startSave(e.path(), &e.batch);
    e.file.startSave(e.path(), &e.batch);
    e.add("During it", 1);
    ASSERT_TRUE(test::waitFor([&] { return finished == 2 && !e.file.saving(); }));
    Env m;
    m.write(e.read());
    ASSERT_TRUE(m.file.LoadHeaders(m.path(), &m.batch));
    EXPECT_EQ(m.store.item(m.store.itemCount()).subject, "During it");

    // Cleared in the middle: no file is replaced.
    e.write(before);
    ASSERT_TRUE(e.file.beginSave(e.path(), &e.batch));
    EXPECT_EQ(e.file.saveStep(0, 1), HeaderFile::SaveStep::More);
    e.store.clear();
    EXPECT_EQ(e.file.saveStep(0, 1), HeaderFile::SaveStep::Failed);
    EXPECT_FALSE(e.file.saving());
    EXPECT_TRUE(e.store.headersDirty);
    EXPECT_EQ(e.read(), before);
}
