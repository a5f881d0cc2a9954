// Start-up order, command line, shutdown and the exit dialog on the real widgets
// (offscreen), and the real program as a process.
#include "AppRig.h"
#include "Posts.h"
#include "TestSupport.h"
#include "app/Application.h"
#include "core/IniFile.h"
#include "ui/ExitDialog.h"
#include "ui/LogWindow.h"
#include "ui/AddGroupDialog.h"
#include "ui/LoginDialog.h"
#include "ui/MainWindow.h"
#include "ui/SearchWindow.h"
#include "ui/SplashWindow.h"
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMimeData>
#include <QMenu>
#include <QHeaderView>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include "app/Notifier.h"
#include "download/DownloadDriver.h"
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include "scan/ScanDriver.h"
#include "ui/SpeedGraph.h"
#include "download/BatchQueue.h"
#include "download/ProcessedList.h"
#include "headers/HeaderStore.h"
#include "nzb/NzbImport.h"
#include <QFile>
#include <csignal>
#include <gtest/gtest.h>

using namespace vt;


namespace {
// An item of `parts` parts of `bytes` each, by the poster "P"; its slot.
int addItem(HeaderStore &s, const char *name, int parts, int bytes)
{
    HeaderItem it;
    it.subject = name;
    it.poster = "P";
    it.parts.resize(size_t(parts));
    for (PartRecord &p : it.parts) p.byteCount = bytes;
    return s.appendLoadedItem(it);
}
} // namespace

TEST(Application, StartupOrderThenPlainShutdown)
{
    App a;
    a.app->start();
    EXPECT_EQ(a.app->splash()->shownTexts,
              QStringList({"Loading Main Window", "Loading INI settings", "Loading Graphics", "Loading Newsgroups",
                           "Loading Window Sizes", "Loading Column Sizes"}));
    EXPECT_EQ(a.app->splash()->ProgressBar1->maximum(), 10);
    EXPECT_EQ(a.calls, QStringList({"loadWatch", "loadSkin", "loadFavs", "loadHeaders", "fillGroupChooser"}));
    EXPECT_FALSE(a.app->splash()->isVisible());
    EXPECT_TRUE(a.app->mainWindow()->isVisible());
    EXPECT_TRUE(child<QLabel>(*a.app->mainWindow(), "lblStats0")->text().endsWith("MB free (download)"));
    EXPECT_EQ(a.app->core().settings.News_Host, "news.example");

    a.app->core().settings.sldXOVER = 777;   // changed in the options: written back at exit
    a.calls.clear();
    a.app->mainWindow()->close();
    EXPECT_EQ(a.ended, 1);
    EXPECT_EQ(a.calls, QStringList({"saveWatch", "saveFavs"}));
    EXPECT_FALSE(a.app->exitDialog()->isVisible());
    const IniFile ini = a.ini();
    EXPECT_EQ(*ini.value("Options", "sldXOVER"), "777");
    EXPECT_EQ(*ini.value("Sizing", "WindowState"), "0");
    EXPECT_TRUE(ini.value("Sizing", "Width").has_value());
    EXPECT_EQ(*ini.value("Header View Column Sizes", "C1"), "360");
}

TEST(Application, FirstRunOpensTheAssistant)
{
    App a("");
    a.app->start();
    EXPECT_TRUE(a.calls.contains("showSetupAssistant"));
    EXPECT_TRUE(a.app->mainWindow()->isVisible());
}

// The program started with unsaved headers and its window closed: the exit dialog, with
// nothing recorded yet.
ExitDialog *closeWithUnsavedHeaders(App &a)
{
    a.app->start();
    a.dirty = true;
    a.app->mainWindow()->close();
    a.calls.clear();
    return a.app->exitDialog();
}

TEST(Application, ExitDialogSaveAndCancel)
{
    {
        App a("[Options]\r\nNews_Host=h\r\nchkSaveHeadersP=1\r\n");
        ExitDialog *d = closeWithUnsavedHeaders(a);
        ASSERT_TRUE(d->isVisible());
        EXPECT_TRUE(d->chkSaveHeaders->isChecked()) << "preset from the last choice";
        EXPECT_EQ(a.ended, 0);
        d->chkAlwaysSaveHeaders->setChecked(true);
        d->cmdOk->click();
        EXPECT_EQ(a.calls, QStringList({"saveFavs", "saveHeaders"}));
        EXPECT_EQ(a.ended, 1);
        EXPECT_EQ(*a.ini().value("Options", "chkSaveHeadersP"), "1");
        EXPECT_EQ(*a.ini().value("Options", "chkAlwaysSaveHeaders"), "1");
    }
    {
        App a("[Options]\r\nNews_Host=h\r\nchkSaveHeadersP=0\r\n");
        ExitDialog *d = closeWithUnsavedHeaders(a);
        EXPECT_FALSE(d->chkSaveHeaders->isChecked());
        d->cmdCancel->click();
        EXPECT_FALSE(d->isVisible());
        EXPECT_EQ(a.ended, 0);
        EXPECT_TRUE(a.calls.isEmpty()) << "nothing saved, nothing lost";
        EXPECT_TRUE(a.app->mainWindow()->isVisible());
        // A later exit without saving.
        a.app->mainWindow()->close();
        d->cmdOk->click();
        EXPECT_EQ(a.calls.count("saveHeaders"), 0);
        EXPECT_EQ(a.ended, 1);
    }
    {
        // No choice saved yet: the box starts ticked, and OK keeps the headers.
        App a("[Options]\r\nNews_Host=h\r\n");
        ExitDialog *d = closeWithUnsavedHeaders(a);
        EXPECT_TRUE(d->chkSaveHeaders->isChecked());
        d->cmdOk->click();
        EXPECT_EQ(a.calls.count("saveHeaders"), 1);
    }
}

TEST(Application, AlwaysSaveSkipsTheDialog)
{
    App a("[Options]\r\nNews_Host=h\r\nchkAlwaysSaveHeaders=1\r\n");
    a.app->start();
    a.dirty = true;
    a.app->mainWindow()->close();
    EXPECT_FALSE(a.app->exitDialog()->isVisible());
    EXPECT_TRUE(a.calls.contains("saveHeaders"));
    EXPECT_EQ(a.ended, 1);
}

