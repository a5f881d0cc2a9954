#include "WatchWindow.h"
#include "Named.h"
#include "headers/WatchList.h"
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#ifndef VANTREL_VERSION
#define VANTREL_VERSION "0"
#endif

namespace vt {

WatchAddDialog::WatchAddDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmWatchAdd"));
    setWindowTitle(QStringLiteral("Add Watch"));
    Text1 = named<QLineEdit>("Text1", this);
    auto *where = new QGroupBox(QStringLiteral("In field:"), this);
    auto *whereLay = new QHBoxLayout(where);
    optWhere[0] = named<QRadioButton>("optWhere0", QStringLiteral("Subject"), where);
    optWhere[1] = named<QRadioButton>("optWhere1", QStringLiteral("From"), where);
    for (QRadioButton *b : optWhere) whereLay->addWidget(b);
    chkCase = named<QCheckBox>("chkCase", QStringLiteral("Match Case"), this);
    cmdAdd = named<QPushButton>("cmdAdd", QStringLiteral("&Add Watch"), this);
    cmdAdd->setDefault(true);
    cmdCancel = named<QPushButton>("cmdCancel", QStringLiteral("&Cancel"), this);
    auto *lay = new QVBoxLayout(this);
    lay->addWidget(new QLabel(QStringLiteral("Watch for text:"), this));
    lay->addWidget(Text1);
    lay->addWidget(where);
    lay->addWidget(chkCase);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(cmdAdd);
    row->addWidget(cmdCancel);
    lay->addLayout(row);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    clear();
}

void WatchAddDialog::clear()
{
    Text1->clear();
    optWhere[0]->setChecked(true);
    chkCase->setChecked(false);
}

WatchWindow::WatchWindow(WatchList &list, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmWatch"));
    setWindowTitle(QStringLiteral("Watch List"));
    ListView1 = rowList("ListView1", this);
    ListView1->setModel(&list);
    ListView1->setColumnWidth(0, 240);
    lblWarning = named<QLabel>("lblWarning", this);
    cmdAdd = named<QPushButton>("cmdAdd", QStringLiteral("&Add"), this);
    cmdRemove = named<QPushButton>("cmdRemove", QStringLiteral("&Remove"), this);
    cmdClose = named<QPushButton>("cmdClose", QStringLiteral("&Close"), this);
    frmWatchAdd = new WatchAddDialog(this);
    auto *lay = new QVBoxLayout(this);
    lay->addWidget(ListView1, 1);
    lay->addWidget(lblWarning);
    auto *row = new QHBoxLayout;
    row->addWidget(cmdAdd);
    row->addWidget(cmdRemove);
    row->addStretch();
    row->addWidget(cmdClose);
    lay->addLayout(row);
    resize(480, 320);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::hide);
    connect(cmdAdd, &QPushButton::clicked, this, [this] {
        frmWatchAdd->clear();
        frmWatchAdd->open();
    });
}

bool WatchWindow::event(QEvent *e)
{
    if (e->type() == QEvent::WindowActivate || e->type() == QEvent::Show)
        lblWarning->setText(WatchList::warningText(enabled && enabled()));
    return QDialog::event(e);
}

AboutBox::AboutBox(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Vantrel"));
    lblName = named<QLabel>("lblName", QStringLiteral("<b>Vantrel</b>"), this);
    lblVersion = named<QLabel>("lblVersion", QStringLiteral("Version ") + QStringLiteral(VANTREL_VERSION), this);
    cmdOK = named<QPushButton>("cmdOK", QStringLiteral("OK"), this);
    auto *lay = new QVBoxLayout(this);
    lay->addWidget(lblName);
    lay->addWidget(lblVersion);
    lay->addWidget(new QLabel(QStringLiteral("Collects and decodes binary posts from a Usenet news server."), this));
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(cmdOK);
    lay->addLayout(row);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace vt
