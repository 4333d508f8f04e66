#include "UI/Results/FolderVideoHints.h"

#include <QMetaObject>

#include "Core/Preview/FolderContentInspector.h"

namespace pallix {

FolderVideoHints::FolderVideoHints(QObject* parent) : QObject(parent)
{
    // Two listings at a time: the inspector serves one call at a time anyway,
    // and a fast scroll must not queue work on every core.
    m_pool.setMaxThreadCount(2);
}

FolderVideoHints::~FolderVideoHints()
{
    m_pool.clear();
    m_pool.waitForDone();
}

bool FolderVideoHints::hasVideo(const std::string& folder)
{
    if (const auto it = m_known.find(folder); it != m_known.end())
        return it->second;
    if (!m_pending.insert(folder).second)
        return false;
    // The destructor waits for the pool, so `this` outlives the job; the
    // posted answer is dropped with the object if it goes before delivery.
    m_pool.start([this, folder] {
        const bool video = FolderContentInspector::shared().hint(folder).hasVideo;
        QMetaObject::invokeMethod(this, [this, folder, video] { store(folder, video); }, Qt::QueuedConnection);
    });
    return false;
}

void FolderVideoHints::store(const std::string& folder, bool hasVideo)
{
    m_pending.erase(folder);
    m_known[folder] = hasVideo;
    emit hintsArrived();
}

} // namespace pallix
