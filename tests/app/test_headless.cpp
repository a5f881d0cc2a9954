// The program without a window, driven as an automation tool drives a download client:
// real HTTP to the real program, which downloads from the test server.
#include "Portable.h"
#include "decode/Par2.h"
#include "download/DirectWrite.h"
#include <QDirIterator>
#include <set>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QHttpMultiPart>
#include <QRegularExpression>
#include <QUrlQuery>
#include <QWebSocket>

using namespace vt;
using namespace vt::test;

namespace {
struct Http {
    QNetworkAccessManager net;
    QString base;
    QByteArray key;
    QJsonObject call(const QString &query, QHttpMultiPart *upload = nullptr, int *status = nullptr)
    {
        const QUrl url(base + "api?output=json&apikey=" + key + '&' + query);
        QNetworkReply *r = upload ? net.post(QNetworkRequest(url), upload) : net.get(QNetworkRequest(url));
        test::waitFor([&] { return r->isFinished(); }, 20000);
        if (status) *status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QJsonObject o = QJsonDocument::fromJson(r->readAll()).object();
        r->deleteLater();
        return o;
    }
    QJsonObject addFile(const QString &path, const QString &category)
    {
        auto *form = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        QHttpPart file;
        file.setHeader(QNetworkRequest::ContentDispositionHeader, "form-data; name=\"name\"; filename=\"" + QFileInfo(path).fileName() + "\"");
        file.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-nzb");
        file.setBody(test::readFile(path));
        form->append(file);
        const QJsonObject o = call("mode=addfile&cat=" + category + "&priority=0", form);
        delete form;
        return o;
    }
};

// Waits for the program's line with its address; the port it took.
quint16 remotePort(QProcess &p)
{
    QByteArray out;
    quint16 port = 0;
    test::waitFor([&] {
        out += p.readAllStandardOutput();
        const QRegularExpressionMatch m = QRegularExpression("remote control on http://127\\.0\\.0\\.1:(\\d+)/").match(QString::fromUtf8(out));
        if (m.hasMatch()) port = quint16(m.captured(1).toUInt());
        return port != 0;
    }, 20000);
    return port;
}
// A release as index sites list it: `base`.mkv packed in `base`.7z with a par2 set over it,
// posted on the server's article folder from article 1; the NZB written to `nzb`.
bool postRelease(const QString &arts, const QString &nzb, const QString &base, const QByteArray &content, int recoveryBlocks)
{
    QTemporaryDir src;
    test::writeFile(src.path() + '/' + base + ".mkv", content);
    if (!test::runTool(src.path(), "7zz", {"a", "-bd", "-mx0", base + ".7z", base + ".mkv"})
        || !test::runTool(src.path(), Par2Run::program(),
                          {"create", "-q", "-s20000", "-c" + QString::number(recoveryBlocks), "-n1", base + ".par2", base + ".7z"}))
        return false;
    NzbDocument release;
    int next = 1;
    for (const QString &f : QDir(src.path()).entryList({base + ".7z", base + "*.par2"}, QDir::Files, QDir::Name)) {
        release.files.push_back(test::writeYencPost(arts, f.toUtf8(), test::readFile(src.path() + '/' + f), 25000, next, "alt.binaries.one"));
        next += int(release.files.back().segments.size());
    }
    return writeNzbFile(nzb, release, nullptr);
}
// One file of `parts` parts of 25,000 bytes posted from article `first` on, and its NZB.
QByteArray postOne(const QString &arts, const QString &nzb, const QByteArray &name, int parts, int first, quint32 seed)
{
    const QByteArray data = test::randomBytes(parts * 25000, seed);
    NzbDocument doc;
    doc.files.push_back(test::writeYencPost(arts, name, data, 25000, first, "alt.binaries.one"));
    return writeNzbFile(nzb, doc, nullptr) ? data : QByteArray();
}

const QByteArray kKey = "0123456789abcdef0123456789abcdef";

// The remote control on any free port with a known key.
void remoteOn(const Portable &app)
{
    test::writeFile(app.dir.path() + "/VANTREL.INI", test::readFile(app.dir.path() + "/VANTREL.INI") + "Remote_Port=0\r\nRemote_ApiKey=" + kKey + "\r\n");
}
} // namespace

