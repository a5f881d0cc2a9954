// The remote control over real HTTP on a real socket: what automation tools send, and
// what a hostile caller sends.
#include "EngineRig.h"
#include "Posts.h"
#include "TestSupport.h"
#include "nzb/NzbFile.h"
#include "remote/Multipart.h"
#include "remote/Remote.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QUrl>
#include <gtest/gtest.h>

using namespace vt;

namespace {

// One HTTP exchange as raw bytes: what the server answered before it closed or the answer
// was whole.
QByteArray exchange(quint16 port, const QByteArray &request)
{
    QTcpSocket s;
    QByteArray got;
    bool closed = false;
    QObject::connect(&s, &QTcpSocket::readyRead, [&] { got += s.readAll(); });
    QObject::connect(&s, &QTcpSocket::disconnected, [&] { closed = true; });
    s.connectToHost("127.0.0.1", port);
    s.write(request);
    auto whole = [&] {
        const qsizetype end = got.indexOf("\r\n\r\n");
        if (end < 0) return false;
        const qsizetype at = got.toLower().indexOf("content-length:");
        if (at < 0 || at > end) return false;
        return got.size() >= end + 4 + got.mid(at + 15, got.indexOf('\r', at) - at - 15).trimmed().toLongLong();
    };
    test::waitFor([&] { return closed || whole(); }, 20000);
    return got;
}

QByteArray get(quint16 port, const QByteArray &target) { return exchange(port, "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n"); }

QByteArray post(quint16 port, const QByteArray &target, const QByteArray &contentType, const QByteArray &body)
{
    return exchange(port, "POST " + target + " HTTP/1.1\r\nHost: x\r\nContent-Type: " + contentType + "\r\nContent-Length: "
                              + QByteArray::number(body.size()) + "\r\n\r\n" + body);
}

int statusOf(const QByteArray &answer) { return answer.mid(9, 3).toInt(); }
QJsonObject jsonOf(const QByteArray &answer) { return QJsonDocument::fromJson(answer.mid(answer.indexOf("\r\n\r\n") + 4)).object(); }

QByteArray upload(const QByteArray &boundary, const QByteArray &fileName, const QByteArray &data, const QByteArray &extra = {})
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"name\"; filename=\"" + fileName
           + "\"\r\nContent-Type: application/x-nzb\r\n\r\n" + data + "\r\n" + extra + "--" + boundary + "--\r\n";
}

struct RemoteRig : test::EngineRig {
    Remote remote{engine};
    quint16 port = 0;
    QByteArray key;
    RemoteRig()
    {
        core.settings.Download_Path = dir.path() + "/dl/";
        QDir().mkpath(core.settings.Download_Path);
        core.settings.Remote_Port = 0;
        core.settings.categories = {{"tv", {}}};
        core.settings.chkAutodownload = false;
        remote.start(true);
        port = remote.server()->port();
        key = core.settings.Remote_ApiKey.toLatin1();
    }
    QByteArray api(const QByteArray &query) { return get(port, "/api?output=json&apikey=" + key + '&' + query); }
};

QByteArray smallNzb(const QString &dir, quint32 seed = 7)
{
    NzbDocument doc;
    doc.files.push_back(test::writeYencPost(dir, "a" + QByteArray::number(seed) + ".bin", test::randomBytes(3000, seed), 1000, int(seed) * 10, "alt.binaries.one"));
    doc.meta.push_back({"category", "tv"});
    const QString path = dir + "/small.nzb";
    writeNzbFile(path, doc, nullptr);
    return test::readFile(path);
}

} // namespace

TEST(Multipart, FieldsFilesAndBrokenBodies)
{
    const QByteArray ct = "multipart/form-data; boundary=\"b;1\"";
    FormData f = parseMultipart("preamble\r\n--b;1\r\nContent-Disposition: form-data; name=\"cat\"\r\n\r\ntv\r\n--b;1\r\n"
                                "Content-Disposition: form-data; name=\"name\"; filename=\"x \\\"y\\\".nzb\"\r\n\r\n<nzb>\r\n\r\n--b;1--\r\n",
                                ct);
    ASSERT_TRUE(f.ok) << f.error.toStdString();
    ASSERT_EQ(f.parts.size(), 2u);
    EXPECT_EQ(f.field("cat")->data, "tv");
    EXPECT_EQ(f.field("name")->fileName, "x \"y\".nzb");
    EXPECT_EQ(f.field("name")->data, "<nzb>\r\n");
    EXPECT_EQ(multipartBoundary("text/plain; boundary=x"), "");
    EXPECT_EQ(multipartBoundary("multipart/form-data; boundary=" + QByteArray(71, 'a')), "");
    for (const QByteArray &bad : {QByteArray("--b;1\r\nContent-Disposition: form-data; name=a\r\n\r\nno end"), QByteArray("--b;1x"),
                                  QByteArray("nothing"), QByteArray("--b;1\r\nno blank line\r\n--b;1--")})
        EXPECT_FALSE(parseMultipart(bad, ct).ok) << bad.constData();
    QByteArray many;
    for (int i = 0; i < 70; ++i) many += "--b;1\r\n\r\nx\r\n";
    EXPECT_FALSE(parseMultipart(many + "--b;1--", ct).ok);
}

