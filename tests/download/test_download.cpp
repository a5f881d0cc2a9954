// Batch downloads against the test server: parts to the cache, items to decoded files,
// skipped and failed items, the order of commands on the wire, resuming.
#include "DownloadRig.h"
#include "decode/UuLibrary.h"
#include "decode/Yenc.h"
#include "Posts.h"
#include "Synth.h"
#include <QDirIterator>
#include <QTimer>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace vt;
using namespace vt::test;

namespace {

int filesUnder(const QString &dir)
{
    int n = 0;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++n;
    }
    return n;
}

bool isBinaryPost(const HeaderItem &it) { return !it.subject.startsWith("Discussion"); }

struct Expect {
    std::map<std::string, std::string> files;   // complete posts: name -> content
    int unavailable = 0;                         // posts whose every part expired
    int gapped = 0;                              // posts with some parts expired: decoded with a gap
    int expiredParts = 0;                        // articles of those, each asked by id and by number
    int broken = 0;                              // posts that lack a part
};

Expect expectFor(const synth::Group &g)
{
    Expect e;
    std::map<int, std::vector<const synth::Article *>> byPost;
    // A first scan reads the group from its first article on.
    for (const synth::Article &a : g.articles) byPost[a.post].push_back(&a);
    for (auto &[post, arts] : byPost) {
        const synth::Post &p = g.posts[size_t(post)];
        if (p.kind == synth::Kind::Text) continue;
        int expired = 0;
        int data = 0;
        for (const synth::Article *a : arts) {
            expired += a->expired;
            if (a->part > 0) ++data;
        }
        e.expiredParts += expired;
        if (expired == int(arts.size())) ++e.unavailable;
        else if (expired) ++e.gapped;
        else if (data < p.total) ++e.broken;
        else e.files[p.fileName] = synth::fileContent(p);
    }
    return e;
}

} // namespace

TEST(Download, BatchOfMixedPostsToFiles)
{
    const char *group = "alt.binaries.dl";
    TestServer server({"--group", QString::fromLatin1(group) + ":2000:160", "--part-bytes", "3000", "--segment"});
    DownloadRig r(server.port());
    ASSERT_TRUE(r.scanGroup(group));
    const int queued = r.queue(isBinaryPost);
    ASSERT_GT(queued, 10);
    ASSERT_TRUE(r.download(60000)) << r.logged.join('\n').toStdString();

    synth::Options o;
    o.partBytes = 3000;
    const Expect want = expectFor(synth::makeGroup(group, 2000, 160, o));
    ASSERT_GT(want.files.size(), 5u);
    ASSERT_GT(want.unavailable + want.gapped + want.broken, 0) << "the seed should give damaged posts too";

    EXPECT_EQ(r.batch.batchRows(), 0);
    EXPECT_EQ(r.count("Done!"), 1);
    EXPECT_EQ(r.processed.rowCount(), queued);
    std::map<std::string, std::string> got;
    int unavailable = 0, failed = 0, gapped = 0;
    for (const ProcessedEntry &e : r.processed.entries()) {
        // A part on no server leaves a gap for par2, never the whole post behind.
        gapped += e.status.contains("part(s) on no server)");
        if (e.ok) {
            EXPECT_EQ(e.status, "Decode successful");
            EXPECT_TRUE(e.fileName.startsWith(r.core.settings.Download_Path + group + '/')) << e.fileName.toStdString();
            got[QFileInfo(e.fileName).fileName().toStdString()] = readFile(e.fileName).toStdString();
        } else if (e.status == "Item no longer available on server") {
            ++unavailable;
            EXPECT_TRUE(e.fileName.isEmpty());
        } else {
            ++failed;
            EXPECT_TRUE(e.status.startsWith("Error: ")) << e.status.toStdString();
        }
    }
    EXPECT_EQ(gapped, want.gapped);
    EXPECT_EQ(got.size(), want.files.size());
    for (auto &[name, content] : want.files) {
        ASSERT_TRUE(got.count(name)) << name;
        EXPECT_TRUE(got[name] == content) << name << " differs from what was posted";
    }
    EXPECT_EQ(unavailable, want.unavailable);
    EXPECT_EQ(failed, want.broken + want.gapped);
    // The run's summary, in the log and on the status line.
    const QString summary = QStringLiteral("Done: %1 decoded, %2 failed").arg(got.size()).arg(unavailable + failed);
    EXPECT_EQ(r.logged.count(summary), 1) << r.logged.filter("Done").join('\n').toStdString();
    // Skipped items keep their cached parts; decoded and failed ones (bad decodes not kept) do not.
    for (int i = 1; i <= r.store.itemCount(); ++i) {
        const HeaderItem &it = r.store.item(i);
        if (!isBinaryPost(it)) continue;
        EXPECT_FALSE(it.inBatch);
        EXPECT_TRUE(it.deleted) << "auto-delete is on";
    }
    EXPECT_EQ(r.count("Article expired!  Skipping "), want.unavailable);

    // One connection for the downloads, one GROUP on it for parts of one group, and every
    // expired part asked for by message-id and then by number, once.
    server.waitForCommand(2, "QUIT");
    const QStringList cmds = server.commandsOf(2);
    EXPECT_EQ(cmds.filter(QRegularExpression("^GROUP ")).size(), 1);
    const QStringList byNumber = cmds.filter(QRegularExpression("^ARTICLE \\d+$"));
    EXPECT_EQ(byNumber.size(), want.expiredParts);
    EXPECT_EQ(cmds.last(), "QUIT");
}

