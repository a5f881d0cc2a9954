#include "ViewerWindow.h"
#include "Named.h"
#include "viewers/ArticleViewer.h"
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHeaderView>
#include <QVBoxLayout>

namespace vt {

ViewerWindow::ViewerWindow(ArticleViewer &viewer, QWidget *parent) : QDialog(parent), m_viewer(viewer)
{
    setObjectName(QStringLiteral("frmViewArt"));
    Text1 = named<QPlainTextEdit>("Text1", this);
    Text1->setReadOnly(true);
    Text1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto *lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(Text1);
    resize(720, 520);
    // The viewer keeps CR LF line ends; the box shows lines.
    connect(&viewer, &ArticleViewer::textChanged, this, [this](const QString &t) {
        QString shown = t;
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        Text1->setPlainText(shown);
    });
}

bool ViewerWindow::start()
{
    if (!m_viewer.open()) return false;
    setWindowTitle(m_viewer.caption());
    show();
    raise();
    return true;
}

void ViewerWindow::closeEvent(QCloseEvent *e)
{
    m_viewer.closed();
    QDialog::closeEvent(e);
}

PartsWindow::PartsWindow(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmViewParts"));
    ListView1 = rowList("ListView1", this, QAbstractItemView::SingleSelection);
    ListView1->setIconSize(QSize(16, 16));
    auto *lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(ListView1);
    resize(760, 360);
}

} // namespace vt
