#include "LogWindow.h"
#include "core/AppCore.h"
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QUrl>
#include <QVBoxLayout>

namespace vt {

LogWindow::LogWindow(AppCore &core, QWidget *parent) : QDialog(parent), m_core(core)
{
    setObjectName(QStringLiteral("frmLOG"));
    setWindowTitle(QStringLiteral("Log"));
    List1 = new QListView(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setModel(core.log.list());
    List1->setUniformItemSizes(true);
    cmdClear = new QPushButton(QStringLiteral("Clea&r"), this);
    cmdClear->setObjectName(QStringLiteral("cmdClear"));
    cmdOpenLog = new QPushButton(QStringLiteral("&Open Log File"), this);
    cmdOpenLog->setObjectName(QStringLiteral("cmdOpenLog"));
    cmdClose = new QPushButton(QStringLiteral("&Close"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    chkEnableLogging = new QCheckBox(QStringLiteral("Enable Log"), this);
    chkEnableLogging->setObjectName(QStringLiteral("chkEnableLogging"));
    chkLogFile = new QCheckBox(QStringLiteral("Log to OPSLOG.TXT"), this);
    chkLogFile->setObjectName(QStringLiteral("chkLogFile"));
    chkEnableLogging->setChecked(core.settings.chkEnableLogging);
    chkLogFile->setChecked(core.settings.chkLogFile);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(chkEnableLogging);
    buttons->addWidget(chkLogFile);
    buttons->addStretch();
    buttons->addWidget(cmdClear);
    buttons->addWidget(cmdOpenLog);
    buttons->addWidget(cmdClose);
    auto *lay = new QVBoxLayout(this);
    lay->addWidget(List1);
    lay->addLayout(buttons);
    resize(640, 360);

    openFile = [](const QString &p) { QDesktopServices::openUrl(QUrl::fromLocalFile(p)); };
    connect(cmdClear, &QPushButton::clicked, this, [this] { m_core.log.list()->clear(); });
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::hide);
    connect(cmdOpenLog, &QPushButton::clicked, this, [this] {
        const QString p = m_core.paths.opsLog();
        if (!QFileInfo::exists(p)) m_core.prompter.message(QStringLiteral("File does not exist."));
        else openFile(p);
    });
    connect(List1, &QListView::doubleClicked, this, [this](const QModelIndex &i) {
        m_core.prompter.message(i.data().toString());
    });
    connect(&core.log, &OpsLog::selectRow, this, [this](int r) {
        List1->setCurrentIndex(m_core.log.list()->index(r));
    });
    connect(chkEnableLogging, &QCheckBox::toggled, this, [this](bool on) {
        m_core.settings.chkEnableLogging = on;
        m_core.applySettings();
    });
    connect(chkLogFile, &QCheckBox::toggled, this, [this](bool on) {
        m_core.settings.chkLogFile = on;
        m_core.applySettings();
    });
}

void LogWindow::closeEvent(QCloseEvent *e)
{
    e->ignore();
    hide();
}

} // namespace vt