// The speed in the log is the recent parts' bytes (256 KB of them) over the milliseconds
// they took: a server held to 1 MB/s a connection shows about that, never more, and no
// rate is given before 256 KB were measured.
TEST(Download, PartRatesFollowTheLinkAndTheSpeedLimit)
{
    const char *group = "alt.binaries.rate";
    TestServer server({"--group", QString::fromLatin1(group) + ":1:8", "--part-bytes", "100000", "--yenc-only", "--rate",
                       "1000000", "--latency", "20"});
    DownloadRig r(server.port());
    ASSERT_TRUE(r.scanGroup(group));
    ASSERT_GE(r.queue(isBinaryPost), 1);
    ASSERT_TRUE(r.download(60000)) << r.logged.join('\n').toStdString();
    const QStringList all = r.logged.filter("Article Retrieved: ");
    ASSERT_GE(all.size(), 6);
    EXPECT_FALSE(all[0].contains("KBps")) << all[0].toStdString();
    const QStringList lines = all.filter("KBps]");
    ASSERT_GE(lines.size(), 4);
    for (const QString &l : lines) {
        const double kbps = l.section('[', -1).section(' ', 0, 0).toDouble();
        EXPECT_GT(kbps, 50.0) << l.toStdString();
        EXPECT_LT(kbps, 1100.0) << l.toStdString();
    }

    // Small parts on a fast link take less than a millisecond: too few bytes for a rate.
    const char *small = "alt.binaries.small";
    TestServer fast({"--group", QString::fromLatin1(small) + ":1:6", "--part-bytes", "300", "--yenc-only"});
    DownloadRig f(fast.port());
    ASSERT_TRUE(f.scanGroup(small));
    ASSERT_GE(f.queue(isBinaryPost), 1);
    ASSERT_TRUE(f.download(20000));
    for (const QString &l : f.logged.filter("Article Retrieved: ")) EXPECT_FALSE(l.contains("KBps")) << l.toStdString();

    // The speed limit holds on the one connection too (over many, and lifted, in FetchPool).
    const char *capped = "alt.binaries.capped";
    TestServer open({"--group", QString::fromLatin1(capped) + ":1:20", "--part-bytes", "80000", "--yenc-only"});
    DownloadRig c(open.port());
    ASSERT_TRUE(c.scanGroup(capped));
    ASSERT_GE(c.queue([](const HeaderItem &it) { return it.declaredTotal > 0 && int(it.parts.size()) == it.declaredTotal; }), 1);
    c.core.settings.Download_Limit = 400;   // KB/s
    c.core.applySettings();
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(c.download(30000));
    const double limited = double(c.dl.pool().runBytes()) / (double(t.nsecsElapsed()) / 1e9);
    EXPECT_GT(c.dl.pool().runBytes(), 800 * 1024);
    EXPECT_LT(limited, 1.1 * 400 * 1024) << "held to the limit";
    EXPECT_GT(limited, 0.5 * 400 * 1024);
    EXPECT_EQ(c.logged.filter("Decode successful").size(), c.processed.rowCount()) << c.logged.join('\n').toStdString();
}

