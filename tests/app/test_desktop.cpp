// The program on the desktop: its command line as a user types it, one window per
// application folder (a later start hands over, a stale socket is survived), the install
// tree with its desktop entry, icons and metainfo, and the Debian package.
#include "Portable.h"
#include <random>
#include <QThread>
#include "core/Prompter.h"
#include "core/OpsLog.h"
#include "headers/HeaderStore.h"
#include "headers/HeaderFile.h"
#include "core/AppPaths.h"
#include "core/SingleInstance.h"
#include "nzb/NzbImport.h"
#include "download/DirectWrite.h"
#include <set>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSize>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace vt;
using namespace vt::test;

namespace {

// The batch.nzb in `cwd` imported and saved with the headers at a plain exit.
bool importBatch(const Portable &app, const QString &cwd)
{
    QProcess p;
    if (!app.launch(p, {"batch.nzb"}, cwd)) return false;
    const bool in = test::waitFor([&] { return app.log().contains("batch.nzb"); }, 20000);
    EXPECT_TRUE(in) << app.log().toStdString();
    stop(p);
    return in;
}

// A download started, killed `us` microseconds after `ready` holds.
bool killDuringDownload(const Portable &app, const QString &cwd, const std::function<bool()> &ready, unsigned us)
{
    QProcess p;
    if (!app.launch(p, {"--download"}, cwd)) return false;
    const bool came = test::waitFor(ready, 30000);
    EXPECT_TRUE(came) << app.log().toStdString();
    QThread::usleep(us);
    ::kill(pid_t(p.processId()), SIGKILL);
    p.waitForFinished(10000);
    return came;
}

// Width and height from a PNG's header.
QSize pngSize(const QByteArray &d)
{
    if (d.size() < 24 || !d.startsWith("\x89PNG")) return {};
    auto be = [&](int at) { return int(quint8(d[at])) << 24 | int(quint8(d[at + 1])) << 16 | int(quint8(d[at + 2])) << 8 | int(quint8(d[at + 3])); };
    return {be(16), be(20)};
}

} // namespace

TEST(Desktop, HelpVersionAndAnUnknownSwitchWithoutADisplay)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    const Outcome help = run(VANTREL_EXE, {"--help"}, env);
    EXPECT_EQ(help.code, 0) << help.err.toStdString();
    for (const char *w : {"--scan", "--download", "--version", "/SCAN", "/DOWNLOAD"}) EXPECT_TRUE(help.out.contains(w)) << w;
    const Outcome version = run(VANTREL_EXE, {"--version"}, env);
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.trimmed(), "Vantrel " VANTREL_VERSION);

    env.insert("QT_QPA_PLATFORM", "offscreen");
    const Outcome bad = run(VANTREL_EXE, {"--bogus"}, env);
    EXPECT_EQ(bad.code, 2);
    EXPECT_TRUE(bad.err.contains("Unknown option 'bogus'")) << bad.err.toStdString();
    EXPECT_TRUE(bad.err.contains("--help"));
}

// The second start hands /SCAN to the first and ends; the first scans. Then a socket
// left by a crash: the next start removes it and runs by itself.
TEST(Desktop, OneProgramPerFolder)
{
    test::TestServer server({"--group", "alt.binaries.one:1:40"});
    Portable app(server.port());
    QProcess first;
    ASSERT_TRUE(app.launch(first, {}));
    ASSERT_TRUE(test::waitFor([&] { return QFileInfo::exists(app.socket()); }, 20000));

    const Outcome second = run(app.exe, {"--scan"}, app.env, 20000);
    EXPECT_EQ(second.code, 0) << second.err.toStdString();
    EXPECT_TRUE(test::waitFor([&] { return app.log().contains("Scan Complete."); }, 20000)) << app.log().toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);
    // One scan, by the first program.
    EXPECT_TRUE(test::waitFor([&] { return server.commands().filter("XOVER").size() == 1; }))
        << server.commands().join('\n').toStdString();
    stop(first);
    EXPECT_FALSE(QFileInfo::exists(app.socket()));

    // A socket file nobody listens on, as a crashed program leaves it.
    const QByteArray path = app.socket().toUtf8();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    memcpy(a.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ::close(fd);
    ASSERT_TRUE(QFileInfo::exists(app.socket()));
    QFile::remove(app.dir.path() + "/OPSLOG.TXT");
    QProcess again;
    ASSERT_TRUE(app.launch(again, {"/SCAN"}));
    EXPECT_TRUE(test::waitFor([&] { return app.log().contains("Scan Complete."); }, 20000)) << app.log().toStdString();
    // It listens in the stale socket's place: the next start finds it.
    EXPECT_EQ(run(app.exe, {}, app.env, 20000).code, 0);
    EXPECT_EQ(again.state(), QProcess::Running);
    stop(again);
}

