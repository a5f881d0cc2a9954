#include "MainWindow.h"
#include "Named.h"
#include "SpeedGraph.h"
#include "core/AppCore.h"
#include "core/CommandLine.h"
#include <QStyledItemDelegate>
#include <QApplication>
#include <QPainter>
#include "core/ListRoles.h"
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QUrl>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSignalBlocker>
#include <memory>
#include <QKeyEvent>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

namespace vt {

namespace {

// A cell whose model gives a percent (ProgressRole) shows it as a bar with its text on it.
class ProgressDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QVariant pct = index.data(ProgressRole);
        if (!pct.isValid()) return QStyledItemDelegate::paint(p, option, index);
        QStyleOptionProgressBar bar;
        bar.rect = option.rect.adjusted(1, 1, -1, -1);
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = pct.toInt();
        bar.text = index.data().toString();
        bar.textVisible = true;
        bar.state = option.state | QStyle::State_Horizontal;
        bar.palette = option.palette;
        QStyle *st = option.widget ? option.widget->style() : QApplication::style();
        st->drawControl(QStyle::CE_ProgressBar, &bar, p, option.widget);
    }
};

QPushButton *addButton(QBoxLayout *row, const char *name, const char *text, const char *tip = nullptr)
{
    auto *b = named<QPushButton>(name, QString::fromUtf8(text));
    if (tip) b->setToolTip(QString::fromUtf8(tip));
    row->addWidget(b);
    return b;
}

QTableView *makeList(const char *name)
{
    QTableView *v = rowList(name, nullptr);
    // Rows of one fixed height: the view never measures 500,000 rows.
    v->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    v->verticalHeader()->setDefaultSectionSize(v->fontMetrics().height() + 4);
    v->setSortingEnabled(false);
    v->setWordWrap(false);
    v->setIconSize(QSize(16, 16));
    return v;
}

// A page of the tab strip: its layout, flush with the frame.
QVBoxLayout *newPage(QWidget *&page)
{
    page = new QWidget;
    auto *lay = new QVBoxLayout(page);
    lay->setContentsMargins(0, 0, 0, 0);
    return lay;
}

QProgressBar *addBar(QGridLayout *grid, int row, const char *name, const char *caption)
{
    auto *bar = named<QProgressBar>(name);
    bar->setTextVisible(false);
    grid->addWidget(new QLabel(QString::fromUtf8(caption)), row, 0);
    grid->addWidget(bar, row, 1);
    return bar;
}

} // namespace

MainWindow::MainWindow(AppCore &core, QWidget *parent) : QMainWindow(parent), m_core(core)
{
    setObjectName(QStringLiteral("frmMain"));
    m_title = QStringLiteral("Vantrel");
    setWindowTitle(m_title);
    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuFileImportNzb = mnuFile->addAction(QStringLiteral("Import NZB..."), this, &MainWindow::importNzbRequested);
    mnuFileImportNzb->setObjectName(QStringLiteral("mnuFileImportNzb"));
    mnuFileExportNzb = mnuFile->addAction(QStringLiteral("Export NZB..."), this, &MainWindow::exportNzbRequested);
    mnuFileExportNzb->setObjectName(QStringLiteral("mnuFileExportNzb"));
    setAcceptDrops(true);
    auto *central = new QWidget(this);
    auto *lay = new QVBoxLayout(central);

    auto *cmds = new QHBoxLayout;
    cmdScan = addButton(cmds, "cmdScan", "Scan", "Connect to News Server (start scan)");
    cmdScanStop = addButton(cmds, "cmdScanStop", "Stop", "Disconnect from News Server and stop scanning");
    cmds->addSpacing(12);
    // The buttons without a caption carry a picture; their accessible names say what they do.
    auto picture = [this, cmds](const char *name, QStyle::StandardPixmap pm, const char *tip) {
        QPushButton *b = addButton(cmds, name, "", tip);
        b->setIcon(style()->standardIcon(pm));
        b->setAccessibleName(QString::fromUtf8(tip));
        return b;
    };
    cmdOptions = picture("cmdOptions", QStyle::SP_FileDialogDetailedView, "Edit options");
    cmdLog = picture("cmdLog", QStyle::SP_FileDialogContentsView, "View Log");
    cmdEditWatch = picture("cmdEditWatch", QStyle::SP_FileDialogInfoView, "Edit Watch List");
    cmdSaveHeaders = picture("cmdSaveHeaders", QStyle::SP_DialogSaveButton, "Save headers to disk");
    cmds->addStretch();
    cmdAbout = addButton(cmds, "cmdAbout", "About");
    cmdHelp = addButton(cmds, "cmdHelp", "Help");
    lay->addLayout(cmds);

    TabStrip1 = named<QTabBar>("TabStrip1");
    for (const char *t : {"Headers", "Batch", "Processed"}) TabStrip1->addTab(QString::fromLatin1(t));
    lay->addWidget(TabStrip1);
    Frame1 = {buildHeadersPage(), buildBatchPage(), buildProcessedPage()};
    for (int i = 0; i < 3; ++i) {
        Frame1[size_t(i)]->setObjectName(QStringLiteral("Frame1_%1").arg(i));
        lay->addWidget(Frame1[size_t(i)], 1);
    }
    connect(TabStrip1, &QTabBar::currentChanged, this, [this](int i) { selectPage(i + 1); });
    selectPage(1);

    auto *stats = new QGridLayout;
    for (int i = 0; i < 5; ++i) {
        lblStats[size_t(i)] = named<QLabel>(QStringLiteral("lblStats%1").arg(i).toLatin1().constData(), QStringLiteral("--wait--"));
        stats->addWidget(lblStats[size_t(i)], i / 3, i % 3);
    }
    lay->addLayout(stats);
    setCentralWidget(central);

    lblCapX = named<QLabel>("lblCapX", QStringLiteral("Vantrel ready, press SCAN to start"));
    statusBar()->addWidget(lblCapX, 1);
    resize(900, 620);

    connect(&core.log, &OpsLog::statusChanged, lblCapX, &QLabel::setText);
    connect(&core.log, &OpsLog::minimizedTitleChanged, this, [this](const QString &t) {
        if (isMinimized()) setWindowTitle(t);
    });
    connect(&core.ui, &UiState::changed, this, &MainWindow::refreshUi);
    connect(&core.resources, &ResourceMonitor::changed, this, &MainWindow::refreshStats);
    bindCommands();
    bindKeys();
    refreshUi();
}

