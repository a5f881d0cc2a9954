#include "Yield.h"

namespace vt {

static YieldHook &hook()
{
    static YieldHook h;
    return h;
}

void setYieldHook(YieldHook h) { hook() = std::move(h); }

void yieldNow()
{
    if (hook()) hook()();
}

} // namespace vt
