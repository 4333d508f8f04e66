#include "App/AppServices.h"

namespace pallix {

namespace {

class InotifyRootWatcher final : public RootWatcher {
public:
    explicit InotifyRootWatcher(FSEventWatcher::Callback onChange) : m_watcher(std::move(onChange)) {}
    void start(const std::vector<std::string>& roots) override { m_watcher.start(roots); }

private:
    FSEventWatcher m_watcher;
};

} // namespace

std::unique_ptr<RootWatcher> makeFileSystemWatcher(FSEventWatcher::Callback onChange)
{
    return std::make_unique<InotifyRootWatcher>(std::move(onChange));
}

} // namespace pallix
