#include "AddGroupDialog.h"
#include "Named.h"
#include <QGridLayout>
#include <QLabel>
#include <QUrl>
#include <QUrlQuery>

namespace vt {

AddGroupDialog::AddGroupDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAddOne"));
    setWindowTitle(QStringLiteral("Add Newsgroup"));
    Text1 = named<QLineEdit>("Text1", this);
    Text1->setPlaceholderText(QStringLiteral("alt.binaries.example"));
    cmdOk = named<QPushButton>("cmdOk", QStringLiteral("OK"), this);
    cmdOk->setDefault(true);
    cmdExit = named<QPushButton>("cmdExit", QStringLiteral("Cancel"), this);
    cmdWebSiteNGSearch = named<QPushButton>("cmdWebSiteNGSearch", QStringLiteral("Search the &Web..."), this);
    cmdWebSiteNGSearch->setToolTip(QStringLiteral("Look for newsgroups on the web"));
    cmdGrM = named<QPushButton>("cmdGrM", QStringLiteral("&Host Groups..."), this);
    cmdGrM->setToolTip(QStringLiteral("Search the news server's list of newsgroups"));
    auto *g = new QGridLayout(this);
    g->addWidget(new QLabel(QStringLiteral("Newsgroup name:"), this), 0, 0, 1, 2);
    g->addWidget(Text1, 1, 0, 1, 2);
    g->addWidget(cmdOk, 2, 0);
    g->addWidget(cmdExit, 2, 1);
    g->addWidget(cmdWebSiteNGSearch, 3, 0);
    g->addWidget(cmdGrM, 3, 1);
    connect(cmdExit, &QPushButton::clicked, this, &QDialog::hide);
}

QString AddGroupDialog::searchAddress(const QString &text)
{
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("q"), QStringLiteral("usenet newsgroup ") + text.trimmed());
    QUrl u(QStringLiteral("https://duckduckgo.com/"));
    u.setQuery(q);
    return u.toString(QUrl::FullyEncoded);
}

} // namespace vt
