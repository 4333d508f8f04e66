#include "App/Context/AppServices.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace pallix {

namespace {

// Adding one inotify watch per folder under "/" takes seconds, so start()
// only hands the roots to a thread of its own; the newest roots win when
// several requests queue up.
class InotifyRootWatcher final : public RootWatcher {
public:
    InotifyRootWatcher(FSEventWatcher::Callback onChange, FSEventWatcher::Options options)
        : m_watcher(std::move(onChange), std::move(options)), m_thread([this] { run(); })
    {
    }

    ~InotifyRootWatcher() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

    void start(const std::vector<std::string>& roots) override { start(roots, {}); }

    void start(const std::vector<std::string>& roots, const FSEventWatcher::WatchRules& rules) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_pending = Request{roots, rules};
        }
        m_wake.notify_one();
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopping || m_pending.has_value(); });
            if (m_stopping)
                return;
            Request request = std::move(*m_pending);
            m_pending.reset();
            lock.unlock();
            m_watcher.start(request.roots, request.rules);
            lock.lock();
        }
    }

    struct Request {
        std::vector<std::string> roots;
        FSEventWatcher::WatchRules rules;
    };

    FSEventWatcher m_watcher;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Request> m_pending;
    bool m_stopping = false;
    std::thread m_thread;  // last: it uses every member above
};

} // namespace

std::unique_ptr<RootWatcher> makeFileSystemWatcher(FSEventWatcher::Callback onChange, FSEventWatcher::Options options)
{
    return std::make_unique<InotifyRootWatcher>(std::move(onChange), std::move(options));
}

} // namespace pallix
