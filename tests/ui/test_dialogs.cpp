// The skin, the main window's pages, the options dialog with its newsgroup commands, the
// folder dialogs, the watch list windows, about and help: real widgets, offscreen.
#include "AppRig.h"
#include "Posts.h"
#include "TestSupport.h"
#include "headers/HeaderListModel.h"
#include "headers/HeaderStore.h"
#include "headers/WatchList.h"
#include "ui/AddGroupDialog.h"
#include "ui/FolderDialog.h"
#include "ui/LogWindow.h"
#include "ui/LoginDialog.h"
#include "ui/SearchWindow.h"
#include "ui/ExitDialog.h"
#include "core/ListRoles.h"
#include "ui/MainWindow.h"
#include "ui/OptionsDialog.h"
#include "remote/Remote.h"
#include "nzb/NzbFile.h"
#include <QTcpSocket>
#include "ui/ServerDialog.h"
#include "core/ServerList.h"
#include "ui/Skin.h"
#include "ui/WatchWindow.h"
#include "ui/WidgetPrompter.h"
#include "ui/ViewerWindow.h"
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QImageWriter>
#include <QMessageBox>
#include <QTest>
#include <gtest/gtest.h>

namespace {

void writeIcon(const QString &path, QColor c)
{
    QImage img(16, 16, QImage::Format_ARGB32);
    img.fill(c);
    QImageWriter w(path, "ico");
    ASSERT_TRUE(w.write(img)) << qPrintable(w.errorString());
}

QColor centre(const QIcon &i) { return i.pixmap(16, 16).toImage().pixelColor(8, 8); }

HeaderItem item(const char *subject, quint8 group)
{
    HeaderItem it;
    it.subject = subject;
    it.poster = "poster";
    it.parts.resize(1);
    it.parts[0].articleNumber = 5;
    it.parts[0].setGroupKey(group);
    it.isNew = true;
    return it;
}

QStringList groupNames(NewsgroupTable &g)
{
    QStringList out;
    for (int r = 1; r <= g.rows(); ++r) out << g.nameByKey(g.rowKey(r));
    return out;
}

void selectListRows(QTableView *v, std::vector<int> rows) { MainWindow::selectRows(v, rows); }

} // namespace

TEST(Skin, BuiltInsSkinFilesAndABrokenFile)
{
    QuietPrompter p;
    QTemporaryDir dir;
    ImageList list;
    const QStringList order{"incomplete", "unknown", "complete", "text", "iteminbatch", "proc_true", "proc_false", "new"};
    load_default_skin(list, dir.path() + "/vantrelskin/", p);
    EXPECT_EQ(list.keys(), order) << "no skin folder: the eight built-in pictures";
    EXPECT_EQ(list.imageWidth, 16);
    // The built-ins are drawn for every size, so they stay sharp on high-DPI screens.
    for (int i = 0; i < 8; ++i) {
        const QIcon icon = builtInIcon(i);
        EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16)));
        EXPECT_TRUE(icon.availableSizes().contains(QSize(64, 64)));
        EXPECT_GT(icon.pixmap(16, 16).toImage().pixelColor(8, 8).alpha() + icon.pixmap(16, 16).toImage().pixelColor(5, 8).alpha(), 0)
            << "picture " << i << " is not empty";
    }
    EXPECT_NE(centre(builtInIcon(0)), centre(builtInIcon(6)));

    QDir().mkpath(dir.path() + "/vantrelskin");
    writeIcon(dir.path() + "/vantrelskin/batch.ico", QColor(255, 0, 255));
    writeIcon(dir.path() + "/vantrelskin/iteminbatch.ico", QColor(0, 255, 255));   // the key's name is not looked for
    load_default_skin(list, dir.path() + "/vantrelskin/", p);
    ASSERT_EQ(list.count(), 8);
    EXPECT_EQ(list.keyAt(5), "iteminbatch");
    EXPECT_EQ(centre(list.at(5)), QColor(255, 0, 255)) << "position 5 from batch.ico";
    EXPECT_EQ(centre(list.at(3)), centre(builtInIcon(0))) << "complete stays built in";
    EXPECT_TRUE(p.messages.isEmpty());

    QFile bad(dir.path() + "/vantrelskin/text.ico");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("this is not a picture");
    bad.close();
    load_default_skin(list, dir.path() + "/vantrelskin/", p);
    ASSERT_EQ(p.messages.size(), 1);
    EXPECT_TRUE(p.messages[0].startsWith("Error in load_default_skin:"));
    EXPECT_GT(p.messages[0].size(), QString("Error in load_default_skin:").size()) << "with the reason";
    EXPECT_EQ(list.keys(), QStringList({"incomplete", "unknown", "complete", "iteminbatch", "proc_true", "proc_false", "new"}));
    EXPECT_EQ(list.keyAt(4), "iteminbatch") << "the later images move up one place";
    EXPECT_TRUE(list.icon("text").isNull());
}

TEST(Skin, TheWindowShowsTheIcons)
{
    App a("[Options]\r\nNews_Host=h\r\nDownload_Path=DL\r\n", {}, true);
    QDir().mkpath(a.dir.path() + "/vantrelskin");
    QFile bad(a.dir.path() + "/vantrelskin/unknown.ico");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("junk");
    bad.close();
    a.app->start();
    MainWindow &w = *a.app->mainWindow();
    EXPECT_EQ(a.prompter.messages.filter("Error in load_default_skin:").size(), 1);
    EXPECT_TRUE(child<QAction>(w, "btnsUnknown")->icon().isNull()) << "its key is missing";
    for (QAction *b : {child<QAction>(w, "btnsComplete"), child<QAction>(w, "btnsText"), child<QAction>(w, "btnsIncomplete"), child<QAction>(w, "btnsComplete_bp"), child<QAction>(w, "btnsNew")}) EXPECT_FALSE(b->icon().isNull());
    EXPECT_EQ(child<QAction>(w, "btnsText")->toolTip(), "Toggle view status (Text)");
    // Rows carry the icon of their status; the batch rows carry image 5.
    a.app->store().appendLoadedItem(item("Note [1/1]", 1));
    a.app->headerView().ViewRefresh(false);
    a.app->batch().AddToBatch(1);
    const QVariant headerIcon = child<QTableView>(w, "ListView2")->model()->index(0, 0).data(Qt::DecorationRole);
    ASSERT_TRUE(headerIcon.canConvert<QIcon>());
    EXPECT_EQ(centre(headerIcon.value<QIcon>()), centre(w.images().icon("iteminbatch")));
    // Rows ask by key, so a failed skin file that moved the positions does not change them.
    EXPECT_EQ(w.images().keyAt(5), "proc_true");
    EXPECT_EQ(centre(child<QTableView>(w, "ListView3")->model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>()),
              centre(w.images().icon("iteminbatch")));
    EXPECT_FALSE(child<QTableView>(w, "ListView3")->model()->index(0, 1).data(Qt::DecorationRole).isValid()) << "only the first column";
}

