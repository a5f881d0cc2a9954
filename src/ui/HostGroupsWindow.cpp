#include "HostGroupsWindow.h"
#include "Named.h"
#include "groups/HostGroupList.h"
#include <QCloseEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QSortFilterProxyModel>
#include <QTimer>

namespace vt {

HostGroupsWindow::HostGroupsWindow(HostGroupList &list, QWidget *parent) : QDialog(parent), m_list(list)
{
    setObjectName(QStringLiteral("frmGrM"));
    setWindowTitle(QStringLiteral("Host Newsgroups"));
    ListView1 = rowList("ListView1", this, QAbstractItemView::ExtendedSelection);
    auto *sorted = new QSortFilterProxyModel(this);
    sorted->setSortRole(Qt::UserRole);
    sorted->setSourceModel(&list.results);
    ListView1->setModel(sorted);
    ListView1->setSortingEnabled(true);
    ListView1->sortByColumn(-1, Qt::AscendingOrder);   // arrival order until a header is clicked
    ListView1->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    txtQR = named<QLineEdit>("txtQR", this);
    txtQR->installEventFilter(this);
    optSearchType[0] = named<QRadioButton>("optSearchType", QStringLiteral("Starts with:"), this);
    optSearchType[1] = named<QRadioButton>("optSearchType", QStringLiteral("Contains:"), this);
    optSearchType[1]->setChecked(true);
    cmdQR = named<QPushButton>("cmdQR", QStringLiteral("Search"), this);
    cmdQR->setDefault(true);
    cmdGetHostGroups = named<QPushButton>("cmdGetHostGroups", QStringLiteral("Retrieve Groups from Host"), this);
    Command2 = named<QPushButton>("Command2", QStringLiteral("reload HOSTGRPS.TXT from disk"), this);
    cmdAdd = named<QPushButton>("cmdAdd", QStringLiteral("&Add Selections"), this);
    ProgressBar1 = named<QProgressBar>("ProgressBar1", this);
    ProgressBar1->setTextVisible(false);
    StatusBar1 = named<QStatusBar>("StatusBar1", this);
    StatusBar1->setSizeGripEnabled(false);
    for (size_t i = 0; i < panels.size(); ++i) {
        panels[i] = new QLabel(this);
        StatusBar1->addWidget(panels[i], i == 0 ? 3 : 1);
    }

    auto *g = new QGridLayout(this);
    g->addWidget(optSearchType[0], 0, 0);
    g->addWidget(optSearchType[1], 0, 1);
    g->addWidget(txtQR, 0, 2);
    g->addWidget(cmdQR, 0, 3);
    g->addWidget(ListView1, 1, 0, 1, 4);
    g->addWidget(ProgressBar1, 2, 0, 1, 4);
    g->addWidget(cmdGetHostGroups, 3, 0, 1, 2);
    g->addWidget(Command2, 3, 2);
    g->addWidget(cmdAdd, 3, 3);
    g->addWidget(StatusBar1, 4, 0, 1, 4);
    g->setColumnStretch(2, 1);
    resize(640, 480);

    connect(&list, &HostGroupList::statusChanged, this, [this](const QString &t, int panel, bool) {
        if (panel >= 0 && panel < int(panels.size())) panels[size_t(panel)]->setText(t);
    });
    connect(&list, &HostGroupList::progressChanged, this, [this](qint64 v, qint64 max) {
        const int shift = max > INT_MAX ? 10 : 0;
        ProgressBar1->setMaximum(int(std::max<qint64>(1, max >> shift)));
        ProgressBar1->setValue(int(v >> shift));
    });
    connect(&list, &HostGroupList::stateChanged, this, &HostGroupsWindow::follow);
    connect(cmdQR, &QPushButton::clicked, this, [this] {
        m_list.search(txtQR->text(), optSearchType[0]->isChecked() ? HostGroupList::StartsWith : HostGroupList::Contains);
    });
    connect(cmdGetHostGroups, &QPushButton::clicked, this, [this] { m_list.download(); });
    connect(Command2, &QPushButton::clicked, this, [this] { m_list.Preload_groups(); });
    connect(cmdAdd, &QPushButton::clicked, this, [this] { m_list.add(selectedGroups()); });
    follow();
}

void HostGroupsWindow::load()
{
    if (m_loaded) return;
    m_loaded = true;
    m_list.Preload_groups();
}

// The caption tells what the button does now; the other controls wait for the search.
void HostGroupsWindow::follow()
{
    const bool searching = m_list.searching(), busy = m_list.downloading() || searching;
    cmdQR->setText(searching ? QStringLiteral("&Stop Search") : QStringLiteral("Search"));
    cmdQR->setEnabled(searching || (m_list.searchable() && !busy));
    for (QWidget *w : {static_cast<QWidget *>(txtQR), static_cast<QWidget *>(optSearchType[0]),
                       static_cast<QWidget *>(optSearchType[1]), static_cast<QWidget *>(cmdAdd)})
        w->setEnabled(m_list.searchable() && !busy);
    cmdGetHostGroups->setEnabled(!busy);
    Command2->setEnabled(!busy);
}

std::vector<int> HostGroupsWindow::selectedGroups() const
{
    std::vector<int> rows;
    for (QModelIndex i : ListView1->selectionModel()->selectedRows()) {
        // Through the proxies in front of the results (sorting, icons).
        while (const auto *p = qobject_cast<const QAbstractProxyModel *>(i.model())) i = p->mapToSource(i);
        if (i.model() == &m_list.results) rows.push_back(i.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void HostGroupsWindow::showEvent(QShowEvent *e)
{
    load();
    QDialog::showEvent(e);
}

void HostGroupsWindow::closeEvent(QCloseEvent *e)
{
    m_list.closed();
    m_loaded = false;   // opened again, it reads the file again
    QDialog::closeEvent(e);
}

bool HostGroupsWindow::eventFilter(QObject *o, QEvent *e)
{
    if (o == txtQR && e->type() == QEvent::FocusIn) QTimer::singleShot(0, txtQR, &QLineEdit::selectAll);
    return QDialog::eventFilter(o, e);
}

} // namespace vt
