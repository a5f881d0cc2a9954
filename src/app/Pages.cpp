#include "Pages.h"
#include <QTimer>
#include "engine/Engine.h"
#include "ui/SearchWindow.h"

namespace vt {

HeadersPage::HeadersPage(Engine &engine, MainWindow &window, QObject *parent)
    : QObject(parent), m_e(engine), m_w(window), m_search(std::make_unique<SearchWindow>(&window))
{
    HeaderListModel &view = m_e.view;
    connect(&m_w, &MainWindow::groupChosen, this, &HeadersPage::zoomOnGroup);
    connect(&m_w, &MainWindow::addToBatchRequested, this, [this](const std::vector<int> &rows) {
        std::vector<int> items;
        for (int r : rows) items.push_back(m_e.view.itemAt(r));
        for (int i : items) m_e.batch.AddToBatch(i);
    });
    connect(&m_w, &MainWindow::deleteHeadersRequested, this, &HeadersPage::deleteHeaders);
    connect(&m_w, &MainWindow::restoreRequested, this, &HeadersPage::restore);
    connect(&m_w, &MainWindow::findRequested, this, [this] {
        m_e.core.sounds.PlaySound(QStringLiteral("vtv021.wav"));
        m_search->show();
    });
    connect(m_search->cmdSearch, &QPushButton::clicked, this, &HeadersPage::search);
    connect(&m_w, &MainWindow::viewFilterChanged, this, &HeadersPage::applyFilter);
    connect(&m_w, &MainWindow::headerColumnClicked, this, [this](int column) {
        m_e.view.sortByColumn(column);
        m_w.setHeaderSortIndicator(m_e.view.sortColumn(), m_e.view.sortDescending());
    });
    connect(&m_w, &MainWindow::textFilterChanged, this, [this](const QString &text) {
        m_e.view.setTextFilter(text);
        m_e.view.ViewRefreshInSteps();
    });
    connect(&view, &HeaderListModel::counterChanged, &m_w, &MainWindow::setViewCounter);
    connect(&m_e.scan, &ScanDriver::countersChanged, this, &HeadersPage::showCounters);
    takeFilter(m_w.viewFilter());
}

HeadersPage::~HeadersPage() = default;

void HeadersPage::zoomOnGroup(int index, const QString &name)
{
    HeaderListModel &view = m_e.view;
    view.viewGroupKey = index == 0 ? HeaderListModel::AllGroups : index == 1 ? HeaderListModel::DisplayOff : m_e.groups.ngFindKeyByGroupName(name);
    view.ViewRefreshInSteps();
}

void HeadersPage::fillGroupChooser()
{
    QStringList names;
    for (int r = 1; r <= m_e.groups.rows(); ++r) names << m_e.groups.nameByKey(m_e.groups.rowKey(r));
    m_w.setGroupChoices(names);
    // The chooser is back on all groups: so is the list.
    HeaderListModel &view = m_e.view;
    const bool zoomed = view.viewGroupKey != HeaderListModel::AllGroups;
    view.viewGroupKey = HeaderListModel::AllGroups;
    if (zoomed) view.ViewRefreshInSteps();
}

void HeadersPage::showCounters() { m_w.setCounters(m_e.scan.readCounterText(), m_e.scan.itemCounterText()); }

void HeadersPage::deleteHeaders(const std::vector<int> &rows)
{
    auto deleted = [this] {
        m_e.store.headersDirty = true;
        m_w.setRestoreEnabled(true);
    };
    if (m_e.view.deleteRows(rows)) {
        deleted();
        return;
    }
    m_e.core.prompter.askYesNo(QStringLiteral("Nothing selected, delete all ") + QString::number(m_e.store.partsReadTotal)
                                   + QStringLiteral(" headers?"),
                               this, [this, deleted](bool yes) {
                                   if (!yes) return;
                                   m_e.view.deleteAll();
                                   deleted();
                               });
}

void HeadersPage::restore()
{
    m_e.core.prompter.askYesNo(QStringLiteral("Restore all deleted headers?"), this, [this](bool yes) {
        if (!yes) return;
        m_e.view.ViewRefresh(true);
        m_w.setRestoreEnabled(false);
    });
}

void HeadersPage::search()
{
    m_w.showAllGroupsQuietly();
    SearchWindow &f = *m_search;
    if (m_e.view.search(f.txtSearch->text(), f.chkMatchCase->isChecked(), f.chkSearchDeleted->isChecked()) == 0)
        m_e.core.prompter.message(QStringLiteral("No matching headers"));
}

void HeadersPage::takeFilter(const MainWindow::ViewFilter &f)
{
    HeaderListModel &view = m_e.view;
    view.showComplete = f.complete;
    view.showText = f.text;
    view.showUnknown = f.unknown;
    view.showIncomplete = f.incomplete;
    view.showInBatch = f.inBatch;
    view.newOnly = f.newOnly;
}

void HeadersPage::applyFilter(const MainWindow::ViewFilter &f)
{
    takeFilter(f);
    m_e.view.ViewRefreshInSteps();
}

BatchPage::BatchPage(Engine &engine, MainWindow &window, QObject *parent) : QObject(parent), m_e(engine), m_w(window)
{
    DownloadDriver &dl = m_e.download;
    connect(&m_w, &MainWindow::downloadRequested, &dl, &DownloadDriver::startCheck);
    connect(&m_w, &MainWindow::stopDownloadRequested, &dl, &DownloadDriver::stop);
    connect(&m_w, &MainWindow::batchMoveRequested, this, &BatchPage::move);
    connect(&m_w, &MainWindow::batchMoveToRequested, this, [this](const std::vector<int> &rows, int before) {
        const std::vector<int> picked = rows;
        m_w.selectRows(MainWindow::List::Batch, m_e.batch.MoveSelectedTo(picked, before));
    });
    connect(&m_w, &MainWindow::batchPauseRequested, this, [this](const std::vector<int> &rows, bool pause) {
        if (rows.empty()) m_e.core.prompter.message(QStringLiteral("Nothing selected."));
        else m_e.batch.setPaused(rows, pause);
    });
    connect(&m_w, &MainWindow::batchRemoveRequested, this, [this](const std::vector<int> &rows) {
        if (!m_e.batch.removeSelected(rows)) m_e.core.prompter.message(QStringLiteral("Nothing selected."));
    });
    connect(&m_w, &MainWindow::batchColumnClicked, &m_e.batch, &BatchQueue::sortOnce);
    connect(&m_e.batch, &BatchQueue::sizeTextChanged, &m_w, &MainWindow::setBatchSize);
    m_w.setBatchSize(m_e.batch.sizeText());
    connect(&dl, &DownloadDriver::etaChanged, this, [this] { m_w.setEtas(m_e.download.batchEta, m_e.download.fileEta); });
    // One speed sample a second while the download runs.
    auto *second = new QTimer(this);
    second->setInterval(1000);
    connect(second, &QTimer::timeout, this, [this] { m_w.addSpeedSample(m_e.download.running() ? m_e.download.progress().rate : 0.0); });
    connect(&dl, &DownloadDriver::runningChanged, second, [second](bool on) {
        if (on) second->start();
        else second->stop();
    });
    connect(&m_w, &MainWindow::connectionsRequested, this, [this] {
        const QStringList states = m_e.download.connectionStates();
        m_e.core.prompter.message(states.isEmpty() ? QStringLiteral("No download connection is open.") : states.join(u'\n'));
    });
}

void BatchPage::move(MainWindow::BatchMove how, const std::vector<int> &rows)
{
    // Nothing of the request is read once the rows moved: they are copied here.
    const std::vector<int> picked = rows;
    BatchQueue &b = m_e.batch;
    std::vector<int> moved;
    switch (how) {
    case MainWindow::BatchMove::ToTop: moved = b.MoveSelectedToTop(picked); break;
    case MainWindow::BatchMove::Up: moved = b.MoveSelectedUp(picked); break;
    case MainWindow::BatchMove::Down: moved = b.MoveSelectedDown(picked); break;
    case MainWindow::BatchMove::ToBottom: moved = b.MoveSelectedToBottom(picked); break;
    }
    m_w.selectRows(MainWindow::List::Batch, moved);
}

ProcessedPage::ProcessedPage(Engine &engine, MainWindow &window, QObject *parent) : QObject(parent)
{
    ProcessedList &p = engine.processed;
    Decoder &d = engine.decoder;
    connect(&window, &MainWindow::clearAllProcessedRequested, &p, &ProcessedList::clearAll);
    connect(&window, &MainWindow::clearProcessedRequested, &p, [&p](const std::vector<int> &rows) { p.removeSelected(rows); });
    connect(&window, &MainWindow::processedColumnClicked, &p, &ProcessedList::sortBy);
    connect(&window, &MainWindow::processedActivated, this, [&d](int row) { d.LaunchProcessed(row); });
    connect(&window, &MainWindow::retryProcessedRequested, this, [&engine](const std::vector<int> &rows) { engine.download.retryProcessed(rows); });
    connect(&window, &MainWindow::openProcessedFolderRequested, this, [&d](const std::vector<int> &rows) {
        if (!rows.empty()) d.openProcessedFolder(rows.front());
    });
}

} // namespace vt
