#pragma once
// FolderVideoHints: whether a folder shown in the results directly holds
// videos, for the "文件夹（含视频）" type, the card subtitle and the video
// badge. Painting asks; an unknown folder answers false at once and is looked
// up by the folder-content inspector on a worker of its own; hintsArrived()
// follows each batch of answers that found videos, so the views paint
// again (one without looks as it did while unknown). Answers are kept for the
// life of the area, like the inspector's own. GUI thread only (the lookups
// run on the worker and report back through the event loop).

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <QObject>
#include <QThreadPool>

#include "Platform/Text.h"

namespace pallix {

class FolderVideoHints : public QObject {
    Q_OBJECT

public:
    explicit FolderVideoHints(QObject* parent = nullptr);
    ~FolderVideoHints() override;

    // The known answer; false (and a lookup started) while unknown.
    bool hasVideo(std::string_view folder);
    bool isKnown(std::string_view folder) const { return m_known.contains(folder); }

signals:
    void hintsArrived();

private:
    void startQueued();
    void store(const std::vector<std::pair<std::string, bool>>& answers);

    std::unordered_map<std::string, bool, text::ViewHash, std::equal_to<>> m_known;
    std::unordered_set<std::string> m_pending;
    // Asked during this turn of the event loop; looked up together after it,
    // so painting never waits on a thread hand-over.
    std::vector<std::string> m_queued;
    QThreadPool m_pool;  // last: its jobs end before the maps go
};

} // namespace pallix
