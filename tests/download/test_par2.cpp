// par2 sets made by the real par2 program, posted on the test server, imported from an
// NZB file and downloaded: verified, repaired with only the recovery volumes needed, or
// refused.
#include "DownloadRig.h"
#include "Rar5Writer.h"
#include "Posts.h"
#include "decode/Par2.h"
#include "headers/HeaderFile.h"
#include "nzb/NzbImport.h"
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace vt;
using namespace vt::test;

namespace {

bool tool7z(const QString &dir, const QStringList &args) { return runTool(dir, "7zz", args); }
bool par2(const QString &dir, const QStringList &args) { return runTool(dir, Par2Run::program(), args); }

// Posts every file of dir on the server's article folder (segments of partBytes), numbers
// from *next on; the NZB entries in the order of files.
void postAll(const QString &dir, const QStringList &files, const QString &arts, int partBytes, int *next, NzbDocument &doc)
{
    for (const QString &f : files) {
        const QByteArray data = readFile(dir + '/' + f);
        doc.files.push_back(writeYencPost(arts, f.toUtf8(), data, partBytes, *next, "alt.binaries.sets"));
        *next += int(doc.files.back().segments.size());
    }
}

struct Par2Rig {
    QTemporaryDir src, arts;
    NzbDocument doc;
    int next = 1;
    std::unique_ptr<TestServer> server;
    std::unique_ptr<DownloadRig> rig;
    QStringList rows;

