#pragma once
// The main window's three pages, each joining its page's intents to the engine and the
// engine's changes back to what the page shows. Each owns its connections.
#include "ui/MainWindow.h"
#include <QObject>
#include <memory>

namespace vt {

class Engine;
class SearchWindow;

class HeadersPage : public QObject {
    Q_OBJECT
public:
    HeadersPage(Engine &engine, MainWindow &window, QObject *parent = nullptr);
    ~HeadersPage() override;
    SearchWindow *searchWindow() { return m_search.get(); }
    // The group chooser after the group list changed: back to all groups.
    void fillGroupChooser();
    void showCounters();

private:
    void zoomOnGroup(int index, const QString &name);
    void deleteHeaders(const std::vector<int> &rows);
    void restore();
    void search();
    void takeFilter(const MainWindow::ViewFilter &f);
    void applyFilter(const MainWindow::ViewFilter &f);
    Engine &m_e;
    MainWindow &m_w;
    std::unique_ptr<SearchWindow> m_search;
};

class BatchPage : public QObject {
    Q_OBJECT
public:
    BatchPage(Engine &engine, MainWindow &window, QObject *parent = nullptr);

private:
    // Moves the rows and keeps them selected where they went.
    void move(MainWindow::BatchMove how, const std::vector<int> &rows);
    Engine &m_e;
    MainWindow &m_w;
};

class ProcessedPage : public QObject {
    Q_OBJECT
public:
    ProcessedPage(Engine &engine, MainWindow &window, QObject *parent = nullptr);
};

} // namespace vt
