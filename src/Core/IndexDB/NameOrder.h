#pragma once
// Collation ordinals of names: numbers that order the names as the result
// order compares them (zh_CN collation ignoring case), equal for names that
// compare equal. A search that sorts by name compares two numbers instead of
// two texts. Worked out off the store's lock on a copy of the names.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "Core/IndexDB/TextList.h"

namespace pallix {

// One ordinal per name, from 1; nothing when `keepGoing` (polled now and then)
// says no. Keys are made on up to `threads` threads.
std::optional<std::vector<std::uint32_t>> nameOrdersOf(const TextList& names, unsigned threads,
                                                       const std::function<bool()>& keepGoing);

} // namespace pallix
