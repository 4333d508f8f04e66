#pragma once
// Collation ordinals of names: numbers that order the names as the result
// order compares them (zh_CN collation ignoring case), equal for names that
// compare equal. A search that sorts by name compares two numbers instead of
// two texts. Worked out off the store's lock, on copies of the names a slice
// at a time: only their sort keys are kept, never a copy of every name.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "Core/IndexDB/TextList.h"

namespace pallix {

// Appends names [begin, end) to `out`; false stops. Asked from the threads
// making keys, a few thousand names at a time, several at once.
using NameTextSource = std::function<bool(std::size_t begin, std::size_t end, TextList& out)>;

// One ordinal per name of [0, count), from 1; nothing when `keepGoing`
// (polled now and then) or the source says no. Keys are made on up to
// `threads` threads.
std::optional<std::vector<std::uint32_t>> nameOrdersOf(std::size_t count, const NameTextSource& names,
                                                       unsigned threads, const std::function<bool()>& keepGoing);
// The same over a list.
std::optional<std::vector<std::uint32_t>> nameOrdersOf(const TextList& names, unsigned threads,
                                                       const std::function<bool()>& keepGoing);

} // namespace pallix
