#pragma once
#include <QCheckBox>
#include <QDialog>
#include <QPushButton>
#include <functional>

namespace vt {

class AppCore;

// frmExit: asks whether to save the header database on the way out.
class ExitDialog : public QDialog {
    Q_OBJECT
public:
    ExitDialog(AppCore &core, QWidget *parent = nullptr);
    // On opening: preset from the last choice and play the sound.
    void prepare();
    QCheckBox *chkSaveHeaders, *chkAlwaysSaveHeaders;
    QPushButton *cmdOk, *cmdCancel;
    std::function<void(bool save)> finalExit;

private:
    AppCore &m_core;
};

} // namespace vt
