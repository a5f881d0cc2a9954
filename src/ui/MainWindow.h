#pragma once
#include <QLabel>
#include <QComboBox>
#include <QMainWindow>
#include <QToolBar>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <array>
#include <vector>

namespace vt {

class AppCore;

// frmMain: status line, resource lines, progress bars and the commands built so far.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(AppCore &core, QWidget *parent = nullptr);

    QLabel *lblCapX;
    std::array<QLabel *, 5> lblStats{};
    std::array<QProgressBar *, 4> progress{};   // ProgressBar1..4
    QPushButton *cmdScan, *cmdScanStop, *cmdLog, *cmdBatchDownload, *cmdSaveHeaders, *cmdBatchDownloadStop;
    // The header list (ListView2), its counter, the group chooser and the status toggles.
    QTableView *ListView2;
    QLabel *lblViewFilter;
    QComboBox *cboVG;
    QToolBar *Toolbar1;
    QAction *btnsComplete, *btnsText, *btnsUnknown, *btnsIncomplete, *btnsComplete_bp, *btnsNew;
    QPushButton *cmdAddtoQue, *cmdSearchSelect, *cmdDelHeaders, *cmdRestore;
    // The header list's menu (right button over selected rows).
    QMenu *mnuHvm;
    QAction *mnuHvmAddToBatch, *mnuHvmDelete;
    // The batch (ListView3) and its commands, the processed list (ListView4).
    QTableView *ListView3, *ListView4;
    QPushButton *cmdMoveTop, *cmdMoveUp, *cmdMoveDown, *cmdMoveBottom, *cmdBatchRemove, *cmdProcessedClear, *cmdProcClearSels;
    // The batch list's menu (right button over selected rows); its entries run the buttons above.
    QMenu *mnuBV;
    QAction *mnuBVRemove, *mnuBVMoveToTop, *mnuBVMoveUp, *mnuBVMoveDown;
    QLabel *lblBatchSize, *lblTotalBatchTime, *lblCurrentFileTime;
    void setBatchModels(QAbstractItemModel *batch, QAbstractItemModel *processed);
    // 0-based rows selected in a view, top to bottom.
    static std::vector<int> selectedRows(QTableView *v);
    void selectRows(QTableView *v, const std::vector<int> &rows);
    QLabel *imgTestx;
    QLabel *lblRead, *lblItems;

signals:
    void closeRequested();

protected:
    void closeEvent(QCloseEvent *e) override;
    void changeEvent(QEvent *e) override;
    // The Delete key in the two lists.
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    void menuEntry(QMenu *menu, QAction *&a, const char *name, const char *text, QPushButton *runs);
    void popupOver(QTableView *list, QMenu *menu);
    void refreshUi();
    void refreshStats();
    AppCore &m_core;
    QString m_title;
};

} // namespace vt