TEST(MainWindow, PagesCommandsAboutAndHelp)
{
    App a("[Options]\r\nNews_Host=h\r\nDownload_Path=DL\r\nchkSFX=1\r\n");
    QDir().mkpath(a.dir.path() + "/sfx");
    QFile wav(a.dir.path() + "/sfx/hi.wav");
    ASSERT_TRUE(wav.open(QIODevice::WriteOnly));
    wav.close();
    a.app->core().sounds.setBackend([](const QString &) {});
    a.app->start();
    MainWindow &w = *a.app->mainWindow();
    EXPECT_EQ(child<QLabel>(w, "lblCapX")->text(), "Vantrel ready, press SCAN to start");
    ASSERT_EQ(child<QTabBar>(w, "TabStrip1")->count(), 3);
    EXPECT_EQ(child<QTabBar>(w, "TabStrip1")->tabText(1), "Batch");
    EXPECT_TRUE(child<QWidget>(w, "Frame1_0")->isVisible());
    EXPECT_FALSE(child<QWidget>(w, "Frame1_1")->isVisible());
    child<QTabBar>(w, "TabStrip1")->setCurrentIndex(2);
    EXPECT_TRUE(child<QWidget>(w, "Frame1_2")->isVisible());
    EXPECT_FALSE(child<QWidget>(w, "Frame1_0")->isVisible());
    EXPECT_TRUE(child<QPushButton>(w, "cmdScan")->isVisible()) << "the commands above the pages stay";
    child<QTabBar>(w, "TabStrip1")->setCurrentIndex(1);
    EXPECT_TRUE(child<QTableView>(w, "ListView3")->isVisible());
    EXPECT_EQ(child<QPushButton>(w, "cmdbatchMoveToBottom")->text(), "Move to Botto&m");
    EXPECT_EQ(child<QPushButton>(w, "cmdBatchDownloadStop")->toolTip(), "Abort Download (Esc)");
    EXPECT_EQ(child<QLabel>(w, "lblTotalBatchTime")->text(), "Entire Batch ETA");

    // The status light starts the download check.
    QTest::mouseClick(child<QLabel>(w, "imgTestx"), Qt::LeftButton);
    EXPECT_EQ(a.prompter.messages.value(0), "Warning, nothing in batch que!");

    child<QPushButton>(w, "cmdAbout")->click();
    ASSERT_TRUE(a.app->aboutBox()->isVisible());
    EXPECT_TRUE(a.app->aboutBox()->lblVersion->text().startsWith("Version "));
    EXPECT_TRUE(a.app->core().sounds.played().contains("hi.wav"));
    a.app->aboutBox()->cmdOK->click();
    EXPECT_FALSE(a.app->aboutBox()->isVisible());

    // Help: a missing file says where it was looked for; a present one goes to the opener.
    QStringList opened;
    a.app->decoder().RunAssociated = [&](const QString &p) {
        opened << p;
        return true;
    };
    const QString help = a.dir.path() + "/VANTREL.html";
    if (!QFile::exists(QCoreApplication::applicationDirPath() + "/VANTREL.html")) {
        child<QPushButton>(w, "cmdHelp")->click();
        EXPECT_EQ(a.prompter.messages.last(), "Help file not found: " + help);
    }
    QFile f(help);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<html></html>");
    f.close();
    child<QPushButton>(w, "cmdHelp")->click();
    EXPECT_EQ(opened, QStringList{help});
}