// The main commands on keys, standard ones where the desktop has them; each key is shown in
// its menu entry and in its button's tooltip, and does what the button does (nothing while
// the button is off).
void MainWindow::bindKeys()
{
    auto key = [this](QMenu *menu, const char *name, const QString &text, QKeySequence seq, const std::function<void()> &run,
                      QPushButton *shows = nullptr) {
        QAction *a = menu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(seq);
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, run);
        if (shows) shows->setToolTip(shows->toolTip() + QStringLiteral(" (") + seq.toString(QKeySequence::NativeText) + u')');
        return a;
    };
    auto clickIfOn = [](QPushButton *b) {
        return [b] {
            if (b->isEnabled()) b->click();
        };
    };
    mnuFileImportNzb->setShortcut(QKeySequence::Open);
    mnuFile->addSeparator();
    key(mnuFile, "mnuFileQuit", QStringLiteral("&Quit"), QKeySequence::Quit, [this] { emit closeRequested(); });
    QMenu *run = menuBar()->addMenu(QStringLiteral("&Run"));
    run->setObjectName(QStringLiteral("mnuRun"));
    key(run, "mnuRunScan", QStringLiteral("&Scan"), QKeySequence(Qt::Key_F5), clickIfOn(cmdScan), cmdScan);
    key(run, "mnuRunDownload", QStringLiteral("&Download"), QKeySequence(Qt::CTRL | Qt::Key_D), clickIfOn(cmdBatchDownload),
        cmdBatchDownload);
    // One Stop for whatever runs: the download when it does, else the scan.
    key(run, "mnuRunStop", QStringLiteral("S&top"), QKeySequence(Qt::Key_Escape), [this] {
        if (m_core.ui.statusLight() == 1) cmdBatchDownloadStop->click();
        else cmdScanStop->click();
    }, cmdScanStop);
    cmdBatchDownloadStop->setToolTip(cmdBatchDownloadStop->toolTip() + QStringLiteral(" (Esc)"));
    run->addSeparator();
    const QKeySequence prefs = QKeySequence(QKeySequence::Preferences).isEmpty() ? QKeySequence(Qt::CTRL | Qt::Key_Comma)
                                                                                 : QKeySequence(QKeySequence::Preferences);
    key(run, "mnuRunOptions", QStringLiteral("&Options..."), prefs, clickIfOn(cmdOptions), cmdOptions);
}

