#pragma once
// The process's limit on the C library allocator's arenas. By default glibc
// gives each thread that allocates at once its own arena, up to eight per
// core; the cache load and the index build run on several threads, and the
// memory they free stays resident in their arenas, scattered between the
// blocks that live on. Fewer arenas keep the live blocks together, so that
// freed memory goes back to the system. Call it first thing in main(),
// before any thread starts. Linux with glibc; elsewhere it does nothing.

namespace pallix {

inline constexpr int kAllocatorArenas = 2;

// False when the C library refused or has no such setting.
bool limitAllocatorArenas(int arenas = kAllocatorArenas);

} // namespace pallix