TEST(Download, ResumesAtTheFirstMissingPartAndDecodesCachedItemsOffline)
{
    const char *group = "alt.binaries.resume";
    TestServer server({"--group", QString::fromLatin1(group) + ":100:60", "--part-bytes", "2000", "--yenc-only"});
    DownloadRig r(server.port());
    ASSERT_TRUE(r.scanGroup(group));
    // The item with the most parts.
    int item = 0;
    for (int i = 1; i <= r.store.itemCount(); ++i)
        if (!item || r.store.item(i).parts.size() > r.store.item(item).parts.size()) item = i;
    const int n = int(r.store.item(item).parts.size());
    ASSERT_GE(n, 4);
    r.batch.AddToBatch(item);

    // Stop after the second part is in the cache.
    bool stopped = false;
    QObject::connect(&r.core.log, &OpsLog::statusChanged, [&](const QString &m) {
        if (!stopped && m.startsWith("Article Retrieved: ") && r.count("Article Retrieved: ") == 2) {
            stopped = true;
            QTimer::singleShot(0, &r.dl, [&] { r.dl.stop(); });
        }
    });
    r.dl.startCheck();
    ASSERT_TRUE(waitFor([&] { return r.count("User Abort!") == 1; }, 20000));
    // Two parts at least; those asked ahead may have landed too (a part being decoded at
    // the stop is finished).
    r.cache.direct().drain();
    int cached = 0;
    for (int p = 1; p <= n; ++p) cached += r.cache.isCached(item, p);
    EXPECT_GE(cached, 2);
    EXPECT_TRUE(waitFor([&] { return cached <= int(server.commandsOf(2).filter("ARTICLE").size()); }));
    EXPECT_TRUE(r.batch.batchItems() == std::vector<int>{item});

    ASSERT_TRUE(r.download(20000));
    EXPECT_EQ(r.count("User Abort!"), 0);
    // The second run, on connections of its own (the server's log may lag behind the
    // first run's last requests), fetched exactly the parts not yet cached.
    QStringList again;
    for (const QString &l : server.commands().filter(" ARTICLE "))
        if (l.section(u' ', 0, 0).toInt() > 2) again << l;
    EXPECT_EQ(again.size(), n - cached) << again.join('\n').toStdString();
    ASSERT_EQ(r.processed.rowCount(), 1);
    EXPECT_TRUE(r.processed.entry(0).ok) << r.processed.entry(0).status.toStdString();
    EXPECT_EQ(filesUnder(r.core.settings.Cache_Path), 0) << "cache files and the journal go after a good decode";
    EXPECT_EQ(filesUnder(r.core.settings.Download_Path), 1) << "the parts were decoded into the file as they came";

    // A queued item whose parts are all cached decodes without the server.
    r.store.item(item).deleted = false;
    r.batch.AddToBatch(item);
    for (int p = 1; p <= n; ++p) {
        QFile f(r.cache.PartCacheFile(item, p));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Subject: x\r\n\r\n=ybegin line=128 size=3 name=tiny.bin\r\nKLM\r\n=yend size=3\r\n");
    }
    // The last run's goodbyes may reach the server's log late: what counts is all else.
    auto asked = [&] { return int(server.commands().size() - server.commands().filter(QRegularExpression("^\\d+ QUIT")).size()); };
    const int commands = asked();
    ASSERT_TRUE(r.download(10000));
    EXPECT_EQ(asked(), commands) << "no network traffic";
    ASSERT_EQ(r.processed.rowCount(), 2);
    EXPECT_EQ(r.count("Done!"), 1);
}

