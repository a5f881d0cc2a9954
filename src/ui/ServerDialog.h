#pragma once
// One news server's fields, for the options' Add and Edit.
#include "core/Settings.h"
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

namespace vt {

class ServerDialog : public QDialog {
    Q_OBJECT
public:
    explicit ServerDialog(QWidget *parent = nullptr);
    // first: the first server, always a main one (its level cannot change).
    void load(const ServerEntry &e, bool first);
    ServerEntry entry() const;

    QLineEdit *txtHost, *txtPort, *txtUser, *txtPassword;
    QLabel *lblProblem;   // why OK did not close the dialog
    QCheckBox *chkTLS, *chkOn;
    QSpinBox *spnConnections, *spnLevel;
};

} // namespace vt
