#pragma once
#include <QLabel>
#include <QProgressBar>
#include <QWidget>

namespace vt {

// frmWait: shown while the stores load.
class SplashWindow : public QWidget {
    Q_OBJECT
public:
    explicit SplashWindow(QWidget *parent = nullptr);
    void showStatus(const QString &status, int progress);
    // A long load or save: the bar's maximum follows the number of items.
    void showProgress(const QString &status, qint64 value, qint64 max);
    QLabel *lblNFO;
    QLabel *lblVersion;
    QProgressBar *ProgressBar1;
    QStringList shownTexts;   // every status text in order, for the start-up report
};

} // namespace vt
