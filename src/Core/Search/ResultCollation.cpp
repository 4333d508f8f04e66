#include "Core/Search/ResultCollation.h"

#include <algorithm>
#include <array>
#include <string>

#include "Platform/Text.h"

namespace pallix {

namespace {

// Weight per ASCII byte: 0 for an ignorable one, else its primary order from 1.
std::array<unsigned char, 128> readWeights()
{
    const auto compare = [](char a, char b) {
        return text::compareZhCaseInsensitive(std::string(1, a), std::string(1, b));
    };
    std::array<unsigned char, 128> weights{};
    std::string ordered;
    for (int c = 0; c < 128; ++c) {
        const std::string one(1, static_cast<char>(c));
        const bool ignorable = text::compareZhCaseInsensitive(one + "a", "a") == 0 &&
                               text::compareZhCaseInsensitive("a" + one, "a") == 0;
        if (!ignorable)
            ordered.push_back(static_cast<char>(c));
    }
    std::stable_sort(ordered.begin(), ordered.end(), [&](char a, char b) { return compare(a, b) < 0; });
    unsigned char weight = 0;
    for (std::size_t i = 0; i < ordered.size(); ++i) {
        if (i == 0 || compare(ordered[i - 1], ordered[i]) != 0)
            ++weight;
        weights[static_cast<unsigned char>(ordered[i])] = weight;
    }
    return weights;
}

// The next weight of `s` from `at`: 0 at the end, -1 at a byte that is not ASCII.
int nextWeight(const std::array<unsigned char, 128>& weights, std::string_view s, std::size_t& at)
{
    while (at < s.size()) {
        const auto c = static_cast<unsigned char>(s[at++]);
        if (c >= 0x80)
            return -1;
        if (weights[c] != 0)
            return weights[c];
    }
    return 0;
}

const std::array<unsigned char, 128>& weightTable()
{
    static const std::array<unsigned char, 128> weights = readWeights();
    return weights;
}

} // namespace

std::uint64_t resultTextKey(std::string_view s)
{
    // Eight weights of seven bits, then 0 for the end, so that a text that
    // ends sorts before its longer continuations, as in the collation.
    const std::array<unsigned char, 128>& weights = weightTable();
    std::uint64_t key = 0;
    std::size_t at = 0;
    for (int k = 0; k < 8; ++k) {
        const int w = nextWeight(weights, s, at);
        if (w < 0 || w > 127)
            return kUnknownKey;
        key |= std::uint64_t(w) << (57 - 7 * k);
    }
    return key;
}

int compareResultText(std::string_view a, std::string_view b)
{
    const std::array<unsigned char, 128>& weights = weightTable();
    std::size_t i = 0, j = 0;
    for (;;) {
        const int wa = nextWeight(weights, a, i);
        const int wb = nextWeight(weights, b, j);
        // Past the first difference nothing can change the order; before it,
        // anything that is not ASCII goes to the collator.
        if (wa < 0 || wb < 0)
            return text::compareZhCaseInsensitive(a, b);
        if (wa != wb)
            return wa < wb ? -1 : 1;
        if (wa == 0)
            return 0;
    }
}

} // namespace pallix
