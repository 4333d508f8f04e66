#include "Core/Search/ResultCollation.h"

#include <algorithm>
#include <bit>
#include <cstring>
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

TextKey resultTextKey(std::string_view s)
{
    // Eight weights of seven bits to a word, then 0 for the end, so that a
    // text that ends sorts before its longer continuations, as in the collation.
    const std::array<unsigned char, 128>& weights = weightTable();
    TextKey key;
    std::size_t at = 0;
    for (int k = 0; k < 24; ++k) {
        const int w = nextWeight(weights, s, at);
        if (w < 0 || w > 127)
            return TextKey{};
        if (w == 0) {
            key.complete = true;
            break;
        }
        key.words[k / 8] |= std::uint64_t(w) << (57 - 7 * (k % 8));
    }
    key.known = true;
    if (!key.complete) {
        // A text of exactly 24 weights ends here too.
        std::size_t probe = at;
        key.complete = nextWeight(weights, s, probe) == 0;
    }
    return key;
}

int TextKey::compare(const TextKey& other) const
{
    if (!known || !other.known)
        return 2;
    for (int i = 0; i < 3; ++i)
        if (words[i] != other.words[i])
            return words[i] < other.words[i] ? -1 : 1;
    return complete && other.complete ? 0 : 2;
}

namespace {

// The pieces as one text, walked from a byte offset.
class PieceCursor {
public:
    explicit PieceCursor(const TextPieces& t) : m_t(t) {}
    void skip(std::size_t bytes)
    {
        for (; m_piece < 3 && bytes >= m_t.parts[m_piece].size() - m_at; ++m_piece, m_at = 0)
            bytes -= m_t.parts[m_piece].size() - m_at;
        m_at += bytes;
    }
    // nextWeight() over the joined pieces.
    int next(const std::array<unsigned char, 128>& weights)
    {
        for (; m_piece < 3; ++m_piece, m_at = 0) {
            const int w = nextWeight(weights, m_t.parts[m_piece], m_at);
            if (w != 0)
                return w;
        }
        return 0;
    }

private:
    const TextPieces& m_t;
    std::size_t m_piece = 0;
    std::size_t m_at = 0;
};

// The pieces joined from byte `from` on, into `out`.
std::string_view joinedFrom(const TextPieces& t, std::size_t from, std::string& out)
{
    out.clear();
    for (std::string_view p : t.parts) {
        const std::size_t skip = std::min(from, p.size());
        out.append(p.substr(skip));
        from -= skip;
    }
    return out;
}

// Just after the last "/" among the first `bytes` bytes of the pieces, or 0.
std::size_t afterLastSlash(const TextPieces& t, std::size_t bytes)
{
    std::size_t offset = 0, found = 0;
    for (std::string_view p : t.parts) {
        const std::string_view head = p.substr(0, std::min(bytes - offset, p.size()));
        if (const std::size_t at = head.rfind('/'); at != std::string_view::npos)
            found = offset + at + 1;
        offset += head.size();
        if (offset == bytes)
            break;
    }
    return found;
}

// The length of the common head of x and y (n bytes each), eight bytes a
// step; ORs the bytes of that head into `seen`.
std::size_t mismatchAt(const char* x, const char* y, std::size_t n, std::uint64_t& seen)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t u, v;
        std::memcpy(&u, x + i, 8);
        std::memcpy(&v, y + i, 8);
        if (const std::uint64_t diff = u ^ v; diff != 0) {
            const std::size_t k = static_cast<std::size_t>(std::countr_zero(diff)) / 8;  // little-endian
            if (k > 0)
                seen |= u & (~std::uint64_t(0) >> (64 - 8 * k));
            return i + k;
        }
        seen |= u;
    }
    for (; i < n && x[i] == y[i]; ++i)
        seen |= static_cast<unsigned char>(x[i]);
    return i;
}

// The bytes the two texts start with alike, and whether all of them are ASCII.
std::pair<std::size_t, bool> commonHead(const TextPieces& a, const TextPieces& b)
{
    std::size_t pa = 0, ia = 0, pb = 0, ib = 0, same = 0;
    std::uint64_t seen = 0;
    for (;;) {
        while (pa < 3 && ia == a.parts[pa].size())
            ++pa, ia = 0;
        while (pb < 3 && ib == b.parts[pb].size())
            ++pb, ib = 0;
        if (pa == 3 || pb == 3)
            break;
        const std::size_t n = std::min(a.parts[pa].size() - ia, b.parts[pb].size() - ib);
        const char* x = a.parts[pa].data() + ia;
        const char* y = b.parts[pb].data() + ib;
        const std::size_t k = mismatchAt(x, y, n, seen);
        same += k;
        if (k < n)
            break;
        ia += n;
        ib += n;
    }
    return {same, (seen & 0x8080808080808080ull) == 0};
}

int compareFrom(const std::array<unsigned char, 128>& weights, PieceCursor& i, PieceCursor& j)
{
    for (;;) {
        const int wa = i.next(weights);
        const int wb = j.next(weights);
        if (wa < 0 || wb < 0)
            return 2;  // not ASCII: the collator decides
        if (wa != wb)
            return wa < wb ? -1 : 1;
        if (wa == 0)
            return 0;
    }
}

} // namespace

int compareResultText(const TextPieces& a, const TextPieces& b)
{
    const std::array<unsigned char, 128>& weights = weightTable();
    // Bytes alike weigh alike: most paths share a long head, read once here.
    // The ASCII weights go on from where the texts differ. The collator, for a
    // text that is not ASCII, starts after the head's last "/" instead: no
    // character joins a "/" (an accent after where they differ may belong to
    // the letter before), so the heads weigh alike and the rests decide.
    const auto [same, ascii] = commonHead(a, b);
    PieceCursor i(a), j(b);
    if (ascii) {
        i.skip(same);
        j.skip(same);
        if (const int r = compareFrom(weights, i, j); r != 2)
            return r;
    }
    const std::size_t from = afterLastSlash(a, same);
    thread_local std::string left, right;
    return text::compareZhCaseInsensitive(joinedFrom(a, from, left), joinedFrom(b, from, right));
}

int compareResultText(std::string_view a, std::string_view b)
{
    return compareResultText(TextPieces{{a, {}, {}}}, TextPieces{{b, {}, {}}});
}

} // namespace pallix
