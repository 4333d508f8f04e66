#pragma once
// ImageTagWrites: an image-tag store that hands every call to another and
// keeps a record of the rows written lately (path and tags), so that the
// image-content search can tell whether the tagger's progress could change an
// answer it already has, without asking the store again. The record keeps the
// last kKeptWrites writes; a question about older ones is answered "maybe",
// and so is one about the time the store was opened.
//
// Threads: any; the record has a lock of its own, the calls handed on block
// as the inner store's do.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Core/Semantic/ImageTagStore.h"

namespace pallix {

class ImageTagWrites final : public ImageTagStore {
public:
    static constexpr std::size_t kKeptWrites = 4096;

    explicit ImageTagWrites(std::shared_ptr<ImageTagStore> store);

    std::optional<std::string> bootstrap() override;
    bool hasTags(const std::string& path) override;
    bool needsReindex(const std::string& path, int format = kTagFormat,
                      const std::optional<ImageFileStamp>& file = std::nullopt) override;
    std::optional<std::string> upsert(const std::string& path, const std::vector<std::string>& tags,
                                      double updatedAt, int format = kTagFormat,
                                      const std::optional<ImageFileStamp>& file = std::nullopt) override;
    std::optional<std::string> mergeTags(const std::string& path, const std::vector<std::string>& newTags,
                                         double updatedAt, int format = kTagFormat,
                                         const std::optional<ImageFileStamp>& file = std::nullopt) override;
    std::vector<std::string> searchPaths(const std::vector<std::vector<std::string>>& groups, int limit) override;

    // Called after each write noted, on the writing thread, outside the
    // record's lock; it must only hand off. None: nobody is told.
    void setWriteListener(std::function<void()> listener);

    // Rows written so far: the mark later writes are told from.
    std::uint64_t mark() const;
    // Whether a row written after `mark` could change what searchPaths(groups)
    // answered then (`answered`): its new tags may match every group (of a
    // merge: any group, the tags it had being unknown here), or it is one of
    // `answered`, whose tags may match no more. Errs towards "yes": the words
    // are compared with the tags case- and diacritic-folded, as parts of them.
    bool mayChangeSince(std::uint64_t mark, const std::vector<std::vector<std::string>>& groups,
                        const std::vector<std::string>& answered) const;

private:
    struct Write {
        std::string path;
        std::string foldedTags;  // see foldedWords() in the .cpp
        bool merged = false;     // added to the row's tags rather than replacing them
        bool anyRow = false;     // the store (re)opened: any answer may differ
    };
    void note(Write write);

    const std::shared_ptr<ImageTagStore> m_store;
    mutable std::mutex m_mutex;
    std::deque<Write> m_writes;  // under m_mutex: the last kKeptWrites, oldest first
    std::uint64_t m_count = 0;   // under m_mutex: writes ever noted
    std::function<void()> m_listener;  // under m_mutex
};

} // namespace pallix
