#include "Core/IndexDB/BackgroundJobs.h"

namespace pallix {

void BackgroundJobs::reapFinishedLocked(std::list<Entry>& reaped)
{
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it->finished) {
            auto next = std::next(it);
            reaped.splice(reaped.end(), m_entries, it);
            it = next;
        } else {
            ++it;
        }
    }
}

std::shared_ptr<CancelToken> BackgroundJobs::start(Job job)
{
    auto token = std::make_shared<CancelToken>();
    std::list<Entry> reaped;
    {
        std::lock_guard lock(m_mutex);
        if (m_shutDown) {
            token->cancel();
            return token;
        }
        reapFinishedLocked(reaped);
        m_entries.push_back(Entry{{}, token, false});
        Entry* entry = &m_entries.back();
        // The thread marks its own entry finished; list nodes never move.
        entry->thread = std::thread([this, entry, token, job = std::move(job)] {
            job(*token);
            std::lock_guard done(m_mutex);
            entry->finished = true;
        });
    }
    // Finished threads are joined outside the lock: they may still be leaving it.
    for (Entry& e : reaped)
        e.thread.join();
    return token;
}

void BackgroundJobs::shutdown()
{
    for (;;) {
        std::list<Entry> all;
        {
            std::lock_guard lock(m_mutex);
            m_shutDown = true;
            all.splice(all.end(), m_entries);
        }
        if (all.empty())
            return;
        for (Entry& e : all)
            e.token->cancel();
        for (Entry& e : all)
            e.thread.join();
    }
}

int BackgroundJobs::running() const
{
    std::lock_guard lock(m_mutex);
    int n = 0;
    for (const Entry& e : m_entries)
        n += e.finished ? 0 : 1;
    return n;
}

} // namespace pallix