TEST(Desktop, NzbFilesOnTheCommandLineAndHandedToTheRunningProgram)
{
    // Two posts on the server (the second uuencoded); an NZB file for each, named relative
    // to where they start.
    QTemporaryDir arts, here;
    const QByteArray one = test::randomBytes(150000, 11), two = test::randomBytes(90000, 12);
    NzbDocument d1, d2;
    d1.files.push_back(test::writeYencPost(arts.path(), "one.bin", one, 60000, 1, "alt.binaries.one"));
    d2.files.push_back(test::writeUuPost(arts.path(), "two.bin", two, 1000, 10, "alt.binaries.one"));
    ASSERT_TRUE(writeNzbFile(here.path() + "/one.nzb", d1, nullptr));
    ASSERT_TRUE(writeNzbFile(here.path() + "/two.nzb", d2, nullptr));
    test::TestServer server({"--group", "alt.binaries.one:20:0", "--article-dir", arts.path()});
    Portable app(server.port());
    // The library's work files stay in the program's folder, whatever the user's $TMPDIR,
    // and what a killed decode left there is gone at the next start.
    app.env.insert("TMPDIR", here.path() + "/no-such-folder");
    test::writeFile(app.dir.path() + "/temp/uuLeftOver", "cut");
    QProcess first;
    ASSERT_TRUE(app.launch(first, {"one.nzb", "--download"}, here.path()));
    const QString dl = app.dir.path() + "/dl/";
    EXPECT_TRUE(test::waitFor([&] { return test::readFile(dl + "one.bin") == one; }, 30000)) << app.log().toStdString();

    QProcess second;
    app.launch(second, {"/DOWNLOAD", "two.nzb"}, here.path());
    EXPECT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(test::waitFor([&] { return test::readFile(dl + "two.bin") == two; }, 30000)) << app.log().toStdString();
    EXPECT_TRUE(app.log().contains("Imported two.nzb: 1 file(s), " + QByteArray::number(d2.files[0].segments.size()) + " segment(s), 1 queued")) << app.log().toStdString();
    EXPECT_EQ(QDir(app.dir.path() + "/temp").entryList(QDir::Files), QStringList());
    stop(first);
    // Where they came from is kept beside the headers.
    EXPECT_TRUE(test::readFile(app.dir.path() + "/nzb.dat").contains("two.nzb"));
}

// The program as a user with a main and a backup server and 16 connections leaves it: an
// NZB batch downloads unattended although the main server takes only 10 connections, drops
// and cuts two of them, and lacks every fifth part, which the backup has.
TEST(Desktop, SixteenConnectionsAndABackupServerUnattended)
{
    QTemporaryDir mainArts, backupArts, here;
    const std::vector<QByteArray> data = writePosts(backupArts.path(), here.path() + "/batch.nzb", "file", 6, 8, 40);
    for (int n = 1; n <= 48; ++n)
        if (n % 5 != 0) QFile::copy(backupArts.path() + QStringLiteral("/%1.art").arg(n), mainArts.path() + QStringLiteral("/%1.art").arg(n));
    test::TestServer mainSrv({"--group", "alt.binaries.one:1:0", "--article-dir", mainArts.path(), "--max-connections", "10", "--fault",
                              "ARTICLE=drop@7", "--fault", "ARTICLE=cut@19"});
    test::TestServer backupSrv({"--group", "alt.binaries.one:1:0", "--article-dir", backupArts.path()});
    Portable app(mainSrv.port());
    QByteArray ini = test::readFile(app.dir.path() + "/VANTREL.INI");
    ini.replace("[Options]\r\n", "[Options]\r\nNews_Connections=16\r\n");
    ini += "[Servers]\r\nHost2=127.0.0.1\r\nPort2=" + QByteArray::number(backupSrv.port()) + "\r\nConnections2=4\r\nLevel2=1\r\nOn2=1\r\n";
    test::writeFile(app.dir.path() + "/VANTREL.INI", ini);

    QProcess p;
    ASSERT_TRUE(app.launch(p, {"batch.nzb", "--download"}, here.path()));
    const QString dl = app.dir.path() + "/dl/";
    EXPECT_TRUE(test::waitFor(
        [&] {
            for (size_t f = 0; f < data.size(); ++f)
                if (test::readFile(dl + QStringLiteral("file%1.bin").arg(f)) != data[f]) return false;
            return app.log().count("Decode successful") == 6;
        },
        60000))
        << app.log().toStdString();
    const QByteArray log = app.log();
    EXPECT_TRUE(log.contains("refused connection")) << log.toStdString();
    EXPECT_TRUE(log.contains("Emergency Reconnect in 1 seconds.")) << log.toStdString();
    EXPECT_EQ(backupSrv.commands().filter(" ARTICLE ").size(), 9) << "only the parts the main server lacks";
    stop(p);
}

