#pragma once
// FolderContentInspector: whether a folder directly holds videos and images,
// judged from its first 220 visible entries and remembered for the life of
// the process. One per process. An actor: calls are served one at a time
// under one lock and list the folder inside the call, so they block; call
// them from a worker thread, never from the GUI thread.

#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

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

private:
    static FolderContentHint inspect(const std::string& path);

    std::mutex m_mutex;
    // Never invalidated: a folder's answer is computed once per process.
    std::unordered_map<std::string, FolderContentHint> m_cache;
};

} // namespace pallix
