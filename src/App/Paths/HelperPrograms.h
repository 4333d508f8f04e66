#pragma once
// HelperPrograms: where the application's helper executables are, and the
// bound each puts on itself. They are not commands of their own: `make
// install` puts them in <prefix>/libexec/pallix, the build beside the
// application. Any thread.

#include <cerrno>
#include <string_view>

#include <sys/resource.h>
#include <unistd.h>

#include <QString>

namespace pallix::helperprograms {

// The helper `fileName`: the path in `environmentVariable` when set, else
// beside the running executable, else in <prefix>/libexec/pallix of an
// installed one, else `buildPath` (where the build put it).
QString find(const char* environmentVariable, const QString& fileName, const QString& buildPath);

// Called first thing by a helper: enough address space for the largest
// picture it accepts and its engines' buffers; a library asking for more
// fails instead of pushing the machine into swap. The sanitizers reserve
// terabytes of address space up front, so their builds are not bounded.
inline void boundAddressSpace()
{
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    constexpr rlim_t kAddressSpace = rlim_t(4) << 30;
    const rlimit limit{kAddressSpace, kAddressSpace};
    ::setrlimit(RLIMIT_AS, &limit);
#endif
}

// Writes all of `bytes` to `fd` (a helper's answer on its standard output),
// however many writes it takes; false when the reader is gone.
inline bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

} // namespace pallix::helperprograms