// An automation tool hands over a release's NZB with its category; the headless program
// downloads it into the category's folder, a job of its own, repairs and unpacks it, and
// reports it in history. A later start with a window hands its NZB over to the headless
// one. SIGTERM saves and ends.
TEST(Headless, AReleaseFromAToolEndsRepairedAndUnpackedInItsCategoryFolder)
{
    // One article of the archive gone from the server.
    QTemporaryDir arts, here;
    const QByteArray episode = test::randomBytes(300000, 70);
    ASSERT_TRUE(postRelease(arts.path(), here.path() + "/Show.S01E01.nzb", "show", episode, 30));
    ASSERT_TRUE(QFile::remove(arts.path() + "/3.art"));
    const QByteArray later = postOne(arts.path(), here.path() + "/later.nzb", "later0.bin", 3, 100, 90);
    test::TestServer server({"--group", "alt.binaries.one:1:0", "--article-dir", arts.path()});
    Portable app(server.port());
    QByteArray ini = test::readFile(app.dir.path() + "/VANTREL.INI");
    ini += "Remote_Port=0\r\n[Categories]\r\nName1=tv\r\nFolder1=" + (app.dir.path() + "/series/").toUtf8() + "\r\n";
    test::writeFile(app.dir.path() + "/VANTREL.INI", ini);
    // No display at all: the headless program needs none.
    QProcessEnvironment bare = app.env;
    app.env.remove("DISPLAY");
    app.env.remove("WAYLAND_DISPLAY");
    app.env.remove("QT_QPA_PLATFORM");
    const QProcessEnvironment noDisplay = app.env;

    QProcess p;
    ASSERT_TRUE(app.launch(p, {"--headless"}, here.path()));
    const quint16 port = remotePort(p);
    ASSERT_NE(port, 0) << p.readAllStandardError().constData();
    // The key was made on first use and kept in the settings.
    const QRegularExpressionMatch key = QRegularExpression("Remote_ApiKey=([0-9a-f]{32})").match(QString::fromLatin1(test::readFile(app.dir.path() + "/VANTREL.INI")));
    ASSERT_TRUE(key.hasMatch());
    Http http{{}, QStringLiteral("http://127.0.0.1:%1/").arg(port), key.captured(1).toLatin1()};
    int status = 0;
    http.call("mode=queue", nullptr, &status);
    EXPECT_EQ(status, 200);

    const QJsonObject added = http.addFile(here.path() + "/Show.S01E01.nzb", "tv");
    const QString id = added["nzo_ids"].toArray()[0].toString();
    ASSERT_FALSE(id.isEmpty()) << QJsonDocument(added).toJson().constData();
    // It is in the queue or, fetched already, in the history; then it completes.
    QJsonObject slot;
    ASSERT_TRUE(test::waitFor([&] {
        for (const QJsonValue v : http.call("mode=history")["history"].toObject()["slots"].toArray())
            if (v.toObject()["nzo_id"].toString() == id && v.toObject()["status"].toString() == "Completed") slot = v.toObject();
        return !slot.isEmpty();
    }, 60000)) << app.log().constData();
    EXPECT_EQ(slot["category"].toString(), "tv");
    const QString storage = slot["storage"].toString();
    EXPECT_EQ(storage, app.dir.path() + "/series/Show.S01E01");
    // Repaired and unpacked: the episode, and nothing of the archive or its par2 set.
    EXPECT_EQ(test::readFile(storage + "/show.mkv"), episode);
    EXPECT_EQ(QDir(storage).entryList(QDir::Files), QStringList{"show.mkv"});
    EXPECT_TRUE(http.call("mode=queue")["queue"].toObject()["slots"].toArray().isEmpty());

    // A start with a window hands its NZB to the headless program and ends.
    QProcess second;
    app.env = bare;
    ASSERT_TRUE(app.launch(second, {"later.nzb"}, here.path()));
    EXPECT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(test::waitFor([&] { return test::readFile(app.dir.path() + "/dl/later/later0.bin") == later; }, 60000)) << app.log().constData();
    // So does one without a display, as from a terminal over SSH.
    QProcess third;
    app.env = noDisplay;
    ASSERT_TRUE(app.launch(third, {"--download"}, here.path()));
    EXPECT_TRUE(third.waitForFinished(20000));
    EXPECT_EQ(third.exitCode(), 0) << third.readAllStandardError().constData();

    EXPECT_TRUE(http.call("mode=history&name=delete&value=" + id)["status"].toBool());
    stop(p);
    // The jobs are kept across runs: the deleted one is gone, the handed-over one is there.
    const QByteArray jobs = test::readFile(app.dir.path() + "/jobs.dat");
    EXPECT_FALSE(jobs.contains(id.toLatin1()));
    EXPECT_TRUE(jobs.contains("later\t"));
}

