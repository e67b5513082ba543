// Derived texts of a cleanup item.
#include "KestruneCore/Model/CleanupItem.h"

#include "KestruneCore/Model/Paths.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

// Folder names that say nothing on their own; they are shown with their parent's name.
constexpr std::array<std::string_view, 17> genericNames{
    "node_modules", "dist",     "build",   "Build",      "target",     "vendor", "Cache", "Caches",  ".build",
    "store",        "_cacache", "Devices", "repository", "Code Cache", "caches", "pkgs",  "registry"};

std::string plainName(const CleanupItem& item) {
    if (item.label && !item.label->empty()) {
        return *item.label;
    }
    const std::string_view last = Paths::lastComponent(item.url);
    if (std::find(genericNames.begin(), genericNames.end(), last) != genericNames.end()) {
        const std::string_view parentName = Paths::lastComponent(Paths::parent(item.url));
        if (!parentName.empty()) {
            std::string out(parentName);
            out += '/';
            out += last;
            return out;
        }
    }
    return std::string(last);
}

} // namespace

std::string CleanupItem::name() const {
    std::string plain = plainName(*this);
    if (!inUseBy.empty()) {
        plain += " (in use)";
    }
    return plain;
}

std::string CleanupItem::location(const std::string& home) const {
    // Only whole folders: "/home/annabel" is not "~bel" under the home "/home/anna".
    const std::string_view folder = Paths::parent(url);
    if (home.empty() || home == "/") {
        return std::string(folder);
    }
    std::string out;
    std::size_t at = 0;
    while (at < folder.size()) {
        const std::size_t found = folder.find(home, at);
        if (found == std::string_view::npos) {
            break;
        }
        const std::size_t end = found + home.size();
        if (end == folder.size() || folder[end] == '/') {
            out.append(folder.substr(at, found - at));
            out += '~';
        } else {
            out.append(folder.substr(at, end - at));
        }
        at = end;
    }
    out.append(folder.substr(std::min(at, folder.size())));
    return out;
}

std::int64_t CategoryResult::bytes() const {
    std::int64_t sum = 0;
    for (const auto& item : items) {
        sum += item.bytes;
    }
    return sum;
}
