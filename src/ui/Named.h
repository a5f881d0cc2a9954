#pragma once
// A child widget with its object name, the name the tests and the skin find it by.
#include <QHeaderView>
#include <QString>
#include <QTableView>
#include <stdexcept>
#include <string>
#include <utility>

namespace vt {

template <class W, class... Args> W *named(const char *name, Args &&...args)
{
    W *w = new W(std::forward<Args>(args)...);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

// The child of a window by that name (for tools and tests that drive the window as a
// user would); a missing one is an error, not a null to crash on later.
template <class T> T *child(const QObject &window, const char *name)
{
    T *c = window.findChild<T *>(QString::fromLatin1(name));
    if (!c) throw std::logic_error(std::string("no child named ") + name);
    return c;
}

// A list of whole rows that are picked, never edited in place.
inline QTableView *rowList(const char *name, QWidget *parent,
                           QAbstractItemView::SelectionMode mode = QAbstractItemView::ExtendedSelection)
{
    auto *v = named<QTableView>(name, parent);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    v->setSelectionMode(mode);
    v->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v->verticalHeader()->hide();
    v->horizontalHeader()->setStretchLastSection(true);
    return v;
}

} // namespace vt
