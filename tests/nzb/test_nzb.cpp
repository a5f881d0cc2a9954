// NZB files: reading (with hostile files), writing, the round trip through the header
// store, and a download of imported posts from the test server.
#include "DownloadRig.h"
#include "Posts.h"
#include "nzb/NzbImport.h"
#include "headers/HeaderFile.h"
#include "headers/SubjectParser.h"
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace vt;
using namespace vt::test;

namespace {

const char *kNzbHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                       "<!DOCTYPE nzb PUBLIC \"-//newzBin//DTD NZB 1.1//EN\" \"http://www.newzbin.com/DTD/nzb/nzb-1.1.dtd\">\n";

QByteArray nzbWith(const QByteArray &segments, const QByteArray &prolog = kNzbHead)
{
    return prolog + "<nzb xmlns=\"http://www.newzbin.com/DTD/2003/nzb\">\n"
                    "<head><meta type=\"title\">A &amp; B</meta><meta type=\"password\">pw</meta></head>\n"
                    "<file poster=\"Ann &lt;ann@x&gt;\" date=\"1071674882\" subject=\"Here &quot;a.bin&quot; yEnc (1/3)\">\n"
                    "<groups><group>alt.binaries.one</group><group>alt.binaries.two</group></groups>\n"
                    "<segments>"
           + segments + "</segments></file></nzb>\n";
}

} // namespace

TEST(Nzb, ReadsTheLayoutAndRefusesHostileFiles)
{
    // The layout: meta, groups, segments sorted by number; bad segments left out, counted.
    const NzbParse p = parseNzb(nzbWith("<segment bytes=\"300\" number=\"3\">c@x</segment>\n"
                                        "<segment bytes=\"100\" number=\"1\">&lt;a@x&gt;</segment>\n"
                                        "<segment bytes=\"200\" number=\"2\">b@x</segment>\n"
                                        "<segment bytes=\"200\" number=\"2\">again@x</segment>\n"
                                        "<segment bytes=\"1\" number=\"0\">zero@x</segment>\n"
                                        "<segment bytes=\"1\" number=\"x\">nan@x</segment>\n"
                                        "<segment bytes=\"1\" number=\"4\">has space@x</segment>\n"
                                        "<segment bytes=\"1\" number=\"5\">a&gt;b@x</segment>\n"
                                        "<segment bytes=\"-5\" number=\"6\">neg@x</segment>\n"
                                        "<segment bytes=\"1\" number=\"7\"></segment>\n"));
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    ASSERT_EQ(p.doc.files.size(), 1u);
    const NzbFileEntry &f = p.doc.files[0];
    EXPECT_EQ(f.poster, "Ann <ann@x>");
    EXPECT_EQ(f.subject, "Here \"a.bin\" yEnc (1/3)");
    EXPECT_EQ(f.date, 1071674882);
    EXPECT_EQ(f.groups, QStringList({"alt.binaries.one", "alt.binaries.two"}));
    ASSERT_EQ(f.segments.size(), 3u);
    EXPECT_EQ(f.segments[0].messageId, "a@x");
    EXPECT_EQ(f.segments[1].messageId, "b@x");
    EXPECT_EQ(f.segments[2].bytes, 300);
    EXPECT_EQ(p.segmentsDropped, 7);
    EXPECT_EQ(p.droppedText(), "7 segment(s) left out: 2 with a missing or bad number, 1 with a blank or a non-ASCII byte in a "
                               "message-id, 1 with a bracket inside a message-id, 1 with a bad byte count, 1 with an empty "
                               "message-id, 1 with a number given twice");
    EXPECT_EQ(p.doc.meta.size(), 2u);
    EXPECT_EQ(p.doc.meta[0].second, "A & B");

    // Hostile and broken files: refused whole, with a message that says why.
    struct Case {
        QByteArray data;
        NzbLimits limits;
        const char *says;
    };
    const QByteArray seg = "<segment bytes=\"1\" number=\"1\">a@x</segment>";
    QByteArray many;
    for (int i = 1; i <= 11; ++i) many += "<segment bytes=\"1\" number=\"" + QByteArray::number(i) + "\">s" + QByteArray::number(i) + "@x</segment>";
    const Case cases[] = {
        {nzbWith(seg, "<?xml version=\"1.0\"?><!DOCTYPE nzb [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]>"), {},
         "declares entities"},
        {nzbWith(seg, "<?xml version=\"1.0\"?><!DOCTYPE nzb [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"), {}, "declares entities"},
        {nzbWith("<segment bytes=\"1\" number=\"1\">&x;</segment>"), {}, "no usable file"},
        {nzbWith(seg).left(200), {}, "damaged"},
        {"<html><body>not this</body></html>", {}, "not an NZB"},
        {"", {}, "damaged"},
        {nzbWith("<segment bytes=\"1\" number=\"0\">a@x</segment>"), {}, "no usable file (1 segment(s) left out: 1 with a missing or bad number)"},
        {nzbWith("<segment bytes=\"1\" number=\"1\">caf\xc3\xa9@x</segment><segment bytes=\"1\" number=\"2\">a b@x</segment>"), {},
         "no usable file (2 segment(s) left out: 2 with a blank or a non-ASCII byte in a message-id)"},
        {nzbWith(seg), NzbLimits{100, 10, 10}, "larger than"},
        {nzbWith(many), NzbLimits{1 << 20, 10, 100}, "more than 10 segments"},
    };
    for (const Case &c : cases) {
        const NzbParse r = parseNzb(c.data, c.limits);
        EXPECT_FALSE(r.ok) << c.says;
        EXPECT_TRUE(r.error.contains(QLatin1String(c.says))) << c.says << ": " << r.error.toStdString();
        EXPECT_TRUE(r.doc.files.empty());
    }
    // Texts stay on one line and groups go to the server as they are: a line break in a
    // subject, a blank or a command in a group name do not get through.
    QByteArray sneaky = nzbWith(seg);
    sneaky.replace("Here &quot;", "Here&#10;QUIT&#13; &quot;").replace("<group>alt.binaries.two</group>", "<group>a.b&#13;&#10;QUIT</group><group>a b</group><group>../x</group>");
    const NzbParse sn = parseNzb(sneaky);
    ASSERT_TRUE(sn.ok) << sn.error.toStdString();
    EXPECT_EQ(sn.doc.files[0].subject, "Here QUIT  \"a.bin\" yEnc (1/3)");
    EXPECT_EQ(sn.doc.files[0].groups, QStringList{"alt.binaries.one"});
    // A segment number beyond what one item holds is a bad segment, not a huge item.
    EXPECT_EQ(parseNzb(nzbWith("<segment bytes=\"1\" number=\"40000\">a@x</segment>" + seg)).doc.files[0].segments.size(), 1u);
}

