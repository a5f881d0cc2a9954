// The article viewer against the test server: text, attachments decoded to text, the retry
// by article number, the size limit and the raw save of the parts list.
#include "Posts.h"
#include "TestSupport.h"
#include "nntp/Session.h"
#include "viewers/ArticleViewer.h"
#include "viewers/PartsList.h"
#include <QDir>
#include <gtest/gtest.h>

using namespace vt;
using namespace vt::test;

namespace {

struct ViewerRig : StoreRig {
    QTemporaryDir arts;
    std::unique_ptr<TestServer> server;
    ArticleViewer *viewer = &engine.viewer;
    quint8 key = 0;

    void start(QStringList extra = {})
    {
        server = std::make_unique<TestServer>(QStringList{"--group", "alt.test:700:0", "--article-dir", arts.path()} + extra);
        core.settings.News_Host = "127.0.0.1";
        core.settings.News_Port = QString::number(server->port());
        core.settings.Download_Path = dir.path() + "/dl/";
        groups.addGroup("alt.test");
        key = quint8(groups.rowKey(1));
    }
    void article(int n, const QByteArray &text) { ASSERT_TRUE(writeFile(arts.path() + "/" + QString::number(n) + ".art", text)); }
    // Opens the viewer for article n, whose message-id is id, and waits for the text to hold what.
    bool view(int n, const QByteArray &id, const QString &what, qint32 size = 500)
    {
        viewer->viewTitle = "Item [xx/0000001]";
        viewer->viewArticleNumber = QString::number(n);
        viewer->viewMessageId = QString::fromLatin1(id);
        viewer->viewSize = size;
        viewer->viewGroupKey = key;
        if (!viewer->open()) return false;
        return waitFor([&] { return viewer->text().contains(what); }, 5000);
    }
};

QByteArray header(const QByteArray &id)
{
    return "Path: news!not-shown\r\nFrom: Ann <ann@example>\r\nSubject: notes\r\nMessage-ID: " + id + "\r\n\r\n";
}

} // namespace

TEST(Viewer, UnixToDos)
{
    EXPECT_EQ(UnixToDos("a\n\nb\n"), "a\r\n\r\nb\r\n");
    EXPECT_EQ(UnixToDos(""), "");
    EXPECT_EQ(UnixToDos("no line feed"), "no line feed");
}

TEST(Viewer, PlainTextArticleAndCaption)
{
    ViewerRig r;
    r.article(700, header("<text@x>") + "First line\r\nSecond line\r\n");
    r.start();
    ASSERT_TRUE(r.view(700, "<text@x>", "Second line")) << r.viewer->text().toStdString();
    EXPECT_EQ(r.viewer->caption(), "Item") << "without the total marker";
    EXPECT_EQ(r.viewer->text(),
              "From: Ann <ann@example>\r\nSubject: notes\r\nMessage-ID: <text@x>\r\n\r\nFirst line\r\nSecond line\r\n")
        << r.viewer->text().toUtf8().toPercentEncoding(" :<>@!.").toStdString();
    ASSERT_TRUE(waitFor([&] { return r.server->commandsOf(1).contains("QUIT"); }));
    EXPECT_EQ(r.server->commandsOf(1), QStringList({"GROUP alt.test", "ARTICLE <text@x>", "QUIT"}));
    EXPECT_TRUE(QDir(r.dir.path() + "/dl").entryList(QDir::Files).isEmpty()) << "no temporary files left";
}

TEST(Viewer, UuencodedNfoWithUnixLineEnds)
{
    ViewerRig r;
    const QByteArray nfo = "Release notes for the test post\n\nSecond paragraph, unix line ends.\n";
    const QList<QByteArray> enc = uuenview("-u", "notes.nfo", nfo);
    ASSERT_EQ(enc.size(), 1);
    r.article(701, header("<nfo@x>") + enc[0]);
    r.start();
    ASSERT_TRUE(r.view(701, "<nfo@x>", "Second paragraph")) << r.viewer->text().toStdString();
    const QString t = r.viewer->text();
    EXPECT_TRUE(t.startsWith("From: Ann"));
    EXPECT_TRUE(t.contains("\r\n\r\n<decoded attachment below (converted from unix format)>\r\n\r\n"
                           "Release notes for the test post\r\n\r\nSecond paragraph, unix line ends.\r\n"))
        << t.toStdString();
}

TEST(Viewer, FailingYencAttachmentAndRetryByNumber)
{
    ViewerRig r;
    const QByteArray data = "A text file long enough to be shown as an attachment.\r\n";
    QByteArray part = yencPart(data, 1, data.size(), 1, 1, "readme.txt");
    const qsizetype at = part.indexOf("pcrc32=") + 7;
    part.replace(at, 8, "deadbeef");
    r.article(702, header("<bad@x>") + part);
    r.article(703, header("<gone@x>") + "Found by number\r\n");
    r.start({"--fault", "ARTICLE <gone@x>=430"});
    ASSERT_TRUE(r.view(702, "<bad@x>", "Internal yEnc Decoder: Error ")) << r.viewer->text().toStdString();
    EXPECT_TRUE(r.viewer->text().contains("<decoded attachment below>\r\n\r\nInternal yEnc Decoder: Error "));

    // 430 by message-id: asked again by number.
    ASSERT_TRUE(r.view(703, "<gone@x>", "Found by number")) << r.viewer->text().toStdString();
    ASSERT_TRUE(waitFor([&] { return r.server->commandsOf(2).contains("ARTICLE 703"); }));
    EXPECT_EQ(r.server->commandsOf(2).mid(0, 3), QStringList({"GROUP alt.test", "ARTICLE <gone@x>", "ARTICLE 703"}));
}

