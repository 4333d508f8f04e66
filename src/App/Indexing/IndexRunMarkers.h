#pragma once
// IndexRunMarkers: remembers, in the user defaults, that a full walk of the
// local roots (the first scan, a rebuild, the background refresh) began and
// whether it finished, so that a start after a kill or a quit in the middle of
// one walks the roots again rather than trust a partial index. The keys carry
// the edition prefix: "<edition>.localIndexRunStartedAt",
// "<edition>.localIndexRunCompletedAt" (dates) and "<edition>.localIndexRunRoots"
// (the standardised roots of the last run begun, sorted).
//
// Not thread-safe: the model calls it on the GUI thread.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Defaults.h"

namespace pallix {

class IndexRunMarkers {
public:
    explicit IndexRunMarkers(std::shared_ptr<Defaults> defaults) : m_defaults(std::move(defaults)) {}

    // A walk of `roots` begins now (`now`: seconds since 1970).
    void begin(std::vector<std::string> roots, double now);
    // The walk begun last has written everything it found.
    void complete(double now);
    // The roots of a walk that began and never finished; none when the last
    // one finished or none ever began.
    std::optional<std::vector<std::string>> unfinishedRoots() const;

    static const std::string& startedAtKey();
    static const std::string& completedAtKey();
    static const std::string& rootsKey();

private:
    std::shared_ptr<Defaults> m_defaults;
};

} // namespace pallix
