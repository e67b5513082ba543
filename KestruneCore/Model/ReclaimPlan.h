// What a reclaim does with a selection: which items it moves or deletes, in results order, and which it
// keeps back so that every group of copies (Duplicates, Similar Images) keeps one member on disk. The
// window, the scan engine and kestrune-cli all plan through this one rule. Pure; any thread.
#pragma once

#include "KestruneCore/Model/CleanupItem.h"

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

struct ReclaimPlan {
    struct Step {
        CleanupItem item;
        CategoryKind kind;
        // For a copy or near copy: the member of its group that stays on disk, which the reclaim checks
        // is still there (and, for a copy, still holds the same bytes) just before the item goes.
        std::optional<std::string> keeper;
    };
    struct KeptBack {
        CleanupItem item;
        std::string reason; // "NAME: kept back, ..." for people
    };

    std::vector<Step> steps;
    std::vector<KeptBack> keptBack;

    // The rule: a group's member counts as removed when it is selected or lies inside a selected item.
    // When every member of a group would go, a member that only the group itself claims (its own
    // Duplicates or Similar Images item, in no selected folder) stays; when there is none, the selected
    // items that hold the scanner's kept copy stay. Items of categories whose action is a command, and
    // items no result holds, are left out. An item whose application is running is kept back until the
    // user quits it. `copies` are the copy items as the scanners found them, also
    // those that another category's result took over; without them the results' own copy items serve.
    [[nodiscard]] static ReclaimPlan make(const std::vector<CategoryResult>& results,
                                          const std::unordered_set<CleanupItem>& selected,
                                          const std::vector<CleanupItem>* copies = nullptr);
};
