#include "App/Search/TagHitsMemo.h"

#include <algorithm>
#include <utility>

#include "App/ImageTags/ImageTagWrites.h"

namespace pallix {

TagHitsMemo::Marks TagHitsMemo::marksOf(const Stores& stores)
{
    return Marks{stores.local ? stores.local->mark() : 0, stores.server ? stores.server->mark() : 0};
}

const TagHitsMemo::Entry* TagHitsMemo::find(const ImageFuzzySearch::Plan& plan) const
{
    if (plan.groups != m_groups)
        return nullptr;
    const auto entry = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
        return e.localLimit == plan.localTagLimit && e.serverLimit == plan.serverTagLimit;
    });
    return entry == m_entries.end() ? nullptr : &*entry;
}

TagHitsMemo::Verdict TagHitsMemo::look(const ImageFuzzySearch::Plan& plan, const Stores& stores,
                                       Clock::TimePoint now) const
{
    const Entry* entry = find(plan);
    if (!entry || !stores.local)
        return {};
    const bool serverAsked = plan.serverTagLimit > 0;
    if (serverAsked && !stores.server)
        return {};
    const bool changed = stores.local->mayChangeSince(entry->marks.local, plan.groups, entry->hits.local)
                         || (serverAsked && stores.server->mayChangeSince(entry->marks.server, plan.groups,
                                                                         entry->hits.server));
    if (!changed)
        return {entry->hits, std::nullopt};
    const Clock::TimePoint due = entry->askedAt + kRefreshInterval;
    if (now >= due)
        return {};
    return {entry->hits, due};
}

void TagHitsMemo::remember(const ImageFuzzySearch::Plan& plan, ImageFuzzySearch::TagHits hits, const Marks& marks,
                           Clock::TimePoint askedAt)
{
    if (plan.groups != m_groups) {
        m_groups = plan.groups;
        m_entries.clear();
    }
    Entry fresh{plan.localTagLimit, plan.serverTagLimit, std::move(hits), marks, askedAt};
    if (const Entry* entry = find(plan))
        m_entries[static_cast<std::size_t>(entry - m_entries.data())] = std::move(fresh);
    else
        m_entries.push_back(std::move(fresh));
}

} // namespace pallix
