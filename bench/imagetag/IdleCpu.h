#pragma once
// The idle-CPU measurement of pallix-imagetag-bench: how much of a core the
// image tagger takes once its first pass over photos without text is over.

#include <filesystem>

namespace pallix::bench {

struct IdleCpuOptions {
    std::filesystem::path work;
    int images = 1000;
    int settleSeconds = 30;  // after the first pass, before measuring
    int windowSeconds = 60;  // measured
    // Extraction at normal priority: on a loaded machine the background
    // class gets a core only when one is free, which hides what it would take.
    bool normalPriority = false;
};

int runIdleCpu(const IdleCpuOptions& options);

} // namespace pallix::bench
