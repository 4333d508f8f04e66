#include "Core/IndexDB/SearchKeys.h"

#include <algorithm>
#include <memory>

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include "Platform/Text.h"

namespace pallix {

namespace {

// A character is kept when, trimmed of white space, something is left and all
// of it is letters, marks, numbers or ideographs. One pass: white space is
// allowed only before and after the content, never inside it.
bool isKeptCluster(std::string_view cluster)
{
    bool seenContent = false;
    bool spaceAfterContent = false;
    for (std::size_t i = 0; i < cluster.size();) {
        const char32_t c = text::nextCodePoint(cluster, i);
        if (text::isWhiteSpace(c)) {
            spaceAfterContent = seenContent;
            continue;
        }
        if (spaceAfterContent || !(text::isLetterMarkOrNumber(c) || text::isIdeographic(c)))
            return false;
        seenContent = true;
    }
    return seenContent;
}

// One grapheme iterator per thread: the index build runs on several threads,
// and creating an iterator costs far more than a name.
icu::BreakIterator* graphemeIterator()
{
    thread_local std::unique_ptr<icu::BreakIterator> it = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> bi(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status))
            bi.reset();
        return bi;
    }();
    return it.get();
}

void keptCharactersNonAscii(std::string_view s, std::vector<std::string_view>& out)
{
    icu::BreakIterator* bi = graphemeIterator();
    if (!bi) {
        // Without ICU data, fall back to code points; names still get keys.
        for (std::size_t i = 0; i < s.size();) {
            const std::size_t start = i;
            text::nextCodePoint(s, i);
            std::string_view c = s.substr(start, i - start);
            if (isKeptCluster(c))
                out.push_back(c);
        }
        return;
    }
    UErrorCode status = U_ZERO_ERROR;
    UText ut = UTEXT_INITIALIZER;
    utext_openUTF8(&ut, s.data(), static_cast<int64_t>(s.size()), &status);
    bi->setText(&ut, status);
    if (U_FAILURE(status)) {
        utext_close(&ut);
        return;
    }
    int32_t start = bi->first();
    for (int32_t end = bi->next(); end != icu::BreakIterator::DONE; start = end, end = bi->next()) {
        std::string_view c = s.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
        if (c.size() == 1 ? text::isAsciiAlnum(c[0]) : isKeptCluster(c))
            out.push_back(c);
    }
    utext_close(&ut);
}

} // namespace

void keptCharacters(std::string_view s, std::vector<std::string_view>& out)
{
    out.clear();
    if (text::isAscii(s)) {
        // In ASCII every byte is a character (CR LF is one, but neither is kept).
        for (std::size_t i = 0; i < s.size(); ++i)
            if (text::isAsciiAlnum(s[i]))
                out.push_back(s.substr(i, 1));
        return;
    }
    keptCharactersNonAscii(s, out);
}

std::vector<std::string> searchCharacters(std::string_view s)
{
    std::vector<std::string_view> kept;
    keptCharacters(s, kept);
    return {kept.begin(), kept.end()};
}

std::vector<std::string> searchBigrams(std::string_view s)
{
    std::vector<std::string_view> kept;
    keptCharacters(s, kept);
    std::vector<std::string> pairs;
    for (std::size_t i = 0; i + 1 < kept.size(); ++i) {
        std::string pair;
        pair.reserve(kept[i].size() + kept[i + 1].size());
        pair.append(kept[i]).append(kept[i + 1]);
        if (std::find(pairs.begin(), pairs.end(), pair) == pairs.end())
            pairs.push_back(std::move(pair));
    }
    return pairs;
}

std::vector<std::string> searchPrefixes(std::string_view s)
{
    std::vector<std::string_view> kept;
    keptCharacters(s, kept);
    std::vector<std::string> prefixes;
    std::string prefix;
    for (std::size_t k = 0; k < std::min<std::size_t>(4, kept.size()); ++k) {
        prefix.append(kept[k]);
        prefixes.push_back(prefix);
    }
    return prefixes;
}

} // namespace pallix
