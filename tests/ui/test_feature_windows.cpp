// The windows of the feature connections, driven by their controls against the test
// server: the header list's double click and preview entries, the host group list, and
// the setup assistant.
#include "AppRig.h"
#include "Posts.h"
#include "TestSupport.h"
#include "download/PartCache.h"
#include "headers/HeaderListModel.h"
#include "headers/HeaderStore.h"
#include "ui/MainWindow.h"
#include "ui/HostGroupsWindow.h"
#include "ui/SetupWindow.h"
#include "ui/FolderDialog.h"
#include "ui/LoginDialog.h"
#include "ui/ExitDialog.h"
#include "setup/SetupAssistant.h"
#include <QDir>
#include "ui/AddGroupDialog.h"
#include "ui/OptionsDialog.h"
#include "groups/HostGroupList.h"
#include <QApplication>
#include <QTimer>
#include "ui/ViewerWindow.h"
#include "viewers/Preview.h"
#include <QTest>
#include <gtest/gtest.h>

namespace {

QByteArray head(const QByteArray &id) { return "From: Ann <ann@example>\r\nSubject: post\r\nMessage-ID: " + id + "\r\n\r\n"; }

// Double-clicks the list row whose first cell starts with `name`.
void doubleClickRow(QTableView *v, const QString &name)
{
    QAbstractItemModel *m = v->model();
    for (int r = 0; r < m->rowCount(); ++r) {
        if (!m->index(r, 0).data().toString().startsWith(name)) continue;
        const QPoint at = v->visualRect(m->index(r, 0)).center();
        QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(v->viewport(), Qt::LeftButton, {}, at);
        return;
    }
    ADD_FAILURE() << "no row " << name.toStdString();
}

int rowOf(QTableView *v, const QString &name)
{
    for (int r = 0; r < v->model()->rowCount(); ++r)
        if (v->model()->index(r, 0).data().toString().startsWith(name)) return r;
    return -1;
}

} // namespace

