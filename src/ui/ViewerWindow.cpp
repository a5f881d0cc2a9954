#include "ViewerWindow.h"
#include "Named.h"
#include "viewers/ArticleViewer.h"
#include "viewers/Preview.h"
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

PreviewWindow::PreviewWindow(Previewer &preview, QWidget *parent) : QDialog(parent), m_preview(preview)
{
    setObjectName(QStringLiteral("frmPreviewMP3"));
    setWindowTitle(QStringLiteral("Preview"));
    Label1 = named<QLabel>("Label1");
    Label2 = named<QLabel>("Label2");
    Label2->setWordWrap(true);
    ProgressBar1 = named<QProgressBar>("ProgressBar1", this);
    ProgressBar1->setTextVisible(false);
    auto *lay = new QVBoxLayout(this);
    lay->addWidget(Label2);
    lay->addWidget(ProgressBar1);
    lay->addWidget(Label1);
    resize(460, 120);
    connect(&preview, &Previewer::statusChanged, Label1, &QLabel::setText);
    connect(&preview, &Previewer::progressChanged, this, [this](qint64 value, qint64 max) {
        // Bars count in int: scale parts beyond 2 GB down.
        const int shift = max > INT_MAX ? 10 : 0;
        ProgressBar1->setMaximum(int(std::max<qint64>(1, max >> shift)));
        ProgressBar1->setValue(int(value >> shift));
    });
    connect(&preview, &Previewer::fetchFinished, this, &QDialog::hide);
}

void PreviewWindow::start(int item)
{
    Label1->clear();
    if (m_preview.StartPreview(item) != Previewer::Started::Fetching) return;
    Label2->setText(m_preview.viewTitle);
    show();
    raise();
}

void PreviewWindow::closeEvent(QCloseEvent *e)
{
    m_preview.closed();
    QDialog::closeEvent(e);
}

} // namespace vt