    void serve()
    {
        server = std::make_unique<TestServer>(QStringList{"--group", "alt.binaries.sets:1:0", "--article-dir", arts.path()});
        rig = std::make_unique<DownloadRig>(server->port());
        const QString nzb = rig->dir.path() + "/sets.nzb";
        writeNzbFile(nzb, doc, nullptr);
        ASSERT_TRUE(importNzbFile(nzb, rig->store, rig->batch, rig->nzb).ok);
        QObject::connect(&rig->dl.par2(), &Par2Sets::setFinished,
                         [this](const QString &index, const QString &status, bool) { rows << QFileInfo(index).fileName() + " " + status; });
    }
    bool run(int sets)
    {
        rig->dl.startCheck();
        return waitFor([&] { return rows.size() >= sets && !rig->dl.running() && !rig->dl.par2().busy(); }, 60000);
    }
    QString out(const QString &name) const { return rig->core.settings.Download_Path + name; }
    int asked(const QString &file) const
    {
        return int(server->commands().filter(QRegularExpression("ARTICLE <" + QRegularExpression::escape(file) + "\\.part")).size());
    }
};

// A stand-in par2 first in the PATH that holds its runs (only repairs: onlyRepairs) until a
// go file is there, so a run is caught while it runs whatever the machine's speed.
struct HeldPar2 {
    QTemporaryDir dir;
    QByteArray path = qgetenv("PATH");
    explicit HeldPar2(bool onlyRepairs)
    {
        const QByteArray d = dir.path().toUtf8();
        const QByteArray wait = "echo $$ >> '" + d + "/pids'; while [ ! -e '" + d + "/go' ]; do sleep 0.02; done";
        writeFile(dir.path() + "/par2", "#!/bin/sh\n" + (onlyRepairs ? "if [ \"$1\" = repair ]; then " + wait + "; fi" : wait)
                                            + "\nexec '" + Par2Run::program().toUtf8() + "' \"$@\"\n");
        QFile::setPermissions(dir.path() + "/par2", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", d + ':' + path);
    }
    ~HeldPar2() { qputenv("PATH", path); }
    QStringList pids() const { return QString::fromLatin1(readFile(dir.path() + "/pids")).split('\n', Qt::SkipEmptyParts); }
};

} // namespace

TEST(Par2, NamesVolumesProgressAndTheChoiceOfVolumes)
{
    EXPECT_EQ(par2VolumeBlocks("set.vol03+04.par2"), std::make_pair(3, 4));
    EXPECT_EQ(par2VolumeBlocks("Set.VOL000+128.PAR2"), std::make_pair(0, 128));
    EXPECT_EQ(par2VolumeBlocks("set.par2").second, 0);
    EXPECT_EQ(par2KindOf("a.vol1+2.par2"), Par2Kind::Volume);
    EXPECT_EQ(par2KindOf("a.PAR2"), Par2Kind::Index);
    EXPECT_EQ(par2KindOf("a.par"), Par2Kind::None);

    // The fewest bytes that give the blocks needed, smallest first. Volumes as par2 makes
    // them (1, 2, 4, ... 64 and the 73 left of 200 blocks), each a block of 20,000 bytes and
    // 30,000 of the set's description.
    const std::vector<int> pow2{1, 2, 4, 8, 16};
    EXPECT_EQ(chooseRecoveryVolumes(3, pow2), (std::vector<size_t>{0, 1}));
    EXPECT_EQ(chooseRecoveryVolumes(5, pow2), (std::vector<size_t>{0, 2}));
    EXPECT_EQ(chooseRecoveryVolumes(1, {16, 1, 4}), (std::vector<size_t>{1}));
    EXPECT_TRUE(chooseRecoveryVolumes(32, pow2).empty());
    EXPECT_TRUE(chooseRecoveryVolumes(1, {}).empty());
    const std::vector<int> posted{64, 1, 73, 2, 32, 4, 8, 16};
    std::vector<qint64> bytes;
    for (int c : posted) bytes.push_back(c * 20000LL + 30000);
    auto blocksOf = [&](const std::vector<size_t> &pick) {
        std::vector<int> b;
        for (size_t k : pick) b.push_back(posted[k]);
        return b;
    };
    EXPECT_EQ(blocksOf(chooseRecoveryVolumes(109, posted, bytes)), (std::vector<int>{4, 32, 73}));
    EXPECT_EQ(blocksOf(chooseRecoveryVolumes(72, posted, bytes)), (std::vector<int>{73}));
    EXPECT_EQ(blocksOf(chooseRecoveryVolumes(200, posted, bytes)), (std::vector<int>{1, 2, 4, 8, 16, 32, 64, 73}));

    QString what;
    EXPECT_DOUBLE_EQ(lastPar2Percent("Scanning: 4.5%Scanning: 46.7%", &what), 46.7);
    EXPECT_EQ(what, "Scanning");
    EXPECT_EQ(lastPar2Percent("Target: \"a\" - found.\n"), -1);

    // The names in a real index file; a name that leaves the folder is unsafe, a sub-folder
    // is not.
    QTemporaryDir d;
    writeFile(d.path() + "/one.bin", randomBytes(5000, 1));
    writeFile(d.path() + "/two words.txt", randomBytes(3000, 2));
    ASSERT_TRUE(par2(d.path(), {"create", "-q", "-n1", "s.par2", "one.bin", "two words.txt"}));
    QStringList names = readPar2File(readFile(d.path() + "/s.par2")).names;
    names.sort();
    EXPECT_EQ(names, QStringList({"one.bin", "two words.txt"}));
    // A name cut inside a UTF-8 sequence (after a NUL) is not UTF-8: read as Latin-1, whole.
    QByteArray desc = QByteArray(56, '\1') + QByteArray("ab\0\xe2", 4);
    QByteArray packet = QByteArray("PAR2\0PKT", 8);
    for (int i = 0; i < 8; ++i) packet += char(((64 + desc.size()) >> (8 * i)) & 0xff);
    packet += QByteArray(32, '\0') + QByteArray("PAR 2.0\0FileDesc", 16) + desc;
    const Par2FileInfo cut = readPar2File(packet);
    ASSERT_EQ(cut.names.size(), 1);
    EXPECT_EQ(cut.names[0], QString::fromLatin1(QByteArray("ab\0\xe2", 4)));
    for (const char *bad : {"../escape", "/etc/passwd", "a/../../b", "a//b", "sub/./x", "a\\b", "c:x", "", "sub/"})
        EXPECT_FALSE(isSafePar2Name(QString::fromLatin1(bad))) << bad;
    for (const char *good : {"movie (2024).mkv", "subdir/file.bin", "a/b/c d.txt", ".hidden"})
        EXPECT_TRUE(isSafePar2Name(QString::fromLatin1(good))) << good;
}

TEST(Par2, RepairFetchesOnlyTheVolumesNeededAndPutsMisnamedFilesRight)
{
    Par2Rig t;
    // A film in five segments, a note posted under an obfuscated name, and a set of five
    // volumes of 1, 2, 4, 8 and 16 blocks; the film's third segment is gone from the server.
    const QByteArray film = randomBytes(300000, 7), note = randomBytes(20000, 8);
    writeFile(t.src.path() + "/film.mkv", film);
    writeFile(t.src.path() + "/note.nfo", note);
    ASSERT_TRUE(par2(t.src.path(), {"create", "-q", "-s20000", "-c31", "-n5", "film.par2", "film.mkv", "note.nfo"}));
    QFile::rename(t.src.path() + "/note.nfo", t.src.path() + "/a1b2c3d4e5.bin");
    postAll(t.src.path(),
            {"film.mkv", "film.vol15+16.par2", "film.vol00+01.par2", "film.vol03+04.par2", "film.par2", "a1b2c3d4e5.bin",
             "film.vol01+02.par2", "film.vol07+08.par2"},
            t.arts.path(), 60000, &t.next, t.doc);
    QFile::remove(t.arts.path() + "/3.art");   // the film is 1..5
    ASSERT_NO_FATAL_FAILURE(t.serve());
    // Data first, then the index; the volumes wait.
    ASSERT_EQ(t.rig->batch.batchRows(), 3);
    t.rig->core.settings.chkPar2Delete = true;

    ASSERT_TRUE(t.run(1)) << t.rig->logged.join('\n').toStdString();
    ASSERT_EQ(t.rows, QStringList{"film.par2 par2: repaired 3 blocks, 1 file(s) renamed"}) << t.rig->logged.join('\n').toStdString();
    EXPECT_EQ(readFile(t.out("film.mkv")), film);
    EXPECT_EQ(readFile(t.out("note.nfo")), note);
    EXPECT_FALSE(QFile::exists(t.out("a1b2c3d4e5.bin")));
    // The repair went well: its par2 files and the damaged copy it kept are gone.
    EXPECT_EQ(QDir(t.out("")).entryList(QDir::Files), QStringList({"film.mkv", "note.nfo"}));
    EXPECT_EQ(t.rig->count("par2: 3 blocks needed for film, fetching 2 recovery volume(s) of 5 (3 blocks)"), 1);
    // One summary, once the repair that the two runs led to is over: the film's gap counts
    // as a failed decode, mended by the repair.
    EXPECT_EQ(t.rig->logged.filter(QRegularExpression("^Done: \\d+ decoded")).join('|').toStdString(), "Done: 4 decoded, 1 failed, 1 repaired");
    // Only the two smallest volumes were fetched, each once.
    EXPECT_EQ(t.asked("film.vol00+01.par2"), 1);
    EXPECT_EQ(t.asked("film.vol01+02.par2"), 1);
    for (const char *v : {"film.vol03+04.par2", "film.vol07+08.par2", "film.vol15+16.par2"}) EXPECT_EQ(t.asked(v), 0) << v;
    // The processed rows: the film's gap, the set's result, and the note under its real name.
    const auto &rows = t.rig->processed.entries();
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const ProcessedEntry &e) { return e.fileName == t.out("note.nfo"); }));
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const ProcessedEntry &e) {
        return e.ok && e.status == "par2: repaired 3 blocks, 1 file(s) renamed";
    }));
}