TEST(Download, EmptyAndCorruptArticlesAndTheStartChecks)
{
    QTemporaryDir arts;
    // Article 900: nothing at all, so the server sends only its status line and the end.
    QFile(arts.path() + "/900.art").open(QIODevice::WriteOnly);
    // Article 901: two responses run together.
    {
        QFile f(arts.path() + "/901.art");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("From: a@b\r\nSubject: twice (1/1)\r\nMessage-ID: <twice@x>\r\n\r\nbody\r\n220 0 <other@x>\r\nmore\r\n");
    }
    TestServer server({"--group", "alt.binaries.odd:800:0", "--article-dir", arts.path()});
    DownloadRig r(server.port());
    r.groups.addGroup("alt.binaries.odd");
    const quint8 key = quint8(r.groups.rowKey(1));

    r.dl.startCheck();
    EXPECT_EQ(r.prompter.messages.value(0), "Warning, nothing in batch que!");
    EXPECT_FALSE(r.dl.running());

    r.store.maketree("empty one [xx/0000001]", "empty one (1/1)", 900, "1", "10", key, "Ann", "", "<none@x>");
    r.store.maketree("twice [xx/0000001]", "twice (1/1)", 901, "1", "10", key, "Bob", "", "<twice@x>");
    ASSERT_EQ(r.batch.batchRows(), 0);
    r.batch.AddToBatch(1);
    r.batch.AddToBatch(2);

    r.session.scanInProgress = true;
    r.dl.BOT1();
    EXPECT_EQ(r.prompter.messages.value(1), "Stop scan first.");
    EXPECT_FALSE(r.dl.running());
    r.session.scanInProgress = false;

    // With one server, an empty copy and a corrupt copy are each asked for three times
    // in the same run; then the part is on no server and its item, with nothing else to
    // decode, leaves the batch with the reason.
    ASSERT_TRUE(r.download(10000)) << r.logged.join('\n').toStdString();
    EXPECT_EQ(r.count("Article not delivered; skipping empty one [xx/0000001]."), 3) << r.logged.join('\n').toStdString();
    EXPECT_EQ(r.count("Corrupt data detected in part 1 from "), 3);
    ASSERT_EQ(r.processed.rowCount(), 2);
    std::map<QString, QString> status;
    for (const ProcessedEntry &e : r.processed.entries()) status[e.subject] = e.status;
    EXPECT_EQ(status["empty one"], "Server sent empty article!");
    EXPECT_TRUE(r.store.item(1).deleted);
    EXPECT_EQ(status["twice"], "Corrupt data in part 1 three times: skipped");
    EXPECT_FALSE(r.store.item(2).deleted);
    EXPECT_FALSE(r.cache.isCached(2, 1));
    EXPECT_EQ(r.batch.batchRows(), 0);
    EXPECT_EQ(server.commands().filter("ARTICLE <twice@x>").size(), 3);
    EXPECT_EQ(r.count("Emergency Reconnect"), 0) << "a bad copy is not a lost connection";

    // A group the server does not carry (411): its items get a row each, the run goes on,
    // and the group is asked for once.
    r.groups.addGroup("alt.binaries.gone");
    const quint8 gone = quint8(r.groups.rowKey(2));
    r.store.maketree("lost [xx/0000001]", "lost (1/1)", 5, "1", "10", gone, "Cy", "", "<lost@x>");
    r.store.maketree("lost too [xx/0000001]", "lost too (1/1)", 6, "1", "10", gone, "Cy", "", "<lost2@x>");
    const int lost = r.store.FindHash("lost [xx/0000001]", "Cy"), lostToo = r.store.FindHash("lost too [xx/0000001]", "Cy");
    r.batch.AddToBatch(lost);
    r.batch.AddToBatch(lostToo);
    ASSERT_EQ(r.batch.batchRows(), 2);
    ASSERT_TRUE(r.download(10000)) << r.logged.join('\n').toStdString();
    EXPECT_EQ(r.batch.batchRows(), 0);
    for (int row : {r.processed.rowCount() - 2, r.processed.rowCount() - 1})
        EXPECT_EQ(r.processed.entry(row).status, "Newsgroup alt.binaries.gone is not on the server");
    EXPECT_EQ(server.commands().filter("GROUP alt.binaries.gone").size(), 1);
    EXPECT_FALSE(r.store.item(lost).deleted) << "kept for another server or a later run";

    // A top row that is not really queued is dropped instead of looping.
    r.batch.AddToBatch(2);
    r.store.item(2).inBatch = false;
    r.logged.clear();
    r.dl.BOT1();
    ASSERT_TRUE(waitFor([&] { return !r.dl.running(); }, 5000));
    EXPECT_EQ(r.batch.batchRows(), 0);
    EXPECT_EQ(r.count("Done!"), 1);
}

