// The partial preview: the part it takes, a cached part opened without a connection, the
// question for names that may run something, repeated previews, and the fetch on its own
// connection into the part cache.
#include "Posts.h"
#include "TestSupport.h"
#include "download/PartCache.h"
#include "nntp/Session.h"
#include "viewers/Preview.h"
#include <QDir>
#include <gtest/gtest.h>

using namespace vt;
using namespace vt::test;

namespace {

struct PreviewRig : StoreRig {
    QTemporaryDir arts;
    std::unique_ptr<TestServer> server;
    Previewer &preview = engine.preview;
    QStringList opened;
    quint8 key = 0;

    PreviewRig()
    {
        core.settings.Cache_Path = dir.path() + "/cache/";
        core.settings.Download_Path = dir.path() + "/dl/";
        groups.addGroup("alt.test");
        key = quint8(groups.rowKey(1));
        preview.RunAssociated = [this](const QString &p) {
            opened << p;
            return true;
        };
    }
    void serve(QStringList extra = {})
    {
        server = std::make_unique<TestServer>(QStringList{"--group", "alt.test:900:0", "--article-dir", arts.path()} + extra);
        core.settings.News_Host = "127.0.0.1";
        core.settings.News_Port = QString::number(server->port());
    }
    // An item of `parts.size()` parts numbered from `first`; returns its index.
    int item(const QByteArray &name, const QList<QByteArray> &parts, int first)
    {
        const QByteArray total = QByteArray::number(parts.size());
        for (int i = 0; i < parts.size(); ++i) {
            const QByteArray counter = "(" + QByteArray::number(i + 1) + "/" + total + ")";
            store.maketree(name + " [xx/" + total.rightJustified(7, '0') + "]", name + " " + counter, first + i, total,
                           QByteArray::number(parts[i].size()), key, "Ann <ann@example>", "",
                           "<" + name + "." + QByteArray::number(i + 1) + "@x>");
        }
        return store.itemCount();
    }
    void cachePart(int it, int part, const QByteArray &text) { ASSERT_TRUE(writeFile(cache.PartCacheFile(it, part), text)); }
    QString previewPath(const QString &name) const { return core.settings.Cache_Path + "previews/VT preview of " + name; }
};

QByteArray header(const QByteArray &id) { return "From: Ann <ann@example>\r\nSubject: post\r\nMessage-ID: " + id + "\r\n\r\n"; }

QByteArray bytes(int n, int seed)
{
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i) b[i] = char((i * 31 + seed * 7 + i / 97) & 0xff);
    return b;
}

} // namespace

TEST(Preview, PartChoiceAndNamesThatOpenWithoutQuestion)
{
    PreviewRig r;
    HeaderItem twelve;
    for (int i = 1; i <= 12; ++i) {
        PartRecord p;
        r.store.setTexts(p, "(" + QByteArray::number(i).rightJustified(2, '0') + "/12)", {});
        p.byteCount = i == 1 ? 8 : 5000;
        twelve.parts.push_back(p);
    }
    EXPECT_EQ(Previewer::choosePart(twelve), 11) << "part 01 is too small: the \"1/\" search takes 11/12";
    twelve.parts[0].byteCount = 11;
    EXPECT_EQ(Previewer::choosePart(twelve), 1);
    HeaderItem counted;
    for (const char *t : {"(01/100)", "(001/100)"}) {
        PartRecord p;
        r.store.setTexts(p, t, {});
        p.byteCount = 500;
        counted.parts.push_back(p);
    }
    EXPECT_EQ(Previewer::choosePart(counted), 2) << "\"001/\" comes first";
    EXPECT_EQ(Previewer::choosePart(HeaderItem{}), 0);

    EXPECT_TRUE(Previewer::opensWithoutQuestion("/c/VT preview of movie.mpeg"));
    EXPECT_TRUE(Previewer::opensWithoutQuestion("/c/VT preview of SONG.MP3"));
    EXPECT_FALSE(Previewer::opensWithoutQuestion("/c/VT preview of setup.exe"));
    EXPECT_FALSE(Previewer::opensWithoutQuestion("/c/VT.TMP"));
}

