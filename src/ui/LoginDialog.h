#pragma once
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace vt {

struct Settings;

// frmLogin: the news server and the login, edited straight into the settings.
class LoginDialog : public QDialog {
    Q_OBJECT
public:
    LoginDialog(Settings &settings, QWidget *parent = nullptr);
    QLineEdit *txtHost, *txtPort, *txtUserName, *txtPassword;
    QLabel *lblUserName, *lblPassword;
    QCheckBox *chkAuth, *chkSavePassword, *chkSlave, *chkModeReader, *chkSSL, *chkCompress;
    QPushButton *cmdGO, *cmdExit;
    // Shows the settings' current values.
    void load();

protected:
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    void enableLogin();
    Settings &m_settings;
};

} // namespace vt
