// Translations (".lproj" folders) inside application bundles the user may change, for languages the
// user does not use. Stateless; scan() runs sequentially on one runner worker thread.
#pragma once

#include "KestruneCore/Scanners/Scanner.h"

#include <optional>
#include <set>
#include <string>

class LanguageFilesScanner final : public Scanner {
public:
    static constexpr std::int64_t floorBytes = 500'000;
    static constexpr int maxDepth = 5;     // listings at depths 0 to 5, the bundle being depth 0
    static constexpr int maxAncestors = 8; // folders examined upwards for the enclosing bundle
    static constexpr std::string_view labelSeparator = " \u00B7 ";

    using NameSet = std::set<std::string, std::less<>>;

    // Kept whatever the preferred languages: English and the base localisation.
    [[nodiscard]] static const NameSet& keepNames();
    // keepNames() plus, for each preferred language such as de-DE: de.lproj, de_DE.lproj, de-DE.lproj.
    [[nodiscard]] static NameSet preferredLprojNames();
    // Appends an item for every unused ".lproj" folder at least floorBytes large inside `folder`.
    static void collectLproj(const std::string& folder, const NameSet& preferred, int depth,
                             std::vector<CleanupItem>& items);
    // The name, without ".app", of the nearest bundle that holds `path` (or is it).
    [[nodiscard]] static std::optional<std::string> appBundleName(const std::string& path);

    [[nodiscard]] CategoryKind kind() const override { return CategoryKind::languageFiles; }
    [[nodiscard]] std::vector<CleanupItem> scan() const override;
};
