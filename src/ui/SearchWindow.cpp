#include "SearchWindow.h"
#include "Named.h"
#include <QGridLayout>
#include <QLabel>

namespace vt {

SearchWindow::SearchWindow(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmSearch"));
    setWindowTitle(QStringLiteral("Find headers"));
    txtSearch = named<QLineEdit>("txtSearch", this);
    chkMatchCase = named<QCheckBox>("chkMatchCase", QStringLiteral("Match case"), this);
    chkSearchDeleted = named<QCheckBox>("chkSearchDeleted", QStringLiteral("Search deleted headers too"), this);
    cmdSearch = named<QPushButton>("cmdSearch", QStringLiteral("&Search"), this);
    cmdSearch->setDefault(true);
    cmdClose = named<QPushButton>("cmdClose", QStringLiteral("&Close"), this);
    auto *g = new QGridLayout(this);
    g->addWidget(new QLabel(QStringLiteral("Find headers containing:"), this), 0, 0, 1, 2);
    g->addWidget(txtSearch, 1, 0, 1, 2);
    g->addWidget(chkMatchCase, 2, 0);
    g->addWidget(chkSearchDeleted, 2, 1);
    g->addWidget(cmdSearch, 3, 0);
    g->addWidget(cmdClose, 3, 1);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::hide);
}

} // namespace vt