// Each control says what the user asks for; the rows it acts on are taken at the click.
void MainWindow::bindCommands()
{
    auto says = [this](QPushButton *b, void (MainWindow::*intent)()) { connect(b, &QPushButton::clicked, this, intent); };
    says(cmdScan, &MainWindow::scanRequested);
    says(cmdScanStop, &MainWindow::stopScanRequested);
    says(cmdOptions, &MainWindow::optionsRequested);
    says(cmdLog, &MainWindow::logRequested);
    says(cmdEditWatch, &MainWindow::watchListRequested);
    says(cmdSaveHeaders, &MainWindow::saveHeadersRequested);
    says(cmdAbout, &MainWindow::aboutRequested);
    says(cmdHelp, &MainWindow::helpRequested);
    says(cmdSearchSelect, &MainWindow::findRequested);
    says(cmdRestore, &MainWindow::restoreRequested);
    says(cmdBatchDownload, &MainWindow::downloadRequested);
    says(cmdBatchDownloadStop, &MainWindow::stopDownloadRequested);
    says(cmdProcClearAll, &MainWindow::clearAllProcessedRequested);
    says(cmdConnections, &MainWindow::connectionsRequested);
    auto onRows = [this](QPushButton *b, List l, void (MainWindow::*intent)(const std::vector<int> &)) {
        connect(b, &QPushButton::clicked, this, [this, l, intent] { emit(this->*intent)(selectedRows(l)); });
    };
    onRows(cmdAddtoQue, List::Headers, &MainWindow::addToBatchRequested);
    onRows(cmdViewArt, List::Headers, &MainWindow::viewTextRequested);
    onRows(cmdViewParts, List::Headers, &MainWindow::viewPartsRequested);
    onRows(cmdDelHeaders, List::Headers, &MainWindow::deleteHeadersRequested);
    onRows(cmdDelete, List::Batch, &MainWindow::batchRemoveRequested);
    onRows(cmdProcClearSels, List::Processed, &MainWindow::clearProcessedRequested);
    onRows(cmdProcRetry, List::Processed, &MainWindow::retryProcessedRequested);
    onRows(cmdProcFolder, List::Processed, &MainWindow::openProcessedFolderRequested);
    connect(mnuHvmPreview, &QAction::triggered, this, [this] { emit previewRequested(selectedRows(List::Headers)); });
    const std::pair<QPushButton *, BatchMove> moves[] = {
        {cmdMoveToTop, BatchMove::ToTop}, {cmdUP, BatchMove::Up}, {cmdDN, BatchMove::Down}, {cmdbatchMoveToBottom, BatchMove::ToBottom}};
    for (auto [b, how] : moves)
        connect(b, &QPushButton::clicked, this, [this, how = how] { emit batchMoveRequested(how, selectedRows(List::Batch)); });
    connect(cmdViewPartsinBatch, &QPushButton::clicked, this, [this] {
        const std::vector<int> items = selectedBatchItems();
        if (!items.empty()) emit batchPartsRequested(items.front());
    });
    for (QAction *a : {btnsComplete, btnsText, btnsUnknown, btnsIncomplete, btnsComplete_bp, btnsNew})
        connect(a, &QAction::toggled, this, [this] { emit viewFilterChanged(viewFilter()); });
    connect(cboVG, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (i >= 0) emit groupChosen(i, cboVG->itemText(i));
    });
    connect(ListView2, &QTableView::doubleClicked, this, [this](const QModelIndex &i) { emit headerActivated(i.row()); });
    connect(ListView4, &QTableView::doubleClicked, this, [this](const QModelIndex &i) { emit processedActivated(i.row()); });
    connect(ListView2->horizontalHeader(), &QHeaderView::sectionClicked, this, &MainWindow::headerColumnClicked);
    connect(ListView3->horizontalHeader(), &QHeaderView::sectionClicked, this, &MainWindow::batchColumnClicked);
    connect(ListView4->horizontalHeader(), &QHeaderView::sectionClicked, this, &MainWindow::processedColumnClicked);
    cmdRestore->setEnabled(false);
    lblTotalBatchTime->hide();
    lblCurrentFileTime->hide();
}

QTableView *MainWindow::list(List l) const
{
    switch (l) {
    case List::Headers: return ListView2;
    case List::Batch: return ListView3;
    case List::Processed: break;
    }
    return ListView4;
}

int MainWindow::currentPage() const { return TabStrip1->currentIndex() + 1; }

std::vector<int> MainWindow::selectedRows(List l) const { return selectedRows(list(l)); }

void MainWindow::selectRows(List l, const std::vector<int> &rows) { selectRows(list(l), rows); }

