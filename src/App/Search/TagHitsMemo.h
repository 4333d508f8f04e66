#pragma once
// TagHitsMemo: the tag stores' answers to the image-content searches of one
// set of words (one per pair of tag limits: the passes ask for different
// counts), with the stores' write marks from before each was asked. A search
// of the same words takes an answer from here while no tag written since
// could change it; when one could, the stores are asked again, but at most
// once every kRefreshInterval: until then the answer stands and the caller is
// told when to search again. The rest of an image search (folders by name,
// paths to items) reads the index caches and is cheap; this keeps the tag
// stores, whose lock the tagger holds, out of a search that cannot gain by it.
//
// GUI thread (the session's); plain data, no locks.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "App/ImageTags/ImageFuzzySearch.h"
#include "Platform/Clock.h"

namespace pallix {

class ImageTagWrites;

class TagHitsMemo {
public:
    static constexpr std::chrono::seconds kRefreshInterval{3};

    // The stores an answer comes from; null: none (the shared-drive one) or
    // one that keeps no record, whose answers are never reused.
    struct Stores {
        const ImageTagWrites* local = nullptr;
        const ImageTagWrites* server = nullptr;
    };
    // The stores' write marks, taken before they are asked.
    struct Marks {
        std::uint64_t local = 0;
        std::uint64_t server = 0;
    };
    struct Verdict {
        // The answer to reuse; none: ask the stores.
        std::optional<ImageFuzzySearch::TagHits> hits;
        // Set when `hits` is kept though new tags may change it: search again then.
        std::optional<Clock::TimePoint> refreshAt;
    };

    static Marks marksOf(const Stores& stores);
    Verdict look(const ImageFuzzySearch::Plan& plan, const Stores& stores, Clock::TimePoint now) const;
    // The stores' answer to `plan`, asked after `marks` were taken, at `askedAt`.
    void remember(const ImageFuzzySearch::Plan& plan, ImageFuzzySearch::TagHits hits, const Marks& marks,
                  Clock::TimePoint askedAt);

private:
    struct Entry {
        int localLimit = 0;
        int serverLimit = 0;
        ImageFuzzySearch::TagHits hits;
        Marks marks;
        Clock::TimePoint askedAt{};
    };
    const Entry* find(const ImageFuzzySearch::Plan& plan) const;

    std::vector<std::vector<std::string>> m_groups;  // the words every entry answers
    std::vector<Entry> m_entries;                    // one per pair of limits
};

} // namespace pallix
