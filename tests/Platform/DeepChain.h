#pragma once
// A chain of folders named "d" below `top`, as deep as asked: deeper than any
// path the kernel takes whole. Built and removed through descriptors, a level
// at a time and without recursion, since no path reaches its bottom.

#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pallix::test {

class DeepChain {
public:
    DeepChain(const std::string& top, int depth) : m_top(::open(top.c_str(), O_RDONLY | O_DIRECTORY))
    {
        m_path = top;
        m_path.reserve(top.size() + 2 * std::size_t(depth));
        int fd = ::dup(m_top);
        for (int i = 0; i < depth; ++i) {
            ::mkdirat(fd, "d", 0755);
            const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
            m_path += "/d";
        }
        m_bottom = fd;
    }
    ~DeepChain()
    {
        ::close(m_bottom);
        // Lift the second level up, drop the emptied first one, repeat.
        while (::renameat(m_top, "d/d", m_top, "lifted") == 0) {
            ::unlinkat(m_top, "d", AT_REMOVEDIR);
            ::renameat(m_top, "lifted", m_top, "d");
        }
        ::unlinkat(m_top, "d", AT_REMOVEDIR);
        ::close(m_top);
    }
    DeepChain(const DeepChain&) = delete;
    DeepChain& operator=(const DeepChain&) = delete;

    // The bottom folder's path, far past PATH_MAX.
    const std::string& path() const { return m_path; }
    // The bottom folder, open.
    int bottom() const { return m_bottom; }

private:
    int m_top;
    int m_bottom = -1;
    std::string m_path;
};

} // namespace pallix::test