std::vector<int> MainWindow::selectedBatchItems() const
{
    std::vector<int> items;
    for (int r : selectedRows(List::Batch)) items.push_back(ListView3->model()->index(r, 0).data(Qt::UserRole).toInt());
    return items;
}

QVector<int> MainWindow::columnWidths(List l) const
{
    QTableView *v = list(l);
    QVector<int> w;
    for (int c = 0; v->model() && c < v->model()->columnCount(); ++c) w << (c == 0 ? subjectFloor(v) : v->columnWidth(c));
    return w;
}

void MainWindow::setColumnWidths(List l, const QVector<int> &widths)
{
    QTableView *v = list(l);
    for (int c = 0; c < widths.size() && v->model() && c < v->model()->columnCount(); ++c) {
        if (c == 0) v->setProperty("subjectFloor", widths[c]);
        v->setColumnWidth(c, widths[c]);
    }
}

int MainWindow::subjectFloor(const QTableView *v) const
{
    const QVariant f = v->property("subjectFloor");
    return f.isValid() ? f.toInt() : v->columnWidth(0);
}

void MainWindow::fillWithSubject(QTableView *v)
{
    auto fill = [this, v] {
        if (!v->model() || v->model()->columnCount() < 2) return;
        int others = 0;
        for (int c = 1; c < v->model()->columnCount(); ++c) others += v->isColumnHidden(c) ? 0 : v->columnWidth(c);
        const int want = std::max(subjectFloor(v), v->viewport()->width() - others);
        if (v->columnWidth(0) == want) return;
        v->setProperty("filling", true);
        v->setColumnWidth(0, want);
        v->setProperty("filling", false);
    };
    connect(v->horizontalHeader(), &QHeaderView::sectionResized, v, [v, fill](int section, int, int size) {
        if (section == 0) {
            // A drag on Subject sets its own width; the fill does not.
            if (!v->property("filling").toBool()) v->setProperty("subjectFloor", size);
            return;
        }
        QTimer::singleShot(0, v, fill);
    });
    v->viewport()->installEventFilter(this);
    // The last column keeps its own width: the free width is Subject's.
    v->horizontalHeader()->setStretchLastSection(false);
    m_fills.push_back({v, fill});
}

// The stored default widths are too narrow for today's fonts: a list whose widths were
// never saved is fitted to its contents once its first rows arrive.
void MainWindow::fitColumnsOnFirstRows(List l, const QVector<int> &floors)
{
    constexpr int kFitRows = 20;
    QTableView *view = list(l);
    QAbstractItemModel *m = view->model();
    if (!m) return;
    auto conns = std::make_shared<std::vector<QMetaObject::Connection>>();
    auto fit = [view, floors, conns] {
        if (view->model()->rowCount() == 0) return;
        for (const QMetaObject::Connection &c : *conns) QObject::disconnect(c);
        // The first rows only: measuring every text of a long list takes seconds.
        view->horizontalHeader()->setResizeContentsPrecision(kFitRows);
        view->resizeColumnsToContents();
        for (int c = 0; c < view->model()->columnCount(); ++c) {
            const int floor = c < floors.size() ? floors[c] : 0;
            view->setColumnWidth(c, std::clamp(view->columnWidth(c), floor, std::max(floor, 480)));
        }
    };
    conns->push_back(connect(m, &QAbstractItemModel::rowsInserted, this, fit, Qt::QueuedConnection));
    conns->push_back(connect(m, &QAbstractItemModel::modelReset, this, fit, Qt::QueuedConnection));
    conns->push_back(connect(m, &QAbstractItemModel::layoutChanged, this, fit, Qt::QueuedConnection));
}

void MainWindow::setCounters(const QString &read, const QString &items)
{
    lblMCount->setText(read);
    lblICount->setText(items);
}

void MainWindow::setViewCounter(const QString &text) { lblViewFilter->setText(text); }

void MainWindow::setBatchSize(const QString &text) { lblTotalBatchSize->setText(text); }

void MainWindow::setEtas(const QString &batch, const QString &file)
{
    // No known rate, no estimate: the labels are hidden rather than showing their captions.
    lblTotalBatchTime->setText(batch);
    lblTotalBatchTime->setVisible(!batch.isEmpty());
    lblCurrentFileTime->setText(file);
    lblCurrentFileTime->setVisible(!file.isEmpty());
}

void MainWindow::setRestoreEnabled(bool on) { cmdRestore->setEnabled(on); }

