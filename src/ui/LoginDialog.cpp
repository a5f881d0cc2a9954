#include "LoginDialog.h"
#include "Named.h"
#include "core/Settings.h"
#include <QEvent>
#include <QGridLayout>
#include <QTimer>

namespace vt {

LoginDialog::LoginDialog(Settings &settings, QWidget *parent) : QDialog(parent), m_settings(settings)
{
    setObjectName(QStringLiteral("frmLogin"));
    setWindowTitle(QStringLiteral("Connect to News Server"));
    txtHost = named<QLineEdit>("txtHost", this);
    // Room for a provider's full name.
    txtHost->setMinimumWidth(txtHost->fontMetrics().horizontalAdvance(QStringLiteral("news.eu.example-provider.com")) + 24);
    txtPort = named<QLineEdit>("txtPort", this);
    txtUserName = named<QLineEdit>("txtUserName", this);
    txtPassword = named<QLineEdit>("txtPassword", this);
    txtPassword->setEchoMode(QLineEdit::Password);
    lblUserName = named<QLabel>("lblUserName", QStringLiteral("User name:"), this);
    lblPassword = named<QLabel>("lblPassword", QStringLiteral("Password:"), this);
    chkAuth = named<QCheckBox>("chkAuth", QStringLiteral("Authentication required"), this);
    chkSavePassword = named<QCheckBox>("chkSavePassword", QStringLiteral("Save Password"), this);
    chkSlave = named<QCheckBox>("chkSlave", QStringLiteral("Send SLAVE after connecting"), this);
    chkModeReader = named<QCheckBox>("chkModeReader", QStringLiteral("Send MODE READER after connecting"), this);
    chkSSL = named<QCheckBox>("chkSSL", QStringLiteral("Use SSL/TLS"), this);
    chkCompress = named<QCheckBox>("chkCompress", QStringLiteral("Ask for compressed headers"), this);
    chkCompress->setToolTip(QStringLiteral("Scan with COMPRESS DEFLATE where the server offers it: about a quarter of the bytes"));
    chkSSL->setToolTip(QStringLiteral("Encrypt every connection to the server (usually port 563)"));
    cmdGO = named<QPushButton>("cmdGO", QStringLiteral("Connect"), this);
    cmdGO->setDefault(true);
    cmdExit = named<QPushButton>("cmdExit", QStringLiteral("Cancel"), this);

    auto *g = new QGridLayout(this);
    g->addWidget(new QLabel(QStringLiteral("News server:"), this), 0, 0);
    g->addWidget(txtHost, 0, 1);
    g->addWidget(new QLabel(QStringLiteral("Port:"), this), 1, 0);
    g->addWidget(txtPort, 1, 1);
    g->addWidget(chkSSL, 1, 2);
    g->addWidget(chkAuth, 2, 0, 1, 2);
    g->addWidget(lblUserName, 3, 0);
    g->addWidget(txtUserName, 3, 1);
    g->addWidget(lblPassword, 4, 0);
    g->addWidget(txtPassword, 4, 1);
    g->addWidget(chkSavePassword, 5, 0, 1, 2);
    g->addWidget(chkModeReader, 6, 0, 1, 2);
    g->addWidget(chkSlave, 7, 0, 1, 2);
    g->addWidget(chkCompress, 8, 0, 1, 2);
    g->addWidget(cmdGO, 9, 0);
    g->addWidget(cmdExit, 9, 1);

    // The boxes edit the settings directly; the file is written at exit.
    connect(txtHost, &QLineEdit::textEdited, this, [this](const QString &t) { m_settings.News_Host = t; });
    connect(txtPort, &QLineEdit::textEdited, this, [this](const QString &t) { m_settings.News_Port = t; });
    connect(txtUserName, &QLineEdit::textEdited, this, [this](const QString &t) { m_settings.User_Name = t; });
    connect(txtPassword, &QLineEdit::textEdited, this, [this](const QString &t) { m_settings.password = t; });
    connect(chkAuth, &QCheckBox::toggled, this, [this](bool on) {
        m_settings.chkAuth = on;
        enableLogin();
    });
    connect(chkSavePassword, &QCheckBox::toggled, this, [this](bool on) { m_settings.chkSavePassword = on; });
    connect(chkSlave, &QCheckBox::toggled, this, [this](bool on) { m_settings.chkSlave = on; });
    connect(chkModeReader, &QCheckBox::toggled, this, [this](bool on) { m_settings.chkModeReader = on; });
    connect(chkCompress, &QCheckBox::toggled, this, [this](bool on) { m_settings.chkCompress = on; });
    // A click, not load(): only the user's switch moves the port.
    connect(chkSSL, &QCheckBox::clicked, this, [this](bool on) {
        m_settings.chkSSL = on;
        m_settings.News_Port = portAfterTlsSwitch(m_settings.News_Port, on);
        txtPort->setText(m_settings.News_Port);
    });
    connect(cmdExit, &QPushButton::clicked, this, &QDialog::hide);
    for (QLineEdit *e : {txtHost, txtPort, txtUserName, txtPassword}) e->installEventFilter(this);
    load();
}

void LoginDialog::load()
{
    txtHost->setText(m_settings.News_Host);
    txtPort->setText(m_settings.News_Port);
    txtUserName->setText(m_settings.User_Name);
    txtPassword->setText(m_settings.password);
    chkAuth->setChecked(m_settings.chkAuth);
    chkSavePassword->setChecked(m_settings.chkSavePassword);
    chkSlave->setChecked(m_settings.chkSlave);
    chkModeReader->setChecked(m_settings.chkModeReader);
    chkCompress->setChecked(m_settings.chkCompress);
    chkSSL->setChecked(m_settings.chkSSL);
    enableLogin();
}

void LoginDialog::enableLogin()
{
    const bool on = chkAuth->isChecked();
    for (QWidget *w : std::initializer_list<QWidget *>{txtUserName, txtPassword, lblUserName, lblPassword}) w->setEnabled(on);
}

bool LoginDialog::eventFilter(QObject *o, QEvent *e)
{
    // Entering a box selects its whole text (after the click has placed the cursor).
    if (e->type() == QEvent::FocusIn)
        if (auto *edit = qobject_cast<QLineEdit *>(o)) QTimer::singleShot(0, edit, &QLineEdit::selectAll);
    return QDialog::eventFilter(o, e);
}

} // namespace vt