// A full disk is said as such, with the folder, by the part cache and by the decoder:
// /dev/full gives the system's real answer to a write that finds no room.
TEST(Download, AFullDiskIsNamedWithItsFolder)
{
    QTemporaryDir d;
    const QString part = d.path() + "/1.UUE";
    ASSERT_TRUE(QFile::link("/dev/full", part + ".part"));
    QString error;
    EXPECT_FALSE(writeWhole(part, QByteArray(100000, 'x'), &error));
    EXPECT_EQ(error, "the disk is full (no space left for " + d.path() + ")");

    YencDecoder y;
    const QString in = d.path() + "/in.uue", out = d.path() + "/out.bin";
    ASSERT_TRUE(writeFile(in, "=ybegin line=128 size=3 name=out.bin\r\nKLM\r\n=yend size=3\r\n"));
    ASSERT_TRUE(QFile::link("/dev/full", out));
    const QString got = y.yEncDecodeArticle(in, out);
    EXPECT_EQ(got, "yEnc decoder Error: the disk is full (no space left for " + d.path() + ")") << got.toStdString();
    EXPECT_TRUE(y.lastFailureLocal) << "a full disk stops the run, it is not the post's fault";
}

TEST(Download, AFullCacheDiskStopsTheRun)
{
    TestServer server({"--group", "alt.binaries.full:10:8", "--yenc-only"});
    DownloadRig r(server.port());
    ASSERT_TRUE(r.scanGroup("alt.binaries.full"));
    ASSERT_GT(r.queue(isBinaryPost), 0);
    // A cache "folder" that is a file: nothing can be written below it (parts all go
    // through the cache here).
    r.core.settings.chkDirectDecode = false;
    r.core.settings.Cache_Path = r.dir.path() + "/notafolder/";
    QFile blocker(r.dir.path() + "/notafolder");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const int rows = r.batch.batchRows();
    ASSERT_TRUE(r.download(10000));
    EXPECT_EQ(r.count("ArticleReceived Error:"), 1) << r.logged.join('\n').toStdString();
    EXPECT_EQ(r.count("Article Retrieved: "), 0);
    EXPECT_EQ(r.batch.batchRows(), rows) << "the batch stays for a later run";
    // The connection keeps two parts asked for: no more, and no spinning on the same part.
    EXPECT_LE(server.commands().filter("ARTICLE").size(), 2);
}

