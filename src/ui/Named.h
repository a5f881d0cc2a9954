#pragma once
// A child widget with its object name, the name the tests and the skin find it by.
#include <QString>
#include <utility>

namespace vt {

template <class W, class... Args> W *named(const char *name, Args &&...args)
{
    W *w = new W(std::forward<Args>(args)...);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

} // namespace vt
