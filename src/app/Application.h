#pragma once
// The program: owns the core, the session engine and the windows; runs the start-up
// order, the command line and the shutdown sequence.
#include "Pages.h"
#include "core/AppCore.h"
#include "engine/Engine.h"
#include "remote/Remote.h"
#include <QTableView>
#include <array>
#include "core/Startup.h"
#include "download/Decoder.h"
#include "download/BatchQueue.h"
#include "download/DownloadDriver.h"
#include "download/PartCache.h"
#include "download/ProcessedList.h"
#include "groups/NewsgroupTable.h"
#include "headers/HeaderFile.h"
#include "headers/HeaderListModel.h"
#include "headers/HeaderStore.h"
#include "headers/WatchList.h"
#include "nntp/Session.h"
#include "nzb/NzbImport.h"
#include "scan/ScanDriver.h"
#include "ui/WidgetPrompter.h"
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

namespace vt {

class MainWindow;
class SplashWindow;
class LogWindow;
class ExitDialog;
class SearchWindow;
class LoginDialog;
class AddGroupDialog;
class OptionsDialog;
class FolderDialog;
class WatchWindow;
class AboutBox;
class ViewerWindow;
class ArticleViewer;
class PartsList;
class PartsWindow;
class Previewer;
class HostGroupList;
class HostGroupsWindow;
class SetupAssistant;
class SetupWindow;
class PreviewWindow;

class DesktopNotifier;

class Application : public QObject {
    Q_OBJECT
public:
    Application(const AppPaths &paths, QString rawCommandLine, Prompter *prompter = nullptr);
    ~Application() override;

    // The stores of the other subsystems, plugged in as they are built.
    struct Stores {
        std::function<void()> loadWatch, saveWatch, loadSkin, loadFavs, saveFavs, loadHeaders, saveHeaders,
            fillGroupChooser, releaseHeaders;
        std::function<bool()> headersDirty = [] { return false; };
        std::function<void()> showSetupAssistant;
    } stores;

    // How the process ends (QCoreApplication::exit by default; tests watch it).
    std::function<void()> endProcess;

    void start();
    void shutdown();
    // A termination signal (logout, service stop): the shutdown sequence without a question.
    void terminate();
    void finalExit(bool save);
    void runCommandLine();
    // A later start of the program handed its command line over: the window comes to the
    // front and the launch option runs as it would at start-up.
    void commandLineFromAnotherStart(const QString &raw, const QStringList &nzbFiles = {});
    // NZB files given at launch: imported once the headers are loaded, before the launch
    // option runs (so that /DOWNLOAD fetches them).
    QStringList launchNzbFiles;
    // Imports each file into the headers and the batch; a file that cannot be read or is
    // refused is said in a message.
    void importNzbFiles(const QStringList &paths);
    bool exportNzb(const QString &path, const std::vector<int> &items);
    // What "Export NZB..." takes: the selected rows of the batch on its page, else those
    // of the header list.
    std::vector<int> nzbExportSelection() const;