TEST(Desktop, InstallTreeAndWhereAnInstalledProgramKeepsItsState)
{
    QTemporaryDir dest;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DESTDIR", dest.path());
    const Outcome install = run("cmake", {"--install", VANTREL_BUILD_DIR, "--prefix", "/usr"}, env);
    ASSERT_EQ(install.code, 0) << install.err.toStdString();
    const QString usr = dest.path() + "/usr";
    QStringList files;
    for (QDirIterator it(dest.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        files << it.next().mid(dest.path().size());
    files.sort();
    QStringList want{"/usr/bin/vantrel",
                     "/usr/share/applications/org.vantrel.Vantrel.desktop",
                     "/usr/share/icons/hicolor/scalable/apps/org.vantrel.Vantrel.svg",
                     "/usr/share/metainfo/org.vantrel.Vantrel.metainfo.xml",
                     "/usr/share/vantrel/VANTREL.html"};
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString png = QString("/usr/share/icons/hicolor/%1x%1/apps/org.vantrel.Vantrel.png").arg(size);
        want << png;
        EXPECT_EQ(pngSize(test::readFile(dest.path() + png)), QSize(size, size)) << png.toStdString();
    }
    for (const char *ico : {"batch", "complete", "incomplete", "new", "proc_false", "proc_true", "text", "unknown"}) {
        const QString f = QString("/usr/share/vantrel/vantrelskin/%1.ico").arg(ico);
        want << f;
        EXPECT_TRUE(test::readFile(dest.path() + f).startsWith(QByteArray("\0\0\1\0", 4))) << f.toStdString();
    }
    want.sort();
    EXPECT_EQ(files, want);
    EXPECT_EQ(test::readFile(usr + "/share/vantrel/VANTREL.html"), test::readFile(VANTREL_SOURCE_DIR "/docs/VANTREL.html"));
    EXPECT_TRUE(test::readFile(usr + "/share/icons/hicolor/scalable/apps/org.vantrel.Vantrel.svg").contains("<svg"));
    EXPECT_TRUE(QFileInfo(usr + "/bin/vantrel").isExecutable());

    const QString desktop = usr + "/share/applications/org.vantrel.Vantrel.desktop";
    const Outcome dv = run("desktop-file-validate", {desktop});
    EXPECT_EQ(dv.code, 0) << dv.out.toStdString() << dv.err.toStdString();
    const QByteArray entry = test::readFile(desktop);
    for (const char *line : {"Exec=vantrel %F", "Icon=org.vantrel.Vantrel", "Categories=Network;News;", "MimeType=application/x-nzb;"}) EXPECT_TRUE(entry.contains(line)) << line;
    const Outcome av = run("appstreamcli", {"validate", "--no-net", usr + "/share/metainfo/org.vantrel.Vantrel.metainfo.xml"});
    EXPECT_EQ(av.code, 0) << av.out.toStdString() << av.err.toStdString();

    // Installed, the program writes nothing beside itself: its state goes to the user's
    // data folder, and its help comes from the shipped files.
    QTemporaryDir home;
    const QString state = home.path() + "/data/Vantrel/";
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    const AppPaths paths = AppPaths::forExecutable(usr + "/bin");
    qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(paths.folder(), state);
    EXPECT_EQ(paths.helpFile(), usr + "/share/vantrel/VANTREL.html");
    EXPECT_EQ(paths.skinFolder(), usr + "/share/vantrel/vantrelskin/");
    test::writeFile(state + "VANTREL.html", "own");
    EXPECT_EQ(paths.helpFile(), state + "VANTREL.html");

    QProcessEnvironment appEnv = QProcessEnvironment::systemEnvironment();
    appEnv.insert("QT_QPA_PLATFORM", "offscreen");
    appEnv.insert("HOME", home.path());
    appEnv.insert("XDG_DATA_HOME", home.path() + "/data");
    appEnv.insert("XDG_RUNTIME_DIR", home.path());
    QProcess p;
    p.setProcessEnvironment(appEnv);
    p.start(usr + "/bin/vantrel", {});
    ASSERT_TRUE(p.waitForStarted());
    EXPECT_TRUE(test::waitFor([&] { return QFileInfo(state + "download/vtcache").isDir(); }, 20000));
    stop(p);
    EXPECT_EQ(QDir(usr + "/bin").entryList(QDir::Files | QDir::Hidden), QStringList{"vantrel"});
}

TEST(Desktop, DebianPackage)
{
    QTemporaryDir out;
    const Outcome pack = run("cpack", {"-G", "DEB", "--config", VANTREL_BUILD_DIR "/CPackConfig.cmake", "-B", out.path()}, QProcessEnvironment::systemEnvironment(), 280000);
    ASSERT_EQ(pack.code, 0) << pack.out.toStdString() << pack.err.toStdString();
    const QStringList debs = QDir(out.path()).entryList({"vantrel_*.deb"});
    ASSERT_EQ(debs.size(), 1);
    const QString deb = out.path() + '/' + debs[0];
    const Outcome fields = run("dpkg-deb", {"-f", deb, "Package", "Version", "Architecture", "Depends", "Section"});
    ASSERT_EQ(fields.code, 0);
    EXPECT_TRUE(fields.out.contains("Package: vantrel\n"));
    EXPECT_TRUE(fields.out.contains("Version: " VANTREL_VERSION "\n"));
    EXPECT_TRUE(fields.out.contains("Section: net\n"));
    for (const char *dep : {"libqt6widgets6", "libqt6network6", "libqt6multimedia6", "libuu0", "xdg-utils"})
        EXPECT_TRUE(fields.out.contains(dep)) << dep << "\n" << fields.out.toStdString();
    const Outcome list = run("dpkg-deb", {"-c", deb});
    for (const char *f : {"./usr/bin/vantrel", "./usr/share/applications/org.vantrel.Vantrel.desktop",
                          "./usr/share/metainfo/org.vantrel.Vantrel.metainfo.xml", "./usr/share/vantrel/VANTREL.html",
                          "./usr/share/icons/hicolor/256x256/apps/org.vantrel.Vantrel.png"})
        EXPECT_TRUE(list.out.contains(f)) << f;
}

// How many random kills a test makes: a few in the plain suite, VANTREL_KILL_TIMES times
// as many in CI's kill stage, so that a window of a few milliseconds is met.
int killRounds(int plain)
{
    return plain * std::max(1, qEnvironmentVariableIntValue("VANTREL_KILL_TIMES"));
}

// Killed at a random moment of the header save that ends a scan (from "Scan Complete" to a
// little after the read mark reaches favs.txt): whatever the next start
// finds, the header file loads whole (the new one or the one it replaces, never a cut one)
// and favs.txt never marks as read an article whose header is not in it.
TEST(Desktop, AKillInAHeaderSaveNeverSkipsHeaders)
{
    test::TestServer server({"--group", "alt.binaries.one:1:60000"});
    std::mt19937 rng(20261208u + quint32(qEnvironmentVariableIntValue("VANTREL_KILL_SEED")));
    int withMarks = 0, inSave = 0;
    qint64 saveUs = 100000;   // how long a save took, as last seen
    const int rounds = killRounds(4);
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        Portable app(server.port());
        const QString ini = app.dir.path() + "/VANTREL.INI";
        test::writeFile(ini, test::readFile(ini).replace("chkSaveAfterScan=0", "chkSaveAfterScan=1"));
        auto markNow = [&] { return test::readFile(app.dir.path() + "/favs.txt").split(',').value(1).toInt(); };
        QProcess p;
        ASSERT_TRUE(app.launch(p, {"/SCAN"}));
        QElapsedTimer began;
        ASSERT_TRUE(test::waitFor([&] { return app.log().contains("Scan Complete.") || markNow() > 0; }, 60000));
        began.start();
        // The first round learns how long the save takes; the others kill at a moment chosen
        // over it and 40 ms more.
        if (round == 0) {
            test::waitFor([&] { return markNow() > 0; }, 60000);
            saveUs = std::max<qint64>(1000, began.nsecsElapsed() / 1000);
        } else {
            const qint64 at = qint64(rng() % quint64(saveUs + 40000));
            while (began.nsecsElapsed() / 1000 < at) QThread::usleep(100);
            inSave += markNow() == 0;
        }
        ::kill(pid_t(p.processId()), SIGKILL);
        p.waitForFinished(10000);

        QuietPrompter prompter;
        OpsLog log;
        HeaderStore store;
        HeaderFile file(store, log, prompter);
        ASSERT_TRUE(file.LoadHeaders(app.dir.path() + "/npending.dat", nullptr));
        EXPECT_FALSE(QFile::exists(app.dir.path() + "/npending.dat.damaged")) << "a kill left a cut header file";
        const int mark = markNow();
        withMarks += mark > 0;
        EXPECT_GE(store.totalParts(), mark) << "mark " << mark << " with fewer headers on disk";
    }
    RecordProperty("rounds_with_marks", withMarks);
    RecordProperty("rounds_killed_in_the_save", inSave);
}

