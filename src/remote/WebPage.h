#pragma once
#include <QByteArray>

namespace vt {
// The remote control's page: the queue with progress, the history, the speed, pause and
// resume, and an NZB upload; it speaks to /api with the key the user types once.
QByteArray webPage();
} // namespace vt
