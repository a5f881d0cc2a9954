// The program without a window, driven as an automation tool drives a download client:
// real HTTP to the real program, which downloads from the test server.
#include "Portable.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QHttpMultiPart>
#include <QRegularExpression>
#include <QUrlQuery>

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
} // namespace

// An automation tool hands over an NZB (with its category); the headless program
// downloads it into the category's folder, a job of its own, and reports it in history. A
// later start with a window hands its NZB over to the headless one. SIGTERM saves and ends.
TEST(Headless, AnNzbFromAToolEndsInItsCategoryFolderAndInHistory)
{
    QTemporaryDir arts, here;
    const std::vector<QByteArray> data = writePosts(arts.path(), here.path() + "/Show.S01E01.nzb", "show", 2, 6, 70);
    const QByteArray later = test::randomBytes(3 * 25000, 90);
    NzbDocument laterNzb;
    laterNzb.files.push_back(test::writeYencPost(arts.path(), "later0.bin", later, 25000, 100, "alt.binaries.one"));
    ASSERT_TRUE(writeNzbFile(here.path() + "/later.nzb", laterNzb, nullptr));
    test::TestServer server({"--group", "alt.binaries.one:1:0", "--article-dir", arts.path()});
    Portable app(server.port());
    QByteArray ini = test::readFile(app.dir.path() + "/VANTREL.INI");
    ini += "Remote_Port=0\r\n[Categories]\r\nName1=tv\r\nFolder1=" + (app.dir.path() + "/series/").toUtf8() + "\r\n";
    test::writeFile(app.dir.path() + "/VANTREL.INI", ini);
    // No display at all: the headless program needs none.
    QProcessEnvironment bare = app.env;
    app.env.remove("DISPLAY");
    app.env.remove("WAYLAND_DISPLAY");
    app.env.insert("QT_QPA_PLATFORM", "xcb");

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
    EXPECT_EQ(test::readFile(storage + "/show0.bin"), data[0]);
    EXPECT_EQ(test::readFile(storage + "/show1.bin"), data[1]);
    EXPECT_TRUE(http.call("mode=queue")["queue"].toObject()["slots"].toArray().isEmpty());

    // A start with a window hands its NZB to the headless program and ends.
    QProcess second;
    app.env = bare;
    ASSERT_TRUE(app.launch(second, {"later.nzb"}, here.path()));
    EXPECT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(test::waitFor([&] { return test::readFile(app.dir.path() + "/dl/later/later0.bin") == later; }, 60000)) << app.log().constData();

    EXPECT_TRUE(http.call("mode=history&name=delete&value=" + id)["status"].toBool());
    stop(p);
    // The jobs are kept across runs: the deleted one is gone, the handed-over one is there.
    const QByteArray jobs = test::readFile(app.dir.path() + "/jobs.dat");
    EXPECT_FALSE(jobs.contains(id.toLatin1()));
    EXPECT_TRUE(jobs.contains("later\t"));
}
