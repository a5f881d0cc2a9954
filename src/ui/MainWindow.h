#pragma once
#include "Skin.h"
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <functional>
#include <QTimer>
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
// are always visible, the status line and the resource lines. It shows what it is given
// and says what the user asks for (its signals); its widgets are its own. Tests reach
// them by object name, as the Parts name them.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(AppCore &core, QWidget *parent = nullptr);

    enum class List { Headers, Batch, Processed };
    enum class BatchMove { ToTop, Up, Down, ToBottom };
    // Which kinds of items the header list shows.
    struct ViewFilter {
        bool complete = true, text = true, unknown = true, incomplete = true, inBatch = true, newOnly = false;
    };

    ImageList &images() { return m_images; }
    // Attaches the image list to the three lists and the toolbar (after the skin loaded).
    void applyImages();
    void setListModels(QAbstractItemModel *headers, QAbstractItemModel *batch, QAbstractItemModel *processed);
    void selectPage(int tab);   // 1..3
    int currentPage() const;    // 1..3

    // 0-based rows selected in a list, top to bottom; the batch's also as items.
    std::vector<int> selectedRows(List l) const;
    std::vector<int> selectedBatchItems() const;
    void selectRows(List l, const std::vector<int> &rows);
    QVector<int> columnWidths(List l) const;
    void setColumnWidths(List l, const QVector<int> &widths);
    // Fits the columns to the first rows once they arrive, no narrower than floors.
    void fitColumnsOnFirstRows(List l, const QVector<int> &floors);

    void setCounters(const QString &read, const QString &items);
    void setViewCounter(const QString &text);
    void setBatchSize(const QString &text);
    // The categories the batch's menu offers (Category submenu).
    void setCategoryNames(const QStringList &names);
    // Empty: the estimate is hidden.
    void setEtas(const QString &batch, const QString &file);
    // The speed graph: one sample a second while a download runs.
    void addSpeedSample(double bytesPerSecond);
    void setRestoreEnabled(bool on);
    void setSaveEnabled(bool on);
    // The group chooser: all groups, the display switched off, then each group; quietly
    // back to all groups.
    void setGroupChoices(const QStringList &groups);
    void showAllGroupsQuietly();
    ViewFilter viewFilter() const;
    void setViewFilter(const ViewFilter &f);
    // The header list's sort indicator: the column and order it is sorted by (-1: none).
    void setHeaderSortIndicator(int column, bool descending);

    // Rows of a list whose settings widget is not this window (options, watch list).
    static std::vector<int> selectedRows(const QTableView *v);
    static void selectRows(QTableView *v, const std::vector<int> &rows);
    // The .nzb files among dropped URLs.
    static QStringList nzbFilesIn(const QMimeData *data);

