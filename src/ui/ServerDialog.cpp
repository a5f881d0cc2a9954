#include "ServerDialog.h"
#include "Named.h"
#include "core/Text.h"
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>

namespace vt {

ServerDialog::ServerDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmServer"));
    setWindowTitle(QStringLiteral("News server"));
    auto *form = new QFormLayout(this);
    txtHost = named<QLineEdit>("txtHost", this);
    // Room for a provider's full name.
    txtHost->setMinimumWidth(txtHost->fontMetrics().horizontalAdvance(QStringLiteral("news.eu.example-provider.com")) + 24);
    txtPort = named<QLineEdit>("txtPort", this);
    chkTLS = named<QCheckBox>("chkTLS", QStringLiteral("Encrypted (TLS)"), this);
    txtUser = named<QLineEdit>("txtUser", this);
    txtPassword = named<QLineEdit>("txtPassword", this);
    txtPassword->setEchoMode(QLineEdit::Password);
    spnConnections = named<QSpinBox>("spnConnections", this);
    spnConnections->setRange(1, 50);
    spnLevel = named<QSpinBox>("spnLevel", this);
    spnLevel->setRange(0, 99);
    spnLevel->setSpecialValueText(QStringLiteral("main"));
    chkOn = named<QCheckBox>("chkOn", QStringLiteral("Use this server"), this);
    form->addRow(QStringLiteral("Server:"), txtHost);
    form->addRow(QStringLiteral("Port:"), txtPort);
    form->addRow(QString(), chkTLS);
    form->addRow(QStringLiteral("User name:"), txtUser);
    form->addRow(QStringLiteral("Password:"), txtPassword);
    form->addRow(QStringLiteral("Connections:"), spnConnections);
    form->addRow(QStringLiteral("Backup level (0 = main):"), spnLevel);
    form->addRow(QString(), chkOn);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("cmdOk"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cmdCancel"));
    lblProblem = named<QLabel>("lblProblem", this);
    lblProblem->setWordWrap(true);
    lblProblem->hide();
    form->addRow(lblProblem);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        QString problem;
        quint16 port = 0;
        if (txtHost->text().trimmed().isEmpty()) problem = QStringLiteral("The server needs a name.");
        else if (!txtPort->text().trimmed().isEmpty() && !portNumber(txtPort->text(), &port))
            problem = QStringLiteral("The port \"") + txtPort->text().trimmed() + QStringLiteral("\" is not a number from 1 to 65535.");
        lblProblem->setText(problem);
        lblProblem->setVisible(!problem.isEmpty());
        if (problem.isEmpty()) accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // The standard ports follow TLS unless another was typed.
    connect(chkTLS, &QCheckBox::toggled, this, [this](bool on) {
        const QString p = txtPort->text().trimmed();
        if (p.isEmpty() || p == QLatin1String("119") || p == QLatin1String("563")) txtPort->setText(on ? QStringLiteral("563") : QStringLiteral("119"));
    });
    form->addRow(buttons);
}

void ServerDialog::load(const ServerEntry &e, bool first)
{
    lblProblem->hide();
    txtHost->setText(e.host);
    txtPort->setText(e.port);
    {
        const QSignalBlocker quiet(chkTLS);
        chkTLS->setChecked(e.tls);
    }
    txtUser->setText(e.user);
    txtPassword->setText(e.password);
    spnConnections->setValue(e.connections);
    spnLevel->setValue(first ? 0 : e.level);
    spnLevel->setEnabled(!first);
    chkOn->setChecked(first || e.enabled);
    chkOn->setEnabled(!first);
}

ServerEntry ServerDialog::entry() const
{
    ServerEntry e;
    e.host = txtHost->text().trimmed();
    e.port = txtPort->text().trimmed();
    e.tls = chkTLS->isChecked();
    e.user = txtUser->text().trimmed();
    e.password = txtPassword->text();
    e.connections = spnConnections->value();
    e.level = spnLevel->value();
    e.enabled = chkOn->isChecked();
    return e;
}

} // namespace vt