    AppCore &core() { return *m_core; }
    Session &session() { return *m_session; }
    NewsgroupTable &groups() { return *m_groups; }
    HeaderStore &store() { return m_store; }
    WatchList &watch() { return m_watch; }
    ScanDriver &scan() { return *m_scan; }
    BatchQueue &batch() { return *m_batch; }
    ProcessedList &processed() { return m_processed; }
    HeaderListModel &headerView() { return *m_view; }
    SearchWindow *searchWindow() { return m_headersPage ? m_headersPage->searchWindow() : nullptr; }
    LoginDialog *loginDialog() { return m_login.get(); }
    AddGroupDialog *addGroupDialog() { return m_addGroup.get(); }
    OptionsDialog *optionsDialog() { return m_options.get(); }
    FolderDialog *folderDialog() { return m_browse.get(); }
    WatchWindow *watchWindow() { return m_watchWindow.get(); }
    AboutBox *aboutBox() { return m_about.get(); }
    ViewerWindow *viewerWindow() { return m_viewerWindow.get(); }
    ArticleViewer &articleViewer() { return *m_viewer; }
    PartsWindow *partsWindow() { return m_partsWindow.get(); }
    PreviewWindow *previewWindow() { return m_previewWindow.get(); }
    Previewer &previewer() { return *m_preview; }
    HostGroupList &hostGroups() { return *m_hostGroups; }
    HostGroupsWindow *hostGroupsWindow() { return m_hostGroupsWindow.get(); }
    SetupAssistant &assistant() { return *m_assistant; }
    SetupWindow *assistantWindow() { return m_assistantWindow.get(); }
    Decoder &decoder() { return *m_decoder; }
    DownloadDriver &download() { return *m_download; }
    DesktopNotifier *notifier() { return m_notifier.get(); }
    Remote &remote() { return *m_remote; }
    HeaderFile &headerFile() { return *m_headerFile; }
    MainWindow *mainWindow() { return m_main.get(); }
    SplashWindow *splash() { return m_splash.get(); }
    LogWindow *logWindow() { return m_log.get(); }
    ExitDialog *exitDialog() { return m_exit.get(); }
    StartupSequence &startup() { return m_startup; }

private:
    void buildStartup();
    void wireStores();
    void applyWindowSizes();
    void captureWindowSizes();
    void deletePreviews();
    void saveHeadersNow();
    void headersSaved(bool ok);
    void saveHeadersCommand();
    void bindPages();
    std::array<std::pair<MainWindow::List, QVector<int> *>, 3> columnLists();
    void applyColumnWidths();
    void fitUnsavedColumnsToFirstRows();
    void scanCommand();
    void buildDialogs();
    void buildAssistant();
    void bindGroupCommands();
    void applyOptions();
    void settingsChanged();
    std::unique_ptr<QTimer> m_settingsSave;
    void applyViewToggles();
    void captureViewToggles();
    void openHelp();
    void viewTextCommand(const std::vector<int> &rows);
    void showParts(int item);

    QString m_cmdLine;
    void askNzbToImport();
    void askNzbToExport();
    WidgetPrompter m_widgetPrompter;
    std::unique_ptr<Engine> m_engine;
    std::unique_ptr<Remote> m_remote;
    AppCore *m_core;
    Session *m_session;
    NewsgroupTable *m_groups;
    HeaderStore &m_store;
    WatchList &m_watch;
    ScanDriver *m_scan;
    BatchQueue *m_batch;
    HeaderListModel *m_view;
    ProcessedList &m_processed;
    PartCache *m_cache;
    Decoder *m_decoder;
    NzbCatalog &m_nzb;
    DownloadDriver *m_download;
    HeaderFile *m_headerFile;
    bool m_terminating = false;
    std::unique_ptr<MainWindow> m_main;
    std::unique_ptr<SplashWindow> m_splash;
    std::unique_ptr<LogWindow> m_log;
    std::unique_ptr<DesktopNotifier> m_notifier;
    std::unique_ptr<ExitDialog> m_exit;
    // Children of the main window: they go first.
    std::unique_ptr<HeadersPage> m_headersPage;
    std::unique_ptr<BatchPage> m_batchPage;
    std::unique_ptr<ProcessedPage> m_processedPage;
    std::unique_ptr<LoginDialog> m_login;
    std::unique_ptr<AddGroupDialog> m_addGroup;
    std::unique_ptr<OptionsDialog> m_options;
    std::unique_ptr<FolderDialog> m_browse;
    std::unique_ptr<WatchWindow> m_watchWindow;
    std::unique_ptr<AboutBox> m_about;
    ArticleViewer *m_viewer = nullptr;
    std::unique_ptr<ViewerWindow> m_viewerWindow;
    PartsList *m_parts = nullptr;
    std::unique_ptr<PartsWindow> m_partsWindow;
    Previewer *m_preview = nullptr;
    std::unique_ptr<PreviewWindow> m_previewWindow;
    HostGroupList *m_hostGroups = nullptr;
    std::unique_ptr<HostGroupsWindow> m_hostGroupsWindow;
    SetupAssistant *m_assistant = nullptr;
    std::unique_ptr<SetupWindow> m_assistantWindow;
    enum class PickerTarget { Download, Cache } m_pickerTarget = PickerTarget::Download;
    StartupSequence m_startup;
    std::function<void(const QString &)> m_playBackend;
};

} // namespace vt
