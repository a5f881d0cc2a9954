#pragma once
#include "Skin.h"
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>
#include <array>
#include <vector>

namespace vt {

class AppCore;

// frmMain: three pages (headers, batch, processed) under a tab strip, the commands that
// are always visible, the status line and the resource lines.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(AppCore &core, QWidget *parent = nullptr);

    // The File menu: NZB files in and out.
    QMenu *mnuFile;
    QAction *mnuFileImportNzb, *mnuFileExportNzb;

    // Always visible.
    QPushButton *cmdScan, *cmdScanStop, *cmdOptions, *cmdLog, *cmdEditWatch, *cmdSaveHeaders, *cmdAbout, *cmdHelp;
    QLabel *lblCapX;
    std::array<QLabel *, 5> lblStats{};
    QTabBar *TabStrip1;
    std::array<QWidget *, 3> Frame1{};
    std::array<QProgressBar *, 4> progress{};   // ProgressBar1..4

    // Page "Headers".
    QTableView *ListView2;
    QLabel *lblViewFilter, *lblICount, *lblMCount;
    QComboBox *cboVG;
    QToolBar *Toolbar1;
    QAction *btnsComplete, *btnsText, *btnsUnknown, *btnsIncomplete, *btnsComplete_bp, *btnsNew;
    QPushButton *cmdAddtoQue, *cmdViewArt, *cmdViewParts, *cmdSearchSelect, *cmdDelHeaders, *cmdRestore;
    QMenu *mnuHvm;
    QAction *mnuHvmAddToBatch, *mnuHvmViewText, *mnuHvmViewParts, *mnuHvmPreview, *mnuHvmDelete;

    // Page "Batch".
    QTableView *ListView3;
    QPushButton *cmdBatchDownload, *cmdBatchDownloadStop, *cmdDelete, *cmdUP, *cmdDN, *cmdMoveToTop, *cmdbatchMoveToBottom,
        *cmdViewPartsinBatch;
    QMenu *mnuBV;
    QAction *mnuBVRemove, *mnuBVMoveToTop, *mnuBVMoveUp, *mnuBVMoveDown, *mnuBVViewParts;
    QLabel *lblTotalBatchSize, *lblTotalBatchTime, *lblCurrentFileTime;
    QLabel *imgTestx;

    // Page "Processed".
    QTableView *ListView4;
    QPushButton *cmdProcClearSels, *cmdProcClearAll;

    ImageList ImageList1;
    // Attaches the image list to the three lists and the toolbar (after the skin loaded).
    void applyImages();
    void setListModels(QAbstractItemModel *headers, QAbstractItemModel *batch, QAbstractItemModel *processed);
    // 0-based rows selected in a view, top to bottom.
    static std::vector<int> selectedRows(QTableView *v);
    static void selectRows(QTableView *v, const std::vector<int> &rows);
    // The .nzb files among dropped URLs.
    static QStringList nzbFilesIn(const QMimeData *data);
    void selectPage(int tab);   // 1..3

signals:
    void closeRequested();
    void statusLightClicked();
    void previewRequested();   // mnuHvmPreview, Ctrl+R
    void activated();
    void importNzbRequested();
    void exportNzbRequested();
    void nzbFilesDropped(const QStringList &paths);

protected:
    void closeEvent(QCloseEvent *e) override;
    void changeEvent(QEvent *e) override;
    bool event(QEvent *e) override;
    void dragEnterEvent(QDragEnterEvent *e) override;
    void dropEvent(QDropEvent *e) override;
    // Keys of the lists and the click on the status light.
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    QWidget *buildHeadersPage();
    QWidget *buildBatchPage();
    QWidget *buildProcessedPage();
    QTableView *addList(QVBoxLayout *lay, const char *name);
    void menuEntry(QMenu *menu, QAction *&a, const char *name, const char *text, QPushButton *runs);
    void popupOver(QTableView *list, QMenu *menu);
    void refreshUi();
    void refreshStats();
    AppCore &m_core;
    QString m_title;
    std::array<IconProxy *, 3> m_proxies{};
};

} // namespace vt