TEST(Options, SlidersChecksAndTheirEffects)
{
    App a("[Options]\r\nNews_Host=h\r\nDownload_Path=DL\r\nRescan_Time=500\r\nsldXOVER=250\r\nScan_Connections=99\r\n");
    a.app->start();
    MainWindow &w = *a.app->mainWindow();
    child<QPushButton>(w, "cmdOptions")->click();
    OptionsDialog &o = *a.app->optionsDialog();
    ASSERT_TRUE(o.isVisible());
    EXPECT_EQ(o.pages->tabText(0), "Newsgroups");
    EXPECT_EQ(o.pages->tabText(1), "Download");
    EXPECT_EQ(o.pages->tabText(2), "Scan");
    EXPECT_EQ(o.lblRescan->text(), "Emergency restart wait: 90 seconds") << "500 is out of range";
    EXPECT_EQ(o.lblXOVER->text(), "XOVER burst receive 250 headers at a time");
    EXPECT_EQ(o.lblTimeout->text(), "Restart connection if inactive more than 60 seconds");
    EXPECT_EQ(o.lblDownloadPath->text(), a.dir.path() + "/dl/");
    EXPECT_EQ(o.lblCachePath->text(), a.dir.path() + "/dl/vtcache/");
    EXPECT_TRUE(o.chkAutoExpire->isChecked());
    EXPECT_FALSE(o.chkEnableWatch->isChecked());
    EXPECT_EQ(o.txtScanConnections->value(), 1) << "99 is out of range";

    o.sldRescan->setValue(120);
    o.txtScanConnections->setValue(16);
    EXPECT_EQ(o.lblRescan->text(), "Emergency restart wait: 120 seconds");
    QTest::keyClick(o.sldXOVER, Qt::Key_End);
    EXPECT_EQ(o.lblXOVER->text(), "XOVER burst receive 3000 headers at a time");
    o.sldTimeout->setValue(15);
    Settings &s = a.app->core().settings;
    EXPECT_EQ(s.Rescan_Time, 120);
    EXPECT_EQ(s.sldXOVER, 3000);
    // Options take effect at once.
    o.chkEnableWatch->click();
    EXPECT_TRUE(a.app->store().watchEnabled);
    EXPECT_TRUE(a.app->watch().watchEnabled);
    o.chkSFX->click();
    EXPECT_TRUE(a.app->core().sounds.enabled);
    o.chkDisableStats->click();
    EXPECT_FALSE(a.app->core().resources.visible());
    EXPECT_FALSE(child<QLabel>(w, "lblStats0")->isVisible());
    o.chkAutoExpire->click();
    o.cmdClose->click();
    EXPECT_FALSE(o.isVisible());
    // On disk before any exit: a crash now keeps them.
    ASSERT_TRUE(test::waitFor([&] { return a.ini().value("Options", "chkDisableStats").value_or("") == "1"; }, 5000));
    const IniFile ini = a.ini();
    EXPECT_EQ(*ini.value("Options", "Rescan_Time"), "120");
    EXPECT_EQ(*ini.value("Options", "sldXOVER"), "3000");
    EXPECT_EQ(*ini.value("Options", "sldTimeout"), "15");
    EXPECT_EQ(*ini.value("Options", "Scan_Connections"), "16");
    EXPECT_EQ(*ini.value("Options", "chkAutoExpire"), "0");
    EXPECT_EQ(*ini.value("Options", "chkEnableWatch"), "1");
    EXPECT_EQ(*ini.value("Options", "chkDisableStats"), "1");
}

// The remote control from its options page: the key made on first use is shown, a new one
// replaces it, categories typed are kept, and turned on it answers once the options close.
TEST(Options, RemoteControlPage)
{
    App a("[Options]\r\nNews_Host=h\r\nDownload_Path=DL\r\nRemote_Port=0\r\n");
    a.app->start();
    child<QPushButton>(*a.app->mainWindow(), "cmdOptions")->click();
    OptionsDialog &o = *a.app->optionsDialog();
    Settings &s = a.app->core().settings;
    const QString first = o.txtApiKey->text();
    EXPECT_EQ(first.size(), 32);
    EXPECT_TRUE(o.txtApiKey->isReadOnly());
    o.cmdNewApiKey->click();
    EXPECT_EQ(o.txtApiKey->text().size(), 32);
    EXPECT_NE(o.txtApiKey->text(), first);
    EXPECT_EQ(s.Remote_ApiKey, o.txtApiKey->text());
    o.txtCategories->setPlainText("tv\nmovies = /films");
    ASSERT_EQ(s.categories.size(), 2u);
    EXPECT_EQ(s.categoryFolder("TV"), a.dir.path() + "/dl/tv/");
    EXPECT_EQ(s.categoryFolder("movies"), "/films/");
    EXPECT_EQ(s.categoryFolder("other"), a.dir.path() + "/dl/");
    EXPECT_EQ(a.app->remote().server(), nullptr);
    o.chkRemote->click();
    EXPECT_EQ(a.app->remote().server(), nullptr) << "the server waits for the options to close";
    o.cmdClose->click();
    ASSERT_NE(a.app->remote().server(), nullptr);
    const quint16 port = a.app->remote().server()->port();
    ASSERT_NE(port, 0);
    QTcpSocket c;
    QByteArray got;
    QObject::connect(&c, &QTcpSocket::readyRead, [&] { got += c.readAll(); });
    c.connectToHost("127.0.0.1", port);
    c.write("GET /api?mode=get_cats&output=json&apikey=" + s.Remote_ApiKey.toLatin1() + " HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(test::waitFor([&] { return got.contains("\"categories\":[\"*\",\"tv\",\"movies\"]"); }, 10000)) << got.constData();
    ASSERT_TRUE(test::waitFor([&] { return a.ini().value("Categories", "Name2").value_or("") == "movies"; }, 5000));
    EXPECT_EQ(*a.ini().value("Categories", "Folder2"), "/films/");
    EXPECT_EQ(*a.ini().value("Options", "Remote_ApiKey"), s.Remote_ApiKey);

    // A category by hand: the batch's menu files an imported NZB's items under it, as a job.
    ASSERT_TRUE(writeNzbFile(a.dir.path() + "/Some Show.nzb", test::listedFiles(2, 1, "c"), nullptr));
    a.app->importNzbFiles({a.dir.path() + "/Some Show.nzb"});
    ASSERT_EQ(a.app->batch().batchRows(), 2);
    MainWindow &w = *a.app->mainWindow();
    w.selectRows(child<QTableView>(w, "ListView3"), {0, 1});
    QAction *tv = w.findChild<QAction *>("mnuBVCategory_tv");
    ASSERT_TRUE(tv);
    tv->trigger();
    ASSERT_EQ(a.app->remote().jobs().all().size(), 1u);
    const Job job = a.app->remote().jobs().all()[0];
    EXPECT_EQ(job.category, "tv");
    EXPECT_EQ(job.folder, a.dir.path() + "/dl/tv/Some Show/");
    EXPECT_EQ(job.keys.size(), 2);
    for (int i : a.app->batch().batchItems()) EXPECT_EQ(a.app->decoder().DecodeFolder(i), job.folder);
    // And back to none: the download folder's own job folder.
    w.findChild<QAction *>("mnuBVCategory_")->trigger();
    EXPECT_EQ(a.app->remote().jobs().all()[0].folder, a.dir.path() + "/dl/Some Show/");
}