TEST(Par2, SetsThatAreWholeShortOrUnsafe)
{
    Par2Rig t;
    // "whole": intact. "short": two of its four segments gone, volumes of 1 and 2 blocks.
    writeFile(t.src.path() + "/whole.bin", randomBytes(90000, 3));
    writeFile(t.src.path() + "/short.bin", randomBytes(240000, 4));
    ASSERT_TRUE(par2(t.src.path(), {"create", "-q", "-n1", "whole.par2", "whole.bin"}));
    ASSERT_TRUE(par2(t.src.path(), {"create", "-q", "-s20000", "-c3", "-n2", "short.par2", "short.bin"}));
    // "evil": an index whose file description names a file outside the folder.
    QByteArray body = QByteArray(56, '\1') + "../escape.txt";
    while (body.size() % 4) body += '\0';
    QByteArray packet = QByteArray("PAR2\0PKT", 8);
    const quint64 len = quint64(64 + body.size());
    for (int i = 0; i < 8; ++i) packet += char((len >> (8 * i)) & 0xff);
    packet += QByteArray(32, '\0') + QByteArray("PAR 2.0\0FileDesc", 16) + body;
    writeFile(t.src.path() + "/evil.par2", packet);
    postAll(t.src.path(), {"whole.bin", "whole.par2", "short.bin", "short.par2", "short.vol0+1.par2", "short.vol1+2.par2", "evil.par2"},
            t.arts.path(), 60000, &t.next, t.doc);
    QFile::remove(t.arts.path() + "/4.art");   // short.bin segments 1..4 are 4..7
    QFile::remove(t.arts.path() + "/6.art");
    t.doc.files[0].groups.clear();   // an NZB that lists no group: asked by message-id alone
    ASSERT_NO_FATAL_FAILURE(t.serve());

    ASSERT_TRUE(t.run(3)) << t.rig->logged.join('\n').toStdString();
    QStringList rows = t.rows;
    rows.sort();
    EXPECT_EQ(rows, QStringList({"evil.par2 par2: not run, the set names a file unsafely: ../escape.txt",
                                 "short.par2 par2: cannot repair: 3 more blocks needed", "whole.par2 par2: all files correct"}))
        << t.rig->logged.join('\n').toStdString();
    EXPECT_EQ(t.asked("short.vol0+1.par2") + t.asked("short.vol1+2.par2"), 0);
    const QStringList cmds = t.server->commands();
    const auto firstOf = [&](const QString &what) {
        for (int i = 0; i < cmds.size(); ++i)
            if (cmds[i].contains(what)) return i;
        return int(cmds.size());
    };
    EXPECT_LT(firstOf("ARTICLE <whole.bin.part2@post.test>"), firstOf("GROUP ")) << cmds.join('\n').toStdString();
    EXPECT_FALSE(QFile::exists(t.rig->dir.path() + "/escape.txt"));
}

