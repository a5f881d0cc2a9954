#pragma once
#include "core/Prompter.h"
#include <QPointer>
#include <QWidget>

namespace vt {

// Message boxes and the folder picker as real dialogs, opened window-modal with open():
// the caller goes on and the answer arrives by signal, never from a nested event loop.
class WidgetPrompter : public Prompter {
public:
    void setParent(QWidget *w) { m_parent = w; }
    void message(const QString &text) override;
    void askYesNo(const QString &text, QObject *asker, Answer answer) override;
    void askOkCancel(const QString &text, QObject *asker, Answer answer) override;
    void pickFolder(const QString &title, const QString &explanation, const QString &start, QObject *asker,
                    Chosen chosen) override;

private:
    void ask(const QString &text, bool warning, QObject *asker, Answer answer);
    QPointer<QWidget> m_parent;
    QObject m_guard;         // ends the boxes' ties to this prompter when it goes first
    QStringList m_showing;   // texts of the messages open now: the same one is not stacked
};

} // namespace vt
