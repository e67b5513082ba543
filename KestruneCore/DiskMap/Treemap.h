// Squarified treemap layout: places weights into a rectangle as near-square tiles. Pure; any thread.
#pragma once

#include <vector>

// y grows downward, as on screen.
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    [[nodiscard]] bool operator==(const Rect&) const = default;
};

namespace Treemap {

// One rectangle per value, in input order; a value that gets no tile (not positive, not finite, or left
// over once the free space is 0.5 thin or less) keeps the zero rectangle. The caller sorts largest
// first; the layout itself keeps the order.
[[nodiscard]] std::vector<Rect> layout(const std::vector<double>& values, const Rect& rect);

} // namespace Treemap
