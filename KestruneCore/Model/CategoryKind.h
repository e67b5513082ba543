// The closed catalogue of the 21 cleanup categories, with their texts, safety class and reclaim action.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

enum class Safety { safe, review };

struct ReclaimAction {
    enum class Kind { advise, trash, evict };

    Kind kind = Kind::trash;
    std::string command; // only for advise

    [[nodiscard]] static ReclaimAction advise(std::string command) {
        return {Kind::advise, std::move(command)};
    }
    [[nodiscard]] static ReclaimAction trash() { return {Kind::trash, {}}; }
    [[nodiscard]] static ReclaimAction evict() { return {Kind::evict, {}}; }

    [[nodiscard]] bool isSelectable() const { return kind != Kind::advise; }
    // Two advise actions are equal when their commands are; the command of trash and evict plays no part.
    [[nodiscard]] bool operator==(const ReclaimAction& other) const {
        return kind == other.kind && (kind != Kind::advise || command == other.command);
    }
};

// Declaration order is the catalogue's order; the registry of scanners has its own order.
enum class CategoryKind {
    userCaches,
    logs,
    xcode,
    nodeModules,
    packageCaches,
    appCaches,
    screenshots,
    downloads,
    trash,
    appLeftovers,
    simulators,
    docker,
    largeOldFiles,
    mailAttachments,
    iosBackups,
    cloudClutter,
    privacyTraces,
    duplicates,
    languageFiles,
    similarImages,
    mediaLeftovers,
};

namespace CategoryKinds {

inline constexpr std::size_t count = 21;

[[nodiscard]] const std::array<CategoryKind, count>& allCases();
[[nodiscard]] std::optional<CategoryKind> fromRawValue(std::string_view raw);

[[nodiscard]] std::string_view rawValue(CategoryKind kind);
[[nodiscard]] std::string_view title(CategoryKind kind);
[[nodiscard]] std::string_view blurb(CategoryKind kind);
[[nodiscard]] std::string_view symbol(CategoryKind kind);
[[nodiscard]] Safety safety(CategoryKind kind);
[[nodiscard]] const ReclaimAction& action(CategoryKind kind);

[[nodiscard]] std::string_view rawValue(Safety safety);

} // namespace CategoryKinds