TEST(HeaderList, DoubleClickAndPreviewFromTheWindow)
{
    QTemporaryDir arts;
    const QByteArray song(5000, 'S');
    const QByteArray part1 = test::yencPart(song, 1, 2500, 1, 2, "song.mp3");
    ASSERT_TRUE(test::writeFile(arts.path() + "/800.art", head("<song1@x>") + part1));
    ASSERT_TRUE(test::writeFile(arts.path() + "/810.art", head("<nfo@x>") + "Release notes in plain text\r\n"));
    test::TestServer server({"--group", "alt.test:800:0", "--article-dir", arts.path()});
    App a("[Options]\r\nDownload_Path=DL\r\nNews_Host=127.0.0.1\r\nNews_Port=" + QByteArray::number(server.port()) + "\r\n", {}, true);
    a.app->core().sounds.setBackend([](const QString &) {});
    a.app->start();
    a.app->core().settings.Cache_Path = a.dir.path() + "/cache/";
    QStringList opened;
    a.app->decoder().RunAssociated = [&](const QString &p) {
        opened << p;
        return true;
    };
    MainWindow &w = *a.app->mainWindow();
    a.app->groups().addGroup("alt.test");
    const quint8 key = quint8(a.app->groups().rowKey(1));
    HeaderStore &st = a.app->store();
    st.maketree("song.mp3 [xx/0000002]", "song.mp3 (1/2)", 800, "2", QByteArray::number(part1.size()), key, "ann@x", "", "<song1@x>");
    st.maketree("song.mp3 [xx/0000002]", "song.mp3 (2/2)", 801, "2", "2600", key, "ann@x", "", "<song2@x>");
    st.maketree("readme.nfo [xx/0000001]", "readme.nfo (1/1)", 810, "1", "40", key, "ann@x", "", "<nfo@x>");
    st.maketree("archive.rar [xx/0000002]", "archive.rar (1/2)", 820, "2", "3000", key, "ann@x", "", "<rar1@x>");
    st.maketree("archive.rar [xx/0000002]", "archive.rar (2/2)", 821, "2", "3000", key, "ann@x", "", "<rar2@x>");
    a.app->headerView().ViewRefresh(false);
    ASSERT_EQ(child<QTableView>(w, "ListView2")->model()->rowCount(), 3);

    // .MP3: the preview fetches part 1 in its window, which closes, and opens the file.
    doubleClickRow(child<QTableView>(w, "ListView2"), "song.mp3");
    PreviewWindow &pw = *a.app->previewWindow();
    ASSERT_TRUE(pw.isVisible());
    EXPECT_EQ(pw.Label2->text(), "song.mp3 (1/2)");
    ASSERT_TRUE(test::waitFor([&] { return !opened.isEmpty(); }, 10000)) << pw.Label1->text().toStdString();
    EXPECT_FALSE(pw.isVisible());
    EXPECT_TRUE(opened[0].endsWith("/cache/previews/VT preview of song.mp3"));
    EXPECT_EQ(test::readFile(opened[0]), song.left(2500));

    // .NFO: the article viewer.
    doubleClickRow(child<QTableView>(w, "ListView2"), "readme.nfo");
    ViewerWindow &viewer = *a.app->viewerWindow();
    ASSERT_TRUE(viewer.isVisible());
    ASSERT_TRUE(test::waitFor([&] { return viewer.Text1->toPlainText().contains("Release notes in plain text"); }, 10000));
    viewer.close();

    // Anything else: the parts list.
    doubleClickRow(child<QTableView>(w, "ListView2"), "archive.rar");
    ASSERT_TRUE(a.app->partsWindow()->isVisible());
    EXPECT_EQ(a.app->partsWindow()->ListView1->model()->rowCount(), 2);
    a.app->partsWindow()->close();

    // Ctrl+R on a cached part: no window, no connection, and ".rar" asks first (No here).
    const int rar = st.itemCount();
    PartCache cache(a.app->core().settings, a.app->groups(), st);
    const QByteArray rarData(3000, 'R');
    ASSERT_TRUE(test::writeFile(cache.PartCacheFile(rar, 1), head("<rar1@x>") + test::yencPart(rarData, 1, 1500, 1, 2, "archive.rar")));
    const int commands = int(server.commands().size());
    MainWindow::selectRows(child<QTableView>(w, "ListView2"), {rowOf(child<QTableView>(w, "ListView2"), "archive.rar")});
    QTest::keyClick(child<QTableView>(w, "ListView2"), Qt::Key_R, Qt::ControlModifier);
    EXPECT_FALSE(pw.isVisible());
    ASSERT_EQ(a.prompter.questions.size(), 1);
    EXPECT_TRUE(a.prompter.questions[0].endsWith("VT preview of archive.rar indicates possibly dangerous file, launch preview anyway?"));
    EXPECT_EQ(opened.size(), 1);
    // The menu entry does the same; Yes opens it.
    a.prompter.setAnswer(true);
    child<QAction>(w, "mnuHvmPreview")->trigger();
    ASSERT_EQ(opened.size(), 2);
    EXPECT_TRUE(opened[1].endsWith("VT preview 2 of archive.rar"));
    test::settle();
    EXPECT_EQ(int(server.commands().size()), commands);
}

