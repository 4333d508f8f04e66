#pragma once
// Special files in a test tree: named pipes named like the files a reader
// opens, a Unix socket and character devices reached through symbolic
// links. Reading any of them would wait for ever (a pipe without a writer)
// or never end (/dev/zero).

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "Platform/TempTree.h"

namespace pallix::test {

struct SpecialFiles {
    std::vector<std::string> pipes;    // x.jpg, x.pdf, x.txt, x, x.mp4
    std::string socket;                // sock.png
    std::vector<std::string> devices;  // zero.jpg → /dev/zero, null.txt → /dev/null

    std::vector<std::string> all() const
    {
        std::vector<std::string> paths = pipes;
        paths.push_back(socket);
        paths.insert(paths.end(), devices.begin(), devices.end());
        return paths;
    }
};

inline SpecialFiles makeSpecialFiles(const TempTree& tree, const std::string& folder = {})
{
    const std::string prefix = folder.empty() ? std::string() : folder + "/";
    if (!folder.empty())
        tree.dir(folder);
    SpecialFiles made;
    for (const char* name : {"x.jpg", "x.pdf", "x.txt", "x", "x.mp4"}) {
        made.pipes.push_back(tree.path(prefix + name));
        if (::mkfifo(made.pipes.back().c_str(), 0644) != 0)
            std::abort();
    }
    made.socket = tree.path(prefix + "sock.png");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    made.socket.copy(address.sun_path, sizeof address.sun_path - 1);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        std::abort();
    ::close(fd);  // the socket's entry stays
    made.devices.push_back(tree.symlink(prefix + "zero.jpg", "/dev/zero"));
    made.devices.push_back(tree.symlink(prefix + "null.txt", "/dev/null"));
    return made;
}

// Whether `work` returns within `bound`, waited for on its future. Work that
// hangs is left behind on its own thread, which the process ends.
template <class Work>
bool returnsWithin(Work work, std::chrono::milliseconds bound = std::chrono::seconds(10))
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([work = std::move(work), done]() mutable {
        work();
        done->set_value();
    }).detach();
    return finished.wait_for(bound) == std::future_status::ready;
}

} // namespace pallix::test
