#pragma once
// FolderContentInspector: whether a folder directly holds videos and images,
// judged from its first 220 visible entries and remembered until the folder
// is reported changed. One per process. An actor: calls are served one at a time
// under one lock and list the folder inside the call, so they block; call
// them from a worker thread, never from the GUI thread.

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

    std::mutex m_mutex;
    // Kept until the folder changes on disk (invalidate()).
    std::unordered_map<std::string, FolderContentHint> m_cache;
};

} // namespace pallix