TEST(Application, HeadersAndBatchSurviveARestart)
{
    const QByteArray ini = "[Options]\r\nNews_Host=h\r\nDownload_Path=DL\r\nchkAlwaysSaveHeaders=1\r\n";
    QByteArray saved;
    {
        App a(ini, {}, true);
        a.app->start();
        HeaderStore &s = a.app->store();
        for (const char *name : {"A", "B", "C"}) {
            HeaderItem it;
            it.subject = name;
            it.poster = "P";
            it.parts.resize(2);
            it.parts[0].articleNumber = 10;
            it.parts[1].articleNumber = 11;
            s.appendLoadedItem(it);
        }
        a.app->batch().AddToBatch(3);
        a.app->batch().AddToBatch(1);
        a.app->batch().AddToBatch(2);
        ASSERT_TRUE(s.headersDirty);
        a.app->mainWindow()->close();   // always save: no dialog
        EXPECT_EQ(a.ended, 1);
        QFile f(a.dir.path() + "/npending.dat");
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        saved = f.readAll();
        EXPECT_FALSE(s.headersDirty);
    }
    App b(ini, {}, true);
    {
        QFile f(b.dir.path() + "/npending.dat");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(saved);
    }
    b.app->start();
    EXPECT_TRUE(b.app->splash()->shownTexts.contains("Loading Headers"));
    EXPECT_EQ(child<QLabel>(*b.app->mainWindow(), "lblMCount")->text(), "Read: 6");
    EXPECT_EQ(child<QLabel>(*b.app->mainWindow(), "lblICount")->text(), "Items: 3");
    EXPECT_EQ(b.app->batch().rows(), (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(child<QTableView>(*b.app->mainWindow(), "ListView2")->model()->rowCount(), 3) << "the header list after loading";
    EXPECT_FALSE(b.app->store().headersDirty);

    // Save with nothing changed asks first; No writes nothing.
    QFile::remove(b.dir.path() + "/npending.dat");
    b.prompter.setAnswer(false);
    child<QPushButton>(*b.app->mainWindow(), "cmdSaveHeaders")->click();
    ASSERT_EQ(b.prompter.questions.size(), 1);
    EXPECT_EQ(b.prompter.questions.first(), "Headers not changed since last save.  Save anyway?");
    EXPECT_FALSE(QFile::exists(b.dir.path() + "/npending.dat"));
    b.prompter.setAnswer(true);
    b.app->groups().addGroup("alt.test");
    child<QPushButton>(*b.app->mainWindow(), "cmdSaveHeaders")->click();
    // The save runs in steps between turns of the event loop; the button waits for it.
    EXPECT_TRUE(b.app->headerFile().saving());
    EXPECT_FALSE(child<QPushButton>(*b.app->mainWindow(), "cmdSaveHeaders")->isEnabled());
    ASSERT_TRUE(test::waitFor([&] { return !b.app->headerFile().saving() && child<QPushButton>(*b.app->mainWindow(), "cmdSaveHeaders")->isEnabled(); }));
    QFile f(b.dir.path() + "/npending.dat");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), saved) << "the same database and batch, byte for byte";
    EXPECT_TRUE(QFile::exists(b.dir.path() + "/favs.txt"));
    EXPECT_TRUE(child<QPushButton>(*b.app->mainWindow(), "cmdSaveHeaders")->isEnabled());
    EXPECT_FALSE(b.app->splash()->isVisible());
}

TEST(Application, BatchListMenuKeysAndButtons)
{
    App a("[Options]\r\nNews_Host=h\r\nDownload_Path=DL\r\nchkAlwaysSaveHeaders=1\r\n", {}, true);
    a.app->start();
    MainWindow &w = *a.app->mainWindow();
    HeaderStore &s = a.app->store();
    for (const char *name : {"A", "B", "C", "D", "E"}) {
        HeaderItem it;
        it.subject = name;
        it.poster = "P";
        it.parts.resize(1);
        it.parts[0].byteCount = 1000;
        s.appendLoadedItem(it);
        a.app->batch().AddToBatch(s.itemCount());
    }
    auto shown = [&] {
        QString t;
        for (int r = 0; r < child<QTableView>(w, "ListView3")->model()->rowCount(); ++r) t += child<QTableView>(w, "ListView3")->model()->index(r, 0).data().toString();
        return t;
    };
    ASSERT_EQ(shown(), "ABCDE");
    // Rows 2 and 4 to the top through the list's menu; the moved rows stay selected.
    w.selectRows(child<QTableView>(w, "ListView3"), {1, 3});
    EXPECT_EQ(child<QMenu>(w, "mnuBV")->actions().size(), 9) << "five commands, a line, Pause, Resume and Category";
    EXPECT_EQ(child<QAction>(w, "mnuBVViewParts")->text(), "View Parts");
    child<QAction>(w, "mnuBVMoveToTop")->trigger();
    EXPECT_EQ(shown(), "BDACE");
    EXPECT_EQ(MainWindow::selectedRows(child<QTableView>(w, "ListView3")), (std::vector<int>{0, 1}));
    child<QAction>(w, "mnuBVMoveDown")->trigger();
    EXPECT_EQ(shown(), "ABDCE");
    // The Delete key removes the selected rows; with none selected it says so.
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(child<QTableView>(w, "ListView3"), &del);
    EXPECT_EQ(shown(), "ACE");
    EXPECT_EQ(child<QLabel>(w, "lblTotalBatchSize")->text(), "Total batch size: 3.0KB");
    child<QTableView>(w, "ListView3")->clearSelection();
    QApplication::sendEvent(child<QTableView>(w, "ListView3"), &del);
    EXPECT_EQ(a.prompter.messages.value(0), "Nothing selected.");
    EXPECT_EQ(shown(), "ACE");

    // The processed list: Delete and "Clear selected" take the selected rows, the other button all.
    ProcessedList &p = a.app->processed();
    for (const char *n : {"x", "y", "z"}) p.add({n, "Decode successful", QString(), true});
    w.selectRows(child<QTableView>(w, "ListView4"), {1});
    QApplication::sendEvent(child<QTableView>(w, "ListView4"), &del);
    ASSERT_EQ(p.rowCount(), 2);
    EXPECT_EQ(p.entry(1).subject, "z");
    w.selectRows(child<QTableView>(w, "ListView4"), {0});
    child<QPushButton>(w, "cmdProcClearSels")->click();
    ASSERT_EQ(p.rowCount(), 1);
    EXPECT_EQ(p.entry(0).subject, "z");
    child<QPushButton>(w, "cmdProcClearAll")->click();
    EXPECT_EQ(p.rowCount(), 0);
}

