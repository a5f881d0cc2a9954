#include "OptionsDialog.h"
#include "Named.h"
#include "ServerDialog.h"
#include "core/ServerList.h"
#include "core/Settings.h"
#include <memory>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

namespace vt {

namespace {
QVBoxLayout *column(QWidget *page) { return static_cast<QVBoxLayout *>(page->layout()); }
} // namespace

OptionsDialog::OptionsDialog(Settings &settings, QWidget *parent) : QDialog(parent), m_settings(settings)
{
    setObjectName(QStringLiteral("frmFavs"));
    setWindowTitle(QStringLiteral("Options"));
    pages = named<QTabWidget>("pages", this);
    auto newPage = [this](const char *title) {
        auto *w = new QWidget;
        new QVBoxLayout(w);
        pages->addTab(w, QString::fromLatin1(title));
        return w;
    };

    QWidget *groups = newPage("Newsgroups");
    ListView1 = rowList("ListView1", groups);
    column(groups)->addWidget(ListView1, 1);
    auto *grid = new QGridLayout;
    auto groupButton = [groups, grid](const char *name, const char *text, int r, int c) {
        auto *b = named<QPushButton>(name, QString::fromUtf8(text), groups);
        grid->addWidget(b, r, c);
        return b;
    };
    cmdAddOne = groupButton("cmdAddOne", "&Add", 0, 0);
    cmdDelete = groupButton("cmdDelete", "&Delete", 0, 1);
    cmdReset = groupButton("cmdReset", "&Reset", 0, 2);
    cmdToggleRead = groupButton("cmdToggleRead", "&Toggle on/off", 0, 3);
    cmdUP = groupButton("cmdUP", "Move &Up", 1, 0);
    cmdDN = groupButton("cmdDN", "Move D&n", 1, 1);
    cmdMoveToTop = groupButton("cmdMoveToTop", "Move to Top", 1, 2);
    cmdResetNewFlags = groupButton("cmdResetNewFlags", "Reset 'New' flags now", 1, 3);
    column(groups)->addLayout(grid);

    QWidget *dl = newPage("Download");
    auto pathRow = [dl](QLabel *&label, QPushButton *&browse, const char *labelName, const char *browseName,
                        const char *caption) {
        auto *row = new QHBoxLayout;
        row->addWidget(new QLabel(QString::fromLatin1(caption), dl));
        label = named<QLabel>(labelName, dl);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        row->addWidget(label, 1);
        browse = named<QPushButton>(browseName, QStringLiteral("Browse..."), dl);
        row->addWidget(browse);
        column(dl)->addLayout(row);
    };
    pathRow(lblDownloadPath, cmdBrowseDLPath, "lblDownloadPath", "cmdBrowseDLPath", "Base Download Path:");
    pathRow(lblCachePath, cmdBrowseCachePath, "lblCachePath", "cmdBrowseCachePath", "Cache Path:");
    chkMakeSubDirs = check(dl, "chkMakeSubDirs", "Create Sub-Folders for each Newsgroup", &Settings::chkMakeSubDirs);
    chkNotify = check(dl, "chkNotify", "Desktop notification when a download or a scan ends or fails", &Settings::chkNotify);
    chkTray = check(dl, "chkTray", "Tray icon with the speed and what is left", &Settings::chkTray);
    chkAutoDelBatch = check(dl, "chkAutoDelBatch", "Auto-Delete Downloaded Items", &Settings::chkAutoDelBatch);
    chkAutodownload = check(dl, "chkAutodownload",
                            "Automatically start batch download at end of scan (if batch is not empty)", &Settings::chkAutodownload);
    chkSaveDecodes = check(dl, "chkSaveDecodes", "Save bad decodes", &Settings::chkSaveDecodes);
    chkDirectDecode = check(dl, "chkDirectDecode", "Decode yEnc parts as they arrive (off: through the part cache)",
                            &Settings::chkDirectDecode);
    chkOldRenameStyle = check(dl, "chkOldRenameStyle", "Use old *.zip.2 dupe rename format", &Settings::chkOldRenameStyle);
    chkAllowRestart = check(dl, "chkAllowRestart", "Enable Emergency Restart", &Settings::chkAllowRestart);
    chkRestart500 = check(dl, "chkRestart500", "Allow restart on critical server errors", &Settings::chkRestart500);
    sldRescan = slider(dl, lblRescan, "sldRescan", 5, 240, &Settings::Rescan_Time, &Settings::rescanCaption);
    chkSFX = check(dl, "chkSFX", "Enable sound effects", &Settings::chkSFX);
    chkDisableStats = check(dl, "chkDisableStats", "Disable HDD/RAM stats display", &Settings::chkDisableStats);
    chkPar2Verify = check(dl, "chkPar2Verify", "Verify par2 sets after download", &Settings::chkPar2Verify);
    chkPar2Repair = check(dl, "chkPar2Repair", "Repair par2 sets (fetches the recovery volumes needed)", &Settings::chkPar2Repair);
    chkPar2Delete = check(dl, "chkPar2Delete", "Delete par2 files after a successful repair", &Settings::chkPar2Delete);
    chkPar2KeepBackups = check(dl, "chkPar2KeepBackups", "Keep the damaged copies and par2's backups after a repair",
                               &Settings::chkPar2KeepBackups);
    chkUnpack = check(dl, "chkUnpack", "Unpack archives (RAR, 7z, zip) once they are whole", &Settings::chkUnpack);
    chkUnpackKeepArchives = check(dl, "chkUnpackKeepArchives", "Keep the archives and par2 files after unpacking",
                                  &Settings::chkUnpackKeepArchives);
    {
        // Passwords for locked archives, one a line, tried after the NZB's own.
        column(dl)->addWidget(new QLabel(QStringLiteral("Passwords for archives (one a line):"), dl));
        txtUnpackPasswords = named<QPlainTextEdit>("txtUnpackPasswords", dl);
        txtUnpackPasswords->setMaximumHeight(txtUnpackPasswords->fontMetrics().lineSpacing() * 4);
        column(dl)->addWidget(txtUnpackPasswords);
        connect(txtUnpackPasswords, &QPlainTextEdit::textChanged, this, [this] {
            const QStringList now = txtUnpackPasswords->toPlainText().split(u'\n', Qt::SkipEmptyParts);
            if (m_settings.Unpack_Passwords == now) return;
            m_settings.Unpack_Passwords = now;
            emit changed();
        });
        m_loaders.push_back([this] { txtUnpackPasswords->setPlainText(m_settings.Unpack_Passwords.join(u'\n')); });
    }
    // Applies at once, also to a download that runs.
    txtSpeedLimit = spinBox(dl, "txtSpeedLimit", "Speed limit (KB/s, 0 = none):", 0, 10'000'000, &Settings::Download_Limit);
    txtSpeedLimit->setSingleStep(100);
    column(dl)->addStretch();

    QWidget *scan = newPage("Scan");
    sldTimeout = slider(scan, lblTimeout, "sldTimeout", 15, 240, &Settings::sldTimeout, &Settings::timeoutCaption);
    sldXOVER = slider(scan, lblXOVER, "sldXOVER", 20, 3000, &Settings::sldXOVER, &Settings::xoverCaption);
    txtScanConnections = spinBox(scan, "txtScanConnections", "Scan connections to the main server:", 1, 50, &Settings::Scan_Connections);
    txtScanConnections->setToolTip(QStringLiteral(
        "A large group's headers are fetched over this many connections at once; they count against the main server's connection limit"));
    chkAgressiveHeaderCrunch = check(scan, "chkAgressiveHeaderCrunch", "Aggressive Header Crunching", &Settings::chkAgressiveHeaderCrunch);
    chkSaveAfterScan = check(scan, "chkSaveAfterScan", "Save Headers after Scan", &Settings::chkSaveAfterScan);
    chkAlwaysSaveHeaders = check(scan, "chkAlwaysSaveHeaders", "Auto-Save headers on exit (do not prompt)", &Settings::chkAlwaysSaveHeaders);
    chkResetNewOnScan = check(scan, "chkResetNewOnScan", "Reset 'New' flags on each scan", &Settings::chkResetNewOnScan);
    chkAutoExpire = check(scan, "chkAutoExpire", "Auto-Expire (automatically expire headers that have been deleted from server)",
                          &Settings::chkAutoExpire);
    chkEnableWatch = check(scan, "chkEnableWatch", "Enable Watch List", &Settings::chkEnableWatch);
    column(scan)->addStretch();

    QWidget *remote = newPage("Remote");
    chkRemote = check(remote, "chkRemote", "Remote control: the API automation tools use and a web page (restarts with the options)",
                      &Settings::chkRemote);
    txtRemoteAddress = lineEdit(remote, "txtRemoteAddress", "Listen on address (127.0.0.1: this computer only):", &Settings::Remote_Address);
    txtRemotePort = spinBox(remote, "txtRemotePort", "Port:", 0, 65535, &Settings::Remote_Port);
    txtApiKey = lineEdit(remote, "txtApiKey", "API key (for automation tools):", &Settings::Remote_ApiKey);
    txtApiKey->setReadOnly(true);
    cmdNewApiKey = named<QPushButton>("cmdNewApiKey", QStringLiteral("New key"), remote);
    column(remote)->itemAt(column(remote)->count() - 1)->layout()->addWidget(cmdNewApiKey);
    txtRemoteUser = lineEdit(remote, "txtRemoteUser", "Web page user name (empty: the key only):", &Settings::Remote_User);
    txtRemotePassword = lineEdit(remote, "txtRemotePassword", "Web page password:", &Settings::Remote_Password);
    txtRemotePassword->setEchoMode(QLineEdit::Password);
    txtWatchFolder = lineEdit(remote, "txtWatchFolder", "Watched folder for NZB files (empty: none):", &Settings::Nzb_Watch_Folder);
    {
        column(remote)->addWidget(new QLabel(QStringLiteral("Categories, one a line: a name, or \"name = folder\" (else a folder of that name "
                                                            "in the download folder):"),
                                             remote));
        txtCategories = named<QPlainTextEdit>("txtCategories", remote);
        column(remote)->addWidget(txtCategories, 1);
        connect(txtCategories, &QPlainTextEdit::textChanged, this, [this] {
            std::vector<Category> now;
            for (const QString &line : txtCategories->toPlainText().split(u'\n', Qt::SkipEmptyParts)) {
                const QString name = line.section(u'=', 0, 0).trimmed(), folder = line.section(u'=', 1).trimmed();
                if (name.isEmpty()) continue;
                now.push_back({name, folder.isEmpty() || folder.endsWith(u'/') ? folder : folder + u'/'});
            }
            if (m_settings.categories == now) return;
            m_settings.categories = now;
            emit changed();
        });
        m_loaders.push_back([this] {
            QStringList lines;
            for (const Category &c : m_settings.categories) lines << (c.folder.isEmpty() ? c.name : c.name + QStringLiteral(" = ") + c.folder);
            if (txtCategories->toPlainText() != lines.join(u'\n')) txtCategories->setPlainText(lines.join(u'\n'));
        });
    }

    QWidget *servers = newPage("Servers");
    serverList = new ServerList(m_settings, this);
    ListServers = rowList("ListServers", servers, QAbstractItemView::SingleSelection);
    ListServers->setModel(serverList);
    column(servers)->addWidget(ListServers, 1);
    {
        auto *row = new QHBoxLayout;
        auto button = [servers, row](const char *name, const char *text) {
            auto *b = named<QPushButton>(name, QString::fromUtf8(text), servers);
            row->addWidget(b);
            return b;
        };
        cmdServerAdd = button("cmdServerAdd", "&Add...");
        cmdServerEdit = button("cmdServerEdit", "&Edit...");
        cmdServerRemove = button("cmdServerRemove", "&Remove");
        cmdServerTest = button("cmdServerTest", "&Test");
        row->addStretch();
        lblServerConnections = named<QLabel>("lblServerConnections", servers);
        row->addWidget(lblServerConnections);
        column(servers)->addLayout(row);
        lblServerTest = named<QLabel>("lblServerTest", servers);
        lblServerTest->setWordWrap(true);
        column(servers)->addWidget(lblServerTest);
    }
    serverDialog = new ServerDialog(this);
    // Add and Edit share the dialog; which one it is for is kept until it closes.
    auto editing = std::make_shared<int>(-1);
    connect(cmdServerAdd, &QPushButton::clicked, this, [this, editing] {
        *editing = -1;
        ServerEntry fresh;
        fresh.level = 1;
        serverDialog->load(fresh, false);
        serverDialog->open();
    });
    connect(cmdServerEdit, &QPushButton::clicked, this, [this, editing] {
        const int row = selectedServer();
        if (row < 0) return;
        *editing = row;
        serverDialog->load(serverList->entry(row), row == 0);
        serverDialog->open();
    });
    connect(serverDialog, &QDialog::accepted, this, [this, editing] {
        if (*editing < 0) serverList->add(serverDialog->entry());
        else serverList->setEntry(*editing, serverDialog->entry());
        emit changed();
    });
    connect(cmdServerRemove, &QPushButton::clicked, this, [this] {
        if (serverList->remove(selectedServer())) emit changed();
    });
    auto count = [this] {
        lblServerConnections->setText(QStringLiteral("Main connections: ") + QString::number(serverList->mainConnections()));
    };
    for (auto sig : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(serverList, sig, this, count);
    connect(serverList, &QAbstractItemModel::dataChanged, this, count);
    connect(serverList, &QAbstractItemModel::modelReset, this, count);
    m_loaders.push_back([this, count] {
        serverList->reload();
        count();
    });

    cmdClose = named<QPushButton>("cmdClose", QStringLiteral("Close"), this);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::hide);
    auto *lay = new QVBoxLayout(this);
    lay->addWidget(pages, 1);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(cmdClose);
    lay->addLayout(row);
    resize(620, 480);
    load();
}

QSpinBox *OptionsDialog::spinBox(QWidget *page, const char *name, const char *caption, int low, int high, int Settings::*field)
{
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(QString::fromUtf8(caption), page));
    auto *box = named<QSpinBox>(name, page);
    box->setRange(low, high);
    row->addWidget(box);
    row->addStretch();
    column(page)->addLayout(row);
    connect(box, &QSpinBox::valueChanged, this, [this, field](int v) {
        if (m_settings.*field == v) return;
        m_settings.*field = v;
        emit changed();
    });
    m_loaders.push_back([this, box, field] { box->setValue(m_settings.*field); });
    return box;
}

