// Only bundles the current user may write are walked: removing part of a bundle the user cannot change
// would only fail later, at the move to the Trash. Helper applications nested inside a bundle are left
// alone, since they are signed and loaded on their own.
#include "KestruneCore/Scanners/LanguageFilesScanner.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/FileAccess.h"
#include "KestruneCore/Platform/Languages.h"
#include "KestruneCore/Platform/SystemFolder.h"
#include "KestruneCore/Walk/DiskMeasure.h"

#include <algorithm>

namespace {

// A name whose extension is exactly "app": "X.app", but not ".app" (a hidden name has no extension).
bool hasAppExtension(std::string_view name) {
    return name.size() > 4 && name.ends_with(".app");
}

} // namespace

const LanguageFilesScanner::NameSet& LanguageFilesScanner::keepNames() {
    static const NameSet names{"Base.lproj", "en.lproj", "English.lproj"};
    return names;
}

LanguageFilesScanner::NameSet LanguageFilesScanner::preferredLprojNames() {
    NameSet names = keepNames();
    for (const auto& language : Platform::preferredLanguages()) {
        names.insert(language.substr(0, language.find('-')) + ".lproj");
        std::string underscored = language;
        std::replace(underscored.begin(), underscored.end(), '-', '_');
        names.insert(underscored + ".lproj");
        names.insert(language + ".lproj");
    }
    return names;
}

std::optional<std::string> LanguageFilesScanner::appBundleName(const std::string& path) {
    std::string u = path;
    for (int i = 0; i < maxAncestors; ++i) {
        const std::string_view last = Paths::lastComponent(u);
        if (hasAppExtension(last)) {
            return std::string(last.substr(0, last.size() - 4));
        }
        std::string parent(Paths::parent(u));
        if (parent.empty() || parent == u) {
            return std::nullopt;
        }
        u = std::move(parent);
    }
    return std::nullopt;
}

void LanguageFilesScanner::collectLproj(const std::string& folder, const NameSet& preferred, int depth,
                                        std::vector<CleanupItem>& items) {
    if (depth > maxDepth) {
        return;
    }
    for (const auto& entry : BulkDir::read(folder, BulkDir::Options::dates)) {
        if (entry.isSymlink || !entry.isDirectory || entry.name.front() == '.') {
            continue;
        }
        const std::string& name = entry.name;
        std::string path = Paths::child(folder, name);
        if (name.ends_with(".lproj")) {
            if (preferred.contains(name)) {
                continue;
            }
            const std::int64_t bytes = DiskMath::size(path);
            if (bytes < floorBytes) {
                continue;
            }
            const auto app = appBundleName(path);
            std::string label = app ? *app + std::string(labelSeparator) + name : name;
            items.emplace_back(std::move(path), bytes, entry.modified.value_or(Dates::distantPast),
                               std::move(label));
            continue;
        }
        if (depth >= 1 && hasAppExtension(name)) {
            continue;
        }
        collectLproj(path, preferred, depth + 1, items);
    }
}

std::vector<CleanupItem> LanguageFilesScanner::scan() const {
    const NameSet preferred = preferredLprojNames();
    std::vector<CleanupItem> items;
    for (const auto& root : {Platform::systemFolder("/Applications"), Paths::child(home(), "Applications")}) {
        for (const auto& entry : BulkDir::read(root)) {
            if (entry.name.front() == '.' || !hasAppExtension(entry.name)) {
                continue;
            }
            const std::string bundle = Paths::child(root, entry.name);
            if (Platform::isWritable(bundle)) {
                collectLproj(bundle, preferred, 0, items);
            }
        }
    }
    return items;
}