// Killed at a random moment of a scan over four connections (or of the save that ends it),
// then started and scanned again: the header file loads, the mark on disk never passes a
// header that is not in it, and the second scan asks for exactly the articles past that
// mark, ending with every header filed once.
TEST(Desktop, AKillInAManyConnectionScanNeverSkipsHeaders)
{
    const int total = 40000;
    // About a second for the whole scan: a kill lands in it, or in the save after it.
    test::TestServer server({"--latency", "2", "--rate", "2000000", "--group", "alt.binaries.one:1:" + QByteArray::number(total)});
    std::mt19937 rng(35u + quint32(qEnvironmentVariableIntValue("VANTREL_KILL_SEED")));
    const int rounds = killRounds(2);
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        Portable app(server.port());
        const QString ini = app.dir.path() + "/VANTREL.INI";
        test::writeFile(ini, test::readFile(ini).replace("chkSaveAfterScan=0", "chkSaveAfterScan=1")
                                 + "Scan_Connections=4\r\nNews_Connections=4\r\n");
        auto markNow = [&] { return test::readFile(app.dir.path() + "/favs.txt").split(',').value(1).toInt(); };
        auto load = [&](HeaderStore &store) {
            QuietPrompter prompter;
            OpsLog log;
            HeaderFile file(store, log, prompter);
            const QString path = app.dir.path() + "/npending.dat";
            return !QFile::exists(path) || file.LoadHeaders(path, nullptr);
        };
        {
            QProcess p;
            ASSERT_TRUE(app.launch(p, {"/SCAN"}));
            ASSERT_TRUE(test::waitFor([&] { return app.log().contains("over 4 connections"); }, 30000)) << app.log().toStdString();
            QThread::usleep(rng() % 1200000);
            ::kill(pid_t(p.processId()), SIGKILL);
            p.waitForFinished(10000);
        }
        HeaderStore killed;
        ASSERT_TRUE(load(killed));
        const int mark = markNow();
        EXPECT_GE(killed.totalParts(), mark) << "mark " << mark << " with fewer headers on disk";
        const qsizetype asked = server.commands().size();
        {
            const int scans = app.log().count("Scan Complete.");
            QProcess p;
            ASSERT_TRUE(app.launch(p, {"/SCAN"}));
            ASSERT_TRUE(test::waitFor([&] { return app.log().count("Scan Complete.") > scans; }, 60000)) << app.log().toStdString();
            stop(p);
        }
        EXPECT_EQ(markNow(), total);
        HeaderStore store;
        ASSERT_TRUE(load(store));
        EXPECT_EQ(store.totalParts(), total) << "every header once";
        static const QRegularExpression range("XOVER (\\d+)-(\\d+)$");
        qint64 again = 0;
        for (const QString &c : server.commands().mid(asked))
            if (const auto m = range.match(c); m.hasMatch()) again += m.captured(2).toInt() - m.captured(1).toInt() + 1;
        EXPECT_EQ(again, total - mark) << "exactly the articles past the mark";
    }
}

