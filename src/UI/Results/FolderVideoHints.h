#pragma once
// FolderVideoHints: whether a folder shown in the results directly holds
// videos, for the "文件夹（含视频）" type, the card subtitle and the video
// badge. Painting asks; an unknown folder answers false at once and is looked
// up by the folder-content inspector on a worker of its own; hintsArrived()
// follows each answer so the views paint again. Answers are kept for the
// life of the area, like the inspector's own. GUI thread only (the lookups
// run on the worker and report back through the event loop).

#include <string>
#include <unordered_map>
#include <unordered_set>

#include <QObject>
#include <QThreadPool>

namespace pallix {

class FolderVideoHints : public QObject {
    Q_OBJECT

public:
    explicit FolderVideoHints(QObject* parent = nullptr);
    ~FolderVideoHints() override;

    // The known answer; false (and a lookup started) while unknown.
    bool hasVideo(const std::string& folder);
    bool isKnown(const std::string& folder) const { return m_known.count(folder) > 0; }

signals:
    void hintsArrived();

private:
    void store(const std::string& folder, bool hasVideo);

    std::unordered_map<std::string, bool> m_known;
    std::unordered_set<std::string> m_pending;
    QThreadPool m_pool;  // last: its jobs end before the maps go
};

} // namespace pallix
