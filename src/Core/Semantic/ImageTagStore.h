#pragma once
// ImageTagStore: what the application model, the image tagger and the
// image-content search need of one image-tag database. Every operation blocks
// and is meant for worker threads. The defaults answer like a store without a
// database: nothing found, every image needs tags, writes do nothing; so a
// build or a test without the real store runs on unchanged.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pallix {

// The size and modification time of an image file as it was when it was read.
struct ImageFileStamp {
    std::int64_t size = 0;
    double modifiedAt = 0;  // seconds since 1970
    friend bool operator==(const ImageFileStamp&, const ImageFileStamp&) = default;
};

class ImageTagStore {
public:
    virtual ~ImageTagStore() = default;
    // Opens the database and runs its schema; the error text for the status
    // line when it cannot, nothing on success.
    virtual std::optional<std::string> bootstrap() = 0;

    // The tag format of rows whose tags include the objects an image shows;
    // rows written without them (older files, or no usable detector) are one lower.
    static constexpr int kTagFormat = 1;

    // A row exists for the path (an empty tag text counts).
    virtual bool hasTags(const std::string& /*path*/) { return false; }
    // The image should be looked at again: no row, its tags were written in
    // a format older than `format`, or they hold no recognised-text tag and
    // were read from another state of the file than `file` (unknown: always).
    virtual bool needsReindex(const std::string& /*path*/, int /*format*/ = kTagFormat,
                              const std::optional<ImageFileStamp>& /*file*/ = std::nullopt)
    {
        return true;
    }
    // Replace the row / add to the stored tags, written as `format` and
    // read from the file as `file`. The error text on failure.
    virtual std::optional<std::string> upsert(const std::string& /*path*/, const std::vector<std::string>& /*tags*/,
                                              double /*updatedAt*/, int /*format*/ = kTagFormat,
                                              const std::optional<ImageFileStamp>& /*file*/ = std::nullopt)
    {
        return std::nullopt;
    }
    virtual std::optional<std::string> mergeTags(const std::string& /*path*/,
                                                 const std::vector<std::string>& /*newTags*/, double /*updatedAt*/,
                                                 int /*format*/ = kTagFormat,
                                                 const std::optional<ImageFileStamp>& /*file*/ = std::nullopt)
    {
        return std::nullopt;
    }
    // Paths whose tags match every group, a group matching when any of its
    // words does; at most `limit`, best first where the store can rank.
    virtual std::vector<std::string> searchPaths(const std::vector<std::vector<std::string>>& /*groups*/,
                                                 int /*limit*/)
    {
        return {};
    }
};

} // namespace pallix
