// The host group list: the LIST download streamed to HOSTGRPS.TXT against the test server,
// the two searches with their skipping, abort, and adding the chosen groups.
#include "Posts.h"
#include "TestSupport.h"
#include "groups/HostGroupList.h"
#include "nntp/Session.h"
#include <QFile>
#include <gtest/gtest.h>

using namespace vt;
using namespace vt::test;

namespace {

const QStringList kLines = {"alt.binaries.pictures 500 1 y", "alt.binaries.sounds 100099 99 y",
                            "comp.alt.binaries.talk 20 10 y", "Alt.Binaries.Caps 5 1 y", "alt.empty 0 1 y"};

struct HostRig : StoreRig {
    std::unique_ptr<TestServer> server;
    HostGroupList &list = engine.hostGroups;
    QStringList statuses;
    int largestHeld = 0;

    HostRig()
    {
        QObject::connect(&list, &HostGroupList::statusChanged, [this](const QString &t, int panel, bool) {
            if (panel == 0) statuses << t;
            if (t.startsWith("Download in progress")) largestHeld = std::max(largestHeld, int(list.hostGroupText.size()));
        });
    }
    void serve(int extra, QStringList more = {})
    {
        QStringList args{"--group", "alt.test:10:5", "--list-extra", QString::number(extra)};
        for (const QString &l : kLines) args << "--list-line" << l;
        server = std::make_unique<TestServer>(args + more);
        core.settings.News_Host = "127.0.0.1";
        core.settings.News_Port = QString::number(server->port());
    }
    bool downloadAndWait()
    {
        if (!list.download()) return false;
        return waitFor([&] { return !list.downloading(); }, 20000);
    }
    QStringList names() const
    {
        QStringList out;
        for (int r = 0; r < list.results.rowCount(); ++r) out << list.results.row(r).name;
        return out;
    }
    // What the search must find, line by line without skipping.
    QStringList expected(const QString &q, bool starts) const
    {
        QStringList out;
        for (const QByteArray &l : list.hostGroupText.split('\r')) {
            QByteArray t = l.startsWith('\n') ? l.mid(1).trimmed() : l.trimmed();
            if (t.isEmpty() || t == "." || t.startsWith("215 ")) continue;
            const qsizetype sp = t.indexOf(' ');
            const QString cand = QString::fromLatin1(sp < 0 ? t : t.left(sp + 1));
            if (starts ? cand.startsWith(q) : cand.contains(q)) out << QString::fromLatin1(t.left(sp));
        }
        return out;
    }
};

} // namespace

TEST(HostGroups, DownloadStreamsTheListToTheFile)
{
    HostRig r;
    r.serve(6000, {"--segment"});
    ASSERT_TRUE(writeFile(r.list.filePath(), "old list\r\n"));
    r.prompter.setAnswer(false);
    EXPECT_FALSE(r.list.download()) << "No to the question";
    ASSERT_EQ(r.prompter.questions.size(), 1);
    EXPECT_EQ(r.prompter.questions[0], "Ok to delete existing HOSTGRPS.TXT? \r\n Answer no to abort if you want to back up the file first.");
    settle();
    EXPECT_TRUE(r.list.conn.isClosed()) << "no connection made";
    EXPECT_TRUE(r.server->commands().isEmpty());
    EXPECT_EQ(readFile(r.list.filePath()), "old list\r\n");

    r.prompter.setAnswer(true);
    ASSERT_TRUE(r.downloadAndWait()) << r.list.statusText(0).toStdString();
    const QByteArray file = readFile(r.list.filePath());
    EXPECT_TRUE(file.startsWith("215 ")) << "the reply exactly as received";
    EXPECT_TRUE(file.endsWith("\r\nalt.binaries.synth.17.group5999 6999 1 y\r\n.\r\n"));
    EXPECT_FALSE(file.contains("old list"));
    EXPECT_EQ(file.count("\r\n"), 1 + 1 + 5 + 6000 + 1);
    for (const QString &l : kLines) EXPECT_TRUE(file.contains("\r\n" + l.toLatin1() + "\r\n"));
    EXPECT_GT(r.statuses.filter("Download in progress...  ").size(), 3) << "written in pieces as it arrived";
    EXPECT_LT(r.largestHeld, file.size() / 2) << "the text in memory stays small during the transfer";
    const QString kb = HostGroupList::kbText(file.size(), false);
    EXPECT_TRUE(r.statuses.contains("Download complete!  HOSTGRPS.TXT (" + kb + " Kb) Saved and ready."));
    EXPECT_EQ(r.count("Groups download complete: HOSTGRPS.TXT (" + kb + " Kb) Saved and ready."), 1);
    EXPECT_TRUE(r.list.hostGroupsReady);
    EXPECT_TRUE(r.list.searchable());
    EXPECT_EQ(r.list.statusText(0), "HOSTGRPS.TXT ready; " + HostGroupList::kbText(file.size(), true) + " kb ");
    EXPECT_EQ(r.list.hostGroupText, file) << "loaded after the download";
    ASSERT_TRUE(r.server->waitForCommand(1, "QUIT"));
    EXPECT_EQ(r.server->commandsOf(1), QStringList({"LIST", "QUIT"}));

    EXPECT_EQ(HostGroupList::kbText(0, false), "0");
    EXPECT_EQ(HostGroupList::kbText(1536, true), "1.5");
    EXPECT_EQ(HostGroupList::kbText(55000000, false), "53,711");
    EXPECT_EQ(HostGroupList::kbText(55000000, true), "53,710.9");
}

