#pragma once
// Pages faulted in on a thread of its own, ahead of the thread that will write them. The
// filing of a large scan writes hundreds of megabytes of fresh memory, and on a virtual
// machine the first touch of a page can cost tens of microseconds: paid on the filing's
// thread it halves the scan, paid here it runs on the other core. Nothing is ever written:
// the kernel maps the pages as a write would (MADV_POPULATE_WRITE), so a range freed or
// reused meanwhile loses nothing; its warming just fails or maps pages already in use.
#include <cstddef>

namespace vt {

// Queued; returns at once. Any thread.
void warmPages(const void *at, size_t bytes);
// Grows the main heap ahead in steps of some megabytes and warms what is new above the
// pages already warmed: the small blocks a store makes (an item's parts, its subject)
// then land on pages already there. Any thread.
void warmHeapAhead();
// Waits until every range queued so far is warmed (or found gone). True when the system
// can warm pages at all.
bool waitPagesWarmed();

// A large file written front to back, whose pages should not stay in memory: each few
// megabytes are handed to the disk as soon as written, and dropped from the page cache
// once the disk has them. The file then reuses the same memory as it grows instead of
// drawing fresh pages (on a virtual machine a fresh page may have to come from the host:
// a 780 MB file took 8 s to write that way, under a second this way). It never waits for
// the disk: pages not yet written out are left, and tried again later; but one call can
// take tens of milliseconds, so it belongs on a thread that writes, not on the event loop.
class WriteBehind {
public:
    // Bytes up to end are written to fd (not held in a buffer of ours).
    void written(int fd, long long end);

private:
    long long m_handed = 0;   // handed to the disk up to here
};

} // namespace vt