// Two jobs in one run: the first is verified, unpacked and reported Completed while the
// second is still downloading, so a tool can take it at once.
TEST(Headless, AJobEndsWhileTheNextOneStillDownloads)
{
    QTemporaryDir arts, here;
    const QByteArray episode = test::randomBytes(200000, 150);
    ASSERT_TRUE(postRelease(arts.path(), here.path() + "/first.nzb", "ep", episode, 10));
    const QByteArray big = postOne(arts.path(), here.path() + "/second.nzb", "big.bin", 40, 200, 151);
    test::TestServer server({"--group", "alt.binaries.one:1:0", "--article-dir", arts.path(), "--latency", "100"});
    Portable app(server.port());
    remoteOn(app);
    QProcess p;
    ASSERT_TRUE(app.launch(p, {"--headless", here.path() + "/first.nzb", here.path() + "/second.nzb"}, here.path()));
    const quint16 port = remotePort(p);
    ASSERT_NE(port, 0);
    Http http{{}, QStringLiteral("http://127.0.0.1:%1/").arg(port), kKey};
    QString firstState;
    QJsonArray queueThen;
    ASSERT_TRUE(test::waitFor([&] {
        for (const QJsonValue v : http.call("mode=history")["history"].toObject()["slots"].toArray())
            if (v.toObject()["name"].toString() == "first") firstState = v.toObject()["status"].toString();
        if (firstState == "Completed") queueThen = http.call("mode=queue")["queue"].toObject()["slots"].toArray();
        return firstState == "Completed";
    }, 60000)) << app.log().constData();
    ASSERT_EQ(queueThen.size(), 1) << "the second job is still in the queue\n" << app.log().constData();
    EXPECT_EQ(queueThen[0].toObject()["filename"].toString(), "second");
    EXPECT_EQ(QDir(app.dir.path() + "/dl/first").entryList(QDir::Files), QStringList{"ep.mkv"});
    EXPECT_EQ(test::readFile(app.dir.path() + "/dl/first/ep.mkv"), episode);
    EXPECT_TRUE(test::waitFor([&] { return test::readFile(app.dir.path() + "/dl/second/big.bin") == big; }, 60000));
    stop(p);
}

// A stop in the middle of a download: the next start without a window goes on with what
// the batch held, fetching only what is not in yet.
TEST(Headless, WhatTheBatchHeldAtTheStopGoesOnAtTheNextStart)
{
    QTemporaryDir arts, here;
    const std::vector<QByteArray> data = writePosts(arts.path(), here.path() + "/slow.nzb", "slow", 1, 10, 130);
    test::TestServer server({"--group", "alt.binaries.one:1:0", "--article-dir", arts.path(), "--latency", "150"});
    Portable app(server.port());
    test::writeFile(app.dir.path() + "/VANTREL.INI", test::readFile(app.dir.path() + "/VANTREL.INI") + "Remote_Port=0\r\n");
    QProcess p;
    ASSERT_TRUE(app.launch(p, {"--headless", here.path() + "/slow.nzb"}, here.path()));
    ASSERT_TRUE(test::waitFor([&] { return app.log().count("Article Retrieved") >= 2; }, 30000)) << app.log().constData();
    stop(p);
    // What the journals hold at the stop is in the file: never asked for again.
    std::set<QByteArray> journaled;
    QDirIterator journals(app.dir.path(), {"*.JOURNAL"}, QDir::Files, QDirIterator::Subdirectories);
    while (journals.hasNext())
        if (const std::optional<DirectJournal> j = readDirectJournal(test::readFile(journals.next())))
            for (const DirectPart &part : j->parts) journaled.insert("slow0.bin.part" + QByteArray::number(part.part) + "@post.test");
    ASSERT_GE(journaled.size(), 2u);
    QProcess again;
    ASSERT_TRUE(app.launch(again, {"--headless"}, here.path()));
    EXPECT_TRUE(test::waitFor([&] { return test::readFile(app.dir.path() + "/dl/slow/slow0.bin") == data[0]; }, 60000)) << app.log().constData();
    stop(again);
    const QStringList asked = server.commands().filter(" ARTICLE ");
    for (const QByteArray &id : journaled) EXPECT_EQ(asked.filter("<" + id + ">").size(), 1) << id.constData();
}

