#include "UI/Results/FolderVideoHints.h"

#include <QMetaObject>

#include "App/Preview/FolderContentInspector.h"

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

bool FolderVideoHints::hasVideo(std::string_view folder)
{
    if (const auto it = m_known.find(folder); it != m_known.end())
        return it->second;
    if (!m_pending.emplace(folder).second)
        return false;
    if (m_queued.empty())
        QMetaObject::invokeMethod(this, &FolderVideoHints::startQueued, Qt::QueuedConnection);
    m_queued.emplace_back(folder);
    return false;
}

void FolderVideoHints::startQueued()
{
    // The destructor waits for the pool, so `this` outlives the job; the
    // posted answers are dropped with the object if it goes before delivery.
    m_pool.start([this, folders = std::move(m_queued)] {
        std::vector<std::pair<std::string, bool>> answers;
        answers.reserve(folders.size());
        for (const std::string& folder : folders)
            answers.emplace_back(folder, FolderContentInspector::shared().hint(folder).hasVideo);
        QMetaObject::invokeMethod(this, [this, answers = std::move(answers)] { store(answers); },
                                  Qt::QueuedConnection);
    });
    m_queued.clear();
}

void FolderVideoHints::store(const std::vector<std::pair<std::string, bool>>& answers)
{
    bool anyVideo = false;
    for (const auto& [folder, video] : answers) {
        m_pending.erase(folder);
        m_known[folder] = video;
        anyVideo = anyVideo || video;
    }
    // A folder without videos looks as it did while unknown: nothing to paint again.
    if (anyVideo)
        emit hintsArrived();
}

} // namespace pallix