void MainWindow::setSaveEnabled(bool on) { cmdSaveHeaders->setEnabled(on); }

void MainWindow::setCategoryNames(const QStringList &names)
{
    mnuBVCategory->clear();
    for (const QString &n : QStringList{QString()} + names) {
        QAction *a = mnuBVCategory->addAction(n.isEmpty() ? QStringLiteral("None (the download folder)") : n);
        a->setObjectName(QStringLiteral("mnuBVCategory_") + n);
        connect(a, &QAction::triggered, this, [this, n] { emit batchCategoryRequested(selectedRows(List::Batch), n); });
    }
}

void MainWindow::setGroupChoices(const QStringList &groups)
{
    const QSignalBlocker quiet(cboVG);
    cboVG->clear();
    cboVG->addItem(QStringLiteral("All Newsgroups"));
    cboVG->addItem(QStringLiteral("no group (Display Disable)"));
    cboVG->addItems(groups);
    cboVG->setCurrentIndex(0);
}

void MainWindow::showAllGroupsQuietly()
{
    const QSignalBlocker quiet(cboVG);
    cboVG->setCurrentIndex(0);
}

MainWindow::ViewFilter MainWindow::viewFilter() const
{
    return {btnsComplete->isChecked(),   btnsText->isChecked(),        btnsUnknown->isChecked(),
            btnsIncomplete->isChecked(), btnsComplete_bp->isChecked(), btnsNew->isChecked()};
}

void MainWindow::addSpeedSample(double bytesPerSecond) { speedGraph->addSample(bytesPerSecond); }

