#pragma once
#include <Qt>

namespace vt {

// Every list model answers this role in column 0 with the key of the row's small icon
// ("complete", "iteminbatch", "proc_true", ...); the window maps keys to pictures.
inline constexpr int IconKeyRole = Qt::UserRole + 100;
// A cell that shows a progress bar answers this role with its percent (0..100); the window
// paints the bar under the cell's text.
inline constexpr int ProgressRole = Qt::UserRole + 101;

} // namespace vt
