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

} // namespace vt
