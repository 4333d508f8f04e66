#pragma once
// A folder tree for one test, made below the working directory (not under /tmp,
// which the junk rule leaves out) and removed with everything in it afterwards.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <unistd.h>

namespace pallix::test {

class TempTree {
public:
    TempTree()
    {
        std::string pattern = (std::filesystem::current_path() / "pallix-tree-XXXXXX").string();
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