QLineEdit *OptionsDialog::lineEdit(QWidget *page, const char *name, const char *caption, QString Settings::*field)
{
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(QString::fromUtf8(caption), page));
    auto *edit = named<QLineEdit>(name, page);
    row->addWidget(edit, 1);
    column(page)->addLayout(row);
    connect(edit, &QLineEdit::textEdited, this, [this, field](const QString &t) {
        if (m_settings.*field == t) return;
        m_settings.*field = t;
        emit changed();
    });
    m_loaders.push_back([this, edit, field] {
        if (edit->text() != m_settings.*field) edit->setText(m_settings.*field);
    });
    return edit;
}

QCheckBox *OptionsDialog::check(QWidget *page, const char *name, const char *caption, bool Settings::*field)
{
    auto *c = named<QCheckBox>(name, QString::fromUtf8(caption), page);
    column(page)->addWidget(c);
    connect(c, &QCheckBox::toggled, this, [this, field](bool on) {
        if (m_settings.*field == on) return;
        m_settings.*field = on;
        emit changed();
    });
    m_loaders.push_back([this, c, field] { c->setChecked(m_settings.*field); });
    return c;
}

QSlider *OptionsDialog::slider(QWidget *page, QLabel *&label, const char *name, int lo, int hi, int Settings::*field,
                               QString (Settings::*caption)() const)
{
    auto *s = named<QSlider>(name, Qt::Horizontal, page);
    s->setRange(lo, hi);
    label = new QLabel(page);
    label->setObjectName(QStringLiteral("lbl") + QString::fromLatin1(name + 3));
    column(page)->addWidget(label);
    column(page)->addWidget(s);
    QLabel *l = label;
    connect(s, &QSlider::valueChanged, this, [this, l, field, caption](int v) {
        const bool differs = m_settings.*field != v;
        m_settings.*field = v;
        l->setText((m_settings.*caption)());
        if (differs) emit changed();
    });
    m_loaders.push_back([this, s, l, field, caption] {
        s->setValue(m_settings.*field);
        l->setText((m_settings.*caption)());
    });
    return s;
}

int OptionsDialog::selectedServer() const
{
    const QModelIndexList rows = ListServers->selectionModel() ? ListServers->selectionModel()->selectedRows() : QModelIndexList();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void OptionsDialog::load()
{
    lblDownloadPath->setText(m_settings.Download_Path);
    lblCachePath->setText(m_settings.Cache_Path);
    for (auto &f : m_loaders) f();
    // Group names and servers are long: the columns fit them each time the dialog opens.
    for (QTableView *v : {ListView1, ListServers})
        if (v->model()) v->resizeColumnsToContents();
}

} // namespace vt