TEST(HostGroupsWindow, DownloadSearchStopAndAdd)
{
    test::TestServer server({"--group", "alt.test:10:5", "--list-extra", "200000", "--list-line", "comp.alt.binaries.talk 20 10 y"});
    App a("[Options]\r\nDownload_Path=DL\r\nNews_Host=127.0.0.1\r\nNews_Port=" + QByteArray::number(server.port()) + "\r\n", {}, true);
    a.app->core().sounds.setBackend([](const QString &) {});
    a.app->start();
    MainWindow &w = *a.app->mainWindow();
    child<QPushButton>(w, "cmdOptions")->click();
    a.app->optionsDialog()->cmdAddOne->click();
    a.app->addGroupDialog()->cmdGrM->click();
    EXPECT_FALSE(a.app->addGroupDialog()->isVisible());
    HostGroupsWindow &g = *a.app->hostGroupsWindow();
    ASSERT_TRUE(g.isVisible());
    EXPECT_EQ(g.windowTitle(), "Host Newsgroups");
    EXPECT_EQ(g.panels[0]->text(), "HOSTGRPS.TXT file not found.  Download to create.");
    EXPECT_FALSE(g.txtQR->isEnabled());
    EXPECT_FALSE(g.cmdAdd->isEnabled());

    g.cmdGetHostGroups->click();
    EXPECT_FALSE(g.cmdGetHostGroups->isEnabled()) << "the buttons wait for the download";
    ASSERT_TRUE(test::waitFor([&] { return g.panels[0]->text().startsWith("HOSTGRPS.TXT ready; "); }, 30000))
        << g.panels[0]->text().toStdString();
    EXPECT_TRUE(g.txtQR->isEnabled());
    EXPECT_TRUE(g.cmdGetHostGroups->isEnabled());

    // Starts with: the tree only.
    g.optSearchType[0]->click();
    QTest::keyClicks(g.txtQR, "comp.");
    g.cmdQR->click();
    ASSERT_TRUE(test::waitFor([&] { return g.panels[0]->text().startsWith("Done! ("); }));
    ASSERT_EQ(g.ListView1->model()->rowCount(), 1);
    EXPECT_EQ(g.ListView1->model()->index(0, 0).data().toString(), "comp.alt.binaries.talk");
    EXPECT_EQ(g.ListView1->model()->index(0, 1).data().toString(), "00010");
    EXPECT_TRUE(g.panels[0]->text().startsWith("Done! (1 matching groups found)"));

    // Entering the box selects its text; a search over every line stops on the second press.
    g.txtQR->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(g.txtQR->selectedText(), "comp.");
    QTest::keyClicks(g.txtQR, "alt.binaries.synth");
    g.optSearchType[1]->click();
    g.cmdQR->click();
    EXPECT_EQ(g.cmdQR->text(), "&Stop Search");
    EXPECT_FALSE(g.txtQR->isEnabled());
    ASSERT_TRUE(test::waitFor([&] { return g.ListView1->model()->rowCount() > 0; })) << "results show while it runs";
    g.cmdQR->click();
    ASSERT_TRUE(test::waitFor([&] { return g.panels[0]->text().startsWith("Search Aborted. ("); }))
        << g.panels[0]->text().toStdString();
    EXPECT_EQ(g.cmdQR->text(), "Search");
    const int found = g.ListView1->model()->rowCount();
    EXPECT_GT(found, 0);
    EXPECT_LT(found, 200000);

    // Sorting by the total, then adding two selected rows.
    g.ListView1->sortByColumn(1, Qt::DescendingOrder);
    const QString top = g.ListView1->model()->index(0, 0).data().toString();
    const QString second = g.ListView1->model()->index(1, 0).data().toString();
    EXPECT_GE(g.ListView1->model()->index(0, 1).data().toString().toInt(), g.ListView1->model()->index(1, 1).data().toString().toInt());
    MainWindow::selectRows(g.ListView1, {0, 1});
    g.cmdAdd->click();
    ASSERT_EQ(a.app->groups().rows(), 2);
    QStringList added = {a.app->groups().nameByKey(a.app->groups().rowKey(1)), a.app->groups().nameByKey(a.app->groups().rowKey(2))};
    added.sort();
    QStringList want = {top, second};
    want.sort();
    EXPECT_EQ(added, want);
    g.ListView1->clearSelection();
    g.cmdAdd->click();
    EXPECT_EQ(a.prompter.messages.last(), "Error, no group(s) selected.");
}

