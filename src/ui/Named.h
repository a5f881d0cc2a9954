#pragma once
// A child widget with its object name, the name the tests and the skin find it by.
#include <QHeaderView>
#include <QString>
#include <QTableView>
#include <utility>

namespace vt {

template <class W, class... Args> W *named(const char *name, Args &&...args)
{
    W *w = new W(std::forward<Args>(args)...);
    w->setObjectName(QString::fromLatin1(name));
    return w;
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