TEST(Options, NewsgroupCommands)
{
    App a("[Options]\r\nNews_Host=h\r\nDownload_Path=DL\r\nchkEnableLogging=1\r\n", {}, true);
    {
        QFile favs(a.dir.path() + "/favs.txt");
        ASSERT_TRUE(favs.open(QIODevice::WriteOnly));
        favs.write("a.one,10,False,1\r\na.two,20,False,2\r\na.three,30,False,3\r\na.four,40,False,4\r\n");
    }
    a.app->start();
    MainWindow &w = *a.app->mainWindow();
    NewsgroupTable &g = a.app->groups();
    HeaderStore &st = a.app->store();
    st.appendLoadedItem(item("In two [1/1]", 2));
    st.appendLoadedItem(item("In three A", 3));
    st.appendLoadedItem(item("In three B", 3));
    a.app->headerView().ViewRefresh(false);
    child<QPushButton>(w, "cmdOptions")->click();
    OptionsDialog &o = *a.app->optionsDialog();
    EXPECT_EQ(o.ListView1->model()->rowCount(), 4);
    EXPECT_EQ(o.ListView1->model()->headerData(0, Qt::Horizontal).toString(), "Newsgroup Name");
    o.hide();
    g.addGroup("alt.binaries.documentaries.french");
    child<QPushButton>(w, "cmdOptions")->click();
    const QString longest = o.ListView1->model()->index(4, 0).data().toString();
    EXPECT_GE(o.ListView1->columnWidth(0), o.ListView1->fontMetrics().horizontalAdvance(longest)) << "group names are not cut";
    g.removeRow(5);

    for (QPushButton *b : {o.cmdDelete, o.cmdReset, o.cmdToggleRead, o.cmdUP}) b->click();
    EXPECT_EQ(a.prompter.messages.count("Error, no group selected."), 4);

    // A block of two moves together; the top row stays at the edge.
    selectListRows(o.ListView1, {1, 2});
    o.cmdUP->click();
    EXPECT_EQ(groupNames(g), QStringList({"a.two", "a.three", "a.one", "a.four"}));
    o.cmdUP->click();
    EXPECT_EQ(groupNames(g), QStringList({"a.two", "a.three", "a.one", "a.four"}));
    EXPECT_EQ(MainWindow::selectedRows(o.ListView1), (std::vector<int>{0, 1})) << "the selection follows";
    o.cmdDN->click();
    o.cmdDN->click();
    o.cmdDN->click();
    EXPECT_EQ(groupNames(g), QStringList({"a.one", "a.four", "a.two", "a.three"}));
    selectListRows(o.ListView1, {3});
    o.cmdMoveToTop->click();
    EXPECT_EQ(groupNames(g), QStringList({"a.three", "a.one", "a.four", "a.two"}));
    EXPECT_EQ(child<QComboBox>(w, "cboVG")->itemText(2), "a.three") << "the chooser follows the scan order";

    // Toggle by double click greys the row.
    const QModelIndex first = o.ListView1->model()->index(0, 0);
    selectListRows(o.ListView1, {0});
    emit o.ListView1->doubleClicked(first);
    EXPECT_TRUE(g.rowGreyed(1));
    EXPECT_EQ(first.data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::gray));
    o.cmdToggleRead->click();
    EXPECT_FALSE(g.rowGreyed(1));

    selectListRows(o.ListView1, {1});
    o.cmdReset->click();
    EXPECT_EQ(o.ListView1->model()->index(1, 2).data().toString(), "") << "Last Read empty after a reset";
    EXPECT_EQ(g.lastReadByKey(1), 0);

    // Delete: Cancel keeps everything; OK removes the group and its headers.
    child<QComboBox>(w, "cboVG")->setCurrentIndex(2);   // zoomed on a.three
    EXPECT_EQ(child<QTableView>(w, "ListView2")->model()->rowCount(), 2);
    selectListRows(o.ListView1, {0});
    a.prompter.setAnswer(false);
    o.cmdDelete->click();
    EXPECT_EQ(a.prompter.questions.last(), "Warning: All headers from this group will also be deleted.");
    EXPECT_EQ(g.rows(), 4);
    a.prompter.setAnswer(true);
    st.headersDirty = false;
    o.cmdDelete->click();
    EXPECT_EQ(groupNames(g), QStringList({"a.one", "a.four", "a.two"}));
    EXPECT_TRUE(st.item(2).deleted && st.item(3).deleted);
    EXPECT_FALSE(st.item(1).deleted);
    EXPECT_TRUE(st.headersDirty);
    EXPECT_TRUE(a.app->core().log.list()->rows().filter("Removed: a.three, 2 headers)").size() == 1);
    EXPECT_EQ(child<QComboBox>(w, "cboVG")->count(), 5);
    EXPECT_EQ(child<QComboBox>(w, "cboVG")->currentText(), "All Newsgroups");
    EXPECT_EQ(child<QTableView>(w, "ListView2")->model()->rowCount(), 1) << "the list shows all groups again";
    // The list is sorted while the question is open: the groups chosen go, not the rows.
    selectListRows(o.ListView1, {0, 2});
    a.prompter.setDeferred(true);
    o.cmdDelete->click();
    EXPECT_EQ(a.prompter.questions.last(), "Warning: All headers from selected groups will also be deleted.");
    emit o.ListView1->horizontalHeader()->sectionClicked(0);
    EXPECT_EQ(groupNames(g), QStringList({"a.four", "a.one", "a.two"}));
    EXPECT_EQ(a.prompter.answerPending(), 1);
    a.prompter.setDeferred(false);
    EXPECT_EQ(groupNames(g), QStringList({"a.four"}));
    EXPECT_TRUE(a.app->core().log.list()->rows().filter("Removed: a.two (1 header)").size() == 1);

    o.cmdResetNewFlags->click();
    EXPECT_FALSE(st.item(1).isNew);
    o.cmdAddOne->click();
    EXPECT_TRUE(a.app->addGroupDialog()->isVisible());
}