TEST(Application, NzbFilesDroppedImportedAndExportedThroughTheFileMenu)
{
    App a("[Options]\r\nNews_Host=h\r\nDownload_Path=DL\r\nchkAlwaysSaveHeaders=1\r\n", {}, true);
    a.app->start();
    MainWindow &w = *a.app->mainWindow();
    const NzbDocument doc = test::listedFiles(2, 2, "s");
    const QString nzb = a.dir.path() + "/two files.nzb";
    ASSERT_TRUE(writeNzbFile(nzb, doc, nullptr));
    test::writeFile(a.dir.path() + "/broken.nzb", "<nzb><file");

    // Dropped on the window: an NZB file is taken, anything else is not offered.
    QMimeData other;
    other.setUrls({QUrl::fromLocalFile(a.dir.path() + "/VANTREL.INI")});
    QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, &other, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &refused);
    EXPECT_FALSE(refused.isAccepted());
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(nzb), QUrl::fromLocalFile(a.dir.path() + "/broken.nzb")});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
    EXPECT_EQ(a.app->batch().batchRows(), 2);
    ASSERT_EQ(a.prompter.messages.size(), 1);
    EXPECT_TRUE(a.prompter.messages[0].startsWith("broken.nzb: The NZB file is damaged")) << a.prompter.messages[0].toStdString();
    EXPECT_EQ(child<QLabel>(w, "lblTotalBatchSize")->text(), "Total batch size: 4.0KB");
    EXPECT_EQ(a.app->batch().cellText(0, BatchQueue::Newsgroup), "NZB: two files.nzb");

    // Export of the batch's selected row, through the File menu's save dialog.
    w.selectPage(2);
    w.selectRows(child<QTableView>(w, "ListView3"), {1});
    EXPECT_EQ(child<QMenu>(w, "mnuFile")->actions().size(), 4) << "Import, Export, a line, Quit";
    child<QAction>(w, "mnuFileExportNzb")->trigger();
    auto *save = w.findChild<QFileDialog *>();
    ASSERT_NE(save, nullptr);
    ASSERT_TRUE(save->isVisible());
    const QString out = a.dir.path() + "/out";
    save->selectFile(out);
    static_cast<QDialog *>(save)->accept();
    const NzbParse back = parseNzb(test::readFile(out + ".nzb"));
    ASSERT_TRUE(back.ok) << back.error.toStdString();
    ASSERT_EQ(back.doc.files.size(), 1u);
    EXPECT_EQ(back.doc.files[0].subject, doc.files[1].subject);
    EXPECT_EQ(back.doc.files[0].segments[1].messageId, "s22@x");
    EXPECT_EQ(back.doc.files[0].groups, QStringList{"alt.binaries.x"});
    // The import dialog opens without blocking; nothing selected, nothing imported.
    QApplication::processEvents();
    child<QAction>(w, "mnuFileImportNzb")->trigger();
    QFileDialog *open = nullptr;
    for (QFileDialog *d : w.findChildren<QFileDialog *>())
        if (d->isVisible()) open = d;
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->fileMode(), QFileDialog::ExistingFiles);
    open->reject();
    EXPECT_EQ(a.app->batch().batchRows(), 2);

    // A packed NZB (as index sites hand them out) whose file is in the download folder
    // already: said, not fetched again, and its par2 check asked for.
    NzbDocument third;
    third.files.push_back(doc.files[0]);
    third.files[0].subject = "\"file3.bin\" yEnc (1/2)";
    for (NzbSegment &s : third.files[0].segments) s.messageId = "third" + s.messageId;
    ASSERT_TRUE(writeNzbFile(a.dir.path() + "/third.nzb", third, nullptr));
    QProcess gz;
    gz.start("gzip", {a.dir.path() + "/third.nzb"});
    ASSERT_TRUE(gz.waitForFinished() && gz.exitCode() == 0);
    QStringList said;
    QObject::connect(&a.app->core().log, &OpsLog::statusChanged, [&](const QString &m) { said << m; });
    const int before = a.app->store().itemCount();
    QMimeData packed;
    packed.setUrls({QUrl::fromLocalFile(a.dir.path() + "/third.nzb.gz")});
    QDragEnterEvent enterPacked(QPoint(5, 5), Qt::CopyAction, &packed, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enterPacked);
    EXPECT_TRUE(enterPacked.isAccepted());
    test::writeFile(a.app->decoder().DecodeFolder(before + 1) + "file3.bin", "here");
    QDropEvent dropPacked(QPointF(5, 5), Qt::CopyAction, &packed, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &dropPacked);
    EXPECT_EQ(a.app->store().itemCount(), before + 1);
    EXPECT_EQ(a.app->batch().batchRows(), 2);
    EXPECT_EQ(said.filter("third.nzb.gz: all 1 of its files are already in the download folder").size(), 1) << said.join('\n').toStdString();
}

