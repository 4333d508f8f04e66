#pragma once
// Lowering the calling thread to background priority: the idle CPU
// scheduling class (it runs only on a core nobody else wants), the lowest
// nice value and the idle I/O class. For work that must never slow the
// searches the user waits for. Linux only; each step that the kernel refuses
// is skipped.

namespace pallix {

// True when at least the CPU priority was lowered.
bool lowerCurrentThreadToBackground();

// Lowering the calling thread to utility priority: a nice value of at least
// 10 and nothing else. Work the user does not wait for yields the cores to what
// they do wait for, yet is never starved while it holds a lock a search
// may need.
bool lowerCurrentThreadToUtility();

} // namespace pallix