TEST(Preview, CachedYencPartOpensWithoutConnectionAndAgainUnderAFreeName)
{
    PreviewRig r;
    const QByteArray file = bytes(9000, 1);
    const QList<QByteArray> parts = {yencPart(file, 1, 3000, 1, 3, "movie.mpeg"), yencPart(file, 3001, 6000, 2, 3, "movie.mpeg"),
                                     yencPart(file, 6001, 9000, 3, 3, "movie.mpeg")};
    const int it = r.item("movie.mpeg", parts, 100);
    r.cachePart(it, 1, header("<m1@x>") + parts[0]);
    // No server at all: a connection attempt would show the no-server message.
    EXPECT_EQ(r.preview.StartPreview(it), Previewer::Started::Opened);
    ASSERT_EQ(r.opened, QStringList{r.previewPath("movie.mpeg")});
    EXPECT_EQ(readFile(r.opened[0]), file.left(3000));
    EXPECT_TRUE(r.prompter.questions.isEmpty()) << "\"mpeg\" opens without a question";
    EXPECT_TRUE(r.prompter.messages.isEmpty());
    EXPECT_EQ(r.preview.conn.state(), 0);

    EXPECT_EQ(r.preview.StartPreview(it), Previewer::Started::Opened);
    ASSERT_EQ(r.opened.size(), 2);
    EXPECT_EQ(r.opened[1].toStdString(), (r.core.settings.Cache_Path + "previews/VT preview 2 of movie.mpeg").toStdString())
        << "the first preview is kept, the second gets a free name with the same ending";
    EXPECT_EQ(readFile(r.opened[1]), file.left(3000));
}

TEST(Preview, LaterPartPreviewsFromItsOwnStart)
{
    PreviewRig r;
    const QByteArray file = bytes(24000, 2);
    QList<QByteArray> parts;
    for (int i = 0; i < 12; ++i) parts << yencPart(file, i * 2000 + 1, (i + 1) * 2000, i + 1, 12, "clip.mpg");
    const int it = r.item("clip.mpg", parts, 200);
    // Part 1 listed with 8 bytes: part 11 is taken, and previews without 20000 bytes of gap.
    r.store.item(it).parts[0].byteCount = 8;
    r.cachePart(it, 11, header("<c11@x>") + parts[10]);
    EXPECT_EQ(r.preview.StartPreview(it), Previewer::Started::Opened);
    EXPECT_EQ(r.preview.previewPart, 11);
    ASSERT_EQ(r.opened.size(), 1);
    EXPECT_EQ(readFile(r.opened[0]), file.mid(20000, 2000));
}

TEST(Preview, DangerousNameAsksAndUuencodedPreviewReplacesTheLastOne)
{
    PreviewRig r;
    const QByteArray exe = bytes(40000, 3);
    const QList<QByteArray> enc = uuenview("-u", "setup.exe", exe, 300);
    ASSERT_GE(enc.size(), 2) << "a multi-part post";
    const int it = r.item("setup.exe", enc, 300);
    r.cachePart(it, 1, header("<s1@x>") + enc[0]);
    r.prompter.setAnswer(false);
    EXPECT_EQ(r.preview.StartPreview(it), Previewer::Started::Opened);
    ASSERT_EQ(r.prompter.questions.size(), 1);
    const QString path = r.previewPath("setup.exe");
    EXPECT_EQ(r.prompter.questions[0], "Filename:" + path + " indicates possibly dangerous file, launch preview anyway?");
    EXPECT_TRUE(r.opened.isEmpty()) << "No leaves it unopened";
    const QByteArray first = readFile(path);
    ASSERT_GT(first.size(), 10000) << "part 1 decoded as far as it goes";
    EXPECT_TRUE(exe.startsWith(first.left(10000)));

    // The second preview deletes the first file before decoding into the same name.
    ASSERT_TRUE(writeFile(path, "stale"));
    r.prompter.setAnswer(true);
    EXPECT_EQ(r.preview.StartPreview(it), Previewer::Started::Opened);
    EXPECT_EQ(r.opened, QStringList{path});
    EXPECT_EQ(readFile(path), first);
    EXPECT_EQ(QDir(r.core.settings.Cache_Path + "previews").entryList(QDir::Files).size(), 1);
}