// The servers page: the first server (its old keys) and the others, Add, Edit, Remove,
// the main connections counted, and Test against real servers.
TEST(Options, ServersAddEditRemoveAndTest)
{
    test::TestServer good({"--group", "alt.test:1:5"});
    test::TestServer full({"--group", "alt.test:1:5", "--greeting", "502 too many connections from your host"});
    App a("[Options]\r\nNews_Host=news.example\r\nDownload_Path=DL\r\n", {}, true);
    a.app->start();
    child<QPushButton>(*a.app->mainWindow(), "cmdOptions")->click();
    OptionsDialog &o = *a.app->optionsDialog();
    Settings &s = a.app->core().settings;
    ASSERT_EQ(o.serverList->rowCount(), 1);
    EXPECT_EQ(o.ListServers->model()->index(0, 0).data().toString(), "news.example");
    EXPECT_EQ(o.lblServerConnections->text(), "Main connections: 1");

    o.cmdServerAdd->click();
    ServerDialog &d = *o.serverDialog;
    ASSERT_TRUE(d.isVisible());
    EXPECT_GE(d.txtHost->width(), d.txtHost->fontMetrics().horizontalAdvance("news.eu.example-provider.com")) << "a provider's name fits";
    d.txtHost->setText("127.0.0.1");
    d.txtPort->setText("99999x");
    d.findChild<QPushButton *>("cmdOk")->click();
    EXPECT_TRUE(d.isVisible()) << "no port, no server";
    EXPECT_EQ(d.lblProblem->text(), "The port \"99999x\" is not a number from 1 to 65535.");
    d.txtPort->setText(QString::number(good.port()));
    d.spnConnections->setValue(4);
    d.spnLevel->setValue(0);
    d.findChild<QPushButton *>("cmdOk")->click();
    ASSERT_EQ(s.servers.size(), 1u);
    EXPECT_EQ(s.servers[0].connections, 4);
    EXPECT_EQ(o.lblServerConnections->text(), "Main connections: 5");

    // The first server's fields are its old keys; its level stays main.
    o.ListServers->selectRow(0);
    o.cmdServerEdit->click();
    EXPECT_FALSE(d.spnLevel->isEnabled());
    d.spnConnections->setValue(3);
    d.chkTLS->setChecked(true);
    EXPECT_EQ(d.txtPort->text(), "563") << "the standard port follows TLS";
    d.chkTLS->setChecked(false);
    d.findChild<QPushButton *>("cmdOk")->click();
    EXPECT_EQ(s.News_Connections, 3);
    EXPECT_EQ(s.News_Host, "news.example");
    EXPECT_EQ(o.lblServerConnections->text(), "Main connections: 7");

    // Test: one that works, one that is full.
    o.ListServers->selectRow(1);
    o.cmdServerTest->click();
    ASSERT_TRUE(test::waitFor([&] { return o.lblServerTest->text().startsWith("works: 200"); })) << o.lblServerTest->text().toStdString();
    o.ListServers->selectRow(1);
    o.cmdServerEdit->click();
    d.txtPort->setText(QString::number(full.port()));
    d.spnLevel->setValue(1);
    d.findChild<QPushButton *>("cmdOk")->click();
    EXPECT_EQ(o.lblServerConnections->text(), "Main connections: 3") << "a backup is not a main connection";
    o.ListServers->selectRow(1);
    o.cmdServerTest->click();
    ASSERT_TRUE(test::waitFor([&] { return o.lblServerTest->text().startsWith("refused: 502"); })) << o.lblServerTest->text().toStdString();

    // Saved with the rest; the first server cannot be removed, the others can.
    ASSERT_TRUE(a.app->core().settingsFile.SaveSettings(s));
    EXPECT_EQ(*a.ini().value("Servers", "Level2"), "1");
    o.ListServers->selectRow(0);
    o.cmdServerRemove->click();
    EXPECT_EQ(o.serverList->rowCount(), 2);
    o.ListServers->selectRow(1);
    o.cmdServerRemove->click();
    EXPECT_TRUE(s.servers.empty());
}

TEST(Options, SortingManyGroupsByTheColumnHeader)
{
    App a("[Options]\r\nNews_Host=h\r\nDownload_Path=DL\r\n", {}, true);
    a.app->start();
    NewsgroupTable &g = a.app->groups();
    QStringList names;
    for (int i = 0; i < 60; ++i) names << QStringLiteral("g.%1").arg((i * 37) % 60, 2, 10, QChar('0'));
    for (const QString &n : names) g.addGroup(n);
    OptionsDialog &o = *a.app->optionsDialog();
    QHeaderView *h = o.ListView1->horizontalHeader();
    emit h->sectionClicked(0);
    QStringList sorted = names;
    sorted.sort();
    EXPECT_EQ(groupNames(g), sorted);
    emit h->sectionClicked(0);
    std::reverse(sorted.begin(), sorted.end());
    EXPECT_EQ(groupNames(g), sorted) << "the same column again reverses";
    EXPECT_EQ(child<QComboBox>(*a.app->mainWindow(), "cboVG")->itemText(2), sorted[0]);
}