TEST(SetupWindow, FromPageZeroToDoneWithALiveTest)
{
    test::TestServer server({"--group", "alt.test:10:5", "--auth", "ann:secret", "--list-extra", "3000"});
    App a("[Options]\r\nDownload_Path=DL\r\n", {}, true);
    QDir().mkpath(a.dir.path() + "/dl");
    a.app->core().sounds.setBackend([](const QString &) {});
    a.app->start();
    SetupWindow &s = *a.app->assistantWindow();
    ASSERT_TRUE(s.isVisible()) << "no news server yet: the assistant opens at start";
    EXPECT_EQ(s.windowTitle(), "Vantrel Setup Assistant");
    EXPECT_EQ(s.frames->currentIndex(), 0);
    EXPECT_TRUE(s.lblVanty1->text().contains("Hi, I'm Vanty."));
    EXPECT_FALSE(s.Picture1->pixmap().isNull());
    EXPECT_FALSE(s.cmdBack->isEnabled());

    s.cmdNext->click();
    ASSERT_EQ(s.frames->currentIndex(), 2);
    EXPECT_FALSE(s.cmdNext->isEnabled());
    QTest::keyClicks(s.txtServerName, "127.0.0.1");
    EXPECT_TRUE(s.cmdNext->isEnabled());
    s.txtPort->selectAll();
    QTest::keyClicks(s.txtPort, QString::number(server.port()));
    s.cmdNext->click();
    ASSERT_EQ(s.frames->currentIndex(), 3);
    EXPECT_FALSE(s.txtUserName->isEnabled());
    s.chkAuth->click();
    EXPECT_TRUE(s.txtUserName->isEnabled());
    QTest::keyClicks(s.txtUserName, "ann");
    QTest::keyClicks(s.txtPassword, "secret");

    s.cmdNext->click();
    ASSERT_EQ(s.frames->currentIndex(), 4);
    EXPECT_FALSE(s.cmdNext->isEnabled());
    ASSERT_TRUE(test::waitFor([&] { return s.lblError->text() == "Server verified."; }, 10000)) << s.lblVanty1->text().toStdString();
    for (QLabel *t : s.lblTst) EXPECT_TRUE(t->isVisible()) << t->text().toStdString();
    EXPECT_TRUE(s.cmdNext->isEnabled());
    EXPECT_EQ(a.app->loginDialog()->txtHost->text(), "127.0.0.1") << "handed to the login dialog";
    EXPECT_EQ(a.app->loginDialog()->txtUserName->text(), "ann");

    // The folder page: a new folder through frmMakePath, which moves the list there.
    s.cmdNext->click();
    ASSERT_EQ(s.frames->currentIndex(), 5);
    EXPECT_EQ(s.lblPath->text(), a.dir.path() + "/dl/");
    s.cmdNewFolder->click();
    MakePathDialog &mp = *a.app->folderDialog()->frmMakePath;
    ASSERT_TRUE(mp.isVisible());
    QTest::keyClicks(mp.Text1, "incoming");
    mp.cmdOk->click();
    EXPECT_FALSE(mp.isVisible());
    EXPECT_TRUE(QFileInfo(a.dir.path() + "/dl/incoming").isDir());
    EXPECT_EQ(s.lblPath->text(), a.dir.path() + "/dl/incoming/");

    s.cmdNext->click();
    ASSERT_EQ(s.frames->currentIndex(), 6);
    EXPECT_TRUE(s.optUsePaths[0]->isChecked());
    s.cmdNext->click();
    ASSERT_EQ(s.frames->currentIndex(), 7);
    EXPECT_TRUE(s.optGetGroups[0]->isChecked());
    s.cmdNext->click();
    ASSERT_EQ(s.frames->currentIndex(), 8);
    s.cmdDlGroups->click();
    ASSERT_TRUE(test::waitFor([&] { return s.lblDLG->text().startsWith("HOSTGRPS.TXT ready; "); }, 20000)) << s.lblDLG->text().toStdString();
    EXPECT_TRUE(s.cmdNext->isEnabled());
    EXPECT_FALSE(a.app->hostGroupsWindow()->isVisible()) << "loaded, not shown";
    s.cmdNext->click();
    ASSERT_EQ(s.frames->currentIndex(), 9);
    EXPECT_EQ(s.lblFinal[2]->text(), "3. We downloaded a list of newsgroups.");
    EXPECT_TRUE(s.lblFinal[1]->text().contains(a.dir.path() + "/dl/incoming/"));
    EXPECT_EQ(a.app->core().settings.Download_Path, a.dir.path() + "/dl/incoming/");
    s.cmdNext->click();
    EXPECT_EQ(s.cmdNext->text(), "&Finish!");
    s.cmdNext->click();
    ASSERT_EQ(s.frames->currentIndex(), 11);
    EXPECT_FALSE(s.cmdNext->isEnabled());

    s.cmdDone->click();
    EXPECT_FALSE(s.isVisible());
    ASSERT_TRUE(a.app->optionsDialog()->isVisible());
    EXPECT_EQ(a.app->optionsDialog()->pages->currentIndex(), 0);
    EXPECT_TRUE(a.app->addGroupDialog()->isVisible());
    a.app->addGroupDialog()->hide();
    // What the assistant handed over is what the exit saves.
    a.app->mainWindow()->close();
    ASSERT_EQ(a.ended, 1);
    const IniFile ini = a.ini();
    EXPECT_EQ(ini.value("Options", "News_Host").value_or(""), "127.0.0.1");
    EXPECT_EQ(ini.value("Options", "News_Port").value_or(""), QString::number(server.port()));
    EXPECT_EQ(ini.value("Options", "Download_Path").value_or(""), a.dir.path() + "/dl/incoming/");
    EXPECT_EQ(ini.value("Options", "User_Name").value_or(""), "ann");
}