// Killed at a random moment of a download (after a random number of items were decoded,
// and a random few milliseconds more), then started again: the batch saved before the run
// comes back without what was decoded, so nothing is fetched or decoded a second time (no
// "name.2.bin"), no cut file carries a final name, and the rest all arrive.
TEST(Desktop, AKillInADownloadNeverFetchesTwice)
{
    QTemporaryDir arts, here;
    const std::vector<QByteArray> data = writePosts(arts.path(), here.path() + "/batch.nzb", "kill", 10, 4, 70);
    test::TestServer srv({"--group", "alt.binaries.one:1:0", "--article-dir", arts.path(), "--rate", "250000"});
    std::mt19937 rng(70u + quint32(qEnvironmentVariableIntValue("VANTREL_KILL_SEED")));
    const int rounds = killRounds(1);
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        Portable app(srv.port());
        ASSERT_TRUE(importBatch(app, here.path()));
        const QString dl = app.dir.path() + "/dl/";
        auto decoded = [&] {
            QStringList names;
            for (const QString &f : QDir(dl).entryList(QDir::Files))
                if (f.endsWith(".bin")) names << f;
            return names;
        };
        const int after = 1 + int(rng() % 8);
        ASSERT_TRUE(killDuringDownload(app, here.path(), [&] { return decoded().size() >= after; }, rng() % 30000));
        const QStringList before = decoded();
        for (const QString &name : before)
            EXPECT_EQ(test::readFile(dl + name), data[size_t(name.mid(4).chopped(4).toInt())]) << name.toStdString() << " cut";
        const qsizetype asked = srv.commands().size();
        {
            QProcess p;
            ASSERT_TRUE(app.launch(p, {"--download"}, here.path()));
            ASSERT_TRUE(test::waitFor([&] { return decoded().size() >= int(data.size()); }, 60000)) << app.log().toStdString();
            stop(p);
        }
        EXPECT_EQ(decoded().size(), qsizetype(data.size())) << decoded().join(' ').toStdString() << " (none twice)";
        // A kill may cut the log line of the decode it followed, never add one; each decode has
        // its one row on the Processed page, the killed run's included.
        EXPECT_LE(app.log().count("Decode successful"), int(data.size())) << "each item decoded once";
        EXPECT_EQ(test::readFile(app.dir.path() + "/processed.txt").count("\tDecode successful"), int(data.size()));
        for (size_t f = 0; f < data.size(); ++f) EXPECT_EQ(test::readFile(dl + QStringLiteral("kill%1.bin").arg(f)), data[f]) << f;
        const QStringList again = srv.commands().mid(asked).filter(" ARTICLE <");
        for (const QString &name : before)
            EXPECT_TRUE(again.filter(name.chopped(4) + ".bin.part").isEmpty()) << name.toStdString() << " fetched again";
    }
}

