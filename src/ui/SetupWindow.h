#pragma once
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTreeView>
#include <array>

namespace vt {

class SetupAssistant;

// The guide's picture, drawn here rather than loaded.
QPixmap guidePicture(int height);

// frmVTa, "Vantrel Setup Assistant": twelve pages over the assistant's engine.
class SetupWindow : public QDialog {
    Q_OBJECT
public:
    SetupWindow(SetupAssistant &assistant, QWidget *parent = nullptr);
    QLabel *Picture1, *lblVanty1;
    QStackedWidget *frames;
    std::array<QWidget *, 12> picF;
    std::array<QRadioButton *, 2> optF1, optUsePaths, optGetGroups;
    QLabel *Label9;
    QLineEdit *txtServerName, *txtPort, *txtUserName, *txtPassword;
    QCheckBox *chkAuth, *chkSavePassword, *chkSSL;
    std::array<QLabel *, 2> lblLob;
    std::array<QLabel *, 4> lblTst;
    QLabel *lblError, *lblPath, *lblDLG;
    QComboBox *Drive1;
    QTreeView *Dir1;
    QPushButton *cmdNewFolder, *cmdDlGroups, *cmdDone, *cmdBack, *cmdNext, *cmdCancel;
    std::array<QLabel *, 3> lblFinal;

    // Opens on page 0.
    void start();
    // The folder list moves there (a new folder, a drive).
    void setFolder(const QString &folder);

signals:
    void helpLinkClicked();

protected:
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    void refresh();
    QWidget *page(int n);
    SetupAssistant &m_a;
    QFileSystemModel m_dirs;
};

} // namespace vt