// A decode that fails for a local reason (download folder not writable, the library busy
// with a preview) keeps the parts and the batch, stops, and says why; the next run decodes
// from the cache without fetching anything.
TEST(Download, LocalDecodeFailuresKeepTheBatchAndTheParts)
{
    TestServer server({"--group", "alt.binaries.local:10:40"});
    DownloadRig r(server.port());
    ASSERT_TRUE(r.scanGroup("alt.binaries.local"));
    int yencItem = 0, uuItem = 0;
    for (int i = 1; i <= r.store.itemCount(); ++i) {
        const HeaderItem &it = r.store.item(i);
        if (r.store.itemState(i) != ItemState::Complete) continue;
        if (!yencItem && it.subject.contains("yEnc")) yencItem = i;
        if (!uuItem && it.subject.contains(".jpg")) uuItem = i;
    }
    ASSERT_TRUE(yencItem && uuItem);
    const QString downloads = r.core.settings.Download_Path;
    struct Case {
        int item;
        const char *why;
    } cases[] = {{yencItem, "cannot be written to"}, {uuItem, "decoder busy"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        r.batch.AddToBatch(c.item);
        UuLibrary holder;   // a preview holding the library
        if (c.item == uuItem) ASSERT_TRUE(holder.init());
        else r.core.settings.Download_Path = r.dir.path() + "/blocked/";
        QFile blocker(r.dir.path() + "/blocked");
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        r.prompter.messages.clear();
        ASSERT_TRUE(r.download(20000)) << r.logged.join('\n').toStdString();
        ASSERT_EQ(r.prompter.messages.size(), 1);
        EXPECT_TRUE(r.prompter.messages.first().startsWith("Download stopped: ")) << r.prompter.messages.first().toStdString();
        EXPECT_TRUE(r.prompter.messages.first().contains(c.why));
        EXPECT_EQ(r.batch.batchItems(), std::vector<int>{c.item}) << "still queued";
        EXPECT_EQ(r.processed.rowCount(), c.item == uuItem ? 1 : 0) << "no row for a decode not done";
        for (int p = 1; p <= int(r.store.item(c.item).parts.size()); ++p) EXPECT_TRUE(r.cache.isCached(c.item, p));

        holder.shutdown();
        QFile::remove(r.dir.path() + "/blocked");
        r.core.settings.Download_Path = downloads;
        const int fetched = int(server.commands().filter("ARTICLE").size());
        ASSERT_TRUE(r.download(20000));
        EXPECT_EQ(int(server.commands().filter("ARTICLE").size()), fetched) << "decoded from the cache";
        ASSERT_GE(r.processed.rowCount(), 1);
        EXPECT_TRUE(r.processed.entry(r.processed.rowCount() - 1).ok) << r.processed.entry(r.processed.rowCount() - 1).status.toStdString();
        EXPECT_EQ(r.batch.batchRows(), 0);
    }
}

namespace {

// Articles served from files beside the synthetic ones.
struct ArticleDir {
    QTemporaryDir dir;
    int next = 9001;
    QString path() const { return dir.path(); }
    QByteArray headers(const QByteArray &subject, const QByteArray &id) const
    {
        return "From: Poster <poster@example.com>\r\nSubject: " + subject + "\r\nDate: Mon, 07 Dec 2026 01:00:00 +0000\r\nMessage-ID: "
               + id + "\r\n\r\n";
    }
    // One article per body, subjects "name (k/N)"; a null body is a part never posted.
    void post(const QByteArray &name, const QList<QByteArray> &bodies, int first = 1)
    {
        const int n = int(bodies.size()) - 1 + first;
        for (int k = first; k <= n; ++k) {
            const QByteArray &b = bodies[k - first];
            const int number = next++;
            if (b.isNull()) continue;
            const QByteArray subject = name + " (" + QByteArray::number(k) + '/' + QByteArray::number(std::max(n, 1)) + ')';
            QFile f(path() + '/' + QString::number(number) + ".art");
            if (!f.open(QIODevice::WriteOnly)) throw std::runtime_error("article dir");
            f.write(headers(subject, "<" + name + '.' + QByteArray::number(k) + "@every>") + b);
        }
    }
    // An article the server sends with nothing in it.
    void emptyPost(const QByteArray &name)
    {
        const int number = next++;
        QFile(path() + '/' + QString::number(number) + ".art").open(QIODevice::WriteOnly);
        QFile h(path() + '/' + QString::number(number) + ".head");
        if (!h.open(QIODevice::WriteOnly)) throw std::runtime_error("article dir");
        h.write(headers(name + " (1/1)", "<" + name + ".1@every>"));
    }
};

} // namespace

TEST(Download, EveryKindOfItemInOneBatch)
{
    const char *group = "alt.binaries.every";
    ArticleDir arts;
    const QByteArray real = randomBytes(60000, 1), clip = randomBytes(50000, 2), gap = randomBytes(9000, 3),
                     crc = randomBytes(8000, 4), twice = randomBytes(3000, 5), nfo = randomBytes(5000, 6);
    // Real encoder output: uuencoded through libuu, yEnc through our decoder.
    const QList<QByteArray> uu = uuenview("-u", "real.jpg", real), ye = uuenview("-y", "clip.avi", clip);
    ASSERT_GE(uu.size(), 5);
    ASSERT_GE(ye.size(), 2);
    arts.post("real.jpg", uu);
    arts.post("clip.avi", ye);
    // Part 2 of 3 never posted: a gap.
    arts.post("gap.bin", {yencPart(gap, 1, 3000, 1, 3, "gap.bin"), QByteArray(), yencPart(gap, 6001, 9000, 3, 3, "gap.bin")});
    // Part 2 damaged on the way.
    QByteArray damaged = yencPart(crc, 4001, 8000, 2, 2, "crc.bin");
    qsizetype at = damaged.indexOf("=ypart") + 300;
    while (QByteArray("=\r\n").contains(damaged[at]) || damaged[at - 1] == '=') ++at;
    damaged[at] = damaged[at] == 'q' ? 'r' : 'q';
    arts.post("crc.bin", {yencPart(crc, 1, 4000, 1, 2, "crc.bin"), damaged});
    // A description numbered 0 ahead of the two data parts.
    arts.post("nfo.bin", {"About this post.\r\n", yencPart(nfo, 1, 2500, 1, 2, "nfo.bin"), yencPart(nfo, 2501, 5000, 2, 2, "nfo.bin")}, 0);
    arts.emptyPost("empty.bin");
    // The first answer for this one runs into a second response.
    arts.post("twice.bin", {yencPart(twice, 1, 3000, 1, 1, "twice.bin")});

    TestServer server({"--group", QString::fromLatin1(group) + ":3000:120", "--part-bytes", "3000", "--segment",
                       "--article-dir", arts.path(), "--fault", "ARTICLE <twice.bin.1@every>=twice@1"});
    DownloadRig r(server.port());
    r.core.settings.chkAllowRestart = true;
    r.core.settings.Rescan_Time = 5;
    ASSERT_TRUE(r.scanGroup(group));
    const int queued = r.queue(isBinaryPost);
    synth::Options o;
    o.partBytes = 3000;
    const Expect want = expectFor(synth::makeGroup(group, 3000, 120, o));
    ASSERT_GT(want.unavailable + want.gapped, 0) << "the seed should give expired articles";
    ASSERT_EQ(queued, int(want.files.size()) + want.unavailable + want.gapped + want.broken + 7);
    ASSERT_TRUE(r.downloadWithRestarts(90000)) << r.logged.join('\n').toStdString();

    std::map<QString, ProcessedEntry> rows;
    for (const ProcessedEntry &e : r.processed.entries()) rows[e.subject] = e;
    const QString dl = r.core.settings.Download_Path + group + '/';
    auto good = [&](const char *name, const QByteArray &content) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(rows.count(name));
        EXPECT_EQ(rows[name].status, "Decode successful");
        EXPECT_EQ(rows[name].fileName, dl + name);
        EXPECT_TRUE(readFile(dl + name) == content) << "bytes differ";
    };
    good("real.jpg", real);
    good("clip.avi", clip);
    good("nfo.bin", nfo);
    good("twice.bin", twice);
    EXPECT_EQ(rows["gap.bin"].status, "Error: yEnc data missing before part 2");
    EXPECT_EQ(rows["crc.bin"].status, "Error: yEnc CRC mismatch in part 2");
    EXPECT_EQ(rows["empty.bin"].status, "Server sent empty article!");
    // Failed decodes keep what they wrote: the gap is filled with 254.
    const QByteArray g = readFile(dl + "gap.bin");
    ASSERT_EQ(g.size(), gap.size());
    EXPECT_EQ(g.mid(3000, 3000), QByteArray(3000, char(254)));
    EXPECT_EQ(g.mid(6000), gap.mid(6000));
    EXPECT_EQ(readFile(dl + "crc.bin").size(), crc.size());

    // The synthetic posts as in a plain run.
    int expired = 0, ok = 0;
    for (const ProcessedEntry &e : r.processed.entries()) {
        expired += e.status == "Item no longer available on server";
        ok += e.ok;
    }
    EXPECT_EQ(expired, want.unavailable);
    EXPECT_EQ(ok, int(want.files.size()) + 4);
    EXPECT_EQ(r.processed.rowCount(), queued) << "one row a post";

    // The log lines, no restarts (bad copies are asked again, not reconnected for), and
    // the cache and batch left behind.
    EXPECT_EQ(r.count("Article not delivered; skipping empty.bin."), 3) << r.logged.join('\n').toStdString();
    EXPECT_EQ(r.count("Corrupt data detected in part 1 from "), 1);
    EXPECT_EQ(r.count("Emergency Reconnect"), 0);
    EXPECT_EQ(r.count("Article expired!  Skipping "), want.unavailable);
    EXPECT_EQ(r.count("Decoder ready, attachment found."), 1 + int(std::count_if(want.files.begin(), want.files.end(), [](auto &f) {
                                                                  return QString::fromStdString(f.first).endsWith(".jpg");
                                                              })));
    EXPECT_EQ(r.count("Done!"), 1);
    EXPECT_EQ(r.batch.batchRows(), 0);
    // Every post was decoded or left with nothing to decode: the cache is empty.
    EXPECT_EQ(filesUnder(r.core.settings.Cache_Path), 0);
    // twice.bin was asked for twice: the corrupt answer and the retry.
    EXPECT_EQ(server.commands().filter("ARTICLE <twice.bin.1@every>").size(), 2);
}

