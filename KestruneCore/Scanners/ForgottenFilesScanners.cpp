// Folders that are really the same folder (a capture folder linked to the Desktop, a mail folder
// linked to another) are listed once, so no file is reported, or its size counted, twice.
#include "KestruneCore/Scanners/ForgottenFilesScanners.h"

#include "KestruneCore/Model/Paths.h"
#include "KestruneCore/Platform/BulkDir.h"
#include "KestruneCore/Platform/ScreenCaptureFolder.h"
#include "KestruneCore/Walk/DiskMeasure.h"
#include "KestruneCore/Walk/HomeFiles.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <optional>

namespace {

// The folder with every link resolved; nothing when it does not exist.
std::optional<std::string> resolved(const std::string& path) {
    char buffer[PATH_MAX];
    if (realpath(path.c_str(), buffer) == nullptr) {
        return std::nullopt;
    }
    return std::string(buffer);
}

// The text after the last "." of the name, lower-cased; empty when there is none or the name starts
// with its only dot.
std::string lowerExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return {};
    }
    std::string extension(name.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return extension;
}

} // namespace

const std::set<std::string, std::less<>>& LargeOldFilesScanner::excluded() {
    static const std::set<std::string, std::less<>> names{
        "Library", "Applications", ".Trash", "node_modules", ".git",   ".build", "DerivedData", ".npm",
        ".cargo",  ".gradle",      ".m2",    ".cache",       ".local", "go",     "Public",
    };
    return names;
}

std::vector<CleanupItem> LargeOldFilesScanner::scan() const {
    // The files walk() would visit, from the walk this scan shares with the duplicates: the same folders
    // but those named "Public", whose files come marked.
    static_assert(HomeFiles::minimumBytes <= minimumBytes && HomeFiles::depthLimit == depthLimit);
    const Date cutoff = Dates::now() - age;
    std::vector<CleanupItem> items;
    const auto files = HomeFiles::of(home());
    for (const HomeFile& file : *files) {
        const Date lastUse = std::max(file.modified, file.accessed);
        if (!file.inPublic && file.allocSize >= minimumBytes && lastUse < cutoff) {
            items.emplace_back(file.path, file.allocSize, lastUse);
        }
    }
    return items;
}

void LargeOldFilesScanner::walk(const std::string& path, int depth, Date cutoff,
                                std::vector<CleanupItem>& items) {
    if (depth > depthLimit) {
        return;
    }
    const auto& skipped = excluded();
    for (const BulkEntry& entry : BulkDir::read(path, BulkDir::Options::dates)) {
        if (entry.isSymlink || entry.name.front() == '.') {
            continue;
        }
        std::string child = Paths::child(path, entry.name);
        if (entry.isDirectory) {
            if (!skipped.contains(entry.name)) {
                walk(child, depth + 1, cutoff, items);
            }
            continue;
        }
        if (entry.allocSize < minimumBytes) {
            continue;
        }
        const Date lastUse = std::max(entry.modified.value_or(Dates::distantPast),
                                      entry.accessed.value_or(Dates::distantPast));
        if (lastUse < cutoff) {
            items.emplace_back(std::move(child), entry.allocSize, lastUse);
        }
    }
}

bool ScreenshotScanner::isCaptureName(std::string_view name) {
    const std::string extension = lowerExtension(name);
    if (std::find(extensions.begin(), extensions.end(), extension) == extensions.end()) {
        return false;
    }
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [name](std::string_view prefix) { return name.starts_with(prefix); });
}

std::vector<CleanupItem> ScreenshotScanner::scan() const {
    std::vector<std::string> folders{Paths::child(home(), "Desktop")};
    if (auto captures = Platform::screenCaptureFolder()) {
        folders.push_back(std::move(*captures));
    }
    std::set<std::string> listed;
    std::set<std::string> seen;
    std::vector<CleanupItem> items;
    for (const auto& folder : folders) {
        const auto real = resolved(folder);
        if (!real || !listed.insert(*real).second) {
            continue;
        }
        for (const BulkEntry& entry : BulkDir::read(folder)) {
            if (entry.name.front() == '.' || !isCaptureName(entry.name)) {
                continue;
            }
            std::string identity = Paths::child(*real, entry.name);
            if (seen.contains(identity)) {
                continue;
            }
            std::string path = Paths::child(folder, entry.name);
            const std::int64_t bytes = DiskMath::size(path);
            if (bytes > 0) {
                seen.insert(std::move(identity));
                const Date modified = DiskMath::modified(path);
                items.emplace_back(std::move(path), bytes, modified);
            }
        }
    }
    return items;
}

std::vector<CleanupItem> MailAttachmentScanner::scan() const {
    const std::string root = home();
    std::set<std::string> listed;
    std::vector<CleanupItem> items;
    for (const auto folder : folders) {
        const std::string path = Paths::child(root, folder);
        const auto real = resolved(path);
        if (!real || !listed.insert(*real).second) {
            continue;
        }
        auto found = children(path, minimumBytes);
        items.insert(items.end(), std::make_move_iterator(found.begin()),
                     std::make_move_iterator(found.end()));
    }
    return items;
}
