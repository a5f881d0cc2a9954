#pragma once
#include <QCheckBox>
#include <QDialog>
#include <QListView>
#include <QPushButton>

namespace vt {

class AppCore;

// frmLOG: the recorded log entries, newest first, and the two logging switches.
class LogWindow : public QDialog {
    Q_OBJECT
public:
    LogWindow(AppCore &core, QWidget *parent = nullptr);
    QListView *List1;
    QPushButton *cmdClear, *cmdOpenLog, *cmdClose;
    QCheckBox *chkEnableLogging, *chkLogFile;
    // How a file is opened for the user (the desktop's opener by default).
    std::function<void(const QString &)> openFile;

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    AppCore &m_core;
};

} // namespace vt