// Sets as obfuscated posts have them: two of film's volumes under names unlike its index
// (one without ".par2", one that looks like an index of its own) and a note under a random
// name with a segment gone; a second set whose file lives in a sub-folder, posted flat
// under another name. Each set is known by its packets and gives one row; the misnamed
// volumes' blocks count, so only one more volume is fetched; after the repair par2's
// backup and the damaged copy are gone (by default), the set's par2 files stay.
TEST(Par2, ObfuscatedSetsSubFoldersAndTheCleanUp)
{
    Par2Rig t;
    const QByteArray film = randomBytes(300000, 17), note = randomBytes(60000, 18), inner = randomBytes(50000, 19);
    writeFile(t.src.path() + "/film.mkv", film);
    writeFile(t.src.path() + "/note.nfo", note);
    ASSERT_TRUE(par2(t.src.path(), {"create", "-q", "-s20000", "-c31", "-n5", "film.par2", "film.mkv", "note.nfo"}));
    QDir().mkpath(t.src.path() + "/nest/sub");
    writeFile(t.src.path() + "/nest/sub/inner.bin", inner);
    ASSERT_TRUE(par2(t.src.path() + "/nest", {"create", "-q", "-n1", "-B", t.src.path() + "/nest", "nested.par2", "sub/inner.bin"}));
    QFile::rename(t.src.path() + "/film.vol00+01.par2", t.src.path() + "/k3j4h5.bin");
    QFile::rename(t.src.path() + "/film.vol01+02.par2", t.src.path() + "/p0o9i8.par2");
    QFile::rename(t.src.path() + "/note.nfo", t.src.path() + "/a1b2c3d4e5.bin");
    QFile::copy(t.src.path() + "/nest/nested.par2", t.src.path() + "/nested.par2");
    QFile::copy(t.src.path() + "/nest/sub/inner.bin", t.src.path() + "/x7y8.bin");
    postAll(t.src.path(), {"film.mkv", "film.par2", "k3j4h5.bin", "p0o9i8.par2", "film.vol03+04.par2", "film.vol07+08.par2",
                           "film.vol15+16.par2", "nested.par2", "x7y8.bin"},
            t.arts.path(), 60000, &t.next, t.doc);
    postAll(t.src.path(), {"a1b2c3d4e5.bin"}, t.arts.path(), 20000, &t.next, t.doc);
    QFile::remove(t.arts.path() + "/2.art");                              // film loses 3 blocks
    QFile::remove(t.arts.path() + "/" + QString::number(t.next - 2) + ".art");   // the note 1
    ASSERT_NO_FATAL_FAILURE(t.serve());

    ASSERT_TRUE(t.run(2)) << t.rig->logged.join('\n').toStdString();
    QStringList rows = t.rows;
    rows.sort();
    EXPECT_EQ(rows.join('|').toStdString(), "film.par2 par2: repaired 4 blocks|nested.par2 par2: repaired 0 blocks, 1 file(s) renamed");
    EXPECT_EQ(readFile(t.out("film.mkv")), film);
    EXPECT_EQ(readFile(t.out("note.nfo")), note);
    EXPECT_EQ(readFile(t.out("sub/inner.bin")), inner);
    EXPECT_EQ(t.rig->count("par2: 1 blocks needed for film, fetching 1 recovery volume(s) of 3 (4 blocks)"), 1)
        << t.rig->logged.join('\n').toStdString();
    EXPECT_GT(t.asked("film.vol03+04.par2"), 0);
    EXPECT_EQ(t.asked("film.vol07+08.par2") + t.asked("film.vol15+16.par2"), 0);
    QStringList left = QDir(t.out("")).entryList(QDir::Files);
    left.sort();
    EXPECT_EQ(left.join(' ').toStdString(), "film.mkv film.par2 film.vol03+04.par2 k3j4h5.bin.par2 nested.par2 note.nfo p0o9i8.par2");
}