TEST(Application, HeaderListCommandsKeysAndSearch)
{
    App a("[Options]\r\nNews_Host=h\r\nDownload_Path=DL\r\nchkAlwaysSaveHeaders=1\r\n", {}, true);
    a.app->start();
    MainWindow &w = *a.app->mainWindow();
    HeaderStore &s = a.app->store();
    for (const char *name : {"Holiday.avi", "holiday.nfo", "Music.mp3", "Other.zip"}) {
        addItem(s, name, 2, 50000);
        ++s.partsReadTotal;
    }
    a.app->headerView().ViewRefresh(false);
    QAbstractItemModel *m = child<QTableView>(w, "ListView2")->model();
    ASSERT_EQ(m->rowCount(), 4);
    auto key = [&](int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QKeyEvent e(QEvent::KeyPress, k, mods);
        QApplication::sendEvent(child<QTableView>(w, "ListView2"), &e);
    };
    // Ctrl+B queues the selected rows in list order; the list shows them as queued.
    w.selectRows(child<QTableView>(w, "ListView2"), {2, 0});
    key(Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(a.app->batch().rows(), (std::vector<int>{1, 3}));
    EXPECT_EQ(m->index(0, 0).data(HeaderListModel::IconKeyRole).toString(), "iteminbatch");

    // The list's menu runs the same commands.
    ASSERT_EQ(child<QMenu>(w, "mnuHvm")->actions().size(), 5);
    w.selectRows(child<QTableView>(w, "ListView2"), {3});
    child<QAction>(w, "mnuHvmAddToBatch")->trigger();
    EXPECT_EQ(a.app->batch().rows(), (std::vector<int>{1, 3, 4}));
    a.app->batch().RemoveFromBatch(4, false, false);

    // Delete with a selection, then with none (all, after asking), then restore.
    EXPECT_FALSE(child<QPushButton>(w, "cmdRestore")->isEnabled());
    w.selectRows(child<QTableView>(w, "ListView2"), {3});
    key(Qt::Key_Delete);
    EXPECT_EQ(m->rowCount(), 3);
    EXPECT_TRUE(child<QPushButton>(w, "cmdRestore")->isEnabled());
    EXPECT_EQ(child<QLabel>(w, "lblViewFilter")->text(), "View Filter: 3 items showing");
    child<QTableView>(w, "ListView2")->clearSelection();
    a.prompter.setAnswer(true);
    child<QPushButton>(w, "cmdDelHeaders")->click();
    EXPECT_EQ(a.prompter.questions.value(0), "Nothing selected, delete all 4 headers?");
    EXPECT_EQ(m->rowCount(), 0);
    child<QPushButton>(w, "cmdRestore")->click();
    EXPECT_EQ(a.prompter.questions.value(1), "Restore all deleted headers?");
    EXPECT_EQ(m->rowCount(), 4);
    EXPECT_FALSE(child<QPushButton>(w, "cmdRestore")->isEnabled());
    key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(MainWindow::selectedRows(child<QTableView>(w, "ListView2")).size(), 4u);

    // Ctrl+F opens the search window; a search fills the list, none found says so.
    key(Qt::Key_F, Qt::ControlModifier);
    SearchWindow &f = *a.app->searchWindow();
    EXPECT_TRUE(f.isVisible());
    child<QComboBox>(w, "cboVG")->setCurrentIndex(1);   // display off: the search goes back to all groups
    f.txtSearch->setText("holiday");
    f.cmdSearch->click();
    EXPECT_EQ(m->rowCount(), 2);
    EXPECT_EQ(child<QComboBox>(w, "cboVG")->currentIndex(), 0);
    f.chkMatchCase->setChecked(true);
    f.cmdSearch->click();
    EXPECT_EQ(m->rowCount(), 1);
    f.txtSearch->setText("nothing like it");
    f.cmdSearch->click();
    EXPECT_EQ(a.prompter.messages.value(0), "No matching headers");
    EXPECT_EQ(child<QLabel>(w, "lblViewFilter")->text(), "View Filter: 0 items showing");
    f.cmdClose->click();
    EXPECT_FALSE(f.isVisible());
}

// The filter box narrows the list as you type (Ctrl+L goes there); a column sorts by value
// (9 MB before 10 MB, 9 parts before 10) and shows its indicator; Subject takes the width
// the other columns leave; the main commands have keys, shown in the menus and tooltips.
TEST(Application, FilterBoxSortByValueSubjectWidthAndKeys)
{
    App a("[Options]\r\nNews_Host=h\r\nDownload_Path=DL\r\nchkAlwaysSaveHeaders=1\r\n", {}, true);
    a.app->start();
    MainWindow &w = *a.app->mainWindow();
    HeaderStore &s = a.app->store();
    const std::pair<const char *, int> posts[] = {{"Holiday.avi", 10}, {"holiday.nfo", 9}, {"Music.mp3", 2}, {"Other.zip", 1}};
    for (const auto &[name, parts] : posts) s.item(addItem(s, name, parts, 1'000'000)).declaredTotal = qint16(parts);
    a.app->headerView().ViewRefresh(false);
    QTableView *list = child<QTableView>(w, "ListView2");
    QAbstractItemModel *m = list->model();
    ASSERT_EQ(m->rowCount(), 4);
    auto subjects = [&] {
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r) out << m->index(r, 0).data().toString();
        return out;
    };

    QLineEdit *filter = child<QLineEdit>(w, "txtFilter");
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(list, Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(w.focusWidget(), filter);
    QTest::keyClicks(filter, "HOLI");
    ASSERT_TRUE(test::waitFor([&] { return m->rowCount() == 2; }, 5000));
    EXPECT_EQ(subjects(), (QStringList{"Holiday.avi", "holiday.nfo"}));
    QTest::keyClick(filter, Qt::Key_Backspace);
    QTest::keyClicks(filter, "x");
    ASSERT_TRUE(test::waitFor([&] { return m->rowCount() == 0; }, 5000));
    filter->clear();
    ASSERT_TRUE(test::waitFor([&] { return m->rowCount() == 4; }, 5000));

    // Sorted by value, with the indicator; the same column again turns the order.
    QHeaderView *head = list->horizontalHeader();
    EXPECT_FALSE(head->isSortIndicatorShown());
    emit head->sectionClicked(HeaderListModel::MB);
    EXPECT_EQ(subjects(), (QStringList{"Other.zip", "Music.mp3", "holiday.nfo", "Holiday.avi"}));
    EXPECT_TRUE(head->isSortIndicatorShown());
    EXPECT_EQ(head->sortIndicatorSection(), int(HeaderListModel::MB));
    EXPECT_EQ(head->sortIndicatorOrder(), Qt::AscendingOrder);
    emit head->sectionClicked(HeaderListModel::Parts);
    emit head->sectionClicked(HeaderListModel::Parts);
    EXPECT_EQ(subjects(), (QStringList{"Holiday.avi", "holiday.nfo", "Music.mp3", "Other.zip"}));
    EXPECT_EQ(head->sortIndicatorOrder(), Qt::DescendingOrder);

    // Subject fills what the others leave, wider and narrower; its own width is what is kept.
    w.resize(1600, 1000);
    auto others = [&] {
        int sum = 0;
        for (int c = 1; c < m->columnCount(); ++c) sum += list->columnWidth(c);
        return sum;
    };
    ASSERT_TRUE(test::waitFor([&] { return list->columnWidth(0) == list->viewport()->width() - others(); }, 5000))
        << list->columnWidth(0) << " of " << list->viewport()->width();
    EXPECT_GT(list->columnWidth(0), 900);
    list->setColumnWidth(1, list->columnWidth(1) + 100);
    ASSERT_TRUE(test::waitFor([&] { return list->columnWidth(0) == list->viewport()->width() - others(); }, 5000));
    EXPECT_LT(w.columnWidths(MainWindow::List::Headers).value(0), 900) << "the fill is not saved";

    // Keys, in the menus and the tooltips.
    QSignalSpy scans(&w, &MainWindow::scanRequested), options(&w, &MainWindow::optionsRequested);
    QTest::keyClick(list, Qt::Key_F5);
    EXPECT_EQ(scans.count(), 1);
    EXPECT_EQ(child<QAction>(w, "mnuRunScan")->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_TRUE(child<QPushButton>(w, "cmdScan")->toolTip().endsWith("(F5)"));
    child<QAction>(w, "mnuRunOptions")->trigger();
    EXPECT_EQ(options.count(), 1);
    EXPECT_EQ(child<QAction>(w, "mnuFileImportNzb")->shortcut(), QKeySequence(QKeySequence::Open));
    EXPECT_EQ(child<QAction>(w, "mnuFileQuit")->shortcut(), QKeySequence(QKeySequence::Quit));
    EXPECT_EQ(child<QAction>(w, "mnuRunDownload")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_D));
    EXPECT_EQ(child<QAction>(w, "mnuRunStop")->shortcut(), QKeySequence(Qt::Key_Escape));
}

// The batch list: a row's progress as a bar (pixels, not only the model) with its time
// left; Pause and Resume from the list's menu; rows dragged to a new place.
TEST(Application, BatchRowsShowProgressPauseAndDrag)
{
    App a("[Options]\r\nNews_Host=h\r\nDownload_Path=DL\r\nchkAlwaysSaveHeaders=1\r\n", {}, true);
    a.app->start();
    MainWindow &w = *a.app->mainWindow();
    HeaderStore &s = a.app->store();
    BatchQueue &b = a.app->batch();
    for (const char *name : {"One.bin", "Two.bin", "Three.bin", "Four.bin"}) b.AddToBatch(addItem(s, name, 1, 4'000'000));
    w.resize(1600, 1000);
    w.show();
    w.selectPage(2);
    QTableView *list = child<QTableView>(w, "ListView3");
    b.setFlows({{b.tagAt(0), {1'000'000, 4'000'000, 95, 2'500'000}}, {b.tagAt(1), {0, 4'000'000, 3725}}});
    EXPECT_EQ(list->model()->index(0, BatchQueue::Progress).data(Qt::ToolTipRole).toString(), "1.0 of 4.0 MB at 2.5 MB/s");
    EXPECT_EQ(b.cellText(0, BatchQueue::Progress), "25%");
    EXPECT_EQ(b.cellText(0, BatchQueue::TimeLeft), "1:35");
    EXPECT_EQ(b.cellText(1, BatchQueue::TimeLeft), "1:02:05");
    EXPECT_EQ(b.cellText(2, BatchQueue::Progress), "");
    const QRect cell = list->visualRect(list->model()->index(0, BatchQueue::Progress));
    ASSERT_GT(cell.width(), 40);
    const QImage shot = list->viewport()->grab().toImage();
    const int y = cell.center().y();
    const QColor filled = shot.pixelColor(cell.left() + cell.width() / 10, y), empty = shot.pixelColor(cell.right() - cell.width() / 10, y);
    EXPECT_NE(filled, empty) << "a quarter of the bar is drawn filled";
    const QImage none = list->viewport()->grab(list->visualRect(list->model()->index(2, BatchQueue::Progress))).toImage();
    EXPECT_EQ(none.pixelColor(none.width() / 10, none.height() / 2), none.pixelColor(none.width() * 9 / 10, none.height() / 2))
        << "no bar where there is no run";

    w.selectRows(list, {1});
    child<QAction>(w, "mnuBVPause")->trigger();
    EXPECT_TRUE(b.paused(b.tagAt(1)));
    EXPECT_TRUE(b.cellText(1, BatchQueue::Progress).startsWith("Paused")) << b.cellText(1, BatchQueue::Progress).toStdString();
    EXPECT_EQ(b.cellText(1, BatchQueue::TimeLeft), "");
    child<QAction>(w, "mnuBVResume")->trigger();
    EXPECT_FALSE(b.paused(b.tagAt(1)));

    // Row one dragged onto row four: it lands before it, and stays selected.
    const std::vector<int> before = b.rows();
    w.selectRows(list, {0});
    std::unique_ptr<QMimeData> rows(list->model()->mimeData({list->model()->index(0, 0)}));
    const QPoint at = list->visualRect(list->model()->index(3, 0)).center();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, rows.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, rows.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(b.rows(), (std::vector<int>{before[1], before[2], before[0], before[3]}));
    EXPECT_EQ(MainWindow::selectedRows(list), (std::vector<int>{2}));
}

namespace {
// The desktop's notification service, as a test's own bus carries it: each call recorded.
struct NotificationService : QDBusVirtualObject {
    QList<QVariantList> calls;
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &m, const QDBusConnection &c) override
    {
        if (m.member() != QLatin1String("Notify")) return false;
        calls << m.arguments();
        c.send(m.createReply(QVariant::fromValue(uint(calls.size()))));
        return true;
    }
};
} // namespace

