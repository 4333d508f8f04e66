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
    static constexpr int kFolderWidth = 360;
    // Where the view is narrower than the columns' natural widths, the folder
    // shrinks to its minimum first, then the name to its own.
    static constexpr int kFolderMinWidth = 120;
    static constexpr int kNameNarrowestWidth = 120;
    static constexpr std::array<int, Count> kFixedWidths{0, 130, 90, 150, 0, 116};

    // Left edge and width of each column within `width`: the name takes the
    // free width beyond 240 and a 360 folder; type, size, date and actions
    // are fixed.
    static std::array<QRect, Count> layout(int width, int top, int height);
};

} // namespace pallix
