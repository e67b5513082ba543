// What the detail column of the main window shows.
#pragma once

#include "KestruneCore/Model/CategoryKind.h"

struct Pane {
    enum class Kind { category, overview, treemap, uninstaller, maintenance, history };

    Kind kind = Kind::overview;
    CategoryKind category = CategoryKind::userCaches; // only for Kind::category

    [[nodiscard]] static Pane of(CategoryKind kind) { return {Kind::category, kind}; }
    [[nodiscard]] bool operator==(const Pane& other) const {
        return kind == other.kind && (kind != Kind::category || category == other.category);
    }
};