TEST(Nzb, ExportAndImportGiveTheSameItemsInTheNzbOrder)
{
    StoreRig a;
    a.groups.addGroup("alt.binaries.one");
    const quint8 key = quint8(a.groups.rowKey(1));
    // Scanned items: two data files, the par2 index and two volumes, parts out of order.
    const char *names[] = {"set.vol00+01.par2", "data.r00", "set.par2", "data.rar", "set.vol01+02.par2"};
    qint32 n = 100;
    for (const char *nm : names)
        for (int k : {2, 1}) {
            const QByteArray subj = QByteArray("post \"") + nm + "\" yEnc (" + QByteArray::number(k) + "/2)";
            const ParsedSubject ps = parseSubject(subj);
            a.store.maketree(ps.name, ps.fullSubject, n, ps.total, QByteArray::number(1000 + n), key, "Bob <b@x>",
                             "Tue, 14 Nov 2023 22:13:20 +0000", "<m" + QByteArray::number(n) + "@x>");
            ++n;
        }
    ASSERT_EQ(a.store.itemCount(), 5);
    std::vector<int> all{1, 2, 3, 4, 5};
    NzbCatalog none;
    const NzbDocument doc = exportNzb(a.store, &a.groups, none, all);
    QString err;
    const QString path = a.dir.path() + "/out.nzb";
    ASSERT_TRUE(writeNzbFile(path, doc, &err)) << err.toStdString();

    StoreRig b;
    NzbCatalog cat;
    const NzbImport r = importNzbFile(path, b.store, b.batch, cat);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.segments, 10);
    // Data first, then the index; the volumes are in the store but wait outside the batch.
    ASSERT_EQ(b.batch.batchRows(), 3);
    auto fileOf = [&](int item) { return fileNameInSubject(b.store.item(item).prefix() + b.store.item(item).parts[0].subjectTail()); };
    EXPECT_EQ(fileOf(b.batch.tagAt(0)), "data.r00");
    EXPECT_EQ(fileOf(b.batch.tagAt(1)), "data.rar");
    EXPECT_EQ(fileOf(b.batch.tagAt(2)), "set.par2");
    ASSERT_EQ(b.store.itemCount(), 5);
    for (int i = 1; i <= 5; ++i) {
        const HeaderItem &x = b.store.item(i);
        const int src = a.store.FindHash(x.subject, x.poster);
        ASSERT_GT(src, 0) << x.subject.toStdString();
        const HeaderItem &y = a.store.item(src);
        EXPECT_EQ(x.postDate, y.postDate);
        ASSERT_EQ(x.parts.size(), 2u);
        // The scan kept the parts in arrival order (2, 1); the NZB lists them by number.
        for (size_t k = 0; k < 2; ++k) {
            EXPECT_EQ(x.parts[k].messageId(), y.parts[1 - k].messageId());
            EXPECT_EQ(x.parts[k].byteCount, y.parts[1 - k].byteCount);
            EXPECT_EQ(x.parts[k].groupKey(), kNzbGroupKey);
            EXPECT_EQ(x.prefix() + x.parts[k].subjectTail(), y.prefix() + y.parts[1 - k].subjectTail());
        }
        ASSERT_NE(cat.originOf(x), nullptr);
        EXPECT_EQ(cat.originOf(x)->groups, QStringList{"alt.binaries.one"});
        EXPECT_EQ(cat.originOf(x)->nzbName, "out.nzb");
    }
    // Imported items export to the same file; importing it again doubles nothing, packed as
    // index sites hand them out (gzip) or not.
    EXPECT_EQ(writeNzb(exportNzb(b.store, &b.groups, cat, b.batch.batchItems())),
              writeNzb(exportNzb(a.store, &a.groups, none, {2, 4, 3})));
    EXPECT_EQ(importNzbFile(path, b.store, b.batch, cat).items.size(), 5u);
    QProcess gz;
    gz.start("gzip", {"-k", path});
    ASSERT_TRUE(gz.waitForFinished() && gz.exitCode() == 0);
    const NzbImport packed = importNzbFile(path + ".gz", b.store, b.batch, cat);
    EXPECT_TRUE(packed.message.contains("(5 already in the header list)")) << packed.message.toStdString();
    EXPECT_EQ(b.store.itemCount(), 5);
    // A packed file is held to the limits unpacked; a cut one is refused.
    const QByteArray whole = readFile(path + ".gz");
    EXPECT_TRUE(importNzbFile(path + ".gz", b.store, b.batch, cat, NzbLimits{1000, 10, 10}).message.contains("unpacks to more than"));
    writeFile(path + ".gz", whole.left(whole.size() / 2));
    EXPECT_TRUE(importNzbFile(path + ".gz", b.store, b.batch, cat).message.endsWith("packed but damaged (gzip)."));

    // Imported items and their batch rows outlive a restart like scanned ones.
    HeaderFile saved(b.store, b.core.log, b.prompter);
    ASSERT_TRUE(saved.SaveHeaders(b.dir.path() + "/npending.dat", &b.batch));
    StoreRig c;
    HeaderFile loaded(c.store, c.core.log, c.prompter);
    ASSERT_TRUE(loaded.LoadHeaders(b.dir.path() + "/npending.dat", &c.batch));
    ASSERT_EQ(c.store.itemCount(), 5);
    EXPECT_EQ(c.batch.batchItems(), b.batch.batchItems());
    EXPECT_EQ(c.store.item(2).parts[1].messageId(), b.store.item(2).parts[1].messageId());
    EXPECT_EQ(c.store.item(2).parts[1].groupKey(), kNzbGroupKey);

    // The origins outlive a restart (kept by message-id) and go with their items.
    const QString catPath = b.dir.path() + "/nzb.dat";
    ASSERT_TRUE(cat.save(catPath));
    NzbCatalog again;
    ASSERT_TRUE(again.load(catPath));
    EXPECT_EQ(again.size(), 5);
    EXPECT_GT(again.takeNumbers(1), cat.takeNumbers(0) - 1);
    b.store.item(1).deleted = true;
    again.prune(b.store);
    EXPECT_EQ(again.size(), 4);
    EXPECT_EQ(again.originOf(b.store.item(2))->groups, QStringList{"alt.binaries.one"});
    // Two posts whose first segments share a message-id are two items.
    StoreRig t;
    NzbDocument twins;
    for (const char *second : {"t2@x", "u2@x"}) {
        NzbFileEntry f;
        f.subject = QByteArray("twin \"") + second + ".bin\" yEnc (1/2)";
        f.poster = "Bob <b@x>";
        f.segments = {{10, 1, "t1@x"}, {10, 2, second}};
        twins.files.push_back(f);
    }
    const NzbImport tw = importNzbDocument(twins, "twins {{s3 cr\tet}}.nzb", t.store, t.batch, cat);
    EXPECT_EQ(tw.message, "Imported twins {{s3 cr\tet}}.nzb: 2 file(s), 4 segment(s), 2 queued");
    EXPECT_EQ(t.store.itemCount(), 2);
    // The archives' password: "{{...}}" in the NZB's name, unless the NZB names one; kept
    // in nzb.dat.
    ASSERT_NE(cat.originOf(t.store.item(1)), nullptr);
    EXPECT_EQ(cat.originOf(t.store.item(1))->password, "s3 cr\tet");
    ASSERT_TRUE(cat.save(t.dir.path() + "/nzb.dat"));
    NzbCatalog kept;
    ASSERT_TRUE(kept.load(t.dir.path() + "/nzb.dat"));
    EXPECT_EQ(kept.originOf(t.store.item(2))->password, "s3 cr\tet");
    twins.meta.emplace_back("password", "own");
    for (NzbFileEntry &f : twins.files) f.segments[0].messageId = "m" + f.segments[0].messageId;
    importNzbDocument(twins, "twins {{s3cret}}.nzb", t.store, t.batch, cat);
    EXPECT_EQ(cat.originOf(t.store.item(3))->password, "own");
}