// A start without a window while the window runs hands its NZB over to it and ends.
TEST(Headless, AHeadlessStartHandsOverToTheWindow)
{
    QTemporaryDir arts, here;
    writePosts(arts.path(), here.path() + "/handed.nzb", "handed", 1, 2, 140);
    test::TestServer server({"--group", "alt.binaries.one:1:0", "--article-dir", arts.path()});
    Portable app(server.port());
    QProcess window;
    ASSERT_TRUE(app.launch(window, {}, here.path()));
    ASSERT_TRUE(test::waitFor([&] { return QFile::exists(app.socket()); }, 20000));
    QProcess bare;
    ASSERT_TRUE(app.launch(bare, {"--headless", "handed.nzb"}, here.path()));
    ASSERT_TRUE(bare.waitForFinished(20000));
    EXPECT_EQ(bare.exitCode(), 0);
    EXPECT_TRUE(test::waitFor([&] { return app.log().contains("Imported handed.nzb"); }, 20000)) << app.log().constData();
    stop(window);
}

namespace {
// Headless Chromium driven over its debugging protocol: one page, commands answered in turn.
class Browser {
public:
    explicit Browser(const QString &profile)
    {
        m_proc.setProcessChannelMode(QProcess::SeparateChannels);
        m_proc.start("chromium", {"--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run", "--remote-debugging-port=0",
                                  "--user-data-dir=" + profile, "about:blank"});
        QByteArray err;
        QString ws;
        test::waitFor([&] {
            err += m_proc.readAllStandardError();
            const QRegularExpressionMatch m = QRegularExpression("DevTools listening on (ws://127\\.0\\.0\\.1:(\\d+)/\\S+)").match(QString::fromUtf8(err));
            if (m.hasMatch()) m_debugPort = m.captured(2).toUShort();
            return m_debugPort != 0;
        }, 30000);
        if (!m_debugPort) return;
        // The page's own socket, from the list of targets.
        QNetworkAccessManager net;
        QString pageWs;
        test::waitFor([&] {
            QNetworkReply *r = net.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/json/list").arg(m_debugPort))));
            test::waitFor([&] { return r->isFinished(); }, 10000);
            for (const QJsonValue v : QJsonDocument::fromJson(r->readAll()).array())
                if (v.toObject()["type"].toString() == "page") pageWs = v.toObject()["webSocketDebuggerUrl"].toString();
            r->deleteLater();
            return !pageWs.isEmpty();
        }, 20000);
        QObject::connect(&m_ws, &QWebSocket::textMessageReceived, [this](const QString &t) {
            const QJsonObject o = QJsonDocument::fromJson(t.toUtf8()).object();
            if (o.contains("id")) m_answers[o["id"].toInt()] = o;
        });
        m_ws.open(QUrl(pageWs));
        test::waitFor([&] { return m_ws.state() == QAbstractSocket::ConnectedState; }, 20000);
    }
    ~Browser()
    {
        m_ws.close();
        m_proc.kill();
        m_proc.waitForFinished(10000);
    }
    bool ready() const { return m_ws.state() == QAbstractSocket::ConnectedState; }
    QJsonObject send(const QString &method, const QJsonObject &params = {})
    {
        const int id = ++m_next;
        m_ws.sendTextMessage(QString::fromUtf8(QJsonDocument(QJsonObject{{"id", id}, {"method", method}, {"params", params}}).toJson()));
        test::waitFor([&] { return m_answers.contains(id); }, 20000);
        return m_answers.take(id)["result"].toObject();
    }
    QJsonValue eval(const QString &js) { return send("Runtime.evaluate", {{"expression", js}, {"returnByValue", true}})["result"].toObject()["value"]; }

private:
    QProcess m_proc;
    QWebSocket m_ws;
    quint16 m_debugPort = 0;
    int m_next = 0;
    QHash<int, QJsonObject> m_answers;
};
} // namespace