// User actions and timers while a decode runs on its thread (held there by the test): the
// window goes on at once, the download carries on with the next items, and every item is
// decoded exactly once, whatever came in between.
TEST(Download, ActionsDuringADecode)
{
    const char *group = "alt.binaries.ov";
    TestServer server({"--group", QString::fromLatin1(group) + ":1:40", "--part-bytes", "2000", "--yenc-only"});
    enum class Action { StopThenDownload, Nothing };
    for (Action action : {Action::StopThenDownload, Action::Nothing}) {
        SCOPED_TRACE(int(action));
        DownloadRig r(server.port());
        r.core.settings.chkAllowRestart = true;
        ASSERT_TRUE(r.scanGroup(group));
        const int queued = r.queue(isBinaryPost);
        ASSERT_GT(queued, 3);
        std::atomic<int> held{0}, first{0};
        std::atomic<bool> release{false};
        auto &decodes = const_cast<DecodeQueue &>(r.dl.decodes());
        decodes.onJobStart = [&](int item) {
            if (held++ > 0) return;
            first = item;   // the first item whose parts are all in (not always the first queued)
            while (!release) QThread::usleep(500);
        };
        r.logged.clear();
        r.dl.startCheck();
        ASSERT_TRUE(waitFor([&] { return held > 0; }, 30000));
        EXPECT_TRUE(decodes.contains(first));
        if (action == Action::StopThenDownload) {
            r.dl.stop();
            EXPECT_FALSE(r.dl.running());
            EXPECT_TRUE(decodes.contains(first)) << "the running decode finishes";
            r.dl.startCheck();   // Download again while it runs: passes it over
            EXPECT_TRUE(r.dl.running());
        }
        // The download does not wait for the held decode: every other part is fetched and
        // the run waits only for the decodes.
        EXPECT_TRUE(waitFor(
            [&] {
                return r.dl.state() == DownloadDriver::RunState::Decoding;
            },
            30000));
        EXPECT_TRUE(decodes.contains(first));
        EXPECT_GT(decodes.pending(), 1);
        release = true;
        ASSERT_TRUE(waitFor(
            [&] {
                return !r.dl.running() && decodes.idle();
            },
            60000))
            << r.logged.join('\n').toStdString();
        // Every item once: as many rows as items, each its own file, none decoded twice.
        EXPECT_EQ(r.batch.batchRows(), 0);
        EXPECT_EQ(r.processed.rowCount(), queued);
        std::set<QString> names, files;
        for (const ProcessedEntry &e : r.processed.entries()) {
            EXPECT_TRUE(names.insert(e.subject).second) << "decoded twice: " << e.subject.toStdString();
            if (!e.fileName.isEmpty()) {
                EXPECT_TRUE(files.insert(e.fileName).second);
            }
        }
        EXPECT_EQ(QDir(r.core.settings.Download_Path + group).entryList(QDir::Files).size(), qsizetype(files.size()));
        EXPECT_EQ(r.count("Done!"), 1);
    }
}