// par2 is a process of its own: a scan, a save and a second Download go on beside it, and
// the end of the program ends it. A stand-in par2 first in the PATH waits for a go file,
// so the run is caught while it runs whatever the machine's speed.
TEST(Par2, ScanSaveAndDownloadBesideARunAndExitEndsIt)
{
    Par2Rig t;
    writeFile(t.src.path() + "/whole.bin", randomBytes(90000, 3));
    ASSERT_TRUE(par2(t.src.path(), {"create", "-q", "-n1", "whole.par2", "whole.bin"}));
    postAll(t.src.path(), {"whole.bin", "whole.par2"}, t.arts.path(), 60000, &t.next, t.doc);

    HeldPar2 held(false);
    QTemporaryDir &hold = held.dir;
    ASSERT_EQ(Par2Run::program(), hold.path() + "/par2");
    auto heldPids = [&] { return held.pids(); };

    // Exit while par2 runs: the process is ended with the engine.
    ASSERT_NO_FATAL_FAILURE(t.serve());
    t.rig->dl.startCheck();
    ASSERT_TRUE(waitFor([&] { return heldPids().size() == 1 && t.rig->dl.par2().busy(); }, 20000)) << t.rig->logged.join('\n').toStdString();
    EXPECT_EQ(readFile(t.out("whole.bin")), readFile(t.src.path() + "/whole.bin"));
    t.rig.reset();
    EXPECT_FALSE(QFileInfo::exists("/proc/" + heldPids()[0])) << "par2 ended with the program";
    EXPECT_TRUE(t.rows.isEmpty());

    // Scan, save and Download while par2 runs.
    ASSERT_NO_FATAL_FAILURE(t.serve());
    t.rig->dl.startCheck();
    ASSERT_TRUE(waitFor([&] { return heldPids().size() == 2 && t.rig->dl.par2().busy(); }, 20000));
    ASSERT_TRUE(t.rig->scanGroup("alt.binaries.sets")) << t.rig->logged.join('\n').toStdString();
    const QString saved = t.rig->dir.path() + "/npending.dat";
    bool savedOk = false;
    QObject::connect(&t.rig->engine.headerFile, &HeaderFile::saveFinished, [&](bool ok) { savedOk = ok; });
    t.rig->engine.headerFile.startSave(saved, &t.rig->batch);
    ASSERT_TRUE(waitFor([&] { return savedOk; }));
    t.rig->dl.startCheck();
    EXPECT_EQ(t.rig->prompter.messages.value(0), "Warning, nothing in batch que!");
    EXPECT_TRUE(t.rig->dl.par2().busy() && t.rows.isEmpty()) << "par2 was neither ended nor started again";
    writeFile(hold.path() + "/go", "");
    ASSERT_TRUE(waitFor([&] { return !t.rig->dl.par2().busy(); }, 20000));
    EXPECT_EQ(t.rows, QStringList{"whole.par2 par2: all files correct"});
    EXPECT_EQ(heldPids().size(), 2);
}

// Sets made where names are Latin-1: the files come here under their names in UTF-8 (as
// the posts give them). A whole one verifies and keeps its name; a damaged one is repaired
// under its name as read here, never renamed to the foreign bytes, and no file is left
// under them.
TEST(Par2, NamesNotInUtf8AreKeptAsReadHere)
{
    Par2Rig t;
    QProcess sh;
    sh.setWorkingDirectory(t.src.path());
    sh.start("sh", {"-c", "set -e; a=$(printf 'caf\\351.bin'); b=$(printf 'na\\357ve.txt');"
                          "head -c 100000 /dev/urandom > \"$a\"; head -c 30000 /dev/urandom > \"$b\";"
                          "par2 create -q -s10000 -c10 -n1 damaged.par2 \"$a\" >/dev/null; par2 create -q -n1 whole.par2 \"$b\" >/dev/null;"
                          "mv \"$a\" 'caf\303\251.bin'; mv \"$b\" 'na\303\257ve.txt'"});
    ASSERT_TRUE(sh.waitForFinished() && sh.exitCode() == 0) << sh.readAllStandardError().toStdString();
    const QByteArray cafe = readFile(t.src.path() + QString::fromUtf8("/café.bin")), naive = readFile(t.src.path() + QString::fromUtf8("/naïve.txt"));
    ASSERT_EQ(cafe.size(), 100000);
    postAll(t.src.path(), {QString::fromUtf8("café.bin"), "damaged.par2", "damaged.vol00+10.par2", QString::fromUtf8("naïve.txt"), "whole.par2"},
            t.arts.path(), 60000, &t.next, t.doc);
    QFile::remove(t.arts.path() + "/2.art");
    ASSERT_NO_FATAL_FAILURE(t.serve());

    ASSERT_TRUE(t.run(2)) << t.rig->logged.join('\n').toStdString();
    QStringList rows = t.rows;
    rows.sort();
    EXPECT_EQ(rows.join('|').toStdString(), "damaged.par2 par2: repaired 4 blocks|whole.par2 par2: all files correct") << t.rig->logged.join('\n').toStdString();
    EXPECT_EQ(readFile(t.out(QString::fromUtf8("café.bin"))), cafe);
    EXPECT_EQ(readFile(t.out(QString::fromUtf8("naïve.txt"))), naive);
    QStringList left = QDir(t.out("")).entryList(QDir::Files);
    left.sort();
    EXPECT_EQ(left.join(' ').toStdString(), "café.bin damaged.par2 damaged.vol00+10.par2 naïve.txt whole.par2");
}

