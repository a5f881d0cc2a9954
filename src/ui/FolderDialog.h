#pragma once
#include <QDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <functional>

namespace vt {

// frmMakePath: one new folder inside the folder its owner shows.
class MakePathDialog : public QDialog {
    Q_OBJECT
public:
    explicit MakePathDialog(QWidget *parent = nullptr);
    QLineEdit *Text1;
    QPushButton *cmdOk, *cmdCancel;
    // The folder the new one goes into (ending with "/"), and where the owner moves after.
    std::function<QString()> baseFolder;
    std::function<void(const QString &)> moveTo;
    std::function<void(const QString &)> message;
};

// frmBrowse: picks a folder; shows the current one with a trailing "/".
class FolderDialog : public QDialog {
    Q_OBJECT
public:
    explicit FolderDialog(QWidget *parent = nullptr);
    QLabel *lblExplain, *lblFolder;
    QTreeView *Dir1;
    QPushButton *cmdOk, *cmdCancel, *Command1;
    MakePathDialog *frmMakePath;

    void start(const QString &title, const QString &explanation, const QString &folder);
    void setFolder(const QString &folder);
    QString folderText() const { return lblFolder->text(); }

signals:
    void chosen(const QString &folder);

private:
    QFileSystemModel m_model;
};

} // namespace vt
