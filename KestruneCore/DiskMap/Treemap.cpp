// Tiles are laid in strips along the shorter side of the space left; a strip closes as soon as one
// more tile would make its worst aspect ratio worse.
#include "KestruneCore/DiskMap/Treemap.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

struct Strip {
    std::vector<std::pair<std::size_t, double>> members;
    double sum = 0;
    double smallest = 0;
    double largest = 0;
};

// The worse of the strip's two extreme aspect ratios, laid along a side of length `side`.
double worst(double sum, double smallest, double largest, double side) {
    if (sum <= 0 || smallest <= 0) {
        return std::numeric_limits<double>::infinity();
    }
    const double side2 = side * side;
    return std::max(side2 * largest / (sum * sum), (sum * sum) / (side2 * smallest));
}

// A weight that is not a finite number has no meaningful share of the space: it gets no tile rather
// than turning every other tile into NaN.
bool usable(double value) {
    return value > 0 && std::isfinite(value);
}

} // namespace

namespace Treemap {

std::vector<Rect> layout(const std::vector<double>& values, const Rect& rect) {
    std::vector<Rect> result(values.size());
    if (!(rect.width > 0) || !(rect.height > 0) || !std::isfinite(rect.width * rect.height) ||
        !std::isfinite(rect.x) || !std::isfinite(rect.y)) {
        return result;
    }

    double total = 0;
    double largest = 0;
    for (double v : values) {
        if (usable(v)) {
            total += v;
            largest = std::max(largest, v);
        }
    }
    if (total <= 0) {
        return result;
    }
    // Finite weights can still add up past the largest double, or be so small that the area per unit
    // overflows; measuring them against the largest keeps both finite without changing any share.
    double unit = 1.0;
    double scale = rect.width * rect.height / total;
    if (!std::isfinite(total) || !std::isfinite(scale)) {
        unit = largest;
        total = 0;
        for (double v : values) {
            if (usable(v)) {
                total += v / unit;
            }
        }
        scale = rect.width * rect.height / total;
    }

    // Computed where needed, so that nothing is allocated beyond the result and the strip.
    const auto areaOf = [&](std::size_t i) { return usable(values[i]) ? scale * (values[i] / unit) : 0.0; };

    Rect free = rect;
    std::size_t next = 0;
    Strip strip;
    while (next < values.size()) {
        if (free.width <= 0.5 || free.height <= 0.5) {
            return result; // no room worth drawing: the rest keep zero rectangles
        }
        const double side = std::min(free.width, free.height);

        strip.members.clear();
        strip.sum = 0;
        for (; next < values.size(); ++next) {
            const double a = areaOf(next);
            if (a <= 0) {
                continue;
            }
            if (strip.members.empty()) {
                strip.members.emplace_back(next, a);
                strip.sum = a;
                strip.smallest = a;
                strip.largest = a;
                continue;
            }
            const double before = worst(strip.sum, strip.smallest, strip.largest, side);
            const double after =
                worst(strip.sum + a, std::min(strip.smallest, a), std::max(strip.largest, a), side);
            if (before < after) {
                break; // this index starts the next strip
            }
            strip.members.emplace_back(next, a);
            strip.sum += a;
            strip.smallest = std::min(strip.smallest, a);
            strip.largest = std::max(strip.largest, a);
        }
        if (strip.members.empty()) {
            return result;
        }

        const double thickness = strip.sum / side;
        if (free.height <= free.width) {
            double y = free.y;
            for (const auto& [index, area] : strip.members) {
                const double height = area / thickness;
                result[index] = {free.x, y, thickness, height};
                y += height;
            }
            free = {free.x + thickness, free.y, free.width - thickness, free.height};
        } else {
            double x = free.x;
            for (const auto& [index, area] : strip.members) {
                const double width = area / thickness;
                result[index] = {x, free.y, width, thickness};
                x += width;
            }
            free = {free.x, free.y + thickness, free.width, free.height - thickness};
        }
    }
    return result;
}

} // namespace Treemap