TEST(Folders, BrowseAndNewFolder)
{
    App a("[Options]\r\nNews_Host=h\r\nDownload_Path=DL\r\n");
    a.app->start();
    child<QPushButton>(*a.app->mainWindow(), "cmdOptions")->click();
    OptionsDialog &o = *a.app->optionsDialog();
    o.cmdBrowseDLPath->click();
    FolderDialog &b = *a.app->folderDialog();
    ASSERT_TRUE(b.isVisible());
    EXPECT_EQ(b.windowTitle(), "Select 'Base Download' Folder");
    EXPECT_TRUE(b.lblExplain->text().startsWith("This is the folder where downloded files are saved"));
    EXPECT_EQ(b.folderText(), a.dir.path() + "/dl/") << "starts in the download folder";

    QDir().mkpath(a.dir.path() + "/picked");
    b.setFolder(a.dir.path() + "/picked");
    EXPECT_EQ(b.folderText(), a.dir.path() + "/picked/");
    b.Command1->click();
    MakePathDialog &m = *b.frmMakePath;
    ASSERT_TRUE(m.isVisible());
    m.Text1->setText("   ");
    m.cmdOk->click();
    EXPECT_TRUE(m.isVisible()) << "a blank name does nothing";
    m.Text1->setText("..");
    m.cmdOk->click();
    EXPECT_EQ(a.prompter.messages.value(0), "Could not create the folder " + a.dir.path() + "/picked/..");
    m.Text1->setText("new one");
    m.cmdOk->click();
    EXPECT_FALSE(m.isVisible());
    EXPECT_TRUE(QFileInfo(a.dir.path() + "/picked/new one").isDir());
    EXPECT_EQ(b.folderText(), a.dir.path() + "/picked/new one/");
    b.cmdOk->click();
    EXPECT_FALSE(b.isVisible());
    EXPECT_EQ(a.app->core().settings.Download_Path, a.dir.path() + "/picked/new one/");
    EXPECT_EQ(o.lblDownloadPath->text(), a.dir.path() + "/picked/new one/");

    o.cmdBrowseCachePath->click();
    EXPECT_EQ(b.windowTitle(), "Select 'Cache' Folder");
    b.setFolder(a.dir.path() + "/picked");
    b.cmdCancel->click();
    EXPECT_EQ(a.app->core().settings.Cache_Path, a.dir.path() + "/dl/vtcache/") << "Cancel changes nothing";
    o.cmdBrowseCachePath->click();
    b.setFolder(a.dir.path() + "/picked");
    b.cmdOk->click();
    EXPECT_EQ(a.app->core().settings.Cache_Path, a.dir.path() + "/picked/");
    EXPECT_EQ(a.app->core().settings.Download_Path, a.dir.path() + "/picked/new one/");
    a.app->mainWindow()->close();
    EXPECT_EQ(*a.ini().value("Options", "Cache_Path"), a.dir.path() + "/picked/");
}

// Boxes open without an event loop of their own: the caller goes on, the answer comes
// from the event loop, and an answer whose asker is gone is dropped.
TEST(Prompter, BoxesOpenWithoutWaitingAndAnswerLater)
{
    QWidget parent;
    parent.show();
    WidgetPrompter p;
    p.setParent(&parent);
    auto box = [&](const QString &text) -> QMessageBox * {
        for (QMessageBox *b : parent.findChildren<QMessageBox *>())
            if (b->text() == text && b->isVisible()) return b;
        return nullptr;
    };
    p.message("Same thing\r\nagain");
    p.message("Same thing\r\nagain");
    EXPECT_EQ(parent.findChildren<QMessageBox *>().size(), 1) << "the same message is not stacked";
    ASSERT_NE(box("Same thing\nagain"), nullptr);

    std::optional<bool> got;
    auto asker = std::make_unique<QObject>();
    p.askYesNo("Go?", asker.get(), [&](bool yes) { got = yes; });
    EXPECT_FALSE(got) << "the caller goes on before the answer";
    ASSERT_NE(box("Go?"), nullptr);
    box("Go?")->button(QMessageBox::Yes)->click();
    ASSERT_TRUE(test::waitFor([&] { return got.has_value(); }));
    EXPECT_TRUE(*got);

    bool called = false;
    p.askOkCancel("Delete?", asker.get(), [&](bool) { called = true; });
    QMessageBox *del = box("Delete?");
    ASSERT_NE(del, nullptr);
    asker.reset();
    del->button(QMessageBox::Ok)->click();
    EXPECT_FALSE(called) << "the asker is gone: nobody to answer";

    box("Same thing\nagain")->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(test::waitFor([&] { return parent.findChildren<QMessageBox *>().isEmpty(); }));
    p.message("Same thing\r\nagain");
    EXPECT_NE(box("Same thing\nagain"), nullptr) << "once closed, it may show again";
}

TEST(Watch, AddRemoveAndTheFile)
{
    App a("[Options]\r\nNews_Host=h\r\nDownload_Path=DL\r\n", {}, true);
    a.app->start();
    MainWindow &w = *a.app->mainWindow();
    child<QPushButton>(w, "cmdEditWatch")->click();
    WatchWindow &ww = *a.app->watchWindow();
    ASSERT_TRUE(ww.isVisible());
    EXPECT_EQ(ww.lblWarning->text(), "Not Enabled.  Enable Watch List in options.");
    ww.cmdAdd->click();
    WatchAddDialog &add = *ww.frmWatchAdd;
    ASSERT_TRUE(add.isVisible());
    EXPECT_EQ(add.windowTitle(), "Add Watch");
    add.Text1->setText("Holiday");
    add.optWhere[1]->click();
    add.chkCase->click();
    add.cmdAdd->click();
    EXPECT_FALSE(add.isVisible());
    QAbstractItemModel *m = ww.ListView1->model();
    ASSERT_EQ(m->rowCount(), 1);
    EXPECT_EQ(m->index(0, 0).data().toString(), "Holiday");
    EXPECT_EQ(m->index(0, 1).data().toString(), "From");
    EXPECT_EQ(m->index(0, 2).data().toString(), "Sensitive");
    QFile f(a.dir.path() + "/WATCH.TXT");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "saved after the addition";
    EXPECT_EQ(f.readAll(), QByteArray(" 1\r\nHoliday\r\n 1\r\nTrue\r\n"));
    f.close();

    ww.cmdAdd->click();
    EXPECT_TRUE(add.optWhere[0]->isChecked()) << "the dialog starts afresh";
    add.Text1->setText("x");
    add.cmdCancel->click();
    EXPECT_EQ(m->rowCount(), 1);
    ww.cmdAdd->click();
    add.Text1->setText("beach ");
    add.cmdAdd->click();
    EXPECT_EQ(m->index(1, 1).data().toString(), "Subject");
    EXPECT_EQ(m->index(1, 2).data().toString(), "Insensitive");

    // Enabled: the warning says what happens; a completed match goes into the batch.
    child<QPushButton>(w, "cmdOptions")->click();
    a.app->optionsDialog()->chkEnableWatch->click();
    ww.hide();
    child<QPushButton>(w, "cmdEditWatch")->click();
    EXPECT_EQ(ww.lblWarning->text(), "Matching complete files are automatically added to batch.");
    a.app->store().appendLoadedItem(item("BEACH", 1));
    EXPECT_TRUE(a.app->watch().WatchMatches(a.app->store(), a.app->store().itemCount()));

    selectListRows(ww.ListView1, {0, 1});
    ww.cmdRemove->click();
    EXPECT_EQ(m->rowCount(), 0);
    ww.cmdClose->click();
    EXPECT_FALSE(ww.isVisible());
    w.close();
    EXPECT_FALSE(QFile::exists(a.dir.path() + "/WATCH.TXT")) << "an empty list leaves no file";
}

