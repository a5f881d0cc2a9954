#pragma once
// Large reply buffers that go round instead of being freed: a scan frames, parses and
// drops bursts of megabytes over and over, and each fresh one lands on pages the kernel
// must fault in and zero one by one.
#include <QByteArray>

namespace vt {

// An empty array: one given back earlier where there is one that holds at least `least`
// bytes, else one with room for `room`. Any thread.
QByteArray reusedBuffer(qsizetype room, qsizetype least);
// A buffer read to its end, for a later reply; kept only when large and unshared, and a
// few dozen at most. Any thread.
void reuseBuffer(QByteArray &&b);
qsizetype buffersKept();
// The work that made them is over: every kept buffer is freed.
void dropReusedBuffers();

} // namespace vt
