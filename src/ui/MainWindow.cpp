#include "MainWindow.h"
#include "Named.h"
#include "core/AppCore.h"
#include <QCloseEvent>
#include <QKeyEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <algorithm>
#include <QHBoxLayout>
#include <QStatusBar>
#include <QVBoxLayout>

namespace vt {

MainWindow::MainWindow(AppCore &core, QWidget *parent) : QMainWindow(parent), m_core(core)
{
    setObjectName(QStringLiteral("frmMain"));
    m_title = QStringLiteral("Vantrel");
    setWindowTitle(m_title);
    auto *central = new QWidget(this);
    auto *lay = new QVBoxLayout(central);

    auto *cmds = new QHBoxLayout;
    cmdScan = new QPushButton(QStringLiteral("&Scan"), central);
    cmdScan->setObjectName(QStringLiteral("cmdScan"));
    cmdScanStop = new QPushButton(QStringLiteral("Stop"), central);
    cmdScanStop->setObjectName(QStringLiteral("cmdScanStop"));
    cmdBatchDownload = new QPushButton(QStringLiteral("&Download"), central);
    cmdBatchDownload->setObjectName(QStringLiteral("cmdBatchDownload"));
    cmdSaveHeaders = new QPushButton(QStringLiteral("Save"), central);
    cmdSaveHeaders->setObjectName(QStringLiteral("cmdSaveHeaders"));
    cmdSaveHeaders->setToolTip(QStringLiteral("Save headers to disk"));
    cmdLog = new QPushButton(QStringLiteral("&Log"), central);
    cmdLog->setObjectName(QStringLiteral("cmdLog"));
    imgTestx = new QLabel(central);
    imgTestx->setObjectName(QStringLiteral("imgTestx"));
    imgTestx->setToolTip(QStringLiteral("Indicates DL status (red=busy) click here to force dl start"));
    imgTestx->setFixedSize(14, 14);
    for (QWidget *w : {static_cast<QWidget *>(cmdScan), static_cast<QWidget *>(cmdScanStop),
                       static_cast<QWidget *>(cmdBatchDownload), static_cast<QWidget *>(cmdSaveHeaders),
                       static_cast<QWidget *>(cmdLog)})
        cmds->addWidget(w);
    lblRead = new QLabel(QStringLiteral("Read: 0"), central);
    lblRead->setObjectName(QStringLiteral("lblRead"));
    lblItems = new QLabel(QStringLiteral("Items: 0"), central);
    lblItems->setObjectName(QStringLiteral("lblItems"));
    cmds->addStretch();
    cmds->addWidget(lblRead);
    cmds->addWidget(lblItems);
    cmds->addWidget(imgTestx);
    lay->addLayout(cmds);

    auto *bars = new QGridLayout;
    const char *captions[4] = {"Overall:", "Group:", "This part:", "This file:"};
    for (int i = 0; i < 4; ++i) {
        progress[size_t(i)] = new QProgressBar(central);
        progress[size_t(i)]->setObjectName(QStringLiteral("ProgressBar%1").arg(i + 1));
        progress[size_t(i)]->setTextVisible(false);
        bars->addWidget(new QLabel(QString::fromLatin1(captions[i]), central), i, 0);
        bars->addWidget(progress[size_t(i)], i, 1);
    }
    lay->addLayout(bars);
    auto *stats = new QVBoxLayout;
    for (int i = 0; i < 5; ++i) {
        lblStats[size_t(i)] = new QLabel(central);
        lblStats[size_t(i)]->setObjectName(QStringLiteral("lblStats%1").arg(i));
        stats->addWidget(lblStats[size_t(i)]);
    }
    lay->addLayout(stats);

    auto *etas = new QHBoxLayout;
    lblTotalBatchTime = new QLabel(central);
    lblTotalBatchTime->setObjectName(QStringLiteral("lblTotalBatchTime"));
    lblCurrentFileTime = new QLabel(central);
    lblCurrentFileTime->setObjectName(QStringLiteral("lblCurrentFileTime"));
    lblBatchSize = new QLabel(QStringLiteral("Batch empty."), central);
    lblBatchSize->setObjectName(QStringLiteral("lblBatchSize"));
    etas->addWidget(lblBatchSize);
    etas->addStretch();
    etas->addWidget(lblCurrentFileTime);
    etas->addWidget(lblTotalBatchTime);
    lay->addLayout(etas);

    auto makeView = [central](const char *name) {
        auto *v = new QTableView(central);
        v->setObjectName(QString::fromLatin1(name));
        v->setSelectionBehavior(QAbstractItemView::SelectRows);
        v->setSelectionMode(QAbstractItemView::ExtendedSelection);
        v->setEditTriggers(QAbstractItemView::NoEditTriggers);
        v->verticalHeader()->hide();
        v->horizontalHeader()->setStretchLastSection(true);
        v->setSortingEnabled(false);
        return v;
    };
    ListView2 = makeView("ListView2");
    cboVG = new QComboBox(central);
    cboVG->setObjectName(QStringLiteral("cboVG"));
    Toolbar1 = addToolBar(QStringLiteral("View"));
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    auto toggle = [this](QAction *&a, const char *key, const char *text, bool on) {
        a = Toolbar1->addAction(QString::fromLatin1(text));
        a->setObjectName(QString::fromLatin1(key));
        a->setCheckable(true);
        a->setChecked(on);
    };
    toggle(btnsComplete, "btnsComplete", "Complete", true);
    toggle(btnsIncomplete, "btnsIncomplete", "Incomplete", true);
    toggle(btnsUnknown, "btnsUnknown", "Unknown", true);
    toggle(btnsText, "btnsText", "Text", true);
    toggle(btnsComplete_bp, "btnsComplete_bp", "In batch", true);
    toggle(btnsNew, "btnsNew", "New only", false);
    Toolbar1->addWidget(cboVG);
    auto *headerCmds = new QHBoxLayout;
    auto headerButton = [central, headerCmds](QPushButton *&b, const char *name, const char *text, const char *tip) {
        b = new QPushButton(QString::fromLatin1(text), central);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(QString::fromLatin1(tip));
        headerCmds->addWidget(b);
    };
    headerButton(cmdAddtoQue, "cmdAddtoQue", "Add to &Batch", "Add selected article(s) to the batch");
    headerButton(cmdSearchSelect, "cmdSearchSelect", "&Find", "Find headers that match some text you are going to enter");
    headerButton(cmdDelHeaders, "cmdDelHeaders", "Delete", "Delete the selected header(s)");
    headerButton(cmdRestore, "cmdRestore", "Restore", "Restore headers that have been deleted");
    headerCmds->addStretch();
    ListView2->installEventFilter(this);
    mnuHvm = named<QMenu>("mnuHvm", this);
    menuEntry(mnuHvm, mnuHvmAddToBatch, "mnuHvmAddToBatch", "Add To Batch", cmdAddtoQue);
    menuEntry(mnuHvm, mnuHvmDelete, "mnuHvmDelete", "Delete", cmdDelHeaders);
    popupOver(ListView2, mnuHvm);
    lblViewFilter = new QLabel(central);
    lblViewFilter->setObjectName(QStringLiteral("lblViewFilter"));
    ListView3 = makeView("ListView3");
    ListView4 = makeView("ListView4");
    auto *batchCmds = new QHBoxLayout;
    auto button = [central, batchCmds](QPushButton *&b, const char *name, const char *text) {
        b = new QPushButton(QString::fromLatin1(text), central);
        b->setObjectName(QString::fromLatin1(name));
        batchCmds->addWidget(b);
    };
    button(cmdMoveTop, "cmdMoveTop", "Top");
    button(cmdMoveUp, "cmdMoveUp", "Up");
    button(cmdMoveDown, "cmdMoveDown", "Down");
    button(cmdMoveBottom, "cmdMoveBottom", "Bottom");
    button(cmdBatchRemove, "cmdBatchRemove", "Remove");
    button(cmdBatchDownloadStop, "cmdBatchDownloadStop", "Abort Download");
    batchCmds->addStretch();
    button(cmdProcClearSels, "cmdProcClearSels", "Clear selected");
    button(cmdProcessedClear, "cmdProcessedClear", "Clear processed");
    cmdBatchRemove->setToolTip(QStringLiteral("Remove selected item(s) from the batch"));
    cmdMoveTop->setToolTip(QStringLiteral("Move selected items to top, so they will be downloaded next"));
    mnuBV = named<QMenu>("mnuBV", this);
    menuEntry(mnuBV, mnuBVRemove, "mnuBVRemove", "Remove", cmdBatchRemove);
    menuEntry(mnuBV, mnuBVMoveToTop, "mnuBVMoveToTop", "Move to Top", cmdMoveTop);
    menuEntry(mnuBV, mnuBVMoveUp, "mnuBVMoveUp", "Move Up", cmdMoveUp);
    menuEntry(mnuBV, mnuBVMoveDown, "mnuBVMoveDown", "Move Down", cmdMoveDown);
    popupOver(ListView3, mnuBV);
    ListView3->installEventFilter(this);
    ListView4->installEventFilter(this);
    lay->addWidget(lblViewFilter);
    lay->addWidget(ListView2, 3);
    lay->addLayout(headerCmds);
    lay->addLayout(batchCmds);
    lay->addWidget(ListView3, 2);
    lay->addWidget(ListView4, 1);
    setCentralWidget(central);

    lblCapX = new QLabel(this);
    lblCapX->setObjectName(QStringLiteral("lblCapX"));
    statusBar()->addWidget(lblCapX, 1);
    resize(800, 560);

    connect(&core.log, &OpsLog::statusChanged, lblCapX, &QLabel::setText);
    connect(&core.log, &OpsLog::minimizedTitleChanged, this, [this](const QString &t) {
        if (isMinimized()) setWindowTitle(t);
    });
    connect(&core.ui, &UiState::changed, this, &MainWindow::refreshUi);
    connect(&core.resources, &ResourceMonitor::changed, this, &MainWindow::refreshStats);
    refreshUi();
}

void MainWindow::refreshUi()
{
    cmdScan->setEnabled(m_core.ui.scanEnabled());
    for (int i = 0; i < 4; ++i) {
        const UiState::Bar b = m_core.ui.bar(UiState::BarId(i));
        // Bars hold int; scale large byte counts down together.
        const qint64 div = b.max > INT_MAX ? b.max / INT_MAX + 1 : 1;
        progress[size_t(i)]->setMaximum(int(std::max<qint64>(1, b.max / div)));
        progress[size_t(i)]->setValue(int(std::min(b.value, b.max) / div));
    }
    imgTestx->setStyleSheet(m_core.ui.statusLight() ? QStringLiteral("background:#d22;border-radius:7px;")
                                                    : QStringLiteral("background:#2a2;border-radius:7px;"));
}

void MainWindow::menuEntry(QMenu *menu, QAction *&a, const char *name, const char *text, QPushButton *runs)
{
    a = menu->addAction(QString::fromLatin1(text));
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, runs, &QPushButton::click);
}

