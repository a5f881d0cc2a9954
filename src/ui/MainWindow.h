#pragma once
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <array>

namespace vt {

class AppCore;

// frmMain: status line, resource lines, progress bars and the commands built so far.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(AppCore &core, QWidget *parent = nullptr);

    QLabel *lblCapX;
    std::array<QLabel *, 5> lblStats{};
    std::array<QProgressBar *, 4> progress{};   // ProgressBar1..4
    QPushButton *cmdScan, *cmdScanStop, *cmdLog, *cmdBatchDownload, *cmdSaveHeaders;
    QLabel *imgTestx;
    QLabel *lblRead, *lblItems;

signals:
    void closeRequested();

protected:
    void closeEvent(QCloseEvent *e) override;
    void changeEvent(QEvent *e) override;

private:
    void refreshUi();
    void refreshStats();
    AppCore &m_core;
    QString m_title;
};

} // namespace vt