TEST(Application, ViewTogglesAndWindowPlaceSurviveARestart)
{
    QByteArray ini;
    QRect placed;
    {
        App a("[Options]\r\nNews_Host=h\r\nDownload_Path=DL\r\ntogtsText=False\r\n");
        a.app->start();
        MainWindow &w = *a.app->mainWindow();
        EXPECT_FALSE(child<QAction>(w, "btnsText")->isChecked());
        EXPECT_TRUE(child<QAction>(w, "btnsComplete")->isChecked());
        child<QAction>(w, "btnsUnknown")->trigger();
        w.setGeometry(120, 90, 700, 500);
        placed = w.geometry();
        w.close();
        const IniFile i = a.ini();
        EXPECT_EQ(*i.value("Options", "togtsText"), "False");
        EXPECT_EQ(*i.value("Options", "togtsUnknown"), "False");
        EXPECT_EQ(*i.value("Options", "togtsComplete"), "True");
        QFile f(a.dir.path() + "/VANTREL.INI");
        f.open(QIODevice::ReadOnly);
        ini = f.readAll();
    }
    App b(ini);
    b.app->start();
    MainWindow &w = *b.app->mainWindow();
    EXPECT_FALSE(child<QAction>(w, "btnsText")->isChecked());
    EXPECT_FALSE(child<QAction>(w, "btnsUnknown")->isChecked());
    EXPECT_FALSE(b.app->headerView().showUnknown) << "the list follows the buttons";
    EXPECT_EQ(w.geometry(), placed);
}