// What a series manager sends: the version, the categories, an upload with a category,
// the queue, pausing and deleting; and the history of a job that ended.
TEST(Remote, ToolCallsAnswerAsTheToolsRead)
{
    RemoteRig rig;
    ASSERT_NE(rig.port, 0);
    EXPECT_EQ(rig.key.size(), 32);
    EXPECT_EQ(jsonOf(get(rig.port, "/api?mode=version&output=json"))["version"].toString(), SabApi::kVersion);
    EXPECT_EQ(jsonOf(rig.api("mode=get_cats"))["categories"].toArray(), QJsonArray({"*", "tv"}));
    const QJsonObject config = jsonOf(rig.api("mode=get_config"))["config"].toObject();
    EXPECT_EQ(config["misc"].toObject()["complete_dir"].toString(), rig.dir.path() + "/dl");
    EXPECT_EQ(config["categories"].toArray()[1].toObject()["dir"].toString(), rig.dir.path() + "/dl/tv");

    // Paused from here: nothing starts until resumed.
    EXPECT_TRUE(jsonOf(rig.api("mode=pause"))["status"].toBool());
    EXPECT_TRUE(jsonOf(rig.api("mode=fullstatus"))["status"].toObject()["paused"].toBool());
    QTemporaryDir arts;
    const QByteArray nzb = smallNzb(arts.path());
    const QByteArray a = post(rig.port, "/api?mode=addfile&output=json&priority=-2&apikey=" + rig.key, "multipart/form-data; boundary=XyZ",
                              upload("XyZ", "Show.S01E01.nzb", nzb));
    ASSERT_EQ(statusOf(a), 200) << a.constData();
    const QString id = jsonOf(a)["nzo_ids"].toArray()[0].toString();
    ASSERT_FALSE(id.isEmpty()) << a.constData();
    // The NZB's own category filed it; priority -2 added it paused.
    QJsonObject q = jsonOf(rig.api("mode=queue"))["queue"].toObject();
    ASSERT_EQ(q["slots"].toArray().size(), 1);
    QJsonObject slot = q["slots"].toArray()[0].toObject();
    EXPECT_EQ(slot["nzo_id"].toString(), id);
    EXPECT_EQ(slot["filename"].toString(), "Show.S01E01");
    EXPECT_EQ(slot["cat"].toString(), "tv");
    EXPECT_EQ(slot["status"].toString(), "Paused");
    EXPECT_EQ(slot["percentage"].toString(), "0");
    EXPECT_EQ(jsonOf(rig.api("mode=queue&name=resume&value=" + id.toLatin1()))["nzo_ids"].toArray()[0].toString(), id);
    EXPECT_EQ(jsonOf(rig.api("mode=queue"))["queue"].toObject()["slots"].toArray()[0].toObject()["status"].toString(), "Queued");
    EXPECT_TRUE(test::readFile(rig.dir.path() + "/jobs.dat").contains(id.toLatin1()));

    // A second job, deleted from the queue: its items leave the batch.
    const QByteArray b = post(rig.port, "/api?mode=addfile&output=json&apikey=" + rig.key, "multipart/form-data; boundary=q",
                              upload("q", "other.nzb", smallNzb(arts.path(), 8), "--q\r\nContent-Disposition: form-data; name=\"nzbname\"\r\n\r\nOther\r\n"));
    const QString other = jsonOf(b)["nzo_ids"].toArray()[0].toString();
    ASSERT_FALSE(other.isEmpty()) << b.constData();
    EXPECT_EQ(jsonOf(rig.api("mode=queue"))["queue"].toObject()["noofslots"].toInt(), 2);
    rig.api("mode=queue&name=delete&value=" + other.toLatin1());
    EXPECT_EQ(rig.batch.batchItems().size(), 1u);
    EXPECT_EQ(jsonOf(rig.api("mode=queue"))["queue"].toObject()["slots"].toArray()[0].toObject()["nzo_id"].toString(), id);

    // The first job's item taken out of the batch by hand, nothing decoded: it failed.
    rig.batch.RemoveFromBatch(rig.batch.batchItems().front(), false, false);
    const QJsonObject h = jsonOf(rig.api("mode=history"))["history"].toObject();
    ASSERT_EQ(h["slots"].toArray().size(), 1) << QJsonDocument(h).toJson().constData();
    slot = h["slots"].toArray()[0].toObject();
    EXPECT_EQ(slot["nzo_id"].toString(), id);
    EXPECT_EQ(slot["status"].toString(), "Failed");
    EXPECT_EQ(slot["fail_message"].toString(), "Nothing was downloaded");
    EXPECT_EQ(slot["storage"].toString(), rig.dir.path() + "/dl/tv/Show.S01E01");
    rig.api("mode=history&name=delete&value=all");
    EXPECT_EQ(jsonOf(rig.api("mode=history"))["history"].toObject()["noofslots"].toInt(), 0);
    EXPECT_FALSE(test::readFile(rig.dir.path() + "/jobs.dat").contains(id.toLatin1()));
}

