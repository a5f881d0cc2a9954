#pragma once
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTableView>
#include <array>

namespace vt {

class HostGroupList;

// frmGrM, "Host Newsgroups": the server's group list, its search and the add button.
class HostGroupsWindow : public QDialog {
    Q_OBJECT
public:
    HostGroupsWindow(HostGroupList &list, QWidget *parent = nullptr);
    QTableView *ListView1;
    QLineEdit *txtQR;
    std::array<QRadioButton *, 2> optSearchType;   // "Starts with:", "Contains:"
    QPushButton *cmdQR, *cmdGetHostGroups, *Command2, *cmdAdd;
    QStatusBar *StatusBar1;
    std::array<QLabel *, 2> panels;
    QProgressBar *ProgressBar1;
    // Loads the window (the list file) once, without showing it.
    void load();
    // Source rows of the selection.
    std::vector<int> selectedGroups() const;

protected:
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    void follow();
    HostGroupList &m_list;
    bool m_loaded = false;
};

} // namespace vt