// The program ends while par2 repairs a set: the next start takes the set up where it was
// (kept beside the batch) and repairs it. A stand-in par2 first in the PATH holds repairs
// until a go file is there.
TEST(Par2, ARepairCutShortByTheExitIsTakenUpAtTheNextStart)
{
    Par2Rig t;
    const QByteArray film = randomBytes(300000, 27);
    writeFile(t.src.path() + "/film.mkv", film);
    ASSERT_TRUE(par2(t.src.path(), {"create", "-q", "-s20000", "-c31", "-n5", "film.par2", "film.mkv"}));
    QFile::rename(t.src.path() + "/film.vol03+04.par2", t.src.path() + "/zz9.bin");
    postAll(t.src.path(), {"film.mkv", "film.par2", "zz9.bin"}, t.arts.path(), 60000, &t.next, t.doc);
    QFile::remove(t.arts.path() + "/2.art");

    HeldPar2 held(true);
    QTemporaryDir &hold = held.dir;

    ASSERT_NO_FATAL_FAILURE(t.serve());
    const QString first = t.rig->dir.path();
    t.rig->dl.par2().keepIn(first + "/par2sets.txt");
    t.rig->dl.startCheck();
    ASSERT_TRUE(waitFor([&] { return QFile::exists(hold.path() + "/pids") && t.rig->dl.par2().busy(); }, 20000))
        << t.rig->logged.join('\n').toStdString();
    t.rig->dir.setAutoRemove(false);
    t.rig.reset();
    struct Gone {
        QString d;
        ~Gone() { QDir(d).removeRecursively(); }
    } gone{first};
    EXPECT_TRUE(t.rows.isEmpty());

    DownloadRig next(t.server->port());
    next.core.settings.Download_Path = first + "/dl/";
    ASSERT_TRUE(QFile::copy(first + "/par2sets.txt", next.dir.path() + "/par2sets.txt"));
    QObject::connect(&next.dl.par2(), &Par2Sets::setFinished,
                     [&](const QString &index, const QString &status, bool) { t.rows << QFileInfo(index).fileName() + " " + status; });
    writeFile(hold.path() + "/go", "");
    next.dl.par2().keepIn(next.dir.path() + "/par2sets.txt");
    next.dl.par2().takeUp();
    ASSERT_TRUE(waitFor([&] { return !t.rows.isEmpty() && !next.dl.par2().busy(); }, 20000)) << next.logged.join('\n').toStdString();
    EXPECT_EQ(t.rows, QStringList{"film.par2 par2: repaired 3 blocks"});
    EXPECT_EQ(next.count("par2: 1 set(s) not finished when the program ended are taken up again"), 1);
    EXPECT_EQ(readFile(first + "/dl/film.mkv"), film);
    EXPECT_FALSE(QFile::exists(next.dir.path() + "/par2sets.txt")) << "nothing left to take up";
}

