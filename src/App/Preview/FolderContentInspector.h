#pragma once
// FolderContentInspector: whether a folder directly holds videos and images,
// judged from its first 220 visible entries and remembered until the folder
// is reported changed. One per process. hint() lists the folder inside the
// call, so it blocks (a hung network mount for long): call it from a worker
// thread of a pool of its own, never from the GUI thread. The listing runs
// without the lock, which guards the remembered answers only: hints of other
// folders and invalidate() never wait for a listing, so any thread may forget.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pallix {

class FolderContentInspector {
public:
    struct FolderContentHint {
        bool hasVideo = false;
        bool hasImage = false;
        friend bool operator==(const FolderContentHint&, const FolderContentHint&) = default;
    };

    static constexpr int kMaxEntriesExamined = 220;
    // Lists one folder (trimmed, not empty) and judges it.
    using Lister = std::function<FolderContentHint(const std::string& path)>;

    // `lister` none: the folder on disk (inspect()).
    explicit FolderContentInspector(Lister lister = {});

    static FolderContentInspector& shared();

    // The path is trimmed of white space first; an empty one gives (false,
    // false) and is not cached. A folder that cannot be listed counts as empty.
    FolderContentHint hint(std::string_view directoryPath);
    // Forgets the answer for the folder (trimmed the same way), so the next
    // hint() lists it again: its content changed.
    void invalidate(std::string_view directoryPath);
    // Forgets every changed location and the folder holding it.
    void invalidateChanged(const std::vector<std::string>& changedPaths);

private:
    static FolderContentHint inspect(const std::string& path);

    const Lister m_lister;
    std::mutex m_mutex;
    // Kept until the folder changes on disk (invalidate()).
    std::unordered_map<std::string, FolderContentHint> m_cache;
    // Counts invalidate() calls: a listing that saw one start meanwhile may
    // predate the change, so its answer is not remembered.
    std::uint64_t m_invalidations = 0;
};

} // namespace pallix
