#pragma once
// Where tests may make trees that the scanner and the model index. The junk
// rule leaves out everything under /tmp/ (and a few other trees), so a tree
// there would be skipped; the working directory may itself lie there when a
// checkout is built under /tmp, so fall back to the home folder.

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "Core/Models/IndexedItem.h"

namespace pallix::testsupport {

inline bool isIndexableTestBase(const std::filesystem::path& base)
{
    const std::string probe = (base / "pallix-probe" / "x.txt").string();
    return !IndexedItem::shouldExcludeAsSystemOrJunk(probe, "x.txt", "txt", false);
}

inline std::filesystem::path indexableTestBase()
{
    std::filesystem::path cwd = std::filesystem::current_path();
    if (isIndexableTestBase(cwd))
        return cwd;
    if (const char* home = std::getenv("HOME"); home && *home) {
        std::filesystem::path base = std::filesystem::path(home) / "pallix-test-trees";
        if (isIndexableTestBase(base)) {
            std::filesystem::create_directories(base);
            return base;
        }
    }
    throw std::runtime_error("no folder for test trees that the junk rule keeps");
}

} // namespace pallix::testsupport
