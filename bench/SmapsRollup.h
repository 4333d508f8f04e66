#pragma once
// A process's memory as /proc/<pid>/smaps_rollup counts it, for the benches
// that measure the application's footprint.

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

namespace pallix::bench {

struct SmapsRollup {
    std::int64_t residentBytes = 0;
    // Private_Clean + Private_Dirty: what the process holds for itself, the
    // pages of mapped files only it touched included.
    std::int64_t privateBytes = 0;
    // The heap, anonymous maps and thread stacks.
    std::int64_t anonymousBytes = 0;
};

// `pid` is a process id or "self"; all zero when the process is gone.
inline SmapsRollup readSmapsRollup(const std::string& pid = "self")
{
    std::ifstream in("/proc/" + pid + "/smaps_rollup");
    std::string line;
    SmapsRollup kib;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name;
        std::int64_t value = 0;
        fields >> name >> value;
        if (name == "Rss:")
            kib.residentBytes = value;
        else if (name == "Private_Clean:" || name == "Private_Dirty:")
            kib.privateBytes += value;
        else if (name == "Anonymous:")
            kib.anonymousBytes = value;
    }
    return {kib.residentBytes * 1024, kib.privateBytes * 1024, kib.anonymousBytes * 1024};
}

} // namespace pallix::bench
