#include "UI/Results/ListColumns.h"

#include <algorithm>
#include <numeric>

namespace pallix {

std::array<QRect, ListColumns::Count> ListColumns::layout(int width, int top, int height)
{
    const int fixed = std::accumulate(kFixedWidths.begin(), kFixedWidths.end(), 0);
    const int free = width - 2 * kPadding - (Count - 1) * kSpacing - fixed;
    const int folder = std::clamp(free - kNameMinWidth, kFolderMinWidth, kFolderWidth);
    const int name = std::max(kNameNarrowestWidth, free - folder);
    std::array<QRect, Count> rects;
    int x = kPadding;
    for (int c = 0; c < Count; ++c) {
        const int w = c == Name ? name : c == Folder ? folder : kFixedWidths[static_cast<std::size_t>(c)];
        rects[static_cast<std::size_t>(c)] = QRect(x, top, w, height);
        x += w + kSpacing;
    }
    return rects;
}

} // namespace pallix