// The menu opens for the right button only over selected rows.
void MainWindow::popupOver(QTableView *list, QMenu *menu)
{
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, [list, menu](const QPoint &at) {
        if (!selectedRows(list).empty()) menu->popup(list->viewport()->mapToGlobal(at));
    });
}

bool MainWindow::eventFilter(QObject *o, QEvent *e)
{
    if (e->type() == QEvent::KeyPress && o == ListView2) {
        const auto *k = static_cast<QKeyEvent *>(e);
        // Keys are letters whatever the case; Qt gives the same key code for both.
        const bool ctrl = k->modifiers() & Qt::ControlModifier;
        if (k->key() == Qt::Key_Delete) cmdDelHeaders->click();
        else if (ctrl && k->key() == Qt::Key_A) ListView2->selectAll();
        else if (ctrl && k->key() == Qt::Key_B) cmdAddtoQue->click();
        else if (ctrl && k->key() == Qt::Key_F) cmdSearchSelect->click();
        else return QMainWindow::eventFilter(o, e);
        return true;
    }
    if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(e)->key() == Qt::Key_Delete) {
        if (o == ListView3) {
            cmdBatchRemove->click();
            return true;
        }
        if (o == ListView4) {
            cmdProcClearSels->click();
            return true;
        }
    }
    return QMainWindow::eventFilter(o, e);
}