// Killed at a random moment of a download whose parts are decoded as they arrive, then
// started again: the second run asks for exactly the parts its items' journals do not list
// (of the items not yet decoded), and every file ends byte-right with nothing left beside
// it.
TEST(Desktop, AKillInADirectDownloadFetchesOnlyWhatTheJournalsLack)
{
    QTemporaryDir arts, here;
    const std::vector<QByteArray> data = writePosts(arts.path(), here.path() + "/batch.nzb", "direct", 3, 30, 90);
    test::TestServer srv({"--group", "alt.binaries.one:1:0", "--article-dir", arts.path(), "--rate", "1000000"});
    std::mt19937 rng(36u + quint32(qEnvironmentVariableIntValue("VANTREL_KILL_SEED")));
    const int rounds = killRounds(2);
    int journaledAtKills = 0;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        Portable app(srv.port());
        ASSERT_TRUE(importBatch(app, here.path()));
        const QString dl = app.dir.path() + "/dl/";
        ASSERT_TRUE(killDuringDownload(app, here.path(), [&] { return app.log().contains("Article Retrieved"); }, rng() % 2000000));
        // What the journals on disk list, by message-id.
        std::set<QByteArray> journaled;
        QDirIterator journals(app.dir.path(), {"*.JOURNAL"}, QDir::Files, QDirIterator::Subdirectories);
        while (journals.hasNext()) {
            const std::optional<DirectJournal> j = readDirectJournal(test::readFile(journals.next()));
            if (!j) continue;
            for (const DirectPart &part : j->parts) journaled.insert(part.info.name + ".part" + QByteArray::number(part.part) + "@post.test");
        }
        std::set<QByteArray> expected;
        for (size_t f = 0; f < data.size(); ++f) {
            const QByteArray name = "direct" + QByteArray::number(qulonglong(f)) + ".bin";
            if (QFile::exists(dl + QString::fromLatin1(name))) continue;   // decoded before the kill
            for (int k = 1; k <= 30; ++k) {
                const QByteArray id = name + ".part" + QByteArray::number(k) + "@post.test";
                if (!journaled.count(id)) expected.insert(id);
            }
        }
        const qsizetype asked = srv.commands().size();
        auto allThere = [&] { return QDir(dl).entryList({"*.bin"}, QDir::Files).size() == qsizetype(data.size()); };
        if (allThere()) continue;   // the kill came after the last decode
        {
            QProcess p;
            ASSERT_TRUE(app.launch(p, {"--download"}, here.path()));
            ASSERT_TRUE(test::waitFor(allThere, 60000))
                << app.log().toStdString();
            stop(p);
        }
        std::set<QByteArray> again;
        static const QRegularExpression id(" ARTICLE <([^>]+)>");
        for (const QString &c : srv.commands().mid(asked))
            if (const auto m = id.match(c); m.hasMatch()) again.insert(m.captured(1).toLatin1());
        EXPECT_TRUE(again == expected) << again.size() << " asked, " << expected.size() << " expected, " << journaled.size()
                                       << " journaled";
        for (size_t f = 0; f < data.size(); ++f) EXPECT_EQ(test::readFile(dl + QStringLiteral("direct%1.bin").arg(f)), data[f]) << f;
        EXPECT_EQ(QDir(dl).entryList(QDir::Files | QDir::Hidden).size(), qsizetype(data.size())) << "nothing left beside them";
        QDirIterator left(app.dir.path(), {"*.JOURNAL"}, QDir::Files, QDirIterator::Subdirectories);
        EXPECT_FALSE(left.hasNext()) << "journals go with their items";
        journaledAtKills += int(journaled.size());
    }
    RecordProperty("parts_journaled_at_the_kills", journaledAtKills);
}