// A scan's end and a download's go to the desktop's notification service (over a real bus,
// its own dbus-daemon), once each, and the tray's tooltip follows the download; switched
// off in the options, nothing goes.
TEST(Application, DesktopNotificationsAndTheTrayForAScanAndADownload)
{
    QProcess daemon;
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(daemon.waitForStarted()) << "dbus-daemon (scripts/setup.sh installs it)";
    ASSERT_TRUE(test::waitFor([&] { return daemon.canReadLine(); }, 10000));
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    {
        QDBusConnection svc = QDBusConnection::connectToBus(address, "notification-service");
        ASSERT_TRUE(svc.isConnected());
        NotificationService service;
        ASSERT_TRUE(svc.registerService("org.freedesktop.Notifications"));
        ASSERT_TRUE(svc.registerVirtualObject("/org/freedesktop/Notifications", &service));
        test::TestServer server({"--group", "alt.binaries.one:1:50", "--yenc-only", "--part-bytes", "150000", "--rate", "400000"});
        App a("[Options]\r\nNews_Host=127.0.0.1\r\nNews_Port=" + QByteArray::number(server.port())
                  + "\r\nDownload_Path=DL\r\nchkAlwaysSaveHeaders=1\r\n",
              {}, true);
        a.app->start();
        a.app->notifier()->busAddress = address;
        a.app->groups().addGroup("alt.binaries.one");
        a.app->session().connectForScan();
        ASSERT_TRUE(test::waitFor([&] { return !service.calls.isEmpty(); }, 20000));
        const QVariantList c = service.calls[0];
        EXPECT_EQ(c.value(0).toString(), "Vantrel");
        EXPECT_EQ(c.value(3).toString(), "Scan finished");
        EXPECT_TRUE(c.value(4).toString().startsWith("Scan Complete. 50 headers read in")) << c.value(4).toString().toStdString();
        // A download's end too; while it runs the tray's tooltip gives the speed and what is left.
        QStringList tips;
        QObject::connect(&a.app->download(), &DownloadDriver::progressChanged,
                         [&] { tips << a.app->notifier()->tray()->toolTip(); });
        for (int i = 1; i <= a.app->store().itemCount() && a.app->batch().batchRows() < 2; ++i)
            if (a.app->store().itemState(i) == ItemState::Complete) a.app->batch().AddToBatch(i);
        a.app->download().startCheck();
        ASSERT_TRUE(test::waitFor([&] { return service.calls.size() == 2; }, 30000));
        EXPECT_EQ(service.calls[1].value(3).toString(), "Download finished");
        EXPECT_TRUE(service.calls[1].value(4).toString().startsWith("Done: 2 decoded, 0 failed")) << service.calls[1].value(4).toString().toStdString();
        EXPECT_FALSE(tips.filter(QRegularExpression("^Vantrel: [0-9.]+ [KM]B/s, [0-9.]+ MB left$")).isEmpty()) << tips.join('|').toStdString();
        EXPECT_EQ(a.app->notifier()->tray()->toolTip(), "Vantrel") << "no run: no figures";
        a.app->core().settings.chkNotify = false;
        int scans = 0;
        QObject::connect(&a.app->scan(), &ScanDriver::scanOver, [&] { ++scans; });
        a.app->session().connectForScan();
        ASSERT_TRUE(test::waitFor([&] { return scans == 1; }, 20000));
        test::settle();
        EXPECT_EQ(service.calls.size(), 2);
        svc.unregisterObject("/org/freedesktop/Notifications");
    }
    QDBusConnection::disconnectFromBus("notification-service");
    QDBusConnection::disconnectFromBus("vantrel-notify");
    daemon.kill();
    daemon.waitForFinished();
}