void MainWindow::setBatchModels(QAbstractItemModel *batch, QAbstractItemModel *processed)
{
    ListView3->setModel(batch);
    ListView4->setModel(processed);
}

std::vector<int> MainWindow::selectedRows(QTableView *v)
{
    std::vector<int> rows;
    if (!v->selectionModel()) return rows;
    for (const QModelIndex &i : v->selectionModel()->selectedRows()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void MainWindow::selectRows(QTableView *v, const std::vector<int> &rows)
{
    QItemSelectionModel *sel = v->selectionModel();
    if (!sel || !v->model()) return;
    sel->clearSelection();
    for (int r : rows) {
        const QModelIndex i = v->model()->index(r, 0);
        sel->select(i, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        v->scrollTo(i);
    }
}

void MainWindow::refreshStats()
{
    for (int i = 0; i < 5; ++i) {
        lblStats[size_t(i)]->setText(m_core.resources.lines()[i]);
        lblStats[size_t(i)]->setVisible(m_core.resources.visible());
    }
}

void MainWindow::closeEvent(QCloseEvent *e)
{
    // The shutdown sequence decides whether and when the process ends.
    e->ignore();
    emit closeRequested();
}

void MainWindow::changeEvent(QEvent *e)
{
    if (e->type() == QEvent::WindowStateChange) {
        m_core.log.setMinimized(isMinimized());
        if (!isMinimized()) setWindowTitle(m_title);
    }
    QMainWindow::changeEvent(e);
}

} // namespace vt
