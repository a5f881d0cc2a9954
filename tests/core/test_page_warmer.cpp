// Pages warmed on the warming thread: mapped, never changed, and a range freed before its
// turn costs nothing.
#include "core/PageWarmer.h"
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace vt;

namespace {
size_t residentPages(const char *at, size_t bytes)
{
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> in((bytes + page - 1) / page);
    if (mincore(const_cast<char *>(at), bytes, in.data()) != 0) return 0;
    size_t n = 0;
    for (unsigned char c : in) n += c & 1;
    return n;
}
} // namespace

TEST(PageWarmer, MapsPagesWithoutChangingThem)
{
    const size_t page = size_t(sysconf(_SC_PAGESIZE)), pages = 2048, bytes = pages * page;
    auto map = [&] { return static_cast<char *>(mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)); };

    // A range unmapped before the warming gets to it.
    char *gone = map();
    ASSERT_NE(gone, MAP_FAILED);
    munmap(gone, bytes);
    warmPages(gone, bytes);

    char *at = map();
    ASSERT_NE(at, MAP_FAILED);
    for (size_t p = 0; p < pages; p += 97) at[p * page + 5] = char(p % 251 + 1);
    ASSERT_LT(residentPages(at, bytes), pages / 4);
    // Not page-aligned at either end: the pages around the range are warmed whole.
    warmPages(at + 100, bytes - 200);
    if (!waitPagesWarmed()) GTEST_SKIP() << "this kernel cannot populate pages";
    EXPECT_EQ(residentPages(at, bytes), pages);
    for (size_t p = 0; p < pages; ++p)
        for (size_t o : {size_t(0), size_t(5), page - 1})
            ASSERT_EQ(at[p * page + o], o == 5 && p % 97 == 0 ? char(p % 251 + 1) : char(0)) << p << " " << o;
    munmap(at, bytes);
}