// The speed graph: the last minutes, newest on the right, in the palette's colours, light
// or dark, three minutes at most.
TEST(MainWindow, SpeedGraphInTheDesktopsColours)
{
    SpeedGraph g;
    g.resize(200, 50);
    for (int i = 0; i < 60; ++i) g.addSample(i < 30 ? 0 : 5e6);
    QPalette dark;
    dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x24));
    dark.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
    dark.setColor(QPalette::Text, Qt::white);
    for (const QPalette &pal : {QApplication::palette(), dark}) {
        g.setPalette(pal);
        const QImage img = g.grab().toImage();
        EXPECT_EQ(img.pixelColor(190, 40), pal.color(QPalette::Highlight)) << "the last half minute, filled";
        EXPECT_EQ(img.pixelColor(150, 40), pal.color(QPalette::Base)) << "the half minute before it, nothing";
        EXPECT_EQ(img.pixelColor(60, 40), pal.color(QPalette::Base)) << "before the first sample";
    }
    EXPECT_EQ(rateText(5e6), "5.0 MB/s");
    EXPECT_EQ(rateText(850e3), "850 KB/s");
    for (int i = 0; i < 200; ++i) g.addSample(1);
    EXPECT_EQ(g.samples().size(), size_t(SpeedGraph::kSamples));
}

TEST(Application, ColumnWidthsSurviveARestart)
{
    QByteArray ini;
    {
        App a("[Options]\r\nNews_Host=h\r\n[Batch View Column Sizes]\r\nC2=77\r\n");
        a.app->start();
        MainWindow &w = *a.app->mainWindow();
        EXPECT_EQ(child<QTableView>(w, "ListView3")->columnWidth(1), 77) << "read from the settings file";
        EXPECT_EQ(w.columnWidths(MainWindow::List::Headers).value(0), 360) << "the default";
        EXPECT_GE(child<QTableView>(w, "ListView2")->columnWidth(0), 360) << "and more where there is room";
        child<QTableView>(w, "ListView2")->setColumnWidth(0, 222);
        child<QTableView>(w, "ListView4")->setColumnWidth(1, 99);
        a.app->mainWindow()->close();
        ASSERT_EQ(a.ended, 1);
        EXPECT_EQ(*a.ini().value("Header View Column Sizes", "C1"), "222");
        EXPECT_EQ(*a.ini().value("Proccessed View Column Sizes", "C2"), "99");
        QFile f(a.dir.path() + "/VANTREL.INI");
        f.open(QIODevice::ReadOnly);
        ini = f.readAll();
    }
    App b(ini);
    b.app->start();
    EXPECT_EQ(b.app->mainWindow()->columnWidths(MainWindow::List::Headers).value(0), 222);
    EXPECT_GE(child<QTableView>(*b.app->mainWindow(), "ListView2")->columnWidth(0), 222);
    EXPECT_EQ(child<QTableView>(*b.app->mainWindow(), "ListView3")->columnWidth(1), 77);
    EXPECT_EQ(child<QTableView>(*b.app->mainWindow(), "ListView4")->columnWidth(1), 99);
}

