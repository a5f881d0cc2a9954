#pragma once
// Long loops call yieldNow() at fixed intervals. The program installs a hook that lets
// the event loop run; tests install their own (or none) so runs stay deterministic.
#include <functional>

namespace vt {

using YieldHook = std::function<void()>;
void setYieldHook(YieldHook hook);
void yieldNow();

} // namespace vt