// A release as posted today: RAR volumes under obfuscated names with a par2 set over them,
// an article gone; a zip posted alone, one locked with the NZB's password, one with one of
// the options' list, one with none known. They end unattended as the files that were
// packed, byte for byte, the volumes and par2 files gone, one row each saying what
// happened; the archive whose password is not known stays, its row says so.
TEST(Par2, AReleaseEndsAsItsFilesUnpacked)
{
    Par2Rig t;
    const QByteArray movie = randomBytes(400000, 31), nfo = randomBytes(3000, 32), loose = randomBytes(50000, 33);
    const QStringList vols = Rar5Writer::write(t.src.path(), "rel", {{"Movie/movie.mkv", movie}, {"rel.nfo", nfo}}, 110000);
    ASSERT_EQ(vols.size(), 4);
    QStringList posted;
    for (const QString &v : vols) posted << QFileInfo(v).fileName();
    ASSERT_TRUE(par2(t.src.path(), QStringList{"create", "-q", "-s20000", "-c40", "-n3", "rel.par2"} + posted));
    // Obfuscated names for the volumes (par2 finds them by their content).
    for (int i = 0; i < 4; ++i) QFile::rename(vols[i], t.src.path() + QStringLiteral("/f%1e%2.bin").arg(7 - i).arg(i * 3));
    posted.clear();
    for (int i = 0; i < 4; ++i) posted << QStringLiteral("f%1e%2.bin").arg(7 - i).arg(i * 3);
    QDir().mkpath(t.src.path() + "/z");
    writeFile(t.src.path() + "/z/loose.dat", loose);
    ASSERT_TRUE(tool7z(t.src.path() + "/z", {"a", "-bd", "../alone.zip", "loose.dat"}));
    writeFile(t.src.path() + "/z/locked.dat", nfo);
    ASSERT_TRUE(tool7z(t.src.path() + "/z", {"a", "-bd", "-ppw1", "../locked.zip", "locked.dat"}));
    writeFile(t.src.path() + "/z/listed.dat", loose);
    ASSERT_TRUE(tool7z(t.src.path() + "/z", {"a", "-bd", "-pother", "../listed.zip", "listed.dat"}));
    ASSERT_TRUE(tool7z(t.src.path() + "/z", {"a", "-bd", "-pnever", "../secret.zip", "locked.dat"}));
    QStringList par2s;
    for (const QString &f : QDir(t.src.path()).entryList({"rel*.par2"}, QDir::Files, QDir::Name)) par2s << f;
    postAll(t.src.path(), posted + par2s + QStringList{"alone.zip", "locked.zip", "listed.zip", "secret.zip"}, t.arts.path(), 60000, &t.next, t.doc);
    t.doc.meta.emplace_back("password", "pw1");
    QFile::remove(t.arts.path() + "/4.art");   // in the second volume
    ASSERT_NO_FATAL_FAILURE(t.serve());
    t.rig->core.settings.Unpack_Passwords = {"wrong", "other"};

    ASSERT_TRUE(t.run(5)) << t.rig->logged.join('\n').toStdString();
    QStringList rows = t.rows;
    rows.sort();
    EXPECT_EQ(rows.join('|').toStdString(), "alone.zip unpacked 1 file(s)|listed.zip unpacked 1 file(s)|locked.zip unpacked 1 file(s)|rel.par2 par2: repaired 3 blocks, 3 file(s) "
                                            "renamed; unpacked 2 file(s)|secret.zip unpack of secret.zip: needs a password")
        << t.rig->logged.join('\n').toStdString();
    EXPECT_EQ(readFile(t.out("locked.dat")), nfo);
    EXPECT_EQ(readFile(t.out("listed.dat")), loose);
    EXPECT_EQ(readFile(t.out("Movie/movie.mkv")), movie);
    EXPECT_EQ(readFile(t.out("rel.nfo")), nfo);
    EXPECT_EQ(readFile(t.out("loose.dat")), loose);
    QStringList left = filesIn(t.out(""));
    for (QString &f : left) f = f.mid(t.out("").size());
    EXPECT_EQ(left.join(' ').toStdString(), "Movie/movie.mkv listed.dat locked.dat loose.dat rel.nfo secret.zip");

    // The history: a row tells all in its tooltip, leads to its folder, and a failed post
    // is done again once its password is in the list.
    ProcessedList &h = t.rig->processed;
    int secret = -1;
    for (int row = 0; row < h.rowCount(); ++row)
        if (h.entry(row).fileName.endsWith("secret.zip")) secret = row;
    ASSERT_GE(secret, 0);
    EXPECT_EQ(h.data(h.index(secret, 2), Qt::ToolTipRole).toString(),
              "secret.zip\nunpack of secret.zip: needs a password\n" + t.out("secret.zip"));
    QString opened;
    t.rig->decoder.RunAssociated = [&](const QString &p) { return opened = p, true; };
    t.rig->decoder.openProcessedFolder(secret);
    EXPECT_EQ(opened + '/', t.out(""));
    const int before = h.rowCount();
    t.rig->core.settings.Unpack_Passwords << "never";
    // The failed rows: the item with the lost article goes back into the batch (good rows
    // are passed over), the post is unpacked again.
    int lost = -1, good = -1;
    for (int row = 0; row < h.rowCount(); ++row) {
        if (h.entry(row).subject == "[1/1] - \"f6e3.bin\" yEnc") lost = row;
        if (h.entry(row).ok && good < 0) good = row;
    }
    ASSERT_GE(lost, 0);
    ASSERT_GE(good, 0);
    ASSERT_FALSE(h.entry(lost).ok);
    EXPECT_EQ(t.rig->dl.retryProcessed({good, lost, secret}), 2);
    EXPECT_EQ(t.rig->batch.batchRows(), 1);
    ASSERT_TRUE(waitFor([&] { return t.rows.size() == 6 && !t.rig->dl.par2().busy(); }, 20000));
    EXPECT_EQ(t.rows.back().toStdString(), "secret.zip unpacked 1 file(s)");
    EXPECT_EQ(h.rowCount(), before - 1);
    EXPECT_FALSE(QFileInfo::exists(t.out("secret.zip")));
}

