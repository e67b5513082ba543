// Text columns are padded by code points of the already-repaired UTF-8, so that names line up.
#include "cli/ScanReport.h"

#include "KestruneCore/Platform/Home.h"
#include "cli/Output.h"

#include "KestruneCore/Model/DiskMath.h"
#include "KestruneCore/Model/Utf8.h"

#include <algorithm>
#include <cmath>

namespace ScanReport {
namespace {

constexpr std::size_t topCount = 10;

std::string_view actionName(ReclaimAction::Kind kind) {
    switch (kind) {
    case ReclaimAction::Kind::trash:
        return "trash";
    case ReclaimAction::Kind::evict:
        return "evict";
    case ReclaimAction::Kind::advise:
        return "advise";
    }
    return "trash";
}

std::size_t width(std::string_view utf8) {
    return static_cast<std::size_t>(std::count_if(
        utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string padded(const std::string& text, std::size_t to) {
    const std::size_t w = width(text);
    return w >= to ? text : text + std::string(to - w, ' ');
}

std::string itemCount(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " item" : " items");
}

} // namespace

nlohmann::json item(const CleanupItem& item) {
    nlohmann::json out{{"name", Utf8::valid(item.name())},
                       {"location", Utf8::valid(item.location(Platform::homeFolder()))},
                       {"bytes", item.bytes},
                       {"modified", Dates::iso8601(item.modified)}};
    Output::addPath(out, item.url);
    if (item.label) {
        out["label"] = Utf8::valid(*item.label);
    }
    if (!item.inUseBy.empty()) {
        out["inUseBy"] = Utf8::valid(item.inUseBy);
    }
    if (!item.isRecommended()) {
        out["recommended"] = false;
    }
    return out;
}

nlohmann::json category(const CategoryResult& result) {
    const ReclaimAction& action = CategoryKinds::action(result.kind);
    nlohmann::json items = nlohmann::json::array();
    for (const auto& i : result.items) {
        items.push_back(item(i));
    }
    nlohmann::json out{{"kind", CategoryKinds::rawValue(result.kind)},
                       {"title", CategoryKinds::title(result.kind)},
                       {"safety", CategoryKinds::rawValue(CategoryKinds::safety(result.kind))},
                       {"action", actionName(action.kind)},
                       {"bytes", result.bytes()},
                       {"items", std::move(items)}};
    if (action.kind == ReclaimAction::Kind::advise) {
        out["command"] = action.command;
    }
    return out;
}

nlohmann::json document(const std::string& home, double seconds, const std::vector<CategoryResult>& results) {
    nlohmann::json categories = nlohmann::json::array();
    for (const auto& result : results) {
        categories.push_back(category(result));
    }
    return {{"home", Utf8::valid(home)},
            {"seconds", std::round(seconds * 1000.0) / 1000.0},
            {"totalBytes", totalBytes(results)},
            {"categories", std::move(categories)}};
}

std::int64_t totalBytes(const std::vector<CategoryResult>& results) {
    std::int64_t sum = 0;
    for (const auto& result : results) {
        sum += result.bytes();
    }
    return sum;
}

void printText(std::ostream& out, const std::vector<CategoryResult>& results, Listing listing) {
    std::size_t count = 0;
    for (const auto& result : results) {
        count += result.items.size();
        out << CategoryKinds::title(result.kind) << "  " << DiskMath::human(result.bytes()) << "  "
            << itemCount(result.items.size()) << "\n";
        const std::size_t shown =
            listing == Listing::everything ? result.items.size() : std::min(result.items.size(), topCount);
        std::vector<std::string> names;
        std::vector<std::string> locations;
        std::size_t nameWidth = 0;
        std::size_t locationWidth = 0;
        const std::string home = Platform::homeFolder();
        for (std::size_t i = 0; i < shown; ++i) {
            names.push_back(Utf8::valid(result.items[i].name()));
            locations.push_back(Utf8::valid(result.items[i].location(home)));
            nameWidth = std::max(nameWidth, width(names.back()));
            locationWidth = std::max(locationWidth, width(locations.back()));
        }
        for (std::size_t i = 0; i < shown; ++i) {
            out << "  " << padded(names[i], nameWidth) << "  " << padded(locations[i], locationWidth) << "  "
                << DiskMath::human(result.items[i].bytes) << "\n";
        }
        if (shown < result.items.size()) {
            out << "  \u2026 and " << itemCount(result.items.size() - shown) << " more (--all lists them)\n";
        }
        out << "\n";
    }
    out << "Total  " << DiskMath::human(totalBytes(results)) << "  " << itemCount(count) << " in "
        << results.size() << (results.size() == 1 ? " category" : " categories") << "\n";
}

} // namespace ScanReport
