#pragma once
// Where the sheet scrolls when a cell receives the focus: by the least amount that shows the
// whole cell, and not at all when it is already fully in view. All values in twips.
#include <algorithm>

namespace corvantis::sheet {

struct FocusFollow {
    enum class Move { None, Down, Up };
    Move move = Move::None;
    int value = 0;   // the new scroll value when move is not None
};

// cellTop is the cell's top within the moving content (its frame's offset included).
constexpr FocusFollow focusFollow(int cellTop, int cellHeight, int scrollValue, int viewportHeight, int maximum)
{
    const int bottom = cellTop + cellHeight;
    if (bottom > scrollValue + viewportHeight)
        return {FocusFollow::Move::Down, std::clamp(bottom - viewportHeight, 0, maximum)};
    if (cellTop < scrollValue)
        return {FocusFollow::Move::Up, std::clamp(cellTop, 0, maximum)};
    return {};
}

} // namespace corvantis::sheet