// Huge bodies, broken uploads, path tricks in names and files, wrong keys in a loop and
// other methods and paths: each a clear error, nothing outside the program's folders.
TEST(Remote, HostileRequestsGetClearErrorsAndTouchNothing)
{
    RemoteRig rig;
    rig.remote.server()->setMaxRequest(1 << 20);
    // Larger than the limit: 413, and the connection closed before it is all read.
    const QByteArray big = exchange(rig.port, "POST /api?mode=addfile&apikey=" + rig.key
                                                  + " HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=b\r\nContent-Length: 3000000\r\n\r\n"
                                                  + QByteArray(3'000'000, 'x'));
    EXPECT_EQ(statusOf(big), 413) << big.left(200).constData();
    // Garbage and a length far past what comes: no answer to wait for, and the server goes on.
    for (const QByteArray &junk : {QByteArray("\x01\x02 garbage\r\n\r\n"), QByteArray("GET /api HTTP/1.1\r\nContent-Length: 10000000000\r\n\r\nabc"),
                                   QByteArray("GET /api?mode=version HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n")}) {
        QTcpSocket s;
        s.connectToHost("127.0.0.1", rig.port);
        s.write(junk);
        test::waitFor([&] { return s.bytesToWrite() == 0; });
    }
    EXPECT_EQ(statusOf(rig.api("mode=version")), 200) << "the server still answers";
    // A broken upload and one without a file.
    QByteArray a = post(rig.port, "/api?mode=addfile&apikey=" + rig.key, "multipart/form-data; boundary=b", "--b\r\n\r\nno end");
    EXPECT_EQ(statusOf(a), 400);
    EXPECT_TRUE(jsonOf(a)["error"].toString().startsWith("Bad upload")) << a.constData();
    a = post(rig.port, "/api?mode=addfile&apikey=" + rig.key, "multipart/form-data; boundary=b", "--b\r\nContent-Disposition: form-data; name=x\r\n\r\ny\r\n--b--");
    EXPECT_EQ(statusOf(a), 400);
    // Not an NZB.
    a = post(rig.port, "/api?mode=addfile&output=json&apikey=" + rig.key, "multipart/form-data; boundary=b", upload("b", "x.nzb", "<html>"));
    EXPECT_FALSE(jsonOf(a)["status"].toBool());
    // Names that try to leave the folder make a folder inside it.
    QTemporaryDir arts;
    const QByteArray nzb = smallNzb(arts.path());
    for (const QByteArray &trick : {QByteArray("../../../escaped"), QByteArray("/tmp/escaped"), QByteArray(".."), QByteArray("a/../../b\\c"), QByteArray("\x01\n")}) {
        a = post(rig.port, "/api?mode=addfile&cat=none&apikey=" + rig.key + "&nzbname=" + QUrl::toPercentEncoding(trick), "multipart/form-data; boundary=b",
                 upload("b", "x.nzb", nzb));
        const QString id = jsonOf(a)["nzo_ids"].toArray()[0].toString();
        ASSERT_FALSE(id.isEmpty()) << a.constData();
        const Job *j = rig.remote.jobs().find(id);
        ASSERT_TRUE(j);
        EXPECT_TRUE(j->folder.startsWith(rig.dir.path() + "/dl/tv/")) << j->folder.toStdString();
        EXPECT_FALSE(j->folder.mid(rig.dir.path().size() + 8).chopped(1).contains('/')) << j->folder.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(rig.dir.path() + "/escaped"));
    EXPECT_FALSE(QFileInfo::exists("/tmp/escaped/"));
    // A local file: only an NZB by name, and what it holds is not told back.
    EXPECT_EQ(statusOf(rig.api("mode=addlocalfile&name=/etc/passwd")), 400);
    QFile::link("/etc/passwd", arts.path() + "/passwd.nzb");
    a = rig.api("mode=addlocalfile&name=" + QUrl::toPercentEncoding(arts.path() + "/passwd.nzb"));
    EXPECT_FALSE(jsonOf(a)["status"].toBool());
    EXPECT_FALSE(a.contains("root:")) << a.constData();
    EXPECT_EQ(statusOf(rig.api("mode=addlocalfile&name=relative.nzb")), 400);
    // Other paths and methods.
    EXPECT_EQ(statusOf(get(rig.port, "/../../etc/passwd")), 404);
    EXPECT_EQ(statusOf(exchange(rig.port, "DELETE /api HTTP/1.1\r\nHost: x\r\n\r\n")), 405);
    EXPECT_EQ(statusOf(get(rig.port, "/")), 200);
    // With a user name and password the page asks for them, and the API takes them for the key.
    rig.core.settings.Remote_User = "me";
    rig.core.settings.Remote_Password = "pw:1";
    const QByteArray page = get(rig.port, "/");
    EXPECT_EQ(statusOf(page), 401);
    EXPECT_TRUE(page.contains("WWW-Authenticate: Basic realm=\"Vantrel\"")) << page.constData();
    auto signedIn = [&](const QByteArray &target, const QByteArray &userPass) {
        return exchange(rig.port, "GET " + target + " HTTP/1.1\r\nHost: x\r\nAuthorization: Basic " + userPass.toBase64() + "\r\n\r\n");
    };
    EXPECT_EQ(statusOf(signedIn("/", "me:pw:1")), 200);
    EXPECT_TRUE(jsonOf(signedIn("/api?mode=queue&output=json", "me:pw:1")).contains("queue"));
    EXPECT_EQ(statusOf(signedIn("/", "me:pw:2")), 401);
    // As some tools send them: in the query, for the key.
    EXPECT_TRUE(jsonOf(get(rig.port, "/api?mode=queue&output=json&ma_username=me&ma_password=pw%3A1")).contains("queue"));
    EXPECT_EQ(jsonOf(get(rig.port, "/api?mode=queue&output=json&ma_username=me&ma_password=no"))["error"].toString(), "Authentication failed");
    // No key, then wrong keys: after a few, the address waits, the right key too.
    EXPECT_EQ(jsonOf(get(rig.port, "/api?mode=queue&output=json"))["error"].toString(), "API Key Required");
    for (int i = 2; i < SabApi::kFreeTries; ++i)
        EXPECT_EQ(jsonOf(get(rig.port, "/api?mode=queue&output=json&apikey=wrong" + QByteArray::number(i)))["error"].toString(), "API Key Incorrect");
    const QByteArray locked = rig.api("mode=queue");
    EXPECT_EQ(statusOf(locked), 429) << locked.constData();
}

