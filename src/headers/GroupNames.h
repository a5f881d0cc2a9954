#pragma once
// The names of the user's groups by key, as the header list and NZB files need them; the
// group table gives them.
#include <QString>

namespace vt {

class GroupNames {
public:
    virtual ~GroupNames() = default;
    virtual QString nameByKey(qint32 key) const = 0;
};

} // namespace vt
