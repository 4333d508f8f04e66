#pragma once
// The process's limit on the C library allocator's arenas. By default glibc
// gives each thread that allocates at once its own arena, up to eight per
// core; the cache load and the index build run on several threads, and the
// memory they free stays resident in their arenas, scattered between the
// blocks that live on. Fewer arenas keep the live blocks together, so that
// freed memory goes back to the system. Too few, and a search's threads wait
// on each other's allocations: at a million items, with two arenas, building
// 10,000 result records on six threads took 4 to 10 ms, with four 2 to 5 ms
// and eight 2 ms; the memory left after the start-up was alike with two and
// four (190 to 198 bytes an item) and more with eight (225). Call it first
// thing in main(), before any thread starts. Linux with glibc; elsewhere it
// does nothing.

namespace pallix {

inline constexpr int kAllocatorArenas = 4;

// False when the C library refused or has no such setting.
bool limitAllocatorArenas(int arenas = kAllocatorArenas);

// The C library moves its trim and map limits with every large mapped block
// freed (the trim limit up to 64 MiB); which of the start-up's buffers were
// mapped and which came from an arena then varied from run to run, and so
// did what stayed resident after malloc_trim(): 186 to 227 bytes an item at a
// million items, where with both limits fixed it stays at 185 to 189. The
// trim limit is large enough that a search's buffers are not handed back and
// faulted in again on every keystroke (with 1 MiB the searches were slower).
inline constexpr int kAllocatorTrimThreshold = 8 << 20;
// The highest the C library would raise the map limit to on its own.
inline constexpr int kAllocatorMapThreshold = 32 << 20;

// Fixes both; call it beside limitAllocatorArenas(). False as that one.
bool fixAllocatorLimits();

// Hands the free pages inside every arena back to the system. Freed blocks
// below the top of an arena stay resident otherwise, however long the
// process rests: after a pass of work, call it once.
void returnFreedMemory();

} // namespace pallix