TEST(Nzb, DownloadsImportedPostsAcrossTheListedGroups)
{
    // Three posts on the server: one in the first listed group, one whose second segment
    // is only in the second group (the server scopes message-ids by group), and one with
    // a segment that no group has.
    QTemporaryDir one, two;
    const QByteArray d1 = randomBytes(200000, 1), d2 = randomBytes(150000, 2), d3 = randomBytes(120000, 3);
    NzbDocument doc;
    doc.files.push_back(writeYencPost(one.path(), "first.bin", d1, 60000, 1, "alt.binaries.one"));
    doc.files.push_back(writeYencPost(one.path(), "second.bin", d2, 60000, 10, "alt.binaries.one"));
    QFile::rename(one.path() + "/11.art", two.path() + "/11.art");
    doc.files[1].groups << "alt.binaries.missing" << "alt.binaries.two";
    doc.files.push_back(writeYencPost(one.path(), "third.bin", d3, 50000, 20, "alt.binaries.one"));
    QFile::remove(one.path() + "/21.art");
    TestServer server({"--group", "alt.binaries.one:30:0", "--group", "alt.binaries.two:30:0", "--article-dir", one.path(),
                       "--article-dir", two.path() + "@alt.binaries.two", "--scoped-ids", "--segment"});
    DownloadRig r(server.port());
    const QString nzbPath = r.dir.path() + "/posts.nzb";
    ASSERT_TRUE(writeNzbFile(nzbPath, doc, nullptr));
    const NzbImport im = importNzbFile(nzbPath, r.store, r.batch, r.nzb);
    ASSERT_TRUE(im.ok) << im.message.toStdString();
    ASSERT_EQ(r.batch.batchRows(), 3);

    ASSERT_TRUE(r.download(30000)) << r.logged.join('\n').toStdString();
    EXPECT_EQ(readFile(r.core.settings.Download_Path + "first.bin"), d1) << r.logged.join(QLatin1Char(10)).toStdString();
    EXPECT_EQ(readFile(r.core.settings.Download_Path + "second.bin"), d2);
    // The post with a hole decodes what came, in place, and says what is missing.
    const QByteArray got3 = readFile(r.core.settings.Download_Path + "third.bin");
    ASSERT_GE(got3.size(), 100000);
    EXPECT_EQ(got3.left(50000), d3.left(50000));
    EXPECT_EQ(got3.mid(100000), d3.mid(100000));
    EXPECT_EQ(r.count("Segment 2 not on the server, left for repair"), 1) << r.logged.join('\n').toStdString();
    ASSERT_EQ(r.processed.rowCount(), 3);
    // Items decode in the order their last parts come in.
    for (const ProcessedEntry &e : r.processed.entries()) {
        const bool third = e.fileName.endsWith("third.bin");
        EXPECT_EQ(e.ok, !third) << e.fileName.toStdString();
        if (third) EXPECT_TRUE(e.status.contains("missing")) << e.status.toStdString();
    }
    EXPECT_EQ(r.batch.batchRows(), 0);
    // Nothing of them is left in the cache, markers included.
    EXPECT_TRUE(filesIn(r.core.settings.Cache_Path).isEmpty()) << filesIn(r.core.settings.Cache_Path).join(' ').toStdString();

    // What was asked: each segment by message-id, the second group only for the part not in
    // the first, and the group the server does not carry once.
    const QStringList cmds = server.commands();
    EXPECT_EQ(cmds.filter("ARTICLE <second.bin.part2@post.test>").size(), 2);
    EXPECT_EQ(cmds.filter("GROUP alt.binaries.two").size(), 1);
    EXPECT_EQ(cmds.filter("GROUP alt.binaries.missing").size(), 1);
    EXPECT_EQ(cmds.filter(QRegularExpression("ARTICLE [0-9]")).size(), 0);
}