void MainWindow::setHeaderSortIndicator(int column, bool descending)
{
    QHeaderView *h = ListView2->horizontalHeader();
    h->setSortIndicatorShown(column >= 0);
    if (column >= 0) h->setSortIndicator(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void MainWindow::setViewFilter(const ViewFilter &f)
{
    const std::pair<QAction *, bool> states[] = {{btnsComplete, f.complete},     {btnsText, f.text},       {btnsUnknown, f.unknown},
                                                 {btnsIncomplete, f.incomplete}, {btnsComplete_bp, f.inBatch}, {btnsNew, f.newOnly}};
    bool changed = false;
    for (auto [a, on] : states) {
        changed = changed || a->isChecked() != on;
        const QSignalBlocker quiet(a);
        a->setChecked(on);
    }
    if (changed) emit viewFilterChanged(viewFilter());
}

QWidget *MainWindow::buildHeadersPage()
{
    QWidget *page;
    QVBoxLayout *lay = newPage(page);
    auto *top = new QHBoxLayout;
    Toolbar1 = named<QToolBar>("Toolbar1");
    Toolbar1->setIconSize(QSize(16, 16));
    auto toggle = [this](QAction *&a, const char *key, const char *tip, bool on) {
        a = Toolbar1->addAction(QString::fromUtf8(tip));
        a->setObjectName(QString::fromLatin1(key));
        a->setToolTip(QString::fromUtf8(tip));
        a->setCheckable(true);
        a->setChecked(on);
    };
    toggle(btnsComplete, "btnsComplete", "Toggle view status (Complete)", true);
    toggle(btnsText, "btnsText", "Toggle view status (Text)", true);
    toggle(btnsUnknown, "btnsUnknown", "Toggle view status (Unknown)", true);
    toggle(btnsIncomplete, "btnsIncomplete", "Toggle view status (Incomplete)", true);
    toggle(btnsComplete_bp, "btnsComplete_bp", "Toggle view status (Items in batch)", true);
    toggle(btnsNew, "btnsNew", "View only new items for this session", false);
    top->addWidget(Toolbar1);
    top->addSpacing(12);
    top->addWidget(new QLabel(QStringLiteral("Group Zoom:")));
    cboVG = named<QComboBox>("cboVG");
    cboVG->addItem(QStringLiteral("All Newsgroups"));
    cboVG->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    cboVG->setMinimumWidth(200);
    top->addWidget(cboVG);
    top->addStretch();
    lay->addLayout(top);

    {
        auto *row = new QHBoxLayout;
        txtFilter = named<QLineEdit>("txtFilter");
        txtFilter->setPlaceholderText(QStringLiteral("Filter: type part of a name"));
        txtFilter->setClearButtonEnabled(true);
        txtFilter->setToolTip(QStringLiteral("Shows only the items whose name holds this text, as you type (Ctrl+L)"));
        row->addWidget(txtFilter, 1);
        lay->addLayout(row);
        // Once typing pauses: a large list is filtered once, not at every key.
        m_filterPause = new QTimer(this);
        m_filterPause->setSingleShot(true);
        m_filterPause->setInterval(150);
        connect(txtFilter, &QLineEdit::textChanged, m_filterPause, qOverload<>(&QTimer::start));
        connect(m_filterPause, &QTimer::timeout, this, [this] { emit textFilterChanged(txtFilter->text()); });
        auto *focus = new QAction(this);
        focus->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
        connect(focus, &QAction::triggered, txtFilter, [this] {
            txtFilter->setFocus();
            txtFilter->selectAll();
        });
        addAction(focus);
    }
    ListView2 = addList(lay, "ListView2");
    ListView2->horizontalHeader()->setSortIndicatorShown(false);
    fillWithSubject(ListView2);
    lblViewFilter = named<QLabel>("lblViewFilter", QStringLiteral("View Filter:"));
    lay->addWidget(lblViewFilter);

    auto *row = new QHBoxLayout;
    cmdAddtoQue = addButton(row, "cmdAddtoQue", "Add to &Batch", "Add selected article(s) to the batch");
    cmdViewArt = addButton(row, "cmdViewArt", "&View Text", "View selected article as text");
    cmdViewParts = addButton(row, "cmdViewParts", "View &Parts", "View a list of parts of the first selected multipart article");
    cmdSearchSelect = addButton(row, "cmdSearchSelect", "&Find", "Find headers that match some text you are going to enter");
    cmdDelHeaders = addButton(row, "cmdDelHeaders", "Delete", "Delete the selected header(s)");
    cmdRestore = addButton(row, "cmdRestore", "Restore", "Restore headers that have been deleted");
    row->addStretch();
    lblICount = named<QLabel>("lblICount", QStringLiteral("Items: 0"));
    lblMCount = named<QLabel>("lblMCount", QStringLiteral("Read: 0"));
    row->addWidget(lblICount);
    row->addSpacing(8);
    row->addWidget(lblMCount);
    lay->addLayout(row);

    auto *bars = new QGridLayout;
    progress[0] = addBar(bars, 0, "ProgressBar1", "Entire scan:");
    progress[1] = addBar(bars, 1, "ProgressBar2", "This group:");
    lay->addLayout(bars);

    mnuHvm = named<QMenu>("mnuHvm", this);
    menuEntry(mnuHvm, mnuHvmAddToBatch, "mnuHvmAddToBatch", "Add To Batch", cmdAddtoQue);
    menuEntry(mnuHvm, mnuHvmViewText, "mnuHvmViewText", "View Text", cmdViewArt);
    menuEntry(mnuHvm, mnuHvmViewParts, "mnuHvmViewParts", "View Parts", cmdViewParts);
    mnuHvmPreview = mnuHvm->addAction(QStringLiteral("Preview"));
    mnuHvmPreview->setObjectName(QStringLiteral("mnuHvmPreview"));
    menuEntry(mnuHvm, mnuHvmDelete, "mnuHvmDelete", "Delete", cmdDelHeaders);
    popupOver(ListView2, mnuHvm);
    return page;
}

QWidget *MainWindow::buildBatchPage()
{
    QWidget *page;
    QVBoxLayout *lay = newPage(page);
    ListView3 = addList(lay, "ListView3");
    fillWithSubject(ListView3);
    ListView3->setItemDelegate(new ProgressDelegate(ListView3));
    // Rows are dragged to a new place; the drop is taken here, not by the view.
    ListView3->setDragEnabled(true);
    ListView3->setAcceptDrops(true);
    ListView3->viewport()->setAcceptDrops(true);
    ListView3->setDropIndicatorShown(true);
    ListView3->viewport()->installEventFilter(this);

    auto *row = new QHBoxLayout;
    cmdBatchDownload = addButton(row, "cmdBatchDownload", "Download");
    cmdBatchDownloadStop = addButton(row, "cmdBatchDownloadStop", "Stop", "Abort Download");
    row->addSpacing(12);
    cmdDelete = addButton(row, "cmdDelete", "&Remove", "Remove selected item(s) from the batch");
    cmdUP = addButton(row, "cmdUP", "Move &Up", "Move selected items up in the batch order");
    cmdDN = addButton(row, "cmdDN", "Move D&own", "Move selected items down in the batch order");
    cmdMoveToTop = addButton(row, "cmdMoveToTop", "Move to Top", "Move selected items to top, so they will be downloaded next");
    cmdbatchMoveToBottom = addButton(row, "cmdbatchMoveToBottom", "Move to Botto&m", "Move selected items to bottom");
    cmdViewPartsinBatch = addButton(row, "cmdViewPartsinBatch", "View Parts", "View a list of parts of the first selected multipart article");
    cmdConnections = addButton(row, "cmdConnections", "Connections", "What each download connection is doing");
    row->addStretch();
    imgTestx = named<QLabel>("imgTestx");
    imgTestx->setToolTip(QStringLiteral("Indicates DL status (red=busy) click here to force dl start"));
    imgTestx->setFixedSize(14, 14);
    imgTestx->installEventFilter(this);
    row->addWidget(imgTestx);
    lay->addLayout(row);

    auto *bars = new QGridLayout;
    progress[2] = addBar(bars, 0, "ProgressBar3", "This part:");
    progress[3] = addBar(bars, 1, "ProgressBar4", "This file:");
    lay->addLayout(bars);
    auto *etas = new QHBoxLayout;
    lblTotalBatchSize = named<QLabel>("lblTotalBatchSize", QStringLiteral("Total batch size: 0.0mb"));
    lblCurrentFileTime = named<QLabel>("lblCurrentFileTime", QStringLiteral("Current file ETA"));
    lblTotalBatchTime = named<QLabel>("lblTotalBatchTime", QStringLiteral("Entire Batch ETA"));
    etas->addWidget(lblTotalBatchSize);
    etas->addStretch();
    etas->addWidget(lblCurrentFileTime);
    etas->addSpacing(16);
    etas->addWidget(lblTotalBatchTime);
    etas->addSpacing(16);
    speedGraph = new SpeedGraph;
    etas->addWidget(speedGraph);
    lay->addLayout(etas);

    mnuBV = named<QMenu>("mnuBV", this);
    menuEntry(mnuBV, mnuBVRemove, "mnuBVRemove", "Remove", cmdDelete);
    menuEntry(mnuBV, mnuBVMoveToTop, "mnuBVMoveToTop", "MoveToTop", cmdMoveToTop);
    menuEntry(mnuBV, mnuBVMoveUp, "mnuBVMoveUp", "Move Up", cmdUP);
    menuEntry(mnuBV, mnuBVMoveDown, "mnuBVMoveDown", "Move Down", cmdDN);
    menuEntry(mnuBV, mnuBVViewParts, "mnuBVViewParts", "View Parts", cmdViewPartsinBatch);
    mnuBV->addSeparator();
    for (const bool pause : {true, false}) {
        QAction *a = mnuBV->addAction(pause ? QStringLiteral("Pause") : QStringLiteral("Resume"));
        a->setObjectName(pause ? QStringLiteral("mnuBVPause") : QStringLiteral("mnuBVResume"));
        connect(a, &QAction::triggered, this, [this, pause] { emit batchPauseRequested(selectedRows(List::Batch), pause); });
    }
    mnuBVCategory = mnuBV->addMenu(QStringLiteral("Category"));
    mnuBVCategory->setObjectName(QStringLiteral("mnuBVCategory"));
    setCategoryNames({});
    popupOver(ListView3, mnuBV);
    return page;
}

QWidget *MainWindow::buildProcessedPage()
{
    QWidget *page;
    QVBoxLayout *lay = newPage(page);
    ListView4 = addList(lay, "ListView4");
    auto *row = new QHBoxLayout;
    cmdProcClearSels = addButton(row, "cmdProcClearSels", "Clear Selected");
    cmdProcClearAll = addButton(row, "cmdProcClearAll", "Clear All");
    cmdProcRetry = addButton(row, "cmdProcRetry", "Retry");
    cmdProcRetry->setToolTip(QStringLiteral("Queue the selected failed items again, or check and unpack a failed post again"));
    cmdProcFolder = addButton(row, "cmdProcFolder", "Open Folder");
    cmdProcFolder->setToolTip(QStringLiteral("Open the folder the selected row's files are in"));
    row->addStretch();
    lay->addLayout(row);
    return page;
}

QTableView *MainWindow::addList(QVBoxLayout *lay, const char *name)
{
    QTableView *v = makeList(name);
    v->installEventFilter(this);   // the keys of the lists
    lay->addWidget(v, 1);
    return v;
}

void MainWindow::selectPage(int tab)
{
    for (int i = 0; i < 3; ++i) Frame1[size_t(i)]->setVisible(i == tab - 1);
    if (TabStrip1->currentIndex() != tab - 1) TabStrip1->setCurrentIndex(tab - 1);
}

void MainWindow::applyImages()
{
    for (QTableView *v : {ListView2, ListView3, ListView4}) v->setIconSize(QSize(m_images.imageWidth, m_images.imageHeight));
    const std::pair<QAction *, const char *> buttons[] = {{btnsComplete, "complete"},      {btnsText, "text"},
                                                          {btnsUnknown, "unknown"},        {btnsIncomplete, "incomplete"},
                                                          {btnsComplete_bp, "iteminbatch"}, {btnsNew, "new"}};
    for (auto [a, key] : buttons) a->setIcon(m_images.icon(QLatin1String(key)));
    for (QTableView *v : {ListView2, ListView3, ListView4}) v->viewport()->update();
}

void MainWindow::setListModels(QAbstractItemModel *headers, QAbstractItemModel *batch, QAbstractItemModel *processed)
{
    QTableView *views[] = {ListView2, ListView3, ListView4};
    QAbstractItemModel *models[] = {headers, batch, processed};
    for (int i = 0; i < 3; ++i) {
        m_proxies[size_t(i)] = new IconProxy(m_images, this);
        m_proxies[size_t(i)]->setSourceModel(models[i]);
        views[i]->setModel(m_proxies[size_t(i)]);
    }
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
    if (e->type() == QEvent::Resize)
        for (const auto &[v, fill] : m_fills)
            if (o == v->viewport()) fill();
    if (ListView3 && o == ListView3->viewport() && (e->type() == QEvent::DragEnter || e->type() == QEvent::DragMove || e->type() == QEvent::Drop)) {
        auto *d = static_cast<QDropEvent *>(e);
        // Only rows of this list; files from outside go to the window.
        if (!d->mimeData() || !d->mimeData()->hasFormat(QStringLiteral("application/x-qabstractitemmodeldatalist"))) return false;
        d->setDropAction(Qt::MoveAction);
        d->accept();
        if (e->type() == QEvent::Drop) {
            const QModelIndex at = ListView3->indexAt(d->position().toPoint());
            emit batchMoveToRequested(selectedRows(List::Batch), at.isValid() ? at.row() : ListView3->model()->rowCount());
            return true;
        }
        return e->type() != QEvent::DragMove;   // the view draws where it would land
    }
    if (o == imgTestx && e->type() == QEvent::MouseButtonRelease) {
        emit downloadRequested();
        return true;
    }
    if (e->type() == QEvent::KeyPress && o == ListView2) {
        const auto *k = static_cast<QKeyEvent *>(e);
        // Keys are letters whatever the case; Qt gives the same key code for both.
        const bool ctrl = k->modifiers() & Qt::ControlModifier;
        if (k->key() == Qt::Key_Delete) cmdDelHeaders->click();
        else if (ctrl && k->key() == Qt::Key_A) ListView2->selectAll();
        else if (ctrl && k->key() == Qt::Key_B) cmdAddtoQue->click();
        else if (ctrl && k->key() == Qt::Key_F) cmdSearchSelect->click();
        else if (ctrl && k->key() == Qt::Key_V) cmdViewArt->click();
        else if (ctrl && k->key() == Qt::Key_P) cmdViewParts->click();
        else if (ctrl && k->key() == Qt::Key_R) emit previewRequested(selectedRows(List::Headers));
        else return QMainWindow::eventFilter(o, e);
        return true;
    }
    if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(e)->key() == Qt::Key_Delete) {
        if (o == ListView3) {
            cmdDelete->click();
            return true;
        }
        if (o == ListView4) {
            cmdProcClearSels->click();
            return true;
        }
    }
    return QMainWindow::eventFilter(o, e);
}

QStringList MainWindow::nzbFilesIn(const QMimeData *data)
{
    QStringList out;
    if (!data || !data->hasUrls()) return out;
    for (const QUrl &u : data->urls())
        if (u.isLocalFile() && isNzbFileName(u.toLocalFile())) out << u.toLocalFile();
    return out;
}

void MainWindow::dragEnterEvent(QDragEnterEvent *e)
{
    if (!nzbFilesIn(e->mimeData()).isEmpty()) e->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *e)
{
    const QStringList files = nzbFilesIn(e->mimeData());
    if (files.isEmpty()) return;
    e->acceptProposedAction();
    emit nzbFilesDropped(files);
}

std::vector<int> MainWindow::selectedRows(const QTableView *v)
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

bool MainWindow::event(QEvent *e)
{
    if (e->type() == QEvent::WindowActivate) emit activated();
    return QMainWindow::event(e);
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
