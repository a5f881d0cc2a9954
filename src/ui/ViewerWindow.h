#pragma once
#include <QDialog>
#include <QPlainTextEdit>
#include <QTableView>

namespace vt {

class ArticleViewer;

// frmViewArt: one text box that shows the viewer's status lines and then the article.
class ViewerWindow : public QDialog {
    Q_OBJECT
public:
    ViewerWindow(ArticleViewer &viewer, QWidget *parent = nullptr);
    QPlainTextEdit *Text1;
    // Opens for the request the viewer holds; false when there is no server to ask.
    bool start();

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    ArticleViewer &m_viewer;
};

// frmViewParts: the parts of one item; a double click saves that part raw.
class PartsWindow : public QDialog {
    Q_OBJECT
public:
    explicit PartsWindow(QWidget *parent = nullptr);
    QTableView *ListView1;
};

} // namespace vt
