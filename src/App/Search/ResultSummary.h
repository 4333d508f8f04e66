#pragma once
// The line under the results: hits and index sizes of the parts in scope,
// or what is being indexed. Pure functions; any thread.

#include <cstdint>
#include <functional>

#include <QString>

namespace pallix::ResultSummary {

// What the summary is made of.
struct State {
    std::int64_t localHits = 0;
    std::int64_t localItems = 0;
    std::int64_t serverHits = 0;
    std::int64_t serverItems = 0;
    bool localInScope = true;
    bool serverInScope = true;
    bool localIndexing = false;
    bool serverIndexing = false;
    std::int64_t limit = 0;
};

// `hasIntent` is asked only when a full local list decides the limit note.
QString text(const State& state, const std::function<bool()>& hasIntent);

} // namespace pallix::ResultSummary