// The web page in a real browser: it shows the history and the batch with its progress,
// and a file chosen in its form and sent is queued.
TEST(Headless, TheWebPageShowsTheBatchAndHistoryAndTakesAnUpload)
{
    QTemporaryDir arts, here, profile;
    const std::vector<QByteArray> data = writePosts(arts.path(), here.path() + "/first.nzb", "first", 1, 4, 110);
    const QByteArray second = postOne(arts.path(), here.path() + "/second.nzb", "second.bin", 8, 100, 120);
    // The second post is held back: its job stays in the queue while the page looks.
    test::TestServer server({"--group", "alt.binaries.one:1:0", "--article-dir", arts.path(), "--latency", "400"});
    Portable app(server.port());
    remoteOn(app);
    QProcess p;
    ASSERT_TRUE(app.launch(p, {"--headless", here.path() + "/first.nzb"}, here.path()));
    const quint16 port = remotePort(p);
    ASSERT_NE(port, 0);
    Http http{{}, QStringLiteral("http://127.0.0.1:%1/").arg(port), kKey};
    ASSERT_TRUE(test::waitFor([&] { return http.call("mode=history")["history"].toObject()["noofslots"].toInt() == 1; }, 60000));

    Browser b(profile.path());
    ASSERT_TRUE(b.ready()) << "chromium did not start";
    b.send("Page.enable");
    b.send("Page.navigate", {{"url", http.base + "?apikey=" + http.key}});
    EXPECT_TRUE(test::waitFor([&] { return b.eval("document.querySelectorAll('#history tr.done').length").toInt() == 1; }, 30000));
    EXPECT_EQ(b.eval("document.querySelector('#history tr.done td').textContent").toString(), "first");
    EXPECT_TRUE(b.eval("document.querySelector('#history tr.done').textContent").toString().contains("Completed"));

    // The form: a file chosen and sent, as a person does.
    const int root = b.send("DOM.getDocument")["root"].toObject()["nodeId"].toInt();
    const int input = b.send("DOM.querySelector", {{"nodeId", root}, {"selector", "#nzb"}})["nodeId"].toInt();
    ASSERT_NE(input, 0);
    b.send("DOM.setFileInputFiles", {{"nodeId", input}, {"files", QJsonArray{here.path() + "/second.nzb"}}});
    b.eval("document.querySelector('#upload button').click()");
    EXPECT_TRUE(test::waitFor([&] { return b.eval("document.getElementById('added').textContent").toString() == "Added second.nzb"; }, 20000));
    // The batch shows it with its progress until it is done, then the history does.
    EXPECT_TRUE(test::waitFor([&] {
        return b.eval("Array.from(document.querySelectorAll('#queue tr.slot td:first-child')).map(e => e.textContent).join()").toString() == "second";
    }, 20000)) << app.log().constData();
    EXPECT_EQ(b.eval("document.querySelectorAll('#queue tr.slot .bar span').length").toInt(), 1);
    EXPECT_TRUE(test::waitFor([&] { return b.eval("document.querySelectorAll('#history tr.done').length").toInt() == 2; }, 60000));
    EXPECT_EQ(test::readFile(app.dir.path() + "/dl/second/second.bin"), second);
    EXPECT_EQ(test::readFile(app.dir.path() + "/dl/first/first0.bin"), data[0]);
    stop(p);
}
