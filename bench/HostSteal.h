#pragma once
// The share of CPU time the host gave to others while a bench ran (the
// "steal" of /proc/stat). On a shared virtual machine it varies from hour to
// hour, and timings taken while it is high are not comparable with others.

#include <sys/resource.h>

#include <array>
#include <chrono>
#include <fstream>
#include <string>

namespace pallix::bench {

class HostSteal {
public:
    HostSteal() : m_start(read()) {}

    // Percent of all CPU time since construction; negative when unknown.
    double percentSinceStart() const
    {
        const Sample now = read();
        const double total = double(now.total - m_start.total);
        if (!now.known || !m_start.known || total <= 0)
            return -1;
        return 100.0 * double(now.steal - m_start.steal) / total;
    }

private:
    struct Sample {
        bool known = false;
        unsigned long long steal = 0;
        unsigned long long total = 0;
    };

    // "cpu user nice system idle iowait irq softirq steal ..." (jiffies).
    static Sample read()
    {
        std::ifstream in("/proc/stat");
        std::string label;
        std::array<unsigned long long, 8> fields{};
        if (!(in >> label) || label != "cpu")
            return {};
        for (unsigned long long& f : fields)
            if (!(in >> f))
                return {};
        Sample s{true, fields[7], 0};
        for (unsigned long long f : fields)
            s.total += f;
        return s;
    }

    Sample m_start;
};

// The CPU time this process took, as cores kept busy on average: on a
// machine whose share of the host is a few cores, threads that spin or work
// past that share are paid for in steal.
class ProcessCpu {
public:
    ProcessCpu() : m_startCpu(cpuSeconds()), m_startWall(std::chrono::steady_clock::now()) {}

    double coresSinceStart() const
    {
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_startWall).count();
        return wall > 0 ? (cpuSeconds() - m_startCpu) / wall : 0;
    }

private:
    static double cpuSeconds()
    {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
        return seconds(usage.ru_utime) + seconds(usage.ru_stime);
    }

    double m_startCpu;
    std::chrono::steady_clock::time_point m_startWall;
};

} // namespace pallix::bench