TEST(SetupWindow, ScanWithoutServerOffersItAndShowsTheErrorPages)
{
    App a("[Options]\r\nDownload_Path=DL\r\nNews_Host=\r\n", {}, true);
    a.app->core().sounds.setBackend([](const QString &) {});
    a.app->start();
    SetupWindow &s = *a.app->assistantWindow();
    s.cmdCancel->click();
    EXPECT_FALSE(s.isVisible());
    QStringList opened;
    a.app->decoder().RunAssociated = [&](const QString &p) {
        opened << p;
        return true;
    };

    // Scan, then Yes to the question: the assistant again.
    a.prompter.setAnswer(true);
    child<QPushButton>(*a.app->mainWindow(), "cmdScan")->click();
    a.app->loginDialog()->cmdGO->click();
    EXPECT_TRUE(a.prompter.questions.last().startsWith("You have not entered a news server name!"));
    ASSERT_TRUE(s.isVisible());
    EXPECT_EQ(s.frames->currentIndex(), 0);

    // The AOL page and its link.
    s.optF1[1]->click();
    s.cmdNext->click();
    ASSERT_EQ(s.frames->currentIndex(), 1);
    EXPECT_FALSE(s.cmdNext->isEnabled());
    QTest::mouseClick(s.Label9, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].startsWith("https://"));
    s.cmdBack->click();
    s.optF1[0]->click();

    // Refused: port 1 on this machine.
    s.cmdNext->click();
    QTest::keyClicks(s.txtServerName, "127.0.0.1");
    s.txtPort->selectAll();
    QTest::keyClicks(s.txtPort, "1");
    s.cmdNext->click();
    s.cmdNext->click();
    ASSERT_TRUE(test::waitFor([&] { return s.lblVanty1->text().startsWith("Oops.  That was not your news server."); }, 10000))
        << s.lblVanty1->text().toStdString();
    EXPECT_TRUE(s.lblError->isVisible());
    EXPECT_FALSE(s.cmdNext->isEnabled());

    // Unknown host.
    s.cmdBack->click();
    s.cmdBack->click();
    ASSERT_EQ(s.frames->currentIndex(), 2);
    s.txtServerName->selectAll();
    QTest::keyClicks(s.txtServerName, "no-such-host.invalid");
    s.cmdNext->click();
    s.cmdNext->click();
    ASSERT_TRUE(test::waitFor([&] {
        const QString t = s.lblVanty1->text();
        return t.startsWith("Oops.  I don't think that's your correct news server name.") || t.startsWith("Hmm...  Please be sure");
    }, 30000)) << s.lblVanty1->text().toStdString();
    EXPECT_FALSE(s.cmdNext->isEnabled());
    EXPECT_TRUE(a.app->core().settings.News_Host.isEmpty()) << "nothing handed over without a test";
    s.cmdCancel->click();
    EXPECT_FALSE(s.isVisible());
}

TEST(LoginDialog, TlsSwitchMovesTheStandardPort)
{
    App a("[Options]\r\nDownload_Path=DL\r\nNews_Host=news.example\r\nNews_Port=119\r\n", {}, true);
    a.app->start();
    LoginDialog &l = *a.app->loginDialog();
    l.load();
    EXPECT_FALSE(l.chkSSL->isChecked());
    EXPECT_EQ(l.chkSSL->text(), "Use SSL/TLS");
    l.chkSSL->click();
    EXPECT_TRUE(a.app->core().settings.chkSSL);
    EXPECT_EQ(l.txtPort->text(), "563");
    EXPECT_EQ(a.app->core().settings.News_Port, "563");
    l.chkSSL->click();
    EXPECT_EQ(l.txtPort->text(), "119");
    l.txtPort->setText("8119");
    a.app->core().settings.News_Port = "8119";
    l.chkSSL->click();
    EXPECT_EQ(l.txtPort->text(), "8119") << "a port of the user's own stays";

    SetupWindow &s = *a.app->assistantWindow();
    s.start();
    EXPECT_TRUE(s.chkSSL->isChecked()) << "the assistant starts from the login's choice";
    s.chkSSL->click();
    s.txtPort->setText("119");
    s.chkSSL->click();
    EXPECT_EQ(s.txtPort->text(), "563");
    EXPECT_TRUE(a.app->assistant().useSsl);
    s.cmdCancel->click();
    a.app->mainWindow()->close();
    const IniFile ini = a.ini();
    EXPECT_EQ(ini.value("Options", "chkSSL").value_or(""), "1");
}
