#pragma once
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

namespace vt {

// frmAddOne: one newsgroup name to add to the list.
class AddGroupDialog : public QDialog {
    Q_OBJECT
public:
    explicit AddGroupDialog(QWidget *parent = nullptr);
    QLineEdit *Text1;
    QPushButton *cmdOk, *cmdExit, *cmdWebSiteNGSearch, *cmdGrM;
    // A web search for newsgroups named like the text typed so far.
    static QString searchAddress(const QString &text);
};

} // namespace vt
