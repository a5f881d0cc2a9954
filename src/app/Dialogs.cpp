// The options dialog, the folder dialogs, the watch list windows, the about box and help.
#include "Application.h"
#include "Notifier.h"
#include "ui/AddGroupDialog.h"
#include "ui/HostGroupsWindow.h"
#include "ui/SetupWindow.h"
#include "ui/LoginDialog.h"
#include "setup/SetupAssistant.h"
#include "groups/HostGroupList.h"
#include "ui/FolderDialog.h"
#include "ui/LogWindow.h"
#include "ui/MainWindow.h"
#include "ui/OptionsDialog.h"
#include "ui/Skin.h"
#include "ui/WatchWindow.h"
#include "core/ServerList.h"
#include "ui/ViewerWindow.h"
#include "viewers/ArticleViewer.h"
#include "viewers/PartsList.h"
#include "viewers/Preview.h"
#include "core/ListRoles.h"
#include "headers/ItemText.h"
#include <QCoreApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QShortcut>

namespace vt {

void Application::buildDialogs()
{
    MainWindow &w = *m_main;
    Settings &s = m_core->settings;
    m_options = std::make_unique<OptionsDialog>(s, &w);
    auto *groupRows = new IconProxy(w.images(), m_options.get());
    groupRows->setSourceModel(m_groups);
    m_options->ListView1->setModel(groupRows);
    connect(&w, &MainWindow::optionsRequested, this, [this] {
        m_options->load();
        m_options->show();
        m_options->raise();
    });
    connect(m_options.get(), &OptionsDialog::changed, this, [this] {
        applyOptions();
        settingsChanged();
    });
    // The remote control takes its address and port when the options close, not at each
    // keystroke; a new key is made at once.
    connect(m_options.get(), &QDialog::finished, m_remote.get(), &Remote::settingsChanged);
    connect(m_options->cmdClose, &QPushButton::clicked, m_remote.get(), &Remote::settingsChanged);
    connect(m_main.get(), &MainWindow::batchCategoryRequested, this, [this](const std::vector<int> &rows, const QString &category) {
        if (rows.empty()) {
            m_core->prompter.message(QStringLiteral("Nothing selected."));
            return;
        }
        std::vector<int> items;
        for (int r : rows)
            if (r >= 0 && r < m_batch->batchRows()) items.push_back(m_batch->tagAt(r));
        const QString said = m_remote->jobs().setCategory(items, category);
        if (!said.isEmpty()) m_core->prompter.message(said);
    });
    connect(m_options->cmdNewApiKey, &QPushButton::clicked, this, [this] {
        m_core->settings.Remote_ApiKey.clear();
        m_remote->api().apiKey();
        m_options->load();
    });
    // Test: the selected server, as the download would log in to it.
    connect(m_options->cmdServerTest, &QPushButton::clicked, this, [this] {
        const int row = m_options->selectedServer();
        if (row < 0) {
            m_options->lblServerTest->setText(QStringLiteral("Select a server first."));
            return;
        }
        const ServerEntry e = m_options->serverList->entry(row);
        m_options->lblServerTest->setText(QStringLiteral("Testing ") + e.host + QStringLiteral("..."));
        m_engine->serverTest.start(e);
    });
    connect(&m_engine->serverTest, &ServerTest::finished, this,
            [this](bool, const QString &text) { m_options->lblServerTest->setText(text); });
    bindGroupCommands();

    // The folder dialog, opened without blocking from the options dialog.
    m_browse = std::make_unique<FolderDialog>(&w);
    m_browse->frmMakePath->message = [this](const QString &t) { m_core->prompter.message(t); };
    auto browse = [this](PickerTarget target, FolderPick what, const QString &start) {
        m_pickerTarget = target;
        m_browse->start(QString::fromUtf8(what.title), QString::fromUtf8(what.explanation), start);
        m_browse->show();
        m_browse->raise();
    };
    connect(m_options->cmdBrowseDLPath, &QPushButton::clicked, this,
            [this, browse] { browse(PickerTarget::Download, downloadFolderPick(), m_core->settings.Download_Path); });
    connect(m_options->cmdBrowseCachePath, &QPushButton::clicked, this,
            [this, browse] { browse(PickerTarget::Cache, cacheFolderPick(), m_core->settings.Cache_Path); });
    connect(m_browse.get(), &FolderDialog::chosen, this, [this](const QString &folder) {
        Settings &st = m_core->settings;
        (m_pickerTarget == PickerTarget::Download ? st.Download_Path : st.Cache_Path) = folder;
        m_options->load();
    });

    // Watch list.
    m_watchWindow = std::make_unique<WatchWindow>(m_watch, &w);
    m_watchWindow->enabled = [this] { return m_core->settings.chkEnableWatch; };
    connect(&w, &MainWindow::watchListRequested, this, [this] {
        m_watchWindow->show();
        m_watchWindow->raise();
    });
    WatchAddDialog *add = m_watchWindow->frmWatchAdd;
    connect(add->cmdAdd, &QPushButton::clicked, this, [this, add] {
        m_watch.AddWatch(add->Text1->text(), add->optWhere[0]->isChecked() ? 0 : 1, add->chkCase->isChecked());
        if (stores.saveWatch) stores.saveWatch();
        add->accept();
    });
    connect(m_watchWindow->cmdRemove, &QPushButton::clicked, this,
            [this] { m_watch.removeRows(MainWindow::selectedRows(m_watchWindow->ListView1)); });

    m_viewer = &m_engine->viewer;
    m_viewerWindow = std::make_unique<ViewerWindow>(*m_viewer, &w);
    connect(&w, &MainWindow::viewTextRequested, this, &Application::viewTextCommand);
    m_parts = &m_engine->parts;
    m_partsWindow = std::make_unique<PartsWindow>(&w);
    auto *partRows = new IconProxy(w.images(), m_partsWindow.get());
    partRows->setSourceModel(m_parts);
    m_partsWindow->ListView1->setModel(partRows);
    connect(&w, &MainWindow::viewPartsRequested, this, [this](const std::vector<int> &rows) {
        if (!rows.empty()) showParts(m_view->itemAt(rows.front()));
    });
    connect(&w, &MainWindow::batchPartsRequested, this, &Application::showParts);
    // A double click saves that one part raw, through the viewer; no size limit here.
    connect(m_partsWindow->ListView1, &QTableView::doubleClicked, this, [this](const QModelIndex &i) {
        const int item = m_parts->item();
        if (item < 1 || item > m_store.itemCount() || i.row() >= int(m_store.item(item).parts.size())) return;
        const HeaderItem &it = m_store.item(item);
        const PartRecord &p = it.parts[size_t(i.row())];
        ArticleViewer &v = *m_viewer;
        v.viewSaveMode = 1;
        v.viewGroupKey = p.groupKey();
        v.viewTitle = QString::fromLatin1(it.subject);
        v.viewArticleNumber = QString::number(p.articleNumber);
        v.viewMessageId = QString::fromLatin1(p.messageId()).trimmed();
        v.viewSize = p.byteCount;
        m_viewerWindow->start();
    });

    m_preview = &m_engine->preview;
    m_preview->RunAssociated = [this](const QString &p) { return m_decoder->RunAssociated(p); };
    m_previewWindow = std::make_unique<PreviewWindow>(*m_preview, &w);
    connect(&w, &MainWindow::previewRequested, this, [this](const std::vector<int> &rows) {
        if (!rows.empty()) m_previewWindow->start(m_view->itemAt(rows.front()));
    });
    connect(&w, &MainWindow::headerActivated, this, [this](int row) {
        const int item = m_view->itemAt(row);
        if (item < 1 || item > m_store.itemCount()) return;
        const bool text = m_view->index(row, 0).data(IconKeyRole).toString() == QLatin1String("text");
        switch (doubleClickTarget(m_store.item(item).subject.trimmed(), text)) {
        case RowOpens::Preview: m_previewWindow->start(item); break;
        case RowOpens::Viewer:
            if (m_viewer->requestItem(m_store, item)) m_viewerWindow->start();
            break;
        case RowOpens::Parts: showParts(item); break;
        }
    });

    m_hostGroups = &m_engine->hostGroups;
    m_hostGroupsWindow = std::make_unique<HostGroupsWindow>(*m_hostGroups, &w);
    auto *hostRows = new IconProxy(w.images(), m_hostGroupsWindow.get());
    hostRows->setSourceModel(m_hostGroupsWindow->ListView1->model());
    m_hostGroupsWindow->ListView1->setModel(hostRows);
    connect(m_addGroup->cmdGrM, &QPushButton::clicked, this, [this] {
        m_addGroup->hide();
        m_hostGroupsWindow->show();
        m_hostGroupsWindow->raise();
    });

    buildAssistant();

    m_about = std::make_unique<AboutBox>(&w);
    connect(&w, &MainWindow::aboutRequested, this, [this] {
        m_core->sounds.PlaySound(QStringLiteral("hi.wav"));
        m_about->show();
    });
    auto *f1 = new QShortcut(QKeySequence(Qt::Key_F1), &w);
    f1->setContext(Qt::ApplicationShortcut);
    connect(f1, &QShortcut::activated, this, &Application::openHelp);
    connect(&w, &MainWindow::helpRequested, this, &Application::openHelp);
}

void Application::bindGroupCommands()
{
    OptionsDialog &o = *m_options;
    NewsgroupTable &g = *m_groups;
    // Rows of the newsgroup list, 1-based; an empty selection is refused with the message.
    auto picked = [this, &o] {
        std::vector<int> rows = MainWindow::selectedRows(o.ListView1);
        for (int &r : rows) ++r;
        if (rows.empty()) m_core->prompter.message(QStringLiteral("Error, no group selected."));
        return rows;
    };
    auto reselect = [&o](const std::vector<int> &positions) {
        std::vector<int> rows;
        for (int p : positions) rows.push_back(p - 1);
        MainWindow::selectRows(o.ListView1, rows);
    };
    connect(m_addGroup->cmdWebSiteNGSearch, &QPushButton::clicked, this,
            [this] { m_decoder->RunAssociated(AddGroupDialog::searchAddress(m_addGroup->Text1->text())); });
    connect(o.cmdAddOne, &QPushButton::clicked, this, [this] {
        m_addGroup->Text1->clear();
        m_addGroup->show();
    });
    connect(o.cmdDelete, &QPushButton::clicked, this, [this, picked, &g] {
        const std::vector<int> rows = picked();
        if (rows.empty()) return;
        // The rows are taken as keys: the list may change while the question is open.
        std::vector<qint32> keys;
        for (int r : rows) keys.push_back(g.rowKey(r));
        m_core->prompter.askOkCancel(rows.size() == 1 ? QStringLiteral("Warning: All headers from this group will also be deleted.")
                                                      : QStringLiteral("Warning: All headers from selected groups will also be deleted."),
                                     this, [this, keys, &g](bool ok) {
                                         if (!ok) return;
                                         for (qint32 key : keys) {
                                             const int row = g.rowOfKey(key) + 1;   // 1-based
                                             if (row < 1) continue;
                                             m_store.headersDirty = true;
                                             if (g.deleteGroup(key, g.nameByKey(key), m_store, m_batch) > 0) m_view->ViewRefresh(false);
                                             g.removeRow(row);
                                         }
                                     });
    });
    connect(o.cmdReset, &QPushButton::clicked, this, [picked, &g] {
        for (int p : picked()) g.resetRow(p);
    });
    auto toggle = [picked, &g] {
        for (int p : picked()) g.toggleRow(p);
    };
    connect(o.cmdToggleRead, &QPushButton::clicked, this, toggle);
    connect(o.ListView1, &QTableView::doubleClicked, this, toggle);
    // Each slot keeps its own copies: no reference into this function outlives it.
    auto move = [this, picked, reselect](int how) {
        return [this, picked, reselect, how] {
            const std::vector<int> rows = picked();
            if (!rows.empty()) reselect(m_groups->moveRows(rows, how));
        };
    };
    connect(o.cmdUP, &QPushButton::clicked, this, move(-1));
    connect(o.cmdDN, &QPushButton::clicked, this, move(+1));
    connect(o.cmdMoveToTop, &QPushButton::clicked, this, move(0));
    connect(o.cmdResetNewFlags, &QPushButton::clicked, this, [this] { m_view->ResetNewFlags(); });
    connect(o.ListView1->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [&g](int column) { g.sort(column, Qt::AscendingOrder); });
}

// The setup assistant fills the login and the options; it writes no file itself.
void Application::buildAssistant()
{
    MainWindow &w = *m_main;
    m_assistant = &m_engine->assistant;
    m_assistantWindow = std::make_unique<SetupWindow>(*m_assistant, &w);
    SetupWindow &a = *m_assistantWindow;
    if (!stores.showSetupAssistant) stores.showSetupAssistant = [this] { m_assistantWindow->start(); };
    connect(m_assistant, &SetupAssistant::settingsChanged, this, [this] {
        m_login->load();
        m_options->load();
        settingsChanged();
    });
    connect(m_assistant, &SetupAssistant::loadHostGroups, this, [this] { m_hostGroupsWindow->load(); });
    connect(&a, &SetupWindow::helpLinkClicked, this,
            [this] { m_decoder->RunAssociated(QStringLiteral("https://en.wikipedia.org/wiki/News_server")); });

    // One new-folder dialog: it serves the folder dialog when that is open, else the assistant.
    MakePathDialog *mp = m_browse->frmMakePath;
    mp->baseFolder = [this] { return m_browse->isVisible() ? m_browse->folderText() : m_assistant->path; };
    mp->moveTo = [this](const QString &f) {
        if (m_browse->isVisible()) m_browse->setFolder(f);
        else m_assistantWindow->setFolder(f);
    };
    connect(a.cmdNewFolder, &QPushButton::clicked, this, [mp] {
        mp->Text1->clear();
        mp->open();
    });

    auto unload = [this] {
        m_assistant->cancel();
        m_hostGroupsWindow->hide();
        m_assistantWindow->hide();
    };
    connect(a.cmdCancel, &QPushButton::clicked, &a, &QDialog::reject);
    connect(&a, &QDialog::rejected, this, unload);
    connect(a.cmdDone, &QPushButton::clicked, this, [this, unload] {
        unload();
        m_options->pages->setCurrentIndex(0);   // the newsgroups
        m_options->load();
        m_options->show();
        m_options->raise();
        m_addGroup->Text1->clear();
        m_addGroup->open();
        m_addGroup->raise();
    });
}

// A change from the options or the assistant reaches the disk within a moment (the file is
// replaced whole): a crash never takes the settings with it. A slider dragged over many
// values writes once.
void Application::settingsChanged()
{
    if (!m_settingsSave) {
        m_settingsSave = std::make_unique<QTimer>();
        m_settingsSave->setSingleShot(true);
        m_settingsSave->setInterval(300);
        connect(m_settingsSave.get(), &QTimer::timeout, this, [this] { m_core->settingsFile.SaveSettings(m_core->settings); });
    }
    m_settingsSave->start();
}

// An option changed (or the settings loaded): the parts that keep their own copy follow.
void Application::applyOptions()
{
    const Settings &s = m_core->settings;
    if (m_main) {
        QStringList names;
        for (const Category &c : s.categories) names << c.name;
        m_main->setCategoryNames(names);
    }
    m_core->applySettings();
    m_watch.watchEnabled = m_store.watchEnabled = s.chkEnableWatch;
    m_core->resources.setDisabled(s.chkDisableStats);
    if (m_log) {
        m_log->chkEnableLogging->setChecked(s.chkEnableLogging);
        m_log->chkLogFile->setChecked(s.chkLogFile);
    }
    if (m_notifier) m_notifier->applySettings();
}

void Application::applyViewToggles()
{
    const Settings &s = m_core->settings;
    MainWindow::ViewFilter f = m_main->viewFilter();
    f.complete = s.togtsComplete;
    f.text = s.togtsText;
    f.unknown = s.togtsUnknown;
    f.incomplete = s.togtsIncomplete;
    f.inBatch = s.togtsInBatch;
    m_main->setViewFilter(f);
}

void Application::captureViewToggles()
{
    Settings &s = m_core->settings;
    const MainWindow::ViewFilter f = m_main->viewFilter();
    s.togtsComplete = f.complete;
    s.togtsText = f.text;
    s.togtsUnknown = f.unknown;
    s.togtsIncomplete = f.incomplete;
    s.togtsInBatch = f.inBatch;
}

// The first selected header's first part, as text.
void Application::viewTextCommand(const std::vector<int> &rows)
{
    if (rows.empty()) return;
    if (m_viewer->requestItem(m_store, m_view->itemAt(rows.front()))) m_viewerWindow->start();
}

void Application::showParts(int item)
{
    m_parts->ShowPartsList(item);
    m_partsWindow->setWindowTitle(m_parts->caption());
    m_partsWindow->show();
    m_partsWindow->raise();
}

// The help file sits in the application folder, or beside the program.
void Application::openHelp()
{
    QString path = m_core->paths.helpFile();
    if (!QFileInfo(path).isFile()) path = QCoreApplication::applicationDirPath() + QStringLiteral("/VANTREL.html");
    if (!QFileInfo(path).isFile()) {
        m_core->prompter.message(QStringLiteral("Help file not found: ") + m_core->paths.helpFile());
        return;
    }
    if (!m_decoder->RunAssociated(path)) m_core->prompter.message(QStringLiteral("Could not open ") + path);
}

} // namespace vt