TEST(Application, ScanButtonAndLoginDialog)
{
    App a("[Options]\r\nNews_Host=news.example\r\nNews_Port=119\r\n");
    a.app->start();
    MainWindow &w = *a.app->mainWindow();
    // No download folder: the assistant, or (No) the folder picker.
    a.app->core().settings.Download_Path.clear();
    a.prompter.setAnswer(true);
    a.calls.clear();
    child<QPushButton>(w, "cmdScan")->click();
    EXPECT_EQ(a.prompter.questions.value(0), "Base download path not set.  Do you want to run setup assistant?");
    EXPECT_EQ(a.calls.count("showSetupAssistant"), 1);
    a.prompter.setAnswer(false);
    child<QPushButton>(w, "cmdScan")->click();
    EXPECT_EQ(a.prompter.folderPicks.value(0), "Select 'Base Download' Folder");
    EXPECT_FALSE(a.app->loginDialog()->isVisible());

    a.app->core().settings.Download_Path = a.dir.path() + "/dl/";
    child<QPushButton>(w, "cmdScan")->click();
    LoginDialog &d = *a.app->loginDialog();
    ASSERT_TRUE(d.isVisible());
    EXPECT_EQ(d.txtHost->text(), "news.example");
    EXPECT_EQ(d.txtPassword->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(d.txtUserName->isEnabled());
    EXPECT_FALSE(d.lblPassword->isEnabled());
    d.chkAuth->click();
    EXPECT_TRUE(d.txtUserName->isEnabled());
    EXPECT_TRUE(d.lblPassword->isEnabled());
    EXPECT_TRUE(a.app->core().settings.chkAuth);
    // Typing goes straight into the settings, which the exit writes.
    d.txtHost->setFocus();
    d.txtHost->selectAll();
    d.txtHost->insert("news.other");
    emit d.txtHost->textEdited(d.txtHost->text());
    EXPECT_EQ(a.app->core().settings.News_Host, "news.other");
    // No newsgroups yet: Connect says so and opens the add-newsgroup dialog.
    d.cmdGO->click();
    EXPECT_TRUE(a.prompter.messages.value(0).startsWith("Before scanning, you need to specify some newsgroups."));
    AddGroupDialog &add = *a.app->addGroupDialog();
    ASSERT_TRUE(add.isVisible());
    add.cmdOk->click();
    EXPECT_EQ(a.app->groups().rows(), 0) << "an empty name adds nothing";
    add.show();
    a.calls.clear();
    add.Text1->setText("  alt.binaries.new  ");
    add.cmdOk->click();
    EXPECT_FALSE(add.isVisible());
    ASSERT_EQ(a.app->groups().rows(), 1);
    EXPECT_EQ(a.app->groups().nameByKey(a.app->groups().rowKey(1)), "alt.binaries.new");
    EXPECT_EQ(a.calls, QStringList{"fillGroupChooser"}) << "the chooser follows";
    child<QPushButton>(w, "cmdScan")->click();
    d.cmdExit->click();
    EXPECT_FALSE(d.isVisible());
    a.app->mainWindow()->close();
    EXPECT_EQ(*a.ini().value("Options", "News_Host"), "news.other");
    EXPECT_EQ(*a.ini().value("Options", "chkAuth"), "1");
}

TEST(Application, CommandLine)
{
    {
        App a("[Options]\r\nNews_Host=h\r\n", " /scanx");
        a.app->start();
        ASSERT_EQ(a.prompter.messages.size(), 1);
        EXPECT_EQ(a.prompter.messages.first(), "Command line option not valid:  /scanx\r\rValid options are /SCAN or /DOWNLOAD");
    }
    {
        App a("[Options]\r\nDownload_Path=DL\r\n", " /scan ");
        a.app->start();
        ASSERT_EQ(a.prompter.questions.size(), 1) << "the scan starts and finds no server name";
        EXPECT_TRUE(a.prompter.questions.first().startsWith("You have not entered a news server name!"));
    }
    {
        App a("[Options]\r\nNews_Host=h\r\n");
        a.app->start();
        EXPECT_TRUE(a.prompter.messages.isEmpty());
        EXPECT_TRUE(a.prompter.questions.isEmpty());
    }
}

TEST(Application, PreviewFilesGoAtExit)
{
    App a;
    a.app->start();
    const QString prev = a.app->core().settings.Cache_Path + "previews/";
    QDir().mkpath(prev);
    for (const char *n : {"VT1.mp3", "VTpart.tmp", "keep.txt"}) QFile(prev + n).open(QIODevice::WriteOnly);
    a.app->mainWindow()->close();
    EXPECT_EQ(QDir(prev).entryList(QDir::Files), QStringList({"keep.txt"}));
}

TEST(LogWindow, Buttons)
{
    App a("[Options]\r\nNews_Host=h\r\nchkEnableLogging=1\r\n");
    a.app->start();
    LogWindow *w = a.app->logWindow();
    EXPECT_TRUE(w->chkEnableLogging->isChecked());
    a.app->core().LogOp("hello", true);
    EXPECT_EQ(w->List1->model()->rowCount(), 1);
    EXPECT_EQ(child<QLabel>(*a.app->mainWindow(), "lblCapX")->text(), "hello");
    w->cmdOpenLog->click();
    EXPECT_EQ(a.prompter.messages.last(), "File does not exist.");
    QString opened;
    w->openFile = [&](const QString &p) { opened = p; };
    w->chkLogFile->setChecked(true);
    a.app->core().LogOp("to the file", true);
    w->cmdOpenLog->click();
    EXPECT_EQ(opened, a.app->core().paths.opsLog());
    w->cmdClear->click();
    EXPECT_EQ(w->List1->model()->rowCount(), 0);
    EXPECT_TRUE(QFile::exists(a.app->core().paths.opsLog())) << "clearing the list leaves the file";
    w->show();
    w->close();
    EXPECT_FALSE(w->isVisible());
}

TEST(Program, StartsAndStopsThroughTheShutdownSequence)
{
    QTemporaryDir dir;
    const QString exe = dir.path() + "/vantrel";
    ASSERT_TRUE(QFile::copy(VANTREL_EXE, exe));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(exe, {});
    ASSERT_TRUE(p.waitForStarted());
    // The download folder appears when the settings have loaded.
    ASSERT_TRUE(test::waitFor([&] { return QFileInfo(dir.path() + "/download/vtcache").isDir(); }, 15000));
    test::spin(500);
    ::kill(pid_t(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0);
    IniFile ini(dir.path() + "/VANTREL.INI");
    ini.load();
    EXPECT_EQ(*ini.value("Options", "Download_Path"), dir.path() + "/download/");
    EXPECT_EQ(*ini.value("Options", "chkAutoExpire"), "1");
    EXPECT_TRUE(ini.value("Sizing", "WindowState").has_value());
}

// A termination signal with unsaved headers (a scan just done, "always save" off) still
// ends the program, and keeps the headers: nobody is there to answer the exit dialog.
TEST(Program, TerminationSignalAfterAScanSavesAndEnds)
{
    test::TestServer server({"--group", "alt.binaries.one:1:40"});
    QTemporaryDir dir;
    const QString exe = dir.path() + "/vantrel";
    ASSERT_TRUE(QFile::copy(VANTREL_EXE, exe));
    QFile ini(dir.path() + "/VANTREL.INI");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Options]\r\nNews_Host=127.0.0.1\r\nNews_Port=" + QByteArray::number(server.port())
              + "\r\nchkAutodownload=0\r\nchkEnableLogging=1\r\nchkLogFile=1\r\nchkSaveAfterScan=0\r\nchkAlwaysSaveHeaders=0\r\nDownload_Path="
              + (dir.path() + "/dl/").toUtf8() + "\r\n");
    ini.close();
    QFile favs(dir.path() + "/favs.txt");
    ASSERT_TRUE(favs.open(QIODevice::WriteOnly));
    favs.write("alt.binaries.one,0,False,1\r\n");
    favs.close();
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(exe, {"/SCAN"});
    ASSERT_TRUE(p.waitForStarted());
    ASSERT_TRUE(test::waitFor([&] { return test::readFile(dir.path() + "/OPSLOG.TXT").contains("Scan Complete."); }, 20000));
    ::kill(pid_t(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(test::readFile(dir.path() + "/npending.dat").startsWith("VTLHF15\r\n"));
    EXPECT_EQ(test::readFile(dir.path() + "/favs.txt"), QByteArray("alt.binaries.one,40,False,1\r\n"));
}

TEST(Program, ScansTheTestServerFromTheWindow)
{
    // The real stores: favs.txt in, a scan from the Scan button, favs.txt and counters out.
    test::TestServer server({"--group", "alt.binaries.one:1000:150", "--segment"});
    QTemporaryDir dir;
    QFile ini(dir.path() + "/VANTREL.INI");
    ini.open(QIODevice::WriteOnly);
    ini.write("[Options]\r\nNews_Host=127.0.0.1\r\nNews_Port=" + QByteArray::number(server.port())
              + "\r\nchkAutodownload=0\r\nchkEnableLogging=1\r\nDownload_Path=" + (dir.path() + "/dl/").toUtf8() + "\r\n");
    ini.close();
    QFile favs(dir.path() + "/favs.txt");
    favs.open(QIODevice::WriteOnly);
    favs.write("alt.binaries.one,0,False,1\r\n");
    favs.close();
    QuietPrompter prompter;
    Application app(AppPaths(dir.path()), {}, &prompter);
    int ended = 0;
    app.endProcess = [&] { ++ended; };
    app.start();
    ASSERT_EQ(app.groups().rows(), 1);
    // No rate known: no estimates, and no captions standing in for them.
    EXPECT_TRUE(child<QLabel>(*app.mainWindow(), "lblCurrentFileTime")->isHidden());
    EXPECT_TRUE(child<QLabel>(*app.mainWindow(), "lblTotalBatchTime")->isHidden());
    const int partsWidth = child<QTableView>(*app.mainWindow(), "ListView2")->columnWidth(1);
    child<QPushButton>(*app.mainWindow(), "cmdScan")->click();
    ASSERT_TRUE(app.loginDialog()->isVisible());
    EXPECT_EQ(app.loginDialog()->txtHost->text(), "127.0.0.1");
    app.loginDialog()->cmdGO->click();
    EXPECT_FALSE(app.loginDialog()->isVisible());
    ASSERT_TRUE(test::waitFor([&] { return child<QPushButton>(*app.mainWindow(), "cmdScan")->isEnabled() && app.store().itemCount() > 0
                                           && app.session().TCP1.state() == 0; }, 20000));
    EXPECT_EQ(child<QLabel>(*app.mainWindow(), "lblMCount")->text(), "Read: 150");
    // No widths saved yet: the columns fit what the first rows hold (not "00..." or "Bob Pos...").
    QTableView *list = child<QTableView>(*app.mainWindow(), "ListView2");
    ASSERT_TRUE(test::waitFor([&] { return list->columnWidth(1) != partsWidth; }));
    for (int c = 0; c < list->model()->columnCount(); ++c) {
        int widest = 0;
        for (int r = 0; r < list->model()->rowCount(); ++r)
            widest = std::max(widest, list->fontMetrics().horizontalAdvance(list->model()->index(r, c).data().toString()));
        EXPECT_GE(list->columnWidth(c), std::min(480, widest)) << "column " << c;
    }
    EXPECT_TRUE(child<QLabel>(*app.mainWindow(), "lblICount")->text().startsWith("Items: "));
    EXPECT_TRUE(child<QLabel>(*app.mainWindow(), "lblCapX")->text().startsWith("Connection Closed") ||
                child<QLabel>(*app.mainWindow(), "lblCapX")->text().startsWith("Scan Complete."));
    EXPECT_TRUE(app.store().headersDirty);
    // The header list followed the bursts: one row per item not deleted.
    int live = 0;
    for (int i = 1; i <= app.store().itemCount(); ++i) live += !app.store().item(i).deleted;
    EXPECT_EQ(child<QTableView>(*app.mainWindow(), "ListView2")->model()->rowCount(), live);
    EXPECT_EQ(child<QLabel>(*app.mainWindow(), "lblViewFilter")->text(), "View Filter: " + QString::number(live) + " items showing");
    // The chooser and the toggles choose what the list shows.
    MainWindow &w = *app.mainWindow();
    ASSERT_EQ(child<QComboBox>(w, "cboVG")->count(), 3);
    EXPECT_EQ(child<QComboBox>(w, "cboVG")->itemText(0), "All Newsgroups");
    EXPECT_EQ(child<QComboBox>(w, "cboVG")->itemText(2), "alt.binaries.one");
    child<QComboBox>(w, "cboVG")->setCurrentIndex(1);
    EXPECT_EQ(child<QTableView>(w, "ListView2")->model()->rowCount(), 0);
    child<QComboBox>(w, "cboVG")->setCurrentIndex(2);
    EXPECT_EQ(child<QTableView>(w, "ListView2")->model()->rowCount(), live);
    int complete = 0;
    for (int i = 1; i <= app.store().itemCount(); ++i)
        complete += !app.store().item(i).deleted && app.store().itemState(i) == ItemState::Complete;
    ASSERT_GT(complete, 0);
    child<QAction>(w, "btnsComplete")->trigger();
    EXPECT_EQ(child<QTableView>(w, "ListView2")->model()->rowCount(), live - complete);
    child<QAction>(w, "btnsComplete")->trigger();
    EXPECT_EQ(child<QTableView>(w, "ListView2")->model()->rowCount(), live);
    // The server dropped the group's old articles: the expired rows leave the list of all
    // groups at once.
    child<QComboBox>(w, "cboVG")->setCurrentIndex(0);
    ASSERT_EQ(child<QTableView>(w, "ListView2")->model()->rowCount(), live);
    app.scan().AutoExpire(quint8(app.groups().rowKey(1)), 1100);
    EXPECT_LT(child<QTableView>(w, "ListView2")->model()->rowCount(), live);
    int left = 0;
    for (int i = 1; i <= app.store().itemCount(); ++i) left += !app.store().item(i).deleted;
    EXPECT_EQ(child<QTableView>(w, "ListView2")->model()->rowCount(), left);
    // Unsaved headers: the exit dialog; leave without saving. The read mark stays where the
    // saved headers end (none were saved), so the next scan reads these articles again, and
    // the two items queued meanwhile are kept (alone) with the batch.
    QList<QByteArray> queued;
    for (int i = 1; i <= app.store().itemCount() && queued.size() < 2; ++i)
        if (!app.store().item(i).deleted) {
            app.batch().AddToBatch(i);
            queued << app.store().item(i).subject;
        }
    app.mainWindow()->close();
    ASSERT_TRUE(app.exitDialog()->isVisible());
    app.exitDialog()->chkSaveHeaders->setChecked(false);
    app.exitDialog()->cmdOk->click();
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(test::readFile(dir.path() + "/favs.txt"), QByteArray("alt.binaries.one,0,False,1\r\n"));
    HeaderStore kept;
    BatchQueue batch(kept);
    OpsLog log;
    HeaderFile reader(kept, log, prompter);
    ASSERT_TRUE(reader.LoadHeaders(dir.path() + "/npending.dat", &batch));
    ASSERT_EQ(batch.batchItems().size(), 2u);
    EXPECT_EQ(kept.itemCount(), 2);
    for (int r = 0; r < 2; ++r) EXPECT_EQ(kept.item(batch.batchItems()[size_t(r)]).subject, queued[r]);
}

// Save pressed while a scan files headers: the save runs in steps beside the scan, and the
// file it leaves loads back whole, with every item it counts.
TEST(Program, SaveDuringAScanLoadsBackWhole)
{
    test::TestServer server({"--group", "alt.binaries.big:1:30000", "--latency", "2"});
    QTemporaryDir dir;
    test::writeFile(dir.path() + "/VANTREL.INI", "[Options]\r\nNews_Host=127.0.0.1\r\nNews_Port=" + QByteArray::number(server.port())
                                                     + "\r\nchkAutodownload=0\r\nDownload_Path=" + (dir.path() + "/dl/").toUtf8() + "\r\n");
    test::writeFile(dir.path() + "/favs.txt", "alt.binaries.big,0,False,1\r\n");
    QuietPrompter prompter(true);
    Application app(AppPaths(dir.path()), {}, &prompter);
    app.endProcess = [] {};
    app.start();
    app.session().connectForScan();
    ASSERT_TRUE(test::waitFor([&] { return app.store().itemCount() > 0; }, 20000));
    child<QPushButton>(*app.mainWindow(), "cmdSaveHeaders")->click();
    EXPECT_TRUE(app.session().scanInProgress) << "saved while the scan runs";
    ASSERT_TRUE(test::waitFor([&] { return !app.headerFile().saving(); }, 20000));
    ASSERT_TRUE(test::waitFor([&] { return !app.session().scanInProgress && app.session().TCP1.state() == 0; }, 60000));

    HeaderStore loaded;
    BatchQueue batch(loaded);
    OpsLog log;
    HeaderFile reader(loaded, log, prompter);
    ASSERT_TRUE(reader.LoadHeaders(dir.path() + "/npending.dat", &batch));
    EXPECT_FALSE(QFile::exists(dir.path() + "/npending.dat.damaged"));
    const QByteArray head = test::readFile(dir.path() + "/npending.dat").left(40);
    EXPECT_EQ(QByteArray::number(loaded.itemCount()), head.split('\n').value(1).trimmed());
    EXPECT_GT(loaded.itemCount(), 0);
    EXPECT_LE(loaded.itemCount(), app.store().itemCount());
}
