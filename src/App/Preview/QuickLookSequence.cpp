#include "App/Preview/QuickLookSequence.h"

#include <algorithm>
#include <unordered_set>

#include "App/Preview/FileManagerOrder.h"

namespace pallix::QuickLookSequence {

std::optional<Kind> kindOf(const IndexedItem& item)
{
    if (kinds::isImageExtension(item.fileExtension()))
        return Kind::Image;
    if (kinds::isVideoExtension(item.fileExtension()))
        return Kind::Video;
    return std::nullopt;
}

int perFolderLimit(Kind kind)
{
    return kind == Kind::Image ? 200 : 120;
}

QList<IndexedItem> build(const IndexedItem& selected, Kind kind, int perFolderLimit, const QList<IndexedItem>& results,
                         const QList<IndexedItem>& imageFuzzyResults, const QList<IndexedItem>& skuRelatedResults,
                         const QList<IndexedItem>& serverResults)
{
    const struct {
        const QList<IndexedItem>* list;
        qsizetype scanned;
    } sources[] = {{&results, 1200}, {&imageFuzzyResults, 600}, {&skuRelatedResults, 600}, {&serverResults, 650}};

    // Views into the lists, which outlive the walk.
    std::unordered_set<std::string_view> seen;
    seen.reserve(900);
    QList<IndexedItem> sameFolder;
    sameFolder.reserve(std::min(std::max(perFolderLimit, 0), 256));
    for (const auto& source : sources) {
        const qsizetype n = std::min(source.list->size(), source.scanned);
        for (qsizetype i = 0; i < n; ++i) {
            const IndexedItem& item = (*source.list)[i];
            if (kindOf(item) != kind || !seen.insert(item.path()).second)
                continue;
            if (item.parentPath() == selected.parentPath() && sameFolder.size() < perFolderLimit)
                sameFolder.append(item);
        }
    }
    if (!seen.contains(selected.path()))
        sameFolder.append(selected);

    // The order a file manager shows: "img2" before "img10", letter case ignored.
    std::stable_sort(sameFolder.begin(), sameFolder.end(), [](const IndexedItem& a, const IndexedItem& b) {
        return compareFileNames(a.name(), b.name()) < 0;
    });
    return sameFolder;
}

} // namespace pallix::QuickLookSequence
