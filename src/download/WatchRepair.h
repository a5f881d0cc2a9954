#pragma once
// A watched post that will never be whole: some of its articles are gone from the server,
// and its par2 recovery volumes can make up for them. Its incomplete items are worth
// queueing as they are; the repair fetches the volumes it needs.
#include <functional>
#include <vector>

namespace vt {

class HeaderStore;
struct HeaderItem;

// A par2 recovery volume by its file name: the watch list leaves these to the repair.
bool isRecoveryVolume(const HeaderItem &it);

// The incomplete items the watch wants (watched) whose post is over (its par2 files are
// all whole) and whose missing articles are no more than the post's volumes hold.
std::vector<int> itemsWorthRepair(const HeaderStore &store, const std::function<bool(int)> &watched);

} // namespace vt
