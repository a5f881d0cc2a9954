#pragma once
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <array>

namespace vt {

class WatchList;

// frmWatchAdd ("Add Watch"): one pattern, the field it is matched against, and its case.
class WatchAddDialog : public QDialog {
    Q_OBJECT
public:
    explicit WatchAddDialog(QWidget *parent = nullptr);
    QLineEdit *Text1;
    std::array<QRadioButton *, 2> optWhere{};   // 0 Subject, 1 From
    QCheckBox *chkCase;
    QPushButton *cmdAdd, *cmdCancel;
    void clear();
};

// frmWatch: the watch list's rows, add and remove.
class WatchWindow : public QDialog {
    Q_OBJECT
public:
    WatchWindow(WatchList &list, QWidget *parent = nullptr);
    QTableView *ListView1;
    QPushButton *cmdAdd, *cmdRemove, *cmdClose;
    QLabel *lblWarning;
    WatchAddDialog *frmWatchAdd;
    // Whether the option is on, asked on every activation.
    std::function<bool()> enabled;

protected:
    bool event(QEvent *e) override;
};

// The about box: the program's name and version.
class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget *parent = nullptr);
    QLabel *lblName, *lblVersion;
    QPushButton *cmdOK;
};

} // namespace vt
