#pragma once
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPlainTextEdit>
#include <QTableView>

namespace vt {

class ArticleViewer;
class Previewer;

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

// frmPreviewMP3: the fetch of one part for a preview; it goes away when the part is in.
class PreviewWindow : public QDialog {
    Q_OBJECT
public:
    PreviewWindow(Previewer &preview, QWidget *parent = nullptr);
    QLabel *Label1, *Label2;
    QProgressBar *ProgressBar1;
    // Shows the preview's state: at once, or this window while the part is fetched.
    void start(int item);

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    Previewer &m_preview;
};

} // namespace vt
