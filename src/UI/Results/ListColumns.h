#pragma once
// ListColumns: where the list's six columns stand for a given width, shared
// by the column header and the rows so every title stands over its column.
// Pure arithmetic.

#include <array>

#include <QRect>

namespace pallix {

struct ListColumns {
    enum Column { Name, Type, Size, Modified, Folder, Actions, Count };

    static constexpr int kPadding = 10;
    static constexpr int kSpacing = 10;
    static constexpr int kNameMinWidth = 240;
    static constexpr std::array<int, Count> kFixedWidths{0, 130, 90, 150, 360, 116};

    // Left edge and width of each column; the name column takes the free
    // width (at least 240), the others are fixed.
    static std::array<QRect, Count> layout(int width, int top, int height);
};

} // namespace pallix
