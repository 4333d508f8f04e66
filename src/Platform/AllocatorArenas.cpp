#include "Platform/AllocatorArenas.h"

#include <cstdlib>  // defines __GLIBC__ on the GNU C library

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace pallix {

bool limitAllocatorArenas(int arenas)
{
#ifdef __GLIBC__
    return arenas > 0 && mallopt(M_ARENA_MAX, arenas) == 1;
#else
    (void)arenas;
    return false;
#endif
}

bool fixAllocatorLimits()
{
#ifdef __GLIBC__
    return mallopt(M_TRIM_THRESHOLD, kAllocatorTrimThreshold) == 1 &&
           mallopt(M_MMAP_THRESHOLD, kAllocatorMapThreshold) == 1;
#else
    return false;
#endif
}

void returnFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

} // namespace pallix
