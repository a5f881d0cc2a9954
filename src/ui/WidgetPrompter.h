#pragma once
#include "core/Prompter.h"
#include <QPointer>
#include <QWidget>

namespace vt {

// Message boxes and the folder picker as real dialogs.
class WidgetPrompter : public Prompter {
public:
    void setParent(QWidget *w) { m_parent = w; }
    void message(const QString &text) override;
    bool askYesNo(const QString &text) override;
    bool askOkCancel(const QString &text) override;
    QString pickFolder(const QString &title, const QString &explanation, const QString &start) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace vt
