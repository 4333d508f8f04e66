#include "Platform/AllocatorArenas.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace pallix {
namespace {

// The setting must reach the C library: a check for it compiled against the
// wrong headers turns the call into nothing, silently.
TEST(AllocatorArenas, LimitReachesTheCLibrary)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's allocator replaces the C library's";
#elif defined(__GLIBC__)
    EXPECT_TRUE(limitAllocatorArenas());
    EXPECT_FALSE(limitAllocatorArenas(0));
    EXPECT_TRUE(fixAllocatorLimits());
#else
    EXPECT_FALSE(limitAllocatorArenas());
    EXPECT_FALSE(fixAllocatorLimits());
#endif
}

} // namespace
} // namespace pallix
