#pragma once
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

namespace vt {

// frmSearch: fills the header list with the items whose name contains a text.
class SearchWindow : public QDialog {
    Q_OBJECT
public:
    explicit SearchWindow(QWidget *parent = nullptr);
    QLineEdit *txtSearch;
    QCheckBox *chkMatchCase, *chkSearchDeleted;
    QPushButton *cmdSearch, *cmdClose;
};

} // namespace vt