TEST(HostGroups, BothSearchTypesCaseAndTotals)
{
    HostRig r;
    r.serve(3000);
    ASSERT_TRUE(r.downloadAndWait());
    auto run = [&](const QString &q, HostGroupList::SearchType t) {
        r.list.search(q, t);
        EXPECT_TRUE(waitFor([&] { return !r.list.searching(); }));
        return r.names();
    };
    const QStringList tree = run("alt.binaries.", HostGroupList::StartsWith);
    EXPECT_EQ(tree.size(), 3000 + 2);
    EXPECT_TRUE(tree.contains("alt.binaries.pictures"));
    EXPECT_FALSE(tree.contains("comp.alt.binaries.talk")) << "contains the text but does not start with it";
    EXPECT_EQ(tree, r.expected("alt.binaries.", true));
    EXPECT_TRUE(r.list.statusText(0).startsWith("Done! (3002 matching groups found)  Time: Less than 1 second"))
        << r.list.statusText(0).toStdString();

    const QStringList anywhere = run("alt.binaries.", HostGroupList::Contains);
    EXPECT_EQ(anywhere.size(), 3000 + 3);
    EXPECT_TRUE(anywhere.contains("comp.alt.binaries.talk"));
    EXPECT_TRUE(run("ALT.BINARIES.", HostGroupList::Contains).isEmpty()) << "letter case counts";
    EXPECT_EQ(run("Alt.Binaries.", HostGroupList::StartsWith), QStringList{"Alt.Binaries.Caps"});
    EXPECT_EQ(run("1 y", HostGroupList::Contains), QStringList()) << "only the name is searched";
    for (const char *q : {"group12", "synth.99.", "group2999", "pict", "talk", "p"}) {
        EXPECT_EQ(run(q, HostGroupList::Contains), r.expected(q, false)) << q;
        EXPECT_EQ(run(q, HostGroupList::StartsWith), r.expected(q, true)) << q;
    }
    EXPECT_EQ(run(".", HostGroupList::Contains).size(), 3000 + 5 + 1) << "every group, but not the status line or the end";

    run("alt.", HostGroupList::StartsWith);
    auto rowNamed = [&](const QString &n) {
        for (int i = 0; i < r.list.results.rowCount(); ++i)
            if (r.list.results.row(i).name == n) return r.list.results.row(i);
        return HostGroupResults::Row{};
    };
    const HostGroupResults::Row pics = rowNamed("alt.binaries.pictures");
    EXPECT_EQ(pics.total, "00499");
    EXPECT_EQ(pics.first, "1");
    EXPECT_EQ(pics.last, "500");
    EXPECT_EQ(rowNamed("alt.binaries.sounds").total, " ? ") << "a difference of 100000";
    EXPECT_EQ(rowNamed("alt.empty").total, " ? ") << "a difference of -1";
    EXPECT_EQ(r.list.results.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Total (est.)");

    r.list.search("", HostGroupList::Contains);
    EXPECT_TRUE(r.prompter.messages.last().startsWith("Enter some text and press search to find groups.\r\n"));

    // Adding: the selected rows, once each.
    run("alt.binaries.p", HostGroupList::StartsWith);
    ASSERT_EQ(r.list.results.rowCount(), 1);
    r.list.add({0});
    r.list.add({0});
    EXPECT_EQ(r.groups.rows(), 1);
    EXPECT_EQ(r.groups.nameByKey(r.groups.rowKey(1)), "alt.binaries.pictures");
    r.list.add({});
    EXPECT_EQ(r.prompter.messages.last(), "Error, no group(s) selected.");
}

TEST(HostGroups, PressingSearchAgainAborts)
{
    HostRig r;
    QByteArray text = "215 list\r\n";
    for (int i = 0; i < 300000; ++i) text += "alt.abort.group" + QByteArray::number(i) + " 10 1 y\r\n";
    text += ".\r\n";
    ASSERT_TRUE(writeFile(r.list.filePath(), text));
    r.list.Preload_groups();
    ASSERT_TRUE(r.list.searchable());
    // The button again while it runs, once the first results show.
    r.list.search("alt.abort", HostGroupList::Contains);
    EXPECT_TRUE(r.list.searching());
    ASSERT_TRUE(waitFor([&] { return r.list.results.rowCount() > 0 || !r.list.searching(); }));
    ASSERT_TRUE(r.list.searching()) << "the search returns to the event loop before its end";
    r.list.search("alt.abort", HostGroupList::Contains);
    ASSERT_TRUE(waitFor([&] { return !r.list.searching(); }));
    const int atPress = r.list.matches();
    EXPECT_TRUE(r.list.statusText(0).startsWith("Search Aborted. (" + QString::number(atPress) + " matching groups found)"))
        << r.list.statusText(0).toStdString();
    EXPECT_LT(atPress, 300000);
    EXPECT_GT(r.list.yields(), 1);
    EXPECT_EQ(r.list.results.rowCount(), atPress);
    EXPECT_FALSE(r.list.searching());

    // The list loaded again while a search runs: the search ends with the old list, and
    // its rows go with it; a search of the new list finds what is in it.
    r.list.search("alt.abort", HostGroupList::Contains);
    ASSERT_TRUE(waitFor([&] { return r.list.results.rowCount() > 0 || !r.list.searching(); }));
    ASSERT_TRUE(r.list.searching());
    ASSERT_TRUE(writeFile(r.list.filePath(), "215 list\r\nalt.abort.other 5 1 y\r\nalt.else 5 1 y\r\n.\r\n"));
    r.list.Preload_groups();
    EXPECT_FALSE(r.list.searching());
    settle();
    EXPECT_EQ(r.list.results.rowCount(), 0);
    EXPECT_EQ(r.list.matches(), 0);
    EXPECT_TRUE(r.list.statusText(0).startsWith("HOSTGRPS.TXT ready")) << r.list.statusText(0).toStdString();
    r.list.search("alt.abort", HostGroupList::Contains);
    ASSERT_TRUE(waitFor([&] { return !r.list.searching(); }));
    EXPECT_EQ(r.list.results.rowCount(), 1);
}

TEST(HostGroups, RefusalsAndNoServer)
{
    HostRig r;
    r.serve(10, {"--fault", "LIST=502"});
    ASSERT_TRUE(r.downloadAndWait());
    EXPECT_EQ(r.list.statusText(0), "Authentication Error.  Check Username/Password...");
    EXPECT_FALSE(r.list.hostGroupsReady);

    r.serve(10, {"--fault", "LIST=481"});
    ASSERT_TRUE(r.downloadAndWait());
    EXPECT_EQ(r.list.statusText(0), "481") << r.statuses.join("|").toStdString();
    EXPECT_FALSE(QFile::exists(r.list.filePath()) && readFile(r.list.filePath()).contains("481"))
        << "a refusal is not list data";

    ASSERT_TRUE(writeFile(r.list.filePath(), "kept\r\n"));
    r.core.settings.News_Host.clear();
    const int asked = int(r.prompter.questions.size());
    EXPECT_FALSE(r.list.download());
    EXPECT_TRUE(r.prompter.messages.last().startsWith("Enter News Server name"));
    EXPECT_EQ(int(r.prompter.questions.size()), asked) << "nothing to replace it with: no question";
    EXPECT_EQ(readFile(r.list.filePath()), "kept\r\n");
}
