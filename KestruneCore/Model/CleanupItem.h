// One reclaimable file or folder as a scanner found it, and one category's results.
#pragma once

#include "KestruneCore/Model/CategoryKind.h"
#include "KestruneCore/Model/Dates.h"
#include "KestruneCore/Model/Uuid.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct CleanupItem {
    Uuid id = Uuid::random(); // display identity only; never part of equality
    std::string url;          // absolute path of the file or folder
    std::int64_t bytes = 0;
    Date modified = Dates::distantPast;
    std::optional<std::string> label;
    // For a copy (Duplicates) or a near copy (Similar Images): the member of its group the scanner keeps.
    std::optional<std::string> keptCopy;
    // The application that owns the item and is running right now ("Firefox"): the item is named
    // "(in use)", is never preselected, and reclaim asks the user to quit that application first.
    std::string inUseBy;
    // False for an item of a safe category that still deserves a look (a Maven repository holds artifacts
    // the user installed): it is never preselected.
    bool recommended = true;

    CleanupItem() = default;
    CleanupItem(std::string url, std::int64_t bytes, Date modified,
                std::optional<std::string> label = std::nullopt)
        : url(std::move(url)), bytes(bytes), modified(modified), label(std::move(label)) {}

    // The label when it is not empty; else the last component, prefixed by its parent's name when generic;
    // followed by " (in use)" while its owner runs.
    [[nodiscard]] std::string name() const;
    // Whether the recommended selection may take the item (its category being safe).
    [[nodiscard]] bool isRecommended() const { return recommended && inUseBy.empty(); }
    // The folder that holds the item, with every occurrence of the home folder as a whole folder
    // written "~".
    [[nodiscard]] std::string location(const std::string& home) const;

    [[nodiscard]] bool operator==(const CleanupItem& other) const { return url == other.url; }
};

template <> struct std::hash<CleanupItem> {
    std::size_t operator()(const CleanupItem& item) const noexcept {
        return std::hash<std::string>{}(item.url);
    }
};

struct CategoryResult {
    CategoryKind kind;
    std::vector<CleanupItem> items;

    [[nodiscard]] CategoryKind id() const { return kind; }
    [[nodiscard]] std::int64_t bytes() const;
};
