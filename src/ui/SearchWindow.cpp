#include "SearchWindow.h"
#include <QGridLayout>
#include <QLabel>

namespace vt {

SearchWindow::SearchWindow(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmSearch"));
    setWindowTitle(QStringLiteral("Find headers"));
    txtSearch = new QLineEdit(this);
    txtSearch->setObjectName(QStringLiteral("txtSearch"));
    chkMatchCase = new QCheckBox(QStringLiteral("Match case"), this);
    chkMatchCase->setObjectName(QStringLiteral("chkMatchCase"));
    chkSearchDeleted = new QCheckBox(QStringLiteral("Search deleted headers too"), this);
    chkSearchDeleted->setObjectName(QStringLiteral("chkSearchDeleted"));
    cmdSearch = new QPushButton(QStringLiteral("&Search"), this);
    cmdSearch->setObjectName(QStringLiteral("cmdSearch"));
    cmdSearch->setDefault(true);
    cmdClose = new QPushButton(QStringLiteral("&Close"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
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
