#pragma once
// Lowering the calling thread to background priority: the idle CPU
// scheduling class (it runs only on a core nobody else wants), the lowest
// nice value and the idle I/O class. For work that must never slow the
// searches the user waits for. Linux only; each step that the kernel refuses
// is skipped.

namespace pallix {

// True when at least the CPU priority was lowered.
bool lowerCurrentThreadToBackground();

} // namespace pallix
