#include "SplashWindow.h"
#include <QApplication>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

namespace vt {

SplashWindow::SplashWindow(QWidget *parent) : QWidget(parent, Qt::SplashScreen | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frmWait"));
    auto *lay = new QVBoxLayout(this);
    auto *title = new QLabel(QStringLiteral("<b>Vantrel</b>"), this);
    title->setAlignment(Qt::AlignCenter);
    lblVersion = new QLabel(this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    const QStringList v = QStringLiteral(VANTREL_VERSION).split(u'.');
    lblVersion->setText(QStringLiteral("v") + v.value(0).trimmed() + u'.' + v.value(1).trimmed() + u'.' + v.value(2).trimmed());
    lblVersion->setAlignment(Qt::AlignCenter);
    lblNFO = new QLabel(this);
    lblNFO->setObjectName(QStringLiteral("lblNFO"));
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setMaximum(10);
    lay->addWidget(title);
    lay->addWidget(lblVersion);
    lay->addWidget(lblNFO);
    lay->addWidget(ProgressBar1);
    resize(360, 130);
}

void SplashWindow::showStatus(const QString &status, int progress)
{
    if (!status.isEmpty()) {
        lblNFO->setText(status);
        shownTexts << status;
    }
    ProgressBar1->setValue(progress);
    repaint();
}

void SplashWindow::showProgress(const QString &status, qint64 value, qint64 max)
{
    if (!status.isEmpty()) {
        lblNFO->setText(status);
        shownTexts << status;
        if (!isVisible()) show();
    }
    const qint64 div = max > INT_MAX ? max / INT_MAX + 1 : 1;
    ProgressBar1->setMaximum(int(std::max<qint64>(1, max / div)));
    ProgressBar1->setValue(int(std::min(value, max) / div));
    repaint();
}

} // namespace vt