signals:
    void closeRequested();
    void activated();
    // Always-visible commands.
    void scanRequested();
    void stopScanRequested();
    void optionsRequested();
    void logRequested();
    void watchListRequested();
    void saveHeadersRequested();
    void aboutRequested();
    void helpRequested();
    void importNzbRequested();
    void exportNzbRequested();
    void nzbFilesDropped(const QStringList &paths);
    // Headers page; rows are the header list's, 0-based.
    void addToBatchRequested(const std::vector<int> &rows);
    void viewTextRequested(const std::vector<int> &rows);
    void viewPartsRequested(const std::vector<int> &rows);
    void previewRequested(const std::vector<int> &rows);   // mnuHvmPreview, Ctrl+R
    void headerActivated(int row);                         // double click
    void findRequested();
    void deleteHeadersRequested(const std::vector<int> &rows);
    void restoreRequested();
    void viewFilterChanged(const vt::MainWindow::ViewFilter &f);
    void groupChosen(int index, const QString &text);   // 0 all, 1 display off, then groups
    void headerColumnClicked(int column);
    // The filter box above the header list, once typing pauses.
    void textFilterChanged(const QString &text);
    // Batch page.
    void downloadRequested();   // the button, or a click on the status light
    void stopDownloadRequested();
    void batchMoveRequested(vt::MainWindow::BatchMove how, const std::vector<int> &rows);
    void batchRemoveRequested(const std::vector<int> &rows);
    void batchMoveToRequested(const std::vector<int> &rows, int before);   // dragged and dropped
    void batchPauseRequested(const std::vector<int> &rows, bool pause);
    // A category chosen for the selected rows; empty: none.
    void batchCategoryRequested(const std::vector<int> &rows, const QString &category);
    void batchPartsRequested(int item);
    void batchColumnClicked(int column);
    void connectionsRequested();   // each download connection's state
    // Processed page.
    void clearProcessedRequested(const std::vector<int> &rows);
    void clearAllProcessedRequested();
    void retryProcessedRequested(const std::vector<int> &rows);
    void openProcessedFolderRequested(const std::vector<int> &rows);
    void processedActivated(int row);
    void processedColumnClicked(int column);

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
    // The Subject column takes the width the others leave, never less than its own width
    // (saved, or set by a drag), which is what columnWidths() gives back.
    void fillWithSubject(QTableView *v);
    int subjectFloor(const QTableView *v) const;
    std::vector<std::pair<QTableView *, std::function<void()>>> m_fills;
    QTableView *list(List l) const;
    void menuEntry(QMenu *menu, QAction *&a, const char *name, const char *text, QPushButton *runs);
    void popupOver(QTableView *list, QMenu *menu);
    void bindCommands();
    void bindKeys();
    void refreshUi();
    void refreshStats();
    AppCore &m_core;
    QString m_title;
    ImageList m_images;
    std::array<IconProxy *, 3> m_proxies{};

    QMenu *mnuFile;
    QAction *mnuFileImportNzb, *mnuFileExportNzb;
    QPushButton *cmdScan, *cmdScanStop, *cmdOptions, *cmdLog, *cmdEditWatch, *cmdSaveHeaders, *cmdAbout, *cmdHelp;
    QLabel *lblCapX;
    std::array<QLabel *, 5> lblStats{};
    QTabBar *TabStrip1;
    std::array<QWidget *, 3> Frame1{};
    std::array<QProgressBar *, 4> progress{};   // ProgressBar1..4
    // Page "Headers".
    QLineEdit *txtFilter;
    QTimer *m_filterPause;
    QTableView *ListView2 = nullptr;
    QLabel *lblViewFilter, *lblICount, *lblMCount;
    QComboBox *cboVG;
    QToolBar *Toolbar1;
    QAction *btnsComplete, *btnsText, *btnsUnknown, *btnsIncomplete, *btnsComplete_bp, *btnsNew;
    QPushButton *cmdAddtoQue, *cmdViewArt, *cmdViewParts, *cmdSearchSelect, *cmdDelHeaders, *cmdRestore;
    QMenu *mnuHvm;
    QAction *mnuHvmAddToBatch, *mnuHvmViewText, *mnuHvmViewParts, *mnuHvmPreview, *mnuHvmDelete;
    // Page "Batch".
    QTableView *ListView3 = nullptr;
    class SpeedGraph *speedGraph = nullptr;
    QPushButton *cmdBatchDownload, *cmdBatchDownloadStop, *cmdDelete, *cmdUP, *cmdDN, *cmdMoveToTop, *cmdbatchMoveToBottom,
        *cmdViewPartsinBatch, *cmdConnections;
    QMenu *mnuBV, *mnuBVCategory;
    QAction *mnuBVRemove, *mnuBVMoveToTop, *mnuBVMoveUp, *mnuBVMoveDown, *mnuBVViewParts;
    QLabel *lblTotalBatchSize, *lblTotalBatchTime, *lblCurrentFileTime;
    QLabel *imgTestx;
    // Page "Processed".
    QTableView *ListView4;
    QPushButton *cmdProcClearSels, *cmdProcClearAll, *cmdProcRetry, *cmdProcFolder;
};

} // namespace vt
