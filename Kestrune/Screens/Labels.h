// The screens' text labels: one look for body text, headings and secondary text, with colours taken
// from the palette so that a change of the desktop's colours reaches them.
#pragma once

#include <QFont>
#include <QLabel>
#include <QPalette>

namespace Labels {

// A word-wrapping label in the inherited font scaled by `scale`, bold when asked.
inline QLabel* label(QWidget* parent, double scale = 1.0, bool bold = false) {
    auto* l = new QLabel(parent);
    QFont f = l->font();
    f.setPointSizeF(f.pointSizeF() * scale);
    f.setBold(bold);
    l->setFont(f);
    l->setWordWrap(true);
    return l;
}

// Secondary text: a role of the inherited palette, never a copied colour.
inline void makeSecondary(QLabel* l) {
    l->setForegroundRole(QPalette::PlaceholderText);
}

inline QLabel* secondary(QWidget* parent) {
    auto* l = label(parent);
    makeSecondary(l);
    return l;
}

} // namespace Labels