// Opening a file no program takes (on a desktop that knows none), or with no xdg-open at
// all: the user is told, with the folder the file is in, not only the log.
TEST(Download, OpeningAFileNoProgramTakesIsSaid)
{
    test::EngineRig r;
    QTemporaryDir xdg;
    const QString none = xdg.path() + "/none";
    const char *vars[] = {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION"};
    std::vector<QByteArray> saved;
    for (const char *v : vars) {
        saved.push_back(qgetenv(v));
        if (QByteArray(v).startsWith("XDG_DATA") || QByteArray(v).startsWith("XDG_CONFIG")) qputenv(v, none.toUtf8());
        else qunsetenv(v);
    }
    const QString file = r.dir.path() + "/clip.vtnothing";
    test::writeFile(file, "not a known kind of file");
    EXPECT_TRUE(r.decoder.RunAssociated(file));
    const bool said = waitFor([&] { return !r.prompter.messages.isEmpty(); }, 10000);
    for (size_t i = 0; i < std::size(vars); ++i)
        if (saved[i].isNull()) qunsetenv(vars[i]);
        else qputenv(vars[i], saved[i]);
    ASSERT_TRUE(said);
    EXPECT_TRUE(r.prompter.messages[0].contains(r.dir.path())) << r.prompter.messages[0].toStdString();
    EXPECT_TRUE(r.prompter.messages[0].startsWith("No program on this system opens clip.vtnothing (")
                || r.prompter.messages[0].startsWith("Nothing here opens files"))
        << r.prompter.messages[0].toStdString();
}
