#pragma once
// The tag store's write rate of pallix-imagetag-bench: images stored per
// second (the tagger's merge of one image's tags, half new images, half
// images tagged again) into a store already holding N tagged images, and
// the time of a few searches of it after the writes.

#include <filesystem>
#include <vector>

namespace pallix::bench {

struct StoreRateOptions {
    std::filesystem::path work;
    std::vector<int> rows{1000, 100000};
    int writes = 1000;  // timed, per row count
};

int runStoreRate(const StoreRateOptions& options);

} // namespace pallix::bench
