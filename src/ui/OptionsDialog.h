#pragma once
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <functional>
#include <vector>

namespace vt {

struct Settings;

// frmFavs: the newsgroup list and its commands, and every option, edited straight into
// the settings (the file is written at exit).
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    OptionsDialog(Settings &settings, QWidget *parent = nullptr);
    QTabWidget *pages;

    // Page "Newsgroups".
    QTableView *ListView1;
    QPushButton *cmdAddOne, *cmdDelete, *cmdReset, *cmdToggleRead, *cmdUP, *cmdDN, *cmdMoveToTop, *cmdResetNewFlags;

    // Page "Download".
    QLabel *lblDownloadPath, *lblCachePath;
    QPushButton *cmdBrowseDLPath, *cmdBrowseCachePath;
    QCheckBox *chkMakeSubDirs, *chkSaveDecodes, *chkDirectDecode, *chkOldRenameStyle, *chkAutoDelBatch, *chkAutodownload, *chkAllowRestart,
        *chkRestart500, *chkSFX, *chkDisableStats, *chkPar2Verify, *chkPar2Repair, *chkPar2Delete, *chkPar2KeepBackups, *chkUnpack,
        *chkUnpackKeepArchives, *chkNotify, *chkTray;
    QPlainTextEdit *txtUnpackPasswords;
    QSpinBox *txtSpeedLimit, *txtScanConnections;
    QSlider *sldRescan;
    QLabel *lblRescan;

    // Page "Servers": the first server and the others, with their connections.
    QTableView *ListServers;
    QPushButton *cmdServerAdd, *cmdServerEdit, *cmdServerRemove, *cmdServerTest;
    QLabel *lblServerConnections, *lblServerTest;
    class ServerList *serverList;
    class ServerDialog *serverDialog;
    // The selected server row, 0-based; -1 when none.
    int selectedServer() const;

    // Page "Scan".
    QSlider *sldTimeout, *sldXOVER;
    QLabel *lblTimeout, *lblXOVER;
    QCheckBox *chkAgressiveHeaderCrunch, *chkSaveAfterScan, *chkAlwaysSaveHeaders, *chkResetNewOnScan, *chkAutoExpire,
        *chkEnableWatch;

    // Page "Remote": the API and web page, the watched folder, the categories.
    QCheckBox *chkRemote;
    QLineEdit *txtRemoteAddress, *txtApiKey, *txtRemoteUser, *txtRemotePassword, *txtWatchFolder;
    QSpinBox *txtRemotePort;
    QPushButton *cmdNewApiKey;
    QPlainTextEdit *txtCategories;   // a category a line: "name" or "name = folder"

    QPushButton *cmdClose;

    // Shows the settings' current values.
    void load();

signals:
    // An option changed: the program applies it at once.
    void changed();

private:
    // A number from low to high on its own row, written to the settings as it changes.
    QSpinBox *spinBox(QWidget *page, const char *name, const char *caption, int low, int high, int Settings::*field);
    QCheckBox *check(QWidget *page, const char *name, const char *caption, bool Settings::*field);
    // A line of text on its own row, written to the settings as it changes.
    QLineEdit *lineEdit(QWidget *page, const char *name, const char *caption, QString Settings::*field);
    QSlider *slider(QWidget *page, QLabel *&label, const char *name, int lo, int hi, int Settings::*field,
                    QString (Settings::*caption)() const);
    Settings &m_settings;
    std::vector<std::function<void()>> m_loaders;
};

} // namespace vt