TEST(Preview, FetchesThePartIntoTheCacheThenOpens)
{
    PreviewRig r;
    const QByteArray file = bytes(6000, 4);
    const QList<QByteArray> parts = {yencPart(file, 1, 3000, 1, 2, "song.mp3"), yencPart(file, 3001, 6000, 2, 2, "song.mp3")};
    ASSERT_TRUE(writeFile(r.arts.path() + "/900.art", header("<song.mp3.1@x>") + parts[0]));
    r.serve({"--segment"});
    const int it = r.item("song.mp3", parts, 900);
    int finished = 0;
    QObject::connect(&r.preview, &Previewer::fetchFinished, [&] { ++finished; });
    EXPECT_EQ(r.preview.StartPreview(it), Previewer::Started::Fetching);
    EXPECT_EQ(r.preview.viewTitle, "song.mp3 (1/2)");
    ASSERT_TRUE(waitFor([&] { return !r.opened.isEmpty(); }, 5000)) << r.preview.statusText().toStdString();
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(readFile(r.opened[0]), file.left(3000));
    const QString cached = r.cache.PartCacheFile(it, 1);
    EXPECT_EQ(readFile(cached), header("<song.mp3.1@x>") + parts[0] + "\r\n") << "stored as the download stores it";
    EXPECT_EQ(r.count("File saved: " + cached), 1);
    ASSERT_TRUE(r.server->waitForCommand(1, "QUIT"));
    EXPECT_EQ(r.server->commandsOf(1), QStringList({"GROUP alt.test", "ARTICLE <song.mp3.1@x>", "QUIT"}));
}

TEST(Preview, ExpiredAndEmptyArticlesCacheNothing)
{
    PreviewRig r;
    r.serve({"--fault", "ARTICLE=430"});
    const int gone = r.item("gone", {bytes(500, 5), bytes(500, 6)}, 950);
    EXPECT_EQ(r.preview.StartPreview(gone), Previewer::Started::Fetching);
    ASSERT_TRUE(waitFor([&] { return r.preview.statusText() == "Article has expired!  "; }, 5000))
        << r.preview.statusText().toStdString();
    ASSERT_TRUE(waitFor([&] { return r.server->commands().contains("1 ARTICLE 950"); }));
    EXPECT_FALSE(QFileInfo::exists(r.cache.PartCacheFile(gone, 1)));
    r.preview.closed();

    ASSERT_TRUE(writeFile(r.arts.path() + "/901.art", ""));
    r.serve();
    const int empty = r.item("empty", {bytes(500, 7), bytes(500, 8)}, 901);
    r.store.setTexts(r.store.item(empty).parts[0], r.store.item(empty).parts[0].subjectTail(), "<empty@x>");
    EXPECT_EQ(r.preview.StartPreview(empty), Previewer::Started::Fetching);
    ASSERT_TRUE(waitFor([&] { return r.count("PreviewMP3: Error, no data for preview.") == 1; }, 5000))
        << r.preview.statusText().toStdString();
    EXPECT_FALSE(QFileInfo::exists(r.cache.PartCacheFile(empty, 1)));
    EXPECT_TRUE(r.opened.isEmpty());

    r.core.settings.News_Host.clear();
    EXPECT_EQ(r.preview.StartPreview(empty), Previewer::Started::Nothing);
    EXPECT_TRUE(r.prompter.messages.last().startsWith("Enter News Server name"));
}
