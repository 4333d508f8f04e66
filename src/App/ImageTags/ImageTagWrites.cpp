#include "App/ImageTags/ImageTagWrites.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "Platform/Text.h"

namespace pallix {

namespace {

// Case and diacritics folded, every character but letters, marks and digits
// a space, runs of spaces one. The full-text store splits tags into words at
// the same characters and folds them alike, so a word it matches (as a
// phrase, or as the head of one) is a part of the folded tags; its plain
// road compares parts of the text, which folding keeps too.
std::string foldedWords(std::string_view text)
{
    const std::string folded = text::foldCaseAndDiacritics(text);
    std::string out;
    out.reserve(folded.size());
    for (std::size_t i = 0; i < folded.size();) {
        const std::size_t start = i;
        const char32_t c = text::nextCodePoint(folded, i);
        const bool kept = c < 0x80 ? text::isAsciiAlnum(static_cast<char>(c)) : text::isLetterMarkOrNumber(c);
        if (kept)
            out.append(folded, start, i - start);
        else if (out.empty() || out.back() != ' ')
            out += ' ';
    }
    return out;
}

std::string foldedWord(std::string_view word)
{
    std::string out = foldedWords(word);
    const std::size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

std::string foldedTags(const std::vector<std::string>& tags)
{
    std::string joined;
    for (const std::string& tag : tags)
        joined.append(tag).append(" ");
    return foldedWords(joined);
}

// A word folded to nothing is no word the store can look for: it could be
// anything, so it matches.
bool groupMatches(const std::vector<std::string>& foldedGroup, const std::string& foldedTags)
{
    return std::any_of(foldedGroup.begin(), foldedGroup.end(), [&](const std::string& word) {
        return word.empty() || foldedTags.find(word) != std::string::npos;
    });
}

} // namespace

ImageTagWrites::ImageTagWrites(std::shared_ptr<ImageTagStore> store) : m_store(std::move(store)) {}

std::optional<std::string> ImageTagWrites::bootstrap()
{
    std::optional<std::string> error = m_store->bootstrap();
    note(Write{{}, {}, false, true});
    return error;
}

bool ImageTagWrites::hasTags(const std::string& path) { return m_store->hasTags(path); }

bool ImageTagWrites::needsReindex(const std::string& path, int format, const std::optional<ImageFileStamp>& file)
{
    return m_store->needsReindex(path, format, file);
}

std::optional<std::string> ImageTagWrites::upsert(const std::string& path, const std::vector<std::string>& tags,
                                                  double updatedAt, int format,
                                                  const std::optional<ImageFileStamp>& file)
{
    std::optional<std::string> error = m_store->upsert(path, tags, updatedAt, format, file);
    if (!error)
        note(Write{path, foldedTags(tags), false, false});
    return error;
}

std::optional<std::string> ImageTagWrites::mergeTags(const std::string& path, const std::vector<std::string>& newTags,
                                                     double updatedAt, int format,
                                                     const std::optional<ImageFileStamp>& file)
{
    std::optional<std::string> error = m_store->mergeTags(path, newTags, updatedAt, format, file);
    if (!error)
        note(Write{path, foldedTags(newTags), true, false});
    return error;
}

std::vector<std::string> ImageTagWrites::searchPaths(const std::vector<std::vector<std::string>>& groups, int limit)
{
    return m_store->searchPaths(groups, limit);
}

std::uint64_t ImageTagWrites::mark() const
{
    std::lock_guard lock(m_mutex);
    return m_count;
}

void ImageTagWrites::setWriteListener(std::function<void()> listener)
{
    std::lock_guard lock(m_mutex);
    m_listener = std::move(listener);
}

void ImageTagWrites::note(Write write)
{
    std::function<void()> listener;
    {
        std::lock_guard lock(m_mutex);
        m_writes.push_back(std::move(write));
        if (m_writes.size() > kKeptWrites)
            m_writes.pop_front();
        ++m_count;
        listener = m_listener;
    }
    if (listener)
        listener();
}

bool ImageTagWrites::mayChangeSince(std::uint64_t mark, const std::vector<std::vector<std::string>>& groups,
                                    const std::vector<std::string>& answered) const
{
    std::vector<std::vector<std::string>> foldedGroups;
    for (const auto& group : groups) {
        std::vector<std::string> words;
        for (const std::string& word : group)
            words.push_back(foldedWord(word));
        foldedGroups.push_back(std::move(words));
    }
    std::lock_guard lock(m_mutex);
    if (mark >= m_count)
        return false;
    if (m_count - mark > m_writes.size())
        return true;  // some of the writes since are no longer recorded
    const std::unordered_set<std::string> answeredPaths(answered.begin(), answered.end());
    for (auto write = m_writes.end() - static_cast<std::ptrdiff_t>(m_count - mark); write != m_writes.end(); ++write) {
        if (write->anyRow || answeredPaths.contains(write->path))
            return true;
        const auto matches = [&](const std::vector<std::string>& group) { return groupMatches(group, write->foldedTags); };
        if (write->merged ? std::any_of(foldedGroups.begin(), foldedGroups.end(), matches)
                          : std::all_of(foldedGroups.begin(), foldedGroups.end(), matches))
            return true;
    }
    return false;
}

} // namespace pallix