// Everything a person does, from the window alone, against the test server.
TEST(Program, EverythingFromTheWindow)
{
    test::TestServer server({"--group", "alt.binaries.one:1000:60", "--segment", "--yenc-only"});
    App a("[Options]\r\nDownload_Path=DL\r\nchkEnableLogging=1\r\nchkAutodownload=0\r\n", {}, true);
    a.app->core().sounds.setBackend([](const QString &) {});
    a.app->start();
    MainWindow &w = *a.app->mainWindow();
    QStringList opened;
    a.app->decoder().RunAssociated = [&](const QString &p) {
        opened << p;
        return true;
    };

    // Add a group in the options.
    child<QPushButton>(w, "cmdOptions")->click();
    a.app->optionsDialog()->cmdAddOne->click();
    AddGroupDialog &add = *a.app->addGroupDialog();
    QTest::keyClicks(add.Text1, "alt.binaries.one");
    add.cmdWebSiteNGSearch->click();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].startsWith("https://duckduckgo.com/?q=usenet%20newsgroup%20alt.binaries.one"));
    add.cmdOk->click();
    a.app->optionsDialog()->cmdClose->click();
    ASSERT_EQ(a.app->groups().rows(), 1);
    EXPECT_EQ(child<QComboBox>(w, "cboVG")->itemText(2), "alt.binaries.one");

    // Set up the server in the login dialog and scan.
    child<QPushButton>(w, "cmdScan")->click();
    LoginDialog &login = *a.app->loginDialog();
    ASSERT_TRUE(login.isVisible());
    QTest::keyClicks(login.txtHost, "127.0.0.1");
    login.txtPort->selectAll();
    QTest::keyClicks(login.txtPort, QString::number(server.port()));
    login.cmdGO->click();
    ASSERT_TRUE(test::waitFor([&] { return child<QPushButton>(w, "cmdScan")->isEnabled() && a.app->store().itemCount() > 0
                                           && a.app->session().TCP1.state() == 0; }, 20000));
    QAbstractItemModel *headers = child<QTableView>(w, "ListView2")->model();
    const int all = headers->rowCount();
    ASSERT_GT(all, 5);
    EXPECT_EQ(child<QLabel>(w, "lblMCount")->text(), "Read: 60");

    // Filter and search.
    child<QAction>(w, "btnsComplete")->trigger();
    const int notComplete = headers->rowCount();
    EXPECT_LT(notComplete, all);
    child<QAction>(w, "btnsComplete")->trigger();
    EXPECT_EQ(headers->rowCount(), all);
    const QString subject = headers->index(0, 0).data().toString();
    QTest::keyClick(child<QTableView>(w, "ListView2"), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(a.app->searchWindow()->isVisible());
    QTest::keyClicks(a.app->searchWindow()->txtSearch, subject.left(12).toLower());
    a.app->searchWindow()->cmdSearch->click();
    ASSERT_GE(headers->rowCount(), 1);
    for (int r = 0; r < headers->rowCount(); ++r)
        EXPECT_TRUE(headers->index(r, 0).data().toString().contains(subject.left(12), Qt::CaseInsensitive));
    a.app->searchWindow()->cmdClose->click();
    child<QComboBox>(w, "cboVG")->setCurrentIndex(2);
    child<QComboBox>(w, "cboVG")->setCurrentIndex(0);
    EXPECT_EQ(headers->rowCount(), all);

    // View the first item's first part as text, through the key and through the menu.
    MainWindow::selectRows(child<QTableView>(w, "ListView2"), {0});
    QTest::keyClick(child<QTableView>(w, "ListView2"), Qt::Key_V, Qt::ControlModifier);
    ViewerWindow &viewer = *a.app->viewerWindow();
    ASSERT_TRUE(viewer.isVisible());
    EXPECT_EQ(viewer.windowTitle(), headers->index(0, 0).data().toString().trimmed());
    ASSERT_TRUE(test::waitFor([&] { return viewer.Text1->toPlainText().startsWith("From: "); }, 10000))
        << viewer.Text1->toPlainText().toStdString();
    EXPECT_TRUE(viewer.Text1->toPlainText().contains("Subject: "));
    viewer.close();
    EXPECT_EQ(child<QAction>(w, "mnuHvmViewText")->text(), "View Text");

    // The parts list of that item; a double click saves one part raw.
    const int item = a.app->headerView().itemAt(0);
    QTest::keyClick(child<QTableView>(w, "ListView2"), Qt::Key_P, Qt::ControlModifier);
    PartsWindow &parts = *a.app->partsWindow();
    ASSERT_TRUE(parts.isVisible());
    EXPECT_EQ(parts.windowTitle(), "View Parts: " + QString::fromLatin1(a.app->store().item(item).subject));
    QAbstractItemModel *partRows = parts.ListView1->model();
    ASSERT_EQ(partRows->rowCount(), int(a.app->store().item(item).parts.size()));
    const QString number = partRows->index(0, 0).data().toString();
    QTest::mouseClick(parts.ListView1->viewport(), Qt::LeftButton, {}, parts.ListView1->visualRect(partRows->index(0, 0)).center());
    QTest::mouseDClick(parts.ListView1->viewport(), Qt::LeftButton, {}, parts.ListView1->visualRect(partRows->index(0, 0)).center());
    const QString saved = a.dir.path() + "/dl/alt.binaries.one/" + number + ".UUE";
    ASSERT_TRUE(test::waitFor([&] { return viewer.Text1->toPlainText() == "Saved as:" + saved; }, 10000))
        << viewer.Text1->toPlainText().toStdString();
    EXPECT_GT(QFileInfo(saved).size(), 0);
    viewer.close();
    parts.close();

    // Queue two complete items, then put the second first.
    std::vector<int> complete;
    for (int r = 0; r < headers->rowCount() && complete.size() < 2; ++r)
        if (headers->index(r, 0).data(IconKeyRole).toString() == "complete") complete.push_back(r);
    ASSERT_EQ(complete.size(), 2u);
    const QString first = headers->index(complete[0], 0).data().toString();
    const QString second = headers->index(complete[1], 0).data().toString();
    MainWindow::selectRows(child<QTableView>(w, "ListView2"), complete);
    QTest::keyClick(child<QTableView>(w, "ListView2"), Qt::Key_B, Qt::ControlModifier);
    child<QTabBar>(w, "TabStrip1")->setCurrentIndex(1);
    QAbstractItemModel *batch = child<QTableView>(w, "ListView3")->model();
    ASSERT_EQ(batch->rowCount(), 2);
    MainWindow::selectRows(child<QTableView>(w, "ListView3"), {1});
    child<QPushButton>(w, "cmdMoveToTop")->click();
    EXPECT_EQ(batch->index(0, 0).data().toString(), second);
    EXPECT_EQ(batch->index(1, 0).data().toString(), first);
    MainWindow::selectRows(child<QTableView>(w, "ListView3"), {0});
    child<QPushButton>(w, "cmdViewPartsinBatch")->click();
    EXPECT_TRUE(a.app->partsWindow()->windowTitle().startsWith("View Parts: " + second.left(10)));
    a.app->partsWindow()->close();

    // Download, then open the first decoded file from the processed list.
    child<QPushButton>(w, "cmdBatchDownload")->click();
    QAbstractItemModel *done = child<QTableView>(w, "ListView4")->model();
    ASSERT_TRUE(test::waitFor([&] { return done->rowCount() == 2 && batch->rowCount() == 0; }, 30000));
    EXPECT_EQ(done->index(0, 0).data().toString(), second) << "downloaded in the batch order";
    for (int r = 0; r < 2; ++r)
        EXPECT_EQ(done->index(r, 0).data(IconKeyRole).toString(), "proc_true")
            << done->index(r, 0).data().toString().toStdString() << " / " << done->index(r, 1).data().toString().toStdString();
    child<QTabBar>(w, "TabStrip1")->setCurrentIndex(2);
    opened.clear();
    const QRect cell = child<QTableView>(w, "ListView4")->visualRect(done->index(0, 0));
    // A double click is a click followed by the second press.
    QTest::mouseClick(child<QTableView>(w, "ListView4")->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(child<QTableView>(w, "ListView4")->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].startsWith(a.dir.path() + "/dl/alt.binaries.one/"));
    EXPECT_GT(QFileInfo(opened[0]).size(), 0);

    // The watch list and the log.
    child<QPushButton>(w, "cmdEditWatch")->click();
    a.app->watchWindow()->cmdAdd->click();
    QTest::keyClicks(a.app->watchWindow()->frmWatchAdd->Text1, "poster");
    a.app->watchWindow()->frmWatchAdd->cmdAdd->click();
    EXPECT_EQ(a.app->watch().entries().size(), 1u);
    a.app->watchWindow()->cmdClose->click();
    child<QPushButton>(w, "cmdLog")->click();
    ASSERT_TRUE(a.app->logWindow()->isVisible());
    QAbstractItemModel *log = a.app->logWindow()->List1->model();
    QStringList lines;
    for (int r = 0; r < log->rowCount(); ++r) lines << log->index(r, 0).data().toString();
    EXPECT_EQ(lines.filter("Decode successful").size(), 2) << lines.join('\n').toStdString();

    // Quit through the exit dialog, saving the headers.
    w.close();
    ASSERT_TRUE(a.app->exitDialog()->isVisible());
    a.app->exitDialog()->chkSaveHeaders->setChecked(true);
    a.app->exitDialog()->cmdOk->click();
    EXPECT_EQ(a.ended, 1);
    EXPECT_TRUE(QFile::exists(a.dir.path() + "/npending.dat"));
    EXPECT_TRUE(QFile::exists(a.dir.path() + "/WATCH.TXT"));
    const IniFile ini = a.ini();
    EXPECT_EQ(*ini.value("Options", "News_Host"), "127.0.0.1");
    EXPECT_EQ(*ini.value("Options", "News_Port"), QString::number(server.port()));
}
