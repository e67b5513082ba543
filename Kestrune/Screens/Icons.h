// Icons by the symbol keys the catalogue and the screens use. GUI thread only.
#pragma once

#include <QIcon>
#include <QPalette>

#include <string_view>

namespace Icons {

// The icon for a symbol key: the first freedesktop icon-theme name of the key's table row that the
// installed themes hold (monochrome "-symbolic" icons tinted with the palette's text colour, so they
// stay visible on a dark window), else a glyph drawn here, so that the offscreen platform, which has
// no icon theme, shows something too.
[[nodiscard]] QIcon symbol(std::string_view key, const QPalette& palette);

// Loads the icons of every category, so that categories appearing during a scan draw without file reads.
void preloadCategories(const QPalette& palette);

// The application's own icon, drawn (the window, the tray and the screenshots use it).
[[nodiscard]] QIcon application();

} // namespace Icons