// The real window on a real X display (Xvfb, 1600x1000, with a window manager): a scan and
// a download over four connections, the three pages taken from the screen during the
// download, and on the screen's own pixels the top item's progress bar (filled on its left,
// not on its right) and its time left. The README's pictures are taken the same way.
TEST(Desktop, TheRealWindowShowsProgressAndTimeLeftDuringADownload)
{
    QProcess xvfb;
    xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1600x1000x24", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb.waitForStarted()) << "Xvfb (scripts/setup.sh installs it)";
    ASSERT_TRUE(test::waitFor([&] { return xvfb.canReadLine(); }, 20000));
    const QString display = ':' + QString::fromLatin1(xvfb.readLine()).trimmed();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QTemporaryDir runtime, out;
    env.insert("DISPLAY", display);
    env.remove("QT_QPA_PLATFORM");
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    // Under the sanitizers, the X libraries are not ours to judge: libxkbcommon-x11 hands
    // strndup a name that is not NUL-ended (which strndup allows, the sanitizer's strict one
    // does not), and they keep what they allocate until the process ends. The program's own
    // code runs leak-checked offscreen in the other tests.
    if (env.contains("ASAN_OPTIONS"))
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":intercept_strndup=0:detect_leaks=0");
    QProcess wm;
    wm.setProcessEnvironment(env);
    wm.start("openbox", {});
    ASSERT_TRUE(wm.waitForStarted()) << "openbox (scripts/setup.sh installs it)";
    test::TestServer server({"--seed", "7", "--yenc-only", "--part-bytes", "200000", "--group", "alt.binaries.demo:1000:400",
                             "--group", "alt.binaries.demo.pictures:50000:300", "--list-extra", "40", "--rate", "250000"});
    QProcess shots;
    shots.setProcessEnvironment(env);
    shots.start(VANTREL_SCREENSHOT, {"--screen", out.path(), QString::number(server.port())});
    ASSERT_TRUE(shots.waitForStarted());
    const bool ended = shots.waitForFinished(180000);
    const QByteArray said = shots.readAllStandardOutput() + shots.readAllStandardError();
    wm.kill();
    wm.waitForFinished();
    xvfb.kill();
    xvfb.waitForFinished();
    ASSERT_TRUE(ended) << said.toStdString();
    EXPECT_EQ(shots.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.contains("progress bar at ")) << said.toStdString();
    for (const char *page : {"page-headers.png", "page-batch.png", "page-processed.png"})
        EXPECT_EQ(pngSize(test::readFile(out.path() + '/' + page)), QSize(1600, 1000)) << page;
}
