#pragma once
// A folder tree for one test, made where the junk rule keeps it (not under
// /tmp) and removed with everything in it afterwards.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <unistd.h>

#include "TestSupport/IndexableTestBase.h"

namespace pallix::test {

class TempTree {
public:
    TempTree()
    {
        std::string pattern = (pallix::testsupport::indexableTestBase() / "pallix-tree-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        m_root = pattern;
    }
    ~TempTree()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& root() const { return m_root; }
    std::string path(std::string_view relative) const { return m_root + "/" + std::string(relative); }

    std::string file(std::string_view relative, std::string_view contents = {}) const
    {
        const std::string p = path(relative);
        std::filesystem::create_directories(std::filesystem::path(p).parent_path());
        std::ofstream(p, std::ios::binary) << contents;
        return p;
    }
    std::string dir(std::string_view relative) const
    {
        const std::string p = path(relative);
        std::filesystem::create_directories(p);
        return p;
    }
    std::string symlink(std::string_view relative, const std::string& target) const
    {
        const std::string p = path(relative);
        std::filesystem::create_symlink(target, p);
        return p;
    }

private:
    std::string m_root;
};

} // namespace pallix::test