// NZB files put into the watched folder become jobs once their size holds between two
// looks, and leave the folder; a broken one is kept aside under another name and said.
TEST(Remote, TheWatchedFolderTakesNzbFilesAndKeepsBrokenOnesAside)
{
    RemoteRig rig;
    const QString watched = rig.dir.path() + "/incoming/";
    QDir().mkpath(watched);
    rig.core.settings.Nzb_Watch_Folder = watched;
    QTemporaryDir arts;
    test::writeFile(watched + "Film.2026.nzb", smallNzb(arts.path(), 3));
    test::writeFile(watched + "broken.nzb.gz", "not gzip at all");
    test::writeFile(watched + "notes.txt", "left alone");
    QStringList said;
    QObject::connect(&rig.core.log, &OpsLog::statusChanged, [&](const QString &m) { said << m; });
    rig.remote.lookAtWatchedFolder();
    EXPECT_TRUE(rig.remote.jobs().all().empty()) << "taken only once its size held";
    rig.remote.lookAtWatchedFolder();
    ASSERT_EQ(rig.remote.jobs().all().size(), 1u);
    EXPECT_EQ(rig.remote.jobs().all()[0].name, "Film.2026");
    EXPECT_EQ(rig.remote.jobs().all()[0].folder, rig.dir.path() + "/dl/tv/Film.2026/") << "the NZB's own category";
    EXPECT_EQ(QDir(watched).entryList(QDir::Files, QDir::Name), QStringList({"broken.nzb.gz.broken", "notes.txt"}));
    EXPECT_TRUE(said.join('\n').contains("Watched folder: broken.nzb.gz was not imported"));
    rig.remote.lookAtWatchedFolder();
    EXPECT_EQ(rig.remote.jobs().all().size(), 1u);
}
