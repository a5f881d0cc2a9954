#include "Application.h"
#include "Notifier.h"
#include "ui/SpeedGraph.h"
#include "core/CommandLine.h"
#include "core/Text.h"
#include "decode/FileNames.h"
#include "nzb/NzbImport.h"
#include <QFileInfo>
#include "ui/ExitDialog.h"
#include "ui/LogWindow.h"
#include "ui/MainWindow.h"
#include "ui/SplashWindow.h"
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include "ui/AddGroupDialog.h"
#include "ui/LoginDialog.h"
#include "ui/SearchWindow.h"
#include "ui/Skin.h"
#include "ui/FolderDialog.h"
#include "ui/OptionsDialog.h"
#include "ui/WatchWindow.h"
#include "ui/ViewerWindow.h"
#include "viewers/ArticleViewer.h"
#include "viewers/PartsList.h"
#include "viewers/Preview.h"
#include "groups/HostGroupList.h"
#include "ui/HostGroupsWindow.h"
#include "ui/SetupWindow.h"
#include "setup/SetupAssistant.h"
#include <QSignalBlocker>
#include <QScreen>
#include <QSoundEffect>
#include <QUrl>
#include <QFileDialog>
#include <map>

namespace vt {

namespace {
constexpr int kTwipsPerPixel = 15;
}

Application::Application(const AppPaths &paths, QString rawCommandLine, Prompter *prompter)
    : m_cmdLine(std::move(rawCommandLine)),
      m_engine(std::make_unique<Engine>(paths, prompter ? *prompter : m_widgetPrompter)),
      m_core(&m_engine->core), m_session(&m_engine->session), m_groups(&m_engine->groups), m_store(m_engine->store),
      m_watch(m_engine->watch), m_scan(&m_engine->scan), m_batch(&m_engine->batch), m_view(&m_engine->view),
      m_processed(m_engine->processed), m_cache(&m_engine->cache), m_decoder(&m_engine->decoder), m_nzb(m_engine->nzb),
      m_download(&m_engine->download), m_headerFile(&m_engine->headerFile)
{
    m_remote = std::make_unique<Remote>(*m_engine);
    connect(m_headerFile, &HeaderFile::saveFinished, this, &Application::headersSaved);
    wireStores();
    endProcess = [] { QCoreApplication::exit(0); };

    // Sounds through Qt Multimedia, one effect per file, kept for reuse.
    auto effects = std::make_shared<std::map<QString, std::unique_ptr<QSoundEffect>>>();
    m_core->sounds.setBackend([effects](const QString &file) {
        auto &e = (*effects)[file];
        if (!e) {
            e = std::make_unique<QSoundEffect>();
            e->setSource(QUrl::fromLocalFile(file));
        }
        e->play();
    });
    m_session->showSetupAssistant = [this] {
        if (stores.showSetupAssistant) stores.showSetupAssistant();
    };
    buildStartup();
}

Application::~Application() = default;

void Application::wireStores()
{
    AppCore &c = *m_core;
    stores.loadWatch = [this] { m_engine->loadWatchList(); };
    stores.saveWatch = [this, &c] { m_watch.SaveWatchList(c.paths.watch(), &c.log); };
    stores.loadFavs = [this, &c] { m_groups->loadFavourites(c.paths.favs()); };
    stores.saveFavs = [this, &c] { m_groups->saveFavourites(c.paths.favs()); };
    stores.headersDirty = [this] { return m_store.headersDirty; };
    m_headerFile->progress = [this](const QString &status, qint64 value, qint64 max) {
        if (m_splash) m_splash->showProgress(status, value, max);
    };
    stores.loadHeaders = [this] {
        m_engine->loadHeaders();
        if (m_headersPage) m_headersPage->showCounters();
    };
    stores.saveHeaders = [this] { saveHeadersNow(); };
    stores.fillGroupChooser = [this] {
        if (m_headersPage) m_headersPage->fillGroupChooser();
    };
    stores.loadSkin = [this, &c] {
        load_default_skin(m_main->images(), c.paths.skinFolder(), c.prompter);
        m_main->applyImages();
    };
    m_scan->saveFavourites = [this] {
        if (!m_store.headersDirty && !m_headerFile->saving()) m_engine->marksCovered();
        stores.saveFavs();
    };
    m_scan->saveHeaders = [this] {
        if (stores.saveHeaders) stores.saveHeaders();
    };
}

void Application::bindPages()
{
    MainWindow &w = *m_main;
    w.setListModels(m_view, m_batch, &m_processed);
    m_headersPage = std::make_unique<HeadersPage>(*m_engine, w);
    m_batchPage = std::make_unique<BatchPage>(*m_engine, w);
    m_processedPage = std::make_unique<ProcessedPage>(*m_engine, w);
    connect(&w, &MainWindow::importNzbRequested, this, &Application::askNzbToImport);
    connect(&w, &MainWindow::exportNzbRequested, this, &Application::askNzbToExport);
    connect(&w, &MainWindow::nzbFilesDropped, this, &Application::importNzbFiles);
    connect(&w, &MainWindow::activated, this, [this] { m_core->resources.ShowResourceStats(false); });
    // The desktop is told when a run or a scan is over; the tray shows the speed and what is left.
    m_notifier = std::make_unique<DesktopNotifier>(*m_core, &w);
    connect(m_download, &DownloadDriver::runOver, m_notifier.get(), [this](bool ok, const QString &text) {
        m_notifier->notify(ok ? QStringLiteral("Download finished") : QStringLiteral("Download: not everything went right"), text, !ok);
    });
    connect(m_scan, &ScanDriver::scanOver, m_notifier.get(),
            [this](const QString &text) { m_notifier->notify(QStringLiteral("Scan finished"), text, false); });
    connect(m_download, &DownloadDriver::progressChanged, m_notifier.get(), [this] {
        const DownloadDriver::Progress p = m_download->progress();
        m_notifier->setTrayText(QStringLiteral("Vantrel: ") + rateText(p.rate) + QStringLiteral(", ")
                                + QString::number(double(std::max<qint64>(0, p.batchTotal - p.batchDone)) / 1e6, 'f', 1)
                                + QStringLiteral(" MB left"));
    });
    connect(m_download, &DownloadDriver::runningChanged, m_notifier.get(), [this](bool on) {
        if (!on) m_notifier->setTrayText(QStringLiteral("Vantrel"));
    });
    connect(m_groups, &NewsgroupTable::groupsChanged, this, [this] {
        if (stores.fillGroupChooser) stores.fillGroupChooser();
    });
}

void Application::buildStartup()
{
    using Step = StartupSequence::Step;
    m_startup.add(Step{"folder", {}, 1, -1, {[this] {
                           QDir::setCurrent(m_core->paths.folder());
                           m_splash->show();
                       }}});
    m_startup.add(Step{"main", QStringLiteral("Loading Main Window"), -1, 2, {[this] {
                           m_main = std::make_unique<MainWindow>(*m_core);
                           m_widgetPrompter.setParent(m_main.get());
                           m_log = std::make_unique<LogWindow>(*m_core, m_main.get());
                           m_exit = std::make_unique<ExitDialog>(*m_core, m_main.get());
                           m_exit->finalExit = [this](bool save) { finalExit(save); };
                           connect(m_main.get(), &MainWindow::closeRequested, this, &Application::shutdown);
                           connect(m_main.get(), &MainWindow::logRequested, m_log.get(), &QWidget::show);
                           m_login = std::make_unique<LoginDialog>(m_core->settings, m_main.get());
                           connect(m_main.get(), &MainWindow::scanRequested, this, &Application::scanCommand);
                           m_addGroup = std::make_unique<AddGroupDialog>(m_main.get());
                           m_session->showAddNewsgroup = [this] {
                               m_addGroup->Text1->clear();
                               m_addGroup->show();
                           };
                           connect(m_addGroup->cmdOk, &QPushButton::clicked, this, [this] {
                               const QString name = m_addGroup->Text1->text().trimmed();
                               if (!name.isEmpty()) m_groups->addGroup(name);
                               m_addGroup->hide();
                           });
                           connect(m_login->cmdGO, &QPushButton::clicked, this, [this] {
                               m_login->hide();
                               m_session->connectForScan();
                           });
                           connect(m_main.get(), &MainWindow::stopScanRequested, this, [this] { m_scan->abortScan(true); });
                           connect(m_main.get(), &MainWindow::saveHeadersRequested, this, &Application::saveHeadersCommand);
                           bindPages();
                           buildDialogs();
                       }}});
    m_startup.add(Step{"settings", QStringLiteral("Loading INI settings"), -1, 3, {[this] {
                           m_core->settingsFile.LoadSettings(m_core->settings);
                           m_core->applySettings();
                           m_log->chkEnableLogging->setChecked(m_core->settings.chkEnableLogging);
                           m_log->chkLogFile->setChecked(m_core->settings.chkLogFile);
                           applyViewToggles();
                           applyOptions();
                           if (stores.loadWatch) stores.loadWatch();
                       }}});
    m_startup.add(Step{"graphics", QStringLiteral("Loading Graphics"), -1, 4, {[this] {
                           if (stores.loadSkin) stores.loadSkin();
                       }}});
    m_startup.add(Step{"newsgroups", QStringLiteral("Loading Newsgroups"), 5, -1, {[this] {
                           if (stores.loadFavs) stores.loadFavs();
                       }}});
    m_startup.add(Step{"windowsizes", QStringLiteral("Loading Window Sizes"), -1, 7, {[this] {
                           m_core->settingsFile.LoadWindowSizes(m_core->settings);
                           applyWindowSizes();
                       }}});
    m_startup.add(Step{"columnsizes", QStringLiteral("Loading Column Sizes"), -1, 9, {[this] {
                           m_core->settingsFile.LoadColumnSizes(m_core->settings);
                           applyColumnWidths();
                           fitUnsavedColumnsToFirstRows();
                       }}});
    m_startup.add(Step{"headers", {}, -1, -1, {[this] {
                           if (stores.loadHeaders) stores.loadHeaders();
                           if (stores.fillGroupChooser) stores.fillGroupChooser();
                       }}});
    m_startup.add(Step{"show", {}, -1, -1, {[this] {
                           m_splash->hide();
                           if (m_core->settings.WindowState == 2) m_main->showMaximized();
                           else m_main->show();
                           if (m_core->settings.setupNeeded && stores.showSetupAssistant) stores.showSetupAssistant();
                       }}});
    m_startup.add(Step{"ready", {}, -1, -1, {[this] {
                           m_core->sounds.PrepareSoundFolder();
                           m_core->sounds.PlaySound(QStringLiteral("vtv001.wav"));
                           m_core->resources.ShowResourceStats(true);
                           m_core->resources.setDisabled(m_core->settings.chkDisableStats);
                           // The API, the web page and the watched folder, as the options say.
                           m_remote->start(false);
                       }}});
}

void Application::start()
{
    m_splash = std::make_unique<SplashWindow>();
    m_startup.run([this](const QString &status, int progress) { m_splash->showStatus(status, progress); },
                  [this](const QString &what) { m_core->prompter.message(QStringLiteral("Error in main: ") + what); });
    if (!launchNzbFiles.isEmpty()) importNzbFiles(std::exchange(launchNzbFiles, {}));
    if (!m_cmdLine.isEmpty()) runCommandLine();
}

void Application::importNzbFiles(const QStringList &paths) { m_engine->importNzbFiles(paths); }

bool Application::exportNzb(const QString &path, const std::vector<int> &items)
{
    const NzbDocument doc = vt::exportNzb(m_store, m_groups, m_nzb, items);
    QString error;
    if (doc.files.empty()) {
        m_core->prompter.message(QStringLiteral("Nothing to export: select the items first."));
        return false;
    }
    if (!writeNzbFile(path, doc, &error)) {
        m_core->prompter.message(QStringLiteral("Cannot write ") + path + QStringLiteral(": ") + error);
        return false;
    }
    m_core->LogOp(QStringLiteral("Exported ") + QString::number(doc.files.size()) + QStringLiteral(" item(s) to ") + path, true);
    return true;
}

std::vector<int> Application::nzbExportSelection() const
{
    std::vector<int> items;
    if (!m_main) return items;
    if (m_main->currentPage() == 2) {
        items = m_main->selectedBatchItems();
    } else {
        for (int r : m_main->selectedRows(MainWindow::List::Headers)) items.push_back(m_view->itemAt(r));
    }
    return items;
}

// The file dialogs open without a loop of their own; the choice comes back as a signal.
void Application::askNzbToImport()
{
    auto *d = new QFileDialog(m_main.get(), QStringLiteral("Import NZB"), QString(), QStringLiteral("NZB files (*.nzb *.nzb.gz);;All files (*)"));
    d->setAttribute(Qt::WA_DeleteOnClose);
    d->setFileMode(QFileDialog::ExistingFiles);
    connect(d, &QFileDialog::filesSelected, this, &Application::importNzbFiles);
    d->open();
}

void Application::askNzbToExport()
{
    const std::vector<int> items = nzbExportSelection();
    if (items.empty()) {
        m_core->prompter.message(QStringLiteral("Nothing to export: select the items first."));
        return;
    }
    auto *d = new QFileDialog(m_main.get(), QStringLiteral("Export NZB"), QString(), QStringLiteral("NZB files (*.nzb)"));
    d->setAttribute(Qt::WA_DeleteOnClose);
    d->setAcceptMode(QFileDialog::AcceptSave);
    d->setDefaultSuffix(QStringLiteral("nzb"));
    d->setFileMode(QFileDialog::AnyFile);
    connect(d, &QFileDialog::fileSelected, this, [this, items](const QString &path) { exportNzb(path, items); });
    d->open();
}

void Application::commandLineFromAnotherStart(const QString &raw, const QStringList &nzbFiles)
{
    if (m_main) {
        if (m_main->isMinimized()) m_main->showNormal();
        m_main->show();
        m_main->raise();
        m_main->activateWindow();
    }
    if (!nzbFiles.isEmpty()) importNzbFiles(nzbFiles);
    m_cmdLine = raw;
    if (!m_cmdLine.isEmpty()) runCommandLine();
}

void Application::runCommandLine()
{
    switch (parseCommandLine(m_cmdLine)) {
    case LaunchAction::None: break;
    case LaunchAction::Scan: m_session->connectForScan(); break;
    case LaunchAction::Download:
        m_download->BOT1();
        break;
    case LaunchAction::Invalid: m_core->prompter.message(invalidCommandLineMessage(m_cmdLine)); break;
    }
}

void Application::applyWindowSizes()
{
    const Settings &s = m_core->settings;
    if (s.Top) {
        const QRect g(s.Left.value_or(0) / kTwipsPerPixel, *s.Top / kTwipsPerPixel,
                      s.Width.value_or(m_main->width() * kTwipsPerPixel) / kTwipsPerPixel,
                      s.Height.value_or(m_main->height() * kTwipsPerPixel) / kTwipsPerPixel);
        m_main->setGeometry(g);
    } else if (QScreen *sc = QGuiApplication::primaryScreen()) {
        const QRect a = sc->availableGeometry();
        m_main->move(a.x() + (a.width() - m_main->width()) / 2, a.y() + (a.height() - m_main->height()) / 2);
    }
}

// The three lists of the main window and the settings that keep their column widths.
std::array<std::pair<MainWindow::List, QVector<int> *>, 3> Application::columnLists()
{
    Settings &s = m_core->settings;
    return {{{MainWindow::List::Headers, &s.headerColumns}, {MainWindow::List::Batch, &s.batchColumns},
             {MainWindow::List::Processed, &s.processedColumns}}};
}

void Application::applyColumnWidths()
{
    for (auto [list, widths] : columnLists()) m_main->setColumnWidths(list, *widths);
}

// A list whose widths were never saved is fitted to its first rows; saved widths stay.
void Application::fitUnsavedColumnsToFirstRows()
{
    int n = 0;
    for (auto [list, widths] : columnLists())
        if (!m_core->settings.columnsSaved[n++]) m_main->fitColumnsOnFirstRows(list, *widths);
}

void Application::captureWindowSizes()
{
    Settings &s = m_core->settings;
    for (auto [list, widths] : columnLists()) {
        const QVector<int> now = m_main->columnWidths(list);
        for (int c = 0; c < widths->size() && c < now.size(); ++c) (*widths)[c] = now[c];
    }
    s.WindowState = m_main->isMinimized() ? 1 : m_main->isMaximized() ? 2 : 0;
    if (s.WindowState == 0) {
        const QRect g = m_main->geometry();
        s.Top = g.y() * kTwipsPerPixel;
        s.Left = g.x() * kTwipsPerPixel;
        s.Width = g.width() * kTwipsPerPixel;
        s.Height = g.height() * kTwipsPerPixel;
    }
}

void Application::deletePreviews()
{
    QDir d(m_core->settings.Cache_Path + QStringLiteral("previews/"));
    const QStringList files = d.entryList({QStringLiteral("VT*")}, QDir::Files);
    for (const QString &f : files) d.remove(f);
}

// The save runs in steps: the window, the scan and the download go on meanwhile.
void Application::saveHeadersNow()
{
    if (m_main) m_main->setSaveEnabled(false);
    m_engine->saveHeaders();
}

void Application::headersSaved(bool ok)
{
    m_engine->headersSaved(ok);
    if (m_headerFile->saving()) return;
    if (m_main) m_main->setSaveEnabled(true);
    if (m_splash) m_splash->hide();
}

void Application::scanCommand()
{
    Settings &s = m_core->settings;
    if (s.Download_Path.trimmed().isEmpty()) {
        m_core->prompter.askYesNo(QStringLiteral("Base download path not set.  Do you want to run setup assistant?"), this,
                                  [this](bool yes) {
                                      if (!yes) m_core->settingsFile.PickDownloadFolder(m_core->settings);
                                      else if (stores.showSetupAssistant) stores.showSetupAssistant();
                                  });
        return;
    }
    m_login->load();
    m_login->show();
}

void Application::saveHeadersCommand()
{
    auto save = [this] {
        if (stores.saveFavs) stores.saveFavs();
        saveHeadersNow();
    };
    if (m_store.headersDirty) save();
    else
        m_core->prompter.askYesNo(QStringLiteral("Headers not changed since last save.  Save anyway?"), this, [save](bool yes) {
            if (yes) save();
        });
}

void Application::shutdown()
{
    m_log->hide();
    captureWindowSizes();
    captureViewToggles();
    m_core->settingsFile.SaveSettings(m_core->settings);
    m_core->settingsFile.SaveWindowSizes(m_core->settings);
    m_core->settingsFile.SaveColumnSizes(m_core->settings);
    if (stores.saveWatch) stores.saveWatch();
    deletePreviews();
    // A save in steps ends first: what it has taken is then on disk, and whether the
    // headers still need saving is known.
    m_headerFile->finishSave();
    if (!stores.headersDirty()) {
        m_engine->marksCovered();
        if (stores.saveFavs) stores.saveFavs();
        if (stores.releaseHeaders) stores.releaseHeaders();
        m_main->hide();
        m_session->disconnect(ConnectionId::Scan);
        m_download->shutdown();
        endProcess();
        return;
    }
    if (m_core->settings.chkAlwaysSaveHeaders) {
        finalExit(true);
        return;
    }
    if (m_terminating) {
        // Nobody is there to answer: the user's last answer in the exit dialog stands, and
        // without one the headers are kept rather than lost.
        const auto last = m_core->settingsFile.readOption(QStringLiteral("chkSaveHeadersP"));
        finalExit(!last || leadingInt(trimBlanks(*last)) != 0);
        return;
    }
    // Cancel leaves everything in memory and the window open for a later exit.
    m_exit->prepare();
    m_exit->show();
}

void Application::terminate()
{
    m_terminating = true;
    m_exit->hide();
    shutdown();
}

void Application::finalExit(bool save)
{
    if (stores.saveFavs) stores.saveFavs();
    m_main->hide();
    if (save && stores.saveHeaders) stores.saveHeaders();
    if (!save) m_engine->keepBatchWithoutHeaders();
    m_engine->closeDown();
    endProcess();
}

} // namespace vt