TEST(Viewer, ExpiredArticleTooLargePartAndNoServer)
{
    ViewerRig r;
    r.start({"--fault", "ARTICLE=430"});
    ASSERT_TRUE(r.view(799, "<none@x>", "Article expired.  This article has been deleted from server."))
        << r.viewer->text().toStdString();

    HeaderStore &st = r.store;
    HeaderItem big;
    big.subject = "Big one";
    big.parts.resize(1);
    big.parts[0].byteCount = 100001;
    st.setTexts(big.parts[0], {}, "<big@x>");
    st.appendLoadedItem(big);
    EXPECT_FALSE(r.viewer->requestItem(st, st.itemCount()));
    EXPECT_EQ(r.prompter.messages.value(0), "This article is too large for internal text viewer.");
    st.item(st.itemCount()).parts[0].byteCount = 100000;
    EXPECT_TRUE(r.viewer->requestItem(st, st.itemCount()));
    EXPECT_EQ(r.viewer->viewMessageId, "<big@x>");

    r.core.settings.News_Host.clear();
    r.core.settings.News_Port.clear();
    const int before = int(r.server->commands().size());
    const int state = r.viewer->conn.state();
    EXPECT_FALSE(r.viewer->open());
    EXPECT_EQ(r.viewer->conn.state(), state) << "no connection made";
    settle();
    EXPECT_EQ(r.server->commands().size(), before);
    EXPECT_TRUE(r.prompter.messages.last().startsWith("Enter News Server name by pressing SCAN on main screen"));
    EXPECT_EQ(r.core.settings.News_Port, "119");
}

TEST(Viewer, SaveModeWritesTheRawPart)
{
    ViewerRig r;
    const QByteArray body = "begin 644 x.bin\r\nsome data\r\nend\r\n";
    r.article(704, header("<raw@x>") + body);
    r.start();
    r.core.settings.chkMakeSubDirs = true;
    r.viewer->viewSaveMode = 1;
    ASSERT_TRUE(r.view(704, "<raw@x>", "Saved as:")) << r.viewer->text().toStdString();
    const QString path = r.dir.path() + "/dl/alt.test/704.UUE";
    EXPECT_EQ(r.viewer->text(), "Saved as:" + path);
    const QByteArray saved = readFile(path);
    EXPECT_TRUE(saved.startsWith("Path: news!not-shown\r\n"));
    EXPECT_TRUE(saved.endsWith(body + "\r\n"));
    EXPECT_EQ(r.viewer->viewSaveMode, 0) << "the next opening shows text";
}

TEST(PartsList, RowsOfOneItem)
{
    StoreRig r;
    r.groups.addGroup("alt.parts");
    const quint8 key = quint8(r.groups.rowKey(1));
    r.store.maketree("Holiday - pics.rar [xx/0000003]", "Holiday - pics.rar (1/3)", 501, "3", "1500", key,
                     "Ann Poster <ann@example.com>", "", "<p1@x>");
    r.store.maketree("Holiday - pics.rar [xx/0000003]", "Holiday - pics.rar (3/3)", 503, "3", "56", key,
                     "Ann Poster <ann@example.com>", "", "<p3@x>");
    r.store.maketree("single note", "single note", 600, "", "1234567", key, "bob@example.com (Bob)", "", "<n@x>");
    PartsList list(r.store, r.groups);
    list.ShowPartsList(1);
    EXPECT_EQ(list.caption(), "View Parts: Holiday - pics.rar [xx/0000003]");
    EXPECT_EQ(list.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Size (KB)");
    ASSERT_EQ(list.rowCount(), 2) << "one row per part slot held";
    auto cell = [&](int row, int col) { return list.index(row, col).data().toString(); };
    EXPECT_EQ(cell(0, 0), "501");
    EXPECT_EQ(cell(0, 1), "001.5");
    EXPECT_EQ(cell(0, 2), "Holiday - pics.rar (1/3)") << "the part's own counter";
    EXPECT_EQ(cell(0, 3), "ann@example.com");
    EXPECT_EQ(cell(0, 4), "alt.parts");
    EXPECT_EQ(cell(1, 0), "503");
    EXPECT_EQ(cell(1, 1), "000.1");
    EXPECT_EQ(cell(1, 2), "Holiday - pics.rar (3/3)");
    EXPECT_EQ(list.index(0, 0).data(Qt::UserRole).toInt(), 1);

    list.ShowPartsList(2);
    EXPECT_EQ(list.caption(), "View Parts: single note");
    ASSERT_EQ(list.rowCount(), 1) << "another item replaces the rows";
    EXPECT_EQ(cell(0, 1), "1234.6");
    EXPECT_EQ(cell(0, 2), "single note");
    EXPECT_EQ(cell(0, 3), "bob@example.com ") << "the address with its trailing blank";
    list.ShowPartsList(99);
    EXPECT_EQ(list.rowCount(), 0);
    EXPECT_EQ(shortPoster("Jane <jane@x"), "jane@x");
    EXPECT_EQ(shortPoster("plain"), "plain");
}

// A server that answers GROUP with 500 again and again is asked twice (once more in case
// reader mode was just switched on), then left: never a loop.
TEST(Viewer, AGroupRefusedTwiceIsNotAskedAgain)
{
    ViewerRig r;
    r.article(700, header("<a@x>") + "text\r\n");
    r.start({"--fault", "GROUP=500"});
    r.viewer->viewArticleNumber = "700";
    r.viewer->viewMessageId = "<a@x>";
    r.viewer->viewGroupKey = r.key;
    ASSERT_TRUE(r.viewer->open());
    ASSERT_TRUE(r.server->waitForCommand(1, "QUIT", 5000));
    EXPECT_EQ(r.server->commandsOf(1).filter("GROUP alt.test").size(), 2);
}