// The watch list catches a release whose volumes lack articles the server lost: the
// incomplete volume is queued with the rest once the post's par2 files are whole, the
// recovery volumes wait for the repair, and the release ends as the files that were packed.
TEST(Par2, TheWatchListQueuesAPostThatOnlyARepairCanFinish)
{
    Par2Rig t;
    const QByteArray movie = randomBytes(300000, 51), nfo = randomBytes(2000, 52);
    const QStringList vols = Rar5Writer::write(t.src.path(), "rel", {{"movie.mkv", movie}, {"rel.nfo", nfo}}, 100000);
    QStringList posted;
    for (const QString &v : vols) posted << QFileInfo(v).fileName();
    ASSERT_TRUE(par2(t.src.path(), QStringList{"create", "-q", "-s10000", "-c20", "-n4", "rel.par2"} + posted));
    for (int i = 0; i < vols.size(); ++i) QFile::rename(vols[i], t.src.path() + QStringLiteral("/x%1q.bin").arg(90 - i));
    posted.clear();
    for (int i = 0; i < vols.size(); ++i) posted << QStringLiteral("x%1q.bin").arg(90 - i);
    posted << QDir(t.src.path()).entryList({"rel*.par2"}, QDir::Files, QDir::Name);
    postAll(t.src.path(), posted, t.arts.path(), 25000, &t.next, t.doc);
    QFile::remove(t.arts.path() + "/6.art");   // the second volume, 6..10: two of its five parts
    QFile::remove(t.arts.path() + "/8.art");
    t.server = std::make_unique<TestServer>(QStringList{"--group", "alt.binaries.sets:1:0", "--article-dir", t.arts.path()});
    t.rig = std::make_unique<DownloadRig>(t.server->port());
    QObject::connect(&t.rig->dl.par2(), &Par2Sets::setFinished,
                     [&](const QString &index, const QString &status, bool) { t.rows << QFileInfo(index).fileName() + " " + status; });
    t.rig->engine.watch.AddWatch("Poster", 1, false);
    t.rig->engine.watch.watchEnabled = t.rig->store.watchEnabled = true;
    ASSERT_TRUE(t.rig->scanGroup("alt.binaries.sets"));
    QStringList queued;
    for (int row = 0; row < t.rig->batch.batchRows(); ++row) queued << QString::fromLatin1(fileNameOfItem(t.rig->store.item(t.rig->batch.tagAt(row))));
    queued.sort();
    EXPECT_EQ(queued.join(' ').toStdString(), "rel.par2 x87q.bin x88q.bin x89q.bin x90q.bin");
    EXPECT_EQ(t.rig->logged.filter(QRegularExpression("^Watch list: queued .*x89q.bin.* with 3 of 5 parts")).size(), 1)
        << t.rig->logged.join('\n').toStdString();

    ASSERT_TRUE(t.run(1)) << t.rig->logged.join('\n').toStdString();
    ASSERT_EQ(t.rows.size(), 1);
    EXPECT_TRUE(QRegularExpression("^rel.par2 par2: repaired \\d+ blocks, 3 file\\(s\\) renamed; unpacked 2 file\\(s\\)$").match(t.rows[0]).hasMatch())
        << t.rows[0].toStdString();
    EXPECT_EQ(readFile(t.out("alt.binaries.sets/movie.mkv")), movie);
    EXPECT_EQ(readFile(t.out("alt.binaries.sets/rel.nfo")), nfo);
    QStringList left = filesIn(t.out(""));
    for (QString &f : left) f = f.mid(t.out("").size());
    EXPECT_EQ(left.join(' ').toStdString(), "alt.binaries.sets/movie.mkv alt.binaries.sets/rel.nfo") << "volumes and par2 files are gone";
}

// The program ends while an archive is unpacked: the next start unpacks it again, over what
// the cut run wrote (no second copy), and the archive goes once that is done. Caught at the
// first progress line; were the unpack over by then, the outcome must be the same.
TEST(Par2, AnUnpackCutShortByTheExitIsDoneAtTheNextStart)
{
    QTemporaryDir keep;
    const QByteArray movie = randomBytes(40 << 20, 41);
    const QString dl = keep.path() + "/dl/";
    QDir().mkpath(dl);
    const QString archive = Rar5Writer::write(keep.path() + "/dl", "big", {{"movie.bin", movie}}).front();
    {
        auto first = std::make_unique<DownloadRig>(quint16(1));
        first->core.settings.Download_Path = dl;
        first->dl.par2().keepIn(keep.path() + "/par2sets.txt");
        first->dl.par2().fileDecoded(archive);
        first->dl.par2().downloadEnded();
        ASSERT_TRUE(waitFor([&] { return first->count("Unpacking big.rar: ") > 0 || !first->dl.par2().busy(); }, 30000));
    }
    DownloadRig next(quint16(1));
    next.core.settings.Download_Path = dl;
    next.dl.par2().keepIn(keep.path() + "/par2sets.txt");
    next.dl.par2().takeUp();
    ASSERT_TRUE(waitFor([&] { return !next.dl.par2().busy(); }, 30000)) << next.logged.join('\n').toStdString();
    EXPECT_EQ(readFile(dl + "movie.bin"), movie);
    EXPECT_EQ(QDir(dl).entryList(QDir::Files).join(' ').toStdString(), "movie.bin");
    EXPECT_FALSE(QFile::exists(keep.path() + "/par2sets.txt")) << "nothing left to take up";
    RecordProperty("taken_up", next.count("not unpacked when the program ended are unpacked again"));
}
