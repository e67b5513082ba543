// The colours that mark safe, review and advisory categories in the charts and the disk map. The two
// class colours are fixed; the others follow the window's palette so a dark desktop stays readable.
#pragma once

#include "KestruneCore/Model/CategoryKind.h"

#include <QColor>
#include <QPalette>
#include <cstdint>

namespace ChartPalette {

[[nodiscard]] QColor safe();
[[nodiscard]] QColor review();
[[nodiscard]] QColor advisory(const QPalette& palette);
[[nodiscard]] QColor track(const QPalette& palette);
[[nodiscard]] QColor of(CategoryKind kind, const QPalette& palette);
// Secondary text: the palette's text at reduced strength.
[[nodiscard]] QColor secondaryText(const QPalette& palette);

} // namespace ChartPalette

// One category as the charts draw it.
struct ChartEntry {
    CategoryKind kind;
    std::int64_t bytes = 0;
    std::int64_t selectedBytes = 0;
};
