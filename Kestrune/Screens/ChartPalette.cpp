#include "Kestrune/Screens/ChartPalette.h"

namespace ChartPalette {

QColor safe() {
    return QColor::fromRgbF(0.043f, 0.518f, 0.953f);
}

QColor review() {
    return QColor::fromRgbF(0.788f, 0.51f, 0.122f);
}

QColor advisory(const QPalette& palette) {
    return secondaryText(palette);
}

QColor track(const QPalette& palette) {
    QColor c = palette.color(QPalette::WindowText);
    c.setAlphaF(0.1f);
    return c;
}

QColor of(CategoryKind kind, const QPalette& palette) {
    if (CategoryKinds::action(kind).kind == ReclaimAction::Kind::advise) {
        return advisory(palette);
    }
    return CategoryKinds::safety(kind) == Safety::safe ? safe() : review();
}

QColor secondaryText(const QPalette& palette) {
    QColor c = palette.color(QPalette::WindowText);
    c.setAlphaF(0.6f);
    return c;
}

} // namespace ChartPalette
